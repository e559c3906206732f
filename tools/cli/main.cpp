// corvane: the command-line client. Every operation of the library is a subcommand, run through
// the real HTTP gateway against the server that --server (or CORVANE_SERVER) names. It never
// invents data: the simulated platform server runs in-process only with --simulate, or for
// `corvane demo` without a server, and then says so.
//
// Results go to standard output only on success; a failure prints nothing there and tells on
// standard error what failed, in the library's and the server's words. Exit status: 0 success,
// 1 the server refused, its answer was unreadable or the result could not be written, 2 bad
// arguments or no server, 3 the exchange failed (no connection, timeout, TLS, protocol, HTTP).
//
// Credentials (a token, a token command's output, a key's password, credential headers) never
// reach any output: -v shows them as ***, and every message passes Redact.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corvane.h"
#include "Credentials.h"
#include "Demo.h"
#include "DemoIds.h"
#include "EmbeddedServer.h"
#include "Runner.h"
#include "Text.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane_cli::kExitExchange;
using corvane_cli::kExitRefused;
using corvane_cli::kExitUsage;
using corvane_cli::Outcome;
using corvane_cli::Runner;

constexpr int kMaxMilliseconds = 3600000;  // an hour: longer waits are a typing error
constexpr const char* kMilliseconds = "0..3600000 (milliseconds)";
// The library sends volumes as given and leaves their range to the server.
constexpr int kMaxVolume = 2147483647;

std::string VersionText() {
  return "corvane " + std::to_string(CORVANE_VERSION_MAJOR) + "." +
         std::to_string(CORVANE_VERSION_MINOR) + "." + std::to_string(CORVANE_VERSION_PATCH);
}

// A whole number from low to high, refused with a message that names the range and its unit.
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

// Says what is wrong with the command line, in the one voice of every argument error, and
// returns the exit status of a usage error.
constexpr const char* kUsageHint = "Run 'corvane --help' for usage.\n";
int UsageError(const std::string& what) {
  std::cerr << "corvane: " << corvane_cli::EscapeControls(what) << "\n" << kUsageHint;
  return kExitUsage;
}

