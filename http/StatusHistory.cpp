// The records as the page shows them (the latest events, the charts of the
// last day as inline SVG drawn here, no script) and as downloads (the whole
// log as JSON and CSV, the samples as JSON).
#include "http/StatusRender.h"

#include "platform/Portability.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace pvx {

namespace {

void AppendNumber(std::string& out, std::int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

std::string TimeText(std::time_t time, bool utc, const char* format)
{
    std::tm parts {};
    if (utc ? gmtime_r(&time, &parts) == nullptr : !GetLocalTime(time, parts))
        return std::to_string(static_cast<std::int64_t>(time));
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

std::string DurationWords(std::int64_t seconds)
{
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    if (seconds < 7200)
        return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
}

// RFC 4180: a field with a comma, a quote or a line end is quoted, its
// quotes doubled. A leading =, +, - or @ would make a spreadsheet run the
// field as a formula, so such a text gets a leading apostrophe.
void AppendCsvField(std::string& out, std::string_view text)
{
    const bool formula = !text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos;
    const bool quote = formula || text.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quote)
        out += '"';
    if (formula)
        out += '\'';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    if (quote)
        out += '"';
}

// ---- Charts

constexpr std::time_t kDay = 24 * 3600;
constexpr std::size_t kBuckets = 480; // one point per 3 minutes: finer than a phone's pixels
constexpr std::time_t kBucketSeconds = kDay / kBuckets;
constexpr int kPlotHeight = 100; // y in the plot's own units, 0 at the top

struct SBucket {
    std::int64_t sum = 0;
    std::int32_t count = 0;
    bool onBattery = false;
};

// Lower and upper bound of the y axis: fixed for percentages, the data's
// range rounded out to a step of 5 otherwise, at least 10 wide.
std::pair<std::int32_t, std::int32_t> AxisRange(EHistoryValue value, std::int32_t low, std::int32_t high)
{
    if (value == EHistoryValue::Charge)
        return { 0, 100 };
    if (value == EHistoryValue::Load)
        return { 0, std::max(100, (high + 9) / 10 * 10) };
    std::int32_t lo = low >= 0 ? low / 5 * 5 : -((-low + 4) / 5 * 5);
    std::int32_t hi = high >= 0 ? (high + 4) / 5 * 5 : -(-high / 5 * 5);
    if (value == EHistoryValue::Runtime)
        lo = 0;
    if (hi - lo < 10) {
        const std::int32_t grow = 10 - (hi - lo);
        hi += grow - grow / 2;
        lo = value == EHistoryValue::Runtime ? 0 : lo - grow / 2;
        if (hi - lo < 10)
            hi = lo + 10;
    }
    return { lo, hi };
}

void Chart(std::string& html, EHistoryValue value, const std::array<SBucket, kBuckets>& buckets,
           std::array<std::int32_t, kBuckets>& means, std::time_t start)
{
    std::int32_t low = INT32_MAX, high = INT32_MIN;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        if (buckets[i].count == 0) {
            means[i] = SHistorySample::kMissing;
            continue;
        }
        means[i] = static_cast<std::int32_t>(buckets[i].sum / buckets[i].count);
        low = std::min(low, means[i]);
        high = std::max(high, means[i]);
    }
    html += "<figure><figcaption>";
    html += CHistory::Title(value);
    html += " (";
    html += CHistory::Unit(value);
    html += ")</figcaption>\n<svg class=\"chart\" viewBox=\"0 0 400 140\" role=\"img\" aria-label=\"";
    html += CHistory::Title(value);
    html += ", last 24 hours\">";
    if (low > high) {
        html += "<text x=\"200\" y=\"70\" text-anchor=\"middle\">Not reported</text></svg></figure>\n";
        return;
    }
    const auto [lo, hi] = AxisRange(value, low, high);
    // The axis: three values at the left, the hours below, in the outer
    // coordinates; the plot is a nested box of kBuckets x kPlotHeight.
    for (int step = 0; step <= 2; ++step) {
        const int y = 10 + step * 50;
        html += "<text x=\"36\" y=\"";
        AppendNumber(html, y + 4);
        html += "\" text-anchor=\"end\">";
        AppendNumber(html, hi - (hi - lo) * step / 2);
        html += "</text><line x1=\"40\" x2=\"396\" y1=\"";
        AppendNumber(html, y);
        html += "\" y2=\"";
        AppendNumber(html, y);
        html += "\" class=\"grid\"/>";
    }
    for (int hour = 0; hour <= 24; hour += 6) {
        html += "<text x=\"";
        AppendNumber(html, 40 + hour * 356 / 24);
        html += "\" y=\"134\" text-anchor=\"";
        html += hour == 0 ? "start" : hour == 24 ? "end" : "middle";
        html += "\">";
        html += TimeText(start + hour * 3600, false, "%H:%M");
        html += "</text>";
    }
    html += "<svg x=\"40\" y=\"10\" width=\"356\" height=\"100\" viewBox=\"0 0 ";
    AppendNumber(html, kBuckets);
    html += " 100\" preserveAspectRatio=\"none\">";
    for (std::size_t i = 0; i < kBuckets;) {
        if (!buckets[i].onBattery) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < kBuckets && buckets[end].onBattery)
            ++end;
        html += "<rect class=\"ob\" x=\"";
        AppendNumber(html, static_cast<std::int64_t>(i));
        html += "\" y=\"0\" width=\"";
        AppendNumber(html, static_cast<std::int64_t>(end - i));
        html += "\" height=\"100\"/>";
        i = end;
    }
    html += "<path class=\"line\" vector-effect=\"non-scaling-stroke\" d=\"";
    bool drawing = false;
    const std::int64_t span = hi - lo;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        if (means[i] == SHistorySample::kMissing) {
            drawing = false;
            continue;
        }
        const std::int64_t y = kPlotHeight - (static_cast<std::int64_t>(means[i]) - lo) * kPlotHeight / span;
        // A point between two of the same height adds nothing to the line.
        const bool flat = drawing && i + 1 < kBuckets && means[i - 1] == means[i] && means[i + 1] == means[i];
        if (flat)
            continue;
        html += drawing ? ' ' : 'M';
        AppendNumber(html, static_cast<std::int64_t>(i));
        html += ' ';
        AppendNumber(html, y);
        if (!drawing && (i + 1 == kBuckets || means[i + 1] == SHistorySample::kMissing)) {
            html += 'h'; // a lone point is drawn as a short dash
            html += '1';
        }
        drawing = true;
    }
    html += "\"/></svg></svg></figure>\n";
}

} // namespace

