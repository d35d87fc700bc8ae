// Instance naming: the one place that decides how an instance of the object
// tables is named on the wire. The vendor naming (table.row.column.0) is the
// tree's own; RFC 1628's (entry.column.index, walked column by column) is
// mapped onto it here, so that values still come from the handlers drivers
// override.
#include "ups/MIBTree.h"

#include "events/PVXException.h"

#include <algorithm>
#include <vector>

namespace pvx {

namespace {

// RFC 1628 tables name their rows under the entry, always arc 1.
constexpr std::uint32_t kEntryArc = 1;

bool StartsWith(std::span<const std::uint32_t> arcs, std::span<const std::uint32_t> prefix)
{
    return arcs.size() >= prefix.size() && std::ranges::equal(arcs.first(prefix.size()), prefix);
}

// The row arcs of a table in ascending order: a walk in RFC 1628 naming is
// lexicographic, whatever order the alarm list keeps.
std::vector<std::uint32_t> SortedRows(const CAbstractUPS& ups, const STable& table)
{
    std::vector<std::uint32_t> rows(table.rowCount(ups));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = table.rowArc(ups, i);
    std::ranges::sort(rows);
    return rows;
}

// One instance: a scalar (column 0) or a table cell.
struct SInstance {
    const SGroup* group = nullptr;
    const SObject* object = nullptr;
    std::uint32_t column = 0;
    std::uint32_t row = 0;

