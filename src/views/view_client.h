// One view's engine side: the client of its browser. It creates the browser with the view's
// settings, carries out the host's calls that the views engine hands it as tasks, paints the
// engine's frames into the view's current ViewFrames, and turns every handler callback that the
// host hears of into an event, in the order the engine calls them.
//
// Threads: the engine thread only (construction, tasks, every handler). The views engine holds
// it from creation until the browser's OnBeforeClose; the browser holds it as its client.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cef_client.h"
#include "client/frame_painter.h"
#include "views/view_config.h"
#include "views/view_event.h"
#include "views/view_frames.h"
#include "views/view_resource.h"

namespace quillo::views {

class ViewsEngine;

class ViewClient : public CefClient,
                   public CefLifeSpanHandler,
                   public CefDisplayHandler,
                   public CefFocusHandler,
                   public CefLoadHandler,
                   public CefRequestHandler,
                   public CefJSDialogHandler,
                   public CefRenderHandler,
                   public CefPageMessageHandler,
                   public CefClipboardHandler,
                   public ResourceOwner {
 public:
  // engine outlives every client (it is kept for the process).
  ViewClient(ViewsEngine& engine, uint64_t view, const ViewSettings& settings,
             std::shared_ptr<ViewFrames> frames);
  ~ViewClient() override;

  // ---- Tasks from the host (engine thread).
  // Creates the browser showing url; false (and an event saying so) when it cannot be made.
  bool Create(const std::string& url);
  // Closes the browser at once; OnBeforeClose lets the engine forget this client.
  void Close();
  // The view's memory changed size or scale: frames of the new geometry from now on.
  void Resize(std::shared_ptr<ViewFrames> frames);
  void LoadUrl(const std::string& url);
  void GoBack();
  void GoForward();
  void Reload();
  void Stop();
  void SetHidden(bool hidden);
  void SetFocus(bool focused);
  void MouseMove(int x, int y, uint32_t flags);
  void MouseButton(int button, bool down, int x, int y, int clickCount, uint32_t flags);
  void MouseWheel(int x, int y, int dx, int dy, uint32_t flags);
  // A finger's QUILLO_TOUCH_* at (x, y) memory pixels.
  void Touch(int action, int id, int x, int y, uint32_t modifiers);
  void SetMuted(bool muted);
  // A key down (with the text it types, UTF-16) or up; key code 0: the text alone.
  void KeyAndText(bool down, int keyCode, uint32_t modifiers, const std::u16string& text);
  void AnswerDialog(uint64_t id, bool accept, const std::string& text);
  // Runs script; its SCRIPT_RESULT notice carries requestId.
  void Evaluate(const std::string& script, uint64_t requestId);
  void Reply(uint64_t messageId, bool ok, const std::string& text);
  void SetZoom(double zoom);
  void SetFrameRate(int rate);
  void SetUserAgent(const std::string& agent);
  // The host's answer to the REQUEST request id (ignored once that request has ended).
  void Respond(uint64_t id, ResourceAnswer&& answer);

  // ---- Composition input and the clipboard (tasks from the host, engine thread).
  // text in UTF-16; underlines and the caret in UTF-16 code units.
  void ImeSetComposition(const std::u16string& text,
                         const std::vector<CefCompositionUnderline>& underlines, uint32_t caret);
  void ImeCommit(const std::u16string& text);
  void ImeCancel();
  void Copy();
  void Cut();
  void Paste(const std::string& text, const std::string& html);
  // The host side's reload after the web process ended (config.auto_reload); left out when a
  // load has started since the process ended.
  void AutoReload(int attempt);

  // Whether browser is this view's.
  bool Shows(const CefRefPtr<CefBrowser>& browser) const {
    return m_browser && browser && m_browser->IsSame(browser);
  }
  // A request of a host-served scheme from this view's page: its REQUEST notice goes to the
  // host, and the handler returned answers the engine as the host answers. Null (the request is
  // refused) while QUILLO_MAX_OPEN_REQUESTS of the view's requests are open, or the view closes.
  CefRefPtr<CefResourceHandler> NewResource(CefRefPtr<CefRequest> request);
  // ResourceOwner: the page let go of an open request; the host hears of it.
  void ResourceGone(uint64_t id) override;

  // CefClient
  CefRefPtr<CefDisplayHandler> GetDisplayHandler() override { return this; }
  CefRefPtr<CefFocusHandler> GetFocusHandler() override { return this; }
  CefRefPtr<CefJSDialogHandler> GetJSDialogHandler() override { return this; }
  CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() override { return this; }
  CefRefPtr<CefLoadHandler> GetLoadHandler() override { return this; }
  CefRefPtr<CefRenderHandler> GetRenderHandler() override { return this; }
  CefRefPtr<CefRequestHandler> GetRequestHandler() override { return this; }
  CefRefPtr<CefPageMessageHandler> GetPageMessageHandler() override { return this; }
  CefRefPtr<CefClipboardHandler> GetClipboardHandler() override { return this; }

  // CefLifeSpanHandler
  bool OnBeforePopup(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                     const CefString& target_url, const CefString& target_frame_name,
                     cef_window_open_disposition_t target_disposition, bool user_gesture,
                     const CefPopupFeatures& popupFeatures, CefWindowInfo& windowInfo,
                     CefRefPtr<CefClient>& client, CefBrowserSettings& settings,
                     bool* no_javascript_access) override;
  void OnBeforeClose(CefRefPtr<CefBrowser> browser) override;

  // CefDisplayHandler
  void OnAddressChange(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                       const CefString& url) override;
  void OnTitleChange(CefRefPtr<CefBrowser> browser, const CefString& title) override;
  void OnAudioStateChange(CefRefPtr<CefBrowser> browser, bool audible) override;

  // CefFocusHandler
  void OnGotFocus(CefRefPtr<CefBrowser> browser) override;

  // CefLoadHandler
  void OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                   TransitionType transition_type) override;
  void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                 int httpStatusCode) override;
  void OnLoadError(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                   const CefString& errorText, const CefString& failedUrl) override;
  void OnPageReady(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                   const CefString& url) override;

  // CefRequestHandler
  void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser, TerminationStatus status) override;

  // CefPageMessageHandler
  void OnPageMessage(CefRefPtr<CefBrowser> browser, int64 message_id,
                     const CefString& text) override;

  // Engine thread: tells the host of an event of this view (also after the browser went).
  void Emit(int kind, int code = 0, uint64_t id = 0, std::string text = {},
            std::string detail = {});

  // CefJSDialogHandler
  bool OnJSDialog(CefRefPtr<CefBrowser> browser, const CefString& origin_url,
                  JSDialogType dialog_type, const CefString& message_text,
                  const CefString& default_prompt_text, CefRefPtr<CefJSDialogCallback> callback,
                  bool& suppress_message) override;

  // CefRenderHandler
  bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) override;
  bool GetScreenInfo(CefRefPtr<CefBrowser> browser, CefScreenInfo& screen_info) override;
  void OnPopupShow(CefRefPtr<CefBrowser> browser, bool show) override;
  void OnPopupSize(CefRefPtr<CefBrowser> browser, const CefRect& rect) override;
  void OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type, const RectList& dirtyRects,
               const void* buffer, int width, int height) override;
  void OnCursorChange(CefRefPtr<CefBrowser> browser, CefCursorHandle cursor, CursorType type,
                      const CefCursorInfo& custom_cursor_info) override;
  void OnImeCompositionRangeChanged(CefRefPtr<CefBrowser> browser, const CefRange& selected_range,
                                    const RectList& character_bounds) override;
  void OnFocusedEditableChanged(CefRefPtr<CefBrowser> browser,
                                const CefEditableInfo& info) override;

  // CefClipboardHandler
  void OnClipboardWrite(CefRefPtr<CefBrowser> browser, bool cut, const CefString& text,
                        const CefString& html) override;

 private:
  CefRefPtr<CefBrowserHost> Host() const;
  bool IsMain(const CefRefPtr<CefFrame>& frame) const { return frame && frame->IsMain(); }

  ViewsEngine& m_engine;
  const uint64_t m_view;
  ViewSettings m_settings;               // as the host's calls changed them
  std::shared_ptr<ViewFrames> m_frames;  // the size the page paints at now
  FramePainter m_painter;
  CefRefPtr<CefBrowser> m_browser;  // from Create until OnBeforeClose
  bool m_closing = false;           // Close was asked for (a host's destroy)
  uint64_t m_resizes = 0;           // Resize calls so far (the host's side counts them too)
  bool m_loadSinceGone = true;      // a main-frame load started since the web process last ended
  uint64_t m_nextDialogId = 1;
  std::map<uint64_t, CefRefPtr<CefJSDialogCallback>> m_dialogs;  // open, by id
  uint32_t m_buttons = 0;  // EVENTFLAG_*_MOUSE_BUTTON of the buttons held down
  uint64_t m_nextRequestId = 1;
  // Requests of host-served schemes the host has not ended and the page has not let go of, by id
  // (at most QUILLO_MAX_OPEN_REQUESTS).
  std::map<uint64_t, CefRefPtr<ViewResource>> m_resources;
  // Requests refused since the view last reached QUILLO_MAX_OPEN_REQUESTS open ones (the first
  // refusal is logged, and their number once half the requests have ended); -1: none refused.
  int64_t m_refusedRequests = -1;

  // Lets go of every open request (the view closes).
  void AbandonResources();
  // An open request ended: after a refusal, half the open requests ended let requests in again.
  void RequestEnded();

  IMPLEMENT_REFCOUNTING(ViewClient);
};

}  // namespace quillo::views
