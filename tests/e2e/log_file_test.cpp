// The diagnostic log file beside the library: its bytes, its first lines, when it is empty and
// when it is truncated.
#include <fstream>

#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

const std::string kPage =
    kHtmlSource + "<title>logged</title>" + SplitPageHtml({0, 0, 255}, {0, 0, 255});

class LogFile : public E2ETest {
 protected:
  // Loads the page and waits until it is shown, so the engine has done real work.
  void LoadAndShowPage() {
    buffer_ = &NewBuffer(48, 32);
    Load(*buffer_, kPage);
    ASSERT_TRUE(host().WaitForTitle("logged"));
    ASSERT_TRUE(WaitForView(*buffer_, 0, {{0, 0, {0, 0, 255}}, {47, 31, {0, 0, 255}}}, "the page"));
  }

  // LoadWeb on the live browser: only the URL counts.
  void LoadAgain(const std::string& url) {
    lib().LoadWeb(0, 0, buffer_->width(), buffer_->height(), buffer_->data(), url.c_str(), 0,
                  "en-US");
  }

  void WriteJunk() {
    std::ofstream out(lib().log_path(), std::ios::binary);
    for (int i = 0; i < 500; ++i) out << "junk from an earlier run\r\n";
  }

  uintmax_t LogSize() { return std::filesystem::file_size(lib().log_path()); }

  PixelBuffer* buffer_ = nullptr;
};

// How a test leaves the switch before the first LoadWeb; none of these turns logging on.
struct OffCase {
  const char* name;
  friend void PrintTo(const OffCase& c, std::ostream* os) { *os << c.name; }
  void (*set)(LibraryCopy&);
};

class LogFileOff : public LogFile, public ::testing::WithParamInterface<OffCase> {};

TEST_P(LogFileOff, ExistsAndStaysEmpty) {
  GetParam().set(lib());
  LoadAndShowPage();
  ASSERT_TRUE(std::filesystem::exists(lib().log_path())) << "LoadWeb did not create the log file";
  EXPECT_EQ(LogSize(), 0u) << "first line: " << (LogLines().empty() ? "" : LogLines().front());
  Shutdown();
  EXPECT_EQ(LogSize(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Switch, LogFileOff,
    ::testing::Values(OffCase{"NeverSet", [](LibraryCopy&) {}},
                      OffCase{"SetToZero", [](LibraryCopy& l) { l.SetDebugEnable(false); }},
                      // Only the byte 1 turns logging on.
                      OffCase{"SetToTwo", [](LibraryCopy& l) { l.SetDebugEnableByte(2); }},
                      OffCase{"SetToOneThenZero",
                              [](LibraryCopy& l) {
                                l.SetDebugEnable(true);
                                l.SetDebugEnable(false);
                              }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogFile, IsUtf16WithCrLfAndBeginsWithItsOwnCreation) {
  lib().SetDebugEnable(true);
  LoadAndShowPage();
  // A URL with characters outside ASCII and outside the basic plane, logged as given.
  const std::string url =
      kHtmlSource + "<title>gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80</title>";
  LoadAgain(url);
  ASSERT_TRUE(host().WaitForTitle("gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80"));
  Shutdown();

  const auto bytes = ReadFileBytes(lib().log_path());
  ASSERT_TRUE(bytes.has_value());
  ASSERT_GE(bytes->size(), 4u);
  EXPECT_EQ(bytes->size() % 2, 0u) << "odd number of bytes in a UTF-16 file";
  EXPECT_FALSE((*bytes)[0] == 0xFF && (*bytes)[1] == 0xFE)
      << "the file starts with a byte-order mark";
  EXPECT_EQ((*bytes)[0], 'C');
  EXPECT_EQ((*bytes)[1], 0) << "not little-endian UTF-16";

  const std::vector<char16_t> units = CodeUnits(*bytes);
  size_t bare_cr = 0, bare_lf = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    if (units[i] == u'\r' && (i + 1 == units.size() || units[i + 1] != u'\n')) ++bare_cr;
    if (units[i] == u'\n' && (i == 0 || units[i - 1] != u'\r')) ++bare_lf;
  }
  EXPECT_EQ(bare_cr, 0u) << "carriage returns not followed by a line feed";
  EXPECT_EQ(bare_lf, 0u) << "line feeds without a carriage return";
  ASSERT_GE(units.size(), 2u);
  EXPECT_TRUE(units[units.size() - 2] == u'\r' && units.back() == u'\n')
      << "the last line does not end with CR LF";

  const auto lines = LogLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "CreateLogFile end");
  // The library found itself: the copy this test loaded, not the build tree's file.
  const std::string dir = lib().directory().string();
  EXPECT_EQ(lines[1], "=> module path : " + dir + "/libquillo.so");
  EXPECT_EQ(lines[2], "=> module directory : " + dir);
  EXPECT_EQ(lines[3], "=> log file path : " + dir + "/tavlo_cef.log");
  // The module lookup runs before the file is open, so its lines never reach the file.
  EXPECT_FALSE(AnyLineContains(lines, "CWebController::CheckModuleDirectory"));
  EXPECT_FALSE(AnyLineContains(lines, "=> module log file path"));
  EXPECT_TRUE(AnyLineContains(lines, "CWebClient::LoadUrl [" + url + "]"))
      << "the URL of the second LoadWeb is not logged intact";
}

struct TruncateCase {
  const char* name;
  friend void PrintTo(const TruncateCase& c, std::ostream* os) { *os << c.name; }
  bool logging;
};

class LogFileTruncate : public LogFile, public ::testing::WithParamInterface<TruncateCase> {};

// The file of an earlier run is replaced when the library starts in a new process.
TEST_P(LogFileTruncate, EarlierContentIsGone) {
  WriteJunk();
  ASSERT_GT(LogSize(), 0u);
  lib().SetDebugEnable(GetParam().logging);
  LoadAndShowPage();
  const auto bytes = ReadFileBytes(lib().log_path());
  ASSERT_TRUE(bytes.has_value());
  const std::string text(bytes->begin(), bytes->end());
  EXPECT_EQ(text.find("junk"), std::string::npos) << "the earlier content is still in the file";
  if (GetParam().logging) {
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "CreateLogFile end");
  } else {
    EXPECT_EQ(bytes->size(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Start, LogFileTruncate,
                         ::testing::Values(TruncateCase{"LoggingOn", true},
                                           TruncateCase{"LoggingOff", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The switch takes effect at the next line, also while the engine runs.
TEST_F(LogFile, SwitchTakesEffectWhileRunning) {
  LoadAndShowPage();
  ASSERT_EQ(LogSize(), 0u);

  lib().SetDebugEnable(true);
  LoadAgain(kPage);
  const size_t on = CountLinesContaining(LogLines(), "CWebController::LoadWeb");
  EXPECT_EQ(on, 1u) << "LoadWeb did not log once logging was switched on";

  lib().SetDebugEnable(false);
  LoadAgain(kPage);
  EXPECT_EQ(CountLinesContaining(LogLines(), "CWebController::LoadWeb"), on)
      << "LoadWeb logged after logging was switched off";
}

}  // namespace
}  // namespace quillo_test
