#include "CommandLine.h"

#ifdef CORVANE_CLI_CURL
#include <curl/curl.h>
#endif

#include <algorithm>
#include <cctype>
#include <exception>
#include <iostream>
#include <vector>

#include "Corvane.h"
#include "CorvaneC.h"
#include "Credentials.h"
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
  std::string text = "corvane " + std::to_string(CORVANE_VERSION_MAJOR) + "." +
                     std::to_string(CORVANE_VERSION_MINOR) + "." +
                     std::to_string(CORVANE_VERSION_PATCH) + "\nlibrary: libCorvane " +
                     corvane_version();
#ifdef CORVANE_CLI_CURL
  const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
  text += "\ntransport: libcurl " + std::string(curl->version) +
          ", TLS: " + (curl->ssl_version != nullptr ? curl->ssl_version : "none");
#else
  text += "\ntransport: libcurl in ZENTA.dll, TLS: Schannel";
#endif
  return text;
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

CLI::Validator ExistingFileOr(const std::string& prefix) {
  return CLI::Validator(
      [prefix](std::string& text) -> std::string {
        return text.rfind(prefix, 0) == 0 ? "" : CLI::ExistingFile(text);
      },
      "FILE");
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
  std::cerr << "corvane: " << EscapeControls(Redact(what)) << "\n" << kUsageHint;
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

std::vector<std::string> OptionNames(const CLI::Option* option) {
  std::vector<std::string> names;
  for (const std::string& name : option->get_snames()) names.push_back("-" + name);
  for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  return names;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  // Optimal string alignment: insertions, deletions, substitutions and swaps of two neighbours.
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t bestDistance = std::max<std::size_t>(1, std::min<std::size_t>(2, word.size() / 3));
  for (const std::string& candidate : candidates) {
    const std::size_t distance = EditDistance(word, candidate);
    if (distance <= bestDistance && (best.empty() || distance < bestDistance)) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best.empty() ? "" : "; did you mean " + best + "?";
}

namespace {

// Every option name a word may give at app (its own and its parents' options).
std::vector<std::string> OptionNamesAt(const CLI::App* app) {
  std::vector<std::string> names;
  for (const CLI::App* owner = app; owner != nullptr; owner = owner->get_parent()) {
    for (const CLI::Option* option : owner->get_options()) {
      for (const std::string& name : OptionNames(option)) names.push_back(name);
    }
  }
  return names;
}

// The option named by word (up to an '='), found at app or a parent of it; null when none is.
const CLI::Option* FindOption(const CLI::App* app, const std::string& word) {
  const std::string name = word.substr(0, word.find('='));
  for (const CLI::App* owner = app; owner != nullptr; owner = owner->get_parent()) {
    if (const CLI::Option* option = owner->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

}  // namespace

std::string UnknownWord(int argc, char** argv, const CLI::App& app) {
  const CLI::App* current = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]))) {
      const CLI::Option* option = FindOption(current, word);
      if (option == nullptr) {
        const std::string name = word.substr(0, word.find('='));
        return "unknown option '" + name + "'" + DidYouMean(name, OptionNamesAt(current));
      }
      if (word.find('=') == std::string::npos && option->get_expected_min() > 0) ++i;
      continue;
    }
    if (current->get_subcommands({}).empty()) continue;  // a positional argument
    const auto named = [&](const CLI::App* s) { return s->check_name(word); };
    const auto found = current->get_subcommands(named);
    if (found.empty()) {
      std::vector<std::string> names;
      for (const CLI::App* sub : current->get_subcommands({})) names.push_back(sub->get_name());
      return "unknown subcommand '" + word + "'" +
             (current == &app ? "" : " of " + current->get_name()) + DidYouMean(word, names);
    }
    current = found.front();
  }
  return "";
}

}  // namespace corvane_cli
