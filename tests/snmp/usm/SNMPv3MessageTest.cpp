// The SNMPv3 message layer: requests built by our own encoder come through
// the parser for authNoPriv and authPriv, responses go back the same way, and
// each usmStats failure gives its report (or, unreportable, is only counted).
#include "platform/Clock.h"
#include "snmp/usm/SNMPv3Message.h"
#include "tests/snmp/usm/UsmTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace pvx::usm;
using pvx::usm::test::Hex;

namespace {

const Bytes kEngineId = Hex("80 00 02 16 05 01 02 03 04 05 06 07 08");
constexpr std::uint32_t kBoots = 5;

// GetRequest, request-id 7, one binding upsBatteryStatus.0 = NULL.
const Bytes kGetPdu = Hex("a0 1b 02 01 07 02 01 00 02 01 00 30 10 30 0e 06 0a 2b 06 01 02 01 21 01 02 01 00 05 00");
// GetResponse, request-id 7, the same binding = INTEGER 2.
const Bytes kResponsePdu = Hex("a2 1c 02 01 07 02 01 00 02 01 00 30 11 30 0f 06 0a 2b 06 01 02 01 21 01 02 01 00 02 01 02");

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct Fixture {
    pvx::CFakeClock clock;
    pvx::CScopedClock scoped {clock};
    std::vector<SUsmUser> users {
        {"ops", ESecurityLevel::AuthPriv, EAuthProtocol::Sha1, PasswordToKey(EAuthProtocol::Sha1, "maplesyrup"),
         PasswordToKey(EAuthProtocol::Sha1, "pancakes and bacon"), EAccess::Write},
        {"mon", ESecurityLevel::AuthNoPriv, EAuthProtocol::Sha256, PasswordToKey(EAuthProtocol::Sha256, "maplesyrup"),
         {}, EAccess::Read},
    };
    CSNMPv3Processor processor {SEngineState {kEngineId, kBoots}, users};

    // A request as a manager that knows the user's pass phrases sends it.
    SV3MessageFields Request(std::size_t user, ESecurityLevel level)
    {
        const SUsmUser& u = users[user];
        SV3MessageFields f;
        f.msgId = 42;
        f.maxSize = 1500;
        f.flags = static_cast<std::uint8_t>(static_cast<std::uint8_t>(level) | kFlagReportable);
        f.engineId = kEngineId;
        f.boots = kBoots;
        f.time = processor.EngineTime();
        f.userName = Text(u.name);
        f.authProtocol = u.authProtocol;
        if (level != ESecurityLevel::NoAuthNoPriv)
            f.authKey = LocalizeKey(u.authProtocol, u.authKey, kEngineId);
        if (level == ESecurityLevel::AuthPriv)
            f.privKey = AesKeyFromLocalized(LocalizeKey(u.authProtocol, u.privKey, kEngineId));
        f.salt = Salt {0, 0, 0, 0, 0, 0, 0, 9};
        f.scopedPdu = EncodeScopedPdu(kEngineId, {}, kGetPdu);
        return f;
    }

    SIncomingV3 Send(const SV3MessageFields& fields)
    {
        std::array<std::uint8_t, 1500> bytes {};
        std::size_t length = EncodeV3Message(fields, bytes);
        return processor.Process(std::span(bytes).first(length));
    }
};

} // namespace

TEST(SNMPv3Message, RequestsAndResponsesRoundTripAtBothLevels)
{
    Fixture f;
    f.clock.Advance(90000); // engine time 90 s
    struct Case {
        std::size_t user;
        ESecurityLevel level;
        bool authorized;
    } cases[] = {
        {0, ESecurityLevel::AuthPriv, true},
        {1, ESecurityLevel::AuthNoPriv, true},
        {0, ESecurityLevel::AuthNoPriv, false},   // below the user's configured level
        {1, ESecurityLevel::NoAuthNoPriv, false}, // no digest at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(f.users[c.user].name + " level " + std::to_string(static_cast<int>(c.level)));
        SIncomingV3 in = f.Send(f.Request(c.user, c.level));
        ASSERT_EQ(in.outcome, EV3Outcome::Accept);
        EXPECT_EQ(in.pdu, kGetPdu);
        EXPECT_EQ(in.security.requestId, 7);
        EXPECT_EQ(in.security.msgId, 42);
        EXPECT_EQ(in.security.user, static_cast<int>(c.user));
        EXPECT_EQ(in.security.level, c.level);
        EXPECT_EQ(in.security.contextEngineId, kEngineId);
        EXPECT_EQ(in.authorized, c.authorized);
        EXPECT_EQ(in.access, f.users[c.user].access);

        // The response, secured at the request's level, reads back through
        // the same engine: encryption, digest and time all check out.
        std::array<std::uint8_t, 1172> out {};
        std::size_t length = f.processor.BuildResponse(in.security, kResponsePdu, out);
        SIncomingV3 back = f.processor.Process(std::span(out).first(length));
        ASSERT_EQ(back.outcome, EV3Outcome::Accept);
        EXPECT_EQ(back.pdu, kResponsePdu);
        EXPECT_EQ(back.security.level, c.level);
        EXPECT_FALSE(back.security.reportable);
        if (c.level == ESecurityLevel::AuthPriv) {
            EXPECT_EQ(std::search(out.begin(), out.begin() + length, kResponsePdu.begin(), kResponsePdu.end()),
                      out.begin() + length)
                << "the response PDU went out in clear";
        }
    }
    EXPECT_EQ(f.processor.Counters().usmStats, (std::array<std::uint32_t, kUsmReportCount> {}));
}

