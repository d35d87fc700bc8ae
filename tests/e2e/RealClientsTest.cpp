// Debian's real clients against the running daemon with SNMP/StandardValues
// and SNMP/SystemGroup on: Prometheus's SNMP exporter over SNMPv2c and SNMPv3
// authPriv (SHA, AES) and collectd's snmp plugin over SNMPv2c read the
// simulator's values; NUT's snmp-ups with its default mibs=auto over v1, v2c
// and v3 follows the UPS on battery and its battery running low, as the
// status page, its JSON and its metrics do; snmptrapd receives the traps as
// RFC 1628 numbers them.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

std::string Key(const char* phrase)
{
    SRunResult made = RunProgram(std::string(PVX_BINARY_DIR) + "/pvx-passwd", "pvx-passwd", { "-3", "SHA", phrase }, 10s);
    return made.out.substr(0, made.out.find('\n'));
}

struct SRig {
    SRig()
    {
        SDaemonOptions options;
        options.snmp = true;
        options.managerPort = trapPort;
        options.extraIni = "[SNMP]\nVersion2c=1\nStandardNames=1\nStandardValues=1\nSystemGroup=1\n"
                           "[SNMPv3]\nEnabled=1\nUser1=ops,authPriv,SHA,"
            + Key("ops auth phrase") + ",AES," + Key("ops priv phrase") + ",write\n[Network]\nResponsiveLoop=1\n"
            "[HTTP]\nEnabled=1\nPort=" + std::to_string(httpPort) + "\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
    }
    bool Identified()
    {
        return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 60s)
            && WaitFor([this] { return ups.ReceivedFrames().size() > 12; }, 60s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }
    std::optional<std::int64_t> Get(std::vector<std::uint32_t> arcs) { return snmp::GetNumber(pvx->AgentPort(), arcs); }
    std::string Fetch(const std::string& path)
    {
        const std::string url = "http://127.0.0.1:" + std::to_string(httpPort) + path;
        return RunProgram("/usr/bin/curl", "curl", { "-s", "-m", "5", url }, 10s).out;
    }
    // What snmp-ups with its default mibs=auto reads over `version`.
    std::string Nut(const std::string& version)
    {
        std::vector<std::string> arguments = { "-s", "pvx" + version, "-x", "port=" + Target(), "-x", "mibs=auto",
            "-x", "snmp_version=" + version, "-d", "1" };
        for (const char* x : version == "v3" ? std::vector<const char*> { "secLevel=authPriv", "secName=ops",
                 "authPassword=ops auth phrase", "privPassword=ops priv phrase", "authProtocol=SHA", "privProtocol=AES" }
                                              : std::vector<const char*> { "community=gavrel" })
            arguments.insert(arguments.end(), { "-x", x });
        SRunResult run = RunProgram("/lib/nut/snmp-ups", "snmp-ups", arguments, 60s, folder.Path());
        EXPECT_FALSE(run.timedOut) << version;
        EXPECT_NE(run.err.find("(mib: ietf"), std::string::npos) << version << ": the standard UPS-MIB\n" << run.err;
        return run.out;
    }

    CTempDir folder;
    const unsigned short trapPort = FreeUdpPort(), httpPort = FreeTcpPort();
    CSimulatedUps ups { folder.Path() };
    CChildProcess trapd { "/usr/sbin/snmptrapd", "snmptrapd",
        { "-f", "-Lo", "-n", "-On", "-m", "", "--disableAuthorization=yes", "-C", "-c", "/dev/null",
            "udp:127.0.0.1:" + std::to_string(trapPort) },
        folder.File("trapd.out"), folder.File("trapd.err") };
    std::unique_ptr<CPvxDaemon> pvx;
};

// The exporter's configuration: the same two metrics over v2c and v3 authPriv.
const std::string kMetrics = "walk: [1.3.6.1.2.1.33.1.2, 1.3.6.1.2.1.33.1.3.3.1.3], metrics: ["
                             "{name: upsEstimatedChargeRemaining, oid: 1.3.6.1.2.1.33.1.2.4, type: gauge}, "
                             "{name: upsInputVoltage, oid: 1.3.6.1.2.1.33.1.3.3.1.3, type: gauge, "
                             "indexes: [{labelname: upsInputLineIndex, type: gauge}]}]";
const std::string kExporterConfig = "pvx_v2: {" + kMetrics + ", version: 2, auth: {community: gavrel}}\n"
    "pvx_v3: {" + kMetrics + ", version: 3, auth: {username: ops, security_level: authPriv, password: ops auth phrase, "
    "auth_protocol: SHA, priv_protocol: AES, priv_password: ops priv phrase}}\n";

