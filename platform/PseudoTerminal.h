// Pseudo-terminal pairs: the simulated UPS answers on the master side while
// the serial code under test opens the slave like any serial device.
#pragma once

#include "platform/UniqueFd.h"

#include <string>

namespace pvx {

class CPseudoTerminal {
public:
    CPseudoTerminal() = default;

    // Creates a new pair. The slave is opened here too and kept open in raw
    // mode, so that the master never reports a hang-up while no other
    // process holds the slave, and no echo or line editing touches the bytes.
    bool Open();
    void Close();

    int MasterFd() const { return m_master.Get(); }
    const std::string& SlavePath() const { return m_slavePath; }
    bool IsOpen() const { return m_master.IsOpen(); }

private:
    CUniqueFd m_master;
    CUniqueFd m_slave;
    std::string m_slavePath;
};

} // namespace pvx
