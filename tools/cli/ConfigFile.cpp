#include "ConfigFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "CommandLine.h"

namespace corvane_cli {
namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

// A value as written, or without the double quotes around it ("" names no proxy).
std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string ConfigFilePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') return std::string(xdg) + "/corvane/config";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.config/corvane/config";
  return "";
}

std::optional<int> ApplyConfigFile(const std::string& path, Settings& s) {
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(path, error)) return std::nullopt;
  std::ifstream file(path);
  if (!file) return UsageError("cannot read the configuration file " + path);
  const bool serverElsewhere =
      s.serverGiven || s.simulate || std::getenv("CORVANE_SERVER") != nullptr;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    const std::string where = path + " line " + std::to_string(number) + ": ";
    if (equals == std::string::npos) return UsageError(where + "not 'name = value'");
    const std::string name = Trimmed(line.substr(0, equals));
    const std::string value = Unquoted(Trimmed(line.substr(equals + 1)));
    if (name == "server") {
      if (!serverElsewhere) s.server = value;
    } else if (name == "cacert") {
      if (!s.caFile.empty()) continue;
      if (!std::ifstream(value)) return UsageError(where + "file does not exist: " + value);
      s.caFile = value;
    } else if (name == "proxy") {
      if (s.proxyGiven) continue;
      s.proxy = value;
      s.proxyConfigured = true;
    } else {
      return UsageError(where + "unknown setting '" + name + "' (server, cacert or proxy)");
    }
  }
  return std::nullopt;
}

}  // namespace corvane_cli
