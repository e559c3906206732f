// The quim base library: parsing (accepted texts, refused texts and their messages),
// conversions, copies that stay independent, objects, the compact writer; the Vantrix logger.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quim/Json.h"
#include "quim/Vantrix.h"

namespace {

using quim::Json::Error;
using ArrayIndex = quim::Json::Value::ArrayIndex;
using quim::Json::Value;
using quim::Json::Write;

// Parses text as a range and, when it holds no NUL byte, as NUL-terminated text too (the form
// answers take, read by another stream): both must give the same tree.
Value ParseOk(const std::string& text) {
  Value root;
  std::string errs;
  EXPECT_TRUE(quim::Json::Parse(text, root, &errs)) << errs;
  if (text.find('\0') == std::string::npos) {
    Value terminated;
    EXPECT_TRUE(quim::Json::Parse(text.c_str(), terminated, &errs)) << errs;
    EXPECT_EQ(Write(terminated), Write(root));  // member order included
  }
  return root;
}

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
std::string NestedObjects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "{\"a\":";
  return text + "1" + std::string(depth, '}');
}

// asInt, asInt64 and asString of one value, "|"-separated; an error as "range" or "type".
std::string Conversions(const Value& v) {
  std::string out;
  for (int which = 0; which < 3; ++which) {
    try {
      out += which == 0   ? std::to_string(v.asInt())
             : which == 1 ? std::to_string(v.asInt64())
                          : v.asString();
    } catch (const Error& e) {
      out += std::string(e.what()).find("out of range") != std::string::npos ? "range" : "type";
    }
    out += which < 2 ? "|" : "";
  }
  return out;
}

