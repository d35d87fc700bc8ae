// pvx-passwd: turns a plain relay password into the stored form that
// Network/Passwd in pvx.ini holds, or back with -d.
#include "service/encryption/Encryption.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

int Usage()
{
    std::cerr << "Usage: pvx-passwd [password]\n"
                 "       pvx-passwd -d stored\n"
                 "Prints the stored form of the XCP relay password for Network/Passwd in pvx.ini.\n"
                 "Without an argument the password is read from the first line of standard input.\n"
                 "The relay compares the first six characters; use printable characters only.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string plain;
    if (argc == 3 && std::string(argv[1]) == "-d") {
        auto decoded = pvx::CEncryption::UnEncrypt(argv[2]);
        if (!decoded) {
            std::cerr << "pvx-passwd: not a stored password\n";
            return 1;
        }
        std::cout << *decoded << "\n";
        return 0;
    }
    if (argc == 2 && argv[1][0] != '-') {
        plain = argv[1];
    } else if (argc == 1) {
        std::getline(std::cin, plain);
    } else {
        return Usage();
    }
    if (plain.empty() || plain.size() > pvx::CEncryption::kMaxPasswordLength) {
        std::cerr << "pvx-passwd: the password must have 1 to " << pvx::CEncryption::kMaxPasswordLength
                  << " characters\n";
        return 1;
    }
    for (unsigned char c : plain) {
        if (c < 0x20 || c == 0x7F) {
            std::cerr << "pvx-passwd: the password must not hold control characters\n";
            return 1;
        }
    }
    std::cout << pvx::CEncryption::Encrypt(plain) << "\n";
    return 0;
}
