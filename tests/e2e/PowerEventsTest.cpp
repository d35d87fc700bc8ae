// Power events of the running daemon (started by name, so without the
// catalog: each line is its detail, which names the event) against the simulated UPS: an outage
// and the power's return give one log line each (the second with the time
// on battery), Notify/Command runs once per event with the documented
// environment, a command that never ends is killed at Notify/TimeoutSeconds,
// and the UPS is polled at its cadence meanwhile.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

// One block of PVX_ variables per run, as the notification script writes them.
std::string BlockOf(const std::string& log, const std::string& event)
{
    const std::size_t at = log.find("PVX_EVENT=" + event + "\n");
    if (at == std::string::npos)
        return {};
    const std::size_t start = log.rfind("---\n", at);
    const std::size_t end = log.find("---\n", at);
    return log.substr(start == std::string::npos ? 0 : start, end - (start == std::string::npos ? 0 : start));
}

TEST(PowerEvents, OutageLoggedOnceEachAndNotifiedWithItsEnvironment)
{
    CTempDir folder;
    const std::string events = folder.File("events.log"), sleeper = folder.File("sleeper.pid");
    const std::string script = folder.File("notify.sh");
    // The low-battery run never ends by itself: it must be killed at the time-out.
    WriteTextFile(script, "#!/bin/sh\n{ echo ---; env | grep '^PVX_' | sort; } >> " + events
                              + "\nif [ \"$PVX_EVENT\" = LOWBATT ]; then echo $$ > " + sleeper
                              + "; exec sleep 1000; fi\n");
    ::chmod(script.c_str(), 0755);
    WriteTextFile(folder.File("upssim.conf"), "[simulation]\ndrift = off\n");
    CSimulatedUps ups(folder.Path(), folder.File("upssim.conf"));
    ASSERT_TRUE(ups.IsReady());
    SDaemonOptions options;
    options.extraIni = "[Notify]\nLogEvents=1\nCommand=" + script + "\nTimeoutSeconds=3\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();

    ASSERT_EQ(ups.Control("set onbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Count(pvx.Stderr(), "\nONBATT; ") == 1; }, 30s)) << pvx.Stderr();
    ASSERT_EQ(ups.Control("set lowbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(sleeper); }, 30s)) << pvx.Stderr();
    // Polling goes on while the command runs and while it is killed.
    const auto gap = LongestPollGap(ups, 5s);
    EXPECT_LT(gap, 3500ms);
    EXPECT_TRUE(WaitFor([&] { return Count(pvx.Stderr(), "(LOWBATT): killed at its time-out") == 1; }, 5s))
        << pvx.Stderr();
    const pid_t stuck = std::stoi(ReadFile(sleeper));
    EXPECT_TRUE(WaitFor([&] { return ::kill(stuck, 0) != 0; }, 5s)) << "the sleeping command is gone";

    ASSERT_EQ(ups.Control("set lowbattery 0"), "ok\n");
    ASSERT_EQ(ups.Control("set onbattery 0"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Count(pvx.Stderr(), "\nONLINE: ") == 1; }, 30s)) << pvx.Stderr();
    std::this_thread::sleep_for(3s); // no second line for the same change, and the last command has run

    const std::string log = pvx.Stderr();
    EXPECT_EQ(Count(log, "\nONBATT; "), 1u) << log;
    EXPECT_EQ(Count(log, "\nLOWBATT; "), 1u) << log;
    EXPECT_EQ(Count(log, "\nONLINE: "), 1u) << log;
    EXPECT_NE(log.find("ONLINE: on battery for "), std::string::npos) << log;

    const std::string runs = ReadFile(events);
    EXPECT_EQ(Count(runs, "PVX_EVENT=ONBATT\n"), 1u) << runs;
    EXPECT_EQ(Count(runs, "PVX_EVENT=LOWBATT\n"), 1u) << runs;
    EXPECT_EQ(Count(runs, "PVX_EVENT=ONLINE\n"), 1u) << runs;
    const std::string onBattery = BlockOf(runs, "ONBATT");
    for (const char* variable : { "PVX_UPS_NAME=", "PVX_CHARGE=", "PVX_RUNTIME=", "PVX_OUTPUT_SOURCE=",
                                  "PVX_BATTERY_STATUS=", "PVX_TIME=", "PVX_COALESCED=0\n" })
        EXPECT_NE(onBattery.find(variable), std::string::npos) << variable << " in\n" << onBattery;
    // The driver reads the alarms before the status: the alarm tells first.
    EXPECT_NE(onBattery.find("PVX_ALARMS=onBattery"), std::string::npos) << onBattery;
    const std::string online = BlockOf(runs, "ONLINE");
    EXPECT_NE(online.find("PVX_DURATION="), std::string::npos) << online;
    EXPECT_NE(online.find("PVX_OUTPUT_SOURCE=normal\n"), std::string::npos) << online;
}

} // namespace
