#include "Session.h"

#include <zenta/ZentaSdk.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
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

// The one decision whether a request may be sent again, whatever the reason (a kept-alive
// connection that died under it, a retry): at most once for anything but GET and HEAD, so such a
// request goes again only when none of its bytes may have reached the server.
bool MaySendAgain(bool idempotent, ExchangePhase reached) {
  return idempotent || reached == ExchangePhase::kNotSent;
}

// A failure after which another try may succeed: the connection broke under the exchange, or
// none could be made (no name, no connection) before anything was sent.
bool WorthAnotherTry(int code, ExchangePhase reached) {
  if (code == ZENTA_E_SEND || code == ZENTA_E_RECEIVE) return true;
  return reached == ExchangePhase::kNotSent && (code == ZENTA_E_CONNECT || code == ZENTA_E_RESOLVE);
}

// The lines of the headers every request of the session carries.
std::vector<std::string> SessionHeaderLines(const TransportConfig& config) {
  std::vector<std::string> lines;
  // The callback's token is sent instead of authorization: one Authorization header, ever.
  if (!config.authorization.empty() && config.tokenCallback == nullptr) {
    lines.push_back("Authorization: " + config.authorization);
  }
  lines.insert(lines.end(), config.headers.begin(), config.headers.end());
  return lines;
}

constexpr std::chrono::milliseconds kFirstBackoff{100};
constexpr std::chrono::milliseconds kLongestBackoff{5000};

// How long to wait before trying a request again, or a negative time when it must not be tried
// again: after a failure that another try may pass, or a busy answer (503, 429), when
// MaySendAgain allows it. The wait doubles from 100 ms up to 5 s, each between its half and its
// whole (jitter, so clients refused together do not return together); a server's Retry-After
// replaces it.
std::chrono::milliseconds RetryWait(int code, const ZENTA_HttpAnswer& answer,
                                    const ExchangeReport& report, bool idempotent, int retry) {
  using std::chrono::milliseconds;
  if (code == ZENTA_OK) {
    const bool busy = answer.status == 503 || answer.status == 429;
    if (!busy || !MaySendAgain(idempotent, ExchangePhase::kAnswerStarted)) return milliseconds(-1);
    if (answer.retryAfter >= 0) return std::chrono::seconds(answer.retryAfter);
  } else if (!WorthAnotherTry(code, report.phase) || !MaySendAgain(idempotent, report.phase)) {
    return milliseconds(-1);
  }
  const milliseconds backoff =
      retry >= 6 ? kLongestBackoff : std::min(kLongestBackoff, kFirstBackoff * (1 << retry));
  thread_local std::minstd_rand random(std::random_device{}());
  std::uniform_int_distribution<long long> jitter(backoff.count() / 2, backoff.count());
  return milliseconds(jitter(random));
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

Session::Session(const TransportConfig& config, std::unique_ptr<Transport> transport,
                 IdleClock idleClock, Sleeper sleeper)
    : requestTimeout_(config.requestTimeout),
      answerCap_(config.maxAnswerBytes),
      basePath_(config.basePath),
      processId_(CurrentProcessId()),
      idleClock_(idleClock),
      sleeper_(sleeper),
      retries_(config.retries),
      trace_(config.trace == 1 || config.trace == 3 ||
             (config.trace == 0 && TraceAskedByEnvironment())),
      headerLines_(SessionHeaderLines(config)),
      tokenCallback_(config.tokenCallback),
      tokens_(config.tokenCallback, config.tokenContext),
      scrubber_(config),
      transport_(std::move(transport)),
      pool_(config.maxConnections, [this] { return transport_->NewConnection(); }) {
  for (const std::string& line : headerLines_) {
    const std::size_t colon = line.find(':');
    std::size_t value = colon + 1;
    while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) ++value;
    headers_.push_back({line.data(), colon, line.data() + value, line.size() - value});
  }
}

