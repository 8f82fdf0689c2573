// Messages between real TalvorineMessenger programs through the real server, sent from the
// "Send Message" window as a user would: formatted to an online contact (stored unread on
// one side, as sent on the other, shown with the same bold and colour), to a contact who is
// offline after the prompt (delivered at the next login), to a contact in N/A (refused), to
// an away contact (whose away text comes back as a message) and to three contacts at once,
// one of them offline.
#include <gtest/gtest.h>

#include "talvorine/client/data/message_store.h"
#include "two_clients_support.h"

namespace talvorine::client::ui::testing {
namespace {

struct Stored {
    bool read = false;
    bool rich = false;
    std::string text;  // from body offset 36, up to its NUL
};

// One direction of a client's message history with `peer`, oldest first.
std::vector<Stored> Messages(const Client& client, const Client& peer, data::StoreKind kind) {
    const fs::path folder = client.AccountFolder(
        kind == data::StoreKind::Received ? "Received Messages" : "Sent Messages");
    std::vector<Stored> messages;
    if (!fs::exists(folder / (peer.Id() + ".dat"))) {
        return messages;
    }
    const auto store = data::MessageStore::Open(data::StorePaths::InFolder(folder, peer.Id()),
                                                data::StoreMode::Read, false);
    for (std::uint32_t i = 0; i < store.Count(); ++i) {
        const auto message = store.ReadMessage(i);
        Stored stored;
        stored.read = message.header.readState != 0;
        if (message.body.size() > 36) {
            stored.rich = message.body[4] != 0;
            const auto* text = reinterpret_cast<const char*>(message.body.data() + 36);
            stored.text.assign(text, strnlen(text, message.body.size() - 36));
        }
        messages.push_back(stored);
    }
    return messages;
}

bool AwaitCount(const Client& client, const Client& peer, data::StoreKind kind, std::size_t count) {
    return AwaitTrue([&] { return Messages(client, peer, kind).size() >= count; }, Patience);
}

class Messaging : public TwoClients {
protected:
    // The send window of a program started with "--open message:ID", `text` typed.
    static Node Compose(Client& client, std::string_view text) {
        Node window = AwaitWindow(client, "Send Message", "Message");
        if (window && !Type(window.get(), "Message", text)) {
            ADD_FAILURE() << "the message cannot be typed";
        }
        return window;
    }
};

TEST_F(Messaging, FormattedOnlineThenOfflineAfterThePromptDeliveredAtTheNextLogin) {
    ASSERT_TRUE(bob->Start()) << bob->Trace();
    ASSERT_TRUE(alice->Start({"--open", "message:" + bob->Id()})) << alice->Trace();

    // Bold and maroon, chosen with the window's own buttons and colour menu.
    Node send = Compose(*alice, "Hello Bob");
    ASSERT_TRUE(send);
    Node compose = ProgramUi::Control(send.get(), "Message", false);
    ASSERT_TRUE(ProgramUi::Select(compose.get(), 0, 9));
    ASSERT_TRUE(Press(send.get(), "Bold"));
    ASSERT_TRUE(AwaitTrue(
        [&] { return ProgramUi::Attributes(compose.get(), 0)["weight"] == "bold"; }, Patience))
        << testing::Describe(ProgramUi::Attributes(compose.get(), 0));
    ASSERT_TRUE(desktop->Click(ProgramUi::Control(send.get(), "Foreground Color", true).get()));
    ASSERT_TRUE(ChooseFromMenu(*alice, {"Down", "Down"}));  // Black, Maroon
    ASSERT_TRUE(Press(send.get(), "Send"));
    ASSERT_TRUE(WindowGone(*alice, "Send Message")) << alice->Trace();
    EXPECT_TRUE(alice->WaitTrace("sound: 65002"));  // "Message Sent"

    ASSERT_TRUE(AwaitCount(*bob, *alice, data::StoreKind::Received, 1)) << bob->Trace();
    const auto received = Messages(*bob, *alice, data::StoreKind::Received);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(received[0].read);
    EXPECT_TRUE(received[0].rich);
    EXPECT_NE(received[0].text.find("\\b"), std::string::npos) << received[0].text;
    EXPECT_NE(received[0].text.find("\\red128\\green0\\blue0"), std::string::npos)
        << received[0].text;
    const auto sent = Messages(*alice, *bob, data::StoreKind::Sent);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].text, received[0].text);

