// The WinHTTP transport: one WinHTTP session and one connection handle per ZENTA session, and a
// request handle per exchange; the session's pool bounds how many exchanges run at once
// (maxConnections).
//
// Every exchange goes out on a connection of its own, closed once its answer has been read
// (WINHTTP_DISABLE_KEEP_ALIVE). WinHTTP holds the connections it keeps alive and gives no look at
// an idle one: it would reuse one that holds unread bytes (a stray answer, a 408 before a close)
// and hand them over as the next request's answer, and the policy could neither close it after
// a suspicious exchange nor keep a request other than GET/HEAD off one idle for long. A
// connection the policy cannot prove clean is never reused, so none is: HasPendingInput has
// nothing to look at and Disconnect nothing to close, and no exchange is ever "reused".
//
// The answer is checked as the libcurl transport checks it: the head as WinHTTP received it
// (WINHTTP_QUERY_RAW_HEADERS_CRLF) goes line by line through AnswerHead, and the body must be
// exactly as long as its Content-Length, unless WinHTTP decoded gzip (then the length counts the
// encoded bytes, and only the cap on decoded bytes holds). Gzip is asked for through WinHTTP's
// own decoder (WINHTTP_OPTION_DECOMPRESSION, Windows 8.1 and later); where WinHTTP has none
// (wine, older Windows) nothing is asked for, and a content coding reaches AnswerHead and is
// refused there. Reads take only what WinHttpQueryDataAvailable reports, each wait bounded by
// what is left of the request's deadline.
//
// Bytes and wide strings: WinHTTP takes the method, the target and the headers as UTF-16 and
// writes them to the wire as UTF-8 (measured under wine). The target arrives percent-encoded
// (pure ASCII); header texts are decoded from UTF-8, so a value that is valid UTF-8 goes out byte
// for byte, and one that is not (a lone Latin-1 byte, say) has no UTF-16 form that would and is
// refused with ZENTA_E_BAD_HEADER rather than sent altered. WINHTTP_FLAG_ESCAPE_DISABLE(_QUERY)
// keep WinHTTP from escaping the target a second time.
//
// A CA file cannot be handed to WinHTTP, which verifies against the Windows certificate store.
// With a caFile, WinHTTP is told to ignore only an unknown CA, and the transport verifies the
// server's chain itself against the file's certificates (CaTrust) when WinHTTP reports that it is
// about to send the request (WINHTTP_CALLBACK_STATUS_SENDING_REQUEST: the handshake is done, no
// byte of the request has been written). A chain that does not verify cancels the request: the
// callback closes the request handle, which ends WinHttpSendRequest, and the exchange fails with
// ZENTA_E_TLS. See docs/windows.md for what wine does instead.
//
// Proxies: the system's (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, or the default configuration where
// that is not known), none, or a named one; WinHTTP tunnels https through CONNECT itself.

// The socket headers come first: windows.h would otherwise bring the old winsock.h, and
// winhttp.h declares WINHTTP_CONNECTION_INFO only once the socket address types are known.
#include <winsock2.h>
#include <ws2tcpip.h>
// A block of their own, so that sorting the includes keeps them after the socket headers.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "../AnswerHead.h"
#include "../Transport.h"
#include "WinHttpErrors.h"
#include "WinHttpTls.h"

