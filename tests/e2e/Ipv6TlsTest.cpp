// The daemon on both families with Debian's clients: net-snmp over udp6 and
// udp beside it (SNMPv3 authPriv too), the relay over IPv6, curl on [::1] and
// 127.0.0.1, upsc over IPv6, IPv6 source lists that admit and refuse ::1, and
// HTTPS with a certificate made here (TLS 1.1 refused, Chromium rendering the
// page).
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

SRunResult RunTool(const std::string& program, const std::vector<std::string>& args)
{
    return RunProgram("/usr/bin/" + program, program, args, 20s);
}

// upsEstimatedChargeRemaining, as snmpget prints it; "" on a time-out.
std::string Charge(const std::string& version, const std::string& target)
{
    SRunResult r = RunTool("snmpget", { "-v" + version, "-c", "gavrel", "-r", "0", "-t", "2", "-Oqv", target,
                                    "1.3.6.1.2.1.33.1.2.4.0" });
    return r.status == 0 ? r.out : "";
}

struct SRig {
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    unsigned short http = FreeTcpPort(), nut = FreeTcpPort();
    std::unique_ptr<CPvxDaemon> pvx;

    explicit SRig(const std::string& extra)
    {
        SDaemonOptions options;
        options.snmp = true;
        options.extraIni = "[SNMP]\nVersion2c=1\n" + extra + "[Network]\nResponsiveLoop=1\n[HTTP]\nEnabled=1\nPort="
            + std::to_string(http) + "\n[NUT]\nEnabled=1\nPort=" + std::to_string(nut) + "\n";
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), options);
    }
    std::string Udp6() const { return "udp6:[::1]:" + std::to_string(pvx->AgentPort()); }
    std::string Udp4() const { return "udp:127.0.0.1:" + std::to_string(pvx->AgentPort()); }
    bool Ready() { return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 30s); }
};

bool HasIpv6() { return ::access("/proc/net/if_inet6", R_OK) == 0; }

#define REQUIRE_CLIENTS()                                                                                              \
    if (!HasIpv6() || ::access("/usr/bin/snmpget", X_OK) != 0 || ::access("/usr/bin/curl", X_OK) != 0)                \
    GTEST_SKIP() << "needs IPv6, snmpget and curl"

} // namespace

// An authPriv user whose keys pvx-passwd made from pass phrases (Ku).
const std::vector<std::string> kV3 = { "-v3", "-l", "authPriv", "-u", "ops", "-a", "SHA", "-A", "ops auth phrase",
    "-x", "AES", "-X", "ops priv phrase", "-r", "1", "-t", "3" };

std::string V3User()
{
    return "[SNMPv3]\nEnabled=1\nUser1=ops,authPriv,SHA," + PvxPasswd({ "-3", "SHA", "ops auth phrase" }) + ",AES,"
        + PvxPasswd({ "-3", "SHA", "ops priv phrase" }) + ",read\n";
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(Ipv6, EveryServiceAnswersOnBothFamilies)
{
    REQUIRE_CLIENTS();
    SRig rig(V3User());
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    ASSERT_EQ(rig.ups.Control("set battery.charge 40"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return Charge("2c", rig.Udp6()) == "40\n"; }, 20s)) << rig.pvx->Stderr();
    for (const auto& [version, target] : std::vector<std::pair<std::string, std::string>> {
             { "1", rig.Udp6() }, { "1", rig.Udp4() }, { "2c", rig.Udp4() } })
        EXPECT_EQ(Charge(version, target), "40\n") << version << " " << target;
    SRunResult walk = RunTool("snmpbulkwalk", { "-v2c", "-c", "gavrel", "-t", "2", rig.Udp6(), "1.3.6.1.2.1.33.1.1" });
    EXPECT_EQ(walk.status, 0) << walk.err;
    EXPECT_NE(walk.out.find("33.1.1.1"), std::string::npos) << walk.out;
    // SNMPv3 with authentication and privacy over udp6.
    SRunResult v3 = RunTool("snmpget", With(kV3, { "-Oqv", rig.Udp6(), "1.3.6.1.2.1.33.1.2.4.0" }));
    EXPECT_EQ(v3.out, "40\n") << v3.err;
    SRunResult v3walk = RunTool("snmpwalk", With(kV3, { "-On", rig.Udp6(), "1.3.6.1.2.1.33.1.1" }));
    EXPECT_EQ(v3walk.status, 0) << v3walk.err;
    EXPECT_NE(v3walk.out.find(".1.3.6.1.2.1.33.1.1.1.0 = STRING: \"Simul\""), std::string::npos) << v3walk.out;

    // The relay from ::1: the password unlocks the command, which the UPS
    // receives and whose status comes back re-framed (0xAB, status, length,
    // block 0x81, status, the command echoed, checksum, made even).
    const std::size_t frames = rig.ups.ReceivedFrames().size();
    std::vector<std::uint8_t> request = PasswordFrame("Kq4Tz9"), reply;
    for (std::uint8_t byte : XcpFrame({ 0x93, 0x00, 0x00 }))
        request.push_back(byte);
    ASSERT_TRUE(UdpExchange(rig.pvx->RelayPort(), request, reply, 10s, "::1"));
    EXPECT_EQ(reply, (std::vector<std::uint8_t> { 0xAB, 0x31, 0x04, 0x81, 0x31, 0x93, 0x00, 0x00, 0xDB, 0x00 }));
    EXPECT_EQ(rig.ups.FramesAfter(frames), (std::vector<std::string> { "rx CF 3A 91 4E", "rx 93 00 00" }));

    for (const std::string host : { "[::1]", "127.0.0.1" }) {
        SRunResult curl = RunTool("curl", { "-g", "-s", "-f", "http://" + host + ":" + std::to_string(rig.http) + "/metrics" });
        EXPECT_EQ(curl.status, 0) << host;
        EXPECT_NE(curl.out.find("pvx_ups_battery_charge_ratio 0.4"), std::string::npos) << host;
    }
    if (::access("/usr/bin/upsc", X_OK) == 0) {
        SRunResult upsc = RunTool("upsc", { "ups@[::1]:" + std::to_string(rig.nut), "battery.charge" });
        EXPECT_EQ(upsc.out, "40\n") << upsc.err;
    }
}

