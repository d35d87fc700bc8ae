// pvx-upssim: a simulated XCP UPS on a pseudo-terminal, for trying pvx
// without hardware and for the driver and end-to-end tests.
#include "platform/ByteCursor.h"
#include "platform/Clock.h"
#include "platform/Portability.h"
#include "platform/PseudoTerminal.h"
#include "platform/ToolSupport.h"
#include "tools/upssim/SimConfig.h"
#include "tools/upssim/SimulatedUps.h"

#include <algorithm>
#include <array>
#include <deque>
#include <string>
#include <vector>

using namespace pvx;
using namespace pvx::upssim;

namespace {

constexpr std::size_t kMaxControlLine = 512;
constexpr std::size_t kMaxClients = 8;
constexpr std::size_t kMaxPendingOutput = 65536;
constexpr std::size_t kMaxConfigBytes = 1 << 20;

const char* const kUsage =
    "usage: pvx-upssim [options]\n"
    "Simulates a UPS that speaks XCP on a pseudo-terminal and prints the device path.\n"
    "  -c, --config FILE      configuration file (default: the built-in one)\n"
    "  -l, --link PATH        also publish the device as a symbolic link at PATH\n"
    "  -s, --control PATH     accept control commands on a UNIX socket at PATH\n"
    "  -i, --stdin            accept control commands on standard input\n"
    "  -f, --frame-log FILE   write every frame received and sent to FILE, one per line\n"
    "  -q, --quiet            do not log frames on standard error\n"
    "  -h, --help             this text\n"
    "Control commands: send \"help\" through the socket or standard input.\n"
    "Stops cleanly on SIGTERM, SIGINT or the control command quit.\n";

struct SOptions {
    std::string config;
    std::string link;
    std::string control;
    std::string frameLog;
    bool useStdin = false;
    bool quiet = false;
};

struct SClient {
    CUniqueFd fd;
    std::string pending;
};

struct SOutput {
    std::uint64_t dueMs;
    std::vector<std::uint8_t> bytes;
};

void WriteText(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        std::size_t n = 0;
        auto bytes = AsBytes(text).subspan(done);
        if (!WriteDevice(fd, bytes, n) || n == 0)
            return;
        done += n;
    }
}

// The options that take a value, and where it goes.
struct SValueOption {
    const char* shortName;
    const char* longName;
    std::string SOptions::*target;
};
const SValueOption kValueOptions[] = {
    { "-c", "--config", &SOptions::config },
    { "-l", "--link", &SOptions::link },
    { "-s", "--control", &SOptions::control },
    { "-f", "--frame-log", &SOptions::frameLog },
};

bool ParseOptions(int argc, char** argv, SOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) {
                error = "option " + word + " needs a value";
                return false;
            }
            target = argv[++i];
            return true;
        };
        const auto valued = std::ranges::find_if(kValueOptions,
            [&word](const SValueOption& option) { return word == option.shortName || word == option.longName; });
        if (valued != std::end(kValueOptions)) {
            if (!value(options.*valued->target))
                return false;
        } else if (word == "-i" || word == "--stdin") {
            options.useStdin = true;
        } else if (word == "-q" || word == "--quiet") {
            options.quiet = true;
        } else if (word == "-h" || word == "--help") {
            error.clear();
            return false;
        } else {
            error = "unknown option " + word;
            return false;
        }
    }
    return true;
}

// Feeds received text to the control language line by line; false when the
// peer asked to quit.
bool HandleControlInput(CSimulatedUps& ups, std::string& pending, std::string_view input, int replyFd, bool& quit)
{
    pending.append(input);
    for (;;) {
        std::size_t end = pending.find('\n');
        if (end == std::string::npos) {
            if (pending.size() > kMaxControlLine) {
                WriteText(replyFd, "error: line too long\n");
                pending.clear();
            }
            return !quit;
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line.size() > kMaxControlLine) {
            WriteText(replyFd, "error: line too long\n");
            continue;
        }
        WriteText(replyFd, ups.Control(line, CurrentClock().MonotonicMilliseconds(), quit));
        if (quit)
            return false;
    }
}

// Everything the simulator's loop serves: the UPS, its pseudo-terminal, the
// control channels and the replies waiting for their due time.
struct SSimulator {
    explicit SSimulator(const SSimConfig& simConfig) : config(simConfig), ups(simConfig) {}

