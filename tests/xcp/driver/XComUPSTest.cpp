// Tests of CXComUPS against a scripted serial peer: identification, the
// polling schedule, meter mapping, alarms, controls, writes and the relay.
#include "events/PVXException.h"
#include "relay/NetXCPAgent.h"
#include "tests/xcp/driver/XComTestSupport.h"
#include "ups/WellKnown.h"
#include "xcp/driver/Settings.h"
#include "xcp/driver/XComBlocks.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cmath>
#include <functional>
#include <map>
#include <optional>

using namespace pvx;
using namespace pvx::test;

namespace {

constexpr std::uint32_t kNoError = 0;

// Every command a full-featured UPS lists.
const Bytes kAllCommands = { 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x38, 0x3B, 0x3C, 0x3F, 0x40, 0x41, 0x42, 0x88, 0x89,
    0x8A, 0x8B, 0x90, 0x91, 0x93, 0x95, 0x97, 0x98, 0xA0, 0xB1, 0xB2 };

// The event code a call throws, or kNoError.
std::uint32_t CodeOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CPVXException& event) {
        return event.GetCode();
    }
    return kNoError;
}

Bytes StandardMeterFormats()
{
    Bytes formats(80, 0x00);
    for (std::size_t m : { 18, 19, 21, 22, 23, 71 })
        formats[m] = 0xF0;
    formats[27] = formats[28] = 0xF3;
    for (std::size_t m : { 32, 33, 34, 53, 54, 56, 57, 62, 65, 66, 77 })
        formats[m] = 0x61;
    formats[78] = formats[79] = 0x01;
    formats[35] = 0xE2;
    formats[72] = 0xE0;
    formats[73] = 0xE1;
    return formats;
}

class XComUPSTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_bUseInternalXCP = false;
        clock.Advance(100000); // due times are readings of this clock; -1 means none
    }

    // Gives the driver a command list as identification would.
    void LoadCommandList(const Bytes& commands)
    {
        port.AnswerBlock(0x40, CommandListBlock(commands));
        ups.GetLink().ReadCommandList();
        port.ClearLog();
    }

    // A one-phase UPS that answers every block of identification and polling.
    void ScriptWholeUps()
    {
        port.AnswerBlock(0x42, Bytes { 0x00, 0x03, 0xB0, 0x04, 0x80, 0x25, 0x00, 0x4B }); // 1200, 9600, 19200
        port.AnswerStatus(0x98, 0x31);
        SIdentificationLayout layout;
        layout.meterFormats = StandardMeterFormats();
        layout.alarmBitmap = AlarmBitmap({ 7, 56, 200 });
        layout.statisticsFormats = Bytes(36, 0x00);
        layout.statisticsFormats[35] = 0xE2;
        port.AnswerBlock(0xA0, IdentificationBlock(layout));
        port.AnswerBlock(0x40, CommandListBlock(kAllCommands));
        Bytes block6(12, 0);
        block6[8] = 230;
        block6[10] = 50;
        port.AnswerBlock(0x36, block6);
        Bytes block0C(27, 0);
        block0C[0] = 230;
        block0C[2] = 50;
        block0C[16] = 2;
        block0C[17] = 1;
        block0C[18] = 184;
        block0C[20] = 0x08;
        block0C[21] = 0x01;
        block0C[25] = 5;
        block0C[26] = 40;
        port.AnswerBlock(0x3C, block0C);
        port.AnswerBlock(0x34, MeterBlock(StandardMeterFormats(), { { 56, FloatWord(229.0f) } }));
        port.AnswerBlock(0x38, MeterBlock(layout.statisticsFormats, { { 35, 4 } }));
        port.AnswerBlock(0x35, Bytes { 0, 0, 0 });
        port.AnswerBlock(0x33, Bytes { 0x50 });
        port.AnswerBlock(0x3B, Bytes(21, 0));
        port.AnswerBlock(0x32, Bytes { 0x05, 0x80, 0x07, 0x04, 0x25, 0x0D, 0x05, 0x09, 0x00 });
        port.AnswerBlock(0x3F, Bytes { 0, 0, 2 });
    }

    CFakeClock clock { 1000000, 1700000000 };
    CScopedClock scoped { clock };
    CScriptedPort port { clock };
    CINIFile ini { "/nonexistent/pvx.ini" };
    CTestXComUPS ups { &port, &ini };
};

// ---- Identification -------------------------------------------------------------------------

