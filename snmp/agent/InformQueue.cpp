// The bounded queue of unacknowledged informs.
#include "snmp/agent/InformQueue.h"

#include <algorithm>

namespace pvx {

bool CInformQueue::Add(const SDatagram& message, std::int32_t requestId, std::uint64_t now)
{
    auto slot = std::ranges::find(m_slots, std::uint64_t { 0 }, &SInform::order);
    const bool full = slot == m_slots.end();
    if (full)
        slot = std::ranges::min_element(m_slots, {}, &SInform::order);
    slot->message = message;
    slot->requestId = requestId;
    slot->retries = 0;
    slot->due = now + kFirstTimeoutMs;
    slot->order = ++m_added;
    return full;
}

bool CInformQueue::Acknowledge(const SIpAddress& address, std::uint16_t port, std::int32_t requestId)
{
    for (SInform& inform : m_slots) {
        if (inform.order != 0 && inform.requestId == requestId && inform.message.address == address
            && inform.message.port == port) {
            inform.order = 0;
            return true;
        }
    }
    return false;
}

bool CInformQueue::Awaits(const SIpAddress& address, std::uint16_t port) const
{
    return std::ranges::any_of(m_slots, [&](const SInform& inform) {
        return inform.order != 0 && inform.message.address == address && inform.message.port == port;
    });
}

CInformQueue::SInform* CInformQueue::NextDue(std::uint64_t now)
{
    for (SInform& inform : m_slots)
        if (inform.order != 0 && inform.due <= now)
            return &inform;
    return nullptr;
}

void CInformQueue::Retried(SInform& inform, std::uint64_t now)
{
    ++inform.retries;
    inform.due = now + (kFirstTimeoutMs << inform.retries);
}

std::size_t CInformQueue::Size() const
{
    return static_cast<std::size_t>(std::ranges::count_if(m_slots, [](const SInform& i) { return i.order != 0; }));
}

} // namespace pvx
