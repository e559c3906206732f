#include "AnswerHead.h"

#include <zenta/ZentaSdk.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "Ascii.h"

namespace zenta {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The line without its CRLF or LF.
std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// name is `expected`, letters compared without case; the usual spelling is checked first.
bool IsName(std::string_view name, std::string_view expected) {
  return name.size() == expected.size() &&
         (name == expected || EqualsIgnoringAsciiCase(name, expected));
}

// Calls each(element) for the elements of a comma-separated field value, blanks trimmed, empty
// elements passed over (RFC 9110, 5.6.1); stops at the first that does not give ZENTA_OK.
template <typename Each>
int ForEachElement(std::string_view value, Each each) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view element = Trimmed(value.substr(0, comma));
    if (!element.empty()) {
      const int code = each(element);
      if (code != ZENTA_OK) return code;
    }
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return ZENTA_OK;
}

// A shown piece of the server's text: at most 40 bytes of it, for a detail.
int Shown(std::string_view text) { return static_cast<int>(text.size() < 40 ? text.size() : 40); }

const char* NameOf(int field) {
  static const char* const kNames[] = {"", "Content-Type", "Content-Length", "Transfer-Encoding",
                                       "Content-Encoding"};
  return kNames[field];
}

}  // namespace

int AnswerHead::Line(std::string_view line, Detail& detail) {
  if (complete_) return ZENTA_OK;  // a trailer: the head has said what it says
  bytes_ += line.size();
  if (bytes_ > kMostHeadBytes) {
    detail.Set("the answer's head is larger than 100 KiB");
    return ZENTA_E_PROTOCOL;
  }
  line = WithoutLineEnd(line);
  if (!inHead_) return StatusLine(line, detail);
  if (line.empty()) return HeadEnd(detail);
  return Header(line, detail);
}

// "HTTP/1.1 200 OK": version 1.0 or 1.1, then a status of three digits in 100..599.
int AnswerHead::StatusLine(std::string_view line, Detail& detail) {
  const bool version = line.size() >= 12 && line.compare(0, 7, "HTTP/1.") == 0 &&
                       (line[7] == '0' || line[7] == '1') && line[8] == ' ' &&
                       (line.size() == 12 || line[12] == ' ');
  if (!version) {
    detail.Set("the answer's status line \"%.*s\" is not HTTP/1.0 or HTTP/1.1", Shown(line),
               line.data());
    return ZENTA_E_PROTOCOL;
  }
  int status = 0;
  for (std::size_t i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') status = -1000;
    status = status * 10 + (line[i] - '0');
  }
  if (status < 100 || status > 599) {
    detail.Set("the answer's status \"%.3s\" is outside 100..599", line.data() + 9);
    return ZENTA_E_PROTOCOL;
  }
  // A new head (the first, or the one after an interim answer) says everything anew.
  chunked_ = false;
  closeDelimited_ = false;
  gzipped_ = false;
  length_ = -1;
  last_ = Field::kOther;
  hasField_ = false;
  inHead_ = true;
  http10_ = line[7] == '0';
  status_ = status;
  answer_->status = status;
  answer_->retryAfter = -1;
  answer_->contentTypeLength = 0;
  answer_->challengeLength = 0;
  return ZENTA_OK;
}

int AnswerHead::HeadEnd(Detail& detail) {
  inHead_ = false;
  if (status_ < 200) return ZENTA_OK;  // an interim answer: the real one's head follows
  complete_ = true;
  if (chunked_ && length_ >= 0) {
    detail.Set("the answer is framed twice, by Content-Length and by chunked coding");
    return ZENTA_E_PROTOCOL;
  }
  if (chunked_ && http10_) {
    detail.Set("an HTTP/1.0 answer uses chunked coding, which HTTP/1.0 does not have");
    return ZENTA_E_PROTOCOL;
  }
  const bool hasBody = !headRequest_ && status_ != 204 && status_ != 304;
  if (hasBody && !chunked_ && length_ < 0 && status_ >= 400) {
    // An error's page (a proxy's 407, a 503 in maintenance) may end with a close: whether it came
    // whole or cut, only its status and first line are reported, never the body as an answer.
    closeDelimited_ = true;
    answer_->contentTypeLength = 0;
    return ZENTA_OK;
  }
  if (hasBody && !chunked_ && length_ < 0) {
    detail.Set(
        "the answer has neither Content-Length nor chunked coding, so a cut answer could not be "
        "told from a whole one");
    return ZENTA_E_PROTOCOL;
  }
  return ZENTA_OK;
}

