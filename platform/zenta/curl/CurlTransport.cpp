// The libcurl transport: a pool of easy handles per session. An easy handle keeps its own
// connection cache, so a handle that goes back to the pool keeps its keep-alive connection for
// the next call that borrows it; at most maxConnections exchanges run at once per session.
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../Transport.h"

namespace zenta {
namespace {

using EasyHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using Clock = std::chrono::steady_clock;

CURLcode InitCurlOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

// The one place where a libcurl result becomes a ZENTA code.
int CodeOf(CURLcode result) {
  switch (result) {
    case CURLE_OK:
      return ZENTA_OK;
    case CURLE_OUT_OF_MEMORY:
      return ZENTA_E_NO_MEMORY;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ZENTA_E_RESOLVE;
    case CURLE_COULDNT_CONNECT:
      return ZENTA_E_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ZENTA_E_TIMEOUT;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return ZENTA_E_TLS;
    case CURLE_SEND_ERROR:
    case CURLE_SEND_FAIL_REWIND:
      return ZENTA_E_SEND;
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return ZENTA_E_RECEIVE;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_BAD_CONTENT_ENCODING:
      return ZENTA_E_PROTOCOL;
    case CURLE_FILESIZE_EXCEEDED:
      return ZENTA_E_ANSWER_TOO_LARGE;
    case CURLE_FAILED_INIT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_BAD_FUNCTION_ARGUMENT:
      return ZENTA_E_TRANSPORT_INIT;
    default:
      return ZENTA_E_TRANSPORT;
  }
}

// Applies options in order and keeps the first failure, so a whole configuration is checked once.
class OptionSetter {
 public:
  explicit OptionSetter(CURL* easy) : easy_(easy) {}

  template <typename Value>
  OptionSetter& Set(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(easy_, option, value);
    return *this;
  }

  CURLcode Result() const { return result_; }

 private:
  CURL* easy_;
  CURLcode result_ = CURLE_OK;
};

// Where the write callback puts the answer body, and why it stopped early if it did.
struct BodySink {
  CURL* easy = nullptr;
  std::vector<char>* body = nullptr;
  std::size_t cap = 0;
  bool tooLarge = false;
  bool noMemory = false;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  BodySink& sink = *static_cast<BodySink*>(user);
  const std::size_t bytes = size * count;
  if (bytes > sink.cap - sink.body->size()) {
    sink.tooLarge = true;
    return 0;  // makes curl stop with CURLE_WRITE_ERROR
  }
  try {
    if (sink.body->empty()) {
      // Reserve the announced length (within the cap) plus the NUL the hand-over appends.
      curl_off_t announced = -1;
      if (curl_easy_getinfo(sink.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
              CURLE_OK &&
          announced > 0 && static_cast<std::size_t>(announced) <= sink.cap) {
        sink.body->reserve(static_cast<std::size_t>(announced) + 1);
      }
    }
    sink.body->insert(sink.body->end(), data, data + bytes);
  } catch (const std::bad_alloc&) {
    sink.noMemory = true;
    return 0;
  }
  return bytes;
}

// A CURL easy handle and what is configured on it. Requests of one kind follow each other on a
// handle, so each exchange sets only what differs from the previous one: the options of its
// shape (method, with or without a body) stay, and the URL and header list are compared with the
// ones set and kept when equal. The handle is heap-allocated so that the sink's address, given
// to curl once, stays put while the handle moves between the pool and its borrowers.
struct PooledHandle {
  EasyHandle easy{nullptr, &curl_easy_cleanup};
  // Carried an exchange before, so it may hold a keep-alive connection that the server has
  // closed meanwhile.
  bool used = false;
  // The shape whose options are set; configured is false for a new handle and after a failure.
  bool configured = false;
  std::string method;
  bool sendsBody = false;
  std::string url;          // CURLOPT_URL as set
  std::string headerLines;  // the lines of headers, each NUL-terminated
  HeaderList headers{nullptr, &curl_slist_free_all};
  std::string next;  // the next exchange's URL or header lines, built here to be compared
  BodySink sink;
};
using HandlePtr = std::unique_ptr<PooledHandle>;

class HandlePool {
 public:
  explicit HandlePool(int size) : size_(size) { idle_.reserve(static_cast<std::size_t>(size)); }

  // Hands out an idle handle, or a new one while fewer than size exist, waiting at most until
  // deadline. Returns 0, ZENTA_E_TIMEOUT, ZENTA_E_SESSION_CLOSED or ZENTA_E_NO_MEMORY.
  int Borrow(Clock::time_point deadline, HandlePtr& out) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool ready = available_.wait_until(
        lock, deadline, [this] { return closed_ || !idle_.empty() || created_ < size_; });
    if (closed_) return ZENTA_E_SESSION_CLOSED;
    if (!ready) return ZENTA_E_TIMEOUT;
    if (!idle_.empty()) {
      out = std::move(idle_.back());
      idle_.pop_back();
      return ZENTA_OK;
    }
    ++created_;
    lock.unlock();
    HandlePtr handle(new (std::nothrow) PooledHandle);
    if (handle) handle->easy.reset(curl_easy_init());
    if (!handle || !handle->easy) {
      lock.lock();
      --created_;
      available_.notify_one();
      return ZENTA_E_NO_MEMORY;
    }
    handle->sink.easy = handle->easy.get();
    out = std::move(handle);
    return ZENTA_OK;
  }

