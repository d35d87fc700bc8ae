// The objects served: RFC 1628 UPS-MIB groups 1 to 9 (1.3.6.1.2.1.33.1) and
// the vendor UPS MIB groups 1 to 10 (1.3.6.1.4.1.534.1). One line per object:
// arc, kind and bound, access, value source, and the writer of writable ones.
// Table cells are named table.row.column.0.
#include "ups/MIBTree.h"

#include "platform/Portability.h"

#include <algorithm>
#include <limits>

namespace pvx {

namespace {

using U = CAbstractUPS;

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

constexpr SMIBKind Signed(std::int64_t minimum = kInt32Min, std::int64_t maximum = kInt32Max)
{
    return { MIB_SIGNED, minimum, maximum };
}
constexpr SMIBKind Unsigned(std::int64_t maximum = kMIBIntMax)
{
    return { MIB_UNSIGNED, 0, maximum };
}
constexpr SMIBKind Enumerated(std::int64_t maximum = kMIBIntMax)
{
    return { MIB_ENUMERATED, 0, maximum };
}
constexpr SMIBKind NumberText()
{
    return { MIB_NUMBER_TEXT, 0, kMIBIntMax };
}
constexpr SMIBKind Text(std::int64_t length)
{
    return { MIB_TEXT, 0, length };
}
constexpr SMIBKind Oid()
{
    return { MIB_OID, 0, 0 };
}
// Delays and windows in seconds, -1 for none.
constexpr SMIBKind Seconds()
{
    return Signed(-1, kInt32Max);
}

constexpr SObject RO(std::uint32_t arc, SMIBKind kind, ScalarGetter get)
{
    return { arc, kind, EAccess::ReadOnly, get, nullptr, nullptr };
}
constexpr SObject RW(std::uint32_t arc, SMIBKind kind, ScalarGetter get, Writer write)
{
    return { arc, kind, EAccess::ReadWrite, get, write, nullptr };
}
constexpr SObject WO(std::uint32_t arc, Writer write)
{
    return { arc, {}, EAccess::WriteOnly, nullptr, write, nullptr };
}
constexpr SObject Table(std::uint32_t arc, const STable& table)
{
    return { arc, {}, EAccess::ReadOnly, nullptr, nullptr, &table };
}

SMIBValue N(std::int64_t number)
{
    return { number, {}, nullptr };
}
SMIBValue T(std::string_view text)
{
    return { 0, text, nullptr };
}
SMIBValue O(const COid& oid)
{
    return { 0, {}, &oid };
}

// Line counts above what the model holds are served as the held lines only.
std::size_t Lines(std::uint32_t count)
{
    return std::min<std::uint32_t>(count, U::kMaxLines);
}

// Seconds until a due time, truncated toward zero, or -1 when none is due.
std::int64_t SecondsUntil(std::int64_t due)
{
    auto ms = U::MillisecondsUntil(due);
    return ms ? *ms / 1000 : -1;
}

std::int64_t WindowSeconds(std::int64_t window)
{
    return window == U::kUnlimitedWindow ? -1 : window / 1000;
}

std::uint32_t NumberedRow(const U&, std::size_t row)
{
    return static_cast<std::uint32_t>(row + 1);
}

constexpr std::uint32_t kUpsIdentPrefix[] = { 2, 1, 33, 1, 1 };
constexpr std::uint32_t kUpsBatteryPrefix[] = { 2, 1, 33, 1, 2 };
constexpr std::uint32_t kUpsInputPrefix[] = { 2, 1, 33, 1, 3 };
constexpr std::uint32_t kUpsOutputPrefix[] = { 2, 1, 33, 1, 4 };
constexpr std::uint32_t kUpsBypassPrefix[] = { 2, 1, 33, 1, 5 };
constexpr std::uint32_t kUpsAlarmPrefix[] = { 2, 1, 33, 1, 6 };
constexpr std::uint32_t kUpsTestPrefix[] = { 2, 1, 33, 1, 7 };
constexpr std::uint32_t kUpsControlPrefix[] = { 2, 1, 33, 1, 8 };
constexpr std::uint32_t kUpsConfigPrefix[] = { 2, 1, 33, 1, 9 };
// After the UPS-MIB the walk goes on in the vendor MIB.
constexpr std::uint32_t kPrivatePrefix[] = { 4 };
constexpr std::uint32_t kVendorIdentPrefix[] = { 4, 1, 534, 1, 1 };
constexpr std::uint32_t kVendorBatteryPrefix[] = { 4, 1, 534, 1, 2 };
constexpr std::uint32_t kVendorInputPrefix[] = { 4, 1, 534, 1, 3 };
constexpr std::uint32_t kVendorOutputPrefix[] = { 4, 1, 534, 1, 4 };
constexpr std::uint32_t kVendorBypassPrefix[] = { 4, 1, 534, 1, 5 };
constexpr std::uint32_t kVendorEnvironmentPrefix[] = { 4, 1, 534, 1, 6 };
constexpr std::uint32_t kVendorAlarmPrefix[] = { 4, 1, 534, 1, 7 };
constexpr std::uint32_t kVendorTestPrefix[] = { 4, 1, 534, 1, 8 };
constexpr std::uint32_t kVendorControlPrefix[] = { 4, 1, 534, 1, 9 };
constexpr std::uint32_t kVendorConfigPrefix[] = { 4, 1, 534, 1, 10 };
constexpr std::span<const std::uint32_t> kEndOfWalk {};

} // namespace

// clang-format off
// ---- UPS-MIB (RFC 1628) ---------------------------------------------------------------------

// upsIdent
const SObject CMIBTree::kUpsIdentObjects[] = {
    RO(1, Text(31), [](const U& u) { return T(u.m_manufacturer); }),
    RO(2, Text(63), [](const U& u) { return T(u.m_model); }),
    RO(3, Text(63), [](const U& u) { return T(u.m_upsSoftwareVersion); }),
    RO(4, Text(63), [](const U&) { return T("0.1a"); }),
    RW(5, Text(63), [](const U& u) { return T(u.m_upsName); },
       [](U& u, CMIBData& v) { u.WriteIdentText(u.m_upsName, keys::kUPSName, v); }),
    RW(6, Text(63), [](const U& u) { return T(u.m_attachedDevices); },
       [](U& u, CMIBData& v) { u.WriteIdentText(u.m_attachedDevices, keys::kAttachedDevices, v); }),
};

// upsBattery; upsBatteryStatus: 2 normal, 3 low, 4 depleted.
const SObject CMIBTree::kUpsBatteryObjects[] = {
    RO(1, Unsigned(), [](const U& u) {
        return N(u.m_minutesRemaining == 0 ? 4 : u.m_minutesRemaining <= u.m_lowBatteryTime ? 3 : 2);
    }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_secondsOnBattery); }),
    RO(3, Enumerated(), [](const U& u) { return N(u.m_minutesRemaining); }),
    RO(4, Unsigned(100), [](const U& u) { return N(u.m_chargeRemaining); }),
    RO(5, Unsigned(), [](const U& u) { return N(u.m_batteryVoltage); }),
    RO(6, Signed(), [](const U& u) { return N(u.m_batteryCurrent); }),
    RO(7, Signed(), [](const U& u) { return N(u.m_batteryTemperature); }),
};

