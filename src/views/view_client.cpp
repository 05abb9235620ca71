#include "views/view_client.h"

#include <algorithm>
#include <cmath>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "quillo/views.h"
#include "views/views_engine.h"

namespace quillo::views {
namespace {

uint32_t EventFlags(uint32_t modifiers) {
  uint32_t flags = 0;
  if (modifiers & QUILLO_MOD_SHIFT) flags |= EVENTFLAG_SHIFT_DOWN;
  if (modifiers & QUILLO_MOD_CONTROL) flags |= EVENTFLAG_CONTROL_DOWN;
  if (modifiers & QUILLO_MOD_ALT) flags |= EVENTFLAG_ALT_DOWN;
  if (modifiers & QUILLO_MOD_META) flags |= EVENTFLAG_COMMAND_DOWN;
  return flags;
}

// CEF's zoom level for a zoom factor: 1.2 to the level.
double ZoomLevel(double zoom) {
  return std::log(zoom) / std::log(1.2);
}

// A script's result on its way to the host as its SCRIPT_RESULT notice.
class ScriptResult : public CefEvaluateCallback {
 public:
  ScriptResult(CefRefPtr<ViewClient> client, uint64_t requestId)
      : m_client(std::move(client)), m_requestId(requestId) {}
  void OnResult(bool success, const CefString& result) override {
    m_client->Emit(QUILLO_NOTICE_SCRIPT_RESULT, success ? 1 : 0, m_requestId, result.ToString());
  }

