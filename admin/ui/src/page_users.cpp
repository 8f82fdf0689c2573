#include "talvorine/admin/ui/page_users.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/ui/sheet_user_information.h"

namespace talvorine::admin::ui {

namespace {

QString Shown(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CPropertyPageUsers::CPropertyPageUsers(UserDirectory& directory, Opener opener, QWidget* parent)
    : QWidget(parent), m_directory(directory), m_opener(std::move(opener)) {
    auto* column = new QVBoxLayout(this);
    auto* conditions = new QGridLayout;
    column->addLayout(conditions);
    const char* labels[] = {"By &ID:", "By &name:", "By &E-mail:"};
    const char* names[] = {"searchId", "searchName", "searchEmail"};
    for (int i = 0; i < 3; ++i) {
        m_categories[i] = new QRadioButton(QString::fromLatin1(labels[i]), this);
        m_texts[i] = new QLineEdit(this);
        m_texts[i]->setObjectName(QString::fromLatin1(names[i]));
        m_texts[i]->setAccessibleName(QString::fromLatin1(labels[i]).remove(QLatin1Char('&')));
        m_texts[i]->setEnabled(i == 0);
        conditions->addWidget(m_categories[i], i, 0);
        conditions->addWidget(m_texts[i], i, 1);
        m_texts[i]->installEventFilter(this);
        connect(m_categories[i], &QRadioButton::toggled, this,
                [this, i](bool on) { m_texts[i]->setEnabled(on); });
    }
    m_texts[0]->setMaxLength(8);
    m_categories[0]->setChecked(true);
    m_onlineOnly = new QCheckBox(QStringLiteral("Online Users Only"), this);
    m_onlineOnly->setObjectName(QStringLiteral("onlineOnly"));
    auto* search = new QPushButton(QStringLiteral("Search"), this);
    search->setObjectName(QStringLiteral("search"));
    search->setAutoDefault(false);
    conditions->addWidget(m_onlineOnly, 0, 2);
    conditions->addWidget(search, 2, 2);
    conditions->setColumnStretch(1, 1);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("userList"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels(ToQ(ColumnTitles).split(QLatin1Char(',')));
    // A title wider than the default width ("Department") is not cut.
    std::array<int, 6> defaults{};
    for (int i = 0; i < 6; ++i) {
        int title = m_list->fontMetrics().horizontalAdvance(m_list->headerItem()->text(i)) + 16;
        defaults[i] = std::max(DefaultColumnWidth(), title);
    }
    std::array<int, 6> widths = LoadColumnWidths(defaults);
    for (int i = 0; i < 6; ++i) {
        m_list->setColumnWidth(i, widths[i]);
    }
    column->addWidget(m_list, 1);

    auto* commands = new QHBoxLayout;
    m_detail = new QPushButton(QStringLiteral("Detail..."), this);
    m_detail->setObjectName(QStringLiteral("detail"));
    m_toggle = new QPushButton(QStringLiteral("Disable"), this);
    m_toggle->setObjectName(QStringLiteral("enableDisable"));
    m_delete = new QPushButton(QStringLiteral("Delete"), this);
    m_delete->setObjectName(QStringLiteral("deleteUser"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    commands->addWidget(m_status, 1);
    for (QPushButton* button : {m_detail, m_toggle, m_delete}) {
        button->setEnabled(false);
        button->setAutoDefault(false);
        commands->addWidget(button);
    }
    ShowToggleAs(false);
    column->addLayout(commands);

    connect(search, &QPushButton::clicked, this, [this] { Search(); });
    connect(m_detail, &QPushButton::clicked, this, [this] { ShowDetail(); });
    connect(m_toggle, &QPushButton::clicked, this, [this] { ToggleDisabled(); });
    connect(m_delete, &QPushButton::clicked, this, [this] { DeleteSelected(); });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { ShowDetail(); });
}

bool CPropertyPageUsers::eventFilter(QObject* watched, QEvent* event) {
    // Enter in a search text searches; it must not close the whole sheet with OK.
    if (event->type() == QEvent::KeyPress &&
        std::find(m_texts.begin(), m_texts.end(), watched) != m_texts.end()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == ::Qt::Key_Return || key->key() == ::Qt::Key_Enter) {
            Search();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

int CPropertyPageUsers::DefaultColumnWidth() const {
    return m_list->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 10;
}

std::array<int, 6> CPropertyPageUsers::ColumnWidths() const {
    std::array<int, 6> widths{};
    for (int i = 0; i < 6; ++i) {
        widths[i] = m_list->columnWidth(i);
    }
    return widths;
}

QTreeWidgetItem* CPropertyPageUsers::Selected() const {
    auto items = m_list->selectedItems();
    return items.isEmpty() ? nullptr : items.front();
}

void CPropertyPageUsers::ShowToggleAs(bool disabledRow) {
    m_toggle->setText(disabledRow ? QStringLiteral("Enable") : QStringLiteral("Disable"));
    m_toggle->setIcon(style()->standardIcon(disabledRow ? QStyle::SP_DialogApplyButton
                                                        : QStyle::SP_DialogCancelButton));
}

QTreeWidgetItem* CPropertyPageUsers::ChosenAccount() {
    QTreeWidgetItem* row = Selected();
    if (row == nullptr) {
        ShowWarning(this, ToQ(NoSelectionText));
        return nullptr;
    }
    // Without a database the commands do nothing; a row without an id is no account.
    return m_directory.IsOpen() && !row->text(0).isEmpty() ? row : nullptr;
}

std::string CPropertyPageUsers::IdOf(const QTreeWidgetItem* row) {
    QByteArray id = row->text(0).toUtf8();
    return std::string(id.constData(), static_cast<std::size_t>(id.size()));
}

void CPropertyPageUsers::SelectionChanged() {
    QTreeWidgetItem* row = Selected();
    for (QPushButton* button : {m_detail, m_toggle, m_delete}) {
        button->setEnabled(row != nullptr);
    }
    if (row != nullptr) {
        ShowToggleAs(row->text(StatusColumn) == ToQ(StatusText(true)));
    }
}

void CPropertyPageUsers::Search() {
    if (!m_directory.IsOpen()) {
        return;
    }
    int chosen = m_categories[1]->isChecked() ? 1 : m_categories[2]->isChecked() ? 2 : 0;
    QByteArray text = m_texts[chosen]->text().toUtf8();
    QApplication::setOverrideCursor(::Qt::WaitCursor);
    auto outcome = m_directory.Search(static_cast<SearchCategory>(chosen),
                                      std::string_view(text.constData(), text.size()),
                                      m_onlineOnly->isChecked());
    QApplication::restoreOverrideCursor();
    m_list->clear();
    if (!outcome.value) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, Shown(outcome.error));
        row->setToolTip(0, Shown(outcome.error));
        row->setFlags(::Qt::ItemIsEnabled);  // a message, not an account to act on
        m_status->clear();
        return;
    }
    for (const UserRow& user : *outcome.value) {
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, Shown(user.id));
        row->setText(1, Shown(user.nickname));
        row->setText(2, Shown(user.realName));
        row->setText(3, Shown(user.email));
        row->setText(4, Shown(user.department));
        row->setText(5, ToQ(StatusText(user.disabled)));
    }
    m_status->setText(QStringLiteral("Total %1 users").arg(outcome.value->size()));
}

void CPropertyPageUsers::ToggleDisabled() {
    QTreeWidgetItem* row = ChosenAccount();
    if (row == nullptr) {
        return;
    }
    bool disable = row->text(StatusColumn) != ToQ(StatusText(true));
    std::string error = m_directory.SetDisabled(IdOf(row), disable);
    if (!error.empty()) {
        ShowError(this, Shown(error));  // the row keeps what the database holds
        return;
    }
    row->setText(StatusColumn, ToQ(StatusText(disable)));
    ShowToggleAs(disable);
}

void CPropertyPageUsers::DeleteSelected() {
    QTreeWidgetItem* row = ChosenAccount();
    if (row == nullptr) {
        return;
    }
    // The id beside the real name: names may be empty or shared, the id is what is deleted.
    QString who = QStringLiteral("%1 (%2)").arg(row->text(2), row->text(0));
    if (!AskOkCancel(this, QStringLiteral("Are you sure to delete user '%1'?").arg(who))) {
        return;
    }
    std::string error = m_directory.Delete(IdOf(row));
    if (!error.empty()) {
        ShowError(this, Shown(error));
        return;
    }
    int position = m_list->indexOfTopLevelItem(row);
    std::unique_ptr<QTreeWidgetItem> removed(m_list->takeTopLevelItem(position));
    int count = m_list->topLevelItemCount();
    if (count > 0) {
        QTreeWidgetItem* next = m_list->topLevelItem(std::min(position, count - 1));
        m_list->setCurrentItem(next);
        next->setSelected(true);
    }
    SelectionChanged();
}

void CPropertyPageUsers::ShowDetail() {
    QTreeWidgetItem* row = ChosenAccount();
    if (row == nullptr) {
        return;
    }
    auto outcome = m_directory.Detail(IdOf(row));
    if (!outcome.value) {
        ShowError(this, Shown(outcome.error));
        return;
    }
    if (!*outcome.value) {
        ShowWarning(this, QStringLiteral("User has been deleted."));
        return;
    }
    CSheetUserInformation sheet(**outcome.value, m_opener, this);
    sheet.exec();
}

}  // namespace talvorine::admin::ui
