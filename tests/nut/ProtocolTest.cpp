// The commands of RFC 9271 against a scripted model: whole conversations
// with the exact replies, ups.status from the model's state and alarms, the
// instant commands reaching the model's controls, and the password checks'
// time budget.
#include "nut/NutProtocol.h"
#include "platform/Clock.h"
#include "tests/ups/TestUPS.h"
#include "ups/WellKnown.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace pvx;
using namespace pvx::nut;
using namespace pvx::test;

namespace {

SProtocolSettings Settings()
{
    static const std::string admin = *StorePassword("adminpw", kMinIterations);
    static const std::string monitor = *StorePassword("monpw", kMinIterations);
    static const std::string primary = *StorePassword("pripw", kMinIterations);
    SProtocolSettings settings;
    settings.description = "Rack \"A\"";
    settings.users = { { "admin", admin, ERole::Admin }, { "mon", monitor, ERole::Monitor },
                       { "pri", primary, ERole::Primary } };
    return settings;
}

struct SRig {
    SRig()
    {
        ups.m_linkState = 0;
        ups.m_manufacturer = "ACME";
        ups.m_outputSource = 3;
        ups.m_chargeRemaining = 0xFFFFFFFF; // not known
        ups.m_batteryVoltage = 542;
        ups.m_minutesRemaining = 30;
        ups.m_lowBatteryTime = 2;
        ups.m_upsName = "r\"1";
        ups.canQuickTest = true;
        ups.shutdownTypes = { 1 };
    }
    std::string Say(const std::string& line, SSession* other = nullptr)
    {
        std::string out;
        protocol.Refresh();
        protocol.HandleLine(other != nullptr ? *other : session, line, connected ? &ups : nullptr, out);
        return out;
    }
    // USERNAME, PASSWORD and LOGIN on `s`: the reply to LOGIN.
    std::string Login(SSession& s, const std::string& user, const std::string& password)
    {
        Say("USERNAME " + user, &s);
        Say("PASSWORD " + password, &s);
        return Say("LOGIN ups", &s);
    }
    CTestUPS ups;
    CProtocol protocol { Settings() };
    SSession session;
    bool connected = true;
};

struct SExchange {
    std::string line;
    std::string reply;
};

void Converse(SRig& rig, const char* name, std::initializer_list<SExchange> exchanges)
{
    for (const SExchange& e : exchanges)
        EXPECT_EQ(rig.Say(e.line), e.reply) << name << ": " << e.line;
}

void Converse(const char* name, std::initializer_list<SExchange> exchanges)
{
    SRig rig;
    Converse(rig, name, exchanges);
}

TEST(NutProtocol, AnswersReadsAsNutClientsExpectThem)
{
    Converse("reads", {
        { "GET VAR ups battery.voltage", "VAR ups battery.voltage \"54.2\"\n" },
        { "get var UPS ups.status", "VAR ups ups.status \"OL\"\n" },
        { "GET VAR ups ups.id", "VAR ups ups.id \"r\\\"1\"\n" },
        { "GET VAR ups battery.charge", "ERR VAR-NOT-SUPPORTED\n" },
        { "GET VAR ups no.such", "ERR VAR-NOT-SUPPORTED\n" },
        { "GET VAR other ups.status", "ERR UNKNOWN-UPS\n" },
        { "GET TYPE ups ups.id", "TYPE ups ups.id RW STRING:63\n" },
        { "GET CMDDESC ups shutdown.stop", "CMDDESC ups shutdown.stop \"Stop a shutdown in progress\"\n" },
        { "GET CMDDESC ups no.such", "ERR CMD-NOT-SUPPORTED\n" },
        { "GET UPSDESC ups", "UPSDESC ups \"Rack \\\"A\\\"\"\n" },
        { "GET NUMLOGINS ups", "NUMLOGINS ups 0\n" },
        { "LIST UPS", "BEGIN LIST UPS\nUPS ups \"Rack \\\"A\\\"\"\nEND LIST UPS\n" },
        { "LIST CMD ups",
          "BEGIN LIST CMD ups\nCMD ups load.off.delay\nCMD ups shutdown.return\nCMD ups shutdown.stayoff\n"
          "CMD ups shutdown.stop\nCMD ups test.battery.start.quick\nEND LIST CMD ups\n" },
        { "LIST RANGE ups ups.delay.start", "BEGIN LIST RANGE ups ups.delay.start\n"
                                             "RANGE ups ups.delay.start \"0\" \"3600\"\nEND LIST RANGE ups ups.delay.start\n" },
        { "LIST RW ups", "BEGIN LIST RW ups\nRW ups ups.delay.shutdown \"20\"\nRW ups ups.delay.start \"30\"\n"
                         "RW ups ups.id \"r\\\"1\"\nEND LIST RW ups\n" },
        { "STARTTLS", "ERR FEATURE-NOT-CONFIGURED\n" },
        { "FROB", "ERR UNKNOWN-COMMAND\n" },
        { "GET VAR ups \"open", "ERR INVALID-ARGUMENT\n" },
        { "", "" },
        { "LOGOUT", "OK Goodbye\n" },
    });
    SRig stale;
    stale.connected = false;
    Converse(stale, "no UPS", {
        { "GET VAR ups ups.status", "ERR DATA-STALE\n" },
        { "LIST VAR ups", "ERR DATA-STALE\n" },
        { "GET TYPE ups ups.status", "TYPE ups ups.status STRING:255\n" },
        { "LIST UPS", "BEGIN LIST UPS\nUPS ups \"Rack \\\"A\\\"\"\nEND LIST UPS\n" },
    });
}

TEST(NutProtocol, ListVarGivesEveryKnownValueOnce)
{
    SRig rig;
    const std::string list = rig.Say("LIST VAR ups");
    for (const char* line : { "BEGIN LIST VAR ups\n", "END LIST VAR ups\n", "VAR ups device.mfr \"ACME\"\n", "VAR ups ups.status \"OL\"\n",
                              "VAR ups driver.name \"pvx\"\n", "VAR ups ups.timer.shutdown \"-1\"\n" })
        EXPECT_NE(list.find(line), std::string::npos) << line;
    // Unknown, or not a three-phase UPS: left out, never served as 0.
    for (const char* name : { " battery.charge ", " device.model ", " ups.alarm ", " input.L1-N.voltage ", " input.phases " })
        EXPECT_EQ(list.find(name), std::string::npos) << name;
}

TEST(NutProtocol, StatusWordsFollowTheModel)
{
    struct SCase {
        int source;
        std::vector<const COid*> alarms;
        int chargeState;
        bool fsd;
        std::string status;
    };
    const SCase cases[] = {
        { 3, {}, 3, false, "OL" },
        { 3, {}, 1, false, "OL CHRG" },
        { 5, { &kUpsAlarmOnBattery, &kUpsAlarmInputBad }, 2, false, "OB DISCHRG" },
        { 5, { &kUpsAlarmOnBattery, &kUpsAlarmLowBattery }, 2, true, "FSD OB LB DISCHRG" },
        { 1, { &kUpsAlarmOnBattery }, 5, false, "OB DISCHRG" },
        { 4, { &kUpsAlarmOnBypass }, 3, false, "OL BYPASS" },
        { 7, {}, 3, false, "OL TRIM" },
        { 6, { &kUpsAlarmBatteryBad, &kUpsAlarmOutputOverload }, 3, false, "OL BOOST RB OVER" },
        { 2, { &kUpsAlarmUpsOutputOff }, 3, false, "OFF" },
        { 3, { &kUpsAlarmTempBad, &kUpsAlarmFanFailure }, 3, false, "OL ALARM" },
    };
    for (const SCase& c : cases) {
        SRig rig;
        rig.ups.m_outputSource = c.source;
        rig.ups.m_batteryChargeState = c.chargeState;
        for (const COid* alarm : c.alarms)
            rig.ups.RaiseAlarm(*alarm);
        std::string status;
        AppendStatus(rig.ups.GetReadings(), c.fsd, status);
        EXPECT_EQ(status, c.status);
    }
    SRig rig;
    rig.ups.RaiseAlarm(kUpsAlarmTempBad);
    rig.ups.RaiseAlarm(kUpsAlarmFanFailure);
    EXPECT_EQ(rig.Say("GET VAR ups ups.alarm"), "VAR ups ups.alarm \"Temperature out of range! Fan failure!\"\n");
    // On battery with the run time at the low mark is low battery too.
    rig.ups.m_outputSource = 5;
    rig.ups.m_minutesRemaining = 2;
    EXPECT_EQ(rig.Say("GET VAR ups ups.status"), "VAR ups ups.status \"OB LB DISCHRG ALARM\"\n");
}

TEST(NutProtocol, UsersDoWhatTheirRolesAllow)
{
    SRig secondary;
    secondary.session.address = htonl(0x7F000001);
    Converse(secondary, "secondary", {
        { "LOGIN ups", "ERR USERNAME-REQUIRED\n" },
        { "USERNAME mon", "OK\n" },
        { "USERNAME mon", "ERR ALREADY-SET-USERNAME\n" },
        { "LOGIN ups", "ERR PASSWORD-REQUIRED\n" },
        { "PASSWORD monpw", "OK\n" },
        { "LOGIN other", "ERR UNKNOWN-UPS\n" },
        { "LOGIN ups", "OK\n" },
        { "LOGIN ups", "ERR ALREADY-LOGGED-IN\n" },
        { "GET NUMLOGINS ups", "NUMLOGINS ups 1\n" },
        { "LIST CLIENT ups", "BEGIN LIST CLIENT ups\nCLIENT ups 127.0.0.1\nEND LIST CLIENT ups\n" },
        { "PRIMARY ups", "ERR ACCESS-DENIED\n" },
        { "FSD ups", "ERR ACCESS-DENIED\n" },
        { "INSTCMD ups test.battery.start.quick", "ERR ACCESS-DENIED\n" },
        { "SET VAR ups ups.id \"x\"", "ERR ACCESS-DENIED\n" },
    });
    Converse("primary", {
        { "USERNAME pri", "OK\n" },
        { "PASSWORD pripw", "OK\n" },
        { "MASTER ups", "OK MASTER-GRANTED\n" },
        { "PRIMARY ups", "OK PRIMARY-GRANTED\n" },
        { "FSD ups", "OK FSD-SET\n" },
        { "GET VAR ups ups.status", "VAR ups ups.status \"FSD OL\"\n" },
        { "INSTCMD ups test.battery.start.quick", "ERR ACCESS-DENIED\n" },
    });
}

TEST(NutProtocol, AdminCommandsReachTheModelsControls)
{
    CFakeClock clock;
    CScopedClock scoped { clock };
    SRig rig;
    rig.ups.canStartup = true;
    rig.ups.failingAction = "ApplyStartupSchedule"; // the UPS refuses
    Converse(rig, "admin", {
        { "USERNAME admin", "OK\n" },
        { "PASSWORD adminpw", "OK\n" },
        { "INSTCMD ups test.battery.start.quick", "OK\n" },
        { "INSTCMD ups test.battery.start.quick", "ERR INVALID-ARGUMENT\n" }, // a test runs
        { "INSTCMD ups beeper.enable", "ERR CMD-NOT-SUPPORTED\n" },
        { "INSTCMD ups load.off.delay 3601", "ERR INVALID-ARGUMENT\n" },
        { "INSTCMD ups load.off.delay 90", "OK\n" },
        { "GET VAR ups ups.timer.shutdown", "VAR ups ups.timer.shutdown \"90\"\n" },
        { "INSTCMD ups shutdown.stop", "OK\n" },
        { "INSTCMD ups load.on.delay", "ERR INSTCMD-FAILED\n" },
        { "GET VAR ups ups.timer.start", "VAR ups ups.timer.start \"-1\"\n" }, // nothing left armed
        { "SET VAR ups ups.delay.shutdown \"45\"", "OK\n" },
        { "SET VAR ups ups.delay.shutdown \"-1\"", "ERR INVALID-VALUE\n" },
        { "SET VAR ups ups.status \"OB\"", "ERR READONLY\n" },
        { "SET VAR ups ups.id \"Rack 7\"", "OK\n" },
        { "SET VAR ups ups.id \"" + std::string(64, 'x') + "\"", "ERR TOO-LONG\n" },
        { "GET VAR ups ups.id", "VAR ups ups.id \"Rack 7\"\n" },
    });
    // The same code as SNMP sets: the model's controls, and its test identifier.
    EXPECT_EQ(rig.ups.actions.front(), "StartBatteryTest(1,15)");
    EXPECT_EQ(rig.ups.m_testId, kUpsTestQuickBatteryTest);
}

TEST(NutProtocol, WholePasswordChecksKeepToTheirBudget)
{
    CFakeClock clock;
    CScopedClock scoped { clock };
    SRig rig;
    std::vector<SSession> sessions(CProtocol::kChecksPerSecond + 2);
    for (SSession& s : sessions)
        EXPECT_EQ(rig.Login(s, "admin", "guess"), "ERR ACCESS-DENIED\n");
    EXPECT_EQ(rig.protocol.Counters().checksDeferred, 2u);
    SSession good;
    EXPECT_EQ(rig.Login(good, "admin", "adminpw"), "ERR ACCESS-DENIED\n") << "no whole check left in this second";
    clock.Advance(1000);
    EXPECT_EQ(rig.Say("LOGIN ups", &good), "OK\n");
    // Once checked good, the password costs no whole check again.
    std::vector<SSession> later(8);
    for (SSession& again : later)
        EXPECT_EQ(rig.Login(again, "admin", "adminpw"), "OK\n");
    EXPECT_EQ(rig.protocol.LoggedInClients(), 9u);
}

} // namespace
