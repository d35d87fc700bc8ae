// The command line as a user meets it: the real pvx binary, started by name
// (no "/" in argv[0], so no start-up pause).
#include "tests/support/Process.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using pvx::test::RunProgram;

namespace {

const std::string kPvx = std::string(PVX_BINARY_DIR) + "/pvx";
const std::string kVersionLine = "$Version: 1.1.3 $\n";
const std::string kUsage = "Usage:   pvx [options]\n"
                           "Options: -c file  Initialization file, defaults to ./pvx.ini.\n"
                           "         -i       Use Internal XCP for XCP UPS systems.\n"
                           "         -s       Run as an installed service, files where pvx(8) says.\n"
                           "         daemon   Run as a daemon.\n"
                           "\n";

} // namespace

TEST(CommandLine, VersionAndUsage)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-v"}, 0, kVersionLine, ""},
        {{"-V"}, 0, kVersionLine, ""},
        {{"/v"}, 0, kVersionLine, ""},
        {{"-version"}, 0, kVersionLine, ""},
        {{"-v", "-V"}, 0, kVersionLine + kVersionLine, ""},
        {{"-v", "daemon"}, 0, kVersionLine, ""},
        {{"DAEMON", "-v"}, 0, kVersionLine, ""},
        {{"-c", "my.ini", "-v"}, 0, kVersionLine, ""},
        {{"-x"}, 255, "", kUsage},
        {{"-c"}, 255, "", kUsage},
        {{"-daemon"}, 255, "", kUsage},
        {{"foo"}, 255, "", kUsage},
        {{""}, 255, "", kUsage},
        {{"-"}, 255, "", kUsage},
        {{"-i", "-c", "x.ini", "bar"}, 255, "", kUsage},
    };
    for (const auto& c : cases) {
        auto result = RunProgram(kPvx, "pvx", c.args, 10s);
        std::string label = c.args.empty() ? "" : c.args[0];
        EXPECT_FALSE(result.timedOut) << label;
        EXPECT_EQ(result.status, c.status) << label;
        EXPECT_EQ(result.out, c.out) << label;
        EXPECT_EQ(result.err, c.err) << label;
    }
}

TEST(CommandLine, HostileArgumentsNeverCrash)
{
    std::vector<std::vector<std::string>> cases = {
        {std::string(100000, 'x')},
        {"-" + std::string(5000, 'c'), std::string(5000, 'f'), "-z"},
        {"/", "//", "-\x01", "\xff\xfe"},
    };
    for (const auto& args : cases) {
        auto result = RunProgram(kPvx, "pvx", args, 10s);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.err, kUsage);
    }
}
