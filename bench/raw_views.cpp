// quillo-bench-raw-views: the views' benchmark runs made by a plain embedder that drives WPE
// WebKit itself: N web views (RawWpeView) in one process sharing one web context, each with its
// own export and frame loop. Each exported buffer is compared row by row with that view's host
// memory and copied from the first row that differs; a frame counts when it changed the
// memory, as quillo announces only frames that differ from the one before (the engine exports
// many buffers equal to the one before, a fifth to a third of them on the animation page).
// Frames are acknowledged at once, or with --fps N on a grid of N a second (quillo's views pace
// theirs at 60). Scripts run with webkit_web_view_run_javascript, their values turned into JSON
// text as quillo's are.
//
//   quillo-bench-raw-views views|resize|eval --url URL [--views N] [--size WxH] [options]
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "raw_wpe_view.h"
#include "views_workloads.h"

namespace {

using bench::Args;
using bench::NowNs;
using bench::Result;

class RawViews : public bench::ViewsDriver {
 public:
  explicit RawViews(const Args& args) : m_args(args) {}
  ~RawViews() override { Stop(); }

  // Starts the views, the first with the engine the others share, each loading args' URL.
  bool Start() {
    for (int v = 0; v < m_args.views; ++v) {
      RawWpeView::Setup setup;
      setup.width = m_args.width;
      setup.height = m_args.height;
      setup.copy = RawWpeView::Copy::kFromFirstChangedRow;
      setup.fpsCap = m_args.fpsCap;
      setup.shareEngineOf = m_views.empty() ? nullptr : m_views.front().get();
      auto view = std::make_unique<RawWpeView>(setup);
      if (!view->Start(&m_error)) return false;
      g_signal_connect(view->view(), "load-failed",
                       G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                      gpointer self) -> gboolean {
                         static_cast<RawViews*>(self)->m_error =
                             std::string("load of ") + (uri ? uri : "") +
                             " failed: " + (error ? error->message : "");
                         return FALSE;
                       }),
                       this);
      webkit_web_view_load_uri(view->view(), m_args.url.c_str());
      m_views.push_back(std::move(view));
    }
    return true;
  }

  // Stops the views, the one whose engine the others share last.
  void Stop() {
    while (!m_views.empty()) m_views.pop_back();
  }

  int count() const override { return static_cast<int>(m_views.size()); }

  // Runs the main loop, sleeping in it whenever nothing is due, until done() holds after an
  // iteration or the deadline passes.
  bool RunUntil(const std::function<bool()>& done, int64_t deadlineNs) override {
    if (done()) return true;
    GMainContext* context = m_views.front()->context();
    bool expired = false;
    const int64_t left = std::max<int64_t>(deadlineNs - NowNs(), 0);
    GSource* timer = g_timeout_source_new(static_cast<guint>((left + 999'999) / 1'000'000));
    g_source_set_callback(
        timer,
        [](gpointer flag) -> gboolean {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer, context);
    bool met = false;
    while (!met) {
      g_main_context_iteration(context, TRUE);
      met = done();
      if (!m_error.empty() || expired || NowNs() >= deadlineNs) break;
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return met;
  }

  int64_t frames(int view) const override { return m_views[view]->changes(); }
  // Every buffer the engine exported, a change or not.
  int64_t buffers() const {
    int64_t all = 0;
    for (const auto& view : m_views) all += view->frames();
    return all;
  }
  int64_t framesAtSize(int view) const override { return m_views[view]->framesAtSize(); }
  void Resize(int view, int width, int height) override { m_views[view]->Resize(width, height); }

  void Evaluate(int view, const std::string& script, uint64_t id) override {
    webkit_web_view_run_javascript(
        m_views[view]->view(), script.c_str(), nullptr,
        [](GObject* source, GAsyncResult* async, gpointer data) {
          std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
          GError* error = nullptr;
          WebKitJavascriptResult* value =
              webkit_web_view_run_javascript_finish(WEBKIT_WEB_VIEW(source), async, &error);
          std::string text;
          if (value == nullptr) {
            text = std::string("!") + (error && error->message ? error->message : "");
            if (error) g_error_free(error);
          } else {
            JSCValue* js = webkit_javascript_result_get_js_value(value);
            gchar* json = jsc_value_is_undefined(js) ? nullptr : jsc_value_to_json(js, 0);
            text = json ? json : "";
            g_free(json);
            webkit_javascript_result_unref(value);
          }
          pending->views->m_results[pending->id] = text;
        },
        new Pending{this, id});
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
    for (const auto& view : m_views) shown.append(" ").append(std::to_string(view->frames()));
    return "not every view showed a frame (frames per view:" + shown + ")";
  }

 private:
  struct Pending {
    RawViews* views;
    uint64_t id;
  };

  const Args& m_args;
  std::vector<std::unique_ptr<RawWpeView>> m_views;
  std::map<uint64_t, std::string> m_results;
  std::string m_error;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<Args> args = bench::StartRun(argc, argv);
  if (!args) return 2;
  Result result("raw", args->workloadName);
  if (!bench::IsViewsWorkload(*args))
    return bench::Fail(result, "quillo-bench-raw-views runs views, resize and eval only");
  RawViews views(*args);
  if (!views.Start() || !bench::MeasureViewsWorkload(*args, views, result))
    return bench::Fail(result, views.WhyNot());
  if (!views.error().empty()) return bench::Fail(result, views.error());
  result.Integer("buffers", views.buffers());
  const int64_t start = NowNs();
  views.Stop();
  result.Number("shutdown_ms", static_cast<double>(NowNs() - start) / 1e6);
  result.Print();
  return 0;
}
