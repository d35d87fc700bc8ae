// The MIB reference generator on object tables of the tests' own: what it
// reads from each kind of object, the faults of the tables and of the text
// table it refuses, and the Markdown it writes.
#include "tools/mibdoc/MibReference.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace pvx::mibdoc {
namespace {

using ::testing::HasSubstr;

SMIBValue NoValue(const CAbstractUPS&)
{
    return {};
}
SMIBValue NoCell(const CAbstractUPS&, std::size_t)
{
    return {};
}
void NoWrite(CAbstractUPS&, CMIBData&) { }
std::size_t NoRows(const CAbstractUPS&)
{
    return 0;
}
std::uint32_t RowArc(const CAbstractUPS&, std::size_t row)
{
    return static_cast<std::uint32_t>(row + 1);
}

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr SMIBKind kSigned { MIB_SIGNED, kMin, kMax };
constexpr SMIBKind kUnsigned { MIB_UNSIGNED, 0, kMax };

constexpr std::uint32_t kIdentPrefix[] = { 2, 1, 33, 1, 1 };
constexpr std::uint32_t kBatteryPrefix[] = { 2, 1, 33, 1, 2 };
constexpr std::uint32_t kInputPrefix[] = { 2, 1, 33, 1, 3 };
constexpr std::uint32_t kPrivate[] = { 4 };
constexpr std::uint32_t kVendorPrefix[] = { 4, 1, 534, 1, 1 };

SGroup OneObjectGroup(const SObject* object)
{
    return { kIdentPrefix, std::span<const SObject>(object, 1), {} };
}

// ---- One scalar of each kind ----------------------------------------------------------------

struct SScalarCase {
    const char* what;
    SObject object;
    const char* type;
    const char* access;
    const char* range;
    const char* notes;
};

const SScalarCase kScalarCases[] = {
    { "signed, whole range", { 1, kSigned, EAccess::ReadOnly, NoValue, nullptr, nullptr }, "INTEGER", "read-only",
        "-2147483648..2147483647", "" },
    { "signed, own bounds", { 1, { MIB_SIGNED, -100, 200 }, EAccess::ReadOnly, NoValue, nullptr, nullptr }, "INTEGER",
        "read-only", "-100..200", "" },
    { "unsigned with a maximum", { 1, { MIB_UNSIGNED, 0, 100 }, EAccess::ReadOnly, NoValue, nullptr, nullptr },
        "INTEGER", "read-only", "0..100", "" },
    { "enumerated: 0 reads 1", { 1, { MIB_ENUMERATED, 0, 7 }, EAccess::ReadOnly, NoValue, nullptr, nullptr }, "INTEGER",
        "read-only", "1..7", "" },
    { "number sent as text", { 1, { MIB_NUMBER_TEXT, 0, kMax }, EAccess::ReadOnly, NoValue, nullptr, nullptr },
        "OCTET STRING", "read-only", "0..2147483647 in decimal digits", "" },
    { "text", { 1, { MIB_TEXT, 0, 63 }, EAccess::ReadOnly, NoValue, nullptr, nullptr }, "OCTET STRING", "read-only",
        "0..63 characters", "" },
    { "text longer than a value holds", { 1, { MIB_TEXT, 0, 1000 }, EAccess::ReadOnly, NoValue, nullptr, nullptr },
        "OCTET STRING", "read-only", "0..255 characters", "" },
    { "identifier", { 1, { MIB_OID, 0, 0 }, EAccess::ReadOnly, NoValue, nullptr, nullptr }, "OBJECT IDENTIFIER",
        "read-only", "", "" },
    { "read-write", { 1, kUnsigned, EAccess::ReadWrite, NoValue, NoWrite, nullptr }, "INTEGER", "read-write",
        "0..2147483647", "" },
    // SET refuses an object without a writer whatever its access says.
    { "read-write without a writer", { 1, kUnsigned, EAccess::ReadWrite, NoValue, nullptr, nullptr }, "INTEGER",
        "read-only", "0..2147483647", "" },
    { "read-only with a writer", { 1, kUnsigned, EAccess::ReadOnly, NoValue, NoWrite, nullptr }, "INTEGER", "read-only",
        "0..2147483647", "" },
    { "write-only", { 1, {}, EAccess::WriteOnly, nullptr, NoWrite, nullptr }, "any", "write-only", "",
        "GET answers noSuchName and GET-NEXT passes over it." },
    { "neither read nor written", { 1, {}, EAccess::ReadOnly, nullptr, nullptr, nullptr }, "any", "not served", "",
        "" },
};

TEST(MibReferenceCollect, ScalarsTakeTypeAccessAndRangeFromTheirKind)
{
    for (const auto& c : kScalarCases) {
        SCOPED_TRACE(c.what);
        const SGroup group = OneObjectGroup(&c.object);
        const SGroup* groups[] = { &group };
        auto collected = Collect(groups, {});
        EXPECT_THAT(collected.problems, ::testing::IsEmpty());
        ASSERT_EQ(collected.nodes.size(), 3u); // subtree, group, object
        const SNode& node = collected.nodes[2];
        EXPECT_EQ(node.kind, ENodeKind::Scalar);
        EXPECT_EQ(node.key, "1.3.6.1.2.1.33.1.1.1");
        EXPECT_EQ(node.shown, "1.3.6.1.2.1.33.1.1.1.0");
        EXPECT_EQ(node.parent, "1.3.6.1.2.1.33.1.1");
        EXPECT_EQ(node.type, c.type);
        EXPECT_EQ(node.access, c.access);
        EXPECT_EQ(node.range, c.range);
        EXPECT_EQ(node.notes, c.notes);
    }
}

// ---- Tables ------------------------------------------------------------------------------------

const SColumn kLineColumns[] = { { 2, kUnsigned, NoCell }, { 3, { MIB_UNSIGNED, 0, 100 }, NoCell } };
const STable kLineTable = { NoRows, RowArc, true, true, kLineColumns };
const SColumn kAlarmColumns[] = { { 1, kUnsigned, NoCell }, { 2, { MIB_OID, 0, 0 }, NoCell } };
const STable kAlarmTable = { NoRows, RowArc, false, false, kAlarmColumns };

const SObject kInputObjects[] = {
    { 1, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr },
    { 3, {}, EAccess::ReadOnly, nullptr, nullptr, &kLineTable },
};
const SObject kVendorObjects[] = {
    { 2, {}, EAccess::ReadOnly, nullptr, nullptr, &kAlarmTable },
    { 8, {}, EAccess::WriteOnly, nullptr, NoWrite, nullptr },
};

TEST(MibReferenceCollect, TablesListTheirColumnsWithTheRowInTheName)
{
    const SGroup input = { kInputPrefix, kInputObjects, kPrivate };
    const SGroup vendor = { kVendorPrefix, kVendorObjects, {} };
    const SGroup* groups[] = { &input, &vendor };
    auto collected = Collect(groups, {});
    EXPECT_THAT(collected.problems, ::testing::IsEmpty());

    struct SExpected {
        ENodeKind kind;
        const char* key;
        const char* shown;
        const char* type;
        const char* parent;
    };
    const SExpected expected[] = {
        { ENodeKind::Subtree, "1.3.6.1.2.1.33.1", "1.3.6.1.2.1.33.1", "", "" },
        { ENodeKind::Group, "1.3.6.1.2.1.33.1.3", "1.3.6.1.2.1.33.1.3", "", "1.3.6.1.2.1.33.1" },
        { ENodeKind::Scalar, "1.3.6.1.2.1.33.1.3.1", "1.3.6.1.2.1.33.1.3.1.0", "INTEGER", "1.3.6.1.2.1.33.1.3" },
        { ENodeKind::Table, "1.3.6.1.2.1.33.1.3.3", "1.3.6.1.2.1.33.1.3.3", "table", "1.3.6.1.2.1.33.1.3" },
        { ENodeKind::Column, "1.3.6.1.2.1.33.1.3.3.*.2", "1.3.6.1.2.1.33.1.3.3.<row>.2.0", "INTEGER",
            "1.3.6.1.2.1.33.1.3.3" },
        { ENodeKind::Column, "1.3.6.1.2.1.33.1.3.3.*.3", "1.3.6.1.2.1.33.1.3.3.<row>.3.0", "INTEGER",
            "1.3.6.1.2.1.33.1.3.3" },
        { ENodeKind::Subtree, "1.3.6.1.4.1.534.1", "1.3.6.1.4.1.534.1", "", "" },
        { ENodeKind::Group, "1.3.6.1.4.1.534.1.1", "1.3.6.1.4.1.534.1.1", "", "1.3.6.1.4.1.534.1" },
        { ENodeKind::Table, "1.3.6.1.4.1.534.1.1.2", "1.3.6.1.4.1.534.1.1.2", "table", "1.3.6.1.4.1.534.1.1" },
        { ENodeKind::Column, "1.3.6.1.4.1.534.1.1.2.*.1", "1.3.6.1.4.1.534.1.1.2.<id>.1.0", "INTEGER",
            "1.3.6.1.4.1.534.1.1.2" },
        { ENodeKind::Column, "1.3.6.1.4.1.534.1.1.2.*.2", "1.3.6.1.4.1.534.1.1.2.<id>.2.0", "OBJECT IDENTIFIER",
            "1.3.6.1.4.1.534.1.1.2" },
        { ENodeKind::Scalar, "1.3.6.1.4.1.534.1.1.8", "1.3.6.1.4.1.534.1.1.8.0", "any", "1.3.6.1.4.1.534.1.1" },
    };
    ASSERT_EQ(collected.nodes.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].key);
        const SNode& node = collected.nodes[i];
        EXPECT_EQ(node.kind, expected[i].kind);
        EXPECT_EQ(node.key, expected[i].key);
        EXPECT_EQ(node.shown, expected[i].shown);
        EXPECT_EQ(node.type, expected[i].type);
        EXPECT_EQ(node.parent, expected[i].parent);
        // Cells have a second name in RFC 1628's form; nothing else has.
        if (node.kind == ENodeKind::Column)
            EXPECT_EQ(node.standard, node.parent + ".1." + node.key.substr(node.key.rfind('.') + 1) + "."
                    + (node.parent.starts_with("1.3.6.1.2") ? "<row>" : "<id>"));
        else
            EXPECT_EQ(node.standard, "");
    }
    // What the tree does with the rows and the missing index column is told with the table.
    EXPECT_EQ(collected.nodes[3].notes,
        "Rows are numbered from 1. Column 1 is not served. While the table has no rows, GET-NEXT into it answers "
        "noSuchName.");
    EXPECT_EQ(collected.nodes[8].notes, "Rows are named by an id.");
    // The walk ends at the last readable object: the write-only one after the table is passed over.
    EXPECT_EQ(collected.walkStart, "1.3.6.1.2.1.33.1.3.1.0");
    EXPECT_EQ(collected.walkEnd, "1.3.6.1.4.1.534.1.1.2.<id>.2.0");
}

