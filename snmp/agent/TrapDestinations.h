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
};

class CTrapDestinations {
public:
    // Managers registered beyond the configured trap host, at most.
    static constexpr std::size_t kMaxRegistered = 16;

    explicit CTrapDestinations(std::uint16_t managerPort)
        : m_managerPort(managerPort)
    {
    }

    // The configured trap host: first in the list, never counted against the bound.
    void AddTrapHost(const SIpAddress& address);
    STrapDestination* Find(const SIpAddress& address);
    // The manager's record, created at the end of the list as {address,
    // manager port, level 1, type 1} if there is none; null when there is
    // none and kMaxRegistered managers are registered already.
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
