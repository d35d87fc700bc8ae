// The stored form of the relay password (Network/Passwd). It only keeps the
// password from being read at a glance in pvx.ini; anyone who can read the
// file can decode it, so protect the file as the password itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pvx {

class CEncryption {
public:
    // Plain text to stored form: "pvx1:" followed by two hexadecimal digits per byte.
    static std::string Encrypt(std::string_view plain);
    // Stored form to plain text; nothing when the text is not a stored form.
    static std::optional<std::string> UnEncrypt(std::string_view stored);

    static constexpr std::size_t kMaxPasswordLength = 64;
};

} // namespace pvx
