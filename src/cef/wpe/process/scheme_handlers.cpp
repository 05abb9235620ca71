// CefRegisterSchemeHandlerFactory and CefAddCustomSchemeOptions on the shared web context, and
// the jobs that carry a resource handler's answers to the engine.
#include "wpe/process/scheme_handlers.h"

#include <fcntl.h>
#include <gio/gunixinputstream.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "wpe/process/engine_context.h"
#include "wpe/process/ui_thread.h"
#include "wpe/process/web_process_security.h"
#include "wpe/room/browser_side.h"
#include "wpe/room/frame_impl.h"
#include "wpe/room/request_impl.h"
#include "wpe/room/response_impl.h"

namespace quillo::engine {

// One request of an embedder's scheme, from the handler's Open to the last byte written (or the
// refusal). Held by SchemeHandlers while under way, and by the handler while it holds one of the
// callbacks. UI thread, but for the callbacks, which post to it.
//
// Two kinds of request: the engine's own (a WebKitURISchemeRequest, answered with a response
// whose stream is one end of a socket pair), and the media player's, which comes with its end
// of a socket pair already (webext/media_source.h): the head goes into it as text before the
// body, and a refusal closes it.
//
// The engine holds its request while it is under way and lets go of it when the page lets go
// (a navigation away, an aborted fetch): the job holds it weakly, so that the end of the
// engine's hold tells it that nobody waits for its answer any more, also before the first one.
// The media player lets go by closing its end of the socket, which the job watches.
class SchemeJob : public CefCallback, public CefResourceReadCallback {
 public:
  SchemeJob(WebKitURISchemeRequest* request, CefRefPtr<CefResourceHandler> handler)
      : m_request(request), m_uri(webkit_uri_scheme_request_get_uri(request)), m_handler(handler) {
    g_object_weak_ref(G_OBJECT(m_request), &SchemeJob::RequestGone, this);
  }
  // A media read: socket is the job's to write and close.
  SchemeJob(int socket, const std::string& uri, CefRefPtr<CefResourceHandler> handler)
      : m_request(nullptr), m_uri(uri), m_handler(handler), m_media(true), m_socket(socket) {
    fcntl(m_socket, F_SETFL, fcntl(m_socket, F_GETFL) | O_NONBLOCK);
  }
  ~SchemeJob() override {
    DropSource(&m_writable);
    DropSource(&m_hangUp);
    if (m_socket >= 0) close(m_socket);
    LetGoOfRequest();
  }

  void Start(CefRefPtr<CefRequest> request) {
    if (m_media) WatchHangUp();
    bool handleNow = false;
    if (!m_handler->Open(request, handleNow, this)) return Refuse("refused by the embedder");
    if (handleNow) Opened();
  }

  // The engine stops (or the page let go of the response): the handler hears of it, the page
  // gets no more.
  void Abort() {
    if (m_phase == Phase::kDone) return;
    m_handler->Cancel();
    if (m_phase == Phase::kOpening && m_request) Fail("cancelled");
    End();
  }

  // CefCallback: the answer of an Open that waited. Any thread.
  void Continue() override {
    Post([](SchemeJob& job) { job.Opened(); });
  }
  void Cancel() override {
    Post([](SchemeJob& job) { job.Refuse("refused by the embedder"); });
  }
  // CefResourceReadCallback: a read that waited has its bytes in the buffer. Any thread.
  void Continue(int bytesRead) override {
    Post([bytesRead](SchemeJob& job) { job.ReadDone(bytesRead); });
  }

 private:
  enum class Phase { kOpening, kReading, kReadWaiting, kWriteWaiting, kDone };
  // The most bytes one Read may give.
  static constexpr int kChunk = 64 * 1024;

  // The engine let go of the request (the weak reference's notice): the page waits for it no
  // more. UI thread, inside the engine's own call.
  static void RequestGone(gpointer data, GObject*) {
    CefRefPtr<SchemeJob> self(static_cast<SchemeJob*>(data));  // outlives its End
    self->m_request = nullptr;
    self->Abort();
  }

