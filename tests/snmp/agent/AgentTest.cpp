// Tests of the SNMP agent: requests over 127.0.0.1 served from a scripted UPS,
// error replies, communities, the trap-control objects, traps and hostile input.
#include "snmp/agent/SNMPAgent.h"

#include "AgentTestSupport.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <optional>

namespace pvx {
namespace {

using namespace pvx::test;
using Outcome = CSNMPAgent::ERequestOutcome;

const std::uint32_t kLoopback = Ipv4(127, 0, 0, 1);
const std::uint32_t kSecondLoopback = Ipv4(127, 0, 0, 2);

// Names of the scripted MIB.
const COid kManufacturer { 2, 1, 33, 1, 1, 1, 0 };
const COid kBatteryStatus { 2, 1, 33, 1, 2, 1, 0 };
const COid kMinutesRemaining { 2, 1, 33, 1, 2, 3, 0 };
const COid kShutdownType { 2, 1, 33, 1, 8, 1, 0 };
const COid kLastObject { 4, 1, 534, 1, 10, 5, 0 };

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_manager.IsBound());
        ASSERT_TRUE(m_trapListener.IsBound());
        // A second listener on the same port of another loopback address, to
        // tell apart traps sent to two managers.
        m_secondListener.emplace(kSecondLoopback, m_trapListener.Port());
        ASSERT_TRUE(m_secondListener->IsBound());

        m_ups.AddObject(kManufacturer, CMIBData(std::string_view("Volt"), 31, MIB_TEXT));
        m_ups.AddObject(kBatteryStatus, CMIBData(2u, 2147483647u, MIB_UNSIGNED));
        m_ups.AddObject(kMinutesRemaining, CMIBData(45u, 2147483647u, MIB_ENUMERATED));
        m_ups.AddObject(kShutdownType, CMIBData(1u, 2u, MIB_ENUMERATED));
        m_ups.AddObject(kLastObject, CMIBData(std::string_view("01/02/2026:03:04:05"), 255, MIB_TEXT));

        m_agent = std::make_unique<CSNMPAgent>(
            0, m_trapListener.Port(), kLoopback, kLoopback, "public", "private", "traps");
        ASSERT_NE(m_agent->GetBoundPort(), 0);
        ASSERT_TRUE(m_trapListener.Receive(2000).has_value()) << "coldStart";
    }

    // Sends a request from the manager socket, lets the agent serve it and
    // returns the reply, if any came.
    std::optional<Bytes> Exchange(const Bytes& request, CAbstractUPS* ups, std::uint32_t replyWaitMs = 2000)
    {
        EXPECT_TRUE(m_manager.Send(request, kLoopback, m_agent->GetBoundPort()));
        for (int i = 0; i < 200 && !m_agent->IsRequestWaiting(); ++i)
            Sleep(5);
        EXPECT_TRUE(m_agent->IsRequestWaiting());
        m_agent->ServeRequest(ups);
        return m_manager.Receive(replyWaitMs);
    }

    // Runs one request through the agent without sockets, as if it came from `from`.
    Outcome Process(
        const Bytes& request, std::uint32_t from = kLoopback, CAbstractUPS* ups = nullptr, bool useScriptedUps = true)
    {
        SDatagram& datagram = m_agent->GetDatagram();
        datagram.address = from;
        datagram.port = 40000;
        datagram.length = static_cast<std::uint32_t>(std::min(request.size(), datagram.data.size()));
        std::copy_n(request.begin(), datagram.length, datagram.data.begin());
        return m_agent->ProcessRequest(useScriptedUps ? &m_ups : ups);
    }

    Bytes Answer() const
    {
        auto bytes = const_cast<CSNMPAgent&>(*m_agent).GetDatagram().Bytes();
        return Bytes(bytes.begin(), bytes.end());
    }

    CTestSocket m_manager { kLoopback, 0 };
    CTestSocket m_trapListener { kLoopback, 0 };
    std::optional<CTestSocket> m_secondListener;
    CScriptedUPS m_ups;
    std::unique_ptr<CSNMPAgent> m_agent;
};

TEST(AgentTraps, ColdStartBytes)
{
    CFakeClock clock(1000000); // time-stamp 100000 hundredths
    CScopedClock useClock(clock);
    CTestSocket listener(kLoopback, 0);
    ASSERT_TRUE(listener.IsBound());
    CSNMPAgent agent(0, listener.Port(), kLoopback, kLoopback, "public", "private", "traps");

    const Bytes expected {
        0x30, 0x82, 0x00, 0x3A, // message, 58 bytes
        0x02, 0x82, 0x00, 0x01, 0x00, //   version 0
        0x04, 0x82, 0x00, 0x05, 't', 'r', 'a', 'p', 's', //   trap community
        0xA4, 0x82, 0x00, 0x28, //   Trap-PDU, 40 bytes
        0x06, 0x82, 0x00, 0x07, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x0B, 0x00, //     enterprise 1.3.6.1.2.1.11.0
        0x40, 0x82, 0x00, 0x04, 0x7F, 0x00, 0x00, 0x01, //     agent-addr 127.0.0.1
        0x02, 0x82, 0x00, 0x01, 0x00, //     generic-trap coldStart
        0x02, 0x82, 0x00, 0x01, 0x00, //     specific-trap 0
        0x43, 0x82, 0x00, 0x03, 0x01, 0x86, 0xA0, //     time-stamp 100000
        0x30, 0x82, 0x00, 0x00, //     no bindings
    };
    auto trap = listener.Receive(2000);
    ASSERT_TRUE(trap.has_value());
    EXPECT_EQ(*trap, expected);
}

TEST(AgentTraps, NoTrapHostMeansNoDestinationAndNoColdStart)
{
    CSNMPAgent agent(0, 162, 0, kLoopback, "public", "private", "traps");
    EXPECT_TRUE(agent.GetTrapDestinations().empty());
    EXPECT_EQ(agent.GetAgentAddress(), kLoopback);
}

TEST(AgentTraps, AgentAddressComesFromTheHostNameWithoutSourceAddress)
{
    std::string hostName;
    std::uint32_t expected = 0;
    if (!GetHostName(hostName) || !ResolveHost(hostName, expected))
        expected = 0;
    CSNMPAgent agent(0, 162, 0, 0, "public", "private", "traps");
    EXPECT_EQ(agent.GetAgentAddress(), expected);
}

TEST(AgentTraps, BindingAnUsedPortFails)
{
    CSNMPAgent first(0, 162, 0, kLoopback, "public", "private", "traps");
    try {
        CSNMPAgent second(first.GetBoundPort(), 162, 0, kLoopback, "public", "private", "traps");
        FAIL() << "second bind succeeded";
    } catch (const CPVXException& e) {
        EXPECT_EQ(e.GetCode(), EVENT_SOCKET_BIND);
    }
}

TEST_F(AgentTest, GetReplyBytes)
{
    EXPECT_FALSE(m_agent->IsRequestWaiting());
    auto reply = Exchange(Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 1, 1, 0 })) }), &m_ups);
    ASSERT_TRUE(reply.has_value());
    const Bytes expected {
        0x30, 0x82, 0x00, 0x40, // message, 64 bytes
        0x02, 0x82, 0x00, 0x01, 0x00, //   version 0
        0x04, 0x82, 0x00, 0x06, 'p', 'u', 'b', 'l', 'i', 'c', //   request community
        0xA2, 0x82, 0x00, 0x2D, //   GetResponse, 45 bytes
        0x02, 0x82, 0x00, 0x01, 0x2A, //     request-id 42
        0x02, 0x82, 0x00, 0x01, 0x00, //     error-status
        0x02, 0x82, 0x00, 0x01, 0x00, //     error-index
        0x30, 0x82, 0x00, 0x1A, //     bindings
        0x30, 0x82, 0x00, 0x16, //       binding
        0x06, 0x82, 0x00, 0x0A, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x21, 0x01, 0x01, 0x01, 0x00, 0x04, 0x82, 0x00, 0x04, 'V',
        'o', 'l', 't', //         "Volt"
    };
    EXPECT_EQ(*reply, expected);
    ASSERT_EQ(m_ups.m_gets.size(), 1u);
    EXPECT_EQ(m_ups.m_gets[0], std::make_pair(kManufacturer, false));
}

