// The stored form of the relay password (Network/Passwd) and of SNMPv3 keys.
// It only keeps a secret from being read at a glance in pvx.ini: the key of
// the scrambling is fixed, so anyone who can read the file can decode it, and
// only the file's mode protects the secret itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pvx {

class CEncryption {
public:
    // Plain text to stored form: "pvx1:" followed by two hexadecimal digits per byte.
    static std::string Encrypt(std::string_view plain);
    // Stored form to plain text; nothing when the text is not a stored form.
    static std::optional<std::string> UnEncrypt(std::string_view stored);

    // Bytes (an SNMPv3 key) to stored form: "pvx2:" and two hexadecimal
    // digits per byte, half the length of a text's form, so that a user line
    // with two keys fits the reader's 255 characters.
    static std::string EncryptBytes(std::span<const std::uint8_t> plain);
    static std::optional<std::vector<std::uint8_t>> UnEncryptBytes(std::string_view stored);

    static constexpr std::size_t kMaxPasswordLength = 64;
};

} // namespace pvx
