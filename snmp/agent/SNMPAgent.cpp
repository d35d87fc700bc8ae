// Request processing of the SNMPv1 agent: set-up, the checks on every
// received message, Get, GetNext and Set, and the replies.
#include "snmp/agent/SNMPAgent.h"

#include "service/events/PVXException.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace pvx {

const COid kTrapLevelOid { 4, 1, 534, 1, 11, 1, 0 };
const COid kTrapTypeOid { 4, 1, 534, 1, 11, 2, 0 };

namespace {

// The PDUs and SEQUENCEs of replies and traps start with this placeholder
// length, patched once their contents are written.
constexpr std::uint32_t kMessagePlaceholder = static_cast<std::uint32_t>(kDatagramSize);

// GetNext of the trap-type object asks the tree for this name.
const COid kAfterTrapTypeOid { 4, 1, 534, 1, 2, 0 };

bool SameName(std::span<const std::uint32_t> name, const COid& oid)
{
    return std::ranges::equal(NameUpToZero(name), oid.Arcs());
}

// Communities are byte strings: equal length and equal bytes, so a received
// community holding a zero byte never matches a shorter configured one.
bool SameCommunity(std::span<const std::uint8_t> received, const std::string& configured)
{
    return std::ranges::equal(received, AsBytes(configured));
}

std::unique_ptr<CMIBData> MakeSigned(std::int32_t value, const COid& name)
{
    auto data = std::make_unique<CMIBData>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), MIB_SIGNED);
    data->SetName(name);
    return data;
}

std::int32_t GetStatusFor(std::uint32_t code)
{
    return code == EVENT_NO_SUCH_OBJECT ? SNMP_NO_SUCH_NAME : SNMP_GEN_ERR;
}

std::int32_t SetStatusFor(std::uint32_t code)
{
    switch (code) {
    case EVENT_NO_SUCH_OBJECT:
        return SNMP_NO_SUCH_NAME;
    case EVENT_READ_ONLY:
        return SNMP_READ_ONLY;
    case EVENT_BAD_VALUE:
        return SNMP_BAD_VALUE;
    default:
        return SNMP_GEN_ERR;
    }
}

} // namespace

CSNMPAgent::CSNMPAgent(std::uint16_t agentPort, std::uint16_t managerPort, std::uint32_t trapHost,
    std::uint32_t sourceAddress, std::string getCommunity, std::string setCommunity, std::string trapCommunity)
    : m_agentPort(agentPort)
    , m_managerPort(managerPort)
    , m_getCommunity(std::move(getCommunity))
    , m_setCommunity(std::move(setCommunity))
    , m_trapCommunity(std::move(trapCommunity))
{
    if (trapHost != 0)
        m_trapDestinations.push_back({ trapHost, m_managerPort, 1, 1 });

    // Traps name the agent by the address its host name resolves to, unless
    // the configuration pins a source address.
    if (sourceAddress == 0) {
        std::string hostName;
        std::uint32_t resolved = 0;
        if (GetHostName(hostName) && ResolveHost(hostName, resolved))
            m_agentAddress = resolved;
    } else {
        m_agentAddress = sourceAddress;
    }

    m_socket = CreateSocket(2, 1, 0);
    if (!m_socket)
        throw CPVXException(EVENT_SOCKET_CREATE);
    if (!SetSocketBlocking(m_socket.Get(), false))
        throw CPVXException(EVENT_SOCKET_NONBLOCKING);
    if (!BindSocket(m_socket.Get(), m_agentPort, sourceAddress))
        throw CPVXException(EVENT_SOCKET_BIND);

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
    return WaitReadable(m_socket.Get(), 0) > 0;
}

