// The windowless browser on a WPE WebKit view whose frames arrive as shared
// memory buffers.
//
// One object is both the CefBrowser and its CefBrowserHost, a facade over the
// rooms that do the work: the view and its life (ViewHost), the frame path
// (FrameSink), input (InputRouter, which asks the <select> list's
// PopupController first), script dialogs (ScriptDialogs), navigation
// (NavigationTracker), the web process's messages (PageChannel), touch (TouchInput) and
// sound (AudioState). Each room
// sees the browser only through its narrow side (BrowserSide), and its frames
// through FrameOwner. Threads: it is created on the UI thread, where all
// WebKit calls happen and where its rooms live, and destroyed where its last
// reference goes. Its public CEF methods may be called on any thread: actions
// are posted to the UI thread (and dropped once the view is gone), queries
// read atomics that the UI thread keeps current. The facade keeps the two
// sequences that cross the rooms: the view's end and its web process's.
#pragma once

#include <wpe/webkit.h>

#include <atomic>
#include <functional>
#include <string>

#include "cef_browser.h"
#include "cef_client.h"
#include "wpe/frame/frame_sink.h"
#include "wpe/input/composition_input.h"
#include "wpe/input/input_router.h"
#include "wpe/input/popup_controller.h"
#include "wpe/input/touch_input.h"
#include "wpe/navigation/navigation_tracker.h"
#include "wpe/page/audio_state.h"
#include "wpe/page/clipboard_bridge.h"
#include "wpe/page/page_channel.h"
#include "wpe/page/page_messages.h"
#include "wpe/page/page_watch.h"
#include "wpe/page/script_dialogs.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"
#include "wpe/view_host.h"

