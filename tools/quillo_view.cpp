// quillo-view: shows one live page in a window, through quillo's views interface.
//
// It is the interactive quillo host: it owns the pixel memory, pumps the library once a frame,
// shows each new frame, the title and the cursor the page asks for, forwards mouse, wheel,
// keyboard and focus, lays the page out again when the window is resized, shows a transparent
// page over a checkerboard, and asks the user about script dialogs in a bar of its own at the
// bottom of the window. The desktop's input method composes in the page (its candidate window
// placed at the page's caret), and the desktop's clipboard takes the page's copies and gives
// Ctrl+V its text. Everything runs on the program's one thread.
#include <quillo/views.h>

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "checkerboard.h"
#include "demo_page.h"
#include "dialog_bar.h"
#include "host_common.h"
#include "view_cursors.h"
#include "view_input.h"
#include "view_options.h"
#include "view_text.h"

namespace {

using quillo_tools::CursorDescription;
using quillo_tools::Cursors;
using quillo_tools::DialogBar;
using quillo_tools::DialogTypeName;
using quillo_tools::Printable;
using quillo_tools::PrintLine;
using quillo_tools::TextPainter;
using namespace quillo_tools::view_options;

// One pump per frame, about 60 a second.
constexpr Uint64 kFrameMs = 16;
// Size of the viewer's own text (the dialog bar).
constexpr int kTextPointSize = 14;
// CSS pixels the page scrolls for one notch of the wheel.
constexpr float kWheelNotchPixels = 53.0f;
// The window's background where no frame has been shown yet (opaque pages).
constexpr uint8_t kBlankPixel = 0xFF;

// SDL objects that free themselves. A texture must go before its renderer and the renderer
// before its window: members holding them are declared in that order, window first.
struct SdlDeleter {
  void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
  void operator()(SDL_Renderer* renderer) const { SDL_DestroyRenderer(renderer); }
  void operator()(SDL_Texture* texture) const { SDL_DestroyTexture(texture); }
};
template <typename T>
using SdlPointer = std::unique_ptr<T, SdlDeleter>;

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size& other) const {
    return width == other.width && height == other.height;
  }
  bool operator!=(const Size& other) const { return !(*this == other); }
  size_t Bytes() const { return static_cast<size_t>(width) * static_cast<size_t>(height) * 4; }
};

// ---- The viewer ----------------------------------------------------------------------------

class Viewer {
 public:
  explicit Viewer(const Options& options) : m_options(options) {}
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  // Opens the window and the page, runs until the window is closed. The engine is still
  // running afterwards (see main); the pixel memory lives as long as the viewer.
  int Run();
  // A view was made, so the engine has to be shut down.
  bool EngineStarted() const { return m_view != nullptr; }

 private:
  bool OpenWindow();
  bool CreateView();
  void HandleEvent(const SDL_Event& event);
  void HandleMouseButton(const SDL_MouseButtonEvent& button);
  void HandleWheel(const SDL_MouseWheelEvent& wheel);
  void HandleFinger(const SDL_TouchFingerEvent& finger);
  void CancelFingers();
  bool MuteKey(const SDL_Keysym& key);
  void SetMuted(bool muted);
  void HandleKey(const SDL_KeyboardEvent& key);
  void HandleText(const char* utf8);
  void HandleEditing(const char* utf8, int start, int length);
  void EndComposition();
  bool PasteKey(const SDL_Keysym& key);
  void PlaceCandidates(const quillo_rect& caret);
  void HandleWindowEvent(const SDL_WindowEvent& window);
  void ApplyResize();
  void Pump();
  void HandleNotice(const quillo_notice& notice);
  void ShowFrame();
  void Answer(bool accept);
  void SetPageFocus(bool focused);
  SDL_Point ToMemory(int x, int y) const;
  void FlushMove();
  void FlushKey();
  void Present();
  bool MakeTexture(SdlPointer<SDL_Texture>* texture, Size size, bool blended);
  void PaintBackground();

  const Options m_options;
  SdlPointer<SDL_Window> m_window;
  SdlPointer<SDL_Renderer> m_renderer;
  SdlPointer<SDL_Texture> m_texture;     // the page, as last shown; m_shown big
  SdlPointer<SDL_Texture> m_background;  // the checkerboard (transparent pages), m_output big
  Cursors m_cursors;
  TextPainter m_painter;
  DialogBar m_bar;

