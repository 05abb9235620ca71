#include "engine/engine_harness.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>

#include "cef_parser.h"

namespace quillo_engine_test {
namespace {

// Longer than any healthy wait of these tests, even on a loaded machine.
constexpr auto kPumpBound = std::chrono::seconds(60);

}  // namespace

std::string PageUrl(const std::string& html) {
  return "data:text/html;base64," + CefBase64Encode(html.data(), html.size()).ToString();
}

std::string ColourPage(const std::string& title, const std::string& colour,
                       const std::string& script) {
  return PageUrl("<!DOCTYPE html><html><head><title>" + title +
                 "</title></head><body style=\"margin:0;background:" + colour + "\"><script>" +
                 script + "</script></body></html>");
}

RecordingClient::RecordingClient(int width, int height)
    : width_(width), height_(height), ui_thread_(std::this_thread::get_id()) {}

void RecordingClient::Violation(const std::string& what) {
  if (violations_.size() < 20) violations_.push_back(what);
}

void RecordingClient::Record(const CefRefPtr<CefBrowser>& browser, const std::string& event) {
  if (std::this_thread::get_id() != ui_thread_) Violation(event + ": off the UI thread");
  if (closed_) Violation(event + ": after OnBeforeClose");
  if (!browser || !browser_ || !browser->IsSame(browser_))
    Violation(event + ": for a browser that is not this client's");
  events_.push_back(event);
}

void RecordingClient::OnAfterCreated(CefRefPtr<CefBrowser> browser) {
  if (browser_ || !events_.empty()) Violation("OnAfterCreated after other callbacks");
  browser_ = browser;
  Record(browser, "created");
}

void RecordingClient::OnBeforeClose(CefRefPtr<CefBrowser> browser) {
  Record(browser, "closed");
  closed_ = true;
  // As CEF asks: the client lets go of its browser here (it holds the client in turn).
  browser_ = nullptr;
}

void RecordingClient::OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool,
                                           bool) {
  Record(browser, isLoading ? "loading 1" : "loading 0");
}

void RecordingClient::OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                  TransitionType) {
  if (!frame || !frame->IsMain()) Violation("OnLoadStart without the main frame");
  Record(browser, "start");
}

void RecordingClient::OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                int httpStatusCode) {
  if (!frame || !frame->IsMain()) Violation("OnLoadEnd without the main frame");
  Record(browser, "end " + std::to_string(httpStatusCode));
}

void RecordingClient::OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                  ErrorCode errorCode, const CefString& errorText,
                                  const CefString& failedUrl) {
  // The failing frame shows the URL it was loading.
  if (!frame || frame->GetURL().ToString() != failedUrl.ToString())
    Violation("OnLoadError: the frame does not show the failed URL " + failedUrl.ToString());
  Record(browser, "error " + std::to_string(errorCode) + " " + errorText.ToString() + " " +
                      failedUrl.ToString());
}

void RecordingClient::OnTitleChange(CefRefPtr<CefBrowser> browser, const CefString& title) {
  Record(browser, "title " + title.ToString());
}

bool RecordingClient::GetViewRect(CefRefPtr<CefBrowser>, CefRect& rect) {
  rect = CefRect(0, 0, width_, height_);
  return true;
}