namespace zenta {
namespace {

// Session, connection and request handles all go back through WinHttpCloseHandle.
using InternetHandle = std::unique_ptr<void, decltype(&WinHttpCloseHandle)>;

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

// The answer's head as WinHTTP received it: the status line and the header lines, each ending
// in CRLF, then an empty line. Bytes WinHTTP widened from the wire come back as UTF-8 (ASCII,
// which is all the head's rules look at, is unchanged). False when WinHTTP cannot give it.
bool RawHead(HINTERNET request, std::string& head) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
  std::wstring wide(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                           &wide[0], &bytes, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  wide.resize(bytes / sizeof(wchar_t));
  head = Narrow(wide);
  return true;
}

// Feeds head line by line to checker, up to the end of the final head; the empty line that ends
// it is fed even when WinHTTP leaves it out. ZENTA_OK, or ZENTA_E_PROTOCOL with detail set.
int CheckHead(std::string_view head, AnswerHead& checker, Detail& detail) {
  while (!head.empty() && !checker.Complete()) {
    const std::size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    const int code = checker.Line(line, detail);
    if (code != ZENTA_OK) return code;
    head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
  }
  if (!checker.Complete()) {
    const int code = checker.Line(std::string_view(), detail);
    if (code != ZENTA_OK) return code;
  }
  if (!checker.Complete()) {
    detail.Set("the answer ended before its head did");
    return ZENTA_E_PROTOCOL;
  }
  return ZENTA_OK;
}

// A slot of the session's pool: a connection exists only during an exchange.
struct WinHttpSlot final : Connection {};

// The check of the server's certificate against caFile, for one exchange.
struct Verification {
  enum class State { kPending, kTrusted, kRefused };
  const CaTrust* trust = nullptr;
  const std::wstring* host = nullptr;
  State state = State::kPending;
  bool closed = false;  // the callback closed the request handle
  Detail reason;
};

// WinHTTP calls this on the thread of WinHttpSendRequest once the connection (and its handshake)
// is up, right before it writes the request. A certificate that does not verify cancels the
// request by closing its handle.
void CALLBACK OnSendingRequest(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
  Verification& check = *reinterpret_cast<Verification*>(context);
  if (check.state != Verification::State::kPending) return;
  PCCERT_CONTEXT certificate = nullptr;
  DWORD size = sizeof certificate;
  if (WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size)) {
    const bool trusted = check.trust->Verify(certificate, *check.host, check.reason);
    CertFreeCertificateContext(certificate);
    if (trusted) {
      check.state = Verification::State::kTrusted;
      return;
    }
  } else if (GetLastError() == ERROR_WINHTTP_INCORRECT_HANDLE_STATE) {
    return;  // a proxy's tunnel is not up yet: a later notification has the certificate
  } else {
    check.reason.Set("WinHTTP gives no server certificate (error %lu)",
                     static_cast<unsigned long>(GetLastError()));
  }
  check.state = Verification::State::kRefused;
  check.closed = WinHttpCloseHandle(request) != FALSE;
}

class WinHttpTransport final : public Transport {
 public:
  WinHttpTransport(const TransportConfig& config, InternetHandle session, InternetHandle connection,
                   std::unique_ptr<CaTrust> trust, std::unique_ptr<ClientCertificate> client,
                   std::wstring host)
      : config_(config),
        trust_(std::move(trust)),
        client_(std::move(client)),
        host_(std::move(host)),
        session_(std::move(session)),
        connection_(std::move(connection)) {}

  std::unique_ptr<Connection> NewConnection() override {
    return std::unique_ptr<Connection>(new (std::nothrow) WinHttpSlot);
  }

  // No connection outlives its exchange: nothing can wait on one, and nothing is left to close.
  bool HasPendingInput(Connection&) override { return false; }

  void Disconnect(Connection&) override {}

