#include "talvorine/mailpoll/ui/dlg_post_sentry.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPropertyAnimation>
#include <QSpinBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "talvorine/mailpoll/mail_programs.h"
#include "talvorine/mailpoll/ui/column_sharing.h"
#include "talvorine/mailpoll/ui/dlg_mail_account.h"
#include "talvorine/mailpoll/ui/dlg_mail_list.h"
#include "talvorine/mailpoll/ui/message_box.h"
#include "talvorine/platform/registry_store.h"

namespace talvorine::mailpoll::ui {

namespace {

enum Column { TitleColumn, CountColumn, StatusColumn };

constexpr std::string_view ClientGeneralKey = "Software\\Talvorine\\Messenger\\Settings\\General";

void PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QAction* NamedAction(QMenu* menu, const QString& text, const char* name) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CDlgPostSentry::CDlgPostSentry(MailStore store, PostSentrySettings settings,
                               std::vector<MailAccount> accounts, std::string clientChannel,
                               QWidget* parent)
    : QMainWindow(parent),
      m_store(std::move(store)),
      m_settings(settings),
      m_clientChannel(std::move(clientChannel)),
      m_checker(std::make_unique<MailChecker>(static_cast<CheckObserver&>(*this), PumpEvents)),
      m_timer(new QTimer(this)),
      m_list(new QTreeWidget),
      m_autoCheck(new QCheckBox(tr("&Auto check every"))),
      m_interval(new QSpinBox),
      m_popup(new QCheckBox(tr("&Pop up when new mail arrives"))) {
    setWindowTitle(DisplayText(Caption));
    m_checker->SetAccounts(std::move(accounts));

    m_list->setObjectName(QStringLiteral("accountList"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tr("Title"), tr("Count"), tr("Status")});
    m_list->setColumnWidth(TitleColumn, 140);
    m_list->setColumnWidth(CountColumn, 60);
    m_list->setColumnWidth(StatusColumn, 200);
    new ColumnSharing(m_list, {TitleColumn, StatusColumn});
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { ViewMail(); });

    m_autoCheck->setObjectName(QStringLiteral("autoCheck"));
    m_interval->setObjectName(QStringLiteral("interval"));
    m_popup->setObjectName(QStringLiteral("popup"));
    m_interval->setRange(1, 24 * 60);
    m_autoCheck->setChecked(m_settings.autoCheck);
    m_interval->setValue(static_cast<int>(std::max<std::uint32_t>(1, m_settings.intervalMinutes)));
    m_popup->setChecked(m_settings.popup);

    auto* options = new QHBoxLayout;
    options->addWidget(m_autoCheck);
    options->addWidget(m_interval);
    options->addWidget(new QLabel(tr("minutes")));
    options->addStretch();
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_list);
    layout->addLayout(options);
    layout->addWidget(m_popup);
    setCentralWidget(central);
    resize(500, 300);  // room for a server's refusal in the Status column

    BuildMenus();
    BuildTray();
    RefreshList();
    m_timer->setObjectName(QStringLiteral("checkTimer"));
    connect(m_timer, &QTimer::timeout, this, &CDlgPostSentry::OnTimer);
    ApplyTimer();
}

CDlgPostSentry::~CDlgPostSentry() {
    // Stop the jobs while the window can still serve their hand-overs.
    m_checker->StopAll();
    m_checker.reset();
}

