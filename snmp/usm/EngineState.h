// The SNMPv3 engine's identity and boot count, kept in a small state file
// beside pvx.ini so that they survive restarts.
//
// The file is text, one setting a line, written whole by pvx at every start:
//   # comment lines start with '#'
//   EngineID=8000021605<16 hexadecimal digits>
//   EngineBoots=<decimal, 1 to 2147483646>
// The engine ID follows RFC 3411: the enterprise number 534 with the top bit
// set, format 5 (octets), and eight random bytes drawn at the first start.
#pragma once

#include "snmp/usm/UsmCrypto.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pvx::usm {

struct SEngineState {
    Bytes engineId;
    std::uint32_t boots = 0;

    bool operator==(const SEngineState&) const = default;
};

// snmpEngineBoots latches at this value (RFC 3414): a new engine ID is drawn
// instead of reaching it.
constexpr std::uint32_t kMaxEngineBoots = 2147483647;
constexpr std::size_t kMaxStateFileSize = 4096;

// The state file's path for a configuration file: "pvx-engine.state" in the
// same folder.
std::string EngineStatePath(const std::string& configPath);

// Parses the file's text; nothing when a line is unknown or a value is out of
// range, or a setting is missing or given twice.
std::optional<SEngineState> ParseEngineState(std::string_view text);
std::string FormatEngineState(const SEngineState& state);

// 80 00 02 16 05 and eight random bytes; empty if no random bytes can be had.
Bytes MakeEngineId();

// The state for this start: the file's engine ID and its boots plus one, or a
// new engine ID with boots 1 when the file is missing (or its count would
// reach the latch value). The new state is written back before it is
// returned, so that a restart can never reuse a boot count. Throws
// CPVXException 0xC002003F, with the path as argument, when the file is
// damaged or the new state cannot be written.
SEngineState StartEngine(const std::string& statePath);

} // namespace pvx::usm
