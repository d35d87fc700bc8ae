// The counters line: due every interval, written only when something new was
// dropped, with the totals since start.
#include "service/CounterLog.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace pvx {
namespace {

TEST(CounterLog, ALineEveryIntervalWhenSomethingNewWasDropped)
{
    CFakeClock clock;
    CScopedClock useClock(clock);
    CCounterLog log(10);
    CCounterLog never(0);
    SNetworkCounters counters;
    struct Step {
        const char* name;
        std::uint32_t advanceMs;
        std::uint64_t newDrops; // added to relay_dropped_not_client
        std::uint64_t newServed;
        bool line;
    };
    const Step steps[] = {
        { "a drop, not yet due", 9999, 1, 0, false },
        { "due", 1, 0, 0, true },
        { "due again, only served since: quiet", 10000, 0, 5, false },
        { "a drop, not yet due again", 5000, 2, 0, false },
        { "due", 5000, 0, 0, true },
        { "nothing since", 20000, 0, 0, false },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        clock.Advance(step.advanceMs);
        counters.relayNotClient += step.newDrops;
        counters.snmpServed += step.newServed;
        ::testing::internal::CaptureStderr();
        log.Poll(counters);
        never.Poll(counters);
        std::string written = ::testing::internal::GetCapturedStderr();
        if (step.line) {
            EXPECT_EQ(written, FormatCounters(counters) + "\n");
        } else {
            EXPECT_EQ(written, "");
        }
    }
    EXPECT_NE(FormatCounters(counters).find(" snmp_served=5 "), std::string::npos);
    EXPECT_NE(FormatCounters(counters).find(" relay_dropped_not_client=3 "), std::string::npos);
}

} // namespace
} // namespace pvx
