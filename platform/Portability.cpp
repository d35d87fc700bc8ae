// Wrappers over the system calls that pvx uses: time, files and the process.
// Devices and waits are in Devices.cpp, sockets in Sockets.cpp. Nothing here
// keeps state but the deadline.
#include "platform/Portability.h"

#include <ctime>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pvx {

void CUniqueFd::Reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd); // never retried: the descriptor is gone either way
    m_fd = fd;
}

// ---- Time -----------------------------------------------------------------

namespace {
std::uint64_t g_deadline = 0;
}

std::uint32_t GetMilliseconds() { return CurrentClock().WallMilliseconds(); }
std::time_t GetWallSeconds() { return CurrentClock().WallSeconds(); }

bool GetLocalTime(std::time_t seconds, std::tm& result)
{
    result = std::tm {};
    if (::localtime_r(&seconds, &result) != nullptr)
        return true;
    result = std::tm {};
    return false;
}
void Sleep(std::uint32_t ms) { CurrentClock().SleepMilliseconds(ms); }

std::uint64_t GetMonotonicMilliseconds() { return CurrentClock().MonotonicMilliseconds(); }

namespace {
// Read while the process starts, before main: the start of sysUpTime, on
// the real clock's monotonic scale (read here directly: the clock objects
// may not be constructed yet).
const std::uint64_t g_processStart = [] {
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}();
} // namespace

std::uint32_t GetUpTimeTicks()
{
    // A test's fake clock may read less than the real start: time 0 then.
    const std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    return static_cast<std::uint32_t>((now > g_processStart ? now - g_processStart : 0) / 10);
}

void SetDeadline(std::uint32_t ms) { g_deadline = CurrentClock().MonotonicMilliseconds() + ms; }

bool DeadlinePassed() { return CurrentClock().MonotonicMilliseconds() > g_deadline; }

std::uint32_t DeadlineRemaining()
{
    std::uint64_t now = CurrentClock().MonotonicMilliseconds();
    return now >= g_deadline ? 0 : static_cast<std::uint32_t>(g_deadline - now);
}

int GetLastError() { return errno; }

// ---- Files ------------------------------------------------------------------

