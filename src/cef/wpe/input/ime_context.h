// The view's input-method context: a WebKitInputMethodContext whose pre-edit text the layer
// sets, in place of a system's input method. The engine asks it for the pre-edit text when it
// hears "preedit-changed", filters no keys through it, and tells it where the caret is and when
// an editable element gains or loses the keyboard focus; those reach its observer.
//
// Threads: the UI thread only. The context is a GObject owned by whoever holds a reference (the
// view holds one while it is set on it); the observer is not owned and is cleared with
// ImeContextSetObserver(context, nullptr) before it goes.
#pragma once

#include <wpe/webkit.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillo::engine {

class ImeObserver {
 public:
  // An editable element has (true) or no longer has (false) the keyboard focus of a focused view.
  virtual void ImeFocusChanged(bool focusedIn) = 0;
  // The caret's rectangle in view coordinates.
  virtual void ImeCaretMoved(int x, int y, int width, int height) = 0;
  // The engine ended the composition itself (the focus left the element): the pre-edit is gone.
  virtual void ImeReset() = 0;

 protected:
  ~ImeObserver() = default;
};

struct ImeUnderline {
  uint32_t start = 0;  // UTF-16 code units within the pre-edit text
  uint32_t end = 0;
  uint32_t color = 0;  // 0xAARRGGBB; 0: the text's colour
};

// A new context (one reference, the caller's) telling observer.
WebKitInputMethodContext* NewImeContext(ImeObserver* observer);
void ImeContextSetObserver(WebKitInputMethodContext* context, ImeObserver* observer);
// What get_preedit answers from now on: text (UTF-8), its underlines and the caret (UTF-16 code
// units). Emitting "preedit-changed" is the caller's.
void ImeContextSetPreedit(WebKitInputMethodContext* context, std::string text,
                          std::vector<ImeUnderline> underlines, uint32_t cursor);

}  // namespace quillo::engine
