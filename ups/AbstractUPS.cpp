// The UPS model's life cycle: defaults, Start, the per-pass Update with its
// control timers and failure counting, the trap queue and the default
// capabilities of a driver that offers none.
#include "ups/AbstractUPS.h"

#include "config/ConfigKeys.h"
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "platform/Portability.h"

#include <limits>

namespace pvx {

namespace {

constexpr int kOutputSourceBattery = 5;
constexpr int kTestInProgress = 5;
constexpr std::int64_t kOnBatteryTrapInterval = 60000;
constexpr int kMaxFailedPasses = 5;

// Bindings of upsTrapOnBattery and upsTrapTestCompleted (RFC 1628 upsTraps).
const COid kMinutesRemainingName { 2, 1, 33, 1, 2, 3, 0 };
const COid kSecondsOnBatteryName { 2, 1, 33, 1, 2, 2, 0 };
const COid kTestIdName { 2, 1, 33, 1, 7, 1, 0 };
const COid kTestSpinLockName { 2, 1, 33, 1, 7, 2, 0 };
const COid kTestSummaryName { 2, 1, 33, 1, 7, 3, 0 };
const COid kTestDetailName { 2, 1, 33, 1, 7, 4, 0 };
const COid kTestStartTimeName { 2, 1, 33, 1, 7, 5, 0 };
const COid kTestElapsedTimeName { 2, 1, 33, 1, 7, 6, 0 };
const COid kLowBattTimeName { 2, 1, 33, 1, 9, 7, 0 };

// A warning is due while the time since the due time lies inside the window;
// an unlimited window holds every moment, before the due time too.
bool InsideWarningWindow(std::int64_t due, std::int64_t window)
{
    if (window == CAbstractUPS::kUnlimitedWindow)
        return true;
    std::int64_t sinceDue = CAbstractUPS::Now() - due;
    return sinceDue >= 0 && sinceDue <= window;
}

// Clears a due time when the scope ends, also when the action inside throws,
// so that a refused command is not sent again on every pass.
class CDisarmOnExit {
public:
    explicit CDisarmOnExit(std::int64_t& due)
        : m_due(due)
    {
    }
    ~CDisarmOnExit() { m_due = CAbstractUPS::kNoDueTime; }
    CDisarmOnExit(const CDisarmOnExit&) = delete;
    CDisarmOnExit& operator=(const CDisarmOnExit&) = delete;

private:
    std::int64_t& m_due;
};

} // namespace

CAbstractUPS::CAbstractUPS(CCommPort* port, CINIFile* configuration)
    : m_port(port)
    , m_configuration(configuration)
{
    CAbstractUPS::ResetValues();
}

CAbstractUPS::~CAbstractUPS() = default;

std::int64_t CAbstractUPS::Now()
{
    auto ms = CurrentClock().MonotonicMilliseconds();
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(ms > kMax ? kMax : ms);
}

std::optional<std::int64_t> CAbstractUPS::MillisecondsUntil(std::int64_t due)
{
    if (due == kNoDueTime)
        return std::nullopt;
    return due - Now();
}

std::optional<std::int64_t> CAbstractUPS::DueTimeAfter(std::int64_t now, std::int64_t seconds)
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (now < 0 || seconds < 0 || seconds > kMax / 1000 || now > kMax - seconds * 1000)
        return std::nullopt;
    return now + seconds * 1000;
}

void CAbstractUPS::ResetValues()
{
    static_cast<SModelValues&>(*this) = SModelValues {};
    if (m_configuration) {
        m_upsName = ReadString(*m_configuration, keys::kUPSName);
        m_attachedDevices = ReadString(*m_configuration, keys::kAttachedDevices);
    }
}

void CAbstractUPS::Start()
{
    try {
        Identify();
        if (m_outputSource == kOutputSourceBattery) {
            m_onBatterySince = GetWallSeconds();
            m_secondsOnBattery = 1;
        } else {
            m_secondsOnBattery = 0;
        }
        m_linkState = 0;
        CountPoll(true);
    } catch (const CPVXException&) {
        ResetValues();
        CountPoll(false);
    }
}

void CAbstractUPS::CountPoll(bool success)
{
    if (m_pollCounters == nullptr)
        return;
    ++m_pollCounters->polls;
    if (success)
        m_pollCounters->lastSuccess = Now();
    else
        ++m_pollCounters->failedPolls;
}

void CAbstractUPS::RunControlTimers()
{
    if (m_shutdownDue != kNoDueTime) {
        if (InsideWarningWindow(m_shutdownDue, m_shutdownWarningWindow)) {
            if (!m_shutdownTrapSent)
                QueueTrap(std::make_unique<CSNMPTrap>(6, 1, kVendorTrapsEnterprise));
            m_shutdownTrapSent = true;
        }
        // The UPS was programmed when the shutdown was scheduled.
        if (m_shutdownDue < Now())
            m_shutdownDue = kNoDueTime;
    } else if (m_timedCommandDue != kNoDueTime && m_timedCommandDue < Now()) {
        CDisarmOnExit disarm(m_timedCommandDue);
        ApplyTimedCommand();
    } else if (m_startupDue != kNoDueTime) {
        if (InsideWarningWindow(m_startupDue, m_startupWarningWindow)) {
            if (!m_shutdownTrapSent)
                QueueTrap(std::make_unique<CSNMPTrap>(6, 2, kVendorTrapsEnterprise));
            m_shutdownTrapSent = true;
        }
        if (m_startupDue < Now()) {
            CDisarmOnExit disarm(m_startupDue);
            ApplyStartupSchedule();
        }
    }
}

