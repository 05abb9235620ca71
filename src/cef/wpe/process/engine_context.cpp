#include "wpe/process/engine_context.h"

#include <dlfcn.h>
#include <wpe/fdo.h>
#include <wpe/unstable/fdo-shm.h>
#include <wpe/wpe.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "wpe/process/downloads.h"
#include "wpe/process/web_process_security.h"

namespace quillo::engine {
namespace {

// Most sources dispatched by one DoWork; keeps one poll short while a page
// floods the loop.
constexpr int kMaxDispatchPerWork = 64;
// Longest single wait of a DoWork while a close waits for its page.
constexpr guint kCloseWaitSliceMs = 100;

// The folder of the loaded object that holds this code, for the web
// extension installed beside it.
std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) == 0 || info.dli_fname == nullptr)
    return {};
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The engine's own memory-release points, as fractions of the limit: caches
// go from half of it on, everything it can give back from three quarters on,
// and a process still at the limit after that is ended. The engine measures
// its processes' memory at most once a second.
constexpr double kReleaseCachesAt = 0.5;
constexpr double kReleaseAllAt = 0.75;
constexpr double kEndAt = 1.0;
constexpr double kMemoryCheckSeconds = 1.0;

// An ephemeral session keeps everything in memory, as CEF does without a
// cache path. (The engine withholds console messages from such sessions, so
// the display handler's console hook stays silent.)
WebKitWebContext* NewWebContext(uint32_t memoryLimitMb) {
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
  WebKitMemoryPressureSettings* memory = nullptr;
  if (memoryLimitMb > 0) {
    memory = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(memory, memoryLimitMb);
    // Each threshold must stay between its neighbours as it is set.
    webkit_memory_pressure_settings_set_strict_threshold(memory, kReleaseAllAt);
    webkit_memory_pressure_settings_set_conservative_threshold(memory, kReleaseCachesAt);
    webkit_memory_pressure_settings_set_kill_threshold(memory, kEndAt);
    webkit_memory_pressure_settings_set_poll_interval(memory, kMemoryCheckSeconds);
  }
  auto* context =
      WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                      "memory-pressure-settings", memory, nullptr));
  if (memory) webkit_memory_pressure_settings_free(memory);
  g_object_unref(data);
  return context;
}

}  // namespace

void RequireUiThread(const char* where) {
  if (EngineContext::Get().OnUiThread()) return;
  std::fprintf(stderr, "quillo: %s runs off the engine's UI thread\n", where);
  std::abort();
}

EngineContext& EngineContext::Get() {
  static EngineContext* context = new EngineContext;  // lives for the process
  return *context;
}

