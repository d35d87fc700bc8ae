// pvx shuts its own host down in order, with Debian's upsmon as a secondary
// of its RFC 9271 server: a UPS lost while on line and a 5-second outage
// start nothing, power that returns during the wait for the clients cancels
// the shutdown and takes FSD back, and on low battery FSD reaches the
// secondary, which shuts down and logs out, the UPS is told to switch its
// output off after a delay, and Shutdown/Command (a script) runs last.
#include "tests/support/Daemon.h"
#include "tests/support/Upsmon.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

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

struct SRig {
    // Every key of [Notify] is written: a key a section lacks is read from
    // the sections after it, and Notify/Command would be Shutdown/Command.
    SRig()
    {
        WriteTextFile(folder.File("upssim.conf"), "[simulation]\ndrift = off\n");
        WriteTextFile(script, "#!/bin/sh\necho \"$PVX_EVENT\" > " + folder.File("poweroff") + "\n");
        ::chmod(script.c_str(), 0755);
        ups = std::make_unique<CSimulatedUps>(folder.Path(), folder.File("upssim.conf"));
        SDaemonOptions options;
        options.extraIni = "[Notify]\nLogEvents=1\nCommand=\n[Shutdown]\nEnabled=1\nOnBatterySeconds=40\nLostSeconds=2\n"
                           "HostSyncSeconds=30\nUPSOffDelaySeconds=60\nCommand="
            + script + "\n[NUT]\nEnabled=1\nPort=" + std::to_string(port) + "\nUser1=mon," + StoreNutPassword("monpw")
            + ",monitor\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups->DevicePath(), options);
    }
    std::string Ups() const { return "ups@127.0.0.1:" + std::to_string(port); }
    std::string Status()
    {
        const std::string out = RunProgram("/usr/bin/upsc", "upsc", { Ups(), "ups.status" }, 20s).out;
        return out.substr(0, out.find('\n'));
    }
    unsigned Logins()
    {
        const std::string text = RunProgram("/usr/bin/upsc", "upsc", { "-c", Ups() }, 20s).out;
        return static_cast<unsigned>(std::count(text.begin(), text.end(), '\n'));
    }
    bool PoweredOff() const { return std::filesystem::exists(folder.File("poweroff")); }
    std::string Log() const { return pvx->Stderr(); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

    CTempDir folder;
    const std::string script = folder.File("poweroff.sh");
    unsigned short port = FreeTcpPort();
    std::unique_ptr<CSimulatedUps> ups;
    std::unique_ptr<CPvxDaemon> pvx;
};

// A client that logs in and never reacts to FSD: the wait lasts.
int LoggedInClient(unsigned short port)
{
    const int fd = ConnectTcp(port);
    const std::string login = "USERNAME mon\nPASSWORD monpw\nLOGIN ups\n";
    if (fd < 0 || ::send(fd, login.data(), login.size(), 0) != static_cast<ssize_t>(login.size()))
        return -1;
    return fd;
}

TEST(PowerShutdown, OnlyACriticalUpsShutsTheHostDownInOrder)
{
    if (::access("/usr/bin/upsc", X_OK) != 0 || ::access(kUpsmon.c_str(), X_OK) != 0)
        GTEST_SKIP() << "nut-client is not installed (scripts/install-deps.sh)";
    SRig rig;
    ASSERT_TRUE(rig.ups->IsReady());
    ASSERT_TRUE(rig.pvx->WaitForStdout("UPS found is [", 30s)) << rig.Log();
    ASSERT_TRUE(WaitFor([&] { return rig.Status() == "OL"; }, 30s)) << rig.Log();

    // Lost while on line: no shutdown however long it lasts.
    ASSERT_EQ(rig.ups->Control("fault silence on"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.Status().empty(); }, 40s)) << rig.Log();
    std::this_thread::sleep_for(4s); // past Shutdown/LostSeconds
    ASSERT_EQ(rig.ups->Control("fault silence off"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.LogHas("\nCOMMOK; "); }, 30s)) << rig.Log();

    // A 5-second outage is no reason either.
    ASSERT_EQ(rig.ups->Control("set onbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.LogHas("\nONBATT; "); }, 20s)) << rig.Log();
    std::this_thread::sleep_for(5s);
    ASSERT_EQ(rig.ups->Control("set onbattery 0"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.LogHas("\nONLINE: "); }, 20s)) << rig.Log();
    EXPECT_FALSE(rig.LogHas("DryRun")) << rig.Log();
    EXPECT_EQ(Count(rig.Log(), "FSD raised"), 0u) << rig.Log();

    // Low battery with a client that stays: the power returns during the wait.
    const int client = LoggedInClient(rig.port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(WaitFor([&] { return rig.Logins() == 1; }, 10s));
    ASSERT_EQ(rig.ups->Control("set onbattery 1"), "ok\n");
    ASSERT_EQ(rig.ups->Control("set lowbattery 1"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.LogHas("FSD raised; waiting up to 30 s for 1 logged-in clients"); }, 30s))
        << rig.Log();
    EXPECT_NE(rig.Status().find("FSD"), std::string::npos);
    ASSERT_EQ(rig.ups->Control("set lowbattery 0"), "ok\n");
    ASSERT_EQ(rig.ups->Control("set onbattery 0"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return rig.LogHas("Cancelled: the power returned"); }, 30s)) << rig.Log();
    EXPECT_TRUE(WaitFor([&] { return rig.Status().find("FSD") == std::string::npos; }, 5s))
        << "FSD taken back: " << rig.Status();
    EXPECT_FALSE(rig.PoweredOff()) << ReadFile(rig.folder.File("poweroff"));
    ::close(client);

    // The whole sequence: the secondary goes first, then the UPS, then this host.
    CUpsmon secondary(rig.folder.File("upsmon"), rig.Ups(), "mon", "monpw", "secondary", 60);
    ASSERT_TRUE(WaitFor([&] { return rig.Logins() == 1; }, 10s)) << secondary.Output();
    const std::size_t framesBefore = rig.ups->ReceivedFrames().size();
    ASSERT_EQ(rig.ups->Control("set onbattery 1"), "ok\n");
    ASSERT_EQ(rig.ups->Control("set lowbattery 1"), "ok\n");
    EXPECT_TRUE(WaitFor([&] { return secondary.ShutDown(); }, 40s)) << secondary.Output() << rig.Log();
    EXPECT_TRUE(WaitFor([&] { return rig.PoweredOff(); }, 20s)) << rig.Log();
    EXPECT_TRUE(rig.LogHas("No client is logged in any more.")) << rig.Log();
    const auto frames = rig.ups->FramesAfter(framesBefore);
    EXPECT_NE(std::find(frames.begin(), frames.end(), "rx 93 01 00"), frames.end())
        << "the delayed shutdown, one minute, on the UPS's link";
    const std::string log = rig.Log();
    EXPECT_LT(log.find("Switching the UPS's output off in 60 s"), log.find("Running Shutdown/Command"));
    EXPECT_EQ(ReadFile(rig.folder.File("poweroff")), "SHUTDOWN\n");
    EXPECT_NE(rig.Status().find("FSD"), std::string::npos) << "FSD stays once the command has run";
}

} // namespace
