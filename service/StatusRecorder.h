// Turns what the loop sees of the UPS, pass by pass, into the event log and
// the history: alarms coming and going, the UPS found and lost, one sample a
// minute. Kept by the service for its whole run, across UPS objects.
#pragma once

#include "power/PowerEvent.h"
#include "ups/AbstractUPS.h"
#include "ups/Readings.h"
#include "ups/StatusRecords.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace pvx {

class CStatusRecorder : public power::IPowerObserver {
public:
    // `configuredName`: UPSIdent/Name, the heading until a UPS is seen.
    // `logPath`: where the event log is kept across restarts; empty: nowhere.
    // A kept log that cannot be read is reported and started afresh.
    CStatusRecorder(std::string configuredName, std::string logPath);

    // Once a pass, after the UPS was polled and dropped if lost: `ups` is the
    // current UPS object or null.
    void Observe(const CAbstractUPS* ups);
    // The power events that have a kind of their own in the log; the ends of
    // conditions and the UPS lost or found come from the alarms and the
    // passes already.
    void OnPowerEvent(const power::SPowerEvent& event) override;
    // Writes the log now if it changed since it was last written.
    void Flush();

    const SStatusRecords& Records() const { return m_records; }
    SStatusRecords& Records() { return m_records; }

    // Test seam: fills the day before `now` with samples that follow `from`
    // (so that charts show a full day without waiting a day).
    void FillDay(std::time_t now, const SHistorySample& from);

private:
    struct STrackedAlarm {
        std::uint32_t id = 0;
        std::time_t since = 0;
        std::uint8_t textLength = 0;
        std::array<char, SEvent::kTextBytes> text {};
    };
    static constexpr std::size_t kMaxTracked = 64;

    void ObserveAlarms(std::time_t now);
    SHistorySample Sample(std::time_t now) const;

    SStatusRecords m_records;
    std::string m_logPath;
    std::uint64_t m_writtenGeneration = 0;
    std::time_t m_lastWrite = 0;
    bool m_connected = false;
    bool m_fillDay = false;
    SUPSReadings m_readings; // reused pass after pass
    std::array<STrackedAlarm, kMaxTracked> m_alarms {};
    std::size_t m_alarmCount = 0;
};

} // namespace pvx