TEST_F(XComUPSTest, IdentifySendsTheDesignedSequence)
{
    ScriptWholeUps();
    testing::internal::CaptureStdout();
    ups.Identify();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "UPS found is [Brand  Unit 5 ]\n");

    EXPECT_EQ(port.Commands(), (Bytes { 0x42, 0x98, 0xA0, 0x40, 0x36, 0x3C, 0x34, 0x38, 0x35, 0x33, 0x3B, 0x32 }));
    const auto& writes = port.Writes();
    ASSERT_GE(writes.size(), 7u);
    EXPECT_EQ(writes[0], Bytes { 0x1B }) << "escape before the baud list";
    EXPECT_EQ(writes[1], (Bytes { 0xAB, 0x02, 0x42, 0x00, 0x11 }));
    // 0x98 is restricted: the authorization frame goes first
    EXPECT_EQ(writes[2], (Bytes { 0xAB, 0x04, 0xCF, 0x3A, 0x91, 0x4E, 0x69 }));
    // switch to 19200 (0x4B00, little-endian)
    EXPECT_EQ(writes[3], (Bytes { 0xAB, 0x05, 0x98, 0x00, 0x01, 0x00, 0x4B, 0x6C }));
    EXPECT_EQ(writes[4], Bytes { 0x1B }) << "escape before the wake-up request";
    // 0xA0 counts as restricted too while the UPS has not declined authorization
    EXPECT_EQ(writes[5], (Bytes { 0xAB, 0x04, 0xCF, 0x3A, 0x91, 0x4E, 0x69 }));
    EXPECT_EQ(writes[6], (Bytes { 0xAB, 0x01, 0xA0, 0xB4 }));
    EXPECT_EQ(port.GetSpeed(), 19200);
    // The first meter read follows block 0x0C at once; the polls after it
    // are 200 ms apart (the scripted UPS answers in no time).
    auto sentAt = [&](std::uint8_t command) {
        for (std::size_t i = 0; i < writes.size(); ++i)
            if (writes[i].size() > 2 && writes[i][0] == 0xAB && writes[i][2] == command)
                return port.WriteTimes()[i];
        return std::uint64_t { 0 };
    };
    EXPECT_EQ(sentAt(0x34) - sentAt(0x3C), 0u);
    EXPECT_EQ(sentAt(0x38) - sentAt(0x34), 200u);

    EXPECT_EQ(ups.m_manufacturer, "Brand");
    EXPECT_EQ(ups.m_model, "Unit 5");
    EXPECT_EQ(ups.m_upsSoftwareVersion, "1.20 2.5");
    EXPECT_EQ(ups.m_nominalOutputVA, 1500u);
    EXPECT_EQ(ups.m_inputLineCount, 1u);
    EXPECT_EQ(ups.m_outputLineCount, 1u);
    EXPECT_EQ(ups.m_bypassLineCount, 1u);
    EXPECT_EQ(ups.m_nominalOutputVoltage, 230u);
    EXPECT_EQ(ups.m_nominalOutputFrequency, 50u);
    EXPECT_EQ(ups.m_nominalInputVoltage, 230u);
    EXPECT_EQ(ups.m_nominalInputFrequency, 500u);
    EXPECT_EQ(ups.m_lowBatteryTime, 2u);
    EXPECT_EQ(ups.m_audibleStatus, 2);
    EXPECT_EQ(ups.m_lowTransferVoltage, 184u);
    EXPECT_EQ(ups.m_highTransferVoltage, 264u);
    EXPECT_EQ(ups.m_lowTemperatureLimit, 5);
    EXPECT_EQ(ups.m_highTemperatureLimit, 40);
    // the first polling cycle ran
    EXPECT_EQ(ups.m_inputLines[0].voltage, 229u);
    EXPECT_EQ(ups.m_inputLineBads, 4u);
    EXPECT_EQ(ups.m_outputSource, 3);
    ASSERT_EQ(ups.m_eventRecords.size(), 1u);
    EXPECT_EQ(ups.m_eventRecords[0].text, "07/04/2025:13:05:09");
    EXPECT_EQ(ups.GetUpdatePhase(), 0u);
}

TEST_F(XComUPSTest, IdentifyFallsBackToBlockOneWhenTheWakeUpIsRefused)
{
    ScriptWholeUps();
    port.AnswerBlock(0x42, Bytes { 0x00, 0x01, 0xB0, 0x04 }); // 1200 only: no switch
    const Bytes identification = [&] {
        SIdentificationLayout layout;
        layout.model = "Other Model";
        layout.meterFormats = StandardMeterFormats();
        return IdentificationBlock(layout);
    }();
    port.AnswerStatus(0xA0, 0x32);
    port.AnswerBlock(0x31, identification);
    testing::internal::CaptureStdout();
    ups.Identify();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "UPS found is [Other Model]\n");
    const Bytes commands = port.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(Bytes(commands.begin(), commands.begin() + 3), (Bytes { 0x42, 0xA0, 0x31 }));
    EXPECT_EQ(port.GetSpeed(), 1200);
    EXPECT_EQ(ups.m_manufacturer, "Other");
}

TEST_F(XComUPSTest, IdentifyWithoutBaudListReplyTimesOutAt1200Baud)
{
    port.SetBaudRate(9600);
    EXPECT_EQ(CodeOf([&] { ups.Identify(); }), EVENT_TIMEOUT);
    EXPECT_EQ(port.GetSpeed(), 1200);
    EXPECT_EQ(port.Commands(), Bytes { 0x42 });
}

TEST_F(XComUPSTest, IdentifyNeverSwitchesToARateThePortCannotSet)
{
    ScriptWholeUps();
    port.AnswerBlock(0x42, Bytes { 0x00, 0x02, 0x50, 0xC3, 0x80, 0x25 }); // 50000 (unknown) and 9600
    testing::internal::CaptureStdout();
    ups.Identify();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(port.GetSpeed(), 9600);
    const auto frames = port.Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[1], (Bytes { 0xAB, 0x05, 0x98, 0x00, 0x01, 0x80, 0x25, 0x12 }));
}

TEST_F(XComUPSTest, StartMarksTheLinkLostWhenIdentificationFails)
{
    ups.Start();
    EXPECT_FALSE(ups.IsConnected());
    ScriptWholeUps();
    testing::internal::CaptureStdout();
    ups.Start();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ups.IsConnected());
    EXPECT_EQ(ups.GetUPSType(), 2);
}

// ---- Polling schedule --------------------------------------------------------------------------

TEST_F(XComUPSTest, SevenPassesPollEveryBlockAndReturnToPhaseZero)
{
    ScriptWholeUps();
    LoadCommandList(kAllCommands);
    for (int pass = 0; pass < 7; ++pass)
        ups.ReadValues();
    EXPECT_EQ(ups.GetUpdatePhase(), 0u);
    EXPECT_EQ(port.Commands(), (Bytes { 0x34, 0x38, 0x35, 0x33, 0x3B, 0x32, 0x34 }));
}

