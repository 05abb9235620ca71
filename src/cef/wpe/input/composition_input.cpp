#include "wpe/input/composition_input.h"

#include <algorithm>
#include <utility>

#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "wpe/input/input_router.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

// InputEvent.isComposing, which this engine build lacks, as browsers set it: true for the
// beforeinput and input events fired between a document's compositionstart and its
// compositionend. In the page's own world (where its handlers read it), before its scripts; each
// event keeps the value it was dispatched with.
constexpr char kIsComposingScript[] =
    "(() => {"
    "  if (typeof InputEvent !== 'function' || 'isComposing' in InputEvent.prototype) return;"
    "  const composing = new WeakMap();"
    "  let now = false;"
    "  addEventListener('compositionstart', e => { if (e.isTrusted) now = true; }, true);"
    "  addEventListener('compositionend', e => { if (e.isTrusted) now = false; }, true);"
    "  const stamp = e => { if (e.isTrusted) composing.set(e, now); };"
    "  addEventListener('beforeinput', stamp, true);"
    "  addEventListener('input', stamp, true);"
    "  Object.defineProperty(InputEvent.prototype, 'isComposing', {configurable: true,"
    "    enumerable: true, get() { return composing.get(this) === true; }});"
    "})();";

void AddIsComposing(WebKitWebView* view) {
  WebKitUserScript* script =
      webkit_user_script_new(kIsComposingScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
  webkit_user_script_unref(script);
}

}  // namespace

CompositionInput::~CompositionInput() {
  if (m_context == nullptr) return;
  ImeContextSetObserver(m_context, nullptr);
  g_object_unref(m_context);
}

void CompositionInput::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  AddIsComposing(view);
  m_context = NewImeContext(this);
  webkit_web_view_set_input_method_context(view, m_context);
}

void CompositionInput::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  m_focusWait.Cancel();
  m_waiting.clear();
  m_inserting = false;
  if (m_context == nullptr) return;
  webkit_web_view_set_input_method_context(view, nullptr);
  ImeContextSetObserver(m_context, nullptr);
  g_object_unref(std::exchange(m_context, nullptr));
}

void CompositionInput::WhenFocused(std::function<void()> op) {
  if (m_focusedIn && m_waiting.empty() && !m_inserting) {
    op();
    return;
  }
  m_waiting.push_back(std::move(op));
  if (!m_focusedIn) StartFocusWait();
}

void CompositionInput::RunWaiting() {
  while (m_focusedIn && !m_inserting && !m_waiting.empty()) {
    std::function<void()> op = std::move(m_waiting.front());
    m_waiting.pop_front();
    op();
  }
  if (m_waiting.empty())
    m_focusWait.Cancel();
  else if (!m_focusedIn)
    StartFocusWait();
}

void CompositionInput::StartFocusWait() {
  if (m_focusWait.IsPending()) return;
  m_focusWait.Start(kFocusWaitMs, [this] {
    QLOG(
        u"CompositionInput => %d input-method operations dropped: no editable element has the "
        u"keyboard focus",
        static_cast<int>(m_waiting.size()));
    m_waiting.clear();
  });
}

void CompositionInput::Emit(const char* signal) {
  g_signal_emit_by_name(m_context, signal);
}

void CompositionInput::SetComposition(const std::u16string& text,
                                      const std::vector<CefCompositionUnderline>& underlines,
                                      const CefRange& selection) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_context == nullptr) return;
  if (text.empty()) {
    Cancel();
    return;
  }
  WhenFocused([this, text, underlines, selection] {
    if (m_context == nullptr) return;
    const uint32_t length = static_cast<uint32_t>(text.size());
    std::vector<ImeUnderline> marks;
    for (const CefCompositionUnderline& u : underlines) {
      const uint32_t start = std::min(u.range.from, length);
      const uint32_t end = std::min(u.range.to, length);
      if (start < end && u.style != CEF_CUS_NONE) marks.push_back({start, end, u.color});
    }
    // The engine keeps a caret in a composition, no selected part.
    const uint32_t cursor = selection.IsValid() ? std::min(selection.from, length) : length;
    // The engine sends a step to the page for a new pre-edit text only.
    const bool step = !m_composing || text != m_preedit;
    if (!m_composing) {
      m_composing = true;
      Emit("preedit-started");
    }
    m_preedit = text;
    m_cursor = cursor;
    ImeContextSetPreedit(m_context, platform::Utf16ToUtf8(text), std::move(marks), cursor);
    if (step) m_input.KeySent();
    Emit("preedit-changed");
  });
}

