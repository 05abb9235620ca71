// The C functions of quillo/views.h. Each passes through Call, so that no exception ever crosses
// into the host, a forked child does nothing, and every call but the few marked "any thread"
// runs on the host's thread only (ViewsRuntime::Enter); then each checks its arguments, refusing
// with an error code and a log line, and hands the work to the view's engine side as a task.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <string_view>
#include <vector>

#include "client/data_url.h"
#include "diagnostics/debug_log.h"
#include "platform/utf.h"
#include "quillo/views.h"
#include "views/byte_range.h"
#include "views/view_client.h"
#include "views/views_runtime.h"

#define QUILLO_VIEWS_EXPORT extern "C" __attribute__((visibility("default")))

static_assert(sizeof(void*) == 8, "view handles are 64-bit numbers");

namespace quillo::views {
namespace {

template <typename Fn>
int Call(const char16_t* name, Fn&& fn) noexcept {
  try {
    ViewsRuntime& runtime = ViewsRuntime::Get();
    if (int r = runtime.Enter(name); r != QUILLO_OK) return r;
    return fn(runtime);
  } catch (const std::bad_alloc&) {
    QLOG(u"%s => QUILLO_ERROR_NO_MEMORY: out of memory", name);
    return QUILLO_ERROR_NO_MEMORY;
  } catch (...) {
    QLOG(u"%s => exception stopped at the boundary", name);
    return QUILLO_ERROR_NO_MEMORY;
  }
}

// The view of handle, or a refusal: for calls that act on one view.
template <typename Fn>
int OnView(const char16_t* name, quillo_view* handle, Fn&& fn) noexcept {
  return Call(name, [&](ViewsRuntime& runtime) {
    HostView* view = nullptr;
    if (int r = runtime.Find(handle, &view); r != QUILLO_OK) return r;
    return fn(runtime, *view);
  });
}

// The most bytes one quillo_view_respond takes.
constexpr size_t kMaxResponsePiece = size_t{256} << 20;

// The open request an answer names, and its MIME type checked (read by first answers only).
int CheckAnswer(ViewsRuntime& runtime, HostView& view, uint64_t id, const char* mimeType,
                HostView::OpenRequest** request, std::string* mime) {
  *request = view.FindRequest(id);
  if (*request == nullptr)
    return runtime.Refuse(QUILLO_ERROR_NOT_FOUND,
                          "request " + std::to_string(id) +
                              " is not open (ended, let go of by its page, or never was)");
  if ((*request)->answered) return QUILLO_OK;
  *mime = mimeType ? std::string(mimeType, strnlen(mimeType, 256)) : "";
  if (mime->size() >= 256 ||
      !std::all_of(mime->begin(), mime->end(), [](char c) { return c >= ' ' && c < 127; }))
    return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                          "the MIME type is longer than 255 bytes or not printable ASCII");
  return QUILLO_OK;
}

// The head of an answer to a request that ranges are answered for: its status, the part's
// length and where it lies.
void RangeHead(const RangeAnswer& part, ResourceAnswer* answer) {
  answer->status = part.status;
  answer->length = static_cast<int64_t>(part.count);
  answer->headers.emplace_back("Accept-Ranges", "bytes");
  answer->headers.emplace_back("Content-Length", std::to_string(part.count));
  if (part.status != 200) answer->headers.emplace_back("Content-Range", part.ContentRange());
}

std::string HtmlAddress(const char* html) {
  return BuildDataUrl(html, "text/html");
}

}  // namespace
}  // namespace quillo::views

using quillo::views::AnswerRange;
using quillo::views::Call;
using quillo::views::HostView;
using quillo::views::OnView;
using quillo::views::RangeAnswer;
using quillo::views::ResourceAnswer;
using quillo::views::ViewClient;
using quillo::views::ViewsRuntime;

