// The libcurl transport, the same on Linux and Windows: a connection is an easy handle with a
// connection cache of one, so a handle that goes back to the session's pool keeps its keep-alive
// connection for the next exchange on it. Each exchange is exactly one request: libcurl's own
// re-send of a request whose reused connection died is refused (the pre-request callback aborts a
// second send) and left to the session's policy. Proxies are libcurl's (the environment's on
// Linux, the system's on Windows, unless the session names one), and gzip-coded answers are
// decoded here, with zlib, so that the answer cap counts decoded bytes and a cut gzip stream is
// refused. What differs between the platforms is in CurlPlatform.cpp.
#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "../Transport.h"
#include "CurlConnection.h"
#include "CurlErrors.h"
#include "CurlPlatform.h"

namespace zenta {
namespace {

CURLcode InitCurlOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

// Methods that carry a body by nature: without one they still announce "Content-Length: 0".
bool ExpectsBody(std::string_view method) {
  return method == "POST" || method == "PUT" || method == "PATCH";
}

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(const TransportConfig& config) : config_(config) {}

  std::unique_ptr<Connection> NewConnection() override {
    std::unique_ptr<CurlConnection> connection(new (std::nothrow) CurlConnection);
    if (connection) {
      connection->multi.reset(curl_multi_init());
      connection->easy.reset(curl_easy_init());
    }
    if (!connection || !connection->multi || !connection->easy) return nullptr;
    CURLM* multi = connection->multi.get();
    void* waits = &connection->waits;
    if (curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &OnSocketWait) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, waits) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &OnTimerWait) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, waits) != CURLM_OK) {
      return nullptr;
    }
    return connection;
  }

  bool HasPendingInput(Connection& base) override {
    return SocketHasInput(static_cast<CurlConnection&>(base).socket);
  }

  void Disconnect(Connection& connection) override {
    static_cast<CurlConnection&>(connection).fresh = true;
  }

  int Exchange(Connection& base, const ZENTA_HttpRequest& request, Clock::time_point deadline,
               ZENTA_HttpAnswer& answer, AnswerBuffer& body, ExchangeReport& report,
               const CallControl& call) override {
    auto& connection = static_cast<CurlConnection&>(base);
    const std::string_view method(request.method, request.methodLength);
    const bool sendsBody = request.bodyLength > 0 || ExpectsBody(method);
    int status = Configure(connection, config_, request, method, sendsBody);
    if (status != ZENTA_OK) {
      report.detail.Set("libcurl refused the request's options");
      return status;
    }
    connection.state = ExchangeState();
    connection.state.head.Start(&answer, method == "HEAD", config_.gzip);
    connection.state.body = &body;
    connection.state.report = &report;
    connection.state.call = &call;
    connection.errors[0] = '\0';
    CURL* easy = connection.easy.get();
    CURLcode result = SetPerExchange(connection, request, sendsBody, deadline);
    if (result == CURLE_OK) result = Perform(connection);
    if (connection.fresh) {
      connection.fresh = false;
      curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 0L);
    }
    const ExchangeState& state = connection.state;
    if (result == CURLE_OK && state.head.Complete()) {
      if (state.codedBytes == 0 || connection.gzip.Ended()) return ZENTA_OK;
      report.detail.Set("the answer's gzip stream is cut: its body ended before the stream did");
      return ZENTA_E_PROTOCOL;
    }
    if (state.failure != ZENTA_OK) return state.failure;
    if (result == CURLE_OK) {
      report.detail.Set("the answer ended before its head did");
      return ZENTA_E_PROTOCOL;
    }
    if (connection.state.sends > 1) {
      report.detail.Set(
          "the server closed the connection after the request went out, without an answer "
          "(not sent again)");
      return ZENTA_E_RECEIVE;
    }
    const int code = Describe(easy, result, connection.errors, report);
    return NameFailure(connection, config_, result, code, report.detail);
  }

 private:
  const TransportConfig config_;
};

// A CA file must be readable when the session opens, as a client certificate must: a session
// whose every https exchange would fail is refused at once, naming the option.
int CheckCaFile(const TransportConfig& config, Detail& detail) {
  if (!config.https || !config.verifyTls || config.caFile.empty()) return ZENTA_OK;
  std::FILE* readable = std::fopen(config.caFile.c_str(), "rb");
  if (readable == nullptr) {
    detail.Set("the session option caFile (\"%.200s\") cannot be read", config.caFile.c_str());
    return ZENTA_E_BAD_OPTION;
  }
  std::fclose(readable);
  return ZENTA_OK;
}

}  // namespace

std::unique_ptr<Transport> CreateTransport(const TransportConfig& config, int& status,
                                           Detail& detail) {
  status = CheckCaFile(config, detail);
  if (status == ZENTA_OK) status = CheckTlsOptions(config, detail);
  std::string why;
  if (status == ZENTA_OK && !config.proxy.empty() && !ProxyUrlIsValid(config.proxy, why)) {
    detail.Set("the session option proxy is not a URL libcurl can use (%s)", why.c_str());
    status = ZENTA_E_BAD_OPTION;
  }
  if (status != ZENTA_OK) return nullptr;
  if (InitCurlOnce() != CURLE_OK) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
  if (config.https && (version == nullptr || (version->features & CURL_VERSION_SSL) == 0)) {
    status = ZENTA_E_TRANSPORT_INIT;
    return nullptr;
  }
  TransportConfig withProxy = config;
  if (!withProxy.proxySet) FindSystemProxy(withProxy);
  status = ZENTA_OK;
  return std::make_unique<CurlTransport>(withProxy);
}

}  // namespace zenta