    COid VendorName() const
    {
        std::vector<std::uint32_t> arcs(group->prefix.begin(), group->prefix.end());
        arcs.push_back(object->arc);
        if (object->table)
            arcs.insert(arcs.end(), { row, column });
        arcs.push_back(0);
        return COid(arcs);
    }
    std::vector<std::uint32_t> StandardName() const
    {
        std::vector<std::uint32_t> arcs(group->prefix.begin(), group->prefix.end());
        arcs.push_back(object->arc);
        if (object->table)
            arcs.insert(arcs.end(), { kEntryArc, column, row });
        else
            arcs.push_back(0);
        return arcs;
    }
};

// The first instance of `object` whose name after the object's arc is
// greater than `rest`; `any` drops that condition.
std::optional<SInstance> NextInObject(
    const CAbstractUPS& ups, const SGroup& group, const SObject& object, std::span<const std::uint32_t> rest, bool any)
{
    if (!object.table) {
        // The scalar's one instance .0 follows only the bare object name.
        if (object.get && (any || rest.empty()))
            return SInstance { &group, &object, 0, 0 };
        return std::nullopt;
    }
    if (!any && !rest.empty() && rest[0] > kEntryArc)
        return std::nullopt;
    // Below the entry (or before it) the columns follow in order.
    const bool inEntry = !any && rest.size() > 1 && rest[0] == kEntryArc;
    std::span<const std::uint32_t> columnRest = inEntry ? rest.subspan(1) : std::span<const std::uint32_t>();
    const std::vector<std::uint32_t> rows = SortedRows(ups, *object.table);
    if (rows.empty())
        return std::nullopt;
    for (const SColumn& column : object.table->columns) {
        if (columnRest.empty() || columnRest[0] < column.arc)
            return SInstance { &group, &object, column.arc, rows.front() };
        if (columnRest[0] > column.arc)
            continue;
        // Same column: the first row whose arc is greater than the one asked
        // (a row arc equal to it names the instance itself or one before it).
        if (columnRest.size() == 1)
            return SInstance { &group, &object, column.arc, rows.front() };
        auto row = std::ranges::upper_bound(rows, columnRest[1]);
        if (row != rows.end())
            return SInstance { &group, &object, column.arc, *row };
        columnRest = {}; // the next column follows from its first row
    }
    return std::nullopt;
}

std::optional<SInstance> NextInGroup(
    const CAbstractUPS& ups, const SGroup& group, std::span<const std::uint32_t> rest, bool any)
{
    for (const SObject& object : group.objects) {
        std::optional<SInstance> found;
        if (any || rest.empty() || rest[0] < object.arc)
            found = NextInObject(ups, group, object, {}, true);
        else if (rest[0] == object.arc)
            found = NextInObject(ups, group, object, rest.subspan(1), false);
        if (found)
            return found;
        if (!any && !rest.empty() && rest[0] <= object.arc)
            any = true; // every later object follows the name
    }
    return std::nullopt;
}

} // namespace

COid CMIBTree::StandardToVendorName(const CAbstractUPS& ups, std::span<const std::uint32_t> arcs)
{
    // 1.3.6.1.4.1.534.2 answers one identifier under any name below it.
    static const std::uint32_t kVendorAgent[] = { 4, 1, 534, 2 };
    if (StartsWith(arcs, kVendorAgent))
        return COid(arcs);
    for (const SGroup* group : AllGroups()) {
        if (arcs.size() <= group->prefix.size() || !StartsWith(arcs, group->prefix))
            continue;
        auto rest = arcs.subspan(group->prefix.size());
        auto object = std::ranges::find(group->objects, rest[0], &SObject::arc);
        if (object == group->objects.end())
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        if (!object->table) {
            if (rest.size() != 2 || rest[1] != 0)
                ThrowEvent(EVENT_NO_SUCH_INSTANCE);
            return COid(arcs);
        }
        const STable& table = *object->table;
        if (rest.size() < 3 || rest[1] != kEntryArc)
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        if (std::ranges::find(table.columns, rest[2], &SColumn::arc) == table.columns.end())
            ThrowEvent(EVENT_NO_SUCH_OBJECT);
        if (rest.size() != 4 || !std::ranges::binary_search(SortedRows(ups, table), rest[3]))
            ThrowEvent(EVENT_NO_SUCH_INSTANCE);
        SInstance instance { group, &*object, rest[2], rest[3] };
        return instance.VendorName();
    }
    ThrowEvent(EVENT_NO_SUCH_OBJECT);
}

std::unique_ptr<CMIBData> CMIBTree::StandardGet(CAbstractUPS& ups, std::span<const std::uint32_t> arcs)
{
    COid vendorName = StandardToVendorName(ups, arcs);
    auto value = ups.GetMIBData(vendorName.Arcs(), false);
    value->SetInstanceName(arcs);
    return value;
}

std::unique_ptr<CMIBData> CMIBTree::StandardNext(CAbstractUPS& ups, std::span<const std::uint32_t> arcs)
{
    for (const SGroup* group : AllGroups()) {
        std::optional<SInstance> found;
        const auto& prefix = group->prefix;
        if (std::ranges::lexicographical_compare(arcs, prefix) || std::ranges::equal(arcs, prefix))
            found = NextInGroup(ups, *group, {}, true);
        else if (StartsWith(arcs, prefix))
            found = NextInGroup(ups, *group, arcs.subspan(prefix.size()), false);
        if (!found)
            continue;
        auto value = ups.GetMIBData(found->VendorName().Arcs(), false);
        value->SetInstanceName(found->StandardName());
        return value;
    }
    ThrowEvent(EVENT_NO_SUCH_OBJECT); // the end of the MIB
}

// ---- Entry points of the agent -----------------------------------------------------------

std::unique_ptr<CMIBData> CAbstractUPS::GetInstance(std::span<const std::uint32_t> arcs, bool next)
{
    if (m_standardNames)
        return next ? CMIBTree::StandardNext(*this, arcs) : CMIBTree::StandardGet(*this, arcs);
    // The vendor naming's names end at their first 0 arc, which GetMIBData adds if
    // it is missing.
    return GetMIBData(arcs, next);
}

void CAbstractUPS::SetInstance(std::span<const std::uint32_t> arcs, CMIBData& value)
{
    if (!m_standardNames) {
        SetMIBData(value);
        return;
    }
    value.SetName(CMIBTree::StandardToVendorName(*this, arcs));
    value.SetInstanceName(arcs);
    SetMIBData(value);
}

} // namespace pvx
