// Shutting pvx's own host down in order when the UPS becomes critical:
// FSD for the RFC 9271 server's clients, a bounded wait for them to log
// out, the UPS's output off after a delay (on again when the power
// returns), then Shutdown/Command. Power that returns first cancels it.
#pragma once

#include "power/Commands.h"
#include "power/PowerMonitor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pvx {
class CAbstractUPS;
}

namespace pvx::power {

struct SShutdownSettings {
    bool enabled = false;
    bool dryRun = false;
    unsigned minimumRuntimeSeconds = 0; // 0: not used
    unsigned onBatterySeconds = 0; // 0: not used
    unsigned lostSeconds = 15; // 0: not used
    unsigned hostSyncSeconds = 15;
    unsigned upsOffDelaySeconds = 0; // 0: the UPS is left on
    std::vector<std::string> command;
};

// The clients that FSD tells to shut down (the RFC 9271 server).
class IClientHosts {
public:
    virtual ~IClientHosts() = default;
    virtual void RaiseFSD() = 0;
    virtual void ClearFSD() = 0;
    virtual bool IsFSDRaised() const = 0;
    virtual unsigned LoggedInClients() const = 0;
};

// Why the UPS is critical now, or empty when it is not.
std::string CriticalReason(const SShutdownSettings& settings, const CPowerMonitor& monitor, std::uint64_t nowMs);

class CShutdownSequence {
public:
    enum class EStep { Idle, WaitingForClients, Done };

    void Configure(SShutdownSettings settings);
    // Once a pass, after the monitor has read the UPS. `ups` and `hosts` may be null.
    void Step(CPowerMonitor& monitor, CAbstractUPS* ups, IClientHosts* hosts);
    EStep GetStep() const { return m_step; }

private:
    void Begin(CPowerMonitor& monitor, IClientHosts* hosts, const std::string& reason, std::uint64_t now);
    void Finish(CPowerMonitor& monitor, CAbstractUPS* ups, IClientHosts* hosts);
    void Cancel(CPowerMonitor& monitor, IClientHosts* hosts, const std::string& why);
    void SwitchUPSOff(CAbstractUPS* ups);

    SShutdownSettings m_settings;
    EStep m_step = EStep::Idle;
    std::uint64_t m_deadline = 0;
    bool m_raisedFsd = false; // FSD is ours to take back
    CCommands m_commands { "Shutdown/Command" };
};

} // namespace pvx::power
