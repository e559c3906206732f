// A connection of the libcurl transport: an easy handle with the multi handle that runs its
// exchanges, what is configured on it, and what the callbacks of one exchange write to.
#ifndef ZENTA_CURL_CURLCONNECTION_H
#define ZENTA_CURL_CURLCONNECTION_H

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "../AnswerHead.h"
#include "../Transport.h"
#include "ChunkDecoder.h"
#include "CurlPlatform.h"
#include "GzipDecoder.h"

namespace zenta {

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using MultiHandle = std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// What the callbacks of one exchange write to, and why they stopped it if they did.
struct ExchangeState {
  AnswerBuffer* body = nullptr;
  ExchangeReport* report = nullptr;
  int sends = 0;                  // pre-request callbacks: the second is libcurl re-sending
  bool connected = false;         // libcurl opened a connection's socket for this exchange
  int failure = 0;                // a code a callback stopped the exchange with
  bool certificateAsked = false;  // a TLS handshake of this exchange asked for a certificate
  std::size_t codedBytes = 0;     // bytes of a gzip-coded body, before decoding
  AnswerHead head;                // the answer's head, checked line by line
  const CallControl* call = nullptr;
  long long received = 0;          // body bytes as they came (gzip-coded ones before decoding)
  long long reported = -1;         // received as the progress callback was last told, -1: never
  Clock::time_point reportedAt{};  // when it was told
};

// What libcurl asks to be waited for during an exchange run by socket actions (Perform): the
// sockets and their events (CURLMOPT_SOCKETFUNCTION) and when it wants to run again
// (CURLMOPT_TIMERFUNCTION).
struct Waits {
  static constexpr int kMost = 8;  // a connection, its second try, a resolver's pipe, a proxy
  PollEntry sockets[kMost] = {};
  int count = 0;
  long timerMs = -1;  // -1: none
};

// An easy handle and what is configured on it. Requests of one kind follow each other on a
// handle, so each exchange sets only what differs from the previous one: the options of its
// shape (method, with or without a body) stay, and the URL and header list are compared in place
// with the ones set and kept when equal. Heap-allocated, so the addresses given to libcurl stay
// put.
struct CurlConnection final : Connection {
  // The socket of the handle's connection, learnt once per connection when an exchange opened
  // one and forgotten when libcurl closes it (OnSocketClose), so that the idle check asks libcurl
  // nothing. Declared before easy: libcurl closes the socket as the handle is cleaned up.
  curl_socket_t socket = CURL_SOCKET_BAD;
  // What the multi handle's exchanges wait for. Declared before multi, whose callbacks write it.
  Waits waits;
  // CURLOPT_CURLU as set: url, parsed (see SetUrl). Declared before easy, which reads it.
  UrlHandle parsedUrl{nullptr, &curl_url_cleanup};
  // The multi handle that runs the handle's exchanges (Perform) and keeps its connection between
  // them, as the easy interface's own one would.
  MultiHandle multi{nullptr, &curl_multi_cleanup};
  EasyHandle easy{nullptr, &curl_easy_cleanup};
  bool configured = false;  // false for a new handle and after a failure to configure
  bool fresh = false;       // the next exchange opens a new connection
  std::string method;
  bool sendsBody = false;
  std::string url;          // CURLOPT_URL as set
  std::string headerLines;  // the lines of headers, each NUL-terminated
  HeaderList headers{nullptr, &curl_slist_free_all};
  std::string next;  // the next exchange's URL or header lines when they differ from those set
  char errors[CURL_ERROR_SIZE] = {};
  ExchangeState state;
  GzipDecoder gzip;
  ChunkDecoder chunks;
};

// CurlPerform.cpp: the multi handle's wait callbacks, the easy handle's callbacks, the run.

int OnSocketWait(CURL*, curl_socket_t socket, int what, void* user, void*);
int OnTimerWait(CURLM*, long timeoutMs, void* user);
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
int OnSocketOpen(void* user, curl_socket_t, curlsocktype purpose);
int OnSocketClose(void* user, curl_socket_t socket);
int OnSend(void* user, char*, char*, int, int);

// Runs the exchange configured on connection to its end, as curl_easy_perform does; libcurl's
// result. A cancel of the call (connection.state.call) ends it within 20 ms, or a progress
// callback's non-zero return at once, with state.failure ZENTA_E_CANCELLED.
CURLcode Perform(CurlConnection& connection);

// True when bytes, the end of the stream or an error wait on the idle socket. Reads nothing.
bool SocketHasInput(curl_socket_t socket);

// CurlOptions.cpp: what is set on the easy handle.

// Brings the handle's options to this request's, except those set for each exchange: ZENTA_OK or
// the code of libcurl's refusal.
int Configure(CurlConnection& connection, const TransportConfig& config,
              const ZENTA_HttpRequest& request, std::string_view method, bool sendsBody);

// The options that change with every exchange: the time left, the body, a fresh connection.
CURLcode SetPerExchange(CurlConnection& connection, const ZENTA_HttpRequest& request,
                        bool sendsBody, Clock::time_point deadline);

}  // namespace zenta

#endif  // ZENTA_CURL_CURLCONNECTION_H
