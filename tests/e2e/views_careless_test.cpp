// Careless hosts of the views: every function with a handle that is null, destroyed or made up;
// sizes, strides and configs out of range; calls from another thread, in a forked child and after
// shutdown; a view destroyed inside its own notice loop; and the one engine of a process claimed by
// the eight functions of quillo.h or by the views, the other refused. Each refusal is its error
// code and a log line, and nothing changes.
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "quillo.h"
#include "support/views_fixture.h"

namespace quillo_test {
namespace {

// Every function of quillo/views.h that names a view, called with handle; their results.
std::vector<std::pair<std::string, int>> CallEach(const ViewsApi& api, quillo_view* handle) {
  quillo_notice n = quillo_notice_init();
  uint8_t pixels[16 * 16 * 4];
  return {
      {"next_notice", api.quillo_view_next_notice(handle, &n)},
      {"resize", api.quillo_view_resize(handle, 16, 16, pixels, 0)},
      {"set_device_scale", api.quillo_view_set_device_scale(handle, 2)},
      {"set_zoom", api.quillo_view_set_zoom(handle, 1)},
      {"set_frame_rate", api.quillo_view_set_frame_rate(handle, 30)},
      {"set_hidden", api.quillo_view_set_hidden(handle, 1)},
      {"set_user_agent", api.quillo_view_set_user_agent(handle, "x")},
      {"load_url", api.quillo_view_load_url(handle, "about:blank")},
      {"load_html", api.quillo_view_load_html(handle, "<p>")},
      {"go_back", api.quillo_view_go_back(handle)},
      {"go_forward", api.quillo_view_go_forward(handle)},
      {"reload", api.quillo_view_reload(handle)},
      {"stop", api.quillo_view_stop(handle)},
      {"mouse_move", api.quillo_view_mouse_move(handle, 1, 1, 0)},
      {"mouse_button", api.quillo_view_mouse_button(handle, 0, 1, 1, 1, 1, 0)},
      {"mouse_wheel", api.quillo_view_mouse_wheel(handle, 1, 1, 0, 1, 0)},
      {"key", api.quillo_view_key(handle, QUILLO_KEY_DOWN, 'A', 0, "a")},
      {"set_focus", api.quillo_view_set_focus(handle, 1)},
      {"answer_dialog", api.quillo_view_answer_dialog(handle, 1, 1, nullptr)},
      {"eval", api.quillo_view_eval(handle, "1", 1)},
      {"reply", api.quillo_view_reply(handle, 1, 1, "x")},
      {"destroy", api.quillo_view_destroy(handle)},
  };
}

void ExpectAll(const std::vector<std::pair<std::string, int>>& results, int expected,
               const std::string& what) {
  for (const auto& [name, result] : results)
    EXPECT_EQ(result, expected) << "quillo_view_" << name << " with " << what;
}

TEST_F(ViewsTest, BadHandlesAndBadArgumentsAreRefusedAndLogged) {
  ViewMemory& m = NewMemory(64, 64);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m), "<title>t</title>");
  ASSERT_TRUE(view);
  ViewMemory& other = NewMemory(64, 64);
  quillo_view* gone = host().CreateHtml(ViewsHost::ConfigFor(other), "<title>g</title>");
  ASSERT_EQ(host().Destroy(gone), QUILLO_OK);
  int onTheStack = 0;
  ExpectAll(CallEach(api(), nullptr), QUILLO_ERROR_BAD_HANDLE, "a null handle");
  ExpectAll(CallEach(api(), gone), QUILLO_ERROR_BAD_HANDLE, "a destroyed handle");
  ExpectAll(CallEach(api(), reinterpret_cast<quillo_view*>(&onTheStack)), QUILLO_ERROR_BAD_HANDLE,
            "an address");
  // A number shaped like a handle, of a generation never made.
  auto forged = reinterpret_cast<quillo_view*>(reinterpret_cast<uintptr_t>(view) + (1ull << 30));
  ExpectAll(CallEach(api(), forged), QUILLO_ERROR_BAD_HANDLE, "a forged handle");
  EXPECT_TRUE(Logged("quillo_view_resize => QUILLO_ERROR_BAD_HANDLE"));

