// One pass of the power policy.
#include "power/PowerPolicy.h"

namespace pvx::power {

CPowerPolicy::CPowerPolicy()
{
    m_monitor.AddObserver(m_log);
    m_monitor.AddObserver(m_notify);
}

void CPowerPolicy::Configure(const SPowerSettings& settings)
{
    m_log.SetEnabled(settings.logEvents);
    m_notify.Configure(settings.notifyCommand, settings.notifyTimeoutSeconds);
    m_shutdown.Configure(settings.shutdown);
}

void CPowerPolicy::Pass(CAbstractUPS* ups, bool newUps, IClientHosts* hosts)
{
    m_monitor.Observe(ups, newUps, hosts != nullptr && hosts->IsFSDRaised());
    m_shutdown.Step(m_monitor, ups, hosts);
    m_notify.Poll();
}

} // namespace pvx::power
