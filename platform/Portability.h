// The portability layer: the only code in pvx that calls the operating system.
// Each operation is a thin wrapper; failures are told by the result (false,
// an empty descriptor, a negative count), never by an exception.
#pragma once

#include "platform/Clock.h"
#include "platform/IpAddress.h"
#include "platform/UniqueFd.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

namespace pvx {

// ---- Time -----------------------------------------------------------------

// Wall-clock milliseconds (seconds * 1000 + ms), 32 bits, wrapping. The model
// reports these readings; never compare them to measure a wait.
std::uint32_t GetMilliseconds();
std::time_t GetWallSeconds();
// Monotonic milliseconds from an arbitrary start, for measuring waits.
std::uint64_t GetMonotonicMilliseconds();
// Hundredths of a second since the process started (RFC 3418 sysUpTime): the
// clock of SNMP TimeStamps and of trap time-stamps. Wraps after 497 days.
std::uint32_t GetUpTimeTicks();
// Broken-down local time of `seconds`; false (and `result` zeroed) on failure.
bool GetLocalTime(std::time_t seconds, std::tm& result);
void Sleep(std::uint32_t ms);

// The process-wide deadline for timed serial exchanges. It runs on the
// monotonic clock, so wrapping and clock steps cannot stretch a wait.
void SetDeadline(std::uint32_t ms);
bool DeadlinePassed();
// Milliseconds left until the deadline (0 once it has passed).
std::uint32_t DeadlineRemaining();

int GetLastError();

// ---- Files ------------------------------------------------------------------

// Reads at most `maxBytes` of a file. With `requireWritable` the file must
// also be openable for writing (the configuration reader's "r+" rule).
bool ReadFileBounded(const std::string& path, std::size_t maxBytes, bool requireWritable,
                     std::string& contents);
// Replaces the contents of the file that `path` leads to (symbolic links
// followed), keeping its owner and mode; a missing file is created. The new
// file is written beside the old one and renamed over it. Where the folder
// refuses that (permissions, a bind-mounted file), the file is rewritten in
// place: room for a longer text is reserved first, and a shorter text is
// padded with line ends to the old length. On failure (errno set) the file is
// as it was; a file that exists but cannot be read is never touched.
bool ReplaceFileContents(const std::string& path, const std::string& contents);
// Removes what a kill during ReplaceFileContents(path) may have left beside it.
void DiscardStaleReplacement(const std::string& path);
// True only when nothing exists at `path` (a file that cannot be read exists).
bool IsMissingFile(const std::string& path);
// Creates or truncates a file and writes `contents`.
bool WriteWholeFile(const std::string& path, const std::string& contents);
// Appends a line to standard output and flushes it at once, so that a pipe
// or the journal sees it while the process runs.
void PrintLine(const std::string& text);

// ---- Devices ----------------------------------------------------------------

// Opens for reading and writing without becoming the controlling terminal
// and without blocking on a missing carrier; the descriptor is left blocking.
CUniqueFd OpenDevice(const std::string& path);
void CloseDevice(CUniqueFd& fd);
// Reads what is waiting now, up to buffer.size() bytes; n = bytes read.
// Returns true with n = 0 when nothing waits or the line hung up.
bool ReadDevice(int fd, std::span<std::uint8_t> buffer, std::size_t& n);
bool WriteDevice(int fd, std::span<const std::uint8_t> bytes, std::size_t& n);
// Raw line settings: speed (unknown speeds give 9600), data bits 5..8
// (others mean 8), parity code (0 even, 1 even with marking, 2 none, 3 odd,
// others none), stop-bit code (2 = two, others one); VMIN = VTIME = 0.
bool SetLineAttributes(int fd, int speed, int dataBits, int parityCode, int stopBitCode);
// The speed a line really gets for `speed` (9600 for unknown rates).
int EffectiveSpeed(int speed);
bool IsKnownSpeed(int speed);
// The line's present output speed in baud and whether it sends two stop
// bits; false when the settings cannot be read or the speed is not listed.
bool ReadLineSpeed(int fd, int& speed, bool& twoStopBits);
bool GetModemBits(int fd, int& bits);
bool SetModemBits(int fd, int bits);
// Waits until `fd` is readable or `ms` pass: > 0 readable, 0 time-out, < 0 error.
int WaitReadable(int fd, std::uint32_t ms);

// ---- Network ----------------------------------------------------------------

constexpr std::size_t kDatagramSize = 1172;

// One datagram as the SNMP agent and the relay receive and send it.
struct SDatagram {
    SIpAddress address; // peer address, IPv4 in its mapped form
    std::uint16_t port = 0;    // peer UDP port, host byte order
    std::uint32_t length = 0;  // data bytes in use
    std::array<std::uint8_t, kDatagramSize> data{};

