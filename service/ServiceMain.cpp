// The service: builds the port, the network services and the UPS object from
// the configuration, then runs the one loop that serves one network client,
// lets the UPS poll once and sends its traps, about once a second. With
// Service/ReloadOnHangup a SIGHUP re-reads pvx.ini between two passes.
#include "service/ServiceMain.h"

#include "dummy/DummyUPS.h"
#include "events/PVXException.h"
#include "http/StatusNames.h"
#include "platform/Portability.h"
#include "service/NetworkWait.h"
#include "service/ProcessEntry.h"
#include "service/SerialWaitLender.h"
#include "service/ServiceState.h"
#include "ups/Readings.h"
#include "xcp/driver/Settings.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

namespace pvx {

namespace {

constexpr int kXCPUPSType = 2;
// A loop stalled on purpose (the environment's PVX_TEST_STALL_AFTER_PASSES,
// set by tests only) sleeps this long, so that the watchdog sees no keep-alive.
constexpr std::uint32_t kStallMs = 60000;

// With the simulated driver an empty device means no serial port at all: it
// is never opened, and what the driver sends or reads there does nothing.
bool HasNoPort(const SService& service)
{
    return service.driver == EDriver::Simulated && service.port->GetDevice().empty();
}

void SetUpPort(SService& service)
{
    const CINIFile& file = *service.configuration;
    unsigned speed = ReadUnsigned(file, keys::kCommunicationsBaudRate);
    if (speed == 0)
        speed = ReadUnsigned(file, keys::kCommunicationsBaudRateLast);
    if (speed == 0) // 0 there too means that key's default
        speed = DefaultUnsigned(keys::kCommunicationsBaudRateLast);
    std::string device = ReadString(file, keys::kCommunicationsPort);
    service.port = std::make_unique<CCommPort>(device, static_cast<int>(speed), 8, 2, 0);
    if (!HasNoPort(service))
        service.port->Open();
}

// The settings of the loop itself, taken at start and at every reload.
void ApplyLoopSettings(SService& service, const SSettings& settings, unsigned& counterLogInterval)
{
    service.responsive = settings.responsive;
    service.standardNames = settings.standardNames;
    service.standardValues = settings.standardValues;
    // SNMPv2 notifications carry RFC 1628's choice of traps and bindings.
    service.standardTraps = settings.notify.version != ETrapVersion::V1;
    if (service.ups) {
        service.ups->SetStandardNames(settings.standardNames);
        service.ups->SetStandardValues(settings.standardValues);
        service.ups->SetStandardTraps(service.standardTraps);
    }
    // A new counter log starts its interval again: only when it changed.
    if (settings.counterLogInterval != counterLogInterval) {
        service.counterLog = CCounterLog(settings.counterLogInterval);
        counterLogInterval = settings.counterLogInterval;
    }
    service.reloadOnHangup = settings.reloadOnHangup;
    CatchHangup(settings.reloadOnHangup);
    service.power.Configure(settings.power);
}

// The RFC 9271 server's clients as the shutdown sequence sees them. FSD it
// takes back is taken back from the flag a reload carries over too.
class CNutHosts : public power::IClientHosts {
public:
    explicit CNutHosts(SService& service) : m_service(service) {}
    void RaiseFSD() override { m_service.nut->RaiseFSD(); }
    void ClearFSD() override
    {
        m_service.nut->ClearFSD();
        m_service.nutFSD = false;
    }
    bool IsFSDRaised() const override { return m_service.nut->IsFSDRaised(); }
    unsigned LoggedInClients() const override { return m_service.nut->LoggedInClients(); }

private:
    SService& m_service;
};

void SetUpNetwork(SService& service, const SSettings& settings)
{
    if (!NetworkStartup())
        throw CPVXException(EVENT_NETWORK_STARTUP);
    for (const SServiceStep& step : kServiceSteps)
        step.open(service, settings);
}

// The UPS's state in words for the service manager's status line.
std::string StatusText(const SService& service, bool detected)
{
    const CAbstractUPS* ups = service.ups.get();
    if (ups == nullptr || !ups->IsConnected())
        return detected ? "No UPS found" : "Looking for the UPS";
    SUPSReadings readings = ups->GetReadings();
    const status::SName* source = status::Find(status::kSources, readings.outputSource);
    std::string text = source != nullptr ? source->words : "Unknown output source";
    if (readings.chargeRemaining)
        text += ", charge " + std::to_string(*readings.chargeRemaining) + " %";
    return text;
}

// The loop's sleeps; the responsive loop serves the network meanwhile.
void Pause(SService& service, std::uint32_t ms)
{
    if (service.responsive)
        ServeWhileWaiting(service.agent.get(), service.relay.get(), service.ups.get(), ms, false,
                          service.http.get(), service.nut.get());
    else if (service.http || service.nut) // only these: SNMP and the relay keep one client per pass
        ServeWhileWaiting(nullptr, nullptr, service.ups.get(), ms, false, service.http.get(), service.nut.get());
    else
        Sleep(ms);
}

// One network client per pass: an SNMP request when one waits, otherwise the
// relay, which may wait for a datagram only while a real XCP UPS is polled.
// The responsive loop serves every client that comes within that wait.
void ServeNetwork(SService& service)
{
    CAbstractUPS* ups = service.ups.get();
    if (service.relay)
        service.relay->BeginPass(); // the relay's serial time is bounded per pass
    bool mayWait = ups != nullptr && !g_bUseInternalXCP && ups->GetUPSType() == kXCPUPSType;
    if (service.responsive) {
        ServeWhileWaiting(service.agent.get(), service.relay.get(), ups, mayWait ? 1000 : 0, true,
                          service.http.get(), service.nut.get());
        return;
    }
    if (service.agent && service.agent->IsRequestWaiting()) {
        service.agent->ServeRequest(ups);
        return;
    }
    if (!service.relay) {
        // The pass keeps the length it has with a relay that gets nothing.
        if (mayWait)
            Pause(service, 1000);
        return;
    }
    if (service.relay->WaitForRequest(mayWait ? 1000 : 0))
        service.relay->RelayRequests(ups);
}

void DetectUPS(SService& service, std::uint64_t pass)
{
    if (!HasNoPort(service)) {
        service.port->Close();
        service.port->Open();
    }
    // The simulated UPS takes the place of detection when it is chosen.
    if (service.driver == EDriver::Simulated)
        service.ups = std::make_unique<CDummyUPS>(service.port.get(), service.configuration.get());
    else
        service.ups = CAbstractUPS::Create(service.port.get(), service.configuration.get());
    if (!service.ups) {
        ReportNotice(EVENT_NO_UPS_FOUND);
        return;
    }
    service.newUps = true;
    service.ups->SetStandardNames(service.standardNames);
    service.ups->SetStandardValues(service.standardValues);
    service.ups->SetStandardTraps(service.standardTraps);
    service.ups->AttachPollCounters(service.polls);
    service.ups->Start();
    if (pass == 0)
        WriteWholeFile(Portability().GetStatusPath(), "Tessary started successfully.\n");
}

// The whole of pvx.ini is read and checked before anything changes, so a
// file that does not parse leaves every service as it was. Then only what
// changed is re-opened: the serial port (and with it the UPS, identified
// again) and each network service whose keys read differently. A service
// that cannot be re-opened stays closed and the others go on. Returns true
// when the UPS must be looked for at once.
bool Reload(SService& service, unsigned& counterLogInterval)
{
    service.notifier.Reloading();
    const CINIFile& file = *service.configuration;
    SSettings settings;
    std::string serial = KeysFingerprint(file, kSerialKeys);
    std::array<std::string, kServiceSteps.size()> fingerprints;
    try {
        settings = ReadSettings(file);
        for (std::size_t i = 0; i < kServiceSteps.size(); ++i)
            fingerprints[i] = StepFingerprint(kServiceSteps[i], file, settings);
        PrepareEngine(service, settings);
    } catch (const CPVXException& event) {
        CPVXException(EVENT_RELOAD_FAILED).Report(EPriority::Warning);
        event.Report(EPriority::Warning);
        return false;
    }
    std::string reopened;
    auto note = [&reopened](const std::string& what) { reopened += (reopened.empty() ? "" : ", ") + what; };
    bool detectNow = false;
    if (serial != service.serialFingerprint) {
        // A failure to open the new device ends pvx, as at every detection attempt.
        service.ups.reset();
        service.port.reset();
        service.driver = settings.driver;
        SetUpPort(service);
        service.serialFingerprint = serial;
        detectNow = true;
        note("serial port (the UPS is identified again)");
    }
    ApplyLoopSettings(service, settings, counterLogInterval);
    for (std::size_t i = 0; i < kServiceSteps.size(); ++i) {
        const SServiceStep& step = kServiceSteps[i];
        if (fingerprints[i] == service.fingerprints[i])
            continue;
        step.close(service);
        try {
            step.open(service, settings);
            service.fingerprints[i] = fingerprints[i];
            note(step.name);
        } catch (const CPVXException& event) {
            service.fingerprints[i].clear(); // the next reload tries again
            CPVXException failed(EVENT_SERVICE_REOPEN_FAILED);
            failed.SetDetail(step.name);
            failed.Report(EPriority::Error);
            event.Report(EPriority::Error);
        }
    }
    CPVXException done(EVENT_RELOADED);
    done.SetDetail(reopened.empty() ? "Nothing to re-open." : "Re-opened: " + reopened + ".");
    done.Report(EPriority::Notice);
    return detectNow;
}

// events.log in the state folder, or beside pvx.ini without one.
std::string EventLogPath(const std::string& stateDirectory, const std::string& configPath)
{
    if (!stateDirectory.empty())
        return stateDirectory + "/events.log";
    const auto slash = configPath.rfind('/');
    return (slash == std::string::npos ? std::string() : configPath.substr(0, slash + 1)) + "events.log";
}

std::uint64_t StallPass()
{
    std::string text = GetEnvironment("PVX_TEST_STALL_AFTER_PASSES");
    return text.empty() ? 0 : std::strtoull(text.c_str(), nullptr, 10);
}

} // namespace

int ServiceMain(int /*argument*/)
{
    SService service;
    try {
        service.configuration = std::make_unique<CINIFile>(Portability().GetConfigPath());
        const CINIFile& file = *service.configuration;
        service.configuration->RequireReadable();
        DiscardStaleReplacement(file.GetPath());
        // Without a state folder of its own, the engine's state lies beside pvx.ini.
        const std::string& stateDirectory = Portability().GetStateDirectory();
        service.engineStatePath = usm::EngineStatePath(stateDirectory.empty() ? file.GetPath() : stateDirectory + "/");
        service.recorder = std::make_unique<CStatusRecorder>(ReadString(file, keys::kUPSName),
            ReadSwitch(file, keys::kKeepEventLog) ? EventLogPath(stateDirectory, file.GetPath()) : std::string());
        service.power.AddObserver(*service.recorder);
        std::string serial = KeysFingerprint(file, kSerialKeys);
        SSettings settings = ReadSettings(file);
        for (std::size_t i = 0; i < kServiceSteps.size(); ++i)
            service.fingerprints[i] = StepFingerprint(kServiceSteps[i], file, settings);
        service.driver = settings.driver;
        SetUpPort(service);
        service.serialFingerprint = serial;
        PrepareEngine(service, settings);
        unsigned counterLogInterval = 0;
        ApplyLoopSettings(service, settings, counterLogInterval);
        SetUpNetwork(service, settings);

        const std::uint64_t stallPass = StallPass();
        CNutHosts hosts(service);
        bool detected = false, detectNow = false;
        service.notifier.Ready(StatusText(service, detected));
        // The serial line's waits serve HTTP, and SNMP in the responsive loop.
        CSerialWaitLender lender(service.responsive ? service.agent.get() : nullptr, service.http.get(), service.ups);
        for (std::uint64_t pass = 0; Portability().IsRunning();) {
            ServeNetwork(service);
            if (service.agent)
                service.agent->RetryInforms();
            service.counterLog.Poll(service.counters);
            if (service.ups) {
                service.ups->Update();
                if (service.agent)
                    service.agent->SendPendingTraps(*service.ups);
            } else if (pass % 10 == 0 || detectNow) {
                DetectUPS(service, pass);
                detected = true;
                detectNow = false;
            }
            ++pass;
            Pause(service, 1000);
            if (service.ups && !service.ups->IsConnected()) {
                service.ups.reset();
                ReportNotice(EVENT_UPS_LOST);
            }
            service.power.Pass(service.ups.get(), std::exchange(service.newUps, false), service.nut ? &hosts : nullptr);
            service.recorder->Observe(service.ups.get());
            Pause(service, 10);
            // Every pass that ends tells the watchdog the loop is alive.
            service.notifier.KeepAlive();
            if (service.notifier.Active())
                service.notifier.Status(StatusText(service, detected));
            if (pass == stallPass)
                Sleep(kStallMs);
            if (service.reloadOnHangup && TakeHangup()) {
                detectNow = Reload(service, counterLogInterval) || detectNow;
                // A reload may have re-opened the services the waits serve.
                lender.Retarget(service.responsive ? service.agent.get() : nullptr, service.http.get());
                service.notifier.Ready(StatusText(service, detected));
            }
        }
        service.recorder->Flush();
        NetworkCleanup();
        return 0;
    } catch (const CPVXException& event) {
        event.Report();
        service.http.reset();
        service.nut.reset();
        service.agent.reset();
        service.ups.reset();
        return -1;
    }
}

} // namespace pvx
