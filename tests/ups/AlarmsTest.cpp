// The alarm table: entries added, kept and dropped poll by poll, their ids
// and times, and the traps queued on the way.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace pvx::test {
namespace {

// One trap as "specific@enterprise[binding name=value, ...]".
std::string Describe(const CSNMPTrap& trap)
{
    std::string text = std::to_string(trap.GetGenericTrap()) + "/" + std::to_string(trap.GetSpecificTrap()) + "@"
        + trap.GetEnterprise().ToString();
    for (const auto& binding : trap.GetBindings()) {
        // Appended piece by piece: gcc 12 at -O3 misreads " " + string as an
        // overlapping copy (a false -Wrestrict).
        text += ' ';
        text += binding->GetName()->ToString();
        text += '=';
        text += ValueText(*binding);
    }
    return text;
}

class AlarmsTest : public ::testing::Test {
protected:
    CFakeClock clock { 1000000 };
    CScopedClock scoped { clock };
    CTestUPS ups;

    void Poll(std::initializer_list<const COid*> alarms)
    {
        ups.MarkAlarmsStale();
        for (const COid* alarm : alarms)
            ups.RaiseAlarm(*alarm);
        ups.RemoveStaleAlarms();
    }
    std::vector<std::string> Traps()
    {
        std::vector<std::string> traps;
        while (auto trap = ups.TakeNextTrap())
            traps.push_back(Describe(*trap));
        return traps;
    }
    std::string Get(const std::string& dotted) { return ValueText(*ups.GetMIBData(Name(dotted).Arcs(), false)); }
};

const std::string kOnBatteryOid = "1.3.6.1.2.1.33.1.6.3.2.0";
const std::string kLowBatteryOid = "1.3.6.1.2.1.33.1.6.3.3.0";
const std::string kInputBadOid = "1.3.6.1.2.1.33.1.6.3.6.0";

std::string Added(std::uint32_t id, const std::string& descriptor)
{
    return "6/3@1.3.6.1.2.1.33.2.0 1.3.6.1.2.1.33.1.6.2.1.1.0=" + std::to_string(id)
        + " 1.3.6.1.2.1.33.1.6.2.1.2.0=" + descriptor;
}
std::string Removed(std::uint32_t id, const std::string& descriptor)
{
    return "6/4@1.3.6.1.2.1.33.2.0 1.3.6.1.2.1.33.1.6.2.1.1.0=" + std::to_string(id)
        + " 1.3.6.1.2.1.33.1.6.2.1.2.0=" + descriptor;
}
std::string Vendor(int specific)
{
    return "6/" + std::to_string(specific) + "@1.3.6.1.4.1.534.1.0";
}

TEST_F(AlarmsTest, RaiseAndRemovalQueueTheirTraps)
{
    struct Case {
        const COid* alarm;
        std::string descriptor;
        std::vector<std::string> raised;
        std::vector<std::string> removed;
    };
    const Case cases[] = {
        { &kUpsAlarmOnBattery, kOnBatteryOid, { Vendor(3), Added(1, kOnBatteryOid) }, { Vendor(5) } },
        { &kUpsAlarmLowBattery, kLowBatteryOid, { Vendor(4), Added(1, kLowBatteryOid) },
            { Removed(1, kLowBatteryOid), Vendor(6) } },
        { &kUpsAlarmInputBad, kInputBadOid, { Vendor(14), Added(1, kInputBadOid) }, { Removed(1, kInputBadOid) } },
        { &kUpsAlarmTestInProgress, "1.3.6.1.2.1.33.1.6.3.24.0", { Added(1, "1.3.6.1.2.1.33.1.6.3.24.0") }, {} },
    };
    for (const auto& c : cases) {
        CTestUPS model;
        model.MarkAlarmsStale();
        model.RaiseAlarm(*c.alarm);
        model.RemoveStaleAlarms();
        std::vector<std::string> traps;
        while (auto trap = model.TakeNextTrap())
            traps.push_back(Describe(*trap));
        EXPECT_EQ(traps, c.raised) << c.descriptor;
        ASSERT_EQ(model.GetAlarms().size(), 1u);
        EXPECT_EQ(model.GetAlarms()[0].id, 1u);
        EXPECT_EQ(model.GetAlarms()[0].time, 1000000u);
        EXPECT_EQ(ValueText(*model.GetMIBData(Name("1.3.6.1.2.1.33.1.6.1.0").Arcs(), false)), "1");

        model.MarkAlarmsStale();
        model.RemoveStaleAlarms();
        traps.clear();
        while (auto trap = model.TakeNextTrap())
            traps.push_back(Describe(*trap));
        EXPECT_EQ(traps, c.removed) << c.descriptor;
        EXPECT_TRUE(model.GetAlarms().empty());
    }
}

TEST_F(AlarmsTest, StandardNamesNameTheTrapBindingsByTheEntrysId)
{
    ups.SetStandardNames(true);
    ups.m_nextAlarmId = 9;
    Poll({ &kUpsAlarmInputBad });
    Poll({});
    std::vector<std::string> names;
    while (auto trap = ups.TakeNextTrap()) {
        for (const auto& binding : trap->GetBindings()) {
            std::string text = "1.3.6.1";
            for (std::uint32_t arc : binding->GetInstanceName())
                text += "." + std::to_string(arc);
            names.push_back(text);
        }
    }
    const std::vector<std::string> expected = { "1.3.6.1.2.1.33.1.6.2.1.1.9", "1.3.6.1.2.1.33.1.6.2.1.2.9",
        "1.3.6.1.2.1.33.1.6.2.1.1.9", "1.3.6.1.2.1.33.1.6.2.1.2.9" };
    EXPECT_EQ(names, expected) << "added, then removed";
}

TEST_F(AlarmsTest, VendorTrapOfEveryNewWellKnownAlarm)
{
    struct Case {
        const COid* alarm;
        int vendorSpecific; // 0: none
    };
    const Case cases[] = {
        { &kUpsAlarmBatteryBad, 0 },
        { &kUpsAlarmOnBattery, 3 },
        { &kUpsAlarmLowBattery, 4 },
        { &kUpsAlarmDepletedBattery, 9 },
        { &kUpsAlarmTempBad, 0 },
        { &kUpsAlarmInputBad, 14 },
        { &kUpsAlarmOutputBad, 0 },
        { &kUpsAlarmOutputOverload, 7 },
        { &kUpsAlarmOnBypass, 11 },
        { &kUpsAlarmBypassBad, 12 },
        { &kUpsAlarmUpsOffAsRequested, 0 },
        { &kUpsAlarmChargerFailed, 0 },
        { &kUpsAlarmUpsOutputOff, 13 },
        { &kUpsAlarmUpsSystemOff, 0 },
        { &kUpsAlarmFanFailure, 0 },
        { &kUpsAlarmFuseFailure, 0 },
        { &kUpsAlarmGeneralFault, 8 },
        { &kUpsAlarmDiagnosticTestFailed, 0 },
        { &kUpsAlarmCommunicationsLost, 0 },
        { &kUpsAlarmShutdownPending, 0 },
        { &kUpsAlarmShutdownImminent, 16 },
        { &kUpsAlarmTestInProgress, 0 },
    };
    for (const auto& c : cases) {
        CTestUPS model;
        model.RaiseAlarm(*c.alarm);
        std::vector<std::string> traps;
        while (auto trap = model.TakeNextTrap())
            traps.push_back(Describe(*trap));
        std::vector<std::string> expected;
        if (c.vendorSpecific)
            expected.push_back(Vendor(c.vendorSpecific));
        expected.push_back(Added(1, c.alarm->ToString()));
        EXPECT_EQ(traps, expected) << c.alarm->ToString();
    }
    // The three alarms added for the XCP driver sit in the well-known arc like the others.
    EXPECT_EQ(kUpsAlarmUpsOffAsRequested.ToString(), "1.3.6.1.2.1.33.1.6.3.12.0");
    EXPECT_EQ(kUpsAlarmUpsSystemOff.ToString(), "1.3.6.1.2.1.33.1.6.3.15.0");
    EXPECT_EQ(kUpsAlarmDiagnosticTestFailed.ToString(), "1.3.6.1.2.1.33.1.6.3.19.0");
}

TEST_F(AlarmsTest, AlarmRaisedAgainKeepsItsIdAndTimeAndQueuesNothing)
{
    Poll({ &kUpsAlarmOnBattery });
    Traps();
    clock.Advance(5000);
    Poll({ &kUpsAlarmOnBattery });
    EXPECT_TRUE(Traps().empty());
    ASSERT_EQ(ups.GetAlarms().size(), 1u);
    EXPECT_EQ(ups.GetAlarms()[0].id, 1u);
    EXPECT_EQ(ups.GetAlarms()[0].time, 1000000u);
    EXPECT_EQ(Get("1.3.6.1.2.1.33.1.6.2.1.3.0"), "100000"); // upsAlarmTime = ms clock / 10
}

TEST_F(AlarmsTest, AlarmsOfOnePollGetConsecutiveIds)
{
    Poll({ &kUpsAlarmOnBattery, &kUpsAlarmInputBad });
    EXPECT_EQ(
        Traps(), (std::vector<std::string> { Vendor(3), Added(1, kOnBatteryOid), Vendor(14), Added(2, kInputBadOid) }));
    Poll({ &kUpsAlarmOnBattery, &kUpsAlarmInputBad });
    ASSERT_EQ(ups.GetAlarms().size(), 2u);
    EXPECT_EQ(ups.GetAlarms()[0].id, 1u);
    EXPECT_EQ(ups.GetAlarms()[1].id, 2u);
    EXPECT_EQ(Get("1.3.6.1.2.1.33.1.6.1.0"), "2");
    EXPECT_EQ(Get("1.3.6.1.2.1.33.1.6.2.2.2.0"), kInputBadOid);

    // A poll that raises nothing drops both, in list order.
    Poll({});
    EXPECT_EQ(Traps(), (std::vector<std::string> { Vendor(5), Removed(2, kInputBadOid) }));
    EXPECT_EQ(Get("1.3.6.1.2.1.33.1.6.1.0"), "0");
}

TEST_F(AlarmsTest, IdsStayUniqueAmongPresentEntries)
{
    struct Case {
        const char* what;
        std::vector<std::uint32_t> presentIds; // entries present before the new alarm
        std::uint32_t nextId;
        std::uint32_t newId;
        std::uint32_t nextAfter;
    };
    const Case cases[] = {
        { "next id free", { 1 }, 2, 2, 3 },
        { "next id taken", { 5 }, 5, 6, 7 },
        { "several taken", { 5, 6, 7 }, 5, 8, 9 },
        { "last id of the range", { 1 }, 2147483647, 2147483647, 1 },
        { "wraps past taken ids", { 1, 2 }, 2147483647, 2147483647, 1 },
        { "after the wrap", { 1, 2, 2147483647 }, 1, 3, 4 },
        { "counter beyond the range", {}, 4000000000u, 1, 2 },
        { "counter at 0 never gives 0", {}, 0, 1, 2 },
    };
    for (const auto& c : cases) {
        CTestUPS model;
        for (std::uint32_t id : c.presentIds)
            model.m_alarms.push_back({ id, COid { 2, 1, 33, 1, 6, 3, 100 + id, 0 }, 0, false });
        model.m_nextAlarmId = c.nextId;
        model.RaiseAlarm(kUpsAlarmFanFailure);
        EXPECT_EQ(model.GetAlarms().back().id, c.newId) << c.what;
        EXPECT_EQ(model.m_nextAlarmId, c.nextAfter) << c.what;
    }
}

TEST_F(AlarmsTest, ResetValuesKeepsAlarmsAndNewIdsAvoidThem)
{
    Poll({ &kUpsAlarmOnBattery, &kUpsAlarmLowBattery });
    Traps();
    ups.ResetValues();
    ASSERT_EQ(ups.GetAlarms().size(), 2u);
    EXPECT_EQ(ups.GetAlarms()[0].id, 1u);
    EXPECT_EQ(ups.GetAlarms()[1].id, 2u);
    EXPECT_EQ(ups.m_nextAlarmId, 1u);
    Poll({ &kUpsAlarmOnBattery, &kUpsAlarmLowBattery, &kUpsAlarmInputBad });
    EXPECT_EQ(ups.GetAlarms()[2].id, 3u);
    EXPECT_EQ(Traps(), (std::vector<std::string> { Vendor(14), Added(3, kInputBadOid) }));
}

TEST_F(AlarmsTest, DescriptorOutsideTheWellKnownListIsKeptAsGiven)
{
    {
        COid custom { 4, 1, 534, 1, 7, 99, 0 };
        ups.RaiseAlarm(custom);
    } // the entry keeps its own copy
    EXPECT_EQ(Get("1.3.6.1.2.1.33.1.6.2.1.2.0"), "1.3.6.1.4.1.534.1.7.99.0");
    EXPECT_EQ(Traps(), std::vector<std::string> { Added(1, "1.3.6.1.4.1.534.1.7.99.0") });
}

} // namespace
} // namespace pvx::test
