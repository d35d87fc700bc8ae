// The informs that wait for their acknowledgement (RFC 3416 InformRequest):
// a fixed number of slots holding each message as it was sent, so that an
// inform costs no allocation and a manager that never answers cannot grow
// pvx's memory. Each is sent again after 1, 2 and 4 s and given up 8 s after
// its last try; when every slot is taken the oldest inform falls off.
#pragma once

#include "platform/Portability.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace pvx {

class CInformQueue {
public:
    static constexpr std::size_t kCapacity = 16;
    static constexpr std::uint32_t kRetries = 3; // sends after the first
    static constexpr std::uint64_t kFirstTimeoutMs = 1000; // doubled at every retry

    struct SInform {
        SDatagram message; // destination, and the message as sent (SNMPv3: its PDU)
        std::int32_t requestId = 0;
        std::uint32_t retries = 0;
        std::uint64_t due = 0; // monotonic ms: sent again, or given up
        std::uint64_t order = 0; // 0: the slot is free
    };

    // Queues a message that was sent first at `now`; true when the oldest
    // inform had to fall off to make room.
    bool Add(const SDatagram& message, std::int32_t requestId, std::uint64_t now);
    // Takes the inform to that destination with that request-id off the
    // queue; false when there is none.
    bool Acknowledge(const SIpAddress& address, std::uint16_t port, std::int32_t requestId);
    // Whether an inform to that destination waits.
    bool Awaits(const SIpAddress& address, std::uint16_t port) const;
    // An inform whose time has come at `now`, or null. The caller sends it
    // again and calls Retried, or gives it up when it has no retries left.
    SInform* NextDue(std::uint64_t now);
    static bool HasRetriesLeft(const SInform& inform) { return inform.retries < kRetries; }
    void Retried(SInform& inform, std::uint64_t now);
    void GiveUp(SInform& inform) { inform.order = 0; }
    // Calls `f` with every inform waiting for that destination.
    template <typename F>
    void ForEachTo(const SIpAddress& address, std::uint16_t port, F&& f)
    {
        for (SInform& inform : m_slots)
            if (inform.order != 0 && inform.message.address == address && inform.message.port == port)
                f(inform);
    }
    std::size_t Size() const;

private:
    std::array<SInform, kCapacity> m_slots {};
    std::uint64_t m_added = 0;
};

} // namespace pvx
