// quillo-view: shows one live page in a window, through quillo's eight exports only.
//
// It is the interactive quillo host: it owns the pixel memory, polls UpdateWeb once a frame,
// shows each new frame, the title and the cursor the page asks for, forwards mouse, wheel,
// keyboard and focus the way a Windows host does, and asks the user about script dialogs in a
// bar of its own at the bottom of the window.
#include <quillo.h>

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One poll of UpdateWeb per frame, about 60 a second.
constexpr Uint64 kFrameMs = 16;
// Size of the viewer's own text (the dialog bar).
constexpr int kTextPointSize = 14;
// Each UpdateWeb call hands out at most one text; while the calls bring texts, a frame polls
// again (up to this often) so that URL, title and dialog do not queue up behind each other.
constexpr int kMaxPollsPerFrame = 8;
// Windows wheel units: one notch of a wheel.
constexpr float kWheelNotch = 120.0f;
// The view shows the page's memory before the first frame arrives: opaque white.
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

// ---- The viewer ----------------------------------------------------------------------------

class Viewer {
 public:
  explicit Viewer(const Options& options) : m_options(options) {}
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  // Opens the window and the page, runs until the window is closed. The engine is still
  // running afterwards (see ShutDownEngine); the pixel memory lives as long as the viewer.
  int Run();
  // LoadWeb was called, so the engine has to be shut down.
  bool EngineStarted() const { return m_engineStarted; }

 private:
  bool OpenWindow();
  void HandleEvent(const SDL_Event& event);
  void HandleMouseButton(const SDL_MouseButtonEvent& button);
  void HandleWheel(const SDL_MouseWheelEvent& wheel);
  void HandleKey(const SDL_KeyboardEvent& key);
  void HandleText(const char* utf8);
  void HandleWindowEvent(const SDL_WindowEvent& window);
  void Poll();
  void HandleResult(int result, void* text, int value);
  void PageIsThere();
  void Answer(bool accept);
  void SetPageFocus(bool focused);
  void Send(int event, int a, int b);
  void FlushMove();
  void Present();

  const Options m_options;
  SdlPointer<SDL_Window> m_window;
  SdlPointer<SDL_Renderer> m_renderer;
  SdlPointer<SDL_Texture> m_texture;  // the page
  Cursors m_cursors;
  TextPainter m_painter;
  DialogBar m_bar;
  std::vector<uint8_t> m_pixels;

  bool m_engineStarted = false;
  bool m_running = true;
  bool m_needsPresent = true;
  // The page's browser exists: input is no longer dropped by the library.
  bool m_pageThere = false;
  bool m_pageFocusedNotice = false;  // the UPDATE_FOCUSED bit last seen
  bool m_windowFocused = false;
  bool m_focusSent = false;  // the focus state last sent to the page
  int m_engineCursor = 0;
  // The left button went down on the page, so its release and the drag belong to the page.
  bool m_buttonOnPage = false;
  // The virtual-key code sent with each key's key-down (by scancode), so that its key-up goes
  // out with the same code, and only when its key-down went out.
  std::array<int, SDL_NUM_SCANCODES> m_keyDownSent{};
  // Mouse moves are sent once per batch of events: the latest position wins.
  std::optional<SDL_Point> m_pendingMove;
  bool m_pendingMoveHeld = false;
  // Wheel deltas below one Windows unit, kept for the next event (smooth-scrolling devices).
  float m_wheelRestX = 0;
  float m_wheelRestY = 0;
};

