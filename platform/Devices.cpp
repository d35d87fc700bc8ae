// Wrappers over the system calls for the serial device and for waiting on
// descriptors (devices and sockets alike).
#include "platform/Portability.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace pvx {

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

// ---- Waits on several descriptors ------------------------------------------------

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

} // namespace pvx
