// Inside the platform library only: the socket address of an SIpAddress,
// the one function that creates and binds every socket pvx listens on, and
// the resolver's answers as an owned list.
#pragma once

#include "platform/IpAddress.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

namespace pvx {

struct SSocketAddress {
    sockaddr_storage storage {};
    socklen_t length = 0;
};

// `asIPv6`: an IPv4 address in its mapped form, for an IPv6 socket.
SSocketAddress ToSocketAddress(const SIpAddress& address, std::uint16_t port, bool asIPv6);

// A non-blocking socket of `type` (SOCK_DGRAM or SOCK_STREAM, the latter
// with SO_REUSEADDR) bound to `address` and `port` as OpenUdpSocket
// describes. An empty descriptor on failure, `failedCall` naming the call
// that failed ("socket", "setsockopt", "ioctl" or "bind"; errno kept).
CUniqueFd OpenBoundSocket(int type, std::uint16_t port, const SIpAddress& address, const char*& failedCall);

struct SFreeAddrInfo {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using CAddrInfo = std::unique_ptr<addrinfo, SFreeAddrInfo>;

// The addresses of `name` in `family` (AF_INET or AF_INET6); empty when the
// resolver has none.
CAddrInfo LookUpAddresses(const std::string& name, int family);

} // namespace pvx