bool Viewer::OpenWindow() {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    PrintError(std::string("cannot start SDL video: ") + SDL_GetError() +
               " (no display? try ./run view, which starts a virtual one)");
    return false;
  }
  m_window.reset(SDL_CreateWindow(kProgramName, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  m_options.width, m_options.height, SDL_WINDOW_SHOWN));
  if (m_window == nullptr) {
    PrintError(std::string("cannot open a window: ") + SDL_GetError());
    return false;
  }
  m_renderer.reset(SDL_CreateRenderer(m_window.get(), -1, 0));
  if (m_renderer == nullptr) {
    PrintError(std::string("cannot draw into the window: ") + SDL_GetError());
    return false;
  }
  // Should the window come out another size than asked (a tiling window manager), the view
  // is scaled into it and SDL hands out mouse positions in view pixels.
  SDL_RenderSetLogicalSize(m_renderer.get(), m_options.width, m_options.height);
  // The library's B, G, R, A bytes, whatever the machine's byte order.
  m_texture.reset(SDL_CreateTexture(m_renderer.get(), SDL_PIXELFORMAT_BGRA32,
                                    SDL_TEXTUREACCESS_STREAMING, m_options.width,
                                    m_options.height));
  if (m_texture == nullptr) {
    PrintError(std::string("cannot make a ") + std::to_string(m_options.width) + "x" +
               std::to_string(m_options.height) + " texture: " + SDL_GetError());
    return false;
  }
  // The page paints itself opaque; its alpha bytes must not let the window show through.
  SDL_SetTextureBlendMode(m_texture.get(), SDL_BLENDMODE_NONE);
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

int Viewer::Run() {
  const std::string url =
      m_options.url ? quillo_tools::ResolveUrl(*m_options.url)
                    : std::string(quillo_tools::kHtmlSourcePrefix) + quillo_tools::DemoPageHtml();
  const size_t byteCount =
      static_cast<size_t>(m_options.width) * static_cast<size_t>(m_options.height) * 4;
  try {
    m_pixels.assign(byteCount, kBlankPixel);
  } catch (const std::bad_alloc&) {
    PrintError("cannot allocate " + std::to_string(byteCount) + " bytes of pixel memory");
    return kExitFailure;
  }
  if (!OpenWindow()) return kExitFailure;
  SDL_UpdateTexture(m_texture.get(), nullptr, m_pixels.data(), m_options.width * 4);

  if (m_options.debug) SetDebugEnable(1);
  m_engineStarted = true;
  LoadWeb(0, 0, m_options.width, m_options.height, m_pixels.data(), url.c_str(), 0,
          m_options.lang.c_str());

  // Events are handled as they come; UpdateWeb is polled on a fixed beat of kFrameMs, and in
  // between the program sleeps until the next event or the next beat.
  Uint64 nextPoll = SDL_GetTicks64();
  while (m_running) {
    SDL_Event event;
    while (m_running && SDL_PollEvent(&event)) HandleEvent(event);
    FlushMove();
    Uint64 now = SDL_GetTicks64();
    if (now >= nextPoll) {
      Poll();
      nextPoll += kFrameMs;
      if (nextPoll <= now) nextPoll = now + kFrameMs;  // fell behind: no burst to catch up
    }
    if (m_needsPresent) Present();
    now = SDL_GetTicks64();
    if (m_running && nextPoll > now)
      SDL_WaitEventTimeout(nullptr, static_cast<int>(nextPoll - now));
  }
  return kExitOk;
}

void Viewer::HandleEvent(const SDL_Event& event) {
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
      m_pendingMoveHeld = m_buttonOnPage && (event.motion.state & SDL_BUTTON_LMASK) != 0;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      HandleMouseButton(event.button);
      break;
    case SDL_MOUSEWHEEL:
      HandleWheel(event.wheel);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      HandleKey(event.key);
      break;
    case SDL_TEXTINPUT:
      HandleText(event.text.text);
      break;
    case SDL_WINDOWEVENT:
      HandleWindowEvent(event.window);
      break;
    default:
      break;
  }
}

