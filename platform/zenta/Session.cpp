// Sessions: the handle table, opening and closing, and carrying a request on a session.
#include <zenta/ZentaSdk.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "ServerUrl.h"
#include "Trace.h"
#include "Transport.h"
#include "ZentaInternal.h"

namespace zenta {
namespace {

// Size of the first published ZENTA_SessionOptions: every field up to and including caFile.
constexpr std::size_t kOptionsFirstVersionSize =
    offsetof(ZENTA_SessionOptions, caFile) + sizeof(const char*);
// Fields added later are read only from a struct whose structSize covers them.
constexpr std::size_t kOptionsMaxAnswerBytesEnd =
    offsetof(ZENTA_SessionOptions, maxAnswerBytes) + sizeof(int);
constexpr int kDefaultConnectTimeoutMs = 5000;
constexpr int kDefaultRequestTimeoutMs = 30000;
constexpr int kDefaultMaxConnections = 4;
constexpr int kMostConnections = 64;
constexpr int kVerifyTlsOff = 2;

// One server plus its transport. Calls hold a shared_ptr, so a session outlives its removal from
// the table until the last call on it has returned.
class Session {
 public:
  Session(std::string basePath, std::unique_ptr<Transport> transport)
      : basePath_(std::move(basePath)), transport_(std::move(transport)) {}

  int Perform(const HttpRequest& request, HttpAnswer& answer) {
    Transport* transport = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return ZENTA_E_SESSION_CLOSED;
      ++inFlight_;
      transport = transport_.get();
    }
    const CallGuard guard(*this);
    if (!TraceEnabled()) return transport->Perform(request, basePath_, answer);
    const auto start = std::chrono::steady_clock::now();
    const int code = transport->Perform(request, basePath_, answer);
    TraceRequest(request.method, basePath_ + request.target, code, answer.status,
                 answer.body.size(),
                 std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start));
    return code;
  }

  // Refuses new calls, fails the ones waiting for a connection, waits for the exchanges under way
  // and then frees the transport with its connections.
  void Close() {
    Transport* transport = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      transport = transport_.get();
    }
    transport->Shutdown();
    std::unique_ptr<Transport> released;
    std::unique_lock<std::mutex> lock(mutex_);
    callsDone_.wait(lock, [this] { return inFlight_ == 0; });
    released = std::move(transport_);
  }

 private:
  // Counts a call out of the session on every exit path.
  class CallGuard {
   public:
    explicit CallGuard(Session& session) : session_(session) {}
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
    ~CallGuard() {
      std::lock_guard<std::mutex> lock(session_.mutex_);
      if (--session_.inFlight_ == 0) session_.callsDone_.notify_all();
    }

   private:
    Session& session_;
  };

  const std::string basePath_;
  std::mutex mutex_;
  std::condition_variable callsDone_;
  bool closed_ = false;
  int inFlight_ = 0;
  std::unique_ptr<Transport> transport_;
};

class SessionTable {
 public:
  // Writes a fresh handle; handles count up from 1 and are never given out twice.
  int Add(std::shared_ptr<Session> session, int& handle) {
    const long long next = nextHandle_.fetch_add(1);
    if (next > INT_MAX) return ZENTA_E_HANDLES_EXHAUSTED;
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.emplace(static_cast<int>(next), std::move(session));
    handle = static_cast<int>(next);
    return ZENTA_OK;
  }

  std::shared_ptr<Session> Find(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = sessions_.find(handle);
    return entry == sessions_.end() ? nullptr : entry->second;
  }

  std::shared_ptr<Session> Remove(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = sessions_.find(handle);
    if (entry == sessions_.end()) return nullptr;
    std::shared_ptr<Session> removed = std::move(entry->second);
    sessions_.erase(entry);
    return removed;
  }

 private:
  std::atomic<long long> nextHandle_{1};
  std::mutex mutex_;
  std::unordered_map<int, std::shared_ptr<Session>> sessions_;
};

SessionTable& Sessions() {
  static SessionTable table;
  return table;
}

int ReadOptions(const ZENTA_SessionOptions* options, TransportConfig& config) {
  int connectMs = 0;
  int requestMs = 0;
  int maxConnections = 0;
  int verifyTls = 0;
  const char* caFile = nullptr;
  int maxAnswerBytes = 0;
  if (options != nullptr) {
    if (options->structSize < kOptionsFirstVersionSize) return ZENTA_E_OPTIONS_SIZE;
    connectMs = options->connectTimeoutMs;
    requestMs = options->requestTimeoutMs;
    maxConnections = options->maxConnections;
    verifyTls = options->verifyTls;
    caFile = options->caFile;
    if (options->structSize >= kOptionsMaxAnswerBytesEnd) maxAnswerBytes = options->maxAnswerBytes;
  }
  if (connectMs < 0 || requestMs < 0 || maxConnections < 0 || maxConnections > kMostConnections ||
      verifyTls < 0 || verifyTls > kVerifyTlsOff || maxAnswerBytes < 0) {
    return ZENTA_E_BAD_OPTION;
  }
  config.connectTimeout =
      std::chrono::milliseconds(connectMs == 0 ? kDefaultConnectTimeoutMs : connectMs);
  config.requestTimeout =
      std::chrono::milliseconds(requestMs == 0 ? kDefaultRequestTimeoutMs : requestMs);
  config.maxConnections = maxConnections == 0 ? kDefaultMaxConnections : maxConnections;
  config.verifyTls = verifyTls != kVerifyTlsOff;
  config.caFile = caFile == nullptr ? std::string() : std::string(caFile);
  config.maxAnswerBytes =
      maxAnswerBytes == 0 ? kMaxAnswerBytes : static_cast<std::size_t>(maxAnswerBytes);
  return ZENTA_OK;
}

int OpenSession(const char* serverUrl, const ZENTA_SessionOptions* options, int& handle) {
  ServerUrl url;
  int status = ParseServerUrl(serverUrl, url);
  if (status != ZENTA_OK) return status;
  TransportConfig config;
  status = ReadOptions(options, config);
  if (status != ZENTA_OK) return status;
  config.https = url.https;
  config.host = url.host;
  config.port = url.port;
  config.origin = url.origin;

  std::unique_ptr<Transport> transport = CreateTransport(config, status);
  if (!transport) return status;
  return Sessions().Add(std::make_shared<Session>(url.basePath, std::move(transport)), handle);
}

}  // namespace

int PerformRequest(int handle, const HttpRequest& request, HttpAnswer& answer) {
  const std::shared_ptr<Session> session = Sessions().Find(handle);
  if (!session) return ZENTA_E_UNKNOWN_HANDLE;
  return session->Perform(request, answer);
}

}  // namespace zenta

extern "C" {

ZENTA_API int ZENTA_OpenSession(const char* serverUrl, const ZENTA_SessionOptions* options,
                                int* handle) {
  if (handle == nullptr) return ZENTA_E_NULL_ARGUMENT;
  *handle = 0;
  try {
    return zenta::OpenSession(serverUrl, options, *handle);
  } catch (const std::bad_alloc&) {
    return ZENTA_E_NO_MEMORY;
  }
}

ZENTA_API int ZENTA_CloseSession(int handle) {
  const std::shared_ptr<zenta::Session> session = zenta::Sessions().Remove(handle);
  if (!session) return ZENTA_E_UNKNOWN_HANDLE;
  session->Close();
  return ZENTA_OK;
}

}  // extern "C"