TEST_F(XComUPSTest, AFailingPhaseRunsAgainOnTheNextPass)
{
    ScriptWholeUps();
    LoadCommandList(kAllCommands);
    for (int pass = 0; pass < 3; ++pass)
        ups.ReadValues();
    ASSERT_EQ(ups.GetUpdatePhase(), 3u);
    ups.m_outputSource = 3;
    port.Silence(0x33);
    EXPECT_EQ(CodeOf([&] { ups.ReadValues(); }), EVENT_TIMEOUT);
    EXPECT_EQ(ups.GetUpdatePhase(), 3u);
    EXPECT_EQ(ups.m_outputSource, 1) << "source unknown while the status cannot be read";

    port.AnswerBlock(0x33, Bytes { 0xF0 });
    ups.ReadValues();
    EXPECT_EQ(ups.GetUpdatePhase(), 4u);
    EXPECT_EQ(ups.m_outputSource, 5);

    ups.m_batteryChargeState = 2;
    port.AnswerBlock(0x3B, Bytes { 0xAB }); // a block that cannot be a reply...
    port.Answer(0x3B, Bytes { 0xAB, 0x0B, 0x01, 0x81, 0x00, 0x00 }); // ...and a bad checksum
    EXPECT_EQ(CodeOf([&] { ups.ReadValues(); }), EVENT_BAD_REPLY);
    EXPECT_EQ(ups.GetUpdatePhase(), 4u);
    EXPECT_EQ(ups.m_batteryChargeState, 5);
}

TEST_F(XComUPSTest, PhaseFourReadsTheTestResultWhileAnotherTestRuns)
{
    ScriptWholeUps();
    LoadCommandList(kAllCommands);
    for (int pass = 0; pass < 4; ++pass)
        ups.ReadValues();
    port.ClearLog();
    ups.m_testResultSummary = 5;
    ups.ReadValues(); // no battery test of ours: block 0x0F
    EXPECT_EQ(port.Commands(), Bytes { 0x3F });
    EXPECT_EQ(ups.m_testResultSummary, 1) << "byte 2 = 2: donePass";
}

TEST_F(XComUPSTest, MeterReadWithoutTheMeterCommandIsABadReply)
{
    LoadCommandList(Bytes { 0x31, 0x33 });
    EXPECT_EQ(CodeOf([&] { ups.ReadMeters(); }), EVENT_BAD_REPLY);
    EXPECT_TRUE(port.Writes().empty());
}

TEST_F(XComUPSTest, OptionalBlocksAreSkippedWhenNotListed)
{
    LoadCommandList(Bytes { 0x34 });
    ups.m_outputSource = 3;
    ups.m_batteryChargeState = 2;
    ups.m_inputLineBads = 7;
    ups.ReadStatistics();
    ups.ReadAlarms();
    ups.ReadStatus();
    ups.ReadBattery();
    ups.ReadTestResult();
    ups.ReadEvents();
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(ups.m_outputSource, 3);
    EXPECT_EQ(ups.m_batteryChargeState, 2);
    EXPECT_EQ(ups.m_inputLineBads, 7u);
}

// ---- Meter mapping ----------------------------------------------------------------------------------

TEST_F(XComUPSTest, MetersFillEveryLineOfEveryGroup)
{
    SIdentificationLayout layout;
    layout.lines = 2;
    layout.meterFormats = StandardMeterFormats();
    port.AnswerBlock(0xA0, IdentificationBlock(layout));
    port.AnswerBlock(0x42, Bytes { 0x00, 0x00 });
    testing::internal::CaptureStdout();
    EXPECT_EQ(CodeOf([&] { ups.Identify(); }), EVENT_TIMEOUT); // stops at the command list
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(ups.m_inputLineCount, 2u);
    LoadCommandList(kAllCommands);

    const std::map<std::size_t, std::uint32_t> raw = {
        { 18, 21 }, // input current, line 1
        { 19, 22 }, // input current, line 2
        { 21, 420 }, // output power
        { 22, 460 }, // input true power
        { 23, 450 }, // output VA
        { 27, 400 }, // output frequency 50.0 (fixed point, 3 bits)
        { 28, 399 }, // input frequency 49.875: whole hertz, then x 10
        { 32, FloatWord(-1.5f) }, // battery current
        { 33, FloatWord(54.2f) }, // battery voltage
        { 34, FloatWord(99.9f) }, // charge remaining
        { 35, 1830 }, // runtime in seconds
        { 53, FloatWord(229.5f) }, // bypass voltage, line 1
        { 54, FloatWord(228.0f) }, // bypass voltage, line 2
        { 56, FloatWord(230.0f) }, // input voltage, line 1
        { 57, FloatWord(231.0f) }, // input voltage, line 2
        { 62, FloatWord(-3.0f) }, // ambient temperature
        { 65, FloatWord(20.0f) }, // output current, line 1
        { 66, FloatWord(21.0f) }, // output current, line 2
        { 71, 2000 }, // rating replaces the identification's
        { 72, 0x07E900B9 }, // day 185 of 2025
        { 73, 0x0D050900 }, // 13:05:09
        { 77, FloatWord(std::nanf("")) }, // battery temperature NaN
        { 78, FloatWord(230.0f) }, // output voltage, line 1
        { 79, FloatWord(1e30f) }, // output voltage, line 2, absurd
    };
    port.AnswerBlock(0x34, MeterBlock(StandardMeterFormats(), raw));
    ups.ReadMeters();

    EXPECT_EQ(ups.m_nominalOutputVA, 2000u);
    for (std::size_t line = 0; line < 2; ++line) {
        EXPECT_EQ(ups.m_inputLines[line].frequency, 490u);
        EXPECT_EQ(ups.m_inputLines[line].truePower, 460u);
        EXPECT_EQ(ups.m_outputLines[line].power, 420u);
        EXPECT_EQ(ups.m_outputLines[line].percentLoad, 22u) << "450 x 100 / 2000";
    }
    EXPECT_EQ(ups.m_inputLines[0].voltage, 230u);
    EXPECT_EQ(ups.m_inputLines[1].voltage, 231u);
    EXPECT_EQ(ups.m_inputLines[0].current, 21u);
    EXPECT_EQ(ups.m_inputLines[1].current, 22u);
    EXPECT_EQ(ups.m_outputLines[0].voltage, 230u);
    EXPECT_EQ(ups.m_outputLines[1].voltage, 0xFFFFFFFFu);
    EXPECT_EQ(ups.m_outputLines[0].current, 20u);
    EXPECT_EQ(ups.m_outputLines[1].current, 21u);
    EXPECT_EQ(ups.m_bypassLines[0].voltage, 229u);
    EXPECT_EQ(ups.m_bypassLines[1].voltage, 228u);
    EXPECT_EQ(ups.m_inputLines[2].voltage, 0u) << "no third line";
    EXPECT_EQ(ups.m_nominalOutputPower, 420u);
    EXPECT_EQ(ups.m_batteryCurrent, -1);
    EXPECT_EQ(ups.m_batteryVoltage, 54u);
    EXPECT_EQ(ups.m_chargeRemaining, 99u);
    EXPECT_EQ(ups.m_minutesRemaining, 30u);
    EXPECT_EQ(ups.m_ambientTemperature, -3);
    EXPECT_EQ(ups.m_batteryTemperature, 0);
    EXPECT_EQ(ups.m_outputFrequency, 500u);
    EXPECT_EQ(ups.m_upsDateTime, "07/04/2025:13:05:09");
}

