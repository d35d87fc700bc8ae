// The notice the service reports when the driver loses the UPS, with the
// message catalog found (pvx started by path) and without it.
#include "events/PVXException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace pvx;

namespace {

struct SCatalogCase {
    const char* name;
    std::string catalog;
    std::string text;
};

TEST(LostNotice, TextComesFromTheCatalogWhenItIsFound)
{
    const SCatalogCase cases[] = {
        { "catalog beside the program", std::string(PVX_BINARY_DIR) + "/messages",
            "Communication with the UPS was lost; pvx will look for it again.\n" },
        { "no catalog", "", "Unknown Error" },
    };
    for (const auto& c : cases) {
        ASSERT_LT(c.catalog.size(), sizeof g_szMessagesPath);
        std::memcpy(g_szMessagesPath, c.catalog.c_str(), c.catalog.size() + 1);
        testing::internal::CaptureStderr();
        ReportNotice(EVENT_UPS_LOST);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.text) << c.name;
    }
    g_szMessagesPath[0] = '\0';
}

} // namespace
