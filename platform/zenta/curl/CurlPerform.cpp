// The run of one exchange: the easy handle's callbacks, which feed the answer's head to its
// checker and its body to the buffer (through the gzip decoder when coded), and the loop that
// drives the connection's multi handle by socket actions until the transfer is done.
#include <zenta/ZentaSdk.h>

#include <string_view>

#include "CurlConnection.h"

namespace zenta {
namespace {

// The longest a wait of the run lasts before it looks whether the call was cancelled.
constexpr int kCancelPollMs = 20;
// The progress callback is told at least this often while the body arrives: after 48 KiB more,
// so that with libcurl's largest piece of body (16 KiB) no step exceeds 64 KiB.
constexpr long long kProgressBytes = 64 * 1024 - CURL_MAX_WRITE_SIZE;
constexpr std::chrono::milliseconds kProgressInterval{100};

// Tells the call's progress callback how much of a 2xx answer's body arrived when it is due: on
// the first bytes, on the last announced one, after kProgressBytes more, and 100 ms after it was
// last told, bytes or not; never less than it was told before. False, with state.failure set,
// when the callback asked to stop.
bool TellProgress(ExchangeState& state) {
  const CallControl& call = *state.call;
  const Clock::time_point now = Clock::now();
  const long long total = state.head.Length();
  const bool due = state.reported < 0 || (state.received == total && state.reported != total) ||
                   state.received - state.reported >= kProgressBytes ||
                   now - state.reportedAt >= kProgressInterval;
  const bool success = state.head.Status() >= 200 && state.head.Status() <= 299;
  if (!due || !success || call.Cancelled()) return true;
  state.reported = state.received;
  state.reportedAt = now;
  if (state.received < call.progressShown) return true;
  call.progressShown = state.received;
  if (call.progress(call.progressContext, state.received, total) == 0) return true;
  state.failure = ZENTA_E_CANCELLED;
  state.report->detail.Set("the progress callback asked to stop after %lld bytes of the answer",
                           state.received);
  return false;
}

// Ends a run whose call was cancelled, saying how far it got.
CURLcode StopCancelled(ExchangeState& state) {
  state.failure = ZENTA_E_CANCELLED;
  Detail& detail = state.report->detail;
  switch (state.report->phase) {
    case ExchangePhase::kNotSent:
      detail.Set("the call was cancelled before its request went out");
      break;
    case ExchangePhase::kRequestSent:
      detail.Set("the call was cancelled after its request went out, before an answer came");
      break;
    case ExchangePhase::kAnswerStarted:
      detail.Set("the call was cancelled after %lld bytes of the answer's body", state.received);
      break;
  }
  return CURLE_ABORTED_BY_CALLBACK;
}

}  // namespace

int OnSocketWait(CURL*, curl_socket_t socket, int what, void* user, void*) {
  Waits& waits = *static_cast<Waits*>(user);
  int i = 0;
  while (i < waits.count && waits.sockets[i].fd != socket) ++i;
  if (what == CURL_POLL_REMOVE) {
    if (i < waits.count) waits.sockets[i] = waits.sockets[--waits.count];
    return 0;
  }
  if (i == waits.count) {
    if (waits.count == Waits::kMost) return -1;  // ends the transfer with an error
    ++waits.count;
  }
  const short events = static_cast<short>(((what & CURL_POLL_IN) != 0 ? POLLIN : 0) |
                                          ((what & CURL_POLL_OUT) != 0 ? POLLOUT : 0));
  waits.sockets[i] = PollEntry{socket, events, 0};
  return 0;
}

int OnTimerWait(CURLM*, long timeoutMs, void* user) {
  static_cast<Waits*>(user)->timerMs = timeoutMs;
  return 0;
}

namespace {

// The body's bytes (a chunked body's data), into the answer buffer, through the gzip decoder
// when coded.
int Deliver(CurlConnection& connection, const char* data, std::size_t bytes) {
  ExchangeState& state = connection.state;
  int code = ZENTA_OK;
  // The whole announced length at once, so the body is never moved while it arrives. A gzip
  // body announces its coded length, which only hints at the decoded one (within the cap).
  if (state.body->Size() == 0 && state.codedBytes == 0 && state.head.Length() > 0) {
    code = state.body->Reserve(static_cast<std::size_t>(state.head.Length()));
  }
  if (code == ZENTA_OK && state.head.Gzipped()) {
    if (state.codedBytes == 0) code = connection.gzip.Start();
    state.codedBytes += bytes;
    if (code == ZENTA_OK) {
      code = connection.gzip.Feed(data, bytes, *state.body, state.report->detail);
    }
  } else if (code == ZENTA_OK) {
    code = state.body->Append(data, bytes);
    if (code == ZENTA_E_ANSWER_TOO_LARGE) {
      state.report->detail.Set("the answer grew past the cap of %lu bytes",
                               static_cast<unsigned long>(state.body->Cap()));
    }
  }
  return code;
}

}  // namespace

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& connection = *static_cast<CurlConnection*>(user);
  ExchangeState& state = connection.state;
  const std::size_t bytes = size * count;
  state.report->Reached(ExchangePhase::kAnswerStarted);
  int code = ZENTA_OK;
  if (!state.head.Chunked()) {
    code = Deliver(connection, data, bytes);
  } else {
    if (state.received == 0) connection.chunks.Start();
    code = connection.chunks.Feed(std::string_view(data, bytes), state.report->detail,
                                  [&connection](const char* piece, std::size_t length) {
                                    return Deliver(connection, piece, length);
                                  });
  }
  if (code == ZENTA_OK) {
    state.received += static_cast<long long>(bytes);
    if (state.call->progress == nullptr || TellProgress(state)) return bytes;
    return 0;
  }
  state.failure = code;
  return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
}

