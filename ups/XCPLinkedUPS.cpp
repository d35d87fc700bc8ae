// Controls, tests, outlet commands and setting writes sent as XCP commands.
#include "ups/XCPLinkedUPS.h"

#include "ups/XCPSettings.h"
#include "xcp/link/XCPControls.h"
#include "xcp/link/XCPFrame.h"
#include "xcp/link/XCPRequest.h"

namespace pvx {

CXCPLinkedUPS::CXCPLinkedUPS(CCommPort* port, CINIFile* configuration, const SLinkOptions& options)
    : CAbstractUPS(port, configuration)
    , m_link(port, options)
{
}

CXCPLinkedUPS::~CXCPLinkedUPS() = default;

void CXCPLinkedUPS::WriteUPSSetting(EUPSSetting setting, const CMIBData& value)
{
    SendUPSSetting(m_link, setting, value);
}

void CXCPLinkedUPS::CheckUPSSetting(EUPSSetting setting, const CMIBData& value)
{
    pvx::CheckUPSSetting(setting, value);
}

int CXCPLinkedUPS::OutletCommand1(int outlet, int value)
{
    return SendOutletAction(m_link, outlet, 1, value);
}

int CXCPLinkedUPS::OutletCommand2(int outlet, int value)
{
    return SendOutletAction(m_link, outlet, 2, value);
}

int CXCPLinkedUPS::OutletOffDelay(int outlet, int seconds)
{
    return SendOutletAction(m_link, outlet, 3, seconds);
}

int CXCPLinkedUPS::OutletOnDelay(int outlet, int seconds)
{
    return SendOutletAction(m_link, outlet, 4, seconds);
}

void CXCPLinkedUPS::ApplyShutdownSchedule()
{
    SendSchedule(m_link, MillisecondsUntil(m_shutdownDue), kXCPShutdownNow, kXCPDelayedShutdown);
}

void CXCPLinkedUPS::ApplyStartupSchedule()
{
    SendSchedule(m_link, MillisecondsUntil(m_startupDue), kXCPStartupNow, kXCPDelayedStartup);
}

void CXCPLinkedUPS::ApplyRebootSchedule()
{
    SendReboot(m_link, MillisecondsUntil(m_startupDue));
}

void CXCPLinkedUPS::ApplyTimedCommand()
{
    SendTimedCommand(m_link, MillisecondsUntil(m_timedCommandDue));
}

void CXCPLinkedUPS::StartGeneralSystemsTest()
{
    // The UPS runs its systems test as a 15-second battery test of type 1.
    SendBatteryTest(m_link, 0x01, 0x0F);
    m_batteryTest = false;
}

void CXCPLinkedUPS::StartBatteryTest(int type, int duration)
{
    SendBatteryTest(m_link, static_cast<std::uint8_t>(type & 0xFF), static_cast<std::uint8_t>(duration & 0xFF));
    m_batteryTest = true;
}

std::vector<std::uint8_t> CXCPLinkedUPS::DoCommand95(std::span<const std::uint8_t> frame)
{
    // The relay hands over the whole frame, checksum included: only the bytes
    // that the length byte counts are data.
    const CXCPRequest request(frame);
    if (request.Length() < 3)
        return BuildCommandStatusReply(
            static_cast<std::uint8_t>(request.Length()), request.Contents(), kXCPBadParameter);
    const std::uint32_t result = ForwardParameter(m_link, request.Data(0), request.Data(1));
    return BuildCommandStatusReply(static_cast<std::uint8_t>(m_link.GetReplyLength() & 0xFF), m_link.GetReply(),
        static_cast<std::uint8_t>(result & 0xFF));
}

} // namespace pvx
