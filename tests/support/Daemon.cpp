// The simulated UPS and the daemon as processes for end-to-end tests.
#include "tests/support/Daemon.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <thread>
#include <sys/socket.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace pvx::test {

namespace {

const std::string kBinaryDir = PVX_TEST_BINARY_DIR;

// Gives the calling (child) process <var> as its /var, in a mount namespace
// of its own.
bool UsePrivateVar(const std::string& var)
{
    return EnterPrivateMountNamespace() && ::mount(var.c_str(), "/var", nullptr, MS_BIND, nullptr) == 0;
}

// Asked once per test program, in a child that tries it.
bool PrivateVarAllowed()
{
    static const bool allowed = [] {
        CTempDir probe;
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(UsePrivateVar(probe.Path()) ? 0 : 1);
        int status = 0;
        bool ok = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!ok)
            std::printf("note: no private mount namespace here; pvx writes the machine's /var/pvx.status\n");
        return ok;
    }();
    return allowed;
}

} // namespace

CSimulatedUps::CSimulatedUps(const std::string& folder, const std::string& configPath)
    : m_folder(folder), m_link(folder + "/ups"), m_control(folder + "/control"), m_frames(folder + "/frames.log")
{
    std::vector<std::string> args = {"-q", "-l", m_link, "-s", m_control, "-f", m_frames};
    if (!configPath.empty()) {
        args.push_back("-c");
        args.push_back(configPath);
    }
    m_process = std::make_unique<CChildProcess>(kBinaryDir + "/pvx-upssim", "pvx-upssim", args,
                                                folder + "/upssim.out", folder + "/upssim.err");
    m_ready = WaitFor(
        [this] {
            struct stat info{};
            return ::stat(m_control.c_str(), &info) == 0 && ::lstat(m_link.c_str(), &info) == 0;
        },
        10s);
}

CSimulatedUps::~CSimulatedUps() = default;

std::string CSimulatedUps::Control(const std::string& line)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_control.c_str());
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = line + "\n";
        if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            auto end = std::chrono::steady_clock::now() + 5s;
            // The reply ends with "ok\n" or an "error: ..." line.
            while (std::chrono::steady_clock::now() < end) {
                pollfd entry{fd, POLLIN, 0};
                if (::poll(&entry, 1, 200) <= 0)
                    continue;
                char buffer[4096];
                ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                reply.append(buffer, static_cast<std::size_t>(n));
                if (reply.ends_with("ok\n") || reply.find("error") != std::string::npos)
                    break;
            }
        }
    }
    ::close(fd);
    return reply;
}

std::vector<std::string> CSimulatedUps::ReceivedFrames() const
{
    std::vector<std::string> frames;
    std::istringstream log(FrameLog());
    std::string line;
    while (std::getline(log, line))
        if (line.rfind("rx ", 0) == 0)
            frames.push_back(line);
    return frames;
}

std::vector<std::string> CSimulatedUps::FramesAfter(std::size_t count) const
{
    auto frames = ReceivedFrames();
    std::vector<std::string> caused;
    for (std::size_t i = count; i < frames.size(); ++i)
        if (!IsPoll(frames[i]))
            caused.push_back(frames[i]);
    return caused;
}

std::chrono::milliseconds LongestPollGap(const CSimulatedUps& ups, std::chrono::milliseconds span)
{
    using namespace std::chrono;
    const auto start = steady_clock::now();
    auto last = start;
    std::size_t seen = ups.ReceivedFrames().size();
    milliseconds longest { 0 };
    while (steady_clock::now() - start < span) {
        std::this_thread::sleep_for(milliseconds(50));
        const std::size_t now = ups.ReceivedFrames().size();
        const auto at = steady_clock::now();
        if (now != seen) {
            seen = now;
            longest = std::max(longest, duration_cast<milliseconds>(at - last));
            last = at;
        }
    }
    return std::max(longest, duration_cast<milliseconds>(steady_clock::now() - last));
}

std::string PvxPasswd(const std::vector<std::string>& args)
{
    SRunResult made = RunProgram(kBinaryDir + "/pvx-passwd", "pvx-passwd", args, std::chrono::seconds(30));
    return made.status == 0 ? made.out.substr(0, made.out.find('\n')) : "";
}

bool IsPoll(const std::string& frame)
{
    static const char* const polls[] = { "rx 32", "rx 33", "rx 34", "rx 35", "rx 38", "rx 3B", "rx 3F" };
    return std::ranges::any_of(polls, [&](const char* poll) { return frame == poll; });
}