// upsInput; upsInputTable columns 2 to 5 (the index column is not served).
const SColumn CMIBTree::kUpsInputColumns[] = {
    {2, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].frequency); }},
    {3, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].voltage); }},
    {4, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].current); }},
    {5, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].truePower); }},
};
const STable CMIBTree::kUpsInputTable = {[](const U& u) { return Lines(u.m_inputLineCount); }, NumberedRow, true,
                                         true, kUpsInputColumns};
const SObject CMIBTree::kUpsInputObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(u.m_inputLineBads); }),
    RO(2, Unsigned(), [](const U& u) { return N(Lines(u.m_inputLineCount)); }),
    Table(3, kUpsInputTable),
};

// upsOutput
const SColumn CMIBTree::kUpsOutputColumns[] = {
    {2, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].voltage); }},
    {3, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].current); }},
    {4, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].power); }},
    {5, Unsigned(100), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].percentLoad); }},
};
const STable CMIBTree::kUpsOutputTable = {[](const U& u) { return Lines(u.m_outputLineCount); }, NumberedRow, true,
                                          true, kUpsOutputColumns};
const SObject CMIBTree::kUpsOutputObjects[] = {
    RO(1, Enumerated(7), [](const U& u) { return N(u.m_outputSource); }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_outputFrequency); }),
    RO(3, Unsigned(), [](const U& u) { return N(Lines(u.m_outputLineCount)); }),
    Table(4, kUpsOutputTable),
};

