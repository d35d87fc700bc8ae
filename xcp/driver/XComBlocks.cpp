// Decoders of the XCP UPS's reply blocks and their mappings to model values.
#include "xcp/driver/XComBlocks.h"

#include "platform/Portability.h"
#include "xcp/driver/AlarmMap.h"
#include "xcp/driver/DataTypeMap.h"
#include "xcp/driver/ReplyReader.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace pvx {

// ---- Meter values ------------------------------------------------------------------

std::uint32_t MeterToUnsigned(double value)
{
    if (!(value > 0.0)) // NaN and everything not positive
        return 0;
    if (value >= 4294967296.0)
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value);
}

std::int32_t MeterToSigned(double value)
{
    if (std::isnan(value))
        return 0;
    const double truncated = std::trunc(value);
    if (truncated <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    if (truncated >= 4294967296.0)
        return std::numeric_limits<std::int32_t>::max();
    if (truncated >= 2147483648.0)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(truncated));
    return static_cast<std::int32_t>(truncated);
}

void FormatUpsTime(const std::tm& time, std::string& text)
{
    std::array<char, 22> buffer {};
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), "%m/%d/%Y:%H:%M:%S", &time);
    // strftime leaves the buffer indeterminate when the text does not fit.
    text.assign(buffer.data(), n);
}

std::string FormatUpsTime(const std::tm& time)
{
    std::string text;
    FormatUpsTime(time, text);
    return text;
}

// ---- Identification ---------------------------------------------------------------

void ParseIdentificationBlock(std::span<const std::uint8_t> block, SIdentification& id, CDataTypeMap& meters,
    CAlarmMap& alarms, CDataTypeMap& statistics)
{
    CReplyReader reader(block);

    const std::uint8_t versionCount = reader.ReadU8();
    id.softwareVersion.clear();
    for (unsigned i = 0; i < versionCount; ++i) {
        if (reader.Remaining() < 2) {
            reader.Skip(2); // a pair cut short: the block ends here
            break;
        }
        const unsigned major = reader.ReadU8();
        const unsigned minor = reader.ReadU8();
        if (!id.softwareVersion.empty())
            id.softwareVersion += ' ';
        id.softwareVersion += std::to_string(major) + '.' + std::to_string(minor);
    }

    const std::uint8_t rating = reader.ReadU8();
    if (rating != 0)
        id.outputVA = rating * 1000u;
    else
        id.outputVA = reader.ReadU16LE() * 50u;

    const std::uint8_t lines = reader.ReadU8();
    id.lineCount = lines < CAbstractUPS::kMaxLines ? lines : CAbstractUPS::kMaxLines;
    reader.Skip(1);

    const std::uint8_t modelLength = reader.ReadU8();
    auto model = reader.TakeUpTo(modelLength);
    id.modelText.assign(model.begin(), model.end());
    if (auto nul = id.modelText.find('\0'); nul != std::string::npos)
        id.modelText.resize(nul);

    meters.ParseFormats(reader);
    alarms.ParseBitmap(reader);
    reader.Skip(2);
    statistics.ParseFormats(reader);
}

bool SplitModelText(const std::string& text, std::string& manufacturer, std::string& model)
{
    static constexpr const char* kBlank = " \t";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::string::npos)
        return false;
    const std::size_t last = text.find_last_not_of(kBlank);
    const std::string trimmed = text.substr(first, last - first + 1);
    // Only a space separates the two; a tab inside a name belongs to it.
    const std::size_t gap = trimmed.find(' ');
    if (gap == std::string::npos) {
        manufacturer = trimmed;
        model.clear();
        return true;
    }
    auto trim = [](const std::string& part) {
        const std::size_t from = part.find_first_not_of(kBlank);
        return from == std::string::npos ? std::string() : part.substr(from, part.find_last_not_of(kBlank) - from + 1);
    };
    manufacturer = trim(trimmed.substr(0, gap));
    model = trim(trimmed.substr(gap + 1));
    return true;
}

int ChooseBaudRate(std::span<const std::uint8_t> reply)
{
    constexpr int kSlowest = 1200;
    CReplyReader reader(reply);
    reader.Skip(1);
    const std::uint8_t count = reader.ReadU8();
    int chosen = kSlowest;
    for (unsigned i = 0; i < count && reader.Remaining() >= 2; ++i) {
        const int rate = reader.ReadU16LE();
        // A rate the port cannot set would leave us at another speed than the UPS.
        if (rate > chosen && IsKnownSpeed(rate))
            chosen = rate;
    }
    return chosen;
}

