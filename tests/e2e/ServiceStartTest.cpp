// The service's choice of UPS driver: the simulated UPS served over SNMP, and
// values that stop pvx before it announces itself to managers.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

// upsInputVoltage of input line 1, in this agent's table.row.column.0 naming.
constexpr char kInputVoltage[] = "1.3.6.1.2.1.33.1.3.3.1.3.0";

std::string Simulation(unsigned inputVoltage)
{
    return "[Main]\nCyclesPerUpdate=0\n[InputVoltage]\nMin=180\nMax=260\nMinAlarm=150\nMaxAlarm=270\nCurrentValue="
        + std::to_string(inputVoltage) + "\nStep=0\n";
}

// What snmpget prints after " = ", or its error text.
std::string SnmpGet(unsigned short port, const char* oid)
{
    auto result = RunProgram("/usr/bin/snmpget", "snmpget",
        { "-v1", "-c", "gavrel", "-m", "", "-On", "-t", "2", "-r", "1", "127.0.0.1:" + std::to_string(port), oid },
        20s);
    auto separator = result.out.find(" = ");
    if (result.status != 0 || separator == std::string::npos)
        return result.err;
    std::string value = result.out.substr(separator + 3);
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

TEST(SimulatedDriver, ServesWhatDummyUpsIniHoldsWithoutASerialPort)
{
    CTempDir folder;
    WriteTextFile(folder.File("DummyUPS.ini"), Simulation(231));
    SDaemonOptions options;
    options.snmp = true;
    options.extraIni = "[Communications]\nDriver=simulated\n";
    CPvxDaemon pvx(folder.Path(), "", options); // an empty CommunicationsPort: no serial port
    std::string value;
    EXPECT_TRUE(WaitFor([&] { return (value = SnmpGet(pvx.AgentPort(), kInputVoltage)) == "INTEGER: 231"; }, 60s))
        << value << pvx.Stderr();
    WriteTextFile(folder.File("DummyUPS.ini"), Simulation(222));
    EXPECT_TRUE(WaitFor([&] { return (value = SnmpGet(pvx.AgentPort(), kInputVoltage)) == "INTEGER: 222"; }, 60s))
        << value;
    EXPECT_TRUE(pvx.IsRunning());
    EXPECT_EQ(ReadFile(pvx.StatusPath()), "Tessary started successfully.\n");
}

struct SRefusal {
    const char* name;
    const char* extraIni;
};

// Each of these ends pvx with status 255 before the agent's coldStart trap.
const SRefusal kRefusals[] = {
    { "driver that pvx does not know", "[Communications]\nDriver=serial\n" },
    { "empty driver", "[Communications]\nDriver=\n" },
};

TEST(ServiceStart, UnknownDriverStopsPvxBeforeItsColdStartTrap)
{
    for (const auto& c : kRefusals) {
        SCOPED_TRACE(c.name);
        CTempDir folder;
        CSimulatedUps ups(folder.Path());
        ASSERT_TRUE(ups.IsReady());
        CUdpListener manager;
        SDaemonOptions options;
        options.snmp = true;
        options.managerPort = manager.Port();
        options.extraIni = c.extraIni;
        CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
        EXPECT_EQ(pvx.Wait(60s), 255);
        std::vector<std::uint8_t> trap;
        EXPECT_FALSE(manager.Receive(trap, 500ms)) << "a trap went out";
        EXPECT_EQ(pvx.Stderr(), "Unknown Error"); // started without a path: no catalog
    }
}

} // namespace
