// The service: builds the port, the network services and the UPS object from
// the configuration, then runs the one loop that serves one network client,
// lets the UPS poll once and sends its traps, about once a second.
#include "service/ServiceMain.h"

#include "config/ConfigKeys.h"
#include "config/Encryption.h"
#include "config/INIFile.h"
#include "dummy/DummyUPS.h"
#include "events/PVXException.h"
#include "http/HttpServer.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "service/CounterLog.h"
#include "service/NetworkWait.h"
#include "service/ProcessEntry.h"
#include "service/SerialWaitLender.h"
#include "snmp/agent/SNMPAgent.h"
#include "snmp/usm/EngineState.h"
#include "snmp/usm/UsmUsers.h"
#include "ups/AbstractUPS.h"
#include "xcp/driver/Settings.h"

#include <memory>
#include <string>
#include <vector>

namespace pvx {

namespace {

constexpr char kStatusPath[] = "/var/pvx.status";
// The stored value that means no password was set: the text itself is the password.
constexpr const char* kDefaultPassword = keys::kPasswd.defaultValue;
constexpr int kXCPUPSType = 2;

// Communications/Driver: which UPS object the loop sets up.
enum class EDriver {
    Xcp,       // absent or "xcp": detection of an XCP UPS on the serial port
    Simulated, // "simulated": the simulated UPS of DummyUPS.ini
};

struct SService {
    std::unique_ptr<CINIFile> configuration;
    SNetworkCounters counters; // before the services that count into it
    EDriver driver = EDriver::Xcp;
    std::string relayPassword;
    std::unique_ptr<CCommPort> port;
    std::unique_ptr<CSNMPAgent> agent;
    std::unique_ptr<CNetXCPAgent> relay; // none when NetXCP/Enabled is 0
    SPollCounters polls; // kept across UPS objects
    std::unique_ptr<CHttpServer> http; // none unless HTTP/Enabled is 1
    std::unique_ptr<CAbstractUPS> ups;
    CCounterLog counterLog { 0 };
    // Off by default: the loop then serves one network client per pass.
    bool responsive = false;
    // SNMP/StandardNames: RFC 1628 instance names for every UPS object made.
    bool standardNames = false;
};

void ChooseDriver(SService& service)
{
    std::string driver = ReadString(*service.configuration, keys::kDriver);
    if (driver == "xcp")
        service.driver = EDriver::Xcp;
    else if (driver == "simulated")
        service.driver = EDriver::Simulated;
    else
        throw CPVXException(EVENT_UNKNOWN_DRIVER, {driver});
}

bool RelayEnabled(const CINIFile& file)
{
    return ReadSwitch(file, keys::kNetXCPEnabled);
}

// The stored relay password is deciphered before any socket is opened, so
// that one that does not decode stops pvx before managers hear of it.
void DecodeRelayPassword(SService& service)
{
    service.relayPassword = kDefaultPassword;
    if (!RelayEnabled(*service.configuration))
        return; // without a relay its password is never read
    std::string stored = ReadString(*service.configuration, keys::kPasswd);
    if (stored != kDefaultPassword) {
        auto plain = CEncryption::UnEncrypt(stored);
        if (!plain)
            throw CPVXException(EVENT_BAD_PASSWORD);
        service.relayPassword = *plain;
    }
}

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

void SetUpNetwork(SService& service)
{
    const CINIFile& file = *service.configuration;
    // Every list is read before any socket opens: a list that does not parse
    // stops pvx, whether or not its service is enabled.
    CAddressList readManagers = ReadAddressList(file, keys::kReadManagers);
    CAddressList setManagers = ReadAddressList(file, keys::kSetManagers);
    CAddressList clients = ReadAddressList(file, keys::kNetXCPClients);
    CAddressList httpClients = ReadAddressList(file, keys::kHTTPClients);
    // SNMPv3's users and engine, before any socket opens: a malformed user
    // line stops pvx. The engine's clock starts with the processor.
    std::unique_ptr<usm::CSNMPv3Processor> v3;
    bool v3Unavailable = false;
    if (ReadSwitch(file, keys::kSNMPEnabled) && ReadSwitch(file, keys::kSNMPv3Enabled)) {
        std::vector<std::string> lines;
        static_assert(keys::kSNMPv3User.count == usm::kMaxUsers);
        for (std::size_t i = 0; i < usm::kMaxUsers; ++i)
            lines.push_back(ReadString(file, keys::kSNMPv3User, i));
        // The operator must see which line is wrong and why (never its
        // value: it holds keys), or which file.
        std::vector<usm::SUsmUser> users;
        try {
            users = usm::ParseUsmUsers(lines);
        } catch (CPVXException& e) {
            if (e.GetArguments().size() == 2)
                e.SetDetail("SNMPv3/" + e.GetArguments()[0] + ": " + e.GetArguments()[1]);
            throw;
        }
        // An engine state that cannot be trusted (or advanced) turns off
        // SNMPv3 alone: everything else serves, and the file is left as it
        // is for the operator, so that no boot count is ever used twice.
        std::string statePath = usm::EngineStatePath(file.GetPath());
        try {
            v3 = std::make_unique<usm::CSNMPv3Processor>(usm::StartEngine(statePath), users);
        } catch (const CPVXException&) {
            CPVXException off(EVENT_SNMPV3_OFF, {statePath});
            off.SetDetail(statePath);
            off.Report();
            v3Unavailable = true;
        }
    }
    service.counterLog = CCounterLog(ReadUnsigned(file, keys::kCounterLogInterval));
    if (!NetworkStartup())
        throw CPVXException(EVENT_NETWORK_STARTUP);
    if (ReadSwitch(file, keys::kSNMPEnabled)) {
        std::string trapCommunity = ReadString(file, keys::kTrapCommunity);
        std::string setCommunity = ReadString(file, keys::kSetCommunity);
        std::string getCommunity = ReadString(file, keys::kGetCommunity);
        std::uint32_t sourceAddress = ReadAddress(file, keys::kSourceAddress);
        std::uint32_t trapHost = ReadAddress(file, keys::kTrapHost);
        auto managerPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kManagerPort));
        auto agentPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kSNMPAgentPort));
        service.agent = std::make_unique<CSNMPAgent>(agentPort, managerPort, trapHost, sourceAddress, getCommunity,
                                                     setCommunity, trapCommunity);
        service.agent->SetSourceLists(std::move(readManagers), std::move(setManagers));
        service.agent->AttachCounters(service.counters);
        service.agent->SetVersion2c(ReadSwitch(file, keys::kVersion2c));
        service.standardNames = ReadSwitch(file, keys::kStandardNames);
        if (v3)
            service.agent->SetSNMPv3(std::move(v3));
        if (v3Unavailable)
            service.agent->SetSNMPv3Unavailable();
        service.agent->SetVersion1(ReadSwitch(file, keys::kVersion1));
    }
    service.responsive = ReadSwitch(file, keys::kResponsiveLoop);
    if (ReadSwitch(file, keys::kHTTPEnabled)) {
        std::uint32_t sourceAddress = ReadAddress(file, keys::kSourceAddress);
        auto httpPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kHTTPPort));
        service.http = std::make_unique<CHttpServer>(httpPort, sourceAddress, std::move(httpClients), service.polls,
                                                     service.counters);
    }
    if (!RelayEnabled(file))
        return; // no relay socket at all
    std::uint32_t sourceAddress = ReadAddress(file, keys::kSourceAddress);
    auto relayPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kNetXCPAgentPort));
    service.relay = std::make_unique<CNetXCPAgent>(service.relayPassword, relayPort, sourceAddress);
    service.relay->SetClients(std::move(clients));
    service.relay->AttachCounters(service.counters);
}

