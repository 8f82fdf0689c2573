#pragma once
// One client engine of an end-to-end test: the session over the account's real message
// stores and contact list, with a window side that records what it was told and answers the
// engine's questions as the test says. The test's thread is the user-interface thread.

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/event_loop.h"
#include "talvorine/client/session/messaging.h"
#include "talvorine/client/session/server_session.h"

namespace talvorine::client::session::testing {

class EngineClient : public SessionWindow, public SendPrompts {
public:
    EngineClient(EventLoop& eventLoop, Account own, NetworkSettings settings)
        : loop(eventLoop), account(std::move(own)), history(account.userId) {
        list.Load(account.userId);
        session.emplace(*this, contacts, history, std::move(settings));
        sender.emplace(*session, *this);
    }
    ~EngineClient() override {
        session->Shutdown();
        sender.reset();
        session.reset();
    }

    bool ConnectAndWait() {
        session->Connect();
        return loop.RunUntil([this] { return session->Connected() || !session->Connecting(); },
                             std::chrono::seconds(20)) &&
               session->Connected();
    }
    void DisconnectAndWait() {
        session->Disconnect();
        loop.RunUntil([this] { return !session->Connected() && !session->Disconnecting(); },
                      std::chrono::seconds(20));
    }
    SendOutcome Send(const std::string& to, const std::string& text, SendOptions options = {}) {
        std::atomic<bool> closing{false};
        return sender->SendTo({to, session->Incoming().NicknameOf(to)}, {text, text, false},
                              options, closing);
    }
    void AddContact(const std::string& id, const std::string& nickname) {
        std::lock_guard lock(session->Locks().list);
        list.AddContact(0, id, nickname, 0);
    }
    int Unread(const std::string& id) {
        std::lock_guard lock(session->Locks().list);
        const auto position = list.FindContact(id);
        return position ? list.Entry(*position)->unread.load() : -1;
    }
    std::vector<IncomingMessage> Messages() {
        std::lock_guard lock(m_mutex);
        return messages;
    }
    bool WaitForMessages(std::size_t count) {
        return loop.RunUntil([&] { return Messages().size() >= count; }, std::chrono::seconds(10));
    }

    // SessionWindow
    std::optional<Account> CheckAccount() override { return account; }
    void ShowLoginFailed(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        loginFailures.push_back(text);
    }
    void ChooseAccount() override { ++chooseAccount; }
    void PostConnectionLost(const std::string& reason) override {
        {
            std::lock_guard lock(m_mutex);
            lostReasons.push_back(reason);
        }
        loop.Post([this] { session->HandleConnectionLost(); });
    }
    void MessageReceived(const IncomingMessage& message) override {
        std::lock_guard lock(m_mutex);
        messages.push_back(message);
    }
    void ChatRequestReceived(const protocol::ChatRequest& request) override {
        std::lock_guard lock(m_mutex);
        chatRequests.push_back(request);
    }
    void FileRequestReceived(const protocol::FileRequest& request) override {
        std::lock_guard lock(m_mutex);
        fileRequests.push_back(request);
    }
    std::string AwayText() override { return awayText; }
    bool ConfirmAwayMode() override { return true; }
    void ShowWarning(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        warnings.push_back(text);
    }
    void DispatchWhileWaiting() override { loop.ProcessPending(); }
    // SendPrompts
    bool ConfirmOfflineSend(const std::string& question) override {
        std::lock_guard lock(m_mutex);
        questions.push_back(question);
        return offlineAnswer;
    }

    EventLoop& loop;
    Account account;
    data::ContactList list;
    ContactListBook contacts{list};
    AccountMessageHistory history;
    std::optional<ServerSession> session;
    std::optional<MessageSender> sender;

    std::mutex m_mutex;
    std::vector<std::string> loginFailures, lostReasons, warnings, questions;
    std::vector<IncomingMessage> messages;
    std::vector<protocol::ChatRequest> chatRequests;
    std::vector<protocol::FileRequest> fileRequests;
    std::atomic<int> chooseAccount{0};
    std::string awayText = "gone fishing";
    bool offlineAnswer = true;
};

}  // namespace talvorine::client::session::testing
