// The PDU handling the SNMP versions share: Get, GetNext, GetBulk and Set
// against the object tree, the error codes mapped per version in one place,
// and the replies.
#include "snmp/agent/SNMPAgent.h"

#include "events/PVXException.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "ups/AbstractUPS.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace pvx {

namespace {

// The PDUs and SEQUENCEs of replies and traps start with this placeholder
// length, patched once their contents are written.
constexpr std::uint32_t kMessagePlaceholder = static_cast<std::uint32_t>(kDatagramSize);

// An SNMPv3 response PDU leaves this much of the datagram to the message
// around it (header, security parameters, scoped PDU), so that a GetBulk
// reply cut to fit still fits once secured.
constexpr std::size_t kV3MessageOverhead = 256;

// A system error number (no space left): a registration beyond the bound
// fails with genErr, as SetValue's does.
constexpr std::uint32_t kRegistrationsFull = ENOSPC;

// How a failure of the object tree reaches the manager, per message version:
// SNMPv1's few statuses, or SNMPv2's (RFC 3416) for sets. Reads in SNMPv2c
// turn "no such" failures into exception values instead (ExceptionFor).
std::int32_t ErrorStatusFor(std::uint32_t code, bool set, std::int32_t version)
{
    if (version == kSnmpVersion1) {
        switch (code) {
        case EVENT_NO_SUCH_OBJECT:
        case EVENT_NO_SUCH_INSTANCE:
            return SNMP_NO_SUCH_NAME;
        case EVENT_READ_ONLY:
            return set ? SNMP_READ_ONLY : SNMP_GEN_ERR;
        case EVENT_BAD_VALUE:
        case EVENT_WRONG_TYPE:
        case EVENT_WRONG_LENGTH:
        case EVENT_INCONSISTENT_VALUE:
            return set ? SNMP_BAD_VALUE : SNMP_GEN_ERR;
        default:
            return SNMP_GEN_ERR;
        }
    }
    if (!set)
        return SNMP_GEN_ERR;
    switch (code) {
    case EVENT_NO_SUCH_OBJECT: // nothing by that name can ever be written
    case EVENT_READ_ONLY:
        return SNMP_NOT_WRITABLE;
    case EVENT_NO_SUCH_INSTANCE: // the object exists, the instance cannot be made
        return SNMP_NO_CREATION;
    case EVENT_BAD_VALUE:
        return SNMP_WRONG_VALUE;
    case EVENT_WRONG_TYPE:
        return SNMP_WRONG_TYPE;
    case EVENT_WRONG_LENGTH:
        return SNMP_WRONG_LENGTH;
    case EVENT_INCONSISTENT_VALUE:
        return SNMP_INCONSISTENT_VALUE;
    default:
        return SNMP_GEN_ERR;
    }
}

// A value of a type that SNMP knows but no writable object takes: the
// binding is well formed, its value is of the wrong type (RFC 3416 4.2.5).
bool IsOtherSnmpType(std::uint8_t tag)
{
    switch (tag) {
    case ber::kNull:
    case ber::kIpAddress:
    case 0x41: // Counter32
    case 0x42: // Gauge32
    case ber::kTimeTicks:
    case 0x44: // Opaque
    case 0x46: // Counter64
        return true;
    default:
        return false;
    }
}

// The SNMPv2 exception value a failed read becomes, or 0 when it stays an
// error. GET-NEXT and GetBulk have only endOfMibView.
std::uint8_t ExceptionFor(std::uint32_t code, bool next)
{
    if (code != EVENT_NO_SUCH_OBJECT && code != EVENT_NO_SUCH_INSTANCE)
        return 0;
    if (next)
        return ber::kEndOfMibView;
    return code == EVENT_NO_SUCH_OBJECT ? ber::kNoSuchObject : ber::kNoSuchInstance;
}

} // namespace

