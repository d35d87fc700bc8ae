// The SNMPv1 agent of the running daemon against net-snmp's own tools and
// trap receiver: values served from the simulated UPS, complete walks, sets
// that reach the configuration file and the UPS, communities, and traps.
#include "tests/e2e/SnmpClient.h"
#include "tests/support/Daemon.h"
#include "tests/support/TrapReceiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <span>
#include <sstream>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace pvx::test;

namespace {

// Values the simulated UPS serves; chosen apart from the built-in ones and
// from each other so that a value read from the wrong meter shows. Fixed
// frequencies are whole hertz: the driver keeps meters in whole units.
constexpr char kSimulatorConfiguration[] = R"([identity]
model = Zentra LineGuard 2200
firmware = 3.7 1.15
rating = 2200
phases = 1
wakeup = ident
[nominal]
input_voltage = 220
input_frequency = 60
output_voltage = 225
output_frequency = 60
low_battery_time = 3
audible = 2
low_transfer = 176
high_transfer = 258
temperature_low = 5
temperature_high = 38
[values]
input.voltage = 221
input.current = 23
input.frequency = 61
input.power = 510
output.voltage = 226
output.current = 19
output.frequency = 59
output.power = 405
output.va = 1100
bypass.voltage = 219
battery.voltage = 548
battery.current = -4
battery.charge = 87
battery.runtime = 1500
battery.temperature = 27
ambient.temperature = 23
input.linebads = 3
[simulation]
drift = off
)";

constexpr char kIdentity[] = "[UPSIdent]\nName=Rack 7\nAttachedDevices=db1 db2\n";
// Traps then name the agent 127.0.0.1, whatever the host name resolves to.
constexpr char kLoopbackSource[] = "[Network]\nSourceAddress=127.0.0.1\n";

constexpr char kGetCommunity[] = "gavrel";
constexpr char kSetCommunity[] = "sotwick";

// The daemon serves one request per pass of its loop (about 2 s, 1 s with -i).
constexpr int kToolTimeoutSeconds = 5;

SDaemonOptions Options(
    const std::string& extraIni, std::vector<std::string> arguments = {}, unsigned short managerPort = 0)
{
    SDaemonOptions options;
    options.snmp = true;
    options.managerPort = managerPort;
    options.extraIni = extraIni;
    options.arguments = std::move(arguments);
    return options;
}

std::string WriteSimulatorConfiguration(const CTempDir& folder)
{
    WriteTextFile(folder.File("upssim.conf"), kSimulatorConfiguration);
    return folder.File("upssim.conf");
}

// The simulated UPS and pvx in one temporary folder.
struct SRig {
    explicit SRig(SDaemonOptions options)
    {
        pvx = std::make_unique<CPvxDaemon>(folder.Path(), ups.DevicePath(), std::move(options));
    }

    // Identification ends with the first event read; requests sent before
    // then wait for it, but frames counted before then would include it.
    bool Identified()
    {
        return ups.IsReady() && pvx->WaitForStdout("UPS found is [Zentra LineGuard 2200]", 30s)
            && WaitFor([this] { return std::ranges::count(ups.ReceivedFrames(), std::string("rx 32")) > 0; }, 30s);
    }
    std::string Target() const { return "127.0.0.1:" + std::to_string(pvx->AgentPort()); }

    CTempDir folder;
    std::string configuration = WriteSimulatorConfiguration(folder);
    CSimulatedUps ups { folder.Path(), configuration };
    std::unique_ptr<CPvxDaemon> pvx;
};

// Runs one of net-snmp's tools with numeric names and no MIB files.
// One request lasts at most the tool's time-out times its tries; a walk
// makes one request per object and needs `bound`. Every datagram the tool
// receives is checked to be exactly one message (from its -d dump, which is
// then taken out of the tool's standard error).
SRunResult RunSnmpTool(const std::string& tool, const std::vector<std::string>& arguments, int retries = 1,
    std::chrono::seconds bound = 0s)
{
    std::vector<std::string> all
        = { "-m", "", "-On", "-d", "-t", std::to_string(kToolTimeoutSeconds), "-r", std::to_string(retries) };
    all.insert(all.end(), arguments.begin(), arguments.end());
    if (bound == 0s)
        bound = std::chrono::seconds(kToolTimeoutSeconds * (retries + 1) + 10);
    SRunResult result = RunProgram("/usr/bin/" + tool, tool, all, bound);
    snmp::ExpectEveryDumpedDatagramIsOneMessage(result.err);
    static const std::regex kDumpLine(R"(^(Sending |Received |[0-9A-F]{4}: ).*|^$)");
    std::istringstream lines(result.err);
    std::string line, rest;
    while (std::getline(lines, line))
        if (!std::regex_match(line, kDumpLine))
            rest += line + "\n";
    result.err = rest;
    return result;
}

// "OID = TYPE: value" lines of a tool's output, in order.
std::vector<std::pair<std::string, std::string>> Bindings(const std::string& output)
{
    std::vector<std::pair<std::string, std::string>> bindings;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        auto separator = line.find(" = ");
        if (separator != std::string::npos && line.starts_with("."))
            bindings.emplace_back(line.substr(0, separator), line.substr(separator + 3));
    }
    return bindings;
}

std::optional<std::string> ValueOf(const std::string& output, const std::string& oid)
{
    for (const auto& [name, value] : Bindings(output))
        if (name == oid)
            return value;
    return std::nullopt;
}

// The value of key `key` in section `section` of an INI text.
std::optional<std::string> IniValue(const std::string& text, const std::string& section, const std::string& key)
{
    std::istringstream lines(text);
    std::string line, current;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("[") && line.ends_with("]"))
            current = line.substr(1, line.size() - 2);
        else if (current == section && line.starts_with(key + "="))
            return line.substr(key.size() + 1);
    }
    return std::nullopt;
}

// Requests the driver sends on its own while polling; left out when the
// frames caused by a set are compared.
// ---- SNMPv1 Trap-PDU decoding ------------------------------------------------------------

