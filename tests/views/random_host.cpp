// quillo-views-random-host: a careless host drives many views through every function of
// quillo/views.h in a seeded random order: creating, resizing (into new memory, the old freed at
// once), hiding, zooming and destroying views, input of every kind, scripts, answers to dialogs
// and page messages, navigation, and calls that must be refused: handles made up or destroyed,
// bad sizes and strides, null pointers, calls from another thread, a view destroyed inside its
// own notice loop. Every result is checked against what the header promises, every view's
// memory has guard bytes around it that must never change, and memory handed back is freed at
// once, so that a sanitizer sees any later write. Pages also come from a scheme the host serves
// ("asset:"), whose requests it answers at random: whole, in pieces over later frames, refused,
// or never; one of its pages fetches random ranges of a file, which the host answers whole (the
// library cuts the part), from memory or piece by piece with quillo_view_respond_range, and the
// page checks every byte and every Content-Range it gets. Requests the page lets go of must be
// told (REQUEST_ENDED) exactly once, and only while open. Now and then the host kills one of
// the engine's web processes; views made with auto_reload must reload within their bound. READY
// notices must come right after their frame's FRAME notice, EDITABLE ones hold what the header
// promises. Runs linked with the library (ASan, TSan).
//
//   quillo-views-random-host [--seed S] [--steps N]
// Prints "views random host: seed S, N steps, V views made, F frames, M messages, R results,
// E errors" and exits 1 on the first broken promise.
#include <quillo/views.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kGuard = 4096;
constexpr uint8_t kGuardByte = 0xC7;

int g_failures = 0;

#define CHECK(cond, ...)                                         \
  do {                                                           \
    if (!(cond)) {                                               \
      std::fprintf(stderr, "random host: broken: " __VA_ARGS__); \
      std::fprintf(stderr, " (%s:%d)\n", __FILE__, __LINE__);    \
      ++g_failures;                                              \
    }                                                            \
  } while (0)

// Pixel memory with guard bytes before and after it, and padding after each row.
struct Memory {
  int width = 0, height = 0;
  size_t stride = 0;
  uint8_t* block = nullptr;

  Memory(int w, int h, size_t padding) : width(w), height(h), stride(size_t(w) * 4 + padding) {
    block = static_cast<uint8_t*>(std::malloc(Bytes() + 2 * kGuard));
    std::memset(block, kGuardByte, Bytes() + 2 * kGuard);
  }
  ~Memory() { std::free(block); }
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  size_t Bytes() const { return stride * size_t(height); }
  uint8_t* Pixels() { return block + kGuard; }
  // Guards and row padding unchanged.
  bool Intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (block[i] != kGuardByte || block[kGuard + Bytes() + i] != kGuardByte) return false;
    for (int y = 0; y < height; ++y)
      for (size_t b = size_t(width) * 4; b < stride; ++b)
        if (block[kGuard + size_t(y) * stride + b] != kGuardByte) return false;
    return true;
  }
};

// Pages that give the host something to do: animations, posts, dialogs, titles, new windows.
const char* const kPages[] = {
    "<body style='margin:0;background:#124'><div id=d style='width:30px;height:30px;"
    "background:#f80'></div><script>let n = 0; const step = () => { d.style.marginLeft ="
    " (n++ % 50) + 'px'; requestAnimationFrame(step) }; step();</script>",
    "<script>let i = 0; setInterval(() => { document.title = 't' + i++;"
    " quilloPost('tick ' + i).then(a => document.title = a, e => document.title = e.message)"
    " }, 40)</script>",
    "<input autofocus><script>setTimeout(() => { const a = confirm('sure?');"
    " const p = prompt('name?', 'x'); document.title = a + ' ' + p }, 50)</script>",
    "<html style='background:transparent'><div style='background:rgba(0,255,0,.5);"
    "height:40px'></div><script>onclick = () => window.open('about:blank');"
    "ondblclick = () => document.title = 'double'; onwheel = e => document.title = "
    "e.deltaY</script>",
    "<body style='height:4000px'><a href='#x'>link</a><script>onkeydown = e =>"
    " document.title = e.key</script>",
    "<img src='asset://r/a.svg'><script>setInterval(() => fetch('asset://r/d' + Math.random())"
    ".then(r => r.text()).then(t => document.title = t.length, e => document.title = 'x'), 60)"
    "</script>",
    // Sound: a tone made here, played and paused in turn; touch handlers that cancel some.
    "<div style='width:300px;height:200px;touch-action:none'>touch</div><script>"
    "const n = 4000, b = new DataView(new ArrayBuffer(44 + n * 2)), w = (o, s) =>"
    " [...s].forEach((c, i) => b.setUint8(o + i, c.charCodeAt(0)));"
    "w(0, 'RIFF'); b.setUint32(4, 36 + n * 2, true); w(8, 'WAVEfmt ');"
    "b.setUint32(16, 16, true); b.setUint16(20, 1, true); b.setUint16(22, 1, true);"
    "b.setUint32(24, 8000, true); b.setUint32(28, 16000, true); b.setUint16(32, 2, true);"
    "b.setUint16(34, 16, true); w(36, 'data'); b.setUint32(40, n * 2, true);"
    "for (let i = 0; i < n; i++) b.setInt16(44 + i * 2, 8000 * Math.sin(i / 3), true);"
    "const a = new Audio(URL.createObjectURL(new Blob([b], {type: 'audio/wav'})));"
    "a.loop = true; let k = 0; setInterval(() => k++ % 2 ? a.pause() : a.play().catch(() => {}),"
    " 150); let t = 0; ontouchstart = e => { if (t++ % 2) e.preventDefault() };"
    "ontouchmove = e => document.title = e.touches.length;</script>",
    // Text input: a field with the focus, rich text, and a copy handler of the page's own.
    "<textarea autofocus>some text</textarea><div contenteditable><b>rich</b> text</div>"
    "<script>let n = 0, t = 0; oncopy = e => { if (n++ % 2) { e.preventDefault();"
    " e.clipboardData.setData('text/plain', 'own ' + n) } }; oncompositionend = e =>"
    " document.title = e.data; setInterval(() => { if (t++ % 8 == 0)"
    " document.querySelector('textarea').select(); else if (t % 8 == 4)"
    " getSelection().selectAllChildren(document.querySelector('div')) }, 70)</script>",
};

