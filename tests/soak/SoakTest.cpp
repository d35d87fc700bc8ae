// Fault and load test of the real daemon: pvx polls the simulated UPS while a
// client on 127.0.0.1 sends an interleaved stream of valid SNMP requests,
// malformed messages, relay datagrams with and without the password and
// garbage, and the simulator goes through two rounds of faults (bad checksums,
// busy answers, spoiled and cut replies, then silence until the UPS is lost,
// and back). It checks that the daemon never exits, that every reply to a
// valid request is the right one, that nothing answers the malformed datagrams,
// that the UPS is lost and found again, and that resident memory after the
// second round is where it was after the first. The figures are printed.
#include "tests/support/Daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <span>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace pvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// ---- A minimal SNMPv1 codec, independent of the agent's own -----------------------------

Bytes Tlv(std::uint8_t tag, const Bytes& contents)
{
    Bytes out { tag };
    if (contents.size() < 0x80) {
        out.push_back(static_cast<std::uint8_t>(contents.size()));
    } else {
        // One byte at a time: gcc 12 misreads an insert of a list at -O2.
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(contents.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(contents.size()));
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes Integer(std::int32_t value)
{
    Bytes contents;
    for (int shift = 24; shift >= 0; shift -= 8)
        contents.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> shift));
    while (contents.size() > 1
        && ((contents[0] == 0 && contents[1] < 0x80) || (contents[0] == 0xFF && contents[1] >= 0x80)))
        contents.erase(contents.begin());
    return Tlv(0x02, contents);
}

Bytes Text(const std::string& text)
{
    return Tlv(0x04, Bytes(text.begin(), text.end()));
}

// "1.3.6.1.2.1.33.1.1.1.0" as BER.
Bytes Oid(const std::string& dotted)
{
    std::vector<std::uint32_t> arcs;
    std::istringstream in(dotted);
    for (std::string arc; std::getline(in, arc, '.');)
        arcs.push_back(static_cast<std::uint32_t>(std::stoul(arc)));
    Bytes contents { static_cast<std::uint8_t>(40 * arcs[0] + arcs[1]) };
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        Bytes groups { static_cast<std::uint8_t>(arcs[i] & 0x7F) };
        for (std::uint32_t rest = arcs[i] >> 7; rest != 0; rest >>= 7)
            groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (rest & 0x7F)));
        contents.insert(contents.end(), groups.begin(), groups.end());
    }
    return Tlv(0x06, contents);
}

const Bytes kNull { 0x05, 0x00 };

Bytes Request(const std::string& community, std::uint8_t pdu, std::int32_t requestId,
    const std::vector<std::pair<std::string, Bytes>>& bindings, std::int32_t version = 0)
{
    Bytes list;
    for (const auto& [name, value] : bindings) {
        Bytes binding = Oid(name);
        binding.insert(binding.end(), value.begin(), value.end());
        Bytes sequence = Tlv(0x30, binding);
        list.insert(list.end(), sequence.begin(), sequence.end());
    }
    Bytes body = Integer(requestId);
    for (const Bytes& part : { Integer(0), Integer(0), Tlv(0x30, list) })
        body.insert(body.end(), part.begin(), part.end());
    Bytes message = Integer(version);
    for (const Bytes& part : { Text(community), Tlv(pdu, body) })
        message.insert(message.end(), part.begin(), part.end());
    return Tlv(0x30, message);
}

// Reads TLVs from a received message; any overrun marks it broken.
class CTlvReader {
public:
    explicit CTlvReader(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes)
    {
    }

    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_at >= m_bytes.size(); }
    std::uint8_t PeekTag() const { return m_at < m_bytes.size() ? m_bytes[m_at] : 0; }

    // The contents of the next item; the reader moves past it.
    std::span<const std::uint8_t> Next(std::uint8_t& tag)
    {
        tag = 0;
        if (m_bytes.size() - m_at < 2)
            return Fail();
        tag = m_bytes[m_at++];
        std::size_t length = m_bytes[m_at++];
        if (length & 0x80) {
            std::size_t count = length & 0x7F;
            if (count == 0 || count > 2 || m_bytes.size() - m_at < count)
                return Fail();
            length = 0;
            for (std::size_t i = 0; i < count; ++i)
                length = (length << 8) | m_bytes[m_at++];
        }
        if (m_bytes.size() - m_at < length)
            return Fail();
        auto contents = m_bytes.subspan(m_at, length);
        m_at += length;
        return contents;
    }
    std::span<const std::uint8_t> Expect(std::uint8_t expected)
    {
        std::uint8_t tag = 0;
        auto contents = Next(tag);
        return tag == expected ? contents : Fail();
    }

