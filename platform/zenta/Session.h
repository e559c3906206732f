// A session: one server, its pool of connections and the policy every call follows. The policy
// lives here once for every transport: the deadline (waiting for a connection included), which
// idle connections may carry a request, which failed requests are sent again and when (retries
// with backoff included), the credentials every request carries (a token refreshed once after a
// 401), and tracing. The transport below performs single exchanges and reports what happened.
#ifndef ZENTA_SESSION_H
#define ZENTA_SESSION_H

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ConnectionPool.h"
#include "Scrubber.h"
#include "TokenSource.h"
#include "Transport.h"

namespace zenta {

// A request other than GET and HEAD reuses only a connection whose last exchange ended less
// than this long ago: servers close idle keep-alive connections after several seconds, and a
// request that met such a close after a byte of it went out is never sent again.
constexpr std::chrono::milliseconds kNonIdempotentReuseWindow{1000};

class Session {
 public:
  // The clock that measures how long a connection has been idle (the reuse window); a test gives
  // its own so that it can let time pass without waiting. Deadlines are kept on the real clock,
  // which the pool's and the transport's waits use.
  using IdleClock = Clock::time_point (*)();
  // How the session waits before a retry, cut short by the call's cancel; a test gives its own.
  using Sleeper = void (*)(std::chrono::milliseconds, const CallControl&);

  Session(const TransportConfig& config, std::unique_ptr<Transport> transport,
          IdleClock idleClock = &Clock::now, Sleeper sleeper = &SleepFor);

  // Sleeps wait, in slices short enough to notice the call's cancel within 20 ms.
  static void SleepFor(std::chrono::milliseconds wait, const CallControl& call);

  // Carries request: 0 with answer and body filled when an HTTP answer arrived, else a negative
  // code with report.detail saying why; ZENTA_E_CANCELLED, at once and wherever the call waits,
  // when call.scope is cancelled (Wake tells the waits that are not polls). Thread-safe.
  int Carry(const ZENTA_HttpRequest& request, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
            ExchangeReport& report, const CallControl& call = {});

  // Lets the calls waiting for a connection or a token look again whether they were cancelled;
  // called after a scope of the session was cancelled.
  void Wake();

  // Refuses new calls, fails the ones waiting for a connection and frees the idle connections;
  // returns at once. The calls under way end when their scope's cancel reaches them (the caller
  // cancels the session's scope first), and their connections are freed as they come back.
  void Close();

  // True in a child process that inherited the session through fork(): its connections are the
  // parent's, so the child must never write, read or close them.
  bool Inherited() const;

  std::size_t AnswerCap() const { return answerCap_; }

  // Removes every credential the session knows (its options', its latest tokens) and every URL's
  // user information from a text that leaves the gateway. Thread-safe.
  void Scrub(std::string& text);
  void Scrub(Detail& detail);

 private:
  int WithCredentials(const ZENTA_HttpRequest& request, Clock::time_point deadline,
                      ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report,
                      const CallControl& call);
  int CarryWithRetries(const ZENTA_HttpRequest& request, Clock::time_point deadline,
                       ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report,
                       const CallControl& call);
  int Try(PooledConnection& pooled, const ZENTA_HttpRequest& request, bool idempotent,
          Clock::time_point deadline, ZENTA_HttpAnswer& answer, AnswerBuffer& body,
          ExchangeReport& report, const CallControl& call);
  bool MustNotReuse(PooledConnection& pooled, bool idempotent);

  const std::chrono::milliseconds requestTimeout_;
  const std::size_t answerCap_;
  const std::string basePath_;
  const long processId_;
  const IdleClock idleClock_;
  const Sleeper sleeper_;
  const int retries_;
  const bool trace_;  // one line per request and per retry on standard error
  // Headers every request carries ("Authorization" and the extra lines), as split from the
  // options: names and values point into headerLines_.
  const std::vector<std::string> headerLines_;
  std::vector<ZENTA_HttpHeader> headers_;
  const ZENTA_TokenCallback tokenCallback_;
  TokenSource tokens_;
  const Scrubber scrubber_;
  std::unique_ptr<Transport> transport_;
  ConnectionPool pool_;
  std::atomic<bool> closed_{false};
};

// The calling process's id.
long CurrentProcessId();

}  // namespace zenta

#endif  // ZENTA_SESSION_H