// The loop's sleeps; the responsive loop serves the network meanwhile.
void Pause(SService& service, std::uint32_t ms)
{
    if (service.responsive)
        ServeWhileWaiting(service.agent.get(), service.relay.get(), service.ups.get(), ms, false,
                          service.http.get());
    else if (service.http) // HTTP only: SNMP and the relay keep one client per pass
        ServeWhileWaiting(nullptr, nullptr, service.ups.get(), ms, false, service.http.get());
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
                          service.http.get());
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
    service.ups->SetStandardNames(service.standardNames);
    service.ups->AttachPollCounters(service.polls);
    service.ups->Start();
    if (pass == 0)
        WriteWholeFile(kStatusPath, "Tessary started successfully.\n");
}

} // namespace

int ServiceMain(int /*argument*/)
{
    SService service;
    try {
        service.configuration = std::make_unique<CINIFile>(Portability().GetConfigPath());
        service.configuration->RequireReadable();
        DiscardStaleReplacement(service.configuration->GetPath());
        ChooseDriver(service);
        DecodeRelayPassword(service);
        SetUpPort(service);
        SetUpNetwork(service);
        // The serial line's waits serve HTTP, and SNMP in the responsive loop.
        CSerialWaitLender lender(service.responsive ? service.agent.get() : nullptr, service.http.get(), service.ups);
        for (std::uint64_t pass = 0; Portability().IsRunning();) {
            ServeNetwork(service);
            service.counterLog.Poll(service.counters);
            if (service.ups) {
                service.ups->Update();
                if (service.agent)
                    service.agent->SendPendingTraps(*service.ups);
            } else if (pass % 10 == 0) {
                DetectUPS(service, pass);
            }
            ++pass;
            Pause(service, 1000);
            if (service.ups && !service.ups->IsConnected()) {
                service.ups.reset();
                ReportNotice(EVENT_UPS_LOST);
            }
            Pause(service, 10);
        }
        NetworkCleanup();
        return 0;
    } catch (const CPVXException& event) {
        event.Report();
        service.http.reset();
        service.agent.reset();
        service.ups.reset();
        return -1;
    }
}

} // namespace pvx
