// The verbose trace of an exchange, as curl -v writes it: libcurl's own account ("* Connected
// to ...", the TLS version, the server certificate's subject), the request head ("> GET /path
// HTTP/1.1", then "> Name: ***" for every header: a value may be a credential) and the answer's
// status line and header names ("< HTTP/1.1 200 OK", "< Content-Type: ***"). Every line goes
// through the session's scrubber (libcurl names the environment's proxy with its password) and
// is escaped by the trace.
#include <curl/curl.h>

#include <string>
#include <string_view>

#include "../Scrubber.h"
#include "../Trace.h"
#include "CurlErrors.h"

namespace zenta {
namespace {

constexpr int kTraceVerbose = 3;

// One line with its mark, without its line end, scrubbed. A header line shows its name only;
// the request and status lines (no colon before a blank) show whole.
void Show(const TransportConfig& config, char mark, std::string_view text, bool header) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.empty()) return;
  std::string line{mark, ' '};
  const std::size_t colon = text.find(':');
  if (header && colon != std::string_view::npos && colon < text.find(' ')) {
    line.append(text.substr(0, colon)).append(": ***");
  } else {
    line.append(text);
  }
  Scrubber(config).Scrub(line);
  TraceLine(line);
}

int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  const auto& config = *static_cast<const TransportConfig*>(user);
  std::string_view text(data, size);
  if (type == CURLINFO_TEXT) {
    Show(config, '*', text, false);
  } else if (type == CURLINFO_HEADER_IN) {  // one line per call
    Show(config, '<', text, text.rfind("HTTP/", 0) != 0);
  } else if (type == CURLINFO_HEADER_OUT) {  // the whole head at once
    for (bool first = true; !text.empty(); first = false) {
      const std::size_t end = text.find('\n');
      Show(config, '>', text.substr(0, end), !first);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
  }
  return 0;
}

}  // namespace

CURLcode SetVerbose(CURL* easy, const TransportConfig& config) {
  if (config.trace != kTraceVerbose) return CURLE_OK;
  CURLcode result = curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &OnDebug);
  if (result == CURLE_OK) {
    result = curl_easy_setopt(easy, CURLOPT_DEBUGDATA, const_cast<TransportConfig*>(&config));
  }
  if (result == CURLE_OK) result = curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  return result;
}

}  // namespace zenta
