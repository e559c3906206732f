// The command-line client as a user runs it, against a simulated platform server in this process:
// exit statuses, what goes to standard output and what to standard error, the server's words.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CliSupport.h"
#include "Corvane.h"
#include "zenta/ZentaSdk.h"

namespace {

using cli_test::Cli;
using cli_test::CliRun;
using cli_test::Corvane;
using cli_test::ScratchFile;

// The command lines of ExitStatusAndWhereEachWordGoes; file is where a picture would go.
struct ExitRow {
  std::string arguments;
  int exitStatus;
  const char* out;  // a fragment of standard output; null: nothing may be written there
  const char* err;  // a fragment of standard error
};

std::vector<ExitRow> ExitRows(const std::string& file) {
  return {
      {"", 2, nullptr, "a subcommand is required"},
      {"ai-privacy", 2, nullptr, "give --server URL (or set CORVANE_SERVER), or --simulate"},
      {"--server '' ai-privacy", 2, nullptr, "--server was given an empty URL"},
      {"no-such-command --server $S", 2, nullptr, "unknown subcommand 'no-such-command'"},
      {"--tokne x pos-config --server $S", 2, nullptr,
       "unknown option '--tokne'; did you mean --token?"},
      {"ptz-trail D1001-C01 --server $S", 2, nullptr,
       "unknown subcommand 'ptz-trail'; did you mean ptz-trails?"},
      {"speaker-volume gte D2001-C01 --server $S", 2, nullptr,
       "unknown subcommand 'gte' of speaker-volume; did you mean get?"},
      {"--server $S ai-privacy --frobnicate", 2, nullptr, "unknown option '--frobnicate'\n"},
      {"speaker-volume --server $S loud", 2, nullptr,
       "unknown subcommand 'loud' of speaker-volume"},
      {"ai-privacy --server $S --timeout -5", 2, nullptr,
       "'-5' is not a whole number in 0..3600000"},
      {"ai-privacy --server $S --connect-timeout 1e9", 2, nullptr, "(milliseconds)"},
      {"speaker-volume set D2001-C01 --server $S", 2, nullptr, "give --speaker, --mic or both"},
      {"speaker-volume set D2001-C01 --mic -1 --server $S", 2, nullptr, "0 or more (percent)"},
      {"--server $S demo", 2, nullptr, "add --yes"},
      {"--simulate --server $S ai-privacy", 2, nullptr, "cannot be used together"},
      {"ptz-trails --server $S", 2, nullptr, "CHANNEL is required"},
      {"ptz-trails D1001-C01 extra --server $S", 2, nullptr, "unexpected argument: extra"},
      {"ai-privacy --server", 2, nullptr, "--server needs a value"},
      {"dictionary-map three --server $S", 2, nullptr, "'three' is not a whole number"},
      {"alarm-contacts ALM-0001 2024-02-30 --server $S", 2, nullptr, "'2024-02-30' is not a date"},
      {"alarm-contacts ALM-0001 2024-03-19T25:00Z --server $S", 2, nullptr, "is not a date"},
      {"--server $S ai-privacy --cacert /no/such.pem", 2, nullptr,
       "--cacert: file does not exist: /no/such.pem"},
      {"--server $S ai-privacy --cert /no/such.pem", 2, nullptr,
       "--cert: file does not exist: /no/such.pem"},
      {"--server $S ai-privacy --cert $C --key /no/such.pem", 2, nullptr,
       "--key: file does not exist: /no/such.pem"},
      {"--server $S ai-privacy --key $C", 2, nullptr, "--key requires --cert"},
      {"--server $S ai-privacy --retry 11", 2, nullptr, "0..10 (tries after the first)"},
      {"--server $S -H 'X-Api-Key key-abc-55' ai-privacy", 2, nullptr,
       "the session option headers holds a line that is not"},
      {"--server ftp://127.0.0.1:1 ai-privacy", 2, nullptr, "cannot open a session on ftp://"},
      {"--version", 0, "library: libCorvane 0.", ""},
      {"--version", 0, "transport: libcurl ", ""},
      {"--server http://127.0.0.1:9 ai-privacy --connect-timeout 500", 3, nullptr, "(-20201)"},
      {"--server $H ai-privacy", 0, "enable", ""},
      {"--server $S ptz-trails " + std::string(1300, 'C'), 2, nullptr,
       "ptz-trails: the request does not fit"},
      {"alarm-contacts ALM-0001 $D --server $S", 0, "source", ""},
      {"alarm-contacts ALM-0001 2024-03-19 --server $S", 1, nullptr, "code 4004"},
      {"--server $S ptz-trails D1001-C01 >/dev/full", 1, nullptr,
       "cannot write the result to standard output"},
      {"--server $S picture P0100 -o /dev/full", 1, nullptr, "cannot write /dev/full"},
      {"--server $S ptz-trails D1001-C01 >&-", 1, nullptr, "standard output: Bad file descriptor"},
      {"--server $S ptz-trails D1001-C01 --json >&-", 1, nullptr, "standard output: Bad file"},
      {"--server $S picture P0001 -o - >&-", 1, nullptr, "standard output: Bad file descriptor"},
      {"--help >&-", 1, nullptr, "cannot write the result to standard output"},
      {"--server $S ptz-trails D1001-C01 <&-", 0, "trail id", ""},
      {"CORVANE_SERVER=$S ptz-trails NO-SUCH", 1, nullptr,
       "ptz-trails: the server answered code 4004 (server: \"no channel NO-SUCH\")"},
      {"--server $S picture P9999 -o " + file, 1, nullptr,
       "instead of a picture, code 4004 (server: \"no picture P9999\")"},
      {"--server $S speaker-volume set D2001-C01 --speaker 300", 1, nullptr,
       "did not apply the volumes to channel D2001-C01"},
      {"ptz-trails D1001-C01 --json --server $S", 0, "{\"operation\":\"ptz-trails\",\"status\":0",
       ""},
      {"--server $T ai-privacy", 3, nullptr, "give its CA with --cacert FILE, or skip the check"},
      {"--server $T ai-privacy --cacert $C", 0, "enable", ""},
      {"CORVANE_SERVER=$T ai-privacy --insecure", 0, "enable",
       "warning: --insecure: the server's TLS certificate is not verified"},
      {"picture P0001 --server $S -o -", 0, "\x89PNG\r\n", ""},
      {"--simulate ai-privacy", 0, "enable", "simulated server (invented data)"},
      {"demo", 0, "14 of 14 operations succeeded", ""},
      {"--help", 0, "Usage: corvane [OPTIONS]", ""},
      {"--help-man", 0, "\n.SH OPTIONS\n", ""},
      {"--completion bash", 0, "complete -F _corvane corvane", ""},
      {"demo --json", 0, "\"operation\":\"dictionary-map\"", "a simulated platform server"},
      {"speaker-volume set --help", 0, "percent", ""},
      {"alarm-contacts --help", 0, "epoch milliseconds", ""},
      {"record-start --help", 0, "Example:\n  corvane record-start", ""},
  };
}

TEST_F(Cli, ExitStatusAndWhereEachWordGoes) {
  const std::string file = ScratchFile("picture.png");
  const std::vector<ExitRow> rows = ExitRows(file);
  for (const ExitRow& row : rows) {
    SCOPED_TRACE(row.arguments);
    const CliRun run = Corvane(With(row.arguments));
    EXPECT_EQ(run.exitStatus, row.exitStatus) << run.out << run.err;
    if (row.out == nullptr) {
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_NE(run.out.find(row.out), std::string::npos) << run.out;
    }
    EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
    if (row.exitStatus == 2) {
      // Every argument error in one voice: what is wrong, in lower case, then where help is.
      const std::string hint = "\nRun 'corvane --help' for usage.\n";
      if (run.err.size() <= 9 + hint.size()) {
        ADD_FAILURE() << "not an argument error with its hint: " << run.err;
        continue;
      }
      EXPECT_EQ(run.err.rfind("corvane: ", 0), 0u) << run.err;
      EXPECT_FALSE(std::isupper(static_cast<unsigned char>(run.err[9])) &&
                   (std::islower(static_cast<unsigned char>(run.err[10])) || run.err[10] == ' '))
          << run.err;
      EXPECT_EQ(run.err.find('\n'), run.err.size() - hint.size()) << run.err;
      EXPECT_EQ(run.err.substr(run.err.size() - hint.size()), hint);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(file)) << "a refusal was written as the picture";
  EXPECT_FALSE(std::filesystem::exists("-")) << "-o - made a file";
}

TEST_F(Cli, DemoSaysFirstThatItsServerIsSimulatedAndFailsWithTheServer) {
  const CliRun simulated = Corvane("demo");
  EXPECT_EQ(simulated.out.rfind("corvane demo against a simulated platform server", 0), 0u)
      << simulated.out;

  corvane::mock::Fault fault;
  fault.path = "/vusk/api/v1.1/config/pos";
  fault.kind = corvane::mock::FaultKind::kBusiness;
  fault.code = 5000;
  server_->Faults().Add(fault);
  const CliRun run = Corvane(With("--server $S demo --yes"));
  EXPECT_EQ(run.exitStatus, 1) << run.out << run.err;
  EXPECT_EQ(run.out.rfind("corvane demo against " + server_->BaseUrl() + "\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("13 of 14 operations succeeded"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("the server answered code 5000 (server: \"injected fault\")"),
            std::string::npos)
      << run.out;
}

// What the server sends reaches the user in the client's words: a non-JSON error's first line,
// an unreadable answer without the library's log line, control characters escaped in tables and
// messages but exact in JSON.
TEST_F(Cli, TheServersWordsReachTheUserSafely) {
  const std::string kTrails = "/vusk/api/v1.1/ptz/channel/D1001-C01/trail/list";
  const std::string kTrailAnswer =
      "{\"code\":1000,\"data\":{\"results\":[{\"trailId\":\"T1\",\"trailName\":"
      "\"\\u001b]0;owned\\u0007 trail\\u009b\\u007f\"}]}}";
  struct Row {
    corvane::mock::FaultKind kind;
    int httpStatus;
    std::string body;  // the fault's body ("" for the default)
    std::string arguments;
    int exitStatus;
    std::string shown;      // a fragment of standard output + standard error
    std::string forbidden;  // never in either
  } rows[] = {
      {corvane::mock::FaultKind::kHttpError, 503, "down for maintenance\r\n<p>back at six</p>",
       "ptz-trails D1001-C01", 3, "(-30503): HTTP 503: down for maintenance", "back at six"},
      {corvane::mock::FaultKind::kHttpError, 502, "\x1b[31mbad gateway", "ptz-trails D1001-C01", 3,
       "HTTP 502: \\x1b[31mbad gateway", "\x1b"},
      {corvane::mock::FaultKind::kHttpError, 400,
       "<html><head><TITLE> 400 No required SSL certificate\twas sent</TITLE></head><body>",
       "ptz-trails D1001-C01", 3,
       "HTTP 400: 400 No required SSL certificate was sent; give a client certificate with --cert",
       "<html>"},
      {corvane::mock::FaultKind::kHttpError, 502, "<html><body><h1>Bad</h1> gateway</body>",
       "ptz-trails D1001-C01", 3, "(-30502): HTTP 502: Bad gateway", "<h1>"},
      {corvane::mock::FaultKind::kGarbage, 200, "", "ptz-trails D1001-C01", 1,
       "ptz-trails: the server's answer could not be read: not JSON", "APICommon"},
      {corvane::mock::FaultKind::kGarbage, 200, "", "ptz-trails D1001-C01 --json", 1,
       "{\"operation\":\"ptz-trails\",\"status\":-1,", "[6]"},
      {corvane::mock::FaultKind::kGarbage, 200, kTrailAnswer, "ptz-trails D1001-C01", 0,
       "\\x1b]0;owned\\x07 trail\\u009b\\x7f", "\x1b"},
      {corvane::mock::FaultKind::kGarbage, 200, kTrailAnswer, "ptz-trails D1001-C01 --json", 0,
       "owned\\u0007 trail\xc2\x9b\x7f", "\\x1b"},
      {corvane::mock::FaultKind::kDelay, 0, "", "speaker-volume get \"$(printf 'X\\033[2J')\"", 1,
       "(server: \"no channel X\\x1b[2J\")", "\x1b"},
      {corvane::mock::FaultKind::kGarbage, 200,
       "{\"code\":1000,\"data\":{\"results\":[{\"trailId\":\"T1\",\"trailName\":"
       "\"line1\\nT666  FORGED ROW\"}]}}",
       "ptz-trails D1001-C01", 0, "line1\\x0aT666  FORGED ROW", "\nT666"},
      {corvane::mock::FaultKind::kDelay, 0, "",
       "speaker-volume get \"$(printf 'X\\ncorvane: pos-config: success')\"", 1,
       "no channel X\\x0acorvane: pos-config: success", "\ncorvane: pos-config"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments + " " + row.body);
    server_->Faults().Clear();
    corvane::mock::Fault fault;
    fault.path = kTrails;
    fault.kind = row.kind;
    fault.status = row.httpStatus;
    if (!row.body.empty()) fault.body = row.body;
    server_->Faults().Add(fault);
    const CliRun run = Corvane(With("--server $S " + row.arguments));
    EXPECT_EQ(run.exitStatus, row.exitStatus) << run.out << run.err;
    const std::string both = run.out + run.err;
    EXPECT_NE(both.find(row.shown), std::string::npos) << both;
    EXPECT_EQ(both.find(row.forbidden), std::string::npos) << both;
    if (row.arguments.find("--json") != std::string::npos) {
      EXPECT_EQ(both.find('\n'), both.size() - 1) << "one JSON document alone: " << both;
    }
  }
}

// Credentials, headers, proxies, retries and compression reach the server, and no credential
// ever reaches an output: not the table, the message, the --json document nor a -v line, even
}  // namespace