    SOptions options;
    SSimConfig config;
    CSimulatedUps ups;
    CUniqueFd signals;
    CPseudoTerminal terminal;
    CUniqueFd frameLog;
    CUniqueFd listener;
    std::vector<SClient> clients;
    std::deque<SOutput> output;
    std::string stdinPending;
    bool stdinOpen = false;
    bool quit = false;
    std::array<std::uint8_t, 512> buffer{};
    std::vector<int> fds;
    std::vector<int> ready;
};

// The built-in configuration, or the one in options.config; false after
// telling why on standard error.
bool LoadConfig(const SOptions& options, SSimConfig& config)
{
    config = DefaultSimConfig();
    if (options.config.empty())
        return true;
    std::string text;
    if (!ReadFileBounded(options.config, kMaxConfigBytes, false, text)) {
        WriteText(2, "pvx-upssim: cannot read " + options.config + "\n");
        return false;
    }
    std::string error;
    if (!ParseSimConfig(text, config, error)) {
        WriteText(2, "pvx-upssim: " + options.config + ": " + error + "\n");
        return false;
    }
    return true;
}

// The signal descriptor, the pseudo-terminal, the frame log, the control
// socket and the link, in that order; false after telling which failed.
bool OpenChannels(SSimulator& sim)
{
    const SOptions& options = sim.options;
    sim.signals = CreateTerminationSignalFd();
    if (!sim.signals || !sim.terminal.Open() || !SetSocketBlocking(sim.terminal.MasterFd(), false)) {
        WriteText(2, "pvx-upssim: cannot create the pseudo-terminal\n");
        return false;
    }
    if (!options.frameLog.empty()) {
        sim.frameLog = OpenLogFile(options.frameLog);
        if (!sim.frameLog) {
            WriteText(2, "pvx-upssim: cannot write " + options.frameLog + "\n");
            return false;
        }
    }
    if (!options.control.empty()) {
        sim.listener = CreateLocalListener(options.control);
        if (!sim.listener) {
            WriteText(2, "pvx-upssim: cannot listen on " + options.control + "\n");
            return false;
        }
    }
    if (!options.link.empty() && !CreateSymbolicLink(sim.terminal.SlavePath(), options.link)) {
        WriteText(2, "pvx-upssim: cannot create the link " + options.link + "\n");
        if (sim.listener)
            RemoveFile(options.control);
        return false;
    }
    return true;
}

// What the tests and scripts wait for on standard output.
void Announce(const SSimulator& sim)
{
    PrintLine("device " + sim.terminal.SlavePath() + "\n");
    if (!sim.options.link.empty())
        PrintLine("link " + sim.options.link + "\n");
    if (!sim.options.control.empty())
        PrintLine("control " + sim.options.control + "\n");
    PrintLine("ready\n");
}

// Writes what is due; a host that does not read makes us keep at most
// kMaxPendingOutput bytes and drop the oldest reply beyond that.
void WriteDueOutput(SSimulator& sim, std::uint64_t now)
{
    auto& output = sim.output;
    while (!output.empty() && output.front().dueMs <= now) {
        auto& front = output.front();
        std::size_t n = 0;
        if (!WriteDevice(sim.terminal.MasterFd(), front.bytes, n) || n == 0)
            break;
        front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        if (front.bytes.empty())
            output.pop_front();
    }
}

// Until the next tick, or the next reply's due time (at most 10 ms when one is overdue).
std::uint32_t WaitTime(const SSimulator& sim, std::uint64_t now)
{
    std::uint32_t timeout = sim.ups.MillisecondsToNextTick(now);
    if (!sim.output.empty())
        timeout = sim.output.front().dueMs > now
            ? std::min<std::uint32_t>(timeout, static_cast<std::uint32_t>(sim.output.front().dueMs - now))
            : std::min<std::uint32_t>(timeout, 10);
    return timeout;
}

void WaitForInput(SSimulator& sim, std::uint32_t timeout)
{
    sim.fds.clear();
    sim.fds.push_back(sim.terminal.MasterFd());
    sim.fds.push_back(sim.signals.Get());
    if (sim.listener)
        sim.fds.push_back(sim.listener.Get());
    if (sim.stdinOpen)
        sim.fds.push_back(0);
    for (const auto& client : sim.clients)
        sim.fds.push_back(client.fd.Get());
    WaitReadable(sim.fds, timeout, sim.ready);
}