    // Bob's "Messages" window shows it as it was written.
    bob->Stop();
    ASSERT_TRUE(bob->Start({"--open", "messages:" + alice->Id()})) << bob->Trace();
    Node messages = AwaitWindow(*bob, "Messages", "Message");
    ASSERT_TRUE(messages);
    Node pane = ProgramUi::Control(messages.get(), "Message", false);
    ASSERT_TRUE(AwaitTrue([&] { return ProgramUi::Text(pane.get()) == "Hello Bob"; }, Patience))
        << ProgramUi::Text(pane.get());
    auto shown = ProgramUi::Attributes(pane.get(), 0);
    EXPECT_EQ(shown["weight"], "bold") << testing::Describe(shown);
    EXPECT_EQ(shown["fg-color"], "128,0,0") << testing::Describe(shown);

    // Bob leaves; Alice is asked before the message goes to the offline store.
    bob->Stop();
    alice->Stop();
    ASSERT_TRUE(alice->Start({"--open", "message:" + bob->Id()})) << alice->Trace();
    send = Compose(*alice, "See you later");
    ASSERT_TRUE(send);
    ASSERT_TRUE(Press(send.get(), "Prompt before send offline msg"));
    ASSERT_TRUE(Press(send.get(), "Send"));
    ASSERT_TRUE(Answer(*alice, "Recipient 'Bob' is not online currently.", "Yes"))
        << alice->Trace();
    ASSERT_TRUE(WindowGone(*alice, "Send Message")) << alice->Trace();
    ASSERT_TRUE(AwaitCount(*alice, *bob, data::StoreKind::Sent, 2));
    EXPECT_EQ(Messages(*bob, *alice, data::StoreKind::Received).size(), 1u);

    ASSERT_TRUE(bob->Start()) << bob->Trace();
    ASSERT_TRUE(AwaitCount(*bob, *alice, data::StoreKind::Received, 2)) << bob->Trace();
    const auto later = Messages(*bob, *alice, data::StoreKind::Received);
    EXPECT_NE(later[1].text.find("See you later"), std::string::npos) << later[1].text;
    EXPECT_FALSE(later[1].read);
}