TEST_F(XComUPSTest, PercentLoadWithoutRatingIsZero)
{
    LoadCommandList(kAllCommands);
    ups.m_nominalOutputVA = 0;
    Bytes formats(24, 0);
    formats[23] = 0xF0;
    port.AnswerBlock(0x34, MeterBlock(formats, { { 23, 450 } }));
    // The identification left no meter formats: every meter reads 0.
    ups.ReadMeters();
    EXPECT_EQ(ups.m_outputLines[0].percentLoad, 0u);
}

// ---- Alarms, status, battery, events ---------------------------------------------------------------

TEST_F(XComUPSTest, AlarmNumbersRaiseAndClearWellKnownAlarms)
{
    SIdentificationLayout layout;
    layout.alarmBitmap = AlarmBitmap({ 2, 7, 200 });
    port.AnswerBlock(0xA0, IdentificationBlock(layout));
    port.AnswerBlock(0x42, Bytes {});
    testing::internal::CaptureStdout();
    CodeOf([&] { ups.Identify(); });
    testing::internal::GetCapturedStdout();
    LoadCommandList(kAllCommands);

    port.AnswerBlock(0x35, Bytes { 0, 1, 1 }); // 7 and 200 active
    ups.ReadAlarms();
    std::vector<std::uint32_t> present;
    for (const auto& alarm : ups.GetAlarms())
        present.push_back(alarm.descriptor[6]);
    EXPECT_EQ(present, (std::vector<std::uint32_t> { 2, 6, 5 })) << "onBattery, inputBad, tempBad";

    port.AnswerBlock(0x35, Bytes { 1, 0, 0 }); // only 2: not listed, a general fault
    ups.ReadAlarms();
    ASSERT_EQ(ups.GetAlarms().size(), 1u);
    EXPECT_EQ(ups.GetAlarms()[0].descriptor, kUpsAlarmGeneralFault);

    port.Silence(0x35);
    EXPECT_EQ(CodeOf([&] { ups.ReadAlarms(); }), EVENT_TIMEOUT);
}

// A command-status block, or a UPS still busy after the last try, is not the
// block asked for: no value, alarm or test summary may change, and the pass
// is no failure.
TEST_F(XComUPSTest, StatusAnswersToPolledBlocksLeaveTheModelAsItWas)
{
    ScriptWholeUps();
    const std::map<std::uint8_t, Bytes> good = {
        { 0x34,
            MeterBlock(StandardMeterFormats(),
                { { 56, FloatWord(229.0f) }, { 33, FloatWord(27.0f) }, { 34, FloatWord(95.0f) },
                    { 78, FloatWord(230.0f) }, { 72, 0x07E90001 } }) },
        { 0x35, Bytes { 0, 1, 0 } }, // alarm 56: low battery
        { 0x33, Bytes { 0x50 } },
        { 0x3B,
            [] {
                Bytes b(24, 0);
                b[0] = 1;
                b[19] = 1;
                b[20] = 2;
                return b;
            }() },
        { 0x3F, Bytes { 0, 0, 1 } }, // still in progress
    };
    for (const auto& [command, block] : good)
        port.AnswerBlock(command, block);
    testing::internal::CaptureStdout();
    ups.Identify();
    testing::internal::GetCapturedStdout();
    ups.m_testResultSummary = 5;
    ups.ReadBattery();
    while (ups.TakeNextTrap()) { }
    auto model = [&] {
        std::vector<std::int64_t> values
            = { ups.m_inputLines[0].voltage, ups.m_batteryVoltage, ups.m_chargeRemaining, ups.m_outputLines[0].voltage,
                  ups.m_outputSource, ups.m_vendorTestResult, ups.m_batteryChargeState, ups.m_testResultSummary };
        for (const auto& alarm : ups.GetAlarms())
            values.push_back(alarm.descriptor[6]);
        return values;
    };
    const auto before = model();
    const std::string timeBefore = ups.m_upsDateTime;
    ASSERT_EQ(before, (std::vector<std::int64_t> { 229, 27, 95, 230, 3, 4, 2, 5, 3 }));
    ASSERT_FALSE(timeBefore.empty());

    const std::map<std::uint8_t, std::function<void()>> reads = {
        { 0x34, [&] { ups.ReadMeters(); } },
        { 0x35, [&] { ups.ReadAlarms(); } },
        { 0x33, [&] { ups.ReadStatus(); } },
        { 0x3B, [&] { ups.ReadBattery(); } },
        { 0x3F, [&] { ups.ReadTestResult(); } },
    };
    for (std::uint8_t status : { kXCPBusy, kXCPNotAvailable }) {
        for (const auto& [command, read] : reads) {
            port.AnswerStatus(command, status);
            EXPECT_EQ(CodeOf(read), kNoError) << std::hex << int(command) << " answered " << int(status);
            EXPECT_EQ(model(), before) << std::hex << int(command) << " answered " << int(status);
            EXPECT_EQ(ups.m_upsDateTime, timeBefore);
            EXPECT_FALSE(ups.HasPendingTraps()) << std::hex << int(command) << " answered " << int(status);
            port.AnswerBlock(command, good.at(command));
        }
    }
}

