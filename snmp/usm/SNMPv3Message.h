// SNMPv3 messages (RFC 3412) secured by the User-based Security Model (RFC
// 3414): parsing a request in the order the RFCs prescribe, and building the
// response or the Report that answers it. The PDU inside is left to the
// agent, which handles it as for the other versions.
#pragma once

#include "platform/Portability.h"
#include "snmp/usm/EngineState.h"
#include "snmp/usm/UsmCrypto.h"
#include "snmp/usm/UsmUsers.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <span>
#include <vector>

namespace pvx::usm {

constexpr std::uint8_t kFlagAuth = 0x01;
constexpr std::uint8_t kFlagPriv = 0x02;
constexpr std::uint8_t kFlagReportable = 0x04;
constexpr std::int32_t kUsmSecurityModel = 3;
constexpr std::int32_t kVersion3 = 3;
constexpr std::uint8_t kReportPdu = 0xA8;
// The largest message pvx receives, announced as msgMaxSize.
constexpr std::int32_t kOwnMaxMessageSize = 1172;
// RFC 3414: a message more than 150 s off the engine's clock is refused.
constexpr std::uint32_t kTimeWindowSeconds = 150;

// The usmStats counters, by their last arc: 1.3.6.1.6.3.15.1.1.<n>.0.
enum class EUsmReport : std::uint8_t {
    None = 0,
    UnsupportedSecLevels = 1,
    NotInTimeWindows = 2,
    UnknownUserNames = 3,
    UnknownEngineIDs = 4,
    WrongDigests = 5,
    DecryptionErrors = 6,
};
constexpr std::size_t kUsmReportCount = 7;

// Every field of one outgoing (or test) message. The digest is computed last,
// over the whole message, when `authKey` is set.
struct SV3MessageFields {
    std::int32_t msgId = 0;
    std::int32_t maxSize = kOwnMaxMessageSize;
    std::uint8_t flags = 0;
    std::int32_t securityModel = kUsmSecurityModel;
    Bytes engineId;
    std::uint32_t boots = 0;
    std::uint32_t time = 0;
    Bytes userName;
    EAuthProtocol authProtocol = EAuthProtocol::Sha1;
    Bytes authKey;                  // localized; empty: no digest
    std::optional<AesKey> privKey;  // set: the scoped PDU is encrypted
    Salt salt {};
    Bytes scopedPdu;                // the plaintext ScopedPDU, whole
};

// Writes the message into `out` and returns its length. Throws CPVXException
// 0xC0020031 when it does not fit.
std::size_t EncodeV3Message(const SV3MessageFields& fields, std::span<std::uint8_t> out);
// SEQUENCE { contextEngineID, contextName, pdu }, `pdu` being a whole PDU.
Bytes EncodeScopedPdu(std::span<const std::uint8_t> contextEngineId, std::span<const std::uint8_t> contextName,
                      std::span<const std::uint8_t> pdu);

// What answering a request needs to know of it.
struct SSecurityState {
    std::int32_t msgId = 0;
    std::int32_t maxSize = 0;
    ESecurityLevel level = ESecurityLevel::NoAuthNoPriv;
    bool reportable = false;
    Bytes userName;
    int user = -1;              // index into the processor's users; -1 unknown
    std::int32_t requestId = 0; // of the PDU when it could be read, else 0
    Bytes contextEngineId;
    Bytes contextName;
    // Of an authenticated message: its msgAuthoritativeEngineTime and its
    // digest (msgAuthenticationParameters), which tell one message from
    // another (RFC 3414 section 3.2 step 6 covers the whole message).
    std::uint32_t time = 0;
    Bytes digest;
};

enum class EV3Outcome {
    Drop,   // nothing is sent (malformed, or a report that may not be sent)
    Report, // answer with BuildReport(security, report)
    Accept, // serve `pdu`, answer with BuildResponse
};

struct SIncomingV3 {
    EV3Outcome outcome = EV3Outcome::Drop;
    EUsmReport report = EUsmReport::None; // also set when a report is counted but dropped
    SSecurityState security;
    Bytes pdu; // the whole PDU, tag first
    // The message came at least at the user's configured level; if not, the
    // PDU must not be served (RFC 3415's noAccess: authorizationError).
    bool authorized = false;
    EAccess access = EAccess::Read;
};

struct SV3Counters {
    std::array<std::uint32_t, kUsmReportCount> usmStats {}; // indexed by EUsmReport
    std::uint32_t unknownSecurityModels = 0;                // snmpUnknownSecurityModels
    std::uint32_t invalidMsgs = 0;                          // snmpInvalidMsgs
    std::uint32_t parseErrors = 0;                          // snmpInASNParseErrs
    std::uint32_t unknownContexts = 0;                      // snmpUnknownContexts (RFC 3413)
    std::uint32_t unknownPduHandlers = 0;                   // snmpUnknownPDUHandlers (RFC 3412)
};

// The scoped PDU names a context this engine does not serve: another
// engine's (snmpUnknownPDUHandlers, RFC 3412 section 4.2.2.1) or a context
// name other than the default one (snmpUnknownContexts, RFC 3413 section 3.2).
enum class EContextReport { UnknownPduHandlers, UnknownContexts };

// The engine that receives an inform, which is the authoritative one for a
// confirmed PDU (RFC 3414 section 1.5.1): what its discovery Report told
// (section 4), and the sending user's keys localized to it.
struct SRemoteEngine {
    Bytes engineId; // empty: not discovered yet
    std::uint32_t boots = 0;
    std::uint32_t time = 0; // its snmpEngineTime when it was learnt
    std::uint64_t learntMs = 0; // this engine's monotonic clock then
    Bytes authKey;
    AesKey privKey {};
};

// What a message from an inform's receiver says.
enum class ERemoteMessage {
    Drop, // not for us, not authentic, or malformed
    Discovered, // a Report of usmStatsUnknownEngineIDs: the engine is learnt
    Resynchronised, // an authentic Report of usmStatsNotInTimeWindows: its clock is learnt anew
    Response, // an authentic Response: `requestId` answers an inform
};

// The engine: its identity, clock, localized user keys and counters.
class CSNMPv3Processor {
public:
    CSNMPv3Processor(SEngineState engine, std::span<const SUsmUser> users);
    virtual ~CSNMPv3Processor() = default;