TEST(Json, AcceptedTextsTheirValuesAndConversions) {
  // The text; its type's number, compact text, asInt, asInt64 and asString.
  const std::pair<std::string, std::string> cases[] = {
      {" [1, 2 ]\n", "6 [1,2] type|type|type"},
      {"null", "0 null 0|0|"},
      {"true", "5 true 1|1|true"},
      {"-0.0", "3 -0.0 0|0|-0.0"},
      {"-2147483648.9", "3 -2147483648.9 -2147483648|-2147483648|-2147483648.9"},
      {"2147483648.0", "3 2147483648.0 range|2147483648|2147483648.0"},
      {"9223372036854775808.0", "3 9223372036854776000.0 range|range|9223372036854776000.0"},
      {"-2147483648", "1 -2147483648 -2147483648|-2147483648|-2147483648"},
      {"2147483648", "1 2147483648 range|2147483648|2147483648"},
      // The edges of the integers held in the value itself.
      {"140737488355327", "1 140737488355327 range|140737488355327|140737488355327"},
      {"140737488355328", "1 140737488355328 range|140737488355328|140737488355328"},
      {"-140737488355328", "1 -140737488355328 range|-140737488355328|-140737488355328"},
      {"-140737488355329", "1 -140737488355329 range|-140737488355329|-140737488355329"},
      {"9223372036854775807",
       "1 9223372036854775807 range|9223372036854775807|9223372036854775807"},
      {"-9223372036854775808",
       "1 -9223372036854775808 range|-9223372036854775808|-9223372036854775808"},
      {"[-0,999999999999999999,-999999999999999999,12.5e1]",
       "6 [0,999999999999999999,-999999999999999999,125.0] type|type|type"},
      {"18446744073709551615", "2 18446744073709551615 range|range|18446744073709551615"},
      {"18446744073709551616", "3 18446744073709553000.0 range|range|18446744073709553000.0"},
      {"1e-400", "3 0.0 0|0|0.0"},
      {"\"12\"", "4 \"12\" type|type|12"},
      {"\"\\u00e9\\ud83d\\ude00\"",
       "4 \"\xc3\xa9\xf0\x9f\x98\x80\" type|type|\xc3\xa9\xf0\x9f\x98\x80"},
      {"[\"a\\u0000b\",\"\",\"12345\",\"123456\",\"1234567\"]",
       "6 [\"a\\u0000b\",\"\",\"12345\",\"123456\",\"1234567\"] type|type|type"},
      // Lone surrogate escapes, high or low, anywhere: their 3-byte forms, written back as escapes.
      {"\"\\udc01\"", "4 \"\\uDC01\" type|type|\xed\xb0\x81"},
      {"\"\\ud800\"", "4 \"\\uD800\" type|type|\xed\xa0\x80"},
      {"{\"\\udbff\":[\"x\\ud83d\",\"\\udc00\\ud800\\u0041\"]}",
       "7 {\"\\uDBFF\":[\"x\\uD83D\",\"\\uDC00\\uD800A\"]} type|type|type"},
      // A lone high one before a pair; a pair's two 3-byte forms stay as they are.
      {"\"\\ud800\\ud83d\\ude00\"",
       "4 \"\\uD800\xf0\x9f\x98\x80\" type|type|\xed\xa0\x80\xf0\x9f\x98\x80"},
      {"\"\\ud83d\xed\xb8\x80\"",
       "4 \"\xed\xa0\xbd\xed\xb8\x80\" type|type|\xed\xa0\xbd\xed\xb8\x80"},
      // Bytes that are not UTF-8 pass through; a byte-order mark at the start is skipped.
      {"[\"\xff\xc0\xaf\xe2\x82\xed\xa0\x80\xed\xb0\x80\xed\xa0\"]",
       "6 [\"\xff\xc0\xaf\xe2\x82\xed\xa0\x80\xed\xb0\x80\xed\xa0\"] type|type|type"},
      {"\xEF\xBB\xBF{\"\xE9\":1}", "7 {\"\xE9\":1} type|type|type"},
      {"{\"a\":1,\"b\":2,\"a\":3,\"b\":[],\"c\":{}}",
       "7 {\"a\":3,\"b\":[],\"c\":{}} type|type|type"},
      {"{\"a long name\":1,\"a long nam\":2,\"a long same\":3,\"a long name\":4}",
       "7 {\"a long name\":4,\"a long nam\":2,\"a long same\":3} type|type|type"},
      {Nested(quim::Json::kMaxDepth), "6 " + Nested(quim::Json::kMaxDepth) + " type|type|type"},
      {NestedObjects(quim::Json::kMaxDepth),
       "7 " + NestedObjects(quim::Json::kMaxDepth) + " type|type|type"},
      // What the fast reader leaves to rapidjson's, and what it reads itself: white space
      // everywhere, escapes, long strings, integers past 18 digits, fractions and exponents.
      {" \t\n\r{ \"a\" : [ 1 , -0 , null , true , false , \"x\" , [ ] , { } ] , \"b\" : { } }\r\n",
       "7 {\"a\":[1,0,null,true,false,\"x\",[],{}],\"b\":{}} type|type|type"},
      {"[1234567890123456789,-1234567890123456789,1.5e3]",
       "6 [1234567890123456789,-1234567890123456789,1500.0] type|type|type"},
      {"{\"a\\\"b\":\"\\/\",\"0123456789abcdefghij\\n\":\"0123456789abcdefghijklmnopq\"}",
       "7 {\"a\\\"b\":\"/\",\"0123456789abcdefghij\\n\":\"0123456789abcdefghijklmnopq\"} "
       "type|type|type"},
      // Names alike but in their middle bytes (the name cache keeps one node per name).
      {"[{\"0123456789-x-abcdefghij\":1},{\"0123456789-y-abcdefghij\":2}]",
       "6 [{\"0123456789-x-abcdefghij\":1},{\"0123456789-y-abcdefghij\":2}] type|type|type"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    Value root = ParseOk(text);
    const std::string compact = Write(root);
    EXPECT_EQ(std::to_string(root.type()) + " " + compact + " " + Conversions(root), expected);
    EXPECT_EQ(ParseOk(compact), root);
  }
  EXPECT_EQ(Conversions(Value(0.0 / 0.0)), "range|range|NaN");
  try {
    Value(2147483648LL).asInt();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "quim::Json::Value::asInt: 2147483648 is out of range");
  }
  EXPECT_EQ(Value(UINT64_MAX).asUInt64(), UINT64_MAX);
  EXPECT_TRUE(Value(-1).asDouble() == -1.0 && Value(0.5).asBool() && !Value(0.0).asBool());
  EXPECT_TRUE(Value(0.0 / 0.0) != Value(0.0 / 0.0) && Value(5000000000LL) == Value(5000000000ULL));
}

