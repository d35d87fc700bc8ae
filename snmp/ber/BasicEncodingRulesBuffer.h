// CBasicEncodingRulesBuffer: a bounded cursor that reads and writes the BER
// subset of SNMPv1 and SNMPv2c messages (INTEGER, OCTET STRING, NULL, OBJECT
// IDENTIFIER, SEQUENCE, the PDU tags, IpAddress, TimeTicks, the v2 exception
// values).
#pragma once

#include "platform/ByteCursor.h"
#include "snmp/values/MIBData.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace pvx {

namespace ber {
constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kNull = 0x05;
constexpr std::uint8_t kObjectIdentifier = 0x06;
constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kIpAddress = 0x40;
constexpr std::uint8_t kCounter32 = 0x41;
constexpr std::uint8_t kGauge32 = 0x42;
constexpr std::uint8_t kTimeTicks = 0x43;
constexpr std::uint8_t kGetRequest = 0xA0;
constexpr std::uint8_t kGetNextRequest = 0xA1;
constexpr std::uint8_t kGetResponse = 0xA2;
constexpr std::uint8_t kSetRequest = 0xA3;
constexpr std::uint8_t kTrap = 0xA4;
// SNMPv2 (RFC 3416): GetBulkRequest and the exception values of a binding.
constexpr std::uint8_t kGetBulkRequest = 0xA5;
constexpr std::uint8_t kNoSuchObject = 0x80;
constexpr std::uint8_t kNoSuchInstance = 0x81;
constexpr std::uint8_t kEndOfMibView = 0x82;

// Every length this codec writes takes the form 0x82 hi lo, so a header
// written with a placeholder length can be patched without moving its
// contents; in the minimal-length mode (SetMinimalLengths) lengths take the
// shortest definite form instead, and EndItem moves the contents.
constexpr std::size_t kHeaderSize = 4;
constexpr std::uint32_t kPlaceholderLength = 0x7FFF;
} // namespace ber

// Where a name read from a request lies against 1.3.6.1, the subtree every
// served object belongs to.
enum class ENamePlace { BeforeInternet, Internet, AfterInternet };

struct SRequestName {
    ENamePlace place = ENamePlace::Internet;
    // For names under 1.3.6.1: every arc after that prefix, as received
    // (nothing appended, nothing cut at a 0 arc).
    std::span<const std::uint32_t> arcs;
    // The same arcs followed by a 0 arc: the vendor naming's form of the name
    // once cut at its first 0 (NameUpToZero).
    std::span<const std::uint32_t> terminated;
};

// The buffer does not own its bytes. Every failure throws CPVXException
// 0xC0020031 (end of data or capacity) or 0xC0020030 (malformed or
// unsupported) and leaves the cursor where the failing step left it.
class CBasicEncodingRulesBuffer {
public:
    explicit CBasicEncodingRulesBuffer(std::span<std::uint8_t> bytes);
    CBasicEncodingRulesBuffer(std::uint8_t* bytes, std::size_t size)
        : CBasicEncodingRulesBuffer(std::span<std::uint8_t>(bytes, size))
    {
    }
    virtual ~CBasicEncodingRulesBuffer() = default;

    void Rewind() { m_cursor.Seek(0); }
    // Lengths in their shortest definite form (X.690 section 8.1.3), as strict
    // SNMPv3 stacks require; EndItem then moves an item's contents to fit,
    // so positions inside a finished item are no longer valid.
    void SetMinimalLengths(bool on) { m_minimalLengths = on; }
    std::size_t Position() const { return m_cursor.Offset(); }
    void SetPosition(std::size_t offset);
    std::size_t Remaining() const { return m_cursor.Remaining(); }
    std::size_t Size() const { return m_bytes.size(); }
    // The bytes from the start up to the cursor: what has been written so far.
    std::span<const std::uint8_t> Written() const { return std::span<const std::uint8_t>(m_bytes).first(Position()); }

    std::uint8_t ReadByte();
    // Inline: replies are written a byte at a time.
    void WriteByte(std::uint8_t value)
    {
        if (m_cursor.Remaining() == 0)
            OutOfRoom();
        m_bytes[m_cursor.Offset()] = value;
        m_cursor.Skip(1);
    }
    // The byte under the cursor, which stays where it is.
    std::uint8_t PeekByte() const;

