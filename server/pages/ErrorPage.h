// The fixed error page, the answer to whatever cannot be served.
#pragma once

#include <string_view>

// 94 bytes, beginning with a line feed.
extern const std::string_view kErrorPage;
