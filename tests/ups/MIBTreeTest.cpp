// Reading the object tree: two complete GET-NEXT walks written out by hand,
// and the edge cases of GET and GET-NEXT (groups, rows, columns, empty
// tables, unknown arcs, the end of the walk); the SET of the UPS's own
// settings through the driver's writer.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <limits>
#include <sstream>

namespace pvx::test {
namespace {

constexpr std::uint32_t kNoSuch = EVENT_NO_SUCH_OBJECT;

struct SWalkStep {
    std::string name;
    std::int32_t kind;
    std::string value;
};

bool operator==(const SWalkStep& a, const SWalkStep& b)
{
    return a.name == b.name && a.kind == b.kind && a.value == b.value;
}

std::ostream& operator<<(std::ostream& out, const SWalkStep& step)
{
    return out << step.name << " (kind " << step.kind << ") = " << step.value;
}

constexpr std::int32_t S = MIB_SIGNED, U = MIB_UNSIGNED, E = MIB_ENUMERATED, N = MIB_NUMBER_TEXT, T = MIB_TEXT,
                       O = MIB_OID;

// The scripted model of the first walk: one line per group, two alarms
// (ids 7 then 3, so list order and id order differ), two event records.
void FillCommonValues(CTestUPS& ups)
{
    ups.m_manufacturer = "Maker Co";
    ups.m_model = "M1";
    ups.m_upsSoftwareVersion = "2.5";
    ups.m_upsName = "ups-a";
    ups.m_attachedDevices = "servers";
    ups.m_minutesRemaining = 42;
    ups.m_lowBatteryTime = 5;
    ups.m_chargeRemaining = 97;
    ups.m_batteryVoltage = 545;
    ups.m_batteryCurrent = -12;
    ups.m_batteryTemperature = 31;
    ups.m_inputLineBads = 3;
    ups.m_outputSource = 3;
    ups.m_outputFrequency = 599;
    ups.m_bypassFrequency = 601;
    ups.m_testResultDetail = "ok";
    ups.m_testStartTime = 123450;
    ups.m_testElapsedTime = 5000;
    ups.m_nominalInputVoltage = 230;
    ups.m_nominalInputFrequency = 500;
    ups.m_nominalOutputVoltage = 220;
    ups.m_nominalOutputFrequency = 501;
    ups.m_nominalOutputVA = 1500;
    ups.m_nominalOutputPower = 1000;
    ups.m_lowTransferVoltage = 180;
    ups.m_highTransferVoltage = 270;
    ups.m_ambientTemperature = 25;
    ups.m_lowTemperatureLimit = -5;
    ups.m_highTemperatureLimit = 45;
    ups.m_batteryChargeState = 4;
    ups.m_vendorTestResult = 2;
    ups.m_upsDateTime = "07/04/2001:13:05:09";
    for (std::uint32_t i = 0; i < 3; ++i) {
        ups.m_inputLines[i] = { 600 + i, 230 + i, 15 + i, 340 + i };
        ups.m_outputLines[i] = { 229 + i, 14 + i, 320 + i, 35 + i };
        ups.m_bypassLines[i] = { 231 + i, 2 + i, 4 + i };
    }
}

void FillOneLineModel(CTestUPS& ups, CFakeClock& clock)
{
    FillCommonValues(ups);
    ups.m_nextAlarmId = 7;
    ups.RaiseAlarm(kUpsAlarmOnBattery); // at ms clock 1000000
    clock.Advance(250);
    ups.m_nextAlarmId = 3;
    ups.RaiseAlarm(kUpsAlarmLowBattery);
    while (ups.TakeNextTrap()) { }
    ups.m_eventRecords = { { "07/04/2001:13:05:09", 1, 5 }, { "12/31/1999:23:59:59", 2, 17 } };
}

void FillThreeLineModel(CTestUPS& ups)
{
    FillCommonValues(ups);
    ups.m_inputLineCount = 3;
    ups.m_outputLineCount = 3;
    ups.m_bypassLineCount = 3;
}

// Segments shared by both walks.
const SWalkStep kIdentAndBattery[] = {
    { "1.3.6.1.2.1.33.1.1.1.0", T, "Maker Co" },
    { "1.3.6.1.2.1.33.1.1.2.0", T, "M1" },
    { "1.3.6.1.2.1.33.1.1.3.0", T, "2.5" },
    { "1.3.6.1.2.1.33.1.1.4.0", T, "0.1a" },
    { "1.3.6.1.2.1.33.1.1.5.0", T, "ups-a" },
    { "1.3.6.1.2.1.33.1.1.6.0", T, "servers" },
    { "1.3.6.1.2.1.33.1.2.1.0", U, "2" },
    { "1.3.6.1.2.1.33.1.2.2.0", U, "0" },
    { "1.3.6.1.2.1.33.1.2.3.0", E, "42" },
    { "1.3.6.1.2.1.33.1.2.4.0", U, "97" },
    { "1.3.6.1.2.1.33.1.2.5.0", U, "545" },
    { "1.3.6.1.2.1.33.1.2.6.0", S, "-12" },
    { "1.3.6.1.2.1.33.1.2.7.0", S, "31" },
};

const SWalkStep kTestControlConfig[] = {
    { "1.3.6.1.2.1.33.1.7.1.0", O, "1.3.6.1.2.1.33.1.7.7.1.0" },
    { "1.3.6.1.2.1.33.1.7.2.0", U, "1" },
    { "1.3.6.1.2.1.33.1.7.3.0", E, "6" },
    { "1.3.6.1.2.1.33.1.7.4.0", T, "ok" },
    { "1.3.6.1.2.1.33.1.7.5.0", U, "12345" },
    { "1.3.6.1.2.1.33.1.7.6.0", U, "500" },
    { "1.3.6.1.2.1.33.1.8.1.0", E, "1" },
    { "1.3.6.1.2.1.33.1.8.2.0", S, "-1" },
    { "1.3.6.1.2.1.33.1.8.3.0", S, "-1" },
    { "1.3.6.1.2.1.33.1.8.4.0", S, "-1" },
    { "1.3.6.1.2.1.33.1.8.5.0", E, "1" },
    { "1.3.6.1.2.1.33.1.9.1.0", U, "230" },
    { "1.3.6.1.2.1.33.1.9.2.0", U, "500" },
    { "1.3.6.1.2.1.33.1.9.3.0", U, "220" },
    { "1.3.6.1.2.1.33.1.9.4.0", U, "501" },
    { "1.3.6.1.2.1.33.1.9.5.0", U, "1500" },
    { "1.3.6.1.2.1.33.1.9.6.0", U, "1000" },
    { "1.3.6.1.2.1.33.1.9.7.0", U, "5" },
    { "1.3.6.1.2.1.33.1.9.8.0", U, "2" },
    { "1.3.6.1.2.1.33.1.9.9.0", U, "180" },
    { "1.3.6.1.2.1.33.1.9.10.0", U, "270" },
};

const SWalkStep kVendorIdentAndBattery[] = {
    { "1.3.6.1.4.1.534.1.1.1.0", T, "Maker Co" },
    { "1.3.6.1.4.1.534.1.1.2.0", T, "M1" },
    { "1.3.6.1.4.1.534.1.1.3.0", T, "2.5" },
    { "1.3.6.1.4.1.534.1.2.1.0", U, "2520" }, // 42 min in seconds
    { "1.3.6.1.4.1.534.1.2.2.0", U, "54" }, // 54.5 V in whole volts
    { "1.3.6.1.4.1.534.1.2.3.0", S, "-1" }, // -1.2 A truncated toward zero
    { "1.3.6.1.4.1.534.1.2.4.0", U, "97" },
    { "1.3.6.1.4.1.534.1.2.5.0", E, "4" },
};

const SWalkStep kVendorEnvironment[] = {
    { "1.3.6.1.4.1.534.1.6.1.0", S, "25" },
    { "1.3.6.1.4.1.534.1.6.2.0", S, "-5" },
    { "1.3.6.1.4.1.534.1.6.3.0", S, "45" },
};

const SWalkStep kVendorTestControlConfig[] = {
    { "1.3.6.1.4.1.534.1.8.2.0", U, "2" },
    { "1.3.6.1.4.1.534.1.9.1.0", S, "-1" },
    { "1.3.6.1.4.1.534.1.9.2.0", S, "-1" },
    { "1.3.6.1.4.1.534.1.9.3.0", S, "-1" },
    { "1.3.6.1.4.1.534.1.9.4.0", S, "-1" },
    { "1.3.6.1.4.1.534.1.9.5.0", S, "-1" },
    { "1.3.6.1.4.1.534.1.10.1.0", U, "220" },
    { "1.3.6.1.4.1.534.1.10.2.0", U, "230" },
    { "1.3.6.1.4.1.534.1.10.3.0", U, "1000" },
    { "1.3.6.1.4.1.534.1.10.4.0", U, "501" },
    { "1.3.6.1.4.1.534.1.10.5.0", T, "07/04/2001:13:05:09" },
};

const SWalkStep kOneLineTables[] = {
    { "1.3.6.1.2.1.33.1.3.1.0", U, "3" },
    { "1.3.6.1.2.1.33.1.3.2.0", U, "1" },
    { "1.3.6.1.2.1.33.1.3.3.1.2.0", U, "600" },
    { "1.3.6.1.2.1.33.1.3.3.1.3.0", U, "230" },
    { "1.3.6.1.2.1.33.1.3.3.1.4.0", U, "15" },
    { "1.3.6.1.2.1.33.1.3.3.1.5.0", U, "340" },
    { "1.3.6.1.2.1.33.1.4.1.0", E, "3" },
    { "1.3.6.1.2.1.33.1.4.2.0", U, "599" },
    { "1.3.6.1.2.1.33.1.4.3.0", U, "1" },
    { "1.3.6.1.2.1.33.1.4.4.1.2.0", U, "229" },
    { "1.3.6.1.2.1.33.1.4.4.1.3.0", U, "14" },
    { "1.3.6.1.2.1.33.1.4.4.1.4.0", U, "320" },
    { "1.3.6.1.2.1.33.1.4.4.1.5.0", U, "35" },
    { "1.3.6.1.2.1.33.1.5.1.0", U, "601" },
    { "1.3.6.1.2.1.33.1.5.2.0", U, "1" },
    { "1.3.6.1.2.1.33.1.5.3.1.2.0", U, "231" },
    { "1.3.6.1.2.1.33.1.5.3.1.3.0", U, "2" },
    { "1.3.6.1.2.1.33.1.5.3.1.4.0", U, "4" },
    { "1.3.6.1.2.1.33.1.6.1.0", U, "2" },
    { "1.3.6.1.2.1.33.1.6.2.7.2.0", O, "1.3.6.1.2.1.33.1.6.3.2.0" },
    { "1.3.6.1.2.1.33.1.6.2.7.3.0", N, "100000" },
    { "1.3.6.1.2.1.33.1.6.2.3.2.0", O, "1.3.6.1.2.1.33.1.6.3.3.0" },
    { "1.3.6.1.2.1.33.1.6.2.3.3.0", N, "100025" },
};

const SWalkStep kOneLineVendorTables[] = {
    { "1.3.6.1.4.1.534.1.3.1.0", U, "600" },
    { "1.3.6.1.4.1.534.1.3.2.0", U, "3" },
    { "1.3.6.1.4.1.534.1.3.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.1.2.0", U, "230" },
    { "1.3.6.1.4.1.534.1.3.4.1.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.1.4.0", U, "340" },
    { "1.3.6.1.4.1.534.1.4.1.0", U, "35" },
    { "1.3.6.1.4.1.534.1.4.2.0", U, "599" },
    { "1.3.6.1.4.1.534.1.4.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.1.2.0", U, "229" },
    { "1.3.6.1.4.1.534.1.4.4.1.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.1.4.0", U, "320" },
    { "1.3.6.1.4.1.534.1.5.1.0", U, "601" },
    { "1.3.6.1.4.1.534.1.5.2.0", U, "1" },
    { "1.3.6.1.4.1.534.1.5.3.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.5.3.1.2.0", U, "231" },
};

const SWalkStep kOneLineVendorAlarms[] = {
    { "1.3.6.1.4.1.534.1.7.1.0", U, "2" },
    { "1.3.6.1.4.1.534.1.7.2.7.1.0", U, "8" }, // id + 1
    { "1.3.6.1.4.1.534.1.7.2.7.2.0", O, "1.3.6.1.2.1.33.1.6.3.2.0" },
    { "1.3.6.1.4.1.534.1.7.2.7.3.0", N, "100000" },
    { "1.3.6.1.4.1.534.1.7.2.3.1.0", U, "4" },
    { "1.3.6.1.4.1.534.1.7.2.3.2.0", O, "1.3.6.1.2.1.33.1.6.3.3.0" },
    { "1.3.6.1.4.1.534.1.7.2.3.3.0", N, "100025" },
    { "1.3.6.1.4.1.534.1.7.18.0", U, "2" },
    { "1.3.6.1.4.1.534.1.7.19.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.7.19.1.2.0", T, "07/04/2001:13:05:09" },
    { "1.3.6.1.4.1.534.1.7.19.1.3.0", S, "1" },
    { "1.3.6.1.4.1.534.1.7.19.1.4.0", U, "5" },
    { "1.3.6.1.4.1.534.1.7.19.2.1.0", U, "2" },
    { "1.3.6.1.4.1.534.1.7.19.2.2.0", T, "12/31/1999:23:59:59" },
    { "1.3.6.1.4.1.534.1.7.19.2.3.0", S, "2" },
    { "1.3.6.1.4.1.534.1.7.19.2.4.0", U, "17" },
};

const SWalkStep kThreeLineTables[] = {
    { "1.3.6.1.2.1.33.1.3.1.0", U, "3" }, { "1.3.6.1.2.1.33.1.3.2.0", U, "3" },
    { "1.3.6.1.2.1.33.1.3.3.1.2.0", U, "600" }, { "1.3.6.1.2.1.33.1.3.3.1.3.0", U, "230" },
    { "1.3.6.1.2.1.33.1.3.3.1.4.0", U, "15" }, { "1.3.6.1.2.1.33.1.3.3.1.5.0", U, "340" },
    { "1.3.6.1.2.1.33.1.3.3.2.2.0", U, "601" }, { "1.3.6.1.2.1.33.1.3.3.2.3.0", U, "231" },
    { "1.3.6.1.2.1.33.1.3.3.2.4.0", U, "16" }, { "1.3.6.1.2.1.33.1.3.3.2.5.0", U, "341" },
    { "1.3.6.1.2.1.33.1.3.3.3.2.0", U, "602" }, { "1.3.6.1.2.1.33.1.3.3.3.3.0", U, "232" },
    { "1.3.6.1.2.1.33.1.3.3.3.4.0", U, "17" }, { "1.3.6.1.2.1.33.1.3.3.3.5.0", U, "342" },
    { "1.3.6.1.2.1.33.1.4.1.0", E, "3" }, { "1.3.6.1.2.1.33.1.4.2.0", U, "599" }, { "1.3.6.1.2.1.33.1.4.3.0", U, "3" },
    { "1.3.6.1.2.1.33.1.4.4.1.2.0", U, "229" }, { "1.3.6.1.2.1.33.1.4.4.1.3.0", U, "14" },
    { "1.3.6.1.2.1.33.1.4.4.1.4.0", U, "320" }, { "1.3.6.1.2.1.33.1.4.4.1.5.0", U, "35" },
    { "1.3.6.1.2.1.33.1.4.4.2.2.0", U, "230" }, { "1.3.6.1.2.1.33.1.4.4.2.3.0", U, "15" },
    { "1.3.6.1.2.1.33.1.4.4.2.4.0", U, "321" }, { "1.3.6.1.2.1.33.1.4.4.2.5.0", U, "36" },
    { "1.3.6.1.2.1.33.1.4.4.3.2.0", U, "231" }, { "1.3.6.1.2.1.33.1.4.4.3.3.0", U, "16" },
    { "1.3.6.1.2.1.33.1.4.4.3.4.0", U, "322" }, { "1.3.6.1.2.1.33.1.4.4.3.5.0", U, "37" },
    { "1.3.6.1.2.1.33.1.5.1.0", U, "601" }, { "1.3.6.1.2.1.33.1.5.2.0", U, "3" },
    { "1.3.6.1.2.1.33.1.5.3.1.2.0", U, "231" }, { "1.3.6.1.2.1.33.1.5.3.1.3.0", U, "2" },
    { "1.3.6.1.2.1.33.1.5.3.1.4.0", U, "4" }, { "1.3.6.1.2.1.33.1.5.3.2.2.0", U, "232" },
    { "1.3.6.1.2.1.33.1.5.3.2.3.0", U, "3" }, { "1.3.6.1.2.1.33.1.5.3.2.4.0", U, "5" },
    { "1.3.6.1.2.1.33.1.5.3.3.2.0", U, "233" }, { "1.3.6.1.2.1.33.1.5.3.3.3.0", U, "4" },
    { "1.3.6.1.2.1.33.1.5.3.3.4.0", U, "6" },
    { "1.3.6.1.2.1.33.1.6.1.0", U, "0" }, // no alarm rows: straight on to upsTestId
};

const SWalkStep kThreeLineVendorTables[] = {
    { "1.3.6.1.4.1.534.1.3.1.0", U, "600" },
    { "1.3.6.1.4.1.534.1.3.2.0", U, "3" },
    { "1.3.6.1.4.1.534.1.3.3.0", U, "3" },
    { "1.3.6.1.4.1.534.1.3.4.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.1.2.0", U, "230" },
    { "1.3.6.1.4.1.534.1.3.4.1.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.1.4.0", U, "340" },
    { "1.3.6.1.4.1.534.1.3.4.2.1.0", U, "2" },
    { "1.3.6.1.4.1.534.1.3.4.2.2.0", U, "231" },
    { "1.3.6.1.4.1.534.1.3.4.2.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.2.4.0", U, "341" },
    { "1.3.6.1.4.1.534.1.3.4.3.1.0", U, "3" },
    { "1.3.6.1.4.1.534.1.3.4.3.2.0", U, "232" },
    { "1.3.6.1.4.1.534.1.3.4.3.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.3.4.3.4.0", U, "342" },
    { "1.3.6.1.4.1.534.1.4.1.0", U, "35" },
    { "1.3.6.1.4.1.534.1.4.2.0", U, "599" },
    { "1.3.6.1.4.1.534.1.4.3.0", U, "3" },
    { "1.3.6.1.4.1.534.1.4.4.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.1.2.0", U, "229" },
    { "1.3.6.1.4.1.534.1.4.4.1.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.1.4.0", U, "320" },
    { "1.3.6.1.4.1.534.1.4.4.2.1.0", U, "2" },
    { "1.3.6.1.4.1.534.1.4.4.2.2.0", U, "230" },
    { "1.3.6.1.4.1.534.1.4.4.2.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.2.4.0", U, "321" },
    { "1.3.6.1.4.1.534.1.4.4.3.1.0", U, "3" },
    { "1.3.6.1.4.1.534.1.4.4.3.2.0", U, "231" },
    { "1.3.6.1.4.1.534.1.4.4.3.3.0", U, "1" },
    { "1.3.6.1.4.1.534.1.4.4.3.4.0", U, "322" },
    { "1.3.6.1.4.1.534.1.5.1.0", U, "601" },
    { "1.3.6.1.4.1.534.1.5.2.0", U, "3" },
    { "1.3.6.1.4.1.534.1.5.3.1.1.0", U, "1" },
    { "1.3.6.1.4.1.534.1.5.3.1.2.0", U, "231" },
    { "1.3.6.1.4.1.534.1.5.3.2.1.0", U, "2" },
    { "1.3.6.1.4.1.534.1.5.3.2.2.0", U, "232" },
    { "1.3.6.1.4.1.534.1.5.3.3.1.0", U, "3" },
    { "1.3.6.1.4.1.534.1.5.3.3.2.0", U, "233" },
};

const SWalkStep kThreeLineVendorAlarms[] = {
    { "1.3.6.1.4.1.534.1.7.1.0", U, "0" },
    { "1.3.6.1.4.1.534.1.7.18.0", U, "0" },
};

template <typename... Segments> std::vector<SWalkStep> Join(const Segments&... segments)
{
    std::vector<SWalkStep> steps;
    (steps.insert(steps.end(), std::begin(segments), std::end(segments)), ...);
    return steps;
}

// GET-NEXT from 1.3.6.1 until the tree answers an error; the error code is
// returned through `end`.
std::vector<SWalkStep> Walk(CAbstractUPS& ups, std::uint32_t& end)
{
    std::vector<SWalkStep> steps;
    COid name;
    end = 0;
    for (int i = 0; i < 1000; ++i) {
        std::unique_ptr<CMIBData> answer;
        end = CodeOf([&] { answer = ups.GetMIBData(name.Arcs(), true); });
        if (end != 0)
            break;
        steps.push_back({ answer->GetName()->ToString(), answer->GetKind(), ValueText(*answer) });
        name = *answer->GetName();
    }
    return steps;
}

class MIBTreeTest : public ::testing::Test {
protected:
    CFakeClock clock { 1000000 };
    CScopedClock scoped { clock };
    CTestUPS ups;
};

TEST_F(MIBTreeTest, WalkOfAOneLineModelWithAlarmsAndEvents)
{
    FillOneLineModel(ups, clock);
    std::uint32_t end = 0;
    auto steps = Walk(ups, end);
    auto expected = Join(kIdentAndBattery, kOneLineTables, kTestControlConfig, kVendorIdentAndBattery,
        kOneLineVendorTables, kVendorEnvironment, kOneLineVendorAlarms, kVendorTestControlConfig);
    // The model's low-battery alarm makes the battery low, whatever the run time.
    for (auto& step : expected)
        if (step.name == "1.3.6.1.2.1.33.1.2.1.0")
            step.value = "3";
    ASSERT_EQ(steps.size(), expected.size());
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(steps[i], expected[i]) << "step " << i;
    EXPECT_EQ(end, kNoSuch);
}

TEST_F(MIBTreeTest, WalkOfAThreeLineModelWithoutAlarmsOrEvents)
{
    FillThreeLineModel(ups);
    std::uint32_t end = 0;
    auto steps = Walk(ups, end);
    auto expected = Join(kIdentAndBattery, kThreeLineTables, kTestControlConfig, kVendorIdentAndBattery,
        kThreeLineVendorTables, kVendorEnvironment, kThreeLineVendorAlarms, kVendorTestControlConfig);
    ASSERT_EQ(steps.size(), expected.size());
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(steps[i], expected[i]) << "step " << i;
    EXPECT_EQ(end, kNoSuch);
}

struct SReadCase {
    const char* what;
    void (*setup)(CTestUPS&); // on top of the one-line model; may be null
    const char* name;
    bool next;
    const char* answerName; // null when an error is expected
    const char* value;
};

void RunReadCases(std::span<const SReadCase> cases)
{
    for (const auto& c : cases) {
        CFakeClock clock(1000000);
        CScopedClock scoped(clock);
        CTestUPS ups;
        FillOneLineModel(ups, clock);
        if (c.setup)
            c.setup(ups);
        std::unique_ptr<CMIBData> answer;
        std::uint32_t code = CodeOf([&] { answer = ups.GetMIBData(Name(c.name).Arcs(), c.next); });
        if (!c.answerName) {
            // Both become noSuchName in SNMPv1.
            EXPECT_TRUE(code == kNoSuch || code == EVENT_NO_SUCH_INSTANCE) << c.what << std::hex << code;
            continue;
        }
        ASSERT_EQ(code, 0u) << c.what;
        EXPECT_EQ(answer->GetName()->ToString(), c.answerName) << c.what;
        EXPECT_EQ(ValueText(*answer), c.value) << c.what;
    }
}

TEST(MIBTreeReadTest, NodesGroupsAndScalars)
{
    const SReadCase cases[] = {
        { "GET of a group", nullptr, "1.3.6.1.2.1.33.1.1", false, nullptr, nullptr },
        { "GET of a node", nullptr, "1.3.6.1.4.1.534.1", false, nullptr, nullptr },
        { "GET of the prefix itself", nullptr, "1.3.6.1", false, nullptr, nullptr },
        { "GET-NEXT of a group", nullptr, "1.3.6.1.2.1.33.1.1", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET-NEXT of 1.3.6.1", nullptr, "1.3.6.1", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET-NEXT of mgmt", nullptr, "1.3.6.1.2", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET-NEXT of upsObjects", nullptr, "1.3.6.1.2.1.33.1", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET-NEXT of a group ending in .0", nullptr, "1.3.6.1.2.1.33.1.2.0", true, "1.3.6.1.2.1.33.1.2.1.0", "3" },
        { "last ident object to the battery group", nullptr, "1.3.6.1.2.1.33.1.1.6", true, "1.3.6.1.2.1.33.1.2.1.0",
            "3" },
        { "scalar without .0", nullptr, "1.3.6.1.2.1.33.1.1.1", false, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "scalar with extra arcs", nullptr, "1.3.6.1.2.1.33.1.1.1.7", false, "1.3.6.1.2.1.33.1.1.1.7.0", "Maker Co" },
        { "GET-NEXT ignores arcs after a scalar", nullptr, "1.3.6.1.2.1.33.1.1.1.7.3", true, "1.3.6.1.2.1.33.1.1.2.0",
            "M1" },
        { "agent software version", nullptr, "1.3.6.1.2.1.33.1.1.4.0", false, "1.3.6.1.2.1.33.1.1.4.0", "0.1a" },
        { "UPS-MIB end goes on in the vendor MIB", nullptr, "1.3.6.1.2.1.33.1.9.10", true, "1.3.6.1.4.1.534.1.1.1.0",
            "Maker Co" },
        { "GET-NEXT of 1.3.6.1.4", nullptr, "1.3.6.1.4", true, "1.3.6.1.4.1.534.1.1.1.0", "Maker Co" },
        { "GET-NEXT of enterprise 534", nullptr, "1.3.6.1.4.1.534", true, "1.3.6.1.4.1.534.1.1.1.0", "Maker Co" },
        { "end of the walk", nullptr, "1.3.6.1.4.1.534.1.10.5", true, nullptr, nullptr },
        { "end of the walk with extra arcs", nullptr, "1.3.6.1.4.1.534.1.10.5.0", true, nullptr, nullptr },
        { "no skipping over 1.3.6.1.3", nullptr, "1.3.6.1.3", true, nullptr, nullptr },
        { "GET-NEXT of 1.3.6.1.1", nullptr, "1.3.6.1.1", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET-NEXT of sysDescr", nullptr, "1.3.6.1.2.1.1.1.0", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET-NEXT of the mib-2 group before the UPS-MIB", nullptr, "1.3.6.1.2.1.32.9", true,
            "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "GET of a name before the first object", nullptr, "1.3.6.1.2.1.1.1.0", false, nullptr, nullptr },
        { "GET-NEXT past the end of the vendor subtree", nullptr, "1.3.6.1.6", true, nullptr, nullptr },
        { "no skipping over upsTraps", nullptr, "1.3.6.1.2.1.33.2", true, nullptr, nullptr },
        { "unknown object of a group", nullptr, "1.3.6.1.2.1.33.1.1.9", true, nullptr, nullptr },
        { "unknown UPS-MIB group", nullptr, "1.3.6.1.2.1.33.1.10", true, nullptr, nullptr },
        { "other enterprise", nullptr, "1.3.6.1.4.1.535", true, nullptr, nullptr },
        { "vendor group 11 is the agent's", nullptr, "1.3.6.1.4.1.534.1.11.1.0", false, nullptr, nullptr },
        { "534.2 answers one identifier", nullptr, "1.3.6.1.4.1.534.2", false, "1.3.6.1.4.1.534.2.0",
            "1.3.6.1.4.1.534.2.1.0" },
        { "534.2 with more arcs", nullptr, "1.3.6.1.4.1.534.2.1.0", false, "1.3.6.1.4.1.534.2.1.0",
            "1.3.6.1.4.1.534.2.1.0" },
        { "a walk never enters 534.2", nullptr, "1.3.6.1.4.1.534.2", true, nullptr, nullptr },
        { "write-only vendor test object", nullptr, "1.3.6.1.4.1.534.1.8.1.0", false, nullptr, nullptr },
        { "GET-NEXT passes the write-only object", nullptr, "1.3.6.1.4.1.534.1.8.1", true, "1.3.6.1.4.1.534.1.8.2.0",
            "2" },
        { "GET-NEXT of the vendor test group", nullptr, "1.3.6.1.4.1.534.1.8", true, "1.3.6.1.4.1.534.1.8.2.0", "2" },
    };
    RunReadCases(cases);
}

TEST(MIBTreeReadTest, TableRowsAndColumns)
{
    const SReadCase cases[] = {
        { "voltage of input line 1", nullptr, "1.3.6.1.2.1.33.1.3.3.1.3.0", false, "1.3.6.1.2.1.33.1.3.3.1.3.0",
            "230" },
        { "standard name table.1.column.row reads row 1", nullptr, "1.3.6.1.2.1.33.1.3.3.1.3.1", false,
            "1.3.6.1.2.1.33.1.3.3.1.3.1.0", "230" },
        { "row 0", nullptr, "1.3.6.1.2.1.33.1.3.3.0.3.0", false, nullptr, nullptr },
        { "row above the line count", nullptr, "1.3.6.1.2.1.33.1.3.3.2.3.0", false, nullptr, nullptr },
        { "GET-NEXT from a row above the line count", nullptr, "1.3.6.1.2.1.33.1.3.3.2.3", true, nullptr, nullptr },
        { "index column of the UPS-MIB", nullptr, "1.3.6.1.2.1.33.1.3.3.1.1.0", false, nullptr, nullptr },
        { "GET-NEXT of the index column", nullptr, "1.3.6.1.2.1.33.1.3.3.1.1", true, "1.3.6.1.2.1.33.1.3.3.1.2.0",
            "600" },
        { "GET-NEXT of a row without column", nullptr, "1.3.6.1.2.1.33.1.3.3.1", true, "1.3.6.1.2.1.33.1.3.3.1.2.0",
            "600" },
        { "column past the last", nullptr, "1.3.6.1.2.1.33.1.3.3.1.6.0", false, nullptr, nullptr },
        { "GET-NEXT of a column past the last", nullptr, "1.3.6.1.2.1.33.1.3.3.1.6", true, nullptr, nullptr },
        { "GET of a table", nullptr, "1.3.6.1.2.1.33.1.3.3", false, nullptr, nullptr },
        { "GET-NEXT of a table", nullptr, "1.3.6.1.2.1.33.1.3.3", true, "1.3.6.1.2.1.33.1.3.3.1.2.0", "600" },
        { "line count to first cell", nullptr, "1.3.6.1.2.1.33.1.3.2", true, "1.3.6.1.2.1.33.1.3.3.1.2.0", "600" },
        { "last cell to the next group", nullptr, "1.3.6.1.2.1.33.1.3.3.1.5", true, "1.3.6.1.2.1.33.1.4.1.0", "3" },
        { "vendor tables serve column 1", nullptr, "1.3.6.1.4.1.534.1.3.4.1.1.0", false, "1.3.6.1.4.1.534.1.3.4.1.1.0",
            "1" },
        { "vendor table first cell is column 1", nullptr, "1.3.6.1.4.1.534.1.3.3", true, "1.3.6.1.4.1.534.1.3.4.1.1.0",
            "1" },
        { "alarm row by id", nullptr, "1.3.6.1.2.1.33.1.6.2.3.2.0", false, "1.3.6.1.2.1.33.1.6.2.3.2.0",
            "1.3.6.1.2.1.33.1.6.3.3.0" },
        { "alarm id not present", nullptr, "1.3.6.1.2.1.33.1.6.2.5.2.0", false, nullptr, nullptr },
        { "upsAlarmId column is not served", nullptr, "1.3.6.1.2.1.33.1.6.2.7.1.0", false, nullptr, nullptr },
        { "first alarm row is the oldest", nullptr, "1.3.6.1.2.1.33.1.6.1", true, "1.3.6.1.2.1.33.1.6.2.7.2.0",
            "1.3.6.1.2.1.33.1.6.3.2.0" },
        { "alarm rows follow list order", nullptr, "1.3.6.1.2.1.33.1.6.2.7.3", true, "1.3.6.1.2.1.33.1.6.2.3.2.0",
            "1.3.6.1.2.1.33.1.6.3.3.0" },
        { "last alarm cell to upsTestId", nullptr, "1.3.6.1.2.1.33.1.6.2.3.3", true, "1.3.6.1.2.1.33.1.7.1.0",
            "1.3.6.1.2.1.33.1.7.7.1.0" },
        { "vendor alarm id plus 1", nullptr, "1.3.6.1.4.1.534.1.7.2.3.1.0", false, "1.3.6.1.4.1.534.1.7.2.3.1.0", "4" },
        { "event count to the first event", nullptr, "1.3.6.1.4.1.534.1.7.18", true, "1.3.6.1.4.1.534.1.7.19.1.1.0",
            "1" },
        { "event beyond the records", nullptr, "1.3.6.1.4.1.534.1.7.19.3.1.0", false, nullptr, nullptr },
        { "last event cell to the test group", nullptr, "1.3.6.1.4.1.534.1.7.19.2.4", true, "1.3.6.1.4.1.534.1.8.2.0",
            "2" },
    };
    RunReadCases(cases);
}

TEST(MIBTreeReadTest, ValuesThatDependOnTheModel)
{
    const SReadCase cases[] = {
        { "no alarms: alarm count to upsTestId", [](CTestUPS& u) { u.m_alarms.clear(); }, "1.3.6.1.2.1.33.1.6.1", true,
            "1.3.6.1.2.1.33.1.7.1.0", "1.3.6.1.2.1.33.1.7.7.1.0" },
        { "no alarms: alarm table to upsTestId", [](CTestUPS& u) { u.m_alarms.clear(); }, "1.3.6.1.2.1.33.1.6.2", true,
            "1.3.6.1.2.1.33.1.7.1.0", "1.3.6.1.2.1.33.1.7.7.1.0" },
        { "no alarms: vendor alarm count to event count", [](CTestUPS& u) { u.m_alarms.clear(); },
            "1.3.6.1.4.1.534.1.7.1", true, "1.3.6.1.4.1.534.1.7.18.0", "2" },
        { "no events: event count to the test group", [](CTestUPS& u) { u.m_eventRecords.clear(); },
            "1.3.6.1.4.1.534.1.7.18", true, "1.3.6.1.4.1.534.1.8.2.0", "2" },
        { "no bypass lines: the count reads 0", [](CTestUPS& u) { u.m_bypassLineCount = 0; }, "1.3.6.1.2.1.33.1.5.2.0",
            false, "1.3.6.1.2.1.33.1.5.2.0", "0" },
        { "no bypass lines: GET-NEXT into the table", [](CTestUPS& u) { u.m_bypassLineCount = 0; },
            "1.3.6.1.2.1.33.1.5.2", true, nullptr, nullptr },
        { "no bypass lines: GET-NEXT of the table", [](CTestUPS& u) { u.m_bypassLineCount = 0; },
            "1.3.6.1.2.1.33.1.5.3", true, nullptr, nullptr },
        { "no bypass lines: vendor table", [](CTestUPS& u) { u.m_bypassLineCount = 0; }, "1.3.6.1.4.1.534.1.5.2", true,
            nullptr, nullptr },
        { "nine input lines read as six", [](CTestUPS& u) { u.m_inputLineCount = 9; }, "1.3.6.1.2.1.33.1.3.2.0", false,
            "1.3.6.1.2.1.33.1.3.2.0", "6" },
        { "nine input lines: row 6 served",
            [](CTestUPS& u) {
                u.m_inputLineCount = 9;
                u.m_inputLines[5].voltage = 66;
            },
            "1.3.6.1.2.1.33.1.3.3.6.3.0", false, "1.3.6.1.2.1.33.1.3.3.6.3.0", "66" },
        { "nine input lines: row 7 is not", [](CTestUPS& u) { u.m_inputLineCount = 9; }, "1.3.6.1.2.1.33.1.3.3.7.3.0",
            false, nullptr, nullptr },
        { "nine input lines: row 6 is the last", [](CTestUPS& u) { u.m_inputLineCount = 9; },
            "1.3.6.1.2.1.33.1.3.3.6.5", true, "1.3.6.1.2.1.33.1.4.1.0", "3" },
        { "nine output lines, vendor count", [](CTestUPS& u) { u.m_outputLineCount = 9; }, "1.3.6.1.4.1.534.1.4.3.0",
            false, "1.3.6.1.4.1.534.1.4.3.0", "6" },
        { "battery depleted at 0 minutes", [](CTestUPS& u) { u.m_minutesRemaining = 0; }, "1.3.6.1.2.1.33.1.2.1.0",
            false, "1.3.6.1.2.1.33.1.2.1.0", "4" },
        { "0 minutes remaining read 1", [](CTestUPS& u) { u.m_minutesRemaining = 0; }, "1.3.6.1.2.1.33.1.2.3.0", false,
            "1.3.6.1.2.1.33.1.2.3.0", "1" },
        { "battery low at the low battery time", [](CTestUPS& u) { u.m_minutesRemaining = 5; },
            "1.3.6.1.2.1.33.1.2.1.0", false, "1.3.6.1.2.1.33.1.2.1.0", "3" },
        { "battery normal above it without the UPS's alarm",
            [](CTestUPS& u) {
                u.m_minutesRemaining = 6;
                u.m_alarms.clear();
            },
            "1.3.6.1.2.1.33.1.2.1.0", false, "1.3.6.1.2.1.33.1.2.1.0", "2" },
        { "battery low while the UPS reports it, run time or not",
            [](CTestUPS& u) {
                u.m_minutesRemaining = 30;
                u.RaiseAlarm(kUpsAlarmLowBattery);
            },
            "1.3.6.1.2.1.33.1.2.1.0", false, "1.3.6.1.2.1.33.1.2.1.0", "3" },
        { "battery depleted while the UPS reports it",
            [](CTestUPS& u) {
                u.m_minutesRemaining = 30;
                u.RaiseAlarm(kUpsAlarmLowBattery);
                u.RaiseAlarm(kUpsAlarmDepletedBattery);
            },
            "1.3.6.1.2.1.33.1.2.1.0", false, "1.3.6.1.2.1.33.1.2.1.0", "4" },
        { "unknown charge reads 100", [](CTestUPS& u) { u.m_chargeRemaining = 0xFFFFFFFF; }, "1.3.6.1.2.1.33.1.2.4.0",
            false, "1.3.6.1.2.1.33.1.2.4.0", "100" },
        { "output source 0 reads 1", [](CTestUPS& u) { u.m_outputSource = 0; }, "1.3.6.1.2.1.33.1.4.1.0", false,
            "1.3.6.1.2.1.33.1.4.1.0", "1" },
        { "auto restart off", [](CTestUPS& u) { u.m_autoRestartOff = 1; }, "1.3.6.1.2.1.33.1.8.5.0", false,
            "1.3.6.1.2.1.33.1.8.5.0", "2" },
        { "temperature clamped to the vendor bound", [](CTestUPS& u) { u.m_ambientTemperature = 250; },
            "1.3.6.1.4.1.534.1.6.1.0", false, "1.3.6.1.4.1.534.1.6.1.0", "200" },
        { "long manufacturer cut to 31", [](CTestUPS& u) { u.m_manufacturer = std::string(40, 'm'); },
            "1.3.6.1.2.1.33.1.1.1.0", false, "1.3.6.1.2.1.33.1.1.1.0", "mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm" },
        { "running test reports its time so far",
            [](CTestUPS& u) {
                u.m_testResultSummary = 5;
                u.m_testStartTime = 1000250 - 12340;
            },
            "1.3.6.1.2.1.33.1.7.6.0", false, "1.3.6.1.2.1.33.1.7.6.0", "1234" },
        { "scheduled shutdown in seconds", [](CTestUPS& u) { u.m_shutdownDue = CAbstractUPS::Now() + 60000; },
            "1.3.6.1.2.1.33.1.8.2.0", false, "1.3.6.1.2.1.33.1.8.2.0", "60" },
        { "partly elapsed second truncated", [](CTestUPS& u) { u.m_shutdownDue = CAbstractUPS::Now() + 59500; },
            "1.3.6.1.4.1.534.1.9.1.0", false, "1.3.6.1.4.1.534.1.9.1.0", "59" },
        { "startup and reboot share a due time", [](CTestUPS& u) { u.m_startupDue = CAbstractUPS::Now() + 7000; },
            "1.3.6.1.2.1.33.1.8.4.0", false, "1.3.6.1.2.1.33.1.8.4.0", "7" },
        { "finite warning window in seconds", [](CTestUPS& u) { u.m_startupWarningWindow = 90000; },
            "1.3.6.1.4.1.534.1.9.4.0", false, "1.3.6.1.4.1.534.1.9.4.0", "90" },
    };
    RunReadCases(cases);
}

TEST(MIBTreeReadTest, ValuesAreHeldToTheirObjectsBounds)
{
    const SReadCase cases[] = {
        { "output source", [](CTestUPS& u) { u.m_outputSource = 9; }, "1.3.6.1.2.1.33.1.4.1.0", false,
            "1.3.6.1.2.1.33.1.4.1.0", "7" },
        { "percent load", [](CTestUPS& u) { u.m_outputLines[0].percentLoad = 150; }, "1.3.6.1.2.1.33.1.4.4.1.5.0",
            false, "1.3.6.1.2.1.33.1.4.4.1.5.0", "100" },
        { "vendor percent load", [](CTestUPS& u) { u.m_outputLines[0].percentLoad = 150; }, "1.3.6.1.4.1.534.1.4.1.0",
            false, "1.3.6.1.4.1.534.1.4.1.0", "100" },
        { "vendor charge", [](CTestUPS& u) { u.m_chargeRemaining = 101; }, "1.3.6.1.4.1.534.1.2.4.0", false,
            "1.3.6.1.4.1.534.1.2.4.0", "100" },
        { "test summary", [](CTestUPS& u) { u.m_testResultSummary = 8; }, "1.3.6.1.2.1.33.1.7.3.0", false,
            "1.3.6.1.2.1.33.1.7.3.0", "6" },
        { "shutdown type", [](CTestUPS& u) { u.m_shutdownType = 3; }, "1.3.6.1.2.1.33.1.8.1.0", false,
            "1.3.6.1.2.1.33.1.8.1.0", "2" },
        { "audible status", [](CTestUPS& u) { u.m_audibleStatus = 4; }, "1.3.6.1.2.1.33.1.9.8.0", false,
            "1.3.6.1.2.1.33.1.9.8.0", "3" },
        { "battery charge state", [](CTestUPS& u) { u.m_batteryChargeState = 9; }, "1.3.6.1.4.1.534.1.2.5.0", false,
            "1.3.6.1.4.1.534.1.2.5.0", "5" },
        { "vendor test result", [](CTestUPS& u) { u.m_vendorTestResult = 9; }, "1.3.6.1.4.1.534.1.8.2.0", false,
            "1.3.6.1.4.1.534.1.8.2.0", "6" },
        { "low temperature limit", [](CTestUPS& u) { u.m_lowTemperatureLimit = -300; }, "1.3.6.1.4.1.534.1.6.2.0",
            false, "1.3.6.1.4.1.534.1.6.2.0", "-100" },
        { "model text", [](CTestUPS& u) { u.m_model = std::string(70, 'x'); }, "1.3.6.1.2.1.33.1.1.2.0", false,
            "1.3.6.1.2.1.33.1.1.2.0", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx" },
        { "event text", [](CTestUPS& u) { u.m_eventRecords[0].text = std::string(30, 'e'); },
            "1.3.6.1.4.1.534.1.7.19.1.2.0", false, "1.3.6.1.4.1.534.1.7.19.1.2.0", "eeeeeeeeeeeeeeeeeeeeee" },
        { "minutes in seconds", [](CTestUPS& u) { u.m_minutesRemaining = 40000000; }, "1.3.6.1.4.1.534.1.2.1.0", false,
            "1.3.6.1.4.1.534.1.2.1.0", "2147483647" },
        { "vendor alarm id + 1 of the largest id", [](CTestUPS& u) { u.m_alarms[0].id = 2147483647; },
            "1.3.6.1.4.1.534.1.7.2.2147483647.1.0", false, "1.3.6.1.4.1.534.1.7.2.2147483647.1.0", "2147483647" },
    };
    RunReadCases(cases);
}

// A driver replaces one handler; the walk and GET-NEXT of its neighbours use it.
TEST_F(MIBTreeTest, DriverOverrideOfOneHandlerIsUsedEverywhere)
{
    struct CDriver : CTestUPS {
        std::unique_ptr<CMIBData> GetUpsConfig(std::span<const std::uint32_t> arcs, bool next) override
        {
            if (!next && arcs[0] == 8)
                return std::make_unique<CMIBData>(std::uint32_t { 3 }, 3u, MIB_UNSIGNED);
            return CAbstractUPS::GetUpsConfig(arcs, next);
        }
    } driver;
    auto answer = driver.GetMIBData(Name("1.3.6.1.2.1.33.1.9.7").Arcs(), true);
    EXPECT_EQ(answer->GetName()->ToString(), "1.3.6.1.2.1.33.1.9.8.0");
    EXPECT_EQ(ValueText(*answer), "3");
}


// ---- RFC 1628 instance names (SetStandardNames) -----------------------------------------

std::string WireName(const CMIBData& value)
{
    std::string text = "1.3.6.1";
    auto arcs = value.GetInstanceName().empty() ? value.GetName()->Arcs() : value.GetInstanceName();
    for (std::uint32_t arc : arcs)
        text += "." + std::to_string(arc);
    return text;
}

std::vector<std::uint32_t> ExactArcs(const std::string& dotted)
{
    // "1.3.6.1.a.b..." without appending anything.
    std::vector<std::uint32_t> arcs;
    std::stringstream in(dotted.substr(std::string("1.3.6.1").size()));
    std::string part;
    std::getline(in, part, '.');
    while (std::getline(in, part, '.'))
        arcs.push_back(static_cast<std::uint32_t>(std::stoul(part)));
    return arcs;
}

// GET-NEXT from 1.3.6.1 in RFC 1628 naming: wire names and values.
std::vector<std::pair<std::string, std::string>> StandardWalk(CAbstractUPS& ups, std::uint32_t& end)
{
    std::vector<std::pair<std::string, std::string>> steps;
    std::vector<std::uint32_t> name;
    for (int i = 0; i < 1000; ++i) {
        std::unique_ptr<CMIBData> answer;
        end = CodeOf([&] { answer = ups.GetInstance(name, true); });
        if (end != 0)
            break;
        steps.push_back({ WireName(*answer), ValueText(*answer) });
        name = ExactArcs(steps.back().first);
    }
    return steps;
}

TEST_F(MIBTreeTest, StandardWalkServesTheSameValuesInLexicographicOrder)
{
    FillOneLineModel(ups, clock);
    ups.m_inputLineCount = 3;
    ups.m_inputLines[1].voltage = 231;
    ups.m_inputLines[2].voltage = 232;
    std::uint32_t vendorEnd = 0, standardEnd = 0;
    auto vendor = Walk(ups, vendorEnd);
    ups.SetStandardNames(true);
    auto standard = StandardWalk(ups, standardEnd);
    EXPECT_EQ(standardEnd, kNoSuch);
    ASSERT_EQ(standard.size(), vendor.size()) << "every instance once in both namings";

    std::vector<std::vector<std::uint32_t>> names;
    for (const auto& step : standard)
        names.push_back(ExactArcs(step.first));
    EXPECT_TRUE(std::ranges::is_sorted(names, std::ranges::less {}) && std::ranges::adjacent_find(names) == names.end())
        << "a walk must move forward";

    // Column by column, row by row, index columns left out; alarm rows by id.
    const std::pair<const char*, const char*> expected[] = {
        { "1.3.6.1.2.1.33.1.1.1.0", "Maker Co" },
        { "1.3.6.1.2.1.33.1.3.3.1.2.1", nullptr },
        { "1.3.6.1.2.1.33.1.3.3.1.3.1", "230" },
        { "1.3.6.1.2.1.33.1.3.3.1.3.2", "231" },
        { "1.3.6.1.2.1.33.1.3.3.1.3.3", "232" },
        { "1.3.6.1.2.1.33.1.6.2.1.2.3", "1.3.6.1.2.1.33.1.6.3.3.0" },
        { "1.3.6.1.2.1.33.1.6.2.1.2.7", "1.3.6.1.2.1.33.1.6.3.2.0" },
        { "1.3.6.1.4.1.534.1.3.4.1.1.1", "1" },
        { "1.3.6.1.4.1.534.1.3.4.1.1.2", "2" },
    };
    for (const auto& [name, value] : expected) {
        SCOPED_TRACE(name);
        auto found = std::ranges::find(standard, std::string(name), &std::pair<std::string, std::string>::first);
        ASSERT_NE(found, standard.end());
        if (value) {
            EXPECT_EQ(found->second, value);
        }
    }
    EXPECT_EQ(std::ranges::count_if(standard, [](const auto& s) { return s.first.starts_with("1.3.6.1.2.1.33.1.3.3.1.1."); }), 0);
}

TEST(MIBTreeStandardNames, GetSetAndNextOfSingleNames)
{
    struct SCase {
        const char* what;
        const char* name;
        bool next;
        const char* answerName; // null: the code below
        const char* value;
        std::uint32_t code;
    };
    constexpr std::uint32_t kInstance = EVENT_NO_SUCH_INSTANCE;
    const SCase cases[] = {
        { "scalar .0", "1.3.6.1.2.1.33.1.2.1.0", false, "1.3.6.1.2.1.33.1.2.1.0", "3", 0 },
        { "scalar without .0 is no instance", "1.3.6.1.2.1.33.1.2.1", false, nullptr, nullptr, kInstance },
        { "scalar with more arcs is no instance", "1.3.6.1.2.1.33.1.2.1.0.1", false, nullptr, nullptr, kInstance },
        { "GET-NEXT of the object name answers its .0", "1.3.6.1.2.1.33.1.2.1", true, "1.3.6.1.2.1.33.1.2.1.0", "3", 0 },
        { "line 2 named exactly as asked", "1.3.6.1.2.1.33.1.4.4.1.2.2", false, "1.3.6.1.2.1.33.1.4.4.1.2.2", "231", 0 },
        { "line 4 of three", "1.3.6.1.2.1.33.1.3.3.1.3.4", false, nullptr, nullptr, kInstance },
        { "cell with a trailing .0", "1.3.6.1.2.1.33.1.3.3.1.3.1.0", false, nullptr, nullptr, kInstance },
        { "index column is not served", "1.3.6.1.2.1.33.1.3.3.1.1.1", false, nullptr, nullptr, kNoSuch },
        { "the vendor naming's cell name", "1.3.6.1.2.1.33.1.3.3.1.3.0", false, nullptr, nullptr, kInstance },
        { "unknown object", "1.3.6.1.2.1.33.1.2.9.0", false, nullptr, nullptr, kNoSuch },
        { "alarm by its id", "1.3.6.1.2.1.33.1.6.2.1.2.3", false, "1.3.6.1.2.1.33.1.6.2.1.2.3",
            "1.3.6.1.2.1.33.1.6.3.3.0", 0 },
        { "absent alarm id", "1.3.6.1.2.1.33.1.6.2.1.2.4", false, nullptr, nullptr, kInstance },
        { "last row of a column goes on to the next column", "1.3.6.1.2.1.33.1.4.4.1.2.3", true,
            "1.3.6.1.2.1.33.1.4.4.1.3.1", nullptr, 0 },
        { "between two rows", "1.3.6.1.2.1.33.1.6.2.1.2.5", true, "1.3.6.1.2.1.33.1.6.2.1.2.7", nullptr, 0 },
        { "the walk skips forward over unknown arcs", "1.3.6.1.3", true, "1.3.6.1.4.1.534.1.1.1.0", "Maker Co", 0 },
        { "before the first object", "1.3.6.1.2.1.1.1.0", true, "1.3.6.1.2.1.33.1.1.1.0", "Maker Co", 0 },
        { "after the last object", "1.3.6.1.4.1.534.1.10.5.0", true, nullptr, nullptr, kNoSuch },
        { "vendor cell by its own index", "1.3.6.1.4.1.534.1.4.4.1.2.3", false, "1.3.6.1.4.1.534.1.4.4.1.2.3", "232",
            0 },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        CFakeClock clock(1000000);
        CScopedClock scoped(clock);
        CTestUPS ups;
        FillOneLineModel(ups, clock);
        ups.m_inputLineCount = 3;
        ups.m_outputLineCount = 3;
        ups.m_outputLines[1].voltage = 231;
        ups.m_outputLines[2].voltage = 232;
        ups.SetStandardNames(true);
        std::unique_ptr<CMIBData> answer;
        std::uint32_t code = CodeOf([&] { answer = ups.GetInstance(ExactArcs(c.name), c.next); });
        EXPECT_EQ(code, c.code) << std::hex << code;
        if (!c.answerName || code != 0)
            continue;
        EXPECT_EQ(WireName(*answer), c.answerName);
        if (c.value) {
            EXPECT_EQ(ValueText(*answer), c.value);
        }
    }
}

TEST(MIBTreeStandardNames, SetTakesOnlyInstanceNamesAndKeepsTheNameAsked)
{
    struct SCase {
        const char* name;
        std::uint32_t code;
    };
    const SCase cases[] = {
        { "1.3.6.1.2.1.33.1.1.5.0", 0 },
        { "1.3.6.1.2.1.33.1.1.5", EVENT_NO_SUCH_INSTANCE },
        { "1.3.6.1.2.1.33.1.3.3.1.3.1", EVENT_READ_ONLY },
        { "1.3.6.1.2.1.33.1.1.9.0", EVENT_NO_SUCH_OBJECT },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CTestUPS ups;
        ups.SetStandardNames(true);
        CMIBData value(std::string_view("rack 9"), kMIBTextMax, MIB_TEXT);
        value.SetName(COid(ExactArcs(c.name)));
        EXPECT_EQ(CodeOf([&] { ups.SetInstance(ExactArcs(c.name), value); }), c.code);
        if (c.code == 0) {
            EXPECT_EQ(WireName(value), c.name);
            EXPECT_EQ(ups.m_upsName, "rack 9");
        }
    }
}

// ---- The UPS's own settings ----------------------------------------------------------------

// A driver that takes every setting, or refuses them all with `refusal`.
class CSettingsUPS : public CTestUPS {
public:
    void WriteUPSSetting(EUPSSetting setting, const CMIBData&) override
    {
        written.push_back(setting);
        if (refusal != 0)
            throw CPVXException(refusal);
    }
    std::vector<EUPSSetting> written;
    std::uint32_t refusal = 0;
};

TEST(MIBTreeSettings, TheDriverWritesEachSettingBeforeTheModelHoldsIt)
{
    struct SCase {
        const char* name;
        EUPSSetting setting;
        CMIBData value;
        std::function<std::string(const CTestUPS&)> held;
        std::string before; // what the model holds until a write succeeds
        std::string after;
    };
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const CMIBData seven(7, kMin, kMax, MIB_SIGNED);
    const CMIBData minusFive(-5, kMin, kMax, MIB_SIGNED);
    const SCase cases[] = {
        { "1.3.6.1.2.1.33.1.9.3.0", EUPSSetting::OutputVoltage, seven,
            [](const CTestUPS& u) { return std::to_string(u.m_nominalOutputVoltage); }, "0", "7" },
        { "1.3.6.1.2.1.33.1.9.7.0", EUPSSetting::LowBatteryTime, seven,
            [](const CTestUPS& u) { return std::to_string(u.m_lowBatteryTime); }, "0", "7" },
        { "1.3.6.1.2.1.33.1.9.8.0", EUPSSetting::AudibleStatus, CMIBData(3, kMin, kMax, MIB_SIGNED),
            [](const CTestUPS& u) { return std::to_string(u.m_audibleStatus); }, "2", "3" },
        { "1.3.6.1.4.1.534.1.6.2.0", EUPSSetting::LowTemperatureLimit, minusFive,
            [](const CTestUPS& u) { return std::to_string(u.m_lowTemperatureLimit); }, "-100", "-5" },
        { "1.3.6.1.4.1.534.1.6.3.0", EUPSSetting::HighTemperatureLimit, minusFive,
            [](const CTestUPS& u) { return std::to_string(u.m_highTemperatureLimit); }, "200", "-5" },
        { "1.3.6.1.4.1.534.1.10.5.0", EUPSSetting::DateTime,
            CMIBData(std::string_view("01/02/2003:04:05:06"), 255, MIB_TEXT),
            [](const CTestUPS& u) { return u.m_upsDateTime; }, "", "01/02/2003:04:05:06" },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CMIBData value = c.value;
        value.SetName(Name(c.name));

        // The model alone cannot change the UPS.
        CTestUPS model;
        EXPECT_EQ(CodeOf([&] { model.SetMIBData(value); }), EVENT_READ_ONLY);
        EXPECT_EQ(c.held(model), c.before);

        CSettingsUPS refusing;
        refusing.refusal = EVENT_BAD_VALUE;
        EXPECT_EQ(CodeOf([&] { refusing.SetMIBData(value); }), EVENT_BAD_VALUE);
        EXPECT_EQ(c.held(refusing), c.before);

        CSettingsUPS driver;
        EXPECT_EQ(CodeOf([&] { driver.SetMIBData(value); }), 0u);
        EXPECT_EQ(driver.written, std::vector<EUPSSetting> { c.setting });
        EXPECT_EQ(c.held(driver), c.after);
    }
}

} // namespace
} // namespace pvx::test
