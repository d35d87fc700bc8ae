// NUT's own clients from Debian against the running daemon's RFC 9271 server
// and the simulated UPS: upsc reads the simulator's values, upscmd starts a
// battery test and is refused for a monitor user and a wrong password,
// upsrw renames the UPS as SNMP then reads it, and upsmon shuts its host
// down (a file here) as a secondary on low battery and after a primary's
// FSD, but not on a short outage. The tests share one daemon and run in
// order; the FSD test has a daemon of its own.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"
#include "tests/support/Upsmon.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

struct SRig {
    SRig()
    {
        WriteTextFile(folder.File("upssim.conf"), "[simulation]\ndrift = off\n");
        ups = std::make_unique<CSimulatedUps>(folder.Path(), folder.File("upssim.conf"));
        SDaemonOptions options;
        options.snmp = true;
        options.extraIni = "[Network]\nResponsiveLoop=1\n[NUT]\nEnabled=1\nPort=" + std::to_string(port)
            + "\nDescription=Rack 4 UPS\nUser1=admin," + StoreNutPassword("adminpw") + ",admin\nUser2=mon,"
            + StoreNutPassword("monpw") + ",monitor\nUser3=upsmon," + StoreNutPassword("upsmonpw") + ",primary\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups->DevicePath(), options);
    }
    bool Ready()
    {
        if (!ready)
            ready = ups->IsReady() && pvx->WaitForStdout("UPS found is", 60s)
                && WaitFor([this] { return Status() == "OL"; }, 30s);
        return ready;
    }
    std::string Ups() const { return "ups@127.0.0.1:" + std::to_string(port); }
    SRunResult Client(const std::string& program, std::vector<std::string> arguments)
    {
        return RunProgram("/usr/bin/" + program, program, arguments, 20s);
    }
    std::string Status()
    {
        const std::string out = Client("upsc", { Ups(), "ups.status" }).out;
        return out.substr(0, out.find('\n'));
    }
    bool StatusHas(const std::string& word) { return (" " + Status() + " ").find(" " + word + " ") != std::string::npos; }
    unsigned Logins()
    {
        std::string text = Client("upsc", { "-c", Ups() }).out;
        return static_cast<unsigned>(std::count(text.begin(), text.end(), '\n'));
    }

    CTempDir folder;
    unsigned short port = FreeTcpPort();
    std::unique_ptr<CSimulatedUps> ups;
    std::unique_ptr<CPvxDaemon> pvx;
    bool ready = false;
};

// Two daemons, started together: FSD lasts until pvx restarts, so the FSD
// test has one of its own, fresh on line when it begins.
SRig& Rig()
{
    static SRig rig;
    return rig;
}
SRig& FsdRig()
{
    static SRig rig;
    return rig;
}

#define REQUIRE_RIG()                                                                                                  \
    do {                                                                                                               \
        if (::access("/usr/bin/upsc", X_OK) != 0 || ::access(kUpsmon.c_str(), X_OK) != 0)                          \
            GTEST_SKIP() << "nut-client is not installed (scripts/install-deps.sh)";                                 \
        FsdRig();                                                                                                      \
        ASSERT_TRUE(Rig().Ready()) << Rig().pvx->Stderr();                                                             \
    } while (0)

