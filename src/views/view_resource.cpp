#include "views/view_resource.h"

#include <algorithm>
#include <cstring>

namespace quillo::views {

void ViewResource::Answer(ResourceAnswer&& answer) {
  if (m_ended) return;
  if (!m_answered) {
    m_answered = true;
    if (answer.status == 0) {
      m_ended = true;
      if (CefRefPtr<CefCallback> open = std::move(m_open)) open->Cancel();
      return;
    }
    m_head.status = answer.status;
    m_head.mime = std::move(answer.mime);
    m_head.headers = std::move(answer.headers);
    m_head.length = answer.length;
  }
  m_data.append(answer.bytes);
  if (answer.done) m_done = m_ended = true;
  if (CefRefPtr<CefCallback> open = std::move(m_open)) {
    open->Continue();
    return;
  }
  ServeWaitingRead();
}

void ViewResource::Abandon() {
  if (m_ended) return;
  m_ended = m_done = true;
  if (CefRefPtr<CefCallback> open = std::move(m_open)) open->Cancel();
  ServeWaitingRead();
}

bool ViewResource::Open(CefRefPtr<CefRequest>, bool& handle_request,
                        CefRefPtr<CefCallback> callback) {
  handle_request = false;
  if (m_ended) return false;
  m_open = callback;
  return true;
}

void ViewResource::GetResponseHeaders(CefRefPtr<CefResponse> response, int64& response_length,
                                      CefString&) {
  response->SetStatus(m_head.status);
  if (!m_head.mime.empty()) response->SetMimeType(CefString(m_head.mime));
  if (!m_head.headers.empty()) {
    CefResponse::HeaderMap headers;
    for (const auto& [name, value] : m_head.headers)
      headers.emplace(CefString(name), CefString(value));
    response->SetHeaderMap(headers);
  }
  response_length = m_head.length >= 0 ? static_cast<int64>(m_head.length)
                    : m_done           ? static_cast<int64>(Available())
                                       : -1;
}

int ViewResource::Take(void* out, int most) {
  const int n = static_cast<int>(std::min<size_t>(Available(), static_cast<size_t>(most)));
  std::memcpy(out, m_data.data() + m_offset, static_cast<size_t>(n));
  m_offset += static_cast<size_t>(n);
  // What was read goes once it is most of what is held.
  if (m_offset > 65536 && m_offset * 2 > m_data.size()) {
    m_data.erase(0, m_offset);
    m_offset = 0;
  }
  return n;
}

bool ViewResource::Read(void* data_out, int bytes_to_read, int& bytes_read,
                        CefRefPtr<CefResourceReadCallback> callback) {
  bytes_read = 0;
  if (bytes_to_read <= 0) return false;
  if (Available() > 0) {
    bytes_read = Take(data_out, bytes_to_read);
    return true;
  }
  if (m_done) return false;
  m_read = callback;
  m_readOut = data_out;
  m_readSize = bytes_to_read;
  return true;
}

void ViewResource::ServeWaitingRead() {
  if (!m_read) return;
  if (Available() == 0 && !m_done) return;
  CefRefPtr<CefResourceReadCallback> read = std::move(m_read);
  const int n = Available() > 0 ? Take(m_readOut, m_readSize) : 0;
  m_readOut = nullptr;
  m_readSize = 0;
  read->Continue(n);
}

void ViewResource::Cancel() {
  const bool wasOpen = !m_ended;
  m_ended = m_done = true;
  m_open = nullptr;
  m_read = nullptr;
  m_readOut = nullptr;
  m_data.clear();
  m_offset = 0;
  // The caller holds this resource, so the owner may let go of it here.
  if (ResourceOwner* owner = m_owner; owner && wasOpen) {
    m_owner = nullptr;
    owner->ResourceGone(m_id);
  }
}

}  // namespace quillo::views