void Viewer::HandleMouseButton(const SDL_MouseButtonEvent& button) {
  // The interface knows the left button only.
  if (button.button != SDL_BUTTON_LEFT) return;
  const bool down = button.type == SDL_MOUSEBUTTONDOWN;
  if (down) {
    if (m_bar.Shown()) {
      m_bar.Press(m_bar.HitTest(button.x, button.y));
      m_needsPresent = true;
      return;
    }
    // A click gives the page the keyboard, as it gives a window the keyboard on Windows.
    if (!m_focusSent) SetPageFocus(true);
    Send(INPUT_MOUSE | INPUT_MOUSE_DOWN, button.x, button.y);
    m_buttonOnPage = true;
    return;
  }
  if (m_buttonOnPage) {
    // The press went to the page, so its release does too, even if a dialog came up between.
    Send(INPUT_MOUSE | INPUT_MOUSE_UP, button.x, button.y);
    m_buttonOnPage = false;
    return;
  }
  if (m_bar.Shown()) {
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
  // SDL counts notches (fractions of them on smooth devices), positive up and to the right.
  // The library wants 120 units a notch, positive towards the top and the left of the page
  // (a Windows host passes WM_MOUSEWHEEL's delta as it is and WM_MOUSEHWHEEL's negated).
  m_wheelRestX -= wheel.preciseX * flip * kWheelNotch;
  m_wheelRestY += wheel.preciseY * flip * kWheelNotch;
  const int dx = static_cast<int>(std::trunc(m_wheelRestX));
  const int dy = static_cast<int>(std::trunc(m_wheelRestY));
  m_wheelRestX -= static_cast<float>(dx);
  m_wheelRestY -= static_cast<float>(dy);
  if (dx != 0 || dy != 0) Send(INPUT_MOUSE | INPUT_MOUSE_WHEEL, dx, dy);
}

void Viewer::HandleKey(const SDL_KeyboardEvent& key) {
  const SDL_Scancode scancode = key.keysym.scancode;
  if (static_cast<int>(scancode) >= SDL_NUM_SCANCODES) return;
  const int modifiers = quillo_tools::InputModifiers(key.keysym.mod);
  if (key.type == SDL_KEYUP) {
    // Only keys whose key-down went to the page, with the code it went with.
    if (const int vk = m_keyDownSent[scancode]; vk != 0) {
      Send(INPUT_KEY | INPUT_KEY_UP | modifiers, vk, 0);
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
  // A held key repeats its key-down, as on Windows.
  const int vk = quillo_tools::WindowsVirtualKey(key.keysym.sym, scancode);
  if (vk == 0) return;  // no such key on Windows; what it types still comes as text
  Send(INPUT_KEY | INPUT_KEY_DOWN | modifiers, vk, 0);
  m_keyDownSent[scancode] = vk;
}

void Viewer::HandleText(const char* utf8) {
  if (m_bar.Shown()) return;
  const int modifiers = quillo_tools::InputModifiers(static_cast<Uint16>(SDL_GetModState()));
  // One character event per UTF-16 code unit: a character above U+FFFF as its two surrogates.
  for (const char16_t unit : quillo_tools::Utf8ToUtf16(utf8))
    Send(INPUT_KEY | INPUT_KEY_CHAR | modifiers, unit, unit);
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
      break;
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      m_needsPresent = true;
      break;
    default:
      break;
  }
}

void Viewer::Poll() {
  bool newFrame = false;
  for (int i = 0; i < kMaxPollsPerFrame; ++i) {
    // The library leaves text and value alone unless a notice carries them.
    void* text = nullptr;
    int value = 0;
    const int result = UpdateWeb(&text, &value);
    if (result == -1) break;  // the engine is still starting
    if (result & UPDATE_NEW_FRAME) newFrame = true;
    HandleResult(result, text, value);
    if ((result & (UPDATE_URL | UPDATE_TITLE | UPDATE_JS_DIALOG | UPDATE_LOAD_ERROR)) == 0) break;
  }
  if (newFrame) {
    SDL_UpdateTexture(m_texture.get(), nullptr, m_pixels.data(), m_options.width * 4);
    m_needsPresent = true;
  }
}

void Viewer::HandleResult(int result, void* text, int value) {
  if (result & UPDATE_LOAD_ERROR)
    PrintLine("load-error: " + std::to_string(value) + " " + Printable(text));
  if (result & UPDATE_URL) PrintLine("url: " + Printable(text));
  if (result & UPDATE_TITLE) {
    const std::string title = text ? static_cast<const char*>(text) : "";
    PrintLine("title: " + Printable(text));
    SDL_SetWindowTitle(m_window.get(), title.empty() ? kProgramName : title.c_str());
  }
  if (result & UPDATE_JS_DIALOG) {
    PrintLine("dialog: " + DialogTypeName(value) + " " + Printable(text));
    // A newer dialog takes the place of one still shown: the library answers only the newest.
    m_bar.Show(value, text ? static_cast<const char*>(text) : "");
    m_bar.Layout(m_painter, m_options.width, m_options.height);
    m_bar.SetHover(DialogBar::Button::kNone);
    m_pendingMove.reset();
    m_cursors.Show(0);
    m_needsPresent = true;
  }
  if (result & UPDATE_POPUP_BLOCKED) PrintLine("popup-blocked");
  if (const int cursor = result & UPDATE_CURSOR_MASK; cursor != 0) {
    m_engineCursor = cursor - 1;
    if (m_options.debug) PrintLine("cursor: " + CursorDescription(m_engineCursor));
    if (!m_bar.Shown()) m_cursors.Show(m_engineCursor);
  }
  if (const bool focused = (result & UPDATE_FOCUSED) != 0; focused != m_pageFocusedNotice) {
    m_pageFocusedNotice = focused;
    PrintLine(focused ? "focus: in" : "focus: out");
  }
  // Any notice at all comes from the page's browser.
  if (result != 0) PageIsThere();
}

// The page has shown a sign of life, so its browser exists and takes input: a window that
// has had the keyboard all along hands it on now (earlier, the library would drop it).
void Viewer::PageIsThere() {
  if (m_pageThere) return;
  m_pageThere = true;
  if (m_windowFocused) SetPageFocus(true);
}

void Viewer::Answer(bool accept) {
  Send(INPUT_DIALOG, accept ? 1 : 0, 0);
  PrintLine(accept ? "dialog-answer: ok" : "dialog-answer: cancel");
  m_bar.Hide();
  m_cursors.Show(m_engineCursor);
  m_needsPresent = true;
}

void Viewer::SetPageFocus(bool focused) {
  if (!m_pageThere) return;  // sent once the page is there (PageIsThere)
  if (focused == m_focusSent) return;
  Send(INPUT_KEY | (focused ? INPUT_FOCUS_IN : INPUT_FOCUS_OUT), 0, 0);
  m_focusSent = focused;
}

// Every event goes out after the move that came before it, so that a click lands where the
// pointer is.
void Viewer::Send(int event, int a, int b) {
  FlushMove();
  InputWeb(event, a, b);
}

void Viewer::FlushMove() {
  if (!m_pendingMove) return;
  const SDL_Point point = *m_pendingMove;
  m_pendingMove.reset();
  InputWeb(INPUT_MOUSE | INPUT_MOUSE_MOVE | (m_pendingMoveHeld ? INPUT_SHIFT : 0), point.x,
           point.y);
}

void Viewer::Present() {
  m_needsPresent = false;
  SDL_Renderer* renderer = m_renderer.get();
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 0xFF);
  SDL_RenderClear(renderer);
  SDL_RenderCopy(renderer, m_texture.get(), nullptr, nullptr);
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
    // The engine paints into the viewer's memory until UnloadWeb(1) has returned, so the
    // viewer outlives the shutdown.
    Viewer viewer(options);
    exitCode = viewer.Run();
    if (viewer.EngineStarted())
      quillo_tools::ShutDownEngine(kProgramName, exitCode == kExitOk ? kExitStuck : exitCode);
  }
  SDL_Quit();
  return exitCode;
}
