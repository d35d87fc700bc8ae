// Collecting the served nodes and their texts from the group tables, checking
// nodes and texts against each other, and writing the Markdown reference.
#include "tools/mibdoc/MibReference.h"

#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

namespace pvx::mibdoc {

namespace {

std::string Number(std::int64_t value)
{
    return std::to_string(value);
}

std::string WithArc(const std::string& key, std::uint32_t arc)
{
    return key + "." + Number(arc);
}

// How values of a kind are held when read: numbers clamped, texts cut.
std::string RangeOf(const SMIBKind& kind)
{
    switch (kind.kind) {
    case MIB_SIGNED:
        return Number(kind.minimum) + ".." + Number(kind.maximum);
    case MIB_UNSIGNED:
        return "0.." + Number(kind.maximum);
    case MIB_ENUMERATED:
        return "1.." + Number(kind.maximum);
    case MIB_NUMBER_TEXT:
        return "0.." + Number(kind.maximum) + " in decimal digits";
    case MIB_TEXT:
        return "0.." + Number(std::min<std::int64_t>(kind.maximum, kMIBTextMax)) + " characters";
    default:
        return {};
    }
}

std::string AccessOf(bool readable, bool writable)
{
    if (readable)
        return writable ? "read-write" : "read-only";
    return writable ? "write-only" : "not served";
}

bool StartsWith(std::span<const std::uint32_t> arcs, std::span<const std::uint32_t> prefix)
{
    return prefix.size() <= arcs.size() && std::equal(prefix.begin(), prefix.end(), arcs.begin());
}

class CCollector {
public:
    SCollected Take() { return std::move(m_out); }

    void AddSubtreeOnce(std::span<const std::uint32_t> arcs)
    {
        std::string key = Dotted(arcs);
        if (m_subtrees.insert(key).second)
            Add({ ENodeKind::Subtree, key, key, {}, {}, {}, {}, {}, {} });
    }

    // Adds a node; a key met twice is a fault of the tables.
    SNode& Add(SNode node)
    {
        if (!m_keys.insert(node.key).second)
            Problem(node.key, "named twice");
        m_out.nodes.push_back(std::move(node));
        return m_out.nodes.back();
    }

    void Problem(const std::string& key, const std::string& what) { m_out.problems.push_back(key + ": " + what); }

    // The walk's first and last readable objects, tree groups only.
    void Walked(const SNode& node)
    {
        if (m_out.walkStart.empty())
            m_out.walkStart = node.shown;
        m_out.walkEnd = node.shown;
    }

    void AddType(SNode& node, const SMIBKind& kind)
    {
        node.type = WireType(kind);
        node.range = RangeOf(kind);
        if (node.type.empty())
            Problem(node.key, "kind " + Number(kind.kind) + " is not one the agent can send");
    }

    void AddGroup(const SGroup& group, const SGroup* next)
    {
        if (group.prefix.empty()) {
            Problem("1.3.6.1", "a group without a name");
            return;
        }
        const std::string key = Dotted(group.prefix);
        const auto subtree = group.prefix.first(group.prefix.size() - 1);
        AddSubtreeOnce(subtree);
        Add({ ENodeKind::Group, key, key, {}, {}, {}, {}, Dotted(subtree), {} });

        // The list must be the walk: each group hands GET-NEXT on to the next one.
        if (next) {
            if (group.following.empty() || !StartsWith(next->prefix, group.following))
                Problem(key,
                    "GET-NEXT after its last object goes to " + Dotted(group.following) + ", not to the next group "
                        + Dotted(next->prefix));
        } else if (!group.following.empty()) {
            Problem(key, "the last group hands GET-NEXT on to " + Dotted(group.following));
        }

        std::uint32_t previousArc = 0;
        for (const SObject& object : group.objects) {
            if (object.arc <= previousArc)
                Problem(WithArc(key, object.arc), "objects out of arc order");
            previousArc = object.arc;
            if (object.table)
                AddTable(key, object.arc, *object.table);
            else
                AddScalar(key, object);
        }
    }

    void AddScalar(const std::string& groupKey, const SObject& object)
    {
        const bool readable = object.get != nullptr;
        const bool writable = object.access != EAccess::ReadOnly && object.write != nullptr;
        const std::string key = WithArc(groupKey, object.arc);
        SNode node { ENodeKind::Scalar, key, key + ".0", "any", AccessOf(readable, writable), {}, {}, groupKey, {} };
        if (readable)
            AddType(node, object.kind);
        else if (writable)
            node.notes = "GET answers noSuchName and GET-NEXT passes over it.";
        const SNode& added = Add(std::move(node));
        if (readable)
            Walked(added);
    }

