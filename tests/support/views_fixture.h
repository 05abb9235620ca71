// The base of the views' end-to-end tests: a private library copy with the functions of
// quillo/views.h resolved, a pumping host, view memory that outlives the engine, an optional
// loopback HTTP server, and the library's log shown when a test fails.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>

#include "support/http_server.h"
#include "support/library_copy.h"
#include "support/views_host.h"

namespace quillo_test {

class ViewsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Shuts the engine down (unless the test did) before the memory goes, and prints the log and
  // the host's breaches of a failed test.
  void TearDown() override;

  LibraryCopy& lib() { return *lib_; }
  const ViewsApi& api() const { return api_; }
  ViewsHost& host() { return *host_; }
  // Memory owned by the test until after the engine has shut down.
  ViewMemory& NewMemory(int width, int height, size_t stride = 0);
  HttpServer& server();
  // quillo_shutdown, once.
  int Shutdown();
  std::vector<std::string> LogLines() const;
  // Whether a log line contains text.
  bool Logged(const std::string& text) const;

 private:
  std::unique_ptr<LibraryCopy> lib_;
  ViewsApi api_;
  std::unique_ptr<ViewsHost> host_;
  std::deque<ViewMemory> memories_;
  std::unique_ptr<HttpServer> server_;
  bool shut_down_ = false;
};

}  // namespace quillo_test
