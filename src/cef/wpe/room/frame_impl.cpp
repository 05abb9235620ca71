#include "wpe/room/frame_impl.h"

#include "cef_browser.h"
#include "wpe/process/engine_context.h"

namespace quillo::engine {

FrameImpl::FrameImpl(FrameOwner* owner, bool is_main, int64 id, const std::u16string& url)
    : m_owner(owner),
      m_isMain(is_main),
      m_id(id),
      m_url(std::make_shared<const std::u16string>(url)) {}

bool FrameImpl::IsValid() {
  return m_owner.load() != nullptr;
}

void FrameImpl::LoadURL(const CefString& url) {
  FrameOwner* owner = m_owner.load();
  if (owner == nullptr) return;
  if (m_isMain)
    owner->LoadUrlInMainFrame(url);
  else
    owner->LoadUrlInSubframe(CefString(*m_url.load()), url);
}

void FrameImpl::ExecuteJavaScript(const CefString& code, const CefString& script_url,
                                  int start_line) {
  (void)script_url, (void)start_line;
  if (FrameOwner* owner = m_owner.load(); owner && m_isMain) owner->RunScriptInMainFrame(code);
}

void FrameImpl::EvaluateJavaScript(const CefString& code, CefRefPtr<CefEvaluateCallback> callback) {
  if (!callback) return;
  FrameOwner* owner = m_owner.load();
  if (owner && m_isMain) {
    owner->EvaluateInMainFrame(code, callback);
    return;
  }
  const char* why = owner ? "only the main frame evaluates script" : "the page is gone";
  EngineContext::Get().PostTask([callback, why] { callback->OnResult(false, CefString(why)); });
}

CefString FrameImpl::GetURL() {
  return CefString(*m_url.load());
}

CefRefPtr<CefBrowser> FrameImpl::GetBrowser() {
  FrameOwner* owner = m_owner.load();
  return owner ? owner->Browser() : nullptr;
}

void FrameImpl::Copy() {
  if (FrameOwner* owner = m_owner.load(); owner && m_isMain) owner->CopyInMainFrame();
}

void FrameImpl::Cut() {
  if (FrameOwner* owner = m_owner.load(); owner && m_isMain) owner->CutInMainFrame();
}

void FrameImpl::Paste() {
  if (FrameOwner* owner = m_owner.load(); owner && m_isMain) owner->PasteInMainFrame();
}

void FrameImpl::PasteText(const CefString& text, const CefString& html) {
  if (FrameOwner* owner = m_owner.load(); owner && m_isMain)
    owner->PasteTextInMainFrame(text, html);
}

CefRefPtr<FrameImpl> FrameImpl::SubFrame(int64 id, const std::u16string& url) {
  return new FrameImpl(m_owner.load(), false, id, url);
}

void FrameImpl::SetURL(const std::u16string& url) {
  m_url.store(std::make_shared<const std::u16string>(url));
}

}  // namespace quillo::engine
