#pragma once
// The contact list's status polling against the real server: account A's session, group bar
// and StatusPoller in this process's Qt thread, account B a second engine that logs in and out.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <optional>

#include "contacts_test_support.h"
#include "engine_client.h"
#include "server_harness.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui::contacts::testing {

using namespace std::chrono_literals;
using server::testing::ServerHarness;
using server::testing::TempFolder;
using session::Account;
using session::NetworkSettings;
using talvorine::testing::PumpUntil;

// The window side of A's session as the main window provides it: posted calls are queued to
// the Qt thread, sent ones are blocking hand-overs.
class QtSessionWindow : public session::SessionWindow {
public:
    std::optional<Account> CheckAccount() override { return account; }
    void ShowLoginFailed(const std::string&) override {}
    void ChooseAccount() override {}
    void PostConnectionLost(const std::string&) override {
        QMetaObject::invokeMethod(
            qApp, [this] { session->HandleConnectionLost(); }, Qt::QueuedConnection);
    }
    void MessageReceived(const session::IncomingMessage& message) override {
        QMetaObject::invokeMethod(
            qApp, [this, &message] { bar->MessageReceived(message); },
            Qt::BlockingQueuedConnection);
    }
    void ChatRequestReceived(const protocol::ChatRequest&) override {}
    void FileRequestReceived(const protocol::FileRequest&) override {}
    void WakeStatusPoller() override {
        if (bar != nullptr) {
            bar->WakeStatusPoll();
        }
    }
    std::string AwayText() override { return {}; }
    bool ConfirmAwayMode() override { return true; }
    void ShowWarning(const std::string&) override {}
    void DispatchWhileWaiting() override {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    Account account;
    session::ServerSession* session = nullptr;
    CContactListBar* bar = nullptr;
};

class ContactsEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = std::make_unique<ServerHarness>();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
        s_clientHome = std::make_unique<TempFolder>("tlv-contacts-home");
        ::setenv("TALVORINE_CLIENT_HOME", s_clientHome->Path().c_str(), 1);
    }
    static void TearDownTestSuite() {
        s_server.reset();
        s_clientHome.reset();
    }
    static NetworkSettings Network() { return {"127.0.0.1", s_server->Port(), false, 5}; }
    static Account NewAccount(const std::string& nickname) {
        const auto credentials = session::RequestNewAccount({"127.0.0.1", s_server->Port()});
        return {credentials.userId, credentials.password, nickname};
    }

    // A's side: list, session, bar with its poller; B as a contact in "Friends".
    void StartA(std::chrono::milliseconds passWait) {
        a = NewAccount("Alice");
        b = NewAccount("Bob");
        window.account = a;
        history.emplace(a.userId);
        session.emplace(window, book, *history, Network());
        window.session = &*session;
        host.ownId = a.userId;
        host.connectedQuery = [this] { return session->Connected(); };
        bar = std::make_unique<CContactListBar>(list, session->Locks().list, host, &host.window);
        window.bar = bar.get();
        QObject::connect(bar.get(), &CContactListBar::StatusReported,
                         [this](const QString& id, int) {
                             if (id.toStdString() == b.userId) {
                                 ++reports;
                             }
                         });
        bar->LoadList(a.userId);
        ASSERT_TRUE(bar->AddContact(0, b.userId, "Bob", "").ok);
        bar->StartStatusPoller(*session, {5000ms, passWait});
        session->Connect();
        ASSERT_TRUE(PumpUntil([this] { return session->Connected() || !session->Connecting(); }));
        ASSERT_TRUE(session->Connected());
        reports = 0;
        bar->LoggedIn();
        ASSERT_TRUE(PumpUntil([this] { return reports > 0; }, 10s)) << "the login wakes the poll";
        EXPECT_FALSE(bar->DrawnOnline(b.userId));
    }
    void TearDown() override {
        if (bar) {
            bar->StopStatusPoller();
        }
        if (session) {
            session->Shutdown();
        }
        window.bar = nullptr;
        bar.reset();
        session.reset();
    }
    bool ShownOnline(bool online, std::chrono::milliseconds limit = 10s) {
        return PumpUntil([&] { return bar->DrawnOnline(b.userId) == online; }, limit);
    }
    int StoredStatus() {
        std::lock_guard lock(session->Locks().list);
        return list.Entry(*list.FindContact(b.userId))->status;
    }

    static inline std::unique_ptr<ServerHarness> s_server;
    static inline std::unique_ptr<TempFolder> s_clientHome;

    Account a, b;
    QtSessionWindow window;
    data::ContactList list;
    session::ContactListBook book{list};
    std::optional<session::AccountMessageHistory> history;
    std::optional<session::ServerSession> session;
    RecordingHost host;
    std::unique_ptr<CContactListBar> bar;
    int reports = 0;
    session::EventLoop loop;
};

}  // namespace talvorine::client::ui::contacts::testing
