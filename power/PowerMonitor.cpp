// Power events from the model's state: what counts as each condition, and
// the events its changes make.
#include "power/PowerMonitor.h"

#include "platform/Portability.h"
#include "ups/StatusNames.h"

#include <algorithm>

namespace pvx::power {

namespace {

// A new UPS object holds the model's defaults until its driver has read the
// status block; after this many passes it counts as read all the same.
constexpr unsigned kPassesToFirstReading = 8;

bool Has(const SUPSReadings& r, int alarm)
{
    return status::HasWellKnownAlarm(r, alarm);
}

// How each condition changing one way or the other is told.
struct SChange {
    bool SConditions::*flag;
    EPowerEvent raised, cleared;
    const char* clearedWords;
};
constexpr SChange kChanges[] = {
    { &SConditions::replaceBattery, EPowerEvent::ReplaceBattery, EPowerEvent::ReplaceBatteryCleared,
      "battery needs replacing" },
    { &SConditions::overload, EPowerEvent::Overload, EPowerEvent::OverloadEnded, "overload" },
    { &SConditions::onBypass, EPowerEvent::OnBypass, EPowerEvent::BypassEnded, "on bypass" },
    { &SConditions::outputOff, EPowerEvent::OutputOff, EPowerEvent::OutputOn, "output off" },
};

} // namespace

SConditions ConditionsOf(const SUPSReadings& r, const SConditions& last)
{
    SConditions c;
    // A status block that could not be read leaves the source "other": what
    // the source told last pass stands then, so that one bad read is no outage.
    const bool sourceKnown = r.outputSource != status::kSourceOther;
    c.onBattery = (sourceKnown ? r.outputSource == status::kSourceBattery : last.onBattery) || Has(r, 2);
    // The UPS's own alarms first; its run time only once it has reported one,
    // and only on battery, as a NUT primary reads LB.
    const bool runtimeKnown = r.Measures(EMeasurement::Runtime);
    const bool lowMarkKnown = r.Measures(EMeasurement::LowBatteryTime);
    if (Has(r, 4) || (c.onBattery && runtimeKnown && r.minutesRemaining == 0))
        c.battery = 2;
    else if (Has(r, 3) || (c.onBattery && runtimeKnown && lowMarkKnown && r.minutesRemaining <= r.lowBatteryMinutes))
        c.battery = 1;
    c.replaceBattery = Has(r, 1);
    c.overload = Has(r, 8);
    c.onBypass = (sourceKnown ? r.outputSource == status::kSourceBypass : last.onBypass) || Has(r, 9);
    c.outputOff = (sourceKnown ? r.outputSource == status::kSourceNone : last.outputOff) || Has(r, 14);
    c.testRunning = r.testResultSummary == status::kTestInProgress;
    return c;
}

void StateOf(const SUPSReadings& r, SPowerState& s)
{
    s.upsName = r.name;
    s.chargePercent = r.chargeRemaining;
    s.runtimeSeconds.reset();
    if (r.Measures(EMeasurement::Runtime))
        s.runtimeSeconds = r.minutesRemaining * 60;
    s.outputSource = r.outputSource;
    s.batteryStatus = r.batteryStatus;
    s.secondsOnBattery = r.secondsOnBattery;
    s.alarms.clear();
    for (const SAlarmReading& alarm : r.alarms) {
        if (!s.alarms.empty())
            s.alarms += ' ';
        const int n = status::WellKnownAlarm(alarm.descriptor);
        s.alarms += n != 0 ? status::KeyOf(status::kAlarms, n) : alarm.descriptor.ToString();
    }
}

void CPowerMonitor::Emit(EPowerEvent kind, std::string detail, std::uint32_t durationSeconds)
{
    m_event.kind = kind;
    m_event.wallTime = GetWallSeconds();
    m_event.durationSeconds = durationSeconds;
    m_event.detail = std::move(detail);
    m_event.state.connected = m_connected;
    for (IPowerObserver* observer : m_observers)
        observer->OnPowerEvent(m_event);
}

void CPowerMonitor::Observe(const CAbstractUPS* ups, bool newUps, bool fsd)
{
    const std::uint64_t now = GetMonotonicMilliseconds();
    if (fsd && !m_fsd)
        Emit(EPowerEvent::FsdRaised);
    m_fsd = fsd;
    if (newUps) {
        m_passes = 0;
        m_read = false;
    }
    if (ups == nullptr || !ups->IsConnected()) {
        if (m_connected) {
            m_connected = false;
            m_lostSince = now;
            Emit(EPowerEvent::UpsLost);
        }
        return;
    }
    ups->GetReadings(m_readings);
    if (!m_read) {
        m_read = m_readings.outputSource != status::kSourceOther || ++m_passes >= kPassesToFirstReading;
        if (!m_read)
            return;
    }
    StateOf(m_readings, m_event.state);
    if (!m_connected) {
        m_connected = true;
        if (m_everConnected)
            Emit(EPowerEvent::UpsFound);
        m_everConnected = true;
    }
    Compare(ConditionsOf(m_readings, m_last), now);
}

void CPowerMonitor::Compare(const SConditions& c, std::uint64_t now)
{
    // Before the first reading every condition counts as normal, so a UPS
    // found on battery is told as such.
    const SConditions was = m_last;
    m_last = c;
    m_known = true;
    if (c.onBattery && !was.onBattery) {
        // The UPS's own count, when it has one, dates an outage pvx came into.
        m_onBatterySince = now - std::min<std::uint64_t>(now, std::uint64_t { m_readings.secondsOnBattery } * 1000);
        Emit(EPowerEvent::OnBattery);
    } else if (!c.onBattery && was.onBattery) {
        Emit(EPowerEvent::PowerRestored, {}, static_cast<std::uint32_t>((now - m_onBatterySince + 500) / 1000));
    }
    if (c.battery > was.battery)
        Emit(c.battery == 2 ? EPowerEvent::BatteryDepleted : EPowerEvent::LowBattery);
    else if (c.battery == 0 && was.battery != 0)
        Emit(EPowerEvent::BatteryNormal, "low battery");
    for (const SChange& change : kChanges) {
        if (c.*change.flag && !(was.*change.flag))
            Emit(change.raised);
        else if (!(c.*change.flag) && was.*change.flag)
            Emit(change.cleared, change.clearedWords);
    }
    if (c.testRunning && !was.testRunning) {
        Emit(EPowerEvent::TestStarted);
    } else if (!c.testRunning && was.testRunning) {
        std::string result = status::WordsOf(status::kTestResults, m_readings.testResultSummary);
        if (!m_readings.testResultDetail.empty())
            result += ": " + m_readings.testResultDetail;
        Emit(EPowerEvent::TestCompleted, std::move(result));
    }
}

} // namespace pvx::power
