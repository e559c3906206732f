#include "CurlErrors.h"

#include <zenta/ZentaSdk.h>

#include <string>
#include <system_error>

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
    const std::string system = std::generic_category().message(static_cast<int>(osError));
    report.detail.Set("%s%s (%s)", prefix, words, system.c_str());
  } else {
    report.detail.Set("%s%s", prefix, words);
  }
  return code;
}

}  // namespace zenta
