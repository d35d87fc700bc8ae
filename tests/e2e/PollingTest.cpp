// The daemon against the simulated UPS: identification and the relay's identity query.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace pvx::test;

TEST(Polling, IdentifiesTheUpsAndAnswersTheIdentityQuery)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    CPvxDaemon pvx(folder.Path(), ups.DevicePath());
    ASSERT_TRUE(pvx.WaitForStdout("UPS found is [", 20s)) << pvx.Stderr();
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(UdpExchange(pvx.RelayPort(), XcpFrame({ 0x00 }), reply, 5s));
    EXPECT_EQ(reply, (std::vector<std::uint8_t> { 'p', 'v', 'x', 0 }));
    EXPECT_TRUE(pvx.WaitForStdout("requested pvx\n", 2s));
    EXPECT_EQ(ups.Control("status").empty(), false);
}
