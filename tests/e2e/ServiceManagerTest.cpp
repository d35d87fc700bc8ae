// pvx under a service manager, played by the test: the notification socket
// (NOTIFY_SOCKET) receives READY once the ports are open, the UPS's state as
// STATUS and a WATCHDOG keep-alive every pass until the loop is stalled on
// purpose; under JOURNAL_STREAM every line on standard error carries its
// priority. The same run serves SNMPv3 keys stored localized (Kul) and a Ku
// key, which pvx asks once to have localized.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kEngineId = "8000021605a1b2c3d4e5f60718";

// The service manager's end of NOTIFY_SOCKET: the next message, or "" when
// none comes within `timeout`.
struct SNotifySocket {
    explicit SNotifySocket(const std::string& path) : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{AF_UNIX, {}};
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SNotifySocket() { ::close(fd); }
    std::string Receive(std::chrono::milliseconds timeout)
    {
        pollfd entry{fd, POLLIN, 0};
        char buffer[4096];
        ssize_t n = ::poll(&entry, 1, static_cast<int>(timeout.count())) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
    }
    int fd;
    bool bound = false;
};

// The stored forms at work: Kul as it stands, Ku localized by pvx.
void ExpectSnmpV3Answers(unsigned short port)
{
    const std::string target = "127.0.0.1:" + std::to_string(port);
    SRunResult kul = RunProgram("/usr/bin/snmpget", "snmpget",
        {"-v3", "-On", "-t", "3", "-r", "1", "-l", "authPriv", "-u", "ops", "-a", "SHA", "-A", "ops auth phrase", "-x",
         "AES", "-X", "ops priv phrase", target, ".1.3.6.1.2.1.33.1.1.1.0"}, 60s);
    SRunResult ku = RunProgram("/usr/bin/snmpget", "snmpget",
        {"-v3", "-On", "-t", "3", "-r", "1", "-l", "authNoPriv", "-u", "mon", "-a", "SHA", "-A", "mon auth phrase",
         target, ".1.3.6.1.2.1.33.1.1.1.0"}, 60s);
    EXPECT_NE(kul.out.find("STRING"), std::string::npos) << kul.out << kul.err;
    EXPECT_NE(ku.out.find("STRING"), std::string::npos) << ku.out << ku.err;
}

} // namespace

TEST(ServiceManager, ReadyStatusAndKeepAlivesUntilTheLoopStalls)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    SNotifySocket manager(folder.File("notify"));
    ASSERT_TRUE(manager.bound);
    WriteTextFile(folder.File("pvx-engine.state"), "EngineID=" + kEngineId + "\nEngineBoots=4\n");

    SDaemonOptions options;
    options.snmp = true;
    options.journalStderr = true;
    options.environment = {
        {"NOTIFY_SOCKET", folder.File("notify")},
        {"WATCHDOG_USEC", "1500000"},
        {"PVX_TEST_STALL_AFTER_PASSES", "6"},
    };
    options.extraIni = "[Network]\nResponsiveLoop=1\n[SNMPv3]\nEnabled=1\nUser1=ops,authPriv,SHA,"
        + PvxPasswd({"-3", "SHA", "-e", kEngineId, "ops auth phrase"}) + ",AES,"
        + PvxPasswd({"-3", "SHA", "-e", kEngineId, "ops priv phrase"}) + ",write\nUser2=mon,authNoPriv,SHA,"
        + PvxPasswd({"-3", "SHA", "mon auth phrase"}) + ",-,-,read\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);

    std::string ready = manager.Receive(10s);
    ASSERT_EQ(ready, "READY=1\nSTATUS=Looking for the UPS") << pvx.Stderr();
    EXPECT_FALSE(UdpPortFree(pvx.AgentPort())) << "READY before the SNMP port was open";

    // Passes 1 to 6: a keep-alive each, and the UPS's state once it is known.
    // The first pass identifies the UPS, which takes several seconds.
    std::vector<std::string> messages;
    auto lastKeepAlive = std::chrono::steady_clock::now();
    for (auto end = lastKeepAlive + 30s; std::chrono::steady_clock::now() < end;) {
        std::string message = manager.Receive(messages.empty() ? 15s : 4s);
        if (message.empty())
            break; // the stall
        if (message.starts_with("STATUS=On line") && std::ranges::none_of(messages, [](const std::string& m) {
                return m.starts_with("STATUS=On line");
            }))
            ExpectSnmpV3Answers(pvx.AgentPort()); // while the loop still runs
        messages.push_back(message);
        if (message == "WATCHDOG=1")
            lastKeepAlive = std::chrono::steady_clock::now();
    }
    auto quiet = std::chrono::steady_clock::now() - lastKeepAlive;
    EXPECT_GE(std::ranges::count(messages, std::string("WATCHDOG=1")), 5);
    EXPECT_TRUE(std::ranges::any_of(messages, [](const std::string& m) { return m.starts_with("STATUS=On line, charge "); }))
        << messages.size() << " messages";
    EXPECT_GE(quiet, 3900ms) << "keep-alives went on while the loop stalled";
    EXPECT_TRUE(pvx.IsRunning());

    // Every line on standard error starts with its priority.
    std::istringstream lines(pvx.Stderr());
    std::vector<std::string> errLines;
    for (std::string line; std::getline(lines, line);)
        errLines.push_back(line);
    for (const std::string& line : errLines)
        EXPECT_TRUE(line.size() > 3 && line[0] == '<' && line[1] >= '0' && line[1] <= '7' && line[2] == '>') << line;
    auto has = [&](const std::string& line) { return std::ranges::find(errLines, line) != errLines.end(); };
    EXPECT_TRUE(has("<6>SNMPv3 engine ID " + kEngineId + ", boots 5 (keys for it: pvx-passwd -3 SHA -e " + kEngineId
                    + ")"));
    EXPECT_TRUE(has("<4>SNMPv3/User2")) << pvx.Stderr(); // once: the Ku key, not the Kul ones
    EXPECT_EQ(std::ranges::count_if(errLines, [](const std::string& l) { return l.find("SNMPv3/User") != l.npos; }), 1);
}
