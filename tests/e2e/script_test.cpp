// ExecuteJavaScript on a live page.
#include "support/e2e_fixture.h"

namespace quillo_test {
namespace {

class Script : public E2ETest {};

TEST_F(Script, ChangesTitleAndBackground) {
  constexpr int kWidth = 80, kHeight = 60;
  PixelBuffer& buffer = NewBuffer(kWidth, kHeight);
  Load(buffer, kHtmlSource +
                   "<title>before</title><body style=\"margin:0;background:rgb(255,255,255)\">"
                   "</body>");
  ASSERT_TRUE(host().WaitForTitle("before"));
  ASSERT_TRUE(WaitForView(buffer, 0, {{0, 0, {255, 255, 255}}, {79, 59, {255, 255, 255}}},
                          "the white page"));

  const size_t from = host().notices().size();
  // Script and title travel as UTF-8, characters outside the basic plane included.
  lib().ExecuteJavaScript(
      "document.title = 'after \xC3\x9F\xE2\x82\xAC\xF0\x9F\x98\x80';"
      "document.body.style.background = 'rgb(0,128,255)';");
  ASSERT_TRUE(host().WaitForTitle("after \xC3\x9F\xE2\x82\xAC\xF0\x9F\x98\x80", from));
  EXPECT_TRUE(WaitForView(buffer, 0,
                          {{0, 0, {0, 128, 255}},
                           {kWidth - 1, 0, {0, 128, 255}},
                           {kWidth / 2, kHeight / 2, {0, 128, 255}},
                           {kWidth - 1, kHeight - 1, {0, 128, 255}}},
                          "the background set by the script"));
}

}  // namespace
}  // namespace quillo_test
