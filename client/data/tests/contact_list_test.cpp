#include "talvorine/client/data/contact_list.h"

#include <atomic>
#include <thread>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/protocol/catalogue.h"
#include "test_folders.h"

namespace talvorine::client::data {
namespace {

namespace fs = std::filesystem;
using platform::PrivateProfile;

constexpr std::string_view Me = "10000001";

class ContactListTest : public testing::TempHome {
protected:
    fs::path Folder() const { return Home() / "Users" / std::string(Me); }
    void WriteFile(std::string_view name, const std::string& text) {
        fs::create_directories(Folder());
        WriteText(Folder() / name, text);
    }
    static std::vector<std::string> GroupNames(const ContactList& list) {
        std::vector<std::string> names;
        for (int i = 0; i < list.GroupCount(); ++i) {
            names.push_back(list.Group(i).name);
        }
        return names;
    }
    static std::vector<std::string> Ids(const ContactList& list, int group) {
        std::vector<std::string> ids;
        for (const auto& entry : list.Group(group).contacts) {
            ids.push_back(entry->id);
        }
        return ids;
    }
    static std::vector<std::uint8_t> Message(const std::string& text) {
        protocol::MessageRecord record;
        record.time = 1;
        record.brief = text;
        record.body = text;
        return record.Encode();
    }
};

TEST_F(ContactListTest, AccountWithoutListGetsFriendsThenStrangers) {
    ContactList list;
    list.Load(Me);
    EXPECT_EQ(GroupNames(list), (std::vector<std::string>{"Friends", "Strangers"}));
    EXPECT_EQ(list.OpenGroup(), 0);
    list.SaveAndUnload();
    EXPECT_FALSE(list.IsLoaded());
    EXPECT_EQ(PrivateProfile(Folder() / "List.dat").ReadSection("Groups"),
              (std::vector<std::string>{"Friends=", "Strangers="}));
    EXPECT_EQ(PrivateProfile(Folder() / "List.dat").ReadInt("Main", "ActiveGroup", -5), 0);
}

TEST_F(ContactListTest, StrangersIsAppendedWithoutFriends) {
    WriteFile("List.dat", "[Groups]\nWork=\nFamily=\n" + std::string(40, 'L') +
                              "=\na=b=\n[Main]\nActiveGroup=1\n");
    ContactList list;
    list.Load(Me);
    EXPECT_EQ(GroupNames(list), (std::vector<std::string>{"Work", "Family", std::string(32, 'L'),
                                                          "a=b", "Strangers"}));
    EXPECT_EQ(list.OpenGroup(), 1);

    WriteFile("List.dat", "[Groups]\nSTRANGERS=\nWork=\n[Main]\nActiveGroup=7\n");
    ContactList other;
    other.Load(Me);
    EXPECT_EQ(GroupNames(other), (std::vector<std::string>{"STRANGERS", "Work"}));
    EXPECT_EQ(other.OpenGroup(), -1);
    EXPECT_FALSE(other.RemoveGroup(0));
    EXPECT_FALSE(other.RenameGroup(0, "Others"));
}

TEST_F(ContactListTest, MembersLoadWithNicknamesUnreadCountsAndPlacement) {
    WriteFile("List.dat", "[Groups]\nWork=\n");
    WriteFile(
        "Groups.dat",
        "[Work]\n10000002=\n10000001=\n../../etc=\n10000003=\n123=\n[Strangers]\n10000004=\n");
    WriteFile("10000002.usr", "[10000002]\nNickname=bob\nFloat On=1\nx=-30\ny=40\n");
    {
        MessageStore store =
            MessageStore::Open(Me, StoreKind::Received, "10000003", StoreMode::ReadWrite, true);
        store.AppendMessage(Message("one"));
        store.AppendMessage(Message("two"));
        store.AppendMessage(Message("three"), 1);
    }
    ContactList list;
    list.Load(Me);
    ASSERT_EQ(GroupNames(list), (std::vector<std::string>{"Work", "Strangers"}));
    EXPECT_EQ(Ids(list, 0), (std::vector<std::string>{"10000002", "10000003"}));
    EXPECT_EQ(Ids(list, 1), (std::vector<std::string>{"10000004"}));
    const ContactEntry& bob = *list.Group(0).contacts[0];
    const ContactEntry& carol = *list.Group(0).contacts[1];
    EXPECT_EQ(bob.nickname, "bob");
    EXPECT_EQ(carol.nickname, "10000003");  // no .usr file
    EXPECT_EQ(carol.unread.load(), 2);
    EXPECT_EQ(bob.unread.load(), 0);
    EXPECT_EQ(bob.status, 1);
    EXPECT_TRUE(bob.firstReport);
    EXPECT_TRUE(bob.floating.shown);
    EXPECT_EQ(bob.floating.x, -30);
    EXPECT_EQ(bob.floating.y, 40);
    EXPECT_FALSE(bob.floating.width);
    EXPECT_FALSE(carol.floating.shown);
    EXPECT_EQ(list.GroupUnread(0), 2);
    EXPECT_EQ(list.ContactIds(), (std::vector<std::string>{"10000002", "10000003", "10000004"}));
}

TEST_F(ContactListTest, GarbageListFilesLoadWithoutHarm) {
    std::string garbage(3000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>((i * 7919) % 256);
    }
    WriteFile("List.dat", garbage);
    WriteFile("Groups.dat", "[Friends]\n" + garbage + "\n10000002=\n");
    WriteFile("10000002.usr", garbage);
    ContactList list;
    list.Load(Me);
    ASSERT_GE(list.GroupCount(), 1);
    EXPECT_GE(list.FindGroup("Strangers"), 0);
    for (int g = 0; g < list.GroupCount(); ++g) {
        for (const auto& entry : list.Group(g).contacts) {
            EXPECT_TRUE(IsValidId(entry->id)) << entry->id;
        }
    }
}

TEST_F(ContactListTest, PollerCopiesIdsWhileTheListChanges) {
    ContactList list;
    list.Load(Me);
    const int work = list.AddGroup("Work");
    std::atomic<bool> stop{false};
    std::thread poller([&] {
        while (!stop) {
            for (const std::string& id : list.ContactIds()) {
                ASSERT_EQ(id.size(), 8u);
            }
            list.IncrementUnread("10000002");
        }
    });
    for (int round = 0; round < 300; ++round) {
        list.AddContact(0, "10000002", "bob", 0);
        list.AddContact(0, "10000003", "carol", 0);
        list.MoveContact({0, 0}, work, -1);
        list.MoveGroup(work, 0);
        list.RemoveContact(list.FindContact("10000003")->group, list.FindContact("10000003")->item);
        auto bob = list.FindContact("10000002");
        list.RemoveContact(bob->group, bob->item);
    }
    stop = true;
    poller.join();
    EXPECT_TRUE(list.ContactIds().empty());
}

TEST_F(ContactListTest, SingleChangesAreWrittenThrough) {
    ContactListStore store{std::string(Me)};
    ASSERT_TRUE(store.AddGroup("Work"));
    ASSERT_TRUE(store.AddContact("Work", "10000002", "bob", "bob@example.net"));
    ASSERT_TRUE(store.AddContact("Work", "10000003", "carol", ""));
    ASSERT_TRUE(store.SetNickname("10000002", "bobby"));
    EXPECT_EQ(store.ReadCard("10000002").nickname, "bobby");
    EXPECT_EQ(store.ReadCard("10000002").email, "bob@example.net");
    EXPECT_FALSE(store.AddContact("Work", "../x", "evil", ""));

    ASSERT_TRUE(store.RenameGroup("Work", "Office"));
    PrivateProfile list(Folder() / "List.dat");
    PrivateProfile groups(Folder() / "Groups.dat");
    EXPECT_EQ(list.ReadSection("Groups"), std::vector<std::string>{"Office="});
    EXPECT_TRUE(groups.ReadSection("Work").empty());
    EXPECT_EQ(groups.ReadSection("Office"), (std::vector<std::string>{"10000002=", "10000003="}));
    EXPECT_EQ(groups.SectionNames(), std::vector<std::string>{"Office"});

    ASSERT_TRUE(store.RemoveContact("Office", "10000002"));
    EXPECT_FALSE(fs::exists(Folder() / "10000002.usr"));
    EXPECT_EQ(groups.ReadSection("Office"), std::vector<std::string>{"10000003="});

    ASSERT_TRUE(store.RemoveGroup("Office"));
    EXPECT_TRUE(list.ReadSection("Groups").empty());
    EXPECT_TRUE(groups.ReadSection("Office").empty());
}

TEST_F(ContactListTest, ProfileCacheStoresEveryKeyThenUpdated) {
    ContactListStore store{std::string(Me)};
    protocol::UserProfile profile;
    profile.userId = "10000002";
    profile.nickname = "bob";
    profile.phone = "555-1234";
    profile.mobilePhone = "555-9";
    EXPECT_FALSE(store.IsProfileUpdated("10000002"));
    ASSERT_TRUE(store.StoreProfile(profile));
    EXPECT_TRUE(store.IsProfileUpdated("10000002"));
    auto read = store.ReadProfile("10000002");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->nickname, "bob");
    EXPECT_EQ(read->gender, "");
    EXPECT_EQ(store.ReadCard("10000002").phone, "555-1234");
    EXPECT_EQ(store.ReadCard("10000002").mobilePhone, "555-9");
    const auto lines = PrivateProfile(Folder() / "10000002.usr").ReadSection("10000002");
    EXPECT_EQ(lines.back(), "Updated=1");
    EXPECT_EQ(lines.front(), "id=10000002");
}

TEST_F(ContactListTest, SaveWritesOrderPlacementAndAtMost1638Members) {
    ContactList list;
    list.Load(Me);
    const int big = list.AddGroup("Big");
    ASSERT_EQ(big, 2);
    for (int i = 0; i < 1639; ++i) {
        ASSERT_EQ(list.AddContact(big, std::to_string(20000000 + i), "n", 0), i);
    }
    const int work = list.AddGroup("Work");
    list.AddContact(work, "10000002", "bob", 0);
    list.AddContact(work, "10000003", "carol", 0);
    ContactEntry* bob = list.Entry({work, 0});
    bob->floating = {true, 15, -20, 180};
    ASSERT_TRUE(list.MoveGroup(work, 0));
    list.SetOpenGroup(0);
    list.SaveAndUnload();

    PrivateProfile groups(Folder() / "Groups.dat");
    const auto members = groups.ReadSection("Big", 1 << 20);
    ASSERT_EQ(members.size(), 1638u);
    EXPECT_EQ(members.front(), "20000000=");
    EXPECT_EQ(members.back(), "20001637=");
    EXPECT_EQ(groups.ReadSection("Work"), (std::vector<std::string>{"10000002=", "10000003="}));
    EXPECT_EQ(PrivateProfile(Folder() / "List.dat").ReadSection("Groups"),
              (std::vector<std::string>{"Work=", "Friends=", "Strangers=", "Big="}));
    PrivateProfile card(Folder() / "10000002.usr");
    EXPECT_EQ(card.ReadInt("10000002", "Float On", -1), 1);
    EXPECT_EQ(card.ReadInt("10000002", "x", 0), 15);
    EXPECT_EQ(card.ReadInt("10000002", "y", 0), -20);
    EXPECT_EQ(card.ReadInt("10000002", "Width", 0), 180);
    EXPECT_EQ(PrivateProfile(Folder() / "10000003.usr").ReadInt("10000003", "Float On", 0), 0);

    ContactList again;
    again.Load(Me);
    EXPECT_EQ(GroupNames(again), (std::vector<std::string>{"Work", "Friends", "Strangers", "Big"}));
    EXPECT_EQ(again.Group(3).contacts.size(), 1638u);
    EXPECT_EQ(again.Entry({0, 0})->floating.width, 180);
}

TEST_F(ContactListTest, MovesAndReordering) {
    ContactList list;
    list.Load(Me);  // Friends, Strangers
    const int work = list.AddGroup("Work");
    EXPECT_EQ(list.AddGroup("work"), -1);
    for (const char* id : {"10000002", "10000003", "10000004"}) {
        list.AddContact(0, id, id, 0);
    }
    ContactPosition landed;
    EXPECT_EQ(list.MoveContact({0, 0}, 1, -1), MoveOutcome::RefusedBuiltInGroup);
    EXPECT_EQ(Ids(list, 0), (std::vector<std::string>{"10000002", "10000003", "10000004"}));
    EXPECT_EQ(list.MoveContact({0, 0}, 0, 2, &landed), MoveOutcome::Moved);  // before the third
    EXPECT_EQ(Ids(list, 0), (std::vector<std::string>{"10000003", "10000002", "10000004"}));
    EXPECT_EQ(landed, (ContactPosition{0, 1}));
    EXPECT_EQ(list.MoveContact({0, 2}, work, -1, &landed), MoveOutcome::Moved);
    EXPECT_EQ(Ids(list, work), std::vector<std::string>{"10000004"});
    EXPECT_EQ(list.MoveContact({0, 9}, work, -1), MoveOutcome::Invalid);
    EXPECT_EQ(list.FindContact("10000004"), (ContactPosition{work, 0}));

    // Header drags: onto itself or the next header changes nothing.
    EXPECT_FALSE(list.MoveGroup(0, 0));
    EXPECT_FALSE(list.MoveGroup(0, 1));
    list.SetOpenGroup(0);
    EXPECT_TRUE(list.MoveGroup(0, 3));
    EXPECT_EQ(GroupNames(list), (std::vector<std::string>{"Strangers", "Work", "Friends"}));
    EXPECT_EQ(list.OpenGroup(), 2);  // the open group moved with its header

    EXPECT_EQ(list.RemoveContact(2, 1), 0);  // last removed: the previous one is next
    EXPECT_EQ(list.RemoveContact(2, 0), -1);
    EXPECT_TRUE(list.RenameGroup(1, "Office"));
    EXPECT_FALSE(list.RenameGroup(1, "friends"));
    EXPECT_FALSE(list.RenameGroup(1, "strangers"));
}

TEST_F(ContactListTest, UnreadCountsAreAtomicAndNeverNegative) {
    ContactList list;
    list.Load(Me);
    list.AddContact(0, "10000002", "bob", 0);
    EXPECT_TRUE(list.DecrementUnread("10000002"));
    EXPECT_EQ(list.Entry({0, 0})->unread.load(), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                list.IncrementUnread("10000002");
                list.ContactIds();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(list.GroupUnread(0), 4000);
    EXPECT_FALSE(list.IncrementUnread("19999999"));
    EXPECT_TRUE(list.SetUnread("10000002", 0));
    EXPECT_EQ(list.GroupUnread(0), 0);
}

TEST_F(ContactListTest, MessageFromAStrangerJoinsStrangersAndCounts) {
    ContactList list;
    EXPECT_THROW(list.DeliverReceivedMessage("10000009", Message("hello there")), DataError);
    list.Load(Me);
    list.DeliverReceivedMessage("10000009", Message("hello there"));
    list.DeliverReceivedMessage("10000009", Message("again"));
    list.DeliverReceivedMessage("10000009", std::vector<std::uint8_t>(36, 1));  // ignored
    EXPECT_EQ(list.FindContact("10000009"), (ContactPosition{1, 0}));
    EXPECT_EQ(list.Entry({1, 0})->nickname, "10000009");
    EXPECT_EQ(list.Entry({1, 0})->unread.load(), 2);
    EXPECT_EQ(CountUnreadMessages(Me, "10000009"), 2u);
    EXPECT_THROW(list.DeliverReceivedMessage("../x", Message("bad sender")), DataError);
}

}  // namespace
}  // namespace talvorine::client::data