// ---- The agent's own objects ------------------------------------------------------------------

const COid kTrapLevel { 4, 1, 534, 1, 11, 1, 0 };
const COid kTrapType { 4, 1, 534, 1, 11, 2, 0 };

TEST(MibReferenceCollect, AgentObjectsFormAGroupOutsideTheWalk)
{
    const SObject object { 1, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr };
    const SGroup group = { kVendorPrefix, std::span<const SObject>(&object, 1), {} };
    const SGroup* groups[] = { &group };
    const SAgentObject agent[] = { { &kTrapLevel, kSigned, true }, { &kTrapType, kSigned, false } };
    auto collected = Collect(groups, agent);
    EXPECT_THAT(collected.problems, ::testing::IsEmpty());
    ASSERT_EQ(collected.nodes.size(), 6u);
    // The subtree is listed once, before the first group in it.
    EXPECT_EQ(collected.nodes[0].kind, ENodeKind::Subtree);
    EXPECT_EQ(collected.nodes[3].key, "1.3.6.1.4.1.534.1.11");
    EXPECT_EQ(collected.nodes[3].parent, "1.3.6.1.4.1.534.1");
    EXPECT_EQ(collected.nodes[4].shown, "1.3.6.1.4.1.534.1.11.1.0");
    EXPECT_EQ(collected.nodes[4].access, "read-write");
    EXPECT_EQ(collected.nodes[4].range, "-2147483648..2147483647");
    EXPECT_EQ(collected.nodes[5].access, "read-only");
    EXPECT_EQ(collected.walkEnd, "1.3.6.1.4.1.534.1.1.1.0");
}

