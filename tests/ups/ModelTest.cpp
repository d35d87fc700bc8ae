// The UPS model's life cycle: defaults and ResetValues, Start, the control
// timers and traps of Update, failure counting, the bounded trap queue and
// the scheduling arithmetic. Time is a fake clock, never slept.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>

namespace pvx::test {
namespace {

class ModelTest : public ::testing::Test {
protected:
    CFakeClock clock { 1000000, 1700000000 };
    CScopedClock scoped { clock };
    CTestUPS ups;

    std::string Get(const std::string& dotted) { return ValueText(*ups.GetMIBData(Name(dotted).Arcs(), false)); }
    void Set(const std::string& dotted, std::int32_t v)
    {
        CMIBData value(v, INT32_MIN, INT32_MAX, MIB_SIGNED);
        value.SetName(Name(dotted));
        ups.SetMIBData(value);
    }
    std::vector<std::unique_ptr<CSNMPTrap>> DrainTraps()
    {
        std::vector<std::unique_ptr<CSNMPTrap>> traps;
        while (auto trap = ups.TakeNextTrap())
            traps.push_back(std::move(trap));
        return traps;
    }
    // "generic/specific@enterprise" of every pending trap, oldest first.
    std::vector<std::string> TrapKeys()
    {
        std::vector<std::string> keys;
        for (const auto& trap : DrainTraps())
            keys.push_back(std::to_string(trap->GetGenericTrap()) + "/" + std::to_string(trap->GetSpecificTrap()) + "@"
                + trap->GetEnterprise().ToString());
        return keys;
    }
};

const std::string kVendorTrap = "@1.3.6.1.4.1.534.1.0";
const std::string kUpsTrap = "@1.3.6.1.2.1.33.2.0";

TEST_F(ModelTest, FreshModelReadsItsDefaults)
{
    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        { "1.3.6.1.2.1.33.1.1.3.0", "0.1a" }, // upsIdentUPSSoftwareVersion
        { "1.3.6.1.2.1.33.1.1.4.0", "0.1a" }, // upsIdentAgentSoftwareVersion
        { "1.3.6.1.2.1.33.1.3.2.0", "1" }, // upsInputNumLines
        { "1.3.6.1.2.1.33.1.4.1.0", "1" }, // upsOutputSource other
        { "1.3.6.1.2.1.33.1.4.3.0", "1" }, // upsOutputNumLines
        { "1.3.6.1.2.1.33.1.5.2.0", "1" }, // upsBypassNumLines
        { "1.3.6.1.2.1.33.1.6.1.0", "0" }, // upsAlarmsPresent
        { "1.3.6.1.2.1.33.1.7.1.0", "1.3.6.1.2.1.33.1.7.7.1.0" }, // upsTestNoTestsInitiated
        { "1.3.6.1.2.1.33.1.7.2.0", "1" }, // upsTestSpinLock
        { "1.3.6.1.2.1.33.1.7.3.0", "6" }, // noTestsInitiated
        { "1.3.6.1.2.1.33.1.8.1.0", "1" }, // upsShutdownType output
        { "1.3.6.1.2.1.33.1.8.2.0", "-1" }, // upsShutdownAfterDelay
        { "1.3.6.1.2.1.33.1.8.3.0", "-1" },
        { "1.3.6.1.2.1.33.1.8.4.0", "-1" },
        { "1.3.6.1.2.1.33.1.8.5.0", "1" }, // upsAutoRestart on
        { "1.3.6.1.2.1.33.1.9.8.0", "2" }, // upsConfigAudibleStatus enabled
        { "1.3.6.1.4.1.534.1.2.5.0", "5" }, // battery charge state
        { "1.3.6.1.4.1.534.1.6.2.0", "-100" },
        { "1.3.6.1.4.1.534.1.6.3.0", "200" },
        { "1.3.6.1.4.1.534.1.8.2.0", "1" },
        { "1.3.6.1.4.1.534.1.9.3.0", "-1" }, // unlimited warning windows
        { "1.3.6.1.4.1.534.1.9.4.0", "-1" },
        { "1.3.6.1.4.1.534.1.9.5.0", "-1" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Get(c.name), c.value) << c.name;
    EXPECT_FALSE(ups.IsConnected());
    EXPECT_EQ(ups.GetLinkState(), -1);
    EXPECT_FALSE(ups.HasPendingTraps());
    EXPECT_FALSE(ups.m_nextOnBatteryTrap.has_value());
    EXPECT_EQ(ups.m_relayAddress, 0u);
}

TEST_F(ModelTest, ResetValuesRestoresDefaultsAndKeepsIdentityAlarmsAndTraps)
{
    const std::string path = ::testing::TempDir() + "pvx_model_reset.ini";
    {
        std::ofstream file(path);
        file << "[UPSIdent]\nName=server room\nAttachedDevices=rack 4\n";
    }
    CINIFile configuration(path);
    CTestUPS model(&configuration);
    EXPECT_EQ(model.m_upsName, "server room");
    EXPECT_EQ(model.m_attachedDevices, "rack 4");

    model.m_audibleStatus = 3;
    model.m_inputLineCount = 3;
    model.m_nominalOutputVA = 1500;
    model.m_upsSoftwareVersion = "9.9";
    model.m_outputSource = 5;
    model.m_minutesRemaining = 12;
    model.m_inputLines[2].voltage = 231;
    model.m_testSpinLock = 9;
    model.m_shutdownDue = 5000;
    model.m_shutdownWarningWindow = 1000;
    model.m_testId = kUpsTestQuickBatteryTest;
    model.m_upsName = "changed";
    model.m_linkState = 3;
    model.m_manufacturer = "Maker";
    model.m_model = "M1";
    model.m_testResultDetail = "passed";
    model.m_upsDateTime = "01/02/2003:04:05:06";
    model.m_eventRecords.push_back({ "x", 1, 2 });
    model.m_shutdownTrapSent = true;
    model.m_onBatterySince = 1234;
    model.m_nextOnBatteryTrap = 777;
    model.SetRelayAddress(0x0100007F);
    model.RaiseAlarm(kUpsAlarmOnBattery);
    ASSERT_TRUE(model.HasPendingTraps());

    {
        std::ofstream file(path);
        file << "[UPSIdent]\nName=new name\n";
    }
    model.ResetValues();

    EXPECT_EQ(model.m_audibleStatus, 2);
    EXPECT_EQ(model.m_inputLineCount, 1u);
    EXPECT_EQ(model.m_nominalOutputVA, 0u);
    EXPECT_EQ(model.m_upsSoftwareVersion, "0.1a");
    EXPECT_EQ(model.m_outputSource, 1);
    EXPECT_EQ(model.m_minutesRemaining, 0u);
    EXPECT_EQ(model.m_inputLines[2].voltage, 0u);
    EXPECT_EQ(model.m_testSpinLock, 1u);
    EXPECT_EQ(model.m_shutdownDue, CAbstractUPS::kNoDueTime);
    EXPECT_EQ(model.m_shutdownWarningWindow, CAbstractUPS::kUnlimitedWindow);
    EXPECT_EQ(model.m_testId, kUpsTestNoTestsInitiated);
    EXPECT_EQ(model.m_nextAlarmId, 1u);
    EXPECT_EQ(model.m_upsName, "new name");
    EXPECT_EQ(model.m_attachedDevices, "") << "a missing key reads empty";
    EXPECT_EQ(model.GetLinkState(), -1);
    // Left alone:
    EXPECT_EQ(model.m_manufacturer, "Maker");
    EXPECT_EQ(model.m_model, "M1");
    EXPECT_EQ(model.m_testResultDetail, "passed");
    EXPECT_EQ(model.m_upsDateTime, "01/02/2003:04:05:06");
    EXPECT_EQ(model.m_eventRecords.size(), 1u);
    EXPECT_TRUE(model.m_shutdownTrapSent);
    EXPECT_EQ(model.m_onBatterySince, 1234);
    EXPECT_EQ(model.m_nextOnBatteryTrap, 777);
    EXPECT_EQ(model.m_relayAddress, 0x0100007Fu);
    ASSERT_EQ(model.GetAlarms().size(), 1u);
    EXPECT_EQ(model.GetAlarms()[0].id, 1u);
    EXPECT_TRUE(model.HasPendingTraps());
    std::remove(path.c_str());
}

TEST_F(ModelTest, StartIdentifiesOrStaysLost)
{
    struct Case {
        const char* what;
        bool identifyThrows;
        int outputSource;
        int linkState;
        std::uint32_t secondsOnBattery;
    };
    const Case cases[] = {
        { "identified on line", false, 3, 0, 0 },
        { "identified on battery", false, 5, 0, 1 },
        { "identification fails", true, 5, -1, 0 },
    };
    for (const auto& c : cases) {
        CTestUPS model;
        model.m_secondsOnBattery = 77;
        model.identify = [&c](CTestUPS& u) {
            u.m_outputSource = c.outputSource;
            u.m_manufacturer = "Maker";
            if (c.identifyThrows)
                throw CPVXException(EVENT_TIMEOUT);
        };
        model.Start(); // never throws
        EXPECT_EQ(model.GetLinkState(), c.linkState) << c.what;
        EXPECT_EQ(model.IsConnected(), c.linkState == 0) << c.what;
        EXPECT_EQ(model.m_secondsOnBattery, c.secondsOnBattery) << c.what;
        if (c.identifyThrows) {
            EXPECT_EQ(model.m_outputSource, 1) << "values reset after a failed identification";
        } else if (c.outputSource == 5) {
            EXPECT_EQ(model.m_onBatterySince, clock.WallSeconds());
        }
    }
}

TEST_F(ModelTest, SixthFailingPassResetsTheValuesAndLosesTheLink)
{
    ups.identify = [](CTestUPS& u) { u.m_nominalOutputVA = 1500; };
    ups.Start();
    ASSERT_EQ(ups.GetLinkState(), 0);

    bool failing = true;
    ups.readValues = [&failing](CTestUPS&) {
        if (failing)
            throw CPVXException(EVENT_BAD_REPLY);
    };
    for (int pass = 1; pass <= 5; ++pass) {
        ups.Update();
        EXPECT_EQ(ups.GetLinkState(), pass);
        EXPECT_EQ(ups.m_nominalOutputVA, 1500u) << "values kept after failure " << pass;
    }
    ups.Update();
    EXPECT_EQ(ups.GetLinkState(), -1);
    EXPECT_FALSE(ups.IsConnected());
    EXPECT_EQ(ups.m_nominalOutputVA, 0u);

    // Failing on while lost stays lost.
    ups.Update();
    EXPECT_EQ(ups.GetLinkState(), -1);
}

TEST_F(ModelTest, ASuccessfulPassClearsTheFailureCount)
{
    ups.Start();
    int pass = 0;
    // fail, fail, fail, fail, succeed, then five failures: never lost.
    ups.readValues = [&pass](CTestUPS&) {
        ++pass;
        if (pass != 5)
            throw CPVXException(EVENT_TIMEOUT);
    };
    const int expected[] = { 1, 2, 3, 4, 0, 1, 2, 3, 4, 5, -1 };
    for (int want : expected) {
        ups.Update();
        EXPECT_EQ(ups.GetLinkState(), want) << "pass " << pass;
    }
}

TEST_F(ModelTest, OnBatteryTrapComesAtOnceThenAtMostEverySixtySeconds)
{
    ups.m_minutesRemaining = 17;
    ups.Start();
    ups.readValues = [](CTestUPS& u) { u.m_outputSource = 5; };

    ups.Update();
    EXPECT_EQ(ups.m_secondsOnBattery, 1u);
    auto traps = DrainTraps();
    ASSERT_EQ(traps.size(), 1u);
    const CSNMPTrap& t1 = *traps[0];
    EXPECT_EQ(t1.GetGenericTrap(), 6);
    EXPECT_EQ(t1.GetSpecificTrap(), 1);
    EXPECT_EQ(t1.GetEnterprise().ToString(), "1.3.6.1.2.1.33.2.0");
    ASSERT_EQ(t1.GetBindings().size(), 2u);
    EXPECT_EQ(t1.GetBindings()[0]->GetName()->ToString(), "1.3.6.1.2.1.33.1.2.3.0");
    EXPECT_EQ(ValueText(*t1.GetBindings()[0]), "17");
    EXPECT_EQ(t1.GetBindings()[1]->GetName()->ToString(), "1.3.6.1.2.1.33.1.2.2.0");
    EXPECT_EQ(ValueText(*t1.GetBindings()[1]), "1");

    struct Step {
        std::uint32_t advanceMs;
        std::uint32_t secondsOnBattery;
        bool trap;
    };
    const Step steps[] = {
        { 1000, 1, false },
        { 1000, 2, false },
        { 57000, 59, false },
        { 1000, 60, false }, // 60 s after the first: not yet
        { 1, 60, true },
        { 30000, 90, false },
        { 30000, 120, false },
        { 1, 120, true },
    };
    for (const auto& s : steps) {
        clock.Advance(s.advanceMs);
        ups.Update();
        EXPECT_EQ(ups.m_secondsOnBattery, s.secondsOnBattery);
        EXPECT_EQ(DrainTraps().size(), s.trap ? 1u : 0u) << "at " << clock.MonotonicMilliseconds() << " ms";
    }

    // Back on line: the count drops to 0 and no trap comes.
    ups.readValues = [](CTestUPS& u) { u.m_outputSource = 3; };
    ups.Update();
    EXPECT_EQ(ups.m_secondsOnBattery, 0u);
    EXPECT_FALSE(ups.HasPendingTraps());
}

TEST_F(ModelTest, CompletedTestQueuesTestCompletedWithSixBindings)
{
    ups.Start();
    ups.m_testResultSummary = 5;
    ups.m_testStartTime = clock.WallMilliseconds();
    ups.m_testId = kUpsTestQuickBatteryTest;
    ups.m_testResultDetail = "battery good";
    ups.m_testSpinLock = 4;

    ups.Update(); // still running
    EXPECT_FALSE(ups.HasPendingTraps());

    clock.Advance(12340);
    ups.readValues = [](CTestUPS& u) { u.m_testResultSummary = 1; };
    ups.Update();
    EXPECT_EQ(ups.m_testSpinLock, 5u);
    EXPECT_EQ(ups.m_testElapsedTime, 12340u);
    auto traps = DrainTraps();
    ASSERT_EQ(traps.size(), 1u);
    EXPECT_EQ(traps[0]->GetSpecificTrap(), 2);
    EXPECT_EQ(traps[0]->GetEnterprise().ToString(), "1.3.6.1.2.1.33.2.0");
    const std::pair<const char*, std::string> bindings[] = {
        { "1.3.6.1.2.1.33.1.7.1.0", "1.3.6.1.2.1.33.1.7.7.4.0" },
        { "1.3.6.1.2.1.33.1.7.2.0", "5" },
        { "1.3.6.1.2.1.33.1.7.3.0", "1" },
        { "1.3.6.1.2.1.33.1.7.4.0", "battery good" },
        { "1.3.6.1.2.1.33.1.7.5.0", std::to_string(1000000 / 10) },
        { "1.3.6.1.2.1.33.1.7.6.0", "1234" },
    };
    ASSERT_EQ(traps[0]->GetBindings().size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(traps[0]->GetBindings()[i]->GetName()->ToString(), bindings[i].first);
        EXPECT_EQ(ValueText(*traps[0]->GetBindings()[i]), bindings[i].second) << bindings[i].first;
    }
    ups.Update();
    EXPECT_FALSE(ups.HasPendingTraps()) << "one trap per completed test";
}

// Shutdown and startup warnings: when each pass sees them, for unlimited and
// finite windows.
TEST_F(ModelTest, WarningTrapsFollowTheirWindows)
{
    struct Case {
        const char* what;
        const char* delayObject; // UPS-MIB control object that schedules
        std::int32_t windowSeconds; // -1 unlimited (vendor 9.3 / 9.4)
        const char* windowObject;
        std::vector<std::uint32_t> passesAtMs; // pass times after scheduling
        std::vector<bool> trapAt; // warning queued in that pass
        std::vector<bool> armedAfter; // due time still set after that pass
        int specific;
    };
    const Case cases[] = {
        { "shutdown, unlimited: first pass", "1.3.6.1.2.1.33.1.8.2.0", -1, "1.3.6.1.4.1.534.1.9.3.0",
            { 1000, 5000, 10000, 10001 }, { true, false, false, false }, { true, true, true, false }, 1 },
        { "shutdown, 3 s window: only after the due time", "1.3.6.1.2.1.33.1.8.2.0", 3, "1.3.6.1.4.1.534.1.9.3.0",
            { 1000, 9999, 12000 }, { false, false, true }, { true, true, false }, 1 },
        { "shutdown, due time hit exactly", "1.3.6.1.2.1.33.1.8.2.0", 3, "1.3.6.1.4.1.534.1.9.3.0", { 10000, 10001 },
            { true, false }, { true, false }, 1 },
        { "shutdown, pass later than the window", "1.3.6.1.2.1.33.1.8.2.0", 3, "1.3.6.1.4.1.534.1.9.3.0", { 13001 },
            { false }, { false }, 1 },
        { "startup, unlimited", "1.3.6.1.2.1.33.1.8.3.0", -1, "1.3.6.1.4.1.534.1.9.4.0", { 1000, 10001 },
            { true, false }, { true, false }, 2 },
        { "startup, 0 s window", "1.3.6.1.2.1.33.1.8.3.0", 0, "1.3.6.1.4.1.534.1.9.4.0", { 9000, 10000, 10500 },
            { false, true, false }, { true, true, false }, 2 },
    };
    for (const auto& c : cases) {
        CFakeClock local(1000000);
        CScopedClock guard(local);
        CTestUPS model;
        model.shutdownTypes = { 1 };
        model.canStartup = true;
        model.Start();
        CMIBData window(c.windowSeconds, INT32_MIN, INT32_MAX, MIB_SIGNED);
        window.SetName(Name(c.windowObject));
        model.SetMIBData(window);
        CMIBData delay(std::int32_t { 10 }, INT32_MIN, INT32_MAX, MIB_SIGNED);
        delay.SetName(Name(c.delayObject));
        model.SetMIBData(delay);
        const std::int64_t scheduledAt = local.MonotonicMilliseconds();
        for (std::size_t i = 0; i < c.passesAtMs.size(); ++i) {
            local.Advance(static_cast<std::uint32_t>(scheduledAt + c.passesAtMs[i] - local.MonotonicMilliseconds()));
            model.Update();
            std::vector<std::string> keys;
            while (auto trap = model.TakeNextTrap())
                keys.push_back(std::to_string(trap->GetSpecificTrap()) + trap->GetEnterprise().ToString());
            std::vector<std::string> expected;
            if (c.trapAt[i])
                expected.push_back(std::to_string(c.specific) + "1.3.6.1.4.1.534.1.0");
            EXPECT_EQ(keys, expected) << c.what << " pass at " << c.passesAtMs[i];
            const auto due = c.specific == 1 ? model.m_shutdownDue : model.m_startupDue;
            EXPECT_EQ(due != CAbstractUPS::kNoDueTime, c.armedAfter[i]) << c.what << " pass at " << c.passesAtMs[i];
        }
    }
}

TEST_F(ModelTest, WarningsShareOneFlagClearedOnlyByUpsMibSchedules)
{
    ups.shutdownTypes = { 1 };
    ups.canStartup = true;
    ups.Start();
    Set("1.3.6.1.2.1.33.1.8.2.0", 5); // shutdown in 5 s
    ups.Update();
    EXPECT_EQ(TrapKeys(), std::vector<std::string> { "6/1" + kVendorTrap });
    clock.Advance(6000);
    ups.Update(); // passes the due time
    EXPECT_EQ(ups.m_shutdownDue, CAbstractUPS::kNoDueTime);

    // A startup scheduled through the vendor MIB finds the flag set: no warning.
    Set("1.3.6.1.4.1.534.1.9.2.0", 5);
    ups.Update();
    EXPECT_TRUE(TrapKeys().empty());
    // Through the UPS-MIB the flag is cleared again.
    Set("1.3.6.1.2.1.33.1.8.3.0", 5);
    ups.Update();
    EXPECT_EQ(TrapKeys(), std::vector<std::string> { "6/2" + kVendorTrap });
}

// A due action the UPS refuses must not be repeated on every pass and starve
// the polling: the due time is cleared whatever the action did.
TEST_F(ModelTest, RefusedDueActionIsNotRetriedAndPollingGoesOn)
{
    struct Case {
        const char* action;
        const char* scheduleObject;
    };
    const Case cases[] = {
        { "ApplyTimedCommand", "1.3.6.1.4.1.534.1.9.5.0" },
        { "ApplyStartupSchedule", "1.3.6.1.4.1.534.1.9.2.0" },
    };
    for (const auto& c : cases) {
        CFakeClock local(1000000);
        CScopedClock guard(local);
        CTestUPS model;
        model.canTimedCommand = true;
        model.canStartup = true;
        model.Start();
        CMIBData delay(std::int32_t { 2 }, INT32_MIN, INT32_MAX, MIB_SIGNED);
        delay.SetName(Name(c.scheduleObject));
        model.SetMIBData(delay);
        model.actions.clear();
        model.dueSeen.clear();
        model.failingAction = c.action;
        local.Advance(2001);

        model.Update();
        EXPECT_EQ(model.GetLinkState(), 1) << c.action << ": the refusal fails this pass";
        ASSERT_EQ(model.actions, std::vector<std::string> { c.action });
        EXPECT_EQ(model.dueSeen[0], 2000) << c.action << " saw the due time it acts on";
        EXPECT_EQ(model.m_timedCommandDue, CAbstractUPS::kNoDueTime);
        EXPECT_EQ(model.m_startupDue, CAbstractUPS::kNoDueTime);

        const int readsBefore = model.readCalls;
        for (int i = 0; i < 6; ++i) {
            local.Advance(1000);
            model.Update();
        }
        EXPECT_EQ(model.actions.size(), 1u) << c.action << " sent once only";
        EXPECT_EQ(model.readCalls, readsBefore + 6);
        EXPECT_EQ(model.GetLinkState(), 0);
    }
}

TEST_F(ModelTest, TimedCommandAndStartupRunOnceTheirTimeHasPassed)
{
    ups.canTimedCommand = true;
    ups.canStartup = true;
    ups.Start();
    Set("1.3.6.1.4.1.534.1.9.5.0", 3);
    ASSERT_EQ(ups.actions, std::vector<std::string> { "ApplyTimedCommand" }) << "called when scheduled";
    ups.actions.clear();
    clock.Advance(3000);
    ups.Update();
    EXPECT_TRUE(ups.actions.empty()) << "due, not yet passed";
    clock.Advance(1);
    ups.Update();
    EXPECT_EQ(ups.actions, std::vector<std::string> { "ApplyTimedCommand" });
    EXPECT_EQ(Get("1.3.6.1.4.1.534.1.9.5.0"), "-1");
    EXPECT_EQ(ups.GetLinkState(), 0);
}

TEST_F(ModelTest, TrapQueueKeepsTheNewest256)
{
    for (int i = 0; i < 10000; ++i) {
        ups.QueueTrap(std::make_unique<CSNMPTrap>(6, i, kVendorTrapsEnterprise));
        ASSERT_LE(ups.GetPendingTrapCount(), CAbstractUPS::kMaxPendingTraps);
    }
    EXPECT_EQ(ups.GetPendingTrapCount(), 256u);
    int expected = 10000 - 256;
    while (auto trap = ups.TakeNextTrap())
        EXPECT_EQ(trap->GetSpecificTrap(), expected++);
    EXPECT_EQ(expected, 10000);
    EXPECT_EQ(ups.TakeNextTrap(), nullptr);
    EXPECT_FALSE(ups.HasPendingTraps());
    ups.QueueTrap(nullptr);
    EXPECT_FALSE(ups.HasPendingTraps());
}

TEST_F(ModelTest, QueueStaysBoundedWhileNobodyDrainsIt)
{
    // A UPS on battery for a day with alarms flapping every pass, and no agent.
    ups.Start();
    int pass = 0;
    ups.readValues = [&pass](CTestUPS& u) {
        u.m_outputSource = 5;
        u.MarkAlarmsStale();
        if (++pass % 2)
            u.RaiseAlarm(kUpsAlarmLowBattery);
        u.RemoveStaleAlarms();
    };
    for (int i = 0; i < 86400; ++i) {
        clock.Advance(1000);
        ups.Update();
    }
    EXPECT_EQ(ups.GetPendingTrapCount(), CAbstractUPS::kMaxPendingTraps);
    EXPECT_EQ(ups.GetLinkState(), 0);
}

TEST(SchedulingTest, DueTimesAreExactOrRefused)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    struct Case {
        std::int64_t now, seconds;
        std::optional<std::int64_t> due;
    };
    const Case cases[] = {
        { 0, 0, 0 },
        { 5000, 60, 65000 },
        { 0, 2147483647, 2147483647000 }, // the largest delay a manager can send
        { 4294967295, 2147483647, 4294967295 + 2147483647000 }, // beyond any 32-bit reading
        { 0, -1, std::nullopt },
        { kMax - 999, 1, std::nullopt },
        { kMax - 1000, 1, kMax },
        { 0, kMax / 1000 + 1, std::nullopt },
        { -5, 1, std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(CAbstractUPS::DueTimeAfter(c.now, c.seconds), c.due) << c.now << " + " << c.seconds << " s";
}

TEST_F(ModelTest, RemainingTimeIsTruncatedTowardZero)
{
    clock.Advance(100000);
    EXPECT_EQ(CAbstractUPS::MillisecondsUntil(CAbstractUPS::kNoDueTime), std::nullopt);
    struct Case {
        std::int64_t dueOffsetMs;
        const char* seconds;
    };
    const Case cases[] = { { 60000, "60" }, { 59999, "59" }, { 999, "0" }, { 0, "0" }, { -999, "0" }, { -1500, "-1" },
        { -5000, "-1" } };
    for (const auto& c : cases) {
        ups.m_shutdownDue = CAbstractUPS::Now() + c.dueOffsetMs;
        EXPECT_EQ(Get("1.3.6.1.2.1.33.1.8.2.0"), c.seconds) << c.dueOffsetMs;
    }
}

TEST_F(ModelTest, DefaultCapabilitiesOfferNothing)
{
    struct CBare : CAbstractUPS {
        CBare()
            : CAbstractUPS(nullptr, nullptr)
        {
        }
        int GetUPSType() override { return 0; }
        void Identify() override { }
        void ReadValues() override { }
    } bare;
    for (int type : { 0, 1, 2 })
        EXPECT_FALSE(bare.CanShutdown(type));
    EXPECT_FALSE(bare.CanRunTimedCommand() || bare.CanStartup() || bare.CanReboot() || bare.CanAbortTest()
        || bare.CanGeneralSystemsTest() || bare.CanQuickBatteryTest() || bare.CanDeepBatteryCalibration()
        || bare.CanCommand95() || bare.CanOutletCommand1() || bare.CanOutletCommand2() || bare.CanOutletOnDelay()
        || bare.CanOutletOffDelay());
    std::vector<OutletEntry> outlets(3);
    bare.GetOutlets(outlets);
    EXPECT_TRUE(outlets.empty());
    EXPECT_EQ(
        bare.OutletCommand1(1, 2) | bare.OutletCommand2(1, 2) | bare.OutletOnDelay(1, 2) | bare.OutletOffDelay(1, 2),
        0);
    const std::uint8_t frame[] = { 0xAB, 0x01, 0x31, 0x23 };
    EXPECT_EQ(bare.ProcessXCPRequest(frame).size(), 165u) << "a driver that overrides nothing answers from the model";
    bare.Start();
    EXPECT_TRUE(bare.IsConnected());
}

// Every identification and every pass is one poll; a failed one is counted
// as failed and leaves the time of the last good one where it was.
TEST_F(ModelTest, PollsAreCountedIntoTheAttachedCounters)
{
    SPollCounters polls;
    ups.AttachPollCounters(polls);
    bool fail = false;
    ups.readValues = [&fail](CTestUPS&) {
        if (fail)
            throw CPVXException(EVENT_TIMEOUT);
    };
    ups.Start();
    EXPECT_EQ(polls.lastSuccess, CAbstractUPS::Now());
    clock.Advance(1000);
    ups.Update();
    const auto lastGood = CAbstractUPS::Now();
    fail = true;
    clock.Advance(1000);
    ups.Update();
    ups.Update();
    EXPECT_EQ(polls.polls, 4u);
    EXPECT_EQ(polls.failedPolls, 2u);
    EXPECT_EQ(polls.lastSuccess, lastGood);
    ups.identify = [](CTestUPS&) { throw CPVXException(EVENT_TIMEOUT); };
    ups.Start();
    EXPECT_EQ(polls.polls, 5u);
    EXPECT_EQ(polls.failedPolls, 3u);
}

} // namespace
} // namespace pvx::test
