#include "service/NetworkWait.h"

#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "snmp/agent/SNMPAgent.h"

namespace pvx {

SWaitOutcome ServeWhileWaiting(CSNMPAgent* agent, CNetXCPAgent* relay, CAbstractUPS* ups, std::uint32_t ms,
                               bool endOnRelay)
{
    constexpr int kSnmpReady = 1; // the relay's socket is bit 2
    SWaitOutcome outcome;
    const int agentSocket = agent != nullptr ? agent->GetSocket() : -1;
    const int relaySocket = relay != nullptr ? relay->GetSocket() : -1;
    const std::uint64_t deadline = GetMonotonicMilliseconds() + ms;
    for (;;) {
        const std::uint64_t now = GetMonotonicMilliseconds();
        const auto remaining = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
        const unsigned served = outcome.snmpServed + outcome.relayServed;
        if (served > 0 && remaining == 0)
            return outcome;
        const int ready = WaitReadablePair(agentSocket, relaySocket, remaining);
        if (ready < 0) {
            // A failing poll must not turn the wait into a spin.
            Sleep(remaining);
            return outcome;
        }
        if (ready == 0)
            return outcome;
        // Poll again after every datagram, so that SNMP keeps its precedence.
        if ((ready & kSnmpReady) != 0) {
            agent->ServeRequest(ups);
            ++outcome.snmpServed;
            continue;
        }
        relay->RelayRequests(ups); // ready, so it exists
        ++outcome.relayServed;
        if (endOnRelay)
            return outcome;
    }
}

} // namespace pvx
