// The words of a request line, and the users' lines with their stored
// passwords (the quoting of replies is the fuzz target's invariant).
#include "events/PVXException.h"
#include "nut/NutLine.h"
#include "nut/NutUsers.h"

#include <gtest/gtest.h>

#include <vector>

using namespace pvx;
using namespace pvx::nut;

namespace {

TEST(NutLine, SplitsWordsAsClientsQuoteThem)
{
    struct SCase {
        std::string line;
        ESplit result;
        std::vector<std::string> words;
    };
    const SCase cases[] = {
        { "GET VAR ups ups.status", ESplit::Words, { "GET", "VAR", "ups", "ups.status" } },
        { "  LIST\tVAR  ups \r", ESplit::Words, { "LIST", "VAR", "ups" } },
        { "SET VAR ups ups.id \"Rack \\\"7\\\" \\\\ B\"", ESplit::Words, { "SET", "VAR", "ups", "ups.id", "Rack \"7\" \\ B" } },
        { "SET VAR ups ups.id \"\"", ESplit::Words, { "SET", "VAR", "ups", "ups.id", "" } },
        { "PASSWORD pa\\ ss", ESplit::Words, { "PASSWORD", "pa ss" } },
        { "   ", ESplit::Blank, {} },
        { "\r", ESplit::Blank, {} },
        { "SET VAR ups ups.id \"open", ESplit::Malformed, {} },
        { "SET VAR ups ups.id \"a\"b", ESplit::Malformed, {} },
        { "GET\x01VAR", ESplit::Malformed, {} },
        { "USERNAME a\\", ESplit::Malformed, {} },
        { "a b c d e f g h i", ESplit::Malformed, {} },
        { std::string(kMaxLineLength + 1, 'x'), ESplit::Malformed, {} },
    };
    for (const SCase& c : cases) {
        SWords words;
        EXPECT_EQ(SplitWords(c.line, words), c.result) << c.line;
        if (c.result != ESplit::Words)
            continue;
        ASSERT_EQ(words.count, c.words.size()) << c.line;
        for (std::size_t i = 0; i < words.count; ++i)
            EXPECT_EQ(words[i], c.words[i]) << c.line;
    }
}

TEST(NutUsers, StoredPasswordChecksOnlyItsPassword)
{
    const auto stored = StorePassword("s3cret pass", kMinIterations);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->starts_with("pbkdf2-sha256$1000$"));
    EXPECT_EQ(stored->size(), std::string("pbkdf2-sha256$1000$").size() + 32 + 1 + 64);
    const auto parsed = ParseStoredPassword(*stored);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(CheckPassword(*parsed, "s3cret pass"));
    EXPECT_FALSE(CheckPassword(*parsed, "s3cret pas"));
    EXPECT_NE(StorePassword("s3cret pass", kMinIterations), stored) << "each store takes a fresh salt";
    EXPECT_FALSE(StorePassword(""));
    EXPECT_FALSE(StorePassword(std::string(kMaxPasswordLength + 1, 'p')));
    EXPECT_FALSE(StorePassword("p", kMaxIterations + 1));
}

TEST(NutUsers, StoredFormIsReadExactly)
{
    const std::string salt(32, 'a');
    const std::string hash(64, 'b');
    for (const std::string& bad : std::vector<std::string> {
             "pbkdf2-sha1$1000$" + salt + "$" + hash,
             "pbkdf2-sha256$999$" + salt + "$" + hash,
             "pbkdf2-sha256$1000001$" + salt + "$" + hash, // would hold the loop for seconds
             "pbkdf2-sha256$1000$" + salt.substr(1) + "$" + hash,
             "pbkdf2-sha256$1000$" + salt + "$" + std::string(63, 'b') + "g",
         })
        EXPECT_FALSE(ParseStoredPassword(bad)) << bad;
    EXPECT_TRUE(ParseStoredPassword("pbkdf2-sha256$1000$" + salt + "$" + hash));
}

TEST(NutUsers, MalformedLinesNameTheirKey)
{
    const std::string stored = "pbkdf2-sha256$1000$" + std::string(32, '0') + "$" + std::string(64, '1');
    struct SCase {
        std::vector<std::string> lines;
        std::string key; // empty: the lines are good
    };
    const SCase cases[] = {
        { { "upsmon," + stored + ",primary", "", " view , " + stored + " , Monitor\r" }, "" },
        { { "a," + stored }, "User1" },
        { { "", "a," + stored + ",admin,extra" }, "User2" },
        { { "a b," + stored + ",admin" }, "User1" },
        { { std::string(kMaxNameLength + 1, 'n') + "," + stored + ",admin" }, "User1" },
        { { "a," + stored + ",admin", "a," + stored + ",monitor" }, "User2" },
        { { "a,secret,admin" }, "User1" },
        { { "a," + stored + ",root" }, "User1" },
    };
    for (const SCase& c : cases) {
        try {
            const auto users = ParseUsers(c.lines);
            EXPECT_EQ(c.key, "") << c.lines[0];
            ASSERT_EQ(users.size(), 2u);
            EXPECT_EQ(users[0].name, "upsmon");
            EXPECT_EQ(users[0].role, ERole::Primary);
            EXPECT_EQ(users[1].name, "view");
            EXPECT_EQ(users[1].role, ERole::Monitor);
            EXPECT_EQ(users[1].storedPassword, stored);
        } catch (const CPVXException& event) {
            EXPECT_EQ(event.GetCode(), EVENT_NUT_USER_MALFORMED);
            ASSERT_EQ(event.GetArguments().size(), 2u);
            EXPECT_EQ(event.GetArguments()[0], c.key) << c.lines.back();
            EXPECT_EQ(event.GetArguments()[1].find(stored), std::string::npos) << "never the line itself";
        }
    }
}

} // namespace
