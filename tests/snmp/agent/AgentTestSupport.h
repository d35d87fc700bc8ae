// Helpers of the agent tests: a request builder that writes the short length
// forms managers use, a reply parser, a scripted UPS and loopback sockets.
#pragma once

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Tag, minimal length (short form below 128) and contents.
inline Bytes Tlv(std::uint8_t tag, const Bytes& contents)
{
    Bytes bytes { tag };
    std::size_t n = contents.size();
    if (n < 0x80) {
        bytes.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 0x100) {
        bytes.insert(bytes.end(), { 0x81, static_cast<std::uint8_t>(n) });
    } else {
        bytes.insert(bytes.end(), { 0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n) });
    }
    bytes.insert(bytes.end(), contents.begin(), contents.end());
    return bytes;
}

inline Bytes Int(std::int32_t value)
{
    Bytes contents;
    auto bits = static_cast<std::uint32_t>(value);
    std::size_t n = 4;
    while (n > 1) {
        auto top = static_cast<std::uint8_t>(bits >> (8 * (n - 1)));
        auto nextTop = static_cast<std::uint8_t>(bits >> (8 * (n - 2)));
        if ((top == 0x00 && nextTop < 0x80) || (top == 0xFF && nextTop >= 0x80))
            --n;
        else
            break;
    }
    for (std::size_t i = n; i > 0; --i)
        contents.push_back(static_cast<std::uint8_t>(bits >> (8 * (i - 1))));
    return Tlv(0x02, contents);
}

inline Bytes Str(std::string_view text)
{
    return Tlv(0x04, Bytes(text.begin(), text.end()));
}

inline Bytes Null()
{
    return { 0x05, 0x00 };
}

// OBJECT IDENTIFIER 1.3.6.1.<arcs> exactly as given (no 0 arc added).
inline Bytes Oid(std::initializer_list<std::uint32_t> arcs)
{
    Bytes contents { 0x2B, 0x06, 0x01 };
    for (std::uint32_t arc : arcs) {
        Bytes groups { static_cast<std::uint8_t>(arc & 0x7F) };
        for (arc >>= 7; arc != 0; arc >>= 7)
            groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (arc & 0x7F)));
        contents.insert(contents.end(), groups.begin(), groups.end());
    }
    return Tlv(0x06, contents);
}

inline Bytes Binding(const Bytes& name, const Bytes& value = Null())
{
    return Tlv(0x30, Concat({ name, value }));
}

inline Bytes Message(std::string_view community, std::uint8_t pdu, const std::vector<Bytes>& bindings,
    std::int32_t requestId = 42, std::int32_t version = 0)
{
    Bytes list;
    for (const Bytes& binding : bindings)
        list.insert(list.end(), binding.begin(), binding.end());
    Bytes pduBytes = Tlv(pdu, Concat({ Int(requestId), Int(0), Int(0), Tlv(0x30, list) }));
    return Tlv(0x30, Concat({ Int(version), Str(community), pduBytes }));
}

// An SNMPv2c GetBulkRequest: non-repeaters and max-repetitions stand where
// error-status and error-index stand in the other PDUs.
inline Bytes BulkMessage(std::int32_t nonRepeaters, std::int32_t maxRepetitions, const std::vector<Bytes>& bindings)
{
    Bytes list;
    for (const Bytes& binding : bindings)
        list.insert(list.end(), binding.begin(), binding.end());
    Bytes pduBytes = Tlv(0xA5, Concat({ Int(42), Int(nonRepeaters), Int(maxRepetitions), Tlv(0x30, list) }));
    return Tlv(0x30, Concat({ Int(1), Str("public"), pduBytes }));
}

// The fields of a GetResponse or Trap-PDU as received.
struct SParsedBinding {
    COid name;
    std::uint8_t tag = 0;
    Bytes contents;
};

