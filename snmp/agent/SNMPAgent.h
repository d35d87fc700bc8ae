// CSNMPAgent: the SNMPv1 agent. It answers Get, GetNext and Set requests from
// the UPS object's MIB tree, keeps the list of trap destinations and sends the
// agent's own traps and those the UPS object queues.
#pragma once

#include "platform/Portability.h"
#include "snmp/values/MIBData.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pvx {

class CAbstractUPS;
class CBasicEncodingRulesBuffer;
struct SRequestName;

// One manager that receives traps. Managers are told apart by address only.
struct STrapDestination {
    std::uint32_t address = 0; // IPv4, network byte order
    std::uint16_t port = 0; // always the configured manager port
    std::int32_t trapLevel = 1;
    std::int32_t trapType = 1;
};

// SNMPv1 error-status values.
enum ESNMPErrorStatus : std::int32_t {
    SNMP_NO_ERROR = 0,
    SNMP_TOO_BIG = 1,
    SNMP_NO_SUCH_NAME = 2,
    SNMP_BAD_VALUE = 3,
    SNMP_READ_ONLY = 4,
    SNMP_GEN_ERR = 5,
};

// The agent's two trap-control objects, answered per requesting manager.
extern const COid kTrapLevelOid; // 1.3.6.1.4.1.534.1.11.1.0
extern const COid kTrapTypeOid; // 1.3.6.1.4.1.534.1.11.2.0

class CSNMPAgent {
public:
    // What became of one received datagram.
    enum class ERequestOutcome {
        Dropped, // nothing is sent
        Answered, // the datagram record holds the reply, addressed to the requester
        AuthenticationFailure, // wrong community: an authenticationFailure trap, no reply
    };

    // Addresses are IPv4 in network byte order; 0 means none (trap host) or
    // any (source address). Agent port 0 binds an ephemeral port. Throws
    // 0xC002002D, 0xC002002F or 0xC002002E when the socket cannot be made
    // ready, and whatever sending the coldStart trap throws.
    CSNMPAgent(std::uint16_t agentPort, std::uint16_t managerPort, std::uint32_t trapHost, std::uint32_t sourceAddress,
        std::string getCommunity, std::string setCommunity, std::string trapCommunity);
    virtual ~CSNMPAgent();
    CSNMPAgent(const CSNMPAgent&) = delete;
    CSNMPAgent& operator=(const CSNMPAgent&) = delete;

    // True when a datagram can be read without waiting.
    bool IsRequestWaiting();
    // Reads and answers at most one datagram; `ups` may be null. Never throws.
    void ServeRequest(CAbstractUPS* ups);
    // Sends every trap the UPS object has queued; stops at the first that
    // cannot be sent, leaving the rest queued. Never throws.
    void SendPendingTraps(CAbstractUPS& ups);
    // Encodes one trap and sends it to every destination that admits it.
    void SendTrap(const CSNMPTrap& trap);
    void SendColdStart();
    void SendAuthenticationFailure();

    // ServeRequest without the socket: decodes the request held in the
    // datagram record, dispatches it and leaves any answer in the record.
    // Never throws.
    ERequestOutcome ProcessRequest(CAbstractUPS* ups);
    SDatagram& GetDatagram() { return m_datagram; }

    std::uint16_t GetBoundPort() const;
    int GetSocket() const { return m_socket.Get(); }
    std::uint32_t GetAgentAddress() const { return m_agentAddress; }
    const std::vector<STrapDestination>& GetTrapDestinations() const { return m_trapDestinations; }

private:
    ERequestOutcome Dispatch();
    ERequestOutcome ServeGet(CBasicEncodingRulesBuffer& request);
    ERequestOutcome ServeSet(CBasicEncodingRulesBuffer& request);
    // Reads the PDU length, request-id, error-status and error-index; false
    // when the PDU does not end exactly at the end of the data.
    bool ReadPduHeader(CBasicEncodingRulesBuffer& request);
    // False when the variable-binding list does not end exactly at the end.
    bool ReadBindingListHeader(CBasicEncodingRulesBuffer& request);
    std::unique_ptr<CMIBData> GetValue(const SRequestName& requested, bool next);
    void SetValue(CMIBData& value);
    // Encodes the GetResponse for the value list into the datagram record.
    ERequestOutcome BuildReply();
    // Turns the received request into its own GetResponse in place.
    ERequestOutcome BuildErrorReply(std::int32_t status, std::int32_t index);

    STrapDestination* FindTrapDestination(std::uint32_t address, bool create);
    void RemoveTrapDestination(std::uint32_t address);
    std::int32_t TrapLevelOf(std::uint32_t address);
    std::int32_t TrapTypeOf(std::uint32_t address);

    std::int32_t m_pduType = 0;
    std::uint16_t m_agentPort;
    std::uint16_t m_managerPort;
    std::int32_t m_requestId = 0;
    CUniqueFd m_socket;
    SDatagram m_datagram;
    std::uint32_t m_agentAddress = 0;
    std::string m_getCommunity;
    std::string m_setCommunity;
    std::string m_trapCommunity;
    std::string m_requestCommunity;
    std::vector<std::unique_ptr<CMIBData>> m_values;
    std::vector<STrapDestination> m_trapDestinations;
    CAbstractUPS* m_ups = nullptr; // the UPS object of the current call only
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