QUILLO_VIEWS_EXPORT const char* quillo_result_text(int result) {
  switch (result) {
    case QUILLO_OK:
      return "QUILLO_OK";
    case QUILLO_ERROR_NULL_ARGUMENT:
      return "QUILLO_ERROR_NULL_ARGUMENT: a pointer the call needs is null";
    case QUILLO_ERROR_BAD_HANDLE:
      return "QUILLO_ERROR_BAD_HANDLE: a null, destroyed or foreign view handle";
    case QUILLO_ERROR_BAD_SIZE:
      return "QUILLO_ERROR_BAD_SIZE: a width or height outside 1..QUILLO_MAX_SIDE";
    case QUILLO_ERROR_BAD_STRIDE:
      return "QUILLO_ERROR_BAD_STRIDE: a stride below width * 4";
    case QUILLO_ERROR_BAD_CONFIG:
      return "QUILLO_ERROR_BAD_CONFIG: an unknown config size or a field out of its range";
    case QUILLO_ERROR_BAD_ARGUMENT:
      return "QUILLO_ERROR_BAD_ARGUMENT: an argument out of its range";
    case QUILLO_ERROR_WRONG_THREAD:
      return "QUILLO_ERROR_WRONG_THREAD: not the host's thread";
    case QUILLO_ERROR_SHUT_DOWN:
      return "QUILLO_ERROR_SHUT_DOWN: the engine has shut down";
    case QUILLO_ERROR_ENGINE_IN_USE:
      return "QUILLO_ERROR_ENGINE_IN_USE: the functions of quillo.h hold this process's engine";
    case QUILLO_ERROR_NO_MEMORY:
      return "QUILLO_ERROR_NO_MEMORY: out of memory";
    case QUILLO_ERROR_LIMIT:
      return "QUILLO_ERROR_LIMIT: QUILLO_MAX_VIEWS views exist already";
    case QUILLO_ERROR_NOT_FOUND:
      return "QUILLO_ERROR_NOT_FOUND: no open dialog, message or request with that id";
    case QUILLO_ERROR_FORKED:
      return "QUILLO_ERROR_FORKED: in the child of a fork()";
    default:
      return "unknown result";
  }
}

QUILLO_VIEWS_EXPORT void quillo_set_log(int enable) {
  quillo::Configuration::GetInstance()->SetDebug(enable == 1);
}

QUILLO_VIEWS_EXPORT int quillo_view_create(const quillo_view_config* config, const char* url,
                                           quillo_view** view) {
  return Call(u"quillo_view_create",
              [&](ViewsRuntime& runtime) { return runtime.Create(config, url ? url : "", view); });
}

