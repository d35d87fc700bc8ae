// Who the running daemon listens to, told apart by the loopback address a
// client binds to: the source lists, the relay switch, the bound on trap
// registrations and on authenticationFailure traps, and a list that stops
// pvx at start-up. net-snmp's tools play the managers.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kToolTimeoutSeconds = 5;
// The responsive loop serves each datagram as it comes, so that hundreds of
// requests take seconds, not passes; the counters line comes every second.
constexpr char kNetwork[] = "[Network]\nSourceAddress=127.0.0.1\nResponsiveLoop=1\nCounterLogInterval=1\n";
constexpr char kUpsManufacturer[] = "1.3.6.1.2.1.33.1.1.1.0";
constexpr char kShutdownAfterDelay[] = "1.3.6.1.2.1.33.1.8.2.0";
constexpr char kTrapLevel[] = "1.3.6.1.4.1.534.1.11.1.0";

// A GetRequest for upsIdentManufacturer with the community "wrong!".
const Bytes kWrongCommunityGet = { 0x30, 0x28, 0x02, 0x01, 0x00, 0x04, 0x06, 'w', 'r', 'o', 'n', 'g', '!', 0xA0, 0x1B,
    0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x10, 0x30, 0x0E, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x02,
    0x01, 0x21, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00 };

// A UDP socket bound to `address` (port 0 unless given) that sends and receives.
class CBoundSocket {
public:
    explicit CBoundSocket(const std::string& address, unsigned short port = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        socklen_t size = sizeof local;
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size) == 0;
        m_port = ntohs(local.sin_port);
    }
    ~CBoundSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CBoundSocket(const CBoundSocket&) = delete;
    CBoundSocket& operator=(const CBoundSocket&) = delete;

    bool IsBound() const { return m_bound; }
    unsigned short Port() const { return m_port; }

    bool Send(const Bytes& bytes, unsigned short port)
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to)
            == static_cast<ssize_t>(bytes.size());
    }

    std::optional<Bytes> Receive(std::chrono::milliseconds timeout)
    {
        pollfd entry { m_fd, POLLIN, 0 };
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        std::uint8_t buffer[65536];
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0)
            return std::nullopt;
        return Bytes(buffer, buffer + n);
    }

    // Datagrams until `quiet` passes without one (bounded).
    std::vector<Bytes> ReceiveUntilQuiet(std::chrono::milliseconds quiet)
    {
        std::vector<Bytes> all;
        while (all.size() < 10000) {
            auto next = Receive(quiet);
            if (!next)
                break;
            all.push_back(std::move(*next));
        }
        return all;
    }

private:
    int m_fd = -1;
    bool m_bound = false;
    unsigned short m_port = 0;
};

// The generic-trap number of an SNMPv1 Trap-PDU, -1 for anything else.
int GenericTrap(const Bytes& datagram)
{
    std::size_t at = 0;
    // Reads a header; with `enter` false the contents are skipped too.
    auto item = [&](bool enter, std::uint8_t& tag) {
        if (at + 2 > datagram.size())
            return false;
        tag = datagram[at];
        std::size_t length = datagram[at + 1];
        at += 2;
        if (length & 0x80) {
            std::size_t count = length & 0x7F;
            if (count > 2 || at + count > datagram.size())
                return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i)
                length = (length << 8) | datagram[at++];
        }
        if (!enter)
            at += length;
        return at <= datagram.size();
    };
    std::uint8_t tag = 0;
    // message, version, community, Trap-PDU, enterprise, agent-addr
    if (!item(true, tag) || !item(false, tag) || !item(false, tag) || !item(true, tag) || tag != 0xA4
        || !item(false, tag) || !item(false, tag))
        return -1;
    if (!item(false, tag) || tag != 0x02)
        return -1;
    return datagram[at - 1]; // the last byte of a small INTEGER
}