TEST(SNMPv3Message, EachSecurityFailureIsCountedAndReported)
{
    Fixture f;
    f.clock.Advance(1000000); // engine time 1000 s
    using Change = std::function<void(SV3MessageFields&)>;
    struct Case {
        const char* name;
        std::size_t user;
        ESecurityLevel level;
        Change change;
        EV3Outcome outcome;
        EUsmReport report;
    } cases[] = {
        {"discovery", 0, ESecurityLevel::NoAuthNoPriv,
         [](SV3MessageFields& m) { m.engineId.clear(); m.userName.clear(); m.boots = m.time = 0; },
         EV3Outcome::Report, EUsmReport::UnknownEngineIDs},
        {"unknown user", 0, ESecurityLevel::AuthPriv, [](SV3MessageFields& m) { m.userName = Text("nobody"); },
         EV3Outcome::Report, EUsmReport::UnknownUserNames},
        {"user name differs in case", 0, ESecurityLevel::AuthNoPriv, [](SV3MessageFields& m) { m.userName = Text("OPS"); },
         EV3Outcome::Report, EUsmReport::UnknownUserNames},
        {"privacy for an authNoPriv user", 1, ESecurityLevel::AuthPriv,
         [](SV3MessageFields& m) { m.privKey = AesKey {}; }, EV3Outcome::Report, EUsmReport::UnsupportedSecLevels},
        {"wrong auth pass phrase", 0, ESecurityLevel::AuthPriv,
         [](SV3MessageFields& m) {
             m.authKey = LocalizeKey(EAuthProtocol::Sha1, PasswordToKey(EAuthProtocol::Sha1, "maplesyrup!"), kEngineId);
         },
         EV3Outcome::Report, EUsmReport::WrongDigests},
        {"SHA digest for a SHA256 user", 1, ESecurityLevel::AuthNoPriv,
         [](SV3MessageFields& m) { m.authProtocol = EAuthProtocol::Sha1; m.authKey.resize(20); },
         EV3Outcome::Report, EUsmReport::WrongDigests},
        {"151 s ahead", 0, ESecurityLevel::AuthNoPriv, [](SV3MessageFields& m) { m.time += 151; },
         EV3Outcome::Report, EUsmReport::NotInTimeWindows},
        {"151 s behind", 1, ESecurityLevel::AuthNoPriv, [](SV3MessageFields& m) { m.time -= 151; },
         EV3Outcome::Report, EUsmReport::NotInTimeWindows},
        {"150 s behind is still in time", 1, ESecurityLevel::AuthNoPriv, [](SV3MessageFields& m) { m.time -= 150; },
         EV3Outcome::Accept, EUsmReport::None},
        {"an earlier boot", 0, ESecurityLevel::AuthPriv, [](SV3MessageFields& m) { m.boots -= 1; },
         EV3Outcome::Report, EUsmReport::NotInTimeWindows},
        {"wrong priv pass phrase", 0, ESecurityLevel::AuthPriv,
         [](SV3MessageFields& m) {
             m.privKey = AesKeyFromLocalized(
                 LocalizeKey(EAuthProtocol::Sha1, PasswordToKey(EAuthProtocol::Sha1, "pancakes and syrup"), kEngineId));
         },
         EV3Outcome::Report, EUsmReport::DecryptionErrors},
        {"unknown user, not reportable", 0, ESecurityLevel::AuthPriv,
         [](SV3MessageFields& m) { m.userName = Text("nobody"); m.flags &= ~kFlagReportable; },
         EV3Outcome::Drop, EUsmReport::UnknownUserNames},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SV3MessageFields request = f.Request(c.user, c.level);
        c.change(request);
        auto before = f.processor.Counters().usmStats;
        SIncomingV3 in = f.Send(request);
        EXPECT_EQ(in.outcome, c.outcome);
        EXPECT_EQ(in.report, c.report);
        auto expected = before;
        if (c.report != EUsmReport::None)
            ++expected[static_cast<std::size_t>(c.report)];
        EXPECT_EQ(f.processor.Counters().usmStats, expected);
        if (in.outcome != EV3Outcome::Report)
            continue;

        // The report names the counter with its new value; only the time
        // window's report is authenticated, so that the manager can trust the
        // boots and time it learns from it.
        std::array<std::uint8_t, 1172> out {};
        std::size_t length = f.processor.BuildReport(in.security, in.report, out);
        // Every length in its shortest form, as strict managers need.
        Bytes counter = Hex("06 0a 2b 06 01 06 03 0f 01 01");
        counter.push_back(static_cast<std::uint8_t>(in.report));
        for (std::uint8_t b : Hex("00 41 01"))
            counter.push_back(b);
        counter.push_back(static_cast<std::uint8_t>(expected[static_cast<std::size_t>(in.report)]));
        EXPECT_NE(std::search(out.begin(), out.begin() + length, counter.begin(), counter.end()), out.begin() + length);
        SIncomingV3 report = f.processor.Process(std::span(out).first(length));
        if (c.report == EUsmReport::NotInTimeWindows) {
            ASSERT_EQ(report.outcome, EV3Outcome::Accept);
            EXPECT_EQ(report.security.level, ESecurityLevel::AuthNoPriv);
            EXPECT_EQ(report.pdu.at(0), kReportPdu);
        }
    }
}

