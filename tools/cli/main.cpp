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
//
// The global options are a table (Options.cpp); the subcommands are written from the
// description of the operations (Subcommands.gen.cpp); this file parses, opens the session and
// runs what was asked.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "CommandLine.h"
#include "ConfigFile.h"
#include "Corvane.h"
#include "Credentials.h"
#include "Demo.h"
#include "DemoIds.h"
#include "EmbeddedServer.h"
#include "Manual.h"
#include "Options.h"
#include "Runner.h"
#include "Subcommands.h"
#include "Text.h"
#include "zenta/ZentaSdk.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using corvane_cli::kExitExchange;
using corvane_cli::kExitRefused;
using corvane_cli::kExitUsage;
using corvane_cli::Outcome;
using corvane_cli::Runner;
using corvane_cli::Settings;
using corvane_cli::UsageError;

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

// Standard input, output and error that the caller closed are opened on /dev/null, read-only,
// before anything else opens a descriptor: else the first socket or file would take the number
// and the result would be written into it. A write to them then fails as it would have on the
// closed descriptor, and the client says so and exits 1.
void ReserveStandardDescriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free number, as the ones below are open; without /dev/null nothing the
      // client writes could be trusted to reach its place.
      if (open("/dev/null", O_RDONLY) != fd) std::_Exit(kExitRefused);
    }
  }
#endif
}

// What the command line asks for besides the global options.
struct Request {
  corvane_cli::Arguments arguments;
  corvane_cli::Action action;
  bool demo = false, yes = false;
};

// Parses the command line; the exit status when it ends the program (help, version, an error).
std::optional<int> Parse(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::string unknown = corvane_cli::UnknownWord(argc, argv, app);
    return UsageError(unknown.empty() ? corvane_cli::InOurWords(e) : unknown);
  }
  return std::nullopt;
}

void AddDemo(CLI::App& app, Request& request) {
  CLI::App* sub = corvane_cli::AddSubcommand(
      &app, "demo",
      "run every operation and report: on the simulated server unless a server is given; "
      "a real one needs --yes (the demo sets a speaker's volumes, starts a recording)",
      "corvane demo   (simulated)      corvane --server URL demo --yes");
  sub->add_flag("--yes", request.yes, "go ahead although the demo changes the real server's state");
  sub->callback([&request] { request.demo = true; });
}

// The server to talk to from --server or CORVANE_SERVER ("" for the simulated one); the exit
// status of a usage error when there is none or the demo may not run on it.
std::optional<int> ChooseServer(Settings& s, const Request& request) {
  if (s.serverGiven && s.server.empty()) return UsageError("--server was given an empty URL");
  const char* fromEnvironment = std::getenv("CORVANE_SERVER");
  if (s.server.empty() && !s.simulate && fromEnvironment != nullptr) s.server = fromEnvironment;
  if (s.server.empty() && !s.simulate && !request.demo) {
    return UsageError(
        "no server: give --server URL (or set CORVANE_SERVER), or --simulate to run against a "
        "simulated server with invented data");
  }
  if (!s.server.empty()) s.server = corvane_cli::WithDefaultScheme(s.server);
  corvane_cli::AddUrlSecrets(s.server);  // said nowhere: not in a refusal, -v nor a failure
  if (request.demo && !s.server.empty() && !request.yes) {
    return UsageError("the demo changes the state of " + s.server +
                      ": it sets an IP speaker's volumes and starts a remote recording; add "
                      "--yes to go ahead, or use --simulate");
  }
  return std::nullopt;
}

// Why the session could not open, as the exit status: a URL or an option the gateway refuses
// is the command line's fault; anything else is not.
int SessionFailure(const std::string& server, int status) {
  std::string why =
      "cannot open a session on " + server + ": " + corvane_cli::DescribeStatus(status);
  char detail[512];
  if (ZENTA_LastErrorDetail(detail, static_cast<int>(sizeof detail)) > 0 &&
      std::string(detail) != ZENTA_ErrorText(status)) {
    why += ": " + std::string(detail);
  }
  why = corvane_cli::Redact(why);
  if (status == ZENTA_E_BAD_URL || status == ZENTA_E_UNSUPPORTED_SCHEME ||
      status == ZENTA_E_BAD_OPTION) {
    return UsageError(why);
  }
  std::cerr << "corvane: " << corvane_cli::EscapeControls(why) << "\n";
  return kExitExchange;
}

