// The interactive mode: one logged-in session that prints what arrives and sends what the user
// types. The main thread runs the session's event loop; a reader thread turns standard input
// into lines posted to it; every exchange that can block (a message, a status query, a
// transfer) runs on a job thread of its own so that arrivals keep being printed meanwhile.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <list>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/platform/text.h"
#include "terminal.h"

namespace talvorine::client::cli {

namespace data = talvorine::client::data;
using namespace talvorine::client::session;

namespace {

// A path as the user would write it: "~" for the home folder.
std::string DisplayPath(const std::filesystem::path& path) {
    const char* home = std::getenv("HOME");
    const auto text = path.string();
    if (home != nullptr && *home != '\0') {
        const std::string prefix = std::filesystem::path(home).lexically_normal().string() + "/";
        if (text.starts_with(prefix)) {
            return "~/" + text.substr(prefix.size());
        }
    }
    return text;
}

// "~/..." as a shell would read it: typed paths do not pass through one here.
std::string ExpandHome(const std::string& path) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && (path == "~" || path.starts_with("~/"))) {
        return std::string(home) + path.substr(1);
    }
    return path;
}

const char* kInteractiveHelp =
    "Commands:\n"
    "  /to ID                    send the lines that follow to ID\n"
    "  /msg ID TEXT              send TEXT to ID\n"
    "  /status ID                Offline, Online, Away or N/A\n"
    "  /away [TEXT]              away, answering live messages with TEXT (or the stored text)\n"
    "  /online, /na              online again; not available\n"
    "  /history ID [--sent]      received (or sent) messages, oldest first\n"
    "  /send-file ID PATH [-- DESCRIPTION]\n"
    "  /files                    offered files waiting for an answer\n"
    "  /accept N, /refuse N      answer the offer numbered N\n"
    "  /quit                     log out and end (so do Ctrl-D and Ctrl-C)\n";

class Interactive {
public:
    Interactive(Context& context, const Account& account, const NetworkSettings& network)
        : m_context(context),
          m_terminal(context.in, context.out, context.err, account, network),
          m_records(account.userId) {
        const auto settings = data::ClientSettings::Load();
        m_options = FileReceiveOptions{static_cast<int>(settings.acceptMode),
                                       static_cast<int>(settings.overwriteMode),
                                       settings.useUserName, settings.filePath};
        m_terminal.printMessages = true;
        m_terminal.interactive = true;
        m_terminal.onFileRequest = [this](const protocol::FileRequest& request) {
            Offered(request);
        };
    }

    int Run() {
        if (!m_terminal.Login()) {
            return 1;
        }
        const auto& account = m_terminal.OwnAccount();
        Say("Logged in as " + account.userId + " (" + account.nickname +
            "). Type /help for the commands; /to ID chooses whom your lines go to.");
        m_reader = std::thread([this] { ReadLines(); });
        while (!m_quit && !StopRequested()) {
            m_terminal.Loop().RunFor(200ms);
            m_terminal.Session().ReconnectTick();
            ReapJobs(false);
        }
        m_readerStop = true;
        m_reader.join();
        // Transfers under way end now; their records say "Canceled".
        m_closing = true;
        for (const auto& cancel : m_cancels) {
            cancel();
        }
        ReapJobs(true);
        m_terminal.Logout();
        Say("Logged out.");
        return 0;
    }

private:
    struct Job {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void Say(const std::string& text) { m_terminal.Print(m_context.out, text + "\n"); }
    void Complain(const std::string& text) { m_terminal.Print(m_context.err, text + "\n"); }

