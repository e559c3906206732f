// Worker threads for the end-to-end benchmark's thread rounds: they make calls in parallel on
// command, the library's on one session handle, the bare client's each on its own easy handle.
#ifndef CORVANE_BENCH_WORKERS_H
#define CORVANE_BENCH_WORKERS_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "RawClient.h"

namespace corvane_bench {

using Operation = int (*)(int handle);

class Workers {
 public:
  static constexpr int kMost = 4;
  // A worker's bare client for a target and a body, made at its first call with them.
  using MakeRaw = std::function<std::unique_ptr<RawClient>(const char* target, const char* body)>;

  explicit Workers(MakeRaw makeRaw);
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Each of the first `threads` workers makes `calls` calls of the library operation on handle
  // (raw: false) or with its own raw client for the same request (raw: true); returns once all
  // are done. Returns false if a call failed.
  bool Call(int threads, int calls, Operation library, int handle, const char* target,
            const char* body, bool raw);

 private:
  struct Job {
    int threads = 0;
    int calls = 0;
    Operation library = nullptr;
    int handle = 0;
    const char* target = nullptr;
    const char* body = nullptr;
    bool raw = false;
  };

  void Run(int index);

  const MakeRaw makeRaw_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
  Job job_;
  std::uint64_t generation_ = 0;
  int pending_ = 0;
  bool failed_ = false;
  bool stopping_ = false;
};

}  // namespace corvane_bench

#endif  // CORVANE_BENCH_WORKERS_H
