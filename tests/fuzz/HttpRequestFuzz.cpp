// Fuzz target: pvx's own part of an HTTP request's handling. The input is a
// request line ("METHOD target"): the routing must give one of its statuses
// with a resource exactly when it is 200, and the same bytes taken as a text
// from the UPS must come out of every escaper without a byte that would end
// or break out of its context.
#include "http/Routing.h"
#include "http/StatusRender.h"
#include "tests/fuzz/FuzzSupport.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t blank = input.find(' ');
    const std::string_view method = input.substr(0, blank);
    const std::string_view target = blank == std::string_view::npos ? std::string_view() : input.substr(blank + 1);

    const pvx::SRoute route = pvx::Route(method, target);
    PVX_FUZZ_CHECK(route.status == 200 || route.status == 400 || route.status == 404 || route.status == 405);
    PVX_FUZZ_CHECK((route.status == 200) == (route.resource != pvx::EResource::None));
    PVX_FUZZ_CHECK(!route.head || method == "HEAD");
    if (route.status == 200)
        PVX_FUZZ_CHECK(method == "GET" || method == "HEAD");

    const std::string html = pvx::EscapeHtml(input);
    PVX_FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
    const std::string json = pvx::EscapeJson(input);
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        PVX_FUZZ_CHECK(byte >= 0x20 && byte < 0x7F);
        if (json[i] == '\\') {
            PVX_FUZZ_CHECK(i + 1 < json.size());
            ++i; // the escaped character
        } else {
            PVX_FUZZ_CHECK(json[i] != '"');
        }
    }
    const std::string label = pvx::EscapeLabelValue(input);
    for (std::size_t i = 0; i < label.size(); ++i) {
        PVX_FUZZ_CHECK(label[i] != '\n');
        if (label[i] == '\\')
            ++i;
        else
            PVX_FUZZ_CHECK(label[i] != '"');
    }
    return 0;
}
