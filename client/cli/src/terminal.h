#pragma once
// What the commands of tlvmsg share: the engine's window side printed on a terminal, the
// command line's context, the saved server, and a watched file offer.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/event_loop.h"
#include "talvorine/client/session/file_transfer.h"
#include "talvorine/client/session/messaging.h"
#include "talvorine/client/session/server_session.h"

namespace talvorine::client::cli {

using namespace std::chrono_literals;

// Set by SIGINT and SIGTERM: every wait of the commands ends and logs out in order.
bool StopRequested();
void ClearStop();

// How long an offered file waits for the recipient's answer: the usual socket time-out.
inline constexpr auto AnswerTimeout = 30s;

struct Context {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string accountId;
    std::optional<std::string> server;
    std::optional<int> port;
    std::vector<std::string> args;  // after the command name
};

// The server to use: --server/--port over the saved network settings. nullopt, with the text
// that says how to save one, when neither names a server.
std::optional<session::NetworkSettings> Network(const Context& context, std::string& error);

int Fail(const Context& context, const std::string& text);

// The "SendMessage" values of the send window.
session::SendOptions StoredSendOptions();

// A line from the terminal without echo, or from standard input.
std::string ReadSecret(std::istream& in, std::ostream& err, const char* prompt);

// The messages of one store, oldest first; throws on a store that cannot be read.
void PrintHistory(const std::string& accountId, const std::string& peerId, bool sent,
                  std::ostream& out);

// The engine's window side: prints what arrives, answers the engine's questions.
class Terminal : public session::SessionWindow,
                 public session::SendPrompts,
                 public session::SavePrompt {
public:
    Terminal(std::istream& in, std::ostream& out, std::ostream& err, session::Account account,
             session::NetworkSettings network);
    ~Terminal() override;

    session::ServerSession& Session() { return *m_session; }
    session::EventLoop& Loop() { return m_loop; }
    const session::Account& OwnAccount() const { return m_account; }

    // Logs in; prints why not on failure. Interruptible.
    bool Login();
    void Logout();
    // Serves the session until interrupted (keeping the reconnect timer running).
    void RunUntilStopped(const std::function<void()>& onTick = {});
    // Serves queued work for a while on the loop's thread, else just waits.
    void Pause(std::chrono::milliseconds duration);

    void Print(std::ostream& stream, const std::string& text);

    bool printMessages = false;
    // Standard input belongs to the line reader: no questions on it.
    bool interactive = false;
    // The automatic reply while Away (empty: the stored away text); read by the reader thread.
    void SetAwayText(std::string text);
    std::function<void(const protocol::FileRequest&)> onFileRequest;

    // SessionWindow
    std::optional<session::Account> CheckAccount() override { return m_account; }
    void ShowLoginFailed(const std::string& text) override;
    void ChooseAccount() override;
    void PostConnectionLost(const std::string& reason) override;
    void MessageReceived(const session::IncomingMessage& message) override;
    void ChatRequestReceived(const protocol::ChatRequest&) override {}
    void FileRequestReceived(const protocol::FileRequest& request) override;
    std::string AwayText() override;
    bool ConfirmAwayMode() override { return true; }
    void ShowWarning(const std::string& text) override { Print(m_err, text + "\n"); }
    void DispatchWhileWaiting() override { m_loop.ProcessPending(); }

    // SendPrompts: a question only where someone can answer it.
    bool ConfirmOfflineSend(const std::string& question) override;
    // SavePrompt: no dialog here; a free name beside the proposal instead of overwriting.
    std::optional<std::filesystem::path> AskSavePath(
        const std::filesystem::path& proposal) override;

private:
    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    session::Account m_account;
    session::EventLoop m_loop;
    data::ContactList m_list;
    session::ContactListBook m_contacts{m_list};
    session::AccountMessageHistory m_history;
    std::optional<session::ServerSession> m_session;
    std::mutex m_printMutex;
    std::mutex m_awayMutex;
    std::string m_awayText;
    bool m_loginFailed = false;
};

// Progress of a transfer: redrawn in place on a terminal, one line per tenth when piped.
class ProgressPrinter {
public:
    ProgressPrinter(Terminal& terminal, std::ostream& stream, bool inPlace, std::string label)
        : m_terminal(terminal), m_stream(stream), m_inPlace(inPlace), m_label(std::move(label)) {}
    void Update(std::uint64_t done, std::uint32_t size);
    // Ends the line drawn in place.
    void Finish();

private:
    Terminal& m_terminal;
    std::ostream& m_stream;
    bool m_inPlace;
    std::string m_label;
    int m_shown = -1;
};

// Whether `stream` is the process's standard error on a terminal.
bool IsTerminal(const std::ostream& stream);

struct WatchedSend {
    session::TransferResult result;
    bool unanswered = false;   // no answer within AnswerTimeout
    bool interrupted = false;  // withdrawn by `stop`
};

// Offers the file and sends it on a thread of its own; withdraws the offer when `stop` says so
// or when the recipient has not answered within AnswerTimeout.
WatchedSend SendFileWatched(Terminal& terminal, session::FileSender& sender,
                            std::string_view description, ProgressPrinter& progress,
                            const std::function<bool()>& stop);

// "No answer from ID within 30 seconds; the file was not sent."
std::string UnansweredText(const std::string& peerId);

// The interactive mode: one session that receives and sends from one terminal.
int InteractiveCommand(Context& context, const session::Account& account,
                       const session::NetworkSettings& network);

}  // namespace talvorine::client::cli