private:
    std::span<const std::uint8_t> Fail()
    {
        m_ok = false;
        m_at = m_bytes.size();
        return {};
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

std::int64_t IntegerOf(std::span<const std::uint8_t> contents)
{
    std::int64_t value = contents.empty() ? 0 : static_cast<std::int8_t>(contents[0]);
    for (std::size_t i = 1; i < contents.size(); ++i)
        value = value * 256 + contents[i];
    return value;
}

std::string OidOf(std::span<const std::uint8_t> contents)
{
    if (contents.empty())
        return "";
    std::string text = std::to_string(contents[0] / 40) + "." + std::to_string(contents[0] % 40);
    std::uint64_t arc = 0;
    for (std::size_t i = 1; i < contents.size(); ++i) {
        arc = (arc << 7) | (contents[i] & 0x7F);
        if (!(contents[i] & 0x80)) {
            text += "." + std::to_string(arc);
            arc = 0;
        }
    }
    return text;
}

struct SBinding {
    std::string name;
    std::uint8_t tag = 0;
    Bytes value;
};

struct SMessage {
    bool ok = false;
    std::int64_t version = -1;
    std::string community;
    std::uint8_t pdu = 0;
    std::int64_t requestId = 0; // GetResponse
    std::int64_t errorStatus = -1;
    std::int64_t errorIndex = -1;
    std::int64_t genericTrap = -1; // Trap-PDU
    std::vector<SBinding> bindings;
};

SMessage Decode(std::span<const std::uint8_t> datagram)
{
    SMessage message;
    CTlvReader outer(datagram);
    CTlvReader reader(outer.Expect(0x30));
    message.version = IntegerOf(reader.Expect(0x02));
    auto community = reader.Expect(0x04);
    message.community.assign(community.begin(), community.end());
    auto pduContents = reader.Next(message.pdu);
    CTlvReader pdu(pduContents);
    if (message.pdu == 0xA4) {
        pdu.Expect(0x06); // enterprise
        pdu.Expect(0x40); // agent address
        message.genericTrap = IntegerOf(pdu.Expect(0x02));
        pdu.Expect(0x02); // specific trap
        pdu.Expect(0x43); // time stamp
    } else {
        message.requestId = IntegerOf(pdu.Expect(0x02));
        message.errorStatus = IntegerOf(pdu.Expect(0x02));
        message.errorIndex = IntegerOf(pdu.Expect(0x02));
    }
    CTlvReader list(pdu.Expect(0x30));
    while (list.Ok() && !list.AtEnd()) {
        CTlvReader binding(list.Expect(0x30));
        SBinding entry;
        entry.name = OidOf(binding.Expect(0x06));
        auto value = binding.Next(entry.tag);
        entry.value.assign(value.begin(), value.end());
        if (!binding.Ok())
            break;
        message.bindings.push_back(std::move(entry));
    }
    message.ok = outer.Ok() && reader.Ok() && pdu.Ok() && list.Ok();
    return message;
}

// ---- Sockets -----------------------------------------------------------------------------

class CUdpSocket {
public:
    CUdpSocket()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~CUdpSocket() { ::close(m_fd); }
    CUdpSocket(const CUdpSocket&) = delete;
    CUdpSocket& operator=(const CUdpSocket&) = delete;

    unsigned short Port() const
    {
        sockaddr_in address {};
        socklen_t size = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }
    void Send(unsigned short port, const Bytes& bytes) const
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // One datagram, waiting at most `timeout`.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout) const
    {
        pollfd entry { m_fd, POLLIN, 0 };
        if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        Bytes buffer(65536);
        ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n < 0)
            return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }

private:
    int m_fd = -1;
};

