// What the service owns for its whole run, the settings of its network
// services as read from pvx.ini, and the one table of those services: how
// each is opened and closed, and which keys re-open it when pvx.ini is
// reloaded. A new network service is one more row of that table.
#pragma once

#include "config/AddressList.h"
#include "config/ConfigKeys.h"
#include "config/INIFile.h"
#include "events/NetworkCounters.h"
#include "http/HttpServer.h"
#include "notify/ServiceNotifier.h"
#include "nut/NutServer.h"
#include "platform/CommPort.h"
#include "power/PowerPolicy.h"
#include "relay/NetXCPAgent.h"
#include "service/CounterLog.h"
#include "service/StatusRecorder.h"
#include "snmp/agent/SNMPAgent.h"
#include "snmp/usm/EngineState.h"
#include "snmp/usm/SNMPv3Message.h"
#include "snmp/usm/UsmUsers.h"
#include "ups/AbstractUPS.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pvx {

// Communications/Driver: which UPS object the loop sets up.
enum class EDriver {
    Xcp,       // absent or "xcp": detection of an XCP UPS on the serial port
    Simulated, // "simulated": the simulated UPS of DummyUPS.ini
};

// Everything the network services take from pvx.ini, read and checked
// before any of them is opened, so that a value pvx cannot use stops the
// start, or a reload, before anything changed.
struct SSettings {
    EDriver driver = EDriver::Xcp;

    bool snmp = false;
    std::string getCommunity, setCommunity, trapCommunity;
    SIpAddress trapHost; // the unspecified address: no traps
    std::uint16_t managerPort = 0, agentPort = 0;
    CAddressList readManagers, setManagers;
    bool version2c = false, version1 = true, standardNames = false, standardValues = false;
    bool systemGroup = false;
    bool snmpv3 = false;
    std::vector<usm::SUsmUser> users;
    SNotificationSettings notify; // checked against the trap host and the source address

    bool relay = false;
    std::string relayPassword;
    std::uint16_t relayPort = 0;
    CAddressList relayClients;

    bool http = false;
    std::uint16_t httpPort = 0;
    CAddressList httpClients;
    SHttpTls httpTls; // the certificate and key files' texts; empty: plain HTTP

    bool nut = false;
    std::uint16_t nutPort = 0;
    CAddressList nutClients;
    nut::SProtocolSettings nutSettings;

    SIpAddress sourceAddress; // checked to be an address of this host; ::: both families
    bool responsive = false;
    unsigned counterLogInterval = 0;
    bool reloadOnHangup = false;

    power::SPowerSettings power; // [Notify] and [Shutdown]
};

// Reads every setting; throws the event of the first value pvx cannot use
// (a list, a user line, the relay password, an address, the driver).
SSettings ReadSettings(const CINIFile& file);

struct SService;

// One network service. `open` starts it from the settings (or leaves it off
// when they say so) and may throw when its sockets cannot be opened; `close`
// ends it. A reload re-opens a service when any of its keys reads
// differently, or what `files` gives (the texts of files its keys name).
struct SServiceStep {
    const char* name; // as the reload's log line names it
    std::span<const SConfigKey* const> keys;
    void (*open)(SService& service, const SSettings& settings);
    void (*close)(SService& service);
    std::string (*files)(const SSettings& settings) = nullptr;
};

extern const std::array<SServiceStep, 4> kServiceSteps;

// The keys' values as the file holds them, one text, to see whether any changed.
std::string KeysFingerprint(const CINIFile& file, std::span<const SConfigKey* const> keys);
// A step's keys, and the files they name as the settings hold them.
std::string StepFingerprint(const SServiceStep& step, const CINIFile& file, const SSettings& settings);
// The serial settings: when they change on a reload the UPS is identified again.
extern const std::array<const SConfigKey*, 4> kSerialKeys;

struct SService {
    std::unique_ptr<CINIFile> configuration;
    SNetworkCounters counters; // before the services that count into it
    EDriver driver = EDriver::Xcp;
    std::unique_ptr<CCommPort> port;
    std::unique_ptr<CSNMPAgent> agent;
    std::unique_ptr<CNetXCPAgent> relay; // none when NetXCP/Enabled is 0
    SPollCounters polls; // kept across UPS objects
    std::unique_ptr<CHttpServer> http; // none unless HTTP/Enabled is 1
    std::unique_ptr<nut::CServer> nut; // none unless NUT/Enabled is 1
    bool nutFSD = false; // a primary's FSD, kept when a reload re-opens the server
    std::unique_ptr<CAbstractUPS> ups;
    // The event log and the history, kept across UPS objects; before the
    // HTTP server that shows them.
    std::unique_ptr<CStatusRecorder> recorder;
    CCounterLog counterLog { 0 };
    // Off by default: the loop then serves one network client per pass.
    bool responsive = false;
    // SNMP/StandardNames: RFC 1628 instance names for every UPS object made.
    bool standardNames = false;
    // SNMP/StandardValues: RFC 1628's types and values, likewise.
    bool standardValues = false;
    // SNMP/TrapVersion 2c or 3: RFC 1628's choice of traps and bindings.
    bool standardTraps = false;
    bool reloadOnHangup = false;
    // The SNMPv3 engine, started once a run: a reload keeps its ID, boots
    // and clock. The processor waits here while the agent is closed.
    std::optional<usm::SEngineState> engine;
    std::unique_ptr<usm::CSNMPv3Processor> v3;
    std::string engineStatePath;
    // What each step of kServiceSteps was last opened with, and the serial port.
    std::array<std::string, kServiceSteps.size()> fingerprints;
    std::string serialFingerprint;
    CServiceNotifier notifier;
    power::CPowerPolicy power;
    bool newUps = false; // a UPS object was made since the power policy's last pass
};

// Starts the SNMPv3 engine when the settings ask for it and none runs, and
// checks the users' keys against it; throws as StartEngine and
// CheckLocalization do.
void PrepareEngine(SService& service, const SSettings& settings);

} // namespace pvx
