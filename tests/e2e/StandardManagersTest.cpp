// Managers that speak SNMPv2c and RFC 1628 instance names against the running
// daemon and a three-line simulated UPS: net-snmp's tools in version 2c in
// both namings, and the SNMP driver of Network UPS Tools reading every line.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

// Every line its own voltages, apart from each other and from the built-in
// values, so that a value read from the wrong line shows.
constexpr char kThreeLines[] = R"([identity]
model = Zentra Triad 10000
phases = 3
[values]
input.voltage.1 = 221
input.voltage.2 = 222
input.voltage.3 = 223
output.voltage.1 = 231
output.voltage.2 = 232
output.voltage.3 = 233
[simulation]
drift = off
)";

struct SRig {
    explicit SRig(unsigned standardNames)
    {
        WriteTextFile(folder.File("upssim.conf"), kThreeLines);
        ups = std::make_unique<CSimulatedUps>(folder.Path(), folder.File("upssim.conf"));
        SDaemonOptions options;
        options.snmp = true;
        options.extraIni = "[SNMP]\nVersion2c=1\nStandardNames=" + std::to_string(standardNames)
            + "\n[Network]\nResponsiveLoop=1\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups->DevicePath(), options);
    }
    bool Identified()
    {
        return ups->IsReady() && pvx->WaitForStdout("UPS found is [Zentra Triad 10000]", 60s)
            && WaitFor([this] { return std::ranges::count(ups->ReceivedFrames(), std::string("rx 32")) > 0; }, 60s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }

    CTempDir folder;
    std::unique_ptr<CSimulatedUps> ups;
    std::unique_ptr<CPvxDaemon> pvx;
};

// A net-snmp tool in version 2c with numeric names; every datagram it
// receives must be exactly one message.
SRunResult RunV2cTool(const std::string& tool, const std::string& community, std::vector<std::string> arguments)
{
    std::vector<std::string> all = { "-v2c", "-c", community, "-m", "", "-On", "-d", "-t", "3", "-r", "1" };
    all.insert(all.end(), arguments.begin(), arguments.end());
    SRunResult result = RunProgram("/usr/bin/" + tool, tool, all, 60s);
    EXPECT_GT(snmp::ExpectEveryDumpedDatagramIsOneMessage(result.err), 0) << tool;
    return result;
}

// The arcs of ".1.3.6.1..." for comparing names in walk order.
std::vector<std::uint64_t> Arcs(const std::string& name)
{
    std::vector<std::uint64_t> arcs;
    std::istringstream parts(name.substr(1));
    std::string part;
    while (std::getline(parts, part, '.'))
        arcs.push_back(std::stoull(part));
    return arcs;
}

struct SNaming {
    unsigned standardNames;
    const char* absentInstance; // input voltage of line 5 of 3
    const char* line2InputVoltage;
};

class Version2c : public ::testing::TestWithParam<SNaming> { };

TEST_P(Version2c, BulkWalksBothSubtreesAndAnswersWithVersion2Errors)
{
    const SNaming naming = GetParam();
    SRig rig(naming.standardNames);
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();

    for (const char* subtree : { "1.3.6.1.2.1.33", "1.3.6.1.4.1.534.1" }) {
        SCOPED_TRACE(subtree);
        SRunResult walk = RunV2cTool("snmpbulkwalk", "gavrel", { rig.Target(), subtree });
        ASSERT_FALSE(walk.timedOut);
        EXPECT_EQ(walk.status, 0) << walk.err;
        std::vector<std::vector<std::uint64_t>> names;
        std::istringstream lines(walk.out);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find(" = No more variables left") != std::string::npos)
                continue; // the end of the MIB after its last object
            ASSERT_EQ(line.find("No Such"), std::string::npos) << line;
            if (line.starts_with(".1.3.6.1."))
                names.push_back(Arcs(line.substr(0, line.find(' '))));
        }
        EXPECT_GE(names.size(), 30u) << walk.out;
        EXPECT_TRUE(std::ranges::is_sorted(names) && std::ranges::adjacent_find(names) == names.end())
            << "a walk moves forward: " << walk.out;
    }

    SRunResult line2 = RunV2cTool("snmpget", "gavrel", { rig.Target(), naming.line2InputVoltage });
    EXPECT_EQ(line2.out, std::string(naming.line2InputVoltage) + " = INTEGER: 222\n") << line2.err;

    SRunResult absent = RunV2cTool("snmpget", "gavrel", { rig.Target(), naming.absentInstance });
    EXPECT_EQ(absent.out, std::string(naming.absentInstance) + " = No Such Instance currently exists at this OID\n")
        << absent.err;

    SRunResult set = RunV2cTool("snmpset", "sotwick", { rig.Target(), ".1.3.6.1.2.1.33.1.2.1.0", "i", "3" });
    EXPECT_NE(set.status, 0);
    EXPECT_NE(set.err.find("Reason: notWritable"), std::string::npos) << set.out << set.err;
    EXPECT_TRUE(rig.pvx->IsRunning());
}

INSTANTIATE_TEST_SUITE_P(Namings, Version2c,
    ::testing::Values(SNaming { 0, ".1.3.6.1.2.1.33.1.3.3.5.3.0", ".1.3.6.1.2.1.33.1.3.3.2.3.0" },
        SNaming { 1, ".1.3.6.1.2.1.33.1.3.3.1.3.5", ".1.3.6.1.2.1.33.1.3.3.1.3.2" }),
    [](const auto& info) { return info.param.standardNames ? std::string("Standard") : std::string("Vendor"); });

// Network UPS Tools' SNMP driver, run once with its data dump, in both
// versions: it must read the voltage of every line, each from its own line.
TEST(NutSnmpDriver, ReadsTheVoltagesOfEveryLineWithStandardNames)
{
    const std::string driver = "/lib/nut/snmp-ups";
    if (::access(driver.c_str(), X_OK) != 0)
        GTEST_SKIP() << "nut-snmp is not installed (scripts/install-deps.sh)";
    SRig rig(1);
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    for (const char* version : { "v1", "v2c" }) {
        SCOPED_TRACE(version);
        SRunResult dump = RunProgram(driver, "snmp-ups",
            { "-s", "pvxtest", "-x", "port=" + rig.Target(), "-x", "mibs=ietf", "-x", "community=gavrel", "-x",
                std::string("snmp_version=") + version, "-d", "1" },
            120s, rig.folder.Path());
        ASSERT_FALSE(dump.timedOut);
        EXPECT_EQ(dump.status, 0) << dump.err;
        for (const char* expected : { "input.L1-N.voltage: 221", "input.L2-N.voltage: 222", "input.L3-N.voltage: 223",
                 "output.L1-N.voltage: 231", "output.L2-N.voltage: 232", "output.L3-N.voltage: 233" })
            EXPECT_NE(dump.out.find(std::string(expected) + "\n"), std::string::npos) << expected << "\n" << dump.out;
    }
}

} // namespace
