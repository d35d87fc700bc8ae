// Tests of the XCP block decoders and the meter and alarm maps, on golden
// blocks and on blocks cut short.
#include "platform/Portability.h"
#include "tests/xcp/driver/XComTestSupport.h"
#include "xcp/driver/AlarmMap.h"
#include "xcp/driver/DataTypeMap.h"
#include "xcp/driver/ReplyReader.h"
#include "xcp/driver/XComBlocks.h"
#include "xcp/link/XCPControls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace pvx;
using namespace pvx::test;

namespace {

// ---- Meter decoding ------------------------------------------------------------------

struct SMeterCase {
    const char* name;
    std::uint8_t format;
    std::uint32_t raw;
    double expected;
};

TEST(DataTypeMap, DecodesEveryFormatFamily)
{
    const double kDefault = -7.0;
    const SMeterCase cases[] = {
        { "fixed point, 3 fraction bits", 0xF3, 0x00000064, 12.5 },
        { "unsigned integer", 0xF0, 0x00000064, 100.0 },
        { "integer count", 0xE2, 0x00000064, 100.0 },
        { "single-precision float", 0x01, 0x42C80000, 100.0 },
        { "float with a high format byte", 0xDF, 0xC0A00000, -5.0 },
        { "fixed point, 15 fraction bits", 0xFF, 0x80000000, 65536.0 },
        { "unsigned integer keeps the top bit", 0xF0, 0xFFFFFFFF, 4294967295.0 },
        { "date is not a value", 0xE0, 0x07D0003C, kDefault },
        { "time is not a value", 0xE1, 0x0C220000, kDefault },
        { "undecodable 0xE_ format", 0xE7, 0x00000064, kDefault },
        { "absent meter", 0x00, 0x00000064, kDefault },
    };
    for (const auto& c : cases) {
        CDataTypeMap map;
        map.SetFormats(Bytes { c.format });
        map.SetValues(MeterBlock(Bytes { c.format == 0 ? std::uint8_t(0xF0) : c.format }, { { 0, c.raw } }));
        EXPECT_DOUBLE_EQ(map.GetValue(0, kDefault), c.expected) << c.name;
    }
}

TEST(DataTypeMap, OffsetsCountOnlyPresentMeters)
{
    CDataTypeMap map;
    map.SetFormats(Bytes { 0x00, 0xF0, 0x00, 0xE2 });
    map.SetValues(Bytes { 0x11, 0, 0, 0, 0x22, 0, 0, 0 });
    EXPECT_EQ(map.ValueOffset(1), 0u);
    EXPECT_EQ(map.ValueOffset(3), 4u);
    EXPECT_DOUBLE_EQ(map.GetValue(1, -1), 0x11);
    EXPECT_DOUBLE_EQ(map.GetValue(3, -1), 0x22);
    EXPECT_DOUBLE_EQ(map.GetValue(2, -1), -1) << "absent meter";
    EXPECT_DOUBLE_EQ(map.GetValue(4, -1), -1) << "meter past the format list";
    EXPECT_DOUBLE_EQ(map.GetValue(1000, -1), -1);
}

TEST(DataTypeMap, MeterPastTheValueBlockGivesTheDefault)
{
    CDataTypeMap map;
    map.SetFormats(Bytes { 0xF0, 0xF0 });
    map.SetValues(Bytes { 1, 0, 0, 0, 2, 0 }); // the second meter is cut short
    EXPECT_DOUBLE_EQ(map.GetValue(0, -1), 1);
    EXPECT_DOUBLE_EQ(map.GetValue(1, -1), -1);
    map.SetValues(Bytes {});
    EXPECT_DOUBLE_EQ(map.GetValue(0, -1), -1);
}

TEST(DataTypeMap, ValueBlockLongerThan255BytesKeepsItsLength)
{
    Bytes formats(70, 0xF0);
    std::map<std::size_t, std::uint32_t> raw = { { 69, 0x1234 } };
    CDataTypeMap map;
    map.SetFormats(formats);
    map.SetValues(MeterBlock(formats, raw));
    EXPECT_EQ(map.GetValueLength(), 280u);
    EXPECT_EQ(map.ValueOffset(69), 276u);
    EXPECT_DOUBLE_EQ(map.GetValue(69, -1), 0x1234);
}

TEST(DataTypeMap, ParseFormatsCutsTheListToWhatArrived)
{
    const Bytes block = { 0x05, 0xF0, 0x01, 0xE2 }; // announces 5, holds 3
    CReplyReader reader(block);
    CDataTypeMap map;
    map.ParseFormats(reader);
    EXPECT_EQ(map.GetFormatCount(), 3u);
    EXPECT_EQ(reader.Remaining(), 0u);
}

struct SMeterConversionCase {
    const char* name;
    double value;
    std::uint32_t asUnsigned;
    std::int32_t asSigned;
};

TEST(MeterConversion, SaturatesInsteadOfOverflowing)
{
    const double inf = std::numeric_limits<double>::infinity();
    const SMeterConversionCase cases[] = {
        { "NaN", std::nan(""), 0, 0 },
        { "plus infinity", inf, 0xFFFFFFFFu, std::numeric_limits<std::int32_t>::max() },
        { "minus infinity", -inf, 0, std::numeric_limits<std::int32_t>::min() },
        { "huge", 1e20, 0xFFFFFFFFu, std::numeric_limits<std::int32_t>::max() },
        { "hugely negative", -1e20, 0, std::numeric_limits<std::int32_t>::min() },
        { "truncated toward zero", 3.9, 3, 3 },
        { "negative fraction", -5.7, 0, -5 },
        { "32-bit word of a negative number", 4294967291.0, 4294967291u, -5 },
        { "largest unsigned", 4294967295.0, 0xFFFFFFFFu, -1 },
        { "2^32 does not fit", 4294967296.0, 0xFFFFFFFFu, std::numeric_limits<std::int32_t>::max() },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MeterToUnsigned(c.value), c.asUnsigned) << c.name;
        EXPECT_EQ(MeterToSigned(c.value), c.asSigned) << c.name;
    }
}