// Strings are written eight bytes at a time where they need nothing: each byte that needs
// attention, at every position of a string longer than two such words.
TEST(Json, WrittenStringsEscapeWhatTheyMustWhereverItStands) {
  const std::pair<std::string, std::string> specials[] = {
      {"\"", "\\\""},
      {"\\", "\\\\"},
      {std::string(1, '\0'), "\\u0000"},
      {"\x1f", "\\u001F"},
      {"\n", "\\n"},
      {"\xed\xb0\x80", "\\uDC00"},
      {"\xed\xa0\x80", "\\uD800"},
      {"\xed\xbf\xbf\xed\xaf\xbf", "\\uDFFF\\uDBFF"},
      {"\xed\xa0\xbd\xed\xb8\x80", "\xed\xa0\xbd\xed\xb8\x80"},
      {"\xed", "\xed"},
      {"\x7f\x80 ", "\x7f\x80 "}};
  const std::string plain = "0123456789abcdefgh";
  for (const auto& [special, escaped] : specials) {
    for (std::size_t at = 0; at <= plain.size(); ++at) {
      const std::string text = plain.substr(0, at) + special + plain.substr(at);
      SCOPED_TRACE(escaped + " at " + std::to_string(at));
      const std::string written = Write(Value(text));
      EXPECT_EQ(written, "\"" + plain.substr(0, at) + escaped + plain.substr(at) + "\"");
      EXPECT_EQ(ParseOk(written).asString(), text);
    }
  }
}

TEST(Json, RefusedTextsAndTheirMessages) {
  const std::string tooDeep = Nested(quim::Json::kMaxDepth + 1);
  const std::pair<std::string, std::string> cases[] = {
      {"", "The document is empty. at offset 0"},
      {"\xEF\xBB\xBF", "The document is empty. at offset 3"},
      {"\xEF\xBB\xBF\xEF\xBB\xBF{}", "Invalid value. at offset 3"},
      {std::string("[1]\0", 4),
       "The document root must not be followed by other values. at offset 3"},
      {"{\"a\":1,}", "Missing a name for object member. at offset 7"},
      {"1e400", "Number too big to be stored in double. at offset 0"},
      {"9e308", "Number too big to be stored in double. at offset 0"},
      {std::string(400, '9'), "Number too big to be stored in double. at offset 0"},
      {"[\"\\ud800\\uD80G\"]", "Incorrect hex digit after \\u escape in string. at offset 8"},
      {"\"\\ud800\\", "Invalid escape character in string. at offset 7"},
      {"\"a\x01\"", "Invalid escape character in string. at offset 2"},
      {tooDeep, "Nesting deeper than 512 levels. at offset 512"},
      {NestedObjects(quim::Json::kMaxDepth + 1), "Nesting deeper than 512 levels. at offset 2560"},
      // Texts the fast reader gives up on, refused as before.
      {"0123", "The document root must not be followed by other values. at offset 1"},
      {"[0123]", "Missing a comma or ']' after an array element. at offset 2"},
      {"[-]", "Invalid value. at offset 2"},
      {"[1,]", "Invalid value. at offset 3"},
      {"[tru]", "Invalid value. at offset 4"},
      {"{\"a\":1 \"b\":2}", "Missing a comma or '}' after an object member. at offset 7"},
      {"[1]x", "The document root must not be followed by other values. at offset 3"},
      {"\"abc", "Missing a closing quotation mark in string. at offset 4"},
      {"  ", "The document is empty. at offset 2"},
      {"\"0123456789abcdefghij\x01\"", "Invalid escape character in string. at offset 21"},
      {std::string("{\"a\":\"x\0y\"}", 11),
       "Missing a closing quotation mark in string. at offset 7"},
      {std::string("[1,\0 2]", 7), "Invalid value. at offset 3"},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    Value root(7);
    std::string errs;
    EXPECT_FALSE(quim::Json::Parse(text, root, &errs));
    EXPECT_EQ(errs, error);
    EXPECT_TRUE(root.isNull());
    if (text.find('\0') == std::string::npos) {
      Value terminated(7);
      EXPECT_FALSE(quim::Json::Parse(text.c_str(), terminated, &errs));
      EXPECT_EQ(errs, error);
      EXPECT_TRUE(terminated.isNull());
    }
  }
  std::unique_ptr<quim::Json::CharReader> reader(quim::Json::CharReaderBuilder().newCharReader());
  const char text[] = "{\"a\":[true]}";
  Value root;
  EXPECT_TRUE(reader->parse(text, text + 12, &root, nullptr) && root["a"][0].asBool() &&
              !reader->parse(text, text + 3, &root, nullptr));
}

