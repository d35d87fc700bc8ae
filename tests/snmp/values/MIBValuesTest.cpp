// Object identifiers, typed MIB values and traps: clamping at construction,
// accessors that answer on every kind, names cut at their first 0 arc.
#include "snmp/values/MIBData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pvx {
namespace {

using Arcs = std::vector<std::uint32_t>;

std::vector<std::uint32_t> ArcsOf(const COid& oid)
{
    return { oid.Arcs().begin(), oid.Arcs().end() };
}

TEST(OidTest, CopiesUpToAndIncludingTheFirstZeroArc)
{
    struct Case {
        const char* what;
        Arcs given;
        Arcs stored;
    };
    const Case cases[] = {
        { "scalar instance", { 2, 1, 33, 1, 2, 1, 0 }, { 2, 1, 33, 1, 2, 1, 0 } },
        { "no 0 arc gains one", { 2, 1, 33, 1, 2, 1 }, { 2, 1, 33, 1, 2, 1, 0 } },
        { "0 in the middle ends the name", { 2, 1, 0, 1, 5, 0 }, { 2, 1, 0 } },
        { "empty is the prefix itself", {}, { 0 } },
        { "only a 0 arc", { 0, 7 }, { 0 } },
        { "largest arc kept", { 4, 0xFFFFFFFFu, 0 }, { 4, 0xFFFFFFFFu, 0 } },
    };
    for (const auto& c : cases) {
        COid oid { std::span<const std::uint32_t>(c.given) };
        EXPECT_EQ(ArcsOf(oid), c.stored) << c.what;
        EXPECT_EQ(oid.Size(), c.stored.size()) << c.what;
    }
}

TEST(OidTest, EqualityLooksNoFurtherThanTheFirstZero)
{
    struct Case {
        Arcs a;
        Arcs b;
        bool equal;
    };
    const Case cases[] = {
        { { 2, 1, 33, 0 }, { 2, 1, 33, 0 }, true },
        { { 2, 1, 33, 0, 5 }, { 2, 1, 33, 0, 9 }, true },
        { { 2, 1, 33 }, { 2, 1, 33, 0 }, true },
        { { 2, 1, 33, 0 }, { 2, 1, 33, 1, 0 }, false },
        { { 2, 1, 34, 0 }, { 2, 1, 33, 0 }, false },
        { { 0 }, {}, true },
    };
    for (const auto& c : cases) {
        COid a { std::span<const std::uint32_t>(c.a) };
        COid b { std::span<const std::uint32_t>(c.b) };
        EXPECT_EQ(a == b, c.equal) << a.ToString() << " vs " << b.ToString();
    }
}

// Names are held in place up to a bound and on the heap beyond it; copies,
// moves and growth across the bound keep every arc.
TEST(OidTest, NamesOnEitherSideOfTheInlineBoundSurviveCopyMoveAndGrowth)
{
    for (std::size_t size : { std::size_t { 0 }, CArcList::kInline - 1, CArcList::kInline, CArcList::kInline + 1,
             std::size_t { 300 } }) {
        SCOPED_TRACE(size);
        Arcs arcs(size);
        for (std::size_t i = 0; i < size; ++i)
            arcs[i] = static_cast<std::uint32_t>(i + 1);
        CArcList list(arcs);
        CArcList copy(list);
        CArcList moved(std::move(copy));
        EXPECT_TRUE(copy.Empty());
        EXPECT_EQ(Arcs(moved.Span().begin(), moved.Span().end()), arcs);
        EXPECT_EQ(moved, list);
        // Growing by one crosses the bound for kInline.
        moved.PushBack(7);
        arcs.push_back(7);
        EXPECT_EQ(Arcs(moved.Span().begin(), moved.Span().end()), arcs);
        // Shrinking back below it, by assignment, drops the heap's arcs.
        CArcList shorter(std::span<const std::uint32_t>(arcs).first(2 < arcs.size() ? 2 : arcs.size()));
        moved = shorter;
        EXPECT_EQ(moved, shorter);
        // A name as long as the list ends with its 0 arc.
        arcs.back() = 1;
        EXPECT_EQ(COid(arcs).Size(), arcs.size() + 1);
    }
}

TEST(OidTest, DottedFormCarriesThePrefixAndTheFinalZero)
{
    EXPECT_EQ((COid { 4, 1, 534, 1, 0 }).ToString(), "1.3.6.1.4.1.534.1.0");
    EXPECT_EQ(COid().ToString(), "1.3.6.1.0");
}

TEST(MIBDataTest, SignedValuesAreClampedToTheirBounds)
{
    struct Case {
        std::int32_t value, minimum, maximum, stored;
    };
    const Case cases[] = {
        { 250, -100, 200, 200 },
        { -150, -100, 200, -100 },
        { 17, -100, 200, 17 },
        { -1, -1, 2147483647, -1 },
        { -2, -1, 2147483647, -1 },
        { INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN },
        { INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX },
    };
    for (const auto& c : cases) {
        CMIBData value(c.value, c.minimum, c.maximum, MIB_SIGNED);
        EXPECT_EQ(value.GetKind(), MIB_SIGNED);
        EXPECT_EQ(value.GetInteger(), c.stored) << c.value << " in [" << c.minimum << ", " << c.maximum << "]";
    }
}

TEST(MIBDataTest, UnsignedKindsClampThenApplyTheirRule)
{
    struct Case {
        std::uint32_t value, maximum;
        std::int32_t kind;
        std::uint32_t number; // GetUnsigned
        const char* text; // GetText
    };
    const Case cases[] = {
        { 4294967295u, 2147483647u, MIB_UNSIGNED, 2147483647u, "" },
        { 150, 100, MIB_UNSIGNED, 100, "" },
        { 0, 100, MIB_UNSIGNED, 0, "" },
        { 0, 6, MIB_ENUMERATED, 1, "" }, // an enumeration never reads 0
        { 9, 6, MIB_ENUMERATED, 6, "" },
        { 3, 6, MIB_ENUMERATED, 3, "" },
        { 0, 0, MIB_ENUMERATED, 1, "" },
        { 4294967295u, 2147483647u, MIB_NUMBER_TEXT, 0, "2147483647" }, // formatted after clamping
        { 0, 2147483647u, MIB_NUMBER_TEXT, 0, "0" },
        { 12345, 2147483647u, MIB_NUMBER_TEXT, 0, "12345" },
    };
    for (const auto& c : cases) {
        CMIBData value(c.value, c.maximum, c.kind);
        EXPECT_EQ(value.GetUnsigned(), c.number) << c.value << " kind " << c.kind;
        EXPECT_EQ(value.GetText(), c.text) << c.value << " kind " << c.kind;
        EXPECT_EQ(value.GetInteger(), 0);
    }
}

TEST(MIBDataTest, TextsAreCutToTheSmallerOfTheirMaximumAnd255)
{
    struct Case {
        std::size_t length, maximum, stored;
    };
    const Case cases[] = {
        { 40, 22, 22 },
        { 300, 255, 255 },
        { 300, 1000, 255 },
        { 10, 63, 10 },
        { 63, 63, 63 },
        { 64, 63, 63 },
        { 5, 0, 0 },
    };
    for (const auto& c : cases) {
        std::string text;
        for (std::size_t i = 0; i < c.length; ++i)
            text.push_back(static_cast<char>('a' + i % 26));
        CMIBData value(text, c.maximum, MIB_TEXT);
        EXPECT_EQ(value.GetText(), text.substr(0, c.stored)) << c.length << " max " << c.maximum;
    }
    // A zero byte inside stays, so that a writer can see and refuse it.
    CMIBData withZero(std::string_view("ab\0cd", 5), 255, MIB_TEXT);
    EXPECT_EQ(withZero.GetText().size(), 5u);
}

TEST(MIBDataTest, ConstructorGivenAnotherKindLeavesTheStorageEmpty)
{
    struct Case {
        const char* what;
        CMIBData value;
    };
    const Case cases[] = {
        { "signed constructor, kind 1", CMIBData(std::int32_t { 5 }, 0, 10, MIB_UNSIGNED) },
        { "unsigned constructor, kind 0", CMIBData(std::uint32_t { 5 }, 10u, MIB_SIGNED) },
        { "unsigned constructor, kind 4", CMIBData(std::uint32_t { 5 }, 10u, MIB_TEXT) },
        { "text constructor, kind 3", CMIBData(std::string_view("7"), 10, MIB_NUMBER_TEXT) },
        { "identifier constructor, kind 4", CMIBData(COid { 2, 0 }, MIB_TEXT) },
        { "unknown kind", CMIBData(std::uint32_t { 5 }, 10u, 9) },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.GetInteger(), 0) << c.what;
        EXPECT_EQ(c.value.GetUnsigned(), 0u) << c.what;
        EXPECT_EQ(c.value.GetText(), "") << c.what;
        EXPECT_EQ(c.value.GetOid(), nullptr) << c.what;
    }
}

