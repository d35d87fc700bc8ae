// The model's values under NUT's names and units, and the instant commands.
#include "nut/NutVariables.h"

#include "events/PVXException.h"
#include "ups/StatusNames.h"
#include "ups/WellKnown.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace pvx::nut {

namespace {

using E = EMeasurement;
using R = SUPSReadings;
using S = SServerValues;

constexpr int kCharging = 1;
constexpr int kDischarging = 2;

void AppendNumber(std::string& out, std::int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// Tenths as a decimal with one place: 542 -> "54.2", -5 -> "-0.5".
void AppendTenths(std::string& out, std::int64_t tenths)
{
    if (tenths < 0) {
        out += '-';
        tenths = -tenths;
    }
    AppendNumber(out, tenths / 10);
    out += '.';
    out += static_cast<char>('0' + tenths % 10);
}

bool Text(std::string& out, std::string_view text)
{
    if (text.empty())
        return false;
    out += text;
    return true;
}

bool Number(std::string& out, std::int64_t value)
{
    AppendNumber(out, value);
    return true;
}

bool Tenths(std::string& out, std::int64_t tenths)
{
    AppendTenths(out, tenths);
    return true;
}

bool IsOnBattery(const R& u);

using status::HasWellKnownAlarm;
using status::WellKnownAlarm;

// Each RFC 1628 well-known alarm: the ups.status word it sets, or the text
// it adds to ups.alarm (with ALARM in ups.status), or neither where
// another word already says it.
struct SAlarmName {
    int number;
    const char* statusWord;
    const char* alarmText;
};
constexpr SAlarmName kAlarmNames[] = {
    { 1, "RB", nullptr }, // batteryBad
    { 2, nullptr, nullptr }, // onBattery: OB
    { 3, "LB", nullptr }, // lowBattery
    { 4, "LB", "Battery depleted!" },
    { 5, nullptr, "Temperature out of range!" },
    { 6, nullptr, nullptr }, // inputBad: what OB or TRIM and BOOST say
    { 7, nullptr, "Output out of range!" },
    { 8, "OVER", nullptr },
    { 9, "BYPASS", nullptr },
    { 10, nullptr, "Bypass out of range!" },
    { 11, "OFF", nullptr }, // outputOffAsRequested
    { 12, "OFF", nullptr }, // upsOffAsRequested
    { 13, nullptr, "Charger failed!" },
    { 14, "OFF", nullptr }, // upsOutputOff
    { 15, "OFF", nullptr }, // upsSystemOff
    { 16, nullptr, "Fan failure!" },
    { 17, nullptr, "Fuse failure!" },
    { 18, nullptr, "General fault!" },
    { 19, nullptr, "Diagnostic test failed!" },
    { 20, nullptr, "Communications with the UPS lost!" },
    { 21, nullptr, "Awaiting power!" },
    { 22, nullptr, "Shutdown pending!" },
    { 23, nullptr, "Shutdown imminent!" },
    { 24, nullptr, nullptr }, // testInProgress: CAL for a calibration
};

const SAlarmName* AlarmName(const SAlarmReading& alarm)
{
    const int number = WellKnownAlarm(alarm.descriptor);
    for (const SAlarmName& name : kAlarmNames)
        if (name.number == number)
            return &name;
    return nullptr;
}

bool AppendAlarms(const R& u, std::string& out)
{
    const std::size_t start = out.size();
    for (const SAlarmReading& alarm : u.alarms) {
        const SAlarmName* name = AlarmName(alarm);
        const char* text = name != nullptr ? name->alarmText : "Unknown alarm!";
        if (text == nullptr || out.find(text, start) != std::string::npos)
            continue;
        if (out.size() > start)
            out += ' ';
        out += text;
    }
    return out.size() > start;
}

bool IsOnBattery(const R& u)
{
    return u.outputSource == status::kSourceBattery || HasWellKnownAlarm(u, 2);
}

bool IsLowBattery(const R& u)
{
    for (const SAlarmReading& alarm : u.alarms) {
        const SAlarmName* name = AlarmName(alarm);
        if (name != nullptr && name->statusWord != nullptr && std::strcmp(name->statusWord, "LB") == 0)
            return true;
    }
    // As upsBatteryStatus says low: the run time left is at the low mark.
    return IsOnBattery(u) && u.Measures(E::Runtime) && u.Measures(E::LowBatteryTime)
        && u.minutesRemaining <= u.lowBatteryMinutes;
}

void AppendWord(std::string& out, std::size_t start, std::string_view word)
{
    if (out.size() > start)
        out += ' ';
    out += word;
}

bool HasWord(const std::string& out, std::size_t start, std::string_view word)
{
    for (std::size_t at = out.find(word, start); at != std::string::npos; at = out.find(word, at + 1)) {
        const bool begins = at == start || out[at - 1] == ' ';
        const bool ends = at + word.size() == out.size() || out[at + word.size()] == ' ';
        if (begins && ends)
            return true;
    }
    return false;
}

bool Status(const R& u, const S& s, std::string& out)
{
    AppendStatus(u, s.fsd, out);
    return true;
}

template <typename Line> const Line* LineAt(const std::vector<Line>& lines, std::size_t i, bool multiPhase)
{
    if (i >= lines.size() || (multiPhase && lines.size() < 2))
        return nullptr;
    return &lines[i];
}

// A value of a line when the UPS measures it: line 1 of a UPS of any number
// of phases, or with `Phase` line I + 1 of one with two or more.
template <auto Lines, auto Field, E Measured, bool (*Format)(std::string&, std::int64_t), std::size_t I = 0,
          bool Phase = false>
bool LineValue(const R& u, const S&, std::string& out)
{
    const auto* line = LineAt(u.*Lines, I, Phase);
    return line != nullptr && u.Measures(Measured) && Format(out, line->*Field);
}
template <std::size_t I>
constexpr auto InputPhaseVoltage = LineValue<&R::inputLines, &SInputLine::voltage, E::InputVoltage, Number, I, true>;
template <std::size_t I>
constexpr auto OutputPhaseVoltage = LineValue<&R::outputLines, &SOutputLine::voltage, E::OutputVoltage, Number, I, true>;
template <std::size_t I>
constexpr auto OutputPhaseCurrent = LineValue<&R::outputLines, &SOutputLine::current, E::OutputCurrent, Tenths, I, true>;

// The number of lines, for a UPS of two phases or more.
template <auto Lines> bool Phases(const R& u, const S&, std::string& out)
{
    return (u.*Lines).size() > 1 && Number(out, static_cast<std::int64_t>((u.*Lines).size()));
}

std::int64_t Timer(const std::optional<std::int64_t>& seconds)
{
    return seconds ? std::max<std::int64_t>(*seconds, 0) : -1;
}

const char* TestResult(int summary)
{
    switch (summary) {
    case 1:
        return "Done and passed";
    case 2:
        return "Done and warning";
    case 3:
        return "Done and error";
    case 4:
        return "Aborted";
    case 5:
        return "In progress";
    default:
        return "No test initiated";
    }
}

const char* BeeperStatus(int audible)
{
    return audible == 1 ? "disabled" : audible == 3 ? "muted" : "enabled";
}

// clang-format off
constexpr SVariable kVariables[] = {
    { "battery.charge", EVariableKind::Number, "Battery charge (percent)",
      [](const R& u, const S&, std::string& o) { return u.chargeRemaining && u.Measures(E::BatteryCharge) && Number(o, *u.chargeRemaining); } },
    { "battery.runtime", EVariableKind::Number, "Battery runtime (seconds)",
      [](const R& u, const S&, std::string& o) { return u.Measures(E::Runtime) && Number(o, std::int64_t { u.minutesRemaining } * 60); } },
    { "battery.runtime.low", EVariableKind::Number, "Remaining battery runtime when UPS switches to LB (seconds)",
      [](const R& u, const S&, std::string& o) { return u.Measures(E::LowBatteryTime) && Number(o, std::int64_t { u.lowBatteryMinutes } * 60); } },
    { "battery.temperature", EVariableKind::Number, "Battery temperature (degrees C)",
      [](const R& u, const S&, std::string& o) { return u.Measures(E::BatteryTemperature) && Number(o, u.batteryTemperature); } },
    { "battery.voltage", EVariableKind::Number, "Battery voltage (V)",
      [](const R& u, const S&, std::string& o) { return u.Measures(E::BatteryVoltage) && Tenths(o, u.batteryVoltage); } },
    { "device.mfr", EVariableKind::Text, "Device manufacturer",
      [](const R& u, const S&, std::string& o) { return Text(o, u.manufacturer); } },
    { "device.model", EVariableKind::Text, "Device model",
      [](const R& u, const S&, std::string& o) { return Text(o, u.model); } },
    { "device.type", EVariableKind::Text, "Device type (ups, pdu, scd, psu, ats)",
      [](const R&, const S&, std::string& o) { return Text(o, "ups"); } },
    { "driver.name", EVariableKind::Text, "Driver name",
      [](const R&, const S&, std::string& o) { return Text(o, "pvx"); } },
    { "driver.version", EVariableKind::Text, "Driver version",
      [](const R&, const S&, std::string& o) { return Text(o, PVX_VERSION); } },
    { "input.frequency", EVariableKind::Number, "Input line frequency (Hz)",
      LineValue<&R::inputLines, &SInputLine::frequency, E::InputFrequency, Tenths> },
    { "input.phases", EVariableKind::Number, "Input phases",
      Phases<&R::inputLines> },
    { "input.voltage", EVariableKind::Number, "Input voltage (V)",
      LineValue<&R::inputLines, &SInputLine::voltage, E::InputVoltage, Number> },
    { "input.L1-N.voltage", EVariableKind::Number, "Input voltage, phase 1 (V)", InputPhaseVoltage<0> },
    { "input.L2-N.voltage", EVariableKind::Number, "Input voltage, phase 2 (V)", InputPhaseVoltage<1> },
    { "input.L3-N.voltage", EVariableKind::Number, "Input voltage, phase 3 (V)", InputPhaseVoltage<2> },
    { "output.current", EVariableKind::Number, "Output current (A)",
      LineValue<&R::outputLines, &SOutputLine::current, E::OutputCurrent, Tenths> },
    { "output.frequency", EVariableKind::Number, "Output frequency (Hz)",
      [](const R& u, const S&, std::string& o) { return u.Measures(E::OutputFrequency) && Tenths(o, u.outputFrequency); } },
    { "output.phases", EVariableKind::Number, "Output phases",
      Phases<&R::outputLines> },
    { "output.voltage", EVariableKind::Number, "Output voltage (V)",
      LineValue<&R::outputLines, &SOutputLine::voltage, E::OutputVoltage, Number> },
    { "output.L1-N.voltage", EVariableKind::Number, "Output voltage, phase 1 (V)", OutputPhaseVoltage<0> },
    { "output.L2-N.voltage", EVariableKind::Number, "Output voltage, phase 2 (V)", OutputPhaseVoltage<1> },
    { "output.L3-N.voltage", EVariableKind::Number, "Output voltage, phase 3 (V)", OutputPhaseVoltage<2> },
    { "output.L1.current", EVariableKind::Number, "Output current, phase 1 (A)", OutputPhaseCurrent<0> },
    { "output.L2.current", EVariableKind::Number, "Output current, phase 2 (A)", OutputPhaseCurrent<1> },
    { "output.L3.current", EVariableKind::Number, "Output current, phase 3 (A)", OutputPhaseCurrent<2> },
    { "ups.alarm", EVariableKind::Text, "UPS alarms",
      [](const R& u, const S&, std::string& o) { return AppendAlarms(u, o); } },
    { "ups.beeper.status", EVariableKind::Text, "UPS beeper status (enabled, disabled or muted)",
      [](const R& u, const S&, std::string& o) { return Text(o, BeeperStatus(u.audibleStatus)); } },
    { "ups.delay.shutdown", EVariableKind::ShutdownDelay, "Interval to wait after shutdown with delay command (seconds)",
      [](const R&, const S& s, std::string& o) { return Number(o, s.shutdownDelay); } },
    { "ups.delay.start", EVariableKind::StartDelay, "Interval to wait before (re)starting the load (seconds)",
      [](const R&, const S& s, std::string& o) { return Number(o, s.startDelay); } },
    { "ups.firmware", EVariableKind::Text, "UPS firmware",
      [](const R& u, const S&, std::string& o) { return Text(o, u.softwareVersion); } },
    { "ups.id", EVariableKind::Id, "UPS system identifier",
      [](const R& u, const S&, std::string& o) { o += u.name; return true; } },
    { "ups.load", EVariableKind::Number, "Load on UPS (percent)",
      [](const R& u, const S&, std::string& o) {
          if (u.outputLines.empty() || !u.Measures(E::OutputLoad))
              return false;
          std::uint32_t load = 0;
          for (const SOutputLine& line : u.outputLines)
              load = std::max(load, line.percentLoad);
          return Number(o, load);
      } },
    { "ups.mfr", EVariableKind::Text, "UPS manufacturer",
      [](const R& u, const S&, std::string& o) { return Text(o, u.manufacturer); } },
    { "ups.model", EVariableKind::Text, "UPS model",
      [](const R& u, const S&, std::string& o) { return Text(o, u.model); } },
    { "ups.power.nominal", EVariableKind::Number, "UPS nominal power (VA)",
      [](const R& u, const S&, std::string& o) { return u.nominalOutputVA != 0 && Number(o, u.nominalOutputVA); } },
    { "ups.realpower", EVariableKind::Number, "Current value of real power (W)",
      LineValue<&R::outputLines, &SOutputLine::power, E::OutputPower, Number> },
    { "ups.status", EVariableKind::Text, "UPS status", Status },
    { "ups.test.result", EVariableKind::Text, "Results of last self test",
      [](const R& u, const S&, std::string& o) { return Text(o, TestResult(u.testResultSummary)); } },
    { "ups.timer.shutdown", EVariableKind::Number, "Time before the load will be shutdown (seconds)",
      [](const R& u, const S&, std::string& o) { return Number(o, Timer(u.secondsToShutdown)); } },
    { "ups.timer.start", EVariableKind::Number, "Time before the load will be started (seconds)",
      [](const R& u, const S&, std::string& o) { return Number(o, Timer(u.secondsToStartup)); } },
};
// clang-format on

// ---- Instant commands through the MIB objects an SNMP SET writes ----------------------

const COid kUpsIdentName { 2, 1, 33, 1, 1, 5, 0 };
const COid kUpsTestId { 2, 1, 33, 1, 7, 1, 0 };
const COid kUpsShutdownAfterDelay { 2, 1, 33, 1, 8, 2, 0 };
const COid kUpsStartupAfterDelay { 2, 1, 33, 1, 8, 3, 0 };
const COid kUpsConfigAudibleStatus { 2, 1, 33, 1, 9, 8, 0 };

enum class ECommand {
    QuickTest,
    DeepTest,
    StopTest,
    ShutdownReturn,
    ShutdownStayOff,
    ShutdownStop,
    LoadOffDelay,
    LoadOnDelay,
    BeeperEnable,
    BeeperDisable,
    BeeperMute,
};

struct SCommandEntry {
    SInstantCommand command;
    ECommand what;
};

constexpr SCommandEntry kCommands[] = {
    { { "beeper.disable", "Disable the UPS beeper" }, ECommand::BeeperDisable },
    { { "beeper.enable", "Enable the UPS beeper" }, ECommand::BeeperEnable },
    { { "beeper.mute", "Temporarily mute the UPS beeper" }, ECommand::BeeperMute },
    { { "load.off.delay", "Turn off the load with a delay (seconds)" }, ECommand::LoadOffDelay },
    { { "load.on.delay", "Turn on the load with a delay (seconds)" }, ECommand::LoadOnDelay },
    { { "shutdown.return", "Turn off the load after ups.delay.shutdown and return when power is back" },
      ECommand::ShutdownReturn },
    { { "shutdown.stayoff", "Turn off the load after ups.delay.shutdown and cancel a scheduled start" },
      ECommand::ShutdownStayOff },
    { { "shutdown.stop", "Stop a shutdown in progress" }, ECommand::ShutdownStop },
    { { "test.battery.start.deep", "Start a deep battery test" }, ECommand::DeepTest },
    { { "test.battery.start.quick", "Start a quick battery test" }, ECommand::QuickTest },
    { { "test.battery.stop", "Stop the battery test" }, ECommand::StopTest },
};

const SCommandEntry& EntryOf(const SInstantCommand& command)
{
    for (const SCommandEntry& entry : kCommands)
        if (std::strcmp(entry.command.name, command.name) == 0)
            return entry;
    return kCommands[0]; // only commands of the table reach here
}

// A SET of one of the model's MIB objects, as the SNMP agent makes it.
void SetObject(CAbstractUPS& ups, const COid& name, CMIBData value)
{
    value.SetName(name);
    ups.SetMIBData(value);
}

void SetSeconds(CAbstractUPS& ups, const COid& name, std::int32_t seconds)
{
    SetObject(ups, name, CMIBData(seconds, -1, kMIBIntMax, MIB_SIGNED));
}

void SetTest(CAbstractUPS& ups, const COid& test)
{
    SetObject(ups, kUpsTestId, CMIBData(test, MIB_OID));
}

void SetAudible(CAbstractUPS& ups, std::uint32_t status)
{
    SetObject(ups, kUpsConfigAudibleStatus, CMIBData(status, 3, MIB_UNSIGNED));
}

} // namespace

std::span<const SVariable> Variables()
{
    return kVariables;
}

const SVariable* FindVariable(std::string_view name)
{
    for (const SVariable& variable : kVariables)
        if (name == variable.name)
            return &variable;
    return nullptr;
}

bool IsWritable(const SVariable& variable)
{
    return variable.kind == EVariableKind::Id || variable.kind == EVariableKind::ShutdownDelay
        || variable.kind == EVariableKind::StartDelay;
}

std::string_view TypeWords(const SVariable& variable)
{
    switch (variable.kind) {
    case EVariableKind::Number:
        return "NUMBER";
    case EVariableKind::Text:
        return "STRING:255";
    case EVariableKind::Id:
        return "RW STRING:63";
    default:
        return "RW RANGE";
    }
}

void AppendStatus(const SUPSReadings& u, bool fsd, std::string& out)
{
    const std::size_t start = out.size();
    if (fsd)
        AppendWord(out, start, "FSD");
    const bool onBattery = IsOnBattery(u);
    if (onBattery)
        AppendWord(out, start, "OB");
    else if (u.outputSource == status::kSourceNormal || u.outputSource == status::kSourceBypass || u.outputSource == status::kSourceBooster
             || u.outputSource == status::kSourceReducer)
        AppendWord(out, start, "OL");
    if (IsLowBattery(u))
        AppendWord(out, start, "LB");
    if (u.outputSource == status::kSourceNone)
        AppendWord(out, start, "OFF");
    if (u.outputSource == status::kSourceBypass)
        AppendWord(out, start, "BYPASS");
    if (u.outputSource == status::kSourceReducer)
        AppendWord(out, start, "TRIM");
    if (u.outputSource == status::kSourceBooster)
        AppendWord(out, start, "BOOST");
    if (u.testResultSummary == status::kTestInProgress && u.testId == kUpsTestDeepBatteryCalibration)
        AppendWord(out, start, "CAL");
    for (const SAlarmReading& alarm : u.alarms) {
        const SAlarmName* name = AlarmName(alarm);
        if (name != nullptr && name->statusWord != nullptr && !HasWord(out, start, name->statusWord))
            AppendWord(out, start, name->statusWord);
    }
    if (onBattery || u.batteryChargeState == kDischarging)
        AppendWord(out, start, "DISCHRG");
    else if (u.batteryChargeState == kCharging)
        AppendWord(out, start, "CHRG");
    std::string alarms;
    if (AppendAlarms(u, alarms))
        AppendWord(out, start, "ALARM");
}

std::span<const SInstantCommand> InstantCommands()
{
    static const auto commands = [] {
        std::array<SInstantCommand, std::size(kCommands)> list {};
        for (std::size_t i = 0; i < list.size(); ++i)
            list[i] = kCommands[i].command;
        return list;
    }();
    return commands;
}

const SInstantCommand* FindInstantCommand(std::string_view name)
{
    for (const SCommandEntry& entry : kCommands)
        if (name == entry.command.name)
            return &entry.command;
    return nullptr;
}

bool IsOffered(const SInstantCommand& command, CAbstractUPS& ups)
{
    switch (EntryOf(command).what) {
    case ECommand::QuickTest:
        return ups.CanQuickBatteryTest();
    case ECommand::DeepTest:
        return ups.CanDeepBatteryCalibration();
    case ECommand::StopTest:
        return ups.CanAbortTest();
    case ECommand::ShutdownReturn:
    case ECommand::ShutdownStayOff:
    case ECommand::ShutdownStop:
    case ECommand::LoadOffDelay:
        return ups.CanShutdown(1);
    case ECommand::LoadOnDelay:
        return ups.CanStartup();
    case ECommand::BeeperEnable:
    case ECommand::BeeperDisable:
    case ECommand::BeeperMute:
        return ups.CanCommand95();
    }
    return false;
}

std::optional<std::uint32_t> ParseSeconds(std::string_view text)
{
    std::uint32_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || seconds > kMaxDelay)
        return std::nullopt;
    return seconds;
}

