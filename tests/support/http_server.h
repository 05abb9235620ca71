// A small HTTP/1.1 server on 127.0.0.1 for the pages of a test.
//
// It listens on an ephemeral loopback port, answers registered paths from a thread of its own,
// records every request, and closes each connection after one response. It stops when it is
// destroyed, and by itself once no connection has come for kLifetime, so a test that forgets it
// cannot leave it running (while one that keeps using it, for as long as a soak, keeps it).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quillo_test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpResponse {
  int status = 200;
  HeaderList headers;  // Content-Length and Connection are added by the server
  std::string body;
  std::chrono::milliseconds delay{0};  // how long the answer is held back (a slow server)
};

struct HttpRequest {
  std::string method;
  std::string target;  // as sent, query included
  std::string path;    // target without the query
  HeaderList headers;

  // The first header of that name (compared without regard to case).
  std::optional<std::string> Header(const std::string& name) const;
};

// An HTML page with the given body and headers.
HttpResponse HtmlResponse(const std::string& html, HeaderList extra_headers = {});

class HttpServer {
 public:
  static constexpr std::chrono::seconds kLifetime{600};
  static constexpr size_t kMaxRequestBytes = 64 * 1024;
  static constexpr size_t kMaxConnections = 64;

  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  bool ok() const { return listen_fd_ >= 0; }
  const std::string& error() const { return error_; }
  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" + path
  std::string Url(const std::string& path) const;

  // Answers requests for `path` (without query) with `response`; other paths get 404.
  void Serve(const std::string& path, HttpResponse response);

  std::vector<HttpRequest> Requests() const;
  std::vector<HttpRequest> RequestsFor(const std::string& path) const;
  size_t CountRequestsFor(const std::string& path) const;

  void Stop();

 private:
  struct Connection {
    int fd = -1;
    std::string in;
    std::string out;
    size_t sent = 0;
    bool answered = false;
    std::chrono::steady_clock::time_point sendFrom;  // a delayed answer waits until then
    std::chrono::steady_clock::time_point since;
  };

  void Run();
  // Parses a complete request from c.in if there is one and prepares the answer.
  void HandleInput(Connection& c);
  std::string BuildAnswer(const HttpRequest& request, std::chrono::milliseconds* delay);

  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::thread thread_;

  mutable std::mutex mutex_;
  std::map<std::string, HttpResponse> routes_;
  std::vector<HttpRequest> requests_;
};

}  // namespace quillo_test
