#include "webext/media_source.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "webext/protocol.h"

namespace quillo::webext {
namespace {

// A response's head may be no longer than this.
constexpr size_t kMaxHead = 64 * 1024;
// The most bytes one buffer carries.
constexpr guint kBlockSize = 64 * 1024;

// ---- Pages (main thread) -----------------------------------------------------------------------

std::vector<WebKitWebPage*> g_pages;  // oldest first, each held weakly

void PageGone(gpointer, GObject* page) {
  g_pages.erase(std::remove(g_pages.begin(), g_pages.end(), reinterpret_cast<WebKitWebPage*>(page)),
                g_pages.end());
}

// One request on its way to the main thread, which sends it through a page.
struct Request {
  std::string uri;
  guint64 offset;
  int socket;  // the library's end of the pair; the message takes it
};

gboolean SendRequest(gpointer data) {
  Request* request = static_cast<Request*>(data);
  if (g_pages.empty()) {
    close(request->socket);  // the element reads the end at once: refused
  } else {
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&request->socket, 1);  // takes the socket
    WebKitUserMessage* message = webkit_user_message_new_with_fd_list(
        kMediaRequest, g_variant_new("(st)", request->uri.c_str(), request->offset), fds);
    g_object_unref(fds);
    webkit_web_page_send_message_to_view(g_pages.back(), message, nullptr, nullptr, nullptr);
  }
  delete request;
  return G_SOURCE_REMOVE;
}

// ---- The element -------------------------------------------------------------------------------

// What a response's head says.
struct Head {
  int status = 0;
  int64_t length = -1;  // Content-Length
  // Content-Range "bytes first-last/total": first and total (-1 when absent or '*').
  int64_t rangeFirst = -1, rangeTotal = -1;
  bool rangesRefused = false;  // Accept-Ranges: none
};

bool SameAscii(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

int64_t Number(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  errno = 0;
  const unsigned long long n = strtoull(text.c_str(), nullptr, 10);
  return errno == 0 && n <= uint64_t(INT64_MAX) ? int64_t(n) : -1;
}

Head ParseHead(const std::string& text) {
  Head head;
  size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    if (first) {
      first = false;
      const int64_t status = Number(line);
      head.status = status >= 100 && status <= 599 ? int(status) : 0;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    if (SameAscii(name, "Content-Length")) head.length = Number(value);
    if (SameAscii(name, "Accept-Ranges")) head.rangesRefused = SameAscii(value, "none");
    if (SameAscii(name, "Content-Range") && value.compare(0, 6, "bytes ") == 0) {
      const size_t dash = value.find('-'), slash = value.find('/');
      if (dash != std::string::npos && slash != std::string::npos && dash < slash) {
        head.rangeFirst = Number(value.substr(6, dash - 6));
        head.rangeTotal = Number(value.substr(slash + 1));
      }
    }
  }
  return head;
}

// The element's own state. uri is written before the element starts; the socket, position and
// pending bytes are the streaming thread's (and stop's, once streaming has stopped); size and
// seekable are read by queries on any thread.
struct MediaRead {
  std::string uri;
  GstPoll* poll = gst_poll_new(TRUE);   // wakes a waiting read when unlock asks
  GstPollFD socket = GST_POLL_FD_INIT;  // this end of the open response's pair, fd -1 for none
  uint64_t position = 0;                // the byte the response gives next
  std::string pending;                  // body bytes read with the head
  std::atomic<int64_t> size{-1};
  std::atomic<bool> seekable{false};

  ~MediaRead() {
    Close();
    gst_poll_free(poll);
  }

  void Close() {
    if (socket.fd < 0) return;
    gst_poll_remove_fd(poll, &socket);
    close(socket.fd);
    gst_poll_fd_init(&socket);
    pending.clear();
  }
};

struct QuilloMediaSrc {
  GstBaseSrc parent;
  MediaRead* read;
};

struct QuilloMediaSrcClass {
  GstBaseSrcClass parent;
};

void UriHandlerInit(gpointer iface, gpointer);

G_DEFINE_TYPE_WITH_CODE(QuilloMediaSrc, quillo_media_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, UriHandlerInit))

MediaRead& ReadOf(gpointer self) {
  return *reinterpret_cast<QuilloMediaSrc*>(self)->read;
}

// Bytes from the open response into out: their count, 0 at its end, -1 when a flush woke the
// wait, -2 on a failure.
ssize_t ReadSome(MediaRead& read, char* out, size_t most) {
  for (;;) {
    const ssize_t n = ::read(read.socket.fd, out, most);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -2;
    const gint ready = gst_poll_wait(read.poll, GST_CLOCK_TIME_NONE);
    if (ready < 0 && errno == EBUSY) return -1;
    if (ready < 0 && errno != EINTR && errno != EAGAIN) return -2;
  }
}

GstFlowReturn Fail(GstBaseSrc* src, const char* what, int status) {
  MediaRead& read = ReadOf(src);
  if (status > 0)
    GST_ELEMENT_ERROR(src, RESOURCE, READ, ("%s: %d", what, status), ("%s", read.uri.c_str()));
  else
    GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("%s", what), ("%s", read.uri.c_str()));
  read.Close();
  return GST_FLOW_ERROR;
}

