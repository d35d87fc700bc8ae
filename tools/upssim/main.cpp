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
        if (word == "-c" || word == "--config") {
            if (!value(options.config))
                return false;
        } else if (word == "-l" || word == "--link") {
            if (!value(options.link))
                return false;
        } else if (word == "-s" || word == "--control") {
            if (!value(options.control))
                return false;
        } else if (word == "-f" || word == "--frame-log") {
            if (!value(options.frameLog))
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

    SSimConfig config = DefaultSimConfig();
    if (!options.config.empty()) {
        std::string text;
        if (!ReadFileBounded(options.config, kMaxConfigBytes, false, text)) {
            WriteText(2, "pvx-upssim: cannot read " + options.config + "\n");
            return 1;
        }
        if (!ParseSimConfig(text, config, error)) {
            WriteText(2, "pvx-upssim: " + options.config + ": " + error + "\n");
            return 1;
        }
    }

    CUniqueFd signals = CreateTerminationSignalFd();
    CPseudoTerminal terminal;
    if (!signals || !terminal.Open() || !SetSocketBlocking(terminal.MasterFd(), false)) {
        WriteText(2, "pvx-upssim: cannot create the pseudo-terminal\n");
        return 1;
    }
    CUniqueFd frameLog;
    if (!options.frameLog.empty()) {
        frameLog = OpenLogFile(options.frameLog);
        if (!frameLog) {
            WriteText(2, "pvx-upssim: cannot write " + options.frameLog + "\n");
            return 1;
        }
    }
    CUniqueFd listener;
    if (!options.control.empty()) {
        listener = CreateLocalListener(options.control);
        if (!listener) {
            WriteText(2, "pvx-upssim: cannot listen on " + options.control + "\n");
            return 1;
        }
    }
    if (!options.link.empty() && !CreateSymbolicLink(terminal.SlavePath(), options.link)) {
        WriteText(2, "pvx-upssim: cannot create the link " + options.link + "\n");
        if (listener)
            RemoveFile(options.control);
        return 1;
    }

    CSimulatedUps ups(config);
    ups.SetLogger([&](const std::string& line) {
        if (frameLog)
            WriteText(frameLog.Get(), line + "\n");
        if (!options.quiet)
            WriteText(2, line + "\n");
    });

    PrintLine("device " + terminal.SlavePath() + "\n");
    if (!options.link.empty())
        PrintLine("link " + options.link + "\n");
    if (!options.control.empty())
        PrintLine("control " + options.control + "\n");
    PrintLine("ready\n");

    std::vector<SClient> clients;
    std::deque<SOutput> output;
    std::string stdinPending;
    bool stdinOpen = options.useStdin;
    bool quit = false;
    std::array<std::uint8_t, 512> buffer{};
    std::vector<int> fds;
    std::vector<int> ready;

    while (!quit) {
        std::uint64_t now = CurrentClock().MonotonicMilliseconds();
        // Write what is due; a host that does not read makes us keep at most
        // kMaxPendingOutput bytes and drop the oldest reply beyond that.
        while (!output.empty() && output.front().dueMs <= now) {
            auto& front = output.front();
            std::size_t n = 0;
            if (!WriteDevice(terminal.MasterFd(), front.bytes, n) || n == 0)
                break;
            front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(n));
            if (front.bytes.empty())
                output.pop_front();
        }
        std::uint32_t timeout = ups.MillisecondsToNextTick(now);
        if (!output.empty())
            timeout = output.front().dueMs > now
                ? std::min<std::uint32_t>(timeout, static_cast<std::uint32_t>(output.front().dueMs - now))
                : std::min<std::uint32_t>(timeout, 10);

        fds.clear();
        fds.push_back(terminal.MasterFd());
        fds.push_back(signals.Get());
        if (listener)
            fds.push_back(listener.Get());
        if (stdinOpen)
            fds.push_back(0);
        for (const auto& client : clients)
            fds.push_back(client.fd.Get());
        WaitReadable(fds, timeout, ready);
        now = CurrentClock().MonotonicMilliseconds();

        for (int fd : ready) {
            if (fd == signals.Get()) {
                if (ReadTerminationSignal(fd) != 0)
                    quit = true;
            } else if (fd == terminal.MasterFd()) {
                std::size_t n = 0;
                if (ReadDevice(fd, buffer, n) && n > 0) {
                    std::vector<std::uint8_t> reply;
                    ups.Receive(std::span(buffer).first(n), now, reply);
                    if (!reply.empty()) {
                        std::size_t queued = 0;
                        for (const auto& item : output)
                            queued += item.bytes.size();
                        if (queued + reply.size() > kMaxPendingOutput && !output.empty())
                            output.pop_front();
                        output.push_back({now + config.replyDelayMs, std::move(reply)});
                    }
                }
            } else if (listener && fd == listener.Get()) {
                CUniqueFd accepted = AcceptConnection(fd);
                if (accepted && clients.size() < kMaxClients)
                    clients.push_back({std::move(accepted), {}});
            } else if (fd == 0) {
                std::size_t n = 0;
                if (!ReadDevice(0, std::span(buffer), n) || n == 0) {
                    stdinOpen = false; // end of input: keep running on the other channels
                    continue;
                }
                std::string_view text(reinterpret_cast<const char*>(buffer.data()), n);
                HandleControlInput(ups, stdinPending, text, 1, quit);
            }
        }
        for (auto it = clients.begin(); it != clients.end();) {
            bool readable = std::find(ready.begin(), ready.end(), it->fd.Get()) != ready.end();
            bool keep = true;
            if (readable) {
                std::size_t n = 0;
                if (!ReadDevice(it->fd.Get(), buffer, n) || n == 0)
                    keep = false; // the client went away
                else
                    HandleControlInput(ups, it->pending,
                                       std::string_view(reinterpret_cast<const char*>(buffer.data()), n),
                                       it->fd.Get(), quit);
            }
            it = keep ? it + 1 : clients.erase(it);
        }
        ups.Tick(now);
    }

    clients.clear();
    if (listener)
        RemoveFile(options.control);
    if (!options.link.empty())
        RemoveFile(options.link);
    return 0;
}