// A strict reader of definite-length BER items.
class CBerReader {
public:
    explicit CBerReader(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes)
    {
    }

    bool Read(std::uint8_t tag, std::span<const std::uint8_t>& contents)
    {
        if (m_bytes.size() < 2 || m_bytes[0] != tag)
            return false;
        std::size_t length = m_bytes[1], header = 2;
        if (length & 0x80) {
            std::size_t count = length & 0x7F;
            if (count == 0 || count > 4 || m_bytes.size() < 2 + count)
                return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i)
                length = length << 8 | m_bytes[2 + i];
            header += count;
        }
        if (length > m_bytes.size() - header)
            return false;
        contents = m_bytes.subspan(header, length);
        m_bytes = m_bytes.subspan(header + length);
        return true;
    }
    bool ReadNumber(std::uint8_t tag, std::int64_t& value)
    {
        std::span<const std::uint8_t> contents;
        if (!Read(tag, contents) || contents.empty() || contents.size() > 5)
            return false;
        // INTEGER is signed; Counter, Gauge and TimeTicks carry a leading 0 when needed.
        value = (tag == 0x02 && (contents[0] & 0x80)) ? -1 : 0;
        for (auto byte : contents)
            value = value * 256 + byte;
        return true;
    }
    std::uint8_t PeekTag() const { return m_bytes.empty() ? 0 : m_bytes[0]; }
    std::span<const std::uint8_t> Rest() const { return m_bytes; }
    bool AtEnd() const { return m_bytes.empty(); }

private:
    std::span<const std::uint8_t> m_bytes;
};

std::string OidText(std::span<const std::uint8_t> contents)
{
    if (contents.empty())
        return "?";
    std::string text = std::to_string(contents[0] / 40) + "." + std::to_string(contents[0] % 40);
    std::uint64_t arc = 0;
    for (std::size_t i = 1; i < contents.size(); ++i) {
        arc = arc << 7 | (contents[i] & 0x7F);
        if (!(contents[i] & 0x80)) {
            text += "." + std::to_string(arc);
            arc = 0;
        }
    }
    return text;
}

struct STrap {
    std::string community;
    std::string enterprise;
    std::vector<std::uint8_t> agentAddress;
    std::int64_t generic = -1, specific = -1, timeStamp = -1;
    std::vector<std::string> bindings; // "name=INTEGER 1", "name=OID 1.3..."

    // Enterprise, generic/specific and bindings: what a manager acts on.
    std::string Summary() const
    {
        std::string text = enterprise + " " + std::to_string(generic) + "/" + std::to_string(specific);
        for (const auto& binding : bindings)
            text += " " + binding;
        return text;
    }
};

std::optional<STrap> DecodeTrap(std::span<const std::uint8_t> datagram)
{
    STrap trap;
    CBerReader outer(datagram);
    std::span<const std::uint8_t> message, community, pdu, enterprise, address, list;
    // One message per datagram: nothing may follow it.
    if (!outer.Read(0x30, message) || !outer.AtEnd())
        return std::nullopt;
    CBerReader fields(message);
    std::int64_t version = -1;
    if (!fields.ReadNumber(0x02, version) || version != 0 || !fields.Read(0x04, community) || !fields.Read(0xA4, pdu)
        || !fields.AtEnd())
        return std::nullopt;
    trap.community.assign(community.begin(), community.end());
    CBerReader body(pdu);
    if (!body.Read(0x06, enterprise) || !body.Read(0x40, address) || !body.ReadNumber(0x02, trap.generic)
        || !body.ReadNumber(0x02, trap.specific) || !body.ReadNumber(0x43, trap.timeStamp) || !body.Read(0x30, list)
        || !body.AtEnd())
        return std::nullopt;
    trap.enterprise = OidText(enterprise);
    trap.agentAddress.assign(address.begin(), address.end());
    CBerReader bindings(list);
    while (!bindings.AtEnd()) {
        std::span<const std::uint8_t> binding, name, value;
        if (!bindings.Read(0x30, binding))
            return std::nullopt;
        CBerReader parts(binding);
        if (!parts.Read(0x06, name))
            return std::nullopt;
        std::string text = OidText(name) + "=";
        std::int64_t number = 0;
        if (parts.PeekTag() == 0x02 && parts.ReadNumber(0x02, number))
            text += "INTEGER " + std::to_string(number);
        else if (parts.PeekTag() == 0x06 && parts.Read(0x06, value))
            text += "OID " + OidText(value);
        else if (parts.PeekTag() == 0x04 && parts.Read(0x04, value))
            text += "STRING " + std::string(value.begin(), value.end());
        else
            return std::nullopt;
        if (!parts.AtEnd())
            return std::nullopt;
        trap.bindings.push_back(text);
    }
    return trap;
}

// Waits for `count` traps; every datagram must decode as one.
std::vector<STrap> ReceiveTraps(CUdpListener& listener, std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<STrap> traps;
    auto end = std::chrono::steady_clock::now() + timeout;
    std::vector<std::uint8_t> datagram;
    while (traps.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !listener.Receive(datagram, left))
            break;
        auto trap = DecodeTrap(datagram);
        EXPECT_TRUE(trap.has_value()) << "not a Trap-PDU, " << datagram.size() << " bytes";
        if (trap)
            traps.push_back(*trap);
    }
    return traps;
}

std::vector<std::string> Summaries(const std::vector<STrap>& traps)
{
    std::vector<std::string> summaries;
    for (const auto& trap : traps)
        summaries.push_back(trap.Summary());
    return summaries;
}

