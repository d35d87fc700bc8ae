// The serial line's waits lent to SNMP, against real loopback sockets and a
// pipe standing in for the line: reads are answered during the wait, the
// line's bytes end it at once, a SET is kept until the exchange is over, and
// nothing served in a wait starts an exchange of its own.
#include "platform/Portability.h"
#include "service/SerialWaitLender.h"
#include "snmp/agent/SNMPAgent.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <unistd.h>
#include <vector>

namespace pvx {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// SNMPv1 GetRequest for upsIdentName.0, and a SetRequest of it to "x".
const Bytes kGet = { 0x30, 0x28, 0x02, 0x01, 0x00, 0x04, 0x06, 'g', 'a', 'v', 'r', 'e', 'l', 0xA0, 0x1B, 0x02, 0x01,
    0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x10, 0x30, 0x0E, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x21,
    0x01, 0x01, 0x05, 0x00, 0x05, 0x00 };
const Bytes kSet = { 0x30, 0x2A, 0x02, 0x01, 0x00, 0x04, 0x07, 's', 'o', 't', 'w', 'i', 'c', 'k', 0xA3, 0x1C, 0x02,
    0x01, 0x02, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x11, 0x30, 0x0F, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x02, 0x01,
    0x21, 0x01, 0x01, 0x05, 0x00, 0x04, 0x01, 'x' };

// A UPS whose name is set through a serial pause, as a SET that needs the
// line would be; it counts the sets it was given.
class CLineUPS : public CAbstractUPS {
public:
    CLineUPS() : CAbstractUPS(nullptr, nullptr) { Start(); }
    int GetUPSType() override { return 2; }
    void Identify() override { }
    void ReadValues() override { }
    void SetMIBData(CMIBData& value) override
    {
        if (IsCheckingSet())
            return; // the agent checks every binding before it applies any
        SerialPause(pauseMs);
        ++sets;
        m_upsName = value.GetText();
    }
    std::uint32_t pauseMs = 0;
    int sets = 0;
};

// The error-status of an SNMPv1 reply.
int ErrorStatusOf(SDatagram& reply)
{
    CBasicEncodingRulesBuffer message(std::span(reply.data).first(reply.length));
    message.ReadHeader(ber::kSequence);
    message.ReadInteger(); // version
    message.ReadOctetStringView(); // community
    message.ReadByte(); // the GetResponse PDU
    message.ReadLength();
    message.ReadInteger(); // request-id
    return message.ReadInteger();
}

class SerialWaitLender : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_agent = std::make_unique<CSNMPAgent>(0, 162, 0, kLoopback, "gavrel", "sotwick", "gavrel");
        m_ups = std::make_unique<CLineUPS>();
        m_client = CreateSocket(2, 1, 0);
        ASSERT_TRUE(BindSocket(m_client.Get(), 0, kLoopback));
        ASSERT_EQ(::pipe(m_line), 0);
    }
    void TearDown() override
    {
        ::close(m_line[0]);
        ::close(m_line[1]);
    }
    void Send(const Bytes& bytes)
    {
        SDatagram datagram;
        datagram.address = kLoopback;
        datagram.port = m_agent->GetBoundPort();
        datagram.length = static_cast<std::uint32_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), datagram.data.begin());
        ASSERT_TRUE(SendTo(m_client.Get(), datagram));
    }
    // The error-status of each reply waiting for the client.
    std::vector<int> Replies()
    {
        std::vector<int> statuses;
        SDatagram datagram;
        while (WaitReadable(m_client.Get(), 50) > 0 && ReceiveFrom(m_client.Get(), datagram))
            statuses.push_back(ErrorStatusOf(datagram));
        return statuses;
    }

    std::unique_ptr<CSNMPAgent> m_agent;
    std::unique_ptr<CAbstractUPS> m_ups;
    CUniqueFd m_client;
    int m_line[2] = { -1, -1 };
};

TEST_F(SerialWaitLender, ServesReadsKeepsSetsAndEndsOnTheLine)
{
    struct SCase {
        const char* name;
        std::vector<Bytes> requests;
        bool lineTalks; // bytes wait on the line
        int result;
        std::vector<int> during; // error-status of the replies during the wait
        std::vector<int> after; // and of the kept SET served afterwards
    };
    const SCase cases[] = {
        { "reads are answered and the wait runs its time", { kGet, kGet }, false, 0, { 0, 0 }, {} },
        { "bytes on the line end the wait before anything is served", { kGet }, true, 1, {}, { } },
        { "a SET is kept, a second is answered genErr", { kSet, kSet, kGet }, false, 0, { 5, 0 }, { 0 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CSerialWaitLender lender(m_agent.get(), nullptr, m_ups);
        for (const Bytes& request : c.requests)
            Send(request);
        if (c.lineTalks) {
            ASSERT_EQ(::write(m_line[1], "x", 1), 1);
        }
        WaitReadable(m_agent->GetSocket(), 500); // the datagrams are in
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitSerialReadable(m_line[0], 300), c.result);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(took >= std::chrono::milliseconds(290), !c.lineTalks);
        EXPECT_EQ(Replies(), c.during);
        EXPECT_EQ(static_cast<CLineUPS&>(*m_ups).sets, 0) << "nothing applied during the wait";
        m_agent->ServeDeferred(m_ups.get());
        EXPECT_EQ(Replies(), c.after);
        EXPECT_EQ(static_cast<CLineUPS&>(*m_ups).sets, static_cast<int>(c.after.size()));
        static_cast<CLineUPS&>(*m_ups).sets = 0;
        char drained[16];
        if (c.lineTalks) {
            ASSERT_EQ(::read(m_line[0], drained, sizeof drained), 1);
        }
        while (m_agent->IsRequestWaiting())
            m_agent->ServeRequest(m_ups.get()); // what the wait left
        Replies();
    }
}

// A SET waiting on the line itself (its exchange in a serial pause) is not
// interrupted by the agent's next request: that waits for the SET's end.
TEST_F(SerialWaitLender, TheAgentsOwnSetWaitingOnTheLineIsNotInterrupted)
{
    CSerialWaitLender lender(m_agent.get(), nullptr, m_ups);
    static_cast<CLineUPS&>(*m_ups).pauseMs = 200;
    Send(kSet);
    Send(kGet);
    ASSERT_GT(WaitReadable(m_agent->GetSocket(), 500), 0);
    m_agent->ServeRequest(m_ups.get());
    EXPECT_EQ(static_cast<CLineUPS&>(*m_ups).sets, 1);
    EXPECT_EQ(Replies(), std::vector<int> { 0 }) << "the GET still waits";
    EXPECT_TRUE(m_agent->IsRequestWaiting());
}

} // namespace
} // namespace pvx
