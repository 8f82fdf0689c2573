#include "talvorine/client/ui/options/dlg_options.h"

#include <QDialogButtonBox>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/options/option_pages.h"

namespace talvorine::client::ui {

CDlgOptions::CDlgOptions(const data::ClientSettings& settings, bool networkOnly,
                         SoundPlayer& player, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setObjectName("CDlgOptions");
    setWindowTitle(ToQString(networkOnly ? data::NetworkSettingsCaption : data::OptionsCaption));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("pages");
    if (networkOnly) {
        m_pages.push_back(new CDlgOptionNetwork(settings, m_tabs));
    } else {
        m_pages = {new CDlgOptionGeneral(settings, m_tabs), new CDlgOptionNetwork(settings, m_tabs),
                   new CDlgOptionContactList(settings, m_tabs),
                   new CDlgOptionEvents(settings, player, m_tabs),
                   new CDlgOptionFile(settings, m_tabs)};
    }
    const auto fade = FadeSettings::From(settings);
    for (COptionPage* page : m_pages) {
        m_tabs->addTab(page, page->Title());
        FadeInPage(page, fade);
    }
    FadeInWindow(this, fade);
    // The standard validation of a page: it is not left while a value is refused.
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == m_current) {
            return;
        }
        if (!m_pages[static_cast<std::size_t>(m_current)]->Validate()) {
            const QSignalBlocker block(m_tabs);
            m_tabs->setCurrentIndex(m_current);
            return;
        }
        m_current = index;
    });

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgOptions::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [this] { OpenHelp(this, CurrentPage()->HelpTopicName()); });
    AddHelpKey(this, [this] { return CurrentPage()->HelpTopicName(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

COptionPage* CDlgOptions::CurrentPage() const {
    return m_pages[static_cast<std::size_t>(m_current)];
}

bool CDlgOptions::ShowPage(int index) {
    m_tabs->setCurrentIndex(index);
    return m_current == index;
}

void CDlgOptions::accept() {
    if (!CurrentPage()->Validate()) {
        return;
    }
    // Pages never shown still hold the values they started with, which may be refused too.
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        if (static_cast<int>(i) != m_current && !m_pages[i]->Validate()) {
            const QSignalBlocker block(m_tabs);
            m_tabs->setCurrentIndex(static_cast<int>(i));
            m_current = static_cast<int>(i);
            return;
        }
    }
    for (COptionPage* page : m_pages) {
        page->Store(m_settings);
    }
    QDialog::accept();
}

}  // namespace talvorine::client::ui
