// The alarm table (RFC 1628 upsAlarmTable): entries refreshed poll by poll,
// with the traps queued when an alarm appears or goes away.
#include "ups/AbstractUPS.h"

#include "platform/Portability.h"

#include <algorithm>

namespace pvx {

namespace {

// Fixed binding names of upsTrapAlarmEntryAdded / upsTrapAlarmEntryRemoved:
// they name the table columns, not the entry's row.
const COid kAlarmIdBindingName { 2, 1, 33, 1, 6, 2, 1, 1, 0 };
const COid kAlarmDescrBindingName { 2, 1, 33, 1, 6, 2, 1, 2, 0 };

constexpr std::int32_t kAlarmEntryAdded = 3;
constexpr std::int32_t kAlarmEntryRemoved = 4;
constexpr std::int32_t kVendorOnBatteryGone = 5;
constexpr std::int32_t kVendorLowBatteryGone = 6;

// RFC 1628 upsAlarmId is 1..2147483647.
constexpr std::uint32_t kMaxAlarmId = 2147483647;

struct SNewAlarmTrap {
    const COid* descriptor;
    std::int32_t specific;
};

// Vendor traps announcing a new alarm (enterprise 534.1, no bindings).
const SNewAlarmTrap kNewAlarmTraps[] = {
    { &kUpsAlarmOnBattery, 3 },
    { &kUpsAlarmLowBattery, 4 },
    { &kUpsAlarmOutputOverload, 7 },
    { &kUpsAlarmGeneralFault, 8 },
    { &kUpsAlarmDepletedBattery, 9 },
    { &kUpsAlarmOnBypass, 11 },
    { &kUpsAlarmBypassBad, 12 },
    { &kUpsAlarmUpsOutputOff, 13 },
    { &kUpsAlarmInputBad, 14 },
    { &kUpsAlarmShutdownImminent, 16 },
};

} // namespace

bool CAbstractUPS::HasAlarm(const COid& descriptor) const
{
    return std::ranges::any_of(m_alarms, [&](const SAlarmEntry& entry) { return entry.descriptor == descriptor; });
}

int CAbstractUPS::BatteryStatus() const
{
    // The UPS's own alarms count first: its run-time estimate may stay above
    // the low-battery time while it already warns (a weak battery), and a
    // manager that waits for the estimate shuts its hosts down too late.
    if (HasAlarm(kUpsAlarmDepletedBattery) || m_minutesRemaining == 0)
        return 4;
    if (HasAlarm(kUpsAlarmLowBattery) || m_minutesRemaining <= m_lowBatteryTime)
        return 3;
    return 2;
}

void CAbstractUPS::MarkAlarmsStale()
{
    for (auto& entry : m_alarms)
        entry.stale = true;
}

std::uint32_t CAbstractUPS::TakeAlarmId()
{
    // Ids stay unique among present entries after the counter wraps; 0 is
    // skipped because a 0 arc would end the row's name.
    for (;;) {
        std::uint32_t id = m_nextAlarmId;
        m_nextAlarmId = m_nextAlarmId >= kMaxAlarmId ? 1 : m_nextAlarmId + 1;
        if (id == 0 || id > kMaxAlarmId)
            continue;
        bool taken = std::any_of(m_alarms.begin(), m_alarms.end(), [id](const SAlarmEntry& e) { return e.id == id; });
        if (!taken)
            return id;
    }
}

void CAbstractUPS::RaiseAlarm(const COid& descriptor)
{
    for (auto& entry : m_alarms) {
        if (entry.descriptor == descriptor) {
            entry.stale = false;
            return;
        }
    }
    for (const auto& vendorTrap : kNewAlarmTraps) {
        if (*vendorTrap.descriptor == descriptor) {
            QueueVendorTrap(vendorTrap.specific);
            break;
        }
    }
    SAlarmEntry entry;
    entry.id = TakeAlarmId();
    entry.descriptor = descriptor;
    entry.time = GetMilliseconds();
    entry.upTime = GetUpTimeTicks();
    m_alarms.push_back(entry);
    // RFC 1628: upsTrapAlarmEntryAdded for every alarm but upsAlarmOnBattery
    // and upsAlarmTestInProgress, which have traps of their own.
    const bool ownTrap = descriptor == kUpsAlarmOnBattery || descriptor == kUpsAlarmTestInProgress;
    if (!UsesStandardTraps() || !ownTrap)
        QueueAlarmEntryTrap(kAlarmEntryAdded, m_alarms.back());
}

void CAbstractUPS::RemoveStaleAlarms()
{
    // Traps first, for every stale entry in list order, then the entries go.
    for (const auto& entry : m_alarms) {
        if (!entry.stale)
            continue;
        const bool onBattery = entry.descriptor == kUpsAlarmOnBattery;
        // RFC 1628: upsTrapAlarmEntryRemoved for every alarm but
        // upsAlarmTestInProgress; the vendor's agent left on battery out too.
        if ((UsesStandardTraps() || !onBattery) && !(entry.descriptor == kUpsAlarmTestInProgress))
            QueueAlarmEntryTrap(kAlarmEntryRemoved, entry);
        if (onBattery)
            QueueVendorTrap(kVendorOnBatteryGone);
        else if (entry.descriptor == kUpsAlarmLowBattery)
            QueueVendorTrap(kVendorLowBatteryGone);
    }
    std::erase_if(m_alarms, [](const SAlarmEntry& entry) { return entry.stale; });
}

void CAbstractUPS::QueueVendorTrap(std::int32_t specific)
{
    QueueTrap(std::make_unique<CSNMPTrap>(6, specific, kVendorTrapsEnterprise));
}

void CAbstractUPS::QueueAlarmEntryTrap(std::int32_t specific, const SAlarmEntry& entry)
{
    auto trap = NewUpsTrap(specific);
    auto id = std::make_unique<CMIBData>(entry.id, static_cast<std::uint32_t>(kMIBIntMax), MIB_UNSIGNED);
    id->SetName(kAlarmIdBindingName);
    auto descriptor = std::make_unique<CMIBData>(entry.descriptor, MIB_OID);
    descriptor->SetName(kAlarmDescrBindingName);
    if (m_standardValues)
        descriptor->SetWireForm(EWireForm::OidAsIs);
    if (m_standardNames) {
        // RFC 1628 names the bindings of the entry reported: upsAlarmId.<id>
        // and upsAlarmDescr.<id>.
        auto name = kAlarmIdBindingName.Arcs();
        std::vector<std::uint32_t> arcs(name.begin(), name.end() - 1);
        arcs.push_back(entry.id);
        id->SetInstanceName(arcs);
        arcs[arcs.size() - 2] = 2;
        descriptor->SetInstanceName(arcs);
    }
    trap->AddBinding(std::move(id));
    trap->AddBinding(std::move(descriptor));
    QueueTrap(std::move(trap));
}

} // namespace pvx
