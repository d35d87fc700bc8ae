// Process entry: the version check, the command line, daemon mode and the
// hand-over to the service function.
#pragma once

#include <string>

namespace pvx {

inline constexpr char kVersionString[] = "$Version: 1.1.3 $";

class CPortability {
public:
    using ServiceFunction = int (*)(int);

    CPortability();
    virtual ~CPortability() = default;

    // On a bad command line: the usage text on standard error, exit status 255.
    void ParseCommandLine(int argc, char** argv);
    int Run(ServiceFunction service);
    bool IsRunning() const { return true; }

    const std::string& GetConfigPath() const { return m_configPath; }
    // Where pvx-engine.state and later state go: empty means the folder of
    // pvx.ini; with -s, the installed state folder.
    const std::string& GetStateDirectory() const { return m_stateDirectory; }
    const std::string& GetStatusPath() const { return m_statusPath; }

private:
    ServiceFunction m_service = nullptr;
    std::string m_configPath = "pvx.ini";
    std::string m_stateDirectory;
    std::string m_statusPath = "/var/pvx.status";
    bool m_runAsDaemon = false;
};

// The one instance, built before main.
CPortability& Portability();

// The whole of main, callable from tests.
int PvxMain(int argc, char** argv);

} // namespace pvx
