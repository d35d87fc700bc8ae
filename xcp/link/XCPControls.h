// Controls, tests and configuration writes sent to a UPS as XCP commands, each
// answer mapped to an event. Shared by the XCP driver and the simulated UPS.
#pragma once

#include "xcp/link/Commands.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace pvx {

// Parameters of the set-configuration command 0x95.
constexpr std::uint8_t kXCPParameterLowBatteryTime = 0x05;
constexpr std::uint8_t kXCPParameterAudible = 0x06;
constexpr std::uint8_t kXCPParameterLowTemperature = 0x09;
constexpr std::uint8_t kXCPParameterHighTemperature = 0x0A;
constexpr std::uint8_t kXCPParameterOutputVoltage = 0x0B;

std::array<std::uint8_t, 2> LittleEndian16(std::uint16_t value);
// Values the 16 bits of a command can carry; anything else is refused with
// EVENT_BAD_VALUE before anything is sent.
std::uint16_t Unsigned16OrRefuse(std::int64_t value);
std::uint16_t Signed16OrRefuse(std::int64_t value);

// "%d/%d/%d:%d:%d:%d" as month, day, year, hour, minute, second; nullopt
// when fewer than six numbers are there or one does not fit an int.
std::optional<std::array<int, 6>> ParseDateTimeText(const std::string& text);
// The eight data bytes of the set-clock command 0x90.
std::array<std::uint8_t, 8> DateCommandBytes(const std::array<int, 6>& fields);

// A controls command is done only when the UPS accepts it (EVENT_COMMAND_FAILED).
// A schedule goes out immediate below 30 s (overdue included), else in whole
// minutes; none cancels it.
void SendSchedule(CCommands& link, std::optional<std::int64_t> remainingMs, std::uint8_t immediate,
                  std::uint8_t delayed);
void SendReboot(CCommands& link, std::optional<std::int64_t> remainingMs);
void SendTimedCommand(CCommands& link, std::optional<std::int64_t> remainingMs);
void SendBatteryTest(CCommands& link, std::uint8_t type, std::uint8_t duration);
// Returns the UPS's result code.
int SendOutletAction(CCommands& link, int outlet, std::uint8_t subCommand, int value);

// Configuration writes: the UPS's answer as the agent reports it (read-only,
// bad value or failed).
void WriteParameter(CCommands& link, std::uint8_t parameter, std::uint16_t value);
// Forwards a client's set-configuration request (its parameter and first
// value byte) and returns the UPS's status.
std::uint32_t ForwardParameter(CCommands& link, std::uint8_t parameter, std::uint8_t value);
// Sets the UPS clock from "%m/%d/%Y:%H:%M:%S"; EVENT_BAD_VALUE when the text is not a date.
void WriteClock(CCommands& link, const std::string& text);

} // namespace pvx
