// Which main-frame navigations to data: URLs go ahead.
#include "wpe/navigation/top_navigation.h"

#include <gtest/gtest.h>

#include <string>

#include "cef_types.h"

namespace quillo::engine {
namespace {

TEST(TopNavigation, OnlyThePagesOwnMovesToDataUrlsAreRefused) {
  const struct {
    const char* url;
    int transition;
    bool hostStarted;
    bool refused;
  } cases[] = {
      {"data:text/html,x", TT_LINK, false, true},
      {"DATA:text/html,x", TT_EXPLICIT, false, true},
      {"data:text/html,x", TT_FORM_SUBMIT, false, true},
      {"data:text/html,x", TT_EXPLICIT, true, false},
      {"data:text/html,x", TT_EXPLICIT | TT_FORWARD_BACK_FLAG, false, false},
      {"data:text/html,x", TT_RELOAD, false, false},
      {"http://127.0.0.1/", TT_LINK, false, false},
      {"", TT_LINK, false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RefusedTopLevelDataUrl(c.url, c.transition, c.hostStarted), c.refused)
        << c.url << " transition " << c.transition << " host " << c.hostStarted;
}

// A load the host asked for is known when it starts, even after an overtaking one started.
TEST(TopNavigation, HostLoadsAreKnownWhenTheyStart) {
  HostLoads loads;
  loads.Asked("data:a");
  loads.Asked("about:blank");
  EXPECT_TRUE(loads.Starting("data:a"));
  EXPECT_FALSE(loads.Starting("data:a")) << "one request, one start";
  EXPECT_TRUE(loads.Starting("about:blank"));
  EXPECT_FALSE(loads.Starting("data:page-started"));
  for (size_t i = 0; i <= HostLoads::kMaxWaiting; ++i) loads.Asked("data:" + std::to_string(i));
  EXPECT_FALSE(loads.Starting("data:0")) << "the oldest of too many is forgotten";
  EXPECT_TRUE(loads.Starting("data:1"));
}

}  // namespace
}  // namespace quillo::engine
