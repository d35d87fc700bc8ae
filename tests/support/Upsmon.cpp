#include "tests/support/Upsmon.h"

#include "tests/support/Daemon.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

namespace pvx::test {

std::string StoreNutPassword(const std::string& password)
{
    using namespace std::chrono_literals;
    const SRunResult made = RunProgram(PVX_TEST_BINARY_DIR "/pvx-passwd", "pvx-passwd", { "-n", password }, 10s);
    return made.status == 0 ? made.out.substr(0, made.out.find('\n')) : "";
}

CUpsmon::CUpsmon(const std::string& folder, const std::string& ups, const std::string& user,
                 const std::string& password, const std::string& type, unsigned hostSync)
    : m_folder(folder)
{
    std::filesystem::create_directories(m_folder);
    std::ostringstream conf;
    conf << "MONITOR " << ups << " 1 " << user << " " << password << " " << type << "\n"
         << "SHUTDOWNCMD \"/usr/bin/touch " << ShutdownFile() << "\"\n"
         << "POWERDOWNFLAG " << m_folder << "/killpower\n"
         << "POLLFREQ 1\nPOLLFREQALERT 1\nDEADTIME 15\nFINALDELAY 0\nHOSTSYNC " << hostSync << "\n";
    for (const char* event : { "ONLINE", "ONBATT", "LOWBATT", "FSD", "COMMOK", "COMMBAD", "SHUTDOWN", "REPLBATT",
                               "NOCOMM", "NOPARENT" })
        conf << "NOTIFYFLAG " << event << " IGNORE\n";
    WriteTextFile(m_folder + "/upsmon.conf", conf.str());
    ::chmod((m_folder + "/upsmon.conf").c_str(), 0600);
    auto prepare = [folder = m_folder] {
        ::setenv("NUT_CONFPATH", folder.c_str(), 1);
        ::setenv("NUT_STATEPATH", folder.c_str(), 1);
        ::setenv("NUT_ALTPIDPATH", folder.c_str(), 1);
        return EnterPrivateMountNamespace() && ::mount(folder.c_str(), "/run/nut", nullptr, MS_BIND, nullptr) == 0;
    };
    m_process = std::make_unique<CChildProcess>(kUpsmon, "upsmon", std::vector<std::string> { "-p", "-F" },
                                                m_folder + "/out", m_folder + "/err", m_folder, prepare);
}

bool CUpsmon::ShutDown() const { return std::filesystem::exists(ShutdownFile()); }

bool CUpsmon::Started()
{
    using namespace std::chrono_literals;
    return WaitFor([this] { return m_process->IsRunning(); }, 1s) && m_process->IsRunning();
}

std::string CUpsmon::Output() const { return ReadFile(m_folder + "/out") + ReadFile(m_folder + "/err"); }

} // namespace pvx::test
