// The network XCP relay: XCP request frames arrive in UDP datagrams, go to
// the UPS object (forwarded to the UPS or answered from the model), and all
// replies return in one datagram. A password frame unlocks one control command.
#pragma once

#include "config/AddressList.h"
#include "events/NetworkCounters.h"
#include "platform/Portability.h"
#include "relay/RelayLimits.h"

#include <cstdint>
#include <span>
#include <string>

namespace pvx {

class CAbstractUPS;

class CNetXCPAgent {
public:
    // Time the relay may spend on forwarded frames in one pass of the service
    // loop, whatever arrives: a frame is begun only while the time spent so
    // far plus the longest frame of the pass stays within it. Frames beyond
    // are dropped, so that relay clients cannot hold up the UPS's polling.
    static constexpr std::uint32_t kPassBudgetMs = 750;

    CNetXCPAgent(const std::string& password, std::uint16_t port, const SIpAddress& sourceAddress);
    virtual ~CNetXCPAgent() = default;
    CNetXCPAgent(const CNetXCPAgent&) = delete;
    CNetXCPAgent& operator=(const CNetXCPAgent&) = delete;

    // Sources whose datagrams are handled (every source until set).
    void SetClients(CAddressList clients) { m_clients = std::move(clients); }
    // Counts go to `counters` from now on (to the relay's own until then);
    // they must outlive the relay.
    void AttachCounters(SNetworkCounters& counters) { m_counters = &counters; }
    const SNetworkCounters& GetCounters() const { return *m_counters; }

    // A new pass of the service loop: the relay's time budget is whole again.
    void BeginPass();
    bool WaitForRequest(std::uint32_t ms);
    // Receives one datagram and answers it; never throws.
    void RelayRequests(CAbstractUPS* ups);

    // Answers the frames of one datagram into `reply` (length 0: nothing to
    // send); `reply`'s address is the requester's, whose bounds apply.
    void ProcessDatagram(CAbstractUPS& ups, std::span<const std::uint8_t> request, SDatagram& reply);

    std::uint16_t GetBoundPort() const;
    int GetSocket() const { return m_socket.Get(); }

private:
    // `password`: the data bytes of a password frame.
    bool IsPassword(std::span<const std::uint8_t> password) const;
    bool FitsThePass() const { return m_passSpentMs + m_passLongestMs <= kPassBudgetMs; }
    // Whether the datagram just received is handled: its source is a listed
    // client and a UPS object exists. Counts the outcome.
    bool Admits(const CAbstractUPS* ups);
    // A password frame's data bytes from `source`, within its source's bounds.
    bool CheckPassword(std::span<const std::uint8_t> password, const SIpAddress& source);
    // Logs the password frames ignored, at most once per interval.
    void ReportIgnoredPasswords();

    std::uint16_t m_port;
    CUniqueFd m_socket;
    SDatagram m_received;
    SDatagram m_reply;
    std::uint32_t m_ownAddress = 0;
    CAbstractUPS* m_ups = nullptr;
    std::string m_password;
    std::uint64_t m_passSpentMs = 0;
    std::uint64_t m_passLongestMs = 0;
    CAddressList m_clients;
    CPasswordGuard m_passwordGuard;
    CIdentityLines m_identityLines;
    SNetworkCounters m_ownCounters;
    SNetworkCounters* m_counters = &m_ownCounters;
};

} // namespace pvx
