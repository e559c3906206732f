// Conversions (the table in Json.h, throwing cells and range edges included) and the accessors'
// rules for values of the wrong type.
#include <climits>
#include <cstdint>
#include <optional>

#include "JsonTestUtil.h"

namespace {

using quim::Json::Error;
using quim::Json::Value;
using quim_test::ParseOk;

// std::nullopt: the conversion throws quim::Json::Error.
struct ConversionCase {
  const char* name;
  Value value;
  std::optional<int> asInt;
  std::optional<std::int64_t> asInt64;
  std::optional<std::uint64_t> asUInt64;
  std::optional<double> asDouble;
  std::optional<bool> asBool;
  std::optional<std::string> asString;
};

template <class T, class Convert>
void Check(const std::optional<T>& expected, Convert convert, const char* conversion) {
  SCOPED_TRACE(conversion);
  if (expected) {
    EXPECT_EQ(convert(), *expected);
  } else {
    EXPECT_THROW(convert(), Error);
  }
}

TEST(JsonConvert, Table) {
  const auto none = std::nullopt;
  const std::int64_t big = std::int64_t{INT_MAX} + 1;
  const ConversionCase cases[] = {
      {"null", Value(), 0, 0, 0u, 0.0, false, ""},
      {"true", Value(true), 1, 1, 1u, 1.0, true, "true"},
      {"false", Value(false), 0, 0, 0u, 0.0, false, "false"},
      {"42", Value(42), 42, 42, 42u, 42.0, true, "42"},
      {"-7", Value(-7), -7, -7, none, -7.0, true, "-7"},
      {"0", Value(0), 0, 0, 0u, 0.0, false, "0"},
      {"INT_MAX", Value(INT_MAX), INT_MAX, INT_MAX, 2147483647u, 2147483647.0, true, "2147483647"},
      {"INT_MIN", Value(INT_MIN), INT_MIN, INT_MIN, none, -2147483648.0, true, "-2147483648"},
      {"INT_MAX+1", Value(big), none, big, 2147483648u, 2147483648.0, true, "2147483648"},
      {"INT_MIN-1", Value(-big - 1), none, -big - 1, none, -2147483649.0, true, "-2147483649"},
      {"INT64_MIN", Value(INT64_MIN), none, INT64_MIN, none, -9223372036854775808.0, true,
       "-9223372036854775808"},
      {"UINT64_MAX", Value(UINT64_MAX), none, none, UINT64_MAX, 18446744073709551615.0, true,
       "18446744073709551615"},
      {"2147483647.9", Value(2147483647.9), INT_MAX, INT_MAX, 2147483647u, 2147483647.9, true,
       "2147483647.9"},
      {"-2147483648.9", Value(-2147483648.9), INT_MIN, INT_MIN, none, -2147483648.9, true,
       "-2147483648.9"},
      {"2147483648.0", Value(2147483648.0), none, big, 2147483648u, 2147483648.0, true,
       "2147483648.0"},
      {"-2147483649.0", Value(-2147483649.0), none, -big - 1, none, -2147483649.0, true,
       "-2147483649.0"},
      {"1.5", Value(1.5), 1, 1, 1u, 1.5, true, "1.5"},
      {"-0.5", Value(-0.5), 0, 0, 0u, -0.5, true, "-0.5"},
      {"0.0", Value(0.0), 0, 0, 0u, 0.0, false, "0.0"},
      {"2^63", Value(9223372036854775808.0), none, none, 9223372036854775808u,
       9223372036854775808.0, true, "9223372036854776000.0"},
      {"1e300", Value(1e300), none, none, none, 1e300, true, "1e300"},
      {"string", Value("12"), none, none, none, none, none, "12"},
      {"string with NUL", Value(std::string("a\0b", 3)), none, none, none, none, none,
       std::string("a\0b", 3)},
      {"array", ParseOk("[1]"), none, none, none, none, none, none},
      {"object", ParseOk("{\"a\":1}"), none, none, none, none, none, none},
  };
  for (const ConversionCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Value& v = c.value;
    Check(
        c.asInt, [&] { return v.asInt(); }, "asInt");
    Check(
        c.asInt64, [&] { return v.asInt64(); }, "asInt64");
    Check(
        c.asUInt64, [&] { return v.asUInt64(); }, "asUInt64");
    Check(
        c.asDouble, [&] { return v.asDouble(); }, "asDouble");
    Check(
        c.asBool, [&] { return v.asBool(); }, "asBool");
    Check(
        c.asString, [&] { return v.asString(); }, "asString");
  }
}

TEST(JsonConvert, ErrorTexts) {
  struct Case {
    Value value;
    std::string (*use)(const Value&);
    const char* error;
  };
  const Case cases[] = {
      {Value(std::int64_t{INT_MAX} + 1), [](const Value& v) { return std::to_string(v.asInt()); },
       "quim::Json::Value::asInt: 2147483648 is out of range"},
      {Value("x"), [](const Value& v) { return std::to_string(v.asInt()); },
       "quim::Json::Value::asInt: not applicable to a string"},
      {ParseOk("{}"), [](const Value& v) { return v.asString(); },
       "quim::Json::Value::asString: not applicable to an object"},
      {Value(1), [](const Value& v) { return std::string(v.stringView()); },
       "quim::Json::Value::stringView: not applicable to an integer"},
  };
  for (const Case& c : cases) {
    try {
      c.use(c.value);
      ADD_FAILURE() << "no exception for " << c.error;
    } catch (const Error& error) {
      EXPECT_STREQ(error.what(), c.error);
    }
  }
}

TEST(JsonAccess, RulesForEachType) {
  struct Case {
    const char* name;
    Value value;
    unsigned size;
    bool isMemberA;
    bool readOnlyIndexThrows;
  };
  const Case cases[] = {
      {"null", Value(), 0, false, true},
      {"int", Value(1), 0, false, true},
      {"double", Value(1.5), 0, false, true},
      {"string", Value("a"), 0, false, true},
      {"empty array", Value(quim::Json::arrayValue), 0, false, true},  // index 0 out of range
      {"array", ParseOk("[\"a\",2]"), 2, false, false},
      {"object", ParseOk("{\"a\":1,\"b\":2,\"c\":3}"), 3, true, true},
  };
  const Value null;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Value& v = c.value;
    EXPECT_EQ(v.size(), c.size);
    EXPECT_EQ(v.empty(), c.size == 0);
    EXPECT_EQ(v.isMember("a"), c.isMemberA);
    EXPECT_EQ(v.find("a") != nullptr, c.isMemberA);
    if (c.readOnlyIndexThrows) {
      EXPECT_THROW(v[0], Error);
    } else {
      EXPECT_NO_THROW(v[0]);
    }
    // A missing member, or any member of a non-object, reads as the one static null value.
    EXPECT_TRUE(v["missing"].isNull());
    EXPECT_EQ(&v["missing"], &null["other"]);
  }
}

