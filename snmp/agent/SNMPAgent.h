// CSNMPAgent: the SNMP agent, SNMPv1 and (when enabled) SNMPv2c with the same
// communities, and SNMPv3 through its message layer when one is attached. It answers Get, GetNext, GetBulk (v2c) and Set requests from
// the UPS object's MIB tree, keeps the list of trap destinations and sends the
// agent's own traps and those the UPS object queues.
#pragma once

#include "config/AddressList.h"
#include "events/NetworkCounters.h"
#include "platform/Portability.h"
#include "snmp/agent/AuthFailureLimiter.h"
#include "snmp/agent/SetReplayCache.h"
#include "snmp/agent/InformQueue.h"
#include "snmp/agent/TrapDestinations.h"
#include "snmp/ber/BasicEncodingRulesBuffer.h"
#include "snmp/usm/SNMPv3Message.h"
#include "snmp/values/MIBData.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pvx {

class CAbstractUPS;

// Error-status values: SNMPv1's (0 to 5) and the SNMPv2 ones the agent uses.
enum ESNMPErrorStatus : std::int32_t {
    SNMP_NO_ERROR = 0,
    SNMP_TOO_BIG = 1,
    SNMP_NO_SUCH_NAME = 2,
    SNMP_BAD_VALUE = 3,
    SNMP_READ_ONLY = 4,
    SNMP_GEN_ERR = 5,
    SNMP_WRONG_TYPE = 7,
    SNMP_WRONG_LENGTH = 8,
    SNMP_WRONG_VALUE = 10,
    SNMP_NO_CREATION = 11,
    SNMP_INCONSISTENT_VALUE = 12,
    SNMP_COMMIT_FAILED = 14,
    SNMP_UNDO_FAILED = 15,
    SNMP_AUTHORIZATION_ERROR = 16,
    SNMP_NOT_WRITABLE = 17,
};

// SNMP/TrapVersion, SNMP/TrapInform and SNMP/TrapUser as the agent sends its
// notifications: SNMPv1 Trap-PDUs, or SNMPv2-Trap-PDUs or InformRequests in
// SNMPv2c (the trap community) or SNMPv3 (one of the SNMPv3 processor's users).
enum class ETrapVersion { V1, V2c, V3 };
struct SNotificationSettings {
    ETrapVersion version = ETrapVersion::V1;
    bool inform = false; // InformRequests, acknowledged and retried (v2c and v3 only)
    int user = -1; // SNMPv3: the index of the sending user in the processor
};

// The version field of a message: SNMPv1 and SNMPv2c.
constexpr std::int32_t kSnmpVersion1 = 0;
constexpr std::int32_t kSnmpVersion2c = 1;
constexpr std::int32_t kSnmpVersion3 = 3;

// The agent's two trap-control objects, answered per requesting manager.
extern const COid kTrapLevelOid; // 1.3.6.1.4.1.534.1.11.1.0
extern const COid kTrapTypeOid; // 1.3.6.1.4.1.534.1.11.2.0

// The system group of RFC 3418 as the agent serves it (SNMP/SystemGroup).
struct SSystemGroup {
    std::string description; // sysDescr, before the UPS's model
    std::array<std::string, 3> texts; // sysContact, sysName, sysLocation
    // Keeps a new value of texts[i] where it survives a restart; false when
    // it could not be kept.
    std::function<bool(std::size_t, const std::string&)> store;
};

// The snmp group of RFC 3418: what the agent received and could not serve.
struct SSnmpGroupCounters {
    std::uint32_t inPackets = 0;
    std::uint32_t badVersions = 0;
    std::uint32_t badCommunityNames = 0;
    std::uint32_t badCommunityUses = 0;
    std::uint32_t parseErrors = 0;
    std::uint32_t silentDrops = 0;
};

class CSNMPAgent {
public:
    // What became of one received datagram.
    enum class ERequestOutcome {
        Dropped, // nothing is sent
        Answered, // the datagram record holds the reply, addressed to the requester
        AuthenticationFailure, // wrong community: an authenticationFailure trap, no reply
        Refused, // source not in the list for the request: nothing is sent
    };

