#include "wpe/navigation/load_error_map.h"

#include <wpe/webkit.h>

namespace quillo::engine {
namespace {

// Names of the codes this mapping produces.
const char* CodeName(cef_errorcode_t code) {
  switch (code) {
    case ERR_FAILED:
      return "ERR_FAILED";
    case ERR_ABORTED:
      return "ERR_ABORTED";
    case ERR_INVALID_ARGUMENT:
      return "ERR_INVALID_ARGUMENT";
    case ERR_FILE_NOT_FOUND:
      return "ERR_FILE_NOT_FOUND";
    case ERR_TIMED_OUT:
      return "ERR_TIMED_OUT";
    case ERR_ACCESS_DENIED:
      return "ERR_ACCESS_DENIED";
    case ERR_NOT_IMPLEMENTED:
      return "ERR_NOT_IMPLEMENTED";
    case ERR_CONNECTION_CLOSED:
      return "ERR_CONNECTION_CLOSED";
    case ERR_CONNECTION_RESET:
      return "ERR_CONNECTION_RESET";
    case ERR_CONNECTION_REFUSED:
      return "ERR_CONNECTION_REFUSED";
    case ERR_CONNECTION_ABORTED:
      return "ERR_CONNECTION_ABORTED";
    case ERR_CONNECTION_FAILED:
      return "ERR_CONNECTION_FAILED";
    case ERR_NAME_NOT_RESOLVED:
      return "ERR_NAME_NOT_RESOLVED";
    case ERR_INTERNET_DISCONNECTED:
      return "ERR_INTERNET_DISCONNECTED";
    case ERR_SSL_PROTOCOL_ERROR:
      return "ERR_SSL_PROTOCOL_ERROR";
    case ERR_ADDRESS_UNREACHABLE:
      return "ERR_ADDRESS_UNREACHABLE";
    case ERR_TUNNEL_CONNECTION_FAILED:
      return "ERR_TUNNEL_CONNECTION_FAILED";
    case ERR_SSL_VERSION_OR_CIPHER_MISMATCH:
      return "ERR_SSL_VERSION_OR_CIPHER_MISMATCH";
    case ERR_CERT_COMMON_NAME_INVALID:
      return "ERR_CERT_COMMON_NAME_INVALID";
    case ERR_CERT_DATE_INVALID:
      return "ERR_CERT_DATE_INVALID";
    case ERR_CERT_AUTHORITY_INVALID:
      return "ERR_CERT_AUTHORITY_INVALID";
    case ERR_CERT_REVOKED:
      return "ERR_CERT_REVOKED";
    case ERR_CERT_INVALID:
      return "ERR_CERT_INVALID";
    case ERR_INVALID_URL:
      return "ERR_INVALID_URL";
    case ERR_UNKNOWN_URL_SCHEME:
      return "ERR_UNKNOWN_URL_SCHEME";
    case ERR_TOO_MANY_REDIRECTS:
      return "ERR_TOO_MANY_REDIRECTS";
    case ERR_UNSAFE_REDIRECT:
      return "ERR_UNSAFE_REDIRECT";
    case ERR_UNSAFE_PORT:
      return "ERR_UNSAFE_PORT";
    case ERR_INVALID_RESPONSE:
      return "ERR_INVALID_RESPONSE";
    case ERR_EMPTY_RESPONSE:
      return "ERR_EMPTY_RESPONSE";
    default:
      return "ERR_FAILED";
  }
}

MappedError Make(cef_errorcode_t code) {
  return {code, std::string("net::") + CodeName(code)};
}

cef_errorcode_t MapIoError(int code) {
  switch (code) {
    case G_IO_ERROR_CANCELLED:
      return ERR_ABORTED;
    case G_IO_ERROR_NOT_FOUND:
      return ERR_FILE_NOT_FOUND;
    case G_IO_ERROR_PERMISSION_DENIED:
      return ERR_ACCESS_DENIED;
    case G_IO_ERROR_TIMED_OUT:
      return ERR_TIMED_OUT;
    case G_IO_ERROR_CONNECTION_REFUSED:
      return ERR_CONNECTION_REFUSED;
    case G_IO_ERROR_CONNECTION_CLOSED:
      return ERR_CONNECTION_CLOSED;  // also BROKEN_PIPE
    case G_IO_ERROR_HOST_NOT_FOUND:
      return ERR_NAME_NOT_RESOLVED;
    case G_IO_ERROR_HOST_UNREACHABLE:
      return ERR_ADDRESS_UNREACHABLE;
    case G_IO_ERROR_NETWORK_UNREACHABLE:
      return ERR_INTERNET_DISCONNECTED;
    case G_IO_ERROR_PROXY_FAILED:
    case G_IO_ERROR_PROXY_AUTH_FAILED:
    case G_IO_ERROR_PROXY_NOT_ALLOWED:
      return ERR_TUNNEL_CONNECTION_FAILED;
    case G_IO_ERROR_INVALID_ARGUMENT:
      return ERR_INVALID_ARGUMENT;
    case G_IO_ERROR_NOT_SUPPORTED:
      return ERR_NOT_IMPLEMENTED;
    default:
      return ERR_CONNECTION_FAILED;
  }
}

}  // namespace

MappedError MapLoadError(const GError* error) {
  if (error == nullptr) return Make(ERR_FAILED);
  const int code = error->code;
  if (error->domain == WEBKIT_NETWORK_ERROR) {
    switch (code) {
      case WEBKIT_NETWORK_ERROR_CANCELLED:
        return Make(ERR_ABORTED);
      case WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST:
        return Make(ERR_FILE_NOT_FOUND);
      case WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL:
        return Make(ERR_UNKNOWN_URL_SCHEME);
      default:
        return Make(ERR_FAILED);
    }
  }
  if (error->domain == WEBKIT_POLICY_ERROR) {
    switch (code) {
      case WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT:
        return Make(ERR_UNSAFE_PORT);
      case WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI:
        return Make(ERR_UNKNOWN_URL_SCHEME);
      // A navigation stopped by policy or turned into a download.
      default:
        return Make(ERR_ABORTED);
    }
  }
  if (error->domain == G_IO_ERROR) return Make(MapIoError(code));
  if (error->domain == G_RESOLVER_ERROR) return Make(ERR_NAME_NOT_RESOLVED);
  if (error->domain == G_TLS_ERROR) {
    return Make(code == G_TLS_ERROR_BAD_CERTIFICATE ? ERR_CERT_INVALID : ERR_SSL_PROTOCOL_ERROR);
  }
  if (error->domain == g_quark_from_static_string("soup-session-error-quark")) {
    // 2, 3: too many redirects or restarts; 5: a redirect to a bad URI.
    if (code == 2 || code == 3) return Make(ERR_TOO_MANY_REDIRECTS);
    if (code == 5) return Make(ERR_UNSAFE_REDIRECT);
    return Make(ERR_INVALID_RESPONSE);
  }
  return Make(ERR_FAILED);
}

MappedError MapCertificateErrors(GTlsCertificateFlags flags) {
  if (flags & G_TLS_CERTIFICATE_UNKNOWN_CA) return Make(ERR_CERT_AUTHORITY_INVALID);
  if (flags & G_TLS_CERTIFICATE_BAD_IDENTITY) return Make(ERR_CERT_COMMON_NAME_INVALID);
  if (flags & (G_TLS_CERTIFICATE_NOT_ACTIVATED | G_TLS_CERTIFICATE_EXPIRED))
    return Make(ERR_CERT_DATE_INVALID);
  if (flags & G_TLS_CERTIFICATE_REVOKED) return Make(ERR_CERT_REVOKED);
  return Make(ERR_CERT_INVALID);
}

bool IsRestrictedPortUrl(const char* url) {
  static const int kBadPorts[] = {
      1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,
      42,   43,   53,   69,   77,   79,   87,   95,   101,  102,  103,  104,  109,  110,
      111,  113,  115,  117,  119,  123,  135,  137,  139,  143,  161,  179,  389,  427,
      465,  512,  513,  514,  515,  526,  530,  531,  532,  540,  548,  554,  556,  563,
      587,  601,  636,  989,  990,  993,  995,  1719, 1720, 1723, 2049, 3659, 4045, 5060,
      5061, 6000, 6566, 6665, 6666, 6667, 6668, 6669, 6697, 10080};
  GUri* uri = url ? g_uri_parse(url, G_URI_FLAGS_NONE, nullptr) : nullptr;
  if (uri == nullptr) return false;
  const char* scheme = g_uri_get_scheme(uri);
  const int port = g_uri_get_port(uri);
  bool restricted = false;
  if (port > 0 && scheme &&
      (!g_ascii_strcasecmp(scheme, "http") || !g_ascii_strcasecmp(scheme, "https") ||
       !g_ascii_strcasecmp(scheme, "ws") || !g_ascii_strcasecmp(scheme, "wss") ||
       !g_ascii_strcasecmp(scheme, "ftp"))) {
    for (int bad : kBadPorts) restricted |= bad == port;
  }
  g_uri_unref(uri);
  return restricted;
}

}  // namespace quillo::engine
