// The base of the serial port doubles: the replies of the UPS behind the port
// wait in a queue to be read, and waiting for input with nothing queued
// advances the fake clock instead of blocking.
#pragma once

#include "platform/Clock.h"
#include "platform/CommPort.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <span>

namespace pvx::test {

class CQueuedPort : public CCommPort {
public:
    CQueuedPort(CFakeClock& clock, const char* device, int speed)
        : CCommPort(device, speed, 8, 2, 0)
        , m_clock(clock)
    {
    }

    bool Read(std::span<std::uint8_t> buffer, std::size_t& n) override
    {
        n = std::min(buffer.size(), m_pending.size());
        std::copy_n(m_pending.begin(), n, buffer.begin());
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
        return true;
    }

    bool WaitForInput(std::uint32_t ms) override
    {
        if (!m_pending.empty())
            return true;
        m_clock.Advance(ms);
        return false;
    }

protected:
    void Queue(std::span<const std::uint8_t> bytes) { m_pending.insert(m_pending.end(), bytes.begin(), bytes.end()); }
    bool HasQueued() const { return !m_pending.empty(); }
    CFakeClock& Clock() { return m_clock; }

private:
    CFakeClock& m_clock;
    std::deque<std::uint8_t> m_pending;
};

} // namespace pvx::test
