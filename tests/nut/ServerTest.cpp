// The server's connections over loopback: pipelined lines, the bound of a
// line, the bounds in all and per source with the longest idle connection
// making room, logged-in clients kept, idle connections closed.
#include "nut/NutServer.h"
#include "platform/Clock.h"
#include "tests/ups/TestUPS.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pvx;
using namespace pvx::nut;

namespace {

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

class NutServer : public ::testing::Test {
protected:
    NutServer()
        : server(0, kLoopback, {}, Settings(), { .connections = 3, .perSource = 2 })
    {
        ups.m_linkState = 0;
        ups.m_outputSource = 3;
    }
    ~NutServer() override
    {
        for (int fd : fds)
            ::close(fd);
    }
    static SProtocolSettings Settings()
    {
        SProtocolSettings settings;
        settings.users = { { "mon", *StorePassword("monpw", kMinIterations), ERole::Monitor } };
        return settings;
    }
    int Connect()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(server.GetPort());
        to.sin_addr.s_addr = kLoopback;
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        fds.push_back(fd);
        Pump();
        return fd;
    }
    // Runs the server a little, as the loop's waits would.
    void Pump()
    {
        for (int i = 0; i < 5; ++i) {
            pollfd entry { server.GetDescriptor(), POLLIN, 0 };
            ::poll(&entry, 1, 10);
            server.Run(&ups);
        }
    }
    // What the server sent to `fd` by now; "<closed>" is appended at its end.
    std::string Say(int fd, const std::string& text)
    {
        if (!text.empty()) {
            EXPECT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
        }
        Pump();
        std::string got;
        char buffer[4096];
        while (true) {
            pollfd entry { fd, POLLIN, 0 };
            if (::poll(&entry, 1, 0) <= 0)
                return got;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return got + "<closed>";
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }

    pvx::test::CTestUPS ups;
    CServer server;
    std::vector<int> fds;
};

TEST_F(NutServer, AnswersPipelinedLinesInOrder)
{
    const int fd = Connect();
    EXPECT_EQ(Say(fd, "GET VAR ups ups.status\r\nNETVER\nGET VAR ups"), "VAR ups ups.status \"OL\"\n1.3\n");
    EXPECT_EQ(Say(fd, " no.such\n"), "ERR VAR-NOT-SUPPORTED\n") << "the rest of a line comes later";
    EXPECT_EQ(Say(fd, "LOGOUT\nNETVER\n"), "OK Goodbye\n<closed>");
}

TEST_F(NutServer, ClosesALineLongerThanTheBound)
{
    const int fd = Connect();
    EXPECT_EQ(Say(fd, std::string(kMaxLineLength, 'x')), "");
    EXPECT_EQ(Say(fd, "xx"), "ERR INVALID-ARGUMENT\n<closed>");
    EXPECT_EQ(server.Counters().closedOverlong, 1u);
}

TEST_F(NutServer, LongestIdleMakesRoomButLoggedInClientsStay)
{
    const int monitor = Connect();
    EXPECT_EQ(Say(monitor, "USERNAME mon\nPASSWORD monpw\nLOGIN ups\n"), "OK\nOK\nOK\n");
    const int idle = Connect();
    // Two from this source already: the idle one, not the logged-in one, goes.
    const int next = Connect();
    EXPECT_EQ(Say(idle, ""), "<closed>");
    EXPECT_EQ(Say(next, "NETVER\n"), "1.3\n");
    const int last = Connect();
    EXPECT_EQ(Say(next, ""), "<closed>");
    EXPECT_EQ(Say(last, "GET NUMLOGINS ups\n"), "NUMLOGINS ups 1\n");
    EXPECT_EQ(Say(monitor, "GET NUMLOGINS ups\n"), "NUMLOGINS ups 1\n");
    EXPECT_EQ(server.Counters().evicted, 2u);
    EXPECT_EQ(server.OpenConnections(), 2u);
}

TEST_F(NutServer, ClosesIdleConnectionsAndForgetsTheirLogins)
{
    CFakeClock clock;
    CScopedClock scoped { clock };
    const int monitor = Connect();
    const int idle = Connect();
    EXPECT_EQ(Say(monitor, "USERNAME mon\nPASSWORD monpw\nLOGIN ups\n"), "OK\nOK\nOK\n");
    clock.Advance(60 * 1000);
    EXPECT_EQ(server.TimeoutWithin(5000), 0u);
    EXPECT_EQ(Say(idle, ""), "<closed>");
    EXPECT_EQ(Say(monitor, "NETVER\n"), "1.3\n");
    clock.Advance(600 * 1000);
    EXPECT_EQ(Say(monitor, ""), "<closed>");
    EXPECT_EQ(server.LoggedInClients(), 0u);
    EXPECT_EQ(server.Counters().closedIdle, 2u);
}

} // namespace
