// Fuzz target: one SNMP datagram through the agent's request processing, with
// an XCP UPS model identified against the simulated UPS behind it. The
// datagram is handed over in memory; replies are checked for their form, and
// every trap the agent sends is caught on a loopback socket and checked too.
#include "config/INIFile.h"
#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/agent/SNMPAgent.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "tests/fuzz/FuzzPorts.h"
#include "ups/AbstractUPS.h"

#include <arpa/inet.h>
#include <memory>

namespace pvx::fuzz {
namespace {

constexpr char kGetCommunity[] = "gavrel";
constexpr char kSetCommunity[] = "sotwick";
constexpr char kTrapCommunity[] = "trapper";

// Reads the message header every reply and trap starts with and returns the
// PDU tag. Traps are SNMPv1; replies keep the version of their request.
std::uint8_t ReadMessageHeader(CBasicEncodingRulesBuffer& message, std::string& community, bool reply = false)
{
    // The message length is not checked on requests, and an error reply is
    // the request's own bytes, so a reply may carry the length the manager sent.
    message.ReadHeader(ber::kSequence);
    const std::int32_t version = message.ReadInteger();
    PVX_FUZZ_CHECK(version == kSnmpVersion1 || (reply && version == kSnmpVersion2c));
    community = message.ReadOctetString();
    return message.ReadByte();
}

void CheckReply(std::span<std::uint8_t> reply)
{
    PVX_FUZZ_CHECK(!reply.empty() && reply.size() <= kDatagramSize);
    CBasicEncodingRulesBuffer message(reply);
    try {
        std::string community;
        PVX_FUZZ_CHECK(ReadMessageHeader(message, community, true) == ber::kGetResponse);
        // Only a request with one of the two communities may be answered.
        PVX_FUZZ_CHECK(community == kGetCommunity || community == kSetCommunity);
        message.ReadLength();
        message.ReadInteger(); // request-id
        std::int32_t status = message.ReadInteger();
        std::int32_t index = message.ReadInteger();
        PVX_FUZZ_CHECK((status >= SNMP_NO_ERROR && status <= SNMP_GEN_ERR) || status == SNMP_WRONG_TYPE
            || status == SNMP_WRONG_VALUE || status == SNMP_NO_CREATION || status == SNMP_NOT_WRITABLE);
        PVX_FUZZ_CHECK(index >= 0);
    } catch (const CPVXException&) {
        // The reply header was read from the request by the agent itself, so
        // it must read back.
        PVX_FUZZ_CHECK(false);
    }
}

void CheckTrap(std::span<std::uint8_t> trap)
{
    CBasicEncodingRulesBuffer message(trap);
    try {
        std::string community;
        PVX_FUZZ_CHECK(ReadMessageHeader(message, community) == ber::kTrap);
        PVX_FUZZ_CHECK(community == kTrapCommunity);
    } catch (const CPVXException&) {
        PVX_FUZZ_CHECK(false);
    }
}

class CAgentUnderTest {
public:
    CAgentUnderTest()
        : m_clockGuard(m_clock)
        , m_ini("pvx-fuzz-snmp")
        , m_configuration(m_ini.Path())
        , m_port(m_clock, QuietSimulatorConfig())
    {
        SilenceStandardOutput();
        const std::string text = "[UPSIdent]\nName=Fuzz UPS\nAttachedDevices=servers\n";
        m_ini.Write(AsBytes(text));
        m_traps = CreateSocket(2, 1, 0);
        std::uint32_t address = 0;
        PVX_FUZZ_CHECK(m_traps && BindSocket(m_traps.Get(), 0, htonl(INADDR_LOOPBACK))
            && SetSocketBlocking(m_traps.Get(), false) && GetSocketAddress(m_traps.Get(), address, m_trapPort));
        m_agent = std::make_unique<CSNMPAgent>(0, m_trapPort, htonl(INADDR_LOOPBACK), htonl(INADDR_LOOPBACK),
            kGetCommunity, kSetCommunity, kTrapCommunity);
        m_agent->SetVersion2c(true);
        DrainTraps();
        StartUps();
    }

    void Serve(std::span<const std::uint8_t> input)
    {
        SDatagram& datagram = m_agent->GetDatagram();
        datagram.address = htonl(INADDR_LOOPBACK);
        datagram.port = 50161;
        datagram.length = static_cast<std::uint32_t>(std::min(input.size(), kDatagramSize));
        std::copy_n(input.begin(), datagram.length, datagram.data.begin());
        // Both instance namings, chosen by the input so that a finding replays.
        m_ups->SetStandardNames(input.size() % 2 == 1);

        switch (m_agent->ProcessRequest(m_ups.get())) {
        case CSNMPAgent::ERequestOutcome::Answered:
            CheckReply(std::span(datagram.data).first(datagram.length));
            break;
        case CSNMPAgent::ERequestOutcome::AuthenticationFailure:
            m_agent->SendAuthenticationFailure();
            break;
        case CSNMPAgent::ERequestOutcome::Dropped:
            break;
        case CSNMPAgent::ERequestOutcome::Refused:
            PVX_FUZZ_CHECK(false); // no source list is set here
            break;
        }
        // What a set started (tests, schedules) runs on in the next pass.
        m_ups->Update();
        m_agent->SendPendingTraps(*m_ups);
        PVX_FUZZ_CHECK(m_agent->GetTrapDestinations().size() <= 1);
        DrainTraps();
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

    void DrainTraps()
    {
        while (WaitReadable(m_traps.Get(), 0) > 0 && ReceiveFrom(m_traps.Get(), m_trap))
            CheckTrap(std::span(m_trap.data).first(m_trap.length));
    }

    CFakeClock m_clock;
    CScopedClock m_clockGuard;
    CScratchFile m_ini;
    CINIFile m_configuration;
    CSimulatorPort m_port;
    CUniqueFd m_traps;
    std::uint16_t m_trapPort = 0;
    SDatagram m_trap;
    std::unique_ptr<CSNMPAgent> m_agent;
    std::unique_ptr<CAbstractUPS> m_ups;
};

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static pvx::fuzz::CAgentUnderTest agent;
    agent.Serve(std::span<const std::uint8_t>(data, size));
    return 0;
}
