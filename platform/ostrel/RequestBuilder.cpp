// Request records read into HTTP requests: the checks and the target encoding of the gateway.
#include "RequestBuilder.h"

#include <zenta/ZentaSdk.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "Ascii.h"

namespace ostrel {
namespace {

// More headers than any client sends; a larger count means a corrupt record.
constexpr std::uint32_t kMostHeaders = 256;

// What each byte may be, as bit flags in a table built at compile time, so that every check
// below is one load per byte.
enum ByteClass : unsigned char {
  kToken = 1,       // may stand in a method or a header name
  kFieldValue = 2,  // may stand in a header value: visible bytes, space, tab, bytes >= 0x80
  kEncode = 4,      // cannot stand in a request target as it is
};

struct ByteTable {
  unsigned char classes[256] = {};

  constexpr ByteTable() {
    for (int c = 0; c < 256; ++c) {
      const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      unsigned char flags = 0;
      if (alnum || Among(c, "!#$%&'*+-.^_`|~")) flags |= kToken;
      if (c == '\t' || (c >= 0x20 && c != 0x7F)) flags |= kFieldValue;
      // "#" would end the target; "%" and "?" stay, so escapes and queries the caller wrote
      // keep their meaning.
      if (c <= 0x20 || c >= 0x7F || Among(c, "\"<>\\^`{|}#")) flags |= kEncode;
      classes[c] = flags;
    }
  }

 private:
  static constexpr bool Among(int c, const char* set) {
    for (; *set != '\0'; ++set) {
      if (c == static_cast<unsigned char>(*set)) return true;
    }
    return false;
  }
};

constexpr ByteTable kBytes;

// Word-at-a-time tests: the bytes of a text are checked eight at a time, without a branch per
// byte, and only a word that does not pass is read byte by byte to find what it holds.
using Word = std::uint64_t;
constexpr std::size_t kWordBytes = sizeof(Word);
constexpr Word kOnes = 0x0101010101010101u;
constexpr Word kHighs = 0x8080808080808080u;

Word Load(const char* bytes) {
  Word word;
  std::memcpy(&word, bytes, kWordBytes);
  return word;
}

// The classes of the eight bytes at p, or-ed (any) or and-ed (all) together: one load per byte
// and no branch, which is as few instructions as bit tests on the word need for classes made of
// many ranges (tokens, bytes to encode).
unsigned AnyClassOfWord(const char* p) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(p);
  return (kBytes.classes[bytes[0]] | kBytes.classes[bytes[1]]) |
         (kBytes.classes[bytes[2]] | kBytes.classes[bytes[3]]) |
         (kBytes.classes[bytes[4]] | kBytes.classes[bytes[5]]) |
         (kBytes.classes[bytes[6]] | kBytes.classes[bytes[7]]);
}
unsigned EveryClassOfWord(const char* p) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(p);
  return (kBytes.classes[bytes[0]] & kBytes.classes[bytes[1]]) &
         (kBytes.classes[bytes[2]] & kBytes.classes[bytes[3]]) &
         (kBytes.classes[bytes[4]] & kBytes.classes[bytes[5]]) &
         (kBytes.classes[bytes[6]] & kBytes.classes[bytes[7]]);
}

// True when the `count` bytes at p all have the class.
bool BytesOfClass(const char* p, std::size_t count, ByteClass byteClass) {
  unsigned every = byteClass;
  for (std::size_t i = 0; i < count; ++i) every &= kBytes.classes[static_cast<unsigned char>(p[i])];
  return every != 0;
}

// True when every byte of a token (a method, a header name) is a token character.
bool IsToken(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (; end - p >= static_cast<std::ptrdiff_t>(kWordBytes); p += kWordBytes) {
    if ((EveryClassOfWord(p) & kToken) == 0) return false;
  }
  // The last bytes of a text of a word or more: as the word that ends with them.
  if (p != end && text.size() >= kWordBytes)
    return (EveryClassOfWord(end - kWordBytes) & kToken) != 0;
  return BytesOfClass(p, static_cast<std::size_t>(end - p), kToken);
}

// A header value's word needs only two bit tests on it: no byte below 0x20 (tab is the table's
// matter) and no DEL. Each test tells exactly whether some byte of the word is such a byte.
bool PlainValueWord(Word word) {
  const Word control = (word - kOnes * 0x20) & ~word & kHighs;
  const Word del = word ^ (kOnes * 0x7F);
  return (control | ((del - kOnes) & ~del & kHighs)) == 0;
}

