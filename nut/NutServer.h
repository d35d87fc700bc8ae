// The RFC 9271 server (port 3493), served from inside the service loop: the
// loop polls one descriptor and calls Run when it is readable or when the
// time-out it was given has passed. Run never blocks; every connection is a
// small state machine over a bounded line buffer, each batch of replies
// goes out in one write, and the connections are bounded in all, per
// source and in time.
#pragma once

#include "config/AddressList.h"
#include "nut/NutProtocol.h"
#include "platform/UniqueFd.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pvx {

class CAbstractUPS;

namespace nut {

struct SServerLimits {
    unsigned connections = 64; // open at once: a host's upsmon holds one each
    unsigned perSource = 8; // open at once from one address
    unsigned idleSeconds = 60; // without a whole request line, before a LOGIN
    unsigned loggedInIdleSeconds = 600; // after one (upsmon polls every few seconds)
    std::size_t outputBytes = 64 * 1024; // replies waiting for a slow reader; reading waits beyond
};

struct SServerCounters {
    std::uint64_t accepted = 0;
    std::uint64_t refusedSource = 0; // not in NUT/Clients
    std::uint64_t refusedFull = 0; // every place taken by logged-in clients
    std::uint64_t evicted = 0; // the longest idle connection made room for a new one
    std::uint64_t closedIdle = 0;
    std::uint64_t closedOverlong = 0; // a line longer than the bound
};

class CServer {
public:
    // Listens on `port` (0: any free port) of `sourceAddress` (the
    // unspecified address: every address of both families), admitting only
    // the sources in `clients`. Throws EVENT_NUT_BIND when the port cannot be
    // opened.
    CServer(std::uint16_t port, const SIpAddress& sourceAddress, CAddressList clients, SProtocolSettings settings,
            SServerLimits limits = {});
    ~CServer();
    CServer(const CServer&) = delete;
    CServer& operator=(const CServer&) = delete;

    // The descriptor to poll for readability.
    int GetDescriptor() const { return m_set.Get(); }
    std::uint16_t GetPort() const { return m_port; }
    // How long the loop may wait before Run is due even if nothing arrives
    // (an idle connection to close), at most `atMost` ms.
    std::uint32_t TimeoutWithin(std::uint32_t atMost) const;
    // Does whatever is ready without waiting. `ups` is the current UPS
    // object (may be null); instant commands and SET VAR act on it.
    void Run(CAbstractUPS* ups);

    // For the power policy: FSD for every client, as a primary's FSD sets
    // it, until pvx restarts; and the clients logged in to the UPS, as GET
    // NUMLOGINS counts them.
    void RaiseFSD() { m_protocol.RaiseFSD(); }
    // A shutdown that the power's return cancelled before its command ran
    // takes back the FSD it raised.
    void ClearFSD() { m_protocol.ClearFSD(); }
    bool IsFSDRaised() const { return m_protocol.IsFSDRaised(); }
    unsigned LoggedInClients() const { return m_protocol.LoggedInClients(); }

    const SServerCounters& Counters() const { return m_counters; }
    const SProtocolCounters& ProtocolCounters() const { return m_protocol.Counters(); }
    unsigned OpenConnections() const;

private:
    struct SConnection {
        CUniqueFd socket;
        SSession session;
        std::array<char, kMaxLineLength + 2> input {}; // a whole line and its "\r\n"
        std::size_t inputUsed = 0;
        std::string output;
        std::size_t outputSent = 0;
        std::uint64_t lastActivity = 0; // monotonic ms of the last whole line
        std::uint32_t generation = 0; // tells a closed connection's readiness from its successor's
        bool waitingToWrite = false;
    };

    void Accept();
    // A free place for a connection from `address`, making room if need be; -1 when none.
    int PlaceFor(const SIpAddress& address);
    void Serve(SConnection& connection, CAbstractUPS* ups);
    void HandleLines(SConnection& connection, CAbstractUPS* ups);
    // Sends what waits; false when the connection was closed.
    bool Flush(SConnection& connection);
    void Watch(SConnection& connection, bool add);
    void Close(SConnection& connection);
    void CloseIdle(std::uint64_t now);
    std::uint64_t IdleDeadline(const SConnection& connection) const;
    std::uint64_t Tag(std::size_t slot) const;

    SServerLimits m_limits;
    CAddressList m_clients;
    CProtocol m_protocol;
    CUniqueFd m_listener;
    CUniqueFd m_set;
    std::uint16_t m_port = 0;
    std::vector<SConnection> m_connections; // fixed size: sessions are not moved
    SServerCounters m_counters;
};

} // namespace nut
} // namespace pvx
