// The gate of connections that have not logged in yet: who is displaced when a cap is full,
// and who is woken at the deadline.
#include <gtest/gtest.h>

#include <vector>

#include "waiting_connections.h"

namespace talvorine::server {
namespace {

using namespace std::chrono_literals;
using Outcome = WaitingConnections::Outcome;

struct Fixture {
    explicit Fixture(WaitingConnections::Limits limits) : gate(limits) {}
    WaitingConnections::Ticket Admit(std::uint32_t address) {
        const std::size_t index = woken.size();
        woken.push_back(false);
        return gate.Admit(address, [this, index] { woken[index] = true; });
    }
    WaitingConnections gate;
    std::vector<bool> woken;
};

TEST(WaitingConnections, AFloodDisplacesOnlyItsOwnOldest) {
    Fixture f({/*total*/ 6, /*perAddress*/ 3, 30s});
    const auto user = f.Admit(1);
    std::vector<WaitingConnections::Ticket> flood;
    for (int i = 0; i < 5; ++i) {
        flood.push_back(f.Admit(2));
    }
    // Over its own cap of 3, each newcomer from address 2 displaced the oldest of address 2.
    EXPECT_EQ(flood[0]->Result(), Outcome::Displaced);
    EXPECT_EQ(flood[1]->Result(), Outcome::Displaced);
    EXPECT_EQ(flood[4]->Result(), Outcome::Waiting);
    EXPECT_TRUE(f.woken[1]);
    EXPECT_FALSE(f.woken[0]);
    EXPECT_EQ(f.gate.TakeRefusals(), 2u);
    EXPECT_EQ(f.gate.TakeRefusals(), 0u);

    // Over the overall cap, the busiest address gives way, not the lone user.
    const auto second = f.Admit(3);
    const auto third = f.Admit(4);
    EXPECT_EQ(f.gate.Count(), 6u);
    const auto fourth = f.Admit(5);
    EXPECT_EQ(user->Result(), Outcome::Waiting);
    EXPECT_EQ(flood[2]->Result(), Outcome::Displaced);
    EXPECT_EQ(f.gate.Count(), 6u);

    // A connection that finished its request is never woken and leaves room.
    f.gate.Leave(user);
    f.gate.Leave(user);
    EXPECT_EQ(user->Result(), Outcome::Done);
    EXPECT_EQ(f.gate.Count(), 5u);
    EXPECT_FALSE(f.woken[0]);
}

TEST(WaitingConnections, TheDeadlineIsForTheWholeRequestAndCanBeRenewedOnce) {
    Fixture f({16, 4, 30s});
    const auto start = WaitingConnections::Clock::now();
    const auto slow = f.Admit(1);
    const auto upload = f.Admit(1);
    const auto done = f.Admit(1);
    f.gate.Leave(done);
    f.gate.Expire(start + 29s);
    EXPECT_EQ(slow->Result(), Outcome::Waiting);
    f.gate.Rearm(upload, start + 29s);  // its request arrived; its bytes get a deadline
    f.gate.Expire(start + 31s);
    EXPECT_EQ(slow->Result(), Outcome::TimedOut);
    EXPECT_TRUE(f.woken[0]);
    EXPECT_EQ(upload->Result(), Outcome::Waiting);
    EXPECT_FALSE(f.woken[2]);
    f.gate.Expire(start + 60s);
    EXPECT_EQ(upload->Result(), Outcome::TimedOut);
    EXPECT_EQ(f.gate.TakeRefusals(), 0u);  // time-outs are not refusals
}

TEST(WaitingConnections, CapsFollowTheOpenFileLimit) {
    auto limits = WaitingConnections::ForOpenFileLimit(1024);
    EXPECT_EQ(limits.total, 256u);
    EXPECT_EQ(limits.perAddress, 64u);
    limits = WaitingConnections::ForOpenFileLimit(20);
    EXPECT_EQ(limits.total, 16u);
    EXPECT_EQ(limits.perAddress, 4u);
    limits = WaitingConnections::ForOpenFileLimit(65536);
    EXPECT_EQ(limits.total, 1024u);
    EXPECT_EQ(limits.perAddress, 256u);
}

}  // namespace
}  // namespace talvorine::server