QUILLO_VIEWS_EXPORT int quillo_view_create_html(const quillo_view_config* config, const char* html,
                                                quillo_view** view) {
  return Call(u"quillo_view_create_html", [&](ViewsRuntime& runtime) {
    if (html == nullptr) return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "html is null");
    return runtime.Create(config, quillo::views::HtmlAddress(html), view);
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_destroy(quillo_view* view) {
  return Call(u"quillo_view_destroy", [&](ViewsRuntime& runtime) { return runtime.Destroy(view); });
}

QUILLO_VIEWS_EXPORT int quillo_pump(void) {
  return Call(u"quillo_pump", [&](ViewsRuntime& runtime) { return runtime.Pump(); });
}

QUILLO_VIEWS_EXPORT int quillo_shutdown(void) {
  return Call(u"quillo_shutdown", [&](ViewsRuntime& runtime) { return runtime.Shutdown(); });
}

QUILLO_VIEWS_EXPORT int quillo_view_next_notice(quillo_view* view, quillo_notice* notice) {
  return OnView(u"quillo_view_next_notice", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (notice == nullptr) return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "notice is null");
    if (notice->size < quillo::views::kFirstNoticeSize)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "notice size " + std::to_string(notice->size) +
                                " is below the first version's (set it with quillo_notice_init)");
    return v.NextNotice(notice);
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_resize(quillo_view* view, int width, int height, void* pixels,
                                           size_t stride) {
  return OnView(u"quillo_view_resize", view, [&](ViewsRuntime& runtime, HostView& v) {
    return runtime.Resize(v, width, height, pixels, stride, v.Settings().scale);
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_device_scale(quillo_view* view, double scale) {
  return OnView(u"quillo_view_set_device_scale", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (!quillo::views::ValidScale(scale))
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT, "scale is outside 0.25..8");
    const quillo::views::Memory& m = v.Settings().memory;
    return runtime.Resize(v, m.width, m.height, m.pixels, m.stride, scale);
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_hidden(quillo_view* view, int hidden) {
  return OnView(u"quillo_view_set_hidden", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [hidden = hidden != 0](ViewClient& c) { c.SetHidden(hidden); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_load_url(quillo_view* view, const char* url) {
  return OnView(u"quillo_view_load_url", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (url == nullptr) return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "url is null");
    runtime.Post(v, [target = std::string(url)](ViewClient& c) { c.LoadUrl(target); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_load_html(quillo_view* view, const char* html) {
  return OnView(u"quillo_view_load_html", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (html == nullptr) return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "html is null");
    runtime.Post(v,
                 [target = quillo::views::HtmlAddress(html)](ViewClient& c) { c.LoadUrl(target); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_go_back(quillo_view* view) {
  return OnView(u"quillo_view_go_back", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.GoBack(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_go_forward(quillo_view* view) {
  return OnView(u"quillo_view_go_forward", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.GoForward(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_reload(quillo_view* view) {
  return OnView(u"quillo_view_reload", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.Reload(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_stop(quillo_view* view) {
  return OnView(u"quillo_view_stop", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.Stop(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_mouse_move(quillo_view* view, int x, int y,
                                               unsigned modifiers) {
  return OnView(u"quillo_view_mouse_move", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [=](ViewClient& c) { c.MouseMove(x, y, modifiers); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_mouse_button(quillo_view* view, int button, int down, int x,
                                                 int y, int click_count, unsigned modifiers) {
  return OnView(u"quillo_view_mouse_button", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (button != QUILLO_BUTTON_LEFT && button != QUILLO_BUTTON_MIDDLE &&
        button != QUILLO_BUTTON_RIGHT)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "button " + std::to_string(button) + " is not a QUILLO_BUTTON_*");
    if (click_count < 1 || click_count > 3)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "click_count " + std::to_string(click_count) + " is outside 1..3");
    runtime.Post(v, [=, down = down != 0](ViewClient& c) {
      c.MouseButton(button, down, x, y, click_count, modifiers);
    });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_mouse_wheel(quillo_view* view, int x, int y, int delta_x,
                                                int delta_y, unsigned modifiers) {
  return OnView(u"quillo_view_mouse_wheel", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [=](ViewClient& c) { c.MouseWheel(x, y, delta_x, delta_y, modifiers); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_key(quillo_view* view, int action, int key_code,
                                        unsigned modifiers, const char* text) {
  return OnView(u"quillo_view_key", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (action != QUILLO_KEY_DOWN && action != QUILLO_KEY_UP)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "action " + std::to_string(action) + " is not a QUILLO_KEY_*");
    if (key_code < 0 || key_code > 0xFF)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "key_code " + std::to_string(key_code) + " is outside 0..255");
    if (key_code == 0 && (text == nullptr || *text == '\0'))
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT, "neither a key_code nor text");
    const std::u16string units = text ? quillo::platform::Utf8ToUtf16(text) : std::u16string();
    runtime.Post(v, [=](ViewClient& c) {
      c.KeyAndText(action == QUILLO_KEY_DOWN, key_code, modifiers, units);
    });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_touch(quillo_view* view, int action, int id, int x, int y,
                                          unsigned modifiers) {
  return OnView(u"quillo_view_touch", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (action < QUILLO_TOUCH_START || action > QUILLO_TOUCH_CANCEL)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "action " + std::to_string(action) + " is not a QUILLO_TOUCH_*");
    if (id < 0)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "touch id " + std::to_string(id) + " is negative");
    if (x < -QUILLO_MAX_SIDE || x > QUILLO_MAX_SIDE || y < -QUILLO_MAX_SIDE || y > QUILLO_MAX_SIDE)
      return runtime.Refuse(
          QUILLO_ERROR_BAD_ARGUMENT,
          "position " + std::to_string(x) + "," + std::to_string(y) + " is outside -16384..16384");
    std::set<int>& down = v.TouchPoints();
    const bool isDown = down.count(id) == 1;
    if (action == QUILLO_TOUCH_START && isDown)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "touch point " + std::to_string(id) + " is down already");
    if (action != QUILLO_TOUCH_START && !isDown)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "touch point " + std::to_string(id) + " is not down");
    if (action == QUILLO_TOUCH_START && down.size() >= QUILLO_MAX_TOUCH_POINTS)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            std::to_string(down.size()) + " touch points are down already (" +
                                std::to_string(QUILLO_MAX_TOUCH_POINTS) + " at most)");
    if (action == QUILLO_TOUCH_START)
      down.insert(id);
    else if (action != QUILLO_TOUCH_MOVE)
      down.erase(id);
    runtime.Post(v, [=](ViewClient& c) { c.Touch(action, id, x, y, modifiers); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_muted(quillo_view* view, int muted) {
  return OnView(u"quillo_view_set_muted", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [muted = muted != 0](ViewClient& c) { c.SetMuted(muted); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_focus(quillo_view* view, int focused) {
  return OnView(u"quillo_view_set_focus", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [focused = focused != 0](ViewClient& c) { c.SetFocus(focused); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_answer_dialog(quillo_view* view, uint64_t dialog_id, int accept,
                                                  const char* prompt_text) {
  return OnView(u"quillo_view_answer_dialog", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (!v.TakeOpenDialog(dialog_id))
      return runtime.Refuse(QUILLO_ERROR_NOT_FOUND, "dialog " + std::to_string(dialog_id) +
                                                        " is not open (answered, or never was)");
    runtime.Post(v, [=, accept = accept != 0, text = std::string(prompt_text ? prompt_text : "")](
                        ViewClient& c) { c.AnswerDialog(dialog_id, accept, text); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_zoom(quillo_view* view, double zoom) {
  return OnView(u"quillo_view_set_zoom", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (!quillo::views::ValidZoom(zoom))
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT, "zoom is outside 0.25..5");
    v.MutableSettings().zoom = zoom;
    runtime.Post(v, [zoom](ViewClient& c) { c.SetZoom(zoom); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_frame_rate(quillo_view* view, int frames_per_second) {
  return OnView(u"quillo_view_set_frame_rate", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (!quillo::views::ValidFrameRate(frames_per_second))
      return runtime.Refuse(
          QUILLO_ERROR_BAD_ARGUMENT,
          "frames_per_second " + std::to_string(frames_per_second) + " is outside 1..240");
    v.MutableSettings().frameRate = frames_per_second;
    runtime.Post(v, [frames_per_second](ViewClient& c) { c.SetFrameRate(frames_per_second); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_set_user_agent(quillo_view* view, const char* user_agent) {
  return OnView(u"quillo_view_set_user_agent", view, [&](ViewsRuntime& runtime, HostView& v) {
    std::string agent = user_agent ? user_agent : "";
    v.MutableSettings().userAgent = agent;
    runtime.Post(v, [agent](ViewClient& c) { c.SetUserAgent(agent); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_eval(quillo_view* view, const char* script,
                                         uint64_t request_id) {
  return OnView(u"quillo_view_eval", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (script == nullptr) return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "script is null");
    runtime.Post(v, [code = std::string(script), request_id](ViewClient& c) {
      c.Evaluate(code, request_id);
    });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_register_scheme(const char* scheme) {
  return Call(u"quillo_register_scheme", [&](ViewsRuntime& runtime) {
    if (scheme == nullptr) return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "scheme is null");
    return runtime.RegisterScheme(std::string(scheme, strnlen(scheme, 64)));
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_respond(quillo_view* view, uint64_t request_id, int status,
                                            const char* mime_type, const void* data, size_t size,
                                            int done) {
  return OnView(u"quillo_view_respond", view, [&](ViewsRuntime& runtime, HostView& v) {
    HostView::OpenRequest* request = nullptr;
    std::string mime;
    if (int r = quillo::views::CheckAnswer(runtime, v, request_id, mime_type, &request, &mime);
        r != QUILLO_OK)
      return r;
    if (data == nullptr && size > 0)
      return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, "data is null and size is not 0");
    if (size > quillo::views::kMaxResponsePiece)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "size " + std::to_string(size) + " is above one answer's 256 MiB");
    const auto* bytes = static_cast<const char*>(data ? data : "");
    ResourceAnswer answer;
    answer.done = done != 0;
    if (!request->answered) {
      if (status != 0 && (status < 100 || status > 599))
        return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                              "status " + std::to_string(status) + " is neither 0 nor 100..599");
      answer.status = status;
      answer.mime = std::move(mime);
    }
    if (request->promised && size > request->expected - request->sent)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "the answer's " + std::to_string(size) + " bytes go past the " +
                                std::to_string(request->expected) + " its head promised (" +
                                std::to_string(request->sent) + " sent)");
    if (!request->answered && status == 200 && answer.done) {
      // The whole resource in one piece: the part a Range asks for is cut from it.
      const RangeAnswer part = AnswerRange(request->range, request->ifRange, size);
      quillo::views::RangeHead(part, &answer);
      answer.bytes.assign(bytes + part.first, part.count);
    } else {
      answer.bytes.assign(bytes, size);
    }
    if (request->promised) {
      request->sent += size;
      if (answer.done && request->sent < request->expected)
        QLOG(
            u"quillo_view_respond => request %d ended after %d of the %d bytes its head "
            u"promised: the page gets it short",
            static_cast<int>(request_id), static_cast<int>(request->sent),
            static_cast<int>(request->expected));
    }
    request->answered = true;
    if (answer.status == 0 || answer.done) v.EndRequest(request_id);
    runtime.Post(v, [request_id, answer = std::move(answer)](ViewClient& c) mutable {
      c.Respond(request_id, std::move(answer));
    });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_respond_range(quillo_view* view, uint64_t request_id,
                                                  const char* mime_type, const void* data,
                                                  uint64_t total_size, uint64_t* first,
                                                  uint64_t* count) {
  return OnView(u"quillo_view_respond_range", view, [&](ViewsRuntime& runtime, HostView& v) {
    HostView::OpenRequest* request = nullptr;
    std::string mime;
    if (int r = quillo::views::CheckAnswer(runtime, v, request_id, mime_type, &request, &mime);
        r != QUILLO_OK)
      return r;
    if (request->answered)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "request " + std::to_string(request_id) +
                                " was answered before: a ranged answer must be its first");
    const RangeAnswer part = AnswerRange(request->range, request->ifRange, total_size);
    if (data != nullptr && part.count > quillo::views::kMaxResponsePiece)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "the part of " + std::to_string(part.count) +
                                " bytes is above one answer's 256 MiB: send it in pieces");
    ResourceAnswer answer;
    answer.status = part.status;
    answer.mime = std::move(mime);
    quillo::views::RangeHead(part, &answer);
    if (data != nullptr) {
      answer.bytes.assign(static_cast<const char*>(data) + part.first, part.count);
      answer.done = true;
    } else {
      answer.done = part.count == 0;
      request->promised = true;
      request->expected = part.count;
    }
    if (first) *first = part.first;
    if (count) *count = part.count;
    request->answered = true;
    if (answer.done) v.EndRequest(request_id);
    runtime.Post(v, [request_id, answer = std::move(answer)](ViewClient& c) mutable {
      c.Respond(request_id, std::move(answer));
    });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_reply(quillo_view* view, uint64_t message_id, int ok,
                                          const char* text) {
  return OnView(u"quillo_view_reply", view, [&](ViewsRuntime& runtime, HostView& v) {
    if (!v.TakeOpenMessage(message_id))
      return runtime.Refuse(QUILLO_ERROR_NOT_FOUND, "message " + std::to_string(message_id) +
                                                        " is not waiting (answered, or never was)");
    runtime.Post(v, [=, answer = std::string(text ? text : "")](ViewClient& c) {
      c.Reply(message_id, ok != 0, answer);
    });
    return QUILLO_OK;
  });
}

// ---- Composition input and the clipboard ----------------------------------------------------

namespace quillo::views {
namespace {

// Reads the host's UTF-8 text argument name into *out: QUILLO_OK, or the refusal (null, longer
// than most bytes, not well-formed UTF-8), logged. Reads at most most + 1 bytes of it.
int TextArgument(ViewsRuntime& runtime, const char* name, const char* text, size_t most,
                 std::string* out) {
  if (text == nullptr)
    return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT, std::string(name) + " is null");
  const size_t length = strnlen(text, most + 1);
  if (length > most)
    return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                          std::string(name) + " is longer than " + std::to_string(most) + " bytes");
  std::string_view view(text, length);
  if (!quillo::platform::IsValidUtf8(view))
    return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT, std::string(name) + " is not UTF-8");
  out->assign(view);
  return QUILLO_OK;
}

// UTF-16 offset of each character (code point) of utf16, and of its end: size characters + 1.
std::vector<uint32_t> CharacterOffsets(const std::u16string& utf16) {
  std::vector<uint32_t> offsets;
  for (size_t i = 0; i < utf16.size(); ++i) {
    offsets.push_back(static_cast<uint32_t>(i));
    if (utf16[i] >= 0xD800 && utf16[i] <= 0xDBFF && i + 1 < utf16.size()) ++i;
  }
  offsets.push_back(static_cast<uint32_t>(utf16.size()));
  return offsets;
}

}  // namespace
}  // namespace quillo::views

QUILLO_VIEWS_EXPORT int quillo_view_ime_set_composition(quillo_view* view, const char* text,
                                                        const quillo_ime_underline* underlines,
                                                        size_t underline_count, int selection_start,
                                                        int selection_end) {
  return OnView(u"quillo_view_ime_set_composition", view, [&](ViewsRuntime& runtime, HostView& v) {
    std::string utf8;
    if (int r =
            quillo::views::TextArgument(runtime, "text", text, QUILLO_MAX_COMPOSITION_BYTES, &utf8);
        r != QUILLO_OK)
      return r;
    if (underline_count > 0 && underlines == nullptr)
      return runtime.Refuse(QUILLO_ERROR_NULL_ARGUMENT,
                            "underlines is null, underline_count not 0");
    if (underline_count > QUILLO_MAX_IME_UNDERLINES)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "underline_count " + std::to_string(underline_count) + " is above " +
                                std::to_string(QUILLO_MAX_IME_UNDERLINES));
    const std::u16string units = quillo::platform::Utf8ToUtf16(utf8);
    const std::vector<uint32_t> offsets = quillo::views::CharacterOffsets(units);
    const int length = static_cast<int>(offsets.size()) - 1;
    if (selection_start < 0 || selection_start > selection_end || selection_end > length)
      return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                            "selection " + std::to_string(selection_start) + ".." +
                                std::to_string(selection_end) + " is outside the text's 0.." +
                                std::to_string(length) + " characters");
    std::vector<CefCompositionUnderline> marks;
    for (size_t i = 0; i < underline_count; ++i) {
      const quillo_ime_underline& u = underlines[i];
      if (u.start < 0 || u.start >= u.end || u.end > length)
        return runtime.Refuse(QUILLO_ERROR_BAD_ARGUMENT,
                              "underline " + std::to_string(i) + " (" + std::to_string(u.start) +
                                  ".." + std::to_string(u.end) + ") is not within the text's 0.." +
                                  std::to_string(length) + " characters");
      CefCompositionUnderline mark;
      mark.range = CefRange(offsets[u.start], offsets[u.end]);
      mark.color = u.color;
      marks.push_back(mark);
    }
    runtime.Post(v, [units, marks = std::move(marks), caret = offsets[selection_start]](
                        ViewClient& c) { c.ImeSetComposition(units, marks, caret); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_ime_commit(quillo_view* view, const char* text) {
  return OnView(u"quillo_view_ime_commit", view, [&](ViewsRuntime& runtime, HostView& v) {
    std::string utf8;
    if (int r = quillo::views::TextArgument(runtime, "text", text, QUILLO_MAX_COMMIT_BYTES, &utf8);
        r != QUILLO_OK)
      return r;
    runtime.Post(
        v, [units = quillo::platform::Utf8ToUtf16(utf8)](ViewClient& c) { c.ImeCommit(units); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_ime_cancel(quillo_view* view) {
  return OnView(u"quillo_view_ime_cancel", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.ImeCancel(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_copy(quillo_view* view) {
  return OnView(u"quillo_view_copy", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.Copy(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_cut(quillo_view* view) {
  return OnView(u"quillo_view_cut", view, [&](ViewsRuntime& runtime, HostView& v) {
    runtime.Post(v, [](ViewClient& c) { c.Cut(); });
    return QUILLO_OK;
  });
}

QUILLO_VIEWS_EXPORT int quillo_view_paste(quillo_view* view, const char* text, const char* html) {
  return OnView(u"quillo_view_paste", view, [&](ViewsRuntime& runtime, HostView& v) {
    std::string plain, markup;
    if (int r = quillo::views::TextArgument(runtime, "text", text, QUILLO_MAX_PASTE_BYTES, &plain);
        r != QUILLO_OK)
      return r;
    if (html != nullptr) {
      if (int r =
              quillo::views::TextArgument(runtime, "html", html, QUILLO_MAX_PASTE_BYTES, &markup);
          r != QUILLO_OK)
        return r;
    }
    runtime.Post(v, [plain = std::move(plain), markup = std::move(markup)](ViewClient& c) {
      c.Paste(plain, markup);
    });
    return QUILLO_OK;
  });
}
