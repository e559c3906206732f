// Parsing of the server URL given to ZENTA_OpenSession.
#ifndef ZENTA_SERVERURL_H
#define ZENTA_SERVERURL_H

#include <string>

namespace zenta {

struct ServerUrl {
  bool https = false;
  std::string host;      // IPv6 literal without brackets
  int port = 0;          // the scheme's default when the URL names none
  std::string origin;    // "scheme://host:port", IPv6 host in brackets, scheme lower case
  std::string basePath;  // "" or "/segment..." without a trailing "/"
};

// Accepts "http://host[:port][/base/path]" and "https://...": scheme case-insensitive, host a
// name, an IPv4 literal or a bracketed IPv6 literal, port 1..65535. Refuses (ZENTA_E_BAD_URL) user
// info, a query or fragment, an empty port and any byte that cannot stand in a URL unencoded;
// a scheme other than http/https gets ZENTA_E_UNSUPPORTED_SCHEME. Writes url only on 0.
int ParseServerUrl(const char* text, ServerUrl& url);

}  // namespace zenta

#endif  // ZENTA_SERVERURL_H
