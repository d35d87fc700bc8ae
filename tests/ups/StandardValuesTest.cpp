// RFC 1628's types, values and traps behind SNMP/StandardValues, and the
// vendor's forms without it: what each object and trap looks like on the wire.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"
#include "platform/Portability.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace pvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The value of one short binding as sent: the tag and contents after the
// SEQUENCE's header and the name.
Bytes ValueOnTheWire(const CMIBData& value)
{
    std::array<std::uint8_t, 128> storage {};
    CBasicEncodingRulesBuffer out(storage);
    out.SetMinimalLengths(true);
    out.WriteVarBind(value);
    return Bytes(storage.begin() + 4 + storage[3], storage.begin() + static_cast<std::ptrdiff_t>(out.Position()));
}

class StandardValuesTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        // The fake clock is set past the process's start, so that sysUpTime is
        // not 0 when the alarm comes, and moves on after it.
        for (std::uint64_t left = m_realNow + 1500; left > 0;) {
            const auto step = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 1u << 30));
            clock.Advance(step);
            left -= step;
        }
        clock.SetWallMilliseconds(1001500);
        ups.SetStandardValues(GetParam());
        ups.m_inputLineBads = 3;
        alarmUpTime = GetUpTimeTicks();
        ups.RaiseAlarm(kUpsAlarmLowBattery);
        while (ups.TakeNextTrap()) { }
        clock.Advance(2000);
    }

    const std::uint64_t m_realNow = GetMonotonicMilliseconds(); // before the fake clock is in use
    CFakeClock clock;
    CScopedClock scoped { clock };
    CTestUPS ups;
    std::uint32_t alarmUpTime = 0;
};

TEST_P(StandardValuesTest, TypesAndIdentifiersAsTheMibHasThem)
{
    ASSERT_GT(alarmUpTime, 0u);
    const std::string cell = "1.3.6.1.2.1.33.1.6.2." + std::to_string(ups.GetAlarms().front().id);
    // The vendor's alarm time: the wall clock in hundredths, as decimal text.
    const std::string wall = "100150";
    Bytes wallText { 0x04, static_cast<std::uint8_t>(wall.size()) };
    wallText.insert(wallText.end(), wall.begin(), wall.end());
    // RFC 1628's: a TimeStamp, sysUpTime when the alarm came (TimeTicks, 4 bytes at most).
    Bytes ticks { 0x43, 0x00 };
    for (std::uint32_t rest = alarmUpTime; rest != 0; rest >>= 8)
        ticks.insert(ticks.begin() + 2, static_cast<std::uint8_t>(rest));
    if (ticks[2] >= 0x80)
        ticks.insert(ticks.begin() + 2, 0x00);
    ticks[1] = static_cast<std::uint8_t>(ticks.size() - 2);
    struct SCase {
        const char* what;
        std::string name;
        Bytes vendor, rfc1628;
    };
    const SCase cases[] = {
        { "upsInputLineBads is a Counter32", "1.3.6.1.2.1.33.1.3.1.0", { 0x02, 0x01, 0x03 }, { 0x41, 0x01, 0x03 } },
        { "upsAlarmsPresent is a Gauge32", "1.3.6.1.2.1.33.1.6.1.0", { 0x02, 0x01, 0x01 }, { 0x42, 0x01, 0x01 } },
        { "upsAlarmTime is a TimeStamp on sysUpTime", cell + ".3.0", wallText, ticks },
        { "upsAlarmDescr without the final .0", cell + ".2.0", { 0x06, 0x0B, 0x2B, 6, 1, 2, 1, 33, 1, 6, 3, 3, 0 },
            { 0x06, 0x0A, 0x2B, 6, 1, 2, 1, 33, 1, 6, 3, 3 } },
        { "upsTestId, the well-known test", "1.3.6.1.2.1.33.1.7.1.0",
            { 0x06, 0x0B, 0x2B, 6, 1, 2, 1, 33, 1, 7, 7, 1, 0 }, { 0x06, 0x0A, 0x2B, 6, 1, 2, 1, 33, 1, 7, 7, 1 } },
        { "an INTEGER stays one", "1.3.6.1.2.1.33.1.2.4.0", { 0x02, 0x01, 0x00 }, { 0x02, 0x01, 0x00 } },
    };
    for (const SCase& c : cases)
        EXPECT_EQ(ValueOnTheWire(*ups.GetMIBData(Name(c.name).Arcs(), false)), GetParam() ? c.rfc1628 : c.vendor)
            << c.what;
}

// RFC 1628 traps as RFC 3584 section 3.2 sends them in SNMPv1: enterprise
// upsTraps, upsTrapAlarmEntryAdded for every alarm but on battery and test in
// progress, upsTrapAlarmEntryRemoved for every alarm but test in progress.
TEST_P(StandardValuesTest, AlarmTrapsOfRfc1628)
{
    const std::string at = GetParam() ? "@upsTraps" : "@upsTraps.0";
    auto entryTraps = [this] {
        std::vector<std::string> found;
        while (auto trap = ups.TakeNextTrap())
            if (trap->GetEnterprise() == kUpsTrapsEnterprise)
                found.push_back(std::to_string(trap->GetSpecificTrap())
                    + (trap->GetEnterpriseForm() == EWireForm::OidAsIs ? "@upsTraps" : "@upsTraps.0"));
        return found;
    };
    ups.RaiseAlarm(kUpsAlarmOnBattery);
    EXPECT_EQ(entryTraps(), GetParam() ? std::vector<std::string> {} : std::vector<std::string> { "3" + at });
    ups.RaiseAlarm(kUpsAlarmInputBad);
    EXPECT_EQ(entryTraps(), std::vector<std::string> { "3" + at });
    ups.MarkAlarmsStale();
    ups.RemoveStaleAlarms();
    // Removed: low battery, on battery (standard only), input bad.
    EXPECT_EQ(entryTraps(), std::vector<std::string>(GetParam() ? 3 : 2, "4" + at));
}

INSTANTIATE_TEST_SUITE_P(Values, StandardValuesTest, ::testing::Bool(),
    [](const auto& info) { return info.param ? std::string("Standard") : std::string("Vendor"); });

} // namespace
} // namespace pvx::test
