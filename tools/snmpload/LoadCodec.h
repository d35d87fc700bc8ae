// The SNMP messages of the load generator: GetRequest, GetNextRequest and
// GetBulkRequest in version 1 or 2c, and the few fields of a reply that the
// generator needs to match and count it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::snmpload {

enum class EOperation { Get, GetNext, GetBulk };

constexpr std::int32_t kVersion1 = 0;
constexpr std::int32_t kVersion2c = 1;

struct SRequest {
    std::int32_t version = kVersion1;
    std::string community;
    EOperation operation = EOperation::Get;
    std::int32_t requestId = 0;
    // GetBulk only: they take the places of error-status and error-index.
    std::int32_t nonRepeaters = 0;
    std::int32_t maxRepetitions = 0;
    std::vector<std::vector<std::uint32_t>> names; // full arcs, 1.3.6.1... included
};

// The word of an operation, as option -o takes it and the output line shows
// it ("get", "next", "bulk"), and the operation of a word; false for another word.
const char* OperationWord(EOperation operation);
bool ParseOperation(std::string_view word, EOperation& operation);

// Dotted text ("1.3.6.1.2.1.1.3.0", a leading dot allowed) to arcs; false
// for anything that is not an object identifier BER can carry.
bool ParseOid(std::string_view text, std::vector<std::uint32_t>& arcs);

// The whole message with the shortest lengths, each binding's value NULL.
std::vector<std::uint8_t> EncodeRequest(const SRequest& request);
// The same, and where the contents of the request-id start: a generator that
// keeps every request-id four bytes long (0x40000000 and above) encodes a
// request once and patches the id in place.
std::vector<std::uint8_t> EncodeRequest(const SRequest& request, std::size_t& requestIdAt);

struct SReply {
    std::int32_t requestId = 0;
    std::int32_t errorStatus = 0;
    std::int32_t errorIndex = 0;
    std::uint32_t bindings = 0;
    // Bindings whose value is noSuchObject, noSuchInstance or endOfMibView.
    std::uint32_t exceptions = 0;
    // Bytes of the datagram after the end of the message.
    std::size_t trailing = 0;
};

// Reads a GetResponse (tag 0xA2); false for anything else or anything that
// does not parse up to the end of its binding list.
bool DecodeReply(std::span<const std::uint8_t> datagram, SReply& reply);

} // namespace pvx::snmpload
