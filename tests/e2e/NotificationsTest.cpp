// SNMPv3 notifications received by Debian's snmptrapd: authPriv traps over
// IPv6 with pvx's engine authoritative, and informs that snmptrapd
// acknowledges, then, once it is stopped, sent again after 1, 2 and 4 s and
// given up, while the UPS is polled at its cadence throughout.
#include "tests/support/Daemon.h"
#include "tests/support/TrapReceiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

constexpr char kEngineId[] = "80000216050102030405060708";
const std::string kAlarmAdded = ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.2.1.33.2.3";
const std::string kColdStart = ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.1";

// The sending user, authPriv with keys made from pass phrases (Ku), and the
// notification settings.
std::string Ini(const std::string& notify)
{
    return "[SNMPv3]\nEnabled=1\nUser1=notify,authPriv,SHA," + PvxPasswd({ "-3", "SHA", "notify auth phrase" })
        + ",AES," + PvxPasswd({ "-3", "SHA", "notify priv phrase" }) + ",read\n[SNMP]\nTrapVersion=3\nTrapUser=notify\n"
        + notify + "[Network]\nResponsiveLoop=1\n";
}

// snmptrapd's user `notify` localized to `engine` (empty: its own, where
// informs arrive), and only authPriv notifications from it logged.
std::string ReceiverConfiguration(const std::string& engine)
{
    return "createUser " + (engine.empty() ? "" : "-e 0x" + engine + " ")
        + "notify SHA \"notify auth phrase\" AES \"notify priv phrase\"\nauthUser log notify priv\n";
}

bool Has(const std::vector<std::string>& traps, const std::string& text)
{
    return std::ranges::any_of(traps, [&](const std::string& t) { return t.find(text) != std::string::npos; });
}

#define REQUIRE_CLIENTS()                                                                                              \
    if (::access("/usr/sbin/snmptrapd", X_OK) != 0 || ::access("/usr/bin/curl", X_OK) != 0)                          \
    GTEST_SKIP() << "needs snmptrapd and curl"

} // namespace

// snmptrapd knows the user at pvx's engine ID (kept from an earlier start in
// pvx-engine.state), as RFC 3414 section 4 has it for traps.
TEST(Notifications, SnmpV3AuthPrivTrapsOverIpv6)
{
    REQUIRE_CLIENTS();
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "needs ::1";
    CTempDir folder;
    WriteTextFile(folder.File("pvx-engine.state"), std::string("EngineID=") + kEngineId + "\nEngineBoots=4\n");
    CTrapReceiver receiver(folder, ReceiverConfiguration(kEngineId), "udp6:[::1]");
    ASSERT_TRUE(receiver.IsReady()) << receiver.Log();
    CSimulatedUps ups { folder.Path() };
    SDaemonOptions options;
    options.snmp = true;
    options.extraIni = Ini("TrapHost=::1\nManagerPort=" + std::to_string(receiver.Port()) + "\n");
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(ups.IsReady() && pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();
    EXPECT_NE(pvx.Stderr().find(std::string("SNMPv3 engine ID ") + kEngineId + ", boots 5"), std::string::npos)
        << pvx.Stderr();
    ASSERT_EQ(ups.Control("alarm raise 25"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Has(receiver.Traps(), kAlarmAdded); }, 20s)) << receiver.Log();
    const std::vector<std::string> traps = receiver.Traps();
    ASSERT_EQ(traps.size(), 2u) << receiver.Log();
    EXPECT_NE(traps[0].find(kColdStart), std::string::npos) << traps[0];
    // sysUpTime.0 first, then snmpTrapOID.0 and the alarm's row and type.
    const std::size_t upTime = traps[1].find(".1.3.6.1.2.1.1.3.0 = Timeticks: ");
    EXPECT_TRUE(upTime != std::string::npos && upTime < traps[1].find(kAlarmAdded)) << traps[1];
    EXPECT_NE(traps[1].find(".1.3.6.1.2.1.33.1.6.3.8"), std::string::npos) << traps[1];
}

TEST(Notifications, SnmpV3InformsAcknowledgedThenRetriedAndGivenUpWhileTheReceiverIsDown)
{
    REQUIRE_CLIENTS();
    CTempDir folder;
    CTrapReceiver receiver(folder, ReceiverConfiguration(""));
    ASSERT_TRUE(receiver.IsReady()) << receiver.Log();
    CSimulatedUps ups { folder.Path() };
    const unsigned short http = FreeTcpPort();
    SDaemonOptions options;
    options.snmp = true;
    options.managerPort = receiver.Port();
    options.extraIni = Ini("TrapInform=1\n") + "CounterLogInterval=1\n[HTTP]\nEnabled=1\nPort=" + std::to_string(http)
        + "\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(ups.IsReady() && pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();
    // coldStart: the engine discovered, then the inform acknowledged.
    ASSERT_TRUE(WaitFor([&] { return InformsCounted(http, "acknowledged") == 1; }, 20s)) << receiver.Log();
    EXPECT_TRUE(Has(receiver.Traps(), kColdStart)) << receiver.Log();
    EXPECT_EQ(InformsCounted(http, "retried"), 0);

    // No manager any more: the next inform is sent again after 1, 2 and 4 s
    // (each try counted when a pass finds it due, so up to a pass late) and
    // given up 8 s after the last.
    receiver.Stop();
    ASSERT_EQ(ups.Control("alarm raise 25"), "ok\n");
    std::atomic<bool> done { false };
    std::chrono::milliseconds gap {};
    std::thread sampler([&] {
        while (!done)
            gap = std::max(gap, LongestPollGap(ups, 2s));
    });
    std::vector<std::chrono::steady_clock::time_point> tries; // retries, then the give-up
    long seen = 0;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (tries.size() < 4 && std::chrono::steady_clock::now() < end) {
        const long retried = InformsCounted(http, "retried");
        for (; seen < retried; ++seen)
            tries.push_back(std::chrono::steady_clock::now());
        if (seen == 3 && InformsCounted(http, "given_up") == 1)
            tries.push_back(std::chrono::steady_clock::now());
        std::this_thread::sleep_for(100ms);
    }
    done = true;
    sampler.join();
    ASSERT_EQ(tries.size(), 4u) << pvx.Stderr();
    const std::chrono::milliseconds nominal[] = { 2s, 4s, 8s };
    for (std::size_t i = 0; i < 3; ++i) {
        const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(tries[i + 1] - tries[i]);
        EXPECT_GE(interval, nominal[i] - 400ms) << i;
        EXPECT_LE(interval, nominal[i] + 2500ms) << i;
    }
    EXPECT_EQ(InformsCounted(http, "acknowledged"), 1);
    EXPECT_EQ(InformsCounted(http, "given_up"), 1);
    EXPECT_FALSE(Has(receiver.Traps(), kAlarmAdded));
    // The UPS was polled at its cadence all along, and the journal says so.
    EXPECT_LT(gap, 2500ms);
    EXPECT_TRUE(WaitFor([&] { return pvx.Stderr().find("informs_given_up=1") != std::string::npos; }, 3s))
        << pvx.Stderr();
}
