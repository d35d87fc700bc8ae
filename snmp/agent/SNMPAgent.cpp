// The SNMP agent's set-up and message handling: the socket, the checks on
// every received message (source, version, community, SNMPv3 security), and
// the trap destinations the trap-level objects register. The PDU handling that
// the versions share is in SNMPPdu.cpp.
#include "snmp/agent/SNMPAgent.h"

#include "events/PVXException.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace pvx {

const COid kTrapLevelOid { 4, 1, 534, 1, 11, 1, 0 };
const COid kTrapTypeOid { 4, 1, 534, 1, 11, 2, 0 };

namespace {

// A system error number (no space left): any code but the three of the
// object tree becomes genErr.
constexpr std::uint32_t kRegistrationsFull = ENOSPC;

// Communities are byte strings: equal length and equal bytes, so a received
// community holding a zero byte never matches a shorter configured one. An
// empty configured community authorizes nothing: an empty key must not open
// the agent to every request with an empty community.
bool SameCommunity(std::span<const std::uint8_t> received, const std::string& configured)
{
    return !configured.empty() && std::ranges::equal(received, AsBytes(configured));
}

} // namespace

CSNMPAgent::CSNMPAgent(std::uint16_t agentPort, std::uint16_t managerPort, const SIpAddress& trapHost,
    const SIpAddress& sourceAddress, std::string getCommunity, std::string setCommunity, std::string trapCommunity,
    bool standardValues, bool sendColdStart)
    : m_agentPort(agentPort)
    , m_managerPort(managerPort)
    , m_getCommunity(std::move(getCommunity))
    , m_setCommunity(std::move(setCommunity))
    , m_trapCommunity(std::move(trapCommunity))
    , m_trapDestinations(managerPort)
{
    m_standardValues = standardValues;
    if (!trapHost.IsUnspecified())
        m_trapDestinations.AddTrapHost(trapHost);

    // Traps name the agent by the address its host name resolves to, unless
    // the configuration pins an IPv4 source address (an SNMPv1 agent-addr
    // holds IPv4 only).
    if (!sourceAddress.IsIPv4() || sourceAddress.IsUnspecified()) {
        std::string hostName;
        std::uint32_t resolved = 0;
        if (GetHostName(hostName) && ResolveHost(hostName, resolved))
            m_agentAddress = resolved;
    } else {
        m_agentAddress = sourceAddress.IPv4();
    }

    m_socket = OpenUdpSocket(m_agentPort, sourceAddress, { EVENT_SOCKET_CREATE, EVENT_SOCKET_NONBLOCKING, EVENT_SOCKET_BIND });
    BuildLocalObjects();

    if (sendColdStart)
        SendColdStart();
}

CSNMPAgent::~CSNMPAgent() = default;

std::uint16_t CSNMPAgent::GetBoundPort() const
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    if (!GetSocketAddress(m_socket.Get(), address, port))
        return 0;
    return port;
}

bool CSNMPAgent::IsRequestWaiting()
{
    return m_inboxNext < m_inboxCount || WaitReadable(m_socket.Get(), 0) > 0;
}

// Copies only the bytes in use: a datagram's buffer is mostly empty.
static void CopyDatagram(const SDatagram& from, SDatagram& to)
{
    to.address = from.address;
    to.port = from.port;
    to.length = std::min<std::uint32_t>(from.length, kDatagramSize);
    std::copy_n(from.data.begin(), to.length, to.data.begin());
}

void CSNMPAgent::ServeRequest(CAbstractUPS* ups)
{
    // One bad request must never stop the service loop: every failure ends
    // here, without a word in the log.
    try {
        // What a batch received and did not begin comes before anything newer.
        if (m_inboxNext < m_inboxCount)
            CopyDatagram(m_inbox[m_inboxNext++], m_datagram);
        else if (!ReceiveFrom(m_socket.Get(), m_datagram))
            return;
        Answer(ProcessRequest(ups));
    } catch (...) {
    }
}

