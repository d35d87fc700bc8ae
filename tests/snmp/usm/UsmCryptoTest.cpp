// Keys, digests and privacy of the User-based Security Model against
// published vectors: RFC 3414 A.3.2 for SHA-1, the same pass phrase and
// engine under SHA-256 (RFC 7860's algorithm), NIST SP 800-38A for AES-CFB.
#include "snmp/usm/UsmCrypto.h"
#include "tests/snmp/usm/UsmTestSupport.h"

#include <gtest/gtest.h>

#include <numeric>
#include <utility>

using namespace pvx::usm;
using pvx::usm::test::Hex;

namespace {

const Bytes kRfcEngineId = Hex("00 00 00 00 00 00 00 00 00 00 00 02");

struct KeyVector {
    EAuthProtocol protocol;
    const char* ku;
    const char* kul;
    const char* digestOf0To63; // HMAC of the bytes 0..63 with Kul, truncated
};

const KeyVector kKeyVectors[] = {
    {EAuthProtocol::Sha1, "9f b5 cc 03 81 49 7b 37 93 52 89 39 ff 78 8d 5d 79 14 52 11",
     "66 95 fe bc 92 88 e3 62 82 23 5f c7 15 1f 12 84 97 b3 8f 3f", "83 78 6e 0d 5d e0 3f f3 fe 8e b8 04"},
    {EAuthProtocol::Sha256,
     "ab 51 01 4d 1e 07 7f 60 17 df 2b 12 be e5 f5 aa 72 99 31 77 e9 bb 56 9c 4d ff 5a 4c a0 b4 af ac",
     "89 82 e0 e5 49 e8 66 db 36 1a 6b 62 5d 84 cc cc 11 16 2d 45 3e e8 ce 3a 64 45 c2 d6 77 6f 0f 8b",
     "4f 9c 72 cd aa 9f 82 c3 ae f4 9f a8 97 22 4c d6 cf 49 e9 67 d4 fb 3e 6d"},
};

} // namespace

TEST(UsmCrypto, GoldenKeysAndDigestsForMaplesyrup)
{
    Bytes message(64);
    std::iota(message.begin(), message.end(), std::uint8_t {0});
    for (const auto& vector : kKeyVectors) {
        SCOPED_TRACE(vector.ku);
        Bytes ku = PasswordToKey(vector.protocol, "maplesyrup");
        EXPECT_EQ(ku, Hex(vector.ku));
        Bytes kul = LocalizeKey(vector.protocol, ku, kRfcEngineId);
        EXPECT_EQ(kul, Hex(vector.kul));
        Bytes digest = ComputeDigest(vector.protocol, kul, message);
        EXPECT_EQ(digest, Hex(vector.digestOf0To63));
        EXPECT_TRUE(VerifyDigest(vector.protocol, kul, message, digest));

        // One flipped bit anywhere, a digest cut short or the other key: refused.
        Bytes tampered = message;
        tampered[37] ^= 0x10;
        EXPECT_FALSE(VerifyDigest(vector.protocol, kul, tampered, digest));
        EXPECT_FALSE(VerifyDigest(vector.protocol, kul, message, std::span(digest).first(digest.size() - 1)));
        EXPECT_FALSE(VerifyDigest(vector.protocol, ku, message, digest));
        EXPECT_EQ(AesKeyFromLocalized(kul), (AesKey {kul[0], kul[1], kul[2], kul[3], kul[4], kul[5], kul[6], kul[7],
                                                     kul[8], kul[9], kul[10], kul[11], kul[12], kul[13], kul[14], kul[15]}));
    }
}

TEST(UsmCrypto, AesCfbMatchesTheNistVectorAndTakesItsIvFromBootsTimeAndSalt)
{
    // SP 800-38A F.3.13, CFB128-AES128, with the IV 00 01 .. 0f read as
    // boots 0x00010203, time 0x04050607 and salt 08 .. 0f.
    AesKey key {};
    Bytes keyBytes = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
    Salt salt {0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    // 30 bytes: CFB needs no padding, so a partial last block stays partial.
    Bytes plain = Hex("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af");
    Bytes cipher;
    ASSERT_TRUE(AesCfbEncrypt(key, 0x00010203, 0x04050607, salt, plain, cipher));
    EXPECT_EQ(cipher, Hex("3b3fd92eb72dad20333449f8e83cfb4a c8a64537a0b3a93fcde3cdad9f1c"));
    Bytes back;
    ASSERT_TRUE(AesCfbDecrypt(key, 0x00010203, 0x04050607, salt, cipher, back));
    EXPECT_EQ(back, plain);
    // Another engine time gives another IV: the same key no longer decrypts.
    ASSERT_TRUE(AesCfbDecrypt(key, 0x00010203, 0x04050608, salt, cipher, back));
    EXPECT_NE(back, plain);
}

TEST(UsmCrypto, RandomBytesDiffer)
{
    std::array<std::uint8_t, 16> first {};
    std::array<std::uint8_t, 16> second {};
    ASSERT_TRUE(RandomBytes(first));
    ASSERT_TRUE(RandomBytes(second));
    EXPECT_NE(first, second);
}

// The contexts kept per user must give every message the result a fresh
// set-up would: no state of one message may leak into the next.
TEST(UsmCrypto, ContextsKeptPerUserAnswerEachMessageAsAFreshOne)
{
    Bytes first(64);
    std::iota(first.begin(), first.end(), std::uint8_t {0});
    const Bytes second = Hex("30 0e 02 01 03 04 09 70 61 6e 63 61 6b 65 73");
    for (const auto& vector : kKeyVectors) {
        SCOPED_TRACE(vector.ku);
        const Bytes kul = Hex(vector.kul);
        CHmac hmac(vector.protocol, kul);
        ASSERT_TRUE(hmac);
        for (const Bytes* message : {&std::as_const(first), &second, &std::as_const(first)}) {
            Bytes digest(DigestSize(vector.protocol));
            ASSERT_TRUE(hmac.Compute(*message, digest));
            EXPECT_EQ(digest, ComputeDigest(vector.protocol, kul, *message));
            EXPECT_TRUE(hmac.Verify(*message, digest));
            digest[0] ^= 1;
            EXPECT_FALSE(hmac.Verify(*message, digest));
        }
        Bytes tooShort(DigestSize(vector.protocol) - 1);
        EXPECT_FALSE(hmac.Compute(first, tooShort));
    }

    AesKey key {};
    Bytes keyBytes = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
    CAesCfb aes(key);
    ASSERT_TRUE(aes);
    const Salt salt {0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    // A partial block first, so that a position left over in the stream
    // would shift the next message's key stream.
    const struct {
        Bytes plain;
        std::uint32_t time;
    } messages[] = {
        {Hex("6bc1bee22e409f96e93d7e117393172a ae2d8a"), 0x04050607},
        {Hex("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af"), 0x04050607},
        {second, 0x04050608},
    };
    for (const auto& m : messages) {
        Bytes cipher(m.plain.size());
        ASSERT_TRUE(aes.Encrypt(0x00010203, m.time, salt, m.plain, cipher));
        Bytes fresh;
        ASSERT_TRUE(AesCfbEncrypt(key, 0x00010203, m.time, salt, m.plain, fresh));
        EXPECT_EQ(cipher, fresh);
        Bytes back(cipher.size());
        ASSERT_TRUE(aes.Decrypt(0x00010203, m.time, salt, cipher, back));
        EXPECT_EQ(back, m.plain);
    }
    Bytes small(3);
    EXPECT_FALSE(aes.Encrypt(0, 0, salt, second, small));
}
