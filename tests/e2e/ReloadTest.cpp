// Reload on SIGHUP (Service/ReloadOnHangup=1): a changed community and HTTP
// port answer after it, the UPS is not identified again and SNMPv3's engine
// keeps its boot count; a pvx.ini that does not parse changes nothing.
// Without the key SIGHUP ends pvx, as it always did.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kManufacturer = ".1.3.6.1.2.1.33.1.1.1.0";

bool SnmpAnswers(unsigned short port, const std::string& community)
{
    SRunResult get = RunProgram("/usr/bin/snmpget", "snmpget",
        {"-v2c", "-On", "-t", "1", "-r", "1", "-c", community, "127.0.0.1:" + std::to_string(port), kManufacturer}, 20s);
    return get.status == 0 && get.out.find("STRING") != std::string::npos;
}

bool HttpAnswers(unsigned short port)
{
    SRunResult curl = RunProgram("/usr/bin/curl", "curl",
        {"-s", "-o", "/dev/null", "-w", "%{http_code}", "-m", "5", "http://127.0.0.1:" + std::to_string(port) + "/metrics"},
        20s);
    return curl.out == "200";
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace

TEST(Reload, ChangedKeysAnswerTheUpsStaysIdentifiedAndABrokenFileChangesNothing)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    const unsigned short firstHttp = FreeTcpPort();
    unsigned short secondHttp = FreeTcpPort();
    while (secondHttp == firstHttp)
        secondHttp = FreeTcpPort();
    SDaemonOptions options;
    options.snmp = true;
    options.extraIni = "[Network]\nResponsiveLoop=1\n[SNMPv3]\nEnabled=1\nUser1=mon,authNoPriv,SHA,"
        + PvxPasswd({"-3", "SHA", "mon auth phrase"}) + ",-,-,read\n[SNMP]\nVersion2c=1\nGetCommunity=before\n"
        + "[HTTP]\nEnabled=1\nPort=" + std::to_string(firstHttp) + "\n[Service]\nReloadOnHangup=1\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();
    ASSERT_TRUE(WaitFor([&] { return SnmpAnswers(pvx.AgentPort(), "before"); }, 20s));
    ASSERT_TRUE(HttpAnswers(firstHttp));
    auto boots = [&] {
        std::smatch match;
        std::string state = ReadFile(folder.File("pvx-engine.state"));
        return std::regex_search(state, match, std::regex("EngineBoots=([0-9]+)")) ? match[1].str() : "";
    };
    const std::string bootsBefore = boots();
    const std::size_t framesBefore = ups.ReceivedFrames().size();
    const std::size_t identificationFrames = ups.FramesAfter(0).size();

    const std::string original = ReadFile(pvx.IniPath());
    WriteTextFile(pvx.IniPath(), Replace(Replace(original, "GetCommunity=before", "GetCommunity=after"),
                                         "Port=" + std::to_string(firstHttp), "Port=" + std::to_string(secondHttp)));
    ASSERT_EQ(::kill(pvx.Pid(), SIGHUP), 0);
    ASSERT_TRUE(WaitFor([&] { return pvx.Stderr().find("Re-opened: SNMP agent, HTTP server.") != std::string::npos; },
                        10s))
        << pvx.Stderr();
    EXPECT_TRUE(SnmpAnswers(pvx.AgentPort(), "after"));
    EXPECT_FALSE(SnmpAnswers(pvx.AgentPort(), "before"));
    EXPECT_TRUE(HttpAnswers(secondHttp));
    EXPECT_FALSE(HttpAnswers(firstHttp));
    // The engine and its users went on: an SNMPv3 request still answers.
    SRunResult v3 = RunProgram("/usr/bin/snmpget", "snmpget",
        {"-v3", "-On", "-l", "authNoPriv", "-u", "mon", "-a", "SHA", "-A", "mon auth phrase",
         "127.0.0.1:" + std::to_string(pvx.AgentPort()), kManufacturer}, 20s);
    EXPECT_NE(v3.out.find("STRING"), std::string::npos) << v3.err;
    EXPECT_EQ(boots(), bootsBefore);
    EXPECT_GT(ups.ReceivedFrames().size(), framesBefore) << "the UPS is still polled";
    EXPECT_EQ(ups.FramesAfter(0).size(), identificationFrames) << "the UPS was identified again";

    // A list that does not parse: the whole file is refused, nothing closes.
    WriteTextFile(pvx.IniPath(), Replace(ReadFile(pvx.IniPath()), "[SNMP]\n", "[SNMP]\nReadManagers=10.0.0.0/33\n"));
    ASSERT_EQ(::kill(pvx.Pid(), SIGHUP), 0);
    ASSERT_TRUE(WaitFor([&] { return pvx.Stderr().find("SNMP/ReadManagers: \"10.0.0.0/33\"") != std::string::npos; },
                        10s))
        << pvx.Stderr();
    EXPECT_TRUE(SnmpAnswers(pvx.AgentPort(), "after"));
    EXPECT_TRUE(HttpAnswers(secondHttp));
    EXPECT_TRUE(pvx.IsRunning());
    EXPECT_EQ(boots(), bootsBefore);
}

TEST(Reload, WithoutTheKeySighupEndsPvx)
{
    CTempDir folder;
    SDaemonOptions options;
    options.extraIni = "[Communications]\nDriver=simulated\n";
    CPvxDaemon pvx(folder.Path(), "", options);
    std::this_thread::sleep_for(1s); // into its loop
    ASSERT_TRUE(pvx.IsRunning()) << pvx.Stderr();
    ASSERT_EQ(::kill(pvx.Pid(), SIGHUP), 0);
    EXPECT_TRUE(WaitFor([&] { return !pvx.IsRunning(); }, 10s));
}
