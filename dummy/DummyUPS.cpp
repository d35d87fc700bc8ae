// The simulated UPS: fixed identification, values moved between the limits of
// the simulation file, and UPS-MIB alarms raised from its alarm thresholds.
#include "dummy/DummyUPS.h"

#include "config/INIFile.h"
#include "events/PVXException.h"
#include "ups/WellKnown.h"
#include "ups/XCPEmulation.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace pvx {

namespace {

constexpr const char* kMainSection = "Main";
constexpr const char* kCyclesKey = "CyclesPerUpdate";
constexpr int kSimulationOff = -1;

enum class ECondition {
    AtOrBelowMin, // v <= MinAlarm
    AtOrAboveMax, // v >= MaxAlarm
    Outside, // v >= MaxAlarm or v <= MinAlarm
};

struct SAlarmRule {
    ECondition condition;
    const COid* alarm;
    const char* name;
};

struct SSimulatedValue {
    const char* section;
    std::array<SAlarmRule, 2> rules;
    std::size_t ruleCount;
};

// The five values in the order they are processed; ValueMember() gives the
// model member of each by its position here.
const std::array<SSimulatedValue, 5> kValues = { {
    { "InputVoltage",
        { { { ECondition::AtOrBelowMin, &kUpsAlarmOnBattery, "upsAlarmOnBatteryOID" },
            { ECondition::Outside, &kUpsAlarmInputBad, "upsAlarmInputBadOID" } } },
        2 },
    { "OutputVoltage", { { { ECondition::Outside, &kUpsAlarmOutputBad, "upsAlarmOutputBadOID" } } }, 1 },
    { "OutputPercentLoad", { { { ECondition::AtOrAboveMax, &kUpsAlarmOutputOverload, "upsAlarmOutputOverloadOID" } } },
        1 },
    { "ChargeRemaining", { { { ECondition::AtOrBelowMin, &kUpsAlarmDepletedBattery, "upsAlarmDepletedBatteryOID" } } },
        1 },
    { "BackupMinutesRemain", { { { ECondition::AtOrBelowMin, &kUpsAlarmLowBattery, "upsAlarmLowBatteryOID" } } }, 1 },
} };

bool Holds(ECondition condition, std::uint32_t v, std::uint32_t minAlarm, std::uint32_t maxAlarm)
{
    switch (condition) {
    case ECondition::AtOrBelowMin:
        return v <= minAlarm;
    case ECondition::AtOrAboveMax:
        return v >= maxAlarm;
    case ECondition::Outside:
        return v >= maxAlarm || v <= minAlarm;
    }
    return false;
}

// -s without overflow: the most negative step stays as it is.
int Reversed(int step)
{
    return static_cast<int>(0u - static_cast<std::uint32_t>(step));
}

} // namespace

CDummyUPS::CDummyUPS(CCommPort* port, CINIFile* configuration)
    : CXCPLinkedUPS(port, configuration, SLinkOptions::Simulated())
{
}

CDummyUPS::~CDummyUPS() = default;

std::vector<std::uint8_t> CDummyUPS::ProcessXCPRequest(std::span<const std::uint8_t> frame)
{
    // Never relayed: there is no UPS behind the simulation to answer.
    return CAbstractUPS::ProcessXCPRequest(frame);
}

std::string CDummyUPS::SimulationFilePath(const std::string& configurationPath)
{
    const std::size_t separator = configurationPath.find_last_of("/\\");
    if (separator == std::string::npos)
        return {};
    return configurationPath.substr(0, separator + 1) + kSimulationFileName;
}

void CDummyUPS::Identify()
{
    m_upsSoftwareVersion = "1.0";
    m_manufacturer = "Pimble Works Inc.";
    m_model = "Model1";
    m_nominalOutputVA = 1000;
    m_inputLineCount = 1;
    m_outputLineCount = 1;
    m_bypassLineCount = 1;
    m_nominalOutputVoltage = 120;
    // The model keeps frequencies in tenths of a hertz: 60 Hz.
    m_nominalOutputFrequency = 600;
    m_nominalInputVoltage = 120;
    m_nominalInputFrequency = 600;
    m_lowBatteryTime = 10;
    m_audibleStatus = 1;
    m_lowTransferVoltage = 100;
    m_highTransferVoltage = 130;
    m_lowTemperatureLimit = 0;
    m_highTemperatureLimit = 100;
    FollowPowerSource();
}

