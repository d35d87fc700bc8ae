// The read-only HTTP server: the status page, /status.json and /metrics,
// served from inside the service loop. The HTTP library owns the sockets; the
// loop polls one descriptor and calls Run when it is readable or when the
// time-out it was given has passed, so the server never has a thread or a
// blocking call of its own.
#pragma once

#include "config/AddressList.h"
#include "events/NetworkCounters.h"
#include "platform/UniqueFd.h"
#include "ups/AbstractUPS.h"
#include "ups/StatusRecords.h"

#include <cstdint>
#include <string>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace pvx {

struct SHttpLimits {
    unsigned connections = 16; // served at once
    unsigned idleSeconds = 5; // a connection that sends or takes nothing for this long is closed
    std::size_t requestBytes = 16 * 1024; // request line and headers; larger requests are refused
    // A connection lives this long at most, request and answer together: a
    // client that trickles its request a byte at a time is never idle.
    std::uint32_t connectionMs = 3000;
    unsigned perSource = 4; // connections one source address may hold
    // When every connection is taken, a new client takes the place of the
    // oldest once that has been open this long; a request of a polite
    // client is answered far sooner.
    std::uint32_t replaceAfterMs = 500;
};

// HTTP/Certificate and HTTP/Key as their files hold them (PEM): with both,
// the server speaks HTTPS only. Compared whole, they tell a reload whether a
// certificate was renewed in place.
struct SHttpTls {
    std::string certificate; // empty: plain HTTP
    std::string key;
    bool operator==(const SHttpTls&) const = default;
};

// Reads the two files named by HTTP/Certificate and HTTP/Key; two empty
// paths mean plain HTTP. A file that cannot be read, holds no PEM block, or
// is named without the other throws 0xC0020074 with the key ("HTTP/Key") as
// argument and a detail line naming the key and the path.
SHttpTls LoadHttpTls(const std::string& certificatePath, const std::string& keyPath);

class CHttpServer {
public:
    // Listens on `port` (0: any free port) of `sourceAddress` (the
    // unspecified address: every address of both families), admitting only
    // the sources in `clients`, over TLS 1.2 or later when `tls` holds a
    // certificate. The counters are read on every request and must outlive
    // the server. Throws EVENT_HTTP_BIND when the port cannot be opened, and
    // 0xC0020075 when the library refuses the certificate and key.
    CHttpServer(std::uint16_t port, const SIpAddress& sourceAddress, CAddressList clients, const SPollCounters& polls,
                const SNetworkCounters& network, SHttpLimits limits = {}, SHttpTls tls = {});
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

    // Connections refused by HTTP/Clients; requests answered; connections
    // refused or ended by the bounds (per source, in all, in time).
    std::uint64_t RefusedConnections() const { return m_refused; }
    std::uint64_t AnsweredRequests() const { return m_answered; }
    std::uint64_t LimitedConnections() const { return m_limited; }
    // Connections being served now, by the server's own count.
    unsigned ServedConnections() const;

private:
    friend struct SHttpCallbacks; // the library's callbacks, HttpServer.cpp
    int Respond(MHD_Connection* connection, const char* url, const char* method);

    // One connection the library serves: its socket, source and start.
    struct SSlot {
        MHD_Connection* connection = nullptr;
        int socket = -1;
        SIpAddress source;
        std::uint64_t startedMs = 0;
        bool ending = false; // shut down; the library closes it next
    };
    bool AdmitSource(const SIpAddress& source);
    void Started(MHD_Connection* connection, void** context);
    void Closed(void** context);
    void End(SSlot& slot);
    // Ends the connections that outlived SHttpLimits::connectionMs.
    void EndOverdue();

    unsigned OpenConnections() const;

    CUniqueFd m_listener; // lent to the library, taken back before it stops
    SHttpTls m_tls; // the library reads the texts while it runs
    MHD_Daemon* m_daemon = nullptr;
    SHttpLimits m_limits;
    unsigned m_connectionLimit; // the library's: room for ended ones still closing
    std::vector<SSlot> m_slots; // fixed size, one per connection the library may hold
    int m_descriptor = -1;
    std::uint16_t m_port = 0;
    CAddressList m_clients;
    const SPollCounters& m_polls;
    const SNetworkCounters& m_network;
    const CAbstractUPS* m_ups = nullptr; // valid during Run only
    const SStatusRecords* m_records = nullptr;
    std::uint64_t m_refused = 0;
    std::uint64_t m_answered = 0;
    std::uint64_t m_limited = 0;
};

} // namespace pvx
