// A minimal SNMPv1 GET client for end-to-end tests: one request for one
// name under 1.3.6.1, community "gavrel", over the loopback interface.
#pragma once

#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace pvx::test::snmp {

using Bytes = std::vector<std::uint8_t>;

struct SValue {
    std::uint8_t tag = 0; // 0x02 INTEGER, 0x04 OCTET STRING, 0x06 OBJECT IDENTIFIER, 0x41-0x43 numbers
    std::int64_t number = 0;
    std::string text;
    std::vector<std::uint32_t> oid; // arcs after 1.3.6.1
};

inline Bytes Tlv(std::uint8_t tag, const Bytes& contents)
{
    Bytes bytes { tag };
    if (contents.size() < 0x80) {
        bytes.push_back(static_cast<std::uint8_t>(contents.size()));
    } else {
        bytes.push_back(0x82);
        bytes.push_back(static_cast<std::uint8_t>(contents.size() >> 8));
        bytes.push_back(static_cast<std::uint8_t>(contents.size()));
    }
    bytes.insert(bytes.end(), contents.begin(), contents.end());
    return bytes;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Reads the TLV at `at` into `tag` and `contents`; false when it does not fit.
inline bool ReadTlv(const Bytes& bytes, std::size_t& at, std::uint8_t& tag, Bytes& contents)
{
    if (at + 2 > bytes.size())
        return false;
    tag = bytes[at];
    std::size_t length = bytes[at + 1];
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 2 || at + 2 + count > bytes.size())
            return false;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | bytes[at + 2 + i];
        header += count;
    }
    if (at + header + length > bytes.size())
        return false;
    contents.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + header),
        bytes.begin() + static_cast<std::ptrdiff_t>(at + header + length));
    at += header + length;
    return true;
}

// One message per datagram: the outer SEQUENCE's header and length cover
// every byte of the datagram, no more and no less.
inline bool IsOneBerMessage(const Bytes& datagram)
{
    std::size_t at = 0;
    std::uint8_t tag = 0;
    Bytes contents;
    return ReadTlv(datagram, at, tag, contents) && tag == 0x30 && at == datagram.size();
}

// Checks every datagram a net-snmp tool run with -d received ("Received N
// byte packet from ..." and a hex dump whose first bytes are the message
// header): the header and its length add up to N. Returns how many were
// checked; every one that does not add up is a test failure.
inline int ExpectEveryDumpedDatagramIsOneMessage(const std::string& dump)
{
    std::istringstream lines(dump);
    std::string line;
    int checked = 0;
    while (std::getline(lines, line)) {
        if (!line.starts_with("Received ") || line.find(" byte packet") == std::string::npos)
            continue;
        const std::size_t size = std::stoul(line.substr(9));
        std::string hex;
        if (!std::getline(lines, hex) || hex.size() < 6 || hex[4] != ':') {
            ADD_FAILURE() << "no dump after: " << line;
            continue;
        }
        std::istringstream tokens(hex.substr(5));
        std::vector<std::size_t> bytes;
        std::string token;
        while (bytes.size() < 4 && tokens >> token)
            bytes.push_back(std::stoul(token, nullptr, 16));
        std::size_t total = 0;
        if (bytes.size() >= 2 && bytes[1] < 0x80)
            total = 2 + bytes[1];
        else if (bytes.size() >= 3 && bytes[1] == 0x81)
            total = 3 + bytes[2];
        else if (bytes.size() >= 4 && bytes[1] == 0x82)
            total = 4 + (bytes[2] << 8 | bytes[3]);
        EXPECT_TRUE(!bytes.empty() && bytes[0] == 0x30 && total == size)
            << "a datagram of " << size << " bytes holding a message of " << total << ": " << hex;
        ++checked;
    }
    return checked;
}

inline std::int64_t DecodeInteger(const Bytes& contents, bool isSigned)
{
    std::int64_t value = (isSigned && !contents.empty() && (contents[0] & 0x80)) ? -1 : 0;
    for (std::uint8_t b : contents)
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) << 8) | b;
    return value;
}

// What a GET was answered with: its error-status, and its value when that is 0.
struct SAnswer {
    std::int64_t errorStatus = 0;
    SValue value;
};

