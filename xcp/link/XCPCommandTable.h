// The XCP vocabulary: command codes, reply block numbers, status codes, and
// the one table of commands that the relay's password rule, the model's
// command list and its emulation's dispatch are read from.
#pragma once

#include <cstdint>
#include <span>

namespace pvx {

// Command 0: on the serial line a listen-only exchange (only a reply is
// read); to the network relay, the query of the relay's identity.
constexpr std::uint8_t kXCPListenOnly = 0x00;
constexpr std::uint8_t kXCPIdentification = 0x31; // identification block
constexpr std::uint8_t kXCPEvents = 0x32; // time-stamped events
constexpr std::uint8_t kXCPStatus = 0x33; // status block
constexpr std::uint8_t kXCPMeters = 0x34; // meter block
constexpr std::uint8_t kXCPAlarms = 0x35; // active alarms
constexpr std::uint8_t kXCPNominalOutput = 0x36; // block 6: nominal output values
constexpr std::uint8_t kXCPStatistics = 0x38; // statistics block
constexpr std::uint8_t kXCPBattery = 0x3B; // battery block
constexpr std::uint8_t kXCPNominalInput = 0x3C; // block 0x0C: nominal input values and limits
constexpr std::uint8_t kXCPTestResult = 0x3F; // test result block
constexpr std::uint8_t kXCPCommandList = 0x40; // supported commands
constexpr std::uint8_t kXCPOutlets = 0x41; // outlet block
constexpr std::uint8_t kXCPBaudList = 0x42; // offered line speeds
constexpr std::uint8_t kXCPTimedCommand = 0x88; // timed command
constexpr std::uint8_t kXCPStartupNow = 0x89; // start the output now
constexpr std::uint8_t kXCPReboot = 0x8A; // reboot with a delay
constexpr std::uint8_t kXCPShutdownNow = 0x8B; // switch the output off now
constexpr std::uint8_t kXCPSetClock = 0x90; // set the UPS clock
constexpr std::uint8_t kXCPDelayedStartup = 0x91; // start the output after minutes
constexpr std::uint8_t kXCPDelayedShutdown = 0x93; // switch the output off after minutes
constexpr std::uint8_t kXCPSetParameter = 0x95; // set a configuration parameter
constexpr std::uint8_t kXCPOutletCommand = 0x97; // outlet command
constexpr std::uint8_t kXCPSetBaudRate = 0x98; // switch the line speed
constexpr std::uint8_t kXCPWakeUp = 0xA0; // wake-up request
constexpr std::uint8_t kXCPBatteryTest = 0xB1; // battery test
constexpr std::uint8_t kXCPGeneralSystemsTest = 0xB2; // general systems test
constexpr std::uint8_t kXCPEndSession = 0xCE; // end of session
constexpr std::uint8_t kXCPAuthorize = 0xCF; // authorization (to the relay: its password frame)

// Commands at or below this code are forwarded by the relay without its
// password, unless the table says otherwise.
constexpr std::uint8_t kXCPLastOpenCommand = 0x88;

// Reply block numbers.
constexpr std::uint8_t kXCPIdentificationBlock = 0x01;
constexpr std::uint8_t kXCPEventBlock = 0x02;
constexpr std::uint8_t kXCPUpsStatusBlock = 0x03;
constexpr std::uint8_t kXCPMeterBlock = 0x04;
constexpr std::uint8_t kXCPAlarmBlock = 0x05;
constexpr std::uint8_t kXCPNominalOutputBlock = 0x06;
constexpr std::uint8_t kXCPStatisticsBlock = 0x08;
constexpr std::uint8_t kXCPStatusBlock = 0x09; // command status
constexpr std::uint8_t kXCPBatteryBlock = 0x0B;
constexpr std::uint8_t kXCPNominalInputBlock = 0x0C;
constexpr std::uint8_t kXCPTestResultBlock = 0x0F;
constexpr std::uint8_t kXCPCommandListBlock = 0x10;
constexpr std::uint8_t kXCPOutletBlock = 0x11;
constexpr std::uint8_t kXCPBaudListBlock = 0x12;

// Meter formats of the identification block's format list: 0xF0 to 0xFF an
// unsigned integer divided by 2 to the power of the low nibble, 0xE2 an
// integer, 0xE0 and 0xE1 a date and a time, 0 an absent meter, and any other
// byte a single-precision float.
constexpr std::uint8_t kXCPMeterAbsent = 0x00;
constexpr std::uint8_t kXCPMeterFloat = 0x01;
constexpr std::uint8_t kXCPMeterFloat51 = 0x51;
constexpr std::uint8_t kXCPMeterFloat61 = 0x61;
constexpr std::uint8_t kXCPMeterDate = 0xE0;
constexpr std::uint8_t kXCPMeterTime = 0xE1;
constexpr std::uint8_t kXCPMeterInteger = 0xE2;
constexpr std::uint8_t kXCPMeterScaled = 0xF0; // the shift in the low nibble

// Command-status codes a UPS answers with.
constexpr std::uint8_t kXCPAccepted = 0x31;
constexpr std::uint8_t kXCPNotAvailable = 0x32;
constexpr std::uint8_t kXCPBusy = 0x33;
constexpr std::uint8_t kXCPNotSettable = 0x34; // a configuration write to a fixed parameter
constexpr std::uint8_t kXCPOutOfRange = 0x35; // a configuration value the UPS does not take
constexpr std::uint8_t kXCPBadParameter = 0x36;
constexpr std::uint8_t kXCPAcceptedAlso = 0x37;

// How the model's emulation answers a command. The handlers live in the
// model; it maps each id to one.
enum class EXCPHandler : std::uint8_t {
    None, // not emulated: answered as not available
    Identification,
    Status,
    Meters,
    Alarms,
    NominalOutput,
    Battery,
    NominalInput,
    TestResult,
    CommandList,
    Outlets,
    StartupNow,
    Reboot,
    ShutdownNow,
    DelayedStartup,
    DelayedShutdown,
    SetParameter,
    OutletCommand,
    BatteryTest,
    GeneralSystemsTest,
    EndSession, // silence for the session's end, else not available
};

// The capability under which the emulation lists a command as supported.
enum class EXCPOffer : std::uint8_t {
    Never,
    Always,
    Startup,
    Reboot,
    Shutdown, // of the output (shutdown type 1)
    QuickBatteryTest,
    GeneralSystemsTest,
    Outlets, // two outlets or more
    SetParameter,
    OutletCommand,
};

struct SXCPCommand {
    std::uint8_t code;
    std::uint8_t replyBlock; // a data block, or kXCPStatusBlock for a command
    bool needsPassword; // the relay forwards it only after its password frame
    EXCPOffer offer;
    EXCPHandler handler;
};

// In ascending code order, which is the order of the emulated command list.
inline constexpr SXCPCommand kXCPCommandTable[] = {
    { kXCPIdentification, kXCPIdentificationBlock, false, EXCPOffer::Always, EXCPHandler::Identification },
    { kXCPEvents, kXCPEventBlock, false, EXCPOffer::Never, EXCPHandler::None },
    { kXCPStatus, kXCPUpsStatusBlock, false, EXCPOffer::Always, EXCPHandler::Status },
    { kXCPMeters, kXCPMeterBlock, false, EXCPOffer::Always, EXCPHandler::Meters },
    { kXCPAlarms, kXCPAlarmBlock, false, EXCPOffer::Always, EXCPHandler::Alarms },
    { kXCPNominalOutput, kXCPNominalOutputBlock, false, EXCPOffer::Always, EXCPHandler::NominalOutput },
    { kXCPStatistics, kXCPStatisticsBlock, false, EXCPOffer::Never, EXCPHandler::None },
    { kXCPBattery, kXCPBatteryBlock, false, EXCPOffer::QuickBatteryTest, EXCPHandler::Battery },
    { kXCPNominalInput, kXCPNominalInputBlock, false, EXCPOffer::Always, EXCPHandler::NominalInput },
    { kXCPTestResult, kXCPTestResultBlock, false, EXCPOffer::GeneralSystemsTest, EXCPHandler::TestResult },
    { kXCPCommandList, kXCPCommandListBlock, false, EXCPOffer::Always, EXCPHandler::CommandList },
    { kXCPOutlets, kXCPOutletBlock, false, EXCPOffer::Outlets, EXCPHandler::Outlets },
    { kXCPBaudList, kXCPBaudListBlock, false, EXCPOffer::Never, EXCPHandler::None },
    { kXCPTimedCommand, kXCPStatusBlock, false, EXCPOffer::Never, EXCPHandler::None },
    { kXCPStartupNow, kXCPStatusBlock, true, EXCPOffer::Startup, EXCPHandler::StartupNow },
    { kXCPReboot, kXCPStatusBlock, true, EXCPOffer::Reboot, EXCPHandler::Reboot },
    { kXCPShutdownNow, kXCPStatusBlock, true, EXCPOffer::Shutdown, EXCPHandler::ShutdownNow },
    { kXCPSetClock, kXCPStatusBlock, true, EXCPOffer::Never, EXCPHandler::None },
    { kXCPDelayedStartup, kXCPStatusBlock, true, EXCPOffer::Startup, EXCPHandler::DelayedStartup },
    { kXCPDelayedShutdown, kXCPStatusBlock, true, EXCPOffer::Shutdown, EXCPHandler::DelayedShutdown },
    { kXCPSetParameter, kXCPStatusBlock, true, EXCPOffer::SetParameter, EXCPHandler::SetParameter },
    { kXCPOutletCommand, kXCPStatusBlock, true, EXCPOffer::OutletCommand, EXCPHandler::OutletCommand },
    { kXCPSetBaudRate, kXCPStatusBlock, true, EXCPOffer::Never, EXCPHandler::None },
    { kXCPWakeUp, kXCPIdentificationBlock, true, EXCPOffer::Never, EXCPHandler::None },
    { kXCPBatteryTest, kXCPStatusBlock, true, EXCPOffer::QuickBatteryTest, EXCPHandler::BatteryTest },
    { kXCPGeneralSystemsTest, kXCPStatusBlock, true, EXCPOffer::GeneralSystemsTest, EXCPHandler::GeneralSystemsTest },
    // The relay itself ends the session and takes the password frame.
    { kXCPEndSession, kXCPStatusBlock, false, EXCPOffer::Always, EXCPHandler::EndSession },
    { kXCPAuthorize, kXCPStatusBlock, false, EXCPOffer::Never, EXCPHandler::None },
};

// The table's row for `code`, or null.
constexpr const SXCPCommand* FindXCPCommand(std::uint8_t code)
{
    for (const SXCPCommand& command : kXCPCommandTable) {
        if (command.code == code)
            return &command;
    }
    return nullptr;
}

// Whether the relay asks for its password frame before forwarding `code`:
// the table's word for a known command, above kXCPLastOpenCommand for any other.
constexpr bool XCPNeedsRelayPassword(std::uint8_t code)
{
    const SXCPCommand* command = FindXCPCommand(code);
    return command ? command->needsPassword : code > kXCPLastOpenCommand;
}

} // namespace pvx
