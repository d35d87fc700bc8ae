// The simulated UPS's side of the XCP protocol: request assembly, the reply
// blocks, command effects, fault injection and the passage of time.
#include "tools/upssim/SimulatedUps.h"

#include "platform/ByteCursor.h"
#include "platform/Portability.h"
#include "xcp/link/XCPControls.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace pvx::upssim {

namespace {

constexpr int kAlarmLimit = 219; // alarm numbers run 0 to 218
// From this code on a request is a command, answered with a command status.
constexpr std::uint8_t kCommandsFrom = 0x80;
// Commands above this one need the authorization frame first.
constexpr std::uint8_t kUnrestrictedLimit = 0x80;
// Blocks no request asks for, sent ahead of a reply as unsolicited noise.
constexpr std::uint8_t kForeignBlock = 0x0E;
constexpr std::uint8_t kOtherForeignBlock = 0x0D;

std::string Hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size() * 3);
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        if (!text.empty())
            text.push_back(' ');
        text += digits;
    }
    return text;
}

void PutU16(std::vector<std::uint8_t>& data, std::size_t at, std::uint32_t value)
{
    if (at + 2 > data.size())
        data.resize(at + 2);
    data[at] = static_cast<std::uint8_t>(value & 0xFF);
    data[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void AppendU32(std::vector<std::uint8_t>& data, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::uint8_t Clamp8(double value) { return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

} // namespace

CSimulatedUps::CSimulatedUps(SSimConfig config)
    : m_config(std::move(config)), m_values(m_config.values), m_activeAlarms(kAlarmLimit, false),
      m_outlets(m_config.outlets), m_random(m_config.seed ? m_config.seed : 1)
{
    m_values["rating.va"] = m_config.ratingVA;
    for (std::uint8_t alarm : m_config.activeAlarms)
        if (alarm < kAlarmLimit)
            m_activeAlarms[alarm] = true;
}

void CSimulatedUps::Log(const std::string& line)
{
    if (m_logger)
        m_logger(line);
}

void CSimulatedUps::NoteFrame(std::string line)
{
    Log(line);
    m_frames.push_back(std::move(line));
    while (m_frames.size() > kFrameHistory)
        m_frames.pop_front();
}

// ---- Input ------------------------------------------------------------------

void CSimulatedUps::Receive(std::span<const std::uint8_t> bytes, std::uint64_t nowMs, std::vector<std::uint8_t>& out)
{
    if (bytes.empty())
        return;
    m_lastInputMs = nowMs;
    m_input.insert(m_input.end(), bytes.begin(), bytes.end());
    if (m_input.size() > kInputBufferLimit) {
        // A host that floods the line loses its oldest bytes, never our memory.
        std::size_t excess = m_input.size() - kInputBufferLimit;
        NoteFrame("rx-junk " + Hex(std::span(m_input).first(excess)));
        m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(excess));
    }

    CByteCursor cursor(m_input);
    std::vector<std::uint8_t> junk;
    auto flushJunk = [&] {
        if (!junk.empty())
            NoteFrame("rx-junk " + Hex(junk));
        junk.clear();
    };
    while (!cursor.AtEnd()) {
        std::size_t start = cursor.Offset();
        CXCPRequest request;
        EXCPParse result = ParseRequestFrame(cursor, request);
        if (result == EXCPParse::Incomplete)
            break;
        if (result == EXCPParse::BadStart || result == EXCPParse::BadLength) {
            // The UPS side hunts for the start byte: the host sends a lone
            // escape byte to wake us, and noise must not stop us for good.
            junk.push_back(cursor.At(start));
            cursor.Skip(1);
            continue;
        }
        flushJunk();
        if (result == EXCPParse::BadChecksum) {
            NoteFrame("rx-bad-checksum " + Hex(std::span(m_input).subspan(start, cursor.Offset() - start)));
            continue;
        }
        NoteFrame("rx " + Hex(request.Contents()));
        auto reply = Answer(request.Command(), request.DataBytes(), nowMs);
        out.insert(out.end(), reply.begin(), reply.end());
    }
    flushJunk();
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(cursor.Offset()));
}

// ---- Replies ------------------------------------------------------------------

std::vector<std::uint8_t> CSimulatedUps::MakeReply(std::uint8_t number, std::span<const std::uint8_t> data) const
{
    return BuildReply(number, data, m_split ? m_split : m_config.maxBlock);
}

std::vector<std::uint8_t> CSimulatedUps::Block(std::uint8_t command, const std::vector<std::uint8_t>& data) const
{
    return MakeReply(ReplyBlockFor(command), data);
}

bool CSimulatedUps::IsSupported(std::uint8_t command) const
{
    return std::find(m_config.supported.begin(), m_config.supported.end(), command) != m_config.supported.end();
}

std::vector<std::uint8_t> CSimulatedUps::Answer(std::uint8_t command, std::span<const std::uint8_t> data,
                                                std::uint64_t nowMs)
{
    if (m_silent) {
        Log("note silent: no reply");
        return {};
    }
    std::vector<std::uint8_t> reply;
    std::vector<std::uint8_t> echo(data.begin(), data.end());
    auto status = [&](std::uint8_t code) {
        std::vector<std::uint8_t> body{code, command};
        body.insert(body.end(), echo.begin(), echo.end());
        return MakeReply(kXCPStatusBlock, body);
    };
    if (m_busy > 0 && command != kXCPAuthorize) {
        --m_busy;
        reply = status(kXCPBusy);
    } else if (command >= kCommandsFrom && command != kXCPWakeUp) {
        reply = status(CommandStatus(command, data, nowMs));
    } else if (auto forced = m_config.answers.find(command); forced != m_config.answers.end()) {
        reply = status(forced->second);
    } else if (command == kXCPWakeUp) {
        reply = m_config.wakeupAnswersIdentification ? MakeReply(kXCPIdentificationBlock, IdentificationData())
                                                     : status(kXCPAccepted);
    } else if (!IsSupported(command)) {
        reply = status(kXCPNotAvailable);
    } else {
        reply = Command(command, data, nowMs);
    }
    std::uint8_t expected = ReplyBlockFor(command);

    if (m_foreign > 0) {
        --m_foreign;
        std::uint8_t other = expected != kForeignBlock ? kForeignBlock : kOtherForeignBlock;
        std::array<std::uint8_t, 3> noise{0x00, 0x01, 0x02};
        auto unsolicited = BuildReply(other, noise);
        reply.insert(reply.begin(), unsolicited.begin(), unsolicited.end());
    }
    if (m_badChecksum > 0 && !reply.empty()) {
        --m_badChecksum;
        reply.back() = static_cast<std::uint8_t>(reply.back() + 1);
    }
    if (m_badStart > 0 && !reply.empty()) {
        --m_badStart;
        reply.front() = 0xAA;
    }
    if (m_truncate > 0 && !reply.empty()) {
        --m_truncate;
        reply.resize(std::max<std::size_t>(1, reply.size() / 2));
    }
    Log("tx " + Hex(reply));
    return reply;
}

std::vector<std::uint8_t> CSimulatedUps::Command(std::uint8_t command, std::span<const std::uint8_t>, std::uint64_t nowMs)
{
    switch (command) {
    case kXCPIdentification: return Block(command, IdentificationData());
    case kXCPEvents: {
        std::vector<std::uint8_t> data;
        for (const auto& record : m_events)
            data.insert(data.end(), record.begin(), record.end());
        return Block(command, data);
    }
    case kXCPStatus: return Block(command, StatusData(nowMs));
    case kXCPMeters: return Block(command, MeterData(false));
    case kXCPAlarms: return Block(command, AlarmData());
    case kXCPNominalOutput: {
        std::vector<std::uint8_t> data(16, 0);
        if (!m_config.firmware.empty())
            PutU16(data, 2, m_config.firmware[0].first * 10u + m_config.firmware[0].second % 10u);
        PutU16(data, 8, m_config.outputVoltage);
        PutU16(data, 10, m_config.outputFrequency * 10u);
        PutU16(data, 12, m_config.ratingVA / 50u);
        return Block(command, data);
    }
    case kXCPStatistics: return Block(command, MeterData(true));
    case kXCPBattery: {
        std::vector<std::uint8_t> data(24, 0);
        data[0] = static_cast<std::uint8_t>(m_test);
        PutU16(data, 1, static_cast<std::uint32_t>(std::lround(std::max(0.0, Value("battery.voltage")))));
        data[3] = Clamp8(Value("battery.charge"));
        data[18] = 0; // no extra bytes before the charge state
        data[19] = 1; // the charge state below is valid
        int state = m_onBattery ? 2 : (Value("battery.charge") < 99.5 ? 1 : 3);
        data[20] = static_cast<std::uint8_t>(m_forcedChargeState.value_or(state));
        return Block(command, data);
    }
    case kXCPNominalInput: {
        std::vector<std::uint8_t> data(31, 0);
        PutU16(data, 0, m_config.inputVoltage);
        PutU16(data, 2, m_config.inputFrequency);
        data[16] = m_config.lowBatteryTime;
        data[17] = static_cast<std::uint8_t>(m_config.audibleStatus - 1);
        PutU16(data, 18, m_config.lowTransfer);
        PutU16(data, 20, m_config.highTransfer);
        data[25] = m_config.temperatureLow;
        data[26] = m_config.temperatureHigh;
        return Block(command, data);
    }
    case kXCPTestResult: return Block(command, {1, 1, static_cast<std::uint8_t>(m_test)});
    case kXCPCommandList: {
        std::vector<std::uint8_t> data;
        std::size_t count = std::min<std::size_t>(m_config.supported.size(), kXCPMaxBlockData - 2);
        data.push_back(static_cast<std::uint8_t>(count));
        data.push_back(1);
        data.insert(data.end(), m_config.supported.begin(), m_config.supported.begin() + static_cast<std::ptrdiff_t>(count));
        return Block(command, data);
    }
    case kXCPOutlets: {
        std::vector<std::uint8_t> data{static_cast<std::uint8_t>(m_outlets.size()), 6};
        for (std::size_t i = 0; i < m_outlets.size(); ++i) {
            data.push_back(static_cast<std::uint8_t>(i));
            data.push_back(m_outlets[i].number);
            PutU16(data, data.size(), m_outlets[i].first);
            PutU16(data, data.size(), m_outlets[i].second);
        }
        return Block(command, data);
    }
    case kXCPBaudList: {
        std::size_t count = std::min<std::size_t>(m_config.baudRates.size(), 100);
        std::vector<std::uint8_t> data{0, static_cast<std::uint8_t>(count)};
        for (std::size_t i = 0; i < count; ++i)
            PutU16(data, data.size(), m_config.baudRates[i]);
        return Block(command, data);
    }
    default: {
        std::vector<std::uint8_t> body{kXCPNotAvailable, command};
        return MakeReply(kXCPStatusBlock, body);
    }
    }
}

std::uint8_t CSimulatedUps::CommandStatus(std::uint8_t command, std::span<const std::uint8_t> data, std::uint64_t nowMs)
{
    CByteCursor cursor(data);
    if (command == kXCPAuthorize) {
        if (!m_config.authorizationRequired)
            return kXCPNotAvailable; // tells the host that no authorization is needed
        std::span<const std::uint8_t> code;
        if (!cursor.Take(3, code) || !std::equal(code.begin(), code.end(), kXCPAuthorizationFrame.begin() + 3))
            return kXCPBadParameter;
        m_authorized = true;
        m_authorizedUntilMs = nowMs + m_config.authorizationWindowMs;
        return kXCPAccepted;
    }
    if (!IsSupported(command))
        return kXCPNotAvailable;
    bool restricted = command > kUnrestrictedLimit && command != kXCPEndSession;
    if (restricted && m_config.authorizationRequired) {
        bool allowed = m_authorized && nowMs <= m_authorizedUntilMs;
        m_authorized = false; // one authorization frame unlocks one command
        if (!allowed)
            return m_config.unauthorizedStatus;
    }
    auto forced = m_config.answers.find(command);
    if (forced != m_config.answers.end() && forced->second != kXCPAccepted && forced->second != kXCPAcceptedAlso)
        return forced->second;
    std::uint8_t result = kXCPAccepted;
    std::uint16_t word = 0;
    std::uint8_t byte = 0;
    switch (command) {
    case kXCPStartupNow:
        SetOutput(true);
        m_startupAtMs.reset();
        break;
    case kXCPReboot:
        if (!cursor.ReadU16LE(word)) {
            if (!cursor.ReadU8(byte))
                return kXCPBadParameter;
            word = byte;
        }
        SetOutput(false);
        m_startupAtMs = nowMs + word * 1000ull;
        break;
    case kXCPShutdownNow: SetOutput(false); break;
    case kXCPSetClock: {
        std::span<const std::uint8_t> when;
        if (!cursor.Take(7, when))
            return kXCPBadParameter;
        std::tm parts{};
        int year = (when[0] << 8) | when[1];
        std::time_t now = GetWallSeconds();
        std::tm current{};
        localtime_r(&now, &current);
        parts.tm_year = year >= 1970 ? year - 1900 : year < 100 ? year + 100 : current.tm_year;
        parts.tm_mon = when[2] - 1;
        parts.tm_mday = when[3];
        parts.tm_hour = when[4];
        parts.tm_min = when[5];
        parts.tm_sec = when[6];
        parts.tm_isdst = -1;
        std::time_t wanted = std::mktime(&parts);
        if (wanted == static_cast<std::time_t>(-1) || when[2] < 1 || when[2] > 12 || when[3] < 1 || when[3] > 31)
            return kXCPBadParameter;
        m_clockOffsetSeconds = static_cast<std::int64_t>(wanted) - static_cast<std::int64_t>(now);
        break;
    }
    case kXCPDelayedStartup:
    case kXCPDelayedShutdown: {
        if (!cursor.ReadU16LE(word))
            return kXCPBadParameter;
        auto& schedule = command == kXCPDelayedStartup ? m_startupAtMs : m_shutdownAtMs;
        if (word == 0)
            schedule.reset();
        else
            schedule = nowMs + word * 60000ull;
        break;
    }
    case kXCPSetParameter: {
        std::uint8_t parameter = 0;
        if (!cursor.ReadU8(parameter))
            return kXCPBadParameter;
        if (!cursor.ReadU16LE(word)) {
            if (!cursor.ReadU8(byte))
                return kXCPBadParameter;
            word = byte;
        }
        switch (parameter) {
        case kXCPParameterLowBatteryTime: m_config.lowBatteryTime = static_cast<std::uint8_t>(word); break;
        case kXCPParameterAudible: m_config.audibleStatus = static_cast<std::uint8_t>(word + 1); break;
        case kXCPParameterLowTemperature: m_config.temperatureLow = static_cast<std::uint8_t>(word); break;
        case kXCPParameterHighTemperature: m_config.temperatureHigh = static_cast<std::uint8_t>(word); break;
        case kXCPParameterOutputVoltage: m_config.outputVoltage = word; break;
        default: return kXCPNotAvailable;
        }
        break;
    }
    case kXCPOutletCommand: {
        std::uint8_t outlet = 0, sub = 0;
        if (!cursor.ReadU8(outlet) || !cursor.ReadU8(sub) || !cursor.ReadU16LE(word))
            return kXCPBadParameter;
        auto found = std::find_if(m_outlets.begin(), m_outlets.end(), [&](const SOutlet& o) { return o.number == outlet; });
        if (found == m_outlets.end())
            return kXCPBadParameter;
        switch (sub) {
        case 1:
        case 4: found->first = word; break;
        case 2:
        case 3: found->second = word; break;
        default: return kXCPBadParameter;
        }
        break;
    }
    case kXCPSetBaudRate: {
        std::span<const std::uint8_t> head;
        if (!cursor.Take(2, head) || !cursor.ReadU16LE(word))
            return kXCPBadParameter;
        if (std::find(m_config.baudRates.begin(), m_config.baudRates.end(), word) == m_config.baudRates.end())
            return kXCPBadParameter;
        m_baudRate = word;
        break;
    }
    case kXCPBatteryTest:
    case kXCPGeneralSystemsTest: StartTest(nowMs); break;
    default: break; // the timed command, the end of session and other supported commands: accepted
    }
    if (forced != m_config.answers.end())
        result = forced->second;
    return result;
}

// ---- Blocks -------------------------------------------------------------------

std::vector<std::uint8_t> CSimulatedUps::IdentificationData() const
{
    std::vector<std::uint8_t> data;
    data.push_back(static_cast<std::uint8_t>(m_config.firmware.size()));
    for (auto [major, minor] : m_config.firmware) {
        data.push_back(major);
        data.push_back(minor);
    }
    if (m_config.ratingVA % 1000 == 0 && m_config.ratingVA / 1000 >= 1 && m_config.ratingVA / 1000 <= 255) {
        data.push_back(static_cast<std::uint8_t>(m_config.ratingVA / 1000));
    } else {
        data.push_back(0);
        PutU16(data, data.size(), m_config.ratingVA / 50);
    }
    data.push_back(m_config.phases);
    data.push_back(0);
    std::size_t modelLength = std::min<std::size_t>(m_config.model.size(), 255);
    data.push_back(static_cast<std::uint8_t>(modelLength));
    data.insert(data.end(), m_config.model.begin(), m_config.model.begin() + static_cast<std::ptrdiff_t>(modelLength));

    auto formats = [&](const std::vector<SMeterSlot>& slots, std::size_t configured) {
        std::size_t count = configured;
        if (count == 0)
            for (const auto& slot : slots)
                count = std::max<std::size_t>(count, slot.number + 1u);
        count = std::min<std::size_t>(count, 255);
        std::vector<std::uint8_t> list(count, 0);
        for (const auto& slot : slots)
            if (slot.number < count)
                list[slot.number] = slot.format;
        data.push_back(static_cast<std::uint8_t>(count));
        data.insert(data.end(), list.begin(), list.end());
    };
    formats(m_config.meters, m_config.meterCount);

    std::size_t bitmapLength = m_config.bitmapLength;
    if (bitmapLength == 0 && !m_config.supportedAlarms.empty())
        bitmapLength = m_config.supportedAlarms.back() / 8u + 1u;
    std::vector<std::uint8_t> bitmap(bitmapLength, 0);
    for (std::uint8_t alarm : m_config.supportedAlarms)
        if (alarm / 8u < bitmapLength)
            bitmap[alarm / 8u] = static_cast<std::uint8_t>(bitmap[alarm / 8u] | (1u << (alarm % 8u)));
    data.push_back(static_cast<std::uint8_t>(bitmapLength));
    data.insert(data.end(), bitmap.begin(), bitmap.end());
    data.push_back(0);
    data.push_back(0);
    formats(m_config.statistics, m_config.statisticsCount);
    return data;
}

std::uint32_t CSimulatedUps::EncodeMeter(const SMeterSlot& slot) const
{
    std::uint8_t format = slot.format;
    if (format == kXCPMeterDate || format == kXCPMeterTime) {
        std::time_t when = static_cast<std::time_t>(LocalNow());
        std::tm parts{};
        localtime_r(&when, &parts);
        if (format == kXCPMeterDate) {
            auto day = static_cast<std::uint32_t>(parts.tm_yday + 1);
            auto year = static_cast<std::uint32_t>(parts.tm_year + 1900);
            return day | ((year & 0x7FFF) << 16);
        }
        return (static_cast<std::uint32_t>(parts.tm_sec) << 8) | (static_cast<std::uint32_t>(parts.tm_min) << 16)
            | (static_cast<std::uint32_t>(parts.tm_hour) << 24);
    }
    double value = 0;
    char* end = nullptr;
    double literal = std::strtod(slot.quantity.c_str(), &end);
    if (end != nullptr && *end == '\0' && end != slot.quantity.c_str())
        value = literal;
    else
        value = Value(slot.quantity);
    if ((format & kXCPMeterScaled) == kXCPMeterScaled) {
        double scaled = std::ldexp(value, format & 0x0F);
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::clamp(std::llround(scaled), -0x80000000LL, 0x7FFFFFFFLL)));
    }
    if (format == kXCPMeterInteger)
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::clamp(std::llround(value), -0x80000000LL, 0x7FFFFFFFLL)));
    if ((format & kXCPMeterDate) == kXCPMeterDate)
        return 0;
    return std::bit_cast<std::uint32_t>(static_cast<float>(value));
}