TEST_F(AgentTest, AnsweredRequests)
{
    struct Case {
        const char* name;
        Bytes request;
        std::vector<std::pair<COid, Bytes>> expected; // name and value bytes (tag, length, contents)
    };
    const Case cases[] = {
        { "get of two objects, numbers always as INTEGER",
            Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })), Binding(Oid({ 2, 1, 33, 1, 2, 3, 0 })) }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } }, { kMinutesRemaining, { 0x02, 0x01, 0x2D } } } },
        { "get with the set community", Message("private", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })) }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } } } },
        { "a name without its 0 arc gains one", Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1 })) }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } } } },
        { "get-next answers the following object", Message("public", 0xA1, { Binding(Oid({ 2, 1, 33, 1, 1, 1, 0 })) }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } } } },
        { "get-next of 1.3.6.1", Message("public", 0xA1, { Binding(Oid({ 0 })) }),
            { { kManufacturer, { 0x04, 0x04, 'V', 'o', 'l', 't' } } } },
        // The start of a walk of everything: names before 1.3.6.1.
        { "get-next of 1", Message("public", 0xA1, { Binding(Tlv(0x06, { 0x01 })) }),
            { { kManufacturer, { 0x04, 0x04, 'V', 'o', 'l', 't' } } } },
        { "get-next of 1.3", Message("public", 0xA1, { Binding(Tlv(0x06, { 0x2B })) }),
            { { kManufacturer, { 0x04, 0x04, 'V', 'o', 'l', 't' } } } },
        { "get-next of 0.0", Message("public", 0xA1, { Binding(Tlv(0x06, { 0x00 })) }),
            { { kManufacturer, { 0x04, 0x04, 'V', 'o', 'l', 't' } } } },
        { "the value sent with a get is not looked at",
            Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 }), Int(77)) }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } } } },
        { "empty binding list", Message("public", 0xA0, {}), {} },
        { "a binding longer than the data adds no entry",
            // The first header claims 0x40 bytes; what follows it is a complete binding.
            Message("public", 0xA0, { Concat({ { 0x30, 0x40 }, Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })) }) }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } } } },
        { "one or two trailing bytes in the list are ignored",
            Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })), { 0x30, 0x00 } }),
            { { kBatteryStatus, { 0x02, 0x01, 0x02 } } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Process(c.request), Outcome::Answered);
        auto reply = ParseMessage(Answer());
        EXPECT_EQ(reply.pduTag, 0xA2);
        // The request community is echoed; byte 6 of these requests is its length.
        EXPECT_EQ(reply.community, std::string(c.request.begin() + 7, c.request.begin() + 7 + c.request[6]));
        EXPECT_EQ(reply.requestId, 42);
        EXPECT_EQ(reply.errorStatus, 0);
        EXPECT_EQ(reply.errorIndex, 0);
        EXPECT_TRUE(reply.trailer.empty());
        ASSERT_EQ(reply.bindings.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(reply.bindings[i].name, c.expected[i].first) << reply.bindings[i].name.ToString();
            Bytes value { reply.bindings[i].tag, static_cast<std::uint8_t>(reply.bindings[i].contents.size()) };
            value.insert(value.end(), reply.bindings[i].contents.begin(), reply.bindings[i].contents.end());
            EXPECT_EQ(value, c.expected[i].second);
        }
    }
}

// SNMPv2c: the same tree, RFC 3416 answers. Each case: what the reply holds.
TEST_F(AgentTest, Version2cReadsAndSets)
{
    const COid kAbsentInstance { 2, 1, 33, 1, 3, 3, 5, 3, 0 };
    const COid kUnwritable { 2, 1, 33, 1, 9, 1, 0 };
    m_ups.FailGet(kAbsentInstance, EVENT_NO_SUCH_INSTANCE);
    m_ups.FailSet(kBatteryStatus, EVENT_READ_ONLY);
    m_ups.FailSet(kManufacturer, EVENT_NO_SUCH_INSTANCE);
    m_ups.FailSet(kMinutesRemaining, EVENT_BAD_VALUE);
    m_ups.FailSet(kUnwritable, EVENT_NO_SUCH_OBJECT);
    struct Case {
        const char* name;
        Bytes request;
        std::int32_t status, index;
        std::vector<std::pair<COid, std::uint8_t>> bindings; // name and value tag of a normal reply
    };
    auto v2 = [](std::uint8_t pdu, const std::vector<Bytes>& bindings) {
        return Message("private", pdu, bindings, 42, 1);
    };
    const Bytes battery = Oid({ 2, 1, 33, 1, 2, 1, 0 });
    const Case cases[] = {
        { "get of a value, an unknown object and an absent instance",
            v2(0xA0, { Binding(battery), Binding(Oid({ 2, 1, 33, 1, 2, 9, 0 })), Binding(Oid({ 2, 1, 33, 1, 3, 3, 5, 3, 0 })) }),
            0, 0, { { kBatteryStatus, 0x02 }, { { 2, 1, 33, 1, 2, 9, 0 }, 0x80 }, { kAbsentInstance, 0x81 } } },
        // The trap-control objects answer GET, so a walk meets them too.
        { "get-next after the tree's last object is the trap level",
            v2(0xA1, { Binding(Oid({ 4, 1, 534, 1, 10, 5, 0 })) }), 0, 0, { { kTrapLevelOid, 0x02 } } },
        { "get-next after the trap type is endOfMibView", v2(0xA1, { Binding(Oid({ 4, 1, 534, 1, 11, 2, 0 })) }), 0,
            0, { { kTrapTypeOid, 0x82 } } },
        { "a failure that is no exception value stays an error",
            v2(0xA0, { Binding(battery), Binding(Oid({ 2, 1, 33, 1, 7, 1, 0 })) }), SNMP_GEN_ERR, 2, {} },
        { "bulk: one non-repeater, two rounds of two repeaters",
            BulkMessage(1, 2, { Binding(Oid({ 0 })), Binding(battery), Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 })) }), 0, 0,
            { { kManufacturer, 0x04 }, { kMinutesRemaining, 0x02 }, { kLastObject, 0x04 }, { kShutdownType, 0x02 },
                { kTrapLevelOid, 0x02 } } },
        { "bulk stops once every repeater has ended",
            BulkMessage(0, 1000, { Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 })) }), 0, 0,
            { { kLastObject, 0x04 }, { kTrapLevelOid, 0x02 }, { kTrapTypeOid, 0x02 }, { kTrapTypeOid, 0x82 } } },
        { "bulk with no repeaters answers the non-repeaters", BulkMessage(5, 9, { Binding(battery) }), 0, 0,
            { { kMinutesRemaining, 0x02 } } },
        { "set of a read-only object is notWritable", v2(0xA3, { Binding(battery, Int(3)) }), SNMP_NOT_WRITABLE, 1, {} },
        { "set of an unknown object is notWritable", v2(0xA3, { Binding(Oid({ 2, 1, 33, 1, 9, 1, 0 }), Int(3)) }),
            SNMP_NOT_WRITABLE, 1, {} },
        { "set of an absent instance is noCreation", v2(0xA3, { Binding(Oid({ 2, 1, 33, 1, 1, 1, 0 }), Str("x")) }),
            SNMP_NO_CREATION, 1, {} },
        { "set of a refused value is wrongValue", v2(0xA3, { Binding(Oid({ 2, 1, 33, 1, 2, 3, 0 }), Int(3)) }),
            SNMP_WRONG_VALUE, 1, {} },
        { "set of a type no object takes is wrongType", v2(0xA3, { Binding(battery, Tlv(0x40, { 1, 2, 3, 4 })) }),
            SNMP_WRONG_TYPE, 1, {} },
    };
    m_ups.FailGet(COid { 2, 1, 33, 1, 7, 1, 0 }, 0xC0020034);
    m_agent->SetVersion2c(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Process(c.request), Outcome::Answered);
        auto reply = ParseMessage(Answer());
        EXPECT_EQ(reply.version, 1);
        EXPECT_EQ(reply.pduTag, 0xA2);
        EXPECT_TRUE(reply.trailer.empty());
        EXPECT_EQ(reply.errorStatus, c.status);
        EXPECT_EQ(reply.errorIndex, c.index);
        if (c.status != 0)
            continue;
        ASSERT_EQ(reply.bindings.size(), c.bindings.size());
        for (std::size_t i = 0; i < c.bindings.size(); ++i) {
            EXPECT_EQ(reply.bindings[i].name, c.bindings[i].first) << i << " " << reply.bindings[i].name.ToString();
            EXPECT_EQ(reply.bindings[i].tag, c.bindings[i].second) << i;
        }
    }
}

TEST_F(AgentTest, Version2cIsDroppedUnlessEnabledAndGetBulkFillsTheReplyWithoutTooBig)
{
    const COid kBig { 2, 1, 33, 1, 1, 2, 0 };
    m_ups.AddObject(kBig, CMIBData(std::string(250, 'x'), 255, MIB_TEXT));
    const Bytes request = BulkMessage(0, 1, std::vector<Bytes>(10, Binding(Oid({ 2, 1, 33, 1, 1, 1, 0 }))));
    EXPECT_EQ(Process(request), Outcome::Dropped);
    EXPECT_EQ(Process(Message("public", 0xA0, { Binding(Oid({ 0 })) }, 42, 1)), Outcome::Dropped);
    m_agent->SetVersion2c(true);
    EXPECT_EQ(Process(Message("public", 0xA5, { Binding(Oid({ 0 })) })), Outcome::Dropped) << "GetBulk is not SNMPv1";
    ASSERT_EQ(Process(request), Outcome::Answered);
    auto reply = ParseMessage(Answer());
    EXPECT_EQ(reply.errorStatus, 0);
    EXPECT_EQ(reply.bindings.size(), 4u) << "as many 250-byte values as fit in 1172 bytes";
    EXPECT_LE(Answer().size(), 1172u);
}