// ---- UPS clock -------------------------------------------------------------------------

struct SDateCase {
    const char* name;
    std::uint32_t date;
    std::uint32_t time;
    const char* text; // empty: no UPS time
};

TEST(DataTypeMap, GetDateTimeDecodesTheUpsClock)
{
    CFakeClock clock(1000000, 1700000000);
    CScopedClock scoped(clock);
    const SDateCase cases[] = {
        // date bytes: day of year (16 bits), year (15 bits); time bytes: unused, s, min, h
        { "day 60 of a leap year", 0x07D0003C, 0x0C223800, "02/29/2000:12:34:56" },
        { "day 60 of a common year", 0x07D1003C, 0x00000000, "03/01/2001:00:00:00" },
        { "first day", 0x07E90001, 0x173B3B00, "01/01/2025:23:59:59" },
        { "last day of a leap year", 0x07E4016E, 0x00000000, "12/31/2020:00:00:00" },
        { "year bit 15 is not part of the year", 0x87D0003C, 0x00000000, "02/29/2000:00:00:00" },
        { "day 0 does not exist", 0x07D00000, 0x00000000, "" },
        { "day 366 of a common year", 0x07D1016E, 0x00000000, "" },
        { "day 367 of a leap year", 0x07D0016F, 0x00000000, "" },
    };
    const Bytes formats = [] {
        Bytes f(74, 0x00);
        f[CDataTypeMap::kDateMeter] = 0xE0;
        f[CDataTypeMap::kTimeMeter] = 0xE1;
        return f;
    }();
    for (const auto& c : cases) {
        CDataTypeMap map;
        map.SetFormats(formats);
        map.SetValues(MeterBlock(formats, { { 72, c.date }, { 73, c.time } }));
        const auto time = map.GetDateTime();
        EXPECT_EQ(time ? FormatUpsTime(*time) : "", c.text) << c.name;
    }
}

