// Running the notification and shutdown commands.
#include "power/Commands.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "ups/StatusNames.h"

#include <algorithm>
#include <utility>

namespace pvx::power {

namespace {

// A clean environment: nothing of pvx's own leaks into the command.
constexpr const char* kPath = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

} // namespace

std::vector<std::string> EventEnvironment(const SPowerEvent& event, unsigned coalesced)
{
    const SPowerState& s = event.state;
    std::vector<std::string> env {
        kPath,
        std::string("PVX_EVENT=") + EventName(event.kind),
        "PVX_TIME=" + std::to_string(event.wallTime),
        "PVX_UPS_NAME=" + s.upsName,
        "PVX_CONNECTED=" + std::string(s.connected ? "1" : "0"),
        "PVX_CHARGE=" + (s.chargePercent ? std::to_string(*s.chargePercent) : std::string()),
        "PVX_RUNTIME=" + (s.runtimeSeconds ? std::to_string(*s.runtimeSeconds) : std::string()),
        std::string("PVX_OUTPUT_SOURCE=") + SourceName(s.outputSource),
        "PVX_BATTERY_STATUS=" + status::KeyOf(status::kBatteryStatuses, s.batteryStatus),
        "PVX_SECONDS_ON_BATTERY=" + std::to_string(s.secondsOnBattery),
        "PVX_ALARMS=" + s.alarms,
        "PVX_DETAIL=" + event.detail,
        "PVX_COALESCED=" + std::to_string(coalesced),
    };
    if (event.kind == EPowerEvent::PowerRestored)
        env.push_back("PVX_DURATION=" + std::to_string(event.durationSeconds));
    return env;
}

bool CCommands::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      std::uint64_t timeoutMs, const std::string& label)
{
    SRunning command;
    command.label = label;
    std::string error;
    if (!command.child.Start(argv, environment, error)) {
        Report(command, "cannot start: " + error);
        return false;
    }
    command.deadline = timeoutMs == 0 ? 0 : GetMonotonicMilliseconds() + timeoutMs;
    m_running.push_back(std::move(command));
    return true;
}

void CCommands::Poll()
{
    const std::uint64_t now = GetMonotonicMilliseconds();
    for (auto it = m_running.begin(); it != m_running.end();) {
        const EChildState state = it->child.Poll();
        if (state == EChildState::Running) {
            if (it->deadline != 0 && now >= it->deadline && !it->killed) {
                it->child.Kill();
                it->killed = true;
                Report(*it, "killed at its time-out");
            }
            ++it;
            continue;
        }
        if (!it->killed && (state == EChildState::Signalled || it->child.Status() != 0))
            Report(*it, state == EChildState::Signalled ? "ended by signal " + std::to_string(it->child.Status())
                                                        : "exit status " + std::to_string(it->child.Status()));
        it = m_running.erase(it);
    }
}

void CCommands::Report(const SRunning& command, const std::string& why) const
{
    CPVXException event(EVENT_COMMAND_FAILED_RUN);
    event.SetDetail(std::string(m_key) + " (" + command.label + "): " + why);
    event.Report(EPriority::Warning);
}

void CNotifyCommand::Configure(std::vector<std::string> argv, unsigned timeoutSeconds)
{
    m_argv = std::move(argv);
    m_timeoutMs = std::uint64_t { std::max(timeoutSeconds, 1u) } * 1000; // every command ends
    if (m_argv.empty())
        m_pending = false;
}

void CNotifyCommand::OnPowerEvent(const SPowerEvent& event)
{
    if (m_argv.empty())
        return;
    m_commands.Poll(); // a place may have freed since the pass began
    if (m_commands.Running() < kMaxRunning && !m_pending) {
        Run(event, 0);
        return;
    }
    if (m_pending)
        ++m_coalesced;
    m_pending = true;
    m_pendingEvent = event;
}

void CNotifyCommand::Poll()
{
    m_commands.Poll();
    if (m_pending && m_commands.Running() < kMaxRunning) {
        m_pending = false;
        Run(m_pendingEvent, std::exchange(m_coalesced, 0));
    }
}

void CNotifyCommand::Run(const SPowerEvent& event, unsigned coalesced)
{
    m_commands.Start(m_argv, EventEnvironment(event, coalesced), m_timeoutMs, EventName(event.kind));
}

} // namespace pvx::power