TEST(SNMPv3Message, DiscoveryReportBytes)
{
    Fixture f;
    SV3MessageFields request = f.Request(0, ESecurityLevel::NoAuthNoPriv);
    request.engineId.clear();
    request.userName.clear();
    request.scopedPdu = EncodeScopedPdu({}, {}, kGetPdu);
    SIncomingV3 in = f.Send(request);
    ASSERT_EQ(in.outcome, EV3Outcome::Report);
    std::array<std::uint8_t, 1172> out {};
    std::size_t length = f.processor.BuildReport(in.security, in.report, out);
    // Every length in its shortest form (X.690 8.1.3.4), as strict stacks need.
    const Bytes expected = Hex(
        "30 62"                                     // SNMPv3Message
        "  02 01 03"                                //   msgVersion 3
        "  30 0d"                                   //   msgGlobalData
        "    02 01 2a"                              //     msgID 42, as in the request
        "    02 02 04 94"                           //     msgMaxSize 1172
        "    04 01 00"                              //     msgFlags: noAuthNoPriv, not reportable
        "    02 01 03"                              //     msgSecurityModel USM
        "  04 1d 30 1b"                             //   msgSecurityParameters
        "    04 0d 80 00 02 16 05 01 02 03 04 05 06 07 08" // engine ID
        "    02 01 05"                              //     boots 5
        "    02 01 00"                              //     time 0
        "    04 00 04 00 04 00"                     //     user name, auth and priv parameters: empty
        "  30 2f"                                   //   ScopedPDU
        "    04 0d 80 00 02 16 05 01 02 03 04 05 06 07 08" // contextEngineID
        "    04 00"                                 //     contextName
        "    a8 1c"                                 //     Report-PDU
        "      02 01 07 02 01 00 02 01 00"          //       request-id 7, 0, 0
        "      30 11 30 0f"                         //       one binding
        "        06 0a 2b 06 01 06 03 0f 01 01 04 00" // usmStatsUnknownEngineIDs.0
        "        41 01 01");                        //       Counter32 1
    EXPECT_EQ(Bytes(out.begin(), out.begin() + length), expected);
}

TEST(SNMPv3Message, MalformedOrForeignMessagesAreDroppedAndCounted)
{
    Fixture f;
    std::array<std::uint8_t, 1500> bytes {};
    SV3MessageFields good = f.Request(0, ESecurityLevel::AuthPriv);
    std::size_t length = EncodeV3Message(good, bytes);
    Bytes message(bytes.begin(), bytes.begin() + length);

    // Every truncation of a good message is dropped as a parse error.
    for (std::size_t cut = 0; cut < message.size(); ++cut)
        EXPECT_EQ(f.processor.Process(std::span(message).first(cut)).outcome, EV3Outcome::Drop) << cut;
    EXPECT_EQ(f.processor.Counters().parseErrors, message.size());
    Bytes longer = message;
    longer.push_back(0);
    EXPECT_EQ(f.processor.Process(longer).outcome, EV3Outcome::Drop);

    SV3MessageFields otherModel = good;
    otherModel.securityModel = 2;
    EXPECT_EQ(f.Send(otherModel).outcome, EV3Outcome::Drop);
    EXPECT_EQ(f.processor.Counters().unknownSecurityModels, 1u);

    SV3MessageFields privWithoutAuth = f.Request(0, ESecurityLevel::NoAuthNoPriv);
    privWithoutAuth.flags |= kFlagPriv;
    privWithoutAuth.privKey = AesKey {};
    EXPECT_EQ(f.Send(privWithoutAuth).outcome, EV3Outcome::Drop);
    EXPECT_EQ(f.processor.Counters().invalidMsgs, 1u);
}

