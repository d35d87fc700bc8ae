// Golden-byte tests of the BER reader and writer.
#include "events/PVXException.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace pvx {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kNoEvent = 0;

std::uint32_t EventOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const CPVXException& e) {
        return e.GetCode();
    }
    return kNoEvent;
}

// Runs `write` on a 1172-byte buffer and returns what it wrote.
Bytes Encode(const std::function<void(CBasicEncodingRulesBuffer&)>& write)
{
    std::vector<std::uint8_t> storage(1172);
    CBasicEncodingRulesBuffer buffer(storage);
    write(buffer);
    auto written = buffer.Written();
    return Bytes(written.begin(), written.end());
}

TEST(BerWrite, IntegersUseTheShortestTwosComplementAndTheLongLengthForm)
{
    struct Case {
        std::int32_t value;
        Bytes expected;
    };
    const Case cases[] = {
        { 0, { 0x02, 0x82, 0x00, 0x01, 0x00 } },
        { 127, { 0x02, 0x82, 0x00, 0x01, 0x7F } },
        { 128, { 0x02, 0x82, 0x00, 0x02, 0x00, 0x80 } },
        { 200, { 0x02, 0x82, 0x00, 0x02, 0x00, 0xC8 } },
        { -1, { 0x02, 0x82, 0x00, 0x01, 0xFF } },
        { -128, { 0x02, 0x82, 0x00, 0x01, 0x80 } },
        { -129, { 0x02, 0x82, 0x00, 0x02, 0xFF, 0x7F } },
        { 32768, { 0x02, 0x82, 0x00, 0x03, 0x00, 0x80, 0x00 } },
        { -8388609, { 0x02, 0x82, 0x00, 0x04, 0xFF, 0x7F, 0xFF, 0xFF } },
        { std::numeric_limits<std::int32_t>::max(), { 0x02, 0x82, 0x00, 0x04, 0x7F, 0xFF, 0xFF, 0xFF } },
        { std::numeric_limits<std::int32_t>::min(), { 0x02, 0x82, 0x00, 0x04, 0x80, 0x00, 0x00, 0x00 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(Encode([&](auto& b) { b.WriteInteger(c.value); }), c.expected);
    }
}

TEST(BerWrite, LengthsAreAlwaysLongFormWithAtLeastTwoBytes)
{
    struct Case {
        std::uint32_t length;
        Bytes expected;
    };
    const Case cases[] = {
        { 0, { 0x82, 0x00, 0x00 } },
        { 5, { 0x82, 0x00, 0x05 } },
        { 1172, { 0x82, 0x04, 0x94 } },
        { 65535, { 0x82, 0xFF, 0xFF } },
        { 70000, { 0x83, 0x01, 0x11, 0x70 } },
        { 0x01000000, { 0x84, 0x01, 0x00, 0x00, 0x00 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(Encode([&](auto& b) { b.WriteLength(c.length); }), c.expected);
    }
    EXPECT_EQ(Encode([](auto& b) { b.WriteHeader(5, 0); }), (Bytes { 0x82, 0x00, 0x05 }));
}

TEST(BerWrite, OtherPrimitives)
{
    struct Case {
        const char* name;
        std::function<void(CBasicEncodingRulesBuffer&)> write;
        Bytes expected;
    };
    const std::uint8_t loopback[4] = { 127, 0, 0, 1 };
    std::uint32_t loopbackNetworkOrder = 0;
    std::memcpy(&loopbackNetworkOrder, loopback, 4);
    const Case cases[] = {
        { "ticks 0", [](auto& b) { b.WriteTimeTicks(0); }, { 0x43, 0x82, 0x00, 0x01, 0x00 } },
        { "ticks 0x80 gets a leading zero", [](auto& b) { b.WriteTimeTicks(0x80); },
            { 0x43, 0x82, 0x00, 0x02, 0x00, 0x80 } },
        { "ticks 0x12345678", [](auto& b) { b.WriteTimeTicks(0x12345678); },
            { 0x43, 0x82, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78 } },
        { "ticks all ones take five bytes", [](auto& b) { b.WriteTimeTicks(0xFFFFFFFF); },
            { 0x43, 0x82, 0x00, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF } },
        { "ip address in network order", [&](auto& b) { b.WriteIpAddress(loopbackNetworkOrder); },
            { 0x40, 0x82, 0x00, 0x04, 0x7F, 0x00, 0x00, 0x01 } },
        { "octet string", [](auto& b) { b.WriteOctetString("public"); },
            { 0x04, 0x82, 0x00, 0x06, 'p', 'u', 'b', 'l', 'i', 'c' } },
        { "octet string stops at a zero byte", [](auto& b) { b.WriteOctetString(std::string("ab\0cd", 5)); },
            { 0x04, 0x82, 0x00, 0x02, 'a', 'b' } },
        { "empty octet string", [](auto& b) { b.WriteOctetString(""); }, { 0x04, 0x82, 0x00, 0x00 } },
        { "null", [](auto& b) { b.WriteNull(); }, { 0x05, 0x00 } },
        { "sequence around five bytes",
            [](auto& b) {
                auto tag = b.BeginItem(ber::kSequence, 1172);
                for (std::uint8_t i = 1; i <= 5; ++i)
                    b.WriteByte(i);
                b.EndItem(tag);
            },
            { 0x30, 0x82, 0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05 } },
        { "item patched to an end before the cursor",
            [](auto& b) {
                auto tag = b.BeginItem(ber::kGetResponse, 1172);
                b.WriteByte(0xEE);
                auto end = b.Position();
                b.WriteNull();
                b.EndItem(tag, end);
            },
            { 0xA2, 0x82, 0x00, 0x01, 0xEE, 0x05, 0x00 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Encode(c.write), c.expected);
    }
}

TEST(BerWrite, WritingPastTheCapacityFailsAndKeepsWhatWasWritten)
{
    std::uint8_t storage[4] = {};
    CBasicEncodingRulesBuffer buffer(storage, 3);
    for (std::uint8_t i = 1; i <= 3; ++i)
        buffer.WriteByte(i);
    EXPECT_EQ(EventOf([&] { buffer.WriteByte(4); }), EVENT_BER_BOUNDS);
    EXPECT_EQ(buffer.Position(), 3u);
    EXPECT_EQ((Bytes(storage, storage + 4)), (Bytes { 1, 2, 3, 0 }));

    // A header that does not fit stops at the capacity too.
    CBasicEncodingRulesBuffer small(storage, 2);
    EXPECT_EQ(EventOf([&] { small.WriteInteger(1); }), EVENT_BER_BOUNDS);
    EXPECT_EQ(small.Position(), 2u);
}

TEST(BerRead, Integers)
{
    struct Case {
        const char* name;
        Bytes input;
        std::int32_t value;
        std::uint32_t event;
        std::size_t position; // cursor after the read, or where it failed
    };
    const Case cases[] = {
        { "minus one", { 0x02, 0x01, 0xFF }, -1, kNoEvent, 3 },
        { "empty reads zero", { 0x02, 0x00 }, 0, kNoEvent, 2 },
        { "long length form", { 0x02, 0x82, 0x00, 0x02, 0x00, 0xC8 }, 200, kNoEvent, 6 },
        { "negative two bytes", { 0x02, 0x02, 0xFF, 0x7F }, -129, kNoEvent, 4 },
        { "five bytes shift the first out", { 0x02, 0x05, 0x01, 0x82, 0x03, 0x04, 0x05 }, -2113731579, kNoEvent, 7 },
        { "wrong tag", { 0x04, 0x01, 0x00 }, 0, EVENT_BER_MALFORMED, 1 },
        { "contents cut short", { 0x02, 0x02, 0x01 }, 0, EVENT_BER_BOUNDS, 3 },
        { "length missing", { 0x02 }, 0, EVENT_BER_BOUNDS, 1 },
        { "nothing at all", {}, 0, EVENT_BER_BOUNDS, 0 },
        { "length beyond 32 bits", { 0x02, 0x85, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01 }, 0, EVENT_BER_MALFORMED, 7 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes input = c.input;
        CBasicEncodingRulesBuffer buffer(input);
        std::int32_t value = 0;
        EXPECT_EQ(EventOf([&] { value = buffer.ReadInteger(); }), c.event);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(buffer.Position(), c.position);
    }
}

TEST(BerRead, Lengths)
{
    struct Case {
        Bytes input;
        std::uint32_t length;
        std::uint32_t event;
    };
    const Case cases[] = {
        { { 0x05 }, 5, kNoEvent },
        { { 0x7F }, 127, kNoEvent },
        { { 0x81, 0xC8 }, 200, kNoEvent },
        { { 0x80 }, 0, kNoEvent }, // indefinite form is not supported: it reads as 0
        { { 0x82, 0x01, 0x00 }, 256, kNoEvent },
        { { 0x84, 0xFF, 0xFF, 0xFF, 0xFF }, 0xFFFFFFFF, kNoEvent },
        { { 0x88, 0, 0, 0, 0, 0, 0, 0, 0x05 }, 5, kNoEvent },
        { { 0x85, 0x01, 0x00, 0x00, 0x00, 0x05 }, 0, EVENT_BER_MALFORMED },
        { { 0x82, 0x01 }, 0, EVENT_BER_BOUNDS },
        { { 0xFF }, 0, EVENT_BER_BOUNDS },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.input));
        Bytes input = c.input;
        CBasicEncodingRulesBuffer buffer(input);
        std::uint32_t length = 0;
        EXPECT_EQ(EventOf([&] { length = buffer.ReadLength(); }), c.event);
        EXPECT_EQ(length, c.length);
    }
}

TEST(BerRead, OctetStringsKeepZeroBytesAndStayInsideTheData)
{
    Bytes input { 0x04, 0x03, 'a', 0x00, 'b' };
    CBasicEncodingRulesBuffer buffer(input);
    EXPECT_EQ(buffer.ReadOctetString(), std::string("a\0b", 3));

    Bytes shortInput { 0x04, 0x05, 'a' };
    CBasicEncodingRulesBuffer truncated(shortInput);
    EXPECT_EQ(EventOf([&] { truncated.ReadOctetString(); }), EVENT_BER_BOUNDS);

    Bytes huge { 0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 'x' };
    CBasicEncodingRulesBuffer hugeBuffer(huge);
    EXPECT_EQ(EventOf([&] { hugeBuffer.ReadOctetString(); }), EVENT_BER_BOUNDS);
}

TEST(BerOid, DecodesArcsBelowTheInternetPrefix)
{
    struct Case {
        const char* name;
        Bytes input;
        COid expected;
        std::uint32_t event;
    };
    const Case cases[] = {
        { "vendor arc 534", { 0x06, 0x08, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x16, 0x01 }, { 4, 1, 534, 1, 0 },
            kNoEvent },
        { "scalar instance keeps one final 0",
            { 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x21, 0x01, 0x02, 0x01, 0x00 }, { 2, 1, 33, 1, 2, 1, 0 },
            kNoEvent },
        { "0 arc in the middle ends the name", { 0x06, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x00, 0x05 }, { 2, 0 }, kNoEvent },
        { "largest arc", { 0x06, 0x08, 0x2B, 0x06, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F }, { 0xFFFFFFFF, 0 }, kNoEvent },
        { "arc beyond 32 bits wraps", { 0x06, 0x08, 0x2B, 0x06, 0x01, 0x9F, 0xFF, 0xFF, 0xFF, 0x7F }, { 0xFFFFFFFF, 0 },
            kNoEvent },
        { "unfinished last arc is still taken", { 0x06, 0x05, 0x2B, 0x06, 0x01, 0x04, 0x81 }, { 4, 1, 0 }, kNoEvent },
        { "wrong prefix", { 0x06, 0x04, 0x2B, 0x06, 0x02, 0x01 }, {}, EVENT_BER_MALFORMED },
        { "prefix only", { 0x06, 0x03, 0x2B, 0x06, 0x01 }, {}, EVENT_BER_MALFORMED },
        { "empty", { 0x06, 0x00 }, {}, EVENT_BER_MALFORMED },
        { "prefix cut short", { 0x06, 0x05, 0x2B, 0x06 }, {}, EVENT_BER_BOUNDS },
        { "arcs cut short", { 0x06, 0x09, 0x2B, 0x06, 0x01, 0x04 }, {}, EVENT_BER_BOUNDS },
        { "length claims four gigabytes", { 0x06, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x2B, 0x06, 0x01, 0x04 }, {},
            EVENT_BER_BOUNDS },
        { "wrong tag", { 0x04, 0x04, 0x2B, 0x06, 0x01, 0x01 }, {}, EVENT_BER_MALFORMED },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes input = c.input;
        CBasicEncodingRulesBuffer buffer(input);
        COid oid;
        EXPECT_EQ(EventOf([&] { oid = buffer.ReadObjectIdentifier(); }), c.event);
        if (c.event == kNoEvent) {
            EXPECT_EQ(oid, c.expected) << oid.ToString();
            EXPECT_EQ(buffer.Remaining(), 0u);
        }
    }
}

TEST(BerOid, DecodingIntoFixedStorageRefusesMoreArcsThanItHolds)
{
    Bytes input { 0x06, 0x07, 0x2B, 0x06, 0x01, 0x01, 0x02, 0x03, 0x04 };
    std::uint32_t arcs[4];
    CBasicEncodingRulesBuffer buffer(input);
    EXPECT_EQ(EventOf([&] { buffer.ReadObjectIdentifier(arcs); }), EVENT_BER_MALFORMED);

    std::uint32_t enough[5];
    buffer.Rewind();
    auto name = buffer.ReadObjectIdentifier(enough);
    EXPECT_EQ(std::vector<std::uint32_t>(name.begin(), name.end()), (std::vector<std::uint32_t> { 1, 2, 3, 4, 0 }));
}

TEST(BerOid, RequestNamesAreReadWhereverTheyLie)
{
    struct Case {
        const char* name;
        Bytes input;
        ENamePlace place;
        std::vector<std::uint32_t> arcs; // after 1.3.6.1, as received
        std::uint32_t event;
    };
    using enum ENamePlace;
    const Case cases[] = {
        { "1", { 0x06, 0x01, 0x01 }, BeforeInternet, {}, kNoEvent },
        { "0.0", { 0x06, 0x01, 0x00 }, BeforeInternet, {}, kNoEvent },
        { "1.3", { 0x06, 0x01, 0x2B }, BeforeInternet, {}, kNoEvent },
        { "1.3.6", { 0x06, 0x02, 0x2B, 0x06 }, BeforeInternet, {}, kNoEvent },
        { "1.3.5.9", { 0x06, 0x03, 0x2B, 0x05, 0x09 }, BeforeInternet, {}, kNoEvent },
        { "1.3.6.1 itself", { 0x06, 0x03, 0x2B, 0x06, 0x01 }, Internet, {}, kNoEvent },
        { "instance name kept whole, 0 arcs included",
            { 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x00, 0x84, 0x16 }, Internet, { 2, 1, 0, 534 }, kNoEvent },
        { "1.3.6.2", { 0x06, 0x03, 0x2B, 0x06, 0x02 }, AfterInternet, {}, kNoEvent },
        { "2.0", { 0x06, 0x01, 0x50 }, AfterInternet, {}, kNoEvent },
        { "2.100 (first subidentifier above 127)", { 0x06, 0x02, 0x81, 0x34 }, AfterInternet, {}, kNoEvent },
        { "empty", { 0x06, 0x00 }, Internet, {}, EVENT_BER_MALFORMED },
        { "cut short", { 0x06, 0x05, 0x2B, 0x06 }, Internet, {}, EVENT_BER_BOUNDS },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes input = c.input;
        CBasicEncodingRulesBuffer buffer(input);
        std::uint32_t storage[16];
        SRequestName name;
        EXPECT_EQ(EventOf([&] { name = buffer.ReadRequestName(storage); }), c.event);
        if (c.event != kNoEvent)
            continue;
        EXPECT_EQ(name.place, c.place);
        EXPECT_EQ(std::vector<std::uint32_t>(name.arcs.begin(), name.arcs.end()), c.arcs);
        if (c.place == Internet) {
            ASSERT_EQ(name.terminated.size(), c.arcs.size() + 1);
            EXPECT_EQ(name.terminated.back(), 0u);
        }
        EXPECT_EQ(buffer.Remaining(), 0u);
    }
}

TEST(BerOid, EncodesEveryArcWidthAndTheFinalZero)
{
    struct Case {
        COid oid;
        Bytes expected;
    };
    const Case cases[] = {
        { { 4, 1, 534, 1, 0 }, { 0x06, 0x82, 0x00, 0x09, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x16, 0x01, 0x00 } },
        { { 2, 1, 11, 0 }, { 0x06, 0x82, 0x00, 0x07, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x0B, 0x00 } },
        { { 127, 128, 0 }, { 0x06, 0x82, 0x00, 0x07, 0x2B, 0x06, 0x01, 0x7F, 0x81, 0x00, 0x00 } },
        { { 16383, 16384, 0 }, { 0x06, 0x82, 0x00, 0x09, 0x2B, 0x06, 0x01, 0xFF, 0x7F, 0x81, 0x80, 0x00, 0x00 } },
        { { 2097152, 0 }, { 0x06, 0x82, 0x00, 0x08, 0x2B, 0x06, 0x01, 0x81, 0x80, 0x80, 0x00, 0x00 } },
        { { 268435456, 0 }, { 0x06, 0x82, 0x00, 0x09, 0x2B, 0x06, 0x01, 0x81, 0x80, 0x80, 0x80, 0x00, 0x00 } },
        { { 0xFFFFFFFF, 0 }, { 0x06, 0x82, 0x00, 0x09, 0x2B, 0x06, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00 } },
        { {}, { 0x06, 0x82, 0x00, 0x04, 0x2B, 0x06, 0x01, 0x00 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.oid.ToString());
        EXPECT_EQ(Encode([&](auto& b) { b.WriteObjectIdentifier(c.oid); }), c.expected);
    }

    // A raw span without a 0 arc still goes out ending in .0.
    const std::uint32_t raw[] = { 2, 1 };
    EXPECT_EQ(Encode([&](auto& b) { b.WriteObjectIdentifier(std::span<const std::uint32_t>(raw)); }),
        (Bytes { 0x06, 0x82, 0x00, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x00 }));
}

TEST(BerOid, NoRoomForThePrefixIsMalformed)
{
    std::uint8_t storage[7] = {};
    CBasicEncodingRulesBuffer buffer(storage, sizeof storage);
    EXPECT_EQ(EventOf([&] { buffer.WriteObjectIdentifier(COid { 2, 0 }); }), EVENT_BER_MALFORMED);
    EXPECT_EQ(buffer.Position(), 4u);

    std::uint8_t roomForPrefix[8] = {};
    CBasicEncodingRulesBuffer tight(roomForPrefix, sizeof roomForPrefix);
    EXPECT_EQ(EventOf([&] { tight.WriteObjectIdentifier(COid { 2, 0 }); }), EVENT_BER_BOUNDS);
}

TEST(BerInteger, OverwriteKeepsTheFieldSize)
{
    struct Case {
        const char* name;
        Bytes input;
        std::int32_t value;
        Bytes expected;
        std::uint32_t event;
    };
    const Case cases[] = {
        { "one byte", { 0x02, 0x01, 0x00 }, 5, { 0x02, 0x01, 0x05 }, kNoEvent },
        { "right-aligned with zeros", { 0x02, 0x03, 0xFF, 0xFF, 0xFF }, 1, { 0x02, 0x03, 0x00, 0x00, 0x01 }, kNoEvent },
        { "two bytes", { 0x02, 0x02, 0x00, 0x00 }, 300, { 0x02, 0x02, 0x01, 0x2C }, kNoEvent },
        { "six bytes", { 0x02, 0x06, 9, 9, 9, 9, 9, 9 }, 2, { 0x02, 0x06, 0, 0, 0, 0, 0, 2 }, kNoEvent },
        { "long length form", { 0x02, 0x81, 0x01, 0x07 }, 3, { 0x02, 0x81, 0x01, 0x03 }, kNoEvent },
        { "empty field", { 0x02, 0x00 }, 5, { 0x02, 0x00 }, EVENT_BER_MALFORMED },
        { "too short for the value", { 0x02, 0x01, 0x00 }, 200, { 0x02, 0x01, 0x00 }, EVENT_BER_MALFORMED },
        { "not an integer", { 0x04, 0x01, 0x00 }, 5, { 0x04, 0x01, 0x00 }, EVENT_BER_MALFORMED },
        { "field past the data stays untouched", { 0x02, 0x03, 0x07, 0x07 }, 1, { 0x02, 0x03, 0x07, 0x07 },
            EVENT_BER_BOUNDS },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = c.input;
        CBasicEncodingRulesBuffer buffer(bytes);
        EXPECT_EQ(EventOf([&] { buffer.OverwriteInteger(c.value); }), c.event);
        EXPECT_EQ(bytes, c.expected);
    }
}

// A binding's contents after its SEQUENCE header: name 1.3.6.1.2.1.0 and a value.
Bytes BindingWithValue(const Bytes& value)
{
    Bytes bytes { 0x06, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x00 };
    // Reserved first: gcc 12 at -O3 otherwise reports a false -Warray-bounds.
    bytes.reserve(bytes.size() + value.size());
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

TEST(BerVarBind, ReadsIntegerTextAndIdentifierValuesOnly)
{
    const COid name { 2, 1, 0 };
    struct Case {
        const char* name;
        Bytes value;
        std::int32_t kind;
        std::uint32_t event;
    };
    const Case cases[] = {
        { "integer", { 0x02, 0x02, 0xFF, 0x38 }, MIB_SIGNED, kNoEvent },
        { "octet string", { 0x04, 0x02, 'h', 'i' }, MIB_TEXT, kNoEvent },
        { "identifier", { 0x06, 0x05, 0x2B, 0x06, 0x01, 0x04, 0x01 }, MIB_OID, kNoEvent },
        { "null", { 0x05, 0x00 }, 0, EVENT_BER_MALFORMED },
        { "ip address", { 0x40, 0x04, 127, 0, 0, 1 }, 0, EVENT_BER_MALFORMED },
        { "time ticks", { 0x43, 0x01, 0x01 }, 0, EVENT_BER_MALFORMED },
        { "counter", { 0x41, 0x01, 0x01 }, 0, EVENT_BER_MALFORMED },
        { "value missing", {}, 0, EVENT_BER_BOUNDS },
        { "value cut short", { 0x02, 0x02, 0x01 }, 0, EVENT_BER_BOUNDS },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = BindingWithValue(c.value);
        CBasicEncodingRulesBuffer buffer(bytes);
        std::unique_ptr<CMIBData> value;
        EXPECT_EQ(EventOf([&] { value = buffer.ReadVarBind(); }), c.event);
        if (c.event != kNoEvent)
            continue;
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->GetKind(), c.kind);
        ASSERT_NE(value->GetName(), nullptr);
        EXPECT_EQ(*value->GetName(), name);
    }

    Bytes integer = BindingWithValue({ 0x02, 0x02, 0xFF, 0x38 });
    CBasicEncodingRulesBuffer integerBuffer(integer);
    EXPECT_EQ(integerBuffer.ReadVarBind()->GetInteger(), -200);

    Bytes identifier = BindingWithValue({ 0x06, 0x05, 0x2B, 0x06, 0x01, 0x04, 0x01 });
    CBasicEncodingRulesBuffer identifierBuffer(identifier);
    EXPECT_EQ(*identifierBuffer.ReadVarBind()->GetOid(), (COid { 4, 1, 0 }));
}

TEST(BerVarBind, LongTextIsCutTo255Characters)
{
    Bytes value { 0x04, 0x82, 0x01, 0x2C };
    value.insert(value.end(), 300, 'x');
    Bytes bytes = BindingWithValue(value);
    CBasicEncodingRulesBuffer buffer(bytes);
    EXPECT_EQ(buffer.ReadVarBind()->GetText(), std::string(255, 'x'));
}

TEST(BerVarBind, WritesEveryKindWithNumbersAsInteger)
{
    const COid name { 2, 1, 0 };
    // SEQUENCE, then the name 1.3.6.1.2.1.0, then the value.
    auto binding = [](std::uint8_t length, const Bytes& value) {
        Bytes bytes { 0x30, 0x82, 0x00, length, 0x06, 0x82, 0x00, 0x06, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x00 };
        bytes.reserve(bytes.size() + value.size()); // see BindingWithValue
        bytes.insert(bytes.end(), value.begin(), value.end());
        return bytes;
    };
    struct Case {
        const char* name;
        std::function<CMIBData()> make;
        Bytes expected;
    };
    const Case cases[] = {
        { "signed", [] { return CMIBData(-5, -100, 100, MIB_SIGNED); }, binding(15, { 0x02, 0x82, 0x00, 0x01, 0xFB }) },
        { "unsigned", [] { return CMIBData(200u, 2147483647u, MIB_UNSIGNED); },
            binding(16, { 0x02, 0x82, 0x00, 0x02, 0x00, 0xC8 }) },
        { "enumerated", [] { return CMIBData(0u, 6u, MIB_ENUMERATED); },
            binding(15, { 0x02, 0x82, 0x00, 0x01, 0x01 }) },
        { "unsigned beyond the signed range", [] { return CMIBData(0xFFFFFFFFu, 0xFFFFFFFFu, MIB_UNSIGNED); },
            binding(15, { 0x02, 0x82, 0x00, 0x01, 0xFF }) },
        { "number as text", [] { return CMIBData(42u, 100u, MIB_NUMBER_TEXT); },
            binding(16, { 0x04, 0x82, 0x00, 0x02, '4', '2' }) },
        { "text", [] { return CMIBData(std::string_view("UPS"), 63, MIB_TEXT); },
            binding(17, { 0x04, 0x82, 0x00, 0x03, 'U', 'P', 'S' }) },
        { "identifier",
            [] {
                return CMIBData(COid { 4, 1, 534, 2, 1, 0 }, MIB_OID);
            },
            binding(24, { 0x06, 0x82, 0x00, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x16, 0x02, 0x01, 0x00 }) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CMIBData value = c.make();
        value.SetName(name);
        EXPECT_EQ(Encode([&](auto& b) { b.WriteVarBind(value); }), c.expected);
    }
}

TEST(BerVarBind, RefusesValuesItCannotBind)
{
    CMIBData unknownKind(1, 0, 10, 6);
    unknownKind.SetName(COid { 2, 0 });
    CMIBData nameless(1, 0, 10, MIB_SIGNED);
    CMIBData emptyIdentifier(1u, 10u, MIB_OID);
    emptyIdentifier.SetName(COid { 2, 0 });
    for (const CMIBData* value : { &unknownKind, &nameless, &emptyIdentifier }) {
        std::uint8_t storage[64];
        CBasicEncodingRulesBuffer buffer(storage, sizeof storage);
        EXPECT_EQ(EventOf([&] { buffer.WriteVarBind(*value); }), EVENT_BER_MALFORMED);
    }
}

TEST(BerVarBind, RoundTripsWhatItReads)
{
    Bytes request { 0x06, 0x07, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x16, 0x02, 0x01, 0x02 };
    CBasicEncodingRulesBuffer reader(request);
    auto value = reader.ReadVarBind();
    EXPECT_EQ(Encode([&](auto& b) { b.WriteVarBind(*value); }),
        (Bytes { 0x30, 0x82, 0x00, 0x11, 0x06, 0x82, 0x00, 0x08, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x16, 0x00, 0x02,
            0x82, 0x00, 0x01, 0x02 }));
}

} // namespace
} // namespace pvx