// With RFC 1628 names every reply names its bindings exactly as asked: no 0
// arc is added to a table cell.
TEST_F(AgentTest, StandardNamesAnswerUnderTheNameAsked)
{
    m_ups.AddObject(COid { 2, 1, 33, 1, 3, 3, 1, 3, 0 }, CMIBData(230u, 2147483647u, MIB_UNSIGNED));
    m_ups.SetStandardNames(true);
    // The name's contents on the wire, then the tag of the value that follows it.
    auto nameThenValue = [](std::initializer_list<std::uint32_t> arcs, std::uint8_t valueTag) {
        Bytes name = Oid(arcs);
        Bytes contents(name.begin() + 2, name.end());
        contents.push_back(valueTag);
        return contents;
    };
    struct Case {
        const char* name;
        Bytes request;
        std::int32_t status;
        Bytes expected; // found in the reply
    };
    const Case cases[] = {
        { "input voltage of line 1", Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 3, 3, 1, 3, 1 })) }), 0,
            nameThenValue({ 2, 1, 33, 1, 3, 3, 1, 3, 1 }, 0x02) },
        { "scalar .0", Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })) }), 0,
            nameThenValue({ 2, 1, 33, 1, 2, 1, 0 }, 0x02) },
        { "a scalar without .0 is no instance", Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1 })) }),
            SNMP_NO_SUCH_NAME, {} },
        { "set repeats the name asked", Message("private", 0xA3, { Binding(Oid({ 2, 1, 33, 1, 1, 5, 0 }), Str("r")) }),
            0, nameThenValue({ 2, 1, 33, 1, 1, 5, 0 }, 0x04) },
        { "set of a scalar without .0", Message("private", 0xA3, { Binding(Oid({ 2, 1, 33, 1, 1, 5 }), Str("r")) }),
            SNMP_NO_SUCH_NAME, {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Process(c.request), Outcome::Answered);
        const Bytes reply = Answer();
        EXPECT_EQ(ParseMessage(reply).errorStatus, c.status);
        if (!c.expected.empty()) {
            EXPECT_NE(std::search(reply.begin(), reply.end(), c.expected.begin(), c.expected.end()), reply.end());
        }
    }
}

TEST_F(AgentTest, SetAppliesValuesAndRepeatsTheBindings)
{
    auto reply = Exchange(
        Message("private", 0xA3,
            { Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 }), Int(2)), Binding(Oid({ 2, 1, 33, 1, 1, 5, 0 }), Str("rack 4")),
                Binding(Oid({ 2, 1, 33, 1, 7, 1, 0 }), Oid({ 2, 1, 33, 1, 7, 7, 4 })) },
            7),
        &m_ups);
    ASSERT_TRUE(reply.has_value());
    auto parsed = ParseMessage(*reply);
    EXPECT_EQ(parsed.requestId, 7);
    EXPECT_EQ(parsed.errorStatus, 0);
    EXPECT_TRUE(parsed.trailer.empty());
    ASSERT_EQ(parsed.bindings.size(), 3u);
    EXPECT_EQ(parsed.bindings[0].contents, Bytes { 0x02 });
    EXPECT_EQ(parsed.bindings[1].contents, Bytes({ 'r', 'a', 'c', 'k', ' ', '4' }));
    EXPECT_EQ(parsed.bindings[2].tag, 0x06);
    EXPECT_EQ(parsed.bindings[2].contents, Bytes({ 0x2B, 0x06, 0x01, 0x02, 0x01, 0x21, 0x01, 0x07, 0x07, 0x04, 0x00 }));

    ASSERT_EQ(m_ups.m_sets.size(), 3u);
    EXPECT_EQ(m_ups.m_sets[0].name, kShutdownType);
    EXPECT_EQ(m_ups.m_sets[0].kind, MIB_SIGNED);
    EXPECT_EQ(m_ups.m_sets[0].integer, 2);
    EXPECT_EQ(m_ups.m_sets[1].text, "rack 4");
    EXPECT_EQ(m_ups.m_sets[2].kind, MIB_OID);
}

// Error replies are the request's own bytes with the PDU tag, error-status and
// error-index changed. In the short-form requests built here the PDU tag is
// byte 13, error-status byte 20 and error-index byte 23 (community "public"
// or "private" shifts them by one).
Bytes AsErrorReply(Bytes request, std::int32_t status, std::int32_t index)
{
    std::size_t shift = request[6] - 6; // community length beyond "public"
    request[13 + shift] = 0xA2;
    request[20 + shift] = static_cast<std::uint8_t>(status);
    request[23 + shift] = static_cast<std::uint8_t>(index);
    return request;
}

TEST_F(AgentTest, ErrorReplies)
{
    const COid unknown { 2, 1, 33, 1, 2, 9, 0 };
    m_ups.FailGet(kShutdownType, EVENT_COMMAND_FAILED);
    m_ups.FailSet(kBatteryStatus, EVENT_READ_ONLY);
    m_ups.FailSet(kShutdownType, EVENT_BAD_VALUE);
    m_ups.FailSet(unknown, EVENT_NO_SUCH_OBJECT);
    m_ups.FailSet(kMinutesRemaining, EVENT_COMMAND_FAILED);

    const Bytes battery = Oid({ 2, 1, 33, 1, 2, 1, 0 });
    const Bytes minutes = Oid({ 2, 1, 33, 1, 2, 3, 0 });
    const Bytes shutdownType = Oid({ 2, 1, 33, 1, 8, 1, 0 });
    const Bytes unknownName = Oid({ 2, 1, 33, 1, 2, 9, 0 });
    struct Case {
        const char* name;
        Bytes request;
        std::int32_t status;
        std::int32_t index;
    };
    const Case cases[] = {
        { "unknown second of three",
            Message("public", 0xA0, { Binding(battery), Binding(unknownName), Binding(minutes) }), SNMP_NO_SUCH_NAME,
            2 },
        { "other tree failure", Message("public", 0xA0, { Binding(battery), Binding(shutdownType) }), SNMP_GEN_ERR, 2 },
        { "walk ends after the trap type", Message("public", 0xA1, { Binding(Oid({ 4, 1, 534, 1, 11, 2, 0 })) }),
            SNMP_NO_SUCH_NAME, 1 },
        { "name after 1.3.6.1", Message("public", 0xA0, { Binding(Tlv(0x06, { 0x2B, 0x06, 0x02, 0x01 })) }),
            SNMP_NO_SUCH_NAME, 1 },
        { "walk past 1.3.6.1 ends", Message("public", 0xA1, { Binding(Tlv(0x06, { 0x50 })) }), SNMP_NO_SUCH_NAME, 1 },
        { "GET of a name before 1.3.6.1", Message("public", 0xA0, { Binding(Tlv(0x06, { 0x2B })) }),
            SNMP_NO_SUCH_NAME, 1 },
        { "binding that is not a SEQUENCE", Message("public", 0xA0, { Binding(battery), Tlv(0x31, battery) }),
            SNMP_GEN_ERR, 2 },
        { "name running past its binding",
            Message("public", 0xA0, { Concat({ { 0x30, 0x02 }, battery }), Binding(battery) }), SNMP_GEN_ERR, 1 },
        { "set read-only", Message("private", 0xA3, { Binding(battery, Int(3)) }), SNMP_READ_ONLY, 1 },
        { "set other failure", Message("private", 0xA3, { Binding(minutes, Str("x")), Binding(shutdownType, Int(9)) }),
            SNMP_GEN_ERR, 1 },
        { "set bad value second",
            Message("private", 0xA3, { Binding(Oid({ 2, 1, 9, 0 }), Int(1)), Binding(shutdownType, Int(9)) }),
            SNMP_BAD_VALUE, 2 },
        { "set unknown", Message("private", 0xA3, { Binding(unknownName, Int(1)) }), SNMP_NO_SUCH_NAME, 1 },
        // A value of a type no object takes is badValue in SNMPv1 (RFC 1157 4.1.5).
        { "set NULL value", Message("private", 0xA3, { Binding(battery) }), SNMP_BAD_VALUE, 1 },
        { "set IpAddress value", Message("private", 0xA3, { Binding(battery, Tlv(0x40, { 1, 2, 3, 4 })) }),
            SNMP_BAD_VALUE, 1 },
        { "set TimeTicks value", Message("private", 0xA3, { Binding(battery, Tlv(0x43, { 1 })) }), SNMP_BAD_VALUE, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Process(c.request), Outcome::Answered);
        EXPECT_EQ(Answer(), AsErrorReply(c.request, c.status, c.index));
    }
}

TEST_F(AgentTest, NoUpsAnswersGenErrWithIndexZero)
{
    Bytes request = Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })) });
    auto reply = Exchange(request, nullptr);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, AsErrorReply(request, SNMP_GEN_ERR, 0));

    Bytes set = Message("private", 0xA3, { Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 }), Int(1)) });
    ASSERT_EQ(Process(set, kLoopback, nullptr, false), Outcome::Answered);
    EXPECT_EQ(Answer(), AsErrorReply(set, SNMP_GEN_ERR, 0));
}

