// Status polling against the real server, woken by login, F5 and logout.

#include "contacts_end_to_end.h"

#include <gtest/gtest.h>

namespace talvorine::client::ui::contacts {
namespace {

using namespace std::chrono_literals;
using talvorine::testing::PumpUntil;
using testing::ContactsEndToEnd;

TEST_F(ContactsEndToEnd, RefreshShowsLoginAndLogoutAtOnceAndDisconnectedKeepsTheStatus) {
    ASSERT_NO_FATAL_FAILURE(StartA(30000ms));
    session::testing::EngineClient bob(loop, b, Network());
    ASSERT_TRUE(bob.ConnectAndWait());
    bar->RefreshUserStatus();  // F5
    ASSERT_TRUE(ShownOnline(true));
    EXPECT_EQ(StoredStatus(), 2);
    EXPECT_EQ(host.sounds, std::vector<int>{data::SoundEvent::UserOnline})
        << "offline at the first report, online later: an arrival";
    EXPECT_GT(bar->ArrivalCounter(b.userId), 0);

    bob.DisconnectAndWait();
    bar->RefreshUserStatus();
    ASSERT_TRUE(ShownOnline(false));
    EXPECT_EQ(StoredStatus(), 1);

    ASSERT_TRUE(bob.ConnectAndWait());
    bar->RefreshUserStatus();
    ASSERT_TRUE(ShownOnline(true));

    // A disconnected: every contact drawn offline, the stored status kept.
    session->Disconnect();
    ASSERT_TRUE(PumpUntil([this] { return !session->Connected() && !session->Disconnecting(); }));
    ASSERT_TRUE(ShownOnline(false)) << "the logout wakes the poll";
    EXPECT_EQ(StoredStatus(), 2);
}

TEST_F(ContactsEndToEnd, ABusyRequestConnectionGivesUpThePassAfterFiveSeconds) {
    ASSERT_NO_FATAL_FAILURE(StartA(30000ms));
    PumpUntil([] { return false; }, 1s);  // the passes woken by the login end first
    {
        std::unique_lock busy(session->Locks().request);
        reports = 0;
        bar->RefreshUserStatus();
        PumpUntil([] { return false; }, 6500ms);
        EXPECT_EQ(reports, 0) << "no report while another exchange holds the connection";
    }
    bar->RefreshUserStatus();
    EXPECT_TRUE(PumpUntil([this] { return reports > 0; }, 10s));
}

}  // namespace
}  // namespace talvorine::client::ui::contacts
