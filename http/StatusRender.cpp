// The status renderers' shared pieces: the snapshot, code names, exact
// decimals and escapes. Metrics, page and JSON are in StatusMetrics.cpp,
// StatusPage.cpp and StatusJson.cpp.
#include "http/StatusRender.h"

#include "http/StatusNames.h"

#include <array>
#include <cstdio>

namespace pvx {

namespace status {

std::string AlarmWords(const COid& descriptor)
{
    const int n = WellKnownAlarm(descriptor);
    return n != 0 ? WordsOf(kAlarms, n) : descriptor.ToString();
}

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

} // namespace status

using namespace status;

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
