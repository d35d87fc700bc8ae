// The XCP link after a spoiled reply: whatever the simulated UPS's fault did
// to one reply, the exchange after it must get the whole, right reply again.
// (The soak test found a bad start byte losing the UPS: the rest of the
// spoiled block used to stay on the line and spoil every later read.)
#include "events/PVXException.h"
#include "tests/fuzz/FuzzPorts.h"
#include "xcp/link/Commands.h"

#include <gtest/gtest.h>

namespace pvx::test {
namespace {

using fuzz::CSimulatorPort;

constexpr std::uint8_t kIdentification = 0x31;

// 0 when the exchange succeeds with the expected block, else its event code.
std::uint32_t Exchange(CCommands& link)
{
    try {
        return link.SendRequest(kIdentification, CCommands::kSimpleRequestTimeoutMs);
    } catch (const CPVXException& event) {
        return event.GetCode();
    }
}

TEST(LinkRecovery, TheExchangeAfterASpoiledReplyGetsTheWholeReply)
{
    struct SCase {
        const char* fault;
        std::uint32_t firstResult; // of the exchange the fault spoils
    };
    const SCase cases[] = {
        { "fault badstart 1", EVENT_BAD_REPLY },
        { "fault badchecksum 1", EVENT_BAD_REPLY },
        { "fault truncate 1", EVENT_TIMEOUT },
        { "fault foreign 1", 0 },
        { "fault busy 1", 0 },
        { "fault split 40", 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        CFakeClock clock;
        CScopedClock scoped(clock);
        CSimulatorPort port(clock, fuzz::QuietSimulatorConfig());
        CCommands link(&port);
        ASSERT_EQ(Exchange(link), 0u);
        const std::vector<std::uint8_t> expected(link.GetReply().begin(), link.GetReply().end());
        ASSERT_GT(expected.size(), 100u);

        bool quit = false;
        ASSERT_EQ(port.Ups().Control(c.fault, clock.MonotonicMilliseconds(), quit), "ok\n");
        EXPECT_EQ(Exchange(link), c.firstResult);
        EXPECT_EQ(Exchange(link), 0u);
        EXPECT_EQ(std::vector<std::uint8_t>(link.GetReply().begin(), link.GetReply().end()), expected);
    }
}

} // namespace
} // namespace pvx::test