TEST(DataTypeMap, GetDateTimeWithoutClockMetersIsTheLocalTime)
{
    CFakeClock clock(1000000, 1700000000);
    CScopedClock scoped(clock);
    std::tm now {};
    ASSERT_TRUE(GetLocalTime(1700000000, now));
    CDataTypeMap map;
    map.SetFormats(Bytes(74, 0xF0)); // meters 72 and 73 are plain numbers here
    map.SetValues(Bytes(74 * 4, 0x01));
    ASSERT_TRUE(map.GetDateTime());
    EXPECT_EQ(FormatUpsTime(*map.GetDateTime()), FormatUpsTime(now));
}

TEST(FormatUpsTime, TextThatDoesNotFitIsEmpty)
{
    std::tm fits {};
    fits.tm_year = 125;
    fits.tm_mon = 6;
    fits.tm_mday = 4;
    EXPECT_EQ(FormatUpsTime(fits), "07/04/2025:00:00:00");
    std::tm tooLong = fits;
    tooLong.tm_hour = 255; // a UPS clock byte, not checked by the UPS
    tooLong.tm_min = 255;
    tooLong.tm_year = 32767 - 1900;
    EXPECT_EQ(FormatUpsTime(tooLong), "");
}

// ---- Alarm map ---------------------------------------------------------------------------

TEST(AlarmMap, ScansActiveAlarmsInAlarmNumberOrder)
{
    const Bytes block = [] {
        Bytes b = { 0x00 };
        Bytes bitmap = AlarmBitmap({ 3, 7, 56, 200, 218 });
        b[0] = static_cast<std::uint8_t>(bitmap.size());
        b.insert(b.end(), bitmap.begin(), bitmap.end());
        return b;
    }();
    CReplyReader reader(block);
    CAlarmMap map;
    map.ParseBitmap(reader);
    ASSERT_EQ(map.GetSupportedCount(), 5u);
    EXPECT_EQ(map.AlarmNumber(0), 3u);
    EXPECT_EQ(map.AlarmNumber(4), 218u);
    EXPECT_EQ(map.AlarmNumber(5), CAlarmMap::kNoAlarm);

    // one active byte per supported alarm: 7 and 218 active
    EXPECT_EQ(map.FirstActive(Bytes { 0, 1, 0, 0, 1 }), 7u);
    EXPECT_EQ(map.NextActive(), 218u);
    EXPECT_EQ(map.NextActive(), CAlarmMap::kNoAlarm);
    EXPECT_EQ(map.NextActive(), CAlarmMap::kNoAlarm);

    // a block cut short: the missing bytes are inactive
    EXPECT_EQ(map.FirstActive(Bytes { 0, 0 }), CAlarmMap::kNoAlarm);
    EXPECT_EQ(map.FirstActive(Bytes { 1 }), 3u);
    EXPECT_EQ(map.NextActive(), CAlarmMap::kNoAlarm);
}

TEST(AlarmMap, SupportedCountIsNotAnEightBitCounter)
{
    Bytes block = { 40 };
    block.insert(block.end(), 40, 0xFF); // 320 bits set, alarm numbers end at 218
    CReplyReader reader(block);
    CAlarmMap map;
    map.ParseBitmap(reader);
    EXPECT_EQ(map.GetSupportedCount(), 320u);
    EXPECT_EQ(map.AlarmNumber(218), 218u);
    EXPECT_EQ(map.AlarmNumber(219), CAlarmMap::kNoAlarm);
    Bytes active(320, 0);
    active[300] = 1; // beyond the alarm numbers: ends the scan
    active[100] = 1;
    EXPECT_EQ(map.FirstActive(active), 100u);
    EXPECT_EQ(map.NextActive(), CAlarmMap::kNoAlarm);
}