TEST(Ipv6, SourceListsAdmitAndRefuseIpv6Sources)
{
    REQUIRE_CLIENTS();
    // SNMP admits 127.0.0.1 and a network ::1 is not in.
    SRig rig("ReadManagers=2001:db8::/32, 127.0.0.1\n");
    ASSERT_TRUE(rig.Ready()) << rig.pvx->Stderr();
    ASSERT_TRUE(WaitFor([&] { return !Charge("2c", rig.Udp4()).empty(); }, 20s)) << rig.pvx->Stderr();
    EXPECT_EQ(Charge("2c", rig.Udp6()), "");
}

TEST(Ipv6, HttpClientsListOfIpv6)
{
    REQUIRE_CLIENTS();
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    unsigned short port = FreeTcpPort();
    SDaemonOptions options;
    options.extraIni = "[HTTP]\nEnabled=1\nPort=" + std::to_string(port) + "\nClients=::1\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    const std::string tail = ":" + std::to_string(port) + "/status.json";
    ASSERT_TRUE(WaitFor([&] { return RunTool("curl", { "-g", "-s", "-f", "http://[::1]" + tail }).status == 0; }, 20s))
        << pvx.Stderr();
    EXPECT_NE(RunTool("curl", { "-s", "-f", "-m", "3", "http://127.0.0.1" + tail }).status, 0);
}

TEST(Https, CurlTrustsTheCertificateAndTls11IsRefused)
{
    REQUIRE_CLIENTS();
    CTempDir folder;
    const std::string cert = folder.File("cert.pem"), key = folder.File("key.pem");
    SRunResult made = RunTool("openssl", { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                       "-days", "2", "-subj", "/CN=localhost", "-addext",
                                       "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" });
    ASSERT_EQ(made.status, 0) << made.err;
    CSimulatedUps ups { folder.Path() };
    unsigned short port = FreeTcpPort();
    SDaemonOptions options;
    options.extraIni = "[HTTP]\nEnabled=1\nPort=" + std::to_string(port) + "\nCertificate=" + cert + "\nKey=" + key + "\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    const std::string url = "https://localhost:" + std::to_string(port) + "/metrics";
    ASSERT_TRUE(WaitFor([&] { return RunTool("curl", { "-s", "-f", "--cacert", cert, url }).status == 0; }, 20s))
        << pvx.Stderr();
    EXPECT_EQ(RunTool("curl", { "-g", "-s", "-f", "--cacert", cert, "https://[::1]:" + std::to_string(port) + "/" }).status, 0);
    EXPECT_NE(RunTool("curl", { "-s", "-f", "--cacert", cert, "--tlsv1.1", "--tls-max", "1.1", url }).status, 0);
    EXPECT_NE(RunTool("curl", { "-s", "-f", "-m", "3", "http://localhost:" + std::to_string(port) + "/" }).status, 0);

    // A browser told to trust the test certificate renders the UPS's values.
    if (::access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "needs chromium";
    ASSERT_TRUE(ups.IsReady() && pvx.WaitForStdout("UPS found is [", 30s)) << pvx.Stderr();
    ASSERT_EQ(ups.Control("set battery.charge 40"), "ok\n");
    ASSERT_TRUE(WaitFor([&] {
        return RunTool("curl", { "-s", "--cacert", cert, url }).out.find("pvx_ups_battery_charge_ratio 0.4")
            != std::string::npos;
    }, 20s));
    CTempDir profile;
    SRunResult dom = RunProgram("/usr/bin/chromium", "chromium",
        { "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--ignore-certificate-errors",
            "--user-data-dir=" + profile.Path(), "--dump-dom", "https://[::1]:" + std::to_string(port) + "/" },
        120s, profile.Path());
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_NE(dom.out.find("<th>Charge</th><td>40 %</td>"), std::string::npos) << dom.out;
}

TEST(Https, AnUnreadableCertificateStopsTheStart)
{
    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    SDaemonOptions options;
    options.extraIni = "[HTTP]\nEnabled=1\nPort=" + std::to_string(FreeTcpPort()) + "\nCertificate="
        + folder.File("missing.pem") + "\nKey=" + folder.File("missing.key") + "\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    EXPECT_NE(pvx.Wait(20s), 0);
    EXPECT_NE(pvx.Stderr().find("HTTP/Certificate"), std::string::npos) << pvx.Stderr();
}
