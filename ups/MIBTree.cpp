// GET, GET-NEXT and SET through the object tree: the entry points, the
// per-node handlers that decide one arc each, and the generic walk over the
// group tables.
#include "ups/MIBTree.h"

#include "events/PVXException.h"

#include <algorithm>
#include <vector>

namespace pvx {

namespace {

// Arc i of a name, 0 past its end (names end at their first 0 arc).
std::uint32_t ArcAt(std::span<const std::uint32_t> arcs, std::size_t i)
{
    return i < arcs.size() ? arcs[i] : 0;
}

// The arcs after the first, or the empty name when there are none.
std::span<const std::uint32_t> Rest(std::span<const std::uint32_t> arcs)
{
    static const std::uint32_t kEmpty[] = { 0 };
    return arcs.size() > 1 ? arcs.subspan(1) : std::span<const std::uint32_t>(kEmpty);
}

std::unique_ptr<CMIBData> GetNextOf(CAbstractUPS& ups, std::initializer_list<std::uint32_t> name)
{
    COid oid(name);
    return ups.GetMIBData(oid.Arcs(), true);
}

// A full name built from a prefix and a few more arcs, ending with 0.
COid NameOf(std::span<const std::uint32_t> prefix, std::initializer_list<std::uint32_t> more)
{
    CArcList arcs(prefix);
    for (std::uint32_t arc : more)
        arcs.PushBack(arc);
    arcs.PushBack(0);
    return COid(arcs.Span());
}

std::unique_ptr<CMIBData> GetByName(CAbstractUPS& ups, const COid& name)
{
    return ups.GetMIBData(name.Arcs(), false);
}

const SObject* FindObject(const SGroup& group, std::uint32_t arc, std::size_t& index)
{
    for (std::size_t i = 0; i < group.objects.size(); ++i) {
        if (group.objects[i].arc == arc) {
            index = i;
            return &group.objects[i];
        }
    }
    return nullptr;
}

bool FindRow(const CAbstractUPS& ups, const STable& table, std::uint32_t rowArc, std::size_t& row)
{
    std::size_t count = table.rowCount(ups);
    if (table.numberedRows) {
        if (rowArc == 0 || rowArc > count)
            return false;
        row = rowArc - 1;
        return true;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (table.rowArc(ups, i) == rowArc) {
            row = i;
            return true;
        }
    }
    return false;
}

} // namespace

// ---- Generic walk over a group -------------------------------------------------------

std::unique_ptr<CMIBData> CMIBTree::MakeValue(const SMIBKind& kind, const SMIBValue& value)
{
    switch (kind.kind) {
    case MIB_SIGNED: {
        auto number = std::clamp(value.number, kind.minimum, kind.maximum);
        return std::make_unique<CMIBData>(static_cast<std::int32_t>(number), static_cast<std::int32_t>(kind.minimum),
            static_cast<std::int32_t>(kind.maximum), MIB_SIGNED);
    }
    case MIB_UNSIGNED:
    case MIB_ENUMERATED:
    case MIB_NUMBER_TEXT: {
        auto number = std::clamp<std::int64_t>(value.number, 0, kind.maximum);
        return std::make_unique<CMIBData>(
            static_cast<std::uint32_t>(number), static_cast<std::uint32_t>(kind.maximum), kind.kind);
    }
    case MIB_TEXT:
        return std::make_unique<CMIBData>(value.text, static_cast<std::size_t>(kind.maximum), MIB_TEXT);
    default:
        return std::make_unique<CMIBData>(value.oid ? *value.oid : COid(), MIB_OID);
    }
}

std::unique_ptr<CMIBData> CMIBTree::MakeValue(const CAbstractUPS& ups, const SMIBKind& kind, const SMIBValue& value)
{
    if (!ups.m_standardValues)
        return MakeValue(kind, value);
    if (kind.kind == MIB_OID) {
        auto data = MakeValue(kind, value);
        data->SetWireForm(EWireForm::OidAsIs);
        return data;
    }
    if (kind.standard == EWireForm::AsKind)
        return MakeValue(kind, value);
    // Counter32, Gauge32 and TimeTicks are unsigned 32-bit numbers, whatever
    // the vendor's form of the object (a TimeStamp was decimal text).
    auto data = MakeValue({ MIB_UNSIGNED, 0, 0xFFFFFFFF, kind.standard }, value);
    data->SetWireForm(kind.standard);
    return data;
}

std::unique_ptr<CMIBData> CMIBTree::FollowFrom(CAbstractUPS& ups, const SGroup& group, std::size_t index)
{
    for (std::size_t i = index; i < group.objects.size(); ++i) {
        const SObject& object = group.objects[i];
        if (object.table) {
            const STable& table = *object.table;
            if (table.rowCount(ups) == 0) {
                if (table.emptyEndsWalk)
                    ThrowEvent(EVENT_NO_SUCH_OBJECT);
                continue;
            }
            return GetByName(ups, NameOf(group.prefix, { object.arc, table.rowArc(ups, 0), table.columns[0].arc }));
        }
        if (object.get)
            return GetByName(ups, NameOf(group.prefix, { object.arc }));
    }
    if (group.following.empty())
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    return ups.GetMIBData(COid(group.following).Arcs(), true);
}

std::unique_ptr<CMIBData> CMIBTree::GetCell(
    CAbstractUPS& ups, const SGroup& group, std::size_t index, std::span<const std::uint32_t> rest, bool next)
{
    const SObject& object = group.objects[index];
    const STable& table = *object.table;
    const std::uint32_t rowArc = ArcAt(rest, 0);
    const std::uint32_t columnArc = rowArc == 0 ? 0 : ArcAt(rest, 1);
    const std::uint32_t firstColumn = table.columns.front().arc;
    const std::uint32_t lastColumn = table.columns.back().arc;

    if (rowArc == 0) {
        // The table's own name: GET-NEXT goes to its first cell.
        if (!next)
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        if (table.rowCount(ups) == 0) {
            if (table.emptyEndsWalk)
                ThrowEvent(EVENT_NO_SUCH_OBJECT);
            return FollowFrom(ups, group, index + 1);
        }
        return GetByName(ups, NameOf(group.prefix, { object.arc, table.rowArc(ups, 0), firstColumn }));
    }
    std::size_t row = 0;
    if (!FindRow(ups, table, rowArc, row)) {
        // The table exists, the row does not.
        if (!next)
            throw CPVXException(EVENT_NO_SUCH_INSTANCE);
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    }
    if (!next) {
        if (columnArc < firstColumn || columnArc > lastColumn)
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        const SColumn& column = table.columns[columnArc - firstColumn];
        return MakeValue(ups, column.kind, column.get(ups, row));
    }
    if (columnArc < firstColumn)
        return GetByName(ups, NameOf(group.prefix, { object.arc, rowArc, firstColumn }));
    if (columnArc < lastColumn)
        return GetByName(ups, NameOf(group.prefix, { object.arc, rowArc, columnArc + 1 }));
    if (columnArc > lastColumn)
        ThrowEvent(EVENT_NO_SUCH_OBJECT); // no skipping forward over unknown arcs
    if (row + 1 < table.rowCount(ups))
        return GetByName(ups, NameOf(group.prefix, { object.arc, table.rowArc(ups, row + 1), firstColumn }));
    return FollowFrom(ups, group, index + 1);
}

std::unique_ptr<CMIBData> CMIBTree::Get(
    CAbstractUPS& ups, const SGroup& group, std::span<const std::uint32_t> arcs, bool next)
{
    const std::uint32_t arc = ArcAt(arcs, 0);
    if (arc == 0) {
        // The group's own name: not readable, followed by its first object.
        if (!next)
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        return FollowFrom(ups, group, 0);
    }
    std::size_t index = 0;
    const SObject* object = FindObject(group, arc, index);
    if (!object)
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    if (object->table)
        return GetCell(ups, group, index, Rest(arcs), next);
    // Scalars ignore any arcs after their own.
    if (next)
        return FollowFrom(ups, group, index + 1);
    if (!object->get)
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    return MakeValue(ups, object->kind, object->get(ups));
}

void CMIBTree::CheckForm(const SMIBKind& kind, const CMIBData& value)
{
    // The decoder makes every received INTEGER a signed value, every OCTET
    // STRING a text and every OBJECT IDENTIFIER an identifier.
    switch (kind.kind) {
    case MIB_SIGNED:
    case MIB_UNSIGNED:
    case MIB_ENUMERATED: {
        if (value.GetKind() != MIB_SIGNED)
            throw CPVXException(EVENT_WRONG_TYPE);
        // Enumerations start at 1 (RFC 2578 section 7.1.1).
        const std::int64_t minimum = kind.kind == MIB_ENUMERATED ? 1 : kind.minimum;
        if (value.GetInteger() < minimum || value.GetInteger() > kind.maximum)
            throw CPVXException(EVENT_BAD_VALUE);
        break;
    }
    case MIB_TEXT:
        if (value.GetKind() != MIB_TEXT)
            throw CPVXException(EVENT_WRONG_TYPE);
        // Never cut: a text that does not fit is refused whole.
        if (static_cast<std::int64_t>(value.GetText().size()) > kind.maximum)
            throw CPVXException(EVENT_WRONG_LENGTH);
        break;
    case MIB_OID:
        if (value.GetKind() != MIB_OID)
            throw CPVXException(EVENT_WRONG_TYPE);
        break;
    default:
        throw CPVXException(EVENT_WRONG_TYPE);
    }
}

void CMIBTree::Set(CAbstractUPS& ups, const SGroup& group, std::span<const std::uint32_t> arcs, CMIBData& value)
{
    std::size_t index = 0;
    const SObject* object = FindObject(group, ArcAt(arcs, 0), index);
    if (!object)
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    if (object->access == EAccess::ReadOnly || !object->write)
        ThrowEvent(EVENT_READ_ONLY);
    // A write-only object takes any value (the value is not looked at).
    std::uint32_t formError = 0;
    if (object->access != EAccess::WriteOnly) {
        try {
            CheckForm(object->kind, value);
        } catch (const CPVXException& e) {
            formError = e.GetCode();
        }
    }
    if (formError != 0) {
        // An object that cannot be written now (its capability is missing)
        // says so before its value is looked at (RFC 3416 section 4.2.5).
        const bool checking = ups.m_checkingSet;
        ups.m_checkingSet = true;
        try {
            object->write(ups, value);
        } catch (const CPVXException& e) {
            if (e.GetCode() == EVENT_READ_ONLY) {
                ups.m_checkingSet = checking;
                throw;
            }
        }
        ups.m_checkingSet = checking;
        throw CPVXException(formError);
    }
    object->write(ups, value);
}

// ---- Entry points ----------------------------------------------------------------------

std::unique_ptr<CMIBData> CAbstractUPS::GetMIBData(std::span<const std::uint32_t> name, bool next)
{
    // A private copy that certainly ends with its 0 arc, for every handler below.
    const COid requested(name);
    std::span<const std::uint32_t> arcs = requested.Arcs();
    // Any name that sorts before the first object (1.3.6.1.2.1.1, mib-2's
    // other groups, 1.3.6.1.1) is followed by it, as a walk from the root
    // expects; the descent below does not skip forward.
    static const std::uint32_t kFirstObject[] = { 2, 1, 33, 1, 1, 1 };
    static const std::uint32_t kFirstGroup[] = { 2, 1, 33, 1, 1, 0 };
    if (next && std::ranges::lexicographical_compare(arcs.first(arcs.size() - 1), kFirstObject))
        arcs = kFirstGroup;
    std::unique_ptr<CMIBData> answer;
    switch (ArcAt(arcs, 0)) {
    case 0:
        if (!next)
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        answer = GetNextOf(*this, { 2 });
        break;
    case 2:
        answer = GetMgmt(Rest(arcs), next);
        break;
    case 4:
        answer = GetPrivate(Rest(arcs), next);
        break;
    default:
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    }
    if (!next)
        answer->SetName(requested);
    return answer;
}

void CAbstractUPS::SetMIBData(CMIBData& value)
{
    const COid* name = value.GetName();
    if (!name)
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    const COid requested(*name);
    std::span<const std::uint32_t> arcs = requested.Arcs();
    switch (ArcAt(arcs, 0)) {
    case 2:
        SetMgmt(Rest(arcs), value);
        break;
    case 4:
        SetPrivate(Rest(arcs), value);
        break;
    default:
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    }
}

// ---- Nodes above the groups --------------------------------------------------------------
// Each decides one arc; a name ending at the node is followed by its first child.

namespace {

using NodeGetter = std::unique_ptr<CMIBData> (CAbstractUPS::*)(std::span<const std::uint32_t>, bool);
using NodeSetter = void (CAbstractUPS::*)(std::span<const std::uint32_t>, CMIBData&);

// A node with one child at `arc`, named `childName` (the arcs after 1.3.6.1).
struct SOneChild {
    std::uint32_t arc;
    NodeGetter get;
    NodeSetter set;
    std::initializer_list<std::uint32_t> childName;
};

std::unique_ptr<CMIBData> GetOneChild(
    CAbstractUPS& ups, const SOneChild& node, std::span<const std::uint32_t> arcs, bool next)
{
    if (ArcAt(arcs, 0) == node.arc)
        return (ups.*node.get)(Rest(arcs), next);
    if (ArcAt(arcs, 0) == 0 && next)
        return GetNextOf(ups, node.childName);
    ThrowEvent(EVENT_NO_SUCH_OBJECT);
}

void SetOneChild(CAbstractUPS& ups, const SOneChild& node, std::span<const std::uint32_t> arcs, CMIBData& value)
{
    if (ArcAt(arcs, 0) != node.arc)
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    (ups.*node.set)(Rest(arcs), value);
}

const SOneChild kMgmt { 1, &CAbstractUPS::GetMib2, &CAbstractUPS::SetMib2, { 2, 1 } };
const SOneChild kMib2 { 33, &CAbstractUPS::GetUpsMib, &CAbstractUPS::SetUpsMib, { 2, 1, 33 } };
const SOneChild kUpsMib { 1, &CAbstractUPS::GetUpsObjects, &CAbstractUPS::SetUpsObjects, { 2, 1, 33, 1 } };
const SOneChild kPrivate { 1, &CAbstractUPS::GetEnterprises, &CAbstractUPS::SetEnterprises, { 4, 1 } };
const SOneChild kEnterprises { 534, &CAbstractUPS::GetVendor, &CAbstractUPS::SetVendor, { 4, 1, 534 } };
const SOneChild kVendor { 1, &CAbstractUPS::GetVendorMib, &CAbstractUPS::SetVendorMib, { 4, 1, 534, 1 } };

// The handlers of a MIB's groups, arcs 1 to n, in arc order.
struct SGroupHandlers {
    NodeGetter get;
    NodeSetter set;
};

// clang-format off
#define PVX_GROUP(Name) { &CAbstractUPS::Get##Name, &CAbstractUPS::Set##Name }
const SGroupHandlers kUpsGroups[] = { PVX_GROUP(UpsIdent), PVX_GROUP(UpsBattery), PVX_GROUP(UpsInput),
    PVX_GROUP(UpsOutput), PVX_GROUP(UpsBypass), PVX_GROUP(UpsAlarm), PVX_GROUP(UpsTest), PVX_GROUP(UpsControl),
    PVX_GROUP(UpsConfig) };
const SGroupHandlers kVendorGroups[] = { PVX_GROUP(VendorIdent), PVX_GROUP(VendorBattery), PVX_GROUP(VendorInput),
    PVX_GROUP(VendorOutput), PVX_GROUP(VendorBypass), PVX_GROUP(VendorEnvironment), PVX_GROUP(VendorAlarm),
    PVX_GROUP(VendorTest), PVX_GROUP(VendorControl), PVX_GROUP(VendorConfig) };
#undef PVX_GROUP
// clang-format on

// The group at arcs[0], or null.
const SGroupHandlers* GroupAt(std::span<const SGroupHandlers> groups, std::span<const std::uint32_t> arcs)
{
    const std::uint32_t arc = ArcAt(arcs, 0);
    return arc >= 1 && arc <= groups.size() ? &groups[arc - 1] : nullptr;
}

std::unique_ptr<CMIBData> GetGroup(CAbstractUPS& ups, std::span<const SGroupHandlers> groups,
    std::initializer_list<std::uint32_t> firstGroupName, std::span<const std::uint32_t> arcs, bool next)
{
    if (const SGroupHandlers* group = GroupAt(groups, arcs))
        return (ups.*group->get)(Rest(arcs), next);
    if (ArcAt(arcs, 0) == 0 && next)
        return GetNextOf(ups, firstGroupName);
    ThrowEvent(EVENT_NO_SUCH_OBJECT);
}

void SetGroup(
    CAbstractUPS& ups, std::span<const SGroupHandlers> groups, std::span<const std::uint32_t> arcs, CMIBData& value)
{
    const SGroupHandlers* group = GroupAt(groups, arcs);
    if (!group)
        ThrowEvent(EVENT_NO_SUCH_OBJECT);
    (ups.*group->set)(Rest(arcs), value);
}

} // namespace

// Nodes with one child: the seams drivers may override, each one table line above.
#define PVX_ONE_CHILD_HANDLERS(Name, Node)                                                                             \
    std::unique_ptr<CMIBData> CAbstractUPS::Get##Name(std::span<const std::uint32_t> arcs, bool next)                  \
    {                                                                                                                  \
        return GetOneChild(*this, Node, arcs, next);                                                                   \
    }                                                                                                                  \
    void CAbstractUPS::Set##Name(std::span<const std::uint32_t> arcs, CMIBData& value)                                 \
    {                                                                                                                  \
        SetOneChild(*this, Node, arcs, value);                                                                         \
    }

PVX_ONE_CHILD_HANDLERS(Mgmt, kMgmt)
PVX_ONE_CHILD_HANDLERS(Mib2, kMib2)
PVX_ONE_CHILD_HANDLERS(UpsMib, kUpsMib)
PVX_ONE_CHILD_HANDLERS(Private, kPrivate)
PVX_ONE_CHILD_HANDLERS(Enterprises, kEnterprises)

#undef PVX_ONE_CHILD_HANDLERS

std::unique_ptr<CMIBData> CAbstractUPS::GetUpsObjects(std::span<const std::uint32_t> arcs, bool next)
{
    return GetGroup(*this, kUpsGroups, { 2, 1, 33, 1, 1 }, arcs, next);
}

void CAbstractUPS::SetUpsObjects(std::span<const std::uint32_t> arcs, CMIBData& value)
{
    SetGroup(*this, kUpsGroups, arcs, value);
}

std::unique_ptr<CMIBData> CAbstractUPS::GetVendor(std::span<const std::uint32_t> arcs, bool next)
{
    // 534.2 answers its one identifier to GET only; a walk never enters it.
    if (ArcAt(arcs, 0) == 2 && !next) {
        static const COid kVendorAgent { 4, 1, 534, 2, 1, 0 };
        return std::make_unique<CMIBData>(kVendorAgent, MIB_OID);
    }
    return GetOneChild(*this, kVendor, arcs, next);
}

void CAbstractUPS::SetVendor(std::span<const std::uint32_t> arcs, CMIBData& value)
{
    if (ArcAt(arcs, 0) == 2)
        ThrowEvent(EVENT_READ_ONLY);
    SetOneChild(*this, kVendor, arcs, value);
}

std::unique_ptr<CMIBData> CAbstractUPS::GetVendorMib(std::span<const std::uint32_t> arcs, bool next)
{
    return GetGroup(*this, kVendorGroups, { 4, 1, 534, 1, 1 }, arcs, next);
}

void CAbstractUPS::SetVendorMib(std::span<const std::uint32_t> arcs, CMIBData& value)
{
    SetGroup(*this, kVendorGroups, arcs, value);
}

// ---- Group handlers: the seams drivers override, each one table ----------------------

#define PVX_GROUP_HANDLERS(Name, Group)                                                                                \
    std::unique_ptr<CMIBData> CAbstractUPS::Get##Name(std::span<const std::uint32_t> arcs, bool next)                  \
    {                                                                                                                  \
        return CMIBTree::Get(*this, CMIBTree::Group, arcs, next);                                                      \
    }                                                                                                                  \
    void CAbstractUPS::Set##Name(std::span<const std::uint32_t> arcs, CMIBData& value)                                 \
    {                                                                                                                  \
        CMIBTree::Set(*this, CMIBTree::Group, arcs, value);                                                            \
    }

PVX_GROUP_HANDLERS(UpsIdent, kUpsIdent)
PVX_GROUP_HANDLERS(UpsBattery, kUpsBattery)
PVX_GROUP_HANDLERS(UpsInput, kUpsInput)
PVX_GROUP_HANDLERS(UpsOutput, kUpsOutput)
PVX_GROUP_HANDLERS(UpsBypass, kUpsBypass)
PVX_GROUP_HANDLERS(UpsAlarm, kUpsAlarm)
PVX_GROUP_HANDLERS(UpsTest, kUpsTest)
PVX_GROUP_HANDLERS(UpsControl, kUpsControl)
PVX_GROUP_HANDLERS(UpsConfig, kUpsConfig)
PVX_GROUP_HANDLERS(VendorIdent, kVendorIdent)
PVX_GROUP_HANDLERS(VendorBattery, kVendorBattery)
PVX_GROUP_HANDLERS(VendorInput, kVendorInput)
PVX_GROUP_HANDLERS(VendorOutput, kVendorOutput)
PVX_GROUP_HANDLERS(VendorBypass, kVendorBypass)
PVX_GROUP_HANDLERS(VendorEnvironment, kVendorEnvironment)
PVX_GROUP_HANDLERS(VendorAlarm, kVendorAlarm)
PVX_GROUP_HANDLERS(VendorTest, kVendorTest)
PVX_GROUP_HANDLERS(VendorControl, kVendorControl)
PVX_GROUP_HANDLERS(VendorConfig, kVendorConfig)

#undef PVX_GROUP_HANDLERS

void CAbstractUPS::WriteUPSSetting(EUPSSetting, const CMIBData&)
{
    ThrowEvent(EVENT_READ_ONLY);
}

void CAbstractUPS::CheckUPSSetting(EUPSSetting, const CMIBData&)
{
    ThrowEvent(EVENT_READ_ONLY);
}

} // namespace pvx
