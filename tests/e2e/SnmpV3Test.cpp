// SNMPv3 against the running daemon with net-snmp's own tools: walks under
// authPriv, SHA-256 without privacy, sets by a write and by a read user, the
// security failures a manager meets, and the engine's boot count across a
// restart, and a captured message replayed after it.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kName = ".1.3.6.1.2.1.33.1.1.5.0"; // upsIdentName

// The stored key of a pass phrase, as pvx-passwd -3 makes it.
std::string StoredKey(const std::string& protocol, const std::string& passPhrase)
{
    SRunResult result = RunProgram(std::string(PVX_BINARY_DIR) + "/pvx-passwd", "pvx-passwd",
        { "-3", protocol, passPhrase }, 30s);
    EXPECT_EQ(result.status, 0) << result.err;
    std::string key = result.out;
    key.erase(std::remove(key.begin(), key.end(), '\n'), key.end());
    return key;
}

struct SRig {
    SRig()
    {
        ups = std::make_unique<CSimulatedUps>(folder.Path());
        ini = "[SNMPv3]\nEnabled=1\nUser1=ops,authPriv,SHA," + StoredKey("SHA", "ops auth phrase") + ",AES,"
            + StoredKey("SHA", "ops priv phrase") + ",write\nUser2=mon,authNoPriv,SHA256,"
            + StoredKey("SHA256", "mon auth phrase") + ",-,-,read\n[SNMP]\nVersion1=0\n[Network]\nResponsiveLoop=1\n";
        Start();
    }
    void Start()
    {
        pvx.reset();
        SDaemonOptions options;
        options.snmp = true;
        options.extraIni = ini;
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups->DevicePath(), options);
    }
    bool Identified() { return ups->IsReady() && pvx->WaitForStdout("UPS found is", 30s); }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }
    std::string Boots() const
    {
        std::smatch match;
        std::string state = ReadFile(folder.File("pvx-engine.state"));
        return std::regex_search(state, match, std::regex("EngineBoots=([0-9]+)")) ? match[1].str() : "";
    }

    CTempDir folder;
    std::unique_ptr<CSimulatedUps> ups;
    std::unique_ptr<CPvxDaemon> pvx;
    std::string ini;
};

// A net-snmp tool in version 3 with numeric names. Each run discovers the
// engine afresh, as after a restart.
SRunResult RunV3Tool(const std::string& tool, const std::vector<std::string>& security, const std::string& target,
    std::vector<std::string> arguments)
{
    std::vector<std::string> all = { "-v3", "-m", "", "-On", "-t", "3", "-r", "1" };
    all.insert(all.end(), security.begin(), security.end());
    all.push_back(target);
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProgram("/usr/bin/" + tool, tool, all, 60s);
}

// The last datagram a net-snmp tool run with -d says it sent, read from its
// hex dump ("0000: 30 3E 02 01  03 30 ...", sixteen bytes a line).
std::vector<std::uint8_t> LastSentDatagram(const std::string& dump)
{
    std::vector<std::uint8_t> bytes;
    std::istringstream lines(dump);
    std::string line;
    bool sending = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Sending ", 0) == 0) {
            bytes.clear();
            sending = true;
        } else if (line.size() < 6 || line[4] != ':') {
            sending = false;
        } else if (sending) {
            std::istringstream hex(line.substr(6, 50));
            std::string digits;
            while (hex >> digits && digits.size() == 2)
                bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
        }
    }
    return bytes;
}

const std::vector<std::string> kOps = { "-l", "authPriv", "-u", "ops", "-a", "SHA", "-A", "ops auth phrase", "-x",
    "AES", "-X", "ops priv phrase" };
const std::vector<std::string> kMon = { "-l", "authNoPriv", "-u", "mon", "-a", "SHA-256", "-A", "mon auth phrase" };

