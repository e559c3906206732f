// What the simulated platform checks in every request before it answers, and the readers of
// its parameters.
#ifndef CORVANE_MOCK_REQUESTCHECKS_H
#define CORVANE_MOCK_REQUESTCHECKS_H

#include <rapidjson/document.h>

#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "HttpCore.h"

namespace corvane::mock {

// "application/json", with "charset=UTF-8" when a charset is named (any case, any spacing).
bool IsJsonUtf8(const std::string& contentType);

// Accept-Language, Content-Type and Time-Zone exactly once each (values may be empty), and a
// JSON Content-Type; the problem otherwise.
std::optional<std::string> CheckStandardHeaders(const http::Request& req);

// "clientType": "WINPC_V2", "project": "QIRO" and a string "clientMac"; the problem otherwise.
std::optional<std::string> CheckIdentity(const rapidjson::Value& body);

// A decimal integer that is the whole text: an optional minus sign and digits, nothing else.
template <class Int>
std::optional<Int> ParseDecimal(const std::string& text) {
  Int value{};
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end) return std::nullopt;
  return value;
}

const rapidjson::Value* MemberOf(const rapidjson::Value& object, const char* name);

// The member as a list of strings: absent or not an array of strings gives nothing; a JSON
// null gives an empty list when `nullAllowed`.
std::optional<std::vector<std::string>> StringList(const rapidjson::Value& body, const char* name,
                                                   bool nullAllowed);

}  // namespace corvane::mock

#endif  // CORVANE_MOCK_REQUESTCHECKS_H
