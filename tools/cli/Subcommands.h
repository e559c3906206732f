// The subcommands of the library's operations (Subcommands.gen.cpp, written from
// api/operations.toml): what their arguments are read into, what each runs, the demo's steps
// and the help's footer.
#ifndef CORVANE_CLI_SUBCOMMANDS_H
#define CORVANE_CLI_SUBCOMMANDS_H

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DemoIds.h"
#include "Runner.h"

namespace corvane_cli {

// The library sends volumes as given and leaves their range to the server.
constexpr int kMaxVolume = 2147483647;

// The subcommands' arguments and options, with their defaults.
struct Arguments {
  std::string id, output, alarmCode, alarmDateText;
  std::vector<std::string> ids;
  int tag = 0, speaker = -1, microphone = -1, streamType = 0, duration = 60, type = 0;
  long long alarmDate = 0;
};

// What the chosen subcommand runs once the session is open.
using Action = std::function<Outcome(Runner&)>;

// One subcommand per operation, in the description's order; parsing one sets action.
void AddOperationSubcommands(CLI::App& app, Arguments& a, Action& action);

// The steps of `corvane demo`: every operation once, on the identifiers of ids.
std::vector<std::function<Outcome()>> DemoSteps(Runner& runner, const DemoIds& ids);

// The footer of `corvane --help`: where the server and credentials come from, the exit
// statuses and examples.
extern const char* const kCliFooter;

}  // namespace corvane_cli

#endif  // CORVANE_CLI_SUBCOMMANDS_H
