// CDummyUPS with real simulation files in a temporary folder: where the file
// is looked for, the refresh cycle, value movement and bounce, the alarm rules
// and their note texts, and the controls sent as XCP commands through a link that
// neither authorizes nor knows any command.
#include "dummy/DummyUPS.h"

#include "config/INIFile.h"
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "tests/support/ModelAccess.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedPort.h"
#include "ups/WellKnown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pvx {
namespace {

using test::Bytes;
using test::CScriptedPort;
using test::CTempDir;
using test::ReadFile;
using test::TModelAccess;

class CTestDummyUPS : public TModelAccess<CDummyUPS> {
public:
    using TModelAccess::TModelAccess;
    using CDummyUPS::GetLink;
};

// Section -> key -> value, written out as an INI text.
using Settings = std::map<std::string, std::map<std::string, std::string>>;

// Values that raise no alarm: every value inside its alarm thresholds, held still.
Settings CalmSettings()
{
    return {
        { "Main", { { "CyclesPerUpdate", "0" } } },
        { "InputVoltage",
            { { "Min", "100" }, { "Max", "130" }, { "MinAlarm", "95" }, { "MaxAlarm", "135" },
                { "CurrentValue", "120" }, { "Step", "0" } } },
        { "OutputVoltage",
            { { "Min", "110" }, { "Max", "125" }, { "MinAlarm", "105" }, { "MaxAlarm", "130" },
                { "CurrentValue", "120" }, { "Step", "0" } } },
        { "OutputPercentLoad",
            { { "Min", "10" }, { "Max", "90" }, { "MinAlarm", "0" }, { "MaxAlarm", "100" }, { "CurrentValue", "50" },
                { "Step", "0" } } },
        { "ChargeRemaining",
            { { "Min", "20" }, { "Max", "100" }, { "MinAlarm", "10" }, { "MaxAlarm", "200" }, { "CurrentValue", "80" },
                { "Step", "0" } } },
        { "BackupMinutesRemain",
            { { "Min", "5" }, { "Max", "60" }, { "MinAlarm", "5" }, { "MaxAlarm", "1000" }, { "CurrentValue", "30" },
                { "Step", "0" } } },
    };
}

std::string IniText(const Settings& settings)
{
    std::string text;
    for (const auto& [section, keys] : settings) {
        text += "[" + section + "]\n";
        for (const auto& [key, value] : keys)
            text += key + "=" + value + "\n";
    }
    return text;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<COid> Descriptors(const CAbstractUPS& ups)
{
    std::vector<COid> descriptors;
    for (const auto& entry : ups.GetAlarms())
        descriptors.push_back(entry.descriptor);
    return descriptors;
}

std::uint32_t EventOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CPVXException& event) {
        return event.GetCode();
    }
    return 0;
}

class DummyUPSTest : public testing::Test {
protected:
    std::string SimPath() const { return dir.File("DummyUPS.ini"); }
    void WriteSimulation(const Settings& settings) { WriteText(SimPath(), IniText(settings)); }
    CINIFile Simulation() const { return CINIFile(SimPath()); }

    CTempDir dir;
    CINIFile configuration { dir.File("pvx.ini") };
    CFakeClock clock;
    CScopedClock scopedClock { clock };
    CScriptedPort port { clock };
    CTestDummyUPS ups { &port, &configuration };
};

