// CWebApplication::UpdateWeb: hands the host one word of notices, in a fixed
// order, with at most one text.
#include "application/web_application.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/stage_trace.h"
#include "quillo.h"

namespace quillo {
namespace {

// Read-and-clear that costs only a load while nothing is pending (the
// common case of a poll).
template <typename T>
T Take(std::atomic<T>& notice) {
  return notice.load() != 0 ? notice.exchange(0) : T{0};
}

// A raised notice with its text, or null. A text recorded while the previous call collected
// the one before is handed out by that call already; its notice, raised after, is then
// dropped instead of handing the same text out twice.
template <size_t N>
char* TakeWithText(std::atomic<uint8_t>& notice, NoticeText<N>& text) {
  if (!Take(notice)) return nullptr;
  return const_cast<char*>(text.TakeFresh());
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
    client->LoadErrorHeard();
    return UPDATE_LOAD_ERROR;
  }
  int result = 0;
  if (char* refused = TakeWithText(m_refusedUrlNotice, m_refusedUrlText)) {
    *text = refused;
    result = UPDATE_URL;
  } else if (char* url = TakeWithText(client->m_urlNotice, client->m_urlText)) {
    *text = url;
    result = UPDATE_URL;
  } else if (char* title = TakeWithText(client->m_titleNotice, client->m_titleText)) {
    *text = title;
    result = UPDATE_TITLE;
  } else if (char* dialog = TakeWithText(client->m_dialogNotice, client->m_dialogText)) {
    *text = dialog;
    *value = client->m_dialogType.load();
    result = UPDATE_JS_DIALOG;
  }
  if (client->DeliverFrame()) {
    diagnostics::MarkStage(diagnostics::Stage::kFrameDelivered);
    result |= UPDATE_NEW_FRAME;
  }
  if (client->m_focused.load()) result |= UPDATE_FOCUSED;
  if (Take(client->m_popupNotice)) result |= UPDATE_POPUP_BLOCKED;
  if (int cursor = Take(client->m_cursorType); cursor > 0) result |= cursor & UPDATE_CURSOR_MASK;
  return result;
}

}  // namespace quillo
