// Helpers for the driver tests: a CXComUPS that shows its model values, and
// builders of identification and meter blocks.
#pragma once

#include "tests/support/ModelAccess.h"
#include "tests/support/ScriptedPort.h"
#include "xcp/driver/XComUPS.h"

#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pvx::test {

class CTestXComUPS : public TModelAccess<CXComUPS> {
public:
    using TModelAccess::TModelAccess;

    using CXComUPS::GetLink;
    using CXComUPS::GetMeterMap;
    using CXComUPS::ReadAlarms;
    using CXComUPS::ReadBattery;
    using CXComUPS::ReadEvents;
    using CXComUPS::ReadMeters;
    using CXComUPS::ReadStatistics;
    using CXComUPS::ReadStatus;
    using CXComUPS::ReadTestResult;
};

inline std::uint32_t FloatWord(float value)
{
    return std::bit_cast<std::uint32_t>(value);
}

// The value block for `formats`: 4 little-endian bytes per present meter, in
// meter order; meters missing from `raw` read 0.
inline Bytes MeterBlock(const Bytes& formats, const std::map<std::size_t, std::uint32_t>& raw)
{
    Bytes block;
    for (std::size_t meter = 0; meter < formats.size(); ++meter) {
        if (formats[meter] == 0)
            continue;
        auto found = raw.find(meter);
        std::uint32_t word = found == raw.end() ? 0 : found->second;
        for (int i = 0; i < 4; ++i)
            block.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    }
    return block;
}

struct SIdentificationLayout {
    Bytes versions = { 1, 20, 2, 5 }; // pairs
    Bytes rating = { 0x00, 0x1E, 0x00 }; // 0, then 30 x 50 VA
    std::uint8_t lines = 1;
    std::string model = "Brand  Unit 5 ";
    Bytes meterFormats;
    Bytes alarmBitmap;
    Bytes statisticsFormats;
};

// Block 1 laid out item by item.
inline Bytes IdentificationBlock(const SIdentificationLayout& layout)
{
    Bytes block;
    // Reserved first (a block holds at most 255 bytes): gcc 12 at -O3
    // otherwise reports a false -Warray-bounds.
    block.reserve(256);
    block.push_back(static_cast<std::uint8_t>(layout.versions.size() / 2));
    block.insert(block.end(), layout.versions.begin(), layout.versions.end());
    block.insert(block.end(), layout.rating.begin(), layout.rating.end());
    block.push_back(layout.lines);
    block.push_back(0x00); // not used
    block.push_back(static_cast<std::uint8_t>(layout.model.size()));
    block.insert(block.end(), layout.model.begin(), layout.model.end());
    block.push_back(static_cast<std::uint8_t>(layout.meterFormats.size()));
    block.insert(block.end(), layout.meterFormats.begin(), layout.meterFormats.end());
    block.push_back(static_cast<std::uint8_t>(layout.alarmBitmap.size()));
    block.insert(block.end(), layout.alarmBitmap.begin(), layout.alarmBitmap.end());
    block.push_back(0x00); // two bytes not used
    block.push_back(0x00);
    block.push_back(static_cast<std::uint8_t>(layout.statisticsFormats.size()));
    block.insert(block.end(), layout.statisticsFormats.begin(), layout.statisticsFormats.end());
    return block;
}

// A command-list block: count, second byte 1, the codes.
inline Bytes CommandListBlock(const Bytes& commands)
{
    Bytes block = { static_cast<std::uint8_t>(commands.size()), 0x01 };
    block.insert(block.end(), commands.begin(), commands.end());
    return block;
}

// An alarm bitmap with the given alarm numbers set.
inline Bytes AlarmBitmap(const std::vector<unsigned>& alarms)
{
    Bytes bitmap;
    for (unsigned alarm : alarms) {
        if (bitmap.size() <= alarm / 8)
            bitmap.resize(alarm / 8 + 1, 0);
        bitmap[alarm / 8] = static_cast<std::uint8_t>(bitmap[alarm / 8] | (1u << (alarm % 8)));
    }
    return bitmap;
}

} // namespace pvx::test
