#include "support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <list>

namespace quillo_test {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A peer that sends nothing, or never reads, is dropped after this long.
constexpr std::chrono::seconds kIdleLimit{10};

}  // namespace

std::optional<std::string> HttpRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers) {
    if (Lower(key) == wanted) return value;
  }
  return std::nullopt;
}

HttpResponse HtmlResponse(const std::string& html, HeaderList extra_headers) {
  HttpResponse response;
  response.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
  for (auto& h : extra_headers) response.headers.push_back(std::move(h));
  response.body = html;
  return response;
}

HttpServer::HttpServer() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return;
  }
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 32) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      pipe2(wake_pipe_, O_CLOEXEC) != 0) {
    error_ = std::string("listen on 127.0.0.1: ") + std::strerror(errno);
    close(listen_fd_);
    listen_fd_ = -1;
    return;
  }
  port_ = ntohs(addr.sin_port);
  SetNonBlocking(listen_fd_);
  thread_ = std::thread([this] { Run(); });
}

HttpServer::~HttpServer() {
  Stop();
  if (listen_fd_ >= 0) close(listen_fd_);
  for (int fd : wake_pipe_) {
    if (fd >= 0) close(fd);
  }
}

void HttpServer::Stop() {
  stop_ = true;
  if (wake_pipe_[1] >= 0) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(wake_pipe_[1], &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
}

std::string HttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpServer::Serve(const std::string& path, HttpResponse response) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(response);
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<HttpRequest> HttpServer::RequestsFor(const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::vector<HttpRequest> out;
  for (const auto& r : requests_) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

size_t HttpServer::CountRequestsFor(const std::string& path) const {
  return RequestsFor(path).size();
}

std::string HttpServer::BuildAnswer(const HttpRequest& request, std::chrono::milliseconds* delay) {
  HttpResponse response;
  {
    std::lock_guard lock(mutex_);
    auto it = routes_.find(request.path);
    if (it != routes_.end()) {
      response = it->second;
    } else {
      response.status = 404;
      response.headers.emplace_back("Content-Type", "text/plain");
      response.body = "not found";
    }
  }
  *delay = response.delay;
  std::string out =
      "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
  for (const auto& [key, value] : response.headers) out += key + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  out += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
  if (request.method != "HEAD") out += response.body;
  return out;
}

void HttpServer::HandleInput(Connection& c) {
  const size_t end = c.in.find("\r\n\r\n");
  if (end == std::string::npos) {
    if (c.in.size() > kMaxRequestBytes) {
      c.out =
          "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\n"
          "Connection: close\r\n\r\n";
      c.answered = true;
    }
    return;
  }
  HttpRequest request;
  size_t line_end = c.in.find("\r\n");
  const std::string request_line = c.in.substr(0, line_end);
  size_t sp1 = request_line.find(' ');
  size_t sp2 = request_line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) {
    c.out = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    c.answered = true;
    return;
  }
  request.method = request_line.substr(0, sp1);
  request.target = request_line.substr(sp1 + 1, sp2 - sp1 - 1);
  request.path = request.target.substr(0, request.target.find('?'));
  size_t pos = line_end + 2;
  size_t content_length = 0;
  while (pos < end) {
    size_t next = c.in.find("\r\n", pos);
    const std::string line = c.in.substr(pos, next - pos);
    pos = next + 2;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = Trim(line.substr(0, colon));
    std::string value = Trim(line.substr(colon + 1));
    if (Lower(key) == "content-length") content_length = std::strtoul(value.c_str(), nullptr, 10);
    request.headers.emplace_back(std::move(key), std::move(value));
  }
  // Bodies are read and dropped; the tests need only the headers.
  if (content_length > kMaxRequestBytes) {
    c.out = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    c.answered = true;
    return;
  }
  if (c.in.size() < end + 4 + content_length) return;

  std::chrono::milliseconds delay{0};
  c.out = BuildAnswer(request, &delay);
  c.sendFrom = std::chrono::steady_clock::now() + delay;
  c.answered = true;
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(request));
}

void HttpServer::Run() {
  pthread_setname_np(pthread_self(), "quillo-http");
  // A server still asked for stays up (a soak uses one for an hour); one left alone stops.
  auto lastAsked = std::chrono::steady_clock::now();
  std::list<Connection> connections;

  while (!stop_ && std::chrono::steady_clock::now() - lastAsked < kLifetime) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<pollfd> fds;
    fds.push_back({wake_pipe_[0], POLLIN, 0});
    fds.push_back({listen_fd_, connections.size() < kMaxConnections ? short(POLLIN) : short(0), 0});
    for (auto& c : connections) {
      short events = POLLIN;
      if (c.answered && c.sent < c.out.size() && now >= c.sendFrom) events |= POLLOUT;
      fds.push_back({c.fd, events, 0});
    }
    if (poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR) break;
    if (fds[0].revents) break;

    if (fds[1].revents & POLLIN) {
      for (;;) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        Connection c;
        c.fd = fd;
        c.since = lastAsked = std::chrono::steady_clock::now();
        connections.push_back(std::move(c));
        if (connections.size() >= kMaxConnections) break;
      }
    }

    size_t index = 2;
    for (auto it = connections.begin(); it != connections.end(); ++index) {
      Connection& c = *it;
      bool drop = false;
      const short revents = index < fds.size() ? fds[index].revents : 0;
      if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
          if (!c.answered) {
            c.in.append(buffer, n);
            HandleInput(c);
          }
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          drop = true;  // the peer closed its side, or the connection broke
        }
      }
      if (!drop && c.answered && c.sent < c.out.size() &&
          std::chrono::steady_clock::now() >= c.sendFrom) {
        ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
          c.sent += n;
          // All sent: end our side and wait for the peer to close its own.
          if (c.sent == c.out.size()) shutdown(c.fd, SHUT_WR);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          drop = true;
        }
      }
      if (std::chrono::steady_clock::now() - c.since > kIdleLimit) drop = true;
      if (drop) {
        close(c.fd);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : connections) close(c.fd);
}

}  // namespace quillo_test
