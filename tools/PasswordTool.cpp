// pvx-passwd: turns a plain relay password into the stored form that
// Network/Passwd in pvx.ini holds, or back with -d; with -3 it makes the
// stored key of an SNMPv3 pass phrase for the user lines of [SNMPv3], and
// with -n the stored hash of a password for the user lines of [NUT].
#include "config/Encryption.h"
#include "nut/NutUsers.h"
#include "snmp/usm/UsmUsers.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int Usage()
{
    std::cerr << "Usage: pvx-passwd [password]\n"
                 "       pvx-passwd -d stored\n"
                 "       pvx-passwd -3 SHA|SHA256 [pass phrase]\n"
                 "       pvx-passwd -n [password]\n"
                 "Prints the stored form of the XCP relay password for Network/Passwd in pvx.ini,\n"
                 "or with -3 the stored key of an SNMPv3 pass phrase for the authKey and privKey\n"
                 "fields of SNMPv3/User1 to User8 (use the user's authentication protocol for both),\n"
                 "or with -n the salted hash of a password for NUT/User1 to User8.\n"
                 "Without the last argument the password is read from the first line of standard input.\n"
                 "The relay compares the first six characters; use printable characters only.\n";
    return 2;
}

bool Printable(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

int StoreSnmpKey(const std::string& protocolName, std::string passPhrase, bool fromInput)
{
    pvx::usm::EAuthProtocol protocol;
    if (protocolName == "SHA" || protocolName == "sha")
        protocol = pvx::usm::EAuthProtocol::Sha1;
    else if (protocolName == "SHA256" || protocolName == "sha256")
        protocol = pvx::usm::EAuthProtocol::Sha256;
    else
        return Usage();
    if (fromInput)
        std::getline(std::cin, passPhrase);
    if (!Printable(passPhrase)) {
        std::cerr << "pvx-passwd: the pass phrase must not hold control characters\n";
        return 1;
    }
    auto stored = pvx::usm::StoreKey(protocol, passPhrase);
    if (!stored) {
        std::cerr << "pvx-passwd: an SNMPv3 pass phrase has at least " << pvx::usm::kMinPassPhraseLength
                  << " characters\n";
        return 1;
    }
    std::cout << *stored << "\n";
    return 0;
}

int StoreNutPassword(std::string password, bool fromInput)
{
    if (fromInput)
        std::getline(std::cin, password);
    if (!Printable(password)) {
        std::cerr << "pvx-passwd: the password must not hold control characters\n";
        return 1;
    }
    auto stored = pvx::nut::StorePassword(password);
    if (!stored) {
        std::cerr << "pvx-passwd: the password must have 1 to " << pvx::nut::kMaxPasswordLength << " characters\n";
        return 1;
    }
    std::cout << *stored << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string plain;
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "-n") == 0)
        return StoreNutPassword(argc == 3 ? argv[2] : "", argc == 2);
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "-3") == 0)
        return StoreSnmpKey(argv[2], argc == 4 ? argv[3] : "", argc == 3);
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
    if (!Printable(plain)) {
        std::cerr << "pvx-passwd: the password must not hold control characters\n";
        return 1;
    }
    std::cout << pvx::CEncryption::Encrypt(plain) << "\n";
    return 0;
}
