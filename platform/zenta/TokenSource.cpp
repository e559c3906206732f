#include "TokenSource.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "Ascii.h"
#include "Scrubber.h"

namespace zenta {
namespace {

// The longest token a token callback may give (a signed token with many claims fits).
constexpr int kMostTokenBytes = 16 * 1024;

}  // namespace

int TokenSource::Get(bool refresh, Held& held, Clock::time_point deadline, Detail& detail,
                     const CallControl& call) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!refresh) held.runsSeen = runsDone_;
  for (;;) {
    if (call.Cancelled()) {
      detail.Set("the call was cancelled while it waited for a token");
      return ZENTA_E_CANCELLED;
    }
    if (generation_ > 0 && (!refresh || generation_ != held.generation)) {
      Take(held);
      return ZENTA_OK;
    }
    if (runsDone_ > held.runsSeen) {  // a run for this call's need ended without a token
      detail.Set("%s", lastFailure_.Text());
      return lastFailureCode_;
    }
    if (!running_) break;
    // Any wake looks at everything again: a run that ended, a cancel (Wake).
    if (runEnded_.wait_until(lock, deadline) == std::cv_status::timeout && running_) {
      detail.Set("the token callback gave no token before the request timeout");
      return ZENTA_E_TIMEOUT;
    }
  }
  if (Clock::now() >= deadline) {
    detail.Set("the token callback gave no token before the request timeout");
    return ZENTA_E_TIMEOUT;
  }
  running_ = true;
  lock.unlock();
  int code = ZENTA_E_NO_MEMORY;
  try {
    code = Run(refresh, detail);
  } catch (const std::bad_alloc&) {
    detail.Set("no memory for the token");
  }
  lock.lock();
  running_ = false;
  ++runsDone_;
  if (code != ZENTA_OK) {
    lastFailureCode_ = code;
    lastFailure_.Set("%s", detail.Text());
  }
  runEnded_.notify_all();
  if (code != ZENTA_OK) return code;
  Take(held);
  if (Clock::now() >= deadline) {  // the callback took the call's time: nothing is sent
    detail.Set("the token callback gave its token after the request timeout");
    return ZENTA_E_TIMEOUT;
  }
  return ZENTA_OK;
}

int TokenSource::Run(bool refresh, Detail& detail) {
  std::string buffer(kMostTokenBytes, '\0');
  const int length = callback_(context_, refresh ? 1 : 0, &buffer[0], kMostTokenBytes);
  const bool fits = length >= 0 && length < kMostTokenBytes;
  const std::string_view given(buffer.data(), fits ? static_cast<std::size_t>(length) : 0);
  int code = ZENTA_OK;
  // The same bytes as an authorization value, and never an empty token ("Bearer ").
  if (!fits || given.empty() || !IsFieldValue(given)) {
    detail.Set("the token callback returned %d%s", length,
               !fits           ? " (no token)"
               : given.empty() ? ", an empty token"
                               : ", a token holding a line break or another control byte");
    code = ZENTA_E_CREDENTIAL;
  } else {
    auto made = std::make_shared<std::string>();
    made->reserve(7 + given.size());  // one block, no intermediate copy of the secret
    made->assign("Bearer ").append(given);
    std::lock_guard<std::mutex> lock(mutex_);
    token_ = std::move(made);
    ++generation_;
    if (latest_.size() == 2) latest_.erase(latest_.begin());
    latest_.emplace_back(given);
  }
  std::fill(buffer.begin(), buffer.end(), '\0');  // no copy of the secret left behind
  return code;
}

void TokenSource::Take(Held& held) {
  held.value = token_;
  held.generation = generation_;
  held.runsSeen = runsDone_;
}

void TokenSource::Wake() {
  // Taking the lock orders the wake after a waiter's look at its scope: none misses it.
  { const std::lock_guard<std::mutex> lock(mutex_); }
  runEnded_.notify_all();
}

void TokenSource::Scrub(std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& token : latest_) {
    Scrubber one;
    one.Add(token);
    one.Scrub(text);
  }
}

}  // namespace zenta
