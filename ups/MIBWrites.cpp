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

std::int64_t DueTimeOrRefuse(std::int64_t seconds)
{
    auto due = CAbstractUPS::DueTimeAfter(CAbstractUPS::Now(), seconds);
    if (!due)
        ThrowEvent(EVENT_BAD_VALUE);
    return *due;
}

// A timer's new due time: seconds from now, or `cancel` (-1 for the standard
// objects, 0 for the vendor's) to cancel what is due, refused when nothing is.
std::int64_t NewDueTime(std::int64_t v, std::int64_t cancel, std::int64_t due)
{
    if (v < cancel || (v == cancel && due == CAbstractUPS::kNoDueTime))
        ThrowEvent(EVENT_BAD_VALUE);
    return v == cancel ? CAbstractUPS::kNoDueTime : DueTimeOrRefuse(v);
}

// RFC 1628's timers: read-only on a UPS that cannot run the command at all,
// -1 cancels.
std::int64_t StandardDueTime(bool capable, std::int64_t v, std::int64_t due)
{
    if (!capable)
        ThrowEvent(EVENT_READ_ONLY);
    return NewDueTime(v, -1, due);
}

// The vendor's timers: refused as a bad value on a UPS that cannot run the
// command at all, 0 cancels.
std::int64_t VendorDueTime(bool capable, const CMIBData& value, std::int64_t due)
{
    if (!capable)
        ThrowEvent(EVENT_BAD_VALUE);
    return NewDueTime(value.GetInteger(), 0, due);
}

} // namespace

void CAbstractUPS::BeginSet()
{
    m_setOpen = true;
    m_checkedShutdownType.reset();
    m_undo.clear();
}

void CAbstractUPS::CheckInstance(std::span<const std::uint32_t> arcs, CMIBData& value)
{
    struct SChecking {
        bool& flag;
        explicit SChecking(bool& f)
            : flag(f)
        {
            flag = true;
        }
        ~SChecking() { flag = false; }
    } checking(m_checkingSet);
    SetInstance(arcs, value);
}

bool CAbstractUPS::UndoSet()
{
    bool restored = true;
    // Newest first: a later write may rest on an earlier one.
    for (auto step = m_undo.rbegin(); step != m_undo.rend(); ++step) {
        if (!*step) {
            restored = false;
            continue;
        }
        try {
            (*step)();
        } catch (...) {
            restored = false;
        }
    }
    m_undo.clear();
    return restored;
}

void CAbstractUPS::EndSet()
{
    m_setOpen = false;
    m_checkedShutdownType.reset();
    m_undo.clear();
}

void CAbstractUPS::RecordUndo(std::function<void()> undo)
{
    if (m_setOpen && !m_checkingSet)
        m_undo.push_back(std::move(undo));
}

int CAbstractUPS::ShutdownTypeForSet() const
{
    return m_checkingSet && m_checkedShutdownType ? *m_checkedShutdownType : m_shutdownType;
}

void CAbstractUPS::RestoreShutdown(std::int64_t due, bool warningSent, int type)
{
    m_shutdownType = type;
    ScheduleShutdown(due);
    m_shutdownTrapSent = warningSent;
}

void CAbstractUPS::WriteIdentText(std::string& member, const SConfigKey& key, const CMIBData& value)
{
    const std::string& text = value.GetText();
    // The text becomes one "key=value" line of the configuration: a line
    // break or a zero byte would inject lines, and a line longer than the
    // reader takes would be read back as two.
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        ThrowEvent(EVENT_BAD_VALUE);
    if (std::strlen(key.key) + 1 + text.size() + 1 > kMaxConfigLine)
        ThrowEvent(EVENT_BAD_VALUE);
    if (IsCheckingSet())
        return;
    // The file first: a value that could not be stored would be gone at the
    // next reset, so the manager is told (genErr) and the model keeps the old one.
    auto store = [this, &member, &key](const std::string& stored) {
        if (m_configuration && !m_configuration->WriteString(key.section, key.key, stored)) {
            int error = GetLastError();
            throw CPVXException(error > 0 && error < 0x10000 ? static_cast<std::uint32_t>(error) : EIO);
        }
        member = stored;
    };
    const std::string old = member;
    store(text);
    RecordUndo([store, old] { store(old); });
}

void CAbstractUPS::WriteTestId(const CMIBData& value)
{
    // Whole identifiers are compared, up to their terminating 0 arc.
    const COid* requested = value.GetOid();
    auto is = [requested](const COid& test) { return requested && *requested == test; };

    if (is(kUpsTestAbortTestInProgress) && CanAbortTest()) {
        if (IsCheckingSet())
            return;
        AbortTest();
        RecordUndo({}); // an aborted test cannot be resumed
        return;
    }
    if (m_testResultSummary == kTestInProgress)
        ThrowEvent(EVENT_READ_ONLY);
    const bool general = is(kUpsTestGeneralSystemsTest) && CanGeneralSystemsTest();
    const bool quick = is(kUpsTestQuickBatteryTest) && CanQuickBatteryTest();
    const bool deep = is(kUpsTestDeepBatteryCalibration) && CanDeepBatteryCalibration();
    if (!general && !quick && !deep)
        ThrowEvent(EVENT_BAD_VALUE);
    if (IsCheckingSet())
        return;
    if (general)
        RunGeneralSystemsTest();
    else if (quick)
        RunQuickBatteryTest(1, 15);
    else
        RunDeepBatteryCalibration();
    RecordUndo({}); // a started test cannot be taken back
}