TEST(Json, CopiesStayIndependent) {
  const std::string tree = "{\"a\":{\"b\":[1,2],\"c\":[3]},\"s\":\"a long text\"}";
  Value original = ParseOk(tree);
  Value copy = original;
  copy["a"]["b"][0] = 9;
  copy["a"]["b"].append("x");
  EXPECT_EQ(Write(original), tree);
  EXPECT_EQ(Write(copy), "{\"a\":{\"b\":[9,2,\"x\"],\"c\":[3]},\"s\":\"a long text\"}");
  // A reference from a writable accessor, written after a copy was made, must not reach the copy.
  Value built;
  Value& member = built["x"];
  Value& element = built["list"][3];
  const Value snapshot = built;
  Value assigned;
  assigned = built;
  member = 5;
  element = "e";
  EXPECT_EQ(Write(snapshot), "{\"x\":null,\"list\":[null,null,null,null]}");
  EXPECT_EQ(Write(assigned), Write(snapshot));
  EXPECT_EQ(Write(built), "{\"x\":5,\"list\":[null,null,null,\"e\"]}");
  Value self = ParseOk("{\"x\":{\"y\":1}}");
  self = self["x"];
  self["s"] = std::string("q\"\\\x01\x7f\xe9\n", 7);
  self["inf"] = 1.0 / 0.0;
  EXPECT_EQ(quim::Json::FastWriter().write(self),
            "{\"y\":1,\"s\":\"q\\\"\\\\\\u0001\x7f\xe9\\n\",\"inf\":null}");
}

TEST(Json, Objects) {
  Value object;
  for (const char* name : {"z", "a", "long member name", "m"}) object[name] = name;
  EXPECT_EQ(object.getMemberNames(), (std::vector<std::string>{"z", "a", "long member name", "m"}));
  EXPECT_TRUE(object.removeMember("a") && !object.removeMember("a"));
  EXPECT_EQ(object.memberName(1), "long member name");
  EXPECT_EQ(object, ParseOk("{\"m\":\"m\",\"z\":\"z\",\"long member name\":\"long member name\"}"));
  EXPECT_THROW(Value(1)["a"] = 1, Error);
  EXPECT_THROW(Value("s")[0u], Error);
  EXPECT_TRUE(!Value(1).isMember("a") && Value(5).size() == 0);
  const Value& readOnly = object;  // reading by name leaves the object as it is
  EXPECT_TRUE(readOnly.isMember("z") && !readOnly.isMember("a") && readOnly["a"].isNull() &&
              readOnly["z"].asString() == "z" && readOnly.isMember(std::string("m")) &&
              !readOnly.isMember(std::string("q")) && readOnly.size() == 3);
  // Large objects, duplicates far apart included, parse without quadratic searching.
  std::string text = "{";
  for (int i = 0; i < 200000; ++i)
    text += "\"m" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  text += "\"m7\":-1,\"m199999\":-2}";
  Value large = ParseOk(text);
  ASSERT_EQ(large.size(), 200000u);
  EXPECT_EQ(std::string(large.memberName(7)) + Write(large["m7"]) + Write(large["m8"]) +
                Write(large.memberValue(199999)),
            "m7-18-2");
}

// Range-for visits an array's elements and an object's member values, in order; other values
// have none.
TEST(Json, RangeForVisitsElementsAndMemberValues) {
  const std::pair<std::string, std::string> cases[] = {
      {"[1,\"two\",[3],{\"x\":4}]", "1|\"two\"|[3]|{\"x\":4}|"},
      {"{\"b\":1,\"a\":[2],\"a long name\":3,\"b\":5}", "b=5|a=[2]|a long name=3|"},
      {"[]", ""},
      {"{}", ""},
      {"\"a long string\"", ""},
      {"null", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    Value root = ParseOk(text);  // not const: the read-only iteration serves both
    std::string seen;
    std::string values;
    for (auto it = root.begin(); it != root.end(); ++it) {
      seen += (it.name().empty() ? "" : std::string(it.name()) + "=") + Write(*it) + "|";
      values += Write(*it) + "|";
    }
    std::string ranged;
    for (const Value& item : root) ranged += Write(item) + "|";
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ranged, values);
    EXPECT_EQ(std::distance(root.begin(), root.end()), static_cast<std::ptrdiff_t>(root.size()));
  }
}

