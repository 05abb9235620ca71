// The library's extension inside the engine's web process. It reports script
// contexts per frame, console messages and uncaught exceptions, and the
// documents that sub-frames commit, and it points a failed sub-frame at its
// error page. Its own script runs in an isolated world; in the page's world
// it only wraps the console methods (console_hook.h). Before any page, it
// confines its process.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <wpe/webkit-web-extension.h>

#include <cstdint>
#include <cstdio>
#include <map>

#include "webext/confinement.h"
#include "webext/console_hook.h"
#include "webext/frame_watch.h"
#include "webext/media_source.h"
#include "webext/protocol.h"

namespace {

using namespace quillo::webext;

// Per page: the frames whose script context is live, by frame id. Frames are
// not held; a frame that goes away releases its context (frame_watch.h).
struct PageState {
  WebKitWebPage* page;
  std::map<uint64_t, WebKitFrame*> live;
};

WebKitScriptWorld* g_isolatedWorld = nullptr;

void Send(WebKitWebPage* page, const char* name, GVariant* parameters) {
  if (page == nullptr) {
    g_variant_unref(g_variant_ref_sink(parameters));
    return;
  }
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(name, parameters), nullptr,
                                       nullptr, nullptr);
}

void SendContext(PageState* state, bool created, uint64_t id, bool main, const char* uri) {
  // The process id tells the library whose contexts these are: a page that
  // moves to another web process leaves its old contexts behind.
  Send(state->page, kContextMessage,
       g_variant_new("(btbst)", created, static_cast<guint64>(id), main, uri ? uri : "",
                     static_cast<guint64>(getpid())));
}

void OnFrameGone(void* data, uint64_t id) {
  auto* state = static_cast<PageState*>(data);
  auto it = state->live.find(id);
  if (it != state->live.end()) {
    state->live.erase(it);
    SendContext(state, false, id, false, "");
  }
}

void Release(PageState* state, uint64_t id) {
  auto it = state->live.find(id);
  if (it == state->live.end()) return;
  WebKitFrame* frame = it->second;
  const bool main = webkit_frame_is_main_frame(frame);
  state->live.erase(it);
  SendContext(state, false, id, main, webkit_frame_get_uri(frame));
}

void OnWindowObjectCleared(WebKitScriptWorld*, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer data) {
  auto* state = static_cast<PageState*>(data);
  if (state->page == nullptr || page != state->page) return;
  HookConsole(page, frame);
  const uint64_t id = webkit_frame_get_id(frame);
  const bool main = webkit_frame_is_main_frame(frame);
  const char* uri = webkit_frame_get_uri(frame);
  if (main) {
    // A new main document: the old page's contexts are all gone.
    while (!state->live.empty()) Release(state, state->live.begin()->first);
  } else {
    Release(state, id);
    Send(page, kSubframeNavigated, g_variant_new("(ts)", static_cast<guint64>(id), uri ? uri : ""));
  }
  state->live[id] = frame;
  WatchFrame(G_OBJECT(frame), id, OnFrameGone, state);
  SendContext(state, true, id, main, uri);
}

void OnConsoleMessage(WebKitWebPage* page, WebKitConsoleMessage* message, gpointer) {
  // The console wrapper has already reported the calls it made.
  if (ConsoleHookIsReporting() &&
      webkit_console_message_get_source(message) == WEBKIT_CONSOLE_MESSAGE_SOURCE_CONSOLE_API)
    return;
  const bool uncaught =
      webkit_console_message_get_source(message) == WEBKIT_CONSOLE_MESSAGE_SOURCE_JAVASCRIPT &&
      webkit_console_message_get_level(message) == WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR;
  const char* text = webkit_console_message_get_text(message);
  const char* source = webkit_console_message_get_source_id(message);
  Send(page, kConsoleMessage,
       g_variant_new("(ssuub)", text ? text : "", source ? source : "",
                     webkit_console_message_get_line(message),
                     static_cast<guint>(webkit_console_message_get_level(message)), uncaught));
}

