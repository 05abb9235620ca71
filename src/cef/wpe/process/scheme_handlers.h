// Schemes the embedder answers (CefRegisterSchemeHandlerFactory). Each scheme is registered once
// with the shared web context; a request of it finds the browser of its view, asks the scheme's
// factory for a resource handler and drives it (a SchemeJob): Open, the response's head, then
// Read after Read. The bytes reach the engine through a socket pair whose other end is the
// response's stream, so that the page reads them as they come and a response of unknown length
// is never held whole. A request of no browser this layer knows, or that the factory does not
// take, is refused. The engine's media player cannot read such schemes itself: the extension
// reads them for it (webext/media_source.h), its requests coming here as messages of the page
// that plays the media (MediaRequest) and going to the same factory.
//
// Threads: the UI thread only (the jobs' callbacks may be called on any thread; they post their
// work to it). One instance for the process; at the engine's stop every job is cancelled and the
// factories are let go.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "cef_scheme.h"

namespace quillo::engine {

class BrowserSide;
class SchemeJob;

class SchemeHandlers {
 public:
  static SchemeHandlers& Get();

  // Requests of scheme go to factory from now on (a null factory: they are refused).
  bool Register(const std::string& scheme, CefRefPtr<CefSchemeHandlerFactory> factory);
  // How pages treat scheme (CEF_SCHEME_OPTION_*: secure, CORS-enabled).
  bool AddOptions(const std::string& scheme, int options);
  // The engine stops: every job is cancelled, the factories go.
  void Stop();

  // Engine signal (the web context's callback): a request of a registered scheme.
  void Request(WebKitURISchemeRequest* request);
  // The extension's message (webext/protocol.h, kMediaRequest): browser's media player asks
  // for uri from byte first on; socket (the job's from now on) carries the answer.
  void MediaRequest(BrowserSide& browser, const std::string& uri, uint64_t first, int socket);
  // A job has ended; it is let go.
  void Ended(SchemeJob* job);

 private:
  SchemeHandlers() = default;

  std::map<std::string, CefRefPtr<CefSchemeHandlerFactory>> m_factories;
  // The web context the schemes are registered with (a registration cannot be undone), and
  // which; cleared when the engine stops.
  WebKitWebContext* m_context = nullptr;
  std::set<std::string> m_registered;
  // The jobs under way, each held here until it ends.
  std::map<SchemeJob*, CefRefPtr<SchemeJob>> m_jobs;
};

}  // namespace quillo::engine
