#include "wpe/page/audio_state.h"

#include "diagnostics/debug_log.h"
#include "wpe/process/ui_thread.h"
#include "wpe/room/browser_side.h"

namespace quillo::engine {
namespace {

void OnPlayingAudio(WebKitWebView*, GParamSpec*, gpointer self) {
  static_cast<AudioState*>(self)->PlayingChanged();
}

}  // namespace

void AudioState::Attach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_connect(view, "notify::is-playing-audio", G_CALLBACK(OnPlayingAudio), this);
}

void AudioState::Detach(WebKitWebView* view) {
  QUILLO_REQUIRE_UI_THREAD();
  g_signal_handlers_disconnect_by_func(view, reinterpret_cast<gpointer>(OnPlayingAudio), this);
}

void AudioState::SetMuted(bool muted) {
  QUILLO_REQUIRE_UI_THREAD();
  webkit_web_view_set_is_muted(m_browser.View(), muted);
}

void AudioState::PlayingChanged() {
  QUILLO_REQUIRE_UI_THREAD();
  Report(webkit_web_view_is_playing_audio(m_browser.View()) != FALSE);
}

void AudioState::ProcessGone() {
  QUILLO_REQUIRE_UI_THREAD();
  Report(false);
}

void AudioState::Report(bool audible) {
  if (audible == m_audible || m_browser.ViewGone()) return;
  m_audible = audible;
  QLOG(u"AudioState => the page %s playing sound", audible ? u"started" : u"stopped");
  if (CefRefPtr<CefDisplayHandler> display = m_browser.Client().GetDisplayHandler())
    display->OnAudioStateChange(m_browser.Browser(), audible);
}

}  // namespace quillo::engine
