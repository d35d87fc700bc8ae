// The serial waits and the lender that may fill them.
#include "platform/SerialWait.h"

#include "platform/Portability.h"

namespace pvx {

namespace {
ISerialWaitLender* g_lender = nullptr;
unsigned g_lentDepth = 0;
} // namespace

void SetSerialWaitLender(ISerialWaitLender* lender) { g_lender = lender; }

int WaitSerialReadable(int fd, std::uint32_t ms)
{
    // Work lent a wait never waits on the line itself.
    if (g_lender != nullptr && g_lentDepth == 0)
        return g_lender->Wait(fd, ms);
    if (fd < 0) {
        Sleep(ms);
        return 0;
    }
    return WaitReadable(fd, ms);
}

void SerialPause(std::uint32_t ms)
{
    if (g_lender != nullptr && g_lentDepth == 0)
        g_lender->Wait(-1, ms);
    else
        Sleep(ms);
}

CLentSerialWait::CLentSerialWait() { ++g_lentDepth; }

CLentSerialWait::~CLentSerialWait() { --g_lentDepth; }

bool IsInLentSerialWait() { return g_lentDepth != 0; }

} // namespace pvx
