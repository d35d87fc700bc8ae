// The agent's trap destinations: the configured trap host and the managers
// that register themselves through the two trap-control objects. The
// registrations are bounded, so that forged sources cannot grow the list (and
// the cost of every trap) without limit.
#pragma once

#include "platform/IpAddress.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pvx {

// One manager that receives traps. Managers are told apart by address only.
struct STrapDestination {
    SIpAddress address;
    std::uint16_t port = 0; // always the configured manager port
    std::int32_t trapLevel = 1;
    std::int32_t trapType = 1;
    std::uint64_t renewedMs = 0; // monotonic clock of the last set that made or kept it
};

class CTrapDestinations {
public:
    // Managers registered beyond the configured trap host, at most.
    static constexpr std::size_t kMaxRegistered = 16;
    // A registration not renewed (by a set of either trap-control object)
    // for this long gives its place to a new manager once the list is full,
    // so that forged sources cannot hold the places for good.
    static constexpr std::uint64_t kRenewalMs = 3600 * 1000;

    explicit CTrapDestinations(std::uint16_t managerPort)
        : m_managerPort(managerPort)
    {
    }

    // The configured trap host: first in the list, never counted against the bound.
    void AddTrapHost(const SIpAddress& address);
    STrapDestination* Find(const SIpAddress& address);
    // The manager's record, renewed, or created at the end of the list as
    // {address, manager port, level 1, type 1} if there is none; when the
    // list is full the registration renewed longest ago takes its place if
    // that is kRenewalMs old, else the result is null.
    STrapDestination* FindOrRegister(const SIpAddress& address);
    void Remove(const SIpAddress& address);

    const std::vector<STrapDestination>& All() const { return m_destinations; }
    std::size_t RegisteredCount() const;

private:
    std::vector<STrapDestination> m_destinations;
    std::uint16_t m_managerPort;
    SIpAddress m_trapHost;
    bool m_hasTrapHost = false;
};

} // namespace pvx