    // The unspecified address means none (trap host) or any, of both
    // families (source address). Agent port 0 binds an ephemeral port.
    // Throws 0xC002002D, 0xC002002F or 0xC002002E when the socket cannot be
    // made ready, and whatever sending the coldStart trap throws. Standard
    // values (SNMP/StandardValues) put the time-stamp of every trap, the
    // coldStart trap sent here included, on sysUpTime (RFC 1157). Without
    // `sendColdStart` the coldStart waits for SendColdStart, so that
    // notifications of a later version can be set up first.
    CSNMPAgent(std::uint16_t agentPort, std::uint16_t managerPort, const SIpAddress& trapHost,
        const SIpAddress& sourceAddress, std::string getCommunity, std::string setCommunity, std::string trapCommunity,
        bool standardValues = false, bool sendColdStart = true);
    virtual ~CSNMPAgent();
    CSNMPAgent(const CSNMPAgent&) = delete;
    CSNMPAgent& operator=(const CSNMPAgent&) = delete;

    // Sources whose requests are served at all, and sources whose SETs are;
    // both admit every source until set.
    void SetSourceLists(CAddressList readManagers, CAddressList setManagers);
    // Counts go to `counters` from now on (to the agent's own until then);
    // they must outlive the agent.
    void AttachCounters(SNetworkCounters& counters) { m_counters = &counters; }
    const SNetworkCounters& GetCounters() const { return *m_counters; }

    // True when a datagram can be read without waiting.
    bool IsRequestWaiting();
    // Reads and answers at most one datagram; `ups` may be null. Never throws.
    void ServeRequest(CAbstractUPS* ups);
    // Serves up to `limit` requests, taking those waiting with one system
    // call and sending their replies with another, in the order received:
    // the first even when `deadline` (monotonic milliseconds) has passed,
    // none begun after it. Those received but not begun wait, in order, for
    // the next call (IsRequestWaiting is true meanwhile). The number served.
    // Never throws.
    unsigned ServeBatch(CAbstractUPS* ups, std::uint64_t deadline, unsigned limit);
    // Requests a batch received and has not begun (the socket may be empty).
    bool HasReceivedRequests() const { return m_inboxNext < m_inboxCount; }
    // Serves one datagram while the serial line waits for a UPS reply: a SET
    // is kept to be applied once the exchange is over (ServeDeferred), since
    // applying it may need the line. One SET is kept at a time; another in
    // the same wait is answered genErr, as a busy UPS is. Never throws.
    void ServeRequestDuringSerialWait(CAbstractUPS* ups);
    // Serves the SET kept during a serial wait, if any. Never throws.
    void ServeDeferred(CAbstractUPS* ups);
    bool HasDeferred() const { return m_deferred.has_value(); }
    // True while a request is being served (a SET may be waiting on the line).
    bool IsServing() const { return m_servingNow; }
    // Sends every trap the UPS object has queued; stops at the first that
    // cannot be sent, leaving the rest queued. Never throws.
    void SendPendingTraps(CAbstractUPS& ups);
    // Encodes one trap and sends it to every destination that admits it, in
    // the version the notification settings give.
    void SendTrap(const CSNMPTrap& trap);
    // SNMPv2c or SNMPv3 notifications instead of SNMPv1 traps; the settings
    // must fit (a v3 user of the attached processor). Destinations that a
    // version cannot reach (IPv6 ones for SNMPv1) receive nothing.
    void SetNotifications(const SNotificationSettings& settings) { m_notify = settings; }
    const SNotificationSettings& GetNotifications() const { return m_notify; }
    // Sends the informs whose time has come again and gives up those past
    // their last try; called once a pass of the loop. Never throws.
    void RetryInforms();
    std::size_t PendingInforms() const;
    void SendColdStart();
    void SendAuthenticationFailure();

