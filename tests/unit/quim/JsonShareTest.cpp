// Copy-on-write sharing (including references handed out before a copy) and objects.
#include <thread>
#include <utility>
#include <vector>

#include "JsonTestUtil.h"

namespace {

using quim::Json::Value;
using quim::Json::Write;
using quim_test::ParseOk;

const char kTree[] = "{\"a\":{\"b\":[1,2],\"c\":[3]},\"d\":[4],\"s\":\"text\"}";

// Read-only access, so that the test itself does not detach anything.
const Value& At(const Value& value, const char* name) { return value[name]; }

TEST(JsonShare, CopiesShareUntilWritten) {
  const Value original = ParseOk(kTree);
  Value copy = original;
  Value copyOfCopy = copy;
  EXPECT_TRUE(copy.sharesStorageWith(original));
  EXPECT_TRUE(copyOfCopy.sharesStorageWith(original));
  EXPECT_TRUE(At(copy, "s").sharesStorageWith(At(original, "s")));

  copy["a"]["b"][0] = 9;  // detaches the path root -> a -> b, one level at a time
  EXPECT_EQ(Write(original), kTree);
  EXPECT_EQ(Write(copyOfCopy), kTree);
  EXPECT_EQ(Write(copy), "{\"a\":{\"b\":[9,2],\"c\":[3]},\"d\":[4],\"s\":\"text\"}");
  EXPECT_FALSE(copy.sharesStorageWith(original));
  EXPECT_FALSE(At(At(copy, "a"), "b").sharesStorageWith(At(At(original, "a"), "b")));
  EXPECT_TRUE(At(At(copy, "a"), "c").sharesStorageWith(At(At(original, "a"), "c")));
  EXPECT_TRUE(At(copy, "d").sharesStorageWith(At(original, "d")));
}

// A reference from a writable accessor, written after a copy was made, must not reach the copy.
TEST(JsonShare, ReferencesHandedOutBeforeACopy) {
  struct Case {
    const char* name;
    const char* start;
    Value& (*reference)(Value&);
    const char* after;  // the original after the write through the reference
  };
  const Case cases[] = {
      {"member", "null", [](Value& v) -> Value& { return v["x"]; }, "{\"x\":5}"},
      {"index", "[1,2]", [](Value& v) -> Value& { return v[0]; }, "[5,2]"},
      {"append", "[1]", [](Value& v) -> Value& { return v.append(2); }, "[1,5]"},
      {"nested member", "{\"x\":{\"y\":1}}", [](Value& v) -> Value& { return v["x"]["y"]; },
       "{\"x\":{\"y\":5}}"},
      {"nested in array", "[[1]]", [](Value& v) -> Value& { return v[0][0]; }, "[[5]]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value original = ParseOk(c.start);
    Value& reference = c.reference(original);
    const std::string before = Write(original);
    Value copy = original;
    Value assigned;
    assigned = original;
    reference = 5;
    EXPECT_EQ(Write(original), c.after);
    EXPECT_EQ(Write(copy), before);
    EXPECT_EQ(Write(assigned), before);
  }
}

TEST(JsonShare, AssigningOwnPartsIsSafe) {
  Value v = ParseOk("{\"x\":{\"y\":[1]}}");
  v = v["x"];
  EXPECT_EQ(Write(v), "{\"y\":[1]}");
  v = std::move(v["y"]);
  EXPECT_EQ(Write(v), "[1]");
  v.append(v);
  v.append(v[0]);
  EXPECT_EQ(Write(v), "[1,[1],1]");
}

// Copies sharing storage are used and written from several threads (run under TSan in CI).
TEST(JsonShare, CopiesInSeveralThreads) {
  const Value shared = ParseOk(kTree);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, t] {
      for (int i = 0; i < 200; ++i) {
        Value mine = shared;
        mine["a"]["b"].append(t);
        mine["d"] = Value(mine["a"]);
        EXPECT_EQ(mine["a"]["b"].size(), 3u);
        EXPECT_EQ(Write(At(mine, "s")), "\"text\"");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Write(shared), kTree);
}

TEST(JsonObject, KeepsInsertionOrder) {
  Value v;
  for (const char* name : {"z", "a", "m", "b"}) v[name] = name;
  EXPECT_EQ(v.getMemberNames(), (std::vector<std::string>{"z", "a", "m", "b"}));
  EXPECT_EQ(v.memberName(2), "m");
  EXPECT_EQ(v.memberValue(3).asString(), "b");
  v["a"] = 1;  // an existing member keeps its position
  EXPECT_TRUE(v.removeMember("m"));
  EXPECT_FALSE(v.removeMember("m"));
  EXPECT_EQ(Write(v), "{\"z\":\"z\",\"a\":1,\"b\":\"b\"}");
  EXPECT_TRUE(Value().getMemberNames().empty());
  EXPECT_FALSE(Value(1).removeMember("a"));
}

TEST(JsonObject, EqualityIgnoresMemberOrder) {
  EXPECT_EQ(ParseOk("{\"a\":1,\"b\":[2]}"), ParseOk("{\"b\":[2],\"a\":1}"));
  EXPECT_NE(ParseOk("{\"a\":1,\"b\":[2]}"), ParseOk("{\"b\":[2],\"c\":1}"));
  EXPECT_NE(ParseOk("{\"a\":1}"), ParseOk("{\"a\":1.0}"));
  EXPECT_EQ(Value(5u), Value(5));
}

// Objects far past the linear-scan size: built, parsed (with every name twice), looked up and
// shrunk.
TEST(JsonObject, LargeObjects) {
  const int count = 100000;
  Value built;
  std::string text = "{";
  for (int i = 0; i < count; ++i) {
    std::string name = "member" + std::to_string(i);
    built[name] = i;
    text += "\"" + name + "\":-1,";
  }
  for (int i = 0; i < count; ++i) {
    text +=
        "\"member" + std::to_string(i) + "\":" + std::to_string(i) + (i + 1 < count ? "," : "}");
  }
  const Value parsed = ParseOk(text);
  ASSERT_EQ(parsed.size(), static_cast<unsigned>(count));
  EXPECT_EQ(parsed, built);
  for (int i = 0; i < count; i += 997) {
    const std::string name = "member" + std::to_string(i);
    EXPECT_EQ(parsed[name].asInt(), i);
    EXPECT_EQ(parsed.memberName(static_cast<unsigned>(i)), name);
  }
  EXPECT_FALSE(parsed.isMember("member" + std::to_string(count)));
  EXPECT_TRUE(built.removeMember("member5"));
  EXPECT_TRUE(built.removeMember("member50000"));
  EXPECT_EQ(built.size(), static_cast<unsigned>(count - 2));
  EXPECT_FALSE(built.isMember("member50000"));
  EXPECT_EQ(built.memberName(5), "member6");
  EXPECT_EQ(built["member50001"].asInt(), 50001);
  EXPECT_EQ(built["member99999"].asInt(), 99999);
}

}  // namespace