TEST(AlarmMap, BitmapCutShortKeepsTheBytesThatArrived)
{
    const Bytes block = { 0x10, 0x81 }; // announces 16 bytes, holds 1: alarms 0 and 7
    CReplyReader reader(block);
    CAlarmMap map;
    map.ParseBitmap(reader);
    EXPECT_EQ(map.GetBitmapLength(), 1u);
    EXPECT_EQ(map.GetSupportedCount(), 2u);
    EXPECT_EQ(map.AlarmNumber(1), 7u);
}

// ---- Identification -------------------------------------------------------------------------

TEST(Identification, ParsesTheBlockItemByItem)
{
    SIdentificationLayout layout;
    layout.meterFormats = { 0x00, 0xF0, 0xE2 };
    layout.alarmBitmap = AlarmBitmap({ 7, 56 });
    layout.statisticsFormats = { 0xF0, 0xF0 };
    SIdentification id;
    CDataTypeMap meters;
    CAlarmMap alarms;
    CDataTypeMap statistics;
    ParseIdentificationBlock(IdentificationBlock(layout), id, meters, alarms, statistics);
    EXPECT_EQ(id.softwareVersion, "1.20 2.5");
    EXPECT_EQ(id.outputVA, 1500u);
    EXPECT_EQ(id.lineCount, 1u);
    EXPECT_EQ(id.modelText, "Brand  Unit 5 ");
    EXPECT_EQ(meters.GetFormatCount(), 3u);
    EXPECT_EQ(meters.GetFormat(2), 0xE2);
    EXPECT_EQ(alarms.GetSupportedCount(), 2u);
    EXPECT_EQ(alarms.AlarmNumber(1), 56u);
    EXPECT_EQ(statistics.GetFormatCount(), 2u);
}

struct SRatingCase {
    const char* name;
    Bytes rating;
    std::uint8_t lines;
    std::uint32_t va;
    std::uint32_t lineCount;
};

TEST(Identification, RatingAndLineCount)
{
    const SRatingCase cases[] = {
        { "one rating byte in kVA", { 0x03 }, 1, 3000, 1 },
        { "zero, then 16 bits in units of 50 VA", { 0x00, 0x14, 0x00 }, 3, 1000, 3 },
        { "line counts above six are cut", { 0x01 }, 9, 1000, 6 },
        { "no lines", { 0x01 }, 0, 1000, 0 },
    };
    for (const auto& c : cases) {
        SIdentificationLayout layout;
        layout.rating = c.rating;
        layout.lines = c.lines;
        SIdentification id;
        CDataTypeMap meters, statistics;
        CAlarmMap alarms;
        ParseIdentificationBlock(IdentificationBlock(layout), id, meters, alarms, statistics);
        EXPECT_EQ(id.outputVA, c.va) << c.name;
        EXPECT_EQ(id.lineCount, c.lineCount) << c.name;
    }
}

TEST(Identification, BlockCutAnywhereStaysInsideIt)
{
    SIdentificationLayout layout;
    layout.meterFormats = Bytes(80, 0xF0);
    layout.alarmBitmap = AlarmBitmap({ 7, 200 });
    layout.statisticsFormats = Bytes(40, 0xF0);
    const Bytes whole = IdentificationBlock(layout);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SIdentification id;
        CDataTypeMap meters, statistics;
        CAlarmMap alarms;
        ParseIdentificationBlock(std::span(whole).first(length), id, meters, alarms, statistics);
        EXPECT_LE(id.modelText.size(), layout.model.size());
        EXPECT_LE(meters.GetFormatCount(), 80u);
        EXPECT_LE(statistics.GetFormatCount(), 40u);
        if (length == whole.size()) {
            EXPECT_EQ(statistics.GetFormatCount(), 40u);
            EXPECT_EQ(alarms.GetSupportedCount(), 2u);
        }
    }
    // Cut in the middle of the model text: what arrived of it is kept.
    SIdentification id;
    CDataTypeMap meters, statistics;
    CAlarmMap alarms;
    ParseIdentificationBlock(std::span(whole).first(15), id, meters, alarms, statistics);
    EXPECT_EQ(id.modelText, "Bran");
    EXPECT_EQ(meters.GetFormatCount(), 0u);
}

