#include "tests/support/TrapReceiver.h"

#include "tests/support/Daemon.h"

#include <sstream>

using namespace std::chrono_literals;

namespace pvx::test {

CTrapReceiver::CTrapReceiver(const CTempDir& folder, const std::string& configuration, const std::string& transport)
    : m_log(folder.File("snmptrapd.log"))
    , m_port(FreeUdpPort())
{
    WriteTextFile(folder.File("snmptrapd.conf"), configuration.empty() ? "disableAuthorization yes\n" : configuration);
    m_process = std::make_unique<CChildProcess>("/usr/sbin/snmptrapd", "snmptrapd",
        std::vector<std::string> { "-f", "-C", "-c", folder.File("snmptrapd.conf"), "-m", "", "-On", "-n", "-Lf",
            m_log, "--persistentDir=" + folder.File("snmptrapd.state"), "-F", "TRAP %N %w %q %v\n",
            transport + ":" + std::to_string(m_port) },
        folder.File("snmptrapd.out"), folder.File("snmptrapd.err"));
    m_ready = WaitFor([this] { return ReadFile(m_log).find("NET-SNMP version") != std::string::npos; }, 10s);
}

std::vector<std::string> CTrapReceiver::Traps() const
{
    std::vector<std::string> traps;
    std::istringstream lines(ReadFile(m_log));
    std::string line;
    while (std::getline(lines, line))
        if (line.starts_with("TRAP "))
            traps.push_back(line);
    return traps;
}

long InformsCounted(unsigned short httpPort, const std::string& outcome)
{
    SRunResult r = RunProgram("/usr/bin/curl", "curl",
        { "-s", "-f", "-m", "3", "http://127.0.0.1:" + std::to_string(httpPort) + "/metrics" }, 10s);
    const std::string sample = "pvx_snmp_informs_total{outcome=\"" + outcome + "\"} ";
    const std::size_t at = r.out.find(sample);
    return r.status != 0 || at == std::string::npos ? -1 : std::stol(r.out.substr(at + sample.size()));
}

} // namespace pvx::test
