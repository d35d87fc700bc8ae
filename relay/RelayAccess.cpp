// Which datagrams the relay handles, and the counts of those it drops.
#include "relay/NetXCPAgent.h"

#include "ups/AbstractUPS.h"

namespace pvx {

bool CNetXCPAgent::Admits(const CAbstractUPS* ups)
{
    // Before any frame is looked at: a source outside NetXCP/Clients gets
    // nothing, and nothing of its datagram reaches the UPS.
    if (!m_clients.Matches(m_received.address)) {
        ++m_counters->relayNotClient;
        return false;
    }
    // A UPS given up for lost (its values reset) is no UPS for the relay.
    if (ups == nullptr || !ups->IsConnected()) {
        ++m_counters->relayNoUps;
        return false;
    }
    ++m_counters->relayServed;
    return true;
}

} // namespace pvx
