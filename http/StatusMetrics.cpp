// The status in the text exposition format for metrics scrapers: one
// family per value, labels escaped, numbers as exact decimals.
#include "http/StatusRender.h"

#include "http/StatusNames.h"

namespace pvx {

using namespace status;

namespace {

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
    // A value the UPS does not report has no series: a scraper would take its 0 for a reading.
    const auto measured = [&m, &u](EMeasurement value, const char* name, const char* help, std::string text) {
        if (u.Measures(value))
            m.Single(name, "gauge", help, text);
    };
    measured(EMeasurement::Runtime, "pvx_ups_battery_runtime_seconds", "Estimated time the battery can carry the load.",
        Number(std::int64_t { u.minutesRemaining } * 60));
    measured(EMeasurement::BatteryVoltage, "pvx_ups_battery_volts", "Battery voltage (DC).", Scaled(u.batteryVoltage, 10));
    m.Single("pvx_ups_battery_current_amperes", "gauge", "Battery current (DC).", Scaled(u.batteryCurrent, 10));
    measured(EMeasurement::BatteryTemperature, "pvx_ups_battery_temperature_celsius", "Battery temperature.",
        Number(u.batteryTemperature));
    m.Single("pvx_ups_ambient_temperature_celsius", "gauge", "Ambient temperature.", Number(u.ambientTemperature));
    m.Single("pvx_ups_on_battery_seconds", "gauge", "Time on battery, 0 while not on battery.",
        Number(u.secondsOnBattery));
    m.Single("pvx_ups_input_line_bads_total", "counter", "Times the input went out of tolerance.",
        Number(u.inputLineBads));
    // The readings every kind of line has, in the model's units.
    const auto volts = [](const auto& l) { return Number(l.voltage); };
    const auto amperes = [](const auto& l) { return Scaled(l.current, 10); };
    const auto watts = [](const auto& l) { return Number(l.power); };
    m.PerLine("pvx_ups_input_volts", "Input voltage (RMS).", u.inputLines, volts);
    m.PerLine("pvx_ups_input_hertz", "Input frequency.", u.inputLines,
        [](const SInputLine& l) { return Scaled(l.frequency, 10); });
    m.PerLine("pvx_ups_input_current_amperes", "Input current (RMS).", u.inputLines, amperes);
    m.PerLine("pvx_ups_input_power_watts", "Input true power.", u.inputLines,
        [](const SInputLine& l) { return Number(l.truePower); });
    measured(EMeasurement::OutputFrequency, "pvx_ups_output_hertz", "Output frequency.", Scaled(u.outputFrequency, 10));
    m.PerLine("pvx_ups_output_volts", "Output voltage (RMS).", u.outputLines, volts);
    m.PerLine("pvx_ups_output_current_amperes", "Output current (RMS).", u.outputLines, amperes);
    m.PerLine("pvx_ups_output_power_watts", "Output true power.", u.outputLines, watts);
    m.PerLine("pvx_ups_output_load_ratio", "Output load as a part of the rated load, 0 to 1 (more when overloaded).",
        u.outputLines, [](const SOutputLine& l) { return Scaled(l.percentLoad, 100); });
    m.Single("pvx_ups_bypass_hertz", "gauge", "Bypass frequency.", Scaled(u.bypassFrequency, 10));
    m.PerLine("pvx_ups_bypass_volts", "Bypass voltage (RMS).", u.bypassLines, volts);
    m.PerLine("pvx_ups_bypass_current_amperes", "Bypass current (RMS).", u.bypassLines, amperes);
    m.PerLine("pvx_ups_bypass_power_watts", "Bypass true power.", u.bypassLines, watts);
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
    m.Family("pvx_build_info", "gauge", "Version of pvx; the value is always 1.");
    m.Sample("pvx_build_info", "version=\"" + EscapeLabelValue(PVX_VERSION) + "\"", "1");
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
    m.Family("pvx_snmp_informs_total", "counter", "Informs by what became of them.");
    m.Sample("pvx_snmp_informs_total", "outcome=\"acknowledged\"", count(n.informsAcknowledged));
    m.Sample("pvx_snmp_informs_total", "outcome=\"retried\"", count(n.informsRetried));
    m.Sample("pvx_snmp_informs_total", "outcome=\"given_up\"", count(n.informsGivenUp));
    m.Sample("pvx_snmp_informs_total", "outcome=\"dropped\"", count(n.informsDropped));
    m.Single("pvx_relay_datagrams_served_total", "counter", "Relay datagrams served.", count(n.relayServed));
    m.Family("pvx_relay_datagrams_dropped_total", "counter", "Relay datagrams dropped, by reason.");
    m.Sample("pvx_relay_datagrams_dropped_total", "reason=\"not_client\"", count(n.relayNotClient));
    m.Sample("pvx_relay_datagrams_dropped_total", "reason=\"no_ups\"", count(n.relayNoUps));
    m.Family("pvx_relay_password_frames_total", "counter",
        "Relay password frames, by result (ignored: their source pauses after wrong ones).");
    m.Sample("pvx_relay_password_frames_total", "result=\"right\"", count(n.relayPasswordsRight));
    m.Sample("pvx_relay_password_frames_total", "result=\"wrong\"", count(n.relayPasswordsWrong));
    m.Sample("pvx_relay_password_frames_total", "result=\"ignored\"", count(n.relayPasswordsIgnored));
    m.Single("pvx_relay_identity_lines_held_back_total", "counter",
        "Identity query lines not written: at most one per source a minute.", count(n.relayIdentityLinesHeldBack));
}

} // namespace

std::string RenderMetrics(const SStatusSnapshot& status)
{
    CMetrics m;
    if (status.ups)
        UpsMetrics(m, *status.ups);
    HealthMetrics(m, status);
    return m.Take();
}

} // namespace pvx
