// Debian's real clients against the running daemon with SNMP/StandardValues
// and SNMP/SystemGroup on: Prometheus's SNMP exporter over SNMPv2c and SNMPv3
// authPriv (SHA, AES), NUT's snmp-ups with its default mibs=auto over v1, v2c
// and v3 as the UPS goes on battery and its battery runs low, and snmptrapd
// naming the traps as RFC 1628 does.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kBinaryDir = PVX_BINARY_DIR;

// The names snmptrapd needs, with RFC 1628's assignments (the test writes
// them: the package ships no UPS-MIB).
constexpr char kUpsMib[] = R"(UPS-MIB DEFINITIONS ::= BEGIN
mib-2 OBJECT IDENTIFIER ::= { iso 3 6 1 2 1 }
upsMIB OBJECT IDENTIFIER ::= { mib-2 33 }
upsObjects OBJECT IDENTIFIER ::= { upsMIB 1 }
upsBattery OBJECT IDENTIFIER ::= { upsObjects 2 }
upsSecondsOnBattery OBJECT-TYPE SYNTAX INTEGER MAX-ACCESS read-only STATUS current DESCRIPTION "" ::= { upsBattery 2 }
upsEstimatedMinutesRemaining OBJECT-TYPE SYNTAX INTEGER MAX-ACCESS read-only STATUS current DESCRIPTION ""
    ::= { upsBattery 3 }
upsAlarm OBJECT IDENTIFIER ::= { upsObjects 6 }
upsAlarmTable OBJECT IDENTIFIER ::= { upsAlarm 2 }
upsAlarmEntry OBJECT IDENTIFIER ::= { upsAlarmTable 1 }
upsAlarmId OBJECT-TYPE SYNTAX INTEGER MAX-ACCESS read-only STATUS current DESCRIPTION "" ::= { upsAlarmEntry 1 }
upsAlarmDescr OBJECT-TYPE SYNTAX OBJECT IDENTIFIER MAX-ACCESS read-only STATUS current DESCRIPTION ""
    ::= { upsAlarmEntry 2 }
upsWellKnownAlarms OBJECT IDENTIFIER ::= { upsAlarm 3 }
upsAlarmOnBattery OBJECT IDENTIFIER ::= { upsWellKnownAlarms 2 }
upsAlarmLowBattery OBJECT IDENTIFIER ::= { upsWellKnownAlarms 3 }
upsConfig OBJECT IDENTIFIER ::= { upsObjects 9 }
upsConfigLowBattTime OBJECT-TYPE SYNTAX INTEGER MAX-ACCESS read-write STATUS current DESCRIPTION ""
    ::= { upsConfig 7 }
upsTraps OBJECT IDENTIFIER ::= { upsMIB 2 }
upsTrapOnBattery NOTIFICATION-TYPE OBJECTS { upsEstimatedMinutesRemaining, upsSecondsOnBattery, upsConfigLowBattTime }
    STATUS current DESCRIPTION "" ::= { upsTraps 1 }
upsTrapAlarmEntryAdded NOTIFICATION-TYPE OBJECTS { upsAlarmId, upsAlarmDescr } STATUS current DESCRIPTION ""
    ::= { upsTraps 3 }
END
)";

std::string Key(const char* protocol, const char* phrase)
{
    SRunResult made = RunProgram(kBinaryDir + "/pvx-passwd", "pvx-passwd", { "-3", protocol, phrase }, 10s);
    return made.out.substr(0, made.out.find('\n'));
}

// The exporter's own configuration: the same two metrics over v2c and v3.
std::string ExporterConfig(unsigned short)
{
    std::string modules;
    for (const char* version : { "2", "3" }) {
        modules += std::string("pvx_v") + version + ":\n"
            "  walk:\n  - 1.3.6.1.2.1.33.1.2\n  - 1.3.6.1.2.1.33.1.3.3.1.3\n"
            "  metrics:\n"
            "  - name: upsEstimatedChargeRemaining\n    oid: 1.3.6.1.2.1.33.1.2.4\n    type: gauge\n"
            "  - name: upsInputVoltage\n    oid: 1.3.6.1.2.1.33.1.3.3.1.3\n    type: gauge\n"
            "    indexes:\n    - labelname: upsInputLineIndex\n      type: gauge\n"
            "  version: " + std::string(version) + "\n  auth:\n";
        modules += std::string(version) == "2"
            ? "    community: gavrel\n"
            : "    username: ops\n    security_level: authPriv\n    password: ops auth phrase\n"
              "    auth_protocol: SHA\n    priv_protocol: AES\n    priv_password: ops priv phrase\n";
    }
    return modules;
}

