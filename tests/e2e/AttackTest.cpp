// Attacks and hardening against the running daemon: a relay password
// guesser is slowed to a handful of tries a second while another source's
// right password still works; slow HTTP clients leave a polite one served;
// a pvx.ini made immutable or mounted read-only is still read, and one that
// cannot be read at all stops pvx naming the file. Rows run side by side.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// GET `path` from 127.0.0.<source>; the whole answer, or "" when it did not
// come within `timeout`.
std::string HttpGet(unsigned source, unsigned short port, const std::string& path,
                    std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    int fd = ConnectTcp(port, source);
    if (fd < 0)
        return "";
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string answer;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        for (auto now = Clock::now(); now < end; now = Clock::now()) {
            pollfd entry { fd, POLLIN, 0 };
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            if (::poll(&entry, 1, static_cast<int>(left)) <= 0)
                break;
            char buffer[65536];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer.starts_with("HTTP/1.1 200") ? answer : "";
}

// The value of the sample line `series` in the metrics, -1 when absent.
long Sample(const std::string& metrics, const std::string& series)
{
    std::istringstream lines(metrics);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(series + " "))
            return std::stol(line.substr(series.size() + 1));
    return -1;
}

struct SRig {
    explicit SRig(const std::string& extraIni, const SDaemonOptions& base = {})
    {
        SDaemonOptions options = base;
        options.snmp = true;
        options.extraIni = "[NetXCP]\nEnabled=1\n[Network]\nResponsiveLoop=1\n[HTTP]\nEnabled=1\nPort="
            + std::to_string(httpPort) + "\n" + extraIni;
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
    }
    bool Identified() { return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 30s); }
    std::string Metrics() { return HttpGet(1, httpPort, "/metrics", 5s); }

    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    unsigned short httpPort = FreeTcpPort();
    std::unique_ptr<CPvxDaemon> pvx;
};

void GuesserIsSlowedWhileTheOperatorsPasswordWorks()
{
    SRig rig("");
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    // Each datagram holds 117 wrong passwords, as many as fit.
    Bytes guesses;
    for (int i = 0; guesses.size() + 10 <= 1172; ++i)
        for (std::uint8_t byte : PasswordFrame("g" + std::to_string(100000 + i)))
            guesses.push_back(byte);
    const int perDatagram = static_cast<int>(guesses.size() / 10);
    std::atomic<bool> stop { false };
    std::atomic<long> sent { 0 };
    std::thread guesser([&] {
        int fd = UdpSocketFrom("127.0.0.2");
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(rig.pvx->RelayPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        while (!stop) {
            if (::sendto(fd, guesses.data(), guesses.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0)
                sent += perDatagram;
            std::this_thread::sleep_for(1ms);
        }
        ::close(fd);
    });
    // The operator's right password unlocks the start-up command (0x89).
    const Bytes unlock = [] {
        Bytes bytes = PasswordFrame("Kq4Tz9");
        for (std::uint8_t byte : XcpFrame({ 0x89 }))
            bytes.push_back(byte);
        return bytes;
    }();
    int unlocked = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(500ms);
        Bytes reply;
        unlocked += UdpExchange(rig.pvx->RelayPort(), unlock, reply, 3s, "127.0.0.3") && !reply.empty() ? 1 : 0;
    }
    stop = true;
    guesser.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string metrics = rig.Metrics();
    const long wrong = Sample(metrics, "pvx_relay_password_frames_total{result=\"wrong\"}");
    const long ignored = Sample(metrics, "pvx_relay_password_frames_total{result=\"ignored\"}");
    std::printf("guesser: %ld password frames sent in %.1f s, %ld checked (%.1f a second), %ld ignored; "
                "operator unlocked %d of 6\n",
        sent.load(), seconds, wrong, wrong / seconds, ignored, unlocked);
    EXPECT_EQ(unlocked, 6);
    ASSERT_GE(wrong, 0) << "no count of wrong passwords:\n" << metrics;
    EXPECT_LE(wrong, 5 + 2 * seconds) << "wrong passwords checked";
    EXPECT_GT(ignored, 1000) << "the guesses are counted";
    EXPECT_TRUE(rig.pvx->IsRunning());
}

// `slow` clients from `sources` send one byte a second and never finish;
// a polite client from 127.0.0.3 asks every 300 ms and must be answered
// within a second, and again right after the slow clients close.
void SlowClientsLeaveAPoliteOneServed(int slow, int sources)
{
    SRig rig("");
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    std::atomic<bool> stop { false };
    std::atomic<int> opened { 0 };
    std::thread attacker([&] {
        std::vector<int> fds;
        for (int i = 0; i < slow && !stop; ++i) {
            // 127.0.0.2, or one of `sources` addresses from 127.0.1.1 on.
            const unsigned source = sources == 1 ? 2 : 0x100 + 1 + static_cast<unsigned>(i % sources);
            int fd = ConnectTcp(rig.httpPort, source);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, O_NONBLOCK);
                fds.push_back(fd);
            }
        }
        opened = static_cast<int>(fds.size());
        while (!stop) {
            for (int fd : fds)
                ::send(fd, "G", 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(1s);
        }
        for (int fd : fds)
            ::close(fd);
    });
    std::this_thread::sleep_for(1s);
    int asked = 0, answered = 0;
    for (const auto end = Clock::now() + 8s; Clock::now() < end; std::this_thread::sleep_for(300ms)) {
        ++asked;
        answered += HttpGet(3, rig.httpPort, "/status.json", 1s).empty() ? 0 : 1;
    }
    stop = true;
    attacker.join();
    const auto closed = Clock::now();
    const bool after = !HttpGet(3, rig.httpPort, "/", 1s).empty();
    const auto afterMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed).count();
    std::printf("%d slow clients from %d sources (%d connected): polite client answered %d of %d within 1 s, "
                "after the attack in %lld ms\n",
        slow, sources, opened.load(), answered, asked, static_cast<long long>(afterMs));
    EXPECT_GE(answered * 10, asked * 9);
    EXPECT_TRUE(after);
    EXPECT_TRUE(rig.pvx->IsRunning());
}