bool EngineContext::Start(uint32_t memoryLimitMb) {
  if (m_started.exchange(true)) return false;

  // The host's environment stays as it is. The web process renders with
  // Mesa's software rasteriser without being told: in shared-memory mode the
  // view backend offers it no GPU buffers (no wl_drm, no dmabuf), so Mesa's
  // Wayland platform falls back to software.
  // Attaches signal the context's wake-up descriptor even from the owning
  // thread, so that the pump watcher, which polls it, learns of them.
  m_mainContext = g_main_context_new_with_flags(G_MAIN_CONTEXT_FLAGS_OWNERLESS_POLLING);
  g_main_context_push_thread_default(m_mainContext);
  m_uiThread = std::this_thread::get_id();

  if (!wpe_loader_init("libWPEBackend-fdo-1.0.so.1") || !wpe_fdo_initialize_shm()) {
    QLOG(u"EngineContext::Start => backend initialisation failed");
    g_main_context_pop_thread_default(m_mainContext);
    g_main_context_unref(m_mainContext);
    m_mainContext = nullptr;
    return false;
  }

  m_webContext = NewWebContext(memoryLimitMb);
  if (memoryLimitMb > 0)
    QLOG(u"EngineContext::Start => web processes are ended above %u MiB", memoryLimitMb);
  webkit_web_context_set_cache_model(m_webContext, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  std::string extensions = OwnDirectory() + "/" QUILLO_WEBEXT_SUBDIR;
  webkit_web_context_set_web_extensions_directory(m_webContext, extensions.c_str());
  SecureWebProcesses(m_webContext, extensions.c_str());
  WatchDownloads(m_webContext);
  m_running.store(true);
  return true;
}

void EngineContext::Stop() {
  if (!m_running.load() || !IsUiThread()) return;
  m_pumpWatcher.Stop();
  m_externalPump = false;
  g_clear_object(&m_webContext);
  // Let the engine finish what the teardown queued.
  for (int i = 0; i < 1000 && g_main_context_iteration(m_mainContext, FALSE); ++i) {
  }
  m_running.store(false);
  m_afterCookies.clear();
  m_closesWaiting = 0;
  m_openViews = 0;
  m_app = nullptr;
  // The context itself stays: a thread that still posts finds a live
  // context whose tasks are never run.
  g_main_context_pop_thread_default(m_mainContext);
}

void EngineContext::PostTask(std::function<void()> task) {
  if (!m_running.load() || !task || m_mainContext == nullptr) return;
  // An idle source of its own, so that a task posted on the UI thread runs
  // later too, never in the middle of its caller.
  auto* heap = new std::function<void()>(std::move(task));
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  g_source_attach(source, m_mainContext);
  g_source_unref(source);
}

void EngineContext::RunOnUi(std::function<void()> task) {
  if (IsUiThread())
    task();
  else
    PostTask(std::move(task));
}

void EngineContext::DoWork() {
  if (!IsUiThread()) return;
  int dispatched = 0;
  while (dispatched < kMaxDispatchPerWork && g_main_context_iteration(m_mainContext, FALSE))
    ++dispatched;
  if (dispatched == 0 && m_closesWaiting > 0) WaitForEvent(kCloseWaitSliceMs);
  if (m_externalPump) m_pumpWatcher.Arm(m_mainContext);
}

void EngineContext::EnableExternalPump(CefRefPtr<CefBrowserProcessHandler> handler) {
  if (!IsUiThread() || m_externalPump || !handler) return;
  m_externalPump = true;
  // Without its thread the watcher asks for a work after every work: no worse than no pump.
  if (!m_pumpWatcher.Start([handler] { handler->OnScheduleMessagePumpWork(0); }))
    QLOG(u"EngineContext::EnableExternalPump => watcher not started");
  handler->OnScheduleMessagePumpWork(0);
}

void EngineContext::WaitForEvent(guint atMostMs) {
  // Each waiting close has its grace timer on this context, so the wait ends
  // anyway; the slice only keeps a bookkeeping slip from blocking for good.
  GSource* slice = g_timeout_source_new(atMostMs);
  g_source_set_callback(
      slice, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
  g_source_attach(slice, m_mainContext);
  g_main_context_iteration(m_mainContext, TRUE);
  g_source_destroy(slice);
  g_source_unref(slice);
}

void EngineContext::UseLanguages(const std::u16string& languages) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_webContext == nullptr || (m_languagesSet && languages == m_languages)) return;
  if (m_languagesSet && m_openViews > 0)
    QLOG(u"EngineContext::UseLanguages => [%s] for the %d open view(s) too", languages.c_str(),
         m_openViews);
  if (languages.empty()) {
    webkit_web_context_set_preferred_languages(m_webContext, nullptr);
  } else {
    std::string list = CefString(languages).ToString();
    gchar** split = g_strsplit(list.c_str(), ",", -1);
    webkit_web_context_set_preferred_languages(m_webContext, split);
    g_strfreev(split);
  }
  m_languagesSet = true;
  m_languages = languages;
}

void EngineContext::EndCookieOperation() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_pendingCookieOps > 0) --m_pendingCookieOps;
  if (m_pendingCookieOps > 0) return;
  auto tasks = std::move(m_afterCookies);
  m_afterCookies.clear();
  for (auto& task : tasks) task();
}

void EngineContext::WhenCookiesSettled(std::function<void()> task) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_pendingCookieOps == 0)
    task();
  else
    m_afterCookies.push_back(std::move(task));
}

}  // namespace quillo::engine
