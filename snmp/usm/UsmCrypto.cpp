// Keys, digests and privacy of the User-based Security Model over libcrypto.
#include "snmp/usm/UsmCrypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace pvx::usm {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

const EVP_MD* Hash(EAuthProtocol protocol)
{
    return protocol == EAuthProtocol::Sha256 ? EVP_sha256() : EVP_sha1();
}

// Ku and Kul are both one hash over several parts.
class CHasher {
public:
    explicit CHasher(EAuthProtocol protocol)
        : m_context(EVP_MD_CTX_new())
        , m_ok(m_context && EVP_DigestInit_ex(m_context.get(), Hash(protocol), nullptr) == 1)
        , m_size(KeySize(protocol))
    {
    }
    void Update(std::span<const std::uint8_t> part)
    {
        m_ok = m_ok && EVP_DigestUpdate(m_context.get(), part.data(), part.size()) == 1;
    }
    // An empty result only if libcrypto failed, which callers cannot mend.
    Bytes Finish()
    {
        Bytes out(EVP_MAX_MD_SIZE);
        unsigned int size = 0;
        m_ok = m_ok && EVP_DigestFinal_ex(m_context.get(), out.data(), &size) == 1 && size == m_size;
        if (!m_ok)
            return {};
        out.resize(size);
        return out;
    }

private:
    DigestContext m_context;
    bool m_ok;
    std::size_t m_size;
};

constexpr std::size_t kExpandedPasswordSize = 1048576;

std::array<std::uint8_t, 16> InitialVector(std::uint32_t boots, std::uint32_t time, const Salt& salt)
{
    std::array<std::uint8_t, 16> iv {};
    for (std::size_t i = 0; i < 4; ++i) {
        iv[i] = static_cast<std::uint8_t>(boots >> (24 - 8 * i));
        iv[4 + i] = static_cast<std::uint8_t>(time >> (24 - 8 * i));
    }
    std::copy(salt.begin(), salt.end(), iv.begin() + 8);
    return iv;
}

bool AesCfb(bool encrypt, const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
            std::span<const std::uint8_t> in, Bytes& out)
{
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context)
        return false;
    auto iv = InitialVector(boots, time, salt);
    if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cfb128(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1)
        return false;
    // CFB is a stream mode: the output is exactly as long as the input.
    out.assign(in.size() + 16, 0);
    int written = 0;
    int last = 0;
    if (EVP_CipherUpdate(context.get(), out.data(), &written, in.data(), static_cast<int>(in.size())) != 1
        || EVP_CipherFinal_ex(context.get(), out.data() + written, &last) != 1)
        return false;
    out.resize(static_cast<std::size_t>(written + last));
    return out.size() == in.size();
}

} // namespace

std::size_t KeySize(EAuthProtocol protocol) { return protocol == EAuthProtocol::Sha256 ? 32 : 20; }

std::size_t DigestSize(EAuthProtocol protocol) { return protocol == EAuthProtocol::Sha256 ? 24 : 12; }

Bytes PasswordToKey(EAuthProtocol protocol, std::string_view passPhrase)
{
    if (passPhrase.empty())
        return {};
    CHasher hasher(protocol);
    // The pass phrase repeated, fed 64 bytes at a time.
    std::array<std::uint8_t, 64> block {};
    std::size_t index = 0;
    for (std::size_t done = 0; done < kExpandedPasswordSize; done += block.size()) {
        for (auto& byte : block)
            byte = static_cast<std::uint8_t>(passPhrase[index++ % passPhrase.size()]);
        hasher.Update(block);
    }
    return hasher.Finish();
}

Bytes LocalizeKey(EAuthProtocol protocol, std::span<const std::uint8_t> key, std::span<const std::uint8_t> engineId)
{
    CHasher hasher(protocol);
    hasher.Update(key);
    hasher.Update(engineId);
    hasher.Update(key);
    return hasher.Finish();
}

Bytes EngineTag(std::span<const std::uint8_t> engineId)
{
    CHasher hasher(EAuthProtocol::Sha1);
    hasher.Update(engineId);
    Bytes digest = hasher.Finish();
    digest.resize(kEngineTagSize);
    return digest;
}

AesKey AesKeyFromLocalized(std::span<const std::uint8_t> localizedKey)
{
    AesKey key {};
    std::copy_n(localizedKey.begin(), std::min(key.size(), localizedKey.size()), key.begin());
    return key;
}

Bytes ComputeDigest(EAuthProtocol protocol, std::span<const std::uint8_t> localizedKey,
                    std::span<const std::uint8_t> message)
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (HMAC(Hash(protocol), localizedKey.data(), static_cast<int>(localizedKey.size()), message.data(),
             message.size(), out.data(), &size)
        == nullptr)
        return {};
    out.resize(std::min<std::size_t>(size, DigestSize(protocol)));
    return out;
}

bool VerifyDigest(EAuthProtocol protocol, std::span<const std::uint8_t> localizedKey,
                  std::span<const std::uint8_t> message, std::span<const std::uint8_t> received)
{
    Bytes expected = ComputeDigest(protocol, localizedKey, message);
    if (expected.size() != DigestSize(protocol) || received.size() != expected.size())
        return false;
    return CRYPTO_memcmp(expected.data(), received.data(), expected.size()) == 0;
}

bool AesCfbEncrypt(const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                   std::span<const std::uint8_t> in, Bytes& out)
{
    return AesCfb(true, key, boots, time, salt, in, out);
}

bool AesCfbDecrypt(const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                   std::span<const std::uint8_t> in, Bytes& out)
{
    return AesCfb(false, key, boots, time, salt, in, out);
}

bool RandomBytes(std::span<std::uint8_t> out)
{
    return out.empty() || RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

bool Pbkdf2HmacSha256(std::string_view password, std::span<const std::uint8_t> salt, unsigned iterations,
                      std::span<std::uint8_t> out)
{
    if (iterations == 0 || iterations > static_cast<unsigned>(std::numeric_limits<int>::max()))
        return false;
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                             static_cast<int>(out.size()), out.data())
        == 1;
}

bool EqualInConstantTime(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace pvx::usm