// The file the range page fetches parts of (asset://r/range...): kRangeSize bytes.
constexpr int kRangeSize = 256;
std::string RangeFile() {
  std::string bytes;
  for (int i = 0; i < kRangeSize; ++i) bytes += char('a' + (i * 5) % 26);
  return bytes;
}

// Fetches random ranges of the file and checks each answer against what HTTP asks for: a wrong
// status, Content-Range or byte puts "range-bad" in the title. Its video reads the file too, by
// the media player's own Range requests (and gives up on it: it is no video).
const char* const kRangePage =
    "<video muted autoplay src='range-video'></video><script>const all = Array.from({length: 256}, "
    "(_, i) => String.fromCharCode(97 + (i * 5)"
    " % 26)).join('');\n"
    "const one = () => {\n"
    "  const a = Math.floor(Math.random() * 300), b = a + Math.floor(Math.random() * 64);\n"
    "  const form = Math.floor(Math.random() * 3);\n"
    "  const spec = form == 0 ? a + '-' + b : form == 1 ? a + '-' : '-' + (b - a);\n"
    "  let first = form == 2 ? Math.max(0, 256 - (b - a)) : a;\n"
    "  let last = form == 0 ? Math.min(b, 255) : 255;\n"
    "  const want = (form == 2 ? b - a == 0 : a >= 256) ? 416 : 206;\n"
    "  fetch('range' + Math.random(), {headers: {Range: 'bytes=' + spec}}).then(async r => {\n"
    "    const t = await r.text(), range = r.headers.get('content-range');\n"
    "    const bad = r.status == 206 ? range != 'bytes ' + first + '-' + last + '/256' ||\n"
    "        t != all.slice(first, last + 1) : r.status == 416 ? range != 'bytes */256' || t != "
    "''\n"
    "        : false;\n"
    "    if (bad || (r.status != want && r.status != 404))\n"
    "      document.title = 'range-bad ' + spec + ' ' + r.status + ' ' + range;\n"
    "  }, e => {});\n"
    "};\n"
    "for (let i = 0; i < 12; i++) one();\n"
    "setInterval(() => { one(); one(); }, 30);</script>";

// What the host's scheme serves: any path, one of these.
const char* const kAssets[] = {
    "<svg xmlns='http://www.w3.org/2000/svg' width='20' height='20'><rect width='20' "
    "height='20' fill='#0f0'/></svg>",
    "<title>asset</title><img src='a.svg'><script src='s.js'></script>",
    "document.title = 'script ' + location.href;",
    "",
};

// A request of the scheme the host has not ended.
struct Request {
  uint64_t id = 0;
  std::string url;
  bool answered = false;  // a piece was answered
  // A head from quillo_view_respond_range without data: the part, and how much of it was sent.
  bool promised = false;
  uint64_t first = 0, count = 0, sent = 0;
};

struct View {
  quillo_view* handle = nullptr;
  Memory* memory = nullptr;
  std::vector<uint64_t> dialogs, messages;
  std::vector<Request> requests;
  // Requests whose answer was refused as not open: the page let go of them, and their
  // REQUEST_ENDED notice is on its way.
  std::vector<uint64_t> letGo;
  bool textPage = false;  // shows the page of text input (made with it, not navigated since)
  std::set<int> touches;  // the touch points down
  int audio = 0;          // the last AUDIO notice's code (0 before the first)
  int autoReload = 0;     // its config.auto_reload
};

// Whether text is valid UTF-8 of code points outside the surrogates; *characters: how many.
bool ValidUtf8(const char* text, size_t* characters) {
  size_t count = 0;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p;) {
    const size_t n = *p < 0x80           ? 1
                     : (*p >> 5) == 0x6  ? 2
                     : (*p >> 4) == 0xE  ? 3
                     : (*p >> 3) == 0x1E ? 4
                                         : 0;
    if (n == 0) return false;
    uint32_t code = n == 1 ? *p : *p & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[k] & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    p += n;
    ++count;
  }
  *characters = count;
  return true;
}

// The engine's web processes, children of this one.
std::vector<pid_t> WebProcesses() {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string pid, comm, state;
    pid_t parent = 0;
    if (stat >> pid >> comm >> state >> parent && parent == getpid() &&
        comm.rfind("(WPEWebProcess", 0) == 0)
      found.push_back(static_cast<pid_t>(std::stol(pid)));
  }
  return found;
}

class RandomHost {
 public:
  explicit RandomHost(uint32_t seed) : m_random(seed) {}
  int Run(int steps);

