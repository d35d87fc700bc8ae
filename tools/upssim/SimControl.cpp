// The simulator's control language: one text command per line, answered
// with zero or more lines of information and a closing "ok" or "error: ...".
#include "tools/upssim/SimulatedUps.h"

#include <charconv>
#include <cstdio>

namespace pvx::upssim {

namespace {

const char* const kHelp = "help                       this text\n"
                          "status                     the state in short\n"
                          "set onbattery 0|1          run on battery (raises the on-battery alarm)\n"
                          "set lowbattery 0|1         battery low (raises the low-battery alarm)\n"
                          "set output on|off          switch the output\n"
                          "set source normal|bypass|boost|buck|other|none\n"
                          "set drift on|off           let values move by themselves\n"
                          "set charge_state N|auto    battery block charge state\n"
                          "set <value> <number>       e.g. set input.voltage 207, set battery.charge 40\n"
                          "alarm raise N | alarm clear N | alarm clear all\n"
                          "test start|pass|fail|abort\n"
                          "answer CMD STATUS | answer CMD default   forced status (hex), e.g. answer 8B 32\n"
                          "fault silence on|off       answer nothing\n"
                          "fault badchecksum N        spoil the checksum of the next N replies\n"
                          "fault badstart N           spoil the start byte of the next N replies\n"
                          "fault busy N               answer the next N requests with status 33\n"
                          "fault foreign N            send another block before each of the next N replies\n"
                          "fault truncate N           stop half way through the next N replies\n"
                          "fault split N              split replies into blocks of N data bytes (0: off)\n"
                          "fault noise N              send N stray bytes a second between replies (0: off)\n"
                          "fault clear                switch every fault off\n"
                          "log | log clear            frames received (last 256)\n"
                          "quit                       stop the simulator\n";

std::vector<std::string_view> Split(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool ToUnsigned(std::string_view word, unsigned& value, unsigned maximum)
{
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return ec == std::errc() && end == word.data() + word.size() && !word.empty() && value <= maximum;
}

bool ToSwitch(std::string_view word, bool& value)
{
    if (word == "1" || word == "on") {
        value = true;
        return true;
    }
    if (word == "0" || word == "off") {
        value = false;
        return true;
    }
    return false;
}

const std::string kOk = "ok\n";

std::string Error(const std::string& text) { return "error: " + text + "\n"; }

} // namespace

std::string CSimulatedUps::Control(std::string_view line, std::uint64_t nowMs, bool& quit)
{
    auto words = Split(line);
    if (words.empty())
        return Error("empty command (try help)");
    std::string_view verb = words[0];
    if (verb == "help")
        return kHelp + kOk;
    if (verb == "status")
        return StatusText() + kOk;
    if (verb == "quit") {
        quit = true;
        return kOk;
    }
    if (verb == "set")
        return ControlSet(words, nowMs);
    if (verb == "alarm")
        return ControlAlarm(words);
    if (verb == "test")
        return ControlTest(words, nowMs);
    if (verb == "fault")
        return ControlFault(words);
    if (verb == "answer")
        return ControlAnswer(words);
    if (verb == "log") {
        if (words.size() == 2 && words[1] == "clear") {
            m_frames.clear();
            return kOk;
        }
        std::string text;
        for (const auto& frame : m_frames)
            text += frame + "\n";
        return text + kOk;
    }
    return Error("unknown command " + std::string(verb) + " (try help)");
}

std::string CSimulatedUps::ControlSet(const std::vector<std::string_view>& words, std::uint64_t)
{
    if (words.size() != 3)
        return Error("usage: set <name> <value>");
    std::string_view name = words[1];
    std::string_view value = words[2];
    bool on = false;
    if (name == "onbattery" || name == "lowbattery" || name == "output" || name == "drift") {
        if (!ToSwitch(value, on))
            return Error("expected on or off");
        if (name == "onbattery")
            SetOnBattery(on);
        else if (name == "lowbattery")
            SetLowBattery(on);
        else if (name == "output")
            SetOutput(on);
        else
            m_config.drift = on;
        if (name == "drift" && !on)
            m_jitter.clear();
        return kOk;
    }
    if (name == "source") {
        if (value != "normal" && value != "bypass" && value != "boost" && value != "buck" && value != "other"
            && value != "none")
            return Error("unknown source");
        m_source = std::string(value);
        return kOk;
    }
    if (name == "charge_state") {
        unsigned state = 0;
        if (value == "auto")
            m_forcedChargeState.reset();
        else if (ToUnsigned(value, state, 255))
            m_forcedChargeState = static_cast<int>(state);
        else
            return Error("expected a number or auto");
        return kOk;
    }
    double number = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (ec != std::errc() || end != value.data() + value.size())
        return Error("expected a number");
    SetValue(std::string(name), number);
    return kOk;
}

std::string CSimulatedUps::ControlAlarm(const std::vector<std::string_view>& words)
{
    if (words.size() != 3 || (words[1] != "raise" && words[1] != "clear"))
        return Error("usage: alarm raise|clear N, alarm clear all");
    bool raise = words[1] == "raise";
    if (!raise && words[2] == "all") {
        for (int alarm = 0; alarm < static_cast<int>(m_activeAlarms.size()); ++alarm)
            SetAlarm(alarm, false);
        return kOk;
    }
    unsigned alarm = 0;
    if (!ToUnsigned(words[2], alarm, 218))
        return Error("alarm numbers run 0 to 218");
    if (!std::binary_search(m_config.supportedAlarms.begin(), m_config.supportedAlarms.end(),
                            static_cast<std::uint8_t>(alarm)))
        return Error("alarm " + std::to_string(alarm) + " is not in the supported list");
    SetAlarm(static_cast<int>(alarm), raise);
    return kOk;
}

std::string CSimulatedUps::ControlTest(const std::vector<std::string_view>& words, std::uint64_t nowMs)
{
    if (words.size() != 2)
        return Error("usage: test start|pass|fail|abort");
    if (words[1] == "start")
        StartTest(nowMs);
    else if (words[1] == "pass")
        FinishTest(ETestState::Passed);
    else if (words[1] == "fail")
        FinishTest(ETestState::Failed);
    else if (words[1] == "abort")
        FinishTest(ETestState::Aborted);
    else
        return Error("usage: test start|pass|fail|abort");
    return kOk;
}

std::string CSimulatedUps::ControlFault(const std::vector<std::string_view>& words)
{
    if (words.size() == 2 && words[1] == "clear") {
        m_silent = false;
        m_badChecksum = m_badStart = m_busy = m_foreign = m_truncate = 0;
        m_split = 0;
        m_noisePerSecond = 0;
        return kOk;
    }
    if (words.size() != 3)
        return Error("usage: fault <kind> <value> (try help)");
    std::string_view kind = words[1];
    if (kind == "silence") {
        if (!ToSwitch(words[2], m_silent))
            return Error("expected on or off");
        return kOk;
    }
    unsigned count = 0;
    if (!ToUnsigned(words[2], count, 100000))
        return Error("expected a count");
    if (kind == "badchecksum")
        m_badChecksum = count;
    else if (kind == "badstart")
        m_badStart = count;
    else if (kind == "busy")
        m_busy = count;
    else if (kind == "foreign")
        m_foreign = count;
    else if (kind == "truncate")
        m_truncate = count;
    else if (kind == "split") {
        if (count > 255)
            return Error("blocks hold at most 255 data bytes");
        m_split = count;
    } else if (kind == "noise") {
        if (count > 1000)
            return Error("at most 1000 bytes a second");
        m_noisePerSecond = count;
        m_nextNoiseMs = 0;
    } else
        return Error("unknown fault " + std::string(kind));
    return kOk;
}

std::string CSimulatedUps::ControlAnswer(const std::vector<std::string_view>& words)
{
    std::uint8_t command = 0, status = 0;
    if (words.size() != 3 || !ParseHexByte(words[1], command))
        return Error("usage: answer CMD STATUS|default (hexadecimal)");
    if (words[2] == "default") {
        m_config.answers.erase(command);
        return kOk;
    }
    if (!ParseHexByte(words[2], status))
        return Error("the status is a hexadecimal byte");
    m_config.answers[command] = status;
    return kOk;
}

std::string CSimulatedUps::StatusText() const
{
    char line[160];
    std::string text;
    std::snprintf(line, sizeof line, "output %s, %s, source %s, baud %d\n", m_outputOn ? "on" : "off",
                  m_onBattery ? "on battery" : "on line", m_source.c_str(), m_baudRate);
    text += line;
    std::snprintf(line, sizeof line, "battery charge %.1f %%, runtime %.0f s, low battery %s\n",
                  Value("battery.charge"), Value("battery.runtime"), m_lowBattery ? "yes" : "no");
    text += line;
    std::string active;
    for (std::size_t alarm = 0; alarm < m_activeAlarms.size(); ++alarm)
        if (m_activeAlarms[alarm]) {
            // Appended piece by piece: gcc 12 at -O3 misreads " " + string
            // as an overlapping copy (a false -Wrestrict).
            active += ' ';
            active += std::to_string(alarm);
        }
    text += "active alarms:" + (active.empty() ? std::string(" none") : active) + "\n";
    std::snprintf(line, sizeof line, "test %d; faults: silence %d badchecksum %u badstart %u busy %u foreign %u "
                                     "truncate %u split %zu noise %u\n",
                  static_cast<int>(m_test), m_silent ? 1 : 0, m_badChecksum, m_badStart, m_busy, m_foreign,
                  m_truncate, m_split, m_noisePerSecond);
    text += line;
    return text;
}

} // namespace pvx::upssim
