// CCommands with its behaviour options: the default link of a real UPS next to
// the link of a simulated UPS (no authorization frame, command 0 an ordinary
// request, no command list), over a pseudo-terminal with prepared replies.
#include "xcp/link/Commands.h"
#include "xcp/link/XCPFrame.h"

#include "LinkTestSupport.h"

#include <optional>
#include <string>

namespace pvx {
namespace {

using test::Block;
using test::Bytes;
using test::Concat;
using test::CScriptedLine;
using test::Status;

const Bytes kAuthorization = { 0xAB, 0x04, 0xCF, 0x3A, 0x91, 0x4E, 0x69 }; // command CF, code 3A 91 4E, checksum
const Bytes kShutdownNow = { 0xAB, 0x01, 0x8B, 0xC9 }; // simple request 8B, checksum
const Bytes kCommand0 = { 0xAB, 0x01, 0x00, 0x54 }; // simple request 00, checksum
const Bytes kCommandListRequest = { 0xAB, 0x01, 0x40, 0x14 }; // simple request 40, checksum
// 0x95 with parameter 6, value 2: length 4 = command + 3 data bytes
const Bytes kAudibleWrite = { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 };

TEST(LinkOptions, DefaultsKeepTheRealUpsBehaviour)
{
    const SLinkOptions options;
    EXPECT_TRUE(options.authorize);
    EXPECT_TRUE(options.listenOnlyCommand0);
    EXPECT_TRUE(options.readCommandList);
    CCommands link(nullptr);
    EXPECT_TRUE(link.GetOptions().authorize);
    EXPECT_TRUE(link.GetOptions().listenOnlyCommand0);
    EXPECT_TRUE(link.GetOptions().readCommandList);
}

TEST(LinkOptions, QueriesFollowTheOptions)
{
    struct SCase {
        const char* name;
        SLinkOptions options;
        bool supports0;
        std::uint8_t block0;
        bool authorizes81;
        bool authorizes8B;
    };
    const SCase cases[] = {
        { "real UPS", SLinkOptions {}, true, 0x01, true, true },
        // 0x00 - 0x30 wraps to 0xD0
        { "simulated UPS", SLinkOptions::Simulated(), false, 0xD0, false, false },
        { "only authorization off", { false, true, true }, true, 0x01, false, false },
        { "only command 0 ordinary", { true, false, true }, false, 0xD0, true, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CCommands link(nullptr, c.options);
        EXPECT_EQ(link.IsCommandSupported(0x00), c.supports0);
        EXPECT_EQ(link.ReplyBlockFor(0x00), c.block0);
        EXPECT_EQ(link.NeedsAuthorization(0x81), c.authorizes81);
        EXPECT_EQ(link.NeedsAuthorization(0x8B), c.authorizes8B);
        EXPECT_FALSE(link.NeedsAuthorization(0x80));
        // Other commands keep their block numbers in both modes.
        EXPECT_EQ(link.ReplyBlockFor(0xA0), 0x01);
        EXPECT_EQ(link.ReplyBlockFor(0x34), 0x04);
    }
}

TEST(LinkOptions, ExchangesFollowTheOptions)
{
    struct SCase {
        const char* name;
        SLinkOptions options;
        std::uint8_t command;
        std::optional<Bytes> data; // set: SendCommand, else SendRequest
        Bytes peer; // everything the UPS has sent before the call
        std::uint32_t result;
        Bytes sent;
        Bytes reply;
    };
    const Bytes block1 = Block(0x01, 0x81, { 0x11 });
    const Bytes blockD0 = Block(0xD0, 0x81, { 0x22 });
    const SCase cases[] = {
        { "real: restricted request is authorized first", SLinkOptions {}, 0x8B, std::nullopt,
            Concat({ Status(0x31), Status(0x31) }), 0x31, Concat({ kAuthorization, kShutdownNow }), { 0x31 } },
        { "simulated: restricted request goes alone", SLinkOptions::Simulated(), 0x8B, std::nullopt, Status(0x31), 0x31,
            kShutdownNow, { 0x31 } },
        { "real: restricted command is authorized first", SLinkOptions {}, 0x95, Bytes { 0x06, 0x02, 0x00 },
            Concat({ Status(0x31), Status(0x31) }), 0x31, Concat({ kAuthorization, kAudibleWrite }), { 0x31 } },
        { "simulated: restricted command goes alone", SLinkOptions::Simulated(), 0x95, Bytes { 0x06, 0x02, 0x00 },
            Status(0x31), 0x31, kAudibleWrite, { 0x31 } },
        // The listen-only exchange writes nothing and takes the first block 1.
        { "real: command 0 only listens", SLinkOptions {}, 0x00, std::nullopt, Concat({ block1, blockD0 }), 0, {},
            { 0x11 } },
        // The ordinary request skips block 1 as a foreign reply and waits for 0xD0.
        { "simulated: command 0 is a request", SLinkOptions::Simulated(), 0x00, std::nullopt,
            Concat({ block1, blockD0 }), 0, kCommand0, { 0x22 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedLine line;
        CCommands link(&line.Port(), c.options);
        line.Peer(c.peer);
        std::uint32_t result = c.data ? link.SendCommand(c.command, *c.data, 750) : link.SendRequest(c.command, 750);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(line.Sent(), c.sent);
        auto reply = link.GetReply();
        EXPECT_EQ(Bytes(reply.begin(), reply.end()), c.reply);
    }
}

TEST(LinkOptions, SimulatedLinkNeverReadsACommandList)
{
    struct SCase {
        const char* name;
        SLinkOptions options;
        Bytes sent;
        Bytes list;
        std::size_t unread;
    };
    // count 2, second byte 1, codes 31 8B
    const Bytes listBlock = Block(0x10, 0x81, { 0x02, 0x01, 0x31, 0x8B });
    const SCase cases[] = {
        { "real UPS", SLinkOptions {}, kCommandListRequest, { 0x31, 0x8B }, 0 },
        { "simulated UPS", SLinkOptions::Simulated(), {}, {}, listBlock.size() },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedLine line;
        CCommands link(&line.Port(), c.options);
        line.Peer(listBlock);
        link.ReadCommandList();
        EXPECT_EQ(line.Sent(), c.sent);
        auto list = link.GetCommandList();
        EXPECT_EQ(Bytes(list.begin(), list.end()), c.list);
        EXPECT_EQ(link.GetCommandCount(), c.list.size());
        EXPECT_EQ(link.IsCommandSupported(0x8B), !c.list.empty());
        EXPECT_EQ(line.Unread(), c.unread);
    }
}

TEST(LinkOptions, SetOptionsSwitchesAnExistingLink)
{
    CCommands link(nullptr);
    link.SetOptions(SLinkOptions::Simulated());
    EXPECT_FALSE(link.IsCommandSupported(0x00));
    EXPECT_FALSE(link.NeedsAuthorization(0x8B));
    link.SetOptions(SLinkOptions {});
    EXPECT_TRUE(link.IsCommandSupported(0x00));
    EXPECT_TRUE(link.NeedsAuthorization(0x8B));
}

} // namespace
} // namespace pvx
