// The serial line to the UPS: line settings, the modem-line wake-up and the
// Plug and Play identification read on open, and non-blocking read and write.
#pragma once

#include "platform/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pvx {

// Fields of a serial Plug and Play identification string (the published
// format for external COM devices). Only the raw fields are kept.
struct SPnPIdentification {
    bool found = false;
    std::uint16_t revision = 0;  // 100 reads as version 1.00
    std::string manufacturer;    // three-letter identifier
    std::uint16_t product = 0;   // four hexadecimal digits
    std::string serialNumber;
    std::string className;
    std::string compatibleIds;
    std::string userName;
    bool checksumPresent = false;
    bool checksumValid = false;
};

// Looks for an identification string in `bytes`, in 7-bit form (markers
// '(' and ')', fields after '\') or 6-bit form (everything 0x20 lower).
// Returns false, leaving `id` cleared, when no well-formed string is there.
bool ParsePnPIdentification(std::span<const std::uint8_t> bytes, SPnPIdentification& id);

class CCommPort {
public:
    // Modem line codes.
    static constexpr int kLineCarrier = 1;
    static constexpr int kLineDTR = 4;
    static constexpr int kLineDSR = 6;
    static constexpr int kLineRTS = 7;
    static constexpr int kLineCTS = 8;
    static constexpr int kLineRing = 9;

    static constexpr std::size_t kIdentificationBytes = 150;

    CCommPort(std::string device, int speed, int dataBits, int parityCode, int stopBitCode);
    virtual ~CCommPort();

    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // Opens the device, wakes it up through the modem lines, reads its
    // identification and leaves the line at 1200 baud with the configured
    // format. Throws event 14 on failure.
    void Open();
    void Close();
    bool IsOpen() const { return m_descriptor.IsOpen(); }

    void SetBaudRate(int speed);
    void SetFormat(int dataBits, int parityCode, int stopBitCode);

    // Reads what is waiting now, up to buffer.size() bytes, never waiting.
    // False (and nothing done) when no device is configured.
    virtual bool Read(std::span<std::uint8_t> buffer, std::size_t& n);
    virtual bool Write(std::span<const std::uint8_t> bytes, std::size_t& n);
    // Discards what has arrived and not been read, never waiting: stray
    // bytes from between two exchanges are no answer to the next request.
    virtual void DiscardPendingInput();
    // Blocks until input is waiting or `ms` pass; true when input waits.
    // This is what lets timed readers sleep instead of spinning.
    virtual bool WaitForInput(std::uint32_t ms);

    // Discards input until the line is quiet and `ms` have passed. A line
    // that keeps talking ends the drain with the time-out event after
    // DrainBound(ms) milliseconds.
    void Drain(std::uint32_t ms);
    static std::uint32_t DrainBound(std::uint32_t ms);

    virtual bool GetModemLine(int line);
    virtual void SetModemLine(int line, bool on);

    const std::string& GetDevice() const { return m_device; }
    int GetSpeed() const { return m_speed; }
    const SPnPIdentification& GetIdentification() const { return m_identification; }

private:
    void ApplySettings();
    void WakeUp();
    void ReadIdentification();
    std::size_t PacedRead(std::span<std::uint8_t> buffer, std::uint32_t pauseMs);

    std::string m_device;
    int m_speed;
    int m_dataBits;
    int m_parityCode;
    int m_stopBitCode;
    SPnPIdentification m_identification;
    CUniqueFd m_descriptor;
    // A descriptor that polls readable but reads nothing has hung up; from
    // then on waits sleep instead of returning at once, until bytes come.
    bool m_inputSignalled = false;
    bool m_hungUp = false;
};

} // namespace pvx
