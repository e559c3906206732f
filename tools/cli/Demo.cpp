#include "Demo.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "Subcommands.h"
#include "Text.h"

namespace corvane_cli {

int RunDemo(Runner& runner, const DemoIds& ids, bool json) {
  const std::vector<std::function<Outcome()>> steps = DemoSteps(runner, ids);
  int succeeded = 0, exitStatus = 0;
  if (!json) std::printf("%-24s %-8s %9s  %s\n", "operation", "status", "ms", "result");
  for (const auto& step : steps) {
    Outcome outcome;
    try {
      outcome = step();
    } catch (const std::exception& e) {
      outcome.operation = "(operation)";
      outcome.status = -1;
      outcome.summary = std::string("answer unusable: ") + e.what();
    }
    if (outcome.status == 0) ++succeeded;
    exitStatus = std::max(exitStatus, ExitStatusOf(outcome.status));
    if (json) {
      if (!Print(outcome, true)) return kExitRefused;
      continue;
    }
    std::string result = outcome.status == 0 ? outcome.summary : DescribeFailure(outcome);
    std::printf("%-24s %-8s %9.2f  %s\n", outcome.operation.c_str(),
                outcome.status == 0 ? "ok" : std::to_string(outcome.status).c_str(),
                outcome.milliseconds, EscapeControls(result).c_str());
  }
  if (!json) {
    std::printf("\n%d of %zu operations succeeded\n", succeeded, steps.size());
  }
  if (!FlushOutput()) return kExitRefused;
  return exitStatus;
}

}  // namespace corvane_cli