// ---- Faults of the tables ----------------------------------------------------------------------

const SObject kUnordered[] = {
    { 2, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr },
    { 1, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr },
};
const SObject kTwice[] = {
    { 1, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr },
    { 1, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr },
};
const SColumn kGappedColumns[] = { { 2, kUnsigned, NoCell }, { 4, kUnsigned, NoCell } };
const STable kGappedTable = { NoRows, RowArc, true, true, kGappedColumns };
const STable kNoColumns = { NoRows, RowArc, true, true, {} };
const SObject kGappedObjects[] = { { 3, {}, EAccess::ReadOnly, nullptr, nullptr, &kGappedTable } };
const SObject kNoColumnObjects[] = { { 3, {}, EAccess::ReadOnly, nullptr, nullptr, &kNoColumns } };
const SObject kOneScalar[] = { { 1, kUnsigned, EAccess::ReadOnly, NoValue, nullptr, nullptr } };
const SObject kUnknownKind[] = { { 1, { 9, 0, 0 }, EAccess::ReadOnly, NoValue, nullptr, nullptr } };

const SGroup kIdentLast = { kIdentPrefix, kOneScalar, {} };
const SGroup kIdentToBattery = { kIdentPrefix, kOneScalar, kBatteryPrefix };
const SGroup kIdentToInput = { kIdentPrefix, kOneScalar, kInputPrefix };
const SGroup kIdentEndsEarly = { kIdentPrefix, kOneScalar, {} };
const SGroup kBatteryLast = { kBatteryPrefix, kOneScalar, {} };
const SGroup kBatteryGoesOn = { kBatteryPrefix, kOneScalar, kInputPrefix };
const SGroup kUnorderedGroup = { kIdentPrefix, kUnordered, {} };
const SGroup kTwiceGroup = { kIdentPrefix, kTwice, {} };
const SGroup kGappedGroup = { kInputPrefix, kGappedObjects, {} };
const SGroup kNoColumnGroup = { kInputPrefix, kNoColumnObjects, {} };
const SGroup kUnknownKindGroup = { kIdentPrefix, kUnknownKind, {} };

