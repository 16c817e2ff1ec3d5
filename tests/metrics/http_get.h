#pragma once

#include <string>

namespace brivane::testing {

struct HttpAnswer {
    long status = 0; // 0 when nothing answered
    std::string body;
};

// One GET over a new connection, with a 10 s limit.
HttpAnswer httpGet(const std::string& url);

} // namespace brivane::testing