TEST(SnmpV3, NetSnmpToolsReadSetAndMeetTheSecurityChecks)
{
    SRig rig;
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    EXPECT_EQ(rig.Boots(), "1");

    for (const char* subtree : { "1.3.6.1.2.1.33", "1.3.6.1.4.1.534.1" }) {
        SCOPED_TRACE(subtree);
        SRunResult walk = RunV3Tool("snmpwalk", kOps, rig.Target(), { subtree });
        EXPECT_EQ(walk.status, 0) << walk.err;
        EXPECT_GE(std::count(walk.out.begin(), walk.out.end(), '\n'), 20) << walk.out;
    }
    SRunResult sha256 = RunV3Tool("snmpget", kMon, rig.Target(), { ".1.3.6.1.2.1.33.1.1.1.0" });
    EXPECT_EQ(sha256.status, 0) << sha256.err;
    EXPECT_NE(sha256.out.find(".1.3.6.1.2.1.33.1.1.1.0 = STRING: "), std::string::npos) << sha256.out;

    // Only the write user's set lands; every other attempt gets an error
    // (from pvx's reply or report) or no answer, and changes nothing.
    auto with = [](std::vector<std::string> base, const std::string& flag, const std::string& value) {
        auto at = std::find(base.begin(), base.end(), flag);
        at[1] = value;
        return base;
    };
    struct Case {
        const char* name;
        std::vector<std::string> security;
        bool succeeds;
        const char* error; // in standard error
    };
    std::vector<std::uint8_t> captured;
    const Case cases[] = {
        { "the write user", kOps, true, "" },
        { "a read user", kMon, false, "authorizationError" },
        { "a wrong auth pass phrase", with(kOps, "-A", "not the phrase"), false, "Authentication failure" },
        { "a wrong priv pass phrase", with(kOps, "-X", "not the phrase"), false, "" },
        { "an unknown user", with(kOps, "-u", "eve"), false, "Unknown user name" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string value = c.succeeds ? "Rack v3" : std::string("by ") + c.name;
        std::vector<std::string> security = c.security;
        if (c.succeeds)
            security.push_back("-d"); // keeps the set's bytes for the replay below
        SRunResult set = RunV3Tool("snmpset", security, rig.Target(), { kName, "s", value });
        EXPECT_EQ(set.status == 0, c.succeeds) << set.out << set.err;
        if (c.succeeds)
            captured = LastSentDatagram(set.out + set.err);
        EXPECT_NE(set.err.find(c.error), std::string::npos) << set.err;
        SRunResult get = RunV3Tool("snmpget", kOps, rig.Target(), { kName });
        EXPECT_EQ(get.out, kName + " = STRING: \"Rack v3\"\n") << get.err;
    }

    // A restart counts one more boot; tools that discover the engine again
    // go on working.
    rig.Start();
    ASSERT_TRUE(WaitFor([&] { return rig.Boots() == "2"; }, 30s)) << rig.Boots() << rig.pvx->Stderr();
    ASSERT_TRUE(WaitFor([&] {
        return RunV3Tool("snmpget", kMon, rig.Target(), { ".1.3.6.1.2.1.33.1.1.1.0" }).status == 0;
    }, 60s)) << rig.pvx->Stderr();
    SRunResult v1 = RunProgram("/usr/bin/snmpget", "snmpget",
        { "-v1", "-c", "gavrel", "-t", "1", "-r", "0", "-On", rig.Target(), ".1.3.6.1.2.1.33.1.1.1.0" }, 30s);
    EXPECT_NE(v1.status, 0) << "Version1=0 leaves SNMPv3 only: " << v1.out;

    // The write user's set, captured before the restart and sent again with
    // its older boot count, is outside the time window: pvx answers with the
    // usmStatsNotInTimeWindows report and the name stays as it is now.
    ASSERT_EQ(RunV3Tool("snmpset", kOps, rig.Target(), { kName, "s", "After restart" }).status, 0);
    ASSERT_GT(captured.size(), 64u);
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(UdpExchange(rig.pvx->AgentPort(), captured, reply, 5000ms));
    // The contents of 1.3.6.1.6.3.15.1.1.2.0; pvx writes every length long.
    const std::vector<std::uint8_t> notInTimeWindows = { 0x2B, 0x06, 0x01, 0x06, 0x03, 0x0F, 0x01, 0x01, 0x02, 0x00 };
    EXPECT_NE(std::search(reply.begin(), reply.end(), notInTimeWindows.begin(), notInTimeWindows.end()), reply.end()) << testing::PrintToString(reply);
    SRunResult after = RunV3Tool("snmpget", kOps, rig.Target(), { kName });
    EXPECT_EQ(after.out, kName + " = STRING: \"After restart\"\n") << after.err;
    EXPECT_TRUE(rig.pvx->IsRunning());
}

// A captured SET sent again within the time window (RFC 3414 lets it
// through) is answered, but not applied again: a shutdown armed and then
// cancelled stays cancelled.
TEST(SnmpV3, ACopiedSetWithinTheWindowIsAnsweredNotAppliedAgain)
{
    SRig rig;
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    const std::string kDelay = ".1.3.6.1.2.1.33.1.8.2.0"; // upsShutdownAfterDelay
    std::vector<std::string> security = kOps;
    security.push_back("-d");
    SRunResult arm = RunV3Tool("snmpset", security, rig.Target(), { kDelay, "i", "600" });
    ASSERT_EQ(arm.status, 0) << arm.err;
    const std::vector<std::uint8_t> captured = LastSentDatagram(arm.out + arm.err);
    ASSERT_GT(captured.size(), 64u);
    ASSERT_EQ(RunV3Tool("snmpset", kOps, rig.Target(), { kDelay, "i", "-1" }).status, 0);
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(UdpExchange(rig.pvx->AgentPort(), captured, reply, 5000ms));
    const std::vector<std::uint8_t> report = { 0x2B, 0x06, 0x01, 0x06, 0x03, 0x0F, 0x01, 0x01 }; // usmStats
    EXPECT_EQ(std::search(reply.begin(), reply.end(), report.begin(), report.end()), reply.end())
        << "answered as the original was, not with a report";
    SRunResult get = RunV3Tool("snmpget", kOps, rig.Target(), { kDelay });
    EXPECT_EQ(get.out, kDelay + " = INTEGER: -1\n") << get.err;
}

} // namespace