// Frames from the host: the reply is queued for its due time.
void ServeTerminal(SSimulator& sim, int fd, std::uint64_t now)
{
    std::size_t n = 0;
    if (!ReadDevice(fd, sim.buffer, n) || n == 0)
        return;
    std::vector<std::uint8_t> reply;
    sim.ups.Receive(std::span(sim.buffer).first(n), now, reply);
    if (reply.empty())
        return;
    std::size_t queued = 0;
    for (const auto& item : sim.output)
        queued += item.bytes.size();
    if (queued + reply.size() > kMaxPendingOutput && !sim.output.empty())
        sim.output.pop_front();
    sim.output.push_back({now + sim.config.replyDelayMs, std::move(reply)});
}

void ServeReady(SSimulator& sim, std::uint64_t now)
{
    for (int fd : sim.ready) {
        if (fd == sim.signals.Get()) {
            if (ReadTerminationSignal(fd) != 0)
                sim.quit = true;
        } else if (fd == sim.terminal.MasterFd()) {
            ServeTerminal(sim, fd, now);
        } else if (sim.listener && fd == sim.listener.Get()) {
            CUniqueFd accepted = AcceptConnection(fd);
            if (accepted && sim.clients.size() < kMaxClients)
                sim.clients.push_back({std::move(accepted), {}});
        } else if (fd == 0) {
            std::size_t n = 0;
            if (!ReadDevice(0, std::span(sim.buffer), n) || n == 0) {
                sim.stdinOpen = false; // end of input: keep running on the other channels
                continue;
            }
            std::string_view text(reinterpret_cast<const char*>(sim.buffer.data()), n);
            HandleControlInput(sim.ups, sim.stdinPending, text, 1, sim.quit);
        }
    }
}

void ServeClients(SSimulator& sim)
{
    for (auto it = sim.clients.begin(); it != sim.clients.end();) {
        bool readable = std::find(sim.ready.begin(), sim.ready.end(), it->fd.Get()) != sim.ready.end();
        bool keep = true;
        if (readable) {
            std::size_t n = 0;
            if (!ReadDevice(it->fd.Get(), sim.buffer, n) || n == 0)
                keep = false; // the client went away
            else
                HandleControlInput(sim.ups, it->pending,
                                   std::string_view(reinterpret_cast<const char*>(sim.buffer.data()), n),
                                   it->fd.Get(), sim.quit);
        }
        it = keep ? it + 1 : sim.clients.erase(it);
    }
}

void Run(SSimulator& sim)
{
    while (!sim.quit) {
        std::uint64_t now = CurrentClock().MonotonicMilliseconds();
        WriteDueOutput(sim, now);
        WaitForInput(sim, WaitTime(sim, now));
        now = CurrentClock().MonotonicMilliseconds();
        ServeReady(sim, now);
        ServeClients(sim);
        sim.ups.Tick(now);
        std::vector<std::uint8_t> noise;
        sim.ups.TakeNoise(now, noise);
        if (!noise.empty())
            sim.output.push_back({now, std::move(noise)});
    }
}

void CleanUp(SSimulator& sim)
{
    sim.clients.clear();
    if (sim.listener)
        RemoveFile(sim.options.control);
    if (!sim.options.link.empty())
        RemoveFile(sim.options.link);
}

} // namespace

int main(int argc, char** argv)
{
    SOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        if (!error.empty())
            WriteText(2, "pvx-upssim: " + error + "\n");
        WriteText(error.empty() ? 1 : 2, kUsage);
        return error.empty() ? 0 : 2;
    }
    SSimConfig config;
    if (!LoadConfig(options, config))
        return 1;
    SSimulator sim(config);
    sim.options = options;
    sim.stdinOpen = options.useStdin;
    if (!OpenChannels(sim))
        return 1;
    sim.ups.SetLogger([&sim](const std::string& line) {
        if (sim.frameLog)
            WriteText(sim.frameLog.Get(), line + "\n");
        if (!sim.options.quiet)
            WriteText(2, line + "\n");
    });
    Announce(sim);
    Run(sim);
    CleanUp(sim);
    return 0;
}