// GET of 1.3.6.1.<arcs> from `source` (empty: the system's choice);
// nullopt on time-out or a reply that does not parse.
inline std::optional<SAnswer> Ask(unsigned short port, const std::vector<std::uint32_t>& arcs,
    std::chrono::milliseconds timeout, const std::string& source = "")
{
    Bytes name = { 0x2B, 0x06, 0x01 };
    for (std::uint32_t arc : arcs) {
        Bytes groups { static_cast<std::uint8_t>(arc & 0x7F) };
        for (arc >>= 7; arc != 0; arc >>= 7)
            groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (arc & 0x7F)));
        name.insert(name.end(), groups.begin(), groups.end());
    }
    static std::atomic<std::uint8_t> requestId = 0;
    const auto id = static_cast<std::uint8_t>((++requestId) & 0x7F);
    const Bytes binding = Tlv(0x30, Concat({ Tlv(0x06, name), Bytes { 0x05, 0x00 } }));
    const Bytes pdu = Tlv(0xA0,
        Concat({ Tlv(0x02, Bytes { id }), Tlv(0x02, Bytes { 0 }), Tlv(0x02, Bytes { 0 }), Tlv(0x30, binding) }));
    const Bytes message
        = Tlv(0x30, Concat({ Tlv(0x02, Bytes { 0 }), Tlv(0x04, Bytes { 'g', 'a', 'v', 'r', 'e', 'l' }), pdu }));

    Bytes reply;
    if (!UdpExchange(port, message, reply, timeout, source))
        return std::nullopt;
    EXPECT_TRUE(IsOneBerMessage(reply)) << "a reply of " << reply.size() << " bytes";
    std::size_t at = 0;
    std::uint8_t tag = 0;
    Bytes sequence, field, response, errorStatus, list, bind, value;
    if (!ReadTlv(reply, at, tag, sequence) || tag != 0x30)
        return std::nullopt;
    at = 0;
    if (!ReadTlv(sequence, at, tag, field) || !ReadTlv(sequence, at, tag, field)
        || !ReadTlv(sequence, at, tag, response) || tag != 0xA2)
        return std::nullopt;
    at = 0;
    if (!ReadTlv(response, at, tag, field) || !ReadTlv(response, at, tag, errorStatus)
        || !ReadTlv(response, at, tag, field) || !ReadTlv(response, at, tag, list))
        return std::nullopt;
    SAnswer answer;
    answer.errorStatus = DecodeInteger(errorStatus, true);
    if (answer.errorStatus != 0)
        return answer;
    at = 0;
    if (!ReadTlv(list, at, tag, bind))
        return std::nullopt;
    at = 0;
    SValue& result = answer.value;
    if (!ReadTlv(bind, at, tag, field) || !ReadTlv(bind, at, result.tag, value))
        return std::nullopt;
    switch (result.tag) {
    case 0x02:
        result.number = DecodeInteger(value, true);
        break;
    case 0x41:
    case 0x42:
    case 0x43:
        result.number = DecodeInteger(value, false);
        break;
    case 0x04:
        result.text.assign(value.begin(), value.end());
        break;
    case 0x06: {
        std::uint32_t arc = 0;
        for (std::size_t i = 3; i < value.size(); ++i) { // after 1.3.6.1
            arc = (arc << 7) | (value[i] & 0x7F);
            if ((value[i] & 0x80) == 0) {
                result.oid.push_back(arc);
                arc = 0;
            }
        }
        break;
    }
    default:
        break;
    }
    return answer;
}

// GET of 1.3.6.1.<arcs>; nullopt on time-out, an error status or a reply
// that does not parse. The daemon serves one request per pass of a second
// or two, so the time-out is long.
inline std::optional<SValue> Get(unsigned short port, const std::vector<std::uint32_t>& arcs)
{
    auto answer = Ask(port, arcs, std::chrono::milliseconds(8000));
    if (!answer || answer->errorStatus != 0)
        return std::nullopt;
    return answer->value;
}

inline std::optional<std::int64_t> GetNumber(unsigned short port, const std::vector<std::uint32_t>& arcs)
{
    auto value = Get(port, arcs);
    if (!value || (value->tag != 0x02 && (value->tag < 0x41 || value->tag > 0x43)))
        return std::nullopt;
    return value->number;
}

} // namespace pvx::test::snmp
