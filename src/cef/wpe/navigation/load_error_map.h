// Maps the engine's load failures to Chromium's network error codes and
// texts ("net::ERR_CONNECTION_REFUSED"). Pure functions, any thread.
#pragma once

#include <gio/gio.h>
#include <glib.h>

#include <string>

#include "cef_types.h"

namespace quillo::engine {

struct MappedError {
  cef_errorcode_t code;
  std::string text;  // "net::" + the code's name
};

MappedError MapLoadError(const GError* error);
MappedError MapCertificateErrors(GTlsCertificateFlags flags);

// True for http(s), ws(s) and ftp URLs on a port that browsers refuse to
// connect to (the fetch standard's "bad ports").
bool IsRestrictedPortUrl(const char* url);

}  // namespace quillo::engine
