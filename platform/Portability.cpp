// Wrappers over the system calls that pvx uses. Nothing here keeps state but
// the deadline.
#include "platform/Portability.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
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

bool WriteAll(int fd, const std::string& contents)
{
    std::size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
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

bool PwriteAll(int fd, const std::string& contents)
{
    std::size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = ::pwrite(fd, contents.data() + done, contents.size() - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
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
    if (PwriteAll(fd.Get(), padded) && ::fsync(fd.Get()) == 0)
        return true;
    int error = errno;
    if (PwriteAll(fd.Get(), old))
        (void)::ftruncate(fd.Get(), static_cast<off_t>(old.size()));
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

void PrintLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// ---- Devices ----------------------------------------------------------------

CUniqueFd OpenDevice(const std::string& path)
{
    CUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return fd;
    int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) < 0)
        return CUniqueFd();
    return fd;
}

void CloseDevice(CUniqueFd& fd) { fd.Reset(); }

namespace {

// poll() on `entries` for at most `ms`, resumed when a signal interrupts it.
int PollEntries(std::span<pollfd> entries, std::uint32_t ms)
{
    int timeout = ms > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(ms);
    int n;
    do {
        n = ::poll(entries.data(), entries.size(), timeout);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool IsReadable(const pollfd& entry) { return (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0; }

} // namespace

int WaitReadable(int fd, std::uint32_t ms)
{
    pollfd entry{fd, POLLIN, 0};
    int n = PollEntries({&entry, 1}, ms);
    if (n > 0 && !IsReadable(entry))
        return 0;
    return n;
}

bool ReadDevice(int fd, std::span<std::uint8_t> buffer, std::size_t& n)
{
    n = 0;
    while (n < buffer.size()) {
        if (WaitReadable(fd, 0) <= 0)
            return true;
        ssize_t got = ::read(fd, buffer.data() + n, buffer.size() - n);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            // A pseudo-terminal whose other side is closed reports EIO: that
            // is a hung-up line, which reads as silence.
            if (errno == EIO)
                return true;
            return false;
        }
        if (got == 0)
            return true; // hung up: readable for ever, but nothing comes
        n += static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteDevice(int fd, std::span<const std::uint8_t> bytes, std::size_t& n)
{
    n = 0;
    ssize_t done;
    do {
        done = ::write(fd, bytes.data(), bytes.size());
    } while (done < 0 && errno == EINTR);
    if (done < 0)
        return false;
    n = static_cast<std::size_t>(done);
    return true;
}

namespace {

struct SSpeed {
    int baud;
    speed_t constant;
};

constexpr SSpeed kSpeeds[] = {
    {50, B50},       {75, B75},       {110, B110},     {134, B134},     {150, B150},
    {200, B200},     {300, B300},     {600, B600},     {1200, B1200},   {1800, B1800},
    {2400, B2400},   {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
};

speed_t SpeedConstant(int speed)
{
    for (const auto& entry : kSpeeds)
        if (entry.baud == speed)
            return entry.constant;
    return B9600;
}

} // namespace

bool IsKnownSpeed(int speed)
{
    for (const auto& entry : kSpeeds)
        if (entry.baud == speed)
            return true;
    return false;
}

int EffectiveSpeed(int speed) { return IsKnownSpeed(speed) ? speed : 9600; }

bool ReadLineSpeed(int fd, int& speed, bool& twoStopBits)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    twoStopBits = (settings.c_cflag & CSTOPB) != 0;
    speed_t constant = ::cfgetospeed(&settings);
    for (const auto& entry : kSpeeds)
        if (entry.constant == constant) {
            speed = entry.baud;
            return true;
        }
    return false;
}

bool SetLineAttributes(int fd, int speed, int dataBits, int parityCode, int stopBitCode)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    tcflag_t control = CLOCAL | CREAD;
    switch (dataBits) {
    case 5: control |= CS5; break;
    case 6: control |= CS6; break;
    case 7: control |= CS7; break;
    default: control |= CS8; break;
    }
    switch (parityCode) {
    case 0: control |= PARENB; break;
    case 1:
        control |= PARENB;
        settings.c_iflag |= PARMRK | INPCK;
        break;
    case 3: control |= PARENB | PARODD; break;
    default: break;
    }
    if (stopBitCode == 2)
        control |= CSTOPB;
    settings.c_cflag = control;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    speed_t constant = SpeedConstant(speed);
    if (::cfsetispeed(&settings, constant) != 0 || ::cfsetospeed(&settings, constant) != 0)
        return false;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool GetModemBits(int fd, int& bits) { return ::ioctl(fd, TIOCMGET, &bits) == 0; }
bool SetModemBits(int fd, int bits) { return ::ioctl(fd, TIOCMSET, &bits) == 0; }

// ---- Network ----------------------------------------------------------------

bool NetworkStartup() { return true; }
void NetworkCleanup() {}

bool GetHostName(std::string& name)
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return false;
    name = buffer;
    return true;
}

bool ResolveHost(const std::string& text, std::uint32_t& address)
{
    if (text.empty())
        return false;
    unsigned char first = static_cast<unsigned char>(text[0]);
    if ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
            return false;
        address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        ::freeaddrinfo(found);
        return true;
    }
    in_addr parsed{};
    if (::inet_aton(text.c_str(), &parsed) == 0)
        return false;
    // A dotted address counts only when the reverse lookup knows it.
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = parsed;
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&peer), sizeof peer, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return false;
    address = parsed.s_addr;
    return true;
}

CUniqueFd CreateSocket(int familyCode, int typeCode, int protocolCode)
{
    int family = familyCode == 2 ? AF_INET : -1;
    int type = typeCode == 0 ? SOCK_STREAM : typeCode == 1 ? SOCK_DGRAM : -1;
    int protocol = protocolCode == 0 ? 0 : -1;
    if (family < 0 || type < 0 || protocol < 0)
        return CUniqueFd();
    return CUniqueFd(::socket(family, type | SOCK_CLOEXEC, protocol));
}

void CloseSocket(CUniqueFd& socket) { socket.Reset(); }

bool BindSocket(int socket, std::uint16_t port, std::uint32_t address)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    return ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

bool SetSocketBlocking(int socket, bool blocking)
{
    int nonBlocking = blocking ? 0 : 1;
    return ::ioctl(socket, FIONBIO, &nonBlocking) == 0;
}

bool GetSocketAddress(int socket, std::uint32_t& address, std::uint16_t& port)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return false;
    address = local.sin_addr.s_addr;
    port = ntohs(local.sin_port);
    return true;
}

bool ReceiveFrom(int socket, SDatagram& datagram)
{
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    ssize_t n;
    do {
        n = ::recvfrom(socket, datagram.data.data(), datagram.data.size(), MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&peer), &size);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false;
    // MSG_TRUNC reports the full size; longer datagrams are cut.
    datagram.length = static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(n), kDatagramSize));
    datagram.address = peer.sin_addr.s_addr;
    datagram.port = ntohs(peer.sin_port);
    return true;
}

