#include "diagnostics/stage_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace quillo::diagnostics {
namespace {

const char* const kStageNames[] = {"input_taken", "input_dispatched", "frame_exported",
                                   "frame_published", "frame_delivered"};

int OpenTrace() {
  const char* path = std::getenv("QUILLO_STAGE_TRACE");
  if (path == nullptr || *path == '\0') return -1;
  return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

}  // namespace

void MarkStage(Stage stage) {
  static const int fd = OpenTrace();  // read once: the benchmark sets it before the first load
  if (fd < 0) return;
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%s %lld\n", kStageNames[static_cast<int>(stage)],
                              static_cast<long long>(platform::MonotonicNs()));
  if (n > 0 && write(fd, line, static_cast<size_t>(n)) < 0) return;  // a lost line, no more
}

}  // namespace quillo::diagnostics
