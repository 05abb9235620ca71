// What real pages use and how the library answers: media that plays (or fails with an error
// event when the engine's media plugins are missing), HTTP authentication, file inputs,
// permission and fullscreen requests, copy and paste inside the page, and fonts for the
// scripts people read.
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "support/e2e_fixture.h"
#include "support/keyboard.h"
#include "support/log_file.h"
#include "support/waits.h"

namespace quillo_test {
namespace {

namespace fs = std::filesystem;

// The first title that starts with prefix, from notice index `from` on ("" when none came).
std::string TitleStartingWith(const Host& host, const std::string& prefix, size_t from = 0) {
  for (const auto& t : host.Texts(UPDATE_TITLE, from)) {
    if (t.rfind(prefix, 0) == 0) return t;
  }
  return "";
}

::testing::AssertionResult WaitForTitlePrefix(Host& host, const std::string& prefix,
                                              size_t from = 0) {
  return host.PollUntil([&] { return !TitleStartingWith(host, prefix, from).empty(); },
                        "a title starting with \"" + prefix + "\"");
}

size_t CountLinesWith(const std::vector<std::string>& lines, const std::string& part) {
  size_t n = 0;
  for (const auto& line : lines) n += line.find(part) != std::string::npos;
  return n;
}

// ---- media ----------------------------------------------------------------------------------

// One second of a 440 Hz tone: 16-bit mono PCM at 8 kHz in a RIFF/WAVE file.
std::string ToneWav() {
  constexpr int kRate = 8000, kSamples = 8000;
  auto le = [](std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
  };
  std::string wav = "RIFF";
  le(wav, 36 + kSamples * 2, 4);
  wav += "WAVEfmt ";
  le(wav, 16, 4);
  le(wav, 1, 2);  // PCM
  le(wav, 1, 2);  // mono
  le(wav, kRate, 4);
  le(wav, kRate * 2, 4);
  le(wav, 2, 2);
  le(wav, 16, 2);
  wav += "data";
  le(wav, kSamples * 2, 4);
  for (int i = 0; i < kSamples; ++i) {
    const auto s = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * i / kRate));
    le(wav, static_cast<uint16_t>(s), 2);
  }
  return wav;
}

