// Controls, tests and configuration writes as XCP commands on a link.
#include "xcp/link/XCPControls.h"

#include "events/PVXException.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace pvx {

namespace {

constexpr std::uint32_t kRequestTimeoutMs = 750;
constexpr std::uint32_t kCommandTimeoutMs = 1500;
// Below this many ms a schedule is carried out at once instead of in minutes.
constexpr std::int64_t kImmediateLimitMs = 29999;

void RequireAccepted(std::uint32_t result)
{
    if (result != kXCPAccepted)
        throw CPVXException(EVENT_COMMAND_FAILED);
}

void RequireWritten(std::uint32_t result)
{
    switch (result) {
    case kXCPAccepted:
        return;
    case kXCPNotAvailable:
    case kXCPNotSettable:
        throw CPVXException(EVENT_READ_ONLY);
    case kXCPOutOfRange:
    case kXCPBadParameter:
        throw CPVXException(EVENT_BAD_VALUE);
    default:
        throw CPVXException(EVENT_COMMAND_FAILED);
    }
}

} // namespace

std::array<std::uint8_t, 2> LittleEndian16(std::uint16_t value)
{
    return { static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8) };
}

std::uint16_t Unsigned16OrRefuse(std::int64_t value)
{
    if (value < 0 || value > std::numeric_limits<std::uint16_t>::max())
        throw CPVXException(EVENT_BAD_VALUE);
    return static_cast<std::uint16_t>(value);
}

std::uint16_t Signed16OrRefuse(std::int64_t value)
{
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        throw CPVXException(EVENT_BAD_VALUE);
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
}

std::optional<std::array<int, 6>> ParseDateTimeText(const std::string& text)
{
    // The separators after each number, as in "%d/%d/%d:%d:%d:%d".
    constexpr char kSeparators[] = { '/', '/', ':', ':', ':' };
    std::array<int, 6> fields {};
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        while (at < end && (*at == ' ' || (*at >= '\t' && *at <= '\r')))
            ++at;
        if (at < end && *at == '+')
            ++at;
        auto [next, error] = std::from_chars(at, end, fields[i]);
        if (error != std::errc())
            return std::nullopt;
        at = next;
        if (i < std::size(kSeparators)) {
            if (at >= end || *at != kSeparators[i])
                return std::nullopt;
            ++at;
        }
    }
    return fields;
}

std::array<std::uint8_t, 8> DateCommandBytes(const std::array<int, 6>& fields)
{
    const auto year = static_cast<unsigned>(fields[2]);
    return {
        static_cast<std::uint8_t>((year >> 8) & 0x80), static_cast<std::uint8_t>(year & 0xFF),
        static_cast<std::uint8_t>(fields[0]), // month
        static_cast<std::uint8_t>(fields[1]), // day
        static_cast<std::uint8_t>(fields[3]), // hour
        static_cast<std::uint8_t>(fields[4]), // minute
        static_cast<std::uint8_t>(fields[5]), // second
        0, // not used by the UPS
    };
}

void SendSchedule(CCommands& link, std::optional<std::int64_t> remainingMs, std::uint8_t immediate,
                  std::uint8_t delayed)
{
    std::uint32_t result = 0;
    if (!remainingMs) {
        const std::array<std::uint8_t, 2> cancel = { 0x00, 0x00 };
        result = link.SendCommand(delayed, cancel, kCommandTimeoutMs);
    } else if (*remainingMs <= kImmediateLimitMs) {
        // Overdue included: a schedule whose time has just passed is carried out now.
        result = link.SendRequest(immediate, kRequestTimeoutMs);
    } else {
        const std::int64_t minutes = std::max<std::int64_t>(1, *remainingMs / 60000);
        const auto minuteBytes = LittleEndian16(Unsigned16OrRefuse(minutes));
        result = link.SendCommand(delayed, minuteBytes, kCommandTimeoutMs);
    }
    RequireAccepted(result);
}

void SendReboot(CCommands& link, std::optional<std::int64_t> remainingMs)
{
    if (!remainingMs)
        throw CPVXException(EVENT_COMMAND_FAILED);
    // Nearest whole second: the reboot is applied just after it was set, and
    // the few milliseconds between must not cost the manager a second.
    const std::int64_t seconds = std::max<std::int64_t>(0, (*remainingMs + 500) / 1000);
    const auto secondBytes = LittleEndian16(Unsigned16OrRefuse(seconds));
    RequireAccepted(link.SendCommand(kXCPReboot, secondBytes, kCommandTimeoutMs));
}

void SendTimedCommand(CCommands& link, std::optional<std::int64_t> remainingMs)
{
    if (!remainingMs || *remainingMs >= 0)
        return;
    RequireAccepted(link.SendRequest(kXCPTimedCommand, kRequestTimeoutMs));
}

void SendBatteryTest(CCommands& link, std::uint8_t type, std::uint8_t duration)
{
    const std::array<std::uint8_t, 2> data = { type, duration };
    RequireAccepted(link.SendCommand(kXCPBatteryTest, data, kCommandTimeoutMs));
}

int SendOutletAction(CCommands& link, int outlet, std::uint8_t subCommand, int value)
{
    const auto valueBytes = LittleEndian16(static_cast<std::uint16_t>(value & 0xFFFF));
    const std::array<std::uint8_t, 4> data
        = { static_cast<std::uint8_t>(outlet & 0xFF), subCommand, valueBytes[0], valueBytes[1] };
    return static_cast<int>(link.SendCommand(kXCPOutletCommand, data, kCommandTimeoutMs));
}

void WriteParameter(CCommands& link, std::uint8_t parameter, std::uint16_t value)
{
    const auto valueBytes = LittleEndian16(value);
    const std::array<std::uint8_t, 3> data = { parameter, valueBytes[0], valueBytes[1] };
    RequireWritten(link.SendCommand(kXCPSetParameter, data, kCommandTimeoutMs));
}

std::uint32_t ForwardParameter(CCommands& link, std::uint8_t parameter, std::uint8_t value)
{
    const std::array<std::uint8_t, 2> data = { parameter, value };
    return link.SendCommand(kXCPSetParameter, data, kCommandTimeoutMs);
}

void WriteClock(CCommands& link, const std::string& text)
{
    const auto fields = ParseDateTimeText(text);
    if (!fields)
        throw CPVXException(EVENT_BAD_VALUE);
    const auto data = DateCommandBytes(*fields);
    RequireWritten(link.SendCommand(kXCPSetClock, data, kCommandTimeoutMs));
}

} // namespace pvx