std::string LocalTimeText(std::time_t time)
{
    return TimeText(time, false, "%Y-%m-%d %H:%M:%S");
}

std::string UtcTimeText(std::time_t time)
{
    return TimeText(time, true, "%Y-%m-%dT%H:%M:%SZ");
}

namespace {

// An event row of a download: what stands before each of its six fields,
// how its text is written, and what stands for a missing duration.
struct SEventRowFormat {
    std::array<const char*, 6> before;
    void (*text)(std::string& out, std::string_view text);
    const char* noDuration;
};

constexpr SEventRowFormat kJsonRow {
    { "\n{\"time\":\"", "\",\"unixTime\":", ",\"kind\":\"", "\",\"event\":\"", "\",\"text\":\"",
      "\",\"durationSeconds\":" },
    [](std::string& out, std::string_view text) { out += EscapeJson(text); }, "null"
};
constexpr SEventRowFormat kCsvRow { { "", ",", ",", ",", ",", "," }, AppendCsvField, "" };

void AppendEventRow(std::string& out, const SEvent& e, const SEventRowFormat& format)
{
    out += format.before[0];
    out += UtcTimeText(e.time);
    out += format.before[1];
    AppendNumber(out, e.time);
    out += format.before[2];
    out += EventKey(e.kind);
    out += format.before[3];
    out += EventWords(e.kind);
    out += format.before[4];
    format.text(out, e.Text());
    out += format.before[5];
    if (e.Duration())
        AppendNumber(out, *e.Duration());
    else
        out += format.noDuration;
}

} // namespace

std::string RenderEventsJson(const CEventLog& events)
{
    std::string out;
    out.reserve(64 + events.Size() * 120);
    out += "{\"events\":[";
    for (std::size_t i = events.Size(); i-- > 0;) {
        AppendEventRow(out, events.Newest(i), kJsonRow);
        out += i == 0 ? "}" : "},";
    }
    out += "\n]}\n";
    return out;
}

