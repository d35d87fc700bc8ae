// A plain copy of the model's values for displays that only read them (the
// status page and the metrics): taken in one call, so one response shows one
// moment of the model.
#pragma once

#include "ups/AbstractUPS.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pvx {

struct SAlarmReading {
    std::uint32_t id = 0;
    COid descriptor;
    std::uint32_t secondsAgo = 0; // since the alarm was raised
};

struct SUPSReadings {
    std::string manufacturer;
    std::string model;
    std::string softwareVersion;
    std::string name;
    std::string attachedDevices;
    int outputSource = 1; // upsOutputSource: 1 other .. 5 battery .. 7 reducer
    int batteryStatus = 2; // upsBatteryStatus: 2 normal, 3 low, 4 depleted
    std::uint32_t secondsOnBattery = 0;
    std::uint32_t minutesRemaining = 0;
    std::optional<std::uint32_t> chargeRemaining; // %, empty when the UPS does not know
    std::uint32_t batteryVoltage = 0; // 0.1 V DC
    std::int32_t batteryCurrent = 0; // 0.1 A
    std::int32_t batteryTemperature = 0; // degrees Celsius
    std::int32_t ambientTemperature = 0; // degrees Celsius
    std::uint32_t inputLineBads = 0;
    std::vector<SInputLine> inputLines; // as many as the UPS reports, at most kMaxLines
    std::uint32_t outputFrequency = 0; // 0.1 Hz
    std::vector<SOutputLine> outputLines;
    std::uint32_t bypassFrequency = 0; // 0.1 Hz
    std::vector<SBypassLine> bypassLines;
    std::vector<SAlarmReading> alarms; // oldest first
    int testResultSummary = 6; // upsTestResultsSummary: 1 donePass .. 6 noTestsInitiated
    std::string testResultDetail;
    std::optional<std::int64_t> secondsToShutdown; // empty when none is scheduled
    std::optional<std::int64_t> secondsToStartup;
    COid testId; // upsTestId: the last test started
    int batteryChargeState = 5; // 1 charging, 2 discharging, 3 floating, 4 resting, 5 unknown
    int audibleStatus = 2; // upsConfigAudibleStatus: 1 disabled, 2 enabled, 3 muted
    std::uint32_t lowBatteryMinutes = 0; // upsConfigLowBattTime
    std::uint32_t nominalOutputVA = 0; // 0: not known
    // Bit (1 << EMeasurement) set for every value the UPS reports.
    std::uint32_t measured = 0;
    bool Measures(EMeasurement value) const { return (measured >> static_cast<unsigned>(value) & 1u) != 0; }
};

} // namespace pvx
