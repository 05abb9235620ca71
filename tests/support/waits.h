// Waiting for nothing to happen, and finding notices by their bits.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "support/poller.h"

namespace quillo_test {

// `count` more UpdateWeb calls, so that whatever is still queued has units of engine work in
// which to arrive before a test checks that something did not happen.
::testing::AssertionResult IdlePolls(Host& host, size_t count = 300);

// Indices of the notices from `from` on that carry any of `bits`.
std::vector<size_t> NoticeIndices(const Host& host, int bits, size_t from = 0);

}  // namespace quillo_test
