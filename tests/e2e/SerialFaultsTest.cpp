// A faulty serial line against the running daemon, both rows side by side:
// a UPS that falls silent is never reported as a flat battery (once it is
// given up for lost SNMP answers as without a UPS), and a line with 10 stray
// bytes a second for a minute never loses the UPS. Managers polling all the
// while are answered promptly; the latencies are printed.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

using Clock = std::chrono::steady_clock;

// upsBatteryStatus, upsEstimatedMinutesRemaining, upsEstimatedChargeRemaining, upsBatteryVoltage.
const std::vector<std::uint32_t> kBattery[] = {
    { 2, 1, 33, 1, 2, 1, 0 }, { 2, 1, 33, 1, 2, 3, 0 }, { 2, 1, 33, 1, 2, 4, 0 }, { 2, 1, 33, 1, 2, 5, 0 } };

// The values a model holds once it has been reset: batteryDepleted, 1 minute
// at most, no charge, no voltage. The simulated UPS reports none of them.
bool IsResetValue(std::size_t which, std::int64_t value)
{
    switch (which) {
    case 0: return value == 4;
    case 1: return value <= 1;
    default: return value == 0;
    }
}

struct SRow {
    const char* name;
    const char* fault; // switched on once the UPS is polled
    std::chrono::seconds span;
    bool expectLost;
};

struct SOutcome {
    int asked = 0, answered = 0, errors = 0, resetValues = 0, slow = 0;
    std::vector<long> latenciesUs;
    std::size_t identifications = 0;
    bool ready = false;
    std::string stderrText;
};

SOutcome RunRow(const SRow& row)
{
    SOutcome out;
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    if (!ups.IsReady())
        return out;
    SDaemonOptions options;
    options.snmp = true;
    options.extraIni = "[Network]\nResponsiveLoop=1\n";
    CPvxDaemon pvx(folder.Path(), ups.DevicePath(), options);
    ups.Control("set drift off");
    ups.Control("set battery.charge 80");
    out.ready = pvx.WaitForStdout("UPS found is [", 30s) && WaitFor([&] {
        auto charge = snmp::Ask(pvx.AgentPort(), kBattery[2], 2s);
        return charge && charge->errorStatus == 0 && charge->value.number == 80;
    }, 30s);
    if (!out.ready)
        return out;
    ups.Control(row.fault);
    const auto end = Clock::now() + row.span;
    for (std::size_t i = 0; Clock::now() < end; ++i) {
        const std::size_t which = i % std::size(kBattery);
        const auto start = Clock::now();
        auto answer = snmp::Ask(pvx.AgentPort(), kBattery[which], 3s, "127.0.0.3");
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        ++out.asked;
        if (answer) {
            ++out.answered;
            out.latenciesUs.push_back(static_cast<long>(us));
            if (us > 1'000'000)
                ++out.slow;
            if (answer->errorStatus != 0)
                ++out.errors;
            else if (IsResetValue(which, answer->value.number))
                ++out.resetValues;
        }
        std::this_thread::sleep_for(100ms);
    }
    const std::string stdoutText = pvx.Stdout();
    for (std::size_t at = 0; (at = stdoutText.find("UPS found is [", at)) != std::string::npos; ++at)
        ++out.identifications;
    out.stderrText = pvx.Stderr();
    return out;
}

long Percentile(std::vector<long> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())))];
}

TEST(SerialFaults, ASilentUpsIsNeverAFlatBatteryAndNoiseNeverLosesTheUps)
{
    const SRow rows[] = {
        // Lost after about 21 s, then one detection attempt that fails.
        { "silent", "fault silence on", 40s, true },
        { "noise 10 bytes/s", "fault noise 10", 60s, false },
    };
    SOutcome outcomes[std::size(rows)];
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < std::size(rows); ++i)
        threads.emplace_back([&, i] { outcomes[i] = RunRow(rows[i]); });
    for (auto& thread : threads)
        thread.join();

    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const SRow& row = rows[i];
        const SOutcome& out = outcomes[i];
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(out.ready);
        std::printf("%-18s GETs %d asked, %d answered (%d errors), p50 %ld us, p99 %ld us, %d over 1 s; "
                    "identifications %zu\n",
            row.name, out.asked, out.answered, out.errors, Percentile(out.latenciesUs, 0.5),
            Percentile(out.latenciesUs, 0.99), out.slow, out.identifications);
        EXPECT_EQ(out.resetValues, 0) << "answers that carried the reset values as measured";
        EXPECT_GE(out.answered * 100, out.asked * 99);
        EXPECT_LE(out.slow * 100, out.asked) << "GETs that waited more than a second";
        if (row.expectLost) {
            EXPECT_GT(out.errors, 0) << "the UPS was given up and SNMP answered as without one";
        } else {
            EXPECT_EQ(out.errors, 0);
            EXPECT_EQ(out.identifications, 1u) << "identified again: the UPS was lost\n" << out.stderrText;
        }
    }
}

} // namespace