// upsBypass
const SColumn CMIBTree::kUpsBypassColumns[] = {
    {2, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_bypassLines[r].voltage); }},
    {3, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_bypassLines[r].current); }},
    {4, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_bypassLines[r].power); }},
};
const STable CMIBTree::kUpsBypassTable = {[](const U& u) { return Lines(u.m_bypassLineCount); }, NumberedRow, true,
                                          true, kUpsBypassColumns};
const SObject CMIBTree::kUpsBypassObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(u.m_bypassFrequency); }),
    RO(2, Unsigned(), [](const U& u) { return N(Lines(u.m_bypassLineCount)); }),
    Table(3, kUpsBypassTable),
};

// upsAlarm; rows named by upsAlarmId, walked in list order; times are ms clock / 10.
const SColumn CMIBTree::kUpsAlarmColumns[] = {
    {2, Oid(), [](const U& u, std::size_t r) { return O(u.m_alarms[r].descriptor); }},
    {3, NumberText(), [](const U& u, std::size_t r) { return N(u.m_alarms[r].time / 10); }},
};
const STable CMIBTree::kUpsAlarmTable = {[](const U& u) { return u.m_alarms.size(); },
                                         [](const U& u, std::size_t r) { return u.m_alarms[r].id; }, false, false,
                                         kUpsAlarmColumns};
const SObject CMIBTree::kUpsAlarmObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(static_cast<std::int64_t>(u.m_alarms.size())); }),
    Table(2, kUpsAlarmTable),
};

// upsTest
const SObject CMIBTree::kUpsTestObjects[] = {
    RW(1, Oid(), [](const U& u) { return O(u.m_testId); }, [](U& u, CMIBData& v) { u.WriteTestId(v); }),
    RW(2, Unsigned(), [](const U& u) { return N(u.m_testSpinLock); }, [](U& u, CMIBData& v) { u.WriteTestSpinLock(v); }),
    RO(3, Enumerated(6), [](const U& u) { return N(u.m_testResultSummary); }),
    RO(4, Text(255), [](const U& u) { return T(u.m_testResultDetail); }),
    RO(5, Unsigned(), [](const U& u) { return N(u.m_testStartTime / 10); }),
    RO(6, Unsigned(), [](const U& u) {
        // A running test reports its time so far.
        return N(u.m_testResultSummary == 5 ? (GetMilliseconds() - u.m_testStartTime) / 10 : u.m_testElapsedTime / 10);
    }),
};

// upsControl
const SObject CMIBTree::kUpsControlObjects[] = {
    RW(1, Enumerated(2), [](const U& u) { return N(u.m_shutdownType); },
       [](U& u, CMIBData& v) { u.WriteShutdownType(v); }),
    RW(2, Seconds(), [](const U& u) { return N(SecondsUntil(u.m_shutdownDue)); },
       [](U& u, CMIBData& v) { u.WriteShutdownAfterDelay(v); }),
    RW(3, Seconds(), [](const U& u) { return N(SecondsUntil(u.m_startupDue)); },
       [](U& u, CMIBData& v) { u.WriteStartupAfterDelay(v); }),
    RW(4, Seconds(), [](const U& u) { return N(SecondsUntil(u.m_startupDue)); },
       [](U& u, CMIBData& v) { u.WriteRebootWithDuration(v); }),
    RO(5, Enumerated(2), [](const U& u) { return N(u.m_autoRestartOff == 0 ? 1 : 2); }),
};

