// The recorder of the event log and the history, and the log's file.
#include "service/StatusRecorder.h"

#include "events/PVXException.h"
#include "http/StatusNames.h"
#include "platform/Portability.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace pvx {

namespace {

// At most one write of the log file in this many seconds: an alarm that
// comes and goes every pass must not rewrite the file every pass.
constexpr std::time_t kWriteInterval = 10;

constexpr int kOnBattery = 5; // upsOutputSource battery

} // namespace

CStatusRecorder::CStatusRecorder(std::string configuredName, std::string logPath)
    : m_logPath(std::move(logPath))
{
    m_records.name = std::move(configuredName);
    m_records.noUpsSince = GetWallSeconds();
    m_fillDay = !GetEnvironment("PVX_TEST_FILL_HISTORY").empty();
    if (m_logPath.empty())
        return;
    DiscardStaleReplacement(m_logPath);
    std::string contents;
    if (IsMissingFile(m_logPath))
        return;
    if (!ReadFileBounded(m_logPath, CEventLog::kMaxFileBytes + 1, false, contents) || !m_records.events.Load(contents)) {
        CPVXException event(EVENT_EVENT_LOG_UNREADABLE);
        event.SetDetail(m_logPath);
        event.Report(EPriority::Warning);
    }
    m_writtenGeneration = m_records.events.Generation();
}

void CStatusRecorder::Observe(const CAbstractUPS* ups)
{
    const std::time_t now = GetWallSeconds();
    const bool connected = ups != nullptr && ups->IsConnected();
    if (connected) {
        ups->GetReadings(m_readings);
        const std::string& name = m_readings.name.empty() ? m_readings.model : m_readings.name;
        if (!name.empty() && name != m_records.name)
            m_records.name = name;
        if (!m_connected)
            m_records.events.Add(EEventKind::UpsFound, now, std::nullopt, m_records.name);
        m_records.noUpsSince.reset();
        ObserveAlarms(now);
    } else {
        if (m_connected || !m_records.noUpsSince)
            m_records.noUpsSince = now;
        if (m_connected)
            m_records.events.Add(EEventKind::UpsLost, now, std::nullopt, m_records.name);
        m_alarmCount = 0; // a UPS found again raises its alarms afresh
    }
    m_connected = connected;
    if (!m_records.history.HasMinute(now)) {
        const SHistorySample sample = Sample(now);
        if (m_fillDay && connected) {
            FillDay(now, sample);
            m_fillDay = false;
        }
        m_records.history.Add(sample);
    }
    if (m_records.events.Generation() != m_writtenGeneration && now - m_lastWrite >= kWriteInterval)
        Flush();
}

void CStatusRecorder::ObserveAlarms(std::time_t now)
{
    // Gone: every tracked alarm the model no longer holds, in the order raised.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_alarmCount; ++i) {
        const STrackedAlarm& alarm = m_alarms[i];
        const bool present = std::ranges::any_of(m_readings.alarms, [&](const SAlarmReading& r) { return r.id == alarm.id; });
        if (present) {
            m_alarms[kept++] = alarm;
            continue;
        }
        m_records.events.Add(EEventKind::AlarmCleared, now, now - alarm.since,
                             std::string_view(alarm.text.data(), alarm.textLength));
    }
    m_alarmCount = kept;
    // New: every alarm the model holds that is not tracked yet, oldest first.
    for (const SAlarmReading& reading : m_readings.alarms) {
        const bool tracked = std::any_of(m_alarms.begin(), m_alarms.begin() + static_cast<std::ptrdiff_t>(m_alarmCount),
                                         [&](const STrackedAlarm& a) { return a.id == reading.id; });
        if (tracked || m_alarmCount == kMaxTracked)
            continue;
        STrackedAlarm& alarm = m_alarms[m_alarmCount++];
        alarm.id = reading.id;
        alarm.since = now - static_cast<std::time_t>(reading.secondsAgo);
        const std::string words = status::AlarmWords(reading.descriptor);
        alarm.textLength = static_cast<std::uint8_t>(std::min(words.size(), alarm.text.size()));
        std::memcpy(alarm.text.data(), words.data(), alarm.textLength);
        m_records.events.Add(EEventKind::AlarmRaised, alarm.since, std::nullopt, words);
    }
}