 private:
  const CefRefPtr<ViewClient> m_client;
  const uint64_t m_requestId;
  IMPLEMENT_REFCOUNTING(ScriptResult);
};

uint32_t ButtonFlag(int button) {
  return button == QUILLO_BUTTON_LEFT     ? EVENTFLAG_LEFT_MOUSE_BUTTON
         : button == QUILLO_BUTTON_MIDDLE ? EVENTFLAG_MIDDLE_MOUSE_BUTTON
                                          : EVENTFLAG_RIGHT_MOUSE_BUTTON;
}

}  // namespace

ViewClient::ViewClient(ViewsEngine& engine, uint64_t view, const ViewSettings& settings,
                       std::shared_ptr<ViewFrames> frames)
    : m_engine(engine), m_view(view), m_settings(settings), m_frames(std::move(frames)) {}

ViewClient::~ViewClient() = default;

void ViewClient::Emit(int kind, int code, uint64_t id, std::string text, std::string detail) {
  ViewEvent event;
  event.view = m_view;
  event.kind = kind;
  event.code = code;
  event.id = id;
  event.text = std::move(text);
  event.detail = std::move(detail);
  m_engine.Emit(std::move(event));
}

CefRefPtr<CefBrowserHost> ViewClient::Host() const {
  return m_browser ? m_browser->GetHost() : nullptr;
}

bool ViewClient::Create(const std::string& url) {
  CefWindowInfo window;
  window.SetAsWindowless(nullptr, m_settings.transparent);
  CefBrowserSettings browserSettings;
  browserSettings.windowless_frame_rate = m_settings.frameRate;
  browserSettings.user_agent = CefString(m_settings.userAgent);
  browserSettings.page_message_function = CefString(m_settings.postFunction);
  m_browser =
      CefBrowserHost::CreateBrowserSync(window, this, CefString(url), browserSettings, nullptr);
  if (!m_browser) {
    QLOG(u"quillo_view_create => the engine could not make the view");
    Emit(QUILLO_NOTICE_LOAD_FAILED, ERR_FAILED, 0, "net::ERR_FAILED", url);
    return false;
  }
  if (m_settings.hidden) m_browser->GetHost()->WasHidden(true);
  if (m_settings.zoom != 1.0) m_browser->GetHost()->SetZoomLevel(ZoomLevel(m_settings.zoom));
  return true;
}

void ViewClient::Evaluate(const std::string& script, uint64_t requestId) {
  CefRefPtr<ScriptResult> result = new ScriptResult(this, requestId);
  if (!m_browser) {
    result->OnResult(false, CefString("the page is gone"));
    return;
  }
  m_browser->GetMainFrame()->EvaluateJavaScript(CefString(script), result);
}

void ViewClient::Reply(uint64_t messageId, bool ok, const std::string& text) {
  if (CefRefPtr<CefBrowserHost> host = Host())
    host->ReplyToPageMessage(static_cast<int64>(messageId), ok, CefString(text));
}

void ViewClient::SetZoom(double zoom) {
  m_settings.zoom = zoom;
  if (CefRefPtr<CefBrowserHost> host = Host()) host->SetZoomLevel(ZoomLevel(zoom));
}

void ViewClient::SetFrameRate(int rate) {
  m_settings.frameRate = rate;
  if (CefRefPtr<CefBrowserHost> host = Host()) host->SetWindowlessFrameRate(rate);
}

void ViewClient::SetUserAgent(const std::string& agent) {
  m_settings.userAgent = agent;
  if (CefRefPtr<CefBrowserHost> host = Host()) host->SetUserAgent(CefString(agent));
}

void ViewClient::Respond(uint64_t id, ResourceAnswer&& answer) {
  auto it = m_resources.find(id);
  if (it == m_resources.end()) return;  // the page let go of it, or the view closes
  it->second->Answer(std::move(answer));
  if (it->second->Ended()) {
    it->second->Detach();
    m_resources.erase(it);
    RequestEnded();
  }
}

CefRefPtr<CefResourceHandler> ViewClient::NewResource(CefRefPtr<CefRequest> request) {
  if (m_closing) return nullptr;
  const std::string url = request->GetURL().ToString();
  if (m_resources.size() >= QUILLO_MAX_OPEN_REQUESTS) {
    // A page that asks faster than the host answers: its further requests fail at once rather
    // than pile up.
    if (m_refusedRequests < 0) {
      QLOG(
          u"ViewClient => view [0x%x] has %d requests open, none ended by the host: [%s] and "
          u"further requests are refused until the host ends some",
          static_cast<unsigned>(m_view & 0xFFFFFF), QUILLO_MAX_OPEN_REQUESTS,
          platform::Utf8ToUtf16(url).c_str());
      m_refusedRequests = 0;
    }
    ++m_refusedRequests;
    return nullptr;
  }
  const uint64_t id = m_nextRequestId++;
  CefRefPtr<ViewResource> resource = new ViewResource(this, id);
  m_resources[id] = resource;
  // The headers as the host reads them: a "Name: value" line each; line breaks in a value
  // (which the engine should never pass) become spaces.
  CefRequest::HeaderMap map;
  request->GetHeaderMap(map);
  std::string headers;
  for (const auto& [name, value] : map) {
    std::string line = name.ToString() + ": " + value.ToString();
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    headers += line + "\n";
  }
  ViewEvent event;
  event.view = m_view;
  event.kind = QUILLO_NOTICE_REQUEST;
  event.id = id;
  event.text = url;
  event.detail = request->GetMethod().ToString();
  event.headers = std::move(headers);
  m_engine.Emit(std::move(event));
  return resource;
}

void ViewClient::ResourceGone(uint64_t id) {
  auto it = m_resources.find(id);
  if (it == m_resources.end()) return;
  m_resources.erase(it);
  Emit(kEventRequestGone, 0, id);
  RequestEnded();
}

void ViewClient::RequestEnded() {
  if (m_refusedRequests < 0 || m_resources.size() > QUILLO_MAX_OPEN_REQUESTS / 2) return;
  QLOG(u"ViewClient => view [0x%x] takes requests again; %d were refused",
       static_cast<unsigned>(m_view & 0xFFFFFF), static_cast<int>(m_refusedRequests));
  m_refusedRequests = -1;
}

void ViewClient::AbandonResources() {
  // Requests the host will not answer any more: refused, or ended where they are.
  std::map<uint64_t, CefRefPtr<ViewResource>> resources;
  resources.swap(m_resources);
  for (auto& [id, resource] : resources) {
    resource->Detach();
    resource->Abandon();
  }
}

void ViewClient::OnRenderProcessTerminated(CefRefPtr<CefBrowser>, TerminationStatus status) {
  const int reason = status == TS_PROCESS_OOM          ? QUILLO_GONE_OUT_OF_MEMORY
                     : status == TS_PROCESS_WAS_KILLED ? QUILLO_GONE_ENDED
                                                       : QUILLO_GONE_CRASHED;
  m_loadSinceGone = false;
  Emit(QUILLO_NOTICE_PROCESS_GONE, reason);
}

void ViewClient::OnPageMessage(CefRefPtr<CefBrowser>, int64 message_id, const CefString& text) {
  Emit(QUILLO_NOTICE_MESSAGE, 0, static_cast<uint64_t>(message_id), text.ToString());
}

void ViewClient::Close() {
  m_closing = true;
  for (auto& [id, callback] : m_dialogs) callback->Continue(false, CefString());
  m_dialogs.clear();
  AbandonResources();
  if (CefRefPtr<CefBrowserHost> host = Host()) host->CloseBrowser(true);
}

void ViewClient::Resize(std::shared_ptr<ViewFrames> frames) {
  ++m_resizes;
  const bool scaleChanged = frames->scale != m_frames->scale;
  const bool sizeChanged =
      frames->cssWidth != m_frames->cssWidth || frames->cssHeight != m_frames->cssHeight;
  m_frames = std::move(frames);
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  if (scaleChanged) host->NotifyScreenInfoChanged();
  if (sizeChanged) host->WasResized();
  // The same layout in new memory: the page paints nothing new by itself, so the held frame is
  // painted again into the new frames.
  if (!scaleChanged && !sizeChanged) host->Invalidate(PET_VIEW);
}

void ViewClient::LoadUrl(const std::string& url) {
  if (!m_browser) return;
  m_browser->GetMainFrame()->LoadURL(CefString(url));
}

void ViewClient::GoBack() {
  if (m_browser && m_browser->CanGoBack()) m_browser->GoBack();
}

void ViewClient::GoForward() {
  if (m_browser && m_browser->CanGoForward()) m_browser->GoForward();
}

void ViewClient::Reload() {
  if (m_browser) m_browser->Reload();
}

void ViewClient::Stop() {
  if (m_browser) m_browser->StopLoad();
}

void ViewClient::SetHidden(bool hidden) {
  m_settings.hidden = hidden;
  if (CefRefPtr<CefBrowserHost> host = Host()) host->WasHidden(hidden);
}

void ViewClient::SetFocus(bool focused) {
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  host->SetFocus(focused);
  // The engine says when the page takes the focus (OnGotFocus); losing it is the host's doing.
  if (!focused) Emit(QUILLO_NOTICE_FOCUS, 0);
}

void ViewClient::MouseMove(int x, int y, uint32_t modifiers) {
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  CefMouseEvent event;
  event.x = x, event.y = y;
  event.modifiers = EventFlags(modifiers) | m_buttons;
  host->SendMouseMoveEvent(event, false);
}

void ViewClient::MouseButton(int button, bool down, int x, int y, int clickCount,
                             uint32_t modifiers) {
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  if (down)
    m_buttons |= ButtonFlag(button);
  else
    m_buttons &= ~ButtonFlag(button);
  CefMouseEvent event;
  event.x = x, event.y = y;
  event.modifiers = EventFlags(modifiers) | m_buttons;
  const auto type = button == QUILLO_BUTTON_LEFT     ? MBT_LEFT
                    : button == QUILLO_BUTTON_MIDDLE ? MBT_MIDDLE
                                                     : MBT_RIGHT;
  host->SendMouseClickEvent(event, type, !down, clickCount);
}

void ViewClient::MouseWheel(int x, int y, int dx, int dy, uint32_t modifiers) {
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  CefMouseEvent event;
  event.x = x, event.y = y;
  event.modifiers = EventFlags(modifiers) | m_buttons;
  // The engine counts positive towards the top and the left; the host as the page does.
  host->SendMouseWheelEvent(event, -dx, -dy);
}

void ViewClient::Touch(int action, int id, int x, int y, uint32_t modifiers) {
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  CefTouchEvent event;
  event.id = id;
  event.x = static_cast<float>(x);
  event.y = static_cast<float>(y);
  event.type = action == QUILLO_TOUCH_START  ? CEF_TET_PRESSED
               : action == QUILLO_TOUCH_MOVE ? CEF_TET_MOVED
               : action == QUILLO_TOUCH_END  ? CEF_TET_RELEASED
                                             : CEF_TET_CANCELLED;
  event.modifiers = EventFlags(modifiers);
  event.pointer_type = CEF_POINTER_TYPE_TOUCH;
  host->SendTouchEvent(event);
}

void ViewClient::SetMuted(bool muted) {
  if (CefRefPtr<CefBrowserHost> host = Host()) host->SetAudioMuted(muted);
}

void ViewClient::KeyAndText(bool down, int keyCode, uint32_t modifiers,
                            const std::u16string& text) {
  CefRefPtr<CefBrowserHost> host = Host();
  if (!host) return;
  // As Windows sends them: KEYDOWN with the key, a CHAR for each UTF-16 unit it types, KEYUP.
  CefKeyEvent key;
  key.modifiers = EventFlags(modifiers);
  key.windows_key_code = keyCode;
  key.native_key_code = keyCode;
  if (!down) {
    key.type = KEYEVENT_KEYUP;
    host->SendKeyEvent(key);
    return;
  }
  if (keyCode != 0) {
    key.type = KEYEVENT_KEYDOWN;
    host->SendKeyEvent(key);
  }
  for (char16_t unit : text) {
    CefKeyEvent character = key;
    character.type = KEYEVENT_CHAR;
    character.character = unit;
    character.unmodified_character = unit;
    host->SendKeyEvent(character);
  }
}

void ViewClient::AnswerDialog(uint64_t id, bool accept, const std::string& text) {
  auto it = m_dialogs.find(id);
  if (it == m_dialogs.end()) {
    QLOG(u"quillo_view_answer_dialog => dialog [%u] is no longer open", static_cast<unsigned>(id));
    return;
  }
  it->second->Continue(accept, CefString(text));
  m_dialogs.erase(it);
}

bool ViewClient::OnBeforePopup(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                               const CefString& target_url, const CefString& target_frame_name,
                               cef_window_open_disposition_t, bool, const CefPopupFeatures&,
                               CefWindowInfo&, CefRefPtr<CefClient>&, CefBrowserSettings&, bool*) {
  Emit(QUILLO_NOTICE_NEW_WINDOW, 0, 0, target_url.ToString(), target_frame_name.ToString());
  return true;  // refused: the host opens a view of its own if it wants one
}

void ViewClient::OnBeforeClose(CefRefPtr<CefBrowser>) {
  m_painter.Reset();
  m_dialogs.clear();
  AbandonResources();
  m_browser = nullptr;
  // A close the host did not ask for is the page's own (window.close()).
  if (!m_closing) Emit(QUILLO_NOTICE_CLOSED);
  Emit(kEventReleased);
  m_engine.Forget(m_view);  // may drop the last reference to this client: nothing after
}

void ViewClient::OnAddressChange(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                                 const CefString& url) {
  if (IsMain(frame)) Emit(QUILLO_NOTICE_URL, 0, 0, url.ToString());
}

void ViewClient::OnAudioStateChange(CefRefPtr<CefBrowser>, bool audible) {
  Emit(QUILLO_NOTICE_AUDIO, audible ? 1 : 0);
}

void ViewClient::OnTitleChange(CefRefPtr<CefBrowser>, const CefString& title) {
  Emit(QUILLO_NOTICE_TITLE, 0, 0, title.ToString());
}

void ViewClient::OnGotFocus(CefRefPtr<CefBrowser>) {
  Emit(QUILLO_NOTICE_FOCUS, 1);
}

void ViewClient::OnLoadStart(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, TransitionType) {
  if (!IsMain(frame)) return;
  m_loadSinceGone = true;
  Emit(QUILLO_NOTICE_LOAD_STARTED, 0, 0, frame->GetURL().ToString());
}

void ViewClient::OnLoadEnd(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, int httpStatusCode) {
  if (IsMain(frame))
    Emit(QUILLO_NOTICE_LOAD_FINISHED, httpStatusCode, 0, frame->GetURL().ToString());
}

void ViewClient::OnLoadError(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, ErrorCode errorCode,
                             const CefString& errorText, const CefString& failedUrl) {
  if (!IsMain(frame)) return;  // a sub-frame's failure is the page's business
  Emit(QUILLO_NOTICE_LOAD_FAILED, errorCode, 0, errorText.ToString(), failedUrl.ToString());
}

void ViewClient::OnPageReady(CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame,
                             const CefString& url) {
  if (!IsMain(frame)) return;
  // The frame that shows the page is in the store already; the host hears of readiness with
  // the FRAME notice of a frame after this point, which the held frame painted again gives.
  ViewEvent event;
  event.view = m_view;
  event.kind = kEventReady;
  event.code = static_cast<int>(m_resizes);
  event.id = m_frames->store.Published() + 1;
  event.text = url.ToString();
  m_engine.Emit(std::move(event));
  // A hidden view paints nothing: its next frame, once shown, is the one.
  if (m_settings.hidden) return;
  if (CefRefPtr<CefBrowserHost> host = Host()) host->Invalidate(PET_VIEW);
}

void ViewClient::AutoReload(int attempt) {
  if (!m_browser) return;
  if (m_loadSinceGone) {
    QLOG(u"ViewClient => view [0x%x]: reload %d left out, a load started meanwhile",
         static_cast<unsigned>(m_view & 0xFFFFFF), attempt);
    return;
  }
  QLOG(u"ViewClient => view [0x%x]: reload %d after the web process ended",
       static_cast<unsigned>(m_view & 0xFFFFFF), attempt);
  m_browser->Reload();
}

bool ViewClient::OnJSDialog(CefRefPtr<CefBrowser>, const CefString&, JSDialogType dialog_type,
                            const CefString& message_text, const CefString& default_prompt_text,
                            CefRefPtr<CefJSDialogCallback> callback, bool&) {
  const uint64_t id = m_nextDialogId++;
  m_dialogs[id] = callback;
  Emit(QUILLO_NOTICE_DIALOG, static_cast<int>(dialog_type), id, message_text.ToString(),
       default_prompt_text.ToString());
  return true;
}

bool ViewClient::GetViewRect(CefRefPtr<CefBrowser>, CefRect& rect) {
  rect = CefRect(0, 0, m_frames->cssWidth, m_frames->cssHeight);
  return true;
}

bool ViewClient::GetScreenInfo(CefRefPtr<CefBrowser>, CefScreenInfo& screen) {
  screen.device_scale_factor = static_cast<float>(m_frames->scale);
  screen.rect = screen.available_rect = CefRect(0, 0, m_frames->cssWidth, m_frames->cssHeight);
  return true;
}

void ViewClient::OnPopupShow(CefRefPtr<CefBrowser>, bool show) {
  if (show) return;
  m_painter.PopupClosed();
  // The page under the list is painted again whole.
  if (CefRefPtr<CefBrowserHost> host = Host()) host->Invalidate(PET_VIEW);
}

void ViewClient::OnPopupSize(CefRefPtr<CefBrowser>, const CefRect& rect) {
  m_painter.PopupMoved(rect);
}

void ViewClient::OnPaint(CefRefPtr<CefBrowser>, PaintElementType type, const RectList& dirtyRects,
                         const void* buffer, int width, int height) {
  ViewFrames& frames = *m_frames;
  if (!frames.ok) return;
  // A paint of another size is a frame of the layout before the last resize: it never reaches
  // the memory of the new size.
  if (type == PET_VIEW && !frames.Fits(width, height)) return;
  m_painter.Paint(frames.store, type, dirtyRects, buffer, width, height);
}

void ViewClient::OnCursorChange(CefRefPtr<CefBrowser>, CefCursorHandle, CursorType type,
                                const CefCursorInfo&) {
  Emit(QUILLO_NOTICE_CURSOR, static_cast<int>(type));
}

}  // namespace quillo::views