  quillo_view* m_view = nullptr;
  // The memory the library writes (m_memory big), and a transparent frame laid over the
  // checkerboard before it is shown.
  std::vector<uint8_t> m_pixels;
  std::vector<uint8_t> m_composed;
  Size m_memory;
  Size m_shown;   // the size of the frame in m_texture
  Size m_output;  // the window's drawable size in device pixels
  std::optional<Size> m_pendingResize;

  bool m_running = true;
  bool m_needsPresent = true;
  bool m_windowFocused = false;
  bool m_focusSent = false;
  uint64_t m_dialogId = 0;
  int m_engineCursor = 0;
  // The buttons (QUILLO_BUTTON_* bits) whose press went to the page, so their release does too.
  unsigned m_buttonsOnPage = 0;
  // The virtual-key code sent with each key's key-down (by scancode), so that its key-up goes
  // out with the same code, and only when its key-down went out.
  std::array<int, SDL_NUM_SCANCODES> m_keyDownSent{};
  // A key-down waits for the text it types (SDL's next event) so that both go out as one key.
  struct PendingKey {
    int vk;
    unsigned modifiers;
  };
  std::optional<PendingKey> m_pendingKey;
  // Mouse moves are sent once per batch of events: the latest position wins.
  std::optional<SDL_Point> m_pendingMove;
  // The desktop's input method is composing in the page; an empty pre-edit text ends the
  // composition unless the commit comes right behind it (SDL sends either first).
  bool m_composing = false;
  bool m_compositionEnding = false;
  // The fingers on a touch screen whose press went to the page, by SDL's id: the page's id for
  // each (the lowest free one, so that ids stay small), at most QUILLO_MAX_TOUCH_POINTS.
  std::map<SDL_FingerID, int> m_fingers;
  bool m_muted = false;
  // Wheel motion below one device pixel, kept for the next event (smooth-scrolling devices).
  float m_wheelRestX = 0;
  float m_wheelRestY = 0;
};

bool Viewer::OpenWindow() {
  // Pre-edit texts of any length come whole (SDL_TEXTEDITING_EXT).
  SDL_SetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT, "1");
  // A touch screen's fingers reach the page as touch, not also as the mouse SDL makes of them.
  SDL_SetHint(SDL_HINT_TOUCH_MOUSE_EVENTS, "0");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    PrintError(std::string("cannot start SDL video: ") + SDL_GetError() +
               " (no display? try ./run view, which starts a virtual one)");
    return false;
  }
  const int width = quillo_tools::DevicePixels(m_options.width, m_options.scale);
  const int height = quillo_tools::DevicePixels(m_options.height, m_options.scale);
  if (width > QUILLO_MAX_SIDE || height > QUILLO_MAX_SIDE) {
    PrintError("a window of " + std::to_string(width) + "x" + std::to_string(height) +
               " pixels is too large: at most " + std::to_string(QUILLO_MAX_SIDE) + " a side");
    return false;
  }
  m_window.reset(SDL_CreateWindow(kProgramName, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  width, height, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE));
  if (m_window == nullptr) {
    PrintError(std::string("cannot open a window: ") + SDL_GetError());
    return false;
  }
  m_renderer.reset(SDL_CreateRenderer(m_window.get(), -1, 0));
  if (m_renderer == nullptr) {
    PrintError(std::string("cannot draw into the window: ") + SDL_GetError());
    return false;
  }
  // The memory has the window's drawable size (a window manager may have chosen another size
  // than asked for).
  SDL_GetRendererOutputSize(m_renderer.get(), &m_output.width, &m_output.height);
  m_output.width = std::clamp(m_output.width, 1, QUILLO_MAX_SIDE);
  m_output.height = std::clamp(m_output.height, 1, QUILLO_MAX_SIDE);
  if (!m_painter.Init(kTextPointSize))
    PrintError(std::string("no text in the dialog bar: ") + SDL_GetError());
  // Window managers give a new window the keyboard anyway; a bare X server (Xvfb) has no one
  // else to give it.
  SDL_RaiseWindow(m_window.get());
  SDL_SetWindowInputFocus(m_window.get());
  m_windowFocused = (SDL_GetWindowFlags(m_window.get()) & SDL_WINDOW_INPUT_FOCUS) != 0;
  SDL_StartTextInput();
  return true;
}