unsigned CSNMPAgent::ServeBatch(CAbstractUPS* ups, std::uint64_t deadline, unsigned limit)
{
    unsigned served = 0;
    std::size_t replies = 0;
    const auto flush = [this, &replies] {
        SendBatch(m_socket.Get(), std::span<const SDatagram>(m_outbox.data(), replies));
        replies = 0;
    };
    std::uint64_t queuedAt = 0;
    while (served < limit) {
        if (m_inboxNext == m_inboxCount) {
            // Never more than may be served: the rest stays in the socket,
            // where the other services' turn and the deadline find it.
            if (replies > 0)
                flush(); // those answered go out before the next batch comes in
            m_inboxNext = 0;
            m_inboxCount = ReceiveBatch(m_socket.Get(),
                std::span<SDatagram>(m_inbox.data(), std::min<std::size_t>(limit - served, kDatagramBatch)));
            if (m_inboxCount == 0)
                break;
        }
        CopyDatagram(m_inbox[m_inboxNext++], m_datagram);
        ++served;
        ERequestOutcome outcome = ERequestOutcome::Dropped;
        try {
            outcome = ProcessRequest(ups);
            if (outcome == ERequestOutcome::AuthenticationFailure)
                ReportAuthenticationFailure();
        } catch (...) {
        }
        const std::uint64_t now = GetMonotonicMilliseconds();
        if (outcome == ERequestOutcome::Answered) {
            if (replies == 0)
                queuedAt = now;
            CopyDatagram(m_datagram, m_outbox[replies++]);
        }
        // A request that held the serial line must not hold back the
        // replies queued before it.
        if (replies > 0 && now > queuedAt)
            flush();
        if (now >= deadline)
            break;
    }
    if (replies > 0)
        flush();
    return served;
}