// The exact bytes of coldStart (generic 0) or authenticationFailure (4) as
// the agent sends them, around the time-stamp it chose.
std::vector<std::uint8_t> GenericTrapBytes(std::uint8_t generic, std::span<const std::uint8_t> timeStamp)
{
    auto m = static_cast<std::uint8_t>(timeStamp.size());
    std::vector<std::uint8_t> bytes = {
        0x30, 0x82, 0x00, static_cast<std::uint8_t>(56 + m), // message
        0x02, 0x82, 0x00, 0x01, 0x00, // version 0 (SNMPv1)
        0x04, 0x82, 0x00, 0x06, 'g', 'a', 'v', 'r', 'e', 'l', // trap community
        0xA4, 0x82, 0x00, static_cast<std::uint8_t>(37 + m), // Trap-PDU
        0x06, 0x82, 0x00, 0x07, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x0B, 0x00, // enterprise 1.3.6.1.2.1.11.0
        0x40, 0x82, 0x00, 0x04, 127, 0, 0, 1, // agent-addr: the configured source address
        0x02, 0x82, 0x00, 0x01, generic, // generic-trap
        0x02, 0x82, 0x00, 0x01, 0x00, // specific-trap 0
        0x43, 0x82, 0x00, m, // time-stamp, m bytes follow
    };
    bytes.insert(bytes.end(), timeStamp.begin(), timeStamp.end());
    const std::uint8_t tail[] = {
        0x30, 0x82, 0x00, 0x00, // empty variable-binding list
    };
    bytes.insert(bytes.end(), std::begin(tail), std::end(tail));
    return bytes;
}

// Checks a coldStart or authenticationFailure datagram byte for byte; the
// time-stamp is the wall clock in hundredths of a second, cut to 32 bits.
void ExpectGenericTrap(const std::vector<std::uint8_t>& datagram, std::uint8_t generic)
{
    constexpr std::size_t kTimeStampLength = 55; // offset of the time-stamp's length byte
    ASSERT_GT(datagram.size(), kTimeStampLength);
    std::size_t m = datagram[kTimeStampLength];
    ASSERT_TRUE(m >= 1 && m <= 5 && datagram.size() > kTimeStampLength + m);
    auto timeStamp = std::span(datagram).subspan(kTimeStampLength + 1, m);
    EXPECT_EQ(datagram, GenericTrapBytes(generic, timeStamp));

    auto trap = DecodeTrap(datagram);
    ASSERT_TRUE(trap);
    auto now
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    auto expected = static_cast<std::uint32_t>(now.count()) / 10;
    auto difference = static_cast<std::int32_t>(expected - static_cast<std::uint32_t>(trap->timeStamp));
    EXPECT_LT(std::abs(difference), 3000) << "time-stamp " << trap->timeStamp << ", clock " << expected;
}

const std::string kUpsTraps = "1.3.6.1.2.1.33.2.0";
const std::string kVendorTraps = "1.3.6.1.4.1.534.1.0";

// upsTrapAlarmEntryAdded (3) or upsTrapAlarmEntryRemoved (4): the entry's id
// and descriptor (1.3.6.1.2.1.33.1.6.3.N) under the fixed column names.
std::string AlarmEntryTrap(int specific, int id, int alarm)
{
    return kUpsTraps + " 6/" + std::to_string(specific) + " 1.3.6.1.2.1.33.1.6.2.1.1.0=INTEGER " + std::to_string(id)
        + " 1.3.6.1.2.1.33.1.6.2.1.2.0=OID 1.3.6.1.2.1.33.1.6.3." + std::to_string(alarm) + ".0";
}

std::string VendorTrap(int specific)
{
    return kVendorTraps + " 6/" + std::to_string(specific);
}

// ---- Values ---------------------------------------------------------------------------------

struct SExpectedValue {
    const char* oid;
    const char* value; // as snmpget prints it; nullptr: the UPS clock, checked by its form
    const char* what;
};

// What the simulator's configuration makes each object read, in the units of
// RFC 1628 (tenths of volts, amperes and hertz where it says so).
const SExpectedValue kServedValues[] = {
    { ".1.3.6.1.2.1.33.1.1.1.0", "STRING: \"Zentra\"", "manufacturer: first word of the model text" },
    { ".1.3.6.1.2.1.33.1.1.2.0", "STRING: \"LineGuard 2200\"", "model: the rest of the model text" },
    { ".1.3.6.1.2.1.33.1.1.3.0", "STRING: \"3.7 1.15\"", "UPS software: the firmware versions" },
    { ".1.3.6.1.2.1.33.1.1.4.0", "STRING: \"0.1a\"", "agent software version" },
    { ".1.3.6.1.2.1.33.1.1.5.0", "STRING: \"Rack 7\"", "name from pvx.ini" },
    { ".1.3.6.1.2.1.33.1.1.6.0", "STRING: \"db1 db2\"", "attached devices from pvx.ini" },
    { ".1.3.6.1.2.1.33.1.2.1.0", "INTEGER: 2", "batteryNormal: 25 minutes left, low battery at 3" },
    { ".1.3.6.1.2.1.33.1.2.2.0", "INTEGER: 0", "seconds on battery while on line" },
    { ".1.3.6.1.2.1.33.1.2.3.0", "INTEGER: 25", "minutes remaining: 1500 s" },
    { ".1.3.6.1.2.1.33.1.2.4.0", "INTEGER: 87", "charge remaining" },
    { ".1.3.6.1.2.1.33.1.2.5.0", "INTEGER: 548", "battery voltage, 0.1 V" },
    { ".1.3.6.1.2.1.33.1.2.6.0", "INTEGER: -4", "battery current, 0.1 A, signed" },
    { ".1.3.6.1.2.1.33.1.2.7.0", "INTEGER: 27", "battery temperature" },
    { ".1.3.6.1.2.1.33.1.3.1.0", "INTEGER: 3", "input line bads: statistics meter" },
    { ".1.3.6.1.2.1.33.1.3.2.0", "INTEGER: 1", "input lines" },
    { ".1.3.6.1.2.1.33.1.3.3.1.2.0", "INTEGER: 610", "input frequency, 0.1 Hz" },
    { ".1.3.6.1.2.1.33.1.3.3.1.3.0", "INTEGER: 221", "input voltage" },
    { ".1.3.6.1.2.1.33.1.3.3.1.4.0", "INTEGER: 23", "input current, 0.1 A" },
    { ".1.3.6.1.2.1.33.1.3.3.1.5.0", "INTEGER: 510", "input true power" },
    { ".1.3.6.1.2.1.33.1.4.1.0", "INTEGER: 3", "output source normal" },
    { ".1.3.6.1.2.1.33.1.4.2.0", "INTEGER: 590", "output frequency, 0.1 Hz" },
    { ".1.3.6.1.2.1.33.1.4.3.0", "INTEGER: 1", "output lines" },
    { ".1.3.6.1.2.1.33.1.4.4.1.2.0", "INTEGER: 226", "output voltage" },
    { ".1.3.6.1.2.1.33.1.4.4.1.3.0", "INTEGER: 19", "output current, 0.1 A" },
    { ".1.3.6.1.2.1.33.1.4.4.1.4.0", "INTEGER: 405", "output power" },
    { ".1.3.6.1.2.1.33.1.4.4.1.5.0", "INTEGER: 50", "output load: 1100 VA of 2200" },
    { ".1.3.6.1.2.1.33.1.9.5.0", "INTEGER: 2200", "rating from the identification block" },
    { ".1.3.6.1.4.1.534.1.2.1.0", "INTEGER: 1500", "vendor battery seconds" },
    { ".1.3.6.1.4.1.534.1.2.2.0", "INTEGER: 54", "vendor battery volts" },
    { ".1.3.6.1.4.1.534.1.3.4.1.3.0", "INTEGER: 2", "vendor input amperes" },
    { ".1.3.6.1.4.1.534.1.6.1.0", "INTEGER: 23", "ambient temperature" },
};

