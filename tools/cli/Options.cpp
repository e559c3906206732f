#include "Options.h"

#include <cstdlib>
#include <functional>
#include <iostream>
#include <type_traits>
#include <utility>
#include <variant>

#include "CommandLine.h"
#include "Credentials.h"
#include "Subcommands.h"
#include "Text.h"

namespace corvane_cli {

namespace {

constexpr int kMaxMilliseconds = 3600000;  // an hour: longer waits are a typing error
constexpr const char* kMilliseconds = "0..3600000 (milliseconds)";

// One global option: its names, help, the setting it fills (a bool is a flag), the type shown
// in the help (null: the parser's), whether the help shows its default, and its check.
struct OptionRow {
  using Target = std::variant<std::string*, int*, bool*, std::uint64_t*, std::vector<std::string>*>;
  OptionRow(const char* names, const char* help, Target target, const char* typeName = nullptr,
            bool showDefault = false, std::function<void(CLI::Option*)> check = nullptr)
      : names(names),
        help(help),
        target(target),
        typeName(typeName),
        showDefault(showDefault),
        check(std::move(check)) {}
  const char* names;
  const char* help;
  Target target;
  const char* typeName;
  bool showDefault;
  std::function<void(CLI::Option*)> check;
};

std::function<void(CLI::Option*)> Checked(const CLI::Validator& validator) {
  return [validator](CLI::Option* option) { option->check(validator); };
}

std::vector<OptionRow> OptionTable(Settings& s) {
  return {
      {"--server", "platform server URL, http[s]://host:port[/base] (default: $CORVANE_SERVER)",
       &s.server},
      {"--simulate", "run a simulated platform server in-process and talk to it (invented data)",
       &s.simulate},
      {"--seed", "seed of the simulated platform", &s.seed, nullptr, true,
       Checked(Within(0, 9223372036854775807LL, "0 or more"))},
      {"--lang", "Accept-Language of every request", &s.language, nullptr, true},
      {"--tz", "Time-Zone of every request", &s.timeZone, nullptr, true},
      {"--mac", "client MAC address sent in request bodies", &s.mac, nullptr, true},
      {"--timeout", "whole-request timeout in milliseconds (0: the gateway's 30000)", &s.timeoutMs,
       nullptr, false, Checked(Within(0, kMaxMilliseconds, kMilliseconds))},
      {"--connect-timeout", "connection timeout in milliseconds (0: the gateway's 5000)",
       &s.connectTimeoutMs, nullptr, false, Checked(Within(0, kMaxMilliseconds, kMilliseconds))},
      {"--cacert", "PEM file of the CA(s) that signed the server's certificate", &s.caFile, nullptr,
       false, Checked(CLI::ExistingFile)},
      {"--insecure", "do not verify the server's TLS certificate (self-signed test servers only)",
       &s.insecure},
      {"--json", "machine-readable output: one JSON document per line", &s.json},
      {"--token",
       "send 'Authorization: Bearer TOKEN' with every request (default: $CORVANE_TOKEN; \"\" for "
       "none)",
       &s.token, "TOKEN"},
      {"--token-command",
       "run CMD through the shell for a bearer token (the first line it prints), before the "
       "first request and once more after a 401",
       &s.tokenCommand, "CMD"},
      {"-H,--header", "'Name: value' sent with every request (an API key...); repeatable",
       &s.headers, "\"NAME: VALUE\""},
      {"--cert",
       "client certificate for mutual TLS: a PEM file (Windows: a PFX file, or "
       "store:THUMBPRINT of the user's store)",
       &s.clientCert, "FILE", false, Checked(ExistingFileOr("store:"))},
      {"--key", "PEM file of the client certificate's key (default: in --cert)", &s.clientKey,
       "FILE", false, Checked(CLI::ExistingFile)},
      {"--key-password", "the key's (or PFX file's) password (default: $CORVANE_KEY_PASSWORD)",
       &s.keyPassword, "PASSWORD"},
      {"--proxy",
       "http://host:port of the proxy to use; \"\" for none (default: the environment's "
       "http_proxy, https_proxy, no_proxy; on Windows the system's)",
       &s.proxy, "URL"},
      {"--retry",
       "tries after the first when the server is busy (503, 429, honouring Retry-After) or "
       "unreachable, within --timeout; only GET/HEAD once sent",
       &s.retries, "N", false, Checked(Within(0, 10, "0..10 (tries after the first)"))},
      {"--compressed,!--no-compressed", "ask for gzip-coded answers (the default) or not",
       &s.compressed},
      {"-v,--verbose",
       "on standard error, as curl -v: the address, TLS version and server certificate, the "
       "request's header names, the status line, then one line per exchange and retry "
       "(credentials as ***)",
       &s.verbose},
  };
}

CLI::Option* AddRow(CLI::App& app, const OptionRow& row) {
  CLI::Option* option = std::visit(
      [&](auto* target) -> CLI::Option* {
        using Target = std::remove_pointer_t<decltype(target)>;
        if constexpr (std::is_same_v<Target, bool>) {
          return app.add_flag(row.names, *target, row.help);
        } else {
          CLI::Option* added = app.add_option(row.names, *target, row.help);
          if constexpr (std::is_same_v<Target, std::vector<std::string>>) {
            added->allow_extra_args(false);
          }
          return added;
        }
      },
      row.target);
  if (row.typeName != nullptr) option->type_name(row.typeName);
  if (row.showDefault) option->capture_default_str();
  if (row.check) row.check(option);
  return option;
}

// The global options that name the environment or a credential, as said by -v.
std::string SessionSummary(const Settings& s, const std::string& server,
                           const ZENTA_SessionOptions& options) {
  std::string said = "corvane: session on " + server;
  if (options.tokenCallback != nullptr) said += "; Authorization: Bearer *** (--token-command)";
  if (options.authorization != nullptr) said += "; Authorization: Bearer ***";
  for (const std::string& line : s.headers) said += "; " + MaskedHeader(line);
  if (!s.clientCert.empty()) {
    said += "; client certificate " + s.clientCert;
    if (!s.clientKey.empty()) said += ", key " + s.clientKey;
    if (!s.keyPassword.empty()) said += ", password ***";
  }
  said += options.proxy == nullptr ? "; proxy: the environment's"
          : s.proxy.empty()        ? "; proxy: none"
                                   : "; proxy " + MaskedUrl(s.proxy);
  said += "; " + std::to_string(s.retries) + " retries; " +
          (s.compressed ? "gzip asked" : "no compression asked");
  return said;
}

// The credentials of settings into the session's options, each secret known to the scrubber.
void SetCredentials(Settings& s, SessionSetup& setup) {
  ZENTA_SessionOptions& options = setup.options;
  const char* tokenFromEnvironment = std::getenv("CORVANE_TOKEN");
  if (!s.tokenGiven && tokenFromEnvironment != nullptr) s.token = tokenFromEnvironment;
  const char* passwordFromEnvironment = std::getenv("CORVANE_KEY_PASSWORD");
  if (!s.passwordGiven && passwordFromEnvironment != nullptr) {
    s.keyPassword = passwordFromEnvironment;
  }
  if (!s.tokenCommand.empty()) {
    SetTokenCommand(s.tokenCommand, s.verbose);
    options.tokenCallback = TokenFromCommand;
  } else if (!s.token.empty()) {
    setup.authorization = "Bearer " + s.token;
    AddSecret(s.token);
    options.authorization = setup.authorization.c_str();
  }
  for (const std::string& line : s.headers) {
    AddCredentialHeader(line);
    setup.headerLines.push_back(line.c_str());
  }
  setup.headerLines.push_back(nullptr);
  options.headers = setup.headerLines.data();
  if (!s.clientCert.empty()) options.clientCert = s.clientCert.c_str();
  if (!s.clientKey.empty()) options.clientKey = s.clientKey.c_str();
  if (!s.keyPassword.empty()) {
    AddSecret(s.keyPassword);
    options.clientKeyPassword = s.keyPassword.c_str();
  }
}

// The gateway's trace lines as curl -v shows its own: "* " before what the gateway says of an
// exchange, its "> " (sent) and "< " (received) lines as they come; every secret masked and
// every control byte escaped, one write per line.
void TraceToStandardError(void*, const char* line) {
  std::string text = line;
  const bool marked =
      text.size() >= 2 && text[1] == ' ' && (text[0] == '*' || text[0] == '>' || text[0] == '<');
  if (!marked) text = "* " + text;
  std::cerr << EscapeControls(Redact(text)) + "\n";
}

}  // namespace

void AddGlobalOptions(CLI::App& app, Settings& settings) {
  app.require_subcommand(1);
  app.fallthrough();  // global options also after the subcommand, as in curl and gh
  app.set_version_flag("--version", VersionText());
  app.footer(kCliFooter);
  for (const OptionRow& row : OptionTable(settings)) AddRow(app, row);
  app.get_option("--simulate")->excludes(app.get_option("--server"));
  app.get_option("--token-command")->excludes(app.get_option("--token"));
  app.get_option("--key")->needs(app.get_option("--cert"));
  app.get_option("--key-password")->needs(app.get_option("--cert"));
}

void NoteGivenOptions(const CLI::App& app, Settings& settings) {
  settings.serverGiven = app.get_option("--server")->count() > 0;
  settings.tokenGiven = app.get_option("--token")->count() > 0;
  settings.passwordGiven = app.get_option("--key-password")->count() > 0;
  settings.proxyGiven = app.get_option("--proxy")->count() > 0;
}

void SetUpSession(Settings& s, const std::string& server, bool simulated, SessionSetup& setup) {
  ZENTA_SessionOptions& options = setup.options;
  options.structSize = sizeof options;
  options.requestTimeoutMs = s.timeoutMs;
  options.connectTimeoutMs = s.connectTimeoutMs;
  options.verifyTls = s.insecure ? 2 : 0;
  options.caFile = s.caFile.c_str();
  SetCredentials(s, setup);
  // curl's reading of a proxy without a scheme; "" is no proxy, no option the environment's.
  // The in-process server is reached directly: a proxy of the environment could not reach it.
  if (s.proxyGiven || (s.proxyConfigured && !simulated)) {
    if (!s.proxy.empty()) s.proxy = WithDefaultScheme(s.proxy);
    options.proxy = s.proxy.c_str();
  } else if (simulated) {
    options.proxy = "";
  }
  options.retries = s.retries;
  options.compression = s.compressed ? 0 : 2;
  if (s.verbose) {
    options.trace = 3;  // verbose: as curl -v, on standard error through the client
    ZENTA_SetTraceSink(TraceToStandardError, nullptr);
    std::cerr << EscapeControls(Redact(SessionSummary(s, server, options))) << "\n";
  }
}

}  // namespace corvane_cli
