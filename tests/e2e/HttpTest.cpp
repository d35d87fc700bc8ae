// The HTTP server of the running daemon against the simulated UPS, in both
// loops: /metrics passes promtool and carries the simulator's values, the
// switch to battery shows within two polls in /metrics and in the page as a
// real browser renders it, and hostile clients (slow, huge, malformed) leave
// the polling, SNMP and the daemon's memory alone.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kBinaryDir = PVX_BINARY_DIR;

// Sends `request` (as far as the server takes it) and reads the answer until
// the server closes; "" when nothing came back within `timeout`.
std::string Exchange(unsigned short port, const std::string& request, std::chrono::milliseconds timeout = 10s)
{
    int fd = ConnectTcp(port);
    if (fd < 0)
        return "";
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    std::size_t sent = 0;
    std::string answer;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        pollfd entry { fd, static_cast<short>(POLLIN | (sent < request.size() ? POLLOUT : 0)), 0 };
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        if ((entry.revents & POLLOUT) != 0) {
            ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
        if ((entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char buffer[65536];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

int StatusOf(const std::string& answer)
{
    if (!answer.starts_with("HTTP/1.1 ") || answer.size() < 12)
        return 0;
    return std::stoi(answer.substr(9, 3));
}

std::string Body(const std::string& answer)
{
    auto at = answer.find("\r\n\r\n");
    return at == std::string::npos ? "" : answer.substr(at + 4);
}

// The value of the first sample line that starts with `series` and a blank.
std::string Sample(const std::string& metrics, const std::string& series)
{
    std::istringstream lines(metrics);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(series + " "))
            return line.substr(series.size() + 1);
    return "";
}

std::uint64_t CpuNanoseconds(pid_t pid)
{
    std::istringstream text(ReadFile("/proc/" + std::to_string(pid) + "/schedstat"));
    std::uint64_t ns = 0;
    text >> ns;
    return ns;
}

struct SHttpRig {
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    unsigned short port = FreeTcpPort();
    std::unique_ptr<CPvxDaemon> pvx;

    explicit SHttpRig(bool responsive, const std::string& httpExtra = "")
    {
        SDaemonOptions options;
        options.snmp = true;
        // The relay's keys first: a key missing from its section is read
        // from a later one, and NetXCP/Clients would otherwise be HTTP's.
        options.extraIni = "[NetXCP]\nEnabled=1\nClients=\n[Network]\nSourceAddress=127.0.0.1\nResponsiveLoop=" + std::string(responsive ? "1" : "0")
            + "\n[HTTP]\nEnabled=1\nPort=" + std::to_string(port) + "\n" + httpExtra + "[UPSIdent]\nName=Rack <4> & \"B\"\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
    }
    std::string Get(const std::string& path) { return Exchange(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"); }
    std::string Metrics() { return Body(Get("/metrics")); }
    // Identified and polled at least once.
    bool Ready()
    {
        return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 30s)
            && WaitFor([this] { return Sample(Metrics(), "pvx_ups_connected") == "1"; }, 30s);
    }
};

class Http : public ::testing::TestWithParam<bool> { };

INSTANTIATE_TEST_SUITE_P(Loops, Http, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "ResponsiveLoop" : "DefaultLoop"; });

TEST_P(Http, MetricsPassPromtoolCarryTheSimulatorsValuesAndFollowTheSwitchToBattery)
{
    SHttpRig rig(GetParam());
    ASSERT_EQ(rig.ups.Control("set drift off"), "ok\n");
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    ASSERT_EQ(rig.ups.Control("set input.voltage 207"), "ok\n");
    ASSERT_EQ(rig.ups.Control("set battery.charge 40"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Sample(rig.Metrics(), "pvx_ups_input_volts{line=\"1\"}") == "207"; }, 30s));
    std::string metrics;
    ASSERT_TRUE(WaitFor([&] { return Sample(metrics = rig.Metrics(), "pvx_ups_battery_charge_ratio") == "0.4"; }, 30s));
    EXPECT_EQ(Sample(metrics, "pvx_ups_output_source{source=\"normal\"}"), "1");
    EXPECT_EQ(Sample(metrics, "pvx_ups_alarms_present"), "0");
    EXPECT_NE(metrics.find("name=\"Rack <4> & \\\"B\\\"\""), std::string::npos) << metrics;
    // The same value over SNMP (upsEstimatedChargeRemaining).
    EXPECT_EQ(snmp::GetNumber(rig.pvx->AgentPort(), { 2, 1, 33, 1, 2, 4, 0 }), 40);

    // promtool reads the exposition as curl fetched it.
    const std::string file = rig.folder.File("metrics.txt");
    SRunResult curl = RunProgram("/usr/bin/curl", "curl",
        { "-sS", "--max-time", "20", "-o", file, "http://127.0.0.1:" + std::to_string(rig.port) + "/metrics" }, 30s);
    ASSERT_EQ(curl.status, 0) << curl.err;
    SRunResult check = RunProgram("/bin/sh", "sh", { "-c", "promtool check metrics < " + file }, 60s);
    EXPECT_EQ(check.status, 0) << check.out << check.err;

    const long before = std::stol(Sample(rig.Metrics(), "pvx_ups_polls_total"));
    ASSERT_EQ(rig.ups.Control("set onbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Sample(metrics = rig.Metrics(), "pvx_ups_output_source{source=\"battery\"}") == "1"; }, 30s));
    // Within two polls after the switch (one more may have been under way).
    EXPECT_LE(std::stol(Sample(metrics, "pvx_ups_polls_total")) - before, 3) << metrics;
    EXPECT_EQ(Sample(metrics, "pvx_ups_alarm{alarm=\"onBattery\"}"), "1");
    EXPECT_NE(Body(rig.Get("/")).find("On battery"), std::string::npos);
    EXPECT_NE(Body(rig.Get("/status.json")).find("\"output_source\":\"battery\""), std::string::npos);
    EXPECT_TRUE(rig.pvx->IsRunning());
}

TEST_P(Http, RequestsOtherThanGetOrHeadOfThePagesGetTheirErrorAndChangeNothing)
{
    SHttpRig rig(GetParam());
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    const std::string kEnd = " HTTP/1.1\r\nHost: x\r\n\r\n";
    struct SCase {
        std::string request;
        int status; // 0: closed without an answer
    };
    const SCase cases[] = {
        { "GET /" + kEnd, 200 },
        { "HEAD /metrics" + kEnd, 200 },
        { "GET /status.json?x=1" + kEnd, 200 },
        { "GET /nothing" + kEnd, 404 },
        { "POST /" + kEnd, 405 },
        { "PUT /metrics" + kEnd, 405 },
        { "DELETE /status.json" + kEnd, 405 },
        { "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n" + std::string(1 << 20, 'a'), 405 },
        { "GET /" + std::string(1 << 20, 'a') + kEnd, 414 },
        { "GET / HTTP/1.1\r\nHost: x\r\nX: " + std::string(1 << 20, 'a') + "\r\n\r\n", 431 },
        { "GET http://127.0.0.1/metrics" + kEnd, 400 },
        { "GET / FOO\r\n\r\n", 400 },
        { "GET /metrics HTTP/9.9\r\n\r\n", 505 },
        { "GARBAGE\r\n\r\n", 0 },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.request.substr(0, 40));
        const std::string answer = Exchange(rig.port, c.request);
        EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 200);
        if (c.status == 405) {
            EXPECT_NE(answer.find("Allow: GET, HEAD\r\n"), std::string::npos);
        }
    }
    EXPECT_TRUE(rig.pvx->IsRunning());
    EXPECT_EQ(Sample(rig.Metrics(), "pvx_ups_connected"), "1");
}