TEST(Snmp, GetReadsTheValuesTheSimulatedUpsServes)
{
    SRig rig(Options(kIdentity));
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();

    std::vector<std::string> arguments = { "-v1", "-c", kGetCommunity, rig.Target() };
    for (const auto& expected : kServedValues)
        arguments.push_back(expected.oid);
    // One request for all of them: the agent serves one per pass.
    auto result = RunSnmpTool("snmpget", arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    for (const auto& expected : kServedValues)
        EXPECT_EQ(ValueOf(result.out, expected.oid), expected.value) << expected.what;
    EXPECT_EQ(Bindings(result.out).size(), std::size(kServedValues));
}

// ---- Walks ----------------------------------------------------------------------------------

struct SWalk {
    const char* name;
    const char* subtree;
    std::vector<SExpectedValue> objects;
    const char* after; // what snmpwalk prints after the last object, "" for nothing
};

const SWalk kWalks[] = {
    { "UpsMib", "1.3.6.1.2.1.33",
        {
            { ".1.3.6.1.2.1.33.1.1.1.0", "STRING: \"Zentra\"", "" },
            { ".1.3.6.1.2.1.33.1.1.2.0", "STRING: \"LineGuard 2200\"", "" },
            { ".1.3.6.1.2.1.33.1.1.3.0", "STRING: \"3.7 1.15\"", "" },
            { ".1.3.6.1.2.1.33.1.1.4.0", "STRING: \"0.1a\"", "" },
            { ".1.3.6.1.2.1.33.1.1.5.0", "STRING: \"Rack 7\"", "" },
            { ".1.3.6.1.2.1.33.1.1.6.0", "STRING: \"db1 db2\"", "" },
            { ".1.3.6.1.2.1.33.1.2.1.0", "INTEGER: 2", "" },
            { ".1.3.6.1.2.1.33.1.2.2.0", "INTEGER: 0", "" },
            { ".1.3.6.1.2.1.33.1.2.3.0", "INTEGER: 25", "" },
            { ".1.3.6.1.2.1.33.1.2.4.0", "INTEGER: 87", "" },
            { ".1.3.6.1.2.1.33.1.2.5.0", "INTEGER: 548", "" },
            { ".1.3.6.1.2.1.33.1.2.6.0", "INTEGER: -4", "" },
            { ".1.3.6.1.2.1.33.1.2.7.0", "INTEGER: 27", "" },
            { ".1.3.6.1.2.1.33.1.3.1.0", "INTEGER: 3", "" },
            { ".1.3.6.1.2.1.33.1.3.2.0", "INTEGER: 1", "" },
            { ".1.3.6.1.2.1.33.1.3.3.1.2.0", "INTEGER: 610", "input table: row 1, from column 2" },
            { ".1.3.6.1.2.1.33.1.3.3.1.3.0", "INTEGER: 221", "" },
            { ".1.3.6.1.2.1.33.1.3.3.1.4.0", "INTEGER: 23", "" },
            { ".1.3.6.1.2.1.33.1.3.3.1.5.0", "INTEGER: 510", "" },
            { ".1.3.6.1.2.1.33.1.4.1.0", "INTEGER: 3", "" },
            { ".1.3.6.1.2.1.33.1.4.2.0", "INTEGER: 590", "" },
            { ".1.3.6.1.2.1.33.1.4.3.0", "INTEGER: 1", "" },
            { ".1.3.6.1.2.1.33.1.4.4.1.2.0", "INTEGER: 226", "" },
            { ".1.3.6.1.2.1.33.1.4.4.1.3.0", "INTEGER: 19", "" },
            { ".1.3.6.1.2.1.33.1.4.4.1.4.0", "INTEGER: 405", "" },
            { ".1.3.6.1.2.1.33.1.4.4.1.5.0", "INTEGER: 50", "" },
            { ".1.3.6.1.2.1.33.1.5.1.0", "INTEGER: 0", "no bypass frequency meter" },
            { ".1.3.6.1.2.1.33.1.5.2.0", "INTEGER: 1", "" },
            { ".1.3.6.1.2.1.33.1.5.3.1.2.0", "INTEGER: 219", "" },
            { ".1.3.6.1.2.1.33.1.5.3.1.3.0", "INTEGER: 0", "" },
            { ".1.3.6.1.2.1.33.1.5.3.1.4.0", "INTEGER: 0", "" },
            { ".1.3.6.1.2.1.33.1.6.1.0", "INTEGER: 0", "no alarms: the empty table is skipped" },
            { ".1.3.6.1.2.1.33.1.7.1.0", "OID: .1.3.6.1.2.1.33.1.7.7.1.0", "upsTestNoTestsInitiated" },
            { ".1.3.6.1.2.1.33.1.7.2.0", "INTEGER: 1", "" },
            { ".1.3.6.1.2.1.33.1.7.3.0", "INTEGER: 6", "" },
            { ".1.3.6.1.2.1.33.1.7.4.0", "\"\"", "" },
            { ".1.3.6.1.2.1.33.1.7.5.0", "INTEGER: 0", "" },
            { ".1.3.6.1.2.1.33.1.7.6.0", "INTEGER: 0", "" },
            { ".1.3.6.1.2.1.33.1.8.1.0", "INTEGER: 1", "" },
            { ".1.3.6.1.2.1.33.1.8.2.0", "INTEGER: -1", "no shutdown due" },
            { ".1.3.6.1.2.1.33.1.8.3.0", "INTEGER: -1", "" },
            { ".1.3.6.1.2.1.33.1.8.4.0", "INTEGER: -1", "" },
            { ".1.3.6.1.2.1.33.1.8.5.0", "INTEGER: 1", "" },
            { ".1.3.6.1.2.1.33.1.9.1.0", "INTEGER: 220", "" },
            { ".1.3.6.1.2.1.33.1.9.2.0", "INTEGER: 600", "" },
            { ".1.3.6.1.2.1.33.1.9.3.0", "INTEGER: 225", "" },
            { ".1.3.6.1.2.1.33.1.9.4.0", "INTEGER: 600", "" },
            { ".1.3.6.1.2.1.33.1.9.5.0", "INTEGER: 2200", "" },
            { ".1.3.6.1.2.1.33.1.9.6.0", "INTEGER: 405", "" },
            { ".1.3.6.1.2.1.33.1.9.7.0", "INTEGER: 3", "" },
            { ".1.3.6.1.2.1.33.1.9.8.0", "INTEGER: 2", "" },
            { ".1.3.6.1.2.1.33.1.9.9.0", "INTEGER: 176", "" },
            { ".1.3.6.1.2.1.33.1.9.10.0", "INTEGER: 258", "the walk leaves the subtree after this one" },
        },
        "" },
    { "VendorMib", "1.3.6.1.4.1.534.1",
        {
            { ".1.3.6.1.4.1.534.1.1.1.0", "STRING: \"Zentra\"", "" },
            { ".1.3.6.1.4.1.534.1.1.2.0", "STRING: \"LineGuard 2200\"", "" },
            { ".1.3.6.1.4.1.534.1.1.3.0", "STRING: \"3.7 1.15\"", "" },
            { ".1.3.6.1.4.1.534.1.2.1.0", "INTEGER: 1500", "" },
            { ".1.3.6.1.4.1.534.1.2.2.0", "INTEGER: 54", "" },
            { ".1.3.6.1.4.1.534.1.2.3.0", "INTEGER: 0", "-0.4 A in whole amperes" },
            { ".1.3.6.1.4.1.534.1.2.4.0", "INTEGER: 87", "" },
            { ".1.3.6.1.4.1.534.1.2.5.0", "INTEGER: 1", "charging: on line and not full" },
            { ".1.3.6.1.4.1.534.1.3.1.0", "INTEGER: 610", "" },
            { ".1.3.6.1.4.1.534.1.3.2.0", "INTEGER: 3", "" },
            { ".1.3.6.1.4.1.534.1.3.3.0", "INTEGER: 1", "" },
            { ".1.3.6.1.4.1.534.1.3.4.1.1.0", "INTEGER: 1", "vendor tables serve column 1" },
            { ".1.3.6.1.4.1.534.1.3.4.1.2.0", "INTEGER: 221", "" },
            { ".1.3.6.1.4.1.534.1.3.4.1.3.0", "INTEGER: 2", "" },
            { ".1.3.6.1.4.1.534.1.3.4.1.4.0", "INTEGER: 510", "" },
            { ".1.3.6.1.4.1.534.1.4.1.0", "INTEGER: 50", "" },
            { ".1.3.6.1.4.1.534.1.4.2.0", "INTEGER: 590", "" },
            { ".1.3.6.1.4.1.534.1.4.3.0", "INTEGER: 1", "" },
            { ".1.3.6.1.4.1.534.1.4.4.1.1.0", "INTEGER: 1", "" },
            { ".1.3.6.1.4.1.534.1.4.4.1.2.0", "INTEGER: 226", "" },
            { ".1.3.6.1.4.1.534.1.4.4.1.3.0", "INTEGER: 1", "" },
            { ".1.3.6.1.4.1.534.1.4.4.1.4.0", "INTEGER: 405", "" },
            { ".1.3.6.1.4.1.534.1.5.1.0", "INTEGER: 0", "" },
            { ".1.3.6.1.4.1.534.1.5.2.0", "INTEGER: 1", "" },
            { ".1.3.6.1.4.1.534.1.5.3.1.1.0", "INTEGER: 1", "" },
            { ".1.3.6.1.4.1.534.1.5.3.1.2.0", "INTEGER: 219", "" },
            { ".1.3.6.1.4.1.534.1.6.1.0", "INTEGER: 23", "" },
            { ".1.3.6.1.4.1.534.1.6.2.0", "INTEGER: 5", "" },
            { ".1.3.6.1.4.1.534.1.6.3.0", "INTEGER: 38", "" },
            { ".1.3.6.1.4.1.534.1.7.1.0", "INTEGER: 0", "" },
            { ".1.3.6.1.4.1.534.1.7.18.0", "INTEGER: 0", "no event records yet" },
            { ".1.3.6.1.4.1.534.1.8.2.0", "INTEGER: 1", "the write-only test object is skipped" },
            { ".1.3.6.1.4.1.534.1.9.1.0", "INTEGER: -1", "" },
            { ".1.3.6.1.4.1.534.1.9.2.0", "INTEGER: -1", "" },
            { ".1.3.6.1.4.1.534.1.9.3.0", "INTEGER: -1", "" },
            { ".1.3.6.1.4.1.534.1.9.4.0", "INTEGER: -1", "" },
            { ".1.3.6.1.4.1.534.1.9.5.0", "INTEGER: -1", "" },
            { ".1.3.6.1.4.1.534.1.10.1.0", "INTEGER: 225", "" },
            { ".1.3.6.1.4.1.534.1.10.2.0", "INTEGER: 220", "" },
            { ".1.3.6.1.4.1.534.1.10.3.0", "INTEGER: 405", "" },
            { ".1.3.6.1.4.1.534.1.10.4.0", "INTEGER: 600", "" },
            { ".1.3.6.1.4.1.534.1.10.5.0", nullptr, "the tree's last object" },
            { ".1.3.6.1.4.1.534.1.11.1.0", "INTEGER: 1", "the trap level: GET and walk agree" },
            { ".1.3.6.1.4.1.534.1.11.2.0", "INTEGER: 1", "the trap type, the last: GET-NEXT then answers noSuchName" },
        },
        "End of MIB" },
};

void PrintTo(const SWalk& walk, std::ostream* out)
{
    *out << walk.subtree;
}

class SnmpWalk : public testing::TestWithParam<SWalk> { };

TEST_P(SnmpWalk, ReturnsEveryObjectInOrderAndEndsCleanly)
{
    const SWalk& walk = GetParam();
    // With -i a pass takes about 1 s, which halves the walk's time.
    SRig rig(Options(kIdentity, { "-i" }));
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();

    // About 1 s per object; the bound leaves room for a loaded machine.
    auto result = RunSnmpTool("snmpwalk", { "-v1", "-c", kGetCommunity, rig.Target(), walk.subtree }, 1,
        std::chrono::seconds(5 * walk.objects.size()));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    auto bindings = Bindings(result.out);
    std::vector<std::string> names, expectedNames;
    for (const auto& [name, value] : bindings)
        names.push_back(name);
    for (const auto& object : walk.objects)
        expectedNames.push_back(object.oid);
    ASSERT_EQ(names, expectedNames) << result.out;
    const std::regex clock(R"(STRING: "\d\d/\d\d/\d{4}:\d\d:\d\d:\d\d")");
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        const auto& expected = walk.objects[i];
        if (expected.value == nullptr)
            EXPECT_TRUE(std::regex_match(bindings[i].second, clock)) << expected.oid << " " << bindings[i].second;
        else
            EXPECT_EQ(bindings[i].second, expected.value) << expected.oid << " " << expected.what;
    }
    std::string last = result.out.substr(result.out.find_last_of('\n', result.out.size() - 2) + 1);
    if (*walk.after != '\0')
        EXPECT_EQ(last, std::string(walk.after) + "\n");
    else
        EXPECT_TRUE(last.starts_with(walk.objects.back().oid)) << last;
    EXPECT_TRUE(rig.pvx->IsRunning());
}

