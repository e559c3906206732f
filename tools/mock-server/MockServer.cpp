// Serving: requests to the platform or the control API, faults applied on the way, statistics.
#include <cstdio>
#include <stdexcept>

#include "Gzip.h"
#include "MockServerImpl.h"
#include "OpenApiDocument.h"

namespace corvane::mock {
namespace {

constexpr char kFaultHeader[] = "X-Mock-Fault";
constexpr std::size_t kMaxLoggedRequests = 256;
constexpr std::size_t kMaxCountedPaths = 1024;
constexpr std::size_t kMaxRetiredTokens = 64;
constexpr char kRealm[] = "Bearer realm=\"corvane-mock\"";

// The token of an "Authorization: Bearer TOKEN" value (scheme in any case); none for another
// scheme.
std::optional<std::string> BearerToken(const std::string& value) {
  const std::size_t space = value.find(' ');
  if (space == std::string::npos || !http::SameLetters(value.substr(0, space), "Bearer")) {
    return std::nullopt;
  }
  const std::size_t token = value.find_first_not_of(' ', space);
  return token == std::string::npos ? "" : value.substr(token);
}

// A credential's value as the request log shows it: the scheme, the rest masked.
std::string Masked(const std::string& value) {
  const std::size_t space = value.find(' ');
  return space == std::string::npos ? "***" : value.substr(0, space) + " ***";
}

// The 401 answer: the challenge names the error only when a bearer token came (RFC 6750).
Reply Unauthorized(Auth auth) {
  const char* message = auth == Auth::kNone      ? "a bearer token is required"
                        : auth == Auth::kExpired ? "the bearer token expired"
                                                 : "the bearer token is not valid";
  Reply reply = Error(401, kCodeUnauthorized, message);
  reply.headers.emplace_back(
      "WWW-Authenticate", auth == Auth::kNone ? std::string(kRealm)
                                              : std::string(kRealm) + ", error=\"invalid_token\"");
  return reply;
}

// A header whose value the request log masks: a credential, or one the options name.
bool IsCredential(const std::string& name, const std::vector<std::string>& named) {
  for (const char* credential : {"Authorization", "Proxy-Authorization", "Cookie", "X-Api-Key"}) {
    if (http::SameLetters(name, credential)) return true;
  }
  for (const std::string& secret : named) {
    if (http::SameLetters(name, secret)) return true;
  }
  return false;
}

}  // namespace

const char* AuthName(Auth auth) {
  switch (auth) {
    case Auth::kUnchecked:
      return "unchecked";
    case Auth::kNone:
      return "none";
    case Auth::kAccepted:
      return "accepted";
    case Auth::kExpired:
      return "expired";
    case Auth::kWrong:
      return "wrong";
  }
  return "";
}

namespace {}  // namespace

MockServer::Impl::Impl(ServerOptions options)
    : options_(std::move(options)),
      platform_(options_.seed),
      apiRoutes_(PlatformRoutes(platform_)),
      controlRoutes_(ControlRoutes()),
      token_(options_.requireToken) {}

void MockServer::Impl::Start() {
  if (http_) throw std::logic_error("MockServer::Start: already started");
  http::ServerOptions options;
  options.host = options_.host;
  options.port = options_.port;
  options.maxConnections = std::max<std::size_t>(options_.threads, 2);
  options.keepAliveTimeoutSec = options_.keepAliveTimeoutSec;
  options.tlsCertFile = options_.tlsCertFile;
  options.tlsKeyFile = options_.tlsKeyFile;
  options.tlsClientCaFile = options_.tlsClientCaFile;
  options.tlsMaxVersion = options_.tlsMaxVersion;
  // Requests the core cannot read (malformed, body too large) get the envelope too, with
  // code = status * 10.
  const auto refuse = [](int status, http::AnswerWriter& out) {
    Send(Error(status, status * 10, "HTTP " + std::to_string(status)), out);
  };
  http_ = std::make_unique<http::Server>(
      options, [this](const http::Request& req, http::AnswerWriter& out) { Dispatch(req, out); },
      refuse);
  try {
    http_->Start();
  } catch (...) {
    http_.reset();
    throw;
  }
}

void MockServer::Impl::Stop() {
  if (http_) http_->Stop();  // kept: its connection counts stay readable
}

bool MockServer::Impl::ShutdownRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdownRequested_;
}

bool MockServer::Impl::WaitForShutdownRequest(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, timeout, [this] { return shutdownRequested_; });
}

ServerStats MockServer::Impl::Stats() const {
  ServerStats stats;
  stats.connections = http_ ? http_->Connections() : 0;
  stats.openConnections = http_ ? http_->OpenConnections() : 0;
  stats.requests = requests_;
  stats.apiRequests = apiRequests_;
  stats.faultsApplied = faultsApplied_;
  stats.unauthorized = unauthorized_;
  stats.gzipped = gzipped_;
  std::lock_guard<std::mutex> lock(mutex_);
  stats.paths = paths_;
  return stats;
}

void MockServer::Impl::RequireToken(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!token_.empty()) retiredTokens_.push_back(token_);
  if (retiredTokens_.size() > kMaxRetiredTokens) retiredTokens_.pop_front();
  token_ = token;
  tokenExpired_ = false;
}

void MockServer::Impl::ExpireToken() {
  std::lock_guard<std::mutex> lock(mutex_);
  tokenExpired_ = !token_.empty();
}

Auth MockServer::Impl::Authenticate(const http::Request& req) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (token_.empty()) return Auth::kUnchecked;
  const std::size_t fields = req.HeaderCount("Authorization");
  if (fields > 1) return Auth::kWrong;
  const std::optional<std::string> token =
      fields ? BearerToken(*req.Header("Authorization")) : std::nullopt;
  if (!token) return Auth::kNone;
  if (*token == token_) return tokenExpired_ ? Auth::kExpired : Auth::kAccepted;
  for (const std::string& retired : retiredTokens_) {
    if (*token == retired) return Auth::kExpired;
  }
  return Auth::kWrong;
}