struct SBatteryCase {
    const char* name;
    Bytes block;
    int summaryBefore;
    int summaryAfter;
    std::uint32_t vendorResult;
    int chargeState;
};

TEST_F(XComUPSTest, BatteryBlockSetsTestResultsAndChargeState)
{
    LoadCommandList(kAllCommands);
    auto block = [](std::uint8_t result, std::uint8_t count, std::uint8_t flag, std::uint8_t state) {
        Bytes b(24, 0);
        b[0] = result;
        b[18] = count;
        b[19 + count] = flag;
        b[20 + count] = state;
        return b;
    };
    const SBatteryCase cases[] = {
        { "test passed while in progress", block(2, 0, 1, 1), 5, 1, 2, 1 },
        { "same byte without a test leaves the summary", block(2, 0, 1, 1), 6, 6, 2, 1 },
        { "test failed", block(4, 1, 1, 3), 5, 3, 3, 3 },
        { "no charge state", block(0, 0, 0, 3), 5, 6, 1, 5 },
        { "block of one byte", Bytes { 1 }, 5, 5, 4, 5 },
    };
    for (const auto& c : cases) {
        port.AnswerBlock(0x3B, c.block);
        ups.m_testResultSummary = c.summaryBefore;
        ups.ReadBattery();
        EXPECT_EQ(ups.m_testResultSummary, c.summaryAfter) << c.name;
        EXPECT_EQ(ups.m_vendorTestResult, c.vendorResult) << c.name;
        EXPECT_EQ(ups.m_batteryChargeState, c.chargeState) << c.name;
    }
}

TEST_F(XComUPSTest, StatusAndTestResultFromShortBlocks)
{
    LoadCommandList(kAllCommands);
    port.AnswerBlock(0x33, Bytes {});
    ups.ReadStatus();
    EXPECT_EQ(ups.m_outputSource, 1);
    EXPECT_EQ(port.Frames().back(), (Bytes { 0xAB, 0x01, 0x33, 0x21 })) << "sent as a command without data";
    port.AnswerBlock(0x33, Bytes { 0x62 });
    ups.ReadStatus();
    EXPECT_EQ(ups.m_outputSource, 6);
    port.AnswerBlock(0x3F, Bytes { 0x00, 0x00 });
    ups.m_testResultSummary = 5;
    ups.ReadTestResult();
    EXPECT_EQ(ups.m_testResultSummary, 6);
}

TEST_F(XComUPSTest, EventsKeptWhenTheEventBlockIsRefused)
{
    LoadCommandList(kAllCommands);
    port.AnswerBlock(0x32,
        Bytes { 0x05, 0x80, 0x07, 0x04, 0x99, 0x0D, 0x05, 0x09, 0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00 });
    ups.ReadEvents();
    ASSERT_EQ(ups.m_eventRecords.size(), 2u);
    EXPECT_EQ(ups.m_eventRecords[0].text, "07/04/1999:13:05:09");
    port.AnswerStatus(0x32, 0x32);
    ups.ReadEvents();
    EXPECT_EQ(ups.m_eventRecords.size(), 2u);
    port.AnswerBlock(0x32, Bytes {});
    ups.ReadEvents();
    EXPECT_TRUE(ups.m_eventRecords.empty());
}

// ---- Capabilities and outlets -------------------------------------------------------------------------

TEST_F(XComUPSTest, CapabilitiesFollowTheCommandList)
{
    LoadCommandList(Bytes { 0x93, 0x89 });
    EXPECT_FALSE(ups.CanShutdown(1)) << "needs 0x8B too";
    LoadCommandList(Bytes { 0x93, 0x8B, 0x88, 0xB1, 0x97 });
    EXPECT_TRUE(ups.CanShutdown(1));
    EXPECT_FALSE(ups.CanShutdown(2));
    EXPECT_TRUE(ups.CanRunTimedCommand());
    EXPECT_FALSE(ups.CanStartup());
    EXPECT_FALSE(ups.CanReboot());
    EXPECT_TRUE(ups.CanQuickBatteryTest());
    EXPECT_FALSE(ups.CanGeneralSystemsTest());
    EXPECT_FALSE(ups.CanCommand95());
    EXPECT_TRUE(ups.CanOutletCommand1());
    EXPECT_TRUE(ups.CanOutletOffDelay());
}

TEST_F(XComUPSTest, OutletsAndOutletActions)
{
    std::vector<OutletEntry> outlets(3);
    LoadCommandList(Bytes { 0x97 });
    ups.GetOutlets(outlets);
    EXPECT_TRUE(outlets.empty()) << "not listed: emptied";

    LoadCommandList(Bytes { 0x41, 0x97 });
    port.AnswerBlock(
        0x41, Bytes { 0x02, 0x06, 0x00, 0x01, 0x10, 0x00, 0x20, 0x00, 0x01, 0x02, 0x30, 0x00, 0x40, 0x00 });
    ups.GetOutlets(outlets);
    ASSERT_EQ(outlets.size(), 2u);
    EXPECT_EQ(outlets[1].number, 2);
    EXPECT_EQ(outlets[1].value2, 0x40);

    port.AnswerStatus(0x97, 0x36);
    EXPECT_EQ(ups.OutletOffDelay(0x102, 0x1234), 0x36) << "the UPS's status, unexamined";
    // outlet low byte, sub-command 3, value low, value high
    EXPECT_EQ(port.Frames().back(), (Bytes { 0xAB, 0x05, 0x97, 0x02, 0x03, 0x34, 0x12, 0x6E }));
}

// ---- Schedules and tests -------------------------------------------------------------------------------

enum class ESchedule { Shutdown, Startup, Reboot, Timed };

struct SScheduleCase {
    const char* name;
    ESchedule schedule;
    std::optional<std::int64_t> dueInMs; // nullopt: no due time
    Bytes frame; // empty: nothing sent
    std::uint32_t code;
};