TEST(Identification, ModelTextStopsAtNul)
{
    SIdentificationLayout layout;
    layout.model = std::string("Ab\0cd", 5);
    SIdentification id;
    CDataTypeMap meters, statistics;
    CAlarmMap alarms;
    ParseIdentificationBlock(IdentificationBlock(layout), id, meters, alarms, statistics);
    EXPECT_EQ(id.modelText, "Ab");
}

struct SSplitCase {
    const char* text;
    bool changes;
    const char* manufacturer;
    const char* model;
};

TEST(Identification, SplitsManufacturerAndModel)
{
    const SSplitCase cases[] = {
        { "Brand  Unit 5 ", true, "Brand", "Unit 5" },
        { "  VERDAN   PVX  ", true, "VERDAN", "PVX" },
        { "\tMaker Model X\t", true, "Maker", "Model X" },
        { "Maker\tSub Model", true, "Maker\tSub", "Model" }, // a tab does not split
        { "Maker \t Model\t", true, "Maker", "Model" },
        { "Solo", true, "Solo", "" },
        { "", false, "old maker", "old model" },
        { "  \t ", false, "old maker", "old model" },
    };
    for (const auto& c : cases) {
        std::string manufacturer = "old maker";
        std::string model = "old model";
        EXPECT_EQ(SplitModelText(c.text, manufacturer, model), c.changes) << c.text;
        EXPECT_EQ(manufacturer, c.manufacturer) << c.text;
        EXPECT_EQ(model, c.model) << c.text;
    }
}

struct SBaudCase {
    const char* name;
    Bytes reply;
    int rate;
};