SHistorySample CStatusRecorder::Sample(std::time_t now) const
{
    SHistorySample s;
    s.time = now;
    if (!m_connected)
        return s;
    const SUPSReadings& r = m_readings;
    s.connected = true;
    s.onBattery = r.outputSource == kOnBattery;
    auto set = [&s](EHistoryValue value, std::int64_t v) { s.values[static_cast<std::size_t>(value)] = static_cast<std::int32_t>(v); };
    if (r.chargeRemaining && r.Measures(EMeasurement::BatteryCharge))
        set(EHistoryValue::Charge, *r.chargeRemaining);
    if (r.Measures(EMeasurement::Runtime))
        set(EHistoryValue::Runtime, r.minutesRemaining);
    if (!r.outputLines.empty() && r.Measures(EMeasurement::OutputLoad)) {
        std::uint32_t load = 0;
        for (const SOutputLine& line : r.outputLines)
            load = std::max(load, line.percentLoad);
        set(EHistoryValue::Load, load);
    }
    if (!r.inputLines.empty() && r.Measures(EMeasurement::InputVoltage))
        set(EHistoryValue::InputVoltage, r.inputLines[0].voltage);
    if (r.Measures(EMeasurement::BatteryTemperature))
        set(EHistoryValue::BatteryTemperature, r.batteryTemperature);
    return s;
}

void CStatusRecorder::FillDay(std::time_t now, const SHistorySample& from)
{
    // A day shaped like a working day: load and voltage swing with the hour,
    // and one 20-minute outage three hours ago drains the battery.
    m_records.history.Clear();
    constexpr std::time_t kOutageStart = 180, kOutageMinutes = 20;
    for (std::time_t ago = CHistory::kCapacity - 1; ago > 0; --ago) {
        SHistorySample s = from;
        s.time = now - ago * CHistory::kInterval;
        const double phase = std::sin(static_cast<double>(ago) * 2 * 3.14159265 / CHistory::kCapacity);
        const std::time_t intoOutage = kOutageStart - ago;
        s.onBattery = intoOutage >= 0 && intoOutage < kOutageMinutes;
        const std::time_t drained = s.onBattery ? intoOutage * 3 : std::max<std::time_t>(0, 60 - (intoOutage - kOutageMinutes) * 2);
        auto shift = [&s](EHistoryValue value, double by, std::int32_t low, std::int32_t high) {
            std::int32_t& v = s.values[static_cast<std::size_t>(value)];
            if (v != SHistorySample::kMissing)
                v = std::clamp(static_cast<std::int32_t>(std::lround(v + by)), low, high);
        };
        shift(EHistoryValue::Load, 15 * phase, 0, 150);
        shift(EHistoryValue::InputVoltage, s.onBattery ? -1000 : 4 * phase, 0, 300);
        shift(EHistoryValue::Charge, intoOutage >= 0 ? -static_cast<double>(drained) : 0, 0, 100);
        shift(EHistoryValue::Runtime, intoOutage >= 0 ? -static_cast<double>(drained) / 3 : 0, 0, 1000);
        shift(EHistoryValue::BatteryTemperature, 2 * phase, -40, 100);
        m_records.history.Add(s);
    }
}

void CStatusRecorder::Flush()
{
    if (m_logPath.empty() || m_records.events.Generation() == m_writtenGeneration)
        return;
    m_lastWrite = GetWallSeconds();
    if (!ReplaceFileContents(m_logPath, m_records.events.Serialize())) {
        CPVXException event(EVENT_EVENT_LOG_UNWRITTEN);
        event.SetDetail(m_logPath + ": " + std::strerror(errno));
        event.Report(EPriority::Warning);
    }
    // Tried once per change: a folder that refuses is reported once per event, not every pass.
    m_writtenGeneration = m_records.events.Generation();
}

void CStatusRecorder::OnPowerEvent(const power::SPowerEvent& event)
{
    const std::optional<EEventKind> kind = power::EventLogKind(event.kind);
    if (!kind)
        return;
    std::optional<std::int64_t> duration;
    if (event.kind == power::EPowerEvent::PowerRestored)
        duration = event.durationSeconds;
    m_records.events.Add(*kind, event.wallTime, duration, event.detail);
}

} // namespace pvx
