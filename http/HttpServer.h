// The read-only HTTP server: the status page, /status.json and /metrics,
// served from inside the service loop. The HTTP library owns the sockets; the
// loop polls one descriptor and calls Run when it is readable or when the
// time-out it was given has passed, so the server never has a thread or a
// blocking call of its own.
#pragma once

#include "config/AddressList.h"
#include "events/NetworkCounters.h"
#include "ups/AbstractUPS.h"
#include "ups/StatusRecords.h"

#include <cstdint>
#include <string>

struct MHD_Daemon;
struct MHD_Connection;

namespace pvx {

struct SHttpLimits {
    unsigned connections = 16; // open at once; further clients wait in the listen queue
    unsigned idleSeconds = 5; // a connection that sends or takes nothing for this long is closed
    std::size_t requestBytes = 16 * 1024; // request line and headers; larger requests are refused
};

class CHttpServer {
public:
    // Listens on `port` (0: any free port) of `sourceAddress` (network order,
    // 0: every address), admitting only the sources in `clients`. The
    // counters are read on every request and must outlive the server. Throws
    // EVENT_SOCKET_BIND when the port cannot be opened.
    CHttpServer(std::uint16_t port, std::uint32_t sourceAddress, CAddressList clients, const SPollCounters& polls,
                const SNetworkCounters& network, SHttpLimits limits = {});
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;

    // The descriptor to poll for readability.
    int GetDescriptor() const { return m_descriptor; }
    std::uint16_t GetPort() const { return m_port; }
    // How long the loop may wait before Run is due even if nothing arrives
    // (an idle connection to close), at most `atMost` ms.
    std::uint32_t TimeoutWithin(std::uint32_t atMost) const;
    // Does whatever is ready without waiting: accepts, reads, answers and
    // closes. `ups` is the current UPS object (may be null), only read.
    void Run(const CAbstractUPS* ups);
    // The event log and history to show (null: none); must outlive the server.
    void SetRecords(const SStatusRecords* records) { m_records = records; }

    // Connections refused by HTTP/Clients; requests answered.
    std::uint64_t RefusedConnections() const { return m_refused; }
    std::uint64_t AnsweredRequests() const { return m_answered; }

private:
    friend struct SHttpCallbacks; // the library's callbacks, HttpServer.cpp
    int Respond(MHD_Connection* connection, const char* url, const char* method);

    unsigned OpenConnections() const;

    MHD_Daemon* m_daemon = nullptr;
    unsigned m_connectionLimit;
    int m_descriptor = -1;
    std::uint16_t m_port = 0;
    CAddressList m_clients;
    const SPollCounters& m_polls;
    const SNetworkCounters& m_network;
    const CAbstractUPS* m_ups = nullptr; // valid during Run only
    const SStatusRecords* m_records = nullptr;
    std::uint64_t m_refused = 0;
    std::uint64_t m_answered = 0;
};

} // namespace pvx
