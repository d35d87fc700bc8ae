// Waits on the serial line that other work may fill. A timed exchange with the
// UPS spends most of its time waiting for bytes; the service can lend those
// waits to network requests that never touch the line, so that a slow or
// silent UPS does not hold the managers up. Without a lender installed the
// waits are plain waits.
#pragma once

#include <cstdint>

namespace pvx {

class ISerialWaitLender {
public:
    virtual ~ISerialWaitLender() = default;
    // Waits until `fd` is readable (fd < 0: a pause, never readable) or `ms`
    // pass, doing other work meanwhile: > 0 readable, 0 time-out, < 0 error.
    virtual int Wait(int fd, std::uint32_t ms) = 0;
};

// Installs `lender` for every later serial wait (nullptr: plain waits).
void SetSerialWaitLender(ISerialWaitLender* lender);

// What the serial code calls in place of WaitReadable and Sleep.
int WaitSerialReadable(int fd, std::uint32_t ms);
void SerialPause(std::uint32_t ms);

// Marks, for its lifetime, that work lent a serial wait is running: the line
// is in the middle of an exchange, and nothing may start another on it.
class CLentSerialWait {
public:
    CLentSerialWait();
    ~CLentSerialWait();
    CLentSerialWait(const CLentSerialWait&) = delete;
    CLentSerialWait& operator=(const CLentSerialWait&) = delete;
};
bool IsInLentSerialWait();

} // namespace pvx
