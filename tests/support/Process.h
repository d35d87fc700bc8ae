// Test support: runs a program with a chosen argv[0], feeds nothing on its
// standard input, captures its output and ends it by PID when a test is done.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pvx::test {

struct SRunResult {
    int status = -1;     // exit status, or -1 when killed by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs `path` with argv = {argv0, args...} in `workingDirectory` (empty: the
// current one) and waits at most `timeout`.
SRunResult RunProgram(const std::string& path, const std::string& argv0, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout, const std::string& workingDirectory = "");

// A background process whose standard output and error go to files; the
// destructor ends it (SIGTERM, then SIGKILL) and reaps it. `prepare` runs in
// the child just before the program starts; when it returns false the child
// ends with status 125 instead.
class CChildProcess {
public:
    CChildProcess(const std::string& path, const std::string& argv0, const std::vector<std::string>& args,
                  const std::string& outputPath, const std::string& errorPath, const std::string& workingDirectory = "",
                  const std::function<bool()>& prepare = {});
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    bool IsRunning();
    // Waits for the exit; returns the status or -1 on time-out or signal.
    int Wait(std::chrono::milliseconds timeout);
    void Stop();

private:
    pid_t m_pid = -1;
    int m_status = -1;
    bool m_reaped = false;
};

// Reads a whole file ("" when missing).
std::string ReadFile(const std::string& path);
// Polls `predicate` every 50 ms until it holds or `timeout` passes.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout);

// A fresh temporary folder removed on destruction.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Moves the calling process into a mount namespace of its own, in which
// mounts are private: what a test mounts there stays invisible to the
// machine and goes away with the process. False (errno set) where the system
// does not allow it, for example without the right to create namespaces.
bool EnterPrivateMountNamespace();

// A UDP or TCP port on 127.0.0.1 that was free a moment ago.
unsigned short FreeUdpPort();
unsigned short FreeTcpPort();
// A loopback port free for SOCK_DGRAM or SOCK_STREAM at the moment of asking.
unsigned short FreePort(int type);
// A TCP connection to 127.0.0.1:port (blocking) from 127.0.0.<source>, or -1.
int ConnectTcp(unsigned short port, unsigned source = 1);
// Whether a socket can be bound to ::1 here (IPv6 tests skip without it).
bool HasIPv6Loopback();
// The number after `key` on its line of /proc/<pid>/<file> ("VmRSS:" of
// "status"), or -1.
long ProcField(pid_t pid, const std::string& file, const std::string& key);
// Whether the resident memory of `pid` is back within 1 MiB of `beforeKb`
// (VmRSS), printing both. Always true under AddressSanitizer, whose
// quarantine keeps freed memory resident whatever the program frees.
bool ResidentMemoryBack(pid_t pid, long beforeKb);
// Whether UDP port `port` of every address can be bound at the moment of asking.
bool UdpPortFree(unsigned short port);

} // namespace pvx::test

#include <thread>

template <typename Predicate>
bool pvx::test::WaitFor(Predicate predicate, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
