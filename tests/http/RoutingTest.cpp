// Which status each request gets: the routing table of the HTTP server.
#include "http/Routing.h"

#include <gtest/gtest.h>

#include <string>

using namespace pvx;

namespace {

struct SCase {
    const char* method;
    std::string target;
    int status;
    EResource resource;
    bool head;
};

TEST(HttpRouting, EachRequestGetsItsStatus)
{
    const SCase cases[] = {
        { "GET", "/", 200, EResource::Page, false },
        { "GET", "/metrics", 200, EResource::Metrics, false },
        { "GET", "/status.json", 200, EResource::StatusJson, false },
        { "HEAD", "/metrics", 200, EResource::Metrics, true },
        { "GET", "/events.json", 200, EResource::EventsJson, false },
        { "HEAD", "/events.csv", 200, EResource::EventsCsv, true },
        { "GET", "/history.json?day=1", 200, EResource::HistoryJson, false },
        { "POST", "/events.csv", 405, EResource::None, false },
        { "GET", "/history.csv", 404, EResource::None, false },
        { "GET", "/metrics?name[]=pvx_ups_connected", 200, EResource::Metrics, false },
        { "GET", "/?", 200, EResource::Page, false },
        // Paths are exact: no prefixes, no trailing slash, no case folding.
        { "GET", "/metrics/", 404, EResource::None, false },
        { "GET", "/METRICS", 404, EResource::None, false },
        { "GET", "/index.html", 404, EResource::None, false },
        { "GET", "//metrics", 404, EResource::None, false },
        { "GET", "/../metrics", 404, EResource::None, false },
        // Nothing can change anything: every other method is refused.
        { "POST", "/", 405, EResource::None, false },
        { "PUT", "/metrics", 405, EResource::None, false },
        { "DELETE", "/", 405, EResource::None, false },
        { "OPTIONS", "/", 405, EResource::None, false },
        { "get", "/", 405, EResource::None, false },
        { "", "/", 405, EResource::None, false },
        // Not an absolute path, or bytes a request target cannot hold.
        { "GET", "", 400, EResource::None, false },
        { "GET", "metrics", 400, EResource::None, false },
        { "GET", "http://host/metrics", 400, EResource::None, false },
        { "GET", "/me trics", 400, EResource::None, false },
        { "GET", std::string("/\0", 2), 400, EResource::None, false },
        { "GET", "/\x85", 400, EResource::None, false },
        { "POST", "", 400, EResource::None, false },
        { "GET", "/" + std::string(4096, 'a'), 400, EResource::None, false },
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        const SRoute route = Route(c.method, c.target);
        EXPECT_EQ(route.status, c.status);
        EXPECT_EQ(route.resource, c.resource);
        EXPECT_EQ(route.head, c.head);
    }
}

} // namespace
