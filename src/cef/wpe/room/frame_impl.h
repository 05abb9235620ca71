// The main frame of a browser. Its URL is kept current by the UI thread and
// read from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "cef_frame.h"

namespace quillo::engine {

class BrowserImpl;

class FrameImpl : public CefFrame {
 public:
  // browser: the owning browser, which outlives the frame's use (the frame
  // holds no reference to avoid a cycle; GetBrowser adds one).
  FrameImpl(BrowserImpl* browser, bool is_main, int64 id, const std::u16string& url = {});

  bool IsValid() override;
  void LoadURL(const CefString& url) override;
  void ExecuteJavaScript(const CefString& code, const CefString& script_url,
                         int start_line) override;
  bool IsMain() override { return m_isMain; }
  bool IsFocused() override { return m_isMain; }
  CefString GetName() override { return CefString(); }
  int64 GetIdentifier() override { return m_id; }
  CefRefPtr<CefFrame> GetParent() override { return nullptr; }
  CefString GetURL() override;
  CefRefPtr<CefBrowser> GetBrowser() override;

  // UI thread: records the frame's current URL.
  void SetURL(const std::u16string& url);
  // Detaches from the browser when it is destroyed.
  void Detach() { m_browser.store(nullptr); }

 private:
  std::atomic<BrowserImpl*> m_browser;  // null once the browser is gone
  const bool m_isMain;
  const int64 m_id;
  // Written on the UI thread, read anywhere; replaced whole, never mutated.
  std::atomic<std::shared_ptr<const std::u16string>> m_url;

  IMPLEMENT_REFCOUNTING(FrameImpl);
};

}  // namespace quillo::engine