void CDlgPostSentry::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    connect(NamedAction(file, tr("E&xit"), "actionExit"), &QAction::triggered, this,
            &CDlgPostSentry::Exit);

    m_accountMenu = menuBar()->addMenu(tr("&Account"));
    connect(NamedAction(m_accountMenu, tr("&New Account..."), "actionNewAccount"),
            &QAction::triggered, this, &CDlgPostSentry::NewAccount);
    connect(NamedAction(m_accountMenu, tr("&Edit Account..."), "actionEditAccount"),
            &QAction::triggered, this, &CDlgPostSentry::EditAccount);
    connect(NamedAction(m_accountMenu, tr("&Delete Account"), "actionDeleteAccount"),
            &QAction::triggered, this, &CDlgPostSentry::DeleteAccount);
    m_accountMenu->addSeparator();
    connect(NamedAction(m_accountMenu, tr("Move &Up"), "actionMoveUp"), &QAction::triggered, this,
            [this] { MoveAccount(true); });
    connect(NamedAction(m_accountMenu, tr("Move Do&wn"), "actionMoveDown"), &QAction::triggered,
            this, [this] { MoveAccount(false); });
    m_accountMenu->addSeparator();
    connect(NamedAction(m_accountMenu, tr("&Check Mail"), "actionCheck"), &QAction::triggered, this,
            &CDlgPostSentry::CheckSelected);
    connect(NamedAction(m_accountMenu, tr("Check &All Accounts"), "actionCheckAll"),
            &QAction::triggered, this, &CDlgPostSentry::CheckAll);
    connect(NamedAction(m_accountMenu, tr("&View Mail..."), "actionViewMail"), &QAction::triggered,
            this, &CDlgPostSentry::ViewMail);
    connect(m_list, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_accountMenu->popup(m_list->viewport()->mapToGlobal(at));
    });

    m_mailProgramMenu = menuBar()->addMenu(tr("&Mail Program"));
    connect(m_mailProgramMenu, &QMenu::aboutToShow, this, &CDlgPostSentry::FillMailProgramMenu);
}

void CDlgPostSentry::BuildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;  // without a tray the window stays shown
    }
    m_tray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_DriveNetIcon), this);
    m_tray->setToolTip(DisplayText(Caption));
    auto* menu = new QMenu(this);
    connect(menu->addAction(tr("&Open Post Sentry")), &QAction::triggered, this,
            &CDlgPostSentry::ShowAndActivate);
    connect(menu->addAction(tr("Check &All Accounts")), &QAction::triggered, this,
            &CDlgPostSentry::CheckAll);
    menu->addSeparator();
    connect(menu->addAction(tr("E&xit")), &QAction::triggered, this, &CDlgPostSentry::Exit);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    ShowAndActivate();
                }
            });
    m_tray->show();
}

void CDlgPostSentry::FillMailProgramMenu() {
    m_mailProgramMenu->clear();
    const std::vector<MailProgram> programs = FindMailPrograms();
    const auto defaultProgram = std::find_if(programs.begin(), programs.end(),
                                             [](const MailProgram& p) { return p.isDefault; });
    QAction* openDefault = m_mailProgramMenu->addAction(tr("&Default Mail Program"));
    const std::string defaultExec = defaultProgram != programs.end() ? defaultProgram->exec : "";
    connect(openDefault, &QAction::triggered, this, [this, defaultExec] {
        if (defaultExec.empty()) {
            ShowWarning(this, tr("No default mail client found"));
        } else {
            LaunchMailProgram(defaultExec);
        }
    });
    if (!programs.empty()) {
        m_mailProgramMenu->addSeparator();
    }
    for (const MailProgram& program : programs) {
        QAction* action = m_mailProgramMenu->addAction(Text(program.name));
        action->setCheckable(true);
        action->setChecked(program.isDefault);  // marks the default one
        const std::string exec = program.exec;
        connect(action, &QAction::triggered, this, [this, exec] { LaunchMailProgram(exec); });
    }
}

void CDlgPostSentry::LaunchMailProgram(const std::string& exec) {
    const std::vector<std::string> words = SplitExecLine(exec);
    if (words.empty()) {
        return;
    }
    QProcess process;
    process.setProgram(Text(words.front()));
    QStringList arguments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        arguments << Text(words[i]);
    }
    process.setArguments(arguments);
    if (!process.startDetached()) {
        ShowError(this, process.errorString());
    }
}

void CDlgPostSentry::ApplyTimer() {
    if (const auto period = TimerPeriod(m_settings)) {
        m_timer->start(static_cast<int>(std::min<std::int64_t>(period->count(), INT32_MAX)));
    } else {
        m_timer->stop();
    }
}

void CDlgPostSentry::OnTimer() {
    if (!IsMailListOpen() && !m_checker->AnyRunning()) {
        for (std::size_t i = 0; i < m_checker->Size(); ++i) {
            m_list->topLevelItem(static_cast<int>(i))->setText(CountColumn, QStringLiteral("?"));
        }
    }
    m_checker->TimerTick(IsMailListOpen());
}

