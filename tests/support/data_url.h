// Reading back the data: URLs the library builds, and checking texts it hands out.
#pragma once

#include <optional>
#include <string>

namespace quillo_test {

// The content of "data:<type>;base64,<percent-encoded base64>": percent-decoding first, then
// base64. Nothing when the URL is not of that form or does not decode.
std::optional<std::string> DecodeBase64DataUrl(const std::string& url,
                                               const std::string& type = "text/html");

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(const std::string& text);

// The error page the library shows for a failed load.
std::string ErrorPageHtml(const std::string& url, const std::string& name, int code,
                          const std::string& text);

}  // namespace quillo_test
