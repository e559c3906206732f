// The command line's own words and checks: the ranges numbers must lie in, the date argument,
// the one voice of every usage error, and the parser's messages said as the client says them.
#ifndef CORVANE_CLI_COMMANDLINE_H
#define CORVANE_CLI_COMMANDLINE_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace corvane_cli {

constexpr const char* kUsageHint = "Run 'corvane --help' for usage.\n";

// "corvane MAJOR.MINOR.PATCH" of the library the client was built with, then the library
// loaded (corvane_version), the transport (libcurl's version and TLS library, as loaded).
std::string VersionText();

// A whole number from low to high, refused with a message that names the range and its unit.
CLI::Validator Within(long long low, long long high, const std::string& range);

// A file that exists, refused in the words of every missing file ("file does not exist: PATH");
// a text starting with prefix names no file and passes.
CLI::Validator ExistingFileOr(const std::string& prefix);

// A date as ParseDate reads it (epoch milliseconds or ISO 8601), refused with an example.
CLI::Validator DateValidator();

// A subcommand of parent with its one-line description and an example in its help's footer.
CLI::App* AddSubcommand(CLI::App* parent, const char* name, const char* what, const char* example);

// Says what is wrong with the command line, in the one voice of every argument error, and
// returns the exit status of a usage error.
int UsageError(const std::string& what);

// The parser's messages said as the client says its own: lower case, the option first.
std::string InOurWords(const CLI::ParseError& error);

// The first word the parser could not place, said with the closest name it may have meant
// ("unknown option '--tokne'; did you mean --token?", "unknown subcommand 'ptz-trail'; did you
// mean ptz-trails?"); "" when every word is in its place. Walks the words as the parser does:
// options (their own and their parents') with their values, subcommands, positionals.
std::string UnknownWord(int argc, char** argv, const CLI::App& app);

// Every name of option as typed ("-v", "--verbose", "--no-compressed").
std::vector<std::string> OptionNames(const CLI::Option* option);

// The edit distance of a and b: insertions, deletions, substitutions, swaps of neighbours.
std::size_t EditDistance(const std::string& a, const std::string& b);

// "; did you mean NAME?" for the candidate closest to word when it is near enough to be a
// typing error (at most 1 edit for a word under 6 characters, else at most 2); "" otherwise.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_COMMANDLINE_H