TEST(MIBDataTest, AccessorsAnswerOnEveryKind)
{
    struct Case {
        CMIBData value;
        std::int32_t integer;
        std::uint32_t number;
        const char* text;
        bool hasOid;
    };
    const Case cases[] = {
        { CMIBData(std::int32_t { -7 }, -100, 100, MIB_SIGNED), -7, 0, "", false },
        { CMIBData(std::uint32_t { 7 }, 100u, MIB_UNSIGNED), 0, 7, "", false },
        { CMIBData(std::uint32_t { 3 }, 6u, MIB_ENUMERATED), 0, 3, "", false },
        { CMIBData(std::uint32_t { 42 }, 100u, MIB_NUMBER_TEXT), 0, 0, "42", false },
        { CMIBData(std::string_view("hello"), 63, MIB_TEXT), 0, 0, "hello", false },
        { CMIBData(COid { 2, 1, 33, 0 }, MIB_OID), 0, 0, "", true },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.GetInteger(), c.integer) << "kind " << c.value.GetKind();
        EXPECT_EQ(c.value.GetUnsigned(), c.number) << "kind " << c.value.GetKind();
        EXPECT_EQ(c.value.GetText(), c.text) << "kind " << c.value.GetKind();
        EXPECT_EQ(c.value.GetOid() != nullptr, c.hasOid) << "kind " << c.value.GetKind();
        EXPECT_EQ(c.value.GetName(), nullptr) << "a new value has no name";
    }
}

