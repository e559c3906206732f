#include "Session.h"

#include <zenta/ZentaSdk.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "Trace.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace zenta {
namespace {

bool MethodIs(const ZENTA_HttpRequest& request, const char* method) {
  const std::size_t length = std::strlen(method);
  return request.methodLength == length && std::memcmp(request.method, method, length) == 0;
}

// The one rule for sending a failed request again, once, on a fresh connection: only when it
// failed because a reused connection dropped (the server had closed it while idle), and only
// when sending it twice cannot do harm: GET and HEAD always, anything else only when no byte
// of it went out.
bool MaySendAgain(bool idempotent, int code, const ExchangeReport& report) {
  if (!report.reused || (code != ZENTA_E_SEND && code != ZENTA_E_RECEIVE)) return false;
  return idempotent || !report.requestSent;
}

}  // namespace

#ifdef _WIN32
long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }
#else
namespace {
std::atomic<long> processId{0};
void NoteProcessId() { processId.store(static_cast<long>(getpid()), std::memory_order_relaxed); }
}  // namespace

// Every call asks, so the id is kept rather than fetched with a system call each time; a child
// made by fork() notes its own before fork() returns in it.
long CurrentProcessId() {
  static const bool noted = [] {
    pthread_atfork(nullptr, nullptr, &NoteProcessId);
    NoteProcessId();
    return true;
  }();
  (void)noted;
  return processId.load(std::memory_order_relaxed);
}
#endif

// Counts a call out of the session on every exit path.
class Session::CallGuard {
 public:
  explicit CallGuard(Session& session) : session_(session) {}
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  ~CallGuard() {
    std::lock_guard<std::mutex> lock(session_.mutex_);
    if (--session_.inFlight_ == 0) session_.callsDone_.notify_all();
  }

 private:
  Session& session_;
};

Session::Session(const TransportConfig& config, std::unique_ptr<Transport> transport,
                 IdleClock idleClock)
    : requestTimeout_(config.requestTimeout),
      answerCap_(config.maxAnswerBytes),
      basePath_(config.basePath),
      processId_(CurrentProcessId()),
      idleClock_(idleClock),
      transport_(std::move(transport)),
      pool_(config.maxConnections, [this] { return transport_->NewConnection(); }) {}

bool Session::Inherited() const { return CurrentProcessId() != processId_; }

int Session::Carry(const ZENTA_HttpRequest& request, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
                   ExchangeReport& report) {
  if (Inherited()) {
    report.detail.Set("the session belongs to process %ld; this process (%ld) inherited it",
                      processId_, CurrentProcessId());
    return ZENTA_E_INHERITED_SESSION;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return ZENTA_E_SESSION_CLOSED;
    ++inFlight_;
  }
  const CallGuard guard(*this);
  const Clock::time_point start = Clock::now();
  const int code = Exchange(request, start + requestTimeout_, answer, body, report);
  if (TraceEnabled()) {
    TraceRequest(request, basePath_, code, answer.status, body.Size(),
                 code == ZENTA_OK ? nullptr : report.detail.Text(),
                 std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
  }
  return code;
}

// An idle connection carries the next request only when nothing waits on it (a stray answer, a
// 408 or the server's close would otherwise be read as this request's answer) and, for a request
// that must not be sent twice, only when it was busy a moment ago.
bool Session::MustNotReuse(PooledConnection& pooled, bool idempotent) {
  if (!idempotent && idleClock_() - pooled.lastUsed >= kNonIdempotentReuseWindow) return true;
  return transport_->HasPendingInput(*pooled.connection);
}

int Session::Exchange(const ZENTA_HttpRequest& request, Clock::time_point deadline,
                      ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report) {
  ConnectionPool::Loan loan(pool_);
  const int borrowed = pool_.Borrow(deadline, loan);
  if (borrowed == ZENTA_E_TIMEOUT) {
    report.detail.Set("all %d connections of the session stayed busy until the request timeout",
                      pool_.Size());
  }
  if (borrowed != ZENTA_OK) return borrowed;
  PooledConnection& pooled = loan.Get();
  const bool idempotent = MethodIs(request, "GET") || MethodIs(request, "HEAD");
  for (int attempt = 0;; ++attempt) {
    if (pooled.carried && (attempt > 0 || MustNotReuse(pooled, idempotent))) {
      transport_->Disconnect(*pooled.connection);
      pooled.carried = false;
    }
    report = ExchangeReport();
    body.Clear();
    const int code =
        transport_->Exchange(*pooled.connection, request, deadline, answer, body, report);
    pooled.carried = true;
    pooled.lastUsed = idleClock_();
    if (code == ZENTA_OK || attempt > 0 || !MaySendAgain(idempotent, code, report) ||
        Clock::now() >= deadline) {
      return code;
    }
  }
}

void Session::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  pool_.Shutdown();
  std::unique_lock<std::mutex> lock(mutex_);
  callsDone_.wait(lock, [this] { return inFlight_ == 0; });
}

}  // namespace zenta
