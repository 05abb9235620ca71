// The page shown in a frame whose load failed. Pure functions, any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The name of a network error code ("ERR_NAME_NOT_RESOLVED"), "UNKNOWN" for
// a code outside the table.
const char* ErrorCodeName(int code);

// The error page's HTML. failedUrl and errorText are inserted with & < > " '
// escaped; text without those characters is inserted as it is.
std::string BuildErrorPage(std::string_view failedUrl, int errorCode, std::string_view errorText);

}  // namespace quillo
