// The power events in pvx's log (Notify/LogEvents), one line each, from the
// message catalog.
#pragma once

#include "power/PowerEvent.h"

namespace pvx::power {

class CPowerLog : public IPowerObserver {
public:
    void SetEnabled(bool enabled) { m_enabled = enabled; }
    void OnPowerEvent(const SPowerEvent& event) override;

private:
    bool m_enabled = false;
};

} // namespace pvx::power
