// Writing through the object tree: which objects refuse and with which code,
// the test, control and vendor control rules with and without capabilities,
// rollback when the driver refuses, and identity texts written back to the
// configuration file.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace pvx::test {
namespace {

constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kNoSuch = EVENT_NO_SUCH_OBJECT;
constexpr std::uint32_t kReadOnly = EVENT_READ_ONLY;
constexpr std::uint32_t kBadValue = EVENT_BAD_VALUE;
constexpr std::uint32_t kRefused = EVENT_COMMAND_FAILED;
constexpr std::uint32_t kWrongType = EVENT_WRONG_TYPE;
constexpr std::uint32_t kWrongLength = EVENT_WRONG_LENGTH;

CMIBData Int(std::int32_t v)
{
    return CMIBData(v, INT32_MIN, INT32_MAX, MIB_SIGNED);
}
CMIBData Oid(const COid& oid)
{
    return CMIBData(oid, MIB_OID);
}
CMIBData Text(std::string_view text)
{
    return CMIBData(text, 255, MIB_TEXT);
}

std::uint32_t SetOn(CAbstractUPS& ups, const std::string& dotted, const CMIBData& value)
{
    CMIBData copy = value;
    copy.SetName(Name(dotted));
    return CodeOf([&] { ups.SetMIBData(copy); });
}

TEST(MIBSetTest, ReadOnlyAndUnknownObjects)
{
    struct Case {
        const char* name;
        std::uint32_t code;
    };
    const Case cases[] = {
        { "1.3.6.1.2.1.33.1.1.1.0", kReadOnly }, // upsIdentManufacturer
        { "1.3.6.1.2.1.33.1.1.4.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.1.7.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.2.1.0", kReadOnly }, // upsBatteryStatus
        { "1.3.6.1.2.1.33.1.2.7.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.2.8.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.3.3.1.3.0", kReadOnly }, // a table cell
        { "1.3.6.1.2.1.33.1.3.4.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.4.4.1.2.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.5.3.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.6.1.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.6.2.1.2.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.6.3.2.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.7.3.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.7.6.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.7.7.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.7.0", kNoSuch }, // the group itself
        { "1.3.6.1.2.1.33.1.8.5.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.8.6.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.9.3.0", kReadOnly }, // writable only through a driver
        { "1.3.6.1.2.1.33.1.9.10.0", kReadOnly },
        { "1.3.6.1.2.1.33.1.9.11.0", kNoSuch },
        { "1.3.6.1.2.1.33.1.10.1.0", kNoSuch },
        { "1.3.6.1.2.1.33.2.0", kNoSuch },
        { "1.3.6.1.2.1.1.1.0", kNoSuch },
        { "1.3.6.1.3.1.0", kNoSuch },
        { "1.3.6.1", kNoSuch },
        { "1.3.6.1.4.1.534.1.1.1.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.1.4.0", kNoSuch },
        { "1.3.6.1.4.1.534.1.2.5.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.3.4.1.1.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.6.2.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.6.4.0", kNoSuch },
        { "1.3.6.1.4.1.534.1.7.1.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.7.18.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.7.19.1.2.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.7.3.0", kNoSuch },
        { "1.3.6.1.4.1.534.1.8.2.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.8.3.0", kNoSuch },
        { "1.3.6.1.4.1.534.1.9.6.0", kNoSuch },
        { "1.3.6.1.4.1.534.1.10.5.0", kReadOnly },
        { "1.3.6.1.4.1.534.1.11.1.0", kNoSuch },
        { "1.3.6.1.4.1.534.2.0", kReadOnly },
        { "1.3.6.1.4.1.534.3.0", kNoSuch },
        { "1.3.6.1.4.1.9.1.0", kNoSuch },
    };
    CFakeClock clock;
    CScopedClock scoped(clock);
    CTestUPS ups;
    for (const auto& c : cases)
        EXPECT_EQ(SetOn(ups, c.name, Int(1)), c.code) << c.name;

    CMIBData unnamed = Int(1);
    EXPECT_EQ(CodeOf([&] { ups.SetMIBData(unnamed); }), kNoSuch);
}

// One SET on a scripted model: capabilities, state before, the write, and
// what must hold afterwards. `now` is the fake monotonic clock (5000 ms).
struct SSetCase {
    const char* what;
    std::function<void(CTestUPS&)> setup;
    const char* name;
    CMIBData value;
    std::uint32_t code;
    std::vector<std::string> actions;
    std::function<void(CTestUPS&)> check;
};

constexpr std::int64_t kNow = 5000;

void RunSetCases(const std::vector<SSetCase>& cases)
{
    for (const auto& c : cases) {
        CFakeClock clock(2000000);
        CScopedClock scoped(clock);
        clock.Advance(kNow);
        CTestUPS ups;
        if (c.setup)
            c.setup(ups);
        EXPECT_EQ(SetOn(ups, c.name, c.value), c.code) << c.what;
        EXPECT_EQ(ups.actions, c.actions) << c.what;
        if (c.check) {
            SCOPED_TRACE(c.what);
            c.check(ups);
        }
    }
}

constexpr auto kNone = CAbstractUPS::kNoDueTime;
const char* const kShutdownType = "1.3.6.1.2.1.33.1.8.1.0";
const char* const kShutdownAfter = "1.3.6.1.2.1.33.1.8.2.0";
const char* const kStartupAfter = "1.3.6.1.2.1.33.1.8.3.0";
const char* const kReboot = "1.3.6.1.2.1.33.1.8.4.0";

TEST(MIBSetTest, UpsControlGroup)
{
    auto shutdownCapable = [](CTestUPS& u) {
        u.shutdownTypes = { 1 };
        u.m_shutdownTrapSent = true;
    };
    auto shutdownDue = [](CTestUPS& u) {
        u.shutdownTypes = { 1 };
        u.m_shutdownDue = 99000;
        u.m_shutdownTrapSent = true;
    };
    auto startupCapable = [](CTestUPS& u) {
        u.canStartup = true;
        u.m_shutdownTrapSent = true;
    };
    auto rebootCapable = [](CTestUPS& u) {
        u.shutdownTypes = { 1 };
        u.canReboot = true;
        u.m_startupDue = 42000;
    };
    const std::vector<SSetCase> cases = {
        { "shutdown type the UPS cannot do", shutdownCapable, kShutdownType, Int(2), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownType, 1); } },
        { "shutdown type 1",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownType = 2;
            },
            kShutdownType, Int(1), kOk, {}, [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownType, 1); } },
        { "shutdown without the capability", nullptr, kShutdownAfter, Int(60), kReadOnly, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, kNone); } },
        { "shutdown for a type the UPS cannot do",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownType = 2;
            },
            kShutdownAfter, Int(60), kReadOnly, {}, nullptr },
        { "shutdown in 60 s", shutdownCapable, kShutdownAfter, Int(60), kOk, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_shutdownDue, kNow + 60000);
                EXPECT_EQ(u.dueSeen[0], kNow + 60000) << "the driver acts on the new due time";
                EXPECT_FALSE(u.m_shutdownTrapSent);
            } },
        { "shutdown now", shutdownCapable, kShutdownAfter, Int(0), kOk, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, kNow); } },
        { "the longest delay is held exactly", shutdownCapable, kShutdownAfter, Int(2147483647), kOk,
            { "ApplyShutdownSchedule" }, [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, kNow + 2147483647000); } },
        { "cancel with nothing due", shutdownCapable, kShutdownAfter, Int(-1), kBadValue, {}, nullptr },
        { "cancel a due shutdown", shutdownDue, kShutdownAfter, Int(-1), kOk, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_shutdownDue, kNone);
                EXPECT_EQ(u.dueSeen[0], kNone);
                EXPECT_TRUE(u.m_shutdownTrapSent) << "cancelling does not re-arm the warning";
            } },
        { "delay below -1", shutdownDue, kShutdownAfter, Int(-2), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, 99000); } },
        { "UPS refuses the shutdown",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownTrapSent = true;
                u.failingAction = "ApplyShutdownSchedule";
            },
            kShutdownAfter, Int(60), kRefused, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) { EXPECT_TRUE(u.m_shutdownDue == kNone && u.m_shutdownTrapSent); } },
        { "UPS refuses the cancel",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownDue = 99000;
                u.failingAction = "ApplyShutdownSchedule";
            },
            kShutdownAfter, Int(-1), kRefused, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, 99000); } },
        { "startup without the capability", [](CTestUPS& u) { u.shutdownTypes = { 1 }; }, kStartupAfter, Int(30),
            kReadOnly, {}, nullptr },
        { "startup in 30 s", startupCapable, kStartupAfter, Int(30), kOk, { "ApplyStartupSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_startupDue, kNow + 30000);
                EXPECT_FALSE(u.m_shutdownTrapSent);
            } },
        { "startup cancel with nothing due", startupCapable, kStartupAfter, Int(-1), kBadValue, {}, nullptr },
        { "startup cancel",
            [](CTestUPS& u) {
                u.canStartup = true;
                u.m_startupDue = 8000;
            },
            kStartupAfter, Int(-1), kOk, { "ApplyStartupSchedule" },
            [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, kNone); } },
        { "startup below -1", startupCapable, kStartupAfter, Int(-7), kBadValue, {}, nullptr },
        { "UPS refuses the startup",
            [](CTestUPS& u) {
                u.canStartup = true;
                u.m_shutdownTrapSent = true;
                u.failingAction = "ApplyStartupSchedule";
            },
            kStartupAfter, Int(30), kRefused, { "ApplyStartupSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_startupDue, kNone);
                EXPECT_TRUE(u.m_shutdownTrapSent);
            } },
        { "reboot without the reboot capability", [](CTestUPS& u) { u.shutdownTypes = { 1 }; }, kReboot, Int(10),
            kReadOnly, {}, nullptr },
        { "reboot without the shutdown capability", [](CTestUPS& u) { u.canReboot = true; }, kReboot, Int(10),
            kReadOnly, {}, nullptr },
        { "reboot for 0 s", rebootCapable, kReboot, Int(0), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, 42000); } },
        { "reboot for 1 s", rebootCapable, kReboot, Int(1), kOk, { "ApplyRebootSchedule" },
            [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, kNow + 1000); } },
        { "UPS refuses the reboot",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.canReboot = true;
                u.m_startupDue = 42000;
                u.failingAction = "ApplyRebootSchedule";
            },
            kReboot, Int(10), kRefused, { "ApplyRebootSchedule" },
            [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, 42000); } },
        { "a text value is of the wrong type", shutdownCapable, kShutdownAfter, Text("60"), kWrongType, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, kNone); } },
    };
    RunSetCases(cases);
}