bool Viewer::CreateView() {
  m_memory = m_output;
  try {
    m_pixels.assign(m_memory.Bytes(), m_options.transparent ? 0 : kBlankPixel);
  } catch (const std::bad_alloc&) {
    PrintError("cannot allocate " + std::to_string(m_memory.Bytes()) + " bytes of pixel memory");
    return false;
  }
  if (m_options.debug) quillo_set_log(1);
  quillo_view_config config = quillo_view_config_default();
  config.width = m_memory.width;
  config.height = m_memory.height;
  config.pixels = m_pixels.data();
  config.transparent = m_options.transparent ? 1 : 0;
  config.device_scale = m_options.scale;
  const std::string url = m_options.url ? quillo_tools::ResolveUrl(*m_options.url) : "";
  const int result = m_options.url && url.rfind(quillo_tools::kHtmlSourcePrefix, 0) != 0
                         ? quillo_view_create(&config, url.c_str(), &m_view)
                         : quillo_view_create_html(
                               &config,
                               m_options.url ? url.c_str() + quillo_tools::kHtmlSourcePrefix.size()
                                             : quillo_tools::DemoPageHtml().c_str(),
                               &m_view);
  if (result != QUILLO_OK) {
    PrintError(std::string("cannot show the page: ") + quillo_result_text(result));
    m_view = nullptr;
    return false;
  }
  if (m_options.mute) SetMuted(true);
  return true;
}

int Viewer::Run() {
  if (!OpenWindow() || !CreateView()) return kExitFailure;
  if (m_windowFocused) SetPageFocus(true);

  // Events are handled as they come; the library is pumped on a fixed beat of kFrameMs, and in
  // between the program sleeps until the next event or the next beat.
  Uint64 nextPump = SDL_GetTicks64();
  while (m_running) {
    SDL_Event event;
    while (m_running && SDL_PollEvent(&event)) HandleEvent(event);
    FlushKey();
    if (m_compositionEnding) EndComposition();
    FlushMove();
    Uint64 now = SDL_GetTicks64();
    if (now >= nextPump) {
      ApplyResize();
      Pump();
      nextPump += kFrameMs;
      if (nextPump <= now) nextPump = now + kFrameMs;  // fell behind: no burst to catch up
    }
    if (m_needsPresent) Present();
    now = SDL_GetTicks64();
    if (m_running && nextPump > now)
      SDL_WaitEventTimeout(nullptr, static_cast<int>(nextPump - now));
  }
  return kExitOk;
}

void Viewer::HandleEvent(const SDL_Event& event) {
  // A key-down waits only for the text event right behind it; so does a composition's end.
  if (event.type != SDL_TEXTINPUT) {
    FlushKey();
    if (m_compositionEnding && event.type != SDL_TEXTEDITING && event.type != SDL_TEXTEDITING_EXT)
      EndComposition();
  }
  switch (event.type) {
    case SDL_QUIT:
      m_running = false;
      break;
    case SDL_MOUSEMOTION:
      if (m_bar.Shown()) {
        if (m_bar.SetHover(m_bar.HitTest(event.motion.x, event.motion.y))) m_needsPresent = true;
        break;
      }
      m_pendingMove = SDL_Point{event.motion.x, event.motion.y};
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      HandleMouseButton(event.button);
      break;
    case SDL_MOUSEWHEEL:
      HandleWheel(event.wheel);
      break;
    case SDL_FINGERDOWN:
    case SDL_FINGERMOTION:
    case SDL_FINGERUP:
      HandleFinger(event.tfinger);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      HandleKey(event.key);
      break;
    case SDL_TEXTINPUT:
      HandleText(event.text.text);
      break;
    case SDL_TEXTEDITING:
      HandleEditing(event.edit.text, event.edit.start, event.edit.length);
      break;
    case SDL_TEXTEDITING_EXT:
      HandleEditing(event.editExt.text, event.editExt.start, event.editExt.length);
      SDL_free(event.editExt.text);
      break;
    case SDL_WINDOWEVENT:
      HandleWindowEvent(event.window);
      break;
    default:
      break;
  }
}

