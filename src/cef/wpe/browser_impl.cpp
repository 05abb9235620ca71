#include "wpe/browser_impl.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "diagnostics/debug_log.h"
#include "wpe/process/engine_context.h"

namespace quillo::engine {
namespace {

cef_termination_status_t TerminationStatusOf(WebKitWebProcessTerminationReason reason) {
  switch (reason) {
    case WEBKIT_WEB_PROCESS_CRASHED:
      return TS_PROCESS_CRASHED;
    case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
      return TS_PROCESS_OOM;
    case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
      return TS_PROCESS_WAS_KILLED;
    default:
      return TS_ABNORMAL_TERMINATION;
  }
}

// Sides beyond this (in view pixels, and in device pixels) would ask the web process for
// buffers of gigabytes.
constexpr int kMaxViewSide = 16384;
constexpr double kMinScale = 0.25, kMaxScale = 8.0;

}  // namespace

BrowserImpl::Geometry BrowserImpl::AskGeometry(CefClient& client, CefBrowser* browser) {
  CefRect rect;
  CefScreenInfo screen;
  CefRefPtr<CefRenderHandler> render = client.GetRenderHandler();
  if (render) {
    render->GetViewRect(browser, rect);
    if (!render->GetScreenInfo(browser, screen)) screen.device_scale_factor = 1.0f;
  }
  Geometry g;
  g.scale = std::isfinite(screen.device_scale_factor)
                ? std::clamp<double>(screen.device_scale_factor, kMinScale, kMaxScale)
                : 1.0;
  // Neither the view nor its buffers beyond the largest side.
  const int most = std::min(kMaxViewSide, static_cast<int>(kMaxViewSide / g.scale));
  g.width = std::clamp(rect.width, 1, most);
  g.height = std::clamp(rect.height, 1, most);
  if (g.width != rect.width || g.height != rect.height || g.scale != screen.device_scale_factor)
    QLOG(u"BrowserImpl => view size %dx%d laid out as %dx%d", rect.width, rect.height, g.width,
         g.height);
  return g;
}

CefRefPtr<BrowserImpl> BrowserImpl::Create(CefRefPtr<CefClient> client,
                                           const CefWindowInfo& windowInfo,
                                           const CefBrowserSettings& settings,
                                           const CefString& url) {
  EngineContext& engine = EngineContext::Get();
  if (!engine.IsUiThread() || !client) return nullptr;
  const Geometry geometry = AskGeometry(*client, nullptr);
  CefRefPtr<BrowserImpl> browser =
      new BrowserImpl(client, settings, windowInfo.transparent_painting_enabled != 0, geometry);
  if (!browser->CreateView()) return nullptr;
  if (CefRefPtr<CefLifeSpanHandler> life = client->GetLifeSpanHandler())
    life->OnAfterCreated(browser.get());
  // The first load waits for cookie deletions asked for before creation.
  std::u16string start = url.ToString16();
  engine.WhenCookiesSettled([browser, start] { browser->StartLoad(start); });
  return browser;
}

BrowserImpl::BrowserImpl(CefRefPtr<CefClient> client, const CefBrowserSettings& settings,
                         bool transparent, const Geometry& geometry)
    : m_id(EngineContext::Get().NextBrowserId()),
      m_client(client),
      m_mainFrame(new FrameImpl(static_cast<FrameOwner*>(this), true, 1)),
      m_host(
          *this, settings, transparent, [this] { DestroyView(); },
          [this](WebKitWebProcessTerminationReason reason) { WebProcessGone(reason); }),
      m_frames(*this, geometry.width, geometry.height, geometry.scale,
               settings.windowless_frame_rate),
      m_popup(*this, geometry.width, geometry.height, geometry.scale),
      m_input(*this, m_popup),
      m_composition(*this, m_input),
      m_clipboard(*this),
      m_touch(*this),
      m_audio(*this),
      m_dialogs(*this, [this] { return m_navigation.Leaving(); }),
      m_channel(*this),
      m_messages(*this, settings.page_message_function.ToString()),
      m_watch(*this),
      m_navigation(*this) {}

BrowserImpl::~BrowserImpl() {
  m_mainFrame->Detach();
}

bool BrowserImpl::CreateView() {
  QUILLO_REQUIRE_UI_THREAD();
  m_frames.OnFirstFrame([this] { m_input.FrameShown(true); });
  m_watch.OnPainted([this] { m_frames.EndHold(); });
  if (!m_host.Create(m_frames)) return false;
  WebKitWebView* view = m_host.View();
  m_input.Attach(view);
  m_composition.Attach(view);
  m_clipboard.Attach(view);
  m_touch.Attach(view);
  m_audio.Attach(view);
  m_popup.Attach(view);
  m_dialogs.Attach(view);
  m_channel.Attach(view);
  m_messages.Attach(view);
  m_watch.Attach(view);
  m_navigation.Attach(view);
  m_host.Attach();
  // The scale, which the backend cannot be made with, before the first layout.
  UpdateGeometry();
  return true;
}

void BrowserImpl::UpdateGeometry() {
  QUILLO_REQUIRE_UI_THREAD();
  const Geometry g = AskGeometry(*m_client, this);
  m_frames.SetGeometry(g.width, g.height, g.scale);
  m_popup.SetGeometry(g.width, g.height, g.scale);
}

void BrowserImpl::WasResized() {
  Post([this] { UpdateGeometry(); });
}

void BrowserImpl::NotifyScreenInfoChanged() {
  Post([this] { UpdateGeometry(); });
}

void BrowserImpl::Post(std::function<void()> task) {
  CefRefPtr<BrowserImpl> self(this);
  EngineContext::Get().PostTask([self, task = std::move(task)] {
    if (!self->m_viewDestroyed) task();
  });
}

void BrowserImpl::StartLoad(const std::u16string& url) {
  QUILLO_REQUIRE_UI_THREAD();
  m_navigation.Load(url);
}

void BrowserImpl::LoadUrlInMainFrame(const CefString& url) {
  std::u16string target = url.ToString16();
  // The load handler's error page for the end of the web process gives way to a load or
  // history move asked for after the end, or asked for again because of it.
  const bool crashPage = EngineContext::Get().IsUiThread() && m_reportingCrash;
  // After the first load, which may still wait for cookie deletions: a later
  // load must not be overtaken by it.
  Post([this, target, crashPage] {
    CefRefPtr<BrowserImpl> self(this);
    EngineContext::Get().WhenCookiesSettled([self, target, crashPage] {
      if (crashPage && self->m_navigation.AskedSinceCrash()) {
        QLOG(u"BrowserImpl => the error page of the ended web process gives way to a later load");
        return;
      }
      self->StartLoad(target);
    });
  });
}

void BrowserImpl::LoadUrlInSubframe(const CefString& frameUrl, const CefString& url) {
  std::string failed = frameUrl.ToString();
  std::string next = url.ToString();
  Post([this, failed, next] { m_channel.ReplaceSubframe(failed, next); });
}

void BrowserImpl::EvaluateInMainFrame(const CefString& code,
                                      CefRefPtr<CefEvaluateCallback> callback) {
  std::string script = code.ToString();
  CefRefPtr<BrowserImpl> self(this);
  // Answered even when the view has gone meanwhile.
  EngineContext::Get().PostTask([self, script, callback] {
    if (self->m_viewDestroyed)
      callback->OnResult(false, CefString("the page is gone"));
    else
      self->m_channel.Evaluate(script, callback);
  });
}

void BrowserImpl::SetZoomLevel(double zoomLevel) {
  Post([this, zoomLevel] { webkit_web_view_set_zoom_level(View(), std::pow(1.2, zoomLevel)); });
}

void BrowserImpl::SetWindowlessFrameRate(int frame_rate) {
  Post([this, frame_rate] { m_frames.SetFrameRate(std::clamp(frame_rate, 1, 240)); });
}

void BrowserImpl::SetUserAgent(const CefString& user_agent) {
  std::string agent = user_agent.ToString();
  Post([this, agent] { m_host.SetUserAgent(agent); });
}

void BrowserImpl::ReplyToPageMessage(int64 message_id, bool success, const CefString& text) {
  std::string answer = text.ToString();
  Post([this, message_id, success, answer] { m_messages.Reply(message_id, success, answer); });
}

void BrowserImpl::RunScriptInMainFrame(const CefString& code) {
  std::string script = code.ToString();
  Post([this, script] { m_channel.RunScript(script); });
}

bool BrowserImpl::IsSame(CefRefPtr<CefBrowser> that) {
  return that && that->GetIdentifier() == m_id;
}

void BrowserImpl::GoBack() {
  Post([this] { m_navigation.GoBack(); });
}

void BrowserImpl::GoForward() {
  Post([this] { m_navigation.GoForward(); });
}

void BrowserImpl::Reload() {
  Post([this] { m_navigation.Reload(); });
}

void BrowserImpl::StopLoad() {
  Post([this] { m_navigation.Stop(); });
}

void BrowserImpl::CloseBrowser(bool force_close) {
  // A forced close on the engine's own thread (the final shutdown) goes at once, ahead of
  // whatever work is queued: the work for the view then finds it gone.
  if (force_close && EngineContext::Get().IsUiThread()) {
    CefRefPtr<BrowserImpl> self(this);
    DestroyView();
    return;
  }
  Post([this, force_close] {
    if (force_close)
      DestroyView();
    else
      m_host.TryClose();
  });
}

void BrowserImpl::DestroyView() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_viewDestroyed) return;
  m_viewDestroyed = true;
  m_host.EndClose();
  m_navigation.DisarmGuard();
  m_frames.StopPacing();
  // A page that waits for a dialog answer must not outlive the view.
  m_dialogs.CancelAll();
  m_popup.Drop();
  WebKitWebView* view = m_host.View();
  m_input.Detach(view);
  m_composition.Detach(view);
  m_clipboard.Detach(view);
  m_touch.Detach(view);
  m_audio.Detach(view);
  m_popup.Detach(view);
  m_dialogs.Detach(view);
  m_channel.Detach(view);
  m_messages.Detach(view);
  m_watch.Detach(view);
  m_navigation.Detach(view);
  m_host.Detach();
  m_frames.ReleaseHeldBuffer();
  m_host.Destroy();
  m_state.isLoading.store(false);
  CefRefPtr<BrowserImpl> self(this);
  EngineContext::Get().PostTask([self] {
    if (CefRefPtr<CefLifeSpanHandler> life = self->m_client->GetLifeSpanHandler())
      life->OnBeforeClose(self.get());
  });
}

