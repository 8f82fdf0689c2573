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
#include "talvorine/platform/registry_store.h"
#include "talvorine/platform/text.h"
#include "terminal.h"

namespace talvorine::client::cli {

namespace fs = std::filesystem;
namespace data = talvorine::client::data;
using namespace talvorine::client::session;
using namespace std::chrono_literals;

namespace {

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
    {"config", "tlvmsg config [--server HOST] [--port N]",
     "Saves the server (and its port, default 8000) that every command uses, in the client's\n"
     "network settings shared with the messenger's windows; prints what is saved."},
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
    {"interactive", "tlvmsg interactive",
     "Logs in once and both receives and sends from this terminal: incoming messages and file\n"
     "offers are printed as they arrive; a line is sent to the correspondent chosen with\n"
     "'/to ID'; '/help' lists the commands; Ctrl-D or '/quit' logs out."},
    {"receive-files", "tlvmsg receive-files",
     "Logs in and receives offered files into the receive folder until interrupted, by the\n"
     "\"AcceptMode\", \"OverwriteMode\" and \"UseUserName\" settings (AcceptMode 2 refuses)."},
};

const char* kGlobalHelp =
    "Global options (before the command): --account ID (default: the account in use),\n"
    "--server HOST, --port N (default: the server saved with 'tlvmsg config').\n"
    "Ctrl-C ends any command and logs out in order.\n";

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

// --- commands -------------------------------------------------------------------------------

std::optional<int> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int port = std::stoi(text);
    if (port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

// Saves the server every command uses, as the options' "Network" page does.
int ConfigCommand(Context& context) {
    std::optional<std::string> server;
    std::optional<int> port;
    for (std::size_t i = 0; i < context.args.size(); ++i) {
        const auto& arg = context.args[i];
        if (arg == "--server" && i + 1 < context.args.size()) {
            server = context.args[++i];
        } else if (arg == "--port" && i + 1 < context.args.size()) {
            port = ParsePort(context.args[++i]);
            if (!port || *port < 5000) {
                return Fail(context, "The port is a number from 5000 to 65535: " + context.args[i]);
            }
        } else {
            PrintCommandHelp("config", context.err);
            return 2;
        }
    }
    if (server) {
        const auto first = server->find_first_not_of(" \t");
        const auto last = server->find_last_not_of(" \t");
        *server = first == std::string::npos ? "" : server->substr(first, last - first + 1);
        if (server->empty() || server->size() > 255) {
            return Fail(context, "Invalid server address");
        }
    }
    try {
        auto key = platform::RegistryKey::Create(
            platform::Hive::CurrentUser,
            std::string(data::ClientRegistryRoot) + "\\Settings\\Network");
        if (server) {
            key.SetString("Server", *server);
        }
        if (port) {
            key.SetDword("Port", static_cast<std::uint32_t>(*port));
        }
    } catch (const std::exception& e) {
        return Fail(context, std::string("Failed to save the settings: ") + e.what());
    }
    const auto settings = data::ClientSettings::Load();
    context.out << "Server: " << (settings.server.empty() ? "(none)" : settings.server) << "\n"
                << "Port: " << settings.port << "\n";
    return 0;
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
    std::string error;
    const auto network = Network(context, error);
    if (!network) {
        return Fail(context, error);
    }
    const AccountServer server{network->server, network->port};
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

int SendCommand(Context& context, const Account& account, const NetworkSettings& network) {
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
    Terminal terminal(context.in, context.out, context.err, account, network);
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

int ListenCommand(Context& context, const Account& account, const NetworkSettings& network) {
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
    Terminal terminal(context.in, context.out, context.err, account, network);
    terminal.printMessages = true;
    terminal.SetAwayText(std::string(platform::CutUtf8(awayText, Text::AwayTextMax)));
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

int StatusCommand(Context& context, const Account& account, const NetworkSettings& network) {
    if (context.args.size() != 1 || !data::IsValidId(context.args[0])) {
        PrintCommandHelp("status", context.err);
        return 2;
    }
    Terminal terminal(context.in, context.out, context.err, account, network);
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
    try {
        PrintHistory(account.userId, context.args[0], context.args.size() == 2, context.out);
    } catch (const std::exception& e) {
        return Fail(context, e.what());
    }
    return 0;
}

int SendFileCommand(Context& context, const Account& account, const NetworkSettings& network) {
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
    Terminal terminal(context.in, context.out, context.err, account, network);
    AccountTransferRecords records(account.userId);
    FileSender sender(terminal.Session(), records, positional[0]);
    if (auto refusal = sender.Open(positional[1]); refusal || (refusal = sender.CheckSend())) {
        return Fail(context, *refusal);
    }
    if (!terminal.Login()) {
        return 1;
    }
    context.err << "Offering " << sender.FileName() << " (" << sender.Size() << " bytes) to "
                << positional[0] << "; waiting for the answer ..." << std::endl;
    ProgressPrinter progress(terminal, context.err, IsTerminal(context.err), "");
    const auto sent = SendFileWatched(terminal, sender, description, progress, StopRequested);
    terminal.Logout();
    const auto& result = sent.result;
    if (result.end == TransferResult::End::Done) {
        return 0;
    }
    if (sent.unanswered) {
        return Fail(context, UnansweredText(positional[0]));
    }
    if (sent.interrupted) {
        return Fail(context, "Interrupted; the offer is withdrawn.");
    }
    return Fail(context, result.reason.empty() ? std::string(Text::Canceled) : result.reason);
}

int ReceiveFilesCommand(Context& context, const Account& account, const NetworkSettings& network) {
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
    Terminal terminal(context.in, context.out, context.err, account, network);
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
        ProgressPrinter progress(terminal, context.err, IsTerminal(context.err),
                                 offer.fileName + ": ");
        const auto result = receiver.Receive(
            [&](std::uint64_t done, std::uint32_t size) { progress.Update(done, size); });
        progress.Finish();
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

int RunTlvmsg(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err) {
    ClearStop();
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
                const auto port = ParsePort(value);
                if (!port) {
                    err << "Not a port number: " << value << "\n";
                    return 2;
                }
                context.port = *port;
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
    if (command == "config") {
        return ConfigCommand(context);
    }
    const bool known = command == "send" || command == "listen" || command == "status" ||
                       command == "history" || command == "send-file" ||
                       command == "receive-files" || command == "interactive";
    if (!known) {
        err << "Unknown command: " << command << "\n";
        PrintUsage(err);
        return 2;
    }
    std::string error;
    if (command == "history") {
        const auto account = LoginAccount(context, error);
        return account ? HistoryCommand(context, *account) : Fail(context, error);
    }
    // Every other command logs in: the server comes first, since making an account needs it.
    const auto network = Network(context, error);
    if (!network) {
        return Fail(context, error);
    }
    const auto account = LoginAccount(context, error);
    if (!account) {
        return Fail(context, error);
    }
    if (command == "send") {
        return SendCommand(context, *account, *network);
    }
    if (command == "listen") {
        return ListenCommand(context, *account, *network);
    }
    if (command == "status") {
        return StatusCommand(context, *account, *network);
    }
    if (command == "send-file") {
        return SendFileCommand(context, *account, *network);
    }
    if (command == "interactive") {
        if (!context.args.empty()) {
            PrintCommandHelp("interactive", err);
            return 2;
        }
        return InteractiveCommand(context, *account, *network);
    }
    return ReceiveFilesCommand(context, *account, *network);
}

}  // namespace talvorine::client::cli
