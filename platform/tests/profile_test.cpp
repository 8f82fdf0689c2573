#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "talvorine/platform/private_profile.h"

namespace talvorine::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/talvorine-profile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_file = m_dir / "List.dat";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
    fs::path m_file;
};

TEST_F(ProfileTest, WriteToAMissingFileCreatesIt) {
    PrivateProfile profile(m_file);
    EXPECT_EQ(profile.ReadString("Main", "ActiveGroup", "none"), "none");
    EXPECT_EQ(profile.ReadInt("Main", "ActiveGroup", -1), -1);
    EXPECT_TRUE(profile.SectionNames().empty());

    ASSERT_TRUE(profile.Write("Groups", "Friends"sv, ""sv));
    ASSERT_TRUE(profile.Write("Main", "ActiveGroup"sv, "0"sv));
    ASSERT_TRUE(profile.Write("Groups", "Work"sv, ""sv));
    EXPECT_EQ(ReadFile(m_file), "[Groups]\nFriends=\nWork=\n\n[Main]\nActiveGroup=0\n");
    EXPECT_EQ(profile.ReadInt("Main", "ActiveGroup", -1), 0);
    EXPECT_EQ(profile.SectionNames(), (std::vector<std::string>{"Groups", "Main"}));

    // A missing folder is the caller's to create: the write fails and says why.
    PrivateProfile nowhere(m_dir / "missing" / "Groups.dat");
    errno = 0;
    EXPECT_FALSE(nowhere.Write("Groups", "a"sv, "b"sv));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ProfileTest, SectionsAndKeysIgnoreCaseAndUntouchedLinesStay) {
    const std::string original =
        "; contact list\r\n"
        "[Groups]\r\n"
        "  Friends  =  \r\n"
        "Zebra=\r\n"
        "Alpha = first value \r\n"
        "\r\n"
        "[Main]\r\n"
        "ActiveGroup=2\r\n";
    WriteFile(m_file, original);
    PrivateProfile profile(m_file);
    EXPECT_EQ(profile.ReadString("GROUPS", "alpha", "x"), "first value");
    EXPECT_EQ(profile.ReadString("groups", "FRIENDS", "x"), "");
    EXPECT_EQ(profile.ReadInt("main", "activegroup", -1), 2);
    EXPECT_EQ(profile.ReadSection("gRoUpS"),
              (std::vector<std::string>{"Friends=", "Zebra=", "Alpha=first value"}));

    ASSERT_TRUE(profile.Write("groups", "ALPHA"sv, "second"sv));  // keeps the key's spelling
    ASSERT_TRUE(profile.Write("GROUPS", "Beta"sv, "new"sv));      // appended at the section's end
    EXPECT_EQ(ReadFile(m_file),
              "; contact list\r\n"
              "[Groups]\r\n"
              "  Friends  =  \r\n"
              "Zebra=\r\n"
              "Alpha=second\r\n"
              "Beta=new\r\n"
              "\r\n"
              "[Main]\r\n"
              "ActiveGroup=2\r\n");
}

TEST_F(ProfileTest, NullValueDeletesTheKeyAndNullKeyTheSection) {
    WriteFile(m_file, "[A]\nk1=1\nk2=2\n\n[B]\nx=1\n[a]\nk3=3\n");
    PrivateProfile profile(m_file);
    ASSERT_TRUE(profile.Write("a", "K1"sv, std::nullopt));
    EXPECT_EQ(profile.ReadString("A", "k1", "gone"), "gone");
    EXPECT_EQ(profile.ReadString("A", "k2", "gone"), "2");
    ASSERT_TRUE(profile.DeleteKey("A", "absent"));
    ASSERT_TRUE(profile.Write("A", std::nullopt, std::nullopt));  // every section of the name
    EXPECT_EQ(ReadFile(m_file), "[B]\nx=1\n");
    ASSERT_TRUE(profile.DeleteSection("Nowhere"));
    EXPECT_EQ(profile.SectionNames(), std::vector<std::string>{"B"});
}

TEST_F(ProfileTest, SectionReadIsCutAt16384Bytes) {
    // Each contact line "12345678=" takes 10 bytes with its NUL: 1638 lines and the closing NUL
    // fit in 16384 bytes, the 1639th line does not.
    std::vector<std::string> lines;
    for (int i = 0; i < 1700; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "%08d=", i);
        lines.push_back(line);
    }
    PrivateProfile profile(m_file);
    ASSERT_TRUE(profile.WriteSection("Friends", lines));
    const std::vector<std::string> read = profile.ReadSection("Friends");
    ASSERT_EQ(read.size(), 1638u);
    EXPECT_EQ(read.back(), lines[1637]);
    EXPECT_EQ(profile.ReadSection("Friends", 1 << 20).size(), 1700u);
    EXPECT_EQ(profile.ReadSection("Friends", 11).size(), 1u);
    EXPECT_EQ(profile.ReadSection("Friends", 10).size(), 0u);
}

