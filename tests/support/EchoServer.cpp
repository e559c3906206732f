#include "EchoServer.h"

#include <cstdlib>

namespace corvane_test {
namespace http = corvane::http;

EchoServer::EchoServer(int port) {
  http::ServerOptions options;
  options.port = port;
  server_ = std::make_unique<http::Server>(
      options, [this](const http::Request& req, http::AnswerWriter& out) { Answer(req, out); });
  server_->Start();
}

int EchoServer::CountToken(const std::string& token, int add) {
  std::lock_guard<std::mutex> lock(mutex_);
  return tokenCounts_[token] += add;
}

void EchoServer::Answer(const http::Request& req, http::AnswerWriter& out) {
  int status = 200;
  http::Headers headers{{"Content-Type", "text/plain"}};
  int delayMs = 0;
  std::string body = std::to_string(req.connection) + "\n" + req.head + "\r\n" + req.body;
  long long bytes = -1;  // -1: the body above
  bool chunked = false;
  std::string closeOnce, resetOnce;
  // The leading "name/value" segments of the target, up to the first unknown name.
  for (std::size_t at = 1;;) {
    const std::size_t nameEnd = req.target.find('/', at);
    if (nameEnd == std::string::npos) break;
    const std::size_t valueEnd =
        std::min(req.target.find_first_of("/?", nameEnd + 1), req.target.size());
    const std::string name = req.target.substr(at, nameEnd - at);
    const std::string value = req.target.substr(nameEnd + 1, valueEnd - nameEnd - 1);
    if (name == "status") {
      status = std::atoi(value.c_str());
    } else if (name == "type") {
      headers.clear();
      if (value != "-") headers.emplace_back("Content-Type", http::PercentDecode(value, false));
    } else if (name == "delay") {
      delayMs = std::atoi(value.c_str());
    } else if (name == "body") {
      body = http::PercentDecode(value, false);
    } else if (name == "bytes" || name == "chunked") {
      bytes = std::atoll(value.c_str());
      chunked = name == "chunked";
    } else if (name == "location") {
      headers.emplace_back("Location", http::PercentDecode(value, false));
    } else if (name == "close-once") {
      closeOnce = value;
    } else if (name == "reset-once") {
      resetOnce = value;
    } else if (name == "tag") {
      CountToken(value, 1);
    } else if (name == "count") {
      body = std::to_string(CountToken(value, 0));
    } else {
      break;
    }
    if (valueEnd >= req.target.size() || req.target[valueEnd] != '/') break;
    at = valueEnd + 1;
  }
  if (!closeOnce.empty() && CountToken(closeOnce, 1) == 1) return out.Close();
  if (delayMs > 0) out.Sleep(delayMs);
  if (!resetOnce.empty() && CountToken(resetOnce, 1) == 1) {
    // The head of an answer whose body never comes: a reset instead of its 10 bytes.
    headers.emplace_back("Content-Length", "10");
    out.WriteHead(status, headers);
    return out.Reset();
  }
  // Answers to HEAD, and 1xx, 204 and 304 answers, announce the body a GET would get without
  // sending it.
  const bool bodyless = out.HeadRequest() || status < 200 || status == 204 || status == 304;
  if (bytes >= 0) body.assign(bodyless ? 0 : bytes, 'a');
  if (chunked && !bodyless) {
    headers.emplace_back("Transfer-Encoding", "chunked");
    if (!out.WriteHead(status, headers) || (!body.empty() && !out.WriteChunk(body)) ||
        !out.WriteChunk({})) {
      out.Close();
    }
    return;
  }
  headers.emplace_back("Content-Length", std::to_string(bytes >= 0 ? bytes : body.size()));
  if (!out.WriteHead(status, headers) || (!bodyless && !out.Write(body))) out.Close();
}

}  // namespace corvane_test
