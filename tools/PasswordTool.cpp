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
#include <string_view>

namespace {

int Usage()
{
    std::cerr << "Usage: pvx-passwd [password]\n"
                 "       pvx-passwd -d stored\n"
                 "       pvx-passwd -3 SHA|SHA256 [-e engineID] [pass phrase]\n"
                 "       pvx-passwd -n [password]\n"
                 "Prints the stored form of the XCP relay password for Network/Passwd in pvx.ini,\n"
                 "or with -3 the stored key of an SNMPv3 pass phrase for the authKey and privKey\n"
                 "fields of SNMPv3/User1 to User8 (use the user's authentication protocol for both),\n"
                 "or with -n the salted hash of a password for NUT/User1 to User8.\n"
                 "With -e the key is localized to that engine ID (hexadecimal, as pvx logs it at\n"
                 "start), so that it opens pvx alone; without it the key opens every engine.\n"
                 "-d shows the plain text of any stored form.\n"
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

int StoreSnmpKey(const std::string& protocolName, const std::string& engineText, std::string passPhrase,
                 bool fromInput)
{
    pvx::usm::EAuthProtocol protocol;
    if (protocolName == "SHA" || protocolName == "sha")
        protocol = pvx::usm::EAuthProtocol::Sha1;
    else if (protocolName == "SHA256" || protocolName == "sha256")
        protocol = pvx::usm::EAuthProtocol::Sha256;
    else
        return Usage();
    std::string_view hex = engineText;
    if (hex.starts_with("0x") || hex.starts_with("0X"))
        hex.remove_prefix(2);
    auto engineId = pvx::usm::BytesOfHex(hex);
    if (!engineText.empty()
        && (!engineId || engineId->size() < pvx::usm::kMinEngineIdLength
            || engineId->size() > pvx::usm::kMaxEngineIdLength)) {
        std::cerr << "pvx-passwd: an engine ID is 5 to 32 bytes in hexadecimal, as pvx logs it at start\n";
        return 1;
    }
    if (fromInput)
        std::getline(std::cin, passPhrase);
    if (!Printable(passPhrase)) {
        std::cerr << "pvx-passwd: the pass phrase must not hold control characters\n";
        return 1;
    }
    auto stored = pvx::usm::StoreKey(protocol, passPhrase, engineId ? *engineId : pvx::usm::Bytes());
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
    if (argc >= 3 && std::strcmp(argv[1], "-3") == 0) {
        int next = 3;
        std::string engine;
        if (argc >= 5 && std::strcmp(argv[3], "-e") == 0) {
            engine = argv[4];
            next = 5;
        }
        if (argc > next + 1)
            return Usage();
        return StoreSnmpKey(argv[2], engine, argc == next + 1 ? argv[next] : "", argc == next);
    }
    if (argc == 3 && std::string(argv[1]) == "-d") {
        auto decoded = pvx::CEncryption::UnEncrypt(argv[2]);
        if (!decoded)
            decoded = pvx::usm::DescribeStoredKey(argv[2]);
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
