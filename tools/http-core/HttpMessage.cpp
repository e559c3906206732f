// What the server and the client share: request fields, answer heads, chunks, decoding.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "HttpCore.h"

namespace corvane::http {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded.push_back(
          static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      decoded.push_back(plusIsSpace && text[i] == '+' ? ' ' : text[i]);
    }
  }
  return decoded;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::size_t Request::HeaderCount(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& header : headers) count += SameLetters(header.first, name) ? 1 : 0;
  return count;
}

std::optional<std::string> Request::Header(std::string_view name) const {
  for (const auto& header : headers) {
    if (SameLetters(header.first, name)) return header.second;
  }
  return std::nullopt;
}

std::optional<std::string> Request::Param(std::string_view name) const {
  for (std::size_t at = 0; at <= query.size();) {
    std::size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    const std::string_view pair(query.data() + at, end - at);
    const std::size_t equals = pair.find('=');
    if (PercentDecode(pair.substr(0, equals), true) == name) {
      return equals == std::string_view::npos ? "" : PercentDecode(pair.substr(equals + 1), true);
    }
    at = end + 1;
  }
  return std::nullopt;
}

bool AnswerWriter::WriteHead(int status, const Headers& headers) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
  if (Closing()) head += "Connection: close\r\n";
  return Write(head + "\r\n");
}

bool AnswerWriter::Reply(int status, Headers headers, std::string_view body) {
  headers.emplace_back("Content-Length", std::to_string(body.size()));
  return WriteHead(status, headers) && (HeadRequest() || Write(body));
}

bool AnswerWriter::WriteChunk(std::string_view bytes) {
  char size[24];
  std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
  return Write(size) && Write(bytes) && Write("\r\n");
}

// --- Client ----------------------------------------------------------------------------------

Client::Client(const std::string& url) {
  const std::size_t hostStart = url.find("://") == std::string::npos ? 0 : url.find("://") + 3;
  const std::size_t colon = url.rfind(':');
  if (url.compare(0, hostStart, "http://") != 0 || colon < hostStart) {
    throw std::runtime_error("not an http://HOST:PORT address: " + url);
  }
  host_ = url.substr(hostStart, colon - hostStart);
  if (host_.size() > 1 && host_.front() == '[') host_ = host_.substr(1, host_.size() - 2);
  port_ = std::stoi(url.substr(colon + 1));
}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

Answer Client::Send(const std::string& method, const std::string& target, const std::string& body,
                    const Headers& headers) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + host_ + "\r\n";
  for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  Answer answer;
  // A kept connection the server has closed meanwhile fails before any answer: once more anew.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (Exchange(request, answer)) return answer;
  }
  throw std::runtime_error("no answer to " + method + " " + target + " from " + host_ + ":" +
                           std::to_string(port_));
}

bool Client::Exchange(const std::string& request, Answer& answer) {
  if (fd_ < 0) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found) != 0) {
      return false;
    }
    for (addrinfo* at = found; at != nullptr && fd_ < 0; at = at->ai_next) {
      fd_ = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, 0);
      if (fd_ >= 0 && ::connect(fd_, at->ai_addr, at->ai_addrlen) != 0) {
        ::close(fd_);
        fd_ = -1;
      }
    }
    ::freeaddrinfo(found);
    if (fd_ < 0) return false;
  }
  std::string received;
  std::size_t headEnd = std::string::npos;
  std::size_t total = std::string::npos;  // unknown: until the server closes
  bool sent = ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) ==
              static_cast<ssize_t>(request.size());
  while (sent && received.size() < total) {
    char chunk[16384];
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) break;
    received.append(chunk, static_cast<std::size_t>(got));
    if (headEnd == std::string::npos &&
        (headEnd = received.find("\r\n\r\n")) != std::string::npos) {
      Request head;  // the answer's fields, read as a request's would be
      if (!(std::sscanf(received.c_str(), "HTTP/1.%*d %d", &answer.status) == 1)) break;
      const std::size_t firstLine = received.find("\r\n");
      const std::string fields = received.substr(firstLine + 2, headEnd - firstLine);
      for (std::size_t at = 0; at < fields.size();) {
        const std::size_t end = fields.find("\r\n", at);
        const std::size_t colon = fields.find(':', at);
        if (colon < end) {
          std::size_t valueAt = colon + 1;
          while (valueAt < end && fields[valueAt] == ' ') ++valueAt;
          answer.headers.emplace_back(fields.substr(at, colon - at),
                                      fields.substr(valueAt, end - valueAt));
        }
        at = end + 2;
      }
      head.headers = answer.headers;
      if (const auto length = head.Header("Content-Length"))
        total = headEnd + 4 + std::stoull(*length);
    }
  }
  const bool complete =
      headEnd != std::string::npos && (total == std::string::npos || received.size() >= total);
  if (!complete || total == std::string::npos) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!complete) {
    answer = Answer{};
    return false;
  }
  answer.body = received.substr(
      headEnd + 4, total == std::string::npos ? std::string::npos : total - headEnd - 4);
  return true;
}

}  // namespace corvane::http
