// The WinHTTP transport: one WinHTTP session and one connection handle per ZENTA session, and a
// request handle per exchange. WinHTTP keeps the TCP connections itself and reuses kept-alive
// ones; this transport bounds how many exchanges run at once (maxConnections), so parallel calls
// on one handle run side by side on at most that many connections.
//
// Bytes and wide strings: WinHTTP takes the method, the target and the headers as UTF-16 and
// writes them to the wire as UTF-8 (measured under wine). The target arrives percent-encoded
// (pure ASCII); header texts are decoded from UTF-8, so a value that is valid UTF-8 goes out byte
// for byte, and one that is not (a lone Latin-1 byte, say) has no UTF-16 form that would and is
// refused with ZENTA_E_BAD_HEADER rather than sent altered. WINHTTP_FLAG_ESCAPE_DISABLE(_QUERY)
// keep WinHTTP from escaping the target a second time.
//
// A CA file cannot be handed to WinHTTP, which verifies against the Windows certificate store:
// an https session that asks for verification with a caFile is refused at open with
// ZENTA_E_BAD_OPTION rather than silently verified against other roots.

// The socket headers come first: windows.h would otherwise bring the old winsock.h, and
// winhttp.h declares WINHTTP_CONNECTION_INFO only once the socket address types are known.
#include <winsock2.h>
#include <ws2tcpip.h>
// A block of their own, so that sorting the includes keeps them after the socket headers.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../Transport.h"

namespace zenta {
namespace {

// Session, connection and request handles all go back through WinHttpCloseHandle.
using InternetHandle = std::unique_ptr<void, decltype(&WinHttpCloseHandle)>;
using Clock = std::chrono::steady_clock;

// Bytes read from the answer per WinHttpReadData call.
constexpr DWORD kReadChunk = 64 * 1024;

// Where an exchange was when WinHTTP failed: a dropped connection means a failed send before
// the answer is awaited, a failed receive afterwards.
enum class Phase { kSetup, kSend, kReceive };

// The one place where a WinHTTP error becomes a ZENTA code. wine's WinHTTP passes some socket
// errors on as they are (WSAE...); they map like their WinHTTP counterparts.
int CodeOf(DWORD error, Phase phase) {
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
      return ZENTA_E_TLS;
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

// The UTF-16 form of UTF-8 text; false when text is not valid UTF-8.
bool Widen(const std::string& text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  const int size = static_cast<int>(text.size());
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (units <= 0) return false;
  wide.resize(static_cast<std::size_t>(units));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], units) ==
         units;
}

// The UTF-8 form of a header value WinHTTP hands back.
std::string Narrow(const std::wstring& wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return std::string();
  }
  const int units = static_cast<int>(wide.size());
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &text[0], bytes, nullptr, nullptr);
  return text;
}

// Methods that carry a body by nature: without one they still announce "Content-Length: 0".
bool ExpectsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

// Milliseconds left until deadline, rounded up so that a timeout is never cut short; 0 once it
// has passed.
int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  const int most = std::numeric_limits<int>::max();
  return left.count() > most ? most : static_cast<int>(left.count());
}

// An answer header as text: true and value filled when present, false when absent or on error.
bool QueryHeader(HINTERNET request, DWORD infoLevel, std::string& value) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                      &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
  std::wstring wide(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, &wide[0], &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  wide.resize(bytes / sizeof(wchar_t));
  value = Narrow(wide);
  return true;
}

// The announced Content-Length, or -1 when there is none or it is not a plain decimal number.
long long AnnouncedLength(HINTERNET request) {
  std::string text;
  if (!QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, text) || text.empty() ||
      text.size() > 18) {
    return -1;
  }
  long long length = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    length = length * 10 + (c - '0');
  }
  return length;
}

// The local port of the TCP connection a sent request went out on; it names that connection
// among this session's connections. 0 when WinHTTP cannot tell.
unsigned LocalPort(HINTERNET request) {
  WINHTTP_CONNECTION_INFO info{};
  info.cbSize = sizeof info;
  DWORD size = sizeof info;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_CONNECTION_INFO, &info, &size)) return 0;
  if (info.LocalAddress.ss_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in*>(&info.LocalAddress)->sin_port;
  }
  if (info.LocalAddress.ss_family == AF_INET6) {
    return reinterpret_cast<const sockaddr_in6*>(&info.LocalAddress)->sin6_port;
  }
  return 0;
}

// At most `size` exchanges at a time; a call waits for a free slot until its deadline.
class ExchangeSlots {
 public:
  explicit ExchangeSlots(int size) : free_(size) {}

  // Returns 0, ZENTA_E_TIMEOUT or ZENTA_E_SESSION_CLOSED.
  int Acquire(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool ready =
        available_.wait_until(lock, deadline, [this] { return closed_ || free_ > 0; });
    if (closed_) return ZENTA_E_SESSION_CLOSED;
    if (!ready) return ZENTA_E_TIMEOUT;
    --free_;
    return ZENTA_OK;
  }

  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++free_;
    }
    available_.notify_one();
  }

  void Shutdown() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    available_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable available_;
  int free_;
  bool closed_ = false;
};

