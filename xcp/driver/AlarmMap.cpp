// The XCP alarm map: supported-alarm bitmap and the scan of active alarms.
#include "xcp/driver/AlarmMap.h"

#include "xcp/driver/ReplyReader.h"
#include "xcp/link/Commands.h"
#include "xcp/link/XCPCommandTable.h"

#include <algorithm>
#include <bit>

namespace pvx {

namespace {
constexpr std::uint8_t kActiveAlarmRequest = kXCPAlarms;
constexpr std::uint32_t kBlockTimeoutMs = 750;
} // namespace

void CAlarmMap::ParseBitmap(CReplyReader& reader)
{
    std::uint8_t length = reader.ReadU8();
    auto bitmap = reader.TakeUpTo(length);
    m_bitmap.assign(bitmap.begin(), bitmap.end());
    m_supportedCount = 0;
    for (std::uint8_t byte : m_bitmap)
        m_supportedCount += static_cast<std::size_t>(std::popcount(byte));
    m_active.assign(m_supportedCount, 0);
    m_cursor = 0;
}

std::optional<unsigned> CAlarmMap::FirstActive(CCommands& link)
{
    if (link.SendRequest(kActiveAlarmRequest, kBlockTimeoutMs) != 0)
        return std::nullopt;
    return FirstActive(link.GetReply());
}

unsigned CAlarmMap::FirstActive(std::span<const std::uint8_t> activeBytes)
{
    std::size_t copied = std::min(activeBytes.size(), m_active.size());
    std::copy_n(activeBytes.begin(), copied, m_active.begin());
    std::fill(m_active.begin() + static_cast<std::ptrdiff_t>(copied), m_active.end(), 0);
    return ScanFrom(0);
}

unsigned CAlarmMap::NextActive()
{
    return ScanFrom(m_cursor + 1);
}

unsigned CAlarmMap::ScanFrom(std::size_t index)
{
    for (std::size_t i = index; i < m_active.size(); ++i) {
        if (m_active[i] != 0) {
            m_cursor = i;
            return AlarmNumber(i);
        }
    }
    m_cursor = m_active.size();
    return kNoAlarm;
}

unsigned CAlarmMap::AlarmNumber(std::size_t index) const
{
    std::size_t seen = 0;
    for (unsigned bit = 0; bit < kNoAlarm; ++bit) {
        std::size_t byte = bit / 8;
        if (byte >= m_bitmap.size())
            break;
        if ((m_bitmap[byte] >> (bit % 8)) & 1) {
            if (seen == index)
                return bit;
            ++seen;
        }
    }
    return kNoAlarm;
}

} // namespace pvx
