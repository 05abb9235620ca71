#include "wpe/process/downloads.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <string>

#include "cef_download_handler.h"
#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

class DownloadItemImpl : public CefDownloadItem {
 public:
  // interrupted: why the download stopped before it was complete (NONE while it goes on).
  DownloadItemImpl(WebKitDownload* download, std::string suggested,
                   cef_download_interrupt_reason_t interrupted = CEF_DOWNLOAD_INTERRUPT_REASON_NONE)
      : m_download(WEBKIT_DOWNLOAD(g_object_ref(download))),
        m_suggested(std::move(suggested)),
        m_interrupted(interrupted) {}

  bool IsValid() override { return true; }
  bool IsInProgress() override {
    return m_interrupted == CEF_DOWNLOAD_INTERRUPT_REASON_NONE &&
           webkit_download_get_estimated_progress(m_download) < 1;
  }
  bool IsComplete() override {
    return m_interrupted == CEF_DOWNLOAD_INTERRUPT_REASON_NONE &&
           webkit_download_get_estimated_progress(m_download) >= 1;
  }
  bool IsCanceled() override {
    return m_interrupted == CEF_DOWNLOAD_INTERRUPT_REASON_USER_CANCELED;
  }
  bool IsInterrupted() override {
    return m_interrupted != CEF_DOWNLOAD_INTERRUPT_REASON_NONE && !IsCanceled();
  }
  cef_download_interrupt_reason_t GetInterruptReason() override { return m_interrupted; }
  int64 GetReceivedBytes() override {
    return static_cast<int64>(webkit_download_get_received_data_length(m_download));
  }
  int64 GetTotalBytes() override {
    WebKitURIResponse* response = webkit_download_get_response(m_download);
    return response ? static_cast<int64>(webkit_uri_response_get_content_length(response)) : 0;
  }
  // Empty until a destination is chosen.
  CefString GetFullPath() override {
    const gchar* uri = webkit_download_get_destination(m_download);
    if (uri == nullptr) return CefString();
    gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
    CefString result(path ? path : "");
    g_free(path);
    return result;
  }
  uint32 GetId() override { return static_cast<uint32>(GPOINTER_TO_UINT(m_download)); }
  CefString GetURL() override {
    WebKitURIRequest* request = webkit_download_get_request(m_download);
    return CefString(request ? webkit_uri_request_get_uri(request) : "");
  }
  CefString GetSuggestedFileName() override { return CefString(m_suggested); }
  CefString GetMimeType() override {
    WebKitURIResponse* response = webkit_download_get_response(m_download);
    const gchar* mime = response ? webkit_uri_response_get_mime_type(response) : nullptr;
    return CefString(mime ? mime : "");
  }

 private:
  ~DownloadItemImpl() override { g_object_unref(m_download); }
  WebKitDownload* m_download;
  std::string m_suggested;
  const cef_download_interrupt_reason_t m_interrupted;
  IMPLEMENT_REFCOUNTING(DownloadItemImpl);
};

// Remembers the handler's answer; it is applied when the handler returns.
class BeforeDownloadCallbackImpl : public CefBeforeDownloadCallback {
 public:
  void Continue(const CefString& download_path, bool) override {
    if (m_continued.exchange(true)) return;
    m_path = download_path.ToString();
  }
  bool Continued() const { return m_continued.load(); }
  const std::string& Path() const { return m_path; }

 private:
  std::atomic<bool> m_continued{false};
  std::string m_path;  // written before m_continued
  IMPLEMENT_REFCOUNTING(BeforeDownloadCallbackImpl);
};

// The user's download directory, created if missing.
std::string DownloadDirectory() {
  const gchar* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  std::string path = dir ? dir : std::string(g_get_home_dir()) + "/Downloads";
  g_mkdir_with_parents(path.c_str(), 0700);
  return path;
}

// Room left in a name for " (n)" before the file system's 255-byte limit.
constexpr size_t kMaxNameBytes = 200;

// A plain file name made from what the server suggests: no path parts, no
// control characters, no leading dot (nothing hidden, never "." or ".."),
// at most kMaxNameBytes bytes (cut between UTF-8 sequences, keeping a short
// extension), never empty.
std::string SafeName(const std::string& suggested) {
  std::string name;
  for (unsigned char c : suggested) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f)
      name += '_';
    else
      name += static_cast<char>(c);
  }
  const size_t first = name.find_first_not_of(". ");
  name = first == std::string::npos ? std::string() : name.substr(first);
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  if (name.size() > kMaxNameBytes) {
    const size_t dot = name.rfind('.');
    std::string ext = dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : "";
    size_t cut = kMaxNameBytes - ext.size();
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name = name.substr(0, cut) + ext;
  }
  if (name.empty()) name = "download";
  return name;
}

