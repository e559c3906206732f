#include "CommandLine.h"

#include <cctype>
#include <exception>
#include <iostream>

#include "Corvane.h"
#include "Runner.h"
#include "Text.h"

namespace corvane_cli {

namespace {

// A word in lower case when it is an ordinary capitalised word ("File", "A", not "CHANNEL").
void LowerWordAt(std::string& text, std::size_t at) {
  if (at + 1 < text.size() && std::isupper(static_cast<unsigned char>(text[at])) &&
      (std::islower(static_cast<unsigned char>(text[at + 1])) || text[at + 1] == ' ')) {
    text[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
  }
}

}  // namespace

std::string VersionText() {
  return "corvane " + std::to_string(CORVANE_VERSION_MAJOR) + "." +
         std::to_string(CORVANE_VERSION_MINOR) + "." + std::to_string(CORVANE_VERSION_PATCH);
}

CLI::Validator Within(long long low, long long high, const std::string& range) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        try {
          std::size_t used = 0;
          long long value = std::stoll(text, &used);
          if (used == text.size() && value >= low && value <= high) return "";
        } catch (const std::exception&) {
        }
        return "'" + text + "' is not a whole number in " + range;
      },
      range);
}

CLI::Validator DateValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return ParseDate(text) ? ""
                               : "'" + text +
                                     "' is not a date: give epoch milliseconds or ISO 8601 "
                                     "(2024-03-19T10:00:00Z)";
      },
      "DATE");
}

CLI::App* AddSubcommand(CLI::App* parent, const char* name, const char* what, const char* example) {
  CLI::App* sub = parent->add_subcommand(name, what);
  sub->footer(std::string("Example:\n  ") + example);
  return sub;
}

int UsageError(const std::string& what) {
  std::cerr << "corvane: " << EscapeControls(what) << "\n" << kUsageHint;
  return kExitUsage;
}

std::string InOurWords(const CLI::ParseError& error) {
  std::string text = error.what();
  for (const char* unexpected : {"The following argument was not expected: ",
                                 "The following arguments were not expected: "}) {
    const std::string prefix = unexpected;
    if (text.rfind(prefix, 0) == 0) return "unexpected argument: " + text.substr(prefix.size());
  }
  const std::size_t excludes = text.find(" excludes ");
  if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr && excludes != std::string::npos) {
    return text.substr(0, excludes) + " and " + text.substr(excludes + 10) +
           " cannot be used together";
  }
  const std::size_t missing = text.find(" required ");
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr &&
      missing != std::string::npos && text.rfind(" missing") == text.size() - 8) {
    return text.substr(0, text.find(':')) + " needs a value";
  }
  LowerWordAt(text, 0);
  const std::size_t colon = text.find(": ");
  if (colon != std::string::npos) LowerWordAt(text, colon + 2);
  return text;
}

std::string UnknownSubcommand(int argc, char** argv, const CLI::App& app) {
  const CLI::App* current = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] != '-') {
      if (current->get_subcommands({}).empty()) return "";  // a positional argument
      const auto named = [&](const CLI::App* s) { return s->check_name(word); };
      const auto found = current->get_subcommands(named);
      if (found.empty()) {
        return "unknown subcommand '" + word + "'" +
               (current == &app ? "" : " of " + current->get_name());
      }
      current = found.front();
      continue;
    }
    if (word.find('=') != std::string::npos) continue;
    for (const CLI::App* owner = current; owner != nullptr; owner = owner->get_parent()) {
      const CLI::Option* option = owner->get_option_no_throw(word);
      if (option == nullptr) continue;
      if (option->get_expected_min() > 0) ++i;  // its value follows
      break;
    }
  }
  return "";
}

}  // namespace corvane_cli
