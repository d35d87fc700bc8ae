// The relay's frame walk: identity query, password frame, forwarding rules,
// the reply bound and padding, and datagrams over 127.0.0.1.
#include "config/INIFile.h"
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "relay/NetXCPAgent.h"
#include "ups/AbstractUPS.h"
#include "ups/XCPEmulation.h"
#include "xcp/link/XCPCommandTable.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>

using namespace pvx;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Records the frames it is given and answers each with a scripted reply.
class CRecordingUPS : public CAbstractUPS {
public:
    explicit CRecordingUPS(CINIFile* file) : CAbstractUPS(nullptr, file) { Start(); }
    int GetUPSType() override { return 2; }
    void Identify() override {}
    void ReadValues() override {}
    std::vector<std::uint8_t> ProcessXCPRequest(std::span<const std::uint8_t> frame) override
    {
        frames.emplace_back(frame.begin(), frame.end());
        if (frame[2] == 0x77)
            throw CPVXException(EVENT_TIMEOUT);
        return Bytes(replyLength, frame[2]);
    }
    std::vector<Bytes> frames;
    std::size_t replyLength = 3;
};

Bytes Frame(std::initializer_list<std::uint8_t> contents)
{
    Bytes frame{0xAB, static_cast<std::uint8_t>(contents.size())};
    for (std::uint8_t byte : contents) // element by element: gcc 12 misreads an insert of a list at -O2
        frame.push_back(byte);
    std::uint8_t sum = 0;
    for (auto b : frame)
        sum = static_cast<std::uint8_t>(sum + b);
    frame.push_back(static_cast<std::uint8_t>(-sum));
    return frame;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Password(const char* six) { return Frame({0xCF, std::uint8_t(six[0]), std::uint8_t(six[1]), std::uint8_t(six[2]), std::uint8_t(six[3]), std::uint8_t(six[4]), std::uint8_t(six[5])}); }

class RelayTest : public ::testing::Test {
protected:
    CINIFile m_file{"/nonexistent/pvx.ini"};
    CRecordingUPS m_ups{&m_file};
    CNetXCPAgent m_relay{"secret", 0, htonl(INADDR_LOOPBACK)};

    Bytes Answer(const Bytes& request, std::uint32_t source = 0)
    {
        SDatagram reply;
        reply.address = source;
        m_relay.ProcessDatagram(m_ups, request, reply);
        return Bytes(reply.data.begin(), reply.data.begin() + reply.length);
    }
    std::vector<std::uint8_t> Commands() const
    {
        std::vector<std::uint8_t> commands;
        for (const auto& f : m_ups.frames)
            commands.push_back(f[2]);
        return commands;
    }
};

} // namespace

// A password guesser is paused after a few wrong passwords, for longer after
// each further one; another source is not; everything is counted, and the
// log hears of the ignored frames once a minute at most.
TEST_F(RelayTest, WrongPasswordsPauseTheirSource)
{
    CFakeClock clock(1000000, 1700000000);
    clock.Advance(10000000);
    CScopedClock scoped(clock);
    const std::uint32_t guesser = htonl(0x7F000002), operatorHost = htonl(0x7F000003);
    const Bytes wrong = Join({Password("guess!"), Frame({0x8B})});
    const Bytes right = Join({Password("secret"), Frame({0x8B})});
    struct SStep {
        const char* name;
        std::uint32_t afterMs; // the clock moves on this much first
        std::uint32_t source;
        const Bytes* request;
        bool forwarded;
    };
    const SStep steps[] = {
        {"three free tries", 0, guesser, &wrong, false},
        {"", 0, guesser, &wrong, false},
        {"", 0, guesser, &wrong, false},
        {"paused: even the right password is ignored", 10, guesser, &right, false},
        {"another source's right password works", 0, operatorHost, &right, true},
        {"after the first second one more try", 1000, guesser, &wrong, false},
        {"then two seconds' pause", 1500, guesser, &right, false},
        {"after them the right password works", 600, guesser, &right, true},
        {"and the source starts afresh", 0, guesser, &wrong, false},
    };
    testing::internal::CaptureStderr();
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        clock.Advance(step.afterMs);
        m_ups.frames.clear();
        Answer(*step.request, step.source);
        EXPECT_EQ(!m_ups.frames.empty(), step.forwarded);
        m_relay.BeginPass(); // where the loop lets the relay report
    }
    const std::string log = testing::internal::GetCapturedStderr();
    const SNetworkCounters& counters = m_relay.GetCounters();
    EXPECT_EQ(counters.relayPasswordsRight, 2u);
    EXPECT_EQ(counters.relayPasswordsWrong, 5u);
    EXPECT_EQ(counters.relayPasswordsIgnored, 2u);
    EXPECT_NE(log.find("1 relay password frame ignored, the last from 127.0.0.2"), std::string::npos) << log;
    EXPECT_EQ(log.find("since the last report"), std::string::npos) << "one report a minute: " << log;

    // From all sources together only so many are checked a second.
    clock.Advance(1000);
    for (std::uint32_t i = 0; i < 50; ++i)
        Answer(wrong, htonl(0x7F010000 + i));
    EXPECT_EQ(counters.relayPasswordsWrong, 5u + CPasswordGuard::kChecksPerSecond);
}