void CDummyUPS::FollowPowerSource()
{
    // The simulated input sagging to its on-battery alarm is the power
    // failing: the output goes to the battery (the model counts the time).
    m_outputSource = HasAlarm(kUpsAlarmOnBattery) ? 5 : 3; // upsOutputSource battery, normal
}

void CDummyUPS::ReadValues()
{
    if (m_configuration == nullptr)
        return;
    const std::string path = SimulationFilePath(m_configuration->GetPath());
    if (path.empty())
        return;
    const CINIFile simulation(path);
    // A missing file reads as -1 too, so the simulation stays still.
    const int cycles = simulation.GetInt(kMainSection, kCyclesKey, kSimulationOff);
    if (cycles < 0)
        return;
    // 64 bits: the count must not overflow when CyclesPerUpdate is the largest int.
    const std::int64_t next = static_cast<std::int64_t>(m_cycleCounter) + 1;
    m_cycleCounter = next > cycles ? 0 : static_cast<int>(next);
    if (m_cycleCounter != 0)
        return;
    Refresh(simulation);
}

bool CDummyUPS::Measures(EMeasurement value) const
{
    switch (value) {
    case EMeasurement::InputVoltage:
    case EMeasurement::OutputVoltage:
    case EMeasurement::OutputLoad:
    case EMeasurement::BatteryCharge:
    case EMeasurement::Runtime:
    case EMeasurement::LowBatteryTime:
        return true;
    default:
        return false;
    }
}

std::uint32_t& CDummyUPS::ValueMember(std::size_t index)
{
    switch (index) {
    case 0:
        return m_inputLines[0].voltage;
    case 1:
        return m_outputLines[0].voltage;
    case 2:
        return m_outputLines[0].percentLoad;
    case 3:
        return m_chargeRemaining;
    default:
        return m_minutesRemaining;
    }
}

void CDummyUPS::Refresh(const CINIFile& simulation)
{
    m_alarmNotes.clear();
    MarkAlarmsStale();
    for (std::size_t index = 0; index < kValues.size(); ++index) {
        const SSimulatedValue& value = kValues[index];
        const std::string section = value.section;
        const std::uint32_t minimum = simulation.GetUInt(section, "Min", 0);
        const std::uint32_t maximum = simulation.GetUInt(section, "Max", 0);
        const std::uint32_t minAlarm = simulation.GetUInt(section, "MinAlarm", 0);
        const std::uint32_t maxAlarm = simulation.GetUInt(section, "MaxAlarm", 0);
        std::uint32_t v = simulation.GetUInt(section, "CurrentValue", 0);
        const int step = simulation.GetInt(section, "Step", 0);
        std::string note;
        if (step != 0) {
            // Unsigned arithmetic: a value below zero wraps to a large number
            // and so counts as above the maximum.
            v += static_cast<std::uint32_t>(step);
            if (v > maximum || v < minimum) {
                simulation.WriteInt(section, "Step", Reversed(step));
                v -= 2u * static_cast<std::uint32_t>(step);
                // A step wider than the range, or a value that started outside
                // it, would otherwise leave the value outside its limits.
                if (minimum <= maximum)
                    v = std::clamp(v, minimum, maximum);
            }
            note = "Set '" + section + "' to " + std::to_string(static_cast<std::int32_t>(v)) + ".";
            simulation.WriteInt(section, "CurrentValue", static_cast<int>(v));
        }
        ValueMember(index) = v;
        for (std::size_t r = 0; r < value.ruleCount; ++r) {
            const SAlarmRule& rule = value.rules[r];
            if (!Holds(rule.condition, v, minAlarm, maxAlarm))
                continue;
            // The text keeps growing, so a second alarm of one value carries both names.
            note += " -> ";
            note += rule.name;
            m_alarmNotes.push_back(note);
            RaiseAlarm(*rule.alarm);
        }
    }
    RemoveStaleAlarms();
    FollowPowerSource();
}

} // namespace pvx