  void LetGoOfRequest() {
    if (m_request) g_object_weak_unref(G_OBJECT(m_request), &SchemeJob::RequestGone, this);
    m_request = nullptr;
  }

  void Post(std::function<void(SchemeJob&)> step) {
    CefRefPtr<SchemeJob> self(this);
    // Later, never inside the handler's own call.
    EngineContext::Get().PostTask([self, step] { step(*self); });
  }

  void Opened() {
    QUILLO_REQUIRE_UI_THREAD();
    if (m_phase != Phase::kOpening || (!m_media && !m_request)) return;
    CefRefPtr<ResponseImpl> response = new ResponseImpl;
    int64 length = -1;
    CefString redirect;
    m_handler->GetResponseHeaders(response.get(), length, redirect);
    const int status = response->GetStatus();
    if (status < 100 || status > 599) return Refuse("a status out of range");
    if (m_media) return SendHead(*response, length);
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
      return Refuse("no socket pair for the response");
    m_socket = sockets[1];
    fcntl(m_socket, F_SETFL, fcntl(m_socket, F_GETFL) | O_NONBLOCK);
    GInputStream* stream = g_unix_input_stream_new(sockets[0], TRUE);
    WebKitURISchemeResponse* answer =
        webkit_uri_scheme_response_new(stream, length >= 0 ? length : -1);
    const std::string text = response->GetStatusText().ToString();
    webkit_uri_scheme_response_set_status(answer, static_cast<guint>(status),
                                          text.empty() ? nullptr : text.c_str());
    const std::string mime = response->GetMimeType().ToString();
    if (!mime.empty()) webkit_uri_scheme_response_set_content_type(answer, mime.c_str());
    CefResponse::HeaderMap headers;
    response->GetHeaderMap(headers);
    if (!headers.empty()) {
      SoupMessageHeaders* soup = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
      for (const auto& [name, value] : headers)
        soup_message_headers_append(soup, name.ToString().c_str(), value.ToString().c_str());
      webkit_uri_scheme_response_set_http_headers(answer, soup);  // takes it
    }
    // The engine holds the request while it reads the response; the weak reference stays, to
    // tell when the page lets go of it.
    webkit_uri_scheme_request_finish_with_response(m_request, answer);
    g_object_unref(answer);
    g_object_unref(stream);
    if (m_phase != Phase::kOpening) return;  // the page let go of it meanwhile
    m_phase = Phase::kReading;
    ReadMore();
  }

  // A media read's head, as text before the body (webext/protocol.h, kMediaRequest).
  void SendHead(ResponseImpl& response, int64 length) {
    std::string head = std::to_string(response.GetStatus()) + "\r\n";
    if (length >= 0) head += "Content-Length: " + std::to_string(length) + "\r\n";
    const std::string mime = response.GetMimeType().ToString();
    if (!mime.empty()) head += "Content-Type: " + mime + "\r\n";
    CefResponse::HeaderMap headers;
    response.GetHeaderMap(headers);
    for (const auto& [name, value] : headers) {
      std::string line = name.ToString() + ": " + value.ToString();
      if (line.find_first_of("\r\n") != std::string::npos) continue;
      if (strncasecmp(line.c_str(), "Content-Length:", 15) != 0) head += line + "\r\n";
    }
    head += "\r\n";
    m_buffer.assign(head.begin(), head.end());
    m_pending = static_cast<int>(m_buffer.size());
    m_written = 0;
    m_phase = Phase::kReading;
    if (Write()) ReadMore();
  }