// Holds a slot from a successful Acquire until the exchange leaves, on every exit path.
class SlotLease {
 public:
  SlotLease(ExchangeSlots& slots, Clock::time_point deadline)
      : slots_(slots), status_(slots.Acquire(deadline)) {}
  SlotLease(const SlotLease&) = delete;
  SlotLease& operator=(const SlotLease&) = delete;
  ~SlotLease() {
    if (status_ == ZENTA_OK) slots_.Release();
  }
  int Status() const { return status_; }

 private:
  ExchangeSlots& slots_;
  const int status_;
};

// The parts of a request that stay the same when it is sent a second time.
struct WideRequest {
  std::wstring method;
  std::wstring target;
  std::wstring headers;  // "Name: value\r\n" for each header, in record order
};

class WinHttpTransport final : public Transport {
 public:
  WinHttpTransport(const TransportConfig& config, InternetHandle session, InternetHandle connection)
      : config_(config),
        session_(std::move(session)),
        connection_(std::move(connection)),
        slots_(config.maxConnections) {}

  int Perform(const HttpRequest& request, std::string_view basePath, HttpAnswer& answer) override {
    const Clock::time_point deadline = Clock::now() + config_.requestTimeout;
    const SlotLease lease(slots_, deadline);
    if (lease.Status() != ZENTA_OK) return lease.Status();

    WideRequest wide;
    std::wstring line;
    if (!Widen(request.method, wide.method) ||
        !Widen(std::string(basePath).append(request.target), wide.target)) {
      return ZENTA_E_TRANSPORT;  // both are ASCII by the time they get here
    }
    std::string text;
    for (const HttpHeader& header : request.headers) {
      text.assign(header.name).append(": ").append(header.value).append("\r\n");
      if (!Widen(text, line)) return ZENTA_E_BAD_HEADER;
      wide.headers += line;
    }
    // WinHTTP announces a length only for a body it is given; the methods that carry one by
    // nature announce an empty one explicitly, as the libcurl transport does.
    if (request.bodyLength == 0 && ExpectsBody(request.method)) {
      wide.headers += L"Content-Length: 0\r\n";
    }

    // A GET is safe to repeat, so it gets one more try when the only fault was a kept-alive
    // connection that the server had closed; nothing else is ever sent twice by this code.
    for (int attempt = 0;; ++attempt) {
      bool reused = false;
      const int status = Exchange(request, wide, deadline, answer, reused);
      const bool dropped = status == ZENTA_E_SEND || status == ZENTA_E_RECEIVE;
      if (attempt == 0 && dropped && reused && request.method == "GET" && Clock::now() < deadline) {
        continue;
      }
      return status;
    }
  }

  void Shutdown() override { slots_.Shutdown(); }

 private:
  // One request on a fresh request handle. reused tells whether the request went out on a
  // connection that had carried an earlier exchange of this session.
  int Exchange(const HttpRequest& request, const WideRequest& wide, Clock::time_point deadline,
               HttpAnswer& answer, bool& reused) {
    answer.body.clear();
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (config_.https ? WINHTTP_FLAG_SECURE : 0);
    InternetHandle handle(
        WinHttpOpenRequest(connection_.get(), wide.method.c_str(), wide.target.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags),
        &WinHttpCloseHandle);
    if (!handle) return CodeOf(GetLastError(), Phase::kSetup);
    HINTERNET requestHandle = handle.get();

    int status = Configure(requestHandle, deadline);
    if (status != ZENTA_OK) return status;
    if (!wide.headers.empty() && !WinHttpAddRequestHeaders(requestHandle, wide.headers.c_str(),
                                                           static_cast<DWORD>(wide.headers.size()),
                                                           WINHTTP_ADDREQ_FLAG_ADD)) {
      return CodeOf(GetLastError(), Phase::kSetup);
    }
    const auto bodyLength = static_cast<DWORD>(request.bodyLength);
    // WinHTTP only reads the body; the parameter is not const for historical reasons.
    void* body = bodyLength > 0 ? const_cast<char*>(request.body) : WINHTTP_NO_REQUEST_DATA;
    if (!WinHttpSendRequest(requestHandle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, bodyLength,
                            bodyLength, 0)) {
      return CodeOf(GetLastError(), Phase::kSend);
    }
    const unsigned localPort = LocalPort(requestHandle);
    reused = localPort != 0 && Carried(localPort);
    if (!WinHttpReceiveResponse(requestHandle, nullptr)) {
      return CodeOf(GetLastError(), Phase::kReceive);
    }
    status = ReadAnswer(requestHandle, request.method == "HEAD", deadline, answer);
    if (status == ZENTA_OK && localPort != 0) Remember(localPort);
    return status;
  }

