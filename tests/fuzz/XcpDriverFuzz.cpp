// Fuzz target: the XCP driver's identification and block decoding. Every
// request the driver sends is answered with a reply block made from the next
// part of the fuzz input, through identification and two rounds of the
// polling schedule; then both MIB trees are walked with GET-NEXT, so that any
// decoded value the tree cannot serve shows up. Checks: the walk always moves
// forward and ends, and the trap queue stays within its bound.
#include "config/INIFile.h"
#include "events/PVXException.h"
#include "tests/fuzz/FuzzPorts.h"
#include "xcp/driver/XComUPS.h"

#include <algorithm>

namespace pvx::fuzz {
namespace {

// More objects than both trees hold with six lines in every table.
constexpr int kMaxWalkSteps = 3000;

void Walk(CAbstractUPS& ups, std::initializer_list<std::uint32_t> start)
{
    COid name(start);
    for (int step = 0; step < kMaxWalkSteps; ++step) {
        std::unique_ptr<CMIBData> value;
        try {
            value = ups.GetMIBData(name.Arcs(), true);
        } catch (const CPVXException& e) {
            PVX_FUZZ_CHECK(e.GetCode() == EVENT_NO_SUCH_OBJECT);
            return; // the end of the tree
        }
        PVX_FUZZ_CHECK(value && value->GetName() != nullptr);
        const COid& next = *value->GetName();
        PVX_FUZZ_CHECK(std::ranges::lexicographical_compare(name.Arcs(), next.Arcs()));
        if (value->GetKind() == MIB_TEXT || value->GetKind() == MIB_NUMBER_TEXT)
            PVX_FUZZ_CHECK(value->GetText().size() <= kMIBTextMax);
        name = next;
    }
    PVX_FUZZ_CHECK(false); // a walk that never ends
}

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    using namespace pvx::fuzz;
    static CScratchFile ini("pvx-fuzz-driver");
    static CINIFile configuration(ini.Path());
    SilenceStandardOutput();

    CFakeClock clock;
    CScopedClock clockGuard(clock);
    CBlockScriptPort port(clock, std::span<const std::uint8_t>(data, size));
    CXComUPS ups(&port, &configuration);
    ups.Start();
    for (std::uint32_t pass = 0; pass < 2 * CXComUPS::kUpdatePhases && ups.IsConnected(); ++pass) {
        ups.Update();
        PVX_FUZZ_CHECK(ups.GetPendingTrapCount() <= CAbstractUPS::kMaxPendingTraps);
    }
    Walk(ups, { 2, 0 });
    Walk(ups, { 4, 0 });
    return 0;
}