void CSNMPAgent::Answer(ERequestOutcome outcome)
{
    switch (outcome) {
    case ERequestOutcome::Answered:
        SendTo(m_socket.Get(), m_datagram);
        break;
    case ERequestOutcome::AuthenticationFailure:
        ReportAuthenticationFailure();
        break;
    case ERequestOutcome::Dropped:
    case ERequestOutcome::Refused:
        break;
    }
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ProcessRequest(CAbstractUPS* ups)
{
    // A manager acknowledging an inform is no request: whatever the source
    // lists say, it only takes the inform off the queue.
    if (TakeInformResponse())
        return ERequestOutcome::Dropped;
    // Before any parsing: a source outside SNMP/ReadManagers gets nothing.
    if (!AdmitsSource())
        return ERequestOutcome::Refused;
    ++m_snmpGroup.inPackets;
    // A UPS given up for lost holds reset values, not measurements: it is
    // served as no UPS at all until one is identified again.
    m_ups = ups != nullptr && ups->IsConnected() ? ups : nullptr;
    m_servingNow = true;
    m_deferredNow = false;
    ERequestOutcome outcome = ERequestOutcome::Dropped;
    try {
        outcome = Dispatch();
    } catch (...) {
        ++m_snmpGroup.parseErrors;
        outcome = ERequestOutcome::Dropped;
    }
    m_ups = nullptr;
    m_servingNow = false;
    if (!m_deferredNow) // a kept SET is counted once it is served
        CountOutcome(outcome);
    return outcome;
}

void CSNMPAgent::SetSNMPv3(std::unique_ptr<usm::CSNMPv3Processor> processor)
{
    m_v3 = std::move(processor);
    BuildLocalObjects();
}

CSNMPAgent::ERequestOutcome CSNMPAgent::Dispatch()
{
    m_serving3 = false;
    m_request = std::span<std::uint8_t>(m_datagram.data.data(), m_datagram.length);
    CBasicEncodingRulesBuffer request(m_request);
    request.ReadHeader(ber::kSequence);
    std::int32_t version = request.ReadInteger();
    if (version == kSnmpVersion3 && m_v3)
        return DispatchV3();
    // A site that wants SNMPv3 only turns the community versions off.
    if ((m_v3 || m_v3Unavailable) && !m_version1)
        return ERequestOutcome::Dropped;
    auto community = request.ReadOctetStringView();
    if (version != kSnmpVersion1 && !(version == kSnmpVersion2c && m_version2c)) {
        ++m_snmpGroup.badVersions;
        return ERequestOutcome::Dropped;
    }
    m_version = version;
    bool getAllowed = SameCommunity(community, m_getCommunity);
    bool setAllowed = SameCommunity(community, m_setCommunity);
    if (!getAllowed && !setAllowed) {
        ++m_snmpGroup.badCommunityNames;
        return ERequestOutcome::AuthenticationFailure;
    }
    m_requestCommunity.assign(community.begin(), community.end());
    return ServePdu(request, setAllowed);
}

CSNMPAgent::ERequestOutcome CSNMPAgent::DispatchV3()
{
    usm::SIncomingV3& in = m_v3In;
    m_v3->Process(std::span<const std::uint8_t>(m_datagram.data.data(), m_datagram.length), in);
    std::span<std::uint8_t> out(m_datagram.data);
    switch (in.outcome) {
    case usm::EV3Outcome::Drop:
        return ERequestOutcome::Dropped;
    case usm::EV3Outcome::Report:
        m_datagram.length = static_cast<std::uint32_t>(m_v3->BuildReport(in.security, in.report, out));
        return ERequestOutcome::Answered;
    case usm::EV3Outcome::Accept:
        break;
    }
    // pvx serves this engine's default context only: another engine's, or a
    // context name, gets its Report (RFC 3412 section 4.2.2.1, RFC 3413
    // section 3.2) where the manager asked for reports.
    const bool otherEngine
        = !in.security.contextEngineId.empty() && in.security.contextEngineId != m_v3->EngineId();
    if (otherEngine || !in.security.contextName.empty()) {
        if (!in.security.reportable)
            return ERequestOutcome::Dropped;
        m_datagram.length = static_cast<std::uint32_t>(m_v3->BuildContextReport(in.security,
            otherEngine ? usm::EContextReport::UnknownPduHandlers : usm::EContextReport::UnknownContexts, out));
        return ERequestOutcome::Answered;
    }
    if (in.pdu.empty())
        return ERequestOutcome::Dropped;
    std::uint8_t tag = in.pdu.front();
    if (tag != ber::kGetRequest && tag != ber::kGetNextRequest && tag != ber::kGetBulkRequest
        && tag != ber::kSetRequest)
        return ERequestOutcome::Dropped;

    m_serving3 = true;
    m_version = kSnmpVersion3;
    m_v3MaxSize = in.security.maxSize;
    m_v3Response.clear();
    m_request = in.pdu;
    CBasicEncodingRulesBuffer request(m_request);
    const bool isSet = in.authorized && tag == ber::kSetRequest;
    ERequestOutcome outcome = ERequestOutcome::Answered;
    if (const auto* original = isSet ? m_v3Sets.Find(in.security, m_v3->EngineTime()) : nullptr) {
        m_v3Response = *original; // a copy of a SET already applied: answered, not applied again
    } else {
        // A message below the user's configured level is served nothing.
        outcome = in.authorized ? ServePdu(request, in.access == usm::EAccess::Write)
                                : BuildErrorReply(SNMP_AUTHORIZATION_ERROR, 0);
        if (outcome != ERequestOutcome::Answered)
            return outcome;
        if (isSet && !m_deferSets)
            m_v3Sets.Remember(in.security, m_v3Response, m_v3->EngineTime());
    }
    try {
        m_datagram.length = static_cast<std::uint32_t>(m_v3->BuildResponse(in.security, m_v3Response, out));
    } catch (const CPVXException& e) {
        if (e.GetCode() != EVENT_BER_BOUNDS)
            throw;
        // Too big for the manager's msgMaxSize: tooBig, without bindings.
        std::array<std::uint8_t, 64> pdu {};
        CBasicEncodingRulesBuffer tooBig(pdu);
        tooBig.SetMinimalLengths(true);
        std::size_t item = tooBig.BeginItem(ber::kGetResponse);
        tooBig.WriteInteger(in.security.requestId);
        tooBig.WriteInteger(SNMP_TOO_BIG);
        tooBig.WriteInteger(0);
        tooBig.EndItem(tooBig.BeginItem(ber::kSequence));
        tooBig.EndItem(item);
        m_datagram.length = static_cast<std::uint32_t>(m_v3->BuildResponse(in.security, tooBig.Written(), out));
    }
    return ERequestOutcome::Answered;
}
STrapDestination* CSNMPAgent::FindTrapDestination(const SIpAddress& address, bool create)
{
    if (!create)
        return m_trapDestinations.Find(address);
    STrapDestination* destination = m_trapDestinations.FindOrRegister(address);
    if (destination == nullptr) {
        // No place left: the SET fails with genErr and changes nothing.
        ++m_counters->snmpRegistrationsRefused;
        throw CPVXException(kRegistrationsFull);
    }
    return destination;
}

void CSNMPAgent::RemoveTrapDestination(const SIpAddress& address)
{
    m_trapDestinations.Remove(address);
}

std::int32_t CSNMPAgent::TrapLevelOf(const SIpAddress& address)
{
    const STrapDestination* destination = FindTrapDestination(address, false);
    return destination ? destination->trapLevel : 1;
}

std::int32_t CSNMPAgent::TrapTypeOf(const SIpAddress& address)
{
    const STrapDestination* destination = FindTrapDestination(address, false);
    return destination ? destination->trapType : 1;
}

} // namespace pvx
