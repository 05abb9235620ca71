// Which main-frame navigations to data: URLs go ahead. Chromium lets the
// browser's own loads and history moves reach a data: document but refuses a
// page that sends the whole view to one (a link, a script, a form); the
// engine is told to allow them all and this rule refuses the page's own.
#pragma once

#include <deque>
#include <string>

namespace quillo::engine {

// url: where the main frame is going; transition: the CEF transition type of
// its policy decision; hostStarted: whether the embedder asked for this load.
bool RefusedTopLevelDataUrl(const std::string& url, int transition, bool hostStarted);

// The embedder's main-frame loads that have been asked for and not yet
// started. A load may be overtaken by another before it starts (a host that
// loads twice, home while a load runs), so several are kept. UI thread only.
class HostLoads {
 public:
  static constexpr size_t kMaxWaiting = 8;

  void Asked(const std::string& url);
  // Whether the main-frame load of url that starts now is one the embedder
  // asked for; it and the loads asked for before it stop waiting.
  bool Starting(const std::string& url);

 private:
  std::deque<std::string> m_waiting;  // oldest first
};

}  // namespace quillo::engine
