// The configuration file's scanning rules, with real files in a temporary folder.
#include "config/INIFile.h"
#include "config/ConfigKeys.h"
#include "events/PVXException.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <arpa/inet.h>
#include <unistd.h>

namespace fs = std::filesystem;
using pvx::CINIFile;

namespace {

class INIFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("pvx-ini-" + std::to_string(::getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
        m_path = (m_folder / "pvx.ini").string();
    }
    void TearDown() override
    {
        fs::permissions(m_folder, fs::perms::owner_all);
        fs::remove_all(m_folder);
    }

    void Write(const std::string& contents) { std::ofstream(m_path, std::ios::binary) << contents; }
    std::string Read() const
    {
        std::ifstream in(m_path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path m_folder;
    std::string m_path;
};

} // namespace

TEST_F(INIFileTest, ReadingFollowsTheScanningRules)
{
    struct Case {
        const char* name;
        std::string contents;
        std::string section, key;
        std::string expected;
    };
    const std::string kDefault = "<default>";
    const std::vector<Case> cases = {
        {"names compare without case, blanks before =", "[snmp]\nenabled = 1\n", "SNMP", "Enabled", " 1"},
        {"blank before [ is no header", " [SNMP]\nEnabled=1\n", "SNMP", "Enabled", kDefault},
        {"blanks inside brackets are no header", "[ SNMP ]\nEnabled=1\n", "SNMP", "Enabled", kDefault},
        {"text after ] is ignored", "[SNMP] comment\nEnabled=3\n", "SNMP", "Enabled", "3"},
        {"key found past the next header", "[SNMP]\nEnabled=1\n[NetXCP]\nAgentPort=7010\n", "SNMP",
         "AgentPort", "7010"},
        {"a newer section's key stays in it", "[Notify]\nLogEvents=1\n[Shutdown]\nCommand=poweroff\n", "Notify",
         "Command", kDefault},
        {"nor does a search run into it", "[HTTP]\nPort=8080\n[Shutdown]\nEnabled=1\n", "HTTP", "Enabled",
         kDefault},
        {"a newer section's own key is read", "[shutdown]\nEnabled=1\n[NUT]\nEnabled=0\n", "Shutdown", "Enabled",
         "1"},
        {"a key prefix swallows the next line", "[SNMP]\nAgent\nAgentPort=200\nAgentPort=300\n", "SNMP",
         "AgentPort", "300"},
        {"carriage return stays in the value", "[Communications]\r\nCommunicationsPort=/dev/ttyS1\r\n",
         "Communications", "CommunicationsPort", "/dev/ttyS1\r"},
        {"nothing after = is an empty value", "[UPSIdent]\nName=\n", "UPSIdent", "Name", ""},
        {"= as the last character keeps the default", "[UPSIdent]\nName=", "UPSIdent", "Name", kDefault},
        {"blanks after = belong to the value", "[UPSIdent]\nName=  Rack 4\n", "UPSIdent", "Name", "  Rack 4"},
        {"no final newline", "[UPSIdent]\nName=last", "UPSIdent", "Name", "last"},
        {"missing section", "[Other]\nName=x\n", "UPSIdent", "Name", kDefault},
        {"empty file", "", "UPSIdent", "Name", kDefault},
        {"binary bytes", std::string("\0\xff[\x01]\n\n=\n", 9) + "[UPSIdent]\nName=ok\n", "UPSIdent", "Name",
         "ok"},
        {"key with a longer name is not the key", "[UPSIdent]\nNames=x\nName=y\n", "UPSIdent", "Name", "y"},
        {"blanks before a key are not skipped", "[UPSIdent]\n  Name=x\n", "UPSIdent", "Name", kDefault},
        {"value cut at 255 characters", "[UPSIdent]\nName=" + std::string(300, 'a') + "\n", "UPSIdent", "Name",
         std::string(255, 'a')},
        {"line of 300 characters is passed over in pieces", "[UPSIdent]\nX=" + std::string(300, 'b') + "\nName=z\n",
         "UPSIdent", "Name", "z"},
    };
    for (const auto& c : cases) {
        Write(c.contents);
        EXPECT_EQ(CINIFile(m_path).GetString(c.section, c.key, kDefault), c.expected) << c.name;
    }
}

TEST_F(INIFileTest, NumbersReadLikeFormattedInput)
{
    struct Case {
        const char* value;
        int asInt;
        unsigned asUInt;
    };
    const std::vector<Case> cases = {
        {"9600baud", 9600, 9600},
        {"-1", -1, 4294967295u},
        {"  42", 42, 42},
        {"abc", 7, 7},
        {"", 7, 7},
        {"99999999999999999999", 2147483647, 4294967295u},
        {"-99999999999999999999", -2147483648, 4294967295u},
        {"4294967296", 2147483647, 4294967295u},
        {"+5", 5, 5},
    };
    for (const auto& c : cases) {
        Write(std::string("[SNMP]\nAgentPort=") + c.value + "\n");
        CINIFile file(m_path);
        EXPECT_EQ(file.GetInt("SNMP", "AgentPort", 7), c.asInt) << c.value;
        EXPECT_EQ(file.GetUInt("SNMP", "AgentPort", 7), c.asUInt) << c.value;
    }
}

TEST_F(INIFileTest, NumberOnTheNextLineIsRead)
{
    Write("[SNMP]\nAgentPort=\n161\n");
    EXPECT_EQ(CINIFile(m_path).GetUInt("SNMP", "AgentPort", 7), 161u);
}

TEST_F(INIFileTest, ConstructionTouchesNothingAndMissingFileGivesDefaults)
{
    CINIFile file(m_path);
    EXPECT_FALSE(fs::exists(m_path));
    EXPECT_EQ(file.GetString("UPSIdent", "Name", "d"), "d");
    EXPECT_EQ(file.GetUInt("SNMP", "AgentPort", 161), 161u);
    EXPECT_FALSE(fs::exists(m_path));
}

// A file pvx may read but not write is read; one that exists but cannot be
// read at all is refused at start-up rather than served as every default.
TEST_F(INIFileTest, ReadOnlyFileIsReadAndAnUnreadableOneIsRefused)
{
    enum class EFile { Missing, Plain, Immutable, Folder };
    struct SCase {
        const char* name;
        EFile file;
        const char* enabled; // SNMP/Enabled as read
        bool refused;
    };
    const SCase cases[] = {
        { "missing", EFile::Missing, "d", false },
        { "plain", EFile::Plain, "1", false },
        { "readable, not writable", EFile::Immutable, "1", false },
        { "a folder in its place", EFile::Folder, "d", true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_path);
        if (c.file == EFile::Plain || c.file == EFile::Immutable)
            Write("[snmp]\nenabled=1\n");
        bool immutable = false;
        if (c.file == EFile::Immutable) {
            // Root may write any file the permission bits forbid, but not
            // an immutable one; others are held by the bits.
            ::chmod(m_path.c_str(), 0444);
            int fd = ::open(m_path.c_str(), O_RDONLY);
            int flags = 0;
            immutable = ::geteuid() == 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0
                && (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
            ::close(fd);
            if (::geteuid() == 0 && !immutable)
                std::printf("note: no immutable files here; the read-only case reads a writable file\n");
        }
        if (c.file == EFile::Folder)
            fs::create_directory(m_path);
        CINIFile file(m_path);
        EXPECT_EQ(file.GetString("SNMP", "Enabled", "d"), c.enabled);
        std::uint32_t code = 0;
        std::string named;
        try {
            file.RequireReadable();
        } catch (const pvx::CPVXException& e) {
            code = e.GetCode();
            named = e.GetDetail();
        }
        EXPECT_EQ(code, c.refused ? pvx::EVENT_CONFIG_UNREADABLE : 0u);
        EXPECT_EQ(named, c.refused ? m_path : "");
        if (c.file == EFile::Immutable && (immutable || ::geteuid() != 0)) {
            EXPECT_FALSE(file.WriteString("UPSIdent", "Name", "x")) << "writing still needs write access";
            EXPECT_EQ(Read(), "[snmp]\nenabled=1\n");
        }
        if (immutable) {
            int fd = ::open(m_path.c_str(), O_RDONLY);
            int flags = 0;
            ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            ::close(fd);
        }
    }
}

TEST_F(INIFileTest, WritingReplacesOrAddsTheKey)
{
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"replaces the key in place", "[UPSIdent]\nName=old\nAttachedDevices=a\n",
         "[UPSIdent]\nName=new\nAttachedDevices=a\n"},
        {"keeps the caller's spelling", "[upsident]\nNAME=old\n", "[upsident]\nName=new\n"},
        {"adds before the next section", "[UPSIdent]\nAttachedDevices=a\n[SNMP]\nEnabled=1\n",
         "[UPSIdent]\nAttachedDevices=a\nName=new\n[SNMP]\nEnabled=1\n"},
        {"adds at the end of the last section", "[SNMP]\nEnabled=1\n[UPSIdent]\nAttachedDevices=a\n",
         "[SNMP]\nEnabled=1\n[UPSIdent]\nAttachedDevices=a\nName=new\n"},
        {"appends a missing section", "[SNMP]\nEnabled=1\n", "[SNMP]\nEnabled=1\n[UPSIdent]\nName=new\n"},
        {"drops blank lines everywhere", "\n[SNMP]\n\nEnabled=1\n\n[UPSIdent]\n\nName=old\n\n",
         "[SNMP]\nEnabled=1\n[UPSIdent]\nName=new\n"},
        {"blanks before = are not the key", "[UPSIdent]\nName = old\n", "[UPSIdent]\nName = old\nName=new\n"},
        {"last line without newline stays whole", "[UPSIdent]\nAttachedDevices=a",
         "[UPSIdent]\nAttachedDevices=a\nName=new\n"},
        {"unknown keys are kept", "[UPSIdent]\nColour=red\nName=old\n", "[UPSIdent]\nColour=red\nName=new\n"},
        {"empty file", "", "[UPSIdent]\nName=new\n"},
    };
    for (const auto& c : cases) {
        Write(c.before);
        CINIFile(m_path).WriteString("UPSIdent", "Name", "new");
        EXPECT_EQ(Read(), c.after) << c.name;
    }
}

TEST_F(INIFileTest, LongLinesSurviveARewrite)
{
    std::string exact(255, 'x');
    Write("[NetXCP]\nNote=" + exact.substr(5) + "\nAgentPort=7010\n[UPSIdent]\nName=a\n");
    CINIFile file(m_path);
    file.WriteString("UPSIdent", "Name", "b");
    EXPECT_EQ(Read(), "[NetXCP]\nNote=" + exact.substr(5) + "\nAgentPort=7010\n[UPSIdent]\nName=b\n");
    EXPECT_EQ(file.GetUInt("NetXCP", "AgentPort", 1), 7010u);
}

TEST_F(INIFileTest, WriteCreatesAMissingFileAndKeepsTheMode)
{
    CINIFile file(m_path);
    file.WriteInt("Communications", "CommunicationsBaudRateLast", 19200);
    EXPECT_EQ(Read(), "[Communications]\nCommunicationsBaudRateLast=19200\n");
    ::chmod(m_path.c_str(), 0600);
    file.WriteString("UPSIdent", "Name", "x");
    struct stat info{};
    ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(file.GetInt("Communications", "CommunicationsBaudRateLast", 0), 19200);
}

TEST_F(INIFileTest, FailedWriteLeavesTheFileAsItWas)
{
    Write("[UPSIdent]\nName=old\n");
    if (::geteuid() == 0) {
        // Root may write any ordinary file: make the path a folder instead, which no rename replaces.
        fs::remove(m_path);
        fs::create_directory(m_path);
        fs::create_directory(m_path + "/keep");
        CINIFile(m_path).WriteString("UPSIdent", "Name", "new");
        EXPECT_TRUE(fs::is_directory(m_path + "/keep"));
        EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
        return;
    }
    ::chmod(m_path.c_str(), 0444);
    CINIFile(m_path).WriteString("UPSIdent", "Name", "new");
    EXPECT_EQ(Read(), "[UPSIdent]\nName=old\n");
}

TEST_F(INIFileTest, WriteLeavesNoTemporaryFilesBehind)
{
    Write("[UPSIdent]\nName=old\n");
    CINIFile(m_path).WriteString("UPSIdent", "Name", "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(INIFileTest, AddressKeys)
{
    // A dotted address is used as written, reverse entry or not; a name is
    // looked up, and one that does not resolve stops pvx naming the key.
    Write("[SNMP]\nTrapHost=127.0.0.1\n[Network]\nSourceAddress=\n[X]\nA=localhost\nB=300.1.1.1\n"
          "C=192.0.2.77\nD=no-such-host.invalid\n");
    CINIFile file(m_path);
    const std::uint32_t kLoopback = htonl(0x7F000001);
    EXPECT_EQ(pvx::ReadAddressKey(file, "SNMP", "TrapHost", 0), kLoopback);
    EXPECT_EQ(pvx::ReadAddressKey(file, "Network", "SourceAddress", 5), 5u);
    EXPECT_EQ(pvx::ReadAddressKey(file, "X", "A", 0), kLoopback);
    EXPECT_EQ(pvx::ReadAddressKey(file, "X", "C", 0), htonl(0xC000024D));
    for (const char* key : {"B", "D"}) {
        try {
            pvx::ReadAddressKey(file, "X", key, 9);
            ADD_FAILURE() << key << " resolved";
        } catch (const pvx::CPVXException& e) {
            EXPECT_EQ(e.GetCode(), pvx::EVENT_ADDRESS_UNRESOLVED);
            EXPECT_EQ(e.GetDetail().substr(0, 4), std::string("X/") + key + ":");
        }
    }
}

// SNMPv3 user lines may be longer than other lines: two stored SHA-256 keys
// alone take more than 255 characters. Every other key keeps the usual cut.
TEST_F(INIFileTest, UserLinesAreReadWholeAndOtherLinesStillCut)
{
    const std::string user(400, 'u');
    Write("[SNMPv3]\nUser1=" + user + "\nUser2=short\n[UPSIdent]\nName=" + user + "\n");
    CINIFile file(m_path);
    EXPECT_EQ(pvx::ReadString(file, pvx::keys::kSNMPv3User, 0), user);
    EXPECT_EQ(pvx::ReadString(file, pvx::keys::kSNMPv3User, 1), "short");
    EXPECT_EQ(pvx::ReadString(file, pvx::keys::kUPSName, 0), std::string(255, 'u'));
}
