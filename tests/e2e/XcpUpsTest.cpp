// The daemon against the simulated XCP UPS: the identification sequence,
// polling, the status file, values and alarms read back over SNMP, a UPS
// that goes silent and comes back, and a serial device that is missing.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

constexpr char kFoundLine[] = "UPS found is [Simul UPS 1500]\n";
constexpr char kUnknownError[] = "Unknown Error";
constexpr char kLostText[] = "Communication with the UPS was lost; pvx will look for it again.";

// What the simulator receives while pvx identifies it, to the end of the
// first polling cycle; escape bytes show as junk ahead of a frame.
const std::vector<std::string> kIdentificationLog = {
    "rx-junk 1B", // escape at 1200 baud
    "rx 42 00", // baud list
    "rx CF 3A 91 4E", // authorization ahead of a restricted command
    "rx 98 00 01 00 4B", // switch to 19200, the fastest rate offered
    "rx-junk 1B", // escape ahead of the wake-up
    "rx CF 3A 91 4E",
    "rx A0", // wake-up, answered with the identification block
    "rx 40", // command list
    "rx 36", // nominal output values
    "rx 3C", // nominal input values and limits
    "rx 34", // first polling cycle: meters,
    "rx 38", // statistics,
    "rx 35", // alarms,
    "rx 33", // status,
    "rx 3B", // battery,
    "rx 32", // events
};

std::vector<std::string> LogLines(const std::string& log, std::size_t offset = 0)
{
    std::vector<std::string> lines;
    std::istringstream stream(offset < log.size() ? log.substr(offset) : std::string());
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// Requests only: the lines pvx caused, without the simulator's replies and notes.
std::vector<std::string> Requests(const std::string& log)
{
    std::vector<std::string> requests;
    for (const auto& line : LogLines(log))
        if (line.starts_with("rx"))
            requests.push_back(line);
    return requests;
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

bool FoundTimes(const CPvxDaemon& pvx, std::size_t times, std::chrono::milliseconds timeout = 30s)
{
    return WaitFor([&] { return Count(pvx.Stdout(), kFoundLine) >= times; }, timeout);
}

TEST(XcpUps, IdentifiesTheSimulatedUpsWithTheDesignedSequenceAndPollsIt)
{
    const auto started = std::chrono::system_clock::now();
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    CPvxDaemon pvx(folder.Path(), ups.DevicePath());
    ASSERT_TRUE(FoundTimes(pvx, 1)) << pvx.Stderr();
    EXPECT_EQ(pvx.Stdout(), kFoundLine);

    // After identification, one block per pass: the meters again, then statistics.
    const std::size_t polled = kIdentificationLog.size() + 2;
    ASSERT_TRUE(WaitFor([&] { return Requests(ups.FrameLog()).size() >= polled; }, 20s));
    const auto requests = Requests(ups.FrameLog());
    EXPECT_EQ(
        std::vector<std::string>(requests.begin(), requests.begin() + kIdentificationLog.size()), kIdentificationLog);
    EXPECT_EQ(requests[kIdentificationLog.size()], "rx 34");
    EXPECT_EQ(requests[kIdentificationLog.size() + 1], "rx 38");

    // The status line of the first detection attempt, written by this run.
    EXPECT_EQ(ReadFile(pvx.StatusPath()), "Tessary started successfully.\n");
    struct stat status { };
    ASSERT_EQ(::stat(pvx.StatusPath().c_str(), &status), 0);
    EXPECT_GE(std::chrono::system_clock::from_time_t(status.st_mtime),
        std::chrono::time_point_cast<std::chrono::seconds>(started));
    EXPECT_TRUE(pvx.IsRunning());
    EXPECT_EQ(pvx.Stderr(), "");
}

TEST(XcpUps, ValuesAndAlarmsFollowTheSimulator)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    ASSERT_EQ(ups.Control("set drift off"), "ok\n");
    SDaemonOptions options;
    options.snmp = true;
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(FoundTimes(pvx, 1)) << pvx.Stderr();

    // This agent's table cells are table.row.column.0.
    const std::vector<std::uint32_t> inputVoltage = { 2, 1, 33, 1, 3, 3, 1, 3, 0 };
    const std::vector<std::uint32_t> chargeRemaining = { 2, 1, 33, 1, 2, 4, 0 };
    const std::vector<std::uint32_t> alarmsPresent = { 2, 1, 33, 1, 6, 1, 0 };
    const unsigned short port = pvx.AgentPort();
    EXPECT_EQ(snmp::GetNumber(port, inputVoltage), 230);
    ASSERT_EQ(ups.Control("set input.voltage 207"), "ok\n");
    ASSERT_EQ(ups.Control("set battery.charge 40"), "ok\n");
    EXPECT_TRUE(WaitFor([&] { return snmp::GetNumber(port, inputVoltage) == 207; }, 30s));
    EXPECT_TRUE(WaitFor([&] { return snmp::GetNumber(port, chargeRemaining) == 40; }, 30s));

    EXPECT_EQ(snmp::GetNumber(port, alarmsPresent), 0);
    ASSERT_EQ(ups.Control("alarm raise 7"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return snmp::GetNumber(port, alarmsPresent) == 2; }, 30s));
    // XCP alarm 7 is reported as upsAlarmOnBattery and upsAlarmInputBad, in that order.
    const auto first = snmp::Get(port, { 2, 1, 33, 1, 6, 2, 1, 2, 0 });
    const auto second = snmp::Get(port, { 2, 1, 33, 1, 6, 2, 2, 2, 0 });
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->oid, (std::vector<std::uint32_t> { 2, 1, 33, 1, 6, 3, 2, 0 }));
    EXPECT_EQ(second->oid, (std::vector<std::uint32_t> { 2, 1, 33, 1, 6, 3, 6, 0 }));
    ASSERT_EQ(ups.Control("alarm clear 7"), "ok\n");
    EXPECT_TRUE(WaitFor([&] { return snmp::GetNumber(port, alarmsPresent) == 0; }, 30s));
}

