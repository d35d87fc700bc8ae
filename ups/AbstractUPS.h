// The UPS object model: identity, measured and configured values, control
// timers, alarm table and trap queue, and the UPS-MIB / vendor MIB object tree.
#pragma once

#include "config/ConfigKeys.h"
#include "snmp/values/MIBData.h"
#include "ups/WellKnown.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pvx {

class CCommPort; // platform/CommPort.h; the model only keeps the pointer for its driver
class CMIBTree;
struct SUPSReadings; // ups/Readings.h

// Polls of the UPS (identification and every Update), kept by the service
// across UPS objects so that they survive a lost link.
struct SPollCounters {
    std::uint64_t polls = 0;
    std::uint64_t failedPolls = 0;
    std::optional<std::int64_t> lastSuccess; // Now() reading of the last good poll
};

// One outlet (load segment) as the driver reports it, carried unchanged into emulated replies.
struct OutletEntry {
    std::uint8_t number = 0;
    std::uint16_t value1 = 0;
    std::uint16_t value2 = 0;
};

// One time-stamped event of the UPS's event log, served by the vendor alarm group.
struct SEventRecord {
    std::string text; // the event's time, "%m/%d/%Y:%H:%M:%S"
    std::int32_t state = 0; // served as the signed column
    std::uint32_t code = 0; // served as the unsigned column
};

// One present alarm (RFC 1628 upsAlarmEntry).
struct SAlarmEntry {
    std::uint32_t id = 0; // upsAlarmId, unique among present entries, never 0
    COid descriptor; // upsAlarmDescr, usually one of the well-known alarms
    std::uint32_t time = 0; // ms clock reading when added; upsAlarmTime is time / 10
    std::uint32_t upTime = 0; // sysUpTime when added: upsAlarmTime with standard values
    bool stale = false;
};

struct SInputLine {
    std::uint32_t frequency = 0; // 0.1 Hz
    std::uint32_t voltage = 0; // V RMS
    std::uint32_t current = 0; // 0.1 A
    std::uint32_t truePower = 0; // W
};

struct SOutputLine {
    std::uint32_t voltage = 0; // V RMS
    std::uint32_t current = 0; // 0.1 A
    std::uint32_t power = 0; // W
    std::uint32_t percentLoad = 0; // %
};

struct SBypassLine {
    std::uint32_t voltage = 0; // V RMS
    std::uint32_t current = 0; // 0.1 A
    std::uint32_t power = 0; // W
};

// Settings the UPS itself keeps, each served as one MIB object that a driver
// can make the UPS take (CAbstractUPS::WriteUPSSetting).
enum class EUPSSetting {
    OutputVoltage,
    LowBatteryTime,
    AudibleStatus,
    LowTemperatureLimit,
    HighTemperatureLimit,
    DateTime,
};

// Values a UPS may measure or not; where it does not, displays leave the
// value out rather than show the model's default of 0.
enum class EMeasurement {
    BatteryVoltage,
    BatteryTemperature,
    BatteryCharge,
    Runtime,
    LowBatteryTime,
    InputVoltage,
    InputFrequency,
    OutputVoltage,
    OutputCurrent,
    OutputFrequency,
    OutputLoad,
    OutputPower,
};

// What arming a schedule changes besides its due time; all of it is undone
// when the driver refuses.
struct SControlArming {
    bool rewarn = false; // the warning trap may be sent again for the new time
    bool outputShutdown = false; // the shutdown type becomes 1 (output)
};

// The model's values that ResetValues restores. Their initialisers are the
// defaults, for a new model and after every reset alike.
struct SModelValues {
    // Lines per group the model holds; larger line counts are served as this many.
    static constexpr std::uint32_t kMaxLines = 6;
    // Due times and windows: "none" / "unlimited".
    static constexpr std::int64_t kNoDueTime = -1;
    static constexpr std::int64_t kUnlimitedWindow = -1;

