#include "views/host_view.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "views/byte_range.h"

namespace quillo::views {

HostView::HostView(uint64_t handle, const ViewSettings& settings,
                   std::shared_ptr<ViewFrames> frames)
    : m_handle(handle), m_settings(settings), m_frames(std::move(frames)) {}

void HostView::Receive(ViewEvent&& event) {
  switch (event.kind) {
    case kEventReleased:
      m_released = true;
      return;
    case kEventDialogGone:
      m_openDialogs.erase(event.id);
      return;
    case QUILLO_NOTICE_DIALOG:
      m_openDialogs.insert(event.id);
      break;
    case kEventRequestGone:
      // Told to the host only while it has not ended the request itself.
      if (m_openRequests.erase(event.id) == 0) return;
      event.kind = QUILLO_NOTICE_REQUEST_ENDED;
      break;
    case QUILLO_NOTICE_REQUEST: {
      OpenRequest& request = m_openRequests[event.id];
      request.url = event.text;
      bool found = false;
      request.range = std::string(HeaderValue(event.headers, "Range", &found));
      HeaderValue(event.headers, "If-Range", &request.ifRange);
      request.since = std::chrono::steady_clock::now();
      break;
    }
    case QUILLO_NOTICE_MESSAGE:
      m_openMessages.insert(event.id);
      // As the engine does: past this many unanswered, the oldest are forgotten.
      if (m_openMessages.size() > kMaxOpenMessages) m_openMessages.erase(m_openMessages.begin());
      break;
    default:
      break;
  }
  m_notices.push_back(std::move(event));
}

void HostView::LogLongWaits(std::chrono::steady_clock::time_point cutoff) {
  for (auto& [id, request] : m_openRequests) {
    if (request.answered || request.waitLogged || request.since > cutoff) continue;
    request.waitLogged = true;
    QLOG(
        u"quillo_pump => view [0x%x]: request %d [%s] has waited 30 s for the host's answer; "
        u"its page waits with it",
        static_cast<unsigned>(m_handle & 0xFFFFFF), static_cast<int>(id),
        platform::Utf8ToUtf16(request.url).c_str());
  }
}

void HostView::Deliver() {
  if (!m_frames || !m_frames->ok) return;
  DirtyRegion area;
  uint64_t frame = 0;
  if (!m_frames->store.Deliver(m_settings.memory.pixels, &area, &frame)) return;
  ViewEvent event;
  event.view = m_handle;
  event.kind = QUILLO_NOTICE_FRAME;
  m_lastFrame = m_framesBefore + frame;
  event.id = m_lastFrame;
  event.rect = area.Bounds();
  m_notices.push_back(std::move(event));
}

void HostView::Resize(const Memory& memory, std::shared_ptr<ViewFrames> frames) {
  m_settings.memory = memory;
  m_frames = std::move(frames);
  m_framesBefore = m_lastFrame;
}

int HostView::NextNotice(quillo_notice* notice) {
  if (m_notices.empty()) return 0;
  m_handedOut = std::move(m_notices.front());
  m_notices.pop_front();
  // Written through a full-size copy, then only as many bytes as the host's struct has.
  quillo_notice full = quillo_notice_init();
  const size_t size = std::min(notice->size, sizeof(full));
  full.size = notice->size;
  full.kind = m_handedOut.kind;
  full.code = m_handedOut.code;
  full.id = m_handedOut.id;
  full.rect = quillo_rect{m_handedOut.rect.x, m_handedOut.rect.y, m_handedOut.rect.width,
                          m_handedOut.rect.height};
  full.text = m_handedOut.text.c_str();
  full.detail = m_handedOut.detail.c_str();
  full.headers = m_handedOut.headers.c_str();
  std::memcpy(notice, &full, size);
  return 1;
}

}  // namespace quillo::views