 private:
  int Pick(int n) { return static_cast<int>(m_random() % uint32_t(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  View* Any() { return m_views.empty() ? nullptr : &m_views[size_t(Pick(int(m_views.size())))]; }

  void Create();
  void Destroy(size_t index);
  void Resize(View& v);
  void Input(View& v);
  void Misc(View& v);
  void Refused();
  // What became of a request the host answered: still open, ended by the answer, or let go of
  // by its page before (the answer was refused as not open).
  enum class Outcome { kOpen, kEnded, kLetGo };
  void Answer(View& v);
  void TextInput(View& v);
  void Touch(View& v, int x, int y, unsigned mods);
  Outcome AnswerRange(View& v, Request& request);
  Outcome AnswerAsset(View& v, Request& request);
  // The outcome of an answer that gave r and, taken, ends the request or not.
  Outcome Result(int r, bool ends);
  void TakeNotices(View& v, bool mayDestroy);
  void OtherThread();
  // Kills one of the engine's web processes, as a crash would end it.
  void KillWebProcess();
  void Pump();

  std::mt19937 m_random;
  std::vector<View> m_views;
  std::vector<quillo_view*> m_dead;  // destroyed handles, to be refused
  const std::string m_rangeFile = RangeFile();
  int m_made = 0, m_frames = 0, m_messages = 0, m_results = 0, m_errors = 0, m_requests = 0;
  int m_copies = 0, m_sounds = 0;
  int m_ranges = 0, m_ended = 0;
  int m_kills = 0, m_ready = 0, m_editables = 0, m_autoReloads = 0;
};

void RandomHost::Create() {
  if (m_views.size() >= 6) return;
  const int w = 16 + Pick(360), h = 16 + Pick(240);
  auto* memory = new Memory(w, h, Chance(50) ? 0 : size_t(Pick(64)));
  quillo_view_config c = quillo_view_config_default();
  c.width = w, c.height = h, c.pixels = memory->Pixels(), c.stride = memory->stride;
  c.format = Pick(2), c.bottom_up = Pick(2), c.transparent = Pick(2);
  c.device_scale = Chance(30) ? 0.5 + Pick(4) * 0.5 : 0;
  c.max_frame_rate = Chance(30) ? 1 + Pick(120) : 0;
  c.hidden = Chance(10);
  c.zoom = Chance(20) ? 0.5 + Pick(3) * 0.5 : 0;
  c.user_agent = Chance(20) ? "RandomHost/1" : nullptr;
  c.auto_reload = Chance(30) ? 1 + Pick(3) : 0;
  quillo_view* view = nullptr;
  // (The last page, of text input, a quarter of the time, the one before it, of sound and
  // touch, often; a page of the host's scheme, plain or with ranges, some of the time.)
  const char* html = Chance(25)   ? kPages[std::size(kPages) - 1]
                     : Chance(20) ? kPages[std::size(kPages) - 2]
                                  : kPages[Pick(int(std::size(kPages)))];
  if (Chance(40)) html = nullptr;
  const int r = html ? quillo_view_create_html(&c, html, &view)
                     : quillo_view_create(
                           &c, Chance(40) ? "asset://r/page.html" : "asset://r/range.html", &view);
  CHECK(r == QUILLO_OK, "create %dx%d gave %d", w, h, r);
  if (r != QUILLO_OK) {
    delete memory;
    return;
  }
  m_views.push_back(View{
      view, memory, {}, {}, {}, {}, html == kPages[std::size(kPages) - 1], {}, 0, c.auto_reload});
  ++m_made;
}

void RandomHost::Destroy(size_t index) {
  View v = m_views[index];
  m_views.erase(m_views.begin() + long(index));
  CHECK(quillo_view_destroy(v.handle) == QUILLO_OK, "destroy");
  CHECK(v.memory->Intact(), "guard bytes of a destroyed view's memory changed");
  delete v.memory;  // freed at once: a later write is a use after free
  m_dead.push_back(v.handle);
}

void RandomHost::Resize(View& v) {
  if (Chance(20)) {  // refused: the memory stays the view's
    const int r = quillo_view_resize(v.handle, Chance(50) ? 0 : QUILLO_MAX_SIDE + 1, 10,
                                     v.memory->Pixels(), 0);
    CHECK(r == QUILLO_ERROR_BAD_SIZE, "a bad size gave %d", r);
    const int s = quillo_view_resize(v.handle, 20, 10, v.memory->Pixels(), 20 * 4 - 1);
    CHECK(s == QUILLO_ERROR_BAD_STRIDE, "a short stride gave %d", s);
    return;
  }
  const int w = 16 + Pick(360), h = 16 + Pick(240);
  auto* memory = new Memory(w, h, Chance(50) ? 0 : size_t(Pick(64)));
  const int r = quillo_view_resize(v.handle, w, h, memory->Pixels(), memory->stride);
  CHECK(r == QUILLO_OK, "resize gave %d", r);
  if (r != QUILLO_OK) {
    delete memory;
    return;
  }
  CHECK(v.memory->Intact(), "guard bytes changed before a resize");
  delete v.memory;  // the old memory is never written again once resize returned
  v.memory = memory;
}

void RandomHost::Input(View& v) {
  const int x = Pick(400) - 20, y = Pick(300) - 20;
  const unsigned mods = unsigned(Pick(16));
  int r = QUILLO_OK;
  switch (Pick(7)) {
    case 0:
      r = quillo_view_mouse_move(v.handle, x, y, mods);
      break;
    case 1: {
      const int button = Pick(3), count = 1 + Pick(2);
      r = quillo_view_mouse_button(v.handle, button, 1, x, y, count, mods);
      if (r == QUILLO_OK) r = quillo_view_mouse_button(v.handle, button, 0, x, y, count, mods);
      break;
    }
    case 2:
      r = quillo_view_mouse_wheel(v.handle, x, y, Pick(200) - 100, Pick(200) - 100, mods);
      break;
    case 3: {
      static const char* const kTexts[] = {"a", "\xC3\xA9", "\xF0\x9F\x98\x80", nullptr, "xyz"};
      const int key = Chance(80) ? 0x41 + Pick(26) : Pick(0x100);
      const char* text = kTexts[Pick(5)];
      if (key == 0 && text == nullptr) text = "q";
      r = quillo_view_key(v.handle, QUILLO_KEY_DOWN, key, mods, text);
      // Text alone (key code 0) has no key to let go of: such an up is refused.
      if (r == QUILLO_OK && key != 0)
        r = quillo_view_key(v.handle, QUILLO_KEY_UP, key, mods, nullptr);
      break;
    }
    case 4:
      Touch(v, x, y, mods);
      break;
    case 5:
      r = quillo_view_set_muted(v.handle, Pick(2));
      break;
    default:
      r = quillo_view_set_focus(v.handle, Pick(2));
      break;
  }
  CHECK(r == QUILLO_OK, "input gave %d", r);
}

// A finger's change: mostly sound (a press of a free id, a move, lift or cancel of one down),
// sometimes careless (a press of an id down, a change of one that is not, an eleventh finger, an
// unknown action, a position out of range), each refused.
void RandomHost::Touch(View& v, int x, int y, unsigned mods) {
  const bool any = v.touches.empty() || Chance(35);
  const int id = any ? Pick(14) : *std::next(v.touches.begin(), Pick(int(v.touches.size())));
  const bool down = v.touches.count(id) == 1;
  int action = any ? QUILLO_TOUCH_START : QUILLO_TOUCH_MOVE + Pick(3);
  if (Chance(5)) action = QUILLO_TOUCH_START + Pick(4);
  int expected = QUILLO_OK;
  if (action == QUILLO_TOUCH_START)
    expected =
        down || v.touches.size() >= QUILLO_MAX_TOUCH_POINTS ? QUILLO_ERROR_BAD_ARGUMENT : QUILLO_OK;
  else
    expected = down ? QUILLO_OK : QUILLO_ERROR_BAD_ARGUMENT;
  if (Chance(4)) {
    x = Chance(50) ? QUILLO_MAX_SIDE + 1 + Pick(1000) : -QUILLO_MAX_SIDE - 1;
    expected = QUILLO_ERROR_BAD_ARGUMENT;
  }
  if (Chance(3)) {
    action = Chance(50) ? 0 : QUILLO_TOUCH_CANCEL + 1 + Pick(5);
    expected = QUILLO_ERROR_BAD_ARGUMENT;
  }
  const int r = quillo_view_touch(v.handle, action, id, x, y, mods);
  CHECK(r == expected, "touch %d of point %d (%s) gave %d, not %d", action, id,
        down ? "down" : "up", r, expected);
  if (r != QUILLO_OK) {
    ++m_errors;
    return;
  }
  if (action == QUILLO_TOUCH_START)
    v.touches.insert(id);
  else if (action != QUILLO_TOUCH_MOVE)
    v.touches.erase(id);
}

void RandomHost::Misc(View& v) {
  int r = QUILLO_OK;
  switch (Pick(12)) {
    case 0:
      r = quillo_view_eval(v.handle, Chance(50) ? "document.title" : "throw 1",
                           uint64_t(Pick(1000)));
      break;
    case 1:
      r = quillo_view_set_hidden(v.handle, Pick(2));
      break;
    case 2:
      r = quillo_view_set_zoom(v.handle, 0.25 + Pick(10) * 0.25);
      break;
    case 3:
      r = quillo_view_set_frame_rate(v.handle, 1 + Pick(240));
      break;
    case 4:
      r = quillo_view_set_device_scale(v.handle, 0.5 + Pick(6) * 0.5);
      break;
    case 5:
      r = quillo_view_load_html(v.handle, kPages[Pick(int(std::size(kPages)))]);
      v.textPage = false;
      break;
    case 6:
      r = Pick(2) ? quillo_view_go_back(v.handle) : quillo_view_go_forward(v.handle);
      v.textPage = false;
      break;
    case 7:
      r = Pick(2) ? quillo_view_reload(v.handle) : quillo_view_stop(v.handle);
      break;
    case 8:
      r = quillo_view_set_user_agent(v.handle, Chance(50) ? nullptr : "Other/2");
      break;
    case 9:
      if (!v.dialogs.empty()) {
        r = quillo_view_answer_dialog(v.handle, v.dialogs.back(), Pick(2), "typed");
        // A dialog the page's navigation took away is not open any more.
        CHECK(r == QUILLO_OK, "answer to an open dialog gave %d", r);
        v.dialogs.pop_back();
      }
      break;
    case 10:
      if (!v.messages.empty()) {
        const uint64_t id = v.messages.back();
        v.messages.pop_back();
        r = quillo_view_reply(v.handle, id, Pick(2), "answer");
        CHECK(r == QUILLO_OK, "reply gave %d", r);
        CHECK(quillo_view_reply(v.handle, id, 1, "twice") == QUILLO_ERROR_NOT_FOUND,
              "a second reply was taken");
      }
      break;
    default:
      v.textPage = false;
      r = quillo_view_load_url(v.handle, Chance(40)   ? "about:blank"
                                         : Chance(30) ? "asset://r/other.html"
                                         : Chance(50) ? "asset://r/range.html"
                                                      : "data:text/html,<b>hi</b>");
      break;
  }
  CHECK(r == QUILLO_OK, "call gave %d", r);
}

// The range file's requests: whole (the library cuts the part), from memory or as a head and
// then pieces with quillo_view_respond_range, refused, or wrongly (more than the head promised).
RandomHost::Outcome RandomHost::AnswerRange(View& v, Request& request) {
  const std::string& file = m_rangeFile;
  int r = QUILLO_OK;
  if (request.promised) {
    const uint64_t left = request.count - request.sent;
    if (Chance(10)) {
      r = quillo_view_respond(v.handle, request.id, 0, nullptr, file.data(), size_t(left + 1), 1);
      if (r == QUILLO_ERROR_NOT_FOUND) return Outcome::kLetGo;
      CHECK(r == QUILLO_ERROR_BAD_ARGUMENT, "bytes past the promised part gave %d", r);
      ++m_errors;
      return Outcome::kOpen;
    }
    const uint64_t size = std::min<uint64_t>(left, uint64_t(1 + Pick(64)));
    const bool done = size == left;
    r = quillo_view_respond(v.handle, request.id, 0, nullptr,
                            file.data() + request.first + request.sent, size, done);
    request.sent += size;
    return Result(r, done);
  }
  uint64_t first = 99, count = 99;
  switch (Pick(5)) {
    case 0:
      return Result(quillo_view_respond(v.handle, request.id, 0, nullptr, nullptr, 0, 1), true);
    case 1:
      return Result(
          quillo_view_respond(v.handle, request.id, 200, "text/plain", file.data(), file.size(), 1),
          true);
    case 2:
      r = quillo_view_respond_range(v.handle, request.id, "text/plain", file.data(), file.size(),
                                    &first, &count);
      CHECK(r != QUILLO_OK || first + count <= file.size(), "a part past the file");
      return Result(r, true);
    default:
      r = quillo_view_respond_range(v.handle, request.id, nullptr, nullptr, file.size(), &first,
                                    &count);
      if (r != QUILLO_OK) return Result(r, true);
      CHECK(first + count <= file.size(), "a part past the file");
      ++m_ranges;
      request.answered = request.promised = true;
      request.first = first, request.count = count;
      if (count > 0) return Outcome::kOpen;
      CHECK(quillo_view_respond(v.handle, request.id, 0, nullptr, nullptr, 0, 1) ==
                QUILLO_ERROR_NOT_FOUND,
            "a request answered 416 took more");
      return Outcome::kEnded;
  }
}

// The other assets' requests: whole, a piece, refused, or wrongly.
RandomHost::Outcome RandomHost::AnswerAsset(View& v, Request& request) {
  const uint64_t id = request.id;
  const std::string body = kAssets[Pick(int(std::size(kAssets)))];
  static const char* const kTypes[] = {"image/svg+xml", "text/html", "text/javascript", nullptr};
  switch (Pick(6)) {
    case 0:  // refused (status 0 is read in the first answer only: later, done ends it)
      return Result(
          quillo_view_respond(v.handle, id, 0, nullptr, nullptr, 0, request.answered ? 1 : Pick(2)),
          true);
    case 1:  // a piece, more to come (possibly never)
      request.answered = true;
      return Result(
          quillo_view_respond(v.handle, id, 200, kTypes[Pick(4)], body.data(), body.size(), 0),
          false);
    case 2: {                                       // careless: refused, and the request stays open
      if (request.answered) return Outcome::kOpen;  // a later answer's status is not read
      const int bad =
          quillo_view_respond(v.handle, id, Chance(50) ? 99 : 600, nullptr, nullptr, 0, 1);
      if (bad == QUILLO_ERROR_NOT_FOUND) return Outcome::kLetGo;
      CHECK(bad == QUILLO_ERROR_BAD_ARGUMENT, "a bad status gave %d", bad);
      const int null = quillo_view_respond(v.handle, id, 200, nullptr, nullptr, 3, 1);
      CHECK(null == QUILLO_ERROR_NULL_ARGUMENT, "null data gave %d", null);
      m_errors += 2;
      return Outcome::kOpen;
    }
    default:  // the whole, or the rest
      return Result(quillo_view_respond(v.handle, id, Chance(80) ? 200 : 404, kTypes[Pick(4)],
                                        body.data(), body.size(), 1),
                    true);
  }
}

RandomHost::Outcome RandomHost::Result(int r, bool ends) {
  // Refused as not open: the page let go of the request, and its notice is on its way.
  if (r == QUILLO_ERROR_NOT_FOUND) return Outcome::kLetGo;
  CHECK(r == QUILLO_OK, "an answer to an open request gave %d", r);
  return ends ? Outcome::kEnded : Outcome::kOpen;
}

// Answers one of the view's open requests of the scheme.
void RandomHost::Answer(View& v) {
  if (v.requests.empty()) return;
  const size_t index = size_t(Pick(int(v.requests.size())));
  Request& request = v.requests[index];
  const uint64_t id = request.id;
  const bool page = request.url.find("/range.html") != std::string::npos;
  Outcome outcome;
  if (page)
    outcome = Result(
        quillo_view_respond(v.handle, id, 200, "text/html", kRangePage, std::strlen(kRangePage), 1),
        true);
  else if (request.url.find("/range") != std::string::npos)
    outcome = AnswerRange(v, request);
  else
    outcome = AnswerAsset(v, request);
  if (outcome == Outcome::kOpen) return;
  v.requests.erase(v.requests.begin() + long(index));
  if (outcome == Outcome::kLetGo) {
    v.letGo.push_back(id);
    return;
  }
  const int again = quillo_view_respond(v.handle, id, 200, nullptr, "x", 1, 1);
  CHECK(again == QUILLO_ERROR_NOT_FOUND, "an ended request took an answer (%d)", again);
}

// Composition input and the clipboard: sound calls in any order (compositions with underlines
// and carets anywhere, commits, cancels, copies, cuts, pastes with and without HTML), and
// careless ones that must be refused: no text, text that is not UTF-8 or too long, ranges
// outside the text, a dead handle.
void RandomHost::TextInput(View& v) {
  // Texts, and their lengths in characters.
  static const std::pair<const char*, int> kTexts[] = {{"\xE3\x81\xAB", 1},
                                                       {"\xE6\x97\xA5\xE6\x9C\xAC", 2},
                                                       {"ab", 2},
                                                       {"\xF0\x9F\x98\x80x", 2},
                                                       {"", 0}};
  const auto [text, length] = kTexts[Pick(int(std::size(kTexts)))];
  int r = QUILLO_OK;
  switch (Pick(10)) {
    case 9:  // copies are worth a second chance: most pages have nothing selected
    case 4:
      r = Pick(2) ? quillo_view_copy(v.handle) : quillo_view_cut(v.handle);
      break;
    case 0:
    case 1: {
      quillo_ime_underline lines[2] = {{0, length, 0}, {0, length, 0xFF0000FFu}};
      const int caret = length > 0 ? Pick(length + 1) : 0;
      r = quillo_view_ime_set_composition(v.handle, text, length > 0 ? lines : nullptr,
                                          length > 0 ? size_t(Pick(3)) : 0, caret, caret);
      break;
    }
    case 2:
      r = quillo_view_ime_commit(v.handle, text);
      break;
    case 3:
      r = quillo_view_ime_cancel(v.handle);
      break;
    case 5:
      r = quillo_view_paste(v.handle, text, Chance(50) ? nullptr : "<i>pasted</i>");
      break;
    case 6: {  // careless
      const quillo_ime_underline outside = {1, length + 2, 0};
      const int results[] = {
          quillo_view_ime_set_composition(v.handle, nullptr, nullptr, 0, 0, 0),
          quillo_view_ime_set_composition(v.handle, "a\xFF", nullptr, 0, 0, 0),
          quillo_view_ime_set_composition(v.handle, text, nullptr, 0, 0, length + 1),
          quillo_view_ime_set_composition(v.handle, text, nullptr, 0, 1, 0),
          quillo_view_ime_set_composition(v.handle, text, &outside, 1, 0, 0),
          quillo_view_ime_set_composition(v.handle, text, nullptr, 1, 0, 0),
          quillo_view_ime_set_composition(v.handle, text, &outside, QUILLO_MAX_IME_UNDERLINES + 1,
                                          0, 0),
          quillo_view_ime_commit(v.handle, "\xC3"),
          quillo_view_ime_commit(v.handle, nullptr),
          quillo_view_paste(v.handle, nullptr, "<b>x</b>"),
          quillo_view_paste(v.handle, "x", "\xED\xA0\x80"),
      };
      const int expected[] = {
          QUILLO_ERROR_NULL_ARGUMENT, QUILLO_ERROR_BAD_ARGUMENT, QUILLO_ERROR_BAD_ARGUMENT,
          QUILLO_ERROR_BAD_ARGUMENT,  QUILLO_ERROR_BAD_ARGUMENT, QUILLO_ERROR_NULL_ARGUMENT,
          QUILLO_ERROR_BAD_ARGUMENT,  QUILLO_ERROR_BAD_ARGUMENT, QUILLO_ERROR_NULL_ARGUMENT,
          QUILLO_ERROR_NULL_ARGUMENT, QUILLO_ERROR_BAD_ARGUMENT,
      };
      for (size_t i = 0; i < std::size(results); ++i)
        CHECK(results[i] == expected[i], "careless text input %zu gave %d", i, results[i]);
      m_errors += int(std::size(results));
      return;
    }
    case 7: {  // too long, read no further than the limit's next byte
      std::string longer(QUILLO_MAX_COMPOSITION_BYTES + 1, 'k');
      CHECK(quillo_view_ime_set_composition(v.handle, longer.c_str(), nullptr, 0, 0, 0) ==
                QUILLO_ERROR_BAD_ARGUMENT,
            "an over-long composition");
      longer.assign(QUILLO_MAX_COMMIT_BYTES + 1, 'k');
      CHECK(quillo_view_ime_commit(v.handle, longer.c_str()) == QUILLO_ERROR_BAD_ARGUMENT,
            "an over-long commit");
      m_errors += 2;
      return;
    }
    case 8: {  // a dead or made-up handle
      quillo_view* bad = m_dead.empty() ? nullptr : m_dead[size_t(Pick(int(m_dead.size())))];
      const int results[] = {quillo_view_ime_set_composition(bad, "a", nullptr, 0, 0, 0),
                             quillo_view_ime_commit(bad, "a"),
                             quillo_view_ime_cancel(bad),
                             quillo_view_copy(bad),
                             quillo_view_cut(bad),
                             quillo_view_paste(bad, "a", nullptr),
                             quillo_view_touch(bad, QUILLO_TOUCH_START, 1, 1, 1, 0),
                             quillo_view_set_muted(bad, 1)};
      for (int bad_result : results)
        CHECK(bad_result == QUILLO_ERROR_BAD_HANDLE, "a bad handle gave %d", bad_result);
      m_errors += int(std::size(results));
      return;
    }
  }
  CHECK(r == QUILLO_OK, "text input gave %d", r);
}

// Calls that must be refused, and what with.
void RandomHost::Refused() {
  quillo_notice n = quillo_notice_init();
  uint64_t local = 0;
  quillo_view* made_up[] = {nullptr, reinterpret_cast<quillo_view*>(&local),
                            reinterpret_cast<quillo_view*>(uintptr_t(0x5100000000000001ull)),
                            reinterpret_cast<quillo_view*>(uintptr_t(m_random()) << 12)};
  quillo_view* bad =
      m_dead.empty() || Chance(50) ? made_up[Pick(4)] : m_dead[size_t(Pick(int(m_dead.size())))];
  const int results[] = {
      quillo_view_next_notice(bad, &n),
      quillo_view_destroy(bad),
      quillo_view_mouse_move(bad, 1, 1, 0),
      quillo_view_eval(bad, "1", 1),
      quillo_view_resize(bad, 10, 10, &local, 0),
      quillo_view_reply(bad, 1, 1, "x"),
      quillo_view_set_hidden(bad, 1),
      quillo_view_respond(bad, 1, 200, nullptr, nullptr, 0, 1),
  };
  for (int r : results) CHECK(r == QUILLO_ERROR_BAD_HANDLE, "a bad handle gave %d", r);
  m_errors += int(std::size(results));

  quillo_view_config c = quillo_view_config_default();
  quillo_view* view = reinterpret_cast<quillo_view*>(&local);
  uint8_t pixels[64];
  c.width = 4, c.height = 4, c.pixels = pixels;
  switch (Pick(8)) {
    case 7:
      c.auto_reload = Chance(50) ? -1 : QUILLO_MAX_AUTO_RELOADS + 1;
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_BAD_CONFIG, "bad auto_reload");
      break;
    case 0:
      CHECK(quillo_view_create(nullptr, "about:blank", &view) == QUILLO_ERROR_NULL_ARGUMENT,
            "null config");
      break;
    case 1:
      c.width = Chance(50) ? 0 : QUILLO_MAX_SIDE + 1 + Pick(100);
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_BAD_SIZE, "bad width");
      break;
    case 2:
      c.stride = 15;
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_BAD_STRIDE, "short stride");
      break;
    case 3:
      c.size = 8;
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_BAD_CONFIG, "small config");
      break;
    case 4:
      c.pixels = nullptr;
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_NULL_ARGUMENT, "no memory");
      break;
    case 5:
      c.device_scale = -1;
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_BAD_CONFIG, "bad scale");
      break;
    default:
      c.post_function = "not a name";
      CHECK(quillo_view_create(&c, nullptr, &view) == QUILLO_ERROR_BAD_CONFIG, "bad function");
      break;
  }
  CHECK(view == nullptr, "a refused create left a handle");
  ++m_errors;
  if (View* v = Any()) {
    quillo_notice small = quillo_notice_init();
    small.size = 4;
    CHECK(quillo_view_next_notice(v->handle, &small) == QUILLO_ERROR_BAD_ARGUMENT, "small notice");
    CHECK(quillo_view_next_notice(v->handle, nullptr) == QUILLO_ERROR_NULL_ARGUMENT, "null notice");
    CHECK(quillo_view_mouse_button(v->handle, 7, 1, 0, 0, 1, 0) == QUILLO_ERROR_BAD_ARGUMENT,
          "button");
    CHECK(quillo_view_key(v->handle, 9, 0x41, 0, nullptr) == QUILLO_ERROR_BAD_ARGUMENT,
          "key action");
    CHECK(quillo_view_key(v->handle, QUILLO_KEY_UP, 0, 0, nullptr) == QUILLO_ERROR_BAD_ARGUMENT,
          "a key up of no key and no text");
    CHECK(quillo_view_answer_dialog(v->handle, 1u << 30, 1, nullptr) == QUILLO_ERROR_NOT_FOUND,
          "dialog");
    CHECK(quillo_view_set_zoom(v->handle, 100) == QUILLO_ERROR_BAD_ARGUMENT, "zoom");
    CHECK(quillo_view_respond(v->handle, 1ull << 40, 200, nullptr, nullptr, 0, 1) ==
              QUILLO_ERROR_NOT_FOUND,
          "a made-up request");
    CHECK(quillo_register_scheme(Chance(50) ? "http" : "9x") == QUILLO_ERROR_BAD_ARGUMENT,
          "a bad scheme");
    m_errors += 9;
  }
}

