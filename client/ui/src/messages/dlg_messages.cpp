#include "talvorine/client/ui/messages/dlg_messages.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/window_memory.h"

namespace talvorine::client::ui {

namespace {

constexpr int ReceivedTab = 0;
constexpr int SentTab = 1;

}  // namespace

CDlgMessages::CDlgMessages(MessagesWindowServices services, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)) {
    setObjectName(QStringLiteral("CDlgMessages"));
    setWindowTitle(ToQString(MessagesText::Caption));
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    // Placeholders until a page is first selected; the page then takes the tab's place.
    m_tabs->addTab(new QWidget(m_tabs), ToQString(MessagesText::ReceivedTab));
    m_tabs->addTab(new QWidget(m_tabs), ToQString(MessagesText::SentTab));

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);

    connect(close, &QPushButton::clicked, this, &QDialog::close);
    resize(520, 520);
    RestoreWindowPlacement(*this, data::WindowSection::MessageHistory);
    ShowPage(MessagesPageKind::Received);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CDlgMessages::TabSelected);
}

CDlgMessages::~CDlgMessages() {
    SaveWindowPlacement(*this, data::WindowSection::MessageHistory);
}

CMessagesListPage* CDlgMessages::Page(MessagesPageKind kind) const {
    return kind == MessagesPageKind::Received ? m_received : m_sent;
}

void CDlgMessages::ShowPage(MessagesPageKind kind) {
    const int tab = kind == MessagesPageKind::Received ? ReceivedTab : SentTab;
    if (m_tabs->currentIndex() != tab) {
        m_tabs->setCurrentIndex(tab);  // builds it through TabSelected
    }
    TabSelected(tab);
}

void CDlgMessages::TabSelected(int tab) {
    const MessagesPageKind kind =
        tab == SentTab ? MessagesPageKind::Sent : MessagesPageKind::Received;
    CMessagesListPage*& page = kind == MessagesPageKind::Received ? m_received : m_sent;
    if (page != nullptr) {
        return;
    }
    page = new CMessagesListPage(kind, m_services, m_tabs);
    connect(page, &CMessagesListPage::closeWanted, this, &QDialog::close);
    {
        const QSignalBlocker block(m_tabs);
        QWidget* placeholder = m_tabs->widget(tab);
        m_tabs->removeTab(tab);
        delete placeholder;
        m_tabs->insertTab(tab, page,
                          ToQString(kind == MessagesPageKind::Received ? MessagesText::ReceivedTab
                                                                       : MessagesText::SentTab));
        m_tabs->setCurrentIndex(tab);
    }
    page->Fill();
}

void CDlgMessages::MessageArrived() {
    if (m_received != nullptr) {
        m_received->MessageArrived();
    }
}

void CDlgMessages::MessageSent() {
    if (m_sent != nullptr) {
        m_sent->MessageArrived();
    }
}

}  // namespace talvorine::client::ui
