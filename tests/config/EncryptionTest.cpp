// The stored form of the relay password: round trips and values that are no stored form.
#include "config/Encryption.h"

#include <gtest/gtest.h>

using pvx::CEncryption;

TEST(Encryption, RoundTripsPrintablePasswords)
{
    for (std::string plain : {std::string("a"), std::string("Kq4Tz9"), std::string("secret pass"), std::string(64, '~'), std::string("!\"#$%&'()*+,")}) {
        std::string stored = CEncryption::Encrypt(plain);
        EXPECT_NE(stored.find(plain), 0u);
        auto decoded = CEncryption::UnEncrypt(stored);
        ASSERT_TRUE(decoded.has_value()) << plain;
        EXPECT_EQ(*decoded, plain);
    }
}

TEST(Encryption, RejectsWhatIsNotAStoredForm)
{
    const std::string good = CEncryption::Encrypt("abcdef");
    for (std::string stored : {std::string(""), std::string("Kq4Tz9"), std::string("pvx1:"), std::string("pvx1:a"),
                               std::string("pvx1:zz"), good.substr(0, good.size() - 1), good + "\r",
                               std::string("pvx1:") + std::string(130, '0'), CEncryption::Encrypt("a\tb"),
                               std::string("PVX1:") + good.substr(5)}) {
        EXPECT_FALSE(CEncryption::UnEncrypt(stored).has_value()) << stored;
    }
}