// A set is all or nothing: a binding that fails its checks leaves every
// other unapplied (in SNMPv1 too, end to end in SnmpStandardsTest); one that
// fails while applying has those before it undone, and the reply says
// whether the undo worked.
TEST_F(AgentTest, ASetIsAllOrNothing)
{
    const COid name { 2, 1, 33, 1, 1, 5, 0 };
    const std::vector<std::vector<std::uint32_t>> nameUndone { { name.Arcs().begin(), name.Arcs().end() } };
    enum EFails { Check, Apply, ApplyAndUndo }; // the shutdown type in the middle fails
    struct SCase {
        const char* what;
        std::int32_t version;
        EFails fails;
        std::int32_t status;
    };
    const SCase cases[] = {
        { "checks fail: nothing applied", 1, Check, SNMP_WRONG_VALUE },
        { "applying fails: undone, genErr (v1)", 0, Apply, SNMP_GEN_ERR },
        { "applying fails: undone, commitFailed (v2c)", 1, Apply, SNMP_COMMIT_FAILED },
        { "the undo fails too: undoFailed (v2c)", 1, ApplyAndUndo, SNMP_UNDO_FAILED },
    };
    m_agent->SetVersion2c(true);
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        m_ups.ClearSets();
        if (c.fails == Check)
            m_ups.FailSet(kShutdownType, EVENT_BAD_VALUE);
        else
            m_ups.FailApply(kShutdownType, EVENT_COMMAND_FAILED);
        if (c.fails == ApplyAndUndo)
            m_ups.FailUndo(name);
        Bytes request = Message("private", 0xA3,
            { Binding(Oid({ 2, 1, 33, 1, 1, 5, 0 }), Str("a")), Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 }), Int(9)),
                Binding(Oid({ 2, 1, 33, 1, 1, 6, 0 }), Str("b")) },
            42, c.version);
        ASSERT_EQ(Process(request), Outcome::Answered);
        EXPECT_EQ(Answer(), AsErrorReply(request, c.status, 2));
        EXPECT_EQ(m_ups.m_sets.size(), c.fails == Check ? 0u : 1u);
        EXPECT_EQ(m_ups.m_undone, c.fails == Apply ? nameUndone : decltype(nameUndone) {});
    }
}

TEST_F(AgentTest, ReplyTooBigBecomesTooBigError)
{
    m_ups.AddObject(kManufacturer, CMIBData(std::string(255, 'x'), 255, MIB_TEXT));
    std::vector<Bytes> bindings(5, Binding(Oid({ 2, 1, 33, 1, 1, 1, 0 })));
    Bytes request = Message("public", 0xA0, bindings);
    auto reply = Exchange(request, &m_ups);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, AsErrorReply(request, SNMP_TOO_BIG, 0));

    // Four of them fit.
    bindings.pop_back();
    ASSERT_EQ(Process(Message("public", 0xA0, bindings)), Outcome::Answered);
    EXPECT_EQ(ParseMessage(Answer()).bindings.size(), 4u);
}

TEST_F(AgentTest, Communities)
{
    const Bytes binding = Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 }), Int(2));
    struct Case {
        std::string community;
        std::uint8_t pdu;
        std::int32_t version;
        Outcome outcome;
    };
    const Case cases[] = {
        { "public", 0xA0, 0, Outcome::Answered },
        { "private", 0xA1, 0, Outcome::Answered },
        { "private", 0xA3, 0, Outcome::Answered },
        { "public", 0xA3, 0, Outcome::AuthenticationFailure }, // set needs the set community
        { "Public", 0xA0, 0, Outcome::AuthenticationFailure },
        { "publi", 0xA0, 0, Outcome::AuthenticationFailure },
        { "publicc", 0xA0, 0, Outcome::AuthenticationFailure },
        { std::string("public\0", 7), 0xA0, 0, Outcome::AuthenticationFailure },
        { "", 0xA0, 0, Outcome::AuthenticationFailure },
        { "public", 0xA0, 1, Outcome::Dropped }, // SNMPv2c
        { "wrong", 0xA0, 1, Outcome::Dropped }, // the version is checked first
        { "public", 0xA2, 0, Outcome::Dropped },
        { "public", 0xA4, 0, Outcome::Dropped },
        { "wrong", 0xA2, 0, Outcome::AuthenticationFailure },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.community) + " pdu " + std::to_string(c.pdu));
        EXPECT_EQ(Process(Message(c.community, c.pdu, { binding }, 42, c.version)), c.outcome);
    }
}

TEST_F(AgentTest, WrongCommunityGetsNoReplyButAnAuthenticationFailureTrap)
{
    CFakeClock clock;
    CScopedClock useClock(clock);
    auto reply = Exchange(Message("secret", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })) }), &m_ups, 200);
    EXPECT_FALSE(reply.has_value());
    auto trap = m_trapListener.Receive(2000);
    ASSERT_TRUE(trap.has_value());
    auto parsed = ParseMessage(*trap);
    EXPECT_EQ(parsed.pduTag, 0xA4);
    EXPECT_EQ(parsed.community, "traps");
    EXPECT_EQ(parsed.enterprise, (COid { 2, 1, 11, 0 }));
    EXPECT_EQ(parsed.agentAddress, Bytes({ 127, 0, 0, 1 }));
    EXPECT_EQ(parsed.genericTrap, 4);
    EXPECT_EQ(parsed.specificTrap, 0);
    EXPECT_TRUE(parsed.bindings.empty());
    EXPECT_TRUE(parsed.trailer.empty());
    EXPECT_TRUE(m_ups.m_gets.empty());

    // A set with the get community is refused the same way (once the rate
    // bound of these traps lets the next one go).
    clock.Advance(10000);
    EXPECT_FALSE(Exchange(Message("public", 0xA3, { Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 }), Int(1)) }), &m_ups, 200));
    EXPECT_TRUE(m_trapListener.Receive(2000).has_value());
    EXPECT_TRUE(m_ups.m_sets.empty());
}

TEST_F(AgentTest, TrapControlObjectsAreAnsweredPerManager)
{
    const std::uint32_t first = Ipv4(10, 0, 0, 1);
    const std::uint32_t second = Ipv4(10, 0, 0, 2);
    const Bytes level = Oid({ 4, 1, 534, 1, 11, 1, 0 });
    const Bytes type = Oid({ 4, 1, 534, 1, 11, 2, 0 });
    const std::uint16_t managerPort = m_trapListener.Port();

    struct Step {
        const char* name;
        std::uint32_t from;
        Bytes request;
        COid answerName; // of the single binding in the reply
        Bytes answerValue; // its INTEGER contents
        std::vector<STrapDestination> destinations; // after the step, beyond the trap host
        std::int32_t status = 0;
    };
    const Step steps[] = {
        { "no record reads level 1", first, Message("public", 0xA0, { Binding(level) }), kTrapLevelOid, { 0x01 }, {} },
        { "set level 3 creates a record", first, Message("private", 0xA3, { Binding(level, Int(3)) }), kTrapLevelOid,
            { 0x03 }, { { first, managerPort, 3, 1 } } },
        { "the same manager reads 3", first, Message("public", 0xA0, { Binding(level) }), kTrapLevelOid, { 0x03 },
            { { first, managerPort, 3, 1 } } },
        { "another manager still reads 1", second, Message("public", 0xA0, { Binding(level) }), kTrapLevelOid, { 0x01 },
            { { first, managerPort, 3, 1 } } },
        { "level 1 removes the record", first, Message("private", 0xA3, { Binding(level, Int(1)) }), kTrapLevelOid,
            { 0x01 }, {} },
        { "level 1 without a record changes nothing", second, Message("private", 0xA3, { Binding(level, Int(1)) }),
            kTrapLevelOid, { 0x01 }, {} },
        { "set type 4 creates level 1 type 4", second, Message("private", 0xA3, { Binding(type, Int(4)) }),
            kTrapTypeOid, { 0x04 }, { { second, managerPort, 1, 4 } } },
        { "get type", second, Message("public", 0xA0, { Binding(type) }), kTrapTypeOid, { 0x04 },
            { { second, managerPort, 1, 4 } } },
        { "get-next of the level answers the type", second, Message("public", 0xA1, { Binding(level) }), kTrapTypeOid,
            { 0x04 }, { { second, managerPort, 1, 4 } } },
        { "a text level is of the wrong type and changes nothing", second,
            Message("private", 0xA3, { Binding(level, Str("x")) }), kTrapLevelOid, {},
            { { second, managerPort, 1, 4 } }, SNMP_BAD_VALUE },
        { "no range check", second, Message("private", 0xA3, { Binding(type, Int(-7)) }), kTrapTypeOid, { 0xF9 },
            { { second, managerPort, 1, -7 } } },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_EQ(Process(step.request, step.from), Outcome::Answered);
        auto reply = ParseMessage(Answer());
        EXPECT_EQ(reply.errorStatus, step.status);
        ASSERT_EQ(reply.bindings.size(), 1u);
        EXPECT_EQ(reply.bindings[0].name, step.answerName);
        if (!step.answerValue.empty()) {
            EXPECT_EQ(reply.bindings[0].contents, step.answerValue);
        }
        const auto& destinations = m_agent->GetTrapDestinations();
        ASSERT_EQ(destinations.size(), 1 + step.destinations.size());
        EXPECT_EQ(destinations[0].address, kLoopback); // the configured trap host stays first
        for (std::size_t i = 0; i < step.destinations.size(); ++i) {
            EXPECT_EQ(destinations[1 + i].address, step.destinations[i].address);
            EXPECT_EQ(destinations[1 + i].port, step.destinations[i].port);
            EXPECT_EQ(destinations[1 + i].trapLevel, step.destinations[i].trapLevel);
            EXPECT_EQ(destinations[1 + i].trapType, step.destinations[i].trapType);
        }
    }
    EXPECT_TRUE(m_ups.m_sets.empty()) << "the trap-control objects never reach the UPS";
    EXPECT_TRUE(m_ups.m_gets.empty());

    // The trap type is the last object of the walk.
    Bytes request = Message("public", 0xA1, { Binding(type) });
    ASSERT_EQ(Process(request, second), Outcome::Answered);
    EXPECT_EQ(Answer(), AsErrorReply(request, SNMP_NO_SUCH_NAME, 1));
    EXPECT_TRUE(m_ups.m_gets.empty());
}

