#include "RequestChecks.h"

#include <algorithm>
#include <string_view>

namespace corvane::mock {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

bool IsJsonUtf8(const std::string& contentType) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t semicolon = contentType.find(';', start);
    parts.push_back(Lower(Trim(std::string_view(contentType).substr(start, semicolon - start))));
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  if (parts.front() != "application/json") return false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t equals = parts[i].find('=');
    if (Trim(std::string_view(parts[i]).substr(0, equals)) != "charset") continue;
    if (equals == std::string::npos) return false;
    std::string value = Trim(std::string_view(parts[i]).substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value != "utf-8") return false;
  }
  return true;
}

std::optional<std::string> CheckStandardHeaders(const http::Request& req) {
  for (const char* name : {"Accept-Language", "Content-Type", "Time-Zone"}) {
    const std::size_t count = req.HeaderCount(name);
    if (count == 0) return std::string("missing header ") + name;
    if (count > 1) return std::string("header ") + name + " sent more than once";
  }
  const std::string type = *req.Header("Content-Type");
  if (!IsJsonUtf8(type)) {
    return "Content-Type must be application/json;charset=UTF-8, not \"" + type + "\"";
  }
  return std::nullopt;
}

std::optional<std::string> CheckIdentity(const rapidjson::Value& body) {
  const auto isString = [&body](const char* name, const char* expected) {
    const rapidjson::Value* member = MemberOf(body, name);
    if (member == nullptr || !member->IsString()) return false;
    return expected == nullptr ||
           std::string(member->GetString(), member->GetStringLength()) == expected;
  };
  if (!isString("clientType", "WINPC_V2")) return "\"clientType\" must be \"WINPC_V2\"";
  if (!isString("project", "QIRO")) return "\"project\" must be \"QIRO\"";
  if (!isString("clientMac", nullptr)) return "\"clientMac\" must be a string";
  return std::nullopt;
}

const rapidjson::Value* MemberOf(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  const auto member = object.FindMember(name);
  return member == object.MemberEnd() ? nullptr : &member->value;
}

std::optional<std::vector<std::string>> StringList(const rapidjson::Value& body, const char* name,
                                                   bool nullAllowed) {
  const rapidjson::Value* value = MemberOf(body, name);
  if (value == nullptr) return std::nullopt;
  std::vector<std::string> list;
  if (value->IsNull() && nullAllowed) return list;
  if (!value->IsArray()) return std::nullopt;
  for (const auto& element : value->GetArray()) {
    if (!element.IsString()) return std::nullopt;
    list.emplace_back(element.GetString(), element.GetStringLength());
  }
  return list;
}

}  // namespace corvane::mock