    void AddTable(const std::string& groupKey, std::uint32_t arc, const STable& table)
    {
        const std::string key = WithArc(groupKey, arc);
        SNode node { ENodeKind::Table, key, key, "table", "not-accessible", {}, {}, groupKey, {} };
        node.notes = table.numberedRows ? "Rows are numbered from 1." : "Rows are named by an id.";
        if (table.columns.empty()) {
            Problem(key, "a table without columns");
            Add(std::move(node));
            return;
        }
        const std::uint32_t first = table.columns.front().arc;
        if (first == 2)
            node.notes += " Column 1 is not served.";
        else if (first > 2)
            node.notes += " Columns 1 to " + Number(first - 1) + " are not served.";
        if (table.emptyEndsWalk)
            node.notes += " While the table has no rows, GET-NEXT into it answers noSuchName.";
        Add(std::move(node));

        const std::string row = table.numberedRows ? "<row>" : "<id>";
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            const SColumn& column = table.columns[i];
            const std::string columnKey = key + ".*." + Number(column.arc);
            // Cells are found by their offset from the first column.
            if (column.arc != first + i)
                Problem(columnKey, "columns are not consecutive");
            SNode cell { ENodeKind::Column, columnKey, key + "." + row + "." + Number(column.arc) + ".0", {},
                "read-only", {}, {}, key, key + ".1." + Number(column.arc) + "." + row };
            AddType(cell, column.kind);
            Walked(Add(std::move(cell)));
        }
    }

    void AddAgentObjects(std::span<const SAgentObject> objects)
    {
        if (objects.empty())
            return;
        // Every agent object is an instance group.arc.0 of one group.
        std::span<const std::uint32_t> groupArcs;
        for (const SAgentObject& object : objects) {
            auto arcs = object.name->Arcs();
            if (arcs.size() < 4) {
                Problem(Dotted(arcs), "an agent object must be named group.arc.0");
                return;
            }
            auto group = arcs.first(arcs.size() - 2);
            if (groupArcs.empty())
                groupArcs = group;
            else if (!std::ranges::equal(group, groupArcs))
                Problem(Dotted(arcs), "the agent's objects lie in different groups");
        }
        const std::string groupKey = Dotted(groupArcs);
        const auto subtree = groupArcs.first(groupArcs.size() - 1);
        AddSubtreeOnce(subtree);
        Add({ ENodeKind::Group, groupKey, groupKey, {}, {}, {}, {}, Dotted(subtree), {} });
        for (const SAgentObject& object : objects) {
            auto arcs = object.name->Arcs();
            const std::string key = Dotted(arcs.first(arcs.size() - 1));
            SNode node { ENodeKind::Scalar, key, key + ".0", {}, AccessOf(true, object.writable), {}, {}, groupKey, {} };
            AddType(node, object.kind);
            Add(std::move(node));
        }
    }

private:
    SCollected m_out;
    std::set<std::string> m_subtrees;
    std::set<std::string> m_keys;
};

std::string Cell(std::string_view text)
{
    std::string cell;
    for (char c : text) {
        if (c == '|')
            cell += '\\';
        cell += c;
    }
    return cell;
}

std::string Joined(std::string_view meaning, const std::string& notes)
{
    std::string text(meaning);
    if (!notes.empty())
        text += (text.empty() ? "" : " ") + notes;
    return text;
}

class CRenderer {
public:
    CRenderer(const SCollected& collected, std::span<const SObjectText> texts)
        : m_nodes(collected.nodes)
    {
        for (const SObjectText& text : texts)
            m_texts.emplace(std::string(text.oid), &text);
    }

    const SObjectText& TextOf(const SNode& node) const
    {
        static const SObjectText kNone {};
        auto found = m_texts.find(node.key);
        return found == m_texts.end() ? kNone : *found->second;
    }

    std::vector<const SNode*> ChildrenOf(const SNode& parent) const
    {
        std::vector<const SNode*> children;
        for (const SNode& node : m_nodes) {
            if (node.parent == parent.key && node.kind != ENodeKind::Subtree)
                children.push_back(&node);
        }
        return children;
    }

    void Heading(std::string& out, const char* level, const SNode& node) const
    {
        const SObjectText& text = TextOf(node);
        out += std::string(level) + " " + std::string(text.name) + " (`" + node.shown + "`)\n\n";
        out += Joined(text.meaning, node.notes) + "\n\n";
    }

