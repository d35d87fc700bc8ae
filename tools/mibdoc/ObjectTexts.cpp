// Names and meanings of the served nodes, keyed by OID (see SObjectText).
// Numbers, types, access and ranges are not written here: the generator takes
// them from the object tables. An object added to the tables needs a line
// here, and a line here needs its object, or the generator refuses to run.
#include "tools/mibdoc/ObjectTexts.h"

namespace pvx::mibdoc {

namespace {

// Units: voltages in volts RMS unless told otherwise, currents in 0.1 A,
// frequencies in 0.1 Hz, powers in watts, as the UPS-MIB has them.
constexpr SObjectText kTexts[] = {
    // ---- UPS-MIB (RFC 1628) ------------------------------------------------------------------
    { "1.3.6.1.2.1.33.1", "UPS-MIB (RFC 1628), upsObjects",
        "The standard UPS objects, served for every UPS pvx drives." },

    { "1.3.6.1.2.1.33.1.1", "upsIdent", "Identification of the UPS and of the agent." },
    { "1.3.6.1.2.1.33.1.1.1", "upsIdentManufacturer", "Manufacturer of the UPS, as the UPS reports it." },
    { "1.3.6.1.2.1.33.1.1.2", "upsIdentModel", "Model of the UPS, as the UPS reports it." },
    { "1.3.6.1.2.1.33.1.1.3", "upsIdentUPSSoftwareVersion", "Firmware version of the UPS." },
    { "1.3.6.1.2.1.33.1.1.4", "upsIdentAgentSoftwareVersion", "Version of the agent, a fixed text." },
    { "1.3.6.1.2.1.33.1.1.5", "upsIdentName",
        "A name for the UPS, free for the administrator. A SET also writes it to the configuration file "
        "(section `UPSIdent`, key `Name`), so it survives a restart; a text with a line break or too long "
        "for one configuration line answers badValue." },
    { "1.3.6.1.2.1.33.1.1.6", "upsIdentAttachedDevices",
        "The devices the UPS feeds, free text. A SET also writes it to the configuration file "
        "(section `UPSIdent`, key `AttachedDevices`), with the same checks as upsIdentName." },

    { "1.3.6.1.2.1.33.1.2", "upsBattery", "State of the battery." },
    { "1.3.6.1.2.1.33.1.2.1", "upsBatteryStatus",
        "2 batteryNormal, 3 batteryLow (minutes remaining at or below upsConfigLowBattTime), "
        "4 batteryDepleted (no minutes remaining)." },
    { "1.3.6.1.2.1.33.1.2.2", "upsSecondsOnBattery", "Seconds the UPS has been running on battery." },
    { "1.3.6.1.2.1.33.1.2.3", "upsEstimatedMinutesRemaining",
        "Estimated run time left on battery, in minutes (0 reads 1)." },
    { "1.3.6.1.2.1.33.1.2.4", "upsEstimatedChargeRemaining", "Battery charge left, in percent." },
    { "1.3.6.1.2.1.33.1.2.5", "upsBatteryVoltage", "Battery voltage, in 0.1 V DC." },
    { "1.3.6.1.2.1.33.1.2.6", "upsBatteryCurrent", "Battery current, in 0.1 A DC." },
    { "1.3.6.1.2.1.33.1.2.7", "upsBatteryTemperature", "Temperature at the battery, in degrees Celsius." },

    { "1.3.6.1.2.1.33.1.3", "upsInput", "The input (mains) lines." },
    { "1.3.6.1.2.1.33.1.3.1", "upsInputLineBads", "How often the input has gone out of tolerance." },
    { "1.3.6.1.2.1.33.1.3.2", "upsInputNumLines", "Number of input lines: the rows of upsInputTable." },
    { "1.3.6.1.2.1.33.1.3.3", "upsInputTable",
        "One row per input line; the row number is the line number, 1 to upsInputNumLines." },
    { "1.3.6.1.2.1.33.1.3.3.*.2", "upsInputFrequency", "Input frequency of the line, in 0.1 Hz." },
    { "1.3.6.1.2.1.33.1.3.3.*.3", "upsInputVoltage", "Input voltage of the line, in volts RMS." },
    { "1.3.6.1.2.1.33.1.3.3.*.4", "upsInputCurrent", "Input current of the line, in 0.1 A RMS." },
    { "1.3.6.1.2.1.33.1.3.3.*.5", "upsInputTruePower", "Input true power of the line, in watts." },

    { "1.3.6.1.2.1.33.1.4", "upsOutput", "The output lines." },
    { "1.3.6.1.2.1.33.1.4.1", "upsOutputSource",
        "Where the output comes from: 1 other, 2 none, 3 normal, 4 bypass, 5 battery, 6 booster, 7 reducer." },
    { "1.3.6.1.2.1.33.1.4.2", "upsOutputFrequency", "Output frequency, in 0.1 Hz." },
    { "1.3.6.1.2.1.33.1.4.3", "upsOutputNumLines", "Number of output lines: the rows of upsOutputTable." },
    { "1.3.6.1.2.1.33.1.4.4", "upsOutputTable",
        "One row per output line; the row number is the line number, 1 to upsOutputNumLines." },
    { "1.3.6.1.2.1.33.1.4.4.*.2", "upsOutputVoltage", "Output voltage of the line, in volts RMS." },
    { "1.3.6.1.2.1.33.1.4.4.*.3", "upsOutputCurrent", "Output current of the line, in 0.1 A RMS." },
    { "1.3.6.1.2.1.33.1.4.4.*.4", "upsOutputPower", "Output true power of the line, in watts." },
    { "1.3.6.1.2.1.33.1.4.4.*.5", "upsOutputPercentLoad", "Load of the line, in percent of the UPS's rated capacity." },

    { "1.3.6.1.2.1.33.1.5", "upsBypass", "The bypass lines." },
    { "1.3.6.1.2.1.33.1.5.1", "upsBypassFrequency", "Bypass frequency, in 0.1 Hz." },
    { "1.3.6.1.2.1.33.1.5.2", "upsBypassNumLines", "Number of bypass lines: the rows of upsBypassTable." },
    { "1.3.6.1.2.1.33.1.5.3", "upsBypassTable",
        "One row per bypass line; the row number is the line number, 1 to upsBypassNumLines." },
    { "1.3.6.1.2.1.33.1.5.3.*.2", "upsBypassVoltage", "Bypass voltage of the line, in volts RMS." },
    { "1.3.6.1.2.1.33.1.5.3.*.3", "upsBypassCurrent", "Bypass current of the line, in 0.1 A RMS." },
    { "1.3.6.1.2.1.33.1.5.3.*.4", "upsBypassPower", "Bypass true power of the line, in watts." },

    { "1.3.6.1.2.1.33.1.6", "upsAlarm", "The alarms present now." },
    { "1.3.6.1.2.1.33.1.6.1", "upsAlarmsPresent", "Number of alarms present: the rows of upsAlarmTable." },
    { "1.3.6.1.2.1.33.1.6.2", "upsAlarmTable",
        "One row per present alarm, named by its alarm id (upsAlarmId, never 0, kept while the alarm lasts). "
        "GET-NEXT takes the rows oldest alarm first, which need not be the order of the ids." },
    { "1.3.6.1.2.1.33.1.6.2.*.2", "upsAlarmDescr",
        "What the alarm is: usually one of RFC 1628's well-known alarms under `1.3.6.1.2.1.33.1.6.3`, "
        "such as upsAlarmOnBattery (`1.3.6.1.2.1.33.1.6.3.2`)." },
    { "1.3.6.1.2.1.33.1.6.2.*.3", "upsAlarmTime",
        "When the alarm was raised: wall-clock milliseconds since 1970, cut to 32 bits, divided by 10 "
        "(the same clock as the time stamps of pvx's traps; not an uptime)." },

    { "1.3.6.1.2.1.33.1.7", "upsTest", "Tests of the UPS and their results." },
    { "1.3.6.1.2.1.33.1.7.1", "upsTestId",
        "The test last started, or upsTestNoTestsInitiated (`1.3.6.1.2.1.33.1.7.7.1`). A SET of one of the "
        "well-known tests `1.3.6.1.2.1.33.1.7.7.N` starts it when the UPS can run it: N = 3 "
        "upsTestGeneralSystemsTest, 4 upsTestQuickBatteryTest, 5 upsTestDeepBatteryCalibration; N = 2 "
        "upsTestAbortTestInProgress aborts the running test. While a test runs, starting another answers "
        "readOnly; a test the UPS cannot run, or any other value, answers badValue." },
    { "1.3.6.1.2.1.33.1.7.2", "upsTestSpinLock",
        "Spin lock of RFC 1628's test procedure; it goes up by one whenever a test ends. A SET answers "
        "badValue while a test runs and is otherwise taken without the test-and-increment check." },
    { "1.3.6.1.2.1.33.1.7.3", "upsTestResultsSummary",
        "Result of the last test: 1 donePass, 2 doneWarning, 3 doneError, 4 aborted, 5 inProgress, "
        "6 noTestsInitiated." },
    { "1.3.6.1.2.1.33.1.7.4", "upsTestResultsDetail", "Details of the last test's result, as text." },
    { "1.3.6.1.2.1.33.1.7.5", "upsTestStartTime",
        "When the last test started, on the clock of upsAlarmTime (wall-clock milliseconds, cut to 32 bits, "
        "divided by 10)." },
    { "1.3.6.1.2.1.33.1.7.6", "upsTestElapsedTime",
        "How long the last test ran, in 0.01 s; while a test runs, the time so far." },

    { "1.3.6.1.2.1.33.1.8", "upsControl", "Shutting the UPS down, starting it up and rebooting it." },
    { "1.3.6.1.2.1.33.1.8.1", "upsShutdownType",
        "What a shutdown switches off: 1 output, 2 system. A SET of a type the UPS cannot shut down answers "
        "badValue." },
    { "1.3.6.1.2.1.33.1.8.2", "upsShutdownAfterDelay",
        "Seconds until the scheduled shutdown, -1 when none is scheduled. A SET of n (0 or more) shuts the UPS "
        "down, as upsShutdownType says, n seconds from now; -1 cancels the scheduled shutdown (badValue when "
        "none is scheduled); other values answer badValue. readOnly when the UPS cannot shut down that way." },
    { "1.3.6.1.2.1.33.1.8.3", "upsStartupAfterDelay",
        "Seconds until the scheduled startup, -1 when none is scheduled. A SET of n (0 or more) starts the UPS "
        "n seconds from now; -1 cancels the scheduled startup (badValue when none is scheduled); other values "
        "answer badValue. readOnly when the UPS cannot be started this way." },
    { "1.3.6.1.2.1.33.1.8.4", "upsRebootWithDuration",
        "Seconds until the UPS comes back after a reboot, -1 when none is under way (the same time as "
        "upsStartupAfterDelay). A SET of n (1 or more) switches the UPS off and back on n seconds later; "
        "other values answer badValue. readOnly when the UPS cannot shut down as upsShutdownType says or "
        "cannot reboot." },
    { "1.3.6.1.2.1.33.1.8.5", "upsAutoRestart",
        "Whether the UPS starts again by itself once the input returns: 1 on, 2 off." },

    { "1.3.6.1.2.1.33.1.9", "upsConfig", "Nominal values and settings of the UPS." },
    { "1.3.6.1.2.1.33.1.9.1", "upsConfigInputVoltage", "Nominal input voltage, in volts RMS." },
    { "1.3.6.1.2.1.33.1.9.2", "upsConfigInputFreq", "Nominal input frequency, in 0.1 Hz." },
    { "1.3.6.1.2.1.33.1.9.3", "upsConfigOutputVoltage",
        "Nominal output voltage, in volts RMS. With the XCP driver a SET writes it to the UPS "
        "(badValue outside 0..65535)." },
    { "1.3.6.1.2.1.33.1.9.4", "upsConfigOutputFreq", "Nominal output frequency, in 0.1 Hz." },
    { "1.3.6.1.2.1.33.1.9.5", "upsConfigOutputVA", "Nominal output apparent power, in volt-amperes." },
    { "1.3.6.1.2.1.33.1.9.6", "upsConfigOutputPower", "Nominal output true power, in watts." },
    { "1.3.6.1.2.1.33.1.9.7", "upsConfigLowBattTime",
        "Minutes of run time left at which the battery counts as low (upsBatteryStatus 3). With the XCP "
        "driver a SET writes it to the UPS (badValue outside 0..65535)." },
    { "1.3.6.1.2.1.33.1.9.8", "upsConfigAudibleStatus",
        "The UPS's audible alarm: 1 disabled, 2 enabled, 3 muted. With the XCP driver a SET writes it to "
        "the UPS." },
    { "1.3.6.1.2.1.33.1.9.9", "upsConfigLowVoltageTransferPoint",
        "Input voltage below which the UPS goes to battery, in volts RMS." },
    { "1.3.6.1.2.1.33.1.9.10", "upsConfigHighVoltageTransferPoint",
        "Input voltage above which the UPS goes to battery, in volts RMS." },

    // ---- Extended UPS MIB ----------------------------------------------------------------------
    { "1.3.6.1.4.1.534.1", "Extended UPS MIB",
        "More UPS objects in a private enterprise subtree: some UPS-MIB values in other units, the "
        "environment, the UPS's event log, timed controls, and the two trap-control objects of the agent. "
        "The names given here are this reference's labels." },

    { "1.3.6.1.4.1.534.1.1", "extIdent", "Identification of the UPS: the values of upsIdent." },
    { "1.3.6.1.4.1.534.1.1.1", "extIdentManufacturer", "Manufacturer of the UPS (as upsIdentManufacturer)." },
    { "1.3.6.1.4.1.534.1.1.2", "extIdentModel", "Model of the UPS (as upsIdentModel)." },
    { "1.3.6.1.4.1.534.1.1.3", "extIdentSoftwareVersion",
        "Firmware version of the UPS (as upsIdentUPSSoftwareVersion)." },

    { "1.3.6.1.4.1.534.1.2", "extBattery", "State of the battery." },
    { "1.3.6.1.4.1.534.1.2.1", "extBatterySecondsRemaining",
        "Estimated run time left on battery, in seconds: the minutes remaining times 60." },
    { "1.3.6.1.4.1.534.1.2.2", "extBatteryVoltage", "Battery voltage, in whole volts DC." },
    { "1.3.6.1.4.1.534.1.2.3", "extBatteryCurrent", "Battery current, in whole amperes, cut toward zero." },
    { "1.3.6.1.4.1.534.1.2.4", "extBatteryChargeRemaining", "Battery charge left, in percent." },
    { "1.3.6.1.4.1.534.1.2.5", "extBatteryChargeState",
        "Charging state of the battery, 1 to 5, as the UPS reports it; 5 when the UPS reports none." },

    { "1.3.6.1.4.1.534.1.3", "extInput", "The input (mains) lines." },
    { "1.3.6.1.4.1.534.1.3.1", "extInputFrequency", "Input frequency of line 1, in 0.1 Hz." },
    { "1.3.6.1.4.1.534.1.3.2", "extInputLineBads", "How often the input has gone out of tolerance." },
    { "1.3.6.1.4.1.534.1.3.3", "extInputNumLines", "Number of input lines: the rows of extInputTable." },
    { "1.3.6.1.4.1.534.1.3.4", "extInputTable",
        "One row per input line; the row number is the line number, 1 to extInputNumLines." },
    { "1.3.6.1.4.1.534.1.3.4.*.1", "extInputLine", "The line number (the row)." },
    { "1.3.6.1.4.1.534.1.3.4.*.2", "extInputVoltage", "Input voltage of the line, in volts RMS." },
    { "1.3.6.1.4.1.534.1.3.4.*.3", "extInputCurrent", "Input current of the line, in whole amperes RMS." },
    { "1.3.6.1.4.1.534.1.3.4.*.4", "extInputWatts", "Input true power of the line, in watts." },

    { "1.3.6.1.4.1.534.1.4", "extOutput", "The output lines." },
    { "1.3.6.1.4.1.534.1.4.1", "extOutputLoad", "Load of output line 1, in percent of the rated capacity." },
    { "1.3.6.1.4.1.534.1.4.2", "extOutputFrequency", "Output frequency, in 0.1 Hz." },
    { "1.3.6.1.4.1.534.1.4.3", "extOutputNumLines", "Number of output lines: the rows of extOutputTable." },
    { "1.3.6.1.4.1.534.1.4.4", "extOutputTable",
        "One row per output line; the row number is the line number, 1 to extOutputNumLines." },
    { "1.3.6.1.4.1.534.1.4.4.*.1", "extOutputLine", "The line number (the row)." },
    { "1.3.6.1.4.1.534.1.4.4.*.2", "extOutputVoltage", "Output voltage of the line, in volts RMS." },
    { "1.3.6.1.4.1.534.1.4.4.*.3", "extOutputCurrent", "Output current of the line, in whole amperes RMS." },
    { "1.3.6.1.4.1.534.1.4.4.*.4", "extOutputWatts", "Output true power of the line, in watts." },

    { "1.3.6.1.4.1.534.1.5", "extBypass", "The bypass lines." },
    { "1.3.6.1.4.1.534.1.5.1", "extBypassFrequency", "Bypass frequency, in 0.1 Hz." },
    { "1.3.6.1.4.1.534.1.5.2", "extBypassNumLines", "Number of bypass lines: the rows of extBypassTable." },
    { "1.3.6.1.4.1.534.1.5.3", "extBypassTable",
        "One row per bypass line; the row number is the line number, 1 to extBypassNumLines." },
    { "1.3.6.1.4.1.534.1.5.3.*.1", "extBypassLine", "The line number (the row)." },
    { "1.3.6.1.4.1.534.1.5.3.*.2", "extBypassVoltage", "Bypass voltage of the line, in volts RMS." },

    { "1.3.6.1.4.1.534.1.6", "extEnvironment", "Temperature around the UPS and its limits." },
    { "1.3.6.1.4.1.534.1.6.1", "extEnvironmentTemperature", "Ambient temperature, in degrees Celsius." },
    { "1.3.6.1.4.1.534.1.6.2", "extEnvironmentLowLimit",
        "Lower limit of the ambient temperature, in degrees Celsius. With the XCP driver a SET writes it to "
        "the UPS (badValue outside -32768..32767)." },
    { "1.3.6.1.4.1.534.1.6.3", "extEnvironmentHighLimit",
        "Upper limit of the ambient temperature, in degrees Celsius. With the XCP driver a SET writes it to "
        "the UPS (badValue outside -32768..32767)." },

    { "1.3.6.1.4.1.534.1.7", "extAlarm", "The alarms present now, and the UPS's event log." },
    { "1.3.6.1.4.1.534.1.7.1", "extAlarmsPresent", "Number of alarms present: the rows of extAlarmTable." },
    { "1.3.6.1.4.1.534.1.7.2", "extAlarmTable",
        "The alarms of upsAlarmTable again, rows named by the same alarm ids and walked in the same order "
        "(oldest first)." },
    { "1.3.6.1.4.1.534.1.7.2.*.1", "extAlarmNumber", "The alarm id plus 1." },
    { "1.3.6.1.4.1.534.1.7.2.*.2", "extAlarmDescr", "What the alarm is (as upsAlarmDescr)." },
    { "1.3.6.1.4.1.534.1.7.2.*.3", "extAlarmTime", "When the alarm was raised (as upsAlarmTime)." },
    { "1.3.6.1.4.1.534.1.7.18", "extEventCount",
        "Number of entries of the UPS's event log: the rows of extEventTable." },
    { "1.3.6.1.4.1.534.1.7.19", "extEventTable",
        "The UPS's event log as last read from the UPS, one row per entry in the order the UPS gave them." },
    { "1.3.6.1.4.1.534.1.7.19.*.1", "extEventNumber", "The entry's number (the row)." },
    { "1.3.6.1.4.1.534.1.7.19.*.2", "extEventTime",
        "When the event happened, by the UPS's clock, as MM/DD/YYYY:hh:mm:ss." },
    { "1.3.6.1.4.1.534.1.7.19.*.3", "extEventState",
        "State of the event as the UPS logged it (with the XCP driver: 1 when the entry's flag bit is set, "
        "else 2)." },
    { "1.3.6.1.4.1.534.1.7.19.*.4", "extEventCode", "Code of the event as the UPS logged it." },

    { "1.3.6.1.4.1.534.1.8", "extTest", "Battery test." },
    { "1.3.6.1.4.1.534.1.8.1", "extTestQuickBattery",
        "A SET of any value starts a quick battery test, even while another test runs, and sets upsTestId "
        "to upsTestQuickBatteryTest; badValue when the UPS cannot run it." },
    { "1.3.6.1.4.1.534.1.8.2", "extTestResult", "Result of the last battery test, 1 to 6, as the UPS reports it." },

    { "1.3.6.1.4.1.534.1.9", "extControl",
        "Timed shutdown, startup and command of the UPS, with 0 to cancel, and the windows of the warning "
        "traps." },
    { "1.3.6.1.4.1.534.1.9.1", "extControlShutdownDelay",
        "Seconds until the scheduled shutdown, -1 when none is scheduled (as upsShutdownAfterDelay). A SET "
        "of n (1 or more) switches the output off n seconds from now and sets upsShutdownType to output; 0 "
        "cancels the scheduled shutdown; badValue when nothing is there to cancel, for a negative value, or "
        "when the UPS cannot switch its output off." },
    { "1.3.6.1.4.1.534.1.9.2", "extControlStartupDelay",
        "Seconds until the scheduled startup, -1 when none is scheduled (as upsStartupAfterDelay). A SET of n "
        "(1 or more) starts the UPS n seconds from now; 0 cancels the scheduled startup; badValue when "
        "nothing is there to cancel, for a negative value, or when the UPS cannot be started this way." },
    { "1.3.6.1.4.1.534.1.9.3", "extControlShutdownWarning",
        "Window of the shutdown warning trap, in seconds; -1 (the default) is unlimited: the warning goes out "
        "as soon as a shutdown is scheduled. A SET takes -1 or more." },
    { "1.3.6.1.4.1.534.1.9.4", "extControlStartupWarning",
        "Window of the startup warning trap, in seconds; -1 (the default) is unlimited. A SET takes -1 or "
        "more." },
    { "1.3.6.1.4.1.534.1.9.5", "extControlTimedCommandDelay",
        "Seconds until the UPS's timed command is sent, -1 when none is scheduled. A SET of n (1 or more) "
        "schedules it n seconds from now; 0 cancels it; badValue when nothing is there to cancel, for a "
        "negative value, or when the UPS has no timed command." },

    { "1.3.6.1.4.1.534.1.10", "extConfig", "Nominal values and the UPS's clock." },
    { "1.3.6.1.4.1.534.1.10.1", "extConfigOutputVoltage", "Nominal output voltage, in volts RMS." },
    { "1.3.6.1.4.1.534.1.10.2", "extConfigInputVoltage", "Nominal input voltage, in volts RMS." },
    { "1.3.6.1.4.1.534.1.10.3", "extConfigOutputPower", "Nominal output true power, in watts." },
    { "1.3.6.1.4.1.534.1.10.4", "extConfigOutputFrequency", "Nominal output frequency, in 0.1 Hz." },
    { "1.3.6.1.4.1.534.1.10.5", "extConfigDateTime",
        "Date and time of the UPS's clock, as MM/DD/YYYY:hh:mm:ss. With the XCP driver a SET in that form "
        "sets the UPS's clock; any other text answers badValue." },

    { "1.3.6.1.4.1.534.1.11", "extTrapControl",
        "Which traps a manager receives. The agent answers these two objects itself, for the manager that "
        "asks (told apart by its IP address): a SET makes the manager a trap destination with its own level "
        "and type, and the trap host of the configuration is one from the start. A manager without a record "
        "reads level 1 and type 1. The objects are not part of the GET-NEXT walk, a SET takes any value "
        "without a range check, and the records live until pvx stops." },
    { "1.3.6.1.4.1.534.1.11.1", "extTrapLevel",
        "The highest trap level sent to this manager: each trap has a level from 1 to 4, and the manager "
        "receives those whose level is at most this value (0 receives none). A SET of 1 removes the "
        "manager's record, so that it receives no traps any more; any other value creates or changes it. "
        "GET-NEXT of this object answers extTrapType." },
    { "1.3.6.1.4.1.534.1.11.2", "extTrapType",
        "The families of traps sent to this manager: 1 and 3 the standard traps only, 2 and 4 the extended "
        "traps (enterprises under `1.3.6.1.4.1.534.1`) only, any other value both. A SET creates the "
        "manager's record when it has none." },
};

} // namespace

std::span<const SObjectText> ObjectTexts()
{
    return kTexts;
}

} // namespace pvx::mibdoc
