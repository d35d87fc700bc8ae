// The model's own XCP answers: every block byte for byte, the commands with
// their accepted forms and statuses, frames cut short, well-formed replies
// for any request, and the identification and meters read back by the XCP
// driver's own block decoders.
#include "tests/ups/TestUPS.h"

#include "platform/Clock.h"
#include "ups/XCPEmulation.h"
#include "xcp/driver/AlarmMap.h"
#include "xcp/driver/DataTypeMap.h"
#include "xcp/driver/XComBlocks.h"
#include "xcp/link/XCPFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <utility>

namespace pvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kUnchanged = std::numeric_limits<std::int64_t>::min();

// A reply of `size` zero bytes but for the listed positions.
Bytes Sparse(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes)
{
    Bytes out(size, 0);
    for (const auto& [position, value] : bytes)
        out.at(position) = value;
    return out;
}

// A one-block reply whose data are 32-bit little-endian words.
Bytes WordBlock(
    std::uint8_t number, std::initializer_list<std::uint32_t> words, std::size_t dataLength, std::uint8_t checksum)
{
    Bytes out = { 0xAB, number, static_cast<std::uint8_t>(dataLength), 0x81 };
    for (std::uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>(word >> shift));
    out.resize(4 + dataLength, 0);
    out.push_back(checksum);
    return out;
}

// The data of every block of a reply joined, as the XCP link joins them;
// fails the test when the reply is not a run of well-formed blocks.
Bytes JoinedData(const Bytes& reply)
{
    Bytes data;
    CByteCursor cursor(reply);
    SXCPBlock block;
    while (!cursor.AtEnd()) {
        EXPECT_EQ(ParseReplyBlock(cursor, block), EXCPParse::Complete) << "at " << cursor.Offset();
        if (block.frame.empty())
            break;
        data.insert(data.end(), block.data.begin(), block.data.end());
        if (block.IsLast()) {
            EXPECT_TRUE(cursor.AtEnd()) << "bytes after the last block";
            break;
        }
    }
    return data;
}

class EmulationTest : public ::testing::Test {
protected:
    CFakeClock clock { 1000000, 1700000000 };
    CScopedClock scoped { clock };
    CTestUPS ups;

    void SetUp() override { clock.Advance(5000000); }

    Bytes Ask(std::uint8_t command, const Bytes& data = {})
    {
        return ups.ProcessXCPRequest(BuildRequestFrame(command, data));
    }

    // A three-line UPS with values that floats hold exactly.
    void LoadThreeLineValues()
    {
        ups.m_upsSoftwareVersion = "1.2 3.4";
        ups.m_nominalOutputVA = 1500;
        ups.m_outputLineCount = 3;
        const std::uint32_t inputCurrent[] = { 55, 65, 75 };
        const std::uint32_t bypassVoltage[] = { 228, 227, 226 };
        const std::uint32_t inputVoltage[] = { 230, 231, 232 };
        const std::uint32_t outputCurrent[] = { 87, 88, 89 };
        const std::uint32_t outputVoltage[] = { 230, 229, 228 };
        for (std::size_t i = 0; i < 3; ++i) {
            ups.m_inputLines[i].current = inputCurrent[i];
            ups.m_bypassLines[i].voltage = bypassVoltage[i];
            ups.m_inputLines[i].voltage = inputVoltage[i];
            ups.m_outputLines[i].current = outputCurrent[i];
            ups.m_outputLines[i].voltage = outputVoltage[i];
        }
        ups.m_inputLines[0].frequency = 600;
        ups.m_inputLines[0].truePower = 1200;
        ups.m_outputLines[0].power = 1100;
        ups.m_outputLines[0].percentLoad = 40;
        ups.m_outputFrequency = 500;
        ups.m_batteryCurrent = -12;
        ups.m_batteryVoltage = 545;
        ups.m_chargeRemaining = 95;
        ups.m_minutesRemaining = 42;
        ups.m_ambientTemperature = 25;
        ups.m_batteryTemperature = 30;
    }
};

// ---- Blocks --------------------------------------------------------------------------------------------

TEST_F(EmulationTest, IdentificationIsTwoBlocksOf165BytesWithTheModelTextAt19)
{
    ups.m_upsSoftwareVersion = "1.2 3.4"; // reads as hexadecimal 1
    ups.m_nominalOutputVA = 1500;
    ups.m_chargeRemaining = 95;
    const Bytes expected = Sparse(165,
        {
            { 0, 0xAB }, { 1, 0x01 }, { 2, 121 }, { 3, 0x01 }, // block 1, 121 bytes, first of two
            { 4, 4 }, { 5, 0x01 }, { 6, 1 }, // version: low byte of hexadecimal 1, then 1
            { 12, 1 }, { 14, 30 }, { 15, 0 }, // 1500 VA / 50
            { 16, 1 }, // output lines
            { 18, 16 }, // model text length, the text at 19 to 34
            { 19, ' ' }, { 20, ' ' }, { 21, 'V' }, { 22, 'E' }, { 23, 'R' }, { 24, 'D' }, { 25, 'A' }, { 26, 'N' },
            { 27, ' ' }, { 28, ' ' }, { 29, ' ' }, { 30, 'P' }, { 31, 'V' }, { 32, 'X' }, { 33, ' ' }, { 34, ' ' },
            { 35, 0x52 }, // meter format count
            { 54, 0x61 }, { 57, 0x61 }, { 58, 0x61 }, { 59, 0x61 }, // input current, powers, load
            { 63, 0x51 }, { 64, 0x51 }, { 68, 0x51 }, { 69, 0x51 }, { 70, 0x51 }, // frequencies, battery, charge
            { 71, 0xE2 }, // seconds remaining, integer
            { 89, 0x61 }, { 92, 0x61 }, { 98, 0x61 }, { 101, 0x61 }, { 107, 0x61 }, { 113, 0x61 }, { 114, 0x61 },
            { 118, 0x26 }, { 120, 4 }, { 122, 2 }, { 123, 4 }, //
            { 125, 0xE2 }, // checksum of block 1
            { 126, 0xAB }, { 127, 0x01 }, { 128, 34 }, { 129, 0x82 }, // block 1 again, 34 bytes, last
            { 131, 0x83 }, { 137, 2 }, { 139, 0x40 }, { 142, 0x20 }, { 145, 0x43 }, { 148, 3 }, { 149, 0x4C },
            { 150, 0x6A }, { 159, 0xFF }, //
            { 164, 0xD0 }, // checksum of block 2
        });
    const Bytes reply = Ask(0x31);
    EXPECT_EQ(reply, expected);
    ASSERT_EQ(reply.size(), 165u);
    EXPECT_TRUE(XCPSumIsZero(std::span(reply).first(126)));
    EXPECT_TRUE(XCPSumIsZero(std::span(reply).subspan(126)));
    EXPECT_EQ(std::string(reply.begin() + 19, reply.begin() + 35), "  VERDAN   PVX  ");
}