ECommandResult RunInstantCommand(const SInstantCommand& command, CAbstractUPS& ups, const SServerValues& server,
                                 std::optional<std::string_view> value)
{
    if (!IsOffered(command, ups))
        return ECommandResult::NotOffered;
    const ECommand what = EntryOf(command).what;
    std::optional<std::uint32_t> seconds;
    if (value) {
        if (what != ECommand::LoadOffDelay && what != ECommand::LoadOnDelay)
            return ECommandResult::BadValue;
        seconds = ParseSeconds(*value);
        if (!seconds)
            return ECommandResult::BadValue;
    }
    try {
        const SUPSReadings now = ups.GetReadings();
        switch (what) {
        case ECommand::QuickTest:
            SetTest(ups, kUpsTestQuickBatteryTest);
            break;
        case ECommand::DeepTest:
            SetTest(ups, kUpsTestDeepBatteryCalibration);
            break;
        case ECommand::StopTest:
            SetTest(ups, kUpsTestAbortTestInProgress);
            break;
        case ECommand::ShutdownStayOff:
            if (now.secondsToStartup && ups.CanStartup())
                SetSeconds(ups, kUpsStartupAfterDelay, -1);
            SetSeconds(ups, kUpsShutdownAfterDelay, static_cast<std::int32_t>(server.shutdownDelay));
            break;
        case ECommand::ShutdownReturn:
            SetSeconds(ups, kUpsShutdownAfterDelay, static_cast<std::int32_t>(server.shutdownDelay));
            break;
        case ECommand::ShutdownStop:
            if (now.secondsToShutdown) // nothing to stop is no failure
                SetSeconds(ups, kUpsShutdownAfterDelay, -1);
            break;
        case ECommand::LoadOffDelay:
            SetSeconds(ups, kUpsShutdownAfterDelay, static_cast<std::int32_t>(seconds.value_or(server.shutdownDelay)));
            break;
        case ECommand::LoadOnDelay:
            SetSeconds(ups, kUpsStartupAfterDelay, static_cast<std::int32_t>(seconds.value_or(server.startDelay)));
            break;
        case ECommand::BeeperEnable:
            SetAudible(ups, 2);
            break;
        case ECommand::BeeperDisable:
            SetAudible(ups, 1);
            break;
        case ECommand::BeeperMute:
            SetAudible(ups, 3);
            break;
        }
    } catch (const CPVXException& event) {
        // A value the object refuses (a test while one runs) is the client's;
        // anything else (a refusal or silence of the UPS) is a failure.
        return event.GetCode() == EVENT_BAD_VALUE || event.GetCode() == EVENT_READ_ONLY ? ECommandResult::BadValue
                                                                                         : ECommandResult::Failed;
    }
    return ECommandResult::Done;
}

EWriteResult WriteUpsId(CAbstractUPS& ups, std::string_view value)
{
    if (value.size() > kMaxIdLength)
        return EWriteResult::TooLong;
    try {
        SetObject(ups, kUpsIdentName, CMIBData(value, kMaxIdLength, MIB_TEXT));
    } catch (const CPVXException& event) {
        return event.GetCode() == EVENT_BAD_VALUE ? EWriteResult::BadValue : EWriteResult::Failed;
    }
    return EWriteResult::Done;
}

} // namespace pvx::nut
