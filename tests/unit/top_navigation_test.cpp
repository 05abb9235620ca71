// Which main-frame navigations to data: URLs go ahead.
#include "cef/wpe/top_navigation.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillo::engine