// Builds a GetResponse binding by binding in a datagram-sized array, so that
// GetBulk can stop at the first binding that no longer fits.
class CSNMPAgent::CReplyWriter {
public:
    explicit CReplyWriter(CSNMPAgent& agent, std::int32_t status = SNMP_NO_ERROR)
        : m_agent(agent)
    {
        // SNMPv3 replies are bare PDUs: the message layer secures them, in
        // minimal lengths throughout, which strict stacks need to verify them.
        m_out.SetMinimalLengths(agent.m_serving3);
        if (!agent.m_serving3) {
            m_message = m_out.BeginItem(ber::kSequence, kMessagePlaceholder);
            m_out.WriteInteger(agent.m_version);
            m_out.WriteOctetString(agent.m_requestCommunity);
        }
        m_pdu = m_out.BeginItem(ber::kGetResponse, kMessagePlaceholder);
        m_out.WriteInteger(agent.m_requestId);
        m_out.WriteInteger(status);
        m_out.WriteInteger(0);
        m_list = m_out.BeginItem(ber::kSequence, kMessagePlaceholder);
    }

    // False, with nothing of the binding written, when it does not fit.
    bool Add(const SReplyBinding& binding)
    {
        std::size_t before = m_out.Position();
        try {
            if (binding.exception != 0)
                m_out.WriteExceptionVarBind(binding.receivedName, binding.arcs.Span(), binding.exception);
            else
                m_out.WriteVarBind(*binding.value);
        } catch (const CPVXException& e) {
            if (e.GetCode() != EVENT_BER_BOUNDS)
                throw;
            m_out.SetPosition(before);
            return false;
        }
        return true;
    }

    // The datagram ends where the message ends: strict managers reject any
    // byte after it.
    ERequestOutcome Finish()
    {
        m_out.EndItem(m_list);
        m_out.EndItem(m_pdu);
        auto bytes = m_out.Written();
        if (m_agent.m_serving3) {
            m_agent.m_v3Response.assign(bytes.begin(), bytes.end());
            return ERequestOutcome::Answered;
        }
        m_out.EndItem(m_message);
        bytes = m_out.Written();
        std::copy(bytes.begin(), bytes.end(), m_agent.m_datagram.data.begin());
        m_agent.m_datagram.length = static_cast<std::uint32_t>(bytes.size());
        return ERequestOutcome::Answered;
    }

private:
    CSNMPAgent& m_agent;
    std::array<std::uint8_t, kDatagramSize> m_reply;
    CBasicEncodingRulesBuffer m_out { std::span(m_reply).first(Capacity(m_agent)) };

    // An SNMPv3 reply must fit the manager's msgMaxSize once secured, so that
    // a GetBulk is cut to fit rather than answered tooBig (RFC 3416 4.2.3).
    static std::size_t Capacity(const CSNMPAgent& agent)
    {
        if (!agent.m_serving3)
            return kDatagramSize;
        const std::size_t message
            = std::min<std::size_t>(kDatagramSize, static_cast<std::size_t>(std::max(agent.m_v3MaxSize, 0)));
        return message > kV3MessageOverhead ? message - kV3MessageOverhead : 0;
    }
    std::size_t m_message = 0, m_pdu = 0, m_list = 0;
};
CSNMPAgent::ERequestOutcome CSNMPAgent::ServePdu(CBasicEncodingRulesBuffer& request, bool setAllowed)
{
    m_pduType = request.ReadByte();
    switch (m_pduType) {
    case ber::kGetRequest:
    case ber::kGetNextRequest:
        return ServeGet(request);
    case ber::kGetBulkRequest:
        if (m_version == kSnmpVersion1)
            return ERequestOutcome::Dropped;
        return ServeBulk(request);
    case ber::kSetRequest:
        if (m_serving3) {
            // The source lists first, as for the other versions; then the
            // user's access: a read user's Set is an authorizationError.
            if (!AdmitsSetSource())
                return ERequestOutcome::Refused;
            if (!setAllowed)
                return BuildErrorReply(SNMP_AUTHORIZATION_ERROR, 0);
            return m_deferSets ? DeferSet() : ServeSet(request);
        }
        if (!setAllowed) {
            ++m_snmpGroup.badCommunityUses;
            return ERequestOutcome::AuthenticationFailure;
        }
        if (!AdmitsSetSource())
            return ERequestOutcome::Refused;
        return m_deferSets ? DeferSet() : ServeSet(request);
    default:
        return ERequestOutcome::Dropped;
    }
}

