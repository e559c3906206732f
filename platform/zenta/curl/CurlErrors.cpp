#include "CurlErrors.h"

#include <zenta/ZentaSdk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../Scrubber.h"
#include "CurlPlatform.h"

namespace zenta {

int CodeOf(CURLcode result) {
  switch (result) {
    case CURLE_OK:
      return ZENTA_OK;
    case CURLE_OUT_OF_MEMORY:
      return ZENTA_E_NO_MEMORY;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ZENTA_E_RESOLVE;
    case CURLE_COULDNT_CONNECT:
      return ZENTA_E_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ZENTA_E_TIMEOUT;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return ZENTA_E_TLS;
    case CURLE_SEND_ERROR:
    case CURLE_SEND_FAIL_REWIND:
      return ZENTA_E_SEND;
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return ZENTA_E_RECEIVE;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:  // an HTTP/0.9 answer or a status line that is not HTTP
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_BAD_CONTENT_ENCODING:
      return ZENTA_E_PROTOCOL;
    case CURLE_FILESIZE_EXCEEDED:
      return ZENTA_E_ANSWER_TOO_LARGE;
    case CURLE_FAILED_INIT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_BAD_FUNCTION_ARGUMENT:
      return ZENTA_E_TRANSPORT_INIT;
    default:
      return ZENTA_E_TRANSPORT;
  }
}

// The code of a failed exchange, and libcurl's own words for it with the system's error.
int Describe(CURL* easy, CURLcode result, const char* errors, ExchangeReport& report) {
  const int code = CodeOf(result);
  const char* words = errors[0] != '\0' ? errors : curl_easy_strerror(result);
  const char* prefix = "";
  if (result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE) {
    prefix = "the server's certificate is not trusted: ";
  }
  long osError = 0;
  if (curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError) == CURLE_OK && osError != 0) {
    const std::string system = SystemErrorText(osError);
    report.detail.Set("%s%s (%s)", prefix, words, system.c_str());
  } else {
    report.detail.Set("%s%s", prefix, words);
  }
  return code;
}

namespace {

// Puts what libcurl's code does not tell in front of its words.
void Prefix(Detail& detail, const char* what) {
  char words[Detail::kWidth];
  std::snprintf(words, sizeof words, "%s", detail.Text());
  detail.Set("%s (libcurl: %s)", what, words);
}

// The proxy of a session: its own, or the one the environment names for the scheme, in the
// order libcurl reads the variables (which of them no_proxy passes by is libcurl's matter);
// source names the variable, or is null for the session's own.
std::string ProxyOf(const TransportConfig& config, const char*& source) {
  source = nullptr;
  if (config.proxySet) return config.proxy;
  static const char* const kHttp[] = {"http_proxy", "all_proxy", "ALL_PROXY", nullptr};
  static const char* const kHttps[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                       nullptr};
  for (const char* const* name = config.https ? kHttps : kHttp; *name != nullptr; ++name) {
    const char* value = std::getenv(*name);
    if (value != nullptr && *value != '\0') {
      source = *name;
      return value;
    }
  }
  return "";
}

// The proxy for a detail, its user information masked.
std::string ProxyName(const TransportConfig& config) {
  const char* source = nullptr;
  const std::string proxy = ProxyOf(config, source);
  if (source == nullptr && !config.proxySet) return "of the environment";
  return Masked(proxy) + (source != nullptr ? std::string(" (") + source + ")" : "");
}

// A failure of the proxy's own, named with the proxy: its host could not be resolved, it could
// not be reached (a proxy the session names), or it answered CONNECT with other than 2xx, so
// the tunnel to the server was never made (the request never left).
int NameProxy(CURL* easy, const TransportConfig& config, CURLcode result, int code,
              Detail& detail) {
  long tunnel = 0;
  if (curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &tunnel) != CURLE_OK) tunnel = 0;
  char what[Detail::kWidth];
  const char* source = nullptr;
  const std::string proxy = ProxyOf(config, source);
  std::string why;
  if (result == CURLE_COULDNT_RESOLVE_PROXY && !ProxyUrlIsValid(proxy, why)) {
    // libcurl refuses a proxy URL it cannot parse with this code, quoting the URL: its words
    // are replaced, and the failure is the option's, not the network's.
    detail.Set("the proxy %s is not a URL libcurl can use (%s)", ProxyName(config).c_str(),
               why.c_str());
    return ZENTA_E_BAD_OPTION;
  }
  if (tunnel != 0 && (tunnel < 200 || tunnel > 299)) {
    std::snprintf(what, sizeof what, "the proxy %s refused the tunnel to %s:%d with status %ld",
                  ProxyName(config).c_str(), config.host.c_str(), config.port, tunnel);
    code = ZENTA_E_CONNECT;
  } else if (result == CURLE_COULDNT_RESOLVE_PROXY) {
    std::snprintf(what, sizeof what, "the proxy %s could not be resolved",
                  ProxyName(config).c_str());
  } else if (result == CURLE_COULDNT_CONNECT && !config.proxy.empty()) {
    std::snprintf(what, sizeof what, "the proxy %s could not be reached",
                  ProxyName(config).c_str());
  } else {
    return code;
  }
  Prefix(detail, what);
  return code;
}

}  // namespace