// The first `count` (< 8) bytes of the word at bytes, the others read as a plain byte: a text's
// last bytes as a whole word, read within the field that holds them.
Word LoadPartial(const char* bytes, std::size_t count) {
  // Eight 0xFF, then eight 0: read from the right place, the first `count` bytes are 0xFF, in
  // memory order, whatever the machine's byte order.
  static const unsigned char kKeep[2 * kWordBytes] = {
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
  Word keep;
  std::memcpy(&keep, kKeep + kWordBytes - count, kWordBytes);
  return (Load(bytes) & keep) | (kOnes * 'a' & ~keep);
}

// True when every byte of a header value may stand in one. The value's field may be read up to
// limit, so its last bytes are read as a word too when the field goes on far enough.
bool IsFieldValue(std::string_view text, const char* limit) {
  const char* const end = text.data() + text.size();
  for (const char* p = text.data(); p < end; p += kWordBytes) {
    const auto left = static_cast<std::size_t>(end - p);
    const std::size_t count = left < kWordBytes ? left : kWordBytes;
    if (left >= kWordBytes ? PlainValueWord(Load(p))
                           : limit - p >= static_cast<std::ptrdiff_t>(kWordBytes) &&
                                 PlainValueWord(LoadPartial(p, count))) {
      continue;
    }
    if (!BytesOfClass(p, count, kFieldValue)) return false;
  }
  return true;
}

// The text of a NUL-padded field: up to the first NUL, never past width.
std::string_view FieldText(const char* field, std::size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  return {field, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : width};
}

// "/" and the path, with every byte the target cannot hold as it is written as %XX. Words with no
// such byte are passed whole, and runs of bytes that go as they are copied at once.
void EncodeTarget(const RestRequest& record, HttpRequest& request) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string_view path = FieldText(record.path, kPathWidth);
  char* out = request.target;
  *out++ = '/';
  const char* run = path.data();  // bytes that go as they are, copied at once
  const char* const end = path.data() + path.size();
  for (const char* p = run; p != end;) {
    const auto left = static_cast<std::size_t>(end - p);
    // The last bytes of a path of a word or more: as the word that ends with them.
    if ((left >= kWordBytes && (AnyClassOfWord(p) & kEncode) == 0) ||
        (left < kWordBytes && path.size() >= kWordBytes &&
         (AnyClassOfWord(end - kWordBytes) & kEncode) == 0)) {
      p += left < kWordBytes ? left : kWordBytes;
      continue;
    }
    for (const char* const stop = p + (left < kWordBytes ? left : kWordBytes); p != stop; ++p) {
      const auto byte = static_cast<unsigned char>(*p);
      if ((kBytes.classes[byte] & kEncode) == 0) continue;
      std::memcpy(out, run, static_cast<std::size_t>(p - run));
      out += p - run;
      *out++ = '%';
      *out++ = kHex[byte >> 4];
      *out++ = kHex[byte & 0x0F];
      run = p + 1;
    }
  }
  std::memcpy(out, run, static_cast<std::size_t>(end - run));
  out += end - run;
  request.targetLength = static_cast<std::size_t>(out - request.target);
}

// Checks one header. Content-Length is checked against the body and left to the transport, which
// frames the body itself; Transfer-Encoding is refused for the same reason.
int ReadHeader(const HttpHeaderItem& item, std::int32_t bodyLength, HttpRequest& request) {
  const std::string_view name(item.name,
                              item.nameLength < kNameWidth ? item.nameLength : kNameWidth);
  const std::string_view value(item.value,
                               item.valueLength < kValueWidth ? item.valueLength : kValueWidth);
  if (name.empty() || !IsToken(name) || !IsFieldValue(value, item.value + kValueWidth)) {
    return ZENTA_E_BAD_HEADER;
  }
  if (zenta::EqualsIgnoringAsciiCase(name, "Transfer-Encoding")) return ZENTA_E_BAD_HEADER;
  if (zenta::EqualsIgnoringAsciiCase(name, "Content-Length")) {
    return value == std::to_string(bodyLength) ? ZENTA_OK : ZENTA_E_BAD_HEADER;
  }
  request.headers[request.headerCount++] = {name.data(), name.size(), value.data(), value.size()};
  return ZENTA_OK;
}

}  // namespace

int BuildHttpRequest(const RestRequest& record, HttpRequest& request) {
  if (record.bodyLength < 0 || (record.body == nullptr && record.bodyLength > 0)) {
    return ZENTA_E_BAD_RECORD;
  }
  if (record.headerCount > kMostHeaders || (record.headerCount > 0 && record.headers == nullptr)) {
    return ZENTA_E_BAD_RECORD;
  }
  const std::string_view method = FieldText(record.method, kMethodWidth);
  if (method.empty() || !IsToken(method)) return ZENTA_E_BAD_METHOD;
  request.method = method;
  request.ReserveHeaders(record.headerCount);
  for (std::uint32_t i = 0; i < record.headerCount; ++i) {
    const int status = ReadHeader(record.headers[i], record.bodyLength, request);
    if (status != ZENTA_OK) return status;
  }
  EncodeTarget(record, request);
  request.body = record.bodyLength > 0 ? record.body : nullptr;
  request.bodyLength = static_cast<std::size_t>(record.bodyLength);
  return ZENTA_OK;
}

}  // namespace ostrel