    const Bytes& EngineId() const { return m_engine.engineId; }
    std::uint32_t EngineBoots() const { return m_engine.boots; }
    // Seconds since the processor was made, from the monotonic clock.
    std::uint32_t EngineTime() const;
    const SV3Counters& Counters() const { return m_counters; }
    const SUsmUser& User(int index) const { return m_users.at(static_cast<std::size_t>(index)).config; }
    // Replaces the users (a reload); the engine's ID, boots and clock stay.
    void SetUsers(std::span<const SUsmUser> users);

    // Never throws: a malformed message is counted and dropped.
    SIncomingV3 Process(std::span<const std::uint8_t> message);
    // The same into `result`, whose buffers are reused: a caller that keeps
    // one SIncomingV3 allocates nothing per message once they have grown.
    void Process(std::span<const std::uint8_t> message, SIncomingV3& result);

    // The response to an accepted request, `pdu` being the whole response
    // PDU, secured at the request's level. Throws CPVXException 0xC0020031
    // when it does not fit `out` or the manager's msgMaxSize.
    std::size_t BuildResponse(const SSecurityState& request, std::span<const std::uint8_t> pdu,
                              std::span<std::uint8_t> out);
    // The Report for `report`, carrying the counter's present value; sent
    // authenticated for NotInTimeWindows (RFC 3414), else noAuthNoPriv.
    std::size_t BuildReport(const SSecurityState& request, EUsmReport report, std::span<std::uint8_t> out);
    // A notification (SNMPv2-Trap-PDU) from this engine, which is the
    // authoritative one for an unconfirmed PDU (RFC 3414 section 1.5.1):
    // `pdu` whole, secured for `user` at that user's level, in the default
    // context. Throws as BuildResponse.
    std::size_t BuildTrap(int user, std::int32_t msgId, std::span<const std::uint8_t> pdu, std::span<std::uint8_t> out);
    // The discovery request of RFC 3414 section 4: noAuthNoPriv, reportable,
    // no engine ID, no user, an empty GetRequest.
    std::size_t BuildDiscovery(std::int32_t msgId, std::span<std::uint8_t> out);
    // An InformRequest `pdu` to the discovered `remote` engine, secured for
    // `user` at that user's level with its keys localized there, reportable.
    std::size_t BuildInform(int user, const SRemoteEngine& remote, std::int32_t msgId,
                            std::span<const std::uint8_t> pdu, std::span<std::uint8_t> out);
    // Reads a message from an inform's receiver for `user`, learning the
    // engine (and localizing the keys) from a discovery Report. Never throws.
    ERemoteMessage ProcessFromRemote(std::span<const std::uint8_t> message, int user, SRemoteEngine& remote,
                                     std::int32_t& requestId);
    // The index of the user called `name`, or -1.
    int FindUser(std::string_view name) const;
    // Counts a request for a context this engine does not serve and builds
    // its Report, at the request's own security level.
    std::size_t BuildContextReport(const SSecurityState& request, EContextReport report, std::span<std::uint8_t> out);

private:
    // A user's keys, set up in libcrypto once.
    struct SLocalUser {
        SUsmUser config;
        CHmac hmac;
        CAesCfb aes;
    };

    void Count(SIncomingV3& result, EUsmReport report);
    // `contextEngineId` empty: the request's, or this engine's if it had none.
    std::size_t Build(const SSecurityState& request, ESecurityLevel level, std::span<const std::uint8_t> pdu,
                      std::span<std::uint8_t> out, std::span<const std::uint8_t> contextEngineId = {});
    Salt NextSalt();
    std::size_t BuildCounterReport(const SSecurityState& request, ESecurityLevel level,
                                   std::span<const std::uint32_t> counter, std::uint32_t value,
                                   std::span<std::uint8_t> out);

    SEngineState m_engine;
    std::vector<SLocalUser> m_users;
    std::uint64_t m_startMs;
    std::uint64_t m_salt = 0;
    SV3Counters m_counters;
    // Scratch space reused by every message: the received message (its
    // digest field zeroed for checking), the decrypted scoped PDU and the
    // plaintext scoped PDU of a reply.
    Bytes m_message;
    Bytes m_plain;
    std::array<std::uint8_t, kDatagramSize> m_scoped {};
};

} // namespace pvx::usm
