// SNMPv3 user lines and their stored keys, and pvx-passwd -3 that makes them.
#include "config/Encryption.h"
#include "events/PVXException.h"
#include "snmp/usm/UsmUsers.h"
#include "tests/snmp/usm/UsmTestSupport.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

using namespace pvx::usm;
using pvx::usm::test::Hex;

namespace {

const Bytes kMaplesyrupSha1 = Hex("9f b5 cc 03 81 49 7b 37 93 52 89 39 ff 78 8d 5d 79 14 52 11");
// RFC 3414 A.3.2: "maplesyrup" localized to engine 00 .. 00 02 with SHA.
const Bytes kEngine2 = Hex("00 00 00 00 00 00 00 00 00 00 00 02");
const Bytes kMaplesyrupSha1Engine2 = Hex("66 95 fe bc 92 88 e3 62 82 23 5f c7 15 1f 12 84 97 b3 8f 3f");

std::string Stored(EAuthProtocol protocol, const char* passPhrase) { return *StoreKey(protocol, passPhrase); }

} // namespace

TEST(UsmUsers, StoredKeyIsKuAndRefusesShortPassPhrases)
{
    std::string stored = Stored(EAuthProtocol::Sha1, "maplesyrup");
    EXPECT_EQ(stored.find("maplesyrup"), std::string::npos);
    EXPECT_EQ(LoadKey(EAuthProtocol::Sha1, stored)->key, kMaplesyrupSha1);
    // A key of the other protocol, a relay password and plain text are no keys.
    EXPECT_FALSE(LoadKey(EAuthProtocol::Sha256, stored));
    EXPECT_FALSE(LoadKey(EAuthProtocol::Sha1, pvx::CEncryption::Encrypt("maplesyrup")));
    EXPECT_FALSE(LoadKey(EAuthProtocol::Sha1, "maplesyrup"));
    EXPECT_FALSE(StoreKey(EAuthProtocol::Sha1, "seven77"));
    EXPECT_TRUE(StoreKey(EAuthProtocol::Sha1, "eight888"));
}

TEST(UsmUsers, ParsesGoodLinesAndNamesTheKeyOfABadOne)
{
    const std::string sha = Stored(EAuthProtocol::Sha1, "maplesyrup");
    const std::string sha256 = Stored(EAuthProtocol::Sha256, "maplesyrup");
    struct Case {
        std::string line;
        const char* problem; // nullptr: accepted
    } cases[] = {
        {"ops,authPriv,SHA," + sha + ",AES," + sha + ",write", nullptr},
        {" mon , AUTHNOPRIV , sha256 , " + sha256 + " , - , - , READ\r", nullptr},
        {"mon,authNoPriv,SHA," + sha + ",,,read", nullptr},
        {"mon,noAuthNoPriv,SHA," + sha + ",,,read", "level"},
        {"mon,authNoPriv,MD5," + sha + ",,,read", "authentication protocol"},
        {"mon,authNoPriv,SHA256," + sha + ",,,read", "authentication key"},
        {"mon,authNoPriv,SHA,maplesyrup,,,read", "authentication key"},
        {"mon,authPriv,SHA," + sha + ",DES," + sha + ",read", "privacy protocol"},
        {"mon,authPriv,SHA," + sha + ",AES,-,read", "privacy key"},
        {"mon,authPriv,SHA256," + sha256 + ",AES," + sha + ",read", "privacy key"},
        {"mon,authNoPriv,SHA," + sha + ",AES," + sha + ",read", "authNoPriv"},
        {"mon,authNoPriv,SHA," + sha + ",,,admin", "access"},
        {"mon,authNoPriv,SHA," + sha + ",,,read,extra", "seven fields"},
        {"mon,authNoPriv,SHA," + sha + ",,", "seven fields"},
        {",authNoPriv,SHA," + sha + ",,,read", "user name"},
        {std::string(33, 'u') + ",authNoPriv,SHA," + sha + ",,,read", "user name"},
    };
    for (const auto& c : cases) {
        try {
            SUsmUser user = ParseUsmUser("User3", c.line);
            EXPECT_EQ(c.problem, nullptr) << c.line;
        } catch (const pvx::CPVXException& e) {
            ASSERT_NE(c.problem, nullptr) << c.line;
            EXPECT_EQ(e.GetCode(), pvx::EVENT_USM_USER_MALFORMED);
            ASSERT_EQ(e.GetArguments().size(), 2u);
            EXPECT_EQ(e.GetArguments()[0], "User3");
            EXPECT_NE(e.GetArguments()[1].find(c.problem), std::string::npos) << e.GetArguments()[1];
        }
    }

    SUsmUser ops = ParseUsmUser("User1", cases[0].line);
    EXPECT_EQ(ops, (SUsmUser {"ops", ESecurityLevel::AuthPriv, EAuthProtocol::Sha1, kMaplesyrupSha1,
                              kMaplesyrupSha1, EAccess::Write, {}, "User1"}));
    SUsmUser mon = ParseUsmUser("User2", cases[1].line);
    EXPECT_EQ(mon.name, "mon");
    EXPECT_EQ(mon.level, ESecurityLevel::AuthNoPriv);
    EXPECT_EQ(mon.authProtocol, EAuthProtocol::Sha256);
    EXPECT_TRUE(mon.privKey.empty());
    EXPECT_EQ(mon.access, EAccess::Read);
}

