// What pvx tells a service manager that started it with a notification
// socket (sd_notify(3)): ready, reloading, its status in words, and a
// keep-alive for the watchdog. Without such a manager every call does nothing.
#pragma once

#include <string>

namespace pvx {

class CServiceNotifier {
public:
    // Reads the environment once: NOTIFY_SOCKET and the watchdog's settings.
    CServiceNotifier();
    virtual ~CServiceNotifier() = default;

    // The network services are open: READY=1 with the first status.
    void Ready(const std::string& status);
    // A reload begins (RELOADING=1); Ready ends it.
    void Reloading();
    // STATUS=..., sent only when the text changed since the last one.
    void Status(const std::string& status);
    // WATCHDOG=1 when the manager asked for keep-alives (WatchdogSec=).
    void KeepAlive();

    bool WatchdogEnabled() const { return m_watchdog; }
    // A manager listens: the status is worth composing.
    bool Active() const { return m_active; }

private:
    void Send(const std::string& message);

    bool m_active = false;
    bool m_watchdog = false;
    std::string m_status;
};

} // namespace pvx