TEST(SNMPv3Message, RequestsCapturedFromNetSnmpDecode)
{
    // snmpget -v3 -e 0x80000216050102030405060708 ... upsBatteryStatus.0, sent
    // before the tool knew the engine's boots and time (both 0).
    Fixture f;
    CSNMPv3Processor processor(SEngineState {kEngineId, 0}, f.users);
    const Bytes batteryStatus = Hex("30 0e 06 0a 2b 06 01 02 01 21 01 02 01 00 05 00");
    struct Case {
        const char* tool;
        const char* bytes;
        ESecurityLevel level;
        int user;
    } cases[] = {
        {"-l authPriv -u ops -a SHA -A maplesyrup -x AES -X 'pancakes and bacon'",
         "3081810201033011020446f26fde020300ffe304010702010304343032040d80000216050102030405060708020100020100"
         "04036f7073040c01d147cee17cf2b5029ef93c04080d504cccd4457301043339e5d577e229e852c1365831823c439dbedd6f"
         "2def5491bad5c9853f9d669909bd782fddf838b2c16e4443c7172e9a65729e0f",
         ESecurityLevel::AuthPriv, 0},
        {"-l authNoPriv -u mon -a SHA-256 -A maplesyrup",
         "3081830201033011020405ddb0bd020300ffe304010502010304383036040d80000216050102030405060708020100020100"
         "04036d6f6e0418264342a5786d25a0f4ef5c3bb30e750637e7445cf38ed25104003031040d800002160501020304050607"
         "080400a01e020427070c8a0201000201003010300e060a2b0601020121010201000500",
         ESecurityLevel::AuthNoPriv, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        SIncomingV3 in = processor.Process(Hex(c.bytes));
        ASSERT_EQ(in.outcome, EV3Outcome::Accept);
        EXPECT_EQ(in.security.level, c.level);
        EXPECT_EQ(in.security.user, c.user);
        EXPECT_TRUE(in.security.reportable);
        EXPECT_TRUE(in.authorized);
        EXPECT_EQ(in.security.contextEngineId, kEngineId);
        ASSERT_FALSE(in.pdu.empty());
        EXPECT_EQ(in.pdu[0], 0xA0);
        EXPECT_TRUE(std::equal(batteryStatus.rbegin(), batteryStatus.rend(), in.pdu.rbegin()));
    }
}

// A caller keeps one SIncomingV3 for every message: nothing of an accepted
// request may survive into the answer to the next one.
TEST(SNMPv3Message, AResultReusedForTheNextMessageKeepsNothingOfTheLast)
{
    Fixture f;
    SV3MessageFields accepted = f.Request(0, ESecurityLevel::AuthPriv);
    accepted.scopedPdu = EncodeScopedPdu(kEngineId, Text("ctx"), kGetPdu);
    SV3MessageFields stranger = f.Request(0, ESecurityLevel::NoAuthNoPriv);
    stranger.userName = Text("eve");
    stranger.scopedPdu = EncodeScopedPdu({}, {}, kGetPdu);
    const Bytes garbage = Hex("30 03 02 01 03");
    std::array<std::uint8_t, 1500> bytes {};
    auto encode = [&bytes](const SV3MessageFields& fields) {
        return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(EncodeV3Message(fields, bytes)));
    };
    const Bytes first = encode(accepted);
    const Bytes second = encode(stranger);

    SIncomingV3 result;
    f.processor.Process(first, result);
    ASSERT_EQ(result.outcome, EV3Outcome::Accept);
    EXPECT_EQ(result.pdu, kGetPdu);
    EXPECT_EQ(result.security.contextName, Text("ctx"));
    f.processor.Process(second, result);
    EXPECT_EQ(result.outcome, EV3Outcome::Report);
    EXPECT_EQ(result.report, EUsmReport::UnknownUserNames);
    EXPECT_TRUE(result.pdu.empty());
    EXPECT_TRUE(result.security.contextName.empty());
    EXPECT_TRUE(result.security.contextEngineId.empty());
    EXPECT_EQ(result.security.user, -1);
    EXPECT_FALSE(result.authorized);
    f.processor.Process(garbage, result);
    EXPECT_EQ(result.outcome, EV3Outcome::Drop);
    EXPECT_TRUE(result.security.userName.empty());
    // And the reused buffers still give the accepted request its own answer.
    f.processor.Process(first, result);
    ASSERT_EQ(result.outcome, EV3Outcome::Accept);
    EXPECT_EQ(result.pdu, kGetPdu);
}
