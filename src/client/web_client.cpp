// CWebClient: construction, the browser reference, page loading, script and
// the life-span callbacks.
#include "client/web_client.h"

#include <memory>
#include <string_view>

#include "client/data_url.h"
#include "diagnostics/debug_log.h"
#include "platform/platform.h"

namespace quillo {

CWebClient::CWebClient(const CefRect& viewRect, void* renderBuffer, const char* url, int loadFlags)
    : m_viewRect(viewRect),
      m_renderBuffer(static_cast<uint8_t*>(renderBuffer)),
      m_loadFlags(loadFlags) {
  SetUrl(url);
  ConfigureFrames();
}

CWebClient::~CWebClient() {
  DropRequestedUrl();
  // A dialog still waiting is dropped unanswered; its page is gone.
  if (CefJSDialogCallback* callback = m_jsDialogCallback.exchange(nullptr)) callback->Release();
}

void CWebClient::SetBrowser(CefRefPtr<CefBrowser> browser) {
  m_browser.Store(browser);
}

void CWebClient::SetUrl(const char* url) {
  m_homeUrl = ConvertUrl(url);
}

CefString CWebClient::ConvertUrl(const char* url) const {
  if (url == nullptr) return CefString();
  std::string_view text(url);
  if (text.compare(0, m_htmlSourcePrefix.size(), m_htmlSourcePrefix) == 0)
    return CefString(BuildDataUrl(text.substr(m_htmlSourcePrefix.size()), "text/html"));
  return CefString(std::string(text));
}

void CWebClient::LoadUrl(const char* url) {
  if (Configuration::GetInstance()->DebugEnabled())
    DebugLog(u"CWebClient::LoadUrl [%s]", platform::DecodeHostText(url).c_str());
  // Only the engine thread loads, in the order of its takes, so the last URL asked for is the
  // one that stays, even while the browser is still being created.
  m_loadGeneration.fetch_add(1);
  delete m_requestedUrl.exchange(new CefString(ConvertUrl(url)));
}

void CWebClient::DropRequestedUrl() {
  m_loadGeneration.fetch_add(1);
  delete m_requestedUrl.exchange(nullptr);
}

void CWebClient::LoadRequestedUrl() {
  if (m_requestedUrl.load() == nullptr) return;
  CefRefPtr<CefBrowser> browser = GetBrowser();
  if (!browser) return;  // kept for the browser on its way
  std::unique_ptr<CefString> url(m_requestedUrl.exchange(nullptr));
  if (!url) return;
  // The page is being left: a dialog still waiting for the host is dismissed, or the page's
  // process would wait on it instead of starting the load.
  if (CefRefPtr<CefJSDialogCallback> callback = TakeDialogCallback()) {
    m_dialogNotice.store(0);
    callback->Continue(false, CefString());
  }
  browser->GetMainFrame()->LoadURL(*url);
}

void CWebClient::ExecuteJavaScript(const char* script) {
  CefRefPtr<CefBrowser> browser = GetBrowser();
  if (!browser || script == nullptr) return;
  CefRefPtr<CefFrame> frame = browser->GetMainFrame();
  frame->ExecuteJavaScript(CefString(script), frame->GetURL(), 0);
}

CefRefPtr<CefJSDialogCallback> CWebClient::TakeDialogCallback() {
  return CefRefPtr<CefJSDialogCallback>::Adopt(m_jsDialogCallback.exchange(nullptr));
}

void CWebClient::ReplyJSDialog(bool accept) {
  if (CefRefPtr<CefJSDialogCallback> callback = TakeDialogCallback())
    callback->Continue(accept, CefString());
}

void CWebClient::OnAfterCreated(CefRefPtr<CefBrowser> browser) {
  QLOG(u"CWebClient::OnAfterCreated");
  m_loadErrorCode.store(0);
  CefRefPtr<CefBrowser> current = GetBrowser();
  if (!current)
    QLOG(u"=> m_browser null");
  else if (current->IsSame(browser))
    QLOG(u"=> m_browser same browser");
  else
    QLOG(u"=> m_browser not same browser");
}

void CWebClient::OnBeforeClose(CefRefPtr<CefBrowser> browser) {
  QLOG(u"CWebClient::OnBeforeClose");
  CefRefPtr<CefBrowser> current = GetBrowser();
  if (!current || !current->IsSame(browser)) return;
  QLOG(u"=> same browser");
  if (CefRefPtr<CefJSDialogCallback> callback = TakeDialogCallback())
    callback->Continue(false, CefString());
  m_urlNotice.store(0);
  const uint64_t delivered = m_frames.BytesDelivered();
  QLOG(u"=> paints[%u] bytes copied[%u] KiB", static_cast<unsigned>(m_paintCount),
       static_cast<unsigned>((delivered - m_bytesLogged) / 1024));
  m_paintCount = 0;
  m_bytesLogged = delivered;
  m_painter.Reset();
  m_browser.Store(nullptr);
}

}  // namespace quillo