std::vector<std::uint8_t> CSimulatedUps::MeterData(bool statistics) const
{
    const auto& slots = statistics ? m_config.statistics : m_config.meters;
    std::size_t count = statistics ? m_config.statisticsCount : m_config.meterCount;
    if (count == 0)
        for (const auto& slot : slots)
            count = std::max<std::size_t>(count, slot.number + 1u);
    std::vector<const SMeterSlot*> byNumber(std::min<std::size_t>(count, 255), nullptr);
    for (const auto& slot : slots)
        if (slot.number < byNumber.size())
            byNumber[slot.number] = &slot;
    std::vector<std::uint8_t> data;
    for (const SMeterSlot* slot : byNumber)
        if (slot != nullptr)
            AppendU32(data, EncodeMeter(*slot));
    return data;
}

std::vector<std::uint8_t> CSimulatedUps::StatusData(std::uint64_t nowMs) const
{
    std::vector<std::uint8_t> data(20, 0);
    std::uint8_t code = 0x50;
    if (!m_outputOn)
        code = 0x10;
    else if (m_onBattery)
        code = 0xF0;
    else if (m_source == "bypass")
        code = 0x60;
    else if (m_source == "boost")
        code = 0x61;
    else if (m_source == "buck")
        code = 0x63;
    else if (m_source == "other")
        code = 0x30;
    else if (m_source == "none")
        code = 0x10;
    data[0] = code;
    std::uint8_t flags = 0;
    if (m_outputOn)
        flags |= 0x80;
    if (!m_onBattery && Value("battery.charge") < 99.5)
        flags |= 0x40;
    if (m_lowBattery)
        flags |= 0x20;
    if (code == 0x50)
        flags |= 0x10;
    if (m_onBattery)
        flags |= 0x08;
    if (code == 0x60)
        flags |= 0x04;
    data[1] = flags;
    data[4] = static_cast<std::uint8_t>(0x65 | (m_startupAtMs ? 0x08 : 0) | (m_shutdownAtMs ? 0x02 : 0));
    auto seconds = [&](const std::optional<std::uint64_t>& due) -> std::uint32_t {
        if (!due)
            return 0xFFFF;
        return *due > nowMs ? static_cast<std::uint32_t>(std::min<std::uint64_t>((*due - nowMs) / 1000, 0xFFFE)) : 0;
    };
    PutU16(data, 5, seconds(m_startupAtMs));
    PutU16(data, 11, seconds(m_shutdownAtMs));
    data[17] = 0xFF;
    return data;
}

