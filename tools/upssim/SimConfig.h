// The UPS simulator's configuration: identity, link behaviour, supported
// commands, meter layout, alarms, outlets and starting values, read from a
// small INI-style text file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::upssim {

// One meter of the identification block's format list.
struct SMeterSlot {
    std::uint8_t number = 0;
    std::uint8_t format = 0;  // format byte as the UPS announces it
    std::string quantity;     // value name, "date", "time" or a number
};

struct SOutlet {
    std::uint8_t number = 0;
    std::uint16_t first = 0;
    std::uint16_t second = 0;
};

struct SSimConfig {
    // [identity]
    std::string model = "Simul UPS 1500";
    std::vector<std::pair<std::uint8_t, std::uint8_t>> firmware = {{1, 20}, {2, 5}};
    std::uint32_t ratingVA = 1500;
    std::uint8_t phases = 1;
    bool wakeupAnswersIdentification = true;

    // [link]
    std::vector<std::uint16_t> baudRates = {1200, 2400, 9600, 19200};
    bool authorizationRequired = true;
    std::uint8_t unauthorizedStatus = 0x32;
    std::uint32_t authorizationWindowMs = 5000;
    std::size_t maxBlock = 255;
    std::uint32_t replyDelayMs = 0;

    // [commands]
    std::vector<std::uint8_t> supported = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x38, 0x3B, 0x3C, 0x3F, 0x40,
                                           0x41, 0x42, 0x88, 0x89, 0x8A, 0x8B, 0x90, 0x91, 0x93, 0x95, 0x97,
                                           0x98, 0xA0, 0xB1, 0xB2, 0xCE, 0xCF};
    std::map<std::uint8_t, std::uint8_t> answers; // forced status per command

    // [nominal]
    std::uint16_t inputVoltage = 230;
    std::uint16_t inputFrequency = 50;
    std::uint16_t outputVoltage = 230;
    std::uint16_t outputFrequency = 50;
    std::uint8_t lowBatteryTime = 2;
    std::uint8_t audibleStatus = 2;
    std::uint16_t lowTransfer = 184;
    std::uint16_t highTransfer = 264;
    std::uint8_t temperatureLow = 0;
    std::uint8_t temperatureHigh = 40;

    // [values] starting values of named quantities
    std::map<std::string, double, std::less<>> values;

    // [meters] and [statistics]
    std::vector<SMeterSlot> meters;
    std::vector<SMeterSlot> statistics;
    std::size_t meterCount = 0;      // 0: highest meter number + 1
    std::size_t statisticsCount = 0; // likewise

    // [alarms]
    std::vector<std::uint8_t> supportedAlarms;
    std::vector<std::uint8_t> activeAlarms;
    std::size_t bitmapLength = 0; // 0: just long enough
    int onBatteryAlarm = 168;
    int lowBatteryAlarm = 56;

    // [outlets]
    std::vector<SOutlet> outlets;

    // [test]
    std::uint32_t testDurationSeconds = 10;
    bool testPasses = true;

    // [simulation]
    bool drift = true;
    std::uint32_t seed = 1;
    double dischargePerSecond = 0.5; // percent of charge per second on battery
    double chargePerSecond = 0.2;
    double lowChargePercent = 20.0;
    std::uint32_t fullRuntimeSeconds = 1800;
};

// The built-in configuration: a one-phase 1500 VA UPS with the meters the
// XCP driver reads, usable without any file.
SSimConfig DefaultSimConfig();

// Parses configuration text over the defaults. On error `error` names the
// line and the problem and false is returned.
bool ParseSimConfig(std::string_view text, SSimConfig& config, std::string& error);

// "float", "uint", "count", "fixedN", "date", "time" or a byte such as 0x61.
bool ParseMeterFormat(std::string_view word, std::uint8_t& format);
// A number in hexadecimal, with or without 0x (command codes, statuses).
bool ParseHexByte(std::string_view word, std::uint8_t& value);

} // namespace pvx::upssim