// Points every frame element whose URL is `failed` at `next`, in every
// known frame's document.
void ReplaceSubframe(PageState* state, const char* failed, const char* next) {
  if (state->page == nullptr) return;
  static const char kScript[] =
      "(function (failed, next) {"
      "  for (const f of document.querySelectorAll('iframe, frame'))"
      "    if (f.src === failed) f.src = next;"
      "})";
  std::map<uint64_t, WebKitFrame*> frames = state->live;
  frames[webkit_frame_get_id(webkit_web_page_get_main_frame(state->page))] =
      webkit_web_page_get_main_frame(state->page);
  for (auto& [id, frame] : frames) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, g_isolatedWorld);
    if (context == nullptr) continue;
    JSCValue* function = jsc_context_evaluate(context, kScript, -1);
    if (function && jsc_value_is_function(function)) {
      JSCValue* result = jsc_value_function_call(function, G_TYPE_STRING, failed, G_TYPE_STRING,
                                                 next, G_TYPE_NONE);
      if (result) g_object_unref(result);
    }
    if (function) g_object_unref(function);
    g_object_unref(context);
  }
}

gboolean OnUserMessage(WebKitWebPage*, WebKitUserMessage* message, gpointer data) {
  auto* state = static_cast<PageState*>(data);
  if (g_strcmp0(webkit_user_message_get_name(message), kReplaceSubframe) != 0) return FALSE;
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ss)")))
    return TRUE;
  const char* failed = nullptr;
  const char* next = nullptr;
  g_variant_get(parameters, "(&s&s)", &failed, &next);
  ReplaceSubframe(state, failed, next);
  return TRUE;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  // The state outlives the page (frames may report after it), marked dead.
  auto* state = new PageState{page, {}};
  g_object_set_data_full(G_OBJECT(page), "quillo-page-state", state, [](gpointer data) {
    auto* dead = static_cast<PageState*>(data);
    g_signal_handlers_disconnect_by_data(webkit_script_world_get_default(), dead);
    dead->page = nullptr;
  });
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(OnWindowObjectCleared), state);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  g_signal_connect(page, "console-message-sent", G_CALLBACK(OnConsoleMessage), nullptr);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_signal_connect(page, "user-message-received", G_CALLBACK(OnUserMessage), state);
  AddMediaPage(page);
}

void RegisterMediaSchemes(GVariant* schemes) {
  GVariantIter iter;
  g_variant_iter_init(&iter, schemes);
  const char* scheme = nullptr;
  while (g_variant_iter_next(&iter, "&s", &scheme)) RegisterMediaScheme(scheme);
}

gboolean OnExtensionMessage(WebKitWebExtension*, WebKitUserMessage* message, gpointer) {
  GVariant* parameters = webkit_user_message_get_parameters(message);
  if (g_strcmp0(webkit_user_message_get_name(message), kMediaSchemes) != 0 || !parameters ||
      !g_variant_is_of_type(parameters, G_VARIANT_TYPE("as")))
    return FALSE;
  RegisterMediaSchemes(parameters);
  return TRUE;
}

// The process ends with the host: killed when the thread that started it
// goes. `host` is the host's process id, 0 when it is not visible here (a
// sandbox of its own pid namespace, which ends with the host itself).
void DieWithHost(gint32 host) {
  prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  if (host > 0 && getppid() != host) _exit(0);  // the host went before the line above
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, GVariant* data) {
  gint32 host = 0;
  GVariant* schemes = nullptr;
  if (data && g_variant_is_of_type(data, G_VARIANT_TYPE(kInitialisationData)))
    g_variant_get(data, "(i@as)", &host, &schemes);
  DieWithHost(host);
  UseOwnCaches();
  const ConfinementResult confinement = ConfineProcess(WebProcessRules());
  if (!confinement.confined)
    fprintf(stderr, "quillo: web process not confined: %s\n", confinement.why.c_str());
  else if (confinement.unconfinedThreads > 0)
    fprintf(stderr, "quillo: web process confined, but %d of its threads are not\n",
            confinement.unconfinedThreads);
  g_isolatedWorld = webkit_script_world_new();
  g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
  g_signal_connect(extension, "user-message-received", G_CALLBACK(OnExtensionMessage), nullptr);
  if (schemes) {
    RegisterMediaSchemes(schemes);
    g_variant_unref(schemes);
  }
}
