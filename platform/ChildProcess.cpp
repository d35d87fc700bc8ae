// fork, exec, waitpid and kill for the commands pvx runs.
#include "platform/ChildProcess.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace pvx {

std::vector<std::string> SplitCommandLine(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
            inWord = true;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

bool IsExecutableFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool CChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                          std::string& error)
{
    if (argv.empty()) {
        error = "no program";
        return false;
    }
    // Everything the child needs is built before fork: after it only
    // async-signal-safe calls are made.
    std::vector<char*> args, env;
    for (const std::string& word : argv)
        args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    for (const std::string& line : environment)
        env.push_back(const_cast<char*>(line.c_str()));
    env.push_back(nullptr);
    // The exec's errno comes back through a close-on-exec pipe: nothing read means it ran.
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    CUniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGHUP, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0 && null != 0) {
            ::dup2(null, 0);
            ::close(null);
        }
        const int keep = writeEnd.Get();
        if (keep > 3)
            ::close_range(3, static_cast<unsigned>(keep) - 1, 0);
        ::close_range(static_cast<unsigned>(keep) + 1, ~0u, 0);
        ::execve(args[0], args.data(), env.data());
        const int code = errno;
        [[maybe_unused]] ssize_t written = ::write(keep, &code, sizeof code);
        ::_exit(127);
    }
    ::setpgid(pid, pid); // as the child does, so that a kill at once reaches the group
    writeEnd.Reset();
    int code = 0;
    ssize_t got;
    do
        got = ::read(readEnd.Get(), &code, sizeof code);
    while (got < 0 && errno == EINTR);
    m_pid = pid;
    m_state = EChildState::Running;
    if (got == static_cast<ssize_t>(sizeof code)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { } // it has _exit-ed already
        m_pid = -1;
        error = argv[0] + ": " + std::strerror(code);
        return false;
    }
    return true;
}

EChildState CChildProcess::Poll()
{
    if (m_pid <= 0 || m_state != EChildState::Running)
        return m_state;
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
        if (WIFSIGNALED(status)) {
            m_state = EChildState::Signalled;
            m_status = WTERMSIG(status);
        } else {
            m_state = EChildState::Exited;
            m_status = WEXITSTATUS(status);
        }
    } else if (done < 0 && errno == ECHILD) {
        m_state = EChildState::Exited; // reaped elsewhere: nothing left to watch
        m_status = 0;
    }
    return m_state;
}

void CChildProcess::Kill()
{
    if (m_pid > 0 && m_state == EChildState::Running)
        ::kill(-m_pid, SIGKILL);
}

CChildProcess::~CChildProcess()
{
    if (m_pid > 0 && Poll() == EChildState::Running) {
        Kill();
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
    }
}

CChildProcess::CChildProcess(CChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1))
    , m_state(other.m_state)
    , m_status(other.m_status)
{
}

CChildProcess& CChildProcess::operator=(CChildProcess&& other) noexcept
{
    if (this != &other) {
        this->~CChildProcess();
        m_pid = std::exchange(other.m_pid, -1);
        m_state = other.m_state;
        m_status = other.m_status;
    }
    return *this;
}

} // namespace pvx
