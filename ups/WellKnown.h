// Well-known identifiers of RFC 1628 (alarms under upsWellKnownAlarms, tests
// under upsWellKnownTests) and the enterprises of the traps the model sends.
// They are built at program start: take their address or copy them at run
// time, not from another file's static initialiser.
#pragma once

#include "snmp/values/MIBData.h"

namespace pvx {

// upsAlarmsWellKnown 1.3.6.1.2.1.33.1.6.3.N
extern const COid kUpsAlarmBatteryBad; // 1
extern const COid kUpsAlarmOnBattery; // 2
extern const COid kUpsAlarmLowBattery; // 3
extern const COid kUpsAlarmDepletedBattery; // 4
extern const COid kUpsAlarmTempBad; // 5
extern const COid kUpsAlarmInputBad; // 6
extern const COid kUpsAlarmOutputBad; // 7
extern const COid kUpsAlarmOutputOverload; // 8
extern const COid kUpsAlarmOnBypass; // 9
extern const COid kUpsAlarmBypassBad; // 10
extern const COid kUpsAlarmUpsOffAsRequested; // 12
extern const COid kUpsAlarmChargerFailed; // 13
extern const COid kUpsAlarmUpsOutputOff; // 14
extern const COid kUpsAlarmUpsSystemOff; // 15
extern const COid kUpsAlarmFanFailure; // 16
extern const COid kUpsAlarmFuseFailure; // 17
extern const COid kUpsAlarmGeneralFault; // 18
extern const COid kUpsAlarmDiagnosticTestFailed; // 19
extern const COid kUpsAlarmCommunicationsLost; // 20
extern const COid kUpsAlarmShutdownPending; // 22
extern const COid kUpsAlarmShutdownImminent; // 23
extern const COid kUpsAlarmTestInProgress; // 24

// upsWellKnownTests 1.3.6.1.2.1.33.1.7.7.N
extern const COid kUpsTestNoTestsInitiated; // 1
extern const COid kUpsTestAbortTestInProgress; // 2
extern const COid kUpsTestGeneralSystemsTest; // 3
extern const COid kUpsTestQuickBatteryTest; // 4
extern const COid kUpsTestDeepBatteryCalibration; // 5

// Trap enterprises: upsTraps 1.3.6.1.2.1.33.2 and the vendor UPS MIB 1.3.6.1.4.1.534.1.
extern const COid kUpsTrapsEnterprise;
extern const COid kVendorTrapsEnterprise;

} // namespace pvx