void CDlgPostSentry::RefreshRow(std::size_t index) {
    QTreeWidgetItem* row = m_list->topLevelItem(static_cast<int>(index));
    if (row == nullptr) {
        return;
    }
    row->setText(TitleColumn, Text(m_checker->Account(index).title));
    const auto count = m_checker->Count(index);
    row->setText(CountColumn, count ? QString::number(*count) : QString());
    row->setText(StatusColumn, Text(m_checker->Status(index)));
}

void CDlgPostSentry::RefreshList() {
    const auto selected = SelectedIndex();
    m_list->clear();
    for (std::size_t i = 0; i < m_checker->Size(); ++i) {
        m_list->addTopLevelItem(new QTreeWidgetItem);
        RefreshRow(i);
    }
    if (selected && *selected < m_checker->Size()) {
        Select(*selected);
    }
}

std::optional<std::size_t> CDlgPostSentry::SelectedIndex() const {
    QTreeWidgetItem* current = m_list->currentItem();
    if (current == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(m_list->indexOfTopLevelItem(current));
}

void CDlgPostSentry::Select(std::size_t index) {
    m_list->setCurrentItem(m_list->topLevelItem(static_cast<int>(index)));
}

void CDlgPostSentry::NewAccount() {
    if (m_checker->AnyRunning()) {
        ShowWarning(this, tr("You can not add new account while doing checking"));
        return;
    }
    CDlgMailAccount editor(*m_checker, std::nullopt, this);
    if (editor.exec() == QDialog::Accepted && m_checker->Add(editor.Account())) {
        RefreshList();
        Select(m_checker->Size() - 1);
    }
}

void CDlgPostSentry::EditAccount() {
    const auto index = SelectedIndex();
    if (!index) {
        return;
    }
    if (m_checker->IsRunning(*index)) {
        ShowWarning(this, tr("You can not edit an account while doing checking"));
        return;
    }
    CDlgMailAccount editor(*m_checker, index, this);
    if (editor.exec() == QDialog::Accepted && m_checker->Replace(*index, editor.Account())) {
        RefreshRow(*index);
    }
}

void CDlgPostSentry::DeleteAccount() {
    const auto index = SelectedIndex();
    if (!index) {
        return;
    }
    if (m_checker->AnyRunning()) {
        ShowWarning(this, tr("You can not delete an account while doing checking"));
        return;
    }
    if (AskYesNo(this, tr("Are you sure to delete this account permanently?")) &&
        m_checker->Remove(*index)) {
        RefreshList();
    }
}

void CDlgPostSentry::MoveAccount(bool up) {
    const auto index = SelectedIndex();
    if (!index) {
        return;
    }
    if (m_checker->AnyRunning()) {
        ShowWarning(this, tr("You can not move an account while doing checking"));
        return;
    }
    if (m_checker->Move(*index, up)) {
        RefreshList();
        Select(up ? *index - 1 : *index + 1);
    }
}

void CDlgPostSentry::CheckAccount(std::size_t index) {
    if (m_checker->IsRunning(index)) {
        const QString question =
            tr("A checking for account '%1' is already running.\r\nDo you want to restart the "
               "checking?")
                .arg(Text(m_checker->Account(index).title));
        if (!AskYesNo(this, question)) {
            return;
        }
        m_checker->StopCheck(index);
    }
    m_list->topLevelItem(static_cast<int>(index))->setText(CountColumn, QStringLiteral("?"));
    m_checker->StartCheck(index, false);
}

void CDlgPostSentry::CheckSelected() {
    if (const auto index = SelectedIndex()) {
        CheckAccount(*index);
    }
}

void CDlgPostSentry::CheckAll() {
    for (std::size_t i = 0; i < m_checker->Size(); ++i) {
        CheckAccount(i);
    }
}

void CDlgPostSentry::ViewMail() {
    const auto index = SelectedIndex();
    if (!index || IsMailListOpen()) {
        return;
    }
    // A count-only check of the account would leave the list empty: replace it.
    m_checker->StopCheck(*index);
    CDlgMailList mailList(
        m_checker->Account(*index), [this, index] { m_checker->StopCheck(*index); }, this);
    m_mailList = &mailList;
    m_mailListAccount = *index;
    m_list->topLevelItem(static_cast<int>(*index))->setText(CountColumn, QStringLiteral("?"));
    m_checker->StartCheck(*index, true);
    mailList.exec();
    m_mailList = nullptr;
    m_checker->StopCheck(*index);
}

template <typename Call>
void CDlgPostSentry::OnWindowThread(Call call) {
    const auto guarded = [this, &call] {
        if (m_checker) {
            call();
        }
    };
    if (QThread::currentThread() == thread()) {
        guarded();
    } else {
        QMetaObject::invokeMethod(this, guarded, Qt::BlockingQueuedConnection);
    }
}

void CDlgPostSentry::RefreshStatus(std::size_t index) {
    if (QTreeWidgetItem* row = m_list->topLevelItem(static_cast<int>(index))) {
        row->setText(StatusColumn, Text(m_checker->Status(index)));
    }
}

void CDlgPostSentry::StatusChanged(std::size_t index) {
    OnWindowThread([this, index] { RefreshStatus(index); });
}

void CDlgPostSentry::CountChanged(std::size_t index) {
    OnWindowThread([this, index] {
        const std::uint32_t count = m_checker->Count(index).value_or(0);
        if (QTreeWidgetItem* row = m_list->topLevelItem(static_cast<int>(index))) {
            row->setText(CountColumn, QString::number(count));
        }
        if (m_mailList && m_mailListAccount == index) {
            m_mailList->SetMessageCount(count);
        }
        // Every check that finds mail announces it while the window is out of sight.
        if (count >= 1 && (isHidden() || isMinimized())) {
            AnnounceNewMail(m_clientChannel);
            if (m_popup->isChecked()) {
                ShowAndActivate();
            }
        }
    });
}

void CDlgPostSentry::CheckFinished(std::size_t index) {
    OnWindowThread([this, index] {
        RefreshStatus(index);
        if (m_mailList && m_mailListAccount == index) {
            m_mailList->RetrievalFinished();
        }
    });
}

void CDlgPostSentry::HeaderFetched(std::size_t index, const MailHeaderItem& item) {
    OnWindowThread([this, index, &item] {
        if (m_mailList && m_mailListAccount == index) {
            m_mailList->AddHeader(item);
        }
    });
}

void CDlgPostSentry::OnClientMessage(ClientMessage message) {
    switch (message) {
        case ClientMessage::Close:
            Exit();
            break;
        case ClientMessage::Show:
            ShowAndActivate();
            break;
        case ClientMessage::NewMail:
            break;  // the poller's own announcement
    }
}

void CDlgPostSentry::ShowAndActivate() {
    const auto general = platform::RegistryKey::Open(platform::Hive::CurrentUser, ClientGeneralKey);
    const bool animate = general && general->GetDword("Window Animation", 0) != 0;
    const int duration = general ? static_cast<int>(general->GetDword("Animation Time", 200)) : 200;
    const bool wasHidden = isHidden() || isMinimized();
    showNormal();
    raise();
    activateWindow();
    if (animate && wasHidden && duration > 0) {
        auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
        fade->setDuration(duration);
        fade->setStartValue(0.0);
        fade->setEndValue(1.0);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void CDlgPostSentry::SaveAll() {
    const PostSentrySettings shown{m_autoCheck->isChecked(),
                                   static_cast<std::uint32_t>(m_interval->value()),
                                   m_popup->isChecked()};
    const bool timerChanged = shown.autoCheck != m_settings.autoCheck ||
                              shown.intervalMinutes != m_settings.intervalMinutes;
    m_settings = shown;
    if (timerChanged) {
        ApplyTimer();
    }
    try {
        m_store.Save(m_settings, m_checker->Accounts());
    } catch (const platform::RegistryError& error) {
        ShowError(this, QString::fromUtf8(error.what()));
    }
}

void CDlgPostSentry::Exit() {
    if (m_exiting) {
        return;
    }
    m_exiting = true;
    if (m_mailList) {
        m_mailList->reject();
    }
    m_checker->StopAll();
    SaveAll();
    if (m_tray != nullptr) {
        m_tray->hide();
    }
    QCoreApplication::quit();
}

void CDlgPostSentry::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    // Closing keeps the poller running in the background; the client or "Exit" ends it.
    event->ignore();
    hide();
}

void CDlgPostSentry::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    if (!event->spontaneous() && !m_exiting) {
        SaveAll();
    }
}

}  // namespace talvorine::mailpoll::ui
