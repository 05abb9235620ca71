#include "support/poller.h"

#include <cstdint>
#include <cstdio>
#include <thread>

#include "quillo.h"

namespace quillo_test {

void* const Host::kTextSentinel = reinterpret_cast<void*>(uintptr_t{0x51});

namespace {

constexpr int kTextBits = UPDATE_URL | UPDATE_TITLE | UPDATE_JS_DIALOG | UPDATE_LOAD_ERROR;
constexpr int kValueBits = UPDATE_JS_DIALOG | UPDATE_LOAD_ERROR;
constexpr int kKnownBits = UPDATE_CURSOR_MASK | UPDATE_NEW_FRAME | UPDATE_URL | UPDATE_FOCUSED |
                           UPDATE_JS_DIALOG | UPDATE_LOAD_ERROR | UPDATE_TITLE |
                           UPDATE_POPUP_BLOCKED;

}  // namespace

std::string DescribeBits(int bits) {
  if (bits == -1) return "-1";
  std::string text;
  auto add = [&](const char* name) { text += text.empty() ? name : std::string("|") + name; };
  if (bits & UPDATE_NEW_FRAME) add("NEW_FRAME");
  if (bits & UPDATE_URL) add("URL");
  if (bits & UPDATE_FOCUSED) add("FOCUSED");
  if (bits & UPDATE_JS_DIALOG) add("JS_DIALOG");
  if (bits & UPDATE_LOAD_ERROR) add("LOAD_ERROR");
  if (bits & UPDATE_TITLE) add("TITLE");
  if (bits & UPDATE_POPUP_BLOCKED) add("POPUP_BLOCKED");
  if (bits & UPDATE_CURSOR_MASK) add(("cursor+1=" + std::to_string(bits & 0xFF)).c_str());
  if (bits & ~kKnownBits) {
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "unknown 0x%x", unsigned(bits & ~kKnownBits));
    add(unknown);
  }
  return text.empty() ? "0" : text;
}

std::string Describe(const Notice& n) {
  std::string text = "#" + std::to_string(n.call) + " " + DescribeBits(n.bits);
  if (n.has_text) text += " text=\"" + n.text + "\"";
  if (n.has_value) text += " value=" + std::to_string(n.value);
  return text;
}

int Host::Update() {
  void* text = kTextSentinel;
  int value = kValueSentinel;
  const int bits = lib_.UpdateWeb(&text, &value);
  const size_t call = results_.size();
  results_.push_back(bits);

  auto breach = [&](const std::string& what) {
    violations_.push_back("call #" + std::to_string(call) + " (" + DescribeBits(bits) +
                          "): " + what);
  };
  if (bits == -1) {
    if (text != kTextSentinel) breach("-1 but *text was written");
    if (value != kValueSentinel) breach("-1 but *value was written");
    return bits;
  }
  if (bits < -1) breach("negative result other than -1");
  if (bits & ~kKnownBits) breach("bits outside the documented ones");
  const int text_bits = bits & kTextBits;
  if (text_bits & (text_bits - 1)) breach("more than one notice with text in one result");
  if ((bits & UPDATE_LOAD_ERROR) && bits != UPDATE_LOAD_ERROR) breach("load error not alone");
  if (!text_bits && text != kTextSentinel) breach("*text written without a text notice");
  if (!(bits & kValueBits) && value != kValueSentinel) breach("*value written without its notice");

  if (bits & UPDATE_NEW_FRAME) ++frames_;
  if (bits == 0) return bits;

  Notice notice;
  notice.call = call;
  notice.bits = bits;
  if (text_bits) {
    if (text == kTextSentinel || text == nullptr) {
      breach("text notice without a text");
    } else {
      notice.has_text = true;
      notice.text = static_cast<const char*>(text);
    }
  }
  if (bits & kValueBits) {
    notice.has_value = true;
    notice.value = value;
  }
  notices_.push_back(std::move(notice));
  return bits;
}

::testing::AssertionResult Host::PollUntil(const std::function<bool()>& done,
                                           const std::string& what,
                                           std::chrono::milliseconds deadline) {
  const auto start = std::chrono::steady_clock::now();
  const size_t first_call = results_.size();
  for (;;) {
    if (done()) return ::testing::AssertionSuccess();
    if (std::chrono::steady_clock::now() - start > deadline) break;
    Update();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  size_t not_ready = 0;
  for (size_t i = first_call; i < results_.size(); ++i) not_ready += results_[i] == -1;
  return ::testing::AssertionFailure()
         << "gave up after " << deadline.count() / 1000.0 << " s waiting for " << what << " ("
         << results_.size() - first_call << " UpdateWeb calls, " << not_ready
         << " answered -1); latest notices:\n"
         << Recent();
}

::testing::AssertionResult Host::WaitUntilReady() {
  return PollUntil([&] { return !results_.empty() && results_.back() != -1; },
                   "UpdateWeb to answer something other than -1");
}

::testing::AssertionResult Host::WaitForFrames(int count) {
  const int target = frames_ + count;
  return PollUntil([&] { return frames_ >= target; },
                   std::to_string(count) + " more UPDATE_NEW_FRAME results");
}

::testing::AssertionResult Host::WaitForTitle(const std::string& title, size_t from) {
  return PollUntil([&] { return SawTitle(title, from); }, "the title \"" + title + "\"");
}

std::vector<std::string> Host::Texts(int bit, size_t from) const {
  std::vector<std::string> texts;
  for (size_t i = from; i < notices_.size(); ++i) {
    if ((notices_[i].bits & bit) && notices_[i].has_text) texts.push_back(notices_[i].text);
  }
  return texts;
}

bool Host::SawTitle(const std::string& title, size_t from) const {
  for (const auto& t : Texts(UPDATE_TITLE, from)) {
    if (t == title) return true;
  }
  return false;
}

bool Host::SawUrl(const std::string& url, size_t from) const {
  for (const auto& t : Texts(UPDATE_URL, from)) {
    if (t == url) return true;
  }
  return false;
}

std::string Host::Recent(size_t count) const {
  std::string text;
  size_t shown = 0;
  // The focus level repeats on every call; show only notices that say more than that.
  for (size_t i = notices_.size(); i-- > 0 && shown < count;) {
    if ((notices_[i].bits & ~UPDATE_FOCUSED) == 0) continue;
    text = "  " + Describe(notices_[i]) + "\n" + text;
    ++shown;
  }
  return text.empty() ? "  (none)\n" : text;
}

}  // namespace quillo_test
