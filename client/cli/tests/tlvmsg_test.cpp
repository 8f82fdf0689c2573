// tlvmsg from a shell against the real server: one account sends to another that listens,
// offline delivery at the next listen, and the exit status of a refused send.

#include "tlvmsg_fixture.h"

namespace {

using namespace tlvmsg_testing;

TEST_F(Tlvmsg, LiveAndOfflineMessagesAndARefusedSend) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    ASSERT_NE(alice, bob);

    auto listener = Listen(bob);
    const auto sent = Run(alice, "send " + bob + " 'hello from the shell'");
    EXPECT_EQ(sent.status, 0) << sent.output;
    EXPECT_TRUE(WaitFor(listener, alice + ": hello from the shell")) << Text(listener);
    const auto status = Run(alice, "status " + bob);
    EXPECT_EQ(status.output, "Online\n");
    Stop(listener);

    const auto offline = Run(alice, "send " + bob + " -", "stored for later\n");
    EXPECT_EQ(offline.status, 0) << offline.output;
    EXPECT_NE(offline.output.find("Sent as an offline message."), std::string::npos);
    listener = Listen(bob);
    EXPECT_TRUE(WaitFor(listener, alice + " (offline): stored for later")) << Text(listener);
    Stop(listener);

    const auto history = Run(bob, "history " + alice);
    EXPECT_EQ(history.status, 0);
    EXPECT_NE(history.output.find("from " + alice + ": hello from the shell"), std::string::npos);
    EXPECT_NE(history.output.find("from " + alice + ": stored for later"), std::string::npos);
    EXPECT_NE(Run(alice, "history " + bob + " --sent").output.find("stored for later"),
              std::string::npos);

    talvorine::platform::RegistryKey::Create(talvorine::platform::Hive::CurrentUser,
                                             "Software\\Talvorine\\Messenger\\SendMessage")
        .SetDword("Send Offline Message", 0);
    const auto refused = Run(alice, "send " + bob + " 'not now'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("Failed to send message to " + bob + ":\r\nUser is not online"),
              std::string::npos)
        << refused.output;
}

TEST_F(Tlvmsg, AwayListenerAnswersAndBadInputExitsNonZero) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    auto listener = Listen(bob, "--away 'out for lunch'");
    for (int i = 0; i < 100 && Run(alice, "status " + bob).output != "Away\n"; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    const auto sent = Run(alice, "send " + bob + " 'lunch?'");
    EXPECT_EQ(sent.status, 0);
    EXPECT_NE(sent.output.find("(automatic reply): out for lunch"), std::string::npos)
        << sent.output;
    Stop(listener);

    EXPECT_EQ(Run(alice, "send").status, 2);
    EXPECT_EQ(Run(alice, "frobnicate").status, 2);
    EXPECT_EQ(Run(alice, "send --help").status, 0);
    EXPECT_EQ(Run("", "account import 12345678", "wrongpass\n").status, 1);
    EXPECT_EQ(Run(alice, "send " + bob + " ''").output, "Can not send empty message.\r\n");
    EXPECT_EQ(Run("", "account new", "has space\n").output,
              "Password can not include space character\n");
}

TEST_F(Tlvmsg, SendFileToAReceiverWithBothTransferRecords) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    const auto file = home.Path() / "report.txt";
    std::ofstream(file) << std::string(10000, 'r');
    auto receiver = Background(bob, "receive-files", "Receiving files as");
    const auto sent =
        Run(alice, "send-file " + bob + " '" + file.string() + "' --description figures");
    EXPECT_EQ(sent.status, 0) << sent.output;
    EXPECT_NE(sent.output.find("100%"), std::string::npos) << sent.output;
    const auto saved = home.Path() / "client" / "Received Files" / alice / "report.txt";
    EXPECT_TRUE(WaitFor(receiver, saved.string())) << Text(receiver);
    Stop(receiver);
    EXPECT_EQ(fs::file_size(saved), 10000u);

    const auto records = [&](const std::string& own, const std::string& peer) {
        return talvorine::client::data::ReadTransferHistory(own, peer);
    };
    ::setenv("TALVORINE_CLIENT_HOME", (home.Path() / "client").c_str(), 1);
    const auto outgoing = records(alice, bob);
    const auto incoming = records(bob, alice);
    ASSERT_EQ(outgoing.size(), 1u);
    ASSERT_EQ(incoming.size(), 1u);
    EXPECT_EQ(outgoing[0].type, 0);
    EXPECT_EQ(outgoing[0].fileName, file.string());
    EXPECT_EQ(outgoing[0].description, "figures");
    EXPECT_EQ(outgoing[0].status, "Done");
    EXPECT_EQ(incoming[0].type, 1);
    EXPECT_EQ(incoming[0].fileName, "report.txt");
    EXPECT_EQ(incoming[0].size, "10000");
    EXPECT_TRUE(incoming[0].done);
    EXPECT_EQ(incoming[0].savedAs, saved.string());

    EXPECT_EQ(
        Run(alice, "send-file " + bob + " '" + (home.Path() / "missing").string() + "'").output,
        "Failed to open this file\n");
    const auto offline = Run(alice, "send-file " + bob + " '" + file.string() + "'");
    EXPECT_EQ(offline.output, "Offering report.txt (10000 bytes) to " + bob +
                                  "; waiting for the answer ...\nFailed: User is not on-line\n");
}

}  // namespace
