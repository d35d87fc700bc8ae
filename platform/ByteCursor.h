// Bounds-checked readers and writers over byte spans: every wire format and
// file that pvx parses goes through these, so no read can leave its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace pvx {

// Reads forward through a byte span. A failed read returns false and leaves
// the cursor where it was, so callers can report the offset that failed.
class CByteCursor {
public:
    CByteCursor() = default;
    explicit CByteCursor(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t Offset() const { return m_offset; }
    std::size_t Size() const { return m_bytes.size(); }
    std::size_t Remaining() const { return m_bytes.size() - m_offset; }
    bool AtEnd() const { return m_offset >= m_bytes.size(); }

    bool Seek(std::size_t offset)
    {
        if (offset > m_bytes.size())
            return false;
        m_offset = offset;
        return true;
    }

    bool Skip(std::size_t count)
    {
        if (count > Remaining())
            return false;
        m_offset += count;
        return true;
    }

    bool ReadU8(std::uint8_t& value)
    {
        if (Remaining() < 1)
            return false;
        value = m_bytes[m_offset++];
        return true;
    }

    bool ReadU16LE(std::uint16_t& value)
    {
        if (Remaining() < 2)
            return false;
        value = static_cast<std::uint16_t>(m_bytes[m_offset] | (m_bytes[m_offset + 1] << 8));
        m_offset += 2;
        return true;
    }

    bool ReadU32LE(std::uint32_t& value)
    {
        if (Remaining() < 4)
            return false;
        value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | m_bytes[m_offset + static_cast<std::size_t>(i)];
        m_offset += 4;
        return true;
    }

    // Takes up to `count` bytes (fewer at the end of the data).
    std::span<const std::uint8_t> TakeUpTo(std::size_t count)
    {
        std::size_t n = count < Remaining() ? count : Remaining();
        auto part = m_bytes.subspan(m_offset, n);
        m_offset += n;
        return part;
    }

    bool Take(std::size_t count, std::span<const std::uint8_t>& part)
    {
        if (count > Remaining())
            return false;
        part = m_bytes.subspan(m_offset, count);
        m_offset += count;
        return true;
    }

    // Byte at an absolute position, or `fallback` past the end: for formats
    // whose absent trailing bytes read as zero.
    std::uint8_t At(std::size_t position, std::uint8_t fallback = 0) const
    {
        return position < m_bytes.size() ? m_bytes[position] : fallback;
    }

    std::span<const std::uint8_t> Bytes() const { return m_bytes; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_offset = 0;
};

inline std::span<const std::uint8_t> AsBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace pvx
