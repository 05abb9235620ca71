// The script contexts of one browser's frames that the render-process hooks
// have been told of and not yet told are gone.
//
// The web process reports each context it creates and releases. A page that
// moves to another web process (a cross-site load) leaves the old process's
// contexts without a release, and a process that dies reports nothing; this
// record releases those itself, so the hooks see every created context
// released exactly once. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace quillo::engine {

class ScriptContexts {
 public:
  struct Context {
    uint64_t frameId;
    bool main;
    std::string url;
  };
  // Called for a context that goes, created == false, or comes, true.
  using Notify = std::function<void(bool created, const Context& context)>;

  // A report from web process `process`. A new main-frame context there
  // first releases what is left of every other process.
  void Report(uint64_t process, bool created, const Context& context, const Notify& notify);
  // Every context goes (the web process ended).
  void ReleaseAll(const Notify& notify);

  size_t Live() const { return m_live.size(); }

 private:
  std::map<std::pair<uint64_t, uint64_t>, Context> m_live;  // by (process, frame id)
};

}  // namespace quillo::engine
