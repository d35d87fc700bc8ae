// The SNMPv3 SETs applied within the time window. RFC 3414 lets a copy of a
// message through for as long as its time is within 150 s of the engine's,
// so a captured SET could re-arm a cancelled shutdown; nothing obliges an
// agent to apply a set twice. A copy (same user, msgID, engine time and
// digest) is answered as the original was, without being applied again.
#pragma once

#include "snmp/usm/SNMPv3Message.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace pvx {

class CSetReplayCache {
public:
    // Sets remembered at most; beyond, the oldest is forgotten first.
    static constexpr std::size_t kMaxEntries = 64;

    // The response PDU the same message got, or null. `engineTime` is the
    // engine's present time: entries outside the window are forgotten.
    const std::vector<std::uint8_t>* Find(const usm::SSecurityState& request, std::uint32_t engineTime);
    // Only authenticated messages are remembered (only they have a digest).
    void Remember(const usm::SSecurityState& request, std::span<const std::uint8_t> responsePdu,
                  std::uint32_t engineTime);
    std::size_t Size() const { return m_entries.size(); }

private:
    struct SEntry {
        int user = -1;
        std::int32_t msgId = 0;
        std::uint32_t time = 0;
        std::vector<std::uint8_t> digest;
        std::vector<std::uint8_t> response;
    };
    void Expire(std::uint32_t engineTime);

    std::deque<SEntry> m_entries; // oldest first
};

} // namespace pvx
