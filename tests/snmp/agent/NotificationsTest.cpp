// Notifications of SNMPv2c and SNMPv3 over loopback: the PDU's bytes, the
// notification identifier of each kind of trap, SNMPv3 traps that the
// engine's own keys accept, informs retried, given up, acknowledged and
// bounded, and what SNMPv1 traps do with IPv6 managers.
#include "snmp/agent/SNMPAgent.h"

#include "AgentTestSupport.h"
#include "platform/Clock.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

namespace pvx {
namespace {

using namespace pvx::test;

const SIpAddress kLoopback = SIpAddress::FromIPv4(Ipv4(127, 0, 0, 1));
constexpr std::uint8_t kTrapV2 = 0xA7;
constexpr std::uint8_t kInform = 0xA6;

// An agent on 127.0.0.1 whose notifications go to the listener, set up for
// `settings` before its coldStart, on a fake clock (made before anything that
// reads the clock).
struct SClock {
    CFakeClock clock;
    CScopedClock scope { clock };
};

struct SRig {
    explicit SRig(SNotificationSettings settings, std::unique_ptr<usm::CSNMPv3Processor> v3 = {})
        : agent(0, listener.Port(), kLoopback, kLoopback, "public", "private", "traps", false, false)
    {
        agent.AttachCounters(counters);
        if (v3)
            agent.SetSNMPv3(std::move(v3));
        agent.SetNotifications(settings);
    }
    CTestSocket listener { kLoopback, 0 };
    SNetworkCounters counters;
    CSNMPAgent agent;
};

Bytes V2Message(std::uint8_t tag, std::int32_t requestId, const Bytes& trapOid, const Bytes& more = {})
{
    Bytes bindings = Concat({ Binding(Oid({ 2, 1, 1, 3, 0 }), Tlv(0x43, { 0 })),
        Binding(Oid({ 6, 3, 1, 1, 4, 1, 0 }), trapOid), more });
    return Tlv(0x30,
        Concat({ Int(1), Str("traps"), Tlv(tag, Concat({ Int(requestId), Int(0), Int(0), Tlv(0x30, bindings) })) }));
}

// The listener registers for every trap of every level (trap type 0, level 4).
void RegisterForEverything(SRig& rig)
{
    CScriptedUPS ups;
    for (const auto& [arc, value] : { std::pair { 2u, 0 }, std::pair { 1u, 4 } }) {
        rig.listener.Send(Message("private", ber::kSetRequest, { Binding(Oid({ 4, 1, 534, 1, 11, arc, 0 }), Int(value)) }),
            kLoopback, rig.agent.GetBoundPort());
        ASSERT_GT(WaitReadable(rig.agent.GetSocket(), 2000), 0);
        rig.agent.ServeRequest(&ups);
        ASSERT_TRUE(rig.listener.Receive(2000).has_value());
    }
}

TEST(Notifications, Version2cTrapBytesAndIdentifiers)
{
    SClock clock;
    SRig rig({ ETrapVersion::V2c });
    rig.agent.SendColdStart();
    // sysUpTime.0 (0 on the fake clock) and snmpTrapOID.0 coldStart, in the
    // shortest length forms.
    EXPECT_EQ(rig.listener.Receive(2000), V2Message(kTrapV2, 1, Oid({ 6, 3, 1, 1, 5, 1 })));

    CSNMPTrap authenticationFailure(4, 0, COid { 2, 1, 11, 0 });
    CSNMPTrap onBattery(6, 1, COid { 2, 1, 33, 2, 0 });
    auto minutes = std::make_unique<CMIBData>(7u, 100u, MIB_UNSIGNED);
    minutes->SetName(COid { 2, 1, 33, 1, 2, 3, 0 });
    onBattery.AddBinding(std::move(minutes));
    CSNMPTrap standardForm(6, 3, COid { 2, 1, 33, 2, 0 });
    standardForm.SetEnterpriseForm(EWireForm::OidAsIs);
    CSNMPTrap vendor(6, 2, COid { 4, 1, 534, 1, 0 });
    CSNMPTrap vendorSubtree(6, 5, COid { 4, 1, 534, 1, 11, 4, 1, 0 });
    const struct {
        const char* what;
        const CSNMPTrap& trap;
        Bytes trapOid;
        Bytes bindings; // after the two every notification starts with
    } cases[] = {
        { "authenticationFailure", authenticationFailure, Oid({ 6, 3, 1, 1, 5, 5 }), {} },
        { "upsTrapOnBattery: RFC 1628's identifier and its binding", onBattery, Oid({ 2, 1, 33, 2, 1 }),
            Binding(Oid({ 2, 1, 33, 1, 2, 3, 0 }), Int(7)) },
        { "upsTrapAlarmEntryAdded in the standard form", standardForm, Oid({ 2, 1, 33, 2, 3 }), {} },
        // RFC 3584 section 3.1: the enterprise as sent, 0, the specific number.
        { "a vendor trap", vendor, Oid({ 4, 1, 534, 1, 0, 0, 2 }), {} },
        { "a vendor subtree trap", vendorSubtree, Oid({ 4, 1, 534, 1, 11, 4, 1, 0, 0, 5 }), {} },
    };
    RegisterForEverything(rig);
    std::int32_t id = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rig.agent.SendTrap(c.trap);
        EXPECT_EQ(rig.listener.Receive(2000), V2Message(kTrapV2, ++id, c.trapOid, c.bindings));
    }
    EXPECT_EQ(rig.counters.trapsSent, 6u);
}

TEST(Notifications, Version3TrapsPassTheEnginesOwnChecks)
{
    const usm::SEngineState engine { { 0x80, 0, 2, 0x16, 5, 1, 2, 3, 4, 5, 6, 7, 8 }, 9 };
    const std::vector<usm::SUsmUser> users {
        { "mon", usm::ESecurityLevel::AuthNoPriv, usm::EAuthProtocol::Sha256,
            usm::PasswordToKey(usm::EAuthProtocol::Sha256, "monitor phrase"), {}, usm::EAccess::Read },
        { "ops", usm::ESecurityLevel::AuthPriv, usm::EAuthProtocol::Sha1,
            usm::PasswordToKey(usm::EAuthProtocol::Sha1, "ops auth phrase"),
            usm::PasswordToKey(usm::EAuthProtocol::Sha1, "ops priv phrase"), usm::EAccess::Write },
    };
    for (int user : { 0, 1 }) {
        SCOPED_TRACE(users[static_cast<std::size_t>(user)].name);
        SClock clock;
        SRig rig({ ETrapVersion::V3, false, user }, std::make_unique<usm::CSNMPv3Processor>(engine, users));
        rig.agent.SendColdStart();
        auto sent = rig.listener.Receive(2000);
        ASSERT_TRUE(sent.has_value());
        // A receiver that knows the engine's keys (createUser -e) accepts it:
        // digest, privacy and time window all hold.
        usm::CSNMPv3Processor receiver(engine, users);
        usm::SIncomingV3 in = receiver.Process(*sent);
        ASSERT_EQ(in.outcome, usm::EV3Outcome::Accept);
        EXPECT_EQ(in.security.level, users[static_cast<std::size_t>(user)].level);
        EXPECT_FALSE(in.security.reportable) << "a trap asks for no report";
        EXPECT_EQ(in.security.contextEngineId, engine.engineId);
        ASSERT_FALSE(in.pdu.empty());
        EXPECT_EQ(in.pdu.front(), kTrapV2);
    }
}

TEST(Notifications, InformsAreRetriedThenGivenUpOrAcknowledged)
{
    SClock clock;
    SRig rig({ ETrapVersion::V2c, true });
    rig.agent.SendColdStart();
    const auto first = rig.listener.Receive(2000);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(ParseMessage(*first).pduTag, kInform);
    // Nothing before its time, then the same bytes after 1, 2 and 4 s more,
    // then given up 8 s after the last try.
    const struct {
        std::uint32_t advanceMs;
        bool resent;
        std::size_t pending;
    } steps[] = { { 999, false, 1 }, { 1, true, 1 }, { 1999, false, 1 }, { 1, true, 1 }, { 4000, true, 1 },
        { 7999, false, 1 }, { 1, false, 0 } };
    for (const auto& step : steps) {
        clock.clock.Advance(step.advanceMs);
        rig.agent.RetryInforms();
        auto again = rig.listener.Receive(step.resent ? 2000 : 20);
        EXPECT_EQ(again.has_value(), step.resent);
        if (again) {
            EXPECT_EQ(*again, *first);
        }
        EXPECT_EQ(rig.agent.PendingInforms(), step.pending);
    }
    EXPECT_EQ(rig.counters.informsRetried, 3u);
    EXPECT_EQ(rig.counters.informsGivenUp, 1u);

    // The manager's Response takes an inform off the queue; another
    // community, another request-id or another source does not.
    rig.agent.SendColdStart();
    const std::int32_t id = ParseMessage(*rig.listener.Receive(2000)).requestId;
    auto respond = [&](CTestSocket& from, std::string_view community, std::int32_t requestId) {
        from.Send(Message(community, ber::kGetResponse, {}, requestId, 1), kLoopback, rig.agent.GetBoundPort());
        ASSERT_GT(WaitReadable(rig.agent.GetSocket(), 2000), 0);
        rig.agent.ServeRequest(nullptr);
    };
    CTestSocket stranger(kLoopback, 0);
    respond(rig.listener, "public", id);
    respond(rig.listener, "traps", id + 1);
    respond(stranger, "traps", id);
    EXPECT_EQ(rig.agent.PendingInforms(), 1u);
    respond(rig.listener, "traps", id);
    EXPECT_EQ(rig.agent.PendingInforms(), 0u);
    EXPECT_EQ(rig.counters.informsAcknowledged, 1u);
    EXPECT_EQ(rig.counters.snmpServed, 0u) << "a Response is no request";

    // The queue is bounded: the oldest falls off and is counted.
    for (std::size_t i = 0; i <= CInformQueue::kCapacity; ++i)
        rig.agent.SendColdStart();
    EXPECT_EQ(rig.agent.PendingInforms(), CInformQueue::kCapacity);
    EXPECT_EQ(rig.counters.informsDropped, 1u);
}

// An SNMPv3 inform goes to the receiver's engine (RFC 3414 section 4): pvx
// discovers it, sends the inform under the keys localized there and takes
// the authentic Response. The receiver here is a second engine of pvx's own.
TEST(Notifications, Version3InformsDiscoverTheReceiversEngine)
{
    SClock clock;
    const std::vector<usm::SUsmUser> users { { "ops", usm::ESecurityLevel::AuthPriv, usm::EAuthProtocol::Sha1,
        usm::PasswordToKey(usm::EAuthProtocol::Sha1, "ops auth phrase"),
        usm::PasswordToKey(usm::EAuthProtocol::Sha1, "ops priv phrase"), usm::EAccess::Write } };
    SRig rig({ ETrapVersion::V3, true, 0 },
        std::make_unique<usm::CSNMPv3Processor>(usm::SEngineState { { 0x80, 0, 2, 0x16, 5, 1, 1 }, 3 }, users));
    usm::CSNMPv3Processor receiver(usm::SEngineState { { 0x80, 0, 0x1F, 0x88, 4, 'r', 'x' }, 7 }, users);
    std::array<std::uint8_t, kDatagramSize> out {};
    auto answer = [&](std::size_t length) {
        rig.listener.Send(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), kLoopback,
            rig.agent.GetBoundPort());
        ASSERT_GT(WaitReadable(rig.agent.GetSocket(), 2000), 0);
        rig.agent.ServeRequest(nullptr);
    };

