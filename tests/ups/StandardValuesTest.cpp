// RFC 1628's types, values and traps behind SNMP/StandardValues, and the
// vendor's forms without it: what each object and trap looks like on the wire.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"
#include "platform/Portability.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include <gtest/gtest.h>

namespace pvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The value of one binding as sent: its tag and contents.
Bytes ValueOnTheWire(const CMIBData& value)
{
    std::array<std::uint8_t, 600> storage {};
    CBasicEncodingRulesBuffer out(storage);
    out.SetMinimalLengths(true);
    out.WriteVarBind(value);
    CBasicEncodingRulesBuffer in(std::span<std::uint8_t>(storage).first(out.Position()));
    in.ReadHeader(ber::kSequence);
    std::uint32_t nameLength = in.ReadHeader(ber::kObjectIdentifier);
    in.SetPosition(in.Position() + nameLength);
    auto rest = std::span(storage).subspan(in.Position(), out.Position() - in.Position());
    return Bytes(rest.begin(), rest.end());
}

class StandardValuesTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ups.SetStandardValues(GetParam());
        ups.m_inputLineBads = 3;
        clock.Advance(1500); // sysUpTime moves on with the clock
        ups.RaiseAlarm(kUpsAlarmLowBattery);
        while (ups.TakeNextTrap()) { }
    }
    Bytes Get(const std::string& dotted) { return ValueOnTheWire(*ups.GetMIBData(Name(dotted).Arcs(), false)); }

    CFakeClock clock { 1000000 };
    CScopedClock scoped { clock };
    CTestUPS ups;
};

TEST_P(StandardValuesTest, TypesAndIdentifiersAsTheMibHasThem)
{
    const bool standard = GetParam();
    const std::uint32_t upTime = GetUpTimeTicks();
    const std::uint32_t id = ups.GetAlarms().front().id;
    const std::string cell = "1.3.6.1.2.1.33.1.6.2." + std::to_string(id);
    // TimeTicks of the uptime: the shortest unsigned contents.
    Bytes ticks { 0x43, 0x00 };
    for (int i = 3; i >= 0; --i)
        if (upTime >> (8 * i) != 0 || ticks.size() > 2 || i == 0)
            ticks.push_back(static_cast<std::uint8_t>(upTime >> (8 * i)));
    if (ticks[2] >= 0x80)
        ticks.insert(ticks.begin() + 2, 0x00);
    ticks[1] = static_cast<std::uint8_t>(ticks.size() - 2);
    struct SCase {
        const char* what;
        std::string name;
        Bytes vendor, rfc1628;
    };
    const std::string alarmTime = std::to_string((1000000u + 1500u) / 10);
    Bytes alarmTimeText { 0x04, static_cast<std::uint8_t>(alarmTime.size()) };
    alarmTimeText.insert(alarmTimeText.end(), alarmTime.begin(), alarmTime.end());
    const SCase cases[] = {
        { "upsInputLineBads is a Counter32", "1.3.6.1.2.1.33.1.3.1.0", { 0x02, 0x01, 0x03 }, { 0x41, 0x01, 0x03 } },
        { "upsAlarmsPresent is a Gauge32", "1.3.6.1.2.1.33.1.6.1.0", { 0x02, 0x01, 0x01 }, { 0x42, 0x01, 0x01 } },
        { "upsAlarmTime is a TimeStamp on sysUpTime", cell + ".3.0", alarmTimeText, ticks },
        { "upsAlarmDescr without the final .0", cell + ".2.0",
            { 0x06, 0x0B, 0x2B, 6, 1, 2, 1, 33, 1, 6, 3, 3, 0 }, { 0x06, 0x0A, 0x2B, 6, 1, 2, 1, 33, 1, 6, 3, 3 } },
        { "upsTestId, the well-known test", "1.3.6.1.2.1.33.1.7.1.0", { 0x06, 0x0B, 0x2B, 6, 1, 2, 1, 33, 1, 7, 7, 1, 0 },
            { 0x06, 0x0A, 0x2B, 6, 1, 2, 1, 33, 1, 7, 7, 1 } },
        { "an INTEGER stays one", "1.3.6.1.2.1.33.1.2.4.0", { 0x02, 0x01, 0x00 }, { 0x02, 0x01, 0x00 } },
    };
    for (const SCase& c : cases)
        EXPECT_EQ(Get(c.name), standard ? c.rfc1628 : c.vendor) << c.what;
}

TEST_P(StandardValuesTest, SpinLockIsATestAndIncr)
{
    const bool standard = GetParam();
    ups.m_testSpinLock = 7;
    struct SCase {
        std::int32_t value;
        std::uint32_t vendorCode, standardCode;
        std::uint32_t vendorAfter, standardAfter;
    };
    const SCase cases[] = {
        { 6, 0, EVENT_INCONSISTENT_VALUE, 6, 7 },
        { 7, 0, 0, 7, 8 },
    };
    for (const SCase& c : cases) {
        CMIBData value(c.value, INT32_MIN, INT32_MAX, MIB_SIGNED);
        value.SetName(Name("1.3.6.1.2.1.33.1.7.2.0"));
        ups.m_testSpinLock = 7;
        EXPECT_EQ(CodeOf([&] { ups.SetMIBData(value); }), standard ? c.standardCode : c.vendorCode) << c.value;
        EXPECT_EQ(ups.m_testSpinLock, standard ? c.standardAfter : c.vendorAfter) << c.value;
    }
}

// RFC 1628 traps as RFC 3584 section 3.2 sends them in SNMPv1: enterprise
// upsTraps, upsTrapAlarmEntryAdded for every alarm but on battery and test in
// progress, upsTrapAlarmEntryRemoved for every alarm but test in progress.
TEST_P(StandardValuesTest, AlarmTrapsOfRfc1628)
{
    const bool standard = GetParam();
    auto entryTraps = [this] {
        std::vector<std::string> found;
        while (auto trap = ups.TakeNextTrap()) {
            if (!(trap->GetEnterprise() == kUpsTrapsEnterprise))
                continue;
            found.push_back(std::to_string(trap->GetSpecificTrap())
                + (trap->GetEnterpriseForm() == EWireForm::OidAsIs ? "@upsTraps" : "@upsTraps.0"));
        }
        return found;
    };
    const std::string at = standard ? "@upsTraps" : "@upsTraps.0";
    ups.RaiseAlarm(kUpsAlarmOnBattery);
    EXPECT_EQ(entryTraps(), standard ? std::vector<std::string> {} : std::vector<std::string> { "3" + at });
    ups.RaiseAlarm(kUpsAlarmInputBad);
    EXPECT_EQ(entryTraps(), std::vector<std::string> { "3" + at });
    ups.MarkAlarmsStale();
    ups.RemoveStaleAlarms();
    // Removed: low battery, on battery (standard only), input bad, in list order.
    const std::vector<std::string> removed(standard ? 3 : 2, "4" + at);
    EXPECT_EQ(entryTraps(), removed);
}

INSTANTIATE_TEST_SUITE_P(Values, StandardValuesTest, ::testing::Bool(),
    [](const auto& info) { return info.param ? std::string("Standard") : std::string("Vendor"); });

} // namespace
} // namespace pvx::test
