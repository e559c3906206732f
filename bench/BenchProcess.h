// The end-to-end benchmark's view of processes: the simulated server started as a process of its
// own, CPU time per process, and client and server pinned to CPUs of their own.
#ifndef CORVANE_BENCH_BENCHPROCESS_H
#define CORVANE_BENCH_BENCHPROCESS_H

#include <sched.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace corvane_bench {

// corvane-mock-server as a child process, stopped (SIGTERM) when the object goes.
class ServerProcess {
 public:
  ~ServerProcess() { Stop(); }

  // Starts binary on a free port, with extra arguments after "--port 0", and reads the address
  // from its first line; throws std::runtime_error when it cannot.
  void Start(const std::string& binary, const std::vector<std::string>& extra = {});
  void Stop();

  const std::string& Url() const { return url_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
  std::string url_;
};

// Runs a program found on PATH with its output discarded; throws std::runtime_error unless it
// exits with 0.
void RunQuietly(const std::vector<std::string>& args);

// A self-signed certificate for 127.0.0.1 and its key, made with the openssl command in a
// temporary folder that goes with the object.
class Certificate {
 public:
  Certificate();
  ~Certificate();
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;

  const std::string& CertFile() const { return cert_; }
  const std::string& KeyFile() const { return key_; }

 private:
  void Remove();

  std::string folder_;
  std::string cert_;
  std::string key_;
};

// CPU time of a process, all its threads together, those that have ended included (a
// connection's thread on the server ends with the connection), in nanoseconds.
double ProcessCpuNs(pid_t pid);

// CPU time of this process in nanoseconds: user and system together, and the user part. The
// kernel keeps the sum exactly and splits it by sampled ticks, so the split is a statistic: good
// over many calls, not over one.
struct CpuTimes {
  double totalNs;
  double userNs;
};
CpuTimes OwnCpu();

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