const COid kOtherGroupObject { 4, 1, 534, 1, 12, 1, 0 };
const COid kTreeObject { 2, 1, 33, 1, 1, 1, 0 };
const COid kTooShort { 4, 0 };

struct STreeCase {
    const char* what;
    std::vector<const SGroup*> groups;
    std::vector<SAgentObject> agent;
    const char* problem; // empty: none
};

const STreeCase kTreeCases[] = {
    { "consistent", { &kIdentToBattery, &kBatteryLast }, { { &kTrapLevel, kSigned, true } }, "" },
    { "objects out of arc order", { &kUnorderedGroup }, {}, "1.3.6.1.2.1.33.1.1.1: objects out of arc order" },
    { "one arc twice", { &kTwiceGroup }, {}, "1.3.6.1.2.1.33.1.1.1: named twice" },
    { "columns with a gap", { &kGappedGroup }, {}, "1.3.6.1.2.1.33.1.3.3.*.4: columns are not consecutive" },
    { "table without columns", { &kNoColumnGroup }, {}, "1.3.6.1.2.1.33.1.3.3: a table without columns" },
    { "kind the agent cannot send", { &kUnknownKindGroup }, {},
        "1.3.6.1.2.1.33.1.1.1: kind 9 is not one the agent can send" },
    // A group left out of the list would be missing from the reference.
    { "walk skips a listed group", { &kIdentToInput, &kBatteryLast }, {},
        "1.3.6.1.2.1.33.1.1: GET-NEXT after its last object goes to 1.3.6.1.2.1.33.1.3, not to the next group "
        "1.3.6.1.2.1.33.1.2" },
    { "walk ends before the last group", { &kIdentEndsEarly, &kBatteryLast }, {},
        "1.3.6.1.2.1.33.1.1: GET-NEXT after its last object goes to 1.3.6.1" },
    { "walk goes on after the last group", { &kIdentToBattery, &kBatteryGoesOn }, {},
        "1.3.6.1.2.1.33.1.2: the last group hands GET-NEXT on to 1.3.6.1.2.1.33.1.3" },
    { "agent objects in two groups", { &kIdentLast },
        { { &kTrapLevel, kSigned, true }, { &kOtherGroupObject, kSigned, true } },
        "1.3.6.1.4.1.534.1.12.1.0: the agent's objects lie in different groups" },
    { "agent object inside the tree", { &kIdentLast }, { { &kTreeObject, kSigned, true } },
        "1.3.6.1.2.1.33.1.1.1: named twice" },
    { "agent object without a group", { &kIdentLast }, { { &kTooShort, kSigned, true } },
        "1.3.6.1.4.0: an agent object must be named group.arc.0" },
};

