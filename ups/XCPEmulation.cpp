// The model's own answers to XCP requests: the dispatch of a request frame
// to its builder or command, the command list and the command-status block.
#include "ups/XCPEmulation.h"

#include "ups/AbstractUPS.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>

namespace pvx {

namespace {

constexpr int kShutdownOutput = 1;
// The command-status data is the status byte and then the echo.
constexpr std::size_t kMaxEcho = kXCPMaxBlockData - 1;

using XCPHandler = std::vector<std::uint8_t> (CAbstractUPS::*)(std::span<const std::uint8_t>);

// The model's handler for each handler id of the command table: the block
// builders (ups/XCPEmulationBlocks.cpp), then the commands
// (ups/XCPEmulationCommands.cpp).
struct SXCPHandlerEntry {
    EXCPHandler id;
    XCPHandler handler;
};
constexpr SXCPHandlerEntry kHandlers[] = {
    { EXCPHandler::Identification, &CAbstractUPS::BuildIdentificationReply },
    { EXCPHandler::Status, &CAbstractUPS::BuildStatusReply },
    { EXCPHandler::Meters, &CAbstractUPS::BuildMeterReply },
    { EXCPHandler::Alarms, &CAbstractUPS::BuildAlarmReply },
    { EXCPHandler::NominalOutput, &CAbstractUPS::BuildBlock6Reply },
    { EXCPHandler::Battery, &CAbstractUPS::BuildBlock0BReply },
    { EXCPHandler::NominalInput, &CAbstractUPS::BuildBlock0CReply },
    { EXCPHandler::TestResult, &CAbstractUPS::BuildBlock0FReply },
    { EXCPHandler::CommandList, &CAbstractUPS::BuildCommandListReply },
    { EXCPHandler::Outlets, &CAbstractUPS::BuildOutletReply },
    { EXCPHandler::StartupNow, &CAbstractUPS::DoStartupNow },
    { EXCPHandler::Reboot, &CAbstractUPS::DoReboot },
    { EXCPHandler::ShutdownNow, &CAbstractUPS::DoShutdownNow },
    { EXCPHandler::DelayedStartup, &CAbstractUPS::DoDelayedStartup },
    { EXCPHandler::DelayedShutdown, &CAbstractUPS::DoDelayedShutdown },
    { EXCPHandler::SetParameter, &CAbstractUPS::DoCommand95 },
    { EXCPHandler::OutletCommand, &CAbstractUPS::DoOutletCommand },
    { EXCPHandler::BatteryTest, &CAbstractUPS::DoBatteryTest },
    { EXCPHandler::GeneralSystemsTest, &CAbstractUPS::DoTestCommand },
};

XCPHandler HandlerFor(EXCPHandler id)
{
    for (const SXCPHandlerEntry& entry : kHandlers) {
        if (entry.id == id)
            return entry.handler;
    }
    return nullptr;
}

} // namespace

bool FinishXCPReply(std::vector<std::uint8_t>& reply)
{
    std::size_t offset = 0;
    while (reply.size() - offset >= kXCPBlockOverhead) {
        const std::size_t length = reply[offset + 2];
        if (reply[offset] != kXCPStartByte || length + kXCPBlockOverhead > reply.size() - offset)
            return false;
        offset += length + kXCPBlockOverhead;
        if ((reply[offset - length - 2] & kXCPLastBlock) != 0) {
            // Checksums only once the whole reply is known to be well formed.
            std::size_t block = 0;
            while (block < offset) {
                const std::size_t end = block + reply[block + 2] + kXCPBlockOverhead;
                reply[end - 1] = XCPChecksum(std::span(reply).subspan(block, end - 1 - block));
                block = end;
            }
            reply.resize(offset);
            return true;
        }
    }
    return false;
}

std::vector<std::uint8_t> CAbstractUPS::ProcessXCPRequest(std::span<const std::uint8_t> frame)
{
    const CXCPRequest request(frame);
    if (!request.HasCommand())
        return {};
    const SXCPCommand* command = FindXCPCommand(request.Command());
    const EXCPHandler id = command ? command->handler : EXCPHandler::None;
    // Ends a client's session: the UPS answers it with silence.
    if (id == EXCPHandler::EndSession && request.Length() == 2 && request.Data(0) == 1)
        return {};

    std::vector<std::uint8_t> reply;
    if (const XCPHandler handler = HandlerFor(id))
        reply = (this->*handler)(frame);
    // A builder that has no answer, or whose blocks do not hold together,
    // is answered as a command the UPS does not offer.
    if (reply.empty() || !FinishXCPReply(reply)) {
        reply = BuildCommandStatusReply(
            static_cast<std::uint8_t>(request.Length()), request.Contents(), kXCPNotAvailable);
        if (!FinishXCPReply(reply))
            return {};
    }
    return reply;
}

std::vector<std::uint8_t> CAbstractUPS::BuildCommandStatusReply(
    std::uint8_t length, std::span<const std::uint8_t> bytes, std::uint8_t status)
{
    const std::size_t echo = std::min({ static_cast<std::size_t>(length), bytes.size(), kMaxEcho });
    std::vector<std::uint8_t> data;
    data.reserve(echo + 1);
    data.push_back(status);
    data.insert(data.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(echo));
    return BuildReply(kXCPStatusBlock, data);
}

std::vector<std::uint8_t> CAbstractUPS::BuildCommandListReply(std::span<const std::uint8_t>)
{
    std::vector<OutletEntry> outlets;
    GetOutlets(outlets);
    const auto offered = [&](EXCPOffer offer) {
        switch (offer) {
        case EXCPOffer::Never:
            return false;
        case EXCPOffer::Always:
            return true;
        case EXCPOffer::Startup:
            return CanStartup();
        case EXCPOffer::Reboot:
            return CanReboot();
        case EXCPOffer::Shutdown:
            return CanShutdown(kShutdownOutput);
        case EXCPOffer::QuickBatteryTest:
            return CanQuickBatteryTest();
        case EXCPOffer::GeneralSystemsTest:
            return CanGeneralSystemsTest();
        case EXCPOffer::Outlets:
            return outlets.size() >= 2;
        case EXCPOffer::SetParameter:
            return CanCommand95();
        case EXCPOffer::OutletCommand:
            return CanOutletCommand2() || CanOutletCommand1();
        }
        return false;
    };
    std::vector<std::uint8_t> data = { 0, 1 };
    for (const SXCPCommand& command : kXCPCommandTable) {
        if (offered(command.offer))
            data.push_back(command.code);
    }
    data[0] = static_cast<std::uint8_t>(data.size() - 2);
    return BuildReply(kXCPCommandListBlock, data);
}

} // namespace pvx
