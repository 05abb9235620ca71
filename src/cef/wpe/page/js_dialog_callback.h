// The answer to one script dialog that the engine keeps open until the host
// replies. Continue may be called on any thread; the first answer given wins,
// whichever thread gives it, and is applied on the UI thread at a later
// message-loop work (never inside the engine's dialog signal).
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

  // UI thread: answers as cancelled unless an answer was given already (the
  // view goes; an answer on its way is applied when its task runs).
  void Cancel();
  bool Answered() const { return m_answered.load(); }

 private:
  ~JSDialogCallbackImpl() override;
  void Apply(bool success, const CefString& user_input);  // UI thread

  std::atomic<bool> m_answered{false};  // taken by the first answer, on any thread
  WebKitScriptDialog* m_dialog;         // UI thread; null once the answer is applied

  IMPLEMENT_REFCOUNTING(JSDialogCallbackImpl);
};

// UI thread: drops the dialogs of the list that have been answered, so that a page that opens
// dialogs in a loop does not grow it.
void ForgetAnsweredDialogs(std::vector<CefRefPtr<JSDialogCallbackImpl>>& dialogs);

}  // namespace quillo::engine