const char* const kVendorShutdown = "1.3.6.1.4.1.534.1.9.1.0";
const char* const kVendorStartup = "1.3.6.1.4.1.534.1.9.2.0";
const char* const kShutdownWindow = "1.3.6.1.4.1.534.1.9.3.0";
const char* const kStartupWindow = "1.3.6.1.4.1.534.1.9.4.0";
const char* const kTimedCommand = "1.3.6.1.4.1.534.1.9.5.0";

TEST(MIBSetTest, VendorControlGroup)
{
    auto shutdownCapable = [](CTestUPS& u) {
        u.shutdownTypes = { 1 };
        u.m_shutdownType = 2;
    };
    const std::vector<SSetCase> cases = {
        { "shutdown without the capability", [](CTestUPS& u) { u.shutdownTypes = { 2 }; }, kVendorShutdown, Int(30),
            kBadValue, {}, nullptr },
        { "shutdown in 30 s programs the UPS", shutdownCapable, kVendorShutdown, Int(30), kOk,
            { "ApplyShutdownSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_shutdownDue, kNow + 30000);
                EXPECT_EQ(u.dueSeen[0], kNow + 30000);
                EXPECT_EQ(u.m_shutdownType, 1);
            } },
        { "0 with nothing due", shutdownCapable, kVendorShutdown, Int(0), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownType, 2) << "nothing changes on refusal"; } },
        { "0 cancels and tells the UPS",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownDue = 9000;
            },
            kVendorShutdown, Int(0), kOk, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_shutdownDue, kNone);
                EXPECT_EQ(u.dueSeen[0], kNone);
            } },
        { "negative delay", shutdownCapable, kVendorShutdown, Int(-1), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownType, 2); } },
        { "UPS refuses the shutdown",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownType = 2;
                u.m_shutdownDue = 9000;
                u.failingAction = "ApplyShutdownSchedule";
            },
            kVendorShutdown, Int(30), kRefused, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_shutdownDue, 9000);
                EXPECT_EQ(u.m_shutdownType, 2);
            } },
        { "warning flag left alone",
            [](CTestUPS& u) {
                u.shutdownTypes = { 1 };
                u.m_shutdownTrapSent = true;
            },
            kVendorShutdown, Int(30), kOk, { "ApplyShutdownSchedule" },
            [](CTestUPS& u) { EXPECT_TRUE(u.m_shutdownTrapSent); } },
        { "startup without the capability", nullptr, kVendorStartup, Int(30), kBadValue, {}, nullptr },
        { "startup in 30 s waits for the timer", [](CTestUPS& u) { u.canStartup = true; }, kVendorStartup, Int(30), kOk,
            {}, [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, kNow + 30000); } },
        { "startup 0 with nothing due", [](CTestUPS& u) { u.canStartup = true; }, kVendorStartup, Int(0), kBadValue, {},
            nullptr },
        { "startup 0 cancels",
            [](CTestUPS& u) {
                u.canStartup = true;
                u.m_startupDue = 9000;
            },
            kVendorStartup, Int(0), kOk, {}, [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, kNone); } },
        { "startup negative", [](CTestUPS& u) { u.canStartup = true; }, kVendorStartup, Int(-3), kBadValue, {},
            nullptr },
        { "shutdown window unlimited", [](CTestUPS& u) { u.m_shutdownWarningWindow = 5000; }, kShutdownWindow, Int(-1),
            kOk, {}, [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownWarningWindow, CAbstractUPS::kUnlimitedWindow); } },
        { "shutdown window 10 s", nullptr, kShutdownWindow, Int(10), kOk, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownWarningWindow, 10000); } },
        { "shutdown window 0 s", nullptr, kShutdownWindow, Int(0), kOk, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownWarningWindow, 0); } },
        { "window below -1", nullptr, kShutdownWindow, Int(-2), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownWarningWindow, CAbstractUPS::kUnlimitedWindow); } },
        { "the longest startup window", nullptr, kStartupWindow, Int(2147483647), kOk, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_startupWarningWindow, 2147483647000); } },
        { "timed command without the capability", nullptr, kTimedCommand, Int(30), kBadValue, {}, nullptr },
        { "timed command in 30 s", [](CTestUPS& u) { u.canTimedCommand = true; }, kTimedCommand, Int(30), kOk,
            { "ApplyTimedCommand" }, [](CTestUPS& u) { EXPECT_EQ(u.m_timedCommandDue, kNow + 30000); } },
        { "timed command 0 with nothing due", [](CTestUPS& u) { u.canTimedCommand = true; }, kTimedCommand, Int(0),
            kBadValue, {}, nullptr },
        { "timed command 0 cancels",
            [](CTestUPS& u) {
                u.canTimedCommand = true;
                u.m_timedCommandDue = 7000;
            },
            kTimedCommand, Int(0), kOk, {}, [](CTestUPS& u) { EXPECT_EQ(u.m_timedCommandDue, kNone); } },
        { "timed command negative", [](CTestUPS& u) { u.canTimedCommand = true; }, kTimedCommand, Int(-5), kBadValue,
            {}, nullptr },
        { "UPS refuses the timed command",
            [](CTestUPS& u) {
                u.canTimedCommand = true;
                u.m_timedCommandDue = 7000;
                u.failingAction = "ApplyTimedCommand";
            },
            kTimedCommand, Int(30), kRefused, { "ApplyTimedCommand" },
            [](CTestUPS& u) { EXPECT_EQ(u.m_timedCommandDue, 7000); } },
    };
    RunSetCases(cases);
}