void Viewer::HandleMouseButton(const SDL_MouseButtonEvent& button) {
  int which = 0;
  switch (button.button) {
    case SDL_BUTTON_LEFT:
      which = QUILLO_BUTTON_LEFT;
      break;
    case SDL_BUTTON_MIDDLE:
      which = QUILLO_BUTTON_MIDDLE;
      break;
    case SDL_BUTTON_RIGHT:
      which = QUILLO_BUTTON_RIGHT;
      break;
    default:
      return;
  }
  const unsigned bit = 1u << which;
  const bool down = button.type == SDL_MOUSEBUTTONDOWN;
  const unsigned modifiers = quillo_tools::InputModifiers(static_cast<Uint16>(SDL_GetModState()));
  const int clicks = std::clamp<int>(button.clicks, 1, 3);
  const SDL_Point at = ToMemory(button.x, button.y);
  if (down) {
    if (m_bar.Shown()) {
      if (which == QUILLO_BUTTON_LEFT) m_bar.Press(m_bar.HitTest(button.x, button.y));
      m_needsPresent = true;
      return;
    }
    // A click gives the page the keyboard, as it gives a window the keyboard.
    SetPageFocus(true);
    FlushMove();
    quillo_view_mouse_button(m_view, which, 1, at.x, at.y, clicks, modifiers);
    m_buttonsOnPage |= bit;
    return;
  }
  if (m_buttonsOnPage & bit) {
    // The press went to the page, so its release does too, even if a dialog came up between.
    FlushMove();
    quillo_view_mouse_button(m_view, which, 0, at.x, at.y, clicks, modifiers);
    m_buttonsOnPage &= ~bit;
    return;
  }
  if (m_bar.Shown() && which == QUILLO_BUTTON_LEFT) {
    const DialogBar::Button pressed = m_bar.Pressed();
    m_bar.Press(DialogBar::Button::kNone);
    m_needsPresent = true;
    if (pressed != DialogBar::Button::kNone && pressed == m_bar.HitTest(button.x, button.y))
      Answer(pressed == DialogBar::Button::kOk);
  }
}

void Viewer::HandleWheel(const SDL_MouseWheelEvent& wheel) {
  if (m_bar.Shown()) return;
  const float flip = wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
  // SDL counts notches (fractions of them on smooth devices), positive up and to the right;
  // the page wants device pixels, positive towards the end of the page.
  const float step = kWheelNotchPixels * static_cast<float>(m_options.scale);
  m_wheelRestX += wheel.preciseX * flip * step;
  m_wheelRestY -= wheel.preciseY * flip * step;
  const int dx = static_cast<int>(std::trunc(m_wheelRestX));
  const int dy = static_cast<int>(std::trunc(m_wheelRestY));
  m_wheelRestX -= static_cast<float>(dx);
  m_wheelRestY -= static_cast<float>(dy);
  if (dx == 0 && dy == 0) return;
  int x = 0;
  int y = 0;
  SDL_GetMouseState(&x, &y);
  const SDL_Point at = ToMemory(x, y);
  FlushMove();
  quillo_view_mouse_wheel(m_view, at.x, at.y, dx, dy,
                          quillo_tools::InputModifiers(static_cast<Uint16>(SDL_GetModState())));
}

void Viewer::HandleKey(const SDL_KeyboardEvent& key) {
  const SDL_Scancode scancode = key.keysym.scancode;
  if (static_cast<int>(scancode) >= SDL_NUM_SCANCODES) return;
  const unsigned modifiers = quillo_tools::InputModifiers(key.keysym.mod);
  if (key.type == SDL_KEYUP) {
    // Only keys whose key-down went to the page, with the code it went with.
    if (const int vk = m_keyDownSent[scancode]; vk != 0) {
      FlushMove();
      quillo_view_key(m_view, QUILLO_KEY_UP, vk, modifiers, nullptr);
      m_keyDownSent[scancode] = 0;
    }
    return;
  }
  if (m_bar.Shown()) {
    if (key.repeat) return;
    const SDL_Keycode code = key.keysym.sym;
    if (code == SDLK_RETURN || code == SDLK_RETURN2 || code == SDLK_KP_ENTER)
      Answer(true);
    else if (code == SDLK_ESCAPE)
      Answer(false);
    return;
  }
  if (PasteKey(key.keysym) || MuteKey(key.keysym)) return;
  // A held key repeats its key-down.
  const int vk = quillo_tools::WindowsVirtualKey(key.keysym.sym, scancode);
  if (vk == 0) return;  // no such key on Windows; what it types still comes as text
  m_pendingKey = PendingKey{vk, modifiers};
  m_keyDownSent[scancode] = vk;
}

