// What a manager's SET does to the writable objects: identity texts written
// back to the configuration, tests, and the shutdown, startup and timed
// command schedules. Every check comes before the first change; the controls
// themselves are the model's (ups/Controls.cpp).
#include "ups/AbstractUPS.h"

#include "events/PVXException.h"
#include "platform/Portability.h"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace pvx {

namespace {

constexpr int kTestInProgress = 5;
// The configuration reader takes lines of at most this many characters, newline included.
constexpr std::size_t kMaxConfigLine = 255;

[[noreturn]] void ThrowReadOnly()
{
    throw CPVXException(EVENT_READ_ONLY);
}
[[noreturn]] void ThrowBadValue()
{
    throw CPVXException(EVENT_BAD_VALUE);
}

std::int64_t DueTimeOrRefuse(std::int64_t seconds)
{
    auto due = CAbstractUPS::DueTimeAfter(CAbstractUPS::Now(), seconds);
    if (!due)
        ThrowBadValue();
    return *due;
}

} // namespace

void CAbstractUPS::WriteIdentText(std::string& member, const SConfigKey& key, const CMIBData& value)
{
    const std::string& text = value.GetText();
    // The text becomes one "key=value" line of the configuration: a line
    // break or a zero byte would inject lines, and a line longer than the
    // reader takes would be read back as two.
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        ThrowBadValue();
    if (std::strlen(key.key) + 1 + text.size() + 1 > kMaxConfigLine)
        ThrowBadValue();
    // The file first: a value that could not be stored would be gone at the
    // next reset, so the manager is told (genErr) and the model keeps the old one.
    if (m_configuration && !m_configuration->WriteString(key.section, key.key, text)) {
        int error = GetLastError();
        throw CPVXException(error > 0 && error < 0x10000 ? static_cast<std::uint32_t>(error) : EIO);
    }
    member = text;
}

void CAbstractUPS::WriteTestId(const CMIBData& value)
{
    // Whole identifiers are compared, up to their terminating 0 arc.
    const COid* requested = value.GetOid();
    auto is = [requested](const COid& test) { return requested && *requested == test; };

    if (is(kUpsTestAbortTestInProgress) && CanAbortTest()) {
        AbortTest();
        return;
    }
    if (m_testResultSummary == kTestInProgress)
        ThrowReadOnly();
    if (is(kUpsTestGeneralSystemsTest) && CanGeneralSystemsTest())
        RunGeneralSystemsTest();
    else if (is(kUpsTestQuickBatteryTest) && CanQuickBatteryTest())
        RunQuickBatteryTest(1, 15);
    else if (is(kUpsTestDeepBatteryCalibration) && CanDeepBatteryCalibration())
        RunDeepBatteryCalibration();
    else
        ThrowBadValue();
}

void CAbstractUPS::WriteTestSpinLock(const CMIBData& value)
{
    if (m_testResultSummary == kTestInProgress)
        ThrowBadValue();
    m_testSpinLock = value.GetUnsigned();
}

void CAbstractUPS::WriteShutdownType(const CMIBData& value)
{
    const int type = value.GetInteger();
    if (!CanShutdown(type))
        ThrowBadValue();
    m_shutdownType = type;
}

void CAbstractUPS::WriteShutdownAfterDelay(const CMIBData& value)
{
    if (!CanShutdown(m_shutdownType))
        ThrowReadOnly();
    const std::int64_t v = value.GetInteger();
    if (v == -1) {
        if (m_shutdownDue == kNoDueTime)
            ThrowBadValue();
        ScheduleShutdown(kNoDueTime);
        return;
    }
    if (v < -1)
        ThrowBadValue();
    ScheduleShutdown(DueTimeOrRefuse(v), { .rewarn = true });
}

void CAbstractUPS::WriteStartupAfterDelay(const CMIBData& value)
{
    if (!CanStartup())
        ThrowReadOnly();
    const std::int64_t v = value.GetInteger();
    if (v == -1) {
        if (m_startupDue == kNoDueTime)
            ThrowBadValue();
        ScheduleStartup(kNoDueTime);
        return;
    }
    if (v < -1)
        ThrowBadValue();
    ScheduleStartup(DueTimeOrRefuse(v), { .rewarn = true });
}

void CAbstractUPS::WriteRebootWithDuration(const CMIBData& value)
{
    if (!CanShutdown(m_shutdownType) || !CanReboot())
        ThrowReadOnly();
    const std::int64_t v = value.GetInteger();
    if (v < 1)
        ThrowBadValue();
    ScheduleReboot(DueTimeOrRefuse(v));
}

void CAbstractUPS::WriteVendorQuickTest(const CMIBData&)
{
    // The value is not looked at, and a running test does not block it.
    if (!CanQuickBatteryTest())
        ThrowBadValue();
    RunQuickBatteryTest(1, 15);
}

void CAbstractUPS::WriteVendorShutdown(const CMIBData& value)
{
    if (!CanShutdown(1))
        ThrowBadValue();
    const std::int64_t v = value.GetInteger();
    if (v < 0 || (v == 0 && m_shutdownDue == kNoDueTime))
        ThrowBadValue();
    const std::int64_t newDue = v == 0 ? kNoDueTime : DueTimeOrRefuse(v);
    // Programmed into the UPS now, as upsShutdownAfterDelay does: the
    // control timer only clears the due time once it has passed.
    ScheduleShutdown(newDue, { .outputShutdown = true });
}

void CAbstractUPS::WriteVendorStartup(const CMIBData& value)
{
    // The control timer starts the UPS when the time comes.
    if (!CanStartup())
        ThrowBadValue();
    const std::int64_t v = value.GetInteger();
    if (v < 0 || (v == 0 && m_startupDue == kNoDueTime))
        ThrowBadValue();
    m_startupDue = v == 0 ? kNoDueTime : DueTimeOrRefuse(v);
}

void CAbstractUPS::WriteWarningWindow(std::int64_t& window, const CMIBData& value)
{
    const std::int64_t v = value.GetInteger();
    if (v < -1)
        ThrowBadValue();
    window = v == -1 ? kUnlimitedWindow : v * 1000;
}

void CAbstractUPS::WriteVendorTimedCommand(const CMIBData& value)
{
    if (!CanRunTimedCommand())
        ThrowBadValue();
    const std::int64_t v = value.GetInteger();
    if (v < 0 || (v == 0 && m_timedCommandDue == kNoDueTime))
        ThrowBadValue();
    if (v == 0) {
        m_timedCommandDue = kNoDueTime;
        return;
    }
    ScheduleTimedCommand(DueTimeOrRefuse(v));
}

} // namespace pvx