TEST(MIBSetTest, VendorWindowsReadBackAsSet)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    CTestUPS ups;
    for (std::int32_t v : { -1, 0, 10, 2147483647 }) {
        ASSERT_EQ(SetOn(ups, kShutdownWindow, Int(v)), kOk);
        EXPECT_EQ(ValueText(*ups.GetMIBData(Name(kShutdownWindow).Arcs(), false)), std::to_string(v));
    }
}

const char* const kTestId = "1.3.6.1.2.1.33.1.7.1.0";
const char* const kSpinLock = "1.3.6.1.2.1.33.1.7.2.0";
const char* const kVendorQuickTest = "1.3.6.1.4.1.534.1.8.1.0";

TEST(MIBSetTest, TestGroup)
{
    auto running = [](CTestUPS& u) {
        u.canAbortTest = true;
        u.canQuickTest = true;
        u.m_testResultSummary = 5;
        u.m_testId = kUpsTestGeneralSystemsTest;
    };
    auto quickCapable = [](CTestUPS& u) { u.canQuickTest = true; };
    auto started = [](const COid& test) {
        return [&test](CTestUPS& u) {
            EXPECT_EQ(u.m_testId, test);
            EXPECT_EQ(u.m_testResultSummary, 5);
            EXPECT_EQ(u.m_testStartTime, 2000000u + kNow) << "ms clock at the start";
        };
    };
    auto unchanged = [](CTestUPS& u) {
        EXPECT_EQ(u.m_testId, kUpsTestNoTestsInitiated);
        EXPECT_EQ(u.m_testResultSummary, 6);
    };
    auto standardAt7 = [](CTestUPS& u) {
        u.SetStandardValues(true);
        u.m_testSpinLock = 7;
    };
    const std::vector<SSetCase> cases = {
        { "abort a running test", running, kTestId, Oid(kUpsTestAbortTestInProgress), kOk, { "AbortTest" },
            [](CTestUPS& u) {
                EXPECT_EQ(u.m_testResultSummary, 5) << "the driver reports the end";
                EXPECT_EQ(u.m_testId, kUpsTestGeneralSystemsTest);
            } },
        { "abort without the capability while running", [](CTestUPS& u) { u.m_testResultSummary = 5; }, kTestId,
            Oid(kUpsTestAbortTestInProgress), kReadOnly, {}, nullptr },
        { "abort without the capability", nullptr, kTestId, Oid(kUpsTestAbortTestInProgress), kBadValue, {},
            unchanged },
        { "quick test while one runs", running, kTestId, Oid(kUpsTestQuickBatteryTest), kReadOnly, {}, nullptr },
        { "quick test", quickCapable, kTestId, Oid(kUpsTestQuickBatteryTest), kOk, { "StartBatteryTest(1,15)" },
            started(kUpsTestQuickBatteryTest) },
        { "quick test without the capability", nullptr, kTestId, Oid(kUpsTestQuickBatteryTest), kBadValue, {},
            unchanged },
        { "general systems test", [](CTestUPS& u) { u.canGeneralTest = true; }, kTestId,
            Oid(kUpsTestGeneralSystemsTest), kOk, { "StartGeneralSystemsTest" }, started(kUpsTestGeneralSystemsTest) },
        { "deep battery calibration", [](CTestUPS& u) { u.canDeepCalibration = true; }, kTestId,
            Oid(kUpsTestDeepBatteryCalibration), kOk, { "StartDeepBatteryCalibration" },
            started(kUpsTestDeepBatteryCalibration) },
        { "deep calibration without the capability", quickCapable, kTestId, Oid(kUpsTestDeepBatteryCalibration),
            kBadValue, {}, unchanged },
        { "no tests initiated is not a test", quickCapable, kTestId, Oid(kUpsTestNoTestsInitiated), kBadValue, {},
            unchanged },
        { "an INTEGER is no identifier", quickCapable, kTestId, Int(4), kWrongType, {}, unchanged },
        { "a shorter identifier", quickCapable, kTestId, Oid(COid { 2, 1, 33, 1, 7, 7, 0 }), kBadValue, {}, unchanged },
        { "a one-arc identifier", quickCapable, kTestId, Oid(COid { 4, 0 }), kBadValue, {}, unchanged },
        { "the quick test with one more arc", quickCapable, kTestId, Oid(COid { 2, 1, 33, 1, 7, 7, 4, 1, 0 }),
            kBadValue, {}, unchanged },
        { "UPS refuses the test",
            [](CTestUPS& u) {
                u.canQuickTest = true;
                u.failingAction = "StartBatteryTest(1,15)";
            },
            kTestId, Oid(kUpsTestQuickBatteryTest), kRefused, { "StartBatteryTest(1,15)" }, unchanged },
        { "spin lock from an INTEGER stores it", [](CTestUPS& u) { u.m_testSpinLock = 5; }, kSpinLock, Int(6), kOk, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_testSpinLock, 6u); } },
        { "spin lock below 0", [](CTestUPS& u) { u.m_testSpinLock = 5; }, kSpinLock, Int(-1), kBadValue, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_testSpinLock, 5u); } },
        { "spin lock while a test runs",
            [](CTestUPS& u) {
                u.m_testResultSummary = 5;
                u.m_testSpinLock = 5;
            },
            kSpinLock, Int(7), kBadValue, {}, [](CTestUPS& u) { EXPECT_EQ(u.m_testSpinLock, 5u); } },
        // With standard values a TestAndIncr (RFC 1628): only the current value, which it increments.
        { "standard spin lock of another value", standardAt7, kSpinLock, Int(6), EVENT_INCONSISTENT_VALUE, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_testSpinLock, 7u); } },
        { "standard spin lock of its value", standardAt7, kSpinLock, Int(7), kOk, {},
            [](CTestUPS& u) { EXPECT_EQ(u.m_testSpinLock, 8u); } },
        { "vendor quick test", quickCapable, kVendorQuickTest, Int(0), kOk, { "StartBatteryTest(1,15)" },
            started(kUpsTestQuickBatteryTest) },
        { "vendor quick test while one runs", running, kVendorQuickTest, Text("anything"), kOk,
            { "StartBatteryTest(1,15)" }, started(kUpsTestQuickBatteryTest) },
        { "vendor quick test without the capability", nullptr, kVendorQuickTest, Int(1), kBadValue, {}, unchanged },
    };
    RunSetCases(cases);
}

class IdentWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // One file per process: ctest runs the tests of this fixture side by side.
        path = ::testing::TempDir() + "pvx_ident_write." + std::to_string(::getpid()) + ".ini";
        std::ofstream file(path);
        file << "[UPSIdent]\nName=old\nAttachedDevices=old devices\n[Other]\nKey=after\n";
    }
    void TearDown() override { std::remove(path.c_str()); }

    std::string path;
};

TEST_F(IdentWriteTest, AcceptedTextsAreStoredAndWrittenBack)
{
    CINIFile configuration(path);
    CTestUPS ups(&configuration);
    struct Case {
        const char* name;
        const char* key;
        std::string value;
    };
    const Case cases[] = {
        { "1.3.6.1.2.1.33.1.1.5.0", "Name", "rack ups" },
        { "1.3.6.1.2.1.33.1.1.6.0", "AttachedDevices", "db1, db2" },
        { "1.3.6.1.2.1.33.1.1.5.0", "Name", "" },
        { "1.3.6.1.2.1.33.1.1.5.0", "Name", std::string(63, 'n') }, // the longest DisplayString the object takes
        { "1.3.6.1.2.1.33.1.1.6.0", "AttachedDevices", std::string(63, 'd') },
        { "1.3.6.1.2.1.33.1.1.6.0", "AttachedDevices", " tabs\tand [brackets]=" },
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SetOn(ups, c.name, Text(c.value)), kOk) << c.value;
        EXPECT_EQ(configuration.GetString("UPSIdent", c.key, "missing"), c.value);
        EXPECT_EQ(configuration.GetString("Other", "Key", "missing"), "after") << "the file keeps its shape";
        EXPECT_EQ(ValueText(*ups.GetMIBData(Name(c.name).Arcs(), false)), c.value);
    }
    // A reset reads them back from the file.
    ups.ResetValues();
    EXPECT_EQ(ups.m_upsName, std::string(63, 'n'));
    EXPECT_EQ(ups.m_attachedDevices, " tabs\tand [brackets]=");
}

