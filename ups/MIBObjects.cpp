// The objects of RFC 1628's UPS-MIB, groups 1 to 9 (1.3.6.1.2.1.33.1), and
// the order of the whole walk. One entry per object: arc, name, kind and
// bound, value source, the writer of writable ones, and its meaning.
#include "ups/MIBObjects.h"

#include "platform/Portability.h"

namespace pvx {

using namespace mibobjects;

namespace {

constexpr std::uint32_t kUpsIdentPrefix[] = { 2, 1, 33, 1, 1 };
constexpr std::uint32_t kUpsBatteryPrefix[] = { 2, 1, 33, 1, 2 };
constexpr std::uint32_t kUpsInputPrefix[] = { 2, 1, 33, 1, 3 };
constexpr std::uint32_t kUpsOutputPrefix[] = { 2, 1, 33, 1, 4 };
constexpr std::uint32_t kUpsBypassPrefix[] = { 2, 1, 33, 1, 5 };
constexpr std::uint32_t kUpsAlarmPrefix[] = { 2, 1, 33, 1, 6 };
constexpr std::uint32_t kUpsTestPrefix[] = { 2, 1, 33, 1, 7 };
constexpr std::uint32_t kUpsControlPrefix[] = { 2, 1, 33, 1, 8 };
constexpr std::uint32_t kUpsConfigPrefix[] = { 2, 1, 33, 1, 9 };
// After the UPS-MIB the walk goes on in the vendor MIB.
constexpr std::uint32_t kPrivatePrefix[] = { 4 };

} // namespace

// clang-format off

// upsIdent
const SObject CMIBTree::kUpsIdentObjects[] = {
    RO(1, "upsIdentManufacturer", Text(31), [](const U& u) { return T(u.m_manufacturer); },
       "Manufacturer of the UPS, as the UPS reports it."),
    RO(2, "upsIdentModel", Text(63), [](const U& u) { return T(u.m_model); },
       "Model of the UPS, as the UPS reports it."),
    RO(3, "upsIdentUPSSoftwareVersion", Text(63), [](const U& u) { return T(u.m_upsSoftwareVersion); },
       "Firmware version of the UPS."),
    RO(4, "upsIdentAgentSoftwareVersion", Text(63), [](const U&) { return T("0.1a"); },
       "Version of the agent, a fixed text."),
    RW(5, "upsIdentName", Text(63), [](const U& u) { return T(u.m_upsName); },
       [](U& u, CMIBData& v) { u.WriteIdentText(u.m_upsName, keys::kUPSName, v); },
       "A name for the UPS, free for the administrator. A SET also writes it to the configuration file "
       "(section `UPSIdent`, key `Name`), so it survives a restart; a text with a line break or too long "
       "for one configuration line answers badValue."),
    RW(6, "upsIdentAttachedDevices", Text(63), [](const U& u) { return T(u.m_attachedDevices); },
       [](U& u, CMIBData& v) { u.WriteIdentText(u.m_attachedDevices, keys::kAttachedDevices, v); },
       "The devices the UPS feeds, free text. A SET also writes it to the configuration file "
       "(section `UPSIdent`, key `AttachedDevices`), with the same checks as upsIdentName."),
};
const SGroup CMIBTree::kUpsIdent = { kUpsIdentPrefix, kUpsIdentObjects, kUpsBatteryPrefix,
    "upsIdent", "Identification of the UPS and of the agent." };

// upsBattery
const SObject CMIBTree::kUpsBatteryObjects[] = {
    RO(1, "upsBatteryStatus", Unsigned(), [](const U& u) { return N(u.BatteryStatus()); },
       "2 batteryNormal, 3 batteryLow (the UPS reports a low battery, upsAlarmLowBattery, or the minutes "
       "remaining are at or below upsConfigLowBattTime), 4 batteryDepleted (the UPS reports a depleted "
       "battery, upsAlarmDepletedBattery, or no minutes remain)."),
    RO(2, "upsSecondsOnBattery", Unsigned(), [](const U& u) { return N(u.m_secondsOnBattery); },
       "Seconds the UPS has been running on battery."),
    RO(3, "upsEstimatedMinutesRemaining", Enumerated(), [](const U& u) { return N(u.m_minutesRemaining); },
       "Estimated run time left on battery, in minutes (0 reads 1)."),
    RO(4, "upsEstimatedChargeRemaining", Unsigned(100), [](const U& u) { return N(u.m_chargeRemaining); },
       "Battery charge left, in percent."),
    RO(5, "upsBatteryVoltage", Unsigned(), [](const U& u) { return N(u.m_batteryVoltage); },
       "Battery voltage, in 0.1 V DC."),
    RO(6, "upsBatteryCurrent", Signed(), [](const U& u) { return N(u.m_batteryCurrent); },
       "Battery current, in 0.1 A DC."),
    RO(7, "upsBatteryTemperature", Signed(), [](const U& u) { return N(u.m_batteryTemperature); },
       "Temperature at the battery, in degrees Celsius."),
};
const SGroup CMIBTree::kUpsBattery = { kUpsBatteryPrefix, kUpsBatteryObjects, kUpsInputPrefix,
    "upsBattery", "State of the battery." };

// upsInput; upsInputTable columns 2 to 5 (the index column is not served).
const SColumn CMIBTree::kUpsInputColumns[] = {
    Column(2, "upsInputFrequency", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::frequency>,
           "Input frequency of the line, in 0.1 Hz."),
    Column(3, "upsInputVoltage", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::voltage>,
           "Input voltage of the line, in volts RMS."),
    Column(4, "upsInputCurrent", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::current>,
           "Input current of the line, in 0.1 A RMS."),
    Column(5, "upsInputTruePower", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::truePower>,
           "Input true power of the line, in watts."),
};
const STable CMIBTree::kUpsInputTable = LineTable(LineRows<&U::m_inputLineCount>, kUpsInputColumns);
const SObject CMIBTree::kUpsInputObjects[] = {
    RO(1, "upsInputLineBads", As(EWireForm::Counter32, Unsigned()), [](const U& u) { return N(u.m_inputLineBads); },
       "How often the input has gone out of tolerance."),
    RO(2, "upsInputNumLines", Unsigned(), [](const U& u) { return N(Lines(u.m_inputLineCount)); },
       "Number of input lines: the rows of upsInputTable."),
    Table(3, "upsInputTable", kUpsInputTable,
          "One row per input line; the row number is the line number, 1 to upsInputNumLines."),
};
const SGroup CMIBTree::kUpsInput = { kUpsInputPrefix, kUpsInputObjects, kUpsOutputPrefix,
    "upsInput", "The input (mains) lines." };

// upsOutput
const SColumn CMIBTree::kUpsOutputColumns[] = {
    Column(2, "upsOutputVoltage", Unsigned(), LineCell<&U::m_outputLines, &SOutputLine::voltage>,
           "Output voltage of the line, in volts RMS."),
    Column(3, "upsOutputCurrent", Unsigned(), LineCell<&U::m_outputLines, &SOutputLine::current>,
           "Output current of the line, in 0.1 A RMS."),
    Column(4, "upsOutputPower", Unsigned(), LineCell<&U::m_outputLines, &SOutputLine::power>,
           "Output true power of the line, in watts."),
    Column(5, "upsOutputPercentLoad", Unsigned(100), LineCell<&U::m_outputLines, &SOutputLine::percentLoad>,
           "Load of the line, in percent of the UPS's rated capacity."),
};
const STable CMIBTree::kUpsOutputTable = LineTable(LineRows<&U::m_outputLineCount>, kUpsOutputColumns);
const SObject CMIBTree::kUpsOutputObjects[] = {
    RO(1, "upsOutputSource", Enumerated(7), [](const U& u) { return N(u.m_outputSource); },
       "Where the output comes from: 1 other, 2 none, 3 normal, 4 bypass, 5 battery, 6 booster, 7 reducer."),
    RO(2, "upsOutputFrequency", Unsigned(), [](const U& u) { return N(u.m_outputFrequency); },
       "Output frequency, in 0.1 Hz."),
    RO(3, "upsOutputNumLines", Unsigned(), [](const U& u) { return N(Lines(u.m_outputLineCount)); },
       "Number of output lines: the rows of upsOutputTable."),
    Table(4, "upsOutputTable", kUpsOutputTable,
          "One row per output line; the row number is the line number, 1 to upsOutputNumLines."),
};
const SGroup CMIBTree::kUpsOutput = { kUpsOutputPrefix, kUpsOutputObjects, kUpsBypassPrefix,
    "upsOutput", "The output lines." };

// upsBypass
const SColumn CMIBTree::kUpsBypassColumns[] = {
    Column(2, "upsBypassVoltage", Unsigned(), LineCell<&U::m_bypassLines, &SBypassLine::voltage>,
           "Bypass voltage of the line, in volts RMS."),
    Column(3, "upsBypassCurrent", Unsigned(), LineCell<&U::m_bypassLines, &SBypassLine::current>,
           "Bypass current of the line, in 0.1 A RMS."),
    Column(4, "upsBypassPower", Unsigned(), LineCell<&U::m_bypassLines, &SBypassLine::power>,
           "Bypass true power of the line, in watts."),
};
const STable CMIBTree::kUpsBypassTable = LineTable(LineRows<&U::m_bypassLineCount>, kUpsBypassColumns);
const SObject CMIBTree::kUpsBypassObjects[] = {
    RO(1, "upsBypassFrequency", Unsigned(), [](const U& u) { return N(u.m_bypassFrequency); },
       "Bypass frequency, in 0.1 Hz."),
    RO(2, "upsBypassNumLines", Unsigned(), [](const U& u) { return N(Lines(u.m_bypassLineCount)); },
       "Number of bypass lines: the rows of upsBypassTable."),
    Table(3, "upsBypassTable", kUpsBypassTable,
          "One row per bypass line; the row number is the line number, 1 to upsBypassNumLines."),
};
const SGroup CMIBTree::kUpsBypass = { kUpsBypassPrefix, kUpsBypassObjects, kUpsAlarmPrefix,
    "upsBypass", "The bypass lines." };

// upsAlarm; rows named by upsAlarmId, walked in list order; times are ms clock / 10.
const SColumn CMIBTree::kUpsAlarmColumns[] = {
    Column(2, "upsAlarmDescr", Oid(),
           [](const U& u, std::size_t r) { return O(u.m_alarms[r].descriptor); },
           "What the alarm is: usually one of RFC 1628's well-known alarms under `1.3.6.1.2.1.33.1.6.3`, "
           "such as upsAlarmOnBattery (`1.3.6.1.2.1.33.1.6.3.2`)."),
    Column(3, "upsAlarmTime", As(EWireForm::TimeTicks, NumberText()),
           [](const U& u, std::size_t r) {
               return N(u.m_standardValues ? u.m_alarms[r].upTime : u.m_alarms[r].time / 10);
           },
           "When the alarm was raised: wall-clock milliseconds since 1970, cut to 32 bits, divided by 10 "
           "(the same clock as the time stamps of pvx's traps; not an uptime). With `SNMP/StandardValues` a "
           "TimeStamp: sysUpTime when the alarm was raised."),
};
const STable CMIBTree::kUpsAlarmTable = {[](const U& u) { return u.m_alarms.size(); },
                                         [](const U& u, std::size_t r) { return u.m_alarms[r].id; }, false, false,
                                         kUpsAlarmColumns};
const SObject CMIBTree::kUpsAlarmObjects[] = {
    RO(1, "upsAlarmsPresent", As(EWireForm::Gauge32, Unsigned()),
       [](const U& u) { return N(static_cast<std::int64_t>(u.m_alarms.size())); },
       "Number of alarms present: the rows of upsAlarmTable."),
    Table(2, "upsAlarmTable", kUpsAlarmTable,
          "One row per present alarm, named by its alarm id (upsAlarmId, never 0, kept while the alarm lasts). "
          "GET-NEXT takes the rows oldest alarm first, which need not be the order of the ids."),
};
const SGroup CMIBTree::kUpsAlarm = { kUpsAlarmPrefix, kUpsAlarmObjects, kUpsTestPrefix,
    "upsAlarm", "The alarms present now." };

// upsTest
const SObject CMIBTree::kUpsTestObjects[] = {
    RW(1, "upsTestId", Oid(), [](const U& u) { return O(u.m_testId); },
       [](U& u, CMIBData& v) { u.WriteTestId(v); },
       "The test last started, or upsTestNoTestsInitiated (`1.3.6.1.2.1.33.1.7.7.1`). A SET of one of the "
       "well-known tests `1.3.6.1.2.1.33.1.7.7.N` starts it when the UPS can run it: N = 3 "
       "upsTestGeneralSystemsTest, 4 upsTestQuickBatteryTest, 5 upsTestDeepBatteryCalibration; N = 2 "
       "upsTestAbortTestInProgress aborts the running test. While a test runs, starting another answers "
       "readOnly; a test the UPS cannot run, or any other value, answers badValue."),
    RW(2, "upsTestSpinLock", Unsigned(), [](const U& u) { return N(u.m_testSpinLock); },
       [](U& u, CMIBData& v) { u.WriteTestSpinLock(v); },
       "Spin lock of RFC 1628's test procedure; it goes up by one whenever a test ends. A SET answers "
       "badValue while a test runs and is otherwise taken without the test-and-increment check. With "
       "`SNMP/StandardValues` a TestAndIncr: a SET of any other value than the present one answers "
       "inconsistentValue, a SET of the present one (with upsTestId in the same request) goes up by one."),
    RO(3, "upsTestResultsSummary", Enumerated(6), [](const U& u) { return N(u.m_testResultSummary); },
       "Result of the last test: 1 donePass, 2 doneWarning, 3 doneError, 4 aborted, 5 inProgress, "
       "6 noTestsInitiated."),
    RO(4, "upsTestResultsDetail", Text(255), [](const U& u) { return T(u.m_testResultDetail); },
       "Details of the last test's result, as text."),
    RO(5, "upsTestStartTime", As(EWireForm::TimeTicks, Unsigned()),
       [](const U& u) { return N(u.m_standardValues ? u.m_testStartUpTime : u.m_testStartTime / 10); },
       "When the last test started, on the clock of upsAlarmTime (wall-clock milliseconds, cut to 32 bits, "
       "divided by 10; with `SNMP/StandardValues` a TimeStamp on sysUpTime)."),
    RO(6, "upsTestElapsedTime", Unsigned(), [](const U& u) {
           // A running test reports its time so far.
           return N(u.m_testResultSummary == 5 ? (GetMilliseconds() - u.m_testStartTime) / 10
                                               : u.m_testElapsedTime / 10);
       },
       "How long the last test ran, in 0.01 s; while a test runs, the time so far."),
};
const SGroup CMIBTree::kUpsTest = { kUpsTestPrefix, kUpsTestObjects, kUpsControlPrefix,
    "upsTest", "Tests of the UPS and their results." };

// upsControl
const SObject CMIBTree::kUpsControlObjects[] = {
    RW(1, "upsShutdownType", Enumerated(2), [](const U& u) { return N(u.m_shutdownType); },
       [](U& u, CMIBData& v) { u.WriteShutdownType(v); },
       "What a shutdown switches off: 1 output, 2 system. A SET of a type the UPS cannot shut down answers "
       "badValue."),
    RW(2, "upsShutdownAfterDelay", Seconds(), [](const U& u) { return N(SecondsUntil(u.m_shutdownDue)); },
       [](U& u, CMIBData& v) { u.WriteShutdownAfterDelay(v); },
       "Seconds until the scheduled shutdown, -1 when none is scheduled. A SET of n (0 or more) shuts the UPS "
       "down, as upsShutdownType says, n seconds from now; -1 cancels the scheduled shutdown (badValue when "
       "none is scheduled); other values answer badValue. readOnly when the UPS cannot shut down that way."),
    RW(3, "upsStartupAfterDelay", Seconds(), [](const U& u) { return N(SecondsUntil(u.m_startupDue)); },
       [](U& u, CMIBData& v) { u.WriteStartupAfterDelay(v); },
       "Seconds until the scheduled startup, -1 when none is scheduled. A SET of n (0 or more) starts the UPS "
       "n seconds from now; -1 cancels the scheduled startup (badValue when none is scheduled); other values "
       "answer badValue. readOnly when the UPS cannot be started this way."),
    RW(4, "upsRebootWithDuration", Seconds(), [](const U& u) { return N(SecondsUntil(u.m_startupDue)); },
       [](U& u, CMIBData& v) { u.WriteRebootWithDuration(v); },
       "Seconds until the UPS comes back after a reboot, -1 when none is under way (the same time as "
       "upsStartupAfterDelay). A SET of n (1 or more) switches the UPS off and back on n seconds later; "
       "other values answer badValue. readOnly when the UPS cannot shut down as upsShutdownType says or "
       "cannot reboot."),
    RO(5, "upsAutoRestart", Enumerated(2), [](const U& u) { return N(u.m_autoRestartOff == 0 ? 1 : 2); },
       "Whether the UPS starts again by itself once the input returns: 1 on, 2 off."),
};
const SGroup CMIBTree::kUpsControl = { kUpsControlPrefix, kUpsControlObjects, kUpsConfigPrefix,
    "upsControl", "Shutting the UPS down, starting it up and rebooting it." };

// upsConfig; the output voltage, the low-battery time and the audible status
// are the UPS's own settings, written through its driver.
const SObject CMIBTree::kUpsConfigObjects[] = {
    RO(1, "upsConfigInputVoltage", Unsigned(), [](const U& u) { return N(u.m_nominalInputVoltage); },
       "Nominal input voltage, in volts RMS."),
    RO(2, "upsConfigInputFreq", Unsigned(), [](const U& u) { return N(u.m_nominalInputFrequency); },
       "Nominal input frequency, in 0.1 Hz."),
    RW(3, "upsConfigOutputVoltage", Unsigned(), [](const U& u) { return N(u.m_nominalOutputVoltage); },
       WriteSetting<EUPSSetting::OutputVoltage, &U::m_nominalOutputVoltage>,
       "Nominal output voltage, in volts RMS. With the XCP driver a SET writes it to the UPS "
       "(badValue outside 0..65535)."),
    RO(4, "upsConfigOutputFreq", Unsigned(), [](const U& u) { return N(u.m_nominalOutputFrequency); },
       "Nominal output frequency, in 0.1 Hz."),
    RO(5, "upsConfigOutputVA", Unsigned(), [](const U& u) { return N(u.m_nominalOutputVA); },
       "Nominal output apparent power, in volt-amperes."),
    RO(6, "upsConfigOutputPower", Unsigned(), [](const U& u) { return N(u.m_nominalOutputPower); },
       "Nominal output true power, in watts."),
    RW(7, "upsConfigLowBattTime", Unsigned(), [](const U& u) { return N(u.m_lowBatteryTime); },
       WriteSetting<EUPSSetting::LowBatteryTime, &U::m_lowBatteryTime>,
       "Minutes of run time left at which the battery counts as low (upsBatteryStatus 3). With the XCP "
       "driver a SET writes it to the UPS (badValue outside 0..65535)."),
    RW(8, "upsConfigAudibleStatus", UnsignedRange(1, 3), [](const U& u) { return N(u.m_audibleStatus); },
       WriteSetting<EUPSSetting::AudibleStatus, &U::m_audibleStatus>,
       "The UPS's audible alarm: 1 disabled, 2 enabled, 3 muted. With the XCP driver a SET writes it to "
       "the UPS."),
    RO(9, "upsConfigLowVoltageTransferPoint", Unsigned(), [](const U& u) { return N(u.m_lowTransferVoltage); },
       "Input voltage below which the UPS goes to battery, in volts RMS."),
    RO(10, "upsConfigHighVoltageTransferPoint", Unsigned(), [](const U& u) { return N(u.m_highTransferVoltage); },
       "Input voltage above which the UPS goes to battery, in volts RMS."),
};
const SGroup CMIBTree::kUpsConfig = { kUpsConfigPrefix, kUpsConfigObjects, kPrivatePrefix,
    "upsConfig", "Nominal values and settings of the UPS." };

// clang-format on

namespace {
const SGroup* const kAllGroups[] = { &CMIBTree::kUpsIdent, &CMIBTree::kUpsBattery, &CMIBTree::kUpsInput,
    &CMIBTree::kUpsOutput, &CMIBTree::kUpsBypass, &CMIBTree::kUpsAlarm, &CMIBTree::kUpsTest, &CMIBTree::kUpsControl,
    &CMIBTree::kUpsConfig, &CMIBTree::kVendorIdent, &CMIBTree::kVendorBattery, &CMIBTree::kVendorInput,
    &CMIBTree::kVendorOutput, &CMIBTree::kVendorBypass, &CMIBTree::kVendorEnvironment, &CMIBTree::kVendorAlarm,
    &CMIBTree::kVendorTest, &CMIBTree::kVendorControl, &CMIBTree::kVendorConfig };
} // namespace

std::span<const SGroup* const> CMIBTree::AllGroups()
{
    return kAllGroups;
}

} // namespace pvx
