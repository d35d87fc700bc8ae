// Addresses of both families: conversions, text forms and the lookup of an
// address key's value.
#include "platform/IpAddress.h"

#include "platform/Portability.h"
#include "platform/SocketSetUp.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace pvx {

namespace {

constexpr std::array<std::uint8_t, 12> kMappedPrefix { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF };

} // namespace

SIpAddress::SIpAddress(std::uint32_t ipv4)
{
    if (ipv4 != 0)
        *this = FromIPv4(ipv4);
}

SIpAddress SIpAddress::FromIPv4(std::uint32_t ipv4)
{
    SIpAddress address;
    std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), address.bytes.begin());
    std::memcpy(address.bytes.data() + 12, &ipv4, 4);
    return address;
}

bool SIpAddress::IsIPv4() const
{
    return std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes.begin());
}

std::uint32_t SIpAddress::IPv4() const
{
    std::uint32_t ipv4 = 0;
    if (IsIPv4())
        std::memcpy(&ipv4, bytes.data() + 12, 4);
    return ipv4;
}

bool SIpAddress::IsUnspecified() const
{
    return *this == SIpAddress() || *this == FromIPv4(0);
}

bool ParseIpAddress(const std::string& text, SIpAddress& address)
{
    in_addr ipv4 {};
    if (::inet_pton(AF_INET, text.c_str(), &ipv4) == 1) {
        address = SIpAddress::FromIPv4(ipv4.s_addr);
        return true;
    }
    in6_addr ipv6 {};
    if (::inet_pton(AF_INET6, text.c_str(), &ipv6) != 1)
        return false;
    std::memcpy(address.bytes.data(), &ipv6, address.bytes.size());
    return true;
}

std::string FormatIpAddress(const SIpAddress& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.IsIPv4()) {
        in_addr ipv4 { address.IPv4() };
        ::inet_ntop(AF_INET, &ipv4, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET6, address.bytes.data(), text, sizeof text);
    }
    return text;
}

bool ResolveIpHost(const std::string& text, SIpAddress& address)
{
    // 0.0.0.0 and :: alike mean "any": both families.
    if (text.find(':') != std::string::npos) {
        if (!ParseIpAddress(text, address))
            return false;
        if (address.IsUnspecified())
            address = SIpAddress();
        return true;
    }
    // A dotted address is used as written; only a name is looked up.
    std::uint32_t ipv4 = 0;
    if (ParseDottedAddress(text, ipv4) || LookUpHostName(text, ipv4)) {
        address = SIpAddress(ipv4);
        return true;
    }
    if (text.empty())
        return false;
    // A name without an IPv4 address: its first IPv6 one.
    const CAddrInfo found = LookUpAddresses(text, AF_INET6);
    std::uint16_t port = 0;
    return found && FromSocketAddress(found->ai_addr, found->ai_addrlen, address, port);
}

bool FromSocketAddress(const void* socketAddress, std::size_t length, SIpAddress& address, std::uint16_t& port)
{
    if (socketAddress == nullptr || length < sizeof(sa_family_t))
        return false;
    sa_family_t family {};
    std::memcpy(&family, socketAddress, sizeof family);
    if (family == AF_INET && length >= sizeof(sockaddr_in)) {
        sockaddr_in ipv4 {};
        std::memcpy(&ipv4, socketAddress, sizeof ipv4);
        address = SIpAddress::FromIPv4(ipv4.sin_addr.s_addr);
        port = ntohs(ipv4.sin_port);
        return true;
    }
    if (family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        sockaddr_in6 ipv6 {};
        std::memcpy(&ipv6, socketAddress, sizeof ipv6);
        std::memcpy(address.bytes.data(), &ipv6.sin6_addr, address.bytes.size());
        port = ntohs(ipv6.sin6_port);
        return true;
    }
    return false;
}

} // namespace pvx