    void ReadLines() {
        std::string buffer;
        char chunk[4096];
        while (!m_readerStop) {
            pollfd ready{STDIN_FILENO, POLLIN, 0};
            const int polled = ::poll(&ready, 1, 200);
            if (polled <= 0) {
                continue;
            }
            const auto count = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                if (!buffer.empty()) {
                    Post(buffer);
                }
                m_terminal.Loop().Post([this] { m_quit = true; });
                return;
            }
            buffer.append(chunk, static_cast<std::size_t>(count));
            for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
                Post(buffer.substr(0, end));
                buffer.erase(0, end + 1);
            }
        }
    }
    void Post(std::string line) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        m_terminal.Loop().Post([this, line] { Handle(line); });
    }

    void StartJob(std::function<void()> body) {
        auto& job = m_jobs.emplace_back();
        job.thread = std::thread([body = std::move(body), &done = job.done] {
            body();
            done = true;
        });
    }
    // Joins the jobs that have ended (all of them when `all`), serving the loop meanwhile.
    void ReapJobs(bool all) {
        while (true) {
            for (auto it = m_jobs.begin(); it != m_jobs.end();) {
                if (it->done) {
                    it->thread.join();
                    it = m_jobs.erase(it);
                } else {
                    ++it;
                }
            }
            if (!all || m_jobs.empty()) {
                return;
            }
            m_terminal.Loop().RunFor(50ms);
        }
    }

    bool CheckId(const std::string& id) {
        if (data::IsValidId(id)) {
            return true;
        }
        Complain("An ID is 8 decimal digits: " + id);
        return false;
    }

    void Handle(const std::string& line) {
        if (line.empty()) {
            return;
        }
        if (line[0] != '/') {
            if (m_to.empty()) {
                Complain("Choose whom to write to first: /to ID");
            } else {
                SendText(m_to, line);
            }
            return;
        }
        std::istringstream words(line);
        std::string command;
        std::string first;
        words >> command >> first;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (command == "/quit" || command == "/exit") {
            m_quit = true;
        } else if (command == "/help") {
            m_terminal.Print(m_context.out, kInteractiveHelp);
        } else if (command == "/to" && CheckId(first)) {
            m_to = first;
            const auto nickname = m_terminal.Session().Incoming().NicknameOf(m_to);
            Say("Your lines go to " + m_to + (nickname == m_to ? "" : " (" + nickname + ")") + ".");
        } else if (command == "/msg" && CheckId(first)) {
            SendText(first, rest);
        } else if (command == "/status" && CheckId(first)) {
            QueryStatus(first);
        } else if (command == "/away") {
            const auto text =
                first.empty() ? std::string() : first + (rest.empty() ? "" : " " + rest);
            m_terminal.SetAwayText(std::string(platform::CutUtf8(text, Text::AwayTextMax)));
            m_terminal.Session().SetStatus(OnlineStatus::Away);
        } else if (command == "/online") {
            m_terminal.Session().SetStatus(OnlineStatus::Online);
        } else if (command == "/na") {
            m_terminal.Session().SetStatus(OnlineStatus::NotAvailable);
        } else if (command == "/history" && CheckId(first)) {
            try {
                std::ostringstream text;
                PrintHistory(m_terminal.OwnAccount().userId, first, rest == "--sent", text);
                m_terminal.Print(m_context.out, text.str());
            } catch (const std::exception& e) {
                Complain(e.what());
            }
        } else if (command == "/send-file" && CheckId(first)) {
            const auto split = rest.find(" -- ");
            SendFile(first, ExpandHome(rest.substr(0, split)),
                     split == std::string::npos ? "" : rest.substr(split + 4));
        } else if (command == "/files") {
            ListOffers();
        } else if (command == "/accept" || command == "/refuse") {
            AnswerOffer(first, command == "/accept");
        } else if (command != "/to" && command != "/msg" && command != "/status" &&
                   command != "/history" && command != "/send-file") {
            Complain("Unknown command: " + command + " (/help lists them)");
        }
    }

    void SendText(const std::string& to, const std::string& text) {
        const OutgoingMessage message{text, text, false};
        if (const auto refusal = CheckOutgoing(message)) {
            m_terminal.Print(m_context.err, *refusal);
            return;
        }
        StartJob([this, to, message] {
            MessageSender sender(m_terminal.Session(), m_terminal);
            const auto report =
                sender.SendSingle({to, m_terminal.Session().Incoming().NicknameOf(to)}, message,
                                  StoredSendOptions(), m_closing);
            if (report.silent) {
                return;
            }
            if (!report.allSent) {
                Complain(report.errorText);
                return;
            }
            const auto& outcome = report.outcomes.front();
            if (!outcome.historyWarning.empty()) {
                Complain(outcome.historyWarning);
            }
            if (outcome.offline) {
                Say("(" + to + " is not online: stored by the server for the next login)");
            }
        });
    }

    void QueryStatus(const std::string& id) {
        StartJob([this, id] {
            std::array<std::uint8_t, protocol::Size::UserId> body{};
            platform::WriteTextField(body, id);
            try {
                const auto reply =
                    m_terminal.Session().Exchange(protocol::PacketType::QueryStatus, body);
                Say(id + ": " +
                    std::string(ServerSession::StatusText(static_cast<OnlineStatus>(reply.code))));
            } catch (const std::exception& e) {
                Complain(e.what());
            }
        });
    }

    void SendFile(const std::string& to, const std::string& path, const std::string& description) {
        auto sender = std::make_shared<FileSender>(m_terminal.Session(), m_records, to);
        if (auto refusal = sender->Open(path); refusal || (refusal = sender->CheckSend())) {
            Complain(*refusal);
            return;
        }
        Say("Offering " + sender->FileName() + " (" + std::to_string(sender->Size()) +
            " bytes) to " + to + " ...");
        m_cancels.push_back([sender] { sender->Cancel(); });
        StartJob([this, sender, to, description] {
            ProgressPrinter progress(m_terminal, m_context.out, IsTerminal(m_context.out),
                                     sender->FileName() + ": ");
            const auto sent = SendFileWatched(m_terminal, *sender,
                                              platform::CutUtf8(description, MaxDescriptionBytes),
                                              progress, [this] { return m_closing.load(); });
            if (sent.result.end == TransferResult::End::Done) {
                Say("Sent " + sender->FileName() + " to " + to + ".");
            } else if (sent.unanswered) {
                Complain(UnansweredText(to));
            } else if (!sent.interrupted) {
                Complain(sent.result.reason.empty() ? std::string(Text::Canceled)
                                                    : sent.result.reason);
            }
        });
    }

    // On the loop's thread: a file offered by another user.
    void Offered(const protocol::FileRequest& request) {
        auto receiver =
            std::make_shared<FileReceiver>(m_records, m_options, FileOffer::From(request));
        const auto& offer = receiver->Offer();
        switch (receiver->Decision()) {
            case ReceiveDecision::Refuse:
                Say("Refused " + offer.fileName + " from " + offer.senderId +
                    " (files are declined automatically).");
                StartJob([receiver] { receiver->Refuse(); });
                return;
            case ReceiveDecision::Accept:
                Accept(receiver);
                return;
            case ReceiveDecision::Ask:
                break;
        }
        const int number = m_nextOffer++;
        m_offers.emplace(number, receiver);
        Say(offer.senderId + " offers " + offer.fileName + " (" + std::to_string(offer.size) +
            " bytes)" + (offer.description.empty() ? "" : ": " + offer.description) +
            ". Type /accept " + std::to_string(number) + " or /refuse " + std::to_string(number) +
            ".");
    }

    void ListOffers() {
        if (m_offers.empty()) {
            Say("No offered file waits for an answer.");
        }
        for (const auto& [number, receiver] : m_offers) {
            const auto& offer = receiver->Offer();
            Say(std::to_string(number) + ": " + offer.fileName + " (" + std::to_string(offer.size) +
                " bytes) from " + offer.senderId);
        }
    }

    void AnswerOffer(const std::string& numberText, bool accept) {
        int number = 0;
        try {
            number = std::stoi(numberText);
        } catch (const std::exception&) {
        }
        const auto it = m_offers.find(number);
        if (it == m_offers.end()) {
            Complain("No offered file has the number '" + numberText + "' (/files lists them)");
            return;
        }
        auto receiver = it->second;
        m_offers.erase(it);
        if (accept) {
            Accept(receiver);
        } else {
            StartJob([receiver] { receiver->Refuse(); });
        }
    }

    void Accept(const std::shared_ptr<FileReceiver>& receiver) {
        const auto target = receiver->ChooseTarget(m_terminal);
        if (!target) {
            return;
        }
        if (const auto failure = receiver->OpenTarget(*target)) {
            Complain(*failure);
            return;
        }
        m_cancels.push_back([receiver] { receiver->Cancel(); });
        StartJob([this, receiver] {
            ProgressPrinter progress(m_terminal, m_context.out, IsTerminal(m_context.out),
                                     receiver->Offer().fileName + ": ");
            const auto result = receiver->Receive(
                [&](std::uint64_t done, std::uint32_t size) { progress.Update(done, size); });
            progress.Finish();
            if (result.end == TransferResult::End::Done) {
                Say("Saved " + DisplayPath(receiver->Target()));
            } else if (result.end != TransferResult::End::Canceled) {
                Complain(result.reason);
            }
        });
    }

    Context& m_context;
    Terminal m_terminal;
    AccountTransferRecords m_records;
    FileReceiveOptions m_options;
    std::string m_to;
    bool m_quit = false;
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_readerStop{false};
    std::thread m_reader;
    std::list<Job> m_jobs;
    std::vector<std::function<void()>> m_cancels;
    std::map<int, std::shared_ptr<FileReceiver>> m_offers;
    int m_nextOffer = 1;
};

}  // namespace

int InteractiveCommand(Context& context, const Account& account, const NetworkSettings& network) {
    Interactive interactive(context, account, network);
    return interactive.Run();
}

}  // namespace talvorine::client::cli
