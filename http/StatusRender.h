// The status of the UPS and of pvx as three documents: Prometheus metrics
// (text exposition format 0.0.4), an HTML page and JSON. Rendering only
// reads the snapshot it is given.
#pragma once

#include "events/NetworkCounters.h"
#include "ups/AbstractUPS.h"
#include "ups/Readings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pvx {

struct SStatusSnapshot {
    std::optional<SUPSReadings> ups; // empty while no UPS is connected
    SPollCounters polls;
    std::optional<std::int64_t> secondsSinceLastPoll; // since the last good poll; empty before the first
    SNetworkCounters network;
};

// Takes the snapshot: `ups` may be null or not connected; `nowMs` is a
// CAbstractUPS::Now() reading.
SStatusSnapshot TakeSnapshot(const CAbstractUPS* ups, const SPollCounters& polls, const SNetworkCounters& network,
                             std::int64_t nowMs);

std::string RenderMetrics(const SStatusSnapshot& status);
std::string RenderPage(const SStatusSnapshot& status);
std::string RenderJson(const SStatusSnapshot& status);

// Escaping, for texts that come from the UPS or the configuration.
std::string EscapeHtml(std::string_view text);
std::string EscapeJson(std::string_view text);
std::string EscapeLabelValue(std::string_view text);

// RFC 1628 name of a well-known alarm without its "upsAlarm" prefix
// ("OnBattery"), or the dotted identifier for any other.
std::string AlarmName(const COid& descriptor);

} // namespace pvx
