// The power policy as the service drives it: settings from pvx.ini, one
// call a pass, and the observers that power events reach.
#pragma once

#include "power/Commands.h"
#include "power/PowerLog.h"
#include "power/PowerMonitor.h"
#include "power/Shutdown.h"

#include <string>
#include <vector>

namespace pvx::power {

struct SPowerSettings {
    bool logEvents = false;
    std::vector<std::string> notifyCommand;
    unsigned notifyTimeoutSeconds = 30;
    SShutdownSettings shutdown;
};

class CPowerPolicy {
public:
    CPowerPolicy();
    CPowerPolicy(const CPowerPolicy&) = delete;
    CPowerPolicy& operator=(const CPowerPolicy&) = delete;

    void Configure(const SPowerSettings& settings);
    // Once a pass: reads the UPS (null when there is none), tells the
    // observers what changed, runs the shutdown sequence and reaps commands.
    void Pass(CAbstractUPS* ups, bool newUps, IClientHosts* hosts);
    // Another observer of the power events (an event log); not owned.
    void AddObserver(IPowerObserver& observer) { m_monitor.AddObserver(observer); }
    const CShutdownSequence& Shutdown() const { return m_shutdown; }

private:
    CPowerMonitor m_monitor;
    CPowerLog m_log;
    CNotifyCommand m_notify;
    CShutdownSequence m_shutdown;
};

} // namespace pvx::power