TEST_F(EmulationTest, IdentificationFollowsLinesChargeAndVersion)
{
    struct Case {
        const char* name;
        std::uint32_t lines;
        std::uint32_t charge;
        const char* version;
        Bytes changed; // positions whose format byte is 0x61 beyond the first line's
        std::uint8_t charge70;
        std::uint8_t version5;
        std::uint8_t version6;
    };
    const Case cases[] = {
        { "one line", 1, 95, "1.2", {}, 0x51, 0x01, 1 },
        { "two lines", 2, 95, "1.2", { 55, 90, 93, 102, 115 }, 0x51, 0x01, 1 },
        { "three lines", 3, 95, "1.2", { 55, 90, 93, 102, 115, 56, 91, 94, 103, 116 }, 0x51, 0x01, 1 },
        { "six lines list three", 6, 95, "1.2", { 55, 90, 93, 102, 115, 56, 91, 94, 103, 116 }, 0x51, 0x01, 1 },
        { "charge unknown", 1, 0xFFFFFFFF, "1.2", {}, 0x00, 0x01, 1 },
        { "default version reads as 0", 1, 95, "0.1a", {}, 0x51, 0x00, 0 },
        { "hexadecimal version", 1, 95, "0x1A2", {}, 0x51, 0xA2, 1 },
        { "no number", 1, 95, "v2", {}, 0x51, 0x00, 0 },
    };
    for (const Case& c : cases) {
        ups.m_outputLineCount = c.lines;
        ups.m_chargeRemaining = c.charge;
        ups.m_upsSoftwareVersion = c.version;
        const Bytes reply = Ask(0x31);
        ASSERT_EQ(reply.size(), 165u) << c.name;
        EXPECT_EQ(reply[16], c.lines) << c.name;
        EXPECT_EQ(reply[70], c.charge70) << c.name;
        EXPECT_EQ(reply[5], c.version5) << c.name;
        EXPECT_EQ(reply[6], c.version6) << c.name;
        for (std::size_t position : { 55, 56, 90, 91, 93, 94, 102, 103, 115, 116 }) {
            const bool listed = std::find(c.changed.begin(), c.changed.end(), position) != c.changed.end();
            EXPECT_EQ(reply[position], listed ? 0x61 : 0x00) << c.name << " at " << position;
        }
        EXPECT_TRUE(XCPSumIsZero(std::span(reply).first(126))) << c.name;
        EXPECT_TRUE(XCPSumIsZero(std::span(reply).subspan(126))) << c.name;
    }
}

TEST_F(EmulationTest, MeterBlockForOneTwoAndThreeLines)
{
    LoadThreeLineValues();
    ups.m_outputLineCount = 1;
    EXPECT_EQ(Ask(0x34),
        WordBlock(4,
            {
                0x40B00000, // input current line 1: 5.5 A
                0x44898000, // output power line 1: 1100 W
                0x44960000, // input true power line 1: 1200 W
                0x44160000, // 1500 VA x 40 % / 100: 600
                0x42480000, // output frequency: 50.0 Hz
                0x42700000, // input frequency line 1: 60.0 Hz
                0xC1400000, // battery current: -12 (tenths)
                0x44084000, // battery voltage: 545 (tenths)
                0x42BE0000, // charge remaining: 95 %
                0x000009D8, // 42 minutes x 60, integer
                0x43640000, // bypass voltage line 1: 228 V
                0x43660000, // input voltage line 1: 230 V
                0x41C80000, // ambient temperature: 25 C
                0x42AE0000, // output current line 1: 87 (tenths)
                0x44BB8000, // nominal output VA: 1500
                0x41F00000, // battery temperature: 30 C
                0x43660000, // output voltage line 1: 230 V
            },
            68, 0xCF));

    ups.m_outputLineCount = 2;
    EXPECT_EQ(Ask(0x34),
        WordBlock(4,
            {
                0x40B00000, // input current line 1: 5.5 A
                0x40D00000, // input current line 2: 6.5 A
                0x44898000, // output power line 1: 1100 W
                0x44960000, // input true power line 1: 1200 W
                0x44160000, // 1500 VA x 40 % / 100: 600
                0x42480000, // output frequency: 50.0 Hz
                0x42700000, // input frequency line 1: 60.0 Hz
                0xC1400000, // battery current: -12 (tenths)
                0x44084000, // battery voltage: 545 (tenths)
                0x42BE0000, // charge remaining: 95 %
                0x000009D8, // 42 minutes x 60, integer
                0x43640000, // bypass voltage line 1: 228 V
                0x43630000, // bypass voltage line 2: 227 V
                0x43660000, // input voltage line 1: 230 V
                0x43670000, // input voltage line 2: 231 V
                0x41C80000, // ambient temperature: 25 C
                0x42AE0000, // output current line 1: 87 (tenths)
                0x42B00000, // output current line 2: 88 (tenths)
                0x44BB8000, // nominal output VA: 1500
                0x41F00000, // battery temperature: 30 C
                0x43660000, // output voltage line 1: 230 V
                0x43650000, // output voltage line 2: 229 V
            },
            88, 0xC1));

    for (std::uint32_t lines : { 3u, 6u }) { // more than three lines send three
        ups.m_outputLineCount = lines;
        EXPECT_EQ(Ask(0x34),
            WordBlock(4,
                {
                    0x40B00000, // input current line 1: 5.5 A
                    0x40D00000, // input current line 2: 6.5 A
                    0x40F00000, // input current line 3: 7.5 A
                    0x44898000, // output power line 1: 1100 W
                    0x44960000, // input true power line 1: 1200 W
                    0x44160000, // 1500 VA x 40 % / 100: 600
                    0x42480000, // output frequency: 50.0 Hz
                    0x42700000, // input frequency line 1: 60.0 Hz
                    0xC1400000, // battery current: -12 (tenths)
                    0x44084000, // battery voltage: 545 (tenths)
                    0x42BE0000, // charge remaining: 95 %
                    0x000009D8, // 42 minutes x 60, integer
                    0x43640000, // bypass voltage line 1: 228 V
                    0x43630000, // bypass voltage line 2: 227 V
                    0x43620000, // bypass voltage line 3: 226 V
                    0x43660000, // input voltage line 1: 230 V
                    0x43670000, // input voltage line 2: 231 V
                    0x43680000, // input voltage line 3: 232 V
                    0x41C80000, // ambient temperature: 25 C
                    0x42AE0000, // output current line 1: 87 (tenths)
                    0x42B00000, // output current line 2: 88 (tenths)
                    0x42B20000, // output current line 3: 89 (tenths)
                    0x44BB8000, // nominal output VA: 1500
                    0x41F00000, // battery temperature: 30 C
                    0x43660000, // output voltage line 1: 230 V
                    0x43650000, // output voltage line 2: 229 V
                    0x43640000, // output voltage line 3: 228 V
                },
                108, 0x92))
            << lines << " lines";
    }
}

