// The connections of the RFC 9271 server: accepting within the bounds,
// reading whole lines, answering them through the protocol and writing the
// replies, closing idle connections.
#include "nut/NutServer.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "platform/StreamSockets.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace pvx::nut {

namespace {

constexpr std::uint64_t kListenerTag = 0;
constexpr unsigned kAcceptsPerRun = 16;
constexpr unsigned kReadsPerRun = 4;
constexpr std::size_t kReadinessBatch = 64;

} // namespace

CServer::CServer(std::uint16_t port, const SIpAddress& sourceAddress, CAddressList clients, SProtocolSettings settings,
                 SServerLimits limits)
    : m_limits(limits)
    , m_clients(std::move(clients))
    , m_protocol(std::move(settings))
    , m_connections(limits.connections)
{
    try {
        m_listener = OpenTcpListener(port, sourceAddress, EVENT_NUT_BIND);
        m_set = CreateReadinessSet();
        if (!m_set || !WatchDescriptor(m_set.Get(), m_listener.Get(), kListenerTag, true, false, true))
            throw CPVXException(EVENT_NUT_BIND, { "epoll_ctl", std::to_string(GetLastError()) });
    } catch (CPVXException& event) {
        SetListenFailureDetail(event, "NUT/Port " + std::to_string(port) + ": the server could not listen");
        throw;
    }
    std::uint32_t bound = 0;
    m_port = GetSocketAddress(m_listener.Get(), bound, m_port) ? m_port : port;
}

CServer::~CServer() = default;

std::uint64_t CServer::Tag(std::size_t slot) const
{
    return (std::uint64_t { m_connections[slot].generation } << 32) | (slot + 1);
}

unsigned CServer::OpenConnections() const
{
    return static_cast<unsigned>(std::ranges::count_if(m_connections, [](const SConnection& c) { return c.socket.IsOpen(); }));
}

std::uint64_t CServer::IdleDeadline(const SConnection& c) const
{
    const unsigned seconds = c.session.loggedIn ? m_limits.loggedInIdleSeconds : m_limits.idleSeconds;
    return c.lastActivity + std::uint64_t { seconds } * 1000;
}

std::uint32_t CServer::TimeoutWithin(std::uint32_t atMost) const
{
    const std::uint64_t now = GetMonotonicMilliseconds();
    std::uint64_t wait = atMost;
    for (const SConnection& c : m_connections) {
        if (!c.socket)
            continue;
        const std::uint64_t deadline = IdleDeadline(c);
        wait = std::min(wait, deadline > now ? deadline - now : 0);
    }
    return static_cast<std::uint32_t>(wait);
}

void CServer::Run(CAbstractUPS* ups)
{
    m_protocol.Refresh();
    std::array<SReadiness, kReadinessBatch> ready {};
    const int n = TakeReadiness(m_set.Get(), ready);
    for (int i = 0; i < n; ++i) {
        const SReadiness& event = ready[static_cast<std::size_t>(i)];
        if (event.tag == kListenerTag) {
            Accept();
            continue;
        }
        const std::size_t slot = static_cast<std::size_t>(event.tag & 0xFFFFFFFFu) - 1;
        if (slot >= m_connections.size() || event.tag != Tag(slot) || !m_connections[slot].socket)
            continue; // closed (and perhaps taken again) earlier in this run
        SConnection& c = m_connections[slot];
        const bool wasWaiting = c.waitingToWrite;
        if (wasWaiting && !Flush(c))
            continue;
        if (!c.waitingToWrite && (event.readable || wasWaiting))
            Serve(c, ups);
    }
    CloseIdle(GetMonotonicMilliseconds());
}

int CServer::PlaceFor(const SIpAddress& address)
{
    // The longest idle connection that is not logged in, among `candidates`.
    auto longestIdle = [this](auto candidates) {
        int found = -1;
        for (std::size_t i = 0; i < m_connections.size(); ++i) {
            const SConnection& c = m_connections[i];
            if (c.socket && !c.session.loggedIn && candidates(c)
                && (found < 0 || c.lastActivity < m_connections[static_cast<std::size_t>(found)].lastActivity))
                found = static_cast<int>(i);
        }
        return found;
    };
    auto makeRoom = [this](int slot) {
        if (slot >= 0) {
            Close(m_connections[static_cast<std::size_t>(slot)]);
            ++m_counters.evicted;
        }
        return slot;
    };
    const auto fromSource = [address](const SConnection& c) { return c.session.address == address; };
    const auto sourceCount = std::ranges::count_if(m_connections, [&](const SConnection& c) { return c.socket && fromSource(c); });
    if (sourceCount >= static_cast<std::ptrdiff_t>(m_limits.perSource))
        return makeRoom(longestIdle(fromSource));
    for (std::size_t i = 0; i < m_connections.size(); ++i)
        if (!m_connections[i].socket)
            return static_cast<int>(i);
    return makeRoom(longestIdle([](const SConnection&) { return true; }));
}

