#include "RawClient.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace corvane_bench {
namespace {

std::size_t KeepBody(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Keeps what libcurl says of the TLS handshake: "SSL connection using TLSv1.3 / cipher".
int KeepTlsLine(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
  const std::string line(data, size);
  const std::string prefix = "SSL connection using ";
  if (type == CURLINFO_TEXT && line.rfind(prefix, 0) == 0) {
    *static_cast<std::string*>(user) =
        line.substr(prefix.size(), line.find_last_not_of("\r\n") + 1 - prefix.size());
  }
  return 0;
}

void TrustOnly(CURL* easy, const std::string& caFile) {
  if (caFile.empty()) return;
  curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
}

}  // namespace

RawClient::RawClient(const std::string& url, const std::string& caFile,
                     const std::vector<std::string>& headers, const char* body, bool parsedUrl)
    : url_(url) {
  for (const std::string& header : headers) Append(header.c_str());
  CURL* easy = easy_.get();
  curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
  if (parsedUrl) {
    parsed_.reset(curl_url());
    if (!parsed_ || curl_url_set(parsed_.get(), CURLUPART_URL, url_.c_str(), 0) != CURLUE_OK) {
      throw std::runtime_error("the bench's URL does not parse: " + url_);
    }
    curl_easy_setopt(easy, CURLOPT_CURLU, parsed_.get());
  }
  if (!caFile.empty()) {
    TrustOnly(easy, caFile);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  }
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &KeepBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&answer_));
  if (body != nullptr) {
    Append("Expect:");  // as the gateway does: no 100-continue round trip
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(std::strlen(body)));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_.get());
}

int RawClient::Call() {
  answer_.clear();
  if (curl_easy_perform(easy_.get()) != CURLE_OK) return -1;
  long status = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  return status == 200 ? 0 : static_cast<int>(status);
}

void RawClient::Append(const char* line) {
  curl_slist* grown = curl_slist_append(headers_.get(), line);
  if (grown == nullptr) throw std::bad_alloc();
  if (!headers_) headers_.reset(grown);
}

std::string Fetch(const std::string& url, const std::string& caFile, const char* method,
                  std::string* tls) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
  std::string answer;
  if (tls != nullptr) {
    curl_easy_setopt(easy.get(), CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_DEBUGFUNCTION, &KeepTlsLine);
    curl_easy_setopt(easy.get(), CURLOPT_DEBUGDATA, static_cast<void*>(tls));
  }
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  TrustOnly(easy.get(), caFile);
  curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(easy.get(), CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &KeepBody);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, static_cast<void*>(&answer));
  if (curl_easy_perform(easy.get()) != CURLE_OK) throw std::runtime_error("control request failed");
  return answer;
}

}  // namespace corvane_bench