CPvxDaemon::CPvxDaemon(const std::string& folder, const std::string& device, SDaemonOptions options)
    : m_folder(folder), m_options(std::move(options))
{
    if (m_options.agentPort == 0)
        m_options.agentPort = FreeUdpPort();
    if (m_options.relayPort == 0)
        m_options.relayPort = FreeUdpPort();
    std::ofstream ini(IniPath());
    if (!m_options.iniText.empty()) {
        ini << m_options.iniText;
    } else {
        ini << "[Communications]\nCommunicationsPort=" << device << "\n";
        ini << "[SNMP]\nEnabled=" << (m_options.snmp ? 1 : 0) << "\nAgentPort=" << m_options.agentPort << "\n";
        if (m_options.managerPort != 0)
            ini << "TrapHost=127.0.0.1\nManagerPort=" << m_options.managerPort << "\n";
        ini << "[NetXCP]\nAgentPort=" << m_options.relayPort << "\n";
        ini << m_options.extraIni;
    }
    ini.close();
    if (m_options.prepareIni && !m_options.prepareIni(IniPath()))
        std::printf("note: preparing %s failed\n", IniPath().c_str());
    std::vector<std::string> args = {"-c", IniPath()};
    args.insert(args.end(), m_options.arguments.begin(), m_options.arguments.end());
    auto environment = m_options.environment;
    if (m_options.journalStderr) {
        // The child opens the file again with O_TRUNC: the same inode.
        WriteTextFile(folder + "/pvx.err", "");
        struct stat info{};
        ::stat((folder + "/pvx.err").c_str(), &info);
        environment.emplace_back("JOURNAL_STREAM", std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino));
    }
    m_privateVar = PrivateVarAllowed();
    if (m_privateVar)
        ::mkdir((folder + "/var").c_str(), 0755);
    std::function<bool()> prepare = [environment, privateVar = m_privateVar, var = folder + "/var"] {
        for (const auto& [name, value] : environment)
            ::setenv(name.c_str(), value.c_str(), 1);
        return !privateVar || UsePrivateVar(var);
    };
    if (m_options.readOnlyIni) {
        prepare = [prepare, privateVar = m_privateVar, ini = IniPath()] {
            return prepare() && (privateVar || EnterPrivateMountNamespace())
                && ::mount(ini.c_str(), ini.c_str(), nullptr, MS_BIND, nullptr) == 0
                && ::mount("", ini.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        };
    }
    // A restarted daemon's output must not be read from its predecessor's
    // files before the child truncates them.
    ::unlink((folder + "/pvx.out").c_str());
    if (!m_options.journalStderr) // its inode is named in JOURNAL_STREAM
        ::unlink((folder + "/pvx.err").c_str());
    m_process = std::make_unique<CChildProcess>(kBinaryDir + "/pvx", m_options.argv0, args, folder + "/pvx.out",
                                                folder + "/pvx.err", folder, prepare);
}

CPvxDaemon::~CPvxDaemon() = default;

bool CPvxDaemon::WaitForStdout(const std::string& text, std::chrono::milliseconds timeout) const
{
    return WaitFor([&] { return Stdout().find(text) != std::string::npos; }, timeout);
}

CUdpListener::CUdpListener()
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        m_port = ntohs(address.sin_port);
}

CUdpListener::~CUdpListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CUdpListener::Receive(std::vector<std::uint8_t>& datagram, std::chrono::milliseconds timeout)
{
    pollfd entry{m_fd, POLLIN, 0};
    if (m_fd < 0 || ::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    std::uint8_t buffer[65536];
    ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n < 0)
        return false;
    datagram.assign(buffer, buffer + n);
    return true;
}

std::vector<std::vector<std::uint8_t>> CUdpListener::ReceiveUntilQuiet(std::chrono::milliseconds quiet)
{
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::vector<std::uint8_t> datagram;
    // Bounded: a sender that never stops still ends the wait.
    for (int i = 0; i < 1000 && Receive(datagram, quiet); ++i)
        datagrams.push_back(datagram);
    return datagrams;
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

int UdpSocketFrom(const std::string& source)
{
    const bool v6 = source.find(':') != std::string::npos;
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || source.empty())
        return fd;
    sockaddr_storage from{};
    socklen_t size = sizeof(sockaddr_in);
    auto* from4 = reinterpret_cast<sockaddr_in*>(&from);
    auto* from6 = reinterpret_cast<sockaddr_in6*>(&from);
    from4->sin_family = AF_INET;
    int parsed = ::inet_pton(AF_INET, source.c_str(), &from4->sin_addr);
    if (v6) {
        from6->sin6_family = AF_INET6;
        size = sizeof(sockaddr_in6);
        parsed = ::inet_pton(AF_INET6, source.c_str(), &from6->sin6_addr);
    }
    if (parsed != 1 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), size) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool UdpExchange(unsigned short port, const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& reply,
                 std::chrono::milliseconds timeout, const std::string& source)
{
    int fd = UdpSocketFrom(source);
    if (fd < 0)
        return false;
    sockaddr_storage to{};
    socklen_t size = sizeof(sockaddr_in);
    if (source.find(':') != std::string::npos) {
        auto* to6 = reinterpret_cast<sockaddr_in6*>(&to);
        to6->sin6_family = AF_INET6;
        to6->sin6_port = htons(port);
        to6->sin6_addr = in6addr_loopback;
        size = sizeof(sockaddr_in6);
    } else {
        auto* to4 = reinterpret_cast<sockaddr_in*>(&to);
        to4->sin_family = AF_INET;
        to4->sin_port = htons(port);
        to4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    bool answered = false;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), size) >= 0) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) > 0) {
            std::uint8_t buffer[65536];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n >= 0) {
                reply.assign(buffer, buffer + n);
                answered = true;
            }
        }
    }
    ::close(fd);
    return answered;
}

std::vector<std::uint8_t> XcpFrame(std::initializer_list<std::uint8_t> commandAndData)
{
    std::vector<std::uint8_t> frame{0xAB, static_cast<std::uint8_t>(commandAndData.size())};
    for (std::uint8_t byte : commandAndData) // element by element: gcc 12 misreads an insert of a list at -O2
        frame.push_back(byte);
    std::uint8_t sum = 0;
    for (auto byte : frame)
        sum = static_cast<std::uint8_t>(sum + byte);
    frame.push_back(static_cast<std::uint8_t>(0x100 - sum));
    return frame;
}

std::vector<std::uint8_t> PasswordFrame(const std::string& password)
{
    std::vector<std::uint8_t> frame { 0xAB, 0x07, 0xCF };
    for (std::size_t i = 0; i < 6; ++i)
        frame.push_back(i < password.size() ? static_cast<std::uint8_t>(password[i]) : 0);
    std::uint8_t sum = 0;
    for (auto byte : frame)
        sum = static_cast<std::uint8_t>(sum + byte);
    frame.push_back(static_cast<std::uint8_t>(0x100 - sum));
    return frame;
}

} // namespace pvx::test