    void Rows(std::string& out, const std::vector<const SNode*>& nodes) const
    {
        out += "| OID | Name | Type | Access | Range or size | Meaning |\n";
        out += "|---|---|---|---|---|---|\n";
        for (const SNode* node : nodes) {
            const SObjectText& text = TextOf(*node);
            // A table's own line points to its section; its facts are told there.
            const std::string meaning
                = node->kind == ENodeKind::Table ? std::string(text.meaning) : Joined(text.meaning, node->notes);
            const std::string oid = node->standard.empty()
                ? "`" + node->shown + "`"
                : "`" + node->shown + "`<br>`" + node->standard + "`";
            out += "| " + oid + " | " + Cell(text.name) + " | " + node->type + " | " + node->access + " | "
                + Cell(node->range) + " | " + Cell(meaning) + " |\n";
        }
        out += "\n";
    }

    void Group(std::string& out, const SNode& group) const
    {
        Heading(out, "###", group);
        auto children = ChildrenOf(group);
        if (!children.empty())
            Rows(out, children);
        for (const SNode* child : children) {
            if (child->kind != ENodeKind::Table)
                continue;
            Heading(out, "####", *child);
            auto columns = ChildrenOf(*child);
            if (!columns.empty())
                Rows(out, columns);
        }
    }

    void Body(std::string& out) const
    {
        for (const SNode& node : m_nodes) {
            if (node.kind == ENodeKind::Subtree)
                Heading(out, "##", node);
            else if (node.kind == ENodeKind::Group)
                Group(out, node);
        }
    }

private:
    const std::vector<SNode>& m_nodes;
    std::map<std::string, const SObjectText*> m_texts;
};

const char* const kGeneratedNote
    = "<!-- Generated by pvx-mibdoc from the object tables of pvx; do not edit by hand.\n"
      "     Regenerate with `ninja -C build mib-reference` (or `cmake --build build --target mib-reference`). -->\n\n";

} // namespace

std::string Dotted(std::span<const std::uint32_t> arcs)
{
    std::string dotted = "1.3.6.1";
    for (std::uint32_t arc : arcs)
    {
        // Appended piece by piece: gcc 12 at -O3 misreads "." + string as an
        // overlapping copy (a false -Wrestrict).
        dotted += '.';
        dotted += std::to_string(arc);
    }
    return dotted;
}

std::string WireType(const SMIBKind& kind)
{
    if (kind.kind < MIB_SIGNED || kind.kind > MIB_OID)
        return {};
    // Encode one value the way the agent answers a request and read back its tag.
    static const COid kSampleOid { 2, 1, 0 };
    try {
        auto value = CMIBTree::MakeValue(kind, SMIBValue { 0, {}, &kSampleOid });
        value->SetName(COid { 1, 0 });
        std::array<std::uint8_t, 64> bytes {};
        CBasicEncodingRulesBuffer buffer(bytes);
        buffer.WriteVarBind(*value);
        buffer.Rewind();
        buffer.ReadHeader(ber::kSequence);
        buffer.ReadObjectIdentifier();
        switch (buffer.ReadByte()) {
        case ber::kInteger:
            return "INTEGER";
        case ber::kOctetString:
            return "OCTET STRING";
        case ber::kObjectIdentifier:
            return "OBJECT IDENTIFIER";
        case ber::kIpAddress:
            return "IpAddress";
        case 0x41:
            return "Counter";
        case 0x42:
            return "Gauge";
        case ber::kTimeTicks:
            return "TimeTicks";
        default:
            return {};
        }
    } catch (...) {
        return {};
    }
}

SCollected Collect(std::span<const SGroup* const> groups, std::span<const SAgentObject> agentObjects)
{
    CCollector collector;
    for (std::size_t i = 0; i < groups.size(); ++i)
        collector.AddGroup(*groups[i], i + 1 < groups.size() ? groups[i + 1] : nullptr);
    collector.AddAgentObjects(agentObjects);
    return collector.Take();
}

std::vector<SObjectText> TextsOf(std::span<const SGroup* const> groups, std::span<const SAgentObject> agentObjects)
{
    std::vector<SObjectText> texts;
    auto add = [&texts](std::string key, std::string_view name, std::string_view meaning) {
        if (!name.empty() || !meaning.empty())
            texts.push_back({ std::move(key), name, meaning });
    };
    for (const SGroup* group : groups) {
        const std::string key = Dotted(group->prefix);
        add(key, group->name, group->meaning);
        for (const SObject& object : group->objects) {
            const std::string objectKey = WithArc(key, object.arc);
            add(objectKey, object.name, object.meaning);
            if (!object.table)
                continue;
            for (const SColumn& column : object.table->columns)
                add(objectKey + ".*." + Number(column.arc), column.name, column.meaning);
        }
    }
    for (const SAgentObject& object : agentObjects) {
        auto arcs = object.name->Arcs();
        add(Dotted(arcs.first(arcs.empty() ? 0 : arcs.size() - 1)), object.mibName, object.meaning);
    }
    return texts;
}

