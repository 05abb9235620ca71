// One view's host side: what the host's thread keeps of a view between its calls. The memory
// the host handed over and the frames of its size (copied into that memory only in Deliver, so
// only inside quillo_pump), the notices waiting for the host, the texts of the notice handed out
// last, and which dialogs and messages still wait for the host's answer.
//
// Threads: the host's thread only. Owned by the runtime's handle table; the engine side of the
// view (ViewClient) is the engine thread's and is reached only through tasks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "quillo/views.h"
#include "views/view_config.h"
#include "views/view_event.h"
#include "views/view_frames.h"

namespace quillo::views {

// The size of the first version of quillo_notice (up to detail); a smaller one is refused.
constexpr size_t kFirstNoticeSize = offsetof(quillo_notice, headers);

class HostView {
 public:
  HostView(uint64_t handle, const ViewSettings& settings, std::shared_ptr<ViewFrames> frames);
  HostView(const HostView&) = delete;
  HostView& operator=(const HostView&) = delete;

  uint64_t Handle() const { return m_handle; }
  const ViewSettings& Settings() const { return m_settings; }
  ViewSettings& MutableSettings() { return m_settings; }
  // Whether the engine has let go of the view (only its notices are left).
  bool Released() const { return m_released; }

  // An event the engine emitted for this view: queued as a notice (or kept to itself).
  void Receive(ViewEvent&& event);
  // Copies the newest whole frame of the current size into the memory where it differs from the
  // frame the host has, and queues its FRAME notice; nothing when no frame is new.
  void Deliver();
  // The new size's memory and frames: the old memory is not written again from here on.
  void Resize(const Memory& memory, std::shared_ptr<ViewFrames> frames);
  // The frames of the current size (for a scale change, which keeps the memory).
  const std::shared_ptr<ViewFrames>& Frames() const { return m_frames; }

  // quillo_view_next_notice: 1 when a notice was written into *notice, 0 when none waits.
  int NextNotice(quillo_notice* notice);

  // Dialogs and messages the host was told of and has not answered: Take is true once per id.
  bool TakeOpenDialog(uint64_t id) { return m_openDialogs.erase(id) == 1; }
  bool TakeOpenMessage(uint64_t id) { return m_openMessages.erase(id) == 1; }
  // A request of a host-served scheme the host was told of and has not ended (nor the page let
  // go of): what its answers need to know.
  struct OpenRequest {
    std::string url;
    std::string range;      // its Range header's value; "" when it has none
    bool ifRange = false;   // it has an If-Range header
    bool answered = false;  // the host's first answer came
    // A head from quillo_view_respond_range without data: the bytes it promised, and those sent.
    bool promised = false;
    uint64_t expected = 0;
    uint64_t sent = 0;
    std::chrono::steady_clock::time_point since;  // when its notice came
    bool waitLogged = false;                      // its long wait was logged
  };
  // The open request id, or null.
  OpenRequest* FindRequest(uint64_t id) {
    auto it = m_openRequests.find(id);
    return it == m_openRequests.end() ? nullptr : &it->second;
  }
  void EndRequest(uint64_t id) { m_openRequests.erase(id); }
  // Logs the open requests that have waited for their first answer since before cutoff (once
  // each).
  void LogLongWaits(std::chrono::steady_clock::time_point cutoff);

  size_t PendingNotices() const { return m_notices.size(); }

  // The touch points the host pressed and has not lifted or cancelled, by id (at most
  // QUILLO_MAX_TOUCH_POINTS).
  std::set<int>& TouchPoints() { return m_touchPoints; }
  // config.auto_reload: the attempt whose reload is due by now (and forgets it), or 0. Also
  // starts the count anew for a view that has been up long enough.
  int TakeDueReload(std::chrono::steady_clock::time_point now);

  // The most page messages that wait for an answer (the engine layer keeps as many).
  static constexpr size_t kMaxOpenMessages = 10000;

 private:
  const uint64_t m_handle;
  ViewSettings m_settings;  // as the host's calls changed them (memory: the current one)
  std::shared_ptr<ViewFrames> m_frames;
  // Frame numbers go on across sizes: each size's frames count from 1, after those before.
  uint64_t m_framesBefore = 0;
  uint64_t m_lastFrame = 0;
  std::deque<ViewEvent> m_notices;  // waiting for the host, oldest first
  ViewEvent m_handedOut;            // the texts of the notice handed out last
  std::set<uint64_t> m_openDialogs;
  std::set<uint64_t> m_openMessages;
  std::map<uint64_t, OpenRequest> m_openRequests;  // by id
  std::set<int> m_touchPoints;
  bool m_released = false;

  // Queues the READY notice of the page ready at m_ready, after the FRAME notice of the frame
  // numbered frame (of the current frames) when it still waits.
  void QueueReady(uint64_t frame);
  // Resizes the host made (the engine side counts those it carried out).
  uint64_t m_resizes = 0;
  uint64_t m_lastStoreFrame = 0;  // the number the store gave the frame delivered last
  // The page said it is ready: its READY notice waits for a frame numbered at least target of
  // the current frames.
  struct PendingReady {
    bool waiting = false;
    uint64_t target = 0;
    std::string url;
  } m_ready;
  // config.auto_reload: reloads since the view was last up, the next one's time, and since when
  // the page has been up again.
  int m_reloads = 0;
  std::chrono::steady_clock::time_point m_reloadDue{};
  bool m_reloadScheduled = false;
  std::chrono::steady_clock::time_point m_upSince{};
  bool m_up = false;
};

}  // namespace quillo::views
