// The model's values copied for read-only displays, in the units the MIB
// serves them, with the same derived values (battery status, time left).
#include "ups/Readings.h"

#include "platform/Portability.h"

#include <algorithm>

namespace pvx {

namespace {

constexpr std::uint32_t kChargeUnknown = 0xFFFFFFFF;

template <typename Line, std::size_t N>
void AssignFirstLines(std::vector<Line>& into, const std::array<Line, N>& lines, std::uint32_t count)
{
    into.assign(lines.begin(), lines.begin() + std::min<std::size_t>(count, N));
}

std::optional<std::int64_t> SecondsUntil(std::int64_t due)
{
    auto ms = CAbstractUPS::MillisecondsUntil(due);
    if (!ms)
        return std::nullopt;
    return *ms / 1000;
}

} // namespace

SUPSReadings CAbstractUPS::GetReadings() const
{
    SUPSReadings r;
    GetReadings(r);
    return r;
}

void CAbstractUPS::GetReadings(SUPSReadings& r) const
{
    r.manufacturer = m_manufacturer;
    r.model = m_model;
    r.softwareVersion = m_upsSoftwareVersion;
    r.name = m_upsName;
    r.attachedDevices = m_attachedDevices;
    r.outputSource = m_outputSource;
    r.batteryStatus = BatteryStatus();
    r.secondsOnBattery = m_secondsOnBattery;
    r.minutesRemaining = m_minutesRemaining;
    r.chargeRemaining.reset();
    if (m_chargeRemaining != kChargeUnknown)
        r.chargeRemaining = std::min<std::uint32_t>(m_chargeRemaining, 100);
    r.batteryVoltage = m_batteryVoltage;
    r.batteryCurrent = m_batteryCurrent;
    r.batteryTemperature = m_batteryTemperature;
    r.ambientTemperature = m_ambientTemperature;
    r.inputLineBads = m_inputLineBads;
    AssignFirstLines(r.inputLines, m_inputLines, m_inputLineCount);
    r.outputFrequency = m_outputFrequency;
    AssignFirstLines(r.outputLines, m_outputLines, m_outputLineCount);
    r.bypassFrequency = m_bypassFrequency;
    AssignFirstLines(r.bypassLines, m_bypassLines, m_bypassLineCount);
    const std::uint32_t now = GetMilliseconds(); // the clock alarm times are read on
    r.alarms.clear();
    for (const SAlarmEntry& alarm : m_alarms)
        r.alarms.push_back({ alarm.id, alarm.descriptor, (now - alarm.time) / 1000 });
    r.testResultSummary = m_testResultSummary;
    r.testResultDetail = m_testResultDetail;
    r.secondsToShutdown = SecondsUntil(m_shutdownDue);
    r.secondsToStartup = SecondsUntil(m_startupDue);
    r.testId = m_testId;
    r.batteryChargeState = m_batteryChargeState;
    r.audibleStatus = m_audibleStatus;
    r.lowBatteryMinutes = m_lowBatteryTime;
    r.nominalOutputVA = m_nominalOutputVA;
    r.measured = 0;
    for (unsigned value = 0; value <= static_cast<unsigned>(EMeasurement::OutputPower); ++value)
        if (Measures(static_cast<EMeasurement>(value)))
            r.measured |= 1u << value;
}

} // namespace pvx