struct SParsedMessage {
    std::int32_t version = -1;
    std::string community;
    std::uint8_t pduTag = 0;
    std::int32_t requestId = 0;
    std::int32_t errorStatus = 0;
    std::int32_t errorIndex = 0;
    // Trap-PDU only.
    COid enterprise;
    Bytes agentAddress;
    std::int32_t genericTrap = -1;
    std::int32_t specificTrap = -1;
    Bytes timeStamp;
    std::vector<SParsedBinding> bindings;
    Bytes trailer; // bytes after the end of the outer SEQUENCE
};

inline Bytes ReadRaw(CBasicEncodingRulesBuffer& in, std::uint8_t expectedTag, std::uint8_t* tag = nullptr)
{
    std::uint8_t found = in.ReadByte();
    if (tag)
        *tag = found;
    else if (found != expectedTag)
        throw CPVXException(EVENT_BER_MALFORMED);
    std::uint32_t length = in.ReadLength();
    Bytes contents;
    for (std::uint32_t i = 0; i < length; ++i)
        contents.push_back(in.ReadByte());
    return contents;
}

inline SParsedMessage ParseMessage(Bytes bytes)
{
    SParsedMessage parsed;
    CBasicEncodingRulesBuffer in(bytes);
    std::uint32_t length = in.ReadHeader(0x30);
    std::size_t end = in.Position() + length;
    parsed.version = in.ReadInteger();
    parsed.community = in.ReadOctetString();
    parsed.pduTag = in.ReadByte();
    in.ReadLength();
    if (parsed.pduTag == 0xA4) {
        parsed.enterprise = in.ReadObjectIdentifier();
        parsed.agentAddress = ReadRaw(in, 0x40);
        parsed.genericTrap = in.ReadInteger();
        parsed.specificTrap = in.ReadInteger();
        parsed.timeStamp = ReadRaw(in, 0x43);
    } else {
        parsed.requestId = in.ReadInteger();
        parsed.errorStatus = in.ReadInteger();
        parsed.errorIndex = in.ReadInteger();
    }
    in.ReadHeader(0x30);
    while (in.Position() < end) {
        in.ReadHeader(0x30);
        SParsedBinding binding;
        binding.name = in.ReadObjectIdentifier();
        binding.contents = ReadRaw(in, 0, &binding.tag);
        parsed.bindings.push_back(std::move(binding));
    }
    parsed.trailer.assign(bytes.begin() + static_cast<std::ptrdiff_t>(std::min(end, bytes.size())), bytes.end());
    return parsed;
}

// A UPS whose MIB is a small ordered table; GET answers exact names, GET-NEXT
// the first name after the requested one. Chosen names fail on purpose.
class CScriptedUPS final : public CAbstractUPS {
public:
    struct SSetCall {
        COid name;
        std::int32_t kind;
        std::int32_t integer;
        std::string text;
    };

    CScriptedUPS()
        : CAbstractUPS(nullptr, nullptr)
    {
        Start(); // identified: a UPS the agent serves
    }

    int GetUPSType() override { return 3; }
    void Identify() override { }
    void ReadValues() override { }

    void AddObject(const COid& name, const CMIBData& value) { m_objects.insert_or_assign(Key(name), value); }
    void FailGet(const COid& name, std::uint32_t code) { m_getFailures[Key(name)] = code; }
    void FailSet(const COid& name, std::uint32_t code) { m_setFailures[Key(name)] = code; }

    std::unique_ptr<CMIBData> GetMIBData(std::span<const std::uint32_t> name, bool next) override
    {
        COid requested(name);
        m_gets.push_back({ requested, next });
        auto key = Key(requested);
        if (auto failure = m_getFailures.find(key); failure != m_getFailures.end())
            throw CPVXException(failure->second);
        auto found = next ? m_objects.upper_bound(key) : m_objects.find(key);
        if (found == m_objects.end())
            throw CPVXException(EVENT_NO_SUCH_OBJECT);
        auto value = std::make_unique<CMIBData>(found->second);
        value->SetName(std::span<const std::uint32_t>(found->first));
        return value;
    }

