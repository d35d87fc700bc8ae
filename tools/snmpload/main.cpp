// pvx-snmpload: an SNMP load generator for benchmarks. It keeps K requests in
// flight against one agent for a given time or count, matches the replies by
// request-id and prints one line of figures.
#include "platform/ByteCursor.h"
#include "platform/Portability.h"
#include "tools/snmpload/LoadCodec.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

using namespace pvx;
using namespace pvx::snmpload;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kMaxInFlight = 1024;
constexpr std::size_t kMaxNames = 64;
constexpr double kMaxSeconds = 3600;
// Latencies kept for the percentiles; beyond this the run goes on uncounted
// in the percentiles only (a bound on the memory, 80 MB).
constexpr std::size_t kMaxSamples = 20'000'000;

const char* const kUsage =
    "usage: pvx-snmpload -p PORT [options] OID...\n"
    "Keeps K SNMP requests in flight against one agent and prints one line of figures.\n"
    "  -p PORT        the agent's UDP port\n"
    "  -a ADDRESS     the agent's IPv4 address (default 127.0.0.1)\n"
    "  -s ADDRESS     the local address to send from (default 127.0.0.1)\n"
    "  -v 1|2c        SNMP version (default 1)\n"
    "  -c COMMUNITY   community (default gavrel)\n"
    "  -o get|next|bulk  the request (default get; bulk needs -v 2c)\n"
    "  -r N           max-repetitions of a GetBulk (default 10)\n"
    "  -n N           non-repeaters of a GetBulk (default 0)\n"
    "  -k K           requests in flight, 1 to 1024 (default 1)\n"
    "  -d SECONDS     how long to send, up to 3600 (default 5)\n"
    "  -N COUNT       stop after COUNT requests (default: only the time bounds the run)\n"
    "  -t MS          a request without a reply after MS ms is lost, 1 to 60000 (default 1000)\n"
    "  -l LABEL       a word that starts the output line\n"
    "Output: key=value pairs; latencies in microseconds; rps counts answered requests.\n";

struct SOptions {
    std::uint16_t port = 0;
    std::uint32_t address = 0; // network byte order
    std::uint32_t source = 0;
    SRequest request;
    std::size_t inFlight = 1;
    double seconds = 5;
    std::uint64_t count = 0;
    std::uint32_t timeoutMs = 1000;
    std::string label;
};

void WriteError(const std::string& text)
{
    const std::string line = "pvx-snmpload: " + text + "\n";
    std::size_t n = 0;
    WriteDevice(2, AsBytes(line), n);
}

bool ParseNumber(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& value)
{
    if (text.empty() || text.size() > 12)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value >= low && value <= high;
}

// Dotted IPv4 text to network byte order.
bool ParseAddress(std::string_view text, std::uint32_t& address)
{
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? text.find('.') : text.size();
        std::uint64_t value = 0;
        if (dot == std::string_view::npos || !ParseNumber(text.substr(0, dot), 0, 255, value))
            return false;
        bytes[i] = static_cast<std::uint8_t>(value);
        text.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    std::uint32_t result = 0;
    std::copy(bytes, bytes + 4, reinterpret_cast<std::uint8_t*>(&result));
    address = result;
    return true;
}

bool ParseSeconds(std::string_view text, double& seconds)
{
    // Whole and tenths, e.g. "5" or "2.5"; nothing finer is needed.
    const std::size_t dot = text.find('.');
    std::uint64_t whole = 0, tenths = 0;
    if (!ParseNumber(text.substr(0, dot), 0, static_cast<std::uint64_t>(kMaxSeconds), whole))
        return false;
    if (dot != std::string_view::npos && !ParseNumber(text.substr(dot + 1), 0, 9, tenths))
        return false;
    seconds = static_cast<double>(whole) + static_cast<double>(tenths) / 10;
    return seconds >= 0.1 && seconds <= kMaxSeconds;
}