bool SendTo(int socket, const SDatagram& datagram)
{
    if (datagram.length > kDatagramSize)
        return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(datagram.port);
    peer.sin_addr.s_addr = datagram.address;
    ssize_t n;
    do {
        n = ::sendto(socket, datagram.data.data(), datagram.length, 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    } while (n < 0 && errno == EINTR);
    return n >= 0 && static_cast<std::size_t>(n) == datagram.length;
}

int WaitReadable(std::span<const int> fds, std::uint32_t ms, std::vector<int>& ready)
{
    ready.clear();
    std::vector<pollfd> entries;
    entries.reserve(fds.size());
    for (int fd : fds)
        entries.push_back({fd, POLLIN, 0});
    int n = PollEntries(entries, ms);
    if (n <= 0)
        return n;
    for (const auto& entry : entries)
        if (IsReadable(entry))
            ready.push_back(entry.fd);
    return static_cast<int>(ready.size());
}

int WaitReadablePair(int first, int second, std::uint32_t ms)
{
    const int fds[] = {first, second};
    return WaitReadableMask(fds, ms);
}

int WaitReadableMask(std::span<const int> fds, std::uint32_t ms)
{
    std::array<pollfd, kMaxWaitDescriptors> entries{};
    const std::size_t count = std::min(fds.size(), entries.size());
    for (std::size_t i = 0; i < count; ++i)
        entries[i] = {fds[i], POLLIN, 0};
    int n = PollEntries(std::span(entries).first(count), ms);
    if (n <= 0)
        return n;
    int mask = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (entries[i].fd >= 0 && IsReadable(entries[i]))
            mask |= 1 << i;
    return mask;
}

// ---- Arithmetic ---------------------------------------------------------------

long double Power(long double x, long double y) { return std::pow(x, y); }

} // namespace pvx

namespace pvx {

bool Daemonize() { return ::daemon(1, 0) == 0; }

} // namespace pvx