SNominalOutput ParseNominalOutput(std::span<const std::uint8_t> block6)
{
    CReplyReader reader(block6);
    return SNominalOutput { reader.U16LEAt(8), reader.U16LEAt(10) };
}

SNominalInput ParseNominalInput(std::span<const std::uint8_t> block0C)
{
    CReplyReader reader(block0C);
    SNominalInput nominal;
    nominal.voltage = reader.U16LEAt(0);
    nominal.frequency = reader.U16LEAt(2) * 10u;
    nominal.lowBatteryTime = reader.U8At(16);
    nominal.audibleStatus = reader.U8At(17) + 1;
    nominal.lowTransferVoltage = reader.U16LEAt(18);
    nominal.highTransferVoltage = reader.U16LEAt(20);
    nominal.lowTemperatureLimit = reader.U8At(25);
    nominal.highTemperatureLimit = reader.U8At(26);
    return nominal;
}

// ---- Alarms, status, battery, tests ----------------------------------------------

namespace {

struct SAlarmMapping {
    std::uint8_t number;
    std::array<const COid*, 2> alarms;
    std::size_t count;
};

// XCP alarm numbers that map to something other than upsAlarmGeneralFault.
const SAlarmMapping kAlarmMappings[] = {
    { 3, { &kUpsAlarmBypassBad }, 1 },
    { 4, { &kUpsAlarmBypassBad }, 1 },
    { 5, { &kUpsAlarmBypassBad }, 1 },
    { 6, { &kUpsAlarmInputBad }, 1 },
    { 7, { &kUpsAlarmOnBattery, &kUpsAlarmInputBad }, 2 },
    { 8, { &kUpsAlarmInputBad }, 1 },
    { 9, { &kUpsAlarmOutputBad }, 1 },
    { 10, { &kUpsAlarmOutputBad }, 1 },
    { 11, { &kUpsAlarmOutputBad }, 1 },
    { 20, { &kUpsAlarmTempBad }, 1 },
    { 21, { &kUpsAlarmTempBad }, 1 },
    { 24, { &kUpsAlarmTempBad }, 1 },
    { 25, { &kUpsAlarmOutputOverload }, 1 },
    { 34, { &kUpsAlarmChargerFailed }, 1 },
    { 55, { &kUpsAlarmShutdownPending }, 1 },
    { 56, { &kUpsAlarmLowBattery }, 1 },
    { 63, { &kUpsAlarmCommunicationsLost }, 1 },
    { 64, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 67, { &kUpsAlarmInputBad }, 1 },
    { 69, { &kUpsAlarmTempBad }, 1 },
    { 73, { &kUpsAlarmTempBad }, 1 },
    { 79, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 80, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 81, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 84, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 86, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 88, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 91, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 110, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 111, { &kUpsAlarmTempBad }, 1 },
    { 112, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 126, { &kUpsAlarmDepletedBattery }, 1 },
    { 136, { &kUpsAlarmDiagnosticTestFailed }, 1 },
    { 149, { &kUpsAlarmBatteryBad }, 1 },
    { 158, { &kUpsAlarmUpsSystemOff }, 1 },
    { 168, { &kUpsAlarmOnBattery }, 1 },
    { 169, { &kUpsAlarmOnBypass }, 1 },
    { 173, { &kUpsAlarmUpsOffAsRequested }, 1 },
    { 174, { &kUpsAlarmUpsOutputOff }, 1 },
    { 191, { &kUpsAlarmBatteryBad }, 1 },
    { 192, { &kUpsAlarmFuseFailure }, 1 },
    { 193, { &kUpsAlarmFanFailure }, 1 },
    { 199, { &kUpsAlarmBatteryBad }, 1 },
    { 200, { &kUpsAlarmTempBad }, 1 },
    { 201, { &kUpsAlarmTempBad }, 1 },
    { 202, { &kUpsAlarmTempBad }, 1 },
    { 203, { &kUpsAlarmTempBad }, 1 },
    { 206, { &kUpsAlarmShutdownPending }, 1 },
};

const COid* const kGeneralFault[] = { &kUpsAlarmGeneralFault };

// A byte the UPS sends and the model value it stands for.
struct SByteValue {
    std::uint8_t byte;
    int value;
};

// The value a table gives `byte`, `otherwise` for a byte it does not name.
template <std::size_t N> int ValueOf(const SByteValue (&table)[N], std::uint8_t byte, int otherwise)
{
    for (const SByteValue& row : table)
        if (row.byte == byte)
            return row.value;
    return otherwise;
}

} // namespace