    int m_audibleStatus = 2; // 1 disabled, 2 enabled, 3 muted
    int m_lowTemperatureLimit = -100;
    int m_highTemperatureLimit = 200;
    std::uint32_t m_inputLineCount = 1;
    std::uint32_t m_outputLineCount = 1;
    std::uint32_t m_bypassLineCount = 1;
    std::uint32_t m_nominalInputVoltage = 0; // V RMS
    std::uint32_t m_nominalInputFrequency = 0; // 0.1 Hz
    std::uint32_t m_nominalOutputVoltage = 0; // V RMS
    std::uint32_t m_nominalOutputFrequency = 0; // 0.1 Hz
    std::uint32_t m_nominalOutputVA = 0;
    std::uint32_t m_nominalOutputPower = 0; // W
    std::uint32_t m_lowBatteryTime = 0; // minutes
    std::uint32_t m_lowTransferVoltage = 0;
    std::uint32_t m_highTransferVoltage = 0;
    std::string m_upsSoftwareVersion = "0.1a";
    int m_outputSource = 1; // 1 other, 2 none, 3 normal, 4 bypass, 5 battery, 6 booster, 7 reducer
    int m_testResultSummary = 6; // 1 donePass .. 5 inProgress, 6 noTestsInitiated
    int m_shutdownType = 1; // 1 output, 2 system
    int m_batteryChargeState = 5; // 1 to 5
    std::uint32_t m_vendorTestResult = 1;
    int m_autoRestartOff = 0;
    int m_batteryCurrent = 0; // 0.1 A
    int m_batteryTemperature = 0; // degrees Celsius
    int m_ambientTemperature = 0; // degrees Celsius
    std::uint32_t m_secondsOnBattery = 0;
    std::uint32_t m_minutesRemaining = 0;
    std::uint32_t m_chargeRemaining = 0; // %; all bits set means unknown
    std::uint32_t m_batteryVoltage = 0; // 0.1 V DC
    std::uint32_t m_inputLineBads = 0;
    std::array<SInputLine, kMaxLines> m_inputLines {};
    std::uint32_t m_outputFrequency = 0; // 0.1 Hz
    std::array<SOutputLine, kMaxLines> m_outputLines {};
    std::uint32_t m_bypassFrequency = 0; // 0.1 Hz
    std::array<SBypassLine, kMaxLines> m_bypassLines {};
    std::uint32_t m_testSpinLock = 1;
    std::uint32_t m_testStartTime = 0; // ms clock (GetMilliseconds)
    std::uint32_t m_testStartUpTime = 0; // sysUpTime at the start
    std::uint32_t m_testElapsedTime = 0; // ms
    // Due times are Now() readings; windows are milliseconds.
    std::int64_t m_shutdownDue = kNoDueTime;
    std::int64_t m_startupDue = kNoDueTime; // also the reboot's return time
    std::int64_t m_shutdownWarningWindow = kUnlimitedWindow;
    std::int64_t m_startupWarningWindow = kUnlimitedWindow;
    std::int64_t m_timedCommandDue = kNoDueTime;
    COid m_testId = kUpsTestNoTestsInitiated;
    std::string m_upsName;
    std::string m_attachedDevices;
    int m_linkState = -1; // consecutive failed passes; -1 = link lost
    std::uint32_t m_nextAlarmId = 1;
};

class CAbstractUPS : protected SModelValues {
public:
    using SModelValues::kMaxLines;
    using SModelValues::kNoDueTime;
    using SModelValues::kUnlimitedWindow;
    // Pending traps kept while nobody drains the queue; the oldest go first.
    static constexpr std::size_t kMaxPendingTraps = 256;

    CAbstractUPS(CCommPort* port, CINIFile* configuration);
    virtual ~CAbstractUPS();
    static std::unique_ptr<CAbstractUPS> Create(CCommPort* port, CINIFile* configuration); // the XCP driver's factory
    CAbstractUPS(const CAbstractUPS&) = delete;
    CAbstractUPS& operator=(const CAbstractUPS&) = delete;

