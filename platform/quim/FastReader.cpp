// quim::Json's fast reader: the common answer, read without rapidjson, straight into the tree
// builder; it gives up on anything else, which rapidjson's reader (Reader.cpp) then reads from the
// start.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ReaderPaths.h"
#include "TreeBuilder.h"

namespace quim {
namespace Json {
namespace detail {
namespace {

// White space as JSON has it: space, tab, line feed, carriage return.
inline bool IsSpace(char c) {
  constexpr std::uint64_t kSpaces = std::uint64_t{1} << ' ' | std::uint64_t{1} << '\t' |
                                    std::uint64_t{1} << '\n' | std::uint64_t{1} << '\r';
  return static_cast<unsigned char>(c) <= ' ' && (kSpaces >> static_cast<unsigned char>(c) & 1);
}
inline const char* SkipSpace(const char* p, const char* end) {
  while (p != end && IsSpace(*p)) ++p;
  return p;
}

// From the first byte of a string (past its opening quote): where the first byte it cannot copy
// as it is stands (the closing quote, if the string has no escape and no control byte), or end.
// Sixteen bytes at a time where the processor has SSE2 and sixteen are left.
inline const char* StringStop(const char* p, const char* end) {
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
        _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl));  // bytes <= 0x1F
    if (const int mask = _mm_movemask_epi8(stops)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p != end && kPlainBytes[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// An object member's name (p at its opening quote) to the builder, then the colon and the white
// space up to the value: where the value starts, or null where the fast reader gives up.
inline const char* ReadName(const char* p, const char* const end, TreeBuilder& builder) {
  if (p == end || *p != '"') return nullptr;
  const char* const text = p + 1;
  p = StringStop(text, end);
  if (p == end || *p != '"' || p - text >= 0xFFFFFFFF ||
      !builder.Key(text, static_cast<rapidjson::SizeType>(p - text), true)) {
    return nullptr;
  }
  ++p;
  if (p == end || *p != ':') {
    p = SkipSpace(p, end);
    if (p == end || *p != ':') return nullptr;
  }
  return SkipSpace(p + 1, end);
}

// A value other than an array or an object at p (c its first byte, NUL at the end) to the
// builder: where it ends, or null where the fast reader gives up.
inline const char* ReadScalar(const char* p, const char* const end, char c, TreeBuilder& builder) {
  if (c == '"') {
    const char* const text = p + 1;
    p = StringStop(text, end);
    if (p == end || *p != '"' || p - text >= 0xFFFFFFFF ||
        !builder.String(text, static_cast<rapidjson::SizeType>(p - text), true)) {
      return nullptr;
    }
    return p + 1;
  }
  if (c == 'n' || c == 't' || c == 'f') {
    const char* const word = c == 'n' ? "null" : c == 't' ? "true" : "false";
    const std::size_t size = c == 'f' ? 5 : 4;
    if (static_cast<std::size_t>(end - p) < size || std::memcmp(p, word, size) != 0 ||
        !(c == 'n' ? builder.Null() : builder.Bool(c == 't'))) {
      return nullptr;
    }
    return p + size;
  }
  // -?(0|[1-9][0-9]*), at most 18 digits, followed by nothing that would continue it.
  const char* const start = p;
  if (c == '-') ++p;
  const char* const digits = p;
  if (p != end && *p == '0') {
    ++p;
  } else {
    while (p != end && *p >= '0' && *p <= '9') ++p;
    if (p == digits) return nullptr;
  }
  const char next = p != end ? *p : '\0';
  if (p - digits > 18 || next == '.' || next == 'e' || next == 'E' ||
      (next >= '0' && next <= '9') ||
      !builder.RawNumber(start, static_cast<rapidjson::SizeType>(p - start), true)) {
    return nullptr;
  }
  return p;
}

// The common answer, read without rapidjson: white space, objects, arrays, null, true, false,
// strings without an escape or a control byte (handed to the builder where they stand in the
// text: it copies them anyway) and integers of up to 18 digits, with the builder called exactly
// as rapidjson's reader calls it for the same text (the same calls, in the same order, with the
// same bytes), so the tree is the same. On anything else (an escape, a control byte, a fraction
// or an exponent, a longer integer, a leading zero before a digit, a syntax error, a builder
// that refuses (nesting past kMaxDepth), a NUL byte, the text's end too early, bytes after the
// root, a byte-order mark) it gives up (false); the caller drops its partial tree and has
// rapidjson read the text from the start, which also finds every error and its offset. So it
// accepts only texts that rapidjson accepts. It is iterative: nesting costs a count and a flag
// per level, and the position stays in a local variable (a register) throughout.
bool ReadCommon(const char* p, const char* const end, TreeBuilder& builder) {
  // Per open array or object: its elements (members) so far, and which of the two it is.
  std::uint32_t counts[kMaxDepth];
  bool objects[kMaxDepth];
  int depth = 0;
  bool name = false;  // an object's member comes next, not a value
  p = SkipSpace(p, end);
  for (;;) {
    if (name && (p = ReadName(p, end, builder)) == nullptr) return false;
    // A value starts at p.
    const char c = p != end ? *p : '\0';
    if (c == '{' || c == '[') {
      const bool object = c == '{';
      if (depth == kMaxDepth || !(object ? builder.StartObject() : builder.StartArray())) {
        return false;
      }
      p = SkipSpace(p + 1, end);
      if (p == end || *p != (object ? '}' : ']')) {
        counts[depth] = 0;
        objects[depth] = object;
        ++depth;
        name = object;
        continue;
      }
      ++p;
      if (!(object ? builder.EndObject(0) : builder.EndArray(0))) return false;
    } else if ((p = ReadScalar(p, end, c, builder)) == nullptr) {
      return false;
    }
    // A value is done: the containers it closes, up to the next value or the end of the root.
    for (;;) {
      char next = p != end ? *p : '\0';
      if (IsSpace(next)) {
        p = SkipSpace(p, end);
        next = p != end ? *p : '\0';
      }
      if (depth == 0) return p == end;
      const int open = depth - 1;
      ++counts[open];
      if (next == ',') {
        p = SkipSpace(p + 1, end);
        name = objects[open];
        break;
      }
      if (next != (objects[open] ? '}' : ']')) return false;  // the end of the text included
      ++p;
      depth = open;
      if (!(objects[open] ? builder.EndObject(counts[open]) : builder.EndArray(counts[open]))) {
        return false;
      }
    }
  }
}

}  // namespace

// The fast reader over the text (NUL-terminated when size is null): true with the tree in *root
// and errs cleared, or false, where it gave up, with both left as they were.
bool ReadFast(const char* text, const std::size_t* size, Value* root, std::string* errs) {
  TreeBuilder builder;
  if (!ReadCommon(text, text + (size != nullptr ? *size : std::strlen(text)), builder))
    return false;
  if (root != nullptr) *root = builder.TakeRoot();
  if (errs != nullptr) errs->clear();
  return true;
}

bool ReadFastOnly(const char* text, const std::size_t* size, Value& root) {
  return ReadFast(text, size, &root, nullptr);
}

}  // namespace detail
}  // namespace Json
}  // namespace quim