TEST(XcpUps, SilentUpsIsLostAfterSixFailedPassesAndFoundAgain)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    CPvxDaemon pvx(folder.Path(), ups.DevicePath());
    ASSERT_TRUE(FoundTimes(pvx, 1)) << pvx.Stderr();
    ASSERT_TRUE(WaitFor([&] { return Requests(ups.FrameLog()).size() > kIdentificationLog.size(); }, 20s));

    const std::size_t before = ups.FrameLog().size();
    ASSERT_EQ(ups.Control("fault silence on"), "ok\n");
    // Started by name, pvx has no catalog: the notice reads "Unknown Error".
    ASSERT_TRUE(WaitFor([&] { return pvx.Stderr().find(kUnknownError) != std::string::npos; }, 60s));
    // The polls left unanswered before pvx starts identifying again (its escape byte).
    auto identifyingAgain = [&] {
        for (const auto& line : LogLines(ups.FrameLog(), before))
            if (line == "rx-junk 1B")
                return true;
        return false;
    };
    ASSERT_TRUE(WaitFor(identifyingAgain, 30s));
    std::size_t unanswered = 0;
    for (const auto& line : LogLines(ups.FrameLog(), before)) {
        if (line == "rx-junk 1B")
            break;
        if (line == "note silent: no reply")
            ++unanswered;
    }
    EXPECT_EQ(unanswered, 6u);

    ASSERT_EQ(ups.Control("fault silence off"), "ok\n");
    ASSERT_TRUE(FoundTimes(pvx, 2)) << pvx.Stdout();
    EXPECT_TRUE(pvx.IsRunning());
    // Every notice so far is the lost UPS (failed identifications included).
    const std::string err = pvx.Stderr();
    EXPECT_EQ(Count(err, kUnknownError) * std::strlen(kUnknownError), err.size()) << err;
}

TEST(XcpUps, MissingSerialDeviceEndsTheServiceWithStatus255)
{
    CTempDir folder;
    CPvxDaemon pvx(folder.Path(), folder.Path() + "/no-such-tty");
    EXPECT_EQ(pvx.Wait(20s), 255);
    EXPECT_NE(pvx.Stderr(), "");
    EXPECT_EQ(pvx.Stdout(), "");
}

// Started by path, pvx waits two minutes before it starts, then reports the
// lost UPS with the catalog's text. Kept out of the default run for its
// length (run it with --gtest_also_run_disabled_tests); the catalog text
// itself is checked without the pause by the driver tests.
TEST(XcpUps, DISABLED_StartedByPathReportsTheLostUpsWithTheCatalogText)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    SDaemonOptions options;
    options.argv0 = std::string(PVX_BINARY_DIR) + "/pvx";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(FoundTimes(pvx, 1, 180s)) << pvx.Stderr();
    ASSERT_EQ(ups.Control("fault silence on"), "ok\n");
    EXPECT_TRUE(WaitFor([&] { return pvx.Stderr().find(kLostText) != std::string::npos; }, 60s)) << pvx.Stderr();
    EXPECT_EQ(pvx.Stderr().find(kUnknownError), std::string::npos);
}

} // namespace
