// The libcurl transport: a pool of easy handles per session. An easy handle keeps its own
// connection cache, so a handle that goes back to the pool keeps its keep-alive connection for
// the next call that borrows it; at most maxConnections exchanges run at once per session.
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <string>
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

// A CURL easy handle with its history: a handle that carried an exchange before may hold a
// keep-alive connection that the server has closed meanwhile.
struct PooledHandle {
  EasyHandle easy{nullptr, &curl_easy_cleanup};
  bool used = false;
  // Method and body-ness of the exchange last configured on the handle, "" when unknown.
  std::string shape;
};

class HandlePool {
 public:
  explicit HandlePool(int size) : size_(size) { idle_.reserve(static_cast<std::size_t>(size)); }

  // Hands out an idle handle, or a new one while fewer than size exist, waiting at most until
  // deadline. Returns 0, ZENTA_E_TIMEOUT, ZENTA_E_SESSION_CLOSED or ZENTA_E_NO_MEMORY.
  int Borrow(Clock::time_point deadline, PooledHandle& out) {
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
    EasyHandle easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy) {
      lock.lock();
      --created_;
      available_.notify_one();
      return ZENTA_E_NO_MEMORY;
    }
    out.easy = std::move(easy);
    out.used = false;
    return ZENTA_OK;
  }

  void Return(PooledHandle&& handle) {
    PooledHandle dropped;  // cleaned up after the lock is released
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
    std::vector<PooledHandle> dropped;
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
  std::vector<PooledHandle> idle_;
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
    if (handle_.easy) pool_.Return(std::move(handle_));
  }
  PooledHandle& Handle() { return handle_; }

 private:
  HandlePool& pool_;
  PooledHandle handle_;
};

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Methods that carry a body by nature: without one they still announce "Content-Length: 0".
bool ExpectsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

// Network errors that mean a kept-alive connection was already dead when it was reused.
bool IsStaleConnectionError(CURLcode result) {
  return result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR || result == CURLE_GOT_NOTHING;
}

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(const TransportConfig& config)
      : config_(config), pool_(config.maxConnections) {}

  int Perform(const HttpRequest& request, const std::string& target, HttpAnswer& answer) override {
    const Clock::time_point deadline = Clock::now() + config_.requestTimeout;
    Loan loan(pool_);
    int status = pool_.Borrow(deadline, loan.Handle());
    if (status != ZENTA_OK) return status;
    PooledHandle& handle = loan.Handle();

    const bool sendsBody = request.bodyLength > 0 || ExpectsBody(request.method);
    HeaderList headers(nullptr, &curl_slist_free_all);
    status = BuildHeaders(request, sendsBody, headers);
    if (status != ZENTA_OK) return status;
    const std::string url = config_.origin + target;

    // A GET is safe to repeat, so it gets one more try when the only fault was a reused
    // connection that the server had closed; nothing else is ever sent twice by this code.
    for (int attempt = 0;; ++attempt) {
      answer.body.clear();
      BodySink sink;
      sink.easy = handle.easy.get();
      sink.body = &answer.body;
      sink.cap = config_.maxAnswerBytes;
      CURLcode result = Configure(handle, request, sendsBody, url, headers.get(), deadline, sink);
      if (result != CURLE_OK) return CodeOf(result);
      result = curl_easy_perform(handle.easy.get());
      const bool wasUsed = handle.used;
      handle.used = true;
      if (result == CURLE_OK) return ReadAnswer(handle.easy.get(), answer);
      if (sink.tooLarge) return ZENTA_E_ANSWER_TOO_LARGE;
      if (sink.noMemory) return ZENTA_E_NO_MEMORY;
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
  // Record headers in record order, then the suppressions that keep curl from adding headers the
  // caller did not ask for: "Expect: 100-continue" (a wasted round trip) and the form
  // Content-Type curl gives a body by default.
  static int BuildHeaders(const HttpRequest& request, bool sendsBody, HeaderList& list) {
    bool hasContentType = false;
    std::string line;
    auto append = [&list](const std::string& text) {
      curl_slist* grown = curl_slist_append(list.get(), text.c_str());
      if (grown == nullptr) return false;
      if (!list) list.reset(grown);  // later appends return the same head
      return true;
    };
    for (const HttpHeader& header : request.headers) {
      hasContentType = hasContentType || EqualsIgnoringCase(header.name, "Content-Type");
      // curl sends "Name;" as a header with an empty value ("Name:" would remove the header).
      line = header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
      if (!append(line)) return ZENTA_E_NO_MEMORY;
    }
    if (sendsBody) {
      if (!append("Expect:")) return ZENTA_E_NO_MEMORY;
      if (!hasContentType && !append("Content-Type:")) return ZENTA_E_NO_MEMORY;
    }
    return ZENTA_OK;
  }

  CURLcode Configure(PooledHandle& handle, const HttpRequest& request, bool sendsBody,
                     const std::string& url, curl_slist* headers, Clock::time_point deadline,
                     BodySink& sink) const {
    // Nothing leaks from the previous request on this handle: an exchange of another shape
    // (method, with or without a body) starts from curl's defaults; one of the same shape sets
    // again every option that the previous one set, so it needs no reset (which costs about as
    // much as all the options together). The reset keeps the handle's live connections.
    CURL* easy = handle.easy.get();
    const std::string shape = request.method + (sendsBody ? " with body" : "");
    if (shape != handle.shape) curl_easy_reset(easy);
    handle.shape.clear();
    // Rounded up: a timeout cut to whole milliseconds must not end the exchange early.
    const auto remaining =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    OptionSetter options(easy);
    options.Set(CURLOPT_URL, url.c_str())
        .Set(CURLOPT_NOSIGNAL, 1L)
        .Set(CURLOPT_PATH_AS_IS, 1L)
        .Set(CURLOPT_PROXY, "")
        .Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1))
        .Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config_.connectTimeout.count()))
        .Set(CURLOPT_TIMEOUT_MS, static_cast<long>(remaining > 1 ? remaining : 1))
        .Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(config_.maxAnswerBytes))
        .Set(CURLOPT_WRITEFUNCTION, &WriteBody)
        .Set(CURLOPT_WRITEDATA, static_cast<void*>(&sink))
        .Set(CURLOPT_HTTPHEADER, headers)
        .Set(CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (config_.https) {
      options.Set(CURLOPT_SSL_VERIFYPEER, config_.verifyTls ? 1L : 0L)
          .Set(CURLOPT_SSL_VERIFYHOST, config_.verifyTls ? 2L : 0L);
      if (!config_.caFile.empty()) options.Set(CURLOPT_CAINFO, config_.caFile.c_str());
    }
    if (request.method == "HEAD") options.Set(CURLOPT_NOBODY, 1L);
    // libcurl re-sends a request whose reused connection closed before any answer byte came
    // back. For a request that is not idempotent, reuse only a connection that was busy within
    // the last second: a server's keep-alive close, the usual cause, comes after a longer idle.
    if (request.method != "GET" && request.method != "HEAD") options.Set(CURLOPT_MAXAGE_CONN, 1L);
    if (sendsBody) {
      options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength))
          .Set(CURLOPT_POSTFIELDS, request.bodyLength > 0 ? request.body : "");
    }
    if (options.Result() == CURLE_OK) handle.shape = shape;
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
