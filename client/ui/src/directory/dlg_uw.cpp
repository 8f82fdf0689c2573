#include "talvorine/client/ui/directory/dlg_uw.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "talvorine/client/session/user_directory.h"
#include "talvorine/client/ui/common/background_request.h"
#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui::directory {

namespace {

QString Shown(std::string_view text) {
    return ToQString(text);
}

// The label's text without its mnemonic, for the field that has no label of its own.
QString Accessible(std::string_view text) {
    return Shown(text).remove(QLatin1Char('&'));
}

FailureAnswer AskAbortRetryIgnore(QWidget* parent, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, Shown(ProductName), DisplayText(text),
                    QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, parent);
    box.setDefaultButton(QMessageBox::Retry);
    switch (box.exec()) {
        case QMessageBox::Abort:
            return FailureAnswer::Abort;
        case QMessageBox::Ignore:
            return FailureAnswer::Ignore;
        default:
            return FailureAnswer::Retry;
    }
}

}  // namespace

// --- "Search Condition" ---

CDlgUWSelect::CDlgUWSelect(QWidget* parent) : QWizardPage(parent) {
    setTitle(Shown(Text::SelectTitle));
    auto* column = new QVBoxLayout(this);

    auto* categoryBox = new QGroupBox(this);
    auto* grid = new QGridLayout(categoryBox);
    m_categories = new QButtonGroup(this);
    auto addCategory = [&](SearchCategory category, std::string_view label, const char* name,
                           const char* fieldName) {
        auto* button = new QRadioButton(Shown(label), categoryBox);
        button->setObjectName(QString::fromLatin1(name));
        auto* field = new QLineEdit(categoryBox);
        field->setObjectName(QString::fromLatin1(fieldName));
        field->setMaxLength(ConditionFieldLimit(category));
        field->setAccessibleName(Accessible(label));
        const int row = static_cast<int>(category);
        grid->addWidget(button, row, 0);
        grid->addWidget(field, row, 1);
        m_categories->addButton(button, row);
        return std::pair{button, field};
    };
    std::tie(m_byId, m_id) = addCategory(SearchCategory::Id, Text::ById, "byId", "idField");
    std::tie(m_byNickname, m_nickname) =
        addCategory(SearchCategory::Nickname, Text::ByNickname, "byNickname", "nicknameField");
    std::tie(m_byEmail, m_email) =
        addCategory(SearchCategory::Email, Text::ByEmail, "byEmail", "emailField");
    grid->setColumnStretch(1, 1);
    column->addWidget(categoryBox);

    auto* matchBox = new QGroupBox(this);
    auto* matchRow = new QHBoxLayout(matchBox);
    m_inclusive = new QRadioButton(Shown(Text::Inclusive), matchBox);
    m_inclusive->setObjectName(QStringLiteral("inclusive"));
    m_exact = new QRadioButton(Shown(Text::Exact), matchBox);
    m_exact->setObjectName(QStringLiteral("exact"));
    m_inclusive->setChecked(true);
    matchRow->addWidget(m_inclusive);
    matchRow->addWidget(m_exact);
    matchRow->addStretch();
    column->addWidget(matchBox);
    column->addStretch();

    m_byId->setChecked(true);
    EnableFields();
    connect(m_categories, &QButtonGroup::idToggled, this, [this] { EnableFields(); });
}

void CDlgUWSelect::EnableFields() {
    m_id->setEnabled(m_byId->isChecked());
    m_nickname->setEnabled(m_byNickname->isChecked());
    m_email->setEnabled(m_byEmail->isChecked());
    if (isVisible()) {
        Field(Condition().category)->setFocus();
    }
}

void CDlgUWSelect::initializePage() {
    QTimer::singleShot(0, this, [this] { Field(Condition().category)->setFocus(); });
}

QLineEdit* CDlgUWSelect::Field(SearchCategory category) const {
    switch (category) {
        case SearchCategory::Nickname:
            return m_nickname;
        case SearchCategory::Email:
            return m_email;
        case SearchCategory::Id:
            break;
    }
    return m_id;
}

QRadioButton* CDlgUWSelect::CategoryButton(SearchCategory category) const {
    switch (category) {
        case SearchCategory::Nickname:
            return m_byNickname;
        case SearchCategory::Email:
            return m_byEmail;
        case SearchCategory::Id:
            break;
    }
    return m_byId;
}

void CDlgUWSelect::SetCategory(SearchCategory category) {
    CategoryButton(category)->setChecked(true);
}

SearchCondition CDlgUWSelect::Condition() const {
    SearchCondition condition;
    condition.category = static_cast<SearchCategory>(std::max(m_categories->checkedId(), 0));
    condition.exact = m_exact->isChecked();
    condition.text = ToStdString(Field(condition.category)->text());
    return condition;
}

bool CDlgUWSelect::validatePage() {
    if (NeedsEmptyConditionQuestion(Condition())) {
        return AskYesNo(this, Shown(Text::EmptyCondition));
    }
    return true;
}

// --- "Search Result" ---

