// XCP frame building and bounded parsing.
#include "xcp/link/XCPFrame.h"

#include <algorithm>

namespace pvx {

std::uint8_t XCPChecksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

bool XCPSumIsZero(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return (sum & 0xFF) == 0;
}

std::uint8_t ReplyBlockFor(std::uint8_t command)
{
    if (command == 0 || command == 0xA0)
        return 1;
    return static_cast<std::uint8_t>(command - 0x30);
}

std::vector<std::uint8_t> BuildRequestFrame(std::uint8_t command, std::span<const std::uint8_t> data)
{
    data = data.first(std::min(data.size(), kXCPMaxRequestData));
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 4);
    frame.push_back(kXCPStartByte);
    frame.push_back(static_cast<std::uint8_t>(data.size() + 1));
    frame.push_back(command);
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(XCPChecksum(frame));
    return frame;
}

void AppendReplyBlock(std::vector<std::uint8_t>& out, std::uint8_t number, std::uint8_t sequence,
                      std::span<const std::uint8_t> data)
{
    data = data.first(std::min(data.size(), kXCPMaxBlockData));
    std::size_t start = out.size();
    out.push_back(kXCPStartByte);
    out.push_back(number);
    out.push_back(static_cast<std::uint8_t>(data.size()));
    out.push_back(sequence);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(XCPChecksum(std::span(out).subspan(start)));
}

std::vector<std::uint8_t> BuildReply(std::uint8_t number, std::span<const std::uint8_t> data,
                                     std::size_t maxBlockData)
{
    maxBlockData = std::clamp<std::size_t>(maxBlockData, 1, kXCPMaxBlockData);
    std::vector<std::uint8_t> out;
    std::size_t blocks = data.empty() ? 1 : (data.size() + maxBlockData - 1) / maxBlockData;
    out.reserve(data.size() + blocks * kXCPBlockOverhead);
    for (std::size_t i = 0; i < blocks; ++i) {
        std::size_t offset = i * maxBlockData;
        auto part = data.subspan(offset, std::min(maxBlockData, data.size() - offset));
        auto sequence = static_cast<std::uint8_t>(((i + 1) & 0x7F) | (i + 1 == blocks ? kXCPLastBlock : 0));
        AppendReplyBlock(out, number, sequence, part);
    }
    return out;
}

std::vector<std::uint8_t> BuildStatusReply(std::uint8_t status, std::uint8_t command, std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> body;
    body.reserve(data.size() + 2);
    body.push_back(status);
    body.push_back(command);
    body.insert(body.end(), data.begin(), data.end());
    return BuildReply(kXCPStatusBlock, body);
}

namespace {

// One frame off the cursor: a start byte, a header of `headerSize` bytes
// whose byte `lengthAt` counts the data, and `overhead` bytes besides the
// data. The cursor moves past a frame only once it is whole, and then also
// when its checksum fails.
EXCPParse TakeFrame(CByteCursor& cursor, std::size_t headerSize, std::size_t lengthAt, std::size_t overhead,
    bool emptyAllowed, std::span<const std::uint8_t>& frame)
{
    auto rest = cursor.Bytes().subspan(cursor.Offset());
    if (rest.empty())
        return EXCPParse::Incomplete;
    if (rest[0] != kXCPStartByte)
        return EXCPParse::BadStart;
    if (rest.size() < headerSize)
        return EXCPParse::Incomplete;
    const std::size_t length = rest[lengthAt];
    if (length == 0 && !emptyAllowed)
        return EXCPParse::BadLength;
    CByteCursor probe(rest);
    if (!probe.Take(length + overhead, frame))
        return EXCPParse::Incomplete;
    cursor.Skip(frame.size());
    return XCPSumIsZero(frame) ? EXCPParse::Complete : EXCPParse::BadChecksum;
}

} // namespace

EXCPParse ParseRequestFrame(CByteCursor& cursor, CXCPRequest& request)
{
    // 0xAB, length, command and data, checksum.
    std::span<const std::uint8_t> frame;
    const EXCPParse result = TakeFrame(cursor, 2, 1, 3, false, frame);
    if (result == EXCPParse::Complete)
        request = CXCPRequest(frame);
    return result;
}

EXCPParse ParseReplyBlock(CByteCursor& cursor, SXCPBlock& block)
{
    // 0xAB, block number, length, sequence, data, checksum.
    std::span<const std::uint8_t> frame;
    const EXCPParse result = TakeFrame(cursor, 4, 2, kXCPBlockOverhead, true, frame);
    if (result == EXCPParse::Complete) {
        block.frame = frame;
        block.number = frame[1];
        block.sequence = frame[3];
        block.data = frame.subspan(4, frame.size() - kXCPBlockOverhead);
    }
    return result;
}

} // namespace pvx
