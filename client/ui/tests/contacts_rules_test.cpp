// The contact list's rules without a display: menu shape, pictures, status reports, group
// names, link targets, and the group commands with what they leave in the list files.

#include <gtest/gtest.h>

#include <mutex>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/ui/contacts/contact_list_rules.h"
#include "talvorine/client/ui/contacts/group_commands.h"
#include "talvorine/platform/private_profile.h"
#include "test_folders.h"

namespace talvorine::client::ui::contacts {
namespace {

using data::testing::TempHome;
using platform::PrivateProfile;
namespace T = data::ContactListText;

TEST(ContactMenuShape, OnAContactOnEmptySpaceAndWithNoGroup) {
    const MenuShape contact = ShapeContactMenu(true, true, true);
    EXPECT_TRUE(contact.contactCommands);
    EXPECT_FALSE(contact.groupCommands);
    EXPECT_TRUE(contact.addUserEnabled);
    EXPECT_TRUE(contact.refreshEnabled);

    const MenuShape empty = ShapeContactMenu(false, true, false);
    EXPECT_FALSE(empty.contactCommands);
    EXPECT_TRUE(empty.groupCommands);
    EXPECT_TRUE(empty.groupChangesEnabled);
    EXPECT_FALSE(empty.refreshEnabled) << "not connected";

    const MenuShape none = ShapeContactMenu(false, false, true);
    EXPECT_FALSE(none.contactCommands);
    EXPECT_TRUE(none.groupCommands);
    EXPECT_FALSE(none.addUserEnabled);
    EXPECT_FALSE(none.groupChangesEnabled);
    EXPECT_FALSE(none.refreshEnabled) << "no group";
}

TEST(ContactPictureRule, UnreadBlinksElseTheStatusChooses) {
    EXPECT_EQ(ChoosePicture(2, true, 3), PictureKind::Unread);
    EXPECT_EQ(ChoosePicture(2, false, 3), PictureKind::None);
    EXPECT_EQ(ChoosePicture(0, true, 3), PictureKind::Away);
    EXPECT_EQ(ChoosePicture(0, false, 4), PictureKind::NotAvailable);
    EXPECT_EQ(ChoosePicture(0, true, 2), PictureKind::Normal);
    EXPECT_EQ(ChoosePicture(0, true, 1), PictureKind::Normal);
    EXPECT_EQ(ChoosePicture(0, true, 77), PictureKind::Normal);
}

TEST(ContactStatusReport, ArrivalOnlyAfterTheFirstReportAndStatusKeptWhileDisconnected) {
    data::ContactEntry entry("20000002", "Bob", 0);
    // Online right after login: no arrival.
    auto outcome = ApplyStatusReport(entry, 2, true);
    EXPECT_FALSE(outcome.arrival);
    EXPECT_TRUE(outcome.online);
    EXPECT_FALSE(entry.firstReport);
    // Offline, then online again: an arrival.
    EXPECT_FALSE(ApplyStatusReport(entry, 1, true).online);
    outcome = ApplyStatusReport(entry, 3, true);
    EXPECT_TRUE(outcome.arrival);
    EXPECT_EQ(entry.status, 3);
    // Away to online is no arrival.
    EXPECT_FALSE(ApplyStatusReport(entry, 2, true).arrival);
    // Disconnected: drawn offline, the stored status stays.
    outcome = ApplyStatusReport(entry, 1, false);
    EXPECT_FALSE(outcome.online);
    EXPECT_FALSE(outcome.arrival);
    EXPECT_EQ(entry.status, 2);
    EXPECT_EQ(ArrivalTicks("Bob"), 29);
}

TEST(ContactStatusReport, ReportBeforeTheLoginEndsKeepsTheFirstReport) {
    data::ContactEntry entry("20000002", "Bob", 0);
    // The pass woken as the list loads runs while the login is still under way.
    EXPECT_FALSE(ApplyStatusReport(entry, 1, false).online);
    EXPECT_TRUE(entry.firstReport);
    // Bob already online when the login completes: no arrival, no sound.
    const auto outcome = ApplyStatusReport(entry, 2, true);
    EXPECT_FALSE(outcome.arrival);
    EXPECT_TRUE(outcome.online);
    EXPECT_FALSE(entry.firstReport);
}

TEST(ContactLinks, OnlyMailAndWebAddressesAreOpened) {
    EXPECT_EQ(MailTarget(" bob@example.com "), "mailto:bob@example.com?subject=Hi!");
    EXPECT_FALSE(MailTarget("bob@example.com?cc=eve@example.com"));
    EXPECT_FALSE(MailTarget("no-at-sign"));
    EXPECT_FALSE(MailTarget("bob@example.com\r\nx"));
    EXPECT_EQ(WebTarget("https://example.com/a"), "https://example.com/a");
    EXPECT_EQ(WebTarget("HTTP://example.com"), "HTTP://example.com");
    EXPECT_EQ(WebTarget("www.example.com"), "http://www.example.com");
    EXPECT_EQ(WebTarget("example.com:8080/x"), "http://example.com:8080/x");
    EXPECT_FALSE(WebTarget("file:///etc/passwd"));
    EXPECT_FALSE(WebTarget("javascript:alert(1)"));
    EXPECT_FALSE(WebTarget("/usr/bin/xterm"));
    EXPECT_FALSE(WebTarget("smb://server/share"));
    EXPECT_FALSE(WebTarget("http://a b"));
}

class GroupCommandsTest : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        list.Load(Own);
        data::ContactListStore store(Own);
        ASSERT_TRUE(store.AddGroup("Work"));
        list.AddGroup("Work");  // Friends, Strangers, Work
    }
    std::filesystem::path Folder() const { return Home() / "Users" / Own; }
    std::vector<std::string> Section(const char* file, const std::string& name) const {
        return PrivateProfile(Folder() / file).ReadSection(name);
    }
    void AddMember(const std::string& group, const std::string& id) {
        const auto result = commands.AddContact(list.FindGroup(group), id, "nick" + id, "");
        ASSERT_TRUE(result.ok) << result.text;
    }

