#include "support/views_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>

namespace quillo_test {

bool ViewsApi::Load(const LibraryCopy& lib, std::string* error) {
#define QUILLO_TEST_VIEWS_RESOLVE(name)                       \
  name = reinterpret_cast<decltype(name)>(lib.Symbol(#name)); \
  if (name == nullptr) {                                      \
    *error = "export not found: " #name;                      \
    return false;                                             \
  }
  QUILLO_TEST_VIEWS_FUNCTIONS(QUILLO_TEST_VIEWS_RESOLVE)
#undef QUILLO_TEST_VIEWS_RESOLVE
  return true;
}

std::string KindName(int kind) {
  switch (kind) {
    case QUILLO_NOTICE_FRAME:
      return "FRAME";
    case QUILLO_NOTICE_URL:
      return "URL";
    case QUILLO_NOTICE_TITLE:
      return "TITLE";
    case QUILLO_NOTICE_LOAD_STARTED:
      return "LOAD_STARTED";
    case QUILLO_NOTICE_LOAD_FINISHED:
      return "LOAD_FINISHED";
    case QUILLO_NOTICE_LOAD_FAILED:
      return "LOAD_FAILED";
    case QUILLO_NOTICE_DIALOG:
      return "DIALOG";
    case QUILLO_NOTICE_NEW_WINDOW:
      return "NEW_WINDOW";
    case QUILLO_NOTICE_CURSOR:
      return "CURSOR";
    case QUILLO_NOTICE_FOCUS:
      return "FOCUS";
    case QUILLO_NOTICE_MESSAGE:
      return "MESSAGE";
    case QUILLO_NOTICE_SCRIPT_RESULT:
      return "SCRIPT_RESULT";
    case QUILLO_NOTICE_PROCESS_GONE:
      return "PROCESS_GONE";
    case QUILLO_NOTICE_REQUEST:
      return "REQUEST";
    case QUILLO_NOTICE_CLOSED:
      return "CLOSED";
    case QUILLO_NOTICE_IME_CARET:
      return "IME_CARET";
    case QUILLO_NOTICE_CLIPBOARD:
      return "CLIPBOARD";
    case QUILLO_NOTICE_REQUEST_ENDED:
      return "REQUEST_ENDED";
    case QUILLO_NOTICE_AUDIO:
      return "AUDIO";
    case QUILLO_NOTICE_READY:
      return "READY";
    case QUILLO_NOTICE_AUTO_RELOAD:
      return "AUTO_RELOAD";
    case QUILLO_NOTICE_AUTO_RELOAD_STOPPED:
      return "AUTO_RELOAD_STOPPED";
    case QUILLO_NOTICE_EDITABLE:
      return "EDITABLE";
    default:
      return "kind " + std::to_string(kind);
  }
}

bool ValidUtf8(const std::string& text, size_t* characters) {
  size_t count = 0;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
    ++count;
  }
  if (characters) *characters = count;
  return true;
}

bool ValidEditable(const ViewNotice& n) {
  static const char* const kKinds[] = {
      "text", "search", "url", "tel", "email", "password", "number", "textarea", "contenteditable"};
  size_t characters = 0;
  return (n.code == 0 || n.code == 1) &&
         std::find(std::begin(kKinds), std::end(kKinds), n.detail) != std::end(kKinds) &&
         n.text.size() <= QUILLO_MAX_EDITABLE_TEXT && ValidUtf8(n.text, &characters) &&
         n.id <= characters && n.rect.width >= 0 && n.rect.height >= 0 &&
         (n.detail != "password" || n.text.empty()) && (n.code == 1 || n.text.empty());
}

std::string Describe(const ViewNotice& n) {
  std::string out =
      KindName(n.kind) + " code=" + std::to_string(n.code) + " id=" + std::to_string(n.id);
  if (n.kind == QUILLO_NOTICE_FRAME || n.kind == QUILLO_NOTICE_IME_CARET ||
      n.kind == QUILLO_NOTICE_EDITABLE)
    out += " rect=" + std::to_string(n.rect.x) + "," + std::to_string(n.rect.y) + " " +
           std::to_string(n.rect.width) + "x" + std::to_string(n.rect.height);
  if (!n.text.empty()) out += " text=\"" + n.text.substr(0, 120) + "\"";
  if (!n.detail.empty()) out += " detail=\"" + n.detail.substr(0, 120) + "\"";
  if (!n.inputMode.empty()) out += " input_mode=\"" + n.inputMode + "\"";
  return out;
}

ViewMemory::ViewMemory(int width, int height, size_t stride)
    : width_(width), height_(height), stride_(stride ? stride : static_cast<size_t>(width) * 4) {
  storage_.assign(kGuardBytes * 2 + stride_ * static_cast<size_t>(height), kGuardByte);
}

bool ViewMemory::Intact(std::string* where) const {
  auto fail = [&](const std::string& what) {
    if (where) *where = what;
    return false;
  };
  for (size_t i = 0; i < kGuardBytes; ++i) {
    if (storage_[i] != kGuardByte) return fail("guard before, byte " + std::to_string(i));
    if (storage_[storage_.size() - 1 - i] != kGuardByte)
      return fail("guard after, byte " + std::to_string(i));
  }
  const size_t row = static_cast<size_t>(width_) * 4;
  for (int y = 0; y < height_; ++y)
    for (size_t b = row; b < stride_; ++b)
      if (data()[static_cast<size_t>(y) * stride_ + b] != kGuardByte)
        return fail("padding of row " + std::to_string(y) + ", byte " + std::to_string(b));
  return true;
}

void ViewMemory::Fill(uint32_t value) {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      std::memcpy(data() + static_cast<size_t>(y) * stride_ + static_cast<size_t>(x) * 4, &value,
                  4);
}

std::array<uint8_t, 4> ViewMemory::At(int x, int y, bool bottomUp) const {
  const int row = bottomUp ? height_ - 1 - y : y;
  const uint8_t* p = data() + static_cast<size_t>(row) * stride_ + static_cast<size_t>(x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

std::array<uint8_t, 4> ViewMemory::Rgba(int x, int y, int format, bool bottomUp) const {
  const auto b = At(x, y, bottomUp);
  if (format == QUILLO_FORMAT_RGBA) return b;
  return {b[2], b[1], b[0], b[3]};
}

std::string DescribeRgba(const std::array<uint8_t, 4>& c) {
  char text[40];
  std::snprintf(text, sizeof(text), "rgba(%d,%d,%d,%d)", c[0], c[1], c[2], c[3]);
  return text;
}

bool NearRgba(const std::array<uint8_t, 4>& actual, const std::array<uint8_t, 4>& expected,
              int tolerance) {
  for (int i = 0; i < 4; ++i)
    if (std::abs(int{actual[i]} - int{expected[i]}) > tolerance) return false;
  return true;
}

quillo_view_config ViewsHost::ConfigFor(ViewMemory& memory) {
  quillo_view_config config = quillo_view_config_default();
  config.width = memory.width();
  config.height = memory.height();
  config.pixels = memory.data();
  config.stride = memory.stride();
  return config;
}

quillo_view* ViewsHost::Create(const quillo_view_config& config, const std::string& url) {
  quillo_view* view = nullptr;
  const int r = api_.quillo_view_create(&config, url.c_str(), &view);
  EXPECT_EQ(r, QUILLO_OK) << api_.quillo_result_text(r);
  if (r == QUILLO_OK) Track(view);
  return view;
}

quillo_view* ViewsHost::CreateHtml(const quillo_view_config& config, const std::string& html) {
  quillo_view* view = nullptr;
  const int r = api_.quillo_view_create_html(&config, html.c_str(), &view);
  EXPECT_EQ(r, QUILLO_OK) << api_.quillo_result_text(r);
  if (r == QUILLO_OK) Track(view);
  return view;
}

void ViewsHost::Track(quillo_view* view) {
  tracked_.push_back(view);
  notices_[view];
}

int ViewsHost::Destroy(quillo_view* view) {
  std::erase(tracked_, view);
  return api_.quillo_view_destroy(view);
}

void ViewsHost::Pump() {
  if (int r = api_.quillo_pump(); r != QUILLO_OK)
    violations_.push_back(std::string("quillo_pump: ") + api_.quillo_result_text(r));
  for (quillo_view* view : tracked_) {
    quillo_notice n = quillo_notice_init();
    int r;
    std::vector<ViewNotice>& log = notices_[view];
    const size_t before = log.size();
    while ((r = api_.quillo_view_next_notice(view, &n)) == 1) {
      if (n.text == nullptr || n.detail == nullptr || n.headers == nullptr ||
          n.input_mode == nullptr)
        violations_.push_back("a notice with a null text: " + KindName(n.kind));
      if (n.kind != QUILLO_NOTICE_REQUEST && n.headers && n.headers[0] != '\0')
        violations_.push_back("headers on a notice of kind " + KindName(n.kind));
      if (n.kind != QUILLO_NOTICE_EDITABLE && n.input_mode && n.input_mode[0] != '\0')
        violations_.push_back("an input mode on a notice of kind " + KindName(n.kind));
      log.push_back(ViewNotice{n.kind, n.code, n.id, n.rect, n.text ? n.text : "",
                               n.detail ? n.detail : "", n.headers ? n.headers : "",
                               n.input_mode ? n.input_mode : ""});
      // READY comes right after the FRAME notice of its frame, taken after the same pump.
      if (n.kind == QUILLO_NOTICE_READY &&
          (log.size() < 2 || log.size() - 1 <= before ||
           log[log.size() - 2].kind != QUILLO_NOTICE_FRAME || log[log.size() - 2].id != n.id))
        violations_.push_back("a READY notice not right after its frame's FRAME notice: " +
                              Describe(log.back()));
      if (n.kind == QUILLO_NOTICE_EDITABLE && !ValidEditable(log.back()))
        violations_.push_back("a broken EDITABLE notice: " + Describe(log.back()));
    }
    if (r != 0)
      violations_.push_back(std::string("quillo_view_next_notice: ") + api_.quillo_result_text(r));
  }
}

::testing::AssertionResult ViewsHost::PumpUntil(const std::function<bool()>& done,
                                                const std::string& what,
                                                std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    Pump();
    if (done()) return ::testing::AssertionSuccess();
    if (std::chrono::steady_clock::now() > end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  auto failure = ::testing::AssertionFailure() << "timed out waiting for " << what;
  for (quillo_view* view : tracked_) failure << "\n" << Recent(view);
  return failure;
}

int ViewsHost::Find(quillo_view* view, int kind, const std::string* text, size_t from) {
  const auto& list = notices_[view];
  for (size_t i = from; i < list.size(); ++i)
    if (list[i].kind == kind && (text == nullptr || list[i].text == *text))
      return static_cast<int>(i);
  return -1;
}

::testing::AssertionResult ViewsHost::WaitFor(quillo_view* view, int kind, const std::string* text,
                                              size_t from) {
  return PumpUntil([&] { return Find(view, kind, text, from) >= 0; },
                   KindName(kind) + (text ? " \"" + *text + "\"" : std::string()));
}

::testing::AssertionResult ViewsHost::WaitForTitle(quillo_view* view, const std::string& title,
                                                   size_t from) {
  return WaitFor(view, QUILLO_NOTICE_TITLE, &title, from);
}

void ViewsHost::PumpFor(std::chrono::milliseconds ms) {
  const auto end = std::chrono::steady_clock::now() + ms;
  while (std::chrono::steady_clock::now() < end) {
    Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int ViewsHost::FrameCount(quillo_view* view) {
  int n = 0;
  for (const auto& notice : notices_[view]) n += notice.kind == QUILLO_NOTICE_FRAME;
  return n;
}

std::string ViewsHost::Recent(quillo_view* view, size_t count) {
  const auto& list = notices_[view];
  std::string out = "notices of view " +
                    std::to_string(reinterpret_cast<uintptr_t>(view) & 0xFFFFFF) + " (" +
                    std::to_string(list.size()) + "):";
  // The last notices other than frames (frames are many and say little), then the last frame.
  std::vector<size_t> shown;
  for (size_t i = list.size(); i-- > 0 && shown.size() < count;)
    if (list[i].kind != QUILLO_NOTICE_FRAME) shown.insert(shown.begin(), i);
  for (size_t i : shown) out += "\n  [" + std::to_string(i) + "] " + Describe(list[i]);
  for (size_t i = list.size(); i-- > 0;)
    if (list[i].kind == QUILLO_NOTICE_FRAME) {
      out += "\n  last frame: [" + std::to_string(i) + "] " + Describe(list[i]);
      break;
    }
  return out;
}

}  // namespace quillo_test
