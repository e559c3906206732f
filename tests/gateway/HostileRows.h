// The rows of the hostile-server tables, shared by every transport: the exact bytes a scripted
// server sends for each request it reads, and what the gateway must make of them. The Linux
// gateway tests serve them from a server in the test program (HostileServerTest.cpp); the Windows
// tests under wine ask corvane-hostile-server, a Linux program that includes this header, to serve
// a row by its table and number (tests/windows/hostile-server), and run the same rows with the
// same expectations.
#ifndef CORVANE_TESTS_GATEWAY_HOSTILEROWS_H
#define CORVANE_TESTS_GATEWAY_HOSTILEROWS_H

#include <zenta/ZentaSdk.h>

#include <string>
#include <utility>
#include <vector>

namespace hostile {

// What the server does with one request it has read: bytes, a pause, more bytes, an ending.
struct Reply {
  enum End { kKeep, kClose, kReset };
  Reply(std::string bytes, End end = kKeep, int pauseMs = 0, std::string later = "")
      : bytes(std::move(bytes)), end(end), pauseMs(pauseMs), later(std::move(later)) {}
  std::string bytes;
  End end;
  int pauseMs;
  std::string later;
};

inline std::string Answer(const std::string& body,
                          const std::string& head = "HTTP/1.1 200 OK\r\n") {
  return head + "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// What a scripted server answers to its request number n (from 0) once the row's replies are
// used up: a correct answer naming n.
inline Reply AfterScript(int n) { return Reply(Answer(std::to_string(n))); }

// Two calls on one session: a GET ("a") that leaves a kept-alive connection, a pause as between
// calls, then the row's call ("b", with a body unless it is a GET).
struct OwnRow {
  std::string name, method;
  std::vector<Reply> replies;
  int expected;
  std::string answer;  // the second call's
  int requests;        // that reached the server, both calls together
};

inline std::vector<OwnRow> OwnAnswerRows() {
  const Reply first(Answer("0")), reset("", Reply::kReset), closed("", Reply::kClose);
  const Reply interim("HTTP/1.1 100 Continue\r\nContent-Length: 9\r\n\r\n" + Answer("{}"));
  const Reply stray(Answer("0"), Reply::kKeep, 50, Answer("777"));
  const Reply bodyOf204("HTTP/1.1 204 No Content\r\n\r\n", Reply::kKeep, 50, "{}");
  const Reply idle408(Answer("0"), Reply::kClose, 50,
                      "HTTP/1.1 408 Timeout\r\nContent-Length: 0\r\n\r\n");
  std::vector<OwnRow> rows = {
      {"POST read, then reset", "POST", {first, reset}, ZENTA_E_RECEIVE, "", 2},
      {"PUT read, then closed", "PUT", {first, closed}, ZENTA_E_RECEIVE, "", 2},
      {"GET read, then reset: sent again", "GET", {first, reset}, 0, "2", 3},
      {"a stray answer on the idle connection", "GET", {stray}, 0, "1", 2},
      {"a stray answer on the idle connection, then a POST", "POST", {stray}, 0, "1", 2},
      {"a 204 with a body", "GET", {bodyOf204}, 0, "1", 2},
      {"an interim 100 head first", "GET", {first, interim}, 0, "{}", 2},
      {"a 408 on the idle connection, then closed", "GET", {idle408}, 0, "1", 2}};
  const Reply protocolErrors[] = {
      Answer("x", "HTTP/1.1 099 Odd\r\n"),
      Answer("x", "HTTP/1.1 000 Zero\r\n"),
      Answer("x", "HTTP/1.1 abc What\r\n"),
      Reply("{\"code\":0}", Reply::kClose),  // HTTP/0.9
      Reply("HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'x') + "\r\n"),
      Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n{}}")};
  for (const Reply& odd : protocolErrors) {
    rows.push_back({odd.bytes.substr(0, 40), "GET", {first, odd}, ZENTA_E_PROTOCOL, "", 2});
  }
  return rows;
}

// One GET for a 4,096-byte picture (or a JSON answer); each row breaks one framing rule, and the
// gateway refuses it with the code and a detail that names the rule. The rows marked ok are the
// forms the rules allow.
struct FramingRow {
  std::string name;
  Reply reply;
  int expected;
  std::string detail;  // a part of the detail, or the answer's length when expected is 0
  bool https = false;
  int compression = 0;  // the session's option: 2 asks for no gzip
};

inline std::vector<FramingRow> FramingRows() {
  const std::string picture(4096, 'p'), ok = "HTTP/1.1 200 OK\r\n";
  const auto framed = [&](const std::string& header) {
    return Reply(ok + header + "\r\n\r\n" + picture);
  };
  const auto chunked = [&](const std::string& codings, const std::string& body) {
    return Reply(ok + "Transfer-Encoding: " + codings + "\r\n\r\n" + body, Reply::kClose);
  };
  const std::string chunk = "1000\r\n" + picture + "\r\n0\r\n\r\n";
  // The picture, gzip-coded.
  const std::string gzipped(
      "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xed\xc1\x31\x0d\x00\x00\x00\xc3\x20\xcb"
      "\xf5\x7f\xcd\xc7\x02\x14\x00\x00\x00\xf0\x6e\x7d\x4f\xfb\xbd\x00\x10\x00\x00",
      39);
  return {
      {"a length with letters", framed("Content-Length: 100abc"), ZENTA_E_PROTOCOL, "digits"},
      {"two lengths in a list", framed("Content-Length: 100, 4096"), ZENTA_E_PROTOCOL,
       "two lengths"},
      {"a length with a space", framed("Content-Length: 100 4096"), ZENTA_E_PROTOCOL, "digits"},
      {"a length with a semicolon", framed("Content-Length: 100;4096"), ZENTA_E_PROTOCOL, "digits"},
      {"a fractional length", framed("Content-Length: 100.5"), ZENTA_E_PROTOCOL, "digits"},
      {"a hexadecimal length", framed("Content-Length: 0x1000"), ZENTA_E_PROTOCOL, "digits"},
      {"a length in exponent form", framed("Content-Length: 1e2"), ZENTA_E_PROTOCOL, "digits"},
      {"a folded length", framed("Content-Length: 100\r\n 4096"), ZENTA_E_PROTOCOL, "folds"},
      {"ok: a list of one length", framed("Content-Length:  4096 , 4096"), 0, "4096"},
      {"both framings", framed("Content-Length: 4096\r\nTransfer-Encoding: chunked"),
       ZENTA_E_PROTOCOL, "framed twice"},
      {"gzip under chunked", chunked("gzip, chunked", chunk), ZENTA_E_PROTOCOL, "\"gzip\""},
      {"chunked twice", chunked("chunked, chunked", "6\r\n" + chunk + "\r\n0\r\n\r\n"),
       ZENTA_E_PROTOCOL, "after chunked"},
      {"chunked on two lines", chunked("chunked\r\nTransfer-Encoding: chunked", chunk),
       ZENTA_E_PROTOCOL, "after chunked"},
      {"identity", chunked("identity", picture), ZENTA_E_PROTOCOL, "\"identity\""},
      {"a chunk size with 0x", chunked("chunked", "0x5d\r\n" + picture), ZENTA_E_PROTOCOL, "chunk"},
      {"a chunk size written 0x5", chunked("chunked", "0x5\r\nhello\r\n0\r\n\r\n"),
       ZENTA_E_PROTOCOL, "chunked coding"},
      {"a chunk size 0x10 with trailer-shaped data",
       chunked("chunked", "0x10\r\nX-Data: 12345678\r\n\r\n0\r\n\r\n"), ZENTA_E_PROTOCOL,
       "chunk size is followed by other than an extension"},
      {"ok: a chunk extension and a trailer",
       chunked("chunked", "1000 ;a=b\r\n" + picture + "\r\n0\r\nX-Sum: 1\r\n\r\n"), 0, "4096"},
      {"a trailer line without a colon", chunked("chunked", "5\r\nhello\r\n0\r\nNo colon\r\n\r\n"),
       ZENTA_E_PROTOCOL, "trailer"},
      {"a length of 23 digits", framed("Content-Length: 12345678901234567890123"), ZENTA_E_PROTOCOL,
       "Content-Length"},
      {"chunk data not followed by CRLF", chunked("chunked", "5\r\nhelloXX0\r\n\r\n"),
       ZENTA_E_PROTOCOL, "chunk"},
      {"chunked, cut after a chunk", chunked("chunked", "5\r\nhello\r\n"), ZENTA_E_RECEIVE, ""},
      {"chunked, cut inside a chunk", chunked("chunked", "1000\r\n" + picture.substr(0, 100)),
       ZENTA_E_RECEIVE, ""},
      {"a NUL byte in a header before the framing",
       Reply(ok + "Content-Length: 5\r\nX-N: a" + std::string(1, '\0') +
             "b\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk),
       ZENTA_E_PROTOCOL, ""},
      {"a NUL byte in a header before a content coding",
       Reply(ok + "Content-Length: 4096\r\nX-N: a" + std::string(1, '\0') +
                 "b\r\nContent-Encoding: gzip\r\n\r\n" + picture,
             Reply::kClose),
       ZENTA_E_PROTOCOL, "", false, 2},
      {"ok: chunked", chunked("chunked", chunk), 0, "4096"},
      {"ok: a gzip-coded answer",
       Reply(ok + "Content-Length: 39\r\nContent-Encoding: gzip\r\n\r\n" + gzipped), 0, "4096"},
      {"no framing, cut by a FIN", Reply(ok + "\r\n" + picture.substr(0, 100), Reply::kClose),
       ZENTA_E_PROTOCOL, "neither"},
      {"no framing over https, cut without close_notify",
       Reply(ok + "\r\n" + picture.substr(0, 100), Reply::kClose), ZENTA_E_PROTOCOL, "neither",
       true},
      {"an unasked content coding", framed("Content-Length: 4096\r\nContent-Encoding: gzip"),
       ZENTA_E_PROTOCOL, "did not ask", false, 2},
      // An error page ended by a close keeps its status, its first line the detail; a JSON type
      // does not make it an answer.
      {"an HTTP/1.0 503 ended by a close",
       Reply("HTTP/1.0 503 Unavailable\r\nContent-Type: text/plain\r\n\r\ndown for now\r\nmore",
             Reply::kClose),
       ZENTA_E_HTTP_STATUS_BASE - 503, "HTTP 503: down for now"},
      {"an HTML error page: its title, wherever its lines break",
       Reply("HTTP/1.0 400 Bad Request\r\nContent-Type: text/html\r\n\r\n<html>\r\n<head><TITLE>"
             "400 No required SSL\r\n\tcertificate was sent</TITLE></head>\r\n<body></body>",
             Reply::kClose),
       ZENTA_E_HTTP_STATUS_BASE - 400, "HTTP 400: 400 No required SSL certificate was sent"},
      {"a 401 page: its challenge's error first",
       Reply("HTTP/1.0 401 No\r\nWWW-Authenticate: Bearer realm=\"vms\", "
             "error_uri=\"x\", error=\"invalid_token\"\r\n\r\n<title>Sign in</title>",
             Reply::kClose),
       ZENTA_E_HTTP_STATUS_BASE - 401, "HTTP 401 (error=\"invalid_token\"): Sign in"},
      {"a JSON 404 ended by a close",
       Reply("HTTP/1.1 404 No\r\nContent-Type: application/json\r\n\r\n{\"code\":4}",
             Reply::kClose),
       ZENTA_E_HTTP_STATUS_BASE - 404, "HTTP 404: {\"code\":4}"},
      {"a 302 ended by a close", Reply("HTTP/1.0 302 Moved\r\n\r\nelsewhere", Reply::kClose),
       ZENTA_E_PROTOCOL, "neither"},
      {"a JSON type in a trailer of a 500",
       Reply("HTTP/1.1 500 Oops\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
             "5\r\nerror\r\n0\r\nContent-Type: application/json\r\n\r\n"),
       ZENTA_E_HTTP_STATUS_BASE - 500, ""},
      {"status 600 with a JSON type", Reply(Answer("{}", "HTTP/1.1 600 Odd\r\n")), ZENTA_E_PROTOCOL,
       "outside 100..599"},
      {"status 999 with a JSON type", Reply(Answer("{}", "HTTP/1.1 999 Odd\r\n")), ZENTA_E_PROTOCOL,
       "outside 100..599"},
      {"HTTP/1.2", Reply(Answer("{}", "HTTP/1.2 200 OK\r\n")), ZENTA_E_PROTOCOL, "version"},
      {"ICY", Reply(Answer("{}", "ICY 200 OK\r\n"), Reply::kClose), ZENTA_E_PROTOCOL, "HTTP/"},
      {"a header line without a colon", framed("Content-Length: 4096\r\nNo colon here"),
       ZENTA_E_PROTOCOL, "colon"},
      {"a header line of 100 KiB",
       framed("Content-Length: 4096\r\nX-Big: " + std::string(100 * 1024, 'x')), ZENTA_E_PROTOCOL,
       "100 KiB"},
      // libcurl stops at the length and drops the connection with what follows.
      {"a body longer than its length, then closed",
       Reply(ok + "Content-Length: 4096\r\n\r\n" + picture + Answer("{}"), Reply::kClose), 0,
       "4096"},
      {"a body shorter than its length, then closed",
       Reply(ok + "Content-Length: 4096\r\n\r\n" + picture.substr(0, 100), Reply::kClose),
       ZENTA_E_RECEIVE, ""},
  };
}

}  // namespace hostile

#endif  // CORVANE_TESTS_GATEWAY_HOSTILEROWS_H
