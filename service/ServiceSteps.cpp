// The network services of the loop as steps: their settings read from
// pvx.ini and checked, and how each is opened and closed.
#include "service/ServiceState.h"

#include "config/Encryption.h"
#include "events/PVXException.h"
#include "platform/ChildProcess.h"
#include "platform/Portability.h"
#include "service/ProcessEntry.h"

#include <algorithm>
#include <string_view>

namespace pvx {

namespace {

// The stored value that means no password was set: the text itself is the password.
constexpr const char* kDefaultPassword = keys::kPasswd.defaultValue;

EDriver ReadDriver(const CINIFile& file)
{
    std::string driver = ReadString(file, keys::kDriver);
    if (driver == "xcp")
        return EDriver::Xcp;
    if (driver == "simulated")
        return EDriver::Simulated;
    throw CPVXException(EVENT_UNKNOWN_DRIVER, {driver});
}

// Deciphered before any socket is opened, so that a password that does not
// decode stops pvx before managers hear of it. Without a relay it is never read.
std::string ReadRelayPassword(const CINIFile& file)
{
    std::string stored = ReadString(file, keys::kPasswd);
    if (stored == kDefaultPassword)
        return kDefaultPassword;
    auto plain = CEncryption::UnEncrypt(stored);
    if (!plain)
        throw CPVXException(EVENT_BAD_PASSWORD);
    return *plain;
}

// A user line's event tells the operator which line is wrong and why (never
// its value: it holds keys).
[[noreturn]] void RethrowWithUserDetail(CPVXException& e)
{
    if (e.GetArguments().size() == 2)
        e.SetDetail("SNMPv3/" + e.GetArguments()[0] + ": " + e.GetArguments()[1]);
    throw;
}

std::vector<usm::SUsmUser> ReadUsers(const CINIFile& file)
{
    std::vector<std::string> lines;
    static_assert(keys::kSNMPv3User.count == usm::kMaxUsers);
    for (std::size_t i = 0; i < usm::kMaxUsers; ++i)
        lines.push_back(ReadString(file, keys::kSNMPv3User, i));
    try {
        return usm::ParseUsmUsers(lines);
    } catch (CPVXException& e) {
        RethrowWithUserDetail(e);
    }
}

// Binding to an address this host does not have would fail later with a
// bare "cannot bind"; pvx says which key is wrong instead.
SIpAddress ReadSourceAddress(const CINIFile& file)
{
    SIpAddress address = ReadIpAddress(file, keys::kSourceAddress);
    if (!IsLocalAddress(address)) {
        std::string name = KeyName(keys::kSourceAddress);
        std::string text = file.GetString(keys::kSourceAddress.section, name, "");
        CPVXException event(EVENT_SOURCE_NOT_LOCAL, {std::string(keys::kSourceAddress.section) + "/" + name, text});
        event.SetDetail(event.GetArguments()[0] + ": \"" + text + "\"");
        throw event;
    }
    return address;
}

// SNMP/TrapVersion, TrapInform and TrapUser, checked against the trap host
// and the source address before any socket opens.
SNotificationSettings ReadNotifications(const CINIFile& file, const SSettings& s)
{
    auto fail = [](std::uint32_t code, const std::string& detail) {
        CPVXException event(code, {detail});
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
        // The processor keeps the users in the order of the lines.
        const std::string user = ReadString(file, keys::kTrapUser);
        auto found = std::ranges::find(s.users, user, &usm::SUsmUser::name);
        if (!s.snmpv3 || user.empty() || found == s.users.end())
            throw fail(EVENT_TRAP_USER_BAD, "SNMP/TrapUser: \"" + user + "\" is no user of an enabled [SNMPv3]");
        settings.user = static_cast<int>(found - s.users.begin());
        // An inform goes to the receiver's engine, which is authoritative
        // (RFC 3414 section 4): keys localized to pvx's own engine could
        // never authenticate there, and every inform would be given up.
        if (settings.inform && !found->engineTag.empty())
            throw fail(EVENT_TRAP_USER_BAD, "SNMP/TrapUser: \"" + user + "\" sends informs, but its keys in SNMPv3/"
                    + found->key + " are localized to pvx's engine; make them with pvx-passwd -3 without -e");
    }
    if (s.trapHost.IsUnspecified())
        return settings;
    const std::string host = "SNMP/TrapHost " + FormatIpAddress(s.trapHost);
    if (settings.version == ETrapVersion::V1 && !s.trapHost.IsIPv4())
        throw fail(EVENT_TRAP_HOST_UNREACHABLE, host + ": SNMPv1 traps go to IPv4 managers only");
    if (!s.sourceAddress.IsUnspecified() && s.sourceAddress.IsIPv4() != s.trapHost.IsIPv4())
        throw fail(EVENT_TRAP_HOST_UNREACHABLE,
                   host + ": not reachable from Network/SourceAddress " + FormatIpAddress(s.sourceAddress));
    return settings;
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

void OpenSnmp(SService& service, const SSettings& s)
{
    if (!s.snmp)
        return;
    // SNMPv1's coldStart goes out as the agent opens, as it always did; a
    // later version's once the agent knows how to send it.
    const bool v1Traps = s.notify.version == ETrapVersion::V1;
    auto agent = std::make_unique<CSNMPAgent>(s.agentPort, s.managerPort, s.trapHost, s.sourceAddress, s.getCommunity,
                                              s.setCommunity, s.trapCommunity, s.standardValues, v1Traps);
    agent->SetSourceLists(s.readManagers, s.setManagers);
    agent->AttachCounters(service.counters);
    agent->SetVersion2c(s.version2c);
    if (s.snmpv3 && !service.engine) {
        agent->SetSNMPv3Unavailable();
    } else if (s.snmpv3) {
        // One engine a run: its clock and boots go on across re-openings.
        if (service.v3)
            service.v3->SetUsers(s.users);
        else
            service.v3 = std::make_unique<usm::CSNMPv3Processor>(*service.engine, s.users);
        std::string unlocalized;
        // The user that sends informs needs its keys unlocalized: no warning.
        const std::string informUser = s.notify.inform && s.notify.user >= 0
            ? s.users[static_cast<std::size_t>(s.notify.user)].key : std::string();
        for (const std::string& key : usm::CheckLocalization(s.users, service.engine->engineId))
            if (key != informUser)
                unlocalized += (unlocalized.empty() ? "SNMPv3/" : ", SNMPv3/") + key;
        if (!unlocalized.empty()) {
            CPVXException notice(EVENT_USM_KEY_NOT_LOCALIZED);
            notice.SetDetail(unlocalized);
            notice.Report(EPriority::Warning);
        }
        agent->SetSNMPv3(std::move(service.v3));
    }
    agent->SetVersion1(s.version1);
    if (s.systemGroup)
        agent->SetSystemGroup(SystemGroupOf(*service.configuration));
    if (!s.trapHost.IsIPv4() && !s.trapHost.IsUnspecified() && !SocketReachesIPv6(agent->GetSocket())) {
        CPVXException event(EVENT_TRAP_HOST_UNREACHABLE, {FormatIpAddress(s.trapHost)});
        event.SetDetail("SNMP/TrapHost " + FormatIpAddress(s.trapHost) + ": this host has no IPv6");
        throw event;
    }
    agent->SetNotifications(s.notify);
    if (!v1Traps)
        agent->SendColdStart();
    service.agent = std::move(agent);
}

void CloseSnmp(SService& service)
{
    if (!service.agent)
        return;
    if (auto v3 = service.agent->TakeSNMPv3())
        service.v3 = std::move(v3);
    service.agent.reset();
}

void OpenHttp(SService& service, const SSettings& s)
{
    if (!s.http)
        return;
    service.http = std::make_unique<CHttpServer>(s.httpPort, s.sourceAddress, s.httpClients, service.polls,
                                                 service.counters, SHttpLimits {}, s.httpTls);
    if (service.recorder)
        service.http->SetRecords(&service.recorder->Records());
}

void CloseHttp(SService& service) { service.http.reset(); }

// A certificate renewed in place has the same path: its text tells.
std::string HttpFiles(const SSettings& s) { return s.httpTls.certificate + '\n' + s.httpTls.key; }

void OpenRelay(SService& service, const SSettings& s)
{
    if (!s.relay)
        return; // no relay socket at all
    auto relay = std::make_unique<CNetXCPAgent>(s.relayPassword, s.relayPort, s.sourceAddress);
    relay->SetClients(s.relayClients);
    relay->AttachCounters(service.counters);
    service.relay = std::move(relay);
}

void CloseRelay(SService& service) { service.relay.reset(); }

// The RFC 9271 server's name and users, checked before any socket opens: a
// malformed user line or UPS name stops pvx with the key it names.
void ReadNutSettings(const CINIFile& file, SSettings& s)
{
    s.nutPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kNUTPort));
    s.nutSettings.upsName = ReadString(file, keys::kNUTUPSName);
    const std::string& name = s.nutSettings.upsName;
    if (name.empty() || name.size() > 32 || name.find_first_of(" \t\"\\\r\n@") != std::string::npos) {
        CPVXException event(EVENT_NUT_SETTING_BAD);
        event.SetDetail("NUT/UPSName: 1 to 32 characters without blanks or quotes");
        throw event;
    }
    s.nutSettings.description = ReadString(file, keys::kNUTDescription);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < keys::kNUTUser.count; ++i)
        lines.push_back(ReadString(file, keys::kNUTUser, i));
    try {
        s.nutSettings.users = nut::ParseUsers(lines);
    } catch (CPVXException& e) {
        if (e.GetArguments().size() == 2)
            e.SetDetail("NUT/" + e.GetArguments()[0] + ": " + e.GetArguments()[1]);
        throw;
    }
}