    // GET (next = false) or GET-NEXT of `name`: the arcs after 1.3.6.1; the
    // name ends at its first 0 arc, and one is added when there is none
    // (COid's form). Throws CPVXException with EVENT_NO_SUCH_OBJECT, or
    // whatever a driver's handler throws.
    virtual std::unique_ptr<CMIBData> GetMIBData(std::span<const std::uint32_t> name, bool next);
    // SET of `value` under *value.GetName(). Throws EVENT_NO_SUCH_OBJECT,
    // EVENT_READ_ONLY, EVENT_BAD_VALUE, or what a driver action throws.
    virtual void SetMIBData(CMIBData& value);
    // ---- Instance naming: one choice for GET, GET-NEXT, SET and the alarm
    // traps' bindings. Off (the default): the vendor naming, table.row.
    // column.0 and names cut at their first 0 arc. On: RFC 1628's, entry.
    // column.index for every table, scalars .0, walked column by column.
    void SetStandardNames(bool on) { m_standardNames = on; }
    bool UsesStandardNames() const { return m_standardNames; }
    const std::string& GetModelName() const { return m_model; }
    // RFC 1628's types and values: Gauge32, Counter32 and TimeStamp where the
    // MIB has them, TimeStamps on sysUpTime, identifiers without a final .0,
    // upsTestSpinLock as a TestAndIncr, and the traps of RFC 1628 as RFC 3584
    // section 3.2 sends them in SNMPv1. Off (the default): the vendor's
    // values, every number an INTEGER.
    void SetStandardValues(bool on) { m_standardValues = on; }
    // SNMPv2 notifications: the UPS-MIB's traps as RFC 1628 lists them (which
    // alarms raise upsTrapAlarmEntryAdded, upsTrapOnBattery's three objects)
    // whatever the values' form.
    void SetStandardTraps(bool on) { m_standardTraps = on; }
    bool UsesStandardValues() const { return m_standardValues; }
    // GET or GET-NEXT of a name exactly as a manager sent it (the arcs after
    // 1.3.6.1, nothing appended). The answer carries the name it goes out
    // under. Throws as GetMIBData, and EVENT_NO_SUCH_INSTANCE where the
    // object exists but the instance asked for does not.
    std::unique_ptr<CMIBData> GetInstance(std::span<const std::uint32_t> arcs, bool next);
    // SET of `value` under the name a manager sent; the value keeps that
    // name for the reply. Throws as SetMIBData and GetInstance.
    void SetInstance(std::span<const std::uint32_t> arcs, CMIBData& value);
    // ---- A SET of several bindings is all or nothing (RFC 3416 section
    // 4.2.5). BeginSet opens it; CheckInstance makes every check SetInstance
    // would make (object, access, type, length, range, the capability and
    // state it needs, and the rules between the bindings checked so far)
    // and changes nothing; once every binding passed, SetInstance applies
    // them one by one, each recording how to restore what it changed.
    // UndoSet restores, newest first, and is false when something could not
    // be restored (a started test, a reboot, a write the UPS refused).
    // EndSet closes it. Throws as SetInstance.
    void BeginSet();
    void CheckInstance(std::span<const std::uint32_t> arcs, CMIBData& value);
    bool UndoSet();
    void EndSet();
    // True while CheckInstance runs: writers (and driver set handlers that
    // override the tree's) return before their first change.
    bool IsCheckingSet() const { return m_checkingSet; }
    // Answers one XCP request frame from the model; an empty result means no reply.
    virtual std::vector<std::uint8_t> ProcessXCPRequest(std::span<const std::uint8_t> frame);
    virtual int GetUPSType() = 0;
    // Identifies the UPS; never throws, failure leaves the link state at -1.
    virtual void Start();
    // One pass of the service loop; never throws, failures are counted in the link state.
    virtual void Update();
    virtual void Identify() = 0;
    virtual void ReadValues() = 0;

