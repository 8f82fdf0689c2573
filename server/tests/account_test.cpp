// Account connections against the real server: new account, import, user information,
// password change, search and icons.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "server_harness.h"
#include "session_client.h"

namespace talvorine::server::testing {
namespace {

namespace rt = protocol::ReplyText;
namespace fs = std::filesystem;

class AccountTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        user = NewAccount(server.AccountPort()).userId;
    }

    Packet One(int type, std::span<const std::uint8_t> body) {
        return AccountRequest(server.AccountPort(), type, body).at(0);
    }
    void ExpectFailure(int type, std::span<const std::uint8_t> body, std::string_view text) {
        const Packet reply = One(type, body);
        EXPECT_EQ(reply.type, pt::Failed);
        EXPECT_EQ(reply.Text(), text);
    }

    protocol::UserProfile Profile(std::string nickname, std::string email) {
        protocol::UserProfile profile;
        profile.userId = user;
        profile.password = user;
        profile.realName = "Seán O'Brien";
        profile.nickname = std::move(nickname);
        profile.gender = "1";
        profile.email = std::move(email);
        profile.city = "Zürich";
        return profile;
    }

    fs::path Icon(int file) const {
        return server.ServerFolder() / "Icons" / (user + "-" + std::to_string(file) + ".bmp");
    }

    ServerHarness server;
    std::string user;
};

TEST_F(AccountTest, NewAccountsAnswerTheIdAndTheSamePassword) {
    const auto replies = AccountRequest(server.AccountPort(), pt::NewAccount, {});
    ASSERT_EQ(replies[0].type, pt::Ok);
    ASSERT_EQ(replies[0].body.size(), protocol::Size::AccountCredentials);
    EXPECT_EQ(user, "00000001");
    const auto credentials = protocol::AccountCredentials::Decode(replies[0].body);
    EXPECT_EQ(credentials.userId, "00000002");
    EXPECT_EQ(credentials.password, "00000002");
    EXPECT_NE(server.LogText().find("Applied new account ID: succeeded."), std::string::npos);
}

