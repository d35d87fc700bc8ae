// pvx started by path finds the catalog beside itself: a malformed source
// list then stops it with the catalog's text and the line naming the key and
// the item. Run in this process with the start-up pause skipped, so that the
// real command line, set-up and reporting run without the two-minute wait.
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "platform/PseudoTerminal.h"
#include "service/ProcessEntry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace pvx {
namespace {

// The real clock, except that the long start-up pause passes at once.
class CNoPauseClock : public IClockSource {
public:
    std::uint32_t WallMilliseconds() override { return RealClock().WallMilliseconds(); }
    std::time_t WallSeconds() override { return RealClock().WallSeconds(); }
    std::uint64_t MonotonicMilliseconds() override { return RealClock().MonotonicMilliseconds(); }
    void SleepMilliseconds(std::uint32_t ms) override
    {
        if (ms < 60000)
            RealClock().SleepMilliseconds(ms);
    }
};

const char kEventText[] = "A source list (SNMP/ReadManagers, SNMP/SetManagers or NetXCP/Clients) holds an item that is "
                          "not an IPv4 address or network; pvx does not start. The next line names the key and the "
                          "item.\n";

struct SBadList {
    const char* key; // section/key
    const char* value;
    const char* item;
};

const SBadList kBadLists[] = {
    { "SNMP/ReadManagers", "10.0.0.0/33", "10.0.0.0/33" },
    { "SNMP/SetManagers", "300.1.1.1", "300.1.1.1" },
    { "NetXCP/Clients", "10.0.0.1,,", "" },
    { "SNMP/ReadManagers", "127.0.0.1, ups.example.net", "ups.example.net" },
};

TEST(StartByPath, AMalformedListStopsPvxWithTheCatalogText)
{
    CPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open());
    const std::string folder = std::filesystem::temp_directory_path() / ("pvx-by-path-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string ini = folder + "/pvx.ini";
    CNoPauseClock clock;
    CScopedClock useClock(clock);

    for (const SBadList& c : kBadLists) {
        SCOPED_TRACE(c.value);
        std::string key = c.key;
        std::string section = key.substr(0, key.find('/'));
        std::ofstream(ini) << "[Communications]\nCommunicationsPort=" << terminal.SlavePath()
                           << "\n[SNMP]\nEnabled=1\nAgentPort=0\n[NetXCP]\nAgentPort=0\n[" << section << "]\n"
                           << key.substr(key.find('/') + 1) << "=" << c.value << "\n";
        std::string argv0 = PVX_BINARY_DIR "/pvx";
        std::string option = "-c";
        std::string path = ini;
        char* argv[] = { argv0.data(), option.data(), path.data(), nullptr };
        ::testing::internal::CaptureStderr();
        int result = PvxMain(3, argv); // main's return: -1 is exit status 255
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(kEventText) + c.key + ": \"" + c.item + "\"\n");
        EXPECT_EQ(result, -1);
    }
    ::g_szMessagesPath[0] = '\0';
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace pvx