TEST(DummyUPSPath, SimulationFileLiesBesideTheConfiguration)
{
    struct SCase {
        const char* configuration;
        const char* simulation;
    };
    const SCase cases[] = {
        { "/etc/pvx/pvx.ini", "/etc/pvx/DummyUPS.ini" },
        { "/pvx.ini", "/DummyUPS.ini" },
        { "conf/pvx.ini", "conf/DummyUPS.ini" },
        { "C:\\pvx\\pvx.ini", "C:\\pvx\\DummyUPS.ini" },
        // Whichever separator comes later wins.
        { "a/b\\pvx.ini", "a/b\\DummyUPS.ini" },
        { "a\\b/pvx.ini", "a\\b/DummyUPS.ini" },
        { "/etc/pvx/", "/etc/pvx/DummyUPS.ini" },
        { "pvx.ini", "" },
        { "", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(CDummyUPS::SimulationFilePath(c.configuration), c.simulation) << c.configuration;
}

TEST_F(DummyUPSTest, IdentifiesWithFixedValuesWithoutTalking)
{
    ups.Start();
    EXPECT_TRUE(ups.IsConnected());
    EXPECT_EQ(ups.GetUPSType(), 3);
    EXPECT_TRUE(port.Writes().empty());

    EXPECT_EQ(ups.m_upsSoftwareVersion, "1.0");
    EXPECT_EQ(ups.m_manufacturer, "Pimble Works Inc.");
    EXPECT_EQ(ups.m_model, "Model1");
    struct SCase {
        const char* name;
        std::int64_t actual;
        std::int64_t expected;
    };
    const SCase cases[] = {
        { "nominal output VA", ups.m_nominalOutputVA, 1000 },
        { "input lines", ups.m_inputLineCount, 1 },
        { "output lines", ups.m_outputLineCount, 1 },
        { "bypass lines", ups.m_bypassLineCount, 1 },
        { "nominal output voltage", ups.m_nominalOutputVoltage, 120 },
        { "nominal input voltage", ups.m_nominalInputVoltage, 120 },
        // 60 Hz in the model's tenths of a hertz
        { "nominal output frequency", ups.m_nominalOutputFrequency, 600 },
        { "nominal input frequency", ups.m_nominalInputFrequency, 600 },
        { "low battery time", ups.m_lowBatteryTime, 10 },
        { "audible status", ups.m_audibleStatus, 1 },
        { "low transfer voltage", ups.m_lowTransferVoltage, 100 },
        { "high transfer voltage", ups.m_highTransferVoltage, 130 },
        { "low temperature limit", ups.m_lowTemperatureLimit, 0 },
        { "high temperature limit", ups.m_highTemperatureLimit, 100 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.name;

    // The manager reads the same through the tree: upsIdentManufacturer, upsConfigOutputFreq.
    EXPECT_EQ(ups.GetMIBData(COid { 2, 1, 33, 1, 1, 1, 0 }.Arcs(), false)->GetText(), "Pimble Works Inc.");
    EXPECT_EQ(ups.GetMIBData(COid { 2, 1, 33, 1, 9, 4, 0 }.Arcs(), false)->GetUnsigned(), 600u);
}

TEST_F(DummyUPSTest, ValuesMoveAndBounceInsideTheirRange)
{
    struct SCase {
        const char* name;
        const char* min;
        const char* max;
        const char* current;
        const char* step;
        std::uint32_t value; // after one refresh
        int stepAfter;
    };
    const SCase cases[] = {
        { "moves up", "100", "130", "110", "5", 115, 5 },
        { "reaches the maximum", "100", "130", "125", "5", 130, 5 },
        { "bounces at the top", "100", "130", "128", "5", 123, -5 },
        { "moves down", "100", "130", "110", "-5", 105, -5 },
        { "bounces at the bottom", "100", "130", "102", "-5", 107, 5 },
        // 3 - 5 wraps to a huge unsigned number: above the maximum, so it bounces.
        { "bounces below zero", "0", "130", "3", "-5", 8, 5 },
        { "starts below the range", "100", "130", "50", "5", 100, -5 },
        { "starts above the range", "100", "130", "200", "5", 130, -5 },
        { "step wider than the range", "100", "110", "108", "50", 100, -50 },
        // Reversing the most negative step leaves it as it is; the value still ends inside.
        { "most negative step", "0", "10", "5", "-2147483648", 10, std::numeric_limits<int>::min() },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings = CalmSettings();
        settings["InputVoltage"] = { { "Min", c.min }, { "Max", c.max }, { "MinAlarm", "0" },
            { "MaxAlarm", "4000000000" }, { "CurrentValue", c.current }, { "Step", c.step } };
        WriteSimulation(settings);
        ups.ReadValues();
        EXPECT_EQ(ups.m_inputLines[0].voltage, c.value);
        EXPECT_EQ(Simulation().GetUInt("InputVoltage", "CurrentValue", 0), c.value);
        EXPECT_EQ(Simulation().GetInt("InputVoltage", "Step", 0), c.stepAfter);
    }
}

TEST_F(DummyUPSTest, EachValueBouncesAndGoesOnTheOtherWay)
{
    // Min 100, Max 130, CurrentValue 128, Step 5: 133 is out of range, so the
    // step turns to -5 and the value to 123; the next refresh gives 118.
    struct SCase {
        const char* section;
        std::function<std::uint32_t()> member;
    };
    const SCase cases[] = {
        { "InputVoltage", [this] { return ups.m_inputLines[0].voltage; } },
        { "OutputVoltage", [this] { return ups.m_outputLines[0].voltage; } },
        { "OutputPercentLoad", [this] { return ups.m_outputLines[0].percentLoad; } },
        { "ChargeRemaining", [this] { return ups.m_chargeRemaining; } },
        { "BackupMinutesRemain", [this] { return ups.m_minutesRemaining; } },
    };
    Settings settings = CalmSettings();
    for (const auto& c : cases)
        settings[c.section] = { { "Min", "100" }, { "Max", "130" }, { "MinAlarm", "0" }, { "MaxAlarm", "1000" },
            { "CurrentValue", "128" }, { "Step", "5" } };
    WriteSimulation(settings);

    const std::uint32_t expected[] = { 123, 118, 113 };
    for (std::uint32_t value : expected) {
        ups.ReadValues();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.section);
            EXPECT_EQ(c.member(), value);
            EXPECT_EQ(Simulation().GetUInt(c.section, "CurrentValue", 0), value);
            EXPECT_EQ(Simulation().GetInt(c.section, "Step", 0), -5);
        }
    }
}

TEST_F(DummyUPSTest, StepZeroHoldsWritesNothingAndStillRaisesAlarms)
{
    Settings settings = CalmSettings();
    settings["InputVoltage"]["CurrentValue"] = "90"; // below MinAlarm 95
    WriteSimulation(settings);
    const std::string before = ReadFile(SimPath());

    ups.ReadValues();
    EXPECT_EQ(ReadFile(SimPath()), before);
    EXPECT_EQ(ups.m_inputLines[0].voltage, 90u);
    EXPECT_EQ(Descriptors(ups), (std::vector<COid> { kUpsAlarmOnBattery, kUpsAlarmInputBad }));
    EXPECT_EQ(ups.GetAlarmNotes(),
        (std::vector<std::string> { " -> upsAlarmOnBatteryOID", " -> upsAlarmOnBatteryOID -> upsAlarmInputBadOID" }));
}

TEST_F(DummyUPSTest, RefreshesEveryCyclesPerUpdatePlusOneCalls)
{
    struct SCase {
        const char* name;
        std::optional<Settings> file; // none: no simulation file at all
        const char* pattern; // per call: R refreshed, - still
    };
    auto with = [](std::optional<std::string> cycles) {
        Settings settings = CalmSettings();
        settings["Main"].clear();
        if (cycles)
            settings["Main"]["CyclesPerUpdate"] = *cycles;
        settings["OutputVoltage"]["Max"] = "200";
        settings["OutputVoltage"]["Step"] = "1";
        settings["InputVoltage"]["CurrentValue"] = "90"; // would raise alarms on a refresh
        return settings;
    };
    Settings noMain = with("0");
    noMain.erase("Main");
    const SCase cases[] = {
        { "no file", std::nullopt, "------" },
        { "key absent", with(std::nullopt), "------" },
        { "no Main section", noMain, "------" },
        { "-1", with("-1"), "------" },
        { "-5", with("-5"), "------" },
        { "0: every call", with("0"), "RRRRRR" },
        { "1: every second call", with("1"), "-R-R-R" },
        { "2: every third call", with("2"), "--R--R" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(SimPath());
        CTestDummyUPS fresh(&port, &configuration);
        if (c.file)
            WriteSimulation(*c.file);
        const std::string before = c.file ? ReadFile(SimPath()) : "";
        std::uint32_t last = 120;
        std::string seen;
        for (std::size_t call = 0; call < std::string(c.pattern).size(); ++call) {
            fresh.ReadValues();
            const std::uint32_t now = fresh.m_outputLines[0].voltage;
            seen += now == last + 1 ? 'R' : '-';
            if (now != 0)
                last = now;
        }
        EXPECT_EQ(seen, c.pattern);
        if (std::string(c.pattern).find('R') == std::string::npos) {
            EXPECT_EQ(c.file ? ReadFile(SimPath()) : "", before) << "the file stays untouched";
            EXPECT_EQ(std::filesystem::exists(SimPath()), c.file.has_value());
            EXPECT_TRUE(fresh.GetAlarms().empty());
            EXPECT_EQ(fresh.GetPendingTrapCount(), 0u);
        }
    }
}

TEST_F(DummyUPSTest, AlarmRulesAndNotes)
{
    struct SCase {
        const char* name;
        const char* section;
        std::map<std::string, std::string> keys;
        std::vector<COid> alarms;
        std::vector<std::string> notes;
    };
    const std::string onBattery = " -> upsAlarmOnBatteryOID";
    const std::string inputBad = " -> upsAlarmInputBadOID";
    const SCase cases[] = {
        { "input at MinAlarm", "InputVoltage", { { "CurrentValue", "95" } }, { kUpsAlarmOnBattery, kUpsAlarmInputBad },
            { onBattery, onBattery + inputBad } },
        { "input just above MinAlarm", "InputVoltage", { { "CurrentValue", "96" } }, {}, {} },
        { "input at MaxAlarm", "InputVoltage", { { "CurrentValue", "135" } }, { kUpsAlarmInputBad }, { inputBad } },
        { "input stepped down onto MinAlarm", "InputVoltage",
            { { "Min", "0" }, { "CurrentValue", "100" }, { "Step", "-5" } }, { kUpsAlarmOnBattery, kUpsAlarmInputBad },
            { "Set 'InputVoltage' to 95." + onBattery, "Set 'InputVoltage' to 95." + onBattery + inputBad } },
        { "output at MinAlarm", "OutputVoltage", { { "CurrentValue", "105" } }, { kUpsAlarmOutputBad },
            { " -> upsAlarmOutputBadOID" } },
        { "output at MaxAlarm", "OutputVoltage", { { "CurrentValue", "130" } }, { kUpsAlarmOutputBad },
            { " -> upsAlarmOutputBadOID" } },
        { "output inside", "OutputVoltage", { { "CurrentValue", "129" } }, {}, {} },
        { "load at MaxAlarm", "OutputPercentLoad", { { "CurrentValue", "100" } }, { kUpsAlarmOutputOverload },
            { " -> upsAlarmOutputOverloadOID" } },
        { "load at MinAlarm raises nothing", "OutputPercentLoad", { { "MinAlarm", "50" } }, {}, {} },
        { "load stepped onto MaxAlarm", "OutputPercentLoad",
            { { "Max", "200" }, { "CurrentValue", "90" }, { "Step", "10" } }, { kUpsAlarmOutputOverload },
            { "Set 'OutputPercentLoad' to 100. -> upsAlarmOutputOverloadOID" } },
        { "charge at MinAlarm", "ChargeRemaining", { { "CurrentValue", "10" } }, { kUpsAlarmDepletedBattery },
            { " -> upsAlarmDepletedBatteryOID" } },
        { "charge at MaxAlarm raises nothing", "ChargeRemaining", { { "MaxAlarm", "80" } }, {}, {} },
        { "minutes at MinAlarm", "BackupMinutesRemain", { { "CurrentValue", "5" } }, { kUpsAlarmLowBattery },
            { " -> upsAlarmLowBatteryOID" } },
        { "minutes above MinAlarm", "BackupMinutesRemain", { { "CurrentValue", "6" } }, {}, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings = CalmSettings();
        for (const auto& [key, value] : c.keys)
            settings[c.section][key] = value;
        WriteSimulation(settings);
        CTestDummyUPS fresh(&port, &configuration);
        fresh.ReadValues();
        EXPECT_EQ(Descriptors(fresh), c.alarms);
        EXPECT_EQ(fresh.GetAlarmNotes(), c.notes);
    }
}

TEST_F(DummyUPSTest, AlarmsStayWhileReportedAndLeaveAfterwards)
{
    Settings alarming = CalmSettings();
    alarming["BackupMinutesRemain"]["CurrentValue"] = "4";
    alarming["OutputVoltage"]["CurrentValue"] = "140";
    WriteSimulation(alarming);
    ups.ReadValues();
    ASSERT_EQ(Descriptors(ups), (std::vector<COid> { kUpsAlarmOutputBad, kUpsAlarmLowBattery }));
    const auto first = ups.GetAlarms();

    ups.ReadValues();
    ASSERT_EQ(ups.GetAlarms().size(), 2u);
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(ups.GetAlarms()[i].id, first[i].id) << "an alarm raised again keeps its entry";
        EXPECT_EQ(ups.GetAlarms()[i].time, first[i].time);
    }

    alarming["OutputVoltage"]["CurrentValue"] = "120";
    WriteSimulation(alarming);
    ups.ReadValues();
    EXPECT_EQ(Descriptors(ups), (std::vector<COid> { kUpsAlarmLowBattery }));

    WriteSimulation(CalmSettings());
    ups.ReadValues();
    EXPECT_TRUE(ups.GetAlarms().empty());
    EXPECT_TRUE(ups.GetAlarmNotes().empty());
}

TEST_F(DummyUPSTest, TheOutputIsOnBatteryWhileTheInputIsAtItsOnBatteryAlarm)
{
    ups.Start();
    EXPECT_EQ(ups.m_outputSource, 3) << "on line from the start";
    Settings settings = CalmSettings();
    for (const auto& [voltage, source] : { std::pair { "95", 5 }, std::pair { "118", 3 } }) {
        settings["InputVoltage"]["CurrentValue"] = voltage;
        WriteSimulation(settings);
        ups.ReadValues();
        EXPECT_EQ(ups.m_outputSource, source) << voltage << " V";
    }
}

TEST_F(DummyUPSTest, ConfigurationWithoutFolderNeverRunsTheSimulation)
{
    // A simulation file that would refresh and alarm, in the working folder
    // where a bare "pvx.ini" lives.
    Settings settings = CalmSettings();
    settings["InputVoltage"]["CurrentValue"] = "90";
    settings["OutputVoltage"]["Step"] = "1";
    WriteSimulation(settings);
    const std::string before = ReadFile(SimPath());

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    CINIFile bare("pvx.ini");
    CTestDummyUPS simulated(&port, &bare);
    for (int call = 0; call < 3; ++call)
        simulated.ReadValues();
    std::filesystem::current_path(previous);

    EXPECT_EQ(ReadFile(SimPath()), before);
    EXPECT_EQ(simulated.m_outputLines[0].voltage, 0u);
    EXPECT_TRUE(simulated.GetAlarms().empty());
    EXPECT_EQ(simulated.GetCycleCounter(), 0);
}

TEST_F(DummyUPSTest, UpdateRefreshesAndQueuesAlarmTraps)
{
    Settings settings = CalmSettings();
    settings["ChargeRemaining"]["CurrentValue"] = "10";
    WriteSimulation(settings);
    ups.Start();
    ups.Update();
    EXPECT_EQ(ups.GetLinkState(), 0);
    EXPECT_EQ(Descriptors(ups), (std::vector<COid> { kUpsAlarmDepletedBattery }));
    // The vendor trap for a depleted battery, then upsTrapAlarmEntryAdded.
    ASSERT_EQ(ups.GetPendingTrapCount(), 2u);
    EXPECT_EQ(ups.TakeNextTrap()->GetSpecificTrap(), 9);
    EXPECT_EQ(ups.TakeNextTrap()->GetSpecificTrap(), 3);
    EXPECT_TRUE(port.Writes().empty());
}

TEST_F(DummyUPSTest, NoCapabilityIsAvailable)
{
    ups.Start();
    EXPECT_FALSE(ups.GetLink().IsCommandSupported(0x00));
    const std::pair<const char*, std::function<bool()>> queries[] = {
        { "CanShutdown(1)", [this] { return ups.CanShutdown(1); } },
        { "CanRunTimedCommand", [this] { return ups.CanRunTimedCommand(); } },
        { "CanStartup", [this] { return ups.CanStartup(); } },
        { "CanReboot", [this] { return ups.CanReboot(); } },
        { "CanAbortTest", [this] { return ups.CanAbortTest(); } },
        { "CanGeneralSystemsTest", [this] { return ups.CanGeneralSystemsTest(); } },
        { "CanQuickBatteryTest", [this] { return ups.CanQuickBatteryTest(); } },
        { "CanDeepBatteryCalibration", [this] { return ups.CanDeepBatteryCalibration(); } },
        { "CanCommand95", [this] { return ups.CanCommand95(); } },
        { "CanOutletCommand1", [this] { return ups.CanOutletCommand1(); } },
        { "CanOutletCommand2", [this] { return ups.CanOutletCommand2(); } },
        { "CanOutletOnDelay", [this] { return ups.CanOutletOnDelay(); } },
        { "CanOutletOffDelay", [this] { return ups.CanOutletOffDelay(); } },
    };
    for (const auto& [name, query] : queries)
        EXPECT_FALSE(query()) << name;

    std::vector<OutletEntry> outlets(3);
    ups.GetOutlets(outlets);
    EXPECT_TRUE(outlets.empty());
    EXPECT_TRUE(port.Writes().empty());
}

TEST_F(DummyUPSTest, TreeRefusesControlsAndTests)
{
    struct SCase {
        const char* name;
        COid object;
        std::function<CMIBData()> value;
        std::uint32_t code;
    };
    const SCase cases[] = {
        { "upsShutdownAfterDelay", { 2, 1, 33, 1, 8, 2, 0 }, [] { return CMIBData(60, -1, 2147483647, MIB_SIGNED); },
            EVENT_READ_ONLY },
        { "upsStartupAfterDelay", { 2, 1, 33, 1, 8, 3, 0 }, [] { return CMIBData(60, -1, 2147483647, MIB_SIGNED); },
            EVENT_READ_ONLY },
        { "upsRebootWithDuration", { 2, 1, 33, 1, 8, 4, 0 }, [] { return CMIBData(60, -1, 2147483647, MIB_SIGNED); },
            EVENT_READ_ONLY },
        { "upsTestId quick battery test", { 2, 1, 33, 1, 7, 1, 0 },
            [] { return CMIBData(kUpsTestQuickBatteryTest, MIB_OID); }, EVENT_BAD_VALUE },
    };
    ups.Start();
    for (const auto& c : cases) {
        CMIBData value = c.value();
        value.SetName(c.object);
        EXPECT_EQ(EventOf([&] { ups.SetMIBData(value); }), c.code) << c.name;
    }
    EXPECT_EQ(ups.m_shutdownDue, CAbstractUPS::kNoDueTime);
    EXPECT_TRUE(port.Writes().empty());
}

TEST_F(DummyUPSTest, ConfigurationWritesAndControlsGoOutWithoutAuthorization)
{
    struct SCase {
        const char* name;
        std::uint8_t command;
        std::function<void()> action;
        Bytes frame; // the one write expected
        std::function<bool()> applied;
    };
    auto set = [this](const COid& name, CMIBData value) {
        value.SetName(name);
        ups.SetMIBData(value);
    };
    const SCase cases[] = {
        { "upsConfigAudibleStatus 3", 0x95,
            [&] {
                set({ 2, 1, 33, 1, 9, 8, 0 }, CMIBData(3, 1, 3, MIB_SIGNED));
            },
            // parameter 6, value 3 - 1 = 2, little-endian
            { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 }, [this] { return ups.m_audibleStatus == 3; } },
        { "vendor low temperature 5", 0x95,
            [&] {
                set({ 4, 1, 534, 1, 6, 2, 0 }, CMIBData(5, -100, 200, MIB_SIGNED));
            },
            // parameter 9, value 5
            { 0xAB, 0x04, 0x95, 0x09, 0x05, 0x00, 0xAE }, [this] { return ups.m_lowTemperatureLimit == 5; } },
        { "vendor UPS date", 0x90,
            [&] {
                set({ 4, 1, 534, 1, 10, 5, 0 }, CMIBData("7/4/2001:13:05:09", 255, MIB_TEXT));
            },
            // year bit 15 masked, year 2001 low byte, month, day, hour, minute, second, unused
            { 0xAB, 0x09, 0x90, 0x00, 0xD1, 0x07, 0x04, 0x0D, 0x05, 0x09, 0x00, 0xC5 },
            [this] { return ups.m_upsDateTime == "7/4/2001:13:05:09"; } },
        { "shutdown schedule cancelled", 0x93, [&] { ups.ApplyShutdownSchedule(); },
            { 0xAB, 0x03, 0x93, 0x00, 0x00, 0xBF }, [] { return true; } },
        { "battery test", 0xB1, [&] { ups.StartBatteryTest(1, 10); }, { 0xAB, 0x03, 0xB1, 0x01, 0x0A, 0x96 },
            [this] { return ups.IsBatteryTestRunning(); } },
        { "outlet command", 0x97, [&] { EXPECT_EQ(ups.OutletCommand1(2, 1), 0x31); },
            // outlet 2, sub-command 1, value 1
            { 0xAB, 0x05, 0x97, 0x02, 0x01, 0x01, 0x00, 0xB5 }, [] { return true; } },
    };
    ups.Start();
    for (const auto& c : cases) {
        port.ClearLog();
        port.AnswerStatus(c.command, 0x31);
        EXPECT_EQ(EventOf(c.action), 0u) << c.name;
        EXPECT_EQ(port.Writes(), std::vector<Bytes> { c.frame }) << c.name;
        EXPECT_TRUE(c.applied()) << c.name;
    }
}

TEST_F(DummyUPSTest, ControlsFailWhenNoUpsAnswers)
{
    ups.Start();
    const std::pair<const char*, std::function<void()>> actions[] = {
        { "shutdown schedule", [this] { ups.ApplyShutdownSchedule(); } },
        { "general systems test", [this] { ups.StartGeneralSystemsTest(); } },
        { "audible status",
            [this] {
                CMIBData value(3, 1, 3, MIB_SIGNED);
                value.SetName(COid { 2, 1, 33, 1, 9, 8, 0 });
                ups.SetMIBData(value);
            } },
    };
    for (const auto& [name, action] : actions)
        EXPECT_EQ(EventOf(action), EVENT_TIMEOUT) << name;
    EXPECT_EQ(ups.m_audibleStatus, 1);
    // A refusal is an error too, not a success.
    port.AnswerStatus(0xB1, 0x32);
    EXPECT_EQ(EventOf([this] { ups.StartGeneralSystemsTest(); }), EVENT_COMMAND_FAILED);
}

TEST_F(DummyUPSTest, ShippedSampleGivesABelievableSimulation)
{
    const std::string sample = ReadFile(std::string(PVX_SOURCE_DIR) + "/packaging/DummyUPS.ini");
    ASSERT_FALSE(sample.empty());
    WriteText(SimPath(), sample);
    const int cycles = Simulation().GetInt("Main", "CyclesPerUpdate", -1);
    ASSERT_GE(cycles, 0);

    struct SLimits {
        const char* section;
        std::function<std::uint32_t()> member;
        std::uint32_t min = 0;
        std::uint32_t max = 0;
        std::uint32_t lowest = UINT32_MAX;
        std::uint32_t highest = 0;
    };
    SLimits limits[] = {
        { "InputVoltage", [this] { return ups.m_inputLines[0].voltage; } },
        { "OutputVoltage", [this] { return ups.m_outputLines[0].voltage; } },
        { "OutputPercentLoad", [this] { return ups.m_outputLines[0].percentLoad; } },
        { "ChargeRemaining", [this] { return ups.m_chargeRemaining; } },
        { "BackupMinutesRemain", [this] { return ups.m_minutesRemaining; } },
    };
    for (auto& l : limits) {
        l.min = Simulation().GetUInt(l.section, "Min", 0);
        l.max = Simulation().GetUInt(l.section, "Max", 0);
        ASSERT_LT(l.min, l.max) << l.section;
    }
    std::set<std::string> alarmsSeen;
    ups.Start();
    const int refreshes = 200;
    for (int call = 0; call < refreshes * (cycles + 1); ++call) {
        ups.Update();
        if (ups.GetCycleCounter() != 0)
            continue;
        for (auto& l : limits) {
            l.lowest = std::min(l.lowest, l.member());
            l.highest = std::max(l.highest, l.member());
        }
        for (const auto& entry : ups.GetAlarms())
            alarmsSeen.insert(entry.descriptor.ToString());
    }
    for (const auto& l : limits) {
        EXPECT_GE(l.lowest, l.min) << l.section;
        EXPECT_LE(l.highest, l.max) << l.section;
    }
    // Every value except the output voltage moves through some alarm.
    EXPECT_EQ(alarmsSeen,
        (std::set<std::string> { kUpsAlarmOnBattery.ToString(), kUpsAlarmInputBad.ToString(),
            kUpsAlarmOutputOverload.ToString(), kUpsAlarmDepletedBattery.ToString(), kUpsAlarmLowBattery.ToString() }));
    // The explanations survive the rewrites.
    const std::string after = ReadFile(SimPath());
    EXPECT_NE(after.find("# Simulation file of the simulated UPS"), std::string::npos);
    EXPECT_NE(after.find("# Minutes of runtime left"), std::string::npos);
}

TEST_F(DummyUPSTest, RelayedFramesAreAnsweredFromTheModel)
{
    struct SCase {
        const char* name;
        Bytes request;
        std::size_t replySize; // 0: compare with `reply`
        Bytes reply;
    };
    const SCase cases[] = {
        // Even with a UPS that would answer, identification comes from the model (two blocks).
        { "identification", { 0xAB, 0x01, 0x31, 0x23 }, 165, {} },
        // Block 0x10: 8 commands, second byte 1, only those listed whatever the UPS can do.
        { "command list", { 0xAB, 0x01, 0x40, 0x14 }, 0,
            { 0xAB, 0x10, 0x0A, 0x81, 0x08, 0x01, 0x31, 0x33, 0x34, 0x35, 0x36, 0x3C, 0x40, 0xCE, 0x64 } },
        // Shutdown now is not available: status 0x32 with the command echoed.
        { "shutdown now refused", { 0xAB, 0x01, 0x8B, 0xC9 }, 0, { 0xAB, 0x09, 0x02, 0x81, 0x32, 0x8B, 0x0C } },
    };
    ups.Start();
    port.AnswerBlock(0x31, { 0x01, 0x02 });
    port.AnswerBlock(0x40, { 0x02, 0x01, 0x8B, 0x93 });
    port.AnswerStatus(0x8B, 0x31);
    for (const auto& c : cases) {
        const Bytes reply = ups.ProcessXCPRequest(c.request);
        if (c.replySize != 0)
            EXPECT_EQ(reply.size(), c.replySize) << c.name;
        else
            EXPECT_EQ(reply, c.reply) << c.name;
    }
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(ups.m_shutdownDue, CAbstractUPS::kNoDueTime);
}

TEST_F(DummyUPSTest, EmulatedConfigurationWriteGoesToThePortWithoutAuthorization)
{
    ups.Start();
    port.AnswerStatus(0x95, 0x31);
    // 0x95 with parameter 6 and value 2, as a network client sends it
    const Bytes request = { 0xAB, 0x03, 0x95, 0x06, 0x02, 0xB5 };
    const Bytes reply = ups.ProcessXCPRequest(request);
    EXPECT_EQ(port.Writes(), std::vector<Bytes> { request });
    ASSERT_GE(reply.size(), 5u);
    EXPECT_EQ(reply[1], 0x09); // command status
    EXPECT_EQ(reply[4], 0x31); // accepted
}

} // namespace
} // namespace pvx
