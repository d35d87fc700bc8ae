// Traps of the SNMPv1 agent: the level table and destination filter, the
// Trap-PDU encoding, the agent's own coldStart and authenticationFailure.
#include "events/PVXException.h"
#include "snmp/agent/SNMPAgent.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <algorithm>
#include <array>

namespace pvx {

namespace {

// snmp 1.3.6.1.2.1.11: the enterprise of the generic traps.
const COid kSnmpEnterprise { 2, 1, 11, 0 };
constexpr std::int32_t kGenericColdStart = 0;
constexpr std::int32_t kGenericAuthenticationFailure = 4;

// Enterprises of the extended trap family.
const COid kVendorTrapEnterprise { 4, 1, 534, 1, 0 };
const COid kVendorTrapEnterpriseA { 4, 1, 534, 1, 11, 4, 1, 0 };
const COid kVendorTrapEnterpriseB { 4, 1, 534, 1, 11, 4, 2, 0 };

// Level of extended traps 1 to 29 by specific number; the first column
// under 1.3.6.1.4.1.534.1, the second under the two 534.1.11.4 enterprises.
constexpr std::array<std::int32_t, 29> kVendorLevels { 2, 4, 3, 2, 4, 4, 4, 2, 2, 2, 2, 3, 2, 4, 3, 2, 4, 1, 1, 3, 3, 4,
    1, 1, 1, 1, 1, 1, 1 };
constexpr std::array<std::int32_t, 29> kVendorSubtreeLevels { 2, 4, 3, 2, 4, 4, 4, 2, 2, 2, 2, 3, 2, 4, 3, 2, 4, 1, 1,
    3, 3, 4, 3, 4, 4, 3, 3, 4, 3 };

} // namespace

bool IsExtendedTrap(const COid& enterprise)
{
    return enterprise == kVendorTrapEnterprise || enterprise == kVendorTrapEnterpriseA
        || enterprise == kVendorTrapEnterpriseB;
}

std::int32_t TrapLevel(const COid& enterprise, std::int32_t specificTrap)
{
    if (!IsExtendedTrap(enterprise) || specificTrap < 1
        || specificTrap > static_cast<std::int32_t>(kVendorLevels.size()))
        return 1;
    const auto& levels = enterprise == kVendorTrapEnterprise ? kVendorLevels : kVendorSubtreeLevels;
    return levels[static_cast<std::size_t>(specificTrap - 1)];
}

bool IsTrapAdmitted(const STrapDestination& destination, const COid& enterprise, std::int32_t specificTrap)
{
    if (TrapLevel(enterprise, specificTrap) > destination.trapLevel)
        return false;
    // Types 1 and 3 take standard traps only, 2 and 4 extended ones only,
    // any other value both.
    if (IsExtendedTrap(enterprise))
        return destination.trapType != 1 && destination.trapType != 3;
    return destination.trapType != 2 && destination.trapType != 4;
}

void CSNMPAgent::SendPendingTraps(CAbstractUPS& ups)
{
    m_ups = &ups;
    try {
        while (ups.HasPendingTraps()) {
            std::unique_ptr<CSNMPTrap> trap = ups.TakeNextTrap();
            if (!trap)
                break;
            SendTrap(*trap);
        }
    } catch (...) {
        // The trap in hand is gone; the ones still queued go on a later pass.
    }
    m_ups = nullptr;
}

void CSNMPAgent::SendTrap(const CSNMPTrap& trap)
{
    if (m_trapDestinations.All().empty())
        return;

    constexpr auto kPlaceholder = static_cast<std::uint32_t>(kDatagramSize);
    std::array<std::uint8_t, kDatagramSize> bytes;
    CBasicEncodingRulesBuffer out(bytes);
    std::size_t message = out.BeginItem(ber::kSequence, kPlaceholder);
    out.WriteInteger(0);
    out.WriteOctetString(m_trapCommunity);
    std::size_t pdu = out.BeginItem(ber::kTrap, kPlaceholder);
    if (trap.GetEnterpriseForm() == EWireForm::OidAsIs) {
        auto arcs = trap.GetEnterprise().Arcs();
        out.WriteInstanceName(arcs.first(arcs.size() - 1));
    } else {
        out.WriteObjectIdentifier(trap.GetEnterprise());
    }
    out.WriteIpAddress(m_agentAddress);
    out.WriteInteger(trap.GetGenericTrap());
    out.WriteInteger(trap.GetSpecificTrap());
    // RFC 1157: the time-stamp is sysUpTime; without standard values it is
    // the wall clock in hundredths of a second, as the vendor's agent sent.
    out.WriteTimeTicks(m_standardValues ? GetUpTimeTicks() : GetMilliseconds() / 10);
    std::size_t list = out.BeginItem(ber::kSequence, kPlaceholder);
    for (const auto& binding : trap.GetBindings())
        out.WriteVarBind(*binding);
    out.EndItem(list);
    out.EndItem(pdu);
    out.EndItem(message);

    m_datagram = SDatagram {};
    auto written = out.Written();
    std::copy(written.begin(), written.end(), m_datagram.data.begin());
    m_datagram.length = static_cast<std::uint32_t>(written.size());

    for (const STrapDestination& destination : m_trapDestinations.All()) {
        if (!IsTrapAdmitted(destination, trap.GetEnterprise(), trap.GetSpecificTrap()))
            continue;
        m_datagram.address = destination.address;
        m_datagram.port = destination.port;
        // A failed send is not retried and does not keep the others waiting.
        if (SendTo(m_socket.Get(), m_datagram))
            ++m_counters->trapsSent;
    }
}

void CSNMPAgent::SendColdStart()
{
    SendTrap(CSNMPTrap(kGenericColdStart, 0, kSnmpEnterprise));
}

void CSNMPAgent::SendAuthenticationFailure()
{
    SendTrap(CSNMPTrap(kGenericAuthenticationFailure, 0, kSnmpEnterprise));
}

} // namespace pvx