// Asks for the resource from offset on and reads the answer's head: GST_FLOW_OK with the body's
// first byte (offset) next.
GstFlowReturn Open(GstBaseSrc* src, uint64_t offset) {
  MediaRead& read = ReadOf(src);
  read.Close();
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return Fail(src, "no socket pair for the request", 0);
  fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
  read.socket.fd = pair[0];
  gst_poll_add_fd(read.poll, &read.socket);
  gst_poll_fd_ctl_read(read.poll, &read.socket, TRUE);
  g_main_context_invoke(nullptr, SendRequest, new Request{read.uri, offset, pair[1]});

  std::string text;
  size_t end;
  char chunk[4096];
  while ((end = text.find("\r\n\r\n")) == std::string::npos) {
    if (text.size() > kMaxHead) return Fail(src, "a response head that does not end", 0);
    const ssize_t n = ReadSome(read, chunk, sizeof chunk);
    if (n == -1) return GST_FLOW_FLUSHING;
    if (n <= 0) return Fail(src, "the request was refused", 0);
    text.append(chunk, size_t(n));
  }
  read.pending = text.substr(end + 4);
  const Head head = ParseHead(text.substr(0, end));
  if (head.status == 416) {
    read.Close();
    return GST_FLOW_EOS;
  }
  if (head.status == 0) return Fail(src, "a response without a status", 0);
  if (head.status >= 400) return Fail(src, "the response's status", head.status);
  int64_t total = -1;
  if (head.status == 206) {
    if (head.rangeFirst != int64_t(offset))
      return Fail(src, "a part that does not start where it was asked for", head.status);
    total = head.rangeTotal;
  } else if (head.length >= 0) {
    total = head.length;
  }
  read.seekable = total >= 0 && !head.rangesRefused;
  if (total >= 0 && read.size.exchange(total) != total) {
    // As an http source does once it has the headers: the size is the segment's duration before
    // the segment goes downstream, so that demuxers find the stream seekable.
    GST_OBJECT_LOCK(src);
    src->segment.duration = total;
    GST_OBJECT_UNLOCK(src);
    gst_element_post_message(GST_ELEMENT(src), gst_message_new_duration_changed(GST_OBJECT(src)));
  }
  read.position = head.status == 206 ? offset : 0;
  // A whole answer to a request from offset: the bytes before it are skipped.
  while (read.position < offset) {
    if (!read.pending.empty()) {
      const size_t skip = size_t(std::min<uint64_t>(read.pending.size(), offset - read.position));
      read.pending.erase(0, skip);
      read.position += skip;
      continue;
    }
    const ssize_t n =
        ReadSome(read, chunk, size_t(std::min<uint64_t>(sizeof chunk, offset - read.position)));
    if (n == -1) return GST_FLOW_FLUSHING;
    if (n == 0) {
      read.Close();
      return GST_FLOW_EOS;
    }
    if (n < 0) return Fail(src, "the response broke off", 0);
    read.position += uint64_t(n);
  }
  return GST_FLOW_OK;
}

GstFlowReturn Create(GstBaseSrc* src, guint64 offset, guint length, GstBuffer** out) {
  MediaRead& read = ReadOf(src);
  if (read.socket.fd < 0 || offset != read.position) {
    const GstFlowReturn opened = Open(src, offset);
    if (opened != GST_FLOW_OK) return opened;
  }
  length = std::max<guint>(1, std::min(length, kBlockSize));
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, length, nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  ssize_t n;
  if (!read.pending.empty()) {
    n = ssize_t(std::min<size_t>(read.pending.size(), length));
    memcpy(map.data, read.pending.data(), size_t(n));
    read.pending.erase(0, size_t(n));
  } else {
    n = ReadSome(read, reinterpret_cast<char*>(map.data), length);
  }
  gst_buffer_unmap(buffer, &map);
  if (n <= 0) {
    gst_buffer_unref(buffer);
    if (n == -1) return GST_FLOW_FLUSHING;
    read.Close();
    if (n == 0) return GST_FLOW_EOS;
    return Fail(src, "the response broke off", 0);
  }
  gst_buffer_set_size(buffer, gsize(n));
  GST_BUFFER_OFFSET(buffer) = offset;
  GST_BUFFER_OFFSET_END(buffer) = offset + uint64_t(n);
  read.position = offset + uint64_t(n);
  *out = buffer;
  return GST_FLOW_OK;
}