// A forced shutdown lasts until pvx restarts: a reload that re-opens the
// server keeps it, so that secondaries that connect again still see FSD.
void OpenNut(SService& service, const SSettings& s)
{
    if (!s.nut)
        return;
    service.nut = std::make_unique<nut::CServer>(s.nutPort, s.sourceAddress, s.nutClients, s.nutSettings);
    if (service.nutFSD)
        service.nut->RaiseFSD();
}

void CloseNut(SService& service)
{
    if (service.nut && service.nut->IsFSDRaised())
        service.nutFSD = true;
    service.nut.reset();
}

// A command pvx runs at the moment it matters must be runnable: its program
// is checked when pvx.ini is read, not when the power fails.
std::vector<std::string> ReadCommand(const CINIFile& file, const SConfigKey& key)
{
    std::vector<std::string> argv = SplitCommandLine(ReadString(file, key));
    if (!argv.empty() && (argv[0].front() != '/' || !IsExecutableFile(argv[0]))) {
        CPVXException event(EVENT_COMMAND_FAILED_RUN);
        event.SetDetail(std::string(key.section) + "/" + key.key + ": " + argv[0]
                        + " is not an executable file (give its full path)");
        throw event;
    }
    return argv;
}

void ReadPowerSettings(const CINIFile& file, power::SPowerSettings& p)
{
    p.logEvents = ReadSwitch(file, keys::kNotifyLogEvents);
    p.notifyCommand = ReadCommand(file, keys::kNotifyCommand);
    p.notifyTimeoutSeconds = ReadUnsigned(file, keys::kNotifyTimeoutSeconds);
    power::SShutdownSettings& s = p.shutdown;
    s.enabled = ReadSwitch(file, keys::kShutdownEnabled);
    s.dryRun = ReadSwitch(file, keys::kShutdownDryRun);
    s.minimumRuntimeSeconds = ReadUnsigned(file, keys::kShutdownMinimumRuntime);
    s.onBatterySeconds = ReadUnsigned(file, keys::kShutdownOnBattery);
    s.lostSeconds = ReadUnsigned(file, keys::kShutdownLostSeconds);
    s.hostSyncSeconds = ReadUnsigned(file, keys::kShutdownHostSync);
    s.upsOffDelaySeconds = ReadUnsigned(file, keys::kShutdownUPSOffDelay);
    if (s.enabled)
        s.command = ReadCommand(file, keys::kShutdownCommand);
}