void CompositionInput::Commit(const std::u16string& text) {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_context == nullptr) return;
  WhenFocused([this, text] {
    if (m_context == nullptr) return;
    const std::string utf8 = platform::Utf16ToUtf8(text);
    if (!m_composing) {
      // Text alone, typed as an input method's commit is typed when nothing was composed. (The
      // engine's "committed" without a composition would end one that never started.)
      if (!utf8.empty()) InsertText(utf8);
      return;
    }
    EndComposition();
    m_input.KeySent();  // the engine's step that commits (its "preedit-finished" sends none)
    g_signal_emit_by_name(m_context, "committed", utf8.c_str());
    Emit("preedit-finished");
  });
}

void CompositionInput::Finish() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_context == nullptr) return;
  WhenFocused([this] {
    if (m_context == nullptr || !m_composing) return;
    const std::string utf8 = platform::Utf16ToUtf8(m_preedit);
    EndComposition();
    m_input.KeySent();  // the engine's step that commits (its "preedit-finished" sends none)
    g_signal_emit_by_name(m_context, "committed", utf8.c_str());
    Emit("preedit-finished");
  });
}

void CompositionInput::Cancel() {
  QUILLO_REQUIRE_UI_THREAD();
  if (m_context == nullptr) return;
  WhenFocused([this] {
    if (m_context == nullptr || !m_composing) return;
    // A composition that finishes with its pre-edit text still set is taken back by the engine.
    EndComposition();
    m_input.KeySent();  // the engine's step that removes the pre-edit text
    Emit("preedit-finished");
  });
}

void CompositionInput::InsertText(std::string utf8) {
  m_inserting = true;
  m_input.AfterKeysSeen([this, utf8 = std::move(utf8)] {
    m_inserting = false;
    if (m_context == nullptr) return;
    webkit_web_view_execute_editing_command_with_argument(m_browser.View(), "InsertText",
                                                          utf8.c_str());
    RunWaiting();  // what waited behind it, in order
  });
}

void CompositionInput::EndComposition() {
  m_composing = false;
  m_preedit.clear();
  m_cursor = 0;
  ImeContextSetPreedit(m_context, std::string(), {}, 0);
}

void CompositionInput::ImeFocusChanged(bool focusedIn) {
  QUILLO_REQUIRE_UI_THREAD();
  m_focusedIn = focusedIn;
  if (!focusedIn) {
    // The engine has cancelled a composition in progress (ImeReset).
    m_composing = false;
    return;
  }
  m_focusWait.Cancel();
  RunWaiting();
}

void CompositionInput::ImeCaretMoved(int x, int y, int width, int height) {
  QUILLO_REQUIRE_UI_THREAD();
  // A rectangle of zeros is the engine's "not known yet".
  if (x == 0 && y == 0 && width == 0 && height == 0) return;
  CefRefPtr<CefRenderHandler> render = m_browser.Client().GetRenderHandler();
  if (!render) return;
  const CefRange range = m_composing ? CefRange(m_cursor, m_cursor) : CefRange::InvalidRange();
  render->OnImeCompositionRangeChanged(m_browser.Browser(), range,
                                       {CefRect(x, y, std::max(width, 1), std::max(height, 1))});
}

void CompositionInput::ImeReset() {
  QUILLO_REQUIRE_UI_THREAD();
  m_composing = false;
  m_preedit.clear();
  m_cursor = 0;
}

}  // namespace quillo::engine
