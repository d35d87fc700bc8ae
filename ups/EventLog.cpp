// The event ring and its file form.
#include "ups/EventLog.h"

#include <algorithm>
#include <charconv>

namespace pvx {

namespace {

struct SKindName {
    const char* key;
    const char* words;
};

// In the order of EEventKind.
constexpr std::array<SKindName, kEventKinds> kKindNames { {
    { "alarmRaised", "Alarm" },
    { "alarmCleared", "Alarm cleared" },
    { "upsFound", "UPS found" },
    { "upsLost", "UPS lost" },
    { "onBattery", "On battery" },
    { "powerRestored", "Power restored" },
    { "lowBattery", "Low battery" },
    { "batteryDepleted", "Battery depleted" },
    { "replaceBattery", "Battery needs replacing" },
    { "overload", "Overload" },
    { "onBypass", "On bypass" },
    { "outputOff", "Output off" },
    { "testStarted", "Test started" },
    { "testCompleted", "Test completed" },
    { "forcedShutdown", "Forced shutdown" },
    { "shutdownBegun", "Shutdown begun" },
} };

template <typename T> bool ParseNumber(std::string_view text, T& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

const char* EventKey(EEventKind kind)
{
    return kKindNames[static_cast<std::size_t>(kind)].key;
}

const char* EventWords(EEventKind kind)
{
    return kKindNames[static_cast<std::size_t>(kind)].words;
}

std::optional<EEventKind> EventKindOfKey(std::string_view key)
{
    for (std::size_t i = 0; i < kKindNames.size(); ++i)
        if (key == kKindNames[i].key)
            return static_cast<EEventKind>(i);
    return std::nullopt;
}

void CEventLog::Add(EEventKind kind, std::time_t time, std::optional<std::int64_t> durationSeconds,
                    std::string_view text)
{
    SEvent& entry = m_entries[m_next];
    entry.time = time;
    entry.kind = kind;
    entry.durationSeconds = durationSeconds && *durationSeconds >= 0 ? *durationSeconds : -1;
    std::size_t length = std::min(text.size(), SEvent::kTextBytes);
    // Never half a UTF-8 character: back off over continuation bytes.
    if (length < text.size())
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    for (std::size_t i = 0; i < length; ++i) {
        // One event is one line of the file and of the CSV download.
        const unsigned char c = static_cast<unsigned char>(text[i]);
        entry.text[i] = c < 0x20 || c == 0x7F ? ' ' : text[i];
    }
    entry.textLength = static_cast<std::uint8_t>(length);
    m_next = (m_next + 1) % kCapacity;
    if (m_size < kCapacity)
        ++m_size;
    ++m_generation;
}

const SEvent& CEventLog::Newest(std::size_t index) const
{
    return m_entries[(m_next + kCapacity - 1 - index % kCapacity) % kCapacity];
}

std::string CEventLog::Serialize() const
{
    std::string out;
    out.reserve(m_size * 64);
    for (std::size_t i = m_size; i-- > 0;) {
        const SEvent& e = Newest(i);
        out += std::to_string(static_cast<std::int64_t>(e.time));
        out += ',';
        out += EventKey(e.kind);
        out += ',';
        out += std::to_string(e.durationSeconds);
        out += ',';
        out += e.Text();
        out += '\n';
    }
    return out;
}

bool CEventLog::Load(std::string_view file)
{
    *this = CEventLog();
    if (file.size() > kMaxFileBytes)
        return false;
    CEventLog loaded;
    std::size_t lines = 0;
    while (!file.empty()) {
        const std::size_t end = file.find('\n');
        if (end == std::string_view::npos || ++lines > kCapacity)
            return false; // a torn last line or more than the log holds
        std::string_view line = file.substr(0, end);
        file.remove_prefix(end + 1);
        std::string_view fields[3];
        for (std::string_view& field : fields) {
            const std::size_t comma = line.find(',');
            if (comma == std::string_view::npos)
                return false;
            field = line.substr(0, comma);
            line.remove_prefix(comma + 1);
        }
        std::int64_t time = 0, duration = 0;
        const std::optional<EEventKind> kind = EventKindOfKey(fields[1]);
        if (!ParseNumber(fields[0], time) || !kind || !ParseNumber(fields[2], duration) || duration < -1
            || line.size() > SEvent::kTextBytes)
            return false;
        loaded.Add(*kind, static_cast<std::time_t>(time), duration, line);
    }
    *this = loaded;
    return true;
}

} // namespace pvx
