// Fuzz target: the byte stream from a UPS through the XCP link. A port hands
// the link the fuzz bytes as the UPS's output, in pieces of a fuzz-chosen
// size, while the link runs a fuzz-chosen series of exchanges. Checks: the
// joined reply is as long as it says, relay replies are well-formed blocks
// within their bound, and no exchange waits without end.
#include "events/PVXException.h"
#include "tests/fuzz/FuzzPorts.h"
#include "xcp/link/Commands.h"

namespace pvx::fuzz {
namespace {

// Fake time one exchange may take at most, retries and authorization included.
constexpr std::uint64_t kMaxExchangeMs = 120000;

enum class EOperation : std::uint8_t { Request, Command, Relay, CommandList, Count };

void CheckRelayReply(const std::vector<std::uint8_t>& out, std::uint32_t length)
{
    PVX_FUZZ_CHECK(length == out.size());
    PVX_FUZZ_CHECK(length <= CCommands::kMaxRelayReply);
    // Blocks of at most 121 data bytes, one every 126 bytes, zero between them.
    for (std::size_t at = 0; at < out.size() && out[at] == kXCPStartByte; at += CCommands::kRelayBlockStride) {
        CByteCursor cursor(std::span<const std::uint8_t>(out).subspan(at));
        SXCPBlock block;
        PVX_FUZZ_CHECK(ParseReplyBlock(cursor, block) == EXCPParse::Complete);
        PVX_FUZZ_CHECK(block.data.size() <= CCommands::kRelayBlockData);
    }
}

void Run(CCommands& link, EOperation operation, std::uint8_t command)
{
    static constexpr std::uint8_t kData[] = { 0x01, 0x02, 0x03 };
    switch (operation) {
    case EOperation::Request:
        link.SendRequest(command, CCommands::kSimpleRequestTimeoutMs);
        break;
    case EOperation::Command:
        link.SendCommand(command, kData, CCommands::kSimpleRequestTimeoutMs);
        break;
    case EOperation::Relay: {
        std::uint32_t length = 0;
        auto out = link.RelayFrame(BuildRequestFrame(command, kData), length);
        CheckRelayReply(out, length);
        break;
    }
    case EOperation::CommandList:
        link.ReadCommandList();
        PVX_FUZZ_CHECK(link.GetCommandList().size() <= 255);
        break;
    case EOperation::Count:
        break;
    }
}

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    using namespace pvx::fuzz;
    CFuzzInput input(data, size);
    std::uint8_t flags = input.Byte();
    SLinkOptions options { (flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0 };
    std::size_t piece = 1 + input.Byte() % 64;
    std::size_t operations = 1 + input.Byte() % 4;
    std::vector<std::pair<EOperation, std::uint8_t>> script;
    for (std::size_t i = 0; i < operations; ++i) {
        auto operation = static_cast<EOperation>(input.Byte() % static_cast<std::uint8_t>(EOperation::Count));
        script.emplace_back(operation, input.Byte());
    }

    CFakeClock clock;
    CScopedClock clockGuard(clock);
    CStreamPort port(clock, input.Rest(), piece);
    CCommands link(&port, options);
    for (auto [operation, command] : script) {
        std::uint64_t start = clock.MonotonicMilliseconds();
        try {
            Run(link, operation, command);
        } catch (const CPVXException&) {
            // Time-outs and bad replies are the link's ordinary failures.
        }
        PVX_FUZZ_CHECK(clock.MonotonicMilliseconds() - start <= kMaxExchangeMs);
        PVX_FUZZ_CHECK(link.GetReplyLength() <= CCommands::kMaxReplyBlocks * kXCPMaxBlockData);
        // Every byte of the joined reply is read, so that the sanitizer sees
        // a length that runs past the buffer.
        unsigned sum = 0;
        for (std::uint8_t byte : link.GetReply())
            sum += byte;
        PVX_FUZZ_CHECK(sum <= link.GetReplyLength() * 255u);
    }
    return 0;
}
