// CCommPort over a real pseudo-terminal: the open sequence and its pauses,
// line settings, the identification parser, reads, drains and failures.
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "platform/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <termios.h>
#include <vector>

namespace pvx {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Records every pause so that the open sequence can be checked exactly.
class CRecordingClock : public CFakeClock {
public:
    void SleepMilliseconds(std::uint32_t ms) override
    {
        sleeps.push_back(ms);
        CFakeClock::SleepMilliseconds(ms);
    }
    std::vector<std::uint32_t> sleeps;
};

void WriteMaster(CPseudoTerminal& terminal, const std::vector<std::uint8_t>& bytes)
{
    std::size_t n = 0;
    ASSERT_TRUE(WriteDevice(terminal.MasterFd(), bytes, n));
    ASSERT_EQ(n, bytes.size());
}

std::vector<std::uint8_t> ReadMaster(CPseudoTerminal& terminal)
{
    std::vector<std::uint8_t> buffer(4096);
    std::size_t n = 0;
    WaitReadable(terminal.MasterFd(), 200);
    EXPECT_TRUE(ReadDevice(terminal.MasterFd(), buffer, n));
    buffer.resize(n);
    return buffer;
}

// Opens without spending the real 1.6 s of pauses.
void OpenQuickly(CCommPort& port)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    port.Open();
}

std::uint32_t EventOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CPVXException& event) {
        return event.GetCode();
    }
    return 0;
}

TEST(PnPIdentification, ParsesThePublishedForms)
{
    // 7-bit string with every optional field; the checksum covers all
    // characters from '(' to ')' except itself.
    std::string body = std::string("(\x01$") + "XYZ0A1F" + "\\00000042\\MODEM\\PNPC107\\Simul line";
    unsigned sum = ')';
    for (char c : body)
        sum += static_cast<unsigned char>(c);
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", sum & 0xFF);
    std::string full = "\r\nATI\r\n" + body + checksum + ")";

    // The same minimal string in 6-bit form: every character 0x20 lower.
    std::string sixBit = "\x08\x01\x04";
    for (char c : std::string("ABC0123"))
        sixBit.push_back(static_cast<char>(c - 0x20));
    sixBit.push_back('\x09');

    struct SCase {
        const char* name;
        std::string input;
        bool found;
        std::uint16_t revision;
        const char* manufacturer;
        std::uint16_t product;
        const char* className;
        const char* userName;
        bool checksumValid;
    };
    const SCase cases[] = {
        {"minimal 7-bit", std::string("(\x01$ABC0123)"), true, 100, "ABC", 0x0123, "", "", false},
        {"full with noise before", full, true, 100, "XYZ", 0x0A1F, "MODEM", "Simul line", true},
        {"6-bit form", sixBit, true, 0x44, "ABC", 0x0123, "", "", false},
        {"no end marker", std::string("(\x01$ABC0123"), false, 0, "", 0, "", "", false},
        {"too short", std::string("(\x01$AB1)"), false, 0, "", 0, "", "", false},
        {"product not hex", std::string("(\x01$ABC01G3)"), false, 0, "", 0, "", "", false},
        {"lower-case maker", std::string("(\x01$abc0123)"), false, 0, "", 0, "", "", false},
        {"field without mark", std::string("(\x01$ABC0123xyz00)"), false, 0, "", 0, "", "", false},
        {"nothing", std::string(), false, 0, "", 0, "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SPnPIdentification id;
        id.manufacturer = "stale";
        auto bytes = Bytes(c.input);
        EXPECT_EQ(ParsePnPIdentification(bytes, id), c.found);
        EXPECT_EQ(id.found, c.found);
        EXPECT_EQ(id.revision, c.revision);
        EXPECT_EQ(id.manufacturer, c.manufacturer);
        EXPECT_EQ(id.product, c.product);
        EXPECT_EQ(id.className, c.className);
        EXPECT_EQ(id.userName, c.userName);
        EXPECT_EQ(id.checksumValid, c.checksumValid);
    }
}

TEST(CommPort, OpenPausesExactlyAndLeavesTheLineAt1200WithTheConfiguredFormat)
{
    CPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open());
    CCommPort port(terminal.SlavePath(), 19200, 7, 3, 2);
    {
        CRecordingClock clock;
        CScopedClock scoped(clock);
        port.Open();
        // Wake-up: 200 x 5 + 400 = 1.4 s; then a silent identification read:
        // a tenth of the pace, one empty read, one pace.
        EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{200, 200, 200, 200, 200, 400, 20, 200}));
    }
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.GetIdentification().found);
    EXPECT_EQ(port.GetSpeed(), 1200);

    // A pseudo-terminal always keeps 8 bits without parity, so of the format
    // only the stop bits can be seen here; the speed stays at 1200.
    struct SFormat {
        int dataBits, parity, stopBits;
        bool twoStops;
    };
    const SFormat formats[] = {
        {7, 3, 2, true}, // the constructor's format, restored by Open
        {8, 2, 0, false},
        {5, 0, 1, false},
        {9, 7, 2, true},
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.dataBits);
        if (&format != &formats[0])
            port.SetFormat(format.dataBits, format.parity, format.stopBits);
        CUniqueFd probe = OpenDevice(terminal.SlavePath());
        termios settings{};
        ASSERT_EQ(tcgetattr(probe.Get(), &settings), 0);
        EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B1200));
        EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, format.twoStops);
        EXPECT_EQ(settings.c_lflag, 0u);
        EXPECT_EQ(settings.c_cc[VMIN], 0);
        EXPECT_EQ(settings.c_cc[VTIME], 0);
    }

    struct SSpeed {
        int requested;
        speed_t applied;
    };
    const SSpeed speeds[] = {{19200, B19200}, {12345, B9600}, {2400, B2400}, {0, B9600}};
    for (const auto& speed : speeds) {
        SCOPED_TRACE(speed.requested);
        port.SetBaudRate(speed.requested);
        CUniqueFd probe = OpenDevice(terminal.SlavePath());
        termios settings{};
        ASSERT_EQ(tcgetattr(probe.Get(), &settings), 0);
        EXPECT_EQ(cfgetospeed(&settings), speed.applied);
        EXPECT_EQ(cfgetispeed(&settings), speed.applied);
    }
}