TEST(AgentTrapFilter, LevelsFamiliesAndTypes)
{
    const COid vendor { 4, 1, 534, 1, 0 };
    const COid vendorA { 4, 1, 534, 1, 11, 4, 1, 0 };
    const COid vendorB { 4, 1, 534, 1, 11, 4, 2, 0 };
    const COid upsTraps { 2, 1, 33, 2, 0 };
    const COid snmp { 2, 1, 11, 0 };
    struct Case {
        const COid& enterprise;
        std::int32_t specific;
        std::int32_t level;
    };
    const Case levels[] = {
        { vendor, 1, 2 },
        { vendor, 2, 4 },
        { vendor, 3, 3 },
        { vendor, 18, 1 },
        { vendor, 22, 4 },
        { vendor, 23, 1 },
        { vendor, 28, 1 },
        { vendor, 29, 1 },
        { vendor, 30, 1 },
        { vendor, 0, 1 },
        { vendor, -3, 1 },
        { vendorA, 23, 3 },
        { vendorA, 24, 4 },
        { vendorB, 28, 4 },
        { vendorB, 29, 3 },
        { vendorB, 30, 1 },
        { upsTraps, 2, 1 },
        { snmp, 4, 1 },
    };
    for (const auto& c : levels) {
        SCOPED_TRACE(c.enterprise.ToString() + " specific " + std::to_string(c.specific));
        EXPECT_EQ(TrapLevel(c.enterprise, c.specific), c.level);
    }

    struct Admission {
        const COid& enterprise;
        std::int32_t specific;
        std::int32_t destinationLevel;
        std::int32_t destinationType;
        bool admitted;
    };
    const Admission admissions[] = {
        { vendor, 2, 4, 0, true },
        { vendor, 2, 4, 2, true },
        { vendor, 2, 4, 4, true },
        { vendor, 2, 3, 2, false },
        { vendor, 2, 4, 1, false },
        { vendor, 2, 4, 3, false },
        { vendor, 18, 1, 2, true },
        { vendor, 18, 1, 1, false },
        { upsTraps, 1, 1, 1, true },
        { upsTraps, 1, 1, 3, true },
        { upsTraps, 1, 1, 0, true },
        { upsTraps, 1, 1, 2, false },
        { upsTraps, 1, 1, 4, false },
        { upsTraps, 1, 0, 1, false },
        { snmp, 0, 1, 5, true },
        { vendorA, 24, 4, 4, true },
        { vendorA, 24, 3, 4, false },
    };
    for (const auto& c : admissions) {
        SCOPED_TRACE(c.enterprise.ToString() + " specific " + std::to_string(c.specific) + " to level "
            + std::to_string(c.destinationLevel) + " type " + std::to_string(c.destinationType));
        STrapDestination destination { kLoopback, 162, c.destinationLevel, c.destinationType };
        EXPECT_EQ(IsTrapAdmitted(destination, c.enterprise, c.specific), c.admitted);
    }
}

std::unique_ptr<CSNMPTrap> MakeTrap(const COid& enterprise, std::int32_t specific)
{
    return std::make_unique<CSNMPTrap>(6, specific, enterprise);
}

std::vector<std::int32_t> ReceivedSpecifics(CTestSocket& listener)
{
    std::vector<std::int32_t> specifics;
    while (auto trap = listener.Receive(200))
        specifics.push_back(ParseMessage(*trap).specificTrap);
    return specifics;
}

TEST_F(AgentTest, PendingTrapsGoToTheDestinationsThatAdmitThem)
{
    // The second manager asks for every extended trap up to level 4.
    ASSERT_EQ(Process(Message("private", 0xA3,
                          { Binding(Oid({ 4, 1, 534, 1, 11, 1, 0 }), Int(4)),
                              Binding(Oid({ 4, 1, 534, 1, 11, 2, 0 }), Int(2)) }),
                  kSecondLoopback),
        Outcome::Answered);

    auto withBindings = MakeTrap(COid { 2, 1, 33, 2, 0 }, 1);
    withBindings->AddBinding(std::make_unique<CMIBData>(45u, 2147483647u, MIB_ENUMERATED));
    withBindings->GetBindings().back()->SetName(kMinutesRemaining);
    m_ups.QueueTrap(std::move(withBindings));
    m_ups.QueueTrap(MakeTrap(COid { 4, 1, 534, 1, 0 }, 2));
    m_ups.QueueTrap(MakeTrap(COid { 4, 1, 534, 1, 0 }, 18));
    m_ups.QueueTrap(MakeTrap(COid { 2, 1, 33, 2, 0 }, 3));
    m_agent->SendPendingTraps(m_ups);
    EXPECT_FALSE(m_ups.HasPendingTraps());

    auto first = m_trapListener.Receive(2000);
    ASSERT_TRUE(first.has_value());
    auto parsed = ParseMessage(*first);
    EXPECT_EQ(parsed.enterprise, (COid { 2, 1, 33, 2, 0 }));
    EXPECT_EQ(parsed.genericTrap, 6);
    EXPECT_EQ(parsed.specificTrap, 1);
    ASSERT_EQ(parsed.bindings.size(), 1u);
    EXPECT_EQ(parsed.bindings[0].name, kMinutesRemaining);
    EXPECT_EQ(parsed.bindings[0].tag, 0x02);
    EXPECT_TRUE(parsed.trailer.empty());
    EXPECT_EQ(ReceivedSpecifics(m_trapListener), std::vector<std::int32_t> { 3 });
    EXPECT_EQ(ReceivedSpecifics(*m_secondListener), (std::vector<std::int32_t> { 2, 18 }));
}

TEST_F(AgentTest, ATrapThatCannotBeEncodedIsDroppedAndTheRestWait)
{
    m_ups.QueueTrap(MakeTrap(COid { 2, 1, 33, 2, 0 }, 1));
    auto broken = MakeTrap(COid { 2, 1, 33, 2, 0 }, 2);
    broken->AddBinding(std::make_unique<CMIBData>(1, 0, 10, 6)); // no such kind
    broken->GetBindings().back()->SetName(kBatteryStatus);
    m_ups.QueueTrap(std::move(broken));
    m_ups.QueueTrap(MakeTrap(COid { 2, 1, 33, 2, 0 }, 3));

    m_agent->SendPendingTraps(m_ups);
    EXPECT_EQ(ReceivedSpecifics(m_trapListener), std::vector<std::int32_t> { 1 });
    EXPECT_EQ(m_ups.GetPendingTrapCount(), 1u);

    m_agent->SendPendingTraps(m_ups);
    EXPECT_EQ(ReceivedSpecifics(m_trapListener), std::vector<std::int32_t> { 3 });
    EXPECT_FALSE(m_ups.HasPendingTraps());
}

TEST(AgentTraps, WithoutDestinationsPendingTrapsAreDrained)
{
    CScriptedUPS ups;
    ups.QueueTrap(std::make_unique<CSNMPTrap>(6, 1, COid { 2, 1, 33, 2, 0 }));
    ups.QueueTrap(std::make_unique<CSNMPTrap>(6, 2, COid { 2, 1, 33, 2, 0 }));
    CSNMPAgent agent(0, 162, 0, kLoopback, "public", "private", "traps");
    agent.SendPendingTraps(ups);
    EXPECT_FALSE(ups.HasPendingTraps());
}

// The error-status of a GetResponse, read without looking at the bindings.
std::int32_t ErrorStatusOf(Bytes reply)
{
    CBasicEncodingRulesBuffer in(reply);
    in.ReadHeader(0x30);
    in.ReadInteger();
    in.ReadOctetString();
    EXPECT_EQ(in.ReadByte(), 0xA2);
    in.ReadLength();
    in.ReadInteger();
    return in.ReadInteger();
}

