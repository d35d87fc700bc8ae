// The users of the RFC 9271 server ([NUT] User1 to User8) and the stored
// form of their passwords: a salted PBKDF2-HMAC-SHA-256 hash, so that
// pvx.ini holds only what checking a password needs, never the password.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::nut {

// What a user may do; each role may do what the ones before it may.
enum class ERole {
    Monitor, // LOGIN (GET and LIST need no user)
    Primary, // also PRIMARY (MASTER) and FSD
    Admin, // also INSTCMD and SET VAR
};

struct SUser {
    std::string name;
    std::string storedPassword;
    ERole role = ERole::Monitor;
};

constexpr std::size_t kMaxUsers = 8;
constexpr std::size_t kMaxNameLength = 32;
// The iterations pvx-passwd uses: about 30 ms of one core for each check.
constexpr unsigned kDefaultIterations = 100000;
// A stored form outside these bounds is refused: too few make the hash
// cheap to guess, too many would hold the service loop for seconds.
constexpr unsigned kMinIterations = 1000;
constexpr unsigned kMaxIterations = 1000000;
constexpr std::size_t kMaxPasswordLength = 128;

// "pbkdf2-sha256$<iterations>$<salt, 32 hex digits>$<hash, 64 hex digits>"
// with a fresh random salt; nothing when the password is empty or longer
// than kMaxPasswordLength, or libcrypto fails.
std::optional<std::string> StorePassword(std::string_view password, unsigned iterations = kDefaultIterations);

// A stored form taken apart; nothing when it is not one.
struct SStoredPassword {
    unsigned iterations = 0;
    std::vector<std::uint8_t> salt;
    std::vector<std::uint8_t> hash;
};
std::optional<SStoredPassword> ParseStoredPassword(std::string_view stored);
// Runs the whole derivation: as slow as the stored iterations make it.
bool CheckPassword(const SStoredPassword& stored, std::string_view password);

// Parses the eight lines of [NUT] User1 to User8 (an empty line is no user).
// Throws EVENT_NUT_USER_MALFORMED with the key ("User3") and the reason as
// arguments; never puts the line itself into the event.
std::vector<SUser> ParseUsers(std::span<const std::string> lines);

} // namespace pvx::nut
