// Data URLs for HTML source and the error page. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// "data:" + mime + ";base64," + the percent-encoded base64 of content's
// bytes, taken exactly as they are.
std::string BuildDataUrl(std::string_view content, std::string_view mime);

}  // namespace quillo
