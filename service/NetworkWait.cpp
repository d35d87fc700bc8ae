#include "service/NetworkWait.h"

#include "http/HttpServer.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "snmp/agent/SNMPAgent.h"

#include <algorithm>
#include <vector>

namespace pvx {

namespace {

constexpr int kHttpReady = 4;

// The readable descriptors as WaitReadablePair reports them: bit i for sockets[i].
int ReadyMask(std::span<const int> sockets, const std::vector<int>& readable)
{
    int mask = 0;
    for (std::size_t i = 0; i < sockets.size(); ++i)
        if (sockets[i] >= 0 && std::ranges::find(readable, sockets[i]) != readable.end())
            mask |= 1 << i;
    return mask;
}

} // namespace

SWaitOutcome ServeWhileWaiting(CSNMPAgent* agent, CNetXCPAgent* relay, CAbstractUPS* ups, std::uint32_t ms,
                               bool endOnRelay, unsigned maxServed, CHttpServer* http)
{
    constexpr int kSnmpReady = 1; // the relay's socket is bit 2
    SWaitOutcome outcome;
    const int agentSocket = agent != nullptr ? agent->GetSocket() : -1;
    const int relaySocket = relay != nullptr ? relay->GetSocket() : -1;
    const int httpDescriptor = http != nullptr ? http->GetDescriptor() : -1;
    const int sockets[] = { agentSocket, relaySocket, httpDescriptor };
    std::vector<int> readable;
    readable.reserve(std::size(sockets));
    const std::uint64_t deadline = GetMonotonicMilliseconds() + ms;
    for (;;) {
        const std::uint64_t now = GetMonotonicMilliseconds();
        const auto remaining = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
        const unsigned served = outcome.snmpServed + outcome.relayServed + outcome.httpRuns;
        if (served > 0 && remaining == 0)
            return outcome;
        if (served >= maxServed) {
            Sleep(remaining);
            return outcome;
        }
        int ready;
        std::uint32_t waitMs = remaining;
        if (http == nullptr) {
            ready = WaitReadablePair(agentSocket, relaySocket, remaining);
        } else {
            waitMs = http->TimeoutWithin(remaining);
            ready = WaitReadable(sockets, waitMs, readable);
            ready = ready <= 0 ? ready : ReadyMask(sockets, readable);
        }
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
