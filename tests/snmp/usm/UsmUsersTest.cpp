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

std::string Stored(EAuthProtocol protocol, const char* passPhrase) { return *StoreKey(protocol, passPhrase); }

} // namespace

TEST(UsmUsers, StoredKeyIsKuAndRefusesShortPassPhrases)
{
    std::string stored = Stored(EAuthProtocol::Sha1, "maplesyrup");
    EXPECT_EQ(stored.find("maplesyrup"), std::string::npos);
    EXPECT_EQ(LoadKey(EAuthProtocol::Sha1, stored), kMaplesyrupSha1);
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
                              kMaplesyrupSha1, EAccess::Write}));
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
    EXPECT_EQ(LoadKey(EAuthProtocol::Sha1, made.out.substr(0, made.out.size() - 1)), kMaplesyrupSha1);

    auto shortPhrase = pvx::test::RunProgram(tool, "pvx-passwd", {"-3", "SHA256", "seven77"}, std::chrono::seconds(20));
    EXPECT_EQ(shortPhrase.status, 1);
    EXPECT_TRUE(shortPhrase.out.empty());
    auto badProtocol = pvx::test::RunProgram(tool, "pvx-passwd", {"-3", "MD5", "maplesyrup"}, std::chrono::seconds(20));
    EXPECT_EQ(badProtocol.status, 2);
}
