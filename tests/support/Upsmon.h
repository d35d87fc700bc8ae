// Debian's upsmon in the foreground, in a folder of its own (configuration,
// state and, through a private mount, the PID file it keeps in /run/nut),
// with a SHUTDOWNCMD that only writes a file and no wall messages on the test
// machine. Ended by PID.
#pragma once

#include "tests/support/Process.h"

#include <memory>
#include <string>

namespace pvx::test {

inline const std::string kUpsmon = "/lib/nut/upsmon"; // the program itself, not the wrapper that reads nut.conf

// The stored form of a user's password for [NUT] UserN, as pvx-passwd -n makes it.
std::string StoreNutPassword(const std::string& password);

class CUpsmon {
public:
    // `ups` as MONITOR names it ("ups@127.0.0.1:port"); `type` primary or secondary.
    CUpsmon(const std::string& folder, const std::string& ups, const std::string& user, const std::string& password,
            const std::string& type, unsigned hostSync);

    std::string ShutdownFile() const { return m_folder + "/shutdown"; }
    bool ShutDown() const;
    bool Started();
    std::string Output() const;

private:
    std::string m_folder;
    std::unique_ptr<CChildProcess> m_process;
};

} // namespace pvx::test