TEST_F(RelayTest, IdentityLinesAreOneASourceAMinute)
{
    CFakeClock clock(1000000, 1700000000);
    clock.Advance(10000000);
    CScopedClock scoped(clock);
    Bytes queries;
    for (int i = 0; i < 256; ++i)
        queries = Join({queries, Frame({0x00})});
    testing::internal::CaptureStdout();
    EXPECT_EQ(Answer(queries, htonl(0x7F000002)).size(), 1024u) << "every query is answered";
    Answer(Frame({0x00}), htonl(0x7F000003));
    clock.Advance(60000);
    Answer(Frame({0x00}), htonl(0x7F000002));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "requested pvx\nrequested pvx\nrequested pvx (255 more from 127.0.0.2 held back)\n");
    EXPECT_EQ(m_relay.GetCounters().relayIdentityLinesHeldBack, 255u);
}

TEST_F(RelayTest, ForwardingRules)
{
    struct Case {
        const char* name;
        Bytes request;
        std::vector<std::uint8_t> forwarded;
        Bytes reply;
    };
    const std::vector<Case> cases = {
        {"identity query answered by the relay", Frame({0x00}), {}, {'p', 'v', 'x', 0}},
        {"simple request forwarded, odd reply padded", Frame({0x31}), {0x31}, {0x31, 0x31, 0x31, 0}},
        {"0x88 needs no password", Frame({0x88, 1}), {0x88}, {0x88, 0x88, 0x88, 0}},
        {"password unlocks one command above 0x88",
         Join({Password("secret"), Frame({0x93, 2, 0}), Frame({0x8B})}), {0x93}, {0x93, 0x93, 0x93, 0}},
        {"no password, nothing forwarded, no reply", Join({Frame({0x93, 2, 0}), Frame({0x8B})}), {}, {}},
        {"wrong password unlocks nothing", Join({Password("secreT"), Frame({0x8B})}), {}, {}},
        {"0xCE forwarded without password and consumes it",
         Join({Password("secret"), Frame({0xCE, 1}), Frame({0x8B})}), {0xCE}, {0xCE, 0xCE, 0xCE, 0}},
        {"password frame of another length ignored", Join({Frame({0xCF, 's', 'e', 'c', 'r', 'e', 't', 'x'}), Frame({0x8B})}),
         {}, {}},
        {"bytes after the last whole frame ignored", Join({Frame({0x31}), Bytes{0xAB, 0x05, 0x31}}), {0x31},
         {0x31, 0x31, 0x31, 0}},
        {"frame running past the datagram ends the walk", Join({Bytes{0xAB, 0x09, 0x31, 0, 0}}), {}, {}},
        {"walk stops at a byte that starts no frame", Join({Bytes{0x00, 0xAB, 0x01, 0x31, 0x23}}), {}, {}},
        {"a failing frame contributes nothing", Join({Frame({0x77}), Frame({0x33})}), {0x77, 0x33},
         {0x33, 0x33, 0x33, 0}},
        {"empty datagram", {}, {}, {}},
    };
    for (const auto& c : cases) {
        m_ups.frames.clear();
        EXPECT_EQ(Answer(c.request), c.reply) << c.name;
        EXPECT_EQ(Commands(), c.forwarded) << c.name;
    }
}

