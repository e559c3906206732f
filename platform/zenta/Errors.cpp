// Texts for the codes of ZentaSdk.h and the HTTP status family.
#include <zenta/ZentaSdk.h>

#include <array>
#include <cstdio>

namespace {

constexpr int kFirstHttpStatus = 100;
constexpr int kLastHttpStatus = 599;

const char* NamedCodeText(int code) {
  switch (code) {
    case ZENTA_OK:
      return "success";
    case ZENTA_E_NULL_ARGUMENT:
      return "a required pointer argument is null";
    case ZENTA_E_REQUEST_SIZE:
      return "the request record size is not 2096 bytes";
    case ZENTA_E_RESPONSE_SIZE:
      return "the response record size is not 56 bytes";
    case ZENTA_E_UNKNOWN_HANDLE:
      return "the handle names no open session";
    case ZENTA_E_BAD_URL:
      return "the server URL is null, empty or malformed";
    case ZENTA_E_UNSUPPORTED_SCHEME:
      return "the server URL scheme is neither http nor https";
    case ZENTA_E_OPTIONS_SIZE:
      return "the session options structSize is smaller than the first version of the struct";
    case ZENTA_E_BAD_OPTION:
      return "a session option value is out of range";
    case ZENTA_E_BAD_METHOD:
      return "the request method is empty or not an HTTP token";
    case ZENTA_E_BAD_HEADER:
      return "a request header is malformed or holds CR, LF or another control byte";
    case ZENTA_E_BAD_RECORD:
      return "the request record is inconsistent (lengths, null arrays, header count)";
    case ZENTA_E_UNKNOWN_BUFFER:
      return "the buffer is not an outstanding answer buffer of this gateway";
    case ZENTA_E_NO_MEMORY:
      return "an allocation failed";
    case ZENTA_E_SESSION_CLOSED:
      return "the session was closed while the call waited";
    case ZENTA_E_ANSWER_TOO_LARGE:
      return "the answer exceeded the session's size cap (64 MiB unless set otherwise)";
    case ZENTA_E_TRANSPORT_INIT:
      return "the HTTP transport could not be initialised";
    case ZENTA_E_HANDLES_EXHAUSTED:
      return "every session handle value has been used";
    case ZENTA_E_INHERITED_SESSION:
      return "the session was opened by the parent of this forked process; open a new one here";
    case ZENTA_E_CREDENTIAL:
      return "the session's token callback gave no token";
    case ZENTA_E_CANCELLED:
      return "the call was cancelled (its scope or session was cancelled or closed, or its "
             "progress callback asked to stop)";
    case ZENTA_E_RESOLVE:
      return "the server's host name could not be resolved";
    case ZENTA_E_CONNECT:
      return "the connection to the server was refused or could not be made";
    case ZENTA_E_TIMEOUT:
      return "the connect or request timeout elapsed";
    case ZENTA_E_TLS:
      return "the TLS handshake or certificate verification failed";
    case ZENTA_E_SEND:
      return "sending the request failed";
    case ZENTA_E_RECEIVE:
      return "receiving the answer failed";
    case ZENTA_E_PROTOCOL:
      return "the server's answer was not valid HTTP";
    case ZENTA_E_TRANSPORT:
      return "the HTTP transport failed";
    default:
      return nullptr;
  }
}

using StatusText = std::array<char, 64>;

// One text per HTTP status, built once without allocating; the texts live as long as the library.
const std::array<StatusText, kLastHttpStatus + 1>& HttpStatusTexts() {
  static const auto texts = [] {
    std::array<StatusText, kLastHttpStatus + 1> built{};
    for (int status = kFirstHttpStatus; status <= kLastHttpStatus; ++status) {
      StatusText& text = built[static_cast<std::size_t>(status)];
      std::snprintf(text.data(), text.size(), "the server answered HTTP %d without a JSON body",
                    status);
    }
    return built;
  }();
  return texts;
}

}  // namespace

extern "C" {

ZENTA_API int ZENTA_HttpStatusOf(int code) {
  const long long status = static_cast<long long>(ZENTA_E_HTTP_STATUS_BASE) - code;
  return status >= kFirstHttpStatus && status <= kLastHttpStatus ? static_cast<int>(status) : 0;
}

ZENTA_API const char* ZENTA_ErrorText(int code) {
  if (const char* text = NamedCodeText(code)) return text;
  if (const int status = ZENTA_HttpStatusOf(code)) {
    return HttpStatusTexts()[static_cast<std::size_t>(status)].data();
  }
  return "unknown ZENTA error code";
}

}  // extern "C"