TEST_F(IdentWriteTest, TextsThatWouldBreakTheFileAreRefused)
{
    CINIFile configuration(path);
    CTestUPS ups(&configuration);
    struct Case {
        const char* name;
        std::string value;
        std::uint32_t code;
    };
    // Texts longer than the object takes are refused whole, never cut.
    const Case cases[] = {
        { "1.3.6.1.2.1.33.1.1.5.0", "evil\n[SNMP]\nSetCommunity=x", kBadValue },
        { "1.3.6.1.2.1.33.1.1.5.0", "carriage\rreturn", kBadValue },
        { "1.3.6.1.2.1.33.1.1.5.0", std::string("zero\0byte", 9), kBadValue },
        { "1.3.6.1.2.1.33.1.1.5.0", "trailing newline\n", kBadValue },
        { "1.3.6.1.2.1.33.1.1.5.0", std::string(64, 'n'), kWrongLength },
        { "1.3.6.1.2.1.33.1.1.5.0", std::string(250, 'n'), kWrongLength },
        { "1.3.6.1.2.1.33.1.1.6.0", std::string(100, 'd'), kWrongLength },
        { "1.3.6.1.2.1.33.1.1.6.0", "two\nlines", kBadValue },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetOn(ups, c.name, Text(c.value)), c.code) << c.value.size() << " characters";
        EXPECT_EQ(ups.m_upsName, "old");
        EXPECT_EQ(ups.m_attachedDevices, "old devices");
    }
    EXPECT_EQ(SetOn(ups, "1.3.6.1.2.1.33.1.1.5.0", Int(5)), kWrongType) << "an INTEGER never blanks the name";
    EXPECT_EQ(ups.m_upsName, "old");
    std::ifstream file(path);
    std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents, "[UPSIdent]\nName=old\nAttachedDevices=old devices\n[Other]\nKey=after\n");
}