TEST_F(RelayTest, ForwardedFramesAreExactlyTheRequestFrames)
{
    Bytes request = Join({Frame({0x34}), Frame({0x36, 1, 2})});
    Answer(request);
    ASSERT_EQ(m_ups.frames.size(), 2u);
    EXPECT_EQ(m_ups.frames[0], Frame({0x34}));
    EXPECT_EQ(m_ups.frames[1], Frame({0x36, 1, 2}));
}

TEST_F(RelayTest, ReplyNeverExceedsOneDatagram)
{
    m_ups.replyLength = 600;
    // Two replies of 600 bytes would need 1200: the second is dropped.
    auto reply = Answer(Join({Frame({0x31}), Frame({0x34}), Frame({0x00})}));
    EXPECT_EQ(reply.size(), 604u);
    EXPECT_EQ(reply[0], 0x31);
    EXPECT_EQ(Bytes(reply.end() - 4, reply.end()), (Bytes{'p', 'v', 'x', 0}));
}

TEST(RelayPassword, ShortPasswordsArePaddedWithZeroBytes)
{
    CINIFile file("/nonexistent/pvx.ini");
    CRecordingUPS ups(&file);
    CNetXCPAgent relay("abc", 0, htonl(INADDR_LOOPBACK));
    SDatagram reply;
    relay.ProcessDatagram(ups, Join({Frame({0xCF, 'a', 'b', 'c', 0, 0, 0}), Frame({0x8B})}), reply);
    relay.ProcessDatagram(ups, Join({Frame({0xCF, 'a', 'b', 'c', ' ', ' ', ' '}), Frame({0x8B})}), reply);
    ASSERT_EQ(ups.frames.size(), 1u);
    // Only the first six characters of a longer password take part.
    CNetXCPAgent longer("secret-and-more", 0, htonl(INADDR_LOOPBACK));
    longer.ProcessDatagram(ups, Join({Password("secret"), Frame({0x8B})}), reply);
    EXPECT_EQ(ups.frames.size(), 2u);
}

TEST(RelaySocket, AnswersTheSenderAndDropsWithoutAUPS)
{
    CINIFile file("/nonexistent/pvx.ini");
    CRecordingUPS ups(&file);
    CNetXCPAgent relay("Kq4Tz9", 0, htonl(INADDR_LOOPBACK));
    CUniqueFd client = CreateSocket(2, 1, 0);
    ASSERT_TRUE(BindSocket(client.Get(), 0, htonl(INADDR_LOOPBACK)));
    SDatagram out;
    out.address = htonl(INADDR_LOOPBACK);
    out.port = relay.GetBoundPort();
    Bytes query = Frame({0x00});
    std::copy(query.begin(), query.end(), out.data.begin());
    out.length = static_cast<std::uint32_t>(query.size());

    ASSERT_TRUE(SendTo(client.Get(), out));
    ASSERT_TRUE(relay.WaitForRequest(2000));
    relay.RelayRequests(nullptr);
    EXPECT_EQ(WaitReadable(client.Get(), 200), 0) << "no UPS: dropped unanswered";
    // A UPS given up for lost is no UPS either.
    CRecordingUPS lost(&file);
    lost.ResetValues();
    ASSERT_TRUE(SendTo(client.Get(), out));
    ASSERT_TRUE(relay.WaitForRequest(2000));
    relay.RelayRequests(&lost);
    EXPECT_EQ(WaitReadable(client.Get(), 200), 0) << "lost UPS: dropped unanswered";
    EXPECT_TRUE(lost.frames.empty());

    ASSERT_TRUE(SendTo(client.Get(), out));
    ASSERT_TRUE(relay.WaitForRequest(2000));
    relay.RelayRequests(&ups);
    ASSERT_EQ(WaitReadable(client.Get(), 2000), 1);
    SDatagram in;
    ASSERT_TRUE(ReceiveFrom(client.Get(), in));
    EXPECT_EQ(Bytes(in.data.begin(), in.data.begin() + in.length), (Bytes{'p', 'v', 'x', 0}));
    EXPECT_EQ(in.port, relay.GetBoundPort());
    EXPECT_FALSE(relay.WaitForRequest(0));
}

