// The model's own XCP reply blocks: identification, status, meters, alarms,
// nominal values, battery and test results and outlets, built from the model's values.
#include "ups/XCPEmulation.h"

#include "platform/HexText.h"
#include "ups/AbstractUPS.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>

namespace pvx {

namespace {

constexpr std::uint32_t kChargeUnknown = 0xFFFFFFFF;
// An outlet entry of block 0x11 takes 6 bytes after the 2-byte head; this
// many fit the length byte.
constexpr std::size_t kOutletEntryBytes = 6;
constexpr std::size_t kMaxOutlets = (kXCPMaxBlockData - 2) / kOutletEntryBytes;

// A model value and the byte a reply block sends it as.
struct SValueByte {
    std::int64_t value;
    std::uint8_t byte;
};

// The byte a table gives `value`, 0 for a value it does not name.
template <std::size_t N> std::uint8_t ByteOf(const SValueByte (&table)[N], std::int64_t value)
{
    for (const SValueByte& row : table)
        if (row.value == value)
            return row.byte;
    return 0;
}

// A reply of blocks at fixed positions, all data bytes 0 until set.
// Positions count from the first block's 0xAB, as the reply is laid out.
class CReplyImage {
public:
    explicit CReplyImage(std::size_t size)
        : m_bytes(size, 0)
    {
    }
    void Block(std::size_t at, std::uint8_t number, std::uint8_t length, std::uint8_t sequence)
    {
        Put(at, kXCPStartByte);
        Put(at + 1, number);
        Put(at + 2, length);
        Put(at + 3, sequence);
    }
    // Positions are this file's constants: one outside the image is a bug
    // here, and at() turns it into an exception rather than a stray write.
    void Put(std::size_t position, std::uint8_t value) { m_bytes.at(position) = value; }
    // Fixed bytes, each at its position.
    void Put(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes)
    {
        for (const auto& [position, value] : bytes)
            Put(position, value);
    }
    void Put16(std::size_t position, std::uint32_t value)
    {
        Put(position, static_cast<std::uint8_t>(value & 0xFF));
        Put(position + 1, static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    std::vector<std::uint8_t> Finish()
    {
        FinishXCPReply(m_bytes);
        return std::move(m_bytes);
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

void AppendU32LE(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

void AppendFloat(std::vector<std::uint8_t>& out, float value)
{
    AppendU32LE(out, std::bit_cast<std::uint32_t>(value));
}

std::uint32_t Saturate32(std::uint64_t value)
{
    return value > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                             : static_cast<std::uint32_t>(value);
}

// Seconds until a due time as the status block carries them: 0xFFFF when
// none is due, else the whole seconds left in 16 bits (a due time that has
// just passed reads 0).
std::uint16_t SecondsUntil(std::int64_t due)
{
    const auto remaining = CAbstractUPS::MillisecondsUntil(due);
    if (!remaining)
        return 0xFFFF;
    const std::int64_t seconds = std::max<std::int64_t>(0, *remaining) / 1000;
    return static_cast<std::uint16_t>(seconds & 0xFFFF);
}

std::uint8_t StatusSourceByte(int outputSource)
{
    switch (outputSource) {
    case 2:
        return 0x10;
    case 3:
        return 0x50;
    case 4:
        return 0x60;
    case 5:
        return 0xF0;
    case 6:
        return 0x62;
    case 7:
        return 0x63;
    default:
        return 0x30;
    }
}

std::size_t SkipBlanks(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    return i;
}

} // namespace

bool ReadVersionAsHex(std::string_view text, std::uint8_t& lowByte)
{
    std::size_t i = SkipBlanks(text);
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && HexDigitValue(text[i + 2]) >= 0)
        i += 2;
    bool nonzero = false;
    unsigned low = 0;
    for (; i < text.size() && HexDigitValue(text[i]) >= 0; ++i) {
        const auto digit = static_cast<unsigned>(HexDigitValue(text[i]));
        nonzero = nonzero || digit != 0;
        low = ((low << 4) | digit) & 0xFF;
    }
    lowByte = static_cast<std::uint8_t>(low);
    return nonzero;
}

std::uint16_t ReadVersionTimesTen(std::string_view text)
{
    // Read digit by digit: through a binary float "2.3" times 10 would
    // truncate to 22.
    std::size_t i = SkipBlanks(text);
    std::uint32_t whole = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        whole = std::min<std::uint32_t>(whole * 10 + static_cast<std::uint32_t>(text[i] - '0'), 0xFFFFF);
    }
    std::uint32_t tenths = whole * 10;
    if (i + 1 < text.size() && text[i] == '.' && text[i + 1] >= '0' && text[i + 1] <= '9') {
        digits = true;
        tenths += static_cast<std::uint32_t>(text[i + 1] - '0');
    }
    if (!digits)
        return 0;
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(tenths, 0xFFFF));
}

// ---- Blocks ------------------------------------------------------------------------------

std::vector<std::uint8_t> CAbstractUPS::BuildIdentificationReply(std::span<const std::uint8_t>)
{
    // Two blocks, both numbered 1: 121 data bytes, then 34.
    CReplyImage image(165);
    image.Block(0, kXCPIdentificationBlock, 121, 0x01);
    image.Block(126, kXCPIdentificationBlock, 34, 0x82);

    image.Put(4, 4);
    if (std::uint8_t low = 0; ReadVersionAsHex(m_upsSoftwareVersion, low)) {
        image.Put(5, low);
        image.Put(6, 1);
    }
    image.Put(12, 1);
    image.Put16(14, std::min<std::uint32_t>(m_nominalOutputVA / 50, 0xFFFF));
    image.Put(16, static_cast<std::uint8_t>(std::min<std::uint32_t>(m_outputLineCount, 0xFF)));
    image.Put(18, static_cast<std::uint8_t>(kEmulatedModelText.size()));
    for (std::size_t i = 0; i < kEmulatedModelText.size(); ++i)
        image.Put(19 + i, static_cast<std::uint8_t>(kEmulatedModelText[i]));

    // The meter format list (count 0x52, meter m at position 36 + m) names
    // exactly the meters BuildMeterReply sends, in the same order.
    image.Put(35, 0x52);
    for (std::size_t position : { 54, 57, 58, 59, 89, 92, 98, 101, 107, 113, 114 })
        image.Put(position, kXCPMeterFloat61);
    if (m_outputLineCount >= 2) {
        for (std::size_t position : { 55, 90, 93, 102, 115 })
            image.Put(position, kXCPMeterFloat61);
    }
    if (m_outputLineCount >= 3) {
        for (std::size_t position : { 56, 91, 94, 103, 116 })
            image.Put(position, kXCPMeterFloat61);
    }
    for (std::size_t position : { 63, 64, 68, 69 })
        image.Put(position, kXCPMeterFloat51);
    if (m_chargeRemaining != kChargeUnknown)
        image.Put(70, kXCPMeterFloat51);
    image.Put(71, kXCPMeterInteger);

    image.Put({ { 118, 0x26 }, { 120, 4 }, { 122, 2 }, { 123, 4 } });
    image.Put({ { 131, 0x83 }, { 137, 2 }, { 139, 0x40 }, { 142, 0x20 }, { 145, 0x43 }, { 148, 3 }, { 149, 0x4C },
        { 150, 0x6A }, { 159, 0xFF } });
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildStatusReply(std::span<const std::uint8_t>)
{
    CReplyImage image(25);
    image.Block(0, kXCPUpsStatusBlock, 20, 1 | kXCPLastBlock);
    image.Put(4, StatusSourceByte(m_outputSource));

    std::uint8_t flags = (m_outputSource == 3 || m_outputSource == 4) ? 0xA0 : 0x20;
    if (m_batteryChargeState == 1)
        flags |= 0x40;
    if (m_lowBatteryTime >= m_minutesRemaining)
        flags |= 0x20;
    if (m_outputSource == 3)
        flags |= 0x10;
    if (m_outputSource == 5)
        flags |= 0x08;
    if (m_outputSource == 4)
        flags |= 0x04;
    if (CanRunTimedCommand())
        flags |= 0x01;
    image.Put(5, flags);

    std::uint8_t pending = 0x65;
    if (m_startupDue != kNoDueTime)
        pending += 0x08;
    if (m_shutdownDue != kNoDueTime)
        pending += 0x02;
    image.Put(8, pending);
    image.Put16(9, SecondsUntil(m_startupDue));
    image.Put16(15, SecondsUntil(m_shutdownDue));
    image.Put(21, 0xFF);
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildMeterReply(std::span<const std::uint8_t>)
{
    // The identification block's format list always names line 1, so one
    // line is sent even when the model counts none.
    const std::size_t lines = std::clamp<std::uint32_t>(m_outputLineCount, 1, 3);
    const std::size_t length = 4 * (17 + 5 * (lines - 1));
    std::vector<std::uint8_t> data;
    data.reserve(length);
    auto perLine = [&](auto value) {
        for (std::size_t i = 0; i < lines; ++i)
            AppendFloat(data, value(i));
    };

    perLine([&](std::size_t i) { return static_cast<float>(m_inputLines[i].current) / 10.0f; });
    AppendFloat(data, static_cast<float>(m_outputLines[0].power));
    AppendFloat(data, static_cast<float>(m_inputLines[0].truePower));
    AppendFloat(
        data, static_cast<float>(static_cast<std::uint64_t>(m_nominalOutputVA) * m_outputLines[0].percentLoad / 100));
    AppendFloat(data, static_cast<float>(m_outputFrequency) / 10.0f);
    AppendFloat(data, static_cast<float>(m_inputLines[0].frequency) / 10.0f);
    AppendFloat(data, static_cast<float>(m_batteryCurrent));
    AppendFloat(data, static_cast<float>(m_batteryVoltage));
    // An unknown charge is left out of the list, and the values after it
    // move up; the block keeps its length, ending in 4 zero bytes.
    if (m_chargeRemaining != kChargeUnknown)
        AppendFloat(data, static_cast<float>(m_chargeRemaining));
    AppendU32LE(data, Saturate32(static_cast<std::uint64_t>(m_minutesRemaining) * 60));
    perLine([&](std::size_t i) { return static_cast<float>(m_bypassLines[i].voltage); });
    perLine([&](std::size_t i) { return static_cast<float>(m_inputLines[i].voltage); });
    AppendFloat(data, static_cast<float>(m_ambientTemperature));
    perLine([&](std::size_t i) { return static_cast<float>(m_outputLines[i].current); });
    AppendFloat(data, static_cast<float>(m_nominalOutputVA));
    AppendFloat(data, static_cast<float>(m_batteryTemperature));
    perLine([&](std::size_t i) { return static_cast<float>(m_outputLines[i].voltage); });
    data.resize(length, 0);
    return BuildReply(kXCPMeterBlock, data);
}

std::vector<std::uint8_t> CAbstractUPS::BuildAlarmReply(std::span<const std::uint8_t>)
{
    struct SAlarmByte {
        const COid* descriptor;
        std::size_t position;
    };
    const SAlarmByte kAlarmBytes[] = {
        { &kUpsAlarmOutputBad, 4 },
        { &kUpsAlarmOutputOverload, 5 },
        { &kUpsAlarmChargerFailed, 6 },
        { &kUpsAlarmShutdownImminent, 7 },
        { &kUpsAlarmLowBattery, 8 },
        { &kUpsAlarmInputBad, 9 },
        { &kUpsAlarmCommunicationsLost, 10 },
        { &kUpsAlarmBypassBad, 11 },
        { &kUpsAlarmDepletedBattery, 12 },
        { &kUpsAlarmBatteryBad, 13 },
        { &kUpsAlarmOnBattery, 14 },
        { &kUpsAlarmOnBypass, 15 },
        { &kUpsAlarmUpsOutputOff, 16 },
        { &kUpsAlarmFuseFailure, 17 },
        { &kUpsAlarmFanFailure, 18 },
        { &kUpsAlarmTempBad, 19 },
        { &kUpsAlarmTempBad, 20 },
        { &kUpsAlarmShutdownPending, 21 },
    };
    CReplyImage image(35);
    image.Block(0, kXCPAlarmBlock, 30, 1 | kXCPLastBlock);
    for (const SAlarmEntry& alarm : m_alarms) {
        for (const SAlarmByte& entry : kAlarmBytes) {
            if (alarm.descriptor == *entry.descriptor)
                image.Put(entry.position, 1);
        }
    }
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildBlock6Reply(std::span<const std::uint8_t>)
{
    CReplyImage image(111);
    image.Block(0, kXCPNominalOutputBlock, 106, 1 | kXCPLastBlock);
    image.Put16(6, ReadVersionTimesTen(m_upsSoftwareVersion));
    image.Put16(10, 500);
    image.Put16(12, m_nominalOutputVoltage);
    image.Put16(14, m_nominalOutputFrequency);
    image.Put({ { 42, 1 }, { 43, 1 }, { 46, 0x52 }, { 47, 3 }, { 50, 12 }, { 51, 31 } });
    // The relay's address, kept in network byte order, goes out last byte first.
    std::uint8_t address[4];
    std::memcpy(address, &m_relayAddress, sizeof address);
    for (std::size_t i = 0; i < 4; ++i)
        image.Put(100 + i, address[3 - i]);
    image.Put({ { 108, 1 }, { 109, 1 } });
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildBlock0BReply(std::span<const std::uint8_t>)
{
    CReplyImage image(25);
    image.Block(0, kXCPBatteryBlock, 20, 1 | kXCPLastBlock);
    static constexpr SValueByte kResults[] = { { 2, 2 }, { 3, 4 }, { 4, 1 }, { 6, 3 } };
    image.Put(4, ByteOf(kResults, m_vendorTestResult));
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildBlock0CReply(std::span<const std::uint8_t>)
{
    CReplyImage image(36);
    image.Block(0, kXCPNominalInputBlock, 31, 1 | kXCPLastBlock);
    image.Put16(4, m_nominalInputVoltage);
    image.Put16(6, m_nominalInputFrequency);
    image.Put(20, static_cast<std::uint8_t>(m_lowBatteryTime & 0xFF));
    image.Put(21, static_cast<std::uint8_t>((m_audibleStatus - 1) & 0xFF));
    image.Put16(22, m_lowTransferVoltage);
    image.Put16(24, m_highTransferVoltage);
    image.Put(29, static_cast<std::uint8_t>(m_lowTemperatureLimit & 0xFF));
    image.Put(30, static_cast<std::uint8_t>(m_highTemperatureLimit & 0xFF));
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildBlock0FReply(std::span<const std::uint8_t>)
{
    CReplyImage image(8);
    image.Block(0, kXCPTestResultBlock, 3, 1 | kXCPLastBlock);
    image.Put(4, 1);
    image.Put(5, 1);
    static constexpr SValueByte kSummaries[] = { { 1, 2 }, { 2, 2 }, { 3, 4 }, { 4, 3 }, { 5, 1 } };
    image.Put(6, ByteOf(kSummaries, m_testResultSummary));
    return image.Finish();
}

std::vector<std::uint8_t> CAbstractUPS::BuildOutletReply(std::span<const std::uint8_t>)
{
    std::vector<OutletEntry> outlets;
    GetOutlets(outlets);
    if (outlets.size() < 2)
        return {};
    // More outlets than the length byte can hold are cut, and the count says so.
    const std::size_t count = std::min(outlets.size(), kMaxOutlets);
    std::vector<std::uint8_t> data;
    data.reserve(2 + kOutletEntryBytes * count);
    data.push_back(static_cast<std::uint8_t>(count));
    data.push_back(kOutletEntryBytes);
    for (std::size_t i = 0; i < count; ++i) {
        data.push_back(static_cast<std::uint8_t>(i));
        data.push_back(outlets[i].number);
        data.push_back(static_cast<std::uint8_t>(outlets[i].value1 & 0xFF));
        data.push_back(static_cast<std::uint8_t>(outlets[i].value1 >> 8));
        data.push_back(static_cast<std::uint8_t>(outlets[i].value2 & 0xFF));
        data.push_back(static_cast<std::uint8_t>(outlets[i].value2 >> 8));
    }
    return BuildReply(kXCPOutletBlock, data);
}

} // namespace pvx
