// Opening pseudo-terminal pairs through the POSIX interface.
#include "platform/PseudoTerminal.h"

#include "platform/Portability.h"

#include <array>
#include <cstdlib>
#include <fcntl.h>

namespace pvx {

bool CPseudoTerminal::Open()
{
    Close();
    CUniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0)
        return false;
    std::array<char, 128> name{};
    if (::ptsname_r(master.Get(), name.data(), name.size()) != 0)
        return false;
    std::string path(name.data());
    CUniqueFd slave = OpenDevice(path);
    if (!slave || !SetLineAttributes(slave.Get(), 9600, 8, 2, 0))
        return false;
    m_master = std::move(master);
    m_slave = std::move(slave);
    m_slavePath = std::move(path);
    return true;
}

void CPseudoTerminal::Close()
{
    m_slave.Reset();
    m_master.Reset();
    m_slavePath.clear();
}

} // namespace pvx
