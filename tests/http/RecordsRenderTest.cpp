// The event log and the history as the page and the downloads show them:
// CSV that a spreadsheet reads as written, a chart line per value with gaps
// and on-battery shading, a page that keeps the UPS's name without a UPS,
// dashes for values never reported, and a small page with a full day.
#include "http/StatusRender.h"
#include "platform/Clock.h"
#include "tests/ups/TestUPS.h"

#include <gtest/gtest.h>

#include <regex>

using namespace pvx;
using namespace pvx::test;

namespace {

constexpr std::time_t kNow = 1765170000; // 2025-12-08 05:00:00 UTC

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A day of samples ending at kNow: every value reported but the temperature,
// on battery in the hour 3 h before, no UPS for the 10 minutes 6 h before.
void FillDay(CHistory& history)
{
    for (std::time_t ago = CHistory::kCapacity - 1; ago >= 0; --ago) {
        SHistorySample s;
        s.time = kNow - ago * 60;
        s.connected = ago < 360 || ago >= 370;
        s.onBattery = ago >= 180 && ago < 240;
        if (s.connected)
            s.values = { 100 - static_cast<std::int32_t>(ago % 50), 40, static_cast<std::int32_t>(ago % 90), 230,
                SHistorySample::kMissing };
        history.Add(s);
    }
}

TEST(RecordsRender, EventDownloadsQuoteCsvAsRfc4180DefuseFormulasAndEscapeJson)
{
    CEventLog log;
    log.Add(EEventKind::AlarmRaised, kNow, std::nullopt, "On battery");
    log.Add(EEventKind::AlarmCleared, kNow + 71, 71, "say \"hi\", twice");
    log.Add(EEventKind::UpsFound, kNow + 80, std::nullopt, "=HYPERLINK(1)");
    EXPECT_EQ(RenderEventsCsv(log), "time,unix_time,kind,event,text,duration_seconds\r\n"
                                    "2025-12-08T05:00:00Z,1765170000,alarmRaised,Alarm,On battery,\r\n"
                                    "2025-12-08T05:01:11Z,1765170071,alarmCleared,Alarm cleared,\"say \"\"hi\"\", twice\",71\r\n"
                                    "2025-12-08T05:01:20Z,1765170080,upsFound,UPS found,\"'=HYPERLINK(1)\",\r\n");
    EXPECT_EQ(RenderEventsJson(CEventLog()), "{\"events\":[\n]}\n");
    EXPECT_EQ(RenderEventsJson(log),
        "{\"events\":["
        "\n{\"time\":\"2025-12-08T05:00:00Z\",\"unixTime\":1765170000,\"kind\":\"alarmRaised\",\"event\":\"Alarm\","
        "\"text\":\"On battery\",\"durationSeconds\":null},"
        "\n{\"time\":\"2025-12-08T05:01:11Z\",\"unixTime\":1765170071,\"kind\":\"alarmCleared\","
        "\"event\":\"Alarm cleared\",\"text\":\"say \\\"hi\\\", twice\",\"durationSeconds\":71},"
        "\n{\"time\":\"2025-12-08T05:01:20Z\",\"unixTime\":1765170080,\"kind\":\"upsFound\",\"event\":\"UPS found\","
        "\"text\":\"=HYPERLINK(1)\",\"durationSeconds\":null}"
        "\n]}\n");
}

TEST(RecordsRender, EachReportedValueGetsALineWithGapsAndShading)
{
    CHistory history;
    FillDay(history);
    std::string html;
    RenderCharts(html, history, kNow);
    EXPECT_EQ(Count(html, "<svg class=\"chart\""), kHistoryValues);
    EXPECT_EQ(Count(html, "<path class=\"line\""), kHistoryValues - 1);
    EXPECT_EQ(Count(html, "Not reported"), 1u) << "the temperature was never reported";
    // The 10 minutes without a UPS split every line in two; the hour on
    // battery is one shaded band of 20 three-minute points in each chart.
    for (std::size_t at = html.find(" d=\""); at != std::string::npos; at = html.find(" d=\"", at + 1))
        EXPECT_EQ(Count(html.substr(at, html.find('"', at + 4) - at), "M"), 2u);
    EXPECT_EQ(Count(html, "<rect class=\"ob\" x=\"400\" y=\"0\" width=\"21\""), 4u);
    // Flat stretches (the runtime's constant 40) collapse to their ends.
    const std::size_t runtime = html.find("Runtime (min)");
    ASSERT_NE(runtime, std::string::npos);
    EXPECT_LT(html.find("</figure>", runtime) - runtime, 1200u);
    const std::regex hour(">[0-2][0-9]:00</text>");
    EXPECT_EQ(std::distance(std::sregex_iterator(html.begin(), html.end(), hour), std::sregex_iterator()), 20)
        << "every 6 hours on the time axis of the 4 charts with values";
}

class CRecordsPage : public ::testing::Test {
protected:
    SStatusSnapshot Snapshot(const CAbstractUPS* model)
    {
        SStatusSnapshot s = TakeSnapshot(model, {}, {}, 8000);
        s.records = &records;
        s.wallNow = kNow;
        return s;
    }