// upsConfig; drivers make some of these writable.
const SObject CMIBTree::kUpsConfigObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(u.m_nominalInputVoltage); }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_nominalInputFrequency); }),
    RO(3, Unsigned(), [](const U& u) { return N(u.m_nominalOutputVoltage); }),
    RO(4, Unsigned(), [](const U& u) { return N(u.m_nominalOutputFrequency); }),
    RO(5, Unsigned(), [](const U& u) { return N(u.m_nominalOutputVA); }),
    RO(6, Unsigned(), [](const U& u) { return N(u.m_nominalOutputPower); }),
    RO(7, Unsigned(), [](const U& u) { return N(u.m_lowBatteryTime); }),
    RO(8, Unsigned(3), [](const U& u) { return N(u.m_audibleStatus); }),
    RO(9, Unsigned(), [](const U& u) { return N(u.m_lowTransferVoltage); }),
    RO(10, Unsigned(), [](const U& u) { return N(u.m_highTransferVoltage); }),
};

// ---- Vendor UPS MIB (1.3.6.1.4.1.534.1) ---------------------------------------------------------
// Its tables serve column 1 (the row number, or alarm id + 1).

const SObject CMIBTree::kVendorIdentObjects[] = {
    RO(1, Text(31), [](const U& u) { return T(u.m_manufacturer); }),
    RO(2, Text(63), [](const U& u) { return T(u.m_model); }),
    RO(3, Text(63), [](const U& u) { return T(u.m_upsSoftwareVersion); }),
};

const SObject CMIBTree::kVendorBatteryObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(std::int64_t{u.m_minutesRemaining} * 60); }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_batteryVoltage / 10); }),
    RO(3, Signed(), [](const U& u) { return N(u.m_batteryCurrent / 10); }),
    RO(4, Unsigned(100), [](const U& u) { return N(u.m_chargeRemaining); }),
    RO(5, Enumerated(5), [](const U& u) { return N(u.m_batteryChargeState); }),
};

const SColumn CMIBTree::kVendorInputColumns[] = {
    {1, Unsigned(6), [](const U&, std::size_t r) { return N(static_cast<std::int64_t>(r + 1)); }},
    {2, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].voltage); }},
    {3, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].current / 10); }},
    {4, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_inputLines[r].truePower); }},
};
const STable CMIBTree::kVendorInputTable = {[](const U& u) { return Lines(u.m_inputLineCount); }, NumberedRow, true,
                                            true, kVendorInputColumns};
const SObject CMIBTree::kVendorInputObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(u.m_inputLines[0].frequency); }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_inputLineBads); }),
    RO(3, Unsigned(), [](const U& u) { return N(Lines(u.m_inputLineCount)); }),
    Table(4, kVendorInputTable),
};

const SColumn CMIBTree::kVendorOutputColumns[] = {
    {1, Unsigned(6), [](const U&, std::size_t r) { return N(static_cast<std::int64_t>(r + 1)); }},
    {2, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].voltage); }},
    {3, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].current / 10); }},
    {4, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_outputLines[r].power); }},
};
const STable CMIBTree::kVendorOutputTable = {[](const U& u) { return Lines(u.m_outputLineCount); }, NumberedRow,
                                             true, true, kVendorOutputColumns};
const SObject CMIBTree::kVendorOutputObjects[] = {
    RO(1, Unsigned(100), [](const U& u) { return N(u.m_outputLines[0].percentLoad); }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_outputFrequency); }),
    RO(3, Unsigned(), [](const U& u) { return N(Lines(u.m_outputLineCount)); }),
    Table(4, kVendorOutputTable),
};

const SColumn CMIBTree::kVendorBypassColumns[] = {
    {1, Unsigned(6), [](const U&, std::size_t r) { return N(static_cast<std::int64_t>(r + 1)); }},
    {2, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_bypassLines[r].voltage); }},
};
const STable CMIBTree::kVendorBypassTable = {[](const U& u) { return Lines(u.m_bypassLineCount); }, NumberedRow,
                                             true, true, kVendorBypassColumns};
const SObject CMIBTree::kVendorBypassObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(u.m_bypassFrequency); }),
    RO(2, Unsigned(), [](const U& u) { return N(Lines(u.m_bypassLineCount)); }),
    Table(3, kVendorBypassTable),
};

