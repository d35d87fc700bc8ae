// Helpers for the XCP link tests: a pseudo-terminal whose master side plays
// the UPS with prepared bytes, and reply blocks built independently of the
// code under test.
#pragma once

#include "events/PVXException.h"
#include "platform/Clock.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "platform/PseudoTerminal.h"
#include "platform/ToolSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pvx::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint8_t Checksum(const Bytes& bytes)
{
    unsigned sum = 0;
    for (auto b : bytes)
        sum += b;
    return static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

// One reply block: AB, number, length, sequence, data, checksum.
inline Bytes Block(std::uint8_t number, std::uint8_t sequence, const Bytes& data)
{
    Bytes block{0xAB, number, static_cast<std::uint8_t>(data.size()), sequence};
    // Reserved first: gcc 12 at -O3 otherwise reports a false -Warray-bounds.
    block.reserve(block.size() + data.size() + 1);
    block.insert(block.end(), data.begin(), data.end());
    block.push_back(Checksum(block));
    return block;
}

inline Bytes Status(std::uint8_t status) { return Block(9, 0x81, {status}); }

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Counting(std::size_t count, std::uint8_t first = 0)
{
    Bytes data(count);
    for (std::size_t i = 0; i < count; ++i)
        data[i] = static_cast<std::uint8_t>(first + i);
    return data;
}

inline std::uint32_t EventOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CPVXException& event) {
        return event.GetCode();
    }
    return 0;
}

// A port opened on a fresh pseudo-terminal. Bytes written with Peer wait
// on the line until the link reads them; Sent returns what the link wrote.
class CScriptedLine {
    // The peer's bytes are written before the request they answer, so they
    // are not discarded as stale when the request goes out.
    class CPreloadedPort : public CCommPort {
    public:
        explicit CPreloadedPort(const std::string& device) : CCommPort(device, 9600, 8, 2, 0) {}
        void DiscardPendingInput() override {}
    };

public:
    CScriptedLine()
    {
        EXPECT_TRUE(m_terminal.Open());
        m_port = std::make_unique<CPreloadedPort>(m_terminal.SlavePath());
        CFakeClock clock; // the open's 1.6 s of pauses pass at once
        CScopedClock scoped(clock);
        m_port->Open();
    }

    CCommPort& Port() { return *m_port; }

    void Peer(const Bytes& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            std::size_t n = 0;
            Bytes rest(bytes.begin() + static_cast<std::ptrdiff_t>(done), bytes.end());
            ASSERT_TRUE(WriteDevice(m_terminal.MasterFd(), rest, n));
            ASSERT_GT(n, 0u);
            done += n;
        }
    }

    Bytes Sent()
    {
        Bytes all;
        Bytes buffer(4096);
        for (;;) {
            std::size_t n = 0;
            if (!ReadDevice(m_terminal.MasterFd(), buffer, n) || n == 0)
                break;
            all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        }
        return all;
    }

    // Bytes the link left unread on the line.
    std::size_t Unread()
    {
        Bytes buffer(4096);
        std::size_t n = 0, total = 0;
        while (m_port->Read(buffer, n) && n > 0)
            total += n;
        return total;
    }

    void HangUp() { m_terminal.Close(); }

private:
    CPseudoTerminal m_terminal;
    std::unique_ptr<CCommPort> m_port;
};

} // namespace pvx::test
