#include "Manual.h"

#include <iostream>
#include <sstream>
#include <vector>

#include "CommandLine.h"

namespace corvane_cli {

namespace {

// Text as man(7) shows it literally: backslashes escaped, minus signs as such, and a line that
// starts with a control character made ordinary.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    lineStart = c == '\n';
  }
  return out;
}

std::vector<const CLI::Option*> Named(const CLI::App& app) {
  std::vector<const CLI::Option*> named;
  for (const CLI::Option* option : app.get_options()) {
    if (!option->get_positional()) named.push_back(option);
  }
  return named;
}

std::vector<const CLI::Option*> Positionals(const CLI::App& app) {
  std::vector<const CLI::Option*> positionals;
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_positional()) positionals.push_back(option);
  }
  return positionals;
}

bool TakesValue(const CLI::Option* option) { return option->get_expected_min() > 0; }

// The type an option's value has, without the range its check adds ("N", not "N:0..10").
std::string ValueName(const CLI::Option* option) {
  const std::string type = option->get_type_name();
  return type.substr(0, type.find(':'));
}

// The options of app; a subcommand's without its -h (the synopsis says each has --help).
void ManOptions(std::ostream& out, const CLI::App& app) {
  for (const CLI::Option* option : Named(app)) {
    if (app.get_parent() != nullptr && option == app.get_help_ptr()) continue;
    out << ".TP\n";
    const std::vector<std::string> names = OptionNames(option);
    for (std::size_t i = 0; i < names.size(); ++i) {
      out << (i == 0 ? "" : ", ") << "\\fB" << Roff(names[i]) << "\\fR";
    }
    if (TakesValue(option)) out << " \\fI" << Roff(ValueName(option)) << "\\fR";
    out << "\n" << Roff(option->get_description()) << "\n";
  }
}

void ManSubcommands(std::ostream& out, const CLI::App& app, const std::string& path) {
  for (const CLI::App* sub : app.get_subcommands({})) {
    const std::string name = path + " " + sub->get_name();
    if (!sub->get_subcommands({}).empty()) {
      ManSubcommands(out, *sub, name);
      continue;
    }
    out << ".SS \"" << Roff(name);
    for (const CLI::Option* positional : Positionals(*sub)) {
      out << " " << Roff(positional->get_name());
    }
    out << "\"\n" << Roff(sub->get_description()) << "\n";
    for (const CLI::Option* positional : Positionals(*sub)) {
      out << ".TP\n\\fI" << Roff(positional->get_name()) << "\\fR\n"
          << Roff(positional->get_description()) << "\n";
    }
    ManOptions(out, *sub);
  }
}

// The completion's data for one command path: its subcommands and its options.
void CompletionCases(std::ostream& out, const CLI::App& app, const std::string& path) {
  std::string subs, options;
  for (const CLI::App* sub : app.get_subcommands({})) subs += " " + sub->get_name();
  for (const CLI::Option* option : Named(app)) {
    for (const std::string& name : OptionNames(option)) options += " " + name;
  }
  out << "    \"" << path << "\") subs=\"" << subs << " \"; opts=\"" << options << " \" ;;\n";
  for (const CLI::App* sub : app.get_subcommands({})) {
    CompletionCases(out, *sub, path.empty() ? sub->get_name() : path + " " + sub->get_name());
  }
}

// The names of the options that take a value (all of them) and of those that take a file.
void ValuedOptions(const CLI::App& app, std::string& valued, std::string& files) {
  for (const CLI::Option* option : Named(app)) {
    if (!TakesValue(option)) continue;
    const bool file = option->get_type_name().find("FILE") != std::string::npos;
    for (const std::string& name : OptionNames(option)) {
      valued += " " + name;
      if (file) files += " " + name;
    }
  }
  for (const CLI::App* sub : app.get_subcommands({})) ValuedOptions(*sub, valued, files);
}

}  // namespace

std::string ManPage(const CLI::App& app) {
  std::ostringstream out;
  // The page's footer names the program's version: the first line of --version (the others name
  // the libraries, and a line break would end the .TH request).
  const std::string versionText = VersionText();
  const std::string version = versionText.substr(0, versionText.find('\n'));
  const std::string description = app.get_description();
  const std::size_t colon = description.find(": ");
  out << ".TH CORVANE 1 \"\" \"" << Roff(version) << "\" \"User Commands\"\n"
      << ".SH NAME\ncorvane \\- "
      << Roff(colon == std::string::npos ? description : description.substr(colon + 2)) << "\n"
      << ".SH SYNOPSIS\n\\fBcorvane\\fR [\\fIOPTIONS\\fR] \\fISUBCOMMAND\\fR "
         "[\\fIARGUMENTS\\fR] [\\fIOPTIONS\\fR]\n"
      << ".SH DESCRIPTION\nEvery operation of the library is a subcommand, run through the "
         "gateway against the server that \\fB\\-\\-server\\fR names. Options work before or "
         "after the subcommand; each subcommand has \\fB\\-\\-help\\fR.\n"
      << ".SH OPTIONS\n";
  ManOptions(out, app);
  out << ".SH SUBCOMMANDS\n";
  ManSubcommands(out, app, "corvane");
  out << ".SH NOTES\n.nf\n" << Roff(app.get_footer()) << "\n.fi\n";
  return out.str();
}

std::string BashCompletion(const CLI::App& app) {
  std::string valued, files;
  ValuedOptions(app, valued, files);
  std::ostringstream out;
  out << "# bash completion of corvane, written by `corvane --completion bash`\n"
      << "_corvane() {\n"
      << "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
      << "  local valued=\"" << valued << " \" files=\"" << files << " \"\n"
      << "  local path=\"\" subs opts global i word\n"
      << "  _corvane_at() {\n    case $1 in\n";
  CompletionCases(out, app, "");
  out << "    esac\n  }\n"
      << "  _corvane_at \"\"; global=$opts\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      << "    word=${COMP_WORDS[i]}\n"
      << "    if [[ $valued == *\" $word \"* ]]; then ((i++)); continue; fi\n"
      << "    [[ $word == -* ]] && continue\n"
      << "    _corvane_at \"$path\"\n"
      << "    [[ $subs == *\" $word \"* ]] && path=${path:+$path }$word\n"
      << "  done\n"
      << "  _corvane_at \"$path\"\n"
      << "  if [[ $files == *\" $prev \"* ]]; then\n"
      << "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
      << "  elif [[ $valued == *\" $prev \"* ]]; then\n"
      << "    COMPREPLY=()\n"
      << "  elif [[ $cur == -* ]]; then\n"
      << "    mapfile -t COMPREPLY < <(compgen -W \"$global${path:+ $opts}\" -- \"$cur\")\n"
      << "  else\n"
      << "    mapfile -t COMPREPLY < <(compgen -W \"$subs\" -- \"$cur\")\n"
      << "  fi\n"
      << "}\n"
      << "complete -F _corvane corvane\n";
  return out.str();
}

std::optional<int> WriteGenerated(int argc, char** argv, const CLI::App& app) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words == std::vector<std::string>{"--help-man"}) {
    std::cout << ManPage(app);
    return 0;
  }
  if (words == std::vector<std::string>{"--completion", "bash"}) {
    std::cout << BashCompletion(app);
    return 0;
  }
  return std::nullopt;
}

}  // namespace corvane_cli