  int Exchange(Connection&, const ZENTA_HttpRequest& request, Clock::time_point deadline,
               ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report) override {
    std::wstring method;
    std::wstring target;
    std::wstring headers;
    std::wstring line;
    if (!Widen(std::string(request.method, request.methodLength), method) ||
        !Widen(config_.basePath + std::string(request.target, request.targetLength), target)) {
      report.detail.Set("the method or target is not ASCII");
      return ZENTA_E_TRANSPORT;  // both are ASCII by the time they get here
    }
    std::string text;
    for (std::size_t i = 0; i < request.headerCount; ++i) {
      const ZENTA_HttpHeader& header = request.headers[i];
      text.assign(header.name, header.nameLength)
          .append(": ")
          .append(header.value, header.valueLength)
          .append("\r\n");
      if (!Widen(text, line)) {
        report.detail.Set("header %llu is not UTF-8, and WinHTTP sends only UTF-8 header text",
                          static_cast<unsigned long long>(i));
        return ZENTA_E_BAD_HEADER;
      }
      headers += line;
    }
    // WinHTTP announces a length only for a body it is given; the methods that carry one by
    // nature announce an empty one explicitly, as the libcurl transport does.
    if (request.bodyLength == 0 && ExpectsBody(std::string(request.method, request.methodLength))) {
      headers += L"Content-Length: 0\r\n";
    }

    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (config_.https ? WINHTTP_FLAG_SECURE : 0);
    InternetHandle handle(
        WinHttpOpenRequest(connection_.get(), method.c_str(), target.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags),
        &WinHttpCloseHandle);
    if (!handle) return Failed(GetLastError(), Phase::kSetup, report);
    HINTERNET requestHandle = handle.get();

    bool gzip = false;
    int status = Configure(requestHandle, deadline, gzip, report);
    if (status != ZENTA_OK) return status;
    Verification check;
    check.trust = trust_.get();
    check.host = &host_;
    if (trust_ && WinHttpSetStatusCallback(requestHandle, &OnSendingRequest,
                                           WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                                           0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    if (!headers.empty() &&
        !WinHttpAddRequestHeaders(requestHandle, headers.c_str(),
                                  static_cast<DWORD>(headers.size()), WINHTTP_ADDREQ_FLAG_ADD)) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    const auto bodyLength = static_cast<DWORD>(request.bodyLength);
    // WinHTTP only reads the body; the parameter is not const for historical reasons.
    void* sent = bodyLength > 0 ? const_cast<char*>(request.body) : WINHTTP_NO_REQUEST_DATA;
    report.Reached(ExchangePhase::kRequestSent);
    const bool wrote =
        WinHttpSendRequest(requestHandle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, sent, bodyLength,
                           bodyLength, reinterpret_cast<DWORD_PTR>(&check)) != FALSE;
    const DWORD error = wrote ? 0 : GetLastError();
    if (check.closed) handle.release();  // the callback closed it
    // A server certificate that was not found trusted fails the exchange, also when WinHTTP went
    // on (wine writes the request although its handle was closed) or never asked (fail closed).
    if (trust_ && check.state != Verification::State::kTrusted &&
        (wrote || check.state == Verification::State::kRefused)) {
      report.phase = wrote ? ExchangePhase::kRequestSent : ExchangePhase::kNotSent;
      if (check.state == Verification::State::kPending) {
        report.detail.Set(
            "the server's certificate is not trusted: WinHTTP sent the request before it could "
            "be checked against caFile");
      } else {
        report.detail.Set("the server's certificate is not trusted: %s", check.reason.Text());
      }
      return ZENTA_E_TLS;
    }
    if (!wrote) {
      // Nothing went out when the name, the connection or the handshake failed.
      const std::string phase = PhaseName(error, Phase::kSend);
      report.phase = phase == "send" ? ExchangePhase::kRequestSent : ExchangePhase::kNotSent;
      return Failed(error, Phase::kSend, report);
    }
    if (!WinHttpReceiveResponse(requestHandle, nullptr)) {
      return Failed(GetLastError(), Phase::kReceive, report);
    }
    report.Reached(ExchangePhase::kAnswerStarted);
    return ReadAnswer(requestHandle, request, deadline, gzip, answer, body, report);
  }

 private:
  // The code of a WinHTTP failure, with its number, its meaning and the phase in the detail.
  int Failed(DWORD error, Phase phase, ExchangeReport& report) const {
    const char* phaseName = PhaseName(error, phase);
    if (error == ERROR_WINHTTP_NAME_NOT_RESOLVED) {
      report.detail.Set("could not resolve host %s: WinHTTP error %lu during %s",
                        config_.host.c_str(), static_cast<unsigned long>(error), phaseName);
    } else if (error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED && !client_) {
      report.detail.Set(
          "the server requires a client certificate, and the session has none (clientCert): "
          "WinHTTP error %lu during %s",
          static_cast<unsigned long>(error), phaseName);
    } else if (error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED) {
      report.detail.Set(
          "the server requires a client certificate and did not take the session's "
          "(clientCert): WinHTTP error %lu during %s",
          static_cast<unsigned long>(error), phaseName);
    } else {
      report.detail.Set("%s: WinHTTP error %lu during %s", Meaning(error, config_.verifyTls),
                        static_cast<unsigned long>(error), phaseName);
    }
    return CodeOf(error, phase);
  }

  // Timeouts, redirects, cookies, authentication, certificates and decoding of one request; gzip
  // tells whether WinHTTP asks for gzip and decodes it.
  int Configure(HINTERNET request, Clock::time_point deadline, bool& gzip,
                ExchangeReport& report) const {
    const int remaining = RemainingMs(deadline);
    if (remaining == 0) {
      report.detail.Set("the request timeout elapsed before the request was sent");
      return ZENTA_E_TIMEOUT;
    }
    const auto connectMs = static_cast<int>(config_.connectTimeout.count());
    const int connect = connectMs < remaining ? connectMs : remaining;
    if (!WinHttpSetTimeouts(request, connect, connect, remaining, remaining)) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    // Waiting for the answer's head has a timeout of its own, apart from the receive timeout.
    DWORD headTimeout = static_cast<DWORD>(remaining);
    if (!WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeout,
                          sizeof headTimeout)) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    // Redirects are answers like any other; cookies and authentication are the caller's; the
    // connection ends with its exchange (see the top of this file).
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES |
                     WINHTTP_DISABLE_AUTHENTICATION | WINHTTP_DISABLE_KEEP_ALIVE;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled)) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    // Not verifying ignores every certificate error; a caFile only the unknown CA, whose check
    // OnSendingRequest does against the file's certificates.
    DWORD ignored = !config_.https ? 0
                    : !config_.verifyTls
                        ? SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                              SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                              SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE
                    : trust_ ? SECURITY_FLAG_IGNORE_UNKNOWN_CA
                             : 0;
    if (ignored != 0 &&
        !WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &ignored, sizeof ignored)) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    if (client_ &&
        !WinHttpSetOption(request, WINHTTP_OPTION_CLIENT_CERT_CONTEXT,
                          const_cast<CERT_CONTEXT*>(client_->Get()), sizeof(CERT_CONTEXT))) {
      return Failed(GetLastError(), Phase::kSetup, report);
    }
    // WinHTTP's decoder sends "Accept-Encoding: gzip" itself. Where it has none (wine, Windows
    // before 8.1: ERROR_WINHTTP_INVALID_OPTION) nothing is asked for and answers come unencoded.
    DWORD decoding = WINHTTP_DECOMPRESSION_FLAG_GZIP;
    gzip = config_.gzip &&
           WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &decoding, sizeof decoding);
    return ZENTA_OK;
  }

  // The head through AnswerHead, then the body, exactly as long as announced, within the size
  // cap and the deadline.
  int ReadAnswer(HINTERNET request, const ZENTA_HttpRequest& sent, Clock::time_point deadline,
                 bool gzip, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
                 ExchangeReport& report) const {
    const bool head = sent.methodLength == 4 && std::string(sent.method, 4) == "HEAD";
    std::string rawHead;
    if (!RawHead(request, rawHead)) {
      report.detail.Set("WinHTTP gives no head of the answer");
      return ZENTA_E_PROTOCOL;
    }
    AnswerHead checker;
    checker.Start(&answer, head, gzip);
    const int checked = CheckHead(rawHead, checker, report.detail);
    if (checked != ZENTA_OK) return checked;

    const std::size_t cap = body.Cap();
    // The answers that never have a body may still announce the length of one; the length of a
    // body WinHTTP decoded counts its encoded bytes, so only the cap holds for it.
    const bool bodyless = head || answer.status == 204 || answer.status == 304;
    const long long announced = bodyless || checker.Gzipped() ? -1 : checker.Length();
    if (announced > static_cast<long long>(cap)) {
      report.detail.Set("the answer announces %lld bytes, more than the cap of %llu", announced,
                        static_cast<unsigned long long>(cap));
      return ZENTA_E_ANSWER_TOO_LARGE;
    }
    if (announced > 0 && body.Reserve(static_cast<std::size_t>(announced)) != ZENTA_OK) {
      return ZENTA_E_NO_MEMORY;
    }
    for (;;) {
      // Each wait gets what is left of the deadline, so a body that trickles in ends with it.
      DWORD remaining = static_cast<DWORD>(RemainingMs(deadline));
      if (remaining == 0) {
        report.detail.Set("the request timeout elapsed while the answer arrived");
        return ZENTA_E_TIMEOUT;
      }
      if (!WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &remaining,
                            sizeof remaining)) {
        return Failed(GetLastError(), Phase::kReceive, report);
      }
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) {
        return Failed(GetLastError(), Phase::kReceive, report);
      }
      if (available == 0) break;  // the end of the body
      // Room for one byte more than the cap allows reveals an answer that is too long.
      const std::size_t most = cap + 1 - body.Size();
      const DWORD wanted = most < available ? static_cast<DWORD>(most) : available;
      char* room = body.Room(wanted);
      if (room == nullptr) return ZENTA_E_NO_MEMORY;
      DWORD read = 0;
      if (!WinHttpReadData(request, room, wanted, &read)) {
        return Failed(GetLastError(), Phase::kReceive, report);
      }
      body.Commit(read);
      if (announced >= 0 && body.Size() > static_cast<unsigned long long>(announced)) {
        report.detail.Set(
            "the answer's body goes on past its Content-Length of %lld bytes (at least %llu)",
            announced, static_cast<unsigned long long>(body.Size()));
        return ZENTA_E_PROTOCOL;
      }
      if (body.Size() > cap) {
        report.detail.Set("the answer grew past the cap of %llu bytes",
                          static_cast<unsigned long long>(cap));
        return ZENTA_E_ANSWER_TOO_LARGE;
      }
      if (read == 0) break;
    }
    if (announced > static_cast<long long>(body.Size())) {
      report.detail.Set("the connection ended after %llu of %lld announced bytes",
                        static_cast<unsigned long long>(body.Size()), announced);
      return ZENTA_E_RECEIVE;
    }
    return ZENTA_OK;
  }

  const TransportConfig config_;
  const std::unique_ptr<CaTrust> trust_;             // null: the system's store, or no check
  const std::unique_ptr<ClientCertificate> client_;  // null: none
  const std::wstring host_;                          // the name the certificate must be for
  const InternetHandle session_;
  const InternetHandle connection_;  // closed before the session it belongs to
};

