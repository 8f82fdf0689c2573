// tlvmsg as a new user meets it: the saved server, one interactive session per person
// conversing through the real server, and Ctrl-C during a file offer.

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "tlvmsg_fixture.h"

namespace {

using namespace tlvmsg_testing;
using talvorine::platform::Hive;
using talvorine::platform::RegistryKey;

constexpr const char* kNoServer =
    "No server is saved. Save one with 'tlvmsg config --server HOST [--port N]', or name it "
    "with --server HOST.\n";

TEST_F(Tlvmsg, TheSavedServerIsUsedByEveryCommandAndItsAbsenceIsNamedFirst) {
    // Nothing saved: the first error says what is missing, before any password is read.
    EXPECT_EQ(Plain("account new --nickname Alice", "secret7\n").output, kNoServer);
    EXPECT_EQ(Plain("account new --nickname Alice", "secret7\n").status, 1);
    EXPECT_EQ(Plain("config").output, "Server: (none)\nPort: 8000\n");
    // Without an account either, the server is named first: making an account needs it.
    EXPECT_EQ(Plain("send 00000002 hello").output, kNoServer);
    EXPECT_EQ(Plain("interactive").output, kNoServer);

    // Bad values are refused and nothing is written.
    EXPECT_EQ(Plain("config --server '   '").output, "Invalid server address\n");
    EXPECT_EQ(Plain("config --server 127.0.0.1 --port 80").output,
              "The port is a number from 5000 to 65535: 80\n");
    EXPECT_EQ(Plain("config --server 127.0.0.1 --port 8x").status, 1);
    EXPECT_EQ(Plain("config --frobnicate").status, 2);
    EXPECT_TRUE(talvorine::client::data::ClientSettings::Load().server.empty());

    const auto port = std::to_string(server.Port());
    const auto saved = Plain("config --server ' 127.0.0.1 ' --port " + port);
    EXPECT_EQ(saved.status, 0) << saved.output;
    EXPECT_EQ(saved.output, "Server: 127.0.0.1\nPort: " + port + "\n");
    const auto key =
        RegistryKey::Open(Hive::CurrentUser, "Software\\Talvorine\\Messenger\\Settings\\Network");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->GetString("Server", ""), "127.0.0.1");
    EXPECT_EQ(key->GetDword("Port", 0), server.Port());

    // Every command now reaches the server without naming it.
    const auto alice = Plain("account new --nickname Alice", "secret7\n").output.substr(0, 8);
    const auto bob = Plain("account new --nickname Bob", "secret7\n").output.substr(0, 8);
    ASSERT_TRUE(talvorine::client::data::IsValidId(bob)) << bob;
    const auto sent = Plain("--account " + alice + " send " + bob + " 'saved server'");
    EXPECT_EQ(sent.status, 0) << sent.output;
    EXPECT_EQ(Plain("--account " + bob + " status " + alice).output, "Offline\n");

    // A server named on the command line still wins over the saved one.
    EXPECT_EQ(Plain("config --port 5000").output, "Server: 127.0.0.1\nPort: 5000\n");
    EXPECT_EQ(Run(bob, "status " + alice).output, "Offline\n");
    EXPECT_NE(Plain("--account " + bob + " status " + alice).output.find("Failed to connect"),
              std::string::npos);
}

