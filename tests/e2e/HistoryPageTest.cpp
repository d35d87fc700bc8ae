// The status page's records against the running daemon and the simulated
// UPS: an outage shows in the event log with its duration, a day of samples
// (filled through the daemon's test seam) draws every chart, Chromium renders
// it at desktop and phone sizes (screenshots kept as artefacts), Python's csv
// and json modules read the downloads with the simulator's values, and the
// log kept in the folder survives a restart while a torn one is only logged.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

const std::string kBinaryDir = PVX_BINARY_DIR;

// Checks the downloads as a user's script would read them: argv[1] the base
// URL, argv[2] the input voltage the simulator serves.
constexpr const char* kPythonCheck = R"(
import csv, io, json, sys, urllib.request
base, volts = sys.argv[1], int(sys.argv[2])
def get(path):
    with urllib.request.urlopen(base + path, timeout=10) as r:
        return r.headers.get('Content-Type'), r.read().decode('utf-8')
kind, text = get('/events.csv')
assert kind.startswith('text/csv'), kind
rows = list(csv.DictReader(io.StringIO(text, newline='')))
cleared = [r for r in rows if r['kind'] == 'alarmCleared' and r['text'] == 'On battery']
assert len(cleared) == 1 and int(cleared[0]['duration_seconds']) >= 2, rows
assert any(r['kind'] == 'upsFound' for r in rows), rows
events = json.loads(get('/events.json')[1])['events']
assert [(e['kind'], e['text'], e['durationSeconds']) for e in events if e['kind'] == 'alarmCleared'] == \
    [('alarmCleared', 'On battery', int(cleared[0]['duration_seconds']))], events
assert [e['unixTime'] for e in events] == [int(r['unix_time']) for r in rows]
history = json.loads(get('/history.json')[1])
samples = history['samples']
assert history['intervalSeconds'] == 60 and history['units']['batteryTemperature'] == '\u00b0C'
assert len(samples) >= 1440, len(samples)
assert all(b['time'] - a['time'] >= 60 for a, b in zip(samples, samples[1:]))
# The newest minutes are live; one of them may fall in the outage.
assert any(s['connected'] and s['inputVoltage'] == volts for s in samples[-3:]), samples[-3:]
assert any(s['onBattery'] for s in samples)
print('ok', len(rows), len(samples))
)";

std::string Curl(const std::vector<std::string>& args)
{
    return RunProgram("/usr/bin/curl", "curl", args, 20s).out;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string MetricValue(const std::string& metrics, const std::string& series)
{
    std::istringstream lines(metrics);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(series + " "))
            return line.substr(series.size() + 1);
    return "";
}

struct SRig {
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    unsigned short port = FreeTcpPort();
    std::string base = "http://127.0.0.1:" + std::to_string(port);
    std::unique_ptr<CPvxDaemon> pvx;

    void Start()
    {
        SDaemonOptions options;
        options.extraIni = "[Network]\nSourceAddress=127.0.0.1\n[HTTP]\nEnabled=1\nPort=" + std::to_string(port)
            + "\n[UPSIdent]\nName=Rack 7\n[Service]\nKeepEventLog=1\n";
        options.environment = { { "PVX_TEST_FILL_HISTORY", "1" } };
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
    }
    std::string Get(const std::string& path) { return Curl({ "-s", base + path }); }
    bool Connected()
    {
        return WaitFor([this] { return MetricValue(Get("/metrics"), "pvx_ups_connected") == "1"; }, 40s);
    }
};

