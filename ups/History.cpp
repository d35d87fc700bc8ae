// The sample ring of the last day.
#include "ups/History.h"

namespace pvx {

namespace {

struct SValueName {
    const char* key;
    const char* title;
    const char* unit;
};

// In the order of EHistoryValue.
constexpr std::array<SValueName, kHistoryValues> kNames { {
    { "charge", "Battery charge", "%" },
    { "runtime", "Runtime", "min" },
    { "load", "Load", "%" },
    { "inputVoltage", "Input voltage", "V" },
    { "batteryTemperature", "Battery temperature", "\xC2\xB0" "C" },
} };

std::time_t MinuteOf(std::time_t time)
{
    return time - ((time % CHistory::kInterval) + CHistory::kInterval) % CHistory::kInterval;
}

} // namespace

bool CHistory::Add(const SHistorySample& sample)
{
    if (m_size > 0 && MinuteOf(sample.time) <= MinuteOf(Oldest(m_size - 1).time))
        return false;
    m_samples[m_next] = sample;
    m_samples[m_next].time = MinuteOf(sample.time);
    m_next = (m_next + 1) % kCapacity;
    if (m_size < kCapacity)
        ++m_size;
    return true;
}

const SHistorySample& CHistory::Oldest(std::size_t index) const
{
    return m_samples[(m_next + kCapacity - m_size + index % kCapacity) % kCapacity];
}

bool CHistory::HasMinute(std::time_t time) const
{
    return m_size > 0 && MinuteOf(time) <= MinuteOf(Oldest(m_size - 1).time);
}

const char* CHistory::Key(EHistoryValue value) { return kNames[static_cast<std::size_t>(value)].key; }
const char* CHistory::Title(EHistoryValue value) { return kNames[static_cast<std::size_t>(value)].title; }
const char* CHistory::Unit(EHistoryValue value) { return kNames[static_cast<std::size_t>(value)].unit; }

} // namespace pvx