TEST(MibReferenceCollect, FaultsOfTheTablesAreReportedByOid)
{
    for (const auto& c : kTreeCases) {
        SCOPED_TRACE(c.what);
        auto collected = Collect(c.groups, c.agent);
        if (std::string(c.problem).empty())
            EXPECT_THAT(collected.problems, ::testing::IsEmpty());
        else
            EXPECT_THAT(collected.problems, ::testing::Contains(HasSubstr(c.problem)));
    }
}

TEST(MibReferenceCollect, TheServedTreeIsConsistent)
{
    auto collected = Collect(CMIBTree::AllGroups(), {});
    EXPECT_THAT(collected.problems, ::testing::IsEmpty());
    EXPECT_EQ(collected.walkStart, "1.3.6.1.2.1.33.1.1.1.0");
}

// ---- Texts against nodes -----------------------------------------------------------------------

const SObjectText kCompleteTexts[] = {
    { "1.3.6.1.2.1.33.1", "upsObjects", "The standard objects." },
    { "1.3.6.1.2.1.33.1.3", "upsInput", "Input lines." },
    { "1.3.6.1.2.1.33.1.3.1", "upsInputLineBads", "Times out of tolerance." },
    { "1.3.6.1.2.1.33.1.3.3", "upsInputTable", "One row per line." },
    { "1.3.6.1.2.1.33.1.3.3.*.2", "upsInputFrequency", "Frequency | in 0.1 Hz." },
    { "1.3.6.1.2.1.33.1.3.3.*.3", "upsInputLoad", "Load, percent." },
};

struct STextCase {
    const char* what;
    std::vector<SObjectText> texts;
    const char* problem; // empty: none
};

std::vector<SObjectText> CompleteTextsAnd(std::vector<SObjectText> change, std::size_t drop = SIZE_MAX)
{
    std::vector<SObjectText> texts;
    for (std::size_t i = 0; i < std::size(kCompleteTexts); ++i) {
        if (i != drop)
            texts.push_back(kCompleteTexts[i]);
    }
    texts.insert(texts.end(), change.begin(), change.end());
    return texts;
}

const STextCase kTextCases[] = {
    { "every node has its text", CompleteTextsAnd({}), "" },
    { "a column without text", CompleteTextsAnd({}, 4),
        "1.3.6.1.2.1.33.1.3.3.*.2: served, but has no name and meaning" },
    { "a group without text", CompleteTextsAnd({}, 1), "1.3.6.1.2.1.33.1.3: served, but has no name and meaning" },
    { "a text for an object the tree lacks", CompleteTextsAnd({ { "1.3.6.1.2.1.33.1.3.2", "gone", "Removed." } }),
        "1.3.6.1.2.1.33.1.3.2: has a name and meaning, but nothing is served there" },
    // A column keyed like a scalar does not name the column.
    { "a column keyed without its row", CompleteTextsAnd({ { "1.3.6.1.2.1.33.1.3.3.2", "wrong", "Wrong key." } }),
        "1.3.6.1.2.1.33.1.3.3.2: has a name and meaning, but nothing is served there" },
    { "two texts for one node", CompleteTextsAnd({ { "1.3.6.1.2.1.33.1.3.1", "again", "Again." } }),
        "1.3.6.1.2.1.33.1.3.1: two names and meanings" },
    { "an empty meaning", CompleteTextsAnd({ { "1.3.6.1.2.1.33.1.3.1", "upsInputLineBads", "" } }, 2),
        "1.3.6.1.2.1.33.1.3.1: empty name or meaning" },
    { "an empty name", CompleteTextsAnd({ { "1.3.6.1.2.1.33.1.3.1", "", "Times out of tolerance." } }, 2),
        "1.3.6.1.2.1.33.1.3.1: empty name or meaning" },
};