// Returns 0 when the options are usable, else the exit status.
int ParseOptions(int argc, char** argv, SOptions& options)
{
    options.request.community = "gavrel";
    options.request.maxRepetitions = 10;
    ParseAddress("127.0.0.1", options.address);
    options.source = options.address;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "-h" || word == "--help") {
            PrintLine(kUsage);
            return -1;
        }
        if (!word.starts_with('-') || word.size() != 2) {
            if (options.request.names.size() == kMaxNames) {
                WriteError("at most 64 names");
                return 2;
            }
            std::vector<std::uint32_t> arcs;
            if (!ParseOid(word, arcs)) {
                WriteError("not an object identifier: " + std::string(word));
                return 2;
            }
            options.request.names.push_back(std::move(arcs));
            continue;
        }
        if (i + 1 >= argc) {
            WriteError(std::string(word) + " needs a value");
            return 2;
        }
        const std::string_view value = argv[++i];
        // A whole number from `low` to `high` into `target`.
        auto number = [value](auto& target, std::uint64_t low, std::uint64_t high) {
            std::uint64_t parsed = 0;
            const bool ok = ParseNumber(value, low, high, parsed);
            target = static_cast<std::remove_reference_t<decltype(target)>>(parsed);
            return ok;
        };
        bool ok = true;
        switch (word[1]) {
        case 'p':
            ok = number(options.port, 1, 65535);
            break;
        case 'a':
            ok = ParseAddress(value, options.address);
            break;
        case 's':
            ok = ParseAddress(value, options.source);
            break;
        case 'v':
            ok = value == "1" || value == "2c";
            options.request.version = value == "2c" ? kVersion2c : kVersion1;
            break;
        case 'c':
            ok = value.size() <= 255;
            options.request.community = std::string(value);
            break;
        case 'o':
            ok = ParseOperation(value, options.request.operation);
            break;
        case 'r':
            ok = number(options.request.maxRepetitions, 0, 1000);
            break;
        case 'n':
            ok = number(options.request.nonRepeaters, 0, 1000);
            break;
        case 'k':
            ok = number(options.inFlight, 1, kMaxInFlight);
            break;
        case 'd':
            ok = ParseSeconds(value, options.seconds);
            break;
        case 'N':
            ok = number(options.count, 1, 1'000'000'000);
            break;
        case 't':
            ok = number(options.timeoutMs, 1, 60000);
            break;
        case 'l':
            ok = value.size() <= 64 && value.find(' ') == std::string_view::npos;
            options.label = std::string(value);
            break;
        default:
            ok = false;
        }
        if (!ok) {
            WriteError("bad option " + std::string(word) + " " + std::string(value) + "\n" + kUsage);
            return 2;
        }
    }
    const bool bulkVersionOk = options.request.operation != EOperation::GetBulk || options.request.version == kVersion2c;
    if (options.port == 0 || options.request.names.empty() || !bulkVersionOk) {
        WriteError(!bulkVersionOk ? "GetBulk needs -v 2c" : std::string("a port and a name are needed\n") + kUsage);
        return 2;
    }
    return 0;
}

struct SSlot {
    bool busy = false;
    std::int32_t requestId = 0;
    std::uint32_t generation = 0;
    Clock::time_point sent;
};

struct SCounts {
    std::uint64_t sent = 0, answered = 0, lost = 0, late = 0, errors = 0, exceptions = 0, bindings = 0,
                  trailing = 0, foreign = 0;
    std::vector<std::uint32_t> latencies; // microseconds
};

// The request-id names its slot in the low bits and the slot's generation
// above them, so a reply finds its request without a search and a late reply
// to an earlier request in the same slot is told apart. Bit 30 keeps every id
// four bytes long, so that one encoded request serves them all.
constexpr std::uint32_t kRequestIdBase = 0x40000000;

std::int32_t MakeRequestId(std::size_t slot, std::uint32_t generation)
{
    return static_cast<std::int32_t>(kRequestIdBase | ((generation & 0xFFFFF) << 10) | static_cast<std::uint32_t>(slot));
}

std::uint32_t Percentile(const std::vector<std::uint32_t>& sorted, double share)
{
    if (sorted.empty())
        return 0;
    auto index = static_cast<std::size_t>(share * static_cast<double>(sorted.size()));
    return sorted[std::min(index, sorted.size() - 1)];
}

std::string FormatAddress(std::uint32_t address)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "."
        + std::to_string(bytes[3]);
}

} // namespace

