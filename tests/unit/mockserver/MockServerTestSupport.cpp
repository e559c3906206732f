#include "MockServerTestSupport.h"

#include <netinet/in.h>
#include <poll.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>

namespace corvane::mock::testing {

httplib::Headers StandardHeaders() {
  return {
      {"Accept-Language", "en-US"}, {"Content-Type", kJsonContentType}, {"Time-Zone", "UTC+08:00"}};
}

std::string StandardHeaderLines() {
  return "Accept-Language: en-US\r\nContent-Type: application/json;charset=UTF-8\r\n"
         "Time-Zone: UTC+08:00\r\n";
}

std::string IdentityBody(const std::string& members) {
  std::string body = R"({"clientType":"WINPC_V2","clientMac":"00-1A-2B-3C-4D-5E","project":"QIRO")";
  if (!members.empty()) body += "," + members;
  return body + "}";
}

const rapidjson::Value& Envelope::Data() const {
  static const rapidjson::Value kNull;
  if (!isObject) return kNull;
  const auto member = document.FindMember("data");
  return member == document.MemberEnd() ? kNull : member->value;
}

Envelope ReadEnvelope(const httplib::Result& result) {
  Envelope envelope;
  if (!result) return envelope;
  envelope.received = true;
  envelope.status = result->status;
  envelope.contentType = result->get_header_value("Content-Type");
  envelope.body = result->body;
  envelope.document.Parse(envelope.body.data(), envelope.body.size());
  envelope.isObject = !envelope.document.HasParseError() && envelope.document.IsObject();
  if (envelope.isObject && envelope.document.HasMember("code") &&
      envelope.document["code"].IsInt()) {
    envelope.code = envelope.document["code"].GetInt();
  }
  return envelope;
}

std::string ToString(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string RawRequest(const std::string& method, const std::string& target,
                       const std::string& headerLines, const std::string& body) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headerLines +
                        "Connection: close\r\n";
  if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return request + "\r\n" + body;
}

std::string RawAnswer::Header(const std::string& name) const {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

RawAnswer RawExchange(int port, const std::string& request) {
  RawAnswer answer;
  const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0) return answer;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::send(sock, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char chunk[4096];
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd entry{sock, POLLIN, 0};
      if (::poll(&entry, 1, 100) <= 0) continue;
      const ssize_t n = ::recv(sock, chunk, sizeof(chunk), 0);
      if (n <= 0) break;
      answer.bytes.append(chunk, static_cast<std::size_t>(n));
    }
  }
  ::close(sock);

  const std::size_t headEnd = answer.bytes.find("\r\n\r\n");
  if (answer.bytes.rfind("HTTP/1.1 ", 0) != 0 || headEnd == std::string::npos) return answer;
  answer.status = std::stoi(answer.bytes.substr(9, 3));
  std::size_t line = answer.bytes.find("\r\n") + 2;
  while (line < headEnd) {
    const std::size_t lineEnd = answer.bytes.find("\r\n", line);
    const std::string field = answer.bytes.substr(line, lineEnd - line);
    const std::size_t colon = field.find(':');
    std::string name = field.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    answer.headers[name] = field.substr(std::min(field.size(), colon + 2));
    line = lineEnd + 2;
  }
  answer.body = answer.bytes.substr(headEnd + 4);
  return answer;
}

void MockServerTest::SetUpTestSuite() {
  // The HTTP client writes without MSG_NOSIGNAL; a server closing a connection under it must
  // fail the call, not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
}

void MockServerTest::SetUp() {
  ServerOptions options;
  options.seed = 42;
  options.threads = 16;
  server_ = std::make_unique<MockServer>(options);
  server_->Start();
  client_ = NewClient(true);
}

void MockServerTest::TearDown() {
  client_.reset();
  server_->Stop();
}

std::unique_ptr<httplib::Client> MockServerTest::NewClient(bool keepAlive) const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", Port());
  client->set_keep_alive(keepAlive);
  client->set_connection_timeout(5);
  client->set_read_timeout(20);
  client->set_write_timeout(5);
  return client;
}

httplib::Result MockServerTest::Get(const std::string& target, const httplib::Headers& headers) {
  return client_->Get(target.c_str(), headers);
}

httplib::Result MockServerTest::Post(const std::string& target, const std::string& body,
                                     const httplib::Headers& headers) {
  // The Content-Type travels in `headers`; an empty content type adds none of its own.
  return client_->Post(target.c_str(), headers, body, "");
}

Envelope MockServerTest::Control(const std::string& method, const std::string& path,
                                 const std::string& body) {
  httplib::Request request;
  request.method = method;
  request.path = "/__mock/" + path;
  request.body = body;
  if (!body.empty()) request.headers.emplace("Content-Type", "application/json");
  return ReadEnvelope(client_->send(request));
}

}  // namespace corvane::mock::testing