// Each line of the answer's heads (and its trailers) goes through the head's rules; a line that
// breaks one stops the exchange.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  ExchangeState& state = static_cast<CurlConnection*>(user)->state;
  const std::size_t bytes = size * count;
  state.report->Reached(ExchangePhase::kAnswerStarted);
  const int code = state.head.Line(std::string_view(data, bytes), state.report->detail);
  if (code == ZENTA_OK) return bytes;
  state.failure = code;
  return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
}

// Called by libcurl with each socket it opens for a connection, before connecting it: this
// exchange does not go out on the connection that carried the last one.
int OnSocketOpen(void* user, curl_socket_t, curlsocktype purpose) {
  if (purpose == CURLSOCKTYPE_IPCXN) static_cast<CurlConnection*>(user)->state.connected = true;
  return CURL_SOCKOPT_OK;
}

// Called by libcurl instead of closing each socket of a connection itself.
int OnSocketClose(void* user, curl_socket_t socket) {
  auto& connection = *static_cast<CurlConnection*>(user);
  if (connection.socket == socket) connection.socket = CURL_SOCKET_BAD;
  return CloseSocket(socket);
}

// Called by libcurl right before it sends the request on a connection. A second call in one
// exchange is libcurl about to send the request again, on a new connection, because the reused
// one died: refused, so the policy alone decides what is sent twice.
int OnSend(void* user, char*, char*, int, int) {
  ExchangeState& state = static_cast<CurlConnection*>(user)->state;
  if (++state.sends > 1) return CURL_PREREQFUNC_ABORT;
  state.report->reused = !state.connected;
  state.report->Reached(ExchangePhase::kRequestSent);
  return CURL_PREREQFUNC_OK;
}

bool SocketHasInput(curl_socket_t socket) {
  if (socket == CURL_SOCKET_BAD) return false;
  PollEntry waiting{socket, POLLIN, 0};
  return PollSockets(&waiting, 1, 0) != 0;  // bytes, the end of the stream or an error
}

namespace {

// Tells libcurl which of the sockets waited for are ready. The ready ones are copied first, as
// the actions may change what is waited for.
CURLMcode ActOnReady(CURLM* multi, const Waits& waits, int& running) {
  PollEntry ready[Waits::kMost];
  int readyCount = 0;
  for (int i = 0; i < waits.count; ++i) {
    if (waits.sockets[i].revents != 0) ready[readyCount++] = waits.sockets[i];
  }
  CURLMcode status = CURLM_OK;
  for (int i = 0; i < readyCount && status == CURLM_OK; ++i) {
    const short events = ready[i].revents;
    const int mask = ((events & (POLLIN | POLLHUP)) != 0 ? CURL_CSELECT_IN : 0) |
                     ((events & POLLOUT) != 0 ? CURL_CSELECT_OUT : 0) |
                     ((events & (POLLERR | POLLNVAL)) != 0 ? CURL_CSELECT_ERR : 0);
    status = curl_multi_socket_action(multi, ready[i].fd, mask, &running);
  }
  return status;
}

}  // namespace

// Runs the exchange to its end as curl_easy_perform does, on the connection's multi handle, by
// socket actions: libcurl starts at once (curl_easy_perform first polls its multi handle's
// wake-up socket, with nothing to wait for yet), and when a wait finds the socket ready libcurl
// is told so and reads without polling it again. A system call less for each, per request.
// Learns the socket of a connection this exchange opened while the handle still belongs to the
// multi handle.
CURLcode Perform(CurlConnection& connection) {
  CURLM* multi = connection.multi.get();
  CURL* easy = connection.easy.get();
  Waits& waits = connection.waits;
  ExchangeState& state = connection.state;
  if (state.call->Cancelled()) return StopCancelled(state);  // nothing sent
  int running = 0;
  CURLMcode status = curl_multi_add_handle(multi, easy);
  if (status == CURLM_OK)
    status = curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
  CURLcode result = CURLE_OK;
  for (bool done = false; status == CURLM_OK;) {
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        result = message->data.result;
        done = true;
      }
    }
    if (done) break;
    if (state.call->Cancelled()) {
      result = StopCancelled(state);
      break;
    }
    if (waits.timerMs == 0) {  // due now: no wait
      status = curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
      continue;
    }
    // At most kCancelPollMs, so that a cancel is seen: libcurl's timers end it sooner.
    const int ready = PollSockets(waits.sockets, waits.count,
                                  waits.timerMs < 0 || waits.timerMs > kCancelPollMs
                                      ? kCancelPollMs
                                      : static_cast<int>(waits.timerMs));
    if (ready < 0) {
      result = CURLE_RECV_ERROR;
      break;
    }
    if (state.call->progress != nullptr && state.head.Complete() && !TellProgress(state)) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    status = ready == 0 ? curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running)
                        : ActOnReady(multi, waits, running);
  }
  if (status != CURLM_OK) {
    result = status == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
  }
  if (state.connected) {
    // A new connection: its socket, or none when libcurl did not keep it.
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK) {
      socket = CURL_SOCKET_BAD;
    }
    connection.socket = socket;
  }
  curl_multi_remove_handle(multi, easy);
  return result;
}

}  // namespace zenta
