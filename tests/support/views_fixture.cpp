#include "support/views_fixture.h"

#include <cstdio>

#include "support/log_file.h"

namespace quillo_test {

void ViewsTest::SetUp() {
  std::string error;
  lib_ = LibraryCopy::Create(&error);
  ASSERT_NE(lib_, nullptr) << error;
  ASSERT_TRUE(api_.Load(*lib_, &error)) << error;
  api_.quillo_set_log(1);
  host_ = std::make_unique<ViewsHost>(api_);
}

void ViewsTest::TearDown() {
  if (lib_ && !shut_down_ && api_.quillo_shutdown) Shutdown();
  if (lib_ && HasFailure()) {
    PrintLogTail(lib_->log_path());
  }
  if (host_ && !host_->violations().empty()) {
    std::printf("---- host calls that failed ----\n");
    for (const auto& v : host_->violations()) std::printf("%s\n", v.c_str());
  }
  if (server_) server_->Stop();
}

ViewMemory& ViewsTest::NewMemory(int width, int height, size_t stride) {
  return memories_.emplace_back(width, height, stride);
}

HttpServer& ViewsTest::server() {
  if (!server_) {
    server_ = std::make_unique<HttpServer>();
    EXPECT_TRUE(server_->ok()) << server_->error();
  }
  return *server_;
}

int ViewsTest::Shutdown() {
  shut_down_ = true;
  return api_.quillo_shutdown();
}

std::vector<std::string> ViewsTest::LogLines() const {
  return ReadLogLines(lib_->log_path());
}

bool ViewsTest::Logged(const std::string& text) const {
  for (const auto& line : LogLines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace quillo_test