void BrowserImpl::WebProcessGone(WebKitWebProcessTerminationReason reason) {
  QUILLO_REQUIRE_UI_THREAD();
  QLOG(u"BrowserImpl::OnWebProcessTerminated");
  // A fresh process that ends before any page committed in it (the engine may hand a load to a
  // process that was killed with the last one) continues the end the handlers heard of: the
  // load it was to show is asked for again, and the end is not reported twice.
  const bool continuing = m_navigation.EndedBeforeCommit() && m_navigation.CanRedo();
  if (continuing)
    QLOG(u"BrowserImpl => the fresh web process ended before a page committed in it");
  else if (CefRefPtr<CefRequestHandler> requests = m_client->GetRequestHandler())
    requests->OnRenderProcessTerminated(this, TerminationStatusOf(reason));
  m_state.isLoading.store(false);
  m_dialogs.CancelAll();
  m_popup.Hide();
  m_channel.ProcessGone();
  m_touch.ProcessGone();
  m_audio.ProcessGone();
  m_watch.ProcessGone();
  m_navigation.MarkCrash();
  // The next web process starts without a frame, and the last one stays until its page has
  // painted.
  m_frames.ExpectFirstFrame();
  m_frames.Hold();
  m_input.FrameShown(false);
  // The handler hears of it once, as a failed load; the error page it asks for is the crash's.
  const gchar* uri = webkit_web_view_get_uri(View());
  CefRefPtr<CefLoadHandler> load = continuing ? nullptr : m_client->GetLoadHandler();
  if (load) {
    m_reportingCrash = true;
    load->OnLoadError(this, m_mainFrame.get(), ERR_FAILED, "net::ERR_FAILED",
                      CefString(uri ? uri : ""));
    m_reportingCrash = false;
  }
  // What the embedder asked for and the process had not carried out comes in a fresh one.
  m_navigation.RedoAfterCrash();
}

