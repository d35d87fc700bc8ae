// The responsive wait: instead of serving one network client per pass, every
// wait of the service loop serves SNMP requests and relay datagrams as they
// arrive, so that a manager walking the MIB is not held to one object a pass.
#pragma once

#include <cstdint>

namespace pvx {

class CAbstractUPS;
class CHttpServer;
class CNetXCPAgent;
class CSNMPAgent;
namespace nut {
class CServer;
}

struct SWaitOutcome {
    unsigned snmpServed = 0;
    unsigned relayServed = 0;
    unsigned httpRuns = 0; // calls of the HTTP server's Run
    unsigned nutRuns = 0; // calls of the RFC 9271 server's Run
};

// Waits `ms`, serving each datagram as it arrives: an SNMP request first when
// both sockets have one. Nothing new is begun once the wait is over, except
// that a wait of 0 ms still serves one datagram already waiting, as the
// loop's zero-time poll does. With `endOnRelay` a served relay datagram ends
// the wait, as it ends the relay's wait in the one-client-per-pass loop.
// The deadline alone bounds the wait: under a flood it serves until its end
// and no longer, so the UPS keeps its polling cadence at full speed.
// `agent` may be null (SNMP disabled), `relay` too (NetXCP disabled), `ups`
// too (no UPS yet); with no service the wait is a plain sleep. `http` (may
// be null) is run whenever its descriptor is readable or its time-out comes;
// its runs never end the wait. `nut` (may be null) is run in the same way.
SWaitOutcome ServeWhileWaiting(CSNMPAgent* agent, CNetXCPAgent* relay, CAbstractUPS* ups, std::uint32_t ms,
                               bool endOnRelay, CHttpServer* http = nullptr, nut::CServer* nut = nullptr);

} // namespace pvx