TEST_F(AgentTest, HostileDatagramsAreAnsweredOrDropped)
{
    const Bytes battery = Oid({ 2, 1, 33, 1, 2, 1, 0 });
    const Bytes valid = Message("public", 0xA0, { Binding(battery) });
    auto mutated = [&](std::size_t at, std::uint8_t value) {
        Bytes bytes = valid;
        bytes[at] = value;
        return bytes;
    };
    // Offsets in `valid`: 1 message length, 13 PDU tag, 14 PDU length,
    // 20 error-status, 25 list length.
    Bytes manyEmpty = Message("public", 0xA0, std::vector<Bytes>(560, Bytes { 0x30, 0x00 }));
    Bytes manyKnown = Message("public", 0xA0, std::vector<Bytes>(68, Binding(battery)));
    Bytes longName { 0x2B, 0x06, 0x01 };
    longName.insert(longName.end(), 500, 0x05);
    Bytes allOnes(1172, 0xFF);
    Bytes nestedHeaders;
    for (int i = 0; i < 560; ++i)
        nestedHeaders.insert(nestedHeaders.end(), { 0x30, 0x80 });

    struct Case {
        const char* name;
        Bytes bytes;
        Outcome outcome;
        std::int32_t status; // of an answer; -1 when not checked
        bool withUps = true;
    };
    const Case cases[] = {
        { "empty", {}, Outcome::Dropped, -1 },
        { "one byte", { 0x30 }, Outcome::Dropped, -1 },
        { "not a SEQUENCE", mutated(0, 0x31), Outcome::Dropped, -1 },
        { "message length is not checked", mutated(1, 0x80), Outcome::Answered, SNMP_NO_ERROR },
        { "message length of five bytes",
            Concat({ { 0x30, 0x85, 1, 0, 0, 0, 0 }, Bytes(valid.begin() + 2, valid.end()) }), Outcome::Dropped, -1 },
        { "indefinite PDU length", mutated(14, 0x80), Outcome::Dropped, -1 },
        { "PDU length past the end", mutated(14, valid[14] + 1), Outcome::Dropped, -1 },
        { "PDU length of four gigabytes",
            Concat({ Bytes(valid.begin(), valid.begin() + 14), { 0x84, 0xFF, 0xFF, 0xFF, 0xFF },
                Bytes(valid.begin() + 15, valid.end()) }),
            Outcome::Dropped, -1 },
        { "a byte after the PDU", Concat({ valid, { 0x00 } }), Outcome::Dropped, -1 },
        { "NULL after the PDU", Concat({ valid, Null() }), Outcome::Dropped, -1 },
        { "list shorter than the data", mutated(25, valid[25] - 1), Outcome::Dropped, -1 },
        { "list not a SEQUENCE", mutated(24, 0x31), Outcome::Dropped, -1 },
        { "response PDU", mutated(13, 0xA2), Outcome::Dropped, -1 },
        { "unknown PDU", mutated(13, 0xBF), Outcome::Dropped, -1 },
        { "message ends after the community", Tlv(0x30, Concat({ Int(0), Str("public") })), Outcome::Dropped, -1 },
        { "community past the end", Tlv(0x30, Concat({ Int(0), { 0x04, 0x20, 'p' } })), Outcome::Dropped, -1 },
        { "version of five bytes keeps its low four",
            Concat({ { 0x30, 0x2C, 0x02, 0x05, 0x01, 0, 0, 0, 0 }, Bytes(valid.begin() + 5, valid.end()) }),
            Outcome::Answered, SNMP_NO_ERROR },
        { "request-id of five bytes", Message("public", 0xA0, { Binding(battery) }, 0x01020304), Outcome::Answered,
            SNMP_NO_ERROR },
        { "no UPS and an empty error-status field",
            Tlv(0x30,
                Concat({ Int(0), Str("public"),
                    Tlv(0xA0, Concat({ Int(1), { 0x02, 0x00 }, Int(0), Tlv(0x30, Binding(battery)) })) })),
            Outcome::Dropped, -1, false },
        { "arc beyond 32 bits",
            Message("public", 0xA0, { Binding(Tlv(0x06, { 0x2B, 0x06, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F })) }),
            Outcome::Answered, SNMP_NO_SUCH_NAME },
        { "name of 500 arcs", Message("public", 0xA0, { Binding(Tlv(0x06, longName)) }), Outcome::Answered,
            SNMP_NO_SUCH_NAME },
        { "empty name", Message("public", 0xA0, { Binding(Tlv(0x06, {})) }), Outcome::Answered, SNMP_GEN_ERR },
        { "name that is an INTEGER", Message("public", 0xA0, { Binding(Int(5)) }), Outcome::Answered, SNMP_GEN_ERR },
        { "560 empty bindings", manyEmpty, Outcome::Answered, SNMP_GEN_ERR },
        { "68 bindings whose reply does not fit", manyKnown, Outcome::Answered, SNMP_TOO_BIG },
        { "560 nested indefinite headers", Message("public", 0xA0, { nestedHeaders }), Outcome::Answered,
            SNMP_GEN_ERR },
        { "a lone tag at the end of the list", Message("public", 0xA0, { Binding(battery), { 0x30 } }),
            Outcome::Answered, SNMP_NO_ERROR },
        { "get value of four gigabytes is skipped",
            Message("public", 0xA0, { Tlv(0x30, Concat({ battery, { 0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF } })) }),
            Outcome::Answered, SNMP_NO_ERROR },
        { "set value past its binding", Message("private", 0xA3, { Binding(battery, { 0x02, 0x7F }) }),
            Outcome::Answered, SNMP_GEN_ERR },
        { "set INTEGER of five bytes", Message("private", 0xA3, { Binding(battery, { 0x02, 0x05, 1, 2, 3, 4, 5 }) }),
            Outcome::Answered, SNMP_NO_ERROR },
        { "1172 bytes of 0xFF", allOnes, Outcome::Dropped, -1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Process(c.bytes, kLoopback, nullptr, c.withUps), c.outcome);
        if (c.outcome == Outcome::Answered) {
            EXPECT_LE(m_agent->GetDatagram().length, kDatagramSize);
            if (c.status >= 0) {
                EXPECT_EQ(ErrorStatusOf(Answer()), c.status);
            }
        }
    }

    // Every shortened form of a valid message is dropped.
    for (const Bytes& message :
        { valid, Message("private", 0xA3, { Binding(battery, Int(1)), Binding(battery, Str("abc")) }) }) {
        for (std::size_t length = 0; length < message.size(); ++length) {
            SCOPED_TRACE(length);
            EXPECT_EQ(Process(Bytes(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(length))),
                Outcome::Dropped);
        }
    }

    // And the agent keeps serving over its socket after all of them.
    for (const auto& c : cases)
        Exchange(c.bytes, c.withUps ? &m_ups : nullptr, 0);
    while (m_manager.Receive(100)) { }
    auto reply = Exchange(valid, &m_ups);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(ParseMessage(*reply).bindings.size(), 1u);
}

TEST_F(AgentTest, RandomlyDamagedRequestsKeepInsideTheDatagram)
{
    const Bytes battery = Oid({ 2, 1, 33, 1, 2, 1, 0 });
    const Bytes seeds[] = {
        Message("public", 0xA0, { Binding(battery), Binding(Oid({ 2, 1, 33, 1, 1, 1, 0 })) }),
        Message("public", 0xA1, { Binding(Oid({ 4, 1, 534, 1, 11, 1, 0 })) }),
        Message("private", 0xA3,
            { Binding(battery, Int(3)), Binding(Oid({ 4, 1, 534, 1, 11, 2, 0 }), Int(2)),
                Binding(battery, Oid({ 2, 1, 33 })) }),
    };
    std::uint32_t state = 12345;
    auto random = [&state](std::uint32_t bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % bound;
    };
    for (int round = 0; round < 20000; ++round) {
        Bytes bytes = seeds[random(3)];
        for (std::uint32_t n = 1 + random(4); n > 0; --n) {
            switch (random(4)) {
            case 0:
                bytes[random(static_cast<std::uint32_t>(bytes.size()))] = static_cast<std::uint8_t>(random(256));
                break;
            case 1:
                bytes.insert(bytes.begin() + random(static_cast<std::uint32_t>(bytes.size())),
                    static_cast<std::uint8_t>(random(256)));
                break;
            case 2:
                if (bytes.size() > 1)
                    bytes.erase(bytes.begin() + random(static_cast<std::uint32_t>(bytes.size())));
                break;
            default:
                bytes[random(static_cast<std::uint32_t>(bytes.size()))] ^= 0x80;
                break;
            }
        }
        Outcome outcome = Process(bytes);
        ASSERT_TRUE(
            outcome == Outcome::Dropped || outcome == Outcome::Answered || outcome == Outcome::AuthenticationFailure);
        ASSERT_LE(m_agent->GetDatagram().length, kDatagramSize);
    }
}

// ---- Source lists, empty communities, registrations, the trap rate bound ----

const Bytes kReadBinding = Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 }));
const Bytes kSetBinding = Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 }), Int(1));