gboolean Start(GstBaseSrc* src) {
  MediaRead& read = ReadOf(src);
  read.position = 0;
  read.size = -1;
  read.seekable = false;
  return !read.uri.empty();
}

gboolean Stop(GstBaseSrc* src) {
  ReadOf(src).Close();
  return TRUE;
}

gboolean GetSize(GstBaseSrc* src, guint64* size) {
  const int64_t known = ReadOf(src).size;
  if (known < 0) return FALSE;
  *size = guint64(known);
  return TRUE;
}

gboolean IsSeekable(GstBaseSrc* src) {
  return ReadOf(src).seekable;
}

gboolean Unlock(GstBaseSrc* src) {
  gst_poll_set_flushing(ReadOf(src).poll, TRUE);
  return TRUE;
}

gboolean UnlockStop(GstBaseSrc* src) {
  gst_poll_set_flushing(ReadOf(src).poll, FALSE);
  return TRUE;
}

void Finalize(GObject* object) {
  delete reinterpret_cast<QuilloMediaSrc*>(object)->read;
  G_OBJECT_CLASS(quillo_media_src_parent_class)->finalize(object);
}

void quillo_media_src_init(QuilloMediaSrc* self) {
  self->read = new MediaRead;
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
  gst_base_src_set_blocksize(GST_BASE_SRC(self), kBlockSize);
}

GstStaticPadTemplate g_sourcePad =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void quillo_media_src_class_init(QuilloMediaSrcClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &g_sourcePad);
  gst_element_class_set_static_metadata(element, "Embedder's scheme source", "Source",
                                        "Reads media the embedding library serves", "quillo");
  GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
  base->start = Start;
  base->stop = Stop;
  base->get_size = GetSize;
  base->is_seekable = IsSeekable;
  base->unlock = Unlock;
  base->unlock_stop = UnlockStop;
  base->create = Create;
}

// ---- The URI handler: the schemes registered so far ---------------------------------------------

std::deque<std::string> g_schemes;          // main thread
const gchar* const* g_protocols = nullptr;  // null-terminated, rebuilt (and kept) at each one

GstURIType UriType(GType) {
  return GST_URI_SRC;
}

const gchar* const* Protocols(GType) {
  return g_protocols;
}

gchar* GetUri(GstURIHandler* handler) {
  const std::string& uri = ReadOf(handler).uri;
  return uri.empty() ? nullptr : g_strdup(uri.c_str());
}

gboolean SetUri(GstURIHandler* handler, const gchar* uri, GError** error) {
  if (GST_STATE(handler) >= GST_STATE_PAUSED) {
    g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_STATE, "the source is running");
    return FALSE;
  }
  ReadOf(handler).uri = uri ? uri : "";
  return TRUE;
}

void UriHandlerInit(gpointer iface, gpointer) {
  auto* handler = static_cast<GstURIHandlerInterface*>(iface);
  handler->get_type = UriType;
  handler->get_protocols = Protocols;
  handler->get_uri = GetUri;
  handler->set_uri = SetUri;
}

}  // namespace

bool RegisterMediaScheme(const char* scheme) {
  if (scheme == nullptr || scheme[0] == '\0') return false;
  if (std::find(g_schemes.begin(), g_schemes.end(), scheme) != g_schemes.end()) return true;
  if (!gst_is_initialized()) {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
      fprintf(stderr, "quillo: no media from %s: GStreamer did not start: %s\n", scheme,
              error ? error->message : "");
      if (error) g_error_free(error);
      return false;
    }
  }
  g_schemes.push_back(scheme);
  // A factory keeps the protocols it was registered with: each scheme gets a factory of its
  // own, registered while the list names it.
  auto** protocols = g_new0(const gchar*, g_schemes.size() + 1);
  for (size_t i = 0; i < g_schemes.size(); ++i) protocols[i] = g_schemes[i].c_str();
  g_protocols = protocols;
  const std::string name = "quillomediasrc" + std::to_string(g_schemes.size());
  if (!gst_element_register(nullptr, name.c_str(), GST_RANK_PRIMARY, quillo_media_src_get_type())) {
    fprintf(stderr, "quillo: no media from %s: the source did not register\n", scheme);
    return false;
  }
  return true;
}

void AddMediaPage(WebKitWebPage* page) {
  g_pages.push_back(page);
  g_object_weak_ref(G_OBJECT(page), PageGone, nullptr);
}

}  // namespace quillo::webext
