// Fuzz target: a client's byte stream through the RFC 9271 session, line by
// line as the server cuts it. Every reply must be whole lines that start with
// a word of the protocol, carry no control character, keep quoted values
// closed, and LOGOUT must end the session.
#include "nut/NutProtocol.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/ups/TestUPS.h"
#include "ups/WellKnown.h"

#include <string_view>

namespace {

bool StartsWithKnownWord(std::string_view line)
{
    for (std::string_view word : { "OK", "ERR ", "VAR ", "TYPE ", "DESC ", "CMDDESC ", "UPSDESC ", "NUMLOGINS ",
                                   "BEGIN LIST ", "END LIST ", "UPS ", "RW ", "CMD ", "ENUM ", "RANGE ", "CLIENT ",
                                   "pvx ", "1.3", "Commands: " })
        if (line.starts_with(word))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace pvx;
    static const std::string stored = *nut::StorePassword("pw", nut::kMinIterations);
    nut::SProtocolSettings settings;
    settings.users = { { "admin", stored, nut::ERole::Admin }, { "mon", stored, nut::ERole::Monitor } };
    nut::CProtocol protocol(settings);
    test::CTestUPS ups;
    ups.m_linkState = 0;
    ups.m_outputSource = 5;
    ups.m_upsName = "a \"quoted\\ name";
    ups.canQuickTest = true;
    ups.shutdownTypes = { 1 };
    ups.RaiseAlarm(kUpsAlarmOnBattery);

    nut::SSession session;
    std::string out;
    // The first byte is a mode: bit 0 takes the UPS away, as a lost link does.
    const bool noUps = size > 0 && (data[0] & 1) != 0;
    const std::string_view input = size > 0 ? std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1)
                                            : std::string_view();
    std::size_t begin = 0;
    while (begin < input.size() && !session.closing) {
        const std::size_t end = std::min(input.find('\n', begin), input.size());
        out.clear();
        protocol.HandleLine(session, input.substr(begin, end - begin), noUps ? nullptr : &ups, out);
        begin = end + 1;
        PVX_FUZZ_CHECK(out.empty() || out.back() == '\n');
        for (std::size_t at = 0; at < out.size();) {
            const std::size_t next = out.find('\n', at);
            const std::string_view line(out.data() + at, next - at);
            PVX_FUZZ_CHECK(StartsWithKnownWord(line));
            bool quoted = false;
            for (std::size_t i = 0; i < line.size(); ++i) {
                const auto c = static_cast<unsigned char>(line[i]);
                PVX_FUZZ_CHECK(c >= 0x20 && c != 0x7F);
                if (quoted && c == '\\')
                    ++i;
                else if (c == '"')
                    quoted = !quoted;
            }
            PVX_FUZZ_CHECK(!quoted);
            at = next + 1;
        }
    }
    PVX_FUZZ_CHECK(protocol.LoggedInClients() <= 1);
    return 0;
}
