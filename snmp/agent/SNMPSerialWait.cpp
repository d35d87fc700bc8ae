// Serving while the serial line waits for a UPS reply: reads are answered
// from the model as at any other time, but a SET may need the line itself,
// so it is kept and applied once the exchange is over.
#include "snmp/agent/SNMPAgent.h"

namespace pvx {

void CSNMPAgent::ServeRequestDuringSerialWait(CAbstractUPS* ups)
{
    if (m_servingNow)
        return; // the agent's own request is what waits on the line
    m_deferSets = true;
    ServeRequest(ups);
    m_deferSets = false;
}

void CSNMPAgent::ServeDeferred(CAbstractUPS* ups)
{
    if (!m_deferred || m_servingNow || m_deferSets)
        return;
    try {
        m_datagram = *m_deferred;
        m_deferred.reset();
        Answer(ProcessRequest(ups));
    } catch (...) {
    }
}

CSNMPAgent::ERequestOutcome CSNMPAgent::DeferSet()
{
    // Only one SET waits: a second in the same exchange is answered as a
    // busy UPS would make it answered.
    if (m_deferred)
        return BuildErrorReply(SNMP_GEN_ERR, 0);
    m_deferred = m_datagram;
    m_deferredNow = true;
    return ERequestOutcome::Dropped;
}

} // namespace pvx
