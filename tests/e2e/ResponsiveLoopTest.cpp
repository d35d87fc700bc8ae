// The responsive loop (Network/ResponsiveLoop=1) against the simulated UPS:
// net-snmp's tools with their default time-out of 1 s walk both subtrees
// without a retry, and a flood of requests does not slow the UPS's polling.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

SDaemonOptions Responsive()
{
    SDaemonOptions options;
    options.snmp = true;
    options.extraIni = "[Network]\nResponsiveLoop=1\n";
    return options;
}

int CountLines(const std::string& text, const std::string& prefix)
{
    int n = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        n += line.starts_with(prefix) ? 1 : 0;
    return n;
}

struct SRig {
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    std::unique_ptr<CPvxDaemon> pvx;

    explicit SRig(SDaemonOptions options) { pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options); }
    // Identification is over and polling has begun: until then the loop is
    // busy on the serial line for seconds at a time.
    bool Ready()
    {
        return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 30s)
            && WaitFor([this] { return std::ranges::count(ups.ReceivedFrames(), std::string("rx 32")) > 0; }, 30s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }
};

TEST(ResponsiveLoop, WalksBothSubtreesWithTheToolsDefaultsAndNoRetry)
{
    SRig rig(Responsive());
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    struct SWalk {
        const char* subtree;
        int atLeast; // objects the walk must return
    };
    for (const SWalk& walk : { SWalk { "1.3.6.1.2.1.33", 40 }, SWalk { "1.3.6.1.4.1.534.1", 30 } }) {
        SCOPED_TRACE(walk.subtree);
        // -d dumps every datagram sent, retries included.
        SRunResult result = RunProgram("/usr/bin/snmpwalk", "snmpwalk",
            { "-v1", "-c", "gavrel", "-m", "", "-On", "-d", rig.Target(), walk.subtree }, 60s);
        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.status, 0);
        const int objects = CountLines(result.out, ".1.3.6.1.");
        EXPECT_GE(objects, walk.atLeast) << result.out;
        // One request per object and one that leaves the subtree: no more.
        EXPECT_EQ(CountLines(result.err, "Sending "), objects + 1) << result.err;
        EXPECT_EQ(snmp::ExpectEveryDumpedDatagramIsOneMessage(result.err), objects + 1);
    }
}

// The times at which the simulator received frames, sampled from its log.
class CPollClock {
public:
    explicit CPollClock(const CSimulatedUps& ups) : m_ups(ups) {}
    // Samples for `span`; returns the longest gap between two received frames.
    std::chrono::milliseconds LongestGap(std::chrono::milliseconds span)
    {
        const auto start = std::chrono::steady_clock::now();
        auto last = start;
        std::size_t seen = Received();
        std::chrono::milliseconds longest { 0 };
        while (std::chrono::steady_clock::now() - start < span) {
            std::this_thread::sleep_for(20ms);
            std::size_t now = Received();
            auto at = std::chrono::steady_clock::now();
            if (now != seen) {
                seen = now;
                longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(at - last));
                last = at;
            }
        }
        return std::max(longest,
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - last));
    }

private:
    std::size_t Received() const
    {
        auto frames = m_ups.ReceivedFrames();
        return static_cast<std::size_t>(std::ranges::count_if(frames, [](const std::string& f) { return f.starts_with("rx "); }));
    }
    const CSimulatedUps& m_ups;
};

// A client that sends GetRequests as fast as the daemon answers them, with
// always a few in flight, until stopped; counts the answers.
class CFlood {
public:
    explicit CFlood(unsigned short port) : m_thread([this, port] { Run(port); }) {}
    ~CFlood()
    {
        m_stop = true;
        m_thread.join();
    }
    int Answers() const { return m_answers; }

private:
    void Run(unsigned short port)
    {
        // GetRequest for upsIdentManufacturer.0, community gavrel.
        const std::uint8_t request[] = { 0x30, 0x28, 0x02, 0x01, 0x00, 0x04, 0x06, 'g', 'a', 'v', 'r', 'e', 'l', 0xA0,
            0x1B, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x10, 0x30, 0x0E, 0x06, 0x0A, 0x2B, 0x06,
            0x01, 0x02, 0x01, 0x21, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00 };
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval wait { 0, 2000 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        std::uint8_t reply[1500];
        while (!m_stop) {
            for (int i = 0; i < 8; ++i)
                ::sendto(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            while (::recv(fd, reply, sizeof reply, 0) > 0)
                ++m_answers;
        }
        ::close(fd);
    }
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_answers { 0 };
    std::thread m_thread;
};

TEST(ResponsiveLoop, AFloodOfRequestsDoesNotSlowThePolling)
{
    SRig rig(Responsive());
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    CPollClock clock(rig.ups);
    // A pass with an XCP UPS lasts about 2 s (the relay's wait and the sleep).
    const auto quiet = clock.LongestGap(8s);
    std::chrono::milliseconds flooded;
    int answers;
    {
        CFlood flood(rig.pvx->AgentPort());
        flooded = clock.LongestGap(10s);
        answers = flood.Answers();
    }
    RecordProperty("quiet_gap_ms", static_cast<int>(quiet.count()));
    RecordProperty("flooded_gap_ms", static_cast<int>(flooded.count()));
    RecordProperty("answers", answers);
    std::printf("longest gap between polls: %lld ms quiet, %lld ms under a flood of %d answered requests\n",
        static_cast<long long>(quiet.count()), static_cast<long long>(flooded.count()), answers);
    EXPECT_GT(answers, 1000) << "the flood was not served";
    EXPECT_LE(flooded, std::max(quiet + 500ms, 2600ms)) << "quiet: " << quiet.count() << " ms";
    EXPECT_TRUE(rig.pvx->IsRunning());
}

} // namespace
