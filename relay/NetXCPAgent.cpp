// Frame walk of the XCP relay.
#include "relay/NetXCPAgent.h"

#include "events/PVXException.h"
#include "ups/AbstractUPS.h"
#include "ups/XCPEmulation.h"
#include "xcp/link/XCPCommandTable.h"
#include "xcp/link/XCPRequest.h"

#include <algorithm>
#include <cstring>

namespace pvx {

namespace {

// The shortest frame the relay looks at: start, length, command, checksum.
constexpr std::size_t kMinFrame = 4;
constexpr std::size_t kPasswordLength = 6;
// The password frame's length byte: the command and the password.
constexpr std::size_t kPasswordFrameLength = kPasswordLength + 1;
constexpr std::uint8_t kIdentity[] = {'p', 'v', 'x', 0};

} // namespace

CNetXCPAgent::CNetXCPAgent(const std::string& password, std::uint16_t port, const SIpAddress& sourceAddress)
    : m_port(port), m_password(password)
{
    // The model reports an IPv4 address: the host name's, unless an IPv4
    // source address is set.
    if (!sourceAddress.IsIPv4() || sourceAddress.IsUnspecified()) {
        std::string hostName;
        if (GetHostName(hostName))
            ResolveHost(hostName, m_ownAddress);
    } else {
        m_ownAddress = sourceAddress.IPv4();
    }
    m_socket = OpenUdpSocket(m_port, sourceAddress, { EVENT_SOCKET_CREATE, EVENT_RELAY_NONBLOCKING, EVENT_RELAY_BIND });
}

void CNetXCPAgent::BeginPass()
{
    m_passSpentMs = 0;
    m_passLongestMs = 0;
    ReportIgnoredPasswords();
}

bool CNetXCPAgent::CheckPassword(std::span<const std::uint8_t> password, const SIpAddress& source)
{
    if (!m_passwordGuard.MayCheck(source)) {
        ++m_counters->relayPasswordsIgnored;
        return false;
    }
    if (!IsPassword(password)) {
        m_passwordGuard.Wrong(source);
        ++m_counters->relayPasswordsWrong;
        return false;
    }
    m_passwordGuard.Right(source);
    ++m_counters->relayPasswordsRight;
    return true;
}

void CNetXCPAgent::ReportIgnoredPasswords()
{
    if (auto line = m_passwordGuard.TakeReport()) {
        CPVXException event(EVENT_RELAY_PASSWORD_IGNORED);
        event.SetDetail(*line);
        event.Report();
    }
}

bool CNetXCPAgent::WaitForRequest(std::uint32_t ms) { return WaitReadable(m_socket.Get(), ms) > 0; }

std::uint16_t CNetXCPAgent::GetBoundPort() const
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    return GetSocketAddress(m_socket.Get(), address, port) ? port : 0;
}

bool CNetXCPAgent::IsPassword(std::span<const std::uint8_t> password) const
{
    // Only the first six characters count; a shorter password is padded
    // with zero bytes, which the password frame must then carry.
    for (std::size_t i = 0; i < kPasswordLength; ++i) {
        auto expected = i < m_password.size() ? static_cast<std::uint8_t>(m_password[i]) : std::uint8_t{0};
        if (i >= password.size() || password[i] != expected)
            return false;
    }
    return true;
}

void CNetXCPAgent::RelayRequests(CAbstractUPS* ups)
{
    m_ups = ups;
    if (!ReceiveFrom(m_socket.Get(), m_received) || m_received.length == 0 || !Admits(ups))
        return;
    m_reply.address = m_received.address;
    m_reply.port = m_received.port;
    ProcessDatagram(*ups, m_received.Bytes(), m_reply);
    if (m_reply.length != 0)
        SendTo(m_socket.Get(), m_reply);
    ReportIgnoredPasswords();
}

void CNetXCPAgent::ProcessDatagram(CAbstractUPS& ups, std::span<const std::uint8_t> request, SDatagram& reply)
{
    ups.SetRelayAddress(m_ownAddress);
    reply.length = 0;
    reply.data.fill(0);
    auto append = [&reply](std::span<const std::uint8_t> bytes) {
        if (bytes.size() > kDatagramSize - reply.length)
            return; // the reply would not fit one datagram: this part is dropped
        // Not memcpy: an empty answer has no data pointer, and memcpy from null is undefined even for 0 bytes.
        std::copy(bytes.begin(), bytes.end(), reply.data.begin() + reply.length);
        reply.length += static_cast<std::uint32_t>(bytes.size());
    };

    bool authorized = false;
    std::size_t offset = 0;
    while (request.size() - offset >= kMinFrame) {
        const auto frame = CXCPRequest::FrameAt(request.subspan(offset));
        if (frame.empty())
            break;
        offset += frame.size();
        const CXCPRequest view(frame);
        const std::uint8_t command = view.Command();
        bool forward = false;
        if (command == kXCPListenOnly) {
            if (auto line = m_identityLines.Line(reply.address))
                PrintLine(*line);
            else
                ++m_counters->relayIdentityLinesHeldBack;
            append(kIdentity);
        } else if (command == kXCPAuthorize) {
            if (view.Length() == kPasswordFrameLength && CheckPassword(view.DataBytes(), reply.address))
                authorized = true;
        } else if (command == kXCPEndSession) {
            authorized = false;
            forward = true;
        } else if (XCPNeedsRelayPassword(command)) {
            forward = authorized;
            authorized = false;
        } else {
            forward = true;
        }
        if (!forward)
            continue;
        // Beyond the pass's budget a frame is answered at once with the
        // UPS's busy status, so that a client retries instead of waiting out
        // its time-out; frames answered here (identity, password) cost no
        // serial time and go on being handled.
        if (!FitsThePass()) {
            auto busy = ups.BuildCommandStatusReply(static_cast<std::uint8_t>(view.Length()), view.Contents(), kXCPBusy);
            if (FinishXCPReply(busy))
                append(busy);
            continue;
        }
        // The serial exchanges use the process-wide deadline, so the time is
        // kept on the clock itself.
        const std::uint64_t started = CurrentClock().MonotonicMilliseconds();
        try {
            auto answer = ups.ProcessXCPRequest(frame);
            append(answer);
        } catch (const CPVXException&) {
            // This frame contributes nothing; the others are still answered.
        } catch (...) {
        }
        const std::uint64_t spent = CurrentClock().MonotonicMilliseconds() - started;
        m_passSpentMs += spent;
        m_passLongestMs = std::max(m_passLongestMs, spent);
    }
    if (reply.length % 2 != 0)
        reply.data[reply.length++] = 0;
}

} // namespace pvx