  // Timeouts, redirects, cookies, authentication and certificate checks of one request.
  int Configure(HINTERNET request, Clock::time_point deadline) const {
    const int remaining = RemainingMs(deadline);
    if (remaining == 0) return ZENTA_E_TIMEOUT;
    const auto connectMs = static_cast<int>(config_.connectTimeout.count());
    const int connect = connectMs < remaining ? connectMs : remaining;
    if (!WinHttpSetTimeouts(request, connect, connect, remaining, remaining)) {
      return CodeOf(GetLastError(), Phase::kSetup);
    }
    // Waiting for the answer's head has a timeout of its own, apart from the receive timeout.
    DWORD headTimeout = static_cast<DWORD>(remaining);
    if (!WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeout,
                          sizeof headTimeout)) {
      return CodeOf(GetLastError(), Phase::kSetup);
    }
    // Redirects are answers like any other; cookies and authentication are the caller's.
    DWORD disabled =
        WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled)) {
      return CodeOf(GetLastError(), Phase::kSetup);
    }
    if (config_.https && !config_.verifyTls) {
      DWORD ignored = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                      SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
      if (!WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &ignored, sizeof ignored)) {
        return CodeOf(GetLastError(), Phase::kSetup);
      }
    }
    return ZENTA_OK;
  }

  // Status, content type and body, within the size cap and the deadline.
  int ReadAnswer(HINTERNET request, bool head, Clock::time_point deadline,
                 HttpAnswer& answer) const {
    DWORD httpStatus = 0;
    DWORD size = sizeof httpStatus;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &httpStatus, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      return ZENTA_E_PROTOCOL;
    }
    answer.status = static_cast<int>(httpStatus);
    answer.contentType.clear();
    QueryHeader(request, WINHTTP_QUERY_CONTENT_TYPE, answer.contentType);

    const std::size_t cap = config_.maxAnswerBytes;
    // The answers that never have a body may still announce the length of one.
    const bool bodyless = head || httpStatus < 200 || httpStatus == 204 || httpStatus == 304;
    const long long announced = bodyless ? -1 : AnnouncedLength(request);
    if (announced > static_cast<long long>(cap)) return ZENTA_E_ANSWER_TOO_LARGE;
    // The announced length plus the NUL the hand-over appends.
    if (announced > 0) answer.body.reserve(static_cast<std::size_t>(announced) + 1);
    for (;;) {
      DWORD remaining = static_cast<DWORD>(RemainingMs(deadline));
      if (remaining == 0) return ZENTA_E_TIMEOUT;
      if (!WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &remaining,
                            sizeof remaining)) {
        return CodeOf(GetLastError(), Phase::kReceive);
      }
      // Asking for one byte more than the cap allows reveals an answer that is too long.
      const std::size_t at = answer.body.size();
      const std::size_t room = cap - at + 1;
      const DWORD wanted = room < kReadChunk ? static_cast<DWORD>(room) : kReadChunk;
      answer.body.resize(at + wanted);
      DWORD read = 0;
      if (!WinHttpReadData(request, answer.body.data() + at, wanted, &read)) {
        return CodeOf(GetLastError(), Phase::kReceive);
      }
      answer.body.resize(at + read);
      if (read == 0) {
        // The connection ended before the announced length arrived.
        if (announced > static_cast<long long>(answer.body.size())) return ZENTA_E_RECEIVE;
        return ZENTA_OK;
      }
      if (answer.body.size() > cap) return ZENTA_E_ANSWER_TOO_LARGE;
    }
  }

  bool Carried(unsigned localPort) {
    std::lock_guard<std::mutex> lock(portsMutex_);
    return carriedPorts_.count(localPort) != 0;
  }

  void Remember(unsigned localPort) {
    std::lock_guard<std::mutex> lock(portsMutex_);
    carriedPorts_.insert(localPort);
  }

  const TransportConfig config_;
  const InternetHandle session_;
  const InternetHandle connection_;  // closed before the session it belongs to
  ExchangeSlots slots_;
  // Local ports of the connections that completed an exchange: a request that goes out on one
  // of them reused a kept-alive connection. At most one entry per port number.
  std::mutex portsMutex_;
  std::set<unsigned> carriedPorts_;
};

}  // namespace

std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status) {
  if (config.https && config.verifyTls && !config.caFile.empty()) {
    status = ZENTA_E_BAD_OPTION;
    return nullptr;
  }
  InternetHandle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0),
                         &WinHttpCloseHandle);
  if (!session) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  DWORD connections = static_cast<DWORD>(config.maxConnections);
  if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &connections,
                        sizeof connections)) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  // An IPv6 literal goes in brackets, as in a URL, so that WinHTTP can tell it from a port.
  const std::string host =
      config.host.find(':') != std::string::npos ? "[" + config.host + "]" : config.host;
  std::wstring wideHost;
  if (!Widen(host, wideHost)) {
    status = ZENTA_E_BAD_URL;
    return nullptr;
  }
  InternetHandle connection(
      WinHttpConnect(session.get(), wideHost.c_str(), static_cast<INTERNET_PORT>(config.port), 0),
      &WinHttpCloseHandle);
  if (!connection) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  status = ZENTA_OK;
  return std::make_unique<WinHttpTransport>(config, std::move(session), std::move(connection));
}

}  // namespace zenta
