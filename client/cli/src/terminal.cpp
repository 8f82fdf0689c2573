#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <thread>

#include "talvorine/client/cli/tlvmsg.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/client/session/texts.h"

namespace talvorine::client::cli {

namespace fs = std::filesystem;
namespace data = talvorine::client::data;
using namespace talvorine::client::session;

namespace {
volatile std::sig_atomic_t g_stop = 0;
}  // namespace

void RequestStop() {
    g_stop = 1;
}

bool StopRequested() {
    return g_stop != 0;
}

void ClearStop() {
    g_stop = 0;
}

std::optional<NetworkSettings> Network(const Context& context, std::string& error) {
    const auto settings = data::ClientSettings::Load();
    NetworkSettings network{context.server.value_or(settings.server),
                            static_cast<std::uint16_t>(context.port.value_or(settings.port)),
                            settings.autoConnect, settings.connectInterval};
    if (network.server.find_first_not_of(" \t") == std::string::npos) {
        error =
            "No server is saved. Save one with 'tlvmsg config --server HOST [--port N]', "
            "or name it with --server HOST.";
        return std::nullopt;
    }
    return network;
}

int Fail(const Context& context, const std::string& text) {
    context.err << text << "\n";
    return 1;
}

SendOptions StoredSendOptions() {
    const data::WindowSettings section("SendMessage");
    return SendOptions{section.GetDword("Send Offline Message", 1) != 0,
                       section.GetDword("Prompt", 0) != 0};
}

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

void PrintHistory(const std::string& accountId, const std::string& peerId, bool sent,
                  std::ostream& out) {
    auto store = data::MessageStore::Open(accountId,
                                          sent ? data::StoreKind::Sent : data::StoreKind::Received,
                                          peerId, data::StoreMode::Read, true);
    for (std::uint32_t i = 0; i < store.Count(); ++i) {
        const auto message = store.ReadMessage(i);
        if (message.body.size() < protocol::Size::MessageMin) {
            continue;
        }
        const auto record = protocol::MessageRecord::Decode(message.body);
        out << "[" << data::FormatLocalTime(record.time) << "] " << (sent ? "to " : "from ")
            << peerId << ": " << record.body << "\n";
    }
}

// --- Terminal -------------------------------------------------------------------------------

Terminal::Terminal(std::istream& in, std::ostream& out, std::ostream& err, Account account,
                   NetworkSettings network)
    : m_in(in), m_out(out), m_err(err), m_account(std::move(account)), m_history(m_account.userId) {
    m_list.Load(m_account.userId);
    m_session.emplace(*this, m_contacts, m_history, std::move(network));
}

Terminal::~Terminal() {
    m_session->Shutdown();
    m_session.reset();
    try {
        m_list.SaveAndUnload();
    } catch (const std::exception&) {
    }
}

bool Terminal::Login() {
    m_session->Connect();
    m_loop.RunUntil(
        [this] { return m_session->Connected() || !m_session->Connecting() || StopRequested(); },
        60s);
    if (m_session->Connected()) {
        return true;
    }
    if (StopRequested()) {
        Print(m_err, "Interrupted.\n");
    } else if (!m_loginFailed) {
        const auto network = m_session->Settings();
        Print(m_err, "Failed to connect to the server " + network.server + ":" +
                         std::to_string(network.port) + "\n");
    }
    return false;
}

void Terminal::Logout() {
    m_session->Disconnect();
    m_loop.RunUntil([this] { return !m_session->Connected() && !m_session->Disconnecting(); }, 40s);
}

void Terminal::RunUntilStopped(const std::function<void()>& onTick) {
    while (!StopRequested()) {
        m_loop.RunFor(200ms);
        m_session->ReconnectTick();
        if (onTick) {
            onTick();
        }
    }
}

void Terminal::Pause(std::chrono::milliseconds duration) {
    if (m_loop.OnLoopThread()) {
        m_loop.RunFor(duration);
    } else {
        std::this_thread::sleep_for(duration);
    }
}

void Terminal::Print(std::ostream& stream, const std::string& text) {
    std::lock_guard lock(m_printMutex);
    stream << text << std::flush;
}

void Terminal::ShowLoginFailed(const std::string& text) {
    m_loginFailed = true;
    Print(m_err, text + "\n");
}

void Terminal::ChooseAccount() {
    Print(m_err,
          "Choose the account with --account ID, or put it here with "
          "'tlvmsg account import ID'.\n");
}

void Terminal::PostConnectionLost(const std::string& reason) {
    Print(m_err, "Connection lost: " + reason + "\n");
    m_loop.Post([this] { m_session->HandleConnectionLost(); });
}

void Terminal::MessageReceived(const IncomingMessage& message) {
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
    Print(m_out, "[" + data::FormatLocalTime(record.time) + "] " + message.senderId + kind + ": " +
                     record.body + "\n");
}

void Terminal::FileRequestReceived(const protocol::FileRequest& request) {
    if (onFileRequest) {
        m_loop.Post([this, request] { onFileRequest(request); });
    }
}

void Terminal::SetAwayText(std::string text) {
    std::lock_guard lock(m_awayMutex);
    m_awayText = std::move(text);
}

std::string Terminal::AwayText() {
    {
        std::lock_guard lock(m_awayMutex);
        if (!m_awayText.empty()) {
            return m_awayText;
        }
    }
    return data::WindowSettings::AwayText();
}

bool Terminal::ConfirmOfflineSend(const std::string& question) {
    if (interactive || !::isatty(STDIN_FILENO) || &m_in != &std::cin) {
        return true;
    }
    Print(m_err, question + " [y/N] ");
    std::string answer;
    std::getline(m_in, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::optional<fs::path> Terminal::AskSavePath(const fs::path& proposal) {
    fs::path target = proposal.is_absolute() ? proposal : data::AccountRoot() / proposal;
    for (unsigned n = 1; fs::exists(target); ++n) {
        target =
            target.parent_path() / ("(" + std::to_string(n) + ")" + proposal.filename().string());
    }
    return target;
}

// --- progress and the watched offer ---------------------------------------------------------

bool IsTerminal(const std::ostream& stream) {
    return (&stream == &std::cerr && ::isatty(STDERR_FILENO)) ||
           (&stream == &std::cout && ::isatty(STDOUT_FILENO));
}

void ProgressPrinter::Update(std::uint64_t done, std::uint32_t size) {
    const int percent = TransferPercent(done, size);
    const int step = m_inPlace ? percent : percent / 10 * 10;
    if (step == m_shown) {
        return;
    }
    m_shown = step;
    const auto text = m_label + std::to_string(step) + "%";
    m_terminal.Print(m_stream, m_inPlace ? "\r" + text : text + "\n");
}

void ProgressPrinter::Finish() {
    if (m_inPlace && m_shown >= 0) {
        m_terminal.Print(m_stream, "\n");
    }
}

std::string UnansweredText(const std::string& peerId) {
    return "No answer from " + peerId + " within " +
           std::to_string(std::chrono::seconds(AnswerTimeout).count()) +
           " seconds; the file was not sent.";
}

WatchedSend SendFileWatched(Terminal& terminal, FileSender& sender, std::string_view description,
                            ProgressPrinter& progress, const std::function<bool()>& stop) {
    WatchedSend watched;
    std::atomic<bool> answered{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        watched.result = sender.Run(
            [&](std::uint64_t done, std::uint32_t size) {
                answered = true;
                progress.Update(done, size);
            },
            description);
        finished = true;
    });
    const auto start = std::chrono::steady_clock::now();
    bool withdrawn = false;
    while (!finished) {
        terminal.Pause(100ms);
        if (withdrawn) {
            continue;
        }
        if (stop()) {
            watched.interrupted = withdrawn = true;
        } else if (!answered && std::chrono::steady_clock::now() - start >= AnswerTimeout) {
            watched.unanswered = withdrawn = true;
        }
        if (withdrawn) {
            sender.Cancel();
        }
    }
    worker.join();
    progress.Finish();
    return watched;
}

}  // namespace talvorine::client::cli