TEST(UsmUsers, ListSkipsEmptyKeysAndRefusesANameGivenTwice)
{
    const std::string line = "ops,authNoPriv,SHA," + Stored(EAuthProtocol::Sha1, "maplesyrup") + ",,,read";
    std::vector<std::string> values {"", line, "  "};
    auto users = ParseUsmUsers(values);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].name, "ops");

    values.push_back(line);
    try {
        ParseUsmUsers(values);
        ADD_FAILURE();
    } catch (const pvx::CPVXException& e) {
        EXPECT_EQ(e.GetArguments().at(0), "User4");
    }
}

TEST(UsmUsers, PasswordToolMakesStoredKeys)
{
    const std::string tool = std::string(PVX_BINARY_DIR) + "/pvx-passwd";
    auto made = pvx::test::RunProgram(tool, "pvx-passwd", {"-3", "SHA", "maplesyrup"}, std::chrono::seconds(20));
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_FALSE(made.out.empty());
    EXPECT_EQ(LoadKey(EAuthProtocol::Sha1, made.out.substr(0, made.out.size() - 1))->key, kMaplesyrupSha1);

    auto shortPhrase = pvx::test::RunProgram(tool, "pvx-passwd", {"-3", "SHA256", "seven77"}, std::chrono::seconds(20));
    EXPECT_EQ(shortPhrase.status, 1);
    EXPECT_TRUE(shortPhrase.out.empty());
    auto badProtocol = pvx::test::RunProgram(tool, "pvx-passwd", {"-3", "MD5", "maplesyrup"}, std::chrono::seconds(20));
    EXPECT_EQ(badProtocol.status, 2);
}

TEST(UsmUsers, LocalizedKeysCarryTheirEngineAndAreCheckedAgainstIt)
{
    std::string kul = *StoreKey(EAuthProtocol::Sha1, "maplesyrup", kEngine2);
    auto loaded = LoadKey(EAuthProtocol::Sha1, kul);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->key, kMaplesyrupSha1Engine2);
    EXPECT_EQ(loaded->engineTag, EngineTag(kEngine2));
    // Both keys and the rest of a SHA-256 authPriv line fit the reader's 255 characters.
    EXPECT_LE(StoreKey(EAuthProtocol::Sha256, "maplesyrup", Bytes(32, 7))->size(), 5 + 2 * (1 + 4 + 32u));
    // RFC 3411 bounds the engine ID to 5 .. 32 octets.
    EXPECT_FALSE(StoreKey(EAuthProtocol::Sha1, "maplesyrup", Hex("80 00 01 02")));
    EXPECT_FALSE(StoreKey(EAuthProtocol::Sha1, "maplesyrup", Bytes(33, 1)));

    const std::string ku = Stored(EAuthProtocol::Sha1, "maplesyrup");
    const std::string other = *StoreKey(EAuthProtocol::Sha1, "maplesyrup", Hex("80 00 02 16 05 01 02 03 04"));
    struct Case {
        std::string authKey, privKey;
        const char* outcome; // "ku", "kul", "malformed" at parsing, "foreign" at the check
    };
    const Case cases[] = {
        {ku, ku, "ku"},
        {kul, kul, "kul"},
        {kul, ku, "malformed"},
        {kul, other, "malformed"},
        {other, other, "foreign"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        std::string line = "ops,authPriv,SHA," + c.authKey + ",AES," + c.privKey + ",write";
        if (std::string(c.outcome) == "malformed") {
            EXPECT_THROW(ParseUsmUser("User2", line), pvx::CPVXException);
            continue;
        }
        std::vector<SUsmUser> users { ParseUsmUser("User2", line) };
        if (std::string(c.outcome) == "foreign") {
            try {
                CheckLocalization(users, kEngine2);
                ADD_FAILURE() << "a key of another engine passed";
            } catch (const pvx::CPVXException& e) {
                EXPECT_EQ(e.GetArguments().at(0), "User2");
            }
            continue;
        }
        auto unlocalized = CheckLocalization(users, kEngine2);
        EXPECT_EQ(unlocalized, std::string(c.outcome) == "ku" ? std::vector<std::string> {"User2"}
                                                                : std::vector<std::string> {});
    }
}
