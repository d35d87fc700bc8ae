// Fuzz target: the SNMPv3 message layer. The first byte picks the mode:
// even, the rest is a whole datagram (header, security parameters, scoped
// PDU); odd, the rest is a scoped PDU that the target wraps in a correctly
// authenticated message, encrypted (bit 1 clear) or not, so that the parser
// of the scoped PDU after decryption is reached too. Every accepted request
// must give a response that reads back to the same PDU.
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "platform/Portability.h"
#include "snmp/usm/SNMPv3Message.h"
#include "tests/fuzz/FuzzSupport.h"

#include <numeric>

namespace pvx::fuzz {
namespace {

using namespace pvx::usm;

// The engine and users the seeds are made for (make_seeds.py).
const usm::Bytes kEngineId {0x80, 0x00, 0x02, 0x16, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

struct SSetup {
    CFakeClock clock;
    std::vector<SUsmUser> users;
    SSetup()
    {
        SetClockSource(&clock);
        users = {
            {"ops", ESecurityLevel::AuthPriv, EAuthProtocol::Sha1, PasswordToKey(EAuthProtocol::Sha1, "maplesyrup"),
             PasswordToKey(EAuthProtocol::Sha1, "pancakes and bacon"), EAccess::Write},
            {"mon", ESecurityLevel::AuthNoPriv, EAuthProtocol::Sha256,
             PasswordToKey(EAuthProtocol::Sha256, "maplesyrup"), {}, EAccess::Read},
        };
    }
};

SSetup& Setup()
{
    static SSetup setup;
    return setup;
}

std::uint64_t DropCounters(const SV3Counters& c)
{
    return std::uint64_t {c.parseErrors} + c.unknownSecurityModels + c.invalidMsgs;
}

void Check(CSNMPv3Processor& processor, std::span<const std::uint8_t> message)
{
    SV3Counters before = processor.Counters();
    SIncomingV3 in = processor.Process(message);
    const SV3Counters& after = processor.Counters();
    std::uint64_t reports = std::accumulate(after.usmStats.begin(), after.usmStats.end(), std::uint64_t {0})
                            - std::accumulate(before.usmStats.begin(), before.usmStats.end(), std::uint64_t {0});
    std::uint64_t drops = DropCounters(after) - DropCounters(before);
    // Every refused message is counted exactly once, in one place.
    PVX_FUZZ_CHECK(reports == (in.report != EUsmReport::None ? 1u : 0u));
    PVX_FUZZ_CHECK(in.outcome == EV3Outcome::Accept ? reports + drops == 0 : reports + drops == 1);

    std::array<std::uint8_t, kDatagramSize> out {};
    switch (in.outcome) {
    case EV3Outcome::Drop:
        PVX_FUZZ_CHECK(in.report == EUsmReport::None || !in.security.reportable);
        break;
    case EV3Outcome::Report:
        PVX_FUZZ_CHECK(in.report != EUsmReport::None && in.security.reportable);
        try {
            PVX_FUZZ_CHECK(processor.BuildReport(in.security, in.report, out) <= out.size());
        } catch (const CPVXException& e) {
            // Only a manager's echoed name and context can make it too long.
            PVX_FUZZ_CHECK(e.GetCode() == EVENT_BER_BOUNDS);
        }
        break;
    case EV3Outcome::Accept: {
        PVX_FUZZ_CHECK(in.security.user >= 0 && !in.pdu.empty() && (in.pdu[0] & 0xE0) == 0xA0);
        PVX_FUZZ_CHECK(in.pdu.size() <= message.size());
        std::size_t length = 0;
        try {
            length = processor.BuildResponse(in.security, in.pdu, out);
        } catch (const CPVXException& e) {
            PVX_FUZZ_CHECK(e.GetCode() == EVENT_BER_BOUNDS);
            break;
        }
        SIncomingV3 back = processor.Process(std::span(out).first(length));
        PVX_FUZZ_CHECK(back.outcome == EV3Outcome::Accept && back.pdu == in.pdu);
        PVX_FUZZ_CHECK(back.security.level == in.security.level && back.security.user == in.security.user);
        break;
    }
    }
}

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    using namespace pvx::usm;
    using namespace pvx::fuzz;
    auto& setup = Setup();
    CFuzzInput input(data, size);
    std::uint8_t mode = input.Byte();
    auto rest = input.Rest();
    // Boots 0 and time 0 as the seeds' requests carry them.
    CSNMPv3Processor processor(SEngineState {kEngineId, 0}, setup.users);
    if ((mode & 1) == 0) {
        Check(processor, rest.first(std::min(rest.size(), kDatagramSize)));
        return 0;
    }
    bool encrypted = (mode & 2) == 0;
    const SUsmUser& user = setup.users[encrypted ? 0 : 1];
    SV3MessageFields fields;
    fields.msgId = 1;
    fields.flags = static_cast<std::uint8_t>((encrypted ? kFlagAuth | kFlagPriv : kFlagAuth) | kFlagReportable);
    fields.engineId = kEngineId;
    fields.userName.assign(user.name.begin(), user.name.end());
    fields.authProtocol = user.authProtocol;
    fields.authKey = LocalizeKey(user.authProtocol, user.authKey, kEngineId);
    if (encrypted)
        fields.privKey = AesKeyFromLocalized(LocalizeKey(user.authProtocol, user.privKey, kEngineId));
    fields.scopedPdu.assign(rest.begin(), rest.end());
    std::array<std::uint8_t, 2 * kDatagramSize> message {};
    std::size_t length = 0;
    try {
        length = EncodeV3Message(fields, message);
    } catch (const CPVXException& e) {
        PVX_FUZZ_CHECK(e.GetCode() == EVENT_BER_BOUNDS);
        return 0;
    }
    Check(processor, std::span(message).first(length));
    return 0;
}