INSTANTIATE_TEST_SUITE_P(Subtrees, SnmpWalk, testing::ValuesIn(kWalks),
    [](const testing::TestParamInfo<SWalk>& info) { return std::string(info.param.name); });

// ---- Sets -----------------------------------------------------------------------------------

struct SSetCase {
    const char* what;
    std::vector<std::string> binding; // oid, type, value
    int status; // snmpset's exit status
    const char* output; // expected in standard output (success) or error
    std::vector<std::string> frames; // what the UPS receives, polls left out
};

const SSetCase kSets[] = {
    { "upsIdentName", { "1.3.6.1.2.1.33.1.1.5.0", "s", "Rack 9 east" }, 0,
        ".1.3.6.1.2.1.33.1.1.5.0 = STRING: \"Rack 9 east\"", {} },
    { "upsIdentAttachedDevices", { "1.3.6.1.2.1.33.1.1.6.0", "s", "mail and web" }, 0,
        ".1.3.6.1.2.1.33.1.1.6.0 = STRING: \"mail and web\"", {} },
    // 330 s are 5 whole minutes however late the command leaves.
    { "upsShutdownAfterDelay 330 s", { "1.3.6.1.2.1.33.1.8.2.0", "i", "330" }, 0,
        ".1.3.6.1.2.1.33.1.8.2.0 = INTEGER: 330", { "rx CF 3A 91 4E", "rx 93 05 00" } },
    { "upsShutdownAfterDelay -1 cancels", { "1.3.6.1.2.1.33.1.8.2.0", "i", "-1" }, 0,
        ".1.3.6.1.2.1.33.1.8.2.0 = INTEGER: -1", { "rx CF 3A 91 4E", "rx 93 00 00" } },
    { "nothing left to cancel", { "1.3.6.1.2.1.33.1.8.2.0", "i", "-1" }, 2, "(badValue)", {} },
    { "read-only object", { "1.3.6.1.2.1.33.1.2.1.0", "i", "3" }, 2, "(readOnly)", {} },
    { "unknown object", { "1.3.6.1.2.1.33.1.2.8.0", "i", "3" }, 2, "(noSuchName)", {} },
};

