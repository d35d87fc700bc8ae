// Encoding of the generator's requests and decoding of the replies it counts.
#include "tools/snmpload/LoadCodec.h"

#include "platform/ByteCursor.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"

namespace pvx::snmpload {

namespace {

constexpr std::size_t kMaxArcs = 128;
using namespace ber; // the tags

using Bytes = std::vector<std::uint8_t>;

void AppendLength(Bytes& out, std::size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    std::uint8_t count = 0;
    for (std::size_t rest = length; rest != 0; rest >>= 8)
        ++count;
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    for (int shift = 8 * (count - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(length >> shift));
}

void AppendTlv(Bytes& out, std::uint8_t tag, const Bytes& contents)
{
    out.push_back(tag);
    AppendLength(out, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
}

// Two's complement, shortest form (X.690 8.3.2).
void AppendInteger(Bytes& out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    int size = 4;
    while (size > 1) {
        const auto top9 = (bits >> (8 * (size - 1) - 1)) & 0x1FF;
        if (top9 != 0 && top9 != 0x1FF)
            break;
        --size;
    }
    out.push_back(kInteger);
    out.push_back(static_cast<std::uint8_t>(size));
    for (int i = size - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void AppendSubidentifier(Bytes& out, std::uint32_t value)
{
    std::uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.push_back(static_cast<std::uint8_t>(0x80 | groups[--count]));
    out.push_back(groups[0]);
}

Bytes EncodeName(const std::vector<std::uint32_t>& arcs)
{
    Bytes name;
    AppendSubidentifier(name, arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i)
        AppendSubidentifier(name, arcs[i]);
    return name;
}

// Each operation's word (option -o, the output line) and its PDU tag.
struct SOperationInfo {
    EOperation operation;
    const char* word;
    std::uint8_t tag;
};
constexpr SOperationInfo kOperations[] = {
    { EOperation::Get, "get", kGetRequest },
    { EOperation::GetNext, "next", kGetNextRequest },
    { EOperation::GetBulk, "bulk", kGetBulkRequest },
};

const SOperationInfo& InfoOf(EOperation operation)
{
    for (const SOperationInfo& info : kOperations)
        if (info.operation == operation)
            return info;
    return kOperations[0];
}

bool ReadHeader(CByteCursor& cursor, std::uint8_t& tag, std::size_t& length)
{
    std::uint8_t first = 0;
    if (!cursor.ReadU8(tag) || !cursor.ReadU8(first))
        return false;
    if ((first & 0x80) == 0) {
        length = first;
    } else {
        const std::uint8_t count = first & 0x7F;
        if (count == 0 || count > 4)
            return false;
        length = 0;
        for (std::uint8_t i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            if (!cursor.ReadU8(byte))
                return false;
            length = (length << 8) | byte;
        }
    }
    return length <= cursor.Remaining();
}

// The contents of the next item, which must carry `tag`.
bool ReadItem(CByteCursor& cursor, std::uint8_t tag, std::span<const std::uint8_t>& contents)
{
    std::uint8_t found = 0;
    std::size_t length = 0;
    return ReadHeader(cursor, found, length) && found == tag && cursor.Take(length, contents);
}

bool ReadInteger(CByteCursor& cursor, std::int32_t& value)
{
    std::span<const std::uint8_t> contents;
    if (!ReadItem(cursor, kInteger, contents) || contents.empty() || contents.size() > 5)
        return false;
    std::uint32_t bits = (contents[0] & 0x80) ? 0xFFFFFFFFu : 0;
    for (std::uint8_t byte : contents)
        bits = (bits << 8) | byte;
    value = static_cast<std::int32_t>(bits);
    return true;
}

} // namespace

const char* OperationWord(EOperation operation)
{
    return InfoOf(operation).word;
}

bool ParseOperation(std::string_view word, EOperation& operation)
{
    for (const SOperationInfo& info : kOperations) {
        if (word == info.word) {
            operation = info.operation;
            return true;
        }
    }
    return false;
}

bool ParseOid(std::string_view text, std::vector<std::uint32_t>& arcs)
{
    arcs.clear();
    if (text.starts_with('.'))
        text.remove_prefix(1);
    while (!text.empty()) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 10 || arcs.size() == kMaxArcs)
            return false;
        std::uint64_t value = 0;
        for (char c : part) {
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (value > 0xFFFFFFFFu)
            return false;
        arcs.push_back(static_cast<std::uint32_t>(value));
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
        if (text.empty())
            return false;
    }
    // The first two arcs share one subidentifier.
    return arcs.size() >= 2 && arcs[0] <= 2 && (arcs[0] == 2 ? arcs[1] <= 0xFFFFFFFFu - 80 : arcs[1] < 40);
}

std::vector<std::uint8_t> EncodeRequest(const SRequest& request)
{
    std::size_t requestIdAt = 0;
    return EncodeRequest(request, requestIdAt);
}

std::vector<std::uint8_t> EncodeRequest(const SRequest& request, std::size_t& requestIdAt)
{
    Bytes list;
    for (const auto& arcs : request.names) {
        Bytes binding;
        AppendTlv(binding, kObjectIdentifier, EncodeName(arcs));
        binding.push_back(kNull);
        binding.push_back(0x00);
        AppendTlv(list, kSequence, binding);
    }
    const bool bulk = request.operation == EOperation::GetBulk;
    Bytes pdu;
    AppendInteger(pdu, request.requestId);
    AppendInteger(pdu, bulk ? request.nonRepeaters : 0);
    AppendInteger(pdu, bulk ? request.maxRepetitions : 0);
    AppendTlv(pdu, kSequence, list);

    Bytes message;
    AppendInteger(message, request.version);
    AppendTlv(message, kOctetString, Bytes(request.community.begin(), request.community.end()));
    AppendTlv(message, InfoOf(request.operation).tag, pdu);
    Bytes whole;
    AppendTlv(whole, kSequence, message);
    // The PDU closes the message, and the request-id opens the PDU behind
    // its tag and one-byte length.
    requestIdAt = whole.size() - pdu.size() + 2;
    return whole;
}

bool DecodeReply(std::span<const std::uint8_t> datagram, SReply& reply)
{
    reply = SReply{};
    CByteCursor outer(datagram);
    std::span<const std::uint8_t> message, community, pdu, list;
    std::int32_t version = 0;
    if (!ReadItem(outer, kSequence, message))
        return false;
    reply.trailing = outer.Remaining();
    CByteCursor fields(message);
    if (!ReadInteger(fields, version) || !ReadItem(fields, kOctetString, community)
        || !ReadItem(fields, kGetResponse, pdu))
        return false;
    CByteCursor body(pdu);
    if (!ReadInteger(body, reply.requestId) || !ReadInteger(body, reply.errorStatus)
        || !ReadInteger(body, reply.errorIndex) || !ReadItem(body, kSequence, list))
        return false;
    CByteCursor bindings(list);
    while (!bindings.AtEnd()) {
        std::span<const std::uint8_t> binding, name;
        if (!ReadItem(bindings, kSequence, binding))
            return false;
        CByteCursor parts(binding);
        std::uint8_t tag = 0;
        std::size_t length = 0;
        if (!ReadItem(parts, kObjectIdentifier, name) || !ReadHeader(parts, tag, length))
            return false;
        ++reply.bindings;
        if (tag >= kNoSuchObject && tag <= kEndOfMibView)
            ++reply.exceptions;
    }
    return true;
}

} // namespace pvx::snmpload