void CAbstractUPS::WriteTestSpinLock(const CMIBData& value)
{
    if (m_standardValues) {
        // TestAndIncr (RFC 2579): only the present value is taken, and
        // taking it moves the lock on, so that one of two managers wins.
        if (static_cast<std::uint32_t>(value.GetInteger()) != m_testSpinLock)
            throw CPVXException(EVENT_INCONSISTENT_VALUE);
        if (IsCheckingSet())
            return;
        const std::uint32_t old = m_testSpinLock;
        m_testSpinLock = old >= static_cast<std::uint32_t>(kMIBIntMax) ? 0 : old + 1;
        RecordUndo([this, old] { m_testSpinLock = old; });
        return;
    }
    if (m_testResultSummary == kTestInProgress)
        ThrowEvent(EVENT_BAD_VALUE);
    if (IsCheckingSet())
        return;
    const std::uint32_t old = m_testSpinLock;
    m_testSpinLock = static_cast<std::uint32_t>(value.GetInteger()); // 0 or more: checked with the object
    RecordUndo([this, old] { m_testSpinLock = old; });
}

void CAbstractUPS::WriteShutdownType(const CMIBData& value)
{
    const int type = value.GetInteger();
    if (!CanShutdown(type))
        ThrowEvent(EVENT_BAD_VALUE);
    if (IsCheckingSet()) {
        m_checkedShutdownType = type; // for a delay later in the same SET
        return;
    }
    const int old = m_shutdownType;
    m_shutdownType = type;
    RecordUndo([this, old] { m_shutdownType = old; });
}

void CAbstractUPS::WriteShutdownAfterDelay(const CMIBData& value)
{
    const std::int64_t v = value.GetInteger();
    const std::int64_t newDue = StandardDueTime(CanShutdown(ShutdownTypeForSet()), v, m_shutdownDue);
    if (IsCheckingSet())
        return;
    const std::int64_t oldDue = m_shutdownDue;
    const bool oldWarning = m_shutdownTrapSent;
    const int oldType = m_shutdownType;
    ScheduleShutdown(newDue, { .rewarn = v != -1 });
    RecordUndo([this, oldDue, oldWarning, oldType] { RestoreShutdown(oldDue, oldWarning, oldType); });
}

void CAbstractUPS::WriteStartupAfterDelay(const CMIBData& value)
{
    const std::int64_t v = value.GetInteger();
    const std::int64_t newDue = StandardDueTime(CanStartup(), v, m_startupDue);
    if (IsCheckingSet())
        return;
    const std::int64_t oldDue = m_startupDue;
    const bool oldWarning = m_shutdownTrapSent;
    ScheduleStartup(newDue, { .rewarn = v != -1 });
    RecordUndo([this, oldDue, oldWarning] {
        ScheduleStartup(oldDue);
        m_shutdownTrapSent = oldWarning;
    });
}

void CAbstractUPS::WriteRebootWithDuration(const CMIBData& value)
{
    if (!CanShutdown(ShutdownTypeForSet()) || !CanReboot())
        ThrowEvent(EVENT_READ_ONLY);
    const std::int64_t v = value.GetInteger();
    if (v < 1)
        ThrowEvent(EVENT_BAD_VALUE);
    const std::int64_t returnDue = DueTimeOrRefuse(v);
    if (IsCheckingSet())
        return;
    ScheduleReboot(returnDue);
    RecordUndo({}); // the output went off at once
}

void CAbstractUPS::WriteVendorQuickTest(const CMIBData&)
{
    // The value is not looked at, and a running test does not block it.
    if (!CanQuickBatteryTest())
        ThrowEvent(EVENT_BAD_VALUE);
    if (IsCheckingSet())
        return;
    RunQuickBatteryTest(1, 15);
    RecordUndo({});
}

void CAbstractUPS::WriteVendorShutdown(const CMIBData& value)
{
    const std::int64_t newDue = VendorDueTime(CanShutdown(1), value, m_shutdownDue);
    if (IsCheckingSet())
        return;
    const std::int64_t oldDue = m_shutdownDue;
    const bool oldWarning = m_shutdownTrapSent;
    const int oldType = m_shutdownType;
    // Programmed into the UPS now, as upsShutdownAfterDelay does: the
    // control timer only clears the due time once it has passed.
    ScheduleShutdown(newDue, { .outputShutdown = true });
    RecordUndo([this, oldDue, oldWarning, oldType] { RestoreShutdown(oldDue, oldWarning, oldType); });
}

void CAbstractUPS::WriteVendorStartup(const CMIBData& value)
{
    // The control timer starts the UPS when the time comes.
    const std::int64_t newDue = VendorDueTime(CanStartup(), value, m_startupDue);
    if (IsCheckingSet())
        return;
    const std::int64_t oldDue = m_startupDue;
    m_startupDue = newDue;
    RecordUndo([this, oldDue] { m_startupDue = oldDue; });
}

void CAbstractUPS::WriteWarningWindow(std::int64_t& window, const CMIBData& value)
{
    const std::int64_t v = value.GetInteger();
    if (v < -1)
        ThrowEvent(EVENT_BAD_VALUE);
    if (IsCheckingSet())
        return;
    const std::int64_t old = window;
    window = v == -1 ? kUnlimitedWindow : v * 1000;
    RecordUndo([&window, old] { window = old; });
}

void CAbstractUPS::WriteVendorTimedCommand(const CMIBData& value)
{
    const std::int64_t newDue = VendorDueTime(CanRunTimedCommand(), value, m_timedCommandDue);
    if (IsCheckingSet())
        return;
    const std::int64_t oldDue = m_timedCommandDue;
    if (newDue == kNoDueTime)
        m_timedCommandDue = kNoDueTime;
    else
        ScheduleTimedCommand(newDue);
    RecordUndo([this, oldDue] {
        if (oldDue == kNoDueTime)
            m_timedCommandDue = kNoDueTime;
        else
            ScheduleTimedCommand(oldDue);
    });
}

} // namespace pvx