    static constexpr const char* Own = "10000001";
    data::ContactList list;
    std::mutex listMutex;
    GroupCommands commands{list, listMutex};
};

TEST_F(GroupCommandsTest, GroupNamesTheListFilesCannotHoldAreRefusedAndNothingIsWritten) {
    const std::string before = ReadText(Folder() / "List.dat");
    for (const char* bad : {"   ", "a]b", "a=b", "two\nlines", "[x", ";x",
                            "123456789012345678901234567890123", "STRANGERS", "friends", "work"}) {
        const auto result = commands.AddGroup(bad);
        EXPECT_FALSE(result.ok) << bad;
        EXPECT_FALSE(result.text.empty());
    }
    EXPECT_EQ(commands.AddGroup(" friends ").text, T::GroupAlreadyExists);
    EXPECT_EQ(commands.AddGroup("a]b").text, Text::GroupNameCharacters);
    EXPECT_EQ(ReadText(Folder() / "List.dat"), before);
    EXPECT_EQ(list.GroupCount(), 3);

    int added = -1;
    ASSERT_TRUE(commands.AddGroup("  Family  ", &added).ok);
    EXPECT_EQ(list.Group(added).name, "Family");
    EXPECT_EQ(list.OpenGroup(), added);
    EXPECT_EQ(PrivateProfile(Folder() / "List.dat").ReadString("Groups", "Family", "(none)"), "");
}

TEST_F(GroupCommandsTest, RenameRefusesWhatAddRefusesSoNoTwoGroupsMerge) {
    AddMember("Friends", "20000002");
    AddMember("Work", "20000003");
    const int work = list.FindGroup("Work");
    EXPECT_EQ(commands.RenameGroup(work, "FRIENDS").text, T::GroupAlreadyExists);
    EXPECT_EQ(commands.RenameGroup(work, "strangers").text, Text::GroupNameBuiltIn);
    EXPECT_EQ(commands.RenameGroup(list.FindGroup("Strangers"), "Others").text,
              T::CannotRenameBuiltInGroup);
    EXPECT_EQ(Section("Groups.dat", "Friends"), std::vector<std::string>{"20000002="});
    EXPECT_EQ(Section("Groups.dat", "Work"), std::vector<std::string>{"20000003="});

    // Another spelling of its own name is a rename.
    ASSERT_TRUE(commands.RenameGroup(work, "WORK").ok);
    ASSERT_TRUE(commands.RenameGroup(work, "Office").ok);
    EXPECT_EQ(list.Group(work).name, "Office");
    EXPECT_EQ(Section("Groups.dat", "Office"), std::vector<std::string>{"20000003="});
    EXPECT_TRUE(Section("Groups.dat", "Work").empty());
    EXPECT_EQ(PrivateProfile(Folder() / "List.dat").ReadString("Groups", "Work", "(none)"),
              "(none)");
}

TEST_F(GroupCommandsTest, DeleteWithMovingSavesTheMovedMembersFirstAndKeepsTheirOrder) {
    AddMember("Friends", "20000002");
    AddMember("Work", "20000003");
    AddMember("Work", "20000004");
    const int work = list.FindGroup("Work");
    EXPECT_EQ(commands.MoveTargets(work), std::vector<int>{0});
    std::vector<std::string> removed;
    const auto result =
        commands.DeleteGroup(work, 0, [&](const std::string& id) { removed.push_back(id); });
    ASSERT_TRUE(result.ok) << result.text;
    EXPECT_TRUE(removed.empty());
    ASSERT_EQ(list.GroupCount(), 2);
    const auto& friends = list.Group(0).contacts;
    ASSERT_EQ(friends.size(), 3u);
    EXPECT_EQ(friends[1]->id, "20000003");
    EXPECT_EQ(friends[2]->id, "20000004");
    // Written before the save: the moved members are in the target's section already.
    EXPECT_EQ(Section("Groups.dat", "Friends"),
              (std::vector<std::string>{"20000002=", "20000003=", "20000004="}));
    EXPECT_TRUE(Section("Groups.dat", "Work").empty());
    EXPECT_TRUE(std::filesystem::exists(Folder() / "20000003.usr"));
}