    std::span<const std::uint8_t> Bytes() const { return {data.data(), length}; }
};

bool NetworkStartup();
void NetworkCleanup();
bool GetHostName(std::string& name);
// A name starting with a letter is looked up by name; anything else is taken
// as a dotted address and looked up in reverse, failing without an entry.
bool ResolveHost(const std::string& text, std::uint32_t& address);
// Four decimal parts, exactly as inet_pton(3) takes them; no lookup.
bool ParseDottedAddress(const std::string& text, std::uint32_t& address);
// The first IPv4 address of a host name; false when it does not resolve.
bool LookUpHostName(const std::string& text, std::uint32_t& address);
// Whether a socket can be bound to `address` (either family) on this host.
bool IsLocalAddress(const SIpAddress& address);
// Family 2 = IPv4; type 0 = stream, 1 = datagram; protocol 0 = default.
CUniqueFd CreateSocket(int familyCode, int typeCode, int protocolCode);
void CloseSocket(CUniqueFd& socket);
bool BindSocket(int socket, std::uint16_t port, std::uint32_t address);
bool SetSocketBlocking(int socket, bool blocking);
// The events a service reports when its socket cannot be set up, one per step.
struct SUdpSocketEvents {
    std::uint32_t create;
    std::uint32_t nonBlocking;
    std::uint32_t bind;
};
// A datagram socket, non-blocking, bound to `address` and `port`: an IPv4
// address gives an IPv4 socket, an IPv6 one an IPv6-only socket, and the
// unspecified address one socket for both families (IPv4 peers appear in
// their mapped form), or an IPv4 socket where the host has no IPv6. A
// failing step throws its event from `events`, with the system call's name
// and errno as the event's arguments.
CUniqueFd OpenUdpSocket(std::uint16_t port, const SIpAddress& address, const SUdpSocketEvents& events);
// The address the socket is bound to (network order; 0 for an IPv6 socket)
// and its port.
bool GetSocketAddress(int socket, std::uint32_t& address, std::uint16_t& port);
// Whether the socket takes IPv6 peers (an IPv6 or dual-stack socket).
bool SocketReachesIPv6(int socket);
bool ReceiveFrom(int socket, SDatagram& datagram);
// Datagrams received and sent in one system call each (recvmmsg, sendmmsg).
inline constexpr std::size_t kDatagramBatch = 32;
// Takes up to datagrams.size() (at most kDatagramBatch) of those waiting,
// without waiting, each as ReceiveFrom takes it; the number taken.
std::size_t ReceiveBatch(int socket, std::span<SDatagram> datagrams);
// Sends each as SendTo does, in their order; one that fails does not stop
// the others. The number sent.
std::size_t SendBatch(int socket, std::span<const SDatagram> datagrams);
// Ends both directions of a connected socket (which stays open until its
// owner closes it): its reader sees the end at once.
bool ShutdownSocket(int socket);
// Sends to the record's address: an IPv6 peer needs an IPv6 socket, an IPv4
// peer an IPv4 or dual-stack one.
bool SendTo(int socket, const SDatagram& datagram);

// Readiness of several descriptors at once: `ready` receives those readable.
int WaitReadable(std::span<const int> fds, std::uint32_t ms, std::vector<int>& ready);
// Waits until `first` or `second` is readable or `ms` pass, without
// allocating: bit 0 = first readable, bit 1 = second; 0 on time-out, < 0 on
// error. A negative descriptor is never readable.
int WaitReadablePair(int first, int second, std::uint32_t ms);
// The same for up to kMaxWaitDescriptors descriptors: bit i = fds[i] readable.
constexpr std::size_t kMaxWaitDescriptors = 8;
int WaitReadableMask(std::span<const int> fds, std::uint32_t ms);

// ---- Arithmetic ---------------------------------------------------------------

long double Power(long double x, long double y);

} // namespace pvx

namespace pvx {

// ---- Process ------------------------------------------------------------------

// Detaches from the terminal, keeping the working directory and sending the
// standard streams to the null device.
bool Daemonize();

// The value of an environment variable; empty when it is not set.
std::string GetEnvironment(const char* name);
// True when descriptor `fd` is the stream that JOURNAL_STREAM names
// ("device:inode"), that is, the journal reads what is written there.
bool IsJournalStream(int fd);
// From now on PrintLine puts "<6>" (information) before each line, for a
// journal that reads standard output.
void SetPrintLineJournalPrefix(bool on);

// On: SIGHUP sets a flag instead of ending the process, and TakeHangup reads
// and clears it; the waits and sleeps it interrupts go on as if it had not
// come. Off: the default action again.
void CatchHangup(bool on);
bool TakeHangup();

} // namespace pvx