  // A media read whose reader closed its end: nobody reads the rest. The socket is never
  // written to by the reader, so anything readable is its end.
  void WatchHangUp() {
    m_hangUp = g_unix_fd_source_new(m_socket, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR));
    AddRef();  // the source's
    GUnixFDSourceFunc hungUp = [](gint, GIOCondition, gpointer data) -> gboolean {
      CefRefPtr<SchemeJob> job(static_cast<SchemeJob*>(data));
      job->Abort();
      return G_SOURCE_REMOVE;
    };
    g_source_set_callback(m_hangUp,
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(hungUp)), this,
                          [](gpointer data) { static_cast<SchemeJob*>(data)->Release(); });
    g_source_attach(m_hangUp, EngineContext::Get().MainContext());
  }

  static void DropSource(GSource** source) {
    if (*source == nullptr) return;
    g_source_destroy(*source);
    g_source_unref(*source);
    *source = nullptr;
  }

  // Reads while the handler has bytes at once and the socket takes them.
  void ReadMore() {
    while (m_phase == Phase::kReading) {
      int bytesRead = 0;
      m_buffer.resize(kChunk);
      const bool more = m_handler->Read(m_buffer.data(), kChunk, bytesRead, this);
      if (m_phase != Phase::kReading) return;  // aborted inside the call
      if (!more || bytesRead < 0) return End();
      if (bytesRead == 0) {
        m_phase = Phase::kReadWaiting;
        return;
      }
      m_pending = std::min(bytesRead, kChunk);
      m_written = 0;
      if (!Write()) return;
    }
  }

  void ReadDone(int bytesRead) {
    QUILLO_REQUIRE_UI_THREAD();
    if (m_phase != Phase::kReadWaiting) return;
    m_phase = Phase::kReading;
    if (bytesRead <= 0) return End();
    m_pending = std::min(bytesRead, kChunk);
    m_written = 0;
    if (Write()) ReadMore();
  }

  // Writes what the last read gave: true when all of it went, false when the job waits for the
  // socket (or ended: the page let go of the response).
  bool Write() {
    while (m_written < m_pending) {
      const ssize_t n = send(m_socket, m_buffer.data() + m_written, m_pending - m_written,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        m_written += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        m_phase = Phase::kWriteWaiting;
        WaitWritable();
        return false;
      }
      QLOG(u"SchemeJob => the page let go of the response");
      Abort();
      return false;
    }
    return true;
  }

  void WaitWritable() {
    DropSource(&m_writable);
    m_writable = g_unix_fd_source_new(m_socket, G_IO_OUT);
    AddRef();  // the source's
    GUnixFDSourceFunc writable = [](gint, GIOCondition, gpointer data) -> gboolean {
      auto* job = static_cast<SchemeJob*>(data);
      if (job->m_phase == Phase::kWriteWaiting) {
        job->m_phase = Phase::kReading;
        if (job->Write()) job->ReadMore();
      }
      return G_SOURCE_REMOVE;
    };
    // A unix fd source calls its callback with the fd and condition first (GLib's own cast).
    g_source_set_callback(m_writable,
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(writable)),
                          this, [](gpointer data) { static_cast<SchemeJob*>(data)->Release(); });
    g_source_attach(m_writable, EngineContext::Get().MainContext());
  }

  void Refuse(const char* why) {
    QUILLO_REQUIRE_UI_THREAD();
    if (m_phase != Phase::kOpening) return;
    if (m_request) Fail(why);
    if (m_media)
      QLOG(u"SchemeJob => [%s] media: %s", platform::Utf8ToUtf16(m_uri).c_str(),
           platform::Utf8ToUtf16(why).c_str());
    End();
  }

  // Ends the request with an error; the job lets go of it first, since the engine lets go of it
  // inside the call.
  void Fail(const char* why) {
    QLOG(u"SchemeJob => [%s] %s", platform::Utf8ToUtf16(m_uri).c_str(),
         platform::Utf8ToUtf16(why).c_str());
    WebKitURISchemeRequest* request = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(m_request));
    LetGoOfRequest();
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, why);
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    g_object_unref(request);
  }

  // The last byte is written (or the job was cut short): the page reads the end of the stream.
  void End() {
    if (m_phase == Phase::kDone) return;
    m_phase = Phase::kDone;
    LetGoOfRequest();
    DropSource(&m_writable);
    DropSource(&m_hangUp);
    if (m_socket >= 0) close(m_socket), m_socket = -1;
    SchemeHandlers::Get().Ended(this);
  }

  // Held weakly (see RequestGone): null once the engine let go of it, or the job did.
  WebKitURISchemeRequest* m_request;
  const std::string m_uri;
  const CefRefPtr<CefResourceHandler> m_handler;
  const bool m_media = false;  // a media read (the other constructor)
  Phase m_phase = Phase::kOpening;
  int m_socket = -1;  // this side of the socket pair, non-blocking
  GSource* m_writable = nullptr;
  GSource* m_hangUp = nullptr;  // a media read's reader closing its end
  std::vector<char> m_buffer;   // a read's bytes, valid until its callback has answered
  int m_pending = 0;            // bytes of m_buffer to write
  int m_written = 0;            // of them, written

  IMPLEMENT_REFCOUNTING(SchemeJob);
};

