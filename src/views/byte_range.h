// The part of a resource that a request's Range header asks for, answered as an HTTP server
// answers it: one range of bytes (206), the whole resource (200) when the header is absent, not
// understood (another unit, several ranges, bad syntax) or comes with If-Range (the library sends
// no validators, so it cannot tell whether the page's copy is current), or nothing (416) when
// the range starts past the end. Plain functions, no state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillo::views {

struct RangeAnswer {
  int status = 200;    // 200, 206 or 416
  uint64_t first = 0;  // the part's first byte
  uint64_t count = 0;  // its length: total for 200, 0 for 416
  uint64_t total = 0;  // the resource's size

  // The Content-Range header's value for 206 and 416; "" for 200.
  std::string ContentRange() const;
};

// range: the Range header's value ("" when the request has none); ifRange: the request has an
// If-Range header; total: the resource's size in bytes.
RangeAnswer AnswerRange(std::string_view range, bool ifRange, uint64_t total);

// The value of header name (ASCII, any case) in headers, lines of "Name: value" each ending in
// '\n' as REQUEST notices carry them; found tells whether there was one.
std::string_view HeaderValue(std::string_view headers, std::string_view name, bool* found);

}  // namespace quillo::views
