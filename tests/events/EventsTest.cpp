// Message lookup in compiled catalogs (built, damaged and hostile) and the
// reporting of event texts.
#include "events/PVXException.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using pvx::CPVXException;
using pvx::GetMessageText;

namespace {

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("pvx-events-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override
    {
        g_szMessagesPath[0] = '\0';
        fs::remove_all(m_folder);
    }

    void UseCatalog(const std::vector<std::uint8_t>& bytes)
    {
        auto path = (m_folder / "messages").string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        std::strcpy(g_szMessagesPath, path.c_str());
    }

    fs::path m_folder;
};

std::string TextOf(std::uint32_t code)
{
    std::string text;
    GetMessageText(code, text);
    return text;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutEntry(std::vector<std::uint8_t>& out, const std::string& text, std::uint16_t length = 0)
{
    std::uint16_t size = length ? length : static_cast<std::uint16_t>((4 + text.size() + 1 + 3) & ~3u);
    out.push_back(static_cast<std::uint8_t>(size));
    out.push_back(static_cast<std::uint8_t>(size >> 8));
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), text.begin(), text.end());
    std::size_t pad = length ? 1 : size - 4 - text.size();
    out.insert(out.end(), pad, 0);
}

// One block covering 0xC0020025..0xC0020039, every text ending in CR LF.
std::vector<std::uint8_t> BlockCatalog()
{
    std::vector<std::uint8_t> out;
    Put32(out, 1);
    Put32(out, 0xC0020025);
    Put32(out, 0xC0020039);
    Put32(out, 16);
    for (std::uint32_t code = 0xC0020025; code <= 0xC0020039; ++code)
        PutEntry(out, "text " + std::to_string(code - 0xC0020025) + "\r\n");
    return out;
}

} // namespace

TEST(EventText, SystemErrorNumbersTakeTheSystemText)
{
    EXPECT_EQ(TextOf(2), std::string(std::strerror(2)) + "\n");
    EXPECT_EQ(TextOf(14), std::string(std::strerror(14)) + "\n");
}

TEST(EventText, NoCatalogGivesUnknownError)
{
    g_szMessagesPath[0] = '\0';
    EXPECT_EQ(TextOf(0xC0020039), "Unknown Error");
}

TEST_F(CatalogTest, EntriesAreFoundByPositionInTheirBlock)
{
    UseCatalog(BlockCatalog());
    EXPECT_EQ(TextOf(0xC0020025), "text 0\n");
    EXPECT_EQ(TextOf(0xC0020027), "text 2\n");
    EXPECT_EQ(TextOf(0xC0020039), "text 20\n");
    EXPECT_EQ(TextOf(0xC0020024), "Unknown Error");
    EXPECT_EQ(TextOf(0xC002003A), "Unknown Error");
}

TEST_F(CatalogTest, DamagedCatalogsNeverCrash)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string expected;
    };
    auto truncated = BlockCatalog();
    truncated.resize(40);
    std::vector<std::uint8_t> zeroBlocks;
    Put32(zeroBlocks, 0);
    std::vector<std::uint8_t> hugeCount;
    Put32(hugeCount, 0xFFFFFFFF);
    Put32(hugeCount, 0xC0020027);
    Put32(hugeCount, 0xC0020027);
    Put32(hugeCount, 0x7FFFFFFF); // offset far past the end
    std::vector<std::uint8_t> shortEntry;
    Put32(shortEntry, 1);
    Put32(shortEntry, 0xC0020025);
    Put32(shortEntry, 0xC0020039);
    Put32(shortEntry, 16);
    PutEntry(shortEntry, "", 2); // a length below its own header
    std::vector<std::uint8_t> noTerminator;
    Put32(noTerminator, 1);
    Put32(noTerminator, 0xC0020027);
    Put32(noTerminator, 0xC0020027);
    Put32(noTerminator, 16);
    noTerminator.insert(noTerminator.end(), {0xFF, 0xFF, 0, 0, 'a', 'b', 'c'});

    std::vector<Case> cases = {
        {"empty file", {}, "Unknown Error"},
        {"block count 0", zeroBlocks, "Unknown Error"},
        {"truncated entries", truncated, "Unknown Error"},
        {"offset past the end", hugeCount, "Unknown Error"},
        {"entry length below 4", shortEntry, "Unknown Error"},
        {"text without zero byte", noTerminator, "abc"},
    };
    for (const auto& c : cases) {
        UseCatalog(c.bytes);
        EXPECT_EQ(TextOf(0xC0020027), c.expected) << c.name;
    }
}

