// Process and file helpers for tests that drive real programs.
#include "tests/support/Process.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pvx::test {

namespace {

std::vector<char*> MakeArgv(const std::string& argv0, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

[[noreturn]] void ExecChild(const std::string& path, std::vector<char*>& argv, const std::string& workingDirectory)
{
    int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0)
        ::_exit(126);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
}

} // namespace

SRunResult RunProgram(const std::string& path, const std::string& argv0, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout, const std::string& workingDirectory)
{
    SRunResult result;
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
        return result;
    auto argv = MakeArgv(argv0, args);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ExecChild(path, argv, workingDirectory);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    auto end = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    if (result.timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!result.timedOut && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

CChildProcess::CChildProcess(const std::string& path, const std::string& argv0, const std::vector<std::string>& args,
                             const std::string& outputPath, const std::string& errorPath,
                             const std::string& workingDirectory, const std::function<bool()>& prepare)
{
    auto argv = MakeArgv(argv0, args);
    m_pid = ::fork();
    if (m_pid == 0) {
        if (prepare && !prepare())
            ::_exit(125);
        int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ExecChild(path, argv, workingDirectory);
    }
}

CChildProcess::~CChildProcess() { Stop(); }

bool CChildProcess::IsRunning()
{
    if (m_reaped || m_pid <= 0)
        return false;
    int status = 0;
    pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
        m_reaped = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int CChildProcess::Wait(std::chrono::milliseconds timeout)
{
    WaitFor([this] { return !IsRunning(); }, timeout);
    return m_reaped ? m_status : -1;
}

void CChildProcess::Stop()
{
    if (m_pid <= 0 || !IsRunning())
        return;
    ::kill(m_pid, SIGTERM);
    if (Wait(std::chrono::milliseconds(3000)) == -1 && IsRunning()) {
        ::kill(m_pid, SIGKILL);
        Wait(std::chrono::milliseconds(3000));
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

CTempDir::CTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pvx-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) != nullptr)
        m_path = name.data();
}

CTempDir::~CTempDir()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

bool EnterPrivateMountNamespace()
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int ConnectTcp(unsigned short port, unsigned source)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from {};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000000u | (source & 0xFFFFFFu));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0
        && (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0
            || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ResidentMemoryBack(pid_t pid, long beforeKb)
{
    const long afterKb = ProcField(pid, "status", "VmRSS:");
    std::printf("VmRSS %ld kB before, %ld kB after\n", beforeKb, afterKb);
#if defined(__SANITIZE_ADDRESS__)
    std::printf("memory bound not checked under AddressSanitizer\n");
    return true;
#else
    return afterKb >= 0 && afterKb <= beforeKb + 1024;
#endif
}

long ProcField(pid_t pid, const std::string& file, const std::string& key)
{
    std::istringstream text(ReadFile("/proc/" + std::to_string(pid) + "/" + file));
    for (std::string line; std::getline(text, line);)
        if (line.starts_with(key))
            return std::stol(line.substr(key.size()));
    return -1;
}

unsigned short FreeUdpPort()
{
    return FreePort(SOCK_DGRAM);
}

unsigned short FreeTcpPort()
{
    return FreePort(SOCK_STREAM);
}

namespace {

bool PortFree(int type, unsigned short port)
{
    int fd = ::socket(AF_INET, type, 0);
    if (fd < 0)
        return false;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

} // namespace

// A port the kernel would not hand out as an ephemeral one: a port it picked
// for us could be taken again by any client socket (snmpget, curl, upsc) of a
// test running beside this one before pvx binds it. Each test process starts
// at its own place in the range, so tests running side by side rarely meet.
unsigned short FreePort(int type)
{
    constexpr unsigned kFirst = 20000, kCount = 12000; // below 32768
    static unsigned next = static_cast<unsigned>(::getpid()) * 97u % kCount;
    for (unsigned tries = 0; tries < kCount; ++tries) {
        auto port = static_cast<unsigned short>(kFirst + next++ % kCount);
        if (PortFree(type, port) && PortFree(type == SOCK_STREAM ? SOCK_DGRAM : SOCK_STREAM, port))
            return port;
    }
    return 0;
}

bool UdpPortFree(unsigned short port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

bool HasIPv6Loopback()
{
    int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

} // namespace pvx::test