TEST(MIBSetTest, IdentTextsWithoutAConfigurationFileAreKeptInMemory)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    CTestUPS ups;
    EXPECT_EQ(SetOn(ups, "1.3.6.1.2.1.33.1.1.5.0", Text("alone")), kOk);
    EXPECT_EQ(ups.m_upsName, "alone");
}

// The two phases of a SET of several bindings: checking changes nothing, and
// what was applied is undone newest first, where it can be.
TEST(MIBSetTest, CheckingChangesNothingAndApplyingCanBeUndone)
{
    struct SCase {
        const char* what;
        const char* name;
        CMIBData value;
        std::vector<std::string> applyActions; // what applying and then undoing sent to the driver
        bool undoable;
        std::function<void(CTestUPS&)> unchanged;
    };
    const std::vector<SCase> cases = {
        { "shutdown type", kShutdownType, Int(2), {}, true, [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownType, 1); } },
        { "shutdown delay", kShutdownAfter, Int(60), { "ApplyShutdownSchedule", "ApplyShutdownSchedule" }, true,
            [](CTestUPS& u) { EXPECT_TRUE(u.m_shutdownDue == kNone && u.m_shutdownTrapSent); } },
        { "startup delay", kStartupAfter, Int(30), { "ApplyStartupSchedule", "ApplyStartupSchedule" }, true,
            [](CTestUPS& u) { EXPECT_EQ(u.m_startupDue, kNone); } },
        { "vendor shutdown", kVendorShutdown, Int(30), { "ApplyShutdownSchedule", "ApplyShutdownSchedule" }, true,
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownDue, kNone); } },
        { "warning window", kShutdownWindow, Int(90), {}, true,
            [](CTestUPS& u) { EXPECT_EQ(u.m_shutdownWarningWindow, CAbstractUPS::kUnlimitedWindow); } },
        { "spin lock", kSpinLock, Int(9), {}, true, [](CTestUPS& u) { EXPECT_EQ(u.m_testSpinLock, 1u); } },
        { "a started test stays started", kTestId, Oid(kUpsTestQuickBatteryTest), { "StartBatteryTest(1,15)" }, false,
            nullptr },
        { "a reboot cannot be taken back", kReboot, Int(10), { "ApplyRebootSchedule" }, false, nullptr },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        CFakeClock clock(2000000);
        CScopedClock scoped(clock);
        CTestUPS ups;
        ups.shutdownTypes = { 1, 2 };
        ups.canStartup = ups.canReboot = ups.canQuickTest = true;
        ups.m_shutdownTrapSent = true;
        CMIBData value = c.value;
        value.SetName(Name(c.name));
        ups.BeginSet();
        EXPECT_EQ(CodeOf([&] { ups.CheckInstance(Name(c.name).Arcs().first(Name(c.name).Size() - 1), value); }), 0u);
        EXPECT_TRUE(ups.actions.empty()) << "checking sends nothing";
        if (c.unchanged)
            c.unchanged(ups);
        EXPECT_EQ(CodeOf([&] { ups.SetMIBData(value); }), 0u);
        EXPECT_EQ(ups.UndoSet(), c.undoable);
        ups.EndSet();
        EXPECT_EQ(ups.actions, c.applyActions);
        if (c.unchanged)
            c.unchanged(ups);
    }
}

} // namespace
} // namespace pvx::test
