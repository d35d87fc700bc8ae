// The bound on authenticationFailure traps: anyone can send a datagram with a
// wrong community, so without a bound pvx would turn every such datagram into
// a trap to every manager. At most one trap per source address per 10 s and
// at most one a second in all; the monotonic clock of the platform decides.
#pragma once

#include "platform/IpAddress.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pvx {

class CAuthFailureLimiter {
public:
    static constexpr std::uint64_t kPerSourceMs = 10000;
    static constexpr std::uint64_t kAnySourceMs = 1000;

    // True when a trap for a failure from `source` may go now; it is then
    // remembered. False: the trap is to be held back.
    bool Admit(const SIpAddress& source);

private:
    struct SSent {
        SIpAddress source;
        std::uint64_t at;
    };
    // Only sources admitted in the last 10 s are kept; with one trap a
    // second at most, that is about ten. The cap holds even if the clock misbehaves.
    static constexpr std::size_t kMaxRemembered = 16;
    std::vector<SSent> m_recent;
    std::optional<std::uint64_t> m_lastAny;
};

} // namespace pvx