std::span<const COid* const> WellKnownAlarmsFor(unsigned alarmNumber)
{
    for (const auto& mapping : kAlarmMappings)
        if (mapping.number == alarmNumber)
            return std::span(mapping.alarms).first(mapping.count);
    return kGeneralFault;
}

int OutputSourceFromStatus(std::uint8_t status)
{
    static constexpr SByteValue kSources[] = {
        { 0x10, 2 }, // none
        { 0x50, 3 }, // normal
        { 0x60, 4 }, // bypass
        { 0x80, 4 }, // bypass
        { 0xF0, 5 }, // battery
        { 0x61, 6 }, // booster
        { 0x62, 6 }, // booster
        { 0x63, 7 }, // reducer
    };
    return ValueOf(kSources, status, 1); // other
}

std::uint32_t VendorTestResultFrom(std::uint8_t result)
{
    static constexpr SByteValue kResults[] = { { 1, 4 }, { 2, 2 }, { 4, 3 } };
    return static_cast<std::uint32_t>(ValueOf(kResults, result, 1));
}

int TestSummaryFrom(std::uint8_t result)
{
    // inProgress, donePass, aborted and doneError; noTestsInitiated for the rest.
    static constexpr SByteValue kSummaries[] = { { 1, 5 }, { 2, 1 }, { 3, 4 }, { 4, 3 } };
    return ValueOf(kSummaries, result, 6);
}

int BatteryChargeStateFrom(std::span<const std::uint8_t> block0B)
{
    CReplyReader reader(block0B);
    const std::size_t count = reader.U8At(18);
    if (reader.U8At(19 + count) == 0)
        return 5;
    return reader.U8At(20 + count);
}

// ---- Events and outlets -------------------------------------------------------------

namespace {

int FromBCD(std::uint8_t byte)
{
    return (byte >> 4) * 10 + (byte & 0x0F);
}

} // namespace

std::vector<SEventRecord> ParseEventBlock(std::span<const std::uint8_t> block2)
{
    std::vector<SEventRecord> records;
    CReplyReader reader(block2);
    const std::size_t count = block2.size() / kEventRecordBytes;
    records.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t at = k * kEventRecordBytes;
        const std::uint16_t word = reader.U16LEAt(at);
        SEventRecord record;
        record.state = (word & 0x8000) != 0 ? 1 : 2;
        record.code = word & 0x7FFFu;
        std::tm time {};
        time.tm_mon = reader.U8At(at + 2) - 1;
        time.tm_mday = reader.U8At(at + 3);
        // Two BCD digits of the year: 70 to 99 are 1970 to 1999, the rest 2000 on.
        const int year = FromBCD(reader.U8At(at + 4));
        time.tm_year = year < 70 ? year + 100 : year;
        time.tm_hour = reader.U8At(at + 5);
        time.tm_min = reader.U8At(at + 6);
        time.tm_sec = reader.U8At(at + 7);
        record.text = FormatUpsTime(time);
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<OutletEntry> ParseOutletBlock(std::span<const std::uint8_t> block11)
{
    constexpr std::size_t kFirstRecord = 2;
    constexpr std::size_t kRecordBytes = 6;
    CReplyReader reader(block11);
    const std::size_t announced = reader.U8At(0);
    std::vector<OutletEntry> outlets;
    for (std::size_t i = 0; i < announced; ++i) {
        const std::size_t at = kFirstRecord + kRecordBytes * i;
        if (!reader.Holds(at, kRecordBytes))
            break;
        outlets.push_back(OutletEntry { reader.U8At(at + 1), reader.U16LEAt(at + 2), reader.U16LEAt(at + 4) });
    }
    return outlets;
}

} // namespace pvx
