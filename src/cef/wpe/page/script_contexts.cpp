#include "wpe/page/script_contexts.h"

namespace quillo::engine {

void ScriptContexts::Report(uint64_t process, bool created, const Context& context,
                            const Notify& notify) {
  const auto key = std::make_pair(process, context.frameId);
  if (!created) {
    auto it = m_live.find(key);
    if (it == m_live.end()) return;  // already released with its old process
    Context gone = it->second;
    m_live.erase(it);
    notify(false, gone);
    return;
  }
  if (context.main) {
    for (auto it = m_live.begin(); it != m_live.end();) {
      if (it->first.first == process) {
        ++it;
        continue;
      }
      Context gone = it->second;
      it = m_live.erase(it);
      notify(false, gone);
    }
  }
  if (!m_live.emplace(key, context).second) return;  // reported twice
  notify(true, context);
}

void ScriptContexts::ReleaseAll(const Notify& notify) {
  auto live = std::move(m_live);
  m_live.clear();
  for (auto& [key, context] : live) notify(false, context);
}

}  // namespace quillo::engine
