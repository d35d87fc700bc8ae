// Parsing SNMPv3 user lines and the stored form of their keys.
#include "snmp/usm/UsmUsers.h"

#include "config/Encryption.h"
#include "events/PVXException.h"
#include "platform/HexText.h"

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

std::string HexOf(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::optional<Bytes> BytesOfHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    Bytes bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigitValue(hex[i]);
        int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

namespace {
enum EStoredForm : std::uint8_t { kStoredKu = 0, kStoredKul = 1 };
} // namespace

std::optional<std::string> StoreKey(EAuthProtocol protocol, std::string_view passPhrase,
                                    std::span<const std::uint8_t> engineId)
{
    if (passPhrase.size() < kMinPassPhraseLength)
        return std::nullopt;
    if (!engineId.empty() && (engineId.size() < kMinEngineIdLength || engineId.size() > kMaxEngineIdLength))
        return std::nullopt;
    Bytes key = PasswordToKey(protocol, passPhrase);
    if (key.size() != KeySize(protocol))
        return std::nullopt;
    Bytes plain { engineId.empty() ? kStoredKu : kStoredKul };
    if (!engineId.empty()) {
        Bytes tag = EngineTag(engineId);
        plain.insert(plain.end(), tag.begin(), tag.end());
        key = LocalizeKey(protocol, key, engineId);
    }
    plain.insert(plain.end(), key.begin(), key.end());
    return CEncryption::EncryptBytes(plain);
}

namespace {

std::optional<SStoredKey> ReadStoredKey(std::string_view stored)
{
    SStoredKey result;
    if (auto text = CEncryption::UnEncrypt(stored)) {
        // The first stored form: the hexadecimal text of Ku.
        auto key = BytesOfHex(*text);
        if (!key)
            return std::nullopt;
        result.key = std::move(*key);
        return result;
    }
    auto plain = CEncryption::UnEncryptBytes(stored);
    if (!plain || plain->empty())
        return std::nullopt;
    std::size_t at = 1;
    if ((*plain)[0] == kStoredKul) {
        if (plain->size() < 1 + kEngineTagSize)
            return std::nullopt;
        result.engineTag.assign(plain->begin() + 1, plain->begin() + 1 + kEngineTagSize);
        at += kEngineTagSize;
    } else if ((*plain)[0] != kStoredKu) {
        return std::nullopt;
    }
    result.key.assign(plain->begin() + static_cast<std::ptrdiff_t>(at), plain->end());
    return result;
}

} // namespace

std::optional<SStoredKey> LoadKey(EAuthProtocol protocol, std::string_view stored)
{
    auto result = ReadStoredKey(stored);
    if (!result || result->key.size() != KeySize(protocol))
        return std::nullopt;
    return result;
}

std::optional<std::string> DescribeStoredKey(std::string_view stored)
{
    auto key = ReadStoredKey(stored);
    if (!key || (key->key.size() != KeySize(EAuthProtocol::Sha1) && key->key.size() != KeySize(EAuthProtocol::Sha256)))
        return std::nullopt;
    if (key->engineTag.empty())
        return "Ku " + HexOf(key->key);
    return "Kul " + HexOf(key->key) + " for the engine tagged " + HexOf(key->engineTag);
}

std::vector<std::string> CheckLocalization(std::span<const SUsmUser> users, std::span<const std::uint8_t> engineId)
{
    std::vector<std::string> unlocalized;
    for (const SUsmUser& user : users) {
        if (user.engineTag.empty()) {
            unlocalized.push_back(user.key);
        } else if (user.engineTag != EngineTag(engineId)) {
            // It could never authenticate: say so rather than refuse every request.
            throw CPVXException(EVENT_USM_USER_MALFORMED,
                {user.key, "the keys are localized to another engine, not to this one, " + HexOf(engineId)
                     + " (make them again with pvx-passwd -3 -e " + HexOf(engineId) + ")"});
        }
    }
    return unlocalized;
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
    user.key = key;
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
    user.authKey = std::move(authKey->key);
    user.engineTag = std::move(authKey->engineTag);

    if (user.level == ESecurityLevel::AuthPriv) {
        if (!SameWord(fields[4], "AES"))
            throw malformed("the privacy protocol of an authPriv user is AES");
        auto privKey = LoadKey(user.authProtocol, fields[5]);
        if (!privKey)
            throw malformed("the privacy key is not a stored key of the authentication protocol (pvx-passwd -3)");
        // One engine for both keys, or none: a mix cannot be localized once.
        if (privKey->engineTag != user.engineTag)
            throw malformed("the two keys are not localized to the same engine (make both with the same pvx-passwd -3 -e)");
        user.privKey = std::move(privKey->key);
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
