// CDataTypeMap: the format list of one XCP meter block and the values of the
// last block read, with the decoding of each meter format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <vector>

namespace pvx {

class CCommands;
class CReplyReader;

class CDataTypeMap {
public:
    // Meters of the date and the time of day in the main meter block.
    static constexpr std::size_t kDateMeter = 72;
    static constexpr std::size_t kTimeMeter = 73;

    CDataTypeMap() = default;
    virtual ~CDataTypeMap() = default;

    // Reads a count byte and that many format bytes; a list cut short keeps
    // the formats that arrived.
    void ParseFormats(CReplyReader& reader);
    // Sends `request` and keeps the whole reply as the new values. False,
    // with the last values kept, when the UPS answers with anything but the
    // data block (a command status, or busy after the last try).
    bool ReadBlock(CCommands& link, std::uint8_t request);
    // Replaces the values directly (tests and the simulator's golden blocks).
    void SetValues(std::span<const std::uint8_t> values);
    void SetFormats(std::span<const std::uint8_t> formats);

    // The decoded meter, or `fallback` when the meter is absent, undecodable
    // or not (wholly) inside the last block.
    double GetValue(std::size_t meter, double fallback) const;
    // The UPS clock from meters 72 (date) and 73 (time), or the current
    // local time when the UPS keeps no clock; nothing when it sends an
    // impossible date (day 0, or past the end of its year).
    std::optional<std::tm> GetDateTime() const;
    // Byte offset of `meter` in the value block: 4 per present meter below it.
    std::size_t ValueOffset(std::size_t meter) const;

    std::size_t GetFormatCount() const { return m_formats.size(); }
    std::uint8_t GetFormat(std::size_t meter) const { return meter < m_formats.size() ? m_formats[meter] : 0; }
    std::size_t GetValueLength() const { return m_values.size(); }

private:
    // The meter's raw little-endian word; false when it is not in the block.
    bool RawWord(std::size_t meter, std::uint32_t& raw) const;

    std::vector<std::uint8_t> m_formats;
    std::vector<std::uint8_t> m_values;
};

} // namespace pvx
