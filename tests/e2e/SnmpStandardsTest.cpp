// What standard managers and strict stacks expect of SNMP, against the
// running daemon and the simulated UPS with net-snmp's tools: a SET is all or
// nothing, values are checked before anything reaches the UPS or pvx.ini,
// SHA-256 users can be configured, and tooBig and unknown contexts behave as
// RFC 3416 and RFC 3413 say. (A low battery, as managers and the status page
// show it, is in RealClientsTest.)
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kBinaryDir = PVX_BINARY_DIR;

struct SRig {
    explicit SRig(const std::string& extraIni)
    {
        ups = std::make_unique<CSimulatedUps>(folder.Path());
        SDaemonOptions options;
        options.snmp = true;
        options.extraIni = "[SNMP]\nVersion2c=1\n" + extraIni + "[Network]\nResponsiveLoop=1\n[UPSIdent]\nName=old\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups->DevicePath(), options);
    }
    bool Identified()
    {
        return ups->IsReady() && pvx->WaitForStdout("UPS found is [", 60s)
            && WaitFor([this] { return ups->ReceivedFrames().size() > 12; }, 60s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }
    SRunResult Tool(const std::string& tool, std::vector<std::string> arguments)
    {
        std::vector<std::string> all = { "-m", "", "-On", "-t", "3", "-r", "1" };
        all.insert(all.end(), arguments.begin(), arguments.end());
        return RunProgram("/usr/bin/" + tool, tool, all, 60s);
    }
    std::string Ini() const { return ReadFile(pvx->IniPath()); }

    CTempDir folder;
    std::unique_ptr<CSimulatedUps> ups;
    std::unique_ptr<CPvxDaemon> pvx;
};

const std::string kName = ".1.3.6.1.2.1.33.1.1.5.0";
const std::string kShutdownType = ".1.3.6.1.2.1.33.1.8.1.0";
const std::string kShutdownAfter = ".1.3.6.1.2.1.33.1.8.2.0";
const std::string kAutoRestart = ".1.3.6.1.2.1.33.1.8.5.0";
const std::string kAudible = ".1.3.6.1.2.1.33.1.9.8.0";

// Each refused SET names its first failing binding, and neither the UPS
// (no frame) nor pvx.ini (not a byte) sees anything of any binding.
TEST(SnmpStandards, ASetIsCheckedWholeBeforeAnythingIsApplied)
{
    SRig rig("");
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    struct SCase {
        const char* version;
        std::vector<std::string> bindings; // name, type, value, ...
        const char* reason;
        std::size_t failing; // the binding the reply names, from 0
    };
    const SCase cases[] = {
        { "2c", { kShutdownAfter, "i", "600", kShutdownType, "i", "3" }, "wrongValue", 1 }, // a type out of range
        { "1", { kShutdownAfter, "i", "600", kShutdownType, "i", "3" }, "badValue", 1 },
        { "2c", { kName, "s", "X", kAutoRestart, "i", "5" }, "notWritable", 1 }, // a name and a read-only object
        { "2c", { kName, "i", "5" }, "wrongType", 0 }, // an INTEGER for a name
        { "1", { kName, "i", "5" }, "badValue", 0 },
        { "2c", { kName, "s", std::string(64, 'n') }, "wrongLength", 0 }, // one character too long
        { "2c", { kAudible, "i", "9" }, "wrongValue", 0 },                 // outside its enumeration
    };
    const std::string ini = rig.Ini();
    const std::size_t frames = rig.ups->ReceivedFrames().size();
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.reason) + " for " + c.bindings[3 * c.failing]);
        std::vector<std::string> arguments = { std::string("-v") + c.version, "-c", "sotwick", rig.Target() };
        arguments.insert(arguments.end(), c.bindings.begin(), c.bindings.end());
        SRunResult set = rig.Tool("snmpset", arguments);
        EXPECT_NE(set.status, 0);
        EXPECT_NE(set.err.find(c.reason), std::string::npos) << set.out << set.err;
        EXPECT_NE(set.err.find("Failed object: " + c.bindings[3 * c.failing]), std::string::npos) << set.err;
        EXPECT_EQ(rig.Ini(), ini) << "pvx.ini is byte for byte the same";
    }
    std::this_thread::sleep_for(1500ms); // a frame would have been sent by now
    EXPECT_EQ(rig.ups->FramesAfter(frames), std::vector<std::string> {}) << "the UPS received nothing";
    SRunResult get = rig.Tool("snmpget", { "-v2c", "-c", "gavrel", rig.Target(), kName, kShutdownAfter });
    EXPECT_EQ(get.out, kName + " = STRING: \"old\"\n" + kShutdownAfter + " = INTEGER: -1\n") << get.err;

    // A set that passes every check is applied whole.
    const std::size_t before = rig.ups->ReceivedFrames().size();
    SRunResult set = rig.Tool("snmpset", { "-v2c", "-c", "sotwick", rig.Target(), kName, "s", "rack 9", kAudible, "i",
        "3" });
    EXPECT_EQ(set.status, 0) << set.err;
    auto caused = rig.ups->FramesAfter(before);
    std::erase(caused, "rx CF 3A 91 4E"); // the driver's authorization before a restricted command
    EXPECT_EQ(caused, std::vector<std::string> { "rx 95 06 02 00" });
    EXPECT_NE(rig.Ini().find("Name=rack 9\n"), std::string::npos) << rig.Ini();
}

