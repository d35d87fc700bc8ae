// Helpers of the model's own XCP answers: a bounded view of one request frame
// and the finishing pass that checks and completes reply blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pvx {

// The model text the emulated UPS identifies itself with (16 characters).
inline constexpr std::string_view kEmulatedModelText = "  VERDAN   PVX  ";

// One request frame as a client sent it: 0xAB, L, command, L - 1 data bytes,
// checksum. The frame may be cut short (a datagram's last bytes): L then
// counts only the bytes that are there, and data bytes past them read as 0,
// so no builder can read outside the frame whatever its length byte says.
class CXCPRequest {
public:
    explicit CXCPRequest(std::span<const std::uint8_t> frame)
        : m_frame(frame)
    {
        if (frame.size() > 2) {
            const std::size_t declared = frame[1];
            m_contents = frame.subspan(2, declared < frame.size() - 2 ? declared : frame.size() - 2);
        }
    }

    // False for a frame too short to hold a command byte.
    bool HasCommand() const { return !m_contents.empty(); }
    // L as far as the frame holds it: the command byte and the data.
    std::size_t Length() const { return m_contents.size(); }
    std::uint8_t Command() const { return m_contents.empty() ? 0 : m_contents[0]; }
    // Data byte `index` (data0 is the byte after the command), 0 past the end.
    std::uint8_t Data(std::size_t index) const { return index + 1 < m_contents.size() ? m_contents[index + 1] : 0; }
    // data[index] + 256 x data[index + 1]
    std::uint16_t Data16(std::size_t index) const
    {
        return static_cast<std::uint16_t>(Data(index) | (Data(index + 1) << 8));
    }
    // Command byte and data, as a command-status reply echoes them.
    std::span<const std::uint8_t> Contents() const { return m_contents; }
    std::span<const std::uint8_t> Frame() const { return m_frame; }

private:
    std::span<const std::uint8_t> m_frame;
    std::span<const std::uint8_t> m_contents;
};

// Walks the reply blocks laid back to back in `reply` (0xAB, number, n,
// sequence, n data bytes, checksum), writes each block's checksum and cuts
// the reply after the first block flagged last. False, with `reply` left as
// it was, when a block does not start with 0xAB, runs past the end, or no
// block is flagged last.
bool FinishXCPReply(std::vector<std::uint8_t>& reply);

// The UPS software version text read as a hexadecimal number (leading blanks
// and a 0x prefix allowed, reading stops at the first other character):
// true and its low byte when it is nonzero.
bool ReadVersionAsHex(std::string_view text, std::uint8_t& lowByte);
// The version text read as a decimal fraction, times 10, truncated and held
// to 16 bits; 0 when it does not start with a number.
std::uint16_t ReadVersionTimesTen(std::string_view text);

} // namespace pvx
