// A reversible scrambling of the relay password and of SNMPv3 keys: each
// byte is combined with a fixed key byte and its position, then written as
// hexadecimal.
#include "config/Encryption.h"

#include "platform/HexText.h"

#include <array>
#include <cstdint>

namespace pvx {

namespace {

constexpr std::string_view kPrefix = "pvx1:";
constexpr std::string_view kBytesPrefix = "pvx2:";
constexpr std::array<std::uint8_t, 8> kKey = {0x5C, 0xA3, 0x17, 0xE9, 0x42, 0x8D, 0x36, 0xF1};
constexpr char kDigits[] = "0123456789abcdef";

std::uint8_t Mask(std::size_t position)
{
    return static_cast<std::uint8_t>(kKey[position % kKey.size()] ^ static_cast<std::uint8_t>(position * 29));
}

std::string Scramble(std::span<const std::uint8_t> plain, std::string_view prefix)
{
    std::string stored(prefix);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        auto byte = static_cast<std::uint8_t>(plain[i] ^ Mask(i));
        stored += kDigits[byte >> 4];
        stored += kDigits[byte & 0x0F];
    }
    return stored;
}

std::optional<std::vector<std::uint8_t>> Unscramble(std::string_view stored, std::string_view prefix)
{
    if (stored.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    std::string_view digits = stored.substr(prefix.size());
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > CEncryption::kMaxPasswordLength)
        return std::nullopt;
    std::vector<std::uint8_t> plain;
    for (std::size_t i = 0; i < digits.size() / 2; ++i) {
        int high = HexDigitValue(digits[2 * i]);
        int low = HexDigitValue(digits[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        plain.push_back(static_cast<std::uint8_t>(((high << 4) | low) ^ Mask(i)));
    }
    return plain;
}

} // namespace

std::string CEncryption::Encrypt(std::string_view plain)
{
    return Scramble({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()}, kPrefix);
}

std::optional<std::string> CEncryption::UnEncrypt(std::string_view stored)
{
    auto bytes = Unscramble(stored, kPrefix);
    if (!bytes)
        return std::nullopt;
    std::string plain;
    for (std::uint8_t byte : *bytes) {
        // A password is text: control bytes mean the value was not made by pvx-passwd.
        if (byte < 0x20 || byte == 0x7F)
            return std::nullopt;
        plain += static_cast<char>(byte);
    }
    return plain;
}

std::string CEncryption::EncryptBytes(std::span<const std::uint8_t> plain)
{
    return Scramble(plain, kBytesPrefix);
}

std::optional<std::vector<std::uint8_t>> CEncryption::UnEncryptBytes(std::string_view stored)
{
    return Unscramble(stored, kBytesPrefix);
}

} // namespace pvx
