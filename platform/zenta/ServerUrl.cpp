#include "ServerUrl.h"

#include <zenta/ZentaSdk.h>

#include <cstring>
#include <string>
#include <utility>

#include "Ascii.h"

namespace zenta {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string Lowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

bool IsHostNameChar(char c) { return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_'; }

// RFC 3986 pchar plus "/": what a base path may hold as it is ("%" only as a complete escape).
bool IsPathChar(char c) {
  return IsAlpha(c) || IsDigit(c) || std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr;
}

bool IsValidPath(const std::string& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%') {
      if (i + 2 >= path.size() || !IsHexDigit(path[i + 1]) || !IsHexDigit(path[i + 2])) {
        return false;
      }
      i += 2;
    } else if (path[i] == '\0' || !IsPathChar(path[i])) {
      return false;
    }
  }
  return true;
}

// Parses "digits" as a port in 1..65535.
bool ParsePort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  long value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

}  // namespace

int ParseServerUrl(const char* text, ServerUrl& url) {
  if (text == nullptr) return ZENTA_E_BAD_URL;
  const std::string whole(text);

  const std::size_t schemeEnd = whole.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0 || !IsAlpha(whole[0])) {
    return ZENTA_E_BAD_URL;
  }
  for (std::size_t i = 0; i < schemeEnd; ++i) {
    const char c = whole[i];
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return ZENTA_E_BAD_URL;
  }
  ServerUrl parsed;
  const std::string scheme = Lowered(whole.substr(0, schemeEnd));
  if (scheme == "https") {
    parsed.https = true;
  } else if (scheme != "http") {
    return ZENTA_E_UNSUPPORTED_SCHEME;
  }

  const std::size_t authorityStart = schemeEnd + 3;
  const std::size_t pathStart = whole.find('/', authorityStart);
  const std::string authority = whole.substr(authorityStart, pathStart - authorityStart);
  std::string path = pathStart == std::string::npos ? std::string() : whole.substr(pathStart);

  std::string portText;
  bool hasPort = false;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos || close == 1) return ZENTA_E_BAD_URL;
    parsed.host = authority.substr(1, close - 1);
    for (char c : parsed.host) {
      if (!IsHexDigit(c) && c != ':' && c != '.') return ZENTA_E_BAD_URL;
    }
    if (parsed.host.find(':') == std::string::npos) return ZENTA_E_BAD_URL;
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return ZENTA_E_BAD_URL;
      hasPort = true;
      portText = rest.substr(1);
    }
  } else {
    const std::size_t colon = authority.find(':');
    parsed.host = authority.substr(0, colon);
    if (colon != std::string::npos) {
      hasPort = true;
      portText = authority.substr(colon + 1);
    }
    if (parsed.host.empty()) return ZENTA_E_BAD_URL;
    for (char c : parsed.host) {
      if (!IsHostNameChar(c)) return ZENTA_E_BAD_URL;
    }
  }
  if (hasPort) {
    if (!ParsePort(portText, parsed.port)) return ZENTA_E_BAD_URL;
  } else {
    parsed.port = parsed.https ? 443 : 80;
  }

  if (!IsValidPath(path)) return ZENTA_E_BAD_URL;
  while (!path.empty() && path.back() == '/') path.pop_back();
  parsed.basePath = path;

  const bool ipv6 = parsed.host.find(':') != std::string::npos;
  parsed.origin = scheme + "://" + (ipv6 ? "[" + parsed.host + "]" : parsed.host) + ":" +
                  std::to_string(parsed.port);
  url = std::move(parsed);
  return ZENTA_OK;
}

}  // namespace zenta
