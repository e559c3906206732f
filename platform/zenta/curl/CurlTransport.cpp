// The libcurl transport: a connection is an easy handle with a connection cache of one, so a
// handle that goes back to the session's pool keeps its keep-alive connection for the next
// exchange on it. Each exchange is exactly one request: libcurl's own re-send of a request whose
// reused connection died is refused (the pre-request callback aborts a second send) and left to
// the session's policy. Proxies are libcurl's (the environment's unless the session names one),
// and gzip-coded answers are decoded here, with zlib, so that the answer cap counts decoded bytes
// and a cut gzip stream is refused.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "../AnswerHead.h"
#include "../Ascii.h"
#include "../Transport.h"
#include "CurlErrors.h"

namespace zenta {
namespace {

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

CURLcode InitCurlOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

// Applies options in order and keeps the first failure, so a whole configuration is checked once.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* easy) : easy_(easy) {}

  template <typename Value>
  OptionSetter& Set(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(easy_, option, value);
    return *this;
  }

  CURLcode Result() const { return result_; }

 private:
  CURL* easy_;
  CURLcode result_ = CURLE_OK;
};

// Decodes a gzip-coded body into the answer's buffer, so that the cap holds for the decoded
// bytes (a small stream that decodes to gigabytes is refused at the cap). Kept with its
// connection and reset for each answer, so zlib's state is allocated once per connection.
class GzipDecoder {
 public:
  GzipDecoder() = default;
  GzipDecoder(const GzipDecoder&) = delete;
  GzipDecoder& operator=(const GzipDecoder&) = delete;
  ~GzipDecoder() {
    if (ready_) inflateEnd(&stream_);
  }

  // Starts a new answer's stream. ZENTA_OK or ZENTA_E_NO_MEMORY.
  int Start() {
    ended_ = false;
    if (ready_) return inflateReset(&stream_) == Z_OK ? ZENTA_OK : ZENTA_E_NO_MEMORY;
    ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;  // 16: gzip's wrapper, not zlib's
    return ready_ ? ZENTA_OK : ZENTA_E_NO_MEMORY;
  }

  // Decodes coded bytes into body. Bytes after a stream's end begin another gzip member (RFC
  // 1952 allows several); anything else there is broken coding. ZENTA_OK, or the code with detail.
  int Feed(const char* data, std::size_t size, AnswerBuffer& body, Detail& detail) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    while (stream_.avail_in > 0) {
      if (ended_ && inflateReset(&stream_) != Z_OK) return ZENTA_E_NO_MEMORY;
      ended_ = false;
      do {
        // One byte past the cap is room enough to reveal an answer that is too long.
        const std::size_t most = std::min<std::size_t>(kStep, body.Cap() + 1 - body.Size());
        char* room = body.Room(most);
        if (room == nullptr) return ZENTA_E_NO_MEMORY;
        stream_.next_out = reinterpret_cast<Bytef*>(room);
        stream_.avail_out = static_cast<uInt>(most);
        const int result = inflate(&stream_, Z_NO_FLUSH);
        body.Commit(most - stream_.avail_out);
        if (body.Size() > body.Cap()) {
          detail.Set("the answer grew past the cap of %zu bytes as its gzip coding was decoded",
                     body.Cap());
          return ZENTA_E_ANSWER_TOO_LARGE;
        }
        if (result == Z_STREAM_END) {
          ended_ = true;
          break;
        }
        if (result == Z_MEM_ERROR) return ZENTA_E_NO_MEMORY;
        if (result != Z_OK && result != Z_BUF_ERROR) {
          detail.Set("the answer's gzip coding is broken (zlib: %s)",
                     stream_.msg != nullptr ? stream_.msg : "no message");
          return ZENTA_E_PROTOCOL;
        }
      } while (stream_.avail_out == 0);
    }
    return ZENTA_OK;
  }

  // True when the last stream fed has ended with its trailer (its length and CRC checked).
  bool Ended() const { return ended_; }

 private:
  static constexpr std::size_t kStep = 64 * 1024;
  z_stream stream_{};
  bool ready_ = false;
  bool ended_ = false;
};

