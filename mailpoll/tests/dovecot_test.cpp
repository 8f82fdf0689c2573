// The poller against a real POP3 server: a private Dovecot on a loopback port of its own,
// with mailboxes whose senders and subjects are encoded words.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "talvorine/mailpoll/delete_worker.h"
#include "talvorine/mailpoll/mail_checker.h"

namespace talvorine::mailpoll {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::uint16_t FreePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

// Dovecot in a temporary folder, stopped and removed with the object.
class Dovecot {
public:
    Dovecot() : m_port(FreePort()) {
        std::string pattern = (fs::temp_directory_path() / "mailpoll-dovecot-XXXXXX").string();
        m_folder = ::mkdtemp(pattern.data());
        m_started = Script("start '" + m_folder.string() + "' " + std::to_string(m_port));
    }
    ~Dovecot() { Script("stop '" + m_folder.string() + "'"); }
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    bool Started() const { return m_started; }
    std::uint16_t Port() const { return m_port; }
    std::string Log() const {
        std::ifstream in(m_folder / "dovecot.log");
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void AddUser(const std::string& name, const std::string& password) {
        ASSERT_TRUE(Script("user '" + m_folder.string() + "' " + name + " " + password));
    }
    void Deliver(const std::string& name, const std::string& headers) {
        const auto file = m_folder / "message.eml";
        std::ofstream(file) << headers << "\r\n\r\nA message for the poller.\r\n";
        ASSERT_TRUE(
            Script("deliver '" + m_folder.string() + "' " + name + " '" + file.string() + "'"));
    }

private:
    static bool Script(const std::string& arguments) {
        const auto command = std::string("bash '") + DOVECOT_SCRIPT + "' " + arguments;
        return std::system(command.c_str()) == 0;
    }

    std::uint16_t m_port;
    fs::path m_folder;
    bool m_started = false;
};

class Observer : public CheckObserver, public DeleteObserver {
public:
    MailChecker* checker = nullptr;

    void StatusChanged(std::size_t) override {}
    void CountChanged(std::size_t) override {}
    void CheckFinished(std::size_t index) override {
        const std::lock_guard lock(m_mutex);
        m_finished.push_back(checker->Status(index));
        m_changed.notify_all();
    }
    void HeaderFetched(std::size_t, const MailHeaderItem& item) override {
        const std::lock_guard lock(m_mutex);
        headers.push_back(item);
    }
    void DeleteProgress(const std::string& text) override {
        const std::lock_guard lock(m_mutex);
        progress.push_back(text);
    }
    void MessageDeleted(std::size_t) override {}
    void DeleteFinished(bool, const std::string&) override {}

    // The status the job ended with.
    std::string WaitFinished() {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 20s, [&] { return !m_finished.empty(); });
        std::string status = m_finished.empty() ? "(still running)" : m_finished.front();
        m_finished.clear();
        return status;
    }

    std::vector<MailHeaderItem> headers;
    std::vector<std::string> progress;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_finished;
};

class DovecotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dovecot.Started()) << "Dovecot (dovecot-pop3d, scripts/install-deps.sh) "
                                          "did not start:\n"
                                       << dovecot.Log();
        dovecot.AddUser("juergen", "secret");
    }
    MailAccount Account(const std::string& password, std::uint16_t port = 0) const {
        return {"Office", "127.0.0.1", "juergen", password, port != 0 ? port : dovecot.Port(), 10};
    }

    Dovecot dovecot;
    Observer observer;
};

TEST_F(DovecotTest, EncodedSendersAndSubjectsAreListedDecoded) {
    dovecot.Deliver("juergen",
                    "From: =?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <juergen@example.org>\r\n"
                    "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_M=C3=BCnchen?=\r\n"
                    "Date: Tue, 8 Dec 2026 09:00:00 +0100");
    dovecot.Deliver("juergen",
                    "From: =?ISO-8859-1?Q?Fran=E7ois_L=E9vesque?= <francois@example.org>\r\n"
                    "Subject: =?ISO-8859-1?B?UulzdW3pIGRlIGxhIHLpdW5pb24=?=\r\n"
                    "Date: Tue, 8 Dec 2026 10:00:00 +0100");
    dovecot.Deliver("juergen",
                    "From: plain@example.org\r\n"
                    "Subject: =?UTF-8?B?broken\r\n"
                    "Date: Tue, 8 Dec 2026 11:00:00 +0100");

    MailChecker checker(observer);
    observer.checker = &checker;
    checker.SetAccounts({Account("secret")});
    checker.StartCheck(0, true);
    EXPECT_EQ(observer.WaitFinished(), "Done.");
    EXPECT_EQ(checker.Count(0), 3u);
    std::map<std::string, std::string> subjects;
    for (const auto& item : observer.headers) {
        subjects[item.from] = item.subject;
        EXPECT_GT(item.size, 100u);
    }
    EXPECT_EQ(subjects["Jürgen Müller <juergen@example.org>"], "Grüße aus München");
    EXPECT_EQ(subjects["François Lévesque <francois@example.org>"], "Résumé de la réunion");
    EXPECT_EQ(subjects["plain@example.org"], "=?UTF-8?B?broken");
}

TEST_F(DovecotTest, AWrongPasswordAndAClosedPortAreToldApart) {
    MailChecker checker(observer);
    observer.checker = &checker;
    checker.SetAccounts({Account("wrong"), Account("secret", FreePort())});
    checker.StartCheck(0, false);
    EXPECT_EQ(observer.WaitFinished(), "-ERR [AUTH] Authentication failed.");
    checker.StartCheck(1, false);
    EXPECT_EQ(observer.WaitFinished(), "Connection failed");

    // Deleting opens a session of its own and tells the same difference.
    {
        DeleteWorker worker(observer);
        worker.Start(Account("wrong"), {1});
        worker.Wait();
        DeleteWorker closed(observer);
        closed.Start(Account("secret", FreePort()), {1});
        closed.Wait();
    }
    EXPECT_EQ(observer.progress,
              (std::vector<std::string>{"Connecting ...",
                                        "The server refused the login: -ERR [AUTH] "
                                        "Authentication failed.",
                                        "Connecting ...", "Connection failed."}));
}

}  // namespace
}  // namespace talvorine::mailpoll
