#include "MockClient.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

#include "HttpCore.h"

namespace corvane::mock {

MockClient::MockClient(const std::string& baseUrl)
    : client_(std::make_unique<http::Client>(baseUrl)) {}
MockClient::~MockClient() = default;

std::string MockClient::Call(const std::string& method, const std::string& what,
                             const std::string& body) {
  const http::Answer answer =
      client_->Send(method, "/__mock/" + what, body, {{"Content-Type", "application/json"}});
  if (answer.status != 200) {
    throw std::runtime_error(method + " /__mock/" + what + ": HTTP " +
                             std::to_string(answer.status) + " " + answer.body);
  }
  return answer.body;
}

void MockClient::Reset(std::uint64_t seed) {
  Call("POST", "reset", R"({"seed":)" + std::to_string(seed) + "}");
  Call("DELETE", "stats", "");
}

void MockClient::ClearFaults() { Call("DELETE", "faults", ""); }

void MockClient::AddFault(const std::string& json) { Call("POST", "faults", json); }

void MockClient::RequireToken(const std::string& token) {
  if (token.empty()) {
    Call("DELETE", "token", "");
    return;
  }
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("token");
  writer.String(token.data(), static_cast<rapidjson::SizeType>(token.size()));
  writer.EndObject();
  Call("POST", "token", buffer.GetString());
}

void MockClient::ExpireToken() { Call("POST", "token/expire", ""); }

ServerStats MockClient::Stats() {
  rapidjson::Document answer;
  const std::string text = Call("GET", "stats", "");
  answer.Parse(text.data(), text.size());
  if (answer.HasParseError() || !answer.IsObject() || !answer.HasMember("data")) {
    throw std::runtime_error("/__mock/stats: not an answer envelope");
  }
  const rapidjson::Value& data = answer["data"];
  const auto count = [&data](const char* name) {
    return data.HasMember(name) && data[name].IsUint64() ? data[name].GetUint64() : 0;
  };
  ServerStats stats;
  stats.connections = count("connections");
  stats.openConnections = count("openConnections");
  stats.requests = count("requests");
  stats.apiRequests = count("apiRequests");
  stats.faultsApplied = count("faultsApplied");
  stats.unauthorized = count("unauthorized");
  stats.gzipped = count("gzipped");
  if (data.HasMember("paths") && data["paths"].IsObject()) {
    for (const auto& path : data["paths"].GetObject()) {
      stats.paths[path.name.GetString()] = path.value.GetUint64();
    }
  }
  return stats;
}

}  // namespace corvane::mock
