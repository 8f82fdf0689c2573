#include "talvorine/mailpoll/mail_store.h"

#include <gtest/gtest.h>

#include "talvorine/platform/password_cipher.h"
#include "temp_registry.h"

namespace talvorine::mailpoll {
namespace {

using platform::RegistryKey;
using platform::RegistryStore;
using Bytes = std::vector<std::uint8_t>;

Bytes Prefix(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(TitleListTest, HomeAndWork) {
    const std::vector<std::string> titles{"Home", "Work"};
    const Bytes expected{0x02, 0x00, 0x04, 'H', 'o', 'm', 'e', 0x04, 'W', 'o', 'r', 'k'};
    EXPECT_EQ(EncodeTitleList(titles), expected);
    EXPECT_EQ(DecodeTitleList(expected), titles);
}

TEST(TitleListTest, LongLengthForms) {
    const std::vector<std::string> titles{std::string(254, 'a'), std::string(255, 'b'),
                                          std::string(65533, 'c'), std::string(65534, 'd'),
                                          std::string(70000, 'e')};
    const Bytes bytes = EncodeTitleList(titles);
    EXPECT_EQ(Prefix(bytes, 3), (Bytes{0x05, 0x00, 0xFE}));
    std::size_t at = 2 + 1 + 254;
    EXPECT_EQ(Bytes(bytes.begin() + at, bytes.begin() + at + 3), (Bytes{0xFF, 0xFF, 0x00}));
    at += 3 + 255;
    EXPECT_EQ(Bytes(bytes.begin() + at, bytes.begin() + at + 3), (Bytes{0xFF, 0xFD, 0xFF}));
    at += 3 + 65533;
    EXPECT_EQ(Bytes(bytes.begin() + at, bytes.begin() + at + 7),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}));
    at += 7 + 65534;
    EXPECT_EQ(Bytes(bytes.begin() + at, bytes.begin() + at + 7),
              (Bytes{0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}));
    EXPECT_EQ(DecodeTitleList(bytes), titles);
}

TEST(TitleListTest, LongCountForm) {
    const std::vector<std::string> titles(65535, "t");
    const Bytes bytes = EncodeTitleList(titles);
    EXPECT_EQ(Prefix(bytes, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 't'}));
    EXPECT_EQ(DecodeTitleList(bytes), titles);
    EXPECT_EQ(Prefix(EncodeTitleList(std::vector<std::string>(65534, "")), 2), (Bytes{0xFE, 0xFF}));
}

TEST(TitleListTest, DamagedListsAreRefused) {
    EXPECT_FALSE(DecodeTitleList(Bytes{}));
    EXPECT_FALSE(DecodeTitleList(Bytes{0x01}));
    EXPECT_FALSE(DecodeTitleList(Bytes{0x01, 0x00, 0x05, 'a', 'b'}));
    EXPECT_FALSE(DecodeTitleList(Bytes{0x01, 0x00, 0xFF, 0x10}));
    EXPECT_FALSE(DecodeTitleList(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}));
    EXPECT_EQ(DecodeTitleList(Bytes{0x00, 0x00}), std::vector<std::string>{});
}

class MailStoreTest : public ::testing::Test {
protected:
    testing::TempRegistry m_registry;
    MailStore m_store;
};

TEST_F(MailStoreTest, DefaultsWithoutAKey) {
    EXPECT_EQ(m_store.LoadSettings(), PostSentrySettings{});
    EXPECT_TRUE(m_store.LoadAccounts().empty());
    EXPECT_TRUE(PostSentrySettings{}.autoCheck);
    EXPECT_EQ(PostSentrySettings{}.intervalMinutes, 15u);
}

TEST_F(MailStoreTest, SaveAndLoadRoundTrip) {
    const PostSentrySettings settings{false, 30, true};
    const std::vector<MailAccount> accounts{
        {"Home", "pop.example.org", "ann", "sixteen-chars-pw", 110, 60},
        {"Work", "10.0.0.5", "ann.b", "", 995, 20}};
    m_store.Save(settings, accounts);
    EXPECT_EQ(m_store.LoadSettings(), settings);
    EXPECT_EQ(m_store.LoadAccounts(), accounts);

    // The stored values as other programs of the suite read them.
    const auto root = RegistryKey::Open(platform::Hive::CurrentUser, PostSentryKey);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->QueryBinary("MailAccount"),
              (Bytes{0x02, 0x00, 0x04, 'H', 'o', 'm', 'e', 0x04, 'W', 'o', 'r', 'k'}));
    EXPECT_EQ(root->QueryDword("Interval"), 30u);
    const auto home =
        RegistryKey::Open(platform::Hive::CurrentUser, "Software\\Talvorine\\PostSentry\\Home");
    ASSERT_TRUE(home);
    const auto stored = home->QueryBinary("Password");
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), 16u);
    const auto expected = platform::EncipherPassword("sixteen-chars-pw");
    EXPECT_EQ(*stored, Bytes(expected.begin(), expected.end()));
    EXPECT_EQ(home->QueryDword("Port"), 110u);
}

TEST_F(MailStoreTest, SavingDropsRemovedAccountsAndKeepsOrder) {
    m_store.Save({}, std::vector<MailAccount>{
                         {"A", "s", "a", ""}, {"B", "s", "b", ""}, {"C", "s", "c", ""}});
    m_store.Save({}, std::vector<MailAccount>{{"C", "s", "c", ""}, {"A", "s", "a", ""}});
    const auto loaded = m_store.LoadAccounts();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].title, "C");
    EXPECT_EQ(loaded[1].title, "A");
    EXPECT_FALSE(
        RegistryKey::Open(platform::Hive::CurrentUser, "Software\\Talvorine\\PostSentry\\B"));
}

TEST_F(MailStoreTest, AccountsWithoutServerOrAccountAreSkipped) {
    m_store.Save({}, std::vector<MailAccount>{{"Good", "s", "a", ""}, {"NoServer", "s", "a", ""}});
    auto broken = RegistryKey::Create(platform::Hive::CurrentUser,
                                      "Software\\Talvorine\\PostSentry\\NoServer");
    broken.DeleteValue("Server");
    broken.SetDword("Port", 700000);  // out of range: the default port
    const auto loaded = m_store.LoadAccounts();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].title, "Good");
}

TEST_F(MailStoreTest, OutOfRangePortAndZeroTimeoutFallBackToDefaults) {
    m_store.Save({}, std::vector<MailAccount>{{"Home", "s", "a", ""}});
    auto key =
        RegistryKey::Create(platform::Hive::CurrentUser, "Software\\Talvorine\\PostSentry\\Home");
    key.SetDword("Port", 700000);
    key.SetDword("Timeout", 0);
    key.DeleteValue("Password");
    const auto loaded = m_store.LoadAccounts();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].port, DefaultPop3Port);
    EXPECT_EQ(loaded[0].timeoutSeconds, DefaultReplyTimeoutSeconds);
    EXPECT_EQ(loaded[0].password, "");
}

}  // namespace
}  // namespace talvorine::mailpoll
