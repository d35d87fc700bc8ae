// Parsing and matching of source address lists.
#include "config/AddressList.h"

#include "config/INIFile.h"
#include "events/PVXException.h"

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

// Network byte order (as kept in memory) to a number in host order.
std::uint32_t FromNetworkOrder(std::uint32_t address)
{
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return (std::uint32_t { bytes[0] } << 24) | (std::uint32_t { bytes[1] } << 16) | (std::uint32_t { bytes[2] } << 8)
        | bytes[3];
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
        auto address = ReadDotted(item.substr(0, slash));
        std::optional<std::uint32_t> prefix = 32;
        if (slash != std::string_view::npos)
            prefix = ReadNumber(item.substr(slash + 1), 32);
        std::uint32_t mask = prefix && *prefix != 0 ? ~std::uint32_t { 0 } << (32 - *prefix) : 0;
        // Host bits set behind the prefix ("10.0.0.1/8") leave the intent in
        // doubt: refused rather than masked.
        if (!address || !prefix || (*address & ~mask) != 0) {
            if (badItem != nullptr)
                badItem->assign(item);
            return std::nullopt;
        }
        list.m_networks.push_back({ *address, mask });
        if (comma == std::string_view::npos)
            return list;
        text.remove_prefix(comma + 1);
    }
}

bool CAddressList::Matches(std::uint32_t address) const
{
    if (m_networks.empty())
        return true;
    std::uint32_t host = FromNetworkOrder(address);
    for (const SNetwork& network : m_networks)
        if ((host & network.mask) == network.address)
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