std::vector<std::string> CheckTexts(std::span<const SNode> nodes, std::span<const SObjectText> texts)
{
    std::vector<std::string> problems;
    std::map<std::string, bool> used; // key -> a node has it
    for (const SObjectText& text : texts) {
        const std::string key(text.oid);
        if (!used.emplace(key, false).second)
            problems.push_back(key + ": two names and meanings");
        if (text.name.empty() || text.meaning.empty())
            problems.push_back(key + ": empty name or meaning");
    }
    for (const SNode& node : nodes) {
        auto found = used.find(node.key);
        if (found == used.end())
            problems.push_back(node.key + ": served, but has no name and meaning");
        else
            found->second = true;
    }
    for (const auto& [key, hasNode] : used) {
        if (!hasNode)
            problems.push_back(key + ": has a name and meaning, but nothing is served there");
    }
    return problems;
}

std::string Render(const SCollected& collected, std::span<const SObjectText> texts, std::uint32_t maxLines)
{
    const std::string lines = std::to_string(maxLines);
    std::string out = kGeneratedNote;
    out += "# SNMP objects served by pvx\n\n"
           "pvx's SNMP agent (SNMPv1, and SNMPv2c with `SNMP/Version2c=1`) answers GET, GET-NEXT, GetBulk and\n"
           "SET for the objects listed here, by subtree and group. Each line gives the name a manager uses\n"
           "(the numeric OID), the object's name, the type its value is sent with, its access, the range or\n"
           "size its values are held to, and what it means.\n\n"
           "How to read the lists:\n\n"
           "- Scalars are named by their OID and `.0`; any arcs after the object's own are ignored. Table cells\n"
           "  are named *table*.*row*.*column*.0: the row comes before the column, unlike RFC 1628's\n"
           "  *table*.1.*column*.*row*, so a name in the standard form reads row 1. `<row>` in a name stands for\n"
           "  a row number counted from 1, `<id>` for the id that names a row. Line tables hold at most "
        + lines
        + " rows;\n"
          "  a UPS with more lines is served as having "
        + lines
        + ".\n"
          "- With `SNMP/StandardNames=1` every table is named as its MIB defines it, *entry*.*column*.*row*\n"
          "  (the second name of each cell in the lists), walked column by column; a scalar answers only as\n"
          "  *OID*.0, GET and SET answer with exactly the name asked, and GET-NEXT skips ahead over names the\n"
          "  agent does not know. Index columns RFC 1628 declares not-accessible stay unserved.\n"
          "- Types are what goes on the wire. Every number is sent as INTEGER, also where RFC 1628 declares a\n"
          "  counter, gauge or time stamp; a range \"in decimal digits\" marks a number sent as text.\n"
          "- Values read are held to the range shown: numbers are clamped into it, an enumerated value (range\n"
          "  from 1) never reads 0, texts are cut to the size shown. A SET is judged by the object's own rule,\n"
          "  given in its meaning: a value the UPS cannot take answers badValue, an action the UPS cannot\n"
          "  carry out now answers readOnly or badValue as told there.\n"
          "- Access: read-only objects answer SET with readOnly; write-only ones answer GET with noSuchName\n"
          "  and are passed over by GET-NEXT; tables (not-accessible) are read cell by cell. Names not listed\n"
          "  here answer noSuchName.\n"
          "- A GET-NEXT walk from `1.3.6.1` starts at `"
        + collected.walkStart
        + "`, goes through the groups in the\n"
          "  order listed and, after `"
        + collected.walkEnd
        + "`, answers noSuchName: the SNMPv1 end of a walk.\n"
          "  GET-NEXT of any name before the first object (`1`, `1.3`, mib-2's other groups) answers the\n"
          "  first object; GET-NEXT of a name with an arc the agent does not know answers noSuchName; it\n"
          "  does not skip ahead.\n"
          "- Some objects listed read-write are settings the UPS keeps, written through its driver as noted\n"
          "  in their meaning; a driver that cannot write a setting answers its SET with readOnly.\n"
          "- Names in RFC 1628's subtree are the standard ones; names of the other objects are labels of this\n"
          "  reference: a manager sees only the numbers.\n\n";
    CRenderer(collected, texts).Body(out);
    // One newline at the end of the file.
    while (out.size() > 1 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n')
        out.pop_back();
    return out;
}

} // namespace pvx::mibdoc
