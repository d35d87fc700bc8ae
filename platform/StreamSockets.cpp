// Wrappers over the system calls for TCP sockets of both families and epoll.
#include "platform/StreamSockets.h"

#include "events/PVXException.h"
#include "platform/SocketSetUp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace pvx {

namespace {

constexpr std::size_t kMaxReadiness = 64;

// One non-blocking recv or send (`call`), retried while a signal interrupts
// it; nothing to move would block.
template <typename Call> EStreamResult Transfer(bool nothingToMove, std::size_t& n, Call call)
{
    n = 0;
    if (nothingToMove)
        return EStreamResult::WouldBlock;
    ssize_t moved;
    do {
        moved = call();
    } while (moved < 0 && errno == EINTR);
    if (moved > 0) {
        n = static_cast<std::size_t>(moved);
        return EStreamResult::Done;
    }
    if (moved < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return EStreamResult::WouldBlock;
    return EStreamResult::Closed;
}

} // namespace

CUniqueFd OpenTcpListener(std::uint16_t port, const SIpAddress& address, std::uint32_t event, int backlog)
{
    const char* failedCall = nullptr;
    CUniqueFd socket = OpenBoundSocket(SOCK_STREAM, port, address, failedCall);
    if (socket && ::listen(socket.Get(), backlog) != 0) {
        failedCall = "listen";
        socket.Reset();
    }
    if (!socket) {
        const int error = errno;
        throw CPVXException(event, { failedCall, std::to_string(error) });
    }
    return socket;
}

bool AcceptConnection(int listener, SAcceptedConnection& accepted)
{
    sockaddr_storage peer {};
    socklen_t size = sizeof peer;
    int fd;
    do {
        fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    accepted.socket = CUniqueFd(fd);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (!FromSocketAddress(&peer, size, accepted.address, accepted.port)) {
        accepted.address = SIpAddress();
        accepted.port = 0;
    }
    return true;
}

EStreamResult ReceiveStream(int socket, std::span<std::uint8_t> buffer, std::size_t& n)
{
    return Transfer(buffer.empty(), n, [&] { return ::recv(socket, buffer.data(), buffer.size(), MSG_DONTWAIT); });
}

EStreamResult SendStream(int socket, std::span<const std::uint8_t> bytes, std::size_t& n)
{
    return Transfer(bytes.empty(), n,
        [&] { return ::send(socket, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL); });
}

void SetListenFailureDetail(CPVXException& event, std::string what)
{
    if (event.GetArguments().size() == 2)
        what += " (" + event.GetArguments()[0] + ": errno " + event.GetArguments()[1] + ")";
    event.SetDetail(what);
}

CUniqueFd CreateReadinessSet()
{
    return CUniqueFd(::epoll_create1(EPOLL_CLOEXEC));
}

bool WatchDescriptor(int set, int fd, std::uint64_t tag, bool readable, bool writable, bool add)
{
    epoll_event event {};
    event.events = (readable ? EPOLLIN | EPOLLRDHUP : 0u) | (writable ? EPOLLOUT : 0u);
    event.data.u64 = tag;
    return ::epoll_ctl(set, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event) == 0;
}

bool ForgetDescriptor(int set, int fd)
{
    return ::epoll_ctl(set, EPOLL_CTL_DEL, fd, nullptr) == 0;
}

int TakeReadiness(int set, std::span<SReadiness> ready)
{
    epoll_event events[kMaxReadiness];
    const int capacity = static_cast<int>(std::min(ready.size(), kMaxReadiness));
    int n;
    do {
        n = ::epoll_wait(set, events, capacity, 0);
    } while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i) {
        const std::uint32_t what = events[i].events;
        ready[static_cast<std::size_t>(i)] = { events[i].data.u64,
            (what & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0, (what & EPOLLOUT) != 0 };
    }
    return n;
}

} // namespace pvx
