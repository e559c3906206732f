// Writing: exact compact text, escaping, doubles, and parse -> write -> parse round trips.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "JsonTestUtil.h"

namespace {

using quim::Json::Value;
using quim_test::ParseOk;

TEST(JsonWrite, RoundTripsThroughCompactText) {
  struct Case {
    const char* text;
    const char* compact;
  };
  const Case cases[] = {
      {"[]", "[]"},
      {"{ }", "{}"},
      {"[ null , false ,true ]", "[null,false,true]"},
      {"{\"b\": 1, \"a\": [2, {\"c\": \"d\"}], \"\": -3}",
       "{\"b\":1,\"a\":[2,{\"c\":\"d\"}],\"\":-3}"},
      {"[1.5, 1e300, 3.0, 0.1, -0.0, 5e-324, 1.7976931348623157e308, 2.5e-7]",
       "[1.5,1e300,3.0,0.1,-0.0,5e-324,1.7976931348623157e308,2.5e-7]"},
      // Below 1e21 rapidjson writes positional digits; the text reads back to the same double.
      {"[123456789012345678901234567890, 18446744073709551616]",
       "[1.2345678901234568e29,18446744073709553000.0]"},
      {"[-1, 9223372036854775807, 18446744073709551615]",
       "[-1,9223372036854775807,18446744073709551615]"},
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u001f\\u007f\"", "\"\\\"\\\\/\\b\\f\\n\\r\\t\\u001F\x7f\""},
      {"\"caf\xc3\xa9 \\u20ac\"", "\"caf\xc3\xa9 \xe2\x82\xac\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Value first = ParseOk(c.text);
    std::string written = quim::Json::Write(first);
    EXPECT_EQ(written, c.compact);
    EXPECT_EQ(ParseOk(written), first);
    EXPECT_EQ(quim::Json::FastWriter().write(first), written);
  }
}

TEST(JsonWrite, BuiltValues) {
  const double inf = std::numeric_limits<double>::infinity();
  Value nonFinite;
  nonFinite.append(std::nan(""));
  nonFinite.append(inf);
  nonFinite.append(-inf);

  Value object;
  object["z"] = 1;
  object["a"] = Value(quim::Json::arrayValue);
  object["m"] = Value(quim::Json::objectValue);
  object[std::string("n\0ul", 4)] = std::string("x\0y", 3);

  struct Case {
    const char* name;
    Value value;
    const char* compact;
  };
  const Case cases[] = {
      {"null", Value(), "null"},
      {"empty string", Value(""), "\"\""},
      {"null char pointer", Value(static_cast<const char*>(nullptr)), "\"\""},
      {"control bytes", Value("\x01\x1f"), "\"\\u0001\\u001F\""},
      {"non-finite doubles", nonFinite, "[null,null,null]"},
      {"insertion order and NUL", object,
       "{\"z\":1,\"a\":[],\"m\":{},\"n\\u0000ul\":\"x\\u0000y\"}"},
      {"unsigned", Value(18446744073709551615ULL), "18446744073709551615"},
      {"int", Value(-2147483647 - 1), "-2147483648"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(quim::Json::Write(c.value), c.compact);
  }
}

// Every finite double is written as text that reads back to the same double.
TEST(JsonWrite, DoublesReadBack) {
  std::mt19937_64 random(20240601);
  std::vector<double> doubles = {0.1 + 0.2,
                                 1.0 / 3,
                                 std::numeric_limits<double>::min(),
                                 std::numeric_limits<double>::denorm_min(),
                                 1e21,
                                 1e-7};
  while (doubles.size() < 20000) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) doubles.push_back(value);
  }
  for (double value : doubles) {
    std::string text = Value(value).asString();
    ASSERT_EQ(quim::Json::Write(Value(value)), text);
    ASSERT_EQ(ParseOk(text).asDouble(), value) << text;
  }
}

// A tree built by hand to the parser's depth limit is written, read back and destroyed.
TEST(JsonWrite, DeepBuiltTree) {
  Value root;
  Value* level = &root;
  for (int depth = 1; depth < quim::Json::kMaxDepth; ++depth) {
    level = &level->append(Value(quim::Json::arrayValue));
  }
  std::string text = quim::Json::Write(root);
  EXPECT_EQ(text, quim_test::NestedArrays(quim::Json::kMaxDepth));
  EXPECT_EQ(ParseOk(text), root);
}

}  // namespace