// ---- What the simulated UPS serves ----------------------------------------------------------

const std::string kUps = "1.3.6.1.2.1.33.1";
const std::string kManufacturer = kUps + ".1.1.0";
const std::string kModel = kUps + ".1.2.0";
const std::string kName = kUps + ".1.5.0";
const std::string kAttachedDevices = kUps + ".1.6.0";
const std::string kConfigInputVoltage = kUps + ".9.1.0";
const std::string kGetCommunity = "soakget";
const std::string kSetCommunity = "soakset";
const std::string kModelText = "Simul UPS 1500";
const Bytes kIdentityAnswer { 'p', 'v', 'x', 0 };
const std::string kPassword = "Kq4Tz9";

constexpr std::uint8_t kGenErr = 5;
// The daemon serves one datagram per pass of one to a few seconds, and
// datagrams queue ahead of each request.
constexpr auto kReplyWait = 15s;
constexpr auto kRelayWait = 10s;
#ifdef PVX_SOAK_SANITIZED
// The sanitizer's allocator keeps freed blocks and stack records for a while.
constexpr long kAllowedGrowthKiB = 2048;
#else
constexpr long kAllowedGrowthKiB = 256;
#endif

long ResidentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::size_t CountOccurrences(const std::string& text, const std::string& what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

struct SFigures {
    unsigned snmpSent = 0, snmpAnswered = 0, snmpAnsweredWithoutUps = 0, snmpDropped = 0, snmpLate = 0;
    unsigned relaySent = 0, relayAnswered = 0, relayDropped = 0, relayDroppedWhileAway = 0;
    unsigned relayWithPassword = 0, relayControlAnswered = 0;
    unsigned malformedSent = 0, wrongCommunitySent = 0, garbageSent = 0, noiseAnswered = 0;
    unsigned wrong = 0; // replies that are not the right answer
    unsigned authenticationTraps = 0, otherTraps = 0;
    unsigned faultsInjected = 0, upsLost = 0, upsFound = 0;
    long startKiB = 0, baselineKiB = 0, peakKiB = 0, finalKiB = 0;
};

// The client and the fault schedule, in one thread: each step sends one
// datagram, waits for the reply when one is due, samples memory and checks
// that the daemon still runs.
class CSoak {
public:
    CSoak(CSimulatedUps& ups, CPvxDaemon& daemon, CUdpSocket& traps)
        : m_ups(ups)
        , m_daemon(daemon)
        , m_traps(traps)
    {
    }

    SFigures& Figures() { return m_figures; }

    // The next kind of datagram, round and round.
    void Step()
    {
        switch (m_step++ % 8) {
        case 0:
            GetIdentity();
            break;
        case 1:
            SendGarbage(m_daemon.AgentPort());
            break;
        case 2:
            Relay(false);
            break;
        case 3:
            SendMalformed();
            break;
        case 4:
            Relay(true);
            break;
        case 5:
            SendGarbage(m_daemon.RelayPort());
            break;
        case 6:
            GetNextManufacturer();
            break;
        default:
            SetAttachedDevices();
            break;
        }
        Sample();
    }

    void Steps(int count)
    {
        for (int i = 0; i < count; ++i)
            Step();
    }

    // Steps until `done` holds; false when `limit` passes first.
    template <typename Predicate> bool StepUntil(Predicate done, std::chrono::seconds limit)
    {
        auto end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() >= end)
                return false;
            Step();
        }
        return true;
    }

    // Short faults the link must ride out, then silence until the UPS is
    // lost, and the UPS back until it is found again.
    void FaultRound()
    {
        for (const char* fault : { "fault badchecksum 2", "fault busy 2", "fault badstart 1", "fault truncate 1",
                 "fault foreign 1", "fault split 40" }) {
            Fault(fault);
            Steps(2);
        }
        Fault("fault clear");
        Steps(2);
        ASSERT_EQ(FoundCount(), m_figures.upsFound + 1) << "a short fault lost the UPS\n" << m_daemon.Stdout();

        Fault("fault silence on");
        m_silent = true;
        auto silenceStart = Clock::now();
        ASSERT_TRUE(StepUntil([this] { return m_upsAbsent; }, 60s)) << "the UPS was not given up within 60 s";
        // Six failed passes of one to a few seconds each.
        EXPECT_GE(Clock::now() - silenceStart, 6s);
        ++m_figures.upsLost;
        Note("the UPS is reported lost");

        Fault("fault silence off");
        std::size_t found = FoundCount();
        ASSERT_TRUE(StepUntil([&] { return FoundCount() > found; }, 60s)) << "the UPS was not found again within 60 s";
        ++m_figures.upsFound;
        Note("the UPS is found again");
        m_silent = false;
        // Requests queued before the UPS came back may still meet its
        // absence; after a few more steps an answer without a UPS is wrong.
        Steps(4);
        m_upsAbsent = false;
        Steps(4);
    }

    // A last request that waits behind everything queued, then the traps.
    void Finish()
    {
        GetIdentity();
        while (auto trap = m_traps.Receive(2s))
            CountTrap(*trap);
        Sample();
    }

    void Sample()
    {
        ASSERT_TRUE(m_daemon.IsRunning()) << "pvx exited\n" << m_daemon.Stderr();
        long kib = ResidentKiB(m_daemon.Pid());
        m_figures.peakKiB = std::max(m_figures.peakKiB, kib);
        while (auto trap = m_traps.Receive(0ms))
            CountTrap(*trap);
    }

    std::size_t FoundCount() const { return CountOccurrences(m_daemon.Stdout(), "UPS found is [" + kModelText + "]"); }

    // 0x89 frames the simulator received: only authorized ones may reach it.
    std::size_t ControlFramesAtUps() const
    {
        std::size_t count = 0;
        for (const auto& frame : m_ups.ReceivedFrames())
            if (frame.rfind("rx 89", 0) == 0)
                ++count;
        return count;
    }

