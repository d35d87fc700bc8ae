// Fuzz target: one relay datagram through the frame walk, answered either by
// the model's own XCP emulation (option -i) or by the simulated UPS behind the
// link. Besides memory errors it checks the reply bound and that no control
// command reaches the UPS without a password frame ahead of it.
#include "config/INIFile.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "tests/fuzz/FuzzPorts.h"
#include "ups/AbstractUPS.h"
#include "xcp/driver/Settings.h"

#include <arpa/inet.h>
#include <memory>
#include <string_view>

namespace pvx::fuzz {
namespace {

constexpr std::string_view kPassword = "Kq4Tz9";

// Commands the relay forwards only right after a good password frame; 0xCF
// is the link's own authorization frame, which the relay never forwards.
bool IsRestricted(unsigned command)
{
    return command > 0x88 && command != 0xCE && command != 0xCF;
}

// Password frames in the datagram that carry the password, counted the way
// the relay walks frames.
unsigned CountPasswordFrames(std::span<const std::uint8_t> request)
{
    unsigned count = 0;
    std::size_t offset = 0;
    while (request.size() - offset >= 4 && request[offset] == 0xAB) {
        std::size_t length = static_cast<std::size_t>(request[offset + 1]) + 3;
        if (length > request.size() - offset)
            break;
        auto frame = request.subspan(offset, length);
        offset += length;
        if (frame[2] == 0xCF && frame[1] == 7 && std::equal(kPassword.begin(), kPassword.end(), frame.begin() + 3))
            ++count;
    }
    return count;
}

class CRelayUnderTest {
public:
    CRelayUnderTest()
        : m_clockGuard(m_clock)
        , m_ini("pvx-fuzz-relay")
        , m_configuration(m_ini.Path())
        , m_port(m_clock, QuietSimulatorConfig())
        , m_relay(std::string(kPassword), 0, htonl(INADDR_LOOPBACK))
    {
        SilenceStandardOutput();
        StartUps();
    }

    void Relay(bool internal, std::span<const std::uint8_t> request)
    {
        g_bUseInternalXCP = internal;
        request = request.first(std::min(request.size(), kDatagramSize));
        unsigned restrictedBefore = CountRestricted();

        m_relay.ProcessDatagram(*m_ups, request, m_reply);

        PVX_FUZZ_CHECK(m_reply.length <= kDatagramSize);
        PVX_FUZZ_CHECK(m_reply.length % 2 == 0);
        PVX_FUZZ_CHECK(CountRestricted() - restrictedBefore <= CountPasswordFrames(request));
        if (!m_ups->IsConnected())
            StartUps();
    }

private:
    void StartUps()
    {
        m_ups = CAbstractUPS::Create(&m_port, &m_configuration);
        m_ups->Start();
        PVX_FUZZ_CHECK(m_ups->IsConnected());
    }

    unsigned CountRestricted() const
    {
        unsigned count = 0;
        for (unsigned command = 0; command < 256; ++command)
            if (IsRestricted(command))
                count += m_port.FramesWritten(static_cast<std::uint8_t>(command));
        return count;
    }

    CFakeClock m_clock;
    CScopedClock m_clockGuard;
    CScratchFile m_ini;
    CINIFile m_configuration;
    CSimulatorPort m_port;
    CNetXCPAgent m_relay;
    std::unique_ptr<CAbstractUPS> m_ups;
    SDatagram m_reply;
};

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static pvx::fuzz::CRelayUnderTest relay;
    pvx::fuzz::CFuzzInput input(data, size);
    bool internal = (input.Byte() & 1) != 0;
    relay.Relay(internal, input.Rest());
    return 0;
}
