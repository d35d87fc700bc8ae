// The operator's view of the network counters: every so often, when
// something was dropped, refused or held back since the last line, one line
// of all the counts goes where event texts go.
#pragma once

#include "events/NetworkCounters.h"

#include <cstdint>

namespace pvx {

class CCounterLog {
public:
    // `intervalSeconds` 0: no line ever (the default of Network/CounterLogInterval).
    explicit CCounterLog(std::uint32_t intervalSeconds);

    // Called once a pass; writes the line when it is due.
    void Poll(const SNetworkCounters& counters);

private:
    std::uint64_t m_intervalMs;
    std::uint64_t m_due;
    std::uint64_t m_droppedAtLastLine = 0;
};

} // namespace pvx