TEST(MibReferenceTexts, NodesAndTextsMustCoverEachOther)
{
    const SGroup input = { kInputPrefix, kInputObjects, {} };
    const SGroup* groups[] = { &input };
    auto collected = Collect(groups, {});
    ASSERT_THAT(collected.problems, ::testing::IsEmpty());
    for (const auto& c : kTextCases) {
        SCOPED_TRACE(c.what);
        auto problems = CheckTexts(collected.nodes, c.texts);
        if (std::string(c.problem).empty())
            EXPECT_THAT(problems, ::testing::IsEmpty());
        else
            EXPECT_THAT(problems, ::testing::Contains(c.problem));
    }
}

// ---- Markdown -----------------------------------------------------------------------------------

TEST(MibReferenceRender, WritesHeadingsRowsAndTableSections)
{
    const SGroup input = { kInputPrefix, kInputObjects, {} };
    const SGroup* groups[] = { &input };
    auto collected = Collect(groups, {});
    const std::string out = Render(collected, kCompleteTexts, 6);

    const char* const expected[] = {
        "<!-- Generated by pvx-mibdoc",
        "ninja -C build mib-reference",
        "Line tables hold at most 6 rows;\n  a UPS with more lines is served as having 6.",
        "starts at `1.3.6.1.2.1.33.1.3.1.0`",
        "after `1.3.6.1.2.1.33.1.3.3.<row>.3.0`, answers noSuchName",
        "\n## upsObjects (`1.3.6.1.2.1.33.1`)\n\nThe standard objects.\n\n",
        "\n### upsInput (`1.3.6.1.2.1.33.1.3`)\n\nInput lines.\n\n| OID | Name | Type | Access | Range or size "
        "| Meaning |\n|---|---|---|---|---|---|\n",
        "| `1.3.6.1.2.1.33.1.3.1.0` | upsInputLineBads | INTEGER | read-only | 0..2147483647 | Times out of "
        "tolerance. |\n",
        // The table's line in its group gives the meaning only; its section adds the facts of the tree.
        "| `1.3.6.1.2.1.33.1.3.3` | upsInputTable | table | not-accessible |  | One row per line. |\n",
        "\n#### upsInputTable (`1.3.6.1.2.1.33.1.3.3`)\n\nOne row per line. Rows are numbered from 1. Column 1 is "
        "not served. While the table has no rows, GET-NEXT into it answers noSuchName.\n\n",
        // A '|' in a text would end the cell.
        "| `1.3.6.1.2.1.33.1.3.3.<row>.2.0`<br>`1.3.6.1.2.1.33.1.3.3.1.2.<row>` | upsInputFrequency | INTEGER | read-only | 0..2147483647 | Frequency "
        "\\| in 0.1 Hz. |\n",
        "| `1.3.6.1.2.1.33.1.3.3.<row>.3.0`<br>`1.3.6.1.2.1.33.1.3.3.1.3.<row>` | upsInputLoad | INTEGER | read-only | 0..100 | Load, percent. |\n",
    };
    for (const char* part : expected)
        EXPECT_THAT(out, HasSubstr(part));
    // Columns are listed in their table's section, not in the group's list.
    EXPECT_EQ(out.find("<row>.2.0"), out.rfind("<row>.2.0"));
    EXPECT_LT(out.find("#### upsInputTable"), out.find("<row>.2.0"));
    // The file ends with exactly one newline.
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_NE(out[out.size() - 2], '\n');
}

TEST(MibReferenceRender, WireTypesComeFromTheEncoder)
{
    struct SCase {
        std::int32_t kind;
        const char* type;
    };
    const SCase cases[] = {
        { MIB_SIGNED, "INTEGER" },
        { MIB_UNSIGNED, "INTEGER" },
        { MIB_ENUMERATED, "INTEGER" },
        { MIB_NUMBER_TEXT, "OCTET STRING" },
        { MIB_TEXT, "OCTET STRING" },
        { MIB_OID, "OBJECT IDENTIFIER" },
        { -1, "" },
        { 6, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(WireType({ c.kind, 0, 10 }), c.type);
    }
}

} // namespace
} // namespace pvx::mibdoc
