// CWebClient as load handler: log lines, load errors and the error page.
#include <string>

#include "client/data_url.h"
#include "client/error_page.h"
#include "client/web_client.h"
#include "diagnostics/debug_log.h"

namespace quillo {
namespace {

const char16_t* IsCurrent(const CefRefPtr<CefBrowser>& current, CefRefPtr<CefBrowser> browser) {
  return current->IsSame(browser) ? u"true" : u"false";
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void CWebClient::OnLoadingStateChange(CefRefPtr<CefBrowser> browser, bool isLoading, bool canGoBack,
                                      bool canGoForward) {
  if (!Configuration::GetInstance()->DebugEnabled()) return;
  if (CefRefPtr<CefBrowser> current = GetBrowser())
    DebugLog(
        u"CWebClient::OnLoadingStateChange cur browser[%s] isLoading[%d] canGoBack[%d], "
        u"canGoForward[%d]",
        IsCurrent(current, browser), isLoading ? 1 : 0, canGoBack ? 1 : 0, canGoForward ? 1 : 0);
  else
    DebugLog(u"CWebClient::OnLoadingStateChange cur browser null");
}

void CWebClient::OnLoadStart(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, TransitionType) {
  if (!Configuration::GetInstance()->DebugEnabled()) return;
  if (CefRefPtr<CefBrowser> current = GetBrowser())
    DebugLog(u"CWebClient::OnLoadStart cur browser[%s]", IsCurrent(current, browser));
  else
    DebugLog(u"CWebClient::OnLoadStart cur browser null");
}

void CWebClient::OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, int) {
  if (!Configuration::GetInstance()->DebugEnabled()) return;
  if (CefRefPtr<CefBrowser> current = GetBrowser())
    DebugLog(u"CWebClient::OnLoadEnd cur browser[%s]", IsCurrent(current, browser));
  else
    DebugLog(u"CWebClient::OnLoadEnd cur browser null");
}

void CWebClient::OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                             const CefString& errorText, const CefString& failedUrl) {
  if (errorCode == ERR_ABORTED) {
    QLOG(u"CWebClient::OnLoadError ERR_ABORTED");
    return;
  }
  if (errorCode == ERR_UNKNOWN_URL_SCHEME && frame) {
    // Pages that hand such URLs to other applications expect silence.
    std::string frameUrl = frame->GetURL().ToString();
    if (StartsWith(frameUrl, "spotify:") || StartsWith(frameUrl, "tapcallback")) return;
  }
  const std::string text = errorText.ToString();
  // The first error after the web process's end is the end's own; recorded before its code, so
  // that the poll that hands the code over also sees it recorded.
  int ended = 1;
  m_endUnheard.compare_exchange_strong(ended, 2);
  m_urlText.Publish(text);
  m_loadErrorText.Publish(text);
  m_loadErrorCode.store(errorCode);
  QLOG(u"CWebClient::OnLoadError [%d] [%s] [%s]", static_cast<int>(errorCode), errorText.c_str(),
       failedUrl.c_str());
  if (frame) ShowLoadErrorPage(frame, failedUrl.ToString(), errorCode, text);
}

void CWebClient::OnRenderProcessTerminated(CefRefPtr<CefBrowser>, TerminationStatus) {
  m_endUnheard.store(1);
}

void CWebClient::ShowLoadErrorPage(CefRefPtr<CefFrame> frame, const std::string& failedUrl,
                                   int errorCode, const std::string& errorText) {
  std::string page = BuildErrorPage(failedUrl, errorCode, errorText);
  frame->LoadURL(CefString(BuildDataUrl(page, "text/html")));
}

}  // namespace quillo
