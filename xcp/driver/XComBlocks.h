// Decoding of the XCP UPS's identification, nominal-value, status, battery,
// event and outlet blocks, and the mappings from their bytes to model values.
// Every function reads through CReplyReader and accepts replies of any length.
#pragma once

#include "ups/AbstractUPS.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pvx {

class CDataTypeMap;
class CAlarmMap;

// ---- Meter values ------------------------------------------------------------------

// Meter values come from the UPS as doubles of any size: these truncate
// toward zero and saturate instead of overflowing; NaN reads 0.
std::uint32_t MeterToUnsigned(double value);
// A value the UPS sends as a 32-bit two's complement word (battery current,
// temperatures): integers above 2^31 wrap to negative, the rest saturate.
std::int32_t MeterToSigned(double value);

// "%m/%d/%Y:%H:%M:%S" in a 22-byte buffer; a text that does not fit gives "".
std::string FormatUpsTime(const std::tm& time);
// The same into `text`, reusing its storage (the meter read runs every few seconds).
void FormatUpsTime(const std::tm& time, std::string& text);

// ---- Identification ---------------------------------------------------------------

struct SIdentification {
    std::string softwareVersion; // the version pairs as "major.minor", joined by spaces
    std::uint32_t outputVA = 0;
    std::uint32_t lineCount = 0; // at most CAbstractUPS::kMaxLines
    std::string modelText; // cut at a NUL byte
};

// Parses block 1 item by item, filling the three maps on the way.
void ParseIdentificationBlock(std::span<const std::uint8_t> block, SIdentification& id, CDataTypeMap& meters,
    CAlarmMap& alarms, CDataTypeMap& statistics);

// Splits the UPS's model text into manufacturer (up to the first space) and
// model (the rest), spaces and tabs trimmed at the ends of each. False when
// the text holds no word, which leaves both as they were. A single word is
// the manufacturer; the model is empty.
bool SplitModelText(const std::string& text, std::string& manufacturer, std::string& model);

// The fastest rate of the baud list (block 0x12: byte 1 a count, then 16-bit
// rates) that the serial port can set, and never below 1200.
int ChooseBaudRate(std::span<const std::uint8_t> reply);

struct SNominalOutput {
    std::uint32_t voltage = 0; // V
    std::uint32_t frequency = 0; // 0.1 Hz
};
SNominalOutput ParseNominalOutput(std::span<const std::uint8_t> block6);

struct SNominalInput {
    std::uint32_t voltage = 0; // V
    std::uint32_t frequency = 0; // 0.1 Hz
    std::uint32_t lowBatteryTime = 0;
    int audibleStatus = 1;
    std::uint32_t lowTransferVoltage = 0;
    std::uint32_t highTransferVoltage = 0;
    int lowTemperatureLimit = 0;
    int highTemperatureLimit = 0;
};
SNominalInput ParseNominalInput(std::span<const std::uint8_t> block0C);

// ---- Alarms, status, battery, tests ----------------------------------------------

// The RFC 1628 well-known alarms reported for one XCP alarm number: one or two
// (7 gives upsAlarmOnBattery then upsAlarmInputBad); unlisted numbers give
// upsAlarmGeneralFault.
std::span<const COid* const> WellKnownAlarmsFor(unsigned alarmNumber);

// upsOutputSource from status block byte 0.
int OutputSourceFromStatus(std::uint8_t status);
// The vendor test result from battery block byte 0.
std::uint32_t VendorTestResultFrom(std::uint8_t result);
// upsTestResultsSummary from a battery or test result byte.
int TestSummaryFrom(std::uint8_t result);
// The battery charge state from the battery block: byte 20 + c where c is
// byte 18, when byte 19 + c is nonzero; 5 otherwise.
int BatteryChargeStateFrom(std::span<const std::uint8_t> block0B);

// ---- Events and outlets -------------------------------------------------------------

constexpr std::size_t kEventRecordBytes = 9;
// Every whole 9-byte record of block 2, in order.
std::vector<SEventRecord> ParseEventBlock(std::span<const std::uint8_t> block2);
// Block 0x11: the count in byte 0, then 6-byte records from byte 2 (cut to
// the records that arrived whole).
std::vector<OutletEntry> ParseOutletBlock(std::span<const std::uint8_t> block11);

} // namespace pvx