TEST_F(AccountTest, ImportAndViewAnswerTheProfileWithoutPassword) {
    ASSERT_EQ(One(pt::ChangeUserInfo, Profile("Seán", "sean@example.org").Encode()).type, pt::Ok);

    const Packet imported =
        One(pt::ImportAccount, protocol::AccountCredentials{user, user}.Encode());
    ASSERT_EQ(imported.type, pt::Ok);
    ASSERT_EQ(imported.body.size(), protocol::Size::UserProfile);
    auto profile = protocol::UserProfile::Decode(imported.body);
    EXPECT_EQ(profile.userId, user);
    EXPECT_TRUE(std::all_of(imported.body.begin() + 9, imported.body.begin() + 26,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(profile.realName, "Seán O'Brien");
    EXPECT_EQ(profile.nickname, "Seán");
    EXPECT_EQ(profile.city, "Zürich");

    const Packet viewed = One(pt::ViewUserInfo, IdField(user));
    ASSERT_EQ(viewed.type, pt::Ok);
    EXPECT_EQ(protocol::UserProfile::Decode(viewed.body).email, "sean@example.org");

    ExpectFailure(pt::ImportAccount, protocol::AccountCredentials{user, "wrong"}.Encode(),
                  rt::FailedToImportAccount);
    EXPECT_NE(server.LogText().find("Imported account ID " + user + ": failed."),
              std::string::npos);
    ExpectFailure(pt::ImportAccount, Bytes("00000001"), rt::FailedToImportAccount);
    ExpectFailure(pt::ViewUserInfo, IdField("00000099"), rt::FailedToGetUserInfo);
    ExpectFailure(pt::ViewUserInfo, IdField("1' OR 1"), rt::FailedToGetUserInfo);
}

TEST_F(AccountTest, ChangeUserInfoNeedsTheOwnersPassword) {
    auto profile = Profile("nick", "mail");
    profile.password = "wrong";
    ExpectFailure(pt::ChangeUserInfo, profile.Encode(), rt::AuthorizationFailed);
    const auto bytes = Profile("nick", "mail").Encode();
    ExpectFailure(pt::ChangeUserInfo, std::span(bytes).first(2105), rt::PacketSizeError);
    // A disabled account may still change its own information.
    server.Execute("UPDATE USERS SET Disabled=1 WHERE ID='" + user + "'");
    EXPECT_EQ(One(pt::ChangeUserInfo, bytes).type, pt::Ok);
}

TEST_F(AccountTest, ChangePasswordAndLogInWithTheNewOne) {
    ExpectFailure(pt::ChangePassword, protocol::PasswordChange{user, "wrong", "secret"}.Encode(),
                  rt::FailedToChangePassword);
    ExpectFailure(pt::ChangePassword, protocol::PasswordChange{user, user, ""}.Encode(),
                  rt::FailedToChangePassword);
    ExpectFailure(pt::ChangePassword, Bytes("short"), rt::FailedToChangePassword);
    EXPECT_EQ(
        One(pt::ChangePassword, protocol::PasswordChange{user, user, "s3cr'et"}.Encode()).type,
        pt::Ok);
    SessionClient old(server.Port());
    EXPECT_EQ(old.Login(user, user).type, pt::LoginAuthorizationFailed);
    SessionClient client(server.Port());
    client.LoginOk(user, "s3cr'et");
}

TEST_F(AccountTest, SearchSendsRowsThenTheEndMark) {
    ASSERT_EQ(One(pt::ChangeUserInfo, Profile("Anna", "anna@example.org").Encode()).type, pt::Ok);
    const std::string other = NewAccount(server.AccountPort()).userId;
    const std::string silent = NewAccount(server.AccountPort()).userId;  // no nickname
    auto profile = Profile("Daniel", "dan@example.org");
    profile.userId = profile.password = other;
    ASSERT_EQ(One(pt::ChangeUserInfo, profile.Encode()).type, pt::Ok);

    protocol::SearchRequest search{1, 0, "an"};
    protocol::Socket socket = server.ConnectAccount();
    protocol::SendPacket(socket.Get(), pt::SearchUsers, search.Encode(), 30);
    EXPECT_EQ(Receive(socket.Get(), 4095).type, pt::Ok);
    std::vector<std::string> found;
    for (;;) {
        const Packet row = Receive(socket.Get(), 4095);
        if (row.type == pt::Failed) {
            EXPECT_TRUE(row.body.empty());
            break;
        }
        ASSERT_EQ(row.body.size(), protocol::Size::SearchRow);
        const auto decoded = protocol::SearchRow::Decode(row.body);
        found.push_back(decoded.userId + " " + decoded.nickname + " " + decoded.email);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{user + " Anna anna@example.org",
                                               other + " Daniel dan@example.org"}));

    ExpectFailure(pt::SearchUsers, protocol::SearchRequest{2, 1, "nobody"}.Encode(),
                  rt::NoMatchedUsers);
    ExpectFailure(pt::SearchUsers, protocol::SearchRequest{0, 1, silent}.Encode(),
                  rt::NoMatchedUsers);
    // 255 single quotes are built into the statement as 510 and run.
    ExpectFailure(pt::SearchUsers, protocol::SearchRequest{1, 0, std::string(255, '\'')}.Encode(),
                  rt::NoMatchedUsers);
    const auto bytes = search.Encode();
    ExpectFailure(pt::SearchUsers, std::span(bytes).first(257), rt::PacketSizeError);
    ExpectFailure(pt::SearchUsers, protocol::SearchRequest{3, 0, "an"}.Encode(),
                  rt::PacketSizeError);
    ExpectFailure(pt::SearchUsers, protocol::SearchRequest{1, 2, "an"}.Encode(),
                  rt::PacketSizeError);
}

TEST_F(AccountTest, IconUploadedInPiecesComesBackIdentical) {
    std::vector<std::uint8_t> icon(20000);
    std::mt19937 random(7);
    for (auto& byte : icon) {
        byte = static_cast<std::uint8_t>(random());
    }
    {
        protocol::Socket socket = server.ConnectAccount();
        protocol::SendPacket(socket.Get(), pt::UploadIcon,
                             protocol::IconUpload{user, user, 1, 20000}.Encode(), 30);
        ASSERT_EQ(Receive(socket.Get(), 4095).type, pt::Ok);
        for (std::size_t offset = 0; offset < icon.size(); offset += 3000) {
            const auto piece =
                std::span(icon).subspan(offset, std::min<std::size_t>(3000, icon.size() - offset));
            ASSERT_EQ(protocol::SendRaw(socket.Get(), piece, 30), static_cast<long>(piece.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(PeerCloses(socket.Get()));
    }
    ASSERT_TRUE(fs::exists(Icon(2)));
    EXPECT_EQ(fs::file_size(Icon(2)), 20000u);

    protocol::Socket socket = server.ConnectAccount();
    protocol::SendPacket(socket.Get(), pt::DownloadIcon, protocol::IconDownload{user, 1}.Encode(),
                         30);
    const Packet reply = Receive(socket.Get(), 4095);
    ASSERT_EQ(reply.type, pt::Ok);
    ASSERT_EQ(reply.body.size(), 4u);
    EXPECT_EQ(reply.body[0] | (reply.body[1] << 8) | (reply.body[2] << 16), 20000);
    std::vector<std::uint8_t> downloaded(20000);
    std::size_t received = 0;
    while (received < downloaded.size()) {
        received += static_cast<std::size_t>(
            protocol::ReceiveOrThrow(socket.Get(), std::span(downloaded).subspan(received), 0, 30));
    }
    EXPECT_EQ(downloaded, icon);
    EXPECT_TRUE(PeerCloses(socket.Get()));
}

TEST_F(AccountTest, IconRefusals) {
    ExpectFailure(pt::UploadIcon, protocol::IconUpload{user, user, 3, 100}.Encode(),
                  rt::InvalidRequest);
    EXPECT_FALSE(fs::exists(server.ServerFolder() / "Icons"));
    ExpectFailure(pt::UploadIcon, protocol::IconUpload{user, user, 0, 32768}.Encode(),
                  rt::InvalidRequest);
    ExpectFailure(pt::UploadIcon, protocol::IconUpload{user, "wrong", 0, 10}.Encode(),
                  rt::AuthorizationFailed);
    ExpectFailure(pt::UploadIcon, protocol::IconUpload{"../../x", user, 0, 10}.Encode(),
                  rt::AuthorizationFailed);
    const auto upload = protocol::IconUpload{user, user, 0, 10}.Encode();
    ExpectFailure(pt::UploadIcon, std::span(upload).first(33), rt::PacketSizeError);

    ExpectFailure(pt::DownloadIcon, protocol::IconDownload{user, 0}.Encode(),
                  rt::CustomizedIconNotFound);
    ExpectFailure(pt::DownloadIcon, protocol::IconDownload{user, -1}.Encode(), rt::InvalidRequest);
    // "../../x" from the Icons folder would name a file beside the server folder.
    std::ofstream(server.ServerFolder() / ".." / "x-1.bmp") << "outside";
    ExpectFailure(pt::DownloadIcon, protocol::IconDownload{"../../x", 0}.Encode(),
                  rt::CustomizedIconNotFound);
    ExpectFailure(pt::DownloadIcon, Bytes("000000010000"), rt::PacketSizeError);
}

TEST_F(AccountTest, BrokenUploadKeepsTheOldIcon) {
    const auto upload = [&](std::string_view content, std::int32_t announced) {
        protocol::Socket socket = server.ConnectAccount();
        protocol::SendPacket(socket.Get(), pt::UploadIcon,
                             protocol::IconUpload{user, user, 2, announced}.Encode(), 30);
        ASSERT_EQ(Receive(socket.Get(), 4095).type, pt::Ok);
        protocol::SendRaw(socket.Get(), Bytes(content), 30);
        socket.Close();
    };
    upload("complete", 8);
    ASSERT_TRUE(Eventually([&] { return fs::exists(Icon(3)); }));
    upload("cut", 100);  // the client goes away before the announced size
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::ifstream file(Icon(3));
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "complete");
    // No temporary file is left behind.
    EXPECT_EQ(
        std::distance(fs::directory_iterator(Icon(3).parent_path()), fs::directory_iterator()), 1);
}

TEST_F(AccountTest, UnknownRequestAnswersUnknownMessageId) {
    ExpectFailure(77, {}, rt::UnknownMessageId);
}

}  // namespace
}  // namespace talvorine::server::testing