void RandomHost::OtherThread() {
  View* v = Any();
  quillo_view* handle = v ? v->handle : nullptr;
  std::atomic<int> wrong{0};
  std::thread other([&] {
    quillo_notice n = quillo_notice_init();
    const int results[] = {quillo_pump(), quillo_view_next_notice(handle, &n),
                           quillo_view_mouse_move(handle, 1, 1, 0), quillo_view_destroy(handle),
                           quillo_view_create(nullptr, nullptr, nullptr)};
    for (int r : results) wrong += r == QUILLO_ERROR_WRONG_THREAD;
    // Any thread: these two.
    quillo_set_log(std::getenv("QUILLO_RANDOM_HOST_LOG") != nullptr);
    wrong += std::strlen(quillo_result_text(QUILLO_ERROR_WRONG_THREAD)) > 0;
  });
  other.join();
  CHECK(wrong.load() == 6, "calls from another thread were not refused (%d of 6)", wrong.load());
  m_errors += 5;
}

void RandomHost::KillWebProcess() {
  const std::vector<pid_t> processes = WebProcesses();
  if (processes.empty()) return;
  kill(processes[size_t(Pick(int(processes.size())))], SIGKILL);
  ++m_kills;
}

void RandomHost::TakeNotices(View& v, bool mayDestroy) {
  quillo_notice n = quillo_notice_init();
  int r;
  int previousKind = 0;
  uint64_t previousId = 0;
  while ((r = quillo_view_next_notice(v.handle, &n)) == 1) {
    CHECK(n.text != nullptr && n.detail != nullptr && n.input_mode != nullptr, "a null text");
    CHECK(n.kind == QUILLO_NOTICE_EDITABLE || n.input_mode[0] == '\0',
          "an input mode on a notice of kind %d", n.kind);
    CHECK(n.kind != QUILLO_NOTICE_READY ||
              (previousKind == QUILLO_NOTICE_FRAME && previousId == n.id),
          "READY %d not right after its frame's FRAME notice", int(n.id));
    previousKind = n.kind, previousId = n.id;
    switch (n.kind) {
      case QUILLO_NOTICE_READY:
        ++m_ready;
        break;
      case QUILLO_NOTICE_EDITABLE: {
        ++m_editables;
        size_t characters = 0;
        const bool utf8 = ValidUtf8(n.text, &characters);
        CHECK(utf8 && std::strlen(n.text) <= QUILLO_MAX_EDITABLE_TEXT && n.id <= characters,
              "an editable's text of %zu bytes, caret %d", std::strlen(n.text), int(n.id));
        CHECK((n.code == 0 || n.code == 1) && n.rect.width >= 0 && n.rect.height >= 0,
              "an editable notice of code %d, %dx%d", n.code, n.rect.width, n.rect.height);
        static const char* const kKinds[] = {"text",     "search",   "url",
                                             "tel",      "email",    "number",
                                             "password", "textarea", "contenteditable"};
        CHECK(std::any_of(std::begin(kKinds), std::end(kKinds),
                          [&](const char* k) { return std::strcmp(k, n.detail) == 0; }),
              "an editable of kind %s", n.detail);
        CHECK(n.code == 1 || n.text[0] == '\0', "a loss with text");
        break;
      }
      case QUILLO_NOTICE_AUTO_RELOAD: {
        ++m_autoReloads;
        uint64_t wait = 500;
        for (int i = 1; i < n.code && wait < 30000; ++i) wait *= 2;
        CHECK(n.code >= 1 && n.code <= v.autoReload && n.id == std::min<uint64_t>(wait, 30000),
              "AUTO_RELOAD %d after %d ms for a bound of %d", n.code, int(n.id), v.autoReload);
        break;
      }
      case QUILLO_NOTICE_AUTO_RELOAD_STOPPED:
        CHECK(v.autoReload > 0 && n.code == v.autoReload,
              "AUTO_RELOAD_STOPPED %d for a bound of %d", n.code, v.autoReload);
        break;
      case QUILLO_NOTICE_FRAME:
        ++m_frames;
        CHECK(n.rect.x >= 0 && n.rect.y >= 0 && n.rect.x + n.rect.width <= v.memory->width &&
                  n.rect.y + n.rect.height <= v.memory->height,
              "a frame rectangle outside the memory");
        break;
      case QUILLO_NOTICE_DIALOG:
        v.dialogs.push_back(n.id);
        break;
      case QUILLO_NOTICE_MESSAGE:
        ++m_messages;
        v.messages.push_back(n.id);
        break;
      case QUILLO_NOTICE_SCRIPT_RESULT:
        ++m_results;
        break;
      case QUILLO_NOTICE_REQUEST: {
        ++m_requests;
        CHECK(std::strncmp(n.text, "asset://", 8) == 0, "a request of another scheme: %s", n.text);
        CHECK(n.headers != nullptr, "a request without headers");
        Request request;
        request.id = n.id;
        request.url = n.text;
        if (request.url.find("/range") != std::string::npos &&
            request.url.find("/range.html") == std::string::npos)
          CHECK(std::strstr(n.headers, "Range: bytes=") != nullptr,
                "a range request without its "
                "Range header: %s",
                n.headers);
        v.requests.push_back(request);
        // The range page's fetches are mostly answered at once, so that its checks run often.
        if (request.url.find("/range") != std::string::npos && Chance(70)) {
          const Outcome outcome =
              request.url.find("/range.html") != std::string::npos
                  ? Result(quillo_view_respond(v.handle, n.id, 200, "text/html", kRangePage,
                                               std::strlen(kRangePage), 1),
                           true)
                  : AnswerRange(v, v.requests.back());
          if (outcome != Outcome::kOpen) v.requests.pop_back();
          if (outcome == Outcome::kLetGo) v.letGo.push_back(n.id);
        }
        break;
      }
      case QUILLO_NOTICE_AUDIO:
        // Each change once: started and stopped in turn, starting with a start.
        CHECK(n.code == 1 - v.audio, "AUDIO %d after AUDIO %d", n.code, v.audio);
        v.audio = n.code;
        ++m_sounds;
        break;
      case QUILLO_NOTICE_REQUEST_ENDED: {
        // Told once, for a request the host had not ended.
        ++m_ended;
        auto open = std::find_if(v.requests.begin(), v.requests.end(),
                                 [&](const Request& r) { return r.id == n.id; });
        auto refused = std::find(v.letGo.begin(), v.letGo.end(), n.id);
        CHECK(open != v.requests.end() || refused != v.letGo.end(),
              "REQUEST_ENDED for request %d, which the host ended or never had", int(n.id));
        if (open != v.requests.end()) v.requests.erase(open);
        if (refused != v.letGo.end()) v.letGo.erase(refused);
        break;
      }
      case QUILLO_NOTICE_TITLE:
        CHECK(std::strncmp(n.text, "range-bad", 9) != 0, "a range went wrong: %s", n.text);
        break;
      case QUILLO_NOTICE_IME_CARET:
        CHECK(n.rect.width > 0 && n.rect.height > 0 && (n.code == 0 || n.code == 1),
              "a caret of %dx%d, code %d", n.rect.width, n.rect.height, n.code);
        break;
      case QUILLO_NOTICE_CLIPBOARD:
        ++m_copies;
        CHECK(n.code == QUILLO_CLIPBOARD_COPY || n.code == QUILLO_CLIPBOARD_CUT,
              "a clipboard notice of code %d", n.code);
        CHECK(n.text[0] != '\0' || n.detail[0] != '\0', "an empty clipboard notice");
        break;
      case QUILLO_NOTICE_LOAD_STARTED:
        // A page that goes takes its dialogs with it.
        v.dialogs.clear();
        break;
      default:
        break;
    }
    if (mayDestroy && Pick(1000) < 3) {
      // Destroyed inside its own notice loop: the next take is refused.
      quillo_view* handle = v.handle;
      for (size_t i = 0; i < m_views.size(); ++i)
        if (m_views[i].handle == handle) {
          Destroy(i);
          break;
        }
      CHECK(quillo_view_next_notice(handle, &n) == QUILLO_ERROR_BAD_HANDLE,
            "a view destroyed in its notice loop still answered");
      return;
    }
  }
  CHECK(r == 0, "next_notice gave %d", r);
}

