// The part of a resource a Range header asks for. Every single range of the three forms over
// small resources is compared with the bytes HTTP's definition selects (a set of positions), and
// the edges a page cannot reach through fetch (numbers past 64 bits, an empty resource) with a
// table; the headers' text is read as REQUEST notices carry it.
#include "views/byte_range.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillo::views {
namespace {

// What RFC 9110 selects: the positions of [0, total) the range names, as a list; valid is
// false for a text that is not a range (the header is then ignored).
std::vector<uint64_t> Selected(const std::string& kind, uint64_t a, uint64_t b, uint64_t total,
                               bool* valid) {
  *valid = true;
  std::vector<uint64_t> bytes;
  for (uint64_t i = 0; i < total; ++i) {
    if (kind == "a-b" && a <= i && i <= b) bytes.push_back(i);
    if (kind == "a-" && a <= i) bytes.push_back(i);
    if (kind == "-n" && i + a >= total) bytes.push_back(i);  // the last a bytes
  }
  if (kind == "a-b" && b < a) *valid = false;
  return bytes;
}

TEST(ByteRange, EverySingleRangeSelectsWhatHttpSays) {
  for (uint64_t total = 0; total <= 12; ++total)
    for (const std::string kind : {"a-b", "a-", "-n"})
      for (uint64_t a = 0; a <= 14; ++a)
        for (uint64_t b = 0; b <= (kind == "a-b" ? 14u : 0u); ++b) {
          const std::string range = kind == "a-b"  ? std::to_string(a) + "-" + std::to_string(b)
                                    : kind == "a-" ? std::to_string(a) + "-"
                                                   : "-" + std::to_string(a);
          const std::string header = "bytes=" + range;
          bool valid = false;
          const std::vector<uint64_t> want = Selected(kind, a, b, total, &valid);
          const RangeAnswer got = AnswerRange(header, false, total);
          SCOPED_TRACE(header + " of " + std::to_string(total));
          EXPECT_EQ(got.total, total);
          if (total == 0 || !valid) {
            // Not a range, or nothing to point into: the whole resource.
            EXPECT_EQ(got.status, 200);
            EXPECT_EQ(got.first, 0u);
            EXPECT_EQ(got.count, total);
            EXPECT_EQ(got.ContentRange(), "");
          } else if (want.empty()) {
            EXPECT_EQ(got.status, 416);
            EXPECT_EQ(got.count, 0u);
            EXPECT_EQ(got.ContentRange(), "bytes */" + std::to_string(total));
          } else {
            EXPECT_EQ(got.status, 206);
            EXPECT_EQ(got.first, want.front());
            EXPECT_EQ(got.count, want.size());
            EXPECT_EQ(got.ContentRange(), "bytes " + std::to_string(want.front()) + "-" +
                                              std::to_string(want.back()) + "/" +
                                              std::to_string(total));
          }
          // If-Range (no validator to compare with) always gives the whole.
          const RangeAnswer conditional = AnswerRange(header, true, total);
          EXPECT_EQ(conditional.status, 200);
          EXPECT_EQ(conditional.count, total);
        }
}

TEST(ByteRange, HeadersNoServerCouldAnswerAreIgnoredAndHugeNumbersSaturate) {
  const uint64_t max = ~uint64_t{0};
  const struct {
    const char* range;
    uint64_t total;
    int status;
    uint64_t first, count;
  } cases[] = {
      {"", 10, 200, 0, 10},
      {"bytes=", 10, 200, 0, 10},
      {"bytes", 10, 200, 0, 10},
      {"bytes=-", 10, 200, 0, 10},
      {"bytes=1-2-3", 10, 200, 0, 10},
      {"bytes=+1-2", 10, 200, 0, 10},
      {"bytes=0x1-2", 10, 200, 0, 10},
      {"bytes=1-2,", 10, 206, 1, 2},  // an empty list element is no range
      {" bytes = 1-2 ", 10, 206, 1, 2},
      {"BYTES=3-", 10, 206, 3, 7},
      {"bytes=1-2, 4-5", 10, 200, 0, 10},
      {"pages=1-2", 10, 200, 0, 10},
      // Past 2^64 - 1: a first byte past any resource, a last byte at its end.
      {"bytes=99999999999999999999999-", 10, 416, 0, 0},
      {"bytes=2-99999999999999999999999", 10, 206, 2, 8},
      {"bytes=-99999999999999999999999", 10, 206, 0, 10},
      {"bytes=18446744073709551614-", max, 206, max - 1, 1},
      {"bytes=0-", max, 206, 0, max},
      {"bytes=-1", 0, 200, 0, 0},
  };
  for (const auto& c : cases) {
    const RangeAnswer got = AnswerRange(c.range, false, c.total);
    EXPECT_EQ(got.status, c.status) << "[" << c.range << "]";
    EXPECT_EQ(got.first, c.first) << "[" << c.range << "]";
    EXPECT_EQ(got.count, c.count) << "[" << c.range << "]";
  }
  EXPECT_EQ(AnswerRange("bytes=18446744073709551614-", false, max).ContentRange(),
            "bytes 18446744073709551614-18446744073709551614/18446744073709551615");
}

TEST(ByteRange, HeaderValuesAreFoundByNameInAnyCase) {
  const std::string headers =
      "Accept: */*\nIf-Range: \"x\"\nrange:  bytes=1-2 \nReferer: app://a/b\nX-Range-Not: 1\n";
  bool found = false;
  EXPECT_EQ(HeaderValue(headers, "Range", &found), "bytes=1-2");
  EXPECT_TRUE(found);
  EXPECT_EQ(HeaderValue(headers, "IF-RANGE", &found), "\"x\"");
  EXPECT_TRUE(found);
  EXPECT_EQ(HeaderValue(headers, "Referer", &found), "app://a/b");
  EXPECT_EQ(HeaderValue(headers, "Origin", &found), "");
  EXPECT_FALSE(found);
  EXPECT_EQ(HeaderValue("", "Range", &found), "");
  EXPECT_FALSE(found);
  EXPECT_EQ(HeaderValue("Range: bytes=5-", "Range", &found), "bytes=5-");  // no final newline
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace quillo::views
