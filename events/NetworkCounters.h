// What the network services served, dropped and held back, by reason: one
// plain struct that the SNMP agent and the relay count into and that the
// service reports to the operator.
#pragma once

#include <cstdint>
#include <string>

namespace pvx {

struct SNetworkCounters {
    // SNMP requests.
    std::uint64_t snmpServed = 0; // answered, error replies included
    std::uint64_t snmpNotReadManager = 0; // source outside SNMP/ReadManagers
    std::uint64_t snmpNotSetManager = 0; // SET from a source outside SNMP/SetManagers
    std::uint64_t snmpBadCommunity = 0; // community unknown, empty, or not allowed to set
    std::uint64_t snmpUnserved = 0; // other version, other PDU, malformed
    std::uint64_t snmpRegistrationsRefused = 0; // trap registrations beyond the bound (genErr)
    // Relay datagrams.
    std::uint64_t relayServed = 0;
    std::uint64_t relayNotClient = 0; // source outside NetXCP/Clients
    std::uint64_t relayNoUps = 0; // no UPS object yet
    // Relay password frames: checked and right, checked and wrong, ignored
    // (their source pauses after wrong ones, or too many came a second).
    std::uint64_t relayPasswordsRight = 0;
    std::uint64_t relayPasswordsWrong = 0;
    std::uint64_t relayPasswordsIgnored = 0;
    std::uint64_t relayIdentityLinesHeldBack = 0; // "requested pvx" lines beyond one per source a minute
    // Traps.
    std::uint64_t trapsSent = 0; // datagrams that went out
    std::uint64_t authTrapsSuppressed = 0; // authenticationFailure traps held back by the rate bound
    // Informs (SNMP/TrapInform): acknowledged, sent again, given up after the
    // last try, and fallen off the full queue unacknowledged.
    std::uint64_t informsAcknowledged = 0;
    std::uint64_t informsRetried = 0;
    std::uint64_t informsGivenUp = 0;
    std::uint64_t informsDropped = 0;
};

// The sum of every count of something dropped, refused or held back.
inline std::uint64_t DroppedTotal(const SNetworkCounters& c)
{
    return c.snmpNotReadManager + c.snmpNotSetManager + c.snmpBadCommunity + c.snmpUnserved + c.snmpRegistrationsRefused
        + c.relayNotClient + c.relayNoUps + c.authTrapsSuppressed + c.relayPasswordsIgnored
        + c.relayIdentityLinesHeldBack
        + c.informsGivenUp + c.informsDropped;
}

// One line, name=value pairs, for the log.
inline std::string FormatCounters(const SNetworkCounters& c)
{
    auto field = [](const char* name, std::uint64_t value) { return std::string(name) + "=" + std::to_string(value); };
    return "pvx counters: " + field("snmp_served", c.snmpServed) + " "
        + field("snmp_dropped_not_read_manager", c.snmpNotReadManager) + " "
        + field("snmp_dropped_not_set_manager", c.snmpNotSetManager) + " "
        + field("snmp_dropped_bad_community", c.snmpBadCommunity) + " " + field("snmp_dropped_unserved", c.snmpUnserved)
        + " " + field("snmp_registrations_refused", c.snmpRegistrationsRefused) + " "
        + field("relay_served", c.relayServed) + " " + field("relay_dropped_not_client", c.relayNotClient) + " "
        + field("relay_dropped_no_ups", c.relayNoUps) + " " + field("traps_sent", c.trapsSent) + " "
        + field("auth_traps_suppressed", c.authTrapsSuppressed) + " "
        + field("relay_passwords_wrong", c.relayPasswordsWrong) + " "
        + field("relay_passwords_ignored", c.relayPasswordsIgnored) + " "
        + field("relay_identity_lines_held_back", c.relayIdentityLinesHeldBack) + " "
        + field("informs_acknowledged", c.informsAcknowledged) + " " + field("informs_retried", c.informsRetried) + " "
        + field("informs_given_up", c.informsGivenUp) + " " + field("informs_dropped", c.informsDropped);
}

} // namespace pvx
