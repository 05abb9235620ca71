// The base of every end-to-end test: a private library copy, the host's polling loop, pixel
// memory that outlives the engine, and an optional loopback HTTP server.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>

#include "quillo.h"
#include "support/http_server.h"
#include "support/library_copy.h"
#include "support/log_file.h"
#include "support/pixels.h"
#include "support/poller.h"

namespace quillo_test {

// The pseudo-URL prefix for HTML source.
inline const std::string kHtmlSource = "quillo_htmlsource:";

// The line the library logs each time a browser close has been carried out on its engine
// thread; tests that reopen the page wait for it.
inline const std::string kCloseDoneLine = "=> shutdown possible";

// Language tags compare without regard to case.
bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix);

class E2ETest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Shuts the engine down (if a test left it running) before the memory it paints into goes,
  // and prints the log of a failed test.
  void TearDown() override;

  LibraryCopy& lib() { return *lib_; }
  Host& host() { return *host_; }

  // View memory owned by the test, alive until after the engine has shut down.
  PixelBuffer& NewBuffer(int width, int height);
  // A loopback server, created on first use, stopped after the engine.
  HttpServer& server();

  // LoadWeb with the rectangle (x, y, buffer size) and the buffer's memory.
  void Load(PixelBuffer& buffer, const std::string& url, int options = 0,
            const std::string& language = "en-US", int x = 0, int y = 0);
  // LoadWeb with memory the test manages itself (the rectangle is (0, 0, width, height)).
  void LoadMemory(void* pixels, int width, int height, const std::string& url, int options = 0);
  // UnloadWeb(1), at most once per test from here.
  void Shutdown();

  // Polls until the view shows each probe's colour.
  ::testing::AssertionResult WaitForView(const PixelBuffer& buffer, int options,
                                         const std::vector<ViewProbe>& probes,
                                         const std::string& what);

  // Browser closes carried out so far, as the log tells (the test must have called
  // SetDebugEnable(1) before its first LoadWeb).
  size_t ClosesDone() const;
  // Polls until more than `before` closes have been carried out.
  ::testing::AssertionResult WaitForClose(size_t before);
  // UnloadWeb(0), then WaitForClose.
  ::testing::AssertionResult CloseBrowser();

  std::vector<std::string> LogLines() const { return ReadLogLines(lib_->log_path()); }

 private:
  std::unique_ptr<LibraryCopy> lib_;
  std::unique_ptr<Host> host_;
  std::deque<PixelBuffer> buffers_;
  std::unique_ptr<HttpServer> server_;
  bool started_ = false;
  bool shut_down_ = false;
};

}  // namespace quillo_test