    CFakeClock clock;
    CScopedClock scopedClock { clock };
    CTestUPS ups;
    SStatusRecords records;
};

TEST_F(CRecordsPage, WithoutAUpsTheHeadingKeepsItsNameAndSaysSinceWhen)
{
    records.name = "Rack <4>";
    records.noUpsSince = kNow - 300;
    const std::string page = RenderPage(Snapshot(nullptr));
    EXPECT_NE(page.find("<title>Rack &lt;4&gt; - UPS status</title>"), std::string::npos);
    EXPECT_NE(page.find("<h1>Rack &lt;4&gt;</h1>\n<p class=\"state unknown\">No UPS connected</p>\n"
                        "<p class=\"since\">No UPS connected since "),
        std::string::npos)
        << page;
    EXPECT_NE(page.find(" (5 min ago)</p>"), std::string::npos);
    EXPECT_NE(page.find("<footer>pvx " PVX_TEST_VERSION " &middot; page of "), std::string::npos);
    EXPECT_NE(RenderMetrics(Snapshot(nullptr)).find("\npvx_build_info{version=\"" PVX_TEST_VERSION "\"} 1\n"),
        std::string::npos);
}

// Measures the input voltage and the charge only, as a simple UPS would.
class CPartialUPS : public CTestUPS {
public:
    bool Measures(EMeasurement value) const override
    {
        return value == EMeasurement::InputVoltage || value == EMeasurement::BatteryCharge;
    }
};

TEST(RecordsPageValues, WhatTheUpsDoesNotReportShowsAsADash)
{
    CFakeClock clock;
    CScopedClock scopedClock { clock };
    CPartialUPS ups;
    ups.m_linkState = 0;
    ups.m_chargeRemaining = 80;
    ups.m_inputLineCount = ups.m_outputLineCount = ups.m_bypassLineCount = 1;
    ups.m_inputLines[0] = { 0, 120, 0, 0 }; // 120 V, no frequency
    ups.m_bypassLines[0] = { 228, 0, 0 };
    const SStatusSnapshot snapshot = TakeSnapshot(&ups, {}, {}, 0);
    const std::string page = RenderPage(snapshot);
    const std::string dash = "\xE2\x80\x93";
    for (const std::string& row : { std::string("<tr><th>Charge</th><td>80 %</td></tr>"), "<tr><th>Temperature</th><td>" + dash + "</td></tr>",
             "<tr><th>Voltage</th><td>" + dash + "</td></tr>", "<tr><th>Runtime</th><td>" + dash + "</td></tr>",
             "<tr><th>Input 1</th><td class=\"n\">120</td><td class=\"n\">" + dash + "</td>",
             "<tr><th>Bypass 1</th><td class=\"n\">228</td><td class=\"n\">" + dash + "</td>",
             "<tr><th>Output 1</th><td class=\"n\">" + dash + "</td>" })
        EXPECT_NE(page.find(row), std::string::npos) << row;
    // A scraper or a script would take a 0 for a reading.
    const std::string metrics = RenderMetrics(snapshot);
    const std::string json = RenderJson(snapshot);
    for (const char* series : { "\npvx_ups_battery_runtime_seconds ", "\npvx_ups_battery_volts ",
             "\npvx_ups_battery_temperature_celsius ", "\npvx_ups_output_hertz " })
        EXPECT_EQ(metrics.find(series), std::string::npos) << series;
    for (const char* field : { "\"battery_runtime_seconds\":null", "\"battery_volts\":null",
             "\"battery_temperature_celsius\":null", "\"output_hertz\":null" })
        EXPECT_NE(json.find(field), std::string::npos) << field;
}

TEST_F(CRecordsPage, AFullDayAndAFullLogStayUnder64kBAndShowTheLatest20)
{
    ups.m_linkState = 0;
    ups.m_upsName = "Rack 4";
    ups.m_inputLineCount = ups.m_outputLineCount = ups.m_bypassLineCount = 1;
    FillDay(records.history);
    for (std::size_t i = 0; i < CEventLog::kCapacity; ++i)
        records.events.Add(i % 2 == 0 ? EEventKind::AlarmRaised : EEventKind::AlarmCleared, kNow - 1000 + static_cast<std::time_t>(i),
            i % 2 == 0 ? std::nullopt : std::optional<std::int64_t>(4000), std::string(40, 'x') + std::to_string(i));
    const std::string page = RenderPage(Snapshot(&ups));
    EXPECT_LT(page.size(), 64u * 1024);
    EXPECT_EQ(Count(page, "<tr><td>"), 20u) << "rows of the event table";
    EXPECT_NE(page.find("x499</td><td>66 min 40 s</td>"), std::string::npos) << "newest first, with its duration";
    EXPECT_EQ(page.find("x479<"), std::string::npos);
    EXPECT_NE(page.find("<h1>Rack 4</h1>"), std::string::npos);
}

} // namespace