TEST(Identification, ChoosesTheFastestRateThePortKnows)
{
    const SBaudCase cases[] = {
        // byte 0 unused, byte 1 count, then 16-bit rates
        { "fastest of three", { 0x00, 0x03, 0xB0, 0x04, 0x00, 0x4B, 0x80, 0x25 }, 19200 },
        { "57600 fits 16 bits", { 0x00, 0x02, 0x00, 0xE1, 0x80, 0x25 }, 57600 },
        { "an unknown rate is passed over", { 0x00, 0x02, 0x50, 0xC3, 0x80, 0x25 }, 9600 },
        { "slower than 1200 stays at 1200", { 0x00, 0x01, 0x2C, 0x01 }, 1200 },
        { "count larger than the list", { 0x00, 0x09, 0x60, 0x09, 0x80 }, 2400 },
        { "empty reply", {}, 1200 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseBaudRate(c.reply), c.rate) << c.name;
}

TEST(Identification, NominalBlocks)
{
    Bytes block6(12, 0);
    block6[8] = 0xE6; // 230 V
    block6[10] = 0x32; // 50 Hz as sent
    const auto output = ParseNominalOutput(block6);
    EXPECT_EQ(output.voltage, 230u);
    EXPECT_EQ(output.frequency, 50u);
    EXPECT_EQ(ParseNominalOutput(Bytes(9, 0xFF)).voltage, 0x00FFu) << "a block cut inside a value reads 0 there";

    Bytes block0C(27, 0);
    block0C[0] = 0xE6; // input voltage 230
    block0C[2] = 0x32; // input frequency 50, kept in 0.1 Hz
    block0C[16] = 2; // low battery time
    block0C[17] = 1; // audible status counted from 0
    block0C[18] = 0xB8; // low transfer 184
    block0C[20] = 0x08; // high transfer 264
    block0C[21] = 0x01;
    block0C[25] = 5;
    block0C[26] = 40;
    const auto input = ParseNominalInput(block0C);
    EXPECT_EQ(input.voltage, 230u);
    EXPECT_EQ(input.frequency, 500u);
    EXPECT_EQ(input.lowBatteryTime, 2u);
    EXPECT_EQ(input.audibleStatus, 2);
    EXPECT_EQ(input.lowTransferVoltage, 184u);
    EXPECT_EQ(input.highTransferVoltage, 264u);
    EXPECT_EQ(input.lowTemperatureLimit, 5);
    EXPECT_EQ(input.highTemperatureLimit, 40);
    const auto shortInput = ParseNominalInput(std::span(block0C).first(20));
    EXPECT_EQ(shortInput.lowTransferVoltage, 184u);
    EXPECT_EQ(shortInput.highTransferVoltage, 0u);
    EXPECT_EQ(shortInput.highTemperatureLimit, 0);
}

// ---- Alarms, status, battery, tests -------------------------------------------------------------

struct SAlarmNumberCase {
    unsigned alarm;
    std::vector<std::uint32_t> wellKnown; // N of 1.3.6.1.2.1.33.1.6.3.N
};

TEST(AlarmMapping, XcpAlarmNumbersToWellKnownAlarms)
{
    const SAlarmNumberCase cases[] = {
        { 7, { 2, 6 } },
        { 200, { 5 } },
        { 2, { 18 } },
        { 0, { 18 } },
        { 218, { 18 } },
        { 149, { 1 } },
        { 199, { 1 } },
        { 168, { 2 } },
        { 56, { 3 } },
        { 126, { 4 } },
        { 21, { 5 } },
        { 67, { 6 } },
        { 11, { 7 } },
        { 25, { 8 } },
        { 169, { 9 } },
        { 5, { 10 } },
        { 173, { 12 } },
        { 34, { 13 } },
        { 174, { 14 } },
        { 158, { 15 } },
        { 193, { 16 } },
        { 192, { 17 } },
        { 136, { 19 } },
        { 63, { 20 } },
        { 55, { 22 } },
        { 206, { 22 } },
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> got;
        for (const COid* oid : WellKnownAlarmsFor(c.alarm)) {
            ASSERT_EQ(oid->Size(), 8u);
            got.push_back((*oid)[6]);
        }
        EXPECT_EQ(got, c.wellKnown) << "alarm " << c.alarm;
    }
}

TEST(StatusMapping, StatusByteToOutputSource)
{
    const std::pair<std::uint8_t, int> cases[] = {
        { 0x10, 2 },
        { 0x50, 3 },
        { 0x60, 4 },
        { 0x80, 4 },
        { 0xF0, 5 },
        { 0x61, 6 },
        { 0x62, 6 },
        { 0x63, 7 },
        { 0x70, 1 },
        { 0x00, 1 },
        { 0xFF, 1 },
    };
    for (auto [status, source] : cases)
        EXPECT_EQ(OutputSourceFromStatus(status), source) << int(status);
}

TEST(BatteryMapping, TestResultsAndChargeState)
{
    const std::tuple<std::uint8_t, std::uint32_t, int> results[] = {
        // byte, vendor test result, upsTestResultsSummary
        { 0, 1, 6 },
        { 1, 4, 5 },
        { 2, 2, 1 },
        { 3, 1, 4 },
        { 4, 3, 3 },
        { 5, 1, 6 },
        { 0xFF, 1, 6 },
    };
    for (auto [byte, vendor, summary] : results) {
        EXPECT_EQ(VendorTestResultFrom(byte), vendor) << int(byte);
        EXPECT_EQ(TestSummaryFrom(byte), summary) << int(byte);
    }

    Bytes block(24, 0);
    EXPECT_EQ(BatteryChargeStateFrom(block), 5) << "byte 18 = 0 and byte 19 = 0";
    block[19] = 1;
    block[20] = 2;
    EXPECT_EQ(BatteryChargeStateFrom(block), 2);
    block[18] = 2; // the state moves two bytes on
    block[21] = 1;
    block[22] = 3;
    EXPECT_EQ(BatteryChargeStateFrom(block), 3);
    block[18] = 200; // points past the block
    EXPECT_EQ(BatteryChargeStateFrom(block), 5);
    EXPECT_EQ(BatteryChargeStateFrom(Bytes { 2 }), 5);
}

// ---- Events, outlets, writes -----------------------------------------------------------------------

TEST(EventBlock, RecordsWithBcdYears)
{
    const Bytes block = {
        // word 0x8005, 07/04/(19)99 13:05:09, unused byte
        0x05,
        0x80,
        0x07,
        0x04,
        0x99,
        0x0D,
        0x05,
        0x09,
        0x00,
        // word 0x0123, 12/31/(20)25 23:59:58
        0x23,
        0x01,
        0x0C,
        0x1F,
        0x25,
        0x17,
        0x3B,
        0x3A,
        0x00,
        // two bytes of a record cut short
        0x01,
        0x02,
    };
    const auto records = ParseEventBlock(block);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].state, 1);
    EXPECT_EQ(records[0].code, 5u);
    EXPECT_EQ(records[0].text, "07/04/1999:13:05:09");
    EXPECT_EQ(records[1].state, 2);
    EXPECT_EQ(records[1].code, 0x123u);
    EXPECT_EQ(records[1].text, "12/31/2025:23:59:58");

    const std::pair<std::uint8_t, const char*> years[] = {
        { 0x70, "1970" },
        { 0x69, "2069" },
        { 0x00, "2000" },
        { 0x99, "1999" },
        { 0xFF, "2065" },
    };
    for (auto [bcd, year] : years) {
        const Bytes one = { 0x00, 0x00, 0x01, 0x01, bcd, 0x00, 0x00, 0x00, 0x00 };
        EXPECT_EQ(ParseEventBlock(one).at(0).text, std::string("01/01/") + year + ":00:00:00") << int(bcd);
    }
    EXPECT_TRUE(ParseEventBlock(Bytes(8, 0)).empty());
}

