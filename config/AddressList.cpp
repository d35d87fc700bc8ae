// Parsing and matching of source address lists.
#include "config/AddressList.h"

#include "config/INIFile.h"
#include "events/PVXException.h"

#include <algorithm>
#include <cstring>

namespace pvx {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A decimal number of one to three digits, no sign and no leading zero (a
// leading zero reads as octal to some tools: refused rather than guessed).
std::optional<std::uint32_t> ReadNumber(std::string_view text, std::uint32_t highest)
{
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > highest)
        return std::nullopt;
    return value;
}

// "a.b.c.d" in host byte order.
std::optional<std::uint32_t> ReadDotted(std::string_view text)
{
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = text.find('.');
        bool last = part == 3;
        if (last != (dot == std::string_view::npos))
            return std::nullopt;
        auto number = ReadNumber(text.substr(0, dot), 255);
        if (!number)
            return std::nullopt;
        address = (address << 8) | *number;
        if (!last)
            text.remove_prefix(dot + 1);
    }
    return address;
}

// The item's address: an IPv6 address when it holds a colon, else the
// strict dotted form, in the mapped form with its prefix counted from bit 96.
std::optional<SIpAddress> ReadItemAddress(std::string_view text, std::uint32_t& prefixBase)
{
    prefixBase = 96;
    if (text.find(':') == std::string_view::npos) {
        auto dotted = ReadDotted(text);
        if (!dotted)
            return std::nullopt;
        SIpAddress address = SIpAddress::FromIPv4(0);
        for (std::size_t i = 0; i < 4; ++i)
            address.bytes[12 + i] = static_cast<std::uint8_t>(*dotted >> (24 - 8 * i));
        return address;
    }
    SIpAddress address;
    prefixBase = 0;
    if (!ParseIpAddress(std::string(text), address))
        return std::nullopt;
    return address;
}

// The address with every bit behind the first `prefix` cleared.
SIpAddress Masked(SIpAddress address, std::uint32_t prefix)
{
    for (std::size_t i = 0; i < address.bytes.size(); ++i) {
        const auto first = static_cast<std::uint32_t>(8 * i);
        const std::uint32_t kept = prefix > first ? std::min<std::uint32_t>(prefix - first, 8) : 0;
        address.bytes[i] &= static_cast<std::uint8_t>(0xFF00 >> kept);
    }
    return address;
}

} // namespace

std::optional<CAddressList> CAddressList::Parse(std::string_view text, std::string* badItem)
{
    CAddressList list;
    if (Trim(text).empty())
        return list;
    for (;;) {
        std::size_t comma = text.find(',');
        std::string_view raw = text.substr(0, comma);
        std::string_view item = Trim(raw);
        std::size_t slash = item.find('/');
        std::uint32_t prefixBase = 96;
        auto address = ReadItemAddress(item.substr(0, slash), prefixBase);
        std::optional<std::uint32_t> prefix = 128 - prefixBase;
        if (slash != std::string_view::npos)
            prefix = ReadNumber(item.substr(slash + 1), 128 - prefixBase);
        // Host bits set behind the prefix ("10.0.0.1/8") leave the intent in
        // doubt: refused rather than masked.
        if (!address || !prefix || Masked(*address, prefixBase + *prefix) != *address) {
            if (badItem != nullptr)
                badItem->assign(item);
            return std::nullopt;
        }
        list.m_networks.push_back({ *address, prefixBase + *prefix });
        if (comma == std::string_view::npos)
            return list;
        text.remove_prefix(comma + 1);
    }
}

bool CAddressList::Matches(const SIpAddress& address) const
{
    if (m_networks.empty())
        return true;
    for (const SNetwork& network : m_networks)
        if (Masked(address, network.prefix) == network.address)
            return true;
    return false;
}

CAddressList ReadAddressListKey(const CINIFile& file, const std::string& section, const std::string& key)
{
    std::string badItem;
    auto list = CAddressList::Parse(file.GetString(section, key, ""), &badItem);
    if (list)
        return *list;
    std::string name = section + "/" + key;
    CPVXException event(EVENT_BAD_ADDRESS_LIST, { name, badItem });
    event.SetDetail(name + ": \"" + badItem + "\"");
    throw event;
}

std::string FormatIPv4(std::uint32_t address)
{
    std::uint8_t bytes[4] = {};
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "."
        + std::to_string(bytes[3]);
}

} // namespace pvx
