// The objects of the vendor UPS MIB, groups 1 to 10 (1.3.6.1.4.1.534.1). One
// entry per object: arc, name, kind and bound, value source, the writer of
// writable ones, and its meaning. Table cells are named table.row.column.0,
// and the tables serve column 1 (the row number, or alarm id + 1).
#include "ups/MIBObjects.h"

namespace pvx {

using namespace mibobjects;

namespace {

constexpr std::uint32_t kVendorIdentPrefix[] = { 4, 1, 534, 1, 1 };
constexpr std::uint32_t kVendorBatteryPrefix[] = { 4, 1, 534, 1, 2 };
constexpr std::uint32_t kVendorInputPrefix[] = { 4, 1, 534, 1, 3 };
constexpr std::uint32_t kVendorOutputPrefix[] = { 4, 1, 534, 1, 4 };
constexpr std::uint32_t kVendorBypassPrefix[] = { 4, 1, 534, 1, 5 };
constexpr std::uint32_t kVendorEnvironmentPrefix[] = { 4, 1, 534, 1, 6 };
constexpr std::uint32_t kVendorAlarmPrefix[] = { 4, 1, 534, 1, 7 };
constexpr std::uint32_t kVendorTestPrefix[] = { 4, 1, 534, 1, 8 };
constexpr std::uint32_t kVendorControlPrefix[] = { 4, 1, 534, 1, 9 };
constexpr std::uint32_t kVendorConfigPrefix[] = { 4, 1, 534, 1, 10 };
constexpr std::span<const std::uint32_t> kEndOfWalk {};

// Column 1 of the line tables: the row number.
SMIBValue RowNumber(const U&, std::size_t r)
{
    return N(static_cast<std::int64_t>(r + 1));
}

} // namespace

// clang-format off

const SObject CMIBTree::kVendorIdentObjects[] = {
    RO(1, "extIdentManufacturer", Text(31), [](const U& u) { return T(u.m_manufacturer); },
       "Manufacturer of the UPS (as upsIdentManufacturer)."),
    RO(2, "extIdentModel", Text(63), [](const U& u) { return T(u.m_model); },
       "Model of the UPS (as upsIdentModel)."),
    RO(3, "extIdentSoftwareVersion", Text(63), [](const U& u) { return T(u.m_upsSoftwareVersion); },
       "Firmware version of the UPS (as upsIdentUPSSoftwareVersion)."),
};
const SGroup CMIBTree::kVendorIdent = { kVendorIdentPrefix, kVendorIdentObjects, kVendorBatteryPrefix,
    "extIdent", "Identification of the UPS: the values of upsIdent." };

const SObject CMIBTree::kVendorBatteryObjects[] = {
    RO(1, "extBatterySecondsRemaining", Unsigned(),
       [](const U& u) { return N(std::int64_t{u.m_minutesRemaining} * 60); },
       "Estimated run time left on battery, in seconds: the minutes remaining times 60."),
    RO(2, "extBatteryVoltage", Unsigned(), [](const U& u) { return N(u.m_batteryVoltage / 10); },
       "Battery voltage, in whole volts DC."),
    RO(3, "extBatteryCurrent", Signed(), [](const U& u) { return N(u.m_batteryCurrent / 10); },
       "Battery current, in whole amperes, cut toward zero."),
    RO(4, "extBatteryChargeRemaining", Unsigned(100), [](const U& u) { return N(u.m_chargeRemaining); },
       "Battery charge left, in percent."),
    RO(5, "extBatteryChargeState", Enumerated(5), [](const U& u) { return N(u.m_batteryChargeState); },
       "Charging state of the battery, 1 to 5, as the UPS reports it; 5 when the UPS reports none."),
};
const SGroup CMIBTree::kVendorBattery = { kVendorBatteryPrefix, kVendorBatteryObjects, kVendorInputPrefix,
    "extBattery", "State of the battery." };

const SColumn CMIBTree::kVendorInputColumns[] = {
    Column(1, "extInputLine", Unsigned(6), RowNumber,
           "The line number (the row)."),
    Column(2, "extInputVoltage", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::voltage>,
           "Input voltage of the line, in volts RMS."),
    Column(3, "extInputCurrent", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::current, 10>,
           "Input current of the line, in whole amperes RMS."),
    Column(4, "extInputWatts", Unsigned(), LineCell<&U::m_inputLines, &SInputLine::truePower>,
           "Input true power of the line, in watts."),
};
const STable CMIBTree::kVendorInputTable = LineTable(LineRows<&U::m_inputLineCount>, kVendorInputColumns);
const SObject CMIBTree::kVendorInputObjects[] = {
    RO(1, "extInputFrequency", Unsigned(), [](const U& u) { return N(u.m_inputLines[0].frequency); },
       "Input frequency of line 1, in 0.1 Hz."),
    RO(2, "extInputLineBads", Unsigned(), [](const U& u) { return N(u.m_inputLineBads); },
       "How often the input has gone out of tolerance."),
    RO(3, "extInputNumLines", Unsigned(), [](const U& u) { return N(Lines(u.m_inputLineCount)); },
       "Number of input lines: the rows of extInputTable."),
    Table(4, "extInputTable", kVendorInputTable,
          "One row per input line; the row number is the line number, 1 to extInputNumLines."),
};
const SGroup CMIBTree::kVendorInput = { kVendorInputPrefix, kVendorInputObjects, kVendorOutputPrefix,
    "extInput", "The input (mains) lines." };

const SColumn CMIBTree::kVendorOutputColumns[] = {
    Column(1, "extOutputLine", Unsigned(6), RowNumber,
           "The line number (the row)."),
    Column(2, "extOutputVoltage", Unsigned(), LineCell<&U::m_outputLines, &SOutputLine::voltage>,
           "Output voltage of the line, in volts RMS."),
    Column(3, "extOutputCurrent", Unsigned(), LineCell<&U::m_outputLines, &SOutputLine::current, 10>,
           "Output current of the line, in whole amperes RMS."),
    Column(4, "extOutputWatts", Unsigned(), LineCell<&U::m_outputLines, &SOutputLine::power>,
           "Output true power of the line, in watts."),
};
const STable CMIBTree::kVendorOutputTable = LineTable(LineRows<&U::m_outputLineCount>, kVendorOutputColumns);
const SObject CMIBTree::kVendorOutputObjects[] = {
    RO(1, "extOutputLoad", Unsigned(100), [](const U& u) { return N(u.m_outputLines[0].percentLoad); },
       "Load of output line 1, in percent of the rated capacity."),
    RO(2, "extOutputFrequency", Unsigned(), [](const U& u) { return N(u.m_outputFrequency); },
       "Output frequency, in 0.1 Hz."),
    RO(3, "extOutputNumLines", Unsigned(), [](const U& u) { return N(Lines(u.m_outputLineCount)); },
       "Number of output lines: the rows of extOutputTable."),
    Table(4, "extOutputTable", kVendorOutputTable,
          "One row per output line; the row number is the line number, 1 to extOutputNumLines."),
};
const SGroup CMIBTree::kVendorOutput = { kVendorOutputPrefix, kVendorOutputObjects, kVendorBypassPrefix,
    "extOutput", "The output lines." };

const SColumn CMIBTree::kVendorBypassColumns[] = {
    Column(1, "extBypassLine", Unsigned(6), RowNumber,
           "The line number (the row)."),
    Column(2, "extBypassVoltage", Unsigned(), LineCell<&U::m_bypassLines, &SBypassLine::voltage>,
           "Bypass voltage of the line, in volts RMS."),
};
const STable CMIBTree::kVendorBypassTable = LineTable(LineRows<&U::m_bypassLineCount>, kVendorBypassColumns);
const SObject CMIBTree::kVendorBypassObjects[] = {
    RO(1, "extBypassFrequency", Unsigned(), [](const U& u) { return N(u.m_bypassFrequency); },
       "Bypass frequency, in 0.1 Hz."),
    RO(2, "extBypassNumLines", Unsigned(), [](const U& u) { return N(Lines(u.m_bypassLineCount)); },
       "Number of bypass lines: the rows of extBypassTable."),
    Table(3, "extBypassTable", kVendorBypassTable,
          "One row per bypass line; the row number is the line number, 1 to extBypassNumLines."),
};
const SGroup CMIBTree::kVendorBypass = { kVendorBypassPrefix, kVendorBypassObjects, kVendorEnvironmentPrefix,
    "extBypass", "The bypass lines." };

// Environment; the limits are the UPS's own settings, written through its driver.
const SObject CMIBTree::kVendorEnvironmentObjects[] = {
    RO(1, "extEnvironmentTemperature", Signed(-100, 200), [](const U& u) { return N(u.m_ambientTemperature); },
       "Ambient temperature, in degrees Celsius."),
    RW(2, "extEnvironmentLowLimit", Signed(-100, 200), [](const U& u) { return N(u.m_lowTemperatureLimit); },
       WriteSetting<EUPSSetting::LowTemperatureLimit, &U::m_lowTemperatureLimit>,
       "Lower limit of the ambient temperature, in degrees Celsius. With the XCP driver a SET writes it to "
       "the UPS (badValue outside -32768..32767)."),
    RW(3, "extEnvironmentHighLimit", Signed(-100, 200), [](const U& u) { return N(u.m_highTemperatureLimit); },
       WriteSetting<EUPSSetting::HighTemperatureLimit, &U::m_highTemperatureLimit>,
       "Upper limit of the ambient temperature, in degrees Celsius. With the XCP driver a SET writes it to "
       "the UPS (badValue outside -32768..32767)."),
};
const SGroup CMIBTree::kVendorEnvironment = { kVendorEnvironmentPrefix, kVendorEnvironmentObjects, kVendorAlarmPrefix,
    "extEnvironment", "Temperature around the UPS and its limits." };

// Alarms (rows by id, column 1 = id + 1) and the UPS's event log (rows 1..n).
const SColumn CMIBTree::kVendorAlarmColumns[] = {
    Column(1, "extAlarmNumber", Unsigned(),
           [](const U& u, std::size_t r) { return N(std::int64_t{u.m_alarms[r].id} + 1); },
           "The alarm id plus 1."),
    Column(2, "extAlarmDescr", Oid(), [](const U& u, std::size_t r) { return O(u.m_alarms[r].descriptor); },
           "What the alarm is (as upsAlarmDescr)."),
    Column(3, "extAlarmTime", NumberText(), [](const U& u, std::size_t r) { return N(u.m_alarms[r].time / 10); },
           "When the alarm was raised (as upsAlarmTime)."),
};
const STable CMIBTree::kVendorAlarmTable = {[](const U& u) { return u.m_alarms.size(); },
                                            [](const U& u, std::size_t r) { return u.m_alarms[r].id; }, false, false,
                                            kVendorAlarmColumns};
const SColumn CMIBTree::kVendorEventColumns[] = {
    Column(1, "extEventNumber", Unsigned(), RowNumber,
           "The entry's number (the row)."),
    Column(2, "extEventTime", Text(22), [](const U& u, std::size_t r) { return T(u.m_eventRecords[r].text); },
           "When the event happened, by the UPS's clock, as MM/DD/YYYY:hh:mm:ss."),
    Column(3, "extEventState", Signed(), [](const U& u, std::size_t r) { return N(u.m_eventRecords[r].state); },
           "State of the event as the UPS logged it (with the XCP driver: 1 when the entry's flag bit is set, "
           "else 2)."),
    Column(4, "extEventCode", Unsigned(), [](const U& u, std::size_t r) { return N(u.m_eventRecords[r].code); },
           "Code of the event as the UPS logged it."),
};
const STable CMIBTree::kVendorEventTable = {[](const U& u) { return u.m_eventRecords.size(); }, NumberedRow, true,
                                            false, kVendorEventColumns};
const SObject CMIBTree::kVendorAlarmObjects[] = {
    RO(1, "extAlarmsPresent", Unsigned(), [](const U& u) { return N(static_cast<std::int64_t>(u.m_alarms.size())); },
       "Number of alarms present: the rows of extAlarmTable."),
    Table(2, "extAlarmTable", kVendorAlarmTable,
          "The alarms of upsAlarmTable again, rows named by the same alarm ids and walked in the same order "
          "(oldest first)."),
    RO(18, "extEventCount", Unsigned(),
       [](const U& u) { return N(static_cast<std::int64_t>(u.m_eventRecords.size())); },
       "Number of entries of the UPS's event log: the rows of extEventTable."),
    Table(19, "extEventTable", kVendorEventTable,
          "The UPS's event log as last read from the UPS, one row per entry in the order the UPS gave them."),
};
const SGroup CMIBTree::kVendorAlarm = { kVendorAlarmPrefix, kVendorAlarmObjects, kVendorTestPrefix,
    "extAlarm", "The alarms present now, and the UPS's event log." };

const SObject CMIBTree::kVendorTestObjects[] = {
    WO(1, "extTestQuickBattery", [](U& u, CMIBData& v) { u.WriteVendorQuickTest(v); },
       "A SET of any value starts a quick battery test, even while another test runs, and sets upsTestId "
       "to upsTestQuickBatteryTest; badValue when the UPS cannot run it."),
    RO(2, "extTestResult", Unsigned(6), [](const U& u) { return N(u.m_vendorTestResult); },
       "Result of the last battery test, 1 to 6, as the UPS reports it."),
};
const SGroup CMIBTree::kVendorTest = { kVendorTestPrefix, kVendorTestObjects, kVendorControlPrefix,
    "extTest", "Battery test." };

// Control: delays in seconds (0 cancels), warning windows in seconds (-1 unlimited).
const SObject CMIBTree::kVendorControlObjects[] = {
    RW(1, "extControlShutdownDelay", Seconds(), [](const U& u) { return N(SecondsUntil(u.m_shutdownDue)); },
       [](U& u, CMIBData& v) { u.WriteVendorShutdown(v); },
       "Seconds until the scheduled shutdown, -1 when none is scheduled (as upsShutdownAfterDelay). A SET "
       "of n (1 or more) switches the output off n seconds from now and sets upsShutdownType to output; 0 "
       "cancels the scheduled shutdown; badValue when nothing is there to cancel, for a negative value, or "
       "when the UPS cannot switch its output off."),
    RW(2, "extControlStartupDelay", Seconds(), [](const U& u) { return N(SecondsUntil(u.m_startupDue)); },
       [](U& u, CMIBData& v) { u.WriteVendorStartup(v); },
       "Seconds until the scheduled startup, -1 when none is scheduled (as upsStartupAfterDelay). A SET of n "
       "(1 or more) starts the UPS n seconds from now; 0 cancels the scheduled startup; badValue when "
       "nothing is there to cancel, for a negative value, or when the UPS cannot be started this way."),
    RW(3, "extControlShutdownWarning", Seconds(),
       [](const U& u) { return N(WindowSeconds(u.m_shutdownWarningWindow)); },
       [](U& u, CMIBData& v) { u.WriteWarningWindow(u.m_shutdownWarningWindow, v); },
       "Window of the shutdown warning trap, in seconds; -1 (the default) is unlimited: the warning goes out "
       "as soon as a shutdown is scheduled. A SET takes -1 or more."),
    RW(4, "extControlStartupWarning", Seconds(),
       [](const U& u) { return N(WindowSeconds(u.m_startupWarningWindow)); },
       [](U& u, CMIBData& v) { u.WriteWarningWindow(u.m_startupWarningWindow, v); },
       "Window of the startup warning trap, in seconds; -1 (the default) is unlimited. A SET takes -1 or "
       "more."),
    RW(5, "extControlTimedCommandDelay", Seconds(), [](const U& u) { return N(SecondsUntil(u.m_timedCommandDue)); },
       [](U& u, CMIBData& v) { u.WriteVendorTimedCommand(v); },
       "Seconds until the UPS's timed command is sent, -1 when none is scheduled. A SET of n (1 or more) "
       "schedules it n seconds from now; 0 cancels it; badValue when nothing is there to cancel, for a "
       "negative value, or when the UPS has no timed command."),
};
const SGroup CMIBTree::kVendorControl = { kVendorControlPrefix, kVendorControlObjects, kVendorConfigPrefix,
    "extControl", "Timed shutdown, startup and command of the UPS, with 0 to cancel, and the windows of the warning "
                  "traps." };

// Configuration; the UPS's clock is its own setting, written through its driver.
const SObject CMIBTree::kVendorConfigObjects[] = {
    RO(1, "extConfigOutputVoltage", Unsigned(), [](const U& u) { return N(u.m_nominalOutputVoltage); },
       "Nominal output voltage, in volts RMS."),
    RO(2, "extConfigInputVoltage", Unsigned(), [](const U& u) { return N(u.m_nominalInputVoltage); },
       "Nominal input voltage, in volts RMS."),
    RO(3, "extConfigOutputPower", Unsigned(), [](const U& u) { return N(u.m_nominalOutputPower); },
       "Nominal output true power, in watts."),
    RO(4, "extConfigOutputFrequency", Unsigned(), [](const U& u) { return N(u.m_nominalOutputFrequency); },
       "Nominal output frequency, in 0.1 Hz."),
    RW(5, "extConfigDateTime", Text(255), [](const U& u) { return T(u.m_upsDateTime); },
       WriteSetting<EUPSSetting::DateTime, &U::m_upsDateTime>,
       "Date and time of the UPS's clock, as MM/DD/YYYY:hh:mm:ss. With the XCP driver a SET in that form "
       "sets the UPS's clock; any other text answers badValue."),
};
const SGroup CMIBTree::kVendorConfig = { kVendorConfigPrefix, kVendorConfigObjects, kEndOfWalk,
    "extConfig", "Nominal values and the UPS's clock." };

// clang-format on

} // namespace pvx
