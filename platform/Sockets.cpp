// Wrappers over the system calls for IPv4 datagram sockets and host names.
#include "platform/Portability.h"

#include "events/PVXException.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pvx {

// ---- Network ----------------------------------------------------------------

bool NetworkStartup() { return true; }
void NetworkCleanup() {}

bool GetHostName(std::string& name)
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return false;
    name = buffer;
    return true;
}

bool ResolveHost(const std::string& text, std::uint32_t& address)
{
    if (text.empty())
        return false;
    unsigned char first = static_cast<unsigned char>(text[0]);
    if ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))
        return LookUpHostName(text, address);
    in_addr parsed{};
    if (::inet_aton(text.c_str(), &parsed) == 0)
        return false;
    // A dotted address counts only when the reverse lookup knows it.
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = parsed;
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&peer), sizeof peer, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return false;
    address = parsed.s_addr;
    return true;
}

CUniqueFd CreateSocket(int familyCode, int typeCode, int protocolCode)
{
    int family = familyCode == 2 ? AF_INET : -1;
    int type = typeCode == 0 ? SOCK_STREAM : typeCode == 1 ? SOCK_DGRAM : -1;
    int protocol = protocolCode == 0 ? 0 : -1;
    if (family < 0 || type < 0 || protocol < 0)
        return CUniqueFd();
    return CUniqueFd(::socket(family, type | SOCK_CLOEXEC, protocol));
}

void CloseSocket(CUniqueFd& socket) { socket.Reset(); }

bool BindSocket(int socket, std::uint16_t port, std::uint32_t address)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    return ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

bool SetSocketBlocking(int socket, bool blocking)
{
    int nonBlocking = blocking ? 0 : 1;
    return ::ioctl(socket, FIONBIO, &nonBlocking) == 0;
}

bool GetSocketAddress(int socket, std::uint32_t& address, std::uint16_t& port)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return false;
    address = local.sin_addr.s_addr;
    port = ntohs(local.sin_port);
    return true;
}

bool ShutdownSocket(int socket) { return ::shutdown(socket, SHUT_RDWR) == 0; }

bool ReceiveFrom(int socket, SDatagram& datagram)
{
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    ssize_t n;
    do {
        n = ::recvfrom(socket, datagram.data.data(), datagram.data.size(), MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&peer), &size);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false;
    // MSG_TRUNC reports the full size; longer datagrams are cut.
    datagram.length = static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(n), kDatagramSize));
    datagram.address = peer.sin_addr.s_addr;
    datagram.port = ntohs(peer.sin_port);
    return true;
}

bool SendTo(int socket, const SDatagram& datagram)
{
    if (datagram.length > kDatagramSize)
        return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(datagram.port);
    peer.sin_addr.s_addr = datagram.address;
    ssize_t n;
    do {
        n = ::sendto(socket, datagram.data.data(), datagram.length, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    } while (n < 0 && errno == EINTR);
    return n >= 0 && static_cast<std::size_t>(n) == datagram.length;
}

bool ParseDottedAddress(const std::string& text, std::uint32_t& address)
{
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    address = parsed.s_addr;
    return true;
}

bool LookUpHostName(const std::string& text, std::uint32_t& address)
{
    if (text.empty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

bool IsLocalAddress(std::uint32_t address)
{
    // Port 0 takes no port from anyone; only EADDRNOTAVAIL says "not here".
    CUniqueFd socket = CreateSocket(2, 1, 0);
    if (!socket)
        return true; // nothing learnt: the real bind will tell
    return BindSocket(socket.Get(), 0, address) || errno != EADDRNOTAVAIL;
}

CUniqueFd OpenUdpSocket(std::uint16_t port, std::uint32_t address, const SUdpSocketEvents& events)
{
    // Each failure carries the call's name and errno for the catcher; the
    // event's text is the caller's.
    auto fail = [](std::uint32_t code, const char* call) {
        return CPVXException(code, { call, std::to_string(errno) });
    };
    CUniqueFd socket = CreateSocket(2, 1, 0);
    if (!socket)
        throw fail(events.create, "socket");
    if (!SetSocketBlocking(socket.Get(), false))
        throw fail(events.nonBlocking, "ioctl");
    if (!BindSocket(socket.Get(), port, address))
        throw fail(events.bind, "bind");
    return socket;
}

} // namespace pvx
