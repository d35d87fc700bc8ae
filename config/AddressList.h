// Source address lists: which IPv4 peers a network service listens to. A list
// is written as comma-separated dotted addresses and CIDR networks
// ("192.0.2.10, 198.51.100.0/24"); an empty text means every source.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pvx {

class CINIFile;

class CAddressList {
public:
    // The list that admits every source.
    CAddressList() = default;

    // Parses `text`. Blanks (space, tab, carriage return) around items are
    // allowed; an item is a dotted address of four decimal parts 0 to 255
    // without leading zeros, optionally followed by "/" and a prefix length
    // 0 to 32 whose host bits are all 0. Text of blanks only is the empty
    // list. Anything else, an empty item included, fails: nullopt, and
    // `badItem` (when given) holds the first item that was not understood.
    static std::optional<CAddressList> Parse(std::string_view text, std::string* badItem = nullptr);

    // True when the list is empty (every source) or holds `address`
    // (IPv4, network byte order).
    bool Matches(std::uint32_t address) const;
    bool AdmitsEverySource() const { return m_networks.empty(); }

private:
    struct SNetwork {
        std::uint32_t address; // host byte order, host bits 0
        std::uint32_t mask; // host byte order
    };
    std::vector<SNetwork> m_networks;
};

// Reads a list key of the configuration file (absent: every source). A list
// that does not parse throws event 0xC002003D carrying "<section>/<key>" and
// the bad item, and a detail line naming both for the operator.
CAddressList ReadAddressListKey(const CINIFile& file, const std::string& section, const std::string& key);

// An IPv4 address in network byte order as dotted decimal, for the log.
std::string FormatIPv4(std::uint32_t address);

} // namespace pvx