namespace {

// Writes all of `contents`: at the descriptor's offset, or with `fromStart`
// over the file's first bytes whatever its offset.
bool WriteAll(int fd, const std::string& contents, bool fromStart = false)
{
    std::size_t done = 0;
    while (done < contents.size()) {
        const char* from = contents.data() + done;
        const std::size_t size = contents.size() - done;
        ssize_t n = fromStart ? ::pwrite(fd, from, size, static_cast<off_t>(done)) : ::write(fd, from, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool ReadFileBounded(const std::string& path, std::size_t maxBytes, bool requireWritable, std::string& contents)
{
    contents.clear();
    CUniqueFd fd(::open(path.c_str(), (requireWritable ? O_RDWR : O_RDONLY) | O_CLOEXEC));
    if (!fd)
        return false;
    struct stat info{};
    if (::fstat(fd.Get(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    char chunk[4096];
    while (contents.size() < maxBytes) {
        std::size_t want = std::min(sizeof chunk, maxBytes - contents.size());
        ssize_t n = ::read(fd.Get(), chunk, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        contents.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

namespace {

// A replacement is linked under this name beside the file just before it is
// renamed over it. Only a kill between those two steps can leave it behind;
// the next replacement, or the next start, removes it.
std::string ReplacementName(const std::string& target) { return target + ".pvx-new"; }

std::string FolderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once every symbolic link is followed; a missing file
// keeps its own name. False for a link that leads nowhere.
bool ResolveTarget(const std::string& path, std::string& target, bool& exists)
{
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
        exists = true;
        return true;
    }
    if (errno != ENOENT)
        return false;
    struct stat link{};
    if (::lstat(path.c_str(), &link) == 0) {
        errno = ENOENT;
        return false;
    }
    target = path;
    exists = false;
    return true;
}

bool ReadAllAt(int fd, std::size_t size, std::string& contents)
{
    contents.assign(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, contents.data() + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `contents` to a new file in `folder` with the mode and owner given
// and links it as `name`. The file stays unnamed (and so vanishes with the
// process) until it is complete. Returns 0 or the system error number.
int WriteReplacement(const std::string& folder, const std::string& name, const std::string& contents, mode_t mode,
                     const struct stat* owner)
{
    ::unlink(name.c_str()); // left by a kill after an earlier link
    CUniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    const bool unnamed = static_cast<bool>(fd);
    if (!unnamed) {
        // File systems without unnamed files: a named one, removed on failure.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
        fd.Reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd)
            return errno;
    }
    auto fail = [&](int error) {
        if (!unnamed)
            ::unlink(name.c_str());
        return error;
    };
    struct stat made{};
    if (::fstat(fd.Get(), &made) != 0)
        return fail(errno);
    if (owner && (made.st_uid != owner->st_uid || made.st_gid != owner->st_gid)
        && ::fchown(fd.Get(), owner->st_uid, owner->st_gid) != 0)
        return fail(errno);
    // A new file keeps what the umask left of 0644; a replacement, the old mode.
    if ((owner && ::fchmod(fd.Get(), mode) != 0) || !WriteAll(fd.Get(), contents) || ::fsync(fd.Get()) != 0)
        return fail(errno);
    if (unnamed) {
        std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return errno == ENOENT ? EPERM : errno; // no /proc: as if the folder refused
    }
    return 0;
}

// Why a replacement beside the file may fail while the file itself can still
// be written: the folder refuses new names (permissions, a read-only folder
// around a writable file), the file is a mount point (a bind-mounted file), or
// the owner cannot be kept. A full file system is none of these.
bool OnlyTheFolderRefused(int error)
{
    return error == EACCES || error == EPERM || error == EROFS || error == EBUSY || error == EXDEV;
}

// Rewrites the file through its own descriptor. The space for a longer text
// is reserved first, so the write cannot run out of room half-way; a shorter
// text is padded with line ends to the old length, so no truncation is
// needed. A write that fails all the same puts the old bytes back.
bool RewriteInPlace(const std::string& target, const std::string& contents)
{
    CUniqueFd fd(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    struct stat info{};
    if (!fd || ::fstat(fd.Get(), &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return false;
    }
    std::string old;
    if (!ReadAllAt(fd.Get(), static_cast<std::size_t>(info.st_size), old))
        return false;
    std::string padded = contents;
    if (padded.size() < old.size())
        padded.append(old.size() - padded.size(), '\n');
    if (padded.size() > old.size()
        && ::fallocate(fd.Get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(padded.size())) != 0)
        return false;
    if (WriteAll(fd.Get(), padded, true) && ::fsync(fd.Get()) == 0)
        return true;
    int error = errno;
    // Best effort: the old bytes are back; a failed truncation leaves only
    // the padding of line ends after them.
    if (WriteAll(fd.Get(), old, true) && ::ftruncate(fd.Get(), static_cast<off_t>(old.size())) != 0)
        errno = error;
    errno = error;
    return false;
}

void SyncFolder(const std::string& folder)
{
    CUniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        (void)::fsync(fd.Get());
}

} // namespace

bool ReplaceFileContents(const std::string& path, const std::string& contents)
{
    std::string target;
    bool exists = false;
    if (!ResolveTarget(path, target, exists))
        return false;
    struct stat info{};
    if (exists) {
        // A file that cannot be read is never replaced: its contents would be lost.
        CUniqueFd readable(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
        if (!readable || ::fstat(readable.Get(), &info) != 0)
            return false;
        if (!S_ISREG(info.st_mode)) {
            errno = EINVAL;
            return false;
        }
    }
    const std::string folder = FolderOf(target);
    const std::string name = ReplacementName(target);
    int error = WriteReplacement(folder, name, contents, exists ? (info.st_mode & 07777) : 0644, exists ? &info : nullptr);
    if (error == 0) {
        if (::rename(name.c_str(), target.c_str()) == 0) {
            SyncFolder(folder);
            return true;
        }
        error = errno;
        ::unlink(name.c_str());
    }
    if (!exists || !OnlyTheFolderRefused(error)) {
        errno = error;
        return false;
    }
    return RewriteInPlace(target, contents);
}

void DiscardStaleReplacement(const std::string& path)
{
    std::string target;
    bool exists = false;
    if (ResolveTarget(path, target, exists))
        ::unlink(ReplacementName(target).c_str());
}

bool IsMissingFile(const std::string& path)
{
    struct stat info{};
    return ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

bool WriteWholeFile(const std::string& path, const std::string& contents)
{
    CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    return fd && WriteAll(fd.Get(), contents);
}

namespace {
bool g_printLineJournalPrefix = false;
volatile std::sig_atomic_t g_hangup = 0;

void OnHangup(int) { g_hangup = 1; }
} // namespace

void PrintLine(const std::string& text)
{
    if (g_printLineJournalPrefix)
        std::fputs("<6>", stdout);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void SetPrintLineJournalPrefix(bool on) { g_printLineJournalPrefix = on; }

// ---- Arithmetic ---------------------------------------------------------------

long double Power(long double x, long double y) { return std::pow(x, y); }

} // namespace pvx

namespace pvx {

bool Daemonize() { return ::daemon(1, 0) == 0; }

std::string GetEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool IsJournalStream(int fd)
{
    // JOURNAL_STREAM is "<device>:<inode>" in decimal (systemd.exec(5)).
    std::string value = GetEnvironment("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    char end = 0;
    if (std::sscanf(value.c_str(), "%llu:%llu%c", &device, &inode, &end) != 2)
        return false;
    struct stat info{};
    return ::fstat(fd, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device
        && static_cast<unsigned long long>(info.st_ino) == inode;
}

void CatchHangup(bool on)
{
    struct sigaction action{};
    action.sa_handler = on ? OnHangup : SIG_DFL;
    ::sigemptyset(&action.sa_mask);
    // The loop looks at the flag once a pass; the platform's waits retry
    // what the signal interrupts.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);
}

bool TakeHangup()
{
    if (g_hangup == 0)
        return false;
    g_hangup = 0;
    return true;
}

} // namespace pvx
