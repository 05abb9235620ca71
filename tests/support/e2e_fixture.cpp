#include "support/e2e_fixture.h"

#include <cctype>
#include <cstdio>

namespace quillo_test {

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

void E2ETest::SetUp() {
  std::string error;
  lib_ = LibraryCopy::Create(&error);
  ASSERT_NE(lib_, nullptr) << error;
  host_ = std::make_unique<Host>(*lib_);
}

void E2ETest::TearDown() {
  if (lib_ && started_ && !shut_down_) Shutdown();
  if (lib_ && HasFailure()) {
    PrintLogTail(lib_->log_path());
    if (host_ && !host_->violations().empty()) {
      std::printf("---- UpdateWeb contract breaches ----\n");
      for (const auto& v : host_->violations()) std::printf("%s\n", v.c_str());
    }
  }
  if (server_) server_->Stop();
}

PixelBuffer& E2ETest::NewBuffer(int width, int height) {
  return buffers_.emplace_back(width, height);
}

HttpServer& E2ETest::server() {
  if (!server_) {
    server_ = std::make_unique<HttpServer>();
    EXPECT_TRUE(server_->ok()) << server_->error();
  }
  return *server_;
}

void E2ETest::Load(PixelBuffer& buffer, const std::string& url, int options,
                   const std::string& language, int x, int y) {
  started_ = true;
  EXPECT_EQ(lib_->LoadWeb(x, y, buffer.width(), buffer.height(), buffer.data(), url.c_str(),
                          options, language.c_str()),
            0);
}

void E2ETest::LoadMemory(void* pixels, int width, int height, const std::string& url, int options) {
  started_ = true;
  EXPECT_EQ(lib_->LoadWeb(0, 0, width, height, pixels, url.c_str(), options, "en-US"), 0);
}

void E2ETest::Shutdown() {
  shut_down_ = true;
  lib_->UnloadWeb(true);
}

::testing::AssertionResult E2ETest::WaitForView(const PixelBuffer& buffer, int options,
                                                const std::vector<ViewProbe>& probes,
                                                const std::string& what) {
  auto result = host_->PollUntil([&] { return ProbesMatch(buffer, options, probes); }, what);
  if (!result) result << "pixels at the deadline:\n" << DescribeProbes(buffer, options, probes);
  return result;
}

size_t E2ETest::ClosesDone() const {
  return CountLinesContaining(LogLines(), kCloseDoneLine);
}

::testing::AssertionResult E2ETest::CloseBrowser() {
  const size_t before = ClosesDone();
  lib_->UnloadWeb(false);
  return WaitForClose(before);
}

::testing::AssertionResult E2ETest::WaitForClose(size_t before) {
  size_t polls = 0;
  return host_->PollUntil(
      [&] {
        // Reading the file on every poll would slow the engine down for nothing.
        return ++polls % 16 == 0 && ClosesDone() > before;
      },
      "the log line \"" + kCloseDoneLine + "\" that ends a browser close");
}

}  // namespace quillo_test
