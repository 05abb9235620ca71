// Loopback endpoints that never serve a page: a port nobody listens on, and a listener that
// takes connections and never answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo_test {

// A port of 127.0.0.1 that was free a moment ago: bound, read back and closed again.
// 0 when no socket could be bound.
uint16_t UnusedLoopbackPort();

// Listens on an ephemeral loopback port; connections are taken (see Accept) and kept open
// without a byte of answer until the object goes.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  bool ok() const { return listen_fd_ >= 0; }
  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" + path
  std::string Url(const std::string& path) const;

  // Takes the connections that are waiting, without blocking; returns how many were taken so
  // far in all.
  size_t Accept();

 private:
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::vector<int> connections_;
};

}  // namespace quillo_test