// The WinHTTP session for config's proxy: the system's (the automatic proxy of Windows 8.1 and
// later, else the default configuration), none, or "http://host:port". Null with detail set when
// the proxy cannot be used.
InternetHandle OpenSession(const TransportConfig& config, Detail& detail) {
  InternetHandle none(nullptr, &WinHttpCloseHandle);
  if (!config.proxySet) {
    HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
      session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    }
    return InternetHandle(session, &WinHttpCloseHandle);
  }
  if (config.proxy.empty()) {
    return InternetHandle(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0),
                          &WinHttpCloseHandle);
  }
  // WinHTTP names a proxy "host:port"; a trailing "/" of the URL is dropped.
  std::string authority = config.proxy.substr(7);
  if (!authority.empty() && authority.back() == '/') authority.pop_back();
  std::wstring name;
  if (authority.empty() || authority.find_first_of("/@?# ") != std::string::npos ||
      !Widen(authority, name)) {
    // The value is not repeated: it may hold a user and password.
    detail.Set(
        "the session option proxy must be \"\" (none) or http://host:port, without a user, "
        "a path or a query");
    return none;
  }
  return InternetHandle(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(),
                                    WINHTTP_NO_PROXY_BYPASS, 0),
                        &WinHttpCloseHandle);
}

}  // namespace