  void Return(HandlePtr&& handle) {
    HandlePtr dropped;  // cleaned up after the lock is released
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        --created_;
        dropped = std::move(handle);
      } else {
        idle_.push_back(std::move(handle));  // never reallocates: capacity is size_
      }
    }
    available_.notify_one();
  }

  void Shutdown() {
    std::vector<HandlePtr> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      created_ -= static_cast<int>(idle_.size());
      dropped.swap(idle_);
    }
    available_.notify_all();
  }

 private:
  const int size_;
  std::mutex mutex_;
  std::condition_variable available_;
  std::vector<HandlePtr> idle_;
  int created_ = 0;
  bool closed_ = false;
};

// Returns a borrowed handle to its pool on every exit path.
class Loan {
 public:
  explicit Loan(HandlePool& pool) : pool_(pool) {}
  Loan(const Loan&) = delete;
  Loan& operator=(const Loan&) = delete;
  ~Loan() {
    if (handle_) pool_.Return(std::move(handle_));
  }
  HandlePtr& Handle() { return handle_; }

 private:
  HandlePool& pool_;
  HandlePtr handle_;
};

// Methods that carry a body by nature: without one they still announce "Content-Length: 0".
bool ExpectsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

// Network errors that mean a kept-alive connection was already dead when it was reused.
bool IsStaleConnectionError(CURLcode result) {
  return result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING;
}

