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

// The one rule for sending a failed request again, once, on a fresh connection: only when it
// failed because a reused connection dropped (the server had closed it while idle), and only
// when sending it twice cannot do harm: GET and HEAD always, anything else only when no byte
// of it went out.
bool MaySendAgain(bool idempotent, int code, const ExchangeReport& report) {
  if (!report.reused || (code != ZENTA_E_SEND && code != ZENTA_E_RECEIVE)) return false;
  return idempotent || !report.requestSent;
}

// The lines of the headers every request of the session carries.
std::vector<std::string> SessionHeaderLines(const TransportConfig& config) {
  std::vector<std::string> lines;
  if (!config.authorization.empty()) lines.push_back("Authorization: " + config.authorization);
  lines.insert(lines.end(), config.headers.begin(), config.headers.end());
  return lines;
}

// The longest token a token callback may give (a signed token with many claims fits).
constexpr int kMostTokenBytes = 16 * 1024;
constexpr std::chrono::milliseconds kFirstBackoff{100};
constexpr std::chrono::milliseconds kLongestBackoff{5000};

// How long to wait before trying a request again, or a negative time when it must not be tried
// again. Only what cannot have run twice is tried again: a request that never left (no
// connection, no name) whatever its method; a GET or HEAD also after a failure to receive its
// answer or a busy answer (503, 429). The wait doubles from 100 ms up to 5 s, each between its
// half and its whole (jitter, so clients refused together do not return together); a server's
// Retry-After replaces it.
std::chrono::milliseconds RetryWait(int code, const ZENTA_HttpAnswer& answer,
                                    const ExchangeReport& report, bool idempotent, int retry) {
  using std::chrono::milliseconds;
  if (code == ZENTA_OK) {
    if (!idempotent || (answer.status != 503 && answer.status != 429)) return milliseconds(-1);
    if (answer.retryAfter >= 0) return std::chrono::seconds(answer.retryAfter);
  } else {
    const bool neverLeft = !report.requestSent && (code == ZENTA_E_CONNECT ||
                                                   code == ZENTA_E_RESOLVE || code == ZENTA_E_SEND);
    const bool lostAnswer = code == ZENTA_E_SEND || code == ZENTA_E_RECEIVE;
    if (!neverLeft && !(idempotent && lostAnswer)) return milliseconds(-1);
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

// Counts a call into the session and out of it on every exit path, without a lock: a call counts
// itself in, then looks at closed_; Close sets closed_, then waits for the count to reach zero.
// Both orders are sequentially consistent, so either the call sees closed_ (and refuses itself),
// or Close sees the call counted (and waits for it). Only a call leaving a closed session wakes
// Close, under its mutex, so that the wake cannot fall between Close's look at the count and its
// wait.
class Session::CallGuard {
 public:
  explicit CallGuard(Session& session) : session_(session) { session_.inFlight_.fetch_add(1); }
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;
  ~CallGuard() {
    if (session_.inFlight_.fetch_sub(1) == 1 && session_.closed_.load()) {
      std::lock_guard<std::mutex> lock(session_.mutex_);
      session_.callsDone_.notify_all();
    }
  }

 private:
  Session& session_;
};

Session::Session(const TransportConfig& config, std::unique_ptr<Transport> transport,
                 IdleClock idleClock, Sleeper sleeper)
    : requestTimeout_(config.requestTimeout),
      answerCap_(config.maxAnswerBytes),
      basePath_(config.basePath),
      processId_(CurrentProcessId()),
      idleClock_(idleClock),
      sleeper_(sleeper),
      retries_(config.retries),
      headerLines_(SessionHeaderLines(config)),
      tokenCallback_(config.tokenCallback),
      tokenContext_(config.tokenContext),
      transport_(std::move(transport)),
      pool_(config.maxConnections, [this] { return transport_->NewConnection(); }) {
  for (const std::string& line : headerLines_) {
    const std::size_t colon = line.find(':');
    std::size_t value = colon + 1;
    while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) ++value;
    headers_.push_back({line.data(), colon, line.data() + value, line.size() - value});
  }
}

void Session::SleepFor(std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }

bool Session::Inherited() const { return CurrentProcessId() != processId_; }

int Session::Carry(const ZENTA_HttpRequest& request, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
                   ExchangeReport& report) {
  if (Inherited()) {
    report.detail.Set("the session belongs to process %ld; this process (%ld) inherited it",
                      processId_, CurrentProcessId());
    return ZENTA_E_INHERITED_SESSION;
  }
  const CallGuard guard(*this);
  if (closed_.load()) return ZENTA_E_SESSION_CLOSED;
  const Clock::time_point start = Clock::now();
  const int code = headers_.empty() && tokenCallback_ == nullptr
                       ? Exchange(request, start + requestTimeout_, answer, body, report)
                       : WithCredentials(request, start + requestTimeout_, answer, body, report);
  if (TraceEnabled()) {
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
                             ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report) {
  // The headers of an ordinary request fit in the call's own storage: no allocation.
  constexpr std::size_t kInlineHeaders = 16;
  const std::size_t count =
      request.headerCount + headers_.size() + (tokenCallback_ != nullptr ? 1 : 0);
  ZENTA_HttpHeader inlineHeaders[kInlineHeaders];
  std::vector<ZENTA_HttpHeader> moreHeaders;
  ZENTA_HttpHeader* headers = inlineHeaders;
  if (count > kInlineHeaders) {
    moreHeaders.resize(count);
    headers = moreHeaders.data();
  }
  std::copy(request.headers, request.headers + request.headerCount, headers);
  std::copy(headers_.begin(), headers_.end(), headers + request.headerCount);
  ZENTA_HttpRequest withHeaders = request;
  withHeaders.headers = headers;
  withHeaders.headerCount = count;
  std::shared_ptr<const std::string> token;
  unsigned generation = 0;
  ZENTA_HttpHeader& authorization = headers[count - 1];  // the token's, with a token callback
  if (tokenCallback_ != nullptr) {
    const int code = Token(false, generation, token, report);
    if (code != ZENTA_OK) return code;
    authorization = {"Authorization", 13, token->data(), token->size()};
  }
  const int code = Exchange(withHeaders, deadline, answer, body, report);
  if (code != ZENTA_OK || answer.status != 401 || tokenCallback_ == nullptr) return code;
  if (TraceEnabled()) TraceRetry(request, basePath_, "HTTP 401: a new token, sent once more");
  const int refreshed = Token(true, generation, token, report);
  if (refreshed != ZENTA_OK) return refreshed;
  authorization.value = token->data();
  authorization.valueLength = token->size();
  return Exchange(withHeaders, deadline, answer, body, report);
}

// The session's token, asked of the callback when there is none yet or when refresh asks to
// replace the one of generation (the token a call sent and the server refused). The token is
// shared, not copied: a refresh makes a new one and the calls still sending the old keep it.
int Session::Token(bool refresh, unsigned& generation, std::shared_ptr<const std::string>& value,
                   ExchangeReport& report) {
  std::lock_guard<std::mutex> lock(tokenMutex_);
  if (tokenGeneration_ == 0 || (refresh && generation == tokenGeneration_)) {
    std::string buffer(kMostTokenBytes, '\0');
    const int length = tokenCallback_(tokenContext_, refresh ? 1 : 0, &buffer[0], kMostTokenBytes);
    const bool fits = length >= 0 && length < kMostTokenBytes;
    const std::string_view given(buffer.data(), fits ? static_cast<std::size_t>(length) : 0);
    if (!fits || given.find_first_of("\r\n", 0) != std::string_view::npos ||
        given.find('\0') != std::string_view::npos) {
      report.detail.Set("the token callback returned %d%s", length,
                        fits ? ", a token holding a line break or NUL" : " (no token)");
      return ZENTA_E_CREDENTIAL;
    }
    auto made = std::make_shared<std::string>();
    made->reserve(7 + given.size());  // one block, no intermediate copy of the secret
    made->assign("Bearer ").append(given);
    token_ = std::move(made);
    std::fill(buffer.begin(), buffer.end(), '\0');  // no copy of the secret left behind
    ++tokenGeneration_;
  }
  generation = tokenGeneration_;
  value = token_;
  return ZENTA_OK;
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
  for (int retry = 0;; ++retry) {
    const int code = ExchangeOnce(pooled, request, idempotent, deadline, answer, body, report);
    if (retry == retries_) return code;
    const std::chrono::milliseconds wait = RetryWait(code, answer, report, idempotent, retry);
    if (wait.count() < 0 || Clock::now() + wait >= deadline) return code;
    if (TraceEnabled()) {
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
    sleeper_(wait);
  }
}

// One try: a stale kept-alive connection that dies under the request is replaced once, when
// sending the request again cannot do harm (MaySendAgain).
int Session::ExchangeOnce(PooledConnection& pooled, const ZENTA_HttpRequest& request,
                          bool idempotent, Clock::time_point deadline, ZENTA_HttpAnswer& answer,
                          AnswerBuffer& body, ExchangeReport& report) {
  for (int attempt = 0;; ++attempt) {
    if (pooled.carried && (attempt > 0 || MustNotReuse(pooled, idempotent))) {
      transport_->Disconnect(*pooled.connection);
      pooled.carried = false;
    }
    report.Clear();
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
  closed_.store(true);
  pool_.Shutdown();
  std::unique_lock<std::mutex> lock(mutex_);
  callsDone_.wait(lock, [this] { return inFlight_.load() == 0; });
}

}  // namespace zenta
