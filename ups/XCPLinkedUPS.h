// CXCPLinkedUPS: a model whose controls, tests, outlet commands and setting
// writes go to a UPS as XCP commands on a link. The XCP driver and the
// simulated UPS share it; they differ in how they read the UPS.
#pragma once

#include "ups/AbstractUPS.h"
#include "xcp/link/Commands.h"

#include <cstdint>
#include <span>
#include <vector>

namespace pvx {

class CXCPLinkedUPS : public CAbstractUPS {
public:
    CXCPLinkedUPS(CCommPort* port, CINIFile* configuration, const SLinkOptions& options);
    ~CXCPLinkedUPS() override;

    // The numeric settings go out through 0x95, the date and time through 0x90.
    void WriteUPSSetting(EUPSSetting setting, const CMIBData& value) override;
    void CheckUPSSetting(EUPSSetting setting, const CMIBData& value) override;

    int OutletCommand1(int outlet, int value) override;
    int OutletCommand2(int outlet, int value) override;
    int OutletOffDelay(int outlet, int seconds) override;
    int OutletOnDelay(int outlet, int seconds) override;
    void ApplyShutdownSchedule() override;
    void ApplyStartupSchedule() override;
    void ApplyRebootSchedule() override;
    void ApplyTimedCommand() override;
    void StartGeneralSystemsTest() override;
    void StartBatteryTest(int type, int duration) override;

    // Forwards an emulated set-configuration request (0x95) to the UPS and
    // answers with a command-status block built from the UPS's reply.
    std::vector<std::uint8_t> DoCommand95(std::span<const std::uint8_t> frame) override;

    bool IsBatteryTestRunning() const { return m_batteryTest; }

protected:
    CCommands& GetLink() { return m_link; }

    CCommands m_link;

private:
    bool m_batteryTest = false;
};

} // namespace pvx