int main(int argc, char** argv)
{
    SOptions options;
    if (int status = ParseOptions(argc, argv, options); status != 0)
        return status < 0 ? 0 : status;

    CUniqueFd socket = CreateSocket(2, 1, 0);
    if (!socket || !SetSocketBlocking(socket.Get(), false) || !BindSocket(socket.Get(), 0, options.source)) {
        WriteError("cannot open a UDP socket on " + FormatAddress(options.source) + " (error "
            + std::to_string(GetLastError()) + ")");
        return 1;
    }

    std::vector<SSlot> slots(options.inFlight);
    std::vector<std::size_t> freeSlots;
    for (std::size_t i = slots.size(); i-- > 0;)
        freeSlots.push_back(i);
    SCounts counts;
    counts.latencies.reserve(std::min<std::size_t>(kMaxSamples, 1 << 20));
    SDatagram outgoing;
    outgoing.address = options.address;
    outgoing.port = options.port;
    SDatagram incoming;
    SRequest request = options.request;
    request.requestId = static_cast<std::int32_t>(kRequestIdBase);
    std::size_t requestIdAt = 0;
    const auto encoded = EncodeRequest(request, requestIdAt);
    if (encoded.size() > outgoing.data.size()) {
        WriteError("the request does not fit in one datagram");
        return 2;
    }
    std::copy(encoded.begin(), encoded.end(), outgoing.data.begin());
    outgoing.length = static_cast<std::uint32_t>(encoded.size());
    const auto timeout = std::chrono::milliseconds(options.timeoutMs);
    const auto start = Clock::now();
    const auto sendUntil = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
    auto lastReply = start;
    bool sendFailed = false;

    // Sends until the time or count is spent, then waits for what is still
    // in flight; each request waits at most its time-out, so the run ends.
    for (;;) {
        auto now = Clock::now();
        const bool sending = now < sendUntil && (options.count == 0 || counts.sent < options.count) && !sendFailed;
        while (sending && !freeSlots.empty()) {
            const std::size_t index = freeSlots.back();
            SSlot& slot = slots[index];
            slot.generation++;
            slot.requestId = MakeRequestId(index, slot.generation);
            for (int i = 0; i < 4; ++i)
                outgoing.data[requestIdAt + static_cast<std::size_t>(i)]
                    = static_cast<std::uint8_t>(static_cast<std::uint32_t>(slot.requestId) >> (24 - 8 * i));
            slot.sent = Clock::now();
            if (!SendTo(socket.Get(), outgoing)) {
                // A full socket buffer: try again once replies have drained.
                if (GetLastError() != EAGAIN && GetLastError() != ENOBUFS) {
                    WriteError("sending failed (error " + std::to_string(GetLastError()) + ")");
                    sendFailed = true;
                }
                break;
            }
            freeSlots.pop_back();
            slot.busy = true;
            counts.sent++;
            if (options.count != 0 && counts.sent >= options.count)
                break;
        }
        if (freeSlots.size() == slots.size() && !sending)
            break;

        // Wait for a reply, at most until the oldest request's time-out.
        auto wakeUp = now + std::chrono::milliseconds(50);
        for (const SSlot& slot : slots)
            if (slot.busy)
                wakeUp = std::min(wakeUp, slot.sent + timeout);
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wakeUp - now).count();
        if (WaitReadable(socket.Get(), static_cast<std::uint32_t>(std::max<long long>(waitMs, 0) + 1)) > 0) {
            while (ReceiveFrom(socket.Get(), incoming)) {
                const auto at = Clock::now();
                SReply reply;
                if (!DecodeReply(incoming.Bytes(), reply) || reply.requestId < 0) {
                    counts.foreign++;
                    continue;
                }
                const auto index = static_cast<std::size_t>(reply.requestId & 0x3FF);
                if (index >= slots.size()) {
                    counts.foreign++;
                    continue;
                }
                SSlot& slot = slots[index];
                // A reply after its time-out: the slot went on to another request or waits.
                if (!slot.busy || slot.requestId != reply.requestId) {
                    counts.late++;
                    continue;
                }
                slot.busy = false;
                freeSlots.push_back(index);
                lastReply = at;
                counts.answered++;
                counts.errors += reply.errorStatus != 0 ? 1 : 0;
                counts.exceptions += reply.exceptions;
                counts.bindings += reply.bindings;
                counts.trailing += reply.trailing != 0 ? 1 : 0;
                if (counts.latencies.size() < kMaxSamples)
                    counts.latencies.push_back(static_cast<std::uint32_t>(
                        std::chrono::duration_cast<std::chrono::microseconds>(at - slot.sent).count()));
            }
        }
        now = Clock::now();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (slots[i].busy && now - slots[i].sent >= timeout) {
                slots[i].busy = false;
                freeSlots.push_back(i);
                counts.lost++;
            }
        }
    }

    std::sort(counts.latencies.begin(), counts.latencies.end());
    const double seconds = std::chrono::duration<double>(lastReply - start).count();
    const double rate = seconds > 0 ? static_cast<double>(counts.answered) / seconds : 0;
    char figures[512];
    std::snprintf(figures, sizeof figures,
        "op=%s version=%s k=%zu source=%s sent=%llu answered=%llu lost=%llu late=%llu errors=%llu "
        "exceptions=%llu bindings=%llu trailing=%llu foreign=%llu seconds=%.3f rps=%.0f "
        "p50_us=%u p90_us=%u p99_us=%u max_us=%u",
        OperationWord(options.request.operation), options.request.version == kVersion2c ? "2c" : "1",
        options.inFlight, FormatAddress(options.source).c_str(), static_cast<unsigned long long>(counts.sent),
        static_cast<unsigned long long>(counts.answered), static_cast<unsigned long long>(counts.lost),
        static_cast<unsigned long long>(counts.late), static_cast<unsigned long long>(counts.errors),
        static_cast<unsigned long long>(counts.exceptions), static_cast<unsigned long long>(counts.bindings),
        static_cast<unsigned long long>(counts.trailing), static_cast<unsigned long long>(counts.foreign), seconds,
        rate, Percentile(counts.latencies, 0.50), Percentile(counts.latencies, 0.90),
        Percentile(counts.latencies, 0.99), counts.latencies.empty() ? 0 : counts.latencies.back());
    PrintLine((options.label.empty() ? "" : options.label + " ") + figures + "\n");
    return sendFailed ? 1 : 0;
}
