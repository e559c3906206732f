// Serving: requests to the platform or the control API, faults applied on the way, statistics.
#include <cstdio>
#include <stdexcept>

#include "MockServerImpl.h"

namespace corvane::mock {
namespace {

constexpr char kFaultHeader[] = "X-Mock-Fault";
constexpr std::size_t kMaxLoggedRequests = 256;
constexpr std::size_t kMaxCountedPaths = 1024;

}  // namespace

MockServer::Impl::Impl(ServerOptions options)
    : options_(std::move(options)),
      platform_(options_.seed),
      apiRoutes_(PlatformRoutes(platform_)),
      controlRoutes_(ControlRoutes()) {}

void MockServer::Impl::Start() {
  if (http_) throw std::logic_error("MockServer::Start: already started");
  http::ServerOptions options;
  options.host = options_.host;
  options.port = options_.port;
  options.maxConnections = std::max<std::size_t>(options_.threads, 2);
  options.keepAliveTimeoutSec = options_.keepAliveTimeoutSec;
  options.tlsCertFile = options_.tlsCertFile;
  options.tlsKeyFile = options_.tlsKeyFile;
  // Requests the core cannot read (malformed, body too large) get the envelope too, with
  // code = status * 10.
  const auto refuse = [](int status, http::Exchange& out) {
    Send(Error(status, status * 10, "HTTP " + std::to_string(status)), out);
  };
  http_ = std::make_unique<http::Server>(
      options, [this](const http::Request& req, http::Exchange& out) { Dispatch(req, out); },
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
  std::lock_guard<std::mutex> lock(mutex_);
  stats.paths = paths_;
  return stats;
}

void MockServer::Impl::RecordRequest(const http::Request& req) {
  RequestRecord record{0, req.method, req.target, req.path, req.headers, req.body};
  std::lock_guard<std::mutex> lock(mutex_);
  record.sequence = ++requestSequence_;
  requestLog_.push_back(std::move(record));
  if (requestLog_.size() > kMaxLoggedRequests) requestLog_.pop_front();
  const bool counted = paths_.count(req.path) != 0 || paths_.size() < kMaxCountedPaths;
  ++paths_[counted ? req.path : std::string("(other)")];
}

void MockServer::Impl::Dispatch(const http::Request& req, http::Exchange& out) {
  ++requests_;
  int status = 0;
  try {
    if (req.path.rfind(kControlPrefix, 0) == 0) {
      status = Send(RouteRequest(req, controlRoutes_, false), out);
    } else {
      ++apiRequests_;
      RecordRequest(req);
      const std::optional<Fault> fault = faults_.Take(req.path);
      if (fault) ++faultsApplied_;
      status =
          fault ? ApplyFault(*fault, req, out) : Send(RouteRequest(req, apiRoutes_, true), out);
    }
  } catch (const std::exception& e) {
    status = Send(Error(500, kCodeInternal, e.what()), out);
  }
  if (options_.logRequests) {
    std::fprintf(stderr, "%s %s -> %d\n", req.method.c_str(), req.target.c_str(), status);
  }
}

int MockServer::Impl::ApplyFault(const Fault& fault, const http::Request& req,
                                 http::Exchange& out) {
  if (fault.delayMs > 0) out.Sleep(fault.delayMs);
  const http::Headers marked{{kFaultHeader, FaultKindName(fault.kind)}};
  switch (fault.kind) {
    case FaultKind::kDelay:
      return Send(RouteRequest(req, apiRoutes_, true), out, marked);
    case FaultKind::kHttpError: {
      http::Headers headers = marked;
      headers.emplace_back("Content-Type", "text/html; charset=UTF-8");
      out.Reply(fault.status, headers,
                fault.body.value_or("<html><body><h1>" + std::to_string(fault.status) +
                                    " injected error</h1></body></html>"));
      return fault.status;
    }
    case FaultKind::kGarbage: {
      http::Headers headers = marked;
      headers.emplace_back("Content-Type", "text/plain; charset=UTF-8");
      out.Reply(200, headers, fault.body.value_or("<<garbage: this answer is not JSON>>"));
      return 200;
    }
    case FaultKind::kTruncate:
      SendTruncated(RouteRequest(req, apiRoutes_, true), out, marked);
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
      return Send(reply, out, marked);
    }
    case FaultKind::kBig:
      SendBig(fault.bytes, fault.chunked, out, marked);
      return 200;
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
Platform& MockServer::GetPlatform() { return impl_->platform_; }
FaultInjector& MockServer::Faults() { return impl_->faults_; }
ServerStats MockServer::Stats() const { return impl_->Stats(); }

}  // namespace corvane::mock
