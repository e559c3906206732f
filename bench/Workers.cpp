#include "Workers.h"

#include <map>
#include <utility>

namespace corvane_bench {

Workers::Workers(MakeRaw makeRaw) : makeRaw_(std::move(makeRaw)) {
  for (int i = 0; i < kMost; ++i) threads_.emplace_back([this, i] { Run(i); });
}

Workers::~Workers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ++generation_;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool Workers::Call(int threads, int calls, Operation library, int handle, const char* target,
                   const char* body, bool raw) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = Job{threads, calls, library, handle, target, body, raw};
    pending_ = threads;
    failed_ = false;
    ++generation_;
  }
  wake_.notify_all();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
  return !failed_;
}

void Workers::Run(int index) {
  std::map<const char*, std::unique_ptr<RawClient>> clients;  // by target
  std::uint64_t seen = 0;
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return generation_ != seen; });
      seen = generation_;
      if (stopping_) return;
      if (index >= job_.threads) continue;
      job = job_;
    }
    bool ok = true;
    if (job.raw) {
      std::unique_ptr<RawClient>& client = clients[job.target];
      if (!client) client = makeRaw_(job.target, job.body);
      for (int i = 0; i < job.calls && ok; ++i) ok = client->Call() == 0;
    } else {
      for (int i = 0; i < job.calls && ok; ++i) ok = job.library(job.handle) == 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) failed_ = true;
    if (--pending_ == 0) done_.notify_one();
  }
}

}  // namespace corvane_bench
