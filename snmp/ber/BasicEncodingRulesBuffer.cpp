// The BER reader and writer of the SNMP agent: bounded byte access, lengths,
// the primitive types, object identifiers below 1.3.6.1 and variable bindings.
#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include "events/PVXException.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

namespace pvx {

namespace {

// Every identifier this codec handles starts 1.3.6.1, encoded as these bytes.
constexpr std::array<std::uint8_t, 3> kInternetPrefix { 0x2B, 0x06, 0x01 };

// Bytes that WriteLength uses after its first byte: at least two, or in
// the minimal form at least one (and none below 128).
std::size_t LengthFieldBytes(std::uint32_t length, bool minimal = false)
{
    if (minimal && length < 0x80)
        return 0;
    const std::size_t n = length > 0xFFFFFF ? 4 : length > 0xFFFF ? 3 : length > 0xFF ? 2 : 1;
    return std::max<std::size_t>(n, minimal ? 1 : 2);
}

// Writes the length field that LengthFieldBytes sized as `n` and returns
// its size.
std::size_t PutLength(std::uint8_t* out, std::uint32_t length, std::size_t n)
{
    if (n == 0) {
        out[0] = static_cast<std::uint8_t>(length);
        return 1;
    }
    out[0] = static_cast<std::uint8_t>(0x80 | n);
    if (n == 2) { // 0x82 hi lo: every length of the long form up to 65535
        out[1] = static_cast<std::uint8_t>(length >> 8);
        out[2] = static_cast<std::uint8_t>(length);
        return 3;
    }
    for (std::size_t i = 0; i < n; ++i)
        out[1 + i] = static_cast<std::uint8_t>(length >> (8 * (n - 1 - i)));
    return n + 1;
}

std::size_t BitLength(std::uint32_t value)
{
    return static_cast<std::size_t>(std::bit_width(value));
}

} // namespace

std::size_t IntegerContentSize(std::int32_t value)
{
    if (value >= -0x80 && value < 0x80)
        return 1;
    if (value >= -0x8000 && value < 0x8000)
        return 2;
    return value >= -0x800000 && value < 0x800000 ? 3 : 4;
}

CBasicEncodingRulesBuffer::CBasicEncodingRulesBuffer(std::span<std::uint8_t> bytes)
    : m_bytes(bytes)
    , m_cursor(std::span<const std::uint8_t>(bytes))
{
}

void CBasicEncodingRulesBuffer::SetPosition(std::size_t offset)
{
    if (!m_cursor.Seek(offset))
        ThrowEvent(EVENT_BER_BOUNDS);
}

std::uint8_t CBasicEncodingRulesBuffer::ReadByte()
{
    std::uint8_t value = 0;
    if (!m_cursor.ReadU8(value))
        ThrowEvent(EVENT_BER_BOUNDS);
    return value;
}

void CBasicEncodingRulesBuffer::OutOfRoom()
{
    ThrowEvent(EVENT_BER_BOUNDS);
}

std::uint8_t CBasicEncodingRulesBuffer::PeekByte() const
{
    if (m_cursor.Remaining() == 0)
        ThrowEvent(EVENT_BER_BOUNDS);
    return m_bytes[m_cursor.Offset()];
}

std::uint32_t CBasicEncodingRulesBuffer::ReadHeader(std::uint8_t expectedTag)
{
    if (expectedTag != 0 && ReadByte() != expectedTag)
        ThrowEvent(EVENT_BER_MALFORMED);
    return ReadLength();
}

std::uint32_t CBasicEncodingRulesBuffer::ReadLength()
{
    std::uint8_t first = ReadByte();
    if (first < 0x80)
        return first;
    // Long form; 0x80 alone (the indefinite form) reads as length 0. Leading
    // zero bytes are accepted, but a length beyond 32 bits is refused rather
    // than let wrap into a plausible small one.
    std::uint64_t length = 0;
    for (std::size_t n = first & 0x7Fu; n > 0; --n) {
        length = (length << 8) | ReadByte();
        if (length > std::numeric_limits<std::uint32_t>::max())
            ThrowEvent(EVENT_BER_MALFORMED);
    }
    return static_cast<std::uint32_t>(length);
}

void CBasicEncodingRulesBuffer::WriteHeader(std::uint32_t length, std::uint8_t tag)
{
    if (tag != 0)
        WriteByte(tag);
    WriteLength(length);
}

void CBasicEncodingRulesBuffer::WriteLength(std::uint32_t length)
{
    const std::size_t n = LengthFieldBytes(length, m_minimalLengths);
    if (Remaining() > n) {
        m_cursor.Skip(PutLength(m_bytes.data() + Position(), length, n));
        return;
    }
    // Byte by byte up to the capacity, where it throws: what fitted stays.
    std::array<std::uint8_t, 5> field {};
    const std::size_t size = PutLength(field.data(), length, n);
    for (std::size_t i = 0; i < size; ++i)
        WriteByte(field[i]);
}

std::size_t CBasicEncodingRulesBuffer::BeginItem(std::uint8_t tag, std::uint32_t placeholder)
{
    std::size_t tagPosition = Position();
    WriteHeader(placeholder, tag);
    return tagPosition;
}

void CBasicEncodingRulesBuffer::EndItem(std::size_t tagPosition, std::size_t end)
{
    std::size_t resume = Position();
    // The length field written by BeginItem: 0x80 | n, then n bytes.
    if (tagPosition + 2 > Size())
        ThrowEvent(EVENT_BER_BOUNDS);
    std::size_t lengthBytes = m_bytes[tagPosition + 1] & 0x7Fu;
    std::size_t contentsStart = tagPosition + 2 + lengthBytes;
    if (end < contentsStart || end > Size())
        ThrowEvent(EVENT_BER_MALFORMED);
    auto length = static_cast<std::uint32_t>(end - contentsStart);
    if (m_minimalLengths) {
        // The placeholder is at least as long as any length that fits the
        // buffer: the contents move back by the bytes the field saves.
        const std::size_t field = 1 + LengthFieldBytes(length, true);
        if (field > 1 + lengthBytes)
            ThrowEvent(EVENT_BER_MALFORMED);
        const std::size_t saved = 1 + lengthBytes - field;
        std::copy(m_bytes.begin() + static_cast<std::ptrdiff_t>(contentsStart),
            m_bytes.begin() + static_cast<std::ptrdiff_t>(end),
            m_bytes.begin() + static_cast<std::ptrdiff_t>(contentsStart - saved));
        // The field fits where the placeholder was: written in place.
        PutLength(m_bytes.data() + tagPosition + 1, length, field - 1);
        SetPosition(resume >= end ? resume - saved : resume);
        return;
    }
    // The real length must take as many bytes as the placeholder, or the
    // contents would have to move.
    if (LengthFieldBytes(length) != lengthBytes)
        ThrowEvent(EVENT_BER_MALFORMED);
    PutLength(m_bytes.data() + tagPosition + 1, length, lengthBytes);
}

std::int32_t CBasicEncodingRulesBuffer::ReadInteger()
{
    std::uint32_t length = ReadHeader(ber::kInteger);
    if (length == 0)
        return 0;
    // Sign-extend from the first byte; bytes beyond four shift the earlier
    // ones out.
    auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(ReadByte())));
    for (std::uint32_t i = 1; i < length; ++i)
        value = (value << 8) | ReadByte();
    return static_cast<std::int32_t>(value);
}