TEST_F(XComUPSTest, SchedulesSendImmediateDelayedOrCancelCommands)
{
    const SScheduleCase cases[] = {
        { "shutdown in 20 s is immediate", ESchedule::Shutdown, 20000, { 0xAB, 0x01, 0x8B, 0xC9 }, kNoError },
        { "shutdown at 29.999 s is immediate", ESchedule::Shutdown, 29999, { 0xAB, 0x01, 0x8B, 0xC9 }, kNoError },
        { "shutdown overdue is immediate", ESchedule::Shutdown, -5000, { 0xAB, 0x01, 0x8B, 0xC9 }, kNoError },
        { "shutdown at 30 s is one minute", ESchedule::Shutdown, 30000, { 0xAB, 0x03, 0x93, 0x01, 0x00, 0xBE },
            kNoError },
        { "shutdown in 90 s", ESchedule::Shutdown, 90000, { 0xAB, 0x03, 0x93, 0x01, 0x00, 0xBE }, kNoError },
        { "shutdown in 300 minutes", ESchedule::Shutdown, 18000000, { 0xAB, 0x03, 0x93, 0x2C, 0x01, 0x92 }, kNoError },
        { "shutdown cancelled", ESchedule::Shutdown, std::nullopt, { 0xAB, 0x03, 0x93, 0x00, 0x00, 0xBF }, kNoError },
        { "shutdown beyond 65535 minutes", ESchedule::Shutdown, 65536LL * 60000, {}, EVENT_BAD_VALUE },
        { "startup in 20 s is immediate", ESchedule::Startup, 20000, { 0xAB, 0x01, 0x89, 0xCB }, kNoError },
        { "startup in 90 s", ESchedule::Startup, 90000, { 0xAB, 0x03, 0x91, 0x01, 0x00, 0xC0 }, kNoError },
        { "startup just passed is immediate", ESchedule::Startup, -1, { 0xAB, 0x01, 0x89, 0xCB }, kNoError },
        { "startup cancelled", ESchedule::Startup, std::nullopt, { 0xAB, 0x03, 0x91, 0x00, 0x00, 0xC1 }, kNoError },
        { "reboot in 120 s", ESchedule::Reboot, 120000, { 0xAB, 0x03, 0x8A, 0x78, 0x00, 0x50 }, kNoError },
        { "reboot a moment after it was set", ESchedule::Reboot, 119997, { 0xAB, 0x03, 0x8A, 0x78, 0x00, 0x50 },
            kNoError },
        { "reboot overdue", ESchedule::Reboot, -3000, { 0xAB, 0x03, 0x8A, 0x00, 0x00, 0xC8 }, kNoError },
        { "reboot without a due time", ESchedule::Reboot, std::nullopt, {}, EVENT_COMMAND_FAILED },
        { "reboot beyond 65535 s", ESchedule::Reboot, 65536000, {}, EVENT_BAD_VALUE },
        { "timed command due", ESchedule::Timed, -1, { 0xAB, 0x01, 0x88, 0xCC }, kNoError },
        { "timed command not yet due", ESchedule::Timed, 1000, {}, kNoError },
        { "timed command due now", ESchedule::Timed, 0, {}, kNoError },
        { "no timed command", ESchedule::Timed, std::nullopt, {}, kNoError },
    };
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0xCF, 0x32); // no authorization needed
    ups.GetLink().SendRequest(0xCF, 750);
    for (std::uint8_t command : { 0x88, 0x89, 0x8A, 0x8B, 0x91, 0x93 })
        port.AnswerStatus(command, 0x31);
    for (const auto& c : cases) {
        port.ClearLog();
        const std::int64_t due = c.dueInMs ? CAbstractUPS::Now() + *c.dueInMs : CAbstractUPS::kNoDueTime;
        std::function<void()> apply;
        switch (c.schedule) {
        case ESchedule::Shutdown:
            ups.m_shutdownDue = due;
            apply = [&] { ups.ApplyShutdownSchedule(); };
            break;
        case ESchedule::Startup:
            ups.m_startupDue = due;
            apply = [&] { ups.ApplyStartupSchedule(); };
            break;
        case ESchedule::Reboot:
            ups.m_startupDue = due;
            apply = [&] { ups.ApplyRebootSchedule(); };
            break;
        case ESchedule::Timed:
            ups.m_timedCommandDue = due;
            apply = [&] { ups.ApplyTimedCommand(); };
            break;
        }
        EXPECT_EQ(CodeOf(apply), c.code) << c.name;
        if (c.frame.empty())
            EXPECT_TRUE(port.Writes().empty()) << c.name;
        else
            EXPECT_EQ(port.Writes(), std::vector<Bytes> { c.frame }) << c.name;
    }
}

TEST_F(XComUPSTest, RefusedControlsThrow)
{
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0x8B, 0x32);
    ups.m_shutdownDue = CAbstractUPS::Now() + 1000;
    EXPECT_EQ(CodeOf([&] { ups.ApplyShutdownSchedule(); }), EVENT_COMMAND_FAILED);
    port.AnswerStatus(0x8B, 0x37); // also "accepted"
    EXPECT_EQ(CodeOf([&] { ups.ApplyShutdownSchedule(); }), kNoError);
}

TEST_F(XComUPSTest, TestsSendBatteryTestCommands)
{
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0xB1, 0x31);
    ups.StartBatteryTest(0x101, 15);
    EXPECT_TRUE(ups.IsBatteryTestRunning());
    EXPECT_EQ(port.Frames().back(), (Bytes { 0xAB, 0x03, 0xB1, 0x01, 0x0F, 0x91 }));
    port.ClearLog();
    ups.StartGeneralSystemsTest();
    EXPECT_FALSE(ups.IsBatteryTestRunning());
    EXPECT_EQ(port.Frames().back(), (Bytes { 0xAB, 0x03, 0xB1, 0x01, 0x0F, 0x91 })) << "the same bytes, not 0xB2";

    port.AnswerStatus(0xB1, 0x32);
    EXPECT_EQ(CodeOf([&] { ups.StartBatteryTest(1, 15); }), EVENT_COMMAND_FAILED);
    EXPECT_FALSE(ups.IsBatteryTestRunning());
}