TEST(MIBDataTest, IdentifierValueIsACopyCutAtItsFirstZero)
{
    Arcs arcs { 2, 1, 33, 1, 7, 7, 4, 0, 99 };
    CMIBData value(COid { std::span<const std::uint32_t>(arcs) }, MIB_OID);
    arcs.assign(arcs.size(), 5);
    ASSERT_NE(value.GetOid(), nullptr);
    EXPECT_EQ(ArcsOf(*value.GetOid()), (Arcs { 2, 1, 33, 1, 7, 7, 4, 0 }));
}

TEST(MIBDataTest, SetNameCopiesUpToTheFirstZeroAndReplacesTheOldName)
{
    CMIBData value(std::uint32_t { 1 }, 10u, MIB_UNSIGNED);
    const Arcs first { 2, 1, 33, 1, 1, 1, 0, 7 };
    value.SetName(std::span<const std::uint32_t>(first));
    ASSERT_NE(value.GetName(), nullptr);
    EXPECT_EQ(ArcsOf(*value.GetName()), (Arcs { 2, 1, 33, 1, 1, 1, 0 }));

    value.SetName(COid { 4, 1, 534, 1, 0 });
    EXPECT_EQ(ArcsOf(*value.GetName()), (Arcs { 4, 1, 534, 1, 0 }));
}

TEST(SNMPTrapTest, OwnsItsEnterpriseAndBindingsInOrder)
{
    COid enterprise { 2, 1, 33, 2, 0 };
    auto trap = std::make_unique<CSNMPTrap>(6, 3, enterprise);
    for (std::uint32_t i = 1; i <= 3; ++i) {
        auto binding = std::make_unique<CMIBData>(i, 100u, MIB_UNSIGNED);
        binding->SetName(COid { 2, 1, 33, 1, 6, 2, 1, i, 0 });
        trap->AddBinding(std::move(binding));
    }
    enterprise = COid { 9, 0 };
    EXPECT_EQ(trap->GetGenericTrap(), 6);
    EXPECT_EQ(trap->GetSpecificTrap(), 3);
    EXPECT_EQ(trap->GetEnterprise().ToString(), "1.3.6.1.2.1.33.2.0");
    ASSERT_EQ(trap->GetBindings().size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(trap->GetBindings()[i]->GetUnsigned(), i + 1);
    // Destroying the trap frees every binding (checked by the sanitizer build).
    trap.reset();
}

} // namespace
} // namespace pvx
