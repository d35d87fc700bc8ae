// The status of the UPS and of pvx as three documents: Prometheus metrics
// (text exposition format 0.0.4), an HTML page and JSON. Rendering only
// reads the snapshot it is given.
#pragma once

#include "events/NetworkCounters.h"
#include "ups/AbstractUPS.h"
#include "ups/Readings.h"
#include "ups/StatusRecords.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace pvx {

struct SStatusSnapshot {
    std::optional<SUPSReadings> ups; // empty while no UPS is connected
    SPollCounters polls;
    std::optional<std::int64_t> secondsSinceLastPoll; // since the last good poll; empty before the first
    SNetworkCounters network;
    const SStatusRecords* records = nullptr; // the event log and history, when pvx keeps them
    std::time_t wallNow = 0; // the page's time
};

// Takes the snapshot: `ups` may be null or not connected; `nowMs` is a
// CAbstractUPS::Now() reading.
SStatusSnapshot TakeSnapshot(const CAbstractUPS* ups, const SPollCounters& polls, const SNetworkCounters& network,
                             std::int64_t nowMs);

std::string RenderMetrics(const SStatusSnapshot& status);
std::string RenderPage(const SStatusSnapshot& status);
std::string RenderJson(const SStatusSnapshot& status);

// The event log, oldest first, and the last day of samples, oldest first.
std::string RenderEventsJson(const CEventLog& events);
std::string RenderEventsCsv(const CEventLog& events);
std::string RenderHistoryJson(const CHistory& history);
// The page's parts drawn from the records: the latest events, newest first,
// with local times, and one inline SVG chart per value of the last 24 hours
// up to `now`.
void RenderEventTable(std::string& html, const CEventLog& events, std::size_t count);
void RenderCharts(std::string& html, const CHistory& history, std::time_t now);
// Local time "2026-12-08 05:31:02" for the page; UTC "2026-12-08T05:31:02Z" for the downloads.
std::string LocalTimeText(std::time_t time);
std::string UtcTimeText(std::time_t time);

// Escaping, for texts that come from the UPS or the configuration.
std::string EscapeHtml(std::string_view text);
std::string EscapeJson(std::string_view text);
std::string EscapeLabelValue(std::string_view text);

// RFC 1628 name of a well-known alarm without its "upsAlarm" prefix
// ("OnBattery"), or the dotted identifier for any other.
std::string AlarmName(const COid& descriptor);

} // namespace pvx
