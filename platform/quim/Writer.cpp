// quim::Json writing: our tree as compact text, written straight into the result string.
//
// The text is byte for byte what rapidjson's compact Writer (UTF-8 in and out, default flags)
// makes of the same events, built from the same number formatters; writing it directly saves the
// Writer's output buffer, its level stack and the final copy, and copies the unescaped runs of a
// string in one go instead of byte by byte. One exception: a string holding the 3-byte form of a
// low surrogate (which a lone "\uDC00".."\uDFFF" escape in parsed text produces, or a server's
// bytes passed through) gets that escape back, so that the text reads back to the same tree.
// Other bytes that are not UTF-8 are written as they are.
#include <rapidjson/internal/dtoa.h>
#include <rapidjson/internal/itoa.h>

#include <array>
#include <cmath>
#include <cstdint>

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
  escapes[0xED] = 's';  // may lead the 3-byte form of a low surrogate
  return escapes;
}
constexpr std::array<char, 256> kEscapes = MakeEscapes();

void AppendString(std::string& out, std::string_view text) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  out.push_back('"');
  const char* run = text.data();
  const char* const end = text.data() + text.size();
  for (const char* p = run; p != end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    const char escape = kEscapes[byte];
    if (escape == 0) continue;
    std::uint32_t surrogate = 0;
    if (escape == 's') {
      const auto second = end - p > 2 ? static_cast<unsigned char>(p[1]) : 0u;
      const auto third = end - p > 2 ? static_cast<unsigned char>(p[2]) : 0u;
      // Only a low surrogate is escaped: a lone high one would not read back.
      if ((second & 0xF0) != 0xB0 || (third & 0xC0) != 0x80) continue;
      surrogate = 0xD000u | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
    }
    out.append(run, static_cast<std::size_t>(p - run));
    run = p + 1;
    if (escape == 's') {
      const char sequence[] = {'\\',
                               'u',
                               kHexDigits[surrogate >> 12],
                               kHexDigits[(surrogate >> 8) & 0xF],
                               kHexDigits[(surrogate >> 4) & 0xF],
                               kHexDigits[surrogate & 0xF]};
      out.append(sequence, sizeof sequence);
      p += 2;
      run = p + 1;
    } else if (escape == 'u') {
      const char sequence[] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
      out.append(sequence, sizeof sequence);
    } else {
      const char sequence[] = {'\\', escape};
      out.append(sequence, sizeof sequence);
    }
  }
  out.append(run, static_cast<std::size_t>(end - run));
  out.push_back('"');
}

void WriteValue(std::string& out, const Value& value) {
  char digits[32];
  switch (value.type()) {
    case nullValue:
      out.append("null", 4);
      break;
    case booleanValue:
      if (value.asBool()) {
        out.append("true", 4);
      } else {
        out.append("false", 5);
      }
      break;
    case intValue:
      out.append(digits, rapidjson::internal::i64toa(value.asInt64(), digits));
      break;
    case uintValue:
      out.append(digits, rapidjson::internal::u64toa(value.asUInt64(), digits));
      break;
    case realValue: {
      double real = value.asDouble();
      if (std::isfinite(real)) {
        out.append(digits, rapidjson::internal::dtoa(real, digits));
      } else {
        out.append("null", 4);
      }
      break;
    }
    case stringValue:
      AppendString(out, value.stringView());
      break;
    case arrayValue: {
      out.push_back('[');
      const Value* items = Value::Access::NodeOf(value) != nullptr
                               ? Value::Access::Elements(Value::Access::NodeOf(value))
                               : nullptr;
      for (std::uint32_t i = 0; i < Value::Access::Count(value); ++i) {
        if (i != 0) out.push_back(',');
        WriteValue(out, items[i]);
      }
      out.push_back(']');
      break;
    }
    case objectValue: {
      out.push_back('{');
      const Value* pairs = Value::Access::NodeOf(value) != nullptr
                               ? Value::Access::Elements(Value::Access::NodeOf(value))
                               : nullptr;
      for (std::uint32_t i = 0; i < Value::Access::Count(value); ++i) {
        if (i != 0) out.push_back(',');
        AppendString(out, pairs[2 * i].stringView());
        out.push_back(':');
        WriteValue(out, pairs[2 * i + 1]);
      }
      out.push_back('}');
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
  char* end = rapidjson::internal::dtoa(value, buffer);
  return std::string(buffer, end);
}

std::string Write(const Value& root) {
  // Enough for the request bodies and small documents in one allocation.
  constexpr std::size_t kInitialCapacity = 256;
  std::string text;
  text.reserve(kInitialCapacity);
  WriteValue(text, root);
  return text;
}

FastWriter::FastWriter() = default;
FastWriter::~FastWriter() = default;
std::string FastWriter::write(const Value& root) { return Write(root); }

}  // namespace Json
}  // namespace quim
