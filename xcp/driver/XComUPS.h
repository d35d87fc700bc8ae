// CXComUPS: the driver of a UPS that speaks XCP on the serial port. It
// identifies the UPS, polls one block per service-loop pass, carries out
// controls, tests and configuration writes, and relays XCP frames.
#pragma once

#include "ups/XCPLinkedUPS.h"
#include "xcp/driver/AlarmMap.h"
#include "xcp/driver/DataTypeMap.h"
#include "xcp/link/Commands.h"
#include "xcp/link/XCPCommandTable.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pvx {

class CXComUPS : public CXCPLinkedUPS {
public:
    // Positions of the polling schedule; ReadValues runs one per call.
    static constexpr std::uint32_t kUpdatePhases = 7;

    CXComUPS(CCommPort* port, CINIFile* configuration);
    ~CXComUPS() override;

    std::vector<std::uint8_t> ProcessXCPRequest(std::span<const std::uint8_t> frame) override;
    int GetUPSType() override { return 2; }
    void Identify() override;
    void ReadValues() override;

    // Only the output shutdown type, by the delayed and the immediate command.
    bool CanShutdown(int shutdownType) override
    {
        return shutdownType == 1 && Supports(kXCPDelayedShutdown) && Supports(kXCPShutdownNow);
    }
    bool CanRunTimedCommand() override { return Supports(kXCPTimedCommand); }
    bool CanStartup() override { return Supports(kXCPStartupNow); }
    bool CanReboot() override { return Supports(kXCPReboot); }
    bool CanGeneralSystemsTest() override { return Supports(kXCPGeneralSystemsTest); }
    bool CanQuickBatteryTest() override { return Supports(kXCPBatteryTest); }
    bool CanCommand95() override { return Supports(kXCPSetParameter); }
    bool CanOutletCommand2() override { return Supports(kXCPOutletCommand); }
    bool CanOutletCommand1() override { return Supports(kXCPOutletCommand); }
    bool CanOutletOnDelay() override { return Supports(kXCPOutletCommand); }
    bool CanOutletOffDelay() override { return Supports(kXCPOutletCommand); }
    void GetOutlets(std::vector<OutletEntry>& outlets) override;
    // A value is measured when the identification lists its meter.
    bool Measures(EMeasurement value) const override;

    std::uint32_t GetUpdatePhase() const { return m_updatePhase; }

protected:
    // The polled reads of the schedule.
    void ReadMeters();
    void ReadStatistics();
    void ReadAlarms();
    void ReadStatus();
    void ReadBattery();
    void ReadTestResult();
    void ReadEvents();

    const CDataTypeMap& GetMeterMap() const { return m_meters; }

private:
    std::uint32_t WakeUpAndProbe();
    void WriteEscape();
    bool Supports(std::uint8_t command) const { return m_link.IsCommandSupported(command); }

    std::uint32_t m_updatePhase = 0;
    CDataTypeMap m_meters;
    CDataTypeMap m_statistics;
    CAlarmMap m_alarmMap;
};

} // namespace pvx