// The simulated UPS and pvx with SNMP on, traps to 127.0.0.1:managerPort.
struct SRig {
    SRig(const std::string& extraIni, unsigned short managerPort)
    {
        SDaemonOptions options;
        options.snmp = true;
        options.managerPort = managerPort;
        options.extraIni = std::string(kNetwork) + extraIni;
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), std::move(options));
    }

    bool Identified()
    {
        return ups.IsReady() && pvx->WaitForStdout("UPS found is [", 30s)
            && WaitFor([this] { return std::ranges::count(ups.ReceivedFrames(), std::string("rx 32")) > 0; }, 30s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }

    // One of net-snmp's tools from `source`, one try, no MIB files.
    SRunResult Tool(const std::string& tool, const std::string& source, const std::string& community,
        std::vector<std::string> binding) const
    {
        std::vector<std::string> all = { "-m", "", "-On", "-t", std::to_string(kToolTimeoutSeconds), "-r", "0", "-v1",
            "-c", community, "--clientaddr=" + source, Target() };
        all.insert(all.end(), binding.begin(), binding.end());
        return RunProgram("/usr/bin/" + tool, tool, all, std::chrono::seconds(kToolTimeoutSeconds + 10));
    }


    // The value of `name` in the last counters line of the log, once some
    // line shows it holding `predicate`.
    bool CounterReaches(const std::string& name, auto predicate) const
    {
        return WaitFor(
            [&] {
                const std::regex field(name + "=([0-9]+)");
                std::string err = pvx->Stderr();
                for (auto it = std::sregex_iterator(err.begin(), err.end(), field); it != std::sregex_iterator(); ++it)
                    if (predicate(std::stoull((*it)[1])))
                        return true;
                return false;
            },
            15s);
    }

    CTempDir folder;
    CSimulatedUps ups { folder.Path() };
    std::unique_ptr<CPvxDaemon> pvx;
};

bool Timeout(const SRunResult& result)
{
    return result.status != 0 && result.err.find("Timeout") != std::string::npos;
}

TEST(Access, AReaderOutsideReadManagersGetsNoReplyAndNoTrap)
{
    CBoundSocket manager("127.0.0.1");
    ASSERT_TRUE(manager.IsBound());
    SRig rig("[SNMP]\nReadManagers=127.0.0.2, 192.0.2.0/24\n", manager.Port());
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    manager.ReceiveUntilQuiet(1s); // coldStart

    auto outside = rig.Tool("snmpget", "127.0.0.3", "gavrel", { kUpsManufacturer });
    EXPECT_TRUE(Timeout(outside)) << outside.out << outside.err;
    // Not even a wrong community is looked at.
    EXPECT_TRUE(Timeout(rig.Tool("snmpget", "127.0.0.3", "wrong", { kUpsManufacturer })));
    EXPECT_TRUE(manager.ReceiveUntilQuiet(1s).empty());
    auto listed = rig.Tool("snmpget", "127.0.0.2", "gavrel", { kUpsManufacturer });
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(rig.CounterReaches("snmp_dropped_not_read_manager", [](auto n) { return n == 2; }))
        << rig.pvx->Stderr();
}

TEST(Access, ASetFromOutsideSetManagersGetsNoReplyAndReachesNoUps)
{
    CBoundSocket manager("127.0.0.1");
    SRig rig("[SNMP]\nSetManagers=127.0.0.2\n", manager.Port());
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    manager.ReceiveUntilQuiet(1s); // coldStart

    std::size_t before = rig.ups.ReceivedFrames().size();
    auto outside = rig.Tool("snmpset", "127.0.0.3", "sotwick", { kShutdownAfterDelay, "i", "330" });
    EXPECT_TRUE(Timeout(outside)) << outside.out << outside.err;
    // It may still read, with either community.
    EXPECT_EQ(rig.Tool("snmpget", "127.0.0.3", "sotwick", { kShutdownAfterDelay }).status, 0);
    EXPECT_EQ(rig.ups.FramesAfter(before), std::vector<std::string> {});
    EXPECT_TRUE(manager.ReceiveUntilQuiet(1s).empty()) << "no authenticationFailure trap";

    auto listed = rig.Tool("snmpset", "127.0.0.2", "sotwick", { kShutdownAfterDelay, "i", "330" });
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(rig.ups.FramesAfter(before), std::vector<std::string> {});
    EXPECT_TRUE(rig.CounterReaches("snmp_dropped_not_set_manager", [](auto n) { return n == 1; })) << rig.pvx->Stderr();
}

TEST(Access, ARelayDatagramFromOutsideClientsGetsNoReplyAndReachesNoUps)
{
    SRig rig("[NetXCP]\nClients=127.0.0.2\n", 0);
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    const Bytes request = { 0xAB, 0x01, 0x00, 0x54, 0xAB, 0x01, 0x31, 0x23 }; // identity query, then block 0x31

    std::size_t before = rig.ups.ReceivedFrames().size();
    CBoundSocket outside("127.0.0.3");
    ASSERT_TRUE(outside.Send(request, rig.pvx->RelayPort()));
    EXPECT_FALSE(outside.Receive(5s).has_value());
    EXPECT_EQ(rig.ups.FramesAfter(before), std::vector<std::string> {});

    CBoundSocket listed("127.0.0.2");
    ASSERT_TRUE(listed.Send(request, rig.pvx->RelayPort()));
    auto reply = listed.Receive(10s);
    ASSERT_TRUE(reply.has_value());
    EXPECT_TRUE(std::equal(reply->begin(), reply->begin() + 4, Bytes { 'p', 'v', 'x', 0 }.begin()));
    EXPECT_EQ(rig.ups.FramesAfter(before), std::vector<std::string> { "rx 31" });
    EXPECT_TRUE(rig.CounterReaches("relay_dropped_not_client", [](auto n) { return n == 1; })) << rig.pvx->Stderr();
}

