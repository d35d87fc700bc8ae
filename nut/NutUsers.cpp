// Users of the RFC 9271 server and their stored passwords.
#include "nut/NutUsers.h"

#include "events/PVXException.h"
#include "platform/HexText.h"
#include "snmp/usm/UsmCrypto.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace pvx::nut {

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kHashSize = 32;

void AppendHex(std::string& text, std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
}

bool ReadHex(std::string_view text, std::size_t size, std::vector<std::uint8_t>& bytes)
{
    if (text.size() != 2 * size)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

// The next field up to `separator` (the rest when there is none).
std::string_view TakeField(std::string_view& text, char separator)
{
    const std::size_t at = text.find(separator);
    std::string_view field = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    return field;
}

std::string_view Trimmed(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_'
        || c == '-' || c == '@';
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

std::optional<ERole> RoleNamed(std::string_view text)
{
    if (EqualsIgnoringCase(text, "monitor"))
        return ERole::Monitor;
    if (EqualsIgnoringCase(text, "primary"))
        return ERole::Primary;
    if (EqualsIgnoringCase(text, "admin"))
        return ERole::Admin;
    return std::nullopt;
}

} // namespace

std::optional<std::string> StorePassword(std::string_view password, unsigned iterations)
{
    if (password.empty() || password.size() > kMaxPasswordLength || iterations < kMinIterations
        || iterations > kMaxIterations)
        return std::nullopt;
    std::array<std::uint8_t, kSaltSize> salt {};
    std::array<std::uint8_t, kHashSize> hash {};
    if (!usm::RandomBytes(salt) || !usm::Pbkdf2HmacSha256(password, salt, iterations, hash))
        return std::nullopt;
    std::string stored(kScheme);
    stored += '$';
    stored += std::to_string(iterations);
    stored += '$';
    AppendHex(stored, salt);
    stored += '$';
    AppendHex(stored, hash);
    return stored;
}

std::optional<SStoredPassword> ParseStoredPassword(std::string_view stored)
{
    if (TakeField(stored, '$') != kScheme)
        return std::nullopt;
    const std::string_view count = TakeField(stored, '$');
    SStoredPassword parsed;
    const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), parsed.iterations);
    if (error != std::errc() || end != count.data() + count.size() || parsed.iterations < kMinIterations
        || parsed.iterations > kMaxIterations)
        return std::nullopt;
    if (!ReadHex(TakeField(stored, '$'), kSaltSize, parsed.salt) || !ReadHex(stored, kHashSize, parsed.hash))
        return std::nullopt;
    return parsed;
}

bool CheckPassword(const SStoredPassword& stored, std::string_view password)
{
    std::array<std::uint8_t, kHashSize> hash {};
    if (password.size() > kMaxPasswordLength || !usm::Pbkdf2HmacSha256(password, stored.salt, stored.iterations, hash))
        return false;
    return usm::EqualInConstantTime(hash, stored.hash);
}

std::vector<SUser> ParseUsers(std::span<const std::string> lines)
{
    std::vector<SUser> users;
    for (std::size_t i = 0; i < lines.size() && i < kMaxUsers; ++i) {
        const std::string key = "User" + std::to_string(i + 1);
        auto malformed = [&key](const char* reason) {
            return CPVXException(EVENT_NUT_USER_MALFORMED, { key, reason });
        };
        std::string_view rest = Trimmed(lines[i]);
        if (rest.empty())
            continue;
        const std::string_view name = Trimmed(TakeField(rest, ','));
        const std::string_view stored = Trimmed(TakeField(rest, ','));
        const std::string_view role = Trimmed(TakeField(rest, ','));
        if (!rest.empty() || role.empty())
            throw malformed("expected name,storedPassword,role");
        if (name.empty() || name.size() > kMaxNameLength || !std::ranges::all_of(name, IsNameCharacter))
            throw malformed("the name must be 1 to 32 letters, digits or . _ - @");
        if (std::ranges::any_of(users, [name](const SUser& user) { return user.name == name; }))
            throw malformed("the name is given to an earlier user too");
        if (!ParseStoredPassword(stored))
            throw malformed("the password is not a stored form made by pvx-passwd -n");
        const auto parsedRole = RoleNamed(role);
        if (!parsedRole)
            throw malformed("the role must be monitor, primary or admin");
        users.push_back({ std::string(name), std::string(stored), *parsedRole });
    }
    return users;
}

} // namespace pvx::nut
