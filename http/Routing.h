// Which resource a request names and what status it gets: the part of the
// request handling that is pvx's own, kept free of the HTTP library so that
// it can be tested and fuzzed on its own.
#pragma once

#include <string_view>

namespace pvx {

enum class EResource { None, Page, Metrics, StatusJson, EventsJson, EventsCsv, HistoryJson };

struct SRoute {
    int status = 404; // 200 with a resource, else the error to answer
    EResource resource = EResource::None;
    bool head = false; // HEAD: the headers of the GET, no body
};

// `method` as the request line has it; `target` the request target, path and
// optional query ("/metrics?x=1"). Only GET and HEAD are served (405
// otherwise); a target that is not an absolute path is 400; the query is
// accepted and ignored; an unknown path is 404.
SRoute Route(std::string_view method, std::string_view target);

} // namespace pvx
