// Off-screen rendering callbacks, called on the UI thread.
//
// OnPaint's buffer is width*height*4 bytes, B, G, R, A (premultiplied by
// alpha; opaque unless the browser was created with transparent painting),
// upper-left origin, stride width*4; for the view, width and height are the
// view rectangle's size times the screen's device scale factor (each
// multiplied in single precision and rounded down). dirtyRects are in the painted element's
// coordinates and cover everything that changed since that element's previous paint. The buffer is
// valid only during the call.
#pragma once

#include <vector>

#include "cef_browser.h"

// Added by this layer: an editable element of the main frame's document that gained or lost the
// keyboard focus (OnFocusedEditableChanged).
struct CefEditableInfo {
  bool focused = false;
  // The element's kind: the input's type ("text", "search", "url", "tel", "email", "password",
  // "number"), "textarea" or "contenteditable".
  CefString type;
  // Its inputmode ("numeric", "email", ...; empty when it has none or an unknown one).
  CefString input_mode;
  // Its rectangle in view coordinates (scrolling and zoom applied), not rounded.
  double x = 0, y = 0, width = 0, height = 0;
  // Up to about 256 characters of its text either side of the caret (empty for a password, and
  // when focus is lost), and the caret's place in it in Unicode characters (code points).
  CefString surrounding_text;
  int caret = 0;
};

class CefRenderHandler : public virtual CefBaseRefCounted {
 public:
  typedef cef_cursor_type_t CursorType;
  typedef cef_paint_element_type_t PaintElementType;
  typedef std::vector<CefRect> RectList;

  virtual bool GetRootScreenRect(CefRefPtr<CefBrowser> browser, CefRect& rect) {
    (void)browser, (void)rect;
    return false;
  }
  // The view's rectangle in view (CSS) pixels; the page is laid out at its size. Asked when
  // the browser is created and after each WasResized.
  virtual bool GetViewRect(CefRefPtr<CefBrowser> browser, CefRect& rect) = 0;
  virtual bool GetScreenPoint(CefRefPtr<CefBrowser> browser, int viewX, int viewY, int& screenX,
                              int& screenY) {
    (void)browser, (void)viewX, (void)viewY, (void)screenX, (void)screenY;
    return false;
  }
  // The screen's device_scale_factor (0.25..8; others are brought into that range) is the
  // page's devicePixelRatio. Asked when the browser is created and after each
  // NotifyScreenInfoChanged; false leaves the factor at 1.
  virtual bool GetScreenInfo(CefRefPtr<CefBrowser> browser, CefScreenInfo& screen_info) {
    (void)browser, (void)screen_info;
    return false;
  }
  // A popup widget (an open <select> list) is shown or hidden.
  virtual void OnPopupShow(CefRefPtr<CefBrowser> browser, bool show) { (void)browser, (void)show; }
  // The popup widget's rectangle, in view coordinates.
  virtual void OnPopupSize(CefRefPtr<CefBrowser> browser, const CefRect& rect) {
    (void)browser, (void)rect;
  }
  virtual void OnPaint(CefRefPtr<CefBrowser> browser, PaintElementType type,
                       const RectList& dirtyRects, const void* buffer, int width, int height) = 0;
  virtual void OnCursorChange(CefRefPtr<CefBrowser> browser, CefCursorHandle cursor,
                              CursorType type, const CefCursorInfo& custom_cursor_info) {
    (void)browser, (void)cursor, (void)type, (void)custom_cursor_info;
  }
  virtual void OnScrollOffsetChanged(CefRefPtr<CefBrowser> browser, double x, double y) {
    (void)browser, (void)x, (void)y;
  }
  // The caret of the focused editable element moved (while composing, the composition's caret):
  // an input method places its candidate window by it. This engine tells no bounds of single
  // characters: character_bounds holds one rectangle, the caret's, in view coordinates, and
  // selected_range is the caret's place in the composition text (InvalidRange() when no
  // composition is in progress). Like the engine's own input methods, small moves of the caret
  // (under 10 view pixels) are not reported.
  virtual void OnImeCompositionRangeChanged(CefRefPtr<CefBrowser> browser,
                                            const CefRange& selected_range,
                                            const RectList& character_bounds) {
    (void)browser, (void)selected_range, (void)character_bounds;
  }
  // Added by this layer (CEF's OnVirtualKeyboardRequested tells the input mode alone): an
  // editable element gained or lost the keyboard focus, as the page's focus and blur events say
  // (the view losing the focus blurs it too; a new document, or the web process's end, loses
  // it). Moving from one field to another is the first's loss, then the second's gain. Elements
  // inside frames are not reported.
  virtual void OnFocusedEditableChanged(CefRefPtr<CefBrowser> browser,
                                        const CefEditableInfo& info) {
    (void)browser, (void)info;
  }
};