private:
    // Events worth seeing when a figure is off, with the time and the last fault.
    void Note(const std::string& text)
    {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_start).count();
        std::printf(
            "%4lld s  %s (last fault: %s)\n", static_cast<long long>(seconds), text.c_str(), m_lastFault.c_str());
    }

    void Fault(const std::string& line)
    {
        m_lastFault = line;
        Note(line);
        EXPECT_EQ(m_ups.Control(line), "ok\n") << line;
        if (line != "fault clear" && line != "fault silence off")
            ++m_figures.faultsInjected;
    }

    // ---- Valid SNMP requests and the checks of their replies ------------------------------

    using Check = std::function<bool(const SMessage&)>;

    void Exchange(const std::string& community, std::uint8_t pdu,
        const std::vector<std::pair<std::string, Bytes>>& bindings, Check check)
    {
        std::int32_t id = ++m_requestId;
        m_expected[id] = check;
        m_snmp.Send(m_daemon.AgentPort(), Request(community, pdu, id, bindings));
        ++m_figures.snmpSent;
        auto end = Clock::now() + kReplyWait;
        while (Clock::now() < end) {
            auto datagram = m_snmp.Receive(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
            if (!datagram)
                break;
            SMessage reply = Decode(*datagram);
            bool current = reply.ok && reply.requestId == id;
            Judge(reply);
            if (current)
                return;
        }
        ++m_figures.snmpDropped;
        Note("SNMP request " + std::to_string(id) + " dropped");
    }

    // Every reply, current or late, is checked against what its request asked.
    void Judge(const SMessage& reply)
    {
        auto expected = m_expected.find(static_cast<std::int32_t>(reply.requestId));
        if (!reply.ok || reply.pdu != 0xA2 || expected == m_expected.end()) {
            ADD_FAILURE() << "a reply that answers no request";
            ++m_figures.wrong;
            return;
        }
        if (reply.requestId != m_requestId)
            ++m_figures.snmpLate;
        ++m_figures.snmpAnswered;
        if (reply.errorStatus == kGenErr && m_silent)
            m_upsAbsent = true;
        bool right = false;
        if (reply.errorStatus == kGenErr && reply.errorIndex == 0 && m_upsAbsent) {
            // While no UPS object exists every request is answered genErr.
            ++m_figures.snmpAnsweredWithoutUps;
            right = true;
        } else {
            right = reply.errorStatus == 0 && reply.errorIndex == 0 && expected->second(reply);
        }
        if (!right) {
            ++m_figures.wrong;
            ADD_FAILURE() << "wrong reply to request " << reply.requestId << ": status " << reply.errorStatus
                          << " index " << reply.errorIndex << ", " << reply.bindings.size() << " bindings";
        }
        m_expected.erase(expected);
    }

    static bool HasText(const SBinding& binding, const std::string& name, const std::string& text)
    {
        return binding.name == name && binding.tag == 0x04 && binding.value == Bytes(text.begin(), text.end());
    }

    void GetIdentity()
    {
        Exchange(kGetCommunity, 0xA0,
            { { kManufacturer, kNull }, { kModel, kNull }, { kName, kNull }, { kConfigInputVoltage, kNull } },
            [](const SMessage& reply) {
                return reply.bindings.size() == 4 && HasText(reply.bindings[0], kManufacturer, "Simul")
                    && HasText(reply.bindings[1], kModel, "UPS 1500") && HasText(reply.bindings[2], kName, "Soak UPS")
                    && reply.bindings[3].name == kConfigInputVoltage && reply.bindings[3].tag == 0x02
                    && IntegerOf(reply.bindings[3].value) == 230;
            });
    }

    void GetNextManufacturer()
    {
        Exchange(kGetCommunity, 0xA1, { { kUps + ".1", kNull } }, [](const SMessage& reply) {
            return reply.bindings.size() == 1 && HasText(reply.bindings[0], kManufacturer, "Simul");
        });
    }

    void SetAttachedDevices()
    {
        std::string text = "soak load " + std::to_string(m_requestId % 1000);
        Exchange(kSetCommunity, 0xA3, { { kAttachedDevices, Text(text) } }, [text](const SMessage& reply) {
            return reply.bindings.size() == 1 && HasText(reply.bindings[0], kAttachedDevices, text);
        });
    }

    // ---- Relay ---------------------------------------------------------------------------

    // Identity query, then output-on (a control command, harmless while the
    // output is on), with or without the password frame between them.
    void Relay(bool withPassword)
    {
        Bytes request = XcpFrame({ 0x00 });
        if (withPassword) {
            Bytes password = XcpFrame({ 0xCF, 'K', 'q', '4', 'T', 'z', '9' });
            request.insert(request.end(), password.begin(), password.end());
            ++m_figures.relayWithPassword;
        }
        Bytes control = XcpFrame({ 0x89 });
        request.insert(request.end(), control.begin(), control.end());

        CUdpSocket client; // a fresh socket: a late reply cannot meet a later request
        bool away = m_silent;
        client.Send(m_daemon.RelayPort(), request);
        ++m_figures.relaySent;
        // Without a UPS object the relay drops every datagram.
        auto reply = client.Receive(m_silent && m_upsAbsent ? 3s : kRelayWait);
        if (!reply) {
            ++m_figures.relayDropped;
            Note("relay request dropped" + std::string(withPassword ? " (with the password)" : ""));
            // From silence until the UPS is found again the relay may have no UPS object to ask.
            if (away || m_silent)
                ++m_figures.relayDroppedWhileAway;
            return;
        }
        ++m_figures.relayAnswered;
        bool right = reply->size() >= 4 && Bytes(reply->begin(), reply->begin() + 4) == kIdentityAnswer;
        if (right && reply->size() > 4) {
            // The UPS's command status for 0x89, re-framed by the link: one
            // block whose number is the status (0x31 accepted) and whose data
            // is the status and the echoed command, then a zero to an even length.
            Bytes block(reply->begin() + 4, reply->end());
            std::size_t length = block.size() >= 3 ? block[2] + 5u : 0;
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i < length && i < block.size(); ++i)
                sum = static_cast<std::uint8_t>(sum + block[i]);
            right = withPassword && length == 7 && block.size() - length <= 1 && block[0] == 0xAB
                && block[1] == block[4] && block[5] == 0x89 && sum == 0;
            if (right)
                ++m_figures.relayControlAnswered;
        }
        if (!right) {
            ++m_figures.wrong;
            ADD_FAILURE() << "wrong relay reply of " << reply->size() << " bytes"
                          << (withPassword ? " with" : " without") << " the password";
        }
    }

    // ---- Noise: nothing may answer it ----------------------------------------------------

    void SendMalformed()
    {
        const Bytes valid = Request(kGetCommunity, 0xA0, 999999, { { kManufacturer, kNull } });
        Bytes truncated(valid.begin(), valid.end() - 5);
        Bytes trailing = valid;
        trailing.push_back(0x00);
        struct SKind {
            Bytes bytes;
            bool authenticationFailure; // answered by a trap instead
        };
        const SKind kinds[] = {
            { truncated, false }, { trailing, false },
            { Request("wrong-community", 0xA0, 999999, { { kManufacturer, kNull } }), true },
            { Request(kGetCommunity, 0xA0, 999999, { { kManufacturer, kNull } }, 1), false }, // SNMPv2c
            { Request(kGetCommunity, 0xA2, 999999, { { kManufacturer, kNull } }), false }, // a GetResponse
            { Request(kGetCommunity, 0xA3, 999999, { { kAttachedDevices, Text("x") } }), true }, // set, get community
        };
        const SKind& kind = kinds[m_malformed++ % std::size(kinds)];
        if (kind.authenticationFailure)
            ++m_figures.wrongCommunitySent;
        m_noise.Send(m_daemon.AgentPort(), kind.bytes);
        ++m_figures.malformedSent;
        CountNoiseReplies();
    }

    void SendGarbage(unsigned short port)
    {
        std::uniform_int_distribution<int> size(1, 1400), byte(0, 255);
        Bytes garbage(static_cast<std::size_t>(size(m_random)));
        for (auto& b : garbage)
            b = static_cast<std::uint8_t>(byte(m_random));
        // Neither an SNMP message nor an XCP frame: those are the other steps' business.
        if (garbage[0] == 0x30 || garbage[0] == 0xAB)
            garbage[0] = 0x00;
        m_noise.Send(port, garbage);
        ++m_figures.garbageSent;
        CountNoiseReplies();
    }

    void CountNoiseReplies()
    {
        while (m_noise.Receive(0ms))
            ++m_figures.noiseAnswered;
    }

    void CountTrap(const Bytes& datagram)
    {
        SMessage trap = Decode(datagram);
        if (trap.ok && trap.pdu == 0xA4 && trap.genericTrap == 4)
            ++m_figures.authenticationTraps;
        else
            ++m_figures.otherTraps;
    }

    CSimulatedUps& m_ups;
    CPvxDaemon& m_daemon;
    CUdpSocket& m_traps;
    CUdpSocket m_snmp;
    CUdpSocket m_noise;
    std::mt19937 m_random { 20240607 };
    std::int32_t m_requestId = 0;
    std::map<std::int32_t, Check> m_expected;
    unsigned m_malformed = 0;
    unsigned m_step = 0;
    Clock::time_point m_start = Clock::now();
    std::string m_lastFault = "none";
    bool m_silent = false;
    bool m_upsAbsent = false;
    SFigures m_figures;
};

