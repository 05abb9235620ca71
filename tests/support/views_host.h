// Driving the views interface of a library copy the way a host does: the functions of
// quillo/views.h resolved from the copy, a pump loop that takes every tracked view's notices
// into a log of its own, and pixel memory with guard bytes around it and between its rows.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "quillo/views.h"
#include "support/library_copy.h"

namespace quillo_test {

// One X(name) a line (the formatter would fold them into a staircase).
// clang-format off
#define QUILLO_TEST_VIEWS_FUNCTIONS(X) \
  X(quillo_result_text) \
  X(quillo_set_log) \
  X(quillo_view_create) \
  X(quillo_view_create_html) \
  X(quillo_view_destroy) \
  X(quillo_pump) \
  X(quillo_shutdown) \
  X(quillo_view_next_notice) \
  X(quillo_view_set_hidden) \
  X(quillo_view_load_url) \
  X(quillo_view_load_html) \
  X(quillo_view_go_back) \
  X(quillo_view_go_forward) \
  X(quillo_view_reload) \
  X(quillo_view_stop) \
  X(quillo_view_mouse_move) \
  X(quillo_view_mouse_button) \
  X(quillo_view_mouse_wheel) \
  X(quillo_view_key) \
  X(quillo_view_set_focus) \
  X(quillo_view_answer_dialog) \
  X(quillo_view_resize) \
  X(quillo_view_set_device_scale) \
  X(quillo_view_set_zoom) \
  X(quillo_view_set_frame_rate) \
  X(quillo_view_set_user_agent) \
  X(quillo_view_eval) \
  X(quillo_view_reply) \
  X(quillo_register_scheme) \
  X(quillo_view_respond) \
  X(quillo_view_ime_set_composition) \
  X(quillo_view_ime_commit) \
  X(quillo_view_ime_cancel) \
  X(quillo_view_copy) \
  X(quillo_view_cut) \
  X(quillo_view_paste) \
  X(quillo_view_respond_range) \
  X(quillo_view_touch) \
  X(quillo_view_set_muted)
// clang-format on

// The functions of quillo/views.h, under their own names.
struct ViewsApi {
#define QUILLO_TEST_VIEWS_MEMBER(name) decltype(&::name) name = nullptr;
  QUILLO_TEST_VIEWS_FUNCTIONS(QUILLO_TEST_VIEWS_MEMBER)
#undef QUILLO_TEST_VIEWS_MEMBER

  // Resolves every function from the copy; false, naming the missing one, when one is absent.
  bool Load(const LibraryCopy& lib, std::string* error);
};

// A notice as the host took it, with copies of its texts.
struct ViewNotice {
  int kind = 0;
  int code = 0;
  uint64_t id = 0;
  quillo_rect rect{};
  std::string text;
  std::string detail;
  std::string headers;
  std::string inputMode;
};

std::string KindName(int kind);
// Whether text is valid UTF-8 (no surrogates, no overlong forms); *characters its code points.
bool ValidUtf8(const std::string& text, size_t* characters = nullptr);
// Whether an EDITABLE notice holds what the header promises (a known kind, its text valid UTF-8
// within the limit and empty for a password or a loss, the caret within the text).
bool ValidEditable(const ViewNotice& notice);
std::string Describe(const ViewNotice& notice);

// Host memory for one view: height rows of stride bytes (stride >= width * 4, the bytes past
// each row's pixels are padding), with guard regions before and after. Guards and padding hold a
// pattern the library must never change.
class ViewMemory {
 public:
  static constexpr size_t kGuardBytes = 16 * 1024;
  static constexpr uint8_t kGuardByte = 0xA5;

  ViewMemory(int width, int height, size_t stride = 0);

  int width() const { return width_; }
  int height() const { return height_; }
  size_t stride() const { return stride_; }
  uint8_t* data() { return storage_.data() + kGuardBytes; }
  const uint8_t* data() const { return storage_.data() + kGuardBytes; }

  // Whether the guards and every row's padding still hold their pattern; *where says what
  // changed otherwise.
  bool Intact(std::string* where = nullptr) const;
  // Fills the pixels (not the padding) with one 4-byte value.
  void Fill(uint32_t value);

  // The bytes of page pixel (x, y) in memory order, for the view's row order.
  std::array<uint8_t, 4> At(int x, int y, bool bottomUp = false) const;
  // The same as R, G, B, A, for the view's format and row order.
  std::array<uint8_t, 4> Rgba(int x, int y, int format = QUILLO_FORMAT_BGRA,
                              bool bottomUp = false) const;

 private:
  int width_, height_;
  size_t stride_;
  std::vector<uint8_t> storage_;
};

std::string DescribeRgba(const std::array<uint8_t, 4>& rgba);
// Whether each channel is within tolerance.
bool NearRgba(const std::array<uint8_t, 4>& actual, const std::array<uint8_t, 4>& expected,
              int tolerance = 3);

inline constexpr std::chrono::milliseconds kViewsDeadline{30000};

class ViewsHost {
 public:
  explicit ViewsHost(const ViewsApi& api) : api_(api) {}

  // The config a test starts from: memory's size, pixels and stride.
  static quillo_view_config ConfigFor(ViewMemory& memory);

  // Creates a view and tracks it; fails the test when the call does not return QUILLO_OK.
  quillo_view* Create(const quillo_view_config& config, const std::string& url);
  quillo_view* CreateHtml(const quillo_view_config& config, const std::string& html);
  // Notices of view are taken by every Pump from now on.
  void Track(quillo_view* view);
  // Destroys view and stops tracking it (its notices taken so far stay readable).
  int Destroy(quillo_view* view);

  // One quillo_pump, then every tracked view's notices taken; a pump or notice call that does
  // not succeed is recorded as a violation.
  void Pump();
  // Pumps (about every millisecond) until done() holds; fails naming `what` and showing the
  // latest notices after the deadline.
  ::testing::AssertionResult PumpUntil(const std::function<bool()>& done, const std::string& what,
                                       std::chrono::milliseconds deadline = kViewsDeadline);
  // Pumps until view has a notice of kind (with exactly text, when given) at index from or later.
  ::testing::AssertionResult WaitFor(quillo_view* view, int kind, const std::string* text = nullptr,
                                     size_t from = 0);
  ::testing::AssertionResult WaitForTitle(quillo_view* view, const std::string& title,
                                          size_t from = 0);
  // Pumps for about ms milliseconds.
  void PumpFor(std::chrono::milliseconds ms);

  const std::vector<ViewNotice>& Notices(quillo_view* view) { return notices_[view]; }
  // Index of the first notice of kind (and text) at from or later, or -1.
  int Find(quillo_view* view, int kind, const std::string* text = nullptr, size_t from = 0);
  int FrameCount(quillo_view* view);
  std::string Recent(quillo_view* view, size_t count = 12);

  const std::vector<std::string>& violations() const { return violations_; }

 private:
  const ViewsApi& api_;
  std::vector<quillo_view*> tracked_;
  std::map<quillo_view*, std::vector<ViewNotice>> notices_;
  std::vector<std::string> violations_;
};

}  // namespace quillo_test
