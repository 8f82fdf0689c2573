// Status polling against the real server: a login seen by the 30 s poll pass alone.

#include <gtest/gtest.h>

#include "contacts_end_to_end.h"

namespace talvorine::client::ui::contacts {
namespace {

using namespace std::chrono_literals;
using talvorine::testing::PumpUntil;
using testing::ContactsEndToEnd;

TEST_F(ContactsEndToEnd, ALoginIsShownWithinOnePollPassWithoutRefresh) {
    ASSERT_NO_FATAL_FAILURE(StartA(30000ms));
    session::testing::EngineClient bob(loop, b, Network());
    ASSERT_TRUE(bob.ConnectAndWait());
    EXPECT_TRUE(ShownOnline(true, 40s)) << "within one 30 s pass";
}

}  // namespace
}  // namespace talvorine::client::ui::contacts
