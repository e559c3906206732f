// What the libcurl transport sets on an easy handle: the options of a request's shape, the URL
// (parsed once per target), the header lines (compared in place with those set) and the options
// of each exchange.
#include <zenta/ZentaSdk.h>

#include <cstring>
#include <string>
#include <utility>

#include "../Ascii.h"
#include "CurlConnection.h"
#include "CurlErrors.h"

namespace zenta {
namespace {

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

// Record headers in record order; "Accept-Encoding: gzip" when the session asks for gzip and the
// record does not say what it accepts; then the suppressions that keep curl from adding headers
// the caller did not ask for: "Expect: 100-continue" (a wasted round trip) and the form
// Content-Type curl gives a body by default. Each line ends with a NUL, for curl_slist_append.
void WriteHeaderLines(const ZENTA_HttpRequest& request, bool sendsBody, bool askGzip,
                      std::string& lines) {
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

// The options that depend only on the session and the method.
CURLcode SetShape(CurlConnection& connection, const TransportConfig& config) {
  void* user = &connection;
  OptionSetter options(connection.easy.get());
  options.Set(CURLOPT_NOSIGNAL, 1L)
      .Set(CURLOPT_PATH_AS_IS, 1L)
      .Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)  // a proxy's answer to CONNECT is not the answer
      .Set(CURLOPT_HTTP_CONTENT_DECODING, 0L)     // gzip is decoded in OnBody
      .Set(CURLOPT_HTTP_TRANSFER_DECODING, 0L)    // and chunked coding read there (ChunkDecoder)
      .Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))
      .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config.connectTimeout.count()))
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
      .Set(CURLOPT_CUSTOMREQUEST, connection.method.c_str())
      // A cancel during a name lookup leaves the resolver's thread to end on its own instead of
      // waiting for it.
      .Set(CURLOPT_QUICK_EXIT, 1L);
  // Unset, libcurl takes the environment's proxy (http_proxy, https_proxy, no_proxy...) by its
  // own rules. The session's or the system's ("" for none) carries every request: no_proxy does
  // not apply.
  if (config.proxySet) options.Set(CURLOPT_PROXY, config.proxy.c_str()).Set(CURLOPT_NOPROXY, "");
  if (config.https) {
    options.Set(CURLOPT_SSL_VERIFYPEER, config.verifyTls ? 1L : 0L)
        .Set(CURLOPT_SSL_VERIFYHOST, config.verifyTls ? 2L : 0L);
    if (!config.caFile.empty()) options.Set(CURLOPT_CAINFO, config.caFile.c_str());
  }
  // An answer announcing more than the cap is refused before its body is read; an answer to
  // HEAD announces the length of a body that never comes, so only the body's own count
  // applies to it.
  if (connection.method == "HEAD") {
    options.Set(CURLOPT_NOBODY, 1L);
  } else {
    options.Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(config.maxAnswerBytes));
  }
  if (options.Result() != CURLE_OK) return options.Result();
  const CURLcode verbose = SetVerbose(connection.easy.get(), config);
  if (verbose != CURLE_OK || !config.https) return verbose;
  return SetTlsOptions(connection.easy.get(), config, &connection.state.certificateAsked);
}

// Sets the URL in connection.next, as text and parsed. Given only the text, libcurl parses it
// and prints it back for every transfer (some 14,000 instructions, a sixth of a small
// exchange); a parsed URL handle is only copied, so the URL is parsed here once, with the flags
// libcurl's own parse uses, for as long as the target stays. The text stays set too, for what
// libcurl reports of the URL. A URL that does not parse is left to libcurl alone, to fail as it
// always has.
CURLcode SetUrl(CurlConnection& connection) {
  CURL* easy = connection.easy.get();
  UrlHandle parsed(curl_url(), &curl_url_cleanup);
  constexpr unsigned int kFlags = CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS;
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

// Sets the header lines when they differ from those set.
int SetHeaderLines(CurlConnection& connection, const ZENTA_HttpRequest& request, bool sendsBody,
                   bool askGzip) {
  connection.next.clear();
  WriteHeaderLines(request, sendsBody, askGzip, connection.next);
  if (connection.next == connection.headerLines) return ZENTA_OK;
  HeaderList list(nullptr, &curl_slist_free_all);
  const char* end = connection.next.data() + connection.next.size();
  for (const char* line = connection.next.data(); line < end; line += std::strlen(line) + 1) {
    curl_slist* grown = curl_slist_append(list.get(), line);
    if (grown == nullptr) return ZENTA_E_NO_MEMORY;
    if (!list) list.reset(grown);  // later appends return the same head
  }
  const CURLcode result = curl_easy_setopt(connection.easy.get(), CURLOPT_HTTPHEADER, list.get());
  if (result != CURLE_OK) {
    connection.configured = false;
    return CodeOf(result);
  }
  connection.headers = std::move(list);  // the list curl no longer points to goes now
  connection.headerLines.swap(connection.next);
  return ZENTA_OK;
}

}  // namespace

// Nothing leaks from the previous request on the handle: an exchange of another shape starts
// from curl's defaults (the reset keeps the handle's live connections); one of the same shape
// finds every option of that shape already set, as the previous exchange set it.
int Configure(CurlConnection& connection, const TransportConfig& config,
              const ZENTA_HttpRequest& request, std::string_view method, bool sendsBody) {
  if (!connection.configured || connection.sendsBody != sendsBody || connection.method != method) {
    curl_easy_reset(connection.easy.get());
    connection.configured = false;
    connection.url.clear();
    connection.headerLines.clear();
    connection.headers.reset();
    connection.method.assign(method);
    connection.sendsBody = sendsBody;
    const CURLcode result = SetShape(connection, config);
    if (result != CURLE_OK) return CodeOf(result);
    connection.configured = true;
  }

  // The URL is the origin and base path, which never change, then the target.
  const std::size_t prefix = config.origin.size() + config.basePath.size();
  if (connection.url.size() != prefix + request.targetLength ||
      std::memcmp(connection.url.data() + prefix, request.target, request.targetLength) != 0) {
    connection.next.assign(config.origin)
        .append(config.basePath)
        .append(request.target, request.targetLength);
    const CURLcode result = SetUrl(connection);
    if (result != CURLE_OK) {
      connection.configured = false;
      return CodeOf(result);
    }
    connection.url.swap(connection.next);
  }
  return SetHeaderLines(connection, request, sendsBody, config.gzip);
}

CURLcode SetPerExchange(CurlConnection& connection, const ZENTA_HttpRequest& request,
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

}  // namespace zenta
