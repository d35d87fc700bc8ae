// The event ring and the sample ring: wrap-around keeps the newest, texts are
// cut and cleaned so that one event stays one line, the file form reads back
// and anything torn or foreign is refused whole; samples stay one a minute in
// time order.
#include "ups/EventLog.h"
#include "ups/History.h"

#include <gtest/gtest.h>

#include <string>

using namespace pvx;

namespace {

TEST(EventLog, AFullLogDropsTheOldestAndKeepsOrder)
{
    CEventLog log;
    for (std::time_t t = 0; t < static_cast<std::time_t>(CEventLog::kCapacity) + 7; ++t)
        log.Add(EEventKind::AlarmRaised, 1000 + t, std::nullopt, std::to_string(t));
    ASSERT_EQ(log.Size(), CEventLog::kCapacity);
    EXPECT_EQ(log.Newest(0).time, 1000 + static_cast<std::time_t>(CEventLog::kCapacity) + 6);
    EXPECT_EQ(log.Newest(CEventLog::kCapacity - 1).Text(), "7");
    EXPECT_EQ(log.Generation(), CEventLog::kCapacity + 7);
}

TEST(EventLog, TextsAreCutAtACharacterAndKeptOnOneLine)
{
    struct SCase {
        const char* name;
        std::string text;
        std::string kept;
    };
    const std::string fortySeven(47, 'a');
    const SCase cases[] = {
        { "control bytes become blanks", "line\nbreak\r\x7F", "line break  " },
        { "cut before a two-byte character", fortySeven + "\xC3\xA9", fortySeven },
        { "cut inside a three-byte character", fortySeven.substr(1) + "\xE2\x80\x93", fortySeven.substr(1) },
    };
    for (const SCase& c : cases) {
        CEventLog log;
        log.Add(EEventKind::UpsFound, 1, std::nullopt, c.text);
        EXPECT_EQ(log.Newest(0).Text(), c.kept) << c.name;
    }
}

TEST(EventLog, TheFileFormReadsBack)
{
    CEventLog log;
    log.Add(EEventKind::AlarmRaised, 1765170000, std::nullopt, "On battery");
    log.Add(EEventKind::PowerRestored, 1765170071, 71, "a, with commas");
    log.Add(EEventKind::UpsLost, 1765170100);
    const std::string file = log.Serialize();
    EXPECT_EQ(file, "1765170000,alarmRaised,-1,On battery\n1765170071,powerRestored,71,a, with commas\n"
                    "1765170100,upsLost,-1,\n");
    CEventLog read;
    ASSERT_TRUE(read.Load(file));
    EXPECT_EQ(read.Serialize(), file);
    EXPECT_EQ(read.Newest(1).Duration(), 71);
}

TEST(EventLog, ATornOrForeignFileIsRefusedWhole)
{
    const std::string good = "1765170000,alarmRaised,-1,On battery\n";
    std::string tooMany;
    for (std::size_t i = 0; i <= CEventLog::kCapacity; ++i)
        tooMany += "1,upsLost,-1,\n";
    const std::pair<const char*, std::string> cases[] = {
        { "torn last line", good + "1765170001,upsLo" },
        { "unknown kind", good + "1765170001,coffee,-1,\n" },
        { "duration below -1", "1,upsLost,-2,\n" },
        { "text too long", "1,upsLost,-1," + std::string(49, 'x') + "\n" },
        { "more lines than the log holds", tooMany },
        { "larger than the bound", std::string(CEventLog::kMaxFileBytes + 1, '\n') },
    };
    for (const auto& [name, file] : cases) {
        CEventLog log;
        log.Add(EEventKind::UpsFound, 1);
        EXPECT_FALSE(log.Load(file)) << name;
        EXPECT_EQ(log.Size(), 0u) << name;
    }
    CEventLog empty;
    EXPECT_TRUE(empty.Load(""));
}

TEST(History, OneSampleAMinuteInTimeOrderWrappingAfterADay)
{
    CHistory history;
    // Minute 100, the same minute, the next, the clock set back, a minute skipped.
    for (const auto& [time, kept] : { std::pair { 6000, true }, { 6059, false }, { 6075, true }, { 5990, false }, { 6200, true } }) {
        SHistorySample s;
        s.time = time;
        EXPECT_EQ(history.Add(s), kept) << time;
    }
    EXPECT_EQ(history.Size(), 3u);
    // Stamped with their minutes: a pass late in one minute and one early in
    // the next are still a minute apart.
    EXPECT_EQ(history.Oldest(1).time, 6060);
    EXPECT_EQ(history.Oldest(2).time, 6180);
    EXPECT_TRUE(history.HasMinute(6239));
    EXPECT_FALSE(history.HasMinute(6240));

    for (std::time_t minute = 200; minute < 200 + static_cast<std::time_t>(CHistory::kCapacity) + 10; ++minute) {
        SHistorySample s;
        s.time = minute * 60;
        s.values[0] = static_cast<std::int32_t>(minute);
        history.Add(s);
    }
    ASSERT_EQ(history.Size(), CHistory::kCapacity);
    EXPECT_EQ(history.Oldest(0).Value(EHistoryValue::Charge), 210);
    EXPECT_EQ(history.Oldest(CHistory::kCapacity - 1).time, (200 + static_cast<std::time_t>(CHistory::kCapacity) + 9) * 60);
}

} // namespace
