// The power policy against a scripted UPS and a fake clock: which changes
// make which events (once each), when the UPS is critical, what each step
// of the shutdown does to FSD and the UPS, and the notification command's
// bound under a burst of events.
#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "power/PowerPolicy.h"
#include "tests/ups/TestUPS.h"
#include "ups/WellKnown.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

using namespace pvx;
using namespace pvx::power;
using namespace std::chrono_literals;

// The cases name only the settings they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct SRecorder : IPowerObserver {
    void OnPowerEvent(const SPowerEvent& event) override { names += std::string(EventName(event.kind)) + " "; }
    std::string names;
};

struct SHosts : IClientHosts {
    void RaiseFSD() override { fsd = true; }
    void ClearFSD() override { fsd = false; }
    bool IsFSDRaised() const override { return fsd; }
    unsigned LoggedInClients() const override { return clients; }
    bool fsd = false;
    unsigned clients = 1;
};

// One UPS state a pass: the source and the alarms present.
struct SPass {
    int source;
    std::vector<const COid*> alarms;
};

void Apply(test::CTestUPS& ups, const SPass& pass)
{
    ups.m_linkState = 0;
    ups.m_outputSource = pass.source;
    ups.m_minutesRemaining = 30;
    ups.m_lowBatteryTime = 2;
    ups.MarkAlarmsStale();
    for (const COid* alarm : pass.alarms)
        ups.RaiseAlarm(*alarm);
    ups.RemoveStaleAlarms();
}

TEST(PowerMonitor, EachChangeOfStateIsOneEvent)
{
    const struct {
        const char* name;
        std::vector<SPass> passes;
        const char* events;
    } cases[] = {
        { "steady on line", { { 3, {} }, { 3, {} } }, "" },
        { "outage and return", { { 3, {} }, { 5, {} }, { 5, {} }, { 3, {} } }, "ONBATT ONLINE " },
        { "found on battery", { { 5, {} } }, "ONBATT " },
        { "unknown source is no return", { { 5, {} }, { 1, {} }, { 5, {} } }, "ONBATT " },
        { "the on-battery alarm tells first", { { 3, { &kUpsAlarmOnBattery } }, { 5, { &kUpsAlarmOnBattery } } },
          "ONBATT " },
        { "low then depleted then normal",
          { { 5, { &kUpsAlarmLowBattery } }, { 5, { &kUpsAlarmDepletedBattery } }, { 3, {} } },
          "ONBATT LOWBATT DEPLETED ONLINE BATTNORMAL " },
        { "overload and bypass end", { { 4, { &kUpsAlarmOutputOverload } }, { 3, {} } },
          "OVERLOAD BYPASS OVERLOAD_END BYPASS_END " },
        { "output off", { { 2, {} }, { 3, {} } }, "OFF OFF_END " },
    };
    for (const auto& c : cases) {
        test::CTestUPS ups;
        CPowerMonitor monitor;
        SRecorder recorder;
        monitor.AddObserver(recorder);
        bool first = true;
        for (const SPass& pass : c.passes) {
            Apply(ups, pass);
            monitor.Observe(&ups, std::exchange(first, false), false);
        }
        EXPECT_EQ(recorder.names, c.events) << c.name;
    }
}

TEST(PowerMonitor, LostAndFoundAndTheDefaultsOfANewUps)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    test::CTestUPS ups;
    CPowerMonitor monitor;
    SRecorder recorder;
    monitor.AddObserver(recorder);
    ups.m_linkState = 0; // connected, but the source not read yet: nothing is told
    monitor.Observe(&ups, true, false);
    EXPECT_FALSE(monitor.IsKnown());
    Apply(ups, { 5, {} });
    monitor.Observe(&ups, false, false);
    clock.Advance(30000);
    monitor.Observe(nullptr, false, true);
    Apply(ups, { 3, {} });
    monitor.Observe(&ups, true, true);
    EXPECT_EQ(recorder.names, "ONBATT FSD COMMBAD COMMOK ONLINE ");
}