TEST_F(AgentTest, SourceListsAndEmptyCommunities)
{
    const std::uint32_t listed = Ipv4(192, 0, 2, 10);
    const std::uint32_t inNetwork = Ipv4(198, 51, 100, 7);
    const std::uint32_t outside = Ipv4(203, 0, 113, 1);
    struct Case {
        const char* name;
        const char* readManagers;
        const char* setManagers;
        const char* getCommunity;
        const char* setCommunity;
        std::uint32_t from;
        std::string community;
        std::uint8_t pdu;
        Outcome outcome;
        bool reachesUps; // a SET applied
    };
    const Case cases[] = {
        { "no lists: any source", "", "", "public", "private", outside, "private", 0xA3, Outcome::Answered, true },
        { "listed reader", "192.0.2.10, 198.51.100.0/24", "", "public", "private", inNetwork, "public", 0xA0,
            Outcome::Answered, false },
        { "reader outside the list", "192.0.2.10", "", "public", "private", outside, "public", 0xA0, Outcome::Refused,
            false },
        { "outside the list, even with a wrong community: no trap", "192.0.2.10", "", "public", "private", outside,
            "wrong", 0xA0, Outcome::Refused, false },
        { "setter outside SetManagers", "", "192.0.2.10", "public", "private", outside, "private", 0xA3,
            Outcome::Refused, false },
        { "setter outside SetManagers may still read", "", "192.0.2.10", "public", "private", outside, "private", 0xA0,
            Outcome::Answered, false },
        { "listed setter", "", "192.0.2.10", "public", "private", listed, "private", 0xA3, Outcome::Answered, true },
        { "a setter must also be a reader", "198.51.100.0/24", "192.0.2.10", "public", "private", listed, "private",
            0xA3, Outcome::Refused, false },
        { "a wrong community is checked before SetManagers", "", "192.0.2.10", "public", "private", outside, "public",
            0xA3, Outcome::AuthenticationFailure, false },
        { "empty get community reads nothing", "", "", "", "private", listed, "", 0xA0, Outcome::AuthenticationFailure,
            false },
        { "empty set community sets nothing", "", "", "public", "", listed, "", 0xA3, Outcome::AuthenticationFailure,
            false },
        { "empty set community: the get community cannot set", "", "", "public", "", listed, "public", 0xA3,
            Outcome::AuthenticationFailure, false },
        { "empty set community: reads go on", "", "", "public", "", listed, "public", 0xA1, Outcome::Answered, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_agent = std::make_unique<CSNMPAgent>(0, 162, 0, kLoopback, c.getCommunity, c.setCommunity, "traps");
        m_agent->SetSourceLists(*CAddressList::Parse(c.readManagers), *CAddressList::Parse(c.setManagers));
        m_ups.m_sets.clear();
        m_ups.m_gets.clear();
        const Bytes& binding = c.pdu == 0xA3 ? kSetBinding : kReadBinding;
        EXPECT_EQ(Process(Message(c.community, c.pdu, { binding }), c.from), c.outcome);
        EXPECT_EQ(m_ups.m_sets.size(), c.reachesUps ? 1u : 0u);
        if (c.outcome == Outcome::Refused) {
            EXPECT_TRUE(m_ups.m_gets.empty());
        }
        const SNetworkCounters& counters = m_agent->GetCounters();
        EXPECT_EQ(counters.snmpNotReadManager + counters.snmpNotSetManager, c.outcome == Outcome::Refused ? 1u : 0u);
        EXPECT_EQ(counters.snmpBadCommunity, c.outcome == Outcome::AuthenticationFailure ? 1u : 0u);
        EXPECT_EQ(counters.snmpServed, c.outcome == Outcome::Answered ? 1u : 0u);
    }
}

TEST_F(AgentTest, TrapRegistrationsAreBoundedAndTheTrapHostTakesNoPlace)
{
    const Bytes level = Oid({ 4, 1, 534, 1, 11, 1, 0 });
    const Bytes type = Oid({ 4, 1, 534, 1, 11, 2, 0 });
    auto manager = [](int i) { return Ipv4(127, 1, static_cast<std::uint8_t>(i / 200), static_cast<std::uint8_t>(1 + i % 200)); };
    auto statusOf = [&](std::uint32_t from, const Bytes& name, std::int32_t value) {
        EXPECT_EQ(Process(Message("private", 0xA3, { Binding(name, Int(value)) }), from), Outcome::Answered);
        return ParseMessage(Answer()).errorStatus;
    };
    // A flood from 200 sources: the first 16 are registered, the rest refused.
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(statusOf(manager(i), i % 2 ? level : type, 3), i < 16 ? SNMP_NO_ERROR : SNMP_GEN_ERR) << i;
    ASSERT_EQ(m_agent->GetTrapDestinations().size(), 1u + CTrapDestinations::kMaxRegistered);
    EXPECT_EQ(m_agent->GetCounters().snmpRegistrationsRefused, 184u);

    // A refused manager still reads the defaults; setting the default level
    // changes nothing and is answered.
    EXPECT_EQ(statusOf(manager(16), level, 1), SNMP_NO_ERROR);
    // The configured trap host re-registers without taking a place.
    EXPECT_EQ(statusOf(kLoopback, level, 1), SNMP_NO_ERROR);
    EXPECT_EQ(statusOf(kLoopback, level, 4), SNMP_NO_ERROR);
    EXPECT_EQ(m_agent->GetTrapDestinations().size(), 1u + CTrapDestinations::kMaxRegistered);
    // Level 1 frees a place, which the next manager takes.
    EXPECT_EQ(statusOf(manager(3), level, 1), SNMP_NO_ERROR);
    EXPECT_EQ(statusOf(manager(16), type, 5), SNMP_NO_ERROR);
    EXPECT_EQ(statusOf(manager(17), type, 5), SNMP_GEN_ERR);
    EXPECT_EQ(m_agent->GetTrapDestinations().size(), 1u + CTrapDestinations::kMaxRegistered);

    // One trap then costs one datagram per destination at most.
    const auto sentBefore = m_agent->GetCounters().trapsSent;
    m_agent->SendColdStart();
    EXPECT_LE(m_agent->GetCounters().trapsSent - sentBefore, 1u + CTrapDestinations::kMaxRegistered);
}

TEST_F(AgentTest, AuthenticationFailureTrapsAreRateBounded)
{
    CFakeClock clock;
    CScopedClock useClock(clock);
    CTestSocket second(kSecondLoopback, 0);
    ASSERT_TRUE(second.IsBound());
    const Bytes wrong = Message("wrong", 0xA0, { kReadBinding });
    auto serveFrom = [&](CTestSocket& socket) {
        ASSERT_TRUE(socket.Send(wrong, kLoopback, m_agent->GetBoundPort()));
        // A real wait: sleeping would move the fake clock.
        ASSERT_GT(WaitReadable(m_agent->GetSocket(), 2000), 0);
        m_agent->ServeRequest(&m_ups);
    };
    struct Step {
        std::uint32_t at; // ms on the fake clock
        bool fromSecond;
        bool trap;
    };
    const Step steps[] = {
        { 0, false, true },
        { 0, false, false }, // the same source again
        { 500, true, false }, // another source within the second
        { 1000, true, true },
        { 1000, false, false },
        { 9999, false, false }, // within 10 s of the first source's trap
        { 10000, false, true },
        { 10500, true, false },
        { 11000, true, true },
    };
    std::uint64_t expectedTraps = 0;
    for (const Step& step : steps) {
        clock.Advance(static_cast<std::uint32_t>(step.at - clock.MonotonicMilliseconds()));
        serveFrom(step.fromSecond ? second : m_manager);
        expectedTraps += step.trap ? 1 : 0;
    }
    // A burst from one source costs nothing more.
    for (int i = 0; i < 200; ++i)
        serveFrom(m_manager);
    EXPECT_EQ(m_trapListener.ReceiveUntilQuiet(300).size(), expectedTraps);
    const SNetworkCounters& counters = m_agent->GetCounters();
    EXPECT_EQ(counters.snmpBadCommunity, std::size(steps) + 200);
    EXPECT_EQ(counters.authTrapsSuppressed, std::size(steps) + 200 - expectedTraps);
}

} // namespace
} // namespace pvx

