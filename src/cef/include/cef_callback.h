// Callback interfaces. Each may be called on any thread; an answer is taken
// once, later calls do nothing.
#pragma once

#include "cef_base.h"
#include "cef_string.h"

// Continues or cancels a request the handler answered later.
class CefCallback : public virtual CefBaseRefCounted {
 public:
  virtual void Continue() = 0;
  virtual void Cancel() = 0;
};

class CefCompletionCallback : public virtual CefBaseRefCounted {
 public:
  virtual void OnComplete() = 0;
};

class CefDeleteCookiesCallback : public virtual CefBaseRefCounted {
 public:
  virtual void OnComplete(int num_deleted) = 0;
};

class CefRequestCallback : public virtual CefBaseRefCounted {
 public:
  virtual void Continue(bool allow) = 0;
  virtual void Cancel() = 0;
};

class CefJSDialogCallback : public virtual CefBaseRefCounted {
 public:
  // Closes the dialog: success is OK/Cancel; user_input answers a prompt.
  virtual void Continue(bool success, const CefString& user_input) = 0;
};

class CefBeforeDownloadCallback : public virtual CefBaseRefCounted {
 public:
  // download_path empty: the suggested name in the user's download directory.
  virtual void Continue(const CefString& download_path, bool show_dialog) = 0;
};

class CefDownloadItemCallback : public virtual CefBaseRefCounted {
 public:
  virtual void Cancel() = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
};