TEST_F(EmulationTest, UnknownChargeMovesTheLaterMetersUpAndKeepsTheLength)
{
    LoadThreeLineValues();
    ups.m_outputLineCount = 1;
    ups.m_chargeRemaining = 0xFFFFFFFF;
    EXPECT_EQ(Ask(0x34),
        WordBlock(4,
            {
                0x40B00000, // input current line 1: 5.5 A
                0x44898000, // output power line 1: 1100 W
                0x44960000, // input true power line 1: 1200 W
                0x44160000, // 1500 VA x 40 % / 100: 600
                0x42480000, // output frequency: 50.0 Hz
                0x42700000, // input frequency line 1: 60.0 Hz
                0xC1400000, // battery current: -12 (tenths)
                0x44084000, // battery voltage: 545 (tenths)
                0x000009D8, // 42 minutes x 60, integer
                0x43640000, // bypass voltage line 1: 228 V
                0x43660000, // input voltage line 1: 230 V
                0x41C80000, // ambient temperature: 25 C
                0x42AE0000, // output current line 1: 87 (tenths)
                0x44BB8000, // nominal output VA: 1500
                0x41F00000, // battery temperature: 30 C
                0x43660000, // output voltage line 1: 230 V
                0x00000000, // the freed place stays 0
            },
            68, 0xCF));
}

TEST_F(EmulationTest, MeterExtremesStayInRange)
{
    ups.m_nominalOutputVA = 0xFFFFFFFF;
    ups.m_outputLines[0].percentLoad = 200; // the product needs more than 32 bits
    ups.m_minutesRemaining = 0xFFFFFFFF; // seconds held at the 32-bit maximum
    const Bytes reply = Ask(0x34);
    ASSERT_EQ(reply.size(), 73u);
    // word 3: 2 x 0xFFFFFFFF as a float (8589934590 rounds to 2^33)
    EXPECT_EQ(Bytes(reply.begin() + 16, reply.begin() + 20), (Bytes { 0x00, 0x00, 0x00, 0x50 }));
    // word 9: the seconds remaining
    EXPECT_EQ(Bytes(reply.begin() + 40, reply.begin() + 44), (Bytes { 0xFF, 0xFF, 0xFF, 0xFF }));
    EXPECT_TRUE(XCPSumIsZero(reply));
}

TEST_F(EmulationTest, StatusBlockFromSourceFlagsAndDueTimes)
{
    ups.m_outputSource = 3;
    ups.m_lowBatteryTime = 2;
    ups.m_minutesRemaining = 42;
    EXPECT_EQ(Ask(0x33),
        (Bytes { 0xAB, 0x03, 0x14, 0x81, // block 3, 20 bytes
            0x50, // normal
            0xB0, // 0xA0 for normal, 0x10 for normal
            0x00, 0x00, //
            0x65, // nothing due
            0xFF, 0xFF, // no startup due
            0x00, 0x00, 0x00, 0x00, //
            0xFF, 0xFF, // no shutdown due
            0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, //
            0x5D }));

    ups.m_outputSource = 5;
    ups.m_batteryChargeState = 1;
    ups.m_lowBatteryTime = 5;
    ups.m_minutesRemaining = 3;
    ups.canTimedCommand = true;
    ups.m_startupDue = CAbstractUPS::Now() + 90500;
    ups.m_shutdownDue = CAbstractUPS::Now() + 30000;
    EXPECT_EQ(Ask(0x33),
        (Bytes { 0xAB, 0x03, 0x14, 0x81, //
            0xF0, // battery
            0x69, // 0x20, charge state 1 0x40, low battery time reached 0x20, battery 0x08, timed command 0x01
            0x00, 0x00, //
            0x6F, // 0x65 + startup due 0x08 + shutdown due 0x02
            0x5A, 0x00, // 90 s to the startup
            0x00, 0x00, 0x00, 0x00, //
            0x1E, 0x00, // 30 s to the shutdown
            0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, //
            0x7E }));
}

TEST_F(EmulationTest, StatusBytesPerOutputSource)
{
    struct Case {
        int source;
        std::uint8_t byte4;
        std::uint8_t byte5;
    };
    // Low battery time 0 and 0 minutes remaining: the 0x20 flag is always set.
    const Case cases[] = {
        { 1, 0x30, 0x20 },
        { 2, 0x10, 0x20 },
        { 3, 0x50, 0xB0 },
        { 4, 0x60, 0xA4 },
        { 5, 0xF0, 0x28 },
        { 6, 0x62, 0x20 },
        { 7, 0x63, 0x20 },
        { 0, 0x30, 0x20 },
        { 8, 0x30, 0x20 },
    };
    for (const Case& c : cases) {
        ups.m_outputSource = c.source;
        const Bytes reply = Ask(0x33);
        ASSERT_EQ(reply.size(), 25u);
        EXPECT_EQ(reply[4], c.byte4) << "source " << c.source;
        EXPECT_EQ(reply[5], c.byte5) << "source " << c.source;
        EXPECT_TRUE(XCPSumIsZero(reply));
    }
}

TEST_F(EmulationTest, StatusSecondsAreSixteenBitsAndAPassedDueTimeReadsZero)
{
    struct Case {
        const char* name;
        std::int64_t inMs;
        std::uint8_t low;
        std::uint8_t high;
    };
    const Case cases[] = {
        { "just under a second", 999, 0x00, 0x00 },
        { "one hour", 3600000, 0x10, 0x0E },
        { "65536 s wraps to 0", 65536000, 0x00, 0x00 },
        { "65537 s", 65537000, 0x01, 0x00 },
        { "passed 5 s ago", -5000, 0x00, 0x00 },
    };
    for (const Case& c : cases) {
        ups.m_shutdownDue = CAbstractUPS::Now() + c.inMs;
        const Bytes reply = Ask(0x33);
        EXPECT_EQ(reply[15], c.low) << c.name;
        EXPECT_EQ(reply[16], c.high) << c.name;
        EXPECT_EQ(reply[8], 0x67) << c.name;
    }
}

TEST_F(EmulationTest, AlarmBlockMarksTheBytesOfPresentAlarms)
{
    ups.RaiseAlarm(kUpsAlarmOnBattery);
    ups.RaiseAlarm(kUpsAlarmLowBattery);
    ups.RaiseAlarm(kUpsAlarmTempBad);
    ups.RaiseAlarm(kUpsAlarmGeneralFault); // has no byte
    EXPECT_EQ(Ask(0x35),
        (Bytes { 0xAB, 0x05, 0x1E, 0x81, // block 5, 30 bytes
            0x00, 0x00, 0x00, 0x00, //
            0x01, // 8: low battery
            0x00, 0x00, 0x00, 0x00, 0x00, //
            0x01, // 14: on battery
            0x00, 0x00, 0x00, 0x00, //
            0x01, 0x01, // 19 and 20: temperature
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
            0xAD }));
}

