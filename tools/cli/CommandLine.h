// The command line's own words and checks: the ranges numbers must lie in, the date argument,
// the one voice of every usage error, and the parser's messages said as the client says them.
#ifndef CORVANE_CLI_COMMANDLINE_H
#define CORVANE_CLI_COMMANDLINE_H

#include <CLI/CLI.hpp>
#include <string>

namespace corvane_cli {

constexpr const char* kUsageHint = "Run 'corvane --help' for usage.\n";

// "corvane MAJOR.MINOR.PATCH" of the library the client was built with.
std::string VersionText();

// A whole number from low to high, refused with a message that names the range and its unit.
CLI::Validator Within(long long low, long long high, const std::string& range);

// A date as ParseDate reads it (epoch milliseconds or ISO 8601), refused with an example.
CLI::Validator DateValidator();

// A subcommand of parent with its one-line description and an example in its help's footer.
CLI::App* AddSubcommand(CLI::App* parent, const char* name, const char* what, const char* example);

// Says what is wrong with the command line, in the one voice of every argument error, and
// returns the exit status of a usage error.
int UsageError(const std::string& what);

// The parser's messages said as the client says its own: lower case, the option first.
std::string InOurWords(const CLI::ParseError& error);

// The subcommand word the parser could not place, with the command it was meant for ("" when
// every word names a subcommand): walks the words as the parser does, skipping options and
// their values.
std::string UnknownSubcommand(int argc, char** argv, const CLI::App& app);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_COMMANDLINE_H
