// The serial port: line settings, the modem-line wake-up, the Plug and Play
// identification read, and the read, write and drain primitives.
#include "platform/CommPort.h"

#include "events/PVXException.h"
#include "platform/ByteCursor.h"
#include "platform/Clock.h"
#include "platform/HexText.h"
#include "platform/Portability.h"
#include "platform/SerialWait.h"

#include <array>
#include <cerrno>
#include <string_view>
#include <sys/ioctl.h>

namespace pvx {

// ---- Plug and Play identification -------------------------------------------

namespace {

constexpr std::uint8_t kBegin7 = 0x28;
constexpr std::uint8_t kEnd7 = 0x29;
constexpr std::uint8_t kBegin6 = 0x08;
constexpr std::uint8_t kEnd6 = 0x09;
constexpr char kFieldMark = '\\';

bool ParseHex(std::string_view text, std::uint32_t& value)
{
    value = 0;
    if (text.empty())
        return false;
    for (char c : text) {
        int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

// `body` holds the characters after the revision up to the end marker,
// already in 7-bit form; `sum` is the checksum sum of everything before.
bool ParseBody(std::string_view body, unsigned sum, SPnPIdentification& id)
{
    if (body.size() < 7)
        return false;
    std::string_view manufacturer = body.substr(0, 3);
    for (char c : manufacturer)
        if (c < '@' || c > '_') // the 5-bit letter range of EISA identifiers
            return false;
    std::uint32_t product = 0;
    if (!ParseHex(body.substr(3, 4), product))
        return false;
    id.manufacturer = std::string(manufacturer);
    id.product = static_cast<std::uint16_t>(product);

    std::string_view rest = body.substr(7);
    if (rest.empty())
        return true;
    // With extension fields, the last two characters are the checksum.
    if (rest.size() < 2)
        return false;
    std::uint32_t checksum = 0;
    if (!ParseHex(rest.substr(rest.size() - 2), checksum))
        return false;
    id.checksumPresent = true;
    for (char c : body.substr(0, body.size() - 2))
        sum += static_cast<unsigned char>(c);
    id.checksumValid = (sum & 0xFF) == checksum;
    rest.remove_suffix(2);
    if (rest.empty())
        return true;
    if (rest.front() != kFieldMark)
        return false;
    std::string* fields[] = {&id.serialNumber, &id.className, &id.compatibleIds, &id.userName};
    std::size_t index = 0;
    rest.remove_prefix(1);
    for (;;) {
        std::size_t mark = rest.find(kFieldMark);
        if (index < std::size(fields))
            *fields[index] = std::string(rest.substr(0, mark));
        ++index;
        if (mark == std::string_view::npos)
            break;
        rest.remove_prefix(mark + 1);
    }
    return index <= std::size(fields);
}

} // namespace

bool ParsePnPIdentification(std::span<const std::uint8_t> bytes, SPnPIdentification& id)
{
    CByteCursor cursor(bytes);
    for (std::size_t start = 0; start + 3 < cursor.Size(); ++start) {
        std::uint8_t marker = cursor.At(start);
        if (marker != kBegin7 && marker != kBegin6)
            continue;
        bool sixBit = marker == kBegin6;
        std::uint8_t endMarker = sixBit ? kEnd6 : kEnd7;
        // The two revision bytes carry 6 bits each, in either form.
        std::uint8_t high = cursor.At(start + 1);
        std::uint8_t low = cursor.At(start + 2);
        auto seven = [&](std::uint8_t c) { return static_cast<unsigned>(sixBit ? c + 0x20 : c); };
        unsigned sum = kBegin7 + kEnd7 + seven(high) + seven(low);
        std::string body;
        for (std::size_t i = start + 3; i < cursor.Size(); ++i) {
            std::uint8_t c = cursor.At(i);
            if (c == endMarker) {
                SPnPIdentification candidate;
                candidate.revision = static_cast<std::uint16_t>(((high & 0x3F) << 6) | (low & 0x3F));
                if (ParseBody(body, sum, candidate)) {
                    candidate.found = true;
                    id = std::move(candidate);
                    return true;
                }
                break;
            }
            // 7-bit characters run from 0x20; 6-bit ones are 0x20 lower.
            if (sixBit ? c > 0x3F : (c < 0x20 || c > 0x7F))
                break;
            body.push_back(static_cast<char>(seven(c)));
        }
    }
    id = SPnPIdentification();
    return false;
}

// ---- The port ---------------------------------------------------------------

namespace {

constexpr int kIdentifySpeed = 1200;
constexpr int kIdentifyDataBits = 7;
constexpr int kNoParity = 2;
constexpr int kOneStopBit = 0;
constexpr std::uint32_t kIdentificationPauseMs = 200;

int ModemBitFor(int line)
{
    switch (line) {
    case CCommPort::kLineCarrier: return TIOCM_CAR;
    case CCommPort::kLineDTR: return TIOCM_DTR;
    case CCommPort::kLineDSR: return TIOCM_DSR;
    case CCommPort::kLineRTS: return TIOCM_RTS;
    case CCommPort::kLineCTS: return TIOCM_CTS;
    case CCommPort::kLineRing: return TIOCM_RNG;
    default: return 0;
    }
}

// Whether a read or a write has a device to go to: false when none is
// configured, EVENT_DEVICE when the configured one is not open.
bool HasDevice(const std::string& device, bool open)
{
    if (device.empty())
        return false;
    if (!open)
        throw CPVXException(EVENT_DEVICE, {device});
    return true;
}

} // namespace

CCommPort::CCommPort(std::string device, int speed, int dataBits, int parityCode, int stopBitCode)
    : m_device(std::move(device)), m_speed(speed), m_dataBits(dataBits), m_parityCode(parityCode),
      m_stopBitCode(stopBitCode)
{
}

CCommPort::~CCommPort() { Close(); }

void CCommPort::Open()
{
    int dataBits = m_dataBits;
    int parityCode = m_parityCode;
    int stopBitCode = m_stopBitCode;
    m_speed = kIdentifySpeed;
    m_dataBits = kIdentifyDataBits;
    m_parityCode = kNoParity;
    m_stopBitCode = kOneStopBit;

    if (m_device.empty())
        throw CPVXException(EVENT_DEVICE, {m_device});
    Close();
    m_descriptor = OpenDevice(m_device);
    if (!m_descriptor)
        throw CPVXException(EVENT_DEVICE, {m_device});
    ApplySettings();
    WakeUp();
    ReadIdentification();
    m_speed = kIdentifySpeed;
    SetFormat(dataBits, parityCode, stopBitCode);
}

void CCommPort::Close()
{
    CloseDevice(m_descriptor);
    m_inputSignalled = false;
    m_hungUp = false;
}

void CCommPort::SetBaudRate(int speed)
{
    m_speed = speed;
    if (IsOpen())
        ApplySettings();
}

void CCommPort::SetFormat(int dataBits, int parityCode, int stopBitCode)
{
    m_dataBits = dataBits;
    m_parityCode = parityCode;
    m_stopBitCode = stopBitCode;
    if (IsOpen())
        ApplySettings();
}

void CCommPort::ApplySettings()
{
    if (!IsOpen())
        throw CPVXException(EVENT_DEVICE, {m_device});
    if (SetLineAttributes(m_descriptor.Get(), m_speed, m_dataBits, m_parityCode, m_stopBitCode))
        return;
    // A line that cannot change its character size or parity (a
    // pseudo-terminal is always 8 bits without parity) refuses a request
    // that would change nothing else. It is usable when the speed and stop
    // bits are already the ones asked for.
    int speed = 0;
    bool twoStopBits = false;
    if (GetLastError() == EINVAL && ReadLineSpeed(m_descriptor.Get(), speed, twoStopBits)
        && speed == EffectiveSpeed(m_speed) && twoStopBits == (m_stopBitCode == 2))
        return;
    throw CPVXException(EVENT_DEVICE, {m_device});
}

void CCommPort::WakeUp()
{
    // Some UPS interfaces draw power from the modem lines and need this
    // exact toggling before they answer.
    SetModemLine(kLineRTS, false);
    SetModemLine(kLineDTR, true);
    SetModemLine(kLineRTS, false);
    SerialPause(200);
    SetModemLine(kLineDTR, false);
    SerialPause(200);
    SetModemLine(kLineDTR, true);
    SerialPause(200);
    SetModemLine(kLineRTS, true);
    SerialPause(200);
    SetModemLine(kLineRTS, false);
    SetModemLine(kLineDTR, false);
    SerialPause(200);
    SetModemLine(kLineRTS, true);
    SetModemLine(kLineDTR, true);
    SerialPause(400);
}

std::size_t CCommPort::PacedRead(std::span<std::uint8_t> buffer, std::uint32_t pauseMs)
{
    std::size_t total = 0;
    SerialPause(pauseMs / 10);
    for (;;) {
        std::size_t n = 0;
        Read(buffer.subspan(total), n);
        total += n;
        if (total >= buffer.size())
            break;
        SerialPause(pauseMs);
        if (n == 0)
            break;
    }
    return total;
}

void CCommPort::ReadIdentification()
{
    m_identification = SPnPIdentification();
    std::array<std::uint8_t, kIdentificationBytes> buffer{};
    std::size_t total = 0;
    // Each paced read either adds bytes or ends the loop, so it ends.
    while (total < buffer.size()) {
        std::size_t n = PacedRead(std::span(buffer).subspan(total), kIdentificationPauseMs);
        if (n == 0)
            break;
        total += n;
    }
    if (total > 9)
        ParsePnPIdentification(std::span(buffer).first(total), m_identification);
}

bool CCommPort::Read(std::span<std::uint8_t> buffer, std::size_t& n)
{
    n = 0;
    if (!HasDevice(m_device, IsOpen()))
        return false;
    if (!ReadDevice(m_descriptor.Get(), buffer, n))
        throw CPVXException::FromSystemError();
    if (n > 0)
        m_hungUp = false;
    else if (m_inputSignalled && !buffer.empty())
        m_hungUp = true;
    m_inputSignalled = false;
    return true;
}

bool CCommPort::Write(std::span<const std::uint8_t> bytes, std::size_t& n)
{
    n = 0;
    if (!HasDevice(m_device, IsOpen()))
        return false;
    if (!WriteDevice(m_descriptor.Get(), bytes, n))
        throw CPVXException::FromSystemError();
    return true;
}

bool CCommPort::WaitForInput(std::uint32_t ms)
{
    if (!IsOpen()) {
        // Nothing can ever arrive: sleep the time rather than let a
        // caller's wait loop spin.
        SerialPause(ms);
        return false;
    }
    if (m_hungUp) {
        SerialPause(ms);
        return false;
    }
    m_inputSignalled = WaitSerialReadable(m_descriptor.Get(), ms) > 0;
    return m_inputSignalled;
}

void CCommPort::DiscardPendingInput()
{
    // Bounded: a line that keeps talking cannot hold the caller here.
    constexpr std::size_t kMaxDiscarded = 4096;
    std::array<std::uint8_t, 256> discard{};
    for (std::size_t total = 0; total < kMaxDiscarded;) {
        std::size_t n = 0;
        if (!Read(discard, n) || n == 0)
            return;
        total += n;
    }
}

std::uint32_t CCommPort::DrainBound(std::uint32_t ms)
{
    // Long enough for any burst a UPS sends after a wake-up byte, short
    // enough that a chattering line cannot hold the caller.
    constexpr std::uint32_t kFactor = 10;
    constexpr std::uint32_t kMinimumExtra = 1000;
    std::uint64_t bound = static_cast<std::uint64_t>(ms) * kFactor;
    if (bound < static_cast<std::uint64_t>(ms) + kMinimumExtra)
        bound = static_cast<std::uint64_t>(ms) + kMinimumExtra;
    return bound > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bound);
}

void CCommPort::Drain(std::uint32_t ms)
{
    std::uint64_t start = CurrentClock().MonotonicMilliseconds();
    std::uint64_t bound = DrainBound(ms);
    SetDeadline(ms);
    std::array<std::uint8_t, 1000> discard{};
    for (;;) {
        std::size_t n = 0;
        Read(discard, n);
        if (n > 0) {
            if (CurrentClock().MonotonicMilliseconds() - start >= bound)
                throw CPVXException(EVENT_TIMEOUT, {m_device});
            continue;
        }
        if (DeadlinePassed())
            return;
        // Sleep in the kernel until input comes or the time is up; one more
        // millisecond makes sure the deadline has passed on waking.
        WaitForInput(DeadlineRemaining() + 1);
    }
}

bool CCommPort::GetModemLine(int line)
{
    int bit = ModemBitFor(line);
    if (line == kLineDTR || line == kLineRTS || bit == 0)
        return false;
    int bits = 0;
    if (!IsOpen() || !GetModemBits(m_descriptor.Get(), bits))
        return true;
    return (bits & bit) != 0;
}

void CCommPort::SetModemLine(int line, bool on)
{
    int bit = ModemBitFor(line);
    int bits = 0;
    if (bit == 0 || !IsOpen() || !GetModemBits(m_descriptor.Get(), bits))
        return;
    bits = on ? (bits | bit) : (bits & ~bit);
    SetModemBits(m_descriptor.Get(), bits);
}

} // namespace pvx
