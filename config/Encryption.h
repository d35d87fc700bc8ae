// The stored form of the relay password (Network/Passwd) and of SNMPv3 keys.
// It only keeps a secret from being read at a glance in pvx.ini: the key of
// the scrambling is fixed, so anyone who can read the file can decode it, and
// only the file's mode protects the secret itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pvx {

class CEncryption {
public:
    // Plain text to stored form: "pvx1:" followed by two hexadecimal digits per byte.
    static std::string Encrypt(std::string_view plain);
    // Stored form to plain text; nothing when the text is not a stored form
    // or its plain text is longer than `maxLength`.
    static std::optional<std::string> UnEncrypt(std::string_view stored, std::size_t maxLength = kMaxPasswordLength);

    static constexpr std::size_t kMaxPasswordLength = 64;
    // The longest stored text of any kind: an SNMPv3 key with its engine ID.
    static constexpr std::size_t kMaxStoredLength = 160;
};

} // namespace pvx
