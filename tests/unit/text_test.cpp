// Text handling: UTF conversion, bounded UTF-8 copies, the log formatter and
// the lock-free notice texts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <string>
#include <thread>

#include "client/notice_text.h"
#include "diagnostics/debug_log.h"
#include "platform/utf.h"

namespace quillo {
namespace {

std::u16string Format(const char16_t* format, ...) {
  char16_t out[kLogLineCapacity];
  va_list args;
  va_start(args, format);
  size_t n = FormatLogLine(out, kLogLineCapacity, format, args);
  va_end(args);
  EXPECT_EQ(out[n], u'\0');
  return std::u16string(out, n);
}

TEST(Utf, InvalidBytesBecomeReplacementCharacters) {
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"abc", u"abc"},
      {"\xC3\xA9", u"\u00E9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xFFz", u"a\uFFFDz"},
      {"\xC3", u"\uFFFD"},                      // cut sequence
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Utf8ToUtf16(c.in), c.out) << c.in;
    // Well-formed exactly when the decoding replaced nothing.
    EXPECT_EQ(platform::IsValidUtf8(c.in), c.out.find(u'\uFFFD') == std::u16string::npos) << c.in;
  }
  EXPECT_TRUE(platform::IsValidUtf8("\xEF\xBF\xBD"));               // U+FFFD itself
  EXPECT_FALSE(platform::IsValidUtf8("\xF4\x90\x80\x80"));          // beyond U+10FFFF
  EXPECT_FALSE(platform::IsValidUtf8("\xF0\x9F\x98"));              // cut four-byte sequence
  EXPECT_EQ(platform::Utf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");  // lone surrogate
  EXPECT_EQ(platform::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Utf, BoundedCopyCutsAtACharacterBoundary) {
  char buf[6];
  // "abcd" + a two-byte character: 6 bytes do not fit into 5 + NUL.
  EXPECT_EQ(platform::CopyUtf8Bounded(buf, sizeof(buf), "abcd\xC3\xA9"), 4u);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(platform::CopyUtf8Bounded(buf, sizeof(buf), "a\xF0\x9F\x98\x80"), 5u);
  EXPECT_STREQ(buf, "a\xF0\x9F\x98\x80");
  EXPECT_EQ(platform::CopyUtf8Bounded(buf, sizeof(buf), "ab\xF0\x9F\x98\x80"), 2u);
  EXPECT_EQ(platform::CopyUtf8Bounded(buf, sizeof(buf), "hello world"), 5u);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(platform::CopyUtf8Bounded(buf, 1, "x"), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(LogFormat, Conversions) {
  EXPECT_EQ(Format(u"CWebClient::OnTitleChange [%s]", u"T\u00E9"),
            u"CWebClient::OnTitleChange [T\u00E9]");
  EXPECT_EQ(Format(u"[%d][%d][%d]", 0, -105, 2147483647), u"[0][-105][2147483647]");
  EXPECT_EQ(Format(u"0x%08x", 0x2A), u"0x0000002a");
  EXPECT_EQ(Format(u"0x%08x", 0x80000001u), u"0x80000001");
  EXPECT_EQ(Format(u"%d%%", 50), u"50%");
  EXPECT_EQ(Format(u"[%s]", static_cast<const char16_t*>(nullptr)), u"[(null)]");
  EXPECT_EQ(Format(u"%5d|%-3d|", 42, 7), u"   42|7  |");
}

TEST(LogFormat, LongMessagesAreCutSoundly) {
  std::u16string exact(kLogLineCapacity - 1, u'a');
  EXPECT_EQ(Format(u"%s", exact.c_str()), exact);

  std::u16string longer(kLogLineCapacity + 500, u'b');
  std::u16string cut = Format(u"x%sy", longer.c_str());
  EXPECT_EQ(cut.size(), kLogLineCapacity - 1);
  EXPECT_EQ(cut.front(), u'x');

  // A surrogate pair straddling the limit is dropped whole.
  std::u16string pair(kLogLineCapacity - 2, u'c');
  pair += u"\U0001F600";
  std::u16string out = Format(u"%s", pair.c_str());
  EXPECT_EQ(out.size(), kLogLineCapacity - 2);
  EXPECT_NE(out.back(), u'\xD83D');
}

TEST(NoticeText, LongTextIsCutAndStaysUntilTheNextRead) {
  NoticeText<8> text;
  EXPECT_STREQ(text.Latest(), "");
  text.Publish("abcdefghij");
  const char* held = text.Latest();
  EXPECT_STREQ(held, "abcdefg");
  // Newer texts never overwrite the one the reader holds.
  text.Publish("1111111");
  text.Publish("2222222");
  EXPECT_STREQ(held, "abcdefg");
  EXPECT_STREQ(text.Latest(), "2222222");
  // A text is fresh once: asked again without a newer one, nothing new, and the held text stays.
  EXPECT_EQ(text.TakeFresh(), nullptr);
  text.Publish("3");
  const char* fresh = text.TakeFresh();
  ASSERT_NE(fresh, nullptr);
  EXPECT_STREQ(fresh, "3");
  EXPECT_EQ(text.TakeFresh(), nullptr);
  EXPECT_STREQ(fresh, "3");
}

TEST(NoticeText, ReaderNeverSeesAHalfWrittenText) {
  NoticeText<512> text;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    std::string line(500, 'a');
    for (int i = 0; i < 200000; ++i) {
      std::fill(line.begin(), line.end(), static_cast<char>('a' + i % 26));
      text.Publish(line);
    }
    done.store(true);
  });
  long reads = 0;
  while (!done.load()) {
    std::string seen = text.Latest();
    if (seen.empty()) continue;
    ASSERT_EQ(seen.size(), 500u);
    ASSERT_EQ(seen.find_first_not_of(seen[0]), std::string::npos) << "torn text";
    ++reads;
  }
  writer.join();
  EXPECT_GT(reads, 0);
}

}  // namespace
}  // namespace quillo