TEST_F(EmulationTest, EveryAlarmHasItsByte)
{
    const std::pair<const COid*, std::vector<std::size_t>> cases[] = {
        { &kUpsAlarmOutputBad, { 4 } },
        { &kUpsAlarmOutputOverload, { 5 } },
        { &kUpsAlarmChargerFailed, { 6 } },
        { &kUpsAlarmShutdownImminent, { 7 } },
        { &kUpsAlarmLowBattery, { 8 } },
        { &kUpsAlarmInputBad, { 9 } },
        { &kUpsAlarmCommunicationsLost, { 10 } },
        { &kUpsAlarmBypassBad, { 11 } },
        { &kUpsAlarmDepletedBattery, { 12 } },
        { &kUpsAlarmBatteryBad, { 13 } },
        { &kUpsAlarmOnBattery, { 14 } },
        { &kUpsAlarmOnBypass, { 15 } },
        { &kUpsAlarmUpsOutputOff, { 16 } },
        { &kUpsAlarmFuseFailure, { 17 } },
        { &kUpsAlarmFanFailure, { 18 } },
        { &kUpsAlarmTempBad, { 19, 20 } },
        { &kUpsAlarmShutdownPending, { 21 } },
        { &kUpsAlarmTestInProgress, {} },
        { &kUpsAlarmUpsSystemOff, {} },
    };
    for (const auto& [alarm, positions] : cases) {
        ups.m_alarms.clear();
        ups.RaiseAlarm(*alarm);
        const Bytes reply = Ask(0x35);
        ASSERT_EQ(reply.size(), 35u);
        for (std::size_t position = 4; position < 34; ++position) {
            const bool set = std::find(positions.begin(), positions.end(), position) != positions.end();
            EXPECT_EQ(reply[position], set ? 1 : 0) << alarm->ToString() << " at " << position;
        }
        EXPECT_TRUE(XCPSumIsZero(reply));
    }
}

TEST_F(EmulationTest, ConfigurationBlocks)
{
    ups.m_upsSoftwareVersion = "1.2 3.4";
    ups.m_nominalOutputVoltage = 230;
    ups.m_nominalOutputFrequency = 500;
    const std::uint8_t address[4] = { 192, 168, 1, 20 }; // network byte order in memory
    std::memcpy(&ups.m_relayAddress, address, sizeof address);
    EXPECT_EQ(Ask(0x36),
        Sparse(111,
            {
                { 0, 0xAB }, { 1, 0x06 }, { 2, 106 }, { 3, 0x81 }, // block 6, 106 bytes
                { 6, 12 }, { 7, 0 }, // version 1.2 x 10
                { 10, 0xF4 }, { 11, 0x01 }, // 500
                { 12, 230 }, { 13, 0 }, // nominal output voltage
                { 14, 0xF4 }, { 15, 0x01 }, // nominal output frequency, tenths
                { 42, 1 }, { 43, 1 }, { 46, 0x52 }, { 47, 3 }, { 50, 12 }, { 51, 31 }, //
                { 100, 20 }, { 101, 1 }, { 102, 168 }, { 103, 192 }, // relay address, last byte first
                { 108, 1 }, { 109, 1 }, //
                { 110, 0x87 }, // checksum
            }));

    ups.m_nominalInputVoltage = 230;
    ups.m_nominalInputFrequency = 600;
    ups.m_lowBatteryTime = 2;
    ups.m_audibleStatus = 2;
    ups.m_lowTransferVoltage = 160;
    ups.m_highTransferVoltage = 276;
    ups.m_lowTemperatureLimit = -5;
    ups.m_highTemperatureLimit = 40;
    EXPECT_EQ(Ask(0x3C),
        (Bytes { 0xAB, 0x0C, 0x1F, 0x81, // block 0x0C, 31 bytes
            0xE6, 0x00, // 230 V
            0x58, 0x02, // 600 (tenths)
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
            0x02, // low battery time
            0x01, // audible status 2 - 1
            0xA0, 0x00, // low transfer 160 V
            0x14, 0x01, // high transfer 276 V
            0x00, 0x00, 0x00, //
            0xFB, // -5 C, low byte
            0x28, // 40 C
            0x00, 0x00, 0x00, 0x00, //
            0x8E }));
}

TEST_F(EmulationTest, TestResultBlocksMapTheModelCodes)
{
    const std::pair<std::uint32_t, std::uint8_t> vendorResults[]
        = { { 1, 0 }, { 2, 2 }, { 3, 4 }, { 4, 1 }, { 5, 0 }, { 6, 3 }, { 7, 0 } };
    for (const auto& [result, code] : vendorResults) {
        ups.m_vendorTestResult = result;
        const Bytes reply = Ask(0x3B);
        ASSERT_EQ(reply.size(), 25u);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes { 0xAB, 0x0B, 0x14, 0x81 }));
        EXPECT_EQ(reply[4], code) << "vendor result " << result;
        EXPECT_TRUE(XCPSumIsZero(reply));
    }
    ups.m_vendorTestResult = 3;
    EXPECT_EQ(Ask(0x3B), Sparse(25, { { 0, 0xAB }, { 1, 0x0B }, { 2, 20 }, { 3, 0x81 }, { 4, 4 }, { 24, 0xB1 } }));

    const std::pair<int, std::uint8_t> summaries[]
        = { { 1, 2 }, { 2, 2 }, { 3, 4 }, { 4, 3 }, { 5, 1 }, { 6, 0 }, { 0, 0 } };
    for (const auto& [summary, code] : summaries) {
        ups.m_testResultSummary = summary;
        const Bytes reply = Ask(0x3F);
        ASSERT_EQ(reply.size(), 8u);
        EXPECT_EQ(reply[6], code) << "summary " << summary;
        EXPECT_TRUE(XCPSumIsZero(reply));
    }
    ups.m_testResultSummary = 1;
    EXPECT_EQ(Ask(0x3F), (Bytes { 0xAB, 0x0F, 0x03, 0x81, 0x01, 0x01, 0x02, 0xBE }));
}

TEST_F(EmulationTest, CommandListFollowsTheCapabilities)
{
    EXPECT_EQ(Ask(0x40),
        (Bytes { 0xAB, 0x10, 0x0A, 0x81, // block 0x10, 10 bytes
            0x08, 0x01, // 8 commands
            0x31, 0x33, 0x34, 0x35, 0x36, 0x3C, 0x40, 0xCE, //
            0x64 }));

    ups.canQuickTest = ups.canGeneralTest = ups.canStartup = ups.canReboot = ups.canCommand95 = true;
    ups.canOutletCommand1 = true;
    ups.shutdownTypes = { 1 };
    ups.outlets = { { 1, 0, 0 }, { 2, 0, 0 } };
    EXPECT_EQ(Ask(0x40),
        (Bytes { 0xAB, 0x10, 0x16, 0x81, // 22 bytes
            0x14, 0x01, // 20 commands
            0x31, 0x33, 0x34, 0x35, 0x36, 0x3B, 0x3C, 0x3F, 0x40, 0x41, 0x89, 0x8A, 0x8B, 0x91, 0x93, 0x95, 0x97, 0xB1,
            0xB2, 0xCE, //
            0x40 }));

    struct Case {
        const char* name;
        std::function<void(CTestUPS&)> allow;
        Bytes added;
    };
    const Case cases[] = {
        { "quick battery test", [](CTestUPS& u) { u.canQuickTest = true; }, { 0x3B, 0xB1 } },
        { "systems test", [](CTestUPS& u) { u.canGeneralTest = true; }, { 0x3F, 0xB2 } },
        { "one outlet is no outlet list",
            [](CTestUPS& u) {
                u.outlets = { { 1, 0, 0 } };
            },
            {} },
        { "two outlets",
            [](CTestUPS& u) {
                u.outlets = { { 1, 0, 0 }, { 2, 0, 0 } };
            },
            { 0x41 } },
        { "startup", [](CTestUPS& u) { u.canStartup = true; }, { 0x89, 0x91 } },
        { "reboot", [](CTestUPS& u) { u.canReboot = true; }, { 0x8A } },
        { "output shutdown", [](CTestUPS& u) { u.shutdownTypes = { 1 }; }, { 0x8B, 0x93 } },
        { "system shutdown only", [](CTestUPS& u) { u.shutdownTypes = { 2 }; }, {} },
        { "command 0x95", [](CTestUPS& u) { u.canCommand95 = true; }, { 0x95 } },
        { "outlet command 2", [](CTestUPS& u) { u.canOutletCommand2 = true; }, { 0x97 } },
        { "outlet delays alone", [](CTestUPS& u) { u.canOutletOnDelay = u.canOutletOffDelay = true; }, {} },
    };
    for (const Case& c : cases) {
        CTestUPS fresh;
        c.allow(fresh);
        const Bytes data = JoinedData(fresh.ProcessXCPRequest(BuildRequestFrame(0x40)));
        ASSERT_GE(data.size(), 2u) << c.name;
        EXPECT_EQ(data[0], data.size() - 2) << c.name;
        Bytes codes(data.begin() + 2, data.end());
        Bytes expected = { 0x31, 0x33, 0x34, 0x35, 0x36, 0x3C, 0x40, 0xCE };
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(codes, expected) << c.name; // the list is in increasing order
    }
}

