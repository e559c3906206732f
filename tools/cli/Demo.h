// corvane demo: every operation once, with a readable report.
#ifndef CORVANE_CLI_DEMO_H
#define CORVANE_CLI_DEMO_H

#include "DemoIds.h"
#include "Runner.h"

namespace corvane_cli {

// Runs the fourteen operations on ids that the simulated platform server holds and prints one
// report line per operation (or one JSON document per operation with json set). Returns the
// client's exit status: 0 when every operation returned 0, else 3 when an exchange failed, else 1
// (the server refused, an answer was unreadable, or the report could not be written).
int RunDemo(Runner& runner, const DemoIds& ids, bool json);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_DEMO_H
