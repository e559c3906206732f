// The operations of the command-line client: each runs one library call on an open session and
// turns its outputs into a table for people and a JSON value for programs.
#ifndef CORVANE_CLI_RUNNER_H
#define CORVANE_CLI_RUNNER_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "Corvane.h"
#include "quim/Json.h"

namespace corvane_cli {

// Rows for people: a header line and cells, all text.
struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};

// What one operation gave.
struct Outcome {
  std::string operation;  // the subcommand's name
  int status = 0;
  std::string serverMessage;   // the server's own words with its answer (LastServerMessage)
  std::string failure;         // what went wrong, when the status alone would not say it right
  std::string libraryNote;     // the library's log message during the call (an unreadable answer)
  bool resultWritten = false;  // the result already went to standard output (picture -o -)
  double milliseconds = 0;
  std::string summary;     // one line, for the demo's report
  Table table;             // the result for people
  quim::Json::Value json;  // the result for programs
};

// The exit status of the client: 0 success, 3 the exchange failed (a gateway code: no
// connection, timeout, TLS, protocol, an HTTP status), 1 the server refused or its answer was
// unreadable, 2 a request too long to send (kRequestTooLong), 4 authentication failed (HTTP 401
// or 403 whether the answer is JSON or not, the token callback failed); other usage errors exit
// 2 before any call.
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitExchange = 3;
constexpr int kExitAuthentication = 4;
int ExitStatusOf(int status);

// What a status means, in words: the gateway's text for its own codes, else the server's code.
std::string DescribeStatus(int status);

// Routes the library's log records into the outcome of the call that wrote them (libraryNote),
// so that they reach the user in the client's own words and never as a raw log line.
void CaptureLibraryLog();

// What a failed outcome means, in one line: what failed and the server's message.
std::string DescribeFailure(const Outcome& outcome);

// Runs the library's operations on one SDK handle, timing each.
class Runner {
 public:
  explicit Runner(int handle) : handle_(handle) {}
  int handle() const { return handle_; }

  // The operations whose outputs need words of their own; a list of flat records is formatted
  // by its subcommand (Subcommands.gen.cpp).

  Outcome AIPrivacy();
  Outcome WebEnablement(const std::string& deviceId);
  Outcome ChannelWebEnablement(const std::string& channelId);
  // Writes the picture to outputFile unless it is empty ("-": standard output). An answer that
  // is a JSON envelope instead of a picture fails with the envelope's code and message.
  Outcome Picture(const std::string& pictureId, int tag, const std::string& outputFile);
  Outcome SpeakerVolumeGet(const std::string& channelId);
  Outcome SpeakerVolumeSet(const std::string& channelId, int speaker, int microphone);
  Outcome SameAudioFiles(const std::vector<std::string>& channelIds);
  Outcome AlarmContacts(const std::string& alarmCode, long long alarmDate);
  Outcome RecordStart(const std::string& channelId, int streamType, int duration);
  Outcome PosConfig();
  Outcome PosEvents();
  Outcome DictionaryMap(int type);

 private:
  int handle_;
};

// Runs call (one library operation), timing it, with the server's message and the library's
// log note of the call; the caller fills the outcome's result from the outputs afterwards.
Outcome Timed(const char* operation, const std::function<int()>& call);

// "1 trail", "2 trails".
std::string Plural(std::size_t n, const char* word);

// Prints an outcome: on success the table (or the JSON document with json set) on standard
// output; on failure only the error, on standard error (a JSON document with json set). Text
// for people has its control characters escaped (EscapeControls); JSON is exact. Returns false,
// after saying so on standard error, when standard output could not be written.
bool Print(const Outcome& outcome, bool json);

// Flushes standard output; false, after saying so on standard error, when it could not be
// written (a full disk, a closed pipe).
bool FlushOutput();

}  // namespace corvane_cli

#endif  // CORVANE_CLI_RUNNER_H
