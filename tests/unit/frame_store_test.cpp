// The frame store between the painting thread and the host's memory: a painter publishing
// random frames as fast as it can and a poller taking them at random moments, in every memory
// layout. Every delivered picture must be one whole published frame, newer than the last, and
// nothing outside the view's pixels may ever be written.
#include "client/frame_store.h"
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace quillo {
namespace {

constexpr uint8_t kUntouched = 0xAB;

// The painter's frames, made before the threads start: frame n is frame n-1 with a few
// rectangles painted in colours of its own. Pictures are B,G,R,A, top row first, stride w*4.
struct Movie {
  Movie(int w, int h, int count, unsigned seed) : w(w), h(h) {
    std::mt19937 random(seed);
    pictures.resize(count + 1);
    areas.resize(count + 1);
    pictures[0].assign(static_cast<size_t>(w) * h, 0);
    for (int n = 1; n <= count; ++n) {
      pictures[n] = pictures[n - 1];
      const uint32_t colour = static_cast<uint32_t>(random()) | 0xFF000000u;
      std::vector<CefRect> rects;
      if (n == 1) {
        rects.emplace_back(0, 0, w, h);  // the first frame is whole
      } else {
        // Mostly a few rectangles, now and then more than a region holds; some reach past the
        // view's edges, as a paint's rectangles are cut to the view.
        const int count = random() % 8 == 0 ? 20 + random() % 10 : 1 + random() % 4;
        for (int i = 0; i < count; ++i)
          rects.emplace_back(
              static_cast<int>(random() % (w + 8)) - 4, static_cast<int>(random() % (h + 8)) - 4,
              1 + static_cast<int>(random() % (w / 2)), 1 + static_cast<int>(random() % (h / 2)));
      }
      for (const CefRect& r : rects) {
        const CefRect clipped = ClipToArea(r, w, h);
        for (int y = clipped.y; y < clipped.y + clipped.height; ++y)
          for (int x = clipped.x; x < clipped.x + clipped.width; ++x)
            pictures[n][static_cast<size_t>(y) * w + x] = colour ^ static_cast<uint32_t>(x * 7);
        areas[n].Add(clipped);
      }
    }
  }
  int w, h;
  std::vector<std::vector<uint32_t>> pictures;
  std::vector<DirtyRegion> areas;
};

// How pixel (x, y) of picture must sit in host memory of the layout.
bool Matches(const uint8_t* memory, const FrameStore::Layout& layout, const Movie& movie, int n,
             int* badRow) {
  for (int y = 0; y < layout.height; ++y) {
    const int row = layout.bottomUp ? layout.height - 1 - y : y;
    const uint8_t* line = memory + static_cast<size_t>(row) * layout.stride;
    for (int x = 0; x < layout.width; ++x) {
      uint8_t want[4];
      std::memcpy(want, &movie.pictures[n][static_cast<size_t>(y) * layout.width + x], 4);
      if (layout.swapRedBlue) std::swap(want[0], want[2]);
      if (std::memcmp(line + x * 4, want, 4) != 0) {
        *badRow = y;
        return false;
      }
    }
    // The host's padding past the row's pixels is never written.
    for (size_t b = static_cast<size_t>(layout.width) * 4; b < layout.stride; ++b)
      if (line[b] != kUntouched) {
        *badRow = y;
        return false;
      }
  }
  return true;
}

struct Case {
  bool swap, bottomUp;
  int pad;  // bytes of padding after each row
};

class FrameStoreRace : public ::testing::TestWithParam<Case> {};

TEST_P(FrameStoreRace, EveryDeliveredPictureIsOneWholeNewerFrame) {
  const Case c = GetParam();
  const int w = 61, h = 37, frames = 3000;
  const Movie movie(w, h, frames, 7 + c.pad + c.swap * 2 + c.bottomUp * 4);
  FrameStore::Layout layout{w, h, static_cast<size_t>(w) * 4 + c.pad, c.swap, c.bottomUp};
  FrameStore store;
  ASSERT_TRUE(store.Configure(layout));

  // The host's memory with guard bytes on both sides.
  constexpr size_t kGuard = 256;
  const size_t bytes = layout.stride * h;
  std::vector<uint8_t> memory(bytes + 2 * kGuard, kUntouched);
  uint8_t* const target = memory.data() + kGuard;

  std::atomic<bool> painted{false};
  std::thread painter([&] {
    std::mt19937 random(11);
    for (int n = 1; n <= frames; ++n) {
      store.Begin(movie.areas[n]);
      // As a view paint: each piece of the area from the whole new picture.
      for (const CefRect& r : movie.areas[n])
        store.Write(r.x, r.y, r.width, r.height,
                    reinterpret_cast<const uint8_t*>(&movie.pictures[n][size_t(r.y) * w + r.x]),
                    static_cast<size_t>(w) * 4);
      store.Publish(movie.areas[n]);
      if (random() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 50));
    }
    painted.store(true);
  });

  std::mt19937 random(5);
  std::vector<uint8_t> held;
  uint64_t last = 0;
  int delivered = 0;
  for (;;) {
    const bool done = painted.load();
    DirtyRegion area;
    uint64_t frame = 0;
    if (store.Deliver(target, &area, &frame)) {
      ++delivered;
      ASSERT_GT(frame, last) << "an older frame after a newer one";
      ASSERT_LE(frame, static_cast<uint64_t>(frames));
      int badRow = -1;
      ASSERT_TRUE(Matches(target, layout, movie, static_cast<int>(frame), &badRow))
          << "delivery " << delivered << " of frame " << frame << " (the last was " << last
          << ") differs from its picture at row " << badRow;
      last = frame;
      // Hold the frame a while, as a host uploading it does: it must not move.
      if (random() % 3 == 0) {
        held.assign(target, target + bytes);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        ASSERT_EQ(std::memcmp(held.data(), target, bytes), 0) << "frame " << frame << " moved";
      }
    } else if (done) {
      // Everything was published before this call looked.
      ASSERT_EQ(last, static_cast<uint64_t>(frames)) << "the last frame was never delivered";
      break;
    }
    if (random() % 2 == 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 100));
  }
  painter.join();
  for (size_t i = 0; i < kGuard; ++i) {
    ASSERT_EQ(memory[i], kUntouched) << "written before the host's memory";
    ASSERT_EQ(memory[kGuard + bytes + i], kUntouched) << "written past the host's memory";
  }
  EXPECT_GT(delivered, 10);
  EXPECT_GT(store.BytesDelivered(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FrameStoreRace,
                         ::testing::Values(Case{false, false, 0}, Case{true, false, 0},
                                           Case{false, true, 12}, Case{true, true, 4}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.swap ? "Rgba" : "Bgra") +
                                  (info.param.bottomUp ? "BottomUp" : "TopDown") +
                                  (info.param.pad ? "Padded" : "");
                         });

TEST(FrameStore, NothingNewMeansNothingWritten) {
  FrameStore store;
  EXPECT_FALSE(store.Configure({-1, 10, 0, false, false}));
  EXPECT_FALSE(store.Configure({10, 10, 39, false, false})) << "stride shorter than a row";
  ASSERT_TRUE(store.Configure({4, 2, 16, false, false}));
  std::vector<uint8_t> memory(32, kUntouched);
  EXPECT_FALSE(store.Deliver(memory.data()));
  const std::vector<uint8_t> red(32, 0x11);
  DirtyRegion whole;
  whole.Add(CefRect(0, 0, 4, 2));
  store.Begin(whole);
  store.Write(0, 0, 4, 2, red.data(), 16);
  store.Publish(whole);
  EXPECT_FALSE(store.Deliver(nullptr)) << "no memory: the frame waits";
  EXPECT_TRUE(store.Deliver(memory.data()));
  EXPECT_EQ(memory, red);
  EXPECT_FALSE(store.Deliver(memory.data())) << "a frame is delivered once";
  EXPECT_EQ(store.BytesDelivered(), 32u);
}

TEST(DirtyRegion, KeepsWhatChangedAndBecomesItsBoundsWhenFull) {
  DirtyRegion region;
  region.Add(CefRect(10, 10, 5, 5));
  region.Add(CefRect(11, 11, 2, 2));  // inside: nothing added
  region.Add(CefRect(0, 0, 0, 9));    // empty: ignored
  EXPECT_EQ(region.Count(), 1);
  region.Add(CefRect(8, 8, 10, 10));  // holds the first: replaces it
  EXPECT_EQ(region.Count(), 1);
  EXPECT_TRUE(region.Covers(CefRect(10, 10, 5, 5)));
  for (int i = 0; i < DirtyRegion::kCapacity + 3; ++i) region.Add(CefRect(100 + i * 3, i, 1, 1));
  EXPECT_LE(region.Count(), DirtyRegion::kCapacity);
  const CefRect bounds = region.Bounds();
  EXPECT_TRUE(region.Covers(CefRect(8, 8, 10, 10)));
  EXPECT_TRUE(region.Covers(CefRect(100 + 18 * 3, 18, 1, 1)));
  EXPECT_EQ(bounds, CefRect(8, 0, 100 + 18 * 3 + 1 - 8, 19));
  EXPECT_EQ(ClipToArea(CefRect(-5, 3, 10, 100), 4, 8), CefRect(0, 3, 4, 5));
  EXPECT_TRUE(ClipToArea(CefRect(4, 0, 3, 3), 4, 8).IsEmpty());
}

// Frame memory of every size a host may ask for, across the size where it starts coming in huge
// pages: zeroed, and writable to its last byte; freed with the size it was asked with, while the
// blocks around it stay.
TEST(FrameMemory, EveryBlockIsZeroedWholeAndFreedAlone) {
  const size_t huge = size_t{2} << 20;
  std::vector<std::pair<uint8_t*, size_t>> blocks;
  for (size_t bytes :
       {size_t{0}, size_t{4}, huge - 4, huge, huge + 4, size_t{1283} * 4 * 721, 3 * huge}) {
    for (bool populate : {false, true}) {
      uint8_t* block = platform::AllocateFrameMemory(bytes, populate);
      ASSERT_NE(block, nullptr) << bytes;
      for (size_t at : {size_t{0}, bytes / 2, bytes - 1}) {
        if (bytes == 0) break;
        ASSERT_EQ(block[at], 0) << bytes << " at " << at;
        block[at] = 0x5a;
      }
      blocks.emplace_back(block, bytes);
    }
  }
  // Every other block freed; the rest keep what was written into them.
  for (size_t i = 0; i < blocks.size(); i += 2)
    platform::FreeFrameMemory(blocks[i].first, blocks[i].second);
  for (size_t i = 1; i < blocks.size(); i += 2) {
    const auto [block, bytes] = blocks[i];
    if (bytes > 0) {
      EXPECT_EQ(block[bytes - 1], 0x5a) << bytes;
    }
    platform::FreeFrameMemory(block, bytes);
  }
  platform::FreeFrameMemory(nullptr, huge);  // nothing to free
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // both reserve shadow
// A host's frame too large for the address space left: the store fails whole (the buffers made
// before the one that failed are given back as they were made), and a frame that fits then works.
// In a child whose address space is limited to room for two of the three buffers.
TEST(FrameStore, AFrameThatDoesNotFitFailsWholeAndTheNextOneWorks) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long vmKiB = -1;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) vmKiB = std::stol(line.substr(7));
    const size_t slot = size_t{4096} * 4 * 4096;  // 64 MiB
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(vmKiB) * 1024 + 2 * slot + (24 << 20);
    if (vmKiB <= 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
    FrameStore store;
    if (store.Configure({4096, 4096, 4096 * 4, false, false})) _exit(4);  // all three: no room
    if (!store.Configure({64, 64, 64 * 4, false, false})) _exit(5);
    std::vector<uint8_t> memory(64 * 64 * 4, kUntouched), red(64 * 64 * 4, 0x11);
    DirtyRegion whole;
    whole.Add(CefRect(0, 0, 64, 64));
    store.Begin(whole);
    store.Write(0, 0, 64, 64, red.data(), 64 * 4);
    store.Publish(whole);
    _exit(store.Deliver(memory.data()) && memory == red ? 0 : 6);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace quillo