std::vector<std::uint8_t> CSimulatedUps::AlarmData() const
{
    std::size_t bitmapLength = m_config.bitmapLength;
    if (bitmapLength == 0 && !m_config.supportedAlarms.empty())
        bitmapLength = m_config.supportedAlarms.back() / 8u + 1u;
    std::vector<std::uint8_t> data;
    for (std::uint8_t alarm : m_config.supportedAlarms)
        if (alarm / 8u < bitmapLength)
            data.push_back(m_activeAlarms[alarm] ? 1 : 0);
    return data;
}

// ---- Values and time --------------------------------------------------------

double CSimulatedUps::Value(std::string_view name) const
{
    std::string_view base = name;
    auto found = m_values.find(name);
    if (found == m_values.end()) {
        // "input.voltage.2" falls back to "input.voltage".
        std::size_t dot = name.rfind('.');
        if (dot != std::string_view::npos && dot + 1 < name.size()
            && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot + 1), name.end(),
                           [](char c) { return c >= '0' && c <= '9'; })) {
            base = name.substr(0, dot);
            found = m_values.find(base);
        }
    }
    double value = found != m_values.end() ? found->second : 0.0;
    if (auto jitter = m_jitter.find(base); jitter != m_jitter.end())
        value += jitter->second;
    if (m_onBattery && StartsWith(base, "input.") && base != "input.linebads")
        return 0.0;
    if (!m_outputOn && (StartsWith(base, "output.") && base != "output.frequency"))
        return 0.0;
    if (m_onBattery && base == "battery.current") {
        double volts = std::max(1.0, Value("battery.voltage") / 10.0);
        return -std::round(Value("output.power") / volts * 10.0);
    }
    return value;
}

