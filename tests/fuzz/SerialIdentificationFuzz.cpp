// Fuzz target: the Plug and Play identification a serial device sends when
// the port is opened, in both its 7-bit and 6-bit forms.
#include "platform/CommPort.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    // The port reads at most this much before it parses.
    std::span<const std::uint8_t> bytes(data, std::min(size, CCommPort::kIdentificationBytes));
    SPnPIdentification id;
    id.manufacturer = "left over";
    if (ParsePnPIdentification(bytes, id)) {
        PVX_FUZZ_CHECK(id.found);
        PVX_FUZZ_CHECK(!id.checksumValid || id.checksumPresent);
        std::size_t fields = id.manufacturer.size() + id.serialNumber.size() + id.className.size()
            + id.compatibleIds.size() + id.userName.size();
        PVX_FUZZ_CHECK(fields <= bytes.size());
    } else {
        // A refused string leaves nothing of a previous one behind.
        PVX_FUZZ_CHECK(!id.found && id.manufacturer.empty() && id.serialNumber.empty() && id.className.empty()
            && id.compatibleIds.empty() && id.userName.empty());
    }
    return 0;
}
