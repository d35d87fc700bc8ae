#include "http/Routing.h"

#include <array>
#include <utility>

namespace pvx {

namespace {

constexpr std::array<std::pair<std::string_view, EResource>, 6> kPaths { {
    { "/", EResource::Page },
    { "/metrics", EResource::Metrics },
    { "/status.json", EResource::StatusJson },
    { "/events.json", EResource::EventsJson },
    { "/events.csv", EResource::EventsCsv },
    { "/history.json", EResource::HistoryJson },
} };

bool IsTargetCharacter(char c)
{
    // Visible ASCII only: a blank or control character cannot be part of a
    // request target (RFC 9112 request-line), a byte above 0x7E is not ASCII.
    return c > 0x20 && c < 0x7F;
}

} // namespace

SRoute Route(std::string_view method, std::string_view target)
{
    SRoute route;
    if (target.empty() || target.front() != '/' || target.size() > 2048) {
        route.status = 400;
        return route;
    }
    for (char c : target) {
        if (!IsTargetCharacter(c)) {
            route.status = 400;
            return route;
        }
    }
    if (method != "GET" && method != "HEAD") {
        route.status = 405;
        return route;
    }
    route.head = method == "HEAD";
    const std::string_view path = target.substr(0, target.find('?'));
    for (const auto& [name, resource] : kPaths) {
        if (path == name) {
            route.status = 200;
            route.resource = resource;
            return route;
        }
    }
    return route;
}

} // namespace pvx
