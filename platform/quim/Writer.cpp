// quim::Json writing: our tree as compact text, written straight into the result string.
//
// The text is byte for byte what rapidjson's compact Writer (UTF-8 in and out, default flags)
// makes of the same events, built from the same number formatters; writing it directly saves the
// Writer's output buffer, its level stack and the final copy, and copies the unescaped runs of a
// string in one go instead of byte by byte. Two exceptions. The 3-byte form of a surrogate, high
// or low (which a lone "\uD800".."\uDFFF" escape in parsed text produces, or a server's bytes
// passed through), gets its escape back, so that the text is UTF-8 there and reads back to the
// same tree; but a high one directly followed by a low one is written as it is, both, as their
// two escapes would read back as one 4-byte character. Other bytes that are not UTF-8 are
// written as they are. And a double whose digits rapidjson's formatter does not give as few as
// they can be gets the fewest, in the same layout (DoubleText.h).
#include <rapidjson/internal/itoa.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "DoubleText.h"
#include "Node.h"

namespace quim {
namespace Json {
namespace {

// What follows the backslash for each byte that a JSON string cannot hold as it is (0: the byte
// stands for itself), as rapidjson escapes it: control bytes as \uXXXX except the five with a
// short form, the quote and the backslash. DEL and bytes >= 0x80 stay as they are.
constexpr std::array<char, 256> MakeEscapes() {
  std::array<char, 256> escapes{};
  for (int c = 0; c < 0x20; ++c) escapes[c] = 'u';
  escapes['\b'] = 'b';
  escapes['\t'] = 't';
  escapes['\n'] = 'n';
  escapes['\f'] = 'f';
  escapes['\r'] = 'r';
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  escapes[0xED] = 's';  // may lead the 3-byte form of a surrogate
  return escapes;
}
constexpr std::array<char, 256> kEscapes = MakeEscapes();

// The text being written: a string sized ahead of need and written through its bytes, cut to
// what was written at the end. Cheaper than appending to the string piece by piece, which
// checks and updates its length for every piece.
class Output {
 public:
  explicit Output(std::size_t capacity) { text_.resize(capacity); }
  // Room for `most` more bytes; write them at the pointer returned, then Advance past them.
  char* Reserve(std::size_t most) {
    if (text_.size() - used_ < most) text_.resize(std::max(2 * text_.size(), used_ + most));
    return &text_[used_];
  }
  void Advance(const char* end) { used_ = static_cast<std::size_t>(end - text_.data()); }
  void Put(char c) {
    *Reserve(1) = c;
    ++used_;
  }
  void Put(const char* bytes, std::size_t size) {
    if (size == 0) return;  // an empty string's bytes may be a null pointer
    std::memcpy(Reserve(size), bytes, size);
    used_ += size;
  }
  std::string Take() {
    text_.resize(used_);
    return std::move(text_);
  }

