// The bounded list of trap destinations.
#include "snmp/agent/TrapDestinations.h"

#include "platform/Clock.h"

#include <algorithm>

namespace pvx {

void CTrapDestinations::AddTrapHost(const SIpAddress& address)
{
    m_trapHost = address;
    m_hasTrapHost = true;
    m_destinations.push_back({ address, m_managerPort, 1, 1 });
}

STrapDestination* CTrapDestinations::Find(const SIpAddress& address)
{
    auto found = std::ranges::find(m_destinations, address, &STrapDestination::address);
    return found != m_destinations.end() ? &*found : nullptr;
}

STrapDestination* CTrapDestinations::FindOrRegister(const SIpAddress& address)
{
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    if (STrapDestination* found = Find(address)) {
        found->renewedMs = now;
        return found;
    }
    // The trap host may set its level back to 1, which drops its record; it
    // takes no place of the managers when it registers again.
    bool isTrapHost = m_hasTrapHost && address == m_trapHost;
    if (!isTrapHost && RegisteredCount() >= kMaxRegistered) {
        auto oldest = m_destinations.end();
        for (auto it = m_destinations.begin(); it != m_destinations.end(); ++it)
            if (!(m_hasTrapHost && it->address == m_trapHost)
                && (oldest == m_destinations.end() || it->renewedMs < oldest->renewedMs))
                oldest = it;
        if (oldest == m_destinations.end() || now - oldest->renewedMs < kRenewalMs)
            return nullptr;
        m_destinations.erase(oldest);
    }
    m_destinations.push_back({ address, m_managerPort, 1, 1, now });
    return &m_destinations.back();
}

void CTrapDestinations::Remove(const SIpAddress& address)
{
    auto found = std::ranges::find(m_destinations, address, &STrapDestination::address);
    if (found != m_destinations.end())
        m_destinations.erase(found);
}

std::size_t CTrapDestinations::RegisteredCount() const
{
    return static_cast<std::size_t>(std::ranges::count_if(
        m_destinations, [this](const STrapDestination& d) { return !m_hasTrapHost || d.address != m_trapHost; }));
}

} // namespace pvx
