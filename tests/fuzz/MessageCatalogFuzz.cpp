// Fuzz target: the compiled message catalog. The input is the catalog file;
// every event code of pvx is looked up in it, and one code the input chooses.
#include "events/PVXException.h"
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    static fuzz::CScratchFile file("pvx-fuzz-messages");
    static const bool pathSet = [] {
        PVX_FUZZ_CHECK(file.Path().size() < sizeof g_szMessagesPath);
        std::memcpy(g_szMessagesPath, file.Path().c_str(), file.Path().size() + 1);
        return true;
    }();
    (void)pathSet;
    file.Write(std::span<const std::uint8_t>(data, size));

    static constexpr std::uint32_t kCodes[] = { EVENT_NO_UPS_FOUND, EVENT_BAD_REPLY, EVENT_TIMEOUT,
        EVENT_NO_SUCH_OBJECT, EVENT_NETWORK_STARTUP, EVENT_SOCKET_CREATE, EVENT_SOCKET_BIND, EVENT_SOCKET_NONBLOCKING,
        EVENT_BER_MALFORMED, EVENT_BER_BOUNDS, EVENT_READ_ONLY, EVENT_BAD_VALUE, EVENT_COMMAND_FAILED, EVENT_RELAY_BIND,
        EVENT_RELAY_NONBLOCKING, EVENT_UPS_LOST, EVENT_BAD_PASSWORD, 0x10000, 0xFFFFFFFF };
    std::string text;
    for (std::uint32_t code : kCodes) {
        GetMessageText(code, text);
        // The text is the entry's, taken from the file, or the fallback.
        PVX_FUZZ_CHECK(text.size() <= std::max<std::size_t>(size, sizeof "Unknown Error"));
    }
    // A code taken from the input, so that the fuzzer can aim at its own blocks.
    fuzz::CFuzzInput input(data, size);
    GetMessageText(input.U32() | 0x10000, text);
    return 0;
}