TEST(Access, NetXcpDisabledLeavesTheRelayPortClosed)
{
    SRig rig("[NetXCP]\nEnabled=0\n", 0);
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    // The port is free to bind; the agent's port, for contrast, is taken.
    EXPECT_TRUE(CBoundSocket("127.0.0.1", rig.pvx->RelayPort()).IsBound());
    EXPECT_FALSE(CBoundSocket("127.0.0.1", rig.pvx->AgentPort()).IsBound());
    EXPECT_EQ(rig.Tool("snmpget", "127.0.0.1", "gavrel", { kUpsManufacturer }).status, 0);
    EXPECT_TRUE(rig.pvx->IsRunning());
}

TEST(Access, ARegistrationFloodLeavesSixteenDestinations)
{
    // Bound to every local address: the traps of every registered manager
    // (127.0.1.x, at the same manager port) arrive here too.
    CBoundSocket traps("0.0.0.0");
    ASSERT_TRUE(traps.IsBound());
    SRig rig("", traps.Port());
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();

    int registered = 0, refused = 0;
    for (int i = 1; i <= 200; ++i) {
        auto result = rig.Tool("snmpset", "127.0.1." + std::to_string(i), "sotwick", { kTrapLevel, "i", "3" });
        if (result.status == 0)
            ++registered;
        else if (result.err.find("genError") != std::string::npos)
            ++refused;
        else
            ADD_FAILURE() << i << ": " << result.out << result.err;
    }
    EXPECT_EQ(registered, 16);
    EXPECT_EQ(refused, 184);

    traps.ReceiveUntilQuiet(2s); // coldStart and whatever the UPS raised
    // A wrong community raises authenticationFailure: one datagram per destination.
    CBoundSocket stranger("127.0.2.1");
    ASSERT_TRUE(stranger.Send(kWrongCommunityGet, rig.pvx->AgentPort()));
    auto sent = traps.ReceiveUntilQuiet(3s);
    EXPECT_EQ(std::ranges::count_if(sent, [](const Bytes& d) { return GenericTrap(d) == 4; }), 17);
    EXPECT_LE(sent.size(), 17u);
}

TEST(Access, AThousandWrongCommunitiesInASecondRaiseOneTrap)
{
    CBoundSocket manager("127.0.0.1");
    SRig rig("", manager.Port());
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    manager.ReceiveUntilQuiet(1s); // coldStart

    CBoundSocket source("127.0.0.5");
    ASSERT_TRUE(source.IsBound());
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(source.Send(kWrongCommunityGet, rig.pvx->AgentPort()));
        std::this_thread::sleep_for(1ms);
    }
    auto received = manager.ReceiveUntilQuiet(3s);
    EXPECT_EQ(std::ranges::count_if(received, [](const Bytes& d) { return GenericTrap(d) == 4; }), 1);
    EXPECT_TRUE(source.ReceiveUntilQuiet(100ms).empty());
    EXPECT_TRUE(rig.CounterReaches("auth_traps_suppressed", [](auto n) { return n >= 1; })) << rig.pvx->Stderr();
    EXPECT_TRUE(rig.pvx->IsRunning());
}

// Started by name, pvx has no catalog: the event reads "Unknown Error", and
// the line naming the key and the item follows. Nothing was opened: no
// coldStart, and the relay's port is free.
TEST(Access, AMalformedListStopsPvxBeforeAnySocketOpens)
{
    CBoundSocket manager("127.0.0.1");
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    SDaemonOptions options;
    options.snmp = true;
    options.managerPort = manager.Port();
    options.extraIni = "[SNMP]\nSetManagers=127.0.0.1, 300.1.1.1\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    EXPECT_EQ(pvx.Wait(20s), 255);
    EXPECT_EQ(pvx.Stderr(), "Unknown Error\nSNMP/SetManagers: \"300.1.1.1\"\n");
    EXPECT_FALSE(manager.Receive(1s).has_value());
}

} // namespace
