#include "Rounds.h"

#include <algorithm>

namespace corvane_bench {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double MedianRatio(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (b[i] > 0) ratios.push_back(a[i] / b[i]);
  }
  return Median(ratios);
}
double MedianRatio(const Totals& a, const Totals& b) {
  return MedianRatio(a.batchNsPerCall, b.batchNsPerCall);
}

void Report(benchmark::State& state, pid_t server, const std::string& prefix,
            const Totals& totals) {
  const double medianNs = Median(totals.batchNsPerCall);
  state.counters[prefix + "_us"] = medianNs / 1e3;
  state.counters[prefix + "_calls_per_s"] = medianNs > 0 ? 1e9 / medianNs : 0;
  state.counters[prefix + "_client_cpu_us"] = totals.ClientCpuUsPerCall();
  state.counters[prefix + "_client_user_us"] = totals.clientUserNs / totals.calls / 1e3;
  if (server > 0) {
    state.counters[prefix + "_server_cpu_us"] = totals.ServerCpuUsPerCall();
    // CPU seconds that client and server together got per second: what the machine gave them.
    state.counters[prefix + "_cores"] = (totals.clientCpuNs + totals.serverCpuNs) / totals.wallNs;
  }
}

}  // namespace corvane_bench
