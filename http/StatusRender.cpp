// Metrics, page and JSON from one snapshot. Numbers the model keeps in tenths
// or percent are written as exact decimals (no floating point on the way), in
// the units the names carry.
#include "http/StatusRender.h"

#include <array>
#include <cstdio>

namespace pvx {

namespace {

struct SName {
    int code;
    const char* key; // label value and JSON value
    const char* words; // on the page
};

// upsOutputSource (RFC 1628) with the words and colour class of the page.
constexpr std::array<SName, 7> kSources { {
    { 1, "other", "Unknown output source" },
    { 2, "none", "Output off" },
    { 3, "normal", "On line" },
    { 4, "bypass", "On bypass" },
    { 5, "battery", "On battery" },
    { 6, "booster", "On line, boosting" },
    { 7, "reducer", "On line, reducing" },
} };

constexpr std::array<SName, 4> kBatteryStatuses { {
    { 1, "unknown", "Unknown" },
    { 2, "normal", "Normal" },
    { 3, "low", "Low" },
    { 4, "depleted", "Depleted" },
} };

constexpr std::array<SName, 6> kTestResults { {
    { 1, "donePass", "Passed" },
    { 2, "doneWarning", "Passed with a warning" },
    { 3, "doneError", "Failed" },
    { 4, "aborted", "Aborted" },
    { 5, "inProgress", "In progress" },
    { 6, "noTestsInitiated", "No test run" },
} };

// RFC 1628 upsWellKnownAlarms, 1.3.6.1.2.1.33.1.6.3.N.
constexpr std::array<SName, 24> kAlarms { {
    { 1, "batteryBad", "Battery bad" },
    { 2, "onBattery", "On battery" },
    { 3, "lowBattery", "Low battery" },
    { 4, "depletedBattery", "Battery depleted" },
    { 5, "tempBad", "Temperature out of range" },
    { 6, "inputBad", "Input out of range" },
    { 7, "outputBad", "Output out of range" },
    { 8, "outputOverload", "Output overload" },
    { 9, "onBypass", "On bypass" },
    { 10, "bypassBad", "Bypass out of range" },
    { 11, "outputOffAsRequested", "Output off as requested" },
    { 12, "upsOffAsRequested", "UPS off as requested" },
    { 13, "chargerFailed", "Charger failed" },
    { 14, "upsOutputOff", "Output off" },
    { 15, "upsSystemOff", "UPS system off" },
    { 16, "fanFailure", "Fan failure" },
    { 17, "fuseFailure", "Fuse failure" },
    { 18, "generalFault", "General fault" },
    { 19, "diagnosticTestFailed", "Diagnostic test failed" },
    { 20, "communicationsLost", "Communications lost" },
    { 21, "awaitingPower", "Awaiting power" },
    { 22, "shutdownPending", "Shutdown pending" },
    { 23, "shutdownImminent", "Shutdown imminent" },
    { 24, "testInProgress", "Test in progress" },
} };

template <std::size_t N> const SName* Find(const std::array<SName, N>& names, int code)
{
    for (const SName& name : names)
        if (name.code == code)
            return &name;
    return nullptr;
}

template <std::size_t N> std::string KeyOf(const std::array<SName, N>& names, int code)
{
    const SName* name = Find(names, code);
    return name ? name->key : std::to_string(code);
}

template <std::size_t N> std::string WordsOf(const std::array<SName, N>& names, int code)
{
    const SName* name = Find(names, code);
    return name ? name->words : std::to_string(code);
}

// The N of a well-known alarm 1.3.6.1.2.1.33.1.6.3.N, or 0.
int WellKnownAlarm(const COid& descriptor)
{
    constexpr std::uint32_t kPrefix[] = { 2, 1, 33, 1, 6, 3 };
    if (descriptor.Size() != std::size(kPrefix) + 2)
        return 0;
    for (std::size_t i = 0; i < std::size(kPrefix); ++i)
        if (descriptor[i] != kPrefix[i])
            return 0;
    return Find(kAlarms, static_cast<int>(descriptor[6])) ? static_cast<int>(descriptor[6]) : 0;
}

std::string AlarmWords(const COid& descriptor)
{
    const int n = WellKnownAlarm(descriptor);
    return n != 0 ? WordsOf(kAlarms, n) : descriptor.ToString();
}

// `value` / `divisor` (10 or 100) as an exact decimal without trailing zeros.
std::string Scaled(std::int64_t value, int divisor)
{
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    // Built piece by piece: gcc 12 at -O3 reports a false -Wrestrict on "-" + text.
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / static_cast<std::uint64_t>(divisor));
    std::uint64_t fraction = magnitude % static_cast<std::uint64_t>(divisor);
    if (fraction == 0)
        return text;
    std::string digits = std::to_string(fraction);
    if (divisor == 100 && fraction < 10)
        digits = "0" + digits;
    while (digits.back() == '0')
        digits.pop_back();
    return text + "." + digits;
}

std::string Number(std::int64_t value)
{
    return std::to_string(value);
}

// ---- Metrics -----------------------------------------------------------------------------

class CMetrics {
public:
    void Family(const char* name, const char* type, const char* help)
    {
        m_text += "# HELP ";
        m_text += name;
        m_text += ' ';
        m_text += help;
        m_text += "\n# TYPE ";
        m_text += name;
        m_text += ' ';
        m_text += type;
        m_text += '\n';
    }
    void Sample(const char* name, const std::string& value) { Sample(name, "", value); }
    // `labels` as written between the braces, values already escaped.
    void Sample(const char* name, const std::string& labels, const std::string& value)
    {
        m_text += name;
        if (!labels.empty())
            m_text += "{" + labels + "}";
        m_text += ' ';
        m_text += value;
        m_text += '\n';
    }
    // One family with one sample.
    void Single(const char* name, const char* type, const char* help, const std::string& value)
    {
        Family(name, type, help);
        Sample(name, value);
    }
    template <std::size_t N>
    void StateSet(const char* name, const char* label, const char* help, const std::array<SName, N>& states, int code)
    {
        Family(name, "gauge", help);
        for (const SName& state : states)
            Sample(name, std::string(label) + "=\"" + state.key + "\"", state.code == code ? "1" : "0");
    }
    // One family, one sample per line, labelled line="1".."n".
    template <typename Line, typename Value>
    void PerLine(const char* name, const char* help, const std::vector<Line>& lines, Value value)
    {
        if (lines.empty())
            return;
        Family(name, "gauge", help);
        for (std::size_t i = 0; i < lines.size(); ++i)
            Sample(name, "line=\"" + std::to_string(i + 1) + "\"", value(lines[i]));
    }
    std::string Take() { return std::move(m_text); }

private:
    std::string m_text;
};

void UpsMetrics(CMetrics& m, const SUPSReadings& u)
{
    m.Family("pvx_ups_info", "gauge", "Identity of the UPS; the value is always 1.");
    m.Sample("pvx_ups_info",
        "manufacturer=\"" + EscapeLabelValue(u.manufacturer) + "\",model=\"" + EscapeLabelValue(u.model)
            + "\",software_version=\"" + EscapeLabelValue(u.softwareVersion) + "\",name=\""
            + EscapeLabelValue(u.name) + "\"",
        "1");
    m.StateSet("pvx_ups_output_source", "source", "Present source of the output (1 for the present one).", kSources,
        u.outputSource);
    m.StateSet("pvx_ups_battery_status", "status", "Battery status (1 for the present one).", kBatteryStatuses,
        u.batteryStatus);
    if (u.chargeRemaining)
        m.Single("pvx_ups_battery_charge_ratio", "gauge", "Estimated battery charge, 0 to 1.",
            Scaled(*u.chargeRemaining, 100));
    m.Single("pvx_ups_battery_runtime_seconds", "gauge", "Estimated time the battery can carry the load.",
        Number(std::int64_t { u.minutesRemaining } * 60));
    m.Single("pvx_ups_battery_volts", "gauge", "Battery voltage (DC).", Scaled(u.batteryVoltage, 10));
    m.Single("pvx_ups_battery_current_amperes", "gauge", "Battery current (DC).", Scaled(u.batteryCurrent, 10));
    m.Single("pvx_ups_battery_temperature_celsius", "gauge", "Battery temperature.", Number(u.batteryTemperature));
    m.Single("pvx_ups_ambient_temperature_celsius", "gauge", "Ambient temperature.", Number(u.ambientTemperature));
    m.Single("pvx_ups_on_battery_seconds", "gauge", "Time on battery, 0 while not on battery.",
        Number(u.secondsOnBattery));
    m.Single("pvx_ups_input_line_bads_total", "counter", "Times the input went out of tolerance.",
        Number(u.inputLineBads));
    m.PerLine("pvx_ups_input_volts", "Input voltage (RMS).", u.inputLines,
        [](const SInputLine& l) { return Number(l.voltage); });
    m.PerLine("pvx_ups_input_hertz", "Input frequency.", u.inputLines,
        [](const SInputLine& l) { return Scaled(l.frequency, 10); });
    m.PerLine("pvx_ups_input_current_amperes", "Input current (RMS).", u.inputLines,
        [](const SInputLine& l) { return Scaled(l.current, 10); });
    m.PerLine("pvx_ups_input_power_watts", "Input true power.", u.inputLines,
        [](const SInputLine& l) { return Number(l.truePower); });
    m.Single("pvx_ups_output_hertz", "gauge", "Output frequency.", Scaled(u.outputFrequency, 10));
    m.PerLine("pvx_ups_output_volts", "Output voltage (RMS).", u.outputLines,
        [](const SOutputLine& l) { return Number(l.voltage); });
    m.PerLine("pvx_ups_output_current_amperes", "Output current (RMS).", u.outputLines,
        [](const SOutputLine& l) { return Scaled(l.current, 10); });
    m.PerLine("pvx_ups_output_power_watts", "Output true power.", u.outputLines,
        [](const SOutputLine& l) { return Number(l.power); });
    m.PerLine("pvx_ups_output_load_ratio", "Output load as a part of the rated load, 0 to 1 (more when overloaded).",
        u.outputLines, [](const SOutputLine& l) { return Scaled(l.percentLoad, 100); });
    m.Single("pvx_ups_bypass_hertz", "gauge", "Bypass frequency.", Scaled(u.bypassFrequency, 10));
    m.PerLine("pvx_ups_bypass_volts", "Bypass voltage (RMS).", u.bypassLines,
        [](const SBypassLine& l) { return Number(l.voltage); });
    m.PerLine("pvx_ups_bypass_current_amperes", "Bypass current (RMS).", u.bypassLines,
        [](const SBypassLine& l) { return Scaled(l.current, 10); });
    m.PerLine("pvx_ups_bypass_power_watts", "Bypass true power.", u.bypassLines,
        [](const SBypassLine& l) { return Number(l.power); });
    m.Single("pvx_ups_alarms_present", "gauge", "Number of active alarms.", Number(std::ssize(u.alarms)));
    m.Family("pvx_ups_alarm", "gauge", "Active alarms, one series each; the value is always 1.");
    for (const SAlarmReading& alarm : u.alarms)
        m.Sample("pvx_ups_alarm", "alarm=\"" + EscapeLabelValue(AlarmName(alarm.descriptor)) + "\"", "1");
    m.StateSet("pvx_ups_test_result", "result", "Result of the last self-test (1 for the present one).",
        kTestResults, u.testResultSummary);
    m.Single("pvx_ups_shutdown_scheduled", "gauge", "1 while an output shutdown is scheduled.",
        u.secondsToShutdown ? "1" : "0");
    if (u.secondsToShutdown)
        m.Single("pvx_ups_shutdown_remaining_seconds", "gauge", "Time until the scheduled shutdown.",
            Number(*u.secondsToShutdown));
    m.Single("pvx_ups_startup_scheduled", "gauge", "1 while an output start-up is scheduled.",
        u.secondsToStartup ? "1" : "0");
    if (u.secondsToStartup)
        m.Single("pvx_ups_startup_remaining_seconds", "gauge", "Time until the scheduled start-up.",
            Number(*u.secondsToStartup));
}

void HealthMetrics(CMetrics& m, const SStatusSnapshot& s)
{
    const SNetworkCounters& n = s.network;
    m.Single("pvx_ups_connected", "gauge", "1 while pvx talks to a UPS.", s.ups ? "1" : "0");
    m.Single("pvx_ups_polls_total", "counter", "Polls of the UPS, identification included.", Number(
        static_cast<std::int64_t>(s.polls.polls)));
    m.Single("pvx_ups_polls_failed_total", "counter", "Polls of the UPS that failed.",
        Number(static_cast<std::int64_t>(s.polls.failedPolls)));
    if (s.secondsSinceLastPoll)
        m.Single("pvx_ups_last_successful_poll_age_seconds", "gauge", "Time since the last successful poll.",
            Number(*s.secondsSinceLastPoll));
    auto count = [](std::uint64_t value) { return Number(static_cast<std::int64_t>(value)); };
    m.Single("pvx_snmp_requests_served_total", "counter", "SNMP requests answered, error replies included.",
        count(n.snmpServed));
    m.Family("pvx_snmp_requests_dropped_total", "counter", "SNMP requests dropped without an answer, by reason.");
    m.Sample("pvx_snmp_requests_dropped_total", "reason=\"not_read_manager\"", count(n.snmpNotReadManager));
    m.Sample("pvx_snmp_requests_dropped_total", "reason=\"not_set_manager\"", count(n.snmpNotSetManager));
    m.Sample("pvx_snmp_requests_dropped_total", "reason=\"bad_community\"", count(n.snmpBadCommunity));
    m.Sample("pvx_snmp_requests_dropped_total", "reason=\"unserved\"", count(n.snmpUnserved));
    m.Single("pvx_snmp_trap_registrations_refused_total", "counter", "Trap registrations refused by the bound.",
        count(n.snmpRegistrationsRefused));
    m.Single("pvx_snmp_traps_sent_total", "counter", "Trap datagrams sent.", count(n.trapsSent));
    m.Single("pvx_snmp_auth_traps_suppressed_total", "counter",
        "authenticationFailure traps held back by the rate bound.", count(n.authTrapsSuppressed));
    m.Single("pvx_relay_datagrams_served_total", "counter", "Relay datagrams served.", count(n.relayServed));
    m.Family("pvx_relay_datagrams_dropped_total", "counter", "Relay datagrams dropped, by reason.");
    m.Sample("pvx_relay_datagrams_dropped_total", "reason=\"not_client\"", count(n.relayNotClient));
    m.Sample("pvx_relay_datagrams_dropped_total", "reason=\"no_ups\"", count(n.relayNoUps));
}

// ---- Page ----------------------------------------------------------------------------------

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
                                    "ul{padding-left:1.2em}.lines th,.lines td{white-space:nowrap}.lines th+th{text-align:right}";

void LinesTable(std::string& html, const SUPSReadings& u)
{
    // Units in the header keep the table narrow enough for a phone.
    html += "<h2>Lines</h2>\n<table class=\"lines\">\n<tr><th>Line</th><th>V</th><th>Hz</th><th>A</th>"
            "<th>W</th><th>Load</th></tr>\n";
    auto cell = [&html](const std::string& text) { html += "<td class=\"n\">" + text + "</td>"; };
    for (std::size_t i = 0; i < u.inputLines.size(); ++i) {
        const SInputLine& l = u.inputLines[i];
        html += "<tr><th>Input " + std::to_string(i + 1) + "</th>";
        cell(Number(l.voltage));
        cell(Scaled(l.frequency, 10));
        cell(Scaled(l.current, 10));
        cell(Number(l.truePower));
        cell("");
        html += "</tr>\n";
    }
    for (std::size_t i = 0; i < u.outputLines.size(); ++i) {
        const SOutputLine& l = u.outputLines[i];
        html += "<tr><th>Output " + std::to_string(i + 1) + "</th>";
        cell(Number(l.voltage));
        cell(Scaled(u.outputFrequency, 10));
        cell(Scaled(l.current, 10));
        cell(Number(l.power));
        cell(Number(l.percentLoad) + " %");
        html += "</tr>\n";
    }
    for (std::size_t i = 0; i < u.bypassLines.size(); ++i) {
        const SBypassLine& l = u.bypassLines[i];
        html += "<tr><th>Bypass " + std::to_string(i + 1) + "</th>";
        cell(Number(l.voltage));
        cell(Scaled(u.bypassFrequency, 10));
        cell(Scaled(l.current, 10));
        cell(Number(l.power));
        cell("");
        html += "</tr>\n";
    }
    html += "</table>\n";
}

void UpsPage(std::string& html, const SUPSReadings& u)
{
    html += "<h1>" + EscapeHtml(u.name.empty() ? u.model : u.name) + "</h1>\n";
    html += "<p class=\"ident\">" + EscapeHtml(u.manufacturer) + " " + EscapeHtml(u.model) + ", firmware "
        + EscapeHtml(u.softwareVersion) + "</p>\n";
    html += std::string("<p class=\"state ") + SourceClass(u.outputSource) + "\">"
        + WordsOf(kSources, u.outputSource) + "</p>\n";
    html += "<h2>Battery</h2>\n<table>\n";
    Row(html, "Charge", u.chargeRemaining ? Number(*u.chargeRemaining) + " %" : "unknown");
    Row(html, "Runtime", Duration(std::int64_t { u.minutesRemaining } * 60));
    Row(html, "Status", WordsOf(kBatteryStatuses, u.batteryStatus));
    Row(html, "Voltage", Scaled(u.batteryVoltage, 10) + " V");
    Row(html, "Temperature", Number(u.batteryTemperature) + " &deg;C");
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

// ---- JSON ----------------------------------------------------------------------------------

class CJson {
public:
    void Open(char c)
    {
        Separate();
        m_text += c;
        m_first = true;
    }
    void Close(char c)
    {
        m_text += c;
        m_first = false;
    }
    void Key(std::string_view key)
    {
        Separate();
        m_text += '"';
        m_text += EscapeJson(key);
        m_text += "\":";
        m_first = true; // the value follows without a comma
    }
    void Raw(const std::string& value)
    {
        Separate();
        m_text += value;
    }
    void String(std::string_view value)
    {
        Separate();
        m_text += '"';
        m_text += EscapeJson(value);
        m_text += '"';
    }
    void Field(std::string_view key, const std::string& raw)
    {
        Key(key);
        Raw(raw);
    }
    void Text(std::string_view key, std::string_view value)
    {
        Key(key);
        String(value);
    }
    std::string Take() { return std::move(m_text); }

private:
    void Separate()
    {
        if (!m_first)
            m_text += ',';
        m_first = false;
    }
    std::string m_text;
    bool m_first = true;
};

void UpsJson(CJson& j, const SUPSReadings& u)
{
    j.Open('{');
    j.Text("manufacturer", u.manufacturer);
    j.Text("model", u.model);
    j.Text("software_version", u.softwareVersion);
    j.Text("name", u.name);
    j.Text("attached_devices", u.attachedDevices);
    j.Text("output_source", KeyOf(kSources, u.outputSource));
    j.Text("state", WordsOf(kSources, u.outputSource));
    j.Text("battery_status", KeyOf(kBatteryStatuses, u.batteryStatus));
    j.Field("battery_charge_percent", u.chargeRemaining ? Number(*u.chargeRemaining) : "null");
    j.Field("battery_runtime_seconds", Number(std::int64_t { u.minutesRemaining } * 60));
    j.Field("battery_volts", Scaled(u.batteryVoltage, 10));
    j.Field("battery_current_amperes", Scaled(u.batteryCurrent, 10));
    j.Field("battery_temperature_celsius", Number(u.batteryTemperature));
    j.Field("ambient_temperature_celsius", Number(u.ambientTemperature));
    j.Field("on_battery_seconds", Number(u.secondsOnBattery));
    j.Field("input_line_bads", Number(u.inputLineBads));
    j.Key("input");
    j.Open('[');
    for (const SInputLine& l : u.inputLines) {
        j.Open('{');
        j.Field("volts", Number(l.voltage));
        j.Field("hertz", Scaled(l.frequency, 10));
        j.Field("amperes", Scaled(l.current, 10));
        j.Field("watts", Number(l.truePower));
        j.Close('}');
    }
    j.Close(']');
    j.Field("output_hertz", Scaled(u.outputFrequency, 10));
    j.Key("output");
    j.Open('[');
    for (const SOutputLine& l : u.outputLines) {
        j.Open('{');
        j.Field("volts", Number(l.voltage));
        j.Field("amperes", Scaled(l.current, 10));
        j.Field("watts", Number(l.power));
        j.Field("load_percent", Number(l.percentLoad));
        j.Close('}');
    }
    j.Close(']');
    j.Field("bypass_hertz", Scaled(u.bypassFrequency, 10));
    j.Key("bypass");
    j.Open('[');
    for (const SBypassLine& l : u.bypassLines) {
        j.Open('{');
        j.Field("volts", Number(l.voltage));
        j.Field("amperes", Scaled(l.current, 10));
        j.Field("watts", Number(l.power));
        j.Close('}');
    }
    j.Close(']');
    j.Key("alarms");
    j.Open('[');
    for (const SAlarmReading& alarm : u.alarms) {
        j.Open('{');
        j.Field("id", Number(alarm.id));
        j.Text("alarm", AlarmName(alarm.descriptor));
        j.Text("text", AlarmWords(alarm.descriptor));
        j.Field("seconds_ago", Number(alarm.secondsAgo));
        j.Close('}');
    }
    j.Close(']');
    j.Text("test_result", KeyOf(kTestResults, u.testResultSummary));
    j.Text("test_result_detail", u.testResultDetail);
    j.Field("shutdown_in_seconds", u.secondsToShutdown ? Number(*u.secondsToShutdown) : "null");
    j.Field("startup_in_seconds", u.secondsToStartup ? Number(*u.secondsToStartup) : "null");
    j.Close('}');
}

void HealthJson(CJson& j, const SStatusSnapshot& s)
{
    const SNetworkCounters& n = s.network;
    auto count = [](std::uint64_t value) { return std::to_string(value); };
    j.Open('{');
    j.Field("ups_connected", s.ups ? "true" : "false");
    j.Field("polls", count(s.polls.polls));
    j.Field("polls_failed", count(s.polls.failedPolls));
    j.Field("last_successful_poll_age_seconds", s.secondsSinceLastPoll ? Number(*s.secondsSinceLastPoll) : "null");
    j.Field("snmp_requests_served", count(n.snmpServed));
    j.Key("snmp_requests_dropped");
    j.Open('{');
    j.Field("not_read_manager", count(n.snmpNotReadManager));
    j.Field("not_set_manager", count(n.snmpNotSetManager));
    j.Field("bad_community", count(n.snmpBadCommunity));
    j.Field("unserved", count(n.snmpUnserved));
    j.Close('}');
    j.Field("snmp_trap_registrations_refused", count(n.snmpRegistrationsRefused));
    j.Field("snmp_traps_sent", count(n.trapsSent));
    j.Field("snmp_auth_traps_suppressed", count(n.authTrapsSuppressed));
    j.Field("relay_datagrams_served", count(n.relayServed));
    j.Key("relay_datagrams_dropped");
    j.Open('{');
    j.Field("not_client", count(n.relayNotClient));
    j.Field("no_ups", count(n.relayNoUps));
    j.Close('}');
    j.Close('}');
}

} // namespace

SStatusSnapshot TakeSnapshot(const CAbstractUPS* ups, const SPollCounters& polls, const SNetworkCounters& network,
                             std::int64_t nowMs)
{
    SStatusSnapshot s;
    if (ups != nullptr && ups->IsConnected())
        s.ups = ups->GetReadings();
    s.polls = polls;
    if (polls.lastSuccess)
        s.secondsSinceLastPoll = (nowMs - *polls.lastSuccess) / 1000;
    s.network = network;
    return s;
}

std::string RenderMetrics(const SStatusSnapshot& status)
{
    CMetrics m;
    if (status.ups)
        UpsMetrics(m, *status.ups);
    HealthMetrics(m, status);
    return m.Take();
}

std::string RenderPage(const SStatusSnapshot& status)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<meta http-equiv=\"refresh\" content=\"10\">\n<title>";
    html += status.ups ? EscapeHtml(status.ups->name.empty() ? status.ups->model : status.ups->name) : "pvx";
    html += " - UPS status</title>\n<style>";
    html += kStyle;
    html += "</style>\n</head>\n<body>\n";
    if (status.ups) {
        UpsPage(html, *status.ups);
    } else {
        html += "<h1>pvx</h1>\n<p class=\"state unknown\">No UPS connected</p>\n";
    }
    HealthPage(html, status);
    html += "</body>\n</html>\n";
    return html;
}

std::string RenderJson(const SStatusSnapshot& status)
{
    CJson j;
    j.Open('{');
    j.Key("ups");
    if (status.ups)
        UpsJson(j, *status.ups);
    else
        j.Raw("null");
    j.Key("pvx");
    HealthJson(j, status);
    j.Close('}');
    return j.Take() + "\n";
}

std::string EscapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string EscapeJson(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (byte >= 0x80) {
            // The UPS's texts are not known to be UTF-8; a stray byte would
            // make the whole document invalid, so it is replaced.
            out += "\\ufffd";
        } else {
            out += c;
        }
    }
    return out;
}

std::string EscapeLabelValue(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) >= 0x80)
            out += "\xEF\xBF\xBD"; // U+FFFD: the UPS's texts are not known to be UTF-8
        else
            out += c;
    }
    return out;
}

std::string AlarmName(const COid& descriptor)
{
    const int n = WellKnownAlarm(descriptor);
    return n != 0 ? KeyOf(kAlarms, n) : descriptor.ToString();
}

} // namespace pvx
