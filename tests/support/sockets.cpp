#include "support/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillo_test {
namespace {

// A TCP socket bound to 127.0.0.1 on an ephemeral port; -1 on failure.
int BindLoopback(uint16_t* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

uint16_t UnusedLoopbackPort() {
  uint16_t port = 0;
  const int fd = BindLoopback(&port);
  if (fd < 0) return 0;
  close(fd);
  return port;
}

SilentServer::SilentServer() {
  listen_fd_ = BindLoopback(&port_);
  if (listen_fd_ < 0) return;
  if (listen(listen_fd_, 16) != 0 ||
      fcntl(listen_fd_, F_SETFL, fcntl(listen_fd_, F_GETFL) | O_NONBLOCK) != 0) {
    close(listen_fd_);
    listen_fd_ = -1;
  }
}

SilentServer::~SilentServer() {
  for (const int fd : connections_) close(fd);
  if (listen_fd_ >= 0) close(listen_fd_);
}

std::string SilentServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

size_t SilentServer::Accept() {
  if (listen_fd_ < 0) return 0;
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    connections_.push_back(fd);
  }
  return connections_.size();
}

}  // namespace quillo_test
