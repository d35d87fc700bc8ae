// The real clock source and the switch that lets tests replace it.
#include "platform/Clock.h"

#include <cerrno>
#include <sys/time.h>
#include <time.h>

namespace pvx {

namespace {

class CRealClock : public IClockSource {
public:
    std::uint32_t WallMilliseconds() override
    {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        auto seconds = static_cast<std::uint64_t>(now.tv_sec);
        return static_cast<std::uint32_t>(seconds * 1000u + static_cast<std::uint64_t>(now.tv_nsec / 1000000));
    }

    std::time_t WallSeconds() override { return ::time(nullptr); }

    std::uint64_t MonotonicMilliseconds() override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec / 1000000);
    }

    void SleepMilliseconds(std::uint32_t ms) override
    {
        timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
        timespec remaining{};
        while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
            request = remaining;
    }
};

CRealClock g_realClock;
IClockSource* g_clock = &g_realClock;

} // namespace

IClockSource& RealClock() { return g_realClock; }
IClockSource& CurrentClock() { return *g_clock; }
void SetClockSource(IClockSource* clock) { g_clock = clock ? clock : &g_realClock; }

} // namespace pvx
