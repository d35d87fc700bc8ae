// The HTTP library in its external-event-loop mode: one epoll descriptor for
// the loop to poll, no thread of its own, every call non-blocking. Every
// response closes its connection, so a connection lives for one request and
// the connection bound holds also for requests. pvx keeps its own table of
// the library's connections to bound them per source and in time.
#include "http/HttpServer.h"

#include "events/PVXException.h"
#include "http/Routing.h"
#include "http/StatusRender.h"
#include "platform/Clock.h"
#include "platform/Portability.h"
#include "platform/StreamSockets.h"

#include <microhttpd.h>

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace pvx {

struct SHttpCallbacks {
    static MHD_Result Admit(void* self, const sockaddr* address, socklen_t length)
    {
        auto& server = *static_cast<CHttpServer*>(self);
        SIpAddress peer;
        std::uint16_t port = 0;
        if (!FromSocketAddress(address, length, peer, port) || !server.m_clients.Matches(peer)) {
            ++server.m_refused;
            return MHD_NO;
        }
        return server.AdmitSource(peer) ? MHD_YES : MHD_NO;
    }

    static void Notify(void* self, MHD_Connection* connection, void** context, MHD_ConnectionNotificationCode code)
    {
        auto& server = *static_cast<CHttpServer*>(self);
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            server.Started(connection, context);
        else if (code == MHD_CONNECTION_NOTIFY_CLOSED)
            server.Closed(context);
    }

    static MHD_Result Answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                             const char* /*version*/, const char* /*uploadData*/, std::size_t* /*uploadSize*/,
                             void** /*context*/)
    {
        // Answered at the first call, once the headers are in: a request
        // with a body is refused before it is read, and the connection closes.
        return static_cast<MHD_Result>(static_cast<CHttpServer*>(self)->Respond(connection, url, method));
    }
};