// Creates dir/name, or dir/name (n).ext when that name is taken, as a new
// empty file of its own (O_EXCL: an existing file or a link there is never
// followed or overwritten). Empty when none could be created.
std::string ReserveUniquePath(const std::string& dir, const std::string& name) {
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  for (int n = 0; n < 10000; ++n) {
    const std::string path =
        dir + "/" + (n == 0 ? name : stem + " (" + std::to_string(n) + ")" + ext);
    const int fd = g_open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      close(fd);
      return path;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

// The browser whose view started the download, while that view lives.
BrowserSide* BrowserOf(WebKitDownload* download) {
  WebKitWebView* view = webkit_download_get_web_view(download);
  auto* browser =
      view ? static_cast<BrowserSide*>(g_object_get_data(G_OBJECT(view), kBrowserSideKey))
           : nullptr;
  return browser && !browser->ViewGone() ? browser : nullptr;
}

// Whether the engine's text of a failure names the system's error (the engine keeps only the
// text): in the process's language, or the C library's own.
bool Names(const GError* error, int code, const char* cText) {
  return error->message != nullptr && (std::strstr(error->message, g_strerror(code)) != nullptr ||
                                       std::strstr(error->message, cText) != nullptr);
}

cef_download_interrupt_reason_t InterruptReasonOf(const GError* error) {
  if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER))
    return CEF_DOWNLOAD_INTERRUPT_REASON_USER_CANCELED;
  if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_DESTINATION)) {
    if (Names(error, ENOSPC, "No space left on device") ||
        Names(error, EDQUOT, "Disk quota exceeded"))
      return CEF_DOWNLOAD_INTERRUPT_REASON_FILE_NO_SPACE;
    if (Names(error, EACCES, "Permission denied") || Names(error, EROFS, "Read-only file system"))
      return CEF_DOWNLOAD_INTERRUPT_REASON_FILE_ACCESS_DENIED;
    return CEF_DOWNLOAD_INTERRUPT_REASON_FILE_FAILED;
  }
  return CEF_DOWNLOAD_INTERRUPT_REASON_NETWORK_FAILED;
}

// A download that stopped before it was complete (the engine has removed what it had written):
// the handler hears why, unless it was a cancel of this side's own.
void OnDownloadFailed(WebKitDownload* download, GError* error, gpointer) {
  const cef_download_interrupt_reason_t reason = InterruptReasonOf(error);
  QLOG(u"Downloads::Failed [%d] [%s]", static_cast<int>(reason),
       platform::Utf8ToUtf16(error && error->message ? error->message : "").c_str());
  if (reason == CEF_DOWNLOAD_INTERRUPT_REASON_USER_CANCELED) return;
  BrowserSide* browser = BrowserOf(download);
  if (browser == nullptr) return;
  if (CefRefPtr<CefDownloadHandler> handler = browser->Client().GetDownloadHandler()) {
    const gchar* destination = webkit_download_get_destination(download);
    gchar* name = destination ? g_path_get_basename(destination) : nullptr;
    handler->OnDownloadUpdated(browser->Browser(),
                               new DownloadItemImpl(download, name ? name : "", reason), nullptr);
    g_free(name);
  }
}

gboolean OnDecideDestination(WebKitDownload* download, gchar* suggested, gpointer) {
  BrowserSide* browser = BrowserOf(download);
  CefRefPtr<CefDownloadHandler> handler =
      browser ? browser->Client().GetDownloadHandler() : nullptr;
  const std::string name = SafeName(suggested ? suggested : "");
  if (!handler) {
    webkit_download_cancel(download);
    return TRUE;
  }
  CefRefPtr<BeforeDownloadCallbackImpl> callback = new BeforeDownloadCallbackImpl;
  handler->OnBeforeDownload(browser->Browser(), new DownloadItemImpl(download, name),
                            CefString(name), callback.get());
  if (!callback->Continued()) {
    // The handler did not let it go ahead.
    webkit_download_cancel(download);
    return TRUE;
  }
  std::string path = callback->Path();
  if (path.empty()) {
    path = ReserveUniquePath(DownloadDirectory(), name);
  } else if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
    path = ReserveUniquePath(path, name);
  }
  // An empty path: no file could be created in the folder.
  gchar* uri = path.empty() ? nullptr : g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (uri == nullptr) {
    QLOG(u"Downloads::DecideDestination => no file could be created for the download");
    webkit_download_cancel(download);
    return TRUE;
  }
  // Overwrites only the empty file reserved above (or the handler's own
  // choice of a file).
  webkit_download_set_allow_overwrite(download, TRUE);
  webkit_download_set_destination(download, uri);
  g_free(uri);
  g_signal_connect(download, "failed", G_CALLBACK(OnDownloadFailed), nullptr);
  return TRUE;
}

}  // namespace

void WatchDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started",
                   G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
                     g_signal_connect(download, "decide-destination",
                                      G_CALLBACK(OnDecideDestination), nullptr);
                   }),
                   nullptr);
}

}  // namespace quillo::engine