// What the callbacks of one exchange write to, and why they stopped it if they did.
struct ExchangeState {
  AnswerBuffer* body = nullptr;
  ExchangeReport* report = nullptr;
  int sends = 0;                  // pre-request callbacks: the second is libcurl re-sending
  bool connected = false;         // libcurl opened a connection's socket for this exchange
  int failure = 0;                // a code a callback stopped the exchange with
  bool certificateAsked = false;  // a TLS handshake of this exchange asked for a certificate
  std::size_t codedBytes = 0;     // bytes of a gzip-coded body, before decoding
  AnswerHead head;                // the answer's head, checked line by line
};

// What libcurl asks to be waited for during an exchange run by socket actions (Perform): the
// sockets and their events (CURLMOPT_SOCKETFUNCTION) and when it wants to run again
// (CURLMOPT_TIMERFUNCTION).
struct Waits {
  static constexpr int kMost = 8;  // a connection, its second try, a resolver's pipe, a proxy
  pollfd sockets[kMost] = {};
  int count = 0;
  long timerMs = -1;  // -1: none
};

int OnSocketWait(CURL*, curl_socket_t socket, int what, void* user, void*) {
  Waits& waits = *static_cast<Waits*>(user);
  int i = 0;
  while (i < waits.count && waits.sockets[i].fd != socket) ++i;
  if (what == CURL_POLL_REMOVE) {
    if (i < waits.count) waits.sockets[i] = waits.sockets[--waits.count];
    return 0;
  }
  if (i == waits.count) {
    if (waits.count == Waits::kMost) return -1;  // ends the transfer with an error
    ++waits.count;
  }
  const short events = static_cast<short>(((what & CURL_POLL_IN) != 0 ? POLLIN : 0) |
                                          ((what & CURL_POLL_OUT) != 0 ? POLLOUT : 0));
  waits.sockets[i] = pollfd{socket, events, 0};
  return 0;
}

int OnTimerWait(CURLM*, long timeoutMs, void* user) {
  static_cast<Waits*>(user)->timerMs = timeoutMs;
  return 0;
}

// An easy handle and what is configured on it. Requests of one kind follow each other on a
// handle, so each exchange sets only what differs from the previous one: the options of its
// shape (method, with or without a body) stay, and the URL and header list are compared in place
// with the ones set and kept when equal. Heap-allocated, so the addresses given to libcurl stay
// put.
struct CurlConnection final : Connection {
  // The socket of the handle's connection, learnt once per connection when an exchange opened
  // one and forgotten when libcurl closes it (OnSocketClose), so that the idle check asks libcurl
  // nothing. Declared before easy: libcurl closes the socket as the handle is cleaned up.
  curl_socket_t socket = CURL_SOCKET_BAD;
  // What the multi handle's exchanges wait for. Declared before multi, whose callbacks write it.
  Waits waits;
  // CURLOPT_CURLU as set: url, parsed (see SetUrl). Declared before easy, which reads it.
  UrlHandle parsedUrl{nullptr, &curl_url_cleanup};
  // The multi handle that runs the handle's exchanges (Perform) and keeps its connection between
  // them, as the easy interface's own one would.
  MultiHandle multi{nullptr, &curl_multi_cleanup};
  EasyHandle easy{nullptr, &curl_easy_cleanup};
  bool configured = false;  // false for a new handle and after a failure to configure
  bool fresh = false;       // the next exchange opens a new connection
  std::string method;
  bool sendsBody = false;
  std::string url;          // CURLOPT_URL as set
  std::string headerLines;  // the lines of headers, each NUL-terminated
  HeaderList headers{nullptr, &curl_slist_free_all};
  std::string next;  // the next exchange's URL or header lines when they differ from those set
  char errors[CURL_ERROR_SIZE] = {};
  ExchangeState state;
  GzipDecoder gzip;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& connection = *static_cast<CurlConnection*>(user);
  ExchangeState& state = connection.state;
  const std::size_t bytes = size * count;
  state.report->Reached(ExchangePhase::kAnswerStarted);
  int code = ZENTA_OK;
  // The whole announced length at once, so the body is never moved while it arrives. A gzip
  // body announces its coded length, which only hints at the decoded one (within the cap).
  if (state.body->Size() == 0 && state.codedBytes == 0 && state.head.Length() > 0) {
    code = state.body->Reserve(static_cast<std::size_t>(state.head.Length()));
  }
  if (code == ZENTA_OK && state.head.Gzipped()) {
    if (state.codedBytes == 0) code = connection.gzip.Start();
    state.codedBytes += bytes;
    if (code == ZENTA_OK) {
      code = connection.gzip.Feed(data, bytes, *state.body, state.report->detail);
    }
  } else if (code == ZENTA_OK) {
    code = state.body->Append(data, bytes);
    if (code == ZENTA_E_ANSWER_TOO_LARGE) {
      state.report->detail.Set("the answer grew past the cap of %zu bytes", state.body->Cap());
    }
  }
  if (code == ZENTA_OK) return bytes;
  state.failure = code;
  return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
}