    // A failure set with FailSet comes from the checks; one set with
    // FailApply only when the value is applied (the UPS refused it). An
    // applied set records its undo, which fails for names given to FailUndo.
    void FailApply(const COid& name, std::uint32_t code) { m_applyFailures[Key(name)] = code; }
    void FailUndo(const COid& name) { m_undoFailures.insert(Key(name)); }
    void ClearSets()
    {
        m_setFailures.clear();
        m_applyFailures.clear();
        m_undoFailures.clear();
        m_sets.clear();
        m_undone.clear();
    }
    void SetMIBData(CMIBData& value) override
    {
        const auto key = Key(*value.GetName());
        if (auto failure = m_setFailures.find(key); failure != m_setFailures.end())
            throw CPVXException(failure->second);
        if (IsCheckingSet())
            return;
        if (auto failure = m_applyFailures.find(key); failure != m_applyFailures.end())
            throw CPVXException(failure->second);
        m_sets.push_back({ *value.GetName(), value.GetKind(), value.GetInteger(), value.GetText() });
        const bool undoFails = m_undoFailures.count(key) != 0;
        RecordUndo([this, key, undoFails] {
            if (undoFails)
                throw CPVXException(EVENT_COMMAND_FAILED);
            m_undone.push_back(key);
        });
    }

    std::vector<std::pair<COid, bool>> m_gets;
    std::vector<SSetCall> m_sets;
    std::vector<std::vector<std::uint32_t>> m_undone; // names whose set was undone, in undo order

private:
    static std::vector<std::uint32_t> Key(const COid& name) { return { name.Arcs().begin(), name.Arcs().end() }; }

    std::map<std::vector<std::uint32_t>, CMIBData> m_objects;
    std::map<std::vector<std::uint32_t>, std::uint32_t> m_getFailures;
    std::map<std::vector<std::uint32_t>, std::uint32_t> m_setFailures;
    std::map<std::vector<std::uint32_t>, std::uint32_t> m_applyFailures;
    std::set<std::vector<std::uint32_t>> m_undoFailures;
};

inline std::uint32_t Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = { a, b, c, d };
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// A UDP socket bound on the loopback network (127.x or ::1).
class CTestSocket {
public:
    CTestSocket(const SIpAddress& address, std::uint16_t port)
    {
        try {
            m_socket = OpenUdpSocket(port, address, { 1, 2, 3 });
            m_bound = GetSocketAddress(m_socket.Get(), m_address, m_port);
        } catch (const CPVXException&) {
        }
    }

    bool IsBound() const { return m_bound; }
    std::uint16_t Port() const { return m_port; }

    bool Send(const Bytes& bytes, const SIpAddress& address, std::uint16_t port)
    {
        SDatagram datagram;
        datagram.address = address;
        datagram.port = port;
        datagram.length = static_cast<std::uint32_t>(std::min(bytes.size(), datagram.data.size()));
        std::copy_n(bytes.begin(), datagram.length, datagram.data.begin());
        return SendTo(m_socket.Get(), datagram);
    }

    // Every datagram until `ms` pass without one (at most 10000).
    std::vector<Bytes> ReceiveUntilQuiet(std::uint32_t ms)
    {
        std::vector<Bytes> all;
        while (all.size() < 10000) {
            auto next = Receive(ms);
            if (!next)
                break;
            all.push_back(std::move(*next));
        }
        return all;
    }

    // The next datagram, or nothing once `ms` pass without one.
    std::optional<Bytes> Receive(std::uint32_t ms)
    {
        if (WaitReadable(m_socket.Get(), ms) <= 0)
            return std::nullopt;
        SDatagram datagram;
        if (!ReceiveFrom(m_socket.Get(), datagram))
            return std::nullopt;
        auto bytes = datagram.Bytes();
        return Bytes(bytes.begin(), bytes.end());
    }

private:
    CUniqueFd m_socket;
    bool m_bound = false;
    std::uint32_t m_address = 0;
    std::uint16_t m_port = 0;
};

} // namespace pvx::test