TEST_F(Tlvmsg, TwoInteractiveSessionsConverseSendAFileAndLogOut) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    const auto file = FileOf("notes.txt", 20000);

    auto a = OnTerminal(alice, "interactive");
    auto b = OnTerminal(bob, "interactive");
    ASSERT_TRUE(a->WaitFor("Logged in as " + alice + " (Alice)")) << a->Output();
    ASSERT_TRUE(b->WaitFor("Logged in as " + bob + " (Bob)")) << b->Output();

    // Text without a correspondent is refused, not lost silently.
    a->Type("hello?");
    EXPECT_TRUE(a->WaitFor("Choose whom to write to first: /to ID")) << a->Output();

    a->Type("/to " + bob);
    EXPECT_TRUE(a->WaitFor("Your lines go to " + bob)) << a->Output();
    a->Type("hello Bob, lunch at noon?");
    EXPECT_TRUE(b->WaitFor(alice + ": hello Bob, lunch at noon?")) << b->Output();
    b->Type("/msg " + alice + " yes, see you there");
    EXPECT_TRUE(a->WaitFor(bob + ": yes, see you there")) << a->Output();
    b->Type("/status " + alice);
    EXPECT_TRUE(b->WaitFor(alice + ": Online")) << b->Output();

    // Away answers automatically while the session keeps receiving.
    b->Type("/away back at two");
    for (int i = 0; i < 100 && Run(alice, "status " + bob).output != "Away\n"; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    a->Type("are you there?");
    EXPECT_TRUE(a->WaitFor(bob + " (automatic reply): back at two")) << a->Output();
    EXPECT_TRUE(b->WaitFor(alice + ": are you there?")) << b->Output();
    b->Type("/online");

    // A file offered in one session is answered in the other.
    a->Type("/send-file " + bob + " " + file.string() + " -- the notes");
    EXPECT_TRUE(b->WaitFor(alice + " offers notes.txt (20000 bytes): the notes. Type /accept 1"))
        << b->Output();
    b->Type("/files");
    EXPECT_TRUE(b->WaitFor("1: notes.txt (20000 bytes) from " + alice)) << b->Output();
    b->Type("/accept 1");
    const auto saved = home.Path() / "client" / "Received Files" / alice / "notes.txt";
    EXPECT_TRUE(b->WaitFor("Saved " + saved.string())) << b->Output();
    EXPECT_TRUE(a->WaitFor("Sent notes.txt to " + bob + ".")) << a->Output();
    EXPECT_TRUE(a->WaitFor("notes.txt: 100%")) << a->Output();
    EXPECT_EQ(fs::file_size(saved), 20000u);
    b->Type("/accept 1");
    EXPECT_TRUE(b->WaitFor("No offered file has the number '1'")) << b->Output();

    b->Type("/history " + alice);
    EXPECT_TRUE(b->WaitFor("from " + alice + ": hello Bob, lunch at noon?")) << b->Output();
    b->Type("/frobnicate");
    EXPECT_TRUE(b->WaitFor("Unknown command: /frobnicate")) << b->Output();

    // /quit and end of input both log out in order.
    a->Type("/quit");
    EXPECT_EQ(a->Wait(), 0) << a->Output();
    EXPECT_NE(a->Output().find("Logged out."), std::string::npos);
    b->Interrupt();
    EXPECT_EQ(b->Wait(), 0) << b->Output();
    EXPECT_TRUE(server.WaitForConsole(alice + " logged out.") ||
                server.LogText().find(alice + " logged out.") != std::string::npos)
        << server.LogText();
    EXPECT_NE(server.LogText().find(bob + " logged out."), std::string::npos) << server.LogText();
}

TEST_F(Tlvmsg, CtrlCWhileAnOfferWaitsWithdrawsItAndLogsOut) {
    const auto [alice, bob, file] = OfferToAListener();
    auto sender = OnTerminal(alice, "send-file " + bob + " '" + file.string() + "'");
    ASSERT_TRUE(
        sender->WaitFor("Offering report.txt (5000 bytes) to " + bob + "; waiting for the answer"))
        << sender->Output();
    sender->Interrupt();
    EXPECT_EQ(sender->Wait(), 1) << sender->Output();
    EXPECT_NE(sender->Output().find("Interrupted; the offer is withdrawn."), std::string::npos)
        << sender->Output();
    for (int i = 0; i < 100 && server.LogText().find(alice + " logged out.") == std::string::npos;
         ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_NE(server.LogText().find(alice + " logged out."), std::string::npos) << server.LogText();
    StopListener();

    ::setenv("TALVORINE_CLIENT_HOME", (home.Path() / "client").c_str(), 1);
    const auto records = talvorine::client::data::ReadTransferHistory(alice, bob);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].status, "Canceled");
}

}  // namespace