TEST_F(EmulationTest, OutletBlock)
{
    EXPECT_EQ(Ask(0x41), (Bytes { 0xAB, 0x09, 0x02, 0x81, 0x32, 0x41, 0x56 })) << "no outlets: not available";
    ups.outlets = { { 7, 0, 0 } };
    EXPECT_EQ(Ask(0x41), (Bytes { 0xAB, 0x09, 0x02, 0x81, 0x32, 0x41, 0x56 })) << "one outlet: not available";

    ups.outlets = { { 1, 0x0102, 0x0304 }, { 2, 0x0000, 0xFFFF }, { 5, 10, 20 } };
    EXPECT_EQ(Ask(0x41),
        (Bytes { 0xAB, 0x11, 0x14, 0x81, // block 0x11, 20 bytes
            0x03, 0x06, // 3 outlets of 6 bytes
            0x00, 0x01, 0x02, 0x01, 0x04, 0x03, // index 0, outlet 1, 0x0102, 0x0304
            0x01, 0x02, 0x00, 0x00, 0xFF, 0xFF, // index 1, outlet 2, 0, 0xFFFF
            0x02, 0x05, 0x0A, 0x00, 0x14, 0x00, // index 2, outlet 5, 10, 20
            0x75 }));
}

TEST_F(EmulationTest, OutletBlockHoldsAtMost42Outlets)
{
    for (std::size_t count : { 42u, 43u, 255u, 300u }) {
        ups.outlets.assign(count, OutletEntry { 9, 0x1111, 0x2222 });
        const Bytes reply = Ask(0x41);
        ASSERT_EQ(reply.size(), 4u + 254u + 1u) << count;
        EXPECT_EQ(reply[2], 254) << count;
        EXPECT_EQ(reply[4], 42) << count;
        EXPECT_EQ(reply[4 + 2 + 41 * 6], 41) << "index of the last entry";
        EXPECT_TRUE(XCPSumIsZero(reply)) << count;
    }
}

// ---- Commands ------------------------------------------------------------------------------------------

TEST_F(EmulationTest, SimpleRequestsWithoutABuilderAreNotAvailable)
{
    EXPECT_EQ(Ask(0x99), (Bytes { 0xAB, 0x09, 0x02, 0x81, 0x32, 0x99, 0xFE }));
    EXPECT_EQ(Ask(0x95, { 0x06, 0x01, 0x00 }), (Bytes { 0xAB, 0x09, 0x05, 0x81, 0x32, 0x95, 0x06, 0x01, 0x00, 0xF8 }))
        << "the base cannot set the UPS's parameters";
    EXPECT_EQ(Ask(0xCE), (Bytes { 0xAB, 0x09, 0x02, 0x81, 0x32, 0xCE, 0xC9 }));
    EXPECT_EQ(Ask(0xCE, { 0x02 }), (Bytes { 0xAB, 0x09, 0x03, 0x81, 0x32, 0xCE, 0x02, 0xC6 }));
}

TEST_F(EmulationTest, EndOfSessionWithData1HasNoReply)
{
    const Bytes frame = { 0xAB, 0x02, 0xCE, 0x01, 0x84 };
    EXPECT_TRUE(ups.ProcessXCPRequest(frame).empty());
}

TEST_F(EmulationTest, DelayedShutdownOfTwoMinutes)
{
    const Bytes frame = { 0xAB, 0x03, 0x93, 0x02, 0x00, 0xBD }; // 2 minutes
    const Bytes refused = { 0xAB, 0x09, 0x04, 0x81, 0x32, 0x93, 0x02, 0x00, 0x00 };
    const Bytes done = { 0xAB, 0x09, 0x04, 0x81, 0x31, 0x93, 0x02, 0x00, 0x01 };

    EXPECT_EQ(ups.ProcessXCPRequest(frame), refused);
    EXPECT_EQ(ups.m_shutdownDue, CAbstractUPS::kNoDueTime);
    EXPECT_TRUE(ups.actions.empty());

    ups.shutdownTypes = { 1 };
    const std::int64_t now = CAbstractUPS::Now();
    EXPECT_EQ(ups.ProcessXCPRequest(frame), done);
    EXPECT_EQ(ups.m_shutdownDue, now + 120000);
    EXPECT_EQ(ups.actions, std::vector<std::string> { "ApplyShutdownSchedule" });
    EXPECT_EQ(ups.dueSeen, std::vector<std::int64_t> { now + 120000 }) << "the driver sees the new due time";
}