  // Sizes, strides and configs.
  struct ConfigCase {
    const char* what;
    std::function<void(quillo_view_config&)> change;
    int expected;
  };
  uint8_t few[64];
  const ConfigCase configs[] = {
      {"a width of 0", [](auto& c) { c.width = 0; }, QUILLO_ERROR_BAD_SIZE},
      {"a negative height", [](auto& c) { c.height = -5; }, QUILLO_ERROR_BAD_SIZE},
      {"a width over the largest", [](auto& c) { c.width = QUILLO_MAX_SIDE + 1; },
       QUILLO_ERROR_BAD_SIZE},
      {"a CSS width over the largest at 0.5",
       [](auto& c) { c.width = QUILLO_MAX_SIDE, c.stride = 0, c.device_scale = 0.5; },
       QUILLO_ERROR_BAD_SIZE},
      {"a stride short of a row", [](auto& c) { c.stride = size_t(c.width) * 4 - 1; },
       QUILLO_ERROR_BAD_STRIDE},
      {"no memory", [](auto& c) { c.pixels = nullptr; }, QUILLO_ERROR_NULL_ARGUMENT},
      {"a config of an older size", [](auto& c) { c.size = sizeof(size_t); },
       QUILLO_ERROR_BAD_CONFIG},
      {"an unknown format", [](auto& c) { c.format = 7; }, QUILLO_ERROR_BAD_CONFIG},
      {"a scale of 9", [](auto& c) { c.device_scale = 9; }, QUILLO_ERROR_BAD_CONFIG},
      {"a frame rate of 300", [](auto& c) { c.max_frame_rate = 300; }, QUILLO_ERROR_BAD_CONFIG},
      {"a zoom of 0.1", [](auto& c) { c.zoom = 0.1; }, QUILLO_ERROR_BAD_CONFIG},
      {"a function name with a space", [](auto& c) { c.post_function = "a b"; },
       QUILLO_ERROR_BAD_CONFIG},
      {"a function name starting with a digit", [](auto& c) { c.post_function = "1a"; },
       QUILLO_ERROR_BAD_CONFIG},
  };
  for (const ConfigCase& c : configs) {
    quillo_view_config config = ViewsHost::ConfigFor(m);
    c.change(config);
    quillo_view* made = view;
    EXPECT_EQ(api().quillo_view_create(&config, "about:blank", &made), c.expected) << c.what;
    EXPECT_EQ(made, nullptr) << c.what;
  }
  // A config from a newer header: accepted while its extra fields are zero.
  struct Newer {
    quillo_view_config config;
    uint64_t extra;
  } newer{ViewsHost::ConfigFor(m), 0};
  newer.config.size = sizeof(Newer);
  quillo_view* made = nullptr;
  EXPECT_EQ(api().quillo_view_create(&newer.config, "about:blank", &made), QUILLO_OK);
  if (made) {
    EXPECT_EQ(api().quillo_view_destroy(made), QUILLO_OK);
  }
  newer.extra = 1;
  EXPECT_EQ(api().quillo_view_create(&newer.config, "about:blank", &made), QUILLO_ERROR_BAD_CONFIG);
  EXPECT_EQ(api().quillo_view_create(nullptr, "about:blank", &made), QUILLO_ERROR_NULL_ARGUMENT);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  EXPECT_EQ(api().quillo_view_create(&config, "about:blank", nullptr), QUILLO_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(api().quillo_view_create_html(&config, nullptr, &made), QUILLO_ERROR_NULL_ARGUMENT);

  EXPECT_EQ(api().quillo_view_resize(view, 0, 10, few, 0), QUILLO_ERROR_BAD_SIZE);
  EXPECT_EQ(api().quillo_view_resize(view, 4, 4, few, 15), QUILLO_ERROR_BAD_STRIDE);
  EXPECT_EQ(api().quillo_view_resize(view, 4, 4, nullptr, 0), QUILLO_ERROR_NULL_ARGUMENT);
  quillo_notice small = quillo_notice_init();
  small.size = 8;
  EXPECT_EQ(api().quillo_view_next_notice(view, &small), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_next_notice(view, nullptr), QUILLO_ERROR_NULL_ARGUMENT);
  EXPECT_EQ(api().quillo_view_mouse_button(view, 3, 1, 0, 0, 1, 0), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_mouse_button(view, 0, 1, 0, 0, 0, 0), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_key(view, 3, 'A', 0, nullptr), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, 0, 0, nullptr), QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_key(view, QUILLO_KEY_DOWN, 300, 0, nullptr),
            QUILLO_ERROR_BAD_ARGUMENT);
  EXPECT_EQ(api().quillo_view_load_url(view, nullptr), QUILLO_ERROR_NULL_ARGUMENT);
  EXPECT_TRUE(Logged("quillo_view_create => QUILLO_ERROR_BAD_STRIDE"));
  EXPECT_TRUE(Logged("stride 255 is below width * 4 = 256"));
  EXPECT_EQ(
      std::string(api().quillo_result_text(QUILLO_ERROR_LIMIT)).rfind("QUILLO_ERROR_LIMIT", 0), 0u);

