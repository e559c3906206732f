// Measuring in rounds, for the end-to-end benchmark.
//
// This machine is shared and its speed drifts by tens of percent within seconds, so clients are
// never compared across separate runs: each benchmark iteration is one round in which every
// client under comparison makes a batch of calls, one batch after the other (the order turns
// round by round), and only the ratios of the sums are reported.
#ifndef CORVANE_BENCH_ROUNDS_H
#define CORVANE_BENCH_ROUNDS_H

#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "BenchProcess.h"

namespace corvane_bench {

using Clock = std::chrono::steady_clock;

// Wall time, client CPU and server CPU of batches of calls, and the wall and client CPU time of
// each batch.
struct Totals {
  double wallNs = 0;
  double clientCpuNs = 0;
  double clientUserNs = 0;  // the part of clientCpuNs spent in user space
  double serverCpuNs = 0;
  double calls = 0;
  std::vector<double> batchNsPerCall;
  std::vector<double> batchCpuNsPerCall;

  double ClientCpuUsPerCall() const { return clientCpuNs / calls / 1e3; }
  double ServerCpuUsPerCall() const { return serverCpuNs / calls / 1e3; }
};

double Median(std::vector<double> values);

// The median over rounds of a's time per call divided by b's in the same round: how many calls
// b makes in the time a makes one, robust against bursts of load that hit single rounds.
double MedianRatio(const std::vector<double>& a, const std::vector<double>& b);
double MedianRatio(const Totals& a, const Totals& b);

// Runs batch() and adds what it took to totals. Server CPU is only known for a server this
// program started (server > 0).
template <typename Batch>
void Measure(Totals& totals, pid_t server, double calls, Batch batch) {
  const double serverBefore = server > 0 ? ProcessCpuNs(server) : 0;
  const CpuTimes clientBefore = OwnCpu();
  const Clock::time_point start = Clock::now();
  batch();
  const Clock::time_point stop = Clock::now();
  const CpuTimes clientAfter = OwnCpu();
  const double clientCpuNs = clientAfter.totalNs - clientBefore.totalNs;
  totals.clientCpuNs += clientCpuNs;
  totals.clientUserNs += clientAfter.userNs - clientBefore.userNs;
  totals.batchCpuNsPerCall.push_back(clientCpuNs / calls);
  if (server > 0) totals.serverCpuNs += ProcessCpuNs(server) - serverBefore;
  const double wallNs = std::chrono::duration<double, std::nano>(stop - start).count();
  totals.wallNs += wallNs;
  totals.calls += calls;
  totals.batchNsPerCall.push_back(wallNs / calls);
}

// Per call: the median wall time of the batches, and CPU time over all of them.
void Report(benchmark::State& state, pid_t server, const std::string& prefix, const Totals& totals);

}  // namespace corvane_bench

#endif  // CORVANE_BENCH_ROUNDS_H