TEST_F(ProfileTest, WriteSectionReplacesOnlyThatSectionsLines) {
    WriteFile(m_file, "[Friends]\n; kept\n00000001=\n00000002=\n\n[Work]\n00000003=\n");
    PrivateProfile profile(m_file);
    ASSERT_TRUE(profile.WriteSection("FRIENDS", {"00000009=", "00000008="}));
    EXPECT_EQ(ReadFile(m_file), "[Friends]\n; kept\n00000009=\n00000008=\n\n[Work]\n00000003=\n");
    ASSERT_TRUE(profile.WriteSection("New", {"a=1"}));
    EXPECT_EQ(profile.ReadSection("new"), std::vector<std::string>{"a=1"});
    errno = 0;
    EXPECT_FALSE(profile.WriteSection("Work", {"no equals sign"}));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(profile.ReadSection("Work"), std::vector<std::string>{"00000003="});
}

TEST_F(ProfileTest, IntegersReadLikeTheWindowsCall) {
    WriteFile(m_file,
              "[N]\nplain=42\nsigned=-17\nplus=+5\ntail=12abc\nword=abc\nempty=\n"
              "blank=  7  \nwrap=4294967297\n");
    PrivateProfile profile(m_file);
    EXPECT_EQ(profile.ReadInt("N", "plain", -1), 42);
    EXPECT_EQ(profile.ReadInt("N", "signed", -1), -17);
    EXPECT_EQ(profile.ReadInt("N", "plus", -1), 5);
    EXPECT_EQ(profile.ReadInt("N", "tail", -1), 12);
    EXPECT_EQ(profile.ReadInt("N", "word", -1), 0);
    EXPECT_EQ(profile.ReadInt("N", "empty", -1), 0);
    EXPECT_EQ(profile.ReadInt("N", "blank", -1), 7);
    EXPECT_EQ(profile.ReadInt("N", "wrap", -1), 1);
    EXPECT_EQ(profile.ReadInt("N", "missing", -1), -1);
}

TEST_F(ProfileTest, StringsAreCutWithoutHalfACharacter) {
    PrivateProfile profile(m_file);
    ASSERT_TRUE(profile.Write("12345678", "Nickname"sv, "aé"sv));  // 'a' + 2 bytes
    EXPECT_EQ(profile.ReadString("12345678", "Nickname", "", 4), "aé");
    EXPECT_EQ(profile.ReadString("12345678", "Nickname", "", 3), "a");
    EXPECT_EQ(profile.ReadString("12345678", "Nickname", "", 1), "");
    EXPECT_EQ(profile.ReadString("12345678", "Missing", "défaut", 3), "d");
    EXPECT_EQ(profile.ReadString("12345678", "Missing", "x", 0), "");
}

TEST_F(ProfileTest, RefusesTextThatWouldBreakTheFile) {
    WriteFile(m_file, "[S]\nk=v\n");
    PrivateProfile profile(m_file);
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"k", "two\nlines"},
                                                          {"k\r", "v"},
                                                          {"a=b", "v"},
                                                          {"[x", "v"},
                                                          {";x", "v"},
                                                          {"k", "nul\0"s}}) {
        errno = 0;
        EXPECT_FALSE(profile.Write("S", std::string_view(key), std::string_view(value))) << key;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_FALSE(profile.Write("S\n[T]", "k"sv, "v"sv));
    EXPECT_EQ(ReadFile(m_file), "[S]\nk=v\n");
}

TEST_F(ProfileTest, BinaryMessReadsWhatParsesAndSurvivesRewrites) {
    const std::string mess =
        "\xff\xfe\x00\x01garbage\n[S]\nname=before\0after\nbad\x80line\n[T"s
        "\n\x00=\x00\nlast=1"s;
    WriteFile(m_file, mess);
    PrivateProfile profile(m_file);
    EXPECT_EQ(profile.ReadString("S", "name", "x"), "before");
    EXPECT_EQ(profile.ReadInt("S", "last", -1), 1);  // "[T" without "]" is no header
    EXPECT_EQ(profile.ReadSection("S").size(), 3u);
    ASSERT_TRUE(profile.Write("S", "added"sv, "2"sv));
    EXPECT_EQ(ReadFile(m_file), mess + "\nadded=2\n");
    EXPECT_EQ(profile.ReadInt("S", "added", -1), 2);
}

}  // namespace
}  // namespace talvorine::platform
