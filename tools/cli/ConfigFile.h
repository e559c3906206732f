// The client's optional configuration file: defaults for the server, the CA file and the proxy,
// so that an operator names them once. The command line wins over it, and CORVANE_SERVER too.
#ifndef CORVANE_CLI_CONFIGFILE_H
#define CORVANE_CLI_CONFIGFILE_H

#include <optional>
#include <string>

#include "Options.h"

namespace corvane_cli {

// $XDG_CONFIG_HOME/corvane/config, else $HOME/.config/corvane/config; "" when neither variable
// is set.
std::string ConfigFilePath();

// Reads the file at path, when there is one: lines "server = URL", "cacert = FILE" and
// "proxy = URL" ("" for none), blank lines and lines starting with '#'. Each fills its setting
// unless the command line gave it (or, for the server, CORVANE_SERVER or --simulate is there).
// The exit status of a usage error for a file that cannot be read, an unknown word, a line
// without '=', or a CA file that does not exist.
std::optional<int> ApplyConfigFile(const std::string& path, Settings& settings);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_CONFIGFILE_H
