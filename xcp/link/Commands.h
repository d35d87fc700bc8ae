// CCommands: the XCP link to the UPS. Builds and writes request frames, reads
// and joins reply blocks, retries a busy UPS, sends the authorization frame
// ahead of restricted commands and re-frames replies for the network relay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pvx {

class CCommPort;

// How a link treats the UPS on the other end. The defaults suit a real UPS;
// a simulated UPS has nobody to authorize with, no listen-only exchange and
// no command list of its own, so its link turns all three off.
struct SLinkOptions {
    // Restricted commands are preceded by the authorization frame while the
    // UPS has not refused it.
    bool authorize = true;
    // Command 0 writes nothing and only reads a reply as block 1, and counts
    // as always supported.
    bool listenOnlyCommand0 = true;
    // ReadCommandList asks the UPS; when off the list stays empty.
    bool readCommandList = true;

    static SLinkOptions Simulated() { return { false, false, false }; }
};

class CCommands {
public:
    static constexpr std::uint32_t kSimpleRequestTimeoutMs = 1500;
    static constexpr std::uint32_t kAuthorizationTimeoutMs = 750;
    static constexpr std::uint32_t kAuthorizationPauseMs = 200;
    static constexpr std::uint32_t kRelayPauseMs = 250;
    static constexpr int kMaxTries = 3;
    static constexpr std::size_t kRelayBlockData = 121;
    static constexpr std::size_t kRelayBlockStride = 126;
    static constexpr std::size_t kMaxRelayReply = 1172;
    // Bounds on one reply read: a UPS that keeps sending must not hold the
    // caller. Blocks of one assembled reply, blocks read in all (skipped
    // replies included), and the whole read as a multiple of the per-block
    // time-out (never below one second).
    static constexpr unsigned kMaxReplyBlocks = 32;
    static constexpr unsigned kMaxBlocksPerRead = 64;
    static constexpr std::uint32_t kReadTimeFactor = 8;
    // After a block with a bad start byte or checksum the line is drained
    // until it has been quiet this long, so the rest of the spoiled reply is
    // not read as the start of the next one.
    static constexpr std::uint32_t kResyncQuietMs = 100;
    // Stray bytes (line noise) passed over before the start byte of a
    // block, at most; beyond them the reply counts as spoiled.
    static constexpr unsigned kMaxStrayBytes = 32;

    explicit CCommands(CCommPort* port);
    CCommands(CCommPort* port, const SLinkOptions& options);
    virtual ~CCommands();

    CCommands(const CCommands&) = delete;
    CCommands& operator=(const CCommands&) = delete;

    // A simple request (or the authorization frame for 0xCF, or only a
    // reply read for 0). Returns 0 for the expected block, else a status.
    std::uint32_t SendRequest(std::uint8_t command, std::uint32_t timeoutMs);
    // A request frame with data bytes (at most 254).
    std::uint32_t SendCommand(std::uint8_t command, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);
    // Forwards a client's complete frame and returns the reply re-framed in
    // blocks of at most 121 data bytes; `length` receives its size.
    std::vector<std::uint8_t> RelayFrame(std::span<const std::uint8_t> frame, std::uint32_t& length);

    void ReadCommandList();
    bool IsCommandSupported(std::uint8_t command) const;
    bool NeedsAuthorization(std::uint8_t command) const;
    std::uint8_t ReplyBlockFor(std::uint8_t command) const;

    // The data of the last reply, all blocks joined.
    std::uint32_t GetReplyLength() const { return m_replyLength; }
    std::span<const std::uint8_t> GetReply() const { return {m_reply.data(), m_replyLength}; }

    // Set before the first exchange; a link changed midway keeps the state it has.
    void SetOptions(const SLinkOptions& options) { m_options = options; }
    const SLinkOptions& GetOptions() const { return m_options; }

    bool IsAuthorizationRequired() const { return m_authorizationRequired; }
    std::uint8_t GetCommandCount() const { return m_commandCount; }
    std::uint8_t GetCommandListSecondByte() const { return m_commandListSecondByte; }
    std::span<const std::uint8_t> GetCommandList() const { return m_commandList; }

private:
    std::uint32_t ReceiveReply(std::uint8_t expected, std::uint32_t timeoutMs, std::uint32_t assembled);
    void ReadExact(std::span<std::uint8_t> destination);
    void ReadStartByte();
    [[noreturn]] void ThrowSpoiledReply();
    void RefuseWhileLent();
    void WriteFrame(std::span<const std::uint8_t> frame);
    void AuthorizeIfNeeded(std::uint8_t command);
    std::uint32_t SendFrame(std::span<const std::uint8_t> frame, std::uint8_t command, std::uint32_t timeoutMs);

    SLinkOptions m_options;
    bool m_authorizationRequired = true;
    std::uint8_t m_commandCount = 0;
    std::uint8_t m_commandListSecondByte = 1;
    std::uint32_t m_replyLength = 0;
    std::vector<std::uint8_t> m_commandList;
    std::vector<std::uint8_t> m_reply;
    CCommPort* m_port;
};

} // namespace pvx
