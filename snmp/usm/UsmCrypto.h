// The cryptography of the User-based Security Model, all of it done by
// libcrypto: pass phrase to key and key localization (RFC 3414 A.2, RFC 7860),
// HMAC digests of whole messages, AES-128-CFB privacy (RFC 3826) and random
// bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

// libcrypto's context types, by their structure tags, so that users of this
// header need not include libcrypto's.
struct evp_mac_ctx_st;
struct evp_cipher_ctx_st;

namespace pvx::usm {

enum class EAuthProtocol {
    Sha1,   // usmHMACSHAAuthProtocol, HMAC-SHA-96
    Sha256, // usmHMAC192SHA256AuthProtocol, HMAC-SHA-256-192
};

using Bytes = std::vector<std::uint8_t>;

// Length of the protocol's hash, which is also the length of its keys.
std::size_t KeySize(EAuthProtocol protocol);
// Length of msgAuthenticationParameters: the truncated HMAC.
std::size_t DigestSize(EAuthProtocol protocol);

// A pass phrase shorter than this is refused everywhere keys are made.
constexpr std::size_t kMinPassPhraseLength = 8;

// Ku: the hash of the pass phrase repeated to fill 1,048,576 bytes. The pass
// phrase must not be empty.
Bytes PasswordToKey(EAuthProtocol protocol, std::string_view passPhrase);
// Kul = H(Ku | engineID | Ku).
Bytes LocalizeKey(EAuthProtocol protocol, std::span<const std::uint8_t> key, std::span<const std::uint8_t> engineId);
// Four bytes that tell engine IDs apart: the start of SHA-1 of the ID. A
// stored Kul carries them, so that a key localized to another engine is
// told from a wrong one.
constexpr std::size_t kEngineTagSize = 4;
Bytes EngineTag(std::span<const std::uint8_t> engineId);

constexpr std::size_t kAesKeySize = 16;
constexpr std::size_t kSaltSize = 8;
using AesKey = std::array<std::uint8_t, kAesKeySize>;
using Salt = std::array<std::uint8_t, kSaltSize>;

// The AES-128 privacy key: the first 16 bytes of the privacy pass phrase's
// key localized with the authentication protocol's hash. `localizedKey` must
// hold at least 16 bytes.
AesKey AesKeyFromLocalized(std::span<const std::uint8_t> localizedKey);

// HMAC of `message` with the localized authentication key, truncated to
// DigestSize; the message's authentication parameter field must already hold
// zeros. One-shot forms of CHmac below.
Bytes ComputeDigest(EAuthProtocol protocol, std::span<const std::uint8_t> localizedKey,
                    std::span<const std::uint8_t> message);
// Compares in constant time; a received digest of the wrong size fails.
bool VerifyDigest(EAuthProtocol protocol, std::span<const std::uint8_t> localizedKey,
                  std::span<const std::uint8_t> message, std::span<const std::uint8_t> received);

// AES-128-CFB with the IV boots | time | salt (each big-endian, RFC 3826).
// The output has the input's length; false if libcrypto fails. One-shot
// forms of CAesCfb below.
bool AesCfbEncrypt(const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                   std::span<const std::uint8_t> in, Bytes& out);
bool AesCfbDecrypt(const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                   std::span<const std::uint8_t> in, Bytes& out);

struct SMacContextFree {
    void operator()(evp_mac_ctx_st* context) const;
};
struct SCipherContextFree {
    void operator()(evp_cipher_ctx_st* context) const;
};

// An HMAC keyed once, for a user's key: each message only resets the context
// to its keyed state, so neither the algorithm is looked up nor the key
// padded again per message.
class CHmac {
public:
    CHmac() = default;
    CHmac(EAuthProtocol protocol, std::span<const std::uint8_t> key);
    // False when libcrypto could not set it up; it then computes nothing.
    explicit operator bool() const { return m_context != nullptr; }
    // Writes the truncated digest (DigestSize bytes) to the start of `digest`.
    bool Compute(std::span<const std::uint8_t> message, std::span<std::uint8_t> digest);
    // Compares in constant time; a received digest of the wrong size fails.
    bool Verify(std::span<const std::uint8_t> message, std::span<const std::uint8_t> received);

private:
    EAuthProtocol m_protocol = EAuthProtocol::Sha1;
    std::unique_ptr<evp_mac_ctx_st, SMacContextFree> m_context;
};

// AES-128-CFB keyed once, one context per direction: each message only sets
// its IV.
class CAesCfb {
public:
    CAesCfb() = default;
    explicit CAesCfb(const AesKey& key);
    explicit operator bool() const { return m_encrypt != nullptr && m_decrypt != nullptr; }
    // `out` must be at least as long as `in`; the first in.size() bytes are
    // written. False if libcrypto fails.
    bool Encrypt(std::uint32_t boots, std::uint32_t time, const Salt& salt, std::span<const std::uint8_t> in,
                 std::span<std::uint8_t> out);
    bool Decrypt(std::uint32_t boots, std::uint32_t time, const Salt& salt, std::span<const std::uint8_t> in,
                 std::span<std::uint8_t> out);

private:
    std::unique_ptr<evp_cipher_ctx_st, SCipherContextFree> m_encrypt;
    std::unique_ptr<evp_cipher_ctx_st, SCipherContextFree> m_decrypt;
};

// Bytes from libcrypto's generator; false if it cannot deliver them.
bool RandomBytes(std::span<std::uint8_t> out);

// PBKDF2 with HMAC-SHA-256 (RFC 8018 section 5.2): `out.size()` bytes derived
// from `password` and `salt` in `iterations` rounds; false if libcrypto fails
// or iterations is 0. Kept here so that libcrypto has one user in pvx; the
// RFC 9271 server checks its users' stored passwords with it.
bool Pbkdf2HmacSha256(std::string_view password, std::span<const std::uint8_t> salt, unsigned iterations,
                      std::span<std::uint8_t> out);
// Compares in constant time; spans of different sizes are unequal.
bool EqualInConstantTime(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

} // namespace pvx::usm