// ---- Composition input and the clipboard ----------------------------------------------------

namespace quillo::views {

void ViewClient::ImeSetComposition(const std::u16string& text,
                                   const std::vector<CefCompositionUnderline>& underlines,
                                   uint32_t caret) {
  if (CefRefPtr<CefBrowserHost> host = Host())
    host->ImeSetComposition(CefString(text), underlines, CefRange::InvalidRange(),
                            CefRange(caret, caret));
}

void ViewClient::ImeCommit(const std::u16string& text) {
  if (CefRefPtr<CefBrowserHost> host = Host())
    host->ImeCommitText(CefString(text), CefRange::InvalidRange(), 0);
}

void ViewClient::ImeCancel() {
  if (CefRefPtr<CefBrowserHost> host = Host()) host->ImeCancelComposition();
}

void ViewClient::Copy() {
  if (m_browser) m_browser->GetMainFrame()->Copy();
}

void ViewClient::Cut() {
  if (m_browser) m_browser->GetMainFrame()->Cut();
}

void ViewClient::Paste(const std::string& text, const std::string& html) {
  if (m_browser) m_browser->GetMainFrame()->PasteText(CefString(text), CefString(html));
}

void ViewClient::OnImeCompositionRangeChanged(CefRefPtr<CefBrowser>, const CefRange& selected_range,
                                              const RectList& character_bounds) {
  if (character_bounds.empty()) return;
  // View (CSS) pixels to the memory's device pixels, covering the caret whole.
  const CefRect& caret = character_bounds.front();
  const double scale = m_frames->scale;
  const int left = static_cast<int>(std::floor(caret.x * scale));
  const int top = static_cast<int>(std::floor(caret.y * scale));
  const int right = static_cast<int>(std::ceil((caret.x + caret.width) * scale));
  const int bottom = static_cast<int>(std::ceil((caret.y + caret.height) * scale));
  ViewEvent event;
  event.view = m_view;
  event.kind = QUILLO_NOTICE_IME_CARET;
  event.code = selected_range.IsValid() ? 1 : 0;
  event.rect = CefRect(left, top, std::max(right - left, 1), std::max(bottom - top, 1));
  m_engine.Emit(std::move(event));
}

void ViewClient::OnFocusedEditableChanged(CefRefPtr<CefBrowser>, const CefEditableInfo& info) {
  // View pixels to the memory's device pixels, covering the element whole.
  const double scale = m_frames->scale;
  const auto clampInt = [](double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); };
  const int left = clampInt(std::floor(info.x * scale));
  const int top = clampInt(std::floor(info.y * scale));
  const int right = clampInt(std::ceil((info.x + info.width) * scale));
  const int bottom = clampInt(std::ceil((info.y + info.height) * scale));
  ViewEvent event;
  event.view = m_view;
  event.kind = QUILLO_NOTICE_EDITABLE;
  event.code = info.focused ? 1 : 0;
  event.id = static_cast<uint64_t>(std::max(info.caret, 0));
  event.rect = CefRect(left, top, std::max(right - left, 0), std::max(bottom - top, 0));
  event.text = info.surrounding_text.ToString();
  event.detail = info.type.ToString();
  event.inputMode = info.input_mode.ToString();
  m_engine.Emit(std::move(event));
}

void ViewClient::OnClipboardWrite(CefRefPtr<CefBrowser>, bool cut, const CefString& text,
                                  const CefString& html) {
  Emit(QUILLO_NOTICE_CLIPBOARD, cut ? QUILLO_CLIPBOARD_CUT : QUILLO_CLIPBOARD_COPY, 0,
       text.ToString(), html.ToString());
}

}  // namespace quillo::views