    rig.agent.SendColdStart();
    auto probe = rig.listener.Receive(2000);
    ASSERT_TRUE(probe.has_value());
    usm::SIncomingV3 in = receiver.Process(*probe);
    ASSERT_EQ(in.outcome, usm::EV3Outcome::Report);
    ASSERT_EQ(in.report, usm::EUsmReport::UnknownEngineIDs);
    answer(receiver.BuildReport(in.security, in.report, out));

    auto inform = rig.listener.Receive(2000);
    ASSERT_TRUE(inform.has_value());
    in = receiver.Process(*inform);
    ASSERT_EQ(in.outcome, usm::EV3Outcome::Accept);
    EXPECT_EQ(in.security.level, usm::ESecurityLevel::AuthPriv);
    EXPECT_TRUE(in.security.reportable);
    ASSERT_FALSE(in.pdu.empty());
    EXPECT_EQ(in.pdu.front(), kInform);
    const Bytes response = Tlv(ber::kGetResponse, Concat({ Int(in.security.requestId), Int(0), Int(0), Tlv(0x30, {}) }));
    EXPECT_EQ(rig.agent.PendingInforms(), 1u);
    answer(receiver.BuildResponse(in.security, response, out));
    EXPECT_EQ(rig.agent.PendingInforms(), 0u);
    EXPECT_EQ(rig.counters.informsAcknowledged, 1u);
}