void Viewer::HandleText(const char* utf8) {
  if (m_bar.Shown()) return;
  FlushMove();
  if (m_composing || m_compositionEnding) {
    // The input method's commit ends its composition with the text chosen.
    m_composing = m_compositionEnding = false;
    quillo_view_ime_commit(m_view, utf8);
    return;
  }
  if (m_pendingKey) {
    quillo_view_key(m_view, QUILLO_KEY_DOWN, m_pendingKey->vk, m_pendingKey->modifiers, utf8);
    m_pendingKey.reset();
    return;
  }
  // Text without a key of its own (an input method's): typed without key events.
  quillo_view_key(m_view, QUILLO_KEY_DOWN, 0,
                  quillo_tools::InputModifiers(static_cast<Uint16>(SDL_GetModState())), utf8);
}

// The input method's pre-edit text (UTF-8), its caret at character start and length characters
// selected after it. Empty text: the composition ends, cancelled unless a commit follows.
void Viewer::HandleEditing(const char* utf8, int start, int length) {
  if (m_bar.Shown() || utf8 == nullptr) return;
  FlushMove();
  if (utf8[0] == '\0') {
    if (m_composing) m_compositionEnding = true;
    m_composing = false;
    return;
  }
  const int characters = static_cast<int>(quillo_tools::DecodeUtf8(utf8).size());
  const int caret = std::clamp(start, 0, characters);
  const int end = std::clamp(caret + std::max(length, 0), caret, characters);
  const int result = quillo_view_ime_set_composition(m_view, utf8, nullptr, 0, caret, end);
  if (result != QUILLO_OK) {
    PrintError(std::string("the input method's text was not taken: ") + quillo_result_text(result));
    return;
  }
  m_composing = true;
  m_compositionEnding = false;
}

void Viewer::EndComposition() {
  m_compositionEnding = false;
  quillo_view_ime_cancel(m_view);
}

// A finger on a touch screen went down, moved or lifted: the page gets it as touch, at the
// window's place under it (SDL gives it in 0..1 of the window). A finger that went down while
// the dialog bar was shown, or beyond the page's fingers at once, is left out.
void Viewer::HandleFinger(const SDL_TouchFingerEvent& finger) {
  FlushMove();
  int windowWidth = 0, windowHeight = 0;
  SDL_GetWindowSize(m_window.get(), &windowWidth, &windowHeight);
  const SDL_Point at = ToMemory(static_cast<int>(std::lround(finger.x * windowWidth)),
                                static_cast<int>(std::lround(finger.y * windowHeight)));
  const unsigned modifiers = quillo_tools::InputModifiers(static_cast<Uint16>(SDL_GetModState()));
  const auto found = m_fingers.find(finger.fingerId);
  if (finger.type == SDL_FINGERDOWN) {
    if (found != m_fingers.end() || m_bar.Shown() || m_fingers.size() >= QUILLO_MAX_TOUCH_POINTS)
      return;
    int id = 0;
    while (std::any_of(m_fingers.begin(), m_fingers.end(),
                       [id](const auto& held) { return held.second == id; }))
      ++id;
    if (quillo_view_touch(m_view, QUILLO_TOUCH_START, id, at.x, at.y, modifiers) == QUILLO_OK)
      m_fingers[finger.fingerId] = id;
    return;
  }
  if (found == m_fingers.end()) return;
  if (finger.type == SDL_FINGERMOTION) {
    quillo_view_touch(m_view, QUILLO_TOUCH_MOVE, found->second, at.x, at.y, modifiers);
    return;
  }
  quillo_view_touch(m_view, QUILLO_TOUCH_END, found->second, at.x, at.y, modifiers);
  m_fingers.erase(found);
}

void Viewer::CancelFingers() {
  for (const auto& [sdl, id] : m_fingers)
    quillo_view_touch(m_view, QUILLO_TOUCH_CANCEL, id, 0, 0, 0);
  m_fingers.clear();
}

// Ctrl+Shift+M mutes the page's sound, or lets it be heard again, in place of the key; true when
// the key was it.
bool Viewer::MuteKey(const SDL_Keysym& key) {
  const Uint16 held = key.mod & (KMOD_CTRL | KMOD_SHIFT | KMOD_ALT | KMOD_GUI);
  if (key.sym != SDLK_m || !(held & KMOD_CTRL) || !(held & KMOD_SHIFT) ||
      (held & (KMOD_ALT | KMOD_GUI)))
    return false;
  SetMuted(!m_muted);
  return true;
}

void Viewer::SetMuted(bool muted) {
  if (quillo_view_set_muted(m_view, muted ? 1 : 0) != QUILLO_OK) return;
  m_muted = muted;
  PrintLine(muted ? "muted: yes" : "muted: no");
}