namespace {

// Schemes a page may not be handed by an embedder: the engine's own and the web's.
bool Reserved(const std::string& scheme) {
  static const char* const kReserved[] = {"http",  "https",      "file",     "data",
                                          "about", "blob",       "ws",       "wss",
                                          "ftp",   "javascript", "resource", "webkit"};
  for (const char* name : kReserved)
    if (scheme == name) return true;
  return false;
}

// A scheme's name as URLs carry it: a lower-case letter, then letters, digits, '+', '-', '.'.
bool ValidScheme(const std::string& scheme) {
  if (scheme.empty() || scheme.size() > 32 || !(scheme[0] >= 'a' && scheme[0] <= 'z')) return false;
  for (char c : scheme)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))
      return false;
  return !Reserved(scheme);
}

void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
  SchemeHandlers::Get().Request(request);
}

CefRequest::HeaderMap HeadersOf(WebKitURISchemeRequest* request) {
  CefRequest::HeaderMap headers;
  if (SoupMessageHeaders* soup = webkit_uri_scheme_request_get_http_headers(request)) {
    SoupMessageHeadersIter it;
    soup_message_headers_iter_init(&it, soup);
    const char* name = nullptr;
    const char* value = nullptr;
    while (soup_message_headers_iter_next(&it, &name, &value))
      headers.emplace(CefString(name), CefString(value));
  }
  return headers;
}

}  // namespace

SchemeHandlers& SchemeHandlers::Get() {
  static SchemeHandlers* handlers = new SchemeHandlers;  // never destroyed: used at exit
  return *handlers;
}

bool SchemeHandlers::Register(const std::string& scheme,
                              CefRefPtr<CefSchemeHandlerFactory> factory) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!ValidScheme(scheme)) {
    QLOG(u"SchemeHandlers::Register [%s] => not a scheme an embedder may answer",
         platform::Utf8ToUtf16(scheme).c_str());
    return false;
  }
  WebKitWebContext* context = EngineContext::Get().WebContext();
  if (context == nullptr) return false;
  if (m_context != context) m_context = context, m_registered.clear();
  if (!m_registered.count(scheme)) {
    webkit_web_context_register_uri_scheme(context, scheme.c_str(), OnSchemeRequest, nullptr,
                                           nullptr);
    m_registered.insert(scheme);
    // The media player reads the scheme through the extension (webext/media_source.h).
    ServeMediaSchemes(context, std::vector<std::string>(m_registered.begin(), m_registered.end()));
  }
  m_factories[scheme] = factory;
  return true;
}

bool SchemeHandlers::AddOptions(const std::string& scheme, int options) {
  QUILLO_REQUIRE_UI_THREAD();
  if (!ValidScheme(scheme)) return false;
  WebKitWebContext* context = EngineContext::Get().WebContext();
  if (context == nullptr) return false;
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  if (options & CEF_SCHEME_OPTION_SECURE)
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
  if (options & CEF_SCHEME_OPTION_CORS_ENABLED)
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
  if (options & CEF_SCHEME_OPTION_LOCAL)
    webkit_security_manager_register_uri_scheme_as_local(security, scheme.c_str());
  if (options & CEF_SCHEME_OPTION_DISPLAY_ISOLATED)
    webkit_security_manager_register_uri_scheme_as_display_isolated(security, scheme.c_str());
  return true;
}

