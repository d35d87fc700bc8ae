// Serial ports for the fuzz targets, all on a fake clock: one whose UPS sends
// fuzz bytes as they are, and on the shared queued port one that answers each
// request with a fuzz-made reply block and one with the simulated UPS behind it.
#pragma once

#include "platform/ByteCursor.h"
#include "platform/Clock.h"
#include "platform/CommPort.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/QueuedPort.h"
#include "tools/upssim/SimulatedUps.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>

namespace pvx::fuzz {

// A port whose UPS sends exactly `stream`, in pieces of at most `piece`
// bytes per read, whatever is written to it. Waiting advances the fake clock,
// so a silent end costs no real time.
class CStreamPort : public CCommPort {
public:
    CStreamPort(CFakeClock& clock, std::span<const std::uint8_t> stream, std::size_t piece)
        : CCommPort("fuzz-stream", 1200, 8, 2, 0)
        , m_clock(clock)
        , m_stream(stream)
        , m_piece(std::max<std::size_t>(piece, 1))
    {
    }

    bool Read(std::span<std::uint8_t> buffer, std::size_t& n) override
    {
        auto part = m_stream.TakeUpTo(std::min(buffer.size(), m_piece));
        std::copy(part.begin(), part.end(), buffer.begin());
        n = part.size();
        return true;
    }
    bool Write(std::span<const std::uint8_t> bytes, std::size_t& n) override
    {
        m_written += bytes.size();
        n = bytes.size();
        return true;
    }
    // The stream is the UPS's answer to whatever is asked: none of it is stale.
    void DiscardPendingInput() override { }
    bool WaitForInput(std::uint32_t ms) override
    {
        if (!m_stream.AtEnd())
            return true;
        m_clock.Advance(ms);
        return false;
    }
    bool GetModemLine(int) override { return true; }
    void SetModemLine(int, bool) override { }

    std::size_t Written() const { return m_written; }

private:
    CFakeClock& m_clock;
    CByteCursor m_stream;
    std::size_t m_piece;
    std::size_t m_written = 0;
};

// A port whose UPS answers every request frame written to it with the next
// part of a script: a length byte and that many data bytes become a whole
// reply for the block the command expects; length 0xFF instead takes one
// status byte and answers a command-status block. An empty script is a silent
// UPS. The fuzzer so reaches the driver's block decoding without having to
// discover framing and checksums first.
class CBlockScriptPort : public test::CQueuedPort {
public:
    CBlockScriptPort(CFakeClock& clock, std::span<const std::uint8_t> script)
        : CQueuedPort(clock, "fuzz-blocks", 1200)
        , m_script(script)
    {
    }
    bool Write(std::span<const std::uint8_t> bytes, std::size_t& n) override
    {
        n = bytes.size();
        CByteCursor cursor(bytes);
        CXCPRequest request;
        while (!cursor.AtEnd()) {
            EXCPParse result = ParseRequestFrame(cursor, request);
            if (result == EXCPParse::Complete)
                Answer(request.Command());
            else if (result != EXCPParse::BadChecksum) // a bad frame was passed over whole
                cursor.Skip(1);
        }
        return true;
    }
    bool GetModemLine(int) override { return true; }
    void SetModemLine(int, bool) override { }

private:
    void Answer(std::uint8_t command)
    {
        std::uint8_t length = 0;
        if (!m_script.ReadU8(length))
            return;
        Bytes reply;
        if (length == 0xFF) {
            std::uint8_t status = 0;
            m_script.ReadU8(status);
            reply = BuildStatusReply(status, command);
        } else {
            reply = BuildReply(ReplyBlockFor(command), m_script.TakeUpTo(length));
        }
        Queue(reply);
    }

    CByteCursor m_script;
};

// A port with the simulated UPS behind it, on the fake clock: what is written
// reaches the simulator at once and its replies wait to be read.
class CSimulatorPort : public test::CQueuedPort {
public:
    CSimulatorPort(CFakeClock& clock, upssim::SSimConfig config)
        : CQueuedPort(clock, "fuzz-simulator", 1200)
        , m_ups(std::move(config))
    {
    }
    bool Write(std::span<const std::uint8_t> bytes, std::size_t& n) override
    {
        CByteCursor cursor(bytes);
        CXCPRequest request;
        while (!cursor.AtEnd()) {
            EXCPParse result = ParseRequestFrame(cursor, request);
            if (result == EXCPParse::Complete)
                ++m_framesWritten[request.Command()];
            else if (result != EXCPParse::BadChecksum)
                cursor.Skip(1);
        }
        Bytes out;
        m_ups.Receive(bytes, Clock().MonotonicMilliseconds(), out);
        Queue(out);
        n = bytes.size();
        return true;
    }
    bool WaitForInput(std::uint32_t ms) override
    {
        if (!HasQueued()) {
            Clock().Advance(ms);
            m_ups.Tick(Clock().MonotonicMilliseconds());
        }
        return HasQueued();
    }
    bool GetModemLine(int) override { return true; }
    void SetModemLine(int, bool) override { }

    upssim::CSimulatedUps& Ups() { return m_ups; }
    // Request frames written so far, by command.
    unsigned FramesWritten(std::uint8_t command) const { return m_framesWritten[command]; }

private:
    upssim::CSimulatedUps m_ups;
    std::array<unsigned, 256> m_framesWritten {};
};

// The simulator's built-in UPS with its values held still, so that a fuzz
// input behaves the same on every run.
inline upssim::SSimConfig QuietSimulatorConfig()
{
    upssim::SSimConfig config = upssim::DefaultSimConfig();
    config.drift = false;
    return config;
}

} // namespace pvx::fuzz
