// quillo-soak-raw: the soak's navigations (support/soak_plan.h) on WPE WebKit driven directly,
// without the library, so that the web process's memory slope can be set beside the library's.
// Each part of what the library adds to the engine can be added back one at a time:
//
//   --seconds N          length (600); the first fifth is the warm-up, left out of the slopes
//   --seed S             the sequence (1, as the library's soak)
//   --samples FILE       every sample as comma-separated values
//   --corpus-only        documentation pages only (one site: one web process throughout)
//   --extension DIR      load the library's web-process extension from DIR
//   --memory-limit MB    the library's memory-pressure settings for a limit of MB
//   --cache-model M      viewer (the default, as the library), browser or web
//   --quillo-settings    the view settings the library gives its own views
//
// Prints one "soak:" line with the slopes, as the library's soak does.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "raw_wpe_view.h"
#include "support/http_server.h"
#include "support/processes.h"
#include "support/soak_plan.h"

namespace {

using namespace quillo_test;
using Clock = std::chrono::steady_clock;

struct Options {
  long seconds = 600;
  unsigned seed = 1;
  std::string samples;
  std::string extension;
  unsigned memoryLimitMb = 0;
  WebKitCacheModel cacheModel = WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER;
  bool quilloSettings = false;
  bool corpusOnly = false;
};

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--quillo-settings") {
      options.quilloSettings = true;
      continue;
    }
    if (name == "--corpus-only") {
      options.corpusOnly = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (name == "--seconds") {
      options.seconds = std::atol(value.c_str());
    } else if (name == "--seed") {
      options.seed = static_cast<unsigned>(std::atol(value.c_str()));
    } else if (name == "--samples") {
      options.samples = value;
    } else if (name == "--extension") {
      options.extension = value;
    } else if (name == "--memory-limit") {
      options.memoryLimitMb = static_cast<unsigned>(std::atol(value.c_str()));
    } else if (name == "--cache-model") {
      if (value == "viewer")
        options.cacheModel = WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER;
      else if (value == "browser")
        options.cacheModel = WEBKIT_CACHE_MODEL_WEB_BROWSER;
      else if (value == "web")
        options.cacheModel = WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER;
      else
        return false;
    } else {
      return false;
    }
  }
  return options.seconds > 0;
}

// The web context as the options make it: ephemeral, as the library's.
WebKitWebContext* NewWebContext(const Options& options) {
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
  WebKitMemoryPressureSettings* memory = nullptr;
  if (options.memoryLimitMb > 0) {
    // The library's fractions of the limit.
    memory = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(memory, options.memoryLimitMb);
    webkit_memory_pressure_settings_set_strict_threshold(memory, 0.75);
    webkit_memory_pressure_settings_set_conservative_threshold(memory, 0.5);
    webkit_memory_pressure_settings_set_kill_threshold(memory, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(memory, 1.0);
  }
  auto* context =
      WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                      "memory-pressure-settings", memory, nullptr));
  if (memory) webkit_memory_pressure_settings_free(memory);
  g_object_unref(data);
  webkit_web_context_set_cache_model(context, options.cacheModel);
  if (!options.extension.empty()) {
    webkit_web_context_set_web_extensions_directory(context, options.extension.c_str());
    // The extension's initialisation data: this process's id and no schemes of the host's.
    webkit_web_context_set_web_extensions_initialization_user_data(
        context,
        g_variant_new("(i@as)", static_cast<gint32>(getpid()), g_variant_new_strv(nullptr, 0)));
  }
  return context;
}