void SchemeHandlers::Stop() {
  QUILLO_REQUIRE_UI_THREAD();
  std::map<SchemeJob*, CefRefPtr<SchemeJob>> jobs;
  jobs.swap(m_jobs);
  for (auto& [raw, job] : jobs) job->Abort();
  m_factories.clear();
  m_registered.clear();
  m_context = nullptr;
}

void SchemeHandlers::Request(WebKitURISchemeRequest* request) {
  QUILLO_REQUIRE_UI_THREAD();
  const std::string scheme = webkit_uri_scheme_request_get_scheme(request);
  WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
  auto* browser =
      view ? static_cast<BrowserSide*>(g_object_get_data(G_OBJECT(view), kBrowserSideKey))
           : nullptr;
  auto factory = m_factories.find(scheme);
  CefRefPtr<CefResourceHandler> handler;
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  CefRefPtr<CefRequest> cefRequest =
      new RequestImpl(CefString(webkit_uri_scheme_request_get_uri(request)),
                      CefString(method ? method : "GET"), TT_LINK, HeadersOf(request));
  if (browser && !browser->ViewGone() && factory != m_factories.end() && factory->second)
    handler =
        factory->second->Create(browser->Browser(), &browser->MainFrame(), scheme, cefRequest);
  if (!handler) {
    GError* error =
        g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no handler for the request");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  CefRefPtr<SchemeJob> job = new SchemeJob(request, handler);
  m_jobs[job.get()] = job;
  job->Start(cefRequest);
}

void SchemeHandlers::MediaRequest(BrowserSide& browser, const std::string& uri, uint64_t first,
                                  int socket) {
  QUILLO_REQUIRE_UI_THREAD();
  const std::string scheme = uri.substr(0, uri.find(':'));
  auto factory = m_factories.find(scheme);
  // As browsers ask for media: always a Range, so that the answer tells the resource's size.
  CefRequest::HeaderMap headers;
  headers.emplace(CefString("Range"), CefString("bytes=" + std::to_string(first) + "-"));
  CefRefPtr<CefRequest> request =
      new RequestImpl(CefString(uri), CefString("GET"), TT_LINK, headers);
  CefRefPtr<CefResourceHandler> handler;
  if (!browser.ViewGone() && m_registered.count(scheme) && factory != m_factories.end() &&
      factory->second)
    handler = factory->second->Create(browser.Browser(), &browser.MainFrame(), scheme, request);
  if (!handler) {
    QLOG(u"SchemeHandlers::MediaRequest [%s] => no handler for the request",
         platform::Utf8ToUtf16(uri).c_str());
    close(socket);
    return;
  }
  CefRefPtr<SchemeJob> job = new SchemeJob(socket, uri, handler);
  m_jobs[job.get()] = job;
  job->Start(request);
}

void SchemeHandlers::Ended(SchemeJob* job) {
  QUILLO_REQUIRE_UI_THREAD();
  // Every road to a job's end holds a reference of its own (a posted step's, the source's
  // while it dispatches, Request's or Stop's), so the job outlives this.
  m_jobs.erase(job);
}

}  // namespace quillo::engine

bool CefRegisterSchemeHandlerFactory(const CefString& scheme_name, const CefString& domain_name,
                                     CefRefPtr<CefSchemeHandlerFactory> factory) {
  if (!domain_name.empty()) {
    QLOG(u"CefRegisterSchemeHandlerFactory => a domain is not supported");
    return false;
  }
  return quillo::engine::SchemeHandlers::Get().Register(scheme_name.ToString(), factory);
}

bool CefAddCustomSchemeOptions(const CefString& scheme_name, int options) {
  return quillo::engine::SchemeHandlers::Get().AddOptions(scheme_name.ToString(), options);
}