TEST(RelaySocket, BindFailureIsTheRelayBindEvent)
{
    CNetXCPAgent first("Kq4Tz9", 0, htonl(INADDR_LOOPBACK));
    try {
        CNetXCPAgent second("Kq4Tz9", first.GetBoundPort(), htonl(INADDR_LOOPBACK));
        FAIL() << "a port in use must not bind";
    } catch (const CPVXException& event) {
        EXPECT_EQ(event.GetCode(), EVENT_RELAY_BIND);
    }
}

struct SBudgetCase {
    const char* name;
    std::uint32_t frameMs; // serial time of each forwarded frame
    std::vector<int> datagrams; // frames 0x31 in each datagram of one pass
    std::size_t forwarded;
};

TEST(RelayBudget, FramesBeyondThePassBudgetAreAnsweredBusy)
{
    // Each forwarded frame costs the UPS's exchange time on the loop's clock.
    class CSlowUPS : public CRecordingUPS {
    public:
        CSlowUPS(CINIFile* file, CFakeClock& clock) : CRecordingUPS(file), m_clock(clock) {}
        std::vector<std::uint8_t> ProcessXCPRequest(std::span<const std::uint8_t> frame) override
        {
            m_clock.Advance(frameMs);
            return CRecordingUPS::ProcessXCPRequest(frame);
        }
        CFakeClock& m_clock;
        std::uint32_t frameMs = 0;
    };
    const SBudgetCase cases[] = {
        { "frames with the relay pause: two fit 750 ms", 270, { 290 }, 2 },
        { "short frames: as many as fit", 100, { 20 }, 7 },
        { "a silent UPS: one time-out, then nothing", 1500, { 10 }, 1 },
        { "the budget spans the datagrams of one pass", 270, { 1, 10, 10 }, 2 },
        { "frames that take no time are never dropped", 0, { 290 }, 290 },
    };
    CFakeClock clock;
    CScopedClock guard(clock);
    CINIFile file("/nonexistent/pvx.ini");
    CSlowUPS ups(&file, clock);
    CNetXCPAgent relay("Kq4Tz9", 0, htonl(INADDR_LOOPBACK));
    for (const auto& c : cases) {
        for (int pass = 0; pass < 2; ++pass) { // a new pass has the whole budget again
            relay.BeginPass();
            ups.frames.clear();
            ups.frameMs = c.frameMs;
            SDatagram reply;
            for (int frames : c.datagrams) {
                Bytes request;
                for (int i = 0; i < frames; ++i)
                    request = Join({request, Frame({0x31})});
                const std::size_t before = ups.frames.size();
                relay.ProcessDatagram(ups, Join({request, Frame({0x00})}), reply);
                const Bytes answer(reply.data.begin(), reply.data.begin() + reply.length);
                const Bytes identity{'p', 'v', 'x', 0};
                EXPECT_NE(std::search(answer.begin(), answer.end(), identity.begin(), identity.end()), answer.end())
                    << c.name << ": the identity query costs no serial time";
                // What is not forwarded is told busy at once (block 9, status
                // 0x33, the frame's command echoed), never left unanswered.
                auto busy = ups.BuildCommandStatusReply(1, Bytes{0x31}, kXCPBusy);
                ASSERT_TRUE(FinishXCPReply(busy));
                const bool allForwarded = ups.frames.size() - before == static_cast<std::size_t>(frames);
                EXPECT_EQ(std::ranges::search(answer, busy).begin() != answer.end(), !allForwarded)
                    << c.name << ": " << frames << " frames";
            }
            EXPECT_EQ(ups.frames.size(), c.forwarded) << c.name << ", pass " << pass;
        }
    }
}
