// An offered file that nobody answers: the sender gives up after the usual 30 seconds.

#include "tlvmsg_fixture.h"

namespace {

using namespace tlvmsg_testing;

TEST_F(Tlvmsg, AnOfferNobodyAnswersEndsAfterThirtySeconds) {
    const auto [alice, bob, file] = OfferToAListener();
    const auto sent = Run(alice, "send-file " + bob + " '" + file.string() + "'");
    StopListener();
    EXPECT_EQ(sent.status, 1);
    EXPECT_NE(
        sent.output.find("No answer from " + bob + " within 30 seconds; the file was not sent.\n"),
        std::string::npos)
        << sent.output;
    EXPECT_NE(server.LogText().find(alice + " logged out."), std::string::npos);
}

}  // namespace
