// The extension's watch on a frame object: one for the frame's whole life, however many
// documents it shows, and its end reported once, with the id it was first watched with.
#include "webext/frame_watch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quillo::webext {
namespace {

void Record(void* ends, uint64_t id) {
  static_cast<std::vector<uint64_t>*>(ends)->push_back(id);
}

TEST(FrameWatch, OneWatchPerFrameHoweverManyDocumentsItShowsAndOneEnd) {
  const size_t before = WatchedFrames();
  std::vector<uint64_t> ends;
  GObject* main = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
  GObject* sub = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
  // A main frame of a long-lived web process shows thousands of documents, a sub-frame a few;
  // each document clears the frame's window object and asks again.
  EXPECT_TRUE(WatchFrame(main, 1, Record, &ends));
  EXPECT_TRUE(WatchFrame(sub, 2, Record, &ends));
  for (int document = 0; document < 5000; ++document) {
    EXPECT_FALSE(WatchFrame(main, 1, Record, &ends));
    if (document % 1000 == 0) {
      EXPECT_FALSE(WatchFrame(sub, 2, Record, &ends));
    }
  }
  EXPECT_EQ(WatchedFrames(), before + 2);
  EXPECT_TRUE(ends.empty());

  g_object_unref(sub);
  EXPECT_EQ(ends, std::vector<uint64_t>({2}));
  EXPECT_EQ(WatchedFrames(), before + 1);
  g_object_unref(main);
  EXPECT_EQ(ends, std::vector<uint64_t>({2, 1}));
  EXPECT_EQ(WatchedFrames(), before);

  // Nothing to watch, or no one to tell: nothing is watched.
  GObject* other = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
  EXPECT_FALSE(WatchFrame(nullptr, 3, Record, &ends));
  EXPECT_FALSE(WatchFrame(other, 3, nullptr, &ends));
  EXPECT_EQ(WatchedFrames(), before);
  g_object_unref(other);
  EXPECT_EQ(ends.size(), 2u);
}

}  // namespace
}  // namespace quillo::webext
