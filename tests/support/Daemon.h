// Test support for end-to-end tests: the simulated UPS (pvx-upssim) on a
// pseudo-terminal and the real pvx daemon against it, each in a temporary
// folder, each ended by PID when the test object goes away.
#pragma once

#include "tests/support/Process.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pvx::test {

class CSimulatedUps {
public:
    // Starts pvx-upssim with its device linked at <folder>/ups, its control
    // socket at <folder>/control and its frame log at <folder>/frames.log.
    explicit CSimulatedUps(const std::string& folder, const std::string& configPath = "");
    ~CSimulatedUps();

    bool IsReady() const { return m_ready; }
    const std::string& DevicePath() const { return m_link; }
    // Sends one control line; returns the reply ("ok\n" on success).
    std::string Control(const std::string& line);
    // The frames the simulator received, as logged ("rx 31", "rx 93 02 00" ...).
    std::vector<std::string> ReceivedFrames() const;
    // The frames received after the first `count`, the driver's own polls
    // left out: what a manager's request caused.
    std::vector<std::string> FramesAfter(std::size_t count) const;
    std::string FrameLog() const { return ReadFile(m_frames); }
    void Stop() { m_process.reset(); }

private:
    std::string m_folder, m_link, m_control, m_frames;
    std::unique_ptr<CChildProcess> m_process;
    bool m_ready = false;
};

struct SDaemonOptions {
    bool snmp = false;
    unsigned short agentPort = 0;   // 0: a free port is chosen
    unsigned short managerPort = 0; // traps to 127.0.0.1:managerPort when not 0
    unsigned short relayPort = 0;   // 0: a free port is chosen
    std::string extraIni;           // appended to pvx.ini as it stands
    std::string iniText;            // not empty: the whole pvx.ini, ports and device included
    std::vector<std::string> arguments; // after "-c <folder>/pvx.ini"
    std::string argv0 = "pvx";      // no "/": no start-up pause
    // pvx.ini bind-mounted read-only over itself in the daemon's own mount
    // namespace (where namespaces are not allowed the daemon does not start).
    bool readOnlyIni = false;
    // Runs on pvx.ini once it is written, before the daemon starts.
    std::function<bool(const std::string& iniPath)> prepareIni;
    // Set in pvx's environment (the service manager's NOTIFY_SOCKET, ...).
    std::vector<std::pair<std::string, std::string>> environment;
    // JOURNAL_STREAM names pvx's standard error, as the journal's would.
    bool journalStderr = false;
};

class CPvxDaemon {
public:
    CPvxDaemon(const std::string& folder, const std::string& device, SDaemonOptions options = {});
    ~CPvxDaemon();

    unsigned short AgentPort() const { return m_options.agentPort; }
    unsigned short RelayPort() const { return m_options.relayPort; }
    std::string IniPath() const { return m_folder + "/pvx.ini"; }
    // Where this daemon's status file lands. The daemon runs in a mount
    // namespace of its own with <folder>/var as its /var, so that tests never
    // write the machine's /var/pvx.status; where namespaces are not allowed
    // it is the machine's file after all (a note says so).
    std::string StatusPath() const { return m_privateVar ? m_folder + "/var/pvx.status" : "/var/pvx.status"; }
    std::string Stdout() const { return ReadFile(m_folder + "/pvx.out"); }
    std::string Stderr() const { return ReadFile(m_folder + "/pvx.err"); }
    bool WaitForStdout(const std::string& text, std::chrono::milliseconds timeout) const;
    bool IsRunning() { return m_process->IsRunning(); }
    int Wait(std::chrono::milliseconds timeout) { return m_process->Wait(timeout); }
    pid_t Pid() const { return m_process->Pid(); }

private:
    std::string m_folder;
    SDaemonOptions m_options;
    bool m_privateVar = false;
    std::unique_ptr<CChildProcess> m_process;
};

// A UDP socket bound to 127.0.0.1 on a port of its own that keeps what
// arrives, e.g. the traps a daemon sends to its manager port.
class CUdpListener {
public:
    CUdpListener();
    ~CUdpListener();
    CUdpListener(const CUdpListener&) = delete;
    CUdpListener& operator=(const CUdpListener&) = delete;

    unsigned short Port() const { return m_port; }
    // The next datagram, waiting at most `timeout`; false when none came.
    bool Receive(std::vector<std::uint8_t>& datagram, std::chrono::milliseconds timeout);
    // Every datagram that arrives until `quiet` passes without one.
    std::vector<std::vector<std::uint8_t>> ReceiveUntilQuiet(std::chrono::milliseconds quiet);

private:
    int m_fd = -1;
    unsigned short m_port = 0;
};

// What pvx-passwd prints for `args` (its first line), e.g. a stored key.
std::string PvxPasswd(const std::vector<std::string>& args);

// Writes `text` to `path`, replacing the file.
void WriteTextFile(const std::string& path, const std::string& text);

// The longest gap between two frames the simulator received, sampled for `span`.
std::chrono::milliseconds LongestPollGap(const CSimulatedUps& ups, std::chrono::milliseconds span);

// True for a request the driver sends on its own while polling.
bool IsPoll(const std::string& frame);

// Sends one UDP datagram to 127.0.0.1:port and waits for one answer.
// Returns false on time-out. `source` (a loopback address such as
// "127.0.0.2") sends from that address instead of the system's choice; "::1"
// sends from and to ::1.
bool UdpExchange(unsigned short port, const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& reply,
                 std::chrono::milliseconds timeout, const std::string& source = "");
// A UDP socket bound to `source` (any port), or -1; the caller closes it.
int UdpSocketFrom(const std::string& source);

// An XCP request frame with its checksum: 0xAB, length, command, data, checksum.
std::vector<std::uint8_t> XcpFrame(std::initializer_list<std::uint8_t> commandAndData);
// The relay's password frame: 0xAB, 7, 0xCF, the password (zero-padded to
// six bytes), checksum.
std::vector<std::uint8_t> PasswordFrame(const std::string& password);

} // namespace pvx::test
