// CXCPRequest: the one bounded view of an XCP request frame, read alike by
// the link, the relay, the model's emulation, the driver and the simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pvx {

// One request frame as a client or a host sent it: 0xAB, L, command, L - 1
// data bytes, checksum. The frame may be cut short (a datagram's last bytes):
// L then counts only the bytes that are there, and data bytes past them read
// as 0, so no reader can go outside the frame whatever its length byte says.
class CXCPRequest {
public:
    CXCPRequest() = default;
    explicit CXCPRequest(std::span<const std::uint8_t> frame)
        : m_frame(frame)
    {
        if (frame.size() > 2) {
            const std::size_t declared = frame[1];
            m_contents = frame.subspan(2, declared < frame.size() - 2 ? declared : frame.size() - 2);
        }
    }

    // The frame at the front of `bytes`, from its start byte to its checksum;
    // empty when the first byte is not 0xAB or the bytes end too soon.
    static std::span<const std::uint8_t> FrameAt(std::span<const std::uint8_t> bytes);

    // False for a frame too short to hold a command byte.
    bool HasCommand() const { return !m_contents.empty(); }
    // L as far as the frame holds it: the command byte and the data.
    std::size_t Length() const { return m_contents.size(); }
    // The byte in the command position, 0 when the frame is shorter. A frame
    // whose length byte is 0 has its checksum there, which a relay passes on
    // like any command.
    std::uint8_t Command() const { return m_frame.size() > 2 ? m_frame[2] : 0; }
    // Data byte `index` (data0 is the byte after the command), 0 past the end.
    std::uint8_t Data(std::size_t index) const { return index + 1 < m_contents.size() ? m_contents[index + 1] : 0; }
    // data[index] + 256 x data[index + 1]
    std::uint16_t Data16(std::size_t index) const
    {
        return static_cast<std::uint16_t>(Data(index) | (Data(index + 1) << 8));
    }
    // The data bytes the frame holds, the checksum apart.
    std::span<const std::uint8_t> DataBytes() const { return m_contents.empty() ? m_contents : m_contents.subspan(1); }
    // Command byte and data, as a command-status reply echoes them.
    std::span<const std::uint8_t> Contents() const { return m_contents; }
    std::span<const std::uint8_t> Frame() const { return m_frame; }
    // The bytes from the start to the checksum when the frame holds them all
    // (whatever follows is left out), else empty.
    std::span<const std::uint8_t> Whole() const;

private:
    std::span<const std::uint8_t> m_frame;
    std::span<const std::uint8_t> m_contents;
};

} // namespace pvx
