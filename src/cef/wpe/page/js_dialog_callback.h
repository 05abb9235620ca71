// The answer to one script dialog that the engine keeps open until the host
// replies. Continue may be called on any thread; the answer is applied on the
// UI thread, at most once.
#pragma once

#include <wpe/webkit.h>

#include <atomic>
#include <vector>

#include "cef_callback.h"

namespace quillo::engine {

class JSDialogCallbackImpl : public CefJSDialogCallback {
 public:
  explicit JSDialogCallbackImpl(WebKitScriptDialog* dialog);  // UI thread; takes a reference

  void Continue(bool success, const CefString& user_input) override;

  // UI thread: answers as cancelled unless answered already (the view goes).
  void Cancel() { Apply(false, CefString()); }
  bool Answered() const { return m_answered.load(); }

 private:
  ~JSDialogCallbackImpl() override;
  void Apply(bool success, const CefString& user_input);  // UI thread

  std::atomic<bool> m_answered{false};
  WebKitScriptDialog* m_dialog;  // UI thread; null once answered

  IMPLEMENT_REFCOUNTING(JSDialogCallbackImpl);
};

// UI thread: drops the dialogs of the list that have been answered, so that a page that opens
// dialogs in a loop does not grow it.
void ForgetAnsweredDialogs(std::vector<CefRefPtr<JSDialogCallbackImpl>>& dialogs);

}  // namespace quillo::engine
