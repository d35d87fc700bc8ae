// CDummyUPS: a simulated UPS whose five measured values move step by step
// between limits kept in "DummyUPS.ini" beside the configuration file.
#pragma once

#include "ups/XCPLinkedUPS.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pvx {

// Controls, tests, outlets and configuration writes go out on the serial
// port as XCP commands through a link in its simulated mode: no authorization
// frame, command 0 an ordinary request and no command list, so every
// capability query answers false. Relayed frames are answered from the model.
class CDummyUPS : public CXCPLinkedUPS {
public:
    static constexpr const char* kSimulationFileName = "DummyUPS.ini";

    CDummyUPS(CCommPort* port, CINIFile* configuration);
    ~CDummyUPS() override;

    std::vector<std::uint8_t> ProcessXCPRequest(std::span<const std::uint8_t> frame) override;
    int GetUPSType() override { return 3; }
    // Fixed identity and nominal values; nothing goes to the port.
    void Identify() override;
    // Every CyclesPerUpdate + 1 calls: moves the values, writes them back and
    // runs one alarm scan.
    void ReadValues() override;
    // The five simulated values and the fixed low-battery time; nothing else.
    bool Measures(EMeasurement value) const override;

    // The simulation file in the folder of `configurationPath` (everything up
    // to its last "/" or "\"); empty when the path names no folder.
    static std::string SimulationFilePath(const std::string& configurationPath);

    int GetCycleCounter() const { return m_cycleCounter; }
    // The text reported with each alarm raised by the latest refresh, in order.
    const std::vector<std::string>& GetAlarmNotes() const { return m_alarmNotes; }

private:
    void Refresh(const CINIFile& simulation);
    // On battery while the on-battery alarm stands, on line otherwise.
    void FollowPowerSource();
    std::uint32_t& ValueMember(std::size_t index);

    int m_cycleCounter = 0;
    std::vector<std::string> m_alarmNotes;
};

} // namespace pvx