// Environment; drivers make the limits writable.
const SObject CMIBTree::kVendorEnvironmentObjects[] = {
    RO(1, Signed(-100, 200), [](const U& u) { return N(u.m_ambientTemperature); }),
    RO(2, Signed(-100, 200), [](const U& u) { return N(u.m_lowTemperatureLimit); }),
    RO(3, Signed(-100, 200), [](const U& u) { return N(u.m_highTemperatureLimit); }),
};

// Alarms (rows by id, column 1 = id + 1) and the UPS's event log (rows 1..n).
const SColumn CMIBTree::kVendorAlarmColumns[] = {
    {1, Unsigned(), [](const U& u, std::size_t r) { return N(std::int64_t{u.m_alarms[r].id} + 1); }},
    {2, Oid(), [](const U& u, std::size_t r) { return O(u.m_alarms[r].descriptor); }},
    {3, NumberText(), [](const U& u, std::size_t r) { return N(u.m_alarms[r].time / 10); }},
};
const STable CMIBTree::kVendorAlarmTable = {[](const U& u) { return u.m_alarms.size(); },
                                            [](const U& u, std::size_t r) { return u.m_alarms[r].id; }, false, false,
                                            kVendorAlarmColumns};
const SColumn CMIBTree::kVendorEventColumns[] = {
    {1, Unsigned(), [](const U&, std::size_t r) { return N(static_cast<std::int64_t>(r + 1)); }},
    {2, Text(22), [](const U& u, std::size_t r) { return T(u.m_eventRecords[r].text); }},
    {3, Signed(), [](const U& u, std::size_t r) { return N(u.m_eventRecords[r].state); }},
    {4, Unsigned(), [](const U& u, std::size_t r) { return N(u.m_eventRecords[r].code); }},
};
const STable CMIBTree::kVendorEventTable = {[](const U& u) { return u.m_eventRecords.size(); }, NumberedRow, true,
                                            false, kVendorEventColumns};
const SObject CMIBTree::kVendorAlarmObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(static_cast<std::int64_t>(u.m_alarms.size())); }),
    Table(2, kVendorAlarmTable),
    RO(18, Unsigned(), [](const U& u) { return N(static_cast<std::int64_t>(u.m_eventRecords.size())); }),
    Table(19, kVendorEventTable),
};

// Test: object 1 starts a quick battery test whatever value is written.
const SObject CMIBTree::kVendorTestObjects[] = {
    WO(1, [](U& u, CMIBData& v) { u.WriteVendorQuickTest(v); }),
    RO(2, Unsigned(6), [](const U& u) { return N(u.m_vendorTestResult); }),
};

// Control: delays in seconds (0 cancels), warning windows in seconds (-1 unlimited).
const SObject CMIBTree::kVendorControlObjects[] = {
    RW(1, Seconds(), [](const U& u) { return N(SecondsUntil(u.m_shutdownDue)); },
       [](U& u, CMIBData& v) { u.WriteVendorShutdown(v); }),
    RW(2, Seconds(), [](const U& u) { return N(SecondsUntil(u.m_startupDue)); },
       [](U& u, CMIBData& v) { u.WriteVendorStartup(v); }),
    RW(3, Seconds(), [](const U& u) { return N(WindowSeconds(u.m_shutdownWarningWindow)); },
       [](U& u, CMIBData& v) { u.WriteWarningWindow(u.m_shutdownWarningWindow, v); }),
    RW(4, Seconds(), [](const U& u) { return N(WindowSeconds(u.m_startupWarningWindow)); },
       [](U& u, CMIBData& v) { u.WriteWarningWindow(u.m_startupWarningWindow, v); }),
    RW(5, Seconds(), [](const U& u) { return N(SecondsUntil(u.m_timedCommandDue)); },
       [](U& u, CMIBData& v) { u.WriteVendorTimedCommand(v); }),
};