// HTTP/Clients: a source outside the list is closed unanswered; a list that
// does not parse stops pvx before any socket opens.
TEST(HttpClients, OnlyListedSourcesAreAnsweredAndABadListStopsPvx)
{
    struct SCase {
        const char* clients;
        bool answered;
    };
    for (const SCase& c : { SCase { "127.0.0.0/8", true }, SCase { "192.0.2.1, 127.0.0.2", false } }) {
        SCOPED_TRACE(c.clients);
        SHttpRig rig(false, "Clients=" + std::string(c.clients) + "\n");
        ASSERT_TRUE(rig.ups.IsReady() && rig.pvx->WaitForStdout("UPS found is [", 30s)) << rig.pvx->Stderr();
        EXPECT_EQ(StatusOf(rig.Get("/")), c.answered ? 200 : 0);
        EXPECT_TRUE(rig.pvx->IsRunning());
    }
    SHttpRig bad(false, "Clients=127.0.0.1, 10.0.0.0/33\n");
    EXPECT_EQ(bad.pvx->Wait(30s), 255);
    EXPECT_NE(bad.pvx->Stderr().find("HTTP/Clients"), std::string::npos) << bad.pvx->Stderr();
}

TEST_P(Http, SlowHugeAndMalformedClientsLeaveThePollingSnmpAndMemoryAlone)
{
    SHttpRig rig(GetParam());
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    for (int i = 0; i < 5; ++i)
        rig.Get("/"); // the first responses' allocations are made
    const long rssBefore = ProcField(rig.pvx->Pid(), "status", "VmRSS:");
    const auto quiet = LongestPollGap(rig.ups, 6s);

    std::atomic<bool> stop { false };
    std::atomic<int> snmpAsked { 0 }, snmpAnswered { 0 };
    std::thread manager([&] {
        while (!stop) {
            ++snmpAsked;
            if (snmp::Get(rig.pvx->AgentPort(), { 2, 1, 33, 1, 1, 1, 0 }))
                ++snmpAnswered;
            std::this_thread::sleep_for(300ms);
        }
    });
    std::atomic<int> opened { 0 };
    std::thread attacker([&] {
        // 500 clients that send one byte a second and never finish.
        std::vector<int> slow;
        for (int i = 0; i < 500 && !stop; ++i) {
            int fd = ConnectTcp(rig.port);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, O_NONBLOCK);
                slow.push_back(fd);
            }
        }
        opened = static_cast<int>(slow.size());
        while (!stop) {
            for (int fd : slow)
                ::send(fd, "G", 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(1s);
        }
        // Reset, not closed: the library ends a half-sent request that the
        // client closed only at its idle time-out, which would hold the
        // queue of 500 for minutes after the test.
        for (int fd : slow) {
            const linger reset { 1, 0 };
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::close(fd);
        }
    });
    // Huge and malformed requests beside them, each until the server ends it.
    std::thread huge([&] {
        Exchange(rig.port, "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\n\r\n", 5s);
        Exchange(rig.port, "\x01\x02\x03 / HTTP/1.1\r\n\r\n", 5s);
        Exchange(rig.port, "GET\r\n\r\n", 5s);
    });
    const auto attacked = LongestPollGap(rig.ups, 12s);
    stop = true;
    attacker.join();
    manager.join();
    huge.join();

    std::printf("longest gap between polls: %lld ms quiet, %lld ms under %d slow clients; SNMP %d of %d answered\n",
        static_cast<long long>(quiet.count()), static_cast<long long>(attacked.count()), opened.load(),
        snmpAnswered.load(), snmpAsked.load());
    EXPECT_EQ(opened, 500);
    EXPECT_LE(attacked, std::max(quiet + 700ms, 2800ms)) << "quiet: " << quiet.count() << " ms";
    EXPECT_GE(snmpAnswered, 3);
    EXPECT_GE(snmpAnswered * 10, snmpAsked * 8);

    // Once the clients are gone the server answers again, and the memory it
    // took for them is back.
    EXPECT_TRUE(WaitFor([&] { return Sample(rig.Metrics(), "pvx_ups_connected") == "1"; }, 30s));
    EXPECT_TRUE(ResidentMemoryBack(rig.pvx->Pid(), rssBefore));
    EXPECT_TRUE(rig.pvx->IsRunning());
}

