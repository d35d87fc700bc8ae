// The XCP UPS driver: identification, the polling schedule, controls, tests,
// configuration writes and the relay of XCP frames.
#include "xcp/driver/XComUPS.h"

#include "events/PVXException.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "platform/SerialWait.h"
#include "xcp/driver/ReplyReader.h"
#include "xcp/driver/Settings.h"
#include "xcp/driver/XComBlocks.h"
#include "xcp/link/XCPControls.h"
#include "xcp/link/XCPFrame.h"
#include "xcp/link/XCPRequest.h"

#include <algorithm>
#include <array>
#include <limits>

namespace pvx {

namespace {

constexpr std::uint8_t kEscape = 0x1B;
constexpr int kIdentifySpeed = 1200;
constexpr std::uint32_t kDrainMs = 100;
constexpr std::uint32_t kPauseMs = 200;
constexpr std::uint32_t kRequestTimeoutMs = 750;
constexpr std::uint32_t kCommandTimeoutMs = 1500;

constexpr int kOutputSourceOther = 1;
constexpr int kTestInProgress = 5;
constexpr int kChargeStateUnknown = 5;

} // namespace

std::unique_ptr<CAbstractUPS> CAbstractUPS::Create(CCommPort* port, CINIFile* configuration)
{
    return std::make_unique<CXComUPS>(port, configuration);
}

CXComUPS::CXComUPS(CCommPort* port, CINIFile* configuration)
    : CXCPLinkedUPS(port, configuration, SLinkOptions())
{
}

CXComUPS::~CXComUPS() = default;

// ---- Identification ---------------------------------------------------------------

void CXComUPS::WriteEscape()
{
    const std::array<std::uint8_t, 1> escape = { kEscape };
    std::size_t written = 0;
    m_port->Write(escape, written);
}

std::uint32_t CXComUPS::WakeUpAndProbe()
{
    WriteEscape();
    m_port->Drain(kDrainMs);
    return m_link.SendRequest(kXCPWakeUp, kRequestTimeoutMs);
}

void CXComUPS::Identify()
{
    m_port->SetBaudRate(kIdentifySpeed);
    WriteEscape();
    m_port->Drain(kDrainMs);

    const std::array<std::uint8_t, 1> baudListData = { 0x00 };
    m_link.SendCommand(kXCPBaudList, baudListData, kCommandTimeoutMs);
    SerialPause(kPauseMs);
    const int rate = ChooseBaudRate(m_link.GetReply());
    if (rate != kIdentifySpeed) {
        const auto rateBytes = LittleEndian16(static_cast<std::uint16_t>(rate));
        const std::array<std::uint8_t, 4> switchData = { 0x00, 0x01, rateBytes[0], rateBytes[1] };
        m_link.SendCommand(kXCPSetBaudRate, switchData, kCommandTimeoutMs);
        SerialPause(kPauseMs);
        m_port->SetBaudRate(rate);
    }

    SerialPause(kPauseMs);
    if (WakeUpAndProbe() != 0) {
        // This UPS does not know the wake-up request: ask for block 1 directly.
        SerialPause(kPauseMs);
        m_link.SendRequest(kXCPIdentification, kRequestTimeoutMs);
    }

    SIdentification id;
    ParseIdentificationBlock(m_link.GetReply(), id, m_meters, m_alarmMap, m_statistics);
    m_upsSoftwareVersion = id.softwareVersion;
    m_nominalOutputVA = id.outputVA;
    m_inputLineCount = id.lineCount;
    m_outputLineCount = id.lineCount;
    m_bypassLineCount = id.lineCount;
    SplitModelText(id.modelText, m_manufacturer, m_model);

    SerialPause(kPauseMs);
    m_link.ReadCommandList();
    SerialPause(kPauseMs);

    m_link.SendRequest(kXCPNominalOutput, kRequestTimeoutMs);
    const SNominalOutput output = ParseNominalOutput(m_link.GetReply());
    m_nominalOutputVoltage = output.voltage;
    m_nominalOutputFrequency = output.frequency;
    SerialPause(kPauseMs);

    m_link.SendRequest(kXCPNominalInput, kRequestTimeoutMs);
    const SNominalInput input = ParseNominalInput(m_link.GetReply());
    m_nominalInputVoltage = input.voltage;
    m_nominalInputFrequency = input.frequency;
    m_lowBatteryTime = input.lowBatteryTime;
    m_audibleStatus = input.audibleStatus;
    m_lowTransferVoltage = input.lowTransferVoltage;
    m_highTransferVoltage = input.highTransferVoltage;
    m_lowTemperatureLimit = input.lowTemperatureLimit;
    m_highTemperatureLimit = input.highTemperatureLimit;

    // One full polling cycle, so that every value is there before the first
    // pass; it follows block 0x0C at once.
    ReadMeters();
    SerialPause(kPauseMs);
    ReadStatistics();
    SerialPause(kPauseMs);
    ReadAlarms();
    SerialPause(kPauseMs);
    ReadStatus();
    SerialPause(kPauseMs);
    ReadBattery();
    SerialPause(kPauseMs);
    ReadEvents();
    // Said once the identification is whole: from here on the UPS is served
    // (until then managers are answered as without a UPS).
    PrintLine("UPS found is [" + id.modelText + "]\n");
}

// ---- Polling --------------------------------------------------------------------------

void CXComUPS::ReadValues()
{
    switch (m_updatePhase) {
    case 0:
    case 6:
        ReadMeters();
        break;
    case 1:
        ReadStatistics();
        break;
    case 2:
        ReadAlarms();
        break;
    case 3:
        try {
            ReadStatus();
        } catch (const CPVXException&) {
            m_outputSource = kOutputSourceOther;
            throw;
        }
        break;
    case 4:
        try {
            if (m_testResultSummary == kTestInProgress && !IsBatteryTestRunning())
                ReadTestResult();
            else
                ReadBattery();
        } catch (const CPVXException&) {
            m_batteryChargeState = kChargeStateUnknown;
            throw;
        }
        break;
    case 5:
        ReadEvents();
        break;
    default:
        break;
    }
    // Only a phase that succeeded moves on; a failed one runs again next pass.
    m_updatePhase = (m_updatePhase + 1) % kUpdatePhases;
}

void CXComUPS::ReadMeters()
{
    if (!Supports(kXCPMeters))
        throw CPVXException(EVENT_BAD_REPLY);
    if (!m_meters.ReadBlock(m_link, kXCPMeters))
        return; // a status answer is no meter block: the values read before stay
    auto meter = [this](std::size_t k) { return MeterToUnsigned(m_meters.GetValue(k, 0.0)); };
    auto signedMeter = [this](std::size_t k) { return MeterToSigned(m_meters.GetValue(k, 0.0)); };

    if (const std::uint32_t va = meter(71); va != 0)
        m_nominalOutputVA = va;

    const std::uint32_t inputLines = std::min(m_inputLineCount, kMaxLines);
    for (std::uint32_t i = 0; i < inputLines; ++i) {
        m_inputLines[i].frequency = meter(28) * 10u;
        m_inputLines[i].voltage = meter(56 + i);
        m_inputLines[i].current = meter(18 + i);
        m_inputLines[i].truePower = meter(22);
    }
    const std::uint32_t outputLines = std::min(m_outputLineCount, kMaxLines);
    for (std::uint32_t i = 0; i < outputLines; ++i) {
        m_outputLines[i].voltage = meter(78 + i);
        m_outputLines[i].current = meter(65 + i);
        m_outputLines[i].power = meter(21);
        m_outputLines[i].percentLoad = m_nominalOutputVA == 0 ? 0 : meter(23) * 100u / m_nominalOutputVA;
    }
    m_nominalOutputPower = meter(21);
    const std::uint32_t bypassLines = std::min(m_bypassLineCount, kMaxLines);
    for (std::uint32_t i = 0; i < bypassLines; ++i)
        m_bypassLines[i].voltage = meter(53 + i);

    m_batteryCurrent = signedMeter(32);
    m_batteryVoltage = meter(33);
    m_chargeRemaining = meter(34);
    m_minutesRemaining = meter(35) / 60;
    m_ambientTemperature = signedMeter(62);
    m_batteryTemperature = signedMeter(77);
    m_outputFrequency = meter(27) * 10u;
    if (const auto upsTime = m_meters.GetDateTime())
        FormatUpsTime(*upsTime, m_upsDateTime);
    else
        m_upsDateTime.clear();
}

void CXComUPS::ReadStatistics()
{
    if (!Supports(kXCPStatistics))
        return;
    if (!m_statistics.ReadBlock(m_link, kXCPStatistics))
        return;
    m_inputLineBads = MeterToUnsigned(m_statistics.GetValue(35, 0.0));
}

void CXComUPS::ReadAlarms()
{
    if (!Supports(kXCPAlarms))
        return;
    std::optional<unsigned> first;
    try {
        first = m_alarmMap.FirstActive(m_link);
    } catch (const CPVXException&) {
        // A failed read ends the scan with nothing reported, as any scan does.
        MarkAlarmsStale();
        RemoveStaleAlarms();
        throw;
    }
    if (!first)
        return; // a status answer says nothing about the alarms: the table stays
    MarkAlarmsStale();
    try {
        for (unsigned alarm = *first; alarm != CAlarmMap::kNoAlarm; alarm = m_alarmMap.NextActive())
            for (const COid* descriptor : WellKnownAlarmsFor(alarm))
                RaiseAlarm(*descriptor);
    } catch (const CPVXException&) {
        RemoveStaleAlarms();
        throw;
    }
    RemoveStaleAlarms();
}

void CXComUPS::ReadStatus()
{
    if (!Supports(kXCPStatus))
        return;
    if (m_link.SendCommand(kXCPStatus, {}, kCommandTimeoutMs) != 0)
        return; // a status answer is not the status block
    m_outputSource = OutputSourceFromStatus(CReplyReader(m_link.GetReply()).U8At(0));
}

void CXComUPS::ReadBattery()
{
    if (!Supports(kXCPBattery))
        return;
    if (m_link.SendRequest(kXCPBattery, kRequestTimeoutMs) != 0)
        return;
    const auto reply = m_link.GetReply();
    const std::uint8_t result = CReplyReader(reply).U8At(0);
    m_vendorTestResult = VendorTestResultFrom(result);
    m_batteryChargeState = BatteryChargeStateFrom(reply);
    if (m_testResultSummary == kTestInProgress)
        m_testResultSummary = TestSummaryFrom(result);
}

void CXComUPS::ReadTestResult()
{
    if (!Supports(kXCPTestResult))
        return;
    if (m_link.SendRequest(kXCPTestResult, kRequestTimeoutMs) != 0)
        return; // the test goes on as far as we know
    m_testResultSummary = TestSummaryFrom(CReplyReader(m_link.GetReply()).U8At(2));
}

void CXComUPS::ReadEvents()
{
    if (!Supports(kXCPEvents))
        return;
    if (m_link.SendRequest(kXCPEvents, kRequestTimeoutMs) != 0)
        return; // keep the events we have
    m_eventRecords = ParseEventBlock(m_link.GetReply());
}

// ---- Capabilities and outlets ----------------------------------------------------------

bool CXComUPS::Measures(EMeasurement value) const
{
    // The meter of each value (line 1 where there are lines), as ReadMeters
    // reads it, in the order of EMeasurement; 0: not a meter.
    constexpr std::uint8_t kMeterOf[] = { 33, 77, 34, 35, 0, 56, 28, 78, 65, 27, 23, 21 };
    static_assert(std::size(kMeterOf) == static_cast<std::size_t>(EMeasurement::OutputPower) + 1);
    if (value == EMeasurement::LowBatteryTime)
        return Supports(kXCPNominalInput);
    const bool metered = m_meters.GetFormat(kMeterOf[static_cast<std::size_t>(value)]) != 0;
    // A load in percent needs the rating it is a share of.
    return value == EMeasurement::OutputLoad ? metered && m_nominalOutputVA != 0 : metered;
}

void CXComUPS::GetOutlets(std::vector<OutletEntry>& outlets)
{
    if (!Supports(kXCPOutlets)) {
        outlets.clear();
        return;
    }
    m_link.SendRequest(kXCPOutlets, kRequestTimeoutMs);
    outlets = ParseOutletBlock(m_link.GetReply());
}

// ---- Relay ----------------------------------------------------------------------------------

std::vector<std::uint8_t> CXComUPS::ProcessXCPRequest(std::span<const std::uint8_t> frame)
{
    if (g_bUseInternalXCP)
        return CAbstractUPS::ProcessXCPRequest(frame);
    std::uint32_t length = 0;
    std::vector<std::uint8_t> reply = m_link.RelayFrame(frame, length);
    reply.resize(std::min<std::size_t>(reply.size(), length));
    return reply;
}

} // namespace pvx
