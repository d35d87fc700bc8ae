// Keys, digests and privacy of the User-based Security Model over libcrypto.
#include "snmp/usm/UsmCrypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
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

// The algorithms, looked up once for the process: an implicit lookup at
// every initialisation is most of what a one-shot call costs.
class CAlgorithms {
public:
    CAlgorithms()
        : m_hmac(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr))
        , m_aes(EVP_CIPHER_fetch(nullptr, "AES-128-CFB", nullptr))
    {
    }
    ~CAlgorithms()
    {
        EVP_MAC_free(m_hmac);
        EVP_CIPHER_free(m_aes);
    }
    CAlgorithms(const CAlgorithms&) = delete;
    CAlgorithms& operator=(const CAlgorithms&) = delete;
    EVP_MAC* Hmac() const { return m_hmac; }
    const EVP_CIPHER* Aes() const { return m_aes; }

private:
    EVP_MAC* m_hmac;
    EVP_CIPHER* m_aes;
};

const CAlgorithms& Algorithms()
{
    static const CAlgorithms algorithms;
    return algorithms;
}

EVP_CIPHER_CTX* NewAesContext(const AesKey& key, bool encrypt)
{
    const EVP_CIPHER* aes = Algorithms().Aes();
    CipherContext context(aes ? EVP_CIPHER_CTX_new() : nullptr);
    if (!context || EVP_CipherInit_ex2(context.get(), aes, key.data(), nullptr, encrypt ? 1 : 0, nullptr) != 1)
        return nullptr;
    return context.release();
}

// CFB is a stream mode: the output is exactly as long as the input, and the
// final step writes nothing.
bool RunAesCfb(EVP_CIPHER_CTX* context, bool encrypt, std::uint32_t boots, std::uint32_t time, const Salt& salt,
               std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    if (context == nullptr || out.size() < in.size()
        || in.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    auto iv = InitialVector(boots, time, salt);
    // Without a cipher and a key the context keeps both and takes the IV.
    int written = 0;
    int last = 0;
    std::array<std::uint8_t, 16> tail {};
    return EVP_CipherInit_ex2(context, nullptr, nullptr, iv.data(), encrypt ? 1 : 0, nullptr) == 1
        && EVP_CipherUpdate(context, out.data(), &written, in.data(), static_cast<int>(in.size())) == 1
        && EVP_CipherFinal_ex(context, tail.data(), &last) == 1 && static_cast<std::size_t>(written) == in.size()
        && last == 0;
}

bool OneShotAes(bool encrypt, const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                std::span<const std::uint8_t> in, Bytes& out)
{
    CAesCfb cipher(key);
    out.assign(in.size(), 0);
    return cipher
        && (encrypt ? cipher.Encrypt(boots, time, salt, in, out) : cipher.Decrypt(boots, time, salt, in, out));
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

void SMacContextFree::operator()(evp_mac_ctx_st* context) const { EVP_MAC_CTX_free(context); }

void SCipherContextFree::operator()(evp_cipher_ctx_st* context) const { EVP_CIPHER_CTX_free(context); }

CHmac::CHmac(EAuthProtocol protocol, std::span<const std::uint8_t> key)
    : m_protocol(protocol)
{
    EVP_MAC* hmac = Algorithms().Hmac();
    std::unique_ptr<evp_mac_ctx_st, SMacContextFree> context(hmac ? EVP_MAC_CTX_new(hmac) : nullptr);
    char digest[16] = "SHA1";
    if (protocol == EAuthProtocol::Sha256)
        std::copy_n("SHA2-256", 9, digest);
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    // An empty key is still a key (HMAC pads it with zeros); libcrypto
    // takes a null pointer for "keep the key set before".
    static const std::uint8_t kNoKey = 0;
    if (context && EVP_MAC_init(context.get(), key.empty() ? &kNoKey : key.data(), key.size(), params) == 1)
        m_context = std::move(context);
}

bool CHmac::Compute(std::span<const std::uint8_t> message, std::span<std::uint8_t> digest)
{
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> full {};
    std::size_t size = 0;
    const std::size_t truncated = DigestSize(m_protocol);
    // A null key resets the context to the key it holds (EVP_MAC_init(3)).
    if (!m_context || digest.size() < truncated || EVP_MAC_init(m_context.get(), nullptr, 0, nullptr) != 1
        || EVP_MAC_update(m_context.get(), message.data(), message.size()) != 1
        || EVP_MAC_final(m_context.get(), full.data(), &size, full.size()) != 1 || size < truncated)
        return false;
    std::copy_n(full.begin(), truncated, digest.begin());
    return true;
}

bool CHmac::Verify(std::span<const std::uint8_t> message, std::span<const std::uint8_t> received)
{
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> expected {};
    const std::size_t size = DigestSize(m_protocol);
    return received.size() == size && Compute(message, expected)
        && CRYPTO_memcmp(expected.data(), received.data(), size) == 0;
}

CAesCfb::CAesCfb(const AesKey& key)
    : m_encrypt(NewAesContext(key, true))
    , m_decrypt(NewAesContext(key, false))
{
}

bool CAesCfb::Encrypt(std::uint32_t boots, std::uint32_t time, const Salt& salt, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out)
{
    return RunAesCfb(m_encrypt.get(), true, boots, time, salt, in, out);
}

bool CAesCfb::Decrypt(std::uint32_t boots, std::uint32_t time, const Salt& salt, std::span<const std::uint8_t> in,
                      std::span<std::uint8_t> out)
{
    return RunAesCfb(m_decrypt.get(), false, boots, time, salt, in, out);
}

Bytes ComputeDigest(EAuthProtocol protocol, std::span<const std::uint8_t> localizedKey,
                    std::span<const std::uint8_t> message)
{
    Bytes out(DigestSize(protocol));
    CHmac hmac(protocol, localizedKey);
    if (!hmac.Compute(message, out))
        return {};
    return out;
}

bool VerifyDigest(EAuthProtocol protocol, std::span<const std::uint8_t> localizedKey,
                  std::span<const std::uint8_t> message, std::span<const std::uint8_t> received)
{
    return CHmac(protocol, localizedKey).Verify(message, received);
}

bool AesCfbEncrypt(const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                   std::span<const std::uint8_t> in, Bytes& out)
{
    return OneShotAes(true, key, boots, time, salt, in, out);
}

bool AesCfbDecrypt(const AesKey& key, std::uint32_t boots, std::uint32_t time, const Salt& salt,
                   std::span<const std::uint8_t> in, Bytes& out)
{
    return OneShotAes(false, key, boots, time, salt, in, out);
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
