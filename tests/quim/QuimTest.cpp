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
      {"18446744073709551615", "2 18446744073709551615 range|range|18446744073709551615"},
      {"18446744073709551616", "3 18446744073709553000.0 range|range|18446744073709553000.0"},
      {"1e-400", "3 0.0 0|0|0.0"},
      {"\"12\"", "4 \"12\" type|type|12"},
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

// The reader object reads the range it is given, and no byte past it.
TEST(Json, CharReaderReadsItsRange) {
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
