// External commands started beside the loop: fork and exec with an explicit
// argument vector and environment (no shell), reaped without waiting, and
// killed with their whole process group at a deadline.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pvx {

// Splits a command line into words at blanks; double quotes group a word
// with blanks ("a b"), a backslash takes the next character as it is.
// No shell expansion of any kind. Empty when the text holds no word.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Whether `path` names a file this process may execute.
bool IsExecutableFile(const std::string& path);

// What became of a child.
enum class EChildState {
    Running,
    Exited,    // `status` holds the exit status
    Signalled, // `status` holds the signal
};

// One child, owned: a child still running when the object goes is killed
// with its process group and reaped.
class CChildProcess {
public:
    // Starts argv[0] (a path; PATH is not searched) with exactly `environment`
    // ("NAME=value" each), standard input from /dev/null, standard output and
    // error inherited, every other descriptor closed, in a process group of
    // its own. Returns false, with the reason in `error`, when it cannot fork
    // or the program cannot be executed.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment, std::string& error);
    // Looks without waiting; once it has ended the state stays.
    EChildState Poll();
    // SIGKILL to the child's process group; Poll reaps it later.
    void Kill();
    bool IsRunning() { return m_pid > 0 && Poll() == EChildState::Running; }
    int Status() const { return m_status; }
    pid_t Pid() const { return m_pid; }

    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(CChildProcess&& other) noexcept;
    CChildProcess& operator=(CChildProcess&& other) noexcept;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

private:
    pid_t m_pid = -1;
    EChildState m_state = EChildState::Running;
    int m_status = 0;
};

} // namespace pvx