void CBasicEncodingRulesBuffer::WriteInteger(std::int32_t value)
{
    // Tag, length and contents in place where they fit: replies hold many
    // integers.
    const std::size_t n = IntegerContentSize(value);
    const std::size_t field = LengthFieldBytes(static_cast<std::uint32_t>(n), m_minimalLengths);
    auto bits = static_cast<std::uint32_t>(value);
    if (Remaining() < 2 + field + n) {
        // What fits is written, as WriteByte would, before it throws.
        WriteHeader(static_cast<std::uint32_t>(n), ber::kInteger);
        for (std::size_t i = n; i > 0; --i)
            WriteByte(static_cast<std::uint8_t>(bits >> (8 * (i - 1))));
        return;
    }
    std::uint8_t* out = m_bytes.data() + Position();
    out[0] = ber::kInteger;
    std::size_t at = 1 + PutLength(out + 1, static_cast<std::uint32_t>(n), field);
    for (std::size_t i = n; i > 0; --i)
        out[at++] = static_cast<std::uint8_t>(bits >> (8 * (i - 1)));
    m_cursor.Skip(at);
}

void CBasicEncodingRulesBuffer::OverwriteInteger(std::int32_t value)
{
    if (ReadByte() != ber::kInteger)
        ThrowEvent(EVENT_BER_MALFORMED);
    std::uint32_t length = ReadLength();
    if (length < IntegerContentSize(value))
        ThrowEvent(EVENT_BER_MALFORMED);
    // Checked before the first byte changes, so a failure leaves the
    // message as it was.
    if (length > Remaining())
        ThrowEvent(EVENT_BER_BOUNDS);
    auto bits = static_cast<std::uint32_t>(value);
    std::uint8_t fill = value < 0 ? 0xFF : 0x00;
    for (std::uint32_t i = length; i > 0; --i)
        WriteByte(i > 4 ? fill : static_cast<std::uint8_t>(bits >> (8 * (i - 1))));
}

