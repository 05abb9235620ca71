// Confines the web process before it shows any page: no new privileges, then
// a Landlock ruleset that lets it read the system's libraries, fonts,
// certificates and locale data and write only into the engine's cache folder, and
// that refuses TCP bind and connect (the network process does the loading).
// Landlock binds threads, not processes: every thread the process already has
// is made to restrict itself too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo::webext {

// Points Mesa's shader cache and GStreamer's plugin registry of this process
// at a folder of the engine's own (quillo/web-process in the user's cache
// folder), so that what a web process writes there is never read by other
// programs. Call before Mesa and GStreamer start, while no other thread reads
// the environment.
void UseOwnCaches();

struct PathRule {
  std::string path;
  uint64_t rights;  // Landlock file-system rights, before masking by the ABI
};

// The paths a web process may use and how, for this user and environment;
// only paths that exist now. May create Mesa's shader-cache folder (as Mesa
// itself would) so that it can be named.
std::vector<PathRule> WebProcessRules();

struct ConfinementResult {
  int abi = 0;                // the kernel's Landlock ABI, 0 for none
  bool confined = false;      // the ruleset is in force on the calling thread
  int otherThreads = 0;       // threads besides the caller found running
  int unconfinedThreads = 0;  // of those, threads that did not restrict themselves
  std::string why;            // when not confined: the reason, one line
};

// Applies no-new-privileges and the ruleset to every thread of the calling
// process. Once per process.
ConfinementResult ConfineProcess(const std::vector<PathRule>& rules);

}  // namespace quillo::webext