TEST_F(Messaging, RefusedInNotAvailableAnsweredWhenAwayAndSentToThreeWithOneOffline) {
    const session::AccountServer address{"127.0.0.1", server->Port()};
    Client carol(server->Root(), "carol", session::RequestNewAccount(address), "Carol");
    Client dave(server->Root(), "dave", session::RequestNewAccount(address), "Dave");
    ASSERT_TRUE(carol.Prepared() && dave.Prepared());
    ASSERT_TRUE(carol.Configure(server->Port(), *alice));
    ASSERT_TRUE(dave.Configure(server->Port(), *alice));
    ASSERT_TRUE(alice->AddContact(carol) && alice->AddContact(dave));

    // N/A: the server refuses, the window stays with the text.
    ASSERT_TRUE(bob->Start({"--open", "status-menu"})) << bob->Trace();
    ASSERT_TRUE(ChooseFromMenu(*bob, {"Up"}));  // the last item: "N/A (Not Available)"
    ASSERT_TRUE(bob->WaitTrace("status: N/A")) << bob->Trace();
    ASSERT_TRUE(alice->Start({"--open", "message:" + bob->Id()})) << alice->Trace();
    Node send = Compose(*alice, "Are you there?");
    ASSERT_TRUE(send);
    ASSERT_TRUE(Press(send.get(), "Send"));
    ASSERT_TRUE(Answer(*alice, "Failed to send message to Bob:")) << alice->Trace();
    EXPECT_TRUE(Messages(*alice, *bob, data::StoreKind::Sent).empty());

    // Away: the same window sends again and Bob's away text comes back as his message.
    bob->Stop();
    ASSERT_TRUE(bob->Start({"--open", "status-menu"})) << bob->Trace();
    ASSERT_TRUE(ChooseFromMenu(*bob, {"Up", "Up"}));  // "Away"
    Node away = AwaitWindow(*bob, "Away Mode", "Away text");
    ASSERT_TRUE(away);
    ASSERT_TRUE(Type(away.get(), "Away text", "Out for lunch"));
    ASSERT_TRUE(Press(away.get(), "OK*"));  // "OK in %d seconds" while it counts down
    ASSERT_TRUE(bob->WaitTrace("status: Away")) << bob->Trace();
    ASSERT_TRUE(Press(send.get(), "Send"));
    ASSERT_TRUE(WindowGone(*alice, "Send Message")) << alice->Trace();
    ASSERT_TRUE(AwaitCount(*alice, *bob, data::StoreKind::Received, 1)) << alice->Trace();
    const auto reply = Messages(*alice, *bob, data::StoreKind::Received);
    EXPECT_EQ(reply[0].text, "Out for lunch");
    EXPECT_FALSE(reply[0].rich);
    ASSERT_TRUE(AwaitCount(*bob, *alice, data::StoreKind::Received, 1));

    // Three at once: Bob (away) and Carol online, Dave offline.
    ASSERT_TRUE(carol.Start()) << carol.Trace();
    alice->Stop();
    ASSERT_TRUE(alice->Start({"--open", "message:" + bob->Id()})) << alice->Trace();
    send = Compose(*alice, "Meeting at three");
    ASSERT_TRUE(send);
    ASSERT_TRUE(Press(send.get(), "Multiple>>"));
    Node recipients = AwaitNode(
        [&] { return ProgramUi::Control(send.get(), "Recipients", false, true); }, Patience);
    ASSERT_TRUE(recipients) << alice->Ui().Describe();
    // The tree lists its rows once it is shown and laid out.
    for (const char* nickname : {"Bob", "Carol", "Dave"}) {
        Node row = AwaitNode(
            [&] {
                atspi_accessible_clear_cache(recipients.get());
                return ProgramUi::Control(recipients.get(), nickname, false, true);
            },
            Patience);
        // A row's own action selects it; its check box takes a click and the space bar.
        ASSERT_TRUE(row && desktop->Click(row.get())) << nickname;
        ASSERT_TRUE(desktop->Keys({"space"}));
        ASSERT_TRUE(AwaitTrue([&] { return ProgramUi::Checked(row.get()); }, Patience))
            << nickname << "\n"
            << alice->Ui().Describe();
    }
    ASSERT_TRUE(Press(send.get(), "Send"));
    ASSERT_TRUE(WindowGone(*alice, "Send Message")) << alice->Trace();
    ASSERT_TRUE(AwaitCount(*bob, *alice, data::StoreKind::Received, 2)) << bob->Trace();
    ASSERT_TRUE(AwaitCount(carol, *alice, data::StoreKind::Received, 1)) << carol.Trace();
    EXPECT_TRUE(AwaitCount(*alice, dave, data::StoreKind::Sent, 1));
    ASSERT_TRUE(dave.Start()) << dave.Trace();
    ASSERT_TRUE(AwaitCount(dave, *alice, data::StoreKind::Received, 1)) << dave.Trace();
    for (const Client* recipient : {bob.get(), &carol, &dave}) {
        EXPECT_NE(Messages(*recipient, *alice, data::StoreKind::Received)
                      .back()
                      .text.find("Meeting at three"),
                  std::string::npos)
            << recipient->Nickname();
    }
}

}  // namespace
}  // namespace talvorine::client::ui::testing
