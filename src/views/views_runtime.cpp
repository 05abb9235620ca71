#include "views/views_runtime.h"

#include "diagnostics/debug_log.h"
#include "platform/engine_owner.h"
#include "platform/platform.h"
#include "platform/utf.h"
#include "views/view_client.h"

namespace quillo::views {
namespace {

// A view whose notices the host leaves unread gets no new frames past this many waiting
// notices: its frames wait (none is lost or merged), and its memory grows no further.
constexpr size_t kMaxWaitingNotices = 4096;
// A request without the host's first answer for this long gets a log line.
constexpr std::chrono::seconds kLongWait{30};

std::atomic<bool> g_forked{false};

// Kept until the process ends; shuts the engine down in order when the library goes.
struct RuntimeHolder {
  ViewsRuntime* runtime = nullptr;
  ~RuntimeHolder() {
    if (runtime == nullptr || g_forked.load()) return;  // a child's threads are not its own
    if (ViewsRuntime::Forked()) return;
    runtime->Shutdown();
  }
} g_holder;

void OpenLogBesideLibrary() {
  if (LogFileOpen()) return;
  char16_t path[platform::kPathCapacity] = {};
  bool truncated = false;
  const size_t n = platform::ModuleFileName(path, platform::kPathCapacity, &truncated);
  const std::u16string_view library(path, n);
  const size_t slash = library.rfind(u'/');
  const std::u16string_view folder =
      truncated || slash == std::u16string_view::npos ? u"." : library.substr(0, slash);
  std::u16string file(folder);
  file.append(u"/tavlo_cef.log");
  if (file.size() < platform::kPathCapacity) CreateLogFile(file.c_str());
}

}  // namespace

ViewsRuntime& ViewsRuntime::Get() {
  if (g_holder.runtime == nullptr) g_holder.runtime = new ViewsRuntime;
  return *g_holder.runtime;
}

ViewsRuntime::~ViewsRuntime() = default;

void ViewsRuntime::OnForkedChild() {
  g_forked.store(true);
}

bool ViewsRuntime::Forked() {
  return g_forked.load();
}

int ViewsRuntime::Enter(const char16_t* name) {
  if (g_forked.load()) return QUILLO_ERROR_FORKED;
  if (m_phase.load() == static_cast<int>(Phase::kShutDown)) {
    QLOG(u"%s => QUILLO_ERROR_SHUT_DOWN: the views engine has shut down", name);
    return QUILLO_ERROR_SHUT_DOWN;
  }
  const std::thread::id self = std::this_thread::get_id();
  std::thread::id host{};
  if (!m_hostThread.compare_exchange_strong(host, self) && host != self) {
    QLOG(u"%s => QUILLO_ERROR_WRONG_THREAD: called from a thread that is not the host's", name);
    return QUILLO_ERROR_WRONG_THREAD;
  }
  m_call = name;
  return QUILLO_OK;
}

int ViewsRuntime::Refuse(int result, const std::string& why) {
  if (Configuration::GetInstance()->DebugEnabled()) {
    const std::u16string text = platform::Utf8ToUtf16(why);
    DebugLog(u"%s => %s: %s", m_call, platform::Utf8ToUtf16(quillo_result_text(result)).c_str(),
             text.c_str());
  }
  return result;
}

int ViewsRuntime::Find(quillo_view* handle, HostView** view) {
  *view = m_views.Find(reinterpret_cast<uintptr_t>(handle));
  if (*view != nullptr) return QUILLO_OK;
  return Refuse(QUILLO_ERROR_BAD_HANDLE,
                handle == nullptr ? "the view handle is null"
                                  : "not a live view's handle (destroyed, or never one)");
}

int ViewsRuntime::StartEngine() {
  if (m_engine) {
    if (m_engine->GetState() == ViewsEngine::State::kFailed)
      return Refuse(QUILLO_ERROR_SHUT_DOWN, "the engine could not start");
    return QUILLO_OK;
  }
  if (!platform::ClaimEngine(platform::EngineOwner::kViews))
    return Refuse(QUILLO_ERROR_ENGINE_IN_USE,
                  "LoadWeb started this process's engine; the views cannot share it");
  OpenLogBesideLibrary();
  if (!platform::KeepModuleLoaded())
    QLOG(u"%s => the library could not be kept loaded; do not dlclose it", m_call);
  platform::WatchForks(&ViewsRuntime::OnForkedChild);
  m_engine = new ViewsEngine;
  m_engine->Start();
  for (const std::string& scheme : m_schemes)
    m_engine->Post([scheme](ViewsEngine& engine) { engine.RegisterScheme(scheme); });
  m_phase.store(static_cast<int>(Phase::kRunning));
  return QUILLO_OK;
}

int ViewsRuntime::Create(const quillo_view_config* config, const std::string& url,
                         quillo_view** out) {
  if (out == nullptr) return Refuse(QUILLO_ERROR_NULL_ARGUMENT, "the view pointer is null");
  *out = nullptr;
  ViewSettings settings;
  std::string why;
  if (int r = ReadViewConfig(config, &settings, &why); r != QUILLO_OK) return Refuse(r, why);
  if (!CssSizeFits(settings.memory, settings.scale, &why))
    return Refuse(QUILLO_ERROR_BAD_SIZE, why);
  if (m_views.Count() >= QUILLO_MAX_VIEWS)
    return Refuse(QUILLO_ERROR_LIMIT, std::to_string(QUILLO_MAX_VIEWS) + " views exist already");
  auto frames = std::make_shared<ViewFrames>(settings.memory, settings.rgba, settings.bottomUp,
                                             settings.scale);
  if (!frames->ok) return Refuse(QUILLO_ERROR_NO_MEMORY, "no memory for the view's frames");
  if (int r = StartEngine(); r != QUILLO_OK) return r;
  const uint64_t handle =
      m_views.Add([&](uint64_t h) { return std::make_unique<HostView>(h, settings, frames); });
  if (handle == 0) return Refuse(QUILLO_ERROR_LIMIT, "no free view slot");
  const std::string start = url.empty() ? "about:blank" : url;
  m_engine->Post([handle, settings, frames, start](ViewsEngine& engine) {
    CefRefPtr<ViewClient> client = new ViewClient(engine, handle, settings, frames);
    engine.Adopt(handle, client);
    if (!client->Create(start)) engine.Forget(handle);
  });
  *out = reinterpret_cast<quillo_view*>(static_cast<uintptr_t>(handle));
  QLOG(u"%s => view [0x%x] %dx%d", m_call, static_cast<unsigned>(handle & 0xFFFFFF),
       settings.memory.width, settings.memory.height);
  return QUILLO_OK;
}

int ViewsRuntime::Resize(HostView& view, int width, int height, void* pixels, size_t stride,
                         double scale) {
  Memory memory;
  std::string why;
  if (int r = CheckMemory(width, height, pixels, stride, &memory, &why); r != QUILLO_OK)
    return Refuse(r, why);
  if (!CssSizeFits(memory, scale, &why)) return Refuse(QUILLO_ERROR_BAD_SIZE, why);
  const ViewSettings& settings = view.Settings();
  auto frames = std::make_shared<ViewFrames>(memory, settings.rgba, settings.bottomUp, scale);
  if (!frames->ok) return Refuse(QUILLO_ERROR_NO_MEMORY, "no memory for the view's frames");
  view.MutableSettings().scale = scale;
  view.Resize(memory, frames);
  Post(view, [frames](ViewClient& client) { client.Resize(frames); });
  return QUILLO_OK;
}

int ViewsRuntime::Destroy(quillo_view* handle) {
  HostView* view = nullptr;
  if (int r = Find(handle, &view); r != QUILLO_OK) return r;
  const uint64_t key = view->Handle();
  // The host's side goes now: its memory is never written again, its notices are gone.
  m_views.Remove(key);
  m_engine->Post([key](ViewsEngine& engine) {
    if (ViewClient* client = engine.Find(key)) client->Close();
  });
  return QUILLO_OK;
}

void ViewsRuntime::Post(const HostView& view, std::function<void(ViewClient&)> fn) {
  m_engine->Post([key = view.Handle(), fn = std::move(fn)](ViewsEngine& engine) {
    if (ViewClient* client = engine.Find(key)) fn(*client);
  });
}

int ViewsRuntime::Pump() {
  if (!m_engine) return QUILLO_OK;
  if (m_engine->GetState() == ViewsEngine::State::kFailed)
    return Refuse(QUILLO_ERROR_SHUT_DOWN, "the engine could not start");
  m_engine->Pump();
  ViewEvent event;
  const auto takeEvents = [&] {
    while (m_engine->TakeEvent(&event))
      if (HostView* view = m_views.Find(event.view)) view->Receive(std::move(event));
  };
  takeEvents();
  const auto now = std::chrono::steady_clock::now();
  const bool checkWaits = now - m_lastWaitCheck >= std::chrono::seconds(1);
  if (checkWaits) m_lastWaitCheck = now;
  m_views.ForEach([&](uint64_t, HostView& view) {
    if (checkWaits) view.LogLongWaits(now - kLongWait);
    if (view.PendingNotices() >= kMaxWaitingNotices) {
      if (!m_stallLogged)
        QLOG(u"quillo_pump => a view has %d notices unread: its frames wait",
             static_cast<int>(view.PendingNotices()));
      m_stallLogged = true;
      return;
    }
    view.Deliver();
    if (const int attempt = view.TakeDueReload(now))
      Post(view, [attempt](ViewClient& client) { client.AutoReload(attempt); });
  });
  // What the engine said while the frames were copied: a page's word that it is ready goes
  // with the frame it names, in this pump.
  takeEvents();
  return QUILLO_OK;
}

int ViewsRuntime::RegisterScheme(const std::string& scheme) {
  static const char* const kWebSchemes[] = {"http", "https", "file", "data", "about",
                                            "blob", "ws",    "wss",  "ftp",  "javascript"};
  bool valid = !scheme.empty() && scheme.size() <= 32 && scheme[0] >= 'a' && scheme[0] <= 'z';
  for (char c : scheme)
    valid = valid &&
            ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
  for (const char* web : kWebSchemes) valid = valid && scheme != web;
  if (!valid)
    return Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                  "the scheme must be 1 to 32 of a-z, 0-9, '+', '-', '.', starting with a letter, "
                  "and not one of the web's own");
  if (m_schemes.count(scheme)) return QUILLO_OK;
  if (m_schemes.size() >= QUILLO_MAX_SCHEMES)
    return Refuse(QUILLO_ERROR_LIMIT,
                  std::to_string(QUILLO_MAX_SCHEMES) + " schemes exist already");
  m_schemes.insert(scheme);
  if (m_engine) m_engine->Post([scheme](ViewsEngine& engine) { engine.RegisterScheme(scheme); });
  return QUILLO_OK;
}

int ViewsRuntime::Shutdown() {
  QLOG(u"quillo_shutdown");
  m_phase.store(static_cast<int>(Phase::kShutDown));
  for (uint64_t handle : m_views.Handles()) m_views.Remove(handle);
  if (m_engine) m_engine->Stop();  // closes every browser first
  return QUILLO_OK;
}

}  // namespace quillo::views