namespace quillo::engine {

class BrowserImpl : public CefBrowser,
                    public CefBrowserHost,
                    private BrowserSide,
                    private FrameOwner {
 public:
  // UI thread. Creates the view and starts loading url once pending cookie
  // deletions have finished. Null when the view could not be created.
  static CefRefPtr<BrowserImpl> Create(CefRefPtr<CefClient> client, const CefWindowInfo& windowInfo,
                                       const CefBrowserSettings& settings, const CefString& url);

  // CefBrowser
  CefRefPtr<CefBrowserHost> GetHost() override { return this; }
  bool CanGoBack() override { return m_state.canGoBack.load(); }
  void GoBack() override;
  bool CanGoForward() override { return m_state.canGoForward.load(); }
  void GoForward() override;
  bool IsLoading() override { return m_state.isLoading.load(); }
  void Reload() override;
  void StopLoad() override;
  int GetIdentifier() override { return m_id; }
  bool IsSame(CefRefPtr<CefBrowser> that) override;
  bool IsPopup() override { return false; }
  bool HasDocument() override { return m_state.hasDocument.load(); }
  CefRefPtr<CefFrame> GetMainFrame() override { return m_mainFrame.get(); }
  CefRefPtr<CefFrame> GetFocusedFrame() override { return m_mainFrame.get(); }

  // CefBrowserHost
  CefRefPtr<CefBrowser> GetBrowser() override { return this; }
  void CloseBrowser(bool force_close) override;
  void SetFocus(bool focus) override;
  void WasResized() override;
  void NotifyScreenInfoChanged() override;
  void WasHidden(bool hidden) override;
  void Invalidate(PaintElementType type) override;
  void SendKeyEvent(const CefKeyEvent& event) override;
  void SendMouseClickEvent(const CefMouseEvent& event, MouseButtonType type, bool mouseUp,
                           int clickCount) override;
  void SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) override;
  void SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) override;
  void SendFocusEvent(bool setFocus) override { SetFocus(setFocus); }
  void SendTouchEvent(const CefTouchEvent& event) override;
  void SetAudioMuted(bool mute) override;
  bool IsAudioMuted() override { return m_muted.load(); }
  void SetZoomLevel(double zoomLevel) override;
  void SetWindowlessFrameRate(int frame_rate) override;
  void SetUserAgent(const CefString& user_agent) override;
  void ReplyToPageMessage(int64 message_id, bool success, const CefString& text) override;
  void ImeSetComposition(const CefString& text,
                         const std::vector<CefCompositionUnderline>& underlines,
                         const CefRange& replacement_range,
                         const CefRange& selection_range) override;
  void ImeCommitText(const CefString& text, const CefRange& replacement_range,
                     int relative_cursor_pos) override;
  void ImeFinishComposingText(bool keep_selection) override;
  void ImeCancelComposition() override;

 private:
  // BrowserSide, the rooms' view of this browser.
  CefBrowser* Browser() override { return this; }
  CefClient& Client() override { return *m_client; }
  FrameImpl& MainFrame() override { return *m_mainFrame; }
  BrowserState& State() override { return m_state; }
  WebKitWebView* View() const override { return m_host.View(); }
  bool ViewGone() const override { return m_viewDestroyed; }
  void Post(std::function<void()> task) override;

  // FrameOwner, the main frame's and its sub-frames' view of it (any thread).
  void LoadUrlInMainFrame(const CefString& url) override;
  void LoadUrlInSubframe(const CefString& frameUrl, const CefString& url) override;
  void RunScriptInMainFrame(const CefString& code) override;
  void EvaluateInMainFrame(const CefString& code, CefRefPtr<CefEvaluateCallback> callback) override;
  void CopyInMainFrame() override;
  void CutInMainFrame() override;
  void PasteInMainFrame() override;
  void PasteTextInMainFrame(const CefString& text, const CefString& html) override;

  // The view goes (closed by the page, by force or after the close grace):
  // every room lets go of it, then the life-span handler hears OnBeforeClose.
  void DestroyView();
  // The web process ended: the page is gone with it, which the request handler hears of
  // (OnRenderProcessTerminated) and the load handler as a failed load (ERR_FAILED). A load or
  // history move the embedder asked for that had not committed is asked for again (in place of
  // the error page), and script not yet run waits for the next page; either starts a new process.
  // A fresh process that ends before a page commits in it is not reported again.
  void WebProcessGone(WebKitWebProcessTerminationReason reason);

  // The view's size and device scale factor, as the render handler answers them, brought into
  // the ranges the engine takes. UI thread.
  struct Geometry {
    int width = 1;
    int height = 1;
    double scale = 1.0;
  };
  static Geometry AskGeometry(CefClient& client, CefBrowser* browser);

  BrowserImpl(CefRefPtr<CefClient> client, const CefBrowserSettings& settings, bool transparent,
              const Geometry& geometry);
  ~BrowserImpl() override;

  // UI thread.
  bool CreateView();
  void StartLoad(const std::u16string& url);
  // Asks the render handler for the size and scale again and applies them.
  void UpdateGeometry();

  // Immutable after construction.
  const int m_id;
  const CefRefPtr<CefClient> m_client;
  const CefRefPtr<FrameImpl> m_mainFrame;

  // Written on the UI thread, read anywhere.
  BrowserState m_state;
  // Set by SetAudioMuted (any thread), read anywhere.
  std::atomic<bool> m_muted{false};

  // UI thread only. The rooms are owned here and hold this browser's narrow
  // side, which outlives them; each connects its own signals to the view in
  // Attach and disconnects them in Detach, before the view goes.
  bool m_viewDestroyed = false;
  bool m_reportingCrash = false;   // inside WebProcessGone's report to the load handler
  ViewHost m_host;                 // the view, its settings and its close
  FrameSink m_frames;              // the view's frames: painting, pacing, Invalidate
  PopupController m_popup;         // the open <select> list, if any
  InputRouter m_input;             // the one way in for input (asks m_popup first)
  CompositionInput m_composition;  // input-method input, in the keys' order (through m_input)
  ClipboardBridge m_clipboard;     // copies, cuts and pastes of the pages
  TouchInput m_touch;              // the fingers down, and the layer's touch script
  AudioState m_audio;              // mute, and whether the page plays sound
  ScriptDialogs m_dialogs;         // the page's open script dialogs
  PageChannel m_channel;           // messages to and from the web process's extension
  PageMessages m_messages;         // the page's posts to the client and their answers
  PageWatch m_watch;               // the page's readiness and its focused editable element
  NavigationTracker m_navigation;  // policy, load events, history, address and title

  IMPLEMENT_REFCOUNTING(BrowserImpl);
};

}  // namespace quillo::engine
