// Fuzz target: the load generator's reading of an agent's replies. Whatever
// arrives, it reads inside the datagram; what it accepts it accepts again
// without the bytes after the message, with the same fields.
#include "tests/fuzz/FuzzSupport.h"
#include "tools/snmpload/LoadCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx::snmpload;
    const std::span<const std::uint8_t> datagram(data, size);
    SReply reply;
    if (!DecodeReply(datagram, reply))
        return 0;
    PVX_FUZZ_CHECK(reply.trailing < size);
    PVX_FUZZ_CHECK(reply.exceptions <= reply.bindings);
    SReply exact;
    PVX_FUZZ_CHECK(DecodeReply(datagram.first(size - reply.trailing), exact));
    PVX_FUZZ_CHECK(exact.trailing == 0 && exact.requestId == reply.requestId && exact.errorStatus == reply.errorStatus
        && exact.errorIndex == reply.errorIndex && exact.bindings == reply.bindings
        && exact.exceptions == reply.exceptions);
    return 0;
}