// Runs the engine's main context until `until`, as the library's engine thread does.
void RunUntil(GMainContext* context, Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  if (left.count() <= 0) return;
  bool due = false;
  GSource* timer = g_timeout_source_new(static_cast<guint>(left.count()));
  g_source_set_callback(
      timer,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &due, nullptr);
  g_source_attach(timer, context);
  while (!due) g_main_context_iteration(context, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(
        stderr,
        "usage: %s [--seconds N] [--seed S] [--samples FILE] [--corpus-only] [--extension DIR] "
        "[--memory-limit MB] [--cache-model viewer|browser|web] [--quillo-settings]\n",
        argv[0]);
    return 2;
  }
  const std::filesystem::path corpus = DocumentationCorpus();
  const std::vector<std::string> pages =
      corpus.empty() ? std::vector<std::string>() : CorpusPages(corpus);
  if (pages.size() < 50) {
    std::fprintf(stderr, "quillo-soak-raw: python3-doc is not installed\n");
    return 77;
  }
  char folder[] = "/tmp/quillo-soak-raw.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::filesystem::path video = std::filesystem::path(folder) / "soak.webm";
  if (!EncodeSoakVideo(video)) {
    std::fprintf(stderr, "quillo-soak-raw: gst-launch-1.0 could not encode WebM\n");
    return 1;
  }
  HttpServer server;
  if (!server.ok()) {
    std::fprintf(stderr, "quillo-soak-raw: %s\n", server.error().c_str());
    return 1;
  }
  {
    std::ifstream in(video, std::ios::binary);
    server.Serve("/soak.webm", {200,
                                {{"Content-Type", "video/webm"}},
                                std::string(std::istreambuf_iterator<char>(in), {})});
  }
  std::filesystem::remove_all(folder);
  server.Serve("/video", HtmlResponse(kSoakVideoPage));
  server.Serve("/canvas", HtmlResponse(kSoakCanvasPage));
  std::ofstream samplesFile;
  if (!options.samples.empty()) {
    samplesFile.open(options.samples);
    samplesFile << SoakSampleHeader() << "\n";
  }

  RawWpeView::Setup setup;
  setup.width = 1024;
  setup.height = 768;
  setup.fpsCap = 60;  // the library paces its frames at 60 a second
  setup.quilloViewSettings = options.quilloSettings;
  setup.newWebContext = [&options] { return NewWebContext(options); };
  RawWpeView view(setup);
  std::string error;
  if (!view.Start(&error)) {
    std::fprintf(stderr, "quillo-soak-raw: %s\n", error.c_str());
    return 1;
  }
  long titles = 0, ended = 0;
  g_signal_connect(view.view(), "notify::title",
                   G_CALLBACK(+[](GObject*, GParamSpec*, long* n) { ++*n; }), &titles);
  g_signal_connect(
      view.view(), "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, long* n) { ++*n; }),
      &ended);

  SoakPlan plan(options.seed, pages.size(), options.corpusOnly);
  webkit_web_view_load_uri(view.view(), pages[plan.FirstPage()].c_str());
  RunUntil(view.context(), Clock::now() + std::chrono::seconds(3));

  const auto length = std::chrono::seconds(options.seconds);
  const auto warmUp = length / 5;
  const auto sampleEvery = std::max<Clock::duration>(std::chrono::seconds(1), length / 600);
  const auto start = Clock::now();
  auto nextSample = start;
  std::vector<SoakSample> samples;
  long navigations = 0, unfinished = 0;
  while (Clock::now() - start < length) {
    const long titlesBefore = titles;
    const SoakStep step = plan.Next();
    WebKitWebView* web = view.view();
    switch (step.kind) {
      case SoakStep::kCorpusPage:
        webkit_web_view_load_uri(web, pages[step.page].c_str());
        break;
      case SoakStep::kVideo:
        webkit_web_view_load_uri(web, server.Url("/video").c_str());
        break;
      case SoakStep::kCanvas:
        webkit_web_view_load_uri(web, server.Url("/canvas").c_str());
        break;
      case SoakStep::kReload:
        // As the library's host reloads: a script in the page.
        webkit_web_view_run_javascript(web, "location.reload()", nullptr, nullptr, nullptr);
        break;
      case SoakStep::kBack:
        if (webkit_web_view_can_go_back(web)) webkit_web_view_go_back(web);
        break;
      case SoakStep::kForward:
        if (webkit_web_view_can_go_forward(web)) webkit_web_view_go_forward(web);
        break;
    }
    ++navigations;
    RunUntil(view.context(), Clock::now() + step.dwell);
    unfinished += step.Loads() && titles == titlesBefore;
    const auto now = Clock::now();
    if (now >= nextSample) {
      nextSample = now + sampleEvery;
      const std::set<pid_t> webProcesses = Children("WPEWebProcess");
      SoakSample sample{std::chrono::duration<double, std::ratio<3600>>(now - start).count(),
                        navigations, ResidentOf(getpid()), ResidentOf(webProcesses),
                        webProcesses.size()};
      if (samplesFile.is_open()) samplesFile << SoakSampleLine(sample, webProcesses) << std::endl;
      if (now - start >= warmUp) samples.push_back(sample);
    }
  }
  auto mib = [](long kib) { return kib / 1024.0; };
  if (samples.empty()) return 1;
  std::printf(
      "soak: raw engine%s%s%s; navigations %ld in %ld s (%ld still loading at the next, %ld web "
      "process ends); host resident %.0f MiB after warm-up, %.0f MiB at the end, slope %+.1f "
      "MiB/h; web process resident %.0f MiB, %.0f MiB, slope %+.1f MiB/h (anonymous %+.1f "
      "MiB/h, %+.1f KiB a navigation; %zu web processes at the end)\n",
      options.extension.empty() ? "" : " with the library's extension",
      options.memoryLimitMb ? " and memory limit" : "",
      options.corpusOnly ? ", documentation only" : "", navigations, options.seconds, unfinished,
      ended, mib(samples.front().host.total), mib(samples.back().host.total),
      SlopePerHour(samples, [](const SoakSample& s) { return s.host.total / 1024.0; }),
      mib(samples.front().web.total), mib(samples.back().web.total),
      SlopePerHour(samples, [](const SoakSample& s) { return s.web.total / 1024.0; }),
      SlopePerHour(samples, [](const SoakSample& s) { return s.web.anonymous / 1024.0; }),
      SlopePerNavigation(samples, [](const SoakSample& s) { return double(s.web.total); }),
      samples.back().webProcesses);
  view.Stop();
  return 0;
}