    // Tag 0 means the caller has already consumed the tag byte.
    std::uint32_t ReadHeader(std::uint8_t expectedTag);
    std::uint32_t ReadLength();
    void WriteHeader(std::uint32_t length, std::uint8_t tag);
    void WriteLength(std::uint32_t length);

    // Starts a constructed or variable-length item with a placeholder length
    // and returns the position of its tag for EndItem.
    std::size_t BeginItem(std::uint8_t tag, std::uint32_t placeholder = ber::kPlaceholderLength);
    // Patches the item's length to end at `end` (default: the cursor) and
    // puts the cursor back where it was.
    void EndItem(std::size_t tagPosition, std::size_t end);
    void EndItem(std::size_t tagPosition) { EndItem(tagPosition, Position()); }

    std::int32_t ReadInteger();
    void WriteInteger(std::int32_t value);
    // Replaces the value of the INTEGER under the cursor, keeping its size.
    void OverwriteInteger(std::int32_t value);
    void WriteTimeTicks(std::uint32_t ticks);
    // An unsigned 32-bit number under an application tag (Counter32,
    // Gauge32, TimeTicks: RFC 2578 section 7.1).
    void WriteUnsigned(std::uint8_t tag, std::uint32_t number);
    // `address` in network byte order.
    void WriteIpAddress(std::uint32_t address);

    std::string ReadOctetString();
    // The contents of an OCTET STRING as a view into the buffer.
    std::span<const std::uint8_t> ReadOctetStringView();
    // Writes the text up to its first zero byte.
    void WriteOctetString(std::string_view text);
    void WriteNull();

    // Decodes an identifier below 1.3.6.1 into `arcs`, appends the 0 arc and
    // returns the name up to its first 0 arc. An identifier with more arcs
    // than `arcs` can hold is refused as malformed.
    std::span<const std::uint32_t> ReadObjectIdentifier(std::span<std::uint32_t> arcs);
    COid ReadObjectIdentifier();
    // Decodes any identifier a manager may ask for, including those outside
    // 1.3.6.1 or of three bytes or fewer (1, 1.3, 1.3.6.1, 0.0, 2.0), into
    // `arcs`, and says where it lies. An identifier with more arcs than
    // `arcs` can hold, or without contents, is refused as malformed.
    SRequestName ReadRequestName(std::span<std::uint32_t> arcs);
    void WriteObjectIdentifier(std::span<const std::uint32_t> arcs);
    void WriteObjectIdentifier(const COid& oid) { WriteObjectIdentifier(oid.Arcs()); }
    // 1.3.6.1 followed by exactly these arcs: no 0 arc is added or looked for.
    void WriteInstanceName(std::span<const std::uint32_t> arcs);

    // Name and value of one variable binding whose SEQUENCE header has been
    // read; values other than INTEGER, OCTET STRING and OBJECT IDENTIFIER
    // are refused.
    std::unique_ptr<CMIBData> ReadVarBind();
    // One whole variable binding, SEQUENCE included. Every number goes out
    // as INTEGER.
    void WriteVarBind(const CMIBData& value);
    // A binding of `name` (an OBJECT IDENTIFIER as received, tag and length
    // included, or arcs after 1.3.6.1 when that is empty) with an SNMPv2
    // exception value (noSuchObject, noSuchInstance, endOfMibView).
    void WriteExceptionVarBind(
        std::span<const std::uint8_t> receivedName, std::span<const std::uint32_t> arcs, std::uint8_t exception);

private:
    [[noreturn]] static void OutOfRoom();
    std::size_t ReadArcs(std::uint32_t length, std::span<std::uint32_t> arcs, bool splitFirst);

    std::span<std::uint8_t> m_bytes;
    CByteCursor m_cursor;
    bool m_minimalLengths = false;
};

// Content bytes of the shortest two's-complement form of `value` (1 to 4).
std::size_t IntegerContentSize(std::int32_t value);

} // namespace pvx
