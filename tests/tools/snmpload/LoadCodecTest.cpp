// The load generator's requests byte for byte, and the reply fields it counts.
#include "tools/snmpload/LoadCodec.h"

#include <gtest/gtest.h>

using namespace pvx::snmpload;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<std::uint32_t> Oid(const char* text)
{
    std::vector<std::uint32_t> arcs;
    EXPECT_TRUE(ParseOid(text, arcs)) << text;
    return arcs;
}

TEST(LoadCodec, EncodesRequestsExactly)
{
    struct SCase {
        const char* what;
        SRequest request;
        Bytes expected;
    };
    const SCase cases[] = {
        { "v1 GetRequest of sysUpTime.0",
            { kVersion1, "gavrel", EOperation::Get, 0x0776F810, 0, 0, { Oid("1.3.6.1.2.1.1.3.0") } },
            {
                0x30, 0x29, 0x02, 0x01, 0x00,                           // message, version 0
                0x04, 0x06, 'g', 'a', 'v', 'r', 'e', 'l',               // community
                0xA0, 0x1C, 0x02, 0x04, 0x07, 0x76, 0xF8, 0x10,         // GetRequest, request-id
                0x02, 0x01, 0x00, 0x02, 0x01, 0x00,                     // error-status, error-index
                0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x05, 0x00,
            } },
        { "v2c GetBulkRequest, non-repeaters 1, max-repetitions 200, two names",
            { kVersion2c, "public", EOperation::GetBulk, 0x21791779, 1, 200,
                { Oid("1.3.6.1.2.1.1.3.0"), Oid(".1.3.6.1.2.1.33.1.2") } },
            {
                0x30, 0x38, 0x02, 0x01, 0x01, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',
                0xA5, 0x2B, 0x02, 0x04, 0x21, 0x79, 0x17, 0x79,
                0x02, 0x01, 0x01, 0x02, 0x02, 0x00, 0xC8,               // 200 needs a leading zero byte
                0x30, 0x1C, 0x30, 0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x05, 0x00,
                0x30, 0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x21, 0x01, 0x02, 0x05, 0x00,
            } },
        { "v2c GetRequest, a request-id as the generator makes them",
            { kVersion2c, "c", EOperation::Get, 0x40000401, 0, 0, { Oid("1.3.6.1.2.1.1.3.0") } },
            {
                0x30, 0x24, 0x02, 0x01, 0x01, 0x04, 0x01, 'c',
                0xA0, 0x1C, 0x02, 0x04, 0x40, 0x00, 0x04, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
                0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x05, 0x00,
            } },
        { "v1 GetNextRequest, a negative request-id and an arc of two bytes",
            { kVersion1, "c", EOperation::GetNext, -129, 0, 0, { Oid("1.3.6.1.4.1.534") } },
            {
                0x30, 0x21, 0x02, 0x01, 0x00, 0x04, 0x01, 'c',
                0xA1, 0x19, 0x02, 0x02, 0xFF, 0x7F, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
                0x30, 0x0D, 0x30, 0x0B, 0x06, 0x07, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x16, 0x05, 0x00,
            } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t requestIdAt = 0;
        EXPECT_EQ(EncodeRequest(c.request, requestIdAt), c.expected);
        if (c.request.requestId >= 0x40000000) { // the ids a generator patches in place
            EXPECT_EQ((Bytes(c.expected.begin() + static_cast<std::ptrdiff_t>(requestIdAt) - 2,
                          c.expected.begin() + static_cast<std::ptrdiff_t>(requestIdAt) + 4)),
                (Bytes { 0x02, 0x04, 0x40, 0x00, 0x04, 0x01 }));
        }
    }
}

TEST(LoadCodec, LongContentsGetLongFormLengths)
{
    SRequest request { kVersion1, std::string(200, 'x'), EOperation::Get, 1, 0, 0, { Oid("1.3.6.1.2.1.1.3.0") } };
    const Bytes bytes = EncodeRequest(request);
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ((Bytes { bytes[0], bytes[1], bytes[2], bytes[3] }), (Bytes { 0x30, 0x81, 0xE9, 0x02 }));
    EXPECT_EQ((Bytes { bytes[6], bytes[7], bytes[8] }), (Bytes { 0x04, 0x81, 0xC8 }));
    EXPECT_EQ(bytes.size(), 3u + 0xE9);
}

TEST(LoadCodec, RefusesWhatIsNotAnObjectIdentifier)
{
    std::vector<std::uint32_t> arcs;
    for (const char* bad : { "", "1", "1.", "1..3", "3.1", "1.40", "1.3.x", "1.3.4294967296", "-1.3" })
        EXPECT_FALSE(ParseOid(bad, arcs)) << bad;
    EXPECT_TRUE(ParseOid("2.100.4294967295", arcs));
    EXPECT_EQ(arcs, (std::vector<std::uint32_t> { 2, 100, 4294967295u }));
}

TEST(LoadCodec, DecodesTheFieldsOfAReply)
{
    // GetResponse, request-id 0x1234, two bindings, the second endOfMibView,
    // followed by two bytes outside the message.
    const Bytes reply = {
        0x30, 0x2A, 0x02, 0x01, 0x01, 0x04, 0x01, 'c',
        0xA2, 0x22, 0x02, 0x02, 0x12, 0x34, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00,
        0x30, 0x16,
        0x30, 0x09, 0x06, 0x04, 0x2B, 0x06, 0x01, 0x02, 0x02, 0x01, 0x07,
        0x30, 0x09, 0x06, 0x05, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x82, 0x00,
        0x05, 0x00,
    };
    SReply decoded;
    ASSERT_TRUE(DecodeReply(reply, decoded));
    EXPECT_EQ(decoded.requestId, 0x1234);
    EXPECT_EQ(decoded.errorStatus, 0);
    EXPECT_EQ(decoded.bindings, 2u);
    EXPECT_EQ(decoded.exceptions, 1u);
    EXPECT_EQ(decoded.trailing, 2u);

    // Cut anywhere inside the message, or carrying another PDU, it is refused.
    for (std::size_t size = 0; size < reply.size() - 2; ++size)
        EXPECT_FALSE(DecodeReply(std::span(reply).first(size), decoded)) << size;
    Bytes request = reply;
    request[8] = 0xA0;
    EXPECT_FALSE(DecodeReply(request, decoded));
}

} // namespace