TEST(Snmp, SetsReachTheConfigurationFileAndTheUps)
{
    SRig rig(Options(kIdentity));
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();

    for (const auto& set : kSets) {
        SCOPED_TRACE(set.what);
        std::size_t before = rig.ups.ReceivedFrames().size();
        std::vector<std::string> arguments = { "-v1", "-c", kSetCommunity, rig.Target() };
        arguments.insert(arguments.end(), set.binding.begin(), set.binding.end());
        auto result = RunSnmpTool("snmpset", arguments);
        EXPECT_EQ(result.status, set.status) << result.out << result.err;
        EXPECT_NE((result.out + result.err).find(set.output), std::string::npos) << result.out << result.err;
        // The command has been answered before the agent replied.
        EXPECT_EQ(rig.ups.FramesAfter(before), set.frames);
    }
    std::string ini = ReadFile(rig.pvx->IniPath());
    EXPECT_EQ(IniValue(ini, "UPSIdent", "Name"), "Rack 9 east") << ini;
    EXPECT_EQ(IniValue(ini, "UPSIdent", "AttachedDevices"), "mail and web") << ini;
    EXPECT_EQ(IniValue(ini, "SNMP", "AgentPort"), std::to_string(rig.pvx->AgentPort())) << ini;
}

// ---- Communities and traps ------------------------------------------------------------------

