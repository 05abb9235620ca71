// The messages between the library (the engine's UI process side) and its
// extension inside the web process. Parameters are GVariant tuples.
#pragma once

namespace quillo::webext {

// Web process -> library.
// (b created, t frame id, b is main frame, s frame URL, t web process id): a
// script context of a frame was created or released.
inline constexpr char kContextMessage[] = "quillo.context";
// (s text, s source, u line, u level, b is uncaught exception)
inline constexpr char kConsoleMessage[] = "quillo.console";
// (t frame id, s URL): a sub-frame committed a new document.
inline constexpr char kSubframeNavigated[] = "quillo.subframe-navigated";

// Library -> web process.
// The extension's initialisation data: (i host process id, 0 when the web
// process cannot see it).
inline constexpr char kInitialisationData[] = "(i)";

// (s failed URL, s new URL): frames whose element points at the failed URL
// load the new one instead.
inline constexpr char kReplaceSubframe[] = "quillo.replace-subframe";

}  // namespace quillo::webext
