// Serves one kind of request a given number of times, for valgrind: the
// difference between two runs of different counts, divided by the difference
// of the counts, is the cost of one request (callgrind's instructions, dhat's
// allocations) without the set-up.
//   bench_agent_cost get|next|bulk|v3get <count>
#include "AgentTestSupport.h"

#include "snmp/agent/SNMPAgent.h"
#include "snmp/usm/SNMPv3Message.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace pvx;
using namespace pvx::test;

namespace {

class CCostUPS final : public CAbstractUPS {
public:
    CCostUPS()
        : CAbstractUPS(nullptr, nullptr)
    {
    }
    int GetUPSType() override { return 3; }
    void Identify() override { }
    void ReadValues() override { }
};

Bytes Pdu(std::uint8_t tag, const Bytes& name, std::int32_t nonRepeaters = 0, std::int32_t repetitions = 0)
{
    return Tlv(tag, Concat({ Int(42), Int(nonRepeaters), Int(repetitions), Tlv(0x30, Tlv(0x30, Concat({ name, Null() }))) }));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string_view kind = argv[1];
    const long count = std::atol(argv[2]);
    const Bytes battery = Oid({ 2, 1, 33, 1, 2, 1, 0 });
    CSNMPAgent agent(0, 162, 0, Ipv4(127, 0, 0, 1), "public", "private", "traps");
    agent.SetVersion2c(true);
    CCostUPS ups;

    Bytes request;
    if (kind == "get" || kind == "next") {
        request = Tlv(0x30, Concat({ Int(0), Str("public"), Pdu(kind == "get" ? 0xA0 : 0xA1, battery) }));
    } else if (kind == "bulk") {
        request = Tlv(0x30, Concat({ Int(1), Str("public"), Pdu(0xA5, Oid({ 2, 1, 33, 1, 2 }), 0, 10) }));
    } else if (kind == "v3get") {
        using namespace pvx::usm;
        const Bytes engineId { 0x80, 0x00, 0x02, 0x16, 0x05, 1, 2, 3, 4, 5, 6, 7, 8 };
        const SUsmUser user { "ops", ESecurityLevel::AuthPriv, EAuthProtocol::Sha1,
            PasswordToKey(EAuthProtocol::Sha1, "ops auth phrase"), PasswordToKey(EAuthProtocol::Sha1, "ops priv phrase"),
            EAccess::Read };
        agent.SetSNMPv3(std::make_unique<CSNMPv3Processor>(SEngineState { engineId, 1 }, std::span(&user, 1)));
        SV3MessageFields f;
        f.msgId = 7;
        f.flags = static_cast<std::uint8_t>(ESecurityLevel::AuthPriv) | kFlagReportable;
        f.engineId = engineId;
        f.boots = 1;
        f.time = agent.GetSNMPv3()->EngineTime();
        f.userName = Bytes(user.name.begin(), user.name.end());
        f.authKey = LocalizeKey(user.authProtocol, user.authKey, engineId);
        f.privKey = AesKeyFromLocalized(LocalizeKey(user.authProtocol, user.privKey, engineId));
        f.scopedPdu = EncodeScopedPdu(engineId, {}, Pdu(0xA0, battery));
        request.resize(kDatagramSize);
        request.resize(EncodeV3Message(f, request));
    } else {
        return 2;
    }

    SDatagram& datagram = agent.GetDatagram();
    for (long i = 0; i < count; ++i) {
        std::copy(request.begin(), request.end(), datagram.data.begin());
        datagram.length = static_cast<std::uint32_t>(request.size());
        if (agent.ProcessRequest(&ups) != CSNMPAgent::ERequestOutcome::Answered) {
            std::fprintf(stderr, "not answered\n");
            return 1;
        }
    }
    return 0;
}
