#include "wpe/input/ime_context.h"

#include <new>
#include <utility>

namespace quillo::engine {
namespace {

// The context's own state, beside the GObject (which is plain C and zero-filled).
struct ImeState {
  ImeObserver* observer = nullptr;
  std::string text;
  std::vector<ImeUnderline> underlines;
  uint32_t cursor = 0;
};

struct QuilloImeContext {
  WebKitInputMethodContext parent;
  ImeState* state;
};

struct QuilloImeContextClass {
  WebKitInputMethodContextClass parent;
};

GType quillo_ime_context_get_type();
G_DEFINE_TYPE(QuilloImeContext, quillo_ime_context, WEBKIT_TYPE_INPUT_METHOD_CONTEXT)

ImeState& StateOf(WebKitInputMethodContext* context) {
  return *reinterpret_cast<QuilloImeContext*>(context)->state;
}

void GetPreedit(WebKitInputMethodContext* context, gchar** text, GList** underlines,
                guint* cursor) {
  const ImeState& state = StateOf(context);
  if (text) *text = g_strdup(state.text.c_str());
  if (underlines) {
    *underlines = nullptr;
    for (auto it = state.underlines.rbegin(); it != state.underlines.rend(); ++it) {
      WebKitInputMethodUnderline* underline = webkit_input_method_underline_new(it->start, it->end);
      if (it->color != 0) {
        WebKitColor color{((it->color >> 16) & 0xFF) / 255.0, ((it->color >> 8) & 0xFF) / 255.0,
                          (it->color & 0xFF) / 255.0, ((it->color >> 24) & 0xFF) / 255.0};
        webkit_input_method_underline_set_color(underline, &color);
      }
      *underlines = g_list_prepend(*underlines, underline);
    }
  }
  if (cursor) *cursor = state.cursor;
}

// The layer's input method takes no keys: they go to the page as they are.
gboolean FilterKeyEvent(WebKitInputMethodContext*, wpe_input_keyboard_event*) {
  return FALSE;
}

void NotifyFocusIn(WebKitInputMethodContext* context) {
  if (ImeObserver* observer = StateOf(context).observer) observer->ImeFocusChanged(true);
}

void NotifyFocusOut(WebKitInputMethodContext* context) {
  if (ImeObserver* observer = StateOf(context).observer) observer->ImeFocusChanged(false);
}

void NotifyCursorArea(WebKitInputMethodContext* context, int x, int y, int width, int height) {
  if (ImeObserver* observer = StateOf(context).observer)
    observer->ImeCaretMoved(x, y, width, height);
}

void Reset(WebKitInputMethodContext* context) {
  ImeState& state = StateOf(context);
  state.text.clear();
  state.underlines.clear();
  state.cursor = 0;
  if (state.observer) state.observer->ImeReset();
}

void Finalize(GObject* object) {
  QuilloImeContext* self = reinterpret_cast<QuilloImeContext*>(object);
  delete std::exchange(self->state, nullptr);
  G_OBJECT_CLASS(quillo_ime_context_parent_class)->finalize(object);
}

void quillo_ime_context_init(QuilloImeContext* self) {
  self->state = new ImeState;
}

void quillo_ime_context_class_init(QuilloImeContextClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  WebKitInputMethodContextClass* context = WEBKIT_INPUT_METHOD_CONTEXT_CLASS(klass);
  context->get_preedit = GetPreedit;
  context->filter_key_event = FilterKeyEvent;
  context->notify_focus_in = NotifyFocusIn;
  context->notify_focus_out = NotifyFocusOut;
  context->notify_cursor_area = NotifyCursorArea;
  context->reset = Reset;
}

}  // namespace

WebKitInputMethodContext* NewImeContext(ImeObserver* observer) {
  auto* context = WEBKIT_INPUT_METHOD_CONTEXT(g_object_new(quillo_ime_context_get_type(), nullptr));
  StateOf(context).observer = observer;
  return context;
}

void ImeContextSetObserver(WebKitInputMethodContext* context, ImeObserver* observer) {
  StateOf(context).observer = observer;
}

void ImeContextSetPreedit(WebKitInputMethodContext* context, std::string text,
                          std::vector<ImeUnderline> underlines, uint32_t cursor) {
  ImeState& state = StateOf(context);
  state.text = std::move(text);
  state.underlines = std::move(underlines);
  state.cursor = cursor;
}

}  // namespace quillo::engine
