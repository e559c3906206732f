// The manual page and the bash completion of the client, written from the parser itself: the
// option table and the subcommands it was given, so that neither can drift from --help.
#ifndef CORVANE_CLI_MANUAL_H
#define CORVANE_CLI_MANUAL_H

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace corvane_cli {

// corvane.1 in man(7) markup: synopsis, the global options, every subcommand with its arguments
// and options, and the help's footer (server, credentials, exit statuses, examples).
std::string ManPage(const CLI::App& app);

// A bash completion script: subcommands (and their own subcommands), options of the global
// table and of the subcommand being typed, file names after an option that takes a file.
std::string BashCompletion(const CLI::App& app);

// The hidden words `--help-man` and `--completion bash`, given alone: writes what they ask for
// to standard output and returns the exit status; nothing when the command line is another.
std::optional<int> WriteGenerated(int argc, char** argv, const CLI::App& app);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_MANUAL_H