// Ctrl+V and Shift+Insert paste the desktop's clipboard (its text) into the page, in place of
// the key; true when the key was one of them.
bool Viewer::PasteKey(const SDL_Keysym& key) {
  const bool control = (key.mod & KMOD_CTRL) && !(key.mod & (KMOD_ALT | KMOD_GUI | KMOD_SHIFT));
  const bool shift = (key.mod & KMOD_SHIFT) && !(key.mod & (KMOD_ALT | KMOD_GUI | KMOD_CTRL));
  if (!(control && key.sym == SDLK_v) && !(shift && key.sym == SDLK_INSERT)) return false;
  if (!SDL_HasClipboardText()) return true;
  char* text = SDL_GetClipboardText();
  if (text == nullptr) return true;
  FlushMove();
  const int result = quillo_view_paste(m_view, text, nullptr);
  if (result != QUILLO_OK)
    PrintError(std::string("the clipboard's text was not pasted: ") + quillo_result_text(result));
  SDL_free(text);
  return true;
}

// The input method's candidate window goes under the page's caret (window coordinates).
void Viewer::PlaceCandidates(const quillo_rect& caret) {
  int windowWidth = 1;
  int windowHeight = 1;
  SDL_GetWindowSize(m_window.get(), &windowWidth, &windowHeight);
  SDL_Rect rect{caret.x * windowWidth / std::max(m_output.width, 1),
                caret.y * windowHeight / std::max(m_output.height, 1),
                std::max(caret.width * windowWidth / std::max(m_output.width, 1), 1),
                std::max(caret.height * windowHeight / std::max(m_output.height, 1), 1)};
  SDL_SetTextInputRect(&rect);
}

void Viewer::FlushKey() {
  if (!m_pendingKey) return;
  FlushMove();
  quillo_view_key(m_view, QUILLO_KEY_DOWN, m_pendingKey->vk, m_pendingKey->modifiers, nullptr);
  m_pendingKey.reset();
}

void Viewer::HandleWindowEvent(const SDL_WindowEvent& window) {
  switch (window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      m_windowFocused = true;
      SetPageFocus(true);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      m_windowFocused = false;
      SetPageFocus(false);
      // The fingers' gesture ends with the window's focus, as a browser's does.
      CancelFingers();
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED: {
      Size output;
      SDL_GetRendererOutputSize(m_renderer.get(), &output.width, &output.height);
      output.width = std::clamp(output.width, 1, QUILLO_MAX_SIDE);
      output.height = std::clamp(output.height, 1, QUILLO_MAX_SIDE);
      if (output != m_output) {
        m_output = output;
        m_background.reset();
        // A drag sends many sizes: the page is laid out once a beat, at the latest.
        m_pendingResize = output;
      }
      m_needsPresent = true;
      break;
    }
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SHOWN:
      m_needsPresent = true;
      break;
    default:
      break;
  }
}

// Hands the view memory of the window's new size. The old memory is never written again once
// quillo_view_resize returns, so it is freed right after; the window keeps showing the last
// frame until the first one at the new size comes.
void Viewer::ApplyResize() {
  if (!m_pendingResize || *m_pendingResize == m_memory) {
    m_pendingResize.reset();
    return;
  }
  const Size size = *m_pendingResize;
  m_pendingResize.reset();
  std::vector<uint8_t> memory;
  try {
    memory.assign(size.Bytes(), m_options.transparent ? 0 : kBlankPixel);
  } catch (const std::bad_alloc&) {
    PrintError("cannot allocate pixel memory for " + std::to_string(size.width) + "x" +
               std::to_string(size.height) + "; the page keeps its size");
    return;
  }
  const int result = quillo_view_resize(m_view, size.width, size.height, memory.data(), 0);
  if (result != QUILLO_OK) {
    PrintError(std::string("the page keeps its size: ") + quillo_result_text(result));
    return;
  }
  m_pixels.swap(memory);
  m_memory = size;
  if (m_bar.Shown()) m_bar.Layout(m_painter, m_output.width, m_output.height);
}

void Viewer::Pump() {
  quillo_pump();
  quillo_notice notice = quillo_notice_init();
  bool frame = false;
  while (m_running && quillo_view_next_notice(m_view, &notice) == 1) {
    if (notice.kind == QUILLO_NOTICE_FRAME)
      frame = true;
    else
      HandleNotice(notice);
  }
  // Every frame notice of this pump is about the memory as it is now: show it once.
  if (frame) ShowFrame();
}