void RandomHost::Pump() {
  CHECK(quillo_pump() == QUILLO_OK, "pump");
  for (size_t i = 0; i < m_views.size(); ++i) {
    const size_t before = m_views.size();
    TakeNotices(m_views[i], true);
    if (m_views.size() < before) return;  // the rest next time
  }
}

int RandomHost::Run(int steps) {
  quillo_set_log(std::getenv("QUILLO_RANDOM_HOST_LOG") != nullptr);
  CHECK(quillo_register_scheme("asset") == QUILLO_OK, "register the scheme");
  for (int step = 0; step < steps && g_failures == 0; ++step) {
    // A host's frame: a call or two now and then, a pump, and the rest of the frame's time for
    // the host's other work, so that pages get to load, paint and talk.
    const int what = Pick(1000);
    if (m_views.empty() || (what < 20 && m_views.size() < 3) || what < 4) {
      Create();
    } else if (what < 10) {
      Destroy(size_t(Pick(int(m_views.size()))));
    } else if (what < 40) {
      Resize(*Any());
    } else if (what < 240) {
      Input(*Any());
    } else if (what < 360) {
      Misc(*Any());
    } else if (what < 380) {
      Refused();
    } else if (what < 385) {
      OtherThread();
    } else if (what < 388) {
      KillWebProcess();
    } else if (what < 520) {
      Answer(*Any());
    } else if (what < 620) {
      // Mostly a view that shows the page of text input, when there is one.
      View* text = nullptr;
      for (View& v : m_views)
        if (v.textPage && Chance(70)) text = &v;
      TextInput(text ? *text : *Any());
    }
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(Chance(10) ? Pick(20) : 2));
  }
  // Let the engine catch up, then check every memory and shut down. The pages must have had a
  // life (frames reached the host); on a loaded machine the steps may all pass before the first
  // paint, so the host then shows its views and pumps until one comes, however long it takes
  // (within the test's time limit).
  if (m_frames == 0) {
    if (m_views.empty()) Create();
    for (View& v : m_views) quillo_view_set_hidden(v.handle, 0);
  }
  const auto start = std::chrono::steady_clock::now();
  const auto settle = start + std::chrono::milliseconds(500);
  const auto limit = start + std::chrono::minutes(3);
  for (auto now = start; g_failures == 0 && (now < settle || (m_frames == 0 && now < limit));
       now = std::chrono::steady_clock::now()) {
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (View& v : m_views) {
    CHECK(v.memory->Intact(), "guard bytes of a view's memory changed");
    CHECK(v.letGo.empty(), "%d requests refused as not open were never told ended",
          int(v.letGo.size()));
  }
  // The pages must have had a life: frames reached the host.
  CHECK(m_frames > 0, "no frame reached the host");
  CHECK(quillo_shutdown() == QUILLO_OK, "shutdown");
  for (View& v : m_views) {
    CHECK(v.memory->Intact(), "guard bytes changed at shutdown");
    delete v.memory;  // nothing writes it after quillo_shutdown
  }
  quillo_notice n = quillo_notice_init();
  CHECK(quillo_pump() == QUILLO_ERROR_SHUT_DOWN, "pump after shutdown");
  CHECK(quillo_view_next_notice(m_views.empty() ? nullptr : m_views[0].handle, &n) ==
            QUILLO_ERROR_SHUT_DOWN,
        "a call after shutdown");
  std::printf(
      "views random host: %d steps, %d views made, %d frames, %d messages, %d results, %d "
      "requests (%d ranged, %d ended by their page), %d copies, %d sound changes, %d refusals, "
      "%d processes killed, %d auto reloads, %d ready, %d editable, %d broken\n",
      steps, m_made, m_frames, m_messages, m_results, m_requests, m_ranges, m_ended, m_copies,
      m_sounds, m_errors, m_kills, m_autoReloads, m_ready, m_editables, g_failures);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t seed = 1;
  int steps = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seed") == 0)
      seed = uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
    if (std::strcmp(argv[i], "--steps") == 0) steps = std::atoi(argv[i + 1]);
  }
  std::printf("views random host: seed %u\n", seed);
  return RandomHost(seed).Run(steps);
}