void MockServer::Impl::RecordRequest(const http::Request& req, Auth auth) {
  RequestRecord record{0, req.method, req.target, req.path, req.headers, req.body, AuthName(auth)};
  for (auto& [name, value] : record.headers) {
    if (IsCredential(name, options_.secretHeaders)) value = Masked(value);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  record.sequence = ++requestSequence_;
  requestLog_.push_back(std::move(record));
  if (requestLog_.size() > kMaxLoggedRequests) requestLog_.pop_front();
  const bool counted = paths_.count(req.path) != 0 || paths_.size() < kMaxCountedPaths;
  ++paths_[counted ? req.path : std::string("(other)")];
}

void MockServer::Impl::Dispatch(const http::Request& req, http::AnswerWriter& out) {
  ++requests_;
  int status = 0;
  Coding coding{options_.gzip && AcceptsGzip(req), false, &gzipped_};
  try {
    if (req.path.rfind(kControlPrefix, 0) == 0) {
      status = Send(RouteRequest(req, controlRoutes_, false), out, {}, &coding);
    } else if (req.path == kOpenApiPath && (req.method == "GET" || req.method == "HEAD")) {
      // The description of the endpoints, outside the request log, the faults and the token.
      status = SendBody(200, {{"Content-Type", kJsonType}}, OpenApiDocument(), &coding, out);
    } else {
      ++apiRequests_;
      const Auth auth = Authenticate(req);
      RecordRequest(req, auth);
      const std::optional<Fault> fault = faults_.Take(req.path);
      if (fault) ++faultsApplied_;
      if (fault) {
        status = ApplyFault(*fault, req, out, coding);
      } else if (auth == Auth::kUnchecked || auth == Auth::kAccepted) {
        status = Send(RouteRequest(req, apiRoutes_, true), out, {}, &coding);
      } else {
        ++unauthorized_;  // counted before the answer leaves, as a client that read it expects
        status = Send(Unauthorized(auth), out, {}, &coding);
      }
    }
  } catch (const std::exception& e) {
    status = Send(Error(500, kCodeInternal, e.what()), out, {}, &coding);
  }
  if (options_.logRequests) {
    std::fprintf(stderr, "%s %s -> %d\n", req.method.c_str(), req.target.c_str(), status);
  }
}

int MockServer::Impl::ApplyFault(const Fault& fault, const http::Request& req,
                                 http::AnswerWriter& out, Coding& coding) {
  if (fault.delayMs > 0) out.Sleep(fault.delayMs);
  http::Headers marked{{kFaultHeader, FaultKindName(fault.kind)}};
  if (fault.retryAfter) marked.emplace_back("Retry-After", *fault.retryAfter);
  switch (fault.kind) {
    case FaultKind::kDelay:
      return Send(RouteRequest(req, apiRoutes_, true), out, marked, &coding);
    case FaultKind::kHttpError: {
      http::Headers headers = marked;
      headers.emplace_back("Content-Type", "text/html; charset=UTF-8");
      return SendBody(fault.status, headers,
                      fault.body.value_or("<html><body><h1>" + std::to_string(fault.status) +
                                          " injected error</h1></body></html>"),
                      &coding, out);
    }
    case FaultKind::kGarbage: {
      http::Headers headers = marked;
      headers.emplace_back("Content-Type", "text/plain; charset=UTF-8");
      return SendBody(200, headers, fault.body.value_or("<<garbage: this answer is not JSON>>"),
                      &coding, out);
    }
    case FaultKind::kTruncate:
      SendTruncated(RouteRequest(req, apiRoutes_, true), out, marked, coding);
      return 200;
    case FaultKind::kDrop:
      out.Close();  // without a byte of answer
      return 0;
    case FaultKind::kBusiness: {
      Reply reply;
      if (fault.keepData) {
        reply = RouteRequest(req, apiRoutes_, true);
        if (reply.binary) reply = Reply{};  // a picture has no envelope to keep
      }
      reply.httpStatus = fault.status;
      reply.code = fault.code;
      reply.message = "injected fault";
      return Send(reply, out, marked, &coding);
    }
    case FaultKind::kBig:
      SendBig(fault.bytes, fault.chunked, out, marked, coding);
      return 200;
    case FaultKind::kTrickle: {
      const Reply reply = RouteRequest(req, apiRoutes_, true);
      SendTrickled(reply, fault.bytesPerSecond, out, marked, coding);
      return reply.httpStatus;
    }
  }
  return 0;
}

MockServer::MockServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
MockServer::~MockServer() = default;
void MockServer::Start() { impl_->Start(); }
void MockServer::Stop() { impl_->Stop(); }
int MockServer::Port() const { return impl_->http_ ? impl_->http_->Port() : 0; }
std::string MockServer::BaseUrl() const { return impl_->http_ ? impl_->http_->BaseUrl() : ""; }
bool MockServer::ShutdownRequested() const { return impl_->ShutdownRequested(); }
bool MockServer::WaitForShutdownRequest(std::chrono::milliseconds timeout) {
  return impl_->WaitForShutdownRequest(timeout);
}
void MockServer::RequireToken(const std::string& token) { impl_->RequireToken(token); }
void MockServer::ExpireToken() { impl_->ExpireToken(); }
Platform& MockServer::GetPlatform() { return impl_->platform_; }
FaultInjector& MockServer::Faults() { return impl_->faults_; }
ServerStats MockServer::Stats() const { return impl_->Stats(); }

}  // namespace corvane::mock