using keys::kSourceAddress;

constexpr const SConfigKey* kSnmpKeys[] = {
    &keys::kSNMPEnabled, &keys::kGetCommunity, &keys::kSetCommunity, &keys::kTrapCommunity, &keys::kTrapHost,
    &keys::kManagerPort, &keys::kSNMPAgentPort, &keys::kReadManagers, &keys::kSetManagers, &keys::kVersion2c,
    &keys::kVersion1, &keys::kStandardValues, &keys::kSystemGroup, &keys::kSysContact, &keys::kSysName,
    &keys::kSysLocation, &kSourceAddress, &keys::kSNMPv3Enabled, &keys::kSNMPv3User, &keys::kTrapVersion,
    &keys::kTrapInform, &keys::kTrapUser,
};
constexpr const SConfigKey* kHttpKeys[] = {
    &keys::kHTTPEnabled, &keys::kHTTPPort, &keys::kHTTPClients, &kSourceAddress, &keys::kHTTPCertificate,
    &keys::kHTTPKey,
};
constexpr const SConfigKey* kNutKeys[] = {
    &keys::kNUTEnabled, &keys::kNUTPort, &keys::kNUTClients, &keys::kNUTUPSName, &keys::kNUTDescription,
    &keys::kNUTUser, &kSourceAddress,
};
constexpr const SConfigKey* kRelayKeys[] = {
    &keys::kNetXCPEnabled, &keys::kNetXCPAgentPort, &keys::kNetXCPClients, &keys::kPasswd, &kSourceAddress,
};

} // namespace

// In the order of opening at start-up.
const std::array<SServiceStep, 4> kServiceSteps { {
    { "SNMP agent", kSnmpKeys, OpenSnmp, CloseSnmp },
    { "HTTP server", kHttpKeys, OpenHttp, CloseHttp, HttpFiles },
    { "RFC 9271 server", kNutKeys, OpenNut, CloseNut },
    { "XCP relay", kRelayKeys, OpenRelay, CloseRelay },
} };

