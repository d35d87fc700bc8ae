// The simulated UPS: its blocks read the way the XCP driver reads them, its
// control language, fault injection and configuration file, and a short
// session against the real pvx-upssim process through CCommands.
#include "tools/upssim/SimConfig.h"
#include "tools/upssim/SimulatedUps.h"
#include "xcp/link/Commands.h"
#include "xcp/link/XCPFrame.h"

#include "tests/xcp/link/LinkTestSupport.h"

#include <bit>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace pvx {
namespace {

using namespace pvx::upssim;
using test::Bytes;
using test::EventOf;

SSimConfig QuietConfig()
{
    SSimConfig config = DefaultSimConfig();
    config.drift = false;
    return config;
}

// Decodes a meter the way the driver does: fixed point, integers, floats.
double DecodeMeter(std::uint8_t format, std::uint32_t raw)
{
    if ((format & 0xF0) == 0xF0)
        return std::ldexp(static_cast<double>(raw), -(format & 0x0F));
    if (format == 0xE2)
        return raw;
    if ((format & 0xE0) == 0xE0)
        return -1;
    return std::bit_cast<float>(raw);
}

struct SIdentification {
    std::vector<std::pair<int, int>> firmware;
    std::uint32_t ratingVA = 0;
    int phases = 0;
    std::string model;
    Bytes meterFormats;
    Bytes bitmap;
    Bytes statisticsFormats;
};

// Walks the identification block in the driver's order; fails the test if
// any item runs past the block.
SIdentification ParseIdentification(const Bytes& data)
{
    SIdentification id;
    CByteCursor cursor(data);
    std::uint8_t count = 0, byte = 0, major = 0, minor = 0;
    EXPECT_TRUE(cursor.ReadU8(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_TRUE(cursor.ReadU8(major) && cursor.ReadU8(minor));
        id.firmware.emplace_back(major, minor);
    }
    EXPECT_TRUE(cursor.ReadU8(byte));
    if (byte != 0) {
        id.ratingVA = byte * 1000u;
    } else {
        std::uint16_t fifties = 0;
        EXPECT_TRUE(cursor.ReadU16LE(fifties));
        id.ratingVA = fifties * 50u;
    }
    std::uint8_t phases = 0;
    EXPECT_TRUE(cursor.ReadU8(phases) && cursor.Skip(1));
    id.phases = phases;
    std::span<const std::uint8_t> part;
    auto take = [&](Bytes& target) {
        std::uint8_t length = 0;
        EXPECT_TRUE(cursor.ReadU8(length) && cursor.Take(length, part));
        target.assign(part.begin(), part.end());
    };
    Bytes model;
    take(model);
    id.model.assign(model.begin(), model.end());
    take(id.meterFormats);
    take(id.bitmap);
    EXPECT_TRUE(cursor.Skip(2));
    take(id.statisticsFormats);
    EXPECT_TRUE(cursor.AtEnd());
    return id;
}

Bytes Data(const std::vector<std::uint8_t>& reply)
{
    CByteCursor cursor(reply);
    SXCPBlock block;
    Bytes data;
    while (ParseReplyBlock(cursor, block) == EXCPParse::Complete)
        data.insert(data.end(), block.data.begin(), block.data.end());
    return data;
}

TEST(Simulator, BlocksReadTheWayTheDriverReadsThem)
{
    CSimulatedUps ups(QuietConfig());
    SIdentification id = ParseIdentification(ups.IdentificationData());
    EXPECT_EQ(id.firmware, (std::vector<std::pair<int, int>>{{1, 20}, {2, 5}}));
    EXPECT_EQ(id.ratingVA, 1500u); // 0, then 30 fifties
    EXPECT_EQ(id.phases, 1);
    EXPECT_EQ(id.model, "Simul UPS 1500");
    ASSERT_EQ(id.meterFormats.size(), 81u);
    EXPECT_TRUE(id.bitmap.size() * 8 > 200 && (id.bitmap[168 / 8] & (1 << (168 % 8))));
    ASSERT_EQ(id.statisticsFormats.size(), 36u);
    EXPECT_EQ(id.statisticsFormats[35], 0xE2);

    // Meter values: 4 bytes per present meter, in meter-number order.
    Bytes values = ups.MeterData(false);
    auto meter = [&](std::size_t number) {
        std::size_t offset = 0;
        for (std::size_t i = 0; i < number; ++i)
            offset += id.meterFormats[i] != 0 ? 4 : 0;
        CByteCursor cursor(values);
        std::uint32_t raw = 0;
        EXPECT_TRUE(cursor.Seek(offset) && cursor.ReadU32LE(raw));
        return DecodeMeter(id.meterFormats[number], raw);
    };
    struct SCase {
        std::size_t number;
        std::uint8_t format;
        double value;
    };
    const SCase cases[] = {
        {56, 0x61, 230},  // input voltage, line 1
        {18, 0xF0, 21},   // input current, line 1
        {53, 0x61, 230},  // bypass voltage
        {65, 0x61, 20},   // output current
        {78, 0x01, 230},  // output voltage
        {27, 0xF3, 50},   // output frequency, fixed point with 3 bits
        {35, 0xE2, 1800}, // run time in seconds
        {34, 0x61, 100},  // charge
        {71, 0xF0, 1500}, // rating
        {72, 0xE0, -1},   // date and time are read only as such
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(id.meterFormats[c.number], c.format);
        EXPECT_NEAR(meter(c.number), c.value, 0.01);
    }
    EXPECT_EQ(values.size() % 4, 0u);

    // The status block starts with the output source, line power here.
    EXPECT_EQ(ups.StatusData(0).at(0), 0x50);
}

TEST(Simulator, ControlCommandsChangeWhatTheHostReads)
{
    CSimulatedUps ups(QuietConfig());
    bool quit = false;
    auto control = [&](const char* line) { return ups.Control(line, 1000, quit); };

    EXPECT_EQ(control("set onbattery 1"), "ok\n");
    EXPECT_EQ(ups.StatusData(1000).at(0), 0xF0);
    EXPECT_TRUE(ups.IsAlarmActive(168));
    EXPECT_EQ(ups.Value("input.voltage.1"), 0.0);
    // The event log holds the change: alarm 168 with bit 15 set.
    Bytes events = Data(ups.Answer(0x32, {}, 1000));
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(events[0], 168);
    EXPECT_EQ(events[1], 0x80);

    EXPECT_EQ(control("set lowbattery 1"), "ok\n");
    EXPECT_TRUE(ups.IsAlarmActive(56));
    EXPECT_LE(ups.Value("battery.charge"), 20.0);
    EXPECT_EQ(control("set onbattery 0"), "ok\n");
    EXPECT_FALSE(ups.IsAlarmActive(168));

    EXPECT_EQ(control("alarm raise 25"), "ok\n");
    Bytes alarms = Data(ups.Answer(0x35, {}, 1000));
    EXPECT_EQ(std::count(alarms.begin(), alarms.end(), 1), 2); // 25 and 56
    EXPECT_EQ(control("alarm clear all"), "ok\n");
    alarms = Data(ups.Answer(0x35, {}, 1000));
    EXPECT_EQ(std::count(alarms.begin(), alarms.end(), 1), 0);

    EXPECT_EQ(control("test start"), "ok\n");
    EXPECT_EQ(Data(ups.Answer(0x3F, {}, 1000)).at(2), 1); // in progress
    ups.Tick(1000);
    ups.Tick(12000); // the configured 10 s have passed
    EXPECT_EQ(Data(ups.Answer(0x3F, {}, 12000)).at(2), 2); // passed
    EXPECT_EQ(Data(ups.Answer(0x3B, {}, 12000)).at(0), 2);

    EXPECT_EQ(control("set input.voltage.2 207"), "ok\n");
    EXPECT_EQ(ups.Value("input.voltage.2"), 207.0);
    EXPECT_EQ(ups.Value("input.voltage.1"), 230.0);

    struct SCase {
        const char* line;
        bool ok;
    };
    for (const auto& c : {SCase{"alarm raise 2", false}, SCase{"alarm raise 300", false}, SCase{"fly away", false},
                          SCase{"set output maybe", false}, SCase{"", false}, SCase{"answer 8B 32", true},
                          SCase{"fault split 300", false}, SCase{"help", true}, SCase{"log clear", true}}) {
        SCOPED_TRACE(c.line);
        std::string reply = control(c.line);
        EXPECT_EQ(reply.ends_with("ok\n"), c.ok) << reply;
    }
    EXPECT_FALSE(quit);
    control("quit");
    EXPECT_TRUE(quit);
}

TEST(Simulator, FaultsShapeTheRepliesAndTheFramesAreLogged)
{
    const Bytes request31 = {0xAB, 0x01, 0x31, 0x23};
    struct SCase {
        const char* fault;
        std::size_t blocks;  // complete, well-formed blocks in the reply
        EXCPParse firstParse;
        std::uint8_t firstNumber;
    };
    const SCase cases[] = {
        {"fault clear", 1, EXCPParse::Complete, 1},
        {"fault busy 1", 1, EXCPParse::Complete, 9},
        {"fault badchecksum 1", 0, EXCPParse::BadChecksum, 0},
        {"fault badstart 1", 0, EXCPParse::BadStart, 0},
        {"fault foreign 1", 2, EXCPParse::Complete, 0x0E},
        {"fault split 50", 4, EXCPParse::Complete, 1}, // 173 bytes in blocks of 50
        {"fault truncate 1", 0, EXCPParse::Incomplete, 0},
        {"fault silence on", 0, EXCPParse::Incomplete, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        CSimulatedUps ups(QuietConfig());
        std::vector<std::string> log;
        ups.SetLogger([&](const std::string& line) { log.push_back(line); });
        bool quit = false;
        ASSERT_EQ(ups.Control(c.fault, 0, quit), "ok\n");
        std::vector<std::uint8_t> out;
        // A wake-up escape byte before the frame is skipped and logged.
        Bytes input = {0x1B};
        input.insert(input.end(), request31.begin(), request31.end());
        ups.Receive(input, 0, out);
        CByteCursor cursor(out);
        SXCPBlock block;
        EXCPParse first = ParseReplyBlock(cursor, block);
        EXPECT_EQ(first, c.firstParse);
        if (first == EXCPParse::Complete) {
            EXPECT_EQ(block.number, c.firstNumber);
        }
        std::size_t blocks = first == EXCPParse::Complete ? 1 : 0;
        while (first == EXCPParse::Complete && ParseReplyBlock(cursor, block) == EXCPParse::Complete)
            ++blocks;
        EXPECT_EQ(blocks, c.blocks);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0], "rx-junk 1B");
        EXPECT_EQ(log[1], "rx 31");
        EXPECT_EQ(ups.ReceivedFrames().back(), "rx 31");
    }
}

TEST(Simulator, AuthorizationAndCommandsAnswerWithStatus)
{
    auto status = [](const std::vector<std::uint8_t>& reply) {
        Bytes data = Data(reply);
        return data.empty() ? -1 : data[0];
    };
    const Bytes code = {0x3A, 0x91, 0x4E};
    const Bytes shutdown = {};
    {
        CSimulatedUps ups(QuietConfig());
        EXPECT_EQ(status(ups.Answer(0x8B, shutdown, 0)), 0x32) << "restricted without authorization";
        EXPECT_EQ(status(ups.Answer(0xCF, code, 0)), 0x31);
        EXPECT_EQ(status(ups.Answer(0x8B, shutdown, 100)), 0x31);
        EXPECT_EQ(ups.StatusData(100).at(0), 0x10) << "the output is off";
        EXPECT_EQ(status(ups.Answer(0x89, {}, 200)), 0x32) << "one authorization, one command";
        EXPECT_EQ(status(ups.Answer(0x99, {}, 200)), 0x32) << "unknown command";
        EXPECT_EQ(status(ups.Answer(0x37, {}, 200)), 0x32) << "unsupported request";
    }
    SSimConfig open = QuietConfig();
    open.authorizationRequired = false;
    CSimulatedUps ups(open);
    EXPECT_EQ(status(ups.Answer(0xCF, code, 0)), 0x32) << "tells the host no authorization is needed";
    const Bytes baud = {0x00, 0x01, 0x00, 0x4B}; // 19200
    EXPECT_EQ(status(ups.Answer(0x98, baud, 0)), 0x31);
    EXPECT_EQ(ups.GetBaudRate(), 19200);
    const Bytes badBaud = {0x00, 0x01, 0x10, 0x27}; // 10000 is not offered
    EXPECT_EQ(status(ups.Answer(0x98, badBaud, 0)), 0x36);
    EXPECT_EQ(status(ups.Answer(0x98, {}, 0)), 0x36);
    EXPECT_EQ(status(ups.Answer(0xB1, Bytes{1, 15}, 0)), 0x31);
    EXPECT_EQ(ups.GetTestState(), ETestState::InProgress);
    bool quit = false;
    ups.Control("answer 8B 34", 0, quit);
    EXPECT_EQ(status(ups.Answer(0x8B, {}, 0)), 0x34);
    EXPECT_EQ(ups.StatusData(0).at(0), 0x50) << "a refused command has no effect";

    // Baud list: byte 1 is the count, then 16-bit rates.
    Bytes rates = Data(ups.Answer(0x42, Bytes{0}, 0));
    EXPECT_EQ(rates, (Bytes{0, 4, 0xB0, 0x04, 0x60, 0x09, 0x80, 0x25, 0x00, 0x4B}));

    // A flood of garbage and a frame that never ends stay bounded.
    std::vector<std::uint8_t> out;
    ups.Receive(Bytes(5000, 0x00), 0, out);
    ups.Receive(Bytes{0xAB, 0xF0, 0x31}, 0, out);
    EXPECT_TRUE(out.empty());
    ups.Tick(2000);
    ups.Receive(Bytes{0xAB, 0x01, 0x31, 0x23}, 2000, out);
    EXPECT_FALSE(out.empty()) << "the stale partial frame was dropped";
}

TEST(Simulator, ConfigurationFile)
{
    std::string sample;
    ASSERT_TRUE(ReadFileBounded(PVX_SOURCE_DIR "/packaging/upssim.conf", 1 << 20, false, sample));
    SSimConfig config = DefaultSimConfig();
    std::string error;
    ASSERT_TRUE(ParseSimConfig(sample, config, error)) << error;
    EXPECT_FALSE(config.meters.empty());

    struct SCase {
        const char* text;
        bool ok;
        const char* error;
    };
    const SCase cases[] = {
        {"[identity]\nmodel = Other Box\nphases = 3\nrating = 3000\n", true, ""},
        {"[meters]\n56 = fixed4 input.voltage\n", true, ""},
        {"[nowhere]\nx = 1\n", false, "line 2: unknown section [nowhere]"},
        {"[meters]\n56 = fixed0 input.voltage\n", false, "line 2: expected: <meter number> = <format> <quantity>"},
        {"[link]\nmax_block = 0\n", false, "line 2: bad value for max_block"},
        {"[identity]\nmodel\n", false, "line 2: expected key = value"},
        {"[identity\n", false, "line 1: unterminated section name"},
        {"[alarms]\nsupported = 219\n", false, "line 2: bad value for supported"},
        {"# only a comment\n\n", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SSimConfig parsed = DefaultSimConfig();
        error.clear();
        EXPECT_EQ(ParseSimConfig(c.text, parsed, error), c.ok);
        EXPECT_EQ(error, c.error);
    }
    SSimConfig three = DefaultSimConfig();
    ASSERT_TRUE(ParseSimConfig("[identity]\nphases = 3\nrating = 3000\n", three, error));
    CSimulatedUps ups(three);
    SIdentification id = ParseIdentification(ups.IdentificationData());
    EXPECT_EQ(id.ratingVA, 3000u); // one byte: 3 thousands
    EXPECT_EQ(id.phases, 3);
}

// ---- A session against the real process ---------------------------------------

class CSimulatorProcess {
public:
    explicit CSimulatorProcess(const std::string& folder)
        : m_control(folder + "/control"), m_frames(folder + "/frames.log"), m_link(folder + "/ttyUPS")
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::string program = PVX_BINARY_DIR "/pvx-upssim";
            ::execl(program.c_str(), "pvx-upssim", "-q", "-s", m_control.c_str(), "-f", m_frames.c_str(), "-l",
                    m_link.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        m_stdout.Reset(out[0]);
        std::string text;
        std::vector<std::uint8_t> buffer(256);
        for (int i = 0; i < 100 && text.find("ready\n") == std::string::npos; ++i) {
            std::size_t n = 0;
            if (WaitReadable(m_stdout.Get(), 100) > 0 && ReadDevice(m_stdout.Get(), buffer, n) && n > 0)
                text.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        }
        if (text.starts_with("device "))
            m_device = text.substr(7, text.find('\n') - 7);
    }

    ~CSimulatorProcess() { Stop(); }

    int Stop()
    {
        if (m_pid <= 0)
            return -1;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string Control(const std::string& line)
    {
        CUniqueFd socket = ConnectLocal(m_control);
        if (!socket)
            return "no connection";
        std::string request = line + "\n";
        std::size_t n = 0;
        WriteDevice(socket.Get(), AsBytes(request), n);
        std::string reply;
        std::vector<std::uint8_t> buffer(1024);
        while (!reply.ends_with("ok\n") && reply.find("error") == std::string::npos
               && WaitReadable(socket.Get(), 2000) > 0) {
            if (!ReadDevice(socket.Get(), buffer, n) || n == 0)
                break;
            reply.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        }
        return reply;
    }

    std::vector<std::string> ReceivedFrames() const
    {
        std::string text;
        ReadFileBounded(m_frames, 1 << 20, false, text);
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            if (text.compare(start, 3, "rx ") == 0)
                lines.push_back(text.substr(start + 3, end - start - 3));
        return lines;
    }

    const std::string& Device() const { return m_device; }
    const std::string& LinkPath() const { return m_link; }
    const std::string& ControlPath() const { return m_control; }

private:
    std::string m_control, m_frames, m_link, m_device;
    CUniqueFd m_stdout;
    pid_t m_pid = -1;
};

TEST(SimulatorProcess, ShortSessionThroughTheLink)
{
    char folder[] = "/tmp/pvx-upssim-test.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    CSimulatorProcess simulator(folder);
    ASSERT_TRUE(simulator.Device().starts_with("/dev/")) << simulator.Device();

    // The published link leads to the same device.
    CCommPort port(simulator.LinkPath(), 9600, 8, 2, 0);
    {
        CFakeClock clock;
        CScopedClock scoped(clock);
        port.Open();
    }
    CCommands link(&port);

    ASSERT_EQ(link.SendRequest(0x31, 750), 0u);
    std::string reply(link.GetReply().begin(), link.GetReply().end());
    std::string head;
    for (std::uint8_t b : link.GetReply().first(std::min<std::size_t>(link.GetReplyLength(), 24)))
        head += std::to_string(b) + " ";
    EXPECT_NE(reply.find("Simul UPS 1500"), std::string::npos) << link.GetReplyLength() << " bytes: " << head;

    ASSERT_EQ(simulator.Control("answer 8B 32"), "ok\n");
    EXPECT_EQ(link.SendRequest(0x8B, 750), 0x32u);

    ASSERT_EQ(simulator.Control("fault busy 2"), "ok\n");
    EXPECT_EQ(link.SendRequest(0x34, 750), 0u);
    EXPECT_EQ(link.GetReplyLength() % 4, 0u);

    ASSERT_EQ(simulator.Control("fault silence on"), "ok\n");
    EXPECT_EQ(EventOf([&] { link.SendCommand(0x33, {}, 200); }), EVENT_TIMEOUT);

    EXPECT_EQ(simulator.ReceivedFrames(),
              (std::vector<std::string>{"31", "CF 3A 91 4E", "8B", "34", "34", "34", "33"}));
    EXPECT_EQ(simulator.Stop(), 0);
    EXPECT_FALSE(ReadFileBounded(simulator.LinkPath(), 16, false, reply)) << "the link is removed";
    EXPECT_FALSE(ConnectLocal(simulator.ControlPath())) << "the control socket is removed";
    std::string frames = std::string(folder) + "/frames.log";
    ::unlink(frames.c_str());
    ::rmdir(folder);
}

} // namespace
} // namespace pvx