void CBasicEncodingRulesBuffer::WriteTimeTicks(std::uint32_t ticks)
{
    WriteUnsigned(ber::kTimeTicks, ticks);
}

void CBasicEncodingRulesBuffer::WriteUnsigned(std::uint8_t tag, std::uint32_t number)
{
    // Unsigned, so a value with its top bit set gets a leading zero byte.
    std::uint64_t value = number;
    std::size_t n = 1;
    while (n < 5 && value >= (std::uint64_t { 1 } << (8 * n - 1)))
        ++n;
    WriteHeader(static_cast<std::uint32_t>(n), tag);
    for (std::size_t i = n; i > 0; --i)
        WriteByte(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

void CBasicEncodingRulesBuffer::WriteIpAddress(std::uint32_t address)
{
    std::array<std::uint8_t, 4> bytes {};
    std::memcpy(bytes.data(), &address, bytes.size());
    WriteHeader(4, ber::kIpAddress);
    for (std::uint8_t b : bytes)
        WriteByte(b);
}

std::span<const std::uint8_t> CBasicEncodingRulesBuffer::ReadOctetStringView()
{
    std::uint32_t length = ReadHeader(ber::kOctetString);
    std::span<const std::uint8_t> contents;
    if (!m_cursor.Take(length, contents)) {
        m_cursor.Seek(Size());
        ThrowEvent(EVENT_BER_BOUNDS);
    }
    return contents;
}

std::string CBasicEncodingRulesBuffer::ReadOctetString()
{
    auto contents = ReadOctetStringView();
    return std::string(contents.begin(), contents.end());
}

void CBasicEncodingRulesBuffer::WriteOctetString(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    WriteHeader(static_cast<std::uint32_t>(text.size()), ber::kOctetString);
    for (char c : text)
        WriteByte(static_cast<std::uint8_t>(c));
}

void CBasicEncodingRulesBuffer::WriteNull()
{
    WriteByte(ber::kNull);
    WriteByte(0x00);
}

// Reads `length` bytes of subidentifiers into `arcs`, keeping one slot free
// for the 0 arc that ends a name; with `splitFirst` the first subidentifier
// gives the two arcs it holds. Returns how many arcs were read.
std::size_t CBasicEncodingRulesBuffer::ReadArcs(std::uint32_t length, std::span<std::uint32_t> arcs, bool splitFirst)
{
    std::size_t count = 0;
    auto append = [&](std::uint32_t arc) {
        if (count + 1 >= arcs.size())
            ThrowEvent(EVENT_BER_MALFORMED);
        arcs[count++] = arc;
    };
    std::uint32_t value = 0;
    bool inArc = false;
    for (; length > 0; --length) {
        std::uint8_t b = ReadByte();
        value = (value << 7) | (b & 0x7Fu); // arcs beyond 32 bits wrap
        inArc = true;
        if (b >= 0x80)
            continue;
        if (splitFirst && count == 0) {
            std::uint32_t first = value < 40 ? 0 : value < 80 ? 1 : 2;
            append(first);
            append(value - 40 * first);
        } else {
            append(value);
        }
        value = 0;
        inArc = false;
    }
    if (inArc)
        append(value);
    return count;
}

std::span<const std::uint32_t> CBasicEncodingRulesBuffer::ReadObjectIdentifier(std::span<std::uint32_t> arcs)
{
    std::uint32_t length = ReadHeader(ber::kObjectIdentifier);
    if (length <= kInternetPrefix.size())
        ThrowEvent(EVENT_BER_MALFORMED);
    if (Remaining() < kInternetPrefix.size())
        ThrowEvent(EVENT_BER_BOUNDS);
    for (std::size_t i = 0; i < kInternetPrefix.size(); ++i)
        if (m_bytes[Position() + i] != kInternetPrefix[i])
            ThrowEvent(EVENT_BER_MALFORMED);
    m_cursor.Skip(kInternetPrefix.size());

    std::size_t count = ReadArcs(length - static_cast<std::uint32_t>(kInternetPrefix.size()), arcs, false);
    if (arcs.empty())
        ThrowEvent(EVENT_BER_MALFORMED);
    arcs[count++] = 0;
    return NameUpToZero(arcs.first(count));
}

SRequestName CBasicEncodingRulesBuffer::ReadRequestName(std::span<std::uint32_t> arcs)
{
    std::uint32_t length = ReadHeader(ber::kObjectIdentifier);
    if (length == 0)
        ThrowEvent(EVENT_BER_MALFORMED);
    if (length > Remaining())
        ThrowEvent(EVENT_BER_BOUNDS);
    // Full arcs first (the first subidentifier holds two), so that the
    // prefix can be compared arc by arc.
    std::size_t count = ReadArcs(length, arcs, true);

    constexpr std::array<std::uint32_t, 4> kInternet { 1, 3, 6, 1 };
    SRequestName name;
    std::span<const std::uint32_t> full(arcs.data(), count);
    std::size_t common = std::min(full.size(), kInternet.size());
    auto differs = std::ranges::mismatch(full.first(common), std::span(kInternet).first(common));
    if (differs.in1 != full.first(common).end()) {
        name.place = *differs.in1 < *differs.in2 ? ENamePlace::BeforeInternet : ENamePlace::AfterInternet;
        return name;
    }
    if (full.size() < kInternet.size()) {
        // 1, 1.3 and 1.3.6 are ancestors of 1.3.6.1 and sort before it.
        name.place = ENamePlace::BeforeInternet;
        return name;
    }
    arcs[count] = 0;
    name.arcs = full.subspan(kInternet.size());
    name.terminated = std::span<const std::uint32_t>(arcs.data() + kInternet.size(), count + 1 - kInternet.size());
    return name;
}

COid CBasicEncodingRulesBuffer::ReadObjectIdentifier()
{
    // Peek at the length first so that the scratch space is sized by the
    // bytes really present, never by a length the input claims.
    std::size_t start = Position();
    ReadHeader(ber::kObjectIdentifier);
    std::size_t room = Remaining() + 2;
    SetPosition(start);
    std::vector<std::uint32_t> arcs(room);
    return COid(ReadObjectIdentifier(std::span<std::uint32_t>(arcs)));
}

void CBasicEncodingRulesBuffer::WriteObjectIdentifier(std::span<const std::uint32_t> arcs)
{
    std::size_t tagPosition = BeginItem(ber::kObjectIdentifier);
    if (Size() - Position() <= kInternetPrefix.size())
        ThrowEvent(EVENT_BER_MALFORMED);
    for (std::uint8_t b : kInternetPrefix)
        WriteByte(b);

    auto writeArc = [this](std::uint32_t arc) {
        std::size_t bits = BitLength(arc);
        if (bits <= 7) {
            WriteByte(static_cast<std::uint8_t>(arc));
            return;
        }
        if (bits > 28)
            WriteByte(static_cast<std::uint8_t>((arc >> 28) | 0x80));
        if (bits > 21)
            WriteByte(static_cast<std::uint8_t>(((arc >> 21) & 0x7F) | 0x80));
        if (bits > 14)
            WriteByte(static_cast<std::uint8_t>(((arc >> 14) & 0x7F) | 0x80));
        WriteByte(static_cast<std::uint8_t>(((arc >> 7) & 0x7F) | 0x80));
        WriteByte(static_cast<std::uint8_t>(arc & 0x7F));
    };
    // The name ends with its first 0 arc, which is sent too; a span without
    // one still goes out ending in .0.
    bool terminated = false;
    for (std::uint32_t arc : arcs) {
        writeArc(arc);
        if (arc == 0) {
            terminated = true;
            break;
        }
    }
    if (!terminated)
        writeArc(0);
    EndItem(tagPosition);
}

namespace {

void WriteArc(CBasicEncodingRulesBuffer& out, std::uint32_t arc)
{
    std::size_t bits = BitLength(arc);
    if (bits <= 7) {
        out.WriteByte(static_cast<std::uint8_t>(arc));
        return;
    }
    if (bits > 28)
        out.WriteByte(static_cast<std::uint8_t>((arc >> 28) | 0x80));
    if (bits > 21)
        out.WriteByte(static_cast<std::uint8_t>(((arc >> 21) & 0x7F) | 0x80));
    if (bits > 14)
        out.WriteByte(static_cast<std::uint8_t>(((arc >> 14) & 0x7F) | 0x80));
    out.WriteByte(static_cast<std::uint8_t>(((arc >> 7) & 0x7F) | 0x80));
    out.WriteByte(static_cast<std::uint8_t>(arc & 0x7F));
}

} // namespace

void CBasicEncodingRulesBuffer::WriteInstanceName(std::span<const std::uint32_t> arcs)
{
    std::size_t tagPosition = BeginItem(ber::kObjectIdentifier);
    for (std::uint8_t b : kInternetPrefix)
        WriteByte(b);
    for (std::uint32_t arc : arcs)
        WriteArc(*this, arc);
    EndItem(tagPosition);
}

void CBasicEncodingRulesBuffer::WriteExceptionVarBind(
    std::span<const std::uint8_t> receivedName, std::span<const std::uint32_t> arcs, std::uint8_t exception)
{
    std::size_t tagPosition = BeginItem(ber::kSequence);
    if (!receivedName.empty()) {
        for (std::uint8_t b : receivedName)
            WriteByte(b);
    } else {
        WriteInstanceName(arcs);
    }
    WriteHeader(0, exception);
    EndItem(tagPosition);
}

std::unique_ptr<CMIBData> CBasicEncodingRulesBuffer::ReadVarBind()
{
    COid name = ReadObjectIdentifier();
    std::unique_ptr<CMIBData> value;
    switch (PeekByte()) {
    case ber::kInteger:
        value = std::make_unique<CMIBData>(ReadInteger(), std::numeric_limits<std::int32_t>::min(),
            std::numeric_limits<std::int32_t>::max(), MIB_SIGNED);
        break;
    case ber::kOctetString: {
        auto text = ReadOctetStringView();
        value = std::make_unique<CMIBData>(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), kMIBTextMax, MIB_TEXT);
        break;
    }
    case ber::kObjectIdentifier:
        value = std::make_unique<CMIBData>(ReadObjectIdentifier(), MIB_OID);
        break;
    default:
        ThrowEvent(EVENT_BER_MALFORMED);
    }
    value->SetName(name);
    return value;
}

void CBasicEncodingRulesBuffer::WriteVarBind(const CMIBData& value)
{
    // A value without a name, or an identifier value without an identifier,
    // cannot form a binding.
    const COid* name = value.GetName();
    if (name == nullptr)
        ThrowEvent(EVENT_BER_MALFORMED);
    std::size_t tagPosition = BeginItem(ber::kSequence);
    if (value.GetInstanceName().empty())
        WriteObjectIdentifier(*name);
    else
        WriteInstanceName(value.GetInstanceName());
    switch (value.GetKind()) {
    case MIB_SIGNED:
        WriteInteger(value.GetInteger());
        break;
    case MIB_UNSIGNED:
    case MIB_ENUMERATED:
        switch (value.GetWireForm()) {
        case EWireForm::Counter32:
            WriteUnsigned(ber::kCounter32, value.GetUnsigned());
            break;
        case EWireForm::Gauge32:
            WriteUnsigned(ber::kGauge32, value.GetUnsigned());
            break;
        case EWireForm::TimeTicks:
            WriteTimeTicks(value.GetUnsigned());
            break;
        default:
            WriteInteger(static_cast<std::int32_t>(value.GetUnsigned()));
        }
        break;
    case MIB_NUMBER_TEXT:
    case MIB_TEXT:
        if (value.GetWireForm() == EWireForm::Octets) {
            WriteHeader(static_cast<std::uint32_t>(value.GetText().size()), ber::kOctetString);
            for (char c : value.GetText())
                WriteByte(static_cast<std::uint8_t>(c));
        } else {
            WriteOctetString(value.GetText());
        }
        break;
    case MIB_OID:
        if (value.GetOid() == nullptr)
            ThrowEvent(EVENT_BER_MALFORMED);
        if (value.GetWireForm() == EWireForm::OidAsIs) {
            auto arcs = value.GetOid()->Arcs();
            WriteInstanceName(arcs.first(arcs.size() - 1));
        } else {
            WriteObjectIdentifier(*value.GetOid());
        }
        break;
    default:
        ThrowEvent(EVENT_BER_MALFORMED);
    }
    EndItem(tagPosition);
}

} // namespace pvx
