// Parsing SNMPv3 user lines and the stored form of their keys.
#include "snmp/usm/UsmUsers.h"

#include "config/Encryption.h"
#include "events/PVXException.h"

#include <algorithm>

namespace pvx::usm {

namespace {

constexpr std::size_t kFieldCount = 7;

std::string_view Trim(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n";
    auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool SameWord(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool Absent(std::string_view field) { return field.empty() || field == "-"; }

} // namespace

std::string UserKeyName(std::size_t index) { return "User" + std::to_string(index + 1); }

std::optional<std::string> StoreKey(EAuthProtocol protocol, std::string_view passPhrase)
{
    if (passPhrase.size() < kMinPassPhraseLength)
        return std::nullopt;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : PasswordToKey(protocol, passPhrase)) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    if (hex.size() != 2 * KeySize(protocol))
        return std::nullopt;
    return CEncryption::Encrypt(hex);
}

std::optional<Bytes> LoadKey(EAuthProtocol protocol, std::string_view stored)
{
    auto hex = CEncryption::UnEncrypt(stored);
    if (!hex || hex->size() != 2 * KeySize(protocol))
        return std::nullopt;
    Bytes key;
    for (std::size_t i = 0; i < hex->size(); i += 2) {
        auto digit = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        int high = digit((*hex)[i]);
        int low = digit((*hex)[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        key.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return key;
}

SUsmUser ParseUsmUser(std::string_view key, std::string_view value)
{
    auto malformed = [key](const char* reason) {
        return CPVXException(EVENT_USM_USER_MALFORMED, {std::string(key), reason});
    };
    // A field that holds one of two words, case aside.
    auto either = [&malformed](std::string_view field, const char* first, auto firstValue, const char* second,
                      decltype(firstValue) secondValue, const char* reason) {
        if (SameWord(field, first))
            return firstValue;
        if (SameWord(field, second))
            return secondValue;
        throw malformed(reason);
    };
    std::vector<std::string_view> fields;
    while (fields.size() < kFieldCount) {
        auto comma = value.find(',');
        fields.push_back(Trim(value.substr(0, comma)));
        if (comma == std::string_view::npos) {
            value = {};
            break;
        }
        value = value.substr(comma + 1);
    }
    if (fields.size() != kFieldCount || !value.empty())
        throw malformed("a user line has seven fields separated by commas");

    SUsmUser user;
    user.name = fields[0];
    if (user.name.empty() || user.name.size() > kMaxUserNameLength)
        throw malformed("the user name has 1 to 32 characters");

    user.level = either(fields[1], "authNoPriv", ESecurityLevel::AuthNoPriv, "authPriv", ESecurityLevel::AuthPriv,
        "the level is authNoPriv or authPriv");
    user.authProtocol = either(fields[2], "SHA", EAuthProtocol::Sha1, "SHA256", EAuthProtocol::Sha256,
        "the authentication protocol is SHA or SHA256");

    auto authKey = LoadKey(user.authProtocol, fields[3]);
    if (!authKey)
        throw malformed("the authentication key is not a stored key of that protocol (pvx-passwd -3)");
    user.authKey = *authKey;

    if (user.level == ESecurityLevel::AuthPriv) {
        if (!SameWord(fields[4], "AES"))
            throw malformed("the privacy protocol of an authPriv user is AES");
        auto privKey = LoadKey(user.authProtocol, fields[5]);
        if (!privKey)
            throw malformed("the privacy key is not a stored key of the authentication protocol (pvx-passwd -3)");
        user.privKey = *privKey;
    } else if (!Absent(fields[4]) || !Absent(fields[5])) {
        throw malformed("an authNoPriv user has no privacy protocol or key (leave them empty or -)");
    }

    user.access = either(fields[6], "read", EAccess::Read, "write", EAccess::Write, "the access is read or write");
    return user;
}

std::vector<SUsmUser> ParseUsmUsers(std::span<const std::string> values)
{
    std::vector<SUsmUser> users;
    for (std::size_t i = 0; i < values.size() && i < kMaxUsers; ++i) {
        if (Trim(values[i]).empty())
            continue;
        SUsmUser user = ParseUsmUser(UserKeyName(i), values[i]);
        for (const auto& earlier : users)
            if (earlier.name == user.name)
                throw CPVXException(EVENT_USM_USER_MALFORMED, {UserKeyName(i), "the user name is given twice"});
        users.push_back(std::move(user));
    }
    return users;
}

} // namespace pvx::usm
