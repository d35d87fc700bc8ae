// Events: every failure and notice of pvx is a CPVXException carrying a
// 32-bit code. Codes below 0x10000 are operating-system error numbers; the
// others follow the message-catalog layout (severity, facility 2, number).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Path of the compiled message catalog, beside the executable; empty when
// pvx was started without a directory in its name. Set by main.
extern char g_szMessagesPath[256];

namespace pvx {

enum EventCode : std::uint32_t {
    EVENT_OUT_OF_MEMORY = 12,
    EVENT_DEVICE = 14,
    EVENT_NO_UPS_FOUND = 0xC0020025,
    EVENT_BAD_REPLY = 0xC0020027,
    EVENT_TIMEOUT = 0x80020028,
    EVENT_NO_SUCH_OBJECT = 0xC002002A,
    EVENT_NETWORK_STARTUP = 0xC002002C,
    EVENT_SOCKET_CREATE = 0xC002002D,
    EVENT_SOCKET_BIND = 0xC002002E,
    EVENT_SOCKET_NONBLOCKING = 0xC002002F,
    EVENT_BER_MALFORMED = 0xC0020030,
    EVENT_BER_BOUNDS = 0xC0020031,
    EVENT_READ_ONLY = 0xC0020032,
    EVENT_BAD_VALUE = 0xC0020033,
    EVENT_COMMAND_FAILED = 0xC0020034,
    EVENT_RELAY_BIND = 0xC0020035,
    EVENT_RELAY_NONBLOCKING = 0xC0020036,
    EVENT_UPS_LOST = 0xC0020039,
    EVENT_BAD_PASSWORD = 0xC002003A,
    EVENT_UNKNOWN_DRIVER = 0xC002003B,
    EVENT_NO_SUCH_INSTANCE = 0xC002003C,
    EVENT_BAD_ADDRESS_LIST = 0xC002003D,
    EVENT_USM_USER_MALFORMED = 0xC002003E,
    EVENT_USM_ENGINE_STATE = 0xC002003F,
    EVENT_HTTP_BIND = 0xC0020040,
    EVENT_SERIAL_BUSY = 0xC0020048,
    EVENT_CONFIG_UNREADABLE = 0xC0020049,
    EVENT_SNMPV3_OFF = 0xC002004A,
    EVENT_RELAY_PASSWORD_IGNORED = 0xC002004B,
    EVENT_WRONG_TYPE = 0xC0020041,
    EVENT_WRONG_LENGTH = 0xC0020042,
    EVENT_INCONSISTENT_VALUE = 0xC0020043,
    EVENT_NUT_USER_MALFORMED = 0xC0020058,
    EVENT_NUT_BIND = 0xC0020059,
    EVENT_NUT_SETTING_BAD = 0xC002005A,
    EVENT_ADDRESS_UNRESOLVED = 0xC0020050,
    EVENT_SOURCE_NOT_LOCAL = 0xC0020051,
    EVENT_USM_KEY_NOT_LOCALIZED = 0x80020052,
    EVENT_RELOAD_FAILED = 0x80020053,
    EVENT_RELOADED = 0x80020054,
    EVENT_SERVICE_REOPEN_FAILED = 0xC0020055,
    EVENT_POWER_ON_BATTERY = 0xC0020060,
    EVENT_POWER_RESTORED = 0xC0020061,
    EVENT_POWER_LOW_BATTERY = 0xC0020062,
    EVENT_POWER_DEPLETED = 0xC0020063,
    EVENT_POWER_REPLACE_BATTERY = 0xC0020064,
    EVENT_POWER_OVERLOAD = 0xC0020065,
    EVENT_POWER_ON_BYPASS = 0xC0020066,
    EVENT_POWER_OUTPUT_OFF = 0xC0020067,
    EVENT_POWER_CONDITION_ENDED = 0xC0020068,
    EVENT_POWER_UPS_FOUND = 0xC0020069,
    EVENT_POWER_TEST_STARTED = 0xC002006A,
    EVENT_POWER_TEST_COMPLETED = 0xC002006B,
    EVENT_POWER_FSD = 0xC002006C,
    EVENT_SHUTDOWN_BEGUN = 0xC002006D,
    EVENT_SHUTDOWN_STEP = 0xC002006E,
    EVENT_COMMAND_FAILED_RUN = 0xC002006F,
    EVENT_TRAP_VERSION_BAD = 0xC0020070,
    EVENT_TRAP_HOST_UNREACHABLE = 0xC0020071,
    EVENT_TRAP_USER_BAD = 0xC0020072,
    EVENT_HTTP_TLS_FILE = 0xC0020074,
    EVENT_HTTP_TLS_REFUSED = 0xC0020075,
    EVENT_EVENT_LOG_UNREADABLE = 0xC0020078,
    EVENT_EVENT_LOG_UNWRITTEN = 0xC0020079,
};

// Priorities of reported lines, as syslog(3) numbers them; under the journal
// each line starts with "<N>" (sd-daemon(3)), and the system log gets the same.
enum class EPriority : int {
    Error = 3,   // an event that ends the service
    Warning = 4, // the service goes on, but something needs the operator
    Notice = 5,  // normal but significant: counters, a reload
    Info = 6,    // start-up facts
};

// Text of a code: the system's error text for codes below 0x10000, otherwise
// the catalog's entry, or "Unknown Error" when the catalog has none.
void GetMessageText(std::uint32_t code, std::string& text);

// Thrown by value and caught by reference. The argument strings are carried
// for the catcher; they are not inserted into the text.
class CPVXException {
public:
    explicit CPVXException(std::uint32_t code, std::vector<std::string> arguments = {});
    virtual ~CPVXException() = default;

    // An event for the current system error number (errno).
    static CPVXException FromSystemError();

    virtual std::uint32_t GetCode() const { return m_code; }
    virtual void GetText(std::string& text) const;
    const std::vector<std::string>& GetArguments() const { return m_arguments; }
    // A line that Report writes after the catalog's fixed text, where the
    // operator needs to see what the arguments name (which key, which item).
    // Bytes that are not printable are written as \xNN.
    void SetDetail(std::string detail) { m_detail = std::move(detail); }
    const std::string& GetDetail() const { return m_detail; }

    // Writes the text to standard error as it stands, or to the system log
    // once SetLogToSyslog(true) was called, at `priority`.
    void Report(EPriority priority = EPriority::Error) const;
    static void SetLogToSyslog(bool toSyslog);
    // On: every line written to standard error starts with its priority,
    // "<3>" ..., for the journal reading that stream.
    static void SetJournalPrefixes(bool on);

private:
    std::vector<std::string> m_arguments;
    std::string m_detail;
    std::uint32_t m_code;
};

// Throws the event `code` without arguments: for the checks that end a
// request with one event (a malformed encoding, an object not served).
[[noreturn]] void ThrowEvent(std::uint32_t code);

// Builds, reports and drops a notice that is not thrown: the service goes
// on, so it is reported as a warning.
void ReportNotice(std::uint32_t code);

// Writes one line of pvx's own (not from the catalog) where event texts go:
// standard error, or the system log, at `priority`.
void ReportLine(const std::string& line, EPriority priority = EPriority::Notice);

} // namespace pvx
