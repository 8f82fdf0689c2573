// The real TalvorinePostSentry program, started the way the client starts it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "talvorine/mailpoll/client_link.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/testing/spawned_program.h"
#include "temp_registry.h"

namespace talvorine::mailpoll {
namespace {

using namespace std::chrono_literals;
using talvorine::testing::WaitFor;

// The poller as the client starts it, on a channel of this test's own, so that a poller the
// user (or another test) runs meanwhile is never met.
class Program : public talvorine::testing::SpawnedProgram {
public:
    explicit Program(const char* argument) : SpawnedProgram(POST_SENTRY_PROGRAM, {argument}) {}
};

TEST(PostSentryProgramTest, SecondInstanceEndsAtOnceAndTheClientClosesTheFirst) {
    testing::TempRegistry registry;
    ::setenv(platform::PostSentryChannelVariable,
             ("talvorine-poller-test/" + std::to_string(::getpid())).c_str(), 1);
    const std::string channel = PollerChannelName();
    ASSERT_TRUE(WaitFor([&] { return !platform::ChannelExists(channel); }, 30s))
        << "a poller already runs on this desktop";

    Program first("-Embedding");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitFor([&] { return platform::ChannelExists(channel); }, 15s));

    Program second("-Embedding");
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitExit(10s), 0);
    EXPECT_FALSE(first.WaitExit(200ms)) << "the first instance must keep running";

    // The client's message 1: the poller closes.
    ASSERT_TRUE(platform::SendChannelLine(channel, "1"));
    EXPECT_EQ(first.WaitExit(15s), 0);
    EXPECT_FALSE(platform::ChannelExists(channel));
}

}  // namespace
}  // namespace talvorine::mailpoll
