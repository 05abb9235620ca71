#include "views/host_view.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "views/byte_range.h"

namespace quillo::views {
namespace {

// config.auto_reload: the wait before the first reload, the longest wait, and how long a page
// that loaded again keeps its process before the count starts anew.
constexpr std::chrono::milliseconds kFirstReloadWait{500};
constexpr std::chrono::milliseconds kLongestReloadWait{30000};
constexpr std::chrono::seconds kUpAgain{10};

}  // namespace

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
    case kEventReady: {
      // Frames of an earlier size: the first frame of the current one shows the page ready.
      const bool sameFrames = static_cast<uint64_t>(event.code) == m_resizes;
      m_ready = PendingReady{true, sameFrames ? std::max<uint64_t>(event.id, 1) : 1,
                             std::move(event.text)};
      if (m_lastStoreFrame >= m_ready.target) QueueReady(m_lastFrame);
      return;
    }
    case QUILLO_NOTICE_PROCESS_GONE:
      m_ready.waiting = false;
      m_up = false;
      if (m_settings.autoReload > 0) {
        m_notices.push_back(std::move(event));
        if (m_reloads >= m_settings.autoReload) {
          ViewEvent stopped;
          stopped.view = m_handle;
          stopped.kind = QUILLO_NOTICE_AUTO_RELOAD_STOPPED;
          stopped.code = m_reloads;
          m_notices.push_back(std::move(stopped));
          m_reloadScheduled = false;
          return;
        }
        ++m_reloads;
        auto wait = kFirstReloadWait;
        for (int i = 1; i < m_reloads && wait < kLongestReloadWait; ++i) wait *= 2;
        wait = std::min(wait, kLongestReloadWait);
        m_reloadDue = std::chrono::steady_clock::now() + wait;
        m_reloadScheduled = true;
        ViewEvent reload;
        reload.view = m_handle;
        reload.kind = QUILLO_NOTICE_AUTO_RELOAD;
        reload.code = m_reloads;
        reload.id = static_cast<uint64_t>(wait.count());
        m_notices.push_back(std::move(reload));
        return;
      }
      break;
    case QUILLO_NOTICE_LOAD_FINISHED:
      if (!m_up) {
        m_up = true;
        m_upSince = std::chrono::steady_clock::now();
      }
      break;
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
  m_lastStoreFrame = frame;
  event.id = m_lastFrame;
  event.rect = area.Bounds();
  m_notices.push_back(std::move(event));
  if (m_ready.waiting && frame >= m_ready.target) QueueReady(m_lastFrame);
}

void HostView::QueueReady(uint64_t frame) {
  m_ready.waiting = false;
  ViewEvent ready;
  ready.view = m_handle;
  ready.kind = QUILLO_NOTICE_READY;
  ready.id = frame;
  ready.text = std::move(m_ready.url);
  // Right after that frame's FRAME notice while it waits (the page's word came a little after
  // the frame was delivered), else now.
  for (auto it = m_notices.rbegin(); it != m_notices.rend(); ++it)
    if (it->kind == QUILLO_NOTICE_FRAME && it->id == frame) {
      m_notices.insert(it.base(), std::move(ready));
      return;
    }
  m_notices.push_back(std::move(ready));
}

int HostView::TakeDueReload(std::chrono::steady_clock::time_point now) {
  if (m_reloads > 0 && m_up && now - m_upSince >= kUpAgain) m_reloads = 0;
  if (!m_reloadScheduled || now < m_reloadDue) return 0;
  m_reloadScheduled = false;
  return m_reloads;
}

void HostView::Resize(const Memory& memory, std::shared_ptr<ViewFrames> frames) {
  m_settings.memory = memory;
  m_frames = std::move(frames);
  m_framesBefore = m_lastFrame;
  m_lastStoreFrame = 0;
  ++m_resizes;
  // A page ready before waits for the first frame of the new size.
  m_ready.target = 1;
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
  full.input_mode = m_handedOut.inputMode.c_str();
  std::memcpy(notice, &full, size);
  return 1;
}

}  // namespace quillo::views
