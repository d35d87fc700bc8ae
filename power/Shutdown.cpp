// The shutdown sequence of pvx's own host and what makes the UPS critical.
#include "power/Shutdown.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "ups/AbstractUPS.h"

namespace pvx::power {

namespace {

constexpr int kOutputShutdown = 1;

void LogStep(const std::string& text, EPriority priority = EPriority::Notice)
{
    CPVXException line(EVENT_SHUTDOWN_STEP);
    line.SetDetail(text);
    line.Report(priority);
}

std::string Seconds(std::uint64_t s) { return std::to_string(s) + " s"; }

std::string JoinWords(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

bool PowerIsBack(const CPowerMonitor& monitor)
{
    return monitor.IsConnected() && monitor.IsKnown() && !monitor.Conditions().onBattery;
}

} // namespace

std::string CriticalReason(const SShutdownSettings& s, const CPowerMonitor& monitor, std::uint64_t now)
{
    if (!monitor.IsKnown() || !monitor.Conditions().onBattery)
        return {}; // a UPS lost while on line, or never read, starts nothing
    if (!monitor.IsConnected()) {
        const std::uint64_t lost = now - monitor.LostSince();
        if (s.lostSeconds != 0 && lost >= std::uint64_t { s.lostSeconds } * 1000)
            return "the UPS was lost on battery " + Seconds(lost / 1000) + " ago (Shutdown/LostSeconds)";
        return {};
    }
    if (monitor.Conditions().battery != 0)
        return monitor.Conditions().battery == 2 ? "depleted battery" : "low battery";
    const SUPSReadings& r = monitor.Readings();
    if (s.minimumRuntimeSeconds != 0 && r.Measures(EMeasurement::Runtime)
        && r.minutesRemaining * 60 < s.minimumRuntimeSeconds)
        return "run time left " + Seconds(r.minutesRemaining * 60) + " (Shutdown/MinimumRuntimeSeconds)";
    const std::uint64_t onBattery = now - monitor.OnBatterySince();
    if (s.onBatterySeconds != 0 && onBattery >= std::uint64_t { s.onBatterySeconds } * 1000)
        return "on battery for " + Seconds(onBattery / 1000) + " (Shutdown/OnBatterySeconds)";
    return {};
}

void CShutdownSequence::Configure(SShutdownSettings settings) { m_settings = std::move(settings); }

void CShutdownSequence::Step(CPowerMonitor& monitor, CAbstractUPS* ups, IClientHosts* hosts)
{
    m_commands.Poll();
    const std::uint64_t now = GetMonotonicMilliseconds();
    switch (m_step) {
    case EStep::Idle:
        if (m_settings.enabled)
            if (std::string reason = CriticalReason(m_settings, monitor, now); !reason.empty())
                Begin(monitor, hosts, reason, now);
        break;
    case EStep::WaitingForClients:
        if (!m_settings.enabled)
            Cancel(monitor, hosts, "Shutdown/Enabled was turned off");
        else if (PowerIsBack(monitor))
            Cancel(monitor, hosts, "the power returned before Shutdown/Command ran");
        else if (hosts == nullptr || hosts->LoggedInClients() == 0 || now >= m_deadline)
            Finish(monitor, ups, hosts);
        break;
    case EStep::Done:
        // A real shutdown runs once a start; a dry run may be tried again.
        if (m_settings.dryRun && PowerIsBack(monitor)) {
            LogStep("DryRun: the power returned; the next outage runs the sequence again.");
            m_step = EStep::Idle;
        }
        break;
    }
}

void CShutdownSequence::Begin(CPowerMonitor& monitor, IClientHosts* hosts, const std::string& reason,
                              std::uint64_t now)
{
    CPVXException begun(EVENT_SHUTDOWN_BEGUN);
    begun.SetDetail((m_settings.dryRun ? "DryRun: " : "") + reason + ".");
    begun.Report(EPriority::Warning);
    monitor.Emit(EPowerEvent::ShutdownBegun, reason);
    m_deadline = now + std::uint64_t { m_settings.hostSyncSeconds } * 1000;
    m_step = EStep::WaitingForClients;
    if (hosts == nullptr) {
        LogStep("No RFC 9271 server: no clients to wait for.");
        return;
    }
    const std::string wait = "; waiting up to " + Seconds(m_settings.hostSyncSeconds) + " for "
        + std::to_string(hosts->LoggedInClients()) + " logged-in clients to log out.";
    if (m_settings.dryRun) {
        LogStep("DryRun: FSD would be raised" + wait);
        return;
    }
    m_raisedFsd = !hosts->IsFSDRaised();
    hosts->RaiseFSD();
    LogStep("FSD raised" + wait);
}

void CShutdownSequence::Finish(CPowerMonitor& /*monitor*/, CAbstractUPS* ups, IClientHosts* hosts)
{
    const std::string prefix = m_settings.dryRun ? "DryRun: " : "";
    if (hosts != nullptr) {
        const unsigned left = hosts->LoggedInClients();
        LogStep(prefix
             + (left == 0 ? std::string("No client is logged in any more.")
                          : std::to_string(left) + " clients still logged in after Shutdown/HostSyncSeconds; going on."));
    }
    m_step = EStep::Done;
    if (m_settings.upsOffDelaySeconds != 0)
        SwitchUPSOff(ups);
    if (m_settings.command.empty()) {
        LogStep(prefix + "No Shutdown/Command is set: this host is left running.", EPriority::Warning);
        return;
    }
    const std::string command = JoinWords(m_settings.command);
    if (m_settings.dryRun) {
        LogStep("DryRun: Shutdown/Command would run now: " + command);
        return;
    }
    LogStep("Running Shutdown/Command: " + command);
    SPowerEvent event;
    event.kind = EPowerEvent::ShutdownBegun;
    event.wallTime = GetWallSeconds();
    m_commands.Start(m_settings.command, EventEnvironment(event, 0), 0, "shutdown");
}

void CShutdownSequence::SwitchUPSOff(CAbstractUPS* ups)
{
    // An XCP UPS counts the delay in whole minutes and takes less than half a
    // minute as "now": rounded up, the output never goes off before the delay.
    const unsigned delay = (m_settings.upsOffDelaySeconds + 59) / 60 * 60;
    const std::string what = "the UPS's output off in " + Seconds(delay) + ", on again when the power returns";
    if (m_settings.dryRun) {
        LogStep("DryRun: would switch " + what + ".");
        return;
    }
    if (ups == nullptr || !ups->IsConnected()) {
        LogStep("The UPS is not connected: its output cannot be switched off.", EPriority::Warning);
        return;
    }
    // The delayed output shutdown that upsShutdownAfterDelay sets (RFC 1628);
    // the UPS starts again when its input returns.
    const auto due = CAbstractUPS::DueTimeAfter(CAbstractUPS::Now(), delay);
    try {
        if (!ups->CanShutdown(kOutputShutdown) || !due)
            throw CPVXException(EVENT_COMMAND_FAILED);
        ups->ScheduleShutdown(*due, { .rewarn = true, .outputShutdown = true });
        LogStep("Switching " + what + ".");
    } catch (const CPVXException& event) {
        LogStep("The UPS did not take the delayed shutdown: " + what + " fails.", EPriority::Warning);
        event.Report(EPriority::Warning);
    }
}

void CShutdownSequence::Cancel(CPowerMonitor& monitor, IClientHosts* hosts, const std::string& why)
{
    LogStep("Cancelled: " + why + (m_raisedFsd && hosts != nullptr ? "; FSD taken back." : "."));
    if (m_raisedFsd && hosts != nullptr)
        hosts->ClearFSD();
    m_raisedFsd = false;
    m_step = EStep::Idle;
    monitor.Emit(EPowerEvent::ShutdownCancelled, why);
}

} // namespace pvx::power
