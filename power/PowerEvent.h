// Power events: what the power policy tells its observers (the log, the
// notification command, an event log) when the UPS's state changes.
#pragma once

#include "ups/EventLog.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace pvx::power {

enum class EPowerEvent {
    OnBattery,
    PowerRestored, // `durationSeconds` on battery
    LowBattery,
    BatteryNormal, // low or depleted no longer
    BatteryDepleted,
    ReplaceBattery,
    ReplaceBatteryCleared,
    Overload,
    OverloadEnded,
    OnBypass,
    BypassEnded,
    OutputOff,
    OutputOn,
    UpsLost,
    UpsFound,
    TestStarted,
    TestCompleted, // `detail` holds the result
    FsdRaised,
    ShutdownBegun, // `detail` holds the reason
    ShutdownCancelled,
};

// The UPS as it stood when the event happened.
struct SPowerState {
    bool connected = false;
    std::string upsName;
    std::optional<std::uint32_t> chargePercent;
    std::optional<std::uint32_t> runtimeSeconds;
    int outputSource = 1; // upsOutputSource
    int batteryStatus = 2; // upsBatteryStatus
    std::uint32_t secondsOnBattery = 0;
    std::string alarms; // names of the alarms present, blank-separated
};

struct SPowerEvent {
    EPowerEvent kind = EPowerEvent::OnBattery;
    std::time_t wallTime = 0;
    std::uint32_t durationSeconds = 0; // PowerRestored: how long the UPS ran on battery
    std::string detail;
    SPowerState state;
};

// The one interface through which power events are delivered.
class IPowerObserver {
public:
    virtual ~IPowerObserver() = default;
    virtual void OnPowerEvent(const SPowerEvent& event) = 0;
};

// The event's name for commands and displays ("ONBATT", "ONLINE", ...).
const char* EventName(EPowerEvent kind);
// The kind of the page's event-log entry the event makes, if any.
std::optional<EEventKind> EventLogKind(EPowerEvent kind);
// The upsOutputSource value in a word ("battery", "normal", ...).
const char* SourceName(int outputSource);

} // namespace pvx::power