struct SRig {
    SRig()
    {
        WriteTextFile(folder.File("UPS-MIB.txt"), kUpsMib);
        trapPort = FreeUdpPort();
        trapd = std::make_unique<CChildProcess>("/usr/sbin/snmptrapd", "snmptrapd",
            std::vector<std::string> { "-f", "-Lo", "-n", "-M", folder.Path(), "-m", "UPS-MIB",
                "--disableAuthorization=yes", "-C", "-c", "/dev/null", "udp:127.0.0.1:" + std::to_string(trapPort) },
            folder.File("trapd.out"), folder.File("trapd.err"));
        ups = std::make_unique<CSimulatedUps>(folder.Path());
        SDaemonOptions options;
        options.snmp = true;
        options.managerPort = trapPort;
        options.extraIni = "[SNMP]\nVersion2c=1\nStandardNames=1\nStandardValues=1\nSystemGroup=1\n"
                           "[SNMPv3]\nEnabled=1\nUser1=ops,authPriv,SHA,"
            + Key("SHA", "ops auth phrase") + ",AES," + Key("SHA", "ops priv phrase")
            + ",write\n[Network]\nResponsiveLoop=1\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups->DevicePath(), options);
    }
    bool Identified()
    {
        return ups->IsReady() && pvx->WaitForStdout("UPS found is [", 60s)
            && WaitFor([this] { return ups->ReceivedFrames().size() > 12; }, 60s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }
    std::optional<std::int64_t> Get(std::vector<std::uint32_t> arcs)
    {
        return snmp::GetNumber(pvx->AgentPort(), arcs);
    }
    // ups.status as snmp-ups with its default mibs=auto reads it in `version`.
    std::string NutStatus(const std::string& version, std::string* dump = nullptr)
    {
        std::vector<std::string> arguments = { "-s", "pvx" + version, "-x", "port=" + Target(), "-x", "mibs=auto",
            "-x", "snmp_version=" + version, "-d", "1" };
        if (version == "v3") {
            for (const char* v : { "secLevel=authPriv", "secName=ops", "authPassword=ops auth phrase",
                     "privPassword=ops priv phrase", "authProtocol=SHA", "privProtocol=AES" }) {
                arguments.push_back("-x");
                arguments.push_back(v);
            }
        } else {
            arguments.push_back("-x");
            arguments.push_back("community=gavrel");
        }
        SRunResult run = RunProgram("/lib/nut/snmp-ups", "snmp-ups", arguments, 60s, folder.Path());
        EXPECT_FALSE(run.timedOut) << version;
        EXPECT_NE(run.err.find("(mib: ietf"), std::string::npos) << version << ": the standard UPS-MIB\n" << run.err;
        if (dump)
            *dump = run.out;
        auto at = run.out.find("\nups.status: ");
        if (at == std::string::npos)
            return "<none>";
        at += 13;
        return run.out.substr(at, run.out.find('\n', at) - at);
    }

    CTempDir folder;
    unsigned short trapPort = 0;
    std::unique_ptr<CChildProcess> trapd;
    std::unique_ptr<CSimulatedUps> ups;
    std::unique_ptr<CPvxDaemon> pvx;
};

bool HasWord(const std::string& status, const std::string& word)
{
    std::istringstream words(status);
    std::string w;
    while (words >> w)
        if (w == word)
            return true;
    return false;
}

TEST(RealClients, ExporterReadsTheSimulatorsValuesOverV2cAndV3)
{
    SRig rig;
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    for (const char* line : { "set drift off", "set input.voltage 231", "set battery.charge 87" })
        ASSERT_EQ(rig.ups->Control(line), "ok\n") << line;
    ASSERT_TRUE(WaitFor([&] { return rig.Get({ 2, 1, 33, 1, 2, 4, 0 }) == 87; }, 20s));
    ASSERT_TRUE(WaitFor([&] { return rig.Get({ 2, 1, 33, 1, 3, 3, 1, 3, 1 }) == 231; }, 20s));

    WriteTextFile(rig.folder.File("snmp.yml"), ExporterConfig(0));
    const unsigned short port = FreeTcpPort();
    CChildProcess exporter("/usr/bin/prometheus-snmp-exporter", "prometheus-snmp-exporter",
        { "--config.file=" + rig.folder.File("snmp.yml"), "--web.listen-address=127.0.0.1:" + std::to_string(port) },
        rig.folder.File("exporter.out"), rig.folder.File("exporter.err"));
    auto scrape = [&](const std::string& module) {
        return RunProgram("/usr/bin/curl", "curl",
            { "-s", "-m", "20", "http://127.0.0.1:" + std::to_string(port) + "/snmp?module=" + module
                    + "&target=" + rig.Target() },
            30s)
            .out;
    };
    ASSERT_TRUE(WaitFor([&] { return !scrape("pvx_v2").empty(); }, 20s)) << ReadFile(rig.folder.File("exporter.err"));
    for (const char* module : { "pvx_v2", "pvx_v3" }) {
        SCOPED_TRACE(module);
        const std::string metrics = scrape(module);
        EXPECT_NE(metrics.find("\nupsEstimatedChargeRemaining 87\n"), std::string::npos) << metrics;
        EXPECT_NE(metrics.find("\nupsInputVoltage{upsInputLineIndex=\"1\"} 231\n"), std::string::npos) << metrics;
        EXPECT_EQ(metrics.find("not authentic"), std::string::npos) << metrics;
    }
}

TEST(RealClients, NutReadsOnLineOnBatteryAndLowBatteryAndTrapsCarryRfc1628Names)
{
    SRig rig;
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    ASSERT_EQ(rig.ups->Control("set drift off"), "ok\n");
    const char* const versions[] = { "v1", "v2c", "v3" };
    for (const char* version : versions)
        EXPECT_EQ(rig.NutStatus(version), "OL") << version;

    ASSERT_EQ(rig.ups->Control("set onbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.Get({ 2, 1, 33, 1, 4, 1, 0 }) == 5; }, 20s)) << "upsOutputSource battery";
    for (const char* version : versions) {
        const std::string status = rig.NutStatus(version);
        EXPECT_TRUE(HasWord(status, "OB") && !HasWord(status, "LB")) << version << ": " << status;
    }

    // The UPS warns of a low battery while its run time is far above
    // upsConfigLowBattTime: managers must still see LB.
    ASSERT_EQ(rig.ups->Control("set lowbattery 1"), "ok\n");
    ASSERT_EQ(rig.ups->Control("set battery.runtime 1500"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.Get({ 2, 1, 33, 1, 2, 1, 0 }) == 3; }, 20s)) << "upsBatteryStatus low";
    for (const char* version : versions) {
        std::string dump;
        const std::string status = rig.NutStatus(version, &dump);
        EXPECT_TRUE(HasWord(status, "OB") && HasWord(status, "LB")) << version << ": " << status;
        EXPECT_NE(dump.find("battery.runtime: 1500\n"), std::string::npos) << dump;
    }

    // The traps, as snmptrapd names them with RFC 1628's module.
    const std::string trapd = rig.folder.File("trapd.out");
    EXPECT_TRUE(WaitFor(
        [&] { return ReadFile(trapd).find("upsAlarmDescr.") != std::string::npos; }, 20s))
        << ReadFile(trapd);
    const std::string traps = ReadFile(trapd);
    for (const char* expected : { "UPS-MIB::upsTraps Enterprise Specific Trap (1)",
             "UPS-MIB::upsEstimatedMinutesRemaining.0 = INTEGER:", "UPS-MIB::upsSecondsOnBattery.0 = INTEGER:",
             "UPS-MIB::upsConfigLowBattTime.0 = INTEGER: 2", "UPS-MIB::upsTraps Enterprise Specific Trap (3)",
             "= OID: UPS-MIB::upsAlarmLowBattery" })
        EXPECT_NE(traps.find(expected), std::string::npos) << expected << "\n" << traps;
    EXPECT_EQ(traps.find("upsTraps.0"), std::string::npos) << traps;
    EXPECT_EQ(traps.find("= OID: UPS-MIB::upsAlarmOnBattery"), std::string::npos)
        << "on battery has a trap of its own\n" << traps;
}

} // namespace
