// What the engine layer's contract tests share: the engine started on the test's own thread
// (which becomes its UI thread), pumped by the test, and a client that records every callback
// its browser gets, in order, and checks the paint buffer's contract at each paint.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cef_app.h"
#include "cef_browser.h"
#include "cef_client.h"

namespace quillo_engine_test {

// An HTML page as a data URL.
std::string PageUrl(const std::string& html);
// A page of one colour (CSS) with a title; its script runs after the title is set.
std::string ColourPage(const std::string& title, const std::string& colour,
                       const std::string& script = "");

// One browser's callbacks, recorded on the UI thread. Events are short texts:
//   created, closed, loading 1|0, start, end <status>, error <code> <text> <url>,
//   title <text>, dialog <alert|confirm|prompt> <message>
// Everything the client sees that breaks the engine layer's contract is a violation:
// a callback off the UI thread or for another browser, a paint of the wrong size, a dirty
// rectangle outside the view, a pixel that changed outside the dirty rectangles, a callback
// after OnBeforeClose.
class RecordingClient : public CefClient,
                        public CefLifeSpanHandler,
                        public CefLoadHandler,
                        public CefRenderHandler,
                        public CefDisplayHandler,
                        public CefJSDialogHandler {
 public:
  RecordingClient(int width, int height);

  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
  CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }
  CefRefPtr<CefJSDialogHandler> GetJSDialogHandler() override { return this; }

  void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
  void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;
  void OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack,
                            bool canGoForward) override;
  void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                   TransitionType transition_type) override;
  void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                 int httpStatusCode) override;
  void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                   const CefString& errorText, const CefString& failedUrl) override;
  void OnTitleChange(CefRefPtr<CefBrowser> browser, const CefString& title) override;
  bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) override;
  void OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type, const RectList& dirtyRects,
               const void* buffer, int width, int height) override;
  bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString& origin_url,
                  JSDialogType dialog_type, const CefString& message_text,
                  const CefString& default_prompt_text, CefRefPtr<CefJSDialogCallback> callback,
                  bool& suppress_message) override;

  // Dialogs are kept (their callbacks stored here) instead of answered at once.
  void KeepDialogs() { keep_dialogs_ = true; }
  const std::vector<CefRefPtr<CefJSDialogCallback>>& dialogs() const { return dialogs_; }

  CefRefPtr<CefBrowser> browser() const { return browser_; }
  const std::vector<std::string>& events() const { return events_; }
  // The events that start with prefix, in order.
  std::vector<std::string> EventsStarting(const std::string& prefix) const;
  // Index of the first event equal to `event` from `from` on, or -1.
  int IndexOf(const std::string& event, size_t from = 0) const;
  bool Saw(const std::string& event) const { return IndexOf(event) >= 0; }
  std::string Describe() const;

  const std::vector<std::string>& violations() const { return violations_; }
  int paints() const { return paints_; }
  // Paints whose dirty rectangles cover the whole view, and those that cover less.
  int whole_paints() const { return whole_paints_; }
  int partial_paints() const { return paints_ - whole_paints_; }
  bool closed() const { return closed_; }
  // B, G, R, A of the view's pixel as painted so far (0 before the first paint).
  uint32_t PixelAt(int x, int y) const;

 private:
  void Record(const CefRefPtr<CefBrowser>& browser, const std::string& event);
  void Violation(const std::string& what);

  const int width_;
  const int height_;
  const std::thread::id ui_thread_;
  CefRefPtr<CefBrowser> browser_;
  bool closed_ = false;
  bool keep_dialogs_ = false;
  std::vector<std::string> events_;
  std::vector<std::string> violations_;
  std::vector<CefRefPtr<CefJSDialogCallback>> dialogs_;
  std::vector<uint8_t> view_;  // the view as the paints left it
  int paints_ = 0;
  int whole_paints_ = 0;

  IMPLEMENT_REFCOUNTING(RecordingClient);
};

// The engine, started on the test's thread for the test and stopped after it. Each test runs in
// a process of its own: the engine starts once per process.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Closes the browsers still open, waits for their OnBeforeClose and stops the engine.
  void TearDown() override;

  // A windowless browser of the client's size on url (OnAfterCreated has been called).
  CefRefPtr<CefBrowser> Create(CefRefPtr<RecordingClient> client, const std::string& url);
  // Runs the engine's message loop until done() holds; fails after a bound that no healthy
  // run comes near.
  ::testing::AssertionResult PumpUntil(const std::function<bool()>& done, const std::string& what);
  // Runs the engine's message loop for about ms milliseconds: time for callbacks that must not
  // come to show up.
  void PumpFor(int ms);

 private:
  std::vector<CefRefPtr<RecordingClient>> clients_;
};

}  // namespace quillo_engine_test
