// A frame of a browser: the main frame, which lives as long as its browser,
// and snapshots of sub-frames handed to handlers. Its URL is kept current by
// the UI thread and read from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "cef_frame.h"

namespace quillo::engine {

// What a frame asks of its browser, which implements it. Any thread.
class FrameOwner {
 public:
  virtual CefBrowser* Browser() = 0;
  virtual void LoadUrlInMainFrame(const CefString& url) = 0;
  // Points the sub-frames showing frameUrl at url.
  virtual void LoadUrlInSubframe(const CefString& frameUrl, const CefString& url) = 0;
  virtual void RunScriptInMainFrame(const CefString& code) = 0;
  // Runs code in the main frame; callback gets its value or exception (always, once).
  virtual void EvaluateInMainFrame(const CefString& code,
                                   CefRefPtr<CefEvaluateCallback> callback) = 0;
  // The clipboard commands of the main frame (see CefFrame).
  virtual void CopyInMainFrame() = 0;
  virtual void CutInMainFrame() = 0;
  virtual void PasteInMainFrame() = 0;
  virtual void PasteTextInMainFrame(const CefString& text, const CefString& html) = 0;

 protected:
  ~FrameOwner() = default;
};

class FrameImpl : public CefFrame {
 public:
  // owner: the browser, which outlives the frame's use (the frame holds no
  // reference to avoid a cycle; GetBrowser adds one) and detaches it when it
  // is destroyed.
  FrameImpl(FrameOwner* owner, bool is_main, int64 id, const std::u16string& url = {});

  bool IsValid() override;
  void LoadURL(const CefString& url) override;
  void ExecuteJavaScript(const CefString& code, const CefString& script_url,
                         int start_line) override;
  void EvaluateJavaScript(const CefString& code, CefRefPtr<CefEvaluateCallback> callback) override;
  bool IsMain() override { return m_isMain; }
  bool IsFocused() override { return m_isMain; }
  CefString GetName() override { return CefString(); }
  int64 GetIdentifier() override { return m_id; }
  CefRefPtr<CefFrame> GetParent() override { return nullptr; }
  CefString GetURL() override;
  CefRefPtr<CefBrowser> GetBrowser() override;
  void Copy() override;
  void Cut() override;
  void Paste() override;
  void PasteText(const CefString& text, const CefString& html) override;

  // A sub-frame of the same browser, as the handlers are told of it.
  CefRefPtr<FrameImpl> SubFrame(int64 id, const std::u16string& url);
  // UI thread: records the frame's current URL.
  void SetURL(const std::u16string& url);
  // Detaches from the browser when it is destroyed.
  void Detach() { m_owner.store(nullptr); }

 private:
  std::atomic<FrameOwner*> m_owner;  // null once the browser is gone
  const bool m_isMain;
  const int64 m_id;
  // Written on the UI thread, read anywhere; replaced whole, never mutated.
  std::atomic<std::shared_ptr<const std::u16string>> m_url;

  IMPLEMENT_REFCOUNTING(FrameImpl);
};

}  // namespace quillo::engine