TEST(JsonAccess, WritableAccessorsConvertNull) {
  Value array;
  array[2] = "c";
  EXPECT_EQ(quim::Json::Write(array), "[null,null,\"c\"]");
  Value appended;
  appended.append(1);
  EXPECT_EQ(quim::Json::Write(appended), "[1]");
  Value object;
  object["k"];
  EXPECT_EQ(quim::Json::Write(object), "{\"k\":null}");
}

TEST(JsonAccess, WrongTypeThrows) {
  struct Case {
    const char* name;
    Value value;
    void (*use)(Value&);
  };
  const Case cases[] = {
      {"index on int", Value(1), [](Value& v) { v[0]; }},
      {"index on object", ParseOk("{}"), [](Value& v) { v[0u]; }},
      {"negative index", ParseOk("[1]"), [](Value& v) { v[-1]; }},
      {"append to object", ParseOk("{}"), [](Value& v) { v.append(1); }},
      {"reserve on string", Value("a"), [](Value& v) { v.reserve(1); }},
      {"member of string", Value("a"), [](Value& v) { v["k"]; }},
      {"member of array", ParseOk("[]"), [](Value& v) { v[std::string("k")]; }},
      {"memberName out of range", ParseOk("{\"a\":1}"), [](Value& v) { v.memberName(1); }},
      {"memberValue of array", ParseOk("[1]"), [](Value& v) { v.memberValue(0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value v = c.value;
    EXPECT_THROW(c.use(v), Error);
    EXPECT_EQ(v, c.value);
  }
}

}  // namespace
