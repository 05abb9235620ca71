// Debug builds check that an engine-layer entry written for the UI (engine)
// thread runs there, as CEF's CEF_REQUIRE_UI_THREAD does: a call from another
// thread stops the process at once, naming the entry, where a comment alone
// would let it surface later as a race. Release builds (NDEBUG) compile the
// check out; -DQUILLO_THREAD_CHECKS=0 or 1 decides otherwise.
//
// Destructors are not checked: a browser and its rooms go wherever the last
// reference to the browser is let go.
#pragma once

#ifndef QUILLO_THREAD_CHECKS
#ifdef NDEBUG
#define QUILLO_THREAD_CHECKS 0
#else
#define QUILLO_THREAD_CHECKS 1
#endif
#endif

namespace quillo::engine {

// Any thread: writes where to standard error and aborts unless it runs on the
// thread that started the engine (none before the engine has started).
void RequireUiThread(const char* where);

}  // namespace quillo::engine

#if QUILLO_THREAD_CHECKS
#define QUILLO_REQUIRE_UI_THREAD() ::quillo::engine::RequireUiThread(__PRETTY_FUNCTION__)
#else
#define QUILLO_REQUIRE_UI_THREAD() static_cast<void>(0)
#endif
