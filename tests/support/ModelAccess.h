// A driver with the model's protected values made public, so that a test can
// script them and read them back: one list for every test driver.
#pragma once

#include "ups/AbstractUPS.h"

namespace pvx::test {

template <typename Driver> class TModelAccess : public Driver {
public:
    using Driver::Driver;

    using Driver::m_alarms;
    using Driver::m_ambientTemperature;
    using Driver::m_attachedDevices;
    using Driver::m_audibleStatus;
    using Driver::m_autoRestartOff;
    using Driver::m_batteryChargeState;
    using Driver::m_batteryCurrent;
    using Driver::m_batteryTemperature;
    using Driver::m_batteryVoltage;
    using Driver::m_bypassFrequency;
    using Driver::m_bypassLineCount;
    using Driver::m_bypassLines;
    using Driver::m_chargeRemaining;
    using Driver::m_eventRecords;
    using Driver::m_highTemperatureLimit;
    using Driver::m_highTransferVoltage;
    using Driver::m_inputLineBads;
    using Driver::m_inputLineCount;
    using Driver::m_inputLines;
    using Driver::m_linkState;
    using Driver::m_lowBatteryTime;
    using Driver::m_lowTemperatureLimit;
    using Driver::m_lowTransferVoltage;
    using Driver::m_manufacturer;
    using Driver::m_minutesRemaining;
    using Driver::m_model;
    using Driver::m_nextAlarmId;
    using Driver::m_nextOnBatteryTrap;
    using Driver::m_nominalInputFrequency;
    using Driver::m_nominalInputVoltage;
    using Driver::m_nominalOutputFrequency;
    using Driver::m_nominalOutputPower;
    using Driver::m_nominalOutputVA;
    using Driver::m_nominalOutputVoltage;
    using Driver::m_onBatterySince;
    using Driver::m_outputFrequency;
    using Driver::m_outputLineCount;
    using Driver::m_outputLines;
    using Driver::m_outputSource;
    using Driver::m_relayAddress;
    using Driver::m_secondsOnBattery;
    using Driver::m_shutdownDue;
    using Driver::m_shutdownTrapSent;
    using Driver::m_shutdownType;
    using Driver::m_shutdownWarningWindow;
    using Driver::m_startupDue;
    using Driver::m_startupWarningWindow;
    using Driver::m_testElapsedTime;
    using Driver::m_testId;
    using Driver::m_testResultDetail;
    using Driver::m_testResultSummary;
    using Driver::m_testSpinLock;
    using Driver::m_testStartTime;
    using Driver::m_timedCommandDue;
    using Driver::m_upsDateTime;
    using Driver::m_upsName;
    using Driver::m_upsSoftwareVersion;
    using Driver::m_vendorTestResult;
};

} // namespace pvx::test
