// How the UPS's own settings go out as XCP configuration commands: the
// numeric ones through set-configuration (0x95), the clock through 0x90.
// Shared by the XCP driver and the simulated UPS.
#pragma once

#include "ups/AbstractUPS.h"
#include "xcp/link/Commands.h"

namespace pvx {

// Sends `value` of `setting` on `link`; throws EVENT_BAD_VALUE for a value the
// command cannot carry (nothing is sent), or the UPS's refusal as an event.
void SendUPSSetting(CCommands& link, EUPSSetting setting, const CMIBData& value);
// Throws as SendUPSSetting would before it sends anything.
void CheckUPSSetting(EUPSSetting setting, const CMIBData& value);

} // namespace pvx
