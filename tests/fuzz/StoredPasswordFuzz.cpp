// Fuzz target: the stored form of the relay password (Network/Passwd). The
// input is read as a stored value: one that decodes gives a password within
// its bound that encodes back to the same stored form, case aside. The input
// is also taken as a password: when it is one (text without control bytes),
// its stored form always decodes back to it.
#include "config/Encryption.h"
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <cctype>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using pvx::CEncryption;
    const std::string input(reinterpret_cast<const char*>(data), size);

    if (auto plain = CEncryption::UnEncrypt(input)) {
        PVX_FUZZ_CHECK(plain->size() <= CEncryption::kMaxPasswordLength);
        std::string again = CEncryption::Encrypt(*plain);
        std::string lower = input;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (char& c : again)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        PVX_FUZZ_CHECK(again == lower);
    }
    // A password is non-empty text without control bytes.
    const bool text = std::none_of(input.begin(), input.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
    });
    if (!input.empty() && text && input.size() <= CEncryption::kMaxPasswordLength) {
        auto back = CEncryption::UnEncrypt(CEncryption::Encrypt(input));
        PVX_FUZZ_CHECK(back && *back == input);
    }
    return 0;
}
