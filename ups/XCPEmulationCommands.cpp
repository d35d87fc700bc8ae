// The model's own answers to XCP control commands: start-up, shutdown,
// reboot, outlets and tests, turned into the model's capability queries and actions.
#include "ups/XCPEmulation.h"

#include "ups/AbstractUPS.h"
#include "xcp/link/XCPFrame.h"

namespace pvx {

namespace {

// In the outlet byte of a schedule command: the whole UPS, not one outlet.
constexpr std::uint8_t kNoOutlet = 0xFF;
constexpr int kShutdownOutput = 1;

// Outlet actions return the device's result code: 0 (nothing to report) and
// 0x31 are "done"; any other status byte goes back to the client as it is,
// so a refused command is not reported as carried out.
std::uint8_t StatusFromResult(int result)
{
    if (result == 0 || result == kXCPAccepted || result == kXCPAcceptedAlso)
        return kXCPAccepted;
    if (result > 0 && result <= 0xFF)
        return static_cast<std::uint8_t>(result);
    return kXCPNotAvailable;
}

// The command-status reply to `request`, echoing it.
std::vector<std::uint8_t> Answer(CAbstractUPS& ups, const CXCPRequest& request, std::uint8_t status)
{
    return ups.BuildCommandStatusReply(static_cast<std::uint8_t>(request.Length()), request.Contents(), status);
}

// A command that is either offered or not, takes one form, and is carried
// out at once.
template <typename Act>
std::vector<std::uint8_t> AnswerAtOnce(
    CAbstractUPS& ups, const CXCPRequest& request, bool available, bool wellFormed, Act act)
{
    if (!available)
        return Answer(ups, request, kXCPNotAvailable);
    if (!wellFormed)
        return Answer(ups, request, kXCPBadParameter);
    act();
    return Answer(ups, request, kXCPAccepted);
}

// Delayed start-up and shutdown share their form: minutes in 16 bits, then
// the outlet byte, which 0xFF (or its absence) makes the whole UPS. A driver
// that throws leaves the schedule as it was, and the frame gets no answer.
template <typename Schedule, typename CanOutlet, typename OutletDelay>
std::vector<std::uint8_t> AnswerDelayed(CAbstractUPS& ups, const CXCPRequest& request, bool available,
    Schedule schedule, CanOutlet canOutlet, OutletDelay outletDelay)
{
    if (!available)
        return Answer(ups, request, kXCPNotAvailable);
    const std::int64_t minutes = request.Data16(0);
    if (request.Length() == 3 || (request.Length() == 4 && request.Data(2) == kNoOutlet)) {
        const auto due = CAbstractUPS::DueTimeAfter(CAbstractUPS::Now(), minutes * 60);
        if (!due)
            return Answer(ups, request, kXCPBadParameter);
        schedule(*due);
        return Answer(ups, request, kXCPAccepted);
    }
    if (request.Length() == 4) {
        if (!canOutlet())
            return Answer(ups, request, kXCPNotAvailable);
        return Answer(ups, request, StatusFromResult(outletDelay(request.Data(2), static_cast<int>(minutes * 60))));
    }
    return Answer(ups, request, kXCPBadParameter);
}

} // namespace

// ---- Commands ----------------------------------------------------------------------------
// Each answers with the command status and the request echoed: 0x32 when
// the capability is missing, 0x36 when the form is not one the command takes.

std::vector<std::uint8_t> CAbstractUPS::DoStartupNow(std::span<const std::uint8_t> frame)
{
    const CXCPRequest request(frame);
    return AnswerAtOnce(*this, request, CanStartup(),
        request.Length() == 1 || (request.Length() == 2 && request.Data(0) == kNoOutlet),
        [this] { ScheduleStartup(Now()); });
}

std::vector<std::uint8_t> CAbstractUPS::DoReboot(std::span<const std::uint8_t> frame)
{
    const CXCPRequest request(frame);
    const auto answer = [&](std::uint8_t status) { return Answer(*this, request, status); };
    if (!CanReboot())
        return answer(kXCPNotAvailable);
    std::int64_t seconds = 0;
    if (request.Length() == 2)
        seconds = request.Data(0);
    else if (request.Length() == 3 || (request.Length() == 4 && request.Data(2) == kNoOutlet))
        seconds = request.Data16(0);
    else
        return answer(kXCPBadParameter);
    const auto due = DueTimeAfter(Now(), seconds);
    if (!due)
        return answer(kXCPBadParameter);
    ScheduleReboot(*due);
    return answer(kXCPAccepted);
}

std::vector<std::uint8_t> CAbstractUPS::DoShutdownNow(std::span<const std::uint8_t> frame)
{
    const CXCPRequest request(frame);
    const auto answer = [&](std::uint8_t status) { return Answer(*this, request, status); };
    if (!CanShutdown(kShutdownOutput))
        return answer(kXCPNotAvailable);
    if (request.Length() == 1 || (request.Length() == 2 && request.Data(0) == kNoOutlet)) {
        ScheduleShutdown(Now(), { .outputShutdown = true });
        return answer(kXCPAccepted);
    }
    if (request.Length() == 2) {
        // One outlet off: after the UPS's 30-second warning.
        if (!CanOutletOffDelay())
            return answer(kXCPNotAvailable);
        return answer(StatusFromResult(OutletOffDelay(request.Data(0), 30)));
    }
    return answer(kXCPBadParameter);
}

std::vector<std::uint8_t> CAbstractUPS::DoDelayedStartup(std::span<const std::uint8_t> frame)
{
    return AnswerDelayed(
        *this, CXCPRequest(frame), CanStartup(), [this](std::int64_t due) { ScheduleStartup(due); },
        [this] { return CanOutletOnDelay(); },
        [this](int outlet, int seconds) { return OutletOnDelay(outlet, seconds); });
}

std::vector<std::uint8_t> CAbstractUPS::DoDelayedShutdown(std::span<const std::uint8_t> frame)
{
    // One outlet goes off after the UPS's 30-second warning.
    return AnswerDelayed(
        *this, CXCPRequest(frame), CanShutdown(kShutdownOutput), [this](std::int64_t due) { ScheduleShutdown(due); },
        [this] { return CanOutletOffDelay(); },
        [this](int outlet, int seconds) { return OutletOffDelay(outlet, seconds + 30); });
}

std::vector<std::uint8_t> CAbstractUPS::DoCommand95(std::span<const std::uint8_t>)
{
    // Setting the UPS's parameters needs the UPS itself; drivers forward it.
    return {};
}

std::vector<std::uint8_t> CAbstractUPS::DoOutletCommand(std::span<const std::uint8_t> frame)
{
    const CXCPRequest request(frame);
    const auto answer = [&](std::uint8_t status) { return Answer(*this, request, status); };
    // Sub-command, outlet and a 16-bit value: a shorter form names no command.
    if (request.Length() < 5)
        return answer(kXCPNotAvailable);
    const int outlet = request.Data(1);
    const int value = request.Data16(2);
    switch (request.Data(0)) {
    case 1:
        if (CanOutletCommand1())
            return answer(StatusFromResult(OutletCommand1(outlet, value)));
        break;
    case 2:
        if (CanOutletCommand2())
            return answer(StatusFromResult(OutletCommand2(outlet, value)));
        break;
    case 3:
        if (CanOutletOffDelay())
            return answer(StatusFromResult(OutletOffDelay(outlet, (value + 7680) % 65536)));
        break;
    case 4:
        if (CanOutletOnDelay())
            return answer(StatusFromResult(OutletOnDelay(outlet, value)));
        break;
    default:
        break;
    }
    return answer(kXCPNotAvailable);
}

std::vector<std::uint8_t> CAbstractUPS::DoBatteryTest(std::span<const std::uint8_t> frame)
{
    // The test type and its duration.
    const CXCPRequest request(frame);
    return AnswerAtOnce(*this, request, CanQuickBatteryTest(), request.Length() >= 3,
        [this, &request] { RunQuickBatteryTest(request.Data(0), request.Data(1)); });
}

std::vector<std::uint8_t> CAbstractUPS::DoTestCommand(std::span<const std::uint8_t> frame)
{
    const CXCPRequest request(frame);
    return AnswerAtOnce(*this, request, CanGeneralSystemsTest(), request.Length() >= 2 && request.Data(0) == 1,
        [this] { RunGeneralSystemsTest(); });
}

} // namespace pvx