    // ServeRequest without the socket: decodes the request held in the
    // datagram record, dispatches it and leaves any answer in the record.
    // Never throws.
    ERequestOutcome ProcessRequest(CAbstractUPS* ups);
    // Whether SNMPv2c messages are answered (off: dropped, as any version
    // other than SNMPv1). Same communities and rules as SNMPv1.
    void SetVersion2c(bool on) { m_version2c = on; }
    // SNMPv3: messages of version 3 go through `processor` (none: dropped).
    void SetSNMPv3(std::unique_ptr<usm::CSNMPv3Processor> processor);
    usm::CSNMPv3Processor* GetSNMPv3() { return m_v3.get(); }
    // The processor back, so that its engine outlives a re-opened agent.
    std::unique_ptr<usm::CSNMPv3Processor> TakeSNMPv3() { return std::move(m_v3); }
    // Off: with SNMPv3 on, SNMPv1 and SNMPv2c requests are dropped.
    void SetVersion1(bool on) { m_version1 = on; }
    // SNMPv3 is configured but cannot be served (its engine state cannot be
    // trusted): version 3 is dropped, and Version1 applies as with SNMPv3 on.
    void SetSNMPv3Unavailable() { m_v3Unavailable = true; }
    // SNMP/SystemGroup: the system and snmp groups of RFC 3418, and with
    // SNMPv3 the snmpEngine group (RFC 3411) and usmStats (RFC 3414), served
    // before and after the UPS's objects in the walk.
    void SetSystemGroup(SSystemGroup group);
    const SSnmpGroupCounters& GetSnmpGroupCounters() const { return m_snmpGroup; }
    SDatagram& GetDatagram() { return m_datagram; }

    std::uint16_t GetBoundPort() const;
    int GetSocket() const { return m_socket.Get(); }
    std::uint32_t GetAgentAddress() const { return m_agentAddress; }
    const std::vector<STrapDestination>& GetTrapDestinations() const { return m_trapDestinations.All(); }

private:
    // One binding of a reply: a value, or (SNMPv2c) an exception value under
    // the name asked, as received or as arcs after 1.3.6.1.
    struct SReplyBinding {
        std::unique_ptr<CMIBData> value;
        std::uint8_t exception = 0;
        std::span<const std::uint8_t> receivedName;
        CArcList arcs;
    };
    // A GetBulk binding's name as its walk goes on, copied: the scratch space
    // of names serves one name at a time.
    struct SBulkStart {
        SRequestName name;
        std::span<const std::uint8_t> receivedName;
        CArcList arcs;
    };
    class CReplyWriter;

