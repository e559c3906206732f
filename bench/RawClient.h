// The bare libcurl client of the end-to-end benchmark: what the library's request costs without
// the library and its gateway.
#ifndef CORVANE_BENCH_RAWCLIENT_H
#define CORVANE_BENCH_RAWCLIENT_H

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

namespace corvane_bench {

// One easy handle set up once for one request and performed again and again. With a CA file the
// connection is https with the gateway's TLS settings: the server verified against that file
// alone (peer and host name), HTTP/1.1, libcurl's default TLS versions.
class RawClient {
 public:
  // headers: whole lines ("Name: value"); body: null for a GET, else a POST of it. parsedUrl:
  // the URL handed over parsed (CURLOPT_CURLU) instead of as text, as the gateway hands it.
  RawClient(const std::string& url, const std::string& caFile,
            const std::vector<std::string>& headers, const char* body, bool parsedUrl = false);

  // Returns 0 when an answer with HTTP 200 arrived.
  int Call();
  const std::string& Answer() const { return answer_; }

 private:
  void Append(const char* line);

  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed_{nullptr, &curl_url_cleanup};
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy_{curl_easy_init(), &curl_easy_cleanup};
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers_{nullptr,
                                                                       &curl_slist_free_all};
  std::string url_;
  std::string answer_;
};

// One request with method to url (trusting caFile when not empty) on a handle of its own;
// returns the answer body, throws std::runtime_error when no answer came. With tls, writes there
// the TLS version and cipher that libcurl reports for the handshake, if any.
std::string Fetch(const std::string& url, const std::string& caFile, const char* method,
                  std::string* tls = nullptr);

}  // namespace corvane_bench

#endif  // CORVANE_BENCH_RAWCLIENT_H