// An SNMPv1 trap carries an IPv4 agent-addr: an IPv6 manager neither gets one
// nor can register for them; with SNMPv2c it does both.
TEST(Notifications, IPv6ManagersGetSNMPv2NotificationsOnly)
{
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "this machine has no ::1";
    SIpAddress v6Loopback;
    ASSERT_TRUE(ParseIpAddress("::1", v6Loopback));
    for (ETrapVersion version : { ETrapVersion::V1, ETrapVersion::V2c }) {
        const bool v1 = version == ETrapVersion::V1;
        SCOPED_TRACE(v1 ? "SNMPv1" : "SNMPv2c");
        CTestSocket manager(v6Loopback, 0);
        CSNMPAgent agent(0, manager.Port(), v6Loopback, SIpAddress(), "public", "private", "traps", false, false);
        agent.SetNotifications({ version });
        agent.SendColdStart();
        EXPECT_EQ(manager.Receive(v1 ? 100 : 2000).has_value(), !v1);

        // trapLevel := 3 from ::1.
        manager.Send(Message("private", ber::kSetRequest, { Binding(Oid({ 4, 1, 534, 1, 11, 1, 0 }), Int(3)) }),
            v6Loopback, agent.GetBoundPort());
        ASSERT_GT(WaitReadable(agent.GetSocket(), 2000), 0);
        CScriptedUPS ups;
        agent.ServeRequest(&ups);
        auto reply = manager.Receive(2000);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(ParseMessage(*reply).errorStatus, v1 ? SNMP_GEN_ERR : SNMP_NO_ERROR);
    }
}

} // namespace
} // namespace pvx
