// Serving SNMP and HTTP while the serial line waits.
#include "service/SerialWaitLender.h"

#include "http/HttpServer.h"
#include "platform/Portability.h"
#include "snmp/agent/SNMPAgent.h"
#include "ups/AbstractUPS.h"

namespace pvx {

CSerialWaitLender::CSerialWaitLender(CSNMPAgent* agent, CHttpServer* http, const std::unique_ptr<CAbstractUPS>& ups)
    : m_agent(agent), m_http(http), m_ups(ups)
{
    SetSerialWaitLender(this);
}

CSerialWaitLender::~CSerialWaitLender() { SetSerialWaitLender(nullptr); }

int CSerialWaitLender::Wait(int fd, std::uint32_t ms)
{
    // Bit i of a readiness mask stands for descriptors[i]; HTTP's is what
    // is left.
    constexpr int kSerialReady = 1;
    constexpr int kSnmpReady = 2;
    const std::uint64_t deadline = GetMonotonicMilliseconds() + ms;
    for (bool served = false;; served = true) {
        const std::uint64_t now = GetMonotonicMilliseconds();
        const auto remaining = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
        // Under a flood the wait still ends on time; the caller reads the
        // line before it concludes that nothing came.
        if (served && remaining == 0)
            return 0;
        // The agent's own SET waiting on the line is not interrupted by
        // another of its requests.
        const int descriptors[] = {
            fd,
            m_agent != nullptr && !m_agent->IsServing() ? m_agent->GetSocket() : -1,
            m_http != nullptr ? m_http->GetDescriptor() : -1,
        };
        const std::uint32_t waitMs = m_http != nullptr ? m_http->TimeoutWithin(remaining) : remaining;
        const int ready = WaitReadableMask(descriptors, waitMs);
        if (ready < 0) {
            // A failing poll: a plain wait, never a spin.
            if (fd >= 0)
                return WaitReadable(fd, remaining);
            Sleep(remaining);
            return 0;
        }
        if ((ready & kSerialReady) != 0)
            return 1;
        if (ready == 0 && waitMs == remaining)
            return 0;
        CLentSerialWait lent;
        // SNMP first, one request at a time, the line looked at after each.
        if ((ready & kSnmpReady) != 0)
            m_agent->ServeRequestDuringSerialWait(m_ups.get());
        else
            m_http->Run(m_ups.get()); // readable, or its time-out came
    }
}

} // namespace pvx
