// Serving one GetRequest and one GetNextRequest from a received datagram to
// the encoded reply, against the UPS model's own MIB tree, with the number of
// heap allocations per request.
#include "snmp/agent/SNMPAgent.h"
#include "ups/AbstractUPS.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<std::size_t> g_allocations { 0 };

} // namespace

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

// Allocation goes through malloc above, so free is the matching release.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace pvx {
namespace {

class CBenchUPS final : public CAbstractUPS {
public:
    CBenchUPS()
        : CAbstractUPS(nullptr, nullptr)
    {
    }
    int GetUPSType() override { return 3; }
    void Identify() override { }
    void ReadValues() override { }
};

// Community "public", request-id 42, one binding with a NULL value.
std::vector<std::uint8_t> Request(std::uint8_t pdu, std::uint8_t groupArc, std::uint8_t objectArc)
{
    return {
        0x30,
        0x28,
        0x02,
        0x01,
        0x00,
        0x04,
        0x06,
        'p',
        'u',
        'b',
        'l',
        'i',
        'c', // message, version, community
        pdu,
        0x1B,
        0x02,
        0x01,
        0x2A,
        0x02,
        0x01,
        0x00,
        0x02,
        0x01,
        0x00, // PDU, request-id, status, index
        0x30,
        0x10,
        0x30,
        0x0E, // bindings, binding
        0x06,
        0x0A,
        0x2B,
        0x06,
        0x01,
        0x02,
        0x01,
        0x21,
        0x01,
        groupArc,
        objectArc,
        0x00, // 1.3.6.1.2.1.33.1.g.o.0
        0x05,
        0x00,
    };
}

void Serve(benchmark::State& state, const std::vector<std::uint8_t>& request)
{
    const std::uint8_t loopback[4] = { 127, 0, 0, 1 };
    std::uint32_t address = 0;
    std::memcpy(&address, loopback, sizeof address);
    CSNMPAgent agent(0, 162, 0, address, "public", "private", "traps");
    CBenchUPS ups;
    SDatagram& datagram = agent.GetDatagram();

    std::size_t allocations = 0;
    for (auto _ : state) {
        std::memcpy(datagram.data.data(), request.data(), request.size());
        datagram.length = static_cast<std::uint32_t>(request.size());
        std::size_t before = g_allocations.load(std::memory_order_relaxed);
        auto outcome = agent.ProcessRequest(&ups);
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
        if (outcome != CSNMPAgent::ERequestOutcome::Answered || datagram.data[19] != 0xA2) {
            state.SkipWithError("request not answered");
            break;
        }
        benchmark::DoNotOptimize(datagram.length);
    }
    state.counters["allocs/request"]
        = benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.counters["reply bytes"] = static_cast<double>(datagram.length);
}

// upsBatteryStatus 1.3.6.1.2.1.33.1.2.1.0
void BM_GetRequest(benchmark::State& state)
{
    Serve(state, Request(0xA0, 2, 1));
}
BENCHMARK(BM_GetRequest);

// GetNext of upsIdentAttachedDevices 1.3.6.1.2.1.33.1.1.6.0 answers upsBatteryStatus.
void BM_GetNextRequest(benchmark::State& state)
{
    Serve(state, Request(0xA1, 1, 6));
}
BENCHMARK(BM_GetNextRequest);

} // namespace
} // namespace pvx

BENCHMARK_MAIN();
