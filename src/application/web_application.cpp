// CWebApplication: construction, load settings, browser creation, history
// moves and the script-context hooks.
#include "application/web_application.h"

#include "cef_cookie.h"
#include "diagnostics/debug_log.h"
#include "platform/platform.h"
#include "platform/utf.h"
#include "quillo.h"

namespace quillo {

CWebApplication::CWebApplication(const LoadArguments& args) {
  StoreAcceptLanguage(args.acceptLanguage);
  QLOG(u"CWebApplication::CWebApplication client create");
  m_client = new CWebClient(CefRect(args.x, args.y, args.width, args.height), args.pixels, args.url,
                            args.options);
}

CWebApplication::~CWebApplication() = default;

void CWebApplication::StoreAcceptLanguage(const char* text) {
  // At most nine bytes, cut at a character boundary; null counts as empty.
  platform::CopyUtf8Bounded(m_acceptLanguage, sizeof(m_acceptLanguage), text ? text : "");
}

void CWebApplication::LoadWebSetting(const LoadArguments& args) {
  QLOG(u"CWebApplication::LoadWebSetting");
  StoreAcceptLanguage(args.acceptLanguage);
  if (!m_client) {
    QLOG(u"=> client null");
    return;
  }
  if (m_client->GetBrowser()) {
    QLOG(u"=> browser not null");
    return;
  }
  m_client->m_renderBuffer.store(static_cast<uint8_t*>(args.pixels));
  m_client->m_viewRect = CefRect(args.x, args.y, args.width, args.height);
  m_client->SetUrl(args.url);
  m_client->m_loadFlags.store(args.options);
  m_client->ConfigureFrames();
}

void CWebApplication::OnContextInitialized() {
  QLOG(u"CWebApplication::OnContextInitialized");
  if (!m_client) {
    QLOG(u"CWebApplication::OnContextInitialized client null");
  } else if (m_client->GetBrowser()) {
    QLOG(u"CWebApplication::OnContextInitialized client browser exist");
  } else {
    QLOG(u"CWebApplication::OnContextInitialized create browser");
    CreateBrowser();
  }
  m_contextInitialized.store(true);
}

void CWebApplication::OnScheduleMessagePumpWork(int64_t) {
  // Every delay is "soon": the watcher asks only when something is ready or
  // due, and a work that comes early finds nothing and asks again.
  m_pumpWorkScheduled.store(true);
  // While the host polls, the engine thread does the work now; whoever takes
  // the request (here or UpdateWeb) has it done, so one request is one work.
  const int64_t lastPoll = m_lastPollNs.load();
  if (lastPoll == 0 || platform::MonotonicNs() - lastPoll > kPollLeaseNs || !m_wakeEngine ||
      m_client->EndUnheard())
    return;
  if (!m_pumpWorkScheduled.exchange(false)) return;
  m_ownWork.store(true);
  m_wakeEngine();
}

bool CWebApplication::TakeOwnWork() {
  if (!m_ownWork.load() || !m_ownWork.exchange(false)) return false;
  if (!m_client->EndUnheard()) return true;
  m_pumpWorkScheduled.store(true);  // granted before the end: the host's next poll does it
  return false;
}

void CWebApplication::RenewPollLease() {
  m_lastPollNs.store(platform::MonotonicNs());
}

void CWebApplication::CreateBrowser() {
  QLOG(u"CWebApplication::CreateBrowser");
  if (!m_browserWanted.load()) {
    QLOG(u"=> closed by the host meanwhile, not created");
    return;
  }
  if (m_client->HasBrowser()) {
    QLOG(u"=> browser exists already");
    return;
  }
  if (m_client->m_loadFlags.load() & LOAD_DELETE_COOKIES) {
    // Not awaited here; the engine holds the new browser's first load until
    // the deletion has finished.
    CefCookieManager::GetGlobalManager(nullptr)->DeleteCookies(CefString(), CefString(), nullptr);
  }
  CefWindowInfo windowInfo;
  windowInfo.windowless_rendering_enabled = 1;
  windowInfo.transparent_painting_enabled = 0;
  windowInfo.parent_window = nullptr;

  CefBrowserSettings settings;
  settings.universal_access_from_file_urls = STATE_ENABLED;
  settings.file_access_from_file_urls = STATE_ENABLED;
  settings.accept_language_list = CefString(static_cast<const char*>(m_acceptLanguage));

  CefRefPtr<CefBrowser> browser = CefBrowserHost::CreateBrowserSync(
      windowInfo, m_client.get(), m_client->GetHomeUrl(), settings, nullptr);
  m_client->SetBrowser(browser);
  m_client->LoadRequestedUrl();  // a LoadWeb that came while the browser was on its way
}

void CWebApplication::GoBackForwardHome(int direction) {
  QLOG(u"CWebApplication::GoBackForwardHome direction[%d]", direction);
  CefRefPtr<CefBrowser> browser = m_client->GetBrowser();
  if (!browser) {
    QLOG(u"=> browser null");
    return;
  }
  if (direction == 0) {
    browser->GetMainFrame()->LoadURL(m_client->GetHomeUrl());
  } else if (direction == 1) {
    if (browser->CanGoBack()) {
      QLOG(u"=> can go back");
      browser->GoBack();
    } else {
      QLOG(u"=> can't go back");
    }
  } else if (browser->CanGoForward()) {
    QLOG(u"=> can go forward");
    browser->GoForward();
  } else {
    QLOG(u"=> can't go forward");
  }
}

void CWebApplication::OnContextCreated(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                       CefRefPtr<CefV8Context>) {
  ++m_contextCount;
  QLOG(u"CWebApplication::OnContextCreated browser count[%d]", m_contextCount);
}

void CWebApplication::OnContextReleased(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                        CefRefPtr<CefV8Context>) {
  if (--m_contextCount < 0) m_contextCount = 0;
  QLOG(u"CWebApplication::OnContextReleased count[%d]", m_contextCount);
}

void CWebApplication::OnUncaughtException(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                          CefRefPtr<CefV8Context>,
                                          CefRefPtr<CefV8Exception> exception,
                                          CefRefPtr<CefV8StackTrace>) {
  CefString message = exception ? exception->GetMessage() : CefString();
  CefString sourceLine = exception ? exception->GetSourceLine() : CefString();
  QLOG(u"CWebApplication::OnUncaughtException [%s][%s]", message.c_str(), sourceLine.c_str());
}

}  // namespace quillo
