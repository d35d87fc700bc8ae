// The engine state file: what the parser accepts, and boots that go up by one
// at every start under a stable engine ID.
#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/usm/EngineState.h"
#include "tests/snmp/usm/UsmTestSupport.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

using namespace pvx::usm;
using pvx::usm::test::Hex;

TEST(EngineState, ParsesOnlyCompleteWellFormedFiles)
{
    const SEngineState good {Hex("80000216 05 0102030405060708"), 7};
    struct Case {
        const char* text;
        bool accepted;
    } cases[] = {
        {"EngineID=80000216050102030405060708\nEngineBoots=7\n", true},
        {"# comment\r\n\nEngineBoots=7\r\nEngineID=80000216050102030405060708", true},
        {"EngineID=80000216050102030405060708\n", false},                       // no boots
        {"EngineBoots=7\n", false},                                                 // no engine ID
        {"EngineID=80000216050102030405060708\nEngineBoots=7\nEngineBoots=8\n", false}, // twice
        {"EngineID=8000021605010203040506070\nEngineBoots=7\n", false},            // odd digits
        {"EngineID=80000216\nEngineBoots=7\n", false},                              // 4 bytes
        {"EngineID=80000216050102030405060708\nEngineBoots=0\n", false},
        {"EngineID=80000216050102030405060708\nEngineBoots=2147483647\n", false},   // the latch value
        {"EngineID=80000216050102030405060708\nEngineBoots=+7\n", false},
        {"EngineID=80000216050102030405060708\nEngineBoots=7x\n", false},
        {"EngineID=80000216050102030405060708\nEngineBoots=99999999999\n", false},
        {"EngineID=80000216050102030405060708\nEngineBoots=7\nOther=1\n", false},
        {"EngineID = 80000216050102030405060708\nEngineBoots=7\n", false},
    };
    for (const auto& c : cases) {
        auto state = ParseEngineState(c.text);
        EXPECT_EQ(state.has_value(), c.accepted) << c.text;
        if (state && c.accepted) {
            EXPECT_EQ(*state, good) << c.text;
        }
    }
    EXPECT_EQ(ParseEngineState(FormatEngineState(good)), good);
}

TEST(EngineState, BootsRiseByOneAtEveryStartUnderOneEngineId)
{
    pvx::test::CTempDir folder;
    std::string path = EngineStatePath(folder.File("pvx.ini"));
    EXPECT_EQ(path, folder.File("pvx-engine.state"));

    SEngineState first = StartEngine(path);
    EXPECT_EQ(first.boots, 1u);
    ASSERT_EQ(first.engineId.size(), 13u);
    EXPECT_EQ(Bytes(first.engineId.begin(), first.engineId.begin() + 5), Hex("80 00 02 16 05"));
    EXPECT_EQ(ParseEngineState(pvx::test::ReadFile(path)), first);

    SEngineState second = StartEngine(path);
    EXPECT_EQ(second.engineId, first.engineId);
    EXPECT_EQ(second.boots, 2u);
    EXPECT_EQ(ParseEngineState(pvx::test::ReadFile(path)), second);

    // Close to the latch value: a new engine, counting from 1 again.
    ASSERT_TRUE(pvx::ReplaceFileContents(path, FormatEngineState({first.engineId, 2147483646})));
    SEngineState renewed = StartEngine(path);
    EXPECT_EQ(renewed.boots, 1u);
    EXPECT_NE(renewed.engineId, first.engineId);
}

TEST(EngineState, DamagedOrUnwritableFileStopsTheEngineAndIsKept)
{
    pvx::test::CTempDir folder;
    std::string path = folder.File("pvx-engine.state");
    ASSERT_TRUE(pvx::ReplaceFileContents(path, "EngineBoots=3\n"));
    for (const std::string& where : {path, folder.File("missing-folder/pvx-engine.state")}) {
        try {
            StartEngine(where);
            ADD_FAILURE() << where;
        } catch (const pvx::CPVXException& e) {
            EXPECT_EQ(e.GetCode(), pvx::EVENT_USM_ENGINE_STATE);
            EXPECT_EQ(e.GetArguments(), std::vector<std::string> {where});
        }
    }
    EXPECT_EQ(pvx::test::ReadFile(path), "EngineBoots=3\n");
}