TEST(EventText, BuiltCatalogAnswersEveryEventCode)
{
    std::string path = std::string(PVX_BINARY_DIR) + "/messages";
    std::strcpy(g_szMessagesPath, path.c_str());
    for (std::uint32_t code : {0xC0020025u, 0xC0020027u, 0x80020028u, 0xC002002Au, 0xC002002Cu, 0xC002002Du,
                               0xC002002Eu, 0xC002002Fu, 0xC0020030u, 0xC0020031u, 0xC0020032u, 0xC0020033u,
                               0xC0020034u, 0xC0020035u, 0xC0020036u, 0xC0020039u, 0xC002003Au,
                               0xC002003Bu, 0xC002003Cu, 0xC002003Eu, 0xC002003Fu,
                               0xC0020040u, 0xC0020058u, 0xC0020059u, 0xC002005Au}) {
        std::string text = TextOf(code);
        EXPECT_NE(text, "Unknown Error") << std::hex << code;
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n') << std::hex << code;
        EXPECT_EQ(text.find('\r'), std::string::npos);
    }
    EXPECT_NE(TextOf(0xC002003B).find("Communications/Driver"), std::string::npos) << "names the key to mend";
    g_szMessagesPath[0] = '\0';
}

TEST(EventReport, TextGoesToStandardErrorAsItStands)
{
    testing::internal::CaptureStderr();
    CPVXException(0xC0020039).Report();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unknown Error");

    testing::internal::CaptureStderr();
    CPVXException(2).Report();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(std::strerror(2)) + "\n");
}

TEST_F(CatalogTest, PercentSignsAreNotFormatted)
{
    std::vector<std::uint8_t> out;
    Put32(out, 1);
    Put32(out, 0xC0020027);
    Put32(out, 0xC0020027);
    Put32(out, 16);
    PutEntry(out, "100% %s %n\r\n");
    UseCatalog(out);
    testing::internal::CaptureStderr();
    CPVXException(0xC0020027).Report();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "100% %s %n\n");
}

TEST(EventReport, JournalPrefixesPutThePriorityBeforeEveryLine)
{
    struct Case {
        const char* name;
        std::function<void()> report;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"an event that ends the service, with its detail line", [] {
             CPVXException e(0xC0020050);
             e.SetDetail("SNMP/TrapHost: \"nowhere\"");
             e.Report();
         }, "<3>Unknown Error\n<3>SNMP/TrapHost: \"nowhere\"\n"},
        {"a notice of the loop", [] { pvx::ReportNotice(0xC0020039); }, "<4>Unknown Error"},
        {"a system error", [] { CPVXException(2).Report(pvx::EPriority::Warning); },
         std::string("<4>") + std::strerror(2) + "\n"},
        {"a line of pvx's own", [] { pvx::ReportLine("one\ntwo", pvx::EPriority::Info); }, "<6>one\\x0Atwo\n"},
        {"the counters' default priority", [] { pvx::ReportLine("pvx counters: x=1"); }, "<5>pvx counters: x=1\n"},
    };
    CPVXException::SetJournalPrefixes(true);
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        c.report();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected) << c.name;
    }
    CPVXException::SetJournalPrefixes(false);
    testing::internal::CaptureStderr();
    pvx::ReportNotice(0xC0020039);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unknown Error") << "no prefix outside the journal";
}