// The parser's small arrays and objects share blocks of memory: values taken out of a parsed
// tree outlive it, can be written (which may move them out of the block) and be released on
// another thread, in any order. (AddressSanitizer and LeakSanitizer watch the blocks' lifetime.)
TEST(Json, SmallContainersOutliveTheirParse) {
  std::string text = "[";
  for (int i = 0; i < 20000; ++i) {
    text += (i == 0 ? "[" : ",[") + std::to_string(i) + ",{\"k\":[" + std::to_string(i) + "]}]";
  }
  std::vector<Value> kept;
  {
    const Value root = ParseOk(text + "]");
    for (ArrayIndex i : {0, 4999, 9998, 14997, 14998}) kept.push_back(root[i]);
  }
  kept[0].append("x");
  kept[1][1]["k"][0] = -1;
  kept[2][1]["n"] = Value(quim::Json::arrayValue);
  kept[2][1].removeMember("k");
  // Neighbours in one slab, released on two threads at once.
  std::thread other(
      [released = std::move(kept[3])] { EXPECT_EQ(Write(released), "[14997,{\"k\":[14997]}]"); });
  kept[4] = Value();
  other.join();
  EXPECT_EQ(Write(kept[0]) + Write(kept[1]) + Write(kept[2]),
            "[0,{\"k\":[0]},\"x\"][4999,{\"k\":[-1]}][9998,{\"n\":[]}]");
}

// Strings of the parse come out of the same blocks, names shared between members included: they
// too outlive the tree and may be released on another thread.
TEST(Json, StringsOutliveTheirParse) {
  std::vector<Value> kept;
  {
    const Value root =
        ParseOk("[{\"a long name\":\"a long value\"},{\"a long name\":\"a value\"}]");
    kept = {root[0]["a long name"], root[1]["a long name"], root[0]};
  }
  std::thread other(
      [released = std::move(kept[0])] { EXPECT_EQ(Write(released), "\"a long value\""); });
  kept[2]["a long name"] = "changed";
  other.join();
  EXPECT_EQ(Write(kept[1]) + Write(kept[2]), "\"a value\"{\"a long name\":\"changed\"}");
}

// The Vantrix logger: the record a sink receives, the threshold, the default sink's line.
using quim::Vantrix;

TEST(Vantrix, SinkThresholdAndDefaultLine) {
  Vantrix& log = Vantrix::instance();
  const int savedLevel = log.Level();
  std::string seen;
  quim::LogSink saved = log.SetSink([&seen](const quim::LogRecord& r) {
    seen = std::string(r.file) + ":" + std::to_string(r.line) + " " + r.function + " " + r.tag +
           " " + std::to_string(r.level) + " " + r.message;
  });
  const std::string longText(5000, 'x');
  EXPECT_EQ(log.Log("A.cpp", 17, "F", "t", 6, "<%s>\n", longText.c_str()), 5002);
  EXPECT_EQ(seen, "A.cpp:17 F t 6 <" + longText + ">");
  log.SetLevel(4);
  EXPECT_EQ(log.Log("f", 1, "g", "t", 5, "dropped"), 0);
  EXPECT_EQ(log.Log("f", 1, "g", "t", 4, "kept\n\n"), 5);
  EXPECT_EQ(seen, "f:1 g t 4 kept\n");
  EXPECT_TRUE(log.SetSink(nullptr) && !log.SetSink(nullptr));  // the default one reads as empty
  testing::internal::CaptureStderr();
  log.Log("Api.cpp", 88, "API_X", "c", 3, "code %d\n", 1005);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[3] Api.cpp:88 API_X: code 1005\n");
  log.SetSink(saved);
  log.SetLevel(savedLevel);
}

// The threshold comes from QUIM_LOG_LEVEL when the logger is first used: a fresh process.
int LevelWithEnvironment(const char* text) {
#ifdef _WIN32
  _putenv_s("QUIM_LOG_LEVEL", text);
#else
  setenv("QUIM_LOG_LEVEL", text, 1);
#endif
  return Vantrix::instance().Level();
}

TEST(VantrixEnvironment, LevelFromEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(LevelWithEnvironment("2")), ::testing::ExitedWithCode(2), "");
  EXPECT_EXIT(std::exit(LevelWithEnvironment("9")), ::testing::ExitedWithCode(6), "");
}

}  // namespace
