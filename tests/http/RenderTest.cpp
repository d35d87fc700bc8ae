// The metrics, the page and the JSON for a model with fixed values: exact
// metric lines, escaping of texts from the UPS, and no UPS series without a UPS.
#include "http/StatusRender.h"
#include "platform/Clock.h"
#include "tests/ups/TestUPS.h"
#include "ups/WellKnown.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace pvx;
using namespace pvx::test;

namespace {

std::set<std::string> Lines(const std::string& text)
{
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

class CRender : public ::testing::Test {
protected:
    CRender()
    {
        ups.m_linkState = 0;
        ups.m_manufacturer = "ACME";
        ups.m_model = "Simul UPS 1500";
        ups.m_upsSoftwareVersion = "1.20";
        ups.m_upsName = "rack \"A\" <main> & \\co";
        ups.m_outputSource = 5;
        ups.m_minutesRemaining = 12;
        ups.m_lowBatteryTime = 2;
        ups.m_chargeRemaining = 87;
        ups.m_batteryVoltage = 2735; // 273.5 V
        ups.m_batteryCurrent = -12; // -1.2 A
        ups.m_batteryTemperature = 31;
        ups.m_secondsOnBattery = 42;
        ups.m_inputLineCount = 2;
        ups.m_inputLines[0] = { 500, 207, 15, 310 }; // 50 Hz, 207 V, 1.5 A, 310 W
        ups.m_inputLines[1] = { 499, 230, 0, 0 };
        ups.m_outputFrequency = 501;
        ups.m_outputLines[0] = { 230, 41, 900, 5 };
        ups.m_bypassFrequency = 500;
        ups.m_bypassLines[0] = { 229, 0, 0 };
        ups.m_testResultSummary = 1;
        network.snmpServed = 7;
        network.snmpBadCommunity = 2;
        network.relayNoUps = 3;
        network.trapsSent = 4;
        polls.polls = 100;
        polls.failedPolls = 1;
        polls.lastSuccess = 5000;
    }

    SStatusSnapshot Snapshot(const CAbstractUPS* model) { return TakeSnapshot(model, polls, network, 8000); }

    CFakeClock clock;
    CScopedClock scopedClock { clock };
    CTestUPS ups;
    SPollCounters polls;
    SNetworkCounters network;
};

TEST_F(CRender, MetricsCarryTheModelsValuesInTheUnitsTheirNamesSay)
{
    ups.RaiseAlarm(kUpsAlarmOnBattery);
    ups.RaiseAlarm(kUpsAlarmInputBad);
    const auto lines = Lines(RenderMetrics(Snapshot(&ups)));
    for (const char* expected : {
             "pvx_ups_info{manufacturer=\"ACME\",model=\"Simul UPS 1500\",software_version=\"1.20\","
             "name=\"rack \\\"A\\\" <main> & \\\\co\"} 1",
             "# HELP pvx_ups_output_source Present source of the output (1 for the present one).",
             "# TYPE pvx_ups_output_source gauge",
             "pvx_ups_output_source{source=\"battery\"} 1",
             "pvx_ups_output_source{source=\"normal\"} 0",
             "pvx_ups_battery_status{status=\"normal\"} 1",
             "pvx_ups_battery_charge_ratio 0.87",
             "pvx_ups_battery_runtime_seconds 720",
             "pvx_ups_battery_volts 273.5",
             "pvx_ups_battery_current_amperes -1.2",
             "pvx_ups_battery_temperature_celsius 31",
             "pvx_ups_on_battery_seconds 42",
             "pvx_ups_input_volts{line=\"1\"} 207",
             "pvx_ups_input_volts{line=\"2\"} 230",
             "pvx_ups_input_hertz{line=\"1\"} 50",
             "pvx_ups_input_hertz{line=\"2\"} 49.9",
             "pvx_ups_input_current_amperes{line=\"1\"} 1.5",
             "pvx_ups_input_power_watts{line=\"1\"} 310",
             "pvx_ups_output_hertz 50.1",
             "pvx_ups_output_volts{line=\"1\"} 230",
             "pvx_ups_output_load_ratio{line=\"1\"} 0.05",
             "pvx_ups_bypass_volts{line=\"1\"} 229",
             "pvx_ups_alarms_present 2",
             "pvx_ups_alarm{alarm=\"onBattery\"} 1",
             "pvx_ups_alarm{alarm=\"inputBad\"} 1",
             "pvx_ups_test_result{result=\"donePass\"} 1",
             "pvx_ups_shutdown_scheduled 0",
             "pvx_ups_connected 1",
             "# TYPE pvx_ups_polls_total counter",
             "pvx_ups_polls_total 100",
             "pvx_ups_polls_failed_total 1",
             "pvx_ups_last_successful_poll_age_seconds 3",
             "pvx_snmp_requests_served_total 7",
             "pvx_snmp_requests_dropped_total{reason=\"bad_community\"} 2",
             "pvx_relay_datagrams_dropped_total{reason=\"no_ups\"} 3",
             "pvx_snmp_traps_sent_total 4",
         })
        EXPECT_EQ(lines.count(expected), 1u) << expected;
    // Two input lines, one output line: no series for lines the UPS lacks.
    EXPECT_EQ(lines.count("pvx_ups_input_volts{line=\"3\"} 0"), 0u);
    EXPECT_EQ(lines.count("pvx_ups_output_volts{line=\"2\"} 0"), 0u);
}

TEST_F(CRender, WithoutAConnectedUpsOnlyPvxsOwnSeriesAreThere)
{
    ups.m_linkState = -1; // identified, then lost
    for (const CAbstractUPS* model : { static_cast<const CAbstractUPS*>(nullptr), static_cast<const CAbstractUPS*>(&ups) }) {
        const std::string metrics = RenderMetrics(Snapshot(model));
        EXPECT_EQ(metrics.find("pvx_ups_info"), std::string::npos);
        EXPECT_EQ(metrics.find("pvx_ups_battery"), std::string::npos);
        EXPECT_EQ(metrics.find("pvx_ups_input"), std::string::npos);
        EXPECT_EQ(metrics.find("pvx_ups_alarm"), std::string::npos);
        EXPECT_NE(metrics.find("\npvx_ups_connected 0\n"), std::string::npos);
        EXPECT_NE(metrics.find("\npvx_ups_polls_total 100\n"), std::string::npos);
        EXPECT_NE(RenderJson(Snapshot(model)).find("{\"ups\":null,"), std::string::npos);
        EXPECT_NE(RenderPage(Snapshot(model)).find("No UPS connected"), std::string::npos);
    }
}

TEST_F(CRender, TextsFromTheUpsAreEscapedInEveryDocument)
{
    ups.m_model = "<script>alert(1)</script>";
    ups.m_testResultDetail = std::string("quote\" back\\ line\n nul\x01 byte\xff");
    const SStatusSnapshot snapshot = Snapshot(&ups);
    const std::string page = RenderPage(snapshot);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("rack &quot;A&quot; &lt;main&gt; &amp; \\co"), std::string::npos);
    const std::string json = RenderJson(snapshot);
    EXPECT_NE(json.find("\"test_result_detail\":\"quote\\\" back\\\\ line\\u000a nul\\u0001 byte\\ufffd\""),
        std::string::npos)
        << json;
    EXPECT_NE(json.find("\"name\":\"rack \\\"A\\\" <main> & \\\\co\""), std::string::npos) << json;
    EXPECT_EQ(EscapeLabelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
}

TEST_F(CRender, ThePageStatesTheSourceInWordsAndColour)
{
    struct SCase {
        int source;
        const char* state;
    };
    for (const SCase& c : { SCase { 3, "<p class=\"state ok\">On line</p>" },
             SCase { 5, "<p class=\"state alarm\">On battery</p>" },
             SCase { 4, "<p class=\"state warn\">On bypass</p>" },
             SCase { 2, "<p class=\"state alarm\">Output off</p>" } }) {
        ups.m_outputSource = c.source;
        EXPECT_NE(RenderPage(Snapshot(&ups)).find(c.state), std::string::npos) << c.source;
    }
    ups.RaiseAlarm(kUpsAlarmLowBattery);
    clock.Advance(90000);
    const std::string page = RenderPage(Snapshot(&ups));
    EXPECT_NE(page.find("<li>Low battery, since 90 s</li>"), std::string::npos) << page;
    EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"10\">"), std::string::npos);
    EXPECT_NE(page.find("<meta name=\"viewport\""), std::string::npos);
    EXPECT_NE(page.find("<tr><th>Input 2</th><td class=\"n\">230</td><td class=\"n\">49.9</td>"), std::string::npos);
    EXPECT_NE(page.find("<tr><th>Output 1</th><td class=\"n\">230</td><td class=\"n\">50.1</td><td class=\"n\">4.1</td>"
                        "<td class=\"n\">900</td><td class=\"n\">5 %</td></tr>"),
        std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
}

} // namespace
