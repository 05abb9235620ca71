// CWebClient: the one client of the browser. The engine asks it for every
// handler; it holds the browser, writes painted pixels into the host's
// memory and keeps the notices that UpdateWeb collects.
//
// Threads: the engine calls every handler on the engine thread. The host's
// thread calls GetBrowser, LoadUrl and ExecuteJavaScript and reads and clears
// the notices (UpdateWeb); the input thread sends input and answers dialogs.
// Every notice is a one-byte or 32-bit atomic raised after its text is
// published, and read-and-cleared with an exchange.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cef_client.h"
#include "client/atomic_ref_ptr.h"
#include "client/frame_painter.h"
#include "client/frame_store.h"
#include "client/notice_text.h"

namespace quillo {

constexpr size_t kNoticeTextSize = 2048;
constexpr size_t kDialogTextSize = 4096;

class CWebClient : public CefClient,
                   public CefLifeSpanHandler,
                   public CefDisplayHandler,
                   public CefFocusHandler,
                   public CefLoadHandler,
                   public CefRequestHandler,
                   public CefJSDialogHandler,
                   public CefRenderHandler,
                   public CefDownloadHandler {
 public:
  // Host thread (inside the first LoadWeb). url may be null (loads nothing).
  CWebClient(const CefRect& viewRect, void* renderBuffer, const char* url, int loadFlags);
  ~CWebClient() override;

  // CefClient
  CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }
  CefRefPtr<CefDownloadHandler> GetDownloadHandler() override { return this; }
  CefRefPtr<CefFocusHandler> GetFocusHandler() override { return this; }
  CefRefPtr<CefJSDialogHandler> GetJSDialogHandler() override { return this; }
  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  bool OnProcessMessageReceived(CefRefPtr<CefBrowser>, CefProcessId,
                                CefRefPtr<CefProcessMessage>) override {
    return false;
  }

  // Browser bookkeeping; any thread.
  CefRefPtr<CefBrowser> GetBrowser() const { return m_browser.Load(); }
  bool HasBrowser() const { return !m_browser.IsNull(); }
  void SetBrowser(CefRefPtr<CefBrowser> browser);  // engine thread
  // Host thread, only while no browser exists (creation settings).
  void SetUrl(const char* url);
  CefString GetHomeUrl() const { return m_homeUrl; }
  // Host thread: asks for url (or "quillo_htmlsource:" HTML) in the main frame of the browser
  // that exists or is being created; a later request replaces one not yet taken up.
  void LoadUrl(const char* url);
  // Host thread: forgets a request not yet taken up (a new browser is opened).
  void DropRequestedUrl();
  // Engine thread: loads the latest request into the browser, if both exist.
  void LoadRequestedUrl();
  // Counts the host's loads and openings (host thread writes, any thread reads), so that a
  // history move asked for before a later load can be told apart and dropped.
  uint32_t LoadGeneration() const { return m_loadGeneration.load(); }
  // Host thread: runs UTF-8 script in the main frame; nothing without a browser.
  void ExecuteJavaScript(const char* script);
  CefString ConvertUrl(const char* url) const;

  // Host thread, while no browser exists: makes the frame store for m_viewRect and m_loadFlags.
  void ConfigureFrames();
  // Host thread (UpdateWeb): copies the newest whole frame into the host's memory where it
  // differs from the one the host has; false, with nothing written, when none is new. The
  // host's memory changes nowhere else.
  bool DeliverFrame();
  // Any thread: nothing is written into the host's memory once this returns (a copy under way
  // on another thread is waited for); a later ConfigureFrames with new memory starts again.
  void StopDelivery();

  // Input thread: answers the waiting script dialog, at most once.
  void ReplyJSDialog(bool accept);

  // CefLifeSpanHandler
  bool OnBeforePopup(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                     const CefString& target_url, const CefString& target_frame_name,
                     cef_window_open_disposition_t target_disposition, bool user_gesture,
                     const CefPopupFeatures& popupFeatures, CefWindowInfo& windowInfo,
                     CefRefPtr<CefClient>& client, CefBrowserSettings& settings,
                     bool* no_javascript_access) override;
  void OnAfterCreated(CefRefPtr<CefBrowser> browser) override;
  void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;

  // CefDisplayHandler
  void OnTitleChange(CefRefPtr<CefBrowser> browser, const CefString& title) override;
  bool OnConsoleMessage(CefRefPtr<CefBrowser> browser, const CefString& message,
                        const CefString& source, int line) override;

  // CefFocusHandler
  void OnTakeFocus(CefRefPtr<CefBrowser> browser, bool next) override;
  bool OnSetFocus(CefRefPtr<CefBrowser> browser, FocusSource source) override;
  void OnGotFocus(CefRefPtr<CefBrowser> browser) override;