struct SCommunityCase {
    const char* what;
    const char* tool;
    const char* version;
    const char* community;
    bool answered;
    bool authenticationFailure;
};

const SCommunityCase kCommunities[] = {
    { "unknown community", "snmpget", "1", "public", false, true },
    { "community differing in case", "snmpget", "1", "GAVREL", false, true },
    { "set with the get community", "snmpset", "1", kGetCommunity, false, true },
    { "SNMPv2c is dropped silently", "snmpget", "2c", kGetCommunity, false, false },
    { "the set community may read", "snmpget", "1", kSetCommunity, true, false },
    { "the get community reads", "snmpget", "1", kGetCommunity, true, false },
};

TEST(Snmp, WrongCommunityGetsNoAnswerAndAnAuthenticationFailureTrap)
{
    CUdpListener manager;
    ASSERT_NE(manager.Port(), 0);
    SRig rig(Options(kLoopbackSource, {}, manager.Port()));

    // coldStart goes to the configured trap host as soon as the agent exists.
    std::vector<std::uint8_t> datagram;
    ASSERT_TRUE(manager.Receive(datagram, 20s));
    {
        SCOPED_TRACE("coldStart");
        ExpectGenericTrap(datagram, 0);
    }
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();

    // Each row from an address of its own: authenticationFailure traps are
    // bounded to one per source per 10 s (and the rows, waiting out their
    // time-outs, are more than a second apart).
    int source = 10;
    for (const auto& request : kCommunities) {
        SCOPED_TRACE(request.what);
        std::vector<std::string> arguments = { "-v", request.version, "-c", request.community,
            "--clientaddr=127.0.0." + std::to_string(source++), rig.Target() };
        if (std::strcmp(request.tool, "snmpset") == 0)
            arguments.insert(arguments.end(), { "1.3.6.1.2.1.33.1.1.5.0", "s", "intruder" });
        else
            arguments.push_back("1.3.6.1.2.1.33.1.1.4.0");
        // No retry: each request is one datagram, so one trap at most.
        auto result = RunSnmpTool(request.tool, arguments, 0);
        if (request.answered) {
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.out, ".1.3.6.1.2.1.33.1.1.4.0 = STRING: \"0.1a\"\n");
        } else {
            EXPECT_NE(result.status, 0);
            EXPECT_NE(result.err.find("Timeout"), std::string::npos) << result.err;
        }
        if (request.authenticationFailure) {
            ASSERT_TRUE(manager.Receive(datagram, 5s));
            ExpectGenericTrap(datagram, 4);
        }
    }
    // Requests are served in order, so any trap from the rows above is here.
    EXPECT_TRUE(manager.ReceiveUntilQuiet(1s).empty());
    EXPECT_EQ(IniValue(ReadFile(rig.pvx->IniPath()), "UPSIdent", "Name"), std::nullopt);
}

// One step of a manager changing its trap filter and the UPS changing alarms.
struct SFilterStep {
    const char* what;
    std::vector<std::string> filter; // trap level and trap type to set; empty: none
    std::vector<std::string> commands; // to the simulated UPS
    std::vector<std::string> traps; // what the manager receives, sorted
};

// XCP alarm 25 is upsAlarmOutputOverload (N = 8; vendor trap 7, level 4, when
// it comes), 56 upsAlarmLowBattery (N = 3; vendor trap 4, level 2, when it
// comes, 6, level 4, when it goes), 168 upsAlarmOnBattery (N = 2; vendor trap
// 3, level 3, when it comes, 5, level 4, and no upsTrapAlarmEntryRemoved when
// it goes). Alarm ids count from 1. The commands of one step name different
// alarms, so that their order within one alarm poll does not matter.
const SFilterStep kFilterSteps[] = {
    { "the trap host's record, level 1 and type 1: standard traps of level 1", {}, { "alarm raise 25" },
        { AlarmEntryTrap(3, 1, 8) } },
    { "type 1 takes standard traps only, at any level", { "4", "1" }, { "alarm clear 25", "alarm raise 56" },
        { AlarmEntryTrap(3, 2, 3), AlarmEntryTrap(4, 1, 8) } },
    { "type 2 takes extended traps only", { "4", "2" }, { "alarm clear 56", "alarm raise 25" },
        { VendorTrap(6), VendorTrap(7) } },
    { "type 0 takes both families; a level-3 trap passes level 3", { "3", "0" },
        { "alarm clear 25", "alarm raise 168" }, { AlarmEntryTrap(3, 4, 2), AlarmEntryTrap(4, 3, 8), VendorTrap(3) } },
    { "level 3 keeps the level-4 vendor traps out", {}, { "alarm clear 168", "alarm raise 25" },
        { AlarmEntryTrap(3, 5, 8) } },
};

