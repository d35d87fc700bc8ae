// The portability layer: the deadline on a clock that a test moves, device
// reads on silent and hung-up lines, descriptors above the old 1024 limit,
// datagrams, and files replaced safely.
#include "events/PVXException.h"
#include "platform/Portability.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pvx;

TEST(Deadline, RunsOnTheMonotonicClockWhateverTheWallClockDoes)
{
    struct Case {
        const char* name;
        std::uint32_t wallStart;
        std::int64_t wallJump; // applied to the wall clock only
    };
    const std::vector<Case> cases = {
        {"just before the 32-bit wrap", 0xFFFFFF00u, 0},
        {"wall clock stepped back an hour", 5000000u, -3600000},
        {"wall clock stepped forward a day", 5000000u, 86400000},
    };
    for (const auto& c : cases) {
        CFakeClock clock(c.wallStart);
        CScopedClock guard(clock);
        SetDeadline(1500);
        clock.SetWallMilliseconds(static_cast<std::uint32_t>(c.wallStart + c.wallJump));
        EXPECT_FALSE(DeadlinePassed()) << c.name;
        EXPECT_EQ(DeadlineRemaining(), 1500u) << c.name;
        clock.Advance(1500);
        EXPECT_FALSE(DeadlinePassed()) << c.name << ": not before the deadline is exceeded";
        clock.Advance(1);
        EXPECT_TRUE(DeadlinePassed()) << c.name;
        EXPECT_EQ(DeadlineRemaining(), 0u) << c.name;
    }
}

TEST(Clock, SleepGoesThroughTheClockSource)
{
    CFakeClock clock(100);
    CScopedClock guard(clock);
    Sleep(2500);
    EXPECT_EQ(GetMilliseconds(), 2600u);
    EXPECT_EQ(clock.MonotonicMilliseconds(), 2500u);
}

TEST(Clock, WallMillisecondsFollowTheWallClock)
{
    auto seconds = static_cast<std::uint64_t>(GetWallSeconds());
    auto expected = static_cast<std::uint32_t>(seconds * 1000);
    // Within a few seconds of each other, modulo the 32-bit wrap.
    EXPECT_LT(static_cast<std::uint32_t>(GetMilliseconds() - expected), 5000u);
}

namespace {

struct SPipe {
    CUniqueFd read, write;
    SPipe()
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        read.Reset(fds[0]);
        write.Reset(fds[1]);
    }
};

} // namespace

TEST(ReadDevice, ReturnsAtOnceWithWhatIsWaiting)
{
    SPipe pipe;
    std::uint8_t buffer[8];
    std::size_t n = 99;
    EXPECT_TRUE(ReadDevice(pipe.read.Get(), buffer, n));
    EXPECT_EQ(n, 0u);

    ASSERT_EQ(::write(pipe.write.Get(), "abc", 3), 3);
    EXPECT_TRUE(ReadDevice(pipe.read.Get(), buffer, n));
    EXPECT_EQ(n, 3u);

    // A hung-up line stays readable but yields 0 bytes: the read must end.
    ASSERT_EQ(::write(pipe.write.Get(), "de", 2), 2);
    pipe.write.Reset();
    EXPECT_TRUE(ReadDevice(pipe.read.Get(), buffer, n));
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(ReadDevice(pipe.read.Get(), buffer, n));
    EXPECT_EQ(n, 0u);

    EXPECT_TRUE(ReadDevice(pipe.read.Get(), std::span<std::uint8_t>(), n));
    EXPECT_EQ(n, 0u);
}

TEST(WaitReadable, HandlesDescriptorsAbove1024)
{
    SPipe pipe;
    CUniqueFd high(::fcntl(pipe.read.Get(), F_DUPFD, 2000));
    if (!high)
        GTEST_SKIP() << "descriptor limit below 2000";
    EXPECT_EQ(WaitReadable(high.Get(), 0), 0);
    ASSERT_EQ(::write(pipe.write.Get(), "x", 1), 1);
    EXPECT_EQ(WaitReadable(high.Get(), 1000), 1);
    std::vector<int> ready;
    int fds[] = {pipe.write.Get(), high.Get()};
    EXPECT_EQ(WaitReadable(fds, 0, ready), 1);
    EXPECT_EQ(ready, std::vector<int>{high.Get()});
}

