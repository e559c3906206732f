// The record checks and the target encoding: every byte value at the start, in the middle and at
// the end of a text, including texts that fill their field, is refused or encoded exactly as the
// rules say.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "RequestBuilder.h"

namespace ostrel {
namespace {

bool IsToken(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}
bool IsFieldValue(int c) { return c == '\t' || (c >= 0x20 && c != 0x7F); }
bool GoesAsItIs(int c) { return c > 0x20 && c < 0x7F && std::strchr("\"<>\\^`{|}#", c) == nullptr; }

// Texts of `length` bytes, "a" to "z" repeating, with `byte` at `position`.
std::string Text(std::size_t length, std::size_t position, int byte) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  text[position] = static_cast<char>(byte);
  return text;
}

struct Built {
  int code;
  std::string target;
};

Built Build(const std::string& method, const std::string& path, const std::string& name,
            const std::string& value) {
  RestRequest record{};
  HttpHeaderItem header{};
  std::memcpy(record.method, method.data(), method.size());
  std::memcpy(record.path, path.data(), path.size());
  std::memcpy(header.name, name.data(), name.size());
  header.nameLength = static_cast<std::uint32_t>(name.size());
  std::memcpy(header.value, value.data(), value.size());
  header.valueLength = static_cast<std::uint32_t>(value.size());
  record.headers = &header;
  record.headerCount = 1;
  HttpRequest request;
  const int code = BuildHttpRequest(record, request);
  return {code, std::string(request.target, request.targetLength)};
}

TEST(RequestBuilder, EveryByteAtEveryPlaceIsRefusedOrEncodedByItsClass) {
  // Short texts, and texts that end just before the end of their field or fill it (names,
  // values, paths): their last ten bytes.
  const std::size_t lengths[] = {3,
                                 9,
                                 15,
                                 16,
                                 kNameWidth - 3,
                                 kNameWidth,
                                 kValueWidth - 3,
                                 kValueWidth,
                                 kPathWidth - 3,
                                 kPathWidth};
  for (const std::size_t length : lengths) {
    for (std::size_t position = length > 16 ? length - 10 : 0; position < length; ++position) {
      for (int byte = 1; byte < 256; ++byte) {
        const std::string text = Text(length, position, byte);
        SCOPED_TRACE("length " + std::to_string(length) + ", byte " + std::to_string(byte) +
                     " at " + std::to_string(position));
        // The method is at most ten bytes wide.
        if (length <= kMethodWidth) {
          EXPECT_EQ(Build(text, "p", "N", "v").code, IsToken(byte) ? ZENTA_OK : ZENTA_E_BAD_METHOD);
        }
        if (length <= kNameWidth) {
          EXPECT_EQ(Build("GET", "p", text, "v").code,
                    IsToken(byte) ? ZENTA_OK : ZENTA_E_BAD_HEADER);
        }
        if (length <= kValueWidth) {
          EXPECT_EQ(Build("GET", "p", "N", text).code,
                    IsFieldValue(byte) ? ZENTA_OK : ZENTA_E_BAD_HEADER);
        }
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", byte);
        const std::string expected = "/" + text.substr(0, position) +
                                     (GoesAsItIs(byte) ? text.substr(position, 1) : escape) +
                                     text.substr(position + 1);
        const Built built = Build("GET", text, "N", "v");
        ASSERT_EQ(built.code, ZENTA_OK);
        ASSERT_EQ(built.target, expected);
      }
    }
  }
}

}  // namespace
}  // namespace ostrel
