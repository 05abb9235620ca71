// Host-served resources read in parts, and a page that asks for more than its host answers, end
// to end. A page fetches a table of Range headers from three resources, each answered its own
// way: whole with quillo_view_respond (the library cuts the part), with quillo_view_respond_range
// from memory, and with quillo_view_respond_range's head and then the part in pieces over later
// pumps; the page reports what it got (status, Content-Range, Content-Length, Accept-Ranges,
// body) and the test compares it with what an HTTP server answers. A second page asks for many
// more URLs than a view keeps open: the host answers none, the page's surplus fails at once, the
// log says so, and a navigation away ends the open ones.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "support/views_fixture.h"

namespace quillo_test {
namespace {

// The resource every range is cut from: 100 bytes, no two neighbours alike.
std::string Resource() {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += char('A' + (i * 7) % 26);
  return bytes;
}

struct RangeCase {
  const char* range;  // the Range header the page sends; null: none
  bool ifRange;       // with an If-Range header
  int status;         // what an HTTP server answers for a 100-byte resource
  const char* contentRange;
  int first, count;  // the body: count bytes from first
};

const RangeCase kCases[] = {
    {nullptr, false, 200, "", 0, 100},
    {"bytes=0-9", false, 206, "bytes 0-9/100", 0, 10},
    {"bytes=90-", false, 206, "bytes 90-99/100", 90, 10},
    {"bytes=-7", false, 206, "bytes 93-99/100", 93, 7},
    {"bytes=95-200", false, 206, "bytes 95-99/100", 95, 5},
    {"bytes=5-5", false, 206, "bytes 5-5/100", 5, 1},
    {"bytes=-500", false, 206, "bytes 0-99/100", 0, 100},
    {"Bytes=10-19", false, 206, "bytes 10-19/100", 10, 10},
    {"bytes=100-", false, 416, "bytes */100", 0, 0},
    {"bytes=-0", false, 416, "bytes */100", 0, 0},
    {"bytes=0-1,5-6", false, 200, "", 0, 100},  // several ranges: the whole
    {"items=0-5", false, 200, "", 0, 100},      // another unit
    {"bytes=9-3", false, 200, "", 0, 100},      // not a range
    {"bytes=x-", false, 200, "", 0, 100},
    {"bytes=10-19", true, 200, "", 0, 100},  // If-Range: no validator to compare with
};

// The three ways the host answers, by the resource's name.
const char* const kResources[] = {"whole.txt", "memory.txt", "pieces.txt"};

std::string JsString(const char* text) {
  return text == nullptr ? "null" : std::string("'") + text + "'";
}

// A page that fetches every case from every resource in turn and posts what it got, as JSON.
std::string RangePage() {
  std::string cases = "[";
  for (const char* resource : kResources)
    for (const RangeCase& c : kCases)
      cases += std::string("['") + resource + "'," + JsString(c.range) + "," +
               (c.ifRange ? "true" : "false") + "],";
  cases += "]";
  return "<!doctype html><script>(async () => {\n"
         "  const out = [];\n"
         "  for (const [name, range, ifRange] of " +
         cases +
         ") {\n"
         "    const headers = {};\n"
         "    if (range !== null) headers['Range'] = range;\n"
         "    if (ifRange) headers['If-Range'] = 'Wed, 21 Oct 2015 07:28:00 GMT';\n"
         "    try {\n"
         "      const r = await fetch(name, {headers});\n"
         "      const h = k => r.headers.get(k) || '';\n"
         "      out.push([r.status, h('content-range'), h('content-length'),"
         " h('accept-ranges'), await r.text()]);\n"
         "    } catch (e) { out.push([0, String(e), '', '', '']); }\n"
         "  }\n"
         "  quilloPost(JSON.stringify(out));\n"
         "})();</script>";
}

// The JSON array the page posts for one case.
std::string Expected(const RangeCase& c, const std::string& resource) {
  return "[" + std::to_string(c.status) + ",\"" + c.contentRange + "\",\"" +
         std::to_string(c.count) + "\",\"bytes\",\"" +
         resource.substr(size_t(c.first), size_t(c.count)) + "\"]";
}

TEST_F(ViewsTest, RangesOfHostServedFilesAreAnsweredAsByAWebServer) {
  ASSERT_EQ(api().quillo_register_scheme("app"), QUILLO_OK);
  ViewMemory& m = NewMemory(64, 64);
  quillo_view* view = host().Create(ViewsHost::ConfigFor(m), "app://game/ranges.html");
  ASSERT_TRUE(view);
  const std::string resource = Resource(), page = RangePage();

  // Requests answered with a head whose body goes out three bytes a pump.
  struct Pieces {
    uint64_t id, next, end;
  };
  std::vector<Pieces> pieces;
  std::vector<std::string> ranges;  // the Range header of each resource request, as the host saw it
  size_t read = 0, caseIndex = 0;
  bool checkedCareless = false;
  auto serve = [&] {
    const std::vector<ViewNotice>& notices = host().Notices(view);
    for (; read < notices.size(); ++read) {
      const ViewNotice& n = notices[read];
      if (n.kind != QUILLO_NOTICE_REQUEST) continue;
      if (n.text == "app://game/ranges.html") {
        EXPECT_EQ(
            api().quillo_view_respond(view, n.id, 200, "text/html", page.data(), page.size(), 1),
            QUILLO_OK);
        continue;
      }
      // The requests come in the page's order, each with the headers the page gave it.
      const size_t count = std::size(kCases);
      ASSERT_LT(caseIndex, count * std::size(kResources)) << n.text;
      const RangeCase& c = kCases[caseIndex % count];
      const std::string name = kResources[caseIndex / count];
      ++caseIndex;
      EXPECT_EQ(n.text, "app://game/" + name);
      const std::string line = c.range ? std::string("Range: ") + c.range + "\n" : "";
      if (c.range)
        EXPECT_NE(n.headers.find(line), std::string::npos) << n.headers;
      else
        EXPECT_EQ(n.headers.find("Range:"), std::string::npos) << n.headers;
      EXPECT_EQ(n.headers.empty() || n.headers.back() == '\n', true) << n.headers;
      uint64_t first = 7, length = 7;
      if (name == "whole.txt") {
        EXPECT_EQ(api().quillo_view_respond(view, n.id, 200, "text/plain", resource.data(),
                                            resource.size(), 1),
                  QUILLO_OK);
      } else if (name == "memory.txt") {
        EXPECT_EQ(api().quillo_view_respond_range(view, n.id, "text/plain", resource.data(),
                                                  resource.size(), &first, &length),
                  QUILLO_OK);
      } else {
        EXPECT_EQ(api().quillo_view_respond_range(view, n.id, "text/plain", nullptr,
                                                  resource.size(), &first, &length),
                  QUILLO_OK);
        if (length > 0) pieces.push_back({n.id, first, first + length});
      }
      if (name != "whole.txt") {
        EXPECT_EQ(int(first), c.first) << c.range;
        EXPECT_EQ(int(length), c.count) << c.range;
        EXPECT_EQ(
            api().quillo_view_respond_range(view, n.id, "text/plain", nullptr, 100, nullptr,
                                            nullptr),
            length > 0 && name == "pieces.txt" ? QUILLO_ERROR_BAD_ARGUMENT : QUILLO_ERROR_NOT_FOUND)
            << "a second ranged answer, or one to an ended request";
      }
    }
    for (auto it = pieces.begin(); it != pieces.end();) {
      if (!checkedCareless && it->end - it->next > 3) {
        // More than the head promised is refused, and changes nothing.
        checkedCareless = true;
        EXPECT_EQ(api().quillo_view_respond(view, it->id, 0, nullptr, resource.data(),
                                            it->end - it->next + 1, 1),
                  QUILLO_ERROR_BAD_ARGUMENT);
      }
      const uint64_t size = std::min<uint64_t>(3, it->end - it->next);
      const bool done = it->next + size == it->end;
      EXPECT_EQ(api().quillo_view_respond(view, it->id, 0, nullptr, resource.data() + it->next,
                                          size, done ? 1 : 0),
                QUILLO_OK);
      it->next += size;
      it = done ? pieces.erase(it) : it + 1;
    }
  };
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return host().Find(view, QUILLO_NOTICE_MESSAGE) >= 0;
      },
      "the page's report of every range"));
  EXPECT_TRUE(checkedCareless);

  std::string expected = "[";
  for (size_t r = 0; r < std::size(kResources); ++r)
    for (const RangeCase& c : kCases) expected += Expected(c, resource) + ",";
  expected.back() = ']';
  const ViewNotice& report = host().Notices(view)[host().Find(view, QUILLO_NOTICE_MESSAGE)];
  // Case by case, for a readable failure.
  size_t from = 1;
  for (const char* name : kResources)
    for (const RangeCase& c : kCases) {
      const std::string want = Expected(c, resource);
      const size_t at = report.text.find("]", from);
      ASSERT_NE(at, std::string::npos);
      EXPECT_EQ(report.text.substr(from, at + 1 - from), want)
          << name << " with " << (c.range ? c.range : "no Range") << (c.ifRange ? " If-Range" : "");
      from = at + 2;
    }
  EXPECT_EQ(report.text, expected);
  EXPECT_TRUE(m.Intact());

  // A host built before notices had headers takes its REQUEST without them: nothing is written
  // past the size it knows.
  quillo_view* old = nullptr;
  quillo_view_config config = ViewsHost::ConfigFor(NewMemory(16, 16));
  ASSERT_EQ(api().quillo_view_create(&config, "app://game/old.html", &old), QUILLO_OK);
  const char* const untouched = "untouched";
  quillo_notice n = quillo_notice_init();
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        n = quillo_notice_init();
        n.size = offsetof(quillo_notice, headers);
        n.headers = untouched;
        while (api().quillo_view_next_notice(old, &n) == 1)
          if (n.kind == QUILLO_NOTICE_REQUEST) return true;
        return false;
      },
      "a request read with the first notice's size"));
  EXPECT_EQ(std::string(n.text), "app://game/old.html");
  EXPECT_EQ(n.headers, untouched);
  EXPECT_EQ(api().quillo_view_respond(old, n.id, 200, "text/html", "<p>", 3, 1), QUILLO_OK);
  n.size = offsetof(quillo_notice, detail);
  EXPECT_EQ(api().quillo_view_next_notice(old, &n), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_destroy(old), QUILLO_OK);
}

