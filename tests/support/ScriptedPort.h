// A serial port double for driver tests: every write is logged, each request
// frame is answered from a script keyed by command code, and waiting for
// input advances the fake clock instead of blocking.
#pragma once

#include "platform/ByteCursor.h"
#include "tests/support/QueuedPort.h"
#include "xcp/link/XCPFrame.h"

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace pvx::test {

using Bytes = std::vector<std::uint8_t>;

class CScriptedPort : public CQueuedPort {
public:
    explicit CScriptedPort(CFakeClock& clock)
        : CQueuedPort(clock, "scripted", 9600)
    {
    }

    // The reply to every later request with this command (whole blocks).
    void Answer(std::uint8_t command, Bytes reply) { m_replies[command] = { std::move(reply) }; }
    // Replies used one per request, in order; the last one stays.
    void AnswerInTurn(std::uint8_t command, std::vector<Bytes> replies) { m_replies[command] = std::move(replies); }
    // A data block of the number the command expects.
    void AnswerBlock(std::uint8_t command, const Bytes& data)
    {
        Answer(command, BuildReply(ReplyBlockFor(command), data));
    }
    // A command-status block with the command echoed.
    void AnswerStatus(std::uint8_t command, std::uint8_t status) { Answer(command, BuildStatusReply(status, command)); }
    void Silence(std::uint8_t command) { m_replies.erase(command); }
    // Bytes on the line before the next request: noise, or a stale reply.
    void Stray(const Bytes& bytes) { Queue(bytes); }

    // Everything written, one entry per write, and the fake clock's reading at each.
    const std::vector<Bytes>& Writes() const { return m_writes; }
    const std::vector<std::uint64_t>& WriteTimes() const { return m_writeTimes; }
    // Command bytes of the request frames written, authorization left out.
    std::vector<std::uint8_t> Commands() const
    {
        std::vector<std::uint8_t> commands;
        for (const auto& frame : Frames())
            commands.push_back(frame[2]);
        return commands;
    }
    // Request frames written, authorization frames left out.
    std::vector<Bytes> Frames() const
    {
        std::vector<Bytes> frames;
        for (const auto& write : m_writes)
            if (write.size() >= 4 && write[0] == kXCPStartByte && write[2] != kXCPAuthorize)
                frames.push_back(write);
        return frames;
    }
    void ClearLog()
    {
        m_writes.clear();
        m_writeTimes.clear();
    }

    bool Write(std::span<const std::uint8_t> bytes, std::size_t& n) override
    {
        m_writes.emplace_back(bytes.begin(), bytes.end());
        m_writeTimes.push_back(Clock().MonotonicMilliseconds());
        n = bytes.size();
        CByteCursor cursor(bytes);
        CXCPRequest request;
        while (!cursor.AtEnd()) {
            if (ParseRequestFrame(cursor, request) != EXCPParse::Complete) {
                cursor.Skip(1);
                continue;
            }
            auto found = m_replies.find(request.Command());
            if (found == m_replies.end() || found->second.empty())
                continue;
            auto& turns = found->second;
            Queue(turns.front());
            if (turns.size() > 1)
                turns.erase(turns.begin());
        }
        return true;
    }

private:
    std::map<std::uint8_t, std::vector<Bytes>> m_replies;
    std::vector<Bytes> m_writes;
    std::vector<std::uint64_t> m_writeTimes;
};

} // namespace pvx::test
