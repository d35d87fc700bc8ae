// Hostile clients of the RFC 9271 server (200 idle connections, 100 that
// send a byte a second, lines of 1 MiB, garbage) from many loopback
// addresses: the UPS keeps its polling cadence, SNMP keeps answering, the
// daemon's memory stays flat, and a monitoring session that logged in and
// short sessions as upsc opens them are still served.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

// A connection from 127.0.0.<source> that never blocks the attacker.
int ConnectFrom(unsigned short port, unsigned source)
{
    const int fd = ConnectTcp(port, source);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

// Sends `request` and reads until `reply` is in what came back (or 2 s pass).
bool Ask(int fd, const std::string& request, const std::string& reply)
{
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return false;
    std::string got;
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (got.find(reply) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd entry { fd, POLLIN, 0 };
        char buffer[4096];
        if (::poll(&entry, 1, 100) > 0) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return got.find(reply) != std::string::npos;
}

TEST(NutFlood, HostileClientsLeaveThePollingSnmpMemoryAndGoodClientsAlone)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    const unsigned short port = FreeTcpPort();
    SRunResult stored = RunProgram(std::string(PVX_BINARY_DIR) + "/pvx-passwd", "pvx-passwd", { "-n", "monpw" }, 10s);
    SDaemonOptions options;
    options.snmp = true;
    options.extraIni = "[Network]\nResponsiveLoop=1\n[NUT]\nEnabled=1\nPort=" + std::to_string(port) + "\nUser1=mon,"
        + stored.out.substr(0, stored.out.find('\n')) + ",monitor\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(ups.IsReady() && pvx.WaitForStdout("UPS found is", 60s)) << pvx.Stderr();

    const std::string status = "GET VAR ups ups.status\n";
    const std::string statusReply = "VAR ups ups.status \"OL\"\n";
    int monitor = -1;
    ASSERT_TRUE(WaitFor([&] {
        ::close(monitor);
        monitor = ConnectFrom(port, 1);
        return monitor >= 0 && Ask(monitor, status, statusReply);
    }, 20s));
    ASSERT_TRUE(Ask(monitor, "USERNAME mon\nPASSWORD monpw\nLOGIN ups\n", "OK\nOK\nOK\n"));
    for (int i = 0; i < 5; ++i) { // the first replies' allocations are made
        int fd = ConnectFrom(port, 1);
        Ask(fd, "LIST VAR ups\n", "END LIST VAR ups\n");
        ::close(fd);
    }
    const long rssBefore = ProcField(pvx.Pid(), "status", "VmRSS:");
    const auto quiet = LongestPollGap(ups, 6s);

    std::atomic<bool> stop { false };
    std::atomic<int> snmpAsked { 0 }, snmpAnswered { 0 }, goodAsked { 0 }, goodAnswered { 0 };
    std::thread manager([&] {
        while (!stop) {
            ++snmpAsked;
            snmpAnswered += snmp::Get(pvx.AgentPort(), { 2, 1, 33, 1, 1, 1, 0 }) ? 1 : 0;
            std::this_thread::sleep_for(300ms);
        }
    });
    std::thread good([&] {
        while (!stop) {
            // upsmon's poll on its session, and a short session as upsc opens it.
            goodAsked += 2;
            goodAnswered += Ask(monitor, status, statusReply) ? 1 : 0;
            int fd = ConnectFrom(port, 2);
            goodAnswered += fd >= 0 && Ask(fd, "LIST VAR ups\n", "END LIST VAR ups\n") ? 1 : 0;
            ::close(fd);
            std::this_thread::sleep_for(500ms);
        }
    });
    std::atomic<int> opened { 0 };
    std::thread attacker([&] {
        std::vector<int> idle, slow;
        for (unsigned i = 0; i < 200; ++i)
            if (int fd = ConnectFrom(port, 10 + i % 50); fd >= 0)
                idle.push_back(fd);
        for (unsigned i = 0; i < 100; ++i)
            if (int fd = ConnectFrom(port, 100 + i % 50); fd >= 0)
                slow.push_back(fd);
        opened = static_cast<int>(idle.size() + slow.size());
        std::mt19937 random(29);
        const std::string huge(1 << 20, 'L');
        while (!stop) {
            for (int fd : slow)
                ::send(fd, "G", 1, MSG_NOSIGNAL);
            for (unsigned i = 0; i < 4; ++i) {
                // A line of 1 MiB, and garbage with line ends in it.
                int fd = ConnectFrom(port, 200 + i);
                ::send(fd, huge.data(), huge.size(), MSG_NOSIGNAL);
                std::string garbage(4096, '\0');
                for (char& c : garbage)
                    c = static_cast<char>(random() % 7 == 0 ? '\n' : random());
                int other = ConnectFrom(port, 210 + i);
                ::send(other, garbage.data(), garbage.size(), MSG_NOSIGNAL);
                ::close(fd);
                ::close(other);
            }
            std::this_thread::sleep_for(1s);
        }
        for (int fd : idle)
            ::close(fd);
        for (int fd : slow)
            ::close(fd);
    });
    const auto attacked = LongestPollGap(ups, 12s);
    stop = true;
    attacker.join();
    manager.join();
    good.join();
    std::printf("longest gap between polls: %lld ms quiet, %lld ms attacked by %d connections; SNMP %d of %d, "
                "good clients %d of %d answered\n",
        static_cast<long long>(quiet.count()), static_cast<long long>(attacked.count()), opened.load(),
        snmpAnswered.load(), snmpAsked.load(), goodAnswered.load(), goodAsked.load());
    EXPECT_EQ(opened, 300);
    EXPECT_LE(attacked, std::max(quiet + 700ms, 2800ms)) << "quiet: " << quiet.count() << " ms";
    EXPECT_GE(snmpAnswered * 10, snmpAsked * 9);
    EXPECT_GE(goodAnswered * 10, goodAsked * 9);
    EXPECT_TRUE(Ask(monitor, "GET NUMLOGINS ups\n", "NUMLOGINS ups 1\n")) << "the logged-in session was kept";

    EXPECT_TRUE(ResidentMemoryBack(pvx.Pid(), rssBefore));
    ::close(monitor);
    EXPECT_TRUE(pvx.IsRunning());
}

} // namespace
