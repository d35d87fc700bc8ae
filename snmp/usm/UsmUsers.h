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
// The stored key is never the pass phrase: pvx.ini then holds nothing from
// which the pass phrase, which people reuse elsewhere, can be read back, and
// no start pays for the 1 MiB hash. Its preferred form is the key localized
// to pvx's engine, Kul = H(Ku | engineID | Ku) (RFC 3414 section 2.6), stored
// with that engine ID: whoever reads it can speak for the user to pvx, but
// not to another agent whose user shares the pass phrase. The older form,
// Ku itself (RFC 3414 A.2), opens every engine with that pass phrase; it
// still works, localized at start. Both are scrambled with a fixed key only,
// so pvx.ini stays private.
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
    Bytes authKey; // Ku or Kul of the authentication pass phrase
    Bytes privKey; // Ku or Kul of the privacy pass phrase; empty for authNoPriv
    EAccess access = EAccess::Read;
    // EngineTag of the engine the keys are localized to (Kul); empty: Ku.
    Bytes engineTag {};
    std::string key {}; // the line's key, "User1" ...

    bool operator==(const SUsmUser&) const = default;
};

constexpr std::size_t kMaxUsers = 8;
// msgUserName is at most 32 octets.
constexpr std::size_t kMaxUserNameLength = 32;

// "User1" .. "User8".
std::string UserKeyName(std::size_t index);

// The stored form of the key of `passPhrase` for `protocol`: Ku, or with an
// engine ID Kul for that engine. Nothing for a pass phrase shorter than
// kMinPassPhraseLength or an engine ID that RFC 3411 does not allow.
std::optional<std::string> StoreKey(EAuthProtocol protocol, std::string_view passPhrase,
                                    std::span<const std::uint8_t> engineId = {});

struct SStoredKey {
    Bytes key;
    Bytes engineTag; // EngineTag of the engine of a Kul; empty for Ku
};
// The key back from its stored form; nothing unless it is a stored key of
// the protocol's size. The stored form is "pvx2:" over one byte (0 Ku,
// 1 Kul), for Kul the engine's tag, and the key; the older "pvx1:" over the
// key's hexadecimal text is read as Ku.
std::optional<SStoredKey> LoadKey(EAuthProtocol protocol, std::string_view stored);
// What a stored key holds, in words for pvx-passwd -d ("Ku 9fb5...", "Kul
// 6695... for the engine tagged 1a2b3c4d"); nothing when it is no stored key.
std::optional<std::string> DescribeStoredKey(std::string_view stored);

// snmpEngineID is 5 to 32 octets (RFC 3411).
constexpr std::size_t kMinEngineIdLength = 5;
constexpr std::size_t kMaxEngineIdLength = 32;
std::string HexOf(std::span<const std::uint8_t> bytes);
// Hexadecimal digits (either case, an even count) to bytes; nothing otherwise.
std::optional<Bytes> BytesOfHex(std::string_view hex);

// Checks the users' keys against the engine: a key localized to another
// engine (by its tag) throws 0xC002003E naming the user's key. Returns the keys ("User1"
// ...) of the users whose keys are Ku, for the one line that asks for Kul.
std::vector<std::string> CheckLocalization(std::span<const SUsmUser> users, std::span<const std::uint8_t> engineId);

// Parses one user line. Throws CPVXException 0xC002003E with the key and the
// reason as arguments.
SUsmUser ParseUsmUser(std::string_view key, std::string_view value);
// Parses the values of User1.. in order (an empty value: no such user); a
// name given twice is malformed too.
std::vector<SUsmUser> ParseUsmUsers(std::span<const std::string> values);

} // namespace pvx::usm
