// The vocabulary of the object tables (ups/MIBObjects.cpp, ups/MIBObjectsVendor.cpp):
// kinds and bounds, one constructor per access, value wrappers and unit helpers.
// Private to the ups library.
#pragma once

#include "ups/MIBTree.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

namespace pvx::mibobjects {

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
// An unsigned number that a SET must keep within [minimum, maximum]; read
// back clamped to [0, maximum] as Unsigned().
constexpr SMIBKind UnsignedRange(std::int64_t minimum, std::int64_t maximum)
{
    return { MIB_UNSIGNED, minimum, maximum };
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
// The same kind, sent in RFC 1628's type with standard values.
constexpr SMIBKind As(EWireForm standard, SMIBKind kind)
{
    kind.standard = standard;
    return kind;
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

// One object: arc, MIB name, kind and bound, value source, writer, meaning.
// Units in meanings: voltages in volts RMS unless told otherwise, currents in
// 0.1 A, frequencies in 0.1 Hz, powers in watts, as the UPS-MIB has them.
constexpr SObject RO(
    std::uint32_t arc, std::string_view name, SMIBKind kind, ScalarGetter get, std::string_view meaning)
{
    return { arc, kind, EAccess::ReadOnly, get, nullptr, nullptr, name, meaning };
}
constexpr SObject RW(
    std::uint32_t arc, std::string_view name, SMIBKind kind, ScalarGetter get, Writer write, std::string_view meaning)
{
    return { arc, kind, EAccess::ReadWrite, get, write, nullptr, name, meaning };
}
constexpr SObject WO(std::uint32_t arc, std::string_view name, Writer write, std::string_view meaning)
{
    return { arc, {}, EAccess::WriteOnly, nullptr, write, nullptr, name, meaning };
}
constexpr SObject Table(std::uint32_t arc, std::string_view name, const STable& table, std::string_view meaning)
{
    return { arc, {}, EAccess::ReadOnly, nullptr, nullptr, &table, name, meaning };
}
constexpr SColumn Column(
    std::uint32_t arc, std::string_view name, SMIBKind kind, CellGetter get, std::string_view meaning)
{
    return { arc, kind, get, name, meaning };
}

inline SMIBValue N(std::int64_t number)
{
    return { number, {}, nullptr };
}
inline SMIBValue T(std::string_view text)
{
    return { 0, text, nullptr };
}
inline SMIBValue O(const COid& oid)
{
    return { 0, {}, &oid };
}

// Line counts above what the model holds are served as the held lines only.
inline std::size_t Lines(std::uint32_t count)
{
    return std::min<std::uint32_t>(count, U::kMaxLines);
}

// Seconds until a due time, truncated toward zero, or -1 when none is due.
inline std::int64_t SecondsUntil(std::int64_t due)
{
    auto ms = U::MillisecondsUntil(due);
    return ms ? *ms / 1000 : -1;
}

inline std::int64_t WindowSeconds(std::int64_t window)
{
    return window == U::kUnlimitedWindow ? -1 : window / 1000;
}

inline std::uint32_t NumberedRow(const U&, std::size_t row)
{
    return static_cast<std::uint32_t>(row + 1);
}

// A line table: rows numbered from 1 (CMIBTree::LineRows counts them); GET-NEXT
// into it while it has no rows answers noSuchName.
constexpr STable LineTable(std::size_t (*rowCount)(const U&), std::span<const SColumn> columns)
{
    return { rowCount, NumberedRow, true, true, columns };
}

} // namespace pvx::mibobjects

namespace pvx {

inline constexpr std::int32_t kInt32MinValue = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int32_t kInt32MaxValue = std::numeric_limits<std::int32_t>::max();

// A cell of a line table: `Field` of line r of the model's `Lines`, divided by `Divisor`.
template <auto Lines, auto Field, std::int64_t Divisor>
SMIBValue CMIBTree::LineCell(const CAbstractUPS& u, std::size_t r)
{
    return mibobjects::N(std::int64_t { (u.*Lines)[r].*Field } / Divisor);
}

// The rows of a line table: the model's `Count` of lines, at most the lines held.
template <auto Count> std::size_t CMIBTree::LineRows(const CAbstractUPS& u)
{
    return mibobjects::Lines(u.*Count);
}

// The writer of a setting the UPS keeps: the driver makes the UPS take the
// value (or throws), then `Member` holds what was written.
template <EUPSSetting Setting, auto Member> void CMIBTree::WriteSetting(CAbstractUPS& ups, CMIBData& value)
{
    if (ups.IsCheckingSet()) {
        ups.CheckUPSSetting(Setting, value);
        return;
    }
    auto& member = ups.*Member;
    using Held = std::remove_reference_t<decltype(member)>;
    const Held old = member;
    ups.WriteUPSSetting(Setting, value);
    if constexpr (std::is_same_v<Held, std::string>)
        member = value.GetText();
    else
        member = static_cast<Held>(value.GetInteger());
    // Undone by writing the old value back to the UPS.
    ups.RecordUndo([&ups, &member, old] {
        if constexpr (std::is_same_v<Held, std::string>)
            ups.WriteUPSSetting(Setting, CMIBData(old, kMIBTextMax, MIB_TEXT));
        else
            ups.WriteUPSSetting(Setting,
                CMIBData(static_cast<std::int32_t>(old), kInt32MinValue, kInt32MaxValue, MIB_SIGNED));
        member = old;
    });
}

} // namespace pvx
