// The bounded cache of applied SNMPv3 SETs.
#include "snmp/agent/SetReplayCache.h"

#include <algorithm>

namespace pvx {

void CSetReplayCache::Expire(std::uint32_t engineTime)
{
    // A message whose time is more than the window behind the engine's is
    // refused before it gets here; its entry can go.
    std::erase_if(m_entries, [engineTime](const SEntry& entry) {
        return engineTime > entry.time && engineTime - entry.time > usm::kTimeWindowSeconds;
    });
}

const std::vector<std::uint8_t>* CSetReplayCache::Find(const usm::SSecurityState& request, std::uint32_t engineTime)
{
    Expire(engineTime);
    if (request.digest.empty())
        return nullptr;
    for (const SEntry& entry : m_entries)
        if (entry.user == request.user && entry.msgId == request.msgId && entry.time == request.time
            && std::ranges::equal(entry.digest, request.digest))
            return &entry.response;
    return nullptr;
}

void CSetReplayCache::Remember(const usm::SSecurityState& request, std::span<const std::uint8_t> responsePdu,
                               std::uint32_t engineTime)
{
    Expire(engineTime);
    if (request.digest.empty())
        return;
    if (m_entries.size() >= kMaxEntries)
        m_entries.pop_front();
    m_entries.push_back({ request.user, request.msgId, request.time, request.digest,
                          std::vector<std::uint8_t>(responsePdu.begin(), responsePdu.end()) });
}

} // namespace pvx