std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status,
                                           Detail& detail) {
  status = ZENTA_E_BAD_OPTION;
  std::unique_ptr<CaTrust> trust;
  if (config.https && config.verifyTls && !config.caFile.empty()) {
    trust = std::make_unique<CaTrust>();
    if (!trust->Load(config.caFile, detail)) return nullptr;
  }
  if (!config.clientKey.empty()) {
    detail.Set(
        "the session option clientKey cannot be used with WinHTTP, which takes the key with its "
        "certificate: a PFX file or \"store:<thumbprint>\" in clientCert; leave clientKey empty");
    return nullptr;
  }
  std::unique_ptr<ClientCertificate> client;
  if (config.https && !config.clientCert.empty()) {
    client = std::make_unique<ClientCertificate>();
    if (!client->Load(config.clientCert, config.clientKeyPassword, detail)) return nullptr;
  }
  InternetHandle session = OpenSession(config, detail);
  if (!session) {
    if (detail.Text()[0] == '\0') status = ZENTA_E_TRANSPORT_INIT;
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
  std::wstring certificateHost;  // as the certificate names it: an IPv6 literal without brackets
  if (!Widen(host, wideHost) || !Widen(config.host, certificateHost)) {
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
  return std::make_unique<WinHttpTransport>(config, std::move(session), std::move(connection),
                                            std::move(trust), std::move(client),
                                            std::move(certificateHost));
}

}  // namespace zenta
