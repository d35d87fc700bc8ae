// CAlarmMap: which XCP alarms the UPS supports (bitmap from the
// identification block) and which of them the last alarm block marks active.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pvx {

class CCommands;
class CReplyReader;

class CAlarmMap {
public:
    // Alarm numbers run 0 to 218; this one ends every scan.
    static constexpr unsigned kNoAlarm = 219;

    CAlarmMap() = default;
    virtual ~CAlarmMap() = default;

    // Reads a length byte and that many bitmap bytes (cut to what arrived),
    // counts the supported alarms and clears the active bytes.
    void ParseBitmap(CReplyReader& reader);
    // Requests the active-alarm block and returns the first active alarm
    // number, or kNoAlarm; bytes the block lacks count as inactive. Nothing,
    // with the active bytes kept, when the UPS answers with anything but the
    // alarm block (a command status, or busy after the last try).
    std::optional<unsigned> FirstActive(CCommands& link);
    // Takes the active bytes directly and starts a scan (tests).
    unsigned FirstActive(std::span<const std::uint8_t> activeBytes);
    // The next active alarm after the last one returned, or kNoAlarm.
    unsigned NextActive();
    // The alarm number of the n-th supported alarm (from 0), or kNoAlarm.
    unsigned AlarmNumber(std::size_t index) const;

    std::size_t GetSupportedCount() const { return m_supportedCount; }
    std::size_t GetBitmapLength() const { return m_bitmap.size(); }

private:
    unsigned ScanFrom(std::size_t index);

    std::size_t m_cursor = 0;
    std::size_t m_supportedCount = 0;
    std::vector<std::uint8_t> m_bitmap;
    std::vector<std::uint8_t> m_active;
};

} // namespace pvx