  // The view refused so often still works, and its memory was never written outside.
  ASSERT_TRUE(host().WaitForTitle(view, "t"));
  std::string where;
  EXPECT_TRUE(m.Intact(&where)) << where;
}

// Calls from a thread other than the host's are refused with a log line and change nothing; a
// view destroyed inside its own notice loop ends the loop with QUILLO_ERROR_BAD_HANDLE; after
// quillo_shutdown every function answers QUILLO_ERROR_SHUT_DOWN.
TEST_F(ViewsTest, OtherThreadsNoticeLoopsAndShutdown) {
  ViewMemory& m = NewMemory(64, 64);
  quillo_view* view =
      host().CreateHtml(ViewsHost::ConfigFor(m),
                        "<script>let i = 0; const t = setInterval(() => { document.title = 'n' + i;"
                        " if (++i === 30) clearInterval(t) }, 5)</script>");
  ASSERT_TRUE(view);
  std::vector<std::pair<std::string, int>> fromOther;
  int pump = 0;
  std::thread([&] {
    pump = api().quillo_pump();
    fromOther = CallEach(api(), view);
  }).join();
  EXPECT_EQ(pump, QUILLO_ERROR_WRONG_THREAD);
  ExpectAll(fromOther, QUILLO_ERROR_WRONG_THREAD, "a call from another thread");
  EXPECT_TRUE(Logged("quillo_view_destroy => QUILLO_ERROR_WRONG_THREAD"));
  // Not destroyed by the other thread's call.
  ASSERT_TRUE(host().WaitForTitle(view, "n29"));

  // Destroyed while its notices are read: the loop ends at once.
  ViewMemory& second = NewMemory(64, 64);
  quillo_view_config config = ViewsHost::ConfigFor(second);
  quillo_view* busy = nullptr;
  ASSERT_EQ(
      api().quillo_view_create_html(
          &config, "<script>for (let i = 0; i < 20; i++) document.title = 'b' + i</script>", &busy),
      QUILLO_OK);
  int taken = 0, last = 0;
  ASSERT_TRUE(host().PumpUntil(
      [&] {
        quillo_notice n = quillo_notice_init();
        while ((last = api().quillo_view_next_notice(busy, &n)) == 1) {
          if (++taken == 3) api().quillo_view_destroy(busy);
        }
        return taken >= 3;
      },
      "three notices of the busy view"));
  EXPECT_EQ(last, QUILLO_ERROR_BAD_HANDLE);
  EXPECT_EQ(taken, 3);

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator is not fork-safe
  // In the child of a fork every call is refused, and the child ends with _exit; the parent's
  // view goes on.
  int answer[2];
  ASSERT_EQ(pipe(answer), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(answer[0]);
    bool refused = api().quillo_pump() == QUILLO_ERROR_FORKED;
    for (const auto& [name, result] : CallEach(api(), view))
      refused = refused && result == QUILLO_ERROR_FORKED;
    const char verdict = refused ? 'y' : 'n';
    _exit(write(answer[1], &verdict, 1) == 1 ? 0 : 1);
  }
  close(answer[1]);
  char verdict = 0;
  EXPECT_EQ(read(answer[0], &verdict, 1), 1);
  close(answer[0]);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(verdict, 'y') << "a call in the forked child was not refused with QUILLO_ERROR_FORKED";
  const size_t before = host().Notices(view).size();
  ASSERT_EQ(api().quillo_view_eval(view, "document.title = 'after fork'", 7), QUILLO_OK);
  EXPECT_TRUE(host().WaitForTitle(view, "after fork", before));
#endif

  ASSERT_EQ(Shutdown(), QUILLO_OK);
  ExpectAll(CallEach(api(), view), QUILLO_ERROR_SHUT_DOWN, "a call after shutdown");
  EXPECT_EQ(api().quillo_pump(), QUILLO_ERROR_SHUT_DOWN);
  EXPECT_EQ(api().quillo_shutdown(), QUILLO_ERROR_SHUT_DOWN);
  quillo_view* made = nullptr;
  EXPECT_EQ(api().quillo_view_create(&config, "about:blank", &made), QUILLO_ERROR_SHUT_DOWN);
  std::string where;
  EXPECT_TRUE(m.Intact(&where)) << where;
}

