// Reading the UPS simulator's configuration file.
#include "tools/upssim/SimConfig.h"

#include "xcp/link/XCPCommandTable.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <utility>

namespace pvx::upssim {

namespace {

// Frequencies go out as fixed-point numbers with three fraction bits.
constexpr std::uint8_t kFrequencyFormat = kXCPMeterScaled | 3;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> Words(std::string_view text)
{
    std::vector<std::string_view> words;
    while (true) {
        text = Trim(text);
        if (text.empty())
            break;
        std::size_t end = text.find_first_of(" \t");
        words.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end);
    }
    return words;
}

bool ParseUnsigned(std::string_view word, std::uint32_t& value, std::uint32_t maximum)
{
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
        base = 16;
    }
    std::uint32_t parsed = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), parsed, base);
    if (ec != std::errc() || end != word.data() + word.size() || word.empty() || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

bool ParseDouble(std::string_view word, double& value)
{
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && end == word.data() + word.size() && !word.empty();
}

// One of two words: `yes` sets the flag, `no` clears it; false for any other.
bool ParseEither(std::string_view word, std::string_view yes, std::string_view no, bool& value)
{
    if (word != yes && word != no)
        return false;
    value = word == yes;
    return true;
}

bool ParseBool(std::string_view word, bool& value)
{
    if (word == "1" || word == "on" || word == "yes" || word == "true") {
        value = true;
        return true;
    }
    if (word == "0" || word == "off" || word == "no" || word == "false") {
        value = false;
        return true;
    }
    return false;
}

template <typename T> bool ParseNumber(std::string_view word, T& value)
{
    std::uint32_t parsed = 0;
    if (!ParseUnsigned(word, parsed, static_cast<std::uint32_t>(static_cast<T>(~T{0}))))
        return false;
    value = static_cast<T>(parsed);
    return true;
}

bool ParseByteList(std::string_view text, std::vector<std::uint8_t>& list, bool hex)
{
    list.clear();
    for (auto word : Words(text)) {
        std::uint8_t value = 0;
        if (hex ? !ParseHexByte(word, value) : !ParseNumber(word, value))
            return false;
        list.push_back(value);
    }
    return true;
}

struct SParser {
    SSimConfig& config;
    std::string section;
    std::string problem;
    bool metersReplaced = false;
    bool statisticsReplaced = false;
    bool outletsReplaced = false;

    bool Meter(std::string_view key, std::string_view value, std::vector<SMeterSlot>& slots, bool& replaced,
               std::size_t& count)
    {
        if (!replaced) {
            slots.clear();
            replaced = true;
        }
        if (key == "count")
            return ParseNumber(value, count) && count <= 255;
        SMeterSlot slot;
        auto words = Words(value);
        if (!ParseNumber(key, slot.number) || slot.number > 254 || words.size() != 2
            || !ParseMeterFormat(words[0], slot.format)) {
            problem = "expected: <meter number> = <format> <quantity>";
            return false;
        }
        slot.quantity = std::string(words[1]);
        std::erase_if(slots, [&](const SMeterSlot& other) { return other.number == slot.number; });
        slots.push_back(slot);
        return true;
    }

    bool Identity(std::string_view key, std::string_view value)
    {
        if (key == "model") {
            if (value.size() > 255)
                return false;
            config.model = std::string(value);
            return true;
        }
        if (key == "firmware") {
            config.firmware.clear();
            for (auto word : Words(value)) {
                std::size_t dot = word.find('.');
                std::uint8_t major = 0, minor = 0;
                if (dot == std::string_view::npos || !ParseNumber(word.substr(0, dot), major)
                    || !ParseNumber(word.substr(dot + 1), minor))
                    return false;
                config.firmware.emplace_back(major, minor);
            }
            return config.firmware.size() <= 127;
        }
        if (key == "rating")
            return ParseUnsigned(value, config.ratingVA, 65535u * 50u);
        if (key == "phases")
            return ParseNumber(value, config.phases) && config.phases >= 1;
        if (key == "wakeup")
            return ParseEither(value, "ident", "status", config.wakeupAnswersIdentification);
        return false;
    }

    bool Link(std::string_view key, std::string_view value)
    {
        if (key == "baud_rates") {
            config.baudRates.clear();
            for (auto word : Words(value)) {
                std::uint16_t rate = 0;
                if (!ParseNumber(word, rate))
                    return false;
                config.baudRates.push_back(rate);
            }
            return config.baudRates.size() <= 100;
        }
        if (key == "authorization")
            return ParseEither(value, "required", "none", config.authorizationRequired);
        if (key == "unauthorized_status")
            return ParseHexByte(value, config.unauthorizedStatus);
        if (key == "authorization_window")
            return ParseUnsigned(value, config.authorizationWindowMs, 3600000);
        if (key == "max_block")
            return ParseNumber(value, config.maxBlock) && config.maxBlock >= 1 && config.maxBlock <= 255;
        if (key == "reply_delay")
            return ParseUnsigned(value, config.replyDelayMs, 60000);
        return false;
    }

    bool Commands(std::string_view key, std::string_view value)
    {
        if (key == "supported")
            return ParseByteList(value, config.supported, true);
        if (key.starts_with("answer.")) {
            std::uint8_t command = 0, status = 0;
            if (!ParseHexByte(key.substr(7), command) || !ParseHexByte(value, status))
                return false;
            config.answers[command] = status;
            return true;
        }
        return false;
    }

    bool Nominal(std::string_view key, std::string_view value)
    {
        if (key == "input_voltage")
            return ParseNumber(value, config.inputVoltage);
        if (key == "input_frequency")
            return ParseNumber(value, config.inputFrequency);
        if (key == "output_voltage")
            return ParseNumber(value, config.outputVoltage);
        if (key == "output_frequency")
            return ParseNumber(value, config.outputFrequency);
        if (key == "low_battery_time")
            return ParseNumber(value, config.lowBatteryTime);
        if (key == "audible")
            return ParseNumber(value, config.audibleStatus) && config.audibleStatus >= 1;
        if (key == "low_transfer")
            return ParseNumber(value, config.lowTransfer);
        if (key == "high_transfer")
            return ParseNumber(value, config.highTransfer);
        if (key == "temperature_low")
            return ParseNumber(value, config.temperatureLow);
        if (key == "temperature_high")
            return ParseNumber(value, config.temperatureHigh);
        return false;
    }

    bool Alarms(std::string_view key, std::string_view value)
    {
        if (key == "supported")
            return ParseByteList(value, config.supportedAlarms, false)
                && std::all_of(config.supportedAlarms.begin(), config.supportedAlarms.end(),
                               [](std::uint8_t a) { return a <= 218; });
        if (key == "active")
            return ParseByteList(value, config.activeAlarms, false);
        if (key == "bitmap_length")
            return ParseNumber(value, config.bitmapLength) && config.bitmapLength <= 255;
        std::uint32_t alarm = 0;
        if (key == "onbattery" && ParseUnsigned(value, alarm, 219)) {
            config.onBatteryAlarm = static_cast<int>(alarm);
            return true;
        }
        if (key == "lowbattery" && ParseUnsigned(value, alarm, 219)) {
            config.lowBatteryAlarm = static_cast<int>(alarm);
            return true;
        }
        return false;
    }

    bool Outlets(std::string_view key, std::string_view value)
    {
        if (!outletsReplaced) {
            config.outlets.clear();
            outletsReplaced = true;
        }
        SOutlet outlet;
        auto words = Words(value);
        if (!ParseNumber(key, outlet.number) || words.size() != 2 || !ParseNumber(words[0], outlet.first)
            || !ParseNumber(words[1], outlet.second) || config.outlets.size() >= 40)
            return false;
        config.outlets.push_back(outlet);
        return true;
    }

    bool Test(std::string_view key, std::string_view value)
    {
        if (key == "duration")
            return ParseUnsigned(value, config.testDurationSeconds, 86400);
        if (key == "result")
            return ParseEither(value, "pass", "fail", config.testPasses);
        return false;
    }

    bool Simulation(std::string_view key, std::string_view value)
    {
        if (key == "drift")
            return ParseBool(value, config.drift);
        if (key == "seed")
            return ParseUnsigned(value, config.seed, 0xFFFFFFFFu);
        if (key == "discharge_rate")
            return ParseDouble(value, config.dischargePerSecond) && config.dischargePerSecond >= 0;
        if (key == "charge_rate")
            return ParseDouble(value, config.chargePerSecond) && config.chargePerSecond >= 0;
        if (key == "low_charge")
            return ParseDouble(value, config.lowChargePercent);
        if (key == "full_runtime")
            return ParseUnsigned(value, config.fullRuntimeSeconds, 1000000);
        return false;
    }

    bool Line(std::string_view key, std::string_view value)
    {
        if (section == "identity")
            return Identity(key, value);
        if (section == "link")
            return Link(key, value);
        if (section == "commands")
            return Commands(key, value);
        if (section == "nominal")
            return Nominal(key, value);
        if (section == "values") {
            double number = 0;
            if (!ParseDouble(value, number))
                return false;
            config.values[std::string(key)] = number;
            return true;
        }
        if (section == "meters")
            return Meter(key, value, config.meters, metersReplaced, config.meterCount);
        if (section == "statistics")
            return Meter(key, value, config.statistics, statisticsReplaced, config.statisticsCount);
        if (section == "alarms")
            return Alarms(key, value);
        if (section == "outlets")
            return Outlets(key, value);
        if (section == "test")
            return Test(key, value);
        if (section == "simulation")
            return Simulation(key, value);
        problem = "unknown section [" + section + "]";
        return false;
    }
};

} // namespace

