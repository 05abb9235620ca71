// CefBrowser and CefBrowserHost: the one windowless browser and its host
// side, with the window information and settings it is created with.
//
// Threads: CreateBrowserSync runs on the UI thread (the thread that called
// CefInitialize). The other methods may be called on any thread: actions are
// posted to the UI thread and run at its next message-loop work; queries
// answer from state that the UI thread keeps current.
#pragma once

#include "cef_base.h"
#include "cef_frame.h"
#include "cef_types.h"
#include "cef_values.h"

class CefClient;
class CefBrowserHost;

struct CefWindowInfo {
  CefWindowHandle parent_window = nullptr;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int windowless_rendering_enabled = 0;
  int transparent_painting_enabled = 0;
  CefWindowHandle window = nullptr;

  void SetAsWindowless(CefWindowHandle parent, bool transparent) {
    parent_window = parent;
    windowless_rendering_enabled = 1;
    transparent_painting_enabled = transparent ? 1 : 0;
  }
};

struct CefBrowserSettings {
  size_t size = sizeof(CefBrowserSettings);
  // Frames a second delivered to OnPaint; 0 means 60.
  int windowless_frame_rate = 0;
  CefString standard_font_family;
  CefString fixed_font_family;
  int default_font_size = 0;
  int minimum_font_size = 0;
  CefString default_encoding;
  cef_state_t remote_fonts = STATE_DEFAULT;
  cef_state_t javascript = STATE_DEFAULT;
  cef_state_t javascript_open_windows = STATE_DEFAULT;
  cef_state_t javascript_close_windows = STATE_DEFAULT;
  cef_state_t javascript_access_clipboard = STATE_DEFAULT;
  cef_state_t javascript_dom_paste = STATE_DEFAULT;
  cef_state_t plugins = STATE_DEFAULT;
  cef_state_t universal_access_from_file_urls = STATE_DEFAULT;
  cef_state_t file_access_from_file_urls = STATE_DEFAULT;
  cef_state_t web_security = STATE_DEFAULT;
  cef_state_t image_loading = STATE_DEFAULT;
  cef_state_t local_storage = STATE_DEFAULT;
  cef_state_t databases = STATE_DEFAULT;
  cef_state_t webgl = STATE_DEFAULT;
  // 0xAARRGGBB; 0 leaves the engine's default (opaque white).
  uint32 background_color = 0;
  // Comma-separated language tags, e.g. "de-DE,en"; empty keeps the default.
  CefString accept_language_list;
  // Added by this layer (CEF sets one for the whole process): the User-Agent of this
  // browser's requests and navigator.userAgent; empty keeps the engine's.
  CefString user_agent;
  // Added by this layer (CEF's embedders build this on process messages): the name of a global
  // function each main document of the browser gets, which posts a string to the client's
  // CefPageMessageHandler and returns a promise that ReplyToPageMessage settles. Empty: none.
  CefString page_message_function;
};

class CefBrowser : public virtual CefBaseRefCounted {
 public:
  virtual CefRefPtr<CefBrowserHost> GetHost() = 0;
  virtual bool CanGoBack() = 0;
  virtual void GoBack() = 0;
  virtual bool CanGoForward() = 0;
  virtual void GoForward() = 0;
  virtual bool IsLoading() = 0;
  virtual void Reload() = 0;
  virtual void StopLoad() = 0;
  virtual int GetIdentifier() = 0;
  virtual bool IsSame(CefRefPtr<CefBrowser> that) = 0;
  virtual bool IsPopup() = 0;
  virtual bool HasDocument() = 0;
  virtual CefRefPtr<CefFrame> GetMainFrame() = 0;
  virtual CefRefPtr<CefFrame> GetFocusedFrame() = 0;
};

class CefBrowserHost : public virtual CefBaseRefCounted {
 public:
  typedef cef_paint_element_type_t PaintElementType;
  typedef cef_mouse_button_type_t MouseButtonType;

  // Creates the browser and starts loading url; OnAfterCreated has been
  // called when it returns. Null on failure. UI thread only.
  static CefRefPtr<CefBrowser> CreateBrowserSync(const CefWindowInfo& windowInfo,
                                                 CefRefPtr<CefClient> client, const CefString& url,
                                                 const CefBrowserSettings& settings,
                                                 CefRefPtr<CefRequestContext> request_context);

  virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
  // Closes the browser; OnBeforeClose follows once it is gone. Without
  // force_close the page may run its unload handlers first.
  virtual void CloseBrowser(bool force_close) = 0;
  virtual void SetFocus(bool focus) = 0;
  // The render handler's GetViewRect answers a new size: the page is laid out again at it,
  // without a reload, and the paints that follow have the new size.
  virtual void WasResized() = 0;
  // The render handler's GetScreenInfo answers a new device scale factor: the page's
  // devicePixelRatio changes and its paints come at the view size times the factor.
  virtual void NotifyScreenInfoChanged() = 0;
  // The page's zoom: 0 is 100 %, each step up or down 20 % more or less (factor 1.2^level).
  virtual void SetZoomLevel(double zoomLevel) = 0;
  // The most frames a second delivered to OnPaint (1..240; others are brought into range).
  virtual void SetWindowlessFrameRate(int frame_rate) = 0;
  // Added by this layer: the User-Agent for the next requests (empty: the engine's own).
  virtual void SetUserAgent(const CefString& user_agent) = 0;
  // Added by this layer: settles the promise of page message message_id (see
  // CefPageMessageHandler): resolved with text when success, else rejected with an Error whose
  // message is text. A message is answered once; its page may have gone meanwhile.
  virtual void ReplyToPageMessage(int64 message_id, bool success, const CefString& text) = 0;
  virtual void WasHidden(bool hidden) = 0;
  // Repaints the whole element through OnPaint.
  virtual void Invalidate(PaintElementType type) = 0;
  virtual void SendKeyEvent(const CefKeyEvent& event) = 0;
  virtual void SendMouseClickEvent(const CefMouseEvent& event, MouseButtonType type, bool mouseUp,
                                   int clickCount) = 0;
  virtual void SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) = 0;
  virtual void SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) = 0;
  virtual void SendFocusEvent(bool setFocus) = 0;
  // A touch point pressed, moved, released or cancelled (one point a call; several points are
  // down at once under different ids). The page gets "touchstart", "touchmove", "touchend" or
  // "touchcancel" whose touches are every point down, and the pointer events of a touch
  // (pointerType "touch"; this layer's own, so their isTrusted is false). A press of an id that
  // is down, or a move, release or cancel of one that is not, is dropped with a log line. Touch
  // waits, as the wheel does, for the page's first frame.
  virtual void SendTouchEvent(const CefTouchEvent& event) = 0;
  // Mutes the browser's sound (its pages play on, silent), or lets it be heard again.
  virtual void SetAudioMuted(bool mute) = 0;
  // Whether SetAudioMuted last muted it. Any thread.
  virtual bool IsAudioMuted() = 0;

  // ---- Composition input: what an input method sends to the focused editable element. Each
  // waits, as keys do, for the button releases sent before it, and for the element to have the
  // keyboard focus (an element focused by a click whose release the page has just handled); it
  // is dropped, with a log line, when none has it within a second. The page sees the events of
  // a composition (compositionstart, compositionupdate, compositionend, and beforeinput and
  // input with isComposing).
  //
  // Starts a composition, or changes it: text is the pre-edit text, underlines its underlined
  // parts (an empty list underlines it whole), selection_range the caret (from; this engine
  // keeps no selected part of a composition). replacement_range is not supported (the engine
  // replaces no text around the composition). Empty text cancels the composition.
  virtual void ImeSetComposition(const CefString& text,
                                 const std::vector<CefCompositionUnderline>& underlines,
                                 const CefRange& replacement_range,
                                 const CefRange& selection_range) = 0;
  // Ends the composition with text in place of its pre-edit text; without a composition, types
  // text (beforeinput and input, "insertText"). replacement_range and relative_cursor_pos are
  // not supported (the caret ends after text).
  virtual void ImeCommitText(const CefString& text, const CefRange& replacement_range,
                             int relative_cursor_pos) = 0;
  // Ends the composition with its pre-edit text as it stands (keep_selection is not supported).
  virtual void ImeFinishComposingText(bool keep_selection) = 0;
  // Ends the composition and removes its pre-edit text.
  virtual void ImeCancelComposition() = 0;
};
