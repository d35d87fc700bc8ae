// Fuzz target: the values of DummyUPS.ini as the simulated UPS reads and
// writes them. The input is the file; the simulated UPS is started and
// updated a few times over it. Checks: the alarm table holds the
// simulation's six alarms at most, the object tree answers each value, and
// the write-back of the moved values cannot grow the file without bound.
// (The reader and the writer follow different rules for odd files, such as a
// key before its section's header or a section given twice, so what the file
// reads back need not be what was written.)
#include "config/INIFile.h"
#include "dummy/DummyUPS.h"
#include "events/PVXException.h"
#include "platform/Clock.h"
#include "platform/CommPort.h"
#include "platform/Portability.h"
#include "tests/fuzz/FuzzSupport.h"
#include "ups/AbstractUPS.h"

#include <cstdlib>
#include <fstream>

namespace pvx::fuzz {
namespace {

// The five values by section, and the UPS-MIB object that serves each.
struct SValue {
    const char* section;
    std::vector<std::uint32_t> name;
};
const SValue kValues[] = {
    {"InputVoltage", {2, 1, 33, 1, 3, 3, 1, 3, 0}},
    {"OutputVoltage", {2, 1, 33, 1, 4, 4, 1, 2, 0}},
    {"OutputPercentLoad", {2, 1, 33, 1, 4, 4, 1, 5, 0}},
    {"ChargeRemaining", {2, 1, 33, 1, 2, 4, 0}},
    {"BackupMinutesRemain", {2, 1, 33, 1, 2, 3, 0}},
};

struct SFolder {
    std::string path;
    SFolder()
    {
        char pattern[] = "/dev/shm/pvx-fuzz-dummy-XXXXXX";
        char* made = ::mkdtemp(pattern);
        if (made == nullptr) {
            char fallback[] = "/tmp/pvx-fuzz-dummy-XXXXXX";
            made = ::mkdtemp(fallback);
        }
        PVX_FUZZ_CHECK(made != nullptr);
        path = made;
    }
    ~SFolder()
    {
        std::remove((path + "/DummyUPS.ini").c_str());
        std::remove((path + "/pvx.ini").c_str());
        ::rmdir(path.c_str());
    }
};

} // namespace
} // namespace pvx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    using namespace pvx::fuzz;
    static SFolder folder;
    static CFakeClock fakeClock;
    static CScopedClock guard(fakeClock);
    const std::string simulationPath = folder.path + "/DummyUPS.ini";
    {
        std::ofstream file(simulationPath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CINIFile configuration(folder.path + "/pvx.ini");
    CCommPort noPort("", 9600, 8, 2, 0); // no serial port: the simulation alone
    CDummyUPS ups(&noPort, &configuration);
    ups.Start();
    PVX_FUZZ_CHECK(ups.IsConnected());
    for (int pass = 0; pass < 3; ++pass) {
        ups.Update();
        fakeClock.Advance(1000);
        PVX_FUZZ_CHECK(ups.GetAlarms().size() <= 6);
        if (ups.GetCycleCounter() != 0)
            continue; // no refresh in this pass
        for (const SValue& value : kValues) {
            try {
                PVX_FUZZ_CHECK(ups.GetMIBData(value.name, false) != nullptr);
            } catch (const CPVXException&) {
                PVX_FUZZ_CHECK(false);
            }
        }
    }
    std::string after;
    PVX_FUZZ_CHECK(ReadFileBounded(simulationPath, size + 4096, false, after));
    PVX_FUZZ_CHECK(after.size() <= size + 1024);
    return 0;
}