TEST(Datagrams, RoundTripAndLongOnesAreCut)
{
    CUniqueFd receiver = CreateSocket(2, 1, 0);
    CUniqueFd sender = CreateSocket(2, 1, 0);
    ASSERT_TRUE(receiver && sender);
    const std::uint32_t loopback = htonl(0x7F000001);
    ASSERT_TRUE(BindSocket(receiver.Get(), 0, loopback));
    ASSERT_TRUE(SetSocketBlocking(receiver.Get(), false));
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    ASSERT_TRUE(GetSocketAddress(receiver.Get(), address, port));

    SDatagram in;
    EXPECT_FALSE(ReceiveFrom(receiver.Get(), in)) << "nothing waiting on a non-blocking socket";

    for (std::uint32_t length : {0u, 1u, 1172u, 2000u}) {
        std::vector<std::uint8_t> payload(length, 0x5A);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = loopback;
        ASSERT_EQ(::sendto(sender.Get(), payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to),
                  static_cast<ssize_t>(length));
        ASSERT_EQ(WaitReadable(receiver.Get(), 1000), 1);
        ASSERT_TRUE(ReceiveFrom(receiver.Get(), in));
        EXPECT_EQ(in.length, std::min<std::uint32_t>(length, 1172));
        EXPECT_EQ(in.address, loopback);
    }

    SDatagram out;
    out.address = loopback;
    out.port = port;
    out.length = 3;
    out.data[0] = 1;
    EXPECT_TRUE(SendTo(sender.Get(), out));
    ASSERT_EQ(WaitReadable(receiver.Get(), 1000), 1);
    ASSERT_TRUE(ReceiveFrom(receiver.Get(), in));
    EXPECT_EQ(in.length, 3u);
    out.length = 5000;
    EXPECT_FALSE(SendTo(sender.Get(), out)) << "a length past the record is refused";
}

TEST(CreateSocket, OnlyKnownCodesAreTranslated)
{
    EXPECT_TRUE(CreateSocket(2, 1, 0));
    EXPECT_FALSE(CreateSocket(3, 1, 0));
    EXPECT_FALSE(CreateSocket(2, 7, 0));
    EXPECT_FALSE(CreateSocket(2, 1, 9));
}

TEST(OpenUdpSocket, BindsNonBlockingAndReportsTheFailingStepWithItsCall)
{
    const std::uint32_t loopback = htonl(0x7F000001);
    const SUdpSocketEvents events{101, 102, 103};
    CUniqueFd first = OpenUdpSocket(0, loopback, events);
    ASSERT_TRUE(first);
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    ASSERT_TRUE(GetSocketAddress(first.Get(), address, port));
    EXPECT_EQ(address, loopback);
    SDatagram in;
    EXPECT_FALSE(ReceiveFrom(first.Get(), in)) << "a read with nothing waiting returns at once";

    // The port is taken: the bind step fails with its own event.
    try {
        OpenUdpSocket(port, loopback, events);
        ADD_FAILURE() << "a second socket bound the same port";
    } catch (const CPVXException& e) {
        EXPECT_EQ(e.GetCode(), 103u);
        EXPECT_EQ(e.GetArguments(), (std::vector<std::string>{"bind", std::to_string(EADDRINUSE)}));
    }
}

