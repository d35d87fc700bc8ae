// What happened to the UPS and when: a fixed ring of the latest events (power
// events, alarms coming and going, the UPS lost and found), with wall-clock
// times, for the status page and its downloads. Adding never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace pvx {

enum class EEventKind : std::uint8_t {
    AlarmRaised,
    AlarmCleared, // the duration is how long the alarm was present
    UpsFound,
    UpsLost,
    OnBattery,
    PowerRestored, // the duration is how long the UPS ran on battery
    LowBattery,
    BatteryDepleted,
    ReplaceBattery,
    Overload,
    OnBypass,
    OutputOff,
    TestStarted,
    TestCompleted,
    ForcedShutdown,
    ShutdownBegun,
};

inline constexpr std::size_t kEventKinds = static_cast<std::size_t>(EEventKind::ShutdownBegun) + 1;

// The kind's key in the downloads ("alarmRaised") and its words on the page.
const char* EventKey(EEventKind kind);
const char* EventWords(EEventKind kind);
std::optional<EEventKind> EventKindOfKey(std::string_view key);

struct SEvent {
    static constexpr std::size_t kTextBytes = 48;
    std::time_t time = 0; // wall clock, seconds since the epoch
    std::int64_t durationSeconds = -1; // -1: none
    EEventKind kind = EEventKind::AlarmRaised;
    std::uint8_t textLength = 0;
    std::array<char, kTextBytes> text {}; // what the kind leaves open: the alarm, the UPS

    std::string_view Text() const { return { text.data(), textLength }; }
    std::optional<std::int64_t> Duration() const
    {
        return durationSeconds >= 0 ? std::optional<std::int64_t>(durationSeconds) : std::nullopt;
    }
};

class CEventLog {
public:
    static constexpr std::size_t kCapacity = 500;

    // The one entry point of every source of events. A text longer than
    // SEvent::kTextBytes is cut at a character boundary; the oldest entry
    // goes once the log is full.
    void Add(EEventKind kind, std::time_t time, std::optional<std::int64_t> durationSeconds = std::nullopt,
             std::string_view text = {});

    std::size_t Size() const { return m_size; }
    // Counted from the newest: 0 is the latest event.
    const SEvent& Newest(std::size_t index) const;
    // Bumped by every Add: whoever keeps a copy knows when it is stale.
    std::uint64_t Generation() const { return m_generation; }

    // One line per event, oldest first: time,kind,duration,text (the text
    // last, so it may hold commas). Load reads it back, at most kCapacity
    // lines and kMaxFileBytes; it returns false, keeping the log empty, on
    // anything it does not recognise.
    static constexpr std::size_t kMaxFileBytes = kCapacity * 96;
    std::string Serialize() const;
    bool Load(std::string_view file);

private:
    std::array<SEvent, kCapacity> m_entries {};
    std::size_t m_next = 0; // where the next event goes
    std::size_t m_size = 0;
    std::uint64_t m_generation = 0;
};

} // namespace pvx
