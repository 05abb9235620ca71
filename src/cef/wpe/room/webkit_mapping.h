// Pure translations from the engine's terms to CEF's: navigation types and
// transitions, the cursor a hit test asks for, UTF-8 to UTF-16. No state;
// any thread (the WebKit objects they read belong to the UI thread).
#pragma once

#include <wpe/webkit.h>

#include <string>

#include "cef_types.h"

namespace quillo::engine {

// The CEF transition of a navigation (redirects carry TT_SERVER_REDIRECT_FLAG).
cef_transition_type_t TransitionOf(WebKitNavigationAction* action);
cef_navigation_type_t NavigationTypeOf(WebKitNavigationAction* action);
// The cursor shown over what the pointer hit: a hand over links, a text
// cursor over editable content, the arrow elsewhere.
cef_cursor_type_t CursorOf(WebKitHitTestResult* hit);
// Null reads as empty.
std::u16string ToU16(const char* utf8);

}  // namespace quillo::engine
