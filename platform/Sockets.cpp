// Wrappers over the system calls for datagram sockets of both families, the
// one place where sockets are bound, and host names.
#include "platform/Portability.h"
#include "platform/SocketSetUp.h"

#include "events/PVXException.h"

#include <arpa/inet.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
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
    sockaddr_storage local {};
    socklen_t size = sizeof local;
    SIpAddress bound;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0
        || !FromSocketAddress(&local, size, bound, port))
        return false;
    address = bound.IPv4();
    return true;
}

bool ShutdownSocket(int socket) { return ::shutdown(socket, SHUT_RDWR) == 0; }

bool SocketReachesIPv6(int socket)
{
    sockaddr_storage local {};
    socklen_t size = sizeof local;
    return ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) == 0 && local.ss_family == AF_INET6;
}

bool ReceiveFrom(int socket, SDatagram& datagram)
{
    sockaddr_storage peer {};
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
    if (!FromSocketAddress(&peer, size, datagram.address, datagram.port)) {
        datagram.address = SIpAddress();
        datagram.port = 0;
    }
    return true;
}

bool SendTo(int socket, const SDatagram& datagram)
{
    if (datagram.length > kDatagramSize)
        return false;
    auto send = [&](const SSocketAddress& peer) {
        ssize_t n;
        do {
            n = ::sendto(socket, datagram.data.data(), datagram.length, 0,
                         reinterpret_cast<const sockaddr*>(&peer.storage), peer.length);
        } while (n < 0 && errno == EINTR);
        return n;
    };
    // Linux's dual-stack sockets take an IPv4 peer as it is; a kernel that
    // wants the mapped form says so, and gets it.
    ssize_t n = send(ToSocketAddress(datagram.address, datagram.port, false));
    if (n < 0 && datagram.address.IsIPv4() && (errno == EAFNOSUPPORT || errno == EINVAL))
        n = send(ToSocketAddress(datagram.address, datagram.port, true));
    return n >= 0 && static_cast<std::size_t>(n) == datagram.length;
}