// collectd's configuration: sysUpTime (the system group), the charge and the
// input voltages' table over v2c every second, each value list to a CSV file.
std::string CollectdConfig(const CTempDir& folder, const std::string& target)
{
    std::string data, names;
    for (const auto& [name, type, table, oid] : { std::tuple { "uptime", "uptime", "false", ".1.3.6.1.2.1.1.3.0" },
             std::tuple { "charge", "percent", "false", ".1.3.6.1.2.1.33.1.2.4.0" },
             std::tuple { "input", "voltage", "true", ".1.3.6.1.2.1.33.1.3.3.1.3" } }) {
        data += std::string("<Data \"") + name + "\">\nType \"" + type + "\"\nTable " + table + "\n"
            + (table == std::string("true") ? std::string("TypeInstancePrefix \"") + name + "\"\n" : "") + "Values \""
            + oid + "\"\n</Data>\n";
        names += std::string(" \"") + name + "\"";
    }
    return "Interval 1\nHostname \"test\"\nFQDNLookup false\nBaseDir \"" + folder.Path() + "\"\nPIDFile \""
        + folder.File("collectd.pid") + "\"\nTypesDB \"/usr/share/collectd/types.db\"\nLoadPlugin logfile\n"
        "<Plugin logfile>\nLogLevel info\nPrintSeverity true\nFile \"" + folder.File("collectd.log") + "\"\n</Plugin>\n"
        "LoadPlugin csv\n<Plugin csv>\nDataDir \"" + folder.File("csv") + "\"\n</Plugin>\nLoadPlugin snmp\n<Plugin snmp>\n"
        + data + "<Host \"pvx\">\nAddress \"" + target + "\"\nVersion 2\nCommunity \"gavrel\"\nCollect" + names
        + "\nInterval 1\n</Host>\n</Plugin>\n";
}

// The last value in the CSV file that collectd writes for `type` (and the
// type instance of a table's row), or -1.
double LastCsvValue(const std::string& folder, const std::string& type)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/csv/pvx/snmp", error)) {
        if (entry.path().filename().string().starts_with(type + "-20")) { // the file's date follows
            const std::string text = ReadFile(entry.path());
            const auto comma = text.rfind(',');
            return comma == std::string::npos ? -1 : std::stod(text.substr(comma + 1));
        }
    }
    return -1;
}

TEST(RealClients, ExporterAndCollectdReadTheSimulatorsValues)
{
    SRig rig;
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    for (const char* line : { "set drift off", "set input.voltage 231", "set battery.charge 87" })
        ASSERT_EQ(rig.ups.Control(line), "ok\n") << line;
    ASSERT_TRUE(WaitFor([&] { return rig.Get({ 2, 1, 33, 1, 2, 4, 0 }) == 87; }, 20s));
    ASSERT_TRUE(WaitFor([&] { return rig.Get({ 2, 1, 33, 1, 3, 3, 1, 3, 1 }) == 231; }, 20s));

    WriteTextFile(rig.folder.File("snmp.yml"), kExporterConfig);
    const unsigned short port = FreeTcpPort();
    CChildProcess exporter("/usr/bin/prometheus-snmp-exporter", "prometheus-snmp-exporter",
        { "--config.file=" + rig.folder.File("snmp.yml"), "--web.listen-address=127.0.0.1:" + std::to_string(port) },
        rig.folder.File("exporter.out"), rig.folder.File("exporter.err"));
    auto scrape = [&](const std::string& module) {
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/snmp?module=" + module + "&target=";
        return RunProgram("/usr/bin/curl", "curl", { "-s", "-m", "20", url + rig.Target() }, 30s).out;
    };
    ASSERT_TRUE(WaitFor([&] { return !scrape("pvx_v2").empty(); }, 20s)) << ReadFile(rig.folder.File("exporter.err"));
    for (const char* module : { "pvx_v2", "pvx_v3" }) {
        const std::string metrics = scrape(module);
        EXPECT_NE(metrics.find("\nupsEstimatedChargeRemaining 87\n"), std::string::npos) << module << metrics;
        EXPECT_NE(metrics.find("\nupsInputVoltage{upsInputLineIndex=\"1\"} 231\n"), std::string::npos) << metrics;
        EXPECT_EQ(metrics.find("not authentic"), std::string::npos) << metrics;
    }

    // Without the system group collectd logs an error for sysUpTime on every poll.
    WriteTextFile(rig.folder.File("collectd.conf"), CollectdConfig(rig.folder, rig.Target()));
    CChildProcess collectd("/usr/sbin/collectd", "collectd", { "-f", "-C", rig.folder.File("collectd.conf") },
        rig.folder.File("collectd.out"), rig.folder.File("collectd.err"));
    const std::string& folder = rig.folder.Path();
    EXPECT_TRUE(WaitFor([&] { return LastCsvValue(folder, "percent") == 87 && LastCsvValue(folder, "uptime") > 0
                                  && LastCsvValue(folder, "voltage-input1") == 231; }, 20s))
        << ReadFile(rig.folder.File("collectd.log")) << ReadFile(rig.folder.File("collectd.err"));
    const std::string log = ReadFile(rig.folder.File("collectd.log"));
    for (const char* complaint : { "[error]", "[warning]", "snmp plugin" })
        EXPECT_EQ(log.find(complaint), std::string::npos) << log;
}

