// quillo-bench-views: the views' benchmark runs of libquillo, seen the way a host sees them. It
// knows only include/quillo/views.h: it owns each view's pixel memory, calls quillo_pump in its
// loop (every millisecond, as the other hosts poll while they wait) and reads every view's
// notices after each pump. It prints one BENCH_RESULT line.
//
//   quillo-bench-views views|resize|eval --url URL [--views N] [--size WxH] [options]
#include <quillo/views.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "views_workloads.h"

namespace {

using bench::Args;
using bench::NowNs;
using bench::Result;

class Views : public bench::ViewsDriver {
 public:
  explicit Views(const Args& args) : m_args(args) {}
  ~Views() override {
    if (!m_shutDown) quillo_shutdown();
  }

  // Creates the views, each loading args' URL.
  bool Create() {
    for (int v = 0; v < m_args.views; ++v) {
      auto view = std::make_unique<View>();
      view->pixels.assign(static_cast<size_t>(m_args.width) * m_args.height * 4, 0);
      quillo_view_config config = quillo_view_config_default();
      config.width = m_args.width;
      config.height = m_args.height;
      config.pixels = view->pixels.data();
      const int r = quillo_view_create(&config, m_args.url.c_str(), &view->handle);
      if (r != QUILLO_OK) {
        m_error = std::string("quillo_view_create: ") + quillo_result_text(r);
        return false;
      }
      m_views.push_back(std::move(view));
    }
    return true;
  }

  void Shutdown(Result& result) {
    const int64_t start = NowNs();
    quillo_shutdown();
    m_shutDown = true;
    result.Number("shutdown_ms", static_cast<double>(NowNs() - start) / 1e6);
  }

  int count() const override { return static_cast<int>(m_views.size()); }

  // Pumps every kActivePollNs on a fixed schedule, reading every view's notices after each.
  bool RunUntil(const std::function<bool()>& done, int64_t deadlineNs) override {
    int64_t next = NowNs();
    for (;;) {
      Poll();
      if (done()) return true;
      if (!m_error.empty()) return false;
      const int64_t now = NowNs();
      if (now >= deadlineNs) return false;
      next += bench::kActivePollNs;
      if (next < now) next = now;
      bench::SleepNs(next - now);
    }
  }

  int64_t frames(int view) const override { return m_views[view]->frames; }
  int64_t framesAtSize(int view) const override { return m_views[view]->framesAtSize; }

  void Resize(int view, int width, int height) override {
    View& v = *m_views[view];
    // New memory; the old goes once the call has returned (never written again from then on).
    std::vector<uint8_t> memory(static_cast<size_t>(width) * height * 4, 0);
    const int r = quillo_view_resize(v.handle, width, height, memory.data(), 0);
    if (r != QUILLO_OK) {
      m_error = std::string("quillo_view_resize: ") + quillo_result_text(r);
      return;
    }
    v.pixels.swap(memory);
    v.framesAtSize = 0;
  }

  void Evaluate(int view, const std::string& script, uint64_t id) override {
    const int r = quillo_view_eval(m_views[view]->handle, script.c_str(), id);
    if (r != QUILLO_OK) m_error = std::string("quillo_view_eval: ") + quillo_result_text(r);
  }

  std::optional<std::string> result(uint64_t id) const override {
    auto it = m_results.find(id);
    if (it == m_results.end()) return std::nullopt;
    return it->second;
  }

  const std::string& error() const { return m_error; }
  std::string WhyNot() const override {
    if (!m_error.empty()) return m_error;
    std::string shown;
    for (const auto& view : m_views) shown.append(" ").append(std::to_string(view->frames));
    return "not every view showed a frame (frames per view:" + shown + ")";
  }

 private:
  struct View {
    quillo_view* handle = nullptr;
    std::vector<uint8_t> pixels;
    int64_t frames = 0;
    int64_t framesAtSize = 0;
  };

  void Poll() {
    const int r = quillo_pump();
    if (r != QUILLO_OK) {
      m_error = std::string("quillo_pump: ") + quillo_result_text(r);
      return;
    }
    quillo_notice notice = quillo_notice_init();
    for (const auto& view : m_views) {
      while (quillo_view_next_notice(view->handle, &notice) == 1) {
        switch (notice.kind) {
          case QUILLO_NOTICE_FRAME:
            ++view->frames;
            ++view->framesAtSize;
            break;
          case QUILLO_NOTICE_SCRIPT_RESULT:
            m_results[notice.id] = notice.code ? notice.text : std::string("!") + notice.text;
            break;
          case QUILLO_NOTICE_LOAD_FAILED:
            m_error = std::string("load failed: ") + notice.text + " " + notice.detail;
            break;
          case QUILLO_NOTICE_PROCESS_GONE:
            m_error = "a view's web process ended";
            break;
          default:
            break;
        }
      }
    }
  }

  const Args& m_args;
  std::vector<std::unique_ptr<View>> m_views;
  std::map<uint64_t, std::string> m_results;
  std::string m_error;
  bool m_shutDown = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<Args> args = bench::StartRun(argc, argv);
  if (!args) return 2;
  Result result("quillo", args->workloadName);
  if (!bench::IsViewsWorkload(*args))
    return bench::Fail(result, "quillo-bench-views runs views, resize and eval only");
  Views views(*args);
  if (!views.Create() || !bench::MeasureViewsWorkload(*args, views, result))
    return bench::Fail(result, views.WhyNot());
  if (!views.error().empty()) return bench::Fail(result, views.error());
  views.Shutdown(result);
  result.Print();
  return 0;
}
