// Opening a session (ZENTA_OpenSession): the URL and the options read and checked, the transport
// made, the session entered in the handle table.
#include <zenta/ZentaSdk.h>

#include <cstddef>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Ascii.h"
#include "ErrorDetail.h"
#include "ServerUrl.h"
#include "SessionTable.h"

namespace zenta {
namespace {

// Size of the first published ZENTA_SessionOptions: every field up to and including caFile.
constexpr std::size_t kOptionsFirstVersionSize =
    offsetof(ZENTA_SessionOptions, caFile) + sizeof(const char*);
// Fields added later are read only from a struct whose structSize covers them.
constexpr std::size_t kOptionsMaxAnswerBytesEnd =
    offsetof(ZENTA_SessionOptions, maxAnswerBytes) + sizeof(int);
constexpr std::size_t kOptionsThirdVersionEnd =
    offsetof(ZENTA_SessionOptions, compression) + sizeof(int);
constexpr std::size_t kOptionsTraceEnd = offsetof(ZENTA_SessionOptions, trace) + sizeof(int);
constexpr int kDefaultConnectTimeoutMs = 5000;
constexpr int kMostRetries = 10;
constexpr int kCompressionOff = 2;
constexpr std::size_t kMostSessionHeaders = 64;
constexpr int kDefaultRequestTimeoutMs = 30000;
constexpr int kDefaultMaxConnections = 4;
constexpr int kMostConnections = 64;
constexpr int kVerifyTlsOff = 2;
constexpr int kTraceVerbose = 3;

// A value the options cannot take: ZENTA_E_BAD_OPTION, with a detail naming the option and its
// range.
int BadOption(Detail& detail, const char* name, int value, const char* range) {
  detail.Set("the session option %s is %d; it must be %s", name, value, range);
  return ZENTA_E_BAD_OPTION;
}

// A text option the session cannot use; the text itself is not repeated (it may be a secret).
int BadText(Detail& detail, const char* name, const char* why) {
  detail.Set("the session option %s %s", name, why);
  return ZENTA_E_BAD_OPTION;
}

std::string Text(const char* text) { return text == nullptr ? std::string() : std::string(text); }

// The headers a session line may not set: the framing (the gateway frames every body itself),
// the connection's own, and the standard headers every request of the library carries, which a
// second value would duplicate. Authorization as well when the session sends its own.
constexpr const char* kNotSessionHeaders[] = {
    "Content-Length", "Transfer-Encoding", "Expect",    "Host",
    "Connection",     "Accept-Language",   "Time-Zone", "Content-Type"};

// Why a "Name: value" session header line is refused (naming the header, never its value), or
// null when it may be sent.
const char* RefusedHeader(std::string_view line, bool ownAuthorization, std::string& name) {
  const std::size_t colon = line.find(':');
  name = std::string(line.substr(0, colon == std::string_view::npos ? 0 : colon));
  if (colon == std::string_view::npos || !IsToken(name)) return "that is not \"Name: value\"";
  if (!IsFieldValue(line.substr(colon + 1))) return "with a line break or another control byte";
  for (const char* reserved : kNotSessionHeaders) {
    if (EqualsIgnoringAsciiCase(name, reserved))
      return "that sets a header the gateway or the library sets";
  }
  if (ownAuthorization && EqualsIgnoringAsciiCase(name, "Authorization")) {
    return "that sets the header authorization or tokenCallback sets";
  }
  return nullptr;
}

// The third version's fields: credentials, client certificate, proxy, retries, compression.
int ReadThirdVersion(const ZENTA_SessionOptions& options, TransportConfig& config, Detail& detail) {
  if (options.retries < 0 || options.retries > kMostRetries) {
    return BadOption(detail, "retries", options.retries, "0 (the default) to 10");
  }
  if (options.compression < 0 || options.compression > kCompressionOff) {
    return BadOption(detail, "compression", options.compression,
                     "0 or 1 (ask for gzip) or 2 (ask for none)");
  }
  config.authorization = Text(options.authorization);
  if (!IsFieldValue(config.authorization)) {
    return BadText(detail, "authorization", "holds a line break or another control byte");
  }
  config.tokenCallback = options.tokenCallback;
  const bool ownAuthorization = !config.authorization.empty() || config.tokenCallback != nullptr;
  for (const char* const* line = options.headers; line != nullptr && *line != nullptr; ++line) {
    if (config.headers.size() == kMostSessionHeaders) {
      return BadText(detail, "headers", "holds more than 64 lines");
    }
    std::string name;
    const char* why = RefusedHeader(*line, ownAuthorization, name);
    if (why != nullptr) {
      // A name that is not a token is not repeated: it may be a secret that lost its colon.
      detail.Set("the session option headers holds a line %s: line %u (%s)", why,
                 static_cast<unsigned>(config.headers.size() + 1),
                 IsToken(name) ? name.c_str() : "a malformed name");
      return ZENTA_E_BAD_OPTION;
    }
    config.headers.emplace_back(*line);
  }
  config.tokenContext = options.tokenContext;
  config.clientCert = Text(options.clientCert);
  config.clientKey = Text(options.clientKey);
  config.clientKeyPassword = Text(options.clientKeyPassword);
  for (const std::string* file : {&config.clientCert, &config.clientKey}) {
    if (file->empty() || file->compare(0, 6, "store:") == 0) continue;
    std::FILE* readable = std::fopen(file->c_str(), "rb");
    if (readable == nullptr) {
      return BadText(detail, file == &config.clientCert ? "clientCert" : "clientKey",
                     "names a file that cannot be read");
    }
    std::fclose(readable);
  }
  if (config.clientCert.empty() && !config.clientKey.empty()) {
    return BadText(detail, "clientKey", "is set without clientCert");
  }
  config.proxySet = options.proxy != nullptr;
  config.proxy = Text(options.proxy);
  if (!config.proxy.empty() && config.proxy.compare(0, 7, "http://") != 0) {
    return BadText(detail, "proxy", "must be \"\" (none) or an http:// URL");
  }
  config.retries = options.retries;
  config.gzip = options.compression != kCompressionOff;
  return ZENTA_OK;
}

int ReadOptions(const ZENTA_SessionOptions* options, TransportConfig& config, Detail& detail) {
  int connectMs = 0;
  int requestMs = 0;
  int maxConnections = 0;
  int verifyTls = 0;
  const char* caFile = nullptr;
  int maxAnswerBytes = 0;
  if (options != nullptr) {
    if (options->structSize < kOptionsFirstVersionSize) {
      detail.Set("the session options' structSize is %d; the first version has %d bytes",
                 options->structSize, static_cast<int>(kOptionsFirstVersionSize));
      return ZENTA_E_OPTIONS_SIZE;
    }
    connectMs = options->connectTimeoutMs;
    requestMs = options->requestTimeoutMs;
    maxConnections = options->maxConnections;
    verifyTls = options->verifyTls;
    caFile = options->caFile;
    if (options->structSize >= kOptionsMaxAnswerBytesEnd) maxAnswerBytes = options->maxAnswerBytes;
  }
  const char* const kNotNegative = "0 (the default) or more";
  if (connectMs < 0) return BadOption(detail, "connectTimeoutMs", connectMs, kNotNegative);
  if (requestMs < 0) return BadOption(detail, "requestTimeoutMs", requestMs, kNotNegative);
  if (maxConnections < 0 || maxConnections > kMostConnections) {
    return BadOption(detail, "maxConnections", maxConnections, "0 (the default) to 64");
  }
  if (verifyTls < 0 || verifyTls > kVerifyTlsOff) {
    return BadOption(detail, "verifyTls", verifyTls, "0 or 1 (verify) or 2 (do not verify)");
  }
  if (maxAnswerBytes < 0) return BadOption(detail, "maxAnswerBytes", maxAnswerBytes, kNotNegative);
  if (options != nullptr && options->structSize >= kOptionsThirdVersionEnd) {
    const int status = ReadThirdVersion(*options, config, detail);
    if (status != ZENTA_OK) return status;
  }
  if (options != nullptr && options->structSize >= kOptionsTraceEnd) {
    if (options->trace < 0 || options->trace > kTraceVerbose) {
      return BadOption(detail, "trace", options->trace,
                       "0 (as ZENTA_TRACE says), 1 (on), 2 (off) or 3 (verbose)");
    }
    config.trace = options->trace;
  }
  if (options != nullptr &&
      options->structSize >= offsetof(ZENTA_SessionOptions, revocation) + sizeof(int)) {
    if (options->revocation < 0 || options->revocation > 1) {
      return BadOption(detail, "revocation", options->revocation, "0 (checked) or 1 (best effort)");
    }
    config.revocationBestEffort = options->revocation == 1;
  }
  config.connectTimeout =
      std::chrono::milliseconds(connectMs == 0 ? kDefaultConnectTimeoutMs : connectMs);
  config.requestTimeout =
      std::chrono::milliseconds(requestMs == 0 ? kDefaultRequestTimeoutMs : requestMs);
  config.maxConnections = maxConnections == 0 ? kDefaultMaxConnections : maxConnections;
  config.verifyTls = verifyTls != kVerifyTlsOff;
  config.caFile = caFile == nullptr ? std::string() : std::string(caFile);
  config.maxAnswerBytes =
      maxAnswerBytes == 0 ? kMaxAnswerBytes : static_cast<std::size_t>(maxAnswerBytes);
  return ZENTA_OK;
}

int OpenSession(const char* serverUrl, const ZENTA_SessionOptions* options, int& handle,
                Detail& detail) {
  ServerUrl url;
  int status = ParseServerUrl(serverUrl, url);
  if (status != ZENTA_OK) return status;
  TransportConfig config;
  status = ReadOptions(options, config, detail);
  if (status != ZENTA_OK) return status;
  config.https = url.https;
  config.host = url.host;
  config.port = url.port;
  config.origin = url.origin;
  config.basePath = url.basePath;

  std::unique_ptr<Transport> transport = CreateTransport(config, status, detail);
  if (!transport) return status;
  return AddSession(std::make_shared<Session>(config, std::move(transport)), handle);
}

}  // namespace

}  // namespace zenta

extern "C" {

ZENTA_API int ZENTA_OpenSession(const char* serverUrl, const ZENTA_SessionOptions* options,
                                int* handle) {
  if (handle == nullptr) return ZENTA_E_NULL_ARGUMENT;
  *handle = 0;
  int code = ZENTA_E_NO_MEMORY;
  zenta::Detail detail;
  try {
    code = zenta::OpenSession(serverUrl, options, *handle, detail);
  } catch (const std::bad_alloc&) {
  }
  if (code != ZENTA_OK) zenta::NoteFailure(code, detail.Text());
  return code;
}

}  // extern "C"
