// Download callbacks, called on the UI thread.
#pragma once

#include "cef_browser.h"
#include "cef_callback.h"

class CefDownloadItem : public virtual CefBaseRefCounted {
 public:
  virtual bool IsValid() = 0;
  virtual bool IsInProgress() = 0;
  virtual bool IsComplete() = 0;
  virtual bool IsCanceled() = 0;
  // Stopped before it was complete, for GetInterruptReason (a download refused or cancelled by
  // the embedder is cancelled, not interrupted).
  virtual bool IsInterrupted() = 0;
  virtual cef_download_interrupt_reason_t GetInterruptReason() = 0;
  virtual int64 GetReceivedBytes() = 0;
  virtual int64 GetTotalBytes() = 0;
  virtual CefString GetFullPath() = 0;
  virtual uint32 GetId() = 0;
  virtual CefString GetURL() = 0;
  virtual CefString GetSuggestedFileName() = 0;
  virtual CefString GetMimeType() = 0;
};

class CefDownloadHandler : public virtual CefBaseRefCounted {
 public:
  // Must call callback->Continue to let the download go ahead.
  virtual void OnBeforeDownload(CefRefPtr<CefBrowser> browser,
                                CefRefPtr<CefDownloadItem> download_item,
                                const CefString& suggested_name,
                                CefRefPtr<CefBeforeDownloadCallback> callback) = 0;
  // When a download has finished, was cancelled or was interrupted; callback may be null.
  virtual void OnDownloadUpdated(CefRefPtr<CefBrowser> browser,
                                 CefRefPtr<CefDownloadItem> download_item,
                                 CefRefPtr<CefDownloadItemCallback> callback) {
    (void)browser, (void)download_item, (void)callback;
  }
};
