#include "service/NetworkWait.h"

#include "http/HttpServer.h"
#include "nut/NutServer.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "snmp/agent/SNMPAgent.h"

#include <algorithm>

namespace pvx {

SWaitOutcome ServeWhileWaiting(CSNMPAgent* agent, CNetXCPAgent* relay, CAbstractUPS* ups, std::uint32_t ms,
                               bool endOnRelay, CHttpServer* http, nut::CServer* nut)
{
    // Bit i of a readiness mask stands for sockets[i].
    constexpr int kSnmpReady = 1;
    constexpr int kHttpReady = 4;
    constexpr int kNutReady = 8;
    constexpr int kServersReady = kHttpReady | kNutReady;
    // SNMP requests served in a row before the other services get a turn.
    constexpr unsigned kSnmpBurst = 64;
    SWaitOutcome outcome;
    const int sockets[] = {
        agent != nullptr ? agent->GetSocket() : -1,
        relay != nullptr ? relay->GetSocket() : -1,
        http != nullptr ? http->GetDescriptor() : -1,
        nut != nullptr ? nut->GetDescriptor() : -1,
    };
    const std::uint64_t deadline = GetMonotonicMilliseconds() + ms;
    for (;;) {
        if (agent != nullptr)
            agent->ServeDeferred(ups); // a SET kept while the serial line waited
        const std::uint64_t now = GetMonotonicMilliseconds();
        const auto remaining = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
        const unsigned served = outcome.snmpServed + outcome.relayServed + outcome.httpRuns + outcome.nutRuns;
        if (served > 0 && remaining == 0)
            return outcome;
        // The servers' own timers (idle connections) may end the poll early.
        // Requests a batch took from the socket and the deadline cut off
        // come first, without waiting.
        const bool received = agent != nullptr && agent->HasReceivedRequests();
        std::uint32_t waitMs = http != nullptr ? http->TimeoutWithin(remaining) : remaining;
        if (nut != nullptr)
            waitMs = nut->TimeoutWithin(waitMs);
        if (received)
            waitMs = 0;
        int ready = WaitReadableMask(sockets, waitMs);
        if (received && ready >= 0)
            ready |= kSnmpReady;
        if (ready < 0) {
            // A failing poll must not turn the wait into a spin.
            Sleep(remaining);
            return outcome;
        }
        if (ready == 0 && waitMs == remaining)
            return outcome;
        // SNMP keeps its precedence: every request waiting is served before
        // the other services get their next turn, up to a bound so that they
        // are not starved.
        if ((ready & kSnmpReady) != 0)
            outcome.snmpServed += std::max(1u, agent->ServeBatch(ups, deadline, kSnmpBurst));
        // Readable, or a time-out came: never blocks, never ends the wait.
        if (http != nullptr && (ready == 0 || (ready & kHttpReady) != 0)) {
            http->Run(ups);
            ++outcome.httpRuns;
        }
        if (nut != nullptr && (ready == 0 || (ready & kNutReady) != 0)) {
            nut->Run(ups);
            ++outcome.nutRuns;
        }
        if ((ready & ~kServersReady) == 0 || (ready & kSnmpReady) != 0)
            continue; // poll again: SNMP first
        relay->RelayRequests(ups); // ready, so it exists
        ++outcome.relayServed;
        if (endOnRelay)
            return outcome;
    }
}

} // namespace pvx