// Record headers in record order, then the suppressions that keep curl from adding headers the
// caller did not ask for: "Expect: 100-continue" (a wasted round trip) and the form Content-Type
// curl gives a body by default. Each line ends with a NUL, ready for curl_slist_append.
void WriteHeaderLines(const HttpRequest& request, bool sendsBody, std::string& lines) {
  lines.clear();
  bool hasContentType = false;
  for (const HttpHeader& header : request.headers) {
    hasContentType = hasContentType || EqualsIgnoringAsciiCase(header.name, "Content-Type");
    lines.append(header.name);
    // curl sends "Name;" as a header with an empty value ("Name:" would remove the header).
    if (header.value.empty()) {
      lines.push_back(';');
    } else {
      lines.append(": ").append(header.value);
    }
    lines.push_back('\0');
  }
  if (sendsBody) {
    lines.append("Expect:", sizeof "Expect:");  // with its NUL
    if (!hasContentType) lines.append("Content-Type:", sizeof "Content-Type:");
  }
}

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(const TransportConfig& config)
      : config_(config), pool_(config.maxConnections) {}

  int Perform(const HttpRequest& request, std::string_view basePath, HttpAnswer& answer) override {
    const Clock::time_point deadline = Clock::now() + config_.requestTimeout;
    Loan loan(pool_);
    int status = pool_.Borrow(deadline, loan.Handle());
    if (status != ZENTA_OK) return status;
    PooledHandle& handle = *loan.Handle();

    const bool sendsBody = request.bodyLength > 0 || ExpectsBody(request.method);
    status = Configure(handle, request, sendsBody, basePath);
    if (status != ZENTA_OK) return status;
    handle.sink.body = &answer.body;
    handle.sink.cap = config_.maxAnswerBytes;

    // A GET is safe to repeat, so it gets one more try when the only fault was a reused
    // connection that the server had closed; nothing else is ever sent twice by this code.
    for (int attempt = 0;; ++attempt) {
      answer.body.clear();
      handle.sink.tooLarge = false;
      handle.sink.noMemory = false;
      CURLcode result = SetPerExchange(handle, request, sendsBody, deadline);
      if (result != CURLE_OK) {
        handle.configured = false;
        return CodeOf(result);
      }
      result = curl_easy_perform(handle.easy.get());
      const bool wasUsed = handle.used;
      handle.used = true;
      if (result == CURLE_OK) return ReadAnswer(handle.easy.get(), answer);
      if (handle.sink.tooLarge) return ZENTA_E_ANSWER_TOO_LARGE;
      if (handle.sink.noMemory) return ZENTA_E_NO_MEMORY;
      long newConnections = -1;
      const bool reused = wasUsed &&
                          curl_easy_getinfo(handle.easy.get(), CURLINFO_NUM_CONNECTS,
                                            &newConnections) == CURLE_OK &&
                          newConnections == 0;
      if (attempt == 0 && reused && request.method == "GET" && IsStaleConnectionError(result) &&
          Clock::now() < deadline) {
        continue;
      }
      return CodeOf(result);
    }
  }

  void Shutdown() override { pool_.Shutdown(); }

 private:
  // Brings the handle's options to this request's, except those set for each exchange. Nothing
  // leaks from the previous request on the handle: an exchange of another shape starts from
  // curl's defaults (the reset keeps the handle's live connections); one of the same shape
  // finds every option of that shape already set, as the previous exchange set it.
  int Configure(PooledHandle& handle, const HttpRequest& request, bool sendsBody,
                std::string_view basePath) {
    CURL* easy = handle.easy.get();
    if (!handle.configured || handle.sendsBody != sendsBody || handle.method != request.method) {
      curl_easy_reset(easy);
      handle.configured = false;
      handle.url.clear();
      handle.headerLines.clear();
      handle.headers.reset();
      handle.method = request.method;
      handle.sendsBody = sendsBody;
      const CURLcode result = SetShape(easy, request.method, &handle.sink);
      if (result != CURLE_OK) return CodeOf(result);
      handle.configured = true;
    }

    handle.next.assign(config_.origin).append(basePath).append(request.target);
    if (handle.next != handle.url) {
      const CURLcode result = curl_easy_setopt(easy, CURLOPT_URL, handle.next.c_str());
      if (result != CURLE_OK) {
        handle.configured = false;
        return CodeOf(result);
      }
      handle.url.swap(handle.next);
    }

    WriteHeaderLines(request, sendsBody, handle.next);
    if (handle.next != handle.headerLines) {
      HeaderList list(nullptr, &curl_slist_free_all);
      const char* end = handle.next.data() + handle.next.size();
      for (const char* line = handle.next.data(); line < end; line += std::strlen(line) + 1) {
        curl_slist* grown = curl_slist_append(list.get(), line);
        if (grown == nullptr) return ZENTA_E_NO_MEMORY;
        if (!list) list.reset(grown);  // later appends return the same head
      }
      const CURLcode result = curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list.get());
      if (result != CURLE_OK) {
        handle.configured = false;
        return CodeOf(result);
      }
      handle.headers = std::move(list);  // the list curl no longer points to goes now
      handle.headerLines.swap(handle.next);
    }
    return ZENTA_OK;
  }

  // The options that depend only on the session and the method.
  CURLcode SetShape(CURL* easy, const std::string& method, BodySink* sink) const {
    OptionSetter options(easy);
    options.Set(CURLOPT_NOSIGNAL, 1L)
        .Set(CURLOPT_PATH_AS_IS, 1L)
        .Set(CURLOPT_PROXY, "")
        .Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))
        .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config_.connectTimeout.count()))
        .Set(CURLOPT_WRITEFUNCTION, &WriteBody)
        .Set(CURLOPT_WRITEDATA, static_cast<void*>(sink))
        .Set(CURLOPT_CUSTOMREQUEST, method.c_str());
    if (config_.https) {
      options.Set(CURLOPT_SSL_VERIFYPEER, config_.verifyTls ? 1L : 0L)
          .Set(CURLOPT_SSL_VERIFYHOST, config_.verifyTls ? 2L : 0L);
      if (!config_.caFile.empty()) options.Set(CURLOPT_CAINFO, config_.caFile.c_str());
    }
    // An answer announcing more than the cap is refused before its body is read; an answer to
    // HEAD announces the length of a body that never comes, so only the sink's own count
    // applies to it.
    if (method == "HEAD") {
      options.Set(CURLOPT_NOBODY, 1L);
    } else {
      options.Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(config_.maxAnswerBytes));
    }
    // libcurl re-sends a request whose reused connection closed before any answer byte came
    // back. For a request that is not idempotent, reuse only a connection that was busy within
    // the last second: a server's keep-alive close, the usual cause, comes after a longer idle.
    if (method != "GET" && method != "HEAD") options.Set(CURLOPT_MAXAGE_CONN, 1L);
    return options.Result();
  }

  // The options that change with every exchange: the time left and the body.
  static CURLcode SetPerExchange(PooledHandle& handle, const HttpRequest& request, bool sendsBody,
                                 Clock::time_point deadline) {
    // Rounded up: a timeout cut to whole milliseconds must not end the exchange early.
    const auto remaining =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    OptionSetter options(handle.easy.get());
    options.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(remaining > 1 ? remaining : 1));
    if (sendsBody) {
      options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength))
          .Set(CURLOPT_POSTFIELDS, request.bodyLength > 0 ? request.body : "");
    }
    return options.Result();
  }

  static int ReadAnswer(CURL* easy, HttpAnswer& answer) {
    long httpStatus = 0;
    char* contentType = nullptr;
    CURLcode result = curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);
    if (result == CURLE_OK) result = curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &contentType);
    if (result != CURLE_OK) return CodeOf(result);
    answer.status = static_cast<int>(httpStatus);
    answer.contentType = contentType == nullptr ? std::string() : std::string(contentType);
    return ZENTA_OK;
  }

  const TransportConfig config_;
  HandlePool pool_;
};

}  // namespace

std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status) {
  if (InitCurlOnce() != CURLE_OK) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
  if (config.https && (version == nullptr || (version->features & CURL_VERSION_SSL) == 0)) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  status = ZENTA_OK;
  return std::make_unique<CurlTransport>(config);
}

}  // namespace zenta
