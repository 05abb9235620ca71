#include "wpe/room/frame_impl.h"

#include "wpe/browser_impl.h"

namespace quillo::engine {

FrameImpl::FrameImpl(BrowserImpl* browser, bool is_main, int64 id, const std::u16string& url)
    : m_browser(browser),
      m_isMain(is_main),
      m_id(id),
      m_url(std::make_shared<const std::u16string>(url)) {}

bool FrameImpl::IsValid() {
  return m_browser.load() != nullptr;
}

void FrameImpl::LoadURL(const CefString& url) {
  BrowserImpl* browser = m_browser.load();
  if (browser == nullptr) return;
  if (m_isMain)
    browser->LoadUrlInMainFrame(url);
  else
    browser->LoadUrlInSubframe(CefString(*m_url.load()), url);
}

void FrameImpl::ExecuteJavaScript(const CefString& code, const CefString& script_url,
                                  int start_line) {
  (void)script_url, (void)start_line;
  if (BrowserImpl* browser = m_browser.load(); browser && m_isMain)
    browser->RunScriptInMainFrame(code);
}

CefString FrameImpl::GetURL() {
  return CefString(*m_url.load());
}

CefRefPtr<CefBrowser> FrameImpl::GetBrowser() {
  return m_browser.load();
}

void FrameImpl::SetURL(const std::u16string& url) {
  m_url.store(std::make_shared<const std::u16string>(url));
}

}  // namespace quillo::engine
