// The loop lends the serial line's waits (a UPS reply on its way, the pauses
// of a wake-up or an authorization) to the network services that never need
// the line: SNMP reads and HTTP. SETs are kept until the exchange is over,
// and the relay, whose frames need the line, waits for the loop. So a silent
// UPS, a slow one or a relay client's exchange never holds a manager up for
// longer than the work of one other request.
#pragma once

#include "platform/SerialWait.h"

#include <memory>

namespace pvx {

class CAbstractUPS;
class CHttpServer;
class CSNMPAgent;

class CSerialWaitLender : public ISerialWaitLender {
public:
    // Installed for its lifetime. `agent` null: SNMP is not served in serial
    // waits (the one-client-per-pass loop); `http` may be null; `ups` is the
    // loop's current UPS, looked at on every request.
    CSerialWaitLender(CSNMPAgent* agent, CHttpServer* http, const std::unique_ptr<CAbstractUPS>& ups);
    ~CSerialWaitLender() override;
    CSerialWaitLender(const CSerialWaitLender&) = delete;
    CSerialWaitLender& operator=(const CSerialWaitLender&) = delete;

    // The services a reload re-opened take the place of the old ones.
    void Retarget(CSNMPAgent* agent, CHttpServer* http)
    {
        m_agent = agent;
        m_http = http;
    }

    int Wait(int fd, std::uint32_t ms) override;

private:
    CSNMPAgent* m_agent;
    CHttpServer* m_http;
    const std::unique_ptr<CAbstractUPS>& m_ups;
};

} // namespace pvx