// ---- Writable objects ----------------------------------------------------------------------------------

struct SWriteCase {
    const char* name;
    COid object;
    std::int32_t value;
    std::uint8_t answer;
    Bytes frame; // empty: nothing sent
    std::uint32_t code;
};

TEST_F(XComUPSTest, NumericWritesGoThroughCommand95)
{
    const COid audible = { 2, 1, 33, 1, 9, 8, 0 };
    const COid outputVoltage = { 2, 1, 33, 1, 9, 3, 0 };
    const COid lowBatteryTime = { 2, 1, 33, 1, 9, 7, 0 };
    const COid lowTemperature = { 4, 1, 534, 1, 6, 2, 0 };
    const COid highTemperature = { 4, 1, 534, 1, 6, 3, 0 };
    const SWriteCase cases[] = {
        { "audible 3 goes out as 2", audible, 3, 0x31, { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 }, kNoError },
        { "output voltage", outputVoltage, 230, 0x31, { 0xAB, 0x04, 0x95, 0x0B, 0xE6, 0x00, 0xCB }, kNoError },
        { "low battery time", lowBatteryTime, 5, 0x31, { 0xAB, 0x04, 0x95, 0x05, 0x05, 0x00, 0xB2 }, kNoError },
        { "negative low temperature", lowTemperature, -10, 0x31, { 0xAB, 0x04, 0x95, 0x09, 0xF6, 0xFF, 0xBE },
            kNoError },
        { "high temperature", highTemperature, 45, 0x31, { 0xAB, 0x04, 0x95, 0x0A, 0x2D, 0x00, 0x85 }, kNoError },
        { "object not writable on this UPS", audible, 3, 0x32, { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 },
            EVENT_READ_ONLY },
        { "parameter unknown", audible, 3, 0x34, { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 }, EVENT_READ_ONLY },
        { "value refused", audible, 3, 0x35, { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 }, EVENT_BAD_VALUE },
        { "bad parameter", audible, 3, 0x36, { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 }, EVENT_BAD_VALUE },
        { "other failure", audible, 3, 0x40, { 0xAB, 0x04, 0x95, 0x06, 0x02, 0x00, 0xB4 }, EVENT_COMMAND_FAILED },
        { "voltage beyond 16 bits", outputVoltage, 65536, 0x31, {}, EVENT_BAD_VALUE },
        { "negative voltage", outputVoltage, -1, 0x31, {}, EVENT_BAD_VALUE },
        { "audible 0 cannot go out as -1", audible, 0, 0x31, {}, EVENT_BAD_VALUE },
        { "temperature beyond 16 bits", lowTemperature, -40000, 0x31, {}, EVENT_BAD_VALUE },
    };
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0xCF, 0x32);
    ups.GetLink().SendRequest(0xCF, 750);
    for (const auto& c : cases) {
        port.ClearLog();
        port.AnswerStatus(0x95, c.answer);
        ups.m_audibleStatus = 2;
        ups.m_nominalOutputVoltage = 120;
        ups.m_lowBatteryTime = 2;
        ups.m_lowTemperatureLimit = 0;
        ups.m_highTemperatureLimit = 40;
        CMIBData value(
            c.value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), MIB_SIGNED);
        value.SetName(c.object);
        EXPECT_EQ(CodeOf([&] { ups.SetMIBData(value); }), c.code) << c.name;
        if (c.frame.empty())
            EXPECT_TRUE(port.Writes().empty()) << c.name;
        else
            EXPECT_EQ(port.Writes(), std::vector<Bytes> { c.frame }) << c.name;
        const bool written = c.code == kNoError;
        if (c.object == audible) {
            EXPECT_EQ(ups.m_audibleStatus, written ? c.value : 2) << c.name;
        }
        if (c.object == outputVoltage) {
            EXPECT_EQ(ups.m_nominalOutputVoltage, written ? static_cast<std::uint32_t>(c.value) : 120u) << c.name;
        }
        if (c.object == lowBatteryTime) {
            EXPECT_EQ(ups.m_lowBatteryTime, written ? static_cast<std::uint32_t>(c.value) : 2u) << c.name;
        }
        if (c.object == lowTemperature) {
            EXPECT_EQ(ups.m_lowTemperatureLimit, written ? c.value : 0) << c.name;
        }
        if (c.object == highTemperature) {
            EXPECT_EQ(ups.m_highTemperatureLimit, written ? c.value : 40) << c.name;
        }
    }
}

TEST_F(XComUPSTest, OtherObjectsOfTheWritableGroupsBehaveAsInTheModel)
{
    LoadCommandList(kAllCommands);
    auto set = [&](const COid& name) {
        CMIBData value(1, 0, 10, MIB_SIGNED);
        value.SetName(name);
        return CodeOf([&] { ups.SetMIBData(value); });
    };
    EXPECT_EQ(set({ 4, 1, 534, 1, 6, 1, 0 }), EVENT_READ_ONLY) << "ambient temperature";
    EXPECT_EQ(set({ 2, 1, 33, 1, 9, 1, 0 }), EVENT_READ_ONLY) << "upsConfigInputVoltage";
    EXPECT_EQ(set({ 4, 1, 534, 1, 10, 1, 0 }), EVENT_READ_ONLY);
    EXPECT_EQ(set({ 2, 1, 33, 1, 9, 11, 0 }), EVENT_NO_SUCH_OBJECT);
    EXPECT_TRUE(port.Writes().empty());
}

struct SDateWriteCase {
    const char* text;
    std::uint8_t answer;
    Bytes frame;
    std::uint32_t code;
};