    ERequestOutcome Dispatch();
    // Keeps the datagram for ServeDeferred, or answers genErr when one is kept.
    ERequestOutcome DeferSet();
    // Sends the answer ProcessRequest left in the datagram record.
    void Answer(ERequestOutcome outcome);
    ERequestOutcome DispatchV3();
    // Serves the PDU that starts at the buffer's position (its tag next).
    ERequestOutcome ServePdu(CBasicEncodingRulesBuffer& request, bool setAllowed);
    ERequestOutcome ServeGet(CBasicEncodingRulesBuffer& request);
    ERequestOutcome ServeBulk(CBasicEncodingRulesBuffer& request);
    ERequestOutcome ServeSet(CBasicEncodingRulesBuffer& request);
    // One received binding: its name, the name's bytes as they came, and
    // where the binding starts (its SEQUENCE header) and ends.
    struct SBindingName {
        SRequestName name;
        std::span<const std::uint8_t> received;
        std::size_t start = 0;
        std::size_t end = 0;
    };
    // Reads the header of the next binding and its name; false when the
    // binding claims more than the data holds (it is then skipped).
    bool ReadBindingName(CBasicEncodingRulesBuffer& request, SBindingName& binding);
    // Reads the next binding's name that can be read, counting every binding
    // (skipped ones too) in `index`; false at the end of the list.
    bool NextBindingName(CBasicEncodingRulesBuffer& request, std::int32_t& index, SBindingName& binding);
    // GET or GET-NEXT of one name; an SNMPv2c failure that is an exception
    // value becomes one, every other failure is thrown.
    SReplyBinding ReadBinding(const SRequestName& name, std::span<const std::uint8_t> receivedName, bool next);
    // Reads the PDU length, request-id, error-status and error-index; false
    // when the PDU does not end exactly at the end of the data.
    bool ReadPduHeader(CBasicEncodingRulesBuffer& request);
    // False when the variable-binding list does not end exactly at the end.
    bool ReadBindingListHeader(CBasicEncodingRulesBuffer& request);
    // The checks every Get, GetNext, GetBulk and Set makes before its
    // bindings: an outcome ends the request, nullopt goes on to the bindings.
    std::optional<ERequestOutcome> BeginPdu(CBasicEncodingRulesBuffer& request);
    std::unique_ptr<CMIBData> GetValue(const SRequestName& requested, bool next);
    // ---- The objects the agent answers itself (AgentObjects.cpp): the two
    // trap-control objects, and the groups of SSystemGroup when enabled.
    struct SLocalObject {
        std::vector<std::uint32_t> name; // the instance, arcs after 1.3.6.1
        std::function<std::unique_ptr<CMIBData>()> get;
        int text = -1; // the writable system text it is (SSystemGroup::texts), or -1
        bool anySuffix = false; // the vendor naming's scalars: 534.1.11.1 reads as 534.1.11.1.0
    };
    void BuildLocalObjects();
    const SLocalObject* FindLocal(const SRequestName& requested) const;
    // The first local object after `arcs`, or null.
    const SLocalObject* NextLocal(std::span<const std::uint32_t> arcs) const;
    std::unique_ptr<CMIBData> LocalValue(const SLocalObject& object) const;
    // `arcs`: the name as the manager sent it. CheckValue makes every check
    // of SetValue and changes nothing but `destinations`, a scratch copy of
    // the trap destinations.
    void SetValue(CMIBData& value, std::span<const std::uint32_t> arcs);
    void CheckValue(CMIBData& value, std::span<const std::uint32_t> arcs, CTrapDestinations& destinations);
    // Encodes the GetResponse for the bindings into the datagram record.
    ERequestOutcome BuildReply();
    // A GetResponse tooBig: the request's bindings in SNMPv1, none after.
    ERequestOutcome BuildTooBig();
    // Turns the received request into its own GetResponse in place.
    ERequestOutcome BuildErrorReply(std::int32_t status, std::int32_t index);

    // Gates of the source lists; each counts what it refuses.
    bool AdmitsSource();
    bool AdmitsSetSource();
    void CountOutcome(ERequestOutcome outcome);
    // Sends the authenticationFailure trap unless the rate bound holds it back.
    void ReportAuthenticationFailure();

    // ---- Notifications of SNMPv2c and SNMPv3 (SNMPNotifications.cpp).
    // The SNMPv2-Trap-PDU or InformRequest-PDU of `trap` into `out`.
    std::size_t EncodeNotificationPdu(const CSNMPTrap& trap, std::int32_t requestId, std::span<std::uint8_t> out) const;
    // The whole message for one destination into m_datagram; false when it
    // cannot be built now.
    bool BuildNotification(std::span<const std::uint8_t> pdu, std::int32_t requestId);
    void SendNotification(const CSNMPTrap& trap);
    // Sends an inform as the queue keeps it: SNMPv2c's message as it is,
    // SNMPv3's PDU in a message built anew for its receiver's engine, or
    // the discovery request while that engine is unknown.
    bool SendInform(const SDatagram& stored, std::int32_t requestId);
    usm::SRemoteEngine& RemoteEngineOf(const SIpAddress& address, std::uint16_t port);
    // An acknowledgement of a pending inform from the datagram's source:
    // true when it was one (matched or not), and then nothing else is done
    // with the datagram.
    bool TakeInformResponse();
    bool TakeV3InformResponse();