int NameFailure(const CurlConnection& connection, const TransportConfig& config, CURLcode result,
                int code, Detail& detail) {
  const ExchangeState& state = connection.state;
  CURL* easy = connection.easy.get();
  if (result == CURLE_OUT_OF_MEMORY && state.report->phase == ExchangePhase::kAnswerStarted &&
      !state.head.Complete()) {
    Prefix(detail, "a line of the answer's head is longer than libcurl's limit of 100 KiB");
    return ZENTA_E_PROTOCOL;
  }
  // Once the head is complete, a body without a length is chunked (AnswerHead refuses any other
  // framing); libcurl's chunk parser refuses bad coding with CURLE_RECV_ERROR and no system
  // error, where a connection that failed has one.
  long osError = 0;
  if (curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError) != CURLE_OK) osError = 0;
  if (result == CURLE_RECV_ERROR && osError == 0 && state.head.Complete() &&
      state.head.Length() < 0 && !state.head.CloseDelimited()) {
    Prefix(detail, "the answer's chunked coding is malformed");
    return ZENTA_E_PROTOCOL;
  }
  // libcurl's store of header lines refuses a line with no colon, or a fold with no line before
  // it, with this code before the header callback sees the line: in the body's trailers, as in a
  // chunk size written "0x5" (a last chunk, then "hello" as a trailer).
  if (result == CURLE_BAD_FUNCTION_ARGUMENT &&
      state.report->phase == ExchangePhase::kAnswerStarted) {
    Prefix(detail, state.head.Complete()
                       ? "a trailer line of the answer's chunked coding is malformed"
                       : "a line of the answer's head is malformed");
    return ZENTA_E_PROTOCOL;
  }
  if (result == CURLE_SSL_CERTPROBLEM) {
    const std::string problem = ClientKeyProblem(config);
    Prefix(detail, ("the client certificate or its key could not be used" +
                    (problem.empty() ? "" : ": " + problem))
                       .c_str());
    return ZENTA_E_TLS;
  }
  if (state.certificateAsked && state.report->phase != ExchangePhase::kAnswerStarted &&
      (code == ZENTA_E_TLS || code == ZENTA_E_SEND || code == ZENTA_E_RECEIVE)) {
    Prefix(detail, config.clientCert.empty()
                       ? "the server asked for a client certificate and none is configured"
                       : "the server asked for a client certificate and did not accept the "
                         "session's");
    return ZENTA_E_TLS;
  }
  // libcurl refuses a Content-Length too long for its number type with the cap's code before
  // the header reaches the head's checks; a length it could read, even one above the cap, has
  // been seen by them.
  if (result == CURLE_FILESIZE_EXCEEDED && !state.head.Complete() && state.head.Length() < 0) {
    Prefix(detail, "the answer's Content-Length is too long a number");
    return ZENTA_E_PROTOCOL;
  }
  return NameProxy(easy, config, result, code, detail);
}

std::string Masked(std::string url) {
  const std::string_view userInfo = UserInfoOf(url);
  if (!userInfo.empty()) url.replace(userInfo.data() - url.data(), userInfo.size(), "***");
  return url;
}

bool ProxyUrlIsValid(const std::string& url, std::string& why) {
  CURLU* parsed = curl_url();
  if (parsed == nullptr) return true;  // no memory to tell: libcurl's own refusal then stands
  // The flags libcurl parses a proxy URL with: a scheme may be missing or not its own.
  const CURLUcode result = curl_url_set(parsed, CURLUPART_URL, url.c_str(),
                                        CURLU_NON_SUPPORT_SCHEME | CURLU_GUESS_SCHEME);
  curl_url_cleanup(parsed);
  if (result == CURLUE_OK) return true;
  why = curl_url_strerror(result);
  return false;
}

}  // namespace zenta