void Viewer::HandleNotice(const quillo_notice& notice) {
  switch (notice.kind) {
    case QUILLO_NOTICE_URL:
      PrintLine("url: " + Printable(notice.text));
      break;
    case QUILLO_NOTICE_TITLE:
      PrintLine("title: " + Printable(notice.text));
      SDL_SetWindowTitle(m_window.get(), notice.text[0] ? notice.text : kProgramName);
      break;
    case QUILLO_NOTICE_LOAD_FAILED:
      PrintLine("load-error: " + std::to_string(notice.code) + " " + Printable(notice.text));
      break;
    case QUILLO_NOTICE_DIALOG:
      PrintLine("dialog: " + DialogTypeName(notice.code) + " " + Printable(notice.text));
      m_dialogId = notice.id;
      m_bar.Show(notice.code, notice.text);
      m_bar.Layout(m_painter, m_output.width, m_output.height);
      m_bar.SetHover(DialogBar::Button::kNone);
      m_pendingMove.reset();
      m_cursors.Show(0);
      m_needsPresent = true;
      break;
    case QUILLO_NOTICE_NEW_WINDOW:
      PrintLine("popup-blocked");
      break;
    case QUILLO_NOTICE_CURSOR:
      m_engineCursor = notice.code;
      if (m_options.debug) PrintLine("cursor: " + CursorDescription(notice.code));
      if (!m_bar.Shown()) m_cursors.Show(m_engineCursor);
      break;
    case QUILLO_NOTICE_FOCUS:
      PrintLine(notice.code ? "focus: in" : "focus: out");
      break;
    case QUILLO_NOTICE_MESSAGE:
      PrintLine("message: " + Printable(notice.text));
      quillo_view_reply(m_view, notice.id, 0, "quillo-view answers no messages");
      break;
    case QUILLO_NOTICE_REQUEST:
      quillo_view_respond(m_view, notice.id, 0, nullptr, nullptr, 0, 1);
      break;
    case QUILLO_NOTICE_PROCESS_GONE:
      PrintLine("process-gone: " + std::to_string(notice.code));
      break;
    case QUILLO_NOTICE_CLOSED:
      PrintLine("closed");
      m_running = false;
      break;
    case QUILLO_NOTICE_IME_CARET:
      PlaceCandidates(notice.rect);
      break;
    case QUILLO_NOTICE_AUDIO:
      PrintLine(notice.code ? "sound: playing" : "sound: stopped");
      break;
    case QUILLO_NOTICE_CLIPBOARD:
      // The page's copy goes to the desktop's clipboard (text only: SDL's has no HTML).
      PrintLine(std::string(notice.code == QUILLO_CLIPBOARD_CUT ? "clipboard: cut "
                                                                : "clipboard: copy ") +
                Printable(notice.text));
      if (SDL_SetClipboardText(notice.text) != 0)
        PrintError(std::string("the desktop's clipboard did not take the copy: ") + SDL_GetError());
      break;
    default:
      break;
  }
}

