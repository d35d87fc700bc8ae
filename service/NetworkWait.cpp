#include "service/NetworkWait.h"

#include "http/HttpServer.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "snmp/agent/SNMPAgent.h"

namespace pvx {

SWaitOutcome ServeWhileWaiting(CSNMPAgent* agent, CNetXCPAgent* relay, CAbstractUPS* ups, std::uint32_t ms,
                               bool endOnRelay, CHttpServer* http)
{
    // Bit i of a readiness mask stands for sockets[i].
    constexpr int kSnmpReady = 1;
    constexpr int kHttpReady = 4;
    SWaitOutcome outcome;
    const int sockets[] = {
        agent != nullptr ? agent->GetSocket() : -1,
        relay != nullptr ? relay->GetSocket() : -1,
        http != nullptr ? http->GetDescriptor() : -1,
    };
    const std::uint64_t deadline = GetMonotonicMilliseconds() + ms;
    for (;;) {
        if (agent != nullptr)
            agent->ServeDeferred(ups); // a SET kept while the serial line waited
        const std::uint64_t now = GetMonotonicMilliseconds();
        const auto remaining = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
        const unsigned served = outcome.snmpServed + outcome.relayServed + outcome.httpRuns;
        if (served > 0 && remaining == 0)
            return outcome;
        // The HTTP server's own timers (idle connections) may end the poll early.
        const std::uint32_t waitMs = http != nullptr ? http->TimeoutWithin(remaining) : remaining;
        const int ready = WaitReadableMask(sockets, waitMs);
        if (ready < 0) {
            // A failing poll must not turn the wait into a spin.
            Sleep(remaining);
            return outcome;
        }
        if (ready == 0 && waitMs == remaining)
            return outcome;
        if (ready == 0 || (ready & kHttpReady) != 0) {
            // Readable, or its time-out came: never blocks, never ends the wait.
            http->Run(ups);
            ++outcome.httpRuns;
            if ((ready & ~kHttpReady) == 0)
                continue;
        }
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