// A word in lower case when it is an ordinary capitalised word ("File", "A", not "CHANNEL").
void LowerWordAt(std::string& text, std::size_t at) {
  if (at + 1 < text.size() && std::isupper(static_cast<unsigned char>(text[at])) &&
      (std::islower(static_cast<unsigned char>(text[at + 1])) || text[at + 1] == ' ')) {
    text[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
  }
}

// The parser's messages said as the client says its own: lower case, the option first.
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

// An open gateway session, closed when the object goes.
class Session {
 public:
  explicit Session(const std::string& url, const ZENTA_SessionOptions& options) {
    status_ = ZENTA_OpenSession(url.c_str(), &options, &handle_);
  }
  ~Session() {
    if (status_ == 0) ZENTA_CloseSession(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  int status() const { return status_; }
  int handle() const { return handle_; }

 private:
  int status_ = 0;
  int handle_ = 0;
};

// The subcommand word the parser could not place, with the command it was meant for ("" when
// every word names a subcommand): walks the words as the parser does, skipping options and
// their values.
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

}  // namespace

int main(int argc, char** argv) {
  // Named here, so that usage says "corvane" and not the path the binary was run by.
  CLI::App app{"corvane: typed calls onto the platform server's REST interface", "corvane"};
  app.require_subcommand(1);
  app.fallthrough();  // global options also after the subcommand, as in curl and gh
  app.set_version_flag("--version", VersionText());
  app.footer(
      "The server comes from --server, else from the environment variable CORVANE_SERVER;\n"
      "--simulate runs a simulated platform server in-process instead.\n"
      "A URL without a scheme means http:// (127.0.0.1:8080 is http://127.0.0.1:8080).\n"
      "Exit status: 0 success; 1 the server refused, its answer was unreadable or the result\n"
      "could not be written; 2 bad arguments or no server; 3 the exchange failed (no\n"
      "connection, timeout, TLS, protocol, an HTTP error status such as a 401 without a JSON\n"
      "answer; a failed --token-command).\n"
      "A token comes from --token, else from the environment variable CORVANE_TOKEN, or from\n"
      "--token-command; a key's password from --key-password, else CORVANE_KEY_PASSWORD.\n"
      "Examples:\n"
      "  corvane --server https://vms.example:8443 ptz-trails D1001-C01\n"
      "  CORVANE_SERVER=http://10.0.0.5:8080 corvane speaker-volume get D2001-C01 --json\n"
      "  corvane --simulate demo\n"
      "  corvane --server https://vms.example:8443 --token-command 'vault read -field=token "
      "vms' pos-config -v\n");

  std::string server, language = "en-US", timeZone = "UTC", mac = "00:00:00:00:00:00", caFile;
  int timeoutMs = 0, connectTimeoutMs = 0;
  bool json = false, simulate = false, insecure = false, yes = false;
  std::uint64_t seed = 1;
  auto* serverOption =
      app.add_option("--server", server,
                     "platform server URL, http[s]://host:port[/base] (default: $CORVANE_SERVER)");
  app.add_flag("--simulate", simulate,
               "run a simulated platform server in-process and talk to it (invented data)")
      ->excludes(serverOption);
  app.add_option("--seed", seed, "seed of the simulated platform")
      ->capture_default_str()
      ->check(Within(0, 9223372036854775807LL, "0 or more"));
  app.add_option("--lang", language, "Accept-Language of every request")->capture_default_str();
  app.add_option("--tz", timeZone, "Time-Zone of every request")->capture_default_str();
  app.add_option("--mac", mac, "client MAC address sent in request bodies")->capture_default_str();
  app.add_option("--timeout", timeoutMs,
                 "whole-request timeout in milliseconds (0: the gateway's 30000)")
      ->check(Within(0, kMaxMilliseconds, kMilliseconds));
  app.add_option("--connect-timeout", connectTimeoutMs,
                 "connection timeout in milliseconds (0: the gateway's 5000)")
      ->check(Within(0, kMaxMilliseconds, kMilliseconds));
  app.add_option("--cacert", caFile, "PEM file of the CA(s) that signed the server's certificate")
      ->check(CLI::ExistingFile);
  app.add_flag("--insecure", insecure,
               "do not verify the server's TLS certificate (self-signed test servers only)");
  app.add_flag("--json", json, "machine-readable output: one JSON document per line");

  // What a real deployment asks for, each into its session option.
  std::string token, tokenCommand, clientCert, clientKey, keyPassword, proxy;
  std::vector<std::string> headers;
  int retries = 0;
  bool compressed = true, verbose = false;
  auto* tokenOption = app.add_option("--token", token,
                                     "send 'Authorization: Bearer TOKEN' with every request "
                                     "(default: $CORVANE_TOKEN; \"\" for none)")
                          ->type_name("TOKEN");
  app.add_option("--token-command", tokenCommand,
                 "run CMD through the shell for a bearer token (the first line it prints), "
                 "before the first request and once more after a 401")
      ->type_name("CMD")
      ->excludes(tokenOption);
  app.add_option("-H,--header", headers,
                 "'Name: value' sent with every request (an API key...); repeatable")
      ->type_name("\"NAME: VALUE\"")
      ->allow_extra_args(false);
  auto* certOption =
      app.add_option("--cert", clientCert,
                     "client certificate for mutual TLS: a PEM file (Windows: a PFX file, or "
                     "store:THUMBPRINT of the user's store)")
          ->type_name("FILE");
  app.add_option("--key", clientKey,
                 "PEM file of the client certificate's key (default: in --cert)")
      ->type_name("FILE")
      ->needs(certOption);
  auto* passwordOption =
      app.add_option("--key-password", keyPassword,
                     "the key's (or PFX file's) password (default: $CORVANE_KEY_PASSWORD)")
          ->type_name("PASSWORD")
          ->needs(certOption);
  auto* proxyOption =
      app.add_option(
             "--proxy", proxy,
             "http://host:port of the proxy to use; \"\" for none (default: the environment's "
             "http_proxy, https_proxy, no_proxy; on Windows the system's)")
          ->type_name("URL");
  app.add_option("--retry", retries,
                 "tries after the first when the server is busy (503, 429, honouring "
                 "Retry-After) or unreachable, within --timeout; only GET/HEAD once sent")
      ->type_name("N")
      ->check(Within(0, 10, "0..10 (tries after the first)"));
  app.add_flag("--compressed,!--no-compressed", compressed,
               "ask for gzip-coded answers (the default) or not");
  app.add_flag("-v,--verbose", verbose,
               "one line on standard error per exchange and per retry (credentials as ***)");

  // Each subcommand stores what it will run; the session is opened once parsing succeeded.
  std::function<Outcome(Runner&)> action;
  bool demo = false;
  std::string id, output, alarmCode, alarmDateText;
  std::vector<std::string> ids;
  int tag = 0, speaker = -1, microphone = -1, streamType = 0, duration = 60, type = 0;
  long long alarmDate = 0;
  auto add = [&](CLI::App* parent, const char* name, const char* what, const char* example) {
    CLI::App* sub = parent->add_subcommand(name, what);
    sub->footer(std::string("Example:\n  ") + example);
    return sub;
  };

  auto* sub = add(&app, "ai-privacy", "AI privacy switch (enable: 0 or 1)", "corvane ai-privacy");
  sub->callback([&] { action = [](Runner& r) { return r.AIPrivacy(); }; });

  sub = add(&app, "web-enablement", "whether web access is enabled for a device",
            "corvane web-enablement D1001");
  sub->add_option("DEVICE", id, "device id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.WebEnablement(id); }; });

  sub = add(&app, "channel-web-enablement", "whether web access is enabled for a channel",
            "corvane channel-web-enablement D1001-C01");
  sub->add_option("CHANNEL", id, "channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.ChannelWebEnablement(id); }; });

  sub = add(&app, "picture", "download a device picture",
            "corvane picture P0001 -o picture.png   (-o - writes it to standard output)");
  sub->add_option("ID", id, "picture id")->required();
  sub->add_option("-o,--output", output, "file to write the picture to; - for standard output");
  sub->add_option("--tag", tag, "a number copied into the result")
      ->check(Within(-2147483647LL - 1, 2147483647, "a whole number"));
  sub->callback([&] { action = [&](Runner& r) { return r.Picture(id, tag, output); }; });

  auto* volume = add(&app, "speaker-volume", "IP-speaker volumes, in percent",
                     "corvane speaker-volume get D2001-C01");
  volume->require_subcommand(1);
  sub = add(volume, "get", "read a channel's volumes (percent)",
            "corvane speaker-volume get D2001-C01");
  sub->add_option("CHANNEL", id, "IP-speaker channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.SpeakerVolumeGet(id); }; });
  sub = add(volume, "set", "change a channel's volumes; an omitted one stays as it is",
            "corvane speaker-volume set D2001-C01 --speaker 30 --mic 40");
  sub->add_option("CHANNEL", id, "IP-speaker channel id")->required();
  auto* speakerOption = sub->add_option("--speaker", speaker,
                                        "speaker volume in percent (the server decides the "
                                        "range it accepts, usually 0..100)")
                            ->check(Within(0, kMaxVolume, "0 or more (percent)"));
  auto* micOption = sub->add_option("--mic", microphone, "microphone volume in percent")
                        ->check(Within(0, kMaxVolume, "0 or more (percent)"));
  sub->callback([&, speakerOption, micOption] {
    if (speakerOption->count() == 0 && micOption->count() == 0) {
      throw CLI::ValidationError("speaker-volume set", "give --speaker, --mic or both");
    }
    action = [&](Runner& r) { return r.SpeakerVolumeSet(id, speaker, microphone); };
  });

  sub = add(&app, "audio-files", "audio files of an IP-speaker channel",
            "corvane audio-files D2001-C01");
  sub->add_option("CHANNEL", id, "IP-speaker channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.AudioFiles(id); }; });

  sub = add(&app, "same-audio-files", "audio files shared by several channels",
            "corvane same-audio-files D2001-C01 D2001-C02");
  sub->add_option("CHANNELS", ids, "IP-speaker channel ids")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.SameAudioFiles(ids); }; });

  sub = add(&app, "alarm-contacts", "device contacts of an alarm record",
            "corvane alarm-contacts ALM-0001 1700000000000");
  sub->add_option("CODE", alarmCode, "alarm code")->required();
  sub->add_option("DATE", alarmDateText,
                  "alarm date: epoch milliseconds or ISO 8601 (2024-03-19, "
                  "2024-03-19T10:00:00+01:00; UTC without an offset)")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return corvane_cli::ParseDate(text)
                       ? ""
                       : "'" + text +
                             "' is not a date: give epoch milliseconds or ISO 8601 "
                             "(2024-03-19T10:00:00Z)";
          },
          "DATE"));
  sub->callback([&] {
    alarmDate = *corvane_cli::ParseDate(alarmDateText);
    action = [&](Runner& r) { return r.AlarmContacts(alarmCode, alarmDate); };
  });

  sub = add(&app, "ptz-trails", "PTZ trails of a camera channel", "corvane ptz-trails D1001-C01");
  sub->add_option("CHANNEL", id, "channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.PtzTrails(id); }; });

  sub = add(&app, "record-start", "start a remote recording (changes the server's state)",
            "corvane record-start D1001-C01 --duration 120");
  sub->add_option("CHANNEL", id, "channel id")->required();
  sub->add_option("--stream", streamType, "stream type: 0 main, 1 sub")
      ->capture_default_str()
      ->check(Within(0, 2147483647, "0 or more"));
  sub->add_option("--duration", duration, "duration in seconds")
      ->capture_default_str()
      ->check(Within(0, 86400, "0..86400 (seconds)"));
  sub->callback(
      [&] { action = [&](Runner& r) { return r.RecordStart(id, streamType, duration); }; });

  sub = add(&app, "pos-config", "POS playback time (seconds)", "corvane pos-config");
  sub->callback([&] { action = [](Runner& r) { return r.PosConfig(); }; });

  sub = add(&app, "pos-events", "POS event names (dictionary 9052)", "corvane pos-events");
  sub->callback([&] { action = [](Runner& r) { return r.PosEvents(); }; });

  sub = add(&app, "dictionary-map", "integer mapping of a dictionary type",
            "corvane dictionary-map 3");
  sub->add_option("TYPE", type, "dictionary type")
      ->required()
      ->check(Within(-2147483647LL - 1, 2147483647, "a whole number"));
  sub->callback([&] { action = [&](Runner& r) { return r.DictionaryMap(type); }; });

  sub = add(&app, "demo",
            "run every operation and report: on the simulated server unless a server is given; "
            "a real one needs --yes (the demo sets a speaker's volumes, starts a recording)",
            "corvane demo   (simulated)      corvane --server URL demo --yes");
  sub->add_flag("--yes", yes, "go ahead although the demo changes the real server's state");
  sub->callback([&] { demo = true; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::string unknown = UnknownSubcommand(argc, argv, app);
    return UsageError(unknown.empty() ? InOurWords(e) : unknown);
  }

  if (serverOption->count() > 0 && server.empty()) {
    return UsageError("--server was given an empty URL");
  }
  const char* fromEnvironment = std::getenv("CORVANE_SERVER");
  if (server.empty() && !simulate && fromEnvironment != nullptr) server = fromEnvironment;
  if (server.empty() && !simulate && !demo) {
    return UsageError(
        "no server: give --server URL (or set CORVANE_SERVER), or --simulate to run against a "
        "simulated server with invented data");
  }
  const bool simulated = server.empty();
  if (!simulated) server = corvane_cli::WithDefaultScheme(server);
  if (demo && !simulated && !yes) {
    return UsageError("the demo changes the state of " + server +
                      ": it sets an IP speaker's volumes and starts a remote recording; add "
                      "--yes to go ahead, or use --simulate");
  }
  std::unique_ptr<corvane_cli::EmbeddedServer> embedded;
  if (simulated) {
    std::string why;
    embedded = corvane_cli::EmbeddedServer::Start(seed, &why);
    if (!embedded) {
      std::cerr << "corvane: " << why << "\n";
      return kExitExchange;
    }
    server = embedded->Url();
  }
  if (insecure) {
    std::cerr << "corvane: warning: --insecure: the server's TLS certificate is not verified\n";
  }
  ZENTA_SessionOptions options{};
  options.structSize = sizeof options;
  options.requestTimeoutMs = timeoutMs;
  options.connectTimeoutMs = connectTimeoutMs;
  options.verifyTls = insecure ? 2 : 0;
  options.caFile = caFile.c_str();

  const char* tokenFromEnvironment = std::getenv("CORVANE_TOKEN");
  if (tokenOption->count() == 0 && tokenFromEnvironment != nullptr) token = tokenFromEnvironment;
  const char* passwordFromEnvironment = std::getenv("CORVANE_KEY_PASSWORD");
  if (passwordOption->count() == 0 && passwordFromEnvironment != nullptr) {
    keyPassword = passwordFromEnvironment;
  }
  std::string authorization;
  if (!tokenCommand.empty()) {
    corvane_cli::SetTokenCommand(tokenCommand, verbose);
    options.tokenCallback = corvane_cli::TokenFromCommand;
  } else if (!token.empty()) {
    authorization = "Bearer " + token;
    corvane_cli::AddSecret(token);
    options.authorization = authorization.c_str();
  }
  std::vector<const char*> headerLines;
  for (const std::string& line : headers) {
    corvane_cli::AddCredentialHeader(line);
    headerLines.push_back(line.c_str());
  }
  headerLines.push_back(nullptr);
  options.headers = headerLines.data();
  if (!clientCert.empty()) options.clientCert = clientCert.c_str();
  if (!clientKey.empty()) options.clientKey = clientKey.c_str();
  if (!keyPassword.empty()) {
    corvane_cli::AddSecret(keyPassword);
    options.clientKeyPassword = keyPassword.c_str();
  }
  // curl's reading of a proxy without a scheme; "" is no proxy, no option the environment's.
  // The in-process server is reached directly: a proxy of the environment could not reach it.
  if (proxyOption->count() > 0) {
    if (!proxy.empty()) proxy = corvane_cli::WithDefaultScheme(proxy);
    options.proxy = proxy.c_str();
  } else if (simulated) {
    options.proxy = "";
  }
  options.retries = retries;
  options.compression = compressed ? 0 : 2;
  if (verbose) {
    options.trace = 1;
    std::string said = "corvane: session on " + server;
    if (options.tokenCallback != nullptr) said += "; Authorization: Bearer *** (--token-command)";
    if (options.authorization != nullptr) said += "; Authorization: Bearer ***";
    for (const std::string& line : headers) said += "; " + corvane_cli::MaskedHeader(line);
    if (!clientCert.empty()) {
      said += "; client certificate " + clientCert;
      if (!clientKey.empty()) said += ", key " + clientKey;
      if (!keyPassword.empty()) said += ", password ***";
    }
    said += options.proxy == nullptr ? "; proxy: the environment's"
            : proxy.empty()          ? "; proxy: none"
                                     : "; proxy " + corvane_cli::MaskedUrl(proxy);
    said += "; " + std::to_string(retries) + " retries; " +
            (compressed ? "gzip asked" : "no compression asked");
    std::cerr << corvane_cli::EscapeControls(corvane_cli::Redact(said)) << "\n";
  }
  Session session(server, options);
  if (session.status() != 0) {
    std::string why =
        "cannot open a session on " + server + ": " + corvane_cli::DescribeStatus(session.status());
    char detail[512];
    if (ZENTA_LastErrorDetail(detail, static_cast<int>(sizeof detail)) > 0 &&
        std::string(detail) != ZENTA_ErrorText(session.status())) {
      why += ": " + corvane_cli::Redact(detail);
    }
    // A URL or an option the gateway refuses is the command line's fault; anything else is not.
    const int status = session.status();
    if (status == ZENTA_E_BAD_URL || status == ZENTA_E_UNSUPPORTED_SCHEME ||
        status == ZENTA_E_BAD_OPTION) {
      return UsageError(why);
    }
    std::cerr << "corvane: " << corvane_cli::EscapeControls(why) << "\n";
    return kExitExchange;
  }
  corvane_cli::CaptureLibraryLog();
  Corvane::SetLangauage(language);
  Corvane::SetTimeZone(timeZone);
  Corvane::SetMacAddress(mac);

  Runner runner(session.handle());
  if (demo) {
    // Said first, so that nobody takes the invented data for a real site's.
    std::string where = simulated ? "a simulated platform server (invented data, seed " +
                                        std::to_string(seed) + ") at " + server
                                  : server;
    (json ? std::cerr : std::cout)
        << "corvane demo against " << corvane_cli::EscapeControls(where) << "\n\n";
    try {
      return corvane_cli::RunDemo(runner, corvane_cli::DemoIdsForSeed(seed), json);
    } catch (const std::runtime_error& e) {
      return UsageError(e.what());  // a seed whose platform lacks an identifier
    }
  }
  if (simulated) std::cerr << "corvane: simulated server (invented data) at " << server << "\n";
  Outcome outcome;
  try {
    outcome = action(runner);
  } catch (const std::exception& e) {
    // The library passes conversion and JSON errors through; they mean a malformed answer.
    std::cerr << "corvane: the server's answer could not be used: "
              << corvane_cli::EscapeControls(e.what()) << "\n";
    return kExitRefused;
  }
  if (!corvane_cli::Print(outcome, json)) return kExitRefused;
  const int exitStatus = corvane_cli::ExitStatusOf(outcome.status);
  if (exitStatus == kExitUsage && !json) std::cerr << kUsageHint;
  return exitStatus;
}