bool Viewer::MakeTexture(SdlPointer<SDL_Texture>* texture, Size size, bool blended) {
  // The library's B, G, R, A bytes, whatever the machine's byte order.
  texture->reset(SDL_CreateTexture(m_renderer.get(), SDL_PIXELFORMAT_BGRA32,
                                   SDL_TEXTUREACCESS_STREAMING, size.width, size.height));
  if (*texture == nullptr) {
    PrintError("cannot make a " + std::to_string(size.width) + "x" + std::to_string(size.height) +
               " texture: " + SDL_GetError());
    return false;
  }
  SDL_SetTextureBlendMode(texture->get(), blended ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
  return true;
}

// Copies the frame in memory into the window's texture. A transparent page is laid over the
// checkerboard here, on the host's side: the window shows opaque pixels either way.
void Viewer::ShowFrame() {
  if (m_shown != m_memory || m_texture == nullptr) {
    if (!MakeTexture(&m_texture, m_memory, false)) return;
    m_shown = m_memory;
    PrintLine("size: " + std::to_string(m_shown.width) + "x" + std::to_string(m_shown.height));
  }
  const uint8_t* source = m_pixels.data();
  if (m_options.transparent) {
    m_composed.resize(m_memory.Bytes());
    for (int y = 0; y < m_memory.height; ++y) {
      const size_t row = static_cast<size_t>(y) * static_cast<size_t>(m_memory.width) * 4;
      for (int x = 0; x < m_memory.width; ++x) {
        const uint8_t* in = m_pixels.data() + row + static_cast<size_t>(x) * 4;
        uint8_t* out = m_composed.data() + row + static_cast<size_t>(x) * 4;
        const uint8_t gray = quillo_tools::CheckerboardGray(x, y);
        for (int c = 0; c < 3; ++c) out[c] = quillo_tools::OverBackground(in[c], in[3], gray);
        out[3] = 0xFF;
      }
    }
    source = m_composed.data();
  }
  SDL_UpdateTexture(m_texture.get(), nullptr, source, m_memory.width * 4);
  m_needsPresent = true;
}

void Viewer::Answer(bool accept) {
  quillo_view_answer_dialog(m_view, m_dialogId, accept ? 1 : 0, "");
  PrintLine(accept ? "dialog-answer: ok" : "dialog-answer: cancel");
  m_bar.Hide();
  m_cursors.Show(m_engineCursor);
  m_needsPresent = true;
}

void Viewer::SetPageFocus(bool focused) {
  if (focused == m_focusSent) return;
  quillo_view_set_focus(m_view, focused ? 1 : 0);
  m_focusSent = focused;
}

// Window positions to memory pixels (they differ where the drawable is larger than the
// window, on a high-density screen).
SDL_Point Viewer::ToMemory(int x, int y) const {
  int windowWidth = 1;
  int windowHeight = 1;
  SDL_GetWindowSize(m_window.get(), &windowWidth, &windowHeight);
  return SDL_Point{x * m_output.width / std::max(windowWidth, 1),
                   y * m_output.height / std::max(windowHeight, 1)};
}

void Viewer::FlushMove() {
  if (!m_pendingMove) return;
  const SDL_Point at = ToMemory(m_pendingMove->x, m_pendingMove->y);
  m_pendingMove.reset();
  quillo_view_mouse_move(m_view, at.x, at.y,
                         quillo_tools::InputModifiers(static_cast<Uint16>(SDL_GetModState())));
}

// The checkerboard behind a transparent page, or black, where the window is larger than the
// frame shown (between a resize and the first frame at the new size).
void Viewer::PaintBackground() {
  SDL_Renderer* renderer = m_renderer.get();
  if (!m_options.transparent) {
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0xFF);
    SDL_RenderClear(renderer);
    return;
  }
  if (m_background == nullptr) {
    if (!MakeTexture(&m_background, m_output, false)) return;
    std::vector<uint8_t> board(m_output.Bytes());
    for (int y = 0; y < m_output.height; ++y)
      for (int x = 0; x < m_output.width; ++x) {
        uint8_t* pixel =
            board.data() + (static_cast<size_t>(y) * static_cast<size_t>(m_output.width) +
                            static_cast<size_t>(x)) *
                               4;
        pixel[0] = pixel[1] = pixel[2] = quillo_tools::CheckerboardGray(x, y);
        pixel[3] = 0xFF;
      }
    SDL_UpdateTexture(m_background.get(), nullptr, board.data(), m_output.width * 4);
  }
  SDL_RenderCopy(renderer, m_background.get(), nullptr, nullptr);
}

void Viewer::Present() {
  m_needsPresent = false;
  SDL_Renderer* renderer = m_renderer.get();
  PaintBackground();
  if (m_texture != nullptr) {
    const SDL_Rect where{0, 0, m_shown.width, m_shown.height};
    SDL_RenderCopy(renderer, m_texture.get(), nullptr, &where);
  }
  if (m_bar.Shown()) m_bar.Draw(renderer, m_painter);
  SDL_RenderPresent(renderer);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::optional<int> exitCode = ParseCommandLine(argc, argv, &options)) return *exitCode;
  quillo_tools::SurviveBrokenPipe();
  int exitCode = kExitOk;
  {
    // The library writes the viewer's memory only inside quillo_pump, and never after
    // quillo_shutdown has returned; the viewer outlives the shutdown all the same.
    Viewer viewer(options);
    exitCode = viewer.Run();
    if (viewer.EngineStarted())
      quillo_tools::ShutDownWithin(kProgramName, "quillo_shutdown()",
                                   exitCode == kExitOk ? kExitStuck : exitCode,
                                   [] { quillo_shutdown(); });
  }
  SDL_Quit();
  return exitCode;
}