// Encodes a file with GStreamer's command-line tool into dir, from the muxer's pipeline and the
// sources' branches; "" when that fails.
std::string Encode(const std::filesystem::path& dir, const std::string& muxer,
                   const std::string& sources) {
  const std::filesystem::path out = dir / "movie.webm";
  const std::string command = "gst-launch-1.0 -q " + muxer +
                              " ! filesink location=" + out.string() + " " + sources +
                              " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "";
  std::ifstream in(out, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A <video> of an app: URL: the engine's player reads it through the library, each read a
// REQUEST with a Range; seeking to a later time asks for the file from a later byte, answered
// 206, and the frame there reaches the host's memory.
TEST_F(ViewsTest, AHostServedVideoSeeksByRangeRequests) {
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("quillo-range-" + std::to_string(getpid()));
  std::filesystem::create_directories(scratch);
  // Three seconds of red, then three of green, a key frame every third of a second.
  const std::string movie =
      Encode(scratch, "concat name=c ! vp8enc keyframe-max-dist=10 ! webmmux",
             "videotestsrc num-buffers=90 pattern=solid-color foreground-color=0xffff0000 ! "
             "video/x-raw,width=160,height=120,framerate=30/1 ! c. "
             "videotestsrc num-buffers=90 pattern=solid-color foreground-color=0xff00ff00 ! "
             "video/x-raw,width=160,height=120,framerate=30/1 ! c.");
  std::filesystem::remove_all(scratch);
  ASSERT_FALSE(movie.empty()) << "gst-launch-1.0 could not encode WebM (./run installs it)";
  ASSERT_EQ(api().quillo_register_scheme("app"), QUILLO_OK);
  ViewMemory& m = NewMemory(160, 120);
  quillo_view* view = host().Create(ViewsHost::ConfigFor(m), "app://game/video.html");
  ASSERT_TRUE(view);
  const std::string page =
      "<!doctype html><style>html,body{margin:0;background:#00f;overflow:hidden}"
      "video{position:fixed;left:0;top:0;width:100%;height:100%;object-fit:fill}</style>"
      "<video muted preload=auto src='movie.webm'></video><script>"
      "const m = document.querySelector('video');"
      "m.addEventListener('loadeddata', () => document.title = 'loaded ' + m.duration,"
      " {once: true});"
      "m.addEventListener('seeked', () => document.title = 'seeked ' + m.currentTime);"
      "m.addEventListener('error', () => document.title = 'error ' + (m.error && m.error.code));"
      "</script>";

  struct Read {
    uint64_t id;
    std::string range;      // the request's Range header
    uint64_t first, count;  // the part the library worked out
    uint64_t sent;
    bool ended;
  };
  std::vector<Read> reads;
  size_t read = 0;
  auto serve = [&] {
    const std::vector<ViewNotice>& notices = host().Notices(view);
    for (; read < notices.size(); ++read) {
      const ViewNotice& n = notices[read];
      if (n.kind == QUILLO_NOTICE_REQUEST_ENDED)
        for (Read& r : reads)
          if (r.id == n.id) r.ended = true;
      if (n.kind != QUILLO_NOTICE_REQUEST) continue;
      if (n.text == "app://game/video.html") {
        EXPECT_EQ(
            api().quillo_view_respond(view, n.id, 200, "text/html", page.data(), page.size(), 1),
            QUILLO_OK);
        continue;
      }
      ASSERT_EQ(n.text, "app://game/movie.webm");
      const size_t at = n.headers.find("Range: ");
      ASSERT_NE(at, std::string::npos) << "the player's read without a Range: " << n.headers;
      Read r{n.id, n.headers.substr(at + 7, n.headers.find('\n', at) - at - 7), 0, 0, 0, false};
      if (reads.empty()) {
        // The first read answered whole: the library cuts the part.
        EXPECT_EQ(
            api().quillo_view_respond(view, n.id, 200, "video/webm", movie.data(), movie.size(), 1),
            QUILLO_OK);
        r.ended = true;
      } else {
        // The others from the part's head on, a kilobyte a pump.
        EXPECT_EQ(api().quillo_view_respond_range(view, n.id, "video/webm", nullptr, movie.size(),
                                                  &r.first, &r.count),
                  QUILLO_OK);
      }
      reads.push_back(r);
    }
    for (Read& r : reads) {
      if (r.ended || r.sent == r.count) continue;
      const uint64_t size = std::min<uint64_t>(1024, r.count - r.sent);
      const int result =
          api().quillo_view_respond(view, r.id, 0, nullptr, movie.data() + r.first + r.sent, size,
                                    r.sent + size == r.count ? 1 : 0);
      // A read the player let go of is refused until its notice comes.
      EXPECT_TRUE(result == QUILLO_OK || result == QUILLO_ERROR_NOT_FOUND) << result;
      if (result == QUILLO_OK) r.sent += size;
    }
  };
  auto titled = [&](const std::string& prefix) {
    for (const ViewNotice& n : host().Notices(view))
      if (n.kind == QUILLO_NOTICE_TITLE && n.text.rfind(prefix, 0) == 0) return true;
    return false;
  };
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return titled("loaded") || titled("error");
      },
      "the video's first frame"));
  ASSERT_TRUE(titled("loaded 6")) << host().Recent(view);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0].range, "bytes=0-");
  const std::array<uint8_t, 4> red{255, 0, 0, 255}, green{0, 255, 0, 255};
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return NearRgba(m.Rgba(80, 60), red, 40);
      },
      "the red first frame"))
      << DescribeRgba(m.Rgba(80, 60));

  const size_t before = reads.size();
  ASSERT_EQ(api().quillo_view_eval(view, "document.querySelector('video').currentTime = 4.5", 1),
            QUILLO_OK);
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return titled("seeked") || titled("error");
      },
      "the video seeking"));
  ASSERT_TRUE(titled("seeked 4.5")) << host().Recent(view);
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return NearRgba(m.Rgba(80, 60), green, 40);
      },
      "the green frame four and a half seconds in"))
      << DescribeRgba(m.Rgba(80, 60));

  // The seek read the file from a later byte on, answered 206 with that part; nothing asked
  // for the whole file again.
  ASSERT_GT(reads.size(), before) << "the seek asked for nothing";
  for (size_t i = before; i < reads.size(); ++i) {
    const Read& r = reads[i];
    EXPECT_NE(r.range, "bytes=0-");
    EXPECT_EQ(r.range, "bytes=" + std::to_string(r.first) + "-");
    EXPECT_EQ(r.first + r.count, movie.size()) << r.range;
  }
  // The frame 4.5 s in lies in the second half of the file.
  EXPECT_GT(reads.back().first, movie.size() / 2) << reads.back().range;
  EXPECT_TRUE(m.Intact());
}

