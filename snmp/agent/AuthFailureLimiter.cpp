// The rate bound of authenticationFailure traps.
#include "snmp/agent/AuthFailureLimiter.h"

#include "platform/Clock.h"

#include <algorithm>

namespace pvx {

namespace {

// True while less than `span` has passed since `then`; a reading before
// `then` (a clock that went back) also counts as recent.
bool IsRecent(std::uint64_t now, std::uint64_t then, std::uint64_t span)
{
    return now < then || now - then < span;
}

} // namespace

bool CAuthFailureLimiter::Admit(const SIpAddress& source)
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    std::erase_if(m_recent, [now](const SSent& sent) { return !IsRecent(now, sent.at, kPerSourceMs); });
    if (m_lastAny && IsRecent(now, *m_lastAny, kAnySourceMs))
        return false;
    if (std::ranges::find(m_recent, source, &SSent::source) != m_recent.end())
        return false;
    if (m_recent.size() >= kMaxRemembered)
        return false;
    m_recent.push_back({ source, now });
    m_lastAny = now;
    return true;
}

} // namespace pvx