// SNMPv3 with SHA-256 and AES can be configured (two stored SHA-256 keys make
// a line longer than 255 characters), a foreign context gets its Report, and
// a reply that cannot fit is tooBig with no bindings (RFC 3416 4.2.1).
TEST(SnmpStandards, Sha256UsersContextsAndTooBig)
{
    auto key = [](const char* phrase) {
        SRunResult made = RunProgram(kBinaryDir + "/pvx-passwd", "pvx-passwd", { "-3", "SHA256", phrase }, 10s);
        return made.out.substr(0, made.out.find('\n'));
    };
    // Blanks around the fields (which the reader ignores) keep the line longer
    // than 255 characters now that the stored keys are compact.
    const std::string user = "ops,authPriv,SHA256," + key("ops auth phrase") + std::string(80, ' ') + ",AES,"
        + key("ops priv phrase") + ",write";
    ASSERT_GT(("User1=" + user).size(), 255u);
    SRig rig("[SNMPv3]\nEnabled=1\nUser1=" + user + "\n");
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    auto v3 = [&](std::vector<std::string> more) {
        more.insert(more.begin(), { "-v3", "-l", "authPriv", "-u", "ops", "-a", "SHA-256", "-A", "ops auth phrase", "-x",
            "AES", "-X", "ops priv phrase" });
        return rig.Tool("snmpget", more);
    };
    SRunResult get = v3({ rig.Target(), kName });
    EXPECT_EQ(get.out, kName + " = STRING: \"old\"\n") << get.err;
    SRunResult other = v3({ "-n", "other", rig.Target(), kName });
    EXPECT_FALSE(other.timedOut);
    // The snmpUnknownContexts Report, as net-snmp words it.
    EXPECT_NE(other.err.find("Bad context specified"), std::string::npos) << other.out << other.err;

    ASSERT_EQ(rig.Tool("snmpset", { "-v2c", "-c", "sotwick", rig.Target(), kName, "s", std::string(63, 'n') }).status, 0);
    std::vector<std::string> many = { "-v2c", "-c", "gavrel", "-d", rig.Target() };
    many.insert(many.end(), 18, kName);
    SRunResult big = rig.Tool("snmpget", many);
    EXPECT_NE(big.err.find("tooBig"), std::string::npos) << big.err;
    const auto received = big.err.find("Received ");
    ASSERT_NE(received, std::string::npos) << big.err;
    EXPECT_LT(std::stoi(big.err.substr(received + 9)), 64) << "the reply carries no bindings";
}

} // namespace