bool CSimulatedUps::IsAlarmActive(int alarm) const
{
    return alarm >= 0 && alarm < kAlarmLimit && m_activeAlarms[static_cast<std::size_t>(alarm)];
}

std::int64_t CSimulatedUps::LocalNow() const
{
    return static_cast<std::int64_t>(GetWallSeconds()) + m_clockOffsetSeconds;
}

std::uint32_t CSimulatedUps::NextRandom()
{
    // xorshift32: deterministic for a given seed, so runs can be repeated.
    m_random ^= m_random << 13;
    m_random ^= m_random >> 17;
    m_random ^= m_random << 5;
    return m_random;
}

double CSimulatedUps::Noise(double amplitude)
{
    double unit = static_cast<double>(NextRandom()) / 4294967295.0;
    return (unit * 2.0 - 1.0) * amplitude;
}

void CSimulatedUps::TakeNoise(std::uint64_t nowMs, std::vector<std::uint8_t>& out)
{
    if (m_noisePerSecond == 0)
        return;
    if (m_nextNoiseMs == 0)
        m_nextNoiseMs = nowMs;
    // Bytes of any value at random moments, N a second on average; after a
    // long stall only one second's worth is sent.
    const std::uint64_t period = 1000 / m_noisePerSecond;
    std::vector<std::uint8_t> bytes;
    while (m_nextNoiseMs <= nowMs && bytes.size() < m_noisePerSecond) {
        bytes.push_back(static_cast<std::uint8_t>(NextRandom() >> 24));
        m_nextNoiseMs += period / 2 + NextRandom() % (period + 1);
    }
    if (m_nextNoiseMs <= nowMs)
        m_nextNoiseMs = nowMs + 1;
    if (bytes.empty())
        return;
    Log("tx-noise " + Hex(bytes));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void CSimulatedUps::SetValue(const std::string& name, double value)
{
    m_values[name] = value;
    m_jitter.erase(name);
}

void CSimulatedUps::SetAlarm(int alarm, bool active)
{
    if (alarm < 0 || alarm >= kAlarmLimit || m_activeAlarms[static_cast<std::size_t>(alarm)] == active)
        return;
    m_activeAlarms[static_cast<std::size_t>(alarm)] = active;
    // The event log records each change: bit 15 set while the alarm is active.
    std::time_t when = static_cast<std::time_t>(LocalNow());
    std::tm parts{};
    localtime_r(&when, &parts);
    auto word = static_cast<std::uint16_t>(alarm | (active ? 0x8000 : 0));
    int year = parts.tm_year % 100;
    std::array<std::uint8_t, 9> record{
        static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8),
        static_cast<std::uint8_t>(parts.tm_mon + 1), static_cast<std::uint8_t>(parts.tm_mday),
        static_cast<std::uint8_t>(((year / 10) << 4) | (year % 10)), static_cast<std::uint8_t>(parts.tm_hour),
        static_cast<std::uint8_t>(parts.tm_min), static_cast<std::uint8_t>(parts.tm_sec), 0};
    m_events.push_back(record);
    while (m_events.size() > kEventRecords)
        m_events.pop_front();
    Log("note alarm " + std::to_string(alarm) + (active ? " raised" : " cleared"));
}