// The eight functions first: the views are refused the engine.
TEST_F(ViewsTest, AfterLoadWebTheViewsAreRefusedTheEngine) {
  ViewMemory& m = NewMemory(64, 64);
  std::vector<uint8_t> pixels(64 * 64 * 4);
  lib().SetDebugEnable(true);
  ASSERT_EQ(lib().LoadWeb(0, 0, 64, 64, pixels.data(), "about:blank", 0, "en-US"), 0);
  quillo_view_config config = ViewsHost::ConfigFor(m);
  quillo_view* view = nullptr;
  EXPECT_EQ(api().quillo_view_create(&config, "about:blank", &view), QUILLO_ERROR_ENGINE_IN_USE);
  EXPECT_EQ(view, nullptr);
  EXPECT_EQ(api().quillo_pump(), QUILLO_OK);  // nothing to drive
  EXPECT_TRUE(Logged("QUILLO_ERROR_ENGINE_IN_USE"));
  lib().UnloadWeb(true);
}

// The views first: LoadWeb loads nothing, says so in the log, and its next UpdateWeb reports a
// failed load once; later polls answer "not ready".
TEST_F(ViewsTest, AfterTheViewsLoadWebIsRefused) {
  ViewMemory& m = NewMemory(64, 64);
  quillo_view* view = host().CreateHtml(ViewsHost::ConfigFor(m), "<title>views</title>");
  ASSERT_TRUE(view);
  std::vector<uint8_t> pixels(64 * 64 * 4, 0x5A);
  EXPECT_EQ(lib().LoadWeb(0, 0, 64, 64, pixels.data(), "about:blank", 0, "en-US"), 0);
  void* text = nullptr;
  int value = 0;
  EXPECT_EQ(lib().UpdateWeb(&text, &value), UPDATE_LOAD_ERROR);
  EXPECT_EQ(value, -2);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(static_cast<const char*>(text), "net::ERR_FAILED");
  EXPECT_EQ(lib().UpdateWeb(&text, &value), -1);
  EXPECT_TRUE(Logged("LoadWeb => the views interface holds this process's engine"));
  // The views go on; the eight functions' memory is never touched.
  ASSERT_TRUE(host().WaitForTitle(view, "views"));
  for (uint8_t byte : pixels) ASSERT_EQ(byte, 0x5A);
}

}  // namespace
}  // namespace quillo_test