int AnswerHead::Header(std::string_view line, Detail& detail) {
  if (IsBlank(line.front())) {  // obs-fold: the previous field's value goes on
    if (!hasField_ || last_ != Field::kOther) {
      detail.Set("the answer folds %s%s header over two lines",
                 hasField_ ? "its " : "a line into the status line, not a",
                 NameOf(static_cast<int>(last_)));
      return ZENTA_E_PROTOCOL;
    }
    return ZENTA_OK;
  }
  const std::size_t colon = line.find(':');
  std::size_t nameEnd = 0;
  while (nameEnd < line.size() && IsTokenChar(line[nameEnd])) ++nameEnd;
  if (colon == std::string_view::npos || nameEnd != colon || colon == 0) {
    detail.Set("the answer's header line \"%.*s\" is not \"name: value\"", Shown(line),
               line.data());
    return ZENTA_E_PROTOCOL;
  }
  hasField_ = true;
  last_ = Field::kOther;
  // Only the fields that decide how the body is read and typed matter; the rest pass.
  const char first = AsciiLower(line[0]);
  if (first != 'c' && first != 't' && first != 'r' && first != 'w') return ZENTA_OK;
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = Trimmed(line.substr(colon + 1));
  if (IsName(name, "WWW-Authenticate")) {  // why a 401 refused the credential, for its detail
    if (answer_->challengeLength == 0) {
      const std::size_t kept = std::min(value.size(), sizeof answer_->challenge);
      std::memcpy(answer_->challenge, value.data(), kept);
      answer_->challengeLength = static_cast<int>(kept);
    }
    return ZENTA_OK;
  }
  if (IsName(name, "Retry-After")) {
    answer_->retryAfter = RetryAfterSeconds(value, static_cast<long long>(std::time(nullptr)));
    return ZENTA_OK;
  }
  if (IsName(name, "Content-Type")) {
    last_ = Field::kContentType;
    const std::size_t kept =
        value.size() < ZENTA_CONTENT_TYPE_WIDTH ? value.size() : ZENTA_CONTENT_TYPE_WIDTH;
    std::memcpy(answer_->contentType, value.data(), kept);
    answer_->contentTypeLength = static_cast<int>(kept);
    return ZENTA_OK;
  }
  if (IsName(name, "Content-Length")) {
    last_ = Field::kContentLength;
    return ContentLength(value, detail);
  }
  if (IsName(name, "Transfer-Encoding")) {
    last_ = Field::kTransferEncoding;
    return TransferEncoding(value, detail);
  }
  if (IsName(name, "Content-Encoding")) {
    last_ = Field::kContentEncoding;
    return ContentEncoding(value, detail);
  }
  return ZENTA_OK;
}

// 1*DIGIT; a list of equal values counts as one value (RFC 9110, 8.6); every length of the head
// must agree.
int AnswerHead::ContentLength(std::string_view value, Detail& detail) {
  const std::string_view whole = value;
  if (value.empty()) {
    detail.Set("the answer's Content-Length is empty");
    return ZENTA_E_PROTOCOL;
  }
  return ForEachElement(value, [&](std::string_view element) {
    long long length = 0;
    bool digits = element.size() <= 18;  // far above any cap, and no overflow
    for (std::size_t i = 0; digits && i < element.size(); ++i) {
      digits = element[i] >= '0' && element[i] <= '9';
      length = length * 10 + (element[i] - '0');
    }
    if (!digits) {
      detail.Set("the answer's Content-Length \"%.*s\" is not a number of digits", Shown(whole),
                 whole.data());
      return ZENTA_E_PROTOCOL;
    }
    if (length_ >= 0 && length_ != length) {
      detail.Set("the answer announces two lengths, %lld and %lld bytes", length_, length);
      return ZENTA_E_PROTOCOL;
    }
    length_ = length;
    return ZENTA_OK;
  });
}

// Only "chunked", once, as the last coding: any other transfer coding would hand over a body
// whose end, or whose bytes, the client cannot check.
int AnswerHead::TransferEncoding(std::string_view value, Detail& detail) {
  return ForEachElement(value, [&](std::string_view element) {
    if (chunked_) {
      detail.Set("the answer applies the transfer coding \"%.*s\" after chunked", Shown(element),
                 element.data());
      return ZENTA_E_PROTOCOL;
    }
    if (!EqualsIgnoringAsciiCase(element, "chunked")) {
      detail.Set("the answer uses the transfer coding \"%.*s\"; only chunked is accepted",
                 Shown(element), element.data());
      return ZENTA_E_PROTOCOL;
    }
    chunked_ = true;
    return ZENTA_OK;
  });
}

// Only a coding the request asked for, which the transport decodes: gzip, once. Any other would
// hand over a body still encoded ("identity" is no coding).
int AnswerHead::ContentEncoding(std::string_view value, Detail& detail) {
  return ForEachElement(value, [&](std::string_view element) {
    if (EqualsIgnoringAsciiCase(element, "identity")) return ZENTA_OK;
    if (gzipAsked_ && !gzipped_ &&
        (EqualsIgnoringAsciiCase(element, "gzip") || EqualsIgnoringAsciiCase(element, "x-gzip"))) {
      gzipped_ = true;
      return ZENTA_OK;
    }
    detail.Set("the answer's body is encoded with \"%.*s\", which the client did not ask for",
               Shown(element), element.data());
    return ZENTA_E_PROTOCOL;
  });
}

int AnswerHead::RetryAfterSeconds(std::string_view value, long long nowSeconds) {
  constexpr long long kDay = 24 * 60 * 60;
  long long seconds = 0;
  bool digits = !value.empty() && value.size() <= 10;
  for (std::size_t i = 0; digits && i < value.size(); ++i) {
    digits = value[i] >= '0' && value[i] <= '9';
    seconds = seconds * 10 + (value[i] - '0');
  }
  if (!digits) {
    // An IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT", the form HTTP-dates are sent in.
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month[4] = {};
    const std::string text(value.substr(0, 40));
    if (text.size() != 29 || text.compare(26, 3, "GMT") != 0 ||
        std::sscanf(text.c_str() + 5, "%2d %3s %4d %2d:%2d:%2d", &day, month, &year, &hour, &minute,
                    &second) != 6) {
      return -1;
    }
    const char* found = std::strstr(kMonths, month);
    if (found == nullptr || (found - kMonths) % 3 != 0) return -1;
    // Days from 1970-01-01 to the date (the civil calendar's algorithm, March-based years).
    const int m = static_cast<int>(found - kMonths) / 3 + 1;
    const int y = year - (m <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    seconds = days * kDay + hour * 3600 + minute * 60 + second - nowSeconds;
  }
  if (seconds < 0) seconds = 0;
  return static_cast<int>(seconds < kDay ? seconds : kDay);
}

}  // namespace zenta