TEST(OutletBlock, CountCutToTheRecordsThatArrived)
{
    const Bytes block = {
        0x03, 0x06, // three outlets announced, record size
        0x00, 0x01, 0x34, 0x12, 0x78, 0x56, // outlet 1
        0x01, 0x02, 0xFF, 0xFF, 0x00, 0x00, // outlet 2
        0x02, 0x03, 0x01, // outlet 3, cut short
    };
    const auto outlets = ParseOutletBlock(block);
    ASSERT_EQ(outlets.size(), 2u);
    EXPECT_EQ(outlets[0].number, 1);
    EXPECT_EQ(outlets[0].value1, 0x1234);
    EXPECT_EQ(outlets[0].value2, 0x5678);
    EXPECT_EQ(outlets[1].number, 2);
    EXPECT_EQ(outlets[1].value1, 0xFFFF);
    EXPECT_TRUE(ParseOutletBlock(Bytes {}).empty());
}

struct SDateTextCase {
    const char* text;
    bool valid;
    std::array<int, 6> fields;
};

TEST(DateWrite, ParsesSixNumbersLikeScanf)
{
    const SDateTextCase cases[] = {
        { "7/4/2001:13:05:09", true, { 7, 4, 2001, 13, 5, 9 } },
        { " 07/ 04/ 2001: 1:2:3 trailing", true, { 7, 4, 2001, 1, 2, 3 } },
        { "+7/-4/2001:0:0:0", true, { 7, -4, 2001, 0, 0, 0 } },
        { "7/4/2001", false, {} },
        { "7/4/2001:13:05", false, {} },
        { "7-4-2001:13:05:09", false, {} },
        { "7/4/99999999999:1:2:3", false, {} },
        { "", false, {} },
    };
    for (const auto& c : cases) {
        const auto fields = ParseDateTimeText(c.text);
        ASSERT_EQ(fields.has_value(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(*fields, c.fields) << c.text;
        }
    }
    // year high byte masked with 0x80, year low byte, month, day, hour, minute, second, unused
    const std::array<std::uint8_t, 8> golden = { 0x00, 0xD1, 0x07, 0x04, 0x0D, 0x05, 0x09, 0x00 };
    EXPECT_EQ(DateCommandBytes({ 7, 4, 2001, 13, 5, 9 }), golden);
}

} // namespace