TEST_F(EmulationTest, CommandsFormsAndStatuses)
{
    using Allow = std::function<void(CTestUPS&)>;
    const Allow none = [](CTestUPS&) {};
    const Allow startup = [](CTestUPS& u) { u.canStartup = true; };
    const Allow reboot = [](CTestUPS& u) { u.canReboot = true; };
    const Allow shutdown = [](CTestUPS& u) { u.shutdownTypes = { 1 }; };
    const Allow everything = [](CTestUPS& u) {
        u.canStartup = u.canReboot = u.canQuickTest = u.canGeneralTest = u.canCommand95 = true;
        u.canOutletCommand1 = u.canOutletCommand2 = u.canOutletOnDelay = u.canOutletOffDelay = true;
        u.shutdownTypes = { 1, 2 };
    };
    const Allow shutdownNoOutlets = [](CTestUPS& u) {
        u.canStartup = true;
        u.shutdownTypes = { 1 };
    };
    struct Case {
        const char* name;
        Allow allow;
        Bytes request; // command and data
        std::uint8_t status;
        std::vector<std::string> actions;
        std::int64_t startupIn = kUnchanged; // ms from now
        std::int64_t shutdownIn = kUnchanged;
    };
    const Case cases[] = {
        { "startup now unavailable", shutdown, { 0x89 }, 0x32, {} },
        { "startup now", startup, { 0x89 }, 0x31, { "ApplyStartupSchedule" }, 0 },
        { "startup now, no outlet", startup, { 0x89, 0xFF }, 0x31, { "ApplyStartupSchedule" }, 0 },
        { "startup now with an outlet", everything, { 0x89, 0x01 }, 0x36, {} },
        { "startup now too long", startup, { 0x89, 0xFF, 0x00 }, 0x36, {} },

        { "reboot unavailable", shutdown, { 0x8A, 10 }, 0x32, {} },
        { "reboot 8-bit delay", reboot, { 0x8A, 10 }, 0x31, { "ApplyRebootSchedule" }, 10000 },
        { "reboot 16-bit delay", reboot, { 0x8A, 0x2C, 0x01 }, 0x31, { "ApplyRebootSchedule" }, 300000 },
        { "reboot 16-bit, no outlet", reboot, { 0x8A, 0x2C, 0x01, 0xFF }, 0x31, { "ApplyRebootSchedule" }, 300000 },
        { "reboot with an outlet", reboot, { 0x8A, 0x2C, 0x01, 0x00 }, 0x36, {} },
        { "reboot without a delay", reboot, { 0x8A }, 0x36, {} },

        { "shutdown now unavailable", startup, { 0x8B }, 0x32, {} },
        { "shutdown now", shutdown, { 0x8B }, 0x31, { "ApplyShutdownSchedule" }, kUnchanged, 0 },
        { "shutdown now, no outlet", shutdown, { 0x8B, 0xFF }, 0x31, { "ApplyShutdownSchedule" }, kUnchanged, 0 },
        { "outlet off", everything, { 0x8B, 0x03 }, 0x31, { "OutletOffDelay(3,30)" } },
        { "outlet off without outlet delays", shutdownNoOutlets, { 0x8B, 0x03 }, 0x32, {} },
        { "shutdown now too long", everything, { 0x8B, 0xFF, 0x00 }, 0x36, {} },

        { "delayed startup unavailable", shutdown, { 0x91, 0x02, 0x00 }, 0x32, {} },
        { "delayed startup", startup, { 0x91, 0x02, 0x00 }, 0x31, { "ApplyStartupSchedule" }, 120000 },
        { "delayed startup 16-bit minutes", startup, { 0x91, 0x00, 0x01, 0xFF }, 0x31, { "ApplyStartupSchedule" },
            256 * 60000 },
        { "outlet on", everything, { 0x91, 0x02, 0x00, 0x05 }, 0x31, { "OutletOnDelay(5,120)" } },
        { "outlet on without outlet delays", shutdownNoOutlets, { 0x91, 0x02, 0x00, 0x05 }, 0x32, {} },
        { "delayed startup cut short", startup, { 0x91, 0x02 }, 0x36, {} },

        { "delayed shutdown", shutdown, { 0x93, 0x02, 0x00, 0xFF }, 0x31, { "ApplyShutdownSchedule" }, kUnchanged,
            120000 },
        { "outlet off delayed", everything, { 0x93, 0x02, 0x00, 0x07 }, 0x31, { "OutletOffDelay(7,150)" } },
        { "outlet off delayed without outlet delays", shutdownNoOutlets, { 0x93, 0x02, 0x00, 0x07 }, 0x32, {} },
        { "delayed shutdown too long", everything, { 0x93, 0x02, 0x00, 0xFF, 0x00 }, 0x36, {} },
        { "delayed shutdown without minutes", shutdown, { 0x93 }, 0x36, {} },

        { "0x95 in the base", everything, { 0x95, 0x06, 0x01, 0x00 }, 0x32, {} },

        { "outlet command 1", everything, { 0x97, 0x01, 0x02, 0x02, 0x01 }, 0x31, { "OutletCommand1(2,258)" } },
        { "outlet command 2", everything, { 0x97, 0x02, 0x02, 0x00, 0x00 }, 0x31, { "OutletCommand2(2,0)" } },
        { "outlet off delay adds 7680", everything, { 0x97, 0x03, 0x04, 0x0A, 0x00 }, 0x31,
            { "OutletOffDelay(4,7690)" } },
        { "outlet off delay wraps at 65536", everything, { 0x97, 0x03, 0x04, 0x00, 0xE2 }, 0x31,
            { "OutletOffDelay(4,0)" } },
        { "outlet on delay", everything, { 0x97, 0x04, 0x01, 0xFF, 0xFF }, 0x31, { "OutletOnDelay(1,65535)" } },
        { "unknown outlet sub-command", everything, { 0x97, 0x05, 0x01, 0x00, 0x00 }, 0x32, {} },
        { "outlet command without the capability", shutdown, { 0x97, 0x01, 0x01, 0x00, 0x00 }, 0x32, {} },
        { "outlet command without its value", everything, { 0x97, 0x01, 0x02, 0x03 }, 0x32, {} },
        { "outlet command alone", everything, { 0x97 }, 0x32, {} },

        { "battery test unavailable", none, { 0xB1, 0x01, 0x0F }, 0x32, {} },
        { "battery test", everything, { 0xB1, 0x01, 0x0F }, 0x31, { "StartBatteryTest(1,15)" } },
        { "battery test without its duration", everything, { 0xB1, 0x01 }, 0x36, {} },

        { "systems test unavailable", none, { 0xB2, 0x01 }, 0x32, {} },
        { "systems test", everything, { 0xB2, 0x01 }, 0x31, { "StartGeneralSystemsTest" } },
        { "systems test of another kind", everything, { 0xB2, 0x02 }, 0x36, {} },
        { "systems test without its kind", everything, { 0xB2 }, 0x36, {} },

        { "timed command is not emulated", everything, { 0x88 }, 0x32, {} },
    };
    for (const Case& c : cases) {
        CTestUPS fresh;
        c.allow(fresh);
        const std::int64_t now = CAbstractUPS::Now();
        const Bytes frame = BuildRequestFrame(c.request[0], std::span(c.request).subspan(1));
        const Bytes reply = fresh.ProcessXCPRequest(frame);

        Bytes head = { 0xAB, 0x09, static_cast<std::uint8_t>(c.request.size() + 1), 0x81, c.status };
        head.insert(head.end(), c.request.begin(), c.request.end());
        ASSERT_EQ(reply.size(), head.size() + 1) << c.name;
        EXPECT_EQ(Bytes(reply.begin(), reply.end() - 1), head) << c.name;
        EXPECT_TRUE(XCPSumIsZero(reply)) << c.name;
        EXPECT_EQ(fresh.actions, c.actions) << c.name;
        EXPECT_EQ(fresh.m_startupDue, c.startupIn == kUnchanged ? CAbstractUPS::kNoDueTime : now + c.startupIn)
            << c.name;
        EXPECT_EQ(fresh.m_shutdownDue, c.shutdownIn == kUnchanged ? CAbstractUPS::kNoDueTime : now + c.shutdownIn)
            << c.name;
    }
}

TEST_F(EmulationTest, ShutdownNowSetsTheOutputShutdownType)
{
    ups.shutdownTypes = { 1 };
    ups.m_shutdownType = 2;
    Ask(0x93, { 0x01, 0x00 });
    EXPECT_EQ(ups.m_shutdownType, 2) << "a delayed shutdown keeps the type";
    Ask(0x8B);
    EXPECT_EQ(ups.m_shutdownType, 1);
}

