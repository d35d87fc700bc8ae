// pvx-msgc refuses malformed message lists instead of compiling a catalog
// that would give wrong texts for some codes.
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;
using namespace pvx::test;

TEST(MessageCompiler, AcceptsGoodListsAndRefusesMalformedLines)
{
    struct SCase {
        const char* name;
        const char* list;
        int status;
    };
    const SCase cases[] = {
        { "codes and texts, comments and blank lines", "# texts\n0xC0020001 First\n\n0xC0020002 Second\r\n", 0 },
        { "a line starting with a blank has no code", " Text without a code\n", 1 },
        { "a code without a text", "0xC0020001\n", 1 },
        { "a code that is no number", "0xC00G0001 Text\n", 1 },
        { "a code above 32 bits", "0x1C0020001 Text\n", 1 },
        { "the same code twice", "5 One\n0x5 Two\n", 1 },
    };
    CTempDir folder;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(folder.File("list.txt"), std::ios::trunc) << c.list;
        SRunResult result = RunProgram(PVX_MSGC, "pvx-msgc",
            { folder.File("list.txt"), folder.File("messages") }, 10s);
        EXPECT_EQ(result.status, c.status) << result.err;
    }
}
