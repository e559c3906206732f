// The client's global options: one table from which the parser and --help are made, and the
// gateway session they describe.
#ifndef CORVANE_CLI_OPTIONS_H
#define CORVANE_CLI_OPTIONS_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "zenta/ZentaSdk.h"

namespace corvane_cli {

// What the global options hold once the command line is parsed.
struct Settings {
  std::string server, language = "en-US", timeZone = "UTC", mac = "00:00:00:00:00:00", caFile;
  int timeoutMs = 0, connectTimeoutMs = 0;
  bool json = false, simulate = false, insecure = false;
  std::uint64_t seed = 1;
  // What a real deployment asks for, each into its session option.
  std::string token, tokenCommand, clientCert, clientKey, keyPassword, proxy;
  std::vector<std::string> headers;
  int retries = 0;
  bool compressed = true, verbose = false;
  // Whether the option was on the command line (an empty value then means "none").
  bool serverGiven = false, tokenGiven = false, passwordGiven = false, proxyGiven = false;
  bool proxyConfigured = false;  // the configuration file named the proxy (not for --simulate)
};

// The program's description, footer and the global options of the table, bound to settings.
void AddGlobalOptions(CLI::App& app, Settings& settings);

// Notes which options the command line gave (Settings' *Given) after parsing.
void NoteGivenOptions(const CLI::App& app, Settings& settings);

// The gateway session's options, and what they point into (alive as long as the options are).
struct SessionSetup {
  ZENTA_SessionOptions options{};
  std::string authorization;
  std::vector<const char*> headerLines;
};

// Fills setup from settings for a session on server (simulated: the in-process server, reached
// directly); takes the token and the key's password from the environment when not given, and
// registers every secret with the scrubber. With -v, switches tracing on and says on standard
// error what the session will send (secrets as ***).
void SetUpSession(Settings& settings, const std::string& server, bool simulated,
                  SessionSetup& setup);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_OPTIONS_H