bool ParseHexByte(std::string_view word, std::uint8_t& value)
{
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
        word.remove_prefix(2);
    unsigned parsed = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), parsed, 16);
    if (ec != std::errc() || end != word.data() + word.size() || word.empty() || parsed > 0xFF)
        return false;
    value = static_cast<std::uint8_t>(parsed);
    return true;
}

bool ParseMeterFormat(std::string_view word, std::uint8_t& format)
{
    static constexpr std::pair<std::string_view, std::uint8_t> kNamed[] = {
        { "float", kXCPMeterFloat61 },
        { "uint", kXCPMeterScaled },
        { "count", kXCPMeterInteger },
        { "date", kXCPMeterDate },
        { "time", kXCPMeterTime },
    };
    for (const auto& [name, named] : kNamed) {
        if (word == name) {
            format = named;
            return true;
        }
    }
    if (word.starts_with("fixed")) {
        std::uint32_t bits = 0;
        if (!ParseUnsigned(word.substr(5), bits, 15) || bits == 0)
            return false;
        format = static_cast<std::uint8_t>(kXCPMeterScaled | bits);
        return true;
    }
    std::uint32_t value = 0;
    if (word.starts_with("0x") && ParseUnsigned(word, value, 0xFF) && value != 0) {
        format = static_cast<std::uint8_t>(value);
        return true;
    }
    return false;
}

