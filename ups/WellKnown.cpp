// Well-known RFC 1628 alarm and test identifiers and the trap enterprises.
#include "ups/WellKnown.h"

namespace pvx {

const COid kUpsAlarmBatteryBad { 2, 1, 33, 1, 6, 3, 1, 0 };
const COid kUpsAlarmOnBattery { 2, 1, 33, 1, 6, 3, 2, 0 };
const COid kUpsAlarmLowBattery { 2, 1, 33, 1, 6, 3, 3, 0 };
const COid kUpsAlarmDepletedBattery { 2, 1, 33, 1, 6, 3, 4, 0 };
const COid kUpsAlarmTempBad { 2, 1, 33, 1, 6, 3, 5, 0 };
const COid kUpsAlarmInputBad { 2, 1, 33, 1, 6, 3, 6, 0 };
const COid kUpsAlarmOutputBad { 2, 1, 33, 1, 6, 3, 7, 0 };
const COid kUpsAlarmOutputOverload { 2, 1, 33, 1, 6, 3, 8, 0 };
const COid kUpsAlarmOnBypass { 2, 1, 33, 1, 6, 3, 9, 0 };
const COid kUpsAlarmBypassBad { 2, 1, 33, 1, 6, 3, 10, 0 };
const COid kUpsAlarmUpsOffAsRequested { 2, 1, 33, 1, 6, 3, 12, 0 };
const COid kUpsAlarmChargerFailed { 2, 1, 33, 1, 6, 3, 13, 0 };
const COid kUpsAlarmUpsOutputOff { 2, 1, 33, 1, 6, 3, 14, 0 };
const COid kUpsAlarmUpsSystemOff { 2, 1, 33, 1, 6, 3, 15, 0 };
const COid kUpsAlarmFanFailure { 2, 1, 33, 1, 6, 3, 16, 0 };
const COid kUpsAlarmFuseFailure { 2, 1, 33, 1, 6, 3, 17, 0 };
const COid kUpsAlarmGeneralFault { 2, 1, 33, 1, 6, 3, 18, 0 };
const COid kUpsAlarmDiagnosticTestFailed { 2, 1, 33, 1, 6, 3, 19, 0 };
const COid kUpsAlarmCommunicationsLost { 2, 1, 33, 1, 6, 3, 20, 0 };
const COid kUpsAlarmShutdownPending { 2, 1, 33, 1, 6, 3, 22, 0 };
const COid kUpsAlarmShutdownImminent { 2, 1, 33, 1, 6, 3, 23, 0 };
const COid kUpsAlarmTestInProgress { 2, 1, 33, 1, 6, 3, 24, 0 };

const COid kUpsTestNoTestsInitiated { 2, 1, 33, 1, 7, 7, 1, 0 };
const COid kUpsTestAbortTestInProgress { 2, 1, 33, 1, 7, 7, 2, 0 };
const COid kUpsTestGeneralSystemsTest { 2, 1, 33, 1, 7, 7, 3, 0 };
const COid kUpsTestQuickBatteryTest { 2, 1, 33, 1, 7, 7, 4, 0 };
const COid kUpsTestDeepBatteryCalibration { 2, 1, 33, 1, 7, 7, 5, 0 };

const COid kUpsTrapsEnterprise { 2, 1, 33, 2, 0 };
const COid kVendorTrapsEnterprise { 4, 1, 534, 1, 0 };

} // namespace pvx
