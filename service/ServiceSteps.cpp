// The network services of the loop as steps: their settings read from
// pvx.ini and checked, and how each is opened and closed.
#include "service/ServiceState.h"

#include "config/Encryption.h"
#include "events/PVXException.h"
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
std::uint32_t ReadSourceAddress(const CINIFile& file)
{
    std::uint32_t address = ReadAddress(file, keys::kSourceAddress);
    if (address != 0 && !IsLocalAddress(address)) {
        std::string name = KeyName(keys::kSourceAddress);
        std::string text = file.GetString(keys::kSourceAddress.section, name, "");
        CPVXException event(EVENT_SOURCE_NOT_LOCAL, {std::string(keys::kSourceAddress.section) + "/" + name, text});
        event.SetDetail(event.GetArguments()[0] + ": \"" + text + "\"");
        throw event;
    }
    return address;
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
    auto agent = std::make_unique<CSNMPAgent>(s.agentPort, s.managerPort, s.trapHost, s.sourceAddress, s.getCommunity,
                                              s.setCommunity, s.trapCommunity, s.standardValues);
    agent->SetSourceLists(s.readManagers, s.setManagers);
    agent->AttachCounters(service.counters);
    agent->SetVersion2c(s.version2c);
    if (s.snmpv3) {
        // One engine a run: its clock and boots go on across re-openings.
        if (service.v3)
            service.v3->SetUsers(s.users);
        else
            service.v3 = std::make_unique<usm::CSNMPv3Processor>(*service.engine, s.users);
        std::string unlocalized;
        for (const std::string& key : usm::CheckLocalization(s.users, service.engine->engineId))
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
    if (s.http)
        service.http = std::make_unique<CHttpServer>(s.httpPort, s.sourceAddress, s.httpClients, service.polls,
                                                     service.counters);
}

void CloseHttp(SService& service) { service.http.reset(); }

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

using keys::kSourceAddress;

constexpr const SConfigKey* kSnmpKeys[] = {
    &keys::kSNMPEnabled, &keys::kGetCommunity, &keys::kSetCommunity, &keys::kTrapCommunity, &keys::kTrapHost,
    &keys::kManagerPort, &keys::kSNMPAgentPort, &keys::kReadManagers, &keys::kSetManagers, &keys::kVersion2c,
    &keys::kVersion1, &keys::kStandardValues, &keys::kSystemGroup, &keys::kSysContact, &keys::kSysName,
    &keys::kSysLocation, &kSourceAddress, &keys::kSNMPv3Enabled, &keys::kSNMPv3User,
};
constexpr const SConfigKey* kHttpKeys[] = {
    &keys::kHTTPEnabled, &keys::kHTTPPort, &keys::kHTTPClients, &kSourceAddress,
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
    { "HTTP server", kHttpKeys, OpenHttp, CloseHttp },
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
    s.nut = ReadSwitch(file, keys::kNUTEnabled);
    if (s.nut)
        ReadNutSettings(file, s);
    if (s.snmp || s.http || s.relay || s.nut)
        s.sourceAddress = ReadSourceAddress(file);
    if (s.snmp) {
        s.trapCommunity = ReadString(file, keys::kTrapCommunity);
        s.setCommunity = ReadString(file, keys::kSetCommunity);
        s.getCommunity = ReadString(file, keys::kGetCommunity);
        s.trapHost = ReadAddress(file, keys::kTrapHost);
        s.managerPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kManagerPort));
        s.agentPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kSNMPAgentPort));
        s.version2c = ReadSwitch(file, keys::kVersion2c);
        s.standardNames = ReadSwitch(file, keys::kStandardNames);
        s.standardValues = ReadSwitch(file, keys::kStandardValues);
        s.version1 = ReadSwitch(file, keys::kVersion1);
        s.systemGroup = ReadSwitch(file, keys::kSystemGroup);
    }
    s.httpPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kHTTPPort));
    s.relayPort = static_cast<std::uint16_t>(ReadUnsigned(file, keys::kNetXCPAgentPort));
    s.responsive = ReadSwitch(file, keys::kResponsiveLoop);
    s.counterLogInterval = ReadUnsigned(file, keys::kCounterLogInterval);
    s.reloadOnHangup = ReadSwitch(file, keys::kReloadOnHangup);
    return s;
}

void PrepareEngine(SService& service, const SSettings& settings)
{
    if (!settings.snmpv3)
        return;
    if (!service.engine) {
        try {
            service.engine = usm::StartEngine(service.engineStatePath);
        } catch (CPVXException& e) {
            e.SetDetail(service.engineStatePath);
            throw;
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
