// Driving the library the way a host does: UpdateWeb called over and over, every notice kept.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/library_copy.h"

namespace quillo_test {

// Generous: the engine needs well under a second for a page on an idle machine.
inline constexpr std::chrono::milliseconds kDeadline{30000};

// One UpdateWeb result other than 0 and -1, with copies of what it handed out.
struct Notice {
  size_t call = 0;  // index of the UpdateWeb call that returned it
  int bits = 0;
  bool has_text = false;
  std::string text;
  bool has_value = false;
  int value = 0;
};

std::string DescribeBits(int bits);
std::string Describe(const Notice& notice);

class Host {
 public:
  // What *text and *value hold before each call, so that writes can be seen.
  static void* const kTextSentinel;
  static constexpr int kValueSentinel = 0x5A5A5A5A;

  explicit Host(const LibraryCopy& lib) : lib_(lib) {}

  // One UpdateWeb call, recorded.
  int Update();

  // Calls UpdateWeb (about every millisecond) until done() holds; fails with a message that
  // names `what` and shows the latest notices once the deadline has passed.
  ::testing::AssertionResult PollUntil(const std::function<bool()>& done, const std::string& what,
                                       std::chrono::milliseconds deadline = kDeadline);

  // Polls until UpdateWeb answers something other than -1.
  ::testing::AssertionResult WaitUntilReady();
  // Polls until `count` more results carry UPDATE_NEW_FRAME.
  ::testing::AssertionResult WaitForFrames(int count);
  // Polls until a title notice with exactly this text has arrived (at notice index `from` or
  // later).
  ::testing::AssertionResult WaitForTitle(const std::string& title, size_t from = 0);

  const std::vector<int>& results() const { return results_; }
  const std::vector<Notice>& notices() const { return notices_; }
  size_t calls() const { return results_.size(); }
  int frames() const { return frames_; }

  // Texts of the notices that carry the bit, in arrival order, from notice index `from` on.
  std::vector<std::string> Texts(int bit, size_t from = 0) const;
  bool SawTitle(const std::string& title, size_t from = 0) const;
  bool SawUrl(const std::string& url, size_t from = 0) const;

  // Contract breaches seen so far: an output written without the notice that owns it, -1 with
  // outputs touched, two text notices in one result, a load error not alone, unknown bits.
  const std::vector<std::string>& violations() const { return violations_; }

  // The last few notices, for failure messages.
  std::string Recent(size_t count = 12) const;

 private:
  const LibraryCopy& lib_;
  std::vector<int> results_;
  std::vector<Notice> notices_;
  std::vector<std::string> violations_;
  int frames_ = 0;
};

}  // namespace quillo_test
