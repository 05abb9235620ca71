// CWebClient's policies: requests, script dialogs, popups, downloads, focus
// and display.
#include "client/web_client.h"
#include "diagnostics/debug_log.h"

namespace quillo {
namespace {

const char16_t* TrueFalse(bool value) {
  return value ? u"true" : u"false";
}

}  // namespace

bool CWebClient::OnBeforeBrowse(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                                CefRefPtr<CefRequest> request, bool, bool is_redirect) {
  m_frameUrl = request->GetURL();
  const bool isMain = frame && frame->IsMain();
  if (Configuration::GetInstance()->DebugEnabled())
    DebugLog(
        u"CWebClient::OnBeforeBrowse url[%s] transitiontype[0x%08x] redirect[%s] frame is "
        u"main[%d]",
        m_frameUrl.c_str(), static_cast<unsigned>(request->GetTransitionType()),
        TrueFalse(is_redirect), isMain ? 1 : 0);
  m_urlText.Publish(m_frameUrl.ToString());
  if (isMain) m_urlNotice.store(1);
  return false;
}

bool CWebClient::OnOpenURLFromTab(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                  const CefString& target_url,
                                  cef_window_open_disposition_t target_disposition, bool) {
  QLOG(u"CWebClient::OnOpenURLFromTab target url[%s] position[%d]", target_url.c_str(),
       static_cast<int>(target_disposition));
  return false;
}

CWebClient::ReturnValue CWebClient::OnBeforeResourceLoad(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                                         CefRefPtr<CefRequest> request,
                                                         CefRefPtr<CefRequestCallback>) {
  if (Configuration::GetInstance()->DebugEnabled())
    DebugLog(u"CWebClient::OnBeforeResourceLoad url[%s]", request->GetURL().c_str());
  return RV_CONTINUE;
}

bool CWebClient::OnJSDialog(CefRefPtr<CefBrowser>, const CefString& origin_url,
                            JSDialogType dialog_type, const CefString& message_text,
                            const CefString& default_prompt_text,
                            CefRefPtr<CefJSDialogCallback> callback, bool& suppress_message) {
  QLOG(
      u"CWebClient::OnJSDialog orgin_url[%s] message_text[%s] default_prompt_text[%s] "
      u"suppress_message[%d] dialog_type[%d]",
      origin_url.c_str(), message_text.c_str(), default_prompt_text.c_str(),
      suppress_message ? 1 : 0, static_cast<int>(dialog_type));
  m_dialogText.Publish(message_text.ToString());
  // The newer dialog replaces an unanswered older one, which is released
  // without an answer (its page has moved on to the new dialog).
  CefJSDialogCallback* fresh = callback.get();
  if (fresh) fresh->AddRef();
  if (CefJSDialogCallback* old = m_jsDialogCallback.exchange(fresh)) old->Release();
  m_dialogType.store(static_cast<int>(dialog_type));
  m_dialogNotice.store(1);
  return true;
}

bool CWebClient::OnBeforeUnloadDialog(CefRefPtr<CefBrowser>, const CefString&, bool,
                                      CefRefPtr<CefJSDialogCallback>) {
  QLOG(u"CWebClient::OnBeforeUnloadDialog");
  return false;
}

void CWebClient::OnResetDialogState(CefRefPtr<CefBrowser>) {
  QLOG(u"CWebClient::OnResetDialogState");
}

void CWebClient::OnDialogClosed(CefRefPtr<CefBrowser>) {
  QLOG(u"CWebClient::OnDialogClosed");
}

bool CWebClient::OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                               const CefString& target_url, const CefString&,
                               cef_window_open_disposition_t, bool, const CefPopupFeatures&,
                               CefWindowInfo&, CefRefPtr<CefClient>&, CefBrowserSettings&, bool*) {
  QLOG(u"CWebClient::OnBeforePopup target_url[%s]", target_url.c_str());
  m_popupNotice.store(1);
  return true;
}

void CWebClient::OnBeforeDownload(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem> download_item,
                                  const CefString& suggested_name,
                                  CefRefPtr<CefBeforeDownloadCallback> callback) {
  CefString path = download_item ? download_item->GetFullPath() : CefString();
  QLOG(u"CWebClient::OnBeforeDownload fullpath[%s] suggested_name[%s]", path.c_str(),
       suggested_name.c_str());
  if (callback) callback->Continue(path, false);
}

void CWebClient::OnDownloadUpdated(CefRefPtr<CefBrowser>, CefRefPtr<CefDownloadItem> download_item,
                                   CefRefPtr<CefDownloadItemCallback>) {
  if (!download_item || !download_item->IsInterrupted()) return;
  // The network error closest to why it stopped: a full disk, a folder it may not write, or
  // anything else.
  int code = ERR_FAILED;
  const char* text = "net::ERR_FAILED";
  switch (download_item->GetInterruptReason()) {
    case CEF_DOWNLOAD_INTERRUPT_REASON_FILE_NO_SPACE:
      code = ERR_FILE_NO_SPACE, text = "net::ERR_FILE_NO_SPACE";
      break;
    case CEF_DOWNLOAD_INTERRUPT_REASON_FILE_ACCESS_DENIED:
      code = ERR_ACCESS_DENIED, text = "net::ERR_ACCESS_DENIED";
      break;
    default:
      break;
  }
  QLOG(u"CWebClient::OnDownloadUpdated interrupted [%d] [%s]", code,
       download_item->GetFullPath().c_str());
  m_loadErrorText.Publish(text);
  m_loadErrorCode.store(code);
}

bool CWebClient::OnSetFocus(CefRefPtr<CefBrowser>, FocusSource) {
  QLOG(u"CWebClient::OnSetFocus");
  m_focused.store(1);
  return false;
}

void CWebClient::OnGotFocus(CefRefPtr<CefBrowser>) {
  QLOG(u"CWebClient::OnGotFocus");
}

void CWebClient::OnTakeFocus(CefRefPtr<CefBrowser>, bool next) {
  QLOG(u"CWebClient::OnTakeFocus next : %s", TrueFalse(next));
}

void CWebClient::OnTitleChange(CefRefPtr<CefBrowser>, const CefString& title) {
  QLOG(u"CWebClient::OnTitleChange [%s]", title.c_str());
  m_titleText.Publish(title.ToString());
  m_titleNotice.store(1);
}

bool CWebClient::OnConsoleMessage(CefRefPtr<CefBrowser>, const CefString&, const CefString&, int) {
  QLOG(u"CWebClient::OnConsoleMessage");
  return false;
}

}  // namespace quillo
