// The commands of RFC 9271 as one small state machine per connection
// (USERNAME, PASSWORD, LOGIN, PRIMARY ...) over the state the server shares
// between its connections: the users, the logins and the FSD flag. It knows
// no sockets: the server hands it whole lines and sends what it appends.
#pragma once

#include "nut/NutLine.h"
#include "nut/NutUsers.h"
#include "nut/NutVariables.h"
#include "platform/IpAddress.h"
#include "ups/Readings.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pvx::nut {

// One connection's state.
struct SSession {
    SIpAddress address; // the peer
    std::string username;
    std::string password;
    bool usernameSet = false;
    bool passwordSet = false;
    bool loggedIn = false;
    bool primary = false;
    bool closing = false; // LOGOUT: close once the reply is out
    enum class EAuth { Unchecked, Good, Bad } auth = EAuth::Unchecked;
    ERole role = ERole::Monitor;
};

struct SProtocolSettings {
    std::string upsName = "ups";
    std::string description;
    std::vector<SUser> users;
};

struct SProtocolCounters {
    std::uint64_t lines = 0;
    std::uint64_t accessDenied = 0;
    std::uint64_t checksDeferred = 0; // password checks refused for the time budget
};

class CProtocol {
public:
    // Password checks that run the whole derivation, at most this many a
    // second in all, so that guessing cannot hold the loop.
    static constexpr unsigned kChecksPerSecond = 4;

    explicit CProtocol(SProtocolSettings settings);

    // Answers one request line (without its line end): appends the reply,
    // each of its lines ending with "\n", to `out`. `ups` may be null.
    void HandleLine(SSession& session, std::string_view line, CAbstractUPS* ups, std::string& out);
    // A connection ends: its login no longer counts.
    void EndSession(const SSession& session);
    // The model may have changed since the last line (a new pass of the
    // loop): the next request reads it afresh.
    void Refresh() { m_fresh = false; }

    void RaiseFSD() { m_server.fsd = true; }
    void ClearFSD() { m_server.fsd = false; }
    bool IsFSDRaised() const { return m_server.fsd; }
    unsigned LoggedInClients() const { return static_cast<unsigned>(m_logins.size()); }
    const SProtocolCounters& Counters() const { return m_counters; }
    const std::string& UpsName() const { return m_settings.upsName; }

private:
    struct SKnownUser {
        SUser user;
        SStoredPassword stored;
        // A one-round digest of the password last checked good: later
        // logins with it cost microseconds instead of the whole derivation.
        std::array<std::uint8_t, 32> quickDigest {};
        bool quickValid = false;
    };

    void Dispatch(SSession& session, const SWords& words, CAbstractUPS* ups, std::string& out);
    void Get(const SWords& words, CAbstractUPS* ups, std::string& out);
    void List(const SWords& words, CAbstractUPS* ups, std::string& out);
    void Login(SSession& session, const SWords& words, std::string& out);
    void Primary(SSession& session, const SWords& words, std::string& out);
    void Fsd(SSession& session, const SWords& words, std::string& out);
    void InstantCommand(SSession& session, const SWords& words, CAbstractUPS* ups, std::string& out);
    void SetVariable(SSession& session, const SWords& words, CAbstractUPS* ups, std::string& out);

    // "<COMMAND> <ups>" with our UPS's name and a user who may act as
    // `needed`; otherwise appends ERR ... and returns false.
    bool UpsCommandAllowed(SSession& session, const SWords& words, ERole needed, std::string& out);
    // The same for any request: `wellFormed` its words, `upsName` the UPS it names.
    bool MayActOn(SSession& session, bool wellFormed, std::string_view upsName, ERole needed, std::string& out);
    // Appends ERR ... and returns false unless the session's user may act as `needed`.
    bool Authorize(SSession& session, ERole needed, std::string& out);
    bool CheckCredentials(SSession& session, SKnownUser& user);
    // The UPS's name and its description in quotes, as GET UPSDESC and LIST UPS give them.
    void AppendUpsAndDescription(std::string& out) const;
    bool IsOurUps(std::string_view name) const { return SameWord(name, m_settings.upsName); }
    // The model's values for this request; false when no UPS is connected.
    bool Readings(CAbstractUPS* ups);
    void Error(std::string& out, std::string_view token);

    SProtocolSettings m_settings;
    std::vector<SKnownUser> m_users;
    std::array<std::uint8_t, 16> m_quickSalt {};
    SServerValues m_server;
    std::vector<const SSession*> m_logins;
    SWords m_words;
    SUPSReadings m_readings;
    std::string m_value; // one value of a list, before it is quoted
    bool m_fresh = false;
    std::uint64_t m_budgetWindowStart = 0;
    unsigned m_checksInWindow = 0;
    SProtocolCounters m_counters;
};

} // namespace pvx::nut