namespace {

constexpr char kTextType[] = "text/plain; charset=utf-8";
// GnuTLS's defaults without the versions before TLS 1.2 (RFC 8996).
constexpr char kTlsPriorities[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
// A certificate chain or a key is a few kilobytes; anything far larger is no PEM file.
constexpr std::size_t kMaxPemBytes = 256 * 1024;

std::string ReadPem(const std::string& key, const std::string& path)
{
    std::string contents;
    if (path.empty() || !ReadFileBounded(path, kMaxPemBytes, false, contents)
        || contents.find("-----BEGIN ") == std::string::npos) {
        CPVXException event(EVENT_HTTP_TLS_FILE, { key });
        event.SetDetail(key + ": \"" + path + "\" cannot be read as a PEM file");
        throw event;
    }
    return contents;
}

struct SBody {
    std::string text;
    const char* type = kTextType;
};

SBody ErrorBody(int status)
{
    switch (status) {
    case 400:
        return { "Bad request\n" };
    case 404:
        return { "Not found: try /, /metrics, /status.json, /events.json, /events.csv or /history.json\n" };
    case 405:
        return { "Method not allowed: only GET and HEAD\n" };
    default:
        return { "Error\n" };
    }
}

} // namespace

SHttpTls LoadHttpTls(const std::string& certificatePath, const std::string& keyPath)
{
    if (certificatePath.empty() && keyPath.empty())
        return {};
    return { ReadPem("HTTP/Certificate", certificatePath), ReadPem("HTTP/Key", keyPath) };
}

CHttpServer::CHttpServer(std::uint16_t port, const SIpAddress& sourceAddress, CAddressList clients,
                         const SPollCounters& polls, const SNetworkCounters& network, SHttpLimits limits, SHttpTls tls)
    : m_tls(std::move(tls))
    , m_limits(limits)
    , m_connectionLimit(2 * limits.connections)
    , m_slots(m_connectionLimit)
    , m_clients(std::move(clients))
    , m_polls(polls)
    , m_network(network)
{
    try {
        // Clients beyond the connection bound wait in the listen queue, as
        // long as the system lets it grow.
        m_listener = OpenTcpListener(port, sourceAddress, EVENT_HTTP_BIND, 4096);
    } catch (CPVXException& event) {
        SetListenFailureDetail(event, "HTTP/Port " + std::to_string(port) + ": the HTTP server could not listen");
        throw;
    }
    // MHD_USE_EPOLL without MHD_USE_INTERNAL_POLLING_THREAD: the library
    // runs only inside MHD_run, called from the service loop. The listening
    // socket is the platform's, of both families.
    const bool https = !m_tls.certificate.empty();
    const unsigned flags = https ? MHD_USE_EPOLL | MHD_USE_TLS : MHD_USE_EPOLL;
    // Options after MHD_OPTION_END are not read: plain HTTP ends the list early.
    const MHD_OPTION tlsOrEnd = https ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END;
    m_daemon = MHD_start_daemon(flags, port, &SHttpCallbacks::Admit, this, &SHttpCallbacks::Answer, this,
        MHD_OPTION_LISTEN_SOCKET, m_listener.Get(),
        MHD_OPTION_CONNECTION_LIMIT, m_connectionLimit,
        MHD_OPTION_NOTIFY_CONNECTION, &SHttpCallbacks::Notify, this,
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.idleSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.requestBytes,
        tlsOrEnd, m_tls.certificate.c_str(),
        MHD_OPTION_HTTPS_MEM_KEY, m_tls.key.c_str(),
        MHD_OPTION_HTTPS_PRIORITIES, kTlsPriorities,
        MHD_OPTION_END);
    if (m_daemon == nullptr && https) {
        CPVXException event(EVENT_HTTP_TLS_REFUSED);
        event.SetDetail("HTTP/Certificate, HTTP/Key: the HTTP library refused them for TLS");
        throw event;
    }
    if (m_daemon == nullptr) {
        CPVXException event(EVENT_HTTP_BIND);
        event.SetDetail("HTTP/Port " + std::to_string(port) + ": the HTTP server could not listen");
        throw event;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    m_descriptor = info != nullptr ? info->epoll_fd : -1;
    info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info != nullptr ? info->port : port;
    if (m_descriptor < 0) {
        MHD_quiesce_daemon(m_daemon);
        MHD_stop_daemon(m_daemon);
        CPVXException event(EVENT_HTTP_BIND);
        event.SetDetail("HTTP/Port " + std::to_string(port) + ": the HTTP server has no descriptor to poll");
        throw event;
    }
}

CHttpServer::~CHttpServer()
{
    // The listening socket comes back first, so that only its owner closes it.
    MHD_quiesce_daemon(m_daemon);
    MHD_stop_daemon(m_daemon);
}

bool CHttpServer::AdmitSource(const SIpAddress& source)
{
    unsigned fromSource = 0;
    unsigned served = 0;
    SSlot* oldest = nullptr;
    bool freeSlot = false;
    for (SSlot& slot : m_slots) {
        if (slot.connection == nullptr) {
            freeSlot = true;
            continue;
        }
        if (slot.ending)
            continue;
        ++served;
        fromSource += slot.source == source ? 1 : 0;
        if (oldest == nullptr || slot.startedMs < oldest->startedMs)
            oldest = &slot;
    }
    // A source holds a few places at most; when every place is taken, the
    // connection open longest gives its place if it has had its time.
    bool admitted = freeSlot && fromSource < m_limits.perSource;
    if (admitted && served >= m_limits.connections) {
        admitted = oldest != nullptr
            && CurrentClock().MonotonicMilliseconds() - oldest->startedMs >= m_limits.replaceAfterMs;
        if (admitted)
            End(*oldest);
    }
    if (!admitted)
        ++m_limited;
    return admitted;
}

void CHttpServer::Started(MHD_Connection* connection, void** context)
{
    auto place = std::ranges::find(m_slots, nullptr, &SSlot::connection);
    const MHD_ConnectionInfo* fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* peer = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (place == m_slots.end() || fd == nullptr) {
        *context = nullptr; // not tracked; the library's own bounds still hold it
        return;
    }
    SSlot slot;
    slot.connection = connection;
    slot.socket = fd->connect_fd;
    if (peer != nullptr && peer->client_addr != nullptr) {
        const socklen_t length = peer->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        std::uint16_t port = 0;
        FromSocketAddress(peer->client_addr, length, slot.source, port);
    }
    slot.startedMs = CurrentClock().MonotonicMilliseconds();
    *place = slot;
    *context = &*place;
}

void CHttpServer::Closed(void** context)
{
    if (*context != nullptr)
        *static_cast<SSlot*>(*context) = SSlot {};
    *context = nullptr;
}

void CHttpServer::End(SSlot& slot)
{
    // The library sees the end of the stream at once and closes the
    // connection in this run or the next.
    ShutdownSocket(slot.socket);
    slot.ending = true;
    ++m_limited;
}

void CHttpServer::EndOverdue()
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    for (SSlot& slot : m_slots)
        if (slot.connection != nullptr && !slot.ending && now - slot.startedMs >= m_limits.connectionMs)
            End(slot);
}

unsigned CHttpServer::ServedConnections() const
{
    return static_cast<unsigned>(
        std::ranges::count_if(m_slots, [](const SSlot& slot) { return slot.connection != nullptr && !slot.ending; }));
}

std::uint32_t CHttpServer::TimeoutWithin(std::uint32_t atMost) const
{
    // A run at least once a second whatever the library says: should it ever
    // stop listening without a descriptor or a time-out to wake it (as at
    // its connection bound), it listens again within that second.
    constexpr MHD_UNSIGNED_LONG_LONG kLongestNap = 1000;
    MHD_UNSIGNED_LONG_LONG timeout = kLongestNap;
    if (MHD_get_timeout(m_daemon, &timeout) != MHD_YES)
        timeout = kLongestNap; // nothing is timed
    // And when the first connection outlives its time.
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    for (const SSlot& slot : m_slots)
        if (slot.connection != nullptr && !slot.ending) {
            const std::uint64_t due = slot.startedMs + m_limits.connectionMs;
            timeout = std::min<MHD_UNSIGNED_LONG_LONG>(timeout, due > now ? due - now : 0);
        }
    return static_cast<std::uint32_t>(std::min<MHD_UNSIGNED_LONG_LONG>({ timeout, kLongestNap, atMost }));
}

unsigned CHttpServer::OpenConnections() const
{
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    return info != nullptr ? info->num_connections : 0;
}

void CHttpServer::Run(const CAbstractUPS* ups)
{
    m_ups = ups;
    EndOverdue();
    const bool wasFull = OpenConnections() >= m_connectionLimit;
    MHD_run(m_daemon);
    // At the bound the library stops listening, and it listens again only at
    // the start of its next run: once a connection has closed, that run must
    // come now, since no readiness of the polled descriptor would bring it.
    if (wasFull && OpenConnections() < m_connectionLimit)
        MHD_run(m_daemon);
    m_ups = nullptr;
}

int CHttpServer::Respond(MHD_Connection* connection, const char* url, const char* method)
{
    const SRoute route = Route(method != nullptr ? method : "", url != nullptr ? url : "");
    SBody body;
    if (route.status == 200) {
        SStatusSnapshot snapshot = TakeSnapshot(m_ups, m_polls, m_network, CAbstractUPS::Now());
        snapshot.records = m_records;
        snapshot.wallNow = GetWallSeconds();
        // Without records (a server that was given none) the downloads are empty.
        static const SStatusRecords kNoRecords;
        const SStatusRecords& records = m_records != nullptr ? *m_records : kNoRecords;
        switch (route.resource) {
        case EResource::Metrics:
            body = { RenderMetrics(snapshot), "text/plain; version=0.0.4; charset=utf-8" };
            break;
        case EResource::StatusJson:
            body = { RenderJson(snapshot), "application/json" };
            break;
        case EResource::EventsJson:
            body = { RenderEventsJson(records.events), "application/json" };
            break;
        case EResource::EventsCsv:
            body = { RenderEventsCsv(records.events), "text/csv; charset=utf-8; header=present" };
            break;
        case EResource::HistoryJson:
            body = { RenderHistoryJson(records.history), "application/json" };
            break;
        default:
            body = { RenderPage(snapshot), "text/html; charset=utf-8" };
            break;
        }
    } else {
        body = ErrorBody(route.status);
    }
    MHD_Response* response
        = MHD_create_response_from_buffer(body.text.size(), body.text.data(), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO; // out of memory: the library closes the connection
    MHD_add_response_header(response, "Content-Type", body.type);
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "Connection", "close");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (route.status == 405)
        MHD_add_response_header(response, "Allow", "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(route.status), response);
    MHD_destroy_response(response);
    ++m_answered;
    return queued;
}

} // namespace pvx
