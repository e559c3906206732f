#include "WinHttpErrors.h"

#include <winhttp.h>
#include <zenta/ZentaSdk.h>

namespace zenta {
namespace {

// The errors of the TLS handshake and of the server's certificate.
bool IsTlsError(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
      return true;
    default:
      return false;
  }
}

}  // namespace

const char* PhaseName(DWORD error, Phase phase) {
  if (IsTlsError(error)) return "TLS";
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "resolve";
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      return "connect";
    default:
      return phase == Phase::kSetup ? "setup" : phase == Phase::kSend ? "send" : "receive";
  }
}

const char* Meaning(DWORD error, bool verifying) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "the host name could not be resolved";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "the connection was refused or the server could not be reached";
    case WSAECONNREFUSED:
      return "the connection was refused";
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return "timed out";
    case ERROR_WINHTTP_SECURE_INVALID_CA:
      return "the server's certificate is not trusted (unknown certificate authority)";
    // WinHTTP gives these for a certificate it could not verify (wine: a chain it could not
    // build, such as a self-signed certificate's) as well as for a failed handshake.
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return verifying ? "the server's certificate is not trusted, or the TLS handshake failed"
                       : "the TLS handshake failed";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return "the server's certificate is for another host name";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return "the server's certificate has expired or is not yet valid";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the server closed the connection or answered with something that is not HTTP";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return "the connection was reset or closed";
    default:
      return "WinHTTP failed";
  }
}

// wine's WinHTTP passes some socket errors on as they are (WSAE...); they map like their
// WinHTTP counterparts.
int CodeOf(DWORD error, Phase phase) {
  if (IsTlsError(error)) return ZENTA_E_TLS;
  switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ZENTA_E_NO_MEMORY;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return ZENTA_E_RESOLVE;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      return ZENTA_E_CONNECT;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return ZENTA_E_TIMEOUT;
    // WinHTTP gives INVALID_SERVER_RESPONSE for a connection closed before any answer byte as
    // well as for an answer that is not HTTP. The first is the common one (a kept-alive
    // connection the server had closed, a server that went away) and libcurl's "got nothing".
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return phase == Phase::kSend ? ZENTA_E_SEND : ZENTA_E_RECEIVE;
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_HEADER_COUNT_EXCEEDED:
    case ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW:
    case ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW:
    case ERROR_WINHTTP_HTTP_PROTOCOL_MISMATCH:
      return ZENTA_E_PROTOCOL;
    case ERROR_WINHTTP_OUT_OF_HANDLES:
    case ERROR_WINHTTP_NOT_INITIALIZED:
    case ERROR_WINHTTP_INVALID_OPTION:
    case ERROR_WINHTTP_OPTION_NOT_SETTABLE:
      return ZENTA_E_TRANSPORT_INIT;
    default:
      return ZENTA_E_TRANSPORT;
  }
}

}  // namespace zenta
