// The sample configuration files shipped beside pvx, read with the real reader.
// The reader has no comment syntax and searches a key past its own section, so
// a careless comment line or a misplaced key silently changes what pvx uses.
// PVX_SAMPLE_DIR selects the folder to check (an installed /opt/pvx, say);
// by default the files in packaging/ are checked.
#include "config/ConfigKeys.h"
#include "config/INIFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using pvx::CINIFile;

namespace {

std::string SampleDir()
{
    const char* dir = std::getenv("PVX_SAMPLE_DIR");
    return dir != nullptr && *dir != '\0' ? dir : PVX_SOURCE_DIR "/packaging";
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A key line as it stands in the file: the section it lies in, its name and value.
struct SKeyLine {
    std::string section, key, value;
    std::size_t lineIndex;
};

// Headers are "[name]" at the start of a line; "#" lines are comments; any
// other non-empty line must be "Key=value" with nothing around the "=".
std::vector<SKeyLine> KeyLines(const std::vector<std::string>& lines, std::vector<std::string>& strayLines)
{
    std::vector<SKeyLine> keys;
    std::string section;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t close = line.find(']');
        if (line[0] == '[' && close != std::string::npos) {
            section = line.substr(1, close - 1);
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0 || section.empty() || line.find(' ') < equals) {
            strayLines.push_back(line);
            continue;
        }
        keys.push_back({section, line.substr(0, equals), line.substr(equals + 1), i});
    }
    return keys;
}

class SampleFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("pvx-sample-" + std::to_string(::getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string WriteCopy(const std::vector<std::string>& lines) const
    {
        std::string path = (m_folder / "copy.ini").string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const auto& line : lines)
            out << line << '\n';
        return path;
    }

    // Every key line must be the one the reader finds: give each line in
    // turn a value of its own and read it back. A comment that swallows the
    // line, an earlier duplicate or a key outside any section shows up here.
    void ExpectEveryLineIsRead(const std::string& file)
    {
        std::vector<std::string> stray;
        auto lines = Lines(ReadText(file));
        auto keys = KeyLines(lines, stray);
        ASSERT_FALSE(keys.empty()) << file;
        EXPECT_TRUE(stray.empty()) << file << ": not a header, comment or key line: " << stray.front();
        for (const auto& key : keys) {
            EXPECT_EQ(CINIFile(file).GetString(key.section, key.key, "<absent>"), key.value)
                << file << ": " << key.section << "/" << key.key;
            auto changed = lines;
            changed[key.lineIndex] = key.key + "=4321";
            EXPECT_EQ(CINIFile(WriteCopy(changed)).GetString(key.section, key.key, "<absent>"), "4321")
                << file << ": " << key.section << "/" << key.key << " is read from another line";
        }
    }

    fs::path m_folder;
};

// Every key of pvx.ini with the value the sample gives it: the built-in
// default from the key table, except that the sample turns on the SNMP agent,
// SNMPv2c, RFC 1628 names, the responsive loop, the counters line and reload,
// and turns off the relay, which most sites never use. Address
// keys stand empty (0.0.0.0), and numbered keys (the SNMPv3 users) are left out.
struct SExpectedKey {
    std::string section;
    std::string key;
    std::string value;
};

std::vector<SExpectedKey> PvxKeys()
{
    const std::map<const pvx::SConfigKey*, std::string> sampleValues = {
        {&pvx::keys::kSNMPEnabled, "1"},
        {&pvx::keys::kVersion2c, "1"},
        {&pvx::keys::kStandardNames, "1"},
        {&pvx::keys::kStandardValues, "1"},
        {&pvx::keys::kSystemGroup, "1"},
        {&pvx::keys::kResponsiveLoop, "1"},
        {&pvx::keys::kCounterLogInterval, "3600"},
        {&pvx::keys::kNetXCPEnabled, "0"},
        {&pvx::keys::kReloadOnHangup, "1"},
        {&pvx::keys::kNotifyLogEvents, "1"},
        {&pvx::keys::kShutdownCommand, "/usr/bin/systemctl poweroff"},
        {&pvx::keys::kKeepEventLog, "1"},
    };
    std::vector<SExpectedKey> keys;
    for (const pvx::SConfigKey* entry : pvx::keys::kAll) {
        if (entry->count > 1)
            continue;
        std::string value = entry->type == pvx::EConfigType::Address ? "" : entry->defaultValue;
        if (auto it = sampleValues.find(entry); it != sampleValues.end())
            value = it->second;
        keys.push_back({entry->section, entry->key, value});
    }
    return keys;
}

const std::vector<SExpectedKey> kPvxKeys = PvxKeys();

} // namespace

