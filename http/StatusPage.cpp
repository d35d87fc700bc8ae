// The status page: one HTML document that refreshes itself, every text
// from outside escaped.
#include "http/StatusRender.h"

#include "http/StatusNames.h"

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <string>

namespace pvx {

using namespace status;

namespace {

const char* SourceClass(int source)
{
    switch (source) {
    case 3:
    case 6:
    case 7:
        return "ok";
    case 4:
        return "warn";
    case 5:
    case 2:
        return "alarm";
    default:
        return "unknown";
    }
}

std::string Duration(std::int64_t seconds)
{
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    if (seconds < 7200)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
}

void Row(std::string& html, std::string_view name, const std::string& value)
{
    html += "<tr><th>";
    html += name;
    html += "</th><td>";
    html += value;
    html += "</td></tr>\n";
}

constexpr std::string_view kStyle = "body{font-family:sans-serif;margin:0 auto;max-width:40em;padding:.5em;color:#222}"
                                    "h1{font-size:1.4em;margin:.2em 0}h2{font-size:1.1em;margin:1em 0 .3em}"
                                    ".ident{color:#555;margin:0}"
                                    ".state{font-size:1.6em;font-weight:bold;padding:.4em;border-radius:.3em;"
                                    "color:#fff;text-align:center}"
                                    ".ok{background:#2e7d32}.warn{background:#b26a00}.alarm{background:#c62828}"
                                    ".unknown{background:#616161}"
                                    "table{border-collapse:collapse;width:100%}th,td{padding:.25em .4em;"
                                    "border-bottom:1px solid #ddd;text-align:left}td.n{text-align:right}"
                                    "ul{padding-left:1.2em}.lines th,.lines td{white-space:nowrap}.lines th+th{text-align:right}"
                                    ".since{color:#757575;margin:.3em 0}.events td:first-child{white-space:nowrap}"
                                    "figure{margin:.6em 0}figcaption{font-weight:bold;font-size:.9em}"
                                    ".chart{width:100%;height:auto;display:block;font-size:11px;fill:#555}"
                                    ".chart .line{fill:none;stroke:#1565c0;stroke-width:2}.chart .grid{stroke:#ddd}"
                                    ".chart .ob{fill:#ffcdd2}footer{color:#757575;font-size:.85em;margin-top:1em}";

// What the page shows for a value the UPS does not report.
constexpr char kNotReported[] = "\xE2\x80\x93"; // U+2013 EN DASH

std::string IfMeasured(const SUPSReadings& u, EMeasurement value, std::string text)
{
    return u.Measures(value) ? text : std::string(kNotReported);
}

// A frequency of 0 beside a voltage is a value the UPS left out, not a line at 0 Hz.
std::string Hertz(std::uint32_t tenths)
{
    return tenths == 0 ? std::string(kNotReported) : Scaled(tenths, 10);
}

void LinesTable(std::string& html, const SUPSReadings& u)
{
    // Units in the header keep the table narrow enough for a phone.
    html += "<h2>Lines</h2>\n<table class=\"lines\">\n<tr><th>Line</th><th>V</th><th>Hz</th><th>A</th>"
            "<th>W</th><th>Load</th></tr>\n";
    auto row = [&html](const char* kind, std::size_t index, std::initializer_list<std::string> cells) {
        html += "<tr><th>";
        html += kind;
        html += ' ';
        html += std::to_string(index + 1);
        html += "</th>";
        for (const std::string& text : cells) {
            html += "<td class=\"n\">";
            html += text;
            html += "</td>";
        }
        html += "</tr>\n";
    };
    for (std::size_t i = 0; i < u.inputLines.size(); ++i) {
        const SInputLine& l = u.inputLines[i];
        row("Input", i, { IfMeasured(u, EMeasurement::InputVoltage, Number(l.voltage)),
                            u.Measures(EMeasurement::InputFrequency) ? Hertz(l.frequency) : kNotReported,
                            Scaled(l.current, 10), Number(l.truePower), "" });
    }
    for (std::size_t i = 0; i < u.outputLines.size(); ++i) {
        const SOutputLine& l = u.outputLines[i];
        row("Output", i, { IfMeasured(u, EMeasurement::OutputVoltage, Number(l.voltage)),
                             u.Measures(EMeasurement::OutputFrequency) ? Hertz(u.outputFrequency) : kNotReported,
                             IfMeasured(u, EMeasurement::OutputCurrent, Scaled(l.current, 10)),
                             IfMeasured(u, EMeasurement::OutputPower, Number(l.power)),
                             IfMeasured(u, EMeasurement::OutputLoad, Number(l.percentLoad) + " %") });
    }
    for (std::size_t i = 0; i < u.bypassLines.size(); ++i) {
        const SBypassLine& l = u.bypassLines[i];
        row("Bypass", i, { Number(l.voltage), Hertz(u.bypassFrequency), Scaled(l.current, 10), Number(l.power), "" });
    }
    html += "</table>\n";
}

void UpsPage(std::string& html, const SUPSReadings& u)
{
    html += "<p class=\"ident\">" + EscapeHtml(u.manufacturer) + " " + EscapeHtml(u.model) + ", firmware "
        + EscapeHtml(u.softwareVersion) + "</p>\n";
    html += std::string("<p class=\"state ") + SourceClass(u.outputSource) + "\">"
        + WordsOf(kSources, u.outputSource) + "</p>\n";
    html += "<h2>Battery</h2>\n<table>\n";
    Row(html, "Charge", u.chargeRemaining && u.Measures(EMeasurement::BatteryCharge) ? Number(*u.chargeRemaining) + " %"
                                                                                    : kNotReported);
    Row(html, "Runtime", IfMeasured(u, EMeasurement::Runtime, Duration(std::int64_t { u.minutesRemaining } * 60)));
    Row(html, "Status", WordsOf(kBatteryStatuses, u.batteryStatus));
    Row(html, "Voltage", IfMeasured(u, EMeasurement::BatteryVoltage, Scaled(u.batteryVoltage, 10) + " V"));
    Row(html, "Temperature", IfMeasured(u, EMeasurement::BatteryTemperature, Number(u.batteryTemperature) + " &deg;C"));
    if (u.secondsOnBattery > 0)
        Row(html, "On battery for", Duration(u.secondsOnBattery));
    Row(html, "Last test", WordsOf(kTestResults, u.testResultSummary));
    if (u.secondsToShutdown)
        Row(html, "Shutdown in", Duration(*u.secondsToShutdown));
    if (u.secondsToStartup)
        Row(html, "Start-up in", Duration(*u.secondsToStartup));
    html += "</table>\n";
    LinesTable(html, u);
    html += "<h2>Alarms</h2>\n";
    if (u.alarms.empty()) {
        html += "<p>None</p>\n";
    } else {
        html += "<ul>\n";
        for (const SAlarmReading& alarm : u.alarms)
            html += "<li>" + EscapeHtml(AlarmWords(alarm.descriptor)) + ", since " + Duration(alarm.secondsAgo)
                + "</li>\n";
        html += "</ul>\n";
    }
}

void HealthPage(std::string& html, const SStatusSnapshot& s)
{
    const SNetworkCounters& n = s.network;
    html += "<h2>pvx</h2>\n<table>\n";
    Row(html, "UPS connected", s.ups ? "yes" : "no");
    Row(html, "Last good poll",
        s.secondsSinceLastPoll ? Duration(*s.secondsSinceLastPoll) + " ago" : std::string("never"));
    Row(html, "Polls (failed)",
        std::to_string(s.polls.polls) + " (" + std::to_string(s.polls.failedPolls) + ")");
    Row(html, "SNMP requests served", std::to_string(n.snmpServed));
    Row(html, "SNMP requests dropped",
        std::to_string(n.snmpNotReadManager + n.snmpNotSetManager + n.snmpBadCommunity + n.snmpUnserved));
    Row(html, "Relay datagrams served", std::to_string(n.relayServed));
    Row(html, "Traps sent", std::to_string(n.trapsSent));
    html += "</table>\n";
}

// The heading: the UPS's name, kept from the last UPS seen (or the
// configuration) while none is connected.
std::string Heading(const SStatusSnapshot& s)
{
    if (s.ups && !(s.ups->name.empty() && s.ups->model.empty()))
        return s.ups->name.empty() ? s.ups->model : s.ups->name;
    if (s.records != nullptr && !s.records->name.empty())
        return s.records->name;
    return "pvx";
}

void NoUpsPage(std::string& html, const SStatusSnapshot& s)
{
    html += "<p class=\"state unknown\">No UPS connected</p>\n";
    if (s.records == nullptr || !s.records->noUpsSince)
        return;
    const std::time_t since = *s.records->noUpsSince;
    html += "<p class=\"since\">No UPS connected since " + LocalTimeText(since) + " ("
        + Duration(std::max<std::int64_t>(0, s.wallNow - since)) + " ago)</p>\n";
}

} // namespace

std::string RenderPage(const SStatusSnapshot& status)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<meta http-equiv=\"refresh\" content=\"10\">\n<title>";
    const std::string heading = EscapeHtml(Heading(status));
    html += heading;
    html += " - UPS status</title>\n<style>";
    html += kStyle;
    html += "</style>\n</head>\n<body>\n";
    html += "<h1>" + heading + "</h1>\n";
    if (status.ups)
        UpsPage(html, *status.ups);
    else
        NoUpsPage(html, status);
    if (status.records != nullptr) {
        RenderEventTable(html, status.records->events, 20);
        RenderCharts(html, status.records->history, status.wallNow);
    }
    HealthPage(html, status);
    html += "<footer>pvx " PVX_VERSION;
    if (status.wallNow != 0)
        html += " &middot; page of " + LocalTimeText(status.wallNow);
    html += "</footer>\n</body>\n</html>\n";
    return html;
}

} // namespace pvx
