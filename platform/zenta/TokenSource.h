// The bearer token of a session with a token callback: asked for before the first request and
// once per 401 wave, shared by the calls in flight, and never waited for past a call's deadline.
#ifndef ZENTA_TOKENSOURCE_H
#define ZENTA_TOKENSOURCE_H

#include <zenta/ZentaSdk.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ErrorDetail.h"
#include "Scope.h"

namespace zenta {

class TokenSource {
 public:
  using Clock = std::chrono::steady_clock;

  // What one call holds: the token it sends ("Bearer <token>"), which of the session's tokens it
  // is, and how many runs of the callback had ended when the call took it.
  struct Held {
    std::shared_ptr<const std::string> value;
    unsigned generation = 0;
    unsigned long long runsSeen = 0;
  };

  TokenSource(ZENTA_TokenCallback callback, void* context)
      : callback_(callback), context_(context) {}

  // The session's token into held: the one there is, or a new one when there is none yet or when
  // refresh asks to replace the one held (the server refused it). One run of the callback at a
  // time, on the calling thread; the calls that need a token meanwhile wait for that run, each at
  // most until its deadline, and share its token or its failure. A run that ended after the call
  // took its token without making a new one answers the call with its failure, so a failing
  // callback is not run again for every call that met the same 401. ZENTA_OK, ZENTA_E_TIMEOUT (the
  // deadline passed: nothing may be sent), ZENTA_E_CANCELLED (the call's scope was cancelled; a
  // cancelled call never runs the callback) or ZENTA_E_CREDENTIAL, with detail saying why.
  int Get(bool refresh, Held& held, Clock::time_point deadline, Detail& detail,
          const CallControl& call = {});

  // Lets the calls waiting for another call's run look again whether they were cancelled.
  void Wake();

  // Writes *** over the latest two tokens in text.
  void Scrub(std::string& text);

 private:
  // Runs the callback once; on success stores the token as the session's. Called without the
  // lock, by the one call whose turn it is.
  int Run(bool refresh, Detail& detail);
  void Take(Held& held);

  const ZENTA_TokenCallback callback_;
  void* const context_;
  std::mutex mutex_;  // guards all below; never held while the callback runs
  std::condition_variable runEnded_;
  bool running_ = false;
  unsigned long long runsDone_ = 0;
  int lastFailureCode_ = ZENTA_OK;
  Detail lastFailure_;
  std::shared_ptr<const std::string> token_;  // "Bearer <token>" once generation_ > 0
  unsigned generation_ = 0;
  std::vector<std::string> latest_;  // the latest two tokens, for the scrubber
};

}  // namespace zenta

#endif  // ZENTA_TOKENSOURCE_H