// Which peers a socket hears and answers, by the address it is bound to: the
// unspecified one takes both families (IPv4 peers in the mapped form), an
// address of one family that family alone.
TEST(OpenUdpSocket, BindsTheFamiliesItsAddressAsksFor)
{
    if (!test::HasIPv6Loopback())
        GTEST_SKIP() << "this machine has no ::1";
    const SIpAddress v4 = SIpAddress::FromIPv4(htonl(0x7F000001));
    SIpAddress v6;
    ASSERT_TRUE(ParseIpAddress("::1", v6));
    const struct {
        SIpAddress bound;
        bool hearsV4, hearsV6;
    } cases[] = { { SIpAddress(), true, true }, { v4, true, false }, { v6, false, true } };
    for (const auto& c : cases) {
        SCOPED_TRACE(FormatIpAddress(c.bound));
        CUniqueFd server = OpenUdpSocket(0, c.bound, { 1, 2, 3 });
        std::uint32_t ignored = 0;
        std::uint16_t port = 0;
        ASSERT_TRUE(GetSocketAddress(server.Get(), ignored, port));
        EXPECT_EQ(SocketReachesIPv6(server.Get()), c.hearsV6);
        for (const auto& [peer, heard] : { std::pair { v4, c.hearsV4 }, std::pair { v6, c.hearsV6 } }) {
            CUniqueFd client = OpenUdpSocket(0, peer, { 1, 2, 3 });
            SDatagram out;
            out.address = peer;
            out.port = port;
            out.length = 1;
            SendTo(client.Get(), out);
            SDatagram in;
            ASSERT_EQ(WaitReadable(server.Get(), heard ? 1000 : 100) > 0, heard) << FormatIpAddress(peer);
            if (!heard)
                continue;
            ASSERT_TRUE(ReceiveFrom(server.Get(), in));
            EXPECT_EQ(in.address, peer) << FormatIpAddress(in.address);
            EXPECT_TRUE(SendTo(server.Get(), in)) << "the answer goes back to " << FormatIpAddress(peer);
            EXPECT_EQ(WaitReadable(client.Get(), 1000), 1);
        }
    }
}

TEST(IpAddress, TextFormsAndLookups)
{
    const struct {
        const char* text;
        bool numeric; // ParseIpAddress
        const char* formatted; // FormatIpAddress, then ResolveIpHost of `text` when not null
    } cases[] = {
        { "127.0.0.1", true, "127.0.0.1" },
        { "::1", true, "::1" },
        { "2001:DB8:0:0:0:0:0:1", true, "2001:db8::1" },
        { "::ffff:192.0.2.1", true, "192.0.2.1" },
        { "::", true, "::" },
        { "0.0.0.0", true, "0.0.0.0" },
        { "1.2.3", false, nullptr },
        { "2001:db8::1::2", false, nullptr },
        { "localhost", false, "127.0.0.1" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SIpAddress address;
        EXPECT_EQ(ParseIpAddress(c.text, address), c.numeric);
        if (c.numeric)
            EXPECT_EQ(FormatIpAddress(address), c.formatted);
        else if (c.formatted != nullptr)
            EXPECT_TRUE(ResolveIpHost(c.text, address) && FormatIpAddress(address) == c.formatted);
        else
            EXPECT_FALSE(ResolveIpHost(c.text, address));
    }
    // "Any" is one address whichever family wrote it; 0 converts to it.
    SIpAddress any;
    EXPECT_TRUE(ResolveIpHost("::", any) && any == SIpAddress());
    EXPECT_EQ(SIpAddress(0u), SIpAddress());
    EXPECT_TRUE(SIpAddress::FromIPv4(0).IsUnspecified() && SIpAddress::FromIPv4(0).IsIPv4());
    EXPECT_EQ(SIpAddress(htonl(0x7F000001)).IPv4(), htonl(0x7F000001));
}

TEST(ResolveHost, NamesAndReverseLookups)
{
    std::uint32_t address = 0;
    EXPECT_TRUE(ResolveHost("localhost", address));
    EXPECT_EQ(address, htonl(0x7F000001));
    EXPECT_TRUE(ResolveHost("127.0.0.1", address));
    EXPECT_FALSE(ResolveHost("", address));
    EXPECT_FALSE(ResolveHost("1.2.3.4.5", address));
    EXPECT_FALSE(ResolveHost("999.1.1.1", address));
}

TEST(Files, ReplaceKeepsModeAndReadIsBounded)
{
    test::CTempDir folder;
    std::string path = folder.File("f");
    ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(ReplaceFileContents(path, "new"));
    struct stat info{};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    std::string contents;
    ASSERT_TRUE(ReadFileBounded(path, 2, false, contents));
    EXPECT_EQ(contents, "ne");
    EXPECT_FALSE(ReadFileBounded(folder.File("missing"), 10, false, contents));
    EXPECT_FALSE(ReadFileBounded(folder.Path(), 10, false, contents)) << "a folder is no file";
}
