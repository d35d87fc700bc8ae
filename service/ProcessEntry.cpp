// main's work: version lines, option parsing, the start-up pause when started
// by path, daemon mode, and the out-of-memory handler.
#include "service/ProcessEntry.h"

#include "events/PVXException.h"
#include "platform/Portability.h"
#include "service/ServiceMain.h"
#include "xcp/driver/Settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace pvx {

namespace {

// Released by the out-of-memory handler so that the unwinding after the
// event still finds memory; once it is gone, every exhaustion throws.
char* g_memoryReserve = nullptr;

// Stays installed for good: an event swallowed on the way up (a request, a
// poll) leaves the service running, and the next exhaustion must become an
// event again rather than end the process with an abort.
void OutOfMemory()
{
    if (g_memoryReserve != nullptr) {
        delete[] g_memoryReserve;
        g_memoryReserve = nullptr;
        return; // the allocation is retried with the reserve's room
    }
    // Neither the event (no arguments) nor its report allocates.
    throw CPVXException(EVENT_OUT_OF_MEMORY);
}

bool IsOptionStart(const char* argument) { return argument[0] == '-' || argument[0] == '/'; }

bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        auto upperA = (*a >= 'a' && *a <= 'z') ? *a - 'a' + 'A' : *a;
        auto upperB = (*b >= 'a' && *b <= 'z') ? *b - 'a' + 'A' : *b;
        if (upperA != upperB)
            return false;
    }
    return *a == *b;
}

[[noreturn]] void ExitWithUsage()
{
    std::fputs("Usage:   pvx [options]\n"
               "Options: -c file  Initialization file, defaults to ./pvx.ini.\n"
               "         -i       Use Internal XCP for XCP UPS systems.\n"
               "         -s       Run as an installed service, files where pvx(8) says.\n"
               "         daemon   Run as a daemon.\n"
               "\n",
               stderr);
    std::exit(-1);
}

bool IsOption(const char* argument, char letter)
{
    return IsOptionStart(argument) && (argument[1] == letter || argument[1] == letter - 'a' + 'A');
}

// -s is looked for before the start-up pause, which it replaces; the file
// name after -c is not an option.
bool HasServiceOption(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (IsOption(argv[i], 's'))
            return true;
        if (IsOption(argv[i], 'c'))
            ++i;
    }
    return false;
}

void SetMessagesPath(const std::string& catalog)
{
    // The catalog path has a fixed size; a longer one stays empty, which
    // only costs the texts of the events.
    if (catalog.size() < sizeof g_szMessagesPath)
        std::memcpy(g_szMessagesPath, catalog.c_str(), catalog.size() + 1);
}

} // namespace

CPortability::CPortability()
{
    // One reserve for the process, however many instances tests make.
    if (g_memoryReserve == nullptr)
        g_memoryReserve = new char[64 * 1024];
    std::set_new_handler(OutOfMemory);
}

CPortability& Portability()
{
    static CPortability instance;
    return instance;
}

void CPortability::ParseCommandLine(int argc, char** argv)
{
    if (HasServiceOption(argc, argv)) {
        // Installed as a service: each kind of file where the system keeps
        // it. The service manager orders the start after the network and the
        // devices, so there is no pause.
        SetMessagesPath(PVX_DATA_DIR "/messages");
        m_configPath = PVX_CONFIG_DIR "/pvx.ini";
        m_stateDirectory = PVX_STATE_DIR;
        m_statusPath = PVX_RUN_DIR "/pvx.status";
    } else if (argc != 0 && argv[0] != nullptr && std::strchr(argv[0], '/') != nullptr) {
        std::string directory(argv[0]);
        directory.erase(directory.rfind('/') + 1);
        SetMessagesPath(directory + "messages");
        m_configPath = directory + m_configPath;
        // Started by path (from an init script rather than a shell's search
        // path): give the serial hardware and the network time to come up.
        Sleep(120000);
    }
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (EqualsIgnoringCase(argument, "daemon")) {
            m_runAsDaemon = true;
        } else if (IsOptionStart(argument)) {
            switch (argument[1]) {
            case 'C':
            case 'c':
                if (i + 1 >= argc)
                    ExitWithUsage();
                m_configPath = argv[++i];
                break;
            case 'I':
            case 'i':
                g_bUseInternalXCP = true;
                break;
            case 'S':
            case 's':
                break; // taken before the pause
            default:
                ExitWithUsage();
            }
        } else {
            ExitWithUsage();
        }
    }
}

int CPortability::Run(ServiceFunction service)
{
    m_service = service;
    if (m_runAsDaemon) {
        CPVXException::SetLogToSyslog(true);
        if (!Daemonize())
            throw CPVXException::FromSystemError();
    }
    return m_service(-1);
}

int PvxMain(int argc, char** argv)
{
    bool printedVersion = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '\0' && IsOptionStart(argument) && (argument[1] == 'v' || argument[1] == 'V')) {
            PrintLine(std::string(kVersionString) + "\n");
            printedVersion = true;
        }
    }
    if (printedVersion)
        return 0;
    // Under a service manager whose journal reads our streams, every line
    // carries its priority.
    CPVXException::SetJournalPrefixes(IsJournalStream(2));
    SetPrintLineJournalPrefix(IsJournalStream(1));
    try {
        Portability().ParseCommandLine(argc, argv);
        return Portability().Run(ServiceMain);
    } catch (const CPVXException& event) {
        event.Report();
        return -1;
    }
}

} // namespace pvx
