#include "controller/web_controller.h"

#include <cstring>
#include <string_view>

#include "cef_app.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/stage_trace.h"
#include "platform/utf.h"

namespace quillo {
namespace {

constexpr std::u16string_view kLogFileName = u"/tavlo_cef.log";
constexpr std::u16string_view kLocalesDir = u"/locales";

// Copies text into a path buffer; false when it does not fit.
bool CopyPath(char16_t (&dst)[platform::kPathCapacity], std::u16string_view text) {
  if (text.size() >= platform::kPathCapacity) return false;
  std::memcpy(dst, text.data(), text.size() * sizeof(char16_t));
  dst[text.size()] = u'\0';
  return true;
}

}  // namespace

void OpenArguments::Keep(const LoadArguments& args) {
  pixels = args.pixels;
  x = args.x, y = args.y, width = args.width, height = args.height, options = args.options;
  platform::CopyUtf8Bounded(acceptLanguage, sizeof(acceptLanguage),
                            args.acceptLanguage ? args.acceptLanguage : "");
}

bool OpenArguments::SameAs(const LoadArguments& args) const {
  char language[kAcceptLanguageSize];
  platform::CopyUtf8Bounded(language, sizeof(language),
                            args.acceptLanguage ? args.acceptLanguage : "");
  return pixels == args.pixels && x == args.x && y == args.y && width == args.width &&
         height == args.height && options == args.options &&
         std::strcmp(acceptLanguage, language) == 0;
}

CWebController::CWebController() {
  m_threadCef = std::thread(&CWebController::CallLoopCef, this);
}

CWebController::~CWebController() {
  // A host that unloads the library without the final UnloadWeb still gets
  // an orderly stop instead of a terminated process.
  if (m_threadCef.joinable() || m_threadIO.joinable()) UnloadWeb(true);
}

bool CWebController::Release() const {
  if (m_refCount.fetch_sub(1) == 1) {
    delete this;
    return true;
  }
  return false;
}

void CWebController::CheckModuleDirectory() {
  QLOG(u"CWebController::CheckModuleDirectory");
  bool truncated = false;
  const size_t n = platform::ModuleFileName(m_modulePath, platform::kPathCapacity, &truncated);
  QLOG(u"=> module path : %s", m_modulePath);
  std::u16string_view path(m_modulePath, n);
  size_t slash = path.rfind(u'/');
  std::u16string_view directory = path.substr(0, slash == std::u16string_view::npos ? 0 : slash);
  if (truncated || slash == std::u16string_view::npos) {
    // No usable directory: work from the current one rather than a cut path.
    QLOG(u"=> module path unusable, using the working directory");
    directory = u".";
  }
  if (!CopyPath(m_moduleDirectory, directory) ||
      directory.size() + kLogFileName.size() >= platform::kPathCapacity) {
    QLOG(u"=> module directory too long, using the working directory");
    directory = u".";
    CopyPath(m_moduleDirectory, directory);
  }
  QLOG(u"=> module directory : %s", m_moduleDirectory);
  std::u16string logPath(directory);
  logPath.append(kLogFileName);
  CopyPath(m_logFilePath, logPath);
  QLOG(u"=> module log file path : %s", m_logFilePath);
}

void CWebController::FirstLoad(const LoadArguments& args) {
  CheckModuleDirectory();
  CreateLogFile(m_logFilePath);
  QLOG(u"=> module path : %s", m_modulePath);
  QLOG(u"=> module directory : %s", m_moduleDirectory);
  QLOG(u"=> log file path : %s", m_logFilePath);
  if (!m_application) {
    m_application = new CWebApplication(args);
    m_application->SetEngineWaker([this] {
      m_ownWorkAsked.store(true);
      m_cefSlots.Wake();
    });
  }
  m_application->SetBrowserWanted(true);
  m_pageOpen = true;
  m_openArguments.Keep(args);
  StartLoopIO();
  // The browser is created when the engine reports its context initialised.
  PostCommand(CMD_INIT_CEF, 0, 0, 0);
}

void CWebController::LoadWeb(const LoadArguments& args) {
  QLOG(u"CWebController::LoadWeb");
  if (m_stopping.load()) {
    QLOG(u"=> engine shut down, nothing loaded");
    return;
  }
  if (!m_application) {
    QLOG(u"=> application null");
    return;
  }
  QLOG(u"=> application not null");
  CefRefPtr<CWebClient> client = m_application->Client();
  if (m_pageOpen) {
    // The page that exists or is being created keeps what it was opened with; the engine
    // thread loads the URL into it (the latest request wins).
    QLOG(client && client->HasBrowser() ? u"=> browser exist" : u"=> browser on its way");
    if (!m_openArguments.SameAs(args))
      QLOG(
          u"=> the page is open, so only its URL is loaded (memory, rectangle, options and "
          u"language are kept)");
    if (client) client->LoadUrl(args.url);
    m_cefSlots.TryPost(CMD_MESSAGE_LOOP_WORK, 0, 0, 0);  // takes the URL up soon; dropped when full
    return;
  }
  // A close the host asked for and the engine thread has not finished yet: wait for it, so
  // that the new page's memory is not handed over while the old page may still paint.
  while (m_closeRequest.load() == 2 && m_engineAlive.load())
    std::this_thread::sleep_for(kProducerRetrySleep);
  QLOG(u"=> browser not exist");
  OpenPage(args);
}

void CWebController::OpenPage(const LoadArguments& args) {
  // Input left over from the page before is dropped. The engine table is left alone: an engine
  // start still waiting there must run.
  for (int i = 0; i < kSlotCount; ++i) m_ioSlots.Reset(i);
  m_application->LoadWebSetting(args);
  if (CefRefPtr<CWebClient> client = m_application->Client()) client->DropRequestedUrl();
  m_application->SetBrowserWanted(true);
  m_pageOpen = true;
  m_openArguments.Keep(args);
  StartLoopIO();
  PostCommand(CMD_CREATE_BROWSER, 0, 0, 0);
}

void CWebController::UnloadWeb(bool shutdown) {
  QLOG(u"CWebController::UnloadWeb");
  // From here on nothing is written into the host's memory: only UpdateWeb delivers frames,
  // and it finds no memory now, so the host may free it as soon as this call returns.
  if (m_application)
    if (CefRefPtr<CWebClient> client = m_application->Client()) client->StopDelivery();
  if (shutdown) {
    if (m_stopping.exchange(true)) {
      // Another thread shuts down already: this one returns once it is done.
      while (m_engineAlive.load()) std::this_thread::sleep_for(kProducerRetrySleep);
      return;
    }
    StopLoopIO();
    QLOG(u"=> shutdown");
    m_exitRequest.exchange(2);
    m_cefSlots.Wake();
    if (m_threadCef.joinable()) m_threadCef.join();
    m_engineAlive.store(false);
    if (LogFileOpen()) CloseLogFile();
    return;
  }
  if (m_stopping.load()) return;
  StopLoopIO();
  QLOG(u"=> cloase browser");
  // Also stops a browser still on its way: it is not created once unwanted.
  m_pageOpen = false;
  if (m_application) m_application->SetBrowserWanted(false);
  m_closeRequest.exchange(2);
  m_cefSlots.Wake();
}

int CWebController::UpdateWeb(void** text, int* value) {
  if (!m_application) return -1;
  m_application->RenewPollLease();
  const int result = m_application->UpdateWeb(text, value);
  // A work the engine asked for that finds every slot taken is asked for again next time.
  if (result != -1 && !m_stopping.load() && m_application->TakeScheduledPumpWork() &&
      !m_cefSlots.TryPost(CMD_MESSAGE_LOOP_WORK, 0, 0, 0))
    m_application->RescheduleMessagePumpWork();
  return result;
}

void CWebController::InputWeb(int event, int a, int b) {
  // Dropped at once, or after the next failed scan, once the input thread stops.
  m_ioSlots.PostWhile(m_runIO, kProducerRetrySleep, CMD_INPUT, a, b, event);
}

void CWebController::GoBackForwardHome(int direction) {
  // Tagged with the host's load count: the table runs commands in slot order, and a move
  // asked for before a later LoadWeb must not undo that load.
  const CefRefPtr<CWebClient> client = m_application ? m_application->Client() : nullptr;
  const auto generation = static_cast<int32_t>(client ? client->LoadGeneration() : 0);
  PostCommand(CMD_GO_BACK_FORWARD_HOME, generation, 0, direction);
}

void CWebController::PostCommand(int32_t command, int32_t p1, int32_t p2, int32_t p3) {
  // After the final shutdown no thread would ever free a slot, and once it has begun no
  // command is run.
  if (!m_stopping.load() &&
      m_cefSlots.PostWhile(m_engineAlive, kProducerRetrySleep, command, p1, p2, p3))
    return;
  QLOG(u"CWebController::PostCommand => engine shut down, command [%d] dropped", command);
}

void CWebController::StartLoopIO() {
  if (m_runIO.exchange(true)) return;
  m_threadIO = std::thread(&CWebController::CallLoopIO, this);
}

void CWebController::StopLoopIO() {
  m_runIO.exchange(false);
  m_ioSlots.Wake();
  if (m_threadIO.joinable()) m_threadIO.join();
}

// Both loops sleep until there is work instead of looking every millisecond.
// The 1 ms look bounded how long a published command or a request word could
// wait for its thread; a producer that wakes the thread at once meets that
// bound better, and an idle thread costs nothing. A pass that ran something
// still starts the next at once, and the request words are still tested
// before every pass.
void CWebController::CallLoopIO() {
  while (m_runIO.load()) {
    const int ran =
        m_ioSlots.ConsumePass([this](int32_t command, int32_t a, int32_t b, int32_t event) {
          if (command != CMD_INPUT || !m_application) return;
          diagnostics::MarkStage(diagnostics::Stage::kInputTaken);
          m_application->InputWeb(event, a, b);
        });
    if (ran == 0) m_ioSlots.WaitForWork([this] { return !m_runIO.load(); });
  }
  QLOG(u"CWebController::CallLoopIO end");
}

void CWebController::CallLoopCef() {
  for (;;) {
    if (m_exitRequest.load() == 2) {
      _UnloadWeb(true);
      m_exitRequest.exchange(0);
      return;
    }
    if (m_closeRequest.load() == 2) {
      _UnloadWeb(false);
      m_closeRequest.exchange(0);
      continue;  // no slot is visited in the iteration that closed the browser
    }
    int ran = m_cefSlots.ConsumePass([this](int32_t command, int32_t p1, int32_t, int32_t p3) {
      RunEngineCommand(command, p1, p3);
    });
    // A work the engine asked for between the host's polls.
    // (The flag, raised only once the engine runs, orders the read of m_application after the
    // host's thread wrote it.)
    if (m_ownWorkAsked.load() && m_ownWorkAsked.exchange(false) && m_application &&
        m_application->TakeOwnWork()) {
      RunEngineCommand(CMD_MESSAGE_LOOP_WORK, 0, 0);
      ++ran;
    }
    if (ran == 0)
      m_cefSlots.WaitForWork([this] {
        return m_exitRequest.load() == 2 || m_closeRequest.load() == 2 || m_ownWorkAsked.load();
      });
  }
}

void CWebController::RunEngineCommand(int32_t command, int32_t p1, int32_t p3) {
  switch (command) {
    case CMD_INIT_CEF:
      InitCef();
      break;
    case CMD_CREATE_BROWSER:
      _LoadWeb();
      break;
    case CMD_MESSAGE_LOOP_WORK:
      if (m_application)
        if (CefRefPtr<CWebClient> client = m_application->Client()) client->LoadRequestedUrl();
      CefDoMessageLoopWork();
      break;
    case CMD_GO_BACK_FORWARD_HOME:
      if (!m_application) break;
      if (CefRefPtr<CWebClient> client = m_application->Client();
          client && static_cast<int32_t>(client->LoadGeneration()) != p1) {
        QLOG(u"CWebController::GoBackForwardHome => dropped, a later LoadWeb came first");
        break;
      }
      m_application->GoBackForwardHome(p3);
      break;
    default:
      break;  // not an engine command: freed without effect
  }
}

void CWebController::InitCef() {
  CefMainArgs mainArgs;
  CefSettings settings;
  std::u16string directory(m_moduleDirectory);
  QLOG(u"module path : %s", m_modulePath);
  settings.resources_dir_path = CefString(directory);
  QLOG(u"resources_dir_path path : %s", settings.resources_dir_path.c_str());
  settings.locales_dir_path = CefString(directory + std::u16string(kLocalesDir));
  QLOG(u"locales_dir_path path : %s", settings.locales_dir_path.c_str());
  settings.single_process = 1;
  settings.multi_threaded_message_loop = 0;
  settings.windowless_rendering_enabled = 1;
  // The engine says when it has work; UpdateWeb posts a message-loop work only then, so an
  // idle page does not wake the engine thread on every poll.
  settings.external_message_pump = 1;
  settings.web_process_memory_limit_mb = platform::WebProcessMemoryLimitMb();
  QLOG(u"CWebController::InitCef => web process memory limit [%u] MiB (0: none)",
       settings.web_process_memory_limit_mb);
  // During this call the application's OnContextInitialized creates the browser.
  CefInitialize(mainArgs, settings, m_application.get(), nullptr);
}

void CWebController::_LoadWeb() {
  QLOG(u"CWebController::_LoadWeb");
  if (!m_application) return;
  if (!m_application->ContextInitialized()) {
    // The engine start still to come creates the browser with these settings.
    QLOG(u"=> engine not started yet, the browser comes with it");
    return;
  }
  QLOG(u"=> CreateBrowser");
  m_application->CreateBrowser();
}

void CWebController::_UnloadWeb(bool shutdown) {
  QLOG(u"CWebController::_UnloadWeb");
  if (!m_application) {
    QLOG(u"==> m_application null");
    return;
  }
  CefRefPtr<CWebClient> client = m_application->Client();
  if (client) {
    // Paints stop here, whether or not a browser exists yet (the host's thread has taken the
    // memory away already).
    client->m_renderBuffer.store(nullptr);
    if (CefRefPtr<CefBrowser> browser = client->GetBrowser())
      browser->GetHost()->CloseBrowser(shutdown);
  }
  // The client drops its browser in OnBeforeClose. Before the engine has started there is
  // nothing to pump.
  if (m_application->ContextInitialized()) {
    do {
      CefDoMessageLoopWork();
    } while (client && client->GetBrowser());
  }
  QLOG(u"=> shutdown possible");
  if (shutdown) {
    QLOG(u"==> shutdown");
    CefShutdown();
  }
}

}  // namespace quillo
