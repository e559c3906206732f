// The answers of the simulated platform: the JSON envelope {"code", "message", "data"}, picture
// bytes, and the ways they are written on the connection, whole or faulted.
#ifndef CORVANE_MOCK_REPLY_H
#define CORVANE_MOCK_REPLY_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "HttpCore.h"
#include "JsonPut.h"
#include "MockPlatform.h"

namespace corvane::mock {

constexpr char kJsonType[] = "application/json;charset=UTF-8";

struct Reply {
  int httpStatus = 200;
  int code = kCodeOk;
  std::string message = "success";
  std::optional<std::string> data;            // JSON text of "data"; none: no "data" member
  std::shared_ptr<const std::string> binary;  // set: these bytes are the answer, no envelope
  std::string binaryType;
  http::Headers headers;
};

Reply Ok(std::string data);
Reply Error(int httpStatus, int code, std::string message);
std::string EnvelopeText(const Reply& reply);

// The coding of one answer. When the request accepts gzip (AcceptsGzip), a body of 1 KiB or
// more travels gzip-coded with "Content-Encoding: gzip" and "Vary: Accept-Encoding"; pictures,
// smaller bodies and requests that do not ask keep the identity coding.
struct Coding {
  bool gzipAccepted = false;
  bool gzipped = false;  // set by the writers below when they coded the body
  // Counted when the body is coded, before a byte of it is written: a client that has read the
  // answer finds it counted.
  std::atomic<std::uint64_t>* counter = nullptr;
  void Coded() {
    gzipped = true;
    if (counter != nullptr) ++*counter;
  }
};

// Writes the whole answer; returns its HTTP status.
int Send(const Reply& reply, http::AnswerWriter& out, http::Headers extra = {},
         Coding* coding = nullptr);
// Any other answer written whole (`headers` name its Content-Type); returns `status`.
int SendBody(int status, http::Headers headers, std::string body, Coding* coding,
             http::AnswerWriter& out);
// The answer's full Content-Length, then only the first half of its bytes; the connection
// closes after them.
void SendTruncated(const Reply& reply, http::AnswerWriter& out, http::Headers extra,
                   Coding& coding);
// An answer envelope of exactly `bytes` bytes, {"code":1000,...,"data":{"filler":"xx..."}},
// produced piece by piece, so that even a 1 GiB answer costs no memory. Chunked: without
// Content-Length, the client finds the size only while receiving. Gzip-coded, `bytes` is the
// decoded size: a small answer that a client must not decode without a cap.
void SendBig(int bytes, bool chunked, http::AnswerWriter& out, http::Headers extra, Coding& coding);
// The whole answer, its head at once and its body at bytesPerSecond, a slice every 10 ms, so
// that a client's cancel, close and progress can be watched while the body arrives. Stops when
// the client goes away or the server stops (the connection then closes).
void SendTrickled(const Reply& reply, int bytesPerSecond, http::AnswerWriter& out,
                  http::Headers extra, Coding& coding);

// The text of a JSON object whose members `fill` writes.
template <class Fill>
std::string JsonObject(Fill fill) {
  rapidjson::StringBuffer buffer;
  JsonWriter w(buffer);
  w.StartObject();
  fill(w);
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

// An array of objects, each written by `fill`.
template <class Items, class Fill>
void PutArray(JsonWriter& w, const char* key, const Items& items, Fill fill) {
  w.Key(key);
  w.StartArray();
  for (const auto& item : items) {
    w.StartObject();
    fill(w, item);
    w.EndObject();
  }
  w.EndArray();
}

// A platform outcome as a reply: its data written by `fill`, or its business error.
template <class T, class Fill>
Reply FromOutcome(const Outcome<T>& outcome, Fill fill) {
  if (!outcome.Ok()) return Error(200, outcome.code, outcome.message);
  return Ok(JsonObject([&](JsonWriter& w) { fill(w, outcome.value); }));
}

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_REPLY_H
