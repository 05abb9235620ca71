// Which main-frame navigations to data: URLs go ahead. Chromium lets the
// browser's own loads and history moves reach a data: document but refuses a
// page that sends the whole view to one (a link, a script, a form); the
// engine is told to allow them all and this rule refuses the page's own.
#pragma once

#include <string>

namespace quillo::engine {

// url: where the main frame is going; transition: the CEF transition type of
// its policy decision; hostStarted: whether the embedder asked for this load.
bool RefusedTopLevelDataUrl(const std::string& url, int transition, bool hostStarted);

}  // namespace quillo::engine