// Encodes a file with GStreamer's command-line tool; "" when that fails.
std::string Encode(const fs::path& dir, const std::string& name, const std::string& pipeline) {
  const fs::path out = dir / name;
  const std::string command =
      "gst-launch-1.0 -q " + pipeline + " ! filesink location=" + out.string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "";
  std::ifstream in(out, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Media : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    scratch_ = fs::temp_directory_path() / ("quillo-media-" + std::to_string(getpid()));
    fs::create_directories(scratch_);
  }
  void TearDown() override {
    E2ETest::TearDown();
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  // A page whose media element reports through the title: "<tag>:canplay", then
  // "<tag>:playing" once its time has passed 0.3 s, or "<tag>:error:<code>".
  static std::string MediaPage(const std::string& element) {
    return "<!DOCTYPE html><style>html,body{margin:0;background:#0000ff;overflow:hidden}"
           "video{position:fixed;left:0;top:0;width:100%;height:100%;object-fit:fill}</style>" +
           element +
           "<script>"
           "const m = document.querySelector('audio,video'), tag = m.localName;"
           "m.addEventListener('canplay', () => {"
           "  if (!document.title.startsWith(tag)) document.title = tag + ':canplay';"
           "  m.play().catch(e => document.title = tag + ':play:' + e.name);"
           "}, {once: true});"
           "m.addEventListener('timeupdate', () => {"
           "  if (m.currentTime > 0.3) document.title = tag + ':playing';"
           "});"
           "m.addEventListener('error', () => document.title = tag + ':error:' +"
           "  (m.error ? m.error.code : 0));"
           "</script>";
  }

  fs::path scratch_;
};

TEST_F(Media, WavAndOggAudioPlayWithoutASoundDevice) {
  const std::string ogg = Encode(scratch_, "tone.ogg",
                                 "audiotestsrc num-buffers=40 ! audioconvert ! vorbisenc ! oggmux");
  ASSERT_FALSE(ogg.empty()) << "gst-launch-1.0 could not encode Ogg Vorbis (./run installs it)";
  HttpServer& http = server();
  http.Serve("/tone.wav", {200, {{"Content-Type", "audio/wav"}}, ToneWav()});
  http.Serve("/tone.ogg", {200, {{"Content-Type", "audio/ogg"}}, ogg});
  http.Serve("/wav", HtmlResponse(MediaPage("<audio src=\"/tone.wav\"></audio>")));
  http.Serve("/ogg", HtmlResponse(MediaPage("<audio src=\"/tone.ogg\"></audio>")));

  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(160, 120);
  size_t from = 0;
  for (const char* page : {"/wav", "/ogg"}) {
    Load(buffer, http.Url(page));
    ASSERT_TRUE(host().PollUntil(
        [&] {
          const std::string t = TitleStartingWith(host(), "audio:playing", from);
          return !t.empty() || !TitleStartingWith(host(), "audio:error", from).empty();
        },
        std::string("the audio of ") + page + " playing"));
    EXPECT_EQ(TitleStartingWith(host(), "audio:error", from), "") << page;
    EXPECT_NE(TitleStartingWith(host(), "audio:canplay", from), "") << page;
    from = host().notices().size();
  }
  EXPECT_EQ(CountLinesWith(LogLines(), "OnWebProcessTerminated"), 0u);
}

TEST_F(Media, WebmVideoFramesReachTheHostsMemory) {
  // Half a second of solid green, VP8 in WebM, made here.
  const std::string webm =
      Encode(scratch_, "green.webm",
             "videotestsrc num-buffers=60 pattern=solid-color foreground-color=0xff00c000 ! "
             "video/x-raw,width=160,height=120,framerate=30/1 ! vp8enc ! webmmux");
  ASSERT_FALSE(webm.empty()) << "gst-launch-1.0 could not encode WebM (./run installs it)";
  HttpServer& http = server();
  http.Serve("/green.webm", {200, {{"Content-Type", "video/webm"}}, webm});
  http.Serve("/video", HtmlResponse(MediaPage("<video muted loop src=\"/green.webm\"></video>")));

  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(160, 120);
  Load(buffer, http.Url("/video"));
  ASSERT_TRUE(host().PollUntil(
      [&] {
        return !TitleStartingWith(host(), "video:playing").empty() ||
               !TitleStartingWith(host(), "video:error").empty();
      },
      "the video playing"));
  ASSERT_EQ(TitleStartingWith(host(), "video:error"), "");
  // The page is blue; the video's green covers it once its frames are painted.
  const Rgb green{0, 192, 0};
  std::vector<ViewProbe> probes{{80, 60, green}, {20, 20, green}, {140, 100, green}};
  ASSERT_TRUE(host().PollUntil([&] { return ProbesMatch(buffer, 0, probes, 40); },
                               "video frames in the host's memory"))
      << DescribeProbes(buffer, 0, probes);
  EXPECT_EQ(CountLinesWith(LogLines(), "OnWebProcessTerminated"), 0u);
}

// GStreamer's plugins as this machine has them, less the files given.
struct HiddenPluginsCase {
  const char* name;
  friend void PrintTo(const HiddenPluginsCase& c, std::ostream* os) { *os << c.name; }
  std::set<std::string> hidden;  // plugin file names; empty: every plugin
};

class MissingPlugins : public Media, public ::testing::WithParamInterface<HiddenPluginsCase> {};

// With some of the engine's media plugins out of sight the web process would crash on the
// first media source; media is turned off instead, the page lives on, and the log says why.
TEST_P(MissingPlugins, MediaIsTurnedOffAndThePageLives) {
  const fs::path system_dir = "/usr/lib/" QUILLO_TEST_MULTIARCH "/gstreamer-1.0";
  const fs::path visible = scratch_ / "plugins";
  fs::create_directories(visible);
  if (!GetParam().hidden.empty()) {
    ASSERT_TRUE(fs::exists(system_dir / "libgstautodetect.so")) << system_dir;
    for (const auto& entry : fs::directory_iterator(system_dir)) {
      if (!GetParam().hidden.count(entry.path().filename().string()))
        fs::create_symlink(entry.path(), visible / entry.path().filename());
    }
  }
  // Read by GStreamer in this process and in the web process, which inherits the environment.
  setenv("GST_PLUGIN_SYSTEM_PATH_1_0", visible.c_str(), 1);
  setenv("GST_PLUGIN_PATH_1_0", visible.c_str(), 1);
  setenv("GST_REGISTRY_1_0", (scratch_ / "registry.bin").c_str(), 1);
  HttpServer& http = server();
  http.Serve("/tone.wav", {200, {{"Content-Type", "audio/wav"}}, ToneWav()});
  http.Serve("/audio", HtmlResponse("<title>loaded</title><audio autoplay src=\"/tone.wav\">"
                                    "</audio><video autoplay src=\"/tone.wav\"></video>"));

  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(160, 120);
  for (int round = 0; round < 2; ++round) {  // a reload must not crash either
    const size_t from = host().notices().size();
    Load(buffer, http.Url("/audio"));
    ASSERT_TRUE(host().WaitForTitle("loaded", from)) << "round " << round;
    ASSERT_TRUE(IdlePolls(host(), 1000)) << "round " << round;
  }
  // The page's script still runs; media elements have no player.
  lib().ExecuteJavaScript(
      "document.title = 'alive:' + typeof document.querySelector('audio').play");
  ASSERT_TRUE(host().WaitForTitle("alive:undefined"));
  const auto lines = LogLines();
  EXPECT_EQ(CountLinesWith(lines, "OnWebProcessTerminated"), 0u);
  EXPECT_EQ(CountLinesWith(lines, "media turned off"), 1u);
  for (const auto& n : host().notices()) EXPECT_FALSE(n.bits & UPDATE_LOAD_ERROR) << Describe(n);
}

INSTANTIATE_TEST_SUITE_P(
    Hidden, MissingPlugins,
    ::testing::Values(HiddenPluginsCase{"All", {}},
                      // Base installed, good not: the automatic audio output is missing.
                      HiddenPluginsCase{"AutoAudioSink", {"libgstautodetect.so"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- HTTP authentication --------------------------------------------------------------------

HttpResponse Unauthorized() {
  return {401,
          {{"Content-Type", "text/html"}, {"WWW-Authenticate", "Basic realm=\"quillo test\""}},
          "<title>server says 401</title><p>no entry</p>"};
}

class Authentication : public E2ETest {};

TEST_F(Authentication, ChallengesAreRefusedAtOnceAndThePageGetsThe401) {
  HttpServer& http = server();
  http.Serve("/secret", Unauthorized());
  http.Serve("/secret.png", Unauthorized());
  http.Serve("/data", Unauthorized());
  http.Serve("/page", HtmlResponse("<title>page</title><script>"
                                   "const results = [];"
                                   "const done = r => { results.push(r);"
                                   "  if (results.length == 2) document.title = "
                                   "    'sub:' + results.sort().join(','); };"
                                   "fetch('/data').then(r => done('fetch' + r.status),"
                                   "  e => done('fetch-failed'));"
                                   "const img = new Image();"
                                   "img.onload = () => done('img-loaded');"
                                   "img.onerror = () => done('img-error');"
                                   "img.src = '/secret.png';"
                                   "</script>"));
  lib().SetDebugEnable(true);
  PixelBuffer& buffer = NewBuffer(160, 120);

  // Main frame: the server's own 401 page, with its title.
  Load(buffer, http.Url("/secret"));
  ASSERT_TRUE(host().WaitForTitle("server says 401"));
  for (const auto& n : host().notices()) EXPECT_FALSE(n.bits & UPDATE_LOAD_ERROR) << Describe(n);

  // Sub-resources: answered with their 401, nothing stays pending.
  size_t from = host().notices().size();
  Load(buffer, http.Url("/page"));
  ASSERT_TRUE(WaitForTitlePrefix(host(), "sub:", from));
  EXPECT_EQ(TitleStartingWith(host(), "sub:", from), "sub:fetch401,img-error");
  EXPECT_GE(CountLinesWith(LogLines(), "BrowserImpl::OnAuthenticate => refused"), 2u);

  // Credentials in the URL are still sent; the server here refuses them too, so the page
  // ends on its 401 page again rather than waiting.
  from = host().notices().size();
  std::string url = http.Url("/secret");
  url.insert(url.find("//") + 2, "someone:letmein@");
  Load(buffer, url);
  ASSERT_TRUE(host().WaitForTitle("server says 401", from));
  bool sent = false;
  for (const auto& r : http.RequestsFor("/secret"))
    sent |= r.Header("Authorization").value_or("") == "Basic c29tZW9uZTpsZXRtZWlu";
  EXPECT_TRUE(sent) << "no request carried the URL's credentials";
}

// ---- file inputs, permissions, fullscreen ---------------------------------------------------

class PageRequests : public E2ETest {
 protected:
  // Loads the body; each test then waits for its own page's sign that it is ready.
  PixelBuffer& Open(const std::string& body) {
    lib().SetDebugEnable(true);
    PixelBuffer& buffer = NewBuffer(320, 240);
    Load(buffer, kHtmlSource + "<body style=\"margin:0\">" + body);
    return buffer;
  }
};

TEST_F(PageRequests, FileInputIsCancelledAndAsksAgainOnTheNextClick) {
  Open(
      "<input type=file id=f style=\"position:fixed;left:0;top:0;width:320px;height:240px\">"
      "<script>let clicks = 0;"
      "f.addEventListener('click', () => document.title = 'click' + ++clicks);"
      "f.addEventListener('change', () => document.title = 'changed');"
      "document.title = 'listening';</script>");
  ASSERT_TRUE(host().WaitForTitle("listening"));
  HostInput in(lib(), host());
  for (int i = 1; i <= 2; ++i) {
    in.Click(160, 120);
    ASSERT_TRUE(host().WaitForTitle("click" + std::to_string(i)));
    ASSERT_TRUE(host().PollUntil(
        [&] {
          return CountLinesWith(LogLines(), "BrowserImpl::OnRunFileChooser => cancelled") ==
                 static_cast<size_t>(i);
        },
        "file chooser request " + std::to_string(i) + " in the log"));
  }
  // The page goes on with no file chosen.
  lib().ExecuteJavaScript("document.title = 'files:' + f.files.length");
  ASSERT_TRUE(host().WaitForTitle("files:0"));
  EXPECT_FALSE(host().SawTitle("changed"));
}

TEST_F(PageRequests, PermissionsAreDeniedAndTheAnswerComesAtOnce) {
  Open(
      "<script>"
      "const results = {};"
      "const report = (k, v) => { results[k] = v;"
      "  if (Object.keys(results).length == 3) document.title = 'perm:' +"
      "    ['geo', 'notify', 'media'].map(k => k + '=' + results[k]).join(','); };"
      "navigator.geolocation.getCurrentPosition(() => report('geo', 'granted'),"
      "  e => report('geo', e.code));"
      "if (window.Notification) Notification.requestPermission().then(p => report('notify', p));"
      "else report('notify', 'absent');"
      "if (navigator.mediaDevices && navigator.mediaDevices.getUserMedia)"
      "  navigator.mediaDevices.getUserMedia({audio: true, video: true})"
      "    .then(() => report('media', 'granted'), e => report('media', e.name));"
      "else report('media', 'absent');"
      "</script>");
  ASSERT_TRUE(WaitForTitlePrefix(host(), "perm:"));
  const std::string result = TitleStartingWith(host(), "perm:");
  // Geolocation: PERMISSION_DENIED (1).
  EXPECT_NE(result.find("geo=1"), std::string::npos) << result;
  EXPECT_NE(result.find("notify=denied"), std::string::npos) << result;
  EXPECT_EQ(result.find("granted"), std::string::npos) << result;
  // Media devices are not offered to pages at all.
  EXPECT_NE(result.find("media=absent"), std::string::npos) << result;
}

// Both calls a page may use, after a click (a user gesture): each is refused with its error
// event, the promise rejects, and the element keeps its place and size.
TEST_F(PageRequests, FullscreenIsRefusedAndThePageIsTold) {
  PixelBuffer& buffer = Open(
      "<div id=box style=\"position:fixed;left:0;top:0;width:40px;height:40px;"
      "background:#ff0000\"></div>"
      "<button id=b style=\"position:fixed;left:100px;top:100px;width:120px;height:40px\">"
      "full</button><script>"
      "const events = [];"
      "for (const n of ['fullscreenerror', 'webkitfullscreenerror', 'fullscreenchange',"
      "                 'webkitfullscreenchange'])"
      "  document.addEventListener(n, e => events.push(n + '@' + e.target.id));"
      "let clicks = 0;"
      "const report = r => setTimeout(() => document.title = 'fs' + clicks + ':' + r + ':' +"
      "  events.join('+') + ':' + document.fullscreenEnabled + ':' +"
      "  (document.fullscreenElement || document.webkitFullscreenElement), 200);"
      "document.title = 'api:' + typeof box.requestFullscreen + ',' +"
      "  typeof box.webkitRequestFullscreen + ',' + document.fullscreenEnabled;"
      "b.onclick = () => {"
      "  if (++clicks == 1) {"
      "    box.requestFullscreen().then(() => report('resolved'), e => report(e.name));"
      "  } else {"
      "    box.webkitRequestFullscreen(); report('prefixed');"
      "  }"
      "};</script>");
  ASSERT_TRUE(host().WaitForTitle("api:function,function,false"));
  HostInput in(lib(), host());
  in.Click(160, 120);
  ASSERT_TRUE(WaitForTitlePrefix(host(), "fs1:"));
  EXPECT_EQ(TitleStartingWith(host(), "fs1:"), "fs1:TypeError:fullscreenerror@box:false:null");
  in.Click(160, 120);
  ASSERT_TRUE(WaitForTitlePrefix(host(), "fs2:"));
  EXPECT_EQ(TitleStartingWith(host(), "fs2:"),
            "fs2:prefixed:fullscreenerror@box+webkitfullscreenerror@box:false:null");
  // The box keeps its size. (Titles may come before the page's first frame on a busy machine:
  // the view is waited for, not read at once.)
  EXPECT_TRUE(WaitForView(buffer, 0, {{20, 20, {255, 0, 0}}, {60, 60, {255, 255, 255}}},
                          "the box at its own size"));
}

// Copy and paste inside the page with Control+C and Control+V, as in a browser: a plain copy
// reaches both the page's paste handler (clipboardData's "text/plain") and the text field, and
// so does the data a page's own copy handler sets. (The engine on its own keeps the two kinds
// of text apart: a paste handler gets "" for a plain copy, a field nothing of a handler's data.)
TEST_F(PageRequests, CopyAndPasteInsideThePage) {
  Open(
      "<input id=src value=\"quillo clipboard probe\" style=\"position:fixed;left:10px;"
      "top:10px;width:280px;height:30px\">"
      "<textarea id=dst style=\"position:fixed;left:10px;top:100px;width:280px;"
      "height:60px\"></textarea><script>"
      "let ownData = false;"
      "src.addEventListener('copy', e => {"
      "  document.title = 'copied';"
      "  if (ownData) { e.clipboardData.setData('text/plain', 'set by the page');"
      "                 e.preventDefault(); }"
      "});"
      "dst.addEventListener('paste', e => {"
      "  const got = e.clipboardData.getData('text/plain');"
      "  setTimeout(() => document.title = 'pasted:' + got + ':' + dst.value, 50);"
      "});"
      "document.title = 'listening';</script>");
  ASSERT_TRUE(host().WaitForTitle("listening"));
  HostInput in(lib(), host());
  auto control = [&](char key) {
    in.Send(INPUT_KEY | INPUT_KEY_DOWN | INPUT_CONTROL, key, key - 'A' + 'a');
    in.Send(INPUT_KEY | INPUT_KEY_UP | INPUT_CONTROL, key, key - 'A' + 'a');
  };
  // Selection and focus are set by script, and each step waits for the page, so that script and
  // key input cannot overtake each other.
  int round = 0;
  auto copy_then_paste = [&](bool own_data) {
    const std::string n = std::to_string(++round);
    const std::string select = std::string("ownData = ") + (own_data ? "true" : "false") +
                               "; src.focus(); src.select(); document.title = 'copy " + n + "'";
    lib().ExecuteJavaScript(select.c_str());
    EXPECT_TRUE(host().WaitForTitle("copy " + n));
    size_t from = host().notices().size();
    control('C');
    EXPECT_TRUE(host().WaitForTitle("copied", from));
    const std::string focus = "dst.value = ''; dst.focus(); document.title = 'paste " + n + "'";
    lib().ExecuteJavaScript(focus.c_str());
    EXPECT_TRUE(host().WaitForTitle("paste " + n));
    from = host().notices().size();
    control('V');
    EXPECT_TRUE(WaitForTitlePrefix(host(), "pasted:", from));
    return TitleStartingWith(host(), "pasted:", from);
  };
  // A plain copy: the handler reads it, the field receives it.
  EXPECT_EQ(copy_then_paste(false), "pasted:quillo clipboard probe:quillo clipboard probe");
  // The page's own data: likewise.
  EXPECT_EQ(copy_then_paste(true), "pasted:set by the page:set by the page");
}

// ---- fonts ----------------------------------------------------------------------------------

struct Script {
  const char* name;
  const char* first;  // two different characters of the script, UTF-8
  const char* second;
};

const Script kScripts[] = {
    {"Chinese", "\xE6\xB0\xB4", "\xE7\x81\xAB"},        // 水 火
    {"Japanese", "\xE3\x81\x82", "\xE3\x82\xAB"},       // あ カ
    {"Korean", "\xED\x95\x9C", "\xEA\xB8\x80"},         // 한 글
    {"Thai", "\xE0\xB8\x81", "\xE0\xB8\xA1"},           // ก ม
    {"Devanagari", "\xE0\xA4\x95", "\xE0\xA4\xAE"},     // क म
    {"Arabic", "\xD8\xB3", "\xD9\x84"},                 // س ل
    {"Hebrew", "\xD7\xA9", "\xD7\x9C"},                 // ש ל
    {"Emoji", "\xF0\x9F\x8D\x8E", "\xF0\x9F\x8C\xB2"},  // 🍎 🌲
};

constexpr int kCell = 64;

class Fonts : public E2ETest {};

TEST_F(Fonts, EveryScriptPaintsItsOwnGlyphsAndEmojiHaveColour) {
  // Two cells per script, side by side, eight rows of 64x64 pixels.
  std::string cells;
  int row = 0;
  for (const Script& s : kScripts) {
    for (int col = 0; col < 2; ++col) {
      cells += "<div style=\"left:" + std::to_string(col * kCell) +
               "px;top:" + std::to_string(row * kCell) + "px\">" + (col ? s.second : s.first) +
               "</div>";
    }
    ++row;
  }
  PixelBuffer& buffer = NewBuffer(2 * kCell, row * kCell);
  Load(buffer, kHtmlSource +
                   "<title>glyphs</title><style>html,body{margin:0;background:#fff}"
                   "div{position:fixed;width:64px;height:64px;font:40px/64px sans-serif;"
                   "color:#000;text-align:center;overflow:hidden}</style>" +
                   cells);
  ASSERT_TRUE(host().WaitForTitle("glyphs"));

  // A cell's pixels as grey levels.
  auto grey = [&](int col, int r) {
    std::vector<int> v;
    for (int y = 0; y < kCell; ++y) {
      for (int x = 0; x < kCell; ++x) {
        const Bytes4 p = ViewBytes(buffer, 0, col * kCell + x, r * kCell + y);
        v.push_back((p[0] + p[1] + p[2]) / 3);
      }
    }
    return v;
  };
  // What is wrong with the painted cells; "" when every script and the colour emoji are there.
  auto faults = [&] {
    std::string found;
    int r = 0;
    for (const Script& s : kScripts) {
      const auto a = grey(0, r), b = grey(1, r);
      size_t inked = 0, differing = 0;
      for (size_t i = 0; i < a.size(); ++i) {
        inked += a[i] < 160;
        differing += std::abs(a[i] - b[i]) > 64;
      }
      if (inked <= 20) found += std::string(s.name) + ": nothing painted\n";
      if (differing <= 40)
        found += std::string(s.name) + ": both characters paint the same (missing glyphs)\n";
      ++r;
    }
    // The last row: the apple and the tree are in colour.
    size_t coloured = 0;
    for (int y = 0; y < kCell; ++y) {
      for (int x = 0; x < 2 * kCell; ++x) {
        const Bytes4 p = ViewBytes(buffer, 0, x, (r - 1) * kCell + y);
        coloured += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 80;
      }
    }
    if (coloured <= 200) found += "the emoji are not in colour\n";
    return found;
  };
  // Polled: fonts are found and glyphs painted over a few frames.
  host().PollUntil([&] { return faults().empty(); }, "every script painted",
                   std::chrono::milliseconds(10000));
  EXPECT_EQ(faults(), "");
}

}  // namespace
}  // namespace quillo_test
