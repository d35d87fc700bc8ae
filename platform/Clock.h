// The time seam: every clock reading and sleep in pvx goes through the current
// clock source, which is the real one unless a test installs a fake.
#pragma once

#include <cstdint>
#include <ctime>

namespace pvx {

class IClockSource {
public:
    virtual ~IClockSource() = default;
    // Wall clock: seconds * 1000 + milliseconds, cut to 32 bits (wraps).
    virtual std::uint32_t WallMilliseconds() = 0;
    // Wall clock in whole seconds.
    virtual std::time_t WallSeconds() = 0;
    // Monotonic milliseconds since an arbitrary start; never steps back.
    virtual std::uint64_t MonotonicMilliseconds() = 0;
    virtual void SleepMilliseconds(std::uint32_t ms) = 0;
};

IClockSource& RealClock();
IClockSource& CurrentClock();
// Installs `clock` (nullptr restores the real one).
void SetClockSource(IClockSource* clock);

// A clock that only moves when a test advances it; sleeping advances it too.
class CFakeClock : public IClockSource {
public:
    explicit CFakeClock(std::uint32_t wallMs = 1000000, std::time_t wallSeconds = 1700000000)
        : m_wallMs(wallMs), m_wallSeconds(wallSeconds) {}
    std::uint32_t WallMilliseconds() override { return m_wallMs; }
    std::time_t WallSeconds() override { return m_wallSeconds + static_cast<std::time_t>(m_elapsedMs / 1000); }
    std::uint64_t MonotonicMilliseconds() override { return m_elapsedMs; }
    void SleepMilliseconds(std::uint32_t ms) override { Advance(ms); }
    void Advance(std::uint32_t ms)
    {
        m_wallMs += ms;
        m_elapsedMs += ms;
    }
    void SetWallMilliseconds(std::uint32_t ms) { m_wallMs = ms; }

private:
    std::uint32_t m_wallMs;
    std::time_t m_wallSeconds;
    std::uint64_t m_elapsedMs = 0;
};

// Installs a fake clock for the lifetime of the guard.
class CScopedClock {
public:
    explicit CScopedClock(IClockSource& clock) { SetClockSource(&clock); }
    ~CScopedClock() { SetClockSource(nullptr); }
    CScopedClock(const CScopedClock&) = delete;
    CScopedClock& operator=(const CScopedClock&) = delete;
};

} // namespace pvx
