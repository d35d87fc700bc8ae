// The last day of the UPS's main values, one sample a minute, in a fixed ring
// (no allocation per sample): what the page's charts and /history.json show.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace pvx {

enum class EHistoryValue : std::uint8_t {
    Charge, // %
    Runtime, // minutes
    Load, // % of the rated output
    InputVoltage, // V
    BatteryTemperature, // degrees Celsius
};

inline constexpr std::size_t kHistoryValues = 5;

struct SHistorySample {
    static constexpr std::int32_t kMissing = INT32_MIN; // the UPS did not report the value
    std::time_t time = 0; // wall clock, seconds since the epoch
    std::array<std::int32_t, kHistoryValues> values { kMissing, kMissing, kMissing, kMissing, kMissing };
    bool onBattery = false;
    bool connected = false; // false: no UPS at that minute, every value missing

    std::int32_t Value(EHistoryValue value) const { return values[static_cast<std::size_t>(value)]; }
};

class CHistory {
public:
    static constexpr std::size_t kCapacity = 24 * 60;
    static constexpr std::time_t kInterval = 60;

    // Keeps `sample` when it falls in a later minute than the newest sample;
    // a sample of the same minute, or one from before it (the wall clock set
    // back), is dropped, so the ring stays in time order. A kept sample is
    // stamped with the start of its minute, so the samples a script reads are
    // a whole number of minutes apart. Returns whether it was kept.
    bool Add(const SHistorySample& sample);
    void Clear() { m_next = m_size = 0; }
    std::size_t Size() const { return m_size; }
    // Counted from the oldest: 0 is the oldest sample held.
    const SHistorySample& Oldest(std::size_t index) const;
    // Whether a sample of the minute of `time` is already held.
    bool HasMinute(std::time_t time) const;

    // Name and unit of each value for the charts and the JSON.
    static const char* Key(EHistoryValue value);
    static const char* Title(EHistoryValue value);
    static const char* Unit(EHistoryValue value);

private:
    std::array<SHistorySample, kCapacity> m_samples {};
    std::size_t m_next = 0;
    std::size_t m_size = 0;
};

} // namespace pvx
