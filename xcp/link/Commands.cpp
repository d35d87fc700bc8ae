// The XCP link: request/reply exchanges with the UPS over the serial port.
#include "xcp/link/Commands.h"

#include "events/PVXException.h"
#include "platform/ByteCursor.h"
#include "platform/Clock.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "platform/SerialWait.h"
#include "xcp/link/XCPFrame.h"

#include <algorithm>
#include <array>

namespace pvx {

namespace {

// Commands above this one are restricted: the UPS wants its authorization frame first.
constexpr std::uint8_t kUnrestrictedLimit = 0x80;

} // namespace

CCommands::CCommands(CCommPort* port) : m_port(port) {}

CCommands::CCommands(CCommPort* port, const SLinkOptions& options) : m_options(options), m_port(port) {}

CCommands::~CCommands() = default;

std::uint8_t CCommands::ReplyBlockFor(std::uint8_t command) const
{
    // Without the listen-only exchange command 0 is an ordinary request and
    // its block number follows the general rule.
    if (command == kXCPListenOnly && !m_options.listenOnlyCommand0)
        return static_cast<std::uint8_t>(command - 0x30);
    return pvx::ReplyBlockFor(command);
}

bool CCommands::IsCommandSupported(std::uint8_t command) const
{
    if (command == kXCPListenOnly && m_options.listenOnlyCommand0)
        return true;
    return std::find(m_commandList.begin(), m_commandList.end(), command) != m_commandList.end();
}

bool CCommands::NeedsAuthorization(std::uint8_t command) const
{
    if (!m_options.authorize || command == kXCPListenOnly || command == kXCPEndSession
        || command == kXCPAuthorize || !m_authorizationRequired)
        return false;
    return command > kUnrestrictedLimit;
}

void CCommands::WriteFrame(std::span<const std::uint8_t> frame)
{
    // Only what comes after the request can be its reply.
    m_port->DiscardPendingInput();
    std::size_t written = 0;
    m_port->Write(frame, written);
}

void CCommands::AuthorizeIfNeeded(std::uint8_t command)
{
    if (!NeedsAuthorization(command))
        return;
    SendRequest(kXCPAuthorize, kAuthorizationTimeoutMs);
    SerialPause(kAuthorizationPauseMs);
}

void CCommands::RefuseWhileLent()
{
    // Work served while an exchange waits for its reply (a manager's SET)
    // must not start one of its own: its bytes would be read as the other's.
    if (IsInLentSerialWait())
        throw CPVXException(EVENT_SERIAL_BUSY);
}

std::uint32_t CCommands::SendRequest(std::uint8_t command, std::uint32_t timeoutMs)
{
    RefuseWhileLent();
    const bool listenOnly = command == kXCPListenOnly && m_options.listenOnlyCommand0;
    if (!listenOnly && command != kXCPAuthorize) {
        auto frame = BuildRequestFrame(command);
        // Simple requests wait their own fixed time whatever the caller asks.
        return SendFrame(frame, command, kSimpleRequestTimeoutMs);
    }
    std::uint32_t result = 0;
    for (int tries = 0; tries < kMaxTries; ++tries) {
        if (command == kXCPAuthorize)
            WriteFrame(kXCPAuthorizationFrame);
        try {
            result = ReceiveReply(ReplyBlockFor(command), timeoutMs, 0);
        } catch (const CPVXException&) {
            // A UPS that ignores authorization is still usable: the
            // restricted command goes out anyway.
            result = 0;
        }
        if (result == kXCPNotAvailable)
            m_authorizationRequired = false;
        if (result != kXCPBusy)
            break;
    }
    return result;
}

std::uint32_t CCommands::SendCommand(std::uint8_t command, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    RefuseWhileLent();
    if (data.size() > kXCPMaxRequestData)
        throw CPVXException(EVENT_BAD_REPLY);
    auto frame = BuildRequestFrame(command, data);
    return SendFrame(frame, command, timeoutMs);
}

std::uint32_t CCommands::SendFrame(std::span<const std::uint8_t> frame, std::uint8_t command, std::uint32_t timeoutMs)
{
    std::uint32_t result = 0;
    for (int tries = 0; tries < kMaxTries; ++tries) {
        AuthorizeIfNeeded(command);
        WriteFrame(frame);
        result = ReceiveReply(ReplyBlockFor(command), timeoutMs, 0);
        if (result != kXCPBusy)
            break;
    }
    return result;
}

void CCommands::ReadExact(std::span<std::uint8_t> destination)
{
    std::size_t got = 0;
    for (;;) {
        std::size_t n = 0;
        m_port->Read(destination.subspan(got), n);
        got += n;
        if (got >= destination.size())
            return;
        if (DeadlinePassed())
            throw CPVXException(EVENT_TIMEOUT);
        // Block in the kernel until bytes come or the deadline passes.
        m_port->WaitForInput(DeadlineRemaining() + 1);
    }
}

void CCommands::ReadStartByte()
{
    // A little noise on the line (a long cable, a loose ground) costs the
    // bytes it adds, not the reply that follows them.
    for (unsigned strays = 0;; ++strays) {
        std::uint8_t byte = 0;
        ReadExact(std::span(&byte, 1));
        if (byte == kXCPStartByte)
            return;
        if (strays >= kMaxStrayBytes)
            ThrowSpoiledReply();
    }
}

void CCommands::ThrowSpoiledReply()
{
    // Whatever is left of the spoiled reply would otherwise be read as the
    // start of every later one, and a single corrupted byte would make each
    // exchange fail until the UPS was given up for lost.
    try {
        m_port->Drain(kResyncQuietMs);
    } catch (const CPVXException&) {
        // A line that keeps talking: the next exchange finds out for itself.
    }
    throw CPVXException(EVENT_BAD_REPLY);
}

std::uint32_t CCommands::ReceiveReply(std::uint8_t expected, std::uint32_t timeoutMs, std::uint32_t assembled)
{
    if (assembled == 0 || assembled > m_reply.size()) {
        assembled = 0;
        m_reply.clear();
        m_replyLength = 0;
    }
    const std::uint64_t started = CurrentClock().MonotonicMilliseconds();
    const std::uint64_t timeBound =
        std::max<std::uint64_t>(static_cast<std::uint64_t>(timeoutMs) * kReadTimeFactor, 1000);
    unsigned blocksInReply = 0;
    unsigned blocksRead = 0;
    for (;;) {
        if (blocksRead >= kMaxBlocksPerRead || (blocksRead > 0 && CurrentClock().MonotonicMilliseconds() - started >= timeBound))
            throw CPVXException(EVENT_TIMEOUT);
        // The deadline covers one block: header, data and checksum.
        SetDeadline(timeoutMs);
        std::array<std::uint8_t, 4> header{kXCPStartByte};
        ReadStartByte();
        ReadExact(std::span(header).subspan(1));
        std::uint8_t length = header[2];
        m_reply.resize(assembled + length);
        ReadExact(std::span(m_reply).subspan(assembled, length));
        std::uint8_t checksum = 0;
        ReadExact(std::span(&checksum, 1));
        unsigned sum = checksum;
        for (std::uint8_t b : header)
            sum += b;
        for (std::uint8_t b : std::span(m_reply).subspan(assembled, length))
            sum += b;
        if ((sum & 0xFF) != 0)
            ThrowSpoiledReply();
        ++blocksRead;
        ++blocksInReply;
        assembled += length;
        m_replyLength = assembled;

        if ((header[3] & kXCPLastBlock) == 0) {
            if (blocksInReply >= kMaxReplyBlocks)
                throw CPVXException(EVENT_BAD_REPLY);
            continue;
        }
        std::uint8_t number = header[1];
        if (number == expected)
            return 0;
        if (number == kXCPStatusBlock) {
            if (m_replyLength == 0)
                throw CPVXException(EVENT_BAD_REPLY); // a status block without its status
            std::uint8_t status = m_reply[0];
            return status == kXCPAcceptedAlso ? kXCPAccepted : status;
        }
        // An unsolicited or stale reply: drop it and wait for ours.
        assembled = 0;
        blocksInReply = 0;
        m_reply.clear();
        m_replyLength = 0;
    }
}

void CCommands::ReadCommandList()
{
    m_commandList.clear();
    m_commandCount = 0;
    m_commandListSecondByte = 1;
    if (!m_options.readCommandList)
        return;
    if (SendRequest(kXCPCommandList, kAuthorizationTimeoutMs) != 0)
        throw CPVXException(EVENT_BAD_REPLY);
    CByteCursor cursor(GetReply());
    std::uint8_t count = 0;
    std::uint8_t second = 1;
    cursor.ReadU8(count);
    if (cursor.ReadU8(second))
        m_commandListSecondByte = second;
    // A reply shorter than its count keeps only the codes that arrived.
    auto codes = cursor.TakeUpTo(count);
    m_commandList.assign(codes.begin(), codes.end());
    m_commandCount = static_cast<std::uint8_t>(m_commandList.size());
}

std::vector<std::uint8_t> CCommands::RelayFrame(std::span<const std::uint8_t> frame, std::uint32_t& length)
{
    RefuseWhileLent();
    length = 0;
    const CXCPRequest request(frame);
    const auto whole = request.Whole();
    if (whole.empty())
        throw CPVXException(EVENT_BAD_REPLY); // shorter than its own length byte says
    const std::uint8_t command = request.Command();
    if (NeedsAuthorization(command)) {
        SendRequest(kXCPAuthorize, kAuthorizationTimeoutMs);
        SerialPause(kAuthorizationPauseMs);
    }
    WriteFrame(whole);
    std::uint32_t result = ReceiveReply(ReplyBlockFor(command), kSimpleRequestTimeoutMs, 0);

    // 64-bit sizes: a large assembled reply must fail the bound, not wrap past it.
    const std::uint64_t replyLength = m_replyLength;
    const std::uint64_t blocks = (replyLength + kRelayBlockData - 1) / kRelayBlockData;
    const std::uint64_t outLength = blocks * (replyLength + kXCPBlockOverhead);
    if (outLength > kMaxRelayReply)
        throw CPVXException(EVENT_BAD_REPLY);

    std::vector<std::uint8_t> out(static_cast<std::size_t>(outLength), 0);
    std::uint8_t number = result == 0 ? ReplyBlockFor(command) : static_cast<std::uint8_t>(result);
    for (std::size_t i = 0; i < blocks; ++i) {
        std::size_t dataOffset = i * kRelayBlockData;
        std::size_t count = std::min<std::size_t>(kRelayBlockData, m_replyLength - dataOffset);
        std::size_t at = i * kRelayBlockStride;
        auto block = std::span(out).subspan(at, count + kXCPBlockOverhead);
        block[0] = kXCPStartByte;
        block[1] = number;
        block[2] = static_cast<std::uint8_t>(count);
        block[3] = static_cast<std::uint8_t>((i + 1) | (i + 1 == blocks ? kXCPLastBlock : 0));
        std::copy_n(m_reply.begin() + static_cast<std::ptrdiff_t>(dataOffset), count, block.begin() + 4);
        block[count + 4] = XCPChecksum(block.first(count + 4));
    }
    SerialPause(kRelayPauseMs);
    length = static_cast<std::uint32_t>(out.size());
    return out;
}

} // namespace pvx
