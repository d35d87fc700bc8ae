// The UPS's own settings as XCP configuration commands (see XCPSettings.h).
#include "ups/XCPSettings.h"

#include "events/PVXException.h"
#include "xcp/link/XCPControls.h"

#include <algorithm>
#include <iterator>

namespace pvx {

namespace {

// The numeric settings and their 0x95 parameter: whether its 16 bits are
// signed, and the value the UPS counts from (the audible status is 1 to 3 in
// the MIB, 0 to 2 on the wire).
struct SParameter {
    EUPSSetting setting;
    std::uint8_t parameter;
    bool isSigned;
    std::int64_t first;
};

constexpr SParameter kParameters[] = {
    { EUPSSetting::OutputVoltage, kXCPParameterOutputVoltage, false, 0 },
    { EUPSSetting::LowBatteryTime, kXCPParameterLowBatteryTime, false, 0 },
    { EUPSSetting::AudibleStatus, kXCPParameterAudible, false, 1 },
    { EUPSSetting::LowTemperatureLimit, kXCPParameterLowTemperature, true, 0 },
    { EUPSSetting::HighTemperatureLimit, kXCPParameterHighTemperature, true, 0 },
};

} // namespace

void CheckUPSSetting(EUPSSetting setting, const CMIBData& value)
{
    if (setting == EUPSSetting::DateTime) {
        if (!ParseDateTimeText(value.GetText()))
            throw CPVXException(EVENT_BAD_VALUE);
        return;
    }
    const auto found = std::ranges::find(kParameters, setting, &SParameter::setting);
    if (found == std::end(kParameters))
        throw CPVXException(EVENT_READ_ONLY);
    const std::int64_t v = std::int64_t { value.GetInteger() } - found->first;
    if (found->isSigned)
        Signed16OrRefuse(v);
    else
        Unsigned16OrRefuse(v);
}

void SendUPSSetting(CCommands& link, EUPSSetting setting, const CMIBData& value)
{
    if (setting == EUPSSetting::DateTime) {
        WriteClock(link, value.GetText());
        return;
    }
    const auto found = std::ranges::find(kParameters, setting, &SParameter::setting);
    if (found == std::end(kParameters))
        throw CPVXException(EVENT_READ_ONLY); // a setting XCP has no command for
    const std::int64_t v = std::int64_t { value.GetInteger() } - found->first;
    WriteParameter(link, found->parameter, found->isSigned ? Signed16OrRefuse(v) : Unsigned16OrRefuse(v));
}

} // namespace pvx