void CSimulatedUps::SetOnBattery(bool on)
{
    m_onBattery = on;
    SetAlarm(m_config.onBatteryAlarm, on && std::binary_search(m_config.supportedAlarms.begin(),
                                                                m_config.supportedAlarms.end(),
                                                                static_cast<std::uint8_t>(m_config.onBatteryAlarm)));
}

void CSimulatedUps::SetLowBattery(bool on)
{
    m_lowBattery = on;
    if (on && Value("battery.charge") > m_config.lowChargePercent) {
        SetValue("battery.charge", m_config.lowChargePercent);
        SetValue("battery.runtime", m_config.lowChargePercent / 100.0 * m_config.fullRuntimeSeconds);
    }
    SetAlarm(m_config.lowBatteryAlarm, on && std::binary_search(m_config.supportedAlarms.begin(),
                                                                  m_config.supportedAlarms.end(),
                                                                  static_cast<std::uint8_t>(m_config.lowBatteryAlarm)));
}

void CSimulatedUps::SetOutput(bool on)
{
    m_outputOn = on;
    Log(std::string("note output ") + (on ? "on" : "off"));
}

void CSimulatedUps::StartTest(std::uint64_t nowMs)
{
    m_test = ETestState::InProgress;
    m_testEndsMs = nowMs + m_config.testDurationSeconds * 1000ull;
    Log("note test started");
}