bool CSNMPAgent::ReadPduHeader(CBasicEncodingRulesBuffer& request)
{
    if (request.ReadHeader(0) != request.Remaining())
        return false;
    m_requestId = request.ReadInteger();
    m_errorStatusField = request.ReadInteger();
    m_errorIndexField = request.ReadInteger();
    return true;
}

bool CSNMPAgent::ReadBindingListHeader(CBasicEncodingRulesBuffer& request)
{
    return request.ReadHeader(ber::kSequence) == request.Remaining();
}

std::optional<CSNMPAgent::ERequestOutcome> CSNMPAgent::BeginPdu(CBasicEncodingRulesBuffer& request)
{
    if (!ReadPduHeader(request))
        return ERequestOutcome::Dropped;
    if (m_ups == nullptr)
        return BuildErrorReply(SNMP_GEN_ERR, 0);
    if (!ReadBindingListHeader(request))
        return ERequestOutcome::Dropped;
    m_bindings.clear();
    return std::nullopt;
}

bool CSNMPAgent::ReadBindingName(CBasicEncodingRulesBuffer& request, SBindingName& binding)
{
    binding.start = request.Position();
    std::uint32_t length = request.ReadHeader(ber::kSequence);
    // A binding that claims more than the data holds is skipped; what
    // follows its header is read as the next binding.
    if (length > request.Remaining())
        return false;
    binding.end = request.Position() + length;
    std::size_t nameStart = request.Position();
    binding.name = request.ReadRequestName(m_nameArcs);
    if (request.Position() > binding.end)
        throw CPVXException(EVENT_BER_MALFORMED);
    binding.received = std::span<const std::uint8_t>(m_request).subspan(nameStart, request.Position() - nameStart);
    return true;
}

bool CSNMPAgent::NextBindingName(CBasicEncodingRulesBuffer& request, std::int32_t& index, SBindingName& binding)
{
    while (request.Remaining() > 2) {
        ++index;
        if (ReadBindingName(request, binding))
            return true;
    }
    return false;
}

