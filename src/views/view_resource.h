// One request of a host-served scheme, as its view's resource handler: the REQUEST notice went to
// the host, whose answers (status, MIME type, bytes, the end) the views engine hands in as they
// come; the engine layer reads them from here as the page wants them. A read that finds no bytes
// yet waits for the next answer.
//
// Threads: the engine thread only. Held by the engine layer's job for the request and by the
// view's client until the host ended it (or the view closed).
#pragma once

#include <cstdint>
#include <string>

#include "cef_scheme.h"

namespace quillo::views {

class ViewResource : public CefResourceHandler {
 public:
  ViewResource() = default;

  // The host's answer: the first gives status (0: refused) and mime; each adds bytes; done ends.
  void Answer(int status, const std::string& mime, const std::string& bytes, bool done);
  // The view closes: the request is refused, or its response ends where it is.
  void Abandon();
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

  bool m_answered = false;  // the first answer came
  bool m_done = false;      // the host ended the response
  bool m_ended = false;
  int m_status = 200;
  std::string m_mime;
  std::string m_data;  // bytes the host gave; those before m_offset were read
  size_t m_offset = 0;
  CefRefPtr<CefCallback> m_open;  // the Open that waits for the first answer
  // The read that waits for bytes: its buffer stays valid until its callback answers.
  CefRefPtr<CefResourceReadCallback> m_read;
  void* m_readOut = nullptr;
  int m_readSize = 0;

  IMPLEMENT_REFCOUNTING(ViewResource);
};

}  // namespace quillo::views
