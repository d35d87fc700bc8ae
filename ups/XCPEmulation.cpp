// The model's own answers to XCP requests: the dispatch of a request frame
// to its builder or command, the command list and the command-status block.
#include "ups/XCPEmulation.h"

#include "ups/AbstractUPS.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <utility>

namespace pvx {

namespace {

constexpr int kShutdownOutput = 1;
// The command-status data is the status byte and then the echo.
constexpr std::size_t kMaxEcho = kXCPMaxBlockData - 1;

using Builder = std::vector<std::uint8_t> (CAbstractUPS::*)(std::span<const std::uint8_t>);

struct SRoute {
    std::uint8_t command;
    Builder builder;
};

const SRoute kRoutes[] = {
    { kXCPIdentification, &CAbstractUPS::BuildIdentificationReply },
    { kXCPStatus, &CAbstractUPS::BuildStatusReply },
    { kXCPMeters, &CAbstractUPS::BuildMeterReply },
    { kXCPAlarms, &CAbstractUPS::BuildAlarmReply },
    { kXCPNominalOutput, &CAbstractUPS::BuildBlock6Reply },
    { kXCPBattery, &CAbstractUPS::BuildBlock0BReply },
    { kXCPNominalInput, &CAbstractUPS::BuildBlock0CReply },
    { kXCPTestResult, &CAbstractUPS::BuildBlock0FReply },
    { kXCPCommandList, &CAbstractUPS::BuildCommandListReply },
    { kXCPOutlets, &CAbstractUPS::BuildOutletReply },
    { kXCPStartupNow, &CAbstractUPS::DoStartupNow },
    { kXCPReboot, &CAbstractUPS::DoReboot },
    { kXCPShutdownNow, &CAbstractUPS::DoShutdownNow },
    { kXCPDelayedStartup, &CAbstractUPS::DoDelayedStartup },
    { kXCPDelayedShutdown, &CAbstractUPS::DoDelayedShutdown },
    { kXCPSetParameter, &CAbstractUPS::DoCommand95 },
    { kXCPOutletCommand, &CAbstractUPS::DoOutletCommand },
    { kXCPBatteryTest, &CAbstractUPS::DoBatteryTest },
    { kXCPGeneralSystemsTest, &CAbstractUPS::DoTestCommand },
};

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
    const std::uint8_t command = request.Command();
    // Ends a client's session: the UPS answers it with silence.
    if (command == kXCPEndSession && request.Length() == 2 && request.Data(0) == 1)
        return {};

    std::vector<std::uint8_t> reply;
    for (const SRoute& route : kRoutes) {
        if (route.command == command) {
            reply = (this->*route.builder)(frame);
            break;
        }
    }
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
    const bool canShutdown = CanShutdown(kShutdownOutput);
    const std::pair<std::uint8_t, bool> kCommands[] = {
        { kXCPIdentification, true },
        { kXCPStatus, true },
        { kXCPMeters, true },
        { kXCPAlarms, true },
        { kXCPNominalOutput, true },
        { kXCPBattery, CanQuickBatteryTest() },
        { kXCPNominalInput, true },
        { kXCPTestResult, CanGeneralSystemsTest() },
        { kXCPCommandList, true },
        { kXCPOutlets, outlets.size() >= 2 },
        { kXCPStartupNow, CanStartup() },
        { kXCPReboot, CanReboot() },
        { kXCPShutdownNow, canShutdown },
        { kXCPDelayedStartup, CanStartup() },
        { kXCPDelayedShutdown, canShutdown },
        { kXCPSetParameter, CanCommand95() },
        { kXCPOutletCommand, CanOutletCommand2() || CanOutletCommand1() },
        { kXCPBatteryTest, CanQuickBatteryTest() },
        { kXCPGeneralSystemsTest, CanGeneralSystemsTest() },
        { kXCPEndSession, true },
    };
    std::vector<std::uint8_t> data = { 0, 1 };
    for (const auto& [code, offered] : kCommands) {
        if (offered)
            data.push_back(code);
    }
    data[0] = static_cast<std::uint8_t>(data.size() - 2);
    return BuildReply(0x10, data);
}

} // namespace pvx
