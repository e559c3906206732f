#include "Text.h"

#include <cctype>
#include <cstdio>

namespace corvane_cli {
namespace {

constexpr long long kMillisecondsPerDay = 86400000;

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar (eras of 400 years).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// The day that DaysFromCivil counts to.
void CivilFromDays(long long days, long long& year, unsigned& month, unsigned& day) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2);
}

bool IsLeap(long long year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned DaysInMonth(long long year, unsigned month) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Reads exactly `count` digits at text[at...], advancing at.
bool Digits(std::string_view text, std::size_t& at, std::size_t count, unsigned& value) {
  if (text.size() - at < count) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i, ++at) {
    const char c = text[at];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

bool Take(std::string_view text, std::size_t& at, char c) {
  if (at < text.size() && text[at] == c) return ++at, true;
  return false;
}

std::optional<long long> EpochMilliseconds(std::string_view text) {
  std::size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size() || text.size() - at > 17) return std::nullopt;  // far beyond any date
  long long value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
    value = value * 10 + (text[at] - '0');
  }
  return text[0] == '-' ? -value : value;
}

}  // namespace

std::string WithDefaultScheme(const std::string& url) {
  return url.find("://") == std::string::npos ? "http://" + url : url;
}

std::optional<long long> ParseDate(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.find_first_not_of("0123456789", 1) == std::string_view::npos) {
    return EpochMilliseconds(text);
  }
  std::size_t at = 0;
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, at, 4, year) || !Take(text, at, '-') || !Digits(text, at, 2, month) ||
      !Take(text, at, '-') || !Digits(text, at, 2, day) || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  long long milliseconds = 0;
  if (Take(text, at, 'T') || Take(text, at, ' ')) {
    if (!Digits(text, at, 2, hour) || !Take(text, at, ':') || !Digits(text, at, 2, minute) ||
        hour > 23 || minute > 59) {
      return std::nullopt;
    }
    if (Take(text, at, ':')) {
      if (!Digits(text, at, 2, second) || second > 59) return std::nullopt;
      if (Take(text, at, '.') || Take(text, at, ',')) {
        // The first three digits count; further ones are finer than a millisecond.
        long long scale = 100;
        const std::size_t first = at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
          milliseconds += (text[at] - '0') * scale;
        }
        if (at == first) return std::nullopt;
      }
    }
    const bool utc = Take(text, at, 'Z') || Take(text, at, 'z');
    if (!utc && at < text.size() && (text[at] == '+' || text[at] == '-')) {
      const bool east = text[at++] == '+';
      unsigned offsetHours = 0, offsetMinutes = 0;
      if (!Digits(text, at, 2, offsetHours)) return std::nullopt;
      Take(text, at, ':');
      if (!Digits(text, at, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
        return std::nullopt;
      }
      const long long offset = (offsetHours * 60LL + offsetMinutes) * 60000;
      milliseconds += east ? -offset : offset;
    }
  }
  if (at != text.size()) return std::nullopt;
  return DaysFromCivil(year, month, day) * kMillisecondsPerDay +
         ((hour * 60LL + minute) * 60 + second) * 1000 + milliseconds;
}

std::string IsoDate(long long epochMilliseconds) {
  long long days = epochMilliseconds / kMillisecondsPerDay;
  long long rest = epochMilliseconds % kMillisecondsPerDay;
  if (rest < 0) rest += kMillisecondsPerDay, --days;
  long long year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  const long long seconds = rest / 1000;
  char text[64];
  int length = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", year,
                             month, day, seconds / 3600, seconds / 60 % 60, seconds % 60);
  if (rest % 1000 != 0) {
    length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                            ".%03lld", rest % 1000);
  }
  return std::string(text, static_cast<std::size_t>(length)) + "Z";
}

std::string EscapeControls(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  auto escaped = [&](const char* format, unsigned value) {
    char code[8];
    std::snprintf(code, sizeof code, format, value);
    shown += code;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        escaped("\\x%02x", byte);
      } else {
        shown += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, or 0.
    std::size_t length = byte >= 0xC2 && byte <= 0xDF   ? 2
                         : byte >= 0xE0 && byte <= 0xEF ? 3
                         : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                        : 0;
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        length = 0;
        break;
      }
    }
    if (length == 0) {
      if (byte <= 0x9F) {
        escaped("\\x%02x", byte);
      } else {
        shown += static_cast<char>(byte);
      }
      ++i;
    } else if (byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      escaped("\\u%04x", static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      shown.append(text.substr(i, length));
      i += length;
    }
  }
  return shown;
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// text with its runs of white space made one space, without white space at either end.
std::string Collapsed(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool space = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

std::string PageText(const std::string& detail) {
  const std::size_t colon = detail.find(": ");
  if (detail.rfind("HTTP ", 0) != 0 || colon == std::string::npos ||
      detail.find('<', colon) == std::string::npos) {
    return detail;
  }
  const std::string page = detail.substr(colon + 2);
  const std::string lower = Lower(page);
  const std::size_t title = lower.find("<title");
  const std::size_t start = title == std::string::npos ? title : lower.find('>', title);
  const std::size_t end = start == std::string::npos ? start : lower.find("</title", start);
  std::string text;
  if (end != std::string::npos) {
    text = Collapsed(page.substr(start + 1, end - start - 1));
  } else {
    std::string bare;
    bool inTag = false;
    for (char c : page) {
      if (c == '<' || c == '>') {
        inTag = c == '<';
        bare += ' ';
      } else if (!inTag) {
        bare += c;
      }
    }
    text = Collapsed(bare);
  }
  return text.empty() ? detail : detail.substr(0, colon + 2) + text;
}

}  // namespace corvane_cli
