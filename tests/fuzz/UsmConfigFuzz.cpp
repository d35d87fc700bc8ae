// Fuzz target: the SNMPv3 texts pvx reads from files. The first byte picks
// the parser: even, the engine state file (what it accepts must format and
// parse back to the same state); odd, one SNMPv3 user line (refused only with
// the user-line event, naming its key).
#include "events/PVXException.h"
#include "snmp/usm/EngineState.h"
#include "snmp/usm/UsmUsers.h"
#include "tests/fuzz/FuzzSupport.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    using namespace pvx::usm;
    pvx::fuzz::CFuzzInput input(data, size);
    std::uint8_t mode = input.Byte();
    auto rest = input.Rest();
    std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
    if ((mode & 1) == 0) {
        auto state = ParseEngineState(text);
        if (state) {
            PVX_FUZZ_CHECK(state->engineId.size() >= 5 && state->engineId.size() <= 32);
            PVX_FUZZ_CHECK(state->boots >= 1 && state->boots < kMaxEngineBoots);
            PVX_FUZZ_CHECK(ParseEngineState(FormatEngineState(*state)) == state);
        }
        return 0;
    }
    try {
        SUsmUser user = ParseUsmUser("User1", text);
        PVX_FUZZ_CHECK(!user.name.empty() && user.name.size() <= kMaxUserNameLength);
        PVX_FUZZ_CHECK(user.authKey.size() == KeySize(user.authProtocol));
        PVX_FUZZ_CHECK(user.engineTag.empty() || user.engineTag.size() == kEngineTagSize);
        PVX_FUZZ_CHECK(user.level == ESecurityLevel::AuthPriv ? user.privKey.size() == KeySize(user.authProtocol)
                                                              : user.privKey.empty());
    } catch (const CPVXException& e) {
        PVX_FUZZ_CHECK(e.GetCode() == EVENT_USM_USER_MALFORMED);
        PVX_FUZZ_CHECK(!e.GetArguments().empty() && e.GetArguments()[0] == "User1");
    }
    return 0;
}
