// Source address lists: one table of texts, what each parses to (or which
// item is refused), and which sources the parsed list admits.
#include "config/AddressList.h"

#include "config/INIFile.h"
#include "events/PVXException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace pvx {
namespace {

// A peer as a socket reports it: IPv4 in the mapped form.
SIpAddress Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = { a, b, c, d };
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return SIpAddress::FromIPv4(address);
}

SIpAddress Ip(const char* text)
{
    SIpAddress address;
    EXPECT_TRUE(ParseIpAddress(text, address)) << text;
    return address;
}

struct SListCase {
    const char* text;
    const char* badItem; // nullptr: the list parses
    std::vector<SIpAddress> admitted;
    std::vector<SIpAddress> refused;
};

const SListCase kCases[] = {
    { "", nullptr, { Ipv4(1, 2, 3, 4), Ipv4(255, 255, 255, 255) }, {} },
    { " \t\r", nullptr, { Ipv4(1, 2, 3, 4) }, {} },
    { "192.0.2.10", nullptr, { Ipv4(192, 0, 2, 10) }, { Ipv4(192, 0, 2, 11), Ipv4(10, 192, 0, 2) } },
    { " 192.0.2.10 ,\t198.51.100.0/24 \r", nullptr,
        { Ipv4(192, 0, 2, 10), Ipv4(198, 51, 100, 0), Ipv4(198, 51, 100, 255) },
        { Ipv4(198, 51, 101, 0), Ipv4(192, 0, 2, 9) } },
    { "127.0.0.2/31", nullptr, { Ipv4(127, 0, 0, 2), Ipv4(127, 0, 0, 3) }, { Ipv4(127, 0, 0, 1), Ipv4(127, 0, 0, 4) } },
    { "0.0.0.0/0", nullptr, { Ipv4(0, 0, 0, 0), Ipv4(255, 255, 255, 255) }, {} },
    { "10.0.0.0/8", nullptr, { Ipv4(10, 255, 0, 1) }, { Ipv4(11, 0, 0, 0) } },
    { "10.0.0.1/32", nullptr, { Ipv4(10, 0, 0, 1) }, { Ipv4(10, 0, 0, 0) } },
    { "10.0.0.0/33", "10.0.0.0/33", {}, {} },
    { "300.1.1.1", "300.1.1.1", {}, {} },
    { "10.0.0.1,,", "", {}, {} },
    { "10.0.0.1,", "", {}, {} },
    { ",10.0.0.1", "", {}, {} },
    { "10.0.0.1, ups.example.net", "ups.example.net", {}, {} },
    { "10.0.0.1/8", "10.0.0.1/8", {}, {} }, // host bits behind the prefix
    { "10.0.0", "10.0.0", {}, {} },
    { "10.0.0.1.5", "10.0.0.1.5", {}, {} },
    { "10.0.0.01", "10.0.0.01", {}, {} }, // octal to some readers
    { "10.0.0.0/", "10.0.0.0/", {}, {} },
    { "10.0.0.0/-1", "10.0.0.0/-1", {}, {} },
    { "10.0.0.0 /8", "10.0.0.0 /8", {}, {} },
    { "10.0.0.1 10.0.0.2", "10.0.0.1 10.0.0.2", {}, {} },
    { "+1.2.3.4", "+1.2.3.4", {}, {} },
    { "1.2.3.4; 5.6.7.8", "1.2.3.4; 5.6.7.8", {}, {} },
    { "10.0.0.1, 4294967296.0.0.1", "4294967296.0.0.1", {}, {} },
    // IPv6 beside IPv4; an IPv4 peer on a dual-stack socket is its IPv4 address.
    { "2001:db8::/32", nullptr, { Ip("2001:db8::1"), Ip("2001:db8:ffff:ffff::") },
        { Ip("2001:db9::1"), Ip("::1"), Ipv4(32, 1, 13, 184) } },
    { "::1", nullptr, { Ip("::1") }, { Ip("::2"), Ipv4(127, 0, 0, 1), Ip("::") } },
    { "192.0.2.0/24, ::1", nullptr, { Ip("::ffff:192.0.2.7"), Ipv4(192, 0, 2, 7), Ip("::1") },
        { Ip("::ffff:192.0.3.7"), Ip("::192.0.2.7") } },
    { "::ffff:10.0.0.0/104", nullptr, { Ipv4(10, 1, 2, 3) }, { Ipv4(11, 0, 0, 0) } },
    { "::/0", nullptr, { Ip("::1"), Ipv4(10, 0, 0, 1) }, {} },
    { "0.0.0.0/0", nullptr, { Ipv4(10, 0, 0, 1) }, { Ip("::1"), Ip("2001:db8::1") } },
    { "fe80::1:0/112", nullptr, { Ip("fe80::1:ffff") }, { Ip("fe80::2:0") } },
    { "2001:db8::/129", "2001:db8::/129", {}, {} },
    { "2001:db8::1/32", "2001:db8::1/32", {}, {} }, // host bits behind the prefix
    { "::1/0128", "::1/0128", {}, {} },
    { "2001:db8:::1", "2001:db8:::1", {}, {} },
    { "[::1]", "[::1]", {}, {} },
    { "fe80::1%eth0", "fe80::1%eth0", {}, {} },
    { "10.0.0.0/8, 2001:db8::/33x", "2001:db8::/33x", {}, {} },
};

TEST(AddressList, ParsesAndMatches)
{
    for (const auto& c : kCases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
        std::string badItem = "untouched";
        auto list = CAddressList::Parse(c.text, &badItem);
        if (c.badItem != nullptr) {
            EXPECT_FALSE(list.has_value());
            EXPECT_EQ(badItem, c.badItem);
            continue;
        }
        ASSERT_TRUE(list.has_value()) << badItem;
        for (const auto& address : c.admitted)
            EXPECT_TRUE(list->Matches(address)) << FormatIpAddress(address);
        for (const auto& address : c.refused)
            EXPECT_FALSE(list->Matches(address)) << FormatIpAddress(address);
    }
}

// Absent and empty keys admit every source; a bad one is event 0xC002003D
// carrying the key and the item (its report is checked where pvx starts).
TEST(AddressList, KeysOfTheConfigurationFile)
{
    const std::string folder = std::filesystem::temp_directory_path() / ("pvx-lists-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/pvx.ini") << "[NetXCP]\nClients=127.0.0.1, 10.0.0.0/33\n[SNMP]\nReadManagers=\n";
    CINIFile file(folder + "/pvx.ini");

    EXPECT_TRUE(ReadAddressListKey(file, "SNMP", "ReadManagers").AdmitsEverySource());
    EXPECT_TRUE(ReadAddressListKey(file, "SNMP", "SetManagers").AdmitsEverySource());
    try {
        ReadAddressListKey(file, "NetXCP", "Clients");
        ADD_FAILURE() << "no event";
    } catch (const CPVXException& event) {
        EXPECT_EQ(event.GetCode(), EVENT_BAD_ADDRESS_LIST);
        EXPECT_EQ(event.GetArguments(), (std::vector<std::string> { "NetXCP/Clients", "10.0.0.0/33" }));
        EXPECT_EQ(event.GetDetail(), "NetXCP/Clients: \"10.0.0.0/33\"");
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace pvx
