// The periodic line of network counters.
#include "service/CounterLog.h"

#include "events/PVXException.h"
#include "platform/Clock.h"

namespace pvx {

CCounterLog::CCounterLog(std::uint32_t intervalSeconds)
    : m_intervalMs(std::uint64_t { intervalSeconds } * 1000)
    , m_due(CurrentClock().MonotonicMilliseconds() + m_intervalMs)
{
}

void CCounterLog::Poll(const SNetworkCounters& counters)
{
    if (m_intervalMs == 0)
        return;
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    if (now < m_due)
        return;
    m_due = now + m_intervalMs;
    // Quiet while nothing new was dropped: the line is news, not a heartbeat.
    const std::uint64_t dropped = DroppedTotal(counters);
    if (dropped == m_droppedAtLastLine)
        return;
    m_droppedAtLastLine = dropped;
    ReportLine(FormatCounters(counters));
}

} // namespace pvx