TEST(Snmp, AlarmTrapsFollowTheTrapLevelAndTypeTheManagerSets)
{
    CUdpListener manager;
    ASSERT_NE(manager.Port(), 0);
    // The manager asks from 127.0.0.1, the trap host's address: its sets
    // change the trap host's own record. -i: alarms are polled every 7 s.
    SRig rig(Options(kLoopbackSource, { "-i" }, manager.Port()));
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    auto coldStart = ReceiveTraps(manager, 1, 5s);
    ASSERT_EQ(Summaries(coldStart), std::vector<std::string> { "1.3.6.1.2.1.11.0 0/0" });

    const std::string level = "1.3.6.1.4.1.534.1.11.1.0", type = "1.3.6.1.4.1.534.1.11.2.0";
    for (const auto& step : kFilterSteps) {
        SCOPED_TRACE(step.what);
        if (!step.filter.empty()) {
            auto set = RunSnmpTool("snmpset",
                { "-v1", "-c", kSetCommunity, rig.Target(), level, "i", step.filter[0], type, "i", step.filter[1] });
            ASSERT_EQ(set.status, 0) << set.err;
            auto get = RunSnmpTool("snmpget", { "-v1", "-c", kGetCommunity, rig.Target(), level, type });
            EXPECT_EQ(ValueOf(get.out, "." + level), "INTEGER: " + step.filter[0]);
            EXPECT_EQ(ValueOf(get.out, "." + type), "INTEGER: " + step.filter[1]);
        }
        for (const auto& command : step.commands)
            ASSERT_EQ(rig.ups.Control(command), "ok\n") << command;
        auto traps = Summaries(ReceiveTraps(manager, step.traps.size(), 30s));
        // Traps of one alarm poll leave together: anything admitted by
        // mistake arrives right beside the expected ones.
        for (const auto& extra : manager.ReceiveUntilQuiet(1500ms)) {
            auto trap = DecodeTrap(extra);
            traps.push_back(trap ? trap->Summary() : "undecodable");
        }
        std::ranges::sort(traps);
        EXPECT_EQ(traps, step.traps);
    }

    // Level 1 is what a manager without a record gets: setting it removes the
    // record, and with it every trap to this address.
    auto set = RunSnmpTool("snmpset", { "-v1", "-c", kSetCommunity, rig.Target(), level, "i", "1" });
    ASSERT_EQ(set.status, 0) << set.err;
    ASSERT_EQ(rig.ups.Control("alarm clear all"), "ok\n");
    const std::string alarmsPresent = ".1.3.6.1.2.1.33.1.6.1.0";
    SRunResult get;
    EXPECT_TRUE(WaitFor(
        [&] {
            get = RunSnmpTool("snmpget", { "-v1", "-c", kGetCommunity, rig.Target(), alarmsPresent, level, type });
            return ValueOf(get.out, alarmsPresent) == "INTEGER: 0";
        },
        30s));
    EXPECT_EQ(ValueOf(get.out, "." + level), "INTEGER: 1");
    EXPECT_EQ(ValueOf(get.out, "." + type), "INTEGER: 1");
    EXPECT_TRUE(manager.ReceiveUntilQuiet(1s).empty());
}

TEST(Snmp, NetSnmpTrapReceiverGetsColdStartAndTheAlarmTraps)
{
    CTempDir receiverFolder;
    CTrapReceiver receiver(receiverFolder);
    ASSERT_TRUE(receiver.IsReady());
    SRig rig(Options("", { "-i" }, receiver.Port()));
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    ASSERT_EQ(rig.ups.Control("alarm raise 25"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return receiver.Traps().size() >= 2; }, 30s))
        << ReadFile(receiverFolder.File("snmptrapd.log"));
    ASSERT_EQ(rig.ups.Control("alarm clear 25"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return receiver.Traps().size() >= 3; }, 30s))
        << ReadFile(receiverFolder.File("snmptrapd.log"));

    // The trap host's record takes standard traps only: no vendor traps.
    // net-snmp prints the specific-trap number after a dot.
    const std::vector<std::string> expected = {
        "TRAP .1.3.6.1.2.1.11.0 0 0 ",
        "TRAP .1.3.6.1.2.1.33.2.0 6 .3 .1.3.6.1.2.1.33.1.6.2.1.1.0 = INTEGER: 1\t"
        ".1.3.6.1.2.1.33.1.6.2.1.2.0 = OID: .1.3.6.1.2.1.33.1.6.3.8.0",
        "TRAP .1.3.6.1.2.1.33.2.0 6 .4 .1.3.6.1.2.1.33.1.6.2.1.1.0 = INTEGER: 1\t"
        ".1.3.6.1.2.1.33.1.6.2.1.2.0 = OID: .1.3.6.1.2.1.33.1.6.3.8.0",
    };
    EXPECT_EQ(receiver.Traps(), expected);
}

} // namespace

// SNMPv2c notifications carry snmpTrapOID.0 with RFC 1628's and SNMPv2-MIB's
// notification OIDs; as informs, snmptrapd's Responses end their retries.
TEST(Snmp, NetSnmpTrapReceiverAcknowledgesV2cInforms)
{
    if (::access("/usr/bin/curl", X_OK) != 0)
        GTEST_SKIP() << "needs curl";
    CTempDir receiverFolder;
    CTrapReceiver receiver(receiverFolder);
    ASSERT_TRUE(receiver.IsReady());
    const unsigned short http = FreeTcpPort();
    SRig rig(Options("[SNMP]\nTrapVersion=2c\nTrapInform=1\n[HTTP]\nEnabled=1\nPort=" + std::to_string(http) + "\n",
        { "-i" }, receiver.Port()));
    ASSERT_TRUE(rig.Identified()) << rig.pvx->Stderr();
    ASSERT_EQ(rig.ups.Control("alarm raise 25"), "ok\n");
    ASSERT_TRUE(WaitFor([&] { return receiver.Traps().size() >= 2; }, 30s))
        << ReadFile(receiverFolder.File("snmptrapd.log"));
    ASSERT_TRUE(WaitFor([&] { return InformsCounted(http, "acknowledged") >= 2; }, 20s))
        << ReadFile(receiverFolder.File("snmptrapd.log"));

    const std::vector<std::string> traps = receiver.Traps();
    const std::string trapOid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: ";
    const std::string notifications[] = { ".1.3.6.1.6.3.1.1.5.1", ".1.3.6.1.2.1.33.2.3" };
    ASSERT_EQ(traps.size(), std::size(notifications)) << ReadFile(receiverFolder.File("snmptrapd.log"));
    for (std::size_t i = 0; i < traps.size(); ++i) {
        // sysUpTime.0 first, snmpTrapOID.0 second (RFC 3416 section 4.2.6).
        const std::size_t upTime = traps[i].find(".1.3.6.1.2.1.1.3.0 = Timeticks: ");
        const std::size_t oid = traps[i].find(trapOid + notifications[i]);
        EXPECT_TRUE(upTime != std::string::npos && oid != std::string::npos && upTime < oid) << traps[i];
    }
    EXPECT_NE(traps[1].find(".1.3.6.1.2.1.33.1.6.3.8"), std::string::npos) << traps[1];
    EXPECT_EQ(InformsCounted(http, "given_up"), 0);
}
