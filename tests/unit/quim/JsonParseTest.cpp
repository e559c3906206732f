// Parsing: accepted texts and their values, refused texts and their exact error texts.
#include <memory>

#include "JsonTestUtil.h"

namespace {

using quim::Json::Value;
using quim::Json::ValueType;
using quim_test::NestedArrays;
using quim_test::ParseOk;

struct ValidCase {
  std::string text;
  ValueType type;
  std::string compact;  // Write of the result
};

TEST(JsonParse, AcceptsValidTexts) {
  const ValidCase cases[] = {
      {" \t\r\n[1, 2 ]\n", quim::Json::arrayValue, "[1,2]"},
      {"{}", quim::Json::objectValue, "{}"},
      {"null", quim::Json::nullValue, "null"},
      {"true", quim::Json::booleanValue, "true"},
      {"\"\"", quim::Json::stringValue, "\"\""},
      {"-0", quim::Json::intValue, "0"},
      {"-0.0", quim::Json::realValue, "-0.0"},
      {"1.0", quim::Json::realValue, "1.0"},
      {"1E2", quim::Json::realValue, "100.0"},
      {"9223372036854775807", quim::Json::intValue, "9223372036854775807"},
      {"-9223372036854775808", quim::Json::intValue, "-9223372036854775808"},
      {"9223372036854775808", quim::Json::uintValue, "9223372036854775808"},
      {"18446744073709551615", quim::Json::uintValue, "18446744073709551615"},
      {"18446744073709551616", quim::Json::realValue, "18446744073709553000.0"},
      {"-9223372036854775809", quim::Json::realValue, "-9223372036854776000.0"},
      {"0.1", quim::Json::realValue, "0.1"},
      {"\"\\u00e9\\ud83d\\ude00\"", quim::Json::stringValue, "\"\xc3\xa9\xf0\x9f\x98\x80\""},
      {"\"a\\u0000b\"", quim::Json::stringValue, "\"a\\u0000b\""},
      // A duplicate name keeps its first position and takes the last value.
      {"{\"a\":1,\"b\":2,\"a\":3}", quim::Json::objectValue, "{\"a\":3,\"b\":2}"},
      {NestedArrays(quim::Json::kMaxDepth), quim::Json::arrayValue,
       NestedArrays(quim::Json::kMaxDepth)},
  };
  for (const ValidCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    Value root = ParseOk(c.text);
    EXPECT_EQ(root.type(), c.type);
    EXPECT_EQ(quim::Json::Write(root), c.compact);
  }
}

TEST(JsonParse, StringsKeepNulBytes) {
  Value root = ParseOk("{\"k\\u0000\":\"a\\u0000b\"}");
  EXPECT_EQ(root["k" + std::string(1, '\0')].stringView(), std::string_view("a\0b", 3));
  EXPECT_FALSE(root.isMember("k"));
}

struct InvalidCase {
  std::string text;
  std::string error;
};

TEST(JsonParse, RefusesInvalidTexts) {
  const std::string tooDeep = NestedArrays(quim::Json::kMaxDepth + 1);
  const InvalidCase cases[] = {
      {"", "The document is empty. at offset 0"},
      {"  ", "The document is empty. at offset 2"},
      {"[1] x", "The document root must not be followed by other values. at offset 4"},
      {"{} {}", "The document root must not be followed by other values. at offset 3"},
      {std::string("[1]\0", 4),
       "The document root must not be followed by other values. at offset 3"},
      {"[1,]", "Invalid value. at offset 3"},
      {"[1 2]", "Missing a comma or ']' after an array element. at offset 3"},
      {"{\"a\":1,}", "Missing a name for object member. at offset 7"},
      {"{\"a\" 1}", "Missing a colon after a name of object member. at offset 5"},
      {"{'a':1}", "Missing a name for object member. at offset 1"},
      {"// note\n1", "Invalid value. at offset 0"},
      {"NaN", "Invalid value. at offset 0"},
      {"01", "The document root must not be followed by other values. at offset 1"},
      {"1e400", "Number too big to be stored in double. at offset 0"},
      {"\"abc", "Missing a closing quotation mark in string. at offset 4"},
      {"\"\\x\"", "Invalid escape character in string. at offset 1"},
      {"\"\\ud800\"", "The surrogate pair in string is invalid. at offset 1"},
      {"\"a\x01\"", "Invalid escape character in string. at offset 2"},  // raw control
      {"\"\xff\"", "Invalid encoding in string. at offset 1"},
      {"\"\xc0\xaf\"", "Invalid encoding in string. at offset 1"},      // overlong
      {"\"\xed\xa0\x80\"", "Invalid encoding in string. at offset 1"},  // surrogate
      {"\"\xe2\x82\"", "Invalid encoding in string. at offset 1"},      // truncated
      {tooDeep, "Nesting deeper than 512 levels. at offset 512"},
      {"{\"a\":" + tooDeep + "}", "Nesting deeper than 512 levels. at offset 516"},
  };
  for (const InvalidCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    Value root(7);
    std::string errs;
    EXPECT_FALSE(quim::Json::Parse(c.text, root, &errs));
    EXPECT_EQ(errs, c.error);
    EXPECT_TRUE(root.isNull());
  }
}

TEST(JsonParse, CharReaderFromBuilderParses) {
  std::unique_ptr<quim::Json::CharReader> reader(quim::Json::CharReaderBuilder().newCharReader());
  const std::string text = "{\"a\":[true]}";
  Value root;
  std::string errs = "stale";
  ASSERT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errs));
  EXPECT_TRUE(errs.empty());
  EXPECT_TRUE(root["a"][0].asBool());
  EXPECT_FALSE(reader->parse(text.data(), text.data() + 3, &root, nullptr));
}

}  // namespace