// Each line of the answer's heads (and its trailers) goes through the head's rules; a line that
// breaks one stops the exchange.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  ExchangeState& state = static_cast<CurlConnection*>(user)->state;
  const std::size_t bytes = size * count;
  state.report->Reached(ExchangePhase::kAnswerStarted);
  const int code = state.head.Line(std::string_view(data, bytes), state.report->detail);
  if (code == ZENTA_OK) return bytes;
  state.failure = code;
  return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
}

// The index under which a TLS context keeps its connection, for OnCertificateRequest.
int ConnectionIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// OpenSSL asks for a client certificate when the server requested one and none is configured:
// the session has none to give, and the exchange notes that it was asked, so that the server's
// refusal that follows is named for what it is.
int OnCertificateRequest(SSL* ssl, X509**, EVP_PKEY**) {
  void* user = SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ConnectionIndex());
  if (user != nullptr) static_cast<CurlConnection*>(user)->state.certificateAsked = true;
  return 0;
}

// Whether libcurl's TLS is OpenSSL, whose contexts OnTlsContext knows how to use.
bool OpenSslUnder() {
  static const bool openssl = [] {
    const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
    return version != nullptr && version->ssl_version != nullptr &&
           std::strncmp(version->ssl_version, "OpenSSL/", 8) == 0;
  }();
  return openssl;
}

// Called by libcurl with each new TLS context of the handle (one per connection it opens).
CURLcode OnTlsContext(CURL*, void* context, void* user) {
  auto* tls = static_cast<SSL_CTX*>(context);
  if (SSL_CTX_set_ex_data(tls, ConnectionIndex(), user) != 1) return CURLE_OUT_OF_MEMORY;
  SSL_CTX_set_client_cert_cb(tls, &OnCertificateRequest);
  return CURLE_OK;
}

// Called by libcurl with each socket it opens for a connection, before connecting it: this
// exchange does not go out on the connection that carried the last one.
int OnSocketOpen(void* user, curl_socket_t, curlsocktype purpose) {
  if (purpose == CURLSOCKTYPE_IPCXN) static_cast<CurlConnection*>(user)->state.connected = true;
  return CURL_SOCKOPT_OK;
}

// Called by libcurl instead of close() for each socket of a connection it closes.
int OnSocketClose(void* user, curl_socket_t socket) {
  auto& connection = *static_cast<CurlConnection*>(user);
  if (connection.socket == socket) connection.socket = CURL_SOCKET_BAD;
  return close(socket);
}

// Called by libcurl right before it sends the request on a connection. A second call in one
// exchange is libcurl about to send the request again, on a new connection, because the reused
// one died: refused, so the policy alone decides what is sent twice.
int OnSend(void* user, char*, char*, int, int) {
  ExchangeState& state = static_cast<CurlConnection*>(user)->state;
  if (++state.sends > 1) return CURL_PREREQFUNC_ABORT;
  state.report->reused = !state.connected;
  state.report->Reached(ExchangePhase::kRequestSent);
  return CURL_PREREQFUNC_OK;
}

