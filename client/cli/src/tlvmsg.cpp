#include "talvorine/client/cli/tlvmsg.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/event_loop.h"
#include "talvorine/client/session/file_transfer.h"
#include "talvorine/client/session/messaging.h"
#include "talvorine/client/session/server_session.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::cli {

namespace fs = std::filesystem;
namespace data = talvorine::client::data;
using namespace talvorine::client::session;
using namespace std::chrono_literals;

namespace {

volatile std::sig_atomic_t g_stop = 0;

struct Usage {
    const char* command;
    const char* synopsis;
    const char* help;
};

const Usage kUsages[] = {
    {"account", "tlvmsg account new [--nickname NAME] | tlvmsg account import ID",
     "Puts an account on this machine, as the account wizard does: 'new' asks the server for a\n"
     "new ID and sets the password read from the terminal or standard input; 'import' proves\n"
     "an existing ID with its password. The account becomes the account in use."},
    {"send", "tlvmsg send ID [TEXT|-]",
     "Sends TEXT (or standard input, with '-' or no TEXT) to ID as plain text: live when ID is\n"
     "online, else to the server's offline store when \"Send Offline Message\" is on."},
    {"listen", "tlvmsg listen [--away [TEXT]]",
     "Logs in, stores and prints every incoming message until interrupted. With --away the\n"
     "status is Away and live messages are answered with TEXT (or the stored away text)."},
    {"status", "tlvmsg status ID", "Prints the online status of ID: Offline, Online, Away or N/A."},
    {"history", "tlvmsg history ID [--sent]",
     "Prints the messages received from ID (or sent to ID with --sent), oldest first."},
    {"send-file", "tlvmsg send-file ID PATH [--description TEXT]",
     "Offers the file to ID and sends it when ID accepts."},
    {"receive-files", "tlvmsg receive-files",
     "Logs in and receives offered files into the receive folder until interrupted, by the\n"
     "\"AcceptMode\", \"OverwriteMode\" and \"UseUserName\" settings (AcceptMode 2 refuses)."},
};

const char* kGlobalHelp =
    "Global options (before the command): --account ID (default: the account in use),\n"
    "--server HOST, --port N (default: the client's network settings).\n";

void PrintUsage(std::ostream& out) {
    out << "Usage:\n";
    for (const auto& usage : kUsages) {
        out << "  " << usage.synopsis << "\n";
    }
    out << "  tlvmsg COMMAND --help\n" << kGlobalHelp;
}

bool PrintCommandHelp(const std::string& command, std::ostream& out) {
    for (const auto& usage : kUsages) {
        if (command == usage.command) {
            out << "Usage: " << usage.synopsis << "\n\n" << usage.help << "\n\n" << kGlobalHelp;
            return true;
        }
    }
    return false;
}

// A line from the terminal without echo, or from standard input.
std::string ReadSecret(std::istream& in, std::ostream& err, const char* prompt) {
    const bool terminal = &in == &std::cin && ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        err << prompt << std::flush;
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(in, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        err << "\n";
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

// The "SendMessage" values of the send window.
SendOptions StoredSendOptions() {
    const data::WindowSettings section("SendMessage");
    return SendOptions{section.GetDword("Send Offline Message", 1) != 0,
                       section.GetDword("Prompt", 0) != 0};
}

// --- the engine's window side ---------------------------------------------------------------

class Terminal : public SessionWindow, public SendPrompts, public SavePrompt {
public:
    Terminal(std::istream& in, std::ostream& out, std::ostream& err, Account account,
             NetworkSettings network)
        : m_in(in),
          m_out(out),
          m_err(err),
          m_account(std::move(account)),
          m_history(m_account.userId) {
        m_list.Load(m_account.userId);
        m_session.emplace(*this, m_contacts, m_history, std::move(network));
    }
    ~Terminal() override {
        m_session->Shutdown();
        m_session.reset();
        try {
            m_list.SaveAndUnload();
        } catch (const std::exception&) {
        }
    }

    ServerSession& Session() { return *m_session; }
    EventLoop& Loop() { return m_loop; }

    // Logs in; prints why not on failure.
    bool Login() {
        m_session->Connect();
        m_loop.RunUntil([this] { return m_session->Connected() || !m_session->Connecting(); }, 60s);
        if (m_session->Connected()) {
            return true;
        }
        if (!m_loginFailed) {
            const auto network = m_session->Settings();
            Print(m_err, "Failed to connect to the server " + network.server + ":" +
                             std::to_string(network.port) + "\n");
        }
        return false;
    }
    void Logout() {
        m_session->Disconnect();
        m_loop.RunUntil([this] { return !m_session->Connected() && !m_session->Disconnecting(); },
                        40s);
    }
    // Serves the session until interrupted (keeping the reconnect timer running).
    void RunUntilStopped(const std::function<void()>& onTick = {}) {
        while (!g_stop) {
            m_loop.RunFor(500ms);
            m_session->ReconnectTick();
            if (onTick) {
                onTick();
            }
        }
    }

    void Print(std::ostream& stream, const std::string& text) {
        std::lock_guard lock(m_printMutex);
        stream << text << std::flush;
    }

    bool printMessages = false;
    std::string awayText;
    std::function<void(const protocol::FileRequest&)> onFileRequest;

    // SessionWindow
    std::optional<Account> CheckAccount() override { return m_account; }
    void ShowLoginFailed(const std::string& text) override {
        m_loginFailed = true;
        Print(m_err, text + "\n");
    }
    void ChooseAccount() override {
        Print(m_err,
              "Choose the account with --account ID, or put it here with "
              "'tlvmsg account import ID'.\n");
    }
    void PostConnectionLost(const std::string& reason) override {
        Print(m_err, "Connection lost: " + reason + "\n");
        m_loop.Post([this] { m_session->HandleConnectionLost(); });
    }
    void MessageReceived(const IncomingMessage& message) override {
        if (!message.storageWarning.empty()) {
            Print(m_err, message.storageWarning + "\n");
        }
        if (!printMessages && message.kind != IncomingMessage::Kind::AutoReply) {
            return;
        }
        const auto record = protocol::MessageRecord::Decode(message.record);
        const char* kind = message.kind == IncomingMessage::Kind::Offline     ? " (offline)"
                           : message.kind == IncomingMessage::Kind::AutoReply ? " (automatic reply)"
                                                                              : "";
        Print(m_out, "[" + data::FormatLocalTime(record.time) + "] " + message.senderId + kind +
                         ": " + record.body + "\n");
    }
    void ChatRequestReceived(const protocol::ChatRequest&) override {}
    void FileRequestReceived(const protocol::FileRequest& request) override {
        if (onFileRequest) {
            m_loop.Post([this, request] { onFileRequest(request); });
        }
    }
    std::string AwayText() override {
        return awayText.empty() ? data::WindowSettings::AwayText() : awayText;
    }
    bool ConfirmAwayMode() override { return true; }
    void ShowWarning(const std::string& text) override { Print(m_err, text + "\n"); }
    void DispatchWhileWaiting() override { m_loop.ProcessPending(); }

    // SendPrompts: a question only where someone can answer it.
    bool ConfirmOfflineSend(const std::string& question) override {
        if (!::isatty(STDIN_FILENO) || &m_in != &std::cin) {
            return true;
        }
        Print(m_err, question + " [y/N] ");
        std::string answer;
        std::getline(m_in, answer);
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    }
    // SavePrompt: no dialog here; a free name beside the proposal instead of overwriting.
    std::optional<fs::path> AskSavePath(const fs::path& proposal) override {
        fs::path target = proposal.is_absolute() ? proposal : data::AccountRoot() / proposal;
        for (unsigned n = 1; fs::exists(target); ++n) {
            target = target.parent_path() /
                     ("(" + std::to_string(n) + ")" + proposal.filename().string());
        }
        return target;
    }

private:
    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    Account m_account;
    EventLoop m_loop;
    data::ContactList m_list;
    ContactListBook m_contacts{m_list};
    AccountMessageHistory m_history;
    std::optional<ServerSession> m_session;
    std::mutex m_printMutex;
    bool m_loginFailed = false;
};

// --- commands -------------------------------------------------------------------------------

struct Context {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string accountId;
    std::optional<std::string> server;
    std::optional<int> port;
    std::vector<std::string> args;  // after the command name
};

NetworkSettings Network(const Context& context) {
    const auto settings = data::ClientSettings::Load();
    NetworkSettings network{context.server.value_or(settings.server),
                            static_cast<std::uint16_t>(context.port.value_or(settings.port)),
                            settings.autoConnect, settings.connectInterval};
    return network;
}

// The account to log in with, or an error text.
std::optional<Account> LoginAccount(const Context& context, std::string& error) {
    const auto id = context.accountId.empty() ? data::GetCurrentId() : context.accountId;
    if (!data::IsValidId(id)) {
        error =
            "No account is in use. Put one here with 'tlvmsg account new' or "
            "'tlvmsg account import ID', or name it with --account ID.";
        return std::nullopt;
    }
    const auto profile = data::ReadProfile(id);
    if (!profile) {
        error = std::string(data::AccountText::InvalidUidFile);
        return std::nullopt;
    }
    const auto password = data::LoadPassword(id);
    if (!password || !data::IsValidPassword(*password)) {
        error = "No password is remembered for " + id +
                ". Put the account here again with 'tlvmsg account import " + id + "'.";
        return std::nullopt;
    }
    return Account{id, *password, profile->nickname};
}

int Fail(const Context& context, const std::string& text) {
    context.err << text << "\n";
    return 1;
}

// The wizard's Finish: profile file, remembered password, "CurrentID".
int SaveAccount(const Context& context, const protocol::UserProfile& profile,
                const std::string& password) {
    if (!data::WriteProfile(profile.userId, profile) ||
        !data::SavePassword(profile.userId, password) || !data::SetCurrentId(profile.userId)) {
        return Fail(context,
                    std::string(data::AccountText::FailedToSaveAccount) + std::strerror(errno));
    }
    context.out << profile.userId << "\n";
    return 0;
}

std::optional<std::string> CheckNewPassword(const std::string& password) {
    if (password.empty()) {
        return "You must select a password.";
    }
    if (password.find(' ') != std::string::npos) {
        return "Password can not include space character";
    }
    if (password.size() > data::MaxPasswordLength) {
        return "A password holds at most 16 characters";
    }
    return std::nullopt;
}

int AccountCommand(Context& context) {
    if (context.args.empty()) {
        PrintCommandHelp("account", context.err);
        return 2;
    }
    const auto network = Network(context);
    const AccountServer server{network.server, network.port};
    try {
        if (context.args[0] == "new") {
            std::string nickname;
            for (std::size_t i = 1; i + 1 < context.args.size(); ++i) {
                if (context.args[i] == "--nickname") {
                    nickname = context.args[i + 1];
                }
            }
            const auto password = ReadSecret(context.in, context.err, "Password: ");
            if (const auto refusal = CheckNewPassword(password)) {
                return Fail(context, *refusal);
            }
            const auto credentials = RequestNewAccount(server);
            protocol::UserProfile profile;
            profile.userId = credentials.userId;
            profile.nickname = nickname.empty() ? credentials.userId : nickname;
            profile.gender = "0";
            profile.password = credentials.password;
            ChangeUserInfo(server, profile);
            ChangePassword(server, credentials.userId, credentials.password, password);
            profile.password.clear();
            return SaveAccount(context, profile, password);
        }
        if (context.args[0] == "import" && context.args.size() == 2) {
            const auto& id = context.args[1];
            if (!data::IsValidId(id)) {
                return Fail(context, "An ID is 8 decimal digits: " + id);
            }
            const auto password = ReadSecret(context.in, context.err, "Password: ");
            if (!data::IsValidPassword(password)) {
                return Fail(context, std::string(data::AccountText::PleaseInputPassword));
            }
            auto profile = ImportAccount(server, id, password);
            profile.userId = id;
            return SaveAccount(context, profile, password);
        }
    } catch (const AccountRequestError& e) {
        return Fail(context, e.what());
    }
    PrintCommandHelp("account", context.err);
    return 2;
}

int SendCommand(Context& context, const Account& account) {
    if (context.args.empty() || context.args.size() > 2 || !data::IsValidId(context.args[0])) {
        PrintCommandHelp("send", context.err);
        return 2;
    }
    std::string text;
    if (context.args.size() == 2 && context.args[1] != "-") {
        text = context.args[1];
    } else {
        std::ostringstream all;
        all << context.in.rdbuf();
        text = all.str();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
    }
    const OutgoingMessage message{text, text, false};
    if (const auto refusal = CheckOutgoing(message)) {
        context.err << *refusal;
        return 1;
    }
    Terminal terminal(context.in, context.out, context.err, account, Network(context));
    if (!terminal.Login()) {
        return 1;
    }
    const auto& to = context.args[0];
    MessageSender sender(terminal.Session(), terminal);
    std::atomic<bool> closing{false};
    const auto report = sender.SendSingle({to, terminal.Session().Incoming().NicknameOf(to)},
                                          message, StoredSendOptions(), closing);
    terminal.Logout();
    if (!report.allSent) {
        return Fail(context, report.errorText);
    }
    const auto& outcome = report.outcomes.front();
    if (!outcome.historyWarning.empty()) {
        context.err << outcome.historyWarning << "\n";
    }
    if (outcome.offline) {
        context.err << "Sent as an offline message.\n";
    }
    return 0;
}

int ListenCommand(Context& context, const Account& account) {
    bool away = false;
    std::string awayText;
    for (std::size_t i = 0; i < context.args.size(); ++i) {
        if (context.args[i] == "--away") {
            away = true;
            if (i + 1 < context.args.size()) {
                awayText = context.args[++i];
            }
        } else {
            PrintCommandHelp("listen", context.err);
            return 2;
        }
    }
    Terminal terminal(context.in, context.out, context.err, account, Network(context));
    terminal.printMessages = true;
    terminal.awayText = platform::CutUtf8(awayText, Text::AwayTextMax);
    if (!terminal.Login()) {
        return 1;
    }
    context.err << "Listening as " << account.userId << "; interrupt to end.\n";
    bool awaySent = false;
    terminal.RunUntilStopped([&] {
        // After every (re)connection the status is Online again.
        if (away && terminal.Session().Connected() &&
            terminal.Session().Status() == OnlineStatus::Online && !awaySent) {
            terminal.Session().SetStatus(OnlineStatus::Away);
            awaySent = true;
        }
        if (!terminal.Session().Connected()) {
            awaySent = false;
        }
    });
    terminal.Logout();
    return 0;
}

int StatusCommand(Context& context, const Account& account) {
    if (context.args.size() != 1 || !data::IsValidId(context.args[0])) {
        PrintCommandHelp("status", context.err);
        return 2;
    }
    Terminal terminal(context.in, context.out, context.err, account, Network(context));
    if (!terminal.Login()) {
        return 1;
    }
    std::array<std::uint8_t, protocol::Size::UserId> id{};
    platform::WriteTextField(id, context.args[0]);
    try {
        const auto reply = terminal.Session().Exchange(protocol::PacketType::QueryStatus, id);
        context.out << ServerSession::StatusText(static_cast<OnlineStatus>(reply.code)) << "\n";
    } catch (const std::exception& e) {
        terminal.Logout();
        return Fail(context, e.what());
    }
    terminal.Logout();
    return 0;
}

int HistoryCommand(Context& context, const Account& account) {
    if (context.args.empty() || context.args.size() > 2 || !data::IsValidId(context.args[0]) ||
        (context.args.size() == 2 && context.args[1] != "--sent")) {
        PrintCommandHelp("history", context.err);
        return 2;
    }
    const bool sent = context.args.size() == 2;
    try {
        auto store = data::MessageStore::Open(
            account.userId, sent ? data::StoreKind::Sent : data::StoreKind::Received,
            context.args[0], data::StoreMode::Read, true);
        for (std::uint32_t i = 0; i < store.Count(); ++i) {
            const auto message = store.ReadMessage(i);
            if (message.body.size() < protocol::Size::MessageMin) {
                continue;
            }
            const auto record = protocol::MessageRecord::Decode(message.body);
            context.out << "[" << data::FormatLocalTime(record.time) << "] "
                        << (sent ? "to " : "from ") << context.args[0] << ": " << record.body
                        << "\n";
        }
    } catch (const std::exception& e) {
        return Fail(context, e.what());
    }
    return 0;
}

int SendFileCommand(Context& context, const Account& account) {
    std::string description;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < context.args.size(); ++i) {
        if (context.args[i] == "--description" && i + 1 < context.args.size()) {
            description = context.args[++i];
        } else {
            positional.push_back(context.args[i]);
        }
    }
    if (positional.size() != 2 || !data::IsValidId(positional[0])) {
        PrintCommandHelp("send-file", context.err);
        return 2;
    }
    Terminal terminal(context.in, context.out, context.err, account, Network(context));
    AccountTransferRecords records(account.userId);
    FileSender sender(terminal.Session(), records, positional[0]);
    if (auto refusal = sender.Open(positional[1]); refusal || (refusal = sender.CheckSend())) {
        return Fail(context, *refusal);
    }
    if (!terminal.Login()) {
        return 1;
    }
    int shown = -1;
    const auto result = sender.Run(
        [&](std::uint64_t done, std::uint32_t size) {
            const int percent = TransferPercent(done, size);
            if (percent != shown) {
                shown = percent;
                terminal.Print(context.err, "\r" + std::to_string(percent) + "%");
            }
        },
        description);
    if (shown >= 0) {
        context.err << "\n";
    }
    terminal.Logout();
    if (result.end != TransferResult::End::Done) {
        return Fail(context, result.reason.empty() ? std::string(Text::Canceled) : result.reason);
    }
    return 0;
}

int ReceiveFilesCommand(Context& context, const Account& account) {
    if (!context.args.empty()) {
        PrintCommandHelp("receive-files", context.err);
        return 2;
    }
    const auto settings = data::ClientSettings::Load();
    FileReceiveOptions options{static_cast<int>(settings.acceptMode),
                               static_cast<int>(settings.overwriteMode), settings.useUserName,
                               settings.filePath};
    // Running this command is the user's "accept" for every offer the settings leave open.
    if (options.acceptMode == 0) {
        options.acceptMode = 1;
    }
    Terminal terminal(context.in, context.out, context.err, account, Network(context));
    AccountTransferRecords records(account.userId);
    terminal.onFileRequest = [&](const protocol::FileRequest& request) {
        FileReceiver receiver(records, options, FileOffer::From(request));
        const auto& offer = receiver.Offer();
        if (receiver.Decision() == ReceiveDecision::Refuse) {
            receiver.Refuse();
            terminal.Print(context.err,
                           "Refused " + offer.fileName + " from " + offer.senderId + "\n");
            return;
        }
        const auto target = receiver.ChooseTarget(terminal);
        if (!target) {
            return;
        }
        if (const auto failure = receiver.OpenTarget(*target)) {
            terminal.Print(context.err, *failure + "\n");
            return;
        }
        const auto result = receiver.Receive({});
        if (result.end == TransferResult::End::Done) {
            terminal.Print(context.out, target->string() + "\n");
        } else {
            terminal.Print(context.err, result.reason + "\n");
        }
    };
    if (!terminal.Login()) {
        return 1;
    }
    context.err << "Receiving files as " << account.userId << "; interrupt to end.\n";
    terminal.RunUntilStopped();
    terminal.Logout();
    return 0;
}

}  // namespace

void RequestStop() {
    g_stop = 1;
}

int RunTlvmsg(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err) {
    g_stop = 0;
    Context context{in, out, err, {}, {}, {}, {}};
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        if ((args[i] == "--account" || args[i] == "--server" || args[i] == "--port") &&
            i + 1 < args.size()) {
            const auto& value = args[++i];
            if (args[i - 1] == "--account") {
                context.accountId = value;
            } else if (args[i - 1] == "--server") {
                context.server = value;
            } else {
                try {
                    context.port = std::stoi(value);
                } catch (const std::exception&) {
                    err << "Not a port number: " << value << "\n";
                    return 2;
                }
            }
        } else {
            break;
        }
    }
    if (i >= args.size() || args[i] == "--help" || args[i] == "-h") {
        PrintUsage(i >= args.size() ? err : out);
        return i >= args.size() ? 2 : 0;
    }
    const auto command = args[i];
    context.args.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    for (const auto& arg : context.args) {
        if (arg == "--help" || arg == "-h") {
            if (PrintCommandHelp(command, out)) {
                return 0;
            }
        }
    }
    if (command == "account") {
        return AccountCommand(context);
    }
    std::string error;
    const bool known = command == "send" || command == "listen" || command == "status" ||
                       command == "history" || command == "send-file" || command == "receive-files";
    if (!known) {
        err << "Unknown command: " << command << "\n";
        PrintUsage(err);
        return 2;
    }
    const auto account = LoginAccount(context, error);
    if (!account) {
        return Fail(context, error);
    }
    if (command == "send") {
        return SendCommand(context, *account);
    }
    if (command == "listen") {
        return ListenCommand(context, *account);
    }
    if (command == "status") {
        return StatusCommand(context, *account);
    }
    if (command == "history") {
        return HistoryCommand(context, *account);
    }
    if (command == "send-file") {
        return SendFileCommand(context, *account);
    }
    return ReceiveFilesCommand(context, *account);
}

}  // namespace talvorine::client::cli