TEST(Shutdown, OnlyACriticalUpsRunsTheSequenceAndReturningPowerCancelsIt)
{
    CFakeClock clock;
    CScopedClock scoped(clock);
    const struct {
        const char* name;
        SShutdownSettings settings;
        std::vector<SPass> passes; // one second apart; an empty pass loses the UPS
        unsigned clientsAtEnd;
        CShutdownSequence::EStep step;
        bool fsd;
        const char* actions;
    } cases[] = {
        { "lost on line", { .enabled = true, .lostSeconds = 1 }, { { 3, {} }, {}, {}, {} }, 1,
          CShutdownSequence::EStep::Idle, false, "" },
        { "short outage", { .enabled = true, .onBatterySeconds = 10 }, { { 5, {} }, { 5, {} }, { 3, {} } }, 1,
          CShutdownSequence::EStep::Idle, false, "" },
        { "low battery, clients stay", { .enabled = true }, { { 5, { &kUpsAlarmLowBattery } }, { 5, {} } }, 1,
          CShutdownSequence::EStep::WaitingForClients, true, "" },
        { "power back during the wait", { .enabled = true }, { { 5, { &kUpsAlarmLowBattery } }, { 3, {} } }, 1,
          CShutdownSequence::EStep::Idle, false, "" },
        { "lost on battery", { .enabled = true, .lostSeconds = 2 }, { { 5, {} }, {}, {}, {} }, 1,
          CShutdownSequence::EStep::WaitingForClients, true, "" },
        { "on battery too long", { .enabled = true, .onBatterySeconds = 2 }, { { 5, {} }, { 5, {} }, { 5, {} } }, 1,
          CShutdownSequence::EStep::WaitingForClients, true, "" },
        { "clients gone, UPS off in whole minutes", { .enabled = true, .upsOffDelaySeconds = 61 },
          { { 5, { &kUpsAlarmLowBattery } }, { 5, {} } }, 0, CShutdownSequence::EStep::Done, true,
          "ApplyShutdownSchedule 120 " },
        { "dry run takes no step", { .enabled = true, .dryRun = true, .upsOffDelaySeconds = 60 },
          { { 5, { &kUpsAlarmLowBattery } }, { 5, {} } }, 0, CShutdownSequence::EStep::Done, false, "" },
        { "disabled", { .enabled = false }, { { 5, { &kUpsAlarmLowBattery } } }, 0, CShutdownSequence::EStep::Idle,
          false, "" },
    };
    for (const auto& c : cases) {
        test::CTestUPS ups;
        ups.shutdownTypes = { 1 };
        CPowerMonitor monitor;
        CShutdownSequence sequence;
        sequence.Configure(c.settings);
        SHosts hosts;
        bool first = true;
        for (std::size_t i = 0; i < c.passes.size(); ++i) {
            const bool lost = c.passes[i].source == 0;
            if (!lost)
                Apply(ups, c.passes[i]);
            if (i + 1 == c.passes.size())
                hosts.clients = c.clientsAtEnd;
            monitor.Observe(lost ? nullptr : &ups, std::exchange(first, false), hosts.fsd);
            sequence.Step(monitor, lost ? nullptr : &ups, &hosts);
            clock.Advance(1000);
        }
        EXPECT_EQ(sequence.GetStep(), c.step) << c.name;
        EXPECT_EQ(hosts.fsd, c.fsd) << c.name;
        std::string actions;
        for (std::size_t i = 0; i < ups.actions.size(); ++i)
            actions += ups.actions[i] + " " + std::to_string(ups.dueSeen[i] < 0 ? -1 : (ups.dueSeen[i] - CAbstractUPS::Now() + 1999) / 1000) + " ";
        EXPECT_EQ(actions, c.actions) << c.name;
    }
}

TEST(Commands, SplitCommandLineKeepsQuotedBlanksAndNoShell)
{
    const struct {
        const char* text;
        std::vector<std::string> words;
    } cases[] = {
        { "", {} },
        { "  /usr/bin/systemctl   poweroff ", { "/usr/bin/systemctl", "poweroff" } },
        { "/bin/x \"a b\" c\\ d \"\"", { "/bin/x", "a b", "c d", "" } },
        { "/bin/x $HOME;rm", { "/bin/x", "$HOME;rm" } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(c.text), c.words) << c.text;
}

TEST(Commands, ABurstOfEventsStartsABoundedNumberAndAMissingProgramIsNoChild)
{
    char folder[] = "/tmp/pvx-power-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string log = std::string(folder) + "/runs", script = std::string(folder) + "/notify.sh";
    std::ofstream(script) << "#!/bin/sh\necho \"$PVX_EVENT $PVX_COALESCED\" >> " << log << "\nsleep 0.3\n";
    ::chmod(script.c_str(), 0755);
    CNotifyCommand notify;
    notify.Configure({ script }, 5);
    SPowerEvent event;
    for (int i = 0; i < 100; ++i) {
        event.kind = i == 99 ? EPowerEvent::PowerRestored : EPowerEvent::OnBattery;
        notify.OnPowerEvent(event);
        EXPECT_LE(notify.Running(), CNotifyCommand::kMaxRunning);
    }
    for (int i = 0; i < 100 && notify.Running() > 0; ++i) {
        std::this_thread::sleep_for(50ms);
        notify.Poll();
    }
    EXPECT_EQ(notify.Running(), 0u);
    std::ifstream in(log);
    std::vector<std::string> runs;
    for (std::string line; std::getline(in, line);)
        runs.push_back(line);
    ASSERT_EQ(runs.size(), CNotifyCommand::kMaxRunning + 1) << "four at once, the rest folded into one";
    EXPECT_EQ(runs.back(), "ONLINE 95");

    CChildProcess child;
    std::string error;
    EXPECT_FALSE(child.Start({ std::string(folder) + "/none" }, {}, error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    std::filesystem::remove_all(folder);
}

} // namespace