CDlgUWResult::CDlgUWResult(DirectoryServices& services, std::string group, CDlgUWSelect& select,
                           QWidget* parent)
    : QWizardPage(parent), m_services(services), m_group(std::move(group)), m_select(select) {
    setTitle(Shown(Text::ResultTitle));
    auto* column = new QVBoxLayout(this);
    auto* prompt = new QLabel(Shown(Text::SelectUsersToAdd), this);
    column->addWidget(prompt);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("resultList"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels(
        {Shown(Text::ColumnId), Shown(Text::ColumnNickname), Shown(Text::ColumnEmail)});
    // 56, 80 and 150 pixels; the id column wider where this desktop's font needs it for a
    // whole id.
    const int idWidth = m_list->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 16;
    m_list->setColumnWidth(0, std::max(56, idWidth));
    m_list->setColumnWidth(1, 80);
    m_list->setColumnWidth(2, 150);
    m_list->header()->setStretchLastSection(true);
    m_list->setAccessibleName(Accessible(Text::SelectUsersToAdd));
    prompt->setBuddy(m_list);
    column->addWidget(m_list, 1);
    auto* tip = new QLabel(Shown(Text::MultipleTip), this);
    tip->setObjectName(QStringLiteral("tip"));
    column->addWidget(tip);
}

void CDlgUWResult::initializePage() {
    m_list->clear();
    m_rows.clear();
    m_searching = true;
    QTimer::singleShot(0, this, [this] { RunSearch(); });
}

void CDlgUWResult::AppendRow(const protocol::SearchRow& row) {
    auto* item =
        new QTreeWidgetItem(m_list, {Shown(row.userId), Shown(row.nickname), Shown(row.email)});
    item->setData(0, Qt::UserRole, static_cast<int>(m_rows.size()));
    m_rows.push_back(row);
}

void CDlgUWResult::RunSearch() {
    const protocol::SearchRequest request = BuildSearchRequest(m_select.Condition());
    const session::AccountServer server = m_services.server();
    QPointer<QTreeWidget> list = m_list;
    // Rows are handed over as they arrive, so the list fills while the rest is read.
    const auto failure = RunBackgroundRequest(wizard(), [&] {
        session::SearchUsers(server, request, [&](const protocol::SearchRow& row) {
            QMetaObject::invokeMethod(
                list, [this, row] { AppendRow(row); }, Qt::QueuedConnection);
        });
    });
    QCoreApplication::sendPostedEvents(m_list, QEvent::MetaCall);
    m_searching = false;
    if (failure) {
        ShowWarning(wizard(), Shown(*failure));
        wizard()->back();
        return;
    }
    // The keys choose at once: the first row is current (not chosen) and the list has the focus.
    if (QTreeWidgetItem* first = m_list->topLevelItem(0)) {
        m_list->setCurrentItem(first, 0, QItemSelectionModel::NoUpdate);
    }
    QTimer::singleShot(0, m_list, [list = m_list] { list->setFocus(); });
}

std::vector<protocol::SearchRow> CDlgUWResult::SelectedRows() const {
    std::vector<protocol::SearchRow> rows;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->isSelected()) {
            rows.push_back(
                m_rows.at(static_cast<std::size_t>(item->data(0, Qt::UserRole).toInt())));
        }
    }
    return rows;
}

void CDlgUWResult::FetchPictures(const std::string& userId) {
    const session::AccountServer server = m_services.server();
    const std::string account = m_services.accountId();
    std::optional<std::string> stopped;
    const auto failure = RunBackgroundRequest(
        wizard(), [&] { stopped = DownloadNewContactPictures(server, account, userId); });
    if (m_services.picturesChanged) {
        m_services.picturesChanged(userId);
    }
    // Pictures the server does not have are no failure here; a broken download is.
    if (failure || stopped) {
        ShowWarning(wizard(), DisplayText(failure ? *failure : *stopped));
    }
}

bool CDlgUWResult::validatePage() {
    if (m_searching) {
        return false;
    }
    const auto rows = SelectedRows();
    if (rows.empty()) {
        ShowWarning(wizard(), Shown(Text::SelectOneOrMore));
        return false;
    }
    AddUserPorts ports;
    ports.isListed = [this](const std::string& id) { return m_services.isListed(id); };
    ports.add = [this](const protocol::SearchRow& row) {
        return m_services.addContact(m_group, row);
    };
    ports.added = [this](const protocol::SearchRow& row) { FetchPictures(row.userId); };
    ports.showYourself = [this] { ShowWarning(wizard(), Shown(Text::CannotAddYourself)); };
    ports.askAfterFailure = [this](const std::string& text) {
        return AskAbortRetryIgnore(wizard(), text);
    };
    ports.showAlreadyListed = [this](const std::string& text) {
        ShowWarning(wizard(), DisplayText(text));
    };
    return AddChosenUsers(rows, m_services.accountId(), ports) == AddOutcome::Done;
}

// --- the last page ---

CDlgUWFinish::CDlgUWFinish(QWidget* parent) : QWizardPage(parent) {
    auto* column = new QVBoxLayout(this);
    m_addMore = new QCheckBox(Shown(Text::AddMore), this);
    m_addMore->setObjectName(QStringLiteral("addMore"));
    column->addStretch();
    column->addWidget(m_addMore);
    column->addStretch();
    setFinalPage(true);
}

// --- the wizard ---

CDlgUW::CDlgUW(DirectoryServices& services, std::string group, QWidget* parent)
    : QWizard(parent), m_services(services) {
    setObjectName(QStringLiteral("userWizard"));
    setWindowTitle(Shown(Text::WizardCaption));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage);
    m_select = new CDlgUWSelect(this);
    m_result = new CDlgUWResult(services, std::move(group), *m_select, this);
    m_finish = new CDlgUWFinish(this);
    setPage(SelectPage, m_select);
    setPage(ResultPage, m_result);
    setPage(FinishPage, m_finish);
    setStartId(SelectPage);
    resize(420, 340);
}

void CDlgUW::accept() {
    if (m_services.wakeStatusPoll) {
        m_services.wakeStatusPoll();
    }
    if (m_finish->AddMoreBox()->isChecked()) {
        m_finish->AddMoreBox()->setChecked(false);
        restart();
        return;
    }
    QWizard::accept();
}

}  // namespace talvorine::client::ui::directory
