// The XCP meter map: format list, last value block and meter decoding.
#include "xcp/driver/DataTypeMap.h"

#include "platform/Portability.h"
#include "xcp/driver/ReplyReader.h"
#include "xcp/link/Commands.h"
#include "xcp/link/XCPCommandTable.h"

#include <array>
#include <bit>
#include <cmath>

namespace pvx {

namespace {

constexpr std::uint32_t kBlockTimeoutMs = 750;
constexpr std::size_t kMeterBytes = 4;


bool IsLeapYear(unsigned year)
{
    return year % 4 == 0 && (year % 400 == 0 || year % 100 != 0);
}

// Day of year (1-based) to month (0-based) and day of month; false when the
// day is not in that year.
bool SplitDayOfYear(unsigned dayOfYear, unsigned year, int& month, int& dayOfMonth)
{
    std::array<unsigned, 12> lengths = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (IsLeapYear(year))
        lengths[1] = 29;
    if (dayOfYear == 0)
        return false;
    unsigned day = dayOfYear;
    for (std::size_t m = 0; m < lengths.size(); ++m) {
        if (day <= lengths[m]) {
            month = static_cast<int>(m);
            dayOfMonth = static_cast<int>(day);
            return true;
        }
        day -= lengths[m];
    }
    return false;
}

} // namespace

void CDataTypeMap::ParseFormats(CReplyReader& reader)
{
    std::uint8_t count = reader.ReadU8();
    auto formats = reader.TakeUpTo(count);
    m_formats.assign(formats.begin(), formats.end());
}

bool CDataTypeMap::ReadBlock(CCommands& link, std::uint8_t request)
{
    // A command-status answer (or a UPS still busy after the last try) holds
    // a status byte and an echo, not meters: the last block stays.
    if (link.SendRequest(request, kBlockTimeoutMs) != 0)
        return false;
    auto reply = link.GetReply();
    m_values.assign(reply.begin(), reply.end());
    return true;
}

void CDataTypeMap::SetValues(std::span<const std::uint8_t> values)
{
    m_values.assign(values.begin(), values.end());
}

void CDataTypeMap::SetFormats(std::span<const std::uint8_t> formats)
{
    m_formats.assign(formats.begin(), formats.end());
}

std::size_t CDataTypeMap::ValueOffset(std::size_t meter) const
{
    std::size_t present = 0;
    for (std::size_t i = 0; i < meter && i < m_formats.size(); ++i)
        if (m_formats[i] != kXCPMeterAbsent)
            ++present;
    return present * kMeterBytes;
}

bool CDataTypeMap::RawWord(std::size_t meter, std::uint32_t& raw) const
{
    if (GetFormat(meter) == kXCPMeterAbsent)
        return false;
    CReplyReader reader(m_values);
    std::size_t offset = ValueOffset(meter);
    if (!reader.Holds(offset, kMeterBytes))
        return false;
    raw = reader.U32LEAt(offset);
    return true;
}

double CDataTypeMap::GetValue(std::size_t meter, double fallback) const
{
    std::uint32_t raw = 0;
    if (!RawWord(meter, raw))
        return fallback;
    std::uint8_t format = GetFormat(meter);
    if ((format & kXCPMeterScaled) == kXCPMeterScaled) {
        int shift = format & 0x0F;
        return shift == 0 ? static_cast<double>(raw) : std::ldexp(static_cast<double>(raw), -shift);
    }
    if (format == kXCPMeterInteger)
        return static_cast<double>(raw);
    if ((format & kXCPMeterDate) == kXCPMeterDate)
        return fallback; // dates, times and formats this driver cannot decode
    return static_cast<double>(std::bit_cast<float>(raw));
}

std::optional<std::tm> CDataTypeMap::GetDateTime() const
{
    std::tm now {};
    GetLocalTime(GetWallSeconds(), now);
    std::uint32_t date = 0;
    std::uint32_t time = 0;
    if (GetFormat(kDateMeter) != kXCPMeterDate || GetFormat(kTimeMeter) != kXCPMeterTime || !RawWord(kDateMeter, date)
        || !RawWord(kTimeMeter, time))
        return now;

    const unsigned dayOfYear = date & 0xFFFF;
    // The UPS sends the full year (day 60 of 0x07D0 is 29 February 2000).
    const unsigned year = ((date >> 16) & 0xFF) + 256 * ((date >> 24) & 0x7F);
    std::tm result {};
    if (!SplitDayOfYear(dayOfYear, year, result.tm_mon, result.tm_mday))
        return std::nullopt; // the UPS keeps a clock but it is wrong: not the host's either
    result.tm_year = static_cast<int>(year) - 1900;
    result.tm_sec = static_cast<int>((time >> 8) & 0xFF);
    result.tm_min = static_cast<int>((time >> 16) & 0xFF);
    result.tm_hour = static_cast<int>((time >> 24) & 0xFF);
    result.tm_isdst = -1;
    return result;
}

} // namespace pvx