void CSimulatedUps::FinishTest(ETestState result)
{
    m_test = result;
    Log("note test finished with " + std::to_string(static_cast<int>(result)));
}

std::uint32_t CSimulatedUps::MillisecondsToNextTick(std::uint64_t nowMs) const
{
    std::uint64_t next = m_lastTickMs + 1000;
    if (!m_input.empty())
        next = std::min(next, m_lastInputMs + kStaleFrameMs + 1);
    if (m_noisePerSecond != 0)
        next = std::min(next, std::max(m_nextNoiseMs, nowMs));
    return next > nowMs ? static_cast<std::uint32_t>(std::min<std::uint64_t>(next - nowMs, 1000)) : 0;
}

void CSimulatedUps::Tick(std::uint64_t nowMs)
{
    if (!m_input.empty() && nowMs - m_lastInputMs > kStaleFrameMs) {
        // A frame the host never finished must not swallow the next one.
        NoteFrame("rx-junk " + Hex(m_input));
        m_input.clear();
    }
    if (m_lastTickMs == 0)
        m_lastTickMs = nowMs;
    if (nowMs - m_lastTickMs < 1000)
        return;
    double seconds = std::min<double>(static_cast<double>(nowMs - m_lastTickMs) / 1000.0, 10.0);
    m_lastTickMs = nowMs;

    if (m_shutdownAtMs && nowMs >= *m_shutdownAtMs) {
        m_shutdownAtMs.reset();
        SetOutput(false);
    }
    if (m_startupAtMs && nowMs >= *m_startupAtMs) {
        m_startupAtMs.reset();
        SetOutput(true);
    }
    if (m_test == ETestState::InProgress && nowMs >= m_testEndsMs)
        FinishTest(m_config.testPasses ? ETestState::Passed : ETestState::Failed);

    if (!m_config.drift)
        return;
    double charge = m_values["battery.charge"];
    if (m_onBattery)
        charge = std::max(0.0, charge - m_config.dischargePerSecond * seconds);
    else
        charge = std::min(100.0, charge + m_config.chargePerSecond * seconds);
    m_values["battery.charge"] = charge;
    m_values["battery.runtime"] = std::round(charge / 100.0 * m_config.fullRuntimeSeconds);
    if (m_onBattery && !m_lowBattery && charge <= m_config.lowChargePercent)
        SetLowBattery(true);
    else if (!m_onBattery && m_lowBattery && charge > m_config.lowChargePercent + 5.0)
        SetLowBattery(false);

    // Small wobbles around the set values, as real meters show.
    for (const auto& [name, value] : m_values) {
        double amplitude = 0;
        if (name.find("voltage") != std::string::npos)
            amplitude = StartsWith(name, "battery.") ? 2.0 : 1.5;
        else if (name.find("frequency") != std::string::npos)
            amplitude = 0.05;
        else if (name.find("current") != std::string::npos || name.find("power") != std::string::npos
                 || name == "output.va")
            amplitude = std::abs(value) * 0.02;
        else if (name.find("temperature") != std::string::npos)
            amplitude = 0.2;
        if (amplitude > 0)
            m_jitter[name] = Noise(amplitude);
    }
}

} // namespace pvx::upssim
