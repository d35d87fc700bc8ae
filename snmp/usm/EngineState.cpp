// Reading, advancing and writing the SNMPv3 engine state file.
#include "snmp/usm/EngineState.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/usm/UsmUsers.h"

#include <charconv>

namespace pvx::usm {

namespace {

constexpr std::uint8_t kEnterpriseAndFormat[] = {0x80, 0x00, 0x02, 0x16, 0x05};
constexpr std::size_t kRandomPartSize = 8;
// RFC 3411 SnmpEngineID: 5 to 32 octets.
constexpr std::size_t kMinEngineIdSize = 5;
constexpr std::size_t kMaxEngineIdSize = 32;

std::optional<Bytes> ParseHex(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    return BytesOfHex(text);
}

} // namespace

std::string EngineStatePath(const std::string& configPath)
{
    auto slash = configPath.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : configPath.substr(0, slash + 1);
    return folder + "pvx-engine.state";
}

std::optional<SEngineState> ParseEngineState(std::string_view text)
{
    std::optional<Bytes> engineId;
    std::optional<std::uint32_t> boots;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        auto equals = line.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string_view key = line.substr(0, equals);
        std::string_view value = line.substr(equals + 1);
        if (key == "EngineID" && !engineId) {
            engineId = ParseHex(value);
            if (!engineId || engineId->size() < kMinEngineIdSize || engineId->size() > kMaxEngineIdSize)
                return std::nullopt;
        } else if (key == "EngineBoots" && !boots) {
            std::uint32_t number = 0;
            auto [next, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (error != std::errc() || next != value.data() + value.size() || value.front() == '+' || number == 0
                || number >= kMaxEngineBoots)
                return std::nullopt;
            boots = number;
        } else {
            return std::nullopt;
        }
    }
    if (!engineId || !boots)
        return std::nullopt;
    return SEngineState {*engineId, *boots};
}

std::string FormatEngineState(const SEngineState& state)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "# SNMPv3 engine state, rewritten by pvx at every start. Removing this file\n"
                       "# gives pvx a new engine ID; managers then discover it afresh.\nEngineID=";
    for (std::uint8_t byte : state.engineId) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    text += "\nEngineBoots=" + std::to_string(state.boots) + "\n";
    return text;
}

Bytes MakeEngineId()
{
    Bytes id(std::begin(kEnterpriseAndFormat), std::end(kEnterpriseAndFormat));
    id.resize(id.size() + kRandomPartSize);
    if (!RandomBytes(std::span(id).subspan(sizeof kEnterpriseAndFormat)))
        return {};
    return id;
}

SEngineState StartEngine(const std::string& statePath)
{
    auto fail = [&statePath]() { return CPVXException(EVENT_USM_ENGINE_STATE, {statePath}); };
    SEngineState state;
    std::string contents;
    if (ReadFileBounded(statePath, kMaxStateFileSize + 1, false, contents)) {
        auto read = ParseEngineState(contents.size() > kMaxStateFileSize ? std::string_view() : contents);
        if (!read)
            throw fail();
        state = *read;
        ++state.boots;
    }
    if (state.engineId.empty() || state.boots >= kMaxEngineBoots) {
        state.engineId = MakeEngineId();
        state.boots = 1;
        if (state.engineId.empty())
            throw fail();
    }
    if (!ReplaceFileContents(statePath, FormatEngineState(state)))
        throw fail();
    return state;
}

} // namespace pvx::usm
