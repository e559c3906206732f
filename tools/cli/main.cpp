// corvane: the command-line client. Every operation of the library is a subcommand; without
// --server the client starts the simulated platform server in-process and talks to it over
// loopback through the real HTTP gateway.
//
// Exit status: 0 success, 1 the operation returned a non-zero status, 2 bad arguments or no
// session could be opened.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Corvane.h"
#include "Demo.h"
#include "DemoIds.h"
#include "EmbeddedServer.h"
#include "Runner.h"
#include "zenta/ZentaSdk.h"

namespace {

using corvane_cli::Outcome;
using corvane_cli::Runner;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string VersionText() {
  return "corvane " + std::to_string(CORVANE_VERSION_MAJOR) + "." +
         std::to_string(CORVANE_VERSION_MINOR) + "." + std::to_string(CORVANE_VERSION_PATCH);
}

// An open gateway session, closed when the object goes.
class Session {
 public:
  Session(const std::string& url, int timeoutMs) {
    ZENTA_SessionOptions options{};
    options.structSize = sizeof options;
    options.requestTimeoutMs = timeoutMs;
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"corvane: typed calls onto the platform server's REST interface"};
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionText());

  std::string server, language = "en-US", timeZone = "UTC", mac = "00:00:00:00:00:00";
  int timeoutMs = 0;
  bool json = false;
  std::uint64_t seed = 1;
  app.add_option("--server", server,
                 "Platform server URL (http[s]://host:port[/base]); without it a simulated "
                 "server is started in-process");
  app.add_option("--lang", language, "Accept-Language of every request")->capture_default_str();
  app.add_option("--tz", timeZone, "Time-Zone of every request")->capture_default_str();
  app.add_option("--mac", mac, "client MAC address sent in request bodies")->capture_default_str();
  app.add_option("--timeout", timeoutMs, "whole-request timeout in milliseconds (0: 30000)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--json", json, "machine-readable output: one JSON document per line");

  // Each subcommand stores what it will run; the session is opened once parsing succeeded.
  std::function<Outcome(Runner&)> action;
  bool demo = false;
  std::string id, output, alarmCode;
  std::vector<std::string> ids;
  int tag = 0, speaker = -1, microphone = -1, streamType = 0, duration = 60, type = 0;
  long long alarmDate = 0;

  auto* sub = app.add_subcommand("ai-privacy", "AI privacy switch");
  sub->callback([&] { action = [](Runner& r) { return r.AIPrivacy(); }; });

  sub = app.add_subcommand("web-enablement", "whether web access is enabled for a device");
  sub->add_option("DEVICE", id, "device id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.WebEnablement(id); }; });

  sub = app.add_subcommand("channel-web-enablement", "whether web access is enabled for a channel");
  sub->add_option("CHANNEL", id, "channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.ChannelWebEnablement(id); }; });

  sub = app.add_subcommand("picture", "download a device picture");
  sub->add_option("ID", id, "picture id")->required();
  sub->add_option("-o,--output", output, "file to write the picture to");
  sub->add_option("--tag", tag, "a number copied into the result");
  sub->callback([&] { action = [&](Runner& r) { return r.Picture(id, tag, output); }; });

  auto* volume = app.add_subcommand("speaker-volume", "IP-speaker volumes");
  volume->require_subcommand(1);
  sub = volume->add_subcommand("get", "read a channel's volumes");
  sub->add_option("CHANNEL", id, "IP-speaker channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.SpeakerVolumeGet(id); }; });
  sub = volume->add_subcommand("set", "change a channel's volumes (omitted ones stay)");
  sub->add_option("CHANNEL", id, "IP-speaker channel id")->required();
  sub->add_option("--speaker", speaker, "speaker volume")->check(CLI::NonNegativeNumber);
  sub->add_option("--mic", microphone, "microphone volume")->check(CLI::NonNegativeNumber);
  sub->callback(
      [&] { action = [&](Runner& r) { return r.SpeakerVolumeSet(id, speaker, microphone); }; });

  sub = app.add_subcommand("audio-files", "audio files of an IP-speaker channel");
  sub->add_option("CHANNEL", id, "IP-speaker channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.AudioFiles(id); }; });

  sub = app.add_subcommand("same-audio-files", "audio files shared by several channels");
  sub->add_option("CHANNELS", ids, "IP-speaker channel ids")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.SameAudioFiles(ids); }; });

  sub = app.add_subcommand("alarm-contacts", "device contacts of an alarm record");
  sub->add_option("CODE", alarmCode, "alarm code")->required();
  sub->add_option("DATE", alarmDate, "alarm date (a number)")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.AlarmContacts(alarmCode, alarmDate); }; });

  sub = app.add_subcommand("ptz-trails", "PTZ trails of a camera channel");
  sub->add_option("CHANNEL", id, "channel id")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.PtzTrails(id); }; });

  sub = app.add_subcommand("record-start", "start a remote recording");
  sub->add_option("CHANNEL", id, "channel id")->required();
  sub->add_option("--stream", streamType, "stream type")->capture_default_str();
  sub->add_option("--duration", duration, "duration")->capture_default_str();
  sub->callback(
      [&] { action = [&](Runner& r) { return r.RecordStart(id, streamType, duration); }; });

  sub = app.add_subcommand("pos-config", "POS playback time");
  sub->callback([&] { action = [](Runner& r) { return r.PosConfig(); }; });

  sub = app.add_subcommand("pos-events", "POS event names (dictionary 9052)");
  sub->callback([&] { action = [](Runner& r) { return r.PosEvents(); }; });

  sub = app.add_subcommand("dictionary-map", "integer mapping of a dictionary type");
  sub->add_option("TYPE", type, "dictionary type")->required();
  sub->callback([&] { action = [&](Runner& r) { return r.DictionaryMap(type); }; });

  sub = app.add_subcommand("demo", "run every operation and report");
  sub->add_option("--seed", seed,
                  "seed of the simulated platform (the embedded one, or the one --server runs)")
      ->capture_default_str();
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
    std::cerr << "corvane: " << e.what() << "\nRun with --help for usage.\n";
    return kExitUsage;
  }

  std::unique_ptr<corvane_cli::EmbeddedServer> embedded;
  if (server.empty()) {
    std::string why;
    embedded = corvane_cli::EmbeddedServer::Start(seed, &why);
    if (!embedded) {
      std::cerr << "corvane: " << why << "\n";
      return kExitUsage;
    }
    server = embedded->Url();
  }
  Session session(server, timeoutMs);
  if (session.status() != 0) {
    std::cerr << "corvane: cannot open a session on " << server << ": "
              << corvane_cli::DescribeStatus(session.status()) << "\n";
    return kExitUsage;
  }
  Corvane::SetLangauage(language);
  Corvane::SetTimeZone(timeZone);
  Corvane::SetMacAddress(mac);

  Runner runner(session.handle());
  if (demo) {
    if (!json) std::cout << "corvane demo against " << server << "\n\n";
    try {
      return corvane_cli::RunDemo(runner, corvane_cli::DemoIdsForSeed(seed), json) ? 0
                                                                                   : kExitFailed;
    } catch (const std::runtime_error& e) {
      std::cerr << "corvane: " << e.what() << "\n";
      return kExitUsage;
    }
  }
  try {
    Outcome outcome = action(runner);
    corvane_cli::Print(outcome, json);
    return outcome.status == 0 ? 0 : kExitFailed;
  } catch (const std::exception& e) {
    // The library passes conversion and JSON errors through; they mean a malformed answer.
    std::cerr << "corvane: the server's answer could not be used: " << e.what() << "\n";
    return kExitFailed;
  }
}
