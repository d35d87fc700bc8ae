// An IPv4 or IPv6 address as every service keeps a peer, a source list entry
// or a bound address: sixteen bytes, IPv4 in its IPv4-mapped form
// (::ffff:a.b.c.d, RFC 4291 section 2.5.5.2), so that one comparison serves
// both families and a peer on a dual-stack socket matches its IPv4 entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pvx {

struct SIpAddress {
    std::array<std::uint8_t, 16> bytes {};

    // The unspecified address ::, which binds both families.
    constexpr SIpAddress() = default;
    // An IPv4 address in network byte order; 0 stays the unspecified
    // address, as 0.0.0.0 has always meant "none" or "any" to the callers.
    SIpAddress(std::uint32_t ipv4); // NOLINT: implicit, an IPv4 address is one
    // Always the mapped form, 0.0.0.0 included.
    static SIpAddress FromIPv4(std::uint32_t ipv4);

    bool IsIPv4() const; // ::ffff:a.b.c.d
    // The IPv4 address in network byte order; 0 for an IPv6 address.
    std::uint32_t IPv4() const;
    // :: or 0.0.0.0: no particular address.
    bool IsUnspecified() const;
    bool operator==(const SIpAddress&) const = default;
};

// A numeric address, IPv4 dotted or IPv6 as inet_pton(3) reads it; no lookup.
bool ParseIpAddress(const std::string& text, SIpAddress& address);
// The usual text: dotted for IPv4, RFC 5952 for IPv6.
std::string FormatIpAddress(const SIpAddress& address);
// An address key's value: an IPv4 or IPv6 address as written; otherwise a
// host name's first IPv4 address, or its first IPv6 one when it has none. False when none of these gives an address. 0.0.0.0
// and :: both give the unspecified address.
bool ResolveIpHost(const std::string& text, SIpAddress& address);

// A socket address of either family (a sockaddr of `length` bytes) to the
// address and port (host order) it holds; false for any other family.
bool FromSocketAddress(const void* socketAddress, std::size_t length, SIpAddress& address, std::uint16_t& port);

} // namespace pvx
