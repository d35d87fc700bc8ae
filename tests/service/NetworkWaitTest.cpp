// The responsive wait against real loopback sockets: what it serves, in which
// order, and where it stops.
#include "http/HttpServer.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "service/NetworkWait.h"
#include "snmp/agent/SNMPAgent.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace pvx {
namespace {

// A GetRequest for upsIdentManufacturer (1.3.6.1.2.1.33.1.1.1.0), community "gavrel".
constexpr std::uint8_t kGetRequest[] = { 0x30, 0x28, 0x02, 0x01, 0x00, 0x04, 0x06, 'g', 'a', 'v', 'r', 'e', 'l', 0xA0,
    0x1B, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x10, 0x30, 0x0E, 0x06, 0x0A, 0x2B, 0x06, 0x01,
    0x02, 0x01, 0x21, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00 };
// The relay's identity query: 0xAB, length 1, command 0, checksum.
constexpr std::uint8_t kIdentityQuery[] = { 0xAB, 0x01, 0x00, 0x54 };

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

class NetworkWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_agent = std::make_unique<CSNMPAgent>(0, 162, 0, kLoopback, "gavrel", "sotwick", "gavrel");
        m_relay = std::make_unique<CNetXCPAgent>("Kq4Tz9", 0, kLoopback);
        m_client = CreateSocket(2, 1, 0);
        ASSERT_TRUE(m_client.IsOpen());
        ASSERT_TRUE(BindSocket(m_client.Get(), 0, kLoopback));
    }

    void Send(std::uint16_t port, std::span<const std::uint8_t> bytes, int copies)
    {
        SDatagram datagram;
        datagram.address = kLoopback;
        datagram.port = port;
        datagram.length = static_cast<std::uint32_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), datagram.data.begin());
        for (int i = 0; i < copies; ++i)
            ASSERT_TRUE(SendTo(m_client.Get(), datagram));
    }
    void SendSnmp(int copies) { Send(m_agent->GetBoundPort(), kGetRequest, copies); }
    void SendRelay(int copies) { Send(m_relay->GetBoundPort(), kIdentityQuery, copies); }

    // Replies that reached the client, without waiting for more.
    int RepliesWaiting()
    {
        int n = 0;
        SDatagram datagram;
        while (WaitReadable(m_client.Get(), 100) > 0 && ReceiveFrom(m_client.Get(), datagram))
            ++n;
        return n;
    }

    std::unique_ptr<CSNMPAgent> m_agent;
    std::unique_ptr<CNetXCPAgent> m_relay;
    CUniqueFd m_client;
};

TEST_F(NetworkWait, ServesWhatIsWaitingInItsOrderAndStopsWhereItShould)
{
    struct SCase {
        const char* name;
        int snmp, relay;
        std::uint32_t ms;
        bool endOnRelay;
        unsigned snmpServed, relayServed;
        bool snmpLeft, relayLeft;
    };
    const SCase cases[] = {
        { "idle wait", 0, 0, 50, false, 0, 0, false, false },
        { "a sleep serves both sockets", 3, 2, 300, false, 3, 2, false, false },
        { "SNMP first, then a relay datagram ends the relay's wait", 3, 2, 300, true, 3, 1, false, true },
        { "zero-time wait serves one datagram, SNMP first", 2, 1, 0, true, 1, 0, true, true },
        { "zero-time wait serves the relay when SNMP is quiet", 0, 2, 0, false, 0, 1, false, true },
        { "no count bounds a wait: every datagram waiting is served", 40, 0, 200, false, 40, 0, false, false },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        SendSnmp(c.snmp);
        SendRelay(c.relay);
        // Let every datagram land before the wait looks at the sockets.
        ASSERT_EQ(WaitReadable(m_relay->GetSocket(), c.relay > 0 ? 1000 : 0) > 0, c.relay > 0);
        ASSERT_EQ(WaitReadable(m_agent->GetSocket(), c.snmp > 0 ? 1000 : 0) > 0, c.snmp > 0);
        SWaitOutcome outcome = ServeWhileWaiting(m_agent.get(), m_relay.get(), nullptr, c.ms, c.endOnRelay);
        EXPECT_EQ(outcome.snmpServed, c.snmpServed);
        EXPECT_EQ(outcome.relayServed, c.relayServed);
        EXPECT_EQ(m_agent->IsRequestWaiting(), c.snmpLeft);
        EXPECT_EQ(m_relay->WaitForRequest(0), c.relayLeft);
        // Without a UPS the relay drops datagrams; every SNMP request is answered.
        EXPECT_EQ(RepliesWaiting(), static_cast<int>(c.snmpServed));
    }
}