TEST(NutClients, UpscListsTheSimulatorsValues)
{
    REQUIRE_RIG();
    SRunResult listed = Rig().Client("upsc", { Rig().Ups() });
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::map<std::string, std::string> values;
    std::istringstream lines(listed.out);
    for (std::string line; std::getline(lines, line);)
        if (auto colon = line.find(": "); colon != std::string::npos)
            values[line.substr(0, colon)] = line.substr(colon + 2);
    const std::map<std::string, std::string> expected = {
        { "battery.charge", "100" }, { "battery.runtime", "1800" }, { "battery.runtime.low", "120" },
        { "battery.voltage", "54.2" }, { "battery.temperature", "25" }, { "input.voltage", "230" },
        { "input.frequency", "50.0" }, { "output.voltage", "230" }, { "output.current", "2.0" },
        { "output.frequency", "50.0" }, { "ups.load", "30" }, { "ups.realpower", "420" },
        { "ups.power.nominal", "1500" }, { "device.mfr", "Simul" }, { "device.model", "UPS 1500" },
        { "ups.firmware", "1.20 2.5" }, { "ups.status", "OL" }, { "driver.name", "pvx" },
        { "ups.beeper.status", "enabled" }, { "ups.timer.shutdown", "-1" },
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(values[name], value) << name;
    EXPECT_EQ(values.count("ups.alarm"), 0u) << "no alarm, no variable";
}

TEST(NutClients, UpscmdStartsABatteryTestOnlyForAnAdmin)
{
    REQUIRE_RIG();
    const std::size_t before = Rig().ups->ReceivedFrames().size();
    SRunResult refused = Rig().Client("upscmd", { "-u", "mon", "-p", "monpw", Rig().Ups(), "test.battery.start.quick" });
    EXPECT_NE((refused.out + refused.err).find("ERR ACCESS-DENIED"), std::string::npos) << refused.out << refused.err;
    SRunResult wrong = Rig().Client("upscmd", { "-u", "admin", "-p", "adminpx", Rig().Ups(), "test.battery.start.quick" });
    EXPECT_NE((wrong.out + wrong.err).find("ERR ACCESS-DENIED"), std::string::npos) << wrong.out << wrong.err;
    EXPECT_EQ(Rig().ups->FramesAfter(before), std::vector<std::string> {}) << "nothing reached the UPS";

    SRunResult started = Rig().Client("upscmd", { "-u", "admin", "-p", "adminpw", Rig().Ups(), "test.battery.start.quick" });
    EXPECT_EQ(started.status, 0) << started.err;
    const auto frames = Rig().ups->FramesAfter(before);
    EXPECT_NE(std::find(frames.begin(), frames.end(), "rx B1 01 0F"), frames.end()) << "the quick test, as SNMP starts it";
}

TEST(NutClients, UpsrwRenamesTheUpsAsSnmpReadsIt)
{
    REQUIRE_RIG();
    SRunResult set = Rig().Client("upsrw", { "-s", "ups.id=Rack 4 east", "-u", "admin", "-p", "adminpw", Rig().Ups() });
    EXPECT_EQ(set.status, 0) << set.out << set.err;
    auto name = pvx::test::snmp::Get(Rig().pvx->AgentPort(), { 2, 1, 33, 1, 1, 5, 0 });
    ASSERT_TRUE(name);
    EXPECT_EQ(name->text, "Rack 4 east");
    EXPECT_NE(ReadFile(Rig().pvx->IniPath()).find("Name=Rack 4 east"), std::string::npos) << "kept across restarts";
}

TEST(NutClients, SecondaryShutsDownOnLowBatteryNotOnAShortOutage)
{
    REQUIRE_RIG();
    CUpsmon secondary(Rig().folder.File("secondary"), Rig().Ups(), "mon", "monpw", "secondary", 2);
    ASSERT_TRUE(secondary.Started()) << secondary.Output();
    ASSERT_TRUE(WaitFor([] { return Rig().Logins() == 1; }, 10s)) << secondary.Output();

    // The driver reads the alarms and the status once in six passes of about
    // two seconds each, so pvx may see a short outage or not; upsmon must
    // not shut down either way.
    const auto outage = std::chrono::steady_clock::now();
    EXPECT_EQ(Rig().ups->Control("set onbattery 1"), "ok\n");
    std::this_thread::sleep_until(outage + 3s);
    EXPECT_EQ(Rig().ups->Control("set onbattery 0"), "ok\n");
    std::this_thread::sleep_until(outage + 6s);
    EXPECT_FALSE(secondary.ShutDown()) << "a 3-second outage is no reason to shut down";

    EXPECT_EQ(Rig().ups->Control("set onbattery 1"), "ok\n");
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(Rig().ups->Control("set lowbattery 1"), "ok\n");
    EXPECT_TRUE(WaitFor([&] { return secondary.ShutDown(); }, 20s)) << secondary.Output();
    EXPECT_TRUE(Rig().StatusHas("LB")) << Rig().Status();
    Rig().ups->Control("set lowbattery 0");
    Rig().ups->Control("set onbattery 0");
}

TEST(NutClients, PrimarySetsFsdOnLowBatteryAndTheSecondaryFollows)
{
    REQUIRE_RIG();
    // The secondary would wait a minute for FSD on its own: shutting down
    // sooner shows that the primary's FSD reached it.
    SRig& rig = FsdRig();
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    CUpsmon secondary(rig.folder.File("secondary"), rig.Ups(), "mon", "monpw", "secondary", 60);
    CUpsmon primary(rig.folder.File("primary"), rig.Ups(), "upsmon", "upsmonpw", "primary", 5);
    ASSERT_TRUE(secondary.Started() && primary.Started()) << secondary.Output() << primary.Output();
    ASSERT_TRUE(WaitFor([&] { return rig.Logins() == 2; }, 10s)) << secondary.Output() << primary.Output();

    EXPECT_EQ(rig.ups->Control("set onbattery 1"), "ok\n");
    EXPECT_EQ(rig.ups->Control("set lowbattery 1"), "ok\n");
    EXPECT_TRUE(WaitFor([&] { return rig.StatusHas("FSD"); }, 20s)) << rig.Status() << primary.Output();
    EXPECT_TRUE(WaitFor([&] { return secondary.ShutDown(); }, 15s)) << secondary.Output();
    EXPECT_TRUE(WaitFor([&] { return primary.ShutDown(); }, 15s)) << primary.Output();
}

} // namespace
