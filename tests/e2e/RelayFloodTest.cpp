// Relay clients cannot hold up the UPS: under a flood of relay datagrams, each
// full of frames that need no password, the simulated UPS is still polled
// within an idle pass plus one second and its on-battery trap still leaves
// within two passes, with the one-client-per-pass loop and the responsive one.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

std::chrono::milliseconds Since(Clock::time_point from)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from);
}

// upsTrapOnBattery is the one trap that binds upsSecondsOnBattery.0.
bool IsOnBatteryTrap(const Bytes& datagram)
{
    const Bytes name
        = { 0x2B, 0x06, 0x01, 0x02, 0x01, 0x21, 0x01, 0x02, 0x02, 0x00 }; // its arcs, however long the length
    return std::search(datagram.begin(), datagram.end(), name.begin(), name.end()) != datagram.end();
}

// One daemon with a simulated UPS of its own and a manager for its traps,
// and what the test saw of it.
struct SRig {
    SRig(const char* loop, const std::string& extraIni)
        : name(loop)
    {
        SDaemonOptions options;
        options.snmp = true;
        options.managerPort = manager.Port();
        options.extraIni = extraIni;
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
    }
    bool Identified()
    {
        return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 30s)
            && WaitFor([this] { return std::ranges::count(ups.ReceivedFrames(), std::string("rx 32")) > 0; }, 30s);
    }
    // Notes the polls that arrived since the last look; true when one of them
    // was the statistics read, after which come the alarm and status reads.
    bool Look()
    {
        const auto frames = ups.ReceivedFrames();
        const auto polls = static_cast<std::size_t>(std::ranges::count_if(frames, IsPoll));
        const auto statistics = static_cast<std::size_t>(std::ranges::count(frames, std::string("rx 38")));
        relayed = static_cast<std::size_t>(std::ranges::count(frames, std::string("rx 42")));
        if (polls != seenPolls) {
            longestGap = std::max(longestGap, Since(lastPoll));
            lastPoll = Clock::now();
            seenPolls = polls;
        }
        const bool statisticsRead = statistics != seenStatistics;
        seenStatistics = statistics;
        return statisticsRead;
    }
    void StartSpan()
    {
        Look();
        longestGap = 0ms;
        lastPoll = Clock::now();
    }
    std::chrono::milliseconds EndSpan()
    {
        Look();
        return std::max(longestGap, Since(lastPoll));
    }

    const char* name;
    CUdpListener manager;
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    std::unique_ptr<CPvxDaemon> pvx;
    std::size_t seenPolls = 0, seenStatistics = 0, relayed = 0;
    Clock::time_point lastPoll = Clock::now();
    std::chrono::milliseconds longestGap { 0 };
    std::optional<Clock::time_point> onBatterySince;
    std::optional<std::chrono::milliseconds> trapAfter;
};

// Every 2 s, one datagram of 290 frames `AB 01 42 12` (1,160 bytes) to each
// relay port, until destroyed. The replies are not read.
class CRelayFlood {
public:
    explicit CRelayFlood(std::vector<unsigned short> ports)
        : m_thread([this, ports] { Run(ports); })
    {
    }
    ~CRelayFlood()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void Run(const std::vector<unsigned short>& ports)
    {
        Bytes datagram;
        for (int i = 0; i < 290; ++i)
            datagram.insert(datagram.end(), { 0xAB, 0x01, 0x42, 0x12 });
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        for (auto next = Clock::now(); !m_stop; next += 2s) {
            for (unsigned short port : ports) {
                sockaddr_in to {};
                to.sin_family = AF_INET;
                to.sin_port = htons(port);
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            while (!m_stop && Clock::now() < next + 2s)
                std::this_thread::sleep_for(20ms);
        }
        ::close(fd);
    }
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

TEST(RelayFlood, PollingAndTrapsKeepTheirPaceWithBothLoops)
{
    SRig designed("one client per pass", "");
    SRig responsive("responsive", "[Network]\nResponsiveLoop=1\n");
    std::vector<SRig*> rigs = { &designed, &responsive };
    for (SRig* rig : rigs)
        ASSERT_TRUE(rig->Identified()) << rig->name << ": " << rig->pvx->Stderr();

    // Quiet: the idle pass, as the UPS sees it.
    for (SRig* rig : rigs)
        rig->StartSpan();
    for (auto start = Clock::now(); Since(start) < 7s;) {
        std::this_thread::sleep_for(20ms);
        for (SRig* rig : rigs)
            rig->Look();
    }
    std::vector<std::chrono::milliseconds> idle;
    for (SRig* rig : rigs)
        idle.push_back(rig->EndSpan());

    // Flooded: after 2 s of flood each UPS goes on battery right after a
    // statistics read, so that the alarm and the status reads come in the
    // next two passes.
    const std::size_t relayedBefore = designed.relayed + responsive.relayed;
    {
        CRelayFlood flood({ designed.pvx->RelayPort(), responsive.pvx->RelayPort() });
        for (SRig* rig : rigs)
            rig->StartSpan();
        const auto start = Clock::now();
        auto pending = [&] { return std::ranges::any_of(rigs, [](SRig* rig) { return !rig->trapAfter; }); };
        while (Since(start) < 12s || (pending() && Since(start) < 60s)) {
            for (SRig* rig : rigs) {
                Bytes datagram;
                if (rig->manager.Receive(datagram, 10ms) && rig->onBatterySince && !rig->trapAfter
                    && IsOnBatteryTrap(datagram))
                    rig->trapAfter = Since(*rig->onBatterySince);
                if (rig->Look() && !rig->onBatterySince && Since(start) > 2s) {
                    ASSERT_EQ(rig->ups.Control("set onbattery 1"), "ok\n");
                    rig->onBatterySince = Clock::now();
                }
            }
        }
    }
    for (std::size_t i = 0; i < rigs.size(); ++i) {
        SRig& rig = *rigs[i];
        const auto flooded = rig.EndSpan();
        std::printf("%s loop: longest gap between polls %lld ms idle, %lld ms flooded; on-battery trap after %lld ms\n",
            rig.name, static_cast<long long>(idle[i].count()), static_cast<long long>(flooded.count()),
            rig.trapAfter ? static_cast<long long>(rig.trapAfter->count()) : -1LL);
        // A bound of one second, and half a second for a loaded machine.
        EXPECT_LE(flooded, idle[i] + 1500ms) << rig.name;
        EXPECT_TRUE(rig.trapAfter.has_value()) << rig.name;
        if (rig.trapAfter) {
            EXPECT_LE(*rig.trapAfter, 2 * (idle[i] + 1000ms) + 500ms) << rig.name;
        }
        EXPECT_TRUE(rig.pvx->IsRunning()) << rig.name;
    }
    const std::size_t relayed = designed.relayed + responsive.relayed - relayedBefore;
    std::printf("frames relayed to the two UPSes during the flood: %zu\n", relayed);
    EXPECT_GE(relayed, 8u) << "the relay was not served";
}

} // namespace
