// CReplyReader: the one reader of XCP reply blocks in the driver. Bytes at or
// past the end of the reply read as 0 (or the caller's fallback) and counts
// are cut to what arrived, so no UPS reply can lead a read outside it.
#pragma once

#include "platform/ByteCursor.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace pvx {

class CReplyReader {
public:
    explicit CReplyReader(std::span<const std::uint8_t> bytes)
        : m_cursor(bytes)
    {
    }

    std::size_t Size() const { return m_cursor.Size(); }
    std::size_t Offset() const { return m_cursor.Offset(); }
    std::size_t Remaining() const { return m_cursor.Remaining(); }

    // Random access by position.
    std::uint8_t U8At(std::size_t position, std::uint8_t fallback = 0) const { return m_cursor.At(position, fallback); }
    std::uint16_t U16LEAt(std::size_t position) const
    {
        return static_cast<std::uint16_t>(U8At(position) | (U8At(position + 1) << 8));
    }
    std::uint32_t U32LEAt(std::size_t position) const
    {
        return static_cast<std::uint32_t>(U16LEAt(position))
            | (static_cast<std::uint32_t>(U16LEAt(position + 2)) << 16);
    }
    // True when `count` bytes from `position` all arrived.
    bool Holds(std::size_t position, std::size_t count) const
    {
        return position <= m_cursor.Size() && count <= m_cursor.Size() - position;
    }

    // Sequential reads; past the end they give 0 and the position stays at the end.
    std::uint8_t ReadU8()
    {
        std::uint8_t value = 0;
        m_cursor.ReadU8(value);
        return value;
    }
    std::uint16_t ReadU16LE()
    {
        std::uint16_t value = ReadU8();
        return static_cast<std::uint16_t>(value | (ReadU8() << 8));
    }
    // Up to `count` bytes: fewer when the reply ends first.
    std::span<const std::uint8_t> TakeUpTo(std::size_t count) { return m_cursor.TakeUpTo(count); }
    void Skip(std::size_t count) { m_cursor.TakeUpTo(count); }

private:
    CByteCursor m_cursor;
};

} // namespace pvx
