// The request handling of RFC 9271: each command checks its words, the UPS
// name, the session's user and the model, in that order, and answers with
// one line, or with a BEGIN ... END list.
#include "nut/NutProtocol.h"

#include "platform/Portability.h"
#include "snmp/usm/UsmCrypto.h"

#include <algorithm>
#include <arpa/inet.h>

namespace pvx::nut {

namespace {

constexpr char kHelp[] = "Commands: HELP VER NETVER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME PASSWORD STARTTLS "
                         "PRIMARY MASTER FSD\n";
// The protocol version of RFC 9271 that NUT 2.8's clients speak.
constexpr char kNetworkVersion[] = "1.3\n";
constexpr std::uint64_t kBudgetWindowMs = 1000;

void AppendLine(std::string& out, std::initializer_list<std::string_view> words)
{
    bool first = true;
    for (std::string_view word : words) {
        if (!first)
            out += ' ';
        out += word;
        first = false;
    }
    out += '\n';
}

std::string_view DescriptionOrDefault(const std::string& description)
{
    return description.empty() ? std::string_view("Unavailable") : std::string_view(description);
}

} // namespace

CProtocol::CProtocol(SProtocolSettings settings)
    : m_settings(std::move(settings))
{
    for (const SUser& user : m_settings.users) {
        SKnownUser known { user, ParseStoredPassword(user.storedPassword).value_or(SStoredPassword {}) };
        m_users.push_back(std::move(known));
    }
    // Without random bytes no quick digest is ever trusted: every check runs whole.
    if (!usm::RandomBytes(m_quickSalt))
        m_quickSalt.fill(0);
    m_logins.reserve(64);
}

void CProtocol::Error(std::string& out, std::string_view token)
{
    if (token == "ACCESS-DENIED")
        ++m_counters.accessDenied;
    AppendLine(out, { "ERR", token });
}

void CProtocol::HandleLine(SSession& session, std::string_view line, CAbstractUPS* ups, std::string& out)
{
    ++m_counters.lines;
    switch (SplitWords(line, m_words)) {
    case ESplit::Blank:
        return;
    case ESplit::Malformed:
        Error(out, "INVALID-ARGUMENT");
        return;
    case ESplit::Words:
        Dispatch(session, m_words, ups, out);
        return;
    }
}

void CProtocol::EndSession(const SSession& session)
{
    std::erase(m_logins, &session);
}

bool CProtocol::Readings(CAbstractUPS* ups)
{
    if (ups == nullptr || !ups->IsConnected())
        return false;
    if (!m_fresh) {
        ups->GetReadings(m_readings);
        m_fresh = true;
    }
    return true;
}

void CProtocol::Dispatch(SSession& session, const SWords& w, CAbstractUPS* ups, std::string& out)
{
    const std::string_view command = w[0];
    if (SameWord(command, "GET")) {
        Get(w, ups, out);
    } else if (SameWord(command, "LIST")) {
        List(w, ups, out);
    } else if (SameWord(command, "VER")) {
        out += "pvx " PVX_VERSION "\n";
    } else if (SameWord(command, "NETVER")) {
        out += kNetworkVersion;
    } else if (SameWord(command, "HELP")) {
        out += kHelp;
    } else if (SameWord(command, "STARTTLS")) {
        Error(out, "FEATURE-NOT-CONFIGURED"); // clients go on in clear text
    } else if (SameWord(command, "USERNAME") || SameWord(command, "PASSWORD")) {
        const bool isName = SameWord(command, "USERNAME");
        bool& set = isName ? session.usernameSet : session.passwordSet;
        if (w.count != 2)
            Error(out, "INVALID-ARGUMENT");
        else if (set)
            Error(out, isName ? "ALREADY-SET-USERNAME" : "ALREADY-SET-PASSWORD");
        else {
            (isName ? session.username : session.password) = w[1];
            set = true;
            out += "OK\n";
        }
    } else if (SameWord(command, "LOGIN")) {
        Login(session, w, out);
    } else if (SameWord(command, "LOGOUT")) {
        out += "OK Goodbye\n";
        session.closing = true;
    } else if (SameWord(command, "PRIMARY") || SameWord(command, "MASTER")) {
        Primary(session, w, out);
    } else if (SameWord(command, "FSD")) {
        Fsd(session, w, out);
    } else if (SameWord(command, "INSTCMD")) {
        InstantCommand(session, w, ups, out);
    } else if (SameWord(command, "SET")) {
        SetVariable(session, w, ups, out);
    } else {
        Error(out, "UNKNOWN-COMMAND");
    }
}

void CProtocol::Get(const SWords& w, CAbstractUPS* ups, std::string& out)
{
    const std::string_view what = w[1];
    const std::string_view name = m_settings.upsName;
    const bool numLogins = SameWord(what, "NUMLOGINS");
    if ((numLogins || SameWord(what, "UPSDESC")) && w.count == 3) {
        if (!IsOurUps(w[2]))
            return Error(out, "UNKNOWN-UPS");
        if (numLogins)
            return AppendLine(out, { "NUMLOGINS", name, std::to_string(m_logins.size()) });
        out += "UPSDESC ";
        AppendUpsAndDescription(out);
        out += '\n';
        return;
    }
    if (w.count != 4 || !(SameWord(what, "VAR") || SameWord(what, "TYPE") || SameWord(what, "DESC")
                          || SameWord(what, "CMDDESC")))
        return Error(out, "INVALID-ARGUMENT");
    if (!IsOurUps(w[2]))
        return Error(out, "UNKNOWN-UPS");
    if (SameWord(what, "CMDDESC")) {
        const SInstantCommand* command = FindInstantCommand(w[3]);
        if (command == nullptr)
            return Error(out, "CMD-NOT-SUPPORTED");
        out += "CMDDESC ";
        out += name;
        out += ' ';
        out += command->name;
        out += ' ';
        AppendQuoted(out, command->description);
        out += '\n';
        return;
    }
    const bool isValue = SameWord(what, "VAR");
    const bool connected = Readings(ups);
    if (isValue && !connected)
        return Error(out, "DATA-STALE");
    const SVariable* variable = FindVariable(w[3]);
    const std::size_t start = out.size();
    // "VAR ups name " first: the value is appended after it in place.
    out += isValue ? "VAR " : SameWord(what, "TYPE") ? "TYPE " : "DESC ";
    out += name;
    out += ' ';
    out += w[3];
    out += ' ';
    if (variable == nullptr) {
        out.resize(start);
        return Error(out, "VAR-NOT-SUPPORTED");
    }
    if (isValue || connected) {
        const std::size_t valueStart = out.size();
        out += '"';
        if (!variable->value(m_readings, m_server, out)) {
            out.resize(start);
            return Error(out, "VAR-NOT-SUPPORTED");
        }
        if (!isValue) {
            out.resize(valueStart);
        } else {
            // Quote what was written in place, escaping only when needed.
            const std::string_view written(out.data() + valueStart + 1, out.size() - valueStart - 1);
            if (written.find_first_of("\"\\") != std::string_view::npos
                || std::ranges::any_of(written, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
                const std::string copy(written);
                out.resize(valueStart);
                AppendQuoted(out, copy);
            } else {
                out += '"';
            }
            out += '\n';
            return;
        }
    }
    if (SameWord(what, "TYPE"))
        out += TypeWords(*variable);
    else
        AppendQuoted(out, variable->description);
    out += '\n';
}

void CProtocol::List(const SWords& w, CAbstractUPS* ups, std::string& out)
{
    const std::string_view what = w[1];
    const std::string_view name = m_settings.upsName;
    if (SameWord(what, "UPS") && w.count == 2) {
        out += "BEGIN LIST UPS\nUPS ";
        AppendUpsAndDescription(out);
        out += "\nEND LIST UPS\n";
        return;
    }
    const bool perVariable = SameWord(what, "ENUM") || SameWord(what, "RANGE");
    const bool perUps = SameWord(what, "VAR") || SameWord(what, "RW") || SameWord(what, "CMD")
        || SameWord(what, "CLIENT");
    if (!((perUps && w.count == 3) || (perVariable && w.count == 4)))
        return Error(out, "INVALID-ARGUMENT");
    if (!IsOurUps(w[2]))
        return Error(out, "UNKNOWN-UPS");
    std::string_view kind = SameWord(what, "VAR") ? "VAR"
        : SameWord(what, "RW")                    ? "RW"
        : SameWord(what, "CMD")                   ? "CMD"
        : SameWord(what, "CLIENT")                ? "CLIENT"
        : SameWord(what, "ENUM")                  ? "ENUM"
                                                  : "RANGE";
    const SVariable* variable = perVariable ? FindVariable(w[3]) : nullptr;
    if (perVariable && variable == nullptr)
        return Error(out, "VAR-NOT-SUPPORTED");
    const bool needsUps = kind == "VAR" || kind == "RW" || kind == "CMD";
    if (needsUps && !Readings(ups))
        return Error(out, "DATA-STALE");

    auto header = [&](std::string_view word) {
        out += word;
        out += " LIST ";
        out += kind;
        out += ' ';
        out += name;
        if (variable != nullptr) {
            out += ' ';
            out += variable->name;
        }
        out += '\n';
    };
    header("BEGIN");
    if (kind == "VAR" || kind == "RW") {
        for (const SVariable& v : Variables()) {
            if (kind == "RW" && !IsWritable(v))
                continue;
            const std::size_t start = out.size();
            out += kind;
            out += ' ';
            out += name;
            out += ' ';
            out += v.name;
            out += ' ';
            m_value.clear();
            if (!v.value(m_readings, m_server, m_value)) {
                out.resize(start);
                continue;
            }
            AppendQuoted(out, m_value);
            out += '\n';
        }
    } else if (kind == "CMD") {
        for (const SInstantCommand& command : InstantCommands())
            if (IsOffered(command, *ups))
                AppendLine(out, { "CMD", name, command.name });
    } else if (kind == "CLIENT") {
        for (const SSession* session : m_logins) {
            out += "CLIENT ";
            out += name;
            out += ' ';
            out += FormatIpAddress(session->address);
            out += '\n';
        }
    } else if (kind == "RANGE" && (variable->kind == EVariableKind::ShutdownDelay
                                   || variable->kind == EVariableKind::StartDelay)) {
        out += "RANGE ";
        out += name;
        out += ' ';
        out += variable->name;
        out += " \"0\" \"" + std::to_string(kMaxDelay) + "\"\n";
    }
    header("END");
}

bool CProtocol::CheckCredentials(SSession& session, SKnownUser& known)
{
    std::array<std::uint8_t, 32> quick {};
    const bool haveQuick = usm::Pbkdf2HmacSha256(session.password, m_quickSalt, 1, quick);
    if (haveQuick && known.quickValid && usm::EqualInConstantTime(quick, known.quickDigest))
        return true;
    const std::uint64_t now = GetMonotonicMilliseconds();
    if (now - m_budgetWindowStart >= kBudgetWindowMs) {
        m_budgetWindowStart = now;
        m_checksInWindow = 0;
    }
    if (m_checksInWindow >= kChecksPerSecond) {
        ++m_counters.checksDeferred;
        return false; // unchecked: a later request may try again
    }
    ++m_checksInWindow;
    const bool good = !known.stored.hash.empty() && CheckPassword(known.stored, session.password);
    session.auth = good ? SSession::EAuth::Good : SSession::EAuth::Bad;
    if (good && haveQuick) {
        known.quickDigest = quick;
        known.quickValid = true;
    }
    return good;
}

bool CProtocol::Authorize(SSession& session, ERole needed, std::string& out)
{
    if (!session.usernameSet) {
        Error(out, "USERNAME-REQUIRED");
        return false;
    }
    if (!session.passwordSet) {
        Error(out, "PASSWORD-REQUIRED");
        return false;
    }
    auto known = std::ranges::find_if(m_users, [&](const SKnownUser& u) { return u.user.name == session.username; });
    if (known != m_users.end() && session.auth == SSession::EAuth::Unchecked && CheckCredentials(session, *known))
        session.auth = SSession::EAuth::Good;
    if (known == m_users.end() || session.auth != SSession::EAuth::Good || known->user.role < needed) {
        Error(out, "ACCESS-DENIED");
        return false;
    }
    session.role = known->user.role;
    return true;
}

bool CProtocol::UpsCommandAllowed(SSession& session, const SWords& w, ERole needed, std::string& out)
{
    return MayActOn(session, w.count == 2, w[1], needed, out);
}

void CProtocol::AppendUpsAndDescription(std::string& out) const
{
    out += m_settings.upsName;
    out += ' ';
    AppendQuoted(out, DescriptionOrDefault(m_settings.description));
}

bool CProtocol::MayActOn(SSession& session, bool wellFormed, std::string_view upsName, ERole needed,
                         std::string& out)
{
    if (!wellFormed) {
        Error(out, "INVALID-ARGUMENT");
        return false;
    }
    if (!IsOurUps(upsName)) {
        Error(out, "UNKNOWN-UPS");
        return false;
    }
    return Authorize(session, needed, out);
}

void CProtocol::Login(SSession& session, const SWords& w, std::string& out)
{
    if (session.loggedIn)
        return Error(out, "ALREADY-LOGGED-IN");
    if (!UpsCommandAllowed(session, w, ERole::Monitor, out))
        return;
    session.loggedIn = true;
    m_logins.push_back(&session);
    out += "OK\n";
}

void CProtocol::Primary(SSession& session, const SWords& w, std::string& out)
{
    if (!UpsCommandAllowed(session, w, ERole::Primary, out))
        return;
    session.primary = true;
    out += SameWord(w[0], "MASTER") ? "OK MASTER-GRANTED\n" : "OK PRIMARY-GRANTED\n";
}

void CProtocol::Fsd(SSession& session, const SWords& w, std::string& out)
{
    if (!UpsCommandAllowed(session, w, ERole::Primary, out))
        return;
    RaiseFSD();
    out += "OK FSD-SET\n";
}

void CProtocol::InstantCommand(SSession& session, const SWords& w, CAbstractUPS* ups, std::string& out)
{
    if (!MayActOn(session, w.count == 3 || w.count == 4, w[1], ERole::Admin, out))
        return;
    const SInstantCommand* command = FindInstantCommand(w[2]);
    if (command == nullptr)
        return Error(out, "CMD-NOT-SUPPORTED");
    if (ups == nullptr || !ups->IsConnected())
        return Error(out, "DRIVER-NOT-CONNECTED");
    std::optional<std::string_view> value;
    if (w.count == 4)
        value = w[3];
    const ECommandResult result = RunInstantCommand(*command, *ups, m_server, value);
    m_fresh = false;
    switch (result) {
    case ECommandResult::Done:
        out += "OK\n";
        return;
    case ECommandResult::NotOffered:
        return Error(out, "CMD-NOT-SUPPORTED");
    case ECommandResult::BadValue:
        return Error(out, "INVALID-ARGUMENT");
    case ECommandResult::Failed:
        return Error(out, "INSTCMD-FAILED");
    }
}

void CProtocol::SetVariable(SSession& session, const SWords& w, CAbstractUPS* ups, std::string& out)
{
    if (!MayActOn(session, w.count == 5 && SameWord(w[1], "VAR"), w[2], ERole::Admin, out))
        return;
    const SVariable* variable = FindVariable(w[3]);
    if (variable == nullptr)
        return Error(out, "VAR-NOT-SUPPORTED");
    if (!IsWritable(*variable))
        return Error(out, "READONLY");
    const std::string_view value = w[4];
    if (variable->kind == EVariableKind::Id) {
        if (ups == nullptr || !ups->IsConnected())
            return Error(out, "DRIVER-NOT-CONNECTED");
        const EWriteResult result = WriteUpsId(*ups, value);
        m_fresh = false;
        if (result == EWriteResult::TooLong)
            return Error(out, "TOO-LONG");
        if (result == EWriteResult::BadValue)
            return Error(out, "INVALID-VALUE");
        if (result == EWriteResult::Failed)
            return Error(out, "SET-FAILED");
    } else {
        const auto seconds = ParseSeconds(value);
        if (!seconds)
            return Error(out, "INVALID-VALUE");
        (variable->kind == EVariableKind::ShutdownDelay ? m_server.shutdownDelay : m_server.startDelay) = *seconds;
    }
    out += "OK\n";
}

} // namespace pvx::nut
