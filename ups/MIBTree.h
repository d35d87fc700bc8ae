// The MIB object tree as data: each group is a table of objects (arc, kind,
// bound, access, value source, optional writer, name and meaning), walked by
// the small generic GET, GET-NEXT and SET code of CMIBTree. Private to the ups
// library; the MIB reference generator reads it too.
#pragma once

#include "ups/AbstractUPS.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace pvx {

// A value as a getter sees it, before kind and bound make a CMIBData of it.
struct SMIBValue {
    std::int64_t number = 0;
    std::string_view text;
    const COid* oid = nullptr;
};

// How an object is sent: its kind and its bound (numbers: [minimum, maximum];
// texts: maximum length).
struct SMIBKind {
    std::int32_t kind;
    std::int64_t minimum;
    std::int64_t maximum;
    // The type RFC 1628 gives the object where that is not an INTEGER, sent
    // with standard values (CAbstractUPS::SetStandardValues).
    EWireForm standard = EWireForm::AsKind;
};

enum class EAccess { ReadOnly, ReadWrite, WriteOnly };

using ScalarGetter = SMIBValue (*)(const CAbstractUPS&);
using CellGetter = SMIBValue (*)(const CAbstractUPS&, std::size_t row);
using Writer = void (*)(CAbstractUPS&, CMIBData&);

struct SColumn {
    std::uint32_t arc;
    SMIBKind kind;
    CellGetter get;
    // The column's MIB name and what it means, for the MIB reference.
    std::string_view name {};
    std::string_view meaning {};
};

// Rows are numbered 1..count (line and event tables) or named by an id
// (alarm tables); GET-NEXT takes them in index order.
struct STable {
    std::size_t (*rowCount)(const CAbstractUPS&);
    std::uint32_t (*rowArc)(const CAbstractUPS&, std::size_t row);
    // Rows numbered index + 1, so a row arc maps straight to its index.
    bool numberedRows;
    // GET-NEXT into an empty line table answers noSuchName instead of
    // passing on to the next object.
    bool emptyEndsWalk;
    std::span<const SColumn> columns; // consecutive arcs
};

struct SObject {
    std::uint32_t arc;
    SMIBKind kind;
    EAccess access;
    ScalarGetter get; // scalars readable (null for write-only objects and tables)
    Writer write; // ReadWrite and WriteOnly objects
    const STable* table; // tables
    // The object's MIB name and what it means (the rules of a SET included),
    // for the MIB reference.
    std::string_view name {};
    std::string_view meaning {};
};

struct SGroup {
    std::span<const std::uint32_t> prefix; // the group's name after 1.3.6.1
    std::span<const SObject> objects; // in arc order
    // GET-NEXT after the last object continues here (with next = true);
    // empty: the walk ends with noSuchName.
    std::span<const std::uint32_t> following;
    std::string_view name {};
    std::string_view meaning {};
};

class CMIBTree {
public:
    static std::unique_ptr<CMIBData> Get(
        CAbstractUPS& ups, const SGroup& group, std::span<const std::uint32_t> arcs, bool next);
    static void Set(CAbstractUPS& ups, const SGroup& group, std::span<const std::uint32_t> arcs, CMIBData& value);
    static std::unique_ptr<CMIBData> MakeValue(const SMIBKind& kind, const SMIBValue& value);
    // MakeValue as the model's values say: with standard values, in the
    // type RFC 1628 gives the object, identifiers without their final .0.
    static std::unique_ptr<CMIBData> MakeValue(
        const CAbstractUPS& ups, const SMIBKind& kind, const SMIBValue& value);
    // The checks every SET of an object makes before its writer runs: the
    // value's type (EVENT_WRONG_TYPE), a text's length (EVENT_WRONG_LENGTH)
    // and a number's range or enumeration (EVENT_BAD_VALUE).
    static void CheckForm(const SMIBKind& kind, const CMIBData& value);

    // UPS-MIB groups 1 to 9, vendor MIB groups 1 to 10.
    static const SGroup kUpsIdent, kUpsBattery, kUpsInput, kUpsOutput, kUpsBypass, kUpsAlarm, kUpsTest, kUpsControl,
        kUpsConfig;
    static const SGroup kVendorIdent, kVendorBattery, kVendorInput, kVendorOutput, kVendorBypass, kVendorEnvironment,
        kVendorAlarm, kVendorTest, kVendorControl, kVendorConfig;
    // Every group above in the order of the walk, read-only, for tools that
    // describe the tree (the MIB reference generator).
    static std::span<const SGroup* const> AllGroups();

    // RFC 1628 instance naming (entry.column.index) over the same tables:
    // the vendor naming's name of a standard instance name (throws when it names no
    // instance), and GET / GET-NEXT in that naming.
    static COid StandardToVendorName(const CAbstractUPS& ups, std::span<const std::uint32_t> arcs);
    static std::unique_ptr<CMIBData> StandardGet(CAbstractUPS& ups, std::span<const std::uint32_t> arcs);
    static std::unique_ptr<CMIBData> StandardNext(CAbstractUPS& ups, std::span<const std::uint32_t> arcs);

private:
    static std::unique_ptr<CMIBData> FollowFrom(CAbstractUPS& ups, const SGroup& group, std::size_t index);
    static std::unique_ptr<CMIBData> GetCell(
        CAbstractUPS& ups, const SGroup& group, std::size_t index, std::span<const std::uint32_t> rest, bool next);

    // Generic getters and writers of the object tables (ups/MIBObjects.h),
    // members so that they may read the model's protected values.
    template <auto Lines, auto Field, std::int64_t Divisor = 1>
    static SMIBValue LineCell(const CAbstractUPS& u, std::size_t r);
    template <auto Count> static std::size_t LineRows(const CAbstractUPS& u);
    template <EUPSSetting Setting, auto Member> static void WriteSetting(CAbstractUPS& ups, CMIBData& value);

    // The object tables; their lambdas read the model's protected members.
    static const SObject kUpsIdentObjects[], kUpsBatteryObjects[], kUpsInputObjects[], kUpsOutputObjects[],
        kUpsBypassObjects[], kUpsAlarmObjects[], kUpsTestObjects[], kUpsControlObjects[], kUpsConfigObjects[];
    static const SObject kVendorIdentObjects[], kVendorBatteryObjects[], kVendorInputObjects[], kVendorOutputObjects[],
        kVendorBypassObjects[], kVendorEnvironmentObjects[], kVendorAlarmObjects[], kVendorTestObjects[],
        kVendorControlObjects[], kVendorConfigObjects[];
    static const SColumn kUpsInputColumns[], kUpsOutputColumns[], kUpsBypassColumns[], kUpsAlarmColumns[];
    static const SColumn kVendorInputColumns[], kVendorOutputColumns[], kVendorBypassColumns[], kVendorAlarmColumns[],
        kVendorEventColumns[];
    static const STable kUpsInputTable, kUpsOutputTable, kUpsBypassTable, kUpsAlarmTable;
    static const STable kVendorInputTable, kVendorOutputTable, kVendorBypassTable, kVendorAlarmTable, kVendorEventTable;
};

} // namespace pvx