void RecordingClient::OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type,
                              const RectList& dirtyRects, const void* buffer, int width,
                              int height) {
  if (std::this_thread::get_id() != ui_thread_) Violation("OnPaint off the UI thread");
  if (closed_) Violation("OnPaint after OnBeforeClose");
  if (!browser || !browser_ || !browser->IsSame(browser_))
    Violation("OnPaint for a browser that is not this client's");
  if (type != PET_VIEW) return;
  ++paints_;
  if (width != width_ || height != height_ || buffer == nullptr) {
    Violation("OnPaint of " + std::to_string(width) + "x" + std::to_string(height) +
              " for a view of " + std::to_string(width_) + "x" + std::to_string(height_));
    return;
  }
  if (dirtyRects.empty()) Violation("OnPaint without a dirty rectangle");
  // Which pixels the dirty rectangles cover; each lies inside the view.
  std::vector<uint8_t> dirty(static_cast<size_t>(width) * height, 0);
  for (const CefRect& r : dirtyRects) {
    if (r.width <= 0 || r.height <= 0 || r.x < 0 || r.y < 0 || r.x + r.width > width ||
        r.y + r.height > height) {
      Violation("dirty rectangle " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                std::to_string(r.width) + "x" + std::to_string(r.height) + " outside the view");
      continue;
    }
    for (int y = r.y; y < r.y + r.height; ++y)
      std::fill_n(&dirty[static_cast<size_t>(y) * width + r.x], r.width, 1);
  }
  // Rows are width*4 bytes apart; outside the dirty rectangles nothing changed since the
  // previous paint, and the first paint covers the whole view.
  const auto* pixels = static_cast<const uint8_t*>(buffer);
  const bool first = view_.empty();
  size_t changedOutside = 0, uncovered = 0, covered = 0;
  for (size_t i = 0; i < dirty.size(); ++i) {
    if (dirty[i]) {
      ++covered;
      continue;
    }
    if (first)
      ++uncovered;
    else if (std::memcmp(&view_[i * 4], &pixels[i * 4], 4) != 0)
      ++changedOutside;
  }
  if (covered == dirty.size()) ++whole_paints_;
  if (uncovered) Violation("the first paint leaves " + std::to_string(uncovered) + " pixels out");
  if (changedOutside)
    Violation(std::to_string(changedOutside) + " pixels changed outside the dirty rectangles");
  view_.assign(pixels, pixels + static_cast<size_t>(width) * height * 4);
}

bool RecordingClient::OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString&,
                                 JSDialogType dialog_type, const CefString& message_text,
                                 const CefString&, CefRefPtr<CefJSDialogCallback> callback, bool&) {
  const char* kind = dialog_type == JSDIALOGTYPE_CONFIRM  ? "confirm"
                     : dialog_type == JSDIALOGTYPE_PROMPT ? "prompt"
                                                          : "alert";
  Record(browser, std::string("dialog ") + kind + " " + message_text.ToString());
  if (!keep_dialogs_) return false;
  dialogs_.push_back(callback);
  return true;
}

std::vector<std::string> RecordingClient::EventsStarting(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& e : events_)
    if (e.rfind(prefix, 0) == 0) found.push_back(e);
  return found;
}

int RecordingClient::IndexOf(const std::string& event, size_t from) const {
  for (size_t i = from; i < events_.size(); ++i)
    if (events_[i] == event) return static_cast<int>(i);
  return -1;
}

std::string RecordingClient::Describe() const {
  std::ostringstream out;
  out << "events:";
  for (const std::string& e : events_) out << "\n  " << e;
  for (const std::string& v : violations_) out << "\n  VIOLATION " << v;
  return out.str();
}

uint32_t RecordingClient::PixelAt(int x, int y) const {
  if (view_.empty() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* p = &view_[(static_cast<size_t>(y) * width_ + x) * 4];
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void EngineTest::SetUp() {
  CefSettings settings;
  settings.windowless_rendering_enabled = 1;
  ASSERT_TRUE(CefInitialize(CefMainArgs(), settings, nullptr, nullptr));
}

void EngineTest::TearDown() {
  for (const auto& client : clients_)
    if (!client->closed() && client->browser()) client->browser()->GetHost()->CloseBrowser(true);
  EXPECT_TRUE(PumpUntil(
      [&] {
        for (const auto& client : clients_)
          if (client->browser() && !client->closed()) return false;
        return true;
      },
      "every browser closed"));
  clients_.clear();
  CefShutdown();
}

CefRefPtr<CefBrowser> EngineTest::Create(CefRefPtr<RecordingClient> client,
                                         const std::string& url) {
  CefWindowInfo window;
  window.windowless_rendering_enabled = 1;
  CefBrowserSettings settings;
  clients_.push_back(client);
  return CefBrowserHost::CreateBrowserSync(window, client.get(), CefString(url), settings, nullptr);
}

::testing::AssertionResult EngineTest::PumpUntil(const std::function<bool()>& done,
                                                 const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + kPumpBound;
  while (std::chrono::steady_clock::now() < deadline) {
    CefDoMessageLoopWork();
    if (done()) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return ::testing::AssertionFailure() << "never came: " << what;
}

void EngineTest::PumpFor(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    CefDoMessageLoopWork();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace quillo_engine_test
