// The keys of pvx.ini that pvx reads, one table entry each (section, key, type,
// default, meaning), and the reads that take a key's default from its entry.
#pragma once

#include "config/AddressList.h"
#include "config/INIFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pvx {

enum class EConfigType {
    String, // the rest of the line
    Unsigned, // decimal digits, as CINIFile::GetUInt reads them
    Address, // host name or dotted address; every address key defaults to 0.0.0.0
    AddressList, // comma-separated addresses and networks; every list defaults to empty (any source)
};

struct SConfigKey {
    const char* section;
    // A numbered key (count > 1) is a family: key is the stem, the names are
    // <key>1 to <key><count>.
    const char* key;
    EConfigType type;
    const char* defaultValue; // as the documents write it
    const char* meaning;
    std::size_t count = 1;
    // A value that may run past the reader's usual 255-character line (0: it may not).
    std::size_t lineLimit = 0;
};

namespace keys {

// Several quirks are kept on purpose: "TrapCommnity" is spelled so, and
// CommunicationsBaudRate = 0 hands over to CommunicationsBaudRateLast.
inline constexpr SConfigKey kCommunicationsPort { "Communications", "CommunicationsPort", EConfigType::String,
    "/dev/ttyS0", "serial device of the UPS" };
inline constexpr SConfigKey kCommunicationsBaudRate { "Communications", "CommunicationsBaudRate", EConfigType::Unsigned,
    "0", "serial speed at construction; 0 uses CommunicationsBaudRateLast" };
inline constexpr SConfigKey kCommunicationsBaudRateLast { "Communications", "CommunicationsBaudRateLast",
    EConfigType::Unsigned, "9600", "speed when CommunicationsBaudRate is 0; 0 means 9600" };
inline constexpr SConfigKey kDriver { "Communications", "Driver", EConfigType::String, "xcp",
    "UPS object: xcp (detection) or simulated (DummyUPS.ini)" };
inline constexpr SConfigKey kSNMPEnabled { "SNMP", "Enabled", EConfigType::Unsigned, "0",
    "non-zero starts the SNMP agent" };
inline constexpr SConfigKey kGetCommunity { "SNMP", "GetCommunity", EConfigType::String, "gavrel",
    "community of get and get-next requests" };
inline constexpr SConfigKey kSetCommunity { "SNMP", "SetCommunity", EConfigType::String, "sotwick",
    "community of set requests" };
inline constexpr SConfigKey kTrapCommunity { "SNMP", "TrapCommnity", EConfigType::String, "gavrel",
    "community put into traps" };
inline constexpr SConfigKey kTrapHost { "SNMP", "TrapHost", EConfigType::Address, "0.0.0.0",
    "where traps are sent; 0.0.0.0: nowhere" };
inline constexpr SConfigKey kManagerPort { "SNMP", "ManagerPort", EConfigType::Unsigned, "162",
    "UDP port that traps are sent to" };
inline constexpr SConfigKey kTrapVersion { "SNMP", "TrapVersion", EConfigType::String, "1",
    "version of traps: 1, 2c or 3" };
inline constexpr SConfigKey kTrapInform { "SNMP", "TrapInform", EConfigType::Unsigned, "0",
    "non-zero sends informs, acknowledged and retried (TrapVersion 2c or 3)" };
inline constexpr SConfigKey kTrapUser { "SNMP", "TrapUser", EConfigType::String, "",
    "the [SNMPv3] user that sends notifications with TrapVersion=3" };
inline constexpr SConfigKey kSNMPAgentPort { "SNMP", "AgentPort", EConfigType::Unsigned, "161",
    "UDP port of the SNMP agent" };
inline constexpr SConfigKey kReadManagers { "SNMP", "ReadManagers", EConfigType::AddressList, "",
    "sources whose SNMP requests are served" };
inline constexpr SConfigKey kSetManagers { "SNMP", "SetManagers", EConfigType::AddressList, "",
    "sources whose set requests are served" };
inline constexpr SConfigKey kVersion2c { "SNMP", "Version2c", EConfigType::Unsigned, "0", "non-zero answers SNMPv2c" };
inline constexpr SConfigKey kStandardNames { "SNMP", "StandardNames", EConfigType::Unsigned, "0",
    "non-zero names table cells as RFC 1628 does" };
inline constexpr SConfigKey kVersion1 { "SNMP", "Version1", EConfigType::Unsigned, "1",
    "with SNMPv3 on, 0 drops SNMPv1 and v2c requests" };
inline constexpr SConfigKey kStandardValues { "SNMP", "StandardValues", EConfigType::Unsigned, "0",
    "non-zero sends RFC 1628's types, values and traps" };
inline constexpr SConfigKey kSystemGroup { "SNMP", "SystemGroup", EConfigType::Unsigned, "0",
    "non-zero serves the system and snmp groups (and the SNMPv3 engine's)" };
inline constexpr SConfigKey kSysContact { "SNMP", "SysContact", EConfigType::String, "",
    "sysContact; rewritten when a manager sets it", 1, 512 };
inline constexpr SConfigKey kSysName { "SNMP", "SysName", EConfigType::String, "",
    "sysName, empty: the host name; rewritten when a manager sets it", 1, 512 };
inline constexpr SConfigKey kSysLocation { "SNMP", "SysLocation", EConfigType::String, "",
    "sysLocation; rewritten when a manager sets it", 1, 512 };
inline constexpr SConfigKey kSourceAddress { "Network", "SourceAddress", EConfigType::Address, "0.0.0.0",
    "local address every socket binds to" };
inline constexpr SConfigKey kPasswd { "Network", "Passwd", EConfigType::String, "Kq4Tz9",
    "stored relay password; the default means none was set" };
inline constexpr SConfigKey kResponsiveLoop { "Network", "ResponsiveLoop", EConfigType::Unsigned, "0",
    "non-zero serves requests during every wait of the loop" };
inline constexpr SConfigKey kCounterLogInterval { "Network", "CounterLogInterval", EConfigType::Unsigned, "0",
    "seconds between counter lines; 0: none" };
inline constexpr SConfigKey kNetXCPEnabled { "NetXCP", "Enabled", EConfigType::Unsigned, "1",
    "0 opens no relay socket" };
inline constexpr SConfigKey kNetXCPAgentPort { "NetXCP", "AgentPort", EConfigType::Unsigned, "7010",
    "UDP port of the XCP relay" };
inline constexpr SConfigKey kNetXCPClients { "NetXCP", "Clients", EConfigType::AddressList, "",
    "sources whose relay datagrams are handled" };
inline constexpr SConfigKey kUPSName { "UPSIdent", "Name", EConfigType::String, "",
    "UPS name; rewritten when a manager sets it" };
inline constexpr SConfigKey kAttachedDevices { "UPSIdent", "AttachedDevices", EConfigType::String, "",
    "what the UPS powers; rewritten when a manager sets it" };
inline constexpr SConfigKey kHTTPEnabled { "HTTP", "Enabled", EConfigType::Unsigned, "0",
    "non-zero starts the read-only HTTP server" };
inline constexpr SConfigKey kHTTPPort { "HTTP", "Port", EConfigType::Unsigned, "8080", "TCP port of the HTTP server" };
inline constexpr SConfigKey kHTTPClients { "HTTP", "Clients", EConfigType::AddressList, "",
    "sources allowed to connect to the HTTP server" };
inline constexpr SConfigKey kHTTPCertificate { "HTTP", "Certificate", EConfigType::String, "",
    "PEM certificate file; with HTTP/Key the server speaks HTTPS only" };
inline constexpr SConfigKey kHTTPKey { "HTTP", "Key", EConfigType::String, "",
    "PEM private key file of HTTP/Certificate" };
inline constexpr SConfigKey kSNMPv3Enabled { "SNMPv3", "Enabled", EConfigType::Unsigned, "0",
    "non-zero answers SNMPv3 (with SNMP/Enabled on)" };
inline constexpr SConfigKey kSNMPv3User { "SNMPv3", "User", EConfigType::String, "",
    "one USM user a line; empty: no such user", 8, 512 };
inline constexpr SConfigKey kNUTEnabled { "NUT", "Enabled", EConfigType::Unsigned, "0",
    "non-zero starts the RFC 9271 server" };
inline constexpr SConfigKey kNUTPort { "NUT", "Port", EConfigType::Unsigned, "3493",
    "TCP port of the RFC 9271 server" };
inline constexpr SConfigKey kNUTClients { "NUT", "Clients", EConfigType::AddressList, "",
    "sources allowed to connect to the RFC 9271 server" };
inline constexpr SConfigKey kNUTUPSName { "NUT", "UPSName", EConfigType::String, "ups",
    "the UPS's name in RFC 9271 requests" };
inline constexpr SConfigKey kNUTDescription { "NUT", "Description", EConfigType::String, "",
    "the UPS's description for LIST UPS and GET UPSDESC" };
inline constexpr SConfigKey kNUTUser { "NUT", "User", EConfigType::String, "",
    "one user a line: name,storedPassword,role; empty: no such user", 8 };
inline constexpr SConfigKey kReloadOnHangup { "Service", "ReloadOnHangup", EConfigType::Unsigned, "0",
    "non-zero: SIGHUP re-reads pvx.ini instead of ending pvx" };
inline constexpr SConfigKey kKeepEventLog { "Service", "KeepEventLog", EConfigType::Unsigned, "0",
    "non-zero keeps the event log across restarts in events.log in the state folder" };

inline constexpr SConfigKey kNotifyLogEvents { "Notify", "LogEvents", EConfigType::Unsigned, "0",
    "non-zero logs each power event once (on battery, power restored, low battery ...)" };
inline constexpr SConfigKey kNotifyCommand { "Notify", "Command", EConfigType::String, "",
    "program and arguments run for each power event, without a shell; empty: none" };
inline constexpr SConfigKey kNotifyTimeoutSeconds { "Notify", "TimeoutSeconds", EConfigType::Unsigned, "30",
    "seconds after which a notification command is killed" };
inline constexpr SConfigKey kShutdownEnabled { "Shutdown", "Enabled", EConfigType::Unsigned, "0",
    "non-zero shuts this host down in order when the UPS becomes critical" };
inline constexpr SConfigKey kShutdownMinimumRuntime { "Shutdown", "MinimumRuntimeSeconds", EConfigType::Unsigned, "0",
    "on battery with less run time left than this is critical; 0: not used" };
inline constexpr SConfigKey kShutdownOnBattery { "Shutdown", "OnBatterySeconds", EConfigType::Unsigned, "0",
    "this long on battery is critical; 0: not used" };
inline constexpr SConfigKey kShutdownLostSeconds { "Shutdown", "LostSeconds", EConfigType::Unsigned, "15",
    "a UPS last seen on battery and lost this long is critical" };
inline constexpr SConfigKey kShutdownHostSync { "Shutdown", "HostSyncSeconds", EConfigType::Unsigned, "15",
    "longest wait for the RFC 9271 server's clients to log out after FSD" };
inline constexpr SConfigKey kShutdownUPSOffDelay { "Shutdown", "UPSOffDelaySeconds", EConfigType::Unsigned, "0",
    "the UPS switches its output off this long after the wait, on again when the power returns; 0: left on" };
inline constexpr SConfigKey kShutdownCommand { "Shutdown", "Command", EConfigType::String, "",
    "program and arguments that power this host off, without a shell" };
inline constexpr SConfigKey kShutdownDryRun { "Shutdown", "DryRun", EConfigType::Unsigned, "0",
    "non-zero logs each step of the shutdown instead of taking it" };

// Every key above, in the order of the sample pvx.ini.
inline constexpr const SConfigKey* kAll[] = {
    &kCommunicationsPort,
    &kCommunicationsBaudRate,
    &kCommunicationsBaudRateLast,
    &kDriver,
    &kSNMPEnabled,
    &kGetCommunity,
    &kSetCommunity,
    &kTrapCommunity,
    &kTrapHost,
    &kManagerPort,
    &kTrapVersion,
    &kTrapInform,
    &kTrapUser,
    &kSNMPAgentPort,
    &kReadManagers,
    &kSetManagers,
    &kVersion2c,
    &kStandardNames,
    &kVersion1,
    &kStandardValues,
    &kSystemGroup,
    &kSysContact,
    &kSysName,
    &kSysLocation,
    &kSourceAddress,
    &kPasswd,
    &kResponsiveLoop,
    &kCounterLogInterval,
    &kNetXCPEnabled,
    &kNetXCPAgentPort,
    &kNetXCPClients,
    &kUPSName,
    &kAttachedDevices,
    &kHTTPEnabled,
    &kHTTPPort,
    &kHTTPClients,
    &kHTTPCertificate,
    &kHTTPKey,
    &kSNMPv3Enabled,
    &kSNMPv3User,
    &kReloadOnHangup,
    &kNotifyLogEvents,
    &kNotifyCommand,
    &kNotifyTimeoutSeconds,
    &kShutdownEnabled,
    &kShutdownMinimumRuntime,
    &kShutdownOnBattery,
    &kShutdownLostSeconds,
    &kShutdownHostSync,
    &kShutdownUPSOffDelay,
    &kShutdownCommand,
    &kShutdownDryRun,
    &kKeepEventLog,
    &kNUTEnabled,
    &kNUTPort,
    &kNUTClients,
    &kNUTUPSName,
    &kNUTDescription,
    &kNUTUser,
};

} // namespace keys

// The key's name in the file; `index` counts from 0 within a numbered key.
std::string KeyName(const SConfigKey& key, std::size_t index = 0);
// The entry's default as a number (Unsigned keys).
unsigned DefaultUnsigned(const SConfigKey& key);

// Reads of one key, each giving the entry's default as CINIFile does: a
// missing key for every type, a value without digits for numbers, and an
// empty value for addresses (a name that does not resolve throws).
std::string ReadString(const CINIFile& file, const SConfigKey& key, std::size_t index = 0);
unsigned ReadUnsigned(const CINIFile& file, const SConfigKey& key);
// An on/off key: any value other than 0 is on.
bool ReadSwitch(const CINIFile& file, const SConfigKey& key);
std::uint32_t ReadAddress(const CINIFile& file, const SConfigKey& key); // network byte order
SIpAddress ReadIpAddress(const CINIFile& file, const SConfigKey& key); // either family
// Throws as ReadAddressListKey on a list that does not parse.
CAddressList ReadAddressList(const CINIFile& file, const SConfigKey& key);

} // namespace pvx
