// The mock server's insides, shared by MockServer.cpp (serving, faults, statistics) and
// ControlApi.cpp (the "/__mock/" endpoints).
#ifndef CORVANE_MOCK_SERVERIMPL_H
#define CORVANE_MOCK_SERVERIMPL_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "HttpCore.h"
#include "MockServer.h"
#include "Routes.h"

namespace corvane::mock {

constexpr char kControlPrefix[] = "/__mock/";

struct RequestRecord {
  std::uint64_t sequence = 0;
  std::string method;
  std::string target;
  std::string path;
  http::Headers headers;  // credentials masked
  std::string body;
  const char* auth = "";  // AuthName of what the request's Authorization carried
};

// What a request's Authorization field carries, measured against the required token.
enum class Auth {
  kUnchecked,  // no token is required
  kNone,       // no bearer token (no field, or another scheme)
  kAccepted,   // the current token
  kExpired,    // a token that was current once, expired or replaced since
  kWrong,      // any other token, or the field sent more than once
};
const char* AuthName(Auth auth);

class MockServer::Impl {
 public:
  explicit Impl(ServerOptions options);
  ~Impl() { Stop(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Start();
  void Stop();
  bool ShutdownRequested() const;
  bool WaitForShutdownRequest(std::chrono::milliseconds timeout);
  ServerStats Stats() const;
  void RequireToken(const std::string& token);
  void ExpireToken();

  ServerOptions options_;
  Platform platform_;
  FaultInjector faults_;
  std::unique_ptr<http::Server> http_;

 private:
  void Dispatch(const http::Request& req, http::AnswerWriter& out);
  int ApplyFault(const Fault& fault, const http::Request& req, http::AnswerWriter& out,
                 Coding& coding);
  void RecordRequest(const http::Request& req, Auth auth);
  Auth Authenticate(const http::Request& req) const;
  std::vector<Route> ControlRoutes();

  // Control endpoints (ControlApi.cpp).
  void ResetStats();
  Reply StatsReply();
  Reply AddFaults(ApiCall& call);
  Reply FaultList();
  Reply ResetPlatform(ApiCall& call);
  Reply RequestLog();
  Reply RequestShutdown();
  Reply SetToken(ApiCall& call);
  Reply TokenState();

  const std::vector<Route> apiRoutes_;
  const std::vector<Route> controlRoutes_;
  std::atomic<std::uint64_t> requests_{0};
  std::atomic<std::uint64_t> apiRequests_{0};
  std::atomic<std::uint64_t> faultsApplied_{0};
  std::atomic<std::uint64_t> unauthorized_{0};
  std::atomic<std::uint64_t> gzipped_{0};

  mutable std::mutex mutex_;  // guards what follows, and wakes shutdown waiters
  std::condition_variable wake_;
  bool shutdownRequested_ = false;
  std::map<std::string, std::uint64_t> paths_;
  std::deque<RequestRecord> requestLog_;
  std::uint64_t requestSequence_ = 0;
  std::string token_;  // the required token; empty: none
  bool tokenExpired_ = false;
  std::deque<std::string> retiredTokens_;  // the latest tokens replaced or expired
};

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_SERVERIMPL_H