const std::array<const SConfigKey*, 4> kSerialKeys {
    &keys::kCommunicationsPort, &keys::kCommunicationsBaudRate, &keys::kCommunicationsBaudRateLast, &keys::kDriver,
};

std::string KeysFingerprint(const CINIFile& file, std::span<const SConfigKey* const> keys)
{
    // A missing key reads as a byte no value line can hold.
    std::string text;
    for (const SConfigKey* key : keys)
        for (std::size_t i = 0; i < key->count; ++i)
            text += file.GetString(key->section, KeyName(*key, i), "\x01", std::max<std::size_t>(key->lineLimit, 255))
                + '\n';
    return text;
}

std::string StepFingerprint(const SServiceStep& step, const CINIFile& file, const SSettings& settings)
{
    std::string text = KeysFingerprint(file, step.keys);
    if (step.files != nullptr)
        text += step.files(settings);
    return text;
}

SSettings ReadSettings(const CINIFile& file)
{
    SSettings s;
    s.driver = ReadDriver(file);
    s.relay = ReadSwitch(file, keys::kNetXCPEnabled);
    s.relayPassword = s.relay ? ReadRelayPassword(file) : kDefaultPassword;
    // Every list is read before any socket opens: a list that does not
    // parse stops pvx, whether or not its service is enabled.
    s.readManagers = ReadAddressList(file, keys::kReadManagers);
    s.setManagers = ReadAddressList(file, keys::kSetManagers);
    s.relayClients = ReadAddressList(file, keys::kNetXCPClients);
    s.httpClients = ReadAddressList(file, keys::kHTTPClients);
    s.nutClients = ReadAddressList(file, keys::kNUTClients);
    s.snmp = ReadSwitch(file, keys::kSNMPEnabled);
    s.snmpv3 = s.snmp && ReadSwitch(file, keys::kSNMPv3Enabled);
    if (s.snmpv3)
        s.users = ReadUsers(file);
    s.http = ReadSwitch(file, keys::kHTTPEnabled);
    if (s.http)
        s.httpTls = LoadHttpTls(ReadString(file, keys::kHTTPCertificate), ReadString(file, keys::kHTTPKey));
    s.nut = ReadSwitch(file, keys::kNUTEnabled);
    if (s.nut)
        ReadNutSettings(file, s);
    if (s.snmp || s.http || s.relay || s.nut)
        s.sourceAddress = ReadSourceAddress(file);
    if (s.snmp) {
        s.trapCommunity = ReadString(file, keys::kTrapCommunity);
        s.setCommunity = ReadString(file, keys::kSetCommunity);
        s.getCommunity = ReadString(file, keys::kGetCommunity);
        s.trapHost = ReadIpAddress(file, keys::kTrapHost);
        s.managerPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kManagerPort));
        s.agentPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kSNMPAgentPort));
        s.version2c = ReadSwitch(file, keys::kVersion2c);
        s.standardNames = ReadSwitch(file, keys::kStandardNames);
        s.standardValues = ReadSwitch(file, keys::kStandardValues);
        s.version1 = ReadSwitch(file, keys::kVersion1);
        s.systemGroup = ReadSwitch(file, keys::kSystemGroup);
        s.notify = ReadNotifications(file, s);
    }
    s.httpPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kHTTPPort));
    s.relayPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kNetXCPAgentPort));
    s.responsive = ReadSwitch(file, keys::kResponsiveLoop);
    s.counterLogInterval = ReadUnsigned(file, keys::kCounterLogInterval);
    s.reloadOnHangup = ReadSwitch(file, keys::kReloadOnHangup);
    ReadPowerSettings(file, s.power);
    return s;
}

void PrepareEngine(SService& service, const SSettings& settings)
{
    if (!settings.snmpv3)
        return;
    if (!service.engine) {
        // An engine state that cannot be trusted (or advanced) turns off
        // SNMPv3 alone: everything else serves, and the file is left as it
        // is for the operator, so that no boot count is ever used twice.
        try {
            service.engine = usm::StartEngine(service.engineStatePath);
        } catch (const CPVXException&) {
            CPVXException off(EVENT_SNMPV3_OFF, {service.engineStatePath});
            off.SetDetail(service.engineStatePath);
            off.Report(EPriority::Warning);
            return;
        }
        // The engine ID is what pvx-passwd needs to localize keys to pvx.
        std::string id = usm::HexOf(service.engine->engineId);
        ReportLine("SNMPv3 engine ID " + id + ", boots " + std::to_string(service.engine->boots)
                       + " (keys for it: pvx-passwd -3 SHA -e " + id + ")",
                   EPriority::Info);
    }
    try {
        usm::CheckLocalization(settings.users, service.engine->engineId);
    } catch (CPVXException& e) {
        RethrowWithUserDetail(e);
    }
}

} // namespace pvx
