// CefClient: the object the engine asks for every handler of a browser.
// Getters are called on the UI thread; null means the engine's defaults.
#pragma once

#include "cef_display_handler.h"
#include "cef_download_handler.h"
#include "cef_focus_handler.h"
#include "cef_jsdialog_handler.h"
#include "cef_life_span_handler.h"
#include "cef_load_handler.h"
#include "cef_render_handler.h"
#include "cef_request_handler.h"

// Handler kinds this platform never calls.
class CefContextMenuHandler : public virtual CefBaseRefCounted {};
class CefDialogHandler : public virtual CefBaseRefCounted {};
class CefDragHandler : public virtual CefBaseRefCounted {};
class CefFindHandler : public virtual CefBaseRefCounted {};
class CefKeyboardHandler : public virtual CefBaseRefCounted {};

// Added by this layer: the strings pages post with the function that
// CefBrowserSettings::page_message_function names. Called on the UI thread, in the order the
// pages posted them.
class CefPageMessageHandler : public virtual CefBaseRefCounted {
 public:
  // message_id: unique within the browser; answer it with CefBrowserHost::ReplyToPageMessage.
  virtual void OnPageMessage(CefRefPtr<CefBrowser> browser, int64 message_id,
                             const CefString& text) = 0;
};

// Added by this layer (CEF writes the system's clipboard and tells no one): a copy or cut in a
// page of the browser filled the engine's clipboard. Called on the UI thread, once per copy or
// cut that put something there, in order.
class CefClipboardHandler : public virtual CefBaseRefCounted {
 public:
  // cut: a cut, else a copy. text: the plain text; html: the markup (empty when there is none).
  virtual void OnClipboardWrite(CefRefPtr<CefBrowser> browser, bool cut, const CefString& text,
                                const CefString& html) = 0;
};

class CefClient : public virtual CefBaseRefCounted {
 public:
  typedef cef_process_id_t CefProcessId;

  virtual CefRefPtr<CefContextMenuHandler> GetContextMenuHandler() { return nullptr; }
  virtual CefRefPtr<CefDialogHandler> GetDialogHandler() { return nullptr; }
  virtual CefRefPtr<CefDisplayHandler> GetDisplayHandler() { return nullptr; }
  virtual CefRefPtr<CefDownloadHandler> GetDownloadHandler() { return nullptr; }
  virtual CefRefPtr<CefDragHandler> GetDragHandler() { return nullptr; }
  virtual CefRefPtr<CefFindHandler> GetFindHandler() { return nullptr; }
  virtual CefRefPtr<CefFocusHandler> GetFocusHandler() { return nullptr; }
  virtual CefRefPtr<CefJSDialogHandler> GetJSDialogHandler() { return nullptr; }
  virtual CefRefPtr<CefKeyboardHandler> GetKeyboardHandler() { return nullptr; }
  virtual CefRefPtr<CefLifeSpanHandler> GetLifeSpanHandler() { return nullptr; }
  virtual CefRefPtr<CefLoadHandler> GetLoadHandler() { return nullptr; }
  virtual CefRefPtr<CefRenderHandler> GetRenderHandler() { return nullptr; }
  virtual CefRefPtr<CefRequestHandler> GetRequestHandler() { return nullptr; }
  // Added by this layer.
  virtual CefRefPtr<CefPageMessageHandler> GetPageMessageHandler() { return nullptr; }
  // Added by this layer.
  virtual CefRefPtr<CefClipboardHandler> GetClipboardHandler() { return nullptr; }
  virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                        CefRefPtr<CefProcessMessage> message) {
    (void)browser, (void)source_process, (void)message;
    return false;
  }
};
