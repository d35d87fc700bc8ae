// Fuzz target: SNMPv3 through the agent, with an XCP UPS model identified
// against the simulated UPS behind it. The input picks a user and a level,
// msgMaxSize, a context name and a PDU; the target wraps them in a correctly
// authenticated (and, for authPriv, encrypted) message, so that the agent's
// own steps are reached: the context check, authorization by level and
// access, the PDU, the tooBig rebuild and the cache of applied sets. A flag
// sends the message twice, as a captured copy. Checks: an answer fits the
// manager's msgMaxSize and the datagram, reads back through the engine as a
// response to the same msgID (or is a Report), and a copy of a set is
// answered exactly as the original was.
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

using namespace pvx::usm;

const usm::Bytes kEngineId {0x80, 0x00, 0x02, 0x16, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
constexpr std::uint32_t kBoots = 5;

class CV3AgentUnderTest {
public:
    CV3AgentUnderTest()
        : m_clockGuard(m_clock)
        , m_ini("pvx-fuzz-snmpv3")
        , m_configuration(m_ini.Path())
        , m_port(m_clock, QuietSimulatorConfig())
    {
        SilenceStandardOutput();
        m_ini.Write(AsBytes(std::string("[UPSIdent]\nName=Fuzz UPS\n")));
        m_users = {
            {"ops", ESecurityLevel::AuthPriv, EAuthProtocol::Sha1, PasswordToKey(EAuthProtocol::Sha1, "maplesyrup"),
             PasswordToKey(EAuthProtocol::Sha1, "pancakes and bacon"), EAccess::Write},
            {"mon", ESecurityLevel::AuthNoPriv, EAuthProtocol::Sha256,
             PasswordToKey(EAuthProtocol::Sha256, "maplesyrup"), {}, EAccess::Read},
        };
        m_agent = std::make_unique<CSNMPAgent>(0, 162, 0, htonl(INADDR_LOOPBACK), "gavrel", "sotwick", "traps");
        m_agent->SetSNMPv3(std::make_unique<CSNMPv3Processor>(SEngineState {kEngineId, kBoots}, m_users));
        m_agent->SetVersion1(false);
        StartUps();
    }

    void Serve(CFuzzInput& input)
    {
        const std::uint8_t choice = input.Byte();
        const SUsmUser& user = m_users[choice & 1];
        ESecurityLevel level = static_cast<ESecurityLevel>((choice >> 1) & 3);
        if (level == static_cast<ESecurityLevel>(2))
            level = ESecurityLevel::AuthNoPriv; // priv without auth is the message layer's own case
        if (level == ESecurityLevel::AuthPriv && user.level != ESecurityLevel::AuthPriv)
            level = ESecurityLevel::AuthNoPriv;
        const bool copy = (choice & 0x08) != 0;
        const bool otherEngineContext = (choice & 0x10) != 0;
        CSNMPv3Processor& engine = *m_agent->GetSNMPv3();

        SV3MessageFields f;
        f.msgId = static_cast<std::int32_t>(input.U16());
        f.maxSize = 484 + input.U16() % 1200;
        f.flags = static_cast<std::uint8_t>(static_cast<std::uint8_t>(level) | kFlagReportable);
        f.engineId = kEngineId;
        f.boots = kBoots;
        f.time = engine.EngineTime();
        f.userName.assign(user.name.begin(), user.name.end());
        f.authProtocol = user.authProtocol;
        if (level != ESecurityLevel::NoAuthNoPriv)
            f.authKey = LocalizeKey(user.authProtocol, user.authKey, kEngineId);
        if (level == ESecurityLevel::AuthPriv)
            f.privKey = AesKeyFromLocalized(LocalizeKey(user.authProtocol, user.privKey, kEngineId));
        auto context = input.Chunk();
        auto pdu = input.Rest();
        const usm::Bytes contextEngine = otherEngineContext ? usm::Bytes {0x80, 0x00} : kEngineId;
        f.scopedPdu = EncodeScopedPdu(contextEngine, context, pdu);
        std::array<std::uint8_t, kDatagramSize> request {};
        std::size_t length = 0;
        try {
            length = EncodeV3Message(f, request);
        } catch (const CPVXException&) {
            return; // larger than a datagram: nothing to send
        }
        m_ups->SetStandardNames((choice & 0x20) != 0);

        std::vector<std::uint8_t> first;
        for (int round = 0; round < (copy ? 2 : 1); ++round) {
            SDatagram& datagram = m_agent->GetDatagram();
            datagram.address = htonl(INADDR_LOOPBACK);
            datagram.port = 50161;
            datagram.length = static_cast<std::uint32_t>(length);
            std::copy_n(request.begin(), length, datagram.data.begin());
            const auto outcome = m_agent->ProcessRequest(m_ups.get());
            PVX_FUZZ_CHECK(outcome != CSNMPAgent::ERequestOutcome::AuthenticationFailure);
            if (outcome != CSNMPAgent::ERequestOutcome::Answered)
                continue;
            std::vector<std::uint8_t> pduBack = CheckAnswer(engine, datagram, f);
            if (round == 0)
                first = pduBack;
            else if (!pdu.empty() && pdu[0] == ber::kSetRequest && !first.empty() && first[0] == ber::kGetResponse)
                // A copy of a set gets the response the original got (a
                // Report carries a counter, which moves).
                PVX_FUZZ_CHECK(pduBack == first);
        }
        m_ups->Update();
        if (!m_ups->IsConnected())
            StartUps();
    }

private:
    // Returns the response PDU, or nothing for a Report.
    std::vector<std::uint8_t> CheckAnswer(CSNMPv3Processor& engine, const SDatagram& datagram, const SV3MessageFields& f)
    {
        PVX_FUZZ_CHECK(datagram.length > 0 && datagram.length <= kDatagramSize);
        PVX_FUZZ_CHECK(datagram.length <= static_cast<std::uint32_t>(f.maxSize));
        SIncomingV3 back = engine.Process(datagram.Bytes());
        if (back.outcome != EV3Outcome::Accept) {
            // A Report goes out unauthenticated or at authNoPriv and does not
            // read back as a request; it must still be a message of ours.
            PVX_FUZZ_CHECK(datagram.data[0] == 0x30);
            return {};
        }
        PVX_FUZZ_CHECK(back.security.msgId == f.msgId);
        PVX_FUZZ_CHECK(!back.pdu.empty());
        PVX_FUZZ_CHECK(back.pdu[0] == ber::kGetResponse || back.pdu[0] == kReportPdu);
        try {
            CBasicEncodingRulesBuffer pdu(std::span<std::uint8_t>(back.pdu.data(), back.pdu.size()));
            pdu.ReadByte();
            pdu.ReadLength();
            pdu.ReadInteger(); // request-id, as the request had it
            const std::int32_t status = pdu.ReadInteger();
            PVX_FUZZ_CHECK(status >= SNMP_NO_ERROR && status <= SNMP_NOT_WRITABLE);
        } catch (const CPVXException&) {
            PVX_FUZZ_CHECK(false);
        }
        return back.pdu;
    }

    void StartUps()
    {
        m_ups = CAbstractUPS::Create(&m_port, &m_configuration);
        m_ups->Start();
        PVX_FUZZ_CHECK(m_ups->IsConnected());
    }

    CFakeClock m_clock;
    CScopedClock m_clockGuard;
    CScratchFile m_ini;
    CINIFile m_configuration;
    CSimulatorPort m_port;
    std::vector<SUsmUser> m_users;
    std::unique_ptr<CSNMPAgent> m_agent;
    std::unique_ptr<CAbstractUPS> m_ups;
};

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static pvx::fuzz::CV3AgentUnderTest agent;
    pvx::fuzz::CFuzzInput input(data, size);
    agent.Serve(input);
    return 0;
}