namespace pvx {
namespace {

// SNMPv3 through the agent: the message layer's outcome, the user's access,
// the source lists and the shared PDU handling answering inside the secured
// response.
TEST_F(AgentTest, Version3RequestsAreServedPerUserAndLevel)
{
    using namespace pvx::usm;
    const Bytes engineId { 0x80, 0x00, 0x02, 0x16, 0x05, 1, 2, 3, 4, 5, 6, 7, 8 };
    const std::vector<SUsmUser> users {
        { "ops", ESecurityLevel::AuthPriv, EAuthProtocol::Sha1, PasswordToKey(EAuthProtocol::Sha1, "maplesyrup"),
            PasswordToKey(EAuthProtocol::Sha1, "pancakes and bacon"), EAccess::Write },
        { "mon", ESecurityLevel::AuthNoPriv, EAuthProtocol::Sha256, PasswordToKey(EAuthProtocol::Sha256, "maplesyrup"),
            {}, EAccess::Read },
    };
    const COid kBig { 2, 1, 33, 1, 1, 2, 0 };
    m_ups.AddObject(kBig, CMIBData(std::string(250, 'x'), 255, MIB_TEXT));
    const std::uint32_t outside = Ipv4(203, 0, 113, 1);
    const Bytes battery = Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 }));
    const Bytes big = Binding(Oid({ 2, 1, 33, 1, 1, 2, 0 }));
    const Bytes setShutdown = Binding(Oid({ 2, 1, 33, 1, 8, 1, 0 }), Int(2));
    auto pdu = [](std::uint8_t tag, std::vector<Bytes> bindings, std::int32_t a = 0, std::int32_t b = 0) {
        Bytes list;
        for (const Bytes& binding : bindings)
            list = Concat({ list, binding });
        return Tlv(tag, Concat({ Int(7), Int(a), Int(b), Tlv(0x30, list) }));
    };
    // The arcs of usmStats.<n>.0, as a Report carries them.
    auto usmStat = [](std::uint32_t n) {
        Bytes oid = Oid({ 6, 3, 15, 1, 1, n, 0 });
        return Bytes(oid.begin() + 2, oid.end());
    };
    struct Case {
        const char* name;
        std::size_t user;
        ESecurityLevel level;
        Bytes pdu;
        Outcome outcome;
        std::int32_t status = 0; // of the response PDU
        std::vector<std::pair<COid, std::uint8_t>> bindings {}; // name and value tag
        std::size_t sets = 0;
        Bytes reportOid {}; // set: the answer is this Report, unsecured
        std::uint32_t from = kLoopback;
        std::int32_t maxSize = 1500;
        std::string context {};
        Bytes userName {}; // set: sent under this name instead
        bool badEngine = false;
    };
    const Case cases[] = {
        { "authPriv get", 0, ESecurityLevel::AuthPriv, pdu(0xA0, { battery }), Outcome::Answered, 0,
            { { kBatteryStatus, 0x02 } } },
        { "authNoPriv bulk", 1, ESecurityLevel::AuthNoPriv, pdu(0xA5, { battery }, 0, 2), Outcome::Answered, 0,
            { { kMinutesRemaining, 0x02 }, { kShutdownType, 0x02 } } },
        { "an unknown object is an exception value", 1, ESecurityLevel::AuthNoPriv,
            pdu(0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 9, 0 })) }), Outcome::Answered, 0,
            { { { 2, 1, 33, 1, 2, 9, 0 }, 0x80 } } },
        { "a write user sets", 0, ESecurityLevel::AuthPriv, pdu(0xA3, { setShutdown }), Outcome::Answered, 0,
            { { kShutdownType, 0x02 } }, 1 },
        { "a read user's set is an authorizationError", 1, ESecurityLevel::AuthNoPriv, pdu(0xA3, { setShutdown }),
            Outcome::Answered, SNMP_AUTHORIZATION_ERROR },
        { "below the user's level nothing is served", 0, ESecurityLevel::AuthNoPriv, pdu(0xA0, { battery }),
            Outcome::Answered, SNMP_AUTHORIZATION_ERROR },
        { "too big for the manager's msgMaxSize", 0, ESecurityLevel::AuthPriv, pdu(0xA0, { big, big }),
            Outcome::Answered, SNMP_TOO_BIG, {}, 0, {}, kLoopback, 484 },
        { "a set from outside SetManagers", 0, ESecurityLevel::AuthPriv, pdu(0xA3, { setShutdown }), Outcome::Refused,
            0, {}, 0, {}, Ipv4(192, 0, 2, 10) },
        { "a read from outside ReadManagers", 0, ESecurityLevel::AuthPriv, pdu(0xA0, { battery }), Outcome::Refused, 0,
            {}, 0, {}, outside },
        { "another context gets the unknown-contexts report", 1, ESecurityLevel::AuthNoPriv, pdu(0xA0, { battery }),
            Outcome::Answered, 0, {}, 0, [] {
                Bytes oid = Oid({ 6, 3, 12, 1, 5, 0 });
                return Bytes(oid.begin() + 2, oid.end());
            }(), kLoopback, 1500, "other" },
        { "a bulk beyond the manager's msgMaxSize is cut to fit", 0, ESecurityLevel::AuthPriv,
            pdu(0xA5, { Binding(Oid({ 0 })) }, 0, 100), Outcome::Answered, 0, { { kManufacturer, 0x04 } }, 0, {},
            kLoopback, 484 },
        { "an unknown user gets its report", 0, ESecurityLevel::AuthNoPriv, pdu(0xA0, { battery }), Outcome::Answered,
            0, {}, 0, usmStat(3), kLoopback, 1500, {}, { 'e', 'v', 'e' } },
        { "discovery gets the engine's report", 0, ESecurityLevel::NoAuthNoPriv, pdu(0xA0, {}), Outcome::Answered, 0,
            {}, 0, usmStat(4), kLoopback, 1500, {}, {}, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_agent = std::make_unique<CSNMPAgent>(0, 162, 0, kLoopback, "public", "private", "traps");
        m_agent->SetSourceLists(*CAddressList::Parse("127.0.0.0/8, 192.0.2.10"), *CAddressList::Parse("127.0.0.1"));
        m_agent->SetSNMPv3(std::make_unique<CSNMPv3Processor>(SEngineState { engineId, 5 }, users));
        CSNMPv3Processor& engine = *m_agent->GetSNMPv3();
        m_ups.m_sets.clear();

        const SUsmUser& u = users[c.user];
        SV3MessageFields f;
        f.msgId = 42;
        f.maxSize = c.maxSize;
        f.flags = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c.level) | kFlagReportable);
        if (!c.badEngine) {
            f.engineId = engineId;
            f.boots = 5;
            f.time = engine.EngineTime();
        }
        f.userName = c.userName.empty() ? Bytes(u.name.begin(), u.name.end()) : c.userName;
        f.authProtocol = u.authProtocol;
        if (c.level != ESecurityLevel::NoAuthNoPriv)
            f.authKey = LocalizeKey(u.authProtocol, u.authKey, engineId);
        if (c.level == ESecurityLevel::AuthPriv)
            f.privKey = AesKeyFromLocalized(LocalizeKey(u.authProtocol, u.privKey, engineId));
        f.scopedPdu = EncodeScopedPdu(f.engineId, Bytes(c.context.begin(), c.context.end()), c.pdu);
        std::array<std::uint8_t, 1500> request {};
        std::size_t length = EncodeV3Message(f, request);

        ASSERT_EQ(Process(Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(length)), c.from),
            c.outcome);
        EXPECT_EQ(m_ups.m_sets.size(), c.sets);
        if (c.outcome != Outcome::Answered)
            continue;
        Bytes answer = Answer();
        if (!c.reportOid.empty()) {
            EXPECT_NE(std::search(answer.begin(), answer.end(), c.reportOid.begin(), c.reportOid.end()), answer.end());
            continue;
        }
        // The response reads back through the same engine, secured as asked.
        SIncomingV3 back = engine.Process(answer);
        ASSERT_EQ(back.outcome, EV3Outcome::Accept);
        EXPECT_EQ(back.security.level, c.level);
        auto reply = ParseMessage(Tlv(0x30, Concat({ Int(3), Str(""), back.pdu })));
        EXPECT_EQ(reply.pduTag, 0xA2);
        EXPECT_EQ(reply.requestId, 7);
        EXPECT_EQ(reply.errorStatus, c.status);
        EXPECT_EQ(reply.errorIndex, 0);
        if (c.status != 0)
            continue;
        ASSERT_EQ(reply.bindings.size(), c.bindings.size());
        for (std::size_t i = 0; i < c.bindings.size(); ++i) {
            EXPECT_EQ(reply.bindings[i].name, c.bindings[i].first) << i;
            EXPECT_EQ(reply.bindings[i].tag, c.bindings[i].second) << i;
        }
    }
}

// Version1=0 leaves SNMPv3 only; without an SNMPv3 engine the key is moot
// and version 3 is dropped as any unknown version.
TEST_F(AgentTest, Version1OffDropsCommunityVersionsOnlyWithSNMPv3)
{
    const Bytes v1 = Message("public", 0xA0, { Binding(Oid({ 2, 1, 33, 1, 2, 1, 0 })) });
    const Bytes v3 = Tlv(0x30, Concat({ Int(3), Tlv(0x30, Concat({ Int(1), Int(1500), Str("\x04"), Int(3) })) }));
    m_agent->SetVersion1(false);
    EXPECT_EQ(Process(v1), Outcome::Answered);
    EXPECT_EQ(Process(v3), Outcome::Dropped);
    m_agent->SetSNMPv3(std::make_unique<usm::CSNMPv3Processor>(usm::SEngineState { { 0x80, 0, 2, 0x16, 5, 1 }, 1 },
        std::vector<usm::SUsmUser> {}));
    EXPECT_EQ(Process(v1), Outcome::Dropped);
    m_agent->SetVersion1(true);
    EXPECT_EQ(Process(v1), Outcome::Answered);
}

} // namespace
} // namespace pvx