  // CefLoadHandler
  void OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack,
                            bool canGoForward) override;
  void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                   TransitionType transition_type) override;
  void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                 int httpStatusCode) override;
  void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                   const CefString& errorText, const CefString& failedUrl) override;

  // CefRequestHandler
  bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                      CefRefPtr<CefRequest> request, bool user_gesture, bool is_redirect) override;
  bool OnOpenURLFromTab(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                        const CefString& target_url,
                        cef_window_open_disposition_t target_disposition,
                        bool user_gesture) override;
  ReturnValue OnBeforeResourceLoad(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                   CefRefPtr<CefRequest> request,
                                   CefRefPtr<CefRequestCallback> callback) override;
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) override;

  // Any thread: whether the web process has ended and the host has not yet been handed the load
  // error that reports it. Meanwhile the engine does no work between the host's polls, so that
  // what the host asks for before it hears of the end comes before the end's error page.
  bool EndUnheard() const { return m_endUnheard.load() != 0; }
  // Host's thread: UpdateWeb has handed over a load error.
  void LoadErrorHeard() {
    int recorded = 2;
    m_endUnheard.compare_exchange_strong(recorded, 0);
  }

  // CefJSDialogHandler
  bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString& origin_url,
                  JSDialogType dialog_type, const CefString& message_text,
                  const CefString& default_prompt_text, CefRefPtr<CefJSDialogCallback> callback,
                  bool& suppress_message) override;
  bool OnBeforeUnloadDialog(CefRefPtr<CefBrowser> browser, const CefString& message_text,
                            bool is_reload, CefRefPtr<CefJSDialogCallback> callback) override;
  void OnResetDialogState(CefRefPtr<CefBrowser> browser) override;
  void OnDialogClosed(CefRefPtr<CefBrowser> browser) override;

  // CefRenderHandler
  bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) override;
  void OnPopupShow(CefRefPtr<CefBrowser> browser, bool show) override;
  void OnPopupSize(CefRefPtr<CefBrowser> browser, const CefRect& rect) override;
  void OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type, const RectList& dirtyRects,
               const void* buffer, int width, int height) override;
  void OnCursorChange(CefRefPtr<CefBrowser> browser, CefCursorHandle cursor, CursorType type,
                      const CefCursorInfo& custom_cursor_info) override;

  // CefDownloadHandler
  void OnBeforeDownload(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> download_item,
                        const CefString& suggested_name,
                        CefRefPtr<CefBeforeDownloadCallback> callback) override;
  // A download that was interrupted is reported as a failed load (no error page: the page that
  // started it stays).
  void OnDownloadUpdated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefDownloadItem> download_item,
                         CefRefPtr<CefDownloadItemCallback> callback) override;

  // ---- Creation settings: written on the host's thread while no browser
  // exists, read on the engine thread after the create command's hand-over.
  CefRect m_viewRect;
  // The host's memory, written only by DeliverFrame on the host's thread. Null: paint and
  // deliver nothing (set by the host's thread when it closes the page).
  std::atomic<uint8_t*> m_renderBuffer;
  std::atomic<int> m_loadFlags;

  // ---- Host notices (engine thread raises; host's thread reads and clears).
  std::atomic<uint8_t> m_urlNotice{0};
  std::atomic<uint8_t> m_focused{0};  // also written by the input thread
  std::atomic<uint8_t> m_dialogNotice{0};
  std::atomic<uint8_t> m_titleNotice{0};
  std::atomic<uint8_t> m_popupNotice{0};
  std::atomic<int> m_cursorType{0};     // cursor type + 1; 0 = nothing pending
  std::atomic<int> m_loadErrorCode{0};  // 0 = none
  std::atomic<int> m_dialogType{0};
  // 1 from the web process's end (engine thread), 2 once its load error is recorded (engine
  // thread, before the error's code), 0 once UpdateWeb has handed that error over.
  std::atomic<int> m_endUnheard{0};
  NoticeText<kNoticeTextSize> m_urlText;  // last navigation URL or load-error text
  // The load error's own text: the error page's navigation overwrites
  // m_urlText at once, so the error notice reads this one.
  NoticeText<kNoticeTextSize> m_loadErrorText;
  NoticeText<kNoticeTextSize> m_titleText;
  NoticeText<kDialogTextSize> m_dialogText;

  // ---- Input thread only.
  CefMouseEvent m_mouseEvent;
  CefKeyEvent m_keyEvent;

 private:
  // Takes the waiting dialog's callback out, exclusively (input and engine
  // threads), so that it is answered at most once.
  CefRefPtr<CefJSDialogCallback> TakeDialogCallback();
  void ShowLoadErrorPage(CefRefPtr<CefFrame> frame, const std::string& failedUrl, int errorCode,
                         const std::string& errorText);

  // Replaced on the engine thread, copied anywhere.
  AtomicRefPtr<CefBrowser> m_browser;
  // Owns one reference while set; exchanged atomically.
  std::atomic<CefJSDialogCallback*> m_jsDialogCallback{nullptr};

  // Host thread (and the engine thread once the create command handed it over).
  CefString m_homeUrl;
  // The URL the host asked for last and the engine thread has not loaded yet: set by the host's
  // thread, taken by the engine thread, each with an exchange; the holder frees it.
  std::atomic<CefString*> m_requestedUrl{nullptr};
  std::atomic<uint32_t> m_loadGeneration{0};
  CefString m_frameUrl;  // engine thread: the last navigation's URL (any frame)

  // Painted on the engine thread, delivered on the host's; configured on the host's thread
  // while no browser exists.
  FrameStore m_frames;
  std::atomic<bool> m_delivering{false};  // DeliverFrame is copying into the host's memory

  // Engine thread only.
  FramePainter m_painter;  // paints into m_frames, with the open popup laid over the view
  uint64_t m_paintCount = 0;
  uint64_t m_bytesLogged = 0;  // bytes delivered up to the last close's log line

  const std::string m_htmlSourcePrefix{"quillo_htmlsource:"};

  IMPLEMENT_REFCOUNTING(CWebClient);
};

}  // namespace quillo
