// Fuzz target: the event log file kept across restarts. A file that loads
// must write back as the same bytes' meaning (load, write, load gives the
// same text), and a refused one leaves the log empty.
#include "tests/fuzz/FuzzSupport.h"
#include "ups/EventLog.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    static CEventLog log; // 36 kB: kept out of the fuzzer's stack
    static CEventLog again;
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    if (!log.Load(file)) {
        PVX_FUZZ_CHECK(log.Size() == 0);
        return 0;
    }
    PVX_FUZZ_CHECK(log.Size() <= CEventLog::kCapacity);
    const std::string written = log.Serialize();
    PVX_FUZZ_CHECK(written.size() <= CEventLog::kMaxFileBytes);
    PVX_FUZZ_CHECK(again.Load(written));
    PVX_FUZZ_CHECK(again.Serialize() == written);
    return 0;
}