TEST_F(SampleFilesTest, PvxIniHoldsEveryKeyWithItsDefault)
{
    const std::string file = SampleDir() + "/pvx.ini";
    ASSERT_TRUE(fs::exists(file)) << file;
    CINIFile ini(file);
    for (const auto& expected : kPvxKeys)
        EXPECT_EQ(ini.GetString(expected.section, expected.key, "<absent>"), expected.value)
            << expected.section << "/" << expected.key;

    // Numbers as the service reads them, so that a value such as "161 "
    // or "0x10" cannot pass as text and fail as a number.
    for (const auto& expected : kPvxKeys) {
        std::string text = expected.value;
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
            continue;
        EXPECT_EQ(ini.GetUInt(expected.section, expected.key, 99999), std::stoul(text))
            << expected.section << "/" << expected.key;
    }

    // No key the service does not know (a misspelt key is silently ignored).
    std::vector<std::string> stray;
    auto keys = KeyLines(Lines(ReadText(file)), stray);
    std::set<std::pair<std::string, std::string>> known;
    for (const auto& expected : kPvxKeys)
        known.emplace(expected.section, expected.key);
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto& key : keys) {
        EXPECT_TRUE(known.contains({key.section, key.key})) << "unknown key " << key.section << "/" << key.key;
        EXPECT_TRUE(seen.emplace(key.section, key.key).second) << "twice: " << key.section << "/" << key.key;
    }
}

TEST_F(SampleFilesTest, EveryKeyLineIsTheOneTheReaderFinds)
{
    for (const char* name : {"pvx.ini", "DummyUPS.ini"}) {
        SCOPED_TRACE(name);
        ExpectEveryLineIsRead(SampleDir() + "/" + name);
    }
}

TEST_F(SampleFilesTest, LinesFitTheReadersPieces)
{
    // The reader takes a line 255 characters at a time; the rest of a longer
    // comment would be read as a line of its own.
    for (const char* name : {"pvx.ini", "DummyUPS.ini"}) {
        const std::string text = ReadText(SampleDir() + "/" + name);
        EXPECT_EQ(text.find('\r'), std::string::npos) << name << " has a carriage return";
        EXPECT_TRUE(text.ends_with('\n')) << name;
        for (const auto& line : Lines(text))
            EXPECT_LT(line.size(), 255u) << name << ": " << line.substr(0, 40);
    }
}

TEST_F(SampleFilesTest, PvxIniKeepsItsValuesWhenAManagerSetsTheIdentity)
{
    // A manager's set of the UPS's name or attached devices rewrites the file:
    // blank lines go, comments stay, and every other key must read as before.
    const std::string copy = (m_folder / "pvx.ini").string();
    fs::copy_file(SampleDir() + "/pvx.ini", copy);
    const std::string before = ReadText(copy);
    const auto commentsBefore = std::count(before.begin(), before.end(), '#');
    CINIFile ini(copy);
    ini.WriteString("UPSIdent", "Name", "Rack 4 UPS");
    ini.WriteString("UPSIdent", "AttachedDevices", "two servers");
    ini.WriteString("UPSIdent", "Name", "Rack 5 UPS");

    std::map<std::string, std::string> changed = {{"UPSIdent/Name", "Rack 5 UPS"},
                                                  {"UPSIdent/AttachedDevices", "two servers"}};
    for (const auto& expected : kPvxKeys) {
        std::string id = expected.section + "/" + expected.key;
        std::string want = changed.contains(id) ? changed[id] : expected.value;
        EXPECT_EQ(ini.GetString(expected.section, expected.key, "<absent>"), want) << id;
    }
    const std::string after = ReadText(copy);
    EXPECT_EQ(std::count(after.begin(), after.end(), '#'), commentsBefore);
    EXPECT_EQ(after.find("Name=Rack 4 UPS"), std::string::npos) << "the name was added twice";
}

TEST_F(SampleFilesTest, DummyUpsIniGivesEveryValueItsSixLimits)
{
    // The simulated UPS reads the six keys of each value from that value's
    // section; one left out would be taken from the next section's line.
    const std::string file = SampleDir() + "/DummyUPS.ini";
    std::vector<std::string> stray;
    auto keys = KeyLines(Lines(ReadText(file)), stray);
    std::map<std::string, std::set<std::string>> sections;
    for (const auto& key : keys)
        sections[key.section].insert(key.key);
    const std::set<std::string> limits = {"Min", "Max", "MinAlarm", "MaxAlarm", "CurrentValue", "Step"};
    for (const char* section :
         {"InputVoltage", "OutputVoltage", "OutputPercentLoad", "ChargeRemaining", "BackupMinutesRemain"})
        EXPECT_EQ(sections[section], limits) << section;
    EXPECT_EQ(sections["Main"], std::set<std::string>{"CyclesPerUpdate"});
    EXPECT_GE(CINIFile(file).GetInt("Main", "CyclesPerUpdate", -1), 0) << "the sample's values should move";
}
