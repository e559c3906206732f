// An in-process stand-in for the platform gateway, linked into test executables in place of the
// real one. It snapshots every request record exactly as the library hands it over, answers with
// scripted statuses and texts, and tracks every buffer it hands out so that a test can assert
// what went on the wire and that everything came back.
#ifndef CORVANE_TESTS_FAKEGATEWAY_H
#define CORVANE_TESTS_FAKEGATEWAY_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CountingAllocator.h"  // LiveAllocations, FailNthAllocation: the fake links them in

namespace corvane_test {

// What the gateway answers to one request.
struct Reply {
  int status = 0;
  std::optional<std::string> answer;         // nullopt: answer stays null
  std::optional<std::int32_t> answerLength;  // default: the answer's size
  bool auxBuffer = false;                    // also hand out an auxBuffer
};

inline Reply Answer(std::string text) { return Reply{0, std::move(text), std::nullopt, false}; }
inline Reply Failure(int status) { return Reply{status, std::nullopt, std::nullopt, false}; }

struct SeenHeader {
  std::string name;  // the bytes of the field up to nameLength (bounded by the field)
  std::uint32_t nameLength = 0;
  std::string value;
  std::uint32_t valueLength = 0;
  bool fieldsZeroPadded = true;  // every byte after the used part of both fields is NUL
};

// One request as the gateway saw it.
struct SeenRequest {
  int handle = 0, requestSize = 0, responseSize = 0;
  std::vector<unsigned char> requestBytes;   // the whole request record
  std::vector<unsigned char> responseBytes;  // the response record as handed over
  std::string method;                        // the method field up to its first NUL
  std::string path;                          // the path field up to its first NUL
  bool hasBody = false;
  std::string body;  // bodyLength bytes of the body
  std::int32_t bodyLength = 0;
  bool bodyTerminated = false;  // body[bodyLength] is NUL
  std::uint32_t headerCount = 0;
  std::vector<SeenHeader> headers;
};

// Which buffer a release call gave back.
enum class Release { kAnswer, kAux, kUnknown };

class FakeGateway {
 public:
  static FakeGateway& Instance();

  // Forgets everything: scripts, seen requests, releases. Outstanding buffers are freed.
  void Reset();
  // Queues the reply to the next request; unscripted requests get kUnscripted.
  void Script(Reply reply);
  static constexpr int kUnscripted = -29999;

  SeenRequest LastRequest() const;   // fails the test when there was none
  std::size_t RequestCount() const;  // requests seen since the last Reset
  std::vector<Release> Releases() const;
  std::size_t OutstandingBuffers() const;  // handed out and not given back

  // Called by the two gateway functions.
  int Request(int handle, void* request, int requestSize, void* response, int responseSize);
  int ReleaseBuffer(void* buffer);

 private:
  FakeGateway() = default;
  char* HandOut(const std::string& bytes, bool isAnswer);

  mutable std::mutex mutex_;
  std::vector<Reply> scripts_;
  std::vector<SeenRequest> seen_;
  std::vector<Release> releases_;
  std::vector<std::pair<char*, Release>> outstanding_;
};

}  // namespace corvane_test

#endif  // CORVANE_TESTS_FAKEGATEWAY_H
