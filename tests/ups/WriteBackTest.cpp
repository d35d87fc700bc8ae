// A manager's SET of upsIdentName written back to the configuration file
// where that file is not a plain file in a writable folder: behind a symbolic
// link, bind-mounted, unreadable, on a full file system. Each case checks
// the SET's answer, the model's value and the file byte for byte. Mounts are
// made in a mount namespace of this test process's own.
#include "tests/ups/TestUPS.h"

#include "config/INIFile.h"
#include "platform/Portability.h"
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <linux/capability.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pvx::test {
namespace {

constexpr char kBefore[] = "[UPSIdent]\nName=old\nAttachedDevices=old devices\n[Other]\nKey=after\n";
constexpr char kUpsIdentName[] = "1.3.6.1.2.1.33.1.1.5.0";

// Without these capabilities root is held to a file's permission bits like
// anyone else, so that an unreadable file is unreadable to this test too.
class CWithoutFileOverride {
public:
    CWithoutFileOverride()
    {
        m_ok = Caps(false, m_saved) && Set(m_saved, ~(Bit(CAP_DAC_OVERRIDE) | Bit(CAP_DAC_READ_SEARCH)));
    }
    ~CWithoutFileOverride()
    {
        if (m_ok)
            Set(m_saved, ~0u);
    }
    bool Ok() const { return m_ok; }

private:
    using Data = __user_cap_data_struct[2];
    static unsigned Bit(int cap) { return 1u << cap; }
    static bool Caps(bool set, Data& data)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
    }
    static bool Set(const Data& saved, unsigned mask)
    {
        Data data;
        std::memcpy(data, saved, sizeof data);
        data[0].effective &= mask;
        return Caps(true, data);
    }
    Data m_saved{};
    bool m_ok = false;
};

struct SWriteBackCase {
    const char* name;
    bool needsMounts;
    bool withoutOverride; // root held to the permission bits
    // Prepares <folder> and returns the file that should change (or not).
    std::function<std::string(const std::string& folder)> prepare;
    std::string value;
    bool succeeds;
    std::string after; // the file's bytes after the SET; kBefore when it fails
    std::set<std::string> entries; // what <folder> holds afterwards
};

std::string Prepared(const std::string& path, mode_t mode = 0644)
{
    WriteTextFile(path, kBefore);
    ::chmod(path.c_str(), mode);
    return path;
}

bool Mount(const std::string& source, const std::string& target, const char* type, unsigned long flags,
           const char* options = nullptr)
{
    return ::mount(source.c_str(), target.c_str(), type, flags, options) == 0;
}

std::string BindMounted(const std::string& folder, bool readOnly)
{
    fs::create_directory(folder + "/volume");
    std::string volume = Prepared(folder + "/volume/pvx.ini");
    WriteTextFile(folder + "/pvx.ini", "");
    EXPECT_TRUE(Mount(volume, folder + "/pvx.ini", nullptr, MS_BIND)) << std::strerror(errno);
    if (readOnly) {
        EXPECT_TRUE(Mount("", folder + "/pvx.ini", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY)) << std::strerror(errno);
    }
    return volume;
}

std::set<std::string> Entries(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(WriteBack, IdentNameReachesTheFileOrFailsWithGenErrLeavingItAsItWas)
{
    const bool mounts = EnterPrivateMountNamespace();
    if (!mounts)
        std::printf("note: no private mount namespace here (%s); the bind-mount and full-disk cases are skipped\n",
                    std::strerror(errno));
    const std::string afterNew = "[UPSIdent]\nName=new name\nAttachedDevices=old devices\n[Other]\nKey=after\n";
    const std::vector<SWriteBackCase> cases = {
        {"plain file, a leftover of a killed write is cleared", false, false,
         [](const std::string& f) {
             WriteTextFile(f + "/pvx.ini.pvx-new", "half");
             return Prepared(f + "/pvx.ini");
         },
         "new name", true, afterNew, {"pvx.ini"}},
        {"through a symbolic link: the target changes, the link stays", false, false,
         [](const std::string& f) {
             fs::create_directory(f + "/etc");
             std::string real = Prepared(f + "/etc/pvx.ini", 0640);
             EXPECT_EQ(::chown(real.c_str(), 4321, 4321), 0);
             fs::create_symlink("etc/pvx.ini", f + "/pvx.ini");
             return real;
         },
         "new name", true, afterNew, {"etc", "pvx.ini"}},
        {"bind-mounted file: rewritten in place", true, false, [](const std::string& f) { return BindMounted(f, false); },
         "new name", true, afterNew, {"pvx.ini", "volume"}},
        {"bind-mounted file, shorter text: padded with blank lines", true, false,
         [](const std::string& f) { return BindMounted(f, false); }, "x", true,
         "[UPSIdent]\nName=x\nAttachedDevices=old devices\n[Other]\nKey=after\n\n\n", {"pvx.ini", "volume"}},
        {"read-only bind-mounted file", true, false, [](const std::string& f) { return BindMounted(f, true); }, "new name",
         false, kBefore, {"pvx.ini", "volume"}},
        {"file that cannot be read", false, true, [](const std::string& f) { return Prepared(f + "/pvx.ini", 0200); },
         "new name", false, kBefore, {"pvx.ini"}},
        {"full file system", true, false,
         [](const std::string& f) {
             EXPECT_TRUE(Mount("tmpfs", f, "tmpfs", 0, "size=16k")) << std::strerror(errno);
             std::string path = Prepared(f + "/pvx.ini");
             fs::create_directory(f + "/fill");
             std::string filler(4096, 'f');
             for (int i = 0; i < 64; ++i) // bounded: 16k needs at most four
                 if (!pvx::ReplaceFileContents(f + "/fill/" + std::to_string(i), filler))
                     break;
             return path;
         },
         "new name", false, kBefore, {"fill", "pvx.ini"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsMounts && !mounts)
            continue;
        CTempDir folder;
        std::string file = c.prepare(folder.Path());
        CINIFile configuration(folder.File("pvx.ini"));
        CTestUPS ups(&configuration);
        const std::string nameBefore = ups.m_upsName;
        std::uint32_t code;
        {
            std::optional<CWithoutFileOverride> asAnyone;
            if (c.withoutOverride) {
                ASSERT_TRUE(asAnyone.emplace().Ok());
            }
            CMIBData value(c.value, 255, MIB_TEXT);
            value.SetName(Name(kUpsIdentName));
            code = CodeOf([&] { ups.SetMIBData(value); });
        }
        if (c.succeeds) {
            EXPECT_EQ(code, 0u);
            EXPECT_EQ(ups.m_upsName, c.value);
        } else {
            // A system error number: the agent answers every code but its
            // three named ones with genErr.
            EXPECT_TRUE(code > 0 && code < 0x10000) << std::hex << code;
            EXPECT_EQ(ups.m_upsName, nameBefore) << "the model keeps its value";
        }
        EXPECT_EQ(ReadFile(file), c.after);
        struct stat info{};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(Entries(folder.Path()), c.entries);
        if (std::string(c.name).find("symbolic") != std::string::npos) {
            EXPECT_TRUE(fs::is_symlink(folder.File("pvx.ini")));
            EXPECT_EQ(info.st_uid, 4321u);
            EXPECT_EQ(info.st_mode & 0777, 0640u);
        }
        if (c.needsMounts) {
            ::umount2(folder.File("pvx.ini").c_str(), MNT_DETACH);
            ::umount2(folder.Path().c_str(), MNT_DETACH);
        }
    }
}

} // namespace
} // namespace pvx::test
