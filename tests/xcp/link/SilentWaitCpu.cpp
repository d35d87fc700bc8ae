// Measures what a silent UPS costs: the wall time and the processor time
// (user + system) of CCommands waiting for a reply that never comes, and of
// CCommPort::Open on a silent line. Prints the figures; asserts nothing.
#include "events/PVXException.h"
#include "platform/CommPort.h"
#include "platform/PseudoTerminal.h"
#include "xcp/link/Commands.h"

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace {

double CpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

template <typename Action> void Measure(const char* name, Action action)
{
    auto wallStart = std::chrono::steady_clock::now();
    double cpuStart = CpuMilliseconds();
    action();
    double cpu = CpuMilliseconds() - cpuStart;
    double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("%-40s wall %7.1f ms, cpu (user + system) %6.2f ms\n", name, wall, cpu);
}

} // namespace

int main()
{
    pvx::CPseudoTerminal terminal;
    if (!terminal.Open()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    pvx::CCommPort port(terminal.SlavePath(), 9600, 8, 2, 0);
    Measure("CCommPort::Open on a silent line", [&] { port.Open(); });
    pvx::CCommands link(&port);
    for (int i = 0; i < 3; ++i) {
        Measure("SendRequest(0x31) on a silent line", [&] {
            try {
                link.SendRequest(0x31, 750);
            } catch (const pvx::CPVXException& event) {
                if (event.GetCode() != pvx::EVENT_TIMEOUT)
                    std::fprintf(stderr, "unexpected event %08X\n", event.GetCode());
            }
        });
    }
    Measure("Drain(1000) on a silent line", [&] { port.Drain(1000); });
    return 0;
}
