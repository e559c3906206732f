#include "Scrubber.h"

#include <algorithm>
#include <cstdlib>

#include "Transport.h"

namespace zenta {
namespace {

// Where a URL's authority ends in a text: its path, query or fragment, a blank, a quote.
constexpr const char* kAuthorityEnds = "/?# \t\r\n'\"";

void ReplaceAll(std::string& text, const std::string& secret) {
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
    text.replace(at, secret.size(), "***");
    at += 3;
  }
}

}  // namespace

std::string_view UserInfoOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t end = std::min(url.find_first_of(kAuthorityEnds, start), url.size());
  const std::size_t at = url.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < start) return {};
  return url.substr(start, at - start);
}

void MaskUserInfo(std::string& text) {
  for (std::size_t scheme = text.find("://"); scheme != std::string::npos;
       scheme = text.find("://", scheme + 3)) {
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(text.find_first_of(kAuthorityEnds, start), text.size());
    const std::size_t at = std::string_view(text).substr(0, end).rfind('@');
    if (at != std::string::npos && at >= start) text.replace(start, at - start, "***");
  }
}

Scrubber::Scrubber(const TransportConfig& config) {
  Add(config.authorization);
  for (const std::string& line : config.headers) {
    const std::size_t colon = line.find(':');
    const std::size_t value = line.find_first_not_of(" \t", colon + 1);
    if (value != std::string::npos) Add(std::string_view(line).substr(value));
  }
  Add(config.clientKeyPassword);
  AddUserInfo(config.proxy);
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr) AddUserInfo(value);
  }
}

void Scrubber::Add(std::string_view secret) {
  while (!secret.empty() && (secret.back() == ' ' || secret.back() == '\t')) {
    secret.remove_suffix(1);
  }
  // A value of a few bytes ("7", "yes") is no credential, and masking it would garble every
  // detail that holds those bytes.
  if (secret.size() < kShortest) return;
  secrets_.emplace_back(secret);
  // "Bearer abc" or "Basic abc": the credential alone may be echoed too.
  const std::size_t blank = secret.find(' ');
  if (blank != std::string_view::npos && secret.size() - blank - 1 >= kShortest) {
    secrets_.emplace_back(secret.substr(blank + 1));
  }
  std::sort(secrets_.begin(), secrets_.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

void Scrubber::AddUserInfo(std::string_view url) {
  const std::string_view userInfo = UserInfoOf(url);
  if (userInfo.empty()) return;
  Add(userInfo);
  const std::size_t colon = userInfo.find(':');
  if (colon != std::string_view::npos) Add(userInfo.substr(colon + 1));
}

void Scrubber::Scrub(std::string& text) const {
  for (const std::string& secret : secrets_) ReplaceAll(text, secret);
  MaskUserInfo(text);
}

void Scrubber::Scrub(Detail& detail) const {
  if (detail.Text()[0] == '\0') return;
  std::string text = detail.Text();
  Scrub(text);
  detail.Set("%s", text.c_str());
}

}  // namespace zenta
