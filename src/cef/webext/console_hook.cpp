#include "webext/console_hook.h"

#include <cstddef>
#include <memory>
#include <string>

#include "webext/protocol.h"

namespace quillo::webext {
namespace {

// Longer messages are cut: a page that logs a whole document must not flood
// the channel to the library.
constexpr size_t kMaxMessageBytes = 4096;

struct Method {
  const char* name;
  WebKitConsoleMessageLevel level;
};
constexpr Method kMethods[] = {
    {"log", WEBKIT_CONSOLE_MESSAGE_LEVEL_LOG},      {"info", WEBKIT_CONSOLE_MESSAGE_LEVEL_INFO},
    {"warn", WEBKIT_CONSOLE_MESSAGE_LEVEL_WARNING}, {"error", WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR},
    {"debug", WEBKIT_CONSOLE_MESSAGE_LEVEL_DEBUG},
};
constexpr size_t kMethodCount = sizeof(kMethods) / sizeof(kMethods[0]);

// How many wrapped console calls are running. Web process main thread only.
int g_reportingDepth = 0;

// One document's original console methods and where its messages go. The
// frame owns it (as object data) until the frame gets a new document or goes
// away; then Release drops the originals. They must not live as long as the
// wrappers: an original holds its document's global object, which holds the
// wrappers, so the document could never be collected.
struct HookedConsole {
  GWeakRef page;
  std::string source;
  JSCValue* originals[kMethodCount] = {};

  explicit HookedConsole(WebKitWebPage* of, const char* uri) : source(uri ? uri : "") {
    g_weak_ref_init(&page, of);
  }
  ~HookedConsole() {
    Release();
    g_weak_ref_clear(&page);
  }
  HookedConsole(const HookedConsole&) = delete;
  HookedConsole& operator=(const HookedConsole&) = delete;

  void Release() {
    for (JSCValue*& original : originals) g_clear_object(&original);
  }
};

// What one wrapper function needs: its document's console and its method.
struct Wrapper {
  std::shared_ptr<HookedConsole> console;
  size_t method;
};

// Appends one argument the way a console line shows it. Only primitives are
// converted by the engine; objects are named by kind, so no toString of the
// page runs.
void AppendArgument(std::string& text, JSCValue* value) {
  if (jsc_value_is_function(value)) {
    text += "function";
  } else if (jsc_value_is_array(value)) {
    text += "[object Array]";
  } else if (jsc_value_is_object(value)) {
    text += "[object Object]";
  } else {
    // A primitive. A symbol cannot be converted: its conversion throws,
    // and the exception must not reach the page.
    JSCContext* context = jsc_value_get_context(value);
    char* converted = jsc_value_to_string(value);
    if (jsc_context_get_exception(context) != nullptr) {
      jsc_context_clear_exception(context);
      text += "Symbol()";
    } else if (converted != nullptr) {
      text += converted;
    }
    g_free(converted);
  }
}

std::string MessageText(GPtrArray* arguments) {
  std::string text;
  for (guint i = 0; i < arguments->len && text.size() <= kMaxMessageBytes; ++i) {
    if (i > 0) text += ' ';
    AppendArgument(text, static_cast<JSCValue*>(arguments->pdata[i]));
  }
  char* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  text = valid;
  g_free(valid);
  if (text.size() > kMaxMessageBytes) {
    size_t cut = kMaxMessageBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

void CallWrapped(GPtrArray* arguments, gpointer data) {
  auto* wrapper = static_cast<Wrapper*>(data);
  HookedConsole& console = *wrapper->console;
  if (auto* page = static_cast<WebKitWebPage*>(g_weak_ref_get(&console.page))) {
    const std::string text = MessageText(arguments);
    GVariant* parameters =
        g_variant_new("(ssuub)", text.c_str(), console.source.c_str(), 0u,
                      static_cast<guint>(kMethods[wrapper->method].level), FALSE);
    webkit_web_page_send_message_to_view(page, webkit_user_message_new(kConsoleMessage, parameters),
                                         nullptr, nullptr, nullptr);
    g_object_unref(page);
  }
  JSCValue* original = console.originals[wrapper->method];
  if (original == nullptr) return;  // the document has been replaced
  ++g_reportingDepth;
  JSCValue* result = jsc_value_function_callv(original, arguments->len,
                                              reinterpret_cast<JSCValue**>(arguments->pdata));
  --g_reportingDepth;
  if (result != nullptr) g_object_unref(result);
}

}  // namespace

void HookConsole(WebKitWebPage* page, WebKitFrame* frame) {
  JSCContext* context = webkit_frame_get_js_context(frame);
  if (context == nullptr) return;
  JSCValue* console = jsc_context_get_value(context, "console");
  if (console != nullptr && jsc_value_is_object(console)) {
    auto hooked = std::make_shared<HookedConsole>(page, webkit_frame_get_uri(frame));
    for (size_t i = 0; i < kMethodCount; ++i) {
      JSCValue* original = jsc_value_object_get_property(console, kMethods[i].name);
      if (original == nullptr) continue;
      if (!jsc_value_is_function(original)) {
        g_object_unref(original);
        continue;
      }
      hooked->originals[i] = original;
      // A native function of the original's name: its toString reads as the
      // original's does.
      JSCValue* wrapper = jsc_value_new_function_variadic(
          context, kMethods[i].name, G_CALLBACK(CallWrapped), new Wrapper{hooked, i},
          [](gpointer data) { delete static_cast<Wrapper*>(data); }, G_TYPE_NONE);
      jsc_value_object_set_property(console, kMethods[i].name, wrapper);
      g_object_unref(wrapper);
    }
    // Replacing the data releases the previous document's originals.
    g_object_set_data_full(G_OBJECT(frame), "quillo-console", new std::shared_ptr(hooked),
                           [](gpointer data) {
                             auto* owned = static_cast<std::shared_ptr<HookedConsole>*>(data);
                             (*owned)->Release();
                             delete owned;
                           });
  }
  if (console != nullptr) g_object_unref(console);
  if (jsc_context_get_exception(context) != nullptr) jsc_context_clear_exception(context);
  g_object_unref(context);
}

bool ConsoleHookIsReporting() {
  return g_reportingDepth > 0;
}

}  // namespace quillo::webext
