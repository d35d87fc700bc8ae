// CCommands over a real pseudo-terminal against prepared UPS replies: frame
// bytes, reply assembly, status blocks, busy retries, authorization, bounds
// on what a misbehaving UPS can make the link do, and relay re-framing.
#include "xcp/link/Commands.h"
#include "xcp/link/XCPFrame.h"

#include "LinkTestSupport.h"
#include "platform/SerialWait.h"
#include "tests/support/ScriptedPort.h"

#include <chrono>
#include <thread>

namespace pvx {
namespace {

using test::Block;
using test::Bytes;
using test::Concat;
using test::Counting;
using test::CScriptedLine;
using test::EventOf;
using test::Status;

const Bytes kAuthorization = {0xAB, 0x04, 0xCF, 0x3A, 0x91, 0x4E, 0x69}; // command CF, code 3A 91 4E, checksum
const Bytes kEmptyBlock1 = {0xAB, 0x01, 0x00, 0x80, 0xD4};               // block 1, no data, last

TEST(XCPFrame, BuildsGoldenFrames)
{
    struct SCase {
        const char* name;
        Bytes built;
        Bytes golden;
    };
    const Bytes baudSwitch = {0x00, 0x01, 0x80, 0x25};
    const SCase cases[] = {
        {"simple 0x31", BuildRequestFrame(0x31), {0xAB, 0x01, 0x31, 0x23}},
        {"simple 0x40", BuildRequestFrame(0x40), {0xAB, 0x01, 0x40, 0x14}},
        {"simple 0xA0", BuildRequestFrame(0xA0), {0xAB, 0x01, 0xA0, 0xB4}},
        // length 5 = command + 4 data bytes; 0x2580 = 9600 little-endian
        {"baud switch", BuildRequestFrame(0x98, baudSwitch), {0xAB, 0x05, 0x98, 0x00, 0x01, 0x80, 0x25, 0x12}},
        {"authorization", Bytes(kXCPAuthorizationFrame.begin(), kXCPAuthorizationFrame.end()), kAuthorization},
        // status block: number 9, 3 data bytes (status, echoed command and data), last
        {"status reply", BuildStatusReply(0x31, 0x8B), {0xAB, 0x09, 0x02, 0x81, 0x31, 0x8B, 0x0D}},
        {"empty reply", BuildReply(1, {}), {0xAB, 0x01, 0x00, 0x81, 0xD3}},
        {"split reply", BuildReply(4, Bytes{1, 2, 3}, 2), Concat({Block(4, 0x01, {1, 2}), Block(4, 0x82, {3})})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.built, c.golden);
    }
}

TEST(XCPFrame, ParsersStayInsideTheirBuffers)
{
    struct SCase {
        const char* name;
        Bytes input;
        EXCPParse result;
        std::size_t consumed;
    };
    const SCase requests[] = {
        {"whole", {0xAB, 0x01, 0x31, 0x23}, EXCPParse::Complete, 4},
        {"short", {0xAB, 0x05, 0x98}, EXCPParse::Incomplete, 0},
        {"bad start", {0x1B, 0xAB}, EXCPParse::BadStart, 0},
        {"zero length", {0xAB, 0x00, 0x55}, EXCPParse::BadLength, 0},
        {"bad checksum", {0xAB, 0x01, 0x31, 0x24, 0x00}, EXCPParse::BadChecksum, 4},
        {"empty", {}, EXCPParse::Incomplete, 0},
    };
    for (const auto& c : requests) {
        SCOPED_TRACE(c.name);
        CByteCursor cursor(c.input);
        CXCPRequest request;
        EXPECT_EQ(ParseRequestFrame(cursor, request), c.result);
        EXPECT_EQ(cursor.Offset(), c.consumed);
    }
    const SCase blocks[] = {
        {"whole", kEmptyBlock1, EXCPParse::Complete, 5},
        {"length beyond the data", {0xAB, 0x01, 0xFF, 0x81, 0x00}, EXCPParse::Incomplete, 0},
        {"bad checksum", {0xAB, 0x01, 0x00, 0x80, 0xD5}, EXCPParse::BadChecksum, 5},
        {"header only", {0xAB, 0x01, 0x00}, EXCPParse::Incomplete, 0},
    };
    for (const auto& c : blocks) {
        SCOPED_TRACE(c.name);
        CByteCursor cursor(c.input);
        SXCPBlock block;
        EXPECT_EQ(ParseReplyBlock(cursor, block), c.result);
        EXPECT_EQ(cursor.Offset(), c.consumed);
    }
}

TEST(XCPRequestView, ReadsAsFarAsTheFrameGoes)
{
    const std::uint8_t frame[] = { 0xAB, 0x05, 0x97, 0x01, 0x02 };
    const CXCPRequest request(frame);
    EXPECT_TRUE(request.HasCommand());
    EXPECT_EQ(request.Length(), 3u);
    EXPECT_EQ(request.Command(), 0x97);
    EXPECT_EQ(request.Data(0), 0x01);
    EXPECT_EQ(request.Data(1), 0x02);
    EXPECT_EQ(request.Data(2), 0x00);
    EXPECT_EQ(request.Data16(1), 0x0002);
    EXPECT_EQ(request.Data(1000), 0x00);

    const std::uint8_t whole[] = { 0xAB, 0x02, 0x8A, 0x05, 0xC4 };
    const CXCPRequest complete(whole);
    EXPECT_EQ(complete.Length(), 2u);
    EXPECT_EQ(complete.Data(1), 0x00) << "the checksum is not data";
    EXPECT_EQ(complete.DataBytes().size(), 1u);
    EXPECT_EQ(complete.Whole().size(), 5u);
    EXPECT_TRUE(request.Whole().empty()) << "cut short";

    // A length byte of 0: no command for the emulation, but the relay and
    // the link pass the byte in the command position on as one.
    const std::uint8_t empty[] = { 0xAB, 0x00, 0x31, 0x77 };
    const CXCPRequest zero(empty);
    EXPECT_FALSE(zero.HasCommand());
    EXPECT_EQ(zero.Command(), 0x31);
    EXPECT_EQ(CXCPRequest::FrameAt(empty).size(), 3u);
    EXPECT_TRUE(CXCPRequest::FrameAt(std::span(empty).subspan(1)).empty()) << "no start byte";
}

TEST(XCPCommandTable, AgreesWithTheRulesForCodesItDoesNotList)
{
    // The relay asks for its password before any code above the last open
    // one that the table does not list; a listed command flagged otherwise
    // would let a client without the password switch the UPS. The relay
    // answers the end of session and its password frame itself.
    std::uint8_t previous = 0;
    for (const SXCPCommand& command : kXCPCommandTable) {
        SCOPED_TRACE(static_cast<int>(command.code));
        EXPECT_GT(command.code, previous) << "ascending, as the emulated command list is sent";
        previous = command.code;
        if (command.code != kXCPEndSession && command.code != kXCPAuthorize) {
            EXPECT_EQ(command.needsPassword, command.code > kXCPLastOpenCommand);
        }
        // A request is answered with the block the link expects for it.
        if (command.replyBlock != kXCPStatusBlock) {
            EXPECT_EQ(command.replyBlock, ReplyBlockFor(command.code));
        }
    }
}

TEST(Commands, WritesTheDesignedFrames)
{
    struct SCase {
        std::uint8_t command;
        Bytes reply;
        Bytes written;
    };
    const SCase cases[] = {
        {0x31, kEmptyBlock1, {0xAB, 0x01, 0x31, 0x23}},
        {0x40, Block(0x10, 0x80, {}), {0xAB, 0x01, 0x40, 0x14}},
        // The wake-up request is above 0x80, so the authorization frame goes
        // first while the flag is set; it expects block 1.
        {0xA0, Concat({Status(0x31), kEmptyBlock1}), Concat({kAuthorization, {0xAB, 0x01, 0xA0, 0xB4}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        CScriptedLine line;
        CCommands link(&line.Port());
        line.Peer(c.reply);
        EXPECT_EQ(link.SendRequest(c.command, 750), 0u);
        EXPECT_EQ(link.GetReplyLength(), 0u);
        EXPECT_EQ(line.Sent(), c.written);
    }

    CScriptedLine line;
    CCommands link(&line.Port());
    line.Peer(Block(0x12, 0x81, {0x00, 0x01, 0x80, 0x25}));
    const Bytes zero = {0x00};
    EXPECT_EQ(link.SendCommand(0x42, zero, 1500), 0u);
    EXPECT_EQ(line.Sent(), (Bytes{0xAB, 0x02, 0x42, 0x00, 0x11}));
    EXPECT_EQ(Bytes(link.GetReply().begin(), link.GetReply().end()), (Bytes{0x00, 0x01, 0x80, 0x25}));
}

TEST(Commands, AssemblesRepliesAndReadsStatusBlocks)
{
    struct SCase {
        const char* name;
        Bytes peer;
        std::uint32_t result;
        Bytes reply;
    };
    const SCase cases[] = {
        {"two blocks joined", Concat({Block(1, 0x01, {1, 2, 3}), Block(1, 0x81, {4, 5})}), 0, {1, 2, 3, 4, 5}},
        {"number of a non-last block not examined", Concat({Block(7, 0x01, {1}), Block(1, 0x82, {2})}), 0, {1, 2}},
        {"foreign last block skipped", Concat({Block(4, 0x81, {9, 9}), Block(1, 0x81, {7})}), 0, {7}},
        {"status 0x37 reads as 0x31", Block(9, 0x81, {0x37, 0x31}), 0x31, {0x37, 0x31}},
        {"status 0x32", Status(0x32), 0x32, {0x32}},
        {"status 0x36", Status(0x36), 0x36, {0x36}},
        {"status after a foreign block", Concat({Block(0x0E, 0x81, {}), Status(0x31)}), 0x31, {0x31}},
        {"noise before the reply passed over", Concat({Bytes{0x00, 0xFF, 0x1B, 0x41}, Block(1, 0x81, {7})}), 0, {7}},
        {"noise between two blocks passed over", Concat({Block(1, 0x01, {1}), Bytes{0x55, 0x55}, Block(1, 0x81, {2})}),
         0, {1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedLine line;
        CCommands link(&line.Port());
        line.Peer(c.peer);
        EXPECT_EQ(link.SendRequest(0x31, 750), c.result);
        EXPECT_EQ(Bytes(link.GetReply().begin(), link.GetReply().end()), c.reply);
        EXPECT_EQ(line.Unread(), 0u);
    }
}

TEST(Commands, MisbehavingUpsRaisesEventsWithinBounds)
{
    Bytes manyForeign;
    for (int i = 0; i < 70; ++i)
        manyForeign = Concat({manyForeign, Block(4, 0x81, {})});
    Bytes endlessChain;
    for (int i = 0; i < 40; ++i)
        endlessChain = Concat({endlessChain, Block(1, 0x01, {0x11})});
    Bytes badChecksum = Block(1, 0x81, {1, 2});
    badChecksum.back() ^= 0x01;
    Bytes badStart = Block(1, 0x81, {1, 2});
    badStart.front() = 0xAA;
    Bytes stopsMidBlock = {0xAB, 0x01, 0xC8, 0x81}; // announces 200 data bytes
    stopsMidBlock.resize(14, 0x42);

    struct SCase {
        const char* name;
        Bytes peer;
        std::uint32_t event;
    };
    const SCase cases[] = {
        // The spoiled start byte and the rest of its block read as noise,
        // and no reply follows them.
        {"bad start byte", badStart, EVENT_TIMEOUT},
        {"more noise than a reply may carry", Concat({Bytes(CCommands::kMaxStrayBytes + 1, 0x42), Block(1, 0x81, {})}),
         EVENT_BAD_REPLY},
        {"bad checksum", badChecksum, EVENT_BAD_REPLY},
        {"garbage stream", Bytes(64, 0x00), EVENT_BAD_REPLY},
        {"status block without its status", Block(9, 0x81, {}), EVENT_BAD_REPLY},
        {"non-last blocks without end", endlessChain, EVENT_BAD_REPLY},
        {"foreign blocks without end", manyForeign, EVENT_TIMEOUT},
        {"length beyond what arrives", stopsMidBlock, EVENT_TIMEOUT},
        {"header cut short", {0xAB, 0x01}, EVENT_TIMEOUT},
        {"silence", {}, EVENT_TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedLine line;
        CCommands link(&line.Port());
        line.Peer(c.peer);
        // A command frame uses the caller's time-out, which keeps this quick.
        EXPECT_EQ(EventOf([&] { link.SendCommand(0x31, {}, 100); }), c.event);
        EXPECT_LE(link.GetReplyLength(), CCommands::kMaxReplyBlocks * 255u);
    }

    // Simple requests wait their fixed 1.5 s whatever the caller asks.
    CScriptedLine line;
    CCommands link(&line.Port());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(EventOf([&] { link.SendRequest(0x31, 10); }), EVENT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
}

// Bytes that came between two exchanges are no reply: a stale header left
// there would otherwise swallow the real reply that follows the request.
TEST(Commands, DiscardsWhatWaitsBeforeEachRequest)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    test::CScriptedPort port(clock);
    CCommands link(&port);
    port.AnswerBlock(0x31, {5});
    for (const Bytes& stale : {Bytes{0xAB, 0x01, 0x05, 0x81}, Bytes(600, 0x13), Bytes{}}) {
        port.Stray(stale);
        EXPECT_EQ(link.SendRequest(0x31, 750), 0u);
        EXPECT_EQ(Bytes(link.GetReply().begin(), link.GetReply().end()), Bytes{5});
    }
}

// Work served while an exchange waits for its reply must not start another:
// its bytes would be read as the first one's reply.
TEST(Commands, NoExchangeStartsFromWorkLentASerialWait)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    test::CScriptedPort port(clock);
    CCommands link(&port);
    port.AnswerBlock(0x31, {5});
    CLentSerialWait lent;
    std::uint32_t length = 0;
    const std::function<void()> exchanges[] = {
        [&] { link.SendRequest(0x31, 750); },
        [&] { link.SendRequest(kXCPListenOnly, 750); },
        [&] { link.SendCommand(0x93, Bytes{1, 0}, 750); },
        [&] { link.RelayFrame(BuildRequestFrame(0x34), length); },
    };
    for (const auto& exchange : exchanges)
        EXPECT_EQ(EventOf(exchange), EVENT_SERIAL_BUSY);
    EXPECT_TRUE(port.Writes().empty());
}

TEST(Commands, RetriesABusyUpsThreeTimesInAll)
{
    const Bytes request34 = {0xAB, 0x01, 0x34, 0x20};
    const Bytes request8B = {0xAB, 0x01, 0x8B, 0xC9};
    struct SCase {
        const char* name;
        std::uint8_t command;
        Bytes peer;
        std::uint32_t result;
        Bytes written;
    };
    const SCase cases[] = {
        {"busy three times", 0x34, Concat({Status(0x33), Status(0x33), Status(0x33)}), 0x33,
         Concat({request34, request34, request34})},
        {"busy twice, then the block", 0x34, Concat({Status(0x33), Status(0x33), Block(4, 0x81, {5})}), 0,
         Concat({request34, request34, request34})},
        {"restricted: authorization before each try", 0x8B,
         Concat({Status(0x31), Status(0x33), Status(0x31), Status(0x33), Status(0x31), Status(0x33)}), 0x33,
         Concat({kAuthorization, request8B, kAuthorization, request8B, kAuthorization, request8B})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedLine line;
        CCommands link(&line.Port());
        line.Peer(c.peer);
        EXPECT_EQ(link.SendRequest(c.command, 750), c.result);
        EXPECT_EQ(line.Sent(), c.written);
        EXPECT_TRUE(link.IsAuthorizationRequired());
    }
}

TEST(Commands, AuthorizationFlag)
{
    const Bytes request8B = {0xAB, 0x01, 0x8B, 0xC9};
    {
        // 0x32 to the authorization frame clears the flag for good.
        CScriptedLine line;
        CCommands link(&line.Port());
        EXPECT_TRUE(link.NeedsAuthorization(0x81));
        line.Peer(Concat({Status(0x32), Status(0x31)}));
        EXPECT_EQ(link.SendRequest(0xCF, 750), 0x32u);
        EXPECT_FALSE(link.IsAuthorizationRequired());
        EXPECT_EQ(link.SendRequest(0x8B, 750), 0x31u);
        EXPECT_EQ(line.Sent(), Concat({kAuthorization, request8B}));
        EXPECT_FALSE(link.NeedsAuthorization(0x8B));
    }
    {
        // A UPS that ignores authorization: the command goes out anyway, and
        // the flag stays set.
        CScriptedLine line;
        CCommands link(&line.Port());
        line.Peer({});
        auto first = std::chrono::steady_clock::now();
        // Silence to the authorization frame, then the command's answer,
        // which is only written once the frame has gone unanswered.
        std::uint32_t result = 0;
        std::thread upsSide([&] {
            while (std::chrono::steady_clock::now() - first < std::chrono::milliseconds(850))
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            line.Peer(Status(0x31));
        });
        result = link.SendRequest(0x8B, 750);
        upsSide.join();
        EXPECT_EQ(result, 0x31u);
        EXPECT_EQ(line.Sent(), Concat({kAuthorization, request8B}));
        EXPECT_TRUE(link.IsAuthorizationRequired());
    }

    CScriptedLine line;
    CCommands link(&line.Port());
    struct SCase {
        std::uint8_t command;
        bool needs;
    };
    for (const auto& c : {SCase{0x00, false}, SCase{0x31, false}, SCase{0x80, false}, SCase{0x81, true},
                          SCase{0x8B, true}, SCase{0xB1, true}, SCase{0xCE, false}, SCase{0xCF, false}}) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(link.NeedsAuthorization(c.command), c.needs);
    }
    EXPECT_EQ(link.ReplyBlockFor(0x00), 1);
    EXPECT_EQ(link.ReplyBlockFor(0xA0), 1);
    EXPECT_EQ(link.ReplyBlockFor(0x40), 0x10);
    EXPECT_EQ(link.ReplyBlockFor(0x8B), 0x5B);
}

TEST(Commands, ReadsTheCommandList)
{
    struct SCase {
        const char* name;
        Bytes peer;
        std::uint32_t event;
        Bytes list;
        std::uint8_t secondByte;
    };
    const SCase cases[] = {
        {"whole list", Block(0x10, 0x81, {3, 7, 0x31, 0x34, 0x8B}), 0, {0x31, 0x34, 0x8B}, 7},
        {"shorter than its count", Block(0x10, 0x81, {10, 1, 0x31, 0x33}), 0, {0x31, 0x33}, 1},
        {"count only", Block(0x10, 0x81, {5}), 0, {}, 1},
        {"refused", Status(0x32), EVENT_BAD_REPLY, {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedLine line;
        CCommands link(&line.Port());
        line.Peer(c.peer);
        EXPECT_EQ(EventOf([&] { link.ReadCommandList(); }), c.event);
        EXPECT_EQ(Bytes(link.GetCommandList().begin(), link.GetCommandList().end()), c.list);
        EXPECT_EQ(link.GetCommandCount(), c.list.size());
        EXPECT_EQ(link.GetCommandListSecondByte(), c.secondByte);
        EXPECT_TRUE(link.IsCommandSupported(0));
        EXPECT_EQ(link.IsCommandSupported(0x31), !c.list.empty());
        EXPECT_FALSE(link.IsCommandSupported(0x99));
    }
}

TEST(Commands, RelayFrameReframesInto121ByteBlocks)
{
    const Bytes request31 = {0xAB, 0x01, 0x31, 0x23};
    struct SCase {
        std::size_t dataBytes;
        std::uint32_t event;
        std::size_t outLength;
        std::size_t blocks;
    };
    const SCase cases[] = {
        {0, 0, 0, 0},
        {121, 0, 126, 1},
        {122, 0, 254, 2}, // 2 x (122 + 5)
        {363, 0, 1104, 3},
        {364, EVENT_BAD_REPLY, 0, 0}, // 4 x 369 = 1476 > 1172
        {8000, EVENT_BAD_REPLY, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataBytes);
        CScriptedLine line;
        CCommands link(&line.Port());
        Bytes data = Counting(c.dataBytes, 1);
        line.Peer(BuildReply(1, data));
        std::vector<std::uint8_t> out;
        std::uint32_t length = 99;
        EXPECT_EQ(EventOf([&] { out = link.RelayFrame(request31, length); }), c.event);
        EXPECT_EQ(line.Sent(), request31);
        if (c.event != 0)
            continue;
        ASSERT_EQ(out.size(), c.outLength);
        EXPECT_EQ(length, c.outLength);
        for (std::size_t i = 0; i < c.blocks; ++i) {
            SCOPED_TRACE(i);
            std::size_t count = std::min<std::size_t>(121, c.dataBytes - 121 * i);
            Bytes expected = Block(1, static_cast<std::uint8_t>((i + 1) | (i + 1 == c.blocks ? 0x80 : 0)),
                                   Bytes(data.begin() + static_cast<std::ptrdiff_t>(121 * i),
                                         data.begin() + static_cast<std::ptrdiff_t>(121 * i + count)));
            EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(126 * i),
                            out.begin() + static_cast<std::ptrdiff_t>(126 * i + expected.size())),
                      expected);
        }
        if (c.dataBytes == 122) {
            // Block 2 is 6 bytes at 126; the rest of the array is zero.
            EXPECT_EQ(Bytes(out.begin() + 132, out.end()), Bytes(122, 0));
        }
    }

    // A command answered with a status block is relayed under the status
    // number; the client's frame goes out unchanged, checksum unchecked.
    CScriptedLine line;
    CCommands link(&line.Port());
    line.Peer(Concat({Status(0x32), Block(9, 0x81, {0x37})}));
    const Bytes sloppy = {0xAB, 0x01, 0x8B, 0x00, 0xEE}; // wrong checksum, one byte too many
    std::uint32_t length = 0;
    auto out = link.RelayFrame(sloppy, length);
    EXPECT_EQ(out, Block(0x31, 0x81, {0x37}));
    EXPECT_EQ(line.Sent(), Concat({kAuthorization, Bytes{0xAB, 0x01, 0x8B, 0x00}}));

    const Bytes truncated = {0xAB, 0x05, 0x98, 0x00};
    EXPECT_EQ(EventOf([&] { link.RelayFrame(truncated, length); }), EVENT_BAD_REPLY);
    EXPECT_TRUE(line.Sent().empty());
}

} // namespace
} // namespace pvx
