#include "wpe/page/script_dialogs.h"

#include "diagnostics/debug_log.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

gboolean OnScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer self) {
  static_cast<ScriptDialogs*>(self)->Open(view, dialog);
  return TRUE;
}

}  // namespace

void ScriptDialogs::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "script-dialog", G_CALLBACK(OnScriptDialog), this);
}

void ScriptDialogs::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_data(view, this);
}

void ScriptDialogs::CancelAll() {
  QUILLO_REQUIRE_UI_THREAD();
  for (auto& dialog : m_open) dialog->Cancel();
  m_open.clear();
}

void ScriptDialogs::Open(WebKitWebView* view, WebKitScriptDialog* dialog) {
  QUILLO_REQUIRE_UI_THREAD();
  CefBrowser* browser = m_browser.Browser();
  CefRefPtr<CefJSDialogHandler> handler = m_browser.Client().GetJSDialogHandler();
  const gchar* message = webkit_script_dialog_get_message(dialog);
  CefRefPtr<JSDialogCallbackImpl> callback = new JSDialogCallbackImpl(dialog);
  const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
  bool kept = false;
  bool answer = false;  // when no handler keeps it: cancelled, or for before-unload, leave
  if (type != WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM && m_pageLeaving()) {
    // The embedder has asked for another page: a dialog the page opens meanwhile is dismissed,
    // as one that was open when it asked is, so that the page cannot hold its load up.
    QLOG(u"BrowserImpl::OnScriptDialog => dismissed: the page is being left");
  } else if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    kept = handler && handler->OnBeforeUnloadDialog(browser, CefString(message ? message : ""),
                                                    false, callback.get());
    answer = true;
  } else {
    const cef_jsdialog_type_t cefType = type == WEBKIT_SCRIPT_DIALOG_CONFIRM  ? JSDIALOGTYPE_CONFIRM
                                        : type == WEBKIT_SCRIPT_DIALOG_PROMPT ? JSDIALOGTYPE_PROMPT
                                                                              : JSDIALOGTYPE_ALERT;
    const gchar* defaultText = type == WEBKIT_SCRIPT_DIALOG_PROMPT
                                   ? webkit_script_dialog_prompt_get_default_text(dialog)
                                   : "";
    const gchar* origin = webkit_web_view_get_uri(view);
    bool suppress = false;
    kept = handler &&
           handler->OnJSDialog(browser, CefString(origin ? origin : ""), cefType,
                               CefString(message ? message : ""),
                               CefString(defaultText ? defaultText : ""), callback.get(), suppress);
  }
  // The engine completes the dialog itself once this handler has returned, so an answer
  // given inside the signal would complete it twice: answer on a later turn instead.
  if (!kept) m_browser.Post([callback, answer] { callback->Continue(answer, CefString()); });
  ForgetAnsweredDialogs(m_open);
  m_open.push_back(callback);  // cancelled if the view goes first
}

}  // namespace quillo::engine