void BrowserImpl::Invalidate(PaintElementType type) {
  if (type == PET_VIEW)
    Post([this] { m_frames.Repaint(); });
  else
    Post([this] { m_popup.Repaint(); });
}

void BrowserImpl::WasHidden(bool hidden) {
  Post([this, hidden] { m_host.SetHidden(hidden); });
}

void BrowserImpl::SetFocus(bool focus) {
  Post([this, focus] { m_input.Focus(focus); });
}

void BrowserImpl::SendKeyEvent(const CefKeyEvent& event) {
  Post([this, event] { m_input.Key(event); });
}

void BrowserImpl::SendMouseClickEvent(const CefMouseEvent& event, MouseButtonType type,
                                      bool mouseUp, int clickCount) {
  Post([this, event, type, mouseUp, clickCount] {
    m_input.Click(event, type, mouseUp, clickCount);
  });
}

void BrowserImpl::SendMouseMoveEvent(const CefMouseEvent& event, bool mouseLeave) {
  (void)mouseLeave;
  Post([this, event] { m_input.Move(event); });
}

void BrowserImpl::SendMouseWheelEvent(const CefMouseEvent& event, int deltaX, int deltaY) {
  Post([this, event, deltaX, deltaY] { m_input.Wheel(event, deltaX, deltaY); });
}