namespace {

// Start-up refuses a malformed user line, naming it; an engine state that
// cannot be trusted turns off SNMPv3 alone, naming the file, which is left as
// it is (no boot count is used twice) until the operator removes it.
TEST(SnmpV3, AMalformedUserStopsPvxAndADamagedEngineStateOnlySNMPv3)
{
    struct Case {
        const char* name;
        std::string user;
        const char* state; // written as pvx-engine.state first; null: none
        const char* stderrHas;
        bool stops;
    };
    const Case cases[] = {
        { "a pass phrase where a stored key belongs", "ops,authNoPriv,SHA,maplesyrup,-,-,read", nullptr,
            "\nSNMPv3/User1: ", true },
        { "a damaged engine state", "mon,authNoPriv,SHA256," + StoredKey("SHA256", "mon auth phrase") + ",-,-,read",
            "EngineID=zz\n", "/pvx-engine.state\n", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir folder;
        CSimulatedUps ups(folder.Path());
        ASSERT_TRUE(ups.IsReady());
        if (c.state)
            WriteTextFile(folder.File("pvx-engine.state"), c.state);
        SDaemonOptions options;
        options.snmp = true;
        options.extraIni = "[SNMPv3]\nEnabled=1\nUser1=" + c.user + "\n[Network]\nResponsiveLoop=1\n";
        auto pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
        if (c.stops) {
            EXPECT_EQ(pvx->Wait(20s), 255);
            EXPECT_NE(pvx->Stderr().find(c.stderrHas), std::string::npos) << pvx->Stderr();
            continue;
        }
        ASSERT_TRUE(pvx->WaitForStdout("UPS found is [", 30s)) << pvx->Stderr();
        EXPECT_NE(pvx->Stderr().find(c.stderrHas), std::string::npos) << pvx->Stderr();
        const std::string target = "127.0.0.1:" + std::to_string(pvx->AgentPort());
        const std::vector<std::string> v1 = { "-v1", "-c", "gavrel", "-t", "2", "-r", "1", "-On", target,
            ".1.3.6.1.2.1.33.1.1.1.0" };
        EXPECT_EQ(RunProgram("/usr/bin/snmpget", "snmpget", v1, 30s).status, 0) << "SNMPv1 serves";
        std::vector<uint8_t> reply;
        EXPECT_TRUE(UdpExchange(pvx->RelayPort(), XcpFrame({ 0x00 }), reply, 5s)) << "the relay serves";
        EXPECT_NE(RunV3Tool("snmpget", kMon, target, { ".1.3.6.1.2.1.33.1.1.1.0" }).status, 0) << "SNMPv3 does not";
        EXPECT_EQ(ReadFile(folder.File("pvx-engine.state")), c.state);
        // Removed by the operator: the next start serves SNMPv3 again.
        pvx.reset();
        ::unlink(folder.File("pvx-engine.state").c_str());
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
        ASSERT_TRUE(pvx->WaitForStdout("UPS found is [", 30s)) << pvx->Stderr();
        SRunResult again = RunV3Tool("snmpget", kMon, "127.0.0.1:" + std::to_string(pvx->AgentPort()),
            { ".1.3.6.1.2.1.33.1.1.1.0" });
        EXPECT_EQ(again.status, 0) << again.out << again.err << pvx->Stderr();
    }
}

} // namespace