void CAbstractUPS::Update()
{
    try {
        RunControlTimers();

        const int previousSource = m_outputSource;
        const int previousSummary = m_testResultSummary;
        ReadValues();

        if (previousSummary == kTestInProgress && m_testResultSummary != kTestInProgress) {
            ++m_testSpinLock;
            m_testElapsedTime = GetMilliseconds() - m_testStartTime;
            static const COid* const kNames[] = { &kTestIdName, &kTestSpinLockName, &kTestSummaryName, &kTestDetailName,
                &kTestStartTimeName, &kTestElapsedTimeName };
            QueueTrapWithBindings(2, kNames);
        }

        if (m_outputSource == kOutputSourceBattery) {
            if (previousSource == kOutputSourceBattery) {
                std::time_t seconds = GetWallSeconds() - m_onBatterySince;
                if (seconds < 1)
                    seconds = 1;
                m_secondsOnBattery = seconds > std::numeric_limits<std::uint32_t>::max()
                    ? std::numeric_limits<std::uint32_t>::max()
                    : static_cast<std::uint32_t>(seconds);
            } else {
                m_onBatterySince = GetWallSeconds();
                m_secondsOnBattery = 1;
            }
            const std::int64_t now = Now();
            if (!m_nextOnBatteryTrap || *m_nextOnBatteryTrap < now) {
                m_nextOnBatteryTrap = now + kOnBatteryTrapInterval;
                // RFC 1628 upsTrapOnBattery names upsConfigLowBattTime too.
                static const COid* const kNames[] = { &kMinutesRemainingName, &kSecondsOnBatteryName,
                    &kLowBattTimeName };
                QueueTrapWithBindings(1, std::span(kNames).first(UsesStandardTraps() ? 3 : 2));
            }
        } else {
            m_secondsOnBattery = 0;
        }
        m_linkState = 0;
        CountPoll(true);
    } catch (const CPVXException&) {
        CountPoll(false);
        // A lost link stays lost; only a successful pass brings it back.
        if (m_linkState >= 0)
            ++m_linkState;
        if (m_linkState > kMaxFailedPasses)
            ResetValues();
    }
}

std::unique_ptr<CSNMPTrap> CAbstractUPS::NewUpsTrap(std::int32_t specific) const
{
    auto trap = std::make_unique<CSNMPTrap>(6, specific, kUpsTrapsEnterprise);
    if (m_standardValues)
        trap->SetEnterpriseForm(EWireForm::OidAsIs);
    return trap;
}

void CAbstractUPS::QueueTrapWithBindings(std::int32_t specific, std::span<const COid* const> bindingNames)
{
    auto trap = NewUpsTrap(specific);
    for (const COid* name : bindingNames) {
        auto binding = GetMIBData(name->Arcs(), false);
        binding->SetName(*name);
        trap->AddBinding(std::move(binding));
    }
    QueueTrap(std::move(trap));
}

void CAbstractUPS::QueueTrap(std::unique_ptr<CSNMPTrap> trap)
{
    if (!trap)
        return;
    // Without an agent draining the queue it would grow for the life of the
    // process; the newest traps are the ones worth keeping.
    while (m_traps.size() >= kMaxPendingTraps)
        m_traps.pop_front();
    m_traps.push_back(std::move(trap));
}

std::unique_ptr<CSNMPTrap> CAbstractUPS::TakeNextTrap()
{
    if (m_traps.empty())
        return nullptr;
    auto trap = std::move(m_traps.front());
    m_traps.pop_front();
    return trap;
}

bool CAbstractUPS::CanShutdown(int)
{
    return false;
}
bool CAbstractUPS::CanRunTimedCommand()
{
    return false;
}
bool CAbstractUPS::CanStartup()
{
    return false;
}
bool CAbstractUPS::CanReboot()
{
    return false;
}
bool CAbstractUPS::CanAbortTest()
{
    return false;
}
bool CAbstractUPS::CanGeneralSystemsTest()
{
    return false;
}
bool CAbstractUPS::CanQuickBatteryTest()
{
    return false;
}
bool CAbstractUPS::CanDeepBatteryCalibration()
{
    return false;
}
bool CAbstractUPS::CanCommand95()
{
    return false;
}
bool CAbstractUPS::CanOutletCommand2()
{
    return false;
}
bool CAbstractUPS::CanOutletCommand1()
{
    return false;
}
bool CAbstractUPS::CanOutletOnDelay()
{
    return false;
}
bool CAbstractUPS::CanOutletOffDelay()
{
    return false;
}
bool CAbstractUPS::Measures(EMeasurement) const
{
    return true;
}
void CAbstractUPS::GetOutlets(std::vector<OutletEntry>& outlets)
{
    outlets.clear();
}
int CAbstractUPS::OutletCommand2(int, int)
{
    return 0;
}
int CAbstractUPS::OutletOffDelay(int, int)
{
    return 0;
}
int CAbstractUPS::OutletOnDelay(int, int)
{
    return 0;
}
int CAbstractUPS::OutletCommand1(int, int)
{
    return 0;
}
void CAbstractUPS::ApplyShutdownSchedule() { }
void CAbstractUPS::ApplyTimedCommand() { }
void CAbstractUPS::ApplyStartupSchedule() { }
void CAbstractUPS::ApplyRebootSchedule() { }
void CAbstractUPS::AbortTest() { }
void CAbstractUPS::StartGeneralSystemsTest() { }
void CAbstractUPS::StartBatteryTest(int, int) { }
void CAbstractUPS::StartDeepBatteryCalibration() { }

} // namespace pvx