void BrowserImpl::SendTouchEvent(const CefTouchEvent& event) {
  Post([this, event] { m_input.WhenShown([this, event] { m_touch.Send(event); }); });
}

void BrowserImpl::SetAudioMuted(bool mute) {
  m_muted.store(mute);
  Post([this, mute] { m_audio.SetMuted(mute); });
}

void BrowserImpl::ImeSetComposition(const CefString& text,
                                    const std::vector<CefCompositionUnderline>& underlines,
                                    const CefRange& replacement_range,
                                    const CefRange& selection_range) {
  (void)replacement_range;  // not supported (see the interface)
  Post([this, text = text.ToString16(), underlines, selection_range] {
    m_input.InKeyOrder([this, text, underlines, selection_range] {
      m_composition.SetComposition(text, underlines, selection_range);
    });
  });
}

void BrowserImpl::ImeCommitText(const CefString& text, const CefRange& replacement_range,
                                int relative_cursor_pos) {
  (void)replacement_range, (void)relative_cursor_pos;  // not supported (see the interface)
  Post([this, text = text.ToString16()] {
    m_input.InKeyOrder([this, text] { m_composition.Commit(text); });
  });
}

void BrowserImpl::ImeFinishComposingText(bool keep_selection) {
  (void)keep_selection;  // not supported (see the interface)
  Post([this] { m_input.InKeyOrder([this] { m_composition.Finish(); }); });
}

void BrowserImpl::ImeCancelComposition() {
  Post([this] { m_input.InKeyOrder([this] { m_composition.Cancel(); }); });
}

// The clipboard commands go in the keys' order too: a click into a field, then a paste, pastes
// into that field. The engine runs them at once, outside its queue of key events, so each also
// waits until the page has had the keys sent before it (what they typed and selected).
void BrowserImpl::CopyInMainFrame() {
  Post([this] { m_input.AfterKeys([this] { m_clipboard.Copy(); }); });
}

void BrowserImpl::CutInMainFrame() {
  Post([this] { m_input.AfterKeys([this] { m_clipboard.Cut(); }); });
}

void BrowserImpl::PasteInMainFrame() {
  Post([this] { m_input.AfterKeys([this] { m_clipboard.Paste(); }); });
}

void BrowserImpl::PasteTextInMainFrame(const CefString& text, const CefString& html) {
  Post([this, text = text.ToString(), markup = html.ToString()] {
    m_input.AfterKeys([this, text, markup] { m_clipboard.PasteText(text, markup); });
  });
}

// The creation entry point of the engine layer.
}  // namespace quillo::engine

CefRefPtr<CefBrowser> CefBrowserHost::CreateBrowserSync(const CefWindowInfo& windowInfo,
                                                        CefRefPtr<CefClient> client,
                                                        const CefString& url,
                                                        const CefBrowserSettings& settings,
                                                        CefRefPtr<CefRequestContext>) {
  if (!windowInfo.windowless_rendering_enabled) {
    QLOG(u"CefBrowserHost::CreateBrowserSync => only windowless browsers are supported");
    return nullptr;
  }
  return quillo::engine::BrowserImpl::Create(client, windowInfo, settings, url).get();
}
