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
  http::Headers headers;
  std::string body;
};

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

  ServerOptions options_;
  Platform platform_;
  FaultInjector faults_;
  std::unique_ptr<http::Server> http_;

 private:
  void Dispatch(const http::Request& req, http::Exchange& out);
  int ApplyFault(const Fault& fault, const http::Request& req, http::Exchange& out);
  void RecordRequest(const http::Request& req);
  std::vector<Route> ControlRoutes();

  // Control endpoints (ControlApi.cpp).
  void ResetStats();
  Reply StatsReply();
  Reply AddFaults(ApiCall& call);
  Reply FaultList();
  Reply ResetPlatform(ApiCall& call);
  Reply RequestLog();
  Reply RequestShutdown();

  const std::vector<Route> apiRoutes_;
  const std::vector<Route> controlRoutes_;
  std::atomic<std::uint64_t> requests_{0};
  std::atomic<std::uint64_t> apiRequests_{0};
  std::atomic<std::uint64_t> faultsApplied_{0};

  mutable std::mutex mutex_;  // guards what follows, and wakes shutdown waiters
  std::condition_variable wake_;
  bool shutdownRequested_ = false;
  std::map<std::string, std::uint64_t> paths_;
  std::deque<RequestRecord> requestLog_;
  std::uint64_t requestSequence_ = 0;
};

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_SERVERIMPL_H
