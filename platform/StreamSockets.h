// TCP sockets for the line-protocol servers and a readiness set (epoll) that
// the service loop polls as one descriptor. Thin wrappers over the system
// calls: every socket is non-blocking and closed on exec, and failures are
// told by the result, except where a server sets its socket up.
#pragma once

#include "platform/IpAddress.h"
#include "platform/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pvx {

class CPVXException; // events/PVXException.h

// A TCP socket listening on `address` and `port` (0: any free port), of the
// family the address asks for as OpenUdpSocket describes (the unspecified
// address: both), with SO_REUSEADDR so that a restart finds its port at
// once. A failing step throws `event` with the system call's name and errno
// as its arguments. `backlog` is the queue of connections not taken yet;
// listen(2) caps it at net.core.somaxconn.
CUniqueFd OpenTcpListener(std::uint16_t port, const SIpAddress& address, std::uint32_t event, int backlog = 64);
// Sets the detail of an exception OpenTcpListener threw to `what`, followed
// by the system call and errno it names.
void SetListenFailureDetail(CPVXException& event, std::string what);

struct SAcceptedConnection {
    CUniqueFd socket;
    SIpAddress address; // peer address, IPv4 in its mapped form
    std::uint16_t port = 0; // peer port, host order
};

// Takes one waiting connection, non-blocking, with TCP_NODELAY set so that a
// reply goes out as soon as it is written. False when none waits (or the
// peer is gone already).
bool AcceptConnection(int listener, SAcceptedConnection& accepted);

enum class EStreamResult {
    Done, // n bytes moved (n > 0)
    WouldBlock, // nothing can move now
    Closed, // the peer closed, reset or failed: close the socket
};

// Reads what waits, at most buffer.size() bytes.
EStreamResult ReceiveStream(int socket, std::span<std::uint8_t> buffer, std::size_t& n);
// Writes as much of `bytes` as the socket takes now, never raising SIGPIPE.
EStreamResult SendStream(int socket, std::span<const std::uint8_t> bytes, std::size_t& n);

// ---- Readiness set --------------------------------------------------------------------

CUniqueFd CreateReadinessSet();
// Adds `fd` to the set (`add`), or changes what it is watched for; `tag`
// comes back with its readiness. A hang-up is reported whatever is watched.
bool WatchDescriptor(int set, int fd, std::uint64_t tag, bool readable, bool writable, bool add);
bool ForgetDescriptor(int set, int fd);

struct SReadiness {
    std::uint64_t tag = 0;
    bool readable = false; // or hung up: a read will tell
    bool writable = false;
};

// What is ready now, without waiting: the count filled in (at most
// ready.size()), or -1 on failure.
int TakeReadiness(int set, std::span<SReadiness> ready);

} // namespace pvx
