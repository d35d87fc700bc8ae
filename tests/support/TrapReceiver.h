// Test support: net-snmp's trap receiver (Debian's snmptrapd) in the
// foreground, logging one line per notification to a file in its folder.
#pragma once

#include "tests/support/Process.h"

#include <memory>
#include <string>
#include <vector>

namespace pvx::test {

class CTrapReceiver {
public:
    // Listens on `transport` ("udp6:[::1]", default udp on 127.0.0.1) at a
    // free port. `configuration` is snmptrapd.conf; empty: every
    // notification is logged unauthenticated. Each line of the log reads
    // "TRAP <enterprise> <generic> <specific> <bindings>".
    explicit CTrapReceiver(const CTempDir& folder, const std::string& configuration = "",
                           const std::string& transport = "udp:127.0.0.1");

    bool IsReady() const { return m_ready; }
    unsigned short Port() const { return m_port; }
    std::vector<std::string> Traps() const;
    std::string Log() const { return ReadFile(m_log); }
    void Stop() { m_process.reset(); }

private:
    std::string m_log;
    unsigned short m_port;
    std::unique_ptr<CChildProcess> m_process;
    bool m_ready = false;
};

// pvx's count of informs with this outcome ("acknowledged", "retried",
// "given_up", "dropped"), read from its metrics on 127.0.0.1:httpPort; -1
// when the page cannot be read.
long InformsCounted(unsigned short httpPort, const std::string& outcome);

} // namespace pvx::test
