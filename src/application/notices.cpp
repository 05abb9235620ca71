// CWebApplication::UpdateWeb: hands the host one word of notices, in a fixed
// order, with at most one text.
#include "application/web_application.h"
#include "diagnostics/debug_log.h"
#include "quillo.h"

namespace quillo {
namespace {

// Read-and-clear that costs only a load while nothing is pending (the
// common case of a poll).
template <typename T>
T Take(std::atomic<T>& notice) {
  return notice.load() != 0 ? notice.exchange(0) : T{0};
}

}  // namespace

int CWebApplication::UpdateWeb(void** text, int* value) {
  if (!m_contextInitialized.load()) return -1;
  CWebClient* client = m_client.get();
  if (client == nullptr) {
    QLOG(u"=> client null");
    return -1;
  }
  if (!client->HasBrowser()) {
    QLOG(u"==> browser null");
    return 0;
  }
  // A load error is always reported alone; the rest waits for the next call.
  if (int code = Take(client->m_loadErrorCode); code != 0) {
    *value = code;
    *text = const_cast<char*>(client->m_loadErrorText.Latest());
    return UPDATE_LOAD_ERROR;
  }
  int result = 0;
  if (Take(m_refusedUrlNotice)) {
    *text = const_cast<char*>(m_refusedUrlText.Latest());
    result = UPDATE_URL;
  } else if (Take(client->m_urlNotice)) {
    *text = const_cast<char*>(client->m_urlText.Latest());
    result = UPDATE_URL;
  } else if (Take(client->m_titleNotice)) {
    *text = const_cast<char*>(client->m_titleText.Latest());
    result = UPDATE_TITLE;
  } else if (Take(client->m_dialogNotice)) {
    *text = const_cast<char*>(client->m_dialogText.Latest());
    *value = client->m_dialogType.load();
    result = UPDATE_JS_DIALOG;
  }
  if (Take(client->m_newFrame)) result |= UPDATE_NEW_FRAME;
  if (client->m_focused.load()) result |= UPDATE_FOCUSED;
  if (Take(client->m_popupNotice)) result |= UPDATE_POPUP_BLOCKED;
  if (int cursor = Take(client->m_cursorType); cursor > 0)
    result |= cursor & UPDATE_CURSOR_MASK;
  return result;
}

}  // namespace quillo
