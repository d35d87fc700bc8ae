// The model as NUT's clients name it: the variables (ups.status,
// battery.charge, ...) with their types and descriptions, and the instant
// commands, each carried out through the same MIB objects that an SNMP SET
// writes, so that both protocols share one control surface.
#pragma once

#include "ups/Readings.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pvx::nut {

// What the server adds to the model's values.
struct SServerValues {
    bool fsd = false; // a primary's FSD, kept until pvx restarts
    std::uint32_t shutdownDelay = 20; // ups.delay.shutdown, seconds
    std::uint32_t startDelay = 30; // ups.delay.start, seconds
};

constexpr std::uint32_t kMaxDelay = 3600;
constexpr std::size_t kMaxIdLength = 63; // upsIdentName is SIZE (0..63) in RFC 1628

enum class EVariableKind {
    Number,
    Text, // read-only text
    Id, // ups.id: read-write text, written to the UPS's name
    ShutdownDelay, // read-write numbers the server keeps
    StartDelay,
};

struct SVariable {
    const char* name;
    EVariableKind kind;
    const char* description;
    // Writes the value (without quotes) and returns true, or false when the
    // UPS does not report it.
    bool (*value)(const SUPSReadings& ups, const SServerValues& server, std::string& out);
};

// Every variable pvx may serve, in the order LIST VAR gives them.
std::span<const SVariable> Variables();
const SVariable* FindVariable(std::string_view name);
bool IsWritable(const SVariable& variable);
// The words of GET TYPE after the name: "NUMBER", "STRING:n", "RW STRING:63", "RW RANGE".
std::string_view TypeWords(const SVariable& variable);

// ups.status as NUT's clients read it: OL, OB, LB, RB, BYPASS, CAL, OFF,
// OVER, TRIM, BOOST, CHRG, DISCHRG, FSD and ALARM, separated by blanks.
void AppendStatus(const SUPSReadings& ups, bool fsd, std::string& out);

// ---- Instant commands ----------------------------------------------------------------

enum class ECommandResult {
    Done,
    NotOffered, // CMD-NOT-SUPPORTED
    BadValue, // INVALID-ARGUMENT
    Failed, // INSTCMD-FAILED: the UPS refused or did not answer
};

struct SInstantCommand {
    const char* name;
    const char* description;
};

std::span<const SInstantCommand> InstantCommands();
const SInstantCommand* FindInstantCommand(std::string_view name);
// Whether this UPS can carry the command out, as LIST CMD shows it.
bool IsOffered(const SInstantCommand& command, CAbstractUPS& ups);
// Carries the command out; `value` is INSTCMD's optional argument (seconds
// for load.off.delay and load.on.delay).
ECommandResult RunInstantCommand(const SInstantCommand& command, CAbstractUPS& ups, const SServerValues& server,
                                 std::optional<std::string_view> value);

enum class EWriteResult {
    Done,
    TooLong,
    BadValue, // INVALID-VALUE
    Failed, // SET-FAILED
};

// SET VAR of ups.id: the UPS's name, as a SET of upsIdentName writes it
// (and writes it back to pvx.ini).
EWriteResult WriteUpsId(CAbstractUPS& ups, std::string_view value);
// A delay in whole seconds, 0 to kMaxDelay.
std::optional<std::uint32_t> ParseSeconds(std::string_view text);

} // namespace pvx::nut
