// Notifications in SNMPv2c and SNMPv3: the notification identifier of every
// trap the agent and the model raise, the SNMPv2-Trap and InformRequest PDUs
// of RFC 3416, the messages around them, and the informs' acknowledgements
// and retries.
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "snmp/agent/SNMPAgent.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include <algorithm>
#include <array>

namespace pvx {

namespace {

constexpr std::uint8_t kInformRequest = 0xA6;
constexpr std::uint8_t kSnmpV2Trap = 0xA7;
constexpr std::int32_t kGenericEnterpriseSpecific = 6;
constexpr std::int32_t kMaxRequestId = 2147483647;

// Arcs after 1.3.6.1. sysUpTime.0 and snmpTrapOID.0 open every SNMPv2
// notification (RFC 3416 section 4.2.6); snmpTraps holds the generic ones.
constexpr std::uint32_t kSysUpTime[] = { 2, 1, 1, 3, 0 };
constexpr std::uint32_t kSnmpTrapOid[] = { 6, 3, 1, 1, 4, 1, 0 };
constexpr std::uint32_t kSnmpTraps[] = { 6, 3, 1, 1, 5 };
// upsTraps: RFC 1628 defines its NOTIFICATION-TYPEs directly below it.
constexpr std::uint32_t kUpsTraps[] = { 2, 1, 33, 2 };

// The longest enterprise a trap may carry, with room for the two arcs added.
constexpr std::size_t kMaxOidArcs = 64;

struct SNotificationOid {
    std::array<std::uint32_t, kMaxOidArcs> arcs {};
    std::size_t size = 0;
    std::span<const std::uint32_t> Arcs() const { return std::span(arcs).first(size); }
    void Append(std::span<const std::uint32_t> more)
    {
        if (more.size() > arcs.size() - size)
            throw CPVXException(EVENT_BER_BOUNDS);
        std::ranges::copy(more, arcs.begin() + static_cast<std::ptrdiff_t>(size));
        size += more.size();
    }
};

// The enterprise as an SNMPv1 trap sends it: with its final 0 arc, or
// without it in the standard values' form.
std::span<const std::uint32_t> EnterpriseAsSent(const CSNMPTrap& trap)
{
    auto arcs = trap.GetEnterprise().Arcs();
    return trap.GetEnterpriseForm() == EWireForm::OidAsIs ? arcs.first(arcs.size() - 1) : arcs;
}

// The notification identifier of a trap: the generic traps' from SNMPv2-MIB,
// the UPS-MIB's from RFC 1628, and every other one the identifier RFC 3584
// section 3.1 gives the SNMPv1 trap as it is sent: its enterprise, 0 and its
// specific number, so that a manager's handlers fire alike for both versions.
SNotificationOid NotificationOid(const CSNMPTrap& trap)
{
    SNotificationOid oid;
    const auto specific = static_cast<std::uint32_t>(trap.GetSpecificTrap());
    if (trap.GetGenericTrap() != kGenericEnterpriseSpecific) {
        oid.Append(kSnmpTraps);
        const auto generic = static_cast<std::uint32_t>(trap.GetGenericTrap() + 1);
        oid.Append(std::span(&generic, 1));
        return oid;
    }
    auto enterprise = EnterpriseAsSent(trap);
    auto withoutZero = NameUpToZero(enterprise);
    if (!withoutZero.empty() && withoutZero.back() == 0)
        withoutZero = withoutZero.first(withoutZero.size() - 1);
    if (std::ranges::equal(withoutZero, kUpsTraps)) {
        oid.Append(kUpsTraps);
        oid.Append(std::span(&specific, 1));
        return oid;
    }
    const std::uint32_t tail[] = { 0, specific };
    oid.Append(enterprise);
    oid.Append(tail);
    return oid;
}

} // namespace

std::size_t CSNMPAgent::EncodeNotificationPdu(const CSNMPTrap& trap, std::int32_t requestId,
                                              std::span<std::uint8_t> out) const
{
    CBasicEncodingRulesBuffer pdu(out);
    pdu.SetMinimalLengths(true);
    std::size_t item = pdu.BeginItem(m_notify.inform ? kInformRequest : kSnmpV2Trap);
    pdu.WriteInteger(requestId);
    pdu.WriteInteger(0);
    pdu.WriteInteger(0);
    std::size_t list = pdu.BeginItem(ber::kSequence);
    std::size_t binding = pdu.BeginItem(ber::kSequence);
    pdu.WriteInstanceName(kSysUpTime);
    pdu.WriteTimeTicks(GetUpTimeTicks());
    pdu.EndItem(binding);
    binding = pdu.BeginItem(ber::kSequence);
    pdu.WriteInstanceName(kSnmpTrapOid);
    pdu.WriteInstanceName(NotificationOid(trap).Arcs());
    pdu.EndItem(binding);
    for (const auto& value : trap.GetBindings())
        pdu.WriteVarBind(*value);
    pdu.EndItem(list);
    pdu.EndItem(item);
    return pdu.Position();
}

bool CSNMPAgent::BuildNotification(std::span<const std::uint8_t> pdu, std::int32_t requestId)
{
    std::span<std::uint8_t> out(m_datagram.data);
    if (m_notify.version == ETrapVersion::V3) {
        if (!m_v3 || m_notify.user < 0)
            return false;
        m_datagram.length = static_cast<std::uint32_t>(m_v3->BuildTrap(m_notify.user, requestId, pdu, out));
        return true;
    }
    CBasicEncodingRulesBuffer message(out);
    message.SetMinimalLengths(true);
    std::size_t item = message.BeginItem(ber::kSequence);
    message.WriteInteger(kSnmpVersion2c);
    message.WriteOctetString(m_trapCommunity);
    for (std::uint8_t b : pdu)
        message.WriteByte(b);
    message.EndItem(item);
    m_datagram.length = static_cast<std::uint32_t>(message.Position());
    return true;
}

void CSNMPAgent::SendNotification(const CSNMPTrap& trap)
{
    std::array<std::uint8_t, kDatagramSize> pdu;
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    const bool v3Inform = m_notify.inform && m_notify.version == ETrapVersion::V3;
    for (const STrapDestination& destination : m_trapDestinations.All()) {
        if (!IsTrapAdmitted(destination, trap.GetEnterprise(), trap.GetSpecificTrap()))
            continue;
        // Every notification its own request-id (and SNMPv3 msgID), so that
        // an acknowledgement names the one inform it answers.
        m_notificationId = m_notificationId == kMaxRequestId ? 1 : m_notificationId + 1;
        const std::size_t length = EncodeNotificationPdu(trap, m_notificationId, pdu);
        if (v3Inform) {
            std::copy_n(pdu.begin(), length, m_datagram.data.begin());
            m_datagram.length = static_cast<std::uint32_t>(length);
        } else if (!BuildNotification(std::span(pdu).first(length), m_notificationId)) {
            continue;
        }
        m_datagram.address = destination.address;
        m_datagram.port = destination.port;
        if (!m_notify.inform) {
            if (SendTo(m_socket.Get(), m_datagram))
                ++m_counters->trapsSent;
            continue;
        }
        // An inform whose first send failed is tried again all the same.
        if (m_informs.Add(m_datagram, m_notificationId, now))
            ++m_counters->informsDropped;
        const SDatagram stored = m_datagram;
        if (SendInform(stored, m_notificationId))
            ++m_counters->trapsSent;
    }
}

usm::SRemoteEngine& CSNMPAgent::RemoteEngineOf(const SIpAddress& address, std::uint16_t port)
{
    auto found = std::ranges::find_if(
        m_remoteEngines, [&](const SRemoteSlot& slot) { return slot.address == address && slot.port == port; });
    if (found != m_remoteEngines.end())
        return found->engine;
    // One a destination: the trap host and the registered managers.
    if (m_remoteEngines.size() > CTrapDestinations::kMaxRegistered)
        m_remoteEngines.erase(m_remoteEngines.begin());
    m_remoteEngines.push_back({ address, port, {} });
    return m_remoteEngines.back().engine;
}

bool CSNMPAgent::SendInform(const SDatagram& stored, std::int32_t requestId)
{
    if (m_notify.version != ETrapVersion::V3)
        return SendTo(m_socket.Get(), stored);
    if (!m_v3 || m_notify.user < 0)
        return false;
    const usm::SRemoteEngine& remote = RemoteEngineOf(stored.address, stored.port);
    m_datagram.address = stored.address;
    m_datagram.port = stored.port;
    std::span<std::uint8_t> out(m_datagram.data);
    m_datagram.length = static_cast<std::uint32_t>(remote.engineId.empty()
            ? m_v3->BuildDiscovery(requestId, out)
            : m_v3->BuildInform(m_notify.user, remote, requestId, stored.Bytes(), out));
    return SendTo(m_socket.Get(), m_datagram);
}

bool CSNMPAgent::TakeInformResponse()
{
    if (!m_informs.Awaits(m_datagram.address, m_datagram.port))
        return false;
    try {
        CBasicEncodingRulesBuffer message(std::span<std::uint8_t>(m_datagram.data.data(), m_datagram.length));
        message.ReadHeader(ber::kSequence);
        const std::int32_t version = message.ReadInteger();
        if (version == kSnmpVersion3 && m_notify.version == ETrapVersion::V3 && m_v3)
            return TakeV3InformResponse();
        if (version != kSnmpVersion2c)
            return false;
        auto community = message.ReadOctetStringView();
        if (message.PeekByte() != ber::kGetResponse)
            return false;
        message.ReadByte();
        message.ReadLength();
        const std::int32_t requestId = message.ReadInteger();
        // The manager answers in the inform's community (RFC 3416 section
        // 4.2.7); another community acknowledges nothing.
        if (std::ranges::equal(community, AsBytes(m_trapCommunity))
            && m_informs.Acknowledge(m_datagram.address, m_datagram.port, requestId))
            ++m_counters->informsAcknowledged;
        return true;
    } catch (const CPVXException&) {
        return false;
    }
}

bool CSNMPAgent::TakeV3InformResponse()
{
    const SIpAddress address = m_datagram.address;
    const std::uint16_t port = m_datagram.port;
    usm::SRemoteEngine& remote = RemoteEngineOf(address, port);
    std::int32_t requestId = 0;
    switch (m_v3->ProcessFromRemote(m_datagram.Bytes(), m_notify.user, remote, requestId)) {
    case usm::ERemoteMessage::Drop:
        break;
    case usm::ERemoteMessage::Discovered:
    case usm::ERemoteMessage::Resynchronised:
        // The informs that waited for the engine, or were out of its time
        // window, go now.
        m_informs.ForEachTo(address, port, [this](CInformQueue::SInform& inform) {
            const SDatagram stored = inform.message;
            SendInform(stored, inform.requestId);
        });
        break;
    case usm::ERemoteMessage::Response:
        if (m_informs.Acknowledge(address, port, requestId))
            ++m_counters->informsAcknowledged;
        break;
    }
    return true;
}

void CSNMPAgent::RetryInforms()
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    // Each turn sends one inform again (its next time lies ahead) or drops
    // it, so the loop ends after at most two turns a slot.
    while (CInformQueue::SInform* inform = m_informs.NextDue(now)) {
        if (!CInformQueue::HasRetriesLeft(*inform)) {
            m_informs.GiveUp(*inform);
            ++m_counters->informsGivenUp;
            continue;
        }
        const SDatagram stored = inform->message;
        SendInform(stored, inform->requestId);
        m_informs.Retried(*inform, now);
        ++m_counters->informsRetried;
    }
}

std::size_t CSNMPAgent::PendingInforms() const
{
    return m_informs.Size();
}

} // namespace pvx
