// The cache of applied SNMPv3 SETs: what tells a copy from a new message,
// how long an entry lives, and its bound.
#include "snmp/agent/SetReplayCache.h"

#include <gtest/gtest.h>

namespace pvx {
namespace {

usm::SSecurityState Message(int user, std::int32_t msgId, std::uint32_t time, std::uint8_t digest)
{
    usm::SSecurityState s;
    s.user = user;
    s.msgId = msgId;
    s.time = time;
    s.digest = { digest, 0x11, 0x22 };
    return s;
}

TEST(SetReplayCache, AnswersCopiesWithinTheWindowOnly)
{
    CSetReplayCache cache;
    const std::vector<std::uint8_t> response { 0xA2, 0x00 };
    cache.Remember(Message(0, 42, 100, 1), response, 100);
    struct SCase {
        const char* name;
        usm::SSecurityState request;
        std::uint32_t now;
        bool found;
    };
    usm::SSecurityState unauthenticated = Message(0, 42, 100, 1);
    unauthenticated.digest.clear();
    const SCase cases[] = {
        { "the copy", Message(0, 42, 100, 1), 120, true },
        { "another user", Message(1, 42, 100, 1), 120, false },
        { "another msgID", Message(0, 43, 100, 1), 120, false },
        { "another time", Message(0, 42, 101, 1), 120, false },
        { "another digest", Message(0, 42, 100, 2), 120, false },
        { "without a digest", unauthenticated, 120, false },
        { "the copy at the window's end", Message(0, 42, 100, 1), 250, true },
        { "past the window, forgotten", Message(0, 42, 100, 1), 251, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto* found = cache.Find(c.request, c.now);
        EXPECT_EQ(found != nullptr, c.found);
        if (found != nullptr) {
            EXPECT_EQ(*found, response);
        }
    }
    EXPECT_EQ(cache.Size(), 0u);
}

TEST(SetReplayCache, ForgetsTheOldestBeyondItsBound)
{
    CSetReplayCache cache;
    for (std::int32_t i = 0; i <= static_cast<std::int32_t>(CSetReplayCache::kMaxEntries); ++i)
        cache.Remember(Message(0, i, 10, 1), std::vector<std::uint8_t> { 0xA2 }, 10);
    EXPECT_EQ(cache.Size(), CSetReplayCache::kMaxEntries);
    EXPECT_EQ(cache.Find(Message(0, 0, 10, 1), 10), nullptr);
    EXPECT_NE(cache.Find(Message(0, 1, 10, 1), 10), nullptr);
}

} // namespace
} // namespace pvx
