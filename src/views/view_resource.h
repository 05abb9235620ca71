// One request of a host-served scheme, as its view's resource handler: the REQUEST notice went to
// the host, whose answers (the head of the response, bytes, the end) the views engine hands in as
// they come; the engine layer reads them from here as the page wants them. A read that finds no
// bytes yet waits for the next answer. When the page lets go of the request before the host
// ended it, the owner hears of it (ResourceOwner::ResourceGone) so that the request stops
// counting as open.
//
// Threads: the engine thread only. Held by the engine layer's job for the request and by the
// view's client until the host ended it (or the view closed); the owner pointer is cleared
// (Detach) whenever the client lets go of the resource, so it never outlives the client.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cef_scheme.h"

namespace quillo::views {

// One of the host's answers to a request, as the views engine hands it in.
struct ResourceAnswer {
  // Read from the first answer only: the status (0: refused), the MIME type ("": the engine
  // guesses), headers of the response, and the body's length (-1: unknown until done).
  int status = 200;
  std::string mime;
  std::vector<std::pair<std::string, std::string>> headers;
  int64_t length = -1;
  std::string bytes;  // appended to the body
  bool done = false;  // the body is complete
};

class ResourceOwner {
 public:
  // The page let go of request id before the host ended it.
  virtual void ResourceGone(uint64_t id) = 0;

 protected:
  ~ResourceOwner() = default;
};

class ViewResource : public CefResourceHandler {
 public:
  ViewResource(ResourceOwner* owner, uint64_t id) : m_owner(owner), m_id(id) {}

  void Answer(ResourceAnswer&& answer);
  // The view closes: the request is refused, or its response ends where it is.
  void Abandon();
  // The owner lets go of this resource: it is told nothing more.
  void Detach() { m_owner = nullptr; }
  // Whether the request has ended for the host (answered with done, refused, or abandoned).
  bool Ended() const { return m_ended; }

  // CefResourceHandler
  bool Open(CefRefPtr<CefRequest> request, bool& handle_request,
            CefRefPtr<CefCallback> callback) override;
  void GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                          CefString& redirectUrl) override;
  bool Read(void* data_out, int bytes_to_read, int& bytes_read,
            CefRefPtr<CefResourceReadCallback> callback) override;
  void Cancel() override;

 private:
  // Hands a waiting read what there is now.
  void ServeWaitingRead();
  size_t Available() const { return m_data.size() - m_offset; }
  int Take(void* out, int most);

  ResourceOwner* m_owner;  // null once detached
  const uint64_t m_id;
  bool m_answered = false;  // the first answer came
  bool m_done = false;      // the host ended the response
  bool m_ended = false;
  ResourceAnswer m_head;  // the first answer's status, type, headers and length
  std::string m_data;     // bytes the host gave; those before m_offset were read
  size_t m_offset = 0;
  CefRefPtr<CefCallback> m_open;  // the Open that waits for the first answer
  // The read that waits for bytes: its buffer stays valid until its callback answers.
  CefRefPtr<CefResourceReadCallback> m_read;
  void* m_readOut = nullptr;
  int m_readSize = 0;

  IMPLEMENT_REFCOUNTING(ViewResource);
};

}  // namespace quillo::views
