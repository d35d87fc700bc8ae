// The SNMPv3 users of pvx.ini: parsing the values of SNMPv3/User1 to User8,
// and the stored form of their keys. Pure functions: the caller reads the file.
//
// A user line is  name,level,authProtocol,authKey,privProtocol,privKey,access
//   level         authNoPriv or authPriv (noAuthNoPriv is refused)
//   authProtocol  SHA (HMAC-SHA-96) or SHA256 (HMAC-SHA-256-192)
//   authKey       stored key made by pvx-passwd -3 for that protocol
//   privProtocol  AES for authPriv; empty or "-" for authNoPriv
//   privKey       stored key made by pvx-passwd -3 for the authProtocol (RFC
//                 3826 derives the AES key with the authentication hash);
//                 empty or "-" for authNoPriv
//   access        read or write
// Keywords are taken in any case; blanks around fields are ignored.
//
// The stored key is the pass phrase's key Ku (RFC 3414 A.2), not the pass
// phrase: pvx.ini then holds nothing from which the pass phrase, which people
// reuse elsewhere, can be read back, and no start pays for the 1 MiB hash.
// Ku still lets its holder speak for the user, so pvx.ini stays private.
#pragma once

#include "snmp/usm/UsmCrypto.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::usm {

// The msgFlags bits of each level.
enum class ESecurityLevel : std::uint8_t {
    NoAuthNoPriv = 0,
    AuthNoPriv = 1,
    AuthPriv = 3,
};

enum class EAccess { Read, Write };

struct SUsmUser {
    std::string name;
    ESecurityLevel level = ESecurityLevel::AuthNoPriv;
    EAuthProtocol authProtocol = EAuthProtocol::Sha1;
    Bytes authKey; // Ku of the authentication pass phrase
    Bytes privKey; // Ku of the privacy pass phrase; empty for authNoPriv
    EAccess access = EAccess::Read;

    bool operator==(const SUsmUser&) const = default;
};

constexpr std::size_t kMaxUsers = 8;
// msgUserName is at most 32 octets.
constexpr std::size_t kMaxUserNameLength = 32;

// "User1" .. "User8".
std::string UserKeyName(std::size_t index);

// The stored form of the key of `passPhrase` for `protocol`; nothing for a pass
// phrase shorter than kMinPassPhraseLength.
std::optional<std::string> StoreKey(EAuthProtocol protocol, std::string_view passPhrase);
// The key back from its stored form; nothing unless it is a stored key of
// the protocol's size.
std::optional<Bytes> LoadKey(EAuthProtocol protocol, std::string_view stored);

// Parses one user line. Throws CPVXException 0xC002003E with the key and the
// reason as arguments.
SUsmUser ParseUsmUser(std::string_view key, std::string_view value);
// Parses the values of User1.. in order (an empty value: no such user); a
// name given twice is malformed too.
std::vector<SUsmUser> ParseUsmUsers(std::span<const std::string> values);

} // namespace pvx::usm