    // Creating a record beyond the bound on registrations throws (genErr).
    STrapDestination* FindTrapDestination(const SIpAddress& address, bool create);
    void RemoveTrapDestination(const SIpAddress& address);
    std::int32_t TrapLevelOf(const SIpAddress& address);
    std::int32_t TrapTypeOf(const SIpAddress& address);

    std::int32_t m_pduType = 0;
    std::uint16_t m_agentPort;
    std::uint16_t m_managerPort;
    std::int32_t m_requestId = 0;
    std::int32_t m_version = kSnmpVersion1; // of the request being served
    bool m_version2c = false;
    // error-status and error-index as received: GetBulk's non-repeaters and
    // max-repetitions.
    std::int32_t m_errorStatusField = 0;
    std::int32_t m_errorIndexField = 0;
    CUniqueFd m_socket;
    SDatagram m_datagram;
    // Received by ServeBatch: m_inbox[m_inboxNext, m_inboxCount) wait to be
    // served; m_outbox holds the replies not sent yet.
    std::array<SDatagram, kDatagramBatch> m_inbox;
    std::array<SDatagram, kDatagramBatch> m_outbox;
    std::size_t m_inboxNext = 0;
    std::size_t m_inboxCount = 0;
    std::uint32_t m_agentAddress = 0;
    std::string m_getCommunity;
    std::string m_setCommunity;
    std::string m_trapCommunity;
    std::string m_requestCommunity;
    std::vector<SReplyBinding> m_bindings;
    std::vector<SBulkStart> m_bulkStarts; // kept, so that a GetBulk allocates no names
    // The request being parsed: the datagram, or an SNMPv3 message's PDU.
    std::span<std::uint8_t> m_request;
    std::unique_ptr<usm::CSNMPv3Processor> m_v3;
    bool m_version1 = true;
    bool m_v3Unavailable = false;
    bool m_standardValues = false;
    std::optional<SSystemGroup> m_systemGroup;
    SSnmpGroupCounters m_snmpGroup;
    std::vector<SLocalObject> m_localObjects; // in name order
    // Undo steps of the agent's own objects during a SET, oldest first.
    std::vector<std::function<void()>> m_localUndo;
    // The manager's msgMaxSize of the SNMPv3 request being served.
    std::int32_t m_v3MaxSize = 0;
    bool m_serving3 = false; // the request is SNMPv3: replies are bare PDUs
    usm::SIncomingV3 m_v3In; // the SNMPv3 request as received, its PDU included
    std::vector<std::uint8_t> m_v3Response; // and its response PDU
    CSetReplayCache m_v3Sets;
    CTrapDestinations m_trapDestinations;
    SNotificationSettings m_notify;
    std::int32_t m_notificationId = 0; // request-id of the last notification
    CInformQueue m_informs;
    struct SRemoteSlot {
        SIpAddress address;
        std::uint16_t port = 0;
        usm::SRemoteEngine engine;
    };
    std::vector<SRemoteSlot> m_remoteEngines; // the informs' receivers, bounded
    CAddressList m_readManagers;
    CAddressList m_setManagers;
    CAuthFailureLimiter m_authFailureLimiter;
    SNetworkCounters m_ownCounters;
    SNetworkCounters* m_counters = &m_ownCounters;
    CAbstractUPS* m_ups = nullptr; // the UPS object of the current call only
    bool m_servingNow = false;
    bool m_deferSets = false; // serving during a serial wait
    bool m_deferredNow = false; // the request being served was kept
    std::optional<SDatagram> m_deferred;
    // Scratch space for names decoded from a request: no name in a datagram
    // can have more arcs than the datagram has bytes, plus one (the first
    // byte holds two) and the 0 arc the decoder appends.
    std::array<std::uint32_t, kDatagramSize + 2> m_nameArcs {};
};

// Trap levels and families, for the destination filter.
bool IsExtendedTrap(const COid& enterprise);
std::int32_t TrapLevel(const COid& enterprise, std::int32_t specificTrap);
bool IsTrapAdmitted(const STrapDestination& destination, const COid& enterprise, std::int32_t specificTrap);

} // namespace pvx