TEST(RealClients, NutFollowsTheUpsOverEveryVersionAndTrapsAreRfc1628s)
{
    SRig rig;
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    struct SStep {
        std::vector<const char*> control;
        std::vector<std::uint32_t> object;
        std::int64_t value; // of `object` once the daemon has seen the change
        std::int64_t minutes; // upsEstimatedMinutesRemaining then
        const char* status; // ups.status as NUT words it
        const char* battery, *page; // the battery status in the JSON and the metrics, and on the page
    };
    const SStep steps[] = {
        { { "set drift off" }, { 2, 1, 33, 1, 4, 1, 0 }, 3, 30, "OL", "normal", "Normal" }, // upsOutputSource normal
        { { "set onbattery 1" }, { 2, 1, 33, 1, 4, 1, 0 }, 5, 30, "OB", "normal", "Normal" }, // battery
        // The UPS warns of a low battery while its run time (25 minutes) is
        // far above upsConfigLowBattTime: managers must still see LB.
        { { "set lowbattery 1", "set battery.runtime 1500" }, { 2, 1, 33, 1, 2, 1, 0 }, 3, 25, "LB OB", "low",
            "Low" },
    };
    for (const SStep& step : steps) {
        for (const char* line : step.control)
            ASSERT_EQ(rig.ups.Control(line), "ok\n") << line;
        ASSERT_TRUE(WaitFor([&] { return rig.Get(step.object) == step.value && rig.Get({ 2, 1, 33, 1, 2, 3, 0 })
                                      == step.minutes; }, 20s)) << step.status;
        for (const char* version : { "v1", "v2c", "v3" }) {
            const std::string dump = rig.Nut(version);
            EXPECT_NE(dump.find("\nups.status: " + std::string(step.status) + "\n"), std::string::npos) << version << dump;
            EXPECT_NE(dump.find("\nbattery.runtime: " + std::to_string(step.minutes * 60) + "\n"), std::string::npos);
        }
        const std::string battery = step.battery;
        const std::pair<const char*, std::string> shown[] = { { "/status.json", "\"battery_status\":\"" + battery + "\"" },
            { "/metrics", "pvx_ups_battery_status{status=\"" + battery + "\"} 1\n" },
            { "/", std::string("<th>Status</th><td>") + step.page + "</td>" } };
        for (const auto& [path, expected] : shown)
            EXPECT_NE(rig.Fetch(path).find(expected), std::string::npos) << path << ": " << expected;
    }

    // SNMPv1 traps as RFC 3584 section 3.2 makes them of RFC 1628's
    // notifications: enterprise upsTraps, no upsTrapAlarmEntryAdded for on
    // battery (it has upsTrapOnBattery), alarm identifiers without a final
    // .0; every time-stamp on sysUpTime, the coldStart's too.
    const std::string trapd = rig.folder.File("trapd.out");
    EXPECT_TRUE(WaitFor([&] { return ReadFile(trapd).find(" = OID: .1.3.6.1.2.1.33.1.6.3.3") != std::string::npos; },
        20s)) << ReadFile(trapd);
    const std::string traps = ReadFile(trapd);
    for (const char* expected : { "Cold Start Trap (0) Uptime: 0:00:0", "\t.1.3.6.1.2.1.33.2 Enterprise Specific Trap (1) ",
             ".1.3.6.1.2.1.33.1.2.3.0 = INTEGER: 30\t.1.3.6.1.2.1.33.1.2.2.0 = INTEGER: ",
             "\t.1.3.6.1.2.1.33.1.9.7.0 = INTEGER: 2\n", "\t.1.3.6.1.2.1.33.2 Enterprise Specific Trap (3) ",
             " = OID: .1.3.6.1.2.1.33.1.6.3.3\n" })
        EXPECT_NE(traps.find(expected), std::string::npos) << expected << "\n" << traps;
    EXPECT_EQ(traps.find(".1.3.6.1.2.1.33.2.0 Enterprise"), std::string::npos) << traps;
    EXPECT_EQ(traps.find(" = OID: .1.3.6.1.2.1.33.1.6.3.2\n"), std::string::npos) << traps;
}

} // namespace
