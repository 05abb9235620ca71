#include "wpe/page/js_dialog_callback.h"

#include "wpe/process/engine_context.h"

namespace quillo::engine {

JSDialogCallbackImpl::JSDialogCallbackImpl(WebKitScriptDialog* dialog)
    : m_dialog(webkit_script_dialog_ref(dialog)) {}

JSDialogCallbackImpl::~JSDialogCallbackImpl() {
  // Released unanswered: the page must not wait for ever.
  if (m_dialog != nullptr) {
    if (EngineContext::Get().IsUiThread()) {
      webkit_script_dialog_close(m_dialog);
      webkit_script_dialog_unref(m_dialog);
    } else {
      WebKitScriptDialog* dialog = m_dialog;
      EngineContext::Get().PostTask([dialog] {
        webkit_script_dialog_close(dialog);
        webkit_script_dialog_unref(dialog);
      });
    }
  }
}

void JSDialogCallbackImpl::Continue(bool success, const CefString& user_input) {
  // Taken here, not where it is applied: a later answer from a thread whose task would run
  // first must not overtake it.
  if (m_answered.exchange(true)) return;
  CefRefPtr<JSDialogCallbackImpl> self(this);
  CefString input = user_input;
  EngineContext::Get().PostTask([self, success, input] { self->Apply(success, input); });
}

void JSDialogCallbackImpl::Cancel() {
  QUILLO_REQUIRE_UI_THREAD();
  if (!m_answered.exchange(true)) Apply(false, CefString());
}

void JSDialogCallbackImpl::Apply(bool success, const CefString& user_input) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_dialog == nullptr) return;
  switch (webkit_script_dialog_get_dialog_type(m_dialog)) {
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
      webkit_script_dialog_confirm_set_confirmed(m_dialog, success);
      break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
      // A cancelled prompt returns null to the page.
      webkit_script_dialog_prompt_set_text(m_dialog,
                                           success ? user_input.ToString().c_str() : nullptr);
      break;
    default:
      break;
  }
  webkit_script_dialog_close(m_dialog);
  webkit_script_dialog_unref(m_dialog);
  m_dialog = nullptr;
}

void ForgetAnsweredDialogs(std::vector<CefRefPtr<JSDialogCallbackImpl>>& dialogs) {
  std::erase_if(dialogs, [](const CefRefPtr<JSDialogCallbackImpl>& d) { return d->Answered(); });
}

}  // namespace quillo::engine
