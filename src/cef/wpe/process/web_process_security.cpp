#include "wpe/process/web_process_security.h"

#include <unistd.h>

#include <cerrno>

#include "diagnostics/debug_log.h"
#include "webext/landlock.h"
#include "webext/protocol.h"

namespace quillo::engine {
namespace {

// WebKit's sandbox needs bwrap at the path it was built with, and WebKit
// skips it inside a container (or Flatpak, which has its own).
bool BubblewrapCanRun() {
  return access("/usr/bin/bwrap", X_OK) == 0 && access("/.dockerenv", F_OK) != 0 &&
         access("/.flatpak-info", F_OK) != 0;
}

// The host's process id as web processes see it (0 inside bubblewrap's pid
// namespace), decided when the engine starts.
gint32 g_hostForWebProcesses = 0;

GVariant* SchemeList(const std::vector<std::string>& schemes) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
  for (const std::string& scheme : schemes) g_variant_builder_add(&builder, "s", scheme.c_str());
  return g_variant_builder_end(&builder);
}

}  // namespace

void ServeMediaSchemes(WebKitWebContext* context, const std::vector<std::string>& schemes) {
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, g_variant_new("(i@as)", g_hostForWebProcesses, SchemeList(schemes)));
  webkit_web_context_send_message_to_all_extensions(
      context, webkit_user_message_new(webext::kMediaSchemes, SchemeList(schemes)));
}

void SecureWebProcesses(WebKitWebContext* context, const char* extensionsDirectory) {
  const bool sandbox = BubblewrapCanRun();
  if (sandbox) {
    webkit_web_context_set_sandbox_enabled(context, TRUE);
    if (g_path_is_absolute(extensionsDirectory))
      webkit_web_context_add_path_to_sandbox(context, extensionsDirectory, TRUE);
  }
  // Inside bubblewrap's pid namespace the host's id means nothing; bubblewrap
  // ends the process with the host there.
  g_hostForWebProcesses = sandbox ? 0 : static_cast<gint32>(getpid());
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, g_variant_new("(i@as)", g_hostForWebProcesses, SchemeList({})));
  if (landlock::Abi() < 1) {
    const bool off = errno == EOPNOTSUPP;
    if (sandbox) {
      QLOG(u"EngineContext::Start => web content in bubblewrap only: %s",
           off ? u"Landlock is switched off in this kernel" : u"this kernel has no Landlock");
    } else {
      QLOG(u"EngineContext::Start => web content unconfined: %s",
           off ? u"Landlock is switched off in this kernel and bubblewrap cannot run here"
               : u"this kernel has no Landlock and bubblewrap cannot run here");
    }
  }
}

}  // namespace quillo::engine
