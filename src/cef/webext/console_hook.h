// Reports the page's console calls to the library itself. The engine passes
// console messages to the extension only for pages of a persistent session,
// and the library's session is ephemeral, so the extension wraps the page's
// console methods instead.
#pragma once

#include <wpe/webkit-web-extension.h>

namespace quillo::webext {

// Replaces console.log, info, warn, error and debug of `frame`'s main script
// world with native functions of the same names that send each message to
// the library and then call the original method. Call it when the frame's
// window object has been cleared, before the document's own script runs.
void HookConsole(WebKitWebPage* page, WebKitFrame* frame);

// True while a wrapped console method runs: the engine's own report of that
// message (persistent sessions only) would repeat the wrapper's.
bool ConsoleHookIsReporting();

}  // namespace quillo::webext