void Session::SleepFor(std::chrono::milliseconds wait, const CallControl& call) {
  constexpr std::chrono::milliseconds kSlice{20};
  const Clock::time_point end = Clock::now() + wait;
  for (Clock::time_point now = Clock::now(); now < end && !call.Cancelled(); now = Clock::now()) {
    std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, end - now));
  }
}

bool Session::Inherited() const { return CurrentProcessId() != processId_; }

void Session::Scrub(std::string& text) {
  tokens_.Scrub(text);
  scrubber_.Scrub(text);
}

void Session::Scrub(Detail& detail) {
  if (detail.Text()[0] == '\0') return;
  std::string text = detail.Text();
  Scrub(text);
  detail.Set("%s", text.c_str());
}

int Session::Carry(const ZENTA_HttpRequest& request, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
                   ExchangeReport& report, const CallControl& call) {
  if (Inherited()) {
    report.detail.Set("the session belongs to process %ld; this process (%ld) inherited it",
                      processId_, CurrentProcessId());
    return ZENTA_E_INHERITED_SESSION;
  }
  if (call.Cancelled()) {
    report.detail.Set("the call's scope was cancelled: nothing was sent");
    return ZENTA_E_CANCELLED;
  }
  if (closed_.load(std::memory_order_acquire)) return ZENTA_E_SESSION_CLOSED;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + requestTimeout_;
  const int code = headers_.empty() && tokenCallback_ == nullptr
                       ? CarryWithRetries(request, deadline, answer, body, report, call)
                       : WithCredentials(request, deadline, answer, body, report, call);
  if (code != ZENTA_OK) Scrub(report.detail);
  if (trace_) {
    TraceRequest(request, basePath_, code, answer.status, body.Size(),
                 code == ZENTA_OK ? nullptr : report.detail.Text(),
                 std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
  }
  return code;
}

// The request with the session's headers after its own, and a bearer token when the session has
// a token callback. A 401 to a token means the server did not run the request: the token is
// refreshed once (a refresh another call made meanwhile is shared, not repeated) and the request
// sent once more, whatever its method.
int Session::WithCredentials(const ZENTA_HttpRequest& request, Clock::time_point deadline,
                             ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report,
                             const CallControl& call) {
  const std::size_t count =
      request.headerCount + headers_.size() + (tokenCallback_ != nullptr ? 1 : 0);
  std::vector<ZENTA_HttpHeader> headers(request.headers, request.headers + request.headerCount);
  headers.insert(headers.end(), headers_.begin(), headers_.end());
  headers.resize(count);
  ZENTA_HttpRequest withHeaders = request;
  withHeaders.headers = headers.data();
  withHeaders.headerCount = count;
  TokenSource::Held token;
  ZENTA_HttpHeader& authorization = headers[count - 1];  // the token's, with a token callback
  if (tokenCallback_ != nullptr) {
    const int code = tokens_.Get(false, token, deadline, report.detail, call);
    if (code != ZENTA_OK) return code;
    authorization = {"Authorization", 13, token.value->data(), token.value->size()};
  }
  const int code = CarryWithRetries(withHeaders, deadline, answer, body, report, call);
  if (code != ZENTA_OK || answer.status != 401 || tokenCallback_ == nullptr) return code;
  if (trace_) TraceRetry(request, basePath_, "HTTP 401: a new token, sent once more");
  const int refreshed = tokens_.Get(true, token, deadline, report.detail, call);
  if (refreshed != ZENTA_OK) return refreshed;
  authorization.value = token.value->data();
  authorization.valueLength = token.value->size();
  return CarryWithRetries(withHeaders, deadline, answer, body, report, call);
}

// An idle connection carries the next request only when nothing waits on it (a stray answer, a
// 408 or the server's close would otherwise be read as this request's answer) and, for a request
// that must not be sent twice, only when it was busy a moment ago.
bool Session::MustNotReuse(PooledConnection& pooled, bool idempotent) {
  if (!idempotent && idleClock_() - pooled.lastUsed >= kNonIdempotentReuseWindow) return true;
  return transport_->HasPendingInput(*pooled.connection);
}

// Retries, when the session has them: the request is tried again while RetryWait allows it and
// the wait ends before the deadline; each retry is traced.
int Session::CarryWithRetries(const ZENTA_HttpRequest& request, Clock::time_point deadline,
                              ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report,
                              const CallControl& call) {
  ConnectionPool::Loan loan(pool_);
  const int borrowed = pool_.Borrow(deadline, loan, call);
  if (borrowed == ZENTA_E_TIMEOUT) {
    report.detail.Set("all %d connections of the session stayed busy until the request timeout",
                      pool_.Size());
  } else if (borrowed == ZENTA_E_CANCELLED) {
    report.detail.Set("the call was cancelled while it waited for a connection");
  }
  if (borrowed != ZENTA_OK) return borrowed;
  PooledConnection& pooled = loan.Get();
  const bool idempotent = MethodIs(request, "GET") || MethodIs(request, "HEAD");
  for (int retry = 0;; ++retry) {
    const int code = Try(pooled, request, idempotent, deadline, answer, body, report, call);
    if (code == ZENTA_E_CANCELLED) loan.Discard();  // never reused, never sent again
    if (retry == retries_ || code == ZENTA_E_CANCELLED) return code;
    const std::chrono::milliseconds wait = RetryWait(code, answer, report, idempotent, retry);
    if (wait.count() < 0 || Clock::now() + wait >= deadline) return code;
    if (trace_) {
      if (code != ZENTA_OK) Scrub(report.detail);
      char why[Detail::kWidth + 64];
      if (code == ZENTA_OK) {
        std::snprintf(why, sizeof why, "HTTP %d: retry %d of %d in %lld ms", answer.status,
                      retry + 1, retries_, static_cast<long long>(wait.count()));
      } else {
        std::snprintf(why, sizeof why, "error %d (%s): retry %d of %d in %lld ms", code,
                      report.detail.Text(), retry + 1, retries_,
                      static_cast<long long>(wait.count()));
      }
      TraceRetry(request, basePath_, why);
    }
    if (code != ZENTA_OK && pooled.carried) {  // a failed connection is not tried again
      transport_->Disconnect(*pooled.connection);
      pooled.carried = false;
    }
    sleeper_(wait, call);
    if (call.Cancelled()) {
      report.detail.Set("the call was cancelled while it waited to try again");
      return ZENTA_E_CANCELLED;
    }
  }
}

// One try: a stale kept-alive connection that dies under the request (the server closed it while
// it was idle) is replaced once, at once, when MaySendAgain allows it.
int Session::Try(PooledConnection& pooled, const ZENTA_HttpRequest& request, bool idempotent,
                 Clock::time_point deadline, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
                 ExchangeReport& report, const CallControl& call) {
  for (int attempt = 0;; ++attempt) {
    if (pooled.carried && (attempt > 0 || MustNotReuse(pooled, idempotent))) {
      transport_->Disconnect(*pooled.connection);
      pooled.carried = false;
    }
    report.Clear();
    body.Clear();
    const int code =
        transport_->Exchange(*pooled.connection, request, deadline, answer, body, report, call);
    pooled.carried = true;
    pooled.lastUsed = idleClock_();
    const bool died = report.reused && (code == ZENTA_E_SEND || code == ZENTA_E_RECEIVE);
    if (code == ZENTA_OK || attempt > 0 || !died || !MaySendAgain(idempotent, report.phase) ||
        Clock::now() >= deadline) {
      return code;
    }
  }
}

void Session::Wake() {
  pool_.Wake();
  tokens_.Wake();
}

void Session::Close() {
  closed_.store(true, std::memory_order_release);
  pool_.Shutdown();
  tokens_.Wake();
}

}  // namespace zenta