void CServer::Accept()
{
    for (unsigned i = 0; i < kAcceptsPerRun; ++i) {
        SAcceptedConnection accepted;
        if (!AcceptConnection(m_listener.Get(), accepted))
            return;
        if (!m_clients.Matches(accepted.address)) {
            ++m_counters.refusedSource;
            continue; // closed unanswered
        }
        const int slot = PlaceFor(accepted.address);
        if (slot < 0) {
            ++m_counters.refusedFull;
            continue;
        }
        SConnection& c = m_connections[static_cast<std::size_t>(slot)];
        c.socket = std::move(accepted.socket);
        c.session = SSession {};
        c.session.address = accepted.address;
        c.inputUsed = 0;
        c.output.clear();
        c.outputSent = 0;
        c.waitingToWrite = false;
        c.lastActivity = GetMonotonicMilliseconds();
        Watch(c, true);
        ++m_counters.accepted;
    }
}

void CServer::Watch(SConnection& c, bool add)
{
    const auto slot = static_cast<std::size_t>(&c - m_connections.data());
    // While replies wait for a slow reader, its requests wait in the kernel.
    if (!WatchDescriptor(m_set.Get(), c.socket.Get(), Tag(slot), !c.waitingToWrite, c.waitingToWrite, add))
        Close(c);
}

void CServer::Close(SConnection& c)
{
    m_protocol.EndSession(c.session);
    ForgetDescriptor(m_set.Get(), c.socket.Get());
    c.socket.Reset();
    c.session = SSession {};
    c.inputUsed = 0;
    c.output.clear();
    c.outputSent = 0;
    c.waitingToWrite = false;
    ++c.generation;
}

void CServer::HandleLines(SConnection& c, CAbstractUPS* ups)
{
    // Every whole line, as long as the replies stay within their bound.
    std::size_t begin = 0;
    bool lineEndMissing = false;
    while (!c.session.closing && c.output.size() < m_limits.outputBytes) {
        const auto* end = static_cast<const char*>(std::memchr(c.input.data() + begin, '\n', c.inputUsed - begin));
        if (end == nullptr) {
            lineEndMissing = true;
            break;
        }
        const auto length = static_cast<std::size_t>(end - (c.input.data() + begin));
        m_protocol.HandleLine(c.session, std::string_view(c.input.data() + begin, length), ups, c.output);
        c.lastActivity = GetMonotonicMilliseconds();
        begin += length + 1;
    }
    std::memmove(c.input.data(), c.input.data() + begin, c.inputUsed - begin);
    c.inputUsed -= begin;
    if (lineEndMissing && c.inputUsed == c.input.size()) {
        // No line end within the bound: the client does not speak this protocol.
        c.output += "ERR INVALID-ARGUMENT\n";
        c.session.closing = true;
        ++m_counters.closedOverlong;
    }
}

void CServer::Serve(SConnection& c, CAbstractUPS* ups)
{
    HandleLines(c, ups); // what waited while replies were stuck
    for (unsigned read = 0; read < kReadsPerRun; ++read) {
        if (c.session.closing || c.output.size() >= m_limits.outputBytes)
            break;
        std::size_t n = 0;
        const auto free = std::span(reinterpret_cast<std::uint8_t*>(c.input.data()) + c.inputUsed,
                                    c.input.size() - c.inputUsed);
        const EStreamResult result = ReceiveStream(c.socket.Get(), free, n);
        if (result == EStreamResult::Closed) {
            // A client that closed its side still gets the replies it asked for.
            c.session.closing = true;
            break;
        }
        if (result == EStreamResult::WouldBlock)
            break;
        c.inputUsed += n;
        HandleLines(c, ups);
        if (n < free.size())
            break; // the kernel had no more: no second read to learn that
    }
    Flush(c);
}

bool CServer::Flush(SConnection& c)
{
    while (c.outputSent < c.output.size()) {
        std::size_t n = 0;
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(c.output.data()) + c.outputSent,
                                     c.output.size() - c.outputSent);
        const EStreamResult result = SendStream(c.socket.Get(), bytes, n);
        if (result == EStreamResult::Closed) {
            Close(c);
            return false;
        }
        if (result == EStreamResult::WouldBlock) {
            if (!c.waitingToWrite) {
                c.waitingToWrite = true;
                Watch(c, false);
            }
            return c.socket.IsOpen();
        }
        c.outputSent += n;
    }
    c.output.clear(); // keeps its room for the next replies
    c.outputSent = 0;
    if (c.session.closing) {
        Close(c);
        return false;
    }
    if (c.waitingToWrite) {
        c.waitingToWrite = false;
        Watch(c, false);
    }
    return c.socket.IsOpen();
}

void CServer::CloseIdle(std::uint64_t now)
{
    for (SConnection& c : m_connections)
        if (c.socket && IdleDeadline(c) <= now) {
            Close(c);
            ++m_counters.closedIdle;
        }
}

} // namespace pvx::nut