void CSNMPAgent::ServeRequest(CAbstractUPS* ups)
{
    // One bad request must never stop the service loop: every failure ends
    // here, without a word in the log.
    try {
        if (!ReceiveFrom(m_socket.Get(), m_datagram))
            return;
        switch (ProcessRequest(ups)) {
        case ERequestOutcome::Answered:
            SendTo(m_socket.Get(), m_datagram);
            break;
        case ERequestOutcome::AuthenticationFailure:
            SendAuthenticationFailure();
            break;
        case ERequestOutcome::Dropped:
            break;
        }
    } catch (...) {
    }
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ProcessRequest(CAbstractUPS* ups)
{
    m_ups = ups;
    ERequestOutcome outcome = ERequestOutcome::Dropped;
    try {
        outcome = Dispatch();
    } catch (...) {
        outcome = ERequestOutcome::Dropped;
    }
    m_ups = nullptr;
    return outcome;
}

CSNMPAgent::ERequestOutcome CSNMPAgent::Dispatch()
{
    CBasicEncodingRulesBuffer request(m_datagram.data.data(), m_datagram.length);
    request.ReadHeader(ber::kSequence);
    std::int32_t version = request.ReadInteger();
    auto community = request.ReadOctetStringView();
    if (version != 0)
        return ERequestOutcome::Dropped;
    bool getAllowed = SameCommunity(community, m_getCommunity);
    bool setAllowed = SameCommunity(community, m_setCommunity);
    if (!getAllowed && !setAllowed)
        return ERequestOutcome::AuthenticationFailure;
    m_requestCommunity.assign(community.begin(), community.end());

    m_pduType = request.ReadByte();
    switch (m_pduType) {
    case ber::kGetRequest:
    case ber::kGetNextRequest:
        return ServeGet(request);
    case ber::kSetRequest:
        if (!setAllowed)
            return ERequestOutcome::AuthenticationFailure;
        return ServeSet(request);
    default:
        return ERequestOutcome::Dropped;
    }
}

bool CSNMPAgent::ReadPduHeader(CBasicEncodingRulesBuffer& request)
{
    if (request.ReadHeader(0) != request.Remaining())
        return false;
    m_requestId = request.ReadInteger();
    request.ReadInteger(); // error-status
    request.ReadInteger(); // error-index
    return true;
}

bool CSNMPAgent::ReadBindingListHeader(CBasicEncodingRulesBuffer& request)
{
    return request.ReadHeader(ber::kSequence) == request.Remaining();
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ServeGet(CBasicEncodingRulesBuffer& request)
{
    if (!ReadPduHeader(request))
        return ERequestOutcome::Dropped;
    if (m_ups == nullptr)
        return BuildErrorReply(SNMP_GEN_ERR, 0);
    if (!ReadBindingListHeader(request))
        return ERequestOutcome::Dropped;
    m_values.clear();

    bool next = m_pduType == ber::kGetNextRequest;
    std::int32_t index = 0; // SNMPv1 error index counts from 1
    try {
        while (request.Remaining() > 2) {
            ++index;
            std::uint32_t length = request.ReadHeader(ber::kSequence);
            // A binding that claims more than the data holds is skipped; what
            // follows its header is read as the next binding.
            if (length > request.Remaining())
                continue;
            std::size_t end = request.Position() + length;
            SRequestName name = request.ReadRequestName(m_nameArcs);
            if (request.Position() > end)
                throw CPVXException(EVENT_BER_MALFORMED);
            request.SetPosition(end); // the value of a Get binding is not looked at
            m_values.push_back(GetValue(name, next));
        }
    } catch (const CPVXException& e) {
        return BuildErrorReply(GetStatusFor(e.GetCode()), index);
    } catch (const std::exception&) {
        return BuildErrorReply(SNMP_GEN_ERR, index);
    }
    return BuildReply();
}

std::unique_ptr<CMIBData> CSNMPAgent::GetValue(const SRequestName& requested, bool next)
{
    // Every served object lies under 1.3.6.1: a name before it is followed
    // by the first object, a name after it by nothing.
    static const std::uint32_t kInternet[] = { 0 };
    if (requested.place == ENamePlace::AfterInternet || (requested.place == ENamePlace::BeforeInternet && !next))
        throw CPVXException(EVENT_NO_SUCH_OBJECT);
    std::span<const std::uint32_t> name
        = requested.place == ENamePlace::BeforeInternet ? std::span(kInternet) : NameUpToZero(requested.terminated);
    std::uint32_t manager = m_datagram.address;
    if (SameName(name, kTrapLevelOid)) {
        // GetNext of the trap level answers the object after it, the trap type.
        if (next)
            return MakeSigned(TrapTypeOf(manager), kTrapTypeOid);
        return MakeSigned(TrapLevelOf(manager), kTrapLevelOid);
    }
    if (SameName(name, kTrapTypeOid)) {
        if (!next)
            return MakeSigned(TrapTypeOf(manager), kTrapTypeOid);
        name = kAfterTrapTypeOid.Arcs();
        next = false;
    }
    auto value = m_ups->GetMIBData(name, next);
    if (!value)
        throw CPVXException(EVENT_NO_SUCH_OBJECT);
    return value;
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ServeSet(CBasicEncodingRulesBuffer& request)
{
    if (!ReadPduHeader(request))
        return ERequestOutcome::Dropped;
    if (m_ups == nullptr)
        return BuildErrorReply(SNMP_GEN_ERR, 0);
    if (!ReadBindingListHeader(request))
        return ERequestOutcome::Dropped;
    m_values.clear();

    std::int32_t index = 0;
    try {
        while (request.Remaining() > 2) {
            ++index;
            std::uint32_t length = request.ReadHeader(ber::kSequence);
            if (length > request.Remaining())
                continue;
            std::size_t end = request.Position() + length;
            auto value = request.ReadVarBind();
            if (request.Position() > end)
                throw CPVXException(EVENT_BER_MALFORMED);
            request.SetPosition(end);
            m_values.push_back(std::move(value));
            // Bindings applied before a failing one stay applied: SNMPv1
            // sets are not rolled back here.
            SetValue(*m_values.back());
        }
    } catch (const CPVXException& e) {
        return BuildErrorReply(SetStatusFor(e.GetCode()), index);
    } catch (const std::exception&) {
        return BuildErrorReply(SNMP_GEN_ERR, index);
    }
    return BuildReply();
}

void CSNMPAgent::SetValue(CMIBData& value)
{
    std::uint32_t manager = m_datagram.address;
    const COid& name = *value.GetName();
    if (name == kTrapLevelOid) {
        // Level 1 is what a manager without a record gets, so setting it
        // drops the record. A value that is not an INTEGER reads as 0.
        if (value.GetInteger() == 1)
            RemoveTrapDestination(manager);
        else
            FindTrapDestination(manager, true)->trapLevel = value.GetInteger();
    } else if (name == kTrapTypeOid) {
        FindTrapDestination(manager, true)->trapType = value.GetInteger();
    } else {
        m_ups->SetMIBData(value);
    }
}

CSNMPAgent::ERequestOutcome CSNMPAgent::BuildReply()
{
    std::array<std::uint8_t, kDatagramSize> reply;
    CBasicEncodingRulesBuffer out(reply);
    try {
        std::size_t message = out.BeginItem(ber::kSequence, kMessagePlaceholder);
        out.WriteInteger(0);
        out.WriteOctetString(m_requestCommunity);
        std::size_t pdu = out.BeginItem(ber::kGetResponse, kMessagePlaceholder);
        out.WriteInteger(m_requestId);
        out.WriteInteger(SNMP_NO_ERROR);
        out.WriteInteger(0);
        std::size_t list = out.BeginItem(ber::kSequence, kMessagePlaceholder);
        for (const auto& value : m_values)
            out.WriteVarBind(*value);
        // The datagram ends where the message ends: strict managers reject
        // any byte after it.
        out.EndItem(list);
        out.EndItem(pdu);
        out.EndItem(message);
    } catch (const CPVXException& e) {
        return BuildErrorReply(e.GetCode() == EVENT_BER_BOUNDS ? SNMP_TOO_BIG : SNMP_GEN_ERR, 0);
    }
    auto bytes = out.Written();
    std::copy(bytes.begin(), bytes.end(), m_datagram.data.begin());
    m_datagram.length = static_cast<std::uint32_t>(bytes.size());
    return ERequestOutcome::Answered;
}

CSNMPAgent::ERequestOutcome CSNMPAgent::BuildErrorReply(std::int32_t status, std::int32_t index)
{
    // The request itself becomes the reply: same size, same bindings, only
    // the PDU tag, error-status and error-index change.
    CBasicEncodingRulesBuffer message(m_datagram.data.data(), m_datagram.length);
    message.ReadHeader(ber::kSequence);
    message.ReadInteger();
    message.ReadOctetStringView();
    message.WriteByte(ber::kGetResponse);
    message.ReadLength();
    message.ReadInteger(); // request-id
    message.OverwriteInteger(status);
    message.OverwriteInteger(index);
    return ERequestOutcome::Answered;
}

STrapDestination* CSNMPAgent::FindTrapDestination(std::uint32_t address, bool create)
{
    auto found = std::ranges::find(m_trapDestinations, address, &STrapDestination::address);
    if (found != m_trapDestinations.end())
        return &*found;
    if (!create)
        return nullptr;
    m_trapDestinations.push_back({ address, m_managerPort, 1, 1 });
    return &m_trapDestinations.back();
}

void CSNMPAgent::RemoveTrapDestination(std::uint32_t address)
{
    auto found = std::ranges::find(m_trapDestinations, address, &STrapDestination::address);
    if (found != m_trapDestinations.end())
        m_trapDestinations.erase(found);
}

std::int32_t CSNMPAgent::TrapLevelOf(std::uint32_t address)
{
    const STrapDestination* destination = FindTrapDestination(address, false);
    return destination ? destination->trapLevel : 1;
}

std::int32_t CSNMPAgent::TrapTypeOf(std::uint32_t address)
{
    const STrapDestination* destination = FindTrapDestination(address, false);
    return destination ? destination->trapType : 1;
}

} // namespace pvx
