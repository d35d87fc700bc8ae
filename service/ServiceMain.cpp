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
#include "nut/NutServer.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "relay/NetXCPAgent.h"
#include "service/CounterLog.h"
#include "service/NetworkWait.h"
#include "service/ProcessEntry.h"
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
    std::unique_ptr<nut::CServer> nut; // none unless NUT/Enabled is 1
    std::unique_ptr<CAbstractUPS> ups;
    CCounterLog counterLog { 0 };
    // Off by default: the loop then serves one network client per pass.
    bool responsive = false;
    // SNMP/StandardNames: RFC 1628 instance names for every UPS object made.
    bool standardNames = false;
    // SNMP/StandardValues: RFC 1628's types and values, likewise.
    bool standardValues = false;
    // SNMP/TrapVersion 2c or 3: RFC 1628's choice of traps and bindings.
    bool standardTraps = false;
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

// sysContact, sysName and sysLocation come from their keys and go back to
// them when a manager sets them, as the UPS's name does.
SSystemGroup SystemGroupOf(const CINIFile& file)
{
    static const SConfigKey* const kTexts[] = { &keys::kSysContact, &keys::kSysName, &keys::kSysLocation };
    SSystemGroup group;
    const std::string_view version(kVersionString);
    const std::size_t start = version.find(' ') + 1;
    group.description = "pvx " + std::string(version.substr(start, version.rfind(' ') - start));
    for (std::size_t i = 0; i < group.texts.size(); ++i)
        group.texts[i] = ReadString(file, *kTexts[i]);
    if (group.texts[1].empty())
        GetHostName(group.texts[1]);
    group.store = [&file](std::size_t i, const std::string& text) {
        return file.WriteString(kTexts[i]->section, kTexts[i]->key, text);
    };
    return group;
}

// The RFC 9271 server's settings, read and checked before any socket opens:
// a malformed user line or UPS name stops pvx with the key it names.
struct SNutSetUp {
    bool enabled = false;
    CAddressList clients;
    nut::SProtocolSettings settings;
};

SNutSetUp ReadNutSetUp(const CINIFile& file)
{
    SNutSetUp setUp;
    setUp.clients = ReadAddressList(file, keys::kNUTClients);
    setUp.enabled = ReadSwitch(file, keys::kNUTEnabled);
    if (!setUp.enabled)
        return setUp;
    setUp.settings.upsName = ReadString(file, keys::kNUTUPSName);
    const std::string& name = setUp.settings.upsName;
    if (name.empty() || name.size() > 32 || name.find_first_of(" \t\"\\\r\n@") != std::string::npos) {
        CPVXException event(EVENT_NUT_SETTING_BAD);
        event.SetDetail("NUT/UPSName: 1 to 32 characters without blanks or quotes");
        throw event;
    }
    setUp.settings.description = ReadString(file, keys::kNUTDescription);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < keys::kNUTUser.count; ++i)
        lines.push_back(ReadString(file, keys::kNUTUser, i));
    try {
        setUp.settings.users = nut::ParseUsers(lines);
    } catch (CPVXException& e) {
        if (e.GetArguments().size() == 2)
            e.SetDetail("NUT/" + e.GetArguments()[0] + ": " + e.GetArguments()[1]);
        throw;
    }
    return setUp;
}

void StartNut(SService& service, SNutSetUp& setUp)
{
    if (!setUp.enabled)
        return; // no socket at all
    const CINIFile& file = *service.configuration;
    SIpAddress sourceAddress = ReadIpAddress(file, keys::kSourceAddress);
    auto port = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kNUTPort));
    service.nut = std::make_unique<nut::CServer>(port, sourceAddress, std::move(setUp.clients),
                                                 std::move(setUp.settings));
}

// SNMP/TrapVersion, TrapInform and TrapUser, checked against the trap host
// and the source address before any socket opens.
SNotificationSettings ReadNotifications(const CINIFile& file, const usm::CSNMPv3Processor* v3,
                                        const SIpAddress& trapHost, const SIpAddress& sourceAddress)
{
    auto fail = [](std::uint32_t code, const std::string& detail) {
        CPVXException event(code, { detail });
        event.SetDetail(detail);
        return event;
    };
    SNotificationSettings settings;
    const std::string version = ReadString(file, keys::kTrapVersion);
    if (version == "2c" || version == "2C")
        settings.version = ETrapVersion::V2c;
    else if (version == "3")
        settings.version = ETrapVersion::V3;
    else if (version != "1")
        throw fail(EVENT_TRAP_VERSION_BAD, "SNMP/TrapVersion: \"" + version + "\"");
    settings.inform = ReadSwitch(file, keys::kTrapInform);
    if (settings.inform && settings.version == ETrapVersion::V1)
        throw fail(EVENT_TRAP_VERSION_BAD, "SNMP/TrapInform=1: SNMPv1 has no informs");
    if (settings.version == ETrapVersion::V3) {
        const std::string user = ReadString(file, keys::kTrapUser);
        settings.user = v3 != nullptr ? v3->FindUser(user) : -1;
        if (settings.user < 0)
            throw fail(EVENT_TRAP_USER_BAD, "SNMP/TrapUser: \"" + user + "\" is no user of an enabled [SNMPv3]");
    }
    if (trapHost.IsUnspecified())
        return settings;
    const std::string host = "SNMP/TrapHost " + FormatIpAddress(trapHost);
    if (settings.version == ETrapVersion::V1 && !trapHost.IsIPv4())
        throw fail(EVENT_TRAP_HOST_UNREACHABLE, host + ": SNMPv1 traps go to IPv4 managers only");
    if (!sourceAddress.IsUnspecified() && sourceAddress.IsIPv4() != trapHost.IsIPv4())
        throw fail(EVENT_TRAP_HOST_UNREACHABLE,
                   host + ": not reachable from Network/SourceAddress " + FormatIpAddress(sourceAddress));
    return settings;
}

