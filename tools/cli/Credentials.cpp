#include "Credentials.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace corvane_cli {
namespace {

// What a token command may print: more is not a token.
constexpr std::size_t kMostCommandOutput = 64 * 1024;

std::mutex mutex;  // guards everything below: the session may ask for a token on any thread
std::string tokenCommand;
bool tokenCommandVerbose = false;
std::string tokenCommandFailure;
std::vector<std::string> secrets;

#ifdef _WIN32
FILE* OpenCommand(const char* command) { return _popen(command, "r"); }
int CloseCommand(FILE* pipe) { return _pclose(pipe); }
#else
FILE* OpenCommand(const char* command) { return popen(command, "r"); }
int CloseCommand(FILE* pipe) { return pclose(pipe); }
#endif

// Why a finished command counts as failed ("" when it exited with 0).
std::string ExitFailure(int status) {
  if (status == -1) return "could not be waited for";
#ifdef _WIN32
  return status == 0 ? "" : "exited with status " + std::to_string(status);
#else
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status) == 0 ? ""
                                    : "exited with status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "did not exit normally";
#endif
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Runs command through the shell; its first output line, trimmed, or "" with failure set.
std::string FirstLineOf(const std::string& command, std::string& failure) {
  std::fflush(nullptr);  // nothing of ours buffered twice or out of order around the command
  FILE* pipe = OpenCommand(command.c_str());
  if (pipe == nullptr) {
    failure = std::string("could not be run: ") + std::strerror(errno);
    return "";
  }
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    if (output.size() < kMostCommandOutput) output.append(buffer, n);
  }
  failure = ExitFailure(CloseCommand(pipe));
  if (!failure.empty()) return "";
  std::string line = output.substr(0, output.find('\n'));
  const auto first = std::find_if_not(line.begin(), line.end(), IsBlank);
  const auto last = std::find_if_not(line.rbegin(), line.rend(), IsBlank).base();
  line = first < last ? std::string(first, last) : std::string();
  if (line.empty()) failure = "printed no token on its first line";
  return line;
}

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

// Where the user information of a URL whose authority starts at start ends: its last '@' before
// the path, query, fragment or a blank or quote ends the authority (a password may hold '@');
// npos when it has none.
std::size_t UserInfoEnd(const std::string& text, std::size_t start) {
  const std::size_t end = std::min(text.find_first_of("/?# \t\r\n'\"", start), text.size());
  const std::size_t at = text.rfind('@', end == 0 ? 0 : end - 1);
  return at != std::string::npos && at >= start && at < end ? at : std::string::npos;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void SetTokenCommand(const std::string& command, bool verbose) {
  std::lock_guard<std::mutex> lock(mutex);
  tokenCommand = command;
  tokenCommandVerbose = verbose;
}

int TokenFromCommand(void* /*context*/, int refresh, char* token, int size) {
  std::string command;
  {
    std::lock_guard<std::mutex> lock(mutex);
    command = tokenCommand;
    if (tokenCommandVerbose) {
      std::cerr << "corvane: running --token-command for a token"
                << (refresh != 0 ? " again: the server refused the last one (401)" : "") << "\n";
    }
  }
  std::string failure;
  std::string line = FirstLineOf(command, failure);
  if (failure.empty() && HasControlByte(line)) failure = "printed a token with a control byte";
  if (failure.empty() && (size <= 0 || line.size() >= static_cast<std::size_t>(size))) {
    failure = "printed a token of " + std::to_string(line.size()) +
              " bytes, more than the session takes (" + std::to_string(size > 0 ? size - 1 : 0) +
              ")";
  }
  if (!line.empty()) AddSecret(line);
  std::lock_guard<std::mutex> lock(mutex);
  tokenCommandFailure = failure;
  if (!failure.empty()) return -1;
  std::memcpy(token, line.c_str(), line.size() + 1);
  return static_cast<int>(line.size());
}

std::string TokenCommandFailure() {
  std::lock_guard<std::mutex> lock(mutex);
  return tokenCommandFailure.empty() ? "" : "the --token-command " + tokenCommandFailure;
}

void AddSecret(const std::string& secret) {
  if (secret.size() < 4) return;
  std::lock_guard<std::mutex> lock(mutex);
  if (std::find(secrets.begin(), secrets.end(), secret) == secrets.end()) {
    secrets.push_back(secret);
    // The longest first, so that a secret holding another is masked whole.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  }
}

std::string Redact(std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& secret : secrets) {
      for (std::size_t at = 0; (at = text.find(secret, at)) != std::string::npos; at += 3) {
        text.replace(at, secret.size(), "***");
      }
    }
  }
  // Every URL in the text, whoever wrote it: a server's or a proxy's user information is shown
  // nowhere, even when it was never registered (a URL quoted back by the gateway or the server).
  for (std::size_t scheme = text.find("://"); scheme != std::string::npos;
       scheme = text.find("://", scheme + 3)) {
    const std::size_t start = scheme + 3;
    const std::size_t at = UserInfoEnd(text, start);
    if (at != std::string::npos) text.replace(start, at - start, "***");
  }
  return text;
}

std::string MaskedHeader(const std::string& line) {
  return line.substr(0, line.find(':')) + ": ***";
}

std::string MaskedUrl(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t at = UserInfoEnd(url, start);
  return at == std::string::npos ? url : url.substr(0, start) + "***" + url.substr(at);
}

void AddUrlSecrets(const std::string& url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t at = UserInfoEnd(url, start);
  if (at == std::string::npos) return;
  const std::string userInfo = url.substr(start, at - start);
  AddSecret(userInfo);
  const std::size_t colon = userInfo.find(':');
  if (colon != std::string::npos) AddSecret(userInfo.substr(colon + 1));
}

void AddCredentialHeader(const std::string& line) {
  const std::size_t colon = line.find(':');
  const std::string name = Lower(line.substr(0, colon));
  const char* const words[] = {"auth", "key", "token", "secret", "pass"};
  if (colon == std::string::npos ||
      (name != "cookie" && std::none_of(std::begin(words), std::end(words), [&](const char* w) {
         return name.find(w) != std::string::npos;
       }))) {
    return;
  }
  const auto trimmed = [](const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos
               ? std::string()
               : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
  };
  const std::string value = trimmed(line.substr(colon + 1));
  AddSecret(value);
  const std::size_t space = value.find(' ');
  if (space != std::string::npos) AddSecret(trimmed(value.substr(space)));
}

}  // namespace corvane_cli
