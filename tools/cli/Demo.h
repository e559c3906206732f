// corvane demo: every operation once, with a readable report.
#ifndef CORVANE_CLI_DEMO_H
#define CORVANE_CLI_DEMO_H

#include "DemoIds.h"
#include "Runner.h"

namespace corvane_cli {

// Runs the fourteen operations on ids that the simulated platform server holds and prints one
// report line per operation (or one JSON document per operation with json set). Returns true
// when every operation returned 0.
bool RunDemo(Runner& runner, const DemoIds& ids, bool json);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_DEMO_H