TEST_F(XComUPSTest, DateWriteSetsTheUpsClock)
{
    const SDateWriteCase cases[] = {
        // 0x90, year high byte & 0x80, year low byte, month, day, hour, minute, second, 0
        { "7/4/2001:13:05:09", 0x31, { 0xAB, 0x09, 0x90, 0x00, 0xD1, 0x07, 0x04, 0x0D, 0x05, 0x09, 0x00, 0xC5 },
            kNoError },
        { "12/31/1999:23:59:59", 0x36, { 0xAB, 0x09, 0x90, 0x00, 0xCF, 0x0C, 0x1F, 0x17, 0x3B, 0x3B, 0x00, 0x35 },
            EVENT_BAD_VALUE },
        { "7/4/2001", 0x31, {}, EVENT_BAD_VALUE },
    };
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0xCF, 0x32);
    ups.GetLink().SendRequest(0xCF, 750);
    for (const auto& c : cases) {
        port.ClearLog();
        port.AnswerStatus(0x90, c.answer);
        ups.m_upsDateTime = "old";
        CMIBData value(std::string_view(c.text), 255, MIB_TEXT);
        value.SetName(COid { 4, 1, 534, 1, 10, 5, 0 });
        EXPECT_EQ(CodeOf([&] { ups.SetMIBData(value); }), c.code) << c.text;
        if (c.frame.empty())
            EXPECT_TRUE(port.Writes().empty()) << c.text;
        else
            EXPECT_EQ(port.Writes(), std::vector<Bytes> { c.frame }) << c.text;
        EXPECT_EQ(ups.m_upsDateTime, c.code == kNoError ? c.text : "old") << c.text;
    }
}

// ---- Relay ---------------------------------------------------------------------------------------------

TEST_F(XComUPSTest, Command95IsForwardedAndAnsweredWithAStatusBlock)
{
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0xCF, 0x32);
    ups.GetLink().SendRequest(0xCF, 750);
    port.ClearLog();
    port.Answer(0x95, BuildStatusReply(0x31, 0x95, Bytes { 0x06, 0x01 }));
    // An emulated request (option -i): the third data byte is not forwarded.
    const Bytes frame = { 0xAB, 0x04, 0x95, 0x06, 0x01, 0x07, 0xB0 };
    g_bUseInternalXCP = true;
    const Bytes reply = ups.ProcessXCPRequest(frame);
    g_bUseInternalXCP = false;
    EXPECT_EQ(port.Writes(), std::vector<Bytes> { (Bytes { 0xAB, 0x03, 0x95, 0x06, 0x01, 0xB6 }) });
    // block 9, length 5, last block, status, then the UPS's reply bytes
    EXPECT_EQ(reply, (Bytes { 0xAB, 0x09, 0x05, 0x81, 0x31, 0x31, 0x95, 0x06, 0x01, 0xC8 }));
}

struct SCommand95Case {
    const char* name;
    Bytes frame;
    std::vector<Bytes> sent;
    Bytes reply;
};

// Frames exactly as a client sends them, checksum and all: the checksum is
// never a data byte, and a frame without the two data bytes is refused.
TEST_F(XComUPSTest, Command95ThroughTheRelayUsesOnlyTheFrameData)
{
    LoadCommandList(kAllCommands);
    port.AnswerStatus(0xCF, 0x32); // no authorization frame ahead of 0x95
    ups.GetLink().SendRequest(0xCF, 750);
    port.Answer(0x95, BuildStatusReply(0x31, 0x95, Bytes { 0x06, 0x01 }));
    const SCommand95Case cases[] = {
        { "no data byte", { 0xAB, 0x01, 0x95, 0xBF }, {},
            { 0xAB, 0x09, 0x02, 0x81, 0x36, 0x95, 0xFE, 0x00 } }, // padded to even
        { "one data byte", { 0xAB, 0x02, 0x95, 0x06, 0xB8 }, {}, { 0xAB, 0x09, 0x03, 0x81, 0x36, 0x95, 0x06, 0xF7 } },
        { "two data bytes", { 0xAB, 0x03, 0x95, 0x06, 0x01, 0xB6 }, { { 0xAB, 0x03, 0x95, 0x06, 0x01, 0xB6 } },
            { 0xAB, 0x09, 0x05, 0x81, 0x31, 0x31, 0x95, 0x06, 0x01, 0xC8 } },
    };
    const std::string password = "secret";
    const Bytes unlock = BuildRequestFrame(0xCF, Bytes(password.begin(), password.end()));
    CNetXCPAgent relay(password, 0, htonl(INADDR_LOOPBACK));
    g_bUseInternalXCP = true;
    for (const auto& c : cases) {
        port.ClearLog();
        Bytes datagram = unlock;
        datagram.insert(datagram.end(), c.frame.begin(), c.frame.end());
        SDatagram reply;
        relay.ProcessDatagram(ups, datagram, reply);
        EXPECT_EQ(port.Frames(), c.sent) << c.name;
        EXPECT_EQ(Bytes(reply.Bytes().begin(), reply.Bytes().end()), c.reply) << c.name;
    }
    g_bUseInternalXCP = false;
}

TEST_F(XComUPSTest, ProcessXCPRequestRelaysTheFrameUnlessInternalXcpIsOn)
{
    LoadCommandList(kAllCommands);
    port.AnswerBlock(0x33, Bytes { 0x50, 0x01 });
    const Bytes frame = { 0xAB, 0x01, 0x33, 0x21 };
    const Bytes reply = ups.ProcessXCPRequest(frame);
    EXPECT_EQ(port.Writes(), std::vector<Bytes> { frame });
    EXPECT_EQ(reply, (Bytes { 0xAB, 0x03, 0x02, 0x81, 0x50, 0x01, 0x7E }));

    port.ClearLog();
    g_bUseInternalXCP = true;
    const Bytes internal = ups.ProcessXCPRequest(frame);
    g_bUseInternalXCP = false;
    EXPECT_TRUE(port.Writes().empty()) << "answered from the model";
    ASSERT_EQ(internal.size(), 25u) << "the model's status block";
    EXPECT_EQ(Bytes(internal.begin(), internal.begin() + 4), (Bytes { 0xAB, 0x03, 0x14, 0x81 }));
}

} // namespace
