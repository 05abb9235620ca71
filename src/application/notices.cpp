// CWebApplication::UpdateWeb: hands the host one word of notices, in a fixed
// order, with at most one text.
#include "application/web_application.h"
#include "diagnostics/debug_log.h"
#include "quillo.h"

namespace quillo {

int CWebApplication::UpdateWeb(void** text, int* value) {
  if (!m_contextInitialized.load()) return -1;
  CWebClient* client = m_client.get();
  if (client == nullptr) {
    QLOG(u"=> client null");
    return -1;
  }
  if (!client->GetBrowser()) {
    QLOG(u"==> browser null");
    return 0;
  }
  // A load error is always reported alone; the rest waits for the next call.
  if (int code = client->m_loadErrorCode.exchange(0); code != 0) {
    *value = code;
    *text = const_cast<char*>(client->m_urlText.Latest());
    return UPDATE_LOAD_ERROR;
  }
  int result = 0;
  if (m_refusedUrlNotice.exchange(0)) {
    *text = const_cast<char*>(m_refusedUrlText.Latest());
    result = UPDATE_URL;
  } else if (client->m_urlNotice.exchange(0)) {
    *text = const_cast<char*>(client->m_urlText.Latest());
    result = UPDATE_URL;
  } else if (client->m_titleNotice.exchange(0)) {
    *text = const_cast<char*>(client->m_titleText.Latest());
    result = UPDATE_TITLE;
  } else if (client->m_dialogNotice.exchange(0)) {
    *text = const_cast<char*>(client->m_dialogText.Latest());
    *value = client->m_dialogType.load();
    result = UPDATE_JS_DIALOG;
  }
  if (client->m_newFrame.exchange(0)) result |= UPDATE_NEW_FRAME;
  if (client->m_focused.load()) result |= UPDATE_FOCUSED;
  if (client->m_popupNotice.exchange(0)) result |= UPDATE_POPUP_BLOCKED;
  if (int cursor = client->m_cursorType.exchange(0); cursor > 0)
    result |= cursor & UPDATE_CURSOR_MASK;
  return result;
}

}  // namespace quillo