// Runs the demo or the subcommand on the open session; the exit status.
int Run(Runner& runner, const Settings& s, const Request& request, bool simulated) {
  if (request.demo) {
    // Said first, so that nobody takes the invented data for a real site's.
    std::string where = simulated ? "a simulated platform server (invented data, seed " +
                                        std::to_string(s.seed) + ") at " + s.server
                                  : s.server;
    (s.json ? std::cerr : std::cout)
        << "corvane demo against " << corvane_cli::EscapeControls(corvane_cli::Redact(where))
        << "\n\n";
    try {
      return corvane_cli::RunDemo(runner, corvane_cli::DemoIdsForSeed(s.seed), s.json);
    } catch (const std::runtime_error& e) {
      return UsageError(e.what());  // a seed whose platform lacks an identifier
    }
  }
  if (simulated) std::cerr << "corvane: simulated server (invented data) at " << s.server << "\n";
  Outcome outcome;
  try {
    outcome = request.action(runner);
  } catch (const std::exception& e) {
    // The library passes conversion and JSON errors through; they mean a malformed answer.
    std::cerr << "corvane: the server's answer could not be used: "
              << corvane_cli::EscapeControls(corvane_cli::Redact(e.what())) << "\n";
    return kExitRefused;
  }
  if (!corvane_cli::Print(outcome, s.json)) return kExitRefused;
  const int exitStatus = corvane_cli::ExitStatusOf(outcome.status);
  if (exitStatus == kExitUsage && !s.json) std::cerr << corvane_cli::kUsageHint;
  return exitStatus;
}

}  // namespace

int main(int argc, char** argv) {
  ReserveStandardDescriptors();
  // Named here, so that usage says "corvane" and not the path the binary was run by.
  CLI::App app{"corvane: typed calls onto the platform server's REST interface", "corvane"};
  Settings settings;
  Request request;
  corvane_cli::AddGlobalOptions(app, settings);
  corvane_cli::AddOperationSubcommands(app, request.arguments, request.action);
  AddDemo(app, request);
  // Help, the version, the manual page and the completion are results too: one that could not
  // be written is a failure.
  std::optional<int> status = corvane_cli::WriteGenerated(argc, argv, app);
  if (!status) status = Parse(app, argc, argv);
  if (status) return *status == 0 && !corvane_cli::FlushOutput() ? kExitRefused : *status;
  corvane_cli::NoteGivenOptions(app, settings);
  status = corvane_cli::ApplyConfigFile(corvane_cli::ConfigFilePath(), settings);
  if (status) return *status;
  if (const std::optional<int> status = ChooseServer(settings, request)) return *status;

  const bool simulated = settings.server.empty();
  std::unique_ptr<corvane_cli::EmbeddedServer> embedded;
  if (simulated) {
    std::string why;
    embedded = corvane_cli::EmbeddedServer::Start(settings.seed, &why);
    if (!embedded) {
      std::cerr << "corvane: " << why << "\n";
      return kExitExchange;
    }
    settings.server = embedded->Url();
  }
  if (settings.insecure) {
    std::cerr << "corvane: warning: --insecure: the server's TLS certificate is not verified\n";
  }
  corvane_cli::SessionSetup setup;
  corvane_cli::SetUpSession(settings, settings.server, simulated, setup);
  Session session(settings.server, setup.options);
  if (session.status() != 0) return SessionFailure(settings.server, session.status());
  corvane_cli::CaptureLibraryLog();
  Corvane::SetLangauage(settings.language);
  Corvane::SetTimeZone(settings.timeZone);
  Corvane::SetMacAddress(settings.mac);

  Runner runner(session.handle());
  return Run(runner, settings, request, simulated);
}
