// Fuzz target: the configuration file reader and writer. The input is the
// file; every key the service reads is looked up, then one key is written
// and read back.
#include "config/AddressList.h"
#include "config/INIFile.h"
#include "events/PVXException.h"
#include "tests/fuzz/FuzzSupport.h"

#include <climits>

namespace {

struct SKey {
    const char* section;
    const char* key;
};

// The keys the service reads, and two that no section holds.
constexpr SKey kKeys[] = {
    { "Communications", "CommunicationsPort" },
    { "Communications", "CommunicationsBaudRate" },
    { "Communications", "CommunicationsBaudRateLast" },
    { "SNMP", "Enabled" },
    { "SNMP", "AgentPort" },
    { "SNMP", "ManagerPort" },
    { "SNMP", "TrapHost" },
    { "SNMP", "GetCommunity" },
    { "SNMP", "SetCommunity" },
    { "SNMP", "TrapCommnity" },
    { "Network", "Passwd" },
    { "Network", "SourceAddress" },
    { "NetXCP", "AgentPort" },
    { "NetXCP", "Enabled" },
    { "Network", "ResponsiveLoop" },
    { "Network", "CounterLogInterval" },
    { "UPSIdent", "Name" },
    { "UPSIdent", "AttachedDevices" },
    { "", "" },
    { "Missing", "Key" },
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    static fuzz::CScratchFile file("pvx-fuzz-ini");
    file.Write(std::span<const std::uint8_t>(data, size));
    CINIFile ini(file.Path());
    for (const SKey& key : kKeys) {
        ini.GetString(key.section, key.key, "default");
        ini.GetInt(key.section, key.key, INT_MIN);
        ini.GetUInt(key.section, key.key, UINT_MAX);
    }
    // Source lists: a list parses whole or names an item of its own text.
    for (const SKey& key : { SKey { "SNMP", "ReadManagers" }, SKey { "SNMP", "SetManagers" }, SKey { "NetXCP", "Clients" } }) {
        std::string text = ini.GetString(key.section, key.key, "");
        std::string badItem;
        auto list = CAddressList::Parse(text, &badItem);
        if (list) {
            list->Matches(0);
            list->Matches(0xFFFFFFFFu);
        } else {
            PVX_FUZZ_CHECK(text.find(badItem) != std::string::npos);
        }
        try {
            ReadAddressListKey(ini, key.section, key.key);
            PVX_FUZZ_CHECK(list.has_value());
        } catch (const CPVXException& event) {
            PVX_FUZZ_CHECK(!list.has_value() && event.GetCode() == EVENT_BAD_ADDRESS_LIST);
        }
    }
    // A manager's set of the UPS name is written back and must read back.
    ini.WriteString("UPSIdent", "Name", "Rack 7");
    std::string name = ini.GetString("UPSIdent", "Name", "");
    (void)name;
    ini.WriteInt("SNMP", "AgentPort", 16161);
    ini.GetUInt("SNMP", "AgentPort", 0);
    return 0;
}