TEST_F(EmulationTest, TestsAreMarkedAsStarted)
{
    ups.canQuickTest = ups.canGeneralTest = true;
    clock.SetWallMilliseconds(123456);
    Ask(0xB1, { 0x01, 0x0F });
    EXPECT_EQ(ups.m_testResultSummary, 5);
    EXPECT_EQ(ups.m_testStartTime, 123456u);
    EXPECT_EQ(ups.m_testId, kUpsTestQuickBatteryTest);

    ups.m_testResultSummary = 1;
    clock.SetWallMilliseconds(200000);
    Ask(0xB2, { 0x01 });
    EXPECT_EQ(ups.m_testResultSummary, 5);
    EXPECT_EQ(ups.m_testStartTime, 200000u);
    EXPECT_EQ(ups.m_testId, kUpsTestGeneralSystemsTest);

    ups.m_testResultSummary = 1;
    Ask(0xB2, { 0x02 });
    EXPECT_EQ(ups.m_testResultSummary, 1) << "a refused form starts nothing";
}

TEST_F(EmulationTest, OutletResultsAreReportedAsTheDeviceGaveThem)
{
    ups.canOutletCommand1 = true;
    const std::pair<int, std::uint8_t> cases[] = { { 0, 0x31 }, { 0x31, 0x31 }, { 0x37, 0x31 }, { 0x32, 0x32 },
        { 0x36, 0x36 }, { 0x33, 0x33 }, { -1, 0x32 }, { 0x1234, 0x32 } };
    for (const auto& [result, status] : cases) {
        ups.outletResult = result;
        const Bytes reply = Ask(0x97, { 0x01, 0x01, 0x00, 0x00 });
        ASSERT_EQ(reply.size(), 11u);
        EXPECT_EQ(reply[4], status) << "result " << result;
        EXPECT_TRUE(XCPSumIsZero(reply));
    }
}

TEST_F(EmulationTest, AFailingDriverActionLeavesTheScheduleAsItWas)
{
    struct Case {
        const char* name;
        const char* action;
        Bytes request;
    };
    const Case cases[] = {
        { "shutdown now", "ApplyShutdownSchedule", { 0x8B } },
        { "delayed shutdown", "ApplyShutdownSchedule", { 0x93, 0x05, 0x00 } },
        { "startup now", "ApplyStartupSchedule", { 0x89 } },
        { "delayed startup", "ApplyStartupSchedule", { 0x91, 0x05, 0x00 } },
        { "reboot", "ApplyRebootSchedule", { 0x8A, 0x05 } },
        { "battery test", "StartBatteryTest(1,15)", { 0xB1, 0x01, 0x0F } },
    };
    for (const Case& c : cases) {
        CTestUPS fresh;
        fresh.shutdownTypes = { 1 };
        fresh.canStartup = fresh.canReboot = fresh.canQuickTest = true;
        fresh.m_shutdownType = 2;
        fresh.m_shutdownDue = 777;
        fresh.m_startupDue = 888;
        fresh.failingAction = c.action;
        const Bytes frame = BuildRequestFrame(c.request[0], std::span(c.request).subspan(1));
        EXPECT_EQ(CodeOf([&] { fresh.ProcessXCPRequest(frame); }), static_cast<std::uint32_t>(EVENT_COMMAND_FAILED))
            << c.name;
        EXPECT_EQ(fresh.m_shutdownDue, 777) << c.name;
        EXPECT_EQ(fresh.m_startupDue, 888) << c.name;
        EXPECT_EQ(fresh.m_shutdownType, 2) << c.name;
        EXPECT_EQ(fresh.m_testResultSummary, 6) << c.name;
    }
}

// ---- Frames cut short and overlong ----------------------------------------------------------------------

TEST_F(EmulationTest, FramesCutShortReadNothingPastTheirEnd)
{
    ups.canQuickTest = ups.canOutletCommand1 = true;
    struct Case {
        const char* name;
        Bytes frame; // exactly as long as given: a read past it is caught by the sanitizer build
        Bytes expected;
    };
    const Case cases[] = {
        { "outlet command whose length claims data that is not there", { 0xAB, 0x05, 0x97, 0x01, 0x02 },
            { 0xAB, 0x09, 0x04, 0x81, 0x32, 0x97, 0x01, 0x02, 0xFB } },
        { "battery test cut after its type", { 0xAB, 0x03, 0xB1, 0x01 },
            { 0xAB, 0x09, 0x03, 0x81, 0x36, 0xB1, 0x01, 0xE0 } },
        { "request cut after its command", { 0xAB, 0x04, 0x99 }, { 0xAB, 0x09, 0x02, 0x81, 0x32, 0x99, 0xFE } },
        { "end of session without a checksum", { 0xAB, 0x02, 0xCE, 0x01 }, {} },
        { "length 0: no command byte", { 0xAB, 0x00, 0x55 }, {} },
        { "two bytes", { 0xAB, 0x01 }, {} },
        { "nothing", {}, {} },
    };
    for (const Case& c : cases) {
        const Bytes frame = c.frame; // a heap copy of exactly this size
        const Bytes reply = ups.ProcessXCPRequest(frame);
        EXPECT_EQ(reply, c.expected) << c.name;
    }
    EXPECT_TRUE(ups.actions.empty());
    EXPECT_EQ(ups.ProcessXCPRequest(Bytes { 0xAB, 0x01, 0x31 }).size(), 165u) << "no checksum is needed";
}

TEST_F(EmulationTest, TheEchoOfARequestOf255BytesIsCutTo254)
{
    Bytes frame = { 0xAB, 0xFF, 0x99 };
    for (int i = 0; i < 254; ++i)
        frame.push_back(static_cast<std::uint8_t>(i));
    frame.push_back(XCPChecksum(frame));
    const Bytes reply = ups.ProcessXCPRequest(frame);
    ASSERT_EQ(reply.size(), 260u);
    EXPECT_EQ(reply[2], 255) << "status and 254 echoed bytes";
    EXPECT_EQ(reply[4], 0x32);
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.end() - 1), Bytes(frame.begin() + 2, frame.begin() + 256));
    EXPECT_TRUE(XCPSumIsZero(reply));
}

TEST_F(EmulationTest, EveryRequestGetsWellFormedBlocksOrNothing)
{
    ups.canStartup = ups.canReboot = ups.canQuickTest = ups.canGeneralTest = ups.canCommand95 = true;
    ups.canOutletCommand1 = ups.canOutletCommand2 = ups.canOutletOnDelay = ups.canOutletOffDelay = true;
    ups.shutdownTypes = { 1 };
    ups.outlets.assign(50, OutletEntry { 3, 4, 5 });
    ups.m_outputLineCount = 6;
    ups.m_chargeRemaining = 0xFFFFFFFF;
    ups.RaiseAlarm(kUpsAlarmTempBad);
    const Bytes shapes[] = { {}, { 0xFF }, { 0x01 }, { 0x02, 0x00 }, { 0x02, 0x00, 0xFF }, { 0x03, 0x01, 0x10, 0x00 },
        Bytes(254, 0x5A) };
    for (int command = 0; command < 256; ++command) {
        for (const Bytes& data : shapes) {
            const Bytes frame = BuildRequestFrame(static_cast<std::uint8_t>(command), data);
            const Bytes reply = ups.ProcessXCPRequest(frame);
            if (reply.empty()) {
                EXPECT_EQ(command, 0xCE);
                EXPECT_EQ(data, Bytes { 0x01 });
                continue;
            }
            EXPECT_LE(reply.size(), 1172u);
            CByteCursor cursor(reply);
            SXCPBlock block;
            bool last = false;
            while (!last && !cursor.AtEnd()) {
                ASSERT_EQ(ParseReplyBlock(cursor, block), EXCPParse::Complete)
                    << "command " << command << " data " << data.size();
                last = block.IsLast();
            }
            EXPECT_TRUE(last && cursor.AtEnd()) << "command " << command << " data " << data.size();
        }
    }
}

