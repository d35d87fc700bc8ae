// The status as one JSON object: the UPS's readings and pvx's own health.
#include "http/StatusRender.h"

#include "http/StatusNames.h"

#include <initializer_list>
#include <utility>

namespace pvx {

using namespace status;

namespace {

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
    // An array of objects under `key`, one for each item, whose fields
    // `fields` writes.
    template <typename Items, typename Fields> void Objects(std::string_view key, const Items& items, Fields fields)
    {
        Key(key);
        Open('[');
        for (const auto& item : items) {
            Open('{');
            fields(item);
            Close('}');
        }
        Close(']');
    }
    // An object of counters under `key`, in the order given.
    void Counters(std::string_view key, std::initializer_list<std::pair<std::string_view, std::uint64_t>> counters)
    {
        Key(key);
        Open('{');
        for (const auto& [name, value] : counters)
            Field(name, std::to_string(value));
        Close('}');
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
    // A value the UPS does not report is null, as the charge is, never a reading of 0.
    const auto measured = [&u](EMeasurement value, std::string text) { return u.Measures(value) ? text : "null"; };
    j.Field("battery_runtime_seconds", measured(EMeasurement::Runtime, Number(std::int64_t { u.minutesRemaining } * 60)));
    j.Field("battery_volts", measured(EMeasurement::BatteryVoltage, Scaled(u.batteryVoltage, 10)));
    j.Field("battery_current_amperes", Scaled(u.batteryCurrent, 10));
    j.Field("battery_temperature_celsius", measured(EMeasurement::BatteryTemperature, Number(u.batteryTemperature)));
    j.Field("ambient_temperature_celsius", Number(u.ambientTemperature));
    j.Field("on_battery_seconds", Number(u.secondsOnBattery));
    j.Field("input_line_bads", Number(u.inputLineBads));
    j.Objects("input", u.inputLines, [&j](const SInputLine& l) {
        j.Field("volts", Number(l.voltage));
        j.Field("hertz", Scaled(l.frequency, 10));
        j.Field("amperes", Scaled(l.current, 10));
        j.Field("watts", Number(l.truePower));
    });
    // What an output line and a bypass line both have.
    const auto power = [&j](const auto& l) {
        j.Field("volts", Number(l.voltage));
        j.Field("amperes", Scaled(l.current, 10));
        j.Field("watts", Number(l.power));
    };
    j.Field("output_hertz", measured(EMeasurement::OutputFrequency, Scaled(u.outputFrequency, 10)));
    j.Objects("output", u.outputLines, [&j, &power](const SOutputLine& l) {
        power(l);
        j.Field("load_percent", Number(l.percentLoad));
    });
    j.Field("bypass_hertz", Scaled(u.bypassFrequency, 10));
    j.Objects("bypass", u.bypassLines, power);
    j.Objects("alarms", u.alarms, [&j](const SAlarmReading& alarm) {
        j.Field("id", Number(alarm.id));
        j.Text("alarm", AlarmName(alarm.descriptor));
        j.Text("text", AlarmWords(alarm.descriptor));
        j.Field("seconds_ago", Number(alarm.secondsAgo));
    });
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
    j.Counters("snmp_requests_dropped",
        { { "not_read_manager", n.snmpNotReadManager }, { "not_set_manager", n.snmpNotSetManager },
          { "bad_community", n.snmpBadCommunity }, { "unserved", n.snmpUnserved } });
    j.Field("snmp_trap_registrations_refused", count(n.snmpRegistrationsRefused));
    j.Field("snmp_traps_sent", count(n.trapsSent));
    j.Field("snmp_auth_traps_suppressed", count(n.authTrapsSuppressed));
    j.Counters("snmp_informs", { { "acknowledged", n.informsAcknowledged }, { "retried", n.informsRetried },
                                 { "given_up", n.informsGivenUp }, { "dropped", n.informsDropped } });
    j.Field("relay_datagrams_served", count(n.relayServed));
    j.Counters("relay_datagrams_dropped", { { "not_client", n.relayNotClient }, { "no_ups", n.relayNoUps } });
    j.Close('}');
}

} // namespace

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

} // namespace pvx
