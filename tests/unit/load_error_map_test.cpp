// The engine's load failures as network error codes and texts.
#include "wpe/navigation/load_error_map.h"

#include <gtest/gtest.h>
#include <wpe/webkit.h>

namespace quillo::engine {
namespace {

TEST(LoadErrorMap, EngineAndNetworkErrorsGetChromiumsCodes) {
  struct Case {
    GQuark domain;
    int code;
    cef_errorcode_t expected;
    const char* text;
  } cases[] = {
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED, ERR_ABORTED, "net::ERR_ABORTED"},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_FILE_DOES_NOT_EXIST, ERR_FILE_NOT_FOUND,
       "net::ERR_FILE_NOT_FOUND"},
      {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_UNKNOWN_PROTOCOL, ERR_UNKNOWN_URL_SCHEME,
       "net::ERR_UNKNOWN_URL_SCHEME"},
      {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_CANNOT_USE_RESTRICTED_PORT, ERR_UNSAFE_PORT,
       "net::ERR_UNSAFE_PORT"},
      {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE,
       ERR_ABORTED, "net::ERR_ABORTED"},
      // A name under .invalid fails in the resolver; the tests do not look one up.
      {G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, ERR_NAME_NOT_RESOLVED,
       "net::ERR_NAME_NOT_RESOLVED"},
      {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, ERR_CONNECTION_REFUSED,
       "net::ERR_CONNECTION_REFUSED"},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, ERR_TIMED_OUT, "net::ERR_TIMED_OUT"},
      {G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE, ERR_ADDRESS_UNREACHABLE,
       "net::ERR_ADDRESS_UNREACHABLE"},
      {G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE, ERR_INTERNET_DISCONNECTED,
       "net::ERR_INTERNET_DISCONNECTED"},
      {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, ERR_CERT_INVALID, "net::ERR_CERT_INVALID"},
      {G_TLS_ERROR, G_TLS_ERROR_MISC, ERR_SSL_PROTOCOL_ERROR, "net::ERR_SSL_PROTOCOL_ERROR"},
      {g_quark_from_static_string("soup-session-error-quark"), 2, ERR_TOO_MANY_REDIRECTS,
       "net::ERR_TOO_MANY_REDIRECTS"},
  };
  for (const Case& c : cases) {
    GError* error = g_error_new_literal(c.domain, c.code, "x");
    MappedError mapped = MapLoadError(error);
    EXPECT_EQ(mapped.code, c.expected) << g_quark_to_string(c.domain) << " " << c.code;
    EXPECT_EQ(mapped.text, c.text);
    g_error_free(error);
  }
  EXPECT_EQ(MapLoadError(nullptr).code, ERR_FAILED);
}

TEST(LoadErrorMap, CertificateProblemsAndRestrictedPorts) {
  EXPECT_EQ(MapCertificateErrors(G_TLS_CERTIFICATE_UNKNOWN_CA).code, ERR_CERT_AUTHORITY_INVALID);
  EXPECT_EQ(MapCertificateErrors(G_TLS_CERTIFICATE_BAD_IDENTITY).code,
            ERR_CERT_COMMON_NAME_INVALID);
  EXPECT_EQ(MapCertificateErrors(G_TLS_CERTIFICATE_EXPIRED).code, ERR_CERT_DATE_INVALID);
  EXPECT_EQ(MapCertificateErrors(G_TLS_CERTIFICATE_REVOKED).code, ERR_CERT_REVOKED);
  EXPECT_TRUE(IsRestrictedPortUrl("http://127.0.0.1:9/"));
  EXPECT_TRUE(IsRestrictedPortUrl("https://example.test:6000/x"));
  EXPECT_FALSE(IsRestrictedPortUrl("http://127.0.0.1:8080/"));
  EXPECT_FALSE(IsRestrictedPortUrl("http://127.0.0.1/"));
  EXPECT_FALSE(IsRestrictedPortUrl("file:///tmp/x"));
  EXPECT_FALSE(IsRestrictedPortUrl("not a url"));
  EXPECT_FALSE(IsRestrictedPortUrl(nullptr));
}

}  // namespace
}  // namespace quillo::engine