void PrintFigures(const SFigures& f, const CSoak& soak, std::chrono::seconds duration)
{
    std::printf("\n== soak figures (%lld s)\n", static_cast<long long>(duration.count()));
    std::printf("SNMP requests        %5u sent, %5u answered (%u genErr while the UPS was lost, %u late), %u dropped\n",
        f.snmpSent, f.snmpAnswered, f.snmpAnsweredWithoutUps, f.snmpLate, f.snmpDropped);
    std::printf("relay requests       %5u sent, %5u answered, %u dropped (%u while the UPS was away); %u with the "
                "password, %u control answers\n",
        f.relaySent, f.relayAnswered, f.relayDropped, f.relayDroppedWhileAway, f.relayWithPassword,
        f.relayControlAnswered);
    std::printf("control frames at the UPS: %zu (at most one per password)\n", soak.ControlFramesAtUps());
    std::printf("malformed SNMP       %5u sent (%u with a wrong community); garbage %u sent; %u of these answered\n",
        f.malformedSent, f.wrongCommunitySent, f.garbageSent, f.noiseAnswered);
    std::printf("traps                %5u authenticationFailure, %u others\n", f.authenticationTraps, f.otherTraps);
    std::printf(
        "faults injected      %5u; UPS lost %u times, found again %u times\n", f.faultsInjected, f.upsLost, f.upsFound);
    std::printf("wrong replies        %5u\n", f.wrong);
    std::printf("resident memory      start %ld KiB, after the first round %ld KiB, peak %ld KiB, final %ld KiB\n",
        f.startKiB, f.baselineKiB, f.peakKiB, f.finalKiB);
    std::fflush(stdout);
}