// ---- Builders a driver overrides ------------------------------------------------------------------------

TEST_F(EmulationTest, RepliesOfOverridingBuildersAreFinished)
{
    struct CDriver : CTestUPS {
        Bytes status;
        Bytes BuildStatusReply(std::span<const std::uint8_t>) override { return status; }
        Bytes DoCommand95(std::span<const std::uint8_t>) override
        {
            return { 0xAB, 0x09, 0x02, 0x81, 0x31, 0x95, 0x00 }; // checksum left to the dispatch
        }
    } driver;
    const Bytes request = BuildRequestFrame(0x33);

    driver.status = { 0xAB, 0x03, 0x01, 0x01, 0x10, 0x00, 0xAB, 0x03, 0x01, 0x82, 0x20, 0x00, 0xEE, 0xEE };
    EXPECT_EQ(driver.ProcessXCPRequest(request),
        (Bytes { 0xAB, 0x03, 0x01, 0x01, 0x10, 0x40, // checksum written
            0xAB, 0x03, 0x01, 0x82, 0x20, 0xAF })) // and the bytes after the last block dropped
        << "two blocks";

    const Bytes notAvailable = { 0xAB, 0x09, 0x02, 0x81, 0x32, 0x33, 0x64 };
    const Bytes malformed[] = {
        { 0xAB, 0x03, 0x05, 0x81, 0x10 }, // runs past its end
        { 0xAB, 0x03, 0x01, 0x01, 0x10, 0x00 }, // no last block
        { 0xAC, 0x03, 0x01, 0x81, 0x10, 0x00 }, // not a block
        { 0xAB, 0x03 }, // a header cut short
    };
    for (const Bytes& bytes : malformed) {
        driver.status = bytes;
        EXPECT_EQ(driver.ProcessXCPRequest(request), notAvailable);
    }

    EXPECT_EQ(driver.ProcessXCPRequest(BuildRequestFrame(0x95, Bytes { 0x06 })),
        (Bytes { 0xAB, 0x09, 0x02, 0x81, 0x31, 0x95, 0x03 }));
}

// ---- Read back by the XCP driver ------------------------------------------------------------------------

TEST_F(EmulationTest, TheXcpDriverIdentifiesTheEmulatedUpsAndReadsItsMeters)
{
    LoadThreeLineValues();
    SIdentification id;
    CDataTypeMap meters;
    CDataTypeMap statistics;
    CAlarmMap alarms;
    ParseIdentificationBlock(JoinedData(Ask(0x31)), id, meters, alarms, statistics);
    EXPECT_EQ(id.modelText, "  VERDAN   PVX  ");
    EXPECT_EQ(id.outputVA, 1500u);
    EXPECT_EQ(id.lineCount, 3u);
    std::string manufacturer;
    std::string model;
    ASSERT_TRUE(SplitModelText(id.modelText, manufacturer, model));
    EXPECT_EQ(manufacturer, "VERDAN");
    EXPECT_EQ(model, "PVX");

    meters.SetValues(JoinedData(Ask(0x34)));
    // The meters the driver reads, and what each must hold.
    const std::pair<std::size_t, double> expected[] = {
        { 18, 5.5 }, { 19, 6.5 }, { 20, 7.5 }, // input current per line, A
        { 21, 1100 }, { 22, 1200 }, { 23, 600 }, // output power, input true power, load VA
        { 27, 50 }, { 28, 60 }, // frequencies, Hz
        { 32, -12 }, { 33, 545 }, { 34, 95 }, { 35, 2520 }, // battery current, voltage, charge, seconds
        { 53, 228 }, { 54, 227 }, { 55, 226 }, // bypass voltage per line
        { 56, 230 }, { 57, 231 }, { 58, 232 }, // input voltage per line
        { 62, 25 }, // ambient temperature
        { 65, 87 }, { 66, 88 }, { 67, 89 }, // output current per line, tenths
        { 71, 1500 }, { 77, 30 }, // nominal VA, battery temperature
        { 78, 230 }, { 79, 229 }, { 80, 228 }, // output voltage per line
    };
    for (const auto& [meter, value] : expected)
        EXPECT_EQ(meters.GetValue(meter, -999.0), value) << "meter " << meter;

    // With the charge unknown its meter is absent and the rest still line up.
    ups.m_chargeRemaining = 0xFFFFFFFF;
    ParseIdentificationBlock(JoinedData(Ask(0x31)), id, meters, alarms, statistics);
    meters.SetValues(JoinedData(Ask(0x34)));
    EXPECT_EQ(meters.GetValue(34, -999.0), -999.0);
    EXPECT_EQ(meters.GetValue(35, 0.0), 2520);
    EXPECT_EQ(meters.GetValue(80, 0.0), 228);
}

// ---- Version texts ---------------------------------------------------------------------------------------

TEST(XCPEmulationVersion, ReadAsHexadecimalAndAsDecimalTimesTen)
{
    struct Case {
        const char* text;
        bool hexNonzero;
        std::uint8_t hexLow;
        std::uint16_t tenths;
    };
    const Case cases[] = {
        { "0.1a", false, 0x00, 1 },
        { "1.2 3.4", true, 0x01, 12 },
        { "2.3", true, 0x02, 23 }, // exactly 23, not 22.999...
        { "12.34", true, 0x12, 123 },
        { "  7", true, 0x07, 70 },
        { "A1", true, 0xA1, 0 },
        { "0x1A2", true, 0xA2, 0 },
        { "100", true, 0x00, 1000 }, // nonzero although its low byte is 0
        { "0x", false, 0x00, 0 },
        { ".5", false, 0x00, 5 },
        { "", false, 0x00, 0 },
        { "x9", false, 0x00, 0 },
        { "-1.5", false, 0x00, 0 },
        { "99999", true, 0x99, 0xFFFF }, // held to 16 bits
        { "123456789012345678901234567890", true, 0x90, 0xFFFF },
    };
    for (const Case& c : cases) {
        std::uint8_t low = 0xEE;
        EXPECT_EQ(ReadVersionAsHex(c.text, low), c.hexNonzero) << c.text;
        EXPECT_EQ(low, c.hexLow) << c.text;
        EXPECT_EQ(ReadVersionTimesTen(c.text), c.tenths) << c.text;
    }
}

} // namespace
} // namespace pvx::test
