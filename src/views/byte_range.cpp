#include "views/byte_range.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace quillo::views {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// Decimal digits, at least one; a number past 2^64 - 1 saturates (it lies past any resource).
bool Number(std::string_view digits, uint64_t* value) {
  if (digits.empty()) return false;
  uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    const uint64_t d = uint64_t(c - '0');
    n = n > (kMax - d) / 10 ? kMax : n * 10 + d;
  }
  *value = n;
  return true;
}

RangeAnswer Whole(uint64_t total) {
  RangeAnswer answer;
  answer.count = answer.total = total;
  return answer;
}

}  // namespace

std::string RangeAnswer::ContentRange() const {
  if (status == 206)
    return "bytes " + std::to_string(first) + "-" + std::to_string(first + count - 1) + "/" +
           std::to_string(total);
  if (status == 416) return "bytes */" + std::to_string(total);
  return "";
}

RangeAnswer AnswerRange(std::string_view range, bool ifRange, uint64_t total) {
  range = Trim(range);
  // An empty resource has no byte to point at: it is sent whole, as a server may always do.
  if (range.empty() || ifRange || total == 0) return Whole(total);
  const size_t equals = range.find('=');
  if (equals == std::string_view::npos || !SameAscii(Trim(range.substr(0, equals)), "bytes"))
    return Whole(total);
  // Exactly one range is cut; empty list elements ("bytes=,0-9") do not count.
  std::vector<std::string_view> parts;
  for (std::string_view rest = range.substr(equals + 1);;) {
    const size_t comma = rest.find(',');
    const std::string_view part = Trim(rest.substr(0, comma));
    if (!part.empty()) parts.push_back(part);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (parts.size() != 1) return Whole(total);
  const std::string_view part = parts[0];
  const size_t dash = part.find('-');
  if (dash == std::string_view::npos) return Whole(total);
  const std::string_view head = part.substr(0, dash), tail = part.substr(dash + 1);
  RangeAnswer answer;
  answer.total = total;
  uint64_t first = 0, last = kMax;
  if (head.empty()) {
    // The last n bytes; all of them when the resource is shorter.
    uint64_t n = 0;
    if (!Number(tail, &n)) return Whole(total);
    if (n == 0) {
      answer.status = 416;
      return answer;
    }
    first = total - std::min(n, total);
    last = total - 1;
  } else {
    if (!Number(head, &first)) return Whole(total);
    if (!tail.empty() && !Number(tail, &last)) return Whole(total);
    if (last < first) return Whole(total);  // not a range: the header is ignored
    if (first >= total) {
      answer.status = 416;
      return answer;
    }
    last = std::min(last, total - 1);
  }
  answer.status = 206;
  answer.first = first;
  answer.count = last - first + 1;
  return answer;
}

std::string_view HeaderValue(std::string_view headers, std::string_view name, bool* found) {
  *found = false;
  while (!headers.empty()) {
    const size_t end = headers.find('\n');
    const std::string_view line = headers.substr(0, end);
    headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !SameAscii(line.substr(0, colon), name)) continue;
    *found = true;
    return Trim(line.substr(colon + 1));
  }
  return {};
}

}  // namespace quillo::views
