// The notifications through libsystemd's sd_notify(3).
#include "notify/ServiceNotifier.h"

#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace pvx {

CServiceNotifier::CServiceNotifier()
{
    // Without unsetting: a helper pvx starts never inherits the socket
    // anyway (notifications go to the main process only, NotifyAccess=main).
    m_active = std::getenv("NOTIFY_SOCKET") != nullptr;
    m_watchdog = sd_watchdog_enabled(0, nullptr) > 0;
}

void CServiceNotifier::Send(const std::string& message)
{
    if (!m_active)
        return;
    // A manager that went away must not stop the service: the result is
    // only whether anyone listened.
    (void)sd_notify(0, message.c_str());
}

void CServiceNotifier::Ready(const std::string& status)
{
    m_status = status;
    Send("READY=1\nSTATUS=" + status);
}

void CServiceNotifier::Reloading() { Send("RELOADING=1"); }

void CServiceNotifier::Status(const std::string& status)
{
    if (status == m_status)
        return;
    m_status = status;
    Send("STATUS=" + status);
}

void CServiceNotifier::KeepAlive()
{
    if (m_watchdog)
        Send("WATCHDOG=1");
}

} // namespace pvx
