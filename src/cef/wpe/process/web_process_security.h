// How the engine's web processes are confined, decided once when the engine
// starts: WebKit's bubblewrap sandbox where it can run, and always the
// extension's own confinement (no new privileges and Landlock), which needs
// the host's process id to end with the host. UI thread.
#pragma once

#include <wpe/webkit.h>

#include <string>
#include <vector>

namespace quillo::engine {

// Before the first web process starts. Logs one line when web content will
// run unconfined, saying why.
void SecureWebProcesses(WebKitWebContext* context, const char* extensionsDirectory);

// The embedder's schemes, whose media the library serves: web processes that
// start from now on learn them as they start, and those running now by a
// message.
void ServeMediaSchemes(WebKitWebContext* context, const std::vector<std::string>& schemes);

}  // namespace quillo::engine
