#include "support/waits.h"

#include <string>

namespace quillo_test {

::testing::AssertionResult IdlePolls(Host& host, size_t count) {
  const size_t target = host.calls() + count;
  return host.PollUntil([&] { return host.calls() >= target; },
                        std::to_string(count) + " more polls");
}

std::vector<size_t> NoticeIndices(const Host& host, int bits, size_t from) {
  std::vector<size_t> found;
  for (size_t i = from; i < host.notices().size(); ++i) {
    if (host.notices()[i].bits & bits) found.push_back(i);
  }
  return found;
}

}  // namespace quillo_test
