// Names of the power events and how the log tells each.
#include "power/PowerLog.h"

#include "events/PVXException.h"
#include "ups/EventLog.h"
#include "ups/StatusNames.h"

#include <array>

namespace pvx::power {

namespace {

struct SEventEntry {
    EPowerEvent kind;
    const char* name;
    std::uint32_t code; // 0: the log line is written where the event is made
    EPriority priority;
    // The entry of the page's event log; none for an event whose end shows
    // otherwise (the next event, or an alarm cleared) or that the recorder
    // sees itself (a UPS lost or found).
    std::optional<EEventKind> logged = std::nullopt;
};

constexpr std::array<SEventEntry, 20> kEvents { {
    { EPowerEvent::OnBattery, "ONBATT", EVENT_POWER_ON_BATTERY, EPriority::Warning, EEventKind::OnBattery },
    { EPowerEvent::PowerRestored, "ONLINE", EVENT_POWER_RESTORED, EPriority::Notice, EEventKind::PowerRestored },
    { EPowerEvent::LowBattery, "LOWBATT", EVENT_POWER_LOW_BATTERY, EPriority::Warning, EEventKind::LowBattery },
    { EPowerEvent::BatteryNormal, "BATTNORMAL", EVENT_POWER_CONDITION_ENDED, EPriority::Notice },
    { EPowerEvent::BatteryDepleted, "DEPLETED", EVENT_POWER_DEPLETED, EPriority::Warning, EEventKind::BatteryDepleted },
    { EPowerEvent::ReplaceBattery, "REPLBATT", EVENT_POWER_REPLACE_BATTERY, EPriority::Warning, EEventKind::ReplaceBattery },
    { EPowerEvent::ReplaceBatteryCleared, "REPLBATT_END", EVENT_POWER_CONDITION_ENDED, EPriority::Notice },
    { EPowerEvent::Overload, "OVERLOAD", EVENT_POWER_OVERLOAD, EPriority::Warning, EEventKind::Overload },
    { EPowerEvent::OverloadEnded, "OVERLOAD_END", EVENT_POWER_CONDITION_ENDED, EPriority::Notice },
    { EPowerEvent::OnBypass, "BYPASS", EVENT_POWER_ON_BYPASS, EPriority::Warning, EEventKind::OnBypass },
    { EPowerEvent::BypassEnded, "BYPASS_END", EVENT_POWER_CONDITION_ENDED, EPriority::Notice },
    { EPowerEvent::OutputOff, "OFF", EVENT_POWER_OUTPUT_OFF, EPriority::Warning, EEventKind::OutputOff },
    { EPowerEvent::OutputOn, "OFF_END", EVENT_POWER_CONDITION_ENDED, EPriority::Notice },
    // The loop already reports a lost UPS, with or without power events.
    { EPowerEvent::UpsLost, "COMMBAD", 0, EPriority::Warning },
    { EPowerEvent::UpsFound, "COMMOK", EVENT_POWER_UPS_FOUND, EPriority::Notice },
    { EPowerEvent::TestStarted, "TEST_STARTED", EVENT_POWER_TEST_STARTED, EPriority::Notice, EEventKind::TestStarted },
    { EPowerEvent::TestCompleted, "TEST_DONE", EVENT_POWER_TEST_COMPLETED, EPriority::Notice, EEventKind::TestCompleted },
    { EPowerEvent::FsdRaised, "FSD", EVENT_POWER_FSD, EPriority::Warning, EEventKind::ForcedShutdown },
    // The shutdown sequence logs its own steps, whether or not power events are logged.
    { EPowerEvent::ShutdownBegun, "SHUTDOWN", 0, EPriority::Warning, EEventKind::ShutdownBegun },
    { EPowerEvent::ShutdownCancelled, "SHUTDOWN_CANCELLED", 0, EPriority::Notice },
} };

const SEventEntry& EntryOf(EPowerEvent kind)
{
    for (const SEventEntry& entry : kEvents)
        if (entry.kind == kind)
            return entry;
    return kEvents[0]; // every kind has its row
}

} // namespace

const char* EventName(EPowerEvent kind) { return EntryOf(kind).name; }

std::optional<EEventKind> EventLogKind(EPowerEvent kind) { return EntryOf(kind).logged; }

const char* SourceName(int outputSource)
{
    const status::SName* name = status::Find(status::kSources, outputSource);
    return name != nullptr ? name->key : "other";
}

void CPowerLog::OnPowerEvent(const SPowerEvent& event)
{
    const SEventEntry& entry = EntryOf(event.kind);
    if (!m_enabled || entry.code == 0)
        return;
    // The detail names the event and the UPS's state, so that the line says
    // what happened even where the catalog's text is not at hand.
    std::string detail = entry.name;
    if (event.kind == EPowerEvent::PowerRestored)
        detail += ": on battery for " + std::to_string(event.durationSeconds) + " s";
    else if (!event.detail.empty())
        detail += ": " + event.detail;
    const SPowerState& s = event.state;
    detail += std::string("; output source ") + SourceName(s.outputSource);
    if (s.chargePercent)
        detail += ", charge " + std::to_string(*s.chargePercent) + " %";
    if (s.runtimeSeconds)
        detail += ", run time " + std::to_string(*s.runtimeSeconds) + " s";
    CPVXException line(entry.code);
    line.SetDetail(detail + ".");
    line.Report(entry.priority);
}

} // namespace pvx::power