// HTTP/Certificate and HTTP/Key read whole; a reload that compares them
// re-opens the server when a certificate was renewed in place.
SHttpTls ReadHttpTls(const CINIFile& file)
{
    return LoadHttpTls(ReadString(file, keys::kHTTPCertificate), ReadString(file, keys::kHTTPKey));
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
    SNutSetUp nutSetUp = ReadNutSetUp(file);
    SHttpTls httpTls = ReadSwitch(file, keys::kHTTPEnabled) ? ReadHttpTls(file) : SHttpTls {};
    // SNMPv3's users and engine, before any socket opens: a malformed user
    // line or a damaged engine state stops pvx. The engine's clock starts
    // with the processor.
    std::unique_ptr<usm::CSNMPv3Processor> v3;
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
        std::string statePath = usm::EngineStatePath(file.GetPath());
        usm::SEngineState engine;
        try {
            engine = usm::StartEngine(statePath);
        } catch (CPVXException& e) {
            e.SetDetail(statePath);
            throw;
        }
        v3 = std::make_unique<usm::CSNMPv3Processor>(std::move(engine), users);
    }
    service.counterLog = CCounterLog(ReadUnsigned(file, keys::kCounterLogInterval));
    if (!NetworkStartup())
        throw CPVXException(EVENT_NETWORK_STARTUP);
    if (ReadSwitch(file, keys::kSNMPEnabled)) {
        std::string trapCommunity = ReadString(file, keys::kTrapCommunity);
        std::string setCommunity = ReadString(file, keys::kSetCommunity);
        std::string getCommunity = ReadString(file, keys::kGetCommunity);
        SIpAddress sourceAddress = ReadIpAddress(file, keys::kSourceAddress);
        SIpAddress trapHost = ReadIpAddress(file, keys::kTrapHost);
        auto managerPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kManagerPort));
        auto agentPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kSNMPAgentPort));
        const SNotificationSettings notify = ReadNotifications(file, v3.get(), trapHost, sourceAddress);
        // SNMPv1's coldStart goes out as the agent opens, as it always did;
        // a later version's once the agent knows how to send it.
        const bool v1Traps = notify.version == ETrapVersion::V1;
        service.agent = std::make_unique<CSNMPAgent>(agentPort, managerPort, trapHost, sourceAddress, getCommunity,
                                                     setCommunity, trapCommunity, v1Traps);
        service.agent->SetSourceLists(std::move(readManagers), std::move(setManagers));
        service.agent->AttachCounters(service.counters);
        service.agent->SetVersion2c(ReadSwitch(file, keys::kVersion2c));
        service.standardNames = ReadSwitch(file, keys::kStandardNames);
        service.standardValues = ReadSwitch(file, keys::kStandardValues);
        service.agent->SetStandardValues(service.standardValues);
        if (v3)
            service.agent->SetSNMPv3(std::move(v3));
        service.agent->SetVersion1(ReadSwitch(file, keys::kVersion1));
        if (ReadSwitch(file, keys::kSystemGroup))
            service.agent->SetSystemGroup(SystemGroupOf(*service.configuration));
        if (!trapHost.IsIPv4() && !trapHost.IsUnspecified() && !SocketReachesIPv6(service.agent->GetSocket())) {
            CPVXException event(EVENT_TRAP_HOST_UNREACHABLE, { FormatIpAddress(trapHost) });
            event.SetDetail("SNMP/TrapHost " + FormatIpAddress(trapHost) + ": this host has no IPv6");
            throw event;
        }
        service.agent->SetNotifications(notify);
        service.standardTraps = !v1Traps;
        if (!v1Traps)
            service.agent->SendColdStart();
    }
    service.responsive = ReadSwitch(file, keys::kResponsiveLoop);
    if (ReadSwitch(file, keys::kHTTPEnabled)) {
        SIpAddress sourceAddress = ReadIpAddress(file, keys::kSourceAddress);
        auto httpPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kHTTPPort));
        service.http = std::make_unique<CHttpServer>(httpPort, sourceAddress, std::move(httpClients), service.polls,
                                                     service.counters, SHttpLimits {}, std::move(httpTls));
    }
    StartNut(service, nutSetUp);
    if (!RelayEnabled(file))
        return; // no relay socket at all
    SIpAddress sourceAddress = ReadIpAddress(file, keys::kSourceAddress);
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
    service.ups->SetStandardNames(service.standardNames);
    service.ups->SetStandardValues(service.standardValues);
    service.ups->SetStandardTraps(service.standardTraps);
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
        DiscardStaleReplacement(service.configuration->GetPath());
        ChooseDriver(service);
        DecodeRelayPassword(service);
        SetUpPort(service);
        SetUpNetwork(service);
        for (std::uint64_t pass = 0; Portability().IsRunning();) {
            ServeNetwork(service);
            if (service.agent)
                service.agent->RetryInforms();
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
        service.nut.reset();
        service.agent.reset();
        service.ups.reset();
        return -1;
    }
}

} // namespace pvx
