// Fuzz target: the HTTP server's glue around the library, over real loopback
// connections. The input opens a few clients from up to three source
// addresses and plays a script on them: bytes sent in fuzz-chosen pieces,
// half-closes, the clock moved on, the server run. Checks: the server never
// serves more connections than its bound, every answer is an HTTP status line
// the routing can give, a 200 answers a GET or HEAD only, and once the
// clients are gone and their time is up no connection is left served.
#include "http/HttpServer.h"
#include "platform/Portability.h"
#include "tests/fuzz/FuzzSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace pvx::fuzz {
namespace {

const SHttpLimits kLimits = [] {
    SHttpLimits limits;
    limits.connections = 4;
    limits.perSource = 2;
    return limits;
}();

struct SServer {
    CFakeClock clock;
    CScopedClock guard { clock };
    SPollCounters polls;
    SNetworkCounters network;
    CHttpServer server { 0, htonl(INADDR_LOOPBACK), CAddressList {}, polls, network, kLimits };

    void Run()
    {
        WaitReadable(server.GetDescriptor(), 0);
        server.Run(nullptr);
        PVX_FUZZ_CHECK(server.ServedConnections() <= kLimits.connections);
    }
};

struct SClient {
    int fd = -1;
    std::string sent;
    std::string received;
};

int Connect(std::uint16_t port, std::uint8_t sourceByte)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from {}, to {};
    from.sin_family = to.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000001u + sourceByte % 3);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0
        || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

void Drain(SClient& client)
{
    char buffer[4096];
    for (int i = 0; i < 64; ++i) {
        ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        client.received.append(buffer, static_cast<std::size_t>(n));
    }
}

void CheckAnswer(const SClient& client)
{
    if (client.received.empty())
        return;
    const std::string& answer = client.received;
    PVX_FUZZ_CHECK(answer.rfind("HTTP/1.", 0) == 0 && answer.size() >= 12);
    const int status = std::atoi(answer.substr(9, 3).c_str());
    PVX_FUZZ_CHECK(status >= 200 && status < 600);
    if (status == 200)
        PVX_FUZZ_CHECK(client.sent.rfind("GET ", 0) == 0 || client.sent.rfind("HEAD ", 0) == 0);
}

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx::fuzz;
    SilenceStandardOutput();
    static SServer server;
    CFuzzInput input(data, size);
    std::vector<SClient> clients(1 + input.Byte() % 6);
    for (SClient& client : clients)
        client.fd = Connect(server.server.GetPort(), input.Byte());
    for (int step = 0; step < 64 && input.Remaining() > 0; ++step) {
        const std::uint8_t op = input.Byte();
        SClient& client = clients[(op >> 2) % clients.size()];
        switch (op & 3) {
        case 0: {
            auto piece = input.Chunk();
            if (client.fd >= 0 && !piece.empty()) {
                ssize_t n = ::send(client.fd, piece.data(), piece.size(), MSG_NOSIGNAL);
                if (n > 0)
                    client.sent.append(reinterpret_cast<const char*>(piece.data()), static_cast<std::size_t>(n));
            }
            break;
        }
        case 1:
            if (client.fd >= 0)
                ::shutdown(client.fd, SHUT_WR);
            break;
        case 2:
            server.clock.Advance(16u * input.Byte());
            break;
        default:
            break;
        }
        server.Run();
        for (SClient& each : clients)
            if (each.fd >= 0)
                Drain(each);
    }
    for (SClient& client : clients) {
        if (client.fd < 0)
            continue;
        Drain(client);
        CheckAnswer(client);
        ::close(client.fd);
    }
    // Gone, and past their time: nothing is served any more.
    server.clock.Advance(kLimits.connectionMs + 1);
    for (int i = 0; i < 8; ++i)
        server.Run();
    PVX_FUZZ_CHECK(server.server.ServedConnections() == 0);
    return 0;
}