TEST_F(GroupCommandsTest, DeleteWithoutMovingRemovesTheMembersFilesAndStrangersStays) {
    AddMember("Work", "20000003");
    const int work = list.FindGroup("Work");
    std::vector<std::string> removed;
    ASSERT_TRUE(
        commands
            .DeleteGroup(work, std::nullopt, [&](const std::string& id) { removed.push_back(id); })
            .ok);
    EXPECT_EQ(removed, std::vector<std::string>{"20000003"});
    EXPECT_FALSE(std::filesystem::exists(Folder() / "20000003.usr"));
    EXPECT_EQ(list.FindGroup("Work"), -1);
    EXPECT_EQ(PrivateProfile(Folder() / "List.dat").ReadString("Groups", "Work", "(none)"),
              "(none)");

    EXPECT_EQ(commands.DeleteGroup(list.FindGroup("Strangers"), std::nullopt).text,
              T::CannotDeleteBuiltInGroup);
    // With only "Strangers" besides it, a group offers no target to move to.
    EXPECT_TRUE(commands.MoveTargets(list.FindGroup("Friends")).empty());
}

TEST_F(GroupCommandsTest, MovesAreRefusedIntoStrangersAndWriteNothingUntilTheSave) {
    AddMember("Friends", "20000002");
    AddMember("Friends", "20000003");
    const std::string groupsBefore = ReadText(Folder() / "Groups.dat");
    EXPECT_EQ(commands.MoveContact({0, 0}, list.FindGroup("Strangers"), -1).text,
              T::CannotMoveUserToGroup);
    EXPECT_EQ(commands.AddContact(list.FindGroup("Strangers"), "20000009", "x", "").text,
              T::CannotAddUserToGroup);
    data::ContactPosition landed;
    ASSERT_TRUE(commands.MoveContact({0, 0}, list.FindGroup("Work"), -1, &landed).ok);
    EXPECT_EQ(landed, (data::ContactPosition{list.FindGroup("Work"), 0}));
    EXPECT_EQ(ReadText(Folder() / "Groups.dat"), groupsBefore);
    list.SaveAndUnload();
    EXPECT_EQ(Section("Groups.dat", "Work"), std::vector<std::string>{"20000002="});
}

TEST_F(GroupCommandsTest, AFullGroupRefusesTheNextMemberInsteadOfLosingItOnSave) {
    const int work = list.FindGroup("Work");
    for (int i = 0; i < static_cast<int>(data::MaxSavedGroupMembers); ++i) {
        list.AddContact(work, std::to_string(30000000 + i), "n", 0);
    }
    AddMember("Friends", "20000002");
    const auto refused = commands.AddContact(work, "20000009", "x", "");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.text, FormatText(Text::GroupFull, {"Work"}));
    EXPECT_EQ(commands.MoveContact({0, 0}, work, -1).text, refused.text);
    EXPECT_EQ(commands.DeleteGroup(0, work).text, refused.text);
    // Reordering inside the full group is no addition.
    EXPECT_TRUE(commands.MoveContact({work, 0}, work, 5).ok);

    list.SaveAndUnload();
    list.Load(Own);
    EXPECT_EQ(list.Group(list.FindGroup("Work")).contacts.size(), data::MaxSavedGroupMembers);
    EXPECT_EQ(list.Group(list.FindGroup("Friends")).contacts.size(), 1u);
}

TEST_F(GroupCommandsTest, DeleteAndRenameUserWriteThrough) {
    AddMember("Friends", "20000002");
    EXPECT_EQ(commands.RenameUser({0, 0}, "   ").text, Text::NicknameEmpty);
    ASSERT_TRUE(commands.RenameUser({0, 0}, "  Bobby ").ok);
    EXPECT_EQ(list.Group(0).contacts[0]->nickname, "Bobby");
    EXPECT_EQ(PrivateProfile(Folder() / "20000002.usr").ReadString("20000002", "Nickname", ""),
              "Bobby");
    ASSERT_TRUE(commands.DeleteUser({0, 0}).ok);
    EXPECT_TRUE(list.Group(0).contacts.empty());
    EXPECT_FALSE(std::filesystem::exists(Folder() / "20000002.usr"));
    EXPECT_TRUE(Section("Groups.dat", "Friends").empty());
}

}  // namespace
}  // namespace talvorine::client::ui::contacts
