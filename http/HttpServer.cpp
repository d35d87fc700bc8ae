// The HTTP library in its external-event-loop mode: one epoll descriptor for
// the loop to poll, no thread of its own, every call non-blocking. Every
// response closes its connection, so a connection lives for one request and
// the connection bound holds also for requests.
#include "http/HttpServer.h"

#include "events/PVXException.h"
#include "http/Routing.h"
#include "http/StatusRender.h"
#include "platform/Portability.h"

#include <microhttpd.h>

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace pvx {

struct SHttpCallbacks {
    static MHD_Result Admit(void* self, const sockaddr* address, socklen_t length)
    {
        auto& server = *static_cast<CHttpServer*>(self);
        if (address == nullptr || address->sa_family != AF_INET || length < sizeof(sockaddr_in)) {
            ++server.m_refused;
            return MHD_NO;
        }
        sockaddr_in peer {};
        std::memcpy(&peer, address, sizeof peer);
        if (!server.m_clients.Matches(peer.sin_addr.s_addr)) {
            ++server.m_refused;
            return MHD_NO;
        }
        return MHD_YES;
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

CHttpServer::CHttpServer(std::uint16_t port, std::uint32_t sourceAddress, CAddressList clients,
                         const SPollCounters& polls, const SNetworkCounters& network, SHttpLimits limits)
    : m_connectionLimit(limits.connections)
    , m_clients(std::move(clients))
    , m_polls(polls)
    , m_network(network)
{
    sockaddr_in bindAddress {};
    bindAddress.sin_family = AF_INET;
    bindAddress.sin_port = htons(port);
    bindAddress.sin_addr.s_addr = sourceAddress;
    // MHD_USE_EPOLL without MHD_USE_INTERNAL_POLLING_THREAD: the library
    // runs only inside MHD_run, called from the service loop.
    m_daemon = MHD_start_daemon(MHD_USE_EPOLL, port, &SHttpCallbacks::Admit, this, &SHttpCallbacks::Answer, this,
        MHD_OPTION_SOCK_ADDR, &bindAddress,
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits.connections),
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.idleSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.requestBytes,
        MHD_OPTION_END);
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
        MHD_stop_daemon(m_daemon);
        CPVXException event(EVENT_HTTP_BIND);
        event.SetDetail("HTTP/Port " + std::to_string(port) + ": the HTTP server has no descriptor to poll");
        throw event;
    }
}

CHttpServer::~CHttpServer()
{
    MHD_stop_daemon(m_daemon);
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
