// The error page with any failed URL and error text: what the page says
// carries no markup of its own from either text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "client/error_page.h"

namespace {

size_t Count(std::string_view s, char c) {
  size_t n = 0;
  for (char x : s) n += x == c;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view url = input.substr(0, split);
  std::string_view text = split == std::string_view::npos ? "" : input.substr(split + 1);
  const int code = size > 0 ? -static_cast<int>(data[0]) * 3 : 0;
  const std::string page = quillo::BuildErrorPage(url, code, text);
  // The page's own markup, with the same shape: the same number of brackets
  // and quotes whatever the texts hold.
  const std::string shape =
      quillo::BuildErrorPage(std::string(url.size() ? 1 : 0, 'u'), code, text.empty() ? "" : "t");
  for (char c : {'<', '>', '"', '\''})
    if (Count(page, c) != Count(shape, c)) abort();
  return 0;
}
