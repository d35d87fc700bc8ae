// CXComUPS: the driver of a UPS that speaks XCP on the serial port. It
// identifies the UPS, polls one block per service-loop pass, carries out
// controls, tests and configuration writes, and relays XCP frames.
#pragma once

#include "ups/AbstractUPS.h"
#include "xcp/driver/AlarmMap.h"
#include "xcp/driver/DataTypeMap.h"
#include "xcp/link/Commands.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pvx {

class CXComUPS : public CAbstractUPS {
public:
    // Positions of the polling schedule; ReadValues runs one per call.
    static constexpr std::uint32_t kUpdatePhases = 7;

    CXComUPS(CCommPort* port, CINIFile* configuration);
    ~CXComUPS() override;

    std::vector<std::uint8_t> ProcessXCPRequest(std::span<const std::uint8_t> frame) override;
    int GetUPSType() override { return 2; }
    void Identify() override;
    void ReadValues() override;

    // The numeric settings go out through 0x95, the date and time through 0x90.
    void WriteUPSSetting(EUPSSetting setting, const CMIBData& value) override;

    bool CanShutdown(int shutdownType) override;
    bool CanRunTimedCommand() override;
    bool CanStartup() override;
    bool CanReboot() override;
    bool CanGeneralSystemsTest() override;
    bool CanQuickBatteryTest() override;
    bool CanCommand95() override;
    bool CanOutletCommand2() override;
    bool CanOutletCommand1() override;
    bool CanOutletOnDelay() override;
    bool CanOutletOffDelay() override;
    void GetOutlets(std::vector<OutletEntry>& outlets) override;
    int OutletCommand2(int outlet, int value) override;
    int OutletOffDelay(int outlet, int seconds) override;
    int OutletOnDelay(int outlet, int seconds) override;
    int OutletCommand1(int outlet, int value) override;
    void ApplyShutdownSchedule() override;
    void ApplyTimedCommand() override;
    void ApplyStartupSchedule() override;
    void ApplyRebootSchedule() override;
    void StartGeneralSystemsTest() override;
    void StartBatteryTest(int type, int duration) override;

    // Forwards an emulated set-configuration request (0x95) to the UPS and
    // answers with a command-status block built from the UPS's reply.
    std::vector<std::uint8_t> DoCommand95(std::span<const std::uint8_t> frame) override;

    std::uint32_t GetUpdatePhase() const { return m_updatePhase; }
    bool IsBatteryTestRunning() const { return m_batteryTest; }

protected:
    // The polled reads of the schedule.
    void ReadMeters();
    void ReadStatistics();
    void ReadAlarms();
    void ReadStatus();
    void ReadBattery();
    void ReadTestResult();
    void ReadEvents();

    CCommands& GetLink() { return m_link; }
    const CDataTypeMap& GetMeterMap() const { return m_meters; }

private:
    std::uint32_t WakeUpAndProbe();
    void WriteEscape();
    bool Supports(std::uint8_t command) const { return m_link.IsCommandSupported(command); }

    bool m_batteryTest = false;
    std::uint32_t m_updatePhase = 0;
    CCommands m_link;
    CDataTypeMap m_meters;
    CDataTypeMap m_statistics;
    CAlarmMap m_alarmMap;
};

} // namespace pvx