// Methods that carry a body by nature: without one they still announce "Content-Length: 0".
bool ExpectsBody(std::string_view method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

// Record headers in record order; "Accept-Encoding: gzip" when the session asks for gzip and the
// record does not say what it accepts; then the suppressions that keep curl from adding headers
// the caller did not ask for: "Expect: 100-continue" (a wasted round trip) and the form
// Content-Type curl gives a body by default. Each line ends with a NUL, for curl_slist_append.
// Lines is a std::string to write them to, or a LinesMatcher to compare them with those set.
template <typename Lines>
void WriteHeaderLines(const ZENTA_HttpRequest& request, bool sendsBody, bool askGzip,
                      Lines& lines) {
  bool hasContentType = false;
  for (std::size_t i = 0; i < request.headerCount; ++i) {
    const ZENTA_HttpHeader& header = request.headers[i];
    const std::string_view name(header.name, header.nameLength);
    // Only the checks that can still change what is written.
    hasContentType = hasContentType || (sendsBody && EqualsIgnoringAsciiCase(name, "Content-Type"));
    askGzip = askGzip && !EqualsIgnoringAsciiCase(name, "Accept-Encoding");
    lines.append(name);
    // curl sends "Name;" as a header with an empty value ("Name:" would remove the header).
    if (header.valueLength == 0) {
      lines.push_back(';');
    } else {
      lines.append(": ").append(header.value, header.valueLength);
    }
    lines.push_back('\0');
  }
  if (askGzip) lines.append("Accept-Encoding: gzip", sizeof "Accept-Encoding: gzip");
  if (sendsBody) {
    lines.append("Expect:", sizeof "Expect:");  // with its NUL
    if (!hasContentType) lines.append("Content-Type:", sizeof "Content-Type:");
  }
}

// Compares the lines WriteHeaderLines writes with lines already written, in place, piece by
// piece, so that an unchanged header list costs no copy.
class LinesMatcher {
 public:
  explicit LinesMatcher(const std::string& lines) : at_(lines.data()), left_(lines.size()) {}

  LinesMatcher& append(const char* piece, std::size_t size) {
    same_ = same_ && size <= left_ && std::memcmp(at_, piece, size) == 0;
    if (same_) {
      at_ += size;
      left_ -= size;
    }
    return *this;
  }
  LinesMatcher& append(std::string_view piece) { return append(piece.data(), piece.size()); }
  void push_back(char c) { append(&c, 1); }

  // True when the lines written are exactly those given.
  bool Same() const { return same_ && left_ == 0; }

 private:
  const char* at_;
  std::size_t left_;
  bool same_ = true;
};

// Puts what libcurl's code does not tell in front of its words.
void Prefix(Detail& detail, const char* what) {
  char words[Detail::kWidth];
  std::snprintf(words, sizeof words, "%s", detail.Text());
  detail.Set("%s (libcurl: %s)", what, words);
}

// The code and words of failures that libcurl reports in its own terms: a head line above its
// limit (reported as out of memory), malformed chunk sizes, and a server's refusal of a client
// without a certificate (TLS 1.2 refuses in the handshake; TLS 1.3 at the first read, after the
// request went out).
int Named(const ExchangeState& state, CURLcode result, int code, Detail& detail) {
  if (result == CURLE_OUT_OF_MEMORY && state.report->phase == ExchangePhase::kAnswerStarted &&
      !state.head.Complete()) {
    Prefix(detail, "a line of the answer's head is longer than libcurl's limit of 100 KiB");
    return ZENTA_E_PROTOCOL;
  }
  if (state.head.Complete() && std::strstr(detail.Text(), "chunked-encoding") != nullptr) {
    Prefix(detail, "the answer's chunked coding is malformed");
    return ZENTA_E_PROTOCOL;
  }
  if (result == CURLE_SSL_CERTPROBLEM) {
    Prefix(detail, "the client certificate or its key could not be used");
    return ZENTA_E_TLS;
  }
  if (state.certificateAsked && state.report->phase != ExchangePhase::kAnswerStarted &&
      (code == ZENTA_E_TLS || code == ZENTA_E_SEND || code == ZENTA_E_RECEIVE)) {
    Prefix(detail, "the server asked for a client certificate and none is configured");
    return ZENTA_E_TLS;
  }
  return code;
}

// A proxy URL for a detail: credentials in it (user:password@) are shown as ***.
std::string Masked(std::string url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t at = url.find('@', start);
  if (at != std::string::npos && at < url.find('/', start)) url.replace(start, at - start, "***");
  return url;
}

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(const TransportConfig& config) : config_(config) {}

  std::unique_ptr<Connection> NewConnection() override {
    std::unique_ptr<CurlConnection> connection(new (std::nothrow) CurlConnection);
    if (connection) {
      connection->multi.reset(curl_multi_init());
      connection->easy.reset(curl_easy_init());
    }
    if (!connection || !connection->multi || !connection->easy) return nullptr;
    CURLM* multi = connection->multi.get();
    void* waits = &connection->waits;
    if (curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &OnSocketWait) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, waits) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &OnTimerWait) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, waits) != CURLM_OK) {
      return nullptr;
    }
    return connection;
  }

  bool HasPendingInput(Connection& base) override {
    const curl_socket_t socket = static_cast<CurlConnection&>(base).socket;
    if (socket == CURL_SOCKET_BAD) return false;
    pollfd waiting{socket, POLLIN, 0};
    return poll(&waiting, 1, 0) != 0;  // bytes, the end of the stream or an error
  }

  void Disconnect(Connection& connection) override {
    static_cast<CurlConnection&>(connection).fresh = true;
  }

  int Exchange(Connection& base, const ZENTA_HttpRequest& request, Clock::time_point deadline,
               ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report) override {
    auto& connection = static_cast<CurlConnection&>(base);
    const std::string_view method(request.method, request.methodLength);
    const bool sendsBody = request.bodyLength > 0 || ExpectsBody(method);
    int status = Configure(connection, request, method, sendsBody);
    if (status != ZENTA_OK) {
      report.detail.Set("libcurl refused the request's options");
      return status;
    }
    connection.state = ExchangeState();
    connection.state.head.Start(&answer, method == "HEAD", config_.gzip);
    connection.state.body = &body;
    connection.state.report = &report;
    connection.errors[0] = '\0';
    CURL* easy = connection.easy.get();
    CURLcode result = SetPerExchange(connection, request, sendsBody, deadline);
    if (result == CURLE_OK) result = Perform(connection);
    if (connection.fresh) {
      connection.fresh = false;
      curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 0L);
    }
    const ExchangeState& state = connection.state;
    if (result == CURLE_OK && state.head.Complete()) {
      if (state.codedBytes == 0 || connection.gzip.Ended()) return ZENTA_OK;
      report.detail.Set("the answer's gzip stream is cut: its body ended before the stream did");
      return ZENTA_E_PROTOCOL;
    }
    if (state.failure != ZENTA_OK) return state.failure;
    if (result == CURLE_OK) {
      report.detail.Set("the answer ended before its head did");
      return ZENTA_E_PROTOCOL;
    }
    if (connection.state.sends > 1) {
      report.detail.Set(
          "the server closed the connection after the request went out, without an answer "
          "(not sent again)");
      return ZENTA_E_RECEIVE;
    }
    const int code =
        Named(state, result, Describe(easy, result, connection.errors, report), report.detail);
    return NameProxy(easy, result, code, report.detail);
  }

 private:
  // Brings the handle's options to this request's, except those set for each exchange. Nothing
  // leaks from the previous request on the handle: an exchange of another shape starts from
  // curl's defaults (the reset keeps the handle's live connections); one of the same shape
  // finds every option of that shape already set, as the previous exchange set it.
  int Configure(CurlConnection& connection, const ZENTA_HttpRequest& request,
                std::string_view method, bool sendsBody) {
    CURL* easy = connection.easy.get();
    if (!connection.configured || connection.sendsBody != sendsBody ||
        connection.method != method) {
      curl_easy_reset(easy);
      connection.configured = false;
      connection.url.clear();
      connection.headerLines.clear();
      connection.headers.reset();
      connection.method.assign(method);
      connection.sendsBody = sendsBody;
      const CURLcode result = SetShape(connection);
      if (result != CURLE_OK) return CodeOf(result);
      connection.configured = true;
    }

    // The URL is the origin and base path, which never change, then the target.
    const std::size_t prefix = config_.origin.size() + config_.basePath.size();
    if (connection.url.size() != prefix + request.targetLength ||
        std::memcmp(connection.url.data() + prefix, request.target, request.targetLength) != 0) {
      connection.next.assign(config_.origin)
          .append(config_.basePath)
          .append(request.target, request.targetLength);
      const CURLcode result = SetUrl(connection);
      if (result != CURLE_OK) {
        connection.configured = false;
        return CodeOf(result);
      }
      connection.url.swap(connection.next);
    }

    LinesMatcher set(connection.headerLines);
    WriteHeaderLines(request, sendsBody, config_.gzip, set);
    if (!set.Same()) {
      connection.next.clear();
      WriteHeaderLines(request, sendsBody, config_.gzip, connection.next);
      HeaderList list(nullptr, &curl_slist_free_all);
      const char* end = connection.next.data() + connection.next.size();
      for (const char* line = connection.next.data(); line < end; line += std::strlen(line) + 1) {
        curl_slist* grown = curl_slist_append(list.get(), line);
        if (grown == nullptr) return ZENTA_E_NO_MEMORY;
        if (!list) list.reset(grown);  // later appends return the same head
      }
      const CURLcode result = curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list.get());
      if (result != CURLE_OK) {
        connection.configured = false;
        return CodeOf(result);
      }
      connection.headers = std::move(list);  // the list curl no longer points to goes now
      connection.headerLines.swap(connection.next);
    }
    return ZENTA_OK;
  }

  // Sets the URL in connection.next, as text and parsed. Given only the text, libcurl parses it
  // and prints it back for every transfer (some 14,000 instructions, a sixth of a small
  // exchange); a parsed URL handle is only copied, so the URL is parsed here once, with the flags
  // libcurl's own parse uses, for as long as the target stays. The text stays set too, for what
  // libcurl reports of the URL. A URL that does not parse is left to libcurl alone, to fail as it
  // always has.
  static CURLcode SetUrl(CurlConnection& connection) {
    CURL* easy = connection.easy.get();
    UrlHandle parsed(curl_url(), &curl_url_cleanup);
    constexpr unsigned int kFlags =
        CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS;
    if (parsed &&
        curl_url_set(parsed.get(), CURLUPART_URL, connection.next.c_str(), kFlags) != CURLUE_OK) {
      parsed.reset();
    }
    const CURLcode result = curl_easy_setopt(easy, CURLOPT_URL, connection.next.c_str());
    if (result != CURLE_OK) parsed.reset();
    // Only stores the pointer; the handle libcurl read before goes now.
    curl_easy_setopt(easy, CURLOPT_CURLU, parsed.get());
    connection.parsedUrl = std::move(parsed);
    return result;
  }

  // Runs the exchange to its end as curl_easy_perform does, on the connection's multi handle, by
  // socket actions: libcurl starts at once (curl_easy_perform first polls its multi handle's
  // wake-up socket, with nothing to wait for yet), and when a wait finds the socket ready libcurl
  // is told so and reads without polling it again. A system call less for each, per request.
  // Learns the socket of a connection this exchange opened while the handle still belongs to the
  // multi handle.
  static CURLcode Perform(CurlConnection& connection) {
    CURLM* multi = connection.multi.get();
    CURL* easy = connection.easy.get();
    Waits& waits = connection.waits;
    int running = 0;
    CURLMcode status = curl_multi_add_handle(multi, easy);
    if (status == CURLM_OK) {
      status = curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
    }
    CURLcode result = CURLE_OK;
    for (bool done = false; status == CURLM_OK;) {
      int left = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
          result = message->data.result;
          done = true;
        }
      }
      if (done) break;
      if (waits.timerMs == 0) {  // due now: no wait
        status = curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
        continue;
      }
      // At most a second, as curl_easy_perform waits: libcurl's timers end it sooner.
      const int ready =
          poll(waits.sockets, static_cast<nfds_t>(waits.count),
               waits.timerMs < 0 || waits.timerMs > 1000 ? 1000 : static_cast<int>(waits.timerMs));
      if (ready < 0 && errno != EINTR) {
        result = CURLE_RECV_ERROR;
        break;
      }
      if (ready <= 0) {
        status = curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
        continue;
      }
      // The ready sockets first, as the actions may change what is waited for.
      pollfd readyOnes[Waits::kMost];
      int readyCount = 0;
      for (int i = 0; i < waits.count; ++i) {
        if (waits.sockets[i].revents != 0) readyOnes[readyCount++] = waits.sockets[i];
      }
      for (int i = 0; i < readyCount && status == CURLM_OK; ++i) {
        const short events = readyOnes[i].revents;
        const int mask = ((events & (POLLIN | POLLHUP)) != 0 ? CURL_CSELECT_IN : 0) |
                         ((events & POLLOUT) != 0 ? CURL_CSELECT_OUT : 0) |
                         ((events & (POLLERR | POLLNVAL)) != 0 ? CURL_CSELECT_ERR : 0);
        status = curl_multi_socket_action(multi, readyOnes[i].fd, mask, &running);
      }
    }
    if (status != CURLM_OK) {
      result = status == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_BAD_FUNCTION_ARGUMENT;
    }
    if (connection.state.connected) {
      // A new connection: its socket, or none when libcurl did not keep it.
      curl_socket_t socket = CURL_SOCKET_BAD;
      if (curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK) {
        socket = CURL_SOCKET_BAD;
      }
      connection.socket = socket;
    }
    curl_multi_remove_handle(multi, easy);
    return result;
  }

  // The options that depend only on the session and the method.
  CURLcode SetShape(CurlConnection& connection) const {
    void* user = &connection;
    OptionSetter options(connection.easy.get());
    options.Set(CURLOPT_NOSIGNAL, 1L)
        .Set(CURLOPT_PATH_AS_IS, 1L)
        .Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)  // a proxy's answer to CONNECT is not the answer
        .Set(CURLOPT_HTTP_CONTENT_DECODING, 0L)     // gzip is decoded in OnBody
        .Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))
        .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config_.connectTimeout.count()))
        .Set(CURLOPT_MAXCONNECTS, 1L)  // a fresh connection replaces the one it was opened for
        .Set(CURLOPT_ERRORBUFFER, connection.errors)
        .Set(CURLOPT_WRITEFUNCTION, &OnBody)
        .Set(CURLOPT_WRITEDATA, user)
        .Set(CURLOPT_HEADERFUNCTION, &OnHeader)
        .Set(CURLOPT_HEADERDATA, user)
        .Set(CURLOPT_PREREQFUNCTION, &OnSend)
        .Set(CURLOPT_PREREQDATA, user)
        .Set(CURLOPT_SOCKOPTFUNCTION, &OnSocketOpen)
        .Set(CURLOPT_SOCKOPTDATA, user)
        .Set(CURLOPT_CLOSESOCKETFUNCTION, &OnSocketClose)
        .Set(CURLOPT_CLOSESOCKETDATA, user)
        .Set(CURLOPT_CUSTOMREQUEST, connection.method.c_str());
    // Unset, libcurl takes the environment's proxy (http_proxy, https_proxy, no_proxy...) by its
    // own rules. The session's ("" for none) carries every request: no_proxy does not apply.
    if (config_.proxySet) {
      options.Set(CURLOPT_PROXY, config_.proxy.c_str()).Set(CURLOPT_NOPROXY, "");
    }
    if (config_.https) {
      options.Set(CURLOPT_SSL_VERIFYPEER, config_.verifyTls ? 1L : 0L)
          .Set(CURLOPT_SSL_VERIFYHOST, config_.verifyTls ? 2L : 0L);
      if (!config_.caFile.empty()) options.Set(CURLOPT_CAINFO, config_.caFile.c_str());
      if (!config_.clientCert.empty()) {
        const std::string& key = config_.clientKey.empty() ? config_.clientCert : config_.clientKey;
        // A password is always given ("" when none), so that an encrypted key never makes
        // OpenSSL ask for one on the terminal.
        options.Set(CURLOPT_SSLCERT, config_.clientCert.c_str())
            .Set(CURLOPT_SSLCERTTYPE, "PEM")
            .Set(CURLOPT_SSLKEY, key.c_str())
            .Set(CURLOPT_SSLKEYTYPE, "PEM")
            .Set(CURLOPT_KEYPASSWD, config_.clientKeyPassword.c_str());
      }
      if (OpenSslUnder()) {
        options.Set(CURLOPT_SSL_CTX_FUNCTION, &OnTlsContext).Set(CURLOPT_SSL_CTX_DATA, user);
      }
    }
    // An answer announcing more than the cap is refused before its body is read; an answer to
    // HEAD announces the length of a body that never comes, so only the body's own count
    // applies to it.
    if (connection.method == "HEAD") {
      options.Set(CURLOPT_NOBODY, 1L);
    } else {
      options.Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(config_.maxAnswerBytes));
    }
    return options.Result();
  }

  // The options that change with every exchange: the time left, the body, a fresh connection.
  static CURLcode SetPerExchange(CurlConnection& connection, const ZENTA_HttpRequest& request,
                                 bool sendsBody, Clock::time_point deadline) {
    // Rounded up: a timeout cut to whole milliseconds must not end the exchange early.
    const auto remaining =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    OptionSetter options(connection.easy.get());
    options.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(remaining > 1 ? remaining : 1));
    if (sendsBody) {
      options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength))
          .Set(CURLOPT_POSTFIELDS, request.bodyLength > 0 ? request.body : "");
    }
    if (connection.fresh) options.Set(CURLOPT_FRESH_CONNECT, 1L);
    return options.Result();
  }

  // The proxy for a detail: the session's, or the one the environment names for the scheme, in
  // the order libcurl reads the variables (which of them no_proxy passes by is libcurl's matter).
  std::string ProxyName() const {
    if (config_.proxySet) return Masked(config_.proxy);
    static const char* const kHttp[] = {"http_proxy", "all_proxy", "ALL_PROXY", nullptr};
    static const char* const kHttps[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                         nullptr};
    for (const char* const* name = config_.https ? kHttps : kHttp; *name != nullptr; ++name) {
      const char* value = std::getenv(*name);
      if (value != nullptr && *value != '\0') return Masked(value) + " (" + *name + ")";
    }
    return "of the environment";
  }

  // A failure of the proxy's own, named with the proxy: its host could not be resolved, it could
  // not be reached (a proxy the session names), or it answered CONNECT with other than 2xx, so
  // the tunnel to the server was never made (the request never left).
  int NameProxy(CURL* easy, CURLcode result, int code, Detail& detail) const {
    long tunnel = 0;
    if (curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &tunnel) != CURLE_OK) tunnel = 0;
    char what[Detail::kWidth];
    if (tunnel != 0 && (tunnel < 200 || tunnel > 299)) {
      std::snprintf(what, sizeof what, "the proxy %s refused the tunnel to %s:%d with status %ld",
                    ProxyName().c_str(), config_.host.c_str(), config_.port, tunnel);
      code = ZENTA_E_CONNECT;
    } else if (result == CURLE_COULDNT_RESOLVE_PROXY) {
      std::snprintf(what, sizeof what, "the proxy %s could not be resolved", ProxyName().c_str());
    } else if (result == CURLE_COULDNT_CONNECT && !config_.proxy.empty()) {
      std::snprintf(what, sizeof what, "the proxy %s could not be reached", ProxyName().c_str());
    } else {
      return code;
    }
    Prefix(detail, what);
    return code;
  }

  const TransportConfig config_;
};

}  // namespace

std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status, Detail&) {
  if (InitCurlOnce() != CURLE_OK) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
  if (config.https && (version == nullptr || (version->features & CURL_VERSION_SSL) == 0)) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  status = ZENTA_OK;
  return std::make_unique<CurlTransport>(config);
}

}  // namespace zenta