// pvx.ini hardened: the configured SNMP port answers, and the write-back of
// a manager's SET fails with genErr.
void HardenedIniIsRead(bool immutable)
{
    CTempDir folder;
    // The immutable flag goes before the folder does, whatever the test found.
    struct SMutable {
        std::string path;
        ~SMutable() { RunProgram("/usr/bin/chattr", "chattr", { "-i", path }, 10s); }
    } mutableAgain { folder.File("pvx.ini") };
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    SDaemonOptions options;
    options.snmp = true;
    options.readOnlyIni = !immutable;
    options.prepareIni = [immutable](const std::string& path) {
        return !immutable || RunProgram("/usr/bin/chattr", "chattr", { "+i", path }, 10s).status == 0;
    };
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();
    auto name = snmp::Ask(pvx.AgentPort(), { 2, 1, 33, 1, 1, 1, 0 }, 5s);
    EXPECT_TRUE(name && name->errorStatus == 0) << "SNMP/Enabled and SNMP/AgentPort were not read";
    const std::string setName = "upsIdentName set by a manager";
    SRunResult set = RunProgram("/usr/bin/snmpset", "snmpset",
        { "-v1", "-c", "sotwick", "-t", "3", "-r", "0", "127.0.0.1:" + std::to_string(pvx.AgentPort()),
            "1.3.6.1.2.1.33.1.1.5.0", "s", setName },
        20s);
    EXPECT_NE(set.status, 0);
    EXPECT_NE(set.err.find("genErr"), std::string::npos) << set.out << set.err;
    EXPECT_TRUE(pvx.IsRunning());
}

void UnreadableIniStopsPvx()
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    SDaemonOptions options;
    options.prepareIni = [](const std::string& path) {
        // A folder where the file belongs: it exists and cannot be read as one.
        return ::unlink(path.c_str()) == 0 && ::mkdir(path.c_str(), 0755) == 0;
    };
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    EXPECT_EQ(pvx.Wait(20s), 255);
    EXPECT_NE(pvx.Stderr().find(pvx.IniPath()), std::string::npos) << pvx.Stderr();
}

TEST(Attack, GuessersSlowClientsAndHardenedFilesSideBySide)
{
    const std::pair<const char*, std::function<void()>> rows[] = {
        { "relay password guesser", GuesserIsSlowedWhileTheOperatorsPasswordWorks },
        { "20 slow HTTP clients", [] { SlowClientsLeaveAPoliteOneServed(20, 1); } },
        { "500 slow HTTP clients from 250 sources", [] { SlowClientsLeaveAPoliteOneServed(500, 250); } },
        { "read-only mounted pvx.ini", [] { HardenedIniIsRead(false); } },
        { "immutable pvx.ini", [] { HardenedIniIsRead(true); } },
        { "unreadable pvx.ini", UnreadableIniStopsPvx },
    };
    std::vector<std::thread> threads;
    for (const auto& row : rows)
        threads.emplace_back([&row] {
            SCOPED_TRACE(row.first);
            row.second();
        });
    for (auto& thread : threads)
        thread.join();
}

} // namespace
