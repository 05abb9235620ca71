// The sound of the browser's pages: muting it (the engine's page-wide mute: media elements and
// Web Audio play on, unheard) and following whether the page plays sound (the view's
// is-playing-audio), which the client's display handler hears of as OnAudioStateChange. The
// engine plays sound through GStreamer's automatic audio output, that is the system's sound
// server; with none, GStreamer's output still takes the samples and the page plays on.
//
// Threads: the UI thread only.
#pragma once

#include <wpe/webkit.h>

namespace quillo::engine {

class BrowserSide;

class AudioState {
 public:
  // browser owns this room by value and outlives it.
  explicit AudioState(BrowserSide& browser) : m_browser(browser) {}
  AudioState(const AudioState&) = delete;
  AudioState& operator=(const AudioState&) = delete;

  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);

  void SetMuted(bool muted);
  // The web process ended: a page that played sound has stopped.
  void ProcessGone();

  // Engine signal: is-playing-audio changed.
  void PlayingChanged();

 private:
  void Report(bool audible);

  BrowserSide& m_browser;
  bool m_audible = false;  // the last state the handler was told
};

}  // namespace quillo::engine
