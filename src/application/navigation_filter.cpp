// CWebApplication's refused prefixes and the navigation hook that applies them.
#include <string_view>

#include "application/web_application.h"
#include "diagnostics/debug_log.h"
#include "platform/platform.h"

namespace quillo {

void CWebApplication::ReserveInvalidRedirectUrlSchemes(const char* schemes) {
  QLOG(u"CWebApplication::ReserveInvalidRedirectUrlSchemes");
  std::string_view text = schemes ? std::string_view(schemes) : std::string_view();
  std::lock_guard<std::mutex> lock(m_schemeLock);
  m_invalidSchemes.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) {
      std::string entry(text.substr(start, end - start));
      if (Configuration::GetInstance()->DebugEnabled())
        DebugLog(u"=> invalid scheme : %s", platform::DecodeHostText(entry.c_str()).c_str());
      m_invalidSchemes.push_back(std::move(entry));
    }
    start = end + 1;
  }
}

bool CWebApplication::OnBeforeNavigation(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                                         CefRefPtr<CefRequest> request, NavigationType,
                                         bool is_redirect) {
  const CefString url = request->GetURL();
  if (Configuration::GetInstance()->DebugEnabled())
    DebugLog(
        u"CWebApplication::OnBeforeNavigation url[%s] transitiontype[0x%08x] redirect[%s] "
        u"frame is main[%d]",
        url.c_str(), static_cast<unsigned>(request->GetTransitionType()),
        is_redirect ? u"true" : u"false", frame && frame->IsMain() ? 1 : 0);
  const std::string text = url.ToString();
  std::lock_guard<std::mutex> lock(m_schemeLock);
  bool refuse = false;
  for (const std::string& prefix : m_invalidSchemes) {
    if (text.compare(0, prefix.size(), prefix) != 0) continue;
    QLOG(u"=> invalid url : %s", url.c_str());
    m_refusedUrlText.Publish(text);
    m_refusedUrlNotice.store(1);
    refuse = true;
  }
  if (!refuse && text.compare(0, 7, "mailto:") == 0) {
    QLOG(u"=> mailto url : %s", url.c_str());
    refuse = true;
  }
  return refuse;
}

}  // namespace quillo
