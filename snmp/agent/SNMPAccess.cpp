// Who the agent listens to: the source lists, the counts of what it served
// and dropped, and the rate bound of its authenticationFailure traps.
#include "snmp/agent/SNMPAgent.h"

namespace pvx {

void CSNMPAgent::SetSourceLists(CAddressList readManagers, CAddressList setManagers)
{
    m_readManagers = std::move(readManagers);
    m_setManagers = std::move(setManagers);
}

bool CSNMPAgent::AdmitsSource()
{
    if (m_readManagers.Matches(m_datagram.address))
        return true;
    ++m_counters->snmpNotReadManager;
    return false;
}

bool CSNMPAgent::AdmitsSetSource()
{
    // Refused like a wrong community (no reply), but without the trap: the
    // source list is the operator's own filter, not a failed authentication.
    if (m_setManagers.Matches(m_datagram.address))
        return true;
    ++m_counters->snmpNotSetManager;
    return false;
}

void CSNMPAgent::CountOutcome(ERequestOutcome outcome)
{
    switch (outcome) {
    case ERequestOutcome::Answered:
        ++m_counters->snmpServed;
        break;
    case ERequestOutcome::AuthenticationFailure:
        ++m_counters->snmpBadCommunity;
        break;
    case ERequestOutcome::Dropped:
        ++m_counters->snmpUnserved;
        break;
    case ERequestOutcome::Refused:
        break; // counted by the gate that refused it
    }
}

void CSNMPAgent::ReportAuthenticationFailure()
{
    if (m_authFailureLimiter.Admit(m_datagram.address))
        SendAuthenticationFailure();
    else
        ++m_counters->authTrapsSuppressed;
}

} // namespace pvx