    // ---- Tree handlers ----------------------------------------------------------
    // Each receives the arcs from the first one it decides on, up to and
    // including the terminating 0 arc (so arcs[0] == 0 means the name ends at
    // this node). Drivers override single handlers and call the base one for
    // the objects they leave alone.
    virtual std::unique_ptr<CMIBData> GetMgmt(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetMib2(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsMib(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsObjects(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsIdent(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsBattery(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsInput(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsOutput(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsBypass(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsAlarm(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsTest(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsControl(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetUpsConfig(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetPrivate(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetEnterprises(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendor(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorMib(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorIdent(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorBattery(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorInput(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorOutput(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorBypass(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorEnvironment(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorAlarm(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorTest(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorControl(std::span<const std::uint32_t> arcs, bool next);
    virtual std::unique_ptr<CMIBData> GetVendorConfig(std::span<const std::uint32_t> arcs, bool next);
    // SET of one of the UPS's own settings: the driver makes the UPS take
    // `value` (the object's own number or text) or throws; the object keeps
    // the value once this returns. The model alone cannot change the UPS:
    // the default throws EVENT_READ_ONLY.
    virtual void WriteUPSSetting(EUPSSetting setting, const CMIBData& value);
    // Whether WriteUPSSetting could send `value` (throws as it would),
    // without sending anything. The default throws EVENT_READ_ONLY.
    virtual void CheckUPSSetting(EUPSSetting setting, const CMIBData& value);

    virtual void SetMgmt(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetMib2(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsMib(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsObjects(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsIdent(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsBattery(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsInput(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsOutput(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsBypass(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsAlarm(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsTest(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsControl(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetUpsConfig(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetPrivate(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetEnterprises(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendor(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorMib(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorIdent(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorBattery(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorInput(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorOutput(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorBypass(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorEnvironment(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorAlarm(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorTest(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorControl(std::span<const std::uint32_t> arcs, CMIBData& value);
    virtual void SetVendorConfig(std::span<const std::uint32_t> arcs, CMIBData& value);

    // ---- XCP request emulation ---------------------------------------------------
    // Each builder answers one request frame (0xAB, L, command, data, checksum;
    // read it through CXCPRequest, xcp/link/XCPRequest.h) with reply blocks laid
    // back to back. ProcessXCPRequest writes every block's checksum after the
    // builder, so an override may leave them 0; an empty result is answered
    // with the command status 0x32 (not available). Driver actions may throw.
    virtual std::vector<std::uint8_t> BuildIdentificationReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildStatusReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildMeterReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildAlarmReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildBlock6Reply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildBlock0BReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildBlock0CReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildBlock0FReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildCommandListReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> BuildOutletReply(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoStartupNow(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoReboot(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoShutdownNow(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoDelayedStartup(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoDelayedShutdown(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoCommand95(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoOutletCommand(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoBatteryTest(std::span<const std::uint8_t> frame);
    virtual std::vector<std::uint8_t> DoTestCommand(std::span<const std::uint8_t> frame);
    // Block 9: `status`, then the request's L bytes from the command byte on
    // (`bytes`, cut to 254 so that the length byte holds them).
    virtual std::vector<std::uint8_t> BuildCommandStatusReply(
        std::uint8_t length, std::span<const std::uint8_t> bytes, std::uint8_t status);

    // ---- Capabilities and actions (defaults: nothing is available) -----------------
    virtual bool CanShutdown(int shutdownType);
    virtual bool CanRunTimedCommand();
    virtual bool CanStartup();
    virtual bool CanReboot();
    virtual bool CanAbortTest();
    virtual bool CanGeneralSystemsTest();
    virtual bool CanQuickBatteryTest();
    virtual bool CanDeepBatteryCalibration();
    virtual bool CanCommand95();
    virtual bool CanOutletCommand2();
    virtual bool CanOutletCommand1();
    virtual bool CanOutletOnDelay();
    virtual bool CanOutletOffDelay();
    // Whether the UPS reports the value at all (the default: every value).
    virtual bool Measures(EMeasurement value) const;
    // Fills the list of outlets; the default empties it.
    virtual void GetOutlets(std::vector<OutletEntry>& outlets);
    // Outlet actions return the device's result code; the defaults do nothing and return 0.
    virtual int OutletCommand2(int outlet, int value);
    virtual int OutletOffDelay(int outlet, int seconds);
    virtual int OutletOnDelay(int outlet, int seconds);
    virtual int OutletCommand1(int outlet, int value);
    // Make the UPS follow m_shutdownDue / m_startupDue (kNoDueTime cancels),
    // run the timed command once m_timedCommandDue has passed, or reboot and
    // come back at m_startupDue. Use MillisecondsUntil() for the delay: the due
    // times run on the model's monotonic clock. The model clears a due time
    // that has passed after the call, whether the call succeeds or throws.
    virtual void ApplyShutdownSchedule();
    virtual void ApplyTimedCommand();
    virtual void ApplyStartupSchedule();
    virtual void ApplyRebootSchedule();
    virtual void AbortTest();
    virtual void StartGeneralSystemsTest();
    virtual void StartBatteryTest(int type, int duration);
    virtual void StartDeepBatteryCalibration();
    // ---- Controls: one place for what a manager's SET and an XCP command do ----------
    // Each sets the due time (kNoDueTime cancels) and has the driver act on it
    // at once; if the driver throws, the model is left as it was and the
    // exception goes on. The callers check the capabilities first.
    void ScheduleShutdown(std::int64_t due, SControlArming arming = {});
    void ScheduleStartup(std::int64_t due, SControlArming arming = {});
    // Off now, back on at `returnDue`.
    void ScheduleReboot(std::int64_t returnDue);
    void ScheduleTimedCommand(std::int64_t due);
    // Start a test and mark it in progress under its test identifier.
    void RunQuickBatteryTest(int type, int duration);
    void RunGeneralSystemsTest();
    void RunDeepBatteryCalibration();

    // Restores every default; keeps identity texts, alarms, traps and the relay address.
    virtual void ResetValues();

    // ---- Service loop and agent ----------------------------------------------------
    bool IsConnected() const { return m_linkState != -1; }
    int GetLinkState() const { return m_linkState; }
    bool HasPendingTraps() const { return !m_traps.empty(); }
    std::size_t GetPendingTrapCount() const { return m_traps.size(); }
    // The oldest pending trap, or null; the caller owns it.
    std::unique_ptr<CSNMPTrap> TakeNextTrap();
    // Appends a trap; beyond kMaxPendingTraps the oldest pending one is dropped.
    void QueueTrap(std::unique_ptr<CSNMPTrap> trap);
    void SetRelayAddress(std::uint32_t address) { m_relayAddress = address; }
    // Start and Update count their polls here from now on.
    void AttachPollCounters(SPollCounters& counters) { m_pollCounters = &counters; }
    // A copy of the values a status display shows (ups/Readings.h).
    SUPSReadings GetReadings() const;
    // The same into `readings`, reusing the room its texts and lists have.
    void GetReadings(SUPSReadings& readings) const;

    // ---- Alarm table (one poll: MarkAlarmsStale, RaiseAlarm per alarm, RemoveStaleAlarms)
    void MarkAlarmsStale();
    void RaiseAlarm(const COid& descriptor);
    void RemoveStaleAlarms();
    const std::vector<SAlarmEntry>& GetAlarms() const { return m_alarms; }
    bool HasAlarm(const COid& descriptor) const;
    // upsBatteryStatus, for the MIB and every display alike: 4 batteryDepleted
    // while the UPS reports a depleted battery or no run time is left, 3
    // batteryLow while it reports a low battery or the run time is at or below
    // the low-battery time, else 2 batteryNormal.
    int BatteryStatus() const;

    // The model's clock for due times: monotonic milliseconds (never wraps,
    // ignores wall-clock steps).
    static std::int64_t Now();
    // due - Now() in ms (negative once passed); kNoDueTime gives nullopt.
    static std::optional<std::int64_t> MillisecondsUntil(std::int64_t due);
    // Now() + seconds x 1000, or nullopt when that cannot be held exactly.
    static std::optional<std::int64_t> DueTimeAfter(std::int64_t now, std::int64_t seconds);

protected:
    friend class CMIBTree;

    // While a SET is open: how to restore what the write just applied
    // changed; an empty step means it cannot be undone. Driver set handlers
    // that replace the tree's record theirs here.
    void RecordUndo(std::function<void()> undo);

    CCommPort* m_port;
    CINIFile* m_configuration;

    // Kept across ResetValues (the values it restores are SModelValues).
    std::string m_manufacturer;
    std::string m_model;
    std::string m_testResultDetail;
    std::string m_upsDateTime; // "%m/%d/%Y:%H:%M:%S"
    std::vector<SEventRecord> m_eventRecords;
    std::time_t m_onBatterySince = 0;
    bool m_shutdownTrapSent = false; // shared by the shutdown and startup warnings
    std::vector<SAlarmEntry> m_alarms; // oldest first
    std::optional<std::int64_t> m_nextOnBatteryTrap; // Now() reading; empty = at once
    std::uint32_t m_relayAddress = 0; // network byte order

private:
    void RunControlTimers();
    // A trap of RFC 1628's upsTraps: with standard values its enterprise is
    // upsTraps itself, 1.3.6.1.2.1.33.2 (RFC 3584 section 3.2).
    std::unique_ptr<CSNMPTrap> NewUpsTrap(std::int32_t specific) const;
    void QueueTrapWithBindings(std::int32_t specific, std::span<const COid* const> bindingNames);
    void QueueVendorTrap(std::int32_t specific);
    void QueueAlarmEntryTrap(std::int32_t specific, const SAlarmEntry& entry);
    std::uint32_t TakeAlarmId();

    // SET actions of the writable objects, called from the object tables.
    void WriteIdentText(std::string& member, const SConfigKey& key, const CMIBData& value);
    void WriteTestId(const CMIBData& value);
    void WriteTestSpinLock(const CMIBData& value);
    void WriteShutdownType(const CMIBData& value);
    void WriteShutdownAfterDelay(const CMIBData& value);
    void WriteStartupAfterDelay(const CMIBData& value);
    void WriteRebootWithDuration(const CMIBData& value);
    void WriteVendorQuickTest(const CMIBData& value);
    void WriteVendorShutdown(const CMIBData& value);
    void WriteVendorStartup(const CMIBData& value);
    void WriteWarningWindow(std::int64_t& window, const CMIBData& value);
    void WriteVendorTimedCommand(const CMIBData& value);
    void MarkTestStarted(const COid& testId);
    // The shutdown type a SET under way leaves: one set earlier in the same
    // request counts for the shutdown and reboot delays after it.
    int ShutdownTypeForSet() const;
    void RestoreShutdown(std::int64_t due, bool warningSent, int type);
    void ArmThenApply(std::int64_t& due, std::int64_t newDue, SControlArming arming, void (CAbstractUPS::*apply)());

    void CountPoll(bool success);

    std::deque<std::unique_ptr<CSNMPTrap>> m_traps; // oldest first
    bool m_standardNames = false;
    bool m_standardValues = false;
    bool m_standardTraps = false;
    // The UPS-MIB traps' choice of RFC 1628.
    bool UsesStandardTraps() const { return m_standardValues || m_standardTraps; }
    SPollCounters* m_pollCounters = nullptr;
    bool m_checkingSet = false;
    bool m_setOpen = false;
    std::optional<int> m_checkedShutdownType;
    std::vector<std::function<void()>> m_undo; // oldest first
};

} // namespace pvx