std::string RenderEventsCsv(const CEventLog& events)
{
    std::string out = "time,unix_time,kind,event,text,duration_seconds\r\n";
    out.reserve(64 + events.Size() * 80);
    for (std::size_t i = events.Size(); i-- > 0;) {
        AppendEventRow(out, events.Newest(i), kCsvRow);
        out += "\r\n";
    }
    return out;
}

std::string RenderHistoryJson(const CHistory& history)
{
    std::string out;
    out.reserve(160 + history.Size() * 120);
    out += "{\"intervalSeconds\":";
    AppendNumber(out, CHistory::kInterval);
    out += ",\"units\":{";
    for (std::size_t v = 0; v < kHistoryValues; ++v) {
        out += v == 0 ? "\"" : ",\"";
        out += CHistory::Key(static_cast<EHistoryValue>(v));
        out += "\":\"";
        // The one unit that is not ASCII, the degree sign, as a JSON escape.
        const EHistoryValue value = static_cast<EHistoryValue>(v);
        out += value == EHistoryValue::BatteryTemperature ? "\\u00b0C" : CHistory::Unit(value);
        out += '"';
    }
    out += "},\"samples\":[";
    for (std::size_t i = 0; i < history.Size(); ++i) {
        const SHistorySample& s = history.Oldest(i);
        out += i == 0 ? "\n{\"time\":" : ",\n{\"time\":";
        AppendNumber(out, s.time);
        out += ",\"connected\":";
        out += s.connected ? "true" : "false";
        out += ",\"onBattery\":";
        out += s.onBattery ? "true" : "false";
        for (std::size_t v = 0; v < kHistoryValues; ++v) {
            out += ",\"";
            out += CHistory::Key(static_cast<EHistoryValue>(v));
            out += "\":";
            if (s.values[v] == SHistorySample::kMissing)
                out += "null";
            else
                AppendNumber(out, s.values[v]);
        }
        out += '}';
    }
    out += "\n]}\n";
    return out;
}

void RenderEventTable(std::string& html, const CEventLog& events, std::size_t count)
{
    html += "<h2>Events</h2>\n";
    if (events.Size() == 0) {
        html += "<p>None yet</p>\n";
        return;
    }
    html += "<table class=\"events\">\n<tr><th>Time</th><th>Event</th><th>Lasted</th></tr>\n";
    for (std::size_t i = 0; i < std::min(count, events.Size()); ++i) {
        const SEvent& e = events.Newest(i);
        html += "<tr><td>";
        html += LocalTimeText(e.time);
        html += "</td><td>";
        html += EventWords(e.kind);
        if (!e.Text().empty()) {
            html += ": ";
            html += EscapeHtml(e.Text());
        }
        html += "</td><td>";
        if (e.Duration())
            html += DurationWords(*e.Duration());
        html += "</td></tr>\n";
    }
    html += "</table>\n<p class=\"ident\"><a href=\"/events.csv\">All events (CSV)</a> &middot; "
            "<a href=\"/events.json\">JSON</a></p>\n";
}

void RenderCharts(std::string& html, const CHistory& history, std::time_t now)
{
    // Each sample goes to the bucket of its 3 minutes within the day before
    // `now`; a bucket is on battery when any of its samples is.
    const std::time_t start = now - kDay;
    std::array<SBucket, kBuckets> buckets;
    std::array<std::int32_t, kBuckets> means;
    html += "<h2>Last 24 hours</h2>\n<div class=\"charts\">\n";
    for (std::size_t v = 0; v < kHistoryValues; ++v) {
        buckets.fill({});
        for (std::size_t i = 0; i < history.Size(); ++i) {
            const SHistorySample& s = history.Oldest(i);
            if (s.time < start || s.time > now)
                continue;
            SBucket& bucket = buckets[std::min<std::size_t>(static_cast<std::size_t>((s.time - start) / kBucketSeconds), kBuckets - 1)];
            bucket.onBattery = bucket.onBattery || s.onBattery;
            if (s.values[v] != SHistorySample::kMissing) {
                bucket.sum += s.values[v];
                ++bucket.count;
            }
        }
        Chart(html, static_cast<EHistoryValue>(v), buckets, means, start);
    }
    html += "</div>\n<p class=\"ident\">Shaded: on battery. <a href=\"/history.json\">Samples (JSON)</a></p>\n";
}

} // namespace pvx