std::string Chromium(const std::string& url, const std::string& size, const std::vector<std::string>& extra)
{
    CTempDir profile;
    std::vector<std::string> args = { "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + profile.Path(), "--window-size=" + size, "--hide-scrollbars" };
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    SRunResult run = RunProgram("/usr/bin/chromium", "chromium", args, 120s, profile.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

TEST(HistoryPage, AnOutageADayOfChartsAndTheDownloadsAsBrowsersAndScriptsReadThem)
{
    SRig rig;
    ASSERT_TRUE(rig.ups.IsReady());
    ASSERT_EQ(rig.ups.Control("set drift off"), "ok\n");
    // A torn log from an earlier run is reported and replaced, never a failed start.
    std::ofstream(rig.folder.Path() + "/events.log") << "1765170000,upsLo";
    rig.Start();
    ASSERT_TRUE(rig.Connected()) << rig.pvx->Stderr();
    EXPECT_NE(rig.pvx->Stderr().find(rig.folder.Path() + "/events.log\n"), std::string::npos) << rig.pvx->Stderr();

    ASSERT_EQ(rig.ups.Control("set onbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.Get("/").find(">On battery<") != std::string::npos; }, 30s));
    std::this_thread::sleep_for(3s);
    ASSERT_EQ(rig.ups.Control("set onbattery 0"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.Get("/events.json").find("\"alarmCleared\"") != std::string::npos; }, 30s));

    const std::string metrics = rig.Get("/metrics");
    EXPECT_NE(metrics.find("\npvx_build_info{version=\""), std::string::npos);
    const std::string volts = MetricValue(metrics, "pvx_ups_input_volts{line=\"1\"}");
    SRunResult python = RunProgram("/usr/bin/python3", "python3", { "-c", kPythonCheck, rig.base, volts }, 60s);
    EXPECT_EQ(python.status, 0) << python.out << python.err;

    // Read-only: HEAD has the headers of GET, anything else is refused.
    EXPECT_NE(Curl({ "-s", "-I", rig.base + "/events.csv" }).find("200 OK"), std::string::npos);
    EXPECT_EQ(Curl({ "-s", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST", rig.base + "/history.json" }), "405");

    const std::string page = rig.Get("/");
    EXPECT_LT(page.size(), 64u * 1024);
    const std::string dom = Chromium(rig.base + "/", "1280,900", { "--dump-dom" });
    EXPECT_NE(dom.find("<h1>Rack 7</h1>"), std::string::npos);
    EXPECT_NE(dom.find("On line"), std::string::npos);
    EXPECT_NE(dom.find("Alarm: On battery"), std::string::npos);
    const std::size_t cleared = dom.find("Alarm cleared: On battery</td><td>");
    ASSERT_NE(cleared, std::string::npos) << dom;
    EXPECT_NE(dom.find(" s</td>", cleared), std::string::npos) << "the outage's duration";
    const std::size_t charts = Count(dom, "<svg class=\"chart\"");
    EXPECT_EQ(charts, 5u);
    EXPECT_EQ(Count(dom, "<path class=\"line\" vector-effect=\"non-scaling-stroke\" d=\"M") + Count(dom, "Not reported"), charts);
    EXPECT_GE(Count(dom, "<path class=\"line\""), 4u) << "charge, runtime, load and input voltage at least";
    EXPECT_NE(dom.find("<rect class=\"ob\""), std::string::npos) << "time on battery shaded";

    const std::string artefacts = kBinaryDir + "/artefacts";
    std::filesystem::create_directories(artefacts);
    for (const char* size : { "1280,900", "390,844" }) {
        std::string png = artefacts + "/history-page-" + std::string(size).replace(std::string(size).find(','), 1, "x") + ".png";
        std::filesystem::remove(png);
        Chromium(rig.base + "/", size, { "--screenshot=" + png });
        EXPECT_GT(std::filesystem::exists(png) ? std::filesystem::file_size(png) : 0, 10000u) << png;
    }

    // The kept log comes back after a restart, and a UPS lost leaves its
    // name in the heading.
    rig.pvx.reset();
    rig.Start();
    ASSERT_TRUE(WaitFor([&] { return rig.Get("/events.json").find("\"alarmCleared\"") != std::string::npos; }, 20s))
        << rig.pvx->Stderr();
    // The kept log is there before the UPS is identified again; only a UPS
    // found can be lost.
    ASSERT_TRUE(WaitFor([&] { return rig.Get("/").find("No UPS connected") == std::string::npos; }, 30s));
    rig.ups.Stop();
    ASSERT_TRUE(WaitFor([&] { return rig.Get("/").find("No UPS connected since") != std::string::npos; }, 40s));
    EXPECT_NE(rig.Get("/").find("<h1>Rack 7</h1>"), std::string::npos);
    EXPECT_NE(rig.Get("/events.json").find("\"upsLost\""), std::string::npos);
}

} // namespace
