// XCP frames and reply blocks: the checksum, the block number a request is
// answered with, builders for requests and replies, and bounded parsers.
// Shared by the link, the model's emulation and the UPS simulator.
#pragma once

#include "platform/ByteCursor.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pvx {

constexpr std::uint8_t kXCPStartByte = 0xAB;
constexpr std::uint8_t kXCPLastBlock = 0x80;   // sequence byte flag of the last block
constexpr std::uint8_t kXCPStatusBlock = 9;    // command-status block number
constexpr std::size_t kXCPBlockOverhead = 5;   // start, number, length, sequence, checksum
constexpr std::size_t kXCPMaxBlockData = 255;  // the length byte's range
constexpr std::size_t kXCPMaxRequestData = 254; // length byte = data + command byte

// XCP request and command codes, shared by the driver and the model's emulation.
constexpr std::uint8_t kXCPIdentification = 0x31; // identification block
constexpr std::uint8_t kXCPEvents = 0x32; // time-stamped events
constexpr std::uint8_t kXCPStatus = 0x33; // status block
constexpr std::uint8_t kXCPMeters = 0x34; // meter block
constexpr std::uint8_t kXCPAlarms = 0x35; // active alarms
constexpr std::uint8_t kXCPNominalOutput = 0x36; // block 6: nominal output values
constexpr std::uint8_t kXCPStatistics = 0x38; // statistics block
constexpr std::uint8_t kXCPBattery = 0x3B; // battery block
constexpr std::uint8_t kXCPNominalInput = 0x3C; // block 0x0C: nominal input values and limits
constexpr std::uint8_t kXCPTestResult = 0x3F; // test result block
constexpr std::uint8_t kXCPCommandList = 0x40; // supported commands
constexpr std::uint8_t kXCPOutlets = 0x41; // outlet block
constexpr std::uint8_t kXCPBaudList = 0x42; // offered line speeds
constexpr std::uint8_t kXCPTimedCommand = 0x88; // timed command
constexpr std::uint8_t kXCPStartupNow = 0x89; // start the output now
constexpr std::uint8_t kXCPReboot = 0x8A; // reboot with a delay
constexpr std::uint8_t kXCPShutdownNow = 0x8B; // switch the output off now
constexpr std::uint8_t kXCPSetClock = 0x90; // set the UPS clock
constexpr std::uint8_t kXCPDelayedStartup = 0x91; // start the output after minutes
constexpr std::uint8_t kXCPDelayedShutdown = 0x93; // switch the output off after minutes
constexpr std::uint8_t kXCPSetParameter = 0x95; // set a configuration parameter
constexpr std::uint8_t kXCPOutletCommand = 0x97; // outlet command
constexpr std::uint8_t kXCPSetBaudRate = 0x98; // switch the line speed
constexpr std::uint8_t kXCPWakeUp = 0xA0; // wake-up request
constexpr std::uint8_t kXCPBatteryTest = 0xB1; // battery test
constexpr std::uint8_t kXCPGeneralSystemsTest = 0xB2; // general systems test
constexpr std::uint8_t kXCPEndSession = 0xCE; // end of session

// Command-status codes a UPS answers with.
constexpr std::uint8_t kXCPAccepted = 0x31;
constexpr std::uint8_t kXCPNotAvailable = 0x32;
constexpr std::uint8_t kXCPBusy = 0x33;
constexpr std::uint8_t kXCPBadParameter = 0x36;
constexpr std::uint8_t kXCPAcceptedAlso = 0x37;

constexpr std::uint8_t kXCPAuthorize = 0xCF;

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

struct SXCPRequest {
    std::uint8_t command = 0;
    std::span<const std::uint8_t> data;  // bytes after the command byte
    std::span<const std::uint8_t> frame; // the whole frame
};

struct SXCPBlock {
    std::uint8_t number = 0;
    std::uint8_t sequence = 0;
    std::span<const std::uint8_t> data;
    std::span<const std::uint8_t> frame;
    bool IsLast() const { return (sequence & kXCPLastBlock) != 0; }
};

EXCPParse ParseRequestFrame(CByteCursor& cursor, SXCPRequest& request);
EXCPParse ParseReplyBlock(CByteCursor& cursor, SXCPBlock& block);

} // namespace pvx
