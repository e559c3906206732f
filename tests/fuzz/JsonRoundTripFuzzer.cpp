// quim's parser and writer. Whatever parses must write, and what is written must parse back to
// an equal tree and write again to the same text. Independently of parsing, the input's bytes
// become a member name and a string value: written, they must read back whenever they are valid
// UTF-8 (the parser checks the encoding, the writer copies bytes as they are).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "quim/Json.h"

namespace {

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "fuzz_json: %s: %.*s\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

void RoundTrip(std::string_view input) {
  quim::Json::Value first;
  if (!quim::Json::Parse(input, first)) return;
  const std::string written = quim::Json::Write(first);
  quim::Json::Value second;
  std::string errors;
  if (!quim::Json::Parse(written, second, &errors)) Fail("written text does not parse", written);
  if (!(second == first)) Fail("the tree read back differs", written);
  if (quim::Json::Write(second) != written) Fail("writing again gives other text", written);
}

void BytesAsText(std::string_view input) {
  const std::string bytes(input);
  quim::Json::Value object;
  object[bytes] = quim::Json::Value(bytes);
  const std::string written = quim::Json::Write(object);
  quim::Json::Value back;
  const bool parsed = quim::Json::Parse(written, back);
  if (!IsValidUtf8(input)) return;  // the writer copies invalid bytes; the parser refuses them
  if (!parsed) Fail("a valid UTF-8 string written does not parse", written);
  if (!(back == object)) Fail("a string read back differs", written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  RoundTrip(input);
  BytesAsText(input);
  return 0;
}