SSimConfig DefaultSimConfig()
{
    SSimConfig config;
    auto add = [&](std::uint8_t number, std::uint8_t format, const char* quantity) {
        config.meters.push_back({number, format, quantity});
    };
    // Per-line meters for three lines, so that changing the phase count needs
    // no other change; a one-phase host reads only line 1.
    for (std::uint8_t line = 0; line < 3; ++line) {
        // Built piece by piece: gcc 12 at -O3 misreads "." + string as an
        // overlapping copy (a false -Wrestrict).
        std::string suffix = ".";
        suffix += std::to_string(line + 1);
        config.meters.push_back({static_cast<std::uint8_t>(18 + line), kXCPMeterScaled, "input.current" + suffix});
        config.meters.push_back({static_cast<std::uint8_t>(53 + line), kXCPMeterFloat61, "bypass.voltage" + suffix});
        config.meters.push_back({static_cast<std::uint8_t>(56 + line), kXCPMeterFloat61, "input.voltage" + suffix});
        config.meters.push_back({static_cast<std::uint8_t>(65 + line), kXCPMeterFloat61, "output.current" + suffix});
        config.meters.push_back({static_cast<std::uint8_t>(78 + line), kXCPMeterFloat, "output.voltage" + suffix});
    }
    add(21, kXCPMeterScaled, "output.power");
    add(22, kXCPMeterScaled, "input.power");
    add(23, kXCPMeterScaled, "output.va");
    add(27, kFrequencyFormat, "output.frequency");
    add(28, kFrequencyFormat, "input.frequency");
    add(32, kXCPMeterFloat61, "battery.current");
    add(33, kXCPMeterFloat61, "battery.voltage");
    add(34, kXCPMeterFloat61, "battery.charge");
    add(35, kXCPMeterInteger, "battery.runtime");
    add(62, kXCPMeterFloat61, "ambient.temperature");
    add(71, kXCPMeterScaled, "rating.va");
    add(72, kXCPMeterDate, "date");
    add(73, kXCPMeterTime, "time");
    add(77, kXCPMeterFloat61, "battery.temperature");
    config.statistics.push_back({35, kXCPMeterInteger, "input.linebads"});

    config.supportedAlarms = {3, 6, 7, 8, 9, 25, 34, 55, 56, 63, 126, 149, 158, 168, 169, 173, 174, 192, 193, 200};
    config.outlets = {{1, 0, 0}, {2, 0, 0}};
    config.values = {
        {"input.voltage", 230},     {"input.current", 21},      {"input.frequency", 50.0},
        {"input.power", 460},       {"output.voltage", 230},    {"output.current", 20},
        {"output.frequency", 50.0}, {"output.power", 420},      {"output.va", 450},
        {"bypass.voltage", 230},    {"battery.voltage", 542},   {"battery.current", 0},
        {"battery.charge", 100},    {"battery.runtime", 1800},  {"battery.temperature", 25},
        {"ambient.temperature", 24}, {"input.linebads", 0},
    };
    return config;
}

bool ParseSimConfig(std::string_view text, SSimConfig& config, std::string& error)
{
    SParser parser{config, "", "", false, false, false};
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (std::size_t comment = line.find_first_of("#;"); comment != std::string_view::npos)
            line = line.substr(0, comment);
        line = Trim(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']') {
                error = "line " + std::to_string(lineNumber) + ": unterminated section name";
                return false;
            }
            parser.section = std::string(Trim(line.substr(1, line.size() - 2)));
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            error = "line " + std::to_string(lineNumber) + ": expected key = value";
            return false;
        }
        std::string_view key = Trim(line.substr(0, equals));
        std::string_view value = Trim(line.substr(equals + 1));
        parser.problem.clear();
        if (!parser.Line(key, value)) {
            error = "line " + std::to_string(lineNumber) + ": "
                + (parser.problem.empty() ? "bad value for " + std::string(key) : parser.problem);
            return false;
        }
    }
    std::set<std::uint8_t> seen(config.supportedAlarms.begin(), config.supportedAlarms.end());
    config.supportedAlarms.assign(seen.begin(), seen.end());
    return true;
}

} // namespace pvx::upssim