TEST(Soak, DaemonServesThroughLoadAndUpsFaultsWithoutGrowing)
{
    CTempDir folder;
    CSimulatedUps ups(folder.Path());
    ASSERT_TRUE(ups.IsReady());
    CUdpSocket traps;
    SDaemonOptions options;
    options.snmp = true;
    options.managerPort = traps.Port();
    options.extraIni
        = "[SNMP]\nGetCommunity=" + kGetCommunity + "\nSetCommunity=" + kSetCommunity + "\n[UPSIdent]\nName=Soak UPS\n";
    CPvxDaemon daemon(folder.Path(), ups.DevicePath(), options);
    ASSERT_TRUE(daemon.WaitForStdout("UPS found is [" + kModelText + "]", 30s)) << daemon.Stderr();

    auto start = Clock::now();
    CSoak soak(ups, daemon, traps);
    SFigures& figures = soak.Figures();
    figures.startKiB = ResidentKiB(daemon.Pid());

    // The first round brings every path of the daemon to its working size:
    // the memory after it is the baseline the second round must keep.
    soak.Steps(8);
    soak.FaultRound();
    ASSERT_FALSE(HasFatalFailure());
    figures.baselineKiB = ResidentKiB(daemon.Pid());
    soak.FaultRound();
    ASSERT_FALSE(HasFatalFailure());
    soak.Finish();
    figures.finalKiB = ResidentKiB(daemon.Pid());
    auto duration = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
    PrintFigures(figures, soak, duration);

    EXPECT_TRUE(daemon.IsRunning());
    EXPECT_EQ(figures.wrong, 0u);
    EXPECT_EQ(figures.noiseAnswered, 0u) << "malformed datagrams and garbage must get no reply";
    // authenticationFailure traps are bounded to one per source per 10 s: the
    // noise comes from one address, so one trap per 10 s of the run at most.
    if (figures.wrongCommunitySent > 0) {
        EXPECT_GE(figures.authenticationTraps, 1u);
    }
    EXPECT_LE(figures.authenticationTraps,
        std::min<unsigned>(figures.wrongCommunitySent, static_cast<unsigned>(duration.count() / 10 + 1)));
    EXPECT_LE(soak.ControlFramesAtUps(), figures.relayWithPassword) << "a control command reached the UPS unlocked";
    EXPECT_EQ(figures.upsLost, 2u);
    EXPECT_EQ(soak.FoundCount(), 3u) << "the short faults must not lose the UPS";
    // Nothing is lost: the agent answers even without a UPS (genErr), and
    // the relay drops datagrams only while it has no UPS object to ask.
    EXPECT_EQ(figures.snmpDropped, 0u);
    EXPECT_EQ(figures.relayDropped, figures.relayDroppedWhileAway);
    EXPECT_GT(figures.relayControlAnswered, 0u);
    EXPECT_LE(figures.finalKiB, figures.baselineKiB + kAllowedGrowthKiB) << "resident memory grew";
}

} // namespace
} // namespace pvx::test