// The figures of the README: CPU time per scrape (schedstat of the daemon,
// less what it spends idle over the same time) and the size of the page.
TEST(HttpFigures, CpuPerScrapeAndPageSize)
{
    SHttpRig rig(true);
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    const pid_t pid = rig.pvx->Pid();
    constexpr int kScrapes = 200;
    auto start = std::chrono::steady_clock::now();
    std::uint64_t cpu0 = CpuNanoseconds(pid);
    int answered = 0;
    for (int i = 0; i < kScrapes; ++i)
        answered += StatusOf(rig.Get("/metrics")) == 200 ? 1 : 0;
    const std::uint64_t busy = CpuNanoseconds(pid) - cpu0;
    const auto span = std::chrono::steady_clock::now() - start;
    cpu0 = CpuNanoseconds(pid);
    std::this_thread::sleep_for(span);
    const std::uint64_t idle = CpuNanoseconds(pid) - cpu0;
    const double perScrape = (static_cast<double>(busy) - static_cast<double>(idle)) / kScrapes / 1000.0;
    const std::string page = Body(rig.Get("/"));
    const std::string metrics = rig.Metrics();
    std::printf("CPU per /metrics scrape: %.0f us (%d scrapes); page %zu bytes, metrics %zu bytes, json %zu bytes\n",
        perScrape, answered, page.size(), metrics.size(), Body(rig.Get("/status.json")).size());
    RecordProperty("cpu_us_per_scrape", static_cast<int>(perScrape));
    RecordProperty("page_bytes", static_cast<int>(page.size()));
    EXPECT_EQ(answered, kScrapes);
}

// The page as a browser renders it: the UPS's name, then "On battery" after
// the switch; the screenshot is kept in the build folder.
TEST(HttpBrowser, ChromiumRendersTheNameAndTheSwitchToBattery)
{
    SHttpRig rig(false);
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    const std::string url = "http://127.0.0.1:" + std::to_string(rig.port) + "/";
    auto chromium = [&](const std::vector<std::string>& extra) {
        CTempDir profile;
        std::vector<std::string> args = { "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + profile.Path(), "--window-size=412,900" };
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(url);
        return RunProgram("/usr/bin/chromium", "chromium", args, 120s, profile.Path());
    };
    SRunResult dom = chromium({ "--dump-dom" });
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_NE(dom.out.find("<h1>Rack &lt;4&gt; &amp; \"B\"</h1>"), std::string::npos) << dom.out;
    EXPECT_NE(dom.out.find("On line"), std::string::npos);

    ASSERT_EQ(rig.ups.Control("set onbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Body(rig.Get("/")).find(">On battery<") != std::string::npos; }, 30s));
    dom = chromium({ "--dump-dom" });
    EXPECT_NE(dom.out.find("<p class=\"state alarm\">On battery</p>"), std::string::npos) << dom.out;
    const std::string artefacts = kBinaryDir + "/artefacts";
    std::filesystem::create_directories(artefacts);
    const std::string png = artefacts + "/http-status-page.png";
    std::filesystem::remove(png);
    SRunResult shot = chromium({ "--screenshot=" + png, "--hide-scrollbars" });
    EXPECT_TRUE(std::filesystem::exists(png)) << shot.err;
}

} // namespace