 private:
  std::string text_;
  std::size_t used_ = 0;
};

// Whether any of the eight bytes in word needs a look: a control byte, the quote, the backslash
// or 0xED. Exact, not a hint: a byte is only flagged when one of them is there.
bool AnyToLookAt(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  const auto zeroByte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  return (((word - kOnes * 0x20) & ~word & kHighs) | zeroByte(word ^ (kOnes * '"')) |
          zeroByte(word ^ (kOnes * '\\')) | zeroByte(word ^ (kOnes * 0xED))) != 0;
}

// Whether the bytes at p are the 3-byte form of a surrogate, high (ED A0..AF xx) or low
// (ED B0..BF xx).
bool SurrogateAt(const char* p, const char* end) {
  return end - p >= 3 && static_cast<unsigned char>(p[0]) == 0xED &&
         (static_cast<unsigned char>(p[1]) & 0xE0) == 0xA0 &&
         (static_cast<unsigned char>(p[2]) & 0xC0) == 0x80;
}

void AppendString(Output& out, std::string_view text) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  out.Put('"');
  const char* run = text.data();  // bytes not yet written, all of them plain
  const char* const end = text.data() + text.size();
  const char* p = run;
  for (;;) {
    // Eight bytes at a time while none needs a look, then byte by byte up to one that does.
    for (std::uint64_t word; end - p >= 8; p += 8) {
      std::memcpy(&word, p, 8);
      if (AnyToLookAt(word)) break;
    }
    while (p != end && kEscapes[static_cast<unsigned char>(*p)] == 0) ++p;
    if (p == end) break;
    const auto byte = static_cast<unsigned char>(*p);
    const char escape = kEscapes[byte];
    if (escape == 's') {
      if (!SurrogateAt(p, end)) {
        ++p;
        continue;
      }
      // A high one with a low one after it stays as it is, both: their escapes would read back
      // as the pair's one character.
      if ((static_cast<unsigned char>(p[1]) & 0xF0) == 0xA0 && SurrogateAt(p + 3, end) &&
          (static_cast<unsigned char>(p[4]) & 0xF0) == 0xB0) {
        p += 6;
        continue;
      }
      const auto second = static_cast<unsigned char>(p[1]);
      const auto third = static_cast<unsigned char>(p[2]);
      const std::uint32_t surrogate = 0xD000u | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
      const char sequence[] = {'\\',
                               'u',
                               kHexDigits[surrogate >> 12],
                               kHexDigits[(surrogate >> 8) & 0xF],
                               kHexDigits[(surrogate >> 4) & 0xF],
                               kHexDigits[surrogate & 0xF]};
      out.Put(run, static_cast<std::size_t>(p - run));
      out.Put(sequence, sizeof sequence);
      p += 3;
    } else if (escape == 'u') {
      const char sequence[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
      out.Put(run, static_cast<std::size_t>(p - run));
      out.Put(sequence, sizeof sequence);
      ++p;
    } else {
      const char sequence[] = {'\\', escape};
      out.Put(run, static_cast<std::size_t>(p - run));
      out.Put(sequence, sizeof sequence);
      ++p;
    }
    run = p;
  }
  out.Put(run, static_cast<std::size_t>(end - run));
  out.Put('"');
}

// The longest text of a number: 20 characters for an integer, 25 for a double.
constexpr std::size_t kNumberRoom = 32;

void WriteValue(Output& out, const Value& value) {
  switch (value.type()) {
    case nullValue:
      out.Put("null", 4);
      break;
    case booleanValue:
      if (value.asBool()) {
        out.Put("true", 4);
      } else {
        out.Put("false", 5);
      }
      break;
    case intValue:
      out.Advance(rapidjson::internal::i64toa(value.asInt64(), out.Reserve(kNumberRoom)));
      break;
    case uintValue:
      out.Advance(rapidjson::internal::u64toa(value.asUInt64(), out.Reserve(kNumberRoom)));
      break;
    case realValue: {
      double real = value.asDouble();
      if (std::isfinite(real)) {
        out.Advance(detail::WriteDouble(real, out.Reserve(kNumberRoom)));
      } else {
        out.Put("null", 4);
      }
      break;
    }
    case stringValue:
      AppendString(out, value.stringView());
      break;
    case arrayValue: {
      out.Put('[');
      const Value* items = Value::Access::NodeOf(value) != nullptr
                               ? Value::Access::Elements(Value::Access::NodeOf(value))
                               : nullptr;
      for (std::uint32_t i = 0; i < Value::Access::Count(value); ++i) {
        if (i != 0) out.Put(',');
        WriteValue(out, items[i]);
      }
      out.Put(']');
      break;
    }
    case objectValue: {
      out.Put('{');
      const Value* pairs = Value::Access::NodeOf(value) != nullptr
                               ? Value::Access::Elements(Value::Access::NodeOf(value))
                               : nullptr;
      for (std::uint32_t i = 0; i < Value::Access::Count(value); ++i) {
        if (i != 0) out.Put(',');
        AppendString(out, pairs[2 * i].stringView());
        out.Put(':');
        WriteValue(out, pairs[2 * i + 1]);
      }
      out.Put('}');
      break;
    }
  }
}

}  // namespace

// The same routine as the writer's, so asString and Write agree.
std::string DoubleText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  char buffer[32];
  char* end = detail::WriteDouble(value, buffer);
  return std::string(buffer, end);
}

std::string Write(const Value& root) {
  // Enough for the request bodies and small documents in one allocation.
  constexpr std::size_t kInitialCapacity = 256;
  Output out(kInitialCapacity);
  WriteValue(out, root);
  return out.Take();
}

FastWriter::FastWriter() = default;
FastWriter::~FastWriter() = default;
std::string FastWriter::write(const Value& root) { return Write(root); }

}  // namespace Json
}  // namespace quim
