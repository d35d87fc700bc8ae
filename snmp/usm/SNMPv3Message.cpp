// Parsing and building SNMPv3 messages under the User-based Security Model.
#include "snmp/usm/SNMPv3Message.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"

#include <algorithm>

namespace pvx::usm {

namespace {

constexpr std::int32_t kMinMaxSize = 484;
constexpr std::size_t kMaxUserName = 32;
constexpr std::size_t kMaxEngineId = 32;

[[noreturn]] void Malformed() { throw CPVXException(EVENT_BER_MALFORMED); }

void WriteOctets(CBasicEncodingRulesBuffer& buffer, std::span<const std::uint8_t> bytes)
{
    buffer.WriteHeader(static_cast<std::uint32_t>(bytes.size()), ber::kOctetString);
    for (std::uint8_t b : bytes)
        buffer.WriteByte(b);
}

void WriteRaw(CBasicEncodingRulesBuffer& buffer, std::span<const std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes)
        buffer.WriteByte(b);
}

void WriteCounter32(CBasicEncodingRulesBuffer& buffer, std::uint32_t value)
{
    buffer.WriteUnsigned(ber::kCounter32, value);
}

// The end of an item whose contents start at the cursor; it must lie within
// `limit`.
std::size_t EndOf(const CBasicEncodingRulesBuffer& buffer, std::uint32_t length, std::size_t limit)
{
    if (length > limit - buffer.Position())
        Malformed();
    return buffer.Position() + length;
}

std::int32_t ReadNonNegative(CBasicEncodingRulesBuffer& buffer)
{
    std::int32_t value = buffer.ReadInteger();
    if (value < 0)
        Malformed();
    return value;
}

using ConstBytes = std::span<const std::uint8_t>;

struct SScopedPdu {
    ConstBytes contextEngineId;
    ConstBytes contextName;
    std::span<std::uint8_t> pdu;
    std::int32_t requestId = 0;
};

// ScopedPDU ::= SEQUENCE { contextEngineID, contextName, data }. With
// `exact` the SEQUENCE must fill `bytes`; after decryption trailing bytes are
// left alone, as a block cipher's padding would be. The parts are views of
// `bytes`.
SScopedPdu ParseScopedPdu(std::span<std::uint8_t> bytes, bool exact)
{
    CBasicEncodingRulesBuffer buffer(bytes);
    std::size_t end = EndOf(buffer, buffer.ReadHeader(ber::kSequence), bytes.size());
    if (exact && end != bytes.size())
        Malformed();
    SScopedPdu scoped;
    scoped.contextEngineId = buffer.ReadOctetStringView();
    scoped.contextName = buffer.ReadOctetStringView();
    std::size_t pduStart = buffer.Position();
    std::uint8_t tag = buffer.ReadByte();
    // Only the context-class constructed tags are PDUs.
    if ((tag & 0xE0) != 0xA0)
        Malformed();
    std::size_t pduEnd = EndOf(buffer, buffer.ReadLength(), end);
    if (pduEnd != end || buffer.Position() > end)
        Malformed();
    scoped.requestId = buffer.ReadInteger();
    if (buffer.Position() > end)
        Malformed();
    scoped.pdu = bytes.subspan(pduStart, end - pduStart);
    return scoped;
}

Salt SaltFrom(std::uint64_t value)
{
    Salt salt {};
    for (std::size_t i = 0; i < salt.size(); ++i)
        salt[i] = static_cast<std::uint8_t>(value >> (56 - 8 * i));
    return salt;
}

// The parts of a message as read, before any security check: views of the
// message's bytes.
struct SParsedMessage {
    std::int32_t msgId = 0;
    std::int32_t maxSize = 0;
    std::uint8_t flags = 0;
    std::int32_t securityModel = 0;
    ConstBytes engineId;
    std::uint32_t boots = 0;
    std::uint32_t time = 0;
    ConstBytes userName;
    std::size_t authOffset = 0;
    std::size_t authSize = 0;
    ConstBytes privParameters;
    ConstBytes encrypted;              // when the privacy flag is set
    std::optional<SScopedPdu> scoped;  // when it is not
};

// Reads the whole message from `bytes` (which must hold exactly one message).
SParsedMessage ParseMessage(std::span<std::uint8_t> bytes)
{
    CBasicEncodingRulesBuffer buffer(bytes);
    SParsedMessage m;
    if (EndOf(buffer, buffer.ReadHeader(ber::kSequence), bytes.size()) != bytes.size())
        Malformed();
    if (buffer.ReadInteger() != kVersion3)
        Malformed();

    std::size_t headerEnd = EndOf(buffer, buffer.ReadHeader(ber::kSequence), bytes.size());
    m.msgId = ReadNonNegative(buffer);
    m.maxSize = ReadNonNegative(buffer);
    auto flags = buffer.ReadOctetStringView();
    if (flags.size() != 1 || m.maxSize < kMinMaxSize)
        Malformed();
    m.flags = flags[0];
    m.securityModel = buffer.ReadInteger();
    if (buffer.Position() != headerEnd)
        Malformed();

    // msgSecurityParameters: an OCTET STRING holding UsmSecurityParameters.
    std::size_t parametersEnd = EndOf(buffer, buffer.ReadHeader(ber::kOctetString), bytes.size());
    if (m.securityModel == kUsmSecurityModel) {
        if (EndOf(buffer, buffer.ReadHeader(ber::kSequence), parametersEnd) != parametersEnd)
            Malformed();
        m.engineId = buffer.ReadOctetStringView();
        m.boots = static_cast<std::uint32_t>(ReadNonNegative(buffer));
        m.time = static_cast<std::uint32_t>(ReadNonNegative(buffer));
        m.userName = buffer.ReadOctetStringView();
        auto auth = buffer.ReadOctetStringView();
        m.authOffset = buffer.Position() - auth.size();
        m.authSize = auth.size();
        m.privParameters = buffer.ReadOctetStringView();
        if (buffer.Position() != parametersEnd || m.engineId.size() > kMaxEngineId || m.userName.size() > kMaxUserName)
            Malformed();
    }
    buffer.SetPosition(parametersEnd);

    if (m.flags & kFlagPriv) {
        m.encrypted = buffer.ReadOctetStringView();
        if (buffer.Position() != bytes.size())
            Malformed();
    } else {
        m.scoped = ParseScopedPdu(bytes.subspan(buffer.Position()), true);
    }
    return m;
}

bool SameBytes(ConstBytes a, ConstBytes b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

// The secrets of one outgoing message, as libcrypto contexts.
struct SMessageSecrets {
    CHmac* hmac = nullptr; // null: no digest
    CAesCfb* aes = nullptr; // set: the scoped PDU is encrypted
};

std::size_t EncodeScopedPduInto(ConstBytes contextEngineId, ConstBytes contextName, ConstBytes pdu,
                                std::span<std::uint8_t> out)
{
    CBasicEncodingRulesBuffer buffer(out);
    buffer.SetMinimalLengths(true);
    std::size_t sequence = buffer.BeginItem(ber::kSequence);
    WriteOctets(buffer, contextEngineId);
    WriteOctets(buffer, contextName);
    WriteRaw(buffer, pdu);
    buffer.EndItem(sequence);
    return buffer.Position();
}

// Where msgAuthenticationParameters' contents start in a message this file
// wrote, whatever its security model says.
std::size_t DigestOffset(std::span<std::uint8_t> message)
{
    CBasicEncodingRulesBuffer buffer(message);
    buffer.ReadHeader(ber::kSequence);
    buffer.ReadInteger();
    buffer.SetPosition(buffer.ReadHeader(ber::kSequence) + buffer.Position());
    buffer.ReadHeader(ber::kOctetString);
    buffer.ReadHeader(ber::kSequence);
    buffer.ReadOctetStringView();
    buffer.ReadInteger();
    buffer.ReadInteger();
    buffer.ReadOctetStringView();
    buffer.ReadHeader(ber::kOctetString);
    return buffer.Position();
}

} // namespace

Bytes EncodeScopedPdu(std::span<const std::uint8_t> contextEngineId, std::span<const std::uint8_t> contextName,
                      std::span<const std::uint8_t> pdu)
{
    Bytes out(contextEngineId.size() + contextName.size() + pdu.size() + 3 * ber::kHeaderSize);
    out.resize(EncodeScopedPduInto(contextEngineId, contextName, pdu, out));
    return out;
}

namespace {

// The message of `fields`, its keys given as contexts instead; the scoped
// PDU is encrypted straight into `out`.
std::size_t EncodeMessage(const SV3MessageFields& fields, ConstBytes engineId, ConstBytes userName,
                          ConstBytes scopedPdu, const SMessageSecrets& secrets, std::span<std::uint8_t> out)
{
    // Minimal lengths throughout: a receiver that checks the digest over its
    // own encoding of the message (as strict stacks do) must find ours.
    CBasicEncodingRulesBuffer buffer(out);
    buffer.SetMinimalLengths(true);
    std::size_t message = buffer.BeginItem(ber::kSequence);
    buffer.WriteInteger(kVersion3);

    std::size_t header = buffer.BeginItem(ber::kSequence);
    buffer.WriteInteger(fields.msgId);
    buffer.WriteInteger(fields.maxSize);
    WriteOctets(buffer, std::span(&fields.flags, 1));
    buffer.WriteInteger(fields.securityModel);
    buffer.EndItem(header);

    static constexpr std::array<std::uint8_t, 32> kZeros {};
    std::size_t parameters = buffer.BeginItem(ber::kOctetString);
    std::size_t usm = buffer.BeginItem(ber::kSequence);
    WriteOctets(buffer, engineId);
    buffer.WriteInteger(static_cast<std::int32_t>(fields.boots));
    buffer.WriteInteger(static_cast<std::int32_t>(fields.time));
    WriteOctets(buffer, userName);
    std::size_t digestSize = secrets.hmac ? DigestSize(fields.authProtocol) : 0;
    WriteOctets(buffer, std::span(kZeros).first(digestSize));
    WriteOctets(buffer, secrets.aes ? ConstBytes(fields.salt) : ConstBytes());
    buffer.EndItem(usm);
    buffer.EndItem(parameters);

    if (secrets.aes) {
        // CFB keeps the length: the ciphertext goes where the plaintext
        // would have been written.
        buffer.WriteHeader(static_cast<std::uint32_t>(scopedPdu.size()), ber::kOctetString);
        const std::size_t at = buffer.Position();
        if (buffer.Remaining() < scopedPdu.size())
            throw CPVXException(EVENT_BER_BOUNDS);
        if (!secrets.aes->Encrypt(fields.boots, fields.time, fields.salt, scopedPdu, out.subspan(at, scopedPdu.size())))
            throw CPVXException(EVENT_BER_MALFORMED);
        buffer.SetPosition(at + scopedPdu.size());
    } else {
        WriteRaw(buffer, scopedPdu);
    }
    buffer.EndItem(message);

    std::size_t length = buffer.Position();
    if (digestSize != 0) {
        // The items around the digest moved when their lengths were shortened.
        const std::size_t digestOffset = DigestOffset(out.first(length));
        if (!secrets.hmac->Compute(out.first(length), out.subspan(digestOffset, digestSize)))
            throw CPVXException(EVENT_BER_MALFORMED);
    }
    return length;
}

} // namespace

std::size_t EncodeV3Message(const SV3MessageFields& fields, std::span<std::uint8_t> out)
{
    std::optional<CHmac> hmac;
    std::optional<CAesCfb> aes;
    SMessageSecrets secrets;
    if (!fields.authKey.empty())
        secrets.hmac = &hmac.emplace(fields.authProtocol, fields.authKey);
    if (fields.privKey)
        secrets.aes = &aes.emplace(*fields.privKey);
    return EncodeMessage(fields, fields.engineId, fields.userName, fields.scopedPdu, secrets, out);
}

void CSNMPv3Processor::SetUsers(std::span<const SUsmUser> users)
{
    // Keys stored localized (Kul) are used as they are; Ku is localized here.
    auto localized = [this](const SUsmUser& user, const Bytes& key) {
        return user.engineTag.empty() ? LocalizeKey(user.authProtocol, key, m_engine.engineId) : key;
    };
    m_users.clear();
    for (const auto& user : users) {
        SLocalUser local {user, CHmac(user.authProtocol, localized(user, user.authKey)), {}};
        if (user.level == ESecurityLevel::AuthPriv)
            local.aes = CAesCfb(AesKeyFromLocalized(localized(user, user.privKey)));
        m_users.push_back(std::move(local));
    }
}

CSNMPv3Processor::CSNMPv3Processor(SEngineState engine, std::span<const SUsmUser> users)
    : m_engine(std::move(engine))
    , m_startMs(GetMonotonicMilliseconds())
{
    SetUsers(users);
    // The salt only has to differ between messages; a random start keeps it
    // from repeating across restarts within one boot count.
    Salt start {};
    RandomBytes(start);
    for (std::uint8_t b : start)
        m_salt = m_salt << 8 | b;
}

std::uint32_t CSNMPv3Processor::EngineTime() const
{
    // snmpEngineTime is at most 2^31 - 1, reached after 68 years.
    constexpr std::uint64_t kMaxEngineTime = 2147483647;
    std::uint64_t seconds = (GetMonotonicMilliseconds() - m_startMs) / 1000;
    return static_cast<std::uint32_t>(std::min(seconds, kMaxEngineTime));
}

Salt CSNMPv3Processor::NextSalt() { return SaltFrom(m_salt++); }

void CSNMPv3Processor::Count(SIncomingV3& result, EUsmReport report)
{
    ++m_counters.usmStats[static_cast<std::size_t>(report)];
    result.report = report;
    result.outcome = result.security.reportable ? EV3Outcome::Report : EV3Outcome::Drop;
}

SIncomingV3 CSNMPv3Processor::Process(std::span<const std::uint8_t> message)
{
    SIncomingV3 result;
    Process(message, result);
    return result;
}

void CSNMPv3Processor::Process(std::span<const std::uint8_t> message, SIncomingV3& result)
{
    // Everything but the buffers' capacity starts afresh.
    SSecurityState& s = result.security;
    result.outcome = EV3Outcome::Drop;
    result.report = EUsmReport::None;
    result.pdu.clear();
    result.authorized = false;
    result.access = EAccess::Read;
    s.msgId = 0;
    s.maxSize = 0;
    s.level = ESecurityLevel::NoAuthNoPriv;
    s.reportable = false;
    s.userName.clear();
    s.user = -1;
    s.requestId = 0;
    s.contextEngineId.clear();
    s.contextName.clear();

    m_message.assign(message.begin(), message.end());
    SParsedMessage m;
    try {
        m = ParseMessage(m_message);
    } catch (const CPVXException&) {
        ++m_counters.parseErrors;
        return;
    }
    if (m.securityModel != kUsmSecurityModel) {
        ++m_counters.unknownSecurityModels;
        return;
    }
    if ((m.flags & kFlagPriv) && !(m.flags & kFlagAuth)) {
        ++m_counters.invalidMsgs;
        return;
    }

    s.msgId = m.msgId;
    s.maxSize = m.maxSize;
    s.level = static_cast<ESecurityLevel>(m.flags & (kFlagAuth | kFlagPriv));
    s.reportable = (m.flags & kFlagReportable) != 0;
    s.userName.assign(m.userName.begin(), m.userName.end());
    auto takeScoped = [&s](const SScopedPdu& scoped) {
        s.requestId = scoped.requestId;
        s.contextEngineId.assign(scoped.contextEngineId.begin(), scoped.contextEngineId.end());
        s.contextName.assign(scoped.contextName.begin(), scoped.contextName.end());
    };
    if (m.scoped)
        takeScoped(*m.scoped);

    // RFC 3414 3.2, steps 3 to 8, in order.
    if (!SameBytes(m.engineId, m_engine.engineId))
        return Count(result, EUsmReport::UnknownEngineIDs);
    auto user = std::find_if(m_users.begin(), m_users.end(), [&](const SLocalUser& u) {
        return std::equal(u.config.name.begin(), u.config.name.end(), m.userName.begin(), m.userName.end(),
                          [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
    });
    if (user == m_users.end())
        return Count(result, EUsmReport::UnknownUserNames);
    s.user = static_cast<int>(user - m_users.begin());
    if (s.level == ESecurityLevel::AuthPriv && user->config.level != ESecurityLevel::AuthPriv)
        return Count(result, EUsmReport::UnsupportedSecLevels);

    if (m.flags & kFlagAuth) {
        if (m.authSize != DigestSize(user->config.authProtocol))
            return Count(result, EUsmReport::WrongDigests);
        std::array<std::uint8_t, 32> received {};
        const auto field = std::span(m_message).subspan(m.authOffset, m.authSize);
        std::copy(field.begin(), field.end(), received.begin());
        std::fill(field.begin(), field.end(), 0);
        if (!user->hmac.Verify(m_message, std::span(received).first(m.authSize)))
            return Count(result, EUsmReport::WrongDigests);
        s.time = m.time;
        s.digest.assign(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(m.authSize));

        std::uint32_t now = EngineTime();
        std::uint32_t skew = m.time > now ? m.time - now : now - m.time;
        if (m_engine.boots >= kMaxEngineBoots || m.boots != m_engine.boots || skew > kTimeWindowSeconds)
            return Count(result, EUsmReport::NotInTimeWindows);
    }

    if (m.flags & kFlagPriv) {
        if (m.privParameters.size() != kSaltSize)
            return Count(result, EUsmReport::DecryptionErrors);
        Salt salt {};
        std::copy(m.privParameters.begin(), m.privParameters.end(), salt.begin());
        m_plain.resize(m.encrypted.size());
        if (!user->aes.Decrypt(m.boots, m.time, salt, m.encrypted, m_plain))
            return Count(result, EUsmReport::DecryptionErrors);
        try {
            m.scoped = ParseScopedPdu(m_plain, false);
        } catch (const CPVXException&) {
            // With a wrong privacy key the plaintext is noise: that is how a
            // decryption error shows in a stream cipher mode.
            return Count(result, EUsmReport::DecryptionErrors);
        }
        takeScoped(*m.scoped);
    }

    result.outcome = EV3Outcome::Accept;
    result.pdu.assign(m.scoped->pdu.begin(), m.scoped->pdu.end());
    result.authorized = static_cast<std::uint8_t>(s.level) >= static_cast<std::uint8_t>(user->config.level);
    result.access = user->config.access;
}

std::size_t CSNMPv3Processor::Build(const SSecurityState& request, ESecurityLevel level,
                                    std::span<const std::uint8_t> pdu, std::span<std::uint8_t> out,
                                    std::span<const std::uint8_t> contextEngineId)
{
    SV3MessageFields fields;
    fields.msgId = request.msgId;
    fields.flags = static_cast<std::uint8_t>(level);
    fields.boots = m_engine.boots;
    fields.time = EngineTime();
    SMessageSecrets secrets;
    if (level != ESecurityLevel::NoAuthNoPriv) {
        // Only a request from a known user can be answered at a secure level.
        if (request.user < 0 || static_cast<std::size_t>(request.user) >= m_users.size())
            throw CPVXException(EVENT_BER_MALFORMED);
        SLocalUser& user = m_users[static_cast<std::size_t>(request.user)];
        fields.authProtocol = user.config.authProtocol;
        secrets.hmac = &user.hmac;
        if (level == ESecurityLevel::AuthPriv) {
            secrets.aes = &user.aes;
            fields.salt = NextSalt();
        }
    }
    if (contextEngineId.empty())
        contextEngineId = request.contextEngineId.empty() ? ConstBytes(m_engine.engineId) : ConstBytes(request.contextEngineId);
    // A scoped PDU beyond a datagram cannot be sent: bounds, as below.
    const std::size_t scoped = EncodeScopedPduInto(contextEngineId, request.contextName, pdu, m_scoped);
    std::size_t length = EncodeMessage(fields, m_engine.engineId, request.userName,
                                       std::span(m_scoped).first(scoped), secrets, out);
    if (length > static_cast<std::size_t>(std::max(request.maxSize, kMinMaxSize)))
        throw CPVXException(EVENT_BER_BOUNDS);
    return length;
}

std::size_t CSNMPv3Processor::BuildResponse(const SSecurityState& request, std::span<const std::uint8_t> pdu,
                                            std::span<std::uint8_t> out)
{
    return Build(request, request.level, pdu, out);
}

std::size_t CSNMPv3Processor::BuildTrap(int user, std::int32_t msgId, std::span<const std::uint8_t> pdu,
                                        std::span<std::uint8_t> out)
{
    const SLocalUser& sender = m_users.at(static_cast<std::size_t>(user));
    SSecurityState state;
    state.msgId = msgId;
    state.maxSize = kOwnMaxMessageSize;
    state.level = sender.config.level;
    state.userName.assign(sender.config.name.begin(), sender.config.name.end());
    state.user = user;
    return Build(state, state.level, pdu, out);
}

std::size_t CSNMPv3Processor::BuildDiscovery(std::int32_t msgId, std::span<std::uint8_t> out)
{
    std::array<std::uint8_t, 32> pdu {};
    CBasicEncodingRulesBuffer buffer(pdu);
    buffer.SetMinimalLengths(true);
    std::size_t get = buffer.BeginItem(ber::kGetRequest);
    buffer.WriteInteger(msgId);
    buffer.WriteInteger(0);
    buffer.WriteInteger(0);
    buffer.EndItem(buffer.BeginItem(ber::kSequence));
    buffer.EndItem(get);
    SV3MessageFields fields;
    fields.msgId = msgId;
    fields.flags = kFlagReportable;
    fields.scopedPdu = EncodeScopedPdu({}, {}, buffer.Written());
    return EncodeV3Message(fields, out);
}

std::size_t CSNMPv3Processor::BuildInform(int user, const SRemoteEngine& remote, std::int32_t msgId,
                                          std::span<const std::uint8_t> pdu, std::span<std::uint8_t> out)
{
    const SUsmUser& sender = m_users.at(static_cast<std::size_t>(user)).config;
    SV3MessageFields fields;
    fields.msgId = msgId;
    fields.flags = static_cast<std::uint8_t>(static_cast<std::uint8_t>(sender.level) | kFlagReportable);
    fields.engineId = remote.engineId;
    fields.boots = remote.boots;
    // The receiver's clock as it runs on from the time it reported.
    const std::uint64_t elapsed = (GetMonotonicMilliseconds() - remote.learntMs) / 1000;
    fields.time = static_cast<std::uint32_t>(std::min<std::uint64_t>(remote.time + elapsed, 2147483647));
    fields.userName.assign(sender.name.begin(), sender.name.end());
    fields.authProtocol = sender.authProtocol;
    fields.authKey = remote.authKey;
    if (sender.level == ESecurityLevel::AuthPriv) {
        fields.privKey = remote.privKey;
        fields.salt = NextSalt();
    }
    // The context is this engine's, where the notification's objects live.
    fields.scopedPdu = EncodeScopedPdu(m_engine.engineId, {}, pdu);
    return EncodeV3Message(fields, out);
}

ERemoteMessage CSNMPv3Processor::ProcessFromRemote(std::span<const std::uint8_t> message, int user,
                                                   SRemoteEngine& remote, std::int32_t& requestId)
{
    static constexpr std::uint32_t kUnknownEngineIds[] = {6, 3, 15, 1, 1, 4, 0};
    static constexpr std::uint32_t kNotInTimeWindows[] = {6, 3, 15, 1, 1, 2, 0};
    const SUsmUser& sender = m_users.at(static_cast<std::size_t>(user)).config;
    Bytes bytes(message.begin(), message.end());
    Bytes plain; // the decrypted scoped PDU, viewed by the parsed message
    try {
        SParsedMessage m = ParseMessage(bytes);
        if (m.securityModel != kUsmSecurityModel || m.engineId.empty())
            return ERemoteMessage::Drop;
        // The PDU's tag, request-id and first binding's name.
        std::array<std::uint32_t, 130> arcs {};
        auto readPdu = [&](std::span<const std::uint8_t> pdu, std::uint8_t& tag, std::span<const std::uint32_t>& first) {
            Bytes copy(pdu.begin(), pdu.end());
            CBasicEncodingRulesBuffer buffer(copy);
            tag = buffer.ReadByte();
            buffer.ReadLength();
            requestId = buffer.ReadInteger();
            buffer.ReadInteger();
            buffer.ReadInteger();
            std::size_t listEnd = buffer.ReadHeader(ber::kSequence) + buffer.Position();
            first = {};
            if (buffer.Position() < listEnd) {
                buffer.ReadHeader(ber::kSequence);
                first = buffer.ReadObjectIdentifier(arcs);
            }
        };
        std::uint8_t tag = 0;
        std::span<const std::uint32_t> name;
        if (!(m.flags & kFlagAuth)) {
            // Discovery needs no keys: the Report brings the engine's ID,
            // boots and time (RFC 3414 section 4).
            if (!m.scoped)
                return ERemoteMessage::Drop;
            readPdu(m.scoped->pdu, tag, name);
            if (tag != kReportPdu || !std::ranges::equal(name, kUnknownEngineIds))
                return ERemoteMessage::Drop;
            if (!SameBytes(m.engineId, remote.engineId)) {
                remote.authKey = LocalizeKey(sender.authProtocol, sender.authKey, m.engineId);
                if (sender.level == ESecurityLevel::AuthPriv)
                    remote.privKey = AesKeyFromLocalized(LocalizeKey(sender.authProtocol, sender.privKey, m.engineId));
                remote.engineId.assign(m.engineId.begin(), m.engineId.end());
            }
            remote.boots = m.boots;
            remote.time = m.time;
            remote.learntMs = GetMonotonicMilliseconds();
            return ERemoteMessage::Discovered;
        }
        if (!SameBytes(m.engineId, remote.engineId) || m.authSize != DigestSize(sender.authProtocol))
            return ERemoteMessage::Drop;
        Bytes received(bytes.begin() + static_cast<std::ptrdiff_t>(m.authOffset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(m.authOffset + m.authSize));
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(m.authOffset), m.authSize, 0);
        if (!VerifyDigest(sender.authProtocol, remote.authKey, bytes, received))
            return ERemoteMessage::Drop;
        if (m.flags & kFlagPriv) {
            Salt salt {};
            if (m.privParameters.size() != kSaltSize)
                return ERemoteMessage::Drop;
            std::copy(m.privParameters.begin(), m.privParameters.end(), salt.begin());
            if (!AesCfbDecrypt(remote.privKey, m.boots, m.time, salt, m.encrypted, plain))
                return ERemoteMessage::Drop;
            m.scoped = ParseScopedPdu(plain, false);
        }
        readPdu(m.scoped->pdu, tag, name);
        if (tag == ber::kGetResponse)
            return ERemoteMessage::Response;
        if (tag != kReportPdu || !std::ranges::equal(name, kNotInTimeWindows))
            return ERemoteMessage::Drop;
        // Authentic: the engine's clock as it now says (RFC 3414 section 3.2, step 7b).
        remote.boots = m.boots;
        remote.time = m.time;
        remote.learntMs = GetMonotonicMilliseconds();
        return ERemoteMessage::Resynchronised;
    } catch (const CPVXException&) {
        return ERemoteMessage::Drop;
    }
}

int CSNMPv3Processor::FindUser(std::string_view name) const
{
    auto found = std::ranges::find(m_users, name, [](const SLocalUser& u) { return std::string_view(u.config.name); });
    return found == m_users.end() ? -1 : static_cast<int>(found - m_users.begin());
}

std::size_t CSNMPv3Processor::BuildReport(const SSecurityState& request, EUsmReport report,
                                          std::span<std::uint8_t> out)
{
    const std::array<std::uint32_t, 7> name {6, 3, 15, 1, 1, static_cast<std::uint32_t>(report), 0};
    ESecurityLevel level = report == EUsmReport::NotInTimeWindows && request.user >= 0 ? ESecurityLevel::AuthNoPriv
                                                                                      : ESecurityLevel::NoAuthNoPriv;
    return BuildCounterReport(request, level, name, m_counters.usmStats[static_cast<std::size_t>(report)], out);
}

std::size_t CSNMPv3Processor::BuildContextReport(const SSecurityState& request, EContextReport report,
                                                 std::span<std::uint8_t> out)
{
    static constexpr std::uint32_t kUnknownPduHandlers[] = {6, 3, 11, 2, 1, 3, 0};
    static constexpr std::uint32_t kUnknownContexts[] = {6, 3, 12, 1, 5, 0};
    if (report == EContextReport::UnknownPduHandlers)
        return BuildCounterReport(request, request.level, kUnknownPduHandlers, ++m_counters.unknownPduHandlers, out);
    return BuildCounterReport(request, request.level, kUnknownContexts, ++m_counters.unknownContexts, out);
}

std::size_t CSNMPv3Processor::BuildCounterReport(const SSecurityState& request, ESecurityLevel level,
                                                 std::span<const std::uint32_t> counter, std::uint32_t value,
                                                 std::span<std::uint8_t> out)
{
    std::array<std::uint8_t, kDatagramSize> pdu {};
    CBasicEncodingRulesBuffer buffer(pdu);
    buffer.SetMinimalLengths(true);
    std::size_t reportPdu = buffer.BeginItem(kReportPdu);
    buffer.WriteInteger(request.requestId);
    buffer.WriteInteger(0);
    buffer.WriteInteger(0);
    std::size_t list = buffer.BeginItem(ber::kSequence);
    std::size_t binding = buffer.BeginItem(ber::kSequence);
    buffer.WriteObjectIdentifier(counter);
    WriteCounter32(buffer, value);
    buffer.EndItem(binding);
    buffer.EndItem(list);
    buffer.EndItem(reportPdu);

    // A Report names this engine as the context (RFC 3412).
    return Build(request, level, buffer.Written(), out, m_engine.engineId);
}

} // namespace pvx::usm
