// What the JSON fuzzer (tests/fuzz) found in quim's reader and writer, kept as regression tests:
// numbers that rapidjson 1.1.0's own full-precision conversion got wrong, and strings with a lone
// surrogate escape that were written back as bytes the reader then refused.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "quim/Json.h"

namespace {

TEST(NumberReading, DoublesAreTheNearestAndZeroIsZero) {
  const struct {
    const char* text;
    double value;
  } rows[] = {
      // A zero significand with an exponent past the fast path went through clz(0).
      {"0e30", 0.0},
      {"0.0e-30", 0.0},
      {"0.000e100", 0.0},
      {"-0e23", -0.0},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      // Below the smallest: zero with its sign; subnormals exact.
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"123456789012345678901234567890", 1.2345678901234568e29},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    quim::Json::Value value;
    ASSERT_TRUE(quim::Json::Parse(row.text, value));
    ASSERT_TRUE(value.isDouble());
    EXPECT_EQ(value.asDouble(), row.value);
    EXPECT_EQ(std::signbit(value.asDouble()), std::signbit(row.value));
  }
}

// Past the largest double there is no value to give: refused like "1e309", which rapidjson's own
// range check catches, and no longer read as a tiny negative number.
TEST(NumberReading, NumbersPastTheLargestDoubleAreRefused) {
  const struct {
    const char* text;
    const char* error;
  } rows[] = {
      {"[1e309]", "Number too big to be stored in double. at offset 1"},
      {"[0e309]", "Number too big to be stored in double. at offset 1"},
      {"[9e308]", "Number too big to be stored in double. at offset 1"},
      {"[-9e308]", "Number too big to be stored in double. at offset 1"},
      {"{\"a\":1.7976931348623159e308}", "Number too big to be stored in double. at offset 5"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    quim::Json::Value value(7);
    std::string errors;
    EXPECT_FALSE(quim::Json::Parse(row.text, value, &errors));
    EXPECT_EQ(errors, row.error);
    EXPECT_TRUE(value.isNull());
  }
}

TEST(SurrogateEscapes, ALoneLowSurrogateIsWrittenBackAsItsEscape) {
  const struct {
    const char* text;
    const char* written;
  } rows[] = {
      {R"(["\udc00"])", R"(["\uDC00"])"},
      {R"({"\uDFFFk":"a\uDE00b"})", R"({"\uDFFFk":"a\uDE00b"})"},
      {R"(["\ud83d\ude00"])", "[\"\xF0\x9F\x98\x80\"]"},  // a pair stays one character
      {"[\"\xED\x9F\xBF\"]", "[\"\xED\x9F\xBF\"]"},       // U+D7FF is no surrogate
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    quim::Json::Value first;
    ASSERT_TRUE(quim::Json::Parse(row.text, first));
    const std::string written = quim::Json::Write(first);
    EXPECT_EQ(written, row.written);
    quim::Json::Value second;
    ASSERT_TRUE(quim::Json::Parse(written, second));
    EXPECT_EQ(second, first);
  }
}

}  // namespace