// The flood: kFlood fetches of URLs the host never answers.
constexpr int kFlood = 3000;

TEST_F(ViewsTest, APageAskingMoreThanItsHostAnswersIsCappedAndItsRequestsEndWithIt) {
  ASSERT_EQ(api().quillo_register_scheme("app"), QUILLO_OK);
  ViewMemory& m = NewMemory(64, 64);
  quillo_view* view = host().Create(ViewsHost::ConfigFor(m), "app://game/flood.html");
  ASSERT_TRUE(view);
  const int refusals = kFlood - QUILLO_MAX_OPEN_REQUESTS;
  const std::string flood =
      "<!doctype html><script>let failed = 0;\n"
      "for (let i = 0; i < " +
      std::to_string(kFlood) +
      "; i++)\n"
      "  fetch('hang/' + i).then(() => quilloPost('answered ' + i), () => {\n"
      "    if (++failed == " +
      std::to_string(refusals) +
      ") quilloPost('failed ' + failed);\n"
      "  });\n"
      "</script>";
  const std::string after = "<!doctype html><title>after</title>";
  std::vector<uint64_t> hanging;  // requests of hang/ URLs, in order
  size_t read = 0;
  auto serve = [&] {
    const std::vector<ViewNotice>& notices = host().Notices(view);
    for (; read < notices.size(); ++read) {
      const ViewNotice& n = notices[read];
      if (n.kind != QUILLO_NOTICE_REQUEST) continue;
      if (n.text.find("/hang/") != std::string::npos) {
        hanging.push_back(n.id);
        continue;
      }
      const std::string& body = n.text == "app://game/flood.html" ? flood : after;
      EXPECT_EQ(
          api().quillo_view_respond(view, n.id, 200, "text/html", body.data(), body.size(), 1),
          QUILLO_OK);
    }
  };
  const std::string failed = "failed " + std::to_string(refusals);
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return host().Find(view, QUILLO_NOTICE_MESSAGE, &failed) >= 0;
      },
      "the page's requests past the cap failing"));
  host().PumpFor(std::chrono::milliseconds(200));
  serve();
  // Exactly as many reached the host as a view keeps open; the rest failed in the page.
  EXPECT_EQ(hanging.size(), size_t(QUILLO_MAX_OPEN_REQUESTS));
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) {
                            return line.find("requests open, none ended by the host") !=
                                   std::string::npos;
                          }),
            1)
      << "one log line for the refusals";

  // The host ends some: once half are ended the view takes requests again, and says how many it
  // refused. One gets a piece of its answer and is left open.
  const size_t answered = QUILLO_MAX_OPEN_REQUESTS / 2 + 1;
  for (size_t i = 0; i < answered; ++i)
    ASSERT_EQ(api().quillo_view_respond(view, hanging[i], 200, "text/plain", "x", 1, 1), QUILLO_OK);
  ASSERT_EQ(api().quillo_view_respond(view, hanging[answered], 200, "text/plain", "y", 1, 0),
            QUILLO_OK);
  const std::string again = "takes requests again; " + std::to_string(refusals) + " were refused";
  ASSERT_TRUE(host().PumpUntil([&] { return Logged(again); }, "the view taking requests again"));

  // The page goes: every request still open ends at once, the partly answered one too, and the
  // host hears of each; none of those it ended itself.
  const size_t before = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_load_url(view, "app://game/after.html"), QUILLO_OK);
  const std::set<uint64_t> open(hanging.begin() + long(answered), hanging.end());
  std::set<uint64_t> ended;
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        const std::vector<ViewNotice>& notices = host().Notices(view);
        for (size_t i = before; i < notices.size(); ++i)
          if (notices[i].kind == QUILLO_NOTICE_REQUEST_ENDED) ended.insert(notices[i].id);
        return ended.size() >= open.size();
      },
      "the open requests ending with their page"));
  host().PumpFor(std::chrono::milliseconds(200));
  for (size_t i = before; i < host().Notices(view).size(); ++i)
    if (host().Notices(view)[i].kind == QUILLO_NOTICE_REQUEST_ENDED)
      ended.insert(host().Notices(view)[i].id);
  EXPECT_EQ(ended, open);
  // An ended request takes no answer.
  EXPECT_EQ(api().quillo_view_respond(view, hanging.back(), 200, nullptr, "z", 1, 1),
            QUILLO_ERROR_NOT_FOUND);
  EXPECT_EQ(
      api().quillo_view_respond_range(view, hanging.back(), nullptr, "z", 1, nullptr, nullptr),
      QUILLO_ERROR_NOT_FOUND);
  const std::string title = "after";
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        serve();
        return host().Find(view, QUILLO_NOTICE_TITLE, &title) >= 0;
      },
      "the next page"));
  EXPECT_TRUE(m.Intact());
}

}  // namespace
}  // namespace quillo_test