TEST_F(NetworkWait, BatchedRepliesKeepEachSourcesOrderAndNoneIsBegunAfterTheDeadline)
{
    CUniqueFd other = CreateSocket(2, 1, 0);
    ASSERT_TRUE(other.IsOpen() && BindSocket(other.Get(), 0, kLoopback));
    constexpr std::size_t kRequestIdAt = 17; // of both request and reply: every length here is one byte
    auto send = [&](int socket, std::uint8_t first, int count) {
        SDatagram datagram;
        datagram.address = kLoopback;
        datagram.port = m_agent->GetBoundPort();
        datagram.length = sizeof kGetRequest;
        std::copy(std::begin(kGetRequest), std::end(kGetRequest), datagram.data.begin());
        for (int i = 0; i < count; ++i) {
            datagram.data[kRequestIdAt] = static_cast<std::uint8_t>(first + i);
            ASSERT_TRUE(SendTo(socket, datagram));
        }
    };
    // More than one receive takes, from two sources, interleaved.
    send(m_client.Get(), 1, 20);
    send(other.Get(), 101, 25);
    send(m_client.Get(), 21, 20);
    ASSERT_GT(WaitReadable(m_agent->GetSocket(), 1000), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // A wait already over begins one request; those its receive took wait
    // for the next wait, ahead of anything newer.
    EXPECT_EQ(ServeWhileWaiting(m_agent.get(), nullptr, nullptr, 0, false).snmpServed, 1u);
    EXPECT_TRUE(m_agent->IsRequestWaiting());
    send(other.Get(), 126, 1);
    EXPECT_EQ(ServeWhileWaiting(m_agent.get(), nullptr, nullptr, 300, false).snmpServed, 65u);
    EXPECT_FALSE(m_agent->IsRequestWaiting());

    for (const auto& [socket, first, count] : { std::tuple { m_client.Get(), 1, 40 }, { other.Get(), 101, 26 } }) {
        SCOPED_TRACE(first);
        SDatagram reply;
        int expected = first;
        while (WaitReadable(socket, 100) > 0 && ReceiveFrom(socket, reply)) {
            ASSERT_GT(reply.length, kRequestIdAt);
            EXPECT_EQ(reply.data[kRequestIdAt], expected++);
        }
        EXPECT_EQ(expected - first, count);
    }
}

TEST_F(NetworkWait, WithoutAnAgentOnlyTheRelayIsServed)
{
    SendRelay(2);
    ASSERT_GT(WaitReadable(m_relay->GetSocket(), 1000), 0);
    SWaitOutcome outcome = ServeWhileWaiting(nullptr, m_relay.get(), nullptr, 200, false);
    EXPECT_EQ(outcome.snmpServed, 0u);
    EXPECT_EQ(outcome.relayServed, 2u);
}

TEST_F(NetworkWait, WithoutARelayOnlyTheAgentIsServedAndAnIdleWaitIsASleep)
{
    SendSnmp(2);
    ASSERT_GT(WaitReadable(m_agent->GetSocket(), 1000), 0);
    SWaitOutcome outcome = ServeWhileWaiting(m_agent.get(), nullptr, nullptr, 200, false);
    EXPECT_EQ(outcome.snmpServed, 2u);
    EXPECT_EQ(outcome.relayServed, 0u);

    const std::uint64_t start = GetMonotonicMilliseconds();
    outcome = ServeWhileWaiting(nullptr, nullptr, nullptr, 200, false);
    EXPECT_EQ(outcome.snmpServed + outcome.relayServed, 0u);
    EXPECT_GE(GetMonotonicMilliseconds() - start, 200u);
}

TEST_F(NetworkWait, ASleepThatServesStillLastsItsLength)
{
    // Serving must not shorten the loop's sleep: the UPS is polled once a
    // pass whatever arrives.
    const std::uint64_t start = GetMonotonicMilliseconds();
    SendSnmp(1);
    SWaitOutcome outcome = ServeWhileWaiting(m_agent.get(), m_relay.get(), nullptr, 300, false);
    EXPECT_EQ(outcome.snmpServed, 1u);
    EXPECT_GE(GetMonotonicMilliseconds() - start, 300u) << "a sleep keeps its length";
    EXPECT_EQ(RepliesWaiting(), 1);
}

// The HTTP server is served inside the same wait, beside SNMP, while a
// client that connects and sends nothing holds nothing up.
TEST_F(NetworkWait, HttpIsServedInsideTheWaitBesideSnmp)
{
    SPollCounters polls;
    SNetworkCounters counters;
    CHttpServer http(0, kLoopback, CAddressList(), polls, counters);
    auto connect = [&http] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(http.GetPort());
        to.sin_addr.s_addr = kLoopback;
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        return fd;
    };
    const int silent = connect();
    std::string answer;
    std::thread client([&] {
        const int fd = connect();
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        timeval wait { 5, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[16384];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
    });
    SendSnmp(1);
    const std::uint64_t start = GetMonotonicMilliseconds();
    SWaitOutcome outcome = ServeWhileWaiting(m_agent.get(), m_relay.get(), nullptr, 800, false, &http);
    EXPECT_GE(GetMonotonicMilliseconds() - start, 800u) << "a sleep keeps its length";
    client.join();
    ::close(silent);
    EXPECT_EQ(outcome.snmpServed, 1u);
    EXPECT_GE(outcome.httpRuns, 1u);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    EXPECT_NE(answer.find("\npvx_ups_connected 0\n"), std::string::npos) << answer;
    EXPECT_EQ(RepliesWaiting(), 1);
}

} // namespace
} // namespace pvx
