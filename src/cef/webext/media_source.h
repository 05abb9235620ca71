// Media from the embedder's schemes. The engine's media player reads http, https and blob
// URLs only; for a scheme the embedder answers, this extension registers a GStreamer source
// element, which the player's URI decoder picks for such URLs. The element asks the library for
// the bytes from a position on (a Range request when the position is not 0) by a message from
// a page of this process, handing over one end of a socket pair: the library writes the
// response's head ("status\r\nName: value\r\n...\r\n") and then its body into it, and closes it
// at the end (or to refuse). Seeking closes the socket and asks again from the new position;
// the element knows the resource's size from the first head that tells it, and is seekable
// from then on.
//
// Threads: registration, pages and the sending of requests on the web process's main thread;
// the element's reads on its streaming thread, woken by unlock from any thread. The element
// never waits for the main thread while the main thread may wait for it: a request is handed
// to the main thread and the answer read from the socket.
#pragma once

#include <wpe/webkit-web-extension.h>

namespace quillo::webext {

// Media of scheme is read through the library from now on: GStreamer is initialised when it
// is not yet, and the element registered for scheme. False (with a line on standard error)
// when GStreamer cannot start. Main thread.
bool RegisterMediaScheme(const char* scheme);

// A page of this process: requests go out through the newest page still alive (a web process
// shows one page of one view; older ones wait in its history). Main thread.
void AddMediaPage(WebKitWebPage* page);

}  // namespace quillo::webext
