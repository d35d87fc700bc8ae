// The objects the agent answers itself, beside the UPS's object tree: the two
// trap-control objects, and with SNMP/SystemGroup the system and snmp groups
// of RFC 3418 and, with SNMPv3, the snmpEngine group of RFC 3411 and the
// usmStats counters of RFC 3414. All are scalars, kept in name order so that
// GET-NEXT can merge them with the tree's walk.
#include "snmp/agent/SNMPAgent.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <algorithm>
#include <limits>

namespace pvx {

namespace {

std::unique_ptr<CMIBData> Signed(std::int32_t value)
{
    return std::make_unique<CMIBData>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), MIB_SIGNED);
}

std::unique_ptr<CMIBData> Typed(std::uint32_t value, EWireForm form)
{
    auto data = std::make_unique<CMIBData>(value, std::numeric_limits<std::uint32_t>::max(), MIB_UNSIGNED);
    data->SetWireForm(form);
    return data;
}

std::unique_ptr<CMIBData> Text(std::string_view text, EWireForm form = EWireForm::AsKind)
{
    auto data = std::make_unique<CMIBData>(text, kMIBTextMax, MIB_TEXT);
    data->SetWireForm(form);
    return data;
}

// sysObjectID: the UPS-MIB itself (1.3.6.1.2.1.33), so that managers that
// classify a device by it (NUT's snmp-ups with mibs=auto) read pvx through the
// standard MIB rather than a vendor's.
const COid kSysObjectId { 2, 1, 33, 0 };
// sysServices (RFC 3418): an application host, end-to-end (64 + 8).
constexpr std::int32_t kSysServices = 72;
// snmpEnableAuthenTraps: enabled(1); authenticationFailure traps are sent.
constexpr std::int32_t kAuthenTrapsEnabled = 1;

} // namespace

void CSNMPAgent::SetSystemGroup(SSystemGroup group)
{
    m_systemGroup = std::move(group);
    BuildLocalObjects();
}

void CSNMPAgent::BuildLocalObjects()
{
    m_localObjects.clear();
    auto add = [this](std::vector<std::uint32_t> name, std::function<std::unique_ptr<CMIBData>()> get, int text = -1) {
        m_localObjects.push_back({ std::move(name), std::move(get), text, false });
    };
    if (m_systemGroup) {
        add({ 2, 1, 1, 1, 0 }, [this] {
            std::string description = m_systemGroup->description;
            if (m_ups != nullptr && !m_ups->GetModelName().empty())
                description += " for the UPS " + m_ups->GetModelName();
            return Text(description);
        });
        add({ 2, 1, 1, 2, 0 }, [] {
            auto data = std::make_unique<CMIBData>(kSysObjectId, MIB_OID);
            data->SetWireForm(EWireForm::OidAsIs);
            return data;
        });
        add({ 2, 1, 1, 3, 0 }, [] { return Typed(GetUpTimeTicks(), EWireForm::TimeTicks); });
        for (std::uint32_t i = 0; i < 3; ++i)
            add({ 2, 1, 1, 4 + i, 0 }, [this, i] { return Text(m_systemGroup->texts[i]); }, static_cast<int>(i));
        add({ 2, 1, 1, 7, 0 }, [] { return Signed(kSysServices); });
        // The snmp group's current objects (RFC 3418 snmpGroup, snmpSetGroup's
        // snmpEnableAuthenTraps read-only here).
        const std::pair<std::uint32_t, std::uint32_t SSnmpGroupCounters::*> counters[] = {
            { 1, &SSnmpGroupCounters::inPackets },
            { 3, &SSnmpGroupCounters::badVersions },
            { 4, &SSnmpGroupCounters::badCommunityNames },
            { 5, &SSnmpGroupCounters::badCommunityUses },
            { 6, &SSnmpGroupCounters::parseErrors },
        };
        for (const auto& [arc, member] : counters)
            add({ 2, 1, 11, arc, 0 },
                [this, counter = member] { return Typed(m_snmpGroup.*counter, EWireForm::Counter32); });
        add({ 2, 1, 11, 30, 0 }, [] { return Signed(kAuthenTrapsEnabled); });
        add({ 2, 1, 11, 31, 0 }, [this] { return Typed(m_snmpGroup.silentDrops, EWireForm::Counter32); });
        add({ 2, 1, 11, 32, 0 }, [] { return Typed(0, EWireForm::Counter32); }); // snmpProxyDrops: no proxy
    }
    // The trap-control objects answer the requesting manager's record.
    m_localObjects.push_back({ { kTrapLevelOid.Arcs().begin(), kTrapLevelOid.Arcs().end() },
        [this] { return Signed(TrapLevelOf(m_datagram.address)); }, -1, true });
    m_localObjects.push_back({ { kTrapTypeOid.Arcs().begin(), kTrapTypeOid.Arcs().end() },
        [this] { return Signed(TrapTypeOf(m_datagram.address)); }, -1, true });
    if (m_systemGroup && m_v3) {
        add({ 6, 3, 10, 2, 1, 1, 0 }, [this] {
            const auto& id = m_v3->EngineId();
            return Text(std::string_view(reinterpret_cast<const char*>(id.data()), id.size()), EWireForm::Octets);
        });
        add({ 6, 3, 10, 2, 1, 2, 0 }, [this] { return Signed(static_cast<std::int32_t>(m_v3->EngineBoots())); });
        add({ 6, 3, 10, 2, 1, 3, 0 }, [this] { return Signed(static_cast<std::int32_t>(m_v3->EngineTime())); });
        add({ 6, 3, 10, 2, 1, 4, 0 }, [] { return Signed(usm::kOwnMaxMessageSize); });
        for (std::uint32_t n = 1; n < usm::kUsmReportCount; ++n)
            add({ 6, 3, 15, 1, 1, n, 0 },
                [this, n] { return Typed(m_v3->Counters().usmStats[n], EWireForm::Counter32); });
    }
    std::ranges::sort(m_localObjects, std::ranges::lexicographical_compare, &SLocalObject::name);
}

const CSNMPAgent::SLocalObject* CSNMPAgent::FindLocal(const SRequestName& requested) const
{
    if (requested.place != ENamePlace::Internet)
        return nullptr;
    for (const SLocalObject& object : m_localObjects) {
        // The trap-control objects keep the vendor naming's reading of a
        // name cut at its first 0 arc; the others take their instance only.
        auto asked = object.anySuffix ? NameUpToZero(requested.terminated) : requested.arcs;
        if (std::ranges::equal(asked, object.name))
            return &object;
    }
    return nullptr;
}

const CSNMPAgent::SLocalObject* CSNMPAgent::NextLocal(std::span<const std::uint32_t> arcs) const
{
    auto after = std::ranges::find_if(m_localObjects,
        [arcs](const SLocalObject& object) { return std::ranges::lexicographical_compare(arcs, object.name); });
    return after == m_localObjects.end() ? nullptr : &*after;
}

std::unique_ptr<CMIBData> CSNMPAgent::LocalValue(const SLocalObject& object) const
{
    auto value = object.get();
    value->SetName(COid(object.name));
    return value;
}

} // namespace pvx
