// The end-to-end benchmark's view of processes: the simulated server started as a process of its
// own, CPU time per process, and client and server pinned to CPUs of their own.
#ifndef CORVANE_BENCH_BENCHPROCESS_H
#define CORVANE_BENCH_BENCHPROCESS_H

#include <sched.h>
#include <sys/types.h>

#include <string>

namespace corvane_bench {

// corvane-mock-server as a child process, stopped (SIGTERM) when the object goes.
class ServerProcess {
 public:
  ~ServerProcess() { Stop(); }

  // Starts binary on a free port and reads the address from its first line; throws
  // std::runtime_error when it cannot.
  void Start(const std::string& binary);
  void Stop();

  const std::string& Url() const { return url_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
  std::string url_;
};

// CPU time of a process, all its threads together, those that have ended included (a
// connection's thread on the server ends with the connection), in nanoseconds.
double ProcessCpuNs(pid_t pid);

// CPU time of this process, user and system, in nanoseconds.
double OwnCpuNs();

// While it lives, the calling thread runs on CPU 0 and the server on CPU 1. Left to the
// scheduler, a connection's thread on the server lands on the client's CPU or on the other one
// and stays there, and the two placements differ twofold in round-trip time on a 2-CPU machine;
// the clients under comparison hold separate connections, so each could get either. Pinned,
// both get the same placement: client and server on CPUs of their own, as with a server on
// another machine. Nothing is pinned without a server process (server 0) or a second CPU.
class Placement {
 public:
  explicit Placement(pid_t server);
  ~Placement();
  Placement(const Placement&) = delete;
  Placement& operator=(const Placement&) = delete;

 private:
  pid_t server_;
  bool pinned_ = false;
  cpu_set_t before_{};
};

}  // namespace corvane_bench

#endif  // CORVANE_BENCH_BENCHPROCESS_H
