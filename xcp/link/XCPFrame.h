// XCP frames and reply blocks: the checksum, the block number a request is
// answered with, builders for requests and replies, and bounded parsers.
// Shared by the link, the model's emulation and the UPS simulator.
#pragma once

#include "platform/ByteCursor.h"
#include "xcp/link/XCPCommandTable.h"
#include "xcp/link/XCPRequest.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pvx {

constexpr std::uint8_t kXCPStartByte = 0xAB;
constexpr std::uint8_t kXCPLastBlock = 0x80;   // sequence byte flag of the last block
constexpr std::size_t kXCPBlockOverhead = 5;   // start, number, length, sequence, checksum
constexpr std::size_t kXCPMaxBlockData = 255;  // the length byte's range
constexpr std::size_t kXCPMaxRequestData = 254; // length byte = data + command byte

// The fixed authorization frame: command 0xCF with its three code bytes.
constexpr std::array<std::uint8_t, 7> kXCPAuthorizationFrame = {0xAB, 0x04, 0xCF, 0x3A, 0x91, 0x4E, 0x69};

// The byte that makes `bytes` plus itself sum to 0 modulo 256.
std::uint8_t XCPChecksum(std::span<const std::uint8_t> bytes);
bool XCPSumIsZero(std::span<const std::uint8_t> bytes);

// Block number of the reply to `command`: 1 for 0 and 0xA0, else command - 0x30.
std::uint8_t ReplyBlockFor(std::uint8_t command);

// 0xAB, data + 1, command, data, checksum. `data` holds at most 254 bytes;
// longer data is cut there.
std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t command, std::span<const std::uint8_t> data = {});

// Appends one reply block (at most 255 data bytes; longer data is cut).
void AppendReplyBlock(std::vector<std::uint8_t>& out, std::uint8_t number, std::uint8_t sequence,
                      std::span<const std::uint8_t> data);
// A whole reply: `data` in blocks of at most `maxBlockData` bytes (1 to 255),
// sequence numbers from 1, the last block flagged. No data gives one empty block.
std::vector<std::uint8_t> BuildReply(std::uint8_t number, std::span<const std::uint8_t> data,
                                     std::size_t maxBlockData = kXCPMaxBlockData);
// A command-status block: the status, then the request's command and data echoed.
std::vector<std::uint8_t> BuildStatusReply(std::uint8_t status, std::uint8_t command,
                                           std::span<const std::uint8_t> data = {});

enum class EXCPParse {
    Complete,    // a whole, well-formed frame; the cursor moved past it
    Incomplete,  // more bytes are needed; the cursor did not move
    BadStart,    // the first byte is not 0xAB; the cursor did not move
    BadLength,   // a request whose length byte is 0; the cursor did not move
    BadChecksum, // a whole frame whose bytes do not sum to 0; the cursor moved past it
};

struct SXCPBlock {
    std::uint8_t number = 0;
    std::uint8_t sequence = 0;
    std::span<const std::uint8_t> data;
    std::span<const std::uint8_t> frame;
    bool IsLast() const { return (sequence & kXCPLastBlock) != 0; }
};

// A whole, well-formed request at the cursor: `request` views it.
EXCPParse ParseRequestFrame(CByteCursor& cursor, CXCPRequest& request);
EXCPParse ParseReplyBlock(CByteCursor& cursor, SXCPBlock& block);

} // namespace pvx