TEST(CommPort, OpenReadsTheIdentificationTheDeviceSends)
{
    CPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open());
    // Waiting on the line before the open: the 150-byte read takes it off.
    WriteMaster(terminal, Bytes(std::string("(\x01$ABC0123)")));
    CCommPort port(terminal.SlavePath(), 9600, 8, 2, 0);
    OpenQuickly(port);
    EXPECT_TRUE(port.GetIdentification().found);
    EXPECT_EQ(port.GetIdentification().manufacturer, "ABC");
    std::vector<std::uint8_t> buffer(16);
    std::size_t n = 99;
    EXPECT_TRUE(port.Read(buffer, n));
    EXPECT_EQ(n, 0u);

    // A second open clears the record when the device stays silent.
    OpenQuickly(port);
    EXPECT_FALSE(port.GetIdentification().found);
}

TEST(CommPort, ReadWriteAndModemLines)
{
    CPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open());
    CCommPort port(terminal.SlavePath(), 9600, 8, 2, 0);
    OpenQuickly(port);

    std::vector<std::uint8_t> buffer(8);
    std::size_t n = 99;
    EXPECT_TRUE(port.Read(buffer, n));
    EXPECT_EQ(n, 0u) << "nothing waiting reads as 0 bytes at once";

    WriteMaster(terminal, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    WaitReadable(terminal.MasterFd(), 0);
    ASSERT_TRUE(port.WaitForInput(1000));
    EXPECT_TRUE(port.Read(buffer, n));
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(port.Read(buffer, n));
    EXPECT_EQ(n, 2u);

    std::vector<std::uint8_t> frame{0xAB, 0x01, 0x31, 0x23};
    EXPECT_TRUE(port.Write(frame, n));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(ReadMaster(terminal), frame);

    // DTR and RTS cannot be read back; a pseudo-terminal has no modem
    // lines, so reading the others fails, which reads as true.
    EXPECT_FALSE(port.GetModemLine(CCommPort::kLineDTR));
    EXPECT_FALSE(port.GetModemLine(CCommPort::kLineRTS));
    EXPECT_FALSE(port.GetModemLine(3));
    EXPECT_TRUE(port.GetModemLine(CCommPort::kLineCTS));
    port.SetModemLine(CCommPort::kLineDTR, true); // ignored quietly
}

TEST(CommPort, FailuresRaiseEvent14)
{
    std::vector<std::uint8_t> buffer(4);
    std::size_t n = 0;

    CCommPort noDevice("", 9600, 8, 2, 0);
    EXPECT_EQ(EventOf([&] { noDevice.Open(); }), EVENT_DEVICE);
    EXPECT_FALSE(noDevice.Read(buffer, n)) << "no device: false, nothing done";
    EXPECT_FALSE(noDevice.Write(buffer, n));

    CCommPort missing("/nonexistent/ttyUPS", 9600, 8, 2, 0);
    EXPECT_EQ(EventOf([&] { missing.Open(); }), EVENT_DEVICE);
    EXPECT_EQ(EventOf([&] { missing.Read(buffer, n); }), EVENT_DEVICE);
    EXPECT_EQ(EventOf([&] { missing.Write(buffer, n); }), EVENT_DEVICE);
    missing.SetBaudRate(2400); // closed: only stored
    EXPECT_EQ(missing.GetSpeed(), 2400);
}

TEST(CommPort, DrainDiscardsInputAndEndsOnALineThatNeverStops)
{
    CPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open());
    CCommPort port(terminal.SlavePath(), 9600, 8, 2, 0);
    OpenQuickly(port);

    WriteMaster(terminal, std::vector<std::uint8_t>(300, 0x55));
    port.Drain(100);
    std::vector<std::uint8_t> buffer(16);
    std::size_t n = 0;
    port.Read(buffer, n);
    EXPECT_EQ(n, 0u);

    // A device whose every read finds more bytes: the drain gives up with the
    // time-out event once its bound has passed.
    class CFloodingPort : public CCommPort {
    public:
        CFloodingPort() : CCommPort("/dev/flood", 9600, 8, 2, 0) {}
        bool Read(std::span<std::uint8_t> target, std::size_t& count) override
        {
            std::fill(target.begin(), target.end(), 0x55);
            count = target.size();
            ++reads;
            return true;
        }
        int reads = 0;
    } flooding;
    EXPECT_EQ(EventOf([&] { flooding.Drain(100); }), EVENT_TIMEOUT);
    EXPECT_GT(flooding.reads, 1);
}

TEST(CommPort, HungUpLineReadsAsSilence)
{
    CPseudoTerminal terminal;
    ASSERT_TRUE(terminal.Open());
    CCommPort port(terminal.SlavePath(), 9600, 8, 2, 0);
    OpenQuickly(port);
    terminal.Close();

    std::vector<std::uint8_t> buffer(16);
    std::size_t n = 99;
    EXPECT_TRUE(port.Read(buffer, n));
    EXPECT_EQ(n, 0u);
    // Returns once the time has passed, although the descriptor stays
    // "readable" for ever.
    port.Drain(50);
    EXPECT_FALSE(port.WaitForInput(20));
}

} // namespace
} // namespace pvx