std::size_t ReceiveBatch(int socket, std::span<SDatagram> datagrams)
{
    const std::size_t wanted = std::min(datagrams.size(), kDatagramBatch);
    if (wanted == 0)
        return 0;
    std::array<mmsghdr, kDatagramBatch> messages {};
    std::array<iovec, kDatagramBatch> vectors {};
    std::array<sockaddr_storage, kDatagramBatch> peers {};
    for (std::size_t i = 0; i < wanted; ++i) {
        vectors[i] = { datagrams[i].data.data(), datagrams[i].data.size() };
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &peers[i];
        messages[i].msg_hdr.msg_namelen = sizeof peers[i];
    }
    int n;
    do {
        n = ::recvmmsg(socket, messages.data(), static_cast<unsigned>(wanted), MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        SDatagram& datagram = datagrams[i];
        // A datagram longer than the buffer is cut, as ReceiveFrom cuts it.
        datagram.length = static_cast<std::uint32_t>(std::min<std::size_t>(messages[i].msg_len, kDatagramSize));
        if (!FromSocketAddress(&peers[i], messages[i].msg_hdr.msg_namelen, datagram.address, datagram.port)) {
            datagram.address = SIpAddress();
            datagram.port = 0;
        }
    }
    return static_cast<std::size_t>(n);
}

std::size_t SendBatch(int socket, std::span<const SDatagram> datagrams)
{
    std::array<mmsghdr, kDatagramBatch> messages {};
    std::array<iovec, kDatagramBatch> vectors {};
    std::array<SSocketAddress, kDatagramBatch> peers {};
    std::size_t sent = 0;
    while (!datagrams.empty()) {
        const std::size_t count = std::min(datagrams.size(), kDatagramBatch);
        for (std::size_t i = 0; i < count; ++i) {
            const SDatagram& datagram = datagrams[i];
            peers[i] = ToSocketAddress(datagram.address, datagram.port, false);
            // sendmmsg takes the same iovec as recvmmsg; it does not write through it.
            vectors[i] = { const_cast<std::uint8_t*>(datagram.data.data()),
                std::min<std::size_t>(datagram.length, kDatagramSize) };
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &peers[i].storage;
            messages[i].msg_hdr.msg_namelen = peers[i].length;
        }
        int n;
        do {
            n = ::sendmmsg(socket, messages.data(), static_cast<unsigned>(count), 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // The first could not be sent: on its own, with SendTo's fallback
            // to the mapped form, and the rest after it.
            sent += SendTo(socket, datagrams[0]) ? 1 : 0;
            n = 1;
        } else {
            sent += static_cast<std::size_t>(n);
        }
        datagrams = datagrams.subspan(static_cast<std::size_t>(n));
    }
    return sent;
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
    // Digits and dots alone are no name; the resolver would read "1.2.3" as
    // the shorthand 1.2.0.3, which a mistyped address should never become.
    if (text.empty() || text.find_first_not_of("0123456789.") == std::string::npos)
        return false;
    const CAddrInfo found = LookUpAddresses(text, AF_INET);
    if (!found)
        return false;
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    return true;
}

CAddrInfo LookUpAddresses(const std::string& name, int family)
{
    addrinfo hints {};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0)
        return nullptr;
    return CAddrInfo(found);
}

SSocketAddress ToSocketAddress(const SIpAddress& address, std::uint16_t port, bool asIPv6)
{
    SSocketAddress result;
    if (address.IsIPv4() && !asIPv6) {
        sockaddr_in ipv4 {};
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        ipv4.sin_addr.s_addr = address.IPv4();
        std::memcpy(&result.storage, &ipv4, sizeof ipv4);
        result.length = sizeof ipv4;
        return result;
    }
    sockaddr_in6 ipv6 {};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    std::memcpy(&ipv6.sin6_addr, address.bytes.data(), address.bytes.size());
    std::memcpy(&result.storage, &ipv6, sizeof ipv6);
    result.length = sizeof ipv6;
    return result;
}

CUniqueFd OpenBoundSocket(int type, std::uint16_t port, const SIpAddress& address, const char*& failedCall)
{
    // The unspecified address: one IPv6 socket that also takes IPv4, unless
    // the host has no IPv6 at all. An IPv6 address: that family only, so
    // that binding it never takes the IPv4 port too.
    const bool ipv6 = !address.IsIPv4();
    const bool both = address == SIpAddress();
    CUniqueFd socket(::socket(ipv6 ? AF_INET6 : AF_INET, type | SOCK_CLOEXEC, 0));
    if (!socket && both && errno == EAFNOSUPPORT)
        return OpenBoundSocket(type, port, SIpAddress::FromIPv4(0), failedCall);
    failedCall = "socket";
    if (!socket)
        return socket;
    failedCall = "setsockopt";
    const int v6Only = both ? 0 : 1;
    if (ipv6 && ::setsockopt(socket.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) != 0)
        return CUniqueFd();
    const int on = 1;
    if (type == SOCK_STREAM && ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return CUniqueFd();
    failedCall = "ioctl";
    if (!SetSocketBlocking(socket.Get(), false))
        return CUniqueFd();
    failedCall = "bind";
    const SSocketAddress local = ToSocketAddress(address, port, ipv6);
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0)
        return CUniqueFd();
    failedCall = nullptr;
    return socket;
}

bool IsLocalAddress(const SIpAddress& address)
{
    if (address.IsUnspecified())
        return true;
    // Port 0 takes no port from anyone; only EADDRNOTAVAIL says "not here".
    const char* failedCall = nullptr;
    CUniqueFd socket = OpenBoundSocket(SOCK_DGRAM, 0, address, failedCall);
    if (socket)
        return true;
    // Nothing learnt from another failure: the real bind will tell.
    return !(failedCall != nullptr && std::string_view(failedCall) == "bind" && errno == EADDRNOTAVAIL);
}

CUniqueFd OpenUdpSocket(std::uint16_t port, const SIpAddress& address, const SUdpSocketEvents& events)
{
    // Each failure carries the call's name and errno for the catcher; the
    // event's text is the caller's.
    const char* failedCall = nullptr;
    CUniqueFd socket = OpenBoundSocket(SOCK_DGRAM, port, address, failedCall);
    if (socket)
        return socket;
    const int error = errno;
    const std::string_view call(failedCall);
    const std::uint32_t code = call == "bind" ? events.bind : call == "ioctl" ? events.nonBlocking : events.create;
    throw CPVXException(code, { failedCall, std::to_string(error) });
}

} // namespace pvx
