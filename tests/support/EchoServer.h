// A small HTTP/1.1 server on 127.0.0.1 that answers every request with the request's own bytes, so
// a test sees exactly what its gateway put on the wire. The echo is one line with the serial
// number of the TCP connection the request came on (which shows keep-alive reuse), then the
// request's head and body byte for byte. What else it answers is steered by leading "name/value"
// segments of the request target, so every test case is self-contained:
//
//   status/N        answer with HTTP status N (default 200)
//   type/T          Content-Type T, percent-decoded; "type/-" sends none (default text/plain)
//   delay/MS        wait MS milliseconds before answering
//   body/B          answer B, percent-decoded, instead of the echo
//   bytes/N         answer N bytes of 'a' with a Content-Length
//   chunked/N       answer N bytes of 'a' in chunked coding, without a Content-Length
//   location/L      add a Location header, percent-decoded
//   close-once/K    the first request that carries token K: read it, then close without answering
//   reset-once/K    the first request that carries token K: send the head of an answer, then
//                   reset the connection instead of sending its body
//   tag/K           count the request under token K
//   count/K         answer how many requests carried token K so far (tag, close-once, reset-once)
//
// The Linux gateway tests run it in-process; corvane-echo-server (EchoServerMain.cpp) runs it for
// the Windows transport tests under wine. ParseEcho reads an echo on either side.
#ifndef CORVANE_TESTS_ECHOSERVER_H
#define CORVANE_TESTS_ECHOSERVER_H

#include <string>
#include <vector>

#ifndef _WIN32
#include <map>
#include <memory>
#include <mutex>

#include "HttpCore.h"
#endif

namespace corvane_test {

// An echo as the client received it.
struct Echo {
  std::string connection;  // the connection's serial number
  std::string requestLine;
  std::vector<std::string> headers;  // the head's lines after the request line, as they arrived
  std::string body;
};

inline Echo ParseEcho(const std::string& answer) {
  Echo echo;
  const std::size_t firstLine = answer.find('\n');
  echo.connection = answer.substr(0, firstLine);
  const std::string request = answer.substr(firstLine + 1);
  const std::size_t headEnd = request.find("\r\n\r\n");
  const std::string head = request.substr(0, headEnd + 2);
  std::size_t start = 0;
  for (std::size_t end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2) {
    (start == 0 ? echo.requestLine : echo.headers.emplace_back()) = head.substr(start, end - start);
  }
  echo.body = headEnd == std::string::npos ? std::string() : request.substr(headEnd + 4);
  return echo;
}

// How many of lines start with prefix, letters compared without case.
inline std::size_t CountStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  const auto lower = [](std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return text;
  };
  std::size_t count = 0;
  for (const std::string& line : lines)
    count += lower(line.substr(0, prefix.size())) == lower(prefix);
  return count;
}

#ifndef _WIN32
class EchoServer {
 public:
  // Listens on 127.0.0.1 and port (0: a free one); throws std::runtime_error when it cannot.
  // Destroying it stops accepting, ends every connection and waits for them.
  explicit EchoServer(int port = 0);

  std::string Url() const { return server_->BaseUrl(); }

 private:
  void Answer(const corvane::http::Request& req, corvane::http::AnswerWriter& out);
  int CountToken(const std::string& token, int add);

  std::mutex mutex_;
  std::map<std::string, int> tokenCounts_;         // for the once-only faults and count/K
  std::unique_ptr<corvane::http::Server> server_;  // last: stopped before the rest goes
};
#endif

}  // namespace corvane_test

#endif  // CORVANE_TESTS_ECHOSERVER_H
