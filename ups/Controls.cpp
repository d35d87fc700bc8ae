// The UPS's controls as the model carries them out, for a manager's SET and
// an XCP command alike: shutdown, start-up, reboot and timed-command
// schedules handed to the driver with rollback, and the tests.
#include "ups/AbstractUPS.h"

#include "platform/Portability.h"

namespace pvx {

namespace {

constexpr int kShutdownOutput = 1;
constexpr int kTestInProgress = 5;

} // namespace

void CAbstractUPS::ArmThenApply(
    std::int64_t& due, std::int64_t newDue, SControlArming arming, void (CAbstractUPS::*apply)())
{
    const std::int64_t savedDue = due;
    const bool savedWarning = m_shutdownTrapSent;
    const int savedType = m_shutdownType;
    due = newDue;
    if (arming.rewarn)
        m_shutdownTrapSent = false;
    if (arming.outputShutdown)
        m_shutdownType = kShutdownOutput;
    try {
        (this->*apply)();
    } catch (...) {
        due = savedDue;
        if (arming.rewarn)
            m_shutdownTrapSent = savedWarning;
        if (arming.outputShutdown)
            m_shutdownType = savedType;
        throw;
    }
}

void CAbstractUPS::ScheduleShutdown(std::int64_t due, SControlArming arming)
{
    ArmThenApply(m_shutdownDue, due, arming, &CAbstractUPS::ApplyShutdownSchedule);
}

void CAbstractUPS::ScheduleStartup(std::int64_t due, SControlArming arming)
{
    ArmThenApply(m_startupDue, due, arming, &CAbstractUPS::ApplyStartupSchedule);
}

void CAbstractUPS::ScheduleReboot(std::int64_t returnDue)
{
    ArmThenApply(m_startupDue, returnDue, {}, &CAbstractUPS::ApplyRebootSchedule);
}

void CAbstractUPS::ScheduleTimedCommand(std::int64_t due)
{
    ArmThenApply(m_timedCommandDue, due, {}, &CAbstractUPS::ApplyTimedCommand);
}

void CAbstractUPS::MarkTestStarted(const COid& testId)
{
    m_testId = testId;
    m_testResultSummary = kTestInProgress;
    m_testStartTime = GetMilliseconds();
    m_testStartUpTime = GetUpTimeTicks();
}

void CAbstractUPS::RunQuickBatteryTest(int type, int duration)
{
    StartBatteryTest(type, duration);
    MarkTestStarted(kUpsTestQuickBatteryTest);
}

void CAbstractUPS::RunGeneralSystemsTest()
{
    StartGeneralSystemsTest();
    MarkTestStarted(kUpsTestGeneralSystemsTest);
}

void CAbstractUPS::RunDeepBatteryCalibration()
{
    StartDeepBatteryCalibration();
    MarkTestStarted(kUpsTestDeepBatteryCalibration);
}

} // namespace pvx
