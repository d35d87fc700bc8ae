// What the displays show beyond the present moment: the event log, the last
// day of samples, and the UPS's name and absence, which outlive the UPS
// object (it is dropped when the UPS is lost).
#pragma once

#include "ups/EventLog.h"
#include "ups/History.h"

#include <ctime>
#include <optional>
#include <string>

namespace pvx {

struct SStatusRecords {
    CEventLog events;
    CHistory history;
    // The UPS's name as last seen (upsIdentName, else its model), or the
    // configured UPSIdent/Name before any UPS was seen.
    std::string name;
    // Wall clock since when no UPS is connected; empty while one is.
    std::optional<std::time_t> noUpsSince;
};

} // namespace pvx