CSNMPAgent::SReplyBinding CSNMPAgent::ReadBinding(
    const SRequestName& name, std::span<const std::uint8_t> receivedName, bool next)
{
    SReplyBinding binding;
    try {
        binding.value = GetValue(name, next);
    } catch (const CPVXException& e) {
        std::uint8_t exception = ExceptionFor(e.GetCode(), next);
        if (m_version == kSnmpVersion1 || exception == 0)
            throw;
        binding.exception = exception;
        binding.receivedName = receivedName;
        binding.arcs.Assign(name.arcs);
    }
    return binding;
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ServeGet(CBasicEncodingRulesBuffer& request)
{
    if (auto outcome = BeginPdu(request))
        return *outcome;

    bool next = m_pduType == ber::kGetNextRequest;
    std::int32_t index = 0; // the error index counts from 1
    try {
        SBindingName read;
        while (NextBindingName(request, index, read)) {
            request.SetPosition(read.end); // the value of a Get binding is not looked at
            m_bindings.push_back(ReadBinding(read.name, read.received, next));
        }
    } catch (const CPVXException& e) {
        return BuildErrorReply(ErrorStatusFor(e.GetCode(), false, m_version), index);
    } catch (const std::exception&) {
        return BuildErrorReply(SNMP_GEN_ERR, index);
    }
    return BuildReply();
}

std::unique_ptr<CMIBData> CSNMPAgent::GetValue(const SRequestName& requested, bool next)
{
    // Every served object lies under 1.3.6.1: a name before it is followed
    // by the first object, a name after it by nothing.
    if (requested.place == ENamePlace::AfterInternet || (requested.place == ENamePlace::BeforeInternet && !next))
        throw CPVXException(EVENT_NO_SUCH_OBJECT);
    std::span<const std::uint32_t> arcs = requested.arcs;
    auto fromTree = [this, arcs, next] {
        auto value = m_ups->GetInstance(arcs, next);
        if (!value)
            throw CPVXException(EVENT_NO_SUCH_OBJECT);
        return value;
    };
    if (!next) {
        if (const SLocalObject* local = FindLocal(requested))
            return LocalValue(*local);
        return fromTree();
    }
    // The agent's own objects lie before the tree (the system and snmp
    // groups), just after its last object (the trap-control objects) and
    // after the vendor subtree (snmpEngine, usmStats): a walk meets each once,
    // in name order, and GET and walk agree.
    static constexpr std::uint32_t kTreeStart[] = { 2, 1, 33 };
    static constexpr std::uint32_t kLastTreeObject[] = { 4, 1, 534, 1, 10, 5 };
    static constexpr std::uint32_t kAfterTree[] = { 4, 1, 534, 1, 11 };
    const SLocalObject* after = NextLocal(arcs);
    if (after && std::ranges::lexicographical_compare(after->name, kTreeStart))
        return LocalValue(*after);
    if (std::ranges::lexicographical_compare(arcs, kAfterTree)) {
        try {
            return fromTree();
        } catch (const CPVXException& e) {
            // Past the tree's last object the walk goes on here; elsewhere
            // the tree's answer stands (the vendor naming does not skip
            // forward over names it does not know).
            if (e.GetCode() != EVENT_NO_SUCH_OBJECT || std::ranges::lexicographical_compare(arcs, kLastTreeObject))
                throw;
        }
    }
    if (after)
        return LocalValue(*after);
    throw CPVXException(EVENT_NO_SUCH_OBJECT);
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ServeBulk(CBasicEncodingRulesBuffer& request)
{
    if (auto outcome = BeginPdu(request))
        return *outcome;

    std::vector<SBulkStart>& starts = m_bulkStarts;
    starts.clear();
    try {
        while (request.Remaining() > 2) {
            SBindingName read;
            if (!ReadBindingName(request, read))
                continue;
            request.SetPosition(read.end);
            SBulkStart start;
            start.name = read.name;
            start.receivedName = read.received;
            start.arcs.Assign(start.name.terminated);
            starts.push_back(std::move(start));
        }
    } catch (const CPVXException&) {
        return BuildErrorReply(SNMP_GEN_ERR, static_cast<std::int32_t>(starts.size() + 1));
    }
    const std::size_t nonRepeaters = std::min<std::size_t>(std::max(m_errorStatusField, 0), starts.size());
    const std::int32_t maxRepetitions = std::max(m_errorIndexField, 0);

    // The name of a binding as the manager would ask for what follows it.
    auto nameOf = [](const SReplyBinding& binding, SBulkStart& start) {
        if (binding.exception != 0)
            return;
        const CMIBData& value = *binding.value;
        auto wire = value.GetInstanceName().empty() ? value.GetName()->Arcs() : value.GetInstanceName();
        start.arcs.Assign(wire);
        start.arcs.PushBack(0);
        start.name.place = ENamePlace::Internet;
        start.name.arcs = start.arcs.Span().first(wire.size());
        start.name.terminated = start.arcs.Span();
        start.receivedName = {};
    };
    // The views are taken once the list has stopped growing.
    for (SBulkStart& start : starts) {
        const auto arcs = start.arcs.Span();
        start.name.arcs = arcs.first(arcs.empty() ? 0 : arcs.size() - 1);
        start.name.terminated = arcs;
    }

    CReplyWriter writer(*this);
    std::size_t index = 0;
    try {
        // The reply holds as many bindings as fit: GetBulk is never tooBig.
        for (index = 0; index < nonRepeaters; ++index)
            if (!writer.Add(ReadBinding(starts[index].name, starts[index].receivedName, true)))
                return writer.Finish();
        for (std::int32_t round = 0; round < maxRepetitions && nonRepeaters < starts.size(); ++round) {
            bool allEnded = true;
            for (index = nonRepeaters; index < starts.size(); ++index) {
                SReplyBinding binding = ReadBinding(starts[index].name, starts[index].receivedName, true);
                allEnded = allEnded && binding.exception != 0;
                nameOf(binding, starts[index]);
                if (!writer.Add(binding))
                    return writer.Finish();
            }
            if (allEnded)
                break;
        }
    } catch (const CPVXException& e) {
        return BuildErrorReply(ErrorStatusFor(e.GetCode(), false, m_version), static_cast<std::int32_t>(index + 1));
    } catch (const std::exception&) {
        return BuildErrorReply(SNMP_GEN_ERR, static_cast<std::int32_t>(index + 1));
    }
    return writer.Finish();
}

CSNMPAgent::ERequestOutcome CSNMPAgent::ServeSet(CBasicEncodingRulesBuffer& request)
{
    if (auto outcome = BeginPdu(request))
        return *outcome;

    // Every binding is read first, then every one is checked, and only then
    // is anything applied: a set is all or nothing (RFC 3416 section 4.2.5).
    struct SSetName {
        std::int32_t index; // the error index counts from 1, skipped bindings too
        std::vector<std::uint32_t> arcs;
    };
    std::vector<SSetName> names;
    std::int32_t index = 0;
    try {
        SBindingName read;
        while (NextBindingName(request, index, read)) {
            const SRequestName& name = read.name;
            if (name.place != ENamePlace::Internet || name.arcs.empty())
                throw CPVXException(EVENT_NO_SUCH_OBJECT);
            if (IsOtherSnmpType(request.PeekByte()))
                throw CPVXException(EVENT_WRONG_TYPE);
            // The value is read from the binding's start again, name and all.
            request.SetPosition(read.start);
            request.ReadHeader(ber::kSequence);
            std::unique_ptr<CMIBData> value;
            try {
                value = request.ReadVarBind();
            } catch (const CPVXException& e) {
                // SNMPv2c: a value of a type no object takes is wrongType.
                if (m_version != kSnmpVersion1 && e.GetCode() == EVENT_BER_MALFORMED)
                    return BuildErrorReply(SNMP_WRONG_TYPE, index);
                throw;
            }
            if (request.Position() > read.end)
                throw CPVXException(EVENT_BER_MALFORMED);
            request.SetPosition(read.end);
            SReplyBinding binding;
            binding.value = std::move(value);
            m_bindings.push_back(std::move(binding));
            names.push_back({ index, std::vector<std::uint32_t>(name.arcs.begin(), name.arcs.end()) });
        }
    } catch (const CPVXException& e) {
        return BuildErrorReply(ErrorStatusFor(e.GetCode(), true, m_version), index);
    } catch (const std::exception&) {
        return BuildErrorReply(SNMP_GEN_ERR, index);
    }

    struct SSetScope {
        CAbstractUPS& ups;
        explicit SSetScope(CAbstractUPS& u)
            : ups(u)
        {
            ups.BeginSet();
        }
        ~SSetScope() { ups.EndSet(); }
        SSetScope(const SSetScope&) = delete;
        SSetScope& operator=(const SSetScope&) = delete;
    } scope(*m_ups);
    std::size_t i = 0;
    try {
        CTrapDestinations destinations = m_trapDestinations;
        for (i = 0; i < names.size(); ++i)
            CheckValue(*m_bindings[i].value, names[i].arcs, destinations);
    } catch (const CPVXException& e) {
        return BuildErrorReply(ErrorStatusFor(e.GetCode(), true, m_version), names[i].index);
    } catch (const std::exception&) {
        return BuildErrorReply(SNMP_GEN_ERR, names[i].index);
    }
    const CTrapDestinations saved = m_trapDestinations;
    m_localUndo.clear();
    try {
        for (i = 0; i < names.size(); ++i)
            SetValue(*m_bindings[i].value, names[i].arcs);
    } catch (...) {
        // Every check passed, yet applying failed (the UPS refused): undo
        // what was applied, and say whether that worked.
        bool undone = m_ups->UndoSet();
        for (auto step = m_localUndo.rbegin(); step != m_localUndo.rend(); ++step) {
            try {
                (*step)();
            } catch (...) {
                undone = false;
            }
        }
        m_localUndo.clear();
        m_trapDestinations = saved;
        const std::int32_t status = undone ? SNMP_COMMIT_FAILED : SNMP_UNDO_FAILED;
        return BuildErrorReply(m_version == kSnmpVersion1 ? SNMP_GEN_ERR : status, names[i].index);
    }
    return BuildReply();
}

void CSNMPAgent::CheckValue(CMIBData& value, std::span<const std::uint32_t> arcs, CTrapDestinations& destinations)
{
    SRequestName requested { ENamePlace::Internet, arcs, {} };
    const SLocalObject* local = FindLocal(requested);
    if (local && local->text >= 0) {
        // sysContact, sysName, sysLocation: a DisplayString (RFC 2579) that
        // becomes one line of pvx.ini.
        const std::string& text = value.GetText();
        if (value.GetKind() != MIB_TEXT)
            throw CPVXException(EVENT_WRONG_TYPE);
        if (text.size() > kMIBTextMax)
            throw CPVXException(EVENT_WRONG_LENGTH);
        if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw CPVXException(EVENT_BAD_VALUE);
        return;
    }
    if (local && !local->anySuffix)
        throw CPVXException(EVENT_READ_ONLY);
    const COid& name = *value.GetName();
    if (name == kTrapLevelOid || name == kTrapTypeOid) {
        if (value.GetKind() != MIB_SIGNED)
            throw CPVXException(EVENT_WRONG_TYPE);
        // Level 1 drops the manager's record; anything else needs one.
        if (name == kTrapLevelOid && value.GetInteger() == 1) {
            destinations.Remove(m_datagram.address);
        } else if ((m_notify.version == ETrapVersion::V1 && !m_datagram.address.IsIPv4())
                   || destinations.FindOrRegister(m_datagram.address) == nullptr) {
            // Nor can an IPv6 manager register for SNMPv1 traps, which it
            // would never receive.
            ++m_counters->snmpRegistrationsRefused;
            throw CPVXException(kRegistrationsFull);
        }
        return;
    }
    m_ups->CheckInstance(arcs, value);
}

void CSNMPAgent::SetValue(CMIBData& value, std::span<const std::uint32_t> arcs)
{
    SRequestName requested { ENamePlace::Internet, arcs, {} };
    if (const SLocalObject* local = FindLocal(requested); local && local->text >= 0) {
        const auto i = static_cast<std::size_t>(local->text);
        auto& texts = m_systemGroup->texts;
        auto store = [this, i](const std::string& text) {
            if (m_systemGroup->store && !m_systemGroup->store(i, text))
                throw CPVXException(EIO);
            m_systemGroup->texts[i] = text;
        };
        const std::string old = texts[i];
        store(value.GetText());
        m_localUndo.push_back([store, old] { store(old); });
        return;
    }
    const SIpAddress manager = m_datagram.address;
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
        m_ups->SetInstance(arcs, value);
    }
}

CSNMPAgent::ERequestOutcome CSNMPAgent::BuildReply()
{
    try {
        CReplyWriter writer(*this);
        for (const auto& binding : m_bindings)
            if (!writer.Add(binding))
                return BuildTooBig();
        return writer.Finish();
    } catch (const CPVXException& e) {
        if (e.GetCode() == EVENT_BER_BOUNDS)
            return BuildTooBig();
        return BuildErrorReply(SNMP_GEN_ERR, 0);
    }
}

CSNMPAgent::ERequestOutcome CSNMPAgent::BuildTooBig()
{
    // SNMPv1 (RFC 1157 4.1.2) answers with the request's own bindings; SNMPv2
    // and later (RFC 3416 4.2.1) with none, which always fits.
    if (m_version == kSnmpVersion1)
        return BuildErrorReply(SNMP_TOO_BIG, 0);
    return CReplyWriter(*this, SNMP_TOO_BIG).Finish();
}

CSNMPAgent::ERequestOutcome CSNMPAgent::BuildErrorReply(std::int32_t status, std::int32_t index)
{
    // The request itself becomes the reply: same size, same bindings, only
    // the PDU tag, error-status and error-index change.
    CBasicEncodingRulesBuffer message(m_request);
    if (!m_serving3) {
        message.ReadHeader(ber::kSequence);
        message.ReadInteger();
        message.ReadOctetStringView();
    }
    message.WriteByte(ber::kGetResponse);
    message.ReadLength();
    message.ReadInteger(); // request-id
    message.OverwriteInteger(status);
    message.OverwriteInteger(index);
    if (m_serving3)
        m_v3Response.assign(m_request.begin(), m_request.end());
    return ERequestOutcome::Answered;
}

} // namespace pvx
