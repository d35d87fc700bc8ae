// Reads the model once a pass and turns its changes of state into power
// events, each once per change, for every observer.
#pragma once

#include "power/PowerEvent.h"
#include "ups/Readings.h"

#include <cstdint>
#include <vector>

namespace pvx::power {

// The conditions the monitor follows, as one pass read them.
struct SConditions {
    bool onBattery = false;
    int battery = 0; // 0 normal, 1 low, 2 depleted
    bool replaceBattery = false;
    bool overload = false;
    bool onBypass = false;
    bool outputOff = false;
    bool testRunning = false;
    bool operator==(const SConditions&) const = default;
};

// `last` stands in for what an unknown output source cannot tell.
SConditions ConditionsOf(const SUPSReadings& readings, const SConditions& last);
// The snapshot that goes with an event.
void StateOf(const SUPSReadings& readings, SPowerState& state);

class CPowerMonitor {
public:
    // Observers are not owned and must outlive the monitor's use.
    void AddObserver(IPowerObserver& observer) { m_observers.push_back(&observer); }

    // Once a pass. `ups` is the current UPS object or null; `newUps` says it
    // was made since the last call; `fsd` is the RFC 9271 server's FSD.
    void Observe(const CAbstractUPS* ups, bool newUps, bool fsd);
    // Tells every observer; the state is the last one read.
    void Emit(EPowerEvent kind, std::string detail = {}, std::uint32_t durationSeconds = 0);

    // What the last pass knew: whether the UPS is connected and read, and its conditions.
    bool IsConnected() const { return m_connected; }
    bool IsKnown() const { return m_known; }
    const SConditions& Conditions() const { return m_last; }
    const SUPSReadings& Readings() const { return m_readings; }
    // Monotonic ms at which the UPS went on battery / was lost.
    std::uint64_t OnBatterySince() const { return m_onBatterySince; }
    std::uint64_t LostSince() const { return m_lostSince; }

private:
    void Compare(const SConditions& now, std::uint64_t nowMs);

    std::vector<IPowerObserver*> m_observers;
    SUPSReadings m_readings; // reused each pass
    SPowerEvent m_event;
    SConditions m_last;
    bool m_known = false; // m_last holds a reading
    bool m_connected = false;
    bool m_everConnected = false;
    bool m_fsd = false;
    unsigned m_passes = 0; // of the current UPS object
    bool m_read = false; // the current UPS object has been read
    std::uint64_t m_onBatterySince = 0;
    std::uint64_t m_lostSince = 0;
};

} // namespace pvx::power