// Configuration; drivers make the date and time writable.
const SObject CMIBTree::kVendorConfigObjects[] = {
    RO(1, Unsigned(), [](const U& u) { return N(u.m_nominalOutputVoltage); }),
    RO(2, Unsigned(), [](const U& u) { return N(u.m_nominalInputVoltage); }),
    RO(3, Unsigned(), [](const U& u) { return N(u.m_nominalOutputPower); }),
    RO(4, Unsigned(), [](const U& u) { return N(u.m_nominalOutputFrequency); }),
    RO(5, Text(255), [](const U& u) { return T(u.m_upsDateTime); }),
};

// clang-format on

// ---- Groups and the order of the walk ---------------------------------------------------------

const SGroup CMIBTree::kUpsIdent = { kUpsIdentPrefix, kUpsIdentObjects, kUpsBatteryPrefix };
const SGroup CMIBTree::kUpsBattery = { kUpsBatteryPrefix, kUpsBatteryObjects, kUpsInputPrefix };
const SGroup CMIBTree::kUpsInput = { kUpsInputPrefix, kUpsInputObjects, kUpsOutputPrefix };
const SGroup CMIBTree::kUpsOutput = { kUpsOutputPrefix, kUpsOutputObjects, kUpsBypassPrefix };
const SGroup CMIBTree::kUpsBypass = { kUpsBypassPrefix, kUpsBypassObjects, kUpsAlarmPrefix };
const SGroup CMIBTree::kUpsAlarm = { kUpsAlarmPrefix, kUpsAlarmObjects, kUpsTestPrefix };
const SGroup CMIBTree::kUpsTest = { kUpsTestPrefix, kUpsTestObjects, kUpsControlPrefix };
const SGroup CMIBTree::kUpsControl = { kUpsControlPrefix, kUpsControlObjects, kUpsConfigPrefix };
const SGroup CMIBTree::kUpsConfig = { kUpsConfigPrefix, kUpsConfigObjects, kPrivatePrefix };
const SGroup CMIBTree::kVendorIdent = { kVendorIdentPrefix, kVendorIdentObjects, kVendorBatteryPrefix };
const SGroup CMIBTree::kVendorBattery = { kVendorBatteryPrefix, kVendorBatteryObjects, kVendorInputPrefix };
const SGroup CMIBTree::kVendorInput = { kVendorInputPrefix, kVendorInputObjects, kVendorOutputPrefix };
const SGroup CMIBTree::kVendorOutput = { kVendorOutputPrefix, kVendorOutputObjects, kVendorBypassPrefix };
const SGroup CMIBTree::kVendorBypass = { kVendorBypassPrefix, kVendorBypassObjects, kVendorEnvironmentPrefix };
const SGroup CMIBTree::kVendorEnvironment = { kVendorEnvironmentPrefix, kVendorEnvironmentObjects, kVendorAlarmPrefix };
const SGroup CMIBTree::kVendorAlarm = { kVendorAlarmPrefix, kVendorAlarmObjects, kVendorTestPrefix };
const SGroup CMIBTree::kVendorTest = { kVendorTestPrefix, kVendorTestObjects, kVendorControlPrefix };
const SGroup CMIBTree::kVendorControl = { kVendorControlPrefix, kVendorControlObjects, kVendorConfigPrefix };
const SGroup CMIBTree::kVendorConfig = { kVendorConfigPrefix, kVendorConfigObjects, kEndOfWalk };

namespace {
const SGroup* const kAllGroups[] = { &CMIBTree::kUpsIdent, &CMIBTree::kUpsBattery, &CMIBTree::kUpsInput,
    &CMIBTree::kUpsOutput, &CMIBTree::kUpsBypass, &CMIBTree::kUpsAlarm, &CMIBTree::kUpsTest, &CMIBTree::kUpsControl,
    &CMIBTree::kUpsConfig, &CMIBTree::kVendorIdent, &CMIBTree::kVendorBattery, &CMIBTree::kVendorInput,
    &CMIBTree::kVendorOutput, &CMIBTree::kVendorBypass, &CMIBTree::kVendorEnvironment, &CMIBTree::kVendorAlarm,
    &CMIBTree::kVendorTest, &CMIBTree::kVendorControl, &CMIBTree::kVendorConfig };
} // namespace

std::span<const SGroup* const> CMIBTree::AllGroups()
{
    return kAllGroups;
}

} // namespace pvx
