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
// (s URL, t first byte), with one end of a socket pair as its file
// descriptor: the media player asks for a resource of an embedder's scheme
// from the first byte on. The library writes the response's head, "status\r\n"
// then "Name: value\r\n" lines and an empty line, then its body, and closes
// the socket at the end; it closes it without a head to refuse. The web
// process closes its end when it wants no more.
inline constexpr char kMediaRequest[] = "quillo.media-request";

// Library -> web process.
// The extension's initialisation data: (i host process id, 0 when the web
// process cannot see it; as the embedder's schemes, whose media the library
// serves).
inline constexpr char kInitialisationData[] = "(ias)";
// To every web process (as schemes): media of these schemes comes from the
// library too.
inline constexpr char kMediaSchemes[] = "quillo.media-schemes";

// (s failed URL, s new URL): frames whose element points at the failed URL
// load the new one instead.
inline constexpr char kReplaceSubframe[] = "quillo.replace-subframe";

}  // namespace quillo::webext
