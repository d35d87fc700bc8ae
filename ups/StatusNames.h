// The names of the model's codes: a key (for labels, JSON and commands'
// environments) and words (for the page and the log).
#pragma once

#include "snmp/values/MIBData.h"
#include "ups/Readings.h"

#include <algorithm>

#include <array>
#include <cstdint>
#include <string>

namespace pvx::status {

struct SName {
    int code;
    const char* key; // label value and JSON value
    const char* words; // on the page
};

// The upsOutputSource and upsTestResultsSummary codes (RFC 1628) that the
// services decide on.
inline constexpr int kSourceOther = 1, kSourceNone = 2, kSourceNormal = 3, kSourceBypass = 4;
inline constexpr int kSourceBattery = 5, kSourceBooster = 6, kSourceReducer = 7;
inline constexpr int kTestInProgress = 5;

// upsOutputSource (RFC 1628) with the words and colour class of the page.
inline constexpr std::array<SName, 7> kSources { {
    { 1, "other", "Unknown output source" },
    { 2, "none", "Output off" },
    { 3, "normal", "On line" },
    { 4, "bypass", "On bypass" },
    { 5, "battery", "On battery" },
    { 6, "booster", "On line, boosting" },
    { 7, "reducer", "On line, reducing" },
} };

inline constexpr std::array<SName, 4> kBatteryStatuses { {
    { 1, "unknown", "Unknown" },
    { 2, "normal", "Normal" },
    { 3, "low", "Low" },
    { 4, "depleted", "Depleted" },
} };

inline constexpr std::array<SName, 6> kTestResults { {
    { 1, "donePass", "Passed" },
    { 2, "doneWarning", "Passed with a warning" },
    { 3, "doneError", "Failed" },
    { 4, "aborted", "Aborted" },
    { 5, "inProgress", "In progress" },
    { 6, "noTestsInitiated", "No test run" },
} };

// RFC 1628 upsWellKnownAlarms, 1.3.6.1.2.1.33.1.6.3.N.
inline constexpr std::array<SName, 24> kAlarms { {
    { 1, "batteryBad", "Battery bad" },
    { 2, "onBattery", "On battery" },
    { 3, "lowBattery", "Low battery" },
    { 4, "depletedBattery", "Battery depleted" },
    { 5, "tempBad", "Temperature out of range" },
    { 6, "inputBad", "Input out of range" },
    { 7, "outputBad", "Output out of range" },
    { 8, "outputOverload", "Output overload" },
    { 9, "onBypass", "On bypass" },
    { 10, "bypassBad", "Bypass out of range" },
    { 11, "outputOffAsRequested", "Output off as requested" },
    { 12, "upsOffAsRequested", "UPS off as requested" },
    { 13, "chargerFailed", "Charger failed" },
    { 14, "upsOutputOff", "Output off" },
    { 15, "upsSystemOff", "UPS system off" },
    { 16, "fanFailure", "Fan failure" },
    { 17, "fuseFailure", "Fuse failure" },
    { 18, "generalFault", "General fault" },
    { 19, "diagnosticTestFailed", "Diagnostic test failed" },
    { 20, "communicationsLost", "Communications lost" },
    { 21, "awaitingPower", "Awaiting power" },
    { 22, "shutdownPending", "Shutdown pending" },
    { 23, "shutdownImminent", "Shutdown imminent" },
    { 24, "testInProgress", "Test in progress" },
} };

template <std::size_t N> const SName* Find(const std::array<SName, N>& names, int code)
{
    for (const SName& name : names)
        if (name.code == code)
            return &name;
    return nullptr;
}

template <std::size_t N> std::string KeyOf(const std::array<SName, N>& names, int code)
{
    const SName* name = Find(names, code);
    return name ? name->key : std::to_string(code);
}

template <std::size_t N> std::string WordsOf(const std::array<SName, N>& names, int code)
{
    const SName* name = Find(names, code);
    return name ? name->words : std::to_string(code);
}

// The N of a well-known alarm 1.3.6.1.2.1.33.1.6.3.N, or 0.
inline int WellKnownAlarm(const COid& descriptor)
{
    constexpr std::uint32_t kPrefix[] = { 2, 1, 33, 1, 6, 3 };
    if (descriptor.Size() != std::size(kPrefix) + 2)
        return 0;
    for (std::size_t i = 0; i < std::size(kPrefix); ++i)
        if (descriptor[i] != kPrefix[i])
            return 0;
    return Find(kAlarms, static_cast<int>(descriptor[6])) ? static_cast<int>(descriptor[6]) : 0;
}

// Whether the readings hold the well-known alarm N.
inline bool HasWellKnownAlarm(const SUPSReadings& readings, int alarm)
{
    return std::ranges::any_of(readings.alarms, [alarm](const SAlarmReading& a) { return WellKnownAlarm(a.descriptor) == alarm; });
}

} // namespace pvx::status
