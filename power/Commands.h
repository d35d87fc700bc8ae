// The external commands of the power policy, run beside the loop: started
// through platform/, reaped once a pass without waiting, killed at their
// deadline, and every failure logged with the key that names the command.
#pragma once

#include "platform/ChildProcess.h"
#include "power/PowerEvent.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pvx::power {

// The environment a command gets for `event`: PATH and the PVX_ variables
// the documents list; `coalesced` counts the events folded into this one.
std::vector<std::string> EventEnvironment(const SPowerEvent& event, unsigned coalesced);

class CCommands {
public:
    explicit CCommands(const char* key) : m_key(key) {}
    // Starts `argv`; `timeoutMs` 0 lets it run as long as it takes. A
    // command that cannot start is logged and false returned.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               std::uint64_t timeoutMs, const std::string& label);
    // Reaps what has ended (logging a failure), kills what has overrun.
    void Poll();
    std::size_t Running() const { return m_running.size(); }

private:
    struct SRunning {
        CChildProcess child;
        std::uint64_t deadline = 0; // monotonic ms, 0: none
        std::string label;
        bool killed = false;
    };
    void Report(const SRunning& command, const std::string& why) const;

    const char* m_key;
    std::vector<SRunning> m_running;
};

// Notify/Command: one run per power event, at most kMaxRunning at once; the
// events that come while every place is taken are folded into the latest,
// which runs when a place frees.
class CNotifyCommand : public IPowerObserver {
public:
    static constexpr std::size_t kMaxRunning = 4;

    void Configure(std::vector<std::string> argv, unsigned timeoutSeconds);
    void OnPowerEvent(const SPowerEvent& event) override;
    // Once a pass.
    void Poll();
    std::size_t Running() const { return m_commands.Running(); }

private:
    void Run(const SPowerEvent& event, unsigned coalesced);

    CCommands m_commands { "Notify/Command" };
    std::vector<std::string> m_argv;
    std::uint64_t m_timeoutMs = 30000;
    bool m_pending = false;
    SPowerEvent m_pendingEvent;
    unsigned m_coalesced = 0; // events folded into the pending one
};

} // namespace pvx::power
